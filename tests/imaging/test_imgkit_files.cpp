// SPDX-License-Identifier: GPL-3.0-or-later
// Image files: every saver through the loader, files from other writers
// (fax TIFF, multi-page TIFF, CMYK JPEG, top-down BMP, Qt formats), and saves
// that must fail without leaving anything behind.

#include "imaging/ImgKit.h"
#include "imaging/DibQImage.h"
#include "test_imgkit_images.h"
#include "tests/support/TestVolume.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <tiffio.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

using namespace imgtest;

namespace {

const int kWidths[] = {1, 3, 5, 7, 13};

class ImgKitFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
    QStringList Entries() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
};

// --- The layer's own readers ----------------------------------------------------

std::vector<uint8_t> BlockOf(const ImageHandle& image)
{
    return image ? std::vector<uint8_t>(image.Data(), image.Data() + image.Size()) : std::vector<uint8_t>();
}

// JPEG, TIFF and BMP are read by the layer itself (and by tolvane-batch
// without Qt Gui), by their first bytes; anything else only through Qt's
// readers. A file is read whole into a block of its size, large or small,
// and gives what its bytes give in memory.
TEST_F(ImgKitFiles, OwnReadersTakeJpegTiffAndBmpByTheirFirstBytes)
{
    const std::pair<QByteArray, bool> heads[] = {
        {QByteArray("\xFF\xD8", 2), true},      {QByteArray("\xFF", 1), false},
        {QByteArray("II*\0", 4), true},          {QByteArray("II+\0", 4), true},
        {QByteArray("II*", 3), false},           {QByteArray("MM\0*", 4), true},
        {QByteArray("MM\0+", 4), true},          {QByteArray("MM*\0", 4), false},
        {QByteArray("BM", 2), true},             {QByteArray("B", 1), false},
        {QByteArray("\x89PNG\r\n", 6), false}, {QByteArray("GIF89a", 6), false},
        {QByteArray(), false},
    };
    for (const auto& [head, own] : heads)
        EXPECT_EQ(ImgKitReadsItself(reinterpret_cast<const uint8_t*>(head.constData()), std::size_t(head.size())), own)
            << head.toHex().constData();

    // Below and above 1 MiB of file (a block of its own from the heap, or
    // whole huge pages).
    for (const int side : {60, 900}) {
        const ImageHandle picture = MakeSmooth(side, side * 4 / 3);
        const QString stem = QStringLiteral("own%1").arg(side);
        ASSERT_TRUE(ImgKitJpegFileSave(Path(stem + ".jpg"), picture, 95));
        ASSERT_TRUE(ImgKitTiffFileSave(Path(stem + ".tif"), picture));
        ASSERT_TRUE(ImgKitBmpFileSave(Path(stem + ".bmp"), picture));
        ASSERT_TRUE(DibToQImage(picture).save(Path(stem + ".png")));
        for (const char* ext : {".jpg", ".tif", ".bmp", ".png"}) {
            const QString path = Path(stem + ext);
            const QByteArray bytes = ReadBytes(path);
            const ImageHandle inMemory = ImgKitMemoryLoad(bytes);
            ASSERT_TRUE(inMemory) << path.toStdString();
            EXPECT_EQ(BlockOf(ImgKitFileLoad(path)), BlockOf(inMemory)) << path.toStdString();
            const bool own = std::strcmp(ext, ".png") != 0;
            const ImageHandle byOwn = ImgKitFileLoadWith(path, ImgKitOwnFormatDecode);
            EXPECT_EQ(bool(byOwn), own) << path.toStdString();
            if (own) {
                EXPECT_EQ(BlockOf(byOwn), BlockOf(inMemory)) << path.toStdString();
            }
        }
    }
    ASSERT_TRUE(QFile(Path("empty.jpg")).open(QIODevice::WriteOnly));
    EXPECT_FALSE(ImgKitFileLoad(Path("empty.jpg")));
    EXPECT_FALSE(ImgKitFileLoadWith(Path("empty.jpg"), ImgKitOwnFormatDecode));
}

// --- Round trips -----------------------------------------------------------

TEST_F(ImgKitFiles, BmpRoundTripKeepsDepthTableAndPixelsAtEveryDepth)
{
    for (Kind kind : {Kind::Bilevel, Kind::BilevelColoured, Kind::Palette4, Kind::Palette8, Kind::Grey8, Kind::Full24})
        for (int w : kWidths) {
            SCOPED_TRACE(std::string(NameOf(kind)) + " width " + std::to_string(w));
            const ImageHandle img = MakeImage(kind, w, 5);
            const QString path = Path("page.bmp");
            ASSERT_TRUE(ImgKitBmpFileSave(path, img));
            const ImageHandle back = ImgKitFileLoad(path);
            ASSERT_TRUE(back);
            EXPECT_TRUE(SamePixels(img, back));
            EXPECT_TRUE(PaddingIsZero(back));
            // What we write is an ordinary BMP for other readers too.
            const QImage qt = QImage(path, "BMP");
            ASSERT_FALSE(qt.isNull());
            EXPECT_TRUE(SameColours(img, QImageToDib(qt)));
        }
}

TEST_F(ImgKitFiles, BmpKeepsResolutionFields)
{
    ImageHandle img = MakeImage(Kind::Full24, 3, 2);
    img.Header()->biXPelsPerMeter = 11811;  // 300 dpi
    img.Header()->biYPelsPerMeter = 7874;
    QByteArray bytes;
    const ImageHandle back = Encoded(img, "bmp", bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back.Header()->biXPelsPerMeter, 11811);
    EXPECT_EQ(back.Header()->biYPelsPerMeter, 7874);
}

TEST_F(ImgKitFiles, TiffRoundTripIsExactAtEveryDepth)
{
    for (Kind kind : {Kind::Bilevel, Kind::BilevelInverted, Kind::BilevelColoured, Kind::Palette4, Kind::Palette8,
                      Kind::Grey8, Kind::Full24})
        for (int w : kWidths) {
            SCOPED_TRACE(std::string(NameOf(kind)) + " width " + std::to_string(w));
            const ImageHandle img = MakeImage(kind, w, 6);
            const QString path = Path("page.tif");
            ASSERT_TRUE(ImgKitTiffFileSave(path, img));
            const ImageHandle back = ImgKitFileLoad(path);
            ASSERT_TRUE(back);
            // Full tables are written, so even the indices and tables come back.
            EXPECT_TRUE(SamePixels(img, back));
            EXPECT_TRUE(PaddingIsZero(back));
        }
}

TEST_F(ImgKitFiles, TiffCompressionFollowsTheKindOfPicture)
{
    struct Case {
        Kind kind;
        uint16_t compression;
        uint16_t photometric;
    } cases[] = {
        {Kind::Bilevel, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISBLACK},
        {Kind::BilevelInverted, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE},
        {Kind::BilevelColoured, COMPRESSION_LZW, PHOTOMETRIC_PALETTE},
        {Kind::Palette4, COMPRESSION_LZW, PHOTOMETRIC_PALETTE},
        {Kind::Palette8, COMPRESSION_LZW, PHOTOMETRIC_PALETTE},
        {Kind::Grey8, COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK},
        {Kind::Full24, COMPRESSION_LZW, PHOTOMETRIC_RGB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(NameOf(c.kind));
        const QString path = Path("kind.tif");
        ASSERT_TRUE(ImgKitTiffFileSave(path, MakeImage(c.kind, 20, 9)));
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        ASSERT_NE(tif, nullptr);
        uint16_t compression = 0, photometric = 0;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        EXPECT_EQ(compression, c.compression);
        EXPECT_EQ(photometric, c.photometric);
        TIFFClose(tif);
    }
}

TEST_F(ImgKitFiles, QtReadsTheTiffsWeWrite)
{
    ASSERT_TRUE(QImageReader::supportedImageFormats().contains("tiff")) << "Qt's TIFF plugin is missing";
    for (Kind kind : {Kind::Bilevel, Kind::BilevelInverted, Kind::Palette4, Kind::Palette8, Kind::Grey8, Kind::Full24})
        for (int w : {1, 7, 13}) {
            SCOPED_TRACE(std::string(NameOf(kind)) + " width " + std::to_string(w));
            const ImageHandle img = MakeImage(kind, w, 4);
            QByteArray bytes;
            ASSERT_TRUE(ImgKitTiffEncode(img, bytes));
            const QImage qt = QImage::fromData(bytes, "TIFF");
            ASSERT_FALSE(qt.isNull());
            EXPECT_TRUE(SameColours(img, QImageToDib(qt)));
        }
}

TEST_F(ImgKitFiles, JpegRoundTripIsCloseAndFullColour)
{
    for (int w : kWidths) {
        SCOPED_TRACE("width " + std::to_string(w));
        const ImageHandle img = MakeSmooth(w, 9);
        const QString path = Path("page.jpg");
        ASSERT_TRUE(ImgKitJpegFileSave(path, img, 90));
        const ImageHandle back = ImgKitFileLoad(path);
        ASSERT_TRUE(back);
        ImgKitInfo info{};
        ASSERT_TRUE(ImgKitImageInfo(back, info));
        EXPECT_EQ(info.width, w);
        EXPECT_EQ(info.height, 9);
        EXPECT_EQ(info.colorType, kImgKitColorFull);
        EXPECT_TRUE(PaddingIsZero(back));
        int worst = 0;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgb a = ColorAt(img, x, y), b = ColorAt(back, x, y);
                worst = std::max({worst, std::abs(R(a) - R(b)), std::abs(G(a) - G(b)), std::abs(B(a) - B(b))});
            }
        EXPECT_LE(worst, 12);
    }
}

TEST_F(ImgKitFiles, JpegQualityIsTheOneAsked)
{
    // A busier picture: the higher quality must cost more bytes.
    const ImageHandle img = MakeImage(Kind::Full24, 64, 64);
    QByteArray q90, q50;
    ASSERT_TRUE(ImgKitJpegEncode(img, 90, q90));
    ASSERT_TRUE(ImgKitJpegEncode(img, 50, q50));
    EXPECT_GT(q90.size(), q50.size());
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, subsamp = -1, cs = -1;
    ASSERT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(q90.constData()), q90.size(), &w, &h,
                                  &subsamp, &cs),
              0);
    tjDestroy(tj);
    EXPECT_EQ(subsamp, TJSAMP_420);
    EXPECT_EQ(cs, TJCS_YCbCr);
}

TEST_F(ImgKitFiles, GreyStaysGreyAsJpegAndPalettesBecomeFullColour)
{
    const ImageHandle grey = MakeSmooth(13, 8, /*grey=*/true);
    QByteArray bytes;
    const ImageHandle back = Encoded(grey, "jpeg", bytes);
    ASSERT_TRUE(back);
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, subsamp = -1, cs = -1;
    ASSERT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size(), &w, &h,
                                  &subsamp, &cs),
              0);
    tjDestroy(tj);
    EXPECT_EQ(cs, TJCS_GRAY);  // a one-component file, not a colour file of grey pixels
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(back, info));
    EXPECT_EQ(info.colorType, kImgKitColorGray8);
    EXPECT_TRUE(PaddingIsZero(back));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 13; ++x)
            EXPECT_NEAR(int(RawAt(back, x, y)), int(RawAt(grey, x, y)), 4);

    for (Kind kind : {Kind::Bilevel, Kind::Palette4, Kind::Palette8}) {
        SCOPED_TRACE(NameOf(kind));
        const ImageHandle pal = MakeImage(kind, 7, 5);
        const ImageHandle loaded = Encoded(pal, "jpeg", bytes, 100);
        ASSERT_TRUE(loaded);
        ASSERT_TRUE(ImgKitImageInfo(loaded, info));
        EXPECT_EQ(info.colorType, kImgKitColorFull);
        EXPECT_EQ(info.width, 7);
    }
}

// --- Files from other writers -----------------------------------------------

// Writes a one-page bilevel TIFF with libtiff: black where `black(x, y)`.
QByteArray WriteFaxTiff(const QString& path, int w, int h, uint16_t compression, uint16_t photometric,
                        uint16_t fillOrder, const std::function<bool(int, int)>& black)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return {};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_FILLORDER, fillOrder);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(h));
    if (compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS);
    std::vector<uint8_t> row(std::size_t((w + 7) / 8));
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < w; ++x) {
            const bool bit = black(x, y) == (photometric == PHOTOMETRIC_MINISWHITE);
            if (bit)
                row[std::size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        }
        TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
    }
    TIFFClose(tif);
    return ReadBytes(path);
}

TEST_F(ImgKitFiles, FaxTiffsLoadAsBilevelInBothPhotometricSenses)
{
    auto black = [](int x, int y) { return (x / 3 + y / 2) % 3 == 0 || x == y; };
    const int w = 45, h = 19;
    for (uint16_t compression : {uint16_t(COMPRESSION_CCITTFAX3), uint16_t(COMPRESSION_CCITTFAX4)})
        for (uint16_t photometric : {uint16_t(PHOTOMETRIC_MINISWHITE), uint16_t(PHOTOMETRIC_MINISBLACK)})
            for (uint16_t fill : {uint16_t(FILLORDER_MSB2LSB), uint16_t(FILLORDER_LSB2MSB)}) {
                SCOPED_TRACE("compression " + std::to_string(compression) + " photometric "
                             + std::to_string(photometric) + " fill " + std::to_string(fill));
                const QString path = Path("fax.tif");
                ASSERT_FALSE(WriteFaxTiff(path, w, h, compression, photometric, fill, black).isEmpty());
                const ImageHandle img = ImgKitFileLoad(path);
                ASSERT_TRUE(img);
                ImgKitInfo info{};
                ASSERT_TRUE(ImgKitImageInfo(img, info));
                EXPECT_EQ(info.colorType, kImgKitColorBilevel);
                EXPECT_EQ(info.width, w);
                EXPECT_EQ(info.height, h);
                EXPECT_TRUE(PaddingIsZero(img));
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        ASSERT_EQ(ColorAt(img, x, y), black(x, y) ? 0x000000u : 0xFFFFFFu) << x << "," << y;
            }
}

TEST_F(ImgKitFiles, MultiPageTiffGivesTheFirstPage)
{
    const QString path = Path("pages.tif");
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    ASSERT_NE(tif, nullptr);
    // page 1: 5 x 4 RGB; page 2: 9 x 9 grey
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 5u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 4u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    for (int y = 0; y < 4; ++y) {
        uint8_t row[15];
        for (int x = 0; x < 5; ++x) {
            row[3 * x] = uint8_t(40 * x);
            row[3 * x + 1] = uint8_t(50 * y);
            row[3 * x + 2] = 7;
        }
        TIFFWriteScanline(tif, row, uint32_t(y), 0);
    }
    TIFFWriteDirectory(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 9u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 9u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    uint8_t grey[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (int y = 0; y < 9; ++y)
        TIFFWriteScanline(tif, grey, uint32_t(y), 0);
    TIFFWriteDirectory(tif);
    TIFFClose(tif);

    const ImageHandle img = ImgKitFileLoad(path);
    ASSERT_TRUE(img);
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(img, info));
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 4);
    EXPECT_EQ(info.colorType, kImgKitColorFull);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(ColorAt(img, x, y), MakeRgb(40 * x, 50 * y, 7));
}

TEST_F(ImgKitFiles, TiledAndBottomUpTiffsComeOutUpright)
{
    // Tiles and a bottom-left orientation take libtiff's RGBA reader.
    const int w = 40, h = 21;
    auto colour = [](int x, int y) { return MakeRgb(x * 6, y * 12, (x + y) & 255); };
    for (bool tiled : {true, false}) {
        SCOPED_TRACE(tiled ? "tiled" : "bottom-left");
        const QString path = Path("odd.tif");
        TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        if (tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
            std::vector<uint8_t> tile(16 * 16 * 3);
            for (int ty = 0; ty < h; ty += 16)
                for (int tx = 0; tx < w; tx += 16) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (int y = ty; y < std::min(h, ty + 16); ++y)
                        for (int x = tx; x < std::min(w, tx + 16); ++x) {
                            uint8_t* p = &tile[std::size_t(((y - ty) * 16 + (x - tx)) * 3)];
                            p[0] = uint8_t(R(colour(x, y)));
                            p[1] = uint8_t(G(colour(x, y)));
                            p[2] = uint8_t(B(colour(x, y)));
                        }
                    TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0, 0);
                }
        } else {
            TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_BOTLEFT);
            std::vector<uint8_t> row(std::size_t(w) * 3);
            for (int r = 0; r < h; ++r) {
                const int y = h - 1 - r;  // the first stored row is the bottom of the picture
                for (int x = 0; x < w; ++x) {
                    row[std::size_t(3 * x)] = uint8_t(R(colour(x, y)));
                    row[std::size_t(3 * x + 1)] = uint8_t(G(colour(x, y)));
                    row[std::size_t(3 * x + 2)] = uint8_t(B(colour(x, y)));
                }
                TIFFWriteScanline(tif, row.data(), uint32_t(r), 0);
            }
        }
        TIFFClose(tif);
        const ImageHandle img = ImgKitFileLoad(path);
        ASSERT_TRUE(img);
        EXPECT_TRUE(PaddingIsZero(img));
        ImgKitInfo info{};
        ASSERT_TRUE(ImgKitImageInfo(img, info));
        ASSERT_EQ(info.width, w);
        ASSERT_EQ(info.height, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(ColorAt(img, x, y), colour(x, y)) << x << "," << y;
    }
}

TEST_F(ImgKitFiles, CmykJpegIsReadAsAdobeInvertedCmyk)
{
    // Quadrants: red ink, blue ink, no ink (white), full black.
    // Adobe files store 255 - ink, which is what TurboJPEG hands through.
    const int n = 32;
    std::vector<uint8_t> cmyk(std::size_t(n * n * 4));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            uint8_t* p = &cmyk[std::size_t((y * n + x) * 4)];
            const int q = (y >= n / 2) * 2 + (x >= n / 2);
            const uint8_t stored[4][4] = {{255, 0, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}, {255, 255, 255, 0}};
            std::memcpy(p, stored[q], 4);
        }
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, cmyk.data(), n, 0, n, TJPF_CMYK, &jpeg, &size, TJSAMP_444, 95, 0), 0);
    const QByteArray bytes(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(tj);

    const ImageHandle img = ImgKitMemoryLoad(bytes);
    ASSERT_TRUE(img);
    EXPECT_TRUE(PaddingIsZero(img));
    const Rgb expected[4] = {0xFF0000, 0x0000FF, 0xFFFFFF, 0x000000};
    for (int q = 0; q < 4; ++q) {
        const Rgb c = ColorAt(img, (q % 2) * n / 2 + n / 4, (q / 2) * n / 2 + n / 4);
        EXPECT_NEAR(R(c), R(expected[q]), 6) << "quadrant " << q;
        EXPECT_NEAR(G(c), G(expected[q]), 6) << "quadrant " << q;
        EXPECT_NEAR(B(c), B(expected[q]), 6) << "quadrant " << q;
    }
}

TEST_F(ImgKitFiles, ProgressiveJpegLoads)
{
    const ImageHandle img = MakeSmooth(33, 17);
    const DibLayout l = DibLayoutOf(img);
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, img.Data() + l.bitsOffset, l.width, l.stride, l.height, TJPF_BGR, &jpeg, &size,
                          TJSAMP_420, 90, TJFLAG_BOTTOMUP | TJFLAG_PROGRESSIVE),
              0);
    const QByteArray bytes(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(tj);
    const ImageHandle back = ImgKitMemoryLoad(bytes);
    ASSERT_TRUE(back);
    EXPECT_NEAR(int(R(ColorAt(back, 16, 8))), int(R(ColorAt(img, 16, 8))), 8);
}

// A BMP file built by hand: 14-byte file header, 40-byte info header with the
// given height (negative = top-down), table, and the rows as given.
QByteArray HandBmp(int w, int h, int bits, uint32_t compression, const std::vector<uint32_t>& table,
                   const QByteArray& pixels)
{
    QByteArray f(54, '\0');
    auto put32 = [&f](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[at + i] = char(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(10, uint32_t(54 + 4 * table.size()));
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    f[26] = 1;
    f[28] = char(bits);
    put32(30, compression);
    put32(34, uint32_t(pixels.size()));
    put32(46, uint32_t(table.size()));
    for (uint32_t c : table) {  // 0xRRGGBB → B, G, R, 0
        f.append(char(c & 255));
        f.append(char((c >> 8) & 255));
        f.append(char((c >> 16) & 255));
        f.append('\0');
    }
    f.append(pixels);
    put32(2, uint32_t(f.size()));
    return f;
}

TEST_F(ImgKitFiles, TopDownBmpComesOutUpright)
{
    // 24-bit, 3 x 2, top row first in the file; padding bytes filled with junk.
    QByteArray rows;
    const Rgb top[3] = {0x112233, 0x445566, 0x778899}, bottom[3] = {0xAABBCC, 0xDDEEFF, 0x010203};
    for (const Rgb* row : {top, bottom}) {
        for (int x = 0; x < 3; ++x) {
            rows.append(char(B(row[x])));
            rows.append(char(G(row[x])));
            rows.append(char(R(row[x])));
        }
        rows.append(char(0x5A)).append(char(0x5A)).append(char(0x5A));  // 9 → 12 bytes
    }
    const ImageHandle img = ImgKitMemoryLoad(HandBmp(3, -2, 24, 0, {}, rows));
    ASSERT_TRUE(img);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(ColorAt(img, x, 0), top[x]);
        EXPECT_EQ(ColorAt(img, x, 1), bottom[x]);
    }
    EXPECT_TRUE(PaddingIsZero(img));

    // 8-bit, 5 x 3 top-down with a 3-entry table.
    QByteArray idx;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x)
            idx.append(char((x + y) % 3));
        idx.append(3, '\0');
    }
    const ImageHandle pal = ImgKitMemoryLoad(HandBmp(5, -3, 8, 0, {0xFF0000, 0x00FF00, 0x0000FF}, idx));
    ASSERT_TRUE(pal);
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(pal, info));
    EXPECT_EQ(info.bitCount, 8);
    EXPECT_EQ(info.colorCount, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(RawAt(pal, x, y), uint32_t((x + y) % 3));
}

TEST_F(ImgKitFiles, ThirtyTwoBitAndRleBmpLoad)
{
    // 32-bit BI_RGB, 2 x 2, bottom-up.
    QByteArray px;
    const Rgb bottom[2] = {0x102030, 0x405060}, top[2] = {0x708090, 0xA0B0C0};
    for (const Rgb* row : {bottom, top})
        for (int x = 0; x < 2; ++x)
            px.append(char(B(row[x]))).append(char(G(row[x]))).append(char(R(row[x]))).append('\0');
    const ImageHandle img = ImgKitMemoryLoad(HandBmp(2, 2, 32, 0, {}, px));
    ASSERT_TRUE(img);
    EXPECT_EQ(ColorAt(img, 0, 0), top[0]);
    EXPECT_EQ(ColorAt(img, 1, 1), bottom[1]);

    // RLE8, 4 x 2: bottom row 1,1,2,2 and top row 0,0,0,0.
    const char rle[] = {2, 1, 2, 2, 0, 0, 4, 0, 0, 0, 0, 1};
    const ImageHandle r8 = ImgKitMemoryLoad(HandBmp(4, 2, 8, 1, {0x000000, 0xFF0000, 0x00FF00}, QByteArray(rle, 12)));
    ASSERT_TRUE(r8);
    EXPECT_EQ(ColorAt(r8, 0, 0), 0x000000u);
    EXPECT_EQ(ColorAt(r8, 0, 1), 0xFF0000u);
    EXPECT_EQ(ColorAt(r8, 3, 1), 0x00FF00u);
}

TEST_F(ImgKitFiles, FormatComesFromTheContentNotTheName)
{
    const ImageHandle img = MakeImage(Kind::Full24, 7, 3);
    ASSERT_TRUE(ImgKitBmpFileSave(Path("really-a-bmp.jpg"), img));
    ASSERT_TRUE(ImgKitTiffFileSave(Path("really-a-tiff.bmp"), img));
    EXPECT_TRUE(SamePixels(img, ImgKitFileLoad(Path("really-a-bmp.jpg"))));
    EXPECT_TRUE(SamePixels(img, ImgKitFileLoad(Path("really-a-tiff.bmp"))));

    // PNG (through Qt), with transparency laid on white.
    QImage png(3, 2, QImage::Format_ARGB32);
    png.fill(qRgba(10, 20, 30, 255));
    png.setPixel(2, 1, qRgba(0, 0, 0, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(png.save(&buffer, "PNG"));
    ASSERT_TRUE(WriteBytes(Path("picture.dat"), bytes));
    const ImageHandle fromPng = ImgKitFileLoad(Path("picture.dat"));
    ASSERT_TRUE(fromPng);
    EXPECT_EQ(ColorAt(fromPng, 0, 0), MakeRgb(10, 20, 30));
    EXPECT_EQ(ColorAt(fromPng, 2, 1), 0xFFFFFFu);
}

TEST_F(ImgKitFiles, LoaderFindsAFileSpelledInOtherCase)
{
    const ImageHandle img = MakeImage(Kind::Palette8, 5, 5);
    ASSERT_TRUE(ImgKitBmpFileSave(Path("00000001.BMP"), img));
    EXPECT_TRUE(SamePixels(img, ImgKitFileLoad(Path("00000001.bmp"))));
}

TEST_F(ImgKitFiles, JapaneseFolderAndFileNamesWork)
{
    const QString folder = Path(QString::fromUtf8("請求書"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const ImageHandle img = MakeImage(Kind::Full24, 6, 4);
    const QString tif = folder + QString::fromUtf8("/画像１.tif");
    const QString jpg = folder + QString::fromUtf8("/画像２.jpg");
    ASSERT_TRUE(ImgKitTiffFileSave(tif, img));
    ASSERT_TRUE(ImgKitJpegFileSave(jpg, img, 90));
    EXPECT_TRUE(SamePixels(img, ImgKitFileLoad(tif)));
    EXPECT_TRUE(ImgKitFileLoad(jpg));
}

// --- Failed saves ----------------------------------------------------------

TEST_F(ImgKitFiles, SaveIntoMissingOrUnusableFolderFailsAndLeavesNothing)
{
    const ImageHandle img = MakeImage(Kind::Full24, 5, 5);
    ASSERT_TRUE(WriteBytes(Path("plain.txt"), "not a folder"));
    for (const QString& path : {Path("missing/page.jpg"), Path("plain.txt/page.jpg")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(ImgKitJpegFileSave(path, img, 80));
        EXPECT_FALSE(ImgKitBmpFileSave(path, img));
        EXPECT_FALSE(ImgKitTiffFileSave(path, img));
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    EXPECT_EQ(Entries(), QStringList{"plain.txt"});
    EXPECT_EQ(ReadBytes(Path("plain.txt")), QByteArray("not a folder"));
}

TEST_F(ImgKitFiles, SaveIntoReadOnlyFolderFailsAndLeavesOldFileIntact)
{
    const QString sub = Path("locked");
    TestVolume volume(sub, TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    const QString target = sub + "/page.bmp";
    ASSERT_TRUE(WriteBytes(target, "old"));
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    const ImageHandle img = MakeImage(Kind::Full24, 5, 5);
    EXPECT_FALSE(ImgKitBmpFileSave(target, img));
    EXPECT_FALSE(ImgKitJpegFileSave(sub + "/new.jpg", img, 90));
    EXPECT_FALSE(ImgKitTiffFileSave(sub + "/new.tif", img));
    volume.Release();
    EXPECT_EQ(ReadBytes(target), QByteArray("old"));
    EXPECT_EQ(QDir(sub).entryList(QDir::Files | QDir::Hidden), QStringList{"page.bmp"});
}

TEST_F(ImgKitFiles, SaveOnFullDiskFailsAndLeavesOldFileIntact)
{
    const QString sub = Path("full");
    TestVolume volume(sub, TestVolume::Full);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    const QString target = sub + "/page.jpg";
    ASSERT_TRUE(WriteBytes(target, "old"));
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    // A picture whose JPEG file takes well over one block, and a tiny one.
    const ImageHandle large = MakeImage(Kind::Full24, 300, 200);
    const ImageHandle tiny = MakeImage(Kind::Grey8, 2, 2);
    EXPECT_FALSE(ImgKitJpegFileSave(target, large, 95));
    EXPECT_FALSE(ImgKitJpegFileSave(target, tiny, 50));
    EXPECT_FALSE(ImgKitJpegFileSave(sub + "/new.jpg", large, 95));
    EXPECT_FALSE(ImgKitBmpFileSave(target, tiny));
    EXPECT_FALSE(ImgKitTiffFileSave(target, tiny));
    volume.Release();
    EXPECT_EQ(ReadBytes(target), QByteArray("old"));
    EXPECT_EQ(QDir(sub).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"page.jpg"});
    // With room again the save goes through and reads back.
    ASSERT_TRUE(ImgKitJpegFileSave(target, large, 95));
    EXPECT_FALSE(ImgKitFileLoad(target).IsNull());
}

TEST_F(ImgKitFiles, FailedSaveOverAnExistingFileLeavesItIntact)
{
    const QString target = Path("page.jpg");
    ASSERT_TRUE(WriteBytes(target, "old content"));

    // Nothing to encode: a null block and a malformed one.
    ImageHandle broken = ImageHandle::Allocate(40);
    broken.Header()->biSize = 40;
    broken.Header()->biWidth = 100;
    broken.Header()->biHeight = 100;
    broken.Header()->biBitCount = 24;
    for (const ImageHandle* img : std::initializer_list<const ImageHandle*>{nullptr, &broken}) {
        const ImageHandle none;
        const ImageHandle& use = img ? *img : none;
        EXPECT_FALSE(ImgKitJpegFileSave(target, use, 90));
        EXPECT_FALSE(ImgKitBmpFileSave(target, use));
        EXPECT_FALSE(ImgKitTiffFileSave(target, use));
    }
    EXPECT_EQ(ReadBytes(target), QByteArray("old content"));

    // The write itself fails: a folder stands where the file should go.
    ASSERT_TRUE(QDir().mkdir(Path("taken.bmp")));
    ASSERT_TRUE(WriteBytes(Path("taken.bmp/inside.txt"), "keep"));
    EXPECT_FALSE(ImgKitBmpFileSave(Path("taken.bmp"), MakeImage(Kind::Full24, 3, 3)));
    EXPECT_TRUE(QFileInfo(Path("taken.bmp")).isDir());
    EXPECT_EQ(ReadBytes(Path("taken.bmp/inside.txt")), QByteArray("keep"));

    EXPECT_EQ(Entries(), (QStringList{"page.jpg", "taken.bmp"}));  // no temporary files left
}

TEST_F(ImgKitFiles, SaveReplacesAnExistingFile)
{
    const QString target = Path("page.tif");
    ASSERT_TRUE(WriteBytes(target, "old content"));
    const ImageHandle img = MakeImage(Kind::Grey8, 13, 3);
    ASSERT_TRUE(ImgKitTiffFileSave(target, img));
    EXPECT_TRUE(SamePixels(img, ImgKitFileLoad(target)));
    EXPECT_EQ(Entries(), QStringList{"page.tif"});
}

}  // namespace
