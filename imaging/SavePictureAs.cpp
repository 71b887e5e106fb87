// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/SavePictureAs.h"

#include "core/ArchiveFiles.h"
#include "core/Prompt.h"
#include "core/Settings.h"
#include "imaging/ImgKit.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Puts the working directory back when the save ends, whichever way: the
// save dialog may leave it in the folder it was closed in.
class WorkingDirectoryKeeper {
public:
    WorkingDirectoryKeeper() : path_(QDir::currentPath()) {}
    ~WorkingDirectoryKeeper() { QDir::setCurrent(path_); }
    WorkingDirectoryKeeper(const WorkingDirectoryKeeper&) = delete;
    WorkingDirectoryKeeper& operator=(const WorkingDirectoryKeeper&) = delete;

private:
    QString path_;
};

bool TableIsGrey(const ImageHandle& picture, const DibLayout& layout)
{
    if (layout.colorCount <= 0)
        return false;
    const uint8_t* table = picture.Data() + picture.Header()->biSize;
    for (int i = 0; i < layout.colorCount; ++i) {
        const uint8_t* entry = table + 4 * i;  // blue, green, red, reserved
        if (entry[0] != entry[1] || entry[1] != entry[2])
            return false;
    }
    return true;
}

}  // namespace

SaveColour SaveColourOf(const ImageHandle& picture)
{
    ImgKitInfo info{};
    if (!ImgKitImageInfo(picture, info))
        return SaveColour::Other;
    switch (info.colorType) {
    case kImgKitColorFull: return SaveColour::FullColour;
    case kImgKitColorGray8: return SaveColour::Grey256;
    case kImgKitColorPalette4:
    case kImgKitColorPalette8:
        return TableIsGrey(picture, DibLayoutOf(picture)) ? SaveColour::GreyFewerLevels : SaveColour::Other;
    default: return SaveColour::Other;
    }
}

SavePictureResult SavePictureAs(Prompt& prompt, QSettings& store, const ImageHandle& picture, int jpegMode)
{
    const WorkingDirectoryKeeper keeper;

    const QString folder = ReadSettingText(store, QLatin1String(kLastSavePathName), QString());
    SaveFileRequest request;
    request.filters = {
        {QStringLiteral("JPEGｲﾒｰｼﾞ(*.jpg)"), QStringLiteral("*.jpg")},
        {QStringLiteral("Bitmapｲﾒｰｼﾞ(*.bmp)"), QStringLiteral("*.bmp")},
        {QStringLiteral("TIFFｲﾒｰｼﾞ(*.tif)"), QStringLiteral("*.tif")},
    };
    request.selectedFilter = 0;
    request.folder = folder;
    request.fileName = ProposeSaveName(folder);
    const SaveFileAnswer answer = prompt.GetSaveFileName(request);
    if (answer.path.isEmpty())
        return SavePictureResult::Cancelled;

    const QString path = WithFilterExtension(QFileInfo(answer.path).absoluteFilePath(), answer.selectedFilter);
    bool saved = false;
    IoError error;
    switch (SaveKindFor(path, SaveColourOf(picture))) {
    case SaveKind::NeedsGrey256:
        prompt.MessageDlg(QStringLiteral("JPEG保存には256色ｸﾞﾚｰ画像が必要です"), DlgIcon::Error);
        return SavePictureResult::NeedsGrey256;
    case SaveKind::NeedsFullColour:
        prompt.MessageDlg(QStringLiteral("JPEG保存にはフルカラー画像が必要です"), DlgIcon::Error);
        return SavePictureResult::NeedsFullColour;
    case SaveKind::UnsupportedExtension:
        prompt.MessageDlg(QStringLiteral("ファイル名拡張子が未対応のため保存できません"), DlgIcon::Error);
        return SavePictureResult::UnsupportedExtension;
    case SaveKind::Jpeg: saved = ImgKitJpegFileSave(path, picture, JpegQualityFor(jpegMode), &error); break;
    case SaveKind::Bmp: saved = ImgKitBmpFileSave(path, picture, &error); break;
    case SaveKind::Tiff: saved = ImgKitTiffFileSave(path, picture, &error); break;
    }
    if (!saved) {
        prompt.MessageDlg(QStringLiteral("ファイルを保存できません"), DlgIcon::Error, error.reason);
        return SavePictureResult::WriteFailed;
    }
    // The folder as it exists: the saver writes into a folder whose name
    // differs from the typed one only in letter case.
    const QString savedFolder = ResolveExistingPath(QDir::cleanPath(QFileInfo(path).absolutePath()));
    WriteSettingText(store, QLatin1String(kLastSavePathName), savedFolder);
    return SavePictureResult::Saved;
}
