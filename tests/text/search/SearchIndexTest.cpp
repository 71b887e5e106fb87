// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/SearchIndex.h"

#include "core/ArchiveFiles.h"
#include "core/Memo.h"
#include "core/PageText.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SearchIndexTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(archive_.isValid() && cache_.isValid());
        root_ = archive_.path();
        MakeCategory(QStringLiteral("A"), {{QStringLiteral("請求書の控え"), {}},
                                           {QStringLiteral("memo"), {QStringLiteral("ＩＮＶ"), QStringLiteral("2024"),
                                                                     QStringLiteral("請"), QStringLiteral("求"),
                                                                     QStringLiteral("書")}}});
        MakeCategory(QStringLiteral("B"), {{QStringLiteral("ｾｲｷｭｳｼｮ inv 2024\n次の行"), {}}});
    }

    struct Page {
        QString memo;
        QStringList words;  // one a word, each on its own line but the first two
    };

    void MakeCategory(const QString& name, const std::vector<Page>& pages)
    {
        const QString folder = root_ + u'/' + name;
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/Text")) && QDir().mkpath(folder + QStringLiteral("/Words")));
        QByteArray list = QByteArray::number(int(pages.size())).rightJustified(8, '0') + "\r\n";
        for (int i = 0; i < int(pages.size()); ++i) {
            const QString number = QString::number(i + 1).rightJustified(8, u'0');
            list += number.toLatin1() + ".jpg\r\n";
            ASSERT_TRUE(WriteMemo(folder + QStringLiteral("/Text/") + number + QStringLiteral(".txt"), pages[i].memo,
                                  nullptr));
            if (pages[i].words.isEmpty())
                continue;
            PageText text;
            for (int w = 0; w < int(pages[i].words.size()); ++w)
                text.words.push_back({w < 2 ? 0 : w, QRect(w * 10, 0, 9, 9), 90, pages[i].words[w]});
            ASSERT_TRUE(WritePageText(folder + QStringLiteral("/Words/") + number + QStringLiteral(".tsv"), text));
        }
        ASSERT_TRUE(WriteFileAtomically(folder + QStringLiteral("/FileList.txt"), list));
    }

    SearchResult Search(const QString& query, int max = 100)
    {
        SearchIndex index(root_, cache_.path());
        EXPECT_TRUE(index.Refresh().ok);
        return index.Find(query, max);
    }

    QTemporaryDir archive_;
    QTemporaryDir cache_;
    QString root_;
};

TEST_F(SearchIndexTest, FindsAcrossCategoriesWithSnippetMarksAndWords)
{
    const SearchResult r = Search(QStringLiteral("請求書"));
    ASSERT_EQ(r.hits.size(), 2u);  // B's half-width ｾｲｷｭｳｼｮ is a reading, not the word
    EXPECT_EQ(r.hits[0].category, QStringLiteral("A"));
    EXPECT_EQ(r.hits[0].source, SearchHit::Memo);
    EXPECT_EQ(r.hits[0].snippet, QStringLiteral("請求書の控え"));
    EXPECT_EQ(r.hits[0].marked, (std::vector<std::pair<int, int>>{{0, 3}}));
    EXPECT_EQ(r.hits[1].entry, QStringLiteral("00000002.jpg"));
    EXPECT_EQ(r.hits[1].source, SearchHit::Words);
    EXPECT_EQ(r.hits[1].words, (std::vector<int>{2, 3, 4}));

    const SearchResult kana = Search(QStringLiteral("せいきゅうしょ INV 2024"));
    ASSERT_EQ(kana.hits.size(), 1u);
    EXPECT_EQ(kana.hits[0].snippet, QStringLiteral("ｾｲｷｭｳｼｮ inv 2024 次の行"));
    EXPECT_EQ(kana.hits[0].marked, (std::vector<std::pair<int, int>>{{0, 16}}));
}

TEST_F(SearchIndexTest, CapsHitsAndNarrows)
{
    SearchIndex index(root_, cache_.path());
    ASSERT_TRUE(index.Refresh().ok);
    const SearchResult wide = index.Find(QStringLiteral("2"), 1);
    EXPECT_EQ(wide.hits.size(), 1u);
    EXPECT_EQ(wide.matched, 2);
    EXPECT_TRUE(wide.more);
    EXPECT_EQ(index.Find(QStringLiteral("202"), 10).hits.size(), 2u);
    EXPECT_TRUE(index.Find(QStringLiteral("2025"), 10).hits.empty());
    EXPECT_TRUE(index.Find(QStringLiteral("  "), 10).hits.empty());
    EXPECT_TRUE(index.Find(QStringLiteral("2"), 10, [] { return true; }).stopped);
}

TEST_F(SearchIndexTest, FollowsChangesAfterRefresh)
{
    SearchIndex index(root_, cache_.path());
    ASSERT_TRUE(index.Refresh().ok);
    ASSERT_TRUE(WriteMemo(root_ + QStringLiteral("/A/Text/00000001.txt"), QStringLiteral("領収書"), nullptr));
    MakeCategory(QStringLiteral("C"), {{QStringLiteral("領収書 new"), {}}});
    ASSERT_TRUE(QDir(root_ + QStringLiteral("/B")).removeRecursively());
    ASSERT_TRUE(index.Refresh().ok);
    const SearchResult r = index.Find(QStringLiteral("領収書"), 10);
    ASSERT_EQ(r.hits.size(), 2u);
    EXPECT_EQ(r.hits[0].category, QStringLiteral("A"));
    EXPECT_EQ(r.hits[1].category, QStringLiteral("C"));
    EXPECT_TRUE(index.Find(QStringLiteral("ｾｲｷｭｳｼｮ"), 10).hits.empty());
    EXPECT_EQ(QDir(index.CacheFolder()).entryList({QStringLiteral("*.idx")}, QDir::Files).size(), 2);
}

TEST_F(SearchIndexTest, RebuildsADamagedCacheAndNeverWritesIntoTheArchive)
{
    QStringList before;
    for (QDirIterator it(root_, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
        before << it.next();
    ASSERT_EQ(Search(QStringLiteral("請求書")).hits.size(), 2u);
    const QStringList files = QDir(cache_.path()).entryList({QStringLiteral("*.idx")}, QDir::Files);
    ASSERT_EQ(files.size(), 2);
    for (const QString& f : files) {
        QFile file(cache_.path() + u'/' + f);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(file.size() / 2);
        file.write("\xff\xff\xff\xff garbage");
    }
    EXPECT_EQ(Search(QStringLiteral("請求書")).hits.size(), 2u);
    QStringList after;
    for (QDirIterator it(root_, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
        after << it.next();
    EXPECT_EQ(after, before);

    SearchIndex inside(root_, root_ + QStringLiteral("/cache"));
    EXPECT_FALSE(inside.Refresh().ok);
}

TEST_F(SearchIndexTest, CommandPrintsEscapedLines)
{
    MakeCategory(QStringLiteral("D\tx"), {{QStringLiteral("needle\x01here"), {}}});
    QTemporaryDir home;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
    child.setProcessEnvironment(env);
    child.start(QStringLiteral(TOLVANE_BATCH_EXE), {QStringLiteral("search"), QStringLiteral("NEEDLE"),
                                                    QStringLiteral("--archive"), root_});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 0);
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QList<QByteArray> fields = lines[0].split('\t');
    ASSERT_EQ(fields.size(), 3);
    EXPECT_NE(fields[0], "D");
    EXPECT_EQ(fields[1], "00000001.jpg");
    for (char c : lines[0])
        EXPECT_TRUE(c == '\t' || uchar(c) >= 0x20);
    EXPECT_TRUE(QDir(home.path() + QStringLiteral("/cache/Osk/Tolvane/search")).exists());

    child.start(QStringLiteral(TOLVANE_BATCH_EXE), {QStringLiteral("search"), QStringLiteral("nothing-like-it"),
                                                    QStringLiteral("--archive"), root_});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 1);
}

}  // namespace
