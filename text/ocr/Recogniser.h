// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text recognition of a page image with Tesseract: the page's words with
// their boxes on the image (PageText). One engine per thread, made on the
// thread's first page and kept; every engine runs on its own thread alone
// (Tesseract's OpenMP team off), so that threads, not OpenMP, use the cores.

#include "core/PageText.h"

#include <QImage>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <atomic>

struct RecognitionLanguages {
    QString tessdata;   // the folder the data are in
    QStringList found;  // of jpn, jpn_vert, eng: those there and sound
    QString languages;  // for Tesseract: "jpn+eng"; empty when nothing can be recognised
    QString message;    // kRecognitionDataMissingMessage when data are missing or damaged, else empty
    QString reason;     // English: what is missing or damaged, and the folders looked in

    bool Ok() const { return !languages.isEmpty(); }
};

// "文字認識の言語データがありません（tesseract-ocr-jpn、tesseract-ocr-eng）"
extern const QString kRecognitionDataMissingMessage;

// The language data in TESSDATA_PREFIX when set, else in the Debian folders:
// the first folder holding both jpn and eng. A file whose header does not
// hold together (cut short, entries out of order, no LSTM model) counts as
// missing: Tesseract would fail, throw or abort the process on it.
RecognitionLanguages AvailableLanguages();

// Empty when `path` looks like a whole .traineddata file, else why not.
// Reads at most its header.
QString TrainedDataProblem(const QString& path);

struct RecognitionResult {
    bool ok = false;
    QString reason;  // when not ok
    PageText text;
};
Q_DECLARE_METATYPE(RecognitionResult)

// Pages larger than this are not recognised.
inline constexpr qint64 kRecognitionPixelLimit = qint64(10000) * 10000;
// The factor the page is scaled by before recognition (1: not scaled).
extern const double kRecognitionScale;

// Recognises `page`; `cancel`, when set to true, ends it early (not ok).
// Never throws.
RecognitionResult Recognise(const QImage& page, const RecognitionLanguages& languages,
                            const std::atomic<bool>* cancel = nullptr);
// The same at a given scale (for measuring); the boxes stay on `page`.
RecognitionResult RecogniseScaled(const QImage& page, const RecognitionLanguages& languages, double scale,
                                  const std::atomic<bool>* cancel = nullptr);

// Ends the calling thread's engine (made again by its next page); for the
// end of a thread that recognised.
void ReleaseRecognitionEngine();
