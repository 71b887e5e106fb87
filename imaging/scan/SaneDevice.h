// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An open scanner and its options, read from SANE's option descriptors.
//
// Every member must be called on the scan thread (imaging/scan/ScanThread.h);
// the windows hold a SaneDevice through a shared pointer and post jobs that
// use it. The option list is a copy: after a set that answers
// SANE_INFO_RELOAD_OPTIONS or SANE_INFO_RELOAD_PARAMS the descriptors are read
// again, so callers look the options up again after each Set.
//
// Numbers: SANE_TYPE_INT values are whole numbers, SANE_TYPE_FIXED values
// are SANE_Fixed (16.16) on the wire; the model gives both as double and
// converts back by type when setting. Inactive options are neither read nor
// set.

#include <QString>
#include <QVariant>
#include <sane/sane.h>

#include <memory>
#include <vector>

namespace scan {

struct ScanOption {
    int index = 0;  // SANE option number
    QString name;
    QString title;
    QString description;
    QString group;  // title of the SANE group the option is in
    SANE_Value_Type type = SANE_TYPE_BOOL;
    SANE_Unit unit = SANE_UNIT_NONE;
    int count = 1;  // values: >1 for arrays (gamma tables…)
    int capabilities = 0;
    SANE_Constraint_Type constraint = SANE_CONSTRAINT_NONE;
    double min = 0, max = 0, quant = 0;  // range; quant 0 = continuous
    std::vector<double> words;           // word list
    QStringList strings;                 // string list
    // bool → bool, int and fixed → double (arrays: QVariantList of double),
    // string → QString; invalid for inactive, unreadable and button options.
    QVariant value;

    bool Active() const { return SANE_OPTION_IS_ACTIVE(capabilities); }
    bool Settable() const { return Active() && SANE_OPTION_IS_SETTABLE(capabilities); }
    bool Readable() const { return Active() && (capabilities & SANE_CAP_SOFT_DETECT); }
    bool Advanced() const { return capabilities & SANE_CAP_ADVANCED; }
    bool IsNumber() const { return type == SANE_TYPE_INT || type == SANE_TYPE_FIXED; }
    // The value the device would take that is nearest to `v`: clamped to the
    // range and put on its quant, or the nearest word of the list.
    double Nearest(double v) const;
};

// What a Set did.
struct SetResult {
    SANE_Status status = SANE_STATUS_GOOD;
    bool reloaded = false;  // the device changed other options or the parameters:
                            // controls built from the old list must be rebuilt
    bool inexact = false;   // the device took a value of its own
};

class SaneDevice {
public:
    ~SaneDevice();
    SaneDevice(const SaneDevice&) = delete;
    SaneDevice& operator=(const SaneDevice&) = delete;

    // sane_open and the first read of the options. Null, with `status`
    // set, when the device does not open.
    static std::unique_ptr<SaneDevice> Open(const QString& name, const QString& vendor, const QString& model,
                                            SANE_Status* status = nullptr);

    SANE_Handle Handle() const { return handle_; }
    const QString& Name() const { return name_; }

    const std::vector<ScanOption>& Options() const { return options_; }
    // The option of that name, or null (also for a name that went away in a
    // reload).
    const ScanOption* Find(const QString& name) const;
    // Reads every descriptor and every active, readable value again.
    void Reload();

    // Sets an active, settable option: bool, double (int and fixed), QString,
    // or anything for a button (pressed). A number is put on the nearest
    // value the constraint allows first. An inactive or unknown option gives
    // SANE_STATUS_INVAL without calling SANE. With `remember`, the value is
    // kept as this device's last value (see RestoreRemembered).
    SetResult Set(const QString& name, const QVariant& value, bool remember = false);

    // Puts back the values kept by Set(…, remember = true) in an earlier
    // session of the same device kind (vendor and model), in RestoreOrder.
    // Values the device no longer takes are left out.
    void RestoreRemembered();
    // Forgets the kept values of this device kind.
    void ForgetRemembered();

private:
    SaneDevice(SANE_Handle handle, const QString& name, const QString& vendor, const QString& model);
    QString SettingsGroup() const;

    SANE_Handle handle_ = nullptr;
    QString name_;
    QString kind_;  // vendor + model
    std::vector<ScanOption> options_;
};

// The order in which remembered options are put back: the scan mode, source
// and resolution options first (they change what the others may take), then
// the rest as listed, and the scan area last with page-width and page-height
// ahead of the tl-/br- corners (br-y may only reach as far as page-height).
QStringList RestoreOrder(const QStringList& names);

// A number given in SANE's wire form (SANE_Word) for an int or fixed option.
SANE_Word ToWord(SANE_Value_Type type, double v);
double FromWord(SANE_Value_Type type, SANE_Word w);

}  // namespace scan
