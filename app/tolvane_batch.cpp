// tolvane-batch: Tolvane's automatic image processing from the command line.
//
//   tolvane-batch process [options] IN PAGE_OUT THUMB_OUT
//
// does to one image file what intake does to a new page in automatic mode:
// load, bring to 24 bits, AutoProcessImage with the user's settings (read,
// never written) or the options given, and write the page image and the
// thumbnail in the formats their extensions name. Both files are written
// whole or not at all. Exit status: 0 done, 1 read, processing or write
// failure, 2 bad arguments.

#include "core/ArchiveFiles.h"
#include "core/ArchiveSession.h"
#include "core/Settings.h"
#include "imaging/AutoProcess.h"
#include "imaging/ImgKit.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kProgram[] = "tolvane-batch";

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kHelp[] =
    "Usage: tolvane-batch process [OPTIONS] IN PAGE_OUT THUMB_OUT\n"
    "       tolvane-batch --help\n"
    "\n"
    "Processes one image file as Tolvane processes a new page in automatic mode:\n"
    "the image is brought to 24 bits per pixel, turned and scaled into the target\n"
    "box, corrected and whitened as the settings say, and written as the page\n"
    "image PAGE_OUT and the thumbnail THUMB_OUT (within 160 x 200 pixels).\n"
    "\n"
    "Every value comes from the user's Tolvane settings, which are read and never\n"
    "changed ($XDG_CONFIG_HOME/Osk/Tolvane.conf, by default ~/.config/Osk/Tolvane.conf;\n"
    "missing or empty values take their defaults), unless an option gives it:\n"
    "  --kmode N       target box (KMode): 0 width 1024; 1 within 1024 x 768, tall\n"
    "                  pages turned; 2 width 800; 3 within 800 x 600, turned;\n"
    "                  4 width 1240; 5 within 1240 x 1024, turned; 6 width KFX;\n"
    "                  7 within KFX x KFY, turned\n"
    "  --kfx N         width for --kmode 6 and 7, 1..65535 (KFX)\n"
    "  --kfy N         height for --kmode 7, 1..65535 (KFY)\n"
    "  --resize-a N    scaling of the page image: 0 high quality, 1 normal (ResizeModeA)\n"
    "  --resize-t N    scaling of the thumbnail: 0 high quality, 1 normal (ResizeModeT)\n"
    "  --auto-mode N   correction: 0 brightness, contrast and colour balance;\n"
    "                  1 brightness and contrast; 2 none (AutoMode)\n"
    "  --white-mode N  whitening filter: 0 applied, 1 not applied (WhiteMode)\n"
    "  --quality N     JPEG quality 1..100; without it from JpegMode:\n"
    "                  0 -> 90, 1 -> 80, 2 -> 50 (any other value -> 80)\n"
    "  --              ends the options\n"
    "  -h, --help      shows this text\n"
    "An option takes its value as the next argument or after '=' (--kmode=1).\n"
    "\n"
    "The format of each output follows its extension: .bmp, .jpg or .jpeg, .tif or\n"
    ".tiff, in any letter case. Each output is written whole or not at all, and\n"
    "when the thumbnail cannot be written the page image is put back as it was.\n"
    "\n"
    "Exit status: 0 done; 1 the image could not be read, processed or written;\n"
    "2 bad arguments.\n";

void PrintError(const QString& message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.toLocal8Bit().constData());
}

// The formats an output may take, by its extension in any letter case.
bool HasImageExtension(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("bmp") || suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")
        || suffix == QLatin1String("tif") || suffix == QLatin1String("tiff");
}

// A whole decimal number: optional sign and digits only, within 32 bits.
std::optional<int32_t> ParseInteger(const QString& text)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    if (i == text.size())
        return std::nullopt;
    for (qsizetype j = i; j < text.size(); ++j)
        if (text[j] < u'0' || text[j] > u'9')
            return std::nullopt;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(value);
}

struct Option {
    const char* name;
    int32_t Settings::*member;  // null for --quality
    int32_t min;
    int32_t max;
};

constexpr Option kOptions[] = {
    {"--kmode", &Settings::KMode, 0, 7},
    {"--kfx", &Settings::KFX, 1, 65535},
    {"--kfy", &Settings::KFY, 1, 65535},
    {"--resize-a", &Settings::ResizeModeA, 0, 1},
    {"--resize-t", &Settings::ResizeModeT, 0, 1},
    {"--auto-mode", &Settings::AutoMode, 0, 2},
    {"--white-mode", &Settings::WhiteMode, 0, 1},
    {"--quality", nullptr, 1, 100},
};

struct Request {
    std::optional<int32_t> values[std::size(kOptions)];
    QStringList operands;
};

struct UsageError {
    QString message;
};

// The options and operands after the command; throws UsageError.
Request ParseProcessArguments(const QStringList& args)
{
    Request request;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || !arg.startsWith(u'-') || arg == QLatin1String("-")) {
            request.operands << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        std::size_t which = std::size(kOptions);
        for (std::size_t k = 0; k < std::size(kOptions); ++k)
            if (name == QLatin1String(kOptions[k].name))
                which = k;
        if (which == std::size(kOptions))
            throw UsageError{QStringLiteral("unknown option '%1' (see --help)").arg(name)};
        QString value;
        if (eq >= 0) {
            value = arg.mid(eq + 1);
        } else {
            if (i + 1 >= args.size())
                throw UsageError{QStringLiteral("option '%1' needs a value").arg(name)};
            value = args[++i];
        }
        const Option& option = kOptions[which];
        const std::optional<int32_t> number = ParseInteger(value);
        if (!number)
            throw UsageError{QStringLiteral("option '%1' needs a whole number, not '%2'").arg(name, value)};
        if (*number < option.min || *number > option.max)
            throw UsageError{QStringLiteral("option '%1' takes %2..%3, not %4")
                                 .arg(name)
                                 .arg(option.min)
                                 .arg(option.max)
                                 .arg(*number)};
        request.values[which] = number;
    }
    if (request.operands.size() != 3)
        throw UsageError{QStringLiteral("process takes IN PAGE_OUT THUMB_OUT, %1 given (see --help)")
                             .arg(request.operands.size())};
    return request;
}

// Why a file gave no image: the system's reason when it cannot be opened and
// read, else that its content is no image the program reads.
QString WhyNoImage(const QString& path)
{
    const QByteArray name = QFile::encodeName(ResolveExistingPath(path));
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return IoErrorFromErrno(errno).reason;
    struct stat st {};
    char byte = 0;
    int code = 0;
    if (::fstat(fd, &st) != 0)
        code = errno;
    else if (S_ISDIR(st.st_mode))
        code = EISDIR;
    else if (::read(fd, &byte, 1) < 0)
        code = errno;
    ::close(fd);
    if (code != 0)
        return IoErrorFromErrno(code).reason;
    if (st.st_size == 0)
        return QStringLiteral("the file is empty");
    return QStringLiteral("not an image in a format Tolvane reads, or a damaged one");
}

bool WantsHelp(const QStringList& args)
{
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return true;
    }
    return false;
}

// Writes the page image and then the thumbnail, each atomically; when the
// thumbnail fails, the page file is put back as it was (the same write path
// as a re-edited page). `error` names the failure.
bool WriteBoth(const QString& pagePath, const QByteArray& pageBytes, const QString& thumbPath,
               const QByteArray& thumbBytes, QString& error)
{
    IoError io;
    QString failed;
    if (WriteFilesWithRollback({{pagePath, pageBytes}, {thumbPath, thumbBytes}}, &io, &failed))
        return true;
    error = failed == pagePath ? QStringLiteral("cannot write '%1': %2").arg(pagePath, io.reason)
                               : QStringLiteral("cannot write '%1': %2; '%3' left as it was")
                                     .arg(thumbPath, io.reason, pagePath);
    return false;
}

int Process(const QStringList& args)
{
    Request request;
    try {
        request = ParseProcessArguments(args);
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    const QString& inPath = request.operands[0];
    const QString& pagePath = request.operands[1];
    const QString& thumbPath = request.operands[2];

    for (const QString* path : {&pagePath, &thumbPath}) {
        if (!HasImageExtension(*path)) {
            PrintError(QStringLiteral("'%1': the extension must be .bmp, .jpg, .jpeg, .tif or .tiff").arg(*path));
            return kExitUsage;
        }
    }
    if (QFileInfo(ResolvePathForWrite(pagePath)).absoluteFilePath().compare(
            QFileInfo(ResolvePathForWrite(thumbPath)).absoluteFilePath(), Qt::CaseInsensitive)
        == 0) {
        PrintError(QStringLiteral("PAGE_OUT and THUMB_OUT name the same file '%1'").arg(pagePath));
        return kExitUsage;
    }

    Settings settings = DefaultSettings();
    ReadSettings(settings, AppSettingsStore());
    int quality = JpegQualityFor(settings.JpegMode);  // as intake takes it
    for (std::size_t k = 0; k < std::size(kOptions); ++k) {
        if (!request.values[k])
            continue;
        if (kOptions[k].member)
            settings.*kOptions[k].member = *request.values[k];
        else
            quality = *request.values[k];
    }

    ImageHandle image = ImgKitFileLoad(inPath);
    if (!image) {
        PrintError(QStringLiteral("cannot read an image from '%1': %2").arg(inPath, WhyNoImage(inPath)));
        return kExitFailure;
    }
    ImgKitInfo info{};
    if (!ImgKitImageInfo(image, info)) {
        PrintError(QStringLiteral("'%1' holds no usable image").arg(inPath));
        return kExitFailure;
    }
    if (info.colorType != kImgKitColorFull && !ReplaceImage(image, ImgKitConvertColor(image, 24))) {
        PrintError(QStringLiteral("cannot convert '%1' to 24 bits per pixel").arg(inPath));
        return kExitFailure;
    }

    const PageImages out = AutoProcessImage(image, settings);
    if (!out.page || !out.thumbnail) {
        PrintError(QStringLiteral("image processing failed for '%1'").arg(inPath));
        return kExitFailure;
    }

    QByteArray pageBytes, thumbBytes;
    if (!ImgKitEncodeForPath(pagePath, out.page, quality, pageBytes)) {
        PrintError(QStringLiteral("cannot encode the page image for '%1'").arg(pagePath));
        return kExitFailure;
    }
    if (!ImgKitEncodeForPath(thumbPath, out.thumbnail, quality, thumbBytes)) {
        PrintError(QStringLiteral("cannot encode the thumbnail for '%1'").arg(thumbPath));
        return kExitFailure;
    }
    QString error;
    if (!WriteBoth(pagePath, pageBytes, thumbPath, thumbBytes, error)) {
        PrintError(error);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    if (args.isEmpty()) {
        PrintError(QStringLiteral("no command given (see --help)"));
        return kExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (command != QLatin1String("process")) {
        PrintError(QStringLiteral("unknown command '%1' (see --help)").arg(command));
        return kExitUsage;
    }
    if (WantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    return Process(args);
}
