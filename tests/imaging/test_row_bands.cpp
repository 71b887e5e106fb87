// SPDX-License-Identifier: GPL-3.0-or-later
// Passes shared out among threads: every row done once whatever the number
// of threads, exceptions brought back to the caller, and every pass that is
// shared out giving the same bytes at any thread count as on one thread, at
// sizes from 1 x 1 through odd widths to ones large enough to be shared.
// A large JPEG decoded in two parts gives the bytes, and the refusals, of
// one decoder. Pages made ahead are taken in order, never more than the
// depth at a time.

#include "imaging/AheadQueue.h"
#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"
#include "imaging/RowBands.h"
#include "tests/imaging/test_autoprocess_util.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace autotest;

constexpr int kThreadCounts[] = {2, 3, 7};

// Restores the machine's thread count when a test ends.
class RowBandsTest : public ::testing::Test {
protected:
    void TearDown() override { SetRowBandThreads(0); }
};

TEST_F(RowBandsTest, EveryRowOnceAtAnyThreadCountAndSize)
{
    for (int threads : {1, 2, 3, 7, 16}) {
        SetRowBandThreads(threads);
        for (int rows : {1, 2, 3, 5, 64, 1001}) {
            for (std::size_t work : {std::size_t(0), kRowBandSerialWork * 4}) {
                std::vector<std::atomic<int>> seen(static_cast<std::size_t>(rows));
                std::atomic<int> calls{0};
                ForRowBands(rows, work, [&](int first, int last) {
                    ASSERT_LE(0, first);
                    ASSERT_LT(first, last);
                    ASSERT_LE(last, rows);
                    for (int y = first; y < last; ++y)
                        seen[std::size_t(y)].fetch_add(1);
                    calls.fetch_add(1);
                });
                for (int y = 0; y < rows; ++y)
                    ASSERT_EQ(seen[std::size_t(y)].load(), 1) << threads << " threads, row " << y << " of " << rows;
                // A small pass, or one thread: one call on the caller's thread.
                if (work < kRowBandSerialWork || threads == 1) {
                    EXPECT_EQ(calls.load(), 1);
                }
            }
        }
    }
}

TEST_F(RowBandsTest, ABandsExceptionReachesTheCallerAfterEveryBandEnded)
{
    SetRowBandThreads(3);
    std::atomic<int> running{0}, finished{0};
    try {
        ForRowBands(120, kRowBandSerialWork * 4, [&](int first, int) {
            running.fetch_add(1);
            if (first == 0)
                throw std::bad_alloc();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            finished.fetch_add(1);
        });
        FAIL() << "no exception";
    } catch (const std::bad_alloc&) {
    }
    EXPECT_EQ(finished.load(), running.load() - 1);  // every other band ran to its end

    // Passes nested in a band, and passes from several threads at once.
    std::atomic<long> sum{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&] {
            ForRowBands(8, kRowBandSerialWork * 4, [&](int first, int last) {
                for (int y = first; y < last; ++y)
                    ForRowBands(100, kRowBandSerialWork * 4, [&](int a, int b) { sum.fetch_add(b - a); });
            });
        });
    for (std::thread& c : callers)
        c.join();
    EXPECT_EQ(sum.load(), 3 * 8 * 100);
}

// The passes that are shared out, each on a fresh copy of `source`.
using Pass = std::function<ImageHandle(const ImageHandle&)>;

ImageHandle Resampled(const ImageHandle& source, int width, int height, bool bilinear)
{
    ImageHandle out = CreateDib(width, height, 3);
    MarkPadding(out, 0xA5);  // a pass writes no padding byte
    if (bilinear)
        ResampleBilinear(out, source);
    else
        ResampleAverage(out, source);
    return out;
}

template <class F>
Pass InPlace(F f)
{
    return [f](const ImageHandle& source) {
        ImageHandle copy = Clone(source);
        f(copy);
        return copy;
    };
}

TEST_F(RowBandsTest, SharedPassesGiveTheBytesOfOneThread)
{
    const std::vector<std::pair<std::string, Pass>> passes = {
        {"average down", [](const ImageHandle& s) { return Resampled(s, std::max(1, WidthOf(s) * 2 / 5), std::max(1, HeightOf(s) / 3), false); }},
        {"average up", [](const ImageHandle& s) { return Resampled(s, WidthOf(s) * 2 + 1, HeightOf(s) + 3, false); }},
        {"bilinear", [](const ImageHandle& s) { return Resampled(s, WidthOf(s) * 3 / 4 + 1, HeightOf(s) * 5 / 4, true); }},
        {"image size", [](const ImageHandle& s) { return ImgKitImageSize(s, WidthOf(s) / 3 + 1, HeightOf(s) / 2 + 1); }},
        {"colour balance", InPlace([](ImageHandle& h) { AutoColorBalance(h); })},
        {"colour balance and whitening", InPlace([](ImageHandle& h) { AutoColorBalance(h, true); })},
        {"contrast", InPlace([](ImageHandle& h) { AutoContrast(h); })},
        {"whitening", InPlace([](ImageHandle& h) { WhiteningFilter(h); })},
        {"gamma", InPlace([](ImageHandle& h) { TMDIB(h).Gamma(180); })},
        {"levels of green", InPlace([](ImageHandle& h) { TMDIB(h).Levels(30, 200, 2); })},
        {"RGB", InPlace([](ImageHandle& h) { ImgKitRGB(h, 20, -15, 5); })},
        {"thumbnail", [](const ImageHandle& s) { return MakeThumbnail(s, Defaults()); }},
    };
    // 1 x 1, odd widths (row padding), one row, one column, and pages
    // large enough to be shared out (over half a megabyte).
    const std::vector<std::pair<int, int>> sizes = {{1, 1}, {3, 1}, {1, 5}, {7, 9}, {333, 2}, {1, 700},
                                                    {701, 333}, {1023, 1448}};
    for (const auto& [width, height] : sizes) {
        ImageHandle source = MakePage(width, height, uint32_t(width * 31 + height));
        MarkPadding(source, 0x5A);
        for (const auto& [name, pass] : passes) {
            SetRowBandThreads(1);
            const std::vector<uint8_t> one = Bytes(pass(source));
            ASSERT_FALSE(one.empty()) << name;
            for (int threads : kThreadCounts) {
                SetRowBandThreads(threads);
                ASSERT_EQ(Bytes(pass(source)), one) << name << " of " << width << " x " << height << " on " << threads
                                                    << " threads";
            }
        }
    }
}

TEST_F(RowBandsTest, APageEncodedWithItsThumbnailAlongsideGivesTheBytesOfTheStepsInTurn)
{
    for (int kMode : {0, 1}) {
        const Settings s = With(kMode);
        ImageHandle acquired = MakePage(1601, 1203);
        ImageHandle copy = Clone(acquired);
        const PageImages made = AutoProcessImage(copy, s);
        QByteArray page, thumb;
        ASSERT_EQ(EncodePageImages(made, 80, "p.jpg", "t.jpg", page, thumb), PageEncoding::Done);
        for (int threads : {1, 2, 3}) {
            SetRowBandThreads(threads);
            ImageHandle input = Clone(acquired);
            QByteArray sidePage, sideThumb;
            ASSERT_EQ(ProcessAndEncodePage(input, s, 80, "p.jpg", "t.jpg", sidePage, sideThumb), PageMaking::Done);
            EXPECT_FALSE(input);  // the acquired picture is let go
            EXPECT_EQ(sidePage, page) << kMode << " on " << threads;
            EXPECT_EQ(sideThumb, thumb) << kMode << " on " << threads;
        }
    }
    ImageHandle notAPicture;
    QByteArray a, b;
    EXPECT_EQ(ProcessAndEncodePage(notAPicture, Defaults(), 80, "p.jpg", "t.jpg", a, b), PageMaking::ProcessingFailed);
}

TEST(AheadQueueTest, ItemsInOrderAtMostDepthAtATimeAndFailuresAtTheirTurn)
{
    for (int depth : {1, 2, 3}) {
        std::atomic<int> running{0}, most{0};
        std::vector<int> got;
        {
            AheadQueue<int> queue(9, depth, [&](int i) {
                const int now = running.fetch_add(1) + 1;
                for (int m = most.load(); now > m && !most.compare_exchange_weak(m, now);) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(i % 3 == 0 ? 8 : 1));
                running.fetch_sub(1);
                if (i == 4)
                    throw std::runtime_error("page 4");
                return i * 10;
            });
            for (int i = 0; i < 9; ++i) {
                try {
                    got.push_back(queue.TakeNext());
                } catch (const std::runtime_error& e) {
                    EXPECT_EQ(i, 4);
                    got.push_back(-1);
                }
            }
            EXPECT_TRUE(queue.Done());
        }
        EXPECT_EQ(got, (std::vector<int>{0, 10, 20, 30, -1, 50, 60, 70, 80})) << depth;
        EXPECT_LE(most.load(), depth + 1) << depth;  // depth ahead, and the one taken being finished
    }

    // Dropped with items still being made: it waits for them.
    std::atomic<int> ended{0};
    {
        AheadQueue<int> queue(5, 2, [&](int i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ended.fetch_add(1);
            return i;
        });
        EXPECT_EQ(queue.TakeNext(), 0);
    }
    EXPECT_EQ(ended.load(), 3);  // item 0 and the two made ahead of it
}

}  // namespace

namespace {

// A JPEG of `page` at the given subsampling (TJSAMP_*), through TurboJPEG.
QByteArray JpegOf(const ImageHandle& page, int subsampling)
{
    const DibLayout l = DibLayoutOf(page);
    std::vector<uint8_t> top(std::size_t(l.width) * 3 * std::size_t(l.height));
    for (int y = 0; y < l.height; ++y)
        std::memcpy(top.data() + std::size_t(y) * l.width * 3, RowOf(page, y), std::size_t(l.width) * 3);
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj, top.data(), l.width, 0, l.height, TJPF_BGR, &out, &size, subsampling, 88, 0);
    QByteArray bytes = rc == 0 ? QByteArray(reinterpret_cast<const char*>(out), qsizetype(size)) : QByteArray();
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

TEST_F(RowBandsTest, AJpegDecodedInTwoPartsIsTheJpegDecodedWhole)
{
    struct Case {
        int width, height, subsampling;
    };
    // Every subsampling, heights that are and are not whole MCU rows.
    for (const Case& c : {Case{1601, 1203, TJSAMP_420}, Case{1500, 1001, TJSAMP_422}, Case{1400, 1100, TJSAMP_444},
                          Case{1700, 999, TJSAMP_440}, Case{2900, 1509, TJSAMP_GRAY}}) {
        const QByteArray jpeg = JpegOf(MakePage(c.width, c.height, uint32_t(c.height)), c.subsampling);
        ASSERT_FALSE(jpeg.isEmpty());
        const int group = c.subsampling == TJSAMP_420 || c.subsampling == TJSAMP_440 ? 16 : 8;
        const uint64_t bytes = uint64_t(DibStride(c.width, c.subsampling == TJSAMP_GRAY ? 8 : 24)) * c.height;
        EXPECT_GT(JpegSplitRow(c.height, group, bytes, uint64_t(jpeg.size())), 0) << c.width << " x " << c.height;
        SetRowBandThreads(1);
        const ImageHandle whole = ImgKitJpegDecode(jpeg);
        ASSERT_TRUE(whole);
        // Damage in the upper part, in the lower part, and a file cut short.
        QByteArray upperDamaged = jpeg, lowerDamaged = jpeg;
        upperDamaged[upperDamaged.size() / 4] = char(0xFF);
        upperDamaged[upperDamaged.size() / 4 + 1] = char(0xD5);
        lowerDamaged[lowerDamaged.size() * 7 / 8] = char(0xFF);
        lowerDamaged[lowerDamaged.size() * 7 / 8 + 1] = char(0xD3);
        const QByteArray cut = jpeg.left(jpeg.size() * 9 / 10);
        const QByteArray* const damaged[] = {&upperDamaged, &lowerDamaged, &cut};
        std::vector<bool> refused;
        for (const QByteArray* bad : damaged)
            refused.push_back(!ImgKitJpegDecode(*bad));
        EXPECT_EQ(refused, (std::vector<bool>{true, true, true}));
        for (int threads : {2, 3}) {
            SetRowBandThreads(threads);
            EXPECT_EQ(Bytes(ImgKitJpegDecode(jpeg)), Bytes(whole)) << c.width << " x " << c.height << " on " << threads;
            {
                const WholeJpegDecodes oneDecoder;
                EXPECT_EQ(Bytes(ImgKitJpegDecode(jpeg)), Bytes(whole)) << c.width << " x " << c.height;
            }
            for (const QByteArray* bad : damaged)
                EXPECT_FALSE(ImgKitJpegDecode(*bad)) << c.width << " x " << c.height;
        }
    }
    // Below 4 MB, or too few row groups: whole.
    EXPECT_EQ(JpegSplitRow(1000, 16, (uint64_t(4) << 20) - 1, 1 << 20), 0);
    EXPECT_EQ(JpegSplitRow(63, 16, uint64_t(64) << 20, 1 << 20), 0);
    // An A4 scan: whole row groups, below the middle, and lower the more
    // data it has per pixel (a noisy scan's data take longer to read than
    // its rows to make), never at the very end.
    int last = 3508 / 2 / 16 * 16;
    for (const uint64_t data : {uint64_t(0), uint64_t(900) << 10, uint64_t(2) << 20, uint64_t(26) << 20}) {
        const int split = JpegSplitRow(3508, 16, uint64_t(26) << 20, data);
        EXPECT_EQ(split % 16, 0) << data;
        EXPECT_GE(split, last) << data;
        EXPECT_LE(split, 3508 * 9 / 10) << data;
        last = split;
    }
    EXPECT_GT(last, JpegSplitRow(3508, 16, uint64_t(26) << 20, uint64_t(2) << 20));
}

}  // namespace
