// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/Dib.h"

#include "imaging/RowBands.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

uint16_t Read16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t Read32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int32_t ReadS32(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Bytes per row by the DIB rule, for any (even nonsensical) header values.
int64_t StrideOf(int64_t width, int64_t bitCount)
{
    const int64_t n = width * bitCount;
    return n % 32 == 0 ? (n / 32) * 4 : (n / 32) * 4 + 4;
}

// A double truncated toward zero and clamped to a byte. Clamping first keeps
// the conversion defined for any value.
uint8_t TruncToByte(double v)
{
    if (!(v > 0.0))
        return 0;
    if (v >= 255.0)
        return 255;
    return uint8_t(int(v));
}

}  // namespace

TMDIB::TMDIB(ImageHandle& block) : block_(block), layout_(DibLayoutOf(block))
{
    Header = block.Data();
    const std::size_t size = block.Size();
    if (!Header || size < 4)
        return;

    PaletteBytes = 4 * ColorCount(Header);

    int64_t bitCount = 0;
    if (CoreHeader) {
        if (size >= 12) {
            Width = Read16(Header + 4);
            Height = Read16(Header + 6);
            bitCount = Read16(Header + 10);
        }
    } else if (size >= 40) {
        Width = ReadS32(Header + 4);
        Height = ReadS32(Header + 8);
        bitCount = Read16(Header + 14);
    }
    PixelCount = int32_t(int64_t(Width) * Height);
    switch (bitCount) {
    case 1: PixelFormat = pf1bit; break;
    case 4: PixelFormat = pf4bit; break;
    case 8: PixelFormat = pf8bit; break;
    case 24: PixelFormat = pf24bit; break;
    default: break;
    }
    // A damaged header may hold any width, height and bit count: the
    // products wrap (unsigned arithmetic) instead of overflowing, and such a
    // block is never operated on.
    const int64_t stride = StrideOf(Width, bitCount);
    Stride = int32_t(stride);
    const uint32_t sizeField = (!CoreHeader && size >= 40) ? Read32(Header + 20) : 0;
    ImageBytes = sizeField != 0 ? int32_t(sizeField) : int32_t(uint64_t(stride) * uint64_t(int64_t(Height)));

    // Offsets are formed in 64 bits; a pointer is set only when it lies in
    // the block (one past the end included), whatever the header claims.
    auto inBlock = [&](int64_t offset) -> uint8_t* {
        return offset >= 0 && uint64_t(offset) <= size ? Header + offset : nullptr;
    };
    const int64_t paletteAt = Read32(Header);
    const int64_t bitsAt = paletteAt + PaletteBytes;
    Palette = inBlock(paletteAt);
    Bits = inBlock(bitsAt);
    TopRow = inBlock(bitsAt + int64_t(ImageBytes) - Stride);
}

uint16_t TMDIB::ColorCount(const uint8_t* header)
{
    if (!header)
        return 0;
    const std::size_t avail = header == Header ? block_.Size() : std::numeric_limits<std::size_t>::max();
    if (avail < 4)
        return 0;
    uint16_t bitCount = 0;
    if (Read32(header) == 12) {
        if (avail < 12)
            return 0;
        CoreHeader = 1;
        bitCount = Read16(header + 10);
    } else {
        if (avail < 40)
            return 0;
        const uint32_t used = Read32(header + 32);
        if (used != 0)
            return uint16_t(used & 0xFFFF);
        bitCount = Read16(header + 14);
    }
    switch (bitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

std::optional<LogicalPalette> TMDIB::MakePalette(const uint8_t* header)
{
    if (!header)
        return std::nullopt;
    const std::size_t avail = header == Header ? block_.Size() : std::numeric_limits<std::size_t>::max();
    if (avail < 40 || Read32(header) != 40)
        return std::nullopt;

    const int count = ColorCount(header);
    if (count != 0) {
        if (40 + std::size_t(count) * 4 > avail)
            return std::nullopt;
        LogicalPalette palette;
        palette.entries.reserve(count);
        const uint8_t* entry = header + 40;
        for (int i = 0; i < count; ++i, entry += 4)
            palette.entries.append(qRgb(entry[2], entry[1], entry[0]));
        return palette;
    }
    if (Read16(header + 14) == 24) {
        LogicalPalette palette;
        palette.entries.reserve(256);
        for (int i = 0; i < 256; ++i)
            palette.entries.append(qRgb((i % 8) * 32, ((i / 8) % 8) * 32, (i / 64) * 64));
        return palette;
    }
    return std::nullopt;
}

bool TMDIB::ApplyTable(const uint8_t (&table)[256], int channel)
{
    if (!layout_.valid)
        return false;
    if (channel < 0 || channel > 3)
        return true;
    uint8_t* const block = block_.Data();

    if (layout_.bitCount == 24) {
        // In a row the bytes run blue, green, red: channel 1 (red) is byte 2
        // of each pixel, 2 (green) byte 1, 3 (blue) byte 0.
        const std::size_t colourBytes = std::size_t(layout_.width) * 3;
        const std::size_t stride = std::size_t(layout_.stride);
        const std::size_t offset = layout_.bitsOffset;
        ForRowBands(layout_.height, stride * std::size_t(layout_.height), [&](int first, int last) {
            for (int y = first; y < last; ++y) {
                uint8_t* row = block + offset + std::size_t(y) * stride;
                if (channel == 0) {
                    for (std::size_t j = 0; j < colourBytes; ++j)
                        row[j] = table[row[j]];
                } else {
                    for (std::size_t j = std::size_t(3 - channel); j < colourBytes; j += 3)
                        row[j] = table[row[j]];
                }
            }
        });
        return true;
    }

    // Palette images change colour only: blue, green and red of each entry
    // the depth can address; reserved bytes and pixel indices stay.
    const int entries = std::min(layout_.colorCount, 1 << layout_.bitCount);
    uint8_t* entry = block + 40;
    for (int i = 0; i < entries; ++i, entry += 4) {
        for (int b = 0; b < 3; ++b) {
            if (channel == 0 || b == 3 - channel)
                entry[b] = table[entry[b]];
        }
    }
    return true;
}

bool TMDIB::Contrast(int c)
{
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) {
        const int64_t r = (int64_t(c) + 100) * (v - 128) / 100 + 128;
        table[v] = uint8_t(std::clamp<int64_t>(r, 0, 255));
    }
    return ApplyTable(table, 0);
}

bool TMDIB::Gamma(int g)
{
    if (!layout_.valid)
        return false;
    if (g <= 0)
        return true;
    const double e = 100.0 / g;
    const double k = 255.0 / std::pow(255.0, e);
    uint8_t table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = TruncToByte(std::pow(double(v), e) * k);
    return ApplyTable(table, 0);
}

bool TMDIB::Levels(int low, int high, int channel)
{
    if (!layout_.valid)
        return false;
    uint8_t table[256];
    if (!LevelsTable(low, high, table))
        return true;
    return ApplyTable(table, channel);
}

bool TMDIB::LevelsTable(int low, int high, uint8_t (&table)[256])
{
    if (high <= low)
        return false;
    const double d = 255.0 / (double(high) - double(low));
    const double offset = -double(low) * d;
    for (int v = 0; v < 256; ++v)
        table[v] = TruncToByte(offset + d * v);
    return true;
}

ImageHandle CreateDib(int width, int height, int type)
{
    static constexpr int kBitCounts[] = {1, 4, 8, 24};
    if (type < 0 || type > 3)
        return {};
    const int bits = kBitCounts[type];
    if (bits == 24)
        return ImageHandle::NewDib(width, height, 24, 0);
    // A palette block is only meaningful with its table: give it a grey ramp
    // (black and white for 1 bit), so index 0 is black like the zero pixels.
    const int entries = 1 << bits;
    ImageHandle dib = ImageHandle::NewDib(width, height, bits, entries);
    if (dib) {
        uint8_t* table = dib.Data() + sizeof(BitmapInfoHeader);
        for (int i = 0; i < entries; ++i) {
            const uint8_t v = uint8_t(i * 255 / (entries - 1));
            table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = v;
        }
    }
    return dib;
}

