// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The scanner's own dialog, built from the device's options: each SANE group
// a box, bool → check box, int/fixed range → slider with a spin box, word and
// string lists → combo box, button → button, free text → line edit. Inactive
// options are left out; when a change makes the device reload its options the
// controls are built again. A preview scans the whole bed at low resolution;
// the scan area can be drawn and dragged on it and follows the area's number
// fields both ways. Scan scans (with the progress window) and closes the
// dialog with the image.
//
// Every SANE call runs on the scan thread; the dialog only posts jobs and
// takes back a copy of the option list.

#include "imaging/ImageHandle.h"
#include "imaging/scan/SaneDevice.h"

#include <QDialog>
#include <QImage>
#include <QRectF>

#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

// The preview and the scan area on it, in the units of the area options.
class ScanAreaView : public QWidget {
    Q_OBJECT
public:
    explicit ScanAreaView(QWidget* parent = nullptr);
    void SetBed(const QRectF& bed);  // the whole bed, x from tl-x's range, y from tl-y's
    QRectF Bed() const { return bed_; }
    void SetPreview(const QImage& image);
    const QImage& Preview() const { return preview_; }
    void SetArea(const QRectF& area);
    QRectF Area() const { return area_; }
    // Where bed point p lands in the widget, and back.
    QPointF ToWidget(const QPointF& p) const;
    QPointF ToBed(const QPointF& w) const;

signals:
    // The user drew or moved the area (at the end of the drag).
    void AreaEdited(const QRectF& area);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    QRectF Frame() const;
    QRectF bed_{0, 0, 1, 1};
    QRectF area_;
    QImage preview_;
    enum class Drag { None, Draw, Move } drag_ = Drag::None;
    QPointF anchor_;
    QRectF startArea_;
};

class ScanDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScanDialog(QWidget* parent = nullptr);
    ~ScanDialog() override;

    // The image of the last scan (moved out), null when none.
    ImageHandle TakeImage() { return std::move(image_); }

    // For tests: true while a job of the dialog runs.
    bool Busy() const { return busy_; }
    bool HasDevice() const { return bool(device_); }
    const std::vector<scan::ScanOption>& Options() const { return options_; }
    ScanAreaView* AreaView() const { return view_; }

    // Sets an option through the scan thread (as the controls do).
    void SetOption(const QString& name, const QVariant& value);
    void Preview();
    void Scan();

private:
    void Opened(std::shared_ptr<scan::SaneDevice> device, std::vector<scan::ScanOption> options, QString error);
    void Rebuild();
    void UpdateValues();
    void UpdateArea();
    void SetBusy(bool busy);
    const scan::ScanOption* Find(const QString& name) const;
    QWidget* MakeControl(const scan::ScanOption& o, QWidget* parent);

    std::shared_ptr<scan::SaneDevice> device_;
    std::vector<scan::ScanOption> options_;
    ImageHandle image_;
    bool busy_ = true;
    int pending_ = 0;  // option jobs posted and not answered yet
    QLabel* status_;
    QWidget* panel_;
    QVBoxLayout* panelLayout_;
    ScanAreaView* view_;
    QPushButton* previewButton_;
    QPushButton* scanButton_;
    QPushButton* closeButton_;
};
