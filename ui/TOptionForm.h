// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The options dialog: shows the settings record and the archive's shared
// state, and on OK copies the controls back, saves every setting and records
// the sharing choice for the caller (the main window applies it). Cancel and
// the close box change nothing.
//
// The caller creates one dialog per opening and shows it through
// Prompt::ExecModal.

#include <QDialog>
#include <memory>

class QSettings;
struct Settings;

namespace Ui {
class TOptionForm;
}

class TOptionForm : public QDialog {
    Q_OBJECT
public:
    // settings and store must outlive the dialog; archiveShared is whether
    // the open archive is shared now. recognitionMissing: why text cannot
    // be recognised on this machine (no language data), empty when it can;
    // the recognition switch is then shown off and cannot be changed.
    TOptionForm(Settings& settings, QSettings& store, bool archiveShared, QWidget* parent = nullptr,
                const QString& recognitionMissing = QString());
    ~TOptionForm() override;

    // The sharing choice ("共有する" selected) as recorded by OK; until then
    // the shared state the dialog was opened with.
    bool ShareChosen() const { return shareChosen_; }

public slots:
    // OK: controls → record, SaveSettings, sharing choice, accept.
    void Button1Click();
    // Paper-size presets: fill the four scan-area edits only.
    void SpeedButton1Click();  // A4
    void SpeedButton2Click();  // B5
    void SpeedButton3Click();  // A3
    void SpeedButton4Click();  // B4
    void SpeedButton5Click();  // A5
    void SpeedButton6Click();  // B6

protected:
    void showEvent(QShowEvent* event) override;

private:
    void SetScanArea(int top, int bottom, int left, int right);

    std::unique_ptr<Ui::TOptionForm> ui_;
    Settings& settings_;
    QSettings& store_;
    bool shareChosen_;
};
