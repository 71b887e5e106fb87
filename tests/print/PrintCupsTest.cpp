// SPDX-License-Identifier: GPL-3.0-or-later
// Printing a page to a real print queue: a CUPS scheduler of the test's own
// (cupsd -f on a private socket, everything it keeps in a temporary folder),
// a cups-pdf queue on it, the program's print path in a process of its own
// with CUPS_SERVER pointing at that socket (tolvane_print_cups_job), and the
// PDF that cups-pdf writes read back with poppler.
//
// Nothing of the machine's own CUPS is used or touched: no TCP port, no
// socket, spool, cache, state or printers.conf of the system. The one file
// outside the temporary folder is cups-pdf's configuration for this queue,
// /etc/cups/cups-pdf-<queue>.conf (cups-pdf reads its configuration from
// /etc/cups only, by the name its device URI gives), which sends the PDF,
// cups-pdf's spool and its log into the temporary folder; it is removed at
// the end, and one left by a test that was killed is removed by the next.
//
// cupsd and the cups-pdf backend need root; without root or without cupsd
// the test says why and is skipped.

#include "core/PrintGeometry.h"
#include "tests/print/PrintTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace printtest;

namespace {

const QString kQueue = QStringLiteral("TolvaneTest");
const QString kCupsPdfConfigFolder = QStringLiteral("/etc/cups");
const QString kCupsPdfBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");

// A CUPS program: on the PATH or in the folders administrators' tools live in.
QString CupsTool(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                     QStringLiteral("/usr/local/sbin")});
    return path;
}

QString ReadText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool WriteText(const QString& path, const QString& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) == text.toUtf8().size();
}

QString Tail(const QString& text, int lines)
{
    const QStringList all = text.split(u'\n');
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(u'\n');
}

// cups-pdf configurations of queues whose test process is gone.
void RemoveStaleCupsPdfConfigs()
{
    const QDir folder(kCupsPdfConfigFolder);
    const QStringList names = folder.entryList({QStringLiteral("cups-pdf-%1*.conf").arg(kQueue)}, QDir::Files);
    for (const QString& name : names) {
        bool ok = false;
        const QString digits = name.mid(QStringLiteral("cups-pdf-").size() + kQueue.size()).chopped(5);
        const pid_t pid = pid_t(digits.toLongLong(&ok));
        if (ok && pid > 0 && kill(pid, 0) != 0 && errno == ESRCH)
            QFile::remove(folder.filePath(name));
    }
}

// The scheduler of the test, with all it keeps in `folder`; stopped (and its
// cups-pdf configuration removed) when the object goes, however the test
// ends. Should the test process die first, the kernel ends cupsd with it.
class PrivateCups {
public:
    explicit PrivateCups(const QString& folder)
        : folder_(folder),
          socket_(QDir(folder).filePath(QStringLiteral("cups.sock"))),
          deviceName_(kQueue + QString::number(getpid())),
          cupsPdfConfig_(QDir(kCupsPdfConfigFolder).filePath(QStringLiteral("cups-pdf-%1.conf").arg(deviceName_)))
    {
    }

    ~PrivateCups()
    {
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate();
            if (!cupsd_.waitForFinished(15000)) {
                cupsd_.kill();
                cupsd_.waitForFinished(5000);
            }
        }
        if (wroteConfig_)
            QFile::remove(cupsPdfConfig_);
    }

    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    QString Socket() const { return socket_; }
    QString OutFolder() const { return Path(QStringLiteral("out")); }

    // Lays out the folders and configuration, starts cupsd and waits until
    // it answers; false with `error` set when it did not.
    bool Start(const QString& cupsd, QString* error)
    {
        if (socket_.toLocal8Bit().size() >= int(sizeof(sockaddr_un::sun_path))) {
            *error = QStringLiteral("socket path too long for a local socket: ") + socket_;
            return false;
        }
        // cupsd runs its filters as lp, which must reach the PPD and the
        // spool below this folder.
        if (chmod(QFile::encodeName(folder_).constData(), 0755) != 0) {
            *error = QStringLiteral("cannot open up ") + folder_;
            return false;
        }
        for (const char* sub : {"root", "spool", "cache", "state", "log", "out", "anonymous", "cups-pdf-spool"}) {
            if (!QDir(folder_).mkpath(QString::fromLatin1(sub))) {
                *error = QStringLiteral("cannot make ") + Path(QString::fromLatin1(sub));
                return false;
            }
        }
        const QString cupsdConf = QStringLiteral(
                                      "LogLevel debug\n"
                                      "Listen %1\n"
                                      "Browsing No\n"
                                      "WebInterface No\n"
                                      "DefaultAuthType None\n"
                                      "ErrorPolicy abort-job\n"
                                      "<Location />\n"
                                      "  Order allow,deny\n"
                                      "  Allow all\n"
                                      "</Location>\n"
                                      "<Policy default>\n"
                                      "  <Limit All>\n"
                                      "    Order deny,allow\n"
                                      "  </Limit>\n"
                                      "</Policy>\n")
                                      .arg(socket_);
        // The temporary files go to spool/tmp, the default, which cupsd
        // makes and opens to its filters itself.
        const QString filesConf = QStringLiteral(
                                      "ServerRoot %1\n"
                                      "RequestRoot %2\n"
                                      "CacheDir %3\n"
                                      "StateDir %4\n"
                                      "ErrorLog %5\n"
                                      "AccessLog %6\n"
                                      "PageLog %7\n")
                                      .arg(Path(QStringLiteral("root")), Path(QStringLiteral("spool")),
                                           Path(QStringLiteral("cache")),
                                           Path(QStringLiteral("state")), Path(QStringLiteral("log/error_log")),
                                           Path(QStringLiteral("log/access_log")), Path(QStringLiteral("log/page_log")));
        // Out, spool and log of cups-pdf for this queue only.
        const QString cupsPdfConf = QStringLiteral(
                                        "Out %1\n"
                                        "AnonDirName %2\n"
                                        "Spool %3\n"
                                        "Log %4\n"
                                        "LogType 7\n"
                                        "Grp lp\n")
                                        .arg(OutFolder(), Path(QStringLiteral("anonymous")),
                                             Path(QStringLiteral("cups-pdf-spool")), Path(QStringLiteral("log")));
        if (!WriteText(Path(QStringLiteral("cupsd.conf")), cupsdConf) ||
            !WriteText(Path(QStringLiteral("cups-files.conf")), filesConf)) {
            *error = QStringLiteral("cannot write the scheduler's configuration in ") + folder_;
            return false;
        }
        RemoveStaleCupsPdfConfigs();
        wroteConfig_ = true;
        if (!WriteText(cupsPdfConfig_, cupsPdfConf)) {
            *error = QStringLiteral("cannot write ") + cupsPdfConfig_;
            return false;
        }

        cupsd_.setProgram(cupsd);
        cupsd_.setArguments({QStringLiteral("-f"), QStringLiteral("-c"), Path(QStringLiteral("cupsd.conf")),
                             QStringLiteral("-s"), Path(QStringLiteral("cups-files.conf"))});
        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        cupsd_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        cupsd_.start();
        if (!cupsd_.waitForStarted(10000)) {
            *error = QStringLiteral("cupsd did not start: ") + cupsd_.errorString();
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 30000) {
            if (cupsd_.state() == QProcess::NotRunning) {
                *error = QStringLiteral("cupsd ended at once: ") + QString::fromLocal8Bit(cupsd_.readAll()) +
                         Tail(ReadText(Path(QStringLiteral("log/error_log"))), 20);
                return false;
            }
            if (QFileInfo::exists(socket_)) {
                const ToolRun status = RunTool(CupsTool(QStringLiteral("lpstat")),
                                               {QStringLiteral("-h"), socket_, QStringLiteral("-r")}, 10000);
                if (status.ok && status.out.contains("scheduler is running"))
                    return true;
            }
            QThread::msleep(100);
        }
        *error = QStringLiteral("cupsd did not answer within 30 s");
        return false;
    }

    // Adds the cups-pdf queue kQueue with `ppd`, enabled and accepting.
    bool AddQueue(const QString& ppd, QString* error)
    {
        const ToolRun run = RunTool(CupsTool(QStringLiteral("lpadmin")),
                                    {QStringLiteral("-h"), socket_, QStringLiteral("-p"), kQueue, QStringLiteral("-E"),
                                     QStringLiteral("-v"), QStringLiteral("cups-pdf:/") + deviceName_,
                                     QStringLiteral("-m"), ppd},
                                    30000);
        if (!run.ok)
            *error = run.error;
        return run.ok;
    }

    // The cups-pdf PPD the scheduler offers, as lpinfo -m names it.
    QString CupsPdfPpd(QString* error) const
    {
        const ToolRun run =
            RunTool(CupsTool(QStringLiteral("lpinfo")), {QStringLiteral("-h"), socket_, QStringLiteral("-m")}, 60000);
        if (!run.ok) {
            *error = run.error;
            return QString();
        }
        QString any;
        for (const QByteArray& line : run.out.split('\n')) {
            const QString name = QString::fromUtf8(line.left(line.indexOf(' ')));
            if (name.endsWith(QLatin1String("CUPS-PDF_opt.ppd")))
                return name;
            if (any.isEmpty() && name.contains(QLatin1String("CUPS-PDF")))
                any = name;
        }
        if (any.isEmpty())
            *error = QStringLiteral("the scheduler offers no cups-pdf PPD");
        return any;
    }

    // Waits until the queue has no job left that is not completed; false
    // when some job is still pending after `timeoutMs`.
    bool WaitForIdleQueue(int timeoutMs, QString* pending) const
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            const ToolRun run = RunTool(CupsTool(QStringLiteral("lpstat")),
                                        {QStringLiteral("-h"), socket_, QStringLiteral("-l"), QStringLiteral("-o"), kQueue},
                                        10000);
            if (run.ok && run.out.trimmed().isEmpty())
                return true;
            *pending = run.ok ? QString::fromLocal8Bit(run.out) : run.error;
            QThread::msleep(200);
        }
        return false;
    }

    // The scheduler's lines about jobs and cups-pdf's log, their ends.
    QString Diagnostics() const
    {
        QStringList jobLines;
        for (const QString& line : ReadText(Path(QStringLiteral("log/error_log"))).split(u'\n'))
            if (line.contains(QLatin1String("[Job ")))
                jobLines << line;
        return QStringLiteral("--- cupsd error_log, jobs (end):\n%1\n--- cups-pdf log (end):\n%2")
            .arg(Tail(jobLines.join(u'\n'), 60),
                 Tail(ReadText(Path(QStringLiteral("log/cups-pdf-%1_log").arg(kQueue))), 40));
    }

private:
    QString Path(const QString& name) const { return QDir(folder_).filePath(name); }

    QString folder_;
    QString socket_;
    QString deviceName_;
    QString cupsPdfConfig_;
    bool wroteConfig_ = false;
    QProcess cupsd_;
};

// What tolvane_print_cups_job said about the printer it printed on.
struct JobReport {
    bool native = false;
    int resolution = 0;
    QRect printable;
    QSize paper;
};

JobReport ParseReport(const QByteArray& out)
{
    JobReport report;
    for (const QByteArray& line : out.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.value(0) == "format")
            report.native = f.value(1) == "native";
        else if (f.value(0) == "resolution")
            report.resolution = f.value(1).toInt();
        else if (f.value(0) == "printable" && f.size() == 5)
            report.printable = QRect(f.at(1).toInt(), f.at(2).toInt(), f.at(3).toInt(), f.at(4).toInt());
        else if (f.value(0) == "paper" && f.size() == 3)
            report.paper = QSize(f.at(1).toInt(), f.at(2).toInt());
    }
    return report;
}

struct CupsSheet {
    const char* name;
    const char* paper;
    const char* orientation;
    int dpi;
    int pictureWidth;
    int pictureHeight;
};

class PrintThroughCups : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "not root: cupsd and the cups-pdf backend need root, so no scheduler of its own can "
                            "start";
        cupsd = CupsTool(QStringLiteral("cupsd"));
        if (cupsd.isEmpty())
            GTEST_SKIP() << "no cupsd binary (package cups): no scheduler can start";
        for (const char* tool : {"lpadmin", "lpstat", "lpinfo"})
            ASSERT_FALSE(CupsTool(QString::fromLatin1(tool)).isEmpty()) << tool << " missing (package cups-client)";
        ASSERT_TRUE(QFileInfo(kCupsPdfBackend).isFile()) << "cups-pdf missing (package printer-driver-cups-pdf)";
        for (const char* tool : {"pdfimages", "pdftoppm", "pdfinfo"})
            ASSERT_FALSE(Poppler(QString::fromLatin1(tool)).isEmpty()) << tool << " missing (package poppler-utils)";
        ASSERT_TRUE(dir.isValid());
    }

    // Prints a pattern picture of the sheet's size through the queue and
    // checks the PDF cups-pdf made of it.
    void PrintAndCheck(PrivateCups& cups, const CupsSheet& s)
    {
        SCOPED_TRACE(s.name);
        const QString work = QDir(dir.path()).filePath(QString::fromLatin1(s.name));
        ASSERT_TRUE(QDir().mkpath(work));
        const QImage picture = PatternPicture(s.pictureWidth, s.pictureHeight);
        const QString image = QDir(work).filePath(QStringLiteral("page.bmp"));
        ASSERT_TRUE(WritePictureFile(image, picture));
        const QStringList before = QDir(cups.OutFolder()).entryList({QStringLiteral("*.pdf")}, QDir::Files);

        QProcess job;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CUPS_SERVER"), cups.Socket());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        job.setProcessEnvironment(env);
        job.start(QStringLiteral(TOLVANE_PRINT_CUPS_JOB),
                  {kQueue, image, QString::fromLatin1(s.paper), QString::fromLatin1(s.orientation),
                   QString::number(s.dpi)});
        ASSERT_TRUE(job.waitForFinished(120000)) << "the print job did not end: " << qPrintable(job.errorString());
        const QByteArray out = job.readAllStandardOutput();
        ASSERT_EQ(job.exitStatus(), QProcess::NormalExit) << out.constData() << job.readAllStandardError().constData();
        ASSERT_EQ(job.exitCode(), 0) << out.constData() << job.readAllStandardError().constData();
        const JobReport report = ParseReport(out);
        ASSERT_TRUE(report.native);
        ASSERT_EQ(report.resolution, s.dpi);

        QString pending;
        ASSERT_TRUE(cups.WaitForIdleQueue(180000, &pending))
            << "a job is still pending:\n" << qPrintable(pending) << "\n" << qPrintable(cups.Diagnostics());
        QStringList made = QDir(cups.OutFolder()).entryList({QStringLiteral("*.pdf")}, QDir::Files);
        for (const QString& old : before)
            made.removeAll(old);
        ASSERT_EQ(made.size(), 1) << "cups-pdf wrote " << made.size() << " PDF files\n"
                                  << qPrintable(cups.Diagnostics());
        // cups-pdf names the file after the job, which is the document name.
        EXPECT_TRUE(made.front().startsWith(QLatin1String("Tolvane"))) << qPrintable(made.front());
        const QString pdf = QDir(cups.OutFolder()).filePath(made.front());

        const QRect target = PrintTargetRect(report.printable.width(), report.printable.height(), s.pictureWidth,
                                             s.pictureHeight);
        QRect onPaper = target.translated(report.printable.topLeft());
        QString error;
        const QImage sheet = RenderFirstPage(pdf, s.dpi, work, &error);
        ASSERT_FALSE(sheet.isNull()) << qPrintable(error);
        QSize paper = report.paper;
        if (QLatin1String(s.orientation) == QLatin1String("landscape")) {
            // A landscape page comes out on the paper as it lies in the
            // printer, portrait, its content turned a quarter anticlockwise.
            onPaper = QRect(onPaper.top(), paper.width() - 1 - onPaper.right(), onPaper.height(), onPaper.width());
            paper.transpose();
        }
        EXPECT_NEAR(sheet.width(), paper.width(), 1);
        EXPECT_NEAR(sheet.height(), paper.height(), 1);
        const QRect ink = InkBounds(sheet);
        EXPECT_NEAR(ink.left(), onPaper.left(), 2);
        EXPECT_NEAR(ink.top(), onPaper.top(), 2);
        EXPECT_NEAR(ink.right(), onPaper.right(), 2);
        EXPECT_NEAR(ink.bottom(), onPaper.bottom(), 2);

        const QList<EmbeddedImage> images = ListImages(pdf, &error);
        ASSERT_EQ(images.size(), 1) << qPrintable(error);
        EXPECT_EQ(images.front().width, s.pictureWidth);
        EXPECT_EQ(images.front().height, s.pictureHeight);
        const QImage embedded = ExtractFirstImage(pdf, work, &error);
        ASSERT_FALSE(embedded.isNull()) << qPrintable(error);
        QPoint first;
        EXPECT_EQ(CountDifferentPixels(embedded, picture, 0, &first), 0)
            << "first different pixel at " << first.x() << ", " << first.y();
    }

    QTemporaryDir dir;
    QString cupsd;
};

TEST_F(PrintThroughCups, APageGoesThroughAQueueOfItsOwnSchedulerIntoCupsPdf)
{
    QTemporaryDir schedulerFolder(QDir::tempPath() + QStringLiteral("/tolvane-cups-XXXXXX"));
    ASSERT_TRUE(schedulerFolder.isValid());
    PrivateCups cups(schedulerFolder.path());
    QString error;
    ASSERT_TRUE(cups.Start(cupsd, &error)) << qPrintable(error);
    const QString ppd = cups.CupsPdfPpd(&error);
    ASSERT_FALSE(ppd.isEmpty()) << qPrintable(error);
    ASSERT_TRUE(cups.AddQueue(ppd, &error)) << qPrintable(error) << "\n" << qPrintable(cups.Diagnostics());

    PrintAndCheck(cups, {"A4_300dpi_1024x1448", "A4", "portrait", 300, 1024, 1448});
    PrintAndCheck(cups, {"Letter_600dpi_landscape_1448x1024", "Letter", "landscape", 600, 1448, 1024});
}

}  // namespace
