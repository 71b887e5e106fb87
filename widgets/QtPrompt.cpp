// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/QtPrompt.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>

namespace {

QWidget* ActiveParent(QWidget* fallback)
{
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    if (QWidget* w = QApplication::activeWindow())
        return w;
    return fallback;
}

// Puts the filters into the dialog so that each caption shows exactly as
// given and matches its own patterns, and selects one of them. Qt takes a
// filter's patterns from its last parentheses and, with the details hidden,
// shows the rest: so "TIFF(*,tif)" shows as written and matches *.tif.
// Returns the strings the dialog holds, in the order of `filters`.
QStringList SetFilters(QFileDialog& dialog, const QList<FileFilter>& filters, int selected)
{
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    QStringList names;
    for (const auto& f : filters)
        names << QStringLiteral("%1 (%2)").arg(f.caption, QString(f.patterns).replace(u';', u' '));
    dialog.setNameFilters(names);
    if (selected >= 0 && selected < names.size())
        dialog.selectNameFilter(names.at(selected));
    return names;
}

// The index of the dialog's chosen filter in `names` (as SetFilters gave
// them), or -1. With the details hidden the widget dialog names the chosen
// filter by its shown caption, a native one by the whole string.
int ChosenFilter(const QFileDialog& dialog, const QStringList& names, const QList<FileFilter>& filters)
{
    const QString chosen = dialog.selectedNameFilter();
    for (qsizetype i = 0; i < names.size(); ++i)
        if (chosen == names.at(i) || chosen.trimmed() == filters.at(i).caption.trimmed())
            return int(i);
    return -1;
}

}  // namespace

void QtPrompt::MessageDlg(const QString& text, DlgIcon icon, const QString& detail)
{
    // The framework's dialog: caption is the application title, one OK.
    QMessageBox::Icon qicon = QMessageBox::Information;
    switch (icon) {
    case DlgIcon::Error: qicon = QMessageBox::Critical; break;
    case DlgIcon::Information: qicon = QMessageBox::Information; break;
    case DlgIcon::Warning: qicon = QMessageBox::Warning; break;
    case DlgIcon::Confirmation: qicon = QMessageBox::Question; break;
    }
    QMessageBox box(qicon, QApplication::applicationDisplayName(), text, QMessageBox::Ok, ActiveParent(parent_));
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}

BoxAnswer QtPrompt::MessageBox(const QString& text, const QString& caption, BoxButtons buttons, const QString& detail)
{
    // The system box: its own caption, no icon, the given buttons.
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::NoButton, ActiveParent(parent_));
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    switch (buttons) {
    case BoxButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case BoxButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case BoxButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    box.setDefaultButton(buttons == BoxButtons::YesNo ? QMessageBox::Yes : QMessageBox::Ok);
    const int r = box.exec();
    switch (r) {
    case QMessageBox::Ok: return BoxAnswer::Ok;
    case QMessageBox::Yes: return BoxAnswer::Yes;
    case QMessageBox::No: return BoxAnswer::No;
    default: return buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Cancel;
    }
}

void QtPrompt::ShowException(const QString& message, const QString& detail)
{
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message, QMessageBox::Ok,
                    ActiveParent(parent_));
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}

int QtPrompt::ExecModal(QDialog& dialog)
{
    return dialog.exec();
}

QString QtPrompt::GetOpenFileName(const OpenFileRequest& request)
{
    QFileDialog dialog(ActiveParent(parent_));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setSizeGripEnabled(true);
    SetFilters(dialog, request.filters, request.selectedFilter);
    if (!request.folder.isEmpty())
        dialog.setDirectory(request.folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

SaveFileAnswer QtPrompt::GetSaveFileName(const SaveFileRequest& request)
{
    QFileDialog dialog(ActiveParent(parent_));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setSizeGripEnabled(true);
    // The name goes back as typed; the caller adds the extension and
    // overwrites without asking.
    dialog.setDefaultSuffix(QString());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QStringList filters = SetFilters(dialog, request.filters, request.selectedFilter);
    dialog.setDirectory(request.folder.isEmpty() ? QDir::currentPath() : request.folder);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {QString(), request.selectedFilter};
    const int chosen = ChosenFilter(dialog, filters, request.filters);
    return {dialog.selectedFiles().constFirst(), chosen >= 0 ? chosen : request.selectedFilter};
}

bool QtPrompt::PrinterSetup(QPrinter& printer)
{
    // The printer, its paper and orientation, the copies, and a file to
    // print to; one page is printed, so no page range and no collating. The
    // dialog writes its choices into the printer only when confirmed.
    QPrintDialog dialog(&printer, parent_);
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrompt::OpenDocument(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
