// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A Prompt that answers from a script and records everything it was shown.

#include "core/Prompt.h"

#include <QString>
#include <deque>
#include <functional>
#include <vector>

class ScriptedPrompt : public Prompt {
public:
    struct Shown {
        enum Kind { Dlg, Box, Exception, Modal, Document, OpenFile, SaveFile, PrinterSetup } kind;
        // message text, the dialog's objectName for Modal, the proposed name
        // for SaveFile
        QString text;
        QString caption;  // box caption
        DlgIcon icon = DlgIcon::Information;
        BoxButtons buttons = BoxButtons::Ok;
        QString detail;   // the detailed text (the system's reason), if any
    };

    // Answers for MessageBox with a choice (OK/Cancel, Yes/No), taken in
    // order; a box with OK alone needs none. When none is left the box
    // answers Ok / Cancel / No (the safe answer) and the test can see that
    // in unanswered().
    std::deque<BoxAnswer> boxAnswers;
    // Handlers for ExecModal, taken in order. Each gets the real dialog,
    // may fill in its controls, and returns the dialog's result. When none
    // is left the dialog is rejected.
    std::deque<std::function<int(QDialog&)>> modalHandlers;

    // Answers for GetOpenFileName, taken in order: each gets the request and
    // returns the chosen path (empty: cancelled). When none is left the
    // dialog is cancelled.
    std::deque<std::function<QString(const OpenFileRequest&)>> openFileHandlers;
    // Answers for GetSaveFileName, taken in order: each gets the request and
    // returns the chosen path (empty: cancelled) and filter. When none is
    // left the dialog is cancelled.
    std::deque<std::function<SaveFileAnswer(const SaveFileRequest&)>> saveFileHandlers;
    // Answers for PrinterSetup, taken in order: each gets the real printer,
    // may set it up (paper, orientation, resolution, output file) and
    // returns false to cancel. When none is left the dialog is cancelled.
    std::deque<std::function<bool(QPrinter&)>> printerHandlers;

    std::vector<Shown> shown;
    int unanswered = 0;

    void MessageDlg(const QString& text, DlgIcon icon, const QString& detail = QString()) override;
    BoxAnswer MessageBox(const QString& text, const QString& caption, BoxButtons buttons,
                         const QString& detail = QString()) override;
    void ShowException(const QString& message, const QString& detail = QString()) override;
    int ExecModal(QDialog& dialog) override;
    QString GetOpenFileName(const OpenFileRequest& request) override;
    SaveFileAnswer GetSaveFileName(const SaveFileRequest& request) override;
    bool PrinterSetup(QPrinter& printer) override;
    bool OpenDocument(const QString& path) override;

    // The texts shown, in order (dialogs, boxes and exceptions).
    std::vector<QString> Texts() const;
    void Clear();
};
