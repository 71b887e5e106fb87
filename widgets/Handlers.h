// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The boundary between Qt's event dispatch and the program's handlers. Qt
// does not let exceptions pass through its event loop, so every handler runs
// inside RunHandler: an exception that escapes the handler stops there and is
// shown in the standard error box, and the program goes on. Every signal
// connection to a handler is made with ConnectHandler; event overrides
// (closeEvent and the like) call RunHandler themselves.

#include "core/Prompt.h"

#include <QObject>

#include <functional>
#include <type_traits>
#include <utility>

// The application's prompt (TApplication::SetPrompt), or null.
Prompt* ApplicationPrompt();

// Runs `handler`; returns false when it threw, after showing the exception
// through `prompt` (the application's prompt when null). Never throws.
bool RunHandler(Prompt* prompt, const std::function<void()>& handler) noexcept;

namespace handlers_detail {

template <class Receiver, class Handler, class... Args>
void Invoke(Receiver* receiver, const Handler& handler, Args&&... args)
{
    if constexpr (std::is_member_function_pointer_v<Handler>) {
        if constexpr (std::is_invocable_v<const Handler&, Receiver*, Args...>)
            std::invoke(handler, receiver, std::forward<Args>(args)...);
        else
            std::invoke(handler, receiver);
    } else {
        if constexpr (std::is_invocable_v<const Handler&, Args...>)
            std::invoke(handler, std::forward<Args>(args)...);
        else
            std::invoke(handler);
    }
}

}  // namespace handlers_detail

// Connects `signal` of `sender` to `handler` (a member function of
// `receiver`, or any callable) through RunHandler. The handler gets all of
// the signal's arguments or none. The connection ends with `receiver`.
// `prompt` shows the error box; null means the application's prompt.
template <class Sender, class Signal, class Receiver, class Handler>
QMetaObject::Connection ConnectHandler(Prompt* prompt, const Sender* sender, Signal signal, Receiver* receiver,
                                       Handler handler)
{
    return QObject::connect(sender, signal, receiver, [prompt, receiver, handler](auto&&... args) {
        RunHandler(prompt, [&] { handlers_detail::Invoke(receiver, handler, args...); });
    });
}
