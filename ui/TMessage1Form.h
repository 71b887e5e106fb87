// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The processing window: shown, without buttons and without taking input,
// while a new page is processed automatically.

#include <QWidget>
#include <memory>

namespace Ui {
class TMessage1Form;
}

class TMessage1Form : public QWidget {
    Q_OBJECT
public:
    explicit TMessage1Form(QWidget* owner = nullptr);
    ~TMessage1Form() override;

    // Shows the window centred on the desktop and paints it (and its owner)
    // at once, so both are on screen before the work that follows blocks the
    // event loop.
    void ShowNow();

private:
    std::unique_ptr<Ui::TMessage1Form> ui_;
};
