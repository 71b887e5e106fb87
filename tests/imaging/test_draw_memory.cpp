// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing a page fails when its screen copy cannot be allocated: the viewer
// and the editor then say the picture is too large. Tried in a child whose
// address space is capped just above what it already uses.

#include "tests/support/Sanitizers.h"
#include "imaging/Dib.h"
#include "imaging/PictureTarget.h"

#include <gtest/gtest.h>

#include <QFile>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr bool kSanitized = kUnderSanitizer;

struct Target : PictureTarget {
    QImage picture;
    int calls = 0;
    void SetPicture(const QImage& p) override
    {
        picture = p;
        ++calls;
    }
};

// VmSize of this process in bytes.
rlim_t VirtualSize()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return rlim_t(line.mid(7).trimmed().split(' ').value(0).toULongLong()) * 1024;
    return 0;
}

}  // namespace

TEST(DrawToImage, APictureWithoutMemoryForItsScreenCopyIsNotDrawn)
{
    if (kSanitized)
        GTEST_SKIP() << "a capped address space and a sanitizer's shadow memory do not mix";
    for (int type : {0, 2, 3}) {  // 1, 8 and 24 bits
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // 6000 x 8000: 48 MB at 8 bits, 144 MB at 24; the cap leaves a
            // quarter of the copy.
            ImageHandle page = CreateDib(6000, 8000, type);
            if (!page)
                _exit(3);
            const DibLayout l = DibLayoutOf(page);
            const rlim_t cap = VirtualSize() + rlim_t(l.stride) * l.height / 4;
            const rlimit limit{cap, cap};
            if (setrlimit(RLIMIT_AS, &limit) != 0)
                _exit(4);
            Target target;
            TMDIB dib(page);
            const bool drawn = dib.DrawToImage(target);
            _exit(!drawn && target.calls == 0 && target.picture.isNull() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "type " << type << ": the child died, signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << "type " << type;
    }
    // With the memory there, the same page is drawn.
    ImageHandle page = CreateDib(6000, 8000, 3);
    Target target;
    TMDIB dib(page);
    EXPECT_TRUE(dib.DrawToImage(target));
    EXPECT_EQ(target.picture.size(), QSize(6000, 8000));
}
