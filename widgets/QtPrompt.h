// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Prompt the program uses: real Qt message boxes and dialogs.

#include "core/Prompt.h"

class QWidget;

class QtPrompt : public Prompt {
public:
    // parent: the window that owns the boxes (the main window); may be null.
    explicit QtPrompt(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    void MessageDlg(const QString& text, DlgIcon icon, const QString& detail = QString()) override;
    BoxAnswer MessageBox(const QString& text, const QString& caption, BoxButtons buttons,
                         const QString& detail = QString()) override;
    void ShowException(const QString& message, const QString& detail = QString()) override;
    int ExecModal(QDialog& dialog) override;
    QString GetOpenFileName(const OpenFileRequest& request) override;
    SaveFileAnswer GetSaveFileName(const SaveFileRequest& request) override;
    bool PrinterSetup(QPrinter& printer) override;
    bool OpenDocument(const QString& path) override;

private:
    QWidget* parent_;
};
