// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ZoomView.h"

#include "widgets/Controls.h"

#include <QScrollArea>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace Zoom {

namespace {

int ClampSide(int64_t v)
{
    return int(std::clamp<int64_t>(v, 0, MaxControlSide()));
}

}  // namespace

QString TooLargeMessage()
{
    // Shrinking is the way out: tolvane-batch process writes a smaller copy.
    return QStringLiteral("画像が大きすぎるので表示できません。\n"
                          "tolvane-batch process で縮小してから読み込めます。");
}

int MaxControlSide()
{
    return QWIDGETSIZE_MAX;
}

QRect BoxOnTarget(const QRect& box, QSize pictureSize, const QRect& target)
{
    if (pictureSize.isEmpty())
        return {};
    const double sx = double(target.width()) / pictureSize.width();
    const double sy = double(target.height()) / pictureSize.height();
    const int left = target.left() + int(std::floor(box.left() * sx));
    const int top = target.top() + int(std::floor(box.top() * sy));
    const int right = target.left() + int(std::ceil((box.left() + box.width()) * sx));
    const int bottom = target.top() + int(std::ceil((box.top() + box.height()) * sy));
    return QRect(QPoint(left, top), QPoint(std::max(left, right - 1), std::max(top, bottom - 1)));
}

QSize ZoomedSize(int imageWidth, int imageHeight, int zoomLevel)
{
    if (zoomLevel == 1)
        return QSize(ClampSide(imageWidth), ClampSide(imageHeight));
    if (zoomLevel <= 0) {
        const int64_t d = 2 - int64_t(zoomLevel);
        return QSize(ClampSide(imageWidth / d), ClampSide(imageHeight / d));
    }
    return QSize(ClampSide(int64_t(zoomLevel) * imageWidth), ClampSide(int64_t(zoomLevel) * imageHeight));
}

int CenterOffset(int windowSide, int controlSide)
{
    return controlSide > windowSide ? 0 : (windowSide - controlSide) / 2;
}

int ScrolledBy(int value, int delta, int maximum)
{
    const int64_t v = int64_t(value) + delta;
    return int(std::clamp<int64_t>(v, 0, std::max(maximum, 0)));
}

void ZoomedPicture::Apply(int naturalWidth, int naturalHeight, int zoomLevel)
{
    if (zoomLevel == 1) {
        image_->SetAutoSize(true);
    } else {
        image_->SetAutoSize(false);
        image_->resize(ZoomedSize(naturalWidth, naturalHeight, zoomLevel));
    }
    CenterImage();
}

void ZoomedPicture::CenterImage()
{
    image_->move(CenterOffset(window_->width(), image_->width()), CenterOffset(window_->height(), image_->height()));
    UpdateScrollRange();
}

void ZoomedPicture::UpdateScrollRange()
{
    const QRect r = image_->geometry();
    const QSize view = box_->maximumViewportSize();
    const int64_t w = std::max<int64_t>(view.width(), int64_t(r.x()) + r.width());
    const int64_t h = std::max<int64_t>(view.height(), int64_t(r.y()) + r.height());
    contents_->resize(int(std::min<int64_t>(w, MaxControlSide())), int(std::min<int64_t>(h, MaxControlSide())));
}

}  // namespace Zoom
