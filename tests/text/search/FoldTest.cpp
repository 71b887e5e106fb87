// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/Fold.h"

#include <gtest/gtest.h>

namespace {

QString F(const QString& s) { return QString::fromUtf8(Folded(s)); }

struct FoldCase {
    const char* name;
    QString text;
    QString folded;
};

class FoldTable : public testing::TestWithParam<FoldCase> {};

TEST_P(FoldTable, Folds)
{
    EXPECT_EQ(F(GetParam().text), GetParam().folded);
}

INSTANTIATE_TEST_SUITE_P(
    Fold, FoldTable,
    testing::Values(FoldCase{"FullWidthLatin", QStringLiteral("ＩＮＶ"), QStringLiteral("inv")},
                    FoldCase{"Case", QStringLiteral("Invoice"), QStringLiteral("invoice")},
                    FoldCase{"HalfWidthKana", QStringLiteral("ｶﾅ"), QStringLiteral("かな")},
                    FoldCase{"Katakana", QStringLiteral("カナ"), QStringLiteral("かな")},
                    FoldCase{"HalfWidthVoiced", QStringLiteral("ｶﾞｽﾞﾊﾟ"), QStringLiteral("がずぱ")},
                    FoldCase{"CombiningVoiced", QStringLiteral("カ\u3099"), QStringLiteral("が")},
                    FoldCase{"Compatibility", QStringLiteral("㈱①"), QStringLiteral("(株)1")},
                    FoldCase{"SpacesBetweenKanji", QStringLiteral("請 求\u3000書"), QStringLiteral("請求書")},
                    FoldCase{"SpaceRunsAsOne", QStringLiteral(" inv \t\n 2024 "), QStringLiteral("inv 2024")},
                    FoldCase{"SpaceBetweenKanjiAndLatin", QStringLiteral("請求書 2024"), QStringLiteral("請求書 2024")},
                    FoldCase{"RegexCharacters", QStringLiteral(".*[a]+(?)\\"), QStringLiteral(".*[a]+(?)\\")},
                    FoldCase{"LoneSurrogates", QString(QChar(0xD800)) + u'a' + QChar(0xDC00),
                             QStringLiteral("\uFFFDa\uFFFD")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Fold, MapsBackToTheOriginal)
{
    const QString text = QStringLiteral("xx ㈱ｶﾞｽ");
    const FoldedText f = FoldText(text, true);
    ASSERT_EQ(f.from.size(), size_t(f.text.size()));
    const QByteArray kabu = QStringLiteral("株").toUtf8();
    const int at = int(f.text.indexOf(kabu));
    ASSERT_GE(at, 0);
    EXPECT_EQ(OriginalRange(f, at, at + int(kabu.size())), std::make_pair(3, 4));  // all of ㈱
    const QByteArray ga = QStringLiteral("が").toUtf8();
    const int g = int(f.text.indexOf(ga));
    EXPECT_EQ(OriginalRange(f, g, g + int(ga.size())), std::make_pair(4, 6));  // ｶ and ﾞ
}

TEST(Fold, LongHostileQueryIsLiteral)
{
    QString query;
    for (int i = 0; i < 10000; ++i)
        query += QChar(i % 3 == 0 ? 0xD83D : (i % 3 == 1 ? u'*' : 0xFF76));
    const FoldedText f = FoldText(query, true);
    EXPECT_FALSE(f.text.isEmpty());
    EXPECT_TRUE(QString::fromUtf8(f.text).toUtf8() == f.text);  // valid UTF-8
    EXPECT_EQ(f.from.size(), size_t(f.text.size()));
}

}  // namespace
