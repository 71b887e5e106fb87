// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF reading and writing through libtiff, on bytes in memory.
//
// Reading takes the first page. Bilevel pages (fax G3/G4 included), grey,
// palette and 8-bit RGB pages are read row by row into a block of the
// matching depth; everything else (tiles, planar data, 16-bit samples, CMYK,
// YCbCr, alpha, a non-default orientation) goes through libtiff's RGBA reader
// into a 24-bit block. Any libtiff error makes the file "no image": libtiff
// reports damage by error messages while still returning data.
//
// Messages go to per-handle handlers (nothing is printed) and every single
// allocation inside libtiff is capped, so a hostile file cannot make it
// reserve more than a picture could need.

#include "imaging/ImgKit.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// --- Memory streams for TIFFClientOpen -------------------------------------

struct MemStream {
    const uint8_t* data = nullptr;  // reading
    std::vector<uint8_t>* out = nullptr;  // writing
    uint64_t size = 0;
    uint64_t pos = 0;
};

tmsize_t StreamRead(thandle_t h, void* buf, tmsize_t n)
{
    auto* s = static_cast<MemStream*>(h);
    if (n <= 0 || s->pos >= s->size)
        return 0;
    const uint64_t count = std::min<uint64_t>(uint64_t(n), s->size - s->pos);
    const uint8_t* from = s->out ? s->out->data() : s->data;
    std::memcpy(buf, from + s->pos, std::size_t(count));
    s->pos += count;
    return tmsize_t(count);
}

tmsize_t StreamWrite(thandle_t h, void* buf, tmsize_t n)
{
    auto* s = static_cast<MemStream*>(h);
    if (!s->out || n < 0)
        return -1;
    const uint64_t end = s->pos + uint64_t(n);
    if (end > 2 * uint64_t(kMaxDibBytes))
        return -1;
    try {
        if (end > s->out->size())
            s->out->resize(std::size_t(end));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(s->out->data() + s->pos, buf, std::size_t(n));
    s->pos = end;
    s->size = std::max<uint64_t>(s->size, end);
    return n;
}

toff_t StreamSeek(thandle_t h, toff_t off, int whence)
{
    auto* s = static_cast<MemStream*>(h);
    uint64_t base = 0;
    switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = s->pos; break;
    case SEEK_END: base = s->size; break;
    default: return toff_t(-1);
    }
    // toff_t is unsigned; libtiff passes negative relative offsets as wrapped values.
    s->pos = base + off;
    return s->pos;
}

int StreamClose(thandle_t) { return 0; }

toff_t StreamSize(thandle_t h) { return static_cast<MemStream*>(h)->size; }

int StreamMap(thandle_t h, void** base, toff_t* size)
{
    auto* s = static_cast<MemStream*>(h);
    if (!s->data)
        return 0;
    // libtiff only reads through the mapping (it copies before bit reversal).
    *base = const_cast<uint8_t*>(s->data);
    *size = s->size;
    return 1;
}

void StreamUnmap(thandle_t, void*, toff_t) {}

// --- Messages --------------------------------------------------------------

struct Messages {
    bool error = false;
};

int OnError(TIFF*, void* user, const char*, const char*, va_list)
{
    static_cast<Messages*>(user)->error = true;
    return 1;  // handled: the library-wide handlers stay silent
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffClose>;

TiffPtr OpenStream(MemStream& stream, Messages& messages, const char* mode)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxDibBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, &messages);
    TIFF* tif = TIFFClientOpenExt("image", mode, &stream, StreamRead, StreamWrite, StreamSeek, StreamClose, StreamSize,
                                  StreamMap, StreamUnmap, options);
    TIFFOpenOptionsFree(options);
    return TiffPtr(tif);
}

// --- Reading ---------------------------------------------------------------

void SetGreyTable(ImageHandle& dib, int entries, bool minIsWhite)
{
    uint8_t* t = dib.Data() + 40;
    for (int i = 0; i < entries; ++i) {
        int v = i * 255 / (entries - 1);
        if (minIsWhite)
            v = 255 - v;
        std::memset(t + 4 * i, v, 3);
    }
}

// Reads the rows of a stripped, contiguous page with `rowBytes` pixel bytes
// per row; `convert` turns one scanline into one picture row of the block.
template <class Convert>
bool ReadRows(TIFF* tif, const Messages& messages, ImageHandle& dib, std::size_t rowBytes, Convert convert)
{
    const DibLayout l = DibLayoutOf(dib);
    const uint64_t scanline = TIFFScanlineSize64(tif);
    if (scanline < rowBytes || scanline > kMaxDibBytes)
        return false;
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(std::size_t(scanline));
    } catch (const std::bad_alloc&) {
        return false;
    }
    uint8_t* bits = dib.Data() + l.bitsOffset;
    for (int y = 0; y < l.height; ++y) {
        if (TIFFReadScanline(tif, buffer.data(), uint32_t(y), 0) < 0 || messages.error)
            return false;
        convert(buffer.data(), bits + std::size_t(l.height - 1 - y) * std::size_t(l.stride));
    }
    return true;
}

// Writes `rows` rows of a bottom-up RGBA raster `rasterWidth` wide into the
// block: raster row rows - 1 - i is picture row top + i, columns left.. of
// `columns` pixels.
void PutRgbaRows(ImageHandle& dib, const uint32_t* raster, int rasterWidth, int rows, int top, int left,
                 int columns)
{
    const DibLayout l = DibLayoutOf(dib);
    uint8_t* bits = dib.Data() + l.bitsOffset;
    for (int i = 0; i < rows; ++i) {
        const uint32_t* s = raster + std::size_t(rows - 1 - i) * std::size_t(rasterWidth);
        uint8_t* d = bits + std::size_t(l.height - 1 - (top + i)) * std::size_t(l.stride) + std::size_t(left) * 3;
        for (int x = 0; x < columns; ++x, d += 3) {
            d[0] = uint8_t(TIFFGetB(s[x]));
            d[1] = uint8_t(TIFFGetG(s[x]));
            d[2] = uint8_t(TIFFGetR(s[x]));
        }
    }
}

ImageHandle ReadRgba(TIFF* tif, const Messages& messages, int width, int height)
{
    const uint64_t rasterBytes = uint64_t(width) * uint64_t(height) * 4;
    if (rasterBytes > kMaxDibBytes)
        return {};
    char why[1024] = {};
    if (!TIFFRGBAImageOK(tif, why))
        return {};
    ImageHandle dib = ImageHandle::NewDib(width, height, 24);
    if (!dib)
        return {};
    std::vector<uint32_t> raster;
    try {
        raster.resize(std::size_t(width) * std::size_t(height));
    } catch (const std::bad_alloc&) {
        return {};
    }
    // stopOnError = 1: a damaged strip fails the read instead of leaving a hole.
    if (!TIFFReadRGBAImageOriented(tif, uint32_t(width), uint32_t(height), raster.data(), ORIENTATION_BOTLEFT, 1)
        || messages.error)
        return {};
    PutRgbaRows(dib, raster.data(), width, height, 0, 0, width);
    return dib;
}

// The general path for a top-left page: libtiff's RGBA conversion, one strip
// or one tile at a time into the block, so that memory is touched only as
// the file's data arrives and a missing or damaged piece stops the read
// before the rest of a giant picture is worked through.
ImageHandle ReadRgbaPieces(TIFF* tif, const Messages& messages, int width, int height)
{
    char why[1024] = {};
    if (!TIFFRGBAImageOK(tif, why))
        return {};
    uint32_t pieceWidth = uint32_t(width), pieceHeight = 0;
    const bool tiled = TIFFIsTiled(tif);
    if (tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &pieceWidth) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &pieceHeight))
            return {};
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &pieceHeight);
        pieceHeight = std::min<uint32_t>(pieceHeight, uint32_t(height));
    }
    if (pieceWidth == 0 || pieceHeight == 0 || pieceWidth > uint32_t(kMaxDibSide) || pieceHeight > uint32_t(kMaxDibSide)
        || uint64_t(pieceWidth) * pieceHeight * 4 > kMaxDibBytes)
        return {};
    ImageHandle dib = ImageHandle::NewDib(width, height, 24);
    if (!dib)
        return {};
    std::vector<uint32_t> raster;
    try {
        raster.resize(std::size_t(pieceWidth) * pieceHeight);
    } catch (const std::bad_alloc&) {
        return {};
    }
    // stopOnError = 1: a damaged piece fails the read instead of leaving a hole.
    for (uint32_t top = 0; top < uint32_t(height); top += pieceHeight) {
        const int rows = int(std::min<uint32_t>(pieceHeight, uint32_t(height) - top));
        if (!tiled) {
            if (!TIFFReadRGBAStripExt(tif, top, raster.data(), 1) || messages.error)
                return {};
            PutRgbaRows(dib, raster.data(), width, rows, int(top), 0, width);
            continue;
        }
        for (uint32_t left = 0; left < uint32_t(width); left += pieceWidth) {
            if (!TIFFReadRGBATileExt(tif, left, top, raster.data(), 1) || messages.error)
                return {};
            // A tile's rows fill the raster from its top whatever the picture's
            // edge: picture row top + i is raster row pieceHeight - 1 - i.
            const int columns = int(std::min<uint32_t>(pieceWidth, uint32_t(width) - left));
            PutRgbaRows(dib, raster.data() + std::size_t(pieceHeight - uint32_t(rows)) * pieceWidth, int(pieceWidth),
                        rows, int(top), int(left), columns);
        }
    }
    return dib;
}

ImageHandle ReadPage(TIFF* tif, const Messages& messages)
{
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
        return {};
    if (width == 0 || height == 0 || width > uint32_t(kMaxDibSide) || height > uint32_t(kMaxDibSide))
        return {};
    const int w = int(width);
    const int h = int(height);

    uint16_t bps = 1, spp = 1, planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT;
    uint16_t photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;  // libtiff's own guess
    if (messages.error)
        return {};

    const bool rowWise = !TIFFIsTiled(tif) && planar == PLANARCONFIG_CONTIG && orientation == ORIENTATION_TOPLEFT;
    const bool bilevelOrGrey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    if (!rowWise)
        return orientation == ORIENTATION_TOPLEFT ? ReadRgbaPieces(tif, messages, w, h) : ReadRgba(tif, messages, w, h);

    if (spp == 1 && (bilevelOrGrey || photometric == PHOTOMETRIC_PALETTE) && (bps == 1 || bps == 4 || bps == 8)) {
        const int entries = 1 << bps;
        ImageHandle dib = ImageHandle::NewDib(w, h, bps, entries);
        if (!dib)
            return {};
        bool invert = false;  // 8-bit min-is-white: stored as a plain grey ramp, pixels inverted
        if (photometric == PHOTOMETRIC_PALETTE) {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b)
                return {};
            // Some writers store 8-bit values instead of 16-bit ones.
            bool eightBit = true;
            for (int i = 0; i < entries && eightBit; ++i)
                eightBit = r[i] < 256 && g[i] < 256 && b[i] < 256;
            const int shift = eightBit ? 0 : 8;
            uint8_t* t = dib.Data() + 40;
            for (int i = 0; i < entries; ++i) {
                t[4 * i] = uint8_t(b[i] >> shift);
                t[4 * i + 1] = uint8_t(g[i] >> shift);
                t[4 * i + 2] = uint8_t(r[i] >> shift);
            }
        } else if (bps == 8 && photometric == PHOTOMETRIC_MINISWHITE) {
            SetGreyTable(dib, entries, false);
            invert = true;
        } else {
            SetGreyTable(dib, entries, photometric == PHOTOMETRIC_MINISWHITE);
        }
        const std::size_t rowBytes = (std::size_t(w) * bps + 7) / 8;
        const int tailBits = int((uint64_t(w) * bps) % 8);
        const uint8_t tailMask = tailBits ? uint8_t(0xFF << (8 - tailBits)) : 0xFF;
        const bool ok = ReadRows(tif, messages, dib, rowBytes, [&](const uint8_t* s, uint8_t* d) {
            if (invert) {
                for (std::size_t i = 0; i < rowBytes; ++i)
                    d[i] = uint8_t(255 - s[i]);
            } else {
                std::memcpy(d, s, rowBytes);
            }
            d[rowBytes - 1] &= tailMask;
        });
        return ok ? std::move(dib) : ImageHandle();
    }

    if (spp == 3 && bps == 8 && photometric == PHOTOMETRIC_RGB) {
        ImageHandle dib = ImageHandle::NewDib(w, h, 24);
        if (!dib)
            return {};
        const bool ok = ReadRows(tif, messages, dib, std::size_t(w) * 3, [w](const uint8_t* s, uint8_t* d) {
            for (int x = 0; x < w; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        });
        return ok ? std::move(dib) : ImageHandle();
    }

    return orientation == ORIENTATION_TOPLEFT ? ReadRgbaPieces(tif, messages, w, h) : ReadRgba(tif, messages, w, h);
}

// --- Writing ---------------------------------------------------------------

// True when the first directory, up to and including its link to the next
// one, lies inside the data. libtiff forgives a missing link, but a file cut
// there is as truncated as one cut anywhere else.
bool FirstDirectoryComplete(const uint8_t* d, uint64_t size)
{
    const bool little = d[0] == 'I';
    auto get = [&](uint64_t at, int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= uint64_t(d[at + uint64_t(little ? i : bytes - 1 - i)]) << (8 * i);
        return v;
    };
    const bool big = get(2, 2) == 43;  // BigTIFF: 8-byte offsets and counts, 20-byte entries
    if (size < (big ? 16u : 8u))
        return false;
    const uint64_t dir = big ? get(8, 8) : get(4, 4);
    const int countBytes = big ? 8 : 2;
    if (dir > size || size - dir < uint64_t(countBytes))
        return false;
    const uint64_t entries = get(dir, countBytes);
    const uint64_t length = uint64_t(countBytes) + entries * (big ? 20 : 12) + (big ? 8 : 4);
    return entries <= 0xFFFF && size - dir >= length;
}

bool IsBlack(const uint8_t* e) { return e[0] == 0 && e[1] == 0 && e[2] == 0; }
bool IsWhite(const uint8_t* e) { return e[0] == 255 && e[1] == 255 && e[2] == 255; }

}  // namespace

ImageHandle ImgKitTiffDecode(const QByteArray& bytes)
{
    if (bytes.size() < 8
        || !FirstDirectoryComplete(reinterpret_cast<const uint8_t*>(bytes.constData()), uint64_t(bytes.size())))
        return {};
    MemStream stream;
    stream.data = reinterpret_cast<const uint8_t*>(bytes.constData());
    stream.size = uint64_t(bytes.size());
    Messages messages;
    TiffPtr tif = OpenStream(stream, messages, "r");
    if (!tif || messages.error)
        return {};
    ImageHandle dib = ReadPage(tif.get(), messages);
    if (messages.error)
        return {};
    return dib;
}

bool ImgKitTiffEncode(const ImageHandle& image, QByteArray& out)
{
    ImgKitInfo info{};
    if (!ImgKitImageInfo(image, info))
        return false;
    const DibLayout l = DibLayoutOf(image);
    const uint8_t* table = image.Data() + 40;
    const uint8_t* bits = image.Data() + l.bitsOffset;

    // Kind of page: RGB, grey, fax bilevel (with its photometric) or palette.
    uint16_t photometric = PHOTOMETRIC_PALETTE;
    uint16_t compression = COMPRESSION_LZW;
    if (info.bitCount == 24) {
        photometric = PHOTOMETRIC_RGB;
    } else if (info.colorType == kImgKitColorGray8) {
        photometric = PHOTOMETRIC_MINISBLACK;
    } else if (info.bitCount == 1 && l.colorCount >= 2) {
        if (IsBlack(table) && IsWhite(table + 4)) {
            photometric = PHOTOMETRIC_MINISBLACK;
            compression = COMPRESSION_CCITTFAX4;
        } else if (IsWhite(table) && IsBlack(table + 4)) {
            photometric = PHOTOMETRIC_MINISWHITE;
            compression = COMPRESSION_CCITTFAX4;
        }
    }

    std::vector<uint8_t> file;
    MemStream stream;
    stream.out = &file;
    Messages messages;
    {
        TiffPtr tif = OpenStream(stream, messages, "w");
        if (!tif)
            return false;
        TIFF* t = tif.get();
        const uint16_t spp = info.bitCount == 24 ? 3 : 1;
        const uint16_t bps = info.bitCount == 24 ? 8 : uint16_t(info.bitCount);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(l.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(l.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
        TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        if (compression == COMPRESSION_LZW && bps == 8)
            TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        // A fax page is one strip, as fax readers expect; the rest ~64 KiB strips.
        const uint32_t rowsPerStrip = compression == COMPRESSION_CCITTFAX4
                                          ? uint32_t(l.height)
                                          : TIFFDefaultStripSize(t, uint32_t(std::max<int64_t>(1, 65536 / l.stride)));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
        if (photometric == PHOTOMETRIC_PALETTE) {
            const int entries = 1 << bps;
            std::vector<uint16_t> r(std::size_t(entries), 0), g(r), b(r);
            for (int i = 0; i < std::min(entries, l.colorCount); ++i) {
                b[std::size_t(i)] = uint16_t(table[4 * i] * 257);
                g[std::size_t(i)] = uint16_t(table[4 * i + 1] * 257);
                r[std::size_t(i)] = uint16_t(table[4 * i + 2] * 257);
            }
            TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
        }
        if (messages.error)
            return false;

        // libtiff may change the row it is given (the predictor works in place),
        // so every row goes through a scratch buffer.
        const std::size_t rowBytes = (std::size_t(l.width) * std::size_t(info.bitCount) + 7) / 8;
        std::vector<uint8_t> row(rowBytes);
        for (int y = 0; y < l.height; ++y) {
            const uint8_t* s = bits + std::size_t(l.height - 1 - y) * std::size_t(l.stride);
            if (info.bitCount == 24) {
                for (int x = 0; x < l.width; ++x) {
                    row[3 * std::size_t(x)] = s[3 * x + 2];
                    row[3 * std::size_t(x) + 1] = s[3 * x + 1];
                    row[3 * std::size_t(x) + 2] = s[3 * x];
                }
            } else {
                std::memcpy(row.data(), s, rowBytes);
            }
            if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0 || messages.error)
                return false;
        }
        if (!TIFFFlush(t) || messages.error)
            return false;
    }  // TIFFClose
    if (messages.error || file.empty())
        return false;
    out = QByteArray(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
    return true;
}
