// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The colour preview: a small tool window above the editor showing a reduced
// copy of the edited picture with the colour-balance offsets applied. It
// opens where it was last closed (the settings ColorPreviewX, ColorPreviewY),
// or centred on the desktop while either is negative. However it is closed,
// it stores its position into the settings record and reports Closed, which
// the editor takes as a cancelled preview.

#include <QWidget>
#include <memory>

struct Settings;
class TImage;

namespace Ui {
class TfColorPreview;
}

class TfColorPreview : public QWidget {
    Q_OBJECT
public:
    TfColorPreview(Settings& settings, QWidget* owner);
    ~TfColorPreview() override;

    TImage* Image1() const;

    // Stores the window's left and top into the settings record.
    void FormClose();

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Settings& settings_;
    std::unique_ptr<Ui::TfColorPreview> ui_;
};
