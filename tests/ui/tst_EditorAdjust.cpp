// SPDX-License-Identifier: GPL-3.0-or-later
// The editor's adjustment tools through the real window: brightness,
// contrast and gamma steps, the automatic corrections, the colour balance
// with its preview, the high-quality shrink and enlarge through the resize
// dialog, and the automatic size.

#include "tests/ui/tst_EditorSupport.h"

#include "editor/TfColorPreview.h"
#include "editor/TfSize.h"
#include "imaging/AutoProcess.h"
#include "imaging/Dib.h"
#include "widgets/Controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>
#include <cmath>
#include <functional>

using namespace EditorTestSupport;

namespace {

// Every colour byte of `after` is f(the same byte of `before`).
bool EachByteFollows(const ImageHandle& before, const ImageHandle& after, const std::function<int(int)>& f,
                     QString* why)
{
    const DibLayout a = DibLayoutOf(before);
    const DibLayout b = DibLayoutOf(after);
    if (!a.valid || !b.valid || a.width != b.width || a.height != b.height) {
        *why = QStringLiteral("sizes differ");
        return false;
    }
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const auto p = Bgr(before, x, y);
            const auto q = Bgr(after, x, y);
            for (int c = 0; c < 3; ++c)
                if (q[c] != f(p[c])) {
                    *why = QStringLiteral("pixel %1,%2 byte %3: %4 became %5, expected %6")
                               .arg(x).arg(y).arg(c).arg(p[c]).arg(q[c]).arg(f(p[c]));
                    return false;
                }
        }
    return true;
}

int Clamp(int v)
{
    return std::clamp(v, 0, 255);
}

// Answers the next resize dialog: ratio kept or not, the new height and
// width typed, then Enter (or Escape when `confirm` is false). What the
// dialog showed is kept in `shown` (height, width) when given.
std::function<int(QDialog&)> AnswerSize(const QString& height, const QString& width, bool confirm = true,
                                        QStringList* shown = nullptr)
{
    return [=](QDialog& d) {
        d.show();
        auto* edit1 = d.findChild<QLineEdit*>(QStringLiteral("Edit1"));
        auto* edit2 = d.findChild<QLineEdit*>(QStringLiteral("Edit2"));
        if (shown)
            *shown = {d.findChild<QLabel*>(QStringLiteral("StaticText1"))->text(),
                      d.findChild<QLabel*>(QStringLiteral("StaticText2"))->text(), edit1->text(), edit2->text()};
        d.findChild<QRadioButton*>(QStringLiteral("RadioGroup1_Item1"))->click();
        edit1->setText(height);
        edit2->setText(width);
        QTest::keyClick(edit1, confirm ? Qt::Key_Return : Qt::Key_Escape);
        return d.result();
    };
}

}  // namespace

class EditorAdjustTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<EditorRun> run_;

    TEditForm& Open(ImageHandle image)
    {
        run_ = std::make_unique<EditorRun>();
        return run_->Open(std::move(image));
    }
    template <typename T = QWidget>
    T* W(const char* name) { return run_->W<T>(name); }
    TImage* Image() { return W<TImage>("Image"); }
    std::vector<QString> Texts() { return run_->prompt.Texts(); }
    TfColorPreview* PreviewWindow() { return run_->form->findChild<TfColorPreview*>(); }

private slots:
    void init() { AppSettings() = Settings{}; }
    void cleanup() { run_.reset(); }

    void fixedStepTools_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("tool");  // index into the table in the test
        QTest::newRow("brightness down") << 17 << 0;
        QTest::newRow("brightness up") << 18 << 1;
        QTest::newRow("contrast down") << 19 << 2;
        QTest::newRow("contrast up") << 20 << 3;
        QTest::newRow("gamma down") << 21 << 4;
        QTest::newRow("gamma up") << 22 << 5;
    }
    void fixedStepTools()
    {
        QFETCH(int, button);
        QFETCH(int, tool);
        const auto gamma = [](int g) {
            return [g](int v) {
                const double e = 100.0 / g;
                return Clamp(int(std::pow(double(v), e) * (255.0 / std::pow(255.0, e))));
            };
        };
        const std::function<int(int)> steps[] = {
            [](int v) { return int(v * 0.75); },
            [](int v) { return int(v + (255 - v) * 0.25); },
            [](int v) { return Clamp(90 * (v - 128) / 100 + 128); },
            [](int v) { return Clamp(110 * (v - 128) / 100 + 128); },
            gamma(90),
            gamma(120),
        };
        const ImageHandle original = Pattern(301, 257);  // padded rows
        TEditForm& f = Open(ImgKitCopy(original));
        run_->Click(button);
        QString why;
        QVERIFY2(EachByteFollows(original, f.EditImage, steps[tool], &why), qPrintable(why));
        QCOMPARE(Image()->Picture(), Picture(f.EditImage));
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(301, 257));
        QVERIFY(!f.WaitWindow());
        QVERIFY(Texts().empty());
    }

    void gammaMovesTheMidTones()
    {
        TEditForm& f = Open(Flat(8, 8, 128, 128, 128));
        run_->Click(21);
        QVERIFY(Bgr(f.EditImage, 0, 0)[0] < 128);  // darker
        run_->Click(3);
        run_->Click(22);
        QVERIFY(Bgr(f.EditImage, 0, 0)[0] > 128);  // lighter
        QCOMPARE(Bgr(f.EditImage, 7, 7), Bgr(f.EditImage, 0, 0));
    }

    void automaticCorrections()
    {
        // A dull picture with a colour cast: blue 60..99, green 100..139,
        // red 30..229.
        ImageHandle dull = ImageHandle::NewDib(200, 40, 24);
        const DibLayout l = DibLayoutOf(dull);
        for (int y = 0; y < 40; ++y) {
            uint8_t* row = dull.Data() + l.bitsOffset + std::size_t(y) * std::size_t(l.stride);
            for (int x = 0; x < 200; ++x) {
                row[3 * x] = uint8_t(60 + y);
                row[3 * x + 1] = uint8_t(100 + (x + y) % 40);
                row[3 * x + 2] = uint8_t(30 + x);
            }
        }
        ImageHandle balanced = ImgKitCopy(dull);
        AutoColorBalance(balanced);
        ImageHandle contrasted = ImgKitCopy(dull);
        AutoContrast(contrasted);
        QVERIFY(Bytes(balanced) != Bytes(contrasted));
        QVERIFY(Bytes(balanced) != Bytes(dull));

        TEditForm& f = Open(ImgKitCopy(dull));
        run_->Click(4);
        QCOMPARE(Bytes(f.EditImage), Bytes(balanced));
        QCOMPARE(Image()->Picture(), Picture(balanced));
        QVERIFY(!f.WaitWindow());
        run_->Click(3);
        run_->Click(5);
        QCOMPARE(Bytes(f.EditImage), Bytes(contrasted));
        QCOMPARE(Image()->Picture(), Picture(contrasted));
        QVERIFY(Texts().empty());
    }

    void previewOpensOnTheFirstBarMove()
    {
        TEditForm& f = Open(Pattern(400, 300));
        QVERIFY(!PreviewWindow());
        W<QSlider>("tbG")->setValue(-5);
        QVERIFY(f.ColorPreviewActive);
        TfColorPreview* preview = PreviewWindow();
        QVERIFY(preview);
        QCOMPARE(f.ColorPreview(), preview);
        QVERIFY(preview->isVisible());
        QCOMPARE(preview->windowTitle(), QStringLiteral("色調整プレビュー"));
        for (int i = 1; i <= 22; ++i)
            QVERIFY(!W(QStringLiteral("SpeedButton%1").arg(i).toLatin1().constData())->isEnabled());
        QVERIFY(W("SpeedButton23")->isEnabled());
        // A disabled tool does nothing.
        run_->Click(12);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(400, 300));
        // Further moves use the same window.
        W<QSlider>("tbB")->setValue(20);
        QCOMPARE(PreviewWindow(), preview);
    }

    void previewShowsAbsoluteOffsets()
    {
        const ImageHandle original = Pattern(400, 300);
        TEditForm& f = Open(ImgKitCopy(original));
        const ImageHandle reduced = ImgKitImageSize(original, 200, 150);
        const auto expect = [&](int r, int g, int b) {
            ImageHandle e = ImgKitCopy(reduced);
            const int red = r - (g + b) / 2, green = g - (r + b) / 2, blue = b - (r + g) / 2;
            ImgKitRGB(e, red, green, blue);
            return Picture(e);
        };
        W<QSlider>("tbR")->setValue(10);
        QCOMPARE(SizeOf(f.PreviewImage), QSize(200, 150));
        QCOMPARE(PreviewWindow()->Image1()->Picture(), expect(10, 0, 0));
        W<QSlider>("tbR")->setValue(20);
        QCOMPARE(PreviewWindow()->Image1()->Picture(), expect(20, 0, 0));
        W<QSlider>("tbG")->setValue(-25);
        QCOMPARE(PreviewWindow()->Image1()->Picture(), expect(20, -25, 0));
        // The preview picture itself is never changed.
        QCOMPARE(Bytes(f.PreviewImage), Bytes(reduced));
        QCOMPARE(Bytes(f.EditImage), Bytes(original));
    }

    void previewIsAtMost200_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("preview");
        QTest::newRow("landscape") << QSize(1600, 1200) << QSize(200, 150);
        QTest::newRow("portrait") << QSize(300, 1000) << QSize(60, 200);
        QTest::newRow("thin strip") << QSize(1000, 2) << QSize(200, 1);
    }
    void previewIsAtMost200()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, preview);
        TEditForm& f = Open(Pattern(picture.width(), picture.height()));
        W<QSlider>("tbR")->setValue(5);
        QCOMPARE(SizeOf(f.PreviewImage), preview);
        TImage* shown = PreviewWindow()->Image1();
        QCOMPARE(shown->Picture().size(), preview);
        QCOMPARE(shown->size(), QSize(210, 210));
        QCOMPARE(shown->PictureRect().center(), QRect(0, 0, 210, 210).center());
    }

    void cancelledPreviewLeavesThePicture()
    {
        const ImageHandle original = Pattern(120, 90);
        TEditForm& f = Open(ImgKitCopy(original));
        W<QSlider>("tbR")->setValue(25);
        W<QSlider>("tbB")->setValue(-15);
        TfColorPreview* preview = PreviewWindow();
        QVERIFY(preview);
        preview->close();
        QVERIFY(!f.ColorPreviewActive);
        QVERIFY(!f.PreviewImage);
        QVERIFY(!f.ColorPreview());
        QCOMPARE(Bytes(f.EditImage), Bytes(original));
        for (const char* bar : {"tbR", "tbG", "tbB"})
            QCOMPARE(W<QSlider>(bar)->value(), 0);
        for (int i = 1; i <= 22; ++i)
            QVERIFY(W(QStringLiteral("SpeedButton%1").arg(i).toLatin1().constData())->isEnabled());
        QVERIFY(!W("SpeedButton23")->isEnabled());
        // The window goes once its closing is done, and the bars going back to
        // 0 opened no new preview.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!PreviewWindow());
        QVERIFY(Texts().empty());
        // Enter now keeps the untouched picture.
        QTest::keyClick(run_->form.get(), Qt::Key_Return);
        QCOMPARE(f.Accepted, 1);
        QCOMPARE(Bytes(f.EditImage), Bytes(original));
    }

    void confirmAppliesTheOffsetsOnce()
    {
        TEditForm& f = Open(Flat(64, 48, 100, 100, 100));
        W<QSlider>("tbR")->setValue(25);
        W<QSlider>("tbG")->setValue(-25);
        W<QSlider>("tbB")->setValue(5);
        W<QSlider>("tbB")->setValue(0);
        run_->Click("SpeedButton23");
        // +37 red, -37 green, 0 blue, applied once.
        for (const QPoint p : {QPoint(0, 0), QPoint(63, 47), QPoint(31, 20)})
            QCOMPARE(Bgr(f.EditImage, p.x(), p.y()), (std::array<int, 3>{100, 63, 137}));
        QCOMPARE(Image()->Picture(), Picture(f.EditImage));
        QVERIFY(!f.ColorPreviewActive);
        QVERIFY(!f.PreviewImage);
        QVERIFY(!PreviewWindow());
        for (const char* bar : {"tbR", "tbG", "tbB"})
            QCOMPARE(W<QSlider>(bar)->value(), 0);
        QVERIFY(!W("SpeedButton23")->isEnabled());
        QVERIFY(W("SpeedButton1")->isEnabled());
        // A second confirm is impossible: the button is off, and its handler
        // does nothing without a preview.
        run_->form->SpeedButton23Click();
        QCOMPARE(Bgr(f.EditImage, 0, 0), (std::array<int, 3>{100, 63, 137}));
        QVERIFY(Texts().empty());
    }

    void confirmKeepsTheEdgesClamped()
    {
        TEditForm& f = Open(Flat(10, 10, 250, 10, 128));
        W<QSlider>("tbB")->setValue(25);
        W<QSlider>("tbG")->setValue(-25);
        run_->Click("SpeedButton23");
        // red 0 - (-25 + 25) / 2 = 0, green -25 - 12 = -37, blue 25 + 12 = 37
        QCOMPARE(Bgr(f.EditImage, 5, 5), (std::array<int, 3>{255, 0, 128}));
    }

    void automaticSize_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("kmode");
        QTest::addColumn<int>("resizeMode");
        QTest::addColumn<QSize>("result");
        QTest::addColumn<bool>("untouched");
        QTest::newRow("1600x1200 whole box 1024x768") << QSize(1600, 1200) << 1 << 0 << QSize(1024, 768) << false;
        QTest::newRow("the library's scaler") << QSize(1600, 1200) << 1 << 1 << QSize(1024, 768) << false;
        QTest::newRow("800x600 is not enlarged") << QSize(800, 600) << 0 << 0 << QSize(800, 600) << true;
        QTest::newRow("small in the whole box") << QSize(640, 480) << 1 << 1 << QSize(640, 480) << true;
        QTest::newRow("2480 wide becomes 1023") << QSize(2480, 3508) << 0 << 0 << QSize(1023, 1448) << false;
        QTest::newRow("a tall page is never turned") << QSize(1240, 1754) << 1 << 0 << QSize(542, 768) << false;
        QTest::newRow("own box") << QSize(600, 400) << 7 << 0 << QSize(300, 200) << false;
        QTest::newRow("exactly the box width") << QSize(1024, 50) << 0 << 0 << QSize(1024, 50) << false;
    }
    void automaticSize()
    {
        QFETCH(QSize, picture);
        QFETCH(int, kmode);
        QFETCH(int, resizeMode);
        QFETCH(QSize, result);
        QFETCH(bool, untouched);
        run_ = std::make_unique<EditorRun>();
        run_->settings.KMode = kmode;
        run_->settings.ResizeModeA = resizeMode;
        run_->settings.KFX = 300;
        run_->settings.KFY = 300;
        const ImageHandle original = Pattern(picture.width(), picture.height());
        TEditForm& f = run_->Open(ImgKitCopy(original));
        const uint8_t* block = f.EditImage.Data();
        run_->Click(9);
        QCOMPARE(SizeOf(f.EditImage), result);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), result);
        QCOMPARE(Image()->size(), result);
        QVERIFY(Texts().empty());
        QVERIFY(!f.WaitWindow());
        if (untouched) {
            QCOMPARE(f.EditImage.Data(), block);
            QCOMPARE(Bytes(f.EditImage), Bytes(original));
            return;
        }
        ImageHandle expected;
        if (resizeMode == 0) {
            expected = CreateDib(result.width(), result.height(), 3);
            ResampleAverage(expected, original);
        } else {
            expected = ImgKitImageSize(original, result.width(), result.height());
        }
        QCOMPARE(Picture(f.EditImage), Picture(expected));
        QCOMPARE(Image()->Picture(), Picture(expected));
    }

    void highQualityShrinkAndEnlarge()
    {
        const ImageHandle original = Pattern(640, 480);
        TEditForm& f = Open(ImgKitCopy(original));
        QStringList shown;
        run_->prompt.modalHandlers.push_back(AnswerSize(QStringLiteral("400"), QStringLiteral("500"), true, &shown));
        run_->Click(7);
        QCOMPARE(shown, (QStringList{"480", "640", "480", "640"}));
        QCOMPARE(SizeOf(f.EditImage), QSize(500, 400));
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(500, 400));
        ImageHandle averaged = CreateDib(500, 400, 3);
        ResampleAverage(averaged, original);
        QCOMPARE(Bytes(f.EditImage), Bytes(averaged));
        QCOMPARE(Image()->size(), QSize(500, 400));
        QVERIFY(!f.WaitWindow());

        // Reopened, the dialog shows the new size; Escape changes nothing.
        const uint8_t* block = f.EditImage.Data();
        run_->prompt.modalHandlers.push_back(AnswerSize(QStringLiteral("10"), QStringLiteral("10"), false, &shown));
        run_->Click(8);
        QCOMPARE(shown, (QStringList{"400", "500", "400", "500"}));
        QCOMPARE(f.EditImage.Data(), block);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(500, 400));

        // Enlarging uses the bilinear resampler.
        run_->prompt.modalHandlers.push_back(AnswerSize(QStringLiteral("700"), QStringLiteral("900")));
        run_->Click(8);
        ImageHandle interpolated = CreateDib(900, 700, 3);
        ResampleBilinear(interpolated, averaged);
        QCOMPARE(Bytes(f.EditImage), Bytes(interpolated));
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(900, 700));
        QVERIFY(Texts().empty());
    }

    void resizeWithTheRatioKept()
    {
        TEditForm& f = Open(Pattern(1024, 768));
        run_->prompt.modalHandlers.push_back([](QDialog& d) {
            d.show();
            auto* height = d.findChild<QLineEdit*>(QStringLiteral("Edit1"));
            height->selectAll();
            QTest::keyClicks(height, QStringLiteral("384"));
            QTest::keyClick(height, Qt::Key_Enter);
            return d.result();
        });
        run_->Click(7);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(511, 384));
        QCOMPARE(SizeOf(f.EditImage), QSize(511, 384));
    }

    void absurdSizesChangeNothing_data()
    {
        QTest::addColumn<QString>("height");
        QTest::addColumn<QString>("width");
        QTest::newRow("zero height") << "0" << "100";
        QTest::newRow("negative width") << "100" << "-5";
        QTest::newRow("no digits") << "abc" << "100";
        QTest::newRow("beyond the largest side") << "100" << "70000";
        QTest::newRow("beyond the largest block") << "20000" << "20000";
    }
    void absurdSizesChangeNothing()
    {
        QFETCH(QString, height);
        QFETCH(QString, width);
        TEditForm& f = Open(Pattern(64, 48));
        const uint8_t* block = f.EditImage.Data();
        run_->prompt.modalHandlers.push_back(AnswerSize(height, width));
        run_->Click(7);
        QCOMPARE(Texts(), std::vector<QString>{TEditForm::SizeRefusedMessage()});
        QCOMPARE(f.EditImage.Data(), block);
        QCOMPARE(QSize(f.ImageWidth, f.ImageHeight), QSize(64, 48));
        QVERIFY(!f.WaitWindow());
    }

    void cancelledResizeChangesNothing()
    {
        TEditForm& f = Open(Pattern(64, 48));
        const uint8_t* block = f.EditImage.Data();
        run_->prompt.modalHandlers.push_back([](QDialog& d) {
            d.show();
            d.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
            return d.result();
        });
        run_->Click(8);
        QCOMPARE(f.EditImage.Data(), block);
        QVERIFY(Texts().empty());
    }
};

TOLVANE_UI_TEST(EditorAdjustTest);
#include "tst_EditorAdjust.moc"
