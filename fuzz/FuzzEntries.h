// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The entry points the fuzz targets drive, and what each checks of the
// result. Shared by the libFuzzer programs of this folder and by the
// regression test that replays the seeds and every input a fuzzer ever found
// (tests/fuzz), so that a fixed crash cannot come back.

#include "imaging/ImageHandle.h"

#include <QByteArray>
#include <string>
#include <vector>

namespace fuzzentry {

struct Entry {
    const char* name;  // folder name under fuzz/corpus and fuzz/regressions
    // Feeds one input through the code under test; returns "" when every
    // property held, else what did not.
    std::string (*run)(const QByteArray& input);
};

// Every target, in a fixed order.
const std::vector<Entry>& All();
// The target of that name, or nullptr.
const Entry* Find(const std::string& name);

// What every decoder's answer must be: null, or a well-formed block within
// the size limits whose row padding is zero. "" when it is.
std::string CheckImage(const ImageHandle& image);

// The application object Qt's image plug-ins need (offscreen platform);
// made once, never destroyed. Call before the first input.
void EnsureQtApplication();

}  // namespace fuzzentry
