// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Settings.h"

#include "CoreTestUtil.h"

#include <QSettings>

#include <memory>

const QString& IsolatedHomePath();  // TestEnvironment.cpp

using coretest::ScratchTest;

namespace {

const QStringList kNames{"KMode",        "KFX",          "KFY",           "JpegMode",      "ResizeModeA", "ResizeModeT",
                         "AutoMode",     "WhiteMode",    "SaveFormat",    "ViewerToolBarX", "ViewerToolBarY", "CaptureMode",
                         "EditToolBarX", "EditToolBarY", "ColorPreviewX", "ColorPreviewY", "ScanMode",    "ScanTop",
                         "ScanBottom",   "ScanLeft",     "ScanRight",     "ScanReso"};

class SettingsTest : public ScratchTest {
protected:
    QString IniPath() const { return P("Tolvane.ini"); }

    // A new QSettings on the test file, as a new process would open it.
    std::unique_ptr<QSettings> Fresh() const { return std::make_unique<QSettings>(IniPath(), QSettings::IniFormat); }

    // The stored text of a value, read by a fresh instance; "<missing>" if absent.
    QString Stored(const QString& name) const
    {
        const auto store = Fresh();
        if (!store->contains(name))
            return QStringLiteral("<missing>");
        return store->value(name).toString();
    }

    void WriteIni(const QByteArray& body) const { Put("Tolvane.ini", "[General]\n" + body); }

    Settings LoadFresh() const
    {
        Settings settings;
        const auto store = Fresh();
        LoadSettings(settings, *store);
        return settings;
    }
};

TEST_F(SettingsTest, RecordIsZeroBeforeFirstLoad)
{
    const Settings settings;
    for (const SettingDef& def : kSettingDefs)
        EXPECT_EQ(settings.*def.member, 0) << def.name;
    EXPECT_EQ(AppSettings(), Settings{});
}

TEST_F(SettingsTest, TableHoldsTheTwentyTwoValuesInOrder)
{
    ASSERT_EQ(int(kSettingDefs.size()), 22);
    QStringList names;
    for (const SettingDef& def : kSettingDefs)
        names << QString::fromLatin1(def.name);
    EXPECT_EQ(names, kNames);

    // Each entry names its own field.
    const Settings defaults = DefaultSettings();
    EXPECT_EQ(defaults.KMode, 0);
    EXPECT_EQ(defaults.KFX, 640);
    EXPECT_EQ(defaults.KFY, 480);
    EXPECT_EQ(defaults.JpegMode, 1);
    EXPECT_EQ(defaults.ColorPreviewX, -1);
    EXPECT_EQ(defaults.ColorPreviewY, -1);
    EXPECT_EQ(defaults.ScanBottom, 296);
    EXPECT_EQ(defaults.ScanRight, 210);
    EXPECT_EQ(defaults.ScanReso, 150);
    for (int i = 0; i < kSettingCount; ++i) {
        Settings marked;
        marked.*kSettingDefs[i].member = 1000 + i;
        int hits = 0;
        for (int j = 0; j < kSettingCount; ++j)
            hits += marked.*kSettingDefs[j].member == 1000 + i;
        EXPECT_EQ(hits, 1) << kSettingDefs[i].name;
    }
    Settings byField;
    byField.ScanReso = 7;
    EXPECT_EQ(byField.*kSettingDefs[21].member, 7);
    byField.ViewerToolBarY = 8;
    EXPECT_EQ(byField.*kSettingDefs[10].member, 8);
}

TEST_F(SettingsTest, FirstRunWritesEveryDefault)
{
    const Settings settings = LoadFresh();
    EXPECT_EQ(settings, DefaultSettings());

    const QMap<QString, QString> expected{
        {"KFX", "640"},          {"KFY", "480"},           {"JpegMode", "1"},   {"ColorPreviewX", "-1"},
        {"ColorPreviewY", "-1"}, {"ScanBottom", "296"},    {"ScanRight", "210"}, {"ScanReso", "150"}};
    const auto store = Fresh();
    EXPECT_EQ(store->allKeys().size(), 22);
    for (const QString& name : kNames) {
        ASSERT_TRUE(store->contains(name)) << qPrintable(name);
        const QVariant value = store->value(name);
        EXPECT_EQ(value.typeId(), QMetaType::QString) << qPrintable(name);
        EXPECT_EQ(value.toString(), expected.value(name, "0")) << qPrintable(name);
    }
    // Values sit at the top level of the file.
    const QByteArray file = Get("Tolvane.ini").value_or(QByteArray());
    EXPECT_TRUE(file.startsWith("[General]\n")) << file.constData();
    EXPECT_TRUE(file.contains("\nKFX=640\n")) << file.constData();
    EXPECT_TRUE(file.contains("\nColorPreviewX=-1\n")) << file.constData();
}

TEST_F(SettingsTest, LettersOnlyLoadAsZeroAndStay)
{
    WriteIni("KFX=abc\nKFY=x12\n");
    const Settings settings = LoadFresh();
    EXPECT_EQ(settings.KFX, 0);
    EXPECT_EQ(settings.KFY, 0);
    EXPECT_EQ(Stored("KFX"), "abc");  // not rewritten
    EXPECT_EQ(Stored("KFY"), "x12");
}

TEST_F(SettingsTest, EmptyValueLoadsDefaultAndIsRewritten)
{
    WriteIni("KFX=\nScanReso=\"\"\nKMode=3\n");
    const Settings settings = LoadFresh();
    EXPECT_EQ(settings.KFX, 640);
    EXPECT_EQ(settings.ScanReso, 150);
    EXPECT_EQ(settings.KMode, 3);
    EXPECT_EQ(Stored("KFX"), "640");
    EXPECT_EQ(Stored("ScanReso"), "150");
    EXPECT_EQ(Stored("KMode"), "3");
}

TEST_F(SettingsTest, DecimalTextForms)
{
    WriteIni("ColorPreviewX=-25\nColorPreviewY=-0\nEditToolBarX=\"  -3\"\nScanTop=+7\nKFY=12px\n"
             "KFX=0000800\nScanLeft=99999999999\n");
    const Settings settings = LoadFresh();
    EXPECT_EQ(settings.ColorPreviewX, -25);
    EXPECT_EQ(settings.ColorPreviewY, 0);
    EXPECT_EQ(settings.EditToolBarX, -3);
    EXPECT_EQ(settings.ScanTop, 7);
    EXPECT_EQ(settings.KFY, 12);
    EXPECT_EQ(settings.KFX, 800);
    EXPECT_EQ(settings.ScanLeft, 2147483647);
}

TEST_F(SettingsTest, ValuesWrittenByAnotherProcess)
{
    {
        // Another program writes numbers (not text) and text.
        QSettings other(IniPath(), QSettings::IniFormat);
        other.setValue("KFX", 1024);
        other.setValue("KFY", QStringLiteral("768"));
        other.setValue("JpegMode", 2.0);
        other.setValue("ColorPreviewX", -40);
        other.setValue("CaptureMode", true);
        other.sync();
        ASSERT_EQ(other.status(), QSettings::NoError);
    }
    const Settings settings = LoadFresh();
    EXPECT_EQ(settings.KFX, 1024);
    EXPECT_EQ(settings.KFY, 768);
    EXPECT_EQ(settings.JpegMode, 2);
    EXPECT_EQ(settings.ColorPreviewX, -40);
    EXPECT_EQ(settings.CaptureMode, 0);  // "true" holds no digits
    EXPECT_EQ(settings.ScanReso, 150);
}

TEST_F(SettingsTest, HandWrittenFileWithCommaValue)
{
    // An INI value with a comma comes back as a string list.
    WriteIni("KFX=800, 600\nKFY=abc, 1\n");
    const Settings settings = LoadFresh();
    EXPECT_EQ(settings.KFX, 800);
    EXPECT_EQ(settings.KFY, 0);
}

TEST_F(SettingsTest, ChangeByAnotherInstanceSeenByFreshStore)
{
    Settings mine = LoadFresh();
    {
        QSettings other(IniPath(), QSettings::IniFormat);
        other.setValue("SaveFormat", "2");
    }
    const auto store = Fresh();
    LoadSettings(mine, *store);
    EXPECT_EQ(mine.SaveFormat, 2);
}

TEST_F(SettingsTest, UnusableStoreLeavesRecordAlone)
{
    Settings settings = DefaultSettings();
    settings.KFX = 1234;
    settings.ColorPreviewX = 55;
    const Settings before = settings;

    MakeDir("folder.ini");  // a folder where the file should be
    {
        QSettings store(P("folder.ini"), QSettings::IniFormat);
        ASSERT_NE(store.status(), QSettings::NoError);
        LoadSettings(settings, store);
    }
    EXPECT_EQ(settings, before);

    Put("broken.ini", "[General\nKFX=1\n");  // a malformed file
    {
        QSettings store(P("broken.ini"), QSettings::IniFormat);
        ASSERT_NE(store.status(), QSettings::NoError);
        LoadSettings(settings, store);
    }
    EXPECT_EQ(settings, before);
}

TEST_F(SettingsTest, SaveWritesDecimalTextAndLoadsBack)
{
    Settings settings = DefaultSettings();
    settings.KMode = 7;
    settings.KFX = 1240;
    settings.ViewerToolBarX = -120;
    settings.ViewerToolBarY = 33;
    settings.EditToolBarY = 2147483647;
    settings.ColorPreviewY = -2147483647 - 1;
    settings.ScanLeft = 0;
    {
        const auto store = Fresh();
        SaveSettings(settings, *store);
        EXPECT_EQ(store->status(), QSettings::NoError);
    }
    EXPECT_EQ(Stored("KMode"), "7");
    EXPECT_EQ(Stored("KFX"), "1240");
    EXPECT_EQ(Stored("ViewerToolBarX"), "-120");
    EXPECT_EQ(Stored("ViewerToolBarY"), "33");
    EXPECT_EQ(Stored("EditToolBarY"), "2147483647");
    EXPECT_EQ(Stored("ColorPreviewY"), "-2147483648");
    EXPECT_EQ(Stored("ScanLeft"), "0");
    EXPECT_EQ(Stored("ColorPreviewX"), "-1");
    EXPECT_EQ(Fresh()->allKeys().size(), 22);

    EXPECT_EQ(LoadFresh(), settings);
}

TEST_F(SettingsTest, ToggleModeTwiceWritesWholeSetTwice)
{
    Settings settings = LoadFresh();
    const int32_t start = settings.CaptureMode;
    for (int i = 0; i < 2; ++i) {
        settings.CaptureMode = settings.CaptureMode == 0 ? 1 : 0;
        const auto store = Fresh();
        SaveSettings(settings, *store);
        EXPECT_EQ(Stored("CaptureMode"), QString::number(settings.CaptureMode));
        EXPECT_EQ(Fresh()->allKeys().size(), 22);
    }
    EXPECT_EQ(settings.CaptureMode, start);
    EXPECT_EQ(LoadFresh(), DefaultSettings());
}

TEST_F(SettingsTest, LastSavePathOnFreshStoreIsEmptyAndLeftEmpty)
{
    {
        const auto store = Fresh();
        EXPECT_EQ(ReadSettingText(*store, "LastSavePath", QString()), QString());
    }
    const auto store = Fresh();
    EXPECT_TRUE(store->contains("LastSavePath"));
    EXPECT_EQ(store->value("LastSavePath").toString(), QString());
    EXPECT_TRUE(Get("Tolvane.ini").value_or(QByteArray()).contains("LastSavePath="));
}

TEST_F(SettingsTest, ReadSettingTextReturnsStoredText)
{
    const QString path = QString::fromUtf8("/home/user/書類/請求書");
    {
        const auto store = Fresh();
        WriteSettingText(*store, kLastSavePathName, path);
    }
    const auto store = Fresh();
    EXPECT_EQ(ReadSettingText(*store, kLastSavePathName, "unused"), path);
}

TEST_F(SettingsTest, ReadSettingTextWritesNonEmptyDefault)
{
    {
        const auto store = Fresh();
        EXPECT_EQ(ReadSettingText(*store, "Other", "def"), "def");
    }
    EXPECT_EQ(Stored("Other"), "def");
}

TEST_F(SettingsTest, ReadSettingTextHoldsAtMost2047Characters)
{
    const QString longText(3000, u'x');
    {
        const auto store = Fresh();
        WriteSettingText(*store, "LastSavePath", longText);
    }
    const auto store = Fresh();
    EXPECT_EQ(ReadSettingText(*store, "LastSavePath", QString()), QString(2047, u'x'));
}

TEST_F(SettingsTest, AppStoreIsOskTolvaneAwayFromRealConfig)
{
    QSettings& store = AppSettingsStore();
    EXPECT_EQ(&store, &AppSettingsStore());
    EXPECT_EQ(store.organizationName(), "Osk");
    EXPECT_EQ(store.applicationName(), "Tolvane");
    EXPECT_EQ(store.format(), QSettings::NativeFormat);
    EXPECT_EQ(store.scope(), QSettings::UserScope);
    EXPECT_TRUE(store.fileName().endsWith("/Osk/Tolvane.conf")) << qPrintable(store.fileName());
    ASSERT_FALSE(IsolatedHomePath().isEmpty());
    EXPECT_TRUE(store.fileName().startsWith(IsolatedHomePath() + u'/')) << qPrintable(store.fileName());
    EXPECT_EQ(&AppSettings(), &AppSettings());
}

}  // namespace

TEST_F(SettingsTest, RecognitionIsOnUnlessTurnedOff)
{
    const struct {
        const char* stored;  // nullptr: not there
        bool on;
    } cases[] = {{nullptr, true}, {"1", true}, {"0", false}, {" 0 ", false}, {"on, please", true}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "missing");
        // A file of its own each: QSettings keeps a file it read while its
        // size and time look the same.
        const QString name = QStringLiteral("case%1.ini").arg(++n);
        Put(name, "[General]\n" + (c.stored ? QByteArray("Recognition=") + c.stored + "\n" : QByteArray()));
        const std::optional<QByteArray> before = Get(name);
        QSettings store(P(name), QSettings::IniFormat);
        EXPECT_EQ(PeekRecognitionSetting(store), c.on);
        store.sync();
        EXPECT_EQ(Get(name), before) << "peeking writes nothing";
        EXPECT_EQ(ReadRecognitionSetting(store), c.on);
    }
    WriteRecognitionSetting(*Fresh(), false);
    EXPECT_EQ(Stored("Recognition"), QStringLiteral("0"));
    EXPECT_FALSE(ReadRecognitionSetting(*Fresh()));
}
