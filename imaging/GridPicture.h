// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The picture a slot of the grid shows. On a screen of one device pixel per
// point it is the page's thumbnail. On a denser screen (a scale factor of 2,
// a 4K monitor) the thumbnail has too few pixels for the slot: the page
// image is fitted into the thumbnail box in device pixels instead (a JPEG
// page decoded at a reduced size on the way), and drawn at that ratio, so
// the slot is as large as before and sharp. The thumbnail whenever the page
// image cannot be read, or has no more pixels to give.

#include "imaging/ImageHandle.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <deque>
#include <future>
#include <mutex>
#include <vector>

struct GridPicture {
    ImageHandle image;  // null when neither file can be read
    double pixelRatio = 1;  // device pixels per point the image is drawn at
};

// imagePath as the list names it: looked up (in any letter case) only on a
// denser screen.
GridPicture LoadGridPicture(const QString& thumbPath, const QString& imagePath, double pixelRatio);

// The pictures of the grid's slots as they are drawn, each with its device
// pixel ratio set; a null picture for a slot whose files cannot be read (or
// that is not asked for: empty paths). On a dense screen the page images of
// the slots are read side by side, the last pictures made are kept (by
// file, size and time of change), so that a step of one page reads one page,
// and the next pages are read ahead while the user looks.
class GridPictures {
public:
    struct Files {
        QString thumbPath;
        QString imagePath;
    };
    ~GridPictures();
    std::vector<QImage> Load(const std::vector<Files>& wanted, double pixelRatio);
    // Reads the pictures of the pages likely shown next (the next four) in
    // the background, into those kept; nothing on a plain screen, where the
    // thumbnails are read as they are shown.
    void ReadAhead(const std::vector<Files>& next, double pixelRatio);
    // Until the reading ahead has ended.
    void WaitForReadAhead();

private:
    struct Picture {
        QString path;
        qint64 size = 0;
        QDateTime changed;
        double ratio = 1;
        QImage picture;
    };
    QImage Kept(const QFileInfo& page, double pixelRatio) const;
    void Keep(const QFileInfo& page, double pixelRatio, const QImage& picture);

    static constexpr std::size_t kKept = 16;
    mutable std::mutex mutex_;
    std::deque<Picture> kept_;
    std::future<void> ahead_;
};
