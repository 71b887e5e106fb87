// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/ocr/Recogniser.h"

#include <QFile>
#include <QFileInfo>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <leptonica/allheaders.h>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <memory>

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

// Debian's Tesseract is built with OpenMP, and its team (a fixed number of
// threads per network layer) made a page 3 times slower even on one thread,
// and worse beside other engines: the team's threads spin for the cores.
// With max-active-levels at 0 no parallel region gets a team.
// omp_set_num_threads(1) is not enough: Tesseract names its team's size in
// each region. Looked up at run time so that we do not link libgomp; in
// libgomp the value is the whole process's, set again by each thread anyway.
void RunWithoutOpenMpTeam()
{
    using SetInt = void (*)(int);
    static const auto setLevels = reinterpret_cast<SetInt>(::dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (setLevels)
        setLevels(0);
}

// One engine per thread, made again only when the data asked for changes.
struct Engine {
    tesseract::TessBaseAPI api;
    QString tessdata;
    QString languages;
};

thread_local std::unique_ptr<Engine> threadEngine;

Engine* EngineFor(const RecognitionLanguages& languages, QString* reason)
{
    if (threadEngine && threadEngine->tessdata == languages.tessdata && threadEngine->languages == languages.languages)
        return threadEngine.get();
    threadEngine.reset();
    RunWithoutOpenMpTeam();
    // Leptonica writes its complaints (a box outside the page, ...) on
    // standard error, in the middle of tolvane-batch's output; what matters
    // comes back as the result.
    static const int quiet = setMsgSeverity(L_SEVERITY_NONE);
    Q_UNUSED(quiet);
    auto made = std::make_unique<Engine>();
    made->tessdata = languages.tessdata;
    made->languages = languages.languages;
    // debug_file is an init variable: quiets the messages of Init itself.
    std::vector<std::string> names{"debug_file"}, values{"/dev/null"};
    const QByteArray path = QFile::encodeName(languages.tessdata);
    const QByteArray langs = languages.languages.toUtf8();
    if (made->api.Init(path.constData(), langs.constData(), tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values,
                       false)
        != 0) {
        *reason = QStringLiteral("The language data %1 in %2 cannot be loaded").arg(languages.languages,
                                                                                    languages.tessdata);
        return nullptr;
    }
    made->api.SetPageSegMode(tesseract::PSM_AUTO);
    threadEngine = std::move(made);
    return threadEngine.get();
}

bool CancelRequested(void* flag, int)
{
    return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_relaxed);
}

void RecogniseInto(RecognitionResult& result, const QImage& page, const RecognitionLanguages& languages, double scale,
                   const std::atomic<bool>* cancel)
{
    Engine* engine = EngineFor(languages, &result.reason);
    if (!engine)
        return;

    QImage grey = page.convertToFormat(QImage::Format_Grayscale8);
    // Never scale a large page up: the time grows with the area.
    if (scale > 1.0 && qint64(page.width()) * page.height() * scale * scale <= qint64(4000) * 6000)
        grey = grey.scaled(int(std::lround(page.width() * scale)), int(std::lround(page.height() * scale)),
                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    else
        scale = 1.0;
    if (grey.isNull()) {
        result.reason = QStringLiteral("Out of memory for the image");
        return;
    }
    tesseract::TessBaseAPI& api = engine->api;
    api.SetImage(grey.constBits(), grey.width(), grey.height(), 1, int(grey.bytesPerLine()));
    api.SetSourceResolution(int(std::lround(124 * scale)));  // the stored pages are ~124 dpi
    tesseract::ETEXT_DESC monitor;
    if (cancel) {
        monitor.cancel = &CancelRequested;
        monitor.cancel_this = const_cast<std::atomic<bool>*>(cancel);
    }
    const int status = api.Recognize(&monitor);
    if (cancel && cancel->load()) {
        api.Clear();
        result.reason = QStringLiteral("Cancelled");
        return;
    }
    if (status != 0) {
        api.Clear();
        result.reason = QStringLiteral("Recognition failed");
        return;
    }

    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    // Lines are counted as they give words, so that the numbers have no gaps.
    int line = -1;
    bool lineHasWord = false;
    if (it && !it->Empty(tesseract::RIL_WORD)) {
        do {
            if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE))
                lineHasWord = false;
            std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_WORD));
            const QString text = utf8 ? QString::fromUtf8(utf8.get()).trimmed() : QString();
            int l = 0, t = 0, r = 0, b = 0;
            if (text.isEmpty() || !it->BoundingBox(tesseract::RIL_WORD, &l, &t, &r, &b))
                continue;
            if (!lineHasWord) {
                ++line;
                lineHasWord = true;
            }
            PageWord word;
            word.line = line;
            const QRect box(QPoint(int(std::floor(l / scale)), int(std::floor(t / scale))),
                            QPoint(int(std::ceil(r / scale)) - 1, int(std::ceil(b / scale)) - 1));
            word.box = box.intersected(QRect(0, 0, page.width(), page.height()));
            word.confidence = qBound(0, int(std::lround(it->Confidence(tesseract::RIL_WORD))), 100);
            word.text = text;
            result.text.words.push_back(std::move(word));
        } while (it->Next(tesseract::RIL_WORD));
    }
    api.Clear();
    result.ok = true;
}

}  // namespace

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
    // Tesseract throws on some damaged data and on want of memory; its
    // engine is not trusted after that and made again for the next page.
    try {
        RecogniseInto(result, page, languages, scale, cancel);
        return result;
    } catch (const std::exception& e) {
        result.reason = QStringLiteral("Recognition failed: %1").arg(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        result.reason = QStringLiteral("Recognition failed: an unknown error inside Tesseract");
    }
    result.ok = false;
    result.text.words.clear();
    threadEngine.reset();
    return result;
}

RecognitionResult Recognise(const QImage& page, const RecognitionLanguages& languages, const std::atomic<bool>* cancel)
{
    return RecogniseScaled(page, languages, kRecognitionScale, cancel);
}
