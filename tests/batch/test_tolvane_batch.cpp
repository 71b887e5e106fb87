// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch process run as a child process: the processing choices from
// the settings and the options, the output formats, bad arguments, and that
// a failure leaves nothing behind.

#include "tests/batch/BatchTestSupport.h"

#include "imaging/DibQImage.h"

namespace {

using namespace batchtest;

// --- Processing --------------------------------------------------------------

TEST_F(BatchTest, A4WithDefaultSettings)
{
    const Outcome run = Batch({"process", A4(), O("page.jpg"), O("thumb.jpg")});
    ASSERT_TRUE(Succeeded(run));
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(SizeOf(O("page.jpg")), std::make_pair(1023, 1448));
    EXPECT_EQ(SizeOf(O("thumb.jpg")), std::make_pair(141, 200));
    EXPECT_EQ(Tree(Out()), QStringList({"page.jpg", "thumb.jpg"}));
    // Without a settings file none is made: the settings are only read.
    EXPECT_EQ(Tree(Home()), QStringList());
}

TEST_F(BatchTest, KModeFromSettingsAndFromOption)
{
    WriteConfig("KMode=1\nJpegMode=1\nWhiteMode=0\n");
    const QByteArray config = ReadAll(ConfigFile());
    const QDateTime modified = QFileInfo(ConfigFile()).lastModified();
    const QStringList tree = Tree(Home());

    Outcome run = Batch({"process", A4(), O("page.jpg"), O("thumb.jpg")});
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(SizeOf(O("page.jpg")), std::make_pair(1024, 723));  // turned
    EXPECT_EQ(SizeOf(O("thumb.jpg")), std::make_pair(160, 113));

    run = Batch({"process", "--kmode", "0", A4(), O("page.jpg"), O("thumb.jpg")});
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(SizeOf(O("page.jpg")), std::make_pair(1023, 1448));
    EXPECT_EQ(SizeOf(O("thumb.jpg")), std::make_pair(141, 200));

    // Options after the operands, value after '='.
    run = Batch({"process", A4(), O("page.jpg"), O("thumb.jpg"), "--kmode=7", "--kfx=500", "--kfy", "400"});
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(SizeOf(O("page.jpg")), std::make_pair(500, 353));  // 3508 x 2480 within 500 x 400
    EXPECT_EQ(SizeOf(O("thumb.jpg")), std::make_pair(160, 113));

    // The settings file is left exactly as it was, and nothing is added.
    EXPECT_EQ(ReadAll(ConfigFile()), config);
    EXPECT_EQ(QFileInfo(ConfigFile()).lastModified(), modified);
    EXPECT_EQ(Tree(Home()), tree);
}

TEST_F(BatchTest, OwnBoxFromSettings)
{
    WriteConfig("KMode=6\nKFX=300\n");
    ASSERT_TRUE(Succeeded(Batch({"process", Small(), O("p.bmp"), O("t.bmp")})));
    EXPECT_EQ(SizeOf(O("p.bmp")), std::make_pair(300, 410));
    // An empty or missing value takes its default (KFX 640, KFY 480).
    WriteConfig("KMode=7\nKFX=\n");
    ASSERT_TRUE(Succeeded(Batch({"process", Small(), O("p.bmp"), O("t.bmp")})));
    EXPECT_EQ(SizeOf(O("p.bmp")), std::make_pair(640, 468));  // 820 x 600 turned, within 640 x 480
    EXPECT_EQ(ReadAll(ConfigFile()), "[General]\nKMode=7\nKFX=\n");
}

TEST_F(BatchTest, ProcessingChoicesFromSettingsAndOptions)
{
    // Settings: no correction, no whitening, library scaling of the page.
    WriteConfig("AutoMode=2\nWhiteMode=1\nResizeModeA=1\nResizeModeT=1\n");
    Settings fromConfig = DefaultSettings();
    fromConfig.AutoMode = 2;
    fromConfig.WhiteMode = 1;
    fromConfig.ResizeModeA = 1;
    fromConfig.ResizeModeT = 1;
    PageImages expected = Expected(Small(), fromConfig);
    ASSERT_TRUE(Succeeded(Batch({"process", Small(), O("p.bmp"), O("t.bmp")})));
    EXPECT_EQ(ReadAll(O("p.bmp")), Bmp(expected.page));
    EXPECT_EQ(ReadAll(O("t.bmp")), Bmp(expected.thumbnail));

    // Options override each of them.
    const PageImages configured = std::move(expected);
    expected = Expected(Small(), DefaultSettings());
    ASSERT_NE(Bmp(expected.page), Bmp(configured.page));
    ASSERT_NE(Bmp(expected.thumbnail), Bmp(configured.thumbnail));
    ASSERT_TRUE(Succeeded(Batch({"process", "--auto-mode", "0", "--white-mode", "0", "--resize-a", "0", "--resize-t",
                                 "0", Small(), O("p.bmp"), O("t.bmp")})));
    EXPECT_EQ(ReadAll(O("p.bmp")), Bmp(expected.page));
    EXPECT_EQ(ReadAll(O("t.bmp")), Bmp(expected.thumbnail));

    // Only scaling: the page is the area average of the input.
    ASSERT_TRUE(Succeeded(Batch({"process", "--auto-mode=2", "--white-mode=1", "--resize-a=0", "--kmode=6",
                                 "--kfx=300", Small(), O("p.bmp"), O("t.bmp")})));
    const ImageHandle input = ImgKitFileLoad(Small());
    ImageHandle averaged = CreateDib(300, 410, 3);
    ResampleAverage(averaged, input);
    EXPECT_EQ(ReadAll(O("p.bmp")), Bmp(averaged));
}

TEST_F(BatchTest, JpegQualityFromSettingsOrOption)
{
    const PageImages expected = Expected(Small(), DefaultSettings());
    // No settings: JpegMode 1 → 80.
    ASSERT_TRUE(Succeeded(Batch({"process", Small(), O("p.jpg"), O("t.jpg")})));
    EXPECT_EQ(ReadAll(O("p.jpg")), Jpeg(expected.page, 80));
    EXPECT_EQ(ReadAll(O("t.jpg")), Jpeg(expected.thumbnail, 80));
    ASSERT_NE(Jpeg(expected.page, 80), Jpeg(expected.page, 50));

    WriteConfig("JpegMode=2\n");
    ASSERT_TRUE(Succeeded(Batch({"process", Small(), O("p.jpg"), O("t.jpg")})));
    EXPECT_EQ(ReadAll(O("p.jpg")), Jpeg(expected.page, 50));
    EXPECT_EQ(ReadAll(O("t.jpg")), Jpeg(expected.thumbnail, 50));

    WriteConfig("JpegMode=0\n");
    ASSERT_TRUE(Succeeded(Batch({"process", "--quality", "77", Small(), O("p.jpg"), O("t.jpg")})));
    EXPECT_EQ(ReadAll(O("p.jpg")), Jpeg(expected.page, 77));
    EXPECT_EQ(ReadAll(O("t.jpg")), Jpeg(expected.thumbnail, 77));
    ASSERT_TRUE(Succeeded(Batch({"process", Small(), O("p.jpg"), O("t.jpg")})));
    EXPECT_EQ(ReadAll(O("p.jpg")), Jpeg(expected.page, 90));
}

TEST_F(BatchTest, EachOutputFormatByExtension)
{
    struct Pair {
        const char* page;
        const char* thumb;
        const char* pageMagic;
        const char* thumbMagic;
    };
    const Pair pairs[] = {
        {"a.bmp", "a.tif", "BM", "II*"},       {"b.TIFF", "b.JPEG", "II*", "\xFF\xD8\xFF"},
        {"c.jpeg", "c.BMP", "\xFF\xD8\xFF", "BM"}, {"d.Tif", "d.Jpg", "II*", "\xFF\xD8\xFF"},
        {"e.x.jpg", "e.y.tiff", "\xFF\xD8\xFF", "II*"},
    };
    for (const Pair& p : pairs) {
        ASSERT_TRUE(Succeeded(Batch({"process", Small(), O(p.page), O(p.thumb)}))) << p.page;
        EXPECT_TRUE(ReadAll(O(p.page)).startsWith(p.pageMagic)) << p.page;
        EXPECT_TRUE(ReadAll(O(p.thumb)).startsWith(p.thumbMagic)) << p.thumb;
        EXPECT_EQ(SizeOf(O(p.page)), std::make_pair(600, 820)) << p.page;
        EXPECT_EQ(SizeOf(O(p.thumb)), std::make_pair(146, 199)) << p.thumb;
    }
    // A TIFF or BMP page holds exactly the processed image.
    const PageImages expected = Expected(Small(), DefaultSettings());
    EXPECT_EQ(ReadAll(O("a.bmp")), Bmp(expected.page));
    QByteArray tiff;
    ASSERT_TRUE(ImgKitTiffEncode(expected.page, tiff));
    EXPECT_EQ(ReadAll(O("b.TIFF")), tiff);
}

TEST_F(BatchTest, OtherDepthsAreBroughtTo24Bits)
{
    const PageImages expected = Expected(Grey(), DefaultSettings());
    ASSERT_TRUE(expected.page);
    ASSERT_TRUE(Succeeded(Batch({"process", Grey(), O("p.bmp"), O("t.bmp")})));
    EXPECT_EQ(ReadAll(O("p.bmp")), Bmp(expected.page));
    EXPECT_EQ(ReadAll(O("t.bmp")), Bmp(expected.thumbnail));
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(ImgKitFileLoad(O("p.bmp")), info));
    EXPECT_EQ(info.bitCount, 24);
}

// process of a JPEG, TIFF or BMP file is done by tolvane-batch itself, which
// starts without Qt Gui (and the libraries of the other commands); any other
// format, and every other command, by the commands it loads. Both give what
// intake makes of the file.
TEST_F(BatchTest, OwnFormatsAreProcessedWithoutQtGuiOthersByTheCommands)
{
    const ImageHandle picture = MakePicture(700, 990);
    struct Case {
        const char* name;
        bool withoutGui;
    };
    const Case cases[] = {{"in.jpg", true}, {"in.tif", true}, {"in.bmp", true}, {"in.png", false}};
    ASSERT_TRUE(ImgKitJpegFileSave(O("in.jpg"), picture, 90));
    ASSERT_TRUE(ImgKitTiffFileSave(O("in.tif"), picture));
    ASSERT_TRUE(ImgKitBmpFileSave(O("in.bmp"), picture));
    ASSERT_TRUE(DibToQImage(picture).save(O("in.png")));
    QProcessEnvironment env = Env();
    env.insert("LD_DEBUG", "files");
    for (const Case& c : cases) {
        const PageImages expected = Expected(O(c.name), DefaultSettings());
        ASSERT_TRUE(expected.page) << c.name;
        const Outcome run = Batch({"process", O(c.name), O("p.bmp"), O("t.bmp")}, env);
        ASSERT_EQ(run.exitCode, 0) << c.name;  // (its standard error holds the loader's lines)
        EXPECT_EQ(ReadAll(O("p.bmp")), Bmp(expected.page)) << c.name;
        EXPECT_EQ(ReadAll(O("t.bmp")), Bmp(expected.thumbnail)) << c.name;
        // The loader names every library it loads.
        EXPECT_EQ(!run.err.contains("libQt6Gui.so"), c.withoutGui) << c.name;
        EXPECT_EQ(!run.err.contains("tolvane-batch-commands.so"), c.withoutGui) << c.name;
    }
    // Another command loads the commands: the help, here.
    const Outcome help = Batch({"--help"}, env);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.err.contains("tolvane-batch-commands.so"));
}

// --- Help and bad arguments ----------------------------------------------------------

TEST_F(BatchTest, HelpOnStdout)
{
    for (const QStringList& args :
         {QStringList{"--help"}, QStringList{"-h"}, QStringList{"help"}, QStringList{"process", "--help"},
          QStringList{"process", "a", "-h", "--kmode"}, QStringList{"add", "--help"}, QStringList{"scan", "-h"},
          QStringList{"check", "--category", "x", "--help"}}) {
        const Outcome run = Batch(args);
        EXPECT_EQ(run.exitCode, 0) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.startsWith("Usage: tolvane-batch process [OPTIONS] IN PAGE_OUT THUMB_OUT\n"));
        // Every command, option and exit status.
        for (const char* word :
             {"--kmode", "--kfx", "--kfy", "--resize-a", "--resize-t", "--auto-mode", "--white-mode", "--quality",
              "--save-format", ".bmp", ".jpeg", ".tiff", "tolvane-batch add", "tolvane-batch scan",
              "tolvane-batch check", "--archive DIR", "--category NAME", "--create", "--force", "--device NAME",
              "--feeder", "--list-devices", "--decode", "--repair", "NetLock.CTL", "SIGINT", "SIGTERM",
              "Exit status", "\n  0  ", "\n  1  ", "\n  2  ", "\n  3  ", "\n  128+N  "})
            EXPECT_TRUE(run.out.contains(word)) << word;
    }
}

TEST_F(BatchTest, BadArgumentsAreUsageErrors)
{
    const QString in = Small(), page = O("p.jpg"), thumb = O("t.jpg");
    const QList<QStringList> cases = {
        {},                                                   // no command
        {"proces", in, page, thumb},                          // unknown command
        {"process", "--kmod", "1", in, page, thumb},          // unknown option
        {"process", "-k", "1", in, page, thumb},              // unknown short option
        {"process", in, page, thumb, "--kmode"},              // missing value
        {"process", "--kmode", "one", in, page, thumb},       // not a number
        {"process", "--kfx", "12px", in, page, thumb},
        {"process", "--quality=", in, page, thumb},
        {"process", "--quality", "8.5", in, page, thumb},
        {"process", "--kmode", "99999999999", in, page, thumb},
        {"process", "--kmode", "8", in, page, thumb},         // out of range
        {"process", "--quality", "0", in, page, thumb},
        {"process", "--white-mode", "-1", in, page, thumb},
        {"process", "--kfx", "0", in, page, thumb},
        {"process"},                                          // operands
        {"process", in, page},
        {"process", in, page, thumb, O("extra.jpg")},
        {"process", in, O("p.png"), thumb},                   // extensions
        {"process", in, page, O("t")},
        {"process", in, page, page},                          // one file for both
        {"process", in, O("P.jpg"), page},                    // the same, in other letter case
    };
    for (const QStringList& args : cases) {
        const Outcome run = Batch(args);
        EXPECT_TRUE(FailedWith(run, 2)) << args.join(' ').toStdString();
        EXPECT_EQ(Tree(Out()), QStringList()) << args.join(' ').toStdString();
    }
}

TEST_F(BatchTest, DoubleDashEndsTheOptions)
{
    // Relative names, from the child's working folder (the test's scratch folder).
    ASSERT_TRUE(QFile::copy(Small(), tmp_.filePath("-in.bmp")));
    const Outcome run = Batch({"process", "--kmode", "6", "--", "-in.bmp", "out/-p.bmp", "out/-t.jpg"});
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(SizeOf(O("-p.bmp")), std::make_pair(600, 820));
    EXPECT_EQ(Tree(Out()), QStringList({"-p.bmp", "-t.jpg"}));
    EXPECT_TRUE(FailedWith(Batch({"process", "-in.bmp", "out/p.bmp", "out/t.jpg"}), 2));
}

// --- Failures leave nothing behind ----------------------------------------------------

TEST_F(BatchTest, UnreadableInput)
{
    // Each failure names the file and says why.
    const QString missing = tmp_.filePath("missing.jpg");
    const struct {
        QString in;
        QByteArray why;
    } cases[] = {{missing, Reason(ENOENT)},
                 {Out(), Reason(EISDIR)},
                 {Text(), "not an image in a format Tolvane reads, or a damaged one"}};
    for (const auto& c : cases) {
        const Outcome run = Batch({"process", c.in, O("p.jpg"), O("t.jpg")});
        EXPECT_TRUE(FailedWith(run, 1)) << c.in.toStdString();
        EXPECT_TRUE(run.err.contains("cannot read an image from '" + QFile::encodeName(c.in) + "': " + c.why))
            << run.err.constData();
        EXPECT_EQ(Tree(Out()), QStringList());
    }
}

TEST_F(BatchTest, UnwritablePageFolderWritesNothing)
{
    ASSERT_TRUE(WriteAll(O("plain-file"), "x"));
    const struct {
        QString page;
        QByteArray why;
    } cases[] = {{O("missing/p.jpg"), Reason(ENOENT)}, {O("plain-file/p.jpg"), Reason(ENOTDIR)}};
    for (const auto& c : cases) {
        const Outcome run = Batch({"process", Small(), c.page, O("t.jpg")});
        EXPECT_TRUE(FailedWith(run, 1)) << c.page.toStdString();
        EXPECT_TRUE(run.err.contains("cannot write '" + QFile::encodeName(c.page) + "': " + c.why))
            << run.err.constData();
        EXPECT_EQ(Tree(Out()), QStringList({"plain-file"}));
    }
}

TEST_F(BatchTest, AFullDiskIsNamed)
{
    const QString disk = O("disk");
    TestVolume volume(disk, TestVolume::Full);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    const Outcome run = Batch({"process", Small(), disk + "/p.jpg", O("t.jpg")});
    volume.Release();
    EXPECT_TRUE(FailedWith(run, 1));
    EXPECT_TRUE(run.err.contains("cannot write '" + QFile::encodeName(disk) + "/p.jpg': " + Reason(ENOSPC)))
        << run.err.constData();
    EXPECT_EQ(Tree(Out()), QStringList({"disk"}));
}

TEST_F(BatchTest, UnwritableThumbnailFolderTakesThePageBack)
{
    ASSERT_TRUE(WriteAll(O("plain-file"), "x"));
    for (const QString& thumb : {O("missing/t.jpg"), O("plain-file/t.jpg")}) {
        // No page before: none after.
        Outcome run = Batch({"process", Small(), O("p.jpg"), thumb});
        EXPECT_TRUE(FailedWith(run, 1)) << thumb.toStdString();
        EXPECT_EQ(Tree(Out()), QStringList({"plain-file"}));

        // A page file before: the same bytes after.
        ASSERT_TRUE(WriteAll(O("old.bmp"), "an older page"));
        run = Batch({"process", Small(), O("old.bmp"), thumb});
        EXPECT_TRUE(FailedWith(run, 1)) << thumb.toStdString();
        EXPECT_EQ(ReadAll(O("old.bmp")), "an older page");
        EXPECT_EQ(Tree(Out()), QStringList({"old.bmp", "plain-file"}));
        QFile::remove(O("old.bmp"));
    }
}

TEST_F(BatchTest, ReadOnlyFolder)
{
    const QString locked = O("locked");
    TestVolume volume(locked, TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    Outcome run = Batch({"process", Small(), locked + "/p.jpg", O("t.jpg")});
    EXPECT_TRUE(FailedWith(run, 1));
    run = Batch({"process", Small(), O("p.jpg"), locked + "/t.jpg"});
    EXPECT_TRUE(FailedWith(run, 1));
    volume.Release();
    EXPECT_EQ(Tree(Out()), QStringList({"locked"}));
}

}  // namespace
