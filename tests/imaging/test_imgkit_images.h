// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Test pictures made in code, and pixel-level checks on DIB blocks, shared by
// the image-library tests.

#include "imaging/ImgKit.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

namespace imgtest {

// Colour of a pixel as 0xRRGGBB.
using Rgb = uint32_t;
inline Rgb MakeRgb(int r, int g, int b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b); }
inline int R(Rgb c) { return int(c >> 16) & 255; }
inline int G(Rgb c) { return int(c >> 8) & 255; }
inline int B(Rgb c) { return int(c) & 255; }

inline uint8_t* RowOf(ImageHandle& img, int y)
{
    const DibLayout l = DibLayoutOf(img);
    return img.Data() + l.bitsOffset + std::size_t(l.height - 1 - y) * std::size_t(l.stride);
}
inline const uint8_t* RowOf(const ImageHandle& img, int y)
{
    const DibLayout l = DibLayoutOf(img);
    return img.Data() + l.bitsOffset + std::size_t(l.height - 1 - y) * std::size_t(l.stride);
}

// Palette index (1/4/8 bits) or 0xRRGGBB (24 bits) of pixel (x, y), y = 0 at the top.
inline uint32_t RawAt(const ImageHandle& img, int x, int y)
{
    const DibLayout l = DibLayoutOf(img);
    const uint8_t* row = RowOf(img, y);
    switch (l.bitCount) {
    case 24: return MakeRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    case 8: return row[x];
    case 4: return (x & 1) ? (row[x / 2] & 15) : (row[x / 2] >> 4);
    default: return (row[x / 8] >> (7 - x % 8)) & 1;
    }
}

inline void SetRaw(ImageHandle& img, int x, int y, uint32_t v)
{
    const DibLayout l = DibLayoutOf(img);
    uint8_t* row = RowOf(img, y);
    switch (l.bitCount) {
    case 24:
        row[3 * x] = uint8_t(B(v));
        row[3 * x + 1] = uint8_t(G(v));
        row[3 * x + 2] = uint8_t(R(v));
        break;
    case 8: row[x] = uint8_t(v); break;
    case 4:
        if (x & 1)
            row[x / 2] = uint8_t((row[x / 2] & 0xF0) | (v & 15));
        else
            row[x / 2] = uint8_t((row[x / 2] & 0x0F) | ((v & 15) << 4));
        break;
    default:
        if (v)
            row[x / 8] |= uint8_t(0x80 >> (x % 8));
        else
            row[x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    }
}

inline Rgb TableEntry(const ImageHandle& img, int i)
{
    const uint8_t* t = img.Data() + 40 + 4 * i;
    return MakeRgb(t[2], t[1], t[0]);
}

inline void SetTableEntry(ImageHandle& img, int i, Rgb c)
{
    uint8_t* t = img.Data() + 40 + 4 * i;
    t[0] = uint8_t(B(c));
    t[1] = uint8_t(G(c));
    t[2] = uint8_t(R(c));
    t[3] = 0;
}

// Colour of pixel (x, y) at any depth; indices beyond the table are black.
inline Rgb ColorAt(const ImageHandle& img, int x, int y)
{
    const DibLayout l = DibLayoutOf(img);
    const uint32_t raw = RawAt(img, x, y);
    if (l.bitCount == 24)
        return raw;
    return int(raw) < l.colorCount ? TableEntry(img, int(raw)) : 0;
}

// True when every byte between the last pixel byte of a row and the stride is zero.
inline bool PaddingIsZero(const ImageHandle& img)
{
    const DibLayout l = DibLayoutOf(img);
    if (!l.valid)
        return false;
    const std::size_t used = (std::size_t(l.width) * std::size_t(l.bitCount) + 7) / 8;
    for (int y = 0; y < l.height; ++y) {
        const uint8_t* row = RowOf(img, y);
        for (std::size_t i = used; i < std::size_t(l.stride); ++i)
            if (row[i] != 0)
                return false;
    }
    return true;
}

// Kinds of test picture.
enum class Kind { Bilevel, BilevelInverted, BilevelColoured, Palette4, Palette8, Grey8, Full24 };

inline int BitsOf(Kind k)
{
    switch (k) {
    case Kind::Bilevel:
    case Kind::BilevelInverted:
    case Kind::BilevelColoured: return 1;
    case Kind::Palette4: return 4;
    case Kind::Palette8:
    case Kind::Grey8: return 8;
    default: return 24;
    }
}

inline const char* NameOf(Kind k)
{
    switch (k) {
    case Kind::Bilevel: return "bilevel";
    case Kind::BilevelInverted: return "bilevel-white-first";
    case Kind::BilevelColoured: return "bilevel-coloured";
    case Kind::Palette4: return "palette4";
    case Kind::Palette8: return "palette8";
    case Kind::Grey8: return "grey8";
    default: return "full24";
    }
}

// A picture of the kind with an asymmetric, position-dependent pattern (no
// two neighbours and no mirrored pair alike in general); palette kinds get
// a full table of distinct colours.
inline ImageHandle MakeImage(Kind kind, int w, int h)
{
    const int bits = BitsOf(kind);
    const int entries = bits == 24 ? 0 : 1 << bits;
    ImageHandle img = ImageHandle::NewDib(w, h, bits, entries);
    switch (kind) {
    case Kind::Bilevel:
        SetTableEntry(img, 0, 0x000000);
        SetTableEntry(img, 1, 0xFFFFFF);
        break;
    case Kind::BilevelInverted:
        SetTableEntry(img, 0, 0xFFFFFF);
        SetTableEntry(img, 1, 0x000000);
        break;
    case Kind::BilevelColoured:
        SetTableEntry(img, 0, 0x203080);
        SetTableEntry(img, 1, 0xF0E010);
        break;
    case Kind::Grey8:
        for (int i = 0; i < 256; ++i)
            SetTableEntry(img, i, MakeRgb(i, i, i));
        break;
    default:
        for (int i = 0; i < entries; ++i)
            SetTableEntry(img, i, MakeRgb((i * 67 + 13) & 255, (i * 29 + 200) & 255, (255 - i * 11) & 255));
        break;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t v = 0;
            switch (bits) {
            case 1: v = ((x * 3 + y * 5 + x * y) % 7) < 3 ? 1 : 0; break;
            case 4: v = uint32_t((x * 5 + y * 3 + x * y) % 16); break;
            case 8: v = uint32_t((x * 37 + y * 101 + x * y * 7) % 256); break;
            default: v = MakeRgb((x * 41 + y * 7) & 255, (x * 13 + y * 59 + 30) & 255, (x * x + y * 3 + 100) & 255);
            }
            SetRaw(img, x, y, v);
        }
    return img;
}

// A smooth colour picture, which JPEG keeps close.
inline ImageHandle MakeSmooth(int w, int h, bool grey = false)
{
    ImageHandle img = ImageHandle::NewDib(w, h, grey ? 8 : 24, grey ? 256 : 0);
    if (grey)
        for (int i = 0; i < 256; ++i)
            SetTableEntry(img, i, MakeRgb(i, i, i));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (grey)
                SetRaw(img, x, y, uint32_t(60 + 3 * x + 2 * y));
            else
                SetRaw(img, x, y, MakeRgb(180 - 2 * x, 90 + 3 * y, 60 + 2 * x + y));
        }
    return img;
}

// Same size and the same colour at every pixel.
inline ::testing::AssertionResult SameColours(const ImageHandle& a, const ImageHandle& b)
{
    const DibLayout la = DibLayoutOf(a), lb = DibLayoutOf(b);
    if (!la.valid || !lb.valid)
        return ::testing::AssertionFailure() << "malformed block";
    if (la.width != lb.width || la.height != lb.height)
        return ::testing::AssertionFailure()
            << "size " << la.width << "x" << la.height << " vs " << lb.width << "x" << lb.height;
    for (int y = 0; y < la.height; ++y)
        for (int x = 0; x < la.width; ++x)
            if (ColorAt(a, x, y) != ColorAt(b, x, y))
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << "): " << std::hex
                                                     << ColorAt(a, x, y) << " vs " << ColorAt(b, x, y);
    return ::testing::AssertionSuccess();
}

// Same size, depth, raw pixel values and colour table.
inline ::testing::AssertionResult SamePixels(const ImageHandle& a, const ImageHandle& b)
{
    const DibLayout la = DibLayoutOf(a), lb = DibLayoutOf(b);
    if (!la.valid || !lb.valid)
        return ::testing::AssertionFailure() << "malformed block";
    if (la.bitCount != lb.bitCount)
        return ::testing::AssertionFailure() << "depth " << la.bitCount << " vs " << lb.bitCount;
    if (la.colorCount != lb.colorCount)
        return ::testing::AssertionFailure() << "table " << la.colorCount << " vs " << lb.colorCount;
    for (int i = 0; i < la.colorCount; ++i)
        if (TableEntry(a, i) != TableEntry(b, i))
            return ::testing::AssertionFailure() << "table entry " << i;
    if (la.width != lb.width || la.height != lb.height)
        return ::testing::AssertionFailure() << "size";
    for (int y = 0; y < la.height; ++y)
        for (int x = 0; x < la.width; ++x)
            if (RawAt(a, x, y) != RawAt(b, x, y))
                return ::testing::AssertionFailure() << "pixel (" << x << "," << y << "): " << std::hex
                                                     << RawAt(a, x, y) << " vs " << RawAt(b, x, y);
    return ::testing::AssertionSuccess();
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline ImageHandle Encoded(const ImageHandle& img, const char* format, QByteArray& out, int quality = 90)
{
    out.clear();
    bool ok = false;
    if (std::strcmp(format, "jpeg") == 0)
        ok = ImgKitJpegEncode(img, quality, out);
    else if (std::strcmp(format, "tiff") == 0)
        ok = ImgKitTiffEncode(img, out);
    else
        ok = ImgKitBmpEncode(img, out);
    return ok ? ImgKitMemoryLoad(out) : ImageHandle();
}

}  // namespace imgtest
