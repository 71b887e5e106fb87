// JPEG reading and writing through TurboJPEG, straight between the file bytes
// and the DIB block: the decoder writes bottom-up rows at the block's stride
// into the zero-filled pixel area (so the row padding stays zero), the
// encoder reads them the same way. No intermediate picture is made except for
// CMYK files, which need a colour conversion.

#include "imaging/ImgKit.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct TjFree {
    void operator()(void* h) const { tjDestroy(h); }
};
using TjPtr = std::unique_ptr<void, TjFree>;

// More scans than any sensible progressive file has (they have about ten).
// A file with thousands of tiny scans makes the decoder redo the whole
// picture per scan, which a hostile file can use to hang the program.
constexpr int kMaxScans = 1000;

struct JpegShape {
    int scans = 0;
    bool complete = false;  // the marker walk reached the end-of-image marker
};

inline bool IsRst(uint8_t m) { return m >= 0xD0 && m <= 0xD7; }

// Walks the marker segments of a JPEG stream: counts the start-of-scan
// markers and tells whether the stream ends with an end-of-image marker. A
// truncated file never reaches it. The walk stops early once the scan count
// is over the limit. Segments are skipped by their length fields, so the
// markers of an embedded thumbnail (inside an APP segment) are not seen.
JpegShape WalkMarkers(const uint8_t* data, std::size_t size)
{
    JpegShape shape;
    std::size_t pos = 2;  // after SOI
    while (pos < size) {
        if (data[pos] != 0xFF) {  // stray bytes between segments
            const void* next = std::memchr(data + pos, 0xFF, size - pos);
            if (!next)
                break;
            pos = std::size_t(static_cast<const uint8_t*>(next) - data);
        }
        while (pos < size && data[pos] == 0xFF)  // fill bytes
            ++pos;
        if (pos >= size)
            break;
        const uint8_t marker = data[pos++];
        if (marker == 0xD9) {
            shape.complete = true;
            break;
        }
        if (marker == 0x00 || marker == 0x01 || IsRst(marker) || marker == 0xD8)
            continue;  // no length field
        if (size - pos < 2)
            break;
        const std::size_t length = (std::size_t(data[pos]) << 8) | data[pos + 1];
        if (length < 2)
            break;
        pos += length;
        if (marker != 0xDA)
            continue;
        if (++shape.scans > kMaxScans)
            break;
        // Entropy-coded data: runs to the next 0xFF that is neither a
        // stuffed zero nor a restart marker.
        while (pos < size) {
            const void* ff = std::memchr(data + pos, 0xFF, size - pos);
            if (!ff) {
                pos = size;
                break;
            }
            pos = std::size_t(static_cast<const uint8_t*>(ff) - data);
            if (pos + 1 < size && (data[pos + 1] == 0x00 || IsRst(data[pos + 1]))) {
                pos += 2;
                continue;
            }
            break;
        }
    }
    return shape;
}

bool DecodeFailed(tjhandle h, int rc)
{
    if (rc == 0)
        return false;
    if (tjGetErrorCode(h) != TJERR_WARNING)
        return true;
    // Warnings leave a usable picture (a few damaged blocks at worst) except
    // when the data ran out, which leaves the rest of the picture blank.
    const char* text = tjGetErrorStr2(h);
    return text && std::strstr(text, "Premature end of JPEG file");
}

}  // namespace

ImageHandle ImgKitJpegDecode(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return {};
    const JpegShape shape = WalkMarkers(data, size);
    if (!shape.complete || shape.scans == 0 || shape.scans > kMaxScans)
        return {};

    TjPtr tj(tjInitDecompress());
    if (!tj)
        return {};
    int width = 0, height = 0, subsamp = 0, colorspace = 0;
    // A warning while reading the header (junk before a marker, say) still
    // leaves the header read; the same rule as for the pixels applies.
    if (DecodeFailed(tj.get(), tjDecompressHeader3(tj.get(), data, static_cast<unsigned long>(size), &width, &height,
                                                   &subsamp, &colorspace)))
        return {};
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        return {};
    const int flags = TJFLAG_LIMITSCANS;

    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        const uint64_t cmykBytes = uint64_t(width) * uint64_t(height) * 4;
        if (cmykBytes > kMaxDibBytes || uint64_t(DibStride(width, 24)) * uint64_t(height) > kMaxDibBytes)
            return {};
        ImageHandle dib = ImageHandle::NewDib(width, height, 24);
        if (!dib)
            return {};
        std::vector<uint8_t> cmyk;
        try {
            cmyk.resize(std::size_t(cmykBytes));
        } catch (const std::bad_alloc&) {
            return {};
        }
        const int rc = tjDecompress2(tj.get(), data, static_cast<unsigned long>(size), cmyk.data(), width, 0, height,
                                     TJPF_CMYK, flags);
        if (DecodeFailed(tj.get(), rc))
            return {};
        // Adobe-inverted CMYK: the stored bytes are 255 - ink, so the light
        // reaching the eye is C * K / 255 per channel (R from C, G from M, B from Y).
        const DibLayout l = DibLayoutOf(dib);
        uint8_t* bits = dib.Data() + l.bitsOffset;
        for (int y = 0; y < height; ++y) {
            const uint8_t* s = cmyk.data() + std::size_t(y) * std::size_t(width) * 4;
            uint8_t* d = bits + std::size_t(height - 1 - y) * std::size_t(l.stride);
            for (int x = 0; x < width; ++x, s += 4, d += 3) {
                const unsigned k = s[3];
                d[0] = uint8_t((s[2] * k + 127) / 255);
                d[1] = uint8_t((s[1] * k + 127) / 255);
                d[2] = uint8_t((s[0] * k + 127) / 255);
            }
        }
        return dib;
    }

    const bool grey = colorspace == TJCS_GRAY;
    const int bitCount = grey ? 8 : 24;
    if (uint64_t(DibStride(width, bitCount)) * uint64_t(height) + 40 + 1024 > kMaxDibBytes)
        return {};
    // Every pixel byte is written by the decoder; only the row padding, which
    // it leaves alone, needs clearing.
    ImageHandle dib = ImageHandle::NewDibForOverwrite(width, height, bitCount, grey ? 256 : 0);
    if (!dib)
        return {};
    const DibLayout l = DibLayoutOf(dib);
    if (grey) {
        uint8_t* table = dib.Data() + 40;
        for (int i = 0; i < 256; ++i)
            std::memset(table + 4 * i, i, 3);
    }
    // Straight into the block: bottom-up rows at the block's stride.
    const int rc = tjDecompress2(tj.get(), data, static_cast<unsigned long>(size), dib.Data() + l.bitsOffset, width,
                                 l.stride, height, grey ? TJPF_GRAY : TJPF_BGR, flags | TJFLAG_BOTTOMUP);
    if (DecodeFailed(tj.get(), rc))
        return {};
    return dib;
}

bool ImgKitJpegEncode(const ImageHandle& image, int quality, QByteArray& out)
{
    ImgKitInfo info{};
    if (!ImgKitImageInfo(image, info))
        return false;
    quality = std::clamp(quality, 1, 100);
    const bool grey = info.colorType == kImgKitColorGray8;
    ImageHandle converted;
    if (!grey && info.bitCount != 24) {
        converted = ImgKitConvertColor(image, 24);
        if (!converted)
            return false;
    }
    const ImageHandle& src = converted ? converted : image;
    const DibLayout l = DibLayoutOf(src);
    const int subsamp = grey ? TJSAMP_GRAY : TJSAMP_420;

    const unsigned long capacity = tjBufSize(l.width, l.height, subsamp);
    if (capacity == static_cast<unsigned long>(-1) || capacity > static_cast<unsigned long>(kMaxDibBytes) * 2)
        return false;
    TjPtr tj(tjInitCompress());
    if (!tj)
        return false;
    out.resize(qsizetype(capacity));
    if (out.size() != qsizetype(capacity))
        return false;
    // Encode into the byte array itself: it is sized for the worst case.
    auto* jpeg = reinterpret_cast<unsigned char*>(out.data());
    unsigned long jpegSize = capacity;
    const int rc = tjCompress2(tj.get(), src.Data() + l.bitsOffset, l.width, l.stride, l.height,
                               grey ? TJPF_GRAY : TJPF_BGR, &jpeg, &jpegSize, subsamp, quality,
                               TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
    if (rc != 0 || jpeg != reinterpret_cast<unsigned char*>(out.data()) || jpegSize > capacity)
        return false;
    out.truncate(qsizetype(jpegSize));
    return true;
}
