// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the printed page's picture goes on the sheet.

#include <QRect>

// The rectangle, in the printer's device pixels and in the coordinates of its
// printable area, that a picture of bitmapWidth x bitmapHeight pixels is drawn
// into on a printable area of pageWidth x pageHeight: the picture keeps its
// proportions, spans 80 % of the printable area along the side that limits
// it, and is centred on the area.
//
// With rx = bitmapWidth / pageWidth and ry = bitmapHeight / pageHeight, r is
// the larger of the two (ry when they are equal); the picture is
//   w = trunc(bitmapWidth * 80 / r * 0.01), h = trunc(bitmapHeight * 80 / r * 0.01)
// device pixels (in double, in this order) and starts at
// ((pageWidth - w) / 2, (pageHeight - h) / 2) in integer division. The
// rectangle is exactly w x h: its last column is left + w - 1, its last row
// top + h - 1.
//
// Any size zero or negative gives an empty rectangle.
QRect PrintTargetRect(int pageWidth, int pageHeight, int bitmapWidth, int bitmapHeight);
