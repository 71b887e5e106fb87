// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object. Handlers keep their exceptions to themselves
// (widgets/Handlers.h); notify() only stands behind them as a last resort,
// for an exception from code that is not a handler of ours: it shows the
// standard error box and the program goes on.

#include <QApplication>

class Prompt;

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // The seam that shows the error box. Must outlive the event loop.
    void SetPrompt(Prompt* prompt) { prompt_ = prompt; }
    Prompt* GetPrompt() const { return prompt_; }

    bool notify(QObject* receiver, QEvent* event) override;

    // The Windows font names are the ones the forms ask for; on this platform
    // they are served by the IPA Gothic fonts. Call before the application
    // object exists.
    static void InstallFontSubstitutes();

    static QString Title() { return QStringLiteral("Tolvane"); }
    // The help document beside the program, opened by the desktop.
    static QString HelpFileName() { return QStringLiteral("Tolvane.html"); }

private:
    Prompt* prompt_ = nullptr;
};
