// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged and hostile input: every case must give "no image" (or, for random
// damage, possibly a picture) without crashing, hanging or reading beyond
// the data. Run under -fsanitize=address,undefined to make the last part count.

#include "imaging/ImgKit.h"
#include "test_imgkit_images.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <random>
#include <vector>

using namespace imgtest;

namespace {

struct Sample {
    const char* name;
    QByteArray bytes;
};

// Valid files of every format and flavour the loader reads itself.
std::vector<Sample> ValidSamples()
{
    std::vector<Sample> s;
    QByteArray b;
    EXPECT_TRUE(ImgKitJpegEncode(MakeImage(Kind::Full24, 40, 30), 80, b));
    s.push_back({"jpeg colour", b});
    EXPECT_TRUE(ImgKitJpegEncode(MakeSmooth(23, 17, true), 80, b));
    s.push_back({"jpeg grey", b});
    EXPECT_TRUE(ImgKitTiffEncode(MakeImage(Kind::Full24, 40, 30), b));
    s.push_back({"tiff rgb lzw", b});
    EXPECT_TRUE(ImgKitTiffEncode(MakeImage(Kind::Bilevel, 77, 30), b));
    s.push_back({"tiff g4", b});
    EXPECT_TRUE(ImgKitTiffEncode(MakeImage(Kind::Palette4, 21, 9), b));
    s.push_back({"tiff palette", b});
    EXPECT_TRUE(ImgKitTiffEncode(MakeImage(Kind::Grey8, 19, 11), b));
    s.push_back({"tiff grey", b});
    EXPECT_TRUE(ImgKitBmpEncode(MakeImage(Kind::Bilevel, 29, 7), b));
    s.push_back({"bmp 1", b});
    EXPECT_TRUE(ImgKitBmpEncode(MakeImage(Kind::Full24, 13, 7), b));
    s.push_back({"bmp 24", b});
    EXPECT_TRUE(ImgKitBmpEncode(MakeImage(Kind::Palette8, 13, 7), b));
    s.push_back({"bmp 8", b});
    for (const Sample& x : s)
        EXPECT_TRUE(ImgKitMemoryLoad(x.bytes)) << x.name << " should load before it is damaged";
    return s;
}

// Either no image or a well-formed block with clean padding.
::testing::AssertionResult NullOrWellFormed(const ImageHandle& img)
{
    if (!img)
        return ::testing::AssertionSuccess();
    if (!DibLayoutOf(img).valid)
        return ::testing::AssertionFailure() << "malformed block";
    if (!PaddingIsZero(img))
        return ::testing::AssertionFailure() << "dirty padding";
    return ::testing::AssertionSuccess();
}

TEST(ImgKitCorrupt, TruncatedFilesAreNoImage)
{
    for (const Sample& s : ValidSamples()) {
        SCOPED_TRACE(s.name);
        const int n = int(s.bytes.size());
        std::vector<int> cuts;
        for (int c = 0; c < std::min(n, 80); ++c)  // every cut through the headers
            cuts.push_back(c);
        for (int c = 80; c < n; c += std::max(1, n / 150))
            cuts.push_back(c);
        for (int c = std::max(0, n - 20); c < n; ++c)  // and through the end
            cuts.push_back(c);
        for (int c : cuts)
            EXPECT_FALSE(ImgKitMemoryLoad(s.bytes.left(c))) << "cut at " << c << " of " << n;
    }
}

TEST(ImgKitCorrupt, RandomByteDamageNeverCrashes)
{
    std::mt19937 rng(20240611);
    int loaded = 0, total = 0;
    for (const Sample& s : ValidSamples()) {
        SCOPED_TRACE(s.name);
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes = s.bytes;
            const int flips = 1 + int(rng() % 8);
            for (int i = 0; i < flips; ++i) {
                const auto at = qsizetype(rng() % uint32_t(bytes.size()));
                if (rng() % 4 == 0)
                    bytes[at] = char(rng() % 256);  // a random byte
                else
                    bytes[at] = char(bytes[at] ^ char(1 << (rng() % 8)));  // one flipped bit
            }
            const ImageHandle img = ImgKitMemoryLoad(bytes);
            ASSERT_TRUE(NullOrWellFormed(img)) << "round " << round;
            loaded += img ? 1 : 0;
            ++total;
        }
    }
    // Most single-bit damage hits pixel data: some files must still load,
    // or the loader is rejecting everything.
    EXPECT_GT(loaded, total / 20);
}

TEST(ImgKitCorrupt, EmptyMissingTextAndFolderAreNoImage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(WriteBytes(dir.filePath("empty.jpg"), QByteArray()));
    ASSERT_TRUE(WriteBytes(dir.filePath("notes.jpg"), "This is a text file, not a picture.\r\n"));
    ASSERT_TRUE(WriteBytes(dir.filePath("magic-only.jpg"), QByteArray("\xFF\xD8\xFF", 3)));
    ASSERT_TRUE(WriteBytes(dir.filePath("magic-only.tif"), QByteArray("II*\0", 4)));
    ASSERT_TRUE(WriteBytes(dir.filePath("magic-only.bmp"), QByteArray("BM")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.jpg"));
    for (const char* name :
         {"empty.jpg", "notes.jpg", "magic-only.jpg", "magic-only.tif", "magic-only.bmp", "folder.jpg", "missing.jpg"})
        EXPECT_FALSE(ImgKitFileLoad(dir.filePath(name))) << name;
    EXPECT_FALSE(ImgKitFileLoad(QString()));
    EXPECT_FALSE(ImgKitMemoryLoad(QByteArray()));
}

// --- Headers that announce giant pictures -----------------------------------

TEST(ImgKitCorrupt, JpegClaimingAGiantPictureIsRefused)
{
    QByteArray bytes;
    ASSERT_TRUE(ImgKitJpegEncode(MakeImage(Kind::Full24, 16, 16), 80, bytes));
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    // FF C0, length (2), precision (1), height (2), width (2)
    for (int i = 5; i < 9; ++i)
        bytes[sof + i] = char(0xFF);
    EXPECT_FALSE(ImgKitMemoryLoad(bytes));
}

// A little-endian TIFF of one uncompressed strip, built by hand so that its
// header can claim anything.
QByteArray HandTiff(uint32_t width, uint32_t height, uint16_t bps, uint16_t spp, uint16_t photometric)
{
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const QByteArray data(64, '\x55');
    const uint32_t dataAt = 8;
    const uint32_t ifdAt = dataAt + uint32_t(data.size());
    const Entry entries[] = {
        {256, 4, 1, width},      {257, 4, 1, height},         {258, 3, 1, bps},    {259, 3, 1, 1},
        {262, 3, 1, photometric}, {273, 4, 1, dataAt},        {277, 3, 1, spp},    {278, 4, 1, height},
        {279, 4, 1, uint32_t(data.size())},
    };
    QByteArray f("II*\0", 4);
    auto put16 = [&f](uint16_t v) { f.append(char(v & 255)).append(char(v >> 8)); };
    auto put32 = [&f](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f.append(char((v >> (8 * i)) & 255));
    };
    put32(ifdAt);
    f.append(data);
    put16(uint16_t(std::size(entries)));
    for (const Entry& e : entries) {
        put16(e.tag);
        put16(e.type);
        put32(e.count);
        if (e.type == 3) {  // SHORT values sit left-justified in the value field
            put16(uint16_t(e.value));
            put16(0);
        } else {
            put32(e.value);
        }
    }
    put32(0);
    return f;
}

TEST(ImgKitCorrupt, TiffClaimingAGiantPictureIsRefused)
{
    // The hand-made file is right: at a small size it loads.
    EXPECT_TRUE(ImgKitMemoryLoad(HandTiff(8, 8, 8, 1, 1)));
    EXPECT_FALSE(ImgKitMemoryLoad(HandTiff(65535, 65535, 8, 3, 2)));     // 12 GiB of RGB
    EXPECT_FALSE(ImgKitMemoryLoad(HandTiff(70000, 70000, 8, 1, 1)));     // beyond the largest side
    EXPECT_FALSE(ImgKitMemoryLoad(HandTiff(100000, 100000, 1, 1, 0)));   // bilevel, beyond the largest side
    EXPECT_FALSE(ImgKitMemoryLoad(HandTiff(65535, 65535, 16, 4, 2)));    // RGBA reader path
}

TEST(ImgKitCorrupt, BmpClaimingAGiantPictureIsRefused)
{
    QByteArray bytes;
    ASSERT_TRUE(ImgKitBmpEncode(MakeImage(Kind::Full24, 4, 4), bytes));
    auto patched = [&bytes](uint32_t width, int32_t height) {
        QByteArray b = bytes;
        for (int i = 0; i < 4; ++i) {
            b[18 + i] = char((width >> (8 * i)) & 255);
            b[22 + i] = char((uint32_t(height) >> (8 * i)) & 255);
        }
        return b;
    };
    EXPECT_TRUE(ImgKitMemoryLoad(patched(4, 4)));
    EXPECT_FALSE(ImgKitMemoryLoad(patched(65535, 65535)));
    EXPECT_FALSE(ImgKitMemoryLoad(patched(65535, -65535)));
    EXPECT_FALSE(ImgKitMemoryLoad(patched(70000, 1)));
    EXPECT_FALSE(ImgKitMemoryLoad(patched(1, INT32_MIN)));
}

// CRC-32 as PNG chunks use it.
uint32_t Crc32(const QByteArray& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (char ch : bytes) {
        crc ^= uint8_t(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(ImgKitCorrupt, QtFormatClaimingAGiantPictureIsRefused)
{
    // A PNG whose header announces 65535 x 65535 RGB, with a scrap of data.
    auto be32 = [](uint32_t v) {
        QByteArray b;
        for (int i = 3; i >= 0; --i)
            b.append(char((v >> (8 * i)) & 255));
        return b;
    };
    QByteArray ihdr = QByteArray("IHDR") + be32(65535) + be32(65535) + QByteArray("\x08\x02\x00\x00\x00", 5);
    QByteArray png = QByteArray("\x89PNG\r\n\x1A\n", 8) + be32(13) + ihdr + be32(Crc32(ihdr));
    const QByteArray idat = QByteArray("IDAT") + QByteArray("\x78\x9C\x63\x00\x00\x00\x01\x00\x01", 9);
    png += be32(9) + idat + be32(Crc32(idat));
    const QByteArray iend("IEND");
    png += be32(0) + iend + be32(Crc32(iend));
    EXPECT_FALSE(ImgKitMemoryLoad(png));
}

// --- JPEG damage that the decoder would half-survive -------------------------

TEST(ImgKitCorrupt, ProgressiveJpegWithEndlessScansIsRefused)
{
    const ImageHandle img = MakeSmooth(16, 16);
    const DibLayout l = DibLayoutOf(img);
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, img.Data() + l.bitsOffset, l.width, l.stride, l.height, TJPF_BGR, &jpeg, &size,
                          TJSAMP_444, 90, TJFLAG_BOTTOMUP | TJFLAG_PROGRESSIVE),
              0);
    QByteArray bytes(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    tjDestroy(tj);
    ASSERT_TRUE(ImgKitMemoryLoad(bytes));

    // Repeat the last scan (header and data) a few thousand times before EOI.
    const qsizetype lastScan = bytes.lastIndexOf(QByteArray("\xFF\xDA", 2));
    const qsizetype eoi = bytes.lastIndexOf(QByteArray("\xFF\xD9", 2));
    ASSERT_GT(lastScan, 0);
    ASSERT_GT(eoi, lastScan);
    const QByteArray scan = bytes.mid(lastScan, eoi - lastScan);
    QByteArray bomb = bytes.left(eoi);
    for (int i = 0; i < 5000; ++i)
        bomb += scan;
    bomb += QByteArray("\xFF\xD9", 2);
    EXPECT_FALSE(ImgKitMemoryLoad(bomb));
}

TEST(ImgKitCorrupt, JpegWarningsOtherThanMissingDataStillGiveThePicture)
{
    QByteArray bytes;
    ASSERT_TRUE(ImgKitJpegEncode(MakeSmooth(16, 16), 90, bytes));
    // Junk between the last scan and EOI: "extraneous bytes before marker".
    QByteArray junk = bytes;
    junk.insert(junk.size() - 2, QByteArray("\x12\x34\x56", 3));
    const ImageHandle img = ImgKitMemoryLoad(junk);
    ASSERT_TRUE(img);
    EXPECT_NEAR(int(R(ColorAt(img, 5, 5))), int(R(ColorAt(MakeSmooth(16, 16), 5, 5))), 8);
    // Without its end-of-image marker the same file counts as truncated.
    EXPECT_FALSE(ImgKitMemoryLoad(bytes.left(bytes.size() - 2)));
    // Truncation after an earlier warning: the decoder reports only its first
    // warning, so the cut must be seen some other way.
    QByteArray early = bytes;
    early.insert(early.indexOf(QByteArray("\xFF\xDA", 2)), QByteArray("\x12\x34\x56", 3));
    ASSERT_TRUE(ImgKitMemoryLoad(early));
    EXPECT_FALSE(ImgKitMemoryLoad(early.left(early.size() - 10)));
    // Trailing bytes after EOI are harmless.
    EXPECT_TRUE(ImgKitMemoryLoad(bytes + QByteArray("trailer")));
}

}  // namespace
