// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controller without its window: what each command asks
// to draw again, the memos written only when typed into and never once the
// lock has gone elsewhere, and commands applied to the list on disk rather
// than the one shown.

#include "imaging/MainController.h"

#include "../core/CoreTestUtil.h"
#include "core/NetLock.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"


using coretest::ScratchTest;
using What = MainController::What;

namespace {

class MainControllerTest : public ScratchTest {
protected:
    Settings settings_;
    std::unique_ptr<MainController> desk_;
    std::vector<What> seen_;

    void SetUp() override
    {
        ScratchTest::SetUp();
        MakeCategory(QStringLiteral("受取"));
        MakeCategory(QStringLiteral("Other"));
    }

    // Files `count` pages into 受取 from outside the controller (another
    // writer), each with its memo.
    void FileOutside(int count)
    {
        ArchiveSession other;
        other.ArchiveRoot = Root();
        other.SelectCategory(P(QStringLiteral("受取")));
        for (int i = 0; i < count; ++i) {
            PageImages made;
            made.page = CreateDib(40, 30, 3);
            made.thumbnail = CreateDib(8, 6, 3);
            ASSERT_TRUE(StoreProcessedPage(other, made, 90, QStringLiteral(".jpg")));
        }
    }

    void Open()
    {
        desk_ = std::make_unique<MainController>(Root() + u'/', settings_);
        QObject::connect(desk_.get(), &MainController::changed, [this](What w) { seen_.push_back(w); });
        desk_->SelectCategory(QStringLiteral("受取"));
    }

    std::array<QString, 4> Shown() const
    {
        std::array<QString, 4> texts;
        for (int s = 0; s < 4; ++s)
            texts[s] = desk_->Slot(s).memo;
        return texts;
    }

    QStringList ListLines() const
    {
        return QString::fromLatin1(*Get(QStringLiteral("受取/FileList.txt"))).split(QStringLiteral("\r\n"),
                                                                                  Qt::SkipEmptyParts);
    }
};

}  // namespace

TEST_F(MainControllerTest, CommandsActOnTheListOnDiskAndSayWhatToDraw)
{
    FileOutside(2);
    Open();
    ASSERT_EQ(desk_->Session.Grid.P, 2);
    EXPECT_EQ(seen_, std::vector<What>{What::Pages});
    desk_->Click(1);
    EXPECT_EQ(seen_.back(), What::Selection);
    EXPECT_TRUE(desk_->HasClickedPage());

    // Pages 3 and 4 come from another writer while 2 are shown; a copy of
    // the clicked page goes after them, and the grid shows what is on disk.
    FileOutside(2);
    ASSERT_TRUE(desk_->CopyClicked());
    EXPECT_EQ(ListLines(), (QStringList{"00000005", "00000001.jpg", "00000002.jpg", "00000003.jpg", "00000004.jpg",
                                        "00000005.jpg"}));
    EXPECT_EQ(seen_.back(), What::Pages);
    EXPECT_EQ(desk_->Session.Grid.T, 1);
    for (int s = 0; s < 4; ++s) {
        EXPECT_TRUE(desk_->Slot(s).shown);
        EXPECT_EQ(desk_->Slot(s).page, 1 + s);
        EXPECT_TRUE(desk_->Slot(s).thumbPath.endsWith(QStringLiteral("Thumb/0000000%1.jpg").arg(2 + s)));
    }

    // The clicked page, deleted elsewhere: the delete changes nothing and
    // says so; the grid is drawn from the list as it is.
    desk_->Click(0);  // page 2
    ArchiveSession other;
    other.ArchiveRoot = Root();
    other.SelectCategory(P(QStringLiteral("受取")));
    ASSERT_TRUE(other.DeletePage(1));
    const PageResult gone = desk_->DeleteClicked();
    EXPECT_FALSE(gone);
    EXPECT_EQ(gone.message, kPageGoneMessage);
    EXPECT_EQ(desk_->Session.Grid.P, 4);
    EXPECT_EQ(ListLines().size(), 5);
    EXPECT_FALSE(desk_->ListChangedOnDisk());
}

TEST_F(MainControllerTest, OnlyTypedMemosAreWrittenAndNoneOnceTheLockIsGone)
{
    FileOutside(2);
    // A memo in CP932 with a lone LF: read, shown, and left byte for byte
    // when nobody types into it.
    const QByteArray odd = QByteArray("\x8e\xf3\x8e\xe6\nline\r\n");
    Put(QStringLiteral("受取/Text/00000001.txt"), odd);
    ASSERT_TRUE(EnableSharing(Root()));
    Open();
    ASSERT_FALSE(desk_->WritingAllowed());
    ASSERT_EQ(desk_->TakeLock([] { return false; }), LockTaking::Taken);
    EXPECT_EQ(seen_.back(), What::Pages);
    ASSERT_TRUE(desk_->WritingAllowed());

    std::array<QString, 4> typed = Shown();
    EXPECT_TRUE(typed[0].startsWith(QStringLiteral("受取")));
    typed[1] = QStringLiteral("請求書");
    ASSERT_TRUE(desk_->SaveMemos(typed).ok);
    EXPECT_EQ(Get(QStringLiteral("受取/Text/00000001.txt")), odd);
    EXPECT_EQ(Get(QStringLiteral("受取/Text/00000002.txt")), QByteArray("\x90\xbf\x8b\x81\x8f\x91\r\n"));
    // Saved once: the same text again writes nothing.
    Put(QStringLiteral("受取/Text/00000002.txt"), "changed elsewhere");
    ASSERT_TRUE(desk_->SaveMemos(typed).ok);
    EXPECT_EQ(Get(QStringLiteral("受取/Text/00000002.txt")), QByteArray("changed elsewhere"));

    // Another workstation forces the lock: the next memo is not written,
    // the controller says why and turns read-only.
    ASSERT_TRUE(TakeLock(Root(), NewOwnerToken()));
    typed[0] = QStringLiteral("late");
    const MainController::MemoSaving lost = desk_->SaveMemos(typed);
    EXPECT_FALSE(lost.ok);
    EXPECT_EQ(lost.message, kLockLostMessage);
    EXPECT_TRUE(lost.detail.startsWith(QStringLiteral("NetLock.CTL: ")));
    EXPECT_EQ(seen_.back(), What::State);
    EXPECT_FALSE(desk_->WritingAllowed());
    EXPECT_EQ(Get(QStringLiteral("受取/Text/00000001.txt")), odd);
    EXPECT_FALSE(desk_->LockHolderNote().isEmpty());
    // Nothing to give back: the other holder's lock stays.
    const QByteArray lockFile = *Get(QStringLiteral("NetLock.CTL"));
    desk_->GiveBackLock();
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), lockFile);
}

TEST_F(MainControllerTest, SharingSwitchedOffEndsTheHoldWithoutALockFileLeft)
{
    ASSERT_TRUE(EnableSharing(Root()));
    Open();
    ASSERT_EQ(desk_->TakeLock([] { return false; }), LockTaking::Taken);
    desk_->SetSharing(false);
    EXPECT_FALSE(Exists(QStringLiteral("NetLock.CTL")));
    EXPECT_FALSE(desk_->Session.LockHeld);
    EXPECT_TRUE(desk_->WritingAllowed());
    desk_->GiveBackLock();
    EXPECT_FALSE(Exists(QStringLiteral("NetLock.CTL")));
    desk_->SetSharing(true);
    EXPECT_EQ(Get(QStringLiteral("NetLock.CTL")), QByteArray("0\r\n"));
    EXPECT_FALSE(desk_->WritingAllowed());
}

TEST_F(MainControllerTest, AnEditedPageKeepsItsOwnFileAndFormat)
{
    Put(QStringLiteral("受取/FileList.txt"), "00000007\r\n00000007.bmp\r\n");
    QByteArray bmp;
    ASSERT_TRUE(ImgKitEncodeForPath(QStringLiteral("x.bmp"), CreateDib(30, 20, 3), 90, bmp));
    Put(QStringLiteral("受取/Image/00000007.bmp"), bmp);
    Open();
    desk_->Click(0);
    PageImages edited;
    edited.page = CreateDib(60, 40, 3);
    edited.thumbnail = CreateDib(12, 8, 3);
    ASSERT_TRUE(desk_->ReplaceClicked(edited));
    EXPECT_EQ(Get(QStringLiteral("受取/Image/00000007.bmp"))->left(2), QByteArray("BM"));
    EXPECT_EQ(Get(QStringLiteral("受取/Thumb/00000007.jpg"))->left(2), QByteArray("\xff\xd8"));
    EXPECT_FALSE(Exists(QStringLiteral("受取/Image/00000007.jpg")));
    // Nothing to store: nothing written, the page's files as they were.
    const PageResult none = desk_->ReplaceClicked(PageImages{});
    EXPECT_EQ(none.message, kCannotSaveMessage);
    EXPECT_EQ(Get(QStringLiteral("受取/Image/00000007.bmp"))->left(2), QByteArray("BM"));
}
