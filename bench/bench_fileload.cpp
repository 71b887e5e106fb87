// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a scanned A4 page (2480 x 3508, 300 dpi, JPEG quality 80) with
// ImgKitFileLoad, against a bare TurboJPEG decode of the same file into a
// plain buffer. The loader decodes straight into the DIB block, so it should
// cost no more than the bare decode plus its checks: the goal is at most
// 1.2 times the bare figure.

#include "imaging/ImgKit.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 2480;
constexpr int kHeight = 3508;
QString g_path;

// A page as a scanner gives it: slightly warm white paper, a blue logo with a
// gradient, a red title, lines of black "words" made of glyph-like strokes, a
// ruled table, a photo-like panel and a red seal. Top row first, B, G, R.
std::vector<uint8_t> MakeDocumentPage()
{
    std::vector<uint8_t> px(std::size_t(kWidth) * kHeight * 3);
    auto set = [&px](int x, int y, int r, int g, int b) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
            return;
        uint8_t* p = &px[(std::size_t(y) * kWidth + std::size_t(x)) * 3];
        p[0] = uint8_t(b);
        p[1] = uint8_t(g);
        p[2] = uint8_t(r);
    };
    auto fill = [&](int x0, int y0, int x1, int y1, int r, int g, int b) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                set(x, y, r, g, b);
    };
    // Paper with a faint, smooth unevenness (no pixel noise).
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int shade = int(3 * std::sin(x / 400.0) + 2 * std::cos(y / 650.0));
            set(x, y, 250 + shade / 2, 249 + shade / 2, 244 + shade);
        }

    std::mt19937 rng(7);
    auto rnd = [&rng](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };

    // Logo: blue gradient block with a white bar.
    for (int y = 180; y < 330; ++y)
        for (int x = 200; x < 560; ++x)
            set(x, y, 20 + (x - 200) / 8, 60 + (y - 180) / 3, 170 + (x - 200) / 6);
    fill(240, 240, 520, 262, 255, 255, 255);

    // Glyph-like strokes in a cell: a few vertical, horizontal and diagonal bars.
    auto glyph = [&](int x0, int y0, int w, int h, int r, int g, int b, int t) {
        const int strokes = rnd(2, 4);
        for (int s = 0; s < strokes; ++s) {
            switch (rnd(0, 2)) {
            case 0: {
                const int x = x0 + rnd(0, w - t);
                fill(x, y0 + rnd(0, h / 3), x + t, y0 + h - rnd(0, h / 3), r, g, b);
                break;
            }
            case 1: {
                const int y = y0 + rnd(0, h - t);
                fill(x0 + rnd(0, w / 3), y, x0 + w - rnd(0, w / 3), y + t, r, g, b);
                break;
            }
            default:
                for (int i = 0; i < h; ++i)
                    fill(x0 + i * w / h, y0 + i, x0 + i * w / h + t, y0 + i + 1, r, g, b);
            }
        }
    };
    auto textLine = [&](int x0, int x1, int y, int size, int r, int g, int b) {
        int x = x0;
        while (x < x1 - size * 3) {
            const int letters = rnd(2, 9);
            for (int i = 0; i < letters && x < x1 - size; ++i, x += size * 3 / 4 + 2)
                glyph(x, y, size * 3 / 4, size, r, g, b, std::max(2, size / 9));
            x += size;  // word gap
        }
    };

    // Title in red, then the body text.
    textLine(700, 2200, 220, 64, 190, 30, 40);
    int y = 480;
    for (int line = 0; line < 22; ++line, y += 62)
        textLine(200, line % 7 == 6 ? 1400 : 2280, y, 30, 25, 25, 30);

    // A ruled table with text in its cells.
    const int tableTop = y + 60, rows = 8, cols = 4, rowH = 70, colW = 520;
    for (int r = 0; r <= rows; ++r)
        fill(200, tableTop + r * rowH, 200 + cols * colW + 3, tableTop + r * rowH + 3, 40, 40, 40);
    for (int c = 0; c <= cols; ++c)
        fill(200 + c * colW, tableTop, 200 + c * colW + 3, tableTop + rows * rowH + 3, 40, 40, 40);
    fill(203, tableTop + 3, 200 + cols * colW, tableTop + rowH, 225, 235, 250);  // shaded header row
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            textLine(200 + c * colW + 20, 200 + (c + 1) * colW - 40, tableTop + r * rowH + 20, 30, 20, 20, 20);

    // A photo-like panel: smooth sky and ground with a sun.
    const int panelTop = tableTop + rows * rowH + 100;
    for (int yy = panelTop; yy < panelTop + 700; ++yy)
        for (int xx = 200; xx < 1300; ++xx) {
            const int t = (yy - panelTop) * 255 / 700;
            if (yy < panelTop + 420)
                set(xx, yy, 90 + t / 3, 150 + t / 4, 230 - t / 5);
            else
                set(xx, yy, 70 + (xx % 97) / 6, 120 + t / 6, 50);
            const int dx = xx - 1000, dy = yy - (panelTop + 180);
            if (dx * dx + dy * dy < 90 * 90)
                set(xx, yy, 250, 220, 120);
        }
    // Caption and text beside the panel.
    for (int line = 0; line < 11; ++line)
        textLine(1400, 2280, panelTop + line * 62, 30, 25, 25, 30);

    // Red seal, bottom right.
    const int cx = 2000, cy = kHeight - 450;
    for (int yy = cy - 110; yy <= cy + 110; ++yy)
        for (int xx = cx - 110; xx <= cx + 110; ++xx) {
            const double d = std::hypot(xx - cx, yy - cy);
            if (d > 92 && d < 104)
                set(xx, yy, 205, 40, 45);
        }
    for (int i = 0; i < 3; ++i)
        glyph(cx - 60 + i * 42, cy - 30, 36, 60, 205, 40, 45, 7);
    // Footer line of small text.
    textLine(200, 1800, kHeight - 220, 22, 60, 60, 60);
    return px;
}

bool WriteTestPage(const QString& path)
{
    const std::vector<uint8_t> page = MakeDocumentPage();
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj, page.data(), kWidth, 0, kHeight, TJPF_BGR, &jpeg, &size, TJSAMP_420, 80, 0);
    tjDestroy(tj);
    if (rc != 0)
        return false;
    QFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly)
        && file.write(reinterpret_cast<const char*>(jpeg), qint64(size)) == qint64(size);
    tjFree(jpeg);
    std::printf("test page: %s, %dx%d, %lu bytes\n", qPrintable(path), kWidth, kHeight, size);
    return ok;
}

void BM_ImgKitFileLoad(benchmark::State& state)
{
    for (auto _ : state) {
        ImageHandle image = ImgKitFileLoad(g_path);
        if (!image) {
            state.SkipWithError("ImgKitFileLoad gave no image");
            break;
        }
        benchmark::DoNotOptimize(image.Data());
    }
}

// The same work without the DIB: read the file, read the header, decode.
// With zeroed = 1 the buffer comes from calloc, as a DIB block does.
void BM_BareTurboJpegDecode(benchmark::State& state)
{
    const bool zeroed = state.range(0) != 0;
    for (auto _ : state) {
        QFile file(g_path);
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot read the test page");
            break;
        }
        const QByteArray bytes = file.readAll();
        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, subsamp = 0, colorspace = 0;
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        if (tjDecompressHeader3(tj, data, static_cast<unsigned long>(bytes.size()), &w, &h, &subsamp, &colorspace) != 0) {
            tjDestroy(tj);
            state.SkipWithError("bad header");
            break;
        }
        const std::size_t n = std::size_t(w) * std::size_t(h) * 3;
        std::unique_ptr<unsigned char, void (*)(void*)> pixels(
            static_cast<unsigned char*>(zeroed ? std::calloc(n, 1) : std::malloc(n)), std::free);
        const int rc =
            tjDecompress2(tj, data, static_cast<unsigned long>(bytes.size()), pixels.get(), w, 0, h, TJPF_BGR, 0);
        tjDestroy(tj);
        if (rc != 0) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.get());
    }
}

BENCHMARK(BM_BareTurboJpegDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_ImgKitFileLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    g_path = dir.filePath("page.jpg");
    if (!WriteTestPage(g_path))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
