// SPDX-License-Identifier: GPL-3.0-or-later
// Window tests of the scanner dialogs against the SANE test backend. One
// class per SANE configuration (tests/scan/sane/<case>), each run in its own
// process by ctest: ScanWindowTest (basic), NoScannerWindowTest (nodevice),
// ScanCancelWindowTest (slow).

#include "imaging/scan/ScanDevices.h"
#include "imaging/scandialogs/ImgKitScan.h"
#include "imaging/scandialogs/ScanDialog.h"
#include "imaging/scandialogs/ScanSelectDialog.h"
#include "imaging/scandialogs/SaneText.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QtEndian>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <sane/saneopts.h>

namespace {

// Calls `step` from the event loop every 20 ms until it answers true (the
// modal windows of the calls under test run their own loops).
void Poll(std::function<bool()> step)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
        if (step())
            timer->deleteLater();
    });
    timer->start();
}

// The window of that name the running call shows: the modal one on top.
template <class T>
T* TopLevel(const char* name)
{
    if (QWidget* m = QApplication::activeModalWidget())
        if (m->objectName() == QLatin1String(name))
            return qobject_cast<T*>(m);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            if (auto* t = qobject_cast<T*>(w))
                return t;
    return nullptr;
}

double Value(const ScanDialog& d, const char* name)
{
    for (const auto& o : d.Options())
        if (o.name == QLatin1String(name))
            return o.value.toDouble();
    return -1;
}

QString Text(const ScanDialog& d, const char* name)
{
    for (const auto& o : d.Options())
        if (o.name == QLatin1String(name))
            return o.value.toString();
    return {};
}

}  // namespace

class ScanWindowTest : public QObject {
    Q_OBJECT
private slots:
    void selectListsTheDevicesAndStoresTheChoice()
    {
        scan::ImgKitSettings()->remove(QStringLiteral("Scanner"));
        ScanSelectDialog d;
        // Listing runs on the scan thread: the dialog is up before it answers.
        QVERIFY(d.Searching());
        d.show();
        QTRY_VERIFY(!d.Searching());
        auto* list = d.findChild<QListWidget*>(QStringLiteral("scanDeviceList"));
        QVERIFY(list);
        QCOMPARE(list->count(), 2);
        auto* first = d.findChild<QLabel*>(QStringLiteral("scanDevice_0"));
        QVERIFY(first);
        QVERIFY(first->text().contains(QStringLiteral("Noname frontend-tester")));
        QVERIFY(first->text().contains(QStringLiteral("virtual device")));
        QVERIFY(first->text().contains(QStringLiteral("<small>test:0</small>")));
        list->setCurrentRow(1);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("scanSelectOk")), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(scan::StoredScanChoice()->name, QStringLiteral("test:1"));

        // Shown again: the stored choice is the current row.
        ScanSelectDialog again;
        QTRY_VERIFY(!again.Searching());
        QCOMPARE(again.findChild<QListWidget*>(QStringLiteral("scanDeviceList"))->currentRow(), 1);
        // Cancel stores nothing.
        again.findChild<QListWidget*>(QStringLiteral("scanDeviceList"))->setCurrentRow(0);
        again.reject();
        QCOMPARE(scan::StoredScanChoice()->name, QStringLiteral("test:1"));

        // Through the library call.
        Poll([] {
            auto* dlg = TopLevel<ScanSelectDialog>("scanSelectDialog");
            if (!dlg || dlg->Searching())
                return false;
            dlg->findChild<QListWidget*>(QStringLiteral("scanDeviceList"))->setCurrentRow(0);
            dlg->findChild<QPushButton*>(QStringLiteral("scanSelectOk"))->click();
            return true;
        });
        QVERIFY(ImgKitScanSelect(nullptr));
        QCOMPARE(scan::StoredScanChoice()->name, QStringLiteral("test:0"));
    }

    void dialogControlsFollowTheOptions()
    {
        ScanDialog d;
        d.show();
        QTRY_VERIFY(d.HasDevice() && !d.Busy());
        auto* mode = d.findChild<QComboBox*>(QStringLiteral("opt_mode"));
        QVERIFY(mode);
        QCOMPARE(mode->count(), 2);
        QVERIFY(d.findChild<QComboBox*>(QStringLiteral("opt_source")));
        QVERIFY(d.findChild<QComboBox*>(QStringLiteral("opt_depth")));
        QVERIFY(d.findChild<QDoubleSpinBox*>(QStringLiteral("opt_resolution")));
        QVERIFY(d.findChild<QSlider*>(QStringLiteral("opt_resolution_slider")));
        QVERIFY(d.findChild<QCheckBox*>(QStringLiteral("opt_hand-scanner")));
        QVERIFY(d.findChild<QPushButton*>(QStringLiteral("opt_print-options")));
        for (const char* corner : {"opt_tl-x", "opt_tl-y", "opt_br-x", "opt_br-y"})
            QVERIFY2(d.findChild<QDoubleSpinBox*>(QLatin1String(corner)), corner);
        QVERIFY(d.findChild<QGroupBox*>(QStringLiteral("group_Scan Mode")));
        QVERIFY(d.findChild<QGroupBox*>(QStringLiteral("group_Geometry")));
        // The backend's words in the dialog's language; what is sent stays
        // the backend's own.
        QCOMPARE(d.findChild<QGroupBox*>(QStringLiteral("group_Geometry"))->title(), QStringLiteral("配置"));
        QCOMPARE(mode->itemText(mode->findData(QStringLiteral("Gray"))), QStringLiteral("グレー"));
        QStringList labels;
        for (const QLabel* label : d.findChildren<QLabel*>())
            labels << label->text();
        QVERIFY2(labels.contains(QStringLiteral("走査モード")), qPrintable(labels.join(u'|')));
        QCOMPARE(d.findChild<QDoubleSpinBox*>(QStringLiteral("opt_resolution"))->suffix(), QStringLiteral(" dpi"));
        // Inactive in grey: no control.
        mode->setCurrentIndex(mode->findData(QStringLiteral("Gray")));
        emit mode->activated(mode->currentIndex());
        QTRY_VERIFY(!d.Busy());
        QVERIFY(!d.findChild<QCheckBox*>(QStringLiteral("opt_three-pass")));

        // Colour: the device reloads its options, the controls are rebuilt.
        mode = d.findChild<QComboBox*>(QStringLiteral("opt_mode"));
        mode->setCurrentIndex(mode->findData(QStringLiteral("Color")));
        emit mode->activated(mode->currentIndex());
        QTRY_VERIFY(!d.Busy());
        QCOMPARE(Text(d, "mode"), QStringLiteral("Color"));
        QVERIFY(d.findChild<QCheckBox*>(QStringLiteral("opt_three-pass")));

        // The spin box and the slider set the same option.
        auto* res = d.findChild<QDoubleSpinBox*>(QStringLiteral("opt_resolution"));
        res->setValue(120);
        QTRY_VERIFY(!d.Busy());
        QCOMPARE(Value(d, "resolution"), 120.0);
        auto* slider = d.findChild<QSlider*>(QStringLiteral("opt_resolution_slider"));
        QCOMPARE(slider->value(), 119);  // steps of 1 from 1 dpi
        slider->setValue(199);
        QTRY_VERIFY(!d.Busy());
        QCOMPARE(Value(d, "resolution"), 200.0);
        QCOMPARE(d.findChild<QDoubleSpinBox*>(QStringLiteral("opt_resolution"))->value(), 200.0);

        // Back to grey for the tests after this one (kept for the device kind).
        mode = d.findChild<QComboBox*>(QStringLiteral("opt_mode"));
        mode->setCurrentIndex(mode->findData(QStringLiteral("Gray")));
        emit mode->activated(mode->currentIndex());
        QTRY_VERIFY(!d.Busy());
        d.findChild<QDoubleSpinBox*>(QStringLiteral("opt_resolution"))->setValue(50);
        QTRY_VERIFY(!d.Busy());
    }

    void aDamagedCatalogueTranslatesNothing()
    {
        const QString real = QStringLiteral("/usr/share/locale/ja/LC_MESSAGES/sane-backends.mo");
        QVERIFY(SaneBackendsCatalogue().size() > 100);
        QCOMPARE(SaneText(QStringLiteral("Flatbed")), QStringLiteral("フラットベッド"));
        QCOMPARE(SaneText(QStringLiteral("no such words")), QStringLiteral("no such words"));
        QFile file(real);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.mo"));
        auto loadOf = [&](const QByteArray& content) {
            QFile out(path);
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(content) != content.size())
                return qsizetype(-1);
            out.close();
            return MessageCatalogue::Load(path).size();
        };
        QCOMPARE(loadOf(bytes), SaneBackendsCatalogue().size());
        QCOMPARE(loadOf(bytes.left(bytes.size() / 2)), qsizetype(0));  // strings cut off
        QCOMPARE(loadOf(bytes.left(20)), qsizetype(0));
        QByteArray huge = bytes;
        huge.replace(8, 4, QByteArray(4, '\xff'));  // four thousand million strings
        QCOMPARE(loadOf(huge), qsizetype(0));
        QByteArray pointing = bytes;
        const quint32 originals = qFromLittleEndian<quint32>(bytes.constData() + 12);
        pointing.replace(qsizetype(originals) + 4, 4, QByteArray(4, '\x7f'));  // past the end
        QCOMPARE(loadOf(pointing), qsizetype(0));
        QCOMPARE(loadOf("not a catalogue at all, just some words of text"), qsizetype(0));
    }

    void previewAndTheAreaKeepInStep()
    {
        ScanDialog d;
        d.show();
        QTRY_VERIFY(d.HasDevice() && !d.Busy());
        const double res = Value(d, "resolution");
        const double brx = Value(d, "br-x");
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("previewButton")), Qt::LeftButton);
        QTRY_VERIFY(!d.Busy());
        ScanAreaView* view = d.AreaView();
        QVERIFY(!view->Preview().isNull());
        // The whole 300 x 300 mm bed at low resolution.
        QVERIFY(view->Preview().width() > 100 && view->Preview().width() < 1000);
        QCOMPARE(view->Bed(), QRectF(0, 0, 300, 300));
        // The user's values are back after the preview.
        QCOMPARE(Value(d, "resolution"), res);
        QCOMPARE(Value(d, "br-x"), brx);

        // Drawing an area (starting outside the current one) sets the
        // corners and their fields.
        QVERIFY(!view->Area().contains(QPointF(150, 160)));
        const QPoint from = view->ToWidget({150, 160}).toPoint();
        const QPoint to = view->ToWidget({250, 280}).toPoint();
        QTest::mousePress(view, Qt::LeftButton, {}, from);
        QTest::mouseMove(view, (from + to) / 2);
        QTest::mouseRelease(view, Qt::LeftButton, {}, to);
        QTRY_VERIFY(!d.Busy());
        QVERIFY(std::abs(Value(d, "tl-x") - 150) <= 2);
        QVERIFY(std::abs(Value(d, "tl-y") - 160) <= 2);
        QVERIFY(std::abs(Value(d, "br-x") - 250) <= 2);
        QVERIFY(std::abs(Value(d, "br-y") - 280) <= 2);
        QCOMPARE(d.findChild<QDoubleSpinBox*>(QStringLiteral("opt_br-x"))->value(), Value(d, "br-x"));

        // Dragging it moves it whole.
        const QRectF before = view->Area();
        const QPoint inside = view->ToWidget(before.center()).toPoint();
        const QPoint moved = view->ToWidget(before.center() + QPointF(50, 20)).toPoint();
        QTest::mousePress(view, Qt::LeftButton, {}, inside);
        QTest::mouseRelease(view, Qt::LeftButton, {}, moved);
        QTRY_VERIFY(!d.Busy());
        QVERIFY(std::abs(Value(d, "tl-x") - (before.left() + 50)) <= 2);
        QVERIFY(std::abs((Value(d, "br-x") - Value(d, "tl-x")) - before.width()) <= 2);

        QVERIFY(std::abs(Value(d, "br-y") - 300) <= 2);  // held at the bed's edge

        // A field moves the area on the preview.
        d.findChild<QDoubleSpinBox*>(QStringLiteral("opt_br-x"))->setValue(260);
        QTRY_VERIFY(!d.Busy());
        QCOMPARE(view->Area().right(), 260.0);
    }

    void scanGivesTheImageOfTheArea()
    {
        int width = 0;
        {
            ScanDialog d;
            d.show();
            QTRY_VERIFY(d.HasDevice() && !d.Busy());
            for (auto [name, v] : {std::pair{"tl-x", 0.0}, {"tl-y", 0.0}, {"br-x", 50.8}, {"br-y", 25.4}})
                d.SetOption(QLatin1String(name), v);
            d.SetOption(QStringLiteral("resolution"), 100.0);
            d.SetOption(QStringLiteral("test-picture"), QStringLiteral("Solid white"));
            QTRY_VERIFY(!d.Busy());
            QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("scanButton")), Qt::LeftButton);
            QCOMPARE(d.result(), int(QDialog::Accepted));
            ImageHandle image = d.TakeImage();
            const DibLayout l = DibLayoutOf(image);
            QVERIFY(l.valid);
            QVERIFY(std::abs(l.width - 200) <= 4);
            QVERIFY(std::abs(l.height - 100) <= 4);
            QCOMPARE(image.Header()->biXPelsPerMeter, 3937);
            width = l.width;
        }  // the dialog closes its device

        // Through the library call: scan once the dialog is ready.
        Poll([] {
            auto* dlg = TopLevel<ScanDialog>("scanDialog");
            if (!dlg || dlg->Busy() || !dlg->HasDevice())
                return false;
            dlg->findChild<QPushButton*>(QStringLiteral("scanButton"))->click();
            return true;
        });
        ImageHandle viaCall = ImgKitScan(nullptr);
        QVERIFY(viaCall);
        QCOMPARE(DibLayoutOf(viaCall).width, width);  // the remembered area
        // Closed without scanning: nothing.
        Poll([] {
            auto* dlg = TopLevel<ScanDialog>("scanDialog");
            if (!dlg || dlg->Busy())
                return false;
            dlg->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
            return true;
        });
        QVERIFY(!ImgKitScan(nullptr));
    }

    void oneShotScanThroughTheLibraryCall()
    {
        ImgKitScanEasyBlock block;
        block.mode = kImgKitScanBilevel;
        block.left = 0;
        block.top = 0;
        block.right = 1;
        block.bottom = 1;
        block.resolution = 100;
        ImageHandle bw = ImgKitScanEasy(nullptr, block);
        QVERIFY(bw);
        QCOMPARE(block.error, 0);
        QCOMPARE(DibLayoutOf(bw).bitCount, 1);
        block.mode = kImgKitScanPalette;
        QVERIFY(!ImgKitScanEasy(nullptr, block));
        QCOMPARE(block.error, int32_t(kImgKitScanErrorUnsupported));
        block.mode = kImgKitScanColor;
        block.right = 20;
        QVERIFY(!ImgKitScanEasy(nullptr, block));
        QCOMPARE(block.error, int32_t(kImgKitScanErrorSettings));
    }
};

class NoScannerWindowTest : public QObject {
    Q_OBJECT
private slots:
    void bothDialogsSaySoAndNothingComesBack()
    {
        scan::ImgKitSettings()->remove(QStringLiteral("Scanner"));
        ScanSelectDialog select;
        select.show();
        QTRY_VERIFY(!select.Searching());
        QCOMPARE(select.findChild<QLabel*>(QStringLiteral("scanSelectStatus"))->text(), QString::fromUtf8(kNoScannerText));
        QVERIFY(!select.findChild<QPushButton*>(QStringLiteral("scanSelectOk"))->isEnabled());
        select.accept();
        QVERIFY(select.isVisible());
        QVERIFY(!scan::StoredScanChoice());

        ScanDialog d;
        d.show();
        QTRY_VERIFY(!d.Busy());
        QVERIFY(!d.HasDevice());
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("scanStatus"))->text(), QString::fromUtf8(kNoScannerText));
        QVERIFY(!d.findChild<QPushButton*>(QStringLiteral("scanButton"))->isEnabled());
        QVERIFY(!d.findChild<QPushButton*>(QStringLiteral("previewButton"))->isEnabled());
        QVERIFY(d.findChild<QPushButton*>(QStringLiteral("closeButton"))->isEnabled());
        d.close();
        select.close();

        Poll([] {
            auto* dlg = TopLevel<ScanDialog>("scanDialog");
            if (!dlg || dlg->Busy())
                return false;
            dlg->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
            return true;
        });
        QVERIFY(!ImgKitScan(nullptr));
        ImgKitScanEasyBlock block;
        QVERIFY(!ImgKitScanEasy(nullptr, block));
        QCOMPARE(block.error, int32_t(kImgKitScanErrorOther));
    }
};

class ScanCancelWindowTest : public QObject {
    Q_OBJECT
private slots:
    void cancelInTheProgressWindowGivesNoImage()
    {
        // The one-shot scan: cancelled from its progress window while data comes.
        bool sawProgress = false;
        Poll([&sawProgress] {
            auto* w = TopLevel<QDialog>("scanProgressWindow");
            if (!w)
                return false;
            sawProgress = true;
            w->findChild<QPushButton*>(QStringLiteral("scanCancelButton"))->click();
            return true;
        });
        ImgKitScanEasyBlock block;
        block.mode = kImgKitScanGray;
        block.right = 4;
        block.bottom = 4;
        block.resolution = 50;
        QVERIFY(!ImgKitScanEasy(nullptr, block));
        QVERIFY(sawProgress);
        QCOMPARE(block.error, int32_t(kImgKitScanErrorCancelled));

        // The dialog's scan: no image, the dialog stays for another try.
        ScanDialog d;
        d.show();
        QTRY_VERIFY(d.HasDevice() && !d.Busy());
        // The whole bed: half a minute of slow reads, so that the cancel
        // comes first however late the machine answers.
        for (const char* corner : {"opt_br-x", "opt_br-y"}) {
            auto* spin = d.findChild<QDoubleSpinBox*>(QLatin1String(corner));
            QVERIFY2(spin, corner);
            spin->setValue(spin->maximum());
            QTRY_VERIFY(!d.Busy());
        }
        Poll([] {
            auto* w = TopLevel<QDialog>("scanProgressWindow");
            if (!w || !w->isVisible())
                return false;
            w->findChild<QPushButton*>(QStringLiteral("scanCancelButton"))->click();
            return true;
        });
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("scanButton")), Qt::LeftButton);
        QVERIFY(d.isVisible());
        QVERIFY(!d.TakeImage());
        QCOMPARE(d.findChild<QLabel*>(QStringLiteral("scanStatus"))->text(), QStringLiteral("スキャンを取り消しました。"));
        QVERIFY(d.findChild<QPushButton*>(QStringLiteral("scanButton"))->isEnabled());
    }
};

// As in the scan tests (tests/scan/ScanTestMain.cpp): the SANE backends stay
// loaded until the process ends, so LeakSanitizer names what the test backend
// keeps instead of an unloaded module.
extern "C" int dlclose(void*)
{
    return 0;
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir configDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir.path());
    // tolvane_scandialog_tests [CLASS [Qt Test arguments]]
    QStringList args = app.arguments();
    QString only;
    if (args.size() > 1 && !args[1].startsWith(u'-'))
        only = args.takeAt(1);
    int failed = 0, ran = 0;
    auto run = [&](QObject* test) {
        if (!only.isEmpty() && only != QLatin1String(test->metaObject()->className()))
            return;
        ++ran;
        failed += QTest::qExec(test, args);
    };
    ScanWindowTest a;
    NoScannerWindowTest b;
    ScanCancelWindowTest c;
    run(&a);
    run(&b);
    run(&c);
    ImgKitScanShutdown();
    if (ran == 0)
        return 2;
    return failed == 0 ? 0 : 1;
}

#include "tst_ScanDialogs.moc"
