// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one seam through which the program asks the user anything or tells the
// user anything in a modal way. Windows and logic never open message boxes or
// run dialogs themselves: they call the Prompt they were given. The program
// uses the Qt implementation (widgets/QtPrompt); tests use a scripted one that
// records what was shown and answers from a script.

#include <QString>
#include <QStringList>

class QDialog;
class QPrinter;

// One filter of a file dialog as a "caption|patterns" pair, patterns
// separated by ";": {"All Files(*.*)", "*"}, {"TIFF(*,tif)", "*.tif"} ...
// The caption is shown exactly as given.
struct FileFilter {
    QString caption;
    QString patterns;
};

// What an open-file dialog shows and allows.
struct OpenFileRequest {
    using Filter = FileFilter;
    QList<Filter> filters;
    int selectedFilter = 0;
    QString folder;  // where it opens; empty: the current folder
};

// What a save-file dialog shows.
struct SaveFileRequest {
    using Filter = FileFilter;
    QList<Filter> filters;
    int selectedFilter = 0;  // 0-based index into filters
    QString folder;          // where it opens; empty: the process's working directory
    QString fileName;        // the proposed name, without extension
};

// What the user chose in a save-file dialog.
struct SaveFileAnswer {
    QString path;            // empty: cancelled
    int selectedFilter = 0;  // 0-based index of the filter chosen last
};

enum class DlgIcon {
    Error,
    Information,
    Warning,
    Confirmation,
};

enum class BoxButtons {
    Ok,
    OkCancel,
    YesNo,
};

enum class BoxAnswer {
    Ok,
    Cancel,
    Yes,
    No,
};

class Prompt {
public:
    virtual ~Prompt() = default;

    // Every box takes an optional `detail`: the system's reason for a failure
    // ("No space left on device"), shown as the box's detailed text beside
    // the message, never in its place. Empty: no detail.

    // The framework's message dialog: an icon, the text and one OK button.
    virtual void MessageDlg(const QString& text, DlgIcon icon, const QString& detail = QString()) = 0;

    // The system message box: its own caption ("Error", "Tolvane" or empty)
    // and OK, OK/Cancel or Yes/No. Closing the box without a button counts
    // as Cancel (OK/Cancel), No (Yes/No) or Ok (OK alone).
    virtual BoxAnswer MessageBox(const QString& text, const QString& caption, BoxButtons buttons,
                                 const QString& detail = QString()) = 0;

    // The framework's standard error box for an exception that escaped an
    // event handler; the program goes on afterwards.
    virtual void ShowException(const QString& message, const QString& detail = QString()) = 0;

    // Shows one of the program's own modal windows and returns its result
    // (QDialog::Accepted or QDialog::Rejected, or what the window sets).
    virtual int ExecModal(QDialog& dialog) = 0;

    // The open dialog for one existing file: its path, or empty when it was
    // cancelled. The read-only check box is not offered; the dialog is
    // resizable.
    virtual QString GetOpenFileName(const OpenFileRequest& request) = 0;

    // The save dialog for one file name: the name is taken as typed (no
    // extension is added) and an existing file is never questioned, the
    // caller decides both.
    virtual SaveFileAnswer GetSaveFileName(const SaveFileRequest& request) = 0;

    // The printer set-up dialog on `printer`: the printer itself, paper,
    // orientation and copies, written into `printer` when confirmed. False
    // when it was cancelled (the printer is then as it was given).
    virtual bool PrinterSetup(QPrinter& printer) = 0;

    // Opens a document (the help) with the desktop's viewer for its type.
    // False when nothing could open it.
    virtual bool OpenDocument(const QString& path) = 0;
};
