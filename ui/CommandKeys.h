// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The keys of the main window's commands: each presses its control (a button,
// or the mode switch), and only while that control is enabled, so a key can
// do no more than the mouse can. Home and End page to the first and the last
// four pages, as far as the paging buttons allow.

#include <QKeySequence>
#include <QString>

#include <vector>

struct CommandKey {
    QKeySequence key;
    QString control;  // objectName of the control the key presses
    enum Step { Press, FirstPages, LastPages } step = Press;
};

const std::vector<CommandKey>& MainWindowKeys();
