// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as one workstation runs it, for the network-drive tests:
// a process of its own (its own HOME, its own settings and lock token) that
// opens the window on an archive and takes commands on standard input, one
// a line, driving the window's controls as a user would:
//
//     import FILE   the file import (Menu08) with FILE chosen
//     lock          the shared-write lock button (SpeedButton4); a lock
//                   taken elsewhere is not forced
//     force         the same, answering Yes to the force question
//     activate      the window comes back to the front
//     quit
//
// After each command it prints every message the window showed, "msg
// <text>" a line, then "ok P=<pages shown> held=<0|1> writable=<0|1>".

#include "tests/support/ScriptedPrompt.h"

#include "ui/TForm1.h"
#include "widgets/TApplication.h"

#include <QSocketNotifier>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ARCHIVE\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication::InstallFontSubstitutes();
    TApplication app(argc, argv);
    ScriptedPrompt prompt;
    app.SetPrompt(&prompt);

    TForm1 form(prompt, QString::fromLocal8Bit(argv[1]));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;

    const auto report = [&] {
        for (const QString& text : prompt.Texts())
            std::printf("msg %s\n", qPrintable(QString(text).replace(u'\n', u' ')));
        prompt.Clear();
        std::printf("ok P=%d held=%d writable=%d\n", int(form.Grid.P), form.LockHeld ? 1 : 0,
                    form.WritingAllowed() ? 1 : 0);
        std::fflush(stdout);
    };
    const auto click = [&](const char* name) {
        if (auto* b = form.findChild<QToolButton*>(QLatin1String(name)))
            QTest::mouseClick(b, Qt::LeftButton);
    };
    report();

    std::string line;
    while (std::getline(std::cin, line)) {
        const QString command = QString::fromStdString(line).trimmed();
        if (command == QLatin1String("quit"))
            break;
        if (command.startsWith(QLatin1String("import "))) {
            const QString path = command.mid(7);
            prompt.openFileHandlers.push_back([path](const OpenFileRequest&) { return path; });
            click("Menu08");
        } else if (command == QLatin1String("lock") || command == QLatin1String("force")) {
            prompt.boxAnswers.push_back(command == QLatin1String("force") ? BoxAnswer::Yes : BoxAnswer::No);
            click("SpeedButton4");
        } else if (command == QLatin1String("activate")) {
            QEvent away(QEvent::ActivationChange);
            QApplication::sendEvent(&form, &away);
            form.activateWindow();
            (void)QTest::qWaitForWindowActive(&form);
            QEvent back(QEvent::ActivationChange);
            QApplication::sendEvent(&form, &back);
        }
        QCoreApplication::processEvents();
        prompt.boxAnswers.clear();  // a question not asked leaves no answer for the next
        report();
    }
    form.close();
    return 0;
}
