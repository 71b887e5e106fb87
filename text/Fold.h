// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one folding used for the text and the query: NFKC case folding, katakana
// as hiragana, and whitespace so that spacing does not hide Japanese words.
//
// Whitespace: any run of whitespace (and control characters) is one space, and
// none at all between two Japanese/Chinese characters ("請 求 書" is "請求書");
// leading and trailing whitespace is dropped. So "inv 2024" still needs some
// whitespace between the two in the text, and "inv2024" does not find "inv 2024".

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

struct FoldedText {
    QByteArray text;       // UTF-8, always valid (a lone surrogate is U+FFFD)
    std::vector<int> from; // with a map: per byte of text, the original range [from, to) in UTF-16 units
    std::vector<int> to;
};

FoldedText FoldText(QStringView text, bool withMap = false);

inline QByteArray Folded(QStringView text) { return FoldText(text).text; }

// The original range of the folded bytes [begin, end) (end > begin).
std::pair<int, int> OriginalRange(const FoldedText& folded, int begin, int end);
