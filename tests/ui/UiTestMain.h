// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared pieces of the window tests.

#include "tests/support/ScriptedPrompt.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <vector>

// Registers a test class so that the single test main runs it.
class QObject;
using UiTestFactory = std::function<QObject*()>;
int RegisterUiTest(const char* name, UiTestFactory factory);

#define TOLVANE_UI_TEST(Class) \
    static const int Class##_registered = RegisterUiTest(#Class, [] { return new Class; })

// The scripted prompt the application object reports exceptions to.
ScriptedPrompt& AppPrompt();

// The content of a file, or "<missing>" when it cannot be read.
QByteArray ReadBytes(const QString& path);
// Width and height of the image in a file; an invalid size when it cannot
// be read.
QSize SizeOf(const QString& path);
// Writes a file (and its folders); returns success.
bool WriteTestFile(const QString& path, const QByteArray& bytes);
// Makes a category folder with Image, Thumb and Text inside.
bool MakeCategory(const QString& root, const QString& name);

// A mouse event at `local` of `w`, sent straight to it.
inline void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
