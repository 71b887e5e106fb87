// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CommandKeys.h"

const std::vector<CommandKey>& MainWindowKeys()
{
    static const std::vector<CommandKey> keys = {
        {QKeySequence(Qt::Key_F1), QStringLiteral("MenuSelect3")},  // help
        {QKeySequence(Qt::SHIFT | Qt::Key_F1), QStringLiteral("MenuSelect1")},  // version
        {QKeySequence(Qt::CTRL | Qt::Key_Comma), QStringLiteral("MenuSelect2")},  // options
        {QKeySequence(Qt::CTRL | Qt::Key_Q), QStringLiteral("MenuSelect4")},  // quit
        {QKeySequence(Qt::CTRL | Qt::Key_L), QStringLiteral("SpeedButton4")},  // shared-write lock
        {QKeySequence(Qt::CTRL | Qt::Key_N), QStringLiteral("SpeedButton11")},  // new category
        {QKeySequence(Qt::Key_F2), QStringLiteral("SpeedButton12")},  // rename category
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), QStringLiteral("SpeedButton13")},  // delete category
        {QKeySequence(Qt::Key_Return), QStringLiteral("Menu01")},  // full screen
        {QKeySequence(Qt::Key_Enter), QStringLiteral("Menu01")},
        {QKeySequence(Qt::CTRL | Qt::Key_P), QStringLiteral("Menu02")},  // print
        {QKeySequence(Qt::Key_Delete), QStringLiteral("Menu03")},  // delete page
        {QKeySequence(Qt::ALT | Qt::Key_Up), QStringLiteral("Menu04")},  // page earlier
        {QKeySequence(Qt::ALT | Qt::Key_Down), QStringLiteral("Menu05")},  // page later
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I), QStringLiteral("Menu06")},  // choose scanner
        {QKeySequence(Qt::CTRL | Qt::Key_I), QStringLiteral("Menu07")},  // scan
        {QKeySequence(Qt::CTRL | Qt::Key_K), QStringLiteral("SpeedButton2")},  // one-shot scan
        {QKeySequence(Qt::CTRL | Qt::Key_O), QStringLiteral("Menu08")},  // import a file
        {QKeySequence(Qt::CTRL | Qt::Key_M), QStringLiteral("Menu09")},  // move to category
        {QKeySequence(Qt::CTRL | Qt::Key_T), QStringLiteral("ManAutoSW")},  // manual/automatic
        {QKeySequence(Qt::CTRL | Qt::Key_D), QStringLiteral("SpeedButton1")},  // copy page
        {QKeySequence(Qt::CTRL | Qt::Key_E), QStringLiteral("SpeedButton3")},  // re-edit
        {QKeySequence(Qt::Key_PageUp), QStringLiteral("SpeedButton18")},  // back four
        {QKeySequence(Qt::CTRL | Qt::Key_Left), QStringLiteral("SpeedButton19")},  // back one
        {QKeySequence(Qt::CTRL | Qt::Key_Right), QStringLiteral("SpeedButton20")},  // forward one
        {QKeySequence(Qt::Key_PageDown), QStringLiteral("SpeedButton21")},  // forward four
        {QKeySequence(Qt::Key_Home), QStringLiteral("SpeedButton18"), CommandKey::FirstPages},
        {QKeySequence(Qt::Key_End), QStringLiteral("SpeedButton21"), CommandKey::LastPages},
        {QKeySequence(QKeySequence::Find), QStringLiteral("SpeedButton22")},  // search
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), QStringLiteral("SpeedButton23")},  // save as PDF
    };
    return keys;
}
