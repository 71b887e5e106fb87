// SPDX-License-Identifier: GPL-3.0-or-later
// The read loop on scripted frames: byte order, row order, bit sense and
// padding of the block, and every way the data can disagree with the
// parameters.

#include "imaging/scan/ScanReader.h"
#include "tests/scan/ScanTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

namespace {

struct Frame {
    SANE_Parameters params;
    QByteArray data;
    SANE_Status startStatus = SANE_STATUS_GOOD;
    SANE_Status endStatus = SANE_STATUS_EOF;  // what Read answers once data runs out
};

// Gives its frames in pieces of `chunk` bytes, as a slow backend would.
class ScriptedSource : public scan::FrameSource {
public:
    explicit ScriptedSource(std::deque<Frame> frames, int chunk = 5) : frames_(std::move(frames)), chunk_(chunk) {}
    SANE_Status Start() override
    {
        if (frames_.empty())
            return SANE_STATUS_NO_DOCS;
        current_ = frames_.front();
        frames_.pop_front();
        pos_ = 0;
        return current_.startStatus;
    }
    SANE_Status Parameters(SANE_Parameters& p) override
    {
        p = current_.params;
        return SANE_STATUS_GOOD;
    }
    SANE_Status Read(uint8_t* b, int n, int* len) override
    {
        *len = 0;
        if (pos_ >= current_.data.size())
            return current_.endStatus;
        const int k = std::min({n, chunk_, int(current_.data.size() - pos_)});
        std::memcpy(b, current_.data.constData() + pos_, std::size_t(k));
        pos_ += k;
        *len = k;
        return SANE_STATUS_GOOD;
    }
    void Cancel() override { ++cancels; }
    int cancels = 0;

private:
    std::deque<Frame> frames_;
    Frame current_;
    int pos_ = 0;
    int chunk_;
};

SANE_Parameters Params(SANE_Frame f, int ppl, int lines, int depth, int bpl, bool last = true)
{
    SANE_Parameters p{};
    p.format = f;
    p.last_frame = last;
    p.pixels_per_line = ppl;
    p.lines = lines;
    p.depth = depth;
    p.bytes_per_line = bpl;
    return p;
}

QByteArray Bytes(std::initializer_list<int> v)
{
    QByteArray b;
    for (int x : v)
        b.append(char(x));
    return b;
}

const uint8_t* Table(const ImageHandle& h)
{
    return h.Data() + sizeof(BitmapInfoHeader);
}

}  // namespace

TEST(ReadLoop, RgbRowsLandBottomUpAsBlueGreenRedWithZeroPadding)
{
    // 2 x 2 RGB, 7 bytes per line (one byte beyond the pixels is dropped).
    ScriptedSource src({{Params(SANE_FRAME_RGB, 2, 2, 8, 7),
                         Bytes({1, 2, 3, 4, 5, 6, 99, 7, 8, 9, 10, 11, 12, 99})}});
    auto out = scan::ReadScan(src, 300, 200);
    ASSERT_EQ(out.status, SANE_STATUS_GOOD) << qPrintable(out.detail);
    const DibLayout l = DibLayoutOf(out.image);
    ASSERT_TRUE(l.valid);
    EXPECT_EQ(l.bitCount, 24);
    EXPECT_EQ(l.stride, 8);
    const uint8_t* bits = out.image.Data() + l.bitsOffset;
    // The block's first row is the picture's last.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(bits), 16),
              Bytes({9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0}));
    EXPECT_EQ(out.image.Header()->biXPelsPerMeter, 11811);
    EXPECT_EQ(out.image.Header()->biYPelsPerMeter, 7874);
    EXPECT_GE(src.cancels, 1);  // sane_cancel ends a good scan too
}

TEST(ReadLoop, SixteenBitSamplesKeepTheirHighByteInHostOrder)
{
    QByteArray row;
    for (uint16_t v : {uint16_t(0x1234), uint16_t(0xABCD), uint16_t(0x00FF)}) {
        char b[2];
        std::memcpy(b, &v, 2);
        row.append(b, 2);
    }
    ScriptedSource grey({{Params(SANE_FRAME_GRAY, 3, 1, 16, 6), row}});
    auto g = scan::ReadScan(grey, 0, 0);
    ASSERT_EQ(g.status, SANE_STATUS_GOOD);
    EXPECT_EQ(PixelAt(g.image, 0, 0), 0x12u);
    EXPECT_EQ(PixelAt(g.image, 1, 0), 0xABu);
    EXPECT_EQ(PixelAt(g.image, 2, 0), 0x00u);
    ScriptedSource rgb({{Params(SANE_FRAME_RGB, 1, 1, 16, 6), row}});
    auto c = scan::ReadScan(rgb, 0, 0);
    ASSERT_EQ(c.status, SANE_STATUS_GOOD);
    EXPECT_EQ(PixelAt(c.image, 0, 0), 0x12AB00u);
}

TEST(ReadLoop, LineArtOneIsBlackAndTheBitsBeyondTheWidthAreZero)
{
    // 10 pixels: SANE bits 1000 0000 11, then 0111 1111 00.
    ScriptedSource src({{Params(SANE_FRAME_GRAY, 10, 2, 1, 2), Bytes({0x80, 0xC0, 0x7F, 0x00})}});
    auto out = scan::ReadScan(src, 0, 0);
    ASSERT_EQ(out.status, SANE_STATUS_GOOD);
    const DibLayout l = DibLayoutOf(out.image);
    ASSERT_EQ(l.bitCount, 1);
    ASSERT_EQ(l.colorCount, 2);
    const uint8_t bw[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    EXPECT_EQ(std::memcmp(Table(out.image), bw, 8), 0);
    const uint8_t* bits = out.image.Data() + l.bitsOffset;
    // Bottom row (picture row 1) first, inverted, tail bits and padding zero.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(bits), 8), Bytes({0x80, 0xC0, 0, 0, 0x7F, 0x00, 0, 0}));
}

TEST(ReadLoop, GreyHasTheRampAndThreeSeparateFramesFillOneColourBlock)
{
    ScriptedSource grey({{Params(SANE_FRAME_GRAY, 2, 1, 8, 2), Bytes({7, 200})}});
    auto g = scan::ReadScan(grey, 0, 0);
    ASSERT_EQ(g.status, SANE_STATUS_GOOD);
    ASSERT_EQ(DibLayoutOf(g.image).colorCount, 256);
    for (int i : {0, 1, 128, 255})
        EXPECT_EQ(Table(g.image)[i * 4], i);
    EXPECT_EQ(PixelAt(g.image, 1, 0), 200u);

    // Green, blue, red: any order.
    ScriptedSource three({{Params(SANE_FRAME_GREEN, 2, 1, 8, 2, false), Bytes({20, 21})},
                          {Params(SANE_FRAME_BLUE, 2, 1, 8, 2, false), Bytes({30, 31})},
                          {Params(SANE_FRAME_RED, 2, 1, 8, 2, true), Bytes({10, 11})}});
    auto c = scan::ReadScan(three, 0, 0);
    ASSERT_EQ(c.status, SANE_STATUS_GOOD) << qPrintable(c.detail);
    EXPECT_EQ(PixelAt(c.image, 0, 0), 0x0A141Eu);
    EXPECT_EQ(PixelAt(c.image, 1, 0), 0x0B151Fu);
}

TEST(ReadLoop, UnknownLineCountGrowsWithTheRows)
{
    ScriptedSource src({{Params(SANE_FRAME_GRAY, 3, -1, 8, 3), Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9})}}, 2);
    auto out = scan::ReadScan(src, 0, 0);
    ASSERT_EQ(out.status, SANE_STATUS_GOOD);
    const DibLayout l = DibLayoutOf(out.image);
    EXPECT_EQ(l.width, 3);
    EXPECT_EQ(l.height, 3);
    EXPECT_EQ(PixelAt(out.image, 0, 0), 1u);
    EXPECT_EQ(PixelAt(out.image, 2, 2), 9u);
}

TEST(ReadLoop, DataThatDisagreesWithTheParametersGivesNoImage)
{
    struct Case {
        const char* what;
        std::deque<Frame> frames;
    };
    const QByteArray four = Bytes({1, 2, 3, 4});
    std::vector<Case> cases;
    cases.push_back({"bytes_per_line too small", {{Params(SANE_FRAME_RGB, 2, 1, 8, 5), Bytes({1, 2, 3, 4, 5})}}});
    cases.push_back({"short frame", {{Params(SANE_FRAME_GRAY, 2, 3, 8, 2), four}}});
    cases.push_back({"zero-byte frame", {{Params(SANE_FRAME_GRAY, 2, 2, 8, 2), {}}}});
    cases.push_back({"zero-byte hand scan", {{Params(SANE_FRAME_GRAY, 2, -1, 8, 2), {}}}});
    cases.push_back({"ends inside a row", {{Params(SANE_FRAME_GRAY, 3, -1, 8, 3), four}}});
    cases.push_back({"no lines", {{Params(SANE_FRAME_GRAY, 2, 0, 8, 2), four}}});
    cases.push_back({"no pixels", {{Params(SANE_FRAME_GRAY, 0, 2, 8, 2), four}}});
    cases.push_back({"depth 4", {{Params(SANE_FRAME_GRAY, 2, 2, 4, 1), Bytes({1, 2})}}});
    cases.push_back({"frames of different widths",
                     {{Params(SANE_FRAME_RED, 2, 2, 8, 2, false), four},
                      {Params(SANE_FRAME_GREEN, 1, 2, 8, 2, false), four},
                      {Params(SANE_FRAME_BLUE, 2, 2, 8, 2, true), four}}});
    cases.push_back({"frames of different heights",
                     {{Params(SANE_FRAME_RED, 2, 2, 8, 2, false), four},
                      {Params(SANE_FRAME_GREEN, 2, 1, 8, 2, false), Bytes({1, 2})},
                      {Params(SANE_FRAME_BLUE, 2, 2, 8, 2, true), four}}});
    cases.push_back({"a colour missing",
                     {{Params(SANE_FRAME_RED, 2, 2, 8, 2, false), four},
                      {Params(SANE_FRAME_GREEN, 2, 2, 8, 2, true), four}}});
    cases.push_back({"a colour twice",
                     {{Params(SANE_FRAME_RED, 2, 2, 8, 2, false), four},
                      {Params(SANE_FRAME_RED, 2, 2, 8, 2, false), four},
                      {Params(SANE_FRAME_BLUE, 2, 2, 8, 2, true), four}}});
    cases.push_back({"grey that is not the last frame", {{Params(SANE_FRAME_GRAY, 2, 2, 8, 2, false), four}}});
    for (auto& c : cases) {
        ScriptedSource src(std::move(c.frames));
        auto out = scan::ReadScan(src, 0, 0);
        EXPECT_EQ(out.status, SANE_STATUS_IO_ERROR) << c.what;
        EXPECT_TRUE(out.image.IsNull()) << c.what;
        EXPECT_GE(src.cancels, 1) << c.what;
    }
}

TEST(ReadLoop, StatusesOfStartAndReadComeThrough)
{
    Frame noDocs{Params(SANE_FRAME_GRAY, 2, 2, 8, 2), Bytes({1, 2, 3, 4})};
    noDocs.startStatus = SANE_STATUS_NO_DOCS;
    ScriptedSource atStart({noDocs});
    EXPECT_EQ(scan::ReadScan(atStart, 0, 0).status, SANE_STATUS_NO_DOCS);

    Frame jam{Params(SANE_FRAME_GRAY, 2, 4, 8, 2), Bytes({1, 2, 3, 4})};
    jam.endStatus = SANE_STATUS_JAMMED;
    ScriptedSource midway({jam});
    auto out = scan::ReadScan(midway, 0, 0);
    EXPECT_EQ(out.status, SANE_STATUS_JAMMED);
    EXPECT_TRUE(out.image.IsNull());
    EXPECT_GE(midway.cancels, 1);

    std::atomic<bool> cancel{true};
    ScriptedSource cancelled({{Params(SANE_FRAME_GRAY, 2, 2, 8, 2), Bytes({1, 2, 3, 4})}});
    auto c = scan::ReadScan(cancelled, 0, 0, &cancel);
    EXPECT_EQ(c.status, SANE_STATUS_CANCELLED);
    EXPECT_TRUE(c.image.IsNull());
}

namespace {

// Bytes that differ from row to row and from pixel to pixel.
QByteArray Noise(std::size_t n, uint32_t seed)
{
    QByteArray b(qsizetype(n), Qt::Uninitialized);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        b[qsizetype(i)] = char(seed >> 24);
    }
    return b;
}

// Every byte of a 24-bit block against the RGB rows it was read from
// (`bpl` bytes each): the block's rows are bottom-up and blue-green-red, and
// the padding at the end of each row is zero. Empty when they agree.
QString CompareRgbRows(const ImageHandle& image, const QByteArray& data, int width, int height, int bpl)
{
    const DibLayout l = DibLayoutOf(image);
    if (!l.valid || l.bitCount != 24 || l.width != width || l.height != height)
        return QStringLiteral("not a %1 x %2 24-bit block").arg(width).arg(height);
    const auto* bits = image.Data() + l.bitsOffset;
    for (int y = 0; y < height; ++y) {
        const auto* src = reinterpret_cast<const uint8_t*>(data.constData()) + std::size_t(y) * std::size_t(bpl);
        const uint8_t* row = bits + std::size_t(height - 1 - y) * std::size_t(l.stride);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                if (row[3 * x + c] != src[3 * x + 2 - c])
                    return QStringLiteral("width %1: pixel %2 of row %3, byte %4").arg(width).arg(x).arg(y).arg(c);
        for (int64_t i = 3 * int64_t(width); i < l.stride; ++i)
            if (row[i] != 0)
                return QStringLiteral("width %1: padding byte %2 of row %3").arg(width).arg(i).arg(y);
    }
    return {};
}

}  // namespace

TEST(ReadLoop, RgbRowsOfEveryWidthUpToSeventyPixels)
{
    // Every width up to a few runs of 16 pixels, some with spare bytes at the
    // end of each line, in pieces that split rows and pixels.
    for (int width = 1; width <= 70; ++width) {
        const int bpl = 3 * width + width % 3;
        const int height = 4;
        const QByteArray data = Noise(std::size_t(bpl) * height, uint32_t(width));
        ScriptedSource src({{Params(SANE_FRAME_RGB, width, height, 8, bpl), data}}, 7 + width % 5);
        auto out = scan::ReadScan(src, 0, 0);
        ASSERT_EQ(out.status, SANE_STATUS_GOOD) << "width " << width << ": " << qPrintable(out.detail);
        const QString diff = CompareRgbRows(out.image, data, width, height, bpl);
        EXPECT_TRUE(diff.isEmpty()) << qPrintable(diff);
    }
}

TEST(ReadLoop, ALargeColourPictureComesThroughWhole)
{
    // Some 9 MB: large enough for the block's pages to be faulted in ahead
    // of the rows. The rows' 4-byte padding shifts where each row starts.
    const int width = 3001, height = 1000, bpl = 3 * width + 5;
    const QByteArray data = Noise(std::size_t(bpl) * height, 7);
    for (int chunk : {65536 + 13, 4093, bpl * 3}) {
        ScriptedSource src({{Params(SANE_FRAME_RGB, width, height, 8, bpl), data}}, chunk);
        auto out = scan::ReadScan(src, 600, 600);
        ASSERT_EQ(out.status, SANE_STATUS_GOOD) << qPrintable(out.detail);
        const QString diff = CompareRgbRows(out.image, data, width, height, bpl);
        EXPECT_TRUE(diff.isEmpty()) << "pieces of " << chunk << ": " << qPrintable(diff);
        EXPECT_GE(src.cancels, 1);
    }
}

TEST(ReadLoop, ALargePictureCancelledOrCutShortGivesNoImage)
{
    const int width = 3000, height = 1200, bpl = 3 * width;
    const QByteArray data = Noise(std::size_t(bpl) * height, 11);

    // Cancelled after a tenth of the rows.
    class CancelMidway : public ScriptedSource {
    public:
        CancelMidway(std::deque<Frame> frames, std::atomic<bool>& cancel, int after)
            : ScriptedSource(std::move(frames), 65536), cancel_(cancel), after_(after)
        {
        }
        SANE_Status Read(uint8_t* b, int n, int* len) override
        {
            if (++reads_ == after_)
                cancel_.store(true);
            return ScriptedSource::Read(b, n, len);
        }

    private:
        std::atomic<bool>& cancel_;
        int after_;
        int reads_ = 0;
    };
    std::atomic<bool> cancel{false};
    CancelMidway cancelled({{Params(SANE_FRAME_RGB, width, height, 8, bpl), data}}, cancel,
                           int(data.size() / 65536 / 10));
    auto c = scan::ReadScan(cancelled, 0, 0, &cancel);
    EXPECT_EQ(c.status, SANE_STATUS_CANCELLED);
    EXPECT_TRUE(c.image.IsNull());
    EXPECT_GE(cancelled.cancels, 1);

    // The device jams after half the rows.
    Frame jam{Params(SANE_FRAME_RGB, width, height, 8, bpl), data.left(data.size() / 2)};
    jam.endStatus = SANE_STATUS_JAMMED;
    ScriptedSource jammed({jam}, 65536);
    auto j = scan::ReadScan(jammed, 0, 0);
    EXPECT_EQ(j.status, SANE_STATUS_JAMMED);
    EXPECT_TRUE(j.image.IsNull());
    EXPECT_GE(jammed.cancels, 1);

    // The frame ends half way.
    ScriptedSource shortFrame({{Params(SANE_FRAME_RGB, width, height, 8, bpl), data.left(data.size() / 2)}}, 65536);
    auto s = scan::ReadScan(shortFrame, 0, 0);
    EXPECT_EQ(s.status, SANE_STATUS_IO_ERROR);
    EXPECT_TRUE(s.image.IsNull());
}
