// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Decimal.h"

#include <limits>

namespace {

template <typename At>
int32_t ParseDecimalImpl(qsizetype size, At at)
{
    qsizetype i = 0;
    while (i < size) {
        const char16_t c = at(i);
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f')
            ++i;
        else
            break;
    }
    bool negative = false;
    if (i < size && (at(i) == u'-' || at(i) == u'+')) {
        negative = at(i) == u'-';
        ++i;
    }
    int64_t value = 0;
    const int64_t limit = negative ? -int64_t(std::numeric_limits<int32_t>::min())
                                   : int64_t(std::numeric_limits<int32_t>::max());
    while (i < size) {
        const char16_t c = at(i);
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + (c - u'0');
        if (value > limit)
            value = limit;
        ++i;
    }
    return int32_t(negative ? -value : value);
}

}  // namespace

int32_t ParseDecimal(const QString& text)
{
    return ParseDecimalImpl(text.size(), [&](qsizetype i) { return text.at(i).unicode(); });
}

int32_t ParseDecimal(const QByteArray& text)
{
    return ParseDecimalImpl(text.size(), [&](qsizetype i) { return char16_t(uint8_t(text.at(i))); });
}

int ScaleSide(int side, double scale)
{
    const long double product = static_cast<long double>(side) * static_cast<long double>(scale);
    if (product >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (product <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(product);
}
