// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A picture shown in a scroll box at a zoom level, as the editor and the
// full-screen viewer show their page: the sizes of each level, where the
// control lands in the window, and the scrolled area around it. The control
// (TImage) paints only the exposed part of the picture, scaled: no level
// makes a picture larger than the screen in memory.

#include <QRect>
#include <QSize>
#include <QString>

class QScrollArea;
class QWidget;
class TImage;

namespace Zoom {

// What a window says when its picture cannot be drawn (no memory for the
// screen copy, or a block that is not a picture).
QString TooLargeMessage();

// The largest side Qt gives a widget; a zoomed control never asks for more.
int MaxControlSide();

// The control's size for a zoom level: level 1 is the natural size; levels
// 0, -1, -2 … divide by 2, 3, 4 …; levels 2, 3 … multiply by the level
// (truncating). Each side is clamped to 0 … MaxControlSide().
QSize ZoomedSize(int imageWidth, int imageHeight, int zoomLevel);

// A box on the picture (in its own pixels) where the picture of `pictureSize`
// is drawn into `target`: scaled with it, at least one pixel each way.
QRect BoxOnTarget(const QRect& box, QSize pictureSize, const QRect& target);

// Where a control of `controlSide` lands in a window of `windowSide`:
// centred, or at 0 when it is larger than the window.
int CenterOffset(int windowSide, int controlSide);

// A scroll position moved by `delta`, kept within 0 … maximum.
int ScrolledBy(int value, int delta, int maximum);

// The one place both windows size, place and scroll their picture.
// `contents` is the scroll box's widget, the parent of `image`.
class ZoomedPicture {
public:
    ZoomedPicture(QWidget* window, QScrollArea* box, QWidget* contents, TImage* image)
        : window_(window), box_(box), contents_(contents), image_(image)
    {
    }

    // Level 1: auto-size (the picture's own size); any other level: the
    // control takes ZoomedSize of the natural size and the picture is
    // stretched to it. Then CenterImage.
    void Apply(int naturalWidth, int naturalHeight, int zoomLevel);
    // The control centred in the window on each axis where it is smaller,
    // else at 0; the scrolled area follows.
    void CenterImage();
    // The scrolled area holds the control and is never smaller than the view.
    void UpdateScrollRange();

private:
    QWidget* window_;
    QScrollArea* box_;
    QWidget* contents_;
    TImage* image_;
};

}  // namespace Zoom
