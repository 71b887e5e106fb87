// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Memo.h"

#include "CoreTestUtil.h"

using coretest::ScratchTest;

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

class MemoTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        MakeDir("Cat/Text");
    }
    QString MemoFile(const char* name = "00000001.txt") const { return P("Cat/Text/" + QString::fromLatin1(name)); }

    // Reads, "shows" unchanged and writes back a memo of these bytes.
    QByteArray RoundTrip(const QByteArray& bytes)
    {
        Put("Cat/Text/00000001.txt", bytes);
        const auto memo = ReadMemo(MemoFile());
        EXPECT_TRUE(memo.has_value());
        if (!memo)
            return {};
        const QString shown = memo->text;  // what the control gives back
        EXPECT_TRUE(WriteMemo(MemoFile(), shown, &*memo));
        return Get("Cat/Text/00000001.txt").value_or(QByteArray("<missing>"));
    }
};

TEST_F(MemoTest, MissingMemoIsNullopt)
{
    EXPECT_FALSE(ReadMemo(MemoFile()).has_value());
}

TEST_F(MemoTest, ReadsLineBreaksAsNewlines)
{
    Put("Cat/Text/00000001.txt", "one\r\ntwo\rthree\nfour\r\n");
    const auto memo = ReadMemo(MemoFile());
    ASSERT_TRUE(memo.has_value());
    EXPECT_EQ(memo->raw, QByteArray("one\r\ntwo\rthree\nfour\r\n"));
    EXPECT_EQ(memo->text, "one\ntwo\nthree\nfour\n");
}

TEST_F(MemoTest, ReadsAnyLetterCase)
{
    MakeDir("Cat2/TEXT");
    Put("Cat2/TEXT/00000001.Txt", "x\r\n");
    const auto memo = ReadMemo(P("Cat2/Text/00000001.txt"));
    ASSERT_TRUE(memo.has_value());
    EXPECT_EQ(memo->text, "x\n");
}

TEST_F(MemoTest, NewMemoIsOneEmptyLine)
{
    ASSERT_TRUE(CreateEmptyMemo(MemoFile()));
    EXPECT_EQ(Get("Cat/Text/00000001.txt"), QByteArray("\r\n"));
    const auto memo = ReadMemo(MemoFile());
    ASSERT_TRUE(memo.has_value());
    EXPECT_EQ(memo->text, "\n");
}

TEST_F(MemoTest, EncodeFollowsStringListRule)
{
    EXPECT_EQ(EncodeMemo(""), QByteArray());
    EXPECT_EQ(EncodeMemo("\n"), QByteArray("\r\n"));
    EXPECT_EQ(EncodeMemo("a\nb"), QByteArray("a\r\nb\r\n"));
    EXPECT_EQ(EncodeMemo("a\n"), QByteArray("a\r\n"));
    EXPECT_EQ(EncodeMemo("a\n\n"), QByteArray("a\r\n\r\n"));
    EXPECT_EQ(EncodeMemo("\n\n"), QByteArray("\r\n\r\n"));
    EXPECT_EQ(EncodeMemo("a\r\nb\rc"), QByteArray("a\r\nb\r\nc\r\n"));
}

TEST_F(MemoTest, EncodesCp932)
{
    EXPECT_EQ(EncodeMemo(U("ｽｷｬﾅ読込\n①㈱髙～＼")),
              QByteArray("\xBD\xB7\xAC\xC5\x93\xC7\x8D\x9E\r\n\x87\x40\x87\x8A\xFB\xFC\x81\x60\x81\x5F\r\n"));
    EXPECT_EQ(EncodeMemo(U("〜")), QByteArray("\x81\x60\r\n"));  // wave dash, best fit
}

TEST_F(MemoTest, ReadsCp932)
{
    Put("Cat/Text/00000001.txt", "\xBD\xB7\xAC\xC5\r\n\x87\x40\x87\x8A\xFB\xFC\x81\x60\x81\x5F\r\n");
    const auto memo = ReadMemo(MemoFile());
    ASSERT_TRUE(memo.has_value());
    EXPECT_EQ(memo->text, U("ｽｷｬﾅ\n①㈱髙～＼\n"));
}

TEST_F(MemoTest, EditedMemoIsEncoded)
{
    Put("Cat/Text/00000001.txt", "\r\n");
    const auto memo = ReadMemo(MemoFile());
    ASSERT_TRUE(memo.has_value());
    ASSERT_TRUE(WriteMemo(MemoFile(), U("請求書 ①\n"), &*memo));
    EXPECT_EQ(Get("Cat/Text/00000001.txt"), QByteArray("\x90\xBF\x8B\x81\x8F\x91 \x87\x40\r\n"));
    ASSERT_TRUE(WriteMemo(MemoFile(), U(""), &*memo));
    EXPECT_EQ(Get("Cat/Text/00000001.txt"), QByteArray());
}

TEST_F(MemoTest, WriteWithoutLoadedMemoEncodes)
{
    ASSERT_TRUE(WriteMemo(MemoFile(), "x", nullptr));
    EXPECT_EQ(Get("Cat/Text/00000001.txt"), QByteArray("x\r\n"));
}

TEST_F(MemoTest, UneditedMemoRoundTripsByteForByte)
{
    const QList<QByteArray> cases{
        QByteArray(),                                         // empty file
        QByteArray("\r\n"),                                   // new page's memo
        QByteArray("no final break"),                         // missing final CR LF
        QByteArray("lf\nonly\n"),                             // LF line ends
        QByteArray("cr\ronly"),                               // CR line ends
        QByteArray("\xED\x40\xFA\x5C\r\n"),                   // NEC-selected and IBM 纊
        QByteArray("\x87\x90\x81\xE0"),                       // ≒ NEC row 13 and JIS
        QByteArray("\xEE\xF9\xFA\x54\x81\xCA"),               // ￢ three ways
        QByteArray("\x81\x60\x81\x5F\xBD\xB7\xAC\xC5\r\n"),   // ～＼ｽｷｬﾅ
        QByteArray("bad \x80\xA0\xFD\xFE\xFF\x85\x40 end\x81", 17),  // invalid bytes
        QByteArray("nul\0inside\r\n", 13),
        QByteArray("\x1A\x1C\x7F", 3),                        // control codes
    };
    for (const QByteArray& bytes : cases)
        EXPECT_EQ(RoundTrip(bytes), bytes);
}

TEST_F(MemoTest, UnchangedTextWithDifferentLoadedMemoStillUsesRaw)
{
    // Only an unchanged text writes the loaded bytes; a change re-encodes all.
    Put("Cat/Text/00000001.txt", "\xED\x40\r\nabc");
    const auto memo = ReadMemo(MemoFile());
    ASSERT_TRUE(memo.has_value());
    EXPECT_EQ(memo->text, U("纊\nabc"));
    ASSERT_TRUE(WriteMemo(MemoFile(), U("纊\nabcd"), &*memo));
    EXPECT_EQ(Get("Cat/Text/00000001.txt"), QByteArray("\xFA\x5C\r\nabcd\r\n"));
}

TEST_F(MemoTest, WriteReplacesMemoInExistingCase)
{
    Put("Cat/Text/00000001.TXT", "old\r\n");
    ASSERT_TRUE(WriteMemo(MemoFile("00000001.txt"), "new", nullptr));
    EXPECT_EQ(Get("Cat/Text/00000001.TXT"), QByteArray("new\r\n"));
    EXPECT_EQ(Entries("Cat/Text"), QStringList{"00000001.TXT"});
}

TEST_F(MemoTest, NormalizeLineBreaks)
{
    EXPECT_EQ(NormalizeLineBreaks("a\r\nb\rc\nd\n\re"), "a\nb\nc\nd\n\ne");
    EXPECT_EQ(NormalizeLineBreaks("plain"), "plain");
}

}  // namespace
