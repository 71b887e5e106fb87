// SPDX-License-Identifier: GPL-3.0-or-later
// Tolvane: start-up and the message loop.

#include "core/ExitWatchdog.h"
#include "core/SingleInstance.h"
#include "ui/FileHandover.h"
#include "imaging/scan/ScanThread.h"
#include "widgets/QtPrompt.h"
#include "widgets/TApplication.h"
#include "ui/TForm1.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    // A second copy ends at once, silently, handing the files it was given
    // ("Open with", `tolvane FILE...`) to the copy that runs.
    SingleInstanceGuard guard(QStringLiteral("KORVATOLVANE"));
    const QString socketPath = HandoverSocketPath(guard.LockPath());
    if (!guard.Acquire()) {
        QCoreApplication second(argc, argv);
        const QStringList files = FilesToOpen(second.arguments(), QDir::currentPath());
        if (!files.isEmpty() && !HandFilesOver(socketPath, files))
            std::fputs("tolvane: the running copy did not take the files\n", stderr);
        return 1;
    }

    TApplication::InstallFontSubstitutes();
    TApplication app(argc, argv);
    const QStringList files = FilesToOpen(app.arguments(), QDir::currentPath());
    QtPrompt prompt;
    app.SetPrompt(&prompt);
    // SANE starts with the first scanner call and ends here, after the
    // window, on every way out.
    scan::ScanLibraryGuard scanning;

    int result = 0;
    {
        TForm1 form(prompt, QCoreApplication::applicationDirPath());
        prompt.SetParent(&form);
        form.show();
        FileHandover handover(socketPath);
        QObject::connect(&handover, &FileHandover::FilesReceived, &form, &TForm1::OpenFiles);
        if (!files.isEmpty())
            form.OpenFiles(files);
        // For timing the start-up from outside: end once the window is up.
        if (app.arguments().contains(QStringLiteral("--exit-when-shown")))
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        result = app.exec();
        prompt.SetParent(nullptr);
    }
    guard.Release();
    (void)result;
    // The window is gone and the archive written: the rest of the end (a
    // scanner backend's shutdown above all) gets a bounded time.
    EndWithin(0, 15);
    return 0;
}
