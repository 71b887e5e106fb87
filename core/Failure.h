// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A failure that stops a command and is shown to the user in the standard
// error box: the message exactly as the program words it, and the system's
// reason (if any) as the box's detailed text. Thrown by logic that must stop
// the command that called it; caught at the event-handler boundary
// (widgets/Handlers.h), never inside Qt's event dispatch.

#include <QString>

#include <stdexcept>

class ReportedFailure : public std::runtime_error {
public:
    ReportedFailure(const QString& text, const QString& detail = QString())
        : std::runtime_error(text.toStdString()), text_(text), detail_(detail)
    {
    }
    const QString& Text() const { return text_; }
    const QString& Detail() const { return detail_; }

private:
    QString text_;
    QString detail_;
};
