// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Settings.h"

#include "core/Decimal.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace {

constexpr qsizetype kMaxSettingText = 2047;

// A value as text, whatever type the store hands back (a value written by
// another program may come back as a number, bytes or, from an INI file with
// a comma in it, a string list).
QString ValueText(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

bool Usable(const QSettings& store)
{
    return store.status() == QSettings::NoError;
}

// The stored number of one value, or nullopt when the value is empty or
// missing (the caller then takes the default).
std::optional<int32_t> StoredNumber(QSettings& store, const QString& name)
{
    const QString text = ValueText(store.value(name));
    if (text.isEmpty())
        return std::nullopt;
    return ParseDecimal(text);
}

}  // namespace

Settings DefaultSettings()
{
    Settings settings;
    for (const SettingDef& def : kSettingDefs)
        settings.*def.member = def.defaultValue;
    return settings;
}

void LoadSettings(Settings& settings, QSettings& store)
{
    if (!Usable(store))
        return;
    bool wroteDefault = false;
    for (const SettingDef& def : kSettingDefs) {
        const QString name = QString::fromLatin1(def.name);
        if (const std::optional<int32_t> number = StoredNumber(store, name)) {
            settings.*def.member = *number;
        } else {
            store.setValue(name, QString::number(def.defaultValue));
            settings.*def.member = def.defaultValue;
            wroteDefault = true;
        }
    }
    if (wroteDefault)
        store.sync();
}

void ReadSettings(Settings& settings, QSettings& store)
{
    if (!Usable(store))
        return;
    for (const SettingDef& def : kSettingDefs)
        settings.*def.member = StoredNumber(store, QString::fromLatin1(def.name)).value_or(def.defaultValue);
}

void SaveSettings(const Settings& settings, QSettings& store)
{
    for (const SettingDef& def : kSettingDefs)
        store.setValue(QString::fromLatin1(def.name), QString::number(settings.*def.member));
    store.sync();
}

QString ReadSettingText(QSettings& store, const QString& name, const QString& defaultText)
{
    const QString text = ValueText(store.value(name));
    if (!text.isEmpty())
        return text.left(kMaxSettingText);
    store.setValue(name, defaultText);
    store.sync();
    return defaultText.left(kMaxSettingText);
}

void WriteSettingText(QSettings& store, const QString& name, const QString& text)
{
    store.setValue(name, text);
    store.sync();
}

bool ReadRecognitionSetting(QSettings& store)
{
    return ReadSettingText(store, QLatin1String(kRecognitionName), QStringLiteral("1")).trimmed() != u"0";
}

bool PeekRecognitionSetting(QSettings& store)
{
    return ValueText(store.value(QLatin1String(kRecognitionName))).left(kMaxSettingText).trimmed() != u"0";
}

void WriteRecognitionSetting(QSettings& store, bool on)
{
    WriteSettingText(store, QLatin1String(kRecognitionName), on ? QStringLiteral("1") : QStringLiteral("0"));
}

QSettings& AppSettingsStore()
{
    static QSettings store(QStringLiteral("Osk"), QStringLiteral("Tolvane"));
    return store;
}

Settings& AppSettings()
{
    static Settings settings;
    return settings;
}

int JpegQualityFor(int32_t jpegMode)
{
    switch (jpegMode) {
    case 0: return 90;
    case 2: return 50;
    default: return 80;
    }
}
