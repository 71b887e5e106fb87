// SPDX-License-Identifier: GPL-3.0-or-later
// File import from the main window: the open dialog, the readers, the
// processing window, the editor in manual mode, the page limit, and the new
// page filed with its files, its list line and the grid on the last four
// pages; failures leave nothing behind.

#include "tests/ui/MainWindowFixture.h"

#include "core/PageText.h"
#include "core/Settings.h"
#include "text/pdf/PdfImport.h"
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
#include <QPainter>
#include <QPdfWriter>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <memory>

class IntakeTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    QString Input(const QString& name) const { return Root() + QStringLiteral("/in/") + name; }

    // A category with `pages` pages and a list header of `header`.
    void MakeCat(int pages, int header) { MakeListedCategory(QStringLiteral("Cat"), pages, header); }

    void Open()
    {
        MainWindowFixture::Open();
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/Cat"));
    }

    void Choose(const QString& path)
    {
        prompt_.openFileHandlers.push_back([path](const OpenFileRequest& r) {
            // The five filters in order, the first selected.
            if (r.filters.size() != 5 || r.filters[3].caption != QStringLiteral("TIFF(*,tif)")
                || !r.filters[3].patterns.split(u';').contains(QStringLiteral("*.tif"))
                || !r.filters[4].patterns.split(u';').contains(QStringLiteral("*.PDF")) || r.selectedFilter != 0)
                return QString();
            return path;
        });
    }

private slots:
    void init()
    {
        BeginTest();
        QVERIFY(QDir().mkpath(Root() + QStringLiteral("/in")));
        QVERIFY(ImgKitJpegFileSave(Input(QStringLiteral("scan.jpg")), CreateDib(1200, 1600, 3), 90));
        QVERIFY(WriteTestFile(Input(QStringLiteral("notes.jpg")), "not an image\n"));
    }

    void cleanup() { EndTest(); }

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
        const QString work = Root();
        QTemporaryDir elsewhere;
        const QString started = QDir::currentPath();
        QDir::setCurrent(elsewhere.path());
        auto back = qScopeGuard([&] { QDir::setCurrent(started); });
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_TEST_SPI_DIR "/d24.spi"), work + QStringLiteral("/d24.SPI")));
        QVERIFY(WriteTestFile(Input(QStringLiteral("photo.xyz")), "TSPI:d24\n"));
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_TEST_SPI_DIR "/picfail.spi"), work + QStringLiteral("/picfail.spi")));
        QVERIFY(WriteTestFile(Input(QStringLiteral("broken.xyz")), "TSPI:picfail\n"));
        form_ = std::make_unique<TForm1>(prompt_, Root());
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

    // A PDF in, one page per page with its own text; pages out as a PDF, the
    // checked ones or all, never into the category.
    void pdfFilesComeInPageByPageAndPagesGoOut()
    {
        MakeCat(0, 0);
        {
            QPdfWriter pdf(Input(QStringLiteral("mail.pdf")));
            pdf.setPageSize(QPageSize(QPageSize::A4));
            QPainter p(&pdf);
            p.setFont(QFont(QStringLiteral("IPAGothic"), 24));
            p.drawText(600, 1200, QStringLiteral("Invoice 2024"));
            pdf.newPage();
            p.drawText(600, 1200, QStringLiteral("請求書"));
        }
        Open();
        Choose(Input(QStringLiteral("mail.pdf")));
        Click("Menu08");
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(form_->Grid.P, 2);
        const auto words = ReadPageText(Cat(QStringLiteral("Words/00000001.tsv")));
        QVERIFY(words && words->Plain().contains(QStringLiteral("Invoice")));

        auto pagesOf = [](const QString& path) {
            const PdfOpenResult opened = OpenPdf(path, 1000);
            return opened.status == PdfStatus::Ok ? opened.pageCount : -1;
        };
        auto saveAs = [&](const QString& path) {
            prompt_.saveFileHandlers.push_back([path](const SaveFileRequest& r) {
                return SaveFileAnswer{r.fileName == QStringLiteral("Cat") ? path : QString(), 0};
            });
            Click("SpeedButton23");
        };
        saveAs(Input(QStringLiteral("all")));  // the extension comes by itself
        QCOMPARE(pagesOf(Input(QStringLiteral("all.pdf"))), 2);
        form_->Desk.Mark(1, true);
        saveAs(Input(QStringLiteral("checked.pdf")));
        QCOMPARE(pagesOf(Input(QStringLiteral("checked.pdf"))), 1);
        QVERIFY(prompt_.Texts().empty());
        saveAs(Cat(QStringLiteral("Image/out.pdf")));
        QCOMPARE(prompt_.Texts(), std::vector<QString>{kPdfInsideCategoryMessage});
        QVERIFY(!QFileInfo::exists(Cat(QStringLiteral("Image/out.pdf"))));
    }
};

TOLVANE_UI_TEST(IntakeTest);

#include "tst_Intake.moc"
