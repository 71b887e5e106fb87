// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a 600 dpi A4 page (4960 x 7016) saved as PNG, which goes through
// Qt's reader, against Qt's bare read of the same bytes into a QImage. The
// loader's extra work is the structure walk and one pass from the read
// image's rows into the block: the goal is at most 1.5 times the bare read.
// The conversion alone is measured too, for an opaque and a part-transparent
// picture (the latter painted on white a band of rows at a time).

#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

namespace {

constexpr int kWidth = 4960;
constexpr int kHeight = 7016;

QImage Scan(QImage::Format format)
{
    QImage image(kWidth, kHeight, QImage::Format_ARGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x)
            row[x] = qRgba(255 - x / 40, 200 - y / 60, (x + y) / 60, format == QImage::Format_ARGB32 && y % 500 == 0 ? 128 : 255);
    }
    return format == QImage::Format_ARGB32 ? image : image.convertToFormat(format);
}

const QByteArray& ScanPng()
{
    static const QByteArray png = [] {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(80);  // zlib level 1
        writer.write(Scan(QImage::Format_RGB32));
        return bytes;
    }();
    return png;
}

void BM_QtBareRead(benchmark::State& state)
{
    QImageReader::setAllocationLimit(0);
    const QByteArray& png = ScanPng();
    for (auto _ : state) {
        QBuffer buffer;
        buffer.setData(png);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "png");
        QImage image = reader.read();
        if (image.isNull())
            state.SkipWithError("Qt did not read the PNG");
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_QtBareRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadPng(benchmark::State& state)
{
    const QByteArray& png = ScanPng();
    for (auto _ : state) {
        ImageHandle img = ImgKitMemoryLoad(png);
        if (!img)
            state.SkipWithError("the loader refused the PNG");
        benchmark::DoNotOptimize(img.Data());
    }
}
BENCHMARK(BM_LoadPng)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QImageToDib(benchmark::State& state)
{
    const QImage image = Scan(QImage::Format(state.range(0)));
    for (auto _ : state) {
        ImageHandle img = QImageToDib(image);
        benchmark::DoNotOptimize(img.Data());
    }
}
BENCHMARK(BM_QImageToDib)
    ->Arg(QImage::Format_RGB32)
    ->Arg(QImage::Format_ARGB32)
    ->Arg(QImage::Format_RGBA64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
