// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Handlers.h"

#include "core/Failure.h"
#include "widgets/TApplication.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>
#include <new>

Prompt* ApplicationPrompt()
{
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    return app ? app->GetPrompt() : nullptr;
}

bool RunHandler(Prompt* prompt, const std::function<void()>& handler) noexcept
{
    QString message;
    QString detail;
    try {
        handler();
        return true;
    } catch (const ReportedFailure& e) {
        message = e.Text();
        detail = e.Detail();
    } catch (const std::bad_alloc&) {
        message = QStringLiteral("Out of memory.");
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown exception.");
    }
    try {
        if (!prompt)
            prompt = ApplicationPrompt();
        if (prompt)
            prompt->ShowException(message, detail);
        else
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    } catch (...) {
        // the error box itself failed (no memory left): nothing more to do
    }
    return false;
}
