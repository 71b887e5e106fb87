// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading through Qt's image readers (see ImgKitQt.cpp).

#include "imaging/ImageHandle.h"

#include <QByteArray>

// The image in `bytes`, read by Qt's reader for `format` (when null, the
// format its first bytes show: PNG, GIF, WebP, PBM/PGM/PPM, XBM, XPM, ICO,
// CUR or WBMP), or null when it cannot be read, is damaged (each format's
// structure is walked before Qt sees it), or is larger than the block limits.
ImageHandle ImgKitQtDecode(const QByteArray& bytes, const char* format);
