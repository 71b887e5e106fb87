// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz/FuzzEntries.h"

#include "core/ArchiveFiles.h"
#include "core/Memo.h"
#include "core/PageList.h"
#include "imaging/ImageHandle.h"
#include "imaging/ImgKit.h"
#include "imaging/ImgKitQt.h"

#include <QGuiApplication>
#include <QString>
#include <QStringList>

#include <cstdlib>

namespace fuzzentry {
namespace {

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

}  // namespace

std::string CheckImage(const ImageHandle& img)
{
    if (img.IsNull())
        return {};
    const DibLayout layout = DibLayoutOf(img);
    if (!layout.valid)
        return "decoder returned a malformed block";
    if (img.Size() > kMaxDibBytes)
        return "block larger than kMaxDibBytes";
    if (layout.width > kMaxDibSide || layout.height > kMaxDibSide)
        return "side beyond kMaxDibSide";
    const int64_t used = (int64_t(layout.width) * layout.bitCount + 7) / 8;
    if (layout.stride != DibStride(layout.width, layout.bitCount) || used > layout.stride)
        return "stride does not match width and depth";
    if (layout.bitsOffset + std::size_t(layout.stride) * std::size_t(layout.height) > img.Size())
        return "pixel rows run past the block";
    for (int row = 0; row < layout.height; ++row) {
        const uint8_t* p = img.Data() + layout.bitsOffset + std::size_t(row) * std::size_t(layout.stride);
        for (int64_t i = used; i < layout.stride; ++i) {
            if (p[i] != 0)
                return "non-zero row padding in row " + std::to_string(row);
        }
    }
    ImgKitInfo info{};
    if (!ImgKitImageInfo(img, info))
        return "ImgKitImageInfo refuses a decoded block";
    if (info.width != layout.width || info.height != layout.height || info.bitCount != layout.bitCount)
        return "ImgKitImageInfo disagrees with the block's layout";
    return {};
}

namespace {

std::string RunJpeg(const QByteArray& in)
{
    return CheckImage(ImgKitJpegDecode(in));
}
std::string RunTiff(const QByteArray& in)
{
    return CheckImage(ImgKitTiffDecode(in));
}
std::string RunBmp(const QByteArray& in)
{
    return CheckImage(ImgKitBmpDecode(in));
}
std::string RunQt(const QByteArray& in)
{
    return CheckImage(ImgKitQtDecode(in, nullptr));
}
std::string RunMemoryLoad(const QByteArray& in)
{
    return CheckImage(ImgKitMemoryLoad(in));
}

// What must never be a page entry that names a file, whatever else the
// program refuses as well.
bool ObviouslyUnsafe(const QString& entry)
{
    if (entry.isEmpty() || entry == u"." || entry == u"..")
        return true;
    for (const QChar c : entry) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// `path` is a file directly inside folder/sub: one plain name after the prefix.
std::string CheckInside(const QString& path, const QString& folder, const char* sub, int index)
{
    const QString prefix = folder + u'/' + QLatin1String(sub) + u'/';
    const std::string where = std::string(sub) + " path of entry " + std::to_string(index);
    if (!path.startsWith(prefix))
        return where + " is outside its folder: " + Utf8(path);
    const QString name = path.mid(prefix.size());
    if (ObviouslyUnsafe(name))
        return where + " names no plain file: " + Utf8(path);
    return {};
}

std::string RunPageList(const QByteArray& in)
{
    PageList list;
    list.lines = ParsePageListBytes(in);
    if (list.lines.isEmpty())
        return "no header line";
    for (const QString& line : list.lines) {
        if (line.contains(u'\r') || line.contains(u'\n'))
            return "a line holds a line break";
        if (line.size() > kListLineKeptBytes)
            return "a line is kept longer than kListLineKeptBytes";
    }
    const QString folder = QStringLiteral("/archive/Cat");
    for (int i = 0; i < list.Count(); ++i) {
        const QString entry = PageEntry(list, i);
        if (entry != list.lines.at(i + 1))
            return "PageEntry differs from the line it stands for";
        const QString image = ImagePath(folder, list, i);
        const QString thumb = ThumbPath(folder, list, i);
        const QString memo = MemoPath(folder, list, i);
        if (!IsSafePageEntry(entry)) {
            if (!image.isEmpty() || !thumb.isEmpty() || !memo.isEmpty())
                return "unsafe entry " + std::to_string(i) + " names a file: " + Utf8(image);
            continue;
        }
        if (ObviouslyUnsafe(entry))
            return "entry " + std::to_string(i) + " taken as safe: " + Utf8(entry);
        for (const auto& [path, sub] : {std::pair{image, "Image"}, {thumb, "Thumb"}, {memo, "Text"}}) {
            if (std::string problem = CheckInside(path, folder, sub, i); !problem.empty())
                return problem;
        }
    }
    // Saved and read back (as SavePageList writes), the list settles after one
    // round: characters CP932 lacks have become "?" by then.
    const auto round = [](const QStringList& lines) { return ParsePageListBytes(EncodeCp932(JoinTextLines(lines))); };
    const QStringList once = round(list.lines);
    if (round(once) != once)
        return "page list changes on a second save and load";
    return {};
}

std::string RunMemo(const QByteArray& in)
{
    const MemoText memo = DecodeMemoBytes(in);
    if (memo.raw != in)
        return "memo bytes not kept as read";
    if (memo.text.contains(u'\r'))
        return "shown memo text holds a CR";
    const QByteArray encoded = EncodeMemo(memo.text);
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const bool cr = encoded[i] == '\r';
        const bool lf = encoded[i] == '\n';
        if ((cr && (i + 1 == encoded.size() || encoded[i + 1] != '\n')) || (lf && (i == 0 || encoded[i - 1] != '\r')))
            return "encoded memo has a line break other than CR LF";
    }
    if (!encoded.isEmpty() && !encoded.endsWith("\r\n"))
        return "encoded memo does not end with CR LF";
    // Written and read again, the text settles after one round.
    const QString once = DecodeMemoBytes(encoded).text;
    const QByteArray again = EncodeMemo(once);
    if (DecodeMemoBytes(again).text != once || EncodeMemo(DecodeMemoBytes(again).text) != again)
        return "memo changes on a second write and read";
    return {};
}

}  // namespace

const std::vector<Entry>& All()
{
    static const std::vector<Entry> entries{
        {"jpeg", RunJpeg},         {"tiff", RunTiff},         {"bmp", RunBmp}, {"qt", RunQt},
        {"memoryload", RunMemoryLoad}, {"pagelist", RunPageList}, {"memo", RunMemo},
    };
    return entries;
}

const Entry* Find(const std::string& name)
{
    for (const Entry& e : All()) {
        if (name == e.name)
            return &e;
    }
    return nullptr;
}

void EnsureQtApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tolvane-fuzz";
    static char* argv[] = {name, nullptr};
    // Kept until exit on purpose: the plug-ins it loaded stay in use.
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

}  // namespace fuzzentry
