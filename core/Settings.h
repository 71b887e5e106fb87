// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings store: 22 integer values and the text LastSavePath,
// each a text value of the per-user store QSettings("Osk", "Tolvane") (the
// registry key HKCU\Software\Osk\Tolvane; on Linux the file
// ~/.config/Osk/Tolvane.conf, values at its top level).

#include <QString>

#include <array>
#include <cstdint>

class QSettings;

// The settings record: one field per integer value, named as the value. All 0
// before the first LoadSettings.
struct Settings {
    int32_t KMode = 0;
    int32_t KFX = 0;
    int32_t KFY = 0;
    int32_t JpegMode = 0;
    int32_t ResizeModeA = 0;
    int32_t ResizeModeT = 0;
    int32_t AutoMode = 0;
    int32_t WhiteMode = 0;
    int32_t SaveFormat = 0;
    int32_t ViewerToolBarX = 0;
    int32_t ViewerToolBarY = 0;
    int32_t CaptureMode = 0;
    int32_t EditToolBarX = 0;
    int32_t EditToolBarY = 0;
    int32_t ColorPreviewX = 0;
    int32_t ColorPreviewY = 0;
    int32_t ScanMode = 0;
    int32_t ScanTop = 0;
    int32_t ScanBottom = 0;
    int32_t ScanLeft = 0;
    int32_t ScanRight = 0;
    int32_t ScanReso = 0;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// One integer value of the store: its name, its default and its field.
struct SettingDef {
    const char* name;
    int32_t defaultValue;
    int32_t Settings::*member;
};

constexpr int kSettingCount = 22;

// The 22 values in the order in which they are loaded and saved.
inline constexpr std::array<SettingDef, kSettingCount> kSettingDefs{{
    {"KMode", 0, &Settings::KMode},
    {"KFX", 640, &Settings::KFX},
    {"KFY", 480, &Settings::KFY},
    {"JpegMode", 1, &Settings::JpegMode},
    {"ResizeModeA", 0, &Settings::ResizeModeA},
    {"ResizeModeT", 0, &Settings::ResizeModeT},
    {"AutoMode", 0, &Settings::AutoMode},
    {"WhiteMode", 0, &Settings::WhiteMode},
    {"SaveFormat", 0, &Settings::SaveFormat},
    {"ViewerToolBarX", 0, &Settings::ViewerToolBarX},
    {"ViewerToolBarY", 0, &Settings::ViewerToolBarY},
    {"CaptureMode", 0, &Settings::CaptureMode},
    {"EditToolBarX", 0, &Settings::EditToolBarX},
    {"EditToolBarY", 0, &Settings::EditToolBarY},
    {"ColorPreviewX", -1, &Settings::ColorPreviewX},
    {"ColorPreviewY", -1, &Settings::ColorPreviewY},
    {"ScanMode", 0, &Settings::ScanMode},
    {"ScanTop", 0, &Settings::ScanTop},
    {"ScanBottom", 296, &Settings::ScanBottom},
    {"ScanLeft", 0, &Settings::ScanLeft},
    {"ScanRight", 210, &Settings::ScanRight},
    {"ScanReso", 150, &Settings::ScanReso},
}};

// Whether new pages get their text recognised: the value "Recognition",
// "1" (the default) or "0", kept beside the values above. On only takes
// effect where the language data is installed.
inline constexpr char kRecognitionName[] = "Recognition";
bool ReadRecognitionSetting(QSettings& store);
// The same with nothing written back to the store (as ReadSettings reads).
bool PeekRecognitionSetting(QSettings& store);
void WriteRecognitionSetting(QSettings& store, bool on);

// The name of the text value holding the viewer's last save folder.
inline constexpr char kLastSavePathName[] = "LastSavePath";

// A record holding every default.
Settings DefaultSettings();

// Loads the 22 values in order: each is read as text; an empty or missing
// value gets its default, which is written back at once; any other text is
// read with ParseDecimal (no leading digits → 0). When the store is not usable
// (status not NoError), the record stays as it is.
void LoadSettings(Settings& settings, QSettings& store);

// Reads the 22 values by the same rules as LoadSettings (empty or missing →
// the default; other text → ParseDecimal) but writes nothing: the store, and
// the file behind it, stay exactly as they were. For tools that only look at
// the user's settings. When the store is not usable, the record stays as it is.
void ReadSettings(Settings& settings, QSettings& store);

// Writes the 22 values in order as decimal text, then syncs the store.
void SaveSettings(const Settings& settings, QSettings& store);

// The named text value when it is not empty (at most 2047 characters); when it
// is empty or missing, `defaultText` is written under the name and returned.
QString ReadSettingText(QSettings& store, const QString& name, const QString& defaultText);

// Writes the text under the name and syncs the store.
void WriteSettingText(QSettings& store, const QString& name, const QString& text);

// The program's store, QSettings("Osk", "Tolvane") in the native format,
// created on first use.
QSettings& AppSettingsStore();

// The single process-wide settings record.
Settings& AppSettings();

// The JPEG quality of page images and thumbnails for a JpegMode setting:
// 0 → 90 (quality first), 1 → 80 (balance), 2 → 50 (size first); any other
// value → 80.
int JpegQualityFor(int32_t jpegMode);
