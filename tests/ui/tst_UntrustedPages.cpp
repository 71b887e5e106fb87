// SPDX-License-Identifier: GPL-3.0-or-later
// A page list written by another workstation (or by hand) may hold entries
// that are paths, not file names. The main window lists them, shows them
// without a picture and with a read-only memo, and nothing reads or writes
// through them. And no exception from a handler reaches Qt's event dispatch.

#include "tests/ui/MainWindowFixture.h"

#include "core/Failure.h"
#include "core/Memo.h"
#include "core/PageList.h"
#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "widgets/Controls.h"
#include "widgets/Handlers.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <map>
#include <memory>
#include <stdexcept>

namespace {

// Every file under `root` with its content.
std::map<QString, QByteArray> Snapshot(const QString& root)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[path] = ReadBytes(path);
    }
    return files;
}

}  // namespace

class UntrustedPagesTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    // Page 1 is a proper page; pages 2 to 4 name files outside the page
    // folders, or nothing at all, and files are waiting where they point.
    void MakeHostileCategory()
    {
        QVERIFY(MakeCategory(Root(), QStringLiteral("Cat")));
        QVERIFY(MakeCategory(Root(), QStringLiteral("Other")));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")),
                              "00000004\r\n00000001.jpg\r\n../escape.jpg\r\n\r\n..\\..\\x.jpg\r\n"));
        ImageHandle picture = CreateDib(40, 30, 3);
        QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("Image/00000001.jpg")), picture, 90));
        QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("Thumb/00000001.jpg")), picture, 90));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Text/00000001.txt")), "memo 1\r\n"));
        // Where "../escape.jpg" leads from Image, Thumb and Text.
        QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("escape.jpg")), picture, 90));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("escape.txt")), "not a memo\r\n"));
    }

    void Open()
    {
        MainWindowFixture::Open();
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/Cat"));
    }

private slots:
    void init() { BeginTest(Settings{}); }
    void cleanup() { EndTest(); }

    // A list of a million pages (and a memo of one endless line): the
    // counts are shown whole in their fields, the memo cut and read-only.
    void aMillionPagesAreCountedWholeAndAnEndlessMemoShownCut()
    {
        QVERIFY(MakeCategory(Root(), QStringLiteral("Cat")));
        QByteArray list = "01000000\r\n";
        for (int i = 1; i <= 1000000; ++i)
            list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")), list));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Text/00000001.txt")), QByteArray(50000, 'm') + "\r\n"));
        Open();
        QCOMPARE(form_->Grid.P, 1000000);
        auto* count = form_->findChild<QLabel*>(QStringLiteral("StaticText2"));
        QCOMPARE(count->text(), QStringLiteral("1000000"));
        QVERIFY(QFontMetrics(count->font()).horizontalAdvance(count->text()) <= count->contentsRect().width());
        QPlainTextEdit* memo = form_->SlotAt(0).memo;
        QVERIFY(memo->isReadOnly());
        QVERIFY(memo->toPlainText().endsWith(kMemoCutMessage));
        QVERIFY(memo->toPlainText().size() < 5000);
        QVERIFY(!form_->SlotAt(1).memo->isReadOnly());
        // Full: no page is added.
        prompt_.openFileHandlers.push_back([this](const OpenFileRequest&) { return Cat(QStringLiteral("Image/x.jpg")); });
        Click("Menu08");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{kPageLimitMessage});
        prompt_.openFileHandlers.clear();
    }

    void entriesThatAreNotFileNamesAreListedButReadNothing()
    {
        MakeHostileCategory();
        Open();
        QCOMPARE(form_->Grid.P, 4);  // nothing disappears
        for (int s = 0; s < 4; ++s)
            QVERIFY(!form_->SlotAt(s).panel->isHidden());
        QVERIFY(!form_->SlotAt(0).image->Picture().isNull());
        QCOMPARE(form_->SlotAt(0).memo->toPlainText(), QStringLiteral("memo 1\n"));
        QVERIFY(!form_->SlotAt(0).memo->isReadOnly());
        for (int s = 1; s < 4; ++s) {
            QVERIFY2(form_->SlotAt(s).image->Picture().isNull(), "no picture for an entry that names no file");
            QCOMPARE(form_->SlotAt(s).memo->toPlainText(), QString());
            QVERIFY(form_->SlotAt(s).memo->isReadOnly());
        }
    }

    void memosAreWrittenOnlyThroughPlainEntries()
    {
        MakeHostileCategory();
        Open();
        const auto before = Snapshot(Root());
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("edited"));
        form_->SlotAt(1).memo->setPlainText(QStringLiteral("escaped"));
        form_->SlotAt(2).memo->setPlainText(QStringLiteral("nothing"));
        form_->SelectCategoryRow(1);  // saves the memos on screen
        QVERIFY(prompt_.shown.empty());
        auto after = Snapshot(Root());
        QCOMPARE(after[Cat(QStringLiteral("Text/00000001.txt"))], QByteArray("edited\r\n"));
        after[Cat(QStringLiteral("Text/00000001.txt"))] = before.at(Cat(QStringLiteral("Text/00000001.txt")));
        QVERIFY2(after == before, "only the plain page's memo was written");
    }

    void reEditingSuchAnEntryIsRefused()
    {
        MakeHostileCategory();
        Open();
        QTest::mouseClick(form_->SlotAt(1).image, Qt::LeftButton);
        QCOMPARE(form_->Grid.K, 1);
        const auto before = Snapshot(Root());
        Click("SpeedButton3");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("画像ファイルを読み込めません")});
        for (const auto& s : prompt_.shown)
            QVERIFY2(s.kind != ScriptedPrompt::Shown::Modal, "the editor must not open");
        QVERIFY(Snapshot(Root()) == before);
    }

    // ---- the handler boundary ----

    void aThrowingHandlerShowsTheErrorBoxAndTheProgramGoesOn()
    {
        QWidget window;
        auto* button = new QPushButton(&window);
        window.show();
        int calls = 0;
        ConnectHandler(&prompt_, button, &QPushButton::clicked, &window, [&] {
            ++calls;
            if (calls == 1)
                throw ReportedFailure(QStringLiteral("Cannot create file \"x\"."), QStringLiteral("Disk full"));
            if (calls == 2)
                throw std::runtime_error("plain failure");
        });
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(calls, 3);
        QCOMPARE(prompt_.shown.size(), size_t(2));
        QCOMPARE(prompt_.shown[0].kind, ScriptedPrompt::Shown::Exception);
        QCOMPARE(prompt_.shown[0].text, QStringLiteral("Cannot create file \"x\"."));
        QCOMPARE(prompt_.shown[0].detail, QStringLiteral("Disk full"));
        QCOMPARE(prompt_.shown[1].text, QStringLiteral("plain failure"));
        QVERIFY2(AppPrompt().shown.empty(), "nothing reached the application's last resort");
    }

    void withoutAPromptOfItsOwnTheApplicationsShowsIt()
    {
        QPushButton button;
        ConnectHandler(nullptr, &button, &QPushButton::clicked, &button,
                       [] { throw ReportedFailure(QStringLiteral("failed")); });
        button.click();
        QCOMPARE(AppPrompt().Texts(), std::vector<QString>{QStringLiteral("failed")});
        AppPrompt().Clear();
    }

    void handlersGetTheSignalsArgumentsOrNone()
    {
        QObject receiver;
        QPushButton button;
        button.setCheckable(true);
        std::vector<bool> seen;
        int none = 0;
        ConnectHandler(&prompt_, &button, &QPushButton::toggled, &receiver, [&](bool on) { seen.push_back(on); });
        ConnectHandler(&prompt_, &button, &QPushButton::toggled, &receiver, [&] { ++none; });
        button.toggle();
        button.toggle();
        QCOMPARE(seen, (std::vector<bool>{true, false}));
        QCOMPARE(none, 2);
    }
};

TOLVANE_UI_TEST(UntrustedPagesTest);

#include "tst_UntrustedPages.moc"
