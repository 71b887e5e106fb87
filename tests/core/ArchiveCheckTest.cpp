// SPDX-License-Identifier: GPL-3.0-or-later
// The archive check: which findings each kind of damage gives, which of them
// repair mends and how, that a repair never deletes or replaces a page file
// or a list line, and that a second check after a repair finds only what
// cannot be mended.
//
// Images are plain text here: "IMG …" decodes, anything else does not, and a
// thumbnail made from an image is "THB of " and the image's bytes.

#include "core/ArchiveCheck.h"
#include "core/WriteGuard.h"
#include "core/ArchiveFiles.h"
#include "CoreTestUtil.h"
#include "tests/support/TestVolume.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>

using coretest::ScratchTest;

namespace {

struct Seen {
    FindingKind kind;
    QString file;
    bool mendable;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s)
{
    return os << "{" << int(s.kind) << ", " << s.file.toStdString() << (s.mendable ? ", mendable}" : "}");
}

class ArchiveCheckTest : public ScratchTest {
protected:
    int decodeCalls_ = 0;

    CheckOptions Options(bool repair, bool decode = false)
    {
        CheckOptions o;
        o.repair = repair;
        if (decode)
            o.decodes = [this](const QString& path) {
                ++decodeCalls_;
                return ReadWholeFile(path).value_or(QByteArray()).startsWith("IMG");
            };
        o.makeThumbnail = [](const QString& imagePath) -> std::optional<QByteArray> {
            const QByteArray bytes = ReadWholeFile(imagePath).value_or(QByteArray());
            if (!bytes.startsWith("IMG"))
                return std::nullopt;
            return "THB of " + bytes;
        };
        return o;
    }

    static QString N(int n) { return QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0')); }

    // A sound category: pages 1..pages with image, thumbnail and memo, and a
    // header at `header` (at least the last number).
    void Sound(int pages, int header = -1, const QString& name = QStringLiteral("Cat"))
    {
        MakeCategory(name);
        QByteArray list = N(header < 0 ? pages : header).toLatin1() + "\r\n";
        for (int i = 1; i <= pages; ++i) {
            Put(name + "/Image/" + N(i) + ".jpg", "IMG " + N(i).toLatin1());
            Put(name + "/Thumb/" + N(i) + ".jpg", "IMG thumb " + N(i).toLatin1());
            Put(name + "/Text/" + N(i) + ".txt", "memo\r\n");
            list += N(i).toLatin1() + ".jpg\r\n";
        }
        Put(name + "/FileList.txt", list);
    }

    std::vector<CheckFinding> Check(bool repair = false, bool decode = false, const QString& name = "Cat")
    {
        return CheckCategory(P(name), Options(repair, decode));
    }

    static std::vector<Seen> Kinds(const std::vector<CheckFinding>& findings)
    {
        std::vector<Seen> out;
        for (const CheckFinding& f : findings)
            out.push_back({f.kind, f.file, f.mendable});
        return out;
    }

    // Every file under the category with its bytes.
    QMap<QString, QByteArray> Files(const QString& name = "Cat") const
    {
        QMap<QString, QByteArray> out;
        QDirIterator it(P(name), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            out.insert(QDir(P(name)).relativeFilePath(path), *ReadWholeFile(path));
        }
        return out;
    }

    // Nothing of `before` is gone or changed, except the files named.
    ::testing::AssertionResult NothingLost(const QMap<QString, QByteArray>& before, const QStringList& changed = {},
                                           const QString& name = "Cat") const
    {
        const auto after = Files(name);
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!after.contains(it.key()))
                return ::testing::AssertionFailure() << it.key().toStdString() << " is gone";
            if (!changed.contains(it.key()) && after.value(it.key()) != it.value())
                return ::testing::AssertionFailure() << it.key().toStdString() << " changed";
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(ArchiveCheckTest, ASoundCategoryHasNoFindingsInAnyLetterCase)
{
    Sound(3);
    EXPECT_TRUE(Check(false, true).empty());
    EXPECT_EQ(decodeCalls_, 6);  // three images, three thumbnails

    // Folders and files as an archive from Windows may name them.
    ASSERT_TRUE(QDir(P("Cat")).rename("Image", "IMAGE"));
    ASSERT_TRUE(QDir(P("Cat")).rename("Thumb", "thumb"));
    ASSERT_TRUE(QFile::rename(P("Cat/IMAGE/00000002.jpg"), P("Cat/IMAGE/00000002.JPG")));
    ASSERT_TRUE(QFile::rename(P("Cat/thumb/00000003.jpg"), P("Cat/thumb/00000003.Jpg")));
    ASSERT_TRUE(QFile::rename(P("Cat/Text/00000001.txt"), P("Cat/Text/00000001.TXT")));
    ASSERT_TRUE(QFile::rename(P("Cat/FileList.txt"), P("Cat/filelist.TXT")));
    // Other files in the folders are none of the check's business.
    Put("Cat/IMAGE/Thumbs.db", "x");
    Put("Cat/IMAGE/scan.jpg", "x");
    Put("Cat/Text/readme.txt", "x");
    Put("Cat/TempList.txt", "x");
    EXPECT_TRUE(Check(false, true).empty());

    // A new category: three empty folders and no list.
    MakeCategory("New");
    EXPECT_TRUE(Check(false, false, "New").empty());
}

TEST_F(ArchiveCheckTest, MissingFilesOfListedPages)
{
    Sound(4);
    QFile::remove(P("Cat/Image/00000002.jpg"));
    QFile::remove(P("Cat/Thumb/00000003.jpg"));
    QFile::remove(P("Cat/Text/00000004.txt"));
    QFile::remove(P("Cat/Image/00000001.jpg"));
    QFile::remove(P("Cat/Thumb/00000001.jpg"));
    const auto found = Check();
    EXPECT_EQ(Kinds(found), (std::vector<Seen>{{FindingKind::ImageMissing, "Image/00000001.jpg", false},
                                              {FindingKind::ThumbnailMissing, "Thumb/00000001.jpg", false},
                                              {FindingKind::ImageMissing, "Image/00000002.jpg", false},
                                              {FindingKind::ThumbnailMissing, "Thumb/00000003.jpg", true},
                                              {FindingKind::MemoMissing, "Text/00000004.txt", true}}));
    EXPECT_EQ(found[3].what, QStringLiteral("the thumbnail of page 3 (list line 4) is not there"));

    const auto before = Files();
    const auto repaired = Check(true);
    ASSERT_EQ(repaired.size(), 5u);
    EXPECT_FALSE(repaired[0].mended);
    EXPECT_TRUE(repaired[3].mended);
    EXPECT_EQ(repaired[3].how, QStringLiteral("made from the page image"));
    EXPECT_TRUE(repaired[4].mended);
    EXPECT_EQ(Get("Cat/Thumb/00000003.jpg"), QByteArray("THB of IMG 00000003"));
    EXPECT_EQ(Get("Cat/Text/00000004.txt"), QByteArray("\r\n"));
    EXPECT_TRUE(NothingLost(before));
    // The lines whose images are gone stay; they are found again, nothing else.
    EXPECT_EQ(Kinds(Check(true)), (std::vector<Seen>{{FindingKind::ImageMissing, "Image/00000001.jpg", false},
                                                    {FindingKind::ThumbnailMissing, "Thumb/00000001.jpg", false},
                                                    {FindingKind::ImageMissing, "Image/00000002.jpg", false}}));
}

TEST_F(ArchiveCheckTest, OrphanPagesAreAppendedInNumberOrderWithTheirFiles)
{
    Sound(3);
    // What interrupted writes and other copies leave: an image alone, an
    // image with its thumbnail, an image with its memo, a thumbnail alone.
    Put("Cat/Image/00000009.jpg", "IMG 9");
    Put("Cat/Thumb/00000009.jpg", "IMG own thumb 9");
    Put("Cat/Image/00000005.BMP", "IMG 5");
    Put("Cat/Image/00000007.tif", "IMG 7");
    Put("Cat/Text/00000007.txt", "memo 7\r\n");
    Put("Cat/Thumb/00000011.jpg", "IMG thumb 11");
    EXPECT_EQ(Kinds(Check()), (std::vector<Seen>{{FindingKind::Orphan, "Image/00000005.BMP", true},
                                                {FindingKind::Orphan, "Image/00000007.tif", true},
                                                {FindingKind::Orphan, "Text/00000007.txt", true},
                                                {FindingKind::Orphan, "Image/00000009.jpg", true},
                                                {FindingKind::Orphan, "Thumb/00000009.jpg", true},
                                                {FindingKind::Orphan, "Thumb/00000011.jpg", false},
                                                {FindingKind::HeaderBelowHighest, "FileList.txt", true}}));

    const auto before = Files();
    const auto repaired = Check(true);
    EXPECT_EQ(repaired[0].how, QStringLiteral("appended to FileList.txt as line 5, its thumbnail made, its memo made"));
    EXPECT_EQ(repaired[1].how, QStringLiteral("appended to FileList.txt as line 6, its thumbnail made"));
    EXPECT_EQ(repaired[3].how, QStringLiteral("appended to FileList.txt as line 7, its memo made"));
    EXPECT_FALSE(repaired[5].mended);
    EXPECT_EQ(repaired[6].how, QStringLiteral("raised to 00000011"));
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000011\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n"
                                                  "00000005.BMP\r\n00000007.tif\r\n00000009.jpg\r\n"));
    EXPECT_EQ(Get("Cat/Thumb/00000005.jpg"), QByteArray("THB of IMG 5"));
    EXPECT_EQ(Get("Cat/Thumb/00000007.jpg"), QByteArray("THB of IMG 7"));
    EXPECT_EQ(Get("Cat/Text/00000005.txt"), QByteArray("\r\n"));
    EXPECT_EQ(Get("Cat/Text/00000009.txt"), QByteArray("\r\n"));
    // The files that were there are kept as they were (the list apart).
    EXPECT_TRUE(NothingLost(before, {"FileList.txt"}));
    // Only the thumbnail without an image is left, and never deleted.
    EXPECT_EQ(Kinds(Check(true)), (std::vector<Seen>{{FindingKind::Orphan, "Thumb/00000011.jpg", false}}));
}

TEST_F(ArchiveCheckTest, OrphansWithoutAListMakeOne)
{
    MakeCategory();
    Put("Cat/Image/00000002.jpg", "IMG 2");
    Put("Cat/Image/00000001.jpg", "IMG 1");
    Put("Cat/Thumb/00000001.jpg", "IMG t1");
    const auto found = Check(true);
    ASSERT_EQ(found.size(), 4u);  // two images, a thumbnail, the header
    for (const CheckFinding& f : found)
        EXPECT_TRUE(f.mended) << qPrintable(f.file);
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
    EXPECT_TRUE(Check().empty());
}

TEST_F(ArchiveCheckTest, TwoImagesOfOneNumberMakeOnePage)
{
    Sound(1);
    Put("Cat/Image/00000004.tif", "IMG 4 tif");
    Put("Cat/Image/00000004.jpg", "IMG 4 jpg");
    const auto found = Check(true);
    ASSERT_EQ(Kinds(found), (std::vector<Seen>{{FindingKind::Orphan, "Image/00000004.jpg", true},
                                              {FindingKind::Orphan, "Image/00000004.tif", false},
                                              {FindingKind::HeaderBelowHighest, "FileList.txt", true}}));
    EXPECT_TRUE(found[1].what.endsWith(QStringLiteral("its number is taken by Image/00000004.jpg")));
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000004\r\n00000001.jpg\r\n00000004.jpg\r\n"));
    EXPECT_TRUE(Exists("Cat/Image/00000004.tif"));
    // The second image of a listed number is a page file no line names.
    const auto again = Check(true);
    EXPECT_EQ(Kinds(again), (std::vector<Seen>{{FindingKind::Orphan, "Image/00000004.tif", false}}));
    EXPECT_EQ(again[0].what, QStringLiteral("a page file no list line names; its number is a listed page's"));
    // So is a second file of a listed page in another letter case.
    Put("Cat/Image/00000001.JPG", "IMG 1 again");
    EXPECT_EQ(Kinds(Check()), (std::vector<Seen>{{FindingKind::Orphan, "Image/00000001.JPG", false},
                                                {FindingKind::Orphan, "Image/00000004.tif", false}}));
}

TEST_F(ArchiveCheckTest, ALowHeaderIsRaisedToTheHighestNumberInUse)
{
    Sound(3, 1);
    auto found = Check();
    ASSERT_EQ(Kinds(found), (std::vector<Seen>{{FindingKind::HeaderBelowHighest, "FileList.txt", true}}));
    EXPECT_EQ(found[0].what, QStringLiteral("the header line 00000001 is below 00000003, the highest page number in use"));
    // A header above the last page is how deleting leaves it: sound.
    Sound(3, 12, "Deleted");
    EXPECT_TRUE(Check(false, false, "Deleted").empty());

    found = Check(true);
    EXPECT_TRUE(found[0].mended);
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000003\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n"));
    EXPECT_TRUE(Check().empty());
}

TEST_F(ArchiveCheckTest, OnlyLeftoversOfAtomicWritesAreRemoved)
{
    Sound(2);
    const QStringList leftovers = {".FileList.txt.tlv-Ab12Cd34.tmp", "Image/.00000003.jpg.tlv-00000000.tmp",
                                   "Thumb/.00000003.jpg.tlv-zzzzzzzz.tmp", "Text/.00000003.txt.tlv-AAAAAAAA.tmp"};
    for (const QString& l : leftovers)
        Put("Cat/" + l, "half");
    // Names near the form are not leftovers.
    Put("Cat/Image/.00000003.jpg.tlv-short.tmp", "kept");
    Put("Cat/Text/00000003.txt.tlv-AAAAAAAA.tmp", "kept");
    const auto found = Check(true);
    ASSERT_EQ(found.size(), 4u);
    for (const CheckFinding& f : found) {
        EXPECT_EQ(f.kind, FindingKind::Leftover);
        EXPECT_TRUE(leftovers.contains(f.file)) << qPrintable(f.file);
        EXPECT_TRUE(f.mended);
        EXPECT_FALSE(Exists("Cat/" + f.file));
    }
    EXPECT_EQ(Get("Cat/Image/.00000003.jpg.tlv-short.tmp"), QByteArray("kept"));
    EXPECT_EQ(Get("Cat/Text/00000003.txt.tlv-AAAAAAAA.tmp"), QByteArray("kept"));
    EXPECT_TRUE(Check().empty());

    // The archive folder's own, left by a write of NetLock.CTL.
    Put(".NetLock.CTL.tlv-Q1w2E3r4.tmp", "1\r\n");
    Put("NetLock.CTL", "0\r\n");
    auto root = CheckLeftovers(Root(), Options(false));
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root[0].file, QStringLiteral(".NetLock.CTL.tlv-Q1w2E3r4.tmp"));
    EXPECT_TRUE(Exists(".NetLock.CTL.tlv-Q1w2E3r4.tmp"));
    // Not under any category's guard: one that may belong to a write in
    // progress (younger than a stale guard, by the file system's clock) stays.
    root = CheckLeftovers(Root(), Options(true));
    EXPECT_FALSE(root[0].mended);
    EXPECT_TRUE(Exists(".NetLock.CTL.tlv-Q1w2E3r4.tmp"));
    {
        QFile old(P(".NetLock.CTL.tlv-Q1w2E3r4.tmp"));
        ASSERT_TRUE(old.open(QIODevice::ReadWrite));
        ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addSecs(-kStaleGuardSeconds - 5),
                                    QFileDevice::FileModificationTime));
    }
    root = CheckLeftovers(Root(), Options(true));
    EXPECT_TRUE(root[0].mended);
    EXPECT_FALSE(Exists(".NetLock.CTL.tlv-Q1w2E3r4.tmp"));
    EXPECT_TRUE(Exists("NetLock.CTL"));
}

TEST_F(ArchiveCheckTest, DamagedLinesAreReportedAndKept)
{
    Sound(2);
    // A line with a slash, an empty line, a control character, a leftover's
    // name, a second line of one number and a header that is no number.
    Put("Cat/FileList.txt", "no number\r\n00000001.jpg\r\n../x.jpg\r\n\r\n00000002.jpg\r\nbad\x01.jpg\r\n"
                            ".00000002.jpg.tlv-ABCDEFGH.tmp\r\n00000002.bmp\r\n");
    Put("Cat/Image/00000002.bmp", "IMG 2 bmp");
    Put("Cat/Image/00000006.jpg", "IMG 6");  // an orphan: appended below the kept lines
    const QByteArray list = *Get("Cat/FileList.txt");
    const auto found = Check(true);
    QStringList damaged;
    for (const CheckFinding& f : found)
        if (f.kind == FindingKind::ListDamagedLine) {
            damaged << f.what;
            EXPECT_EQ(f.mendable, f.what.startsWith(QStringLiteral("line 1,"))) << qPrintable(f.what);
            EXPECT_EQ(f.mended, f.mendable) << qPrintable(f.what);
        }
    EXPECT_EQ(damaged, (QStringList{"line 3 \"../x.jpg\" names no page file", "line 4 \"\" names no page file",
                                    "line 6 \"bad\\x01.jpg\" names no page file",
                                    "line 7 \".00000002.jpg.tlv-ABCDEFGH.tmp\" names no page file",
                                    "line 8 \"00000002.bmp\" has the page number of line 5",
                                    "line 1, the header \"no number\", is no page number"}));
    // Every page line is still there, byte for byte; the header that was no
    // number is the highest number in use now.
    const QByteArray after = *Get("Cat/FileList.txt");
    EXPECT_EQ(after, "00000006" + list.mid(list.indexOf("\r\n")) + "00000006.jpg\r\n");
    damaged.clear();
    for (const CheckFinding& f : Check())
        if (f.kind == FindingKind::ListDamagedLine)
            damaged << f.what;
    EXPECT_EQ(damaged.size(), 5);
}

TEST_F(ArchiveCheckTest, AListThatIsNoCp932TextIsNeverWrittenAgain)
{
    Sound(2);
    // 0x82 0xFF is no CP932 character; 0x82 0xA0 is (あ).
    Put("Cat/FileList.txt", "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n\x82\xA0.jpg\r\n\x82\xFF.jpg\r\n");
    Put("Cat/Image/\xE3\x81\x82.jpg", "IMG a");
    Put("Cat/Thumb/\xE3\x81\x82.jpg", "IMG t");
    Put("Cat/Text/\xE3\x81\x82.txt", "m");
    Put("Cat/Image/00000004.jpg", "IMG 4");
    const QByteArray list = *Get("Cat/FileList.txt");
    const auto found = Check(true);
    std::vector<Seen> kinds = Kinds(found);
    EXPECT_EQ(kinds[0], (Seen{FindingKind::ListNotCp932, "FileList.txt", false}));
    EXPECT_EQ(found[0].what, QStringLiteral("line 5 holds bytes that are no CP932 text"));
    // The orphan and the header would need the list written: left.
    int needTheList = 0;
    for (const CheckFinding& f : found) {
        if (f.kind == FindingKind::Orphan || f.kind == FindingKind::HeaderBelowHighest) {
            ++needTheList;
            EXPECT_FALSE(f.mendable);
            EXPECT_FALSE(f.mended);
        }
    }
    EXPECT_EQ(needTheList, 2);
    EXPECT_EQ(Get("Cat/FileList.txt"), list);
}

TEST_F(ArchiveCheckTest, ACutShortOrEmptyListIsEndedWithoutChangingALine)
{
    Sound(2);
    Put("Cat/FileList.txt", "00000002\r\n00000001.jpg\r\n00000002.jpg");
    auto found = Check(true);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].what, QStringLiteral("line 3, the last, has no line end (cut short?)"));
    EXPECT_TRUE(found[0].mended);
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray("00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));

    MakeCategory("Empty");
    Put("Empty/FileList.txt", "");
    found = Check(true, false, "Empty");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, FindingKind::ListDamagedLine);
    EXPECT_TRUE(found[0].mended);
    EXPECT_EQ(Get("Empty/FileList.txt"), QByteArray("00000000\r\n"));
    EXPECT_TRUE(Check(false, false, "Empty").empty());
}

TEST_F(ArchiveCheckTest, AnUnreadableListStopsThePageChecksAndIsNotTouched)
{
    Sound(2);
    QFile::remove(P("Cat/FileList.txt"));
    MakeDir("Cat/FileList.txt");
    Put("Cat/Image/00000007.jpg", "IMG 7");
    const auto before = Files();
    const auto found = Check(true);
    EXPECT_EQ(Kinds(found), (std::vector<Seen>{{FindingKind::ListUnreadable, "FileList.txt", false}}));
    EXPECT_EQ(Files(), before);
    EXPECT_TRUE(QFileInfo(P("Cat/FileList.txt")).isDir());
}

TEST_F(ArchiveCheckTest, MissingFoldersAreMadeAndFilledIn)
{
    Sound(2);
    ASSERT_TRUE(QDir(P("Cat/Text")).removeRecursively());
    auto found = Check();
    EXPECT_EQ(Kinds(found), (std::vector<Seen>{{FindingKind::FolderMissing, "Text", true},
                                              {FindingKind::MemoMissing, "Text/00000001.txt", true},
                                              {FindingKind::MemoMissing, "Text/00000002.txt", true}}));
    found = Check(true);
    for (const CheckFinding& f : found)
        EXPECT_TRUE(f.mended) << qPrintable(f.file) << ": " << qPrintable(f.how);
    EXPECT_EQ(Get("Cat/Text/00000002.txt"), QByteArray("\r\n"));
    EXPECT_TRUE(Check().empty());

    // A file where the folder should be is not replaced.
    ASSERT_TRUE(QDir(P("Cat/Thumb")).removeRecursively());
    Put("Cat/Thumb", "in the way");
    found = Check(true);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ((Seen{found[0].kind, found[0].file, found[0].mendable}),
              (Seen{FindingKind::FolderMissing, "Thumb", false}));
    EXPECT_EQ(Get("Cat/Thumb"), QByteArray("in the way"));
}

TEST_F(ArchiveCheckTest, DecodingOnlyWhenAskedAndOnlyThumbnailsAreRemade)
{
    Sound(3);
    Put("Cat/Image/00000002.jpg", "damaged image");
    Put("Cat/Thumb/00000003.jpg", "damaged thumb");
    Put("Cat/Thumb/00000002.jpg", "damaged thumb of a damaged image");
    EXPECT_TRUE(Check().empty());
    EXPECT_EQ(decodeCalls_, 0);

    const auto found = Check(true, true);
    EXPECT_EQ(Kinds(found), (std::vector<Seen>{{FindingKind::ImageUndecodable, "Image/00000002.jpg", false},
                                              {FindingKind::ThumbnailUndecodable, "Thumb/00000002.jpg", false},
                                              {FindingKind::ThumbnailUndecodable, "Thumb/00000003.jpg", true}}));
    EXPECT_TRUE(found[2].mended);
    EXPECT_EQ(Get("Cat/Thumb/00000003.jpg"), QByteArray("THB of IMG 00000003"));
    EXPECT_EQ(Get("Cat/Image/00000002.jpg"), QByteArray("damaged image"));
    EXPECT_EQ(Get("Cat/Thumb/00000002.jpg"), QByteArray("damaged thumb of a damaged image"));
}

TEST_F(ArchiveCheckTest, RepairOnAReadOnlyFolderChangesNothingAndSaysWhy)
{
    const QString folder = P("Cat");
    TestVolume volume(folder, TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    Sound(2);
    QFile::remove(P("Cat/Text/00000002.txt"));
    Put("Cat/Image/00000003.jpg", "IMG 3");
    const auto before = Files();
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    const auto found = Check(true);
    volume.Release();
    ASSERT_FALSE(found.empty());
    for (const CheckFinding& f : found) {
        EXPECT_FALSE(f.mended) << qPrintable(f.file);
        EXPECT_TRUE(f.how.contains(QStringLiteral("cannot be written"))) << qPrintable(f.how);
    }
    EXPECT_EQ(Files(), before);
}

}  // namespace
