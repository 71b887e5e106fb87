// SPDX-License-Identifier: GPL-3.0-or-later
// The JPEG decoder on real files of every flavour (the pixels must be exactly
// TurboJPEG's, which decoded every page filed so far), on damage that libjpeg
// would paper over with grey or misplaced blocks (refused), on warnings that
// leave the pixels as written (let through), and on small files whose headers
// claim giant pictures (refused). The memory those cost is measured in
// tests/jpeg_memory.

#include "imaging/ImgKit.h"
#include "test_imgkit_images.h"
#include "test_jpeg_hostile_files.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>

#include <cstring>
#include <random>
#include <vector>

using namespace imgtest;
using namespace jpegtest;

namespace {

// --- Reference decode --------------------------------------------------------

// TurboJPEG's decode laid out as the block should be: bottom-up rows at the
// block's stride, zero padding, CMYK read as Adobe-inverted. Null when
// TurboJPEG fails or only warns (a warning file is no reference).
ImageHandle TurboJpegReference(const QByteArray& bytes)
{
    tjhandle tj = tjInitDecompress();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto size = static_cast<unsigned long>(bytes.size());
    int w = 0, h = 0, subsamp = 0, cs = 0;
    ImageHandle ref;
    if (tjDecompressHeader3(tj, data, size, &w, &h, &subsamp, &cs) == 0) {
        const bool grey = cs == TJCS_GRAY;
        ref = ImageHandle::NewDib(w, h, grey ? 8 : 24, grey ? 256 : 0);
        const DibLayout l = DibLayoutOf(ref);
        if (grey)
            for (int i = 0; i < 256; ++i)
                std::memset(ref.Data() + 40 + 4 * i, i, 3);
        uint8_t* bits = ref.Data() + l.bitsOffset;
        if (cs == TJCS_CMYK || cs == TJCS_YCCK) {
            std::vector<uint8_t> cmyk(std::size_t(w) * std::size_t(h) * 4);
            if (tjDecompress2(tj, data, size, cmyk.data(), w, 0, h, TJPF_CMYK, 0) != 0)
                ref.Reset();
            for (int y = 0; ref && y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint8_t* s = &cmyk[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4];
                    uint8_t* d = bits + std::size_t(h - 1 - y) * std::size_t(l.stride) + std::size_t(x) * 3;
                    for (int c = 0; c < 3; ++c)
                        d[c] = uint8_t((s[2 - c] * unsigned(s[3]) + 127) / 255);
                }
        } else if (tjDecompress2(tj, data, size, bits, w, l.stride, h, grey ? TJPF_GRAY : TJPF_BGR,
                                 TJFLAG_BOTTOMUP)
                   != 0) {
            ref.Reset();
        }
    }
    tjDestroy(tj);
    return ref;
}

::testing::AssertionResult SameBlock(const ImageHandle& got, const ImageHandle& want)
{
    if (!got)
        return ::testing::AssertionFailure() << "no image";
    if (!want)
        return ::testing::AssertionFailure() << "no reference image";
    if (got.Size() != want.Size())
        return ::testing::AssertionFailure() << "block of " << got.Size() << " bytes, want " << want.Size();
    if (std::memcmp(got.Data(), want.Data(), got.Size()) != 0) {
        std::size_t i = 0;
        while (got.Data()[i] == want.Data()[i])
            ++i;
        return ::testing::AssertionFailure() << "first difference at byte " << i << " of " << got.Size();
    }
    return ::testing::AssertionSuccess();
}

// --- Files TurboJPEG cannot make -------------------------------------------

struct LibjpegOptions {
    int restartInterval = 0;  // MCUs
    bool arithmetic = false;
    std::vector<jpeg_scan_info> scans;  // empty: sequential
};

// A colour file (4:2:0) through libjpeg's compressor, for restart markers,
// arithmetic coding and hand-made scan scripts. `pixels` is BGR, top row first.
QByteArray LibjpegEncode(const std::vector<uint8_t>& pixels, int width, int height, const LibjpegOptions& o)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    c.restart_interval = unsigned(o.restartInterval);
    c.arith_code = o.arithmetic ? TRUE : FALSE;
    if (!o.scans.empty()) {
        c.scan_info = o.scans.data();
        c.num_scans = int(o.scans.size());
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&pixels[std::size_t(c.next_scanline) * std::size_t(width) * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

std::vector<uint8_t> NoisyBgr(int width, int height, uint32_t seed = 5)
{
    std::vector<uint8_t> px(std::size_t(width) * std::size_t(height) * 3);
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t((i / 3 % std::size_t(width)) * 2 % 160 + rng() % 96);
    return px;
}

// A scan script that never sends the highest AC coefficients (an encoder
// may leave them zero), but refines everything it starts.
std::vector<jpeg_scan_info> ScriptWithoutTopCoefficients()
{
    return {
        {3, {0, 1, 2}, 0, 0, 0, 1},   // DC of all, first bits
        {1, {0}, 1, 59, 0, 1},         // Y AC 1..59
        {1, {1}, 1, 63, 0, 0},         // Cb AC
        {1, {2}, 1, 63, 0, 0},         // Cr AC
        {3, {0, 1, 2}, 0, 0, 1, 0},    // DC refinement
        {1, {0}, 1, 59, 1, 0},         // Y AC refinement
    };
}

// Where each restart marker sits in the file.
std::vector<qsizetype> RestartMarkers(const QByteArray& jpeg)
{
    std::vector<qsizetype> at;
    for (const Marker& m : MarkersOf(jpeg)) {
        if (m.code != 0xDA)
            continue;
        for (qsizetype i = m.at + 2; i + 1 < m.end; ++i)
            if (uint8_t(jpeg[i]) == 0xFF && uint8_t(jpeg[i + 1]) >= 0xD0 && uint8_t(jpeg[i + 1]) <= 0xD7)
                at.push_back(i);
    }
    return at;
}

std::vector<Marker> ScansOf(const QByteArray& jpeg)
{
    std::vector<Marker> s;
    for (const Marker& m : MarkersOf(jpeg))
        if (m.code == 0xDA)
            s.push_back(m);
    return s;
}

const QByteArray kJunk("\x12\x34\x56\x78", 4);

// --- Real files decode exactly as TurboJPEG decodes them -------------------

TEST(ImgKitJpegDecode, EveryFlavourGivesTurboJpegsPixels)
{
    std::vector<NamedFile> files;
    // Odd sizes: partial MCUs at the right and bottom, and rows with padding.
    for (int subsamp : {TJSAMP_420, TJSAMP_422, TJSAMP_444, TJSAMP_440, TJSAMP_411})
        files.push_back({"colour", NoisyJpeg(53, 37, TJPF_BGR, subsamp)});
    files.push_back({"grey", NoisyJpeg(51, 29, TJPF_GRAY, TJSAMP_GRAY)});
    files.push_back({"cmyk (ycck) 4:4:4", NoisyJpeg(27, 19, TJPF_CMYK, TJSAMP_444)});
    files.push_back({"cmyk (ycck) 4:2:0", NoisyJpeg(27, 19, TJPF_CMYK, TJSAMP_420)});
    files.push_back({"progressive 4:2:0", NoisyJpeg(61, 45, TJPF_BGR, TJSAMP_420, 85, TJFLAG_PROGRESSIVE)});
    files.push_back({"progressive grey", NoisyJpeg(61, 45, TJPF_GRAY, TJSAMP_GRAY, 85, TJFLAG_PROGRESSIVE)});
    files.push_back({"progressive cmyk", NoisyJpeg(30, 22, TJPF_CMYK, TJSAMP_444, 85, TJFLAG_PROGRESSIVE)});
    const std::vector<uint8_t> px = NoisyBgr(70, 50);
    files.push_back({"restart markers", LibjpegEncode(px, 70, 50, {3, false, {}})});
    files.push_back({"high coefficients never sent", LibjpegEncode(px, 70, 50, {0, false, ScriptWithoutTopCoefficients()})});
    // Larger than a row group of every kind, so that rows arrive in many calls.
    files.push_back({"page-sized", NoisyJpeg(1203, 611, TJPF_BGR, TJSAMP_420, 80)});
    for (const NamedFile& f : files) {
        SCOPED_TRACE(f.name);
        ASSERT_FALSE(f.bytes.isEmpty());
        const ImageHandle img = ImgKitMemoryLoad(f.bytes);
        EXPECT_TRUE(SameBlock(img, TurboJpegReference(f.bytes)));
        EXPECT_TRUE(PaddingIsZero(img));
    }
}

// --- Data that ends early or is damaged is refused -------------------------

TEST(ImgKitJpegDamage, ScanCutShortAndClosedWithEoiIsRefused)
{
    const std::vector<NamedFile> files = {
        {"colour", NoisyJpeg(96, 80, TJPF_BGR, TJSAMP_420)},
        {"grey", NoisyJpeg(96, 80, TJPF_GRAY, TJSAMP_GRAY)},
        {"cmyk", NoisyJpeg(64, 48, TJPF_CMYK, TJSAMP_444)},
        {"restart markers", LibjpegEncode(NoisyBgr(96, 80), 96, 80, {2, false, {}})},
        {"page-sized", NoisyJpeg(1240, 1754, TJPF_BGR, TJSAMP_420, 80)},
    };
    for (const NamedFile& f : files) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(ImgKitMemoryLoad(f.bytes));
        for (double at : {0.0, 0.02, 0.5, 0.9, 0.99}) {
            const QByteArray cut = CutInScan(f.bytes, at);
            ASSERT_LT(cut.size(), f.bytes.size());
            EXPECT_FALSE(ImgKitMemoryLoad(cut)) << "cut at " << at << " of the scan";
        }
    }
}

TEST(ImgKitJpegDamage, ProgressiveFileMissingDataIsRefused)
{
    const QByteArray prog = NoisyJpeg(80, 64, TJPF_BGR, TJSAMP_420, 85, TJFLAG_PROGRESSIVE);
    ASSERT_TRUE(ImgKitMemoryLoad(prog));
    const std::vector<Marker> scans = ScansOf(prog);
    ASSERT_GE(scans.size(), 4u);
    const QByteArray eoi("\xFF\xD9", 2);
    for (std::size_t s = 0; s < scans.size(); ++s) {
        SCOPED_TRACE(s);
        // Cut inside scan s: libjpeg runs into EOI in the middle of its data.
        EXPECT_FALSE(ImgKitMemoryLoad(CutInScan(prog, 0.5, int(s))));
        // Scans s.. missing altogether: every scan there is is whole, but the
        // coefficients are not all refined, so the picture is a blur.
        EXPECT_FALSE(ImgKitMemoryLoad(prog.left(scans[s].at) + eoi));
    }
}

TEST(ImgKitJpegDamage, CorruptScanDataIsRefused)
{
    const QByteArray base = NoisyJpeg(48, 32, TJPF_BGR, TJSAMP_420);
    ASSERT_TRUE(ImgKitMemoryLoad(base));
    const Marker scan = ScansOf(base).at(0);
    const qsizetype middle = (scan.at + scan.end) / 2;

    // A run of one-bits (stuffed FF bytes) longer than any Huffman code.
    QByteArray badCode = base;
    badCode.insert(middle, QByteArray("\xFF\x00\xFF\x00\xFF\x00\xFF\x00", 8));
    EXPECT_FALSE(ImgKitMemoryLoad(badCode)) << "bad Huffman code";

    // A marker in the middle of the data.
    QByteArray marker = base;
    marker.insert(middle, QByteArray("\xFF\xE1", 2));
    EXPECT_FALSE(ImgKitMemoryLoad(marker)) << "marker inside the scan";

    // A baseline scan whose header asks for a spectral band: "invalid SOS
    // parameters for sequential JPEG". The header's last three bytes are
    // Ss, Se, Ah/Al.
    QByteArray band = base;
    band[scan.at + 2 + ((uint8_t(base[scan.at + 2]) << 8) | uint8_t(base[scan.at + 3])) - 2] = char(40);
    EXPECT_FALSE(ImgKitMemoryLoad(band)) << "sequential scan with Se = 40";
}

TEST(ImgKitJpegDamage, RestartIntervalDamageIsRefused)
{
    const QByteArray base = LibjpegEncode(NoisyBgr(96, 64), 96, 64, {2, false, {}});
    ASSERT_TRUE(ImgKitMemoryLoad(base));
    const std::vector<qsizetype> rst = RestartMarkers(base);
    ASSERT_GE(rst.size(), 4u);
    const qsizetype at = rst[rst.size() / 2];

    QByteArray wrongNumber = base;  // RSTn where RST(n+3) belongs
    wrongNumber[at + 1] = char(0xD0 + (uint8_t(base[at + 1]) - 0xD0 + 3) % 8);
    EXPECT_FALSE(ImgKitMemoryLoad(wrongNumber)) << "marker instead of the expected RST";

    QByteArray junk = base;  // the interval's data does not end where its MCUs do
    junk.insert(at, kJunk);
    EXPECT_FALSE(ImgKitMemoryLoad(junk)) << "extraneous bytes before RST";

    QByteArray lost = base;  // an interval's data lost: two restart markers in a row
    lost.remove(rst[1] + 2, rst[2] - rst[1] - 2);
    EXPECT_FALSE(ImgKitMemoryLoad(lost)) << "interval without data";
}

TEST(ImgKitJpegDamage, InconsistentProgressionIsRefused)
{
    const QByteArray prog = NoisyJpeg(64, 48, TJPF_BGR, TJSAMP_420, 85, TJFLAG_PROGRESSIVE);
    const std::vector<Marker> scans = ScansOf(prog);
    ASSERT_GE(scans.size(), 3u);
    // The second scan (the first AC scan) made to claim it refines bits
    // that no scan has sent: Ah = Al + 1.
    const Marker& s = scans[1];
    const qsizetype ahAl = s.at + 2 + ((uint8_t(prog[s.at + 2]) << 8) | uint8_t(prog[s.at + 3])) - 1;
    QByteArray bogus = prog;
    const int al = uint8_t(prog[ahAl]) & 15;
    ASSERT_EQ(uint8_t(prog[ahAl]) >> 4, 0);
    bogus[ahAl] = char(((al + 1) << 4) | al);
    EXPECT_FALSE(ImgKitMemoryLoad(bogus));
    // The same scan twice: its coefficients are already at that precision.
    QByteArray twice = prog;
    twice.insert(s.end, prog.mid(s.at, s.end - s.at));
    EXPECT_FALSE(ImgKitMemoryLoad(twice));
}

// Arithmetic coding may end its data early by design, so a cut is not seen:
// such files are refused whole (TurboJPEG decodes them, which shows they are
// real files).
TEST(ImgKitJpegDamage, ArithmeticCodedFilesAreRefused)
{
    const std::vector<uint8_t> px = NoisyBgr(64, 48);
    for (const LibjpegOptions& o : {LibjpegOptions{0, true, {}}, LibjpegOptions{0, true, ScriptWithoutTopCoefficients()}}) {
        const QByteArray bytes = LibjpegEncode(px, 64, 48, o);
        ASSERT_TRUE(TurboJpegReference(bytes));
        EXPECT_FALSE(ImgKitMemoryLoad(bytes));
        EXPECT_FALSE(ImgKitMemoryLoad(CutInScan(bytes, 0.1)));
    }
}

// --- Warnings that leave the pixels as written are let through -------------

TEST(ImgKitJpegWarnings, HarmlessWarningsGiveThePictureUnchanged)
{
    const QByteArray colour = NoisyJpeg(40, 32, TJPF_BGR, TJSAMP_420);
    const QByteArray cmyk = NoisyJpeg(24, 16, TJPF_CMYK, TJSAMP_444);
    const QByteArray prog = NoisyJpeg(40, 32, TJPF_BGR, TJSAMP_420, 85, TJFLAG_PROGRESSIVE);
    const ImageHandle colourImg = ImgKitMemoryLoad(colour);
    const ImageHandle cmykImg = ImgKitMemoryLoad(cmyk);
    const ImageHandle progImg = ImgKitMemoryLoad(prog);
    ASSERT_TRUE(colourImg && cmykImg && progImg);

    // JFIF 2.01: APP0 is FF E0, length, "JFIF\0", major, minor.
    const qsizetype app0 = FirstMarker(colour, 0xE0);
    ASSERT_EQ(colour.mid(app0 + 4, 5), QByteArray("JFIF\0", 5));
    QByteArray jfif = colour;
    jfif[app0 + 9] = char(2);
    EXPECT_TRUE(SameBlock(ImgKitMemoryLoad(jfif), colourImg)) << "unknown JFIF revision";

    // Adobe APP14: FF EE, length, "Adobe", version, flags0, flags1, transform.
    // TurboJPEG writes CMYK as YCCK (2); an unknown code is read as YCCK too.
    const qsizetype app14 = FirstMarker(cmyk, 0xEE);
    ASSERT_GT(app14, 0);
    ASSERT_EQ(cmyk.mid(app14 + 4, 5), QByteArray("Adobe"));
    ASSERT_EQ(int(cmyk[app14 + 15]), 2);
    QByteArray adobe = cmyk;
    adobe[app14 + 15] = char(9);
    EXPECT_TRUE(SameBlock(ImgKitMemoryLoad(adobe), cmykImg)) << "unknown Adobe transform";

    // Junk between header segments, before the scan.
    QByteArray header = colour;
    header.insert(FirstMarker(colour, 0xDA), kJunk);
    EXPECT_TRUE(SameBlock(ImgKitMemoryLoad(header), colourImg)) << "junk before SOS";

    // Junk after the complete scan, before EOI.
    QByteArray tail = colour;
    tail.insert(colour.size() - 2, kJunk);
    EXPECT_TRUE(SameBlock(ImgKitMemoryLoad(tail), colourImg)) << "junk before EOI";

    // Junk after each complete scan of a progressive file, before whatever
    // marker comes next (a table or the next SOS).
    const std::vector<Marker> scans = ScansOf(prog);
    for (std::size_t s = 0; s < scans.size(); ++s) {
        QByteArray between = prog;
        between.insert(scans[s].end, kJunk);
        EXPECT_TRUE(SameBlock(ImgKitMemoryLoad(between), progImg)) << "junk after scan " << s;
    }
}

// --- Headers claiming giant pictures over a few blocks of data ---------------

TEST(ImgKitJpegDamage, SmallFilesClaimingGiantPicturesAreRefused)
{
    for (const HostilePair& p : GiantHeaderFiles()) {
        SCOPED_TRACE(p.name);
        ASSERT_TRUE(ImgKitMemoryLoad(p.original)) << "the small file itself is real";
        ASSERT_EQ(p.hostile.size(), p.original.size());
        EXPECT_FALSE(ImgKitMemoryLoad(p.hostile));
    }
}

}  // namespace
