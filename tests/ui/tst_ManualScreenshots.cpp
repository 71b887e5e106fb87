// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures of the manual are grabs of the real windows over a sample
// archive. With TOLVANE_WRITE_SCREENSHOTS set to a folder they are written
// there (the manual-screenshots target writes them into app/manual);
// otherwise each window is checked against its picture in the manual, so a
// window whose layout changed asks for the pictures to be made again.

#include "tests/ui/MainWindowFixture.h"

#include "core/Memo.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "widgets/Controls.h"

#include <QDialog>
#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTest>
#include <QWidget>

#include <functional>

namespace {

// A page of a document: a heading bar and lines of "text".
ImageHandle DocumentPage(int width, int height, int seed)
{
    ImageHandle dib = CreateDib(width, height, 3);
    TMDIB m(dib);
    const int margin = width / 10, line = height / 36;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        const int n = y / line;
        const bool heading = y > 2 * line && y < 4 * line;
        const int end = width - margin - ((n * 37 + seed * 11) % (width / 3));
        for (int x = 0; x < width; ++x) {
            const bool ink = x > margin && (heading ? x < width / 2 : (y % line < line / 3 && n > 5 && x < end
                                                                          && (x / 9 + n) % 6 != 0));
            row[3 * x] = ink ? (heading ? 120 : 50) : 246;
            row[3 * x + 1] = ink ? 50 : 246;
            row[3 * x + 2] = ink ? (heading ? 30 : 50) : 244;
        }
    }
    return dib;
}

}  // namespace

class ManualScreenshots : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    QStringList made_;

    void MakeSampleCategory(const QString& name, const QStringList& memos)
    {
        QVERIFY(MakeCategory(Root(), name));
        QByteArray list = QByteArray::number(memos.size()).rightJustified(8, '0') + "\r\n";
        for (int i = 0; i < memos.size(); ++i) {
            const QString n = QStringLiteral("%1").arg(i + 1, 8, 10, QLatin1Char('0'));
            const ImageHandle page = DocumentPage(724, 1024, i);
            QVERIFY(ImgKitJpegFileSave(F(name + QStringLiteral("/Image/") + n + QStringLiteral(".jpg")), page, 85));
            QVERIFY(ImgKitJpegFileSave(F(name + QStringLiteral("/Thumb/") + n + QStringLiteral(".jpg")),
                                       ImgKitImageSize(page, 141, 200), 85));
            QVERIFY(WriteTestFile(F(name + QStringLiteral("/Text/") + n + QStringLiteral(".txt")), EncodeMemo(memos[i])));
            list += n.toLatin1() + ".jpg\r\n";
        }
        QVERIFY(WriteTestFile(F(name + QStringLiteral("/FileList.txt")), list));
    }

    // Writes the grab of `window` as manual/<name>.png, or checks it against
    // the picture there.
    void Picture(QWidget& window, const QString& name)
    {
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(50);  // late repaints (thumbnails, the preview) settle
        const QImage grab = window.grab().toImage();
        const QString out = qEnvironmentVariable("TOLVANE_WRITE_SCREENSHOTS");
        made_ << name;
        if (!out.isEmpty()) {
            QVERIFY(QDir().mkpath(out));
            QVERIFY(grab.save(QDir(out).filePath(name + QStringLiteral(".png")), "PNG"));
            return;
        }
        const QImage kept(QStringLiteral(TOLVANE_MANUAL_DIR "/") + name + QStringLiteral(".png"));
        QVERIFY2(!kept.isNull(), qPrintable(name + QStringLiteral(".png is missing: build the manual-screenshots target")));
        QVERIFY2(kept.size() == grab.size(),
                 qPrintable(name + QStringLiteral(".png shows an older layout: build the manual-screenshots target")));
    }

    // The next modal dialog is grabbed as `name`, then closed.
    void GrabNextDialog(const QString& name)
    {
        prompt_.modalHandlers.push_back([this, name](QDialog& d) {
            d.show();
            Picture(d, name);
            d.reject();
            return int(QDialog::Rejected);
        });
    }

private slots:
    void initTestCase()
    {
        BeginTest();
        MakeSampleCategory(QStringLiteral("請求書"), {QStringLiteral("4月分 電気料金"), QStringLiteral("4月分 水道料金"),
                                                      QStringLiteral("5月分 電気料金"), QStringLiteral("5月分 ガス料金"),
                                                      QStringLiteral("6月分 電気料金")});
        MakeSampleCategory(QStringLiteral("契約書"), {QStringLiteral("賃貸借契約 2024年")});
        MakeSampleCategory(QStringLiteral("領収書"), {});
        Open();
        auto* list = form_->findChild<QListWidget*>(QStringLiteral("ListBox"));
        const auto items = list->findItems(QStringLiteral("請求書"), Qt::MatchExactly);
        QVERIFY(!items.isEmpty());
        form_->SelectCategoryRow(list->row(items.first()));
        QTest::mouseClick(form_->SlotAt(1).image, Qt::LeftButton);
    }
    void cleanupTestCase() { EndTest(); }

    void everyWindowOfTheManual()
    {
        Picture(*form_, QStringLiteral("main"));

        GrabNextDialog(QStringLiteral("viewer"));
        Click("Menu01");
        GrabNextDialog(QStringLiteral("editor"));
        Click("SpeedButton3");
        GrabNextDialog(QStringLiteral("select"));
        Click("Menu09");
        GrabNextDialog(QStringLiteral("newfolder"));
        Click("SpeedButton11");
        GrabNextDialog(QStringLiteral("options"));
        form_->MenuSelect2Click();
        GrabNextDialog(QStringLiteral("version"));
        form_->MenuSelect1Click();
        QVERIFY(prompt_.modalHandlers.empty());

        Click("SpeedButton22");
        QWidget* search = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("TSearchForm") && w->isVisible())
                search = w;
        QVERIFY(search);
        Picture(*search, QStringLiteral("search"));
        search->close();

        // Every picture the manual shows is one made here.
        const QString manual = QString::fromUtf8(ReadBytes(QStringLiteral(TOLVANE_HELP_FILE)));
        for (const QString& name : made_)
            QVERIFY2(manual.contains(QStringLiteral("manual/") + name + QStringLiteral(".png")), qPrintable(name));
    }
};

TOLVANE_UI_TEST(ManualScreenshots);

#include "tst_ManualScreenshots.moc"
