// SPDX-License-Identifier: GPL-3.0-or-later
// The recognised-text file: what is written reads back the same, the words
// join into the page's text with their places in it, and damaged files read
// as none.

#include "core/PageText.h"

#include <gtest/gtest.h>

namespace {

PageText Sample()
{
    PageText t;
    t.width = 1024;
    t.height = 1448;
    t.source = QStringLiteral("ocr:jpn+eng");
    t.words = {{0, QRect(10, 20, 30, 40), 96, QStringLiteral("請求")},
               {0, QRect(40, 20, 30, 40), 90, QStringLiteral("書")},
               {0, QRect(80, 20, 60, 40), 88, QStringLiteral("No.12")},
               {1, QRect(10, 70, 90, 40), -1, QStringLiteral("49,000円")},
               {1, QRect(110, 70, 50, 40), 70, QStringLiteral("tab\there\\ and\nbreak")}};
    return t;
}

TEST(PageTextTest, WhatIsWrittenReadsBackAndJoinsIntoTheText)
{
    const PageText t = Sample();
    const std::optional<PageText> back = DecodePageText(EncodePageText(t));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, t);

    std::vector<std::pair<int, int>> ranges;
    const QString plain = t.Plain(&ranges);
    // No space inside Japanese, one before a Latin word, a line break per line.
    EXPECT_EQ(plain, QStringLiteral("請求書 No.12\n49,000円 tab\there\\ and\nbreak"));
    ASSERT_EQ(ranges.size(), t.words.size());
    for (std::size_t i = 0; i < ranges.size(); ++i)
        EXPECT_EQ(plain.mid(ranges[i].first, ranges[i].second), t.words[i].text);

    PageText none = t;
    none.words.clear();
    EXPECT_EQ(DecodePageText(EncodePageText(none)), none) << "recognised, nothing found";
}

TEST(PageTextTest, DamagedFilesReadAsNone)
{
    const QByteArray good = EncodePageText(Sample());
    const QByteArray head = "tolvane-words 1\t10\t10\tocr\n";
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty", ""},
        {"another format", "tolvane-words 2\t10\t10\tocr\n"},
        {"cut short", good.left(good.size() - 3)},
        {"a field missing", head + "0\t1\t2\t3\t4\tword\n"},
        {"a number out of range", head + "0\t1\t2\t3\t99999999999\t5\tword\n"},
        {"confidence past 100", head + "0\t1\t2\t3\t4\t101\tword\n"},
        {"lines going back", head + "2\t1\t2\t3\t4\t5\ta\n1\t1\t2\t3\t4\t5\tb\n"},
        {"a lone backslash", head + "0\t1\t2\t3\t4\t5\tword\\\n"},
        {"past the size limit", head + QByteArray(kPageTextReadLimit, 'x') + "\n"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(DecodePageText(c.bytes)) << c.name;
}

}  // namespace
