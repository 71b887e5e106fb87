// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of saving the shown page as a file: the proposed "Image…" name,
// the extension the dialog's filter adds, and the format or refusal a name
// and a colour class give.

#include "core/SaveAs.h"
#include "CoreTestUtil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using coretest::ScratchTest;

// Changes the working directory for one test and puts it back afterwards.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const QString& path) : saved_(QDir::currentPath())
    {
        EXPECT_TRUE(QDir::setCurrent(path));
    }
    ~WorkingDirectory() { QDir::setCurrent(saved_); }

private:
    QString saved_;
};

class ProposeSaveNameTest : public ScratchTest {};

TEST_F(ProposeSaveNameTest, SkipsNamesTakenByAnyEntryWithOrWithoutExtension)
{
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image001"));
    Put(QStringLiteral("Image001.jpg"), "x");
    Put(QStringLiteral("Image002.txt"), "x");
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image003"));
    MakeDir(QStringLiteral("Image003"));
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image004"));
    Put(QStringLiteral("Image004.tar.gz"), "x");
    Put(QStringLiteral("Image005."), "x");
    ASSERT_EQ(::symlink("/nonexistent/target", qPrintable(P(QStringLiteral("Image006")))), 0);
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image007"));
}

TEST_F(ProposeSaveNameTest, ComparesNamesInAnyLetterCase)
{
    Put(QStringLiteral("image001.JPG"), "x");
    Put(QStringLiteral("IMAGE002"), "x");
    MakeDir(QStringLiteral("iMaGe003.Old"));
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image004"));
}

TEST_F(ProposeSaveNameTest, NamesThatOnlyBeginWithTheCandidateLeaveItFree)
{
    Put(QStringLiteral("Image0010.jpg"), "x");
    Put(QStringLiteral("Image001x.jpg"), "x");
    Put(QStringLiteral("Image001 copy.jpg"), "x");
    Put(QStringLiteral("Image01.jpg"), "x");
    Put(QStringLiteral("Image1.jpg"), "x");
    Put(QStringLiteral("xImage001.jpg"), "x");
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image001"));
}

TEST_F(ProposeSaveNameTest, GoesPastThreeDigits)
{
    for (int n = 1; n <= 999; ++n)
        Put(QStringLiteral("Image%1.jpg").arg(n, 3, 10, QChar(u'0')), QByteArray());
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image1000"));
    Put(QStringLiteral("Image1000.bmp"), QByteArray());
    EXPECT_EQ(ProposeSaveName(Root()), QStringLiteral("Image1001"));
}

TEST_F(ProposeSaveNameTest, EmptyFolderMeansTheWorkingDirectory)
{
    Put(QStringLiteral("Image001.png"), "x");
    const WorkingDirectory here(Root());
    EXPECT_EQ(ProposeSaveName(QString()), QStringLiteral("Image002"));
}

TEST_F(ProposeSaveNameTest, FolderThatCannotBeListedGivesTheFirstName)
{
    Put(QStringLiteral("Image001.jpg"), "x");
    EXPECT_EQ(ProposeSaveName(P(QStringLiteral("missing"))), QStringLiteral("Image001"));
    EXPECT_EQ(ProposeSaveName(P(QStringLiteral("Image001.jpg"))), QStringLiteral("Image001"));
}

TEST(SaveAsExtension, FilterExtensionIsAddedOnlyToANameWithoutOne)
{
    struct Case {
        const char* chosen;
        int filter;
        const char* expected;
    };
    const Case cases[] = {
        {"/tmp/scan", 0, "/tmp/scan.jpg"},
        {"/tmp/scan", 1, "/tmp/scan.bmp"},
        {"/tmp/scan", 2, "/tmp/scan.tif"},
        {"/tmp/scan", 3, "/tmp/scan"},
        {"/tmp/scan", -1, "/tmp/scan"},
        {"/tmp/a.b/scan", 0, "/tmp/a.b/scan.jpg"},
        {"/tmp/a.b/scan", 2, "/tmp/a.b/scan.tif"},
        {"scan", 1, "scan.bmp"},
        {"/tmp/scan.png", 1, "/tmp/scan.png"},
        {"/tmp/page.JPG", 1, "/tmp/page.JPG"},
        {"/tmp/page.tif", 0, "/tmp/page.tif"},
        {"/tmp/scan.", 0, "/tmp/scan."},
        {"/tmp/.hidden", 0, "/tmp/.hidden"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithFilterExtension(QString::fromUtf8(c.chosen), c.filter), QString::fromUtf8(c.expected))
            << c.chosen << " filter " << c.filter;
}

TEST(SaveAsExtension, ExtensionIsTakenFromTheFileNameOnly)
{
    EXPECT_EQ(FileNameExtension(QStringLiteral("/tmp/a.b/scan")), QString());
    EXPECT_EQ(FileNameExtension(QStringLiteral("/tmp/a.b/scan.tiff")), QStringLiteral(".tiff"));
    EXPECT_EQ(FileNameExtension(QStringLiteral("/tmp/x/page.tar.gz")), QStringLiteral(".gz"));
    EXPECT_EQ(FileNameExtension(QStringLiteral("page.jpg")), QStringLiteral(".jpg"));
}

TEST(SaveAsKind, ExtensionsAreComparedExactly)
{
    for (SaveColour colour : {SaveColour::FullColour, SaveColour::Grey256, SaveColour::GreyFewerLevels,
                              SaveColour::Other}) {
        SCOPED_TRACE(int(colour));
        EXPECT_EQ(SaveKindFor(QStringLiteral("/f/p.bmp"), colour), SaveKind::Bmp);
        EXPECT_EQ(SaveKindFor(QStringLiteral("/f/p.tif"), colour), SaveKind::Tiff);
        EXPECT_EQ(SaveKindFor(QStringLiteral("/f/p.tiff"), colour), SaveKind::Tiff);
        for (const char* refused : {"/f/p.JPG", "/f/p.Jpeg", "/f/p.BMP", "/f/p.TIF", "/f/p.png", "/f/p",
                                    "/f.jpg/p", "/f/p.", "/f/p.jpgx", "/f/p.jpg.txt"})
            EXPECT_EQ(SaveKindFor(QString::fromUtf8(refused), colour), SaveKind::UnsupportedExtension) << refused;
    }
}

TEST(SaveAsKind, JpegNeedsFullColourOrTheGreyRamp)
{
    for (const char* name : {"/f/p.jpg", "/f/p.jpeg"}) {
        SCOPED_TRACE(name);
        const QString path = QString::fromUtf8(name);
        EXPECT_EQ(SaveKindFor(path, SaveColour::FullColour), SaveKind::Jpeg);
        EXPECT_EQ(SaveKindFor(path, SaveColour::Grey256), SaveKind::Jpeg);
        EXPECT_EQ(SaveKindFor(path, SaveColour::GreyFewerLevels), SaveKind::NeedsGrey256);
        EXPECT_EQ(SaveKindFor(path, SaveColour::Other), SaveKind::NeedsFullColour);
    }
}

}  // namespace
