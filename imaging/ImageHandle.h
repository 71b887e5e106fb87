// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An image in memory: one packed device-independent bitmap (DIB) block.
//
// Layout of a block, as every image of the program keeps it:
//   1. BitmapInfoHeader (40 bytes)
//   2. colour table, 4 bytes per entry (blue, green, red, reserved)
//   3. pixel rows, bottom row of the picture first, each row padded with
//      zero bytes to a multiple of 4 bytes; 24-bit pixels are blue, green, red
//
// ImageHandle owns exactly one block and releases it exactly once, when the
// handle is destroyed, reset, or assigned another block. Handles move; they
// never copy (use ImgKitCopy for a second image).

#include <cstddef>
#include <cstdint>
#include <memory>

#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);

// Largest block the program will allocate for one image (pixel data and
// header). Anything a file or a caller asks beyond this is "no image".
inline constexpr std::size_t kMaxDibBytes = std::size_t(1) << 30;
// Largest side, in pixels, of any image.
inline constexpr int kMaxDibSide = 65535;

// Bytes per row for a width and bit count: rows are padded to 4 bytes.
// Returns -1 when the arguments are out of range.
int64_t DibStride(int64_t width, int bitCount);

class ImageHandle {
public:
    ImageHandle() = default;
    ImageHandle(ImageHandle&& other) noexcept;
    ImageHandle& operator=(ImageHandle&& other) noexcept;
    ImageHandle(const ImageHandle&) = delete;
    ImageHandle& operator=(const ImageHandle&) = delete;
    ~ImageHandle() = default;

    // A zero-filled block of the given size; a null handle when the size is
    // zero, larger than kMaxDibBytes, or memory runs out.
    static ImageHandle Allocate(std::size_t bytes);

    // A new block holding a header for width x height at bitCount (1, 4, 8
    // or 24), room for paletteEntries colour-table entries (all zero) and
    // zero-filled pixel rows. biSizeImage = stride x height and biClrUsed =
    // paletteEntries. Null when the sizes are out of range.
    static ImageHandle NewDib(int width, int height, int bitCount, int paletteEntries = 0);

    // As NewDib, for a decoder that writes every pixel byte of every row
    // itself: the header, the colour table and each row's padding are
    // zeroed, the pixel bytes are left as the allocator gives them. Saves a
    // pass over a large block that would be overwritten at once.
    static ImageHandle NewDibForOverwrite(int width, int height, int bitCount, int paletteEntries = 0);

    explicit operator bool() const { return block_ != nullptr; }
    bool IsNull() const { return block_ == nullptr; }

    uint8_t* Data() { return block_.get(); }
    const uint8_t* Data() const { return block_.get(); }
    std::size_t Size() const { return size_; }

    BitmapInfoHeader* Header() { return reinterpret_cast<BitmapInfoHeader*>(block_.get()); }
    const BitmapInfoHeader* Header() const { return reinterpret_cast<const BitmapInfoHeader*>(block_.get()); }

    // Releases the block now (the handle becomes null).
    void Reset();

private:
    static ImageHandle MakeDib(int width, int height, int bitCount, int paletteEntries, bool zeroPixels);

    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> block_;
    std::size_t size_ = 0;
};

// Facts about a block, checked against its size. A block is "well formed"
// when its header is the 40-byte one, its width and height are positive,
// its bit count is 1, 4, 8 or 24, it is uncompressed, and the colour table
// and all rows lie inside the block.
struct DibLayout {
    bool valid = false;
    int width = 0;
    int height = 0;
    int bitCount = 0;
    int colorCount = 0;     // colour-table entries
    int stride = 0;         // bytes per row
    std::size_t bitsOffset = 0;  // offset of the pixel data from the block start
};
DibLayout DibLayoutOf(const ImageHandle& image);

// Colour-table entries a header implies: biClrUsed when non-zero, else 2, 16
// or 256 for 1, 4 or 8 bits, else 0.
int DibColorCount(const BitmapInfoHeader& header);
