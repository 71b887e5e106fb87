// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The version window: product name, version text and an OK button.

#include <QDialog>
#include <memory>

namespace Ui {
class TVersionForm;
}

class TVersionForm : public QDialog {
    Q_OBJECT
public:
    explicit TVersionForm(QWidget* parent = nullptr);
    ~TVersionForm() override;

private:
    std::unique_ptr<Ui::TVersionForm> ui_;
};
