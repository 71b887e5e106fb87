// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF pages that libtiff converts for us (separate colour planes, tiles,
// anything not read row by row): converted one strip or tile at a time, so
// pieces at the picture's edges land exactly, a missing piece refuses the
// file, and a small file that claims a giant picture costs little memory.

#include "imaging/ImgKit.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <tiffio.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

namespace {

uint8_t Sample(int x, int y, int c)
{
    return uint8_t(x * 7 + y * 13 + c * 85);
}

// Writes a TIFF through libtiff: `setup` sets the layout fields, `write`
// writes the pieces. Returns the file's bytes.
QByteArray MakeTiff(const QString& path, int w, int h, const std::function<void(TIFF*)>& setup,
                    const std::function<bool(TIFF*)>& write)
{
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!t)
        return {};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
    setup(t);
    const bool ok = write(t);
    TIFFClose(t);
    if (!ok)
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

::testing::AssertionResult HasSamples(const ImageHandle& img, int w, int h)
{
    const DibLayout l = DibLayoutOf(img);
    if (!l.valid || l.width != w || l.height != h || l.bitCount != 24)
        return ::testing::AssertionFailure() << "not a " << w << "x" << h << " 24-bit block";
    const uint8_t* bits = img.Data() + l.bitsOffset;
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = bits + std::size_t(h - 1 - y) * std::size_t(l.stride);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                if (row[3 * x + (2 - c)] != Sample(x, y, c))
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y << " channel " << c;
        for (int p = w * 3; p < l.stride; ++p)
            if (row[p] != 0)
                return ::testing::AssertionFailure() << "padding of row " << y;
    }
    return ::testing::AssertionSuccess();
}

void UsePlanes(TIFF* t, uint32_t rowsPerStrip)
{
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_SEPARATE));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

bool WritePlanes(TIFF* t, int w, int h, uint32_t rowsPerStrip)
{
    const uint32_t strips = (uint32_t(h) + rowsPerStrip - 1) / rowsPerStrip;
    for (int c = 0; c < 3; ++c)
        for (uint32_t s = 0; s < strips; ++s) {
            std::vector<uint8_t> data;
            for (int y = int(s * rowsPerStrip); y < h && y < int((s + 1) * rowsPerStrip); ++y)
                for (int x = 0; x < w; ++x)
                    data.push_back(Sample(x, y, c));
            if (TIFFWriteEncodedStrip(t, c * strips + s, data.data(), tmsize_t(data.size())) < 0)
                return false;
        }
    return true;
}

void UseTiles(TIFF* t, uint32_t tile)
{
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, tile);
}

// Writes the tiles (all of them, or only the first `limit`).
bool WriteTiles(TIFF* t, int w, int h, int tile, int limit = -1)
{
    int written = 0;
    for (int ty = 0; ty < h; ty += tile)
        for (int tx = 0; tx < w; tx += tile) {
            if (limit >= 0 && written >= limit)
                return true;
            std::vector<uint8_t> data(std::size_t(tile) * tile * 3, 0);
            for (int y = 0; y < tile; ++y)
                for (int x = 0; x < tile; ++x)
                    for (int c = 0; c < 3; ++c)
                        data[(std::size_t(y) * tile + x) * 3 + c] = Sample(tx + x, ty + y, c);
            if (TIFFWriteTile(t, data.data(), uint32_t(tx), uint32_t(ty), 0, 0) < 0)
                return false;
            ++written;
        }
    return true;
}

// How much the resident set grows while `work` runs, in a child process.
long PeakGrowthBytes(const std::function<void()>& work)
{
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFd[0]);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        work();
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const long growth = (after.ru_maxrss - before.ru_maxrss) * 1024L;
        (void)!write(pipeFd[1], &growth, sizeof growth);
        _exit(0);
    }
    close(pipeFd[1]);
    long growth = -1;
    if (read(pipeFd[0], &growth, sizeof growth) != sizeof growth)
        growth = -1;
    close(pipeFd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return growth;
}

}  // namespace

TEST(TiffPieces, SeparatePlanesWithAShortLastStripLandExactly)
{
    QTemporaryDir dir;
    const QByteArray file = MakeTiff(
        dir.filePath("planes.tif"), 37, 29, [](TIFF* t) { UsePlanes(t, 8); },
        [](TIFF* t) { return WritePlanes(t, 37, 29, 8); });
    ASSERT_FALSE(file.isEmpty());
    EXPECT_TRUE(HasSamples(ImgKitMemoryLoad(file), 37, 29));
}

TEST(TiffPieces, TilesCutByTheRightAndBottomEdgesLandExactly)
{
    QTemporaryDir dir;
    const QByteArray file = MakeTiff(
        dir.filePath("tiles.tif"), 50, 40, [](TIFF* t) { UseTiles(t, 16); },
        [](TIFF* t) { return WriteTiles(t, 50, 40, 16); });
    ASSERT_FALSE(file.isEmpty());
    EXPECT_TRUE(HasSamples(ImgKitMemoryLoad(file), 50, 40));
    // A picture that is exactly one tile, and one smaller than its tile.
    const QByteArray one = MakeTiff(
        dir.filePath("one.tif"), 16, 16, [](TIFF* t) { UseTiles(t, 16); },
        [](TIFF* t) { return WriteTiles(t, 16, 16, 16); });
    EXPECT_TRUE(HasSamples(ImgKitMemoryLoad(one), 16, 16));
    const QByteArray small = MakeTiff(
        dir.filePath("small.tif"), 5, 3, [](TIFF* t) { UseTiles(t, 16); },
        [](TIFF* t) { return WriteTiles(t, 5, 3, 16); });
    EXPECT_TRUE(HasSamples(ImgKitMemoryLoad(small), 5, 3));
}

TEST(TiffPieces, AMissingPieceRefusesTheFile)
{
    QTemporaryDir dir;
    const QByteArray file = MakeTiff(
        dir.filePath("partial.tif"), 64, 64, [](TIFF* t) { UseTiles(t, 16); },
        [](TIFF* t) { return WriteTiles(t, 64, 64, 16, 15); });
    ASSERT_FALSE(file.isEmpty());
    EXPECT_FALSE(ImgKitMemoryLoad(file));
}

// A file of a few tens of kilobytes that claims 16384 x 16384 pixels but
// holds one tile: the load gives up at the first missing tile, having
// touched about one tile row of the picture, not a gigabyte of raster.
TEST(TiffPieces, AGiantPictureWithOneTileCostsLittle)
{
    QTemporaryDir dir;
    constexpr int kSide = 16384;
    const QByteArray file = MakeTiff(
        dir.filePath("giant.tif"), kSide, kSide,
        [](TIFF* t) {
            UseTiles(t, 256);
            TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_LZW));
        },
        [](TIFF* t) { return WriteTiles(t, kSide, kSide, 256, 1); });
    ASSERT_FALSE(file.isEmpty());
    ASSERT_LT(file.size(), 200 * 1024);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "resident memory means nothing under AddressSanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "resident memory means nothing under AddressSanitizer";
#endif
#endif
    bool loaded = true;
    const long growth = PeakGrowthBytes([&] {
        loaded = bool(ImgKitMemoryLoad(file));
        if (loaded)
            _exit(3);
    });
    ASSERT_GE(growth, 0) << "the child did not report (did the load succeed?)";
    EXPECT_LT(growth, 100L << 20) << "grew by " << growth / (1 << 20) << " MB";
}
