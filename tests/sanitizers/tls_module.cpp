// SPDX-License-Identifier: GPL-3.0-or-later
// A module with thread_local heap blocks, as tolvane-batch's commands module
// and the recognition module have (in dynamic TLS: the module is dlopen'ed).
#include <memory>

namespace {
thread_local std::unique_ptr<char[]> held;
}

extern "C" __attribute__((visibility("default"))) void TolvaneTlsHold(int bytes)
{
    held.reset(new char[bytes]);
}
