// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// JPEG files made in code for the damage tests, the memory tests and the
// hostile-file benchmark: real files from TurboJPEG, and the same files with
// their scan cut short or their frame header patched to claim a giant
// picture.

#include <QByteArray>

#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace jpegtest {

// A whole file from TurboJPEG; empty when TurboJPEG fails. `pixels` is top
// row first, tightly packed.
inline QByteArray TjEncode(const uint8_t* pixels, int width, int height, int pixelFormat, int subsamp, int quality,
                           int flags = 0)
{
    tjhandle tj = tjInitCompress();
    if (!tj)
        return {};
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj, pixels, width, 0, height, pixelFormat, &jpeg, &size, subsamp, quality, flags);
    tjDestroy(tj);
    QByteArray out;
    if (rc == 0)
        out = QByteArray(reinterpret_cast<const char*>(jpeg), qsizetype(size));
    tjFree(jpeg);
    return out;
}

// Noise over a gentle gradient: a file of a few kB that codes every block
// with real coefficients. Channels as the pixel format has them.
inline QByteArray NoisyJpeg(int width, int height, int pixelFormat, int subsamp, int quality = 85, int flags = 0,
                            uint32_t seed = 1)
{
    const int channels = tjPixelSize[pixelFormat];
    std::vector<uint8_t> px(std::size_t(width) * std::size_t(height) * std::size_t(channels));
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                px[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * std::size_t(channels) + std::size_t(c)] =
                    uint8_t((x * 3 + y * 2 + c * 50) % 200 + int(rng() % 56));
    return TjEncode(px.data(), width, height, pixelFormat, subsamp, quality, flags);
}

// A flat black picture of any size, made without touching memory for its
// pixels: the source comes from calloc, whose untouched pages read as zero
// from the system's shared zero page.
inline QByteArray FlatJpeg(int width, int height, int quality)
{
    std::unique_ptr<uint8_t, void (*)(void*)> px(
        static_cast<uint8_t*>(std::calloc(std::size_t(width) * std::size_t(height), 3)), std::free);
    if (!px)
        return {};
    return TjEncode(px.get(), width, height, TJPF_BGR, TJSAMP_420, quality);
}

struct Marker {
    uint8_t code;
    qsizetype at;  // offset of the 0xFF
    qsizetype end;  // offset after the segment (for SOS: after its entropy-coded data)
};

// The markers of a file in order, from SOI to EOI, with the entropy-coded
// data after each SOS skipped (stuffed zeros and restart markers stay
// inside it).
inline std::vector<Marker> MarkersOf(const QByteArray& jpeg)
{
    std::vector<Marker> list;
    const auto* d = reinterpret_cast<const uint8_t*>(jpeg.constData());
    const qsizetype n = jpeg.size();
    qsizetype pos = 2;
    while (pos + 1 < n && d[pos] == 0xFF) {
        Marker m{d[pos + 1], pos, pos + 2};
        if (m.code == 0xD9) {
            list.push_back(m);
            break;
        }
        if (pos + 3 >= n)
            break;
        m.end = pos + 2 + ((qsizetype(d[pos + 2]) << 8) | d[pos + 3]);
        if (m.code == 0xDA) {
            qsizetype e = m.end;
            while (e + 1 < n && !(d[e] == 0xFF && d[e + 1] != 0x00 && (d[e + 1] < 0xD0 || d[e + 1] > 0xD7)))
                ++e;
            m.end = e;
        }
        list.push_back(m);
        pos = m.end;
    }
    return list;
}

inline qsizetype FirstMarker(const QByteArray& jpeg, uint8_t code)
{
    for (const Marker& m : MarkersOf(jpeg))
        if (m.code == code)
            return m.at;
    return -1;
}

// The same file with its frame header (SOF0 or SOF2) claiming another size.
inline QByteArray WithClaimedSize(QByteArray jpeg, int width, int height)
{
    for (const Marker& m : MarkersOf(jpeg)) {
        if (m.code != 0xC0 && m.code != 0xC2)
            continue;
        // FF Cn, length (2), precision (1), height (2), width (2)
        jpeg[m.at + 5] = char(height >> 8);
        jpeg[m.at + 6] = char(height & 255);
        jpeg[m.at + 7] = char(width >> 8);
        jpeg[m.at + 8] = char(width & 255);
        return jpeg;
    }
    return {};
}

// The file cut inside the entropy-coded data of its scan number `scan`
// (0 = first; -1 = last) at `fraction` of that data, closed with EOI.
inline QByteArray CutInScan(const QByteArray& jpeg, double fraction, int scan = -1)
{
    std::vector<Marker> scans;
    for (const Marker& m : MarkersOf(jpeg))
        if (m.code == 0xDA)
            scans.push_back(m);
    if (scans.empty())
        return {};
    const Marker& s = scan < 0 ? scans.back() : scans.at(std::size_t(scan));
    const auto* d = reinterpret_cast<const uint8_t*>(jpeg.constData());
    const qsizetype dataAt = s.at + 2 + ((qsizetype(d[s.at + 2]) << 8) | d[s.at + 3]);
    const qsizetype cut = dataAt + qsizetype(double(s.end - dataAt) * fraction);
    return jpeg.left(cut) + QByteArray("\xFF\xD9", 2);
}

struct NamedFile {
    const char* name;
    QByteArray bytes;
};

// Small files whose frame headers claim pictures that fit the block limits
// but whose data holds a few blocks. Each must be refused, cheaply. The
// originals are given too: they are real files and must load.
struct HostilePair {
    const char* name;
    QByteArray original;
    QByteArray hostile;
};

inline std::vector<HostilePair> GiantHeaderFiles()
{
    std::vector<HostilePair> v;
    const QByteArray cmyk = NoisyJpeg(40, 40, TJPF_CMYK, TJSAMP_444);
    v.push_back({"cmyk 16000 x 16000", cmyk, WithClaimedSize(cmyk, 16000, 16000)});
    const QByteArray rgb = NoisyJpeg(32, 32, TJPF_BGR, TJSAMP_420);
    v.push_back({"rgb 18000 x 18000", rgb, WithClaimedSize(rgb, 18000, 18000)});
    const QByteArray grey = NoisyJpeg(24, 24, TJPF_GRAY, TJSAMP_GRAY);
    v.push_back({"grey 8603 x 32767", grey, WithClaimedSize(grey, 8603, 32767)});
    const QByteArray prog = NoisyJpeg(32, 32, TJPF_BGR, TJSAMP_444, 85, TJFLAG_PROGRESSIVE);
    v.push_back({"progressive rgb 18000 x 18000", prog, WithClaimedSize(prog, 18000, 18000)});
    return v;
}

// Every hostile file of the memory tests and the benchmark: the giant
// headers, and a real page whose scan is cut short and closed with EOI.
inline std::vector<NamedFile> HostileFiles()
{
    std::vector<NamedFile> v;
    for (HostilePair& p : GiantHeaderFiles())
        v.push_back({p.name, p.hostile});
    v.push_back({"cut scan 2480 x 3508", CutInScan(NoisyJpeg(2480, 3508, TJPF_BGR, TJSAMP_420, 80), 0.3)});
    return v;
}

}  // namespace jpegtest
