#include "widgets/QtPrompt.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
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
    // Qt takes a filter's patterns from its last parentheses and, with the
    // details hidden, shows the rest: so "TIFF(*,tif)" shows as written and
    // matches *.tif.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    QStringList filters;
    for (const auto& f : request.filters)
        filters << QStringLiteral("%1 (%2)").arg(f.caption, QString(f.patterns).replace(u';', u' '));
    dialog.setNameFilters(filters);
    if (request.selectedFilter >= 0 && request.selectedFilter < filters.size())
        dialog.selectNameFilter(filters.at(request.selectedFilter));
    if (!request.folder.isEmpty())
        dialog.setDirectory(request.folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

bool QtPrompt::OpenDocument(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
