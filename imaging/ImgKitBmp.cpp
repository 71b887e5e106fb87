// BMP files: the reader and the writer, between the file bytes and the DIB
// block.

#include "imaging/ImgKit.h"

#include "imaging/ImgKitQt.h"

#include <cstring>

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


}  // namespace

// --- BMP -------------------------------------------------------------------

ImageHandle ImgKitBmpDecode(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (size < 14 + 12 || data[0] != 'B' || data[1] != 'M')
        return {};
    const uint32_t headerSize = Le32(data + 14);
    // The uncompressed 1/4/8/24-bit files (what this program and nearly every
    // scanner program write) are read here, straight into a block of the same
    // depth. RLE, bit-field, 16/32-bit and OS/2 files go to Qt's reader.
    const bool ownFormat = (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108
                            || headerSize == 124)
        && size >= 14 + std::size_t(headerSize) && Le32(data + 14 + 16) == 0;
    const int bitCount = ownFormat ? Le16(data + 14 + 14) : 0;
    if (!ownFormat || (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24))
        return ImgKitQtDecode(bytes, "bmp");

    const int32_t width = int32_t(Le32(data + 14 + 4));
    const int32_t rawHeight = int32_t(Le32(data + 14 + 8));
    const bool topDown = rawHeight < 0;
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN)
        return {};
    const int32_t height = topDown ? -rawHeight : rawHeight;
    if (width > kMaxDibSide || height > kMaxDibSide)
        return {};

    int colors = 0;
    if (bitCount <= 8) {
        const uint32_t used = Le32(data + 14 + 32);
        colors = (used == 0 || used > (1u << bitCount)) ? (1 << bitCount) : int(used);
    }
    const std::size_t tableOffset = 14 + std::size_t(headerSize);
    if (tableOffset + std::size_t(colors) * 4 > size)
        return {};
    std::size_t pixelOffset = Le32(data + 10);
    if (pixelOffset < tableOffset + std::size_t(colors) * 4)
        pixelOffset = tableOffset + std::size_t(colors) * 4;  // a writer that left the offset out
    const uint64_t stride = uint64_t(DibStride(width, bitCount));
    if (pixelOffset > size || stride * uint64_t(height) > size - pixelOffset)
        return {};  // truncated

    ImageHandle dib = ImageHandle::NewDib(width, height, bitCount, colors);
    if (!dib)
        return {};
    BitmapInfoHeader& h = *dib.Header();
    h.biXPelsPerMeter = int32_t(Le32(data + 14 + 24));
    h.biYPelsPerMeter = int32_t(Le32(data + 14 + 28));
    uint8_t* table = dib.Data() + 40;
    for (int i = 0; i < colors; ++i) {
        std::memcpy(table + 4 * i, data + tableOffset + 4 * std::size_t(i), 3);
        table[4 * i + 3] = 0;
    }
    // Only the pixel bytes of each row are taken: the file's padding bytes
    // may hold anything, the block's stay zero.
    const std::size_t rowBytes = (std::size_t(width) * std::size_t(bitCount) + 7) / 8;
    const int tailBits = int((uint64_t(width) * uint64_t(bitCount)) % 8);
    uint8_t* bits = dib.Data() + 40 + std::size_t(colors) * 4;
    for (int32_t i = 0; i < height; ++i) {
        const uint8_t* s = data + pixelOffset + std::size_t(i) * stride;
        uint8_t* d = bits + std::size_t(topDown ? height - 1 - i : i) * stride;
        std::memcpy(d, s, rowBytes);
        if (tailBits)
            d[rowBytes - 1] &= uint8_t(0xFF << (8 - tailBits));
    }
    return dib;
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
