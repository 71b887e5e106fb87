// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wait window: a message shown, without taking input, while a slower
// image step runs on the user-interface thread.

#include <QWidget>
#include <memory>

namespace Ui {
class TfWait;
}

class TfWait : public QWidget {
    Q_OBJECT
public:
    explicit TfWait(QWidget* owner = nullptr);
    ~TfWait() override;

    // Shows the window and paints it at once, so its text is on screen
    // before the work that follows blocks the event loop.
    void ShowNow();

private:
    std::unique_ptr<Ui::TfWait> ui_;
};
