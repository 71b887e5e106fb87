// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Asks for a category name: for a new category, or the new name of the
// current one. Enter closes it with OK and Escape with Cancel, whichever
// control has the focus.

#include <QDialog>
#include <memory>

namespace Ui {
class TfNewFolder;
}

class TfNewFolder : public QDialog {
    Q_OBJECT
public:
    explicit TfNewFolder(QWidget* parent = nullptr);
    ~TfNewFolder() override;

    // Switches the prompt to the one for a rename.
    void SetForRename();
    QString Name() const;
    void SetName(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::TfNewFolder> ui_;
};
