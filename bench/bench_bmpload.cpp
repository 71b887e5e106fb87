// SPDX-License-Identifier: GPL-3.0-or-later
// Reading an A4 page scanned at 600 dpi (4960 x 7016) from BMP files of the
// depths scanner programs write, with ImgKitBmpDecode on the bytes in memory.
//
// Goals: the 24-bit file costs about one copy of its rows (compare with
// BM_RowCopyBaseline); the plain 32-bit file costs no more than twice the
// 24-bit one; bit-field and alpha files stay within a small multiple of it.
// The "resident_per_block" counter is how much the process grew while one
// decoded picture was held, in units of the 24-bit block: about 1 means the
// decoder kept nothing besides the file bytes and its result.

#include "imaging/ImgKit.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kWidth = 4960;
constexpr int kHeight = 7016;

void Put32(QByteArray& b, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 255);
}

// A bottom-up file with a 40-byte header (and its masks after it when given),
// filled with a pattern that touches every byte.
QByteArray MakeFile(int bitCount, uint32_t compression, const std::vector<uint32_t>& masks)
{
    const int stride = ((kWidth * bitCount + 31) / 32) * 4;
    const int head = 14 + 40 + 4 * int(masks.size());
    QByteArray b(head, '\0');
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, uint32_t(head));
    Put32(b, 14, 40);
    Put32(b, 18, kWidth);
    Put32(b, 22, kHeight);
    b[26] = 1;
    b[28] = char(bitCount);
    Put32(b, 30, compression);
    Put32(b, 34, uint32_t(stride) * kHeight);
    Put32(b, 38, 23622);  // 600 dpi
    Put32(b, 42, 23622);
    for (std::size_t i = 0; i < masks.size(); ++i)
        Put32(b, 54 + 4 * int(i), masks[i]);
    b.resize(head + qsizetype(stride) * kHeight);
    auto* p = reinterpret_cast<uint8_t*>(b.data()) + head;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < stride; ++x)
            p[std::size_t(y) * stride + x] = uint8_t(x * 7 + y * 3 + (x >> 5));
    if (bitCount == 32 && masks.size() == 4)  // alpha mostly opaque, some of it not
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                p[std::size_t(y) * stride + 4 * x + 3] = (x & 63) ? 255 : uint8_t(y);
    return b;
}

long ResidentBytes()
{
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? resident * sysconf(_SC_PAGESIZE) : 0;
}

void RunDecode(benchmark::State& state, const QByteArray& file)
{
    const double block = double(40 + std::size_t(kWidth) * 3 * kHeight);
    double grown = 0;
    for (auto _ : state) {
        const long before = ResidentBytes();
        ImageHandle img = ImgKitBmpDecode(file);
        if (!img) {
            state.SkipWithError("the file did not load");
            return;
        }
        benchmark::DoNotOptimize(img.Data());
        grown = double(ResidentBytes() - before);
    }
    state.counters["resident_per_block"] = grown / block;
    state.SetBytesProcessed(int64_t(state.iterations()) * file.size());
}

void BM_Bmp24(benchmark::State& state)
{
    static const QByteArray file = MakeFile(24, 0, {});
    RunDecode(state, file);
}

void BM_Bmp32Plain(benchmark::State& state)
{
    static const QByteArray file = MakeFile(32, 0, {});
    RunDecode(state, file);
}

void BM_Bmp32BitFieldsRgba(benchmark::State& state)
{
    // R, G, B, A byte order: every pixel through the masks.
    static const QByteArray file = MakeFile(32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000});
    RunDecode(state, file);
}

void BM_Bmp32Alpha(benchmark::State& state)
{
    static const QByteArray file = MakeFile(32, 6, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000});
    RunDecode(state, file);
}

void BM_Bmp16Rgb565(benchmark::State& state)
{
    static const QByteArray file = MakeFile(16, 3, {0xF800, 0x07E0, 0x001F});
    RunDecode(state, file);
}

// The floor: one copy of the 24-bit rows into a fresh block.
void BM_RowCopyBaseline(benchmark::State& state)
{
    static const QByteArray file = MakeFile(24, 0, {});
    const std::size_t stride = std::size_t(kWidth) * 3;
    for (auto _ : state) {
        ImageHandle img = ImageHandle::NewDibForOverwrite(kWidth, kHeight, 24);
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(img.Data() + 40 + y * stride, file.constData() + 54 + y * stride, stride);
        benchmark::DoNotOptimize(img.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * file.size());
}

}  // namespace

BENCHMARK(BM_RowCopyBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bmp24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bmp32Plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bmp32BitFieldsRgba)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bmp32Alpha)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bmp16Rgb565)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
