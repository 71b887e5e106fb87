// SPDX-License-Identifier: GPL-3.0-or-later
// ImgKitMemoryLoad on small JPEG files whose headers claim giant pictures
// (and on a page whose scan is cut short): each must be refused in well under
// a second, having decoded only the rows its data holds. For scale, a real
// 18000 x 18000 baseline file (flat black, quality 50) that loads whole.

#include "imaging/ImgKit.h"
#include "tests/imaging/test_jpeg_hostile_files.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void LoadRefused(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state) {
        ImageHandle image = ImgKitMemoryLoad(bytes);
        if (image) {
            state.SkipWithError("a hostile file loaded");
            break;
        }
        benchmark::DoNotOptimize(image.Data());
    }
    state.counters["file_bytes"] = double(bytes.size());
}

void LoadWhole(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state) {
        ImageHandle image = ImgKitMemoryLoad(bytes);
        if (!image) {
            state.SkipWithError("the real file did not load");
            break;
        }
        benchmark::DoNotOptimize(image.Data());
    }
    state.counters["file_bytes"] = double(bytes.size());
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    for (const jpegtest::NamedFile& f : jpegtest::HostileFiles())
        benchmark::RegisterBenchmark(("BM_HostileRefused/" + std::string(f.name)).c_str(), LoadRefused, f.bytes)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    const QByteArray giant = jpegtest::FlatJpeg(18000, 18000, 50);
    if (giant.isEmpty())
        return 1;
    benchmark::RegisterBenchmark("BM_RealBaseline/18000 x 18000", LoadWhole, giant)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(3.0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
