// Archives whose folders hold symbolic links (made by hand, or by another
// machine on a network drive): each layout of the table is run through
// tolvane-batch add, check --repair and check --decode --repair, and through
// the main window's commands (memo, delete, move), and afterwards nothing
// outside the archive has been written, replaced, made or deleted, and each
// link has been reported by the check.

#include "tests/batch/BatchTestSupport.h"

#include "core/ArchiveSession.h"
#include "imaging/MainController.h"

#include <QMap>

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
            if (desk.Slot(s).shown)
                EXPECT_EQ(desk.Slot(s).page == 0, !desk.Slot(s).namesFiles) << "a memo link shows no memo";
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
