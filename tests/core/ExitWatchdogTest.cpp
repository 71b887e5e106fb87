// SPDX-License-Identifier: GPL-3.0-or-later
// EndWithin: an end that hangs is cut short with the program's status; an
// ordinary end keeps its own.

#include "core/ExitWatchdog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

namespace {

// An exit handler that never returns, as a library's shutdown waiting on a
// lock whose holder is gone.
void HangForEver()
{
    for (;;)
        ::pause();
}

TEST(ExitWatchdogDeathTest, TheEndOfAProgramIsBounded)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Should the watchdog never fire, the alarm ends the child by a signal
    // and the expectation fails, rather than the test hanging.
    EXPECT_EXIT(
        {
            ::alarm(60);
            std::atexit(HangForEver);
            EndWithin(7, 1);
            std::exit(0);
        },
        testing::ExitedWithCode(7), "");
    // An end that goes through keeps its own status, long before the bound.
    EXPECT_EXIT(
        {
            ::alarm(60);
            EndWithin(7, 50);
            std::exit(3);
        },
        testing::ExitedWithCode(3), "");
}

}  // namespace
