// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's small windows: the resize dialog with its coupled edit boxes
// and its keys, the colour preview with its remembered place, and the wait
// window of the slower tools.

#include "tests/ui/tst_EditorSupport.h"

#include "editor/TfColorPreview.h"
#include "editor/TfSize.h"
#include "editor/TfWait.h"
#include "widgets/Controls.h"
#include "widgets/TRadioGroup.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>

using namespace EditorTestSupport;

namespace {

// A resize dialog for a current size, shown.
std::unique_ptr<TfSize> ShownSizeDialog(int width, int height)
{
    auto d = std::make_unique<TfSize>();
    d->StaticText1()->setText(QString::number(height));
    d->StaticText2()->setText(QString::number(width));
    d->show();
    return d;
}

void Type(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

}  // namespace

class EditorSmallWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { AppSettings() = Settings{}; }

    void sizeDialogLayout()
    {
        TfSize d;
        QCOMPARE(d.windowTitle(), QStringLiteral("拡大・縮小"));
        QCOMPARE(d.size(), QSize(258, 173));  // the client area of a 266 x 200 window
        QCOMPARE(d.Confirmed, 0);
        QCOMPARE(d.Updating, false);
        QCOMPARE(d.findChild<QGroupBox*>(QStringLiteral("GroupBox1"))->title(), QStringLiteral("現在の大きさ"));
        QCOMPARE(d.findChild<QGroupBox*>(QStringLiteral("GroupBox2"))->title(), QStringLiteral("処理後の大きさ"));
        const QString height = QStringLiteral("縦"), width = QStringLiteral("横");
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("Label1"))->text(), height);
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("Label2"))->text(), width);
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("Label3"))->text(), height);
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("Label4"))->text(), width);
        TRadioGroup* ratio = d.RadioGroup1();
        QCOMPARE(ratio->title(), QStringLiteral("縦横比の保存"));
        QCOMPARE(ratio->Items(), (QStringList{QStringLiteral("比率保存する"), QStringLiteral("比率保存しない")}));
        QCOMPARE(ratio->Columns(), 2);
        QCOMPARE(ratio->ItemIndex(), 0);
        auto* ok = d.findChild<QPushButton*>(QStringLiteral("Button1"));
        auto* cancel = d.findChild<QPushButton*>(QStringLiteral("Button2"));
        QCOMPARE(ok->text(), QStringLiteral("ＯＫ"));
        QCOMPARE(cancel->text(), QStringLiteral("キャンセル"));
        QVERIFY(cancel->geometry().right() < ok->geometry().left());
        // Centred on the desktop.
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY((d.frameGeometry().center() - centre).manhattanLength() <= 2);
    }

    void sizeDialogShowsTheCurrentSize()
    {
        auto d = ShownSizeDialog(1024, 768);
        QCOMPARE(d->StaticText1()->text(), QStringLiteral("768"));
        QCOMPARE(d->StaticText2()->text(), QStringLiteral("1024"));
        QCOMPARE(d->Edit1()->text(), QStringLiteral("768"));
        QCOMPARE(d->Edit2()->text(), QStringLiteral("1024"));
        QCOMPARE(d->AspectRatio, 1024.0 / 768.0);
        QCOMPARE(d->Updating, false);
    }

    void sizeDialogCoupling_data()
    {
        QTest::addColumn<QSize>("current");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<int>("box");  // 1 height, 2 width
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("height");
        QTest::addColumn<QString>("width");
        QTest::newRow("width 1000 gives height 750") << QSize(1024, 768) << true << 2 << "1000" << "750" << "1000";
        QTest::newRow("height 384 gives width 511") << QSize(1024, 768) << true << 1 << "384" << "384" << "511";
        QTest::newRow("height 300 of 1200x600") << QSize(1200, 600) << true << 1 << "300" << "300" << "600";
        QTest::newRow("width of 1200x600") << QSize(1200, 600) << true << 2 << "601" << "300" << "601";
        QTest::newRow("text after the digits is ignored") << QSize(1200, 600) << true << 1 << "50px" << "50px" << "100";
        QTest::newRow("no digits read as 0") << QSize(1200, 600) << true << 2 << "x" << "0" << "x";
        QTest::newRow("ratio not kept: height") << QSize(1024, 768) << false << 1 << "384" << "384" << "1024";
        QTest::newRow("ratio not kept: width") << QSize(1024, 768) << false << 2 << "1000" << "768" << "1000";
    }
    void sizeDialogCoupling()
    {
        QFETCH(QSize, current);
        QFETCH(bool, keep);
        QFETCH(int, box);
        QFETCH(QString, typed);
        QFETCH(QString, height);
        QFETCH(QString, width);
        auto d = ShownSizeDialog(current.width(), current.height());
        if (!keep)
            QTest::mouseClick(d->RadioGroup1()->Button(1), Qt::LeftButton);
        Type(box == 1 ? d->Edit1() : d->Edit2(), typed);
        QCOMPARE(d->Edit1()->text(), height);
        QCOMPARE(d->Edit2()->text(), width);
        QVERIFY(d->isVisible());
    }

    void sizeDialogWithoutAHeight()
    {
        // An empty picture: no ratio, and the boxes stay uncoupled.
        auto d = ShownSizeDialog(300, 0);
        QCOMPARE(d->AspectRatio, 0.0);
        QCOMPARE(d->Edit1()->text(), QStringLiteral("0"));
        Type(d->Edit2(), QStringLiteral("120"));
        QCOMPARE(d->Edit1()->text(), QStringLiteral("0"));
        Type(d->Edit1(), QStringLiteral("90"));
        QCOMPARE(d->Edit2()->text(), QStringLiteral("120"));
    }

    void sizeDialogKeysAndButtons_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("confirmed");
        QTest::newRow("Escape in the width box") << "escape" << 0;
        QTest::newRow("Enter in the height box") << "enter" << 1;
        QTest::newRow("Return on the radio group") << "return" << 1;
        QTest::newRow("OK") << "ok" << 1;
        QTest::newRow("Cancel") << "cancel" << 0;
    }
    void sizeDialogKeysAndButtons()
    {
        QFETCH(QString, how);
        QFETCH(int, confirmed);
        auto d = ShownSizeDialog(640, 480);
        Type(d->Edit2(), QStringLiteral("320"));
        if (how == QLatin1String("escape"))
            QTest::keyClick(d->Edit2(), Qt::Key_Escape);
        else if (how == QLatin1String("enter"))
            QTest::keyClick(d->Edit1(), Qt::Key_Enter);
        else if (how == QLatin1String("return"))
            QTest::keyClick(d->RadioGroup1()->Button(0), Qt::Key_Return);
        else if (how == QLatin1String("ok"))
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
        else
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("Button2")), Qt::LeftButton);
        QVERIFY(!d->isVisible());
        QCOMPARE(d->Confirmed, confirmed);
        QCOMPARE(d->result(), confirmed ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(d->Edit1()->text(), QStringLiteral("240"));
    }

    void colourPreviewWindow()
    {
        Settings settings;
        settings.ColorPreviewX = 140;
        settings.ColorPreviewY = 90;
        QWidget owner;
        TfColorPreview preview(settings, &owner);
        QCOMPARE(preview.windowTitle(), QStringLiteral("色調整プレビュー"));
        QVERIFY(preview.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(preview.windowType(), Qt::Tool);
        QCOMPARE(preview.size(), QSize(210, 210));
        QCOMPARE(preview.Image1()->geometry(), QRect(0, 0, 210, 210));
        QVERIFY(preview.Image1()->Center());
        QCOMPARE(preview.pos(), QPoint(140, 90));

        preview.show();
        preview.move(333, 44);
        QSignalSpy closed(&preview, &TfColorPreview::Closed);
        preview.close();
        QCOMPARE(closed.count(), 1);
        QCOMPARE(settings.ColorPreviewX, 333);
        QCOMPARE(settings.ColorPreviewY, 44);
    }

    void colourPreviewCentredWithoutAPlace_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::newRow("never stored") << -1 << -1;
        QTest::newRow("only x stored") << 50 << -1;
        QTest::newRow("only y stored") << -1 << 50;
    }
    void colourPreviewCentredWithoutAPlace()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        Settings settings;
        settings.ColorPreviewX = x;
        settings.ColorPreviewY = y;
        TfColorPreview preview(settings, nullptr);
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY((preview.frameGeometry().center() - centre).manhattanLength() <= 2);
    }

    void previewReopensWhereItWasLeft()
    {
        EditorRun run;
        run.settings.ColorPreviewX = -1;
        run.settings.ColorPreviewY = -1;
        TEditForm& f = run.Open(Pattern(100, 80));
        auto* red = run.W<QSlider>("tbR");
        red->setValue(10);
        TfColorPreview* first = f.ColorPreview();
        QVERIFY(first);
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        // Centred as far as the window frame (unknown before showing) allows.
        QVERIFY((first->geometry().center() - centre).manhattanLength() <= 8);
        first->move(123, 77);
        first->close();
        QCOMPARE(run.settings.ColorPreviewX, 123);
        QCOMPARE(run.settings.ColorPreviewY, 77);

        red->setValue(-10);
        TfColorPreview* second = f.ColorPreview();
        QVERIFY(second);
        QCOMPARE(second->pos(), QPoint(123, 77));
        second->move(60, 300);
        // A confirm closes the window too, and its place is kept.
        run.Click("SpeedButton23");
        QCOMPARE(run.settings.ColorPreviewX, 60);
        QCOMPARE(run.settings.ColorPreviewY, 300);

        // Closing the editor with a preview open cancels it; the place
        // reaches the settings store with the editor's close.
        run.W<QSlider>("tbB")->setValue(5);
        const QByteArray before = Bytes(f.EditImage);
        f.ColorPreview()->move(10, 20);
        f.done(QDialog::Rejected);
        QVERIFY(!f.ColorPreviewActive);
        QCOMPARE(Bytes(f.EditImage), before);
        const Settings stored = run.Stored();
        QCOMPARE(stored.ColorPreviewX, 10);
        QCOMPARE(stored.ColorPreviewY, 20);

        // A new editor (as after a restart) opens the preview there.
        EditorRun next;
        next.settings = stored;
        TEditForm& g = next.Open(Pattern(100, 80));
        next.W<QSlider>("tbG")->setValue(5);
        QCOMPARE(g.ColorPreview()->pos(), QPoint(10, 20));
    }

    void waitWindow()
    {
        EditorRun run;
        TEditForm& f = run.Open(Pattern(20, 20));
        QVERIFY(!f.WaitWindow());
        f.ShowWaitWindow();
        TfWait* wait = f.WaitWindow();
        QVERIFY(wait);
        QVERIFY(wait->isVisible());
        QCOMPARE(wait->windowTitle(), QStringLiteral("画像処理中"));
        f.ShowWaitWindow();  // one at a time
        QCOMPARE(f.WaitWindow(), wait);
        QCOMPARE(f.findChildren<TfWait*>().size(), 1);
        f.CloseWaitWindow();
        QVERIFY(!f.WaitWindow());
        QCOMPARE(f.findChildren<TfWait*>().size(), 0);
        f.CloseWaitWindow();  // none shown: nothing
    }
};

TOLVANE_UI_TEST(EditorSmallWindowsTest);
#include "tst_EditorSmallWindows.moc"
