// SPDX-License-Identifier: GPL-3.0-or-later
// File import from the main window: the open dialog, the readers, the
// processing window, the editor in manual mode, the page limit, and the new
// page filed with its files, its list line and the grid on the last four
// pages; failures leave nothing behind.

#include "tests/ui/UiTestMain.h"

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "widgets/Controls.h"

#include <QAbstractButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace {

}  // namespace

class IntakeTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> root_;
    ScriptedPrompt prompt_;
    std::unique_ptr<TForm1> form_;

    QString Cat(const QString& rel) const { return root_->path() + QStringLiteral("/Cat/") + rel; }
    QString Input(const QString& name) const { return root_->path() + QStringLiteral("/in/") + name; }

    void Click(const char* name)
    {
        auto* b = form_->findChild<QToolButton*>(QLatin1String(name));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    // A category with `pages` pages and a list header of `header`.
    void MakeCat(int pages, int header)
    {
        QVERIFY(MakeCategory(root_->path(), QStringLiteral("Cat")));
        QByteArray list = QByteArray::number(header).rightJustified(8, '0') + "\r\n";
        for (int i = 1; i <= pages; ++i)
            list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")), list));
    }

    void Open()
    {
        form_ = std::make_unique<TForm1>(prompt_, root_->path());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QCOMPARE(form_->CurrentFolder, root_->path() + QStringLiteral("/Cat"));
    }

    void Choose(const QString& path)
    {
        prompt_.openFileHandlers.push_back([path](const OpenFileRequest& r) {
            // The four filters in order, the first selected.
            if (r.filters.size() != 4 || r.filters[3].caption != QStringLiteral("TIFF(*,tif)")
                || !r.filters[3].patterns.split(u';').contains(QStringLiteral("*.tif")) || r.selectedFilter != 0)
                return QString();
            return path;
        });
    }

    // The files of the category's three folders.
    QStringList PageFiles() const
    {
        QStringList all;
        for (const char* sub : {"Image", "Thumb", "Text"})
            for (const QString& n : QDir(Cat(QLatin1String(sub))).entryList(QDir::Files | QDir::Hidden))
                all << QLatin1String(sub) + u'/' + n;
        return all;
    }

private slots:
    void init()
    {
        root_ = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(root_->path() + QStringLiteral("/in")));
        QVERIFY(ImgKitJpegFileSave(Input(QStringLiteral("scan.jpg")), CreateDib(1200, 1600, 3), 90));
        QVERIFY(WriteTestFile(Input(QStringLiteral("notes.jpg")), "not an image\n"));
        prompt_.Clear();
        AppSettings() = DefaultSettings();
        AppSettingsStore().clear();
    }

    void cleanup()
    {
        form_.reset();
        QVERIFY2(prompt_.unanswered == 0, "a question was asked that the test did not expect");
    }

    void anImportedFileBecomesTheLastPageWithTheProcessingWindowShown()
    {
        MakeCat(5, 41);
        Open();
        QStringList seen;
        connect(form_.get(), &TForm1::ProcessingWindowShown, this, [&](QWidget* w) {
            seen << w->windowTitle() << QString::number(w->width()) + u'x' + QString::number(w->height())
                 << (w->isVisible() ? QStringLiteral("visible") : QStringLiteral("hidden"));
        });
        Choose(Input(QStringLiteral("scan.jpg")));
        const QString before = QDir::currentPath();
        Click("Menu08");
        QCOMPARE(QDir::currentPath(), before);
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(seen, (QStringList{QStringLiteral("Tolvane 画像処理"), QStringLiteral("410x209"),
                                    QStringLiteral("visible")}));
        QCOMPARE(form_->Pages.lines.first(), QStringLiteral("00000042"));
        QCOMPARE(form_->Pages.lines.last(), QStringLiteral("00000042.jpg"));
        QVERIFY(ReadBytes(Cat(QStringLiteral("FileList.txt"))).endsWith("00000005.jpg\r\n00000042.jpg\r\n"));
        QCOMPARE(SizeOf(Cat(QStringLiteral("Image/00000042.jpg"))).width(), 1024);  // the default box
        const QSize thumb = SizeOf(Cat(QStringLiteral("Thumb/00000042.jpg")));
        QVERIFY(thumb.width() <= 160 && thumb.height() <= 200 && thumb.width() > 0);
        QCOMPARE(ReadBytes(Cat(QStringLiteral("Text/00000042.txt"))), QByteArray("\r\n"));
        QCOMPARE(form_->Grid.P, 6);
        QCOMPARE(form_->Grid.K, 5);
        QCOMPARE(form_->Grid.T, 2);
        QCOMPARE(form_->findChild<QLabel*>(QStringLiteral("StaticText6"))->text(), QStringLiteral("6"));
        QVERIFY(!form_->SlotAt(3).image->Picture().isNull());
    }

    void theSaveFormatNamesTheEntryAndTheThumbnailStaysJpeg()
    {
        MakeCat(0, 0);
        AppSettingsStore().setValue(QStringLiteral("SaveFormat"), QStringLiteral("1"));
        Open();
        Choose(Input(QStringLiteral("scan.jpg")));
        Click("Menu08");
        QCOMPARE(form_->Pages.lines, (QStringList{QStringLiteral("00000001"), QStringLiteral("00000001.bmp")}));
        QVERIFY(ReadBytes(Cat(QStringLiteral("Image/00000001.bmp"))).startsWith("BM"));
        QVERIFY(QFileInfo::exists(Cat(QStringLiteral("Thumb/00000001.jpg"))));
    }

    void cancelUnreadableAndThePluginFallback()
    {
        MakeCat(1, 1);
        Open();
        Click("Menu08");  // cancelled: nothing
        QCOMPARE(prompt_.unanswered, 1);
        prompt_.unanswered = 0;
        Choose(Input(QStringLiteral("notes.jpg")));
        Click("Menu08");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("読込めないデータ形式です")});
        QCOMPARE(prompt_.shown.back().caption, QString());
        QCOMPARE(PageFiles(), QStringList());
        QCOMPARE(form_->Pages.lines.first(), QStringLiteral("00000001"));
        // A reader behind the image layer gives the page as if the layer had.
        QString asked;
        form_->PluginLoad = [&](const QString& path) {
            asked = path;
            return CreateDib(300, 200, 2);  // 8-bit grey: brought to 24 bits
        };
        prompt_.Clear();
        Choose(Input(QStringLiteral("notes.jpg")));
        Click("Menu08");
        QCOMPARE(asked, Input(QStringLiteral("notes.jpg")));
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(form_->Pages.lines.last(), QStringLiteral("00000002.jpg"));
    }

    // A Susie plug-in in the archive root (the program's folder) reads what
    // the image layer cannot, whatever folder the program was started from;
    // a damaged file it accepts but cannot decode is "読込めないデータ形式です"
    // and leaves nothing behind.
    void aPluginOfTheArchiveRootReadsWhatTheLayerCannot()
    {
        MakeCat(0, 0);
        const QString work = root_->path();
        QTemporaryDir elsewhere;
        const QString started = QDir::currentPath();
        QDir::setCurrent(elsewhere.path());
        auto back = qScopeGuard([&] { QDir::setCurrent(started); });
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_TEST_SPI_DIR "/d24.spi"), work + QStringLiteral("/d24.SPI")));
        QVERIFY(WriteTestFile(Input(QStringLiteral("photo.xyz")), "TSPI:d24\n"));
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_TEST_SPI_DIR "/picfail.spi"), work + QStringLiteral("/picfail.spi")));
        QVERIFY(WriteTestFile(Input(QStringLiteral("broken.xyz")), "TSPI:picfail\n"));
        form_ = std::make_unique<TForm1>(prompt_, root_->path());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        Choose(Input(QStringLiteral("photo.xyz")));
        Click("Menu08");
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(form_->Pages.lines, (QStringList{QStringLiteral("00000001"), QStringLiteral("00000001.jpg")}));
        QVERIFY(SizeOf(Cat(QStringLiteral("Image/00000001.jpg"))).width() > 0);
        // one that no plug-in accepts, and one whose plug-in fails to decode it
        for (const char* name : {"notes.jpg", "broken.xyz"}) {
            prompt_.Clear();
            Choose(Input(QLatin1String(name)));
            Click("Menu08");
            QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("読込めないデータ形式です")});
            QCOMPARE(form_->Pages.Count(), 1);
            QCOMPARE(PageFiles().size(), qsizetype(3));
        }
    }

    void aFullCategoryRefusesBeforeAnyDialog()
    {
        MakeCat(999, 999);
        Open();
        Click("Menu08");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("1000枚を超えるイメージは保存できません")});
        QCOMPARE(prompt_.shown.back().icon, DlgIcon::Error);
        for (const auto& s : prompt_.shown)
            QVERIFY(s.kind != ScriptedPrompt::Shown::OpenFile);
        QCOMPARE(PageFiles(), QStringList());
    }

    void manualModeGoesThroughTheEditor()
    {
        MakeCat(2, 7);
        AppSettingsStore().setValue(QStringLiteral("CaptureMode"), QStringLiteral("1"));
        Open();
        bool processingShown = false;
        connect(form_.get(), &TForm1::ProcessingWindowShown, this, [&] { processingShown = true; });
        // Left without saving: nothing taken, nothing written.
        prompt_.modalHandlers.push_back([](QDialog& d) {
            d.show();
            d.findChild<QAbstractButton*>(QStringLiteral("SpeedButton10"))->click();  // discard
            return d.result();
        });
        Choose(Input(QStringLiteral("scan.jpg")));
        Click("Menu08");
        QCOMPARE(PageFiles(), QStringList());
        QCOMPARE(form_->Pages.lines.first(), QStringLiteral("00000007"));
        // Saved: the edited picture unscaled.
        prompt_.modalHandlers.push_back([](QDialog& d) {
            d.show();
            d.findChild<QAbstractButton*>(QStringLiteral("SpeedButton11"))->click();  // keep
            return d.result();
        });
        Choose(Input(QStringLiteral("scan.jpg")));
        Click("Menu08");
        QVERIFY(!processingShown);
        QCOMPARE(form_->Pages.lines.last(), QStringLiteral("00000008.jpg"));
        QCOMPARE(SizeOf(Cat(QStringLiteral("Image/00000008.jpg"))), QSize(1200, 1600));
        QCOMPARE(form_->Grid.K, 2);
    }

    void aFailedWriteLeavesNoOrphanAndSaysWhy()
    {
        MakeCat(3, 3);
        Open();
        QVERIFY(QDir(Cat(QStringLiteral("Thumb"))).removeRecursively());
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Thumb")), "in the way"));
        const QByteArray list = ReadBytes(Cat(QStringLiteral("FileList.txt")));
        Choose(Input(QStringLiteral("scan.jpg")));
        Click("Menu08");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("ファイルを保存できません")});
        QVERIFY(!prompt_.shown.back().detail.isEmpty());
        QCOMPARE(QDir(Cat(QStringLiteral("Image"))).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(ReadBytes(Cat(QStringLiteral("FileList.txt"))), list);
        QCOMPARE(form_->Pages.Count(), 3);
        QCOMPARE(form_->Grid.P, 3);
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible() || w->windowTitle() != QStringLiteral("Tolvane 画像処理"),
                     "the processing window is closed");
    }
};

TOLVANE_UI_TEST(IntakeTest);

#include "tst_Intake.moc"
