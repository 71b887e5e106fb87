// SPDX-License-Identifier: GPL-3.0-or-later
// One libFuzzer program per entry of FuzzEntries.cpp; TOLVANE_FUZZ_ENTRY
// names which. A broken property aborts, so libFuzzer keeps the input.

#include "fuzz/FuzzEntries.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {
const fuzzentry::Entry* entry = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    entry = fuzzentry::Find(TOLVANE_FUZZ_ENTRY);
    if (!entry) {
        std::fprintf(stderr, "no fuzz entry named %s\n", TOLVANE_FUZZ_ENTRY);
        std::abort();
    }
    fuzzentry::EnsureQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::string problem = entry->run(input);
    if (!problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", TOLVANE_FUZZ_ENTRY, problem.c_str());
        std::abort();
    }
    return 0;
}
