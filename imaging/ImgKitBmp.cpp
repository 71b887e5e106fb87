// SPDX-License-Identifier: GPL-3.0-or-later
// BMP files: the reader and the writer, between the file bytes and the DIB
// block.
//
// The reader takes every flavour in use: the 12-byte OS/2 core header and
// the 40-, 52-, 56-, 108- and 124-byte Windows headers; 1, 4, 8 and 24 bits
// straight into a block of the same depth; 16 and 32 bits, plain or with
// bit fields, into a 24-bit block; RLE8 and RLE4 into 8- and 4-bit blocks.
// Whatever the file claims is checked against the bytes it has before
// anything is allocated or read, and a file that runs out early is no image
// (never a picture with a grey or black part where the data ended).

#include "imaging/ImgKit.h"

#include <bit>
#include <cstring>
#include <vector>

namespace {

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3, kBiAlphaBitFields = 6 };

// What the headers say, once checked against each other and the file size.
struct BmpLayout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = kBiRgb;
    int32_t xPels = 0;
    int32_t yPels = 0;
    int colors = 0;               // colour-table entries to take over
    std::size_t entryBytes = 4;   // 3 in OS/2 core files
    std::size_t tableOffset = 0;
    std::size_t pixelOffset = 0;
    uint32_t masks[4] = {};       // red, green, blue, alpha (16 and 32 bits)
};

bool Contiguous(uint32_t mask)
{
    const uint32_t m = mask >> std::countr_zero(mask);
    return (m & (m + 1)) == 0;
}

// Colour masks that are each one run of bits, all present, not overlapping
// and inside the pixel; an alpha mask of zero means no alpha.
bool MasksUsable(const uint32_t (&m)[4], int bitCount)
{
    const uint32_t inside = bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    uint32_t seen = 0;
    for (int i = 0; i < 4; ++i) {
        if (m[i] == 0) {
            if (i < 3)
                return false;
            continue;
        }
        if (!Contiguous(m[i]) || (m[i] & ~inside) || (m[i] & seen))
            return false;
        seen |= m[i];
    }
    return true;
}

bool ReadLayout(const uint8_t* data, std::size_t size, BmpLayout& l)
{
    if (size < 14 + 4 || data[0] != 'B' || data[1] != 'M')
        return false;
    const uint32_t headerSize = Le32(data + 14);
    if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108
        && headerSize != 124)
        return false;
    if (size < 14 + std::size_t(headerSize))
        return false;
    const uint8_t* h = data + 14;
    int64_t width = 0, height = 0;
    uint32_t used = 0;
    if (headerSize == 12) {
        width = Le16(h + 4);
        height = Le16(h + 6);
        l.bitCount = Le16(h + 10);
        l.entryBytes = 3;
        if (l.bitCount != 1 && l.bitCount != 4 && l.bitCount != 8 && l.bitCount != 24)
            return false;
    } else {
        width = int32_t(Le32(h + 4));
        height = int32_t(Le32(h + 8));
        l.bitCount = Le16(h + 14);
        l.compression = Le32(h + 16);
        l.xPels = int32_t(Le32(h + 24));
        l.yPels = int32_t(Le32(h + 28));
        used = Le32(h + 32);
    }
    l.topDown = height < 0;
    if (l.topDown)
        height = -height;
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        return false;
    l.width = int(width);
    l.height = int(height);

    const int bits = l.bitCount;
    std::size_t tableOffset = 14 + std::size_t(headerSize);
    switch (l.compression) {
    case kBiRgb:
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return false;
        if (bits == 16) {
            l.masks[0] = 0x7C00;
            l.masks[1] = 0x03E0;
            l.masks[2] = 0x001F;
        } else if (bits == 32) {
            l.masks[0] = 0xFF0000;
            l.masks[1] = 0x00FF00;
            l.masks[2] = 0x0000FF;
        }
        break;
    case kBiRle8:
    case kBiRle4:
        // Run-length data only ever runs bottom-up.
        if (bits != (l.compression == kBiRle8 ? 8 : 4) || l.topDown)
            return false;
        break;
    case kBiBitFields:
    case kBiAlphaBitFields: {
        if (bits != 16 && bits != 32)
            return false;
        int count = l.compression == kBiBitFields ? 3 : 4;
        const uint8_t* m = h + 40;
        if (headerSize == 40) {
            // The masks follow the header, before any colour table.
            if (size < tableOffset + 4 * std::size_t(count))
                return false;
            tableOffset += 4 * std::size_t(count);
        } else {
            // Longer headers carry the masks themselves, from 56 bytes on with
            // an alpha mask as well.
            const int inHeader = headerSize >= 56 ? 4 : 3;
            if (count > inHeader)
                return false;
            count = inHeader;
        }
        for (int i = 0; i < count; ++i)
            l.masks[i] = Le32(m + 4 * i);
        if (!MasksUsable(l.masks, bits))
            return false;
        break;
    }
    default:
        return false;  // JPEG or PNG inside a BMP, CMYK, OS/2 Huffman and the like
    }

    if (bits <= 8)
        l.colors = (used == 0 || used > (1u << bits)) ? (1 << bits) : int(used);
    l.tableOffset = tableOffset;
    const std::size_t tableEnd = tableOffset + std::size_t(l.colors) * l.entryBytes;
    if (tableEnd > size)
        return false;
    l.pixelOffset = Le32(data + 10);
    if (l.pixelOffset < tableEnd)
        l.pixelOffset = tableEnd;  // a writer that left the offset out
    return l.pixelOffset <= size;
}

void CopyTable(const uint8_t* data, const BmpLayout& l, ImageHandle& dib)
{
    BitmapInfoHeader& h = *dib.Header();
    h.biXPelsPerMeter = l.xPels;
    h.biYPelsPerMeter = l.yPels;
    uint8_t* table = dib.Data() + 40;
    for (int i = 0; i < l.colors; ++i) {
        std::memcpy(table + 4 * i, data + l.tableOffset + l.entryBytes * std::size_t(i), 3);
        table[4 * i + 3] = 0;
    }
}

// 1, 4, 8 and 24 bits: the rows as they are, only put in bottom-up order.
ImageHandle DecodeSameDepth(const uint8_t* data, std::size_t size, const BmpLayout& l)
{
    const uint64_t stride = uint64_t(DibStride(l.width, l.bitCount));
    if (stride * uint64_t(l.height) > size - l.pixelOffset)
        return {};  // truncated
    ImageHandle dib = ImageHandle::NewDib(l.width, l.height, l.bitCount, l.colors);
    if (!dib)
        return {};
    CopyTable(data, l, dib);
    // Only the pixel bytes of each row are taken: the file's padding bytes
    // may hold anything, the block's stay zero.
    const std::size_t rowBytes = (std::size_t(l.width) * std::size_t(l.bitCount) + 7) / 8;
    const int tailBits = int((uint64_t(l.width) * uint64_t(l.bitCount)) % 8);
    uint8_t* bits = dib.Data() + 40 + std::size_t(l.colors) * 4;
    for (int i = 0; i < l.height; ++i) {
        const uint8_t* s = data + l.pixelOffset + std::size_t(i) * stride;
        uint8_t* d = bits + std::size_t(l.topDown ? l.height - 1 - i : i) * stride;
        std::memcpy(d, s, rowBytes);
        if (tailBits)
            d[rowBytes - 1] &= uint8_t(0xFF << (8 - tailBits));
    }
    return dib;
}

// One channel of a 16- or 32-bit pixel, scaled to 0..255 with rounding to
// the nearest value (0 stays 0, the largest value becomes 255). Channels of
// up to 16 bits go through a table made once per file.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    std::vector<uint8_t> table;

    explicit Channel(uint32_t m) : mask(m)
    {
        if (!m)
            return;
        shift = std::countr_zero(m);
        max = m >> shift;
        if (max <= 0xFFFF) {
            table.resize(std::size_t(max) + 1);
            for (uint32_t v = 0; v <= max; ++v)
                table[v] = uint8_t((v * 255u + max / 2) / max);
        }
    }
    uint8_t operator()(uint32_t pixel) const
    {
        const uint32_t v = (pixel & mask) >> shift;
        return table.empty() ? uint8_t((uint64_t(v) * 255 + max / 2) / max) : table[v];
    }
};

template <int kBytes>
uint32_t LoadPixel(const uint8_t* p)
{
    if constexpr (kBytes == 2)
        return Le16(p);
    else
        return Le32(p);
}

// A colour value laid over white at opacity a (0..255).
inline uint8_t OverWhite(uint32_t c, uint32_t a) { return uint8_t((c * a + 255 * (255 - a) + 127) / 255); }

template <int kBytes>
bool AnyAlpha(const uint8_t* src, std::size_t srcStride, const BmpLayout& l, uint32_t alphaMask)
{
    for (int y = 0; y < l.height; ++y) {
        const uint8_t* s = src + std::size_t(y) * srcStride;
        for (int x = 0; x < l.width; ++x)
            if (LoadPixel<kBytes>(s + kBytes * x) & alphaMask)
                return true;
    }
    return false;
}

template <int kBytes, bool kAlpha>
void ConvertMasked(const uint8_t* src, std::size_t srcStride, const BmpLayout& l, uint8_t* dst, std::size_t dstStride)
{
    const Channel r(l.masks[0]), g(l.masks[1]), b(l.masks[2]), a(kAlpha ? l.masks[3] : 0);
    for (int i = 0; i < l.height; ++i) {
        const uint8_t* s = src + std::size_t(i) * srcStride;
        uint8_t* d = dst + std::size_t(l.topDown ? l.height - 1 - i : i) * dstStride;
        for (int x = 0; x < l.width; ++x, s += kBytes, d += 3) {
            const uint32_t p = LoadPixel<kBytes>(s);
            uint8_t cr = r(p), cg = g(p), cb = b(p);
            if constexpr (kAlpha) {
                const uint32_t alpha = a(p);
                if (alpha != 255) {
                    cr = OverWhite(cr, alpha);
                    cg = OverWhite(cg, alpha);
                    cb = OverWhite(cb, alpha);
                }
            }
            d[0] = cb;
            d[1] = cg;
            d[2] = cr;
        }
    }
}

// 16 and 32 bits: every pixel through its masks into a 24-bit block.
ImageHandle DecodeMasked(const uint8_t* data, std::size_t size, const BmpLayout& l)
{
    const uint64_t srcStride = uint64_t(DibStride(l.width, l.bitCount));
    if (srcStride * uint64_t(l.height) > size - l.pixelOffset)
        return {};  // truncated
    ImageHandle dib = ImageHandle::NewDibForOverwrite(l.width, l.height, 24);
    if (!dib)
        return {};
    CopyTable(data, l, dib);
    const uint8_t* src = data + l.pixelOffset;
    uint8_t* dst = dib.Data() + 40;
    const std::size_t dstStride = std::size_t(DibStride(l.width, 24));
    // Many writers leave zeros in the alpha channel of opaque pictures.
    const bool alpha = l.masks[3] != 0
        && (l.bitCount == 16 ? AnyAlpha<2>(src, srcStride, l, l.masks[3]) : AnyAlpha<4>(src, srcStride, l, l.masks[3]));
    if (l.bitCount == 16) {
        if (alpha)
            ConvertMasked<2, true>(src, srcStride, l, dst, dstStride);
        else
            ConvertMasked<2, false>(src, srcStride, l, dst, dstStride);
    } else if (!alpha && l.masks[0] == 0xFF0000 && l.masks[1] == 0xFF00 && l.masks[2] == 0xFF) {
        // B, G, R and a byte to drop: what nearly every 32-bit file holds.
        for (int i = 0; i < l.height; ++i) {
            const uint8_t* s = src + std::size_t(i) * srcStride;
            uint8_t* d = dst + std::size_t(l.topDown ? l.height - 1 - i : i) * dstStride;
            for (int x = 0; x < l.width; ++x, s += 4, d += 3) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        }
    } else if (alpha) {
        ConvertMasked<4, true>(src, srcStride, l, dst, dstStride);
    } else {
        ConvertMasked<4, false>(src, srcStride, l, dst, dstStride);
    }
    return dib;
}

// RLE8 and RLE4 into a zero-filled block: only the pixels the stream names
// are written, so a file that claims a huge picture and holds little data
// costs little. Any step outside the picture, and a stream that ends before
// its end-of-bitmap marker, is damage.
bool ExpandRle(const uint8_t* p, const uint8_t* end, const BmpLayout& l, uint8_t* bits, std::size_t stride)
{
    const bool four = l.compression == kBiRle4;
    const int width = l.width, height = l.height;
    int x = 0, y = 0;
    auto put4 = [](uint8_t* row, int at, uint8_t v) {
        uint8_t& byte = row[at >> 1];
        byte = (at & 1) ? uint8_t((byte & 0xF0) | v) : uint8_t((byte & 0x0F) | (v << 4));
    };
    for (;;) {
        if (end - p < 2)
            return false;
        const int n = p[0];
        const uint8_t v = p[1];
        p += 2;
        if (n > 0) {  // a run of n pixels
            if (y >= height || n > width - x)
                return false;
            uint8_t* row = bits + std::size_t(y) * stride;
            if (!four) {
                std::memset(row + x, v, std::size_t(n));
            } else {
                const uint8_t pair[2] = {uint8_t(v >> 4), uint8_t(v & 15)};
                for (int i = 0; i < n; ++i)
                    put4(row, x + i, pair[i & 1]);
            }
            x += n;
            continue;
        }
        switch (v) {
        case 0:  // end of line
            if (y >= height)
                return false;
            ++y;
            x = 0;
            break;
        case 1:  // end of bitmap
            return true;
        case 2: {  // move right and up
            if (end - p < 2)
                return false;
            const int dx = p[0], dy = p[1];
            p += 2;
            if (dx > width - x || dy > height - y)
                return false;
            x += dx;
            y += dy;
            break;
        }
        default: {  // v pixels as they are, padded to a whole number of words
            const std::ptrdiff_t bytes = four ? (v + 1) / 2 : v;
            if (end - p < bytes + (bytes & 1))
                return false;
            if (y >= height || int(v) > width - x)
                return false;
            uint8_t* row = bits + std::size_t(y) * stride;
            if (!four) {
                std::memcpy(row + x, p, v);
            } else {
                for (int i = 0; i < v; ++i)
                    put4(row, x + i, (i & 1) ? uint8_t(p[i >> 1] & 15) : uint8_t(p[i >> 1] >> 4));
            }
            p += bytes + (bytes & 1);
            x += v;
            break;
        }
        }
    }
}

ImageHandle DecodeRle(const uint8_t* data, std::size_t size, const BmpLayout& l)
{
    ImageHandle dib = ImageHandle::NewDib(l.width, l.height, l.bitCount, l.colors);
    if (!dib)
        return {};
    CopyTable(data, l, dib);
    const std::size_t stride = std::size_t(DibStride(l.width, l.bitCount));
    if (!ExpandRle(data + l.pixelOffset, data + size, l, dib.Data() + 40 + std::size_t(l.colors) * 4, stride))
        return {};
    return dib;
}

}  // namespace

// --- BMP -------------------------------------------------------------------

ImageHandle ImgKitBmpDecode(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    BmpLayout l;
    if (!ReadLayout(data, size, l))
        return {};
    if (l.compression == kBiRle8 || l.compression == kBiRle4)
        return DecodeRle(data, size, l);
    if (l.bitCount == 16 || l.bitCount == 32)
        return DecodeMasked(data, size, l);
    return DecodeSameDepth(data, size, l);
}

bool ImgKitBmpEncode(const ImageHandle& image, QByteArray& out)
{
    const DibLayout l = DibLayoutOf(image);
    if (!l.valid)
        return false;
    const std::size_t tableBytes = std::size_t(l.colorCount) * 4;
    const std::size_t pixelBytes = std::size_t(l.stride) * std::size_t(l.height);
    const std::size_t total = 14 + 40 + tableBytes + pixelBytes;
    out.resize(qsizetype(total));
    if (out.size() != qsizetype(total))
        return false;
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = 'B';
    p[1] = 'M';
    PutLe32(p + 2, uint32_t(total));
    PutLe32(p + 6, 0);
    PutLe32(p + 10, uint32_t(14 + 40 + tableBytes));
    // A clean header: the block's own may carry a stale image size.
    const BitmapInfoHeader& src = *image.Header();
    uint8_t* h = p + 14;
    PutLe32(h, 40);
    PutLe32(h + 4, uint32_t(l.width));
    PutLe32(h + 8, uint32_t(l.height));
    PutLe16(h + 12, 1);
    PutLe16(h + 14, uint16_t(l.bitCount));
    PutLe32(h + 16, 0);
    PutLe32(h + 20, uint32_t(pixelBytes));
    PutLe32(h + 24, uint32_t(src.biXPelsPerMeter));
    PutLe32(h + 28, uint32_t(src.biYPelsPerMeter));
    PutLe32(h + 32, uint32_t(l.colorCount));
    PutLe32(h + 36, 0);
    std::memcpy(p + 54, image.Data() + 40, tableBytes);
    std::memcpy(p + 54 + tableBytes, image.Data() + l.bitsOffset, pixelBytes);
    return true;
}
