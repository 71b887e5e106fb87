// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/pdf/JpegHeader.h"

#include <cstring>

namespace {

std::optional<JpegHeader> Refuse(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

int Word(const uchar* p)
{
    return (p[0] << 8) | p[1];
}

}  // namespace

std::optional<JpegHeader> ReadJpegHeader(const QByteArray& bytes, QString* why)
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return Refuse(why, QStringLiteral("it is no JPEG file"));
    std::optional<JpegHeader> header;
    bool jfif = false;
    int adobeTransform = -1;
    qsizetype i = 2;
    while (true) {
        // A marker is 0xFF, any number of fill bytes 0xFF, and its code.
        if (i >= n || p[i] != 0xFF)
            return Refuse(why, QStringLiteral("the JPEG is damaged (no marker at byte %1)").arg(i));
        while (i < n && p[i] == 0xFF)
            ++i;
        if (i >= n)
            break;
        const uchar marker = p[i++];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // no length
        if (marker == 0xD9)
            return Refuse(why, QStringLiteral("the JPEG ends before its image data"));
        if (i + 2 > n)
            break;
        const int length = Word(p + i);
        if (length < 2 || i + length > n)
            break;
        const uchar* segment = p + i + 2;
        const int size = length - 2;
        if (marker == 0xDA) {
            if (!header)
                return Refuse(why, QStringLiteral("the JPEG has image data before its frame header"));
            header->jfif = jfif;
            header->adobeTransform = adobeTransform;
            return header;
        }
        // As libjpeg reads them: JFIF's APP0 of 14 bytes or more, Adobe's
        // APP14 of 12 (its transform is the twelfth), the last one counting.
        if (marker == 0xE0 && size >= 14 && std::memcmp(segment, "JFIF\0", 5) == 0)
            jfif = true;
        if (marker == 0xEE && size >= 12 && std::memcmp(segment, "Adobe", 5) == 0)
            adobeTransform = segment[11];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (header)
                return Refuse(why, QStringLiteral("the JPEG has two frame headers"));
            if (marker != 0xC0 && marker != 0xC1 && marker != 0xC2)
                return Refuse(why, QStringLiteral("the JPEG is lossless, hierarchical or arithmetic-coded (SOF%1)")
                                       .arg(marker - 0xC0));
            if (size < 6)
                break;
            JpegHeader h;
            const int precision = segment[0];
            h.height = Word(segment + 1);
            h.width = Word(segment + 3);
            h.components = segment[5];
            h.progressive = marker == 0xC2;
            if (precision != 8)
                return Refuse(why, QStringLiteral("the JPEG has %1 bits a sample, not 8").arg(precision));
            if (h.width == 0 || h.height == 0)
                return Refuse(why, QStringLiteral("the JPEG gives no size in its frame header"));
            if (h.components != 1 && h.components != 3 && h.components != 4)
                return Refuse(why, QStringLiteral("the JPEG has %1 colour components").arg(h.components));
            if (size < 6 + 3 * h.components)
                break;
            h.rgbIds = h.components == 3 && segment[6] == 'R' && segment[9] == 'G' && segment[12] == 'B';
            header = h;
        }
        i += length;
    }
    return Refuse(why, QStringLiteral("the JPEG is cut short before its image data"));
}

JpegColour JpegColourOf(const JpegHeader& h)
{
    const bool adobe = h.adobeTransform >= 0;
    switch (h.components) {
    case 1:
        return JpegColour::Grey;
    case 3:
        // libjpeg: JFIF means YCbCr, else Adobe's transform, else the
        // component names. A PDF reader: Adobe's transform, else YCbCr
        // unless told otherwise.
        if (adobe) {
            if (h.adobeTransform == 1)
                return JpegColour::YCbCr;
            if (h.adobeTransform == 0 && !h.jfif)
                return JpegColour::Rgb;
            return JpegColour::Ambiguous;
        }
        return !h.jfif && h.rgbIds ? JpegColour::Rgb : JpegColour::YCbCr;
    case 4:
        return !adobe || h.adobeTransform == 0 || h.adobeTransform == 2 ? JpegColour::InvertedCmyk
                                                                        : JpegColour::Ambiguous;
    default:
        return JpegColour::Ambiguous;
    }
}
