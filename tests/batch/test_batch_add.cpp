// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch add: files filed as pages the way the main window's file
// import files them in automatic mode, the page lines it prints, what it
// does with files it cannot read, the page limit, a full disk, the Susie
// plug-ins of its own folder, and the names and folders it refuses.

#include "tests/batch/BatchTestSupport.h"

#include "core/ArchiveSession.h"
#include "core/PageList.h"
#include "imaging/SpiLoad.h"

#include <QMap>

#include <pty.h>
#include <sys/wait.h>

namespace {

using namespace batchtest;

class AddTest : public BatchTest {
protected:
    // What the category holds after intake of `paths` with `settings`:
    // each page's image, thumbnail and memo as the main window writes them.
    struct Page {
        QByteArray image, thumb;
    };
    static Page Filed(const QString& path, const Settings& settings, int quality)
    {
        const PageImages made = Expected(path, settings);
        Page p;
        const QString ext = SaveFormatExtension(settings.SaveFormat);
        EXPECT_TRUE(ImgKitEncodeForPath("page" + ext, made.page, quality, p.image));
        p.thumb = Jpeg(made.thumbnail, quality);
        return p;
    }

    void ExpectPage(const QString& category, const QString& entry, const Page& page) const
    {
        const QString number = PageNumberOfEntry(entry);
        EXPECT_EQ(ReadAll(A(category + "/Image/" + entry)), page.image) << qPrintable(entry);
        EXPECT_EQ(ReadAll(A(category + "/Thumb/" + number + ".jpg")), page.thumb) << qPrintable(entry);
        EXPECT_EQ(ReadAll(A(category + "/Text/" + number + ".txt")), QByteArray("\r\n")) << qPrintable(entry);
    }

    // The check finds nothing: every page whole, nothing left over.
    void ExpectSound() const
    {
        const Outcome check = Batch(On("check", QString()));
        EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
        EXPECT_TRUE(check.out.isEmpty()) << check.out.constData();
    }

    static QByteArray Lines(const QStringList& entries, const QStringList& sources)
    {
        QByteArray out;
        for (qsizetype i = 0; i < entries.size(); ++i)
            out += QFile::encodeName(entries[i] + u'\t' + sources[i]) + '\n';
        return out;
    }
};

TEST_F(AddTest, FilesEachFileInTheOrderGivenAsTheFileImportDoes)
{
    MakeCategory("Letters");
    const Outcome run = Batch(On("add", "Letters", {Small(), Grey(), A4()}));
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out, Lines({"00000001.jpg", "00000002.jpg", "00000003.jpg"}, {Small(), Grey(), A4()}));
    EXPECT_EQ(ReadAll(A("Letters/FileList.txt")),
              QByteArray("00000003\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n"));
    // No settings file: the defaults, JPEG at quality 80; the grey picture
    // brought to 24 bits first.
    ExpectPage("Letters", "00000001.jpg", Filed(Small(), DefaultSettings(), 80));
    ExpectPage("Letters", "00000002.jpg", Filed(Grey(), DefaultSettings(), 80));
    ExpectPage("Letters", "00000003.jpg", Filed(A4(), DefaultSettings(), 80));
    EXPECT_EQ(SizeOf(A("Letters/Image/00000003.jpg")), std::make_pair(1023, 1448));
    ExpectSound();
    // The settings are only read.
    EXPECT_EQ(Tree(Home()), QStringList());
}

TEST_F(AddTest, SettingsUnlessAnOptionOverridesThem)
{
    MakeCategory("Cat");
    WriteConfig("SaveFormat=1\nJpegMode=2\nKMode=6\nKFX=300\nCaptureMode=1\n");
    const QByteArray config = ReadAll(ConfigFile());
    Settings configured = DefaultSettings();
    configured.SaveFormat = 1;
    configured.KMode = 6;
    configured.KFX = 300;
    // Manual mode in the settings: the batch always files automatically.
    ASSERT_TRUE(Succeeded(Batch(On("add", "Cat", {Small()}))));
    ExpectPage("Cat", "00000001.bmp", Filed(Small(), configured, 50));
    EXPECT_EQ(SizeOf(A("Cat/Image/00000001.bmp")), std::make_pair(300, 410));

    Settings overridden = configured;
    overridden.SaveFormat = 2;
    overridden.KMode = 0;
    overridden.AutoMode = 2;
    const Outcome run = Batch(On("add", "Cat", {"--save-format", "2", Small(), "--quality=77", "--kmode", "0",
                                                "--auto-mode", "2"}));
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out, Lines({"00000002.tif"}, {Small()}));
    ExpectPage("Cat", "00000002.tif", Filed(Small(), overridden, 77));
    EXPECT_EQ(ReadAll(A("Cat/FileList.txt")), QByteArray("00000002\r\n00000001.bmp\r\n00000002.tif\r\n"));
    EXPECT_EQ(ReadAll(ConfigFile()), config);
}

TEST_F(AddTest, NewPagesFollowTheListAndSkipNumbersInUse)
{
    MakeCategory("Cat");
    ASSERT_TRUE(WriteAll(A("Cat/FileList.txt"), "00000005\r\n00000002.jpg\r\n00000004.jpg\r\n"));
    for (const char* f : {"Image/00000002.jpg", "Image/00000004.jpg", "Thumb/00000002.jpg", "Thumb/00000004.jpg",
                          "Text/00000002.txt", "Text/00000004.txt"})
        ASSERT_TRUE(WriteAll(A(QStringLiteral("Cat/") + f), f));
    ASSERT_TRUE(WriteAll(A("Cat/Image/00000006.JPG"), "a page file the list does not name"));
    QMap<QString, QByteArray> before;
    for (const QString& f : Tree(A("Cat")))
        if (QFileInfo(A("Cat/" + f)).isFile() && f != u"FileList.txt")
            before.insert(f, ReadAll(A("Cat/" + f)));
    const Outcome run = Batch(On("add", "Cat", {Small()}));
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out, Lines({"00000007.jpg"}, {Small()}));
    EXPECT_EQ(ReadAll(A("Cat/FileList.txt")), QByteArray("00000007\r\n00000002.jpg\r\n00000004.jpg\r\n00000007.jpg\r\n"));
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(ReadAll(A("Cat/" + it.key())), it.value()) << qPrintable(it.key());
}

TEST_F(AddTest, AFileThatCannotBeReadIsNamedAndSkipped)
{
    MakeCategory("Cat");
    const QString missing = tmp_.filePath("missing.jpg");
    const Outcome run = Batch(On("add", "Cat", {Small(), missing, Text(), Out(), Grey()}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Lines({"00000001.jpg", "00000002.jpg"}, {Small(), Grey()}));
    const QList<QByteArray> errors = run.err.split('\n');
    ASSERT_EQ(errors.size(), 4) << run.err.constData();  // three lines and the end
    EXPECT_EQ(errors[0], "tolvane-batch: cannot read an image from '" + QFile::encodeName(missing) + "': " + Reason(ENOENT));
    EXPECT_EQ(errors[1], "tolvane-batch: cannot read an image from '" + QFile::encodeName(Text())
                             + "': not an image in a format Tolvane reads, or a damaged one");
    EXPECT_EQ(errors[2], "tolvane-batch: cannot read an image from '" + QFile::encodeName(Out()) + "': " + Reason(EISDIR));
    EXPECT_EQ(ReadAll(A("Cat/FileList.txt")), QByteArray("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
    ExpectSound();
}

TEST_F(AddTest, ThePageLimitStopsTheCommandWithItsMessage)
{
    MakeCategory("Full");
    QByteArray list = "00000998\r\n";
    for (int i = 1; i <= 998; ++i)
        list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
    ASSERT_TRUE(WriteAll(A("Full/FileList.txt"), list));
    const Outcome run = Batch(On("add", "Full", {Small(), Grey(), Small()}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Lines({"00000999.jpg"}, {Small()}));
    EXPECT_EQ(run.err, QStringLiteral("tolvane-batch: Full: %1\n").arg(kPageLimitMessage).toUtf8());
    EXPECT_EQ(ReadAll(A("Full/FileList.txt")), "00000999" + list.mid(8) + "00000999.jpg\r\n");
    EXPECT_EQ(QDir(A("Full/Image")).entryList(QDir::Files), QStringList{"00000999.jpg"});
}

TEST_F(AddTest, AFullDiskTakesThePageInProgressBackAndKeepsTheEarlierOnes)
{
    const QString disk = A("Disk");
    TestVolume volume(disk, TestVolume::Full);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    MakeCategory("Disk");
    const QString small = tmp_.filePath("page.jpg");
    ASSERT_TRUE(ImgKitJpegFileSave(small, MakePicture(240, 330), 90));
    // Room for about two pages once the volume is full: a reserve given
    // back after sealing.
    const Page one = Filed(small, DefaultSettings(), 80);
    const qsizetype pageBytes = ((one.image.size() + 4095) / 4096 + (one.thumb.size() + 4095) / 4096 + 3) * 4096;
    ASSERT_TRUE(WriteAll(disk + "/reserve", QByteArray(pageBytes * 5 / 2, 'r')));
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    ASSERT_TRUE(QFile::remove(disk + "/reserve"));
    const Outcome run = Batch(On("add", "Disk", {small, small, small, small, small}));
    const QByteArray list = ReadAll(disk + "/FileList.txt");
    QStringList tree = Tree(disk);
    tree.removeAll(".tolvane-test-filler");  // what fills the volume
    volume.Release();
    EXPECT_EQ(run.exitCode, 1);
    const int filed = int(run.out.count('\n'));
    EXPECT_GE(filed, 1) << run.err.constData();
    EXPECT_LE(filed, 3);
    EXPECT_TRUE(run.err.startsWith("tolvane-batch: cannot file '" + QFile::encodeName(small) + "' in 'Disk': "
                                   + kCannotSaveMessage.toUtf8() + " (" + Reason(ENOSPC) + ")"))
        << run.err.constData();
    // The list names exactly the pages printed, each with its three files;
    // the page that failed left nothing.
    QByteArray expected = QByteArray::number(filed).rightJustified(8, '0') + "\r\n";
    QStringList files{"FileList.txt", "Image", "Text", "Thumb"};
    for (int i = 1; i <= filed; ++i) {
        const QString n = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
        expected += n.toLatin1() + ".jpg\r\n";
        files << "Image/" + n + ".jpg" << "Thumb/" + n + ".jpg" << "Text/" + n + ".txt";
    }
    files.sort();
    EXPECT_EQ(list, expected);
    EXPECT_EQ(tree, files);
}

TEST_F(AddTest, TheSusiePluginsOfTheProgramsOwnFolder)
{
    // The program in a folder of its own with a plug-in beside it; that
    // folder is its archive when --archive is not given.
    const QString program = tmp_.filePath("Tolvane");
    ASSERT_TRUE(QDir().mkpath(program + "/Cat/Image") && QDir().mkpath(program + "/Cat/Thumb")
                && QDir().mkpath(program + "/Cat/Text"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TOLVANE_BATCH_EXE), program + "/tolvane-batch"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TOLVANE_TEST_SPI_DIR) + "/d8.spi", program + "/d8.spi"));
    const QString picture = tmp_.filePath("picture.xyz");
    ASSERT_TRUE(WriteAll(picture, "TSPI:d8\n" + QByteArray(32, 'x')));

    // Read through the plug-in (8 bits), then as any other file.
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(program), 1);
    ImageHandle image = loader.LoadImage(picture);
    ASSERT_TRUE(image);
    ASSERT_TRUE(ReplaceImage(image, ImgKitConvertColor(image, 24)));
    const PageImages made = AutoProcessImage(image, DefaultSettings());

    const Outcome run = Batch({"add", "--category", "Cat", picture, Small()}, Env(), program + "/tolvane-batch");
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(run.out, Lines({"00000001.jpg", "00000002.jpg"}, {picture, Small()}));
    EXPECT_EQ(ReadAll(program + "/Cat/Image/00000001.jpg"), Jpeg(made.page, 80));
    EXPECT_EQ(ReadAll(program + "/Cat/Thumb/00000001.jpg"), Jpeg(made.thumbnail, 80));

    // Without the plug-in beside it, the file is not read.
    MakeCategory("Cat");
    const Outcome without = Batch(On("add", "Cat", {picture}));
    EXPECT_TRUE(FailedWith(without, 1));
    EXPECT_FALSE(QFileInfo::exists(A("Cat/FileList.txt")));
}

TEST_F(AddTest, CreateMakesTheCategoryAsTheButtonDoes)
{
    const QString name = QStringLiteral("請求書 2024");
    Outcome run = Batch(On("add", name, {Small()}));
    EXPECT_TRUE(FailedWith(run, 2));
    EXPECT_TRUE(run.err.contains("--create")) << run.err.constData();
    EXPECT_EQ(Tree(Archive()), QStringList());

    run = Batch(On("add", name, {"--create", Small()}));
    ASSERT_TRUE(Succeeded(run));
    EXPECT_EQ(Tree(A(name)), (QStringList{"FileList.txt", "Image", "Image/00000001.jpg", "Text", "Text/00000001.txt",
                                          "Thumb", "Thumb/00000001.jpg"}));
    // Once there, --create only files.
    ASSERT_TRUE(Succeeded(Batch(On("add", name, {"--create", Grey()}))));
    EXPECT_EQ(ReadAll(A(name + "/FileList.txt")), QByteArray("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
}

TEST_F(AddTest, RefusedNamesFoldersAndArguments)
{
    MakeCategory("Cat");
    ASSERT_TRUE(WriteAll(A("plain-file"), "x"));
    const QString nowhere = tmp_.filePath("nowhere");
    const QList<QStringList> cases = {
        {"add", "--archive", Archive(), Small()},                           // no category
        On("add", "", {"--create", Small()}),                               // names the dialog refuses
        On("add", "a/b", {"--create", Small()}),
        On("add", "..", {"--create", Small()}),
        On("add", ".", {"--create", Small()}),
        On("add", "x\x01y", {"--create", Small()}),
        On("add", "tab\there", {"--create", Small()}),
        On("add", "back\\slash", {"--create", Small()}),
        On("add", "Missing", {Small()}),                                    // no such category
        On("add", "plain-file", {"--create", Small()}),                     // no folder
        {"add", "--archive", nowhere, "--category", "Cat", "--create", Small()},  // no archive
        {"add", "--archive", A("plain-file"), "--category", "Cat", Small()},
        On("add", "Cat"),                                                   // no files
        On("add", "Cat", {"--save-format", "3", Small()}),                  // bad values and options
        On("add", "Cat", {"--force=yes", Small()}),
        On("add", "Cat", {"--kfx", "0", Small()}),
        On("add", "Cat", {"--device", "test:0", Small()}),
    };
    for (const QStringList& args : cases) {
        const Outcome run = Batch(args);
        EXPECT_TRUE(FailedWith(run, 2)) << args.join(' ').toStdString();
        EXPECT_EQ(Tree(Archive()), (QStringList{"Cat", "Cat/Image", "Cat/Text", "Cat/Thumb", "plain-file"}))
            << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    // The refusal says what a name may not be.
    const Outcome run = Batch(On("add", "a/b", {"--create", Small()}));
    EXPECT_EQ(run.err, "tolvane-batch: 'a/b' is no category name: a name must not be empty, \".\" or \"..\", nor hold "
                       "\"/\", \"\\\" or a control character\n");
}

TEST_F(AddTest, AListThatCannotBeReadIsNeverFiledOver)
{
    MakeCategory("Cat");
    ASSERT_TRUE(QDir().mkpath(A("Cat/FileList.txt")));
    const Outcome run = Batch(On("add", "Cat", {Small()}));
    EXPECT_TRUE(FailedWith(run, 1));
    EXPECT_EQ(Tree(A("Cat")), (QStringList{"FileList.txt", "Image", "Text", "Thumb"}));
}

TEST_F(AddTest, AProgressLineOnlyOnATerminal)
{
    MakeCategory("Cat");
    // Standard error (and output) on a terminal of its own.
    int master = -1;
    const QByteArray exe = TOLVANE_BATCH_EXE;
    QList<QByteArray> argv{exe, "add", "--archive", QFile::encodeName(Archive()), "--category", "Cat",
                           QFile::encodeName(Small()), QFile::encodeName(Grey())};
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> args;
        for (QByteArray& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::setenv("HOME", QFile::encodeName(Home()).constData(), 1);
        ::setenv("XDG_CONFIG_HOME", QFile::encodeName(Home() + "/.config").constData(), 1);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    QByteArray seen;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;  // EIO once the child has closed the terminal
        seen.append(buffer, n);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(master);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << seen.constData();
    EXPECT_TRUE(seen.contains("\r\033[Kadd: 1/2 " + QFile::encodeName(Small()))) << seen.constData();
    EXPECT_TRUE(seen.contains("\r\033[Kadd: 2/2 " + QFile::encodeName(Grey()))) << seen.constData();
    // The progress is cleared before each page line, and at the end.
    EXPECT_TRUE(seen.contains("\r\033[K00000001.jpg\t")) << seen.constData();
    EXPECT_TRUE(seen.contains("\r\033[K00000002.jpg\t")) << seen.constData();
}

}  // namespace
