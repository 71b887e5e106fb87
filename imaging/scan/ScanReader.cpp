// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scan/ScanReader.h"

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>

#if defined(__GNUC__) && defined(__x86_64__)
#include <tmmintrin.h>
#define TOLVANE_SCAN_SSSE3 1
#endif

namespace scan {
namespace {

// The kernel zeroes each page of a fresh block on the first write to it:
// some 100 MB for an A4 colour page at 600 dpi, a good part of the loop's
// time. A helper thread has it done while the loop waits for the scanner,
// from the block's end back to its start in 2 MiB steps, the order in which
// the rows arrive (the block is bottom-up). MADV_POPULATE_WRITE leaves a page
// that is already there as it is, so the loop may write anywhere meanwhile.
// A kernel without it (before 5.14) answers EINVAL: the helper gives up and
// the loop's own writes fault the pages in, as they did before. Stop() waits
// for at most one step; the owner stops the helper before the block goes.
class Prefault {
public:
    Prefault() = default;
    Prefault(const Prefault&) = delete;
    Prefault& operator=(const Prefault&) = delete;
    ~Prefault() { Stop(); }

    void Start(uint8_t* data, std::size_t size)
    {
#ifdef MADV_POPULATE_WRITE
        if (size < kMinimum || thread_.joinable())
            return;
        stop_.store(false, std::memory_order_relaxed);
        gaveUp_.store(false, std::memory_order_relaxed);
        try {
            thread_ = std::thread([this, data, size] { Run(data, size); });
        } catch (const std::system_error&) {
            // No thread: the loop's writes fault the pages in.
        }
#else
        (void)data;
        (void)size;
#endif
    }

    void Stop()
    {
        stop_.store(true, std::memory_order_relaxed);
        if (thread_.joinable())
            thread_.join();
    }

    // Whether the helper is (or was) ahead of the loop: the pages the rows
    // land on were zeroed a while ago and are no longer in the cache.
    bool Ahead() const { return thread_.joinable() && !gaveUp_.load(std::memory_order_relaxed); }

private:
    static constexpr uintptr_t kStep = uintptr_t(2) << 20;         // a large page
    static constexpr std::size_t kMinimum = std::size_t(8) << 20;  // smaller blocks: not worth a thread

    void Run(uint8_t* data, std::size_t size)
    {
#ifdef MADV_POPULATE_WRITE
        const uintptr_t begin = reinterpret_cast<uintptr_t>(data) & ~uintptr_t(4095);
        uintptr_t next = reinterpret_cast<uintptr_t>(data) + size;
        while (next > begin && !stop_.load(std::memory_order_relaxed)) {
            const uintptr_t from = std::max(begin, (next - 1) & ~(kStep - 1));
            if (madvise(reinterpret_cast<void*>(from), next - from, MADV_POPULATE_WRITE) != 0) {
                if (errno == EINTR)
                    continue;
                gaveUp_.store(true, std::memory_order_relaxed);  // EINVAL, ENOMEM, …
                return;
            }
            next = from;
        }
#else
        (void)data;
        (void)size;
#endif
    }

    std::atomic<bool> stop_{false};
    std::atomic<bool> gaveUp_{false};
    std::thread thread_;
};

// Where the rows of the picture go, top row first (y = 0).
class Canvas {
public:
    bool Init(int width, int64_t lines, int bitCount)
    {
        width_ = width;
        bitCount_ = bitCount;
        stride_ = DibStride(width, bitCount);
        if (stride_ <= 0)
            return false;
        palette_ = bitCount == 1 ? 2 : bitCount == 8 ? 256 : 0;
        if (lines > 0) {
            if (lines > kMaxDibSide)
                return false;
            height_ = lines;
            // Every pixel byte of every row is written before the block is
            // handed out (a three-pass scan writes each row three times).
            dib_ = ImageHandle::NewDibForOverwrite(width, int(lines), bitCount, palette_);
            if (!dib_)
                return false;
            bits_ = dib_.Data() + sizeof(BitmapInfoHeader) + std::size_t(palette_) * 4;
            prefault_.Start(bits_, std::size_t(stride_) * std::size_t(lines));
        }
        return true;
    }

    bool KnownHeight() const { return height_ > 0; }
    // Rows may be written past the cache (see ConvertRow).
    bool WriteAround() const { return prefault_.Ahead(); }
    int64_t Height() const { return height_ > 0 ? height_ : gathered_; }
    int64_t Stride() const { return stride_; }

    // The row y; for an unknown height rows are added as y reaches the end
    // (null when the picture would grow past the limits).
    uint8_t* Row(int64_t y, bool mayGrow)
    {
        if (height_ > 0)
            return bits_ + std::size_t(height_ - 1 - y) * std::size_t(stride_);
        if (y >= gathered_) {
            if (!mayGrow || y >= kMaxDibSide
                || uint64_t(y + 1) * uint64_t(stride_) + 2048 > uint64_t(kMaxDibBytes))
                return nullptr;
            rows_.resize(std::size_t(y + 1) * std::size_t(stride_));
            gathered_ = y + 1;
        }
        return rows_.data() + std::size_t(y) * std::size_t(stride_);
    }

    ImageHandle Finish(double dpiX, double dpiY)
    {
        prefault_.Stop();
#ifdef TOLVANE_SCAN_SSSE3
        _mm_sfence();  // rows written past the cache are in the block before it goes
#endif
        if (height_ <= 0) {
            // Rows were gathered top-down; the block wants them bottom-up.
            dib_ = ImageHandle::NewDibForOverwrite(width_, int(gathered_), bitCount_, palette_);
            if (!dib_)
                return {};
            bits_ = dib_.Data() + sizeof(BitmapInfoHeader) + std::size_t(palette_) * 4;
            for (int64_t y = 0; y < gathered_; ++y)
                std::memcpy(bits_ + std::size_t(gathered_ - 1 - y) * std::size_t(stride_),
                            rows_.data() + std::size_t(y) * std::size_t(stride_), std::size_t(stride_));
            std::vector<uint8_t>().swap(rows_);
        }
        uint8_t* table = dib_.Data() + sizeof(BitmapInfoHeader);
        if (palette_ == 2) {
            // Index 0 black, 1 white, as the DIB blocks of scanners have it.
            const uint8_t bw[8] = {0, 0, 0, 0, 255, 255, 255, 0};
            std::memcpy(table, bw, 8);
        } else if (palette_ == 256) {
            for (int i = 0; i < 256; ++i) {
                table[i * 4] = table[i * 4 + 1] = table[i * 4 + 2] = uint8_t(i);
                table[i * 4 + 3] = 0;
            }
        }
        dib_.Header()->biXPelsPerMeter = PelsPerMeter(dpiX);
        dib_.Header()->biYPelsPerMeter = PelsPerMeter(dpiY);
        return std::move(dib_);
    }

private:
    int width_ = 0;
    int bitCount_ = 0;
    int palette_ = 0;
    int64_t stride_ = 0;
    int64_t height_ = 0;    // known line count, else 0
    int64_t gathered_ = 0;  // rows gathered so far (unknown line count)
    ImageHandle dib_;
    uint8_t* bits_ = nullptr;
    std::vector<uint8_t> rows_;
    Prefault prefault_;  // declared after dib_: stopped before the block is freed
};

inline unsigned Sample16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);  // host byte order
    return v >> 8;
}

// RGB to BGR, `w` pixels; src and dst do not overlap.
void SwapRedBlueScalar(const uint8_t* src, uint8_t* dst, std::size_t w)
{
    for (std::size_t x = 0; x < w; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

#ifdef TOLVANE_SCAN_SSSE3
// Output byte j of a run of 16 pixels (48 bytes) is input byte Source(j).
constexpr int Source(int j)
{
    return 3 * (j / 3) + 2 - j % 3;
}

// pshufb masks: [output vector][input vector][byte], -1 where the byte of
// that output vector comes from another input vector.
struct SwapMasks {
    int8_t m[3][3][16];
};
constexpr SwapMasks MakeSwapMasks()
{
    SwapMasks k{};
    for (int o = 0; o < 3; ++o)
        for (int i = 0; i < 3; ++i)
            for (int b = 0; b < 16; ++b) {
                const int from = Source(o * 16 + b);
                k.m[o][i][b] = int8_t(from / 16 == i ? from % 16 : -1);
            }
    return k;
}
constexpr SwapMasks kSwapMasks = MakeSwapMasks();

// Sixteen pixels a step. With `around` the stores bypass the cache: they
// need 16-byte aligned addresses, so the pixels before the first aligned
// one go one by one, and the caller fences before the block is handed out.
template <bool around>
__attribute__((target("ssse3"))) void SwapRedBlueSsse3(const uint8_t* src, uint8_t* dst, std::size_t w)
{
    std::size_t x = 0;
    if (around) {
        while (x < w && (reinterpret_cast<uintptr_t>(dst + 3 * x) & 15) != 0)
            ++x;
        SwapRedBlueScalar(src, dst, x);
    }
    if (w - x >= 16) {
        __m128i m[3][3];
        for (int o = 0; o < 3; ++o)
            for (int i = 0; i < 3; ++i)
                m[o][i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSwapMasks.m[o][i]));
        for (; x + 16 <= w; x += 16) {
            const uint8_t* s = src + 3 * x;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
            const __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(a, m[0][0]), _mm_shuffle_epi8(b, m[0][1]));
            const __m128i o1 = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m[1][0]), _mm_shuffle_epi8(b, m[1][1])),
                                            _mm_shuffle_epi8(c, m[1][2]));
            const __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(b, m[2][1]), _mm_shuffle_epi8(c, m[2][2]));
            __m128i* d = reinterpret_cast<__m128i*>(dst + 3 * x);
            if (around) {
                _mm_stream_si128(d, o0);
                _mm_stream_si128(d + 1, o1);
                _mm_stream_si128(d + 2, o2);
            } else {
                _mm_storeu_si128(d, o0);
                _mm_storeu_si128(d + 1, o1);
                _mm_storeu_si128(d + 2, o2);
            }
        }
    }
    SwapRedBlueScalar(src + 3 * x, dst + 3 * x, w - x);
}

bool HaveSsse3()
{
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return have;
}
#endif

// `around`: the row's pages were zeroed ahead of the loop and have left the
// cache, so stores that bypass it save reading them back first.
void SwapRedBlue(const uint8_t* src, uint8_t* dst, int w, bool around)
{
#ifdef TOLVANE_SCAN_SSSE3
    if (HaveSsse3()) {
        if (around)
            SwapRedBlueSsse3<true>(src, dst, std::size_t(w));
        else
            SwapRedBlueSsse3<false>(src, dst, std::size_t(w));
        return;
    }
#endif
    (void)around;
    SwapRedBlueScalar(src, dst, std::size_t(w));
}

// One SANE row into one DIB row. `channel` is the byte of a 24-bit pixel a
// separate colour frame writes (2 red, 1 green, 0 blue), -1 otherwise;
// `around` as for SwapRedBlue.
void ConvertRow(const SANE_Parameters& p, int channel, const uint8_t* src, uint8_t* dst, bool around)
{
    const int w = p.pixels_per_line;
    if (p.format == SANE_FRAME_GRAY && p.depth == 1) {
        // SANE: 1 is black; the block: index 0 is black.
        const int bytes = (w + 7) / 8;
        for (int i = 0; i < bytes; ++i)
            dst[i] = uint8_t(~src[i]);
        if (w % 8)
            dst[bytes - 1] &= uint8_t(0xFF << (8 - w % 8));
        return;
    }
    if (p.format == SANE_FRAME_GRAY) {
        if (p.depth == 8)
            std::memcpy(dst, src, std::size_t(w));
        else
            for (int x = 0; x < w; ++x)
                dst[x] = uint8_t(Sample16(src + 2 * x));
        return;
    }
    if (p.format == SANE_FRAME_RGB) {
        if (p.depth == 8) {
            SwapRedBlue(src, dst, w, around);
        } else if (p.depth == 16) {
            for (int x = 0; x < w; ++x, src += 6, dst += 3) {
                dst[0] = uint8_t(Sample16(src + 4));
                dst[1] = uint8_t(Sample16(src + 2));
                dst[2] = uint8_t(Sample16(src));
            }
        } else {  // depth 1: one bit per sample, 1 = full intensity
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int bit = 3 * x + c;
                    dst[3 * x + 2 - c] = (src[bit / 8] & (0x80 >> (bit % 8))) ? 255 : 0;
                }
        }
        return;
    }
    // A separate red, green or blue frame.
    uint8_t* out = dst + channel;
    if (p.depth == 8) {
        for (int x = 0; x < w; ++x)
            out[3 * x] = src[x];
    } else if (p.depth == 16) {
        for (int x = 0; x < w; ++x)
            out[3 * x] = uint8_t(Sample16(src + 2 * x));
    } else {
        for (int x = 0; x < w; ++x)
            out[3 * x] = (src[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
    }
}

}  // namespace

int32_t PelsPerMeter(double dpi)
{
    if (!(dpi > 0) || dpi > 1e6)
        return 0;
    return int32_t(std::lround(dpi / 0.0254));
}

void SaneFrameSource::Cancel()
{
    // A backend that feeds the frontend through a pipe has its reader past
    // its setting up once the pipe has something to read (or is closed).
    SANE_Int fd = -1;
    if (sane_get_select_fd(h_, &fd) == SANE_STATUS_GOOD && fd >= 0) {
        pollfd ready{fd, POLLIN, 0};
        ::poll(&ready, 1, 500);
    }
    sane_cancel(h_);
}

ScanOutcome ReadScan(FrameSource& source, double dpiX, double dpiY, const std::atomic<bool>* cancel,
                     const ScanProgress& progress)
{
    ScanOutcome out;
    auto fail = [&](SANE_Status status, const char* detail) {
        source.Cancel();
        out.image.Reset();
        out.status = status == SANE_STATUS_GOOD || status == SANE_STATUS_EOF ? SANE_STATUS_IO_ERROR : status;
        out.detail = QString::fromLatin1(detail);
        return std::move(out);
    };
    auto cancelled = [&] { return cancel && cancel->load(std::memory_order_relaxed); };

    Canvas canvas;
    SANE_Parameters first{};
    unsigned colours = 0;  // bits 4, 2, 1: red, green, blue frames seen
    std::vector<uint8_t> buffer;
    for (int frame = 0;; ++frame) {
        if (cancelled())
            return fail(SANE_STATUS_CANCELLED, "cancelled");
        SANE_Status s = source.Start();
        if (s != SANE_STATUS_GOOD)
            return fail(s, "sane_start failed");
        SANE_Parameters p{};
        s = source.Parameters(p);
        if (s != SANE_STATUS_GOOD)
            return fail(s, "sane_get_parameters failed");

        const bool separate = p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE;
        if (!separate && p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB)
            return fail(SANE_STATUS_IO_ERROR, "unknown frame format");
        if (p.depth != 1 && p.depth != 8 && p.depth != 16)
            return fail(SANE_STATUS_IO_ERROR, "unsupported depth");
        if (p.pixels_per_line <= 0 || p.pixels_per_line > kMaxDibSide || (p.lines <= 0 && p.lines != -1))
            return fail(SANE_STATUS_IO_ERROR, "no pixels or no lines");
        const int samples = p.format == SANE_FRAME_RGB ? 3 : 1;
        const int64_t needed = (int64_t(p.pixels_per_line) * samples * p.depth + 7) / 8;
        if (p.bytes_per_line < needed)
            return fail(SANE_STATUS_IO_ERROR, "bytes_per_line too small for pixels_per_line");

        int channel = -1;
        if (frame == 0) {
            if (!separate && !p.last_frame)
                return fail(SANE_STATUS_IO_ERROR, "a grey or RGB frame that is not the last");
            const int bits = p.format == SANE_FRAME_GRAY ? (p.depth == 1 ? 1 : 8) : 24;
            if (!canvas.Init(p.pixels_per_line, p.lines, bits))
                return fail(SANE_STATUS_NO_MEM, "no memory for the picture");
            first = p;
        } else {
            if (!separate)
                return fail(SANE_STATUS_IO_ERROR, "a grey or RGB frame after the first");
            if (p.pixels_per_line != first.pixels_per_line || p.depth != first.depth
                || (p.lines != -1 && p.lines != canvas.Height()))
                return fail(SANE_STATUS_IO_ERROR, "frames of different sizes");
        }
        if (separate) {
            const unsigned bit = p.format == SANE_FRAME_RED ? 4u : p.format == SANE_FRAME_GREEN ? 2u : 1u;
            if (colours & bit)
                return fail(SANE_STATUS_IO_ERROR, "the same colour frame twice");
            colours |= bit;
            channel = p.format == SANE_FRAME_RED ? 2 : p.format == SANE_FRAME_GREEN ? 1 : 0;
        }

        // The loop's one buffer: whole rows where they fit in 256 KiB.
        const std::size_t bpl = std::size_t(p.bytes_per_line);
        const std::size_t capacity = std::max<std::size_t>(bpl, (std::size_t(256) << 10) / bpl * bpl);
        // The part of a row left at the end moves to the front once less than
        // a pipe's worth (64 KiB) is free behind it, not after every read.
        const std::size_t room = std::min(capacity, std::max<std::size_t>(bpl, std::size_t(64) << 10));
        if (buffer.size() < capacity)
            buffer.resize(capacity);
        const bool growing = frame == 0 && !canvas.KnownHeight();
        const int64_t rows = growing ? -1 : canvas.Height();
        const int64_t total = rows > 0 ? rows * int64_t(bpl) : -1;
        int64_t y = 0;
        int64_t done = 0;
        std::size_t begin = 0;  // buffer[begin, end): read, not yet in a row
        std::size_t end = 0;
        for (;;) {
            if (cancelled())
                return fail(SANE_STATUS_CANCELLED, "cancelled");
            if (begin > 0 && capacity - end < room) {
                std::memmove(buffer.data(), buffer.data() + begin, end - begin);
                end -= begin;
                begin = 0;
            }
            const std::size_t ask = std::min<std::size_t>(capacity - end, 1u << 30);
            SANE_Int len = 0;
            s = source.Read(buffer.data() + end, int(ask), &len);
            if (s == SANE_STATUS_EOF)
                break;
            if (s != SANE_STATUS_GOOD)
                return fail(s, "sane_read failed");
            if (len < 0 || std::size_t(len) > ask)
                return fail(SANE_STATUS_IO_ERROR, "sane_read gave a bad length");
            end += std::size_t(len);
            done += len;
            const bool around = canvas.WriteAround();
            for (; end - begin >= bpl; begin += bpl, ++y) {
                if (rows > 0 && y >= rows)
                    continue;  // bytes beyond the announced lines are dropped
                uint8_t* row = canvas.Row(y, growing);
                if (!row)
                    return fail(growing ? SANE_STATUS_NO_MEM : SANE_STATUS_IO_ERROR,
                                growing ? "hand scan too long" : "more rows than the first frame");
                ConvertRow(p, channel, buffer.data() + begin, row, around);
            }
            if (begin == end)
                begin = end = 0;
            if (progress)
                progress(frame, done, total);
        }
        if (y == 0)
            return fail(SANE_STATUS_IO_ERROR, "a frame without data");
        if (end != begin)
            return fail(SANE_STATUS_IO_ERROR, "the frame ended inside a row");
        if (y < canvas.Height())
            return fail(SANE_STATUS_IO_ERROR, "the frame ended before its last line");
        if (p.last_frame)
            break;
        if (frame >= 2)
            return fail(SANE_STATUS_IO_ERROR, "more than three frames");
    }
    if (colours != 0 && colours != 7)
        return fail(SANE_STATUS_IO_ERROR, "a colour frame is missing");
    out.image = canvas.Finish(dpiX, dpiY);
    source.Cancel();
    if (!out.image) {
        out.status = SANE_STATUS_NO_MEM;
        out.detail = QStringLiteral("no memory for the picture");
    }
    return out;
}

}  // namespace scan
