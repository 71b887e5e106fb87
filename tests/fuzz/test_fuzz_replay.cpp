// SPDX-License-Identifier: GPL-3.0-or-later
// Every seed and every kept crash of the fuzz targets, fed through the entry
// point of its target: nothing may crash (the sanitizer build turns memory
// errors into failures too) and every property the fuzzer checks must hold.

#include "fuzz/FuzzEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <string>

namespace {

QStringList FilesOf(const QString& folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QFileInfo& fi : dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (!fi.fileName().startsWith(u'.'))  // .gitkeep and the like
            files << fi.filePath();
    }
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<std::string> {
protected:
    const fuzzentry::Entry& Entry() const { return *fuzzentry::Find(GetParam()); }
    static QString Folder(const char* kind, const std::string& name)
    {
        return QStringLiteral(TOLVANE_FUZZ_DIR "/") + QLatin1String(kind) + u'/' + QString::fromStdString(name);
    }

    // Runs every file of the folder; returns how many there were.
    int Replay(const QString& folder) const
    {
        const QStringList files = FilesOf(folder);
        for (const QString& path : files) {
            QFile f(path);
            EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
            const std::string problem = Entry().run(f.readAll());
            EXPECT_EQ(problem, "") << path.toStdString();
        }
        return int(files.size());
    }
};

TEST_P(FuzzReplay, Seeds)
{
    // A target without seeds would start blind, and this test would prove nothing.
    EXPECT_GE(Replay(Folder("corpus", GetParam())), 3);
}

TEST_P(FuzzReplay, Regressions)
{
    const int n = Replay(Folder("regressions", GetParam()));
    RecordProperty("inputs", n);
}

std::vector<std::string> Names()
{
    std::vector<std::string> names;
    for (const fuzzentry::Entry& e : fuzzentry::All())
        names.emplace_back(e.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(Names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// The image check tells a good block from a broken one.
TEST(FuzzChecks, ImageCheckCatchesBrokenBlocks)
{
    EXPECT_EQ(fuzzentry::CheckImage(ImageHandle()), "");
    ImageHandle good = ImageHandle::NewDib(3, 2, 24);  // 9 bytes a row, 3 of padding
    ASSERT_FALSE(good.IsNull());
    EXPECT_EQ(fuzzentry::CheckImage(good), "");

    ImageHandle padded = ImageHandle::NewDib(3, 2, 24);
    padded.Data()[padded.Size() - 1] = 1;  // last padding byte of the top row
    EXPECT_NE(fuzzentry::CheckImage(padded), "");

    ImageHandle mono = ImageHandle::NewDib(9, 1, 1, 2);  // 2 bytes of pixels, 2 of padding
    ASSERT_FALSE(mono.IsNull());
    EXPECT_EQ(fuzzentry::CheckImage(mono), "");
    mono.Data()[mono.Size() - 2] = 0x80;
    EXPECT_NE(fuzzentry::CheckImage(mono), "");

    ImageHandle odd = ImageHandle::NewDib(3, 2, 24);
    odd.Header()->biBitCount = 7;
    EXPECT_NE(fuzzentry::CheckImage(odd), "");
    ImageHandle tall = ImageHandle::NewDib(3, 2, 24);
    tall.Header()->biHeight = 1000;  // rows beyond the block
    EXPECT_NE(fuzzentry::CheckImage(tall), "");
}

// Inputs that are not what a target reads pass: the checks do not cry wolf.
TEST(FuzzChecks, ForeignInputsPass)
{
    EXPECT_EQ(fuzzentry::Find("pagelist")->run("00000002\r\n../x.jpg\r\n\r\n"), "");
    EXPECT_EQ(fuzzentry::Find("memo")->run("a\rb\n"), "");
    for (const char* name : {"jpeg", "tiff", "bmp", "qt", "memoryload"})
        EXPECT_EQ(fuzzentry::Find(name)->run("not an image"), "") << name;
    EXPECT_EQ(fuzzentry::Find("nonesuch"), nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    fuzzentry::EnsureQtApplication();
    return RUN_ALL_TESTS();
}
