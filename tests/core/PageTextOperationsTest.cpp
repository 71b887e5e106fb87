// SPDX-License-Identifier: GPL-3.0-or-later
// A page's recognised text goes wherever its page goes: deleted, moved,
// copied, made stale by a re-edit; it is kept only while its page and its
// picture are still the ones recognised; the check knows it.

#include "core/ArchiveCheck.h"
#include "core/ArchiveSession.h"
#include "core/PageIntent.h"
#include "core/PageText.h"
#include "CoreTestUtil.h"

#include <functional>

using coretest::ScratchTest;

namespace {

PageText Words(const QString& word)
{
    PageText t;
    t.width = 100;
    t.height = 140;
    t.source = QStringLiteral("ocr:eng");
    t.words = {{0, QRect(1, 2, 30, 10), 90, word}};
    return t;
}

class PageTextOperationsTest : public ScratchTest {
protected:
    ArchiveSession session_;

    // Cat with pages 1 and 2, each with its three files and its text.
    void SetUp() override
    {
        ScratchTest::SetUp();
        MakeCategory("Cat");
        MakeCategory("Dst");
        MakeDir("Cat/Words");
        QByteArray list = "00000002\r\n";
        for (const char* n : {"00000001", "00000002"}) {
            Put(QStringLiteral("Cat/Image/%1.jpg").arg(n), QByteArray("image ") + n);
            Put(QStringLiteral("Cat/Thumb/%1.jpg").arg(n), QByteArray("thumb ") + n);
            Put(QStringLiteral("Cat/Text/%1.txt").arg(n), "\r\n");
            Put(QStringLiteral("Cat/Words/%1.tsv").arg(n), EncodePageText(Words(QLatin1String(n))));
            list += QByteArray(n) + ".jpg\r\n";
        }
        Put("Cat/FileList.txt", list);
        session_.SelectCategory(P("Cat"));
    }
};

TEST_F(PageTextOperationsTest, TheTextGoesWhereverItsPageGoes)
{
    const QByteArray first = *Get("Cat/Words/00000001.tsv");
    struct Case {
        const char* name;
        std::function<PageResult(ArchiveSession&)> run;
        QStringList there, gone;
    };
    const Case cases[] = {
        {"delete", [](ArchiveSession& s) { return s.DeletePage(0); }, {"Cat/Words/00000002.tsv"},
         {"Cat/Words/00000001.tsv"}},
        {"move to a category without a Words folder",
         [this](ArchiveSession& s) { return s.MovePageToCategory(0, P("Dst")); }, {"Dst/Words/00000001.tsv"},
         {"Cat/Words/00000001.tsv"}},
        {"re-edit: the boxes were on the old picture",
         [](ArchiveSession& s) { return s.ReplacePageFiles(0, "edited", "thumb"); }, {"Cat/Words/00000002.tsv"},
         {"Cat/Words/00000001.tsv"}},
        {"a new page with its text (a copy, a PDF page)",
         [first](ArchiveSession& s) {
             const PageText t = *DecodePageText(first);
             return s.StoreNewPage("copy", QStringLiteral(".jpg"), "thumb", &t);
         },
         {"Cat/Words/00000003.tsv"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        ASSERT_FALSE(HasFailure());
        const PageResult r = c.run(session_);
        ASSERT_TRUE(r) << qPrintable(r.message);
        for (const QString& f : c.there)
            EXPECT_TRUE(Exists(f)) << qPrintable(f);
        for (const QString& f : c.gone)
            EXPECT_FALSE(Exists(f)) << qPrintable(f);
        if (c.there.first().startsWith(u"Dst") || c.there.first().endsWith(u"3.tsv")) {
            EXPECT_EQ(Get(c.there.first()), first) << "byte for byte";
        }
        EXPECT_TRUE(QDir(P("Dst")).removeRecursively() && QDir(P("Cat")).removeRecursively());
    }
}

TEST_F(PageTextOperationsTest, ADeleteCutShortTakesTheTextWhenItIsFinished)
{
    const QString intent =
        WriteIntent(Root(), {PageIntent::Kind::Delete, QStringLiteral("Cat"), QStringLiteral("00000001.jpg"), {}, {}});
    ASSERT_FALSE(intent.isEmpty());
    EXPECT_TRUE(ResolveIntent(Root(), intent).done);
    EXPECT_FALSE(Exists("Cat/Words/00000001.tsv"));
    EXPECT_TRUE(Exists("Cat/Words/00000002.tsv"));
}

TEST_F(PageTextOperationsTest, ATextIsKeptOnlyForThePageAndPictureRecognised)
{
    const ListStamp stamp = FileStampOf(P("Cat/Image/00000002.jpg"));
    ASSERT_TRUE(QFile::remove(P("Cat/Words/00000002.tsv")));
    const PageText text = Words(QStringLiteral("new"));
    const QString path = QStringLiteral("Cat/Words/00000002.tsv");

    // The picture changed under the recogniser: nothing kept.
    Put("Cat/Image/00000002.jpg", "another picture, another size");
    PageResult r = session_.StoreRecognisedText(P("Cat"), QStringLiteral("00000002.jpg"), stamp, text);
    EXPECT_EQ(r.message, kPageChangedMessage);
    EXPECT_FALSE(Exists(path));

    const ListStamp now = FileStampOf(P("Cat/Image/00000002.jpg"));
    EXPECT_TRUE(session_.StoreRecognisedText(P("Cat"), QStringLiteral("00000002.jpg"), now, text));
    EXPECT_EQ(ReadPageText(P(path)), text);

    // Another workstation was first: its text stays, unless asked.
    EXPECT_TRUE(session_.StoreRecognisedText(P("Cat"), QStringLiteral("00000002.jpg"), now, Words("other")));
    EXPECT_EQ(ReadPageText(P(path)), text);
    EXPECT_TRUE(session_.StoreRecognisedText(P("Cat"), QStringLiteral("00000002.jpg"), now, Words("other"), true));
    EXPECT_EQ(ReadPageText(P(path)), Words("other"));

    // The page went meanwhile.
    ASSERT_TRUE(session_.DeletePage(1));
    r = session_.StoreRecognisedText(P("Cat"), QStringLiteral("00000002.jpg"), now, text);
    EXPECT_EQ(r.message, kPageGoneMessage);
    EXPECT_FALSE(Exists(path));

    // A shared archive whose lock another holds: nothing written.
    Put("NetLock.CTL", "1\r\n");
    session_.ArchiveShared = true;
    const ListStamp first = FileStampOf(P("Cat/Image/00000001.jpg"));
    ASSERT_TRUE(QFile::remove(P("Cat/Words/00000001.tsv")));
    r = session_.StoreRecognisedText(P("Cat"), QStringLiteral("00000001.jpg"), first, text);
    EXPECT_TRUE(r.lockLost);
    EXPECT_FALSE(Exists("Cat/Words/00000001.tsv"));
}

TEST_F(PageTextOperationsTest, TheCheckKnowsTextsWithoutTheirPagesAndNumbersStayUnique)
{
    Put("Cat/Words/00000007.tsv", EncodePageText(Words("orphan")));
    const std::vector<CheckFinding> found = CheckCategory(P("Cat"), CheckOptions{});
    ASSERT_EQ(found.size(), 2u) << "the orphan, and a header below its number";
    EXPECT_EQ(found[0].kind, FindingKind::Orphan);
    EXPECT_EQ(found[0].file, QStringLiteral("Words/00000007.tsv"));
    EXPECT_FALSE(found[0].mendable) << "no page image of its number";
    EXPECT_EQ(found[1].kind, FindingKind::HeaderBelowHighest);

    // A category that never had a text is no fault; a new page never takes
    // the number of a text left behind.
    EXPECT_TRUE(CheckCategory(P("Dst"), CheckOptions{}).empty());
    Put("Cat/Words/00000003.tsv", EncodePageText(Words("left behind")));
    PageList list = session_.Pages;
    EXPECT_EQ(IssuePageNumber(list, P("Cat")), QStringLiteral("00000004"));
}

}  // namespace

namespace {

TEST_F(PageTextOperationsTest, PagesWithoutTextAreFoundOnceEachWithTheirPictureAsItIs)
{
    ASSERT_TRUE(QFile::remove(P("Cat/Words/00000002.tsv")));
    Put("Cat/Image/00000003.jpg", "image 3");
    Put("Cat/FileList.txt",
        "00000004\r\n00000001.jpg\r\n00000002.jpg\r\n00000003.jpg\r\n00000002.jpg\r\n00000004.jpg\r\n../x.jpg\r\n");
    PageList list;
    LoadPageList(list, P("Cat"));
    std::vector<PageToRecognise> pages = PagesWithoutText(P("Cat"), list);
    QStringList entries;
    for (const PageToRecognise& p : pages)
        entries << p.entry;
    // Page 1 has its text; page 4 has no image; "../x.jpg" names no file.
    EXPECT_EQ(entries, (QStringList{"00000002.jpg", "00000003.jpg"}));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].imageStamp, FileStampOf(P("Cat/Image/00000003.jpg")));

    session_.SelectCategory(P("Cat"));
    ASSERT_TRUE(session_.StoreRecognisedText(P("Cat"), pages[0].entry, pages[0].imageStamp, Words("two")));
    pages = PagesWithoutText(P("Cat"), list);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].entry, QStringLiteral("00000003.jpg"));
}

}  // namespace
