// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/ocr/Recogniser.h"

#include <QFile>
#include <QFileInfo>

#include "core/ProgramModules.h"
#include "text/ocr/TesseractModule.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>

const QString kRecognitionDataMissingMessage =
    QStringLiteral("文字認識の言語データがありません（tesseract-ocr-jpn、tesseract-ocr-eng）");

// Not scaled up: on the dense page of bench_ocr (22 px text at the stored
// pages' ~124 dpi) x1 read 99.3% of the drawn characters, x1.5 98.6% and x2
// 98.7%, for 1.0, 1.03 and 1.2 times the time; the test page's words are
// all found at x1, and its misread digits stay misread when scaled.
const double kRecognitionScale = 1.0;

namespace {

// No shipped model comes near this; a larger file is not handed to Tesseract,
// which reads it whole.
constexpr qint64 kTrainedDataLimit = qint64(256) << 20;
// The header's table: one offset per component, -1 for none (tessdatamanager.h).
constexpr int kMaxComponents = 64;
constexpr int kLstmComponent = 17;  // TESSDATA_LSTM, what OEM_LSTM_ONLY loads

QStringList DataFolders()
{
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        return {prefix};
    return {QStringLiteral("/usr/share/tesseract-ocr/5/tessdata"),
            QStringLiteral("/usr/share/tesseract-ocr/4.00/tessdata")};
}

std::once_flag moduleOnce;
TesseractRecogniser recognise = nullptr;
std::atomic<TesseractRelease> releaseOnceLoaded{nullptr};
QString failure;

}  // namespace

TesseractRelease LoadedTesseractRelease()
{
    return releaseOnceLoaded.load();
}

void ReleaseRecognitionEngine()
{
    if (const TesseractRelease end = LoadedTesseractRelease())
        end();
}

TesseractRecogniser LoadTesseract(QString* why)
{
    std::call_once(moduleOnce, [] {
        // Never unloaded: its engines live in threads' storage until the
        // threads end.
        LoadProgramModule(kTesseractModuleName, QStringLiteral("recognition module"), [](void* module) {
            recognise = reinterpret_cast<TesseractRecogniser>(::dlsym(module, "TolvaneRecogniseWithTesseract"));
            const auto release = reinterpret_cast<TesseractRelease>(::dlsym(module, "TolvaneReleaseTesseract"));
            if (recognise && release) {
                releaseOnceLoaded.store(release);
                return true;
            }
            recognise = nullptr;
            return false;
        }, &failure);
    });
    if (!recognise && why)
        *why = failure;
    return recognise;
}

QString TrainedDataProblem(const QString& path)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile())
        return QStringLiteral("%1 is not there").arg(path);
    const qint64 size = info.size();
    if (size > kTrainedDataLimit)
        return QStringLiteral("%1 is too large (%2 bytes)").arg(path).arg(size);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    const QByteArray head = file.read(4 + 8 * kMaxComponents);
    qint32 count = 0;
    if (head.size() >= 4)
        std::memcpy(&count, head.constData(), 4);  // little-endian, as the x86 files are written
    const qint64 table = 4 + 8 * qint64(count);
    if (count <= kLstmComponent || count > kMaxComponents || head.size() < table)
        return QStringLiteral("%1 is damaged (no table of components)").arg(path);
    // Tesseract sizes each component from the next one's offset: offsets
    // out of order or past the end make it throw or read past the file.
    qint64 last = table - 1;
    qint64 lstm = -1;
    for (int i = 0; i < count; ++i) {
        qint64 offset = 0;
        std::memcpy(&offset, head.constData() + 4 + 8 * i, 8);
        if (offset == -1)
            continue;
        if (offset <= last || offset >= size)
            return QStringLiteral("%1 is damaged or cut short (component %2 at %3 of %4 bytes)")
                .arg(path)
                .arg(i)
                .arg(offset)
                .arg(size);
        last = offset;
        if (i == kLstmComponent)
            lstm = offset;
    }
    if (lstm < 0)
        return QStringLiteral("%1 holds no LSTM model").arg(path);
    return QString();
}

RecognitionLanguages AvailableLanguages()
{
    RecognitionLanguages result;
    const QStringList folders = DataFolders();
    QStringList problems;
    for (const QString& folder : folders) {
        QStringList found;
        QStringList folderProblems;
        for (const char* name : {"jpn", "jpn_vert", "eng"}) {
            const QString path = folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".traineddata");
            const QString problem = TrainedDataProblem(path);
            if (problem.isEmpty())
                found << QLatin1String(name);
            else if (std::strcmp(name, "jpn_vert") != 0)
                folderProblems << problem;
        }
        // jpn_vert is left out of the run even when it is there: it doubled the
        // time of a page and the pages filed are laid out across.
        if (found.contains(QStringLiteral("jpn")) && found.contains(QStringLiteral("eng"))) {
            result.tessdata = folder;
            result.found = found;
            result.languages = QStringLiteral("jpn+eng");
            return result;
        }
        problems << folderProblems;
    }
    result.message = kRecognitionDataMissingMessage;
    result.reason = QStringLiteral("No Japanese and English language data (jpn and eng) in %1: %2")
                        .arg(folders.join(QStringLiteral(", ")), problems.join(QStringLiteral("; ")));
    return result;
}

RecognitionResult RecogniseScaled(const QImage& page, const RecognitionLanguages& languages, double scale,
                                  const std::atomic<bool>* cancel)
{
    RecognitionResult result;
    result.text.width = page.width();
    result.text.height = page.height();
    result.text.source = QStringLiteral("ocr:") + languages.languages;
    if (!languages.Ok()) {
        result.reason = languages.reason.isEmpty() ? QStringLiteral("No language data") : languages.reason;
        return result;
    }
    if (page.isNull()) {
        result.reason = QStringLiteral("No image");
        return result;
    }
    if (qint64(page.width()) * page.height() > kRecognitionPixelLimit) {
        result.reason =
            QStringLiteral("The image is too large to recognise (%1 x %2)").arg(page.width()).arg(page.height());
        return result;
    }
    QString why;
    const TesseractRecogniser recognise = LoadTesseract(&why);
    if (!recognise) {
        result.reason = why;
        return result;
    }
    recognise(result, page, languages, scale, cancel);
    return result;
}

RecognitionResult Recognise(const QImage& page, const RecognitionLanguages& languages, const std::atomic<bool>* cancel)
{
    return RecogniseScaled(page, languages, kRecognitionScale, cancel);
}
