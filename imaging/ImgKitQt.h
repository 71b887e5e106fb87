#pragma once
// Reading through Qt's image readers (see ImgKitQt.cpp).

#include "imaging/ImageHandle.h"

#include <QByteArray>

// The image in `bytes`, read by Qt's reader for `format` (any format when
// null), or null when it cannot be read or is larger than the block limits.
ImageHandle ImgKitQtDecode(const QByteArray& bytes, const char* format);
