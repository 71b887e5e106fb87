// SPDX-License-Identifier: GPL-3.0-or-later
// The full-screen viewer through the main window: the three ways in, page
// turning past both ends, zoom and scrolling, closing, the tool panel's drag
// and its stored place, the clipboard copy, and the failures that start no
// viewer.

#include "tests/ui/MainWindowFixture.h"

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "viewer/TViewerForm.h"
#include "widgets/Controls.h"
#include "widgets/ZoomView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <memory>

namespace {

void SendWheel(QWidget* w, int dy)
{
    QWheelEvent e(QPointF(10, 10), QPointF(w->mapToGlobal(QPoint(10, 10))), QPoint(), QPoint(0, dy), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

bool BackdropShown()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("Dummy") && w->isVisible())
            return true;
    return false;
}

// The pages of the test category, each of its own size.
const QSize kSizes[] = {{1024, 1448}, {400, 300}, {600, 500}};

}  // namespace

class ViewerTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    void Open()
    {
        MainWindowFixture::Open();
        QCOMPARE(form_->Grid.P, 3);
    }

    TViewerForm& V() const { return form_->Viewer(); }
    TImage* Image() const { return V().findChild<TImage*>(QStringLiteral("Image")); }
    QScrollBar* VBar() const { return V().findChild<QScrollArea*>(QStringLiteral("ScrollBox"))->verticalScrollBar(); }
    QToolButton* Button(int n) const
    {
        return V().findChild<QToolButton*>(QStringLiteral("SpeedButton%1").arg(n));
    }
    void Press(int n) { QTest::mouseClick(Button(n), Qt::LeftButton); }

    void ClickPage(int slot)
    {
        QTest::mouseClick(form_->SlotAt(slot).image, Qt::LeftButton);
        QCOMPARE(form_->Grid.K, form_->Grid.T + slot);
    }

    // The next showing of the viewer: shown and exposed, then `step` runs
    // (it must close the viewer); what the showing displayed is recorded.
    QList<QSize> shownSizes_;
    void OnNextShowing(std::function<void(TViewerForm&)> step)
    {
        prompt_.modalHandlers.push_back([this, step](QDialog& d) {
            auto& v = static_cast<TViewerForm&>(d);
            v.show();
            if (!QTest::qWaitForWindowExposed(&v))
                return int(QDialog::Rejected);
            shownSizes_ << v.Picture().size();
            step(v);
            if (v.isVisible())
                v.done(QDialog::Rejected);  // the step failed to close it
            return v.result();
        });
    }

private slots:
    void init()
    {
        BeginTest();
        shownSizes_.clear();
        QVERIFY(MakeCategory(Root(), QStringLiteral("Cat")));
        QByteArray list = "00000003\r\n";
        for (int i = 0; i < 3; ++i) {
            const QString name = QStringLiteral("0000000%1.jpg").arg(i + 1);
            QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("Image/") + name), CreateDib(kSizes[i].width(), kSizes[i].height(), 3), 90));
            list += name.toLatin1() + "\r\n";
        }
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")), list));
    }

    void cleanup()
    {
        EndTest();
        QVERIFY(!BackdropShown());
    }

    void theThreeWaysInOpenTheClickedPage()
    {
        Open();
        ClickPage(1);
        for (int i = 0; i < 3; ++i)
            OnNextShowing([](TViewerForm& v) {
                QVERIFY(BackdropShown());
                QCOMPARE(v.geometry(), v.screen()->geometry());
                QTest::keyClick(&v, Qt::Key_Escape);
            });
        QTest::mouseClick(form_->findChild<QToolButton*>(QStringLiteral("Menu01")), Qt::LeftButton);
        form_->findChild<QAction*>(QStringLiteral("N1"))->trigger();
        QTest::mouseDClick(form_->SlotAt(1).image, Qt::LeftButton);
        QCOMPARE(shownSizes_, (QList<QSize>{kSizes[1], kSizes[1], kSizes[1]}));
        QCOMPARE(form_->Grid.K, 1);
        QVERIFY(!BackdropShown());
    }

    void withoutAClickedPageNothingOpens()
    {
        Open();
        QCOMPARE(form_->Grid.K, -1);
        form_->Menu01Click();
        QVERIFY(prompt_.shown.empty());
    }

    void turningStopsAtBothEndsAndLeavesTheClickedPage()
    {
        Open();
        ClickPage(0);
        int zoomAtShow = 0;
        OnNextShowing([&](TViewerForm& v) {
            Press(7);  // zoomed; the next showing starts at 1 again
            Press(3);  // previous, on the first page: the first again
        });
        OnNextShowing([&](TViewerForm& v) {
            zoomAtShow = v.ZoomLevel;
            QCOMPARE(Image()->size(), kSizes[0]);
            Press(4);
        });
        OnNextShowing([&](TViewerForm&) { Press(4); });
        OnNextShowing([&](TViewerForm&) { Press(4); });  // on the last: the last again
        OnNextShowing([&](TViewerForm&) { Press(3); });
        OnNextShowing([&](TViewerForm& v) { QTest::keyClick(&v, Qt::Key_Escape); });
        form_->Menu01Click();
        QCOMPARE(zoomAtShow, 1);
        QCOMPARE(shownSizes_, (QList<QSize>{kSizes[0], kSizes[0], kSizes[1], kSizes[2], kSizes[2], kSizes[1]}));
        QCOMPARE(form_->Grid.K, 0);
        QVERIFY(prompt_.Texts().empty());
    }

    // The words a search found are outlined on their page, and only there.
    void foundWordsAreOutlinedOnTheirPageOnly()
    {
        Open();
        ClickPage(1);
        const std::vector<QRect> words{QRect(10, 20, 30, 12), QRect(50, 20, 40, 12)};
        QList<std::vector<QRect>> outlined;
        OnNextShowing([&](TViewerForm&) { outlined << Image()->Outlines(); Press(4); });
        OnNextShowing([&](TViewerForm&) { outlined << Image()->Outlines(); Press(3); });
        OnNextShowing([&](TViewerForm& v) { outlined << Image()->Outlines(); QTest::keyClick(&v, Qt::Key_Escape); });
        form_->ShowPageInViewer(words);
        QCOMPARE(outlined, (QList<std::vector<QRect>>{words, {}, words}));
        OnNextShowing([&](TViewerForm& v) { outlined << Image()->Outlines(); QTest::keyClick(&v, Qt::Key_Escape); });
        form_->Menu01Click();
        QVERIFY(outlined.last().empty());
    }

    void zoomHasNoBoundAndComesBackThroughAutoSize()
    {
        Open();
        ClickPage(0);
        OnNextShowing([&](TViewerForm& v) {
            const QSize screen = v.size();
            const QSize base = kSizes[0];
            QCOMPARE(QSize(v.BaseWidth, v.BaseHeight), base);
            QVERIFY(Image()->AutoSize());
            const std::pair<int, QSize> out[] = {
                {8, QSize(512, 724)}, {8, QSize(341, 482)}, {8, QSize(256, 362)},
                {7, QSize(341, 482)}, {7, QSize(512, 724)}};
            for (auto [button, size] : out) {
                Press(button);
                QCOMPARE(Image()->size(), size);
                QVERIFY(!Image()->AutoSize());
                // Centred where it is smaller than the window, else at the edge.
                QCOMPARE(Image()->x(), Zoom::CenterOffset(screen.width(), size.width()));
                QCOMPARE(Image()->y(), Zoom::CenterOffset(screen.height(), size.height()));
            }
            Press(7);
            QCOMPARE(v.ZoomLevel, 1);
            QVERIFY(Image()->AutoSize());
            QCOMPARE(Image()->size(), base);
            for (int i = 0; i < 4; ++i)
                Press(7);
            QCOMPARE(v.ZoomLevel, 5);
            QCOMPARE(Image()->size(), base * 5);
            // The picture held is still the page itself.
            QCOMPARE(v.Picture().size(), base);
            QTest::keyClick(&v, Qt::Key_Escape);
            QCOMPARE(v.ZoomLevel, 1);
            QVERIFY(Image()->AutoSize());
        });
        form_->Menu01Click();
        QCOMPARE(shownSizes_.size(), 1);
    }

    void aSmallPageIsCentredAndALargeOneStartsAtTheEdge()
    {
        Open();
        ClickPage(1);
        OnNextShowing([&](TViewerForm& v) {
            QCOMPARE(Image()->pos(), QPoint((v.width() - 400) / 2, (v.height() - 300) / 2));
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        form_->Menu01Click();
        ClickPage(0);
        OnNextShowing([&](TViewerForm& v) {
            QCOMPARE(Image()->x(), v.width() >= 1024 ? (v.width() - 1024) / 2 : 0);
            QCOMPARE(Image()->y(), 0);
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        form_->Menu01Click();
        QCOMPARE(shownSizes_.size(), 2);
    }

    void scrollingStepsBy80WithinTheRange()
    {
        Open();
        ClickPage(0);
        OnNextShowing([&](TViewerForm& v) {
            QScrollBar* bar = VBar();
            const int range = bar->maximum();
            QVERIFY(range > 160);
            QCOMPARE(bar->value(), 0);
            QTest::keyClick(&v, Qt::Key_Up);
            QCOMPARE(bar->value(), 0);
            QTest::keyClick(&v, Qt::Key_Down);
            QCOMPARE(bar->value(), 80);
            Press(6);
            QCOMPARE(bar->value(), 160);
            Press(5);
            QCOMPARE(bar->value(), 80);
            SendWheel(v.findChild<QScrollArea*>(QStringLiteral("ScrollBox"))->viewport(), -120);
            QCOMPARE(bar->value(), 160);
            SendWheel(v.findChild<QScrollArea*>(QStringLiteral("ScrollBox"))->viewport(), 120);
            QCOMPARE(bar->value(), 80);
            QTest::keyClick(&v, Qt::Key_End);
            QCOMPARE(bar->value(), range);
            QTest::keyClick(&v, Qt::Key_Down);
            QCOMPARE(bar->value(), range);
            QTest::keyClick(&v, Qt::Key_Home);
            QCOMPARE(bar->value(), 0);
            // Other keys do nothing, and there are no page-turning keys.
            for (Qt::Key key : {Qt::Key_PageDown, Qt::Key_Right, Qt::Key_Return, Qt::Key_Space})
                QTest::keyClick(&v, key);
            QVERIFY(v.isVisible());
            QCOMPARE(v.PageTurn, int(TViewerForm::kNoTurn));
            QTest::keyClick(&v, Qt::Key_End);
            Press(4);  // next page: it opens at the top
        });
        OnNextShowing([&](TViewerForm& v) {
            QCOMPARE(VBar()->value(), 0);
            QTest::mouseClick(Image(), Qt::LeftButton);  // a click on the picture closes
        });
        form_->Menu01Click();
        QCOMPARE(shownSizes_, (QList<QSize>{kSizes[0], kSizes[1]}));
    }

    void theToolPanelKeepsItsPlaceAcrossARestart()
    {
        Open();
        ClickPage(1);
        auto* panel = V().findChild<QWidget*>(QStringLiteral("Panel1"));
        auto* title = V().findChild<QWidget*>(QStringLiteral("Panel2"));
        QCOMPARE(panel->geometry(), QRect(0, 0, 261, 53));  // the stored default place
        QCOMPARE(title->height(), 16);
        OnNextShowing([&](TViewerForm& v) {
            SendMouse(title, QEvent::MouseButtonPress, QPoint(50, 8), Qt::LeftButton, Qt::LeftButton);
            SendMouse(title, QEvent::MouseMove, QPoint(90, 9), Qt::NoButton, Qt::LeftButton);
            // The grabbed spot is under the pointer again: a move to it stays.
            SendMouse(title, QEvent::MouseMove, QPoint(50, 8), Qt::NoButton, Qt::LeftButton);
            SendMouse(title, QEvent::MouseMove, QPoint(150, 108), Qt::NoButton, Qt::LeftButton);
            SendMouse(title, QEvent::MouseButtonRelease, QPoint(150, 108), Qt::LeftButton, Qt::NoButton);
            SendMouse(title, QEvent::MouseMove, QPoint(300, 300), Qt::NoButton, Qt::NoButton);  // released: no move
            QCOMPARE(panel->pos(), QPoint(140, 101));
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        form_->Menu01Click();
        form_.reset();  // program end: the viewer goes and writes the place
        QCOMPARE(AppSettingsStore().value(QStringLiteral("ViewerToolBarX")).toString(), QStringLiteral("140"));
        QCOMPARE(AppSettingsStore().value(QStringLiteral("ViewerToolBarY")).toString(), QStringLiteral("101"));
        Open();
        QCOMPARE(V().ToolPanelPos(), QPoint(140, 101));
    }

    void aPlaceOffTheScreenIsBroughtBack()
    {
        AppSettingsStore().setValue(QStringLiteral("ViewerToolBarX"), QStringLiteral("5000"));
        AppSettingsStore().setValue(QStringLiteral("ViewerToolBarY"), QStringLiteral("-40"));
        Open();
        QCOMPARE(V().ToolPanelPos(), QPoint(5000, -40));
        ClickPage(1);
        OnNextShowing([&](TViewerForm& v) {
            const QRect panel = v.findChild<QWidget*>(QStringLiteral("Panel1"))->geometry();
            QVERIFY(v.rect().contains(panel));
            QCOMPARE(panel.topLeft(), QPoint(v.width() - 261, 0));
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        form_->Menu01Click();
    }

    void theClipboardGetsThePageAtItsNaturalSize()
    {
        Open();
        ClickPage(2);
        OnNextShowing([&](TViewerForm& v) {
            Press(7);
            Press(7);
            QCOMPARE(v.ZoomLevel, 3);
            Press(2);
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        form_->Menu01Click();
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data && data->hasImage());
        QCOMPARE(QGuiApplication::clipboard()->image().size(), kSizes[2]);
    }

    void savingAZoomedPageWritesItWholeAndRemembersTheFolder()
    {
        const QString out = Root() + QStringLiteral("/saved");
        QVERIFY(QDir().mkpath(out));
        QVERIFY(WriteTestFile(out + QStringLiteral("/Image001.jpg"), "x"));
        QVERIFY(QDir().mkpath(out + QStringLiteral("/Image002")));
        AppSettingsStore().setValue(QStringLiteral("LastSavePath"), out);
        Open();
        ClickPage(2);
        SaveFileRequest asked;
        prompt_.saveFileHandlers.push_back([&](const SaveFileRequest& r) {
            asked = r;
            return SaveFileAnswer{r.folder + QStringLiteral("/scan"), 1};  // the BMP filter
        });
        OnNextShowing([&](TViewerForm& v) {
            Press(7);
            Press(7);
            Press(1);
            QVERIFY(v.isVisible());  // the viewer stays on the page
            QTest::keyClick(&v, Qt::Key_Escape);
        });
        form_->Menu01Click();
        QCOMPARE(asked.folder, out);
        QCOMPARE(asked.fileName, QStringLiteral("Image003"));
        QCOMPARE(SizeOf(out + QStringLiteral("/scan.bmp")), kSizes[2]);
        QCOMPARE(AppSettingsStore().value(QStringLiteral("LastSavePath")).toString(), out);
        QVERIFY(prompt_.Texts().empty());
    }

    void aMissingPageImageStartsNoViewer()
    {
        Open();
        ClickPage(1);
        QVERIFY(QFile::remove(Cat(QStringLiteral("Image/00000002.jpg"))));
        form_->Menu01Click();
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("画像ファイルを読み込めません")});
        QCOMPARE(prompt_.shown.front().kind, ScriptedPrompt::Shown::Dlg);
        QCOMPARE(prompt_.shown.front().icon, DlgIcon::Error);
        QVERIFY(!BackdropShown());

        // Turning onto a page that cannot be read ends the viewing there.
        prompt_.Clear();
        ClickPage(0);
        OnNextShowing([&](TViewerForm&) { Press(4); });
        form_->Menu01Click();
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("画像ファイルを読み込めません")});
        QCOMPARE(shownSizes_.size(), 1);
        QVERIFY(!BackdropShown());
    }

    void aPictureThatCannotBeDrawnIsReported()
    {
        Open();
        ClickPage(1);
        // A block that is no picture: no screen copy can be made of it.
        form_->ViewerLoad = [](const QString&) { return ImageHandle::NewDib(40, 30, 8, 0); };
        form_->Menu01Click();
        QCOMPARE(prompt_.Texts(), std::vector<QString>{Zoom::TooLargeMessage()});
        QCOMPARE(prompt_.shown.front().kind, ScriptedPrompt::Shown::Box);
        QCOMPARE(prompt_.shown.front().caption, QString());
        QVERIFY(!prompt_.shown.front().text.contains(QStringLiteral("Windows")));
        QVERIFY(prompt_.shown.front().text.contains(QStringLiteral("tolvane-batch process")));
        QVERIFY(!BackdropShown());
    }

    void theToolPanelIsAsDesigned()
    {
        Open();
        const char* hints[] = {"ファイルへ保存", "クリップボードへコピー", "前頁へ", "次頁へ", "スクロール上",
                               "スクロール下", "ズームイン", "ズームアウト", "メイン画面に戻る"};
        const int xs[] = {4, 32, 60, 88, 116, 144, 172, 200, 228};
        for (int i = 0; i < 9; ++i) {
            QToolButton* b = Button(i + 1);
            QVERIFY(b);
            QCOMPARE(b->geometry(), QRect(xs[i], 20, 29, 29));
            QCOMPARE(b->toolTip(), QString::fromUtf8(hints[i]));
        }
        QCOMPARE(V().findChild<TPanel*>(QStringLiteral("Panel2"))->Caption(), QStringLiteral("  Image Operation"));
    }
};

TOLVANE_UI_TEST(ViewerTest);

#include "tst_Viewer.moc"
