// SPDX-License-Identifier: GPL-3.0-or-later
// Archives whose folders hold symbolic links (made by hand, or by another
// machine on a network drive): each layout of the table is run through
// tolvane-batch add, check --repair and check --decode --repair, and through
// the main window's commands (memo, delete, move), and afterwards nothing
// outside the archive has been written, replaced, made or deleted, and each
// link has been reported by the check.

#include "tests/batch/BatchTestSupport.h"

#include "core/ArchiveSession.h"
#include "core/WriteGuard.h"
#include "imaging/MainController.h"

#include <QDeadlineTimer>
#include <QMap>
#include <QThread>

#include <csignal>
#include <sys/stat.h>

namespace {

using namespace batchtest;

struct Layout {
    const char* name;
    const char* category;  // the category the commands work on
    const char* link;      // the link made in the archive
    const char* target;    // what it points to, in the outside folder (may not exist)
    const char* replaces;  // the archive entry removed first, if any
    bool addFiles;         // tolvane-batch add files a page
};

const Layout kLayouts[] = {
    {"thumbnail", "Cat", "Cat/Thumb/00000001.jpg", "victim.jpg", "Cat/Thumb/00000001.jpg", true},
    {"page image", "Cat", "Cat/Image/00000001.jpg", "victim.jpg", "Cat/Image/00000001.jpg", true},
    {"memo", "Cat", "Cat/Text/00000001.txt", "victim.txt", "Cat/Text/00000001.txt", true},
    {"dangling thumbnail", "Cat", "Cat/Thumb/00000003.jpg", "new.jpg", nullptr, true},
    {"page list", "Cat", "Cat/FileList.txt", "victim.txt", "Cat/FileList.txt", false},
    {"lock file", "Cat", "NetLock.CTL", "victim.txt", nullptr, false},
    {"category", "Link", "Link", "Cat", nullptr, false},
    {"Image folder", "Cat", "Cat/Image", "Cat/Image", "Cat/Image", false},
    {"Text folder", "Cat", "Cat/Text", "Cat/Text", "Cat/Text", false},
};

class HostileArchiveTest : public BatchTest {
protected:
    QString Outside(const QString& relative = QString()) const
    {
        return relative.isEmpty() ? Out() : O(relative);
    }

    // Two pages in Cat, an empty Other, and outside a file, a picture and a
    // category of their own.
    void Build()
    {
        MakeCategory("Cat");
        MakeCategory("Other");
        ASSERT_TRUE(Succeeded(Batch(On("add", "Cat", {Small(), Grey()}))));
        ASSERT_TRUE(WriteAll(Outside("victim.txt"), "nineteen bytes here"));
        ASSERT_TRUE(ImgKitJpegFileSave(Outside("victim.jpg"), MakePicture(64, 48), 90));
        for (const char* sub : {"Cat/Image", "Cat/Thumb", "Cat/Text"})
            ASSERT_TRUE(QDir().mkpath(Outside(sub)));
        ASSERT_TRUE(WriteAll(Outside("Cat/FileList.txt"), "00000001\r\n00000001.jpg\r\n"));
        ASSERT_TRUE(ImgKitJpegFileSave(Outside("Cat/Image/00000001.jpg"), MakePicture(64, 48), 90));
    }

    void Apply(const Layout& l)
    {
        if (l.replaces) {
            ASSERT_TRUE(QFileInfo(A(l.replaces)).isDir() ? QDir(A(l.replaces)).removeRecursively()
                                                         : QFile::remove(A(l.replaces)));
        }
        ASSERT_TRUE(QFile::link(Outside(l.target), A(l.link)));
    }

    // Every file outside with its content, every folder.
    QMap<QString, QByteArray> Snapshot() const
    {
        QMap<QString, QByteArray> all;
        for (const QString& rel : Tree(Outside())) {
            const QString path = Outside(rel);
            all.insert(rel, QFileInfo(path).isDir() ? QByteArray("<folder>") : ReadAll(path));
        }
        return all;
    }

    // The window's commands on the category: a memo typed into every page
    // shown, the first page deleted, the next moved to Other.
    void WindowCommands(const Layout& l)
    {
        Settings settings;
        MainController desk(Archive(), settings);
        desk.SelectCategory(QString::fromUtf8(l.category));
        std::array<QString, 4> typed;
        typed.fill(QStringLiteral("typed"));
        (void)desk.SaveMemos(typed);
        const bool memoLink = QByteArray(l.link).startsWith("Cat/Text/");
        for (int s = 0; s < 4 && memoLink; ++s) {
            if (desk.Slot(s).shown) {
                EXPECT_EQ(desk.Slot(s).page == 0, !desk.Slot(s).namesFiles) << "a memo link shows no memo";
            }
        }
        desk.Click(0);
        (void)desk.DeleteClicked();
        desk.Click(0);
        (void)desk.MoveClickedTo(QStringLiteral("Other"));
    }
};

}  // namespace

TEST_F(HostileArchiveTest, NothingOutsideTheArchiveIsTouchedAndEveryLinkIsReported)
{
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.name);
        ASSERT_TRUE(QDir(Archive()).removeRecursively() && QDir(Outside()).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(Archive()) && QDir().mkpath(Outside()));
        Build();
        Apply(l);
        if (HasFatalFailure())
            return;
        const QMap<QString, QByteArray> before = Snapshot();
        const QString category = QString::fromUtf8(l.category);

        const Outcome add = Batch(On("add", category, {Small()}));
        EXPECT_EQ(add.exitCode == 0, l.addFiles) << add.err.constData();
        if (!l.addFiles) {
            EXPECT_FALSE(add.err.isEmpty());
        }
        const Outcome check = Batch(On("check", QString()));
        EXPECT_TRUE(check.out.contains("symbolic link")) << check.out.constData();
        EXPECT_EQ(check.exitCode, 1);
        (void)Batch(On("check", QString(), {"--repair"}));
        (void)Batch(On("check", QString(), {"--decode", "--repair"}));
        WindowCommands(l);

        EXPECT_EQ(Snapshot(), before);
        EXPECT_TRUE(QFileInfo(A(l.link)).isSymLink() || !QFileInfo::exists(A(l.link))) << "the link stays a link";
    }
}

// Alias is a link to Cat: the same folder under another name. A move from
// one to the other is refused as the same category, and empties nothing.
TEST_F(HostileArchiveTest, ACategoryLinkedToAnotherIsTheSameCategory)
{
    Build();
    ASSERT_TRUE(QFile::link(A("Cat"), A("Alias")));
    ArchiveSession session;
    session.ArchiveRoot = Archive();
    session.SelectCategory(A("Cat"));
    const PageResult moved = session.MovePageToCategory(0, A("Alias"));
    EXPECT_EQ(moved.message, kSameCategoryMessage);
    EXPECT_EQ(ReadAll(A("Cat/FileList.txt")), "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n");
}

// Contents no program of the archive writes: each is read only in part or
// not at all, shown in bounded form, and never written over.
TEST_F(HostileArchiveTest, OversizedAndSpecialFilesAreReadBoundedAndNeverWritten)
{
    struct Case {
        const char* name;
        std::function<void()> make;
        const char* file;        // the file that must stay as it is
        bool listReadOnly;       // the window shows the list, never writes it
        int pages;               // pages shown
        const char* addRefusal;  // what add says instead of filing
        const char* checkSays;   // in the check's output
    };
    const QByteArray longLine = QByteArray(5 << 20, 'x');
    QByteArray manyPages = "00020000\r\n";
    for (int i = 1; i <= 20000; ++i)
        manyPages += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
    const Case cases[] = {
        {"memo past the limit",
         [this] { ASSERT_TRUE(WriteAll(A("Cat/Text/00000001.txt"), QByteArray(2 << 20, 'm'))); },
         "Cat/Text/00000001.txt", false, 2, nullptr, nullptr},
        {"memo of one endless line",
         [this] { ASSERT_TRUE(WriteAll(A("Cat/Text/00000001.txt"), QByteArray(100000, 'm') + "\r\nend\r\n")); },
         "Cat/Text/00000001.txt", false, 2, nullptr, nullptr},
        {"list line of 5 MB",
         [&] {
             ASSERT_TRUE(WriteAll(A("Cat/FileList.txt"), "00000002\r\n00000001.jpg\r\n" + longLine + "\r\n00000002.jpg\r\n"));
         },
         "Cat/FileList.txt", true, 3, "tolvane-batch check --repair", "bytes long, longer than any page entry"},
        {"list of 20000 pages",
         [&] { ASSERT_TRUE(WriteAll(A("Cat/FileList.txt"), manyPages)); },
         "Cat/FileList.txt", false, 20000, "1000", "the page image of page 20000"},
        {"one page on 100000 lines",
         [&] { ASSERT_TRUE(WriteAll(A("Cat/FileList.txt"), "00000002\r\n" + QByteArray("00000001.jpg\r\n").repeated(100000))); },
         "Cat/FileList.txt", false, 100000, "1000", "(99999 in all) have the page number of line 2"},
        {"named pipes for page files",
         [this] {
             for (const char* f : {"Cat/Thumb/00000001.jpg", "Cat/Image/00000001.jpg"}) {
                 ASSERT_TRUE(QFile::remove(A(f)));
                 ASSERT_EQ(::mkfifo(QFile::encodeName(A(f)).constData(), 0600), 0);
             }
         },
         nullptr, false, 2, nullptr, "not there"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(Archive()).removeRecursively() && QDir().mkpath(Archive()));
        Build();
        c.make();
        if (HasFatalFailure())
            return;
        const QByteArray before = c.file ? ReadAll(A(c.file)) : QByteArray();

        Settings settings;
        MainController desk(Archive(), settings);
        desk.SelectCategory(QStringLiteral("Cat"));
        EXPECT_EQ(desk.Session.Grid.P, c.pages);
        EXPECT_EQ(desk.Session.ListReadOnly, c.listReadOnly);
        if (QByteArray(c.name).startsWith("memo")) {
            EXPECT_FALSE(desk.Slot(0).memoEditable);
            EXPECT_EQ(desk.Slot(0).note, kMemoCutMessage);
            EXPECT_LE(desk.Slot(0).memo.size(), kMemoReadLimit);
            for (const QString& line : desk.Slot(0).memo.split(u'\n'))
                EXPECT_LE(line.size(), kMemoLineLimit + 1) << "shown lines are bounded";
            EXPECT_TRUE(desk.Slot(1).memoEditable);
        }
        for (int s = 0; s < 4; ++s) {
            if (desk.Slot(s).shown) {
                EXPECT_LE(desk.Slot(s).memo.size(), kMemoReadLimit);
            }
        }
        std::array<QString, 4> typed;
        typed.fill(QStringLiteral("typed"));
        (void)desk.SaveMemos(typed);
        desk.Click(0);
        (void)desk.CopyClicked();

        const Outcome add = Batch(On("add", "Cat", {Small()}));
        if (c.addRefusal) {
            EXPECT_NE(add.exitCode, 0);
            EXPECT_TRUE(add.err.contains(c.addRefusal)) << add.err.left(300).constData();
        }
        EXPECT_LT(add.err.size(), 2000);
        const Outcome check = Batch(On("check", QString()));
        if (c.checkSays) {
            EXPECT_TRUE(check.out.contains(c.checkSays)) << check.out.left(300).constData();
        }
        for (const QByteArray& line : check.out.split('\n'))
            EXPECT_LT(line.size(), 400) << "a finding in bounded words";
        EXPECT_LT(check.out.count('\n'), 3 * 20000 + 10) << "one finding a file at most";
        (void)Batch(On("check", QString(), {"--decode", "--repair"}));
        if (c.file) {
            EXPECT_EQ(ReadAll(A(c.file)), before) << "never written over";
        }
    }
}

TEST_F(HostileArchiveTest, AnInputThatIsNoFileIsRefusedAtOnceSayingWhatItIs)
{
    MakeCategory("Cat");
    const QString pipe = O("scan.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const auto& [input, why] : {std::pair{pipe, QByteArray("it is a named pipe, not a file")},
                                     {QStringLiteral("/dev/zero"), QByteArray("it is a device, not a file")},
                                     {Out(), Reason(EISDIR)}}) {
        const Outcome add = Batch(On("add", "Cat", {input}));
        EXPECT_EQ(add.exitCode, 1) << input.toStdString();
        EXPECT_TRUE(add.err.contains(why)) << add.err.constData();
    }
    EXPECT_FALSE(QFileInfo::exists(A("Cat/FileList.txt")));
}

// A repair with a thousand thumbnails to make stops at SIGTERM between two
// of them, not at the end of the category, and gives the shared lock back.
TEST_F(HostileArchiveTest, ARepairStopsBetweenFilesAtSigtermAndGivesTheLockBack)
{
    MakeCategory("Cat");
    ASSERT_TRUE(WriteAll(A("NetLock.CTL"), "0\r\n"));
    const QString picture = O("page.jpg");
    ASSERT_TRUE(ImgKitJpegFileSave(picture, MakePicture(600, 820), 90));
    QByteArray list = "00000999\r\n";
    for (int i = 1; i <= 999; ++i) {
        const QByteArray name = QByteArray::number(i).rightJustified(8, '0') + ".jpg";
        ASSERT_EQ(::link(QFile::encodeName(picture).constData(), QFile::encodeName(A("Cat/Image/" + name)).constData()), 0);
        list += name + "\r\n";
    }
    ASSERT_TRUE(WriteAll(A("Cat/FileList.txt"), list));
    const auto made = [&] { return QDir(A("Cat/Thumb")).entryList(QDir::Files).size(); };

    auto repair = Start(On("check", "Cat", {"--repair"}), Env());
    QDeadlineTimer first(60000);
    while (made() == 0 && repair->state() == QProcess::Running && !first.hasExpired())
        QThread::msleep(5);
    ASSERT_EQ(repair->state(), QProcess::Running) << "ended before it made a thumbnail";
    ::kill(pid_t(repair->processId()), SIGTERM);
    const Outcome stopped = Finish(*repair, 30000);
    EXPECT_EQ(stopped.exitCode, 128 + SIGTERM) << stopped.err.constData();
    EXPECT_TRUE(stopped.err.contains("stopped by signal")) << stopped.err.constData();
    EXPECT_LT(made(), 999) << "stopped inside the category";
    EXPECT_EQ(ReadAll(A("NetLock.CTL")), "0\r\n");
    EXPECT_EQ(ReadAll(A("Cat/FileList.txt")), list) << "the list is written only by a whole repair";
    // The next repair finishes what was left.
    const Outcome rest = Batch(On("check", "Cat", {"--repair"}));
    EXPECT_EQ(rest.exitCode, 1) << rest.err.constData();  // there were findings, all mended
    EXPECT_EQ(made(), 999);
    EXPECT_TRUE(Succeeded(Batch(On("check", "Cat"))));
}

// Each failure names its cause, and a name never breaks the one-line-a-page
// output.
TEST_F(HostileArchiveTest, EveryFailureNamesItsCause)
{
    struct Case {
        const char* name;
        std::function<void()> make;
        QStringList add;        // the add's operands
        int addExit;
        const char* addSays;    // on stderr (or, exit 0, on stdout)
        const char* checkSays;  // in the check's output, if anything
    };
    const QString odd = O("two\nlines\tand\x01.bmp");
    const QString huge = O("huge.tif");  // 1 bit a pixel: a small file, 2.5 GB at 24 bits
    const Case cases[] = {
        {"the last page number", [this] { ASSERT_TRUE(WriteAll(A("Cat/FileList.txt"), "99999999\r\n")); }, {Small()}, 1,
         "no page number of eight digits is left", nullptr},
        {"a name with a line break", [&] { ASSERT_TRUE(QFile::copy(Small(), odd)); }, {odd}, 0,
         "/two\\nlines\\tand\\x01.bmp\n", nullptr},
        {"a guard left on the lock",
         [this] {
             ASSERT_TRUE(WriteAll(A("NetLock.CTL"), "0\r\n"));
             ASSERT_TRUE(WriteAll(A("NetLock.CTL.lock"), NewOwnerToken().Line().toUtf8() + "\n"));
         },
         {Small()}, 3, "is free, but its guard NetLock.CTL.lock is held", "the guard of the lock file is there"},
        {"a picture past the image layer's limit at 24 bits",
         [&] { ASSERT_TRUE(ImgKitTiffFileSave(huge, ImageHandle::NewDib(30000, 30000, 1, 2))); }, {huge}, 1,
         "the picture is 30000 × 30000 pixels", nullptr},
        {"a folder for the lock", [this] { ASSERT_TRUE(QDir().mkpath(A("NetLock.CTL/Image"))); }, {Small()}, 3, "",
         "NetLock.CTL is a folder, not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(Archive()).removeRecursively() && QDir().mkpath(Archive()));
        MakeCategory("Cat");
        c.make();
        if (HasFatalFailure())
            return;
        const Outcome add = Batch(On("add", "Cat", c.add));
        EXPECT_EQ(add.exitCode, c.addExit) << add.err.constData();
        EXPECT_TRUE((c.addExit == 0 ? add.out : add.err).contains(c.addSays)) << add.out.constData() << add.err.constData();
        EXPECT_LE(add.out.count('\n'), 1);
        const Outcome check = Batch(On("check", QString()));
        if (c.checkSays) {
            EXPECT_TRUE(check.out.contains(c.checkSays)) << check.out.constData();
        }
        EXPECT_FALSE(check.out.contains("NetLock.CTL/")) << "the lock's name is never a category";
    }
}

TEST_F(HostileArchiveTest, AReadOnlySharedArchiveSaysWhyTheLockCannotBeTaken)
{
    TestVolume volume(Archive(), TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    MakeCategory("Cat");
    ASSERT_TRUE(WriteAll(A("NetLock.CTL"), "0\r\n"));
    ASSERT_TRUE(volume.Seal());
    const Outcome add = Batch(On("add", "Cat", {Small()}));
    EXPECT_EQ(add.exitCode, 1);
    EXPECT_TRUE(add.err.contains("cannot write the shared-write lock")) << add.err.constData();
    EXPECT_TRUE(add.err.contains(Reason(EROFS))) << add.err.constData();
}
