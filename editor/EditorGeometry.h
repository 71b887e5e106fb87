// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The editor's arithmetic, kept apart from the windows: zoomed control sizes,
// the conversion of the cut rectangle between image-control pixels and
// picture pixels, the clamping of a rectangle drag, the size of the colour
// preview, the colour-balance offsets and the sides computed by the resize
// dialog. Integer division truncates toward zero throughout.

#include "widgets/ZoomView.h"

#include <QRect>
#include <QSize>

namespace EditorGeometry {

// The zoom arithmetic is the one of every zoomed picture (widgets/ZoomView).
using Zoom::CenterOffset;
using Zoom::MaxControlSide;
using Zoom::ZoomedSize;

// One value of the cut rectangle from control pixels to picture pixels:
// multiplied by (2 - level) for level <= 0, divided by the level for
// level >= 1. Clamped to the int range.
int ToPicture(int controlValue, int zoomLevel);

// The inverse direction, used to redraw a stored rectangle on a new scale:
// divided by (2 - level) for level <= 0, multiplied by the level for
// level >= 1. Clamped to the int range.
int ToControl(int pictureValue, int zoomLevel);

// The extent of a rectangle drag along one axis: pointer - start, stopped at
// the control's edges (start + result stays within 0 … controlSide).
int DragExtent(int pointer, int start, int controlSide);

// A rectangle given by a corner and a signed extent, with its corners put in
// order (a drag up or to the left gives a negative width or height).
QRect Normalised(int left, int top, int width, int height);

// The cut rectangle in picture pixels as the trim uses it: normalised and
// clipped to the picture (0 … pictureWidth, 0 … pictureHeight). Empty when
// nothing of it lies inside.
QRect CutInPicture(const QRect& cut, int pictureWidth, int pictureHeight);

// The reduced size of the colour preview: the recorded size fitted into
// 200 x 200 (the longer side becomes 200), each side at least 1.
QSize PreviewSize(int imageWidth, int imageHeight);

// Colour-balance offsets from the three track-bar positions.
struct ColorOffsets {
    int red;
    int green;
    int blue;
    friend bool operator==(const ColorOffsets&, const ColorOffsets&) = default;
};
// red = r - (g + b) / 2, green = g - (r + b) / 2, blue = b - (r + g) / 2.
ColorOffsets OffsetsFor(int r, int g, int b);

// A side from a whole number divided by a double ratio: the quotient formed
// with a 64-bit significand, then truncated toward zero and clamped to the
// int range. A ratio that is zero or not finite gives 0.
int DivideSide(int side, double ratio);

// Whether a 24-bit image of width x height can be made at all (each side
// 1 … kMaxDibSide and the block within kMaxDibBytes).
bool DibSizeFits(int width, int height);

}  // namespace EditorGeometry
