// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Direct pixel work on DIB blocks: the TMDIB view with its drawing and its
// in-place adjustments (contrast, gamma, levels), blank blocks, blocks from
// Qt images, and the two resamplers of the high-quality scaling path.
//
// Arithmetic is integer arithmetic that truncates toward zero (C++ / and %),
// with doubles only for gamma and level stretching; results are clamped to
// 0..255. Row padding is never read as a pixel nor written.

#include "imaging/ImageHandle.h"
#include "imaging/PictureTarget.h"

#include <QList>
#include <QRgb>
#include <cstdint>
#include <optional>

// Codes of TMDIB::PixelFormat (the GUI framework's pixel-format numbers).
// A bit count outside 1, 4, 8, 24 leaves PixelFormat at 0.
enum { pf1bit = 1, pf4bit = 2, pf8bit = 3, pf24bit = 6 };

// A palette for showing an image on a palette display: version 0x300, every
// entry with flags 0 (QRgb entries are opaque).
struct LogicalPalette {
    uint16_t version = 0x300;
    QList<QRgb> entries;
};

// A view on one DIB block for the length of one operation. It never owns or
// frees the block. The fields are computed once, at construction, from the
// header alone; the operations below change pixel or colour-table bytes but
// never the image's size or depth, so the fields stay true.
//
// Pointer fields that would point outside the block are null. The operations
// act only on a well-formed block (DibLayoutOf); on any other block they
// change nothing and return false, so a damaged header can never lead to a
// read or write outside the block.
class TMDIB {
public:
    explicit TMDIB(ImageHandle& block);
    TMDIB(const TMDIB&) = delete;
    TMDIB& operator=(const TMDIB&) = delete;

    uint8_t CoreHeader = 0;       // 1 when the header is the old 12-byte core header
    uint8_t* Header = nullptr;    // first byte of the block (the header)
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t PixelCount = 0;       // Width x Height
    int32_t PaletteBytes = 0;     // 4 x ColorCount
    int32_t PixelFormat = 0;      // pf1bit, pf4bit, pf8bit, pf24bit or 0
    int32_t Stride = 0;           // bytes per row, padded to 4
    int32_t ImageBytes = 0;       // header image-size field, or Stride x Height when it is 0
    uint8_t* TopRow = nullptr;    // Bits + ImageBytes - Stride: the picture's top row
    uint8_t* Bits = nullptr;      // Palette + PaletteBytes: the pixel rows, bottom row first
    uint8_t* Palette = nullptr;   // Header + header size: the colour table

    // Colour-table entries the header at `header` implies: the colours-used
    // field (low 16 bits) when non-zero, else 2, 16 or 256 for 1, 4 or 8
    // bits, else 0. A 12-byte core header sets CoreHeader and counts by its
    // bit count alone. When `header` is this view's Header, nothing beyond
    // the block is read.
    uint16_t ColorCount(const uint8_t* header);

    // The colour table as a palette; for a 24-bit image without a table a
    // fixed 256-colour cube (red fastest in steps of 32, then green in steps
    // of 32, blue in steps of 64). None for a header other than the 40-byte
    // one, for other depths without a table, and for a table that would run
    // past the block.
    std::optional<LogicalPalette> MakePalette(const uint8_t* header);

    // Hands the image's picture (top row first; 1-bit as Format_Mono, 4- and
    // 8-bit as Format_Indexed8 with the colour table, 24-bit as
    // Format_BGR888) to `image`. False, and nothing handed over, for a
    // malformed block or when the picture cannot be allocated.
    bool DrawToImage(PictureTarget& image);

    // v' = ((c + 100) x (v - 128)) / 100 + 128, clamped. Palette images are
    // adjusted through their colour table only, never their pixel indices.
    bool Contrast(int c);
    // g is gamma x 100: v' = v^(100/g) x 255 / 255^(100/g), truncated and
    // clamped. g <= 0 leaves the image unchanged.
    bool Gamma(int g);
    // Stretches low..high to 0..255 for channel 0 (all), 1 (red), 2 (green)
    // or 3 (blue): v' = -low x d + d x v with d = 255 / (high - low),
    // truncated and clamped. high <= low, or another channel number, leaves
    // the image unchanged.
    bool Levels(int low, int high, int channel);
    // The table Levels applies: false (and `table` untouched) when high <=
    // low, which leaves the image as it is.
    static bool LevelsTable(int low, int high, uint8_t (&table)[256]);

private:
    bool ApplyTable(const uint8_t (&table)[256], int channel);

    ImageHandle& block_;
    DibLayout layout_;
};

// A new zero-filled (black) block of width x height; type 0, 1, 2, 3 gives
// 1, 4, 8, 24 bits per pixel. The block has no colour table, so only type 3
// makes a well-formed image by itself. Null for a bad type or size.
ImageHandle CreateDib(int width, int height, int type);

// A new block holding the bitmap's pixels: Format_Mono/MonoLSB as 1-bit,
// Format_Indexed8/Grayscale8 as 8-bit (with colour table), Format_RGB888/
// BGR888 as 24-bit. Null for every other format (15-, 16- and 32-bit ones
// included) and for a null bitmap.
ImageHandle BitmapToDib(const QImage& bitmap);

// Fills the 24-bit destination from the 24-bit source by area averaging, in
// thousandths of a source pixel with percent weights. Destination pixels
// whose window weighs nothing keep their bytes. Does nothing unless both
// blocks are well-formed 24-bit images.
void ResampleAverage(ImageHandle& destination, const ImageHandle& source);

// Fills the 24-bit destination from the 24-bit source by bilinear
// interpolation; on the last column or row the nearest source pixel is
// taken. Does nothing unless both blocks are well-formed 24-bit images.
void ResampleBilinear(ImageHandle& destination, const ImageHandle& source);
