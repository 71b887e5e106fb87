// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scan/SaneDevice.h"

#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/ScanThread.h"

#include <QSettings>
#include <sane/saneopts.h>

#include <algorithm>
#include <cassert>
#include <cmath>

namespace scan {

SANE_Word ToWord(SANE_Value_Type type, double v)
{
    if (type == SANE_TYPE_FIXED) {
        const double w = std::round(v * (1 << SANE_FIXED_SCALE_SHIFT));
        return SANE_Word(std::clamp(w, -2147483648.0, 2147483647.0));
    }
    return SANE_Word(std::clamp(std::round(v), -2147483648.0, 2147483647.0));
}

double FromWord(SANE_Value_Type type, SANE_Word w)
{
    return type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w);
}

double ScanOption::Nearest(double v) const
{
    if (constraint == SANE_CONSTRAINT_RANGE) {
        double r = std::clamp(v, min, max);
        if (quant > 0) {
            r = min + std::round((r - min) / quant) * quant;
            if (r > max + 1e-9)
                r -= quant;
        }
        return r;
    }
    if (constraint == SANE_CONSTRAINT_WORD_LIST && !words.empty()) {
        double best = words.front();
        for (double w : words)
            if (std::abs(w - v) < std::abs(best - v))
                best = w;
        return best;
    }
    return v;
}

SaneDevice::SaneDevice(SANE_Handle handle, const QString& name, const QString& vendor, const QString& model)
    : handle_(handle), name_(name), kind_(vendor + QLatin1Char(' ') + model)
{
}

SaneDevice::~SaneDevice()
{
    assert(OnScanThread());
    if (handle_) {
        sane_cancel(handle_);
        sane_close(handle_);
    }
}

std::unique_ptr<SaneDevice> SaneDevice::Open(const QString& name, const QString& vendor, const QString& model,
                                             SANE_Status* status)
{
    assert(OnScanThread());
    SANE_Handle h = nullptr;
    const SANE_Status s = sane_open(name.toUtf8().constData(), &h);
    if (status)
        *status = s;
    if (s != SANE_STATUS_GOOD || !h) {
        if (status && s == SANE_STATUS_GOOD)
            *status = SANE_STATUS_INVAL;
        return nullptr;
    }
    std::unique_ptr<SaneDevice> d(new SaneDevice(h, name, vendor, model));
    d->Reload();
    return d;
}

const ScanOption* SaneDevice::Find(const QString& name) const
{
    for (const auto& o : options_)
        if (o.name == name)
            return &o;
    return nullptr;
}

void SaneDevice::Reload()
{
    assert(OnScanThread());
    options_.clear();
    SANE_Int count = 0;
    if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return;
    QString group;
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
        if (!d)
            continue;
        if (d->type == SANE_TYPE_GROUP) {
            group = QString::fromUtf8(d->title ? d->title : "");
            continue;
        }
        ScanOption o;
        o.index = i;
        o.name = QString::fromUtf8(d->name ? d->name : "");
        o.title = QString::fromUtf8(d->title ? d->title : "");
        o.description = QString::fromUtf8(d->desc ? d->desc : "");
        o.group = group;
        o.type = d->type;
        o.unit = d->unit;
        o.capabilities = d->cap;
        o.constraint = d->constraint_type;
        if (o.IsNumber())
            o.count = std::max<int>(1, d->size / int(sizeof(SANE_Word)));
        if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range && o.IsNumber()) {
            o.min = FromWord(o.type, d->constraint.range->min);
            o.max = FromWord(o.type, d->constraint.range->max);
            o.quant = FromWord(o.type, d->constraint.range->quant);
        } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list && o.IsNumber()) {
            const SANE_Word* w = d->constraint.word_list;
            for (int k = 1; k <= w[0]; ++k)
                o.words.push_back(FromWord(o.type, w[k]));
        } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list) {
            for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
                o.strings << QString::fromUtf8(*s);
        } else {
            o.constraint = SANE_CONSTRAINT_NONE;
        }
        if (o.Readable() && o.type != SANE_TYPE_BUTTON && d->size > 0) {
            std::vector<SANE_Word> buf(std::size_t(d->size) / sizeof(SANE_Word) + 2, 0);
            if (sane_control_option(handle_, i, SANE_ACTION_GET_VALUE, buf.data(), nullptr) == SANE_STATUS_GOOD) {
                switch (o.type) {
                case SANE_TYPE_BOOL: o.value = buf[0] != SANE_FALSE; break;
                case SANE_TYPE_INT:
                case SANE_TYPE_FIXED:
                    if (o.count == 1) {
                        o.value = FromWord(o.type, buf[0]);
                    } else {
                        QVariantList list;
                        for (int k = 0; k < o.count; ++k)
                            list << FromWord(o.type, buf[std::size_t(k)]);
                        o.value = list;
                    }
                    break;
                case SANE_TYPE_STRING: {
                    const char* s = reinterpret_cast<const char*>(buf.data());
                    o.value = QString::fromUtf8(s, int(qstrnlen(s, std::size_t(d->size))));
                    break;
                }
                default: break;
                }
            }
        }
        options_.push_back(std::move(o));
    }
}

SetResult SaneDevice::Set(const QString& name, const QVariant& value, bool remember)
{
    assert(OnScanThread());
    SetResult r;
    const ScanOption* found = Find(name);
    if (!found || !found->Settable()) {
        r.status = SANE_STATUS_INVAL;
        return r;
    }
    const ScanOption o = *found;  // the list may be replaced below
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, o.index);
    if (!d) {
        r.status = SANE_STATUS_INVAL;
        return r;
    }
    SANE_Int info = 0;
    SANE_Status s = SANE_STATUS_GOOD;
    QVariant kept = value;
    switch (o.type) {
    case SANE_TYPE_BOOL: {
        SANE_Bool b = value.toBool() ? SANE_TRUE : SANE_FALSE;
        s = sane_control_option(handle_, o.index, SANE_ACTION_SET_VALUE, &b, &info);
        kept = bool(b);
        break;
    }
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED: {
        std::vector<SANE_Word> buf(std::size_t(o.count), 0);
        if (value.typeId() == QMetaType::QVariantList) {
            const QVariantList list = value.toList();
            for (int k = 0; k < o.count && k < list.size(); ++k)
                buf[std::size_t(k)] = ToWord(o.type, o.Nearest(list[k].toDouble()));
        } else {
            bool ok = false;
            const double v = value.toDouble(&ok);
            if (!ok) {
                r.status = SANE_STATUS_INVAL;
                return r;
            }
            std::fill(buf.begin(), buf.end(), ToWord(o.type, o.Nearest(v)));
            kept = o.Nearest(v);
        }
        s = sane_control_option(handle_, o.index, SANE_ACTION_SET_VALUE, buf.data(), &info);
        break;
    }
    case SANE_TYPE_STRING: {
        QByteArray text = value.toString().toUtf8();
        if (text.size() >= d->size) {
            r.status = SANE_STATUS_INVAL;
            return r;
        }
        text.resize(d->size, '\0');
        s = sane_control_option(handle_, o.index, SANE_ACTION_SET_VALUE, text.data(), &info);
        break;
    }
    case SANE_TYPE_BUTTON:
        s = sane_control_option(handle_, o.index, SANE_ACTION_SET_VALUE, nullptr, &info);
        remember = false;
        break;
    default: r.status = SANE_STATUS_INVAL; return r;
    }
    r.status = s;
    if (s != SANE_STATUS_GOOD)
        return r;
    r.inexact = info & SANE_INFO_INEXACT;
    r.reloaded = info & (SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
    // The descriptors when the device says they changed; the values always,
    // since a device may adjust this value or others without saying so.
    Reload();
    if (remember && o.count == 1) {
        if (const ScanOption* now = Find(name); now && now->value.isValid())
            kept = now->value;
        auto store = ImgKitSettings();
        store->beginGroup(SettingsGroup());
        store->setValue(name, kept);
        QStringList order = store->value(QStringLiteral(".order")).toStringList();
        order.removeAll(name);
        order << name;
        store->setValue(QStringLiteral(".order"), order);
        store->endGroup();
        store->sync();
    }
    return r;
}

QString SaneDevice::SettingsGroup() const
{
    // QSettings keys must not hold slashes; the kind is text from the device.
    QString key = kind_;
    key.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
    return QStringLiteral("Options/") + key;
}

void SaneDevice::RestoreRemembered()
{
    assert(OnScanThread());
    auto store = ImgKitSettings();
    store->beginGroup(SettingsGroup());
    const QStringList names = RestoreOrder(store->value(QStringLiteral(".order")).toStringList());
    std::vector<std::pair<QString, QVariant>> values;
    for (const QString& n : names)
        if (store->contains(n))
            values.emplace_back(n, store->value(n));
    store->endGroup();
    for (const auto& [n, v] : values) {
        const ScanOption* o = Find(n);
        if (!o || !o->Settable())
            continue;
        if (o->type == SANE_TYPE_STRING && o->constraint == SANE_CONSTRAINT_STRING_LIST
            && !o->strings.contains(v.toString()))
            continue;
        if (o->type == SANE_TYPE_BOOL)
            Set(n, v.toString() == QLatin1String("true") || v.toInt() != 0);
        else
            Set(n, v);
    }
}

void SaneDevice::ForgetRemembered()
{
    auto store = ImgKitSettings();
    store->remove(SettingsGroup());
    store->sync();
}

QStringList RestoreOrder(const QStringList& names)
{
    static const char* const kFirst[] = {SANE_NAME_SCAN_SOURCE, SANE_NAME_SCAN_MODE, "depth",
                                         SANE_NAME_SCAN_RESOLUTION, SANE_NAME_SCAN_X_RESOLUTION,
                                         SANE_NAME_SCAN_Y_RESOLUTION};
    static const char* const kLast[] = {SANE_NAME_PAGE_WIDTH, SANE_NAME_PAGE_HEIGHT, SANE_NAME_SCAN_TL_X,
                                        SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
    QStringList out;
    for (const char* n : kFirst)
        if (names.contains(QLatin1String(n)))
            out << QLatin1String(n);
    QStringList tail;
    for (const char* n : kLast)
        if (names.contains(QLatin1String(n)))
            tail << QLatin1String(n);
    for (const QString& n : names)
        if (!out.contains(n) && !tail.contains(n))
            out << n;
    return out + tail;
}

}  // namespace scan
