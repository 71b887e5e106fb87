// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Between the recogniser and the Tesseract module it loads (see
// TesseractModule.cpp): the one function the module gives.

#include "text/ocr/Recogniser.h"

#include <atomic>

inline constexpr const char* kTesseractModuleName = "tolvane-tesseract.so";

#define TOLVANE_MODULE_EXPORT __attribute__((visibility("default")))

// Recognises `page` into `result` (its size and source already set); never
// throws.
using TesseractRecogniser = void (*)(RecognitionResult& result, const QImage& page,
                                     const RecognitionLanguages& languages, double scale,
                                     const std::atomic<bool>* cancel);

// Ends the calling thread's engine.
using TesseractRelease = void (*)();

// The module's recogniser, loaded on the first call; null, with the reason
// in `why`, when it cannot be loaded.
TesseractRecogniser LoadTesseract(QString* why = nullptr);
// Its release once it has been loaded (never loading it); else null.
TesseractRelease LoadedTesseractRelease();
