// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/Fold.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace {

const icu::Normalizer2* Nfkc()
{
    // ICU gives out one shared, immutable instance: safe from every thread.
    static const icu::Normalizer2* instance = [] {
        UErrorCode error = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFKCCasefoldInstance(error);
        return U_SUCCESS(error) ? n : nullptr;
    }();
    return instance;
}

bool IsSpace(UChar32 c)
{
    return c <= 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || (c > 0x9F && u_isUWhiteSpace(c));
}

// Written without spaces between them: ideographs, kana, CJK punctuation.
bool IsUnspaced(UChar32 c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
           || (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0x20000 && c <= 0x3FFFF);
}

UChar32 KanaFolded(UChar32 c)
{
    if ((c >= 0x30A1 && c <= 0x30F6) || c == 0x30FD || c == 0x30FE)
        return c - 0x60;
    return c;
}

class Writer {
public:
    Writer(FoldedText& out, bool map) : out_(out), map_(map) {}

    void Put(UChar32 c, int from, int to)
    {
        if (IsSpace(c)) {
            if (!out_.text.isEmpty() && !pending_) {
                pending_ = true;
                spaceFrom_ = from;
            }
            spaceTo_ = to;
            return;
        }
        c = KanaFolded(c);
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (pending_) {
            pending_ = false;
            if (!(IsUnspaced(last_) && IsUnspaced(c)))
                Byte(' ', spaceFrom_, spaceTo_);
        }
        last_ = c;
        if (c < 0x80) {
            Byte(char(c), from, to);
        } else if (c < 0x800) {
            Byte(char(0xC0 | (c >> 6)), from, to);
            Byte(char(0x80 | (c & 0x3F)), from, to);
        } else if (c < 0x10000) {
            Byte(char(0xE0 | (c >> 12)), from, to);
            Byte(char(0x80 | ((c >> 6) & 0x3F)), from, to);
            Byte(char(0x80 | (c & 0x3F)), from, to);
        } else {
            Byte(char(0xF0 | (c >> 18)), from, to);
            Byte(char(0x80 | ((c >> 12) & 0x3F)), from, to);
            Byte(char(0x80 | ((c >> 6) & 0x3F)), from, to);
            Byte(char(0x80 | (c & 0x3F)), from, to);
        }
    }

private:
    void Byte(char b, int from, int to)
    {
        out_.text.append(b);
        if (map_) {
            out_.from.push_back(from);
            out_.to.push_back(to);
        }
    }

    FoldedText& out_;
    bool map_;
    bool pending_ = false;
    int spaceFrom_ = 0;
    int spaceTo_ = 0;
    UChar32 last_ = 0;
};

// The code point at i (a lone surrogate stands for itself) and its length.
inline UChar32 CodePointAt(QStringView s, qsizetype i, int* length)
{
    const char16_t u = s[i].unicode();
    if (QChar::isHighSurrogate(u) && i + 1 < s.size() && QChar::isLowSurrogate(s[i + 1].unicode())) {
        *length = 2;
        return QChar::surrogateToUcs4(u, s[i + 1].unicode());
    }
    *length = 1;
    return u;
}

}  // namespace

FoldedText FoldText(QStringView text, bool withMap)
{
    FoldedText out;
    out.text.reserve(text.size() + text.size() / 2);
    if (withMap) {
        out.from.reserve(text.size() * 2);
        out.to.reserve(text.size() * 2);
    }
    Writer writer(out, withMap);
    const icu::Normalizer2* nfkc = Nfkc();
    icu::UnicodeString chunk;
    icu::UnicodeString normalized;
    const qsizetype n = text.size();
    qsizetype i = 0;
    int length = 0;
    UChar32 c = n > 0 ? CodePointAt(text, 0, &length) : 0;
    while (i < n) {
        // A chunk runs to the next code point that starts a new composition.
        const qsizetype start = i;
        const UChar32 first = c;
        const int firstLength = length;
        qsizetype j = i + length;
        bool single = true;
        while (j < n) {
            c = CodePointAt(text, j, &length);
            if (c < 0x300 || !nfkc || nfkc->hasBoundaryBefore(c))
                break;
            single = false;
            j += length;
        }
        i = j;
        const int from = int(start);
        const int to = int(j);
        if (single) {
            if (first < 0x80) {
                writer.Put(first >= 'A' && first <= 'Z' ? first + 0x20 : first, from, to);
                continue;
            }
            if (!nfkc || (first >= 0x4E00 && first <= 0x9FFF) || (first >= 0x3041 && first <= 0x3096)
                || (first >= 0x30A1 && first <= 0x30FA) || (first >= 0xD800 && first <= 0xDFFF)
                || nfkc->isInert(first)) {
                writer.Put(first, from, to);
                continue;
            }
        }
        chunk.remove();
        for (qsizetype k = start; k < j;) {
            int l = 0;
            const UChar32 cp = CodePointAt(text, k, &l);
            chunk.append(cp >= 0xD800 && cp <= 0xDFFF ? UChar32(0xFFFD) : cp);
            k += l;
        }
        Q_UNUSED(firstLength);
        UErrorCode error = U_ZERO_ERROR;
        normalized.remove();
        nfkc->normalize(chunk, normalized, error);
        const icu::UnicodeString& result = U_SUCCESS(error) ? normalized : chunk;
        for (int32_t k = 0; k < result.length();) {
            const UChar32 cp = result.char32At(k);
            writer.Put(cp, from, to);
            k += U16_LENGTH(cp);
        }
    }
    return out;
}

std::pair<int, int> OriginalRange(const FoldedText& folded, int begin, int end)
{
    if (folded.from.empty() || begin < 0 || end <= begin || end > int(folded.from.size()))
        return {0, 0};
    return {folded.from[begin], folded.to[end - 1]};
}
