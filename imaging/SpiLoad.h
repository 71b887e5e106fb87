// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Susie plug-ins: the readers file import asks when the image library gives
// no picture for a file. A plug-in is a shared library "*.spi" in the folder
// the program starts from; imaging/SpiPlugin.h is what one is compiled
// against and describes the calling convention and the picture form.
//
// One TSpiload serves the whole program (AppSpiLoader). Not thread-safe: the
// GUI thread uses it.

#include "imaging/ImageHandle.h"
#include "imaging/SpiPlugin.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

// One loaded plug-in. Entry points it does not export are null.
struct TSpi_plugin {
    void* Module = nullptr;   // dlopen handle
    QString Path;             // the file it was loaded from
    SpiIsSupportedFn IsSupported = nullptr;
    SpiGetPictureInfoFn GetPictureInfo = nullptr;
    SpiGetPictureFn GetPicture = nullptr;
    SpiGetPreviewFn GetPreview = nullptr;
    SpiGetArchiveInfoFn GetArchiveInfo = nullptr;
    SpiGetFileFn GetFile = nullptr;
};

class TSpiload {
public:
    TSpiload() = default;
    ~TSpiload();  // unloads every plug-in
    TSpiload(const TSpiload&) = delete;
    TSpiload& operator=(const TSpiload&) = delete;

    // Unloads what was loaded, remembers `folder` and loads every regular
    // file directly in it whose name ends in ".spi" (any case), in the order
    // PluginFiles gives. Files that do not load, or lack IsSupported or
    // GetPicture, are skipped. Returns the number of plug-ins kept.
    int LoadPlugins(const QString& folder);
    // Unloads every plug-in; Current becomes null.
    void UnloadPlugins();
    // The candidate files of `folder` in the order they are tried (the order
    // the folder listing gives them, unsorted).
    static QStringList PluginFiles(const QString& folder);

    // FileName = path, Extension = ".EXT" upper-cased from the last dot (empty
    // when none), then FindPlugin. True when a plug-in accepts the file.
    bool SetFile(const QString& path);
    // Asks each plug-in in load order (IsSupported with a read-only file
    // descriptor of FileName) until one accepts; that one becomes Current.
    // False, Current unchanged, when the file cannot be opened or none
    // accepts.
    bool FindPlugin();

    // Frees Picture, then reads FileName into it: ".BMP", ".ICO", ".WMF" and
    // ".EMF" files through the image library's own decoders first, then
    // (every file) through Current. True when Picture holds the picture, as
    // Format_BGR888. Everything a plug-in hands back is checked against the
    // rules of imaging/SpiPlugin.h; a picture outside them, or over
    // kMaxDibSide / kMaxDibBytes, is false.
    bool Load();
    void ReleasePicture();

    // SetFile, Load (the plug-in only when one accepted this file), the
    // picture as a 24-bit block, ReleasePicture. Null when nothing reads it.
    ImageHandle LoadImage(const QString& path);

    const std::vector<TSpi_plugin>& Plugins() const { return plugins_; }

    QString Folder;
    QString FileName;
    QString Extension;
    const TSpi_plugin* Current = nullptr;
    QImage Picture;

private:
    bool LoadPicture(bool askPlugin);
    bool LoadOwn();
    bool LoadFromPlugin(const TSpi_plugin& plugin);

    std::vector<TSpi_plugin> plugins_;
};

// The program's loader, created empty on first use; the main window loads
// the plug-ins of the working directory into it once.
TSpiload& AppSpiLoader();
