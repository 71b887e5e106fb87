// SPDX-License-Identifier: GPL-3.0-or-later
// The option model of the test device, the values kept per device kind, and
// the stored scanner choice.

#include "imaging/scan/ScanDevices.h"
#include "tests/scan/ScanTestSupport.h"

#include <QSettings>
#include <gtest/gtest.h>

using scan::ScanDevice;
using scan::ScanOption;

TEST(Options, GroupsTypesUnitsAndConstraints)
{
    DevicePtr d = OpenDevice();
    ASSERT_TRUE(d);
    SetOptions(d, {{QStringLiteral("mode"), QStringLiteral("Gray")}, {QStringLiteral("enable-test-options"), false}});
    const ScanOption* mode = d->Find(QStringLiteral("mode"));
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->type, SANE_TYPE_STRING);
    EXPECT_EQ(mode->constraint, SANE_CONSTRAINT_STRING_LIST);
    EXPECT_EQ(mode->strings, (QStringList{QStringLiteral("Gray"), QStringLiteral("Color")}));
    EXPECT_EQ(mode->value.toString(), QStringLiteral("Gray"));
    EXPECT_EQ(mode->group, QStringLiteral("Scan Mode"));

    const ScanOption* res = d->Find(QStringLiteral("resolution"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->type, SANE_TYPE_FIXED);
    EXPECT_EQ(res->unit, SANE_UNIT_DPI);
    EXPECT_EQ(res->constraint, SANE_CONSTRAINT_RANGE);
    EXPECT_DOUBLE_EQ(res->min, 1);
    EXPECT_DOUBLE_EQ(res->max, 1200);
    EXPECT_DOUBLE_EQ(res->quant, 1);

    const ScanOption* depth = d->Find(QStringLiteral("depth"));
    ASSERT_TRUE(depth);
    EXPECT_EQ(depth->type, SANE_TYPE_INT);
    EXPECT_EQ(depth->constraint, SANE_CONSTRAINT_WORD_LIST);
    EXPECT_EQ(depth->words, (std::vector<double>{1, 8, 16}));

    const ScanOption* brx = d->Find(QStringLiteral("br-x"));
    ASSERT_TRUE(brx);
    EXPECT_EQ(brx->unit, SANE_UNIT_MM);
    EXPECT_DOUBLE_EQ(brx->max, 300);  // geometry_max of the configuration
    EXPECT_EQ(brx->group, QStringLiteral("Geometry"));

    const ScanOption* button = d->Find(QStringLiteral("print-options"));
    ASSERT_TRUE(button);
    EXPECT_EQ(button->type, SANE_TYPE_BUTTON);
    EXPECT_FALSE(button->value.isValid());

    // In grey the three-pass options are inactive: not read, not set.
    const ScanOption* threePass = d->Find(QStringLiteral("three-pass"));
    ASSERT_TRUE(threePass);
    EXPECT_FALSE(threePass->Active());
    EXPECT_FALSE(threePass->value.isValid());
    EXPECT_EQ(OnScan([d] { return d->Set(QStringLiteral("three-pass"), true).status; }), SANE_STATUS_INVAL);
    EXPECT_EQ(OnScan([d] { return d->Set(QStringLiteral("no-such-option"), 1).status; }), SANE_STATUS_INVAL);
}

TEST(Options, ReloadsAfterAChangeAndPutsNumbersOnTheirConstraint)
{
    DevicePtr d = OpenDevice();
    ASSERT_TRUE(d);
    SetOptions(d, {{QStringLiteral("mode"), QStringLiteral("Gray")}});
    // Colour makes the three-pass options active: the device asks for a reload.
    const auto r = OnScan([d] { return d->Set(QStringLiteral("mode"), QStringLiteral("Color")); });
    EXPECT_EQ(r.status, SANE_STATUS_GOOD);
    EXPECT_TRUE(r.reloaded);
    ASSERT_TRUE(d->Find(QStringLiteral("three-pass")));
    EXPECT_TRUE(d->Find(QStringLiteral("three-pass"))->Active());
    EXPECT_EQ(d->Find(QStringLiteral("three-pass"))->value, QVariant(false));

    // Range with quant (fixed): 75.4 dpi → 75.
    SetOptions(d, {{QStringLiteral("resolution"), 75.4}});
    EXPECT_DOUBLE_EQ(d->Find(QStringLiteral("resolution"))->value.toDouble(), 75);
    // Word list (int): 10 → 8.
    SetOptions(d, {{QStringLiteral("depth"), 10}});
    EXPECT_DOUBLE_EQ(d->Find(QStringLiteral("depth"))->value.toDouble(), 8);

    // The test options: an int range with quant 2, fixed word lists, strings.
    SetOptions(d, {{QStringLiteral("enable-test-options"), true}});
    const ScanOption* intRange = d->Find(QStringLiteral("int-constraint-range"));
    ASSERT_TRUE(intRange);
    ASSERT_TRUE(intRange->Active());
    EXPECT_EQ(intRange->type, SANE_TYPE_INT);
    EXPECT_EQ(intRange->unit, SANE_UNIT_PIXEL);
    EXPECT_DOUBLE_EQ(intRange->min, 4);
    EXPECT_DOUBLE_EQ(intRange->quant, 2);
    SetOptions(d, {{QStringLiteral("int-constraint-range"), 7}, {QStringLiteral("int-constraint-range"), 1000}});
    EXPECT_DOUBLE_EQ(d->Find(QStringLiteral("int-constraint-range"))->value.toDouble(), 192);
    const ScanOption* fixedWords = d->Find(QStringLiteral("fixed-constraint-word-list"));
    ASSERT_TRUE(fixedWords);
    EXPECT_EQ(fixedWords->type, SANE_TYPE_FIXED);
    ASSERT_EQ(fixedWords->words.size(), 4u);
    EXPECT_NEAR(fixedWords->words[0], -32.7, 1e-4);
    SetOptions(d, {{QStringLiteral("fixed-constraint-word-list"), 100.0}});
    EXPECT_NEAR(d->Find(QStringLiteral("fixed-constraint-word-list"))->value.toDouble(), 129.5, 1e-4);
    const ScanOption* array = d->Find(QStringLiteral("int-constraint-array"));
    ASSERT_TRUE(array);
    EXPECT_GT(array->count, 1);
    EXPECT_EQ(array->value.typeId(), QMetaType::QVariantList);
    // A string not in the list is refused by the device.
    EXPECT_EQ(OnScan([d] { return d->Set(QStringLiteral("string-constraint-string-list"), QStringLiteral("Nope")).status; }),
              SANE_STATUS_INVAL);
    SetOptions(d, {{QStringLiteral("string-constraint-string-list"), QStringLiteral("Second entry")}});
    EXPECT_EQ(d->Find(QStringLiteral("string-constraint-string-list"))->value.toString(), QStringLiteral("Second entry"));
    SetOptions(d, {{QStringLiteral("enable-test-options"), false}});
    EXPECT_FALSE(d->Find(QStringLiteral("int-constraint-range"))->Active());
}

TEST(Options, LastValuesComeBackForTheSameKindOfDevice)
{
    const QString vendor = QStringLiteral("Noname"), model = QStringLiteral("frontend-tester");
    auto open = [&](const QString& name) {
        return DevicePtr(OnScan([&] { return scan::SaneDevice::Open(name, vendor, model).release(); }),
                         [](scan::SaneDevice* p) { scan::PostScanJob([p] { delete p; }); });
    };
    {
        DevicePtr d = open(QStringLiteral("test:0"));
        ASSERT_TRUE(d);
        OnScan([&] {
            d->ForgetRemembered();
            d->Set(QStringLiteral("mode"), QStringLiteral("Color"), true);
            d->Set(QStringLiteral("resolution"), 120.0, true);
            d->Set(QStringLiteral("three-pass"), true, true);
            d->Set(QStringLiteral("br-y"), 77.0, true);
            // Not kept: set without remembering.
            d->Set(QStringLiteral("test-picture"), QStringLiteral("Grid"));
            // Back to other values on the device itself.
            d->Set(QStringLiteral("mode"), QStringLiteral("Gray"));
            d->Set(QStringLiteral("resolution"), 50.0);
            d->Set(QStringLiteral("br-y"), 100.0);
            d->Set(QStringLiteral("test-picture"), QStringLiteral("Solid black"));
            return 0;
        });
    }
    // The library's own store holds them, not the program's.
    EXPECT_TRUE(scan::ImgKitSettings()->childGroups().contains(QStringLiteral("Options")));
    EXPECT_TRUE(QSettings(QStringLiteral("Osk"), QStringLiteral("Tolvane")).allKeys().isEmpty());

    // Another device of the same kind (a scanner back under another name).
    DevicePtr d = open(QStringLiteral("test:1"));
    ASSERT_TRUE(d);
    OnScan([&] {
        d->RestoreRemembered();
        return 0;
    });
    EXPECT_EQ(d->Find(QStringLiteral("mode"))->value.toString(), QStringLiteral("Color"));
    EXPECT_DOUBLE_EQ(d->Find(QStringLiteral("resolution"))->value.toDouble(), 120);
    // Active only in colour: put back after the mode.
    EXPECT_EQ(d->Find(QStringLiteral("three-pass"))->value, QVariant(true));
    EXPECT_DOUBLE_EQ(d->Find(QStringLiteral("br-y"))->value.toDouble(), 77);
    EXPECT_NE(d->Find(QStringLiteral("test-picture"))->value.toString(), QStringLiteral("Grid"));
    OnScan([&] {
        d->ForgetRemembered();
        d->Set(QStringLiteral("three-pass"), false);
        d->Set(QStringLiteral("mode"), QStringLiteral("Gray"));
        return 0;
    });
}

TEST(Options, RestoreOrderSetsModeFirstAndPageHeightBeforeTheCorners)
{
    const QStringList order = scan::RestoreOrder({QStringLiteral("br-y"), QStringLiteral("brightness"),
                                                  QStringLiteral("page-height"), QStringLiteral("tl-x"),
                                                  QStringLiteral("resolution"), QStringLiteral("mode"),
                                                  QStringLiteral("source"), QStringLiteral("page-width")});
    EXPECT_EQ(order, (QStringList{QStringLiteral("source"), QStringLiteral("mode"), QStringLiteral("resolution"),
                                  QStringLiteral("brightness"), QStringLiteral("page-width"),
                                  QStringLiteral("page-height"), QStringLiteral("tl-x"), QStringLiteral("br-y")}));
}

TEST(Choice, ExactNameFirstThenTheSameVendorAndModel)
{
    const ScanDevice a{QStringLiteral("test:0"), QStringLiteral("Noname"), QStringLiteral("frontend-tester"), QStringLiteral("virtual device")};
    const ScanDevice b{QStringLiteral("test:1"), QStringLiteral("Noname"), QStringLiteral("frontend-tester"), QStringLiteral("virtual device")};
    const ScanDevice usbOld{QStringLiteral("epson2:libusb:003:012"), QStringLiteral("Epson"), QStringLiteral("GT-S650"), QStringLiteral("flatbed scanner")};
    const ScanDevice usbNew{QStringLiteral("epson2:libusb:001:004"), QStringLiteral("Epson"), QStringLiteral("GT-S650"), QStringLiteral("flatbed scanner")};
    const ScanDevice airOld{QStringLiteral("airscan:e0:Canon MF643C"), QStringLiteral("Canon"), QStringLiteral("MF643C"), QStringLiteral("eSCL network scanner")};
    const ScanDevice airNew{QStringLiteral("airscan:e3:Canon MF643C"), QStringLiteral("Canon"), QStringLiteral("MF643C"), QStringLiteral("eSCL network scanner")};

    scan::ImgKitSettings()->remove(QStringLiteral("Scanner"));
    EXPECT_FALSE(scan::FindStoredChoice({a, b}));
    EXPECT_EQ(scan::DeviceToUse({a, b}), a);  // nothing stored: the first
    EXPECT_FALSE(scan::DeviceToUse({}));

    scan::StoreScanChoice(b);
    EXPECT_EQ(scan::StoredScanChoice(), b);
    EXPECT_EQ(scan::FindStoredChoice({a, b}), b);  // by name, though a has the same model

    scan::StoreScanChoice(usbOld);
    EXPECT_EQ(scan::FindStoredChoice({a, usbNew}), usbNew);
    scan::StoreScanChoice(airOld);
    EXPECT_EQ(scan::FindStoredChoice({airNew, a}), airNew);
    EXPECT_FALSE(scan::FindStoredChoice({a, usbNew}));
    EXPECT_EQ(scan::DeviceToUse({a, usbNew}), a);

    // In the library's store only.
    EXPECT_EQ(scan::ImgKitSettings()->value(QStringLiteral("Scanner/Name")).toString(), airOld.name);
    EXPECT_TRUE(QSettings(QStringLiteral("Osk"), QStringLiteral("Tolvane")).allKeys().isEmpty());
    scan::ImgKitSettings()->remove(QStringLiteral("Scanner"));
}
