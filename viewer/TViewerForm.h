// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The full-screen viewer: one page at its stored resolution on the whole
// screen, with zoom, scrolling, page turning, a copy to the clipboard and
// saving as an image file. Created once with the main window and shown
// modally for each page; the main window's ShowPageInViewer drives it.

#include "imaging/ImageHandle.h"
#include "widgets/ZoomView.h"

#include <QDialog>
#include <functional>
#include <memory>

class Prompt;
class QSettings;
struct Settings;

namespace Ui {
class TViewerForm;
}

class TViewerForm : public QDialog {
    Q_OBJECT
public:
    // settings/store: the program's settings record (the tool panel's place
    // is kept in it) and the store it is written to.
    TViewerForm(Prompt& prompt, Settings& settings, QSettings& store, QWidget* owner = nullptr);
    ~TViewerForm() override;

    // What TForm1::ShowPageInViewer reads after a showing.
    enum { kNoTurn = 0, kNextPage = 1, kPreviousPage = 2 };
    int PageTurn = kNoTurn;
    int ZoomLevel = 1;
    int BaseWidth = 0;
    int BaseHeight = 0;
    bool Dragging = false;
    int GrabX = 0;
    int GrabY = 0;

    // Scroll position 0, then the page drawn into Image. False when it cannot
    // be drawn (the caller says so and shows nothing).
    bool DrawPage(ImageHandle& page);
    // Boxes on the drawn page (in its pixels) outlined until the next page,
    // such as the words a search found on it.
    void OutlineOnPage(std::vector<QRect> boxes);
    // The whole screen, and the picture centred on each axis where it is
    // smaller than the screen, else at the left or top edge.
    void PlaceOnScreen();

    // The tool panel's place in window coordinates (LoadSettings puts it
    // there at start-up).
    void SetToolPanelPos(int left, int top);
    QPoint ToolPanelPos() const;

    // The picture as drawn (its natural size, whatever the zoom).
    QImage Picture() const;

    // Handlers.
    void FormShow();
    void FormClose();
    void FormDestroy();
    bool FormKeyDown(int key);
    void FormMouseWheelDown();
    void FormMouseWheelUp();
    void ImageClick();
    void Panel2MouseDown(QPoint local);
    void Panel2MouseMove(QPoint local);
    void Panel2MouseUp();
    void SpeedButton1Click();  // save to a file
    void SpeedButton2Click();  // copy to the clipboard
    void SpeedButton3Click();  // previous page
    void SpeedButton4Click();  // next page
    void SpeedButton5Click();  // scroll up
    void SpeedButton6Click();  // scroll down
    void SpeedButton7Click();  // zoom in
    void SpeedButton8Click();  // zoom out
    void SpeedButton9Click();  // back to the main window

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Zoom::ZoomedPicture Zoomed() const;
    void ApplyZoom();
    void ScrollBy(int delta);
    void KeepToolPanelOnScreen();
    void Close(int pageTurn);

    Prompt& prompt_;
    Settings& settings_;
    QSettings& store_;
    std::unique_ptr<Ui::TViewerForm> ui_;
};
