// SPDX-License-Identifier: GPL-3.0-or-later
// Tolvane: start-up and the message loop.

#include "core/SingleInstance.h"
#include "imaging/scan/ScanThread.h"
#include "widgets/QtPrompt.h"
#include "widgets/TApplication.h"
#include "ui/TForm1.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    // A second copy ends at once, silently.
    SingleInstanceGuard guard(QStringLiteral("KORVATOLVANE"));
    if (!guard.Acquire())
        return 1;

    TApplication::InstallFontSubstitutes();
    TApplication app(argc, argv);
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
        // For timing the start-up from outside: end once the window is up.
        if (app.arguments().contains(QStringLiteral("--exit-when-shown")))
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        result = app.exec();
        prompt.SetParent(nullptr);
    }
    guard.Release();
    (void)result;
    return 0;
}
