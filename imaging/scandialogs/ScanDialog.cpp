// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scandialogs/ScanDialog.h"

#include "imaging/DibQImage.h"
#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/ScanEasy.h"
#include "imaging/scan/ScanThread.h"
#include "imaging/scandialogs/ScanProgress.h"
#include "imaging/scandialogs/ScanSelectDialog.h"
#include "imaging/scandialogs/SaneText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>
#include <sane/saneopts.h>

#include <array>
#include <cmath>
#include <tuple>

using scan::ScanOption;

namespace {

const char* const kCorners[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};

// In the dialog's language, as the rest of it.
QString UnitSuffix(SANE_Unit u)
{
    switch (u) {
    case SANE_UNIT_PIXEL: return QStringLiteral(" ピクセル");
    case SANE_UNIT_BIT: return QStringLiteral(" ビット");
    case SANE_UNIT_MM: return QStringLiteral(" mm");
    case SANE_UNIT_DPI: return QStringLiteral(" dpi");
    case SANE_UNIT_PERCENT: return QStringLiteral(" %");
    case SANE_UNIT_MICROSECOND: return QStringLiteral(" マイクロ秒");
    default: return {};
    }
}

QString NumberText(double v, SANE_Value_Type t)
{
    return t == SANE_TYPE_INT ? QString::number(qint64(std::llround(v))) : QString::number(v, 'g', 6);
}

// Slider steps for a range: the quant's steps when there are few enough.
int SliderSteps(const ScanOption& o)
{
    if (o.quant > 0) {
        const double n = (o.max - o.min) / o.quant;
        if (n >= 1 && n <= 10000)
            return int(std::lround(n));
    }
    return 1000;
}

}  // namespace

// --- ScanAreaView -----------------------------------------------------------

ScanAreaView::ScanAreaView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("scanPreview"));
    setMinimumSize(220, 300);
    setMouseTracking(false);
}

void ScanAreaView::SetBed(const QRectF& bed)
{
    if (bed.width() > 0 && bed.height() > 0)
        bed_ = bed;
    update();
}

void ScanAreaView::SetPreview(const QImage& image)
{
    preview_ = image;
    update();
}

void ScanAreaView::SetArea(const QRectF& area)
{
    area_ = area.normalized();
    update();
}

QRectF ScanAreaView::Frame() const
{
    // The bed's shape, as large as fits.
    const QRectF r = QRectF(rect()).adjusted(4, 4, -4, -4);
    const double scale = std::min(r.width() / bed_.width(), r.height() / bed_.height());
    const QSizeF s(bed_.width() * scale, bed_.height() * scale);
    return QRectF(r.center() - QPointF(s.width() / 2, s.height() / 2), s);
}

QPointF ScanAreaView::ToWidget(const QPointF& p) const
{
    const QRectF f = Frame();
    return {f.left() + (p.x() - bed_.left()) / bed_.width() * f.width(),
            f.top() + (p.y() - bed_.top()) / bed_.height() * f.height()};
}

QPointF ScanAreaView::ToBed(const QPointF& w) const
{
    const QRectF f = Frame();
    const double x = bed_.left() + (w.x() - f.left()) / f.width() * bed_.width();
    const double y = bed_.top() + (w.y() - f.top()) / f.height() * bed_.height();
    return {std::clamp(x, bed_.left(), bed_.right()), std::clamp(y, bed_.top(), bed_.bottom())};
}

void ScanAreaView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRectF f = Frame();
    p.fillRect(f, Qt::white);
    if (!preview_.isNull())
        p.drawImage(f, preview_);
    p.setPen(Qt::gray);
    p.drawRect(f);
    if (area_.isValid()) {
        const QRectF a(ToWidget(area_.topLeft()), ToWidget(area_.bottomRight()));
        p.fillRect(a, QColor(0, 120, 215, 50));
        p.setPen(QPen(QColor(0, 120, 215), 1, Qt::DashLine));
        p.drawRect(a);
    }
}

void ScanAreaView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    anchor_ = ToBed(e->position());
    startArea_ = area_;
    const QRectF a(ToWidget(area_.topLeft()), ToWidget(area_.bottomRight()));
    drag_ = area_.isValid() && a.contains(e->position()) ? Drag::Move : Drag::Draw;
}

void ScanAreaView::mouseMoveEvent(QMouseEvent* e)
{
    const QPointF p = ToBed(e->position());
    if (drag_ == Drag::Draw) {
        area_ = QRectF(anchor_, p).normalized();
    } else if (drag_ == Drag::Move) {
        QRectF moved = startArea_.translated(p - anchor_);
        // Stays on the bed.
        if (moved.left() < bed_.left())
            moved.moveLeft(bed_.left());
        if (moved.top() < bed_.top())
            moved.moveTop(bed_.top());
        if (moved.right() > bed_.right())
            moved.moveRight(bed_.right());
        if (moved.bottom() > bed_.bottom())
            moved.moveBottom(bed_.bottom());
        area_ = moved;
    } else {
        return;
    }
    update();
}

void ScanAreaView::mouseReleaseEvent(QMouseEvent* e)
{
    if (drag_ == Drag::None || e->button() != Qt::LeftButton)
        return;
    mouseMoveEvent(e);
    drag_ = Drag::None;
    if (area_.width() > 0 && area_.height() > 0)
        emit AreaEdited(area_);
    else
        SetArea(startArea_);  // a click without a drag keeps the area
}

// --- ScanDialog -------------------------------------------------------------

ScanDialog::ScanDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("scanDialog"));
    setWindowTitle(QStringLiteral("スキャン"));
    auto* outer = new QVBoxLayout(this);
    status_ = new QLabel(QStringLiteral("スキャナを準備しています…"), this);
    status_->setObjectName(QStringLiteral("scanStatus"));
    status_->setWordWrap(true);
    outer->addWidget(status_);
    auto* middle = new QHBoxLayout;
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scanOptionsScroll"));
    scroll->setWidgetResizable(true);
    panel_ = new QWidget;
    panel_->setObjectName(QStringLiteral("scanOptionsPanel"));
    panelLayout_ = new QVBoxLayout(panel_);
    scroll->setWidget(panel_);
    view_ = new ScanAreaView(this);
    middle->addWidget(scroll, 3);
    middle->addWidget(view_, 2);
    outer->addLayout(middle, 1);
    auto* buttons = new QHBoxLayout;
    previewButton_ = new QPushButton(QStringLiteral("プレビュー"), this);
    previewButton_->setObjectName(QStringLiteral("previewButton"));
    scanButton_ = new QPushButton(QStringLiteral("スキャン"), this);
    scanButton_->setObjectName(QStringLiteral("scanButton"));
    scanButton_->setDefault(true);
    closeButton_ = new QPushButton(QStringLiteral("閉じる"), this);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    buttons->addStretch();
    buttons->addWidget(previewButton_);
    buttons->addWidget(scanButton_);
    buttons->addWidget(closeButton_);
    outer->addLayout(buttons);
    connect(previewButton_, &QPushButton::clicked, this, &ScanDialog::Preview);
    connect(scanButton_, &QPushButton::clicked, this, &ScanDialog::Scan);
    connect(closeButton_, &QPushButton::clicked, this, &ScanDialog::reject);
    connect(view_, &ScanAreaView::AreaEdited, this, [this](const QRectF& a) {
        // Corners that move towards each other go first, so the area never
        // turns inside out on the way.
        const double v[4] = {a.left(), a.top(), a.right(), a.bottom()};
        const ScanOption* brx = Find(QLatin1String(SANE_NAME_SCAN_BR_X));
        const bool brFirst = brx && brx->value.toDouble() < a.left();
        for (int i : brFirst ? std::array{2, 3, 0, 1} : std::array{0, 1, 2, 3})
            SetOption(QLatin1String(kCorners[i]), v[i]);
    });
    resize(760, 560);
    SetBusy(true);

    scan::RunScanJob(
        this,
        []() -> std::tuple<std::shared_ptr<scan::SaneDevice>, std::vector<ScanOption>, QString> {
            const auto device = scan::DeviceToUse(scan::ListScanDevices());
            if (!device)
                return {nullptr, {}, QString::fromUtf8(kNoScannerText)};
            SANE_Status status = SANE_STATUS_GOOD;
            auto open = scan::SaneDevice::Open(device->name, device->vendor, device->model, &status);
            if (!open)
                return {nullptr, {}, QStringLiteral("スキャナを開けません（%1）。").arg(QString::fromUtf8(sane_strstatus(status)))};
            open->RestoreRemembered();
            auto options = open->Options();
            // Closed on the scan thread whoever lets go last.
            std::shared_ptr<scan::SaneDevice> shared(open.release(), [](scan::SaneDevice* d) {
                if (scan::OnScanThread())
                    delete d;
                else
                    scan::PostScanJob([d] { delete d; });
            });
            return {shared, std::move(options), QStringLiteral("%1 %2").arg(device->vendor, device->model)};
        },
        [this](auto r) { Opened(std::get<0>(r), std::move(std::get<1>(r)), std::get<2>(r)); });
}

ScanDialog::~ScanDialog() = default;

void ScanDialog::Opened(std::shared_ptr<scan::SaneDevice> device, std::vector<ScanOption> options, QString text)
{
    device_ = std::move(device);
    options_ = std::move(options);
    status_->setText(text);
    if (!device_) {
        busy_ = false;
        previewButton_->setEnabled(false);
        scanButton_->setEnabled(false);
        closeButton_->setEnabled(true);
        return;
    }
    Rebuild();
    SetBusy(false);
}

const ScanOption* ScanDialog::Find(const QString& name) const
{
    for (const auto& o : options_)
        if (o.name == name)
            return &o;
    return nullptr;
}

void ScanDialog::SetBusy(bool busy)
{
    busy_ = busy;
    panel_->setEnabled(!busy);
    view_->setEnabled(!busy && device_);
    previewButton_->setEnabled(!busy && device_);
    scanButton_->setEnabled(!busy && device_);
    closeButton_->setEnabled(!busy || !device_);
}

QWidget* ScanDialog::MakeControl(const ScanOption& o, QWidget* parent)
{
    const QString id = QStringLiteral("opt_") + o.name;
    const QString name = o.name;
    QWidget* control = nullptr;
    if (o.type == SANE_TYPE_BUTTON) {
        auto* b = new QPushButton(SaneText(o.title), parent);
        connect(b, &QPushButton::clicked, this, [this, name] { SetOption(name, true); });
        control = b;
    } else if (o.type == SANE_TYPE_BOOL) {
        auto* c = new QCheckBox(SaneText(o.title), parent);
        c->setChecked(o.value.toBool());
        connect(c, &QCheckBox::toggled, this, [this, name](bool on) { SetOption(name, on); });
        control = c;
    } else if (o.constraint == SANE_CONSTRAINT_STRING_LIST || o.constraint == SANE_CONSTRAINT_WORD_LIST) {
        auto* c = new QComboBox(parent);
        if (o.constraint == SANE_CONSTRAINT_STRING_LIST) {
            for (const QString& s : o.strings)
                c->addItem(SaneText(s), s);  // shown translated, sent as the backend's
        } else {
            for (double w : o.words)
                c->addItem(NumberText(w, o.type) + UnitSuffix(o.unit), w);
        }
        c->setCurrentIndex(c->findData(o.value));
        connect(c, &QComboBox::activated, this, [this, name, c](int i) { SetOption(name, c->itemData(i)); });
        control = c;
    } else if (o.IsNumber()) {
        auto* spin = new QDoubleSpinBox(parent);
        spin->setObjectName(id);
        spin->setDecimals(o.type == SANE_TYPE_INT ? 0 : 2);
        spin->setSuffix(UnitSuffix(o.unit));
        spin->setKeyboardTracking(false);
        if (o.constraint == SANE_CONSTRAINT_RANGE) {
            spin->setRange(o.min, o.max);
            spin->setSingleStep(o.quant > 0 ? o.quant : (o.type == SANE_TYPE_INT ? 1 : (o.max - o.min) / 100));
        } else {
            spin->setRange(-1e9, 1e9);
        }
        spin->setValue(o.value.toDouble());
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this, name](double v) { SetOption(name, v); });
        if (o.constraint != SANE_CONSTRAINT_RANGE)
            return spin;
        auto* box = new QWidget(parent);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        auto* slider = new QSlider(Qt::Horizontal, box);
        slider->setObjectName(id + QStringLiteral("_slider"));
        const int steps = SliderSteps(o);
        slider->setRange(0, steps);
        const double min = o.min, span = o.max - o.min;
        auto toSlider = [min, span, steps](double v) { return span > 0 ? int(std::lround((v - min) / span * steps)) : 0; };
        slider->setValue(toSlider(o.value.toDouble()));
        // The spin box shows the slider's value as it moves; the device hears
        // of it when the slider is let go.
        connect(slider, &QSlider::sliderMoved, spin, [spin, min, span, steps](int s) {
            QSignalBlocker block(spin);
            spin->setValue(min + span * s / steps);
        });
        connect(slider, &QSlider::valueChanged, this, [this, slider, spin, name, min, span, steps](int s) {
            if (slider->isSliderDown())
                return;
            spin->setValue(min + span * s / steps);  // → SetOption
        });
        connect(slider, &QSlider::sliderReleased, this, [spin, slider, min, span, steps] {
            spin->setValue(min + span * slider->value() / steps);
        });
        row->addWidget(slider, 1);
        row->addWidget(spin);
        box->setObjectName(id + QStringLiteral("_box"));
        return box;
    } else {
        auto* edit = new QLineEdit(o.value.toString(), parent);
        connect(edit, &QLineEdit::editingFinished, this, [this, name, edit] { SetOption(name, edit->text()); });
        control = edit;
    }
    control->setObjectName(id);
    control->setToolTip(SaneText(o.description));
    return control;
}

void ScanDialog::Rebuild()
{
    // Everything the last list built goes; the new list builds it again.
    while (QLayoutItem* item = panelLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QGroupBox* box = nullptr;
    QFormLayout* form = nullptr;
    QString group = QStringLiteral("\x01");
    for (const ScanOption& o : options_) {
        // Hidden: inactive options, values the user cannot set, arrays
        // (gamma tables), and the device's own preview switch.
        if (!o.Settable() || o.count > 1 || o.name == QLatin1String(SANE_NAME_PREVIEW))
            continue;
        if (o.type != SANE_TYPE_BUTTON && !o.value.isValid())
            continue;
        if (!box || o.group != group) {
            group = o.group;
            box = new QGroupBox(group.isEmpty() ? QStringLiteral("設定") : SaneText(group), panel_);
            box->setObjectName(QStringLiteral("group_") + (group.isEmpty() ? QStringLiteral("main") : group));
            form = new QFormLayout(box);
            panelLayout_->addWidget(box);
        }
        QWidget* c = MakeControl(o, box);
        if (o.type == SANE_TYPE_BOOL || o.type == SANE_TYPE_BUTTON)
            form->addRow(c);
        else
            form->addRow(SaneText(o.title), c);
    }
    panelLayout_->addStretch();
    UpdateArea();
}

void ScanDialog::UpdateValues()
{
    for (const ScanOption& o : options_) {
        QWidget* w = panel_->findChild<QWidget*>(QStringLiteral("opt_") + o.name);
        if (!w)
            continue;
        QSignalBlocker block(w);
        if (auto* c = qobject_cast<QCheckBox*>(w)) {
            c->setChecked(o.value.toBool());
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            c->setCurrentIndex(c->findData(o.value));
        } else if (auto* s = qobject_cast<QDoubleSpinBox*>(w)) {
            if (o.constraint == SANE_CONSTRAINT_RANGE)
                s->setRange(o.min, o.max);
            s->setValue(o.value.toDouble());
            if (auto* slider = panel_->findChild<QSlider*>(QStringLiteral("opt_") + o.name + QStringLiteral("_slider"))) {
                QSignalBlocker blockSlider(slider);
                const double span = o.max - o.min;
                slider->setValue(span > 0 ? int(std::lround((o.value.toDouble() - o.min) / span * slider->maximum())) : 0);
            }
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            e->setText(o.value.toString());
        }
    }
    UpdateArea();
}

void ScanDialog::UpdateArea()
{
    const ScanOption* c[4];
    for (int i = 0; i < 4; ++i) {
        c[i] = Find(QLatin1String(kCorners[i]));
        if (!c[i] || !c[i]->Active() || !c[i]->value.isValid()) {
            view_->SetArea({});
            return;
        }
    }
    if (c[0]->constraint == SANE_CONSTRAINT_RANGE && c[1]->constraint == SANE_CONSTRAINT_RANGE) {
        const QRectF bed(QPointF(c[0]->min, c[1]->min),
                         QPointF(std::max(c[0]->max, c[2]->max), std::max(c[1]->max, c[3]->max)));
        if (bed != view_->Bed())
            view_->SetPreview({});  // a preview of another bed no longer fits
        view_->SetBed(bed);
    }
    view_->SetArea(QRectF(QPointF(c[0]->value.toDouble(), c[1]->value.toDouble()),
                          QPointF(c[2]->value.toDouble(), c[3]->value.toDouble())));
}

void ScanDialog::SetOption(const QString& name, const QVariant& value)
{
    if (!device_)
        return;
    ++pending_;
    SetBusy(true);
    auto device = device_;
    scan::RunScanJob(
        this,
        [device, name, value] {
            const scan::SetResult r = device->Set(name, value, true);
            return std::pair{r, device->Options()};
        },
        [this](std::pair<scan::SetResult, std::vector<ScanOption>> r) {
            // The controls are built again when the device reloaded its
            // options or any option came or went.
            bool same = r.second.size() == options_.size();
            for (std::size_t i = 0; same && i < options_.size(); ++i)
                same = options_[i].name == r.second[i].name && options_[i].capabilities == r.second[i].capabilities
                       && options_[i].constraint == r.second[i].constraint && options_[i].min == r.second[i].min
                       && options_[i].max == r.second[i].max && options_[i].strings == r.second[i].strings
                       && options_[i].words == r.second[i].words;
            options_ = std::move(r.second);
            if (r.first.reloaded || !same)
                Rebuild();
            else
                UpdateValues();
            if (r.first.status != SANE_STATUS_GOOD)
                status_->setText(QStringLiteral("スキャナがこの値を受け付けません（%1）。")
                                     .arg(QString::fromUtf8(sane_strstatus(r.first.status))));
            SetBusy(--pending_ > 0);
        });
}

void ScanDialog::Preview()
{
    if (!device_ || busy_ || pending_ > 0)
        return;
    SetBusy(true);
    auto device = device_;
    using Result = std::pair<scan::ScanOutcome, std::vector<ScanOption>>;
    Result r = RunWithProgress<Result>(this, [device](const std::atomic<bool>* cancel, const scan::ScanProgress& progress) {
        // The whole bed at a low resolution, then the user's values again.
        QList<std::pair<QString, QVariant>> kept;
        auto keep = [&](const char* name) {
            if (const ScanOption* o = device->Find(QLatin1String(name)); o && o->Settable() && o->value.isValid())
                kept.append({o->name, o->value});
        };
        for (const char* n : {SANE_NAME_SCAN_RESOLUTION, SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X,
                              SANE_NAME_SCAN_BR_Y, SANE_NAME_PREVIEW})
            keep(n);
        if (const ScanOption* o = device->Find(QLatin1String(SANE_NAME_SCAN_RESOLUTION)); o && o->Settable())
            device->Set(o->name, o->Nearest(std::max(o->constraint == SANE_CONSTRAINT_RANGE ? o->min : 0.0, 50.0)));
        for (const char* n : {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y})
            if (const ScanOption* o = device->Find(QLatin1String(n)); o && o->Settable())
                device->Set(o->name, o->constraint == SANE_CONSTRAINT_RANGE ? o->min : 0.0);
        for (const char* n : {SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y})
            if (const ScanOption* o = device->Find(QLatin1String(n)); o && o->Settable() && o->constraint == SANE_CONSTRAINT_RANGE)
                device->Set(o->name, o->max);
        if (const ScanOption* o = device->Find(QLatin1String(SANE_NAME_PREVIEW)); o && o->Settable())
            device->Set(o->name, true);
        double dpiX = 0, dpiY = 0;
        scan::DeviceResolution(*device, &dpiX, &dpiY);
        scan::SaneFrameSource source(device->Handle());
        scan::ScanOutcome out = scan::ReadScan(source, dpiX, dpiY, cancel, progress);
        for (const auto& [n, v] : kept)
            device->Set(n, v);
        return Result{std::move(out), device->Options()};
    });
    options_ = std::move(r.second);
    UpdateValues();
    if (r.first.image)
        view_->SetPreview(DibToQImage(r.first.image));
    else if (r.first.status != SANE_STATUS_CANCELLED)
        status_->setText(QStringLiteral("プレビューできませんでした（%1）。").arg(QString::fromUtf8(sane_strstatus(r.first.status))));
    SetBusy(false);
}

void ScanDialog::Scan()
{
    if (!device_ || busy_ || pending_ > 0)
        return;
    SetBusy(true);
    auto device = device_;
    scan::ScanOutcome out = RunWithProgress<scan::ScanOutcome>(
        this, [device](const std::atomic<bool>* cancel, const scan::ScanProgress& progress) {
            double dpiX = 0, dpiY = 0;
            scan::DeviceResolution(*device, &dpiX, &dpiY);
            scan::SaneFrameSource source(device->Handle());
            return scan::ReadScan(source, dpiX, dpiY, cancel, progress);
        });
    SetBusy(false);
    if (out.image) {
        image_ = std::move(out.image);
        accept();
        return;
    }
    if (out.status == SANE_STATUS_CANCELLED)
        status_->setText(QStringLiteral("スキャンを取り消しました。"));
    else
        status_->setText(QStringLiteral("スキャンできませんでした（%1）。").arg(QString::fromUtf8(sane_strstatus(out.status))));
}
