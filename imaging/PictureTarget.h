// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Anything that shows one picture: the image control of a window, the
// viewer's page, a printer preview. TMDIB::DrawToImage hands it a picture;
// the target replaces what it showed and refreshes itself.

#include <QImage>

class PictureTarget {
public:
    virtual ~PictureTarget() = default;
    virtual void SetPicture(const QImage& picture) = 0;
};
