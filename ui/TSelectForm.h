// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Asks for the category a page moves to: the category names in the main
// window's order, none selected at first. OK without a selection says so and
// stays open.

#include <QDialog>
#include <QStringList>
#include <memory>

class Prompt;

namespace Ui {
class TSelectForm;
}

class TSelectForm : public QDialog {
    Q_OBJECT
public:
    explicit TSelectForm(Prompt& prompt, QWidget* parent = nullptr);
    ~TSelectForm() override;

    // Fills the list from a file of names, one a line (UTF-8). False when it
    // cannot be read.
    bool LoadList(const QString& path);
    void SetList(const QStringList& names);
    // Selects the name, when it is in the list.
    void Preselect(const QString& name);
    // The selected name; empty when none.
    QString SelectedName() const;

    void Button1Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Prompt& prompt_;
    std::unique_ptr<Ui::TSelectForm> ui_;
};
