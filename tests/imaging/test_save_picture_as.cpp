// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the shown page as a file: the colour class of a picture, and the
// whole round from the save dialog through the checks to the file written
// and the folder remembered, with the dialog answered from a script.

#include "imaging/SavePictureAs.h"

#include "core/Prompt.h"
#include "core/Settings.h"
#include "imaging/ImgKit.h"
#include "test_imgkit_images.h"
#include "tests/support/ScriptedPrompt.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace imgtest;

namespace {

const QString kGreyMessage = QStringLiteral("JPEG保存には256色ｸﾞﾚｰ画像が必要です");
const QString kFullColourMessage = QStringLiteral("JPEG保存にはフルカラー画像が必要です");
const QString kExtensionMessage = QStringLiteral("ファイル名拡張子が未対応のため保存できません");
const QString kWriteMessage = QStringLiteral("ファイルを保存できません");

// A 4- or 8-bit picture whose table holds `levels` greys spread over 0..255.
ImageHandle GreyLevels(int bits, int levels)
{
    ImageHandle img = ImageHandle::NewDib(9, 5, bits, levels);
    for (int i = 0; i < levels; ++i) {
        const int v = levels > 1 ? i * 255 / (levels - 1) : 0;
        SetTableEntry(img, i, MakeRgb(v, v, v));
    }
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            SetRaw(img, x, y, uint32_t((x + 3 * y) % levels));
    return img;
}

TEST(SaveColourOf, SortsPicturesByWhatJpegCanTake)
{
    EXPECT_EQ(SaveColourOf(MakeImage(Kind::Full24, 7, 3)), SaveColour::FullColour);
    EXPECT_EQ(SaveColourOf(MakeImage(Kind::Grey8, 7, 3)), SaveColour::Grey256);

    EXPECT_EQ(SaveColourOf(GreyLevels(4, 16)), SaveColour::GreyFewerLevels);
    EXPECT_EQ(SaveColourOf(GreyLevels(4, 4)), SaveColour::GreyFewerLevels);
    EXPECT_EQ(SaveColourOf(GreyLevels(8, 16)), SaveColour::GreyFewerLevels);
    // 256 greys, but not the ramp in its order.
    ImageHandle reversed = GreyLevels(8, 256);
    for (int i = 0; i < 256; ++i)
        SetTableEntry(reversed, i, MakeRgb(255 - i, 255 - i, 255 - i));
    EXPECT_EQ(SaveColourOf(reversed), SaveColour::GreyFewerLevels);

    EXPECT_EQ(SaveColourOf(MakeImage(Kind::Bilevel, 7, 3)), SaveColour::Other);
    EXPECT_EQ(SaveColourOf(MakeImage(Kind::Palette4, 7, 3)), SaveColour::Other);
    EXPECT_EQ(SaveColourOf(MakeImage(Kind::Palette8, 7, 3)), SaveColour::Other);
    // One coloured entry spoils an otherwise grey table, whichever byte differs.
    for (Rgb odd : {MakeRgb(10, 10, 11), MakeRgb(10, 11, 10), MakeRgb(11, 10, 10)}) {
        ImageHandle almost = GreyLevels(4, 16);
        SetTableEntry(almost, 15, odd);
        EXPECT_EQ(SaveColourOf(almost), SaveColour::Other) << std::hex << odd;
        ImageHandle ramp = MakeImage(Kind::Grey8, 7, 3);
        SetTableEntry(ramp, 10, odd);
        EXPECT_EQ(SaveColourOf(ramp), SaveColour::Other) << std::hex << odd;
    }
    EXPECT_EQ(SaveColourOf(ImageHandle()), SaveColour::Other);
}

class SavePictureAsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder_.isValid() && work_.isValid() && config_.isValid());
        saved_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(work_.path()));
        start_ = QDir::currentPath();
        store_ = std::make_unique<QSettings>(config_.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    }
    void TearDown() override { QDir::setCurrent(saved_); }

    QString Folder() const { return folder_.path(); }
    QString P(const QString& name) const { return folder_.filePath(name); }
    QStringList Entries(const QString& path) const
    {
        return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                    QDir::Name);
    }

    // The dialog answers `path` with `filter` chosen; `whileOpen` runs first,
    // as the user's doings while the dialog is open.
    void Answer(const QString& path, int filter, std::function<void()> whileOpen = {})
    {
        prompt_.saveFileHandlers.push_back([=](const SaveFileRequest&) {
            if (whileOpen)
                whileOpen();
            return SaveFileAnswer{path, filter};
        });
    }
    SavePictureResult Save(const ImageHandle& picture, int jpegMode = 1)
    {
        return SavePictureAs(prompt_, *store_, picture, jpegMode);
    }
    QString LastSavePath() const { return store_->value(QStringLiteral("LastSavePath")).toString(); }
    void SetLastSavePath(const QString& path) { store_->setValue(QStringLiteral("LastSavePath"), path); }

    // The one message shown after the dialog, with its icon.
    void ExpectOnlyMessage(const QString& text)
    {
        ASSERT_EQ(prompt_.shown.size(), 2u);
        EXPECT_EQ(prompt_.shown[0].kind, ScriptedPrompt::Shown::SaveFile);
        EXPECT_EQ(prompt_.shown[1].kind, ScriptedPrompt::Shown::Dlg);
        EXPECT_EQ(prompt_.shown[1].text, text);
        EXPECT_EQ(prompt_.shown[1].icon, DlgIcon::Error);
    }

    ScriptedPrompt prompt_;
    std::unique_ptr<QSettings> store_;
    QString start_;

private:
    QTemporaryDir folder_, work_, config_;
    QString saved_;
};

TEST_F(SavePictureAsTest, DialogOpensInTheLastFolderWithTheNextFreeName)
{
    WriteBytes(P(QStringLiteral("Image001.jpg")), "x");
    SetLastSavePath(Folder());
    SaveFileRequest seen;
    prompt_.saveFileHandlers.push_back([&](const SaveFileRequest& r) {
        seen = r;
        return SaveFileAnswer{};
    });
    const ImageHandle picture = MakeImage(Kind::Full24, 8, 8);
    EXPECT_EQ(Save(picture), SavePictureResult::Cancelled);

    ASSERT_EQ(seen.filters.size(), 3);
    EXPECT_EQ(seen.filters[0].caption, QStringLiteral("JPEGｲﾒｰｼﾞ(*.jpg)"));
    EXPECT_EQ(seen.filters[0].patterns, QStringLiteral("*.jpg"));
    EXPECT_EQ(seen.filters[1].caption, QStringLiteral("Bitmapｲﾒｰｼﾞ(*.bmp)"));
    EXPECT_EQ(seen.filters[1].patterns, QStringLiteral("*.bmp"));
    EXPECT_EQ(seen.filters[2].caption, QStringLiteral("TIFFｲﾒｰｼﾞ(*.tif)"));
    EXPECT_EQ(seen.filters[2].patterns, QStringLiteral("*.tif"));
    EXPECT_EQ(seen.selectedFilter, 0);
    EXPECT_EQ(seen.folder, Folder());
    EXPECT_EQ(seen.fileName, QStringLiteral("Image002"));

    // Cancelled: nothing more shown, nothing written, the setting as it was.
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].kind, ScriptedPrompt::Shown::SaveFile);
    EXPECT_EQ(prompt_.shown[0].text, QStringLiteral("Image002"));
    EXPECT_EQ(Entries(Folder()), QStringList{QStringLiteral("Image001.jpg")});
    EXPECT_EQ(LastSavePath(), Folder());
}

TEST_F(SavePictureAsTest, WithoutALastFolderTheDialogOpensInTheWorkingDirectory)
{
    ASSERT_TRUE(QDir::setCurrent(Folder()));
    start_ = QDir::currentPath();
    WriteBytes(P(QStringLiteral("Image001.png")), "x");
    const ImageHandle picture = MakeImage(Kind::Full24, 8, 8);
    EXPECT_EQ(Save(picture), SavePictureResult::Cancelled);  // no answer scripted
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, QStringLiteral("Image002"));
    EXPECT_EQ(prompt_.unanswered, 1);

    SaveFileRequest seen;
    prompt_.saveFileHandlers.push_back([&](const SaveFileRequest& r) {
        seen = r;
        return SaveFileAnswer{};
    });
    Save(picture);
    EXPECT_TRUE(seen.folder.isEmpty());
    EXPECT_EQ(seen.fileName, QStringLiteral("Image002"));
}

TEST_F(SavePictureAsTest, FilterGivesTheFormatOfANameWithoutExtension)
{
    const ImageHandle picture = MakeImage(Kind::Full24, 13, 7);
    Answer(P(QStringLiteral("scan")), 1);
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    EXPECT_EQ(Entries(Folder()), QStringList{QStringLiteral("scan.bmp")});
    const QByteArray bmp = ReadBytes(P(QStringLiteral("scan.bmp")));
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_TRUE(SamePixels(ImgKitBmpDecode(bmp), picture));

    Answer(P(QStringLiteral("scan")), 2);
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    const QByteArray tif = ReadBytes(P(QStringLiteral("scan.tif")));
    EXPECT_TRUE(tif.startsWith(QByteArray("II*\0", 4)) || tif.startsWith(QByteArray("MM\0*", 4)));
    EXPECT_TRUE(SamePixels(ImgKitTiffDecode(tif), picture));

    Answer(P(QStringLiteral("scan")), 0);
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    EXPECT_TRUE(ReadBytes(P(QStringLiteral("scan.jpg"))).startsWith("\xFF\xD8\xFF"));

    // A typed extension wins over the filter.
    Answer(P(QStringLiteral("page.jpeg")), 1);
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    EXPECT_TRUE(ReadBytes(P(QStringLiteral("page.jpeg"))).startsWith("\xFF\xD8\xFF"));
    Answer(P(QStringLiteral("page.tiff")), 0);
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    EXPECT_TRUE(SamePixels(ImgKitFileLoad(P(QStringLiteral("page.tiff"))), picture));

    EXPECT_EQ(Entries(Folder()), (QStringList{"page.jpeg", "page.tiff", "scan.bmp", "scan.jpg", "scan.tif"}));
    for (const auto& s : prompt_.shown)
        EXPECT_EQ(s.kind, ScriptedPrompt::Shown::SaveFile) << s.text.toStdString();
}

TEST_F(SavePictureAsTest, DotInAFolderNameIsNoExtension)
{
    ASSERT_TRUE(QDir().mkpath(P(QStringLiteral("a.b"))));
    const ImageHandle picture = MakeImage(Kind::Full24, 8, 8);
    Answer(P(QStringLiteral("a.b/scan")), 0);
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    EXPECT_EQ(Entries(P(QStringLiteral("a.b"))), QStringList{QStringLiteral("scan.jpg")});
    EXPECT_EQ(LastSavePath(), P(QStringLiteral("a.b")));
}

TEST_F(SavePictureAsTest, UnsupportedExtensionsAreRefusedAndNothingIsWritten)
{
    SetLastSavePath(QStringLiteral("/before"));
    const ImageHandle picture = MakeImage(Kind::Full24, 8, 8);
    for (const char* name : {"scan.png", "page.JPG", "page.Bmp", "page."}) {
        SCOPED_TRACE(name);
        prompt_.Clear();
        Answer(P(QString::fromUtf8(name)), 0);
        EXPECT_EQ(Save(picture), SavePictureResult::UnsupportedExtension);
        ExpectOnlyMessage(kExtensionMessage);
    }
    EXPECT_TRUE(Entries(Folder()).isEmpty());
    EXPECT_EQ(LastSavePath(), QStringLiteral("/before"));
}

TEST_F(SavePictureAsTest, JpegTakesOnlyFullColourAndTheGreyRamp)
{
    SetLastSavePath(QStringLiteral("/before"));
    Answer(P(QStringLiteral("bilevel.jpg")), 0);
    EXPECT_EQ(Save(MakeImage(Kind::Bilevel, 8, 8)), SavePictureResult::NeedsFullColour);
    ExpectOnlyMessage(kFullColourMessage);

    prompt_.Clear();
    Answer(P(QStringLiteral("palette")), 0);
    EXPECT_EQ(Save(MakeImage(Kind::Palette8, 8, 8)), SavePictureResult::NeedsFullColour);
    ExpectOnlyMessage(kFullColourMessage);

    prompt_.Clear();
    Answer(P(QStringLiteral("grey16.jpeg")), 0);
    EXPECT_EQ(Save(GreyLevels(4, 16)), SavePictureResult::NeedsGrey256);
    ExpectOnlyMessage(kGreyMessage);
    EXPECT_TRUE(Entries(Folder()).isEmpty());
    EXPECT_EQ(LastSavePath(), QStringLiteral("/before"));

    // The grey ramp goes out as a grey JPEG; the refused ones go out as BMP.
    prompt_.Clear();
    Answer(P(QStringLiteral("grey")), 0);
    EXPECT_EQ(Save(MakeSmooth(16, 16, true)), SavePictureResult::Saved);
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(ImgKitFileLoad(P(QStringLiteral("grey.jpg"))), info));
    EXPECT_EQ(info.colorType, kImgKitColorGray8);
    Answer(P(QStringLiteral("bilevel")), 1);
    EXPECT_EQ(Save(MakeImage(Kind::Bilevel, 8, 8)), SavePictureResult::Saved);
    Answer(P(QStringLiteral("grey16")), 1);
    EXPECT_EQ(Save(GreyLevels(4, 16)), SavePictureResult::Saved);
    EXPECT_TRUE(SamePixels(ImgKitFileLoad(P(QStringLiteral("grey16.bmp"))), GreyLevels(4, 16)));
    EXPECT_EQ(prompt_.shown.size(), 3u);  // the three dialogs, no message
}

TEST_F(SavePictureAsTest, JpegQualityFollowsTheJpegMode)
{
    const ImageHandle picture = MakeSmooth(48, 32);
    const std::pair<int, int> modes[] = {{0, 90}, {1, 80}, {2, 50}};
    for (const auto& [mode, quality] : modes) {
        SCOPED_TRACE(mode);
        const QString name = QStringLiteral("q%1").arg(mode);
        Answer(P(name), 0);
        ASSERT_EQ(Save(picture, mode), SavePictureResult::Saved);
        QByteArray expected;
        ASSERT_TRUE(ImgKitJpegEncode(picture, quality, expected));
        EXPECT_EQ(ReadBytes(P(name + QStringLiteral(".jpg"))), expected);
    }
    // The three qualities do give three different files.
    EXPECT_NE(ReadBytes(P(QStringLiteral("q0.jpg"))), ReadBytes(P(QStringLiteral("q1.jpg"))));
    EXPECT_NE(ReadBytes(P(QStringLiteral("q1.jpg"))), ReadBytes(P(QStringLiteral("q2.jpg"))));
}

TEST_F(SavePictureAsTest, SavedFolderIsRememberedAndItsNextNameProposed)
{
    SetLastSavePath(QStringLiteral("/before"));
    const ImageHandle picture = MakeImage(Kind::Full24, 8, 8);
    prompt_.saveFileHandlers.push_back([&](const SaveFileRequest& r) {
        return SaveFileAnswer{Folder() + u'/' + r.fileName, 0};
    });
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    EXPECT_EQ(Entries(Folder()), QStringList{QStringLiteral("Image001.jpg")});
    EXPECT_EQ(LastSavePath(), Folder());
    EXPECT_FALSE(LastSavePath().endsWith(u'/'));

    SaveFileRequest next;
    prompt_.saveFileHandlers.push_back([&](const SaveFileRequest& r) {
        next = r;
        return SaveFileAnswer{};
    });
    Save(picture);
    EXPECT_EQ(next.folder, Folder());
    EXPECT_EQ(next.fileName, QStringLiteral("Image002"));
}

TEST_F(SavePictureAsTest, NameRelativeToTheWorkingDirectoryIsSavedThereAndItsFolderRemembered)
{
    ASSERT_TRUE(QDir::setCurrent(Folder()));
    start_ = QDir::currentPath();
    Answer(QStringLiteral("scan"), 1);
    ASSERT_EQ(Save(MakeImage(Kind::Full24, 8, 8)), SavePictureResult::Saved);
    EXPECT_EQ(Entries(Folder()), QStringList{QStringLiteral("scan.bmp")});
    EXPECT_EQ(LastSavePath(), start_);
}

TEST_F(SavePictureAsTest, FailedWriteIsToldWithItsReasonAndLeavesNothing)
{
    SetLastSavePath(QStringLiteral("/before"));
    ASSERT_TRUE(WriteBytes(P(QStringLiteral("plain.txt")), "plain"));
    Answer(P(QStringLiteral("plain.txt/scan")), 1);
    EXPECT_EQ(Save(MakeImage(Kind::Full24, 8, 8)), SavePictureResult::WriteFailed);
    ExpectOnlyMessage(kWriteMessage);
    ASSERT_EQ(prompt_.shown.size(), 2u);
    EXPECT_FALSE(prompt_.shown[1].detail.isEmpty());
    EXPECT_EQ(Entries(Folder()), QStringList{QStringLiteral("plain.txt")});
    EXPECT_EQ(ReadBytes(P(QStringLiteral("plain.txt"))), QByteArray("plain"));
    EXPECT_EQ(LastSavePath(), QStringLiteral("/before"));
}

TEST_F(SavePictureAsTest, ExistingFileIsOverwrittenWithoutAQuestion)
{
    ASSERT_TRUE(WriteBytes(P(QStringLiteral("scan.bmp")), "old content"));
    const ImageHandle picture = MakeImage(Kind::Full24, 8, 8);
    Answer(P(QStringLiteral("scan.bmp")), 0);
    ASSERT_EQ(Save(picture), SavePictureResult::Saved);
    EXPECT_TRUE(SamePixels(ImgKitFileLoad(P(QStringLiteral("scan.bmp"))), picture));
    EXPECT_EQ(Entries(Folder()), QStringList{QStringLiteral("scan.bmp")});
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].kind, ScriptedPrompt::Shown::SaveFile);
    EXPECT_EQ(prompt_.unanswered, 0);
}

TEST_F(SavePictureAsTest, WorkingDirectoryIsRestoredHoweverTheSaveEnds)
{
    ASSERT_TRUE(WriteBytes(P(QStringLiteral("plain.txt")), "plain"));
    const ImageHandle full = MakeImage(Kind::Full24, 8, 8);
    const ImageHandle bilevel = MakeImage(Kind::Bilevel, 8, 8);
    const ImageHandle grey16 = GreyLevels(4, 16);
    struct Case {
        const char* answer;
        int filter;
        const ImageHandle& picture;
        SavePictureResult result;
    };
    const Case cases[] = {
        {"", 0, full, SavePictureResult::Cancelled},
        {"scan.png", 0, full, SavePictureResult::UnsupportedExtension},
        {"scan", 0, bilevel, SavePictureResult::NeedsFullColour},
        {"scan", 0, grey16, SavePictureResult::NeedsGrey256},
        {"plain.txt/scan", 1, full, SavePictureResult::WriteFailed},
        {"scan", 1, full, SavePictureResult::Saved},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const QString answer = *c.answer ? P(QString::fromUtf8(c.answer)) : QString();
        // The dialog leaves the working directory where it was closed.
        Answer(answer, c.filter, [this] { ASSERT_TRUE(QDir::setCurrent(Folder())); });
        EXPECT_EQ(Save(c.picture), c.result);
        EXPECT_EQ(QDir::currentPath(), start_);
    }
}

}  // namespace
