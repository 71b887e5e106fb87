// SPDX-License-Identifier: GPL-3.0-or-later
// The three scan commands of the main window. ScanCommandsTest answers the
// scanner from a script: the one-shot block made from the settings, each
// error code's message, the page limit ahead of the scanner. The ScanToPage…
// classes go through the real buttons, the image library's windows and the
// SANE test backend, each with a SANE configuration of its own
// (tests/scan/sane/<case>; ctest runs every class in its own process).

#include "tests/ui/MainWindowFixture.h"

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/Scanner.h"
#include "ui/TForm1.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cmath>
#include <memory>

namespace {

// A scanner that answers from the test: it counts the calls, keeps the last
// one-shot block and hands out what it was given.
class ScriptedScanner : public Scanner {
public:
    int selects = 0;
    int scans = 0;
    int easyScans = 0;
    ImgKitScanEasyBlock lastBlock;
    ImageHandle next;        // the picture of the next scan, if any
    int32_t nextError = 0;   // the code of a one-shot scan without a picture

    bool ScanSelect() override
    {
        ++selects;
        return true;
    }
    ImageHandle Scan() override
    {
        ++scans;
        return std::move(next);
    }
    ImageHandle ScanEasy(ImgKitScanEasyBlock& block) override
    {
        ++easyScans;
        lastBlock = block;
        if (!next)
            block.error = nextError;
        return std::move(next);
    }
};

// Runs `step` from the event loop every 20 ms until it answers true: the
// library's windows are modal and run their own loops.
void Poll(std::function<bool()> step)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
        if (step())
            timer->deleteLater();
    });
    timer->start();
}

QWidget* TopLevelNamed(const char* name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            return w;
    return nullptr;
}

// Clicks the named button of the named window once both are there and the
// button can be pressed.
void ClickWhenReady(const char* window, const char* button)
{
    const QByteArray w(window), b(button);
    Poll([w, b] {
        QWidget* top = TopLevelNamed(w.constData());
        if (!top)
            return false;
        auto* button = top->findChild<QPushButton*>(QLatin1String(b));
        if (!button || !button->isEnabled() || !button->isVisible())
            return false;
        button->click();
        return true;
    });
}

// The one fixture of every class: a temporary archive with one category.
class ScanFixture : public QObject, protected MainWindowFixture {
    Q_OBJECT
protected:
    void MakeCat(int pages) { MakeListedCategory(QStringLiteral("Cat"), pages); }

    void Open()
    {
        MainWindowFixture::Open();
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/Cat"));
    }

    // The mean grey of the stored page image (0 black, 255 white).
    double PageMean(const QString& name) const
    {
        QImage image(Cat(QStringLiteral("Image/") + name));
        if (image.isNull())
            return -1;
        image = image.convertToFormat(QImage::Format_Grayscale8);
        double sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += image.constScanLine(y)[x];
        return sum / (double(image.width()) * image.height());
    }
};

// SANE reads its configuration folder once per process: a class that scans
// for real takes the process for its case, and refuses to run after another.
bool UseSaneCase(const char* name)
{
    static QByteArray taken;
    if (!taken.isEmpty())
        return taken == name;
    taken = name;
    qputenv("SANE_CONFIG_DIR", QByteArray(TOLVANE_SANE_CASES "/") + name);
    return true;
}

}  // namespace

class ScanCommandsTest : public ScanFixture {
    Q_OBJECT
private:
    ScriptedScanner scanner_;

    void OpenWithScanner()
    {
        Open();
        form_->ScanSeam = &scanner_;
    }

private slots:
    void init()
    {
        BeginTest();
        scanner_ = ScriptedScanner();
    }
    void cleanup() { EndTest(); }

    void theOneShotBlockComesFromTheSettings()
    {
        MakeCat(0);
        // ScanMode → the block's mode; other values scan in full colour.
        const std::pair<int, int> modes[] = {{0, 2}, {1, 0}, {2, 1}, {3, 3}, {7, 2}, {-1, 2}};
        for (auto [setting, mode] : modes) {
            AppSettingsStore().setValue(QStringLiteral("ScanMode"), QString::number(setting));
            AppSettingsStore().setValue(QStringLiteral("ScanLeft"), QStringLiteral("10"));
            AppSettingsStore().setValue(QStringLiteral("ScanTop"), QStringLiteral("25"));
            AppSettingsStore().setValue(QStringLiteral("ScanRight"), QStringLiteral("215"));
            AppSettingsStore().setValue(QStringLiteral("ScanBottom"), QStringLiteral("279"));
            AppSettingsStore().setValue(QStringLiteral("ScanReso"), QStringLiteral("300"));
            Open();
            form_->ScanSeam = &scanner_;
            Click("SpeedButton2");
            QCOMPARE(scanner_.lastBlock.mode, int16_t(mode));
            QCOMPARE(scanner_.lastBlock.left, float(10 * 0.03937007874015748));
            QCOMPARE(scanner_.lastBlock.top, float(25 * 0.03937007874015748));
            QCOMPARE(scanner_.lastBlock.right, float(215 * 0.03937007874015748));
            QCOMPARE(scanner_.lastBlock.bottom, float(279 * 0.03937007874015748));
            QCOMPARE(scanner_.lastBlock.resolution, 300.0f);
        }
        // No picture and code 0: nothing is said, nothing is filed.
        QVERIFY(prompt_.shown.empty());
        QCOMPARE(PageFiles(), QStringList());

        // The defaults: A4 less a millimetre, 150 dpi, full colour.
        AppSettingsStore().clear();
        AppSettings() = DefaultSettings();
        Open();
        form_->ScanSeam = &scanner_;
        Click("SpeedButton2");
        QCOMPARE(scanner_.lastBlock.mode, int16_t(2));
        QCOMPARE(scanner_.lastBlock.left, 0.0f);
        QCOMPARE(scanner_.lastBlock.right, float(210 * 0.03937007874015748));
        QCOMPARE(scanner_.lastBlock.bottom, float(296 * 0.03937007874015748));
        QCOMPARE(scanner_.lastBlock.resolution, 150.0f);
    }

    void eachErrorCodeHasItsMessageAndNothingIsFiled()
    {
        MakeCat(2);
        OpenWithScanner();
        const QByteArray listBefore = ReadBytes(Cat(QStringLiteral("FileList.txt")));
        const std::pair<int32_t, const char*> codes[] = {
            {0, nullptr},
            {1, "メモリー不足です"},
            {2, "このスキャナでは本機能は使用できません"},
            {3, "設定が不正です（スキャナに合っていません）"},
            {4, "その他のエラーが発生しました"},
            {5, "キャンセルされました"},
            {6, nullptr},
            {-3, nullptr},
        };
        for (auto [code, text] : codes) {
            prompt_.Clear();
            scanner_.nextError = code;
            Click("SpeedButton2");
            if (!text) {
                QVERIFY2(prompt_.shown.empty(), qPrintable(QString::number(code)));
                continue;
            }
            QCOMPARE(prompt_.shown.size(), std::size_t(1));
            const auto& box = prompt_.shown.front();
            QCOMPARE(box.kind, ScriptedPrompt::Shown::Box);
            QCOMPARE(box.text, QString::fromUtf8(text));
            QCOMPARE(box.caption, QStringLiteral("Tolvane"));
            QCOMPARE(box.buttons, BoxButtons::Ok);
        }
        QCOMPARE(scanner_.easyScans, 8);
        QCOMPARE(form_->Pages.Count(), 2);
        QCOMPARE(ReadBytes(Cat(QStringLiteral("FileList.txt"))), listBefore);
        QCOMPARE(PageFiles(), QStringList());
    }

    void scannedPicturesBecomePagesOfEveryDepth()
    {
        MakeCat(0);
        OpenWithScanner();
        // Line art and grey come from scanners as 1- and 8-bit blocks with
        // colour tables; the page is stored from their 24-bit conversion.
        scanner_.next = CreateDib(800, 1100, 0);  // 1 bit
        Click("SpeedButton2");
        scanner_.next = CreateDib(800, 1100, 2);  // 8 bits
        Click("Menu07");
        scanner_.next = CreateDib(900, 1200, 3);  // 24 bits
        Click("Menu07");
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(form_->Pages.lines,
                 (QStringList{QStringLiteral("00000003"), QStringLiteral("00000001.jpg"),
                              QStringLiteral("00000002.jpg"), QStringLiteral("00000003.jpg")}));
        for (const char* name : {"00000001.jpg", "00000002.jpg", "00000003.jpg"}) {
            QVERIFY2(SizeOf(Cat(QStringLiteral("Image/") + QLatin1String(name))).isValid(), name);
            QVERIFY2(SizeOf(Cat(QStringLiteral("Thumb/") + QLatin1String(name))).isValid(), name);
        }
        QCOMPARE(form_->Grid.K, 2);
        QCOMPARE(form_->Grid.P, 3);
    }

    void aClosedScanDialogEndsQuietly()
    {
        MakeCat(1);
        OpenWithScanner();
        Click("Menu07");
        QCOMPARE(scanner_.scans, 1);
        QVERIFY(prompt_.shown.empty());
        QCOMPARE(form_->Pages.Count(), 1);
        QCOMPARE(PageFiles(), QStringList());
    }

    void aFullCategoryRefusesBeforeTheScannerIsTouched()
    {
        MakeCat(999);
        OpenWithScanner();
        scanner_.next = CreateDib(100, 100, 3);
        for (const char* button : {"SpeedButton2", "Menu07"}) {
            prompt_.Clear();
            Click(button);
            QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("1000枚を超えるイメージは保存できません")});
            QCOMPARE(prompt_.shown.back().icon, DlgIcon::Error);
        }
        QCOMPARE(scanner_.scans + scanner_.easyScans, 0);
        QCOMPARE(PageFiles(), QStringList());
    }

    void scannerSelectionAsksTheLibraryAndChangesNothing()
    {
        MakeCat(1);
        OpenWithScanner();
        const QByteArray before = ReadBytes(Cat(QStringLiteral("FileList.txt")));
        Click("Menu06");
        QCOMPARE(scanner_.selects, 1);
        QVERIFY(prompt_.shown.empty());
        QCOMPARE(ReadBytes(Cat(QStringLiteral("FileList.txt"))), before);
        // Not an adding command: a full category does not stop it.
        form_.reset();
        MakeCat(999);
        OpenWithScanner();
        Click("Menu06");
        QCOMPARE(scanner_.selects, 2);
        QVERIFY(prompt_.shown.empty());
    }
};

// The basic case: two plain test devices, a solid black picture.
class ScanToPageTest : public ScanFixture {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!UseSaneCase("basic"))
            QSKIP("SANE is configured for another case in this process; ctest runs this class alone");
    }
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    void oneShotScanFilesTheScannedPage()
    {
        MakeCat(3);
        Open();
        Click("SpeedButton2");
        QVERIFY2(prompt_.Texts().empty(), qPrintable(prompt_.Texts().empty() ? QString() : prompt_.Texts().front()));
        QCOMPARE(form_->Pages.lines.last(), QStringLiteral("00000004.jpg"));
        QVERIFY(ReadBytes(Cat(QStringLiteral("FileList.txt"))).endsWith("00000003.jpg\r\n00000004.jpg\r\n"));
        // 150 dpi over 210 x 296 mm gives about 1240 x 1748, fitted into the
        // default 1024 box; the test picture is solid black.
        const QSize page = SizeOf(Cat(QStringLiteral("Image/00000004.jpg")));
        QVERIFY2(std::abs(page.width() - 1024) <= 1, qPrintable(QString::number(page.width())));
        QVERIFY(std::abs(double(page.height()) / page.width() - 1748.0 / 1240.0) < 0.02);
        QVERIFY(SizeOf(Cat(QStringLiteral("Thumb/00000004.jpg"))).isValid());
        QCOMPARE(ReadBytes(Cat(QStringLiteral("Text/00000004.txt"))), QByteArray("\r\n"));
        QVERIFY(PageMean(QStringLiteral("00000004.jpg")) < 40);
        QCOMPARE(form_->Grid.K, 3);
    }

    void lineArtAndGreyScansBecomePagesToo()
    {
        MakeCat(0);
        for (const char* mode : {"1", "2"}) {
            AppSettingsStore().setValue(QStringLiteral("ScanMode"), QLatin1String(mode));
            AppSettingsStore().setValue(QStringLiteral("ScanReso"), QStringLiteral("50"));
            Open();
            Click("SpeedButton2");
            QVERIFY2(prompt_.Texts().empty(), mode);
        }
        QCOMPARE(form_->Pages.Count(), 2);
        QVERIFY(PageMean(QStringLiteral("00000001.jpg")) < 40);
        QVERIFY(PageMean(QStringLiteral("00000002.jpg")) < 40);
    }

    void paletteColourIsNotOfferedByTheDevice()
    {
        MakeCat(0);
        AppSettingsStore().setValue(QStringLiteral("ScanMode"), QStringLiteral("3"));
        Open();
        Click("SpeedButton2");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("このスキャナでは本機能は使用できません")});
        QCOMPARE(PageFiles(), QStringList());
    }

    void anAreaBeyondTheBedIsRefusedWithCode3()
    {
        MakeCat(0);
        AppSettingsStore().setValue(QStringLiteral("ScanRight"), QStringLiteral("400"));  // the bed is 300 mm
        Open();
        Click("SpeedButton2");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("設定が不正です（スキャナに合っていません）")});
        QCOMPARE(PageFiles(), QStringList());
    }

    void theScannerDialogScansIntoANewPage()
    {
        MakeCat(0);
        Open();
        ClickWhenReady("scanDialog", "scanButton");
        Click("Menu07");
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(form_->Pages.Count(), 1);
        QVERIFY(SizeOf(Cat(QStringLiteral("Image/00000001.jpg"))).isValid());
        // Closed without scanning: no page and no word.
        ClickWhenReady("scanDialog", "closeButton");
        Click("Menu07");
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(form_->Pages.Count(), 1);
    }

    void theSelectionDialogOpensFromMenu06()
    {
        MakeCat(0);
        Open();
        scan::ImgKitSettings()->remove(QStringLiteral("Scanner"));
        int listed = -1;
        Poll([&listed] {
            QWidget* top = TopLevelNamed("scanSelectDialog");
            auto* list = top ? top->findChild<QListWidget*>(QStringLiteral("scanDeviceList")) : nullptr;
            if (!list || list->count() == 0)
                return false;
            listed = list->count();
            top->findChild<QPushButton*>(QStringLiteral("scanSelectOk"))->click();
            return true;
        });
        Click("Menu06");
        QCOMPARE(listed, 2);
        QVERIFY(prompt_.shown.empty());
        QCOMPARE(PageFiles(), QStringList());
    }
};

// A slow device, to cancel in the middle of the scan.
class ScanToPageCancelTest : public ScanFixture {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!UseSaneCase("slow"))
            QSKIP("SANE is configured for another case in this process; ctest runs this class alone");
    }
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    void cancelInTheProgressWindowFilesNothing()
    {
        MakeCat(1);
        Open();
        const QByteArray before = ReadBytes(Cat(QStringLiteral("FileList.txt")));
        ClickWhenReady("scanProgressWindow", "scanCancelButton");
        Click("SpeedButton2");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("キャンセルされました")});
        QCOMPARE(prompt_.shown.front().caption, QStringLiteral("Tolvane"));
        QCOMPARE(ReadBytes(Cat(QStringLiteral("FileList.txt"))), before);
        QCOMPARE(PageFiles(), QStringList());
        QCOMPARE(form_->Pages.Count(), 1);
    }
};

// No backend at all.
class ScanToPageNoScannerTest : public ScanFixture {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!UseSaneCase("nodevice"))
            QSKIP("SANE is configured for another case in this process; ctest runs this class alone");
    }
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    void withoutAScannerNothingIsFiled()
    {
        MakeCat(0);
        Open();
        Click("SpeedButton2");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("その他のエラーが発生しました")});
        // The scanner dialog says so itself; closed, the command ends quietly.
        prompt_.Clear();
        ClickWhenReady("scanDialog", "closeButton");
        Click("Menu07");
        QVERIFY(prompt_.shown.empty());
        QCOMPARE(PageFiles(), QStringList());
        QCOMPARE(form_->Pages.Count(), 0);
    }
};

TOLVANE_UI_TEST(ScanCommandsTest);
TOLVANE_UI_TEST(ScanToPageTest);
TOLVANE_UI_TEST(ScanToPageCancelTest);
TOLVANE_UI_TEST(ScanToPageNoScannerTest);

#include "tst_ScanIntake.moc"
