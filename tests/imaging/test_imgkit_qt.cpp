// SPDX-License-Identifier: GPL-3.0-or-later
// The formats read through Qt's image readers: damaged files are no image
// (a cut anywhere, broken GIF blocks), small files that claim giant pictures
// cost little, a 600 dpi A4 scan loads within a few times its own size, and
// the conversion of every QImage format to a block is exact.

#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "test_imgkit_images.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <vector>

extern char** environ;

using namespace imgtest;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAsan = true;
#else
constexpr bool kUnderAsan = false;
#endif
#else
constexpr bool kUnderAsan = false;
#endif

// --- Writing test files ------------------------------------------------------

QByteArray QtWritten(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0)
        writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

// A colour picture with some structure, opaque.
QImage Pattern(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb((x * 41 + y * 7) & 255, (x * 13 + y * 59 + 30) & 255, (x * x + y * 3 + 100) & 255);
    }
    return image;
}

// An 8-bit palette picture of `colours` colours.
QImage IndexedPattern(int w, int h, int colours)
{
    QImage image(w, h, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < colours; ++i)
        table.append(qRgb((i * 67 + 13) & 255, (i * 29 + 200) & 255, (255 - i * 11) & 255));
    image.setColorTable(table);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uint8_t((x * 5 + y * 3 + x * y) % colours);
    return image;
}

void PutLe16(QByteArray& b, int v) { b.append(char(v & 255)).append(char((v >> 8) & 255)); }

int BitLength(int v)
{
    int bits = 0;
    for (; v > 0; v >>= 1)
        ++bits;
    return bits;
}

// LZW codes of the pixel indices, packed and cut into sub-blocks, as a GIF
// writer does: a clear code first and whenever the table fills (unless
// `deferClear`, then the table is kept full to the end).
QByteArray LzwBlocks(const std::vector<uint8_t>& pixels, int minCode, bool deferClear = false)
{
    const int clear = 1 << minCode;
    QByteArray packed;
    uint32_t acc = 0;
    int accBits = 0;
    auto put = [&](int code, int width) {
        acc |= uint32_t(code) << accBits;
        accBits += width;
        while (accBits >= 8) {
            packed.append(char(acc & 255));
            acc >>= 8;
            accBits -= 8;
        }
    };
    std::vector<int16_t> dict(4096 * 256, -1);
    int next = clear + 2;
    auto width = [&] { return std::min(12, BitLength(next - 1)); };
    put(clear, minCode + 1);
    int prefix = pixels[0];
    for (std::size_t i = 1; i < pixels.size(); ++i) {
        const int p = pixels[i];
        const int known = dict[std::size_t(prefix) * 256 + p];
        if (known >= 0) {
            prefix = known;
            continue;
        }
        put(prefix, width());
        if (next < 4096) {
            dict[std::size_t(prefix) * 256 + p] = int16_t(next++);
            if (next == 4096 && !deferClear) {
                put(clear, 12);
                std::fill(dict.begin(), dict.end(), int16_t(-1));
                next = clear + 2;
            }
        }
        prefix = p;
    }
    put(prefix, width());
    put(clear + 1, width());
    if (accBits > 0)
        packed.append(char(acc & 255));
    QByteArray blocks;
    for (qsizetype at = 0; at < packed.size(); at += 255) {
        const qsizetype len = std::min<qsizetype>(255, packed.size() - at);
        blocks.append(char(len)).append(packed.mid(at, len));
    }
    return blocks.append('\0');
}

struct GifOptions {
    bool extensions = false;   // graphic control, comment and application blocks
    bool secondFrame = false;  // a second, smaller frame after the first
    bool localTable = false;   // the first frame's colours in a table of its own
    bool deferClear = false;
    int screenWidth = 0, screenHeight = 0;  // 0: the picture's size
};

// A GIF of an Indexed8 picture.
QByteArray MakeGif(const QImage& image, const GifOptions& o = {})
{
    const int w = image.width(), h = image.height();
    const int tableBits = std::max(1, BitLength(int(image.colorCount()) - 1));
    const int minCode = std::max(2, tableBits);
    auto table = [&] {
        QByteArray t;
        for (int i = 0; i < (1 << tableBits); ++i) {
            const QRgb c = i < image.colorCount() ? image.color(i) : qRgb(0, 0, 0);
            t.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
        }
        return t;
    };
    QByteArray gif("GIF89a");
    PutLe16(gif, o.screenWidth ? o.screenWidth : w);
    PutLe16(gif, o.screenHeight ? o.screenHeight : h);
    gif.append(char(o.localTable ? 0x70 : 0xF0 | (tableBits - 1))).append('\0').append('\0');
    if (!o.localTable)
        gif += table();
    if (o.extensions) {
        gif += QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
        gif += QByteArray("\x21\xFE\x0Ascanned by\x05 hand\x00", 20);
        gif += QByteArray("\x21\xF9\x04\x00\x00\x00\x00\x00", 8);
    }
    std::vector<uint8_t> pixels;
    pixels.reserve(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        pixels.insert(pixels.end(), image.constScanLine(y), image.constScanLine(y) + w);
    gif.append(',');
    PutLe16(gif, 0);
    PutLe16(gif, 0);
    PutLe16(gif, w);
    PutLe16(gif, h);
    gif.append(char(o.localTable ? 0x80 | (tableBits - 1) : 0));
    if (o.localTable)
        gif += table();
    gif.append(char(minCode)).append(LzwBlocks(pixels, minCode, o.deferClear));
    if (o.secondFrame) {
        gif.append(',');
        for (int v : {1, 1, 3, 2})
            PutLe16(gif, v);
        gif.append('\0').append(char(minCode)).append(LzwBlocks(std::vector<uint8_t>(6, 1), minCode));
    }
    return gif.append(';');
}

QByteArray PlainPnm(char kind, int w, int h)
{
    QByteArray b = QByteArray("P") + kind + "\n# plain\n" + QByteArray::number(w) + " " + QByteArray::number(h) + "\n";
    if (kind != '1')
        b += "255\n";
    const int samples = kind == '3' ? 3 : 1;
    for (int y = 0; y < h; ++y) {  // as netpbm writes them: one row a line
        QByteArrayList row;
        for (int x = 0; x < w * samples; ++x)
            row += kind == '1' ? QByteArray((x + y) % 3 ? "1" : "0") : QByteArray::number((x * 37 + y * 11) % 256);
        b += row.join(' ') + "\n";
    }
    return b;
}

struct Sample {
    std::string name;
    QByteArray bytes;
    QImage picture;  // what it shows
};

// A valid file of every kind Qt reads for us, each loading to its picture.
std::vector<Sample> QtSamples()
{
    std::vector<Sample> s;
    const QImage colour = Pattern(23, 17);
    QImage alpha = colour.convertToFormat(QImage::Format_ARGB32);
    alpha.setPixel(3, 4, qRgba(10, 20, 30, 0));
    alpha.setPixel(5, 6, qRgba(200, 100, 50, 128));
    const QImage grey = colour.convertToFormat(QImage::Format_Grayscale8);
    const QImage indexed = IndexedPattern(21, 13, 16);
    const QImage mono = colour.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    s.push_back({"png rgb", QtWritten(colour, "png"), colour});
    s.push_back({"png alpha", QtWritten(alpha, "png"), alpha});
    s.push_back({"png grey", QtWritten(grey, "png"), grey});
    s.push_back({"png palette", QtWritten(indexed, "png"), indexed});
    s.push_back({"webp lossless", QtWritten(colour, "webp", 100), colour});
    s.push_back({"webp lossy", QtWritten(colour, "webp", 80), QImage()});
    s.push_back({"pbm", QtWritten(mono, "pbm"), mono});
    s.push_back({"pgm", QtWritten(grey, "pgm"), grey});
    s.push_back({"ppm", QtWritten(colour, "ppm"), colour});
    s.push_back({"pbm plain", PlainPnm('1', 13, 5), QImage()});
    s.push_back({"pgm plain", PlainPnm('2', 13, 5), QImage()});
    s.push_back({"ppm plain", PlainPnm('3', 13, 5), QImage()});
    s.push_back({"xbm", QtWritten(mono, "xbm"), mono});
    s.push_back({"xpm", QtWritten(indexed, "xpm"), indexed});
    s.push_back({"ico", QtWritten(colour, "ico"), colour});
    s.push_back({"cur", QtWritten(colour, "cur"), colour});
    s.push_back({"wbmp", QtWritten(mono, "wbmp"), mono});
    s.push_back({"gif", MakeGif(indexed), indexed});
    GifOptions all;
    all.extensions = all.secondFrame = all.localTable = true;
    s.push_back({"gif with extensions, local table, two frames", MakeGif(indexed, all), indexed});
    s.push_back({"gif 256 colours", MakeGif(IndexedPattern(40, 30, 256)), IndexedPattern(40, 30, 256)});
    s.push_back({"gif 2 colours", MakeGif(IndexedPattern(40, 30, 2)), IndexedPattern(40, 30, 2)});
    return s;
}

// A block of what a QImage shows, transparent pixels laid on white.
ImageHandle Expected(const QImage& picture)
{
    QImage white(picture.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    QPainter(&white).drawImage(0, 0, picture);
    return QImageToDib(white);
}

TEST(ImgKitQt, EveryKindOfFileLoadsToItsPicture)
{
    for (const Sample& s : QtSamples()) {
        SCOPED_TRACE(s.name);
        const ImageHandle img = ImgKitMemoryLoad(s.bytes);
        ASSERT_TRUE(img);
        ASSERT_TRUE(PaddingIsZero(img));
        if (!s.picture.isNull()) {
            EXPECT_TRUE(SameColours(img, Expected(s.picture)));
        }
    }
}

// --- Truncation --------------------------------------------------------------

TEST(ImgKitQt, NoCutOfAnyFileGivesAnImage)
{
    for (const Sample& s : QtSamples()) {
        SCOPED_TRACE(s.name);
        const int n = int(s.bytes.size());
        std::vector<int> cuts;
        if (n <= 6000) {
            for (int c = 0; c < n; ++c)
                cuts.push_back(c);
        } else {
            for (int c = 0; c < 400; ++c)
                cuts.push_back(c);
            for (int c = 400; c < n - 400; c += n / 300)
                cuts.push_back(c);
            for (int c = n - 400; c < n; ++c)
                cuts.push_back(c);
        }
        int given = 0;
        for (int c : cuts)
            if (ImgKitMemoryLoad(s.bytes.left(c)) && given++ < 5)
                ADD_FAILURE() << "cut at " << c << " of " << n << " gives an image";
        EXPECT_EQ(given, 0);
    }
}

TEST(ImgKitQt, FormatsWithoutASoundCheckAreNotRead)
{
    // ICNS: Qt's reader cannot tell its size before decoding it.
    const QByteArray icns = QtWritten(Pattern(16, 16), "icns");
    ASSERT_FALSE(icns.isEmpty());
    EXPECT_FALSE(ImgKitMemoryLoad(icns));
    // A plain-text file Qt's XPM reader would take for a picture if it
    // had no closing brace: still refused, and so is a complete one with
    // no pixels.
    EXPECT_FALSE(ImgKitMemoryLoad("/* XPM */\nstatic char *x[] = {\n\"1 1 1 1\",\n\"a c #ff0000\",\n\"a\""));
    EXPECT_TRUE(ImgKitMemoryLoad("/* XPM */\nstatic char *x[] = {\n\"1 1 1 1\",\n\"a c #ff0000\",\n\"a\"};\n"));
}

// --- GIF structure -----------------------------------------------------------

TEST(ImgKitQt, GifWithBrokenBlocksIsNoImage)
{
    const QImage picture = IndexedPattern(30, 20, 16);
    const QByteArray gif = MakeGif(picture);
    ASSERT_TRUE(SameColours(ImgKitMemoryLoad(gif), Expected(picture)));
    const qsizetype descriptor = 13 + 48;
    ASSERT_EQ(gif[descriptor], ',');
    const qsizetype data = descriptor + 10;  // the LZW minimum code size

    // No trailer, or something else where it belongs.
    EXPECT_FALSE(ImgKitMemoryLoad(gif.left(gif.size() - 1)));
    EXPECT_FALSE(ImgKitMemoryLoad(gif.left(gif.size() - 1) + "X"));
    // A sub-block that runs past the end of the file.
    EXPECT_FALSE(ImgKitMemoryLoad(gif.left(data + 1) + QByteArray("\x40" "0123456789;", 12)));
    // A first frame without data: the terminator right after the code size.
    EXPECT_FALSE(ImgKitMemoryLoad(gif.left(data + 1) + QByteArray("\0;", 2)));
    // A frame whose data ends (with its end code) before every pixel is
    // there: the codes of a 30 x 20 frame, declared as 30 x 21.
    QByteArray shortData = gif;
    shortData[descriptor + 7] = char(21);
    EXPECT_FALSE(ImgKitMemoryLoad(shortData));
    // A first code after the clear code that is no colour index.
    QByteArray badCode = gif.left(data + 1) + QByteArray("\x03\x10\xFF\xFF\x00;", 6);
    EXPECT_FALSE(ImgKitMemoryLoad(badCode));
    // Code sizes no writer uses.
    for (char size : {'\0', '\x01', '\x0C'}) {
        QByteArray b = gif;
        b[data] = size;
        EXPECT_FALSE(ImgKitMemoryLoad(b)) << int(size);
    }
    // An extension whose blocks run past the end.
    QByteArray ext = gif.left(descriptor) + QByteArray("\x21\xFE\x40short", 8);
    EXPECT_FALSE(ImgKitMemoryLoad(ext));
    // A colour table cut short.
    EXPECT_FALSE(ImgKitMemoryLoad(gif.left(13 + 20)));
    // A stray byte between the blocks.
    EXPECT_FALSE(ImgKitMemoryLoad(gif.left(descriptor) + "\x01" + gif.mid(descriptor)));
    // A later frame broken is as bad as the first.
    GifOptions two;
    two.secondFrame = true;
    const QByteArray twoFrames = MakeGif(picture, two);
    ASSERT_TRUE(ImgKitMemoryLoad(twoFrames));
    EXPECT_FALSE(ImgKitMemoryLoad(twoFrames.left(twoFrames.size() - 3) + ";"));
}

TEST(ImgKitQt, GifScreenOrFrameBeyondWhatItsDataCouldHoldIsRefused)
{
    const QImage picture = IndexedPattern(4, 4, 4);
    GifOptions giant;
    giant.screenWidth = giant.screenHeight = 8000;  // 64 M pixels on a 4 x 4 frame
    EXPECT_FALSE(ImgKitMemoryLoad(MakeGif(picture, giant)));
    giant.screenWidth = giant.screenHeight = 18000;
    EXPECT_FALSE(ImgKitMemoryLoad(MakeGif(picture, giant)));
    // The frame itself claiming 8000 x 8000 on a 8000 x 8000 screen.
    QByteArray frame = MakeGif(picture, giant);
    frame[6] = frame[8] = frame[13 + 12 + 5] = frame[13 + 12 + 7] = char(8000 & 255);
    frame[7] = frame[9] = frame[13 + 12 + 6] = frame[13 + 12 + 8] = char(8000 >> 8);
    EXPECT_FALSE(ImgKitMemoryLoad(frame));

    // A screen a little larger than the frame is fine.
    GifOptions margin;
    margin.screenWidth = 6;
    margin.screenHeight = 5;
    const ImageHandle onScreen = ImgKitMemoryLoad(MakeGif(picture, margin));
    ASSERT_TRUE(onScreen);
    EXPECT_EQ(DibLayoutOf(onScreen).width, 6);

    // Flat pictures compress about as far as LZW goes, with the table
    // cleared when full and kept full: they still load.
    for (bool defer : {false, true}) {
        QImage flat(2400, 3000, QImage::Format_Indexed8);
        flat.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        flat.fill(0);
        GifOptions o;
        o.deferClear = defer;
        const QByteArray bytes = MakeGif(flat, o);
        EXPECT_LT(bytes.size(), 40000) << defer;
        const ImageHandle img = ImgKitMemoryLoad(bytes);
        ASSERT_TRUE(img) << defer;
        EXPECT_EQ(ColorAt(img, 2399, 2999), 0xFFFFFFu);
    }
}

// --- Memory, measured in a child process -------------------------------------

// The child's peak is its own high-water mark (VmHWM), which it writes to a
// report file before it exits. The rusage figure wait4 gives is no use
// here: Linux carries the parent's peak over into a child's maxrss through
// the exec that starts it.
constexpr const char* kChildFileVariable = "TOLVANE_QT_LOAD_CHILD_FILE";
constexpr const char* kChildReportVariable = "TOLVANE_QT_LOAD_CHILD_REPORT";

long OwnPeakKb()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Run in a child of the test program: one load of the named file, exit
// status 0 when it gave an image, 1 when not.
TEST(ImgKitQtChild, DISABLED_LoadOneFile)
{
    const char* path = std::getenv(kChildFileVariable);
    const char* report = std::getenv(kChildReportVariable);
    if (!path || !report)
        GTEST_SKIP() << "only run by the memory tests";
    const bool loaded = bool(ImgKitFileLoad(QString::fromLocal8Bit(path)));
    WriteBytes(QString::fromLocal8Bit(report), QByteArray::number(qlonglong(OwnPeakKb())));
    std::_Exit(loaded ? 0 : 1);
}

struct ChildLoad {
    bool ran = false;
    bool loaded = false;
    long peakKb = 0;
};

ChildLoad LoadInChild(const QString& path)
{
    ChildLoad result;
    std::string exe = "/proc/self/exe";
    std::string filter = "--gtest_filter=ImgKitQtChild.DISABLED_LoadOneFile";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {exe.data(), filter.data(), disabled.data(), nullptr};
    const QString report = path + ".peak";
    QFile::remove(report);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TOLVANE_QT_LOAD_CHILD_", 22) != 0)
            env.emplace_back(*e);
    env.push_back(std::string(kChildFileVariable) + "=" + path.toStdString());
    env.push_back(std::string(kChildReportVariable) + "=" + report.toStdString());
    env.push_back("GTEST_BRIEF=1");
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()) != 0)
        return result;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return result;
    bool number = false;
    result.peakKb = ReadBytes(report).toLong(&number);
    result.ran = WEXITSTATUS(status) <= 1 && number && result.peakKb > 0;
    result.loaded = WEXITSTATUS(status) == 0;
    return result;
}

// CRC-32 as PNG chunks use it.
uint32_t Crc32(const QByteArray& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (char ch : bytes) {
        crc ^= uint8_t(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct Damaged {
    std::string name;
    QByteArray bytes;
};

// Small files, each claiming a giant picture or cut short.
std::vector<Damaged> SmallDamagedFiles()
{
    std::vector<Damaged> d;
    auto be32 = [](uint32_t v) {
        QByteArray b;
        for (int i = 3; i >= 0; --i)
            b.append(char((v >> (8 * i)) & 255));
        return b;
    };
    const QImage picture = IndexedPattern(4, 4, 4);
    for (int side : {8000, 16000}) {
        GifOptions o;
        o.screenWidth = o.screenHeight = side;
        d.push_back({"gif screen " + std::to_string(side), MakeGif(picture, o)});
        QByteArray frame = MakeGif(picture, o);
        frame[13 + 12 + 5] = frame[13 + 12 + 7] = char(side & 255);
        frame[13 + 12 + 6] = frame[13 + 12 + 8] = char(side >> 8);
        d.push_back({"gif frame " + std::to_string(side), frame});
    }
    // A PNG, a WebP and the PNM kinds with their sizes patched to 18000 x 18000.
    QByteArray png = QtWritten(Pattern(16, 16), "png");
    png.replace(16, 8, be32(18000) + be32(18000));
    png.replace(29, 4, be32(Crc32(png.mid(12, 17))));
    d.push_back({"png 18000", png});
    QByteArray webp = QtWritten(Pattern(16, 16), "webp", 100);
    const qsizetype vp8l = webp.indexOf("VP8L");
    EXPECT_GT(vp8l, 0) << "Qt writes lossless WebP as VP8L";
    if (vp8l > 0) {
        const uint32_t bits = (16383u - 1) | ((16383u - 1) << 14);
        for (int i = 0; i < 4; ++i)
            webp[vp8l + 9 + i] = char((bits >> (8 * i)) & 255);
        d.push_back({"webp 16383", webp});
    }
    d.push_back({"ppm 18000", QByteArray("P6 18000 18000 255\n") + QByteArray(3000, '\x40')});
    d.push_back({"pgm plain 18000", QByteArray("P2 18000 18000 255\n") + QByteArray(3000, '7').replace("7", "7 ")});
    d.push_back({"xbm 18000", "#define a_width 18000\n#define a_height 18000\nstatic char a_bits[] = {\n0x00, 0x01 };\n"});
    d.push_back({"xpm 18000", "/* XPM */\nstatic char *a[] = {\n\"18000 18000 1 1\",\n\"a c #ff0000\",\n\"aaaa\"\n};\n"});
    d.push_back({"wbmp 18000", QByteArray("\x00\x00\x81\x8C\x50\x81\x8C\x50", 8) + QByteArray(3000, '\x55')});
    // A flat 10000 x 10000 GIF and a flat 10000 x 10000 PNG, cut in the middle.
    QImage flat(10000, 10000, QImage::Format_Indexed8);
    flat.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    flat.fill(0);
    const QByteArray flatGif = MakeGif(flat);
    d.push_back({"flat gif cut", flatGif.left(flatGif.size() / 2)});
    const QByteArray flatPng = QtWritten(flat, "png");
    d.push_back({"flat png cut", flatPng.left(flatPng.size() / 2)});
    return d;
}

constexpr long kDamagedPeakKb = 150 * 1024;

TEST(ImgKitQt, SmallDamagedFilesCostLittleMemory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const ChildLoad idle = LoadInChild(dir.filePath("missing"));
    ASSERT_TRUE(idle.ran);
    EXPECT_FALSE(idle.loaded);
    std::cout << "child with no load: peak " << idle.peakKb / 1024 << " MB\n";
    for (const Damaged& f : SmallDamagedFiles()) {
        SCOPED_TRACE(f.name);
        EXPECT_LT(f.bytes.size(), 400000);
        EXPECT_FALSE(ImgKitMemoryLoad(f.bytes));
        const QString path = dir.filePath("damaged");
        ASSERT_TRUE(WriteBytes(path, f.bytes));
        const ChildLoad child = LoadInChild(path);
        ASSERT_TRUE(child.ran);
        EXPECT_FALSE(child.loaded);
        std::cout << f.name << " (" << f.bytes.size() << " bytes): peak " << child.peakKb / 1024 << " MB\n";
        if (!kUnderAsan) {
            EXPECT_LT(child.peakKb, kDamagedPeakKb);
        }
    }
}

// A 600 dpi A4 page.
constexpr int kScanWidth = 4960;
constexpr int kScanHeight = 7016;

QImage SmoothScan()
{
    QImage image(kScanWidth, kScanHeight, QImage::Format_RGB32);
    for (int y = 0; y < kScanHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kScanWidth; ++x)
            row[x] = qRgb(255 - x / 40, 200 - y / 60, (x + y) / 60);
    }
    return image;
}

TEST(ImgKitQt, A600DpiA4PngLoadsWithinThreeAndAHalfTimesItsPicture)
{
    const QImage scan = SmoothScan();
    const QByteArray png = QtWritten(scan, "png", 80);  // Qt's PNG quality 80: zlib level 1, the fast one
    ASSERT_FALSE(png.isEmpty());
    {
        const ImageHandle img = ImgKitMemoryLoad(png);
        ASSERT_TRUE(img);
        const DibLayout l = DibLayoutOf(img);
        EXPECT_EQ(l.width, kScanWidth);
        EXPECT_EQ(l.height, kScanHeight);
        EXPECT_EQ(l.bitCount, 24);
        for (auto [x, y] : {std::pair{0, 0}, {kScanWidth - 1, 0}, {1234, 5678}, {kScanWidth - 1, kScanHeight - 1}})
            EXPECT_EQ(ColorAt(img, x, y), scan.pixel(x, y) & 0xFFFFFFu) << x << "," << y;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("scan.png");
    ASSERT_TRUE(WriteBytes(path, png));
    const ChildLoad idle = LoadInChild(dir.filePath("missing"));
    const ChildLoad child = LoadInChild(path);
    ASSERT_TRUE(child.ran);
    EXPECT_TRUE(child.loaded);
    const long pictureKb = long(DibStride(kScanWidth, 24) * kScanHeight / 1024);
    std::cout << "A4 600 dpi PNG (" << png.size() / 1024 << " KB): peak " << child.peakKb / 1024 << " MB, "
              << double(child.peakKb) / double(pictureKb) << " x the 24-bit picture (" << pictureKb / 1024
              << " MB); a child with no load peaks at " << idle.peakKb / 1024 << " MB\n";
    if (!kUnderAsan) {
        EXPECT_LT(child.peakKb, pictureKb * 7 / 2);
    }
}

// --- Conversion of every QImage format -----------------------------------------

// How the layer made blocks of QImages before it read the rows itself: the
// whole picture painted on white (with an alpha channel) or converted
// (without), then copied.
ImageHandle WholeImageConversion(const QImage& image)
{
    const int w = image.width(), h = image.height();
    QImage rgb;
    if (image.hasAlphaChannel()) {
        rgb = QImage(w, h, QImage::Format_BGR888);
        rgb.fill(Qt::white);
        QPainter p(&rgb);
        p.drawImage(0, 0, image);
    } else {
        rgb = image.convertToFormat(QImage::Format_BGR888);
    }
    ImageHandle dib = ImageHandle::NewDib(w, h, 24);
    const DibLayout l = DibLayoutOf(dib);
    for (int y = 0; y < h; ++y)
        std::memcpy(dib.Data() + l.bitsOffset + std::size_t(h - 1 - y) * l.stride, rgb.constScanLine(y),
                    std::size_t(w) * 3);
    return dib;
}

// Colours, greys and every kind of alpha, different from row to row.
QImage AlphaPattern(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            // most rows opaque; some bands with transparent or part-transparent pixels
            const int a = (y / 40) % 3 == 1 ? (x * 53 + y * 17) & 255 : (y == 130 && x == 5 ? 0 : 255);
            row[x] = qRgba((x * 41 + y * 7) & 255, (x * 13 + y * 59 + 30) & 255, (x * x + y * 3 + 100) & 255, a);
        }
    }
    return image;
}

TEST(ImgKitQt, EveryQImageFormatConvertsExactlyAsAWholeImageWould)
{
    const QImage source = AlphaPattern(37, 150);  // odd width, more than two bands
    for (int f = QImage::Format_Mono; f < QImage::NImageFormats; ++f) {
        const auto format = QImage::Format(f);
        SCOPED_TRACE("format " + std::to_string(f));
        const QImage image = source.convertToFormat(format);
        ASSERT_EQ(image.format(), format);
        const ImageHandle got = QImageToDib(image);
        ASSERT_TRUE(got);
        EXPECT_TRUE(PaddingIsZero(got));
        const DibLayout l = DibLayoutOf(got);
        switch (format) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            ASSERT_EQ(l.bitCount, 1);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    ASSERT_EQ(ColorAt(got, x, y), image.pixel(x, y) & 0xFFFFFFu) << x << "," << y;
            break;
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
            ASSERT_EQ(l.bitCount, 8);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    ASSERT_EQ(RawAt(got, x, y), image.constScanLine(y)[x]) << x << "," << y;
            for (int i = 0; i < l.colorCount; ++i)
                ASSERT_EQ(TableEntry(got, i), (format == QImage::Format_Indexed8 ? image.color(i) : qRgb(i, i, i))
                                                  & 0xFFFFFFu);
            break;
        default:
            ASSERT_EQ(l.bitCount, 24);
            EXPECT_TRUE(SamePixels(got, WholeImageConversion(image)));
        }
    }
}

TEST(ImgKitQt, TransparentPixelsLieOnWhiteInEveryAlphaFormat)
{
    QImage image(3, 70, QImage::Format_ARGB32);
    image.fill(qRgba(10, 20, 30, 255));
    image.setPixel(0, 0, qRgba(0, 0, 0, 0));
    image.setPixel(1, 69, qRgba(255, 0, 0, 0));
    image.setPixel(2, 66, qRgba(0, 0, 0, 128));
    for (auto format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBA8888,
                        QImage::Format_RGBA64, QImage::Format_RGBA64_Premultiplied}) {
        SCOPED_TRACE(int(format));
        const ImageHandle got = QImageToDib(image.convertToFormat(format));
        ASSERT_TRUE(got);
        EXPECT_EQ(ColorAt(got, 0, 0), 0xFFFFFFu);
        EXPECT_EQ(ColorAt(got, 1, 69), 0xFFFFFFu);
        EXPECT_NEAR(R(ColorAt(got, 2, 66)), 127, 2);
        EXPECT_EQ(ColorAt(got, 1, 1), 0x0A141Eu);
    }
}

}  // namespace
