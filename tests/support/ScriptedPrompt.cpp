// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ScriptedPrompt.h"

#include <QDialog>

void ScriptedPrompt::MessageDlg(const QString& text, DlgIcon icon, const QString& detail)
{
    shown.push_back({Shown::Dlg, text, QString(), icon, BoxButtons::Ok, detail});
}

BoxAnswer ScriptedPrompt::MessageBox(const QString& text, const QString& caption, BoxButtons buttons,
                                     const QString& detail)
{
    shown.push_back({Shown::Box, text, caption, DlgIcon::Information, buttons, detail});
    if (buttons == BoxButtons::Ok)
        return BoxAnswer::Ok;  // nothing to choose
    if (!boxAnswers.empty()) {
        BoxAnswer a = boxAnswers.front();
        boxAnswers.pop_front();
        return a;
    }
    ++unanswered;
    switch (buttons) {
    case BoxButtons::Ok: return BoxAnswer::Ok;
    case BoxButtons::OkCancel: return BoxAnswer::Cancel;
    case BoxButtons::YesNo: return BoxAnswer::No;
    }
    return BoxAnswer::Cancel;
}

void ScriptedPrompt::ShowException(const QString& message, const QString& detail)
{
    shown.push_back({Shown::Exception, message, QString(), DlgIcon::Error, BoxButtons::Ok, detail});
}

int ScriptedPrompt::ExecModal(QDialog& dialog)
{
    shown.push_back({Shown::Modal, dialog.objectName(), QString(),
                     DlgIcon::Information, BoxButtons::Ok, QString()});
    if (modalHandlers.empty()) {
        ++unanswered;
        return 0;  // QDialog::Rejected
    }
    auto handler = std::move(modalHandlers.front());
    modalHandlers.pop_front();
    return handler(dialog);
}

QString ScriptedPrompt::GetOpenFileName(const OpenFileRequest& request)
{
    QStringList captions;
    for (const auto& f : request.filters)
        captions << f.caption + u'|' + f.patterns;
    shown.push_back({Shown::OpenFile, captions.join(u'|'), QString(), DlgIcon::Information, BoxButtons::Ok, QString()});
    if (openFileHandlers.empty()) {
        ++unanswered;
        return QString();
    }
    auto handler = std::move(openFileHandlers.front());
    openFileHandlers.pop_front();
    return handler(request);
}

SaveFileAnswer ScriptedPrompt::GetSaveFileName(const SaveFileRequest& request)
{
    shown.push_back({Shown::SaveFile, request.fileName, QString(), DlgIcon::Information, BoxButtons::Ok, QString()});
    if (saveFileHandlers.empty()) {
        ++unanswered;
        return {QString(), request.selectedFilter};
    }
    auto handler = std::move(saveFileHandlers.front());
    saveFileHandlers.pop_front();
    return handler(request);
}

bool ScriptedPrompt::PrinterSetup(QPrinter& printer)
{
    shown.push_back({Shown::PrinterSetup, QString(), QString(), DlgIcon::Information, BoxButtons::Ok, QString()});
    if (printerHandlers.empty()) {
        ++unanswered;
        return false;
    }
    auto handler = std::move(printerHandlers.front());
    printerHandlers.pop_front();
    return handler(printer);
}

bool ScriptedPrompt::OpenDocument(const QString& path)
{
    shown.push_back({Shown::Document, path, QString(), DlgIcon::Information, BoxButtons::Ok, QString()});
    return true;
}

std::vector<QString> ScriptedPrompt::Texts() const
{
    std::vector<QString> out;
    for (const auto& s : shown)
        if (s.kind == Shown::Dlg || s.kind == Shown::Box || s.kind == Shown::Exception)
            out.push_back(s.text);
    return out;
}

void ScriptedPrompt::Clear()
{
    shown.clear();
    boxAnswers.clear();
    modalHandlers.clear();
    openFileHandlers.clear();
    saveFileHandlers.clear();
    printerHandlers.clear();
    unanswered = 0;
}
