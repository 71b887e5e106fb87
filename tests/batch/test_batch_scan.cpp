// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch scan against the SANE test backend: each child runs with a
// configuration of tests/scan/sane in SANE_CONFIG_DIR (read once per
// process, and every child is a process of its own). One-shot scans with
// the stored scan settings, the document feeder until it is empty, the
// device list, and every error stopping the command with its message.

#include "tests/batch/BatchTestSupport.h"

#include "core/PageList.h"

#include <QDeadlineTimer>

#include <csignal>

namespace {

using namespace batchtest;

class ScanTest : public BatchTest {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        // Small pages: 100 x 150 mm at 20 dpi.
        WriteConfig("ScanReso=20\nScanRight=100\nScanBottom=150\n");
        MakeCategory("Scans");
    }

    QProcessEnvironment Sane(const char* config) const
    {
        QProcessEnvironment env = Env();
        env.insert("SANE_CONFIG_DIR", QStringLiteral(TOLVANE_SANE_CASES "/") + QLatin1String(config));
        return env;
    }

    Outcome Scan(const char* config, const QStringList& more = {}) const
    {
        return Batch(On("scan", "Scans", more), Sane(config));
    }

    static QByteArray Line(int page, const QByteArray& source)
    {
        return QByteArray::number(page).rightJustified(8, '0') + ".jpg\t" + source + '\n';
    }

    QByteArray List() const { return ReadAll(A("Scans/FileList.txt")); }
};

TEST_F(ScanTest, AOneShotScanFilesOnePageWithTheStoredSettings)
{
    Outcome run = Scan("basic");
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out, Line(1, "test:0"));
    // 100 x 150 mm at 20 dpi, in colour (ScanMode 0), within the page box.
    const auto size = SizeOf(A("Scans/Image/00000001.jpg"));
    EXPECT_NEAR(size.first, 79, 2);
    EXPECT_NEAR(size.second, 118, 2);
    EXPECT_EQ(ReadAll(A("Scans/Text/00000001.txt")), QByteArray("\r\n"));
    EXPECT_TRUE(QFileInfo::exists(A("Scans/Thumb/00000001.jpg")));

    // The device named, and the processing options as for add.
    run = Scan("basic", {"--device", "test:1", "--save-format", "1", "--kmode", "6", "--kfx", "40"});
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out, Line(2, "test:1").replace(".jpg", ".bmp"));
    EXPECT_NEAR(SizeOf(A("Scans/Image/00000002.bmp")).first, 40, 1);  // scaled down to 40, truncated
    EXPECT_EQ(List(), QByteArray("00000002\r\n00000001.jpg\r\n00000002.bmp\r\n"));
    EXPECT_TRUE(Succeeded(Batch(On("check", "Scans"))));
}

TEST_F(ScanTest, TheFeederPageAfterPageUntilItIsEmpty)
{
    const Outcome run = Scan("basic", {"--feeder"});
    ASSERT_TRUE(Succeeded(run));
    QByteArray expected, list = "00000010\r\n";
    for (int page = 1; page <= 10; ++page) {
        expected += Line(page, "test:0 feeder page " + QByteArray::number(page));
        list += QByteArray::number(page).rightJustified(8, '0') + ".jpg\r\n";
    }
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(List(), list);
    EXPECT_TRUE(Succeeded(Batch(On("check", "Scans", {"--decode"}))));
}

TEST_F(ScanTest, TheFeederStopsAtThePageLimit)
{
    QByteArray list = "00000995\r\n";
    for (int i = 1; i <= 995; ++i)
        list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
    ASSERT_TRUE(WriteAll(A("Scans/FileList.txt"), list));
    const Outcome run = Scan("basic", {"--feeder"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out.count('\n'), 4);
    EXPECT_TRUE(run.out.endsWith(Line(999, "test:0 feeder page 4"))) << run.out.constData();
    EXPECT_EQ(run.err, QStringLiteral("tolvane-batch: Scans: %1\n").arg(kPageLimitMessage).toUtf8());
}

TEST_F(ScanTest, TheDeviceList)
{
    Outcome run = Batch({"scan", "--list-devices"}, Sane("basic"));
    ASSERT_TRUE(Succeeded(run));
    const QList<QByteArray> lines = run.out.split('\n');
    ASSERT_EQ(lines.size(), 3) << run.out.constData();
    EXPECT_TRUE(lines[0].startsWith("test:0\t")) << lines[0].constData();
    EXPECT_TRUE(lines[1].startsWith("test:1\t")) << lines[1].constData();
    EXPECT_EQ(lines[0].count('\t'), 3);

    run = Batch({"scan", "--list-devices"}, Sane("nodevice"));
    EXPECT_TRUE(FailedWith(run, 1));
    EXPECT_EQ(run.err, QByteArray("tolvane-batch: no scanner found\n"));
}

TEST_F(ScanTest, AScanErrorStopsTheCommandWithItsMessage)
{
    struct Case {
        const char* config;
        QStringList more;
        QByteArray config2;  // settings, when other than the test's
        QString message;
    };
    const Case cases[] = {
        {"status_io_error", {}, {}, QStringLiteral("scan of test:0 failed: その他のエラーが発生しました (")},
        {"status_no_mem", {}, {}, QStringLiteral("scan of test:0 failed: メモリー不足です (")},
        {"status_jammed", {"--feeder"}, {}, QStringLiteral("scan of feeder page 1 failed: その他のエラーが発生しました (")},
        // A read that says no documents is a failed page, not an empty feeder.
        {"status_no_docs", {"--feeder"}, {}, QStringLiteral("scan of feeder page 1 failed: その他のエラーが発生しました (")},
        {"nodevice", {}, {}, QStringLiteral("cannot scan: その他のエラーが発生しました (no scanner)")},
        {"basic", {"--device", "nothere:0"}, {}, QStringLiteral("cannot scan: その他のエラーが発生しました (the scanner does not open: ")},
        // 500 mm is past the 300 mm bed; palette colour is no SANE mode.
        {"basic", {}, "ScanReso=20\nScanRight=500\n", QStringLiteral("scan of test:0 failed: 設定が不正です（スキャナに合っていません） (")},
        {"basic", {}, "ScanReso=20\nScanMode=3\n", QStringLiteral("scan of test:0 failed: このスキャナでは本機能は使用できません (")},
    };
    for (const Case& c : cases) {
        if (!c.config2.isEmpty())
            WriteConfig(c.config2);
        const Outcome run = Scan(c.config, c.more);
        EXPECT_TRUE(FailedWith(run, 1)) << c.config;
        EXPECT_TRUE(run.err.startsWith("tolvane-batch: " + c.message.toUtf8())) << c.config << ": " << run.err.constData();
        EXPECT_FALSE(QFileInfo::exists(A("Scans/FileList.txt"))) << c.config;
        EXPECT_EQ(Tree(A("Scans")), (QStringList{"Image", "Text", "Thumb"})) << c.config;
        WriteConfig("ScanReso=20\nScanRight=100\nScanBottom=150\n");
    }
}

// A feeder that jams at its third page (tests/batch/sane/tolvanefeeder.c):
// the error's message, and the two pages before it stay filed.
TEST_F(ScanTest, AScanErrorAfterSomePagesKeepsThem)
{
    QProcessEnvironment env = Sane("feeder_jam");
    env.insert("LD_LIBRARY_PATH", QStringLiteral(TOLVANE_TEST_SANE_BACKENDS) + u':' + env.value("LD_LIBRARY_PATH"));
    Outcome run = Batch(On("scan", "Scans", {"--feeder"}), env);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Line(1, "tolvanefeeder:0 feeder page 1") + Line(2, "tolvanefeeder:0 feeder page 2"));
    EXPECT_EQ(run.err, QStringLiteral("tolvane-batch: scan of feeder page 3 failed: その他のエラーが発生しました "
                                      "(sane_start failed)\n").toUtf8());
    EXPECT_EQ(List(), QByteArray("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
    EXPECT_TRUE(Succeeded(Batch(On("check", "Scans"))));

    // The same feeder without the jam: its five pages, then empty.
    env.insert("TOLVANEFEEDER_JAM_AT", "0");
    run = Batch(On("scan", "Scans", {"--feeder"}), env);
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out.count('\n'), 5);
    EXPECT_TRUE(run.out.endsWith(Line(7, "tolvanefeeder:0 feeder page 5"))) << run.out.constData();
    // Jammed at the first page: nothing filed, the message all the same.
    env.insert("TOLVANEFEEDER_JAM_AT", "1");
    run = Batch(On("scan", "Scans", {"--feeder"}), env);
    EXPECT_TRUE(FailedWith(run, 1));
    EXPECT_TRUE(run.err.contains("scan of feeder page 1 failed")) << run.err.constData();
    // Empty from the start.
    env.insert("TOLVANEFEEDER_JAM_AT", "0");
    env.insert("TOLVANEFEEDER_PAGES", "0");
    run = Batch(On("scan", "Scans", {"--feeder"}), env);
    EXPECT_TRUE(FailedWith(run, 1));
    EXPECT_EQ(run.err, QByteArray("tolvane-batch: the document feeder of tolvanefeeder:0 is empty\n"));
    EXPECT_EQ(List().count("\r\n"), 8);  // the seven pages and the header, as before
}

TEST_F(ScanTest, StoppedInTheMiddleOfTheFeederTheFiledPagesStay)
{
    // The slow scanner: a page takes about half a second.
    WriteConfig("ScanReso=10\nScanRight=100\nScanBottom=150\n");
    auto child = Start(On("scan", "Scans", {"--feeder"}), Sane("slow"));
    QByteArray out;
    QDeadlineTimer deadline(60000);
    while (out.count('\n') < 2 && !deadline.hasExpired() && child->state() == QProcess::Running) {
        child->waitForReadyRead(100);
        out += child->readAllStandardOutput();
    }
    ASSERT_EQ(out.count('\n'), 2) << child->readAllStandardError().constData();
    ::kill(pid_t(child->processId()), SIGINT);
    const Outcome run = Finish(*child);
    out += run.out;
    EXPECT_EQ(run.exitCode, 130) << run.err.constData();
    EXPECT_TRUE(run.err.contains("stopped by signal 2")) << run.err.constData();
    const int pages = int(out.count('\n'));
    EXPECT_LT(pages, 10);
    QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i)
        list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
    EXPECT_EQ(List(), list);
    EXPECT_TRUE(Succeeded(Batch(On("check", "Scans"))));
}

TEST_F(ScanTest, RefusedArguments)
{
    for (const QStringList& args : {On("scan", "Scans", {"extra"}), On("scan", "Nowhere"), On("scan", "a/b"),
                                    On("scan", "Scans", {"--feeder=1"}), On("scan", "Scans", {"--device"})}) {
        EXPECT_TRUE(FailedWith(Batch(args, Sane("basic")), 2)) << args.join(' ').toStdString();
    }
    EXPECT_EQ(Tree(A("Scans")), (QStringList{"Image", "Text", "Thumb"}));
}

}  // namespace
