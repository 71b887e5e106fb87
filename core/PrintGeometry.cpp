// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PrintGeometry.h"

#include <cmath>

QRect PrintTargetRect(int pageWidth, int pageHeight, int bitmapWidth, int bitmapHeight)
{
    if (pageWidth <= 0 || pageHeight <= 0 || bitmapWidth <= 0 || bitmapHeight <= 0)
        return QRect();
    const double rx = double(bitmapWidth) / double(pageWidth);
    const double ry = double(bitmapHeight) / double(pageHeight);
    const double r = rx > ry ? rx : ry;
    // Both sides are scaled by the same r, so w <= 0.8 x pageWidth and
    // h <= 0.8 x pageHeight: the conversions cannot overflow.
    const int w = int(std::trunc(double(bitmapWidth) * 80 / r * 0.01));
    const int h = int(std::trunc(double(bitmapHeight) * 80 / r * 0.01));
    const int left = (pageWidth - w) / 2;
    const int top = (pageHeight - h) / 2;
    return QRect(left, top, w, h);
}
