// SPDX-License-Identifier: GPL-3.0-or-later
// The two resamplers of the high-quality scaling path.
//
// ResampleAverage, for destination pixel (x, y): with rx = sw x 1000 / dw
// and hx = rx / 2 (thousandths of a source pixel), cx = x x rx, the window
// runs from column x0 = (cx - hx + 500) / 1000 to column x1 = (cx + hx - 500)
// / 1000, plus one when that division leaves a remainder. Column x0 weighs
// 100 - ((cx - hx + 500) % 1000) / 10 percent, column x1 (when it is not x0)
// ((cx + hx - 500) % 1000) / 10, columns between 100; rows likewise. Each
// covered source pixel inside the image adds (column weight x row weight) x
// byte to its channel sum, and the destination byte is channel sum / weight
// sum, clamped to 0..255; a window of weight 0 leaves the pixel as it was.
// Division truncates toward zero and remainders keep the dividend's sign, so
// on the top and left edges the weights leave 0..100 (enlarging 10 columns
// to 20, column 0 takes 75 and -25 of source columns 0 and 1; reducing 20 to
// 10, 150 and 50) and the results are clamped.
//
// The weight of a pixel is a column weight times a row weight, and "inside
// the image" is a column test and a row test, so the sums separate exactly:
// for each destination row the window's source rows are first combined with
// the row weights (a pass over contiguous bytes, which SIMD does eight
// multiply-adds at a time), then each destination pixel sums its window's
// columns of that combined row with the column weights. The integers are the
// same as those of the direct double sum.

#include "imaging/Dib.h"
#include "imaging/RowBands.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The windows of one axis: per destination column (or row) the covered
// source indices inside the image and their percent weights.
struct AxisPlan {
    std::vector<int32_t> first;     // first covered source index
    std::vector<int32_t> count;     // covered indices; 0 when the window misses the image
    std::vector<int32_t> offset;    // position of the first weight in `weights`
    std::vector<int32_t> weights;
    std::vector<int64_t> weightSum;
    int64_t maxAbsSum = 0;          // largest sum of |weight| over one window
    int32_t maxCount = 0;
};

AxisPlan PlanAverageAxis(int srcLen, int dstLen)
{
    AxisPlan p;
    p.first.resize(dstLen);
    p.count.resize(dstLen);
    p.offset.resize(dstLen);
    p.weightSum.resize(dstLen);
    const int64_t r = int64_t(srcLen) * 1000 / dstLen;
    const int64_t h = r / 2;
    for (int d = 0; d < dstLen; ++d) {
        const int64_t c = d * r;
        const int64_t a = c - h + 500;
        const int64_t b = c + h - 500;
        const int64_t lo = a / 1000;
        const int64_t hi = b / 1000 + (b % 1000 != 0 ? 1 : 0);
        const int32_t loWeight = int32_t(100 - (a % 1000) / 10);
        const int32_t hiWeight = int32_t((b % 1000) / 10);
        const int64_t from = std::max<int64_t>(lo, 0);
        const int64_t to = std::min<int64_t>(hi, srcLen - 1);
        p.first[d] = int32_t(std::min<int64_t>(from, srcLen));  // kept in range when the window misses
        p.offset[d] = int32_t(p.weights.size());
        int64_t sum = 0;
        int64_t absSum = 0;
        for (int64_t i = from; i <= to; ++i) {
            // a one-index window (lo == hi) takes the left-edge rule
            const int32_t w = i == lo ? loWeight : i == hi ? hiWeight : 100;
            p.weights.push_back(w);
            sum += w;
            absSum += std::abs(w);
        }
        p.count[d] = int32_t(to >= from ? to - from + 1 : 0);
        p.weightSum[d] = sum;
        p.maxAbsSum = std::max(p.maxAbsSum, absSum);
        p.maxCount = std::max(p.maxCount, p.count[d]);
    }
    return p;
}

// A window covers at most every source index once: one leading weight
// (1..199), one trailing weight (-99..99) and 100 for the rest. So a source
// row combination is at most 255 x (100 x height + 98) in magnitude, which
// fits 32 bits for every height a block may have; and the weights fit 16 bits.
static_assert(255LL * (100LL * kMaxDibSide + 98) <= std::numeric_limits<int32_t>::max());

// out[i] = sum over k < n of weights[k] x rows[k][i], for i < len.
void CombineRows(int32_t* out, const uint8_t* const* rows, const int32_t* weights, int32_t n, std::size_t len)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // Bytes of two rows are interleaved as 16-bit pairs (a, b) and one
    // multiply-add per four pairs gives wa x a + wb x b in 32 bits.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= len; i += 16) {
        __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
        for (int32_t k = 0; k < n; k += 2) {
            const bool pair = k + 1 < n;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i b = pair ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + i)) : zero;
            const uint32_t wa = uint16_t(int16_t(weights[k]));
            const uint32_t wb = pair ? uint16_t(int16_t(weights[k + 1])) : 0;
            const __m128i w = _mm_set1_epi32(int32_t(wa | (wb << 16)));
            const __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
            const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(aLo, bLo), w));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(aLo, bLo), w));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(aHi, bHi), w));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(aHi, bHi), w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), acc0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), acc1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), acc2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 12), acc3);
    }
#endif
    for (; i < len; ++i) {
        int32_t acc = 0;
        for (int32_t k = 0; k < n; ++k)
            acc += weights[k] * rows[k][i];
        out[i] = acc;
    }
}

// floor(n / d) for 0 <= n < 2^31 and 1 <= d < 2^31 by one multiplication and
// a shift (Granlund and Montgomery): with l = ceil(log2 d) and m =
// ceil(2^(31 + l) / d), which is below 2^32, floor(n / d) = (n x m) >> (31 + l)
// exactly, and n x m fits 64 bits.
struct Divisor31 {
    Divisor31() = default;
    explicit Divisor31(int64_t d)
    {
        if (d < 1)
            return;
        int l = 0;
        while ((int64_t(1) << l) < d)
            ++l;
        shift = 31 + l;
        magic = ((uint64_t(1) << shift) + uint64_t(d) - 1) / uint64_t(d);
    }
    uint32_t operator()(uint32_t n) const { return uint32_t((n * magic) >> shift); }

    uint64_t magic = uint64_t(1) << 31;
    int shift = 31;
};

// The column windows, padded with zero weights to a fixed number of taps
// when that is small, so that the inner loop has a length the compiler
// unrolls; a padded window is moved left where it would run past the last
// column (every window fits: taps <= source width).
struct ColumnTaps {
    int taps = 0;                    // 0: windows too wide to pad; use the plan itself
    std::vector<int32_t> start;      // first source column of each padded window
    std::vector<int32_t> weights;    // taps per destination column
    std::vector<Divisor31> divisor;  // by the column weight sum
};

constexpr int kMaxFixedTaps = 8;

ColumnTaps PadColumns(const AxisPlan& cols, int srcWidth)
{
    ColumnTaps t;
    const std::size_t dw = cols.first.size();
    t.divisor.resize(dw);
    for (std::size_t x = 0; x < dw; ++x)
        t.divisor[x] = Divisor31(cols.weightSum[x]);
    if (cols.maxCount < 1 || cols.maxCount > kMaxFixedTaps)
        return t;
    t.taps = cols.maxCount;
    t.start.assign(dw, 0);
    t.weights.assign(dw * std::size_t(t.taps), 0);
    for (std::size_t x = 0; x < dw; ++x) {
        if (cols.count[x] == 0)
            continue;
        const int32_t start = std::min(cols.first[x], srcWidth - t.taps);
        t.start[x] = start;
        for (int32_t i = 0; i < cols.count[x]; ++i)
            t.weights[x * t.taps + std::size_t(cols.first[x] + i - start)] = cols.weights[cols.offset[x] + i];
    }
    return t;
}

// A window's weights never sum below zero. A negative weight is a right-edge
// weight with b = cx + hx - 500 < 0; then a = cx - hx + 500 lies in 1..999,
// so the window holds just columns 0 and 1, weighing 100 - a / 10 and
// -(-b / 10), and a + (-b) = 1000 - 2 x hx <= 1000 keeps their sum >= 0.
// So a weight sum is positive, or 0: the window counts nothing and the
// pixel keeps its bytes.
//
// sum / weight truncated toward zero and clamped to 0..255. The 64-bit sums
// come from windows of hundreds of source pixels or more, where a division
// per byte is a small part of the work.
inline uint8_t ByteQuotient(int64_t sum, int64_t weight)
{
    return uint8_t(std::clamp<int64_t>(sum / weight, 0, 255));
}

// The same for 32-bit sums, whose weights (column sum x row sum) are below
// 2^31 too, without a division: below zero the result clamps to 0, and
// above, floor(floor(s / row) / column) is floor(s / (row x column)).
inline uint8_t ByteQuotient(int32_t sum, const Divisor31& row, const Divisor31& column)
{
    const uint32_t q = column(row(uint32_t(std::max(sum, 0))));
    return uint8_t(std::min<uint32_t>(q, 255));
}

// The row's share of every pixel's weight sum.
struct RowWeight {
    int64_t sum;
    Divisor31 divisor;
};

// One destination row from the combined source row `combined` (blue, green,
// red int32 per source column). Acc holds the window sums: int32_t when the
// windows are small enough for every sum to fit (the usual case, and the
// fast one), int64_t otherwise; 64 bits hold any window, since 255 x
// (100 x 65535 + 98)^2 is about 1.1e16. K is the padded tap count, 0 for the
// unpadded plan.
template <typename Acc, int K>
void StoreRow(uint8_t* dst, const int32_t* combined, const AxisPlan& cols, const ColumnTaps& taps,
              const RowWeight& row)
{
    const int dw = int(cols.first.size());
    for (int x = 0; x < dw; ++x) {
        if (cols.weightSum[x] == 0)
            continue;
        Acc b = 0, g = 0, r = 0;
        if constexpr (K > 0) {
            const int32_t* p = combined + std::size_t(taps.start[x]) * 3;
            const int32_t* w = taps.weights.data() + std::size_t(x) * K;
            for (int k = 0; k < K; ++k) {
                b += Acc(w[k]) * p[3 * k];
                g += Acc(w[k]) * p[3 * k + 1];
                r += Acc(w[k]) * p[3 * k + 2];
            }
        } else {
            const int32_t* p = combined + std::size_t(cols.first[x]) * 3;
            const int32_t* w = cols.weights.data() + cols.offset[x];
            for (int32_t k = 0; k < cols.count[x]; ++k, p += 3) {
                b += Acc(w[k]) * p[0];
                g += Acc(w[k]) * p[1];
                r += Acc(w[k]) * p[2];
            }
        }
        uint8_t* px = dst + std::size_t(x) * 3;
        if constexpr (std::is_same_v<Acc, int32_t>) {
            const Divisor31& column = taps.divisor[x];
            px[0] = ByteQuotient(b, row.divisor, column);
            px[1] = ByteQuotient(g, row.divisor, column);
            px[2] = ByteQuotient(r, row.divisor, column);
        } else {
            const int64_t weight = cols.weightSum[x] * row.sum;
            px[0] = ByteQuotient(b, weight);
            px[1] = ByteQuotient(g, weight);
            px[2] = ByteQuotient(r, weight);
        }
    }
}

template <typename Acc>
using StoreRowFn = void (*)(uint8_t*, const int32_t*, const AxisPlan&, const ColumnTaps&, const RowWeight&);

template <typename Acc>
StoreRowFn<Acc> StoreRowFor(int taps)
{
    switch (taps) {
    case 1: return StoreRow<Acc, 1>;
    case 2: return StoreRow<Acc, 2>;
    case 3: return StoreRow<Acc, 3>;
    case 4: return StoreRow<Acc, 4>;
    case 5: return StoreRow<Acc, 5>;
    case 6: return StoreRow<Acc, 6>;
    case 7: return StoreRow<Acc, 7>;
    case 8: return StoreRow<Acc, 8>;
    default: return StoreRow<Acc, 0>;
    }
}
static_assert(kMaxFixedTaps == 8);

// The bytes a resample reads and writes, as ForRowBands weighs a pass.
std::size_t PassBytes(const DibLayout& d, const DibLayout& s)
{
    return std::size_t(s.stride) * std::size_t(s.height) + std::size_t(d.stride) * std::size_t(d.height);
}

template <typename Acc>
void AverageSeparable(ImageHandle& destination, const DibLayout& d, const ImageHandle& source, const DibLayout& s,
                      const AxisPlan& cols, const AxisPlan& rows)
{
    const uint8_t* srcBits = source.Data() + s.bitsOffset;
    uint8_t* dstBits = destination.Data() + d.bitsOffset;
    const ColumnTaps taps = PadColumns(cols, s.width);
    const StoreRowFn<Acc> store = StoreRowFor<Acc>(taps.taps);

    // Each destination row reads only the source and writes only itself.
    ForRowBands(d.height, PassBytes(d, s), [&](int firstRow, int lastRow) {
        std::vector<int32_t> combined(std::size_t(s.width) * 3);
        std::vector<const uint8_t*> window(std::size_t(std::max(rows.maxCount, 1)));
        for (int y = firstRow; y < lastRow; ++y) {
            const int64_t rowSum = rows.weightSum[y];
            if (rowSum == 0)
                continue;
            const int32_t n = rows.count[y];
            for (int32_t k = 0; k < n; ++k)
                window[k] = srcBits + std::size_t(s.height - 1 - (rows.first[y] + k)) * s.stride;
            CombineRows(combined.data(), window.data(), rows.weights.data() + rows.offset[y], n, combined.size());
            const RowWeight row{rowSum, Divisor31(rowSum)};
            store(dstBits + std::size_t(d.height - 1 - y) * d.stride, combined.data(), cols, taps, row);
        }
    });
}

bool BothWellFormed24(const DibLayout& a, const DibLayout& b)
{
    return a.valid && b.valid && a.bitCount == 24 && b.bitCount == 24;
}

}  // namespace

void ResampleAverage(ImageHandle& destination, const ImageHandle& source)
{
    const DibLayout d = DibLayoutOf(destination);
    const DibLayout s = DibLayoutOf(source);
    // A block resampled onto itself has equal sizes, which copies every pixel.
    if (!BothWellFormed24(d, s) || &destination == &source)
        return;

    const AxisPlan cols = PlanAverageAxis(s.width, d.width);
    const AxisPlan rows = PlanAverageAxis(s.height, d.height);
    // |window sum| <= 255 x (largest row-window |weight| sum) x (largest
    // column-window |weight| sum), and so is every partial sum and product;
    // 32-bit sums only when that bound allows.
    const int64_t bound = 255 * cols.maxAbsSum * rows.maxAbsSum;
    if (bound <= std::numeric_limits<int32_t>::max())
        AverageSeparable<int32_t>(destination, d, source, s, cols, rows);
    else
        AverageSeparable<int64_t>(destination, d, source, s, cols, rows);
}

void ResampleBilinear(ImageHandle& destination, const ImageHandle& source)
{
    const DibLayout d = DibLayoutOf(destination);
    const DibLayout s = DibLayoutOf(source);
    if (!BothWellFormed24(d, s) || &destination == &source)
        return;

    // For each destination column: the byte offset of source column px =
    // (x x rx) / 1000, of its right neighbour, and the fraction ux =
    // (x x rx) % 1000. Where no neighbour is taken (fraction 0, or the last
    // source column, which has none) the neighbour is the column itself with
    // fraction 0, which yields the column's own value; nothing is read
    // beyond the image. Rows likewise. With these, the one formula
    //   top = A + (B - A) x ux / 1000, bottom = C + (D - C) x ux / 1000,
    //   result = top + (bottom - top) x uy / 1000
    // gives exactly the copy, the one-way and the two-way interpolations.
    struct Tap {
        std::size_t at;
        std::size_t next;
        int32_t u;
    };
    auto plan = [](int srcLen, int dstLen, std::size_t step) {
        std::vector<Tap> taps(dstLen);
        const int64_t r = int64_t(srcLen) * 1000 / dstLen;
        for (int i = 0; i < dstLen; ++i) {
            const int64_t f = i * r;
            const int64_t p = f / 1000;
            const int32_t u = int32_t(f % 1000);
            const bool neighbour = u != 0 && p + 1 < srcLen;
            taps[i] = {std::size_t(p) * step, std::size_t(neighbour ? p + 1 : p) * step, neighbour ? u : 0};
        }
        return taps;
    };
    const std::vector<Tap> cols = plan(s.width, d.width, 3);
    const std::vector<Tap> rows = plan(s.height, d.height, 1);

    const uint8_t* srcBits = source.Data() + s.bitsOffset;
    uint8_t* dstBits = destination.Data() + d.bitsOffset;
    auto sourceRow = [&](std::size_t y) { return srcBits + (std::size_t(s.height) - 1 - y) * s.stride; };

    // A destination row reads two source rows; only the rows it writes are
    // read by the bands (a rough weight: two source rows per row written).
    const std::size_t work = std::size_t(d.stride) * std::size_t(d.height) * 3;
    ForRowBands(d.height, work, [&](int firstRow, int lastRow) {
        for (int y = firstRow; y < lastRow; ++y) {
            const uint8_t* upper = sourceRow(rows[y].at);
            const uint8_t* lower = sourceRow(rows[y].next);
            const int32_t uy = rows[y].u;
            uint8_t* dst = dstBits + std::size_t(d.height - 1 - y) * d.stride;
            for (int x = 0; x < d.width; ++x) {
                const Tap& t = cols[x];
                for (int c = 0; c < 3; ++c) {
                    const int32_t a = upper[t.at + c];
                    const int32_t b = upper[t.next + c];
                    const int32_t cc = lower[t.at + c];
                    const int32_t dd = lower[t.next + c];
                    const int32_t top = a + (b - a) * t.u / 1000;
                    const int32_t bottom = cc + (dd - cc) * t.u / 1000;
                    dst[3 * x + c] = uint8_t(top + (bottom - top) * uy / 1000);
                }
            }
        }
    });
}
