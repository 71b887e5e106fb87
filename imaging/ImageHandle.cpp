// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/ImageHandle.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <sys/mman.h>

namespace {

// A page of memory costs a fault the first time it is written, and on a
// virtual machine whose memory the host has not given yet a fault costs
// some 10 µs: an A4 scan at 300 dpi (26 MB) took 70 ms to fault in, longer
// than decoding it. So a block of 1 to 32 MiB, the size of a page's scan,
// comes in whole 2 MiB pages, aligned, asked for as transparent huge pages
// (granted where the system gives them on request) and made present in one
// call (Linux 5.14 and later; elsewhere the call fails and the pages come
// at first touch). A larger block only asks for huge pages: a file may
// claim a picture far larger than its data fill, and such a block must
// cost only the pages its rows are written to (calloc's fresh pages are
// zero without being touched).
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kPopulateLimit = std::size_t(32) << 20;

void AskForHugePages(void* p, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~uintptr_t(kHugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

uint8_t* AllocateBytes(std::size_t bytes, bool zero)
{
    if (bytes < kHugePage / 2)
        return static_cast<uint8_t*>(zero ? std::calloc(bytes, 1) : std::malloc(bytes));
    const std::size_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    if (whole > kPopulateLimit) {
        auto* p = static_cast<uint8_t*>(zero ? std::calloc(bytes, 1) : std::malloc(bytes));
        if (p)
            AskForHugePages(p, bytes);
        return p;
    }
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(kHugePage, whole));
    if (!p)
        return nullptr;
    AskForHugePages(p, whole);
#ifdef MADV_POPULATE_WRITE
    madvise(p, whole, MADV_POPULATE_WRITE);
#endif
    // The block may be memory freed before, from the heap: not known zero.
    if (zero)
        std::memset(p, 0, bytes);
    return p;
}

}  // namespace

int64_t DibStride(int64_t width, int bitCount)
{
    if (width < 0 || width > kMaxDibSide || bitCount <= 0 || bitCount > 32)
        return -1;
    const int64_t n = width * bitCount;
    return n % 32 == 0 ? (n / 32) * 4 : (n / 32) * 4 + 4;
}

void ImageHandle::Free::operator()(uint8_t* p) const
{
    std::free(p);
}

ImageHandle::ImageHandle(ImageHandle&& other) noexcept
    : block_(std::move(other.block_)), size_(std::exchange(other.size_, 0))
{
}

ImageHandle& ImageHandle::operator=(ImageHandle&& other) noexcept
{
    if (this != &other) {
        block_ = std::move(other.block_);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

ImageHandle ImageHandle::Allocate(std::size_t bytes)
{
    ImageHandle h;
    if (bytes == 0 || bytes > kMaxDibBytes)
        return h;
    auto* p = AllocateBytes(bytes, true);
    if (!p)
        return h;
    h.block_.reset(p);
    h.size_ = bytes;
    return h;
}

ImageHandle ImageHandle::NewDib(int width, int height, int bitCount, int paletteEntries)
{
    return MakeDib(width, height, bitCount, paletteEntries, true);
}

ImageHandle ImageHandle::NewDibForOverwrite(int width, int height, int bitCount, int paletteEntries)
{
    return MakeDib(width, height, bitCount, paletteEntries, false);
}

ImageHandle ImageHandle::MakeDib(int width, int height, int bitCount, int paletteEntries, bool zeroPixels)
{
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        return {};
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)
        return {};
    if (paletteEntries < 0 || paletteEntries > 256)
        return {};
    const int64_t stride = DibStride(width, bitCount);
    const uint64_t imageBytes = uint64_t(stride) * uint64_t(height);
    const uint64_t total = sizeof(BitmapInfoHeader) + uint64_t(paletteEntries) * 4 + imageBytes;
    if (total > kMaxDibBytes)
        return {};
    ImageHandle h;
    if (zeroPixels) {
        h = Allocate(std::size_t(total));
    } else if (auto* p = AllocateBytes(std::size_t(total), false)) {
        h.block_.reset(p);
        h.size_ = std::size_t(total);
        const std::size_t head = sizeof(BitmapInfoHeader) + std::size_t(paletteEntries) * 4;
        std::memset(p, 0, head);
        const std::size_t used = (std::size_t(width) * std::size_t(bitCount) + 7) / 8;
        if (used < std::size_t(stride))
            for (int y = 0; y < height; ++y)
                std::memset(p + head + std::size_t(y) * std::size_t(stride) + used, 0, std::size_t(stride) - used);
    }
    if (!h)
        return h;
    BitmapInfoHeader hdr;
    hdr.biWidth = width;
    hdr.biHeight = height;
    hdr.biBitCount = uint16_t(bitCount);
    hdr.biSizeImage = uint32_t(imageBytes);
    hdr.biClrUsed = uint32_t(paletteEntries);
    std::memcpy(h.Data(), &hdr, sizeof hdr);
    return h;
}

void ImageHandle::Reset()
{
    block_.reset();
    size_ = 0;
}

int DibColorCount(const BitmapInfoHeader& header)
{
    if (header.biClrUsed != 0)
        return int(header.biClrUsed & 0xFFFF);
    switch (header.biBitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

DibLayout DibLayoutOf(const ImageHandle& image)
{
    DibLayout l;
    if (!image || image.Size() < sizeof(BitmapInfoHeader))
        return l;
    const BitmapInfoHeader& h = *image.Header();
    if (h.biSize != 40 || h.biWidth <= 0 || h.biHeight <= 0 || h.biWidth > kMaxDibSide
        || h.biHeight > kMaxDibSide || h.biCompression != 0)
        return l;
    if (h.biBitCount != 1 && h.biBitCount != 4 && h.biBitCount != 8 && h.biBitCount != 24)
        return l;
    const int colors = DibColorCount(h);
    if (colors > 256)
        return l;
    const int64_t stride = DibStride(h.biWidth, h.biBitCount);
    const uint64_t need = 40 + uint64_t(colors) * 4 + uint64_t(stride) * uint64_t(h.biHeight);
    if (need > image.Size())
        return l;
    l.valid = true;
    l.width = h.biWidth;
    l.height = h.biHeight;
    l.bitCount = h.biBitCount;
    l.colorCount = colors;
    l.stride = int(stride);
    l.bitsOffset = 40 + std::size_t(colors) * 4;
    return l;
}
