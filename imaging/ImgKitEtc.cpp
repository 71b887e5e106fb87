// SPDX-License-Identifier: GPL-3.0-or-later
// Image operations of the image library: information record, colour
// conversion, rotation, scaling, copying, brightness and colour offsets,
// clipping, clipboard and release.

#include "imaging/ImgKit.h"

#include "imaging/RowBands.h"


#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A checked view of a block: its layout plus row addressing by picture row
// (0 = top), which is memory row height - 1 - y.
struct DibView {
    DibLayout l;
    uint8_t* bits = nullptr;

    uint8_t* Row(int y) const { return bits + std::size_t(l.height - 1 - y) * std::size_t(l.stride); }
    // Bytes of a row that hold pixels (the rest up to the stride is padding).
    std::size_t RowBytes() const { return (std::size_t(l.width) * std::size_t(l.bitCount) + 7) / 8; }
    uint8_t* Table() const { return bits - std::size_t(l.colorCount) * 4; }
};

DibView ViewOf(const ImageHandle& image)
{
    DibView v;
    v.l = DibLayoutOf(image);
    if (v.l.valid)
        v.bits = const_cast<uint8_t*>(image.Data()) + v.l.bitsOffset;
    return v;
}

// A new block of the given size with the depth, colour table and resolution
// fields of `src`; pixels zero.
ImageHandle NewLike(const ImageHandle& srcImage, const DibView& src, int width, int height, bool swapResolution = false)
{
    ImageHandle out = ImageHandle::NewDib(width, height, src.l.bitCount, src.l.colorCount);
    if (!out)
        return out;
    std::memcpy(out.Data() + 40, src.Table(), std::size_t(src.l.colorCount) * 4);
    const BitmapInfoHeader& sh = *srcImage.Header();
    BitmapInfoHeader& dh = *out.Header();
    dh.biXPelsPerMeter = swapResolution ? sh.biYPelsPerMeter : sh.biXPelsPerMeter;
    dh.biYPelsPerMeter = swapResolution ? sh.biXPelsPerMeter : sh.biYPelsPerMeter;
    return out;
}

// Palette index of pixel x in a 1-, 4- or 8-bit row.
inline int GetIndex(const uint8_t* row, int x, int bits)
{
    switch (bits) {
    case 8: return row[x];
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

inline void SetIndex(uint8_t* row, int x, int bits, int v)
{
    switch (bits) {
    case 8: row[x] = uint8_t(v); break;
    case 4:
        if (x & 1)
            row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (v & 0x0F));
        else
            row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | (v << 4));
        break;
    default: {
        const uint8_t mask = uint8_t(0x80 >> (x & 7));
        row[x >> 3] = v ? uint8_t(row[x >> 3] | mask) : uint8_t(row[x >> 3] & ~mask);
    }
    }
}

// Copies one pixel between rows of the same depth.
template <int Bits>
inline void CopyPixel(const uint8_t* srcRow, int sx, uint8_t* dstRow, int dx)
{
    if constexpr (Bits == 24) {
        const uint8_t* s = srcRow + 3 * sx;
        uint8_t* d = dstRow + 3 * dx;
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    } else if constexpr (Bits == 8) {
        dstRow[dx] = srcRow[sx];
    } else {
        SetIndex(dstRow, dx, Bits, GetIndex(srcRow, sx, Bits));
    }
}

// dst(dx, dy) = src(map(dx, dy)) for every destination pixel, walked in
// 64 x 64 tiles so that the column-wise reads of a quarter turn stay in cache.
template <int Bits, class Map>
void Remap(const DibView& src, const DibView& dst, Map map)
{
    constexpr int kTile = 64;
    for (int ty = 0; ty < dst.l.height; ty += kTile) {
        const int yEnd = std::min(ty + kTile, dst.l.height);
        for (int tx = 0; tx < dst.l.width; tx += kTile) {
            const int xEnd = std::min(tx + kTile, dst.l.width);
            for (int dy = ty; dy < yEnd; ++dy) {
                uint8_t* d = dst.Row(dy);
                for (int dx = tx; dx < xEnd; ++dx) {
                    const auto [sx, sy] = map(dx, dy);
                    CopyPixel<Bits>(src.Row(sy), sx, d, dx);
                }
            }
        }
    }
}

template <class Map>
void RemapAnyDepth(const DibView& src, const DibView& dst, Map map)
{
    switch (src.l.bitCount) {
    case 24: Remap<24>(src, dst, map); break;
    case 8: Remap<8>(src, dst, map); break;
    case 4: Remap<4>(src, dst, map); break;
    default: Remap<1>(src, dst, map); break;
    }
}

// Clears the bits beyond the last pixel in the last byte of every row of a
// 1- or 4-bit block, so that copies of a block compare equal byte for byte.
void ClearTailBits(const DibView& v)
{
    const int usedBits = int((int64_t(v.l.width) * v.l.bitCount) % 8);
    if (usedBits == 0)
        return;
    const uint8_t mask = uint8_t(0xFF << (8 - usedBits));
    const std::size_t last = v.RowBytes() - 1;
    for (int y = 0; y < v.l.height; ++y)
        v.Row(y)[last] &= mask;
}

bool IsGreyRamp(const DibView& v)
{
    if (v.l.bitCount != 8 || v.l.colorCount != 256)
        return false;
    const uint8_t* t = v.Table();
    for (int i = 0; i < 256; ++i)
        if (t[4 * i] != i || t[4 * i + 1] != i || t[4 * i + 2] != i)
            return false;
    return true;
}

// --- Scaling ---------------------------------------------------------------

constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;

// Source pixels and fixed-point weights that make up each target pixel along
// one axis. Weights are non-negative and sum to exactly kWeightOne per target
// pixel.
struct Contributions {
    std::vector<int> first;    // first source index of target i
    std::vector<int> count;    // number of source pixels of target i
    std::vector<int> offset;   // start of target i's weights in `weight`
    std::vector<int32_t> weight;
};

Contributions BuildContributions(int srcSize, int dstSize)
{
    Contributions c;
    c.first.resize(std::size_t(dstSize));
    c.count.resize(std::size_t(dstSize));
    c.offset.resize(std::size_t(dstSize));
    std::vector<double> w;
    const double scale = double(srcSize) / double(dstSize);
    for (int i = 0; i < dstSize; ++i) {
        w.clear();
        int first = 0;
        if (dstSize < srcSize) {
            // Area average: the target pixel covers [start, end) of the source.
            const double start = i * scale;
            const double end = std::min(double(srcSize), (i + 1) * scale);
            first = std::min(int(start), srcSize - 1);
            const int last = std::min(srcSize - 1, int(std::ceil(end)) - 1);
            for (int j = first; j <= last; ++j) {
                const double overlap = std::min(end, double(j + 1)) - std::max(start, double(j));
                w.push_back(std::max(0.0, overlap) / scale);
            }
        } else {
            // Bilinear with aligned pixel centres.
            double pos = (i + 0.5) * scale - 0.5;
            pos = std::clamp(pos, 0.0, double(srcSize - 1));
            first = int(pos);
            const double f = pos - first;
            if (f > 0 && first + 1 < srcSize) {
                w.push_back(1.0 - f);
                w.push_back(f);
            } else {
                w.push_back(1.0);
            }
        }
        c.first[std::size_t(i)] = first;
        c.count[std::size_t(i)] = int(w.size());
        c.offset[std::size_t(i)] = int(c.weight.size());
        int32_t sum = 0;
        std::size_t largest = c.weight.size();
        for (double x : w) {
            const auto q = int32_t(std::lround(x * kWeightOne));
            if (largest == c.weight.size() || q > c.weight[largest])
                largest = c.weight.size();
            c.weight.push_back(q);
            sum += q;
        }
        c.weight[largest] += kWeightOne - sum;  // rounding remainder to the heaviest tap
    }
    return c;
}

ImageHandle Scale24(const DibView& src, int dw, int dh)
{
    const int sw = src.l.width;
    const int sh = src.l.height;
    // The horizontal pass keeps 8 fraction bits in 16-bit intermediates.
    const uint64_t tmpCount = uint64_t(dw) * 3 * uint64_t(sh);
    if (tmpCount * sizeof(uint16_t) > 2 * uint64_t(kMaxDibBytes))
        return {};
    ImageHandle out = ImageHandle::NewDib(dw, dh, 24);
    if (!out)
        return out;
    const DibView dst = ViewOf(out);
    const Contributions cx = BuildContributions(sw, dw);
    const Contributions cy = BuildContributions(sh, dh);

    std::vector<uint16_t> tmp;
    try {
        tmp.resize(std::size_t(tmpCount));
    } catch (const std::bad_alloc&) {
        return {};
    }
    const std::size_t tmpStride = std::size_t(dw) * 3;
    // Both passes make each of their rows from the rows before them only.
    const std::size_t tmpBytes = std::size_t(tmpCount) * sizeof(uint16_t);
    ForRowBands(sh, std::size_t(src.l.stride) * std::size_t(sh) + tmpBytes, [&](int firstRow, int lastRow) {
        for (int y = firstRow; y < lastRow; ++y) {
            const uint8_t* s = src.Row(y);
            uint16_t* t = tmp.data() + std::size_t(y) * tmpStride;
            for (int x = 0; x < dw; ++x) {
                const int32_t* w = cx.weight.data() + cx.offset[std::size_t(x)];
                const uint8_t* p = s + 3 * std::size_t(cx.first[std::size_t(x)]);
                uint32_t b = 0, g = 0, r = 0;
                for (int k = 0, n = cx.count[std::size_t(x)]; k < n; ++k, p += 3) {
                    b += uint32_t(p[0]) * uint32_t(w[k]);
                    g += uint32_t(p[1]) * uint32_t(w[k]);
                    r += uint32_t(p[2]) * uint32_t(w[k]);
                }
                constexpr int kShift = kWeightBits - 8;
                t[3 * x] = uint16_t((b + (1u << (kShift - 1))) >> kShift);
                t[3 * x + 1] = uint16_t((g + (1u << (kShift - 1))) >> kShift);
                t[3 * x + 2] = uint16_t((r + (1u << (kShift - 1))) >> kShift);
            }
        }
    });
    ForRowBands(dh, tmpBytes + std::size_t(dst.l.stride) * std::size_t(dh), [&](int firstRow, int lastRow) {
        std::vector<uint32_t> acc(tmpStride);
        for (int y = firstRow; y < lastRow; ++y) {
            std::fill(acc.begin(), acc.end(), 0u);
            const int32_t* w = cy.weight.data() + cy.offset[std::size_t(y)];
            const int first = cy.first[std::size_t(y)];
            for (int k = 0, n = cy.count[std::size_t(y)]; k < n; ++k) {
                const uint16_t* t = tmp.data() + std::size_t(first + k) * tmpStride;
                const uint32_t wk = uint32_t(w[k]);
                for (std::size_t i = 0; i < tmpStride; ++i)
                    acc[i] += uint32_t(t[i]) * wk;
            }
            uint8_t* d = dst.Row(y);
            constexpr int kShift = kWeightBits + 8;
            for (std::size_t i = 0; i < tmpStride; ++i)
                d[i] = uint8_t(std::min<uint32_t>(255, (acc[i] + (1u << (kShift - 1))) >> kShift));
        }
    });
    return out;
}

// --- Colour tables and 24-bit bytes ---------------------------------------

// Applies a lookup table per channel (blue, green, red) to the colour bytes of
// a 24-bit image or to the colour table of a palette image. Padding, reserved
// bytes and pixel indices stay untouched.
void ApplyLuts(const DibView& v, const std::array<uint8_t, 256>& lb, const std::array<uint8_t, 256>& lg,
               const std::array<uint8_t, 256>& lr)
{
    if (v.l.bitCount != 24) {
        uint8_t* t = v.Table();
        for (int i = 0; i < v.l.colorCount; ++i) {
            t[4 * i] = lb[t[4 * i]];
            t[4 * i + 1] = lg[t[4 * i + 1]];
            t[4 * i + 2] = lr[t[4 * i + 2]];
        }
        return;
    }
    ForRowBands(v.l.height, std::size_t(v.l.stride) * std::size_t(v.l.height), [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint8_t* p = v.Row(y);
            for (int x = 0; x < v.l.width; ++x, p += 3) {
                p[0] = lb[p[0]];
                p[1] = lg[p[1]];
                p[2] = lr[p[2]];
            }
        }
    });
}

}  // namespace

bool ImgKitImageInfo(const ImageHandle& image, ImgKitInfo& info)
{
    const DibView v = ViewOf(image);
    if (!v.l.valid)
        return false;
    info.width = v.l.width;
    info.height = v.l.height;
    info.bitCount = v.l.bitCount;
    info.colorCount = v.l.colorCount;
    switch (v.l.bitCount) {
    case 1: info.colorType = kImgKitColorBilevel; break;
    case 4: info.colorType = kImgKitColorPalette4; break;
    case 8: info.colorType = IsGreyRamp(v) ? kImgKitColorGray8 : kImgKitColorPalette8; break;
    default: info.colorType = kImgKitColorFull; break;
    }
    return true;
}

ImageHandle ImgKitConvertColor(const ImageHandle& image, int bitCount)
{
    const DibView src = ViewOf(image);
    if (!src.l.valid || bitCount != 24)
        return {};
    if (src.l.bitCount == 24)
        return ImgKitCopy(image);
    ImageHandle out = ImageHandle::NewDib(src.l.width, src.l.height, 24);
    if (!out)
        return out;
    out.Header()->biXPelsPerMeter = image.Header()->biXPelsPerMeter;
    out.Header()->biYPelsPerMeter = image.Header()->biYPelsPerMeter;
    const DibView dst = ViewOf(out);

    // Full 256-entry table: indices past the block's colour table are black.
    std::array<std::array<uint8_t, 3>, 256> table{};
    const uint8_t* t = src.Table();
    for (int i = 0; i < std::min(src.l.colorCount, 256); ++i)
        table[std::size_t(i)] = {t[4 * i], t[4 * i + 1], t[4 * i + 2]};

    for (int y = 0; y < src.l.height; ++y) {
        const uint8_t* s = src.Row(y);
        uint8_t* d = dst.Row(y);
        for (int x = 0; x < src.l.width; ++x, d += 3) {
            const auto& c = table[std::size_t(GetIndex(s, x, src.l.bitCount))];
            d[0] = c[0];
            d[1] = c[1];
            d[2] = c[2];
        }
    }
    return out;
}

ImageHandle ImgKitRotation(const ImageHandle& image, int code)
{
    const DibView src = ViewOf(image);
    if (!src.l.valid || code < 0 || code > 4)
        return {};
    const int w = src.l.width;
    const int h = src.l.height;
    const bool quarter = code == kImgKitRotateLeft || code == kImgKitRotateRight;
    ImageHandle out = NewLike(image, src, quarter ? h : w, quarter ? w : h, quarter);
    if (!out)
        return out;
    const DibView dst = ViewOf(out);
    struct P {
        int x, y;
    };
    switch (code) {
    case kImgKitRotateLeft:  // source (x, y) lands on (y, w - 1 - x)
        RemapAnyDepth(src, dst, [w](int dx, int dy) { return P{w - 1 - dy, dx}; });
        break;
    case kImgKitRotateRight:  // source (x, y) lands on (h - 1 - y, x)
        RemapAnyDepth(src, dst, [h](int dx, int dy) { return P{dy, h - 1 - dx}; });
        break;
    case kImgKitRotate180:
        RemapAnyDepth(src, dst, [w, h](int dx, int dy) { return P{w - 1 - dx, h - 1 - dy}; });
        break;
    case kImgKitMirror:
        RemapAnyDepth(src, dst, [w](int dx, int dy) { return P{w - 1 - dx, dy}; });
        break;
    case kImgKitFlipVertical: {
        const std::size_t n = src.RowBytes();
        for (int y = 0; y < h; ++y)
            std::memcpy(dst.Row(y), src.Row(h - 1 - y), n);
        ClearTailBits(dst);
        break;
    }
    }
    return out;
}

ImageHandle ImgKitImageSize(const ImageHandle& image, int width, int height)
{
    const DibView src = ViewOf(image);
    if (!src.l.valid || width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        return {};
    if (src.l.bitCount == 24)
        return Scale24(src, width, height);
    const ImageHandle full = ImgKitConvertColor(image, 24);
    if (!full)
        return {};
    return Scale24(ViewOf(full), width, height);
}

ImageHandle ImgKitCopy(const ImageHandle& image)
{
    const DibView src = ViewOf(image);
    if (!src.l.valid)
        return {};
    ImageHandle out = NewLike(image, src, src.l.width, src.l.height);
    if (!out)
        return out;
    const DibView dst = ViewOf(out);
    const std::size_t n = src.RowBytes();
    for (int y = 0; y < src.l.height; ++y)
        std::memcpy(dst.Row(y), src.Row(y), n);  // padding stays zero
    ClearTailBits(dst);
    return out;
}

bool ImgKitBright(ImageHandle& image, double step)
{
    const DibView v = ViewOf(image);
    if (!v.l.valid || !std::isfinite(step))
        return false;
    std::array<uint8_t, 256> lut{};
    for (int i = 0; i < 256; ++i) {
        const double x = step >= 0 ? i + (255 - i) * step : i * (1 + step);
        lut[std::size_t(i)] = uint8_t(std::clamp(std::trunc(x), 0.0, 255.0));
    }
    ApplyLuts(v, lut, lut, lut);
    return true;
}

bool ImgKitRGB(ImageHandle& image, int red, int green, int blue)
{
    const DibView v = ViewOf(image);
    if (!v.l.valid)
        return false;
    auto makeLut = [](int offset) {
        offset = std::clamp(offset, -255, 255);
        std::array<uint8_t, 256> lut{};
        for (int i = 0; i < 256; ++i)
            lut[std::size_t(i)] = uint8_t(std::clamp(i + offset, 0, 255));
        return lut;
    };
    ApplyLuts(v, makeLut(blue), makeLut(green), makeLut(red));
    return true;
}

ImageHandle ImgKitRectCut(const ImageHandle& image, int left, int top, int right, int bottom)
{
    const DibView src = ViewOf(image);
    if (!src.l.valid)
        return {};
    const int x0 = std::max(left, 0);
    const int y0 = std::max(top, 0);
    const int x1 = std::min(right, src.l.width);
    const int y1 = std::min(bottom, src.l.height);
    if (x1 <= x0 || y1 <= y0)
        return {};
    ImageHandle out = NewLike(image, src, x1 - x0, y1 - y0);
    if (!out)
        return out;
    const DibView dst = ViewOf(out);
    const int bits = src.l.bitCount;
    for (int y = y0; y < y1; ++y) {
        const uint8_t* s = src.Row(y);
        uint8_t* d = dst.Row(y - y0);
        if (bits >= 8 || (int64_t(x0) * bits) % 8 == 0) {
            // Byte-aligned start: whole bytes, tail bits cleared below.
            const std::size_t from = std::size_t(x0) * std::size_t(bits) / 8;
            std::memcpy(d, s + from, dst.RowBytes());
        } else {
            for (int x = x0; x < x1; ++x)
                SetIndex(d, x - x0, bits, GetIndex(s, x, bits));
        }
    }
    ClearTailBits(dst);
    return out;
}

void ImgKitMemFree(ImageHandle& image)
{
    image.Reset();
}

bool ImgKitMakeFullColour(ImageHandle& image)
{
    ImgKitInfo info{};
    if (!ImgKitImageInfo(image, info))
        return false;
    if (info.colorType == kImgKitColorFull)
        return true;
    return ReplaceImage(image, ImgKitConvertColor(image, 24)) && ImgKitImageInfo(image, info)
           && info.colorType == kImgKitColorFull;
}

bool ReplaceImage(ImageHandle& current, ImageHandle&& result)
{
    if (!result)
        return false;
    current = std::move(result);
    return true;
}
