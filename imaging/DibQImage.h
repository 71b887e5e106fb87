// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Conversions between DIB blocks and Qt images (the framework's bitmaps).

#include "imaging/ImageHandle.h"

#include <QImage>

// The DIB's picture as a QImage, top row first, sharing nothing with the
// block. 1-bit → Format_Mono, 4- and 8-bit → Format_Indexed8 (the colour
// table taken over; an 8-bit block without one reads as grey), 24-bit →
// Format_BGR888. A null QImage for a malformed block.
QImage DibToQImage(const ImageHandle& image);

// A DIB block from any QImage: Format_Mono/MonoLSB → 1-bit, Format_Indexed8
// → 8-bit, Format_Grayscale8 → 8-bit with a grey table, everything else →
// 24-bit (transparent pixels laid on white). Null for a null image or one
// too large.
ImageHandle QImageToDib(const QImage& image);
