// SPDX-License-Identifier: GPL-3.0-or-later
// The fallback through Qt's image readers, for the formats the layer has no
// reader of its own for.
//
// Qt's readers are lenient: several hand back whatever they managed to
// decode from a cut file (GIF, XBM, the last bytes of PNG and XPM), and the
// GIF reader paints its whole logical screen before it looks at the data.
// So before Qt sees a file, its structure is walked here, format by format,
// and only the formats with such a walk are read at all.

#include "imaging/ImgKitQt.h"

#include "imaging/ImgKit.h"

#include "imaging/DibQImage.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

using Bytes = const uint8_t*;

// --- Qt's allocation limit ---------------------------------------------------

// Qt refuses, by default, any picture over 128 MB in its own pixel format,
// which a 600 dpi A4 page in RGB32 already is. Our own check (the picture as
// a 24-bit block within kMaxDibBytes) is meant to be the one limit, so Qt's
// is raised to what such a picture takes in the widest format a reader here
// produces (64 bits a pixel).
constexpr int kQtAllocationLimitMb = int((uint64_t(kMaxDibBytes) / 3 * 8 >> 20) + 1);

void RaiseQtAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(kQtAllocationLimitMb); });
}

bool FitsBlockLimits(int64_t width, int64_t height)
{
    return width > 0 && height > 0 && width <= kMaxDibSide && height <= kMaxDibSide
        && uint64_t(DibStride(width, 24)) * uint64_t(height) <= kMaxDibBytes;
}

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

uint32_t Be32(Bytes p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }
uint32_t Le32(Bytes p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
int Le16(Bytes p) { return p[0] | (p[1] << 8); }

// --- PNG ---------------------------------------------------------------------

// Every chunk whole up to a whole IEND (libpng reads a file cut inside IEND,
// or inside the chunks after the last IDAT, as complete), and no more rows
// than the compressed data could hold: deflate never expands beyond 1032:1.
bool PngIsWhole(Bytes d, std::size_t n)
{
    if (n < 8 + 25 || std::memcmp(d, "\x89PNG\r\n\x1A\n", 8) != 0)
        return false;
    if (Be32(d + 8) != 13 || std::memcmp(d + 12, "IHDR", 4) != 0)
        return false;
    const uint64_t width = Be32(d + 16), height = Be32(d + 20);
    const int bitDepth = d[24], colourType = d[25];
    static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    if (colourType > 6 || kChannels[colourType] == 0 || bitDepth == 0 || bitDepth > 16)
        return false;
    uint64_t idat = 0;
    std::size_t at = 8;
    for (;;) {
        if (n - at < 12)
            return false;
        const uint32_t length = Be32(d + at);
        if (length > 0x7FFFFFFFu || n - at - 12 < length)
            return false;
        if (std::memcmp(d + at + 4, "IDAT", 4) == 0)
            idat += length;
        const bool end = std::memcmp(d + at + 4, "IEND", 4) == 0;
        at += 12 + std::size_t(length);
        if (end)
            break;
    }
    if (idat == 0)
        return false;
    // Pixel bytes without the filter byte of each row: less than any
    // layout (plain or interlaced) inflates to.
    const uint64_t rowBytes = (width * uint64_t(kChannels[colourType] * bitDepth) + 7) / 8;
    return rowBytes * height <= idat * 1032 + 1024;
}

// --- GIF ---------------------------------------------------------------------

int BitLength(int v)
{
    int bits = 0;
    while (v > 0) {
        ++bits;
        v >>= 1;
    }
    return bits;
}

// The most pixels `bits` bits of LZW data with minimum code size `minCode`
// can give. After a clear code the k-th code yields at most k pixels (each
// new table entry is one longer than the string before it), the table holds
// 4096 entries, and codes widen as it fills. Clearing only starts the count
// over, so one long run without a clear is the most a stream can give. The
// width used here is one bit below the decoder's, to allow for readers that
// widen late.
uint64_t MostLzwPixels(uint64_t bits, int minCode)
{
    uint64_t pixels = 0;
    int next = (1 << minCode) + 2;
    for (uint64_t k = 1;; ++k) {
        const int width = std::max(minCode + 1, std::min(12, BitLength(next)) - 1);
        if (bits < uint64_t(width))
            return pixels;
        if (k >= 4096)  // table full: every further code is as wide and as long
            return pixels + bits / uint64_t(width) * 4096;
        bits -= uint64_t(width);
        pixels += k;
        if (k >= 2 && next < 4096)
            ++next;
    }
}

// The pixels the first frame's LZW data actually decodes to, counted without
// keeping them (string lengths only); -1 for a code no decoder could accept.
int64_t CountLzwPixels(const QByteArray& data, int minCode, int64_t enough)
{
    const int clear = 1 << minCode;
    const int endCode = clear + 1;
    int width = minCode + 1;
    int next = clear + 2;
    int prev = -1;
    std::vector<uint16_t> length(4096, 1);
    int64_t pixels = 0;
    uint32_t acc = 0;
    int accBits = 0;
    const auto* p = reinterpret_cast<Bytes>(data.constData());
    for (qsizetype i = 0; i < data.size() && pixels < enough;) {
        while (accBits < width && i < data.size()) {
            acc |= uint32_t(p[i++]) << accBits;
            accBits += 8;
        }
        if (accBits < width)
            break;
        const int code = int(acc & ((1u << width) - 1));
        acc >>= width;
        accBits -= width;
        if (code == clear) {
            width = minCode + 1;
            next = clear + 2;
            prev = -1;
            continue;
        }
        if (code == endCode)
            break;
        int len = 0;
        if (prev < 0) {
            if (code > clear)
                return -1;
            len = 1;
        } else {
            if (code < next && code != clear && code != endCode)
                len = code < clear ? 1 : length[code];
            else if (code == next && next < 4096)
                len = length[prev] + 1;
            else
                return -1;
            if (next < 4096) {
                length[next] = uint16_t(std::min(4096, length[prev] + 1));
                ++next;
                if (next == (1 << width) && width < 12)
                    ++width;
            }
        }
        pixels += len;
        prev = code;
    }
    return pixels;
}

struct GifFacts {
    int screenWidth = 0, screenHeight = 0;
};

// Header, logical screen, colour tables, extensions and image descriptors,
// each LZW sub-block inside the file up to its terminator, and the trailer.
// The first frame must decode to all its pixels; neither it nor the logical
// screen (which Qt's reader fills first) may hold more pixels than the data
// of the file's frames could describe.
bool GifIsWhole(Bytes d, std::size_t n, GifFacts& facts)
{
    if (n < 13 || (std::memcmp(d, "GIF87a", 6) != 0 && std::memcmp(d, "GIF89a", 6) != 0))
        return false;
    facts.screenWidth = Le16(d + 6);
    facts.screenHeight = Le16(d + 8);
    std::size_t at = 13;
    if (d[10] & 0x80)
        at += 3 * (std::size_t(2) << (d[10] & 7));
    if (at > n)
        return false;
    // Sub-blocks from `at` up to and including the zero terminator; the
    // data is appended to `out` when given, and its length counted.
    uint64_t blockBytes = 0;
    auto skipBlocks = [&](QByteArray* out) {
        blockBytes = 0;
        for (;;) {
            if (at >= n)
                return false;
            const std::size_t len = d[at++];
            if (len == 0)
                return true;
            if (n - at < len)
                return false;
            if (out)
                out->append(reinterpret_cast<const char*>(d + at), qsizetype(len));
            blockBytes += len;
            at += len;
        }
    };
    int frames = 0;
    uint64_t describable = 0;
    for (;;) {
        if (at >= n)
            return false;  // no trailer
        const uint8_t introducer = d[at++];
        if (introducer == 0x3B)
            break;
        if (introducer == 0x21) {
            if (at >= n)
                return false;
            ++at;  // label
            if (!skipBlocks(nullptr))
                return false;
            continue;
        }
        if (introducer != 0x2C || n - at < 9)
            return false;
        const int64_t fw = Le16(d + at + 4), fh = Le16(d + at + 6);
        const uint8_t flags = d[at + 8];
        at += 9;
        if (flags & 0x80)
            at += 3 * (std::size_t(2) << (flags & 7));
        if (at >= n)
            return false;
        const int minCode = d[at++];
        if (minCode < 2 || minCode > 11)  // 1-bit pictures are coded with 2 too
            return false;
        QByteArray data;
        if (!skipBlocks(frames == 0 ? &data : nullptr))
            return false;
        const uint64_t most = MostLzwPixels(blockBytes * 8, minCode);
        if (frames == 0) {
            // Qt decodes the first frame only; the later ones are walked,
            // and their data counts toward what the screen may hold.
            const int64_t pixels = fw * fh;
            if (pixels == 0 || data.isEmpty() || uint64_t(pixels) > most)
                return false;
            if (CountLzwPixels(data, minCode, pixels) < pixels)
                return false;
        }
        describable += most;
        ++frames;
    }
    return frames > 0 && uint64_t(facts.screenWidth) * uint64_t(facts.screenHeight) <= describable;
}

// --- Netpbm ------------------------------------------------------------------

// Header fields, then enough data for every sample. In the plain (text)
// kinds the last sample needed must be followed by white space (writers end
// the last row with a line break), or a cut inside a number would pass for
// a smaller value.
bool PnmIsWhole(Bytes d, std::size_t n)
{
    if (n < 3 || d[0] != 'P' || d[1] < '1' || d[1] > '6')
        return false;
    const int kind = d[1] - '0';
    std::size_t at = 2;
    auto skipSpace = [&] {
        while (at < n && (IsSpace(d[at]) || d[at] == '#')) {
            if (d[at] == '#')
                while (at < n && d[at] != '\n' && d[at] != '\r')
                    ++at;
            else
                ++at;
        }
    };
    auto number = [&](uint64_t& v) {
        skipSpace();
        if (at >= n || d[at] < '0' || d[at] > '9')
            return false;
        v = 0;
        while (at < n && d[at] >= '0' && d[at] <= '9') {
            v = v * 10 + uint64_t(d[at++] - '0');
            if (v > 0xFFFFFFFFu)
                return false;
        }
        return true;
    };
    uint64_t width = 0, height = 0, maxValue = 1;
    if (!number(width) || !number(height) || (kind != 1 && kind != 4 && !number(maxValue)))
        return false;
    if (width == 0 || height == 0 || maxValue == 0 || maxValue > 65535 || width > uint64_t(kMaxDibSide)
        || height > uint64_t(kMaxDibSide))
        return false;
    const uint64_t channels = (kind == 3 || kind == 6) ? 3 : 1;
    if (kind >= 4) {
        if (at >= n || !IsSpace(d[at]))
            return false;
        ++at;
        const uint64_t rowBytes = kind == 4 ? (width + 7) / 8 : width * channels * (maxValue > 255 ? 2 : 1);
        return uint64_t(n - at) >= rowBytes * height;
    }
    uint64_t needed = width * height * channels;
    if (kind == 1) {  // one character a sample, white space optional
        for (; at < n && needed > 0; ++at) {
            if (d[at] == '0' || d[at] == '1')
                --needed;
            else if (d[at] == '#')
                skipSpace(), --at;
            else if (!IsSpace(d[at]))
                return false;
        }
        return needed == 0 && at < n && IsSpace(d[at]);
    }
    for (uint64_t value = 0; needed > 0; --needed)
        if (!number(value))
            return false;
    return at < n && IsSpace(d[at]);
}

// --- XBM and XPM -------------------------------------------------------------

int64_t DefinedNumber(const QByteArray& text, const char* suffix)
{
    const qsizetype name = text.indexOf(suffix);
    if (name < 0)
        return -1;
    qsizetype at = name + qsizetype(std::strlen(suffix));
    while (at < text.size() && IsSpace(uint8_t(text[at])))
        ++at;
    int64_t v = 0;
    const qsizetype start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && v <= kMaxDibSide)
        v = v * 10 + (text[at++] - '0');
    return at == start ? -1 : v;
}

// XBM and XPM are C source: the array closes with "};" and the file ends
// with a line break (a file cut after its last value would otherwise pass).
bool EndsAsCSource(const QByteArray& text)
{
    qsizetype end = text.size();
    while (end > 0 && IsSpace(uint8_t(text[end - 1])))
        --end;
    if (end == text.size() || end < 2 || text[end - 1] != ';')
        return false;
    --end;
    while (end > 0 && IsSpace(uint8_t(text[end - 1])))
        --end;
    return end > 0 && text[end - 1] == '}' && text.indexOf('\n', end) >= 0;
}

// Both defines, and a byte for every eight pixels of every row before the
// closing brace (Qt's reader fills a cut file up with blank rows).
bool XbmIsWhole(const QByteArray& text)
{
    if (!EndsAsCSource(text))
        return false;
    const int64_t width = DefinedNumber(text, "_width");
    const int64_t height = DefinedNumber(text, "_height");
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        return false;
    const qsizetype open = text.indexOf('{', std::max<qsizetype>(0, text.indexOf("_bits")));
    if (open < 0)
        return false;
    const qsizetype close = text.indexOf('}', open);
    if (close < 0)
        return false;
    int64_t values = 0;
    for (qsizetype at = open; at + 1 < close; ++at)
        if (text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X'))
            ++values;
    return values >= (width + 7) / 8 * height;
}

// Qt checks the rows itself but takes a file cut after its last string as
// whole.
bool XpmIsWhole(const QByteArray& text)
{
    return EndsAsCSource(text);
}

// --- ICO / CUR, WBMP, WebP ---------------------------------------------------

bool IcoIsWhole(Bytes d, std::size_t n)
{
    if (n < 6 || Le16(d) != 0 || (Le16(d + 2) != 1 && Le16(d + 2) != 2))
        return false;
    const int count = Le16(d + 4);
    if (count == 0 || n < 6 + 16 * std::size_t(count))
        return false;
    for (int i = 0; i < count; ++i) {
        Bytes e = d + 6 + 16 * i;
        const uint64_t size = Le32(e + 8), offset = Le32(e + 12);
        if (size == 0 || offset < 6 + 16 * uint64_t(count) || offset + size > n)
            return false;
    }
    return true;
}

bool WbmpIsWhole(Bytes d, std::size_t n)
{
    std::size_t at = 0;
    auto multiByte = [&](uint64_t& v) {
        v = 0;
        for (int i = 0; i < 5; ++i) {
            if (at >= n)
                return false;
            const uint8_t b = d[at++];
            v = (v << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return false;
    };
    uint64_t type = 0, width = 0, height = 0;
    if (!multiByte(type) || type != 0 || at >= n || d[at++] != 0)  // type 0, no extension headers
        return false;
    if (!multiByte(width) || !multiByte(height) || width == 0 || height == 0)
        return false;
    return uint64_t(n - at) >= (width + 7) / 8 * height;
}

bool WebpIsWhole(Bytes d, std::size_t n)
{
    return n >= 12 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0
        && uint64_t(Le32(d + 4)) + 8 <= n;
}

// The format by its first bytes, for the kinds checked here; empty for any
// other. Qt's own guess is not asked for: its XBM reader decodes the whole
// picture just to say whether it can.
QByteArray SniffFormat(const QByteArray& bytes)
{
    const auto* d = reinterpret_cast<Bytes>(bytes.constData());
    const auto n = std::size_t(bytes.size());
    auto startsWith = [&](const char* magic, std::size_t at = 0) {
        const std::size_t len = std::strlen(magic);
        return n >= at + len && std::memcmp(d + at, magic, len) == 0;
    };
    if (startsWith("\x89PNG\r\n\x1A\n"))
        return "png";
    if (startsWith("GIF87a") || startsWith("GIF89a"))
        return "gif";
    if (startsWith("RIFF") && startsWith("WEBP", 8))
        return "webp";
    if (n >= 3 && d[0] == 'P' && d[1] >= '1' && d[1] <= '6' && IsSpace(d[2]))
        return QByteArray(d[1] == '1' || d[1] == '4' ? "pbm" : d[1] == '2' || d[1] == '5' ? "pgm" : "ppm");
    if (n >= 4 && d[0] == 0 && d[1] == 0 && (d[2] == 1 || d[2] == 2) && d[3] == 0)
        return d[2] == 1 ? "ico" : "cur";
    if (n >= 3 && d[0] == 0 && d[1] == 0 && d[2] != 0)
        return "wbmp";
    if (startsWith("/* XPM */"))
        return "xpm";
    if (startsWith("#define"))
        return "xbm";
    return {};
}

// The structural check of `format` on the file, or false for a format that
// is not read at all. Refused: ICNS (Qt cannot tell its size before it reads
// it), MNG (no walk here for its chunk language), TGA (Qt does not know it
// by content), and whatever else a plug-in might add later.
bool IsSoundFile(const QByteArray& format, const QByteArray& bytes, GifFacts& gif, bool namedByCaller)
{
    const auto* d = reinterpret_cast<Bytes>(bytes.constData());
    const auto n = std::size_t(bytes.size());
    if (format == "png")
        return PngIsWhole(d, n);
    if (format == "gif")
        return GifIsWhole(d, n, gif);
    if (format == "pbm" || format == "pgm" || format == "ppm")
        return PnmIsWhole(d, n);
    if (format == "xbm")
        return XbmIsWhole(bytes);
    if (format == "xpm")
        return XpmIsWhole(bytes);
    if (format == "ico" || format == "cur")
        return IcoIsWhole(d, n);
    if (format == "wbmp")
        return WbmpIsWhole(d, n);
    if (format == "webp")
        return WebpIsWhole(d, n);
    // The BMP reader of the layer still hands Qt the flavours it does not
    // read itself; that is its call.
    return format == "bmp" && namedByCaller;
}

}  // namespace

// Any format Qt reads, decided by the content alone (or the one named). The
// announced size must fit our block limits before anything is decoded; a
// reader that cannot tell the size beforehand is not trusted with the file.
ImageHandle ImgKitQtDecode(const QByteArray& bytes, const char* format)
{
    RaiseQtAllocationLimit();
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    const QByteArray name = format ? QByteArray(format).toLower() : SniffFormat(bytes);
    GifFacts gif;
    if (name.isEmpty() || !IsSoundFile(name, bytes, gif, format != nullptr))
        return {};
    QImageReader reader(&buffer, name);
    reader.setAutoDetectImageFormat(false);
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    if (!size.isValid() || !FitsBlockLimits(size.width(), size.height()))
        return {};
    // Qt's GIF reader answers with the first frame's size but gives the
    // whole logical screen.
    QSize expected = size;
    if (name == "gif") {
        if (!FitsBlockLimits(gif.screenWidth, gif.screenHeight))
            return {};
        expected = QSize(gif.screenWidth, gif.screenHeight);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.size() != expected)
        return {};
    return QImageToDib(image);
}

bool ImgKitSetToClipBrd(const ImageHandle& image)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    const QImage picture = DibToQImage(image);
    if (picture.isNull())
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setImage(picture);
    return true;
}

ImageHandle ImgKitMemoryLoad(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    if (ImgKitReadsItself(reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size())))
        return ImgKitOwnFormatDecode(bytes);
    return ImgKitQtDecode(bytes, nullptr);
}

ImageHandle ImgKitFileLoad(const QString& path)
{
    return ImgKitFileLoadWith(path, ImgKitMemoryLoad);
}
