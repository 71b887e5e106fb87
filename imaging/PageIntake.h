// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Filing an acquired picture as a new page, without windows: the steps the
// main window's file import and one-shot scan take in automatic mode, which
// tolvane-batch takes as well, so that a page is loaded, converted, encoded
// and written in one way wherever it comes from.

#include "core/ArchiveSession.h"
#include "core/Settings.h"
#include "imaging/AutoProcess.h"
#include "imaging/ImageHandle.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The picture in an imported file: the image layer (ImgKitFileLoad) first,
// then `pluginLoad` (the Susie plug-ins, AppSpiLoader().LoadImage) when the
// image layer gives none and a plug-in reader is given. Null when nothing
// reads the file.
ImageHandle LoadImportedFile(const QString& path, const std::function<ImageHandle(const QString&)>& pluginLoad);

// (ImgKitMakeFullColour, imaging/ImgKit.h, brings an acquired picture to
// 24 bits; false: the program says 読込めないデータ形式です.)

// Encodes a page image and its thumbnail, each in the format its file name's
// extension names (ImgKitEncodeForPath: .jpg/.jpeg, .bmp, .tif/.tiff), at
// `quality`: the one way every command encodes a page (new pages, re-edit,
// tolvane-batch process). Says which could not be encoded.
enum class PageEncoding { Done, PageFailed, ThumbnailFailed };
PageEncoding EncodePageImages(const PageImages& made, int quality, const QString& pageName, const QString& thumbName,
                              QByteArray& pageBytes, QByteArray& thumbBytes);

// AutoProcessImage and then EncodePageImages, the thumbnail made and encoded
// while the page image is encoded: the same bytes. ProcessingFailed where
// AutoProcessImage gives no images. `acquired` is released once the page
// image is made.
enum class PageMaking { Done, ProcessingFailed, PageFailed, ThumbnailFailed };
PageMaking ProcessAndEncodePage(ImageHandle& acquired, const Settings& s, int quality, const QString& pageName,
                                const QString& thumbName, QByteArray& pageBytes, QByteArray& thumbBytes);

// The two files of a new page: the page image in the format `extension`
// names (".jpg", ".bmp" or ".tif", see SaveFormatExtension) and the
// thumbnail as a JPEG, both at `quality` (JpegQualityFor). False when either
// image is missing or cannot be encoded.
bool EncodeNewPage(const PageImages& made, int quality, const QString& extension, QByteArray& pageBytes,
                   QByteArray& thumbBytes);

// EncodeNewPage, then ArchiveSession::StoreNewPage with its rollback. When
// the images cannot be encoded nothing is written and the result is the
// failure kCannotSaveMessage.
// `words`: the page's text when it comes with one (a copy, a PDF page).
PageResult StoreProcessedPage(ArchiveSession& session, const PageImages& made, int quality,
                              const QString& extension, const PageText* words = nullptr);
// The same with the quality of the settings' JpegMode and the format of their
// SaveFormat, as the main window files a page.
PageResult StoreProcessedPage(ArchiveSession& session, const PageImages& made, const Settings& settings,
                              const PageText* words = nullptr);

// A new thumbnail file for a stored page image, made as the copy command
// makes one: the image read, brought to 24 bits, MakeThumbnail, a JPEG at
// `quality`. None when the image cannot be read or the thumbnail not made.
std::optional<QByteArray> ThumbnailFileFor(const QString& imagePath, const Settings& settings, int quality);
