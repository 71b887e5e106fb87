// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps every core test away from the real user's configuration: before any
// test runs, HOME and XDG_CONFIG_HOME point into a scratch folder and
// QStandardPaths is in test mode, so QSettings("Osk", "Tolvane") lands there.

#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

struct IsolatedHome {
    QTemporaryDir home;
    IsolatedHome()
    {
        if (home.isValid()) {
            ::setenv("HOME", home.path().toLocal8Bit().constData(), 1);
            ::setenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit().constData(), 1);
        }
        QStandardPaths::setTestModeEnabled(true);
    }
};

const IsolatedHome isolatedHome;

}  // namespace

const QString& IsolatedHomePath()
{
    static const QString path = isolatedHome.home.path();
    return path;
}
