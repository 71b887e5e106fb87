// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a PDF needs to know of a JPEG file to carry it as it is (a DCTDecode
// image): its size, components, coding and the markers that say what its
// colours are, read from the markers before the first scan. Nothing is
// decoded.

#include <QByteArray>
#include <QString>

#include <optional>

struct JpegHeader {
    int width = 0;
    int height = 0;
    int components = 0;  // 1 grey, 3 colour (YCbCr or RGB), 4 CMYK or YCCK
    bool progressive = false;
    bool jfif = false;        // a JFIF APP0 marker
    int adobeTransform = -1;  // an Adobe APP14 marker's transform (0 none, 1 YCbCr, 2 YCCK); -1 without one
    bool rgbIds = false;      // three components named 'R', 'G', 'B'

    bool operator==(const JpegHeader&) const = default;
};

// The header of the JPEG in `bytes`; nullopt, with the reason in `why`, when
// they are no JPEG, are cut short before the first scan, or are a JPEG a PDF
// reader cannot be relied on to show: not 8 bits a sample, arithmetic,
// lossless or hierarchical coding, a height given only after the scan (DNL),
// or 2 components.
std::optional<JpegHeader> ReadJpegHeader(const QByteArray& bytes, QString* why = nullptr);

// How a PDF reader is to take the decoded components so that it shows the
// colours the program's decoder (libjpeg's rules) shows:
//   Grey, YCbCr: as PDF readers do by default;
//   Rgb: no colour transform (/ColorTransform 0);
//   InvertedCmyk: CMYK or YCCK stored as 255 - ink, as Adobe writes it and as
//     the program decodes every four-component JPEG (/Decode [1 0 1 0 1 0 1 0]);
//   Ambiguous: the markers contradict each other (JFIF with an Adobe
//     transform of none) or name an unknown transform, so readers differ:
//     the picture has to be decoded and carried losslessly instead.
enum class JpegColour { Grey, YCbCr, Rgb, InvertedCmyk, Ambiguous };
JpegColour JpegColourOf(const JpegHeader& header);
