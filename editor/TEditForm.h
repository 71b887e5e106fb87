// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page editor: a borderless full-screen window in which one page image is
// changed in memory before its caller stores it. A floating toolbar, dragged
// by its title strip, carries the tools: zoom, reset, automatic corrections,
// trim to a rectangle dragged on the picture, high-quality shrink and
// enlarge, automatic size, rotations and flips, brightness, contrast, gamma
// and a colour balance previewed in a small window before it is applied.
//
// Contract with a caller:
//   1. Move a 24-bit image into EditImage and run the editor modally
//      (Prompt::ExecModal).
//   2. While it runs the editor owns the image; a tool replaces it only by a
//      good result, so EditImage always holds a picture.
//   3. Afterwards read Accepted (1 keep, 0 discard) and take EditImage back.
// The editor never releases EditImage at close; OriginalImage (the copy
// taken for reset) is released at close.
//
// Keys (the window sees each key first): arrows scroll by 80 pixels, Home to
// the left edge, End to the right edge, Escape discards and closes, Enter
// keeps and closes. While a colour preview is open the window ignores keys.
//
// Failures: a step that yields no image, or an in-place step that fails,
// leaves the picture as it was and says "画像を処理できませんでした".

#include "imaging/ImageHandle.h"
#include "widgets/ZoomView.h"

#include <QDialog>
#include <QPointer>
#include <memory>

class Prompt;
class QSettings;
class QSlider;
class TfColorPreview;
class TfWait;
struct Settings;

namespace Ui {
class TEditForm;
}

class TEditForm : public QDialog {
    Q_OBJECT
public:
    TEditForm(Prompt& prompt, Settings& settings, QSettings& store, QWidget* owner);
    ~TEditForm() override;

    ImageHandle EditImage;        // the picture being edited; the caller's again after the run
    int Accepted = 0;             // 1 = keep, 0 = discard
    ImageHandle OriginalImage;    // copy taken when shown; for reset
    ImageHandle PreviewImage;     // reduced copy while a colour preview is open
    int ImageWidth = 0;           // recorded size of the edited picture
    int ImageHeight = 0;
    int StartWidth = 0;           // size when the window was shown
    int StartHeight = 0;
    int ZoomLevel = 1;            // 1 natural size; 0, -1 … half, third …; 2, 3 … twice, three times …
    bool Dragging = false;        // toolbar drag in progress
    bool Selecting = false;       // cut-rectangle drag in progress
    int GrabX = 0;                // pointer on the handle when a toolbar drag began
    int GrabY = 0;
    int SelStartX = 0;            // press point of the cut rectangle, image-control pixels
    int SelStartY = 0;
    int CutLeft = 0;              // the cut rectangle in picture pixels
    int CutTop = 0;
    int CutWidth = 0;
    int CutHeight = 0;
    bool ColorPreviewActive = false;
    bool SuppressTrackChange = false;  // the editor is moving the track bars itself

    // The messages the editor shows.
    static QString TooLargeMessage();
    static QString NoCutAreaMessage();
    static QString ProcessFailedMessage();
    static QString SizeRefusedMessage();

    // The window's operations.
    void FormShow();
    void ShowEditImage();
    void ApplyZoom();
    void CenterImage();
    void ShowWaitWindow();
    void CloseWaitWindow();
    // Returns whether the key was taken (and so kept from the focused control).
    bool FormKeyDown(int key);
    void FormClose();
    // Every way the window closes comes here: FormClose, then the dialog's end.
    void done(int result) override;

    // Toolbar drag; positions relative to the handle.
    void ToolBarHandleMouseDown(int x, int y);
    void ToolBarHandleMouseMove(int x, int y);
    void ToolBarHandleMouseUp();

    // Cut rectangle; positions in image-control pixels.
    void ImageMouseDown(int x, int y);
    void ImageMouseMove(int x, int y);
    void ImageMouseUp(int x, int y);

    // Tools.
    void SpeedButton1Click();   // zoom out
    void SpeedButton2Click();   // zoom in
    void SpeedButton3Click();   // reset
    void SpeedButton4Click();   // automatic brightness, contrast and colour balance
    void SpeedButton5Click();   // automatic brightness and contrast
    void SpeedButton6Click();   // trim
    void SpeedButton7Click();   // high-quality shrink
    void SpeedButton8Click();   // high-quality enlarge
    void SpeedButton9Click();   // automatic size
    void SpeedButton10Click();  // as Escape
    void SpeedButton11Click();  // as Enter
    void SpeedButton12Click();  // 90° counter-clockwise
    void SpeedButton13Click();  // 90° clockwise
    void SpeedButton14Click();  // 180°
    void SpeedButton15Click();  // mirror left to right
    void SpeedButton16Click();  // flip top to bottom
    void SpeedButton17Click();  // brightness down
    void SpeedButton18Click();  // brightness up
    void SpeedButton19Click();  // contrast down
    void SpeedButton20Click();  // contrast up
    void SpeedButton21Click();  // gamma down
    void SpeedButton22Click();  // gamma up
    void SpeedButton23Click();  // confirm the colour balance
    void tbRChange();           // any track bar moved
    void CancelColorPreview();  // the preview window was closed

    // The open colour preview, null when none is open.
    TfColorPreview* ColorPreview() const;
    // The wait window while one is shown.
    TfWait* WaitWindow() const { return wait_.get(); }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Rotate(int code, bool swapsSides);
    void ResizeTo(bool average);
    void AutoCorrect(bool colorBalance);
    void Brightness(double step);
    void Contrast(int c);
    void Gamma(int g);
    void Redraw();
    void ReportFailure();
    void RedrawCutShape();
    void UpdateScrollRange();
    Zoom::ZoomedPicture Picture() const;
    void SetToolButtonsEnabled(bool enabled);
    void ZeroTrackBars();
    // Back from a colour preview (confirmed or cancelled): preview image
    // gone, tools enabled, confirm disabled, bars at 0.
    void LeavePreviewState();
    void CloseWindow(int accepted);
    bool IsWellFormed24() const;

    Prompt& prompt_;
    Settings& settings_;
    QSettings& store_;
    std::unique_ptr<Ui::TEditForm> ui_;
    QPointer<TfColorPreview> preview_;
    std::unique_ptr<TfWait> wait_;
    bool closed_ = false;
};
