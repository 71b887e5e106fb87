// SPDX-License-Identifier: GPL-3.0-or-later
// DIB blocks for decoders that write every pixel themselves: the bytes the
// decoder never writes (header, colour table, row padding) must be zero even
// when the allocator hands back memory that held something else.

#include "tests/imaging/test_imgkit_images.h"

#include "imaging/ImageHandle.h"
#include "imaging/ImgKit.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

using imgtest::MakeSmooth;
using imgtest::PaddingIsZero;

// Leaves freed blocks of these sizes full of 0xAA behind, so the next
// allocation of the same size is likely to reuse dirty memory.
void DirtyTheHeap(std::size_t bytes)
{
    for (int i = 0; i < 4; ++i) {
        void* p = std::malloc(bytes);
        ASSERT_NE(p, nullptr);
        std::memset(p, 0xAA, bytes);
        std::free(p);
    }
}

TEST(ImageHandleForOverwrite, ClearsEverythingButThePixels)
{
    for (const auto& [w, h, bits, colours] :
         {std::tuple{5, 7, 24, 0}, std::tuple{13, 3, 8, 256}, std::tuple{3, 9, 1, 2}, std::tuple{1001, 50, 24, 0}}) {
        const int64_t stride = DibStride(w, bits);
        DirtyTheHeap(std::size_t(40 + 4 * colours + stride * h));
        ImageHandle dib = ImageHandle::NewDibForOverwrite(w, h, bits, colours);
        ASSERT_TRUE(dib);
        const DibLayout l = DibLayoutOf(dib);
        ASSERT_TRUE(l.valid);
        EXPECT_EQ(dib.Header()->biSizeImage, uint32_t(stride * h));
        EXPECT_EQ(int(dib.Header()->biClrUsed), colours);
        for (int i = 0; i < 4 * colours; ++i)
            ASSERT_EQ(dib.Data()[40 + i], 0) << "colour table byte " << i;
        EXPECT_TRUE(PaddingIsZero(dib)) << w << "x" << h << " at " << bits << " bits";
    }
    EXPECT_FALSE(ImageHandle::NewDibForOverwrite(0, 5, 24));
    EXPECT_FALSE(ImageHandle::NewDibForOverwrite(kMaxDibSide + 1, 5, 24));
}

TEST(ImageHandleForOverwrite, JpegRowsDecodedIntoReusedMemoryHaveCleanPadding)
{
    QTemporaryDir dir;
    for (int w : {1, 3, 5, 7, 13, 1021}) {
        const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(w));
        ASSERT_TRUE(ImgKitJpegFileSave(path, MakeSmooth(w, 11), 90));
        ASSERT_TRUE(ImgKitJpegFileSave(dir.filePath(QStringLiteral("g%1.jpg").arg(w)), MakeSmooth(w, 11, true), 90));
        DirtyTheHeap(std::size_t(40 + DibStride(w, 24) * 11));
        ImageHandle colour = ImgKitFileLoad(path);
        ASSERT_TRUE(colour);
        EXPECT_TRUE(PaddingIsZero(colour)) << "width " << w;
        DirtyTheHeap(std::size_t(40 + 1024 + DibStride(w, 8) * 11));
        ImageHandle grey = ImgKitFileLoad(dir.filePath(QStringLiteral("g%1.jpg").arg(w)));
        ASSERT_TRUE(grey);
        EXPECT_TRUE(PaddingIsZero(grey)) << "grey width " << w;
    }
}

// Every block comes zeroed, whatever memory it is made of (the heap's freed
// blocks are dirtied first); blocks of 1 to 32 MiB come aligned to whole
// 2 MiB pages (made present at once), the others from the heap as they are.
TEST(ImageHandleAllocate, BlocksOfEverySizeComeZeroedAndPageSizedOnesAligned)
{
    constexpr std::size_t kMiB = std::size_t(1) << 20;
    for (const std::size_t bytes : {std::size_t(1000), kMiB - 1, kMiB, std::size_t(4500000), std::size_t(26100000),
                                    32 * kMiB, 32 * kMiB + 1, std::size_t(40000000)}) {
        DirtyTheHeap(bytes);
        const ImageHandle block = ImageHandle::Allocate(bytes);
        ASSERT_TRUE(block) << bytes;
        EXPECT_EQ(block.Size(), bytes);
        const uint8_t* d = block.Data();
        EXPECT_TRUE(std::all_of(d, d + bytes, [](uint8_t b) { return b == 0; })) << bytes;
        const bool pageSized = bytes >= kMiB && bytes <= 32 * kMiB;
        if (pageSized) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(d) % (2 * kMiB), 0u) << bytes;
        }
    }
    // A DIB of a scan's size: its pixels zero too, its header written.
    DirtyTheHeap(40 + std::size_t(DibStride(2480, 24)) * 3508);
    const ImageHandle scan = ImageHandle::NewDib(2480, 3508, 24);
    ASSERT_TRUE(scan);
    const DibLayout l = DibLayoutOf(scan);
    ASSERT_TRUE(l.valid);
    EXPECT_EQ(l.width, 2480);
    EXPECT_TRUE(std::all_of(scan.Data() + l.bitsOffset, scan.Data() + scan.Size(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
