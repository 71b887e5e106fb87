// SPDX-License-Identifier: GPL-3.0-or-later
// Re-editing a stored page from the main window: the picture goes through
// the real editor and comes back under the page's own file, whatever the
// current save format; a discarded edit, a failed load and a failed save
// leave the page as it was.

#include "tests/ui/MainWindowFixture.h"

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "widgets/Controls.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/resource.h>

namespace {

// A 24-bit picture whose every pixel tells where it is.
ImageHandle Picture(int w, int h)
{
    ImageHandle dib = CreateDib(w, h, 3);
    TMDIB m(dib);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = m.TopRow - y * m.Stride + 3 * x;
            p[0] = uint8_t(x * 5);
            p[1] = uint8_t(y * 5);
            p[2] = uint8_t(x < w / 2 ? 255 : 0);
        }
    return dib;
}

// Writes at most `bytes` per file while alive: a full disk, for the test.
struct FileSizeLimit {
    rlimit old{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit r = old;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

}  // namespace

class ReEditTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    QString Cat(const QString& rel) const { return Root() + QStringLiteral("/Pages/") + rel; }

    // Six pages; page 2 (index 1) is the one edited, stored in `entry`.
    void MakeCategoryWith(const QString& entry, const ImageHandle& picture)
    {
        QVERIFY(MakeCategory(Root(), QStringLiteral("Pages")));
        QByteArray list = "00000006\r\n";
        for (int i = 1; i <= 6; ++i) {
            const QString name = i == 2 ? entry : QStringLiteral("%1.jpg").arg(i, 8, 10, QLatin1Char('0'));
            list += name.toLatin1() + "\r\n";
        }
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")), list));
        const QString path = Cat(QStringLiteral("Image/") + entry);
        if (entry.endsWith(QLatin1String(".bmp")))
            QVERIFY(ImgKitBmpFileSave(path, picture));
        else if (entry.endsWith(QLatin1String(".tif")))
            QVERIFY(ImgKitTiffFileSave(path, picture));
        else
            QVERIFY(ImgKitJpegFileSave(path, picture, 90));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Thumb/00000002.jpg")), "old thumbnail"));
    }

    void Open()
    {
        MainWindowFixture::Open();
        QTest::mouseClick(form_->SlotAt(1).image, Qt::LeftButton);
        QCOMPARE(form_->Grid.K, 1);
    }

    // The editor opens: press the given tool buttons, then leave it with
    // SpeedButton11 (keep) or SpeedButton10 (discard).
    void Edit(QStringList buttons, bool keep, std::function<void()> beforeLeaving = {})
    {
        prompt_.modalHandlers.push_back([=](QDialog& d) {
            d.show();
            for (const QString& b : buttons)
                if (auto* button = d.findChild<QAbstractButton*>(b))
                    button->click();
            if (beforeLeaving)
                beforeLeaving();
            d.findChild<QAbstractButton*>(keep ? QStringLiteral("SpeedButton11") : QStringLiteral("SpeedButton10"))
                ->click();
            return d.result();
        });
    }

private slots:
    void init() { BeginTest(Settings{}); }
    void cleanup() { EndTest(); }

    void editedPictureReplacesThePagesOwnFile()
    {
        MakeCategoryWith(QStringLiteral("00000002.bmp"), Picture(40, 20));
        Open();  // SaveFormat is 0 (JPEG): the page is a BMP all the same
        QCOMPARE(AppSettings().SaveFormat, 0);
        Edit({QStringLiteral("SpeedButton13")}, true);  // turn clockwise
        Click("SpeedButton3");
        QVERIFY(prompt_.Texts().empty());
        QVERIFY(ReadBytes(Cat(QStringLiteral("Image/00000002.bmp"))).startsWith("BM"));
        QCOMPARE(SizeOf(Cat(QStringLiteral("Image/00000002.bmp"))), QSize(20, 40));
        QVERIFY(!QFileInfo::exists(Cat(QStringLiteral("Image/00000002.jpg"))));
        QCOMPARE(SizeOf(Cat(QStringLiteral("Thumb/00000002.jpg"))), QSize(20, 40));
        // the page list is not touched
        QVERIFY(ReadBytes(Cat(QStringLiteral("FileList.txt"))).contains("00000002.bmp\r\n"));
        // the grid shows the last four pages with the last one clicked
        QCOMPARE(form_->Grid.K, 5);
        QCOMPARE(form_->Grid.T, 2);
    }

    void aGreyTiffPageIsEditedIn24BitsAndStaysATiff()
    {
        // 8-bit grey: white on the left half, black on the right
        ImageHandle grey = CreateDib(30, 10, 2);
        QVERIFY(grey);
        {
            TMDIB g(grey);
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 15; ++x)
                    g.Bits[y * g.Stride + x] = 255;
        }
        MakeCategoryWith(QStringLiteral("00000002.tif"), grey);
        AppSettings().SaveFormat = 1;
        Open();
        Edit({QStringLiteral("SpeedButton15")}, true);  // mirror
        Click("SpeedButton3");
        QVERIFY(prompt_.Texts().empty());
        const QByteArray head = ReadBytes(Cat(QStringLiteral("Image/00000002.tif"))).left(4);
        QVERIFY(head == QByteArray("II*\0", 4) || head == QByteArray("MM\0*", 4));
        QVERIFY(!QFileInfo::exists(Cat(QStringLiteral("Image/00000002.bmp"))));
        // mirrored: the white half moved to the right
        ImageHandle back = ImgKitFileLoad(Cat(QStringLiteral("Image/00000002.tif")));
        ImgKitInfo info{};
        QVERIFY(ImgKitImageInfo(back, info));
        QCOMPARE(info.colorType, int(kImgKitColorFull));
        TMDIB m(back);
        QCOMPARE(int(m.TopRow[0]), 0);
        QCOMPARE(int(m.TopRow[3 * 29]), 255);
    }

    void discardingLeavesThePageAsItWas()
    {
        MakeCategoryWith(QStringLiteral("00000002.jpg"), Picture(40, 20));
        const QByteArray before = ReadBytes(Cat(QStringLiteral("Image/00000002.jpg")));
        Open();
        Edit({QStringLiteral("SpeedButton13"), QStringLiteral("SpeedButton17")}, false);
        Click("SpeedButton3");
        QCOMPARE(ReadBytes(Cat(QStringLiteral("Image/00000002.jpg"))), before);
        QCOMPARE(ReadBytes(Cat(QStringLiteral("Thumb/00000002.jpg"))), QByteArray("old thumbnail"));
        QCOMPARE(form_->Grid.K, 1);
    }

    void aFailedSaveKeepsTheOldPictureWhole()
    {
        MakeCategoryWith(QStringLiteral("00000002.bmp"), Picture(64, 48));
        const QByteArray before = ReadBytes(Cat(QStringLiteral("Image/00000002.bmp")));
        Open();
        std::unique_ptr<FileSizeLimit> limit;
        Edit({QStringLiteral("SpeedButton13")}, true, [&] { limit = std::make_unique<FileSizeLimit>(1000); });
        Click("SpeedButton3");
        limit.reset();
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("ファイルを保存できません")});
        QCOMPARE(prompt_.shown.back().icon, DlgIcon::Error);
        // the quoted text stays; the system's reason is the detail
        QCOMPARE(prompt_.shown.back().detail, QString::fromLocal8Bit(std::strerror(EFBIG)));
        QCOMPARE(ReadBytes(Cat(QStringLiteral("Image/00000002.bmp"))), before);
        QCOMPARE(QDir(Cat(QStringLiteral("Image"))).entryList(QDir::Files | QDir::Hidden), QStringList{"00000002.bmp"});
        QCOMPARE(ReadBytes(Cat(QStringLiteral("Thumb/00000002.jpg"))), QByteArray("old thumbnail"));
    }

    void anUnreadablePageNeverOpensTheEditor()
    {
        MakeCategoryWith(QStringLiteral("00000002.jpg"), Picture(8, 8));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Image/00000002.jpg")), "\xFF\xD8\xFF not really"));
        Open();
        Click("SpeedButton3");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("画像ファイルを読み込めません")});
        QCOMPARE(prompt_.shown.back().icon, DlgIcon::Error);
        for (const auto& s : prompt_.shown)
            QVERIFY(s.kind != ScriptedPrompt::Shown::Modal);
    }

    void withoutAClickedPageNothingHappens()
    {
        MakeCategoryWith(QStringLiteral("00000002.jpg"), Picture(8, 8));
        form_ = std::make_unique<TForm1>(prompt_, Root());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        Click("SpeedButton3");
        QVERIFY(prompt_.shown.empty());
    }

    void theContextMenuReEditsTheRightClickedPage()
    {
        MakeCategoryWith(QStringLiteral("00000002.jpg"), Picture(40, 20));
        Open();
        Edit({QStringLiteral("SpeedButton12")}, true);  // turn anticlockwise
        form_->findChild<QAction*>(QStringLiteral("N7"))->trigger();
        QCOMPARE(SizeOf(Cat(QStringLiteral("Image/00000002.jpg"))), QSize(20, 40));
    }
};

TOLVANE_UI_TEST(ReEditTest);

#include "tst_ReEdit.moc"
