// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The image library: file reading and writing, colour conversion, rotation,
// scaling, clipping, copying, brightness and colour offsets, and clipboard
// transfer of DIB blocks (see imaging/ImageHandle.h for the block layout).
//
// Ownership. Every call that gives an image gives a NEW block owned by the
// caller; it never hands back (or aliases) its input. A null handle means
// failure, and the input is then unchanged. Calls that work in place
// (ImgKitBright, ImgKitRGB) change the block they are given and report
// failure by returning false without touching it. Every call accepts a null
// or malformed block and answers null / false without crashing.
//
// Depths. Blocks of 1, 4, 8 and 24 bits per pixel are accepted everywhere.
// Info, ConvertColor, Rotation, Copy and RectCut keep the depth and colour
// table; the savers keep 8-bit grey as grey (JPEG, TIFF) and 1-bit as bilevel
// (TIFF); ImageSize answers with a 24-bit image; Bright and RGB adjust the
// colour table of 1-, 4- and 8-bit images (the pixel indices stay) and the
// colour bytes of 24-bit images. Row padding is never written by an in-place
// call and is zero in every block made here.
//
// Choices made here:
// - ImgKitBright(step s): s > 0 lightens toward white, v' = v + (255 - v) * s;
//   s < 0 darkens toward black, v' = v * (1 + s); each result truncated toward
//   zero and clamped to 0..255, on all three colour bytes alike. The editor
//   steps by +-0.25. A step that is not a finite number fails.
// - ImgKitRGB: each offset is added to its colour byte and the sum clamped to
//   0..255 (offsets beyond +-255 act as +-255).
// - ImgKitImageSize is the "normal, faster" scaler: separable, fixed point
//   (14-bit weights). Along an axis that shrinks, each target pixel is the
//   area average of the source span it covers (exact fractional coverage);
//   along an axis that grows (or keeps its size), bilinear interpolation with
//   pixel centres aligned (a kept size copies exactly). A flat colour stays
//   exactly flat. Width or height <= 0, beyond kMaxDibSide, or a result over
//   kMaxDibBytes → null.
// - ImgKitConvertColor only makes 24-bit images (the one depth the program
//   asks for); any other target depth → null. A palette index beyond the
//   colour table converts to black.
// - CMYK JPEG is read as Adobe-inverted CMYK (what Photoshop and most writers
//   produce, and how Qt and the browsers read it): R = C·K/255 on the stored
//   values.
// - JPEG is decoded row by row into the block (the pixels TurboJPEG gives:
//   accurate integer DCT, smooth upsampling), so a file costs memory only as
//   its data delivers rows. A JPEG is damaged, and refused whole, when it
//   does not reach its end-of-image marker, when its data ends before the
//   last row (a scan cut short, even when closed with an end-of-image
//   marker), at libjpeg's first warning of corrupt data (bad Huffman code, a
//   marker inside a scan or in place of a restart marker, junk before a
//   restart marker, inconsistent progression, invalid scan parameters), and
//   when a progressive file ends before every coefficient it started is
//   refined. Warnings that leave every pixel as written are let through: an
//   unknown JFIF revision, an unknown Adobe transform code (read as YCbCr or
//   YCCK), a bad ICC marker, junk between segments, after a complete scan or
//   before the end-of-image marker. Arithmetic-coded JPEG is refused: its
//   data may end early by design, so a cut file cannot be told from a whole
//   one.
//
// Files. The loader decides the format from the content, never from the name
// extension: JPEG (libjpeg), TIFF (libtiff, first page), BMP (own reader for
// every kind: OS/2 core and Windows headers; 1/4/8/24 bits at their depth; 16
// and 32 bits, plain or with bit fields, as 24 bits, an alpha channel laid
// over white unless it is zero everywhere; RLE8 and RLE4 as 8 and 4 bits, a
// stream without its end-of-bitmap marker counting as truncated), anything
// else through Qt's image readers. The savers encode the whole file in memory
// first and then hand it to WriteFileAtomically (core/ArchiveFiles.h), so a
// failed save never leaves a half-written file under the target name and
// leaves an existing file as it was.
//
// Threads: every call except ImgKitSetToClipBrd is reentrant (no shared
// state); ImgKitSetToClipBrd belongs to the GUI thread.

#include "core/ArchiveFiles.h"
#include "imaging/ImageHandle.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>

// The information record: five 32-bit fields.
struct ImgKitInfo {
    int32_t width;
    int32_t height;
    int32_t colorType;   // one of the kImgKitColor… values
    int32_t bitCount;    // 1, 4, 8 or 24
    int32_t colorCount;  // colour-table entries of the block
};
static_assert(sizeof(ImgKitInfo) == 20);

// Colour types. An 8-bit block is grey when its colour table is the 256-entry
// ramp (i, i, i); any other 8-bit block is a palette image.
enum : int32_t {
    kImgKitColorBilevel = 1,
    kImgKitColorPalette4 = 2,
    kImgKitColorPalette8 = 3,
    kImgKitColorGray8 = 4,
    kImgKitColorFull = 5,  // 24 bits per pixel
};

// Rotation codes of ImgKitRotation.
enum : int {
    kImgKitRotate180 = 0,
    kImgKitRotateLeft = 1,    // 90 degrees anticlockwise
    kImgKitRotateRight = 2,   // 90 degrees clockwise
    kImgKitFlipVertical = 3,  // top-bottom flip
    kImgKitMirror = 4,        // left-right mirror
};

// --- Files -----------------------------------------------------------------

// The image in the file, or null when the file is missing, a folder, empty,
// unreadable, not an image, damaged (a truncated JPEG, TIFF or BMP is
// damaged), or larger than kMaxDibSide / kMaxDibBytes.
ImageHandle ImgKitFileLoad(const QString& path);
// The same for file content already in memory.
ImageHandle ImgKitMemoryLoad(const QByteArray& bytes);
// Both read the formats the layer has no reader of its own for through Qt's
// image readers (ImgKitQt.cpp), which need Qt Gui. The layer's own readers
// need only Qt Core (the library tolvane_imgkit):
// Whether a file beginning with these bytes is for the layer's own readers
// (JPEG, TIFF, BMP).
bool ImgKitReadsItself(const uint8_t* head, std::size_t size);
// ImgKitMemoryLoad for the layer's own formats; null for any other content.
ImageHandle ImgKitOwnFormatDecode(const QByteArray& bytes);
// ImgKitFileLoad with `decode` in place of ImgKitMemoryLoad.
ImageHandle ImgKitFileLoadWith(const QString& path, ImageHandle (*decode)(const QByteArray&));

// JPEG, 4:2:0, quality 1..100 (clamped). 8-bit grey → greyscale JPEG; 1-, 4-
// and other 8-bit images are converted to 24 bits first.
// Each saver gives, in `error` when given, why a write failed (an image that
// cannot be encoded gives EINVAL).
bool ImgKitJpegFileSave(const QString& path, const ImageHandle& image, int quality, IoError* error = nullptr);
// BMP: a 14-byte file header followed by the block, at the block's depth.
bool ImgKitBmpFileSave(const QString& path, const ImageHandle& image, IoError* error = nullptr);
// TIFF, one page: 24-bit → RGB, LZW with horizontal prediction; 8-bit grey →
// min-is-black, LZW; 1-bit black and white → CCITT G4 (min-is-black or
// min-is-white after the colour table's order); other 1-, 4- and 8-bit
// images → palette TIFF, LZW.
bool ImgKitTiffFileSave(const QString& path, const ImageHandle& image, IoError* error = nullptr);

// The file for `path` in the format its extension names, in any letter case:
// ".bmp" BMP, ".tif" or ".tiff" TIFF, anything else JPEG at `quality`.
bool ImgKitEncodeForPath(const QString& path, const ImageHandle& image, int quality, QByteArray& out);

// The codecs behind the loaders and savers, on bytes in memory. The decoders
// take the whole file content; the encoders fill `out` with a whole file and
// return false (leaving `out` unspecified) when the image is null, malformed
// or cannot be encoded.
ImageHandle ImgKitJpegDecode(const QByteArray& bytes);
// A JPEG decoded at a reduced size for a picture to be shown fitted into a
// box of boxWidth x boxHeight: the largest of libjpeg's reductions n/8 that
// still leaves at least the fitted size (the fitted picture is then made
// from it), with libjpeg's fast transform: for showing only. The whole
// picture when no reduction leaves enough. fullSize, when given, receives
// the picture's own size.
ImageHandle ImgKitJpegDecodeFitting(const QByteArray& bytes, int boxWidth, int boxHeight, QSize* fullSize = nullptr);
struct JpegReduction {
    int eighths;  // the factor, in eighths (8: none)
    int width, height;  // the decoded size
};
JpegReduction JpegReductionFor(int width, int height, int boxWidth, int boxHeight);
// A large single-scan JPEG decoded at its own size is decoded in two parts
// side by side when there is a second thread: rows [0, split) by one decoder,
// rows [split, height) by another that skips the rows above (reading their
// data without the inverse DCT or the colour conversion), the same bytes as
// one decoder gives. The row where it splits, at a boundary of `rowGroup`
// rows (an MCU row): below the middle, since the lower part also reads the
// upper part's data, and the further below the more data the file has per
// pixel (`dataBytes` of coded data for `pixelBytes` of pixels); 0 when the
// picture is decoded whole (below 4 MB of pixels, or a row group too tall
// to split).
int JpegSplitRow(int height, int rowGroup, uint64_t pixelBytes, uint64_t dataBytes);
// While one lives, the decodes on its thread are never split: for a caller
// that decodes pages side by side, whose cores are busy already, and to
// whom a second decoder would only read the data twice.
class WholeJpegDecodes {
public:
    WholeJpegDecodes();
    ~WholeJpegDecodes();
    WholeJpegDecodes(const WholeJpegDecodes&) = delete;
    WholeJpegDecodes& operator=(const WholeJpegDecodes&) = delete;

private:
    bool before_;
};
ImageHandle ImgKitTiffDecode(const QByteArray& bytes);
ImageHandle ImgKitBmpDecode(const QByteArray& bytes);
bool ImgKitJpegEncode(const ImageHandle& image, int quality, QByteArray& out);
bool ImgKitTiffEncode(const ImageHandle& image, QByteArray& out);
bool ImgKitBmpEncode(const ImageHandle& image, QByteArray& out);

// --- Image operations ------------------------------------------------------

// Fills `info`; false (info untouched) for a null or malformed block.
bool ImgKitImageInfo(const ImageHandle& image, ImgKitInfo& info);

// A 24-bit copy of an image of any depth. bitCount other than 24 → null.
ImageHandle ImgKitConvertColor(const ImageHandle& image, int bitCount);

// Turned or flipped copy (codes above); any other code → null.
ImageHandle ImgKitRotation(const ImageHandle& image, int code);

// A 24-bit copy scaled to width x height (see the header comment).
ImageHandle ImgKitImageSize(const ImageHandle& image, int width, int height);

// An identical copy: same size, depth, colour table and resolution fields.
ImageHandle ImgKitCopy(const ImageHandle& image);

// In place: brightness step (see the header comment).
bool ImgKitBright(ImageHandle& image, double step);

// In place: colour offsets added to the red, green and blue bytes, clamped.
bool ImgKitRGB(ImageHandle& image, int red, int green, int blue);

// The columns left..right-1 of the picture rows top..bottom-1 (row 0 is the
// top of the picture), clipped to the image; an empty rectangle (after
// clipping, or with right <= left or bottom <= top) → null.
ImageHandle ImgKitRectCut(const ImageHandle& image, int left, int top, int right, int bottom);

// Puts the picture on the system clipboard. False without a running
// QGuiApplication or for a null or malformed block.
bool ImgKitSetToClipBrd(const ImageHandle& image);

// Releases the block now; the handle becomes null.
void ImgKitMemFree(ImageHandle& image);

// The replace rule in one place: when `result` holds an image, `current` is
// released and takes it over (true); when `result` is null, `current` stays as
// it was (false), so a failed step never loses the picture.
bool ReplaceImage(ImageHandle& current, ImageHandle&& result);

// Brings a picture to 24-bit full colour (ImgKitConvertColor when it is not
// already). True when it is full colour afterwards; false for a null or
// malformed block, or when the conversion failed (the picture stays).
bool ImgKitMakeFullColour(ImageHandle& image);
