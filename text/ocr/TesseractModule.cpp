// SPDX-License-Identifier: GPL-3.0-or-later
// Tesseract itself, in a module of its own that the recogniser loads on its
// first page: a command that recognises nothing (process, add --no-ocr,
// export, check) does not load Tesseract and the some thirty libraries it
// brings, each taking its share of every start.

#include "text/ocr/TesseractModule.h"

#include <QFile>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <leptonica/allheaders.h>

#include <dlfcn.h>

#include <cmath>
#include <exception>
#include <memory>

namespace {

// Debian's Tesseract is built with OpenMP, and its team (a fixed number of
// threads per network layer) made a page 3 times slower even on one thread,
// and worse beside other engines: the team's threads spin for the cores.
// With max-active-levels at 0 no parallel region gets a team.
// omp_set_num_threads(1) is not enough: Tesseract names its team's size in
// each region. Looked up at run time so that we do not link libgomp; in
// libgomp the value is the whole process's, set again by each thread anyway.
void RunWithoutOpenMpTeam()
{
    // Loaded with Tesseract, not seen from the program: found through its
    // own handle.
    using SetInt = void (*)(int);
    static const auto setLevels = [] {
        void* gomp = ::dlopen("libgomp.so.1", RTLD_NOW | RTLD_NOLOAD);
        return gomp ? reinterpret_cast<SetInt>(::dlsym(gomp, "omp_set_max_active_levels")) : SetInt(nullptr);
    }();
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

extern "C" TOLVANE_MODULE_EXPORT void TolvaneRecogniseWithTesseract(RecognitionResult& result, const QImage& page,
                                                                    const RecognitionLanguages& languages,
                                                                    double scale, const std::atomic<bool>* cancel)
{
    // Tesseract throws on some damaged data and on want of memory; its
    // engine is not trusted after that and made again for the next page.
    try {
        RecogniseInto(result, page, languages, scale, cancel);
        return;
    } catch (const std::exception& e) {
        result.reason = QStringLiteral("Recognition failed: %1").arg(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        result.reason = QStringLiteral("Recognition failed: an unknown error inside Tesseract");
    }
    result.ok = false;
    result.text.words.clear();
    threadEngine.reset();
}

extern "C" TOLVANE_MODULE_EXPORT void TolvaneReleaseTesseract()
{
    threadEngine.reset();
}
