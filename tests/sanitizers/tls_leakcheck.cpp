// SPDX-License-Identifier: GPL-3.0-or-later
// Loads the module given, has it keep blocks in its thread_locals on this
// thread and on many others that live on past exit, drops one block of 77
// bytes, and ends: the leak check at exit runs with all of them alive. Each
// thread's share of the module's TLS is a small heap block of its own; with
// this many, some of them lie where the runtime's fault shows (16 bytes past
// a page).
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    void* module = dlopen(argv[1], RTLD_NOW);
    if (!module) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    auto hold = reinterpret_cast<void (*)(int)>(dlsym(module, "TolvaneTlsHold"));
    if (!hold)
        return 2;
    std::atomic<int> holding{0};
    const int threads = 256;
    for (int i = 0; i < threads; ++i) {
        std::thread([&, i] {
            hold(16 + 16 * (i % 8));
            ++holding;
            for (;;)
                pause();
        }).detach();
    }
    while (holding.load() < threads)
        usleep(1000);
    hold(5000);
    static char* volatile dropped;
    dropped = new char[77];
    dropped = nullptr;
    return 0;
}
