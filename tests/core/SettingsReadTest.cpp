// SPDX-License-Identifier: GPL-3.0-or-later
// ReadSettings: the values as LoadSettings would give them, with nothing
// written back to the store.

#include "core/Settings.h"

#include "CoreTestUtil.h"

#include <QFileInfo>
#include <QSettings>

#include <memory>

using coretest::ScratchTest;

namespace {

class SettingsReadTest : public ScratchTest {
protected:
    QString IniPath() const { return P("Tolvane.ini"); }
    std::unique_ptr<QSettings> Fresh() const { return std::make_unique<QSettings>(IniPath(), QSettings::IniFormat); }
    void WriteIni(const QByteArray& body) const { Put("Tolvane.ini", "[General]\n" + body); }

    // ReadSettings on a fresh store, the store then destroyed (as a process
    // ending would), starting from `start`.
    Settings ReadFresh(Settings start = Settings{}) const
    {
        const auto store = Fresh();
        ReadSettings(start, *store);
        return start;
    }

    // LoadSettings on a scratch copy of the same file.
    Settings LoadCopy() const
    {
        const QString copy = P("copy.ini");
        QFile::remove(copy);
        if (QFileInfo::exists(IniPath())) {
            EXPECT_TRUE(QFile::copy(IniPath(), copy));
        }
        Settings settings;
        QSettings store(copy, QSettings::IniFormat);
        LoadSettings(settings, store);
        return settings;
    }
};

TEST_F(SettingsReadTest, MissingStoreGivesDefaultsAndCreatesNothing)
{
    EXPECT_EQ(ReadFresh(), DefaultSettings());
    EXPECT_FALSE(Exists("Tolvane.ini"));
    EXPECT_EQ(Entries(""), QStringList());
}

TEST_F(SettingsReadTest, SameValuesAsLoadSettingsAndFileUntouched)
{
    const QByteArray body = "KMode=5\nKFX=abc\nKFY=\nJpegMode=\" 2\"\nColorPreviewX=-25\nScanTop=+7\n"
                            "ScanLeft=99999999999\nResizeModeA=1x\nAutoMode=800, 600\nUnrelated=keep\n";
    WriteIni(body);
    const QByteArray before = Get("Tolvane.ini").value();
    const QDateTime modified = QFileInfo(IniPath()).lastModified();

    const Settings read = ReadFresh();
    EXPECT_EQ(read.KMode, 5);
    EXPECT_EQ(read.KFX, 0);        // letters only → 0, not the default
    EXPECT_EQ(read.KFY, 480);      // empty → default
    EXPECT_EQ(read.JpegMode, 2);
    EXPECT_EQ(read.ColorPreviewX, -25);
    EXPECT_EQ(read.ColorPreviewY, -1);  // missing → default
    EXPECT_EQ(read.ScanTop, 7);
    EXPECT_EQ(read.ScanLeft, 2147483647);
    EXPECT_EQ(read.ResizeModeA, 1);
    EXPECT_EQ(read.AutoMode, 800);
    EXPECT_EQ(read.ScanReso, 150);
    EXPECT_EQ(read, LoadCopy());

    EXPECT_EQ(Get("Tolvane.ini").value(), before);
    EXPECT_EQ(QFileInfo(IniPath()).lastModified(), modified);
    EXPECT_EQ(Entries(""), QStringList({"Tolvane.ini", "copy.ini"}));
    // LoadSettings on the copy did write its defaults back: the two differ
    // only in that.
    EXPECT_NE(Get("copy.ini").value(), before);
}

TEST_F(SettingsReadTest, EveryFieldIsReadOverWhateverTheRecordHeld)
{
    Settings start;
    for (const SettingDef& def : kSettingDefs)
        start.*def.member = 12345;
    WriteIni("ScanReso=300\n");
    const Settings read = ReadFresh(start);
    Settings expected = DefaultSettings();
    expected.ScanReso = 300;
    EXPECT_EQ(read, expected);
}

TEST_F(SettingsReadTest, UnusableStoreLeavesRecordAlone)
{
    Settings settings = DefaultSettings();
    settings.KMode = 3;
    const Settings before = settings;
    Put("broken.ini", "[General\nKMode=1\n");
    QSettings store(P("broken.ini"), QSettings::IniFormat);
    ASSERT_NE(store.status(), QSettings::NoError);
    ReadSettings(settings, store);
    EXPECT_EQ(settings, before);
}

}  // namespace
