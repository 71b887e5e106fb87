// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/GridPicture.h"

#include "core/ArchiveFiles.h"
#include "core/Decimal.h"
#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"

#include <QFileInfo>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <future>

namespace {

// The thumbnail box's rule for a page of width x height in a box scaled by
// `ratio`: t = min(160 ratio / W, 200 ratio / H), at most 1.
double FitScale(int width, int height, double ratio)
{
    return std::min({kThumbnailWidth * ratio / width, kThumbnailHeight * ratio / height, 1.0});
}

}  // namespace

GridPicture LoadGridPicture(const QString& thumbPath, const QString& imagePath, double pixelRatio)
{
    auto thumb = [&] { return GridPicture{ImgKitFileLoad(thumbPath), 1}; };
    if (pixelRatio <= 1 || imagePath.isEmpty())
        return thumb();
    const std::optional<QByteArray> bytes = ReadWholeFile(ResolveExistingPath(imagePath));
    if (!bytes)
        return thumb();
    const int boxWidth = int(kThumbnailWidth * pixelRatio), boxHeight = int(kThumbnailHeight * pixelRatio);
    QSize full;
    ImageHandle page = ImgKitJpegDecodeFitting(*bytes, boxWidth, boxHeight, &full);
    if (!page)
        page = ImgKitMemoryLoad(*bytes);  // BMP, TIFF: read whole
    if (!page || !ImgKitMakeFullColour(page))
        return thumb();
    const DibLayout decoded = DibLayoutOf(page);
    if (full.isEmpty())
        full = QSize(decoded.width, decoded.height);
    const int width = full.width(), height = full.height();
    const double t1 = FitScale(width, height, 1), t2 = FitScale(width, height, pixelRatio);
    if (t2 <= t1)
        return thumb();  // a page as small as its thumbnail: no more pixels
    const int w = ScaleSide(width, t2), h = ScaleSide(height, t2);
    ImageHandle fitted = (decoded.width == w && decoded.height == h) ? std::move(page) : ImgKitImageSize(page, w, h);
    if (!fitted)
        return thumb();
    // Drawn at the screen's ratio: the size of the thumbnail, give or take
    // the rounding of a pixel.
    return {std::move(fitted), pixelRatio};
}

namespace {

QImage MakePicture(const GridPictures::Files& files, double pixelRatio)
{
    GridPicture made = LoadGridPicture(files.thumbPath, files.imagePath, pixelRatio);
    QImage picture = made.image ? DibToQImage(made.image) : QImage();
    picture.setDevicePixelRatio(made.pixelRatio);
    return picture;
}

}  // namespace

GridPictures::~GridPictures()
{
    WaitForReadAhead();
}

void GridPictures::WaitForReadAhead()
{
    if (ahead_.valid())
        ahead_.wait();
}

QImage GridPictures::Kept(const QFileInfo& page, double pixelRatio) const
{
    std::lock_guard lock(mutex_);
    for (const Picture& k : kept_)
        if (k.path == page.filePath() && k.size == page.size() && k.changed == page.lastModified()
            && k.ratio == pixelRatio)
            return k.picture;
    return {};
}

void GridPictures::Keep(const QFileInfo& page, double pixelRatio, const QImage& picture)
{
    // Only a picture of the page itself is kept: a thumbnail shown in its
    // place is read again next time, as the page may have come meanwhile.
    if (picture.isNull() || picture.devicePixelRatio() != pixelRatio || !page.exists())
        return;
    std::lock_guard lock(mutex_);
    kept_.push_front({page.filePath(), page.size(), page.lastModified(), pixelRatio, picture});
    if (kept_.size() > kKept)
        kept_.pop_back();
}

std::vector<QImage> GridPictures::Load(const std::vector<Files>& wanted, double pixelRatio)
{
    std::vector<QImage> pictures(wanted.size());
    if (pixelRatio <= 1) {
        for (std::size_t s = 0; s < wanted.size(); ++s)
            if (!wanted[s].thumbPath.isEmpty())
                pictures[s] = MakePicture(wanted[s], pixelRatio);
        return pictures;
    }
    // What is being read ahead is most likely what is wanted now.
    WaitForReadAhead();
    // Kept pictures first; the others made side by side.
    std::vector<QFileInfo> pages(wanted.size());
    std::vector<std::future<QImage>> making(wanted.size());
    for (std::size_t s = 0; s < wanted.size(); ++s) {
        if (wanted[s].thumbPath.isEmpty())
            continue;
        pages[s] = QFileInfo(ResolveExistingPath(wanted[s].imagePath));
        pictures[s] = Kept(pages[s], pixelRatio);
        if (pictures[s].isNull())
            making[s] = std::async(std::launch::async, MakePicture, wanted[s], pixelRatio);
    }
    for (std::size_t s = 0; s < wanted.size(); ++s) {
        if (!making[s].valid())
            continue;
        pictures[s] = making[s].get();
        Keep(pages[s], pixelRatio, pictures[s]);
    }
    return pictures;
}

void GridPictures::ReadAhead(const std::vector<Files>& next, double pixelRatio)
{
    if (pixelRatio <= 1 || next.empty())
        return;
    if (ahead_.valid() && ahead_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;  // still reading the last ones
    ahead_ = std::async(std::launch::async, [this, next, pixelRatio] {
        // Behind the window's own work: painting shares the cores with it.
        ::setpriority(PRIO_PROCESS, ::gettid(), 10);
        for (const Files& files : next) {
            if (files.thumbPath.isEmpty())
                continue;
            const QFileInfo page(ResolveExistingPath(files.imagePath));
            if (Kept(page, pixelRatio).isNull())
                Keep(page, pixelRatio, MakePicture(files, pixelRatio));
        }
    });
}
