// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/TApplication.h"

#include "core/Prompt.h"
#include "widgets/Handlers.h"

#include <QFont>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(Title());
    setProperty("helpFile", HelpFileName());
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    RunHandler(prompt_, [&] { result = QApplication::notify(receiver, event); });
    return result;
}

void TApplication::InstallFontSubstitutes()
{
    // Proportional and fixed-pitch Gothic, as the forms are designed with.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic")});
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"),
                               {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic")});
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), {QStringLiteral("IPAPGothic")});
    QFont::insertSubstitutions(QStringLiteral("MS Gothic"), {QStringLiteral("IPAGothic")});
}
