// SPDX-License-Identifier: GPL-3.0-or-later
// The recognised-text file: what is written reads back the same, the words
// join into the page's text with their places in it, and damaged files read
// as none.

#include "core/PageText.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>

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
    for (const auto& c : cases) {
        EXPECT_FALSE(DecodePageText(c.bytes)) << c.name;
        EXPECT_FALSE(DecodePagePlainText(c.bytes)) << c.name;
    }
}

// The text alone, read without the words, is the words' text joined, or
// none, for well-formed files and for any bytes at all.
TEST(PageTextTest, ThePlainTextIsTheWordsTextForAnyBytes)
{
    const auto same = [](const QByteArray& bytes) {
        const std::optional<PageText> words = DecodePageText(bytes);
        const std::optional<QString> plain = DecodePagePlainText(bytes);
        return words ? plain && *plain == words->Plain() : !plain;
    };
    const QByteArray head = "tolvane-words 1\t10\t10\tocr\n";
    const auto line = [](int n, const QByteArray& word) { return QByteArray::number(n) + "\t1\t2\t3\t4\t5\t" + word + "\n"; };
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"the sample", EncodePageText(Sample())},
        {"kana then Latin then kana", head + line(0, "かな") + line(0, "abc") + line(0, "カナ") + line(0, "漢字")},
        {"full-width and wide characters", head + line(0, "ＩＮＶ") + line(0, "\xF0\xA0\x80\x8B") + line(0, "𠀋")},
        {"an emoji beside kana", head + line(0, "\xF0\x9F\x98\x80") + line(0, "あ")},
        {"empty words", head + line(0, "") + line(0, "") + line(1, "a") + line(1, "")},
        {"escapes", head + line(0, "\\t\\n\\r\\\\") + line(0, "\\\\あ")},
        {"a sequence broken across two words", head + line(0, "あ\xE3") + line(0, "\x81\x82い")},
        {"a lone continuation byte", head + line(0, "\x80") + line(0, "あ")},
        {"an overlong slash", head + line(0, "\xC0\xAF") + line(0, "x")},
        {"an encoded surrogate", head + line(0, "\xED\xA0\x80") + line(0, "あ")},
        {"past U+10FFFF", head + line(0, "\xF4\x90\x80\x80")},
        {"a byte-order mark starting a word", head + line(0, "あ") + line(0, "\xEF\xBB\xBFい")},
        {"a NUL", head + line(0, QByteArray("a\0b", 3))},
        {"a bad escape", head + line(0, "\\x")},
        {"an extra field", head + "0\t1\t2\t3\t4\t5\tword\textra\n"},
        {"a number with a sign", head + line(+0, "a") + "+1\t1\t2\t3\t4\t5\tb\n"},
        {"a header only", head},
        {"no final newline", head + line(0, "a").chopped(1)},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(same(c.bytes)) << c.name;

    // Files put together from pieces that matter to either reading.
    const QByteArray pieces[] = {"\t", "\n", "\\", "\\t", "0", "1", "7", "-1", "101", "a", " ", "あ", "\xE3",
                                 "\x81", "\xEF\xBB\xBF", "\xF0\x9F\x98\x80", "\xC3\xA9", "\xFF"};
    std::mt19937 random(5);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = head;
        const int lines = int(random() % 6);
        for (int l = 0; l < lines; ++l) {
            QByteArray word;
            for (int k = int(random() % 5); k > 0; --k)
                word += pieces[random() % std::size(pieces)];
            bytes += random() % 8 == 0 ? word + "\n" : line(int(l / 2 + random() % 2), word);
        }
        ASSERT_TRUE(same(bytes)) << round << ": " << bytes.toPercentEncoding().constData();
    }
}

}  // namespace
