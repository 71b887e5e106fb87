// SPDX-License-Identifier: GPL-3.0-or-later
// ifheif.spi: a Susie plug-in reading HEIC (HEVC) and AVIF (AV1) pictures,
// such as phone photos of documents, through libheif. The primary image is
// decoded with its orientation applied (libheif's default) and handed back
// as a 24-bit picture; an alpha channel is laid over white.
//
// Debian 12's libheif1 decodes HEVC through libde265 and AV1 through dav1d
// (or libaom); both come with it.

#include "imaging/SpiPlugin.h"

#include <libheif/heif.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

// Brands of the ftyp box that name a HEIF still image or sequence.
constexpr const char* kBrands[] = {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1", "avif", "avis"};
// The largest side a picture block may have (the program refuses more).
constexpr int kMaxSide = 65535;

bool KnownBrand(const unsigned char* b)
{
    for (const char* brand : kBrands)
        if (std::memcmp(b, brand, 4) == 0)
            return true;
    return false;
}

uint32_t BigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

// The file's primary image, or null (with `context` kept alive for it).
Handle OpenPrimary(const char* path, Context& context)
{
    context.reset(heif_context_alloc());
    if (!context)
        return {};
    if (heif_context_read_from_file(context.get(), path, nullptr).code != heif_error_Ok)
        return {};
    heif_image_handle* h = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &h).code != heif_error_Ok)
        return {};
    return Handle(h);
}

bool SideInRange(int w, int h)
{
    return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide;
}

inline uint8_t OverWhite(unsigned c, unsigned a) { return uint8_t((c * a + 255 * (255 - a) + 127) / 255); }

#pragma pack(push, 1)
struct InfoHeader {  // BITMAPINFOHEADER
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(InfoHeader) == 40);

int32_t Decode(const char* path, void** pHBInfo, void** pHBm)
{
    Context context;
    Handle handle = OpenPrimary(path, context);
    if (!handle)
        return SPI_NOT_SUPPORT;
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    heif_image* decoded = nullptr;
    if (heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr)
            .code
        != heif_error_Ok)
        return SPI_OUT_OF_ORDER;
    const Image image(decoded);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!SideInRange(w, h) || heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        return SPI_NOT_SUPPORT;
    int srcStride = 0;
    const uint8_t* src = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &srcStride);
    if (!src || srcStride <= 0)
        return SPI_OUT_OF_ORDER;

    const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
    const std::size_t bytes = stride * std::size_t(h);
    if (bytes > UINT32_MAX)
        return SPI_NO_MEMORY;
    auto* header = static_cast<InfoHeader*>(std::calloc(1, sizeof(InfoHeader)));
    auto* bits = static_cast<uint8_t*>(std::malloc(bytes));
    if (!header || !bits) {
        std::free(header);
        std::free(bits);
        return SPI_NO_MEMORY;
    }
    header->biSize = sizeof(InfoHeader);
    header->biWidth = w;
    header->biHeight = h;
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biSizeImage = uint32_t(bytes);

    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = src + std::size_t(y) * std::size_t(srcStride);
        uint8_t* d = bits + std::size_t(h - 1 - y) * stride;  // bottom row first
        for (int x = 0; x < w; ++x, s += channels, d += 3) {
            if (alpha && s[3] != 255) {
                d[0] = OverWhite(s[2], s[3]);
                d[1] = OverWhite(s[1], s[3]);
                d[2] = OverWhite(s[0], s[3]);
            } else {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
        std::memset(d, 0, stride - std::size_t(w) * 3);
    }
    *pHBInfo = header;
    *pHBm = bits;
    return SPI_SUCCESS;
}

}  // namespace

extern "C" {

int32_t IsSupported(const char* path, uintptr_t dw)
{
    // Only a file descriptor is read; memory images (dw >= 65536) are not.
    if (dw >= 65536)
        return 0;
    const int fd = int(dw);
    unsigned char b[256];
    ssize_t n;
    do
        n = ::pread(fd, b, sizeof b, 0);
    while (n < 0 && errno == EINTR);
    if (n < 16 || std::memcmp(b + 4, "ftyp", 4) != 0)
        return 0;
    const uint32_t boxSize = BigEndian32(b);
    if (boxSize < 16)
        return 0;
    if (KnownBrand(b + 8))  // major brand
        return 1;
    // Compatible brands, after the minor version, as far as the box and
    // what was read reach.
    const std::size_t end = boxSize < std::size_t(n) ? boxSize : std::size_t(n);
    for (std::size_t i = 16; i + 4 <= end; i += 4)
        if (KnownBrand(b + i))
            return 1;
    return 0;
}

int32_t GetPictureInfo(const char* buf, int32_t len, uint32_t flag, SpiPictureInfo* info)
{
    if ((flag & 7) != SPI_INPUT_FILE || len != 0 || !buf || !info)
        return SPI_NO_FUNCTION;
    try {
        Context context;
        const Handle handle = OpenPrimary(buf, context);
        if (!handle)
            return SPI_NOT_SUPPORT;
        // The size with the orientation applied, as GetPicture hands it back.
        const int w = heif_image_handle_get_width(handle.get());
        const int h = heif_image_handle_get_height(handle.get());
        if (!SideInRange(w, h))
            return SPI_NOT_SUPPORT;
        std::memset(info, 0, sizeof *info);
        info->width = w;
        info->height = h;
        info->colorDepth = 24;
        info->hInfo = nullptr;
        return SPI_SUCCESS;
    } catch (...) {
        return SPI_OTHER_ERROR;
    }
}

int32_t GetPicture(const char* buf, int32_t len, uint32_t flag, void** pHBInfo, void** pHBm,
                   SpiProgressCallback progress, intptr_t lData)
{
    if ((flag & 7) != SPI_INPUT_FILE || len != 0 || !buf || !pHBInfo || !pHBm)
        return SPI_NO_FUNCTION;
    *pHBInfo = nullptr;
    *pHBm = nullptr;
    try {
        return Decode(buf, pHBInfo, pHBm);
    } catch (...) {
        return SPI_NO_MEMORY;
    }
}

int32_t GetPreview(const char*, int32_t, uint32_t, void**, void**, SpiProgressCallback, intptr_t)
{
    return SPI_NO_FUNCTION;
}

}  // extern "C"
