// SPDX-License-Identifier: GPL-3.0-or-later
// The Susie plug-in loader, through real dlopen'ed plug-ins: the test
// plug-ins of tests/plugins (one per behaviour, see testspi.c) are copied
// into a folder of each test's own and loaded from there.

#include "imaging/SpiLoad.h"

#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "tests/plugins/testspi_pattern.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <malloc.h>
#include <set>
#include <sys/stat.h>

namespace {

const QString kSpiDir = QStringLiteral(TOLVANE_TEST_SPI_DIR);

QByteArray Magic(const char* tag)
{
    return QByteArray("TSPI:") + tag + "\n" + QByteArray(32, 'x');
}

// Bytes the allocator has handed out and not had back: the test plug-ins'
// TSPI_BIG_BLOCK blocks show here until the loader frees them.
std::size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

bool IsLoaded(const QString& path)
{
    void* h = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!h)
        return false;
    ::dlclose(h);
    return true;
}

struct Bgr {
    uint8_t b, g, r;
    bool operator==(const Bgr&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Bgr& c)
{
    return os << "(b" << int(c.b) << " g" << int(c.g) << " r" << int(c.r) << ")";
}

uint8_t OverWhite(uint32_t c, uint32_t a) { return uint8_t((c * a + 255 * (255 - a) + 127) / 255); }

// What the test plug-in of the given kind shows at (x, y), top row 0.
enum class Kind { Palette, TrueColour, Alpha, ShortTable };
Bgr Expected(Kind kind, int depth, int seed, int x, int y)
{
    unsigned char c[3] = {};
    switch (kind) {
    case Kind::Palette:
        TspiPaletteEntry(TspiIndex(x, y, depth, seed), seed, c);
        break;
    case Kind::ShortTable:
        if ((x + y) % 5 < 3)
            TspiPaletteEntry((x + y) % 5, seed, c);
        break;
    case Kind::TrueColour:
        TspiTrueColour(x, y, seed, c);
        break;
    case Kind::Alpha: {
        TspiTrueColour(x, y, seed, c);
        const uint8_t a = TspiAlpha(x, y, 1);
        for (auto& v : c)
            v = OverWhite(v, a);
        break;
    }
    }
    return {c[0], c[1], c[2]};
}

// Every pixel of a 24-bit block against the test pattern.
void ExpectPattern(const ImageHandle& dib, Kind kind, int depth, int seed)
{
    ImgKitInfo info{};
    ASSERT_TRUE(ImgKitImageInfo(dib, info));
    EXPECT_EQ(info.bitCount, 24);
    ASSERT_EQ(info.width, TSPI_WIDTH);
    ASSERT_EQ(info.height, TSPI_HEIGHT);
    const QImage image = DibToQImage(dib);
    ASSERT_EQ(image.format(), QImage::Format_BGR888);
    int wrong = 0;
    for (int y = 0; y < TSPI_HEIGHT; ++y) {
        const uint8_t* row = image.constScanLine(y);
        for (int x = 0; x < TSPI_WIDTH; ++x) {
            const Bgr got{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
            const Bgr want = Expected(kind, depth, seed, x, y);
            if (got != want && ++wrong <= 3)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << got << ", want " << want;
        }
    }
    EXPECT_EQ(wrong, 0);
}

class SpiLoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        plugins_ = dir_.filePath(QStringLiteral("plugins"));
        ASSERT_TRUE(QDir().mkpath(plugins_));
    }

    // Copies the built test plug-in `name` into the plug-in folder as `as`
    // (default name.spi). Copies, not links: each folder's plug-ins are
    // modules of their own.
    QString Install(const QString& name, QString as = {})
    {
        if (as.isEmpty())
            as = name + QStringLiteral(".spi");
        const QString target = QDir(plugins_).filePath(as);
        const bool copied = QFile::copy(QDir(kSpiDir).filePath(name + QStringLiteral(".spi")), target);
        EXPECT_TRUE(copied) << "missing test plug-in " << name.toStdString();
        return target;
    }

    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    QTemporaryDir dir_;
    QString plugins_;
};

// --- Finding the plug-ins --------------------------------------------------

TEST_F(SpiLoadTest, LoadsSpiFilesOfAnyCaseAndSkipsWhatIsNoPlugin)
{
    const QString lower = Install(QStringLiteral("d24"));
    const QString upper = Install(QStringLiteral("d8"), QStringLiteral("EIGHT.SPI"));
    const QString mixed = Install(QStringLiteral("d4"), QStringLiteral("four.Spi"));
    Install(QStringLiteral("d1"), QStringLiteral("one.so"));           // wrong ending
    Install(QStringLiteral("d32"), QStringLiteral("d32.spi.bak"));     // ditto
    const QString archive = Install(QStringLiteral("archive"));        // no GetPicture
    ASSERT_TRUE(QDir(plugins_).mkdir(QStringLiteral("x.spi")));        // a folder
    {
        QFile junk(QDir(plugins_).filePath(QStringLiteral("junk.spi")));  // not a library
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
        junk.write("this is not a shared library\n");
    }

    TSpiload loader;
    EXPECT_EQ(loader.LoadPlugins(plugins_), 3);
    EXPECT_EQ(loader.Folder, plugins_);
    std::set<QString> loaded;
    for (const TSpi_plugin& p : loader.Plugins()) {
        loaded.insert(QFileInfo(p.Path).fileName());
        EXPECT_NE(p.Module, nullptr);
        EXPECT_NE(p.IsSupported, nullptr);
        EXPECT_NE(p.GetPicture, nullptr);
        EXPECT_NE(p.GetPictureInfo, nullptr);
        EXPECT_NE(p.GetPreview, nullptr);
        EXPECT_EQ(p.GetArchiveInfo, nullptr);
        EXPECT_EQ(p.GetFile, nullptr);
    }
    EXPECT_EQ(loaded, (std::set<QString>{QStringLiteral("d24.spi"), QStringLiteral("EIGHT.SPI"),
                                         QStringLiteral("four.Spi")}));
    // The order kept is the order of the folder listing.
    QStringList kept;
    for (const TSpi_plugin& p : loader.Plugins())
        kept.append(p.Path);
    QStringList listed;
    for (const QString& f : TSpiload::PluginFiles(plugins_))
        if (f == lower || f == upper || f == mixed)
            listed.append(f);
    EXPECT_EQ(kept, listed);
    // The archive plug-in was opened and let go again.
    EXPECT_FALSE(IsLoaded(archive));
    EXPECT_TRUE(IsLoaded(lower));

    // Plug-ins in the upper- and mixed-case names really work.
    EXPECT_TRUE(loader.SetFile(WriteFile(QStringLiteral("p.dat"), Magic("d8"))));
    EXPECT_EQ(loader.Current->Path, upper);
    EXPECT_TRUE(loader.SetFile(WriteFile(QStringLiteral("q.dat"), Magic("d4"))));
    EXPECT_EQ(loader.Current->Path, mixed);
    // Archive plug-ins are never asked.
    EXPECT_FALSE(loader.SetFile(WriteFile(QStringLiteral("r.dat"), Magic("archive"))));
}

TEST_F(SpiLoadTest, AnAbsentOrEmptyFolderGivesNoPlugins)
{
    TSpiload loader;
    EXPECT_EQ(loader.LoadPlugins(dir_.filePath(QStringLiteral("absent"))), 0);
    EXPECT_EQ(loader.LoadPlugins(plugins_), 0);
    EXPECT_EQ(loader.LoadPlugins(QString()), 0);
    EXPECT_TRUE(loader.Plugins().empty());
    EXPECT_FALSE(loader.SetFile(WriteFile(QStringLiteral("a.dat"), Magic("d24"))));
    EXPECT_TRUE(loader.LoadImage(dir_.filePath(QStringLiteral("a.dat"))).IsNull());
}

TEST_F(SpiLoadTest, UnloadsEveryPluginWhenDestroyedOrReloaded)
{
    const QString a = Install(QStringLiteral("d24"));
    const QString b = Install(QStringLiteral("d8"));
    {
        TSpiload loader;
        ASSERT_EQ(loader.LoadPlugins(plugins_), 2);
        EXPECT_TRUE(IsLoaded(a));
        EXPECT_TRUE(IsLoaded(b));
        ASSERT_TRUE(loader.SetFile(WriteFile(QStringLiteral("a.dat"), Magic("d24"))));
        // Loading again starts from nothing: no plug-in twice, Current gone.
        const QString other = dir_.filePath(QStringLiteral("other"));
        ASSERT_TRUE(QDir().mkpath(other));
        EXPECT_EQ(loader.LoadPlugins(other), 0);
        EXPECT_EQ(loader.Current, nullptr);
        EXPECT_FALSE(IsLoaded(a));
        EXPECT_EQ(loader.LoadPlugins(plugins_), 2);
    }
    EXPECT_FALSE(IsLoaded(a));
    EXPECT_FALSE(IsLoaded(b));
}

// --- Choosing the plug-in --------------------------------------------------

TEST_F(SpiLoadTest, TheFirstAcceptingPluginInListingOrderWins)
{
    const QString first = Install(QStringLiteral("first"));    // seed 1
    const QString second = Install(QStringLiteral("second"));  // seed 2, same files
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), 2);
    const QStringList order = TSpiload::PluginFiles(plugins_);
    ASSERT_EQ(order.size(), 2);
    const bool firstListedFirst = order.front() == first;
    const QString path = WriteFile(QStringLiteral("both.dat"), Magic("both"));
    ASSERT_TRUE(loader.SetFile(path));
    EXPECT_EQ(loader.Current->Path, order.front());
    ExpectPattern(loader.LoadImage(path), Kind::TrueColour, 24, firstListedFirst ? 1 : 2);
    EXPECT_NE(second, first);
}

TEST_F(SpiLoadTest, SetFileTakesNameAndUpperCasedExtension)
{
    TSpiload loader;
    const struct {
        const char* path;
        const char* extension;
    } cases[] = {
        {"/tmp/scan.bmp", ".BMP"},      {"/tmp/a.tar.Gz", ".GZ"},   {"/tmp/noext", ""},
        {"/tmp/dir.d/noext", ""},       {"/tmp/trailing.", "."},    {"relative.Heic", ".HEIC"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(loader.SetFile(QString::fromUtf8(c.path)));
        EXPECT_EQ(loader.FileName, QString::fromUtf8(c.path));
        EXPECT_EQ(loader.Extension, QString::fromUtf8(c.extension)) << c.path;
    }
}

TEST_F(SpiLoadTest, NoPluginIsAskedForWhatCannotBeOpenedAndARefusalKeepsCurrent)
{
    Install(QStringLiteral("refuse"));
    Install(QStringLiteral("d24"));
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), 2);

    const QString good = WriteFile(QStringLiteral("good.dat"), Magic("d24"));
    ASSERT_TRUE(loader.SetFile(good));
    const TSpi_plugin* current = loader.Current;
    ASSERT_NE(current, nullptr);
    EXPECT_TRUE(current->Path.endsWith(QLatin1String("d24.spi")));

    // Refused by both, missing, a folder, a FIFO (never waited for).
    const QString refused = WriteFile(QStringLiteral("other.dat"), Magic("nobody"));
    const QString fifo = dir_.filePath(QStringLiteral("fifo.dat"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    using Calls = int32_t (*)();
    const auto infoCalls = reinterpret_cast<Calls>(::dlsym(current->Module, "TspiInfoCalls"));
    ASSERT_NE(infoCalls, nullptr);
    const int32_t asked = infoCalls();
    for (const QString& path : {refused, dir_.filePath(QStringLiteral("missing.dat")), dir_.path(), fifo}) {
        EXPECT_FALSE(loader.SetFile(path)) << path.toStdString();
        EXPECT_EQ(loader.Current, current) << path.toStdString();
        // The plug-in of the last file is not handed one it never accepted.
        EXPECT_TRUE(loader.LoadImage(path).IsNull()) << path.toStdString();
        EXPECT_EQ(infoCalls(), asked) << path.toStdString();
    }
    // Load alone still reads with Current, but never hands it a folder.
    EXPECT_FALSE(loader.SetFile(dir_.path()));
    EXPECT_FALSE(loader.Load());
    EXPECT_EQ(infoCalls(), asked);
    // A file no longer readable by the time it is loaded.
    ASSERT_TRUE(loader.SetFile(good));
    ASSERT_TRUE(QFile::remove(good));
    EXPECT_FALSE(loader.Load());
    EXPECT_TRUE(loader.Picture.isNull());
}

// --- Reading pictures ------------------------------------------------------

TEST_F(SpiLoadTest, ReadsEveryDepthBottomUpAndTopDown)
{
    const struct {
        const char* name;
        Kind kind;
        int depth;
    } cases[] = {
        {"d1", Kind::Palette, 1},         {"d4", Kind::Palette, 4},        {"d8", Kind::Palette, 8},
        {"d24", Kind::TrueColour, 24},    {"d32", Kind::TrueColour, 32},   {"d32alpha", Kind::Alpha, 32},
        {"td8", Kind::Palette, 8},        {"td24", Kind::TrueColour, 24},  {"clrshort", Kind::ShortTable, 4},
    };
    for (const auto& c : cases)
        Install(QString::fromLatin1(c.name));
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), int(std::size(cases)));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = WriteFile(QString::fromLatin1(c.name) + QStringLiteral(".pic"), Magic(c.name));
        ExpectPattern(loader.LoadImage(path), c.kind, c.depth, 0);
        EXPECT_TRUE(loader.Current->Path.endsWith(QString::fromLatin1(c.name) + QStringLiteral(".spi")));
        EXPECT_TRUE(loader.Picture.isNull());  // released after the conversion
    }
}

TEST_F(SpiLoadTest, LoadLeavesThePictureUntilReleased)
{
    Install(QStringLiteral("d8"));
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), 1);
    ASSERT_TRUE(loader.SetFile(WriteFile(QStringLiteral("a.pic"), Magic("d8"))));
    ASSERT_TRUE(loader.Load());
    EXPECT_EQ(loader.Picture.size(), QSize(TSPI_WIDTH, TSPI_HEIGHT));
    EXPECT_EQ(loader.Picture.format(), QImage::Format_BGR888);
    loader.ReleasePicture();
    EXPECT_TRUE(loader.Picture.isNull());
    // A failed load drops the previous picture too.
    ASSERT_TRUE(loader.Load());
    QFile(loader.FileName).resize(3);  // the plug-in's GetPictureInfo no longer knows it
    EXPECT_FALSE(loader.Load());
    EXPECT_TRUE(loader.Picture.isNull());
}

TEST_F(SpiLoadTest, RefusesPicturesOutsideTheRulesAndFreesWhatThePluginGave)
{
    const char* faults[] = {"picfail",  "noinfo",   "infofail", "zerowidth",   "negwidth",  "toowide",
                            "toobig",   "toobigout", "nullbits", "nullinfo", "clrover",     "bits16",    "rle",
                            "smallheader", "mismatch", "shortimage"};
    for (const char* f : faults)
        Install(QString::fromLatin1(f));
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), int(std::size(faults)));
    for (const char* f : faults) {
        SCOPED_TRACE(f);
        const QString path = WriteFile(QString::fromLatin1(f) + QStringLiteral(".pic"), Magic(f));
        ASSERT_TRUE(loader.SetFile(path));  // accepted: the picture is what fails
        const TSpi_plugin* current = loader.Current;
        const std::size_t before = HeapInUse();
        EXPECT_FALSE(loader.Load());
        EXPECT_TRUE(loader.Picture.isNull());
        EXPECT_TRUE(loader.LoadImage(path).IsNull());
        // Three calls' worth of TSPI_BIG_BLOCK blocks at most would stay behind.
        EXPECT_LT(HeapInUse(), before + TSPI_BIG_BLOCK / 2) << "blocks of the plug-in were not freed";
        EXPECT_EQ(loader.Current, current);
        EXPECT_EQ(loader.FileName, path);
    }
}

TEST_F(SpiLoadTest, FreesTheCommentTextOfEverySuccessfulLoad)
{
    Install(QStringLiteral("d24"));
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), 1);
    const QString path = WriteFile(QStringLiteral("a.pic"), Magic("d24"));
    const std::size_t before = HeapInUse();
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(loader.LoadImage(path).IsNull());
    EXPECT_LT(HeapInUse(), before + TSPI_BIG_BLOCK / 2);
}

// --- Names the program reads itself ----------------------------------------

class SpiLoadBmpTest : public SpiLoadTest {
protected:
    // A 24-bit 5 x 4 BMP file: a blue picture with one red pixel top left.
    static QByteArray Bmp()
    {
        ImageHandle dib = ImageHandle::NewDib(5, 4, 24);
        QImage pic = DibToQImage(dib);
        pic.fill(QColor(0, 0, 255));
        pic.setPixelColor(0, 0, QColor(255, 0, 0));
        QByteArray bytes;
        EXPECT_TRUE(ImgKitBmpEncode(QImageToDib(pic), bytes));
        return bytes;
    }
};

TEST_F(SpiLoadBmpTest, BmpNamesAreReadByTheOwnDecoderBeforeAnyPlugin)
{
    Install(QStringLiteral("bm"));  // accepts every file starting "BM"
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), 1);
    const QByteArray bmp = Bmp();
    for (const char* name : {"page.bmp", "PAGE2.BMP", "page3.Bmp"}) {
        SCOPED_TRACE(name);
        const ImageHandle dib = loader.LoadImage(WriteFile(QString::fromLatin1(name), bmp));
        ImgKitInfo info{};
        ASSERT_TRUE(ImgKitImageInfo(dib, info));
        EXPECT_EQ(info.width, 5);
        EXPECT_EQ(DibToQImage(dib).pixelColor(0, 0), QColor(255, 0, 0));
        EXPECT_EQ(DibToQImage(dib).pixelColor(4, 3), QColor(0, 0, 255));
    }
    // Any other name goes to the plug-in, whatever the content.
    ExpectPattern(loader.LoadImage(WriteFile(QStringLiteral("page.dat"), bmp)), Kind::TrueColour, 24, 3);
    ExpectPattern(loader.LoadImage(WriteFile(QStringLiteral("page.bmpx"), bmp)), Kind::TrueColour, 24, 3);
}

TEST_F(SpiLoadBmpTest, ADamagedBmpIsThePluginsEvenWhereQtWouldReadPartOfIt)
{
    // Cut in the middle of the pixel rows: Qt's reader makes a picture of it.
    QByteArray cut = Bmp();
    cut.chop(20);
    ASSERT_FALSE(QImage::fromData(cut, "BMP").isNull()) << "Qt no longer reads a cut BMP: pick other damage";
    ASSERT_TRUE(ImgKitMemoryLoad(cut).IsNull());

    Install(QStringLiteral("bm"));
    TSpiload loader;
    ASSERT_EQ(loader.LoadPlugins(plugins_), 1);
    const QString path = WriteFile(QStringLiteral("cut.bmp"), cut);
    ExpectPattern(loader.LoadImage(path), Kind::TrueColour, 24, 3);

    TSpiload none;  // without the plug-in nothing reads it
    EXPECT_TRUE(none.LoadImage(path).IsNull());
}

TEST(SpiLoadApp, TheProgramLoaderStartsEmptyAndIsOne)
{
    TSpiload& a = AppSpiLoader();
    EXPECT_EQ(&a, &AppSpiLoader());
    EXPECT_TRUE(a.Plugins().empty());
    EXPECT_EQ(a.Current, nullptr);
}

}  // namespace
