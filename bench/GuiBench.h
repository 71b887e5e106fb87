// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The common frame of the window benchmarks: an offscreen application with
// the program's fonts, settings kept in a temporary folder, then the
// registered benchmarks.

#include "widgets/TApplication.h"

#include <QByteArray>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <functional>

// platform: the QT_QPA_PLATFORM value; setup runs once the application
// exists, before the benchmarks.
inline int RunWindowBenchmarks(int argc, char** argv, const QByteArray& platform,
                               const std::function<void()>& setup = {})
{
    qputenv("QT_QPA_PLATFORM", platform);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());

    TApplication::InstallFontSubstitutes();
    TApplication app(argc, argv);
    if (setup)
        setup();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
