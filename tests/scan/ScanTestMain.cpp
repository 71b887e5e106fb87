// SPDX-License-Identifier: GPL-3.0-or-later
// The scan tests' main: the library's settings go to a temporary folder,
// and SANE is shut down before the program ends.
//
// Each SANE configuration (tests/scan/sane/<case>) runs in a process of its
// own, as SANE reads SANE_CONFIG_DIR once: ctest starts this program once per
// configuration with a gtest filter naming that configuration's suites.

#include "imaging/scan/ScanThread.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// libsane loads its backends with dlopen and unloads them at sane_exit. What
// a backend keeps for the whole process (the test backend's buffers) would
// then be reported by LeakSanitizer as leaked from an unknown module: in the
// test program the backends stay loaded until the process ends, so their
// memory stays reachable. (libsane's own call binds to this definition.)
extern "C" int dlclose(void*)
{
    return 0;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir configDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir.path());
    int rc = RUN_ALL_TESTS();
    scan::ShutdownScanning();
    return rc;
}
