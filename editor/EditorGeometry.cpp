// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/EditorGeometry.h"

#include "imaging/ImageHandle.h"

#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace EditorGeometry {

namespace {

int ClampToInt(int64_t v)
{
    return int(std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

int ToPicture(int controlValue, int zoomLevel)
{
    if (zoomLevel <= 0)
        return ClampToInt(int64_t(controlValue) * (2 - int64_t(zoomLevel)));
    return controlValue / zoomLevel;
}

int ToControl(int pictureValue, int zoomLevel)
{
    if (zoomLevel <= 0)
        return ClampToInt(int64_t(pictureValue) / (2 - int64_t(zoomLevel)));
    return ClampToInt(int64_t(pictureValue) * zoomLevel);
}

int DragExtent(int pointer, int start, int controlSide)
{
    if (pointer > controlSide)
        return ClampToInt(int64_t(controlSide) - start);
    if (pointer < 0)
        return ClampToInt(-int64_t(start));
    return ClampToInt(int64_t(pointer) - start);
}

QRect Normalised(int left, int top, int width, int height)
{
    int64_t x0 = left, x1 = int64_t(left) + width;
    int64_t y0 = top, y1 = int64_t(top) + height;
    if (x1 < x0)
        std::swap(x0, x1);
    if (y1 < y0)
        std::swap(y0, y1);
    // As QRect keeps it: the last column and row (x1 - 1, y1 - 1) and the
    // width and height must each fit an int, so a drag that reaches past the
    // int range is cut short there.
    constexpr int64_t kMax = std::numeric_limits<int>::max();
    x0 = std::max<int64_t>(x0, std::numeric_limits<int>::min() + int64_t(1));
    y0 = std::max<int64_t>(y0, std::numeric_limits<int>::min() + int64_t(1));
    x1 = std::min({x1, kMax + 1, x0 + kMax});
    y1 = std::min({y1, kMax + 1, y0 + kMax});
    return QRect(QPoint(int(x0), int(y0)), QPoint(int(x1 - 1), int(y1 - 1)));
}

QRect CutInPicture(const QRect& cut, int pictureWidth, int pictureHeight)
{
    const QRect n = Normalised(cut.x(), cut.y(), cut.width(), cut.height());
    const int64_t x0 = std::max<int64_t>(n.x(), 0);
    const int64_t y0 = std::max<int64_t>(n.y(), 0);
    const int64_t x1 = std::min<int64_t>(int64_t(n.x()) + n.width(), pictureWidth);
    const int64_t y1 = std::min<int64_t>(int64_t(n.y()) + n.height(), pictureHeight);
    if (x1 <= x0 || y1 <= y0)
        return QRect();
    return QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
}

QSize PreviewSize(int imageWidth, int imageHeight)
{
    const int64_t w = std::max(imageWidth, 1);
    const int64_t h = std::max(imageHeight, 1);
    if (h < w)
        return QSize(200, int(std::max<int64_t>(h * 200 / w, 1)));
    return QSize(int(std::max<int64_t>(w * 200 / h, 1)), 200);
}

ColorOffsets OffsetsFor(int r, int g, int b)
{
    return {r - (g + b) / 2, g - (r + b) / 2, b - (r + g) / 2};
}

int DivideSide(int side, double ratio)
{
    if (ratio == 0 || !std::isfinite(ratio))
        return 0;
    const long double q = static_cast<long double>(side) / static_cast<long double>(ratio);
    if (q >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (q <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(q);
}

bool DibSizeFits(int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxDibSide || height > kMaxDibSide)
        return false;
    const uint64_t bytes = sizeof(BitmapInfoHeader) + uint64_t(DibStride(width, 24)) * uint64_t(height);
    return bytes <= kMaxDibBytes;
}

}  // namespace EditorGeometry
