// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG reading through the libjpeg API and writing through TurboJPEG,
// straight between the file bytes and the DIB block.
//
// The decoder reads the picture row by row into the bottom-up rows of the
// block, so a file costs memory only as its data delivers rows: a small file
// whose header claims a giant picture runs out of data after a few rows and
// is refused there, before the untouched rest of the block ever reaches
// memory. Damaged data is refused at libjpeg's first warning about it
// (see KeepsPixelsAsWritten); the marker walk below refuses files that do not
// reach their end-of-image marker and files with absurd scan counts before
// libjpeg sees them. The encoder reads the block's rows the same way.

#include "imaging/ImgKit.h"
#include "imaging/RowBands.h"

#include <turbojpeg.h>

#include <cstdio>  // jpeglib.h needs FILE
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <utility>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <memory>

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

// libjpeg's warnings that leave every decoded pixel as the file holds it.
// Everything else libjpeg warns about means data that is corrupt or missing
// (premature end of a data segment or of the file, bad Huffman or arithmetic
// code, a marker where a restart marker belongs, inconsistent progression,
// invalid scan parameters, and any warning this list does not know), and the
// file is refused at once.
//   - An unknown JFIF revision: the header is read the same either way.
//   - An unknown Adobe colour transform code: libjpeg takes YCbCr (three
//     components) or YCCK (four), what the other codes mean in practice; the
//     coefficients are all there.
//   - A bad ICC marker: the profile is not used here.
//   - Extraneous bytes before a marker other than a restart marker: junk
//     between header segments, after a complete scan before the next one's
//     tables or SOS, or before EOI. Every MCU of the scan was decoded from
//     its own data; a scan that ran short would have warned first. Junk before
//     a restart marker means the interval's data did not end where its MCUs
//     did, so that interval is damaged.
bool KeepsPixelsAsWritten(const jpeg_error_mgr& err)
{
    switch (err.msg_code) {
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
        return true;
    case JWRN_EXTRANEOUS_DATA: {
        const int marker = err.msg_parm.i[1];
        return !(marker >= 0xD0 && marker <= 0xD7);
    }
    default:
        return false;
    }
}

struct ErrorManager {
    jpeg_error_mgr pub;  // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// msg_level -1 is a warning; 0 and above are trace messages, never shown.
void EmitMessage(j_common_ptr cinfo, int msgLevel)
{
    if (msgLevel < 0 && !KeepsPixelsAsWritten(*cinfo->err))
        ErrorExit(cinfo);
}

void OutputMessage(j_common_ptr) {}

// The most libjpeg may take for its own buffers. Files of several scans
// (progressive ones above all) keep every DCT coefficient of the picture,
// two bytes per sample, until the last scan is in. Within the block limits
// that is at most twice kMaxDibBytes: two bytes per sample of a grey block,
// six bytes per pixel of a 24-bit one, eight bytes per pixel of a CMYK
// picture (whose four samples per pixel stay within kMaxDibBytes, below).
// The rest is working memory of a few rows, a few MB at the widest.
// Set by WholeJpegDecodes on its thread.
thread_local bool wholeDecodes = false;

constexpr long kMaxLibjpegMemory = long(2 * kMaxDibBytes) + (64L << 20);

// Rows per jpeg_read_scanlines call: more than libjpeg ever gives at once
// (an MCU row), so each call does a whole row group.
constexpr int kRowsPerRead = 32;

// The block for the picture. Its pixel bytes are all written by the decoder,
// row by row; the row padding must be zero. NewDibForOverwrite zeroes the
// padding of every row at once, which for a large block with padded rows
// brings a page per row into memory before any data has arrived (134 MB for
// 8603 x 32767 grey), so such blocks come from NewDib: calloc gets large
// blocks from the system already zeroed, costing nothing until written.
// Blocks under 32 MiB may come from memory malloc already holds, which calloc
// would clear first; for those NewDibForOverwrite is the cheaper one.
bool AllocateBlock(ImageHandle* out, int width, int height, int bitCount, int paletteEntries)
{
    const int64_t stride = DibStride(width, bitCount);
    const bool padded = stride * 8 != int64_t(width) * bitCount;
    const bool large = uint64_t(stride) * uint64_t(height) >= (uint64_t(32) << 20);
    *out = padded && large ? ImageHandle::NewDib(width, height, bitCount, paletteEntries)
                           : ImageHandle::NewDibForOverwrite(width, height, bitCount, paletteEntries);
    return bool(*out);
}

// A progressive file that ended (with EOI) before its last scans: some
// coefficient was started but never refined to full precision, and the
// picture is a blurred or colour-less guess. Coefficients no scan mentions
// stay zero, which an encoder may choose, so they are not held against it.
bool ProgressionComplete(const jpeg_decompress_struct& cinfo)
{
    if (!cinfo.progressive_mode)
        return true;
    if (!cinfo.coef_bits)
        return false;
    for (int c = 0; c < cinfo.num_components; ++c)
        for (int k = 0; k < DCTSIZE2; ++k)
            if (cinfo.coef_bits[c][k] > 0 || (k == 0 && cinfo.coef_bits[c][0] < 0))
                return false;
    return true;
}

// Every decoder here reports failures, and the warnings that count as
// damage, by a longjmp to err.jump, which the caller sets before libjpeg runs.
void UseErrors(jpeg_decompress_struct& cinfo, ErrorManager& err)
{
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = OutputMessage;
}

// The decoder made, within its memory limit, and the header of `data` read.
void ReadHeader(jpeg_decompress_struct& cinfo, const uint8_t* data, std::size_t size)
{
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxLibjpegMemory;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
}

// Rows [from, to) of the picture in `data` decoded into the rows of a block
// (`bits`, bottom-up rows of `stride` bytes, `height` of them) by a decoder
// of its own, as DecodeInto decodes a picture at its own size; the rows
// above `from` skipped. A part that ends at the last row reads the file to
// its end, as a whole decode does. False where the whole decode would fail:
// every warning is seen by the part that reads the data it comes from (the
// lower part reads all of it). Nothing here needs a destructor (longjmp).
bool DecodeRowRange(const uint8_t* data, std::size_t size, uint8_t* bits, std::size_t stride, int height,
                    J_COLOR_SPACE space, JDIMENSION from, JDIMENSION to)
{
    jpeg_decompress_struct cinfo = {};
    ErrorManager err;
    UseErrors(cinfo, err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    ReadHeader(cinfo, data, size);
    cinfo.out_color_space = space;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    cinfo.scale_num = cinfo.scale_denom = 1;
    jpeg_start_decompress(&cinfo);
    if (int(cinfo.output_height) != height || to > cinfo.output_height
        || (from > 0 && jpeg_skip_scanlines(&cinfo, from) != from))
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    JSAMPROW rows[kRowsPerRead];
    while (cinfo.output_scanline < to) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION n = std::min<JDIMENSION>(kRowsPerRead, to - first);
        for (JDIMENSION i = 0; i < n; ++i)
            rows[i] = bits + std::size_t(height - 1 - int(first + i)) * stride;
        if (jpeg_read_scanlines(&cinfo, rows, n) == 0)
            ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    }
    if (to == cinfo.output_height)
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// Decodes into *out. libjpeg reports every failure by a longjmp back into
// this frame, so nothing here may need a destructor: the block lives in the
// caller, the libjpeg state and its memory pools are plain C, and the only
// C++ object ever made here (in AllocateBlock) is gone before libjpeg runs
// again. On failure *out may hold a block, which the caller drops.
// With a box (boxWidth > 0), libjpeg scales the picture down by the largest
// of its factors n/8 that still leaves it at least the size it has fitted
// into the box (at most its own size).
bool DecodeInto(const uint8_t* data, std::size_t size, ImageHandle* out, int boxWidth = 0, int boxHeight = 0,
                QSize* fullSize = nullptr)
{
    jpeg_decompress_struct cinfo = {};
    ErrorManager err;
    UseErrors(cinfo, err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    ReadHeader(cinfo, data, size);

    int width = int(cinfo.image_width);
    int height = int(cinfo.image_height);
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    // Arithmetic-coded data may legally end before its last MCU (the decoder
    // then goes on with zero bits), so libjpeg gives no sign of a file cut
    // short, and a few bytes could claim any picture and decode it whole from
    // nothing. No camera, scanner or common program writes such files.
    if (cinfo.jpeg_color_space == JCS_UNKNOWN || cinfo.arith_code)
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    const int bitCount = grey ? 8 : 24;
    const uint64_t pixelBytes = uint64_t(DibStride(width, bitCount)) * uint64_t(height);
    if (cmyk ? uint64_t(width) * uint64_t(height) * 4 > kMaxDibBytes || pixelBytes > kMaxDibBytes
             : pixelBytes + 40 + 1024 > kMaxDibBytes)
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));

    // TurboJPEG's defaults, which the pictures filed so far were decoded with.
    cinfo.out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    cinfo.scale_num = cinfo.scale_denom = 1;
    const JpegReduction reduction = JpegReductionFor(width, height, boxWidth, boxHeight);
    if (reduction.eighths < 8) {
        cinfo.scale_num = unsigned(reduction.eighths);
        cinfo.scale_denom = 8;
    }
    if (boxWidth > 0) {
        // Only ever shown, fitted smaller still: the fast transform will do.
        cinfo.dct_method = JDCT_IFAST;
        cinfo.do_fancy_upsampling = FALSE;
    }
    // Files of several scans are read whole here, into libjpeg's coefficient
    // buffer, before the first row comes out.
    jpeg_start_decompress(&cinfo);
    if (int(cinfo.output_width) != reduction.width || int(cinfo.output_height) != reduction.height
        || !ProgressionComplete(cinfo))
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    if (fullSize)
        *fullSize = QSize(width, height);
    width = reduction.width;
    height = reduction.height;

    if (!AllocateBlock(out, width, height, bitCount, grey ? 256 : 0))
        ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
    uint8_t* const block = out->Data();
    const DibLayout l = DibLayoutOf(*out);
    if (grey)
        for (int i = 0; i < 256; ++i)
            std::memset(block + 40 + 4 * i, i, 3);
    uint8_t* const bits = block + l.bitsOffset;
    const std::size_t stride = std::size_t(l.stride);
    auto rowAt = [=](JDIMENSION y) { return bits + std::size_t(height - 1 - int(y)) * stride; };

    if (cmyk) {
        // One row of CMYK at a time, from libjpeg's pool so that a longjmp
        // frees it with the rest.
        JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                    JDIMENSION(width) * 4, 1);
        while (cinfo.output_scanline < cinfo.output_height) {
            uint8_t* d = rowAt(cinfo.output_scanline);
            if (jpeg_read_scanlines(&cinfo, row, 1) != 1)
                ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
            // Adobe-inverted CMYK: the stored bytes are 255 - ink, so the
            // light reaching the eye is C * K / 255 per channel (R from C, G
            // from M, B from Y).
            const uint8_t* s = row[0];
            for (int x = 0; x < width; ++x, s += 4, d += 3) {
                const unsigned k = s[3];
                d[0] = uint8_t((s[2] * k + 127) / 255);
                d[1] = uint8_t((s[1] * k + 127) / 255);
                d[2] = uint8_t((s[0] * k + 127) / 255);
            }
        }
    } else if (const int split = reduction.eighths == 8 && boxWidth <= 0 && !jpeg_has_multiple_scans(&cinfo)
                                         && RowBandThreads() > 1 && !wholeDecodes
                                     ? JpegSplitRow(height, cinfo.max_v_samp_factor * DCTSIZE, pixelBytes, size)
                                     : 0) {
        // Two decoders side by side, each from the file's start; this one's
        // work so far (the header) is not needed again.
        const J_COLOR_SPACE space = cinfo.out_color_space;
        jpeg_destroy_decompress(&cinfo);
        bool upper = false, lower = false;
        RunSideBySide(
            [&] { upper = DecodeRowRange(data, size, bits, stride, height, space, 0, JDIMENSION(split)); },
            [&] { lower = DecodeRowRange(data, size, bits, stride, height, space, JDIMENSION(split), JDIMENSION(height)); });
        return upper && lower;
    } else {
        // Straight into the block: libjpeg writes each row where it belongs.
        JSAMPROW rows[kRowsPerRead];
        while (cinfo.output_scanline < cinfo.output_height) {
            const JDIMENSION first = cinfo.output_scanline;
            const JDIMENSION n = std::min<JDIMENSION>(kRowsPerRead, cinfo.output_height - first);
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = rowAt(first + i);
            if (jpeg_read_scanlines(&cinfo, rows, n) == 0)
                ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
        }
    }
    // Reads what follows the last scan up to EOI: warnings there count too.
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

WholeJpegDecodes::WholeJpegDecodes() : before_(std::exchange(wholeDecodes, true)) {}

WholeJpegDecodes::~WholeJpegDecodes()
{
    wholeDecodes = before_;
}

int JpegSplitRow(int height, int rowGroup, uint64_t pixelBytes, uint64_t dataBytes)
{
    if (pixelBytes < (uint64_t(4) << 20) || rowGroup <= 0 || height < 4 * rowGroup)
        return 0;
    // Reading the data (D bytes) and making the rows (P bytes) take about
    // 9.7 ms a MB and 0.4 ms a MB of pixels here (a 2480 x 3508 scan:
    // 18.8 ms to read a noisy 2 MB file, 10.3 ms for the rest). The upper
    // part does both for its share f, the lower part reads all the data and
    // makes the rest of the rows: f (D' + P') = D' + (1 - f) P' with D' =
    // 24 D and P' = P gives f = (24 D + P) / (24 D + 2 P), 56 % for a smooth
    // page, 74 % for that noisy one.
    const double d = 24.0 * double(dataBytes), p = double(pixelBytes);
    const double share = std::clamp((d + p) / (d + 2 * p), 0.5, 0.9);
    const int split = int(double(height) * share) / rowGroup * rowGroup;
    return split > 0 && split < height ? split : 0;
}

JpegReduction JpegReductionFor(int width, int height, int boxWidth, int boxHeight)
{
    JpegReduction r{8, width, height};
    if (boxWidth <= 0 || boxHeight <= 0 || width <= 0 || height <= 0)
        return r;
    const double t = std::min({double(boxWidth) / width, double(boxHeight) / height, 1.0});
    const int needWidth = std::max(1, int(std::lround(width * t)));
    const int needHeight = std::max(1, int(std::lround(height * t)));
    for (int n = 1; n < 8; ++n) {
        // libjpeg's output size for the factor n/8: rounded up.
        const int w = int((int64_t(width) * n + 7) / 8), h = int((int64_t(height) * n + 7) / 8);
        if (w >= needWidth && h >= needHeight)
            return {n, w, h};
    }
    return r;
}

ImageHandle ImgKitJpegDecode(const QByteArray& bytes)
{
    return ImgKitJpegDecodeFitting(bytes, 0, 0);
}

ImageHandle ImgKitJpegDecodeFitting(const QByteArray& bytes, int boxWidth, int boxHeight, QSize* fullSize)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return {};
    const JpegShape shape = WalkMarkers(data, size);
    if (!shape.complete || shape.scans == 0 || shape.scans > kMaxScans)
        return {};
    ImageHandle dib;
    if (!DecodeInto(data, size, &dib, boxWidth, boxHeight, fullSize))
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
