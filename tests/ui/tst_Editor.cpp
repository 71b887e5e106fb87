// SPDX-License-Identifier: GPL-3.0-or-later
// The editor window through its real controls: layout and hints, showing,
// zoom, the cut rectangle and trim, rotations and flips, reset, the keys,
// the toolbar drag, closing, and what happens when a step yields no image.

#include "tests/ui/tst_EditorSupport.h"

#include "editor/EditorGeometry.h"
#include "editor/TShape.h"
#include "widgets/TTitlePanel.h"
#include "editor/TfSize.h"
#include "imaging/Dib.h"
#include "widgets/Controls.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>

using namespace EditorTestSupport;

class EditorTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<EditorRun> run_;

    TEditForm& Open(ImageHandle image)
    {
        run_ = std::make_unique<EditorRun>();
        return run_->Open(std::move(image));
    }
    template <typename T = QWidget>
    T* W(const char* name) { return run_->W<T>(name); }
    TImage* Image() { return W<TImage>("Image"); }
    TShape* Shape() { return W<TShape>("CutShape"); }
    TEditForm& F() { return *run_->form; }
    std::vector<QString> Texts() { return run_->prompt.Texts(); }

    // The shape's rectangle relative to the image control.
    QRect ShapeOnImage()
    {
        return QRect(Shape()->Left() - Image()->x(), Shape()->Top() - Image()->y(), Shape()->ShapeWidth(),
                     Shape()->ShapeHeight());
    }
    QRect Cut() { return QRect(F().CutLeft, F().CutTop, F().CutWidth, F().CutHeight); }
    // Where a control of that size lies in the full-screen window.
    QRect Centred(QSize size)
    {
        const auto at = [](int window, int control) { return control > window ? 0 : (window - control) / 2; };
        return QRect(QPoint(at(F().width(), size.width()), at(F().height(), size.height())), size);
    }

private slots:
    void init() { AppSettings() = Settings{}; }
    void cleanup() { run_.reset(); }

    void windowAndToolbarLayout()
    {
        TEditForm& f = Open(Pattern(300, 200));
        QVERIFY(f.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(f.size(), QGuiApplication::primaryScreen()->geometry().size());
        QCOMPARE(W<QScrollArea>("ScrollBox")->geometry(), f.rect());
        QCOMPARE(W<QScrollArea>("ScrollBox")->frameShape(), QFrame::NoFrame);

        QCOMPARE(W<TPanel>("ToolBar")->size(), QSize(317, 105));
        auto* handle = W<TTitlePanel>("ToolBarHandle");
        QCOMPARE(handle->Caption(), QStringLiteral("  Image Editor Tool Bar"));
        QCOMPARE(handle->height(), 17);
        QCOMPARE(handle->y(), 1);
        QCOMPARE(handle->Color(), handle->palette().color(QPalette::Highlight));

        for (int i = 1; i <= 22; ++i) {
            auto* b = W<QToolButton>(QStringLiteral("SpeedButton%1").arg(i).toLatin1().constData());
            const QRect expected(4 + 28 * ((i - 1) % 11), i <= 11 ? 20 : 48, 29, 29);
            QVERIFY2(b->geometry() == expected, qPrintable(b->objectName()));
            QVERIFY(!b->text().isEmpty());
        }
        const char* labels[] = {"Label1", "Label2", "Label3"};
        const char* texts[] = {"R", "G", "B"};
        const int lefts[] = {4, 92, 180};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(W<QLabel>(labels[i])->text(), QLatin1String(texts[i]));
            QCOMPARE(W<QLabel>(labels[i])->x(), lefts[i]);
        }
        for (const char* name : {"tbR", "tbG", "tbB"}) {
            auto* bar = W<QSlider>(name);
            QCOMPARE(bar->minimum(), -25);
            QCOMPARE(bar->maximum(), 25);
            QCOMPARE(bar->value(), 0);
            QCOMPARE(bar->singleStep(), 5);
            QCOMPARE(bar->pageStep(), 5);
            QCOMPARE(bar->tickPosition(), QSlider::TicksBelow);
            QCOMPARE(bar->width(), 77);
        }
        auto* confirm = W<QPushButton>("SpeedButton23");
        QCOMPARE(confirm->text(), QStringLiteral("色確定"));
        QCOMPARE(confirm->size(), QSize(45, 21));
        QVERIFY(!confirm->isEnabled());

        QVERIFY(Image()->AutoSize());
        QVERIFY(Image()->Stretch());
        QCOMPARE(Image()->toolTip(), QStringLiteral("画像の上でドラッグすると切取領域を指定できます"));
        QVERIFY(Shape()->isHidden());
        QCOMPARE(Shape()->Pen().color(), QColor(Qt::yellow));
        QCOMPARE(Shape()->Pen().width(), 2);
    }

    void toolHints_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("hint");
        const char* hints[] = {"縮小表示", "拡大表示", "画像編集を全てリセット", "輝度・コントラスト・カラーバランスの自動補正",
                               "輝度・コントラストの自動補正", "トリミング（切取）", "高画質縮小", "高画質拡大", "自動サイズ調整",
                               "編集画像を破棄して終了", "編集画像を保存して終了", "反時計回りに９０度回", "時計回りに９０度回",
                               "１８０度回転", "左右反転", "上下反転", "輝度を下げる", "輝度を上げる", "コントラストを下げる",
                               "コントラストを上げる", "ガンマを下げる", "ガンマを上げる"};
        for (int i = 0; i < 22; ++i)
            QTest::addRow("SpeedButton%d", i + 1) << i + 1 << QString::fromUtf8(hints[i]);
    }
    void toolHints()
    {
        QFETCH(int, button);
        QFETCH(QString, hint);
        Open(Pattern(10, 10));
        auto* b = W<QToolButton>(QStringLiteral("SpeedButton%1").arg(button).toLatin1().constData());
        QCOMPARE(b->property("hint").toString(), hint + u'|');
        QCOMPARE(b->toolTip(), hint);
    }

    void showingRecordsTheStart()
    {
        run_ = std::make_unique<EditorRun>();
        run_->settings.EditToolBarX = 40;
        run_->settings.EditToolBarY = 300;
        TEditForm& f = run_->Open(Pattern(300, 200));
        QCOMPARE(W<TPanel>("ToolBar")->pos(), QPoint(40, 300));
        QCOMPARE(f.ImageWidth, 300);
        QCOMPARE(f.ImageHeight, 200);
        QCOMPARE(f.StartWidth, 300);
        QCOMPARE(f.StartHeight, 200);
        QCOMPARE(f.ZoomLevel, 1);
        QCOMPARE(f.Accepted, 0);
        QCOMPARE(Image()->geometry(), Centred(QSize(300, 200)));
        QCOMPARE(Image()->Picture(), Picture(f.EditImage));
        // The reset copy is a block of its own with the same picture.
        QVERIFY(f.OriginalImage);
        QVERIFY(f.OriginalImage.Data() != f.EditImage.Data());
        QCOMPARE(Bytes(f.OriginalImage), Bytes(f.EditImage));
        QVERIFY(run_->prompt.shown.empty());
    }

    void zoomButtons()
    {
        TEditForm& f = Open(Pattern(300, 200));
        run_->Click(1);
        QCOMPARE(f.ZoomLevel, 0);
        QCOMPARE(Image()->geometry(), Centred(QSize(150, 100)));
        run_->Click(1);
        QCOMPARE(f.ZoomLevel, -1);
        QCOMPARE(Image()->geometry(), Centred(QSize(100, 66)));
        for (int i = 0; i < 4; ++i)
            run_->Click(2);
        QCOMPARE(f.ZoomLevel, 3);
        QCOMPARE(Image()->size(), QSize(900, 600));
        QVERIFY(f.width() < 900);  // wider than the window: at the left edge
        QCOMPARE(Image()->geometry(), Centred(QSize(900, 600)));
        QCOMPARE(Image()->x(), 0);
        run_->Click(1);
        run_->Click(1);
        QCOMPARE(f.ZoomLevel, 1);
        QCOMPARE(Image()->geometry(), Centred(QSize(300, 200)));
        // Zooming never scales the picture itself.
        QCOMPARE(Image()->Picture().size(), QSize(300, 200));
    }

    void zoomWithoutLimits()
    {
        TEditForm& f = Open(Pattern(300, 200));
        f.ZoomLevel = 99999;
        run_->Click(2);
        QCOMPARE(f.ZoomLevel, 100000);
        QCOMPARE(Image()->size(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
        QCOMPARE(Image()->pos(), QPoint(0, 0));
        QCOMPARE(Image()->Picture().size(), QSize(300, 200));
        f.repaint();  // paints the visible corner only
        f.ZoomLevel = -99999;
        run_->Click(1);
        QCOMPARE(Image()->size(), QSize(0, 0));
        f.repaint();
    }

    void rotationsAndFlips_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("swaps");
        QTest::newRow("90 counter-clockwise") << 12 << int(kImgKitRotateLeft) << true;
        QTest::newRow("90 clockwise") << 13 << int(kImgKitRotateRight) << true;
        QTest::newRow("180") << 14 << int(kImgKitRotate180) << false;
        QTest::newRow("mirror") << 15 << int(kImgKitMirror) << false;
        QTest::newRow("flip") << 16 << int(kImgKitFlipVertical) << false;
    }
    void rotationsAndFlips()
    {
        QFETCH(int, button);
        QFETCH(int, code);
        QFETCH(bool, swaps);
        const ImageHandle original = Pattern(40, 30);
        TEditForm& f = Open(ImgKitCopy(original));
        run_->Click(button);
        const ImageHandle expected = ImgKitRotation(original, code);
        QCOMPARE(Picture(f.EditImage), Picture(expected));
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), swaps ? QSize(30, 40) : QSize(40, 30));
        QCOMPARE(Image()->size(), QSize(f.ImageWidth, f.ImageHeight));
        QCOMPARE(Image()->Picture(), Picture(expected));
    }

    void rotateTwiceIsHalfATurn()
    {
        const ImageHandle original = Pattern(40, 30);
        TEditForm& f = Open(ImgKitCopy(original));
        run_->Click(1);  // at level 0 the control follows the recorded size
        run_->Click(12);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(30, 40));
        QCOMPARE(Image()->size(), QSize(15, 20));
        run_->Click(12);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(40, 30));
        QCOMPARE(Image()->size(), QSize(20, 15));
        QCOMPARE(Picture(f.EditImage), Picture(ImgKitRotation(original, kImgKitRotate180)));
    }

    void trimAtLevelZero()
    {
        const ImageHandle original = Pattern(400, 300);
        TEditForm& f = Open(ImgKitCopy(original));
        run_->Click(1);
        QCOMPARE(Image()->size(), QSize(200, 150));
        Drag(Image(), QPoint(10, 20), QPoint(60, 70));
        QVERIFY(!Shape()->isHidden());
        QCOMPARE(ShapeOnImage(), QRect(10, 20, 50, 50));
        // Stored at twice its size on the screen.
        QCOMPARE(Cut(), QRect(20, 40, 100, 100));
        run_->Click(6);
        QVERIFY(run_->prompt.shown.empty());
        QVERIFY(Shape()->isHidden());
        QCOMPARE(SizeOf(f.EditImage), QSize(100, 100));
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(100, 100));
        QCOMPARE(Picture(f.EditImage), Picture(ImgKitRectCut(original, 20, 40, 120, 140)));
        QCOMPARE(Image()->size(), QSize(50, 50));  // still at level 0
    }

    void dragStopsAtTheEdges_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QRect>("cut");
        QTest::newRow("level 1 past right and bottom") << 1 << QPoint(350, 250) << QPoint(520, 460)
                                                       << QRect(350, 250, 50, 50);
        QTest::newRow("level 2 past right and bottom") << 2 << QPoint(700, 500) << QPoint(900, 700)
                                                       << QRect(350, 250, 50, 50);
        QTest::newRow("level 0 past right and bottom") << 0 << QPoint(150, 100) << QPoint(300, 200)
                                                       << QRect(300, 200, 100, 100);
        QTest::newRow("level 1 past left and top") << 1 << QPoint(50, 40) << QPoint(-30, -90)
                                                   << QRect(0, 0, 50, 40);
    }
    void dragStopsAtTheEdges()
    {
        QFETCH(int, level);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QRect, cut);
        const ImageHandle original = Pattern(400, 300);
        TEditForm& f = Open(ImgKitCopy(original));
        while (f.ZoomLevel > level)
            run_->Click(1);
        while (f.ZoomLevel < level)
            run_->Click(2);
        Drag(Image(), from, to);
        QCOMPARE(Cut(), cut);
        run_->Click(6);
        QCOMPARE(SizeOf(f.EditImage), cut.size());
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), cut.size());
        QCOMPARE(Picture(f.EditImage),
                 Picture(ImgKitRectCut(original, cut.x(), cut.y(), cut.right() + 1, cut.bottom() + 1)));
    }

    void rectangleDraggedUpLeftIsNormalised()
    {
        const ImageHandle original = Pattern(400, 300);
        TEditForm& f = Open(ImgKitCopy(original));
        Drag(Image(), QPoint(100, 80), QPoint(40, 30));
        QCOMPARE(Cut(), QRect(40, 30, 60, 50));
        QCOMPARE(ShapeOnImage(), QRect(40, 30, 60, 50));
        run_->Click(6);
        QVERIFY(Texts().empty());
        QCOMPARE(Picture(f.EditImage), Picture(ImgKitRectCut(original, 40, 30, 100, 80)));
    }

    void trimNeedsARectangle()
    {
        TEditForm& f = Open(Pattern(400, 300));
        // Before any rectangle.
        run_->Click(6);
        QCOMPARE(Texts(), std::vector<QString>{TEditForm::NoCutAreaMessage()});
        QCOMPARE(run_->prompt.shown.back().caption, QString());
        QCOMPARE(SizeOf(f.EditImage), QSize(400, 300));

        // Once after a drag, a second time without a new one.
        Drag(Image(), QPoint(10, 10), QPoint(110, 60));
        run_->Click(6);
        QCOMPARE(Texts().size(), std::size_t(1));
        QCOMPARE(SizeOf(f.EditImage), QSize(100, 50));
        const uint8_t* block = f.EditImage.Data();
        run_->Click(6);
        QCOMPARE(Texts().size(), std::size_t(2));
        QCOMPARE(Texts().back(), TEditForm::NoCutAreaMessage());
        QCOMPARE(f.EditImage.Data(), block);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(100, 50));
    }

    void clickWithoutDragIsRefused()
    {
        TEditForm& f = Open(Pattern(400, 300));
        const uint8_t* block = f.EditImage.Data();
        SendMouse(Image(), QEvent::MouseButtonPress, QPoint(50, 50), Qt::LeftButton, Qt::LeftButton);
        SendMouse(Image(), QEvent::MouseButtonRelease, QPoint(50, 50), Qt::LeftButton, Qt::NoButton);
        QVERIFY(!Shape()->isHidden());
        run_->Click(6);
        QCOMPARE(Texts(), std::vector<QString>{TEditForm::NoCutAreaMessage()});
        QCOMPARE(f.EditImage.Data(), block);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(400, 300));

        // A line (no height) is no area either.
        Drag(Image(), QPoint(10, 10), QPoint(200, 10));
        run_->Click(6);
        QCOMPARE(Texts().size(), std::size_t(2));
        QCOMPARE(f.EditImage.Data(), block);
    }

    void rectangleFollowsTheZoom()
    {
        TEditForm& f = Open(Pattern(400, 300));
        Drag(Image(), QPoint(100, 80), QPoint(201, 181));
        QCOMPARE(Cut(), QRect(100, 80, 101, 101));
        run_->Click(1);
        QCOMPARE(ShapeOnImage(), QRect(50, 40, 50, 50));
        run_->Click(2);
        run_->Click(2);
        QCOMPARE(f.ZoomLevel, 2);
        QCOMPARE(ShapeOnImage(), QRect(200, 160, 202, 202));
        // A rectangle dragged at level 2 is stored at half its size on the screen.
        Drag(Image(), QPoint(21, 41), QPoint(121, 141));
        QCOMPARE(Cut(), QRect(10, 20, 50, 50));
    }

    void resetGivesBackTheOpeningPicture()
    {
        const ImageHandle original = Pattern(400, 300);
        run_ = std::make_unique<EditorRun>();
        TEditForm& f = run_->Open(ImgKitCopy(original));
        run_->Click(13);
        run_->Click(1);
        Drag(Image(), QPoint(5, 5), QPoint(100, 80));
        run_->Click(6);
        run_->Click(18);
        run_->Click(20);
        run_->prompt.modalHandlers.push_back([](QDialog& d) {
            d.show();
            d.findChild<QRadioButton*>(QStringLiteral("RadioGroup1_Item1"))->click();
            d.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("40"));
            d.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(QStringLiteral("50"));
            QTest::keyClick(d.findChild<QLineEdit*>(QStringLiteral("Edit2")), Qt::Key_Return);
            return d.result();
        });
        run_->Click(7);
        W<QSlider>("tbR")->setValue(10);
        run_->Click("SpeedButton23");
        QCOMPARE(SizeOf(f.EditImage), QSize(50, 40));
        QVERIFY(Texts().empty());

        run_->Click(3);
        QCOMPARE(Bytes(f.EditImage), Bytes(original));
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(400, 300));
        QCOMPARE(f.ZoomLevel, 1);
        QCOMPARE(Image()->geometry(), Centred(QSize(400, 300)));
        QCOMPARE(Image()->Picture(), Picture(original));
        for (const char* bar : {"tbR", "tbG", "tbB"})
            QCOMPARE(W<QSlider>(bar)->value(), 0);
        QVERIFY(!f.ColorPreviewActive);
        // Reset again, after more edits: still the opening picture.
        run_->Click(15);
        run_->Click(3);
        QCOMPARE(Bytes(f.EditImage), Bytes(original));
    }

    void escapeDiscardsEnterKeeps()
    {
        struct Case {
            const char* how;
            int accepted;
        };
        const Case cases[] = {{"Escape", 0}, {"Return", 1}, {"Enter", 1}, {"SpeedButton10", 0}, {"SpeedButton11", 1}};
        for (const Case& c : cases) {
            TEditForm& f = Open(Pattern(40, 30));
            run_->Click(12);
            const QString how = QLatin1String(c.how);
            if (how == QLatin1String("Escape"))
                QTest::keyClick(W("ScrollBox"), Qt::Key_Escape);
            else if (how == QLatin1String("Return"))
                QTest::keyClick(W("tbG"), Qt::Key_Return);
            else if (how == QLatin1String("Enter"))
                QTest::keyClick(&f, Qt::Key_Enter);
            else
                run_->Click(c.how);
            QVERIFY2(!f.isVisible(), c.how);
            QCOMPARE(f.Accepted, c.accepted);
            QCOMPARE(f.result(), c.accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
            // The current picture stays for the caller; the reset copy is gone.
            QCOMPARE(SizeOf(f.EditImage), QSize(30, 40));
            QVERIFY(!f.OriginalImage);
        }
    }

    void keysAreIgnoredDuringAPreview()
    {
        TEditForm& f = Open(Pattern(400, 300));
        for (int i = 0; i < 3; ++i)
            run_->Click(2);
        W<QSlider>("tbR")->setValue(5);
        QVERIFY(f.ColorPreviewActive);
        QTest::keyClick(&f, Qt::Key_Escape);
        QTest::keyClick(W("ScrollBox"), Qt::Key_Return);
        QTest::keyClick(W("tbG"), Qt::Key_Escape);
        QTest::keyClick(&f, Qt::Key_Enter);
        QTest::keyClick(&f, Qt::Key_Down);
        QVERIFY(f.isVisible());
        QCOMPARE(f.Accepted, 0);
        QCOMPARE(W<QScrollArea>("ScrollBox")->verticalScrollBar()->value(), 0);
        // After the preview the keys work again.
        run_->Click("SpeedButton23");
        QTest::keyClick(&f, Qt::Key_Down);
        QCOMPARE(W<QScrollArea>("ScrollBox")->verticalScrollBar()->value(), 80);
        QTest::keyClick(&f, Qt::Key_Return);
        QVERIFY(!f.isVisible());
        QCOMPARE(f.Accepted, 1);
    }

    void arrowKeysScroll()
    {
        TEditForm& f = Open(Pattern(400, 300));
        for (int i = 0; i < 3; ++i)
            run_->Click(2);
        QCOMPARE(Image()->size(), QSize(1600, 1200));
        QScrollBar* h = W<QScrollArea>("ScrollBox")->horizontalScrollBar();
        QScrollBar* v = W<QScrollArea>("ScrollBox")->verticalScrollBar();
        QVERIFY(h->maximum() > 300);
        QVERIFY(v->maximum() > 300);
        QWidget* box = W("ScrollBox");  // the window sees the keys first
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(v->value(), 80);
        QTest::keyClick(box, Qt::Key_Up);
        QTest::keyClick(box, Qt::Key_Up);
        QCOMPARE(v->value(), 0);
        for (int i = 0; i < 10; ++i)
            QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(v->value(), v->maximum());
        QTest::keyClick(box, Qt::Key_Right);
        QTest::keyClick(box, Qt::Key_Right);
        QCOMPARE(h->value(), 160);
        QTest::keyClick(box, Qt::Key_Left);
        QCOMPARE(h->value(), 80);
        QTest::keyClick(box, Qt::Key_End);
        QCOMPARE(h->value(), h->maximum());
        QCOMPARE(v->value(), v->maximum());
        QTest::keyClick(&f, Qt::Key_Home);
        QCOMPARE(h->value(), 0);
        QTest::keyClick(box, Qt::Key_Left);
        QCOMPARE(h->value(), 0);
        QVERIFY(f.isVisible());
    }

    void toolbarDragAndItsPlaceAtClose()
    {
        run_ = std::make_unique<EditorRun>();
        run_->settings.EditToolBarX = 100;
        run_->settings.EditToolBarY = 200;
        run_->settings.KMode = 5;
        TEditForm& f = run_->Open(Pattern(40, 30));
        auto* bar = W<TPanel>("ToolBar");
        auto* handle = W("ToolBarHandle");
        QCOMPARE(bar->pos(), QPoint(100, 200));

        const QPoint grab(30, 8);
        const QPoint start = handle->mapToGlobal(grab);
        SendMouse(handle, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(f.Dragging);
        for (const QPoint step : {QPoint(25, 15), QPoint(60, 40), QPoint(-150, -260)}) {
            const QPoint pointer = start + step;
            SendMouse(handle, QEvent::MouseMove, handle->mapFromGlobal(pointer), Qt::NoButton, Qt::LeftButton);
            QCOMPARE(bar->pos(), QPoint(100, 200) + step);
            // The grabbed point stays under the pointer.
            QCOMPARE(handle->mapToGlobal(grab), pointer);
            QCOMPARE(QPoint(f.GrabX, f.GrabY), grab);
        }
        SendMouse(handle, QEvent::MouseButtonRelease, handle->mapFromGlobal(start + QPoint(-150, -260)),
                  Qt::LeftButton, Qt::NoButton);
        QVERIFY(!f.Dragging);
        // Partly off the screen is allowed; moves without a press do nothing.
        QCOMPARE(bar->pos(), QPoint(-50, -60));
        SendMouse(handle, QEvent::MouseMove, QPoint(90, 9), Qt::NoButton, Qt::NoButton);
        QCOMPARE(bar->pos(), QPoint(-50, -60));

        QTest::keyClick(&f, Qt::Key_Escape);
        QCOMPARE(run_->settings.EditToolBarX, -50);
        QCOMPARE(run_->settings.EditToolBarY, -60);
        const Settings stored = run_->Stored();
        QCOMPARE(stored.EditToolBarX, -50);
        QCOMPARE(stored.EditToolBarY, -60);
        QCOMPARE(stored.KMode, 5);  // the whole store is written
    }

    void drawingFailureIsReported()
    {
        TEditForm& f = Open(Malformed());
        QCOMPARE(Texts(), std::vector<QString>{TEditForm::TooLargeMessage()});
        QCOMPARE(run_->prompt.shown[0].kind, ScriptedPrompt::Shown::Box);
        QCOMPARE(run_->prompt.shown[0].caption, QString());
        QCOMPARE(run_->prompt.shown[0].buttons, BoxButtons::Ok);
        // Editing goes on; Enter keeps the picture as it is.
        QVERIFY(f.isVisible());
        QTest::keyClick(&f, Qt::Key_Return);
        QCOMPARE(f.Accepted, 1);
        QVERIFY(f.EditImage);
    }

    void failedStepKeepsThePicture_data()
    {
        QTest::addColumn<int>("button");
        for (int b : {3, 4, 5, 9, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22})
            QTest::addRow("SpeedButton%d", b) << b;
    }
    void failedStepKeepsThePicture()
    {
        QFETCH(int, button);
        TEditForm& f = Open(Malformed());
        run_->prompt.shown.clear();
        const QByteArray before = Bytes(f.EditImage);
        const uint8_t* block = f.EditImage.Data();
        run_->Click(button);
        QCOMPARE(Texts(), std::vector<QString>{TEditForm::ProcessFailedMessage()});
        QCOMPARE(f.EditImage.Data(), block);
        QCOMPARE(Bytes(f.EditImage), before);
        QVERIFY(!f.WaitWindow());
    }

    void failedTrimKeepsThePicture()
    {
        TEditForm& f = Open(Malformed());
        run_->prompt.shown.clear();
        const uint8_t* block = f.EditImage.Data();
        // The picture could not be drawn: the recorded size is the control's.
        const QSize recorded(f.ImageWidth, f.ImageHeight);
        QCOMPARE(recorded, Image()->size());
        Drag(Image(), QPoint(5, 5), QPoint(20, 20));
        QCOMPARE(Cut(), QRect(5, 5, 15, 15));
        run_->Click(6);
        QCOMPARE(Texts(), std::vector<QString>{TEditForm::ProcessFailedMessage()});
        QCOMPARE(f.EditImage.Data(), block);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), recorded);
    }
};

TOLVANE_UI_TEST(EditorTest);
#include "tst_Editor.moc"
