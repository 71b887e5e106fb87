// SPDX-License-Identifier: GPL-3.0-or-later
// ifheif.spi through the loader: HEIC and AVIF files made here with
// libheif's encoders, read back by the built plug-in.

#include "imaging/SpiLoad.h"

#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"

#include <gtest/gtest.h>

#include <libheif/heif.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Quadrants of flat colour (r, g, b): top left, top right, bottom left,
// bottom right.
constexpr int kQuadrant[4][3] = {{220, 40, 40}, {40, 200, 60}, {50, 60, 210}, {240, 240, 240}};

int QuadrantOf(int x, int y, int w, int h)
{
    return (y < h / 2 ? 0 : 2) + (x < w / 2 ? 0 : 1);
}

// A kWidth x kHeight file in `format`, stored with `orientation`; empty
// with the reason in `why` when no encoder is there.
QByteArray Encode(heif_compression_format format, heif_orientation orientation, std::string& why)
{
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, format, &encoder).code != heif_error_Ok) {
        why = format == heif_compression_HEVC ? "no HEVC encoder in libheif (x265)" : "no AV1 encoder in libheif (aom)";
        heif_context_free(ctx);
        return {};
    }
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = nullptr;
    heif_image_create(kWidth, kHeight, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, kWidth, kHeight, 8);
    int stride = 0;
    uint8_t* p = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                p[y * stride + 3 * x + c] = uint8_t(kQuadrant[QuadrantOf(x, y, kWidth, kHeight)][c]);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    const heif_error e = heif_context_encode_image(ctx, image, encoder, options, nullptr);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    QByteArray bytes;
    if (e.code == heif_error_Ok) {
        heif_writer writer{};
        writer.writer_api_version = 1;
        writer.write = [](heif_context*, const void* data, size_t size, void* userdata) {
            static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
            return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
        };
        heif_context_write(ctx, &writer, &bytes);
    } else {
        why = std::string("encoding failed: ") + e.message;
    }
    heif_context_free(ctx);
    return bytes;
}

class IfHeifTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        const QString folder = dir_.filePath(QStringLiteral("plugins"));
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::copy(QStringLiteral(TOLVANE_IFHEIF_SPI), QDir(folder).filePath(QStringLiteral("ifheif.spi"))));
        ASSERT_EQ(loader_.LoadPlugins(folder), 1);
    }

    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    // Loads the file and checks its size and each quadrant's colour (away
    // from the edges, where the codecs blur).
    void ExpectQuadrants(const QString& path, int w, int h, const int (&order)[4])
    {
        const ImageHandle dib = loader_.LoadImage(path);
        ImgKitInfo info{};
        ASSERT_TRUE(ImgKitImageInfo(dib, info));
        EXPECT_EQ(info.bitCount, 24);
        ASSERT_EQ(info.width, w);
        ASSERT_EQ(info.height, h);
        const QImage image = DibToQImage(dib);
        for (int q = 0; q < 4; ++q) {
            const int x = (q % 2 ? 3 : 1) * w / 4;
            const int y = (q < 2 ? 1 : 3) * h / 4;
            const QColor c = image.pixelColor(x, y);
            const int* want = kQuadrant[order[q]];
            EXPECT_NEAR(c.red(), want[0], 16) << "quadrant " << q;
            EXPECT_NEAR(c.green(), want[1], 16) << "quadrant " << q;
            EXPECT_NEAR(c.blue(), want[2], 16) << "quadrant " << q;
        }
    }

    QTemporaryDir dir_;
    TSpiload loader_;
};

TEST_F(IfHeifTest, ReadsHeicAndAvif)
{
    const struct {
        heif_compression_format format;
        const char* name;
    } cases[] = {{heif_compression_HEVC, "photo.heic"}, {heif_compression_AV1, "photo.avif"}};
    int ran = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        const QByteArray bytes = Encode(c.format, heif_orientation_normal, why);
        if (bytes.isEmpty()) {
            std::cout << "[ SKIPPED  ] " << c.name << ": " << why << "\n";
            continue;
        }
        ++ran;
        const QString path = Write(QString::fromLatin1(c.name), bytes);
        ASSERT_TRUE(loader_.SetFile(path));
        ExpectQuadrants(path, kWidth, kHeight, {0, 1, 2, 3});
    }
    if (ran == 0)
        GTEST_SKIP() << "no HEVC or AV1 encoder in libheif";
}

TEST_F(IfHeifTest, AppliesTheStoredOrientation)
{
    std::string why;
    const QByteArray bytes = Encode(heif_compression_HEVC, heif_orientation_rotate_90_cw, why);
    if (bytes.isEmpty())
        GTEST_SKIP() << why;
    // Turned clockwise: the bottom-left quadrant comes to the top left.
    ExpectQuadrants(Write(QStringLiteral("turned.heic"), bytes), kHeight, kWidth, {2, 0, 3, 1});
}

TEST_F(IfHeifTest, AcceptsHeifBrandsOnly)
{
    auto ftyp = [](const char* major, const char* compatible) {
        QByteArray b("\0\0\0\x18" "ftyp", 8);
        b += major;
        b += QByteArray(4, '\0');
        b += compatible;
        b += "mif2";
        b += QByteArray(64, '\0');
        return b;
    };
    EXPECT_TRUE(loader_.SetFile(Write(QStringLiteral("a.heic"), ftyp("heix", "mif1"))));
    EXPECT_TRUE(loader_.SetFile(Write(QStringLiteral("b"), ftyp("mif1", "abcd"))));
    EXPECT_TRUE(loader_.SetFile(Write(QStringLiteral("c"), ftyp("abcd", "avis"))));  // compatible brand
    EXPECT_FALSE(loader_.SetFile(Write(QStringLiteral("d.mp4"), ftyp("isom", "mp41"))));
    EXPECT_FALSE(loader_.SetFile(Write(QStringLiteral("e.heic"), QByteArray("ftypheic", 8))));
    EXPECT_FALSE(loader_.SetFile(Write(QStringLiteral("f.heic"), QByteArray())));
    // Accepted by its brand but no picture in it.
    const QString broken = Write(QStringLiteral("g.heic"), ftyp("heic", "mif1"));
    ASSERT_TRUE(loader_.SetFile(broken));
    EXPECT_TRUE(loader_.LoadImage(broken).IsNull());
}

}  // namespace
