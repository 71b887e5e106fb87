// SPDX-License-Identifier: GPL-3.0-or-later
// What JPEG loads cost in memory, measured as the peak resident set of a
// child process (wait4's ru_maxrss): tolvane-batch on small hostile files
// must give up in little memory, and a real giant baseline file must load in
// little more than its block. The children are the real program and this
// program re-run with --load-only, so each figure is the load alone.
//
// ru_maxrss of a child starts from what the parent had resident when it
// started the child, so this process keeps itself small: the test files are
// written by other children.

#include "tests/support/Sanitizers.h"
#include "imaging/ImgKit.h"
#include "tests/imaging/test_jpeg_hostile_files.h"

#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr bool kSanitized = kUnderSanitizer;

constexpr int kGiantSide = 18000;
constexpr long kMiB = 1 << 20;
constexpr long kHostileLimit = 150 * kMiB;
// What a process of this program has resident before it loads anything (Qt
// Core, the C++ runtime, the file's bytes); measured at 10 to 20 MB.
constexpr long kFixedAllowance = 32 * kMiB;

struct Child {
    bool exited = false;
    int status = -1;       // exit status when exited
    long maxRssBytes = 0;
    std::string output;    // stdout and stderr
};

// Runs `args` with HOME and XDG_CONFIG_HOME in `home`, waits, and reports.
Child RunChild(const std::vector<std::string>& args, const QString& home)
{
    Child c;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HOME=", 5) != 0 && std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0)
            env.emplace_back(*e);
    env.push_back("HOME=" + home.toStdString());
    env.push_back("XDG_CONFIG_HOME=" + home.toStdString() + "/config");
    std::vector<char*> argv, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const std::string log = home.toStdString() + "/child.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        c.output = std::string("cannot start: ") + std::strerror(rc);
        return c;
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid)
        return c;
    c.exited = WIFEXITED(status);
    c.status = c.exited ? WEXITSTATUS(status) : -1;
    c.maxRssBytes = ru.ru_maxrss * 1024L;  // kilobytes on Linux
    QFile f(QString::fromStdString(log));
    if (f.open(QIODevice::ReadOnly))
        c.output = f.readAll().toStdString();
    return c;
}

std::string Self()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, std::size_t(n)) : std::string();
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

double Mb(long bytes) { return double(bytes) / 1e6; }

TEST(JpegMemory, HostileFilesAreRefusedInLittleMemory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Child made = RunChild({Self(), "--write-hostile", dir.path().toStdString()}, dir.path());
    ASSERT_TRUE(made.exited && made.status == 0) << made.output;
    QFile list(dir.filePath("names.txt"));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QList<QByteArray> names = list.readAll().split('\n');
    ASSERT_GE(names.size(), 5);
    for (int i = 0; i < names.size() && !names[i].isEmpty(); ++i) {
        SCOPED_TRACE(names[i].constData());
        const QString in = dir.filePath(QStringLiteral("hostile-%1.jpg").arg(i));
        const Child c = RunChild({TOLVANE_BATCH_EXE, "process", in.toStdString(),
                                  dir.filePath("page.jpg").toStdString(), dir.filePath("thumb.jpg").toStdString()},
                                 dir.path());
        std::printf("    %-32s %8lld bytes: exit %d, peak %.1f MB\n", names[i].constData(),
                    static_cast<long long>(QFile(in).size()), c.status, Mb(c.maxRssBytes));
        ASSERT_TRUE(c.exited) << c.output;
        EXPECT_EQ(c.status, 1) << c.output;
        EXPECT_FALSE(QFile::exists(dir.filePath("page.jpg")));
        if (!kSanitized) {
            EXPECT_LT(c.maxRssBytes, kHostileLimit);
        }
    }
}

TEST(JpegMemory, RealGiantBaselineFileLoadsWithinItsBlock)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string self = Self();
    ASSERT_FALSE(self.empty());
    const std::string path = dir.filePath("giant.jpg").toStdString();
    const Child made = RunChild({self, "--write-flat", path}, dir.path());
    ASSERT_TRUE(made.exited && made.status == 0) << made.output;

    // The same program loading a small file: what the process costs by itself.
    const std::string small = dir.filePath("small.jpg").toStdString();
    ASSERT_TRUE(Write(QString::fromStdString(small), jpegtest::NoisyJpeg(64, 64, TJPF_BGR, TJSAMP_420)));
    const Child base = RunChild({self, "--load-only", small}, dir.path());
    ASSERT_TRUE(base.exited && base.status == 0) << base.output;

    const Child load = RunChild({self, "--load-only", path}, dir.path());
    ASSERT_TRUE(load.exited) << load.output;
    ASSERT_EQ(load.status, 0) << load.output;
    const long block = 40L + long(DibStride(kGiantSide, 24)) * kGiantSide;
    std::printf("    %d x %d baseline, %lld bytes: block %.1f MB, peak %.1f MB (small file %.1f MB)\n", kGiantSide,
                kGiantSide, static_cast<long long>(QFile(QString::fromStdString(path)).size()), Mb(block),
                Mb(load.maxRssBytes), Mb(base.maxRssBytes));
    if (kSanitized)
        GTEST_SKIP() << "peak memory is not measured under AddressSanitizer";
    // The block itself must show: otherwise the figure is not the load's.
    EXPECT_GT(load.maxRssBytes, block);
    EXPECT_LE(load.maxRssBytes, long(1.1 * double(block)) + kFixedAllowance);
    EXPECT_LT(base.maxRssBytes, kFixedAllowance);
}

}  // namespace

int main(int argc, char** argv)
{
    // Child modes: each does one thing, so its peak memory is that thing's.
    if (argc == 3 && std::strcmp(argv[1], "--load-only") == 0) {
        const ImageHandle image = ImgKitFileLoad(QString::fromLocal8Bit(argv[2]));
        ImgKitInfo info{};
        return image && ImgKitImageInfo(image, info) && info.width > 0 && info.height > 0 ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--write-hostile") == 0) {
        const QString dir = QString::fromLocal8Bit(argv[2]);
        QByteArray names;
        int i = 0;
        for (const jpegtest::NamedFile& f : jpegtest::HostileFiles()) {
            if (!Write(QStringLiteral("%1/hostile-%2.jpg").arg(dir).arg(i++), f.bytes))
                return 1;
            names += QByteArray(f.name) + '\n';
        }
        return Write(dir + QStringLiteral("/names.txt"), names) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--write-flat") == 0) {
        const QByteArray bytes = jpegtest::FlatJpeg(kGiantSide, kGiantSide, 50);
        return !bytes.isEmpty() && Write(QString::fromLocal8Bit(argv[2]), bytes) ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
