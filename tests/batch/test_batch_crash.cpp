// Crash safety of tolvane-batch add, proven by force: the command is killed
// with SIGKILL at random moments, hundreds of times, and after each kill the
// check must find the list whole and every listed page whole; whatever the
// kill left over (page files without a line, a low header, temporary files)
// must be mended by check --repair with nothing lost, and a second check
// must find nothing.
//
// TOLVANE_CRASH_RUNS sets the number of kills (500 by default),
// TOLVANE_CRASH_SEED the random seed (printed, to replay a failure).

#include "tests/batch/BatchTestSupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <cstdio>
#include <random>

namespace {

using namespace batchtest;

class CrashTest : public BatchTest {
protected:
    QStringList Listed(const QString& category) const
    {
        QStringList lines = QString::fromLatin1(ReadAll(A(category + "/FileList.txt"))).split("\r\n");
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
};

TEST_F(CrashTest, KilledAtRandomMomentsTheListStaysWholeAndEveryOrphanIsMended)
{
    const int runs = qEnvironmentVariableIsSet("TOLVANE_CRASH_RUNS") ? qEnvironmentVariableIntValue("TOLVANE_CRASH_RUNS")
                                                                     : 500;
    const unsigned seed = qEnvironmentVariableIsSet("TOLVANE_CRASH_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("TOLVANE_CRASH_SEED"))
                              : std::random_device{}();
    std::printf("crash test: %d runs, seed %u\n", runs, seed);
    std::mt19937 random(seed);

    // Small pages, so that the writes are a good part of each run.
    QStringList inputs;
    for (int i = 0; i < 3; ++i) {
        const QString path = tmp_.filePath(QStringLiteral("in%1.jpg").arg(i));
        ASSERT_TRUE(ImgKitJpegFileSave(path, MakePicture(360 + 40 * i, 500), 90));
        inputs << path;
    }

    // How long a whole run takes: the kills fall anywhere in it.
    MakeCategory("Timing");
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(Succeeded(Batch(On("add", "Timing", inputs))));
    const qint64 wholeRunUs = timer.nsecsElapsed() / 1000;
    std::uniform_int_distribution<qint64> when(0, wholeRunUs * 11 / 10);

    static const QRegularExpression kEntry(QStringLiteral("^\\d{8}\\.jpg$"));
    static const QRegularExpression kHeader(QStringLiteral("^\\d{8}$"));
    struct Counts {
        int killedMidway = 0, finished = 0;
        int orphanImages = 0, orphanThumbs = 0, orphanMemos = 0, leftovers = 0, lowHeaders = 0;
        int repairs = 0;
    } counts;

    QString category;
    for (int run = 0; run < runs; ++run) {
        // A fresh category every 80 runs keeps it far below the page limit;
        // each starts with a page, so that it has a list to lose.
        if (run % 80 == 0) {
            category = QStringLiteral("Crash%1").arg(run / 80);
            MakeCategory(category);
            ASSERT_TRUE(Succeeded(Batch(On("add", category, {inputs.first()}))));
        }
        const QStringList before = Listed(category);

        auto child = Start(On("add", category, inputs), Env());
        QThread::usleep(static_cast<unsigned long>(when(random)));
        const bool running = child->state() == QProcess::Running;
        child->kill();  // SIGKILL
        child->waitForFinished(30000);
        ++(running && child->exitStatus() == QProcess::CrashExit ? counts.killedMidway : counts.finished);

        // The list: there, whole, every line before still there in order,
        // every line a page with its three files.
        const QStringList lines = Listed(category);
        ASSERT_FALSE(lines.isEmpty()) << "run " << run << ": FileList.txt missing or empty";
        ASSERT_TRUE(kHeader.match(lines.first()).hasMatch()) << "run " << run << ": header " << qPrintable(lines.first());
        ASSERT_GE(lines.size(), before.size()) << "run " << run;
        ASSERT_EQ(lines.mid(1, before.size() - 1), before.mid(1)) << "run " << run << ": list lines lost";
        for (const QString& entry : lines.mid(1)) {
            ASSERT_TRUE(kEntry.match(entry).hasMatch()) << "run " << run << ": torn line " << qPrintable(entry);
            const QString n = entry.left(8);
            ASSERT_TRUE(QFileInfo::exists(A(category + "/Image/" + entry))) << "run " << run << ": " << qPrintable(entry);
            ASSERT_TRUE(QFileInfo::exists(A(category + "/Thumb/" + n + ".jpg"))) << "run " << run;
            ASSERT_TRUE(QFileInfo::exists(A(category + "/Text/" + n + ".txt"))) << "run " << run;
        }

        // The check agrees, and finds only what a kill may leave.
        const Outcome check = Batch(On("check", category));
        ASSERT_TRUE(check.err.isEmpty()) << check.err.constData();
        const QStringList findings = QString::fromUtf8(check.out).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(check.exitCode, findings.isEmpty() ? 0 : 1);
        const QString prefix = category + u'/';
        for (const QString& f : findings) {
            if (f.contains(QStringLiteral("a page image no list line names")))
                ++counts.orphanImages;
            else if (f.contains(QStringLiteral("a thumbnail no list line names")))
                ++counts.orphanThumbs;
            else if (f.contains(QStringLiteral("a memo no list line names")))
                ++counts.orphanMemos;
            else if (f.contains(QStringLiteral("a temporary file left by an interrupted write")))
                ++counts.leftovers;
            else if (f.contains(QStringLiteral("is below")))
                ++counts.lowHeaders;
            else
                FAIL() << "run " << run << ": " << qPrintable(f);
            ASSERT_TRUE(f.startsWith(prefix)) << qPrintable(f);
        }
        if (findings.isEmpty())
            continue;

        // Every page image there before the repair is listed after it; the
        // repair mends all, and the next check finds nothing.
        QStringList images = QDir(A(category + "/Image")).entryList({"*.jpg"}, QDir::Files);
        const Outcome repair = Batch(On("check", category, {"--repair"}));
        ++counts.repairs;
        ASSERT_EQ(repair.exitCode, 1);
        for (const QString& line : QString::fromUtf8(repair.out).split(u'\n', Qt::SkipEmptyParts))
            ASSERT_TRUE(line.contains(QStringLiteral("; mended: "))) << "run " << run << ": " << qPrintable(line);
        const QStringList mended = Listed(category);
        for (const QString& image : images)
            ASSERT_TRUE(mended.contains(image)) << "run " << run << ": " << qPrintable(image) << " lost";
        ASSERT_EQ(mended.mid(1, lines.size() - 1), lines.mid(1)) << "run " << run;
        const Outcome again = Batch(On("check", category));
        ASSERT_EQ(again.exitCode, 0) << "run " << run << ": " << again.out.constData();
        ASSERT_TRUE(again.out.isEmpty());
    }

    std::printf("crash test: %d kills in the middle of a run, %d runs done before the kill; found %d orphan page "
                "images, %d orphan thumbnails, %d orphan memos, %d temporary files, %d low headers; %d repairs, "
                "each leaving nothing for the next check\n",
                counts.killedMidway, counts.finished, counts.orphanImages, counts.orphanThumbs, counts.orphanMemos,
                counts.leftovers, counts.lowHeaders, counts.repairs);
    RecordProperty("killed_midway", counts.killedMidway);
    RecordProperty("orphan_images", counts.orphanImages);
    RecordProperty("repairs", counts.repairs);
    // The kills must really have hit runs in progress, and some writes.
    EXPECT_GE(counts.killedMidway, runs / 2);
    EXPECT_GT(counts.orphanImages + counts.leftovers, 0);
}

}  // namespace
