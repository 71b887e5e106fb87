// SPDX-License-Identifier: GPL-3.0-or-later
// The Susie plug-in loader: finding and loading the plug-ins, asking them
// for a file, and turning what they hand back into a picture.

#include "imaging/SpiLoad.h"

#include "imaging/Dib.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(std::endian::native == std::endian::little, "plug-in headers are read in place");

namespace {

constexpr uint32_t kBiRgb = 0;
// The largest header a plug-in may hand back (BITMAPV5HEADER); the colour
// table follows it.
constexpr uint32_t kMaxHeaderSize = 124;
// Files larger than this cannot hold a picture the own decoders accept.
constexpr qint64 kMaxFileBytes = qint64(kMaxDibBytes) + (qint64(1) << 20);

// Frees a plug-in's malloc'd block however the caller leaves.
class MallocBlock {
public:
    MallocBlock() = default;
    ~MallocBlock() { std::free(p_); }
    MallocBlock(const MallocBlock&) = delete;
    MallocBlock& operator=(const MallocBlock&) = delete;
    void** Out() { return &p_; }
    const uint8_t* Bytes() const { return static_cast<const uint8_t*>(p_); }

private:
    void* p_ = nullptr;
};

// The file read-only, for IsSupported: regular files only, and a FIFO is
// never waited for (O_NONBLOCK until it is known to be a regular file).
int OpenForPlugin(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

inline uint8_t OverWhite(uint32_t c, uint32_t a) { return uint8_t((c * a + 255 * (255 - a) + 127) / 255); }

// The plug-in's picture (header and colour table at `info`, rows at `bits`)
// as a Format_BGR888 image, or false when it breaks a rule of SpiPlugin.h or
// disagrees with the size GetPictureInfo gave. Reads only what the header
// itself says the plug-in allocated.
bool PictureFromDib(const uint8_t* info, const uint8_t* bits, int32_t infoWidth, int32_t infoHeight, QImage& out)
{
    if (!info || !bits)
        return false;
    BitmapInfoHeader h;
    std::memcpy(&h, info, sizeof h);
    if (h.biSize < sizeof(BitmapInfoHeader) || h.biSize > kMaxHeaderSize)
        return false;
    const int bitCount = h.biBitCount;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return false;
    if (h.biCompression != kBiRgb)
        return false;
    const int64_t width = h.biWidth;
    const bool topDown = h.biHeight < 0;
    const int64_t height = topDown ? -int64_t(h.biHeight) : int64_t(h.biHeight);
    if (width <= 0 || width > kMaxDibSide || height <= 0 || height > kMaxDibSide)
        return false;
    if (width != infoWidth || height != infoHeight)
        return false;
    const int64_t srcStride = DibStride(width, bitCount);
    const uint64_t srcBytes = uint64_t(srcStride) * uint64_t(height);
    if (srcStride <= 0 || srcBytes > kMaxDibBytes)
        return false;
    if (h.biSizeImage != 0 && h.biSizeImage < srcBytes)
        return false;
    const uint64_t dstBytes = sizeof(BitmapInfoHeader) + uint64_t(DibStride(width, 24)) * uint64_t(height);
    if (dstBytes > kMaxDibBytes)
        return false;

    // Colour table as blue, green, red; indices past its end read as black.
    uint8_t table[256][3] = {};
    if (bitCount <= 8) {
        const uint32_t most = 1u << bitCount;
        const uint32_t count = h.biClrUsed != 0 ? h.biClrUsed : most;
        if (count > most)
            return false;
        const uint8_t* entry = info + h.biSize;
        for (uint32_t i = 0; i < count; ++i, entry += 4)
            std::memcpy(table[i], entry, 3);
    }

    const int w = int(width);
    const int rows = int(height);
    auto srcRow = [&](int y) {  // y = 0 is the picture's top row
        const int64_t stored = topDown ? y : rows - 1 - y;
        return bits + stored * srcStride;
    };

    bool alpha = false;
    if (bitCount == 32) {
        for (int y = 0; y < rows && !alpha; ++y) {
            const uint8_t* s = srcRow(y);
            for (int x = 0; x < w; ++x)
                if (s[4 * x + 3] != 0) {
                    alpha = true;
                    break;
                }
        }
    }

    QImage image(w, rows, QImage::Format_BGR888);
    if (image.isNull())
        return false;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* s = srcRow(y);
        uint8_t* d = image.scanLine(y);
        switch (bitCount) {
        case 1:
            for (int x = 0; x < w; ++x, d += 3)
                std::memcpy(d, table[(s[x >> 3] >> (7 - (x & 7))) & 1], 3);
            break;
        case 4:
            for (int x = 0; x < w; ++x, d += 3)
                std::memcpy(d, table[(x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4)], 3);
            break;
        case 8:
            for (int x = 0; x < w; ++x, d += 3)
                std::memcpy(d, table[s[x]], 3);
            break;
        case 24:
            std::memcpy(d, s, std::size_t(w) * 3);
            break;
        case 32:
            for (int x = 0; x < w; ++x, s += 4, d += 3) {
                if (alpha && s[3] != 255) {
                    d[0] = OverWhite(s[0], s[3]);
                    d[1] = OverWhite(s[1], s[3]);
                    d[2] = OverWhite(s[2], s[3]);
                } else {
                    std::memcpy(d, s, 3);
                }
            }
            break;
        }
    }
    out = std::move(image);
    return true;
}

bool OwnReaderExtension(const QString& extension)
{
    return extension == QLatin1String(".BMP") || extension == QLatin1String(".ICO")
        || extension == QLatin1String(".WMF") || extension == QLatin1String(".EMF");
}

}  // namespace

TSpiload::~TSpiload()
{
    UnloadPlugins();
}

QStringList TSpiload::PluginFiles(const QString& folder)
{
    QStringList files;
    if (folder.isEmpty())
        return files;
    const QDir dir(folder);
    if (!dir.exists())
        return files;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().endsWith(QLatin1String(".spi"), Qt::CaseInsensitive))
            files.append(entry.filePath());
    }
    return files;
}

int TSpiload::LoadPlugins(const QString& folder)
{
    UnloadPlugins();
    Folder = folder;
    for (const QString& path : PluginFiles(folder)) {
        const QByteArray name = QFile::encodeName(path);
        void* module = ::dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module)
            continue;
        TSpi_plugin p;
        p.Module = module;
        p.Path = path;
        p.IsSupported = reinterpret_cast<SpiIsSupportedFn>(::dlsym(module, "IsSupported"));
        p.GetPictureInfo = reinterpret_cast<SpiGetPictureInfoFn>(::dlsym(module, "GetPictureInfo"));
        p.GetPicture = reinterpret_cast<SpiGetPictureFn>(::dlsym(module, "GetPicture"));
        p.GetPreview = reinterpret_cast<SpiGetPreviewFn>(::dlsym(module, "GetPreview"));
        p.GetArchiveInfo = reinterpret_cast<SpiGetArchiveInfoFn>(::dlsym(module, "GetArchiveInfo"));
        p.GetFile = reinterpret_cast<SpiGetFileFn>(::dlsym(module, "GetFile"));
        if (!p.IsSupported || !p.GetPicture) {
            ::dlclose(module);
            continue;
        }
        plugins_.push_back(std::move(p));
    }
    return int(plugins_.size());
}

void TSpiload::UnloadPlugins()
{
    ReleasePicture();
    Current = nullptr;
    // In reverse load order, the opposite of how they came in.
    for (auto it = plugins_.rbegin(); it != plugins_.rend(); ++it)
        ::dlclose(it->Module);
    plugins_.clear();
}

bool TSpiload::SetFile(const QString& path)
{
    FileName = path;
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    Extension = dot < 0 ? QString() : name.mid(dot).toUpper();
    return FindPlugin();
}

bool TSpiload::FindPlugin()
{
    if (FileName.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(FileName);
    for (const TSpi_plugin& p : plugins_) {
        const int fd = OpenForPlugin(FileName);
        if (fd < 0)
            return false;
        const int32_t accepted = p.IsSupported(name.constData(), uintptr_t(fd));
        ::close(fd);
        if (accepted != 0) {
            Current = &p;
            return true;
        }
    }
    return false;
}

bool TSpiload::Load()
{
    return LoadPicture(Current != nullptr);
}

void TSpiload::ReleasePicture()
{
    Picture = QImage();
}

bool TSpiload::LoadPicture(bool askPlugin)
{
    ReleasePicture();
    // Plug-ins open the file themselves: never hand them a FIFO to wait on
    // or a folder.
    if (!QFileInfo(FileName).isFile())
        return false;
    try {
        if (OwnReaderExtension(Extension) && LoadOwn())
            return true;
        if (!askPlugin || !Current)
            return false;
        return LoadFromPlugin(*Current);
    } catch (...) {
        ReleasePicture();
        return false;
    }
}

// The image library's own decoders (never Qt's lenient BMP reader: a damaged
// BMP is no picture here either).
bool TSpiload::LoadOwn()
{
    QFile file(FileName);
    if (file.size() <= 0 || file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    const ImageHandle dib = ImgKitMemoryLoad(bytes);
    if (dib.IsNull())
        return false;
    QImage picture = DibToQImage(dib);
    if (picture.isNull())
        return false;
    if (picture.format() != QImage::Format_BGR888)
        picture = picture.convertToFormat(QImage::Format_BGR888);
    if (picture.isNull())
        return false;
    Picture = std::move(picture);
    return true;
}

bool TSpiload::LoadFromPlugin(const TSpi_plugin& plugin)
{
    if (!plugin.GetPictureInfo || !plugin.GetPicture)
        return false;
    const QByteArray name = QFile::encodeName(FileName);

    SpiPictureInfo info;
    std::memset(&info, 0, sizeof info);
    const int32_t infoResult = plugin.GetPictureInfo(name.constData(), 0, SPI_INPUT_FILE, &info);
    std::free(info.hInfo);  // comments, unused here
    if (infoResult != SPI_SUCCESS)
        return false;
    if (info.width <= 0 || info.width > kMaxDibSide || info.height <= 0 || info.height > kMaxDibSide)
        return false;

    MallocBlock header, bits;
    const int32_t result
        = plugin.GetPicture(name.constData(), 0, SPI_INPUT_FILE, header.Out(), bits.Out(), nullptr, 0);
    if (result != SPI_SUCCESS)
        return false;
    QImage picture;
    if (!PictureFromDib(header.Bytes(), bits.Bytes(), info.width, info.height, picture))
        return false;
    Picture = std::move(picture);
    return true;
}

ImageHandle TSpiload::LoadImage(const QString& path)
{
    // A file no plug-in accepted is never handed to the one that read the
    // previous file (Current stays as it was).
    const bool accepted = SetFile(path);
    if (!LoadPicture(accepted))
        return {};
    ImageHandle dib = BitmapToDib(Picture);
    ReleasePicture();
    return dib;
}

TSpiload& AppSpiLoader()
{
    static TSpiload loader;
    return loader;
}
