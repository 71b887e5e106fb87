// SPDX-License-Identifier: GPL-3.0-or-later
// The page commands through the real main window: the context menu, delete
// with its question, reordering with the grid following, moving into another
// category through the destination dialog, and the copy of a page.

#include "tests/ui/MainWindowFixture.h"

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "ui/TSelectForm.h"
#include "widgets/Controls.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <memory>

class PageOpsTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    void ClickPage(int slot) { QTest::mouseClick(form_->SlotAt(slot).image, Qt::LeftButton); }

    bool Enabled(const char* name) const { return form_->findChild<QWidget*>(QLatin1String(name))->isEnabled(); }
    QString Memo(int slot) const { return form_->SlotAt(slot).memo->toPlainText(); }

private slots:
    void init() { BeginTest(); }
    void cleanup() { EndTest(); }

    void theContextMenuOpensOnTheClickedPageWithEveryCommand()
    {
        MakeCat(QStringLiteral("A"), 3);
        Open();
        QWidget* image = form_->SlotAt(2).image;
        QTest::mousePress(image, Qt::RightButton, {}, QPoint(10, 10));
        QCOMPARE(form_->Grid.K, 2);
        QMenu* menu = form_->PopupMenu();
        QTRY_VERIFY(menu->isVisible());
        QStringList names, texts;
        for (QAction* a : menu->actions()) {
            names << a->objectName();
            texts << a->text();
        }
        QCOMPARE(names, (QStringList{"N1", "Print1", "Delete1", "N5", "N6", "N7", "N2"}));
        QCOMPARE(texts, (QStringList{"全画面表示", "印刷", "削除", "分類変更", "コピー作成", "再編集", "順番変更"}));
        QMenu* order = menu->actions().last()->menu();
        QVERIFY(order);
        QCOMPARE(order->actions().size(), 2);
        QCOMPARE(order->actions()[0]->objectName(), QStringLiteral("N3"));
        QCOMPARE(order->actions()[1]->objectName(), QStringLiteral("N4"));
        menu->hide();
        QTest::mouseRelease(image, Qt::RightButton, {}, QPoint(10, 10));

        // The items run the buttons' commands: "前へ" moves the page earlier,
        // "削除" asks before deleting.
        order->actions()[0]->trigger();
        QCOMPARE(form_->Grid.K, 1);
        QCOMPARE(Lines(QStringLiteral("A")).mid(1),
                 (QStringList{"00000001.jpg", "00000003.jpg", "00000002.jpg"}));
        prompt_.boxAnswers.push_back(BoxAnswer::Cancel);
        menu->actions()[2]->trigger();
        QCOMPARE(prompt_.Texts(),
                 std::vector<QString>{QStringLiteral("現在選択されている画像ページを完全に削除します。\nよろしいですか？")});
        QCOMPARE(form_->Grid.P, 3);
    }

    void deleteAsksAndThenRemovesThePageWithoutRenumbering()
    {
        MakeCat(QStringLiteral("A"), 6);
        Open();
        Click("SpeedButton21");  // pages 3 to 6 shown
        QCOMPARE(form_->Grid.T, 2);
        ClickPage(3);
        QCOMPARE(form_->Grid.K, 5);
        prompt_.boxAnswers.push_back(BoxAnswer::Cancel);
        Click("Menu03");
        QCOMPARE(form_->Grid.P, 6);
        QCOMPARE(prompt_.shown.back().buttons, BoxButtons::OkCancel);
        QCOMPARE(prompt_.shown.back().caption, QString());
        prompt_.boxAnswers.push_back(BoxAnswer::Ok);
        Click("Menu03");
        QCOMPARE(form_->Grid.P, 5);
        QCOMPARE(form_->Grid.K, -1);
        QCOMPARE(form_->Grid.T, 2);  // unchanged: three pages shown now
        QVERIFY(!form_->SlotAt(3).panel->isVisible());
        QCOMPARE(Lines(QStringLiteral("A")).first(), QStringLiteral("00000006"));
        QVERIFY(!QFile::exists(F(QStringLiteral("A/Image/00000006.jpg"))));
        QVERIFY(!QFile::exists(F(QStringLiteral("A/Text/00000006.txt"))));
        QCOMPARE(form_->findChild<QLabel*>(QStringLiteral("StaticText2"))->text(), QStringLiteral("5"));
    }

    void reorderingScrollsWhenThePageLeavesTheFour()
    {
        MakeCat(QStringLiteral("A"), 8);
        Open();
        Click("SpeedButton20");  // pages 2 to 5 shown
        ClickPage(0);
        QCOMPARE(form_->Grid.K, 1);
        Click("Menu04");  // the first slot earlier: the grid goes back one
        QCOMPARE(form_->Grid.K, 0);
        QCOMPARE(form_->Grid.T, 0);
        QCOMPARE(Memo(0), QStringLiteral("memo 2\n"));
        ClickPage(3);
        Click("Menu05");  // the fourth slot later: forward one
        QCOMPARE(form_->Grid.K, 4);
        QCOMPARE(form_->Grid.T, 1);
        QCOMPARE(Memo(3), QStringLiteral("memo 4\n"));
        QCOMPARE(Lines(QStringLiteral("A")).mid(1, 5),
                 (QStringList{"00000002.jpg", "00000001.jpg", "00000003.jpg", "00000005.jpg", "00000004.jpg"}));
        QVERIFY(prompt_.shown.empty());
    }

    void movingGoesThroughTheDestinationDialog()
    {
        MakeCat(QStringLiteral("A"), 3);
        MakeCat(QStringLiteral("B"), 2, ".tif");
        Open();
        ClickPage(1);
        // OK without a choice says so and stays open; then B.
        QStringList listed;
        prompt_.modalHandlers.push_back([&](QDialog& d) {
            auto* list = d.findChild<QListWidget*>(QStringLiteral("ListBox"));
            for (int i = 0; i < list->count(); ++i)
                listed << list->item(i)->text();
            if (d.windowTitle() != QStringLiteral("移動先の分類を選択") || d.size() != QSize(223, 264)
                || !list->selectedItems().isEmpty() || QFile::exists(F(QStringLiteral("A/TempList.txt"))))
                return int(QDialog::Rejected);
            d.show();
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            if (!d.isVisible() || d.result() == QDialog::Accepted)
                return int(QDialog::Rejected);
            list->setCurrentRow(1);
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            return d.result();
        });
        Click("Menu09");
        QCOMPARE(listed, (QStringList{"A", "B"}));
        QCOMPARE(prompt_.Texts(), (std::vector<QString>{QStringLiteral("移動先の分類が選択されていません")}));
        QCOMPARE(Lines(QStringLiteral("B")), (QStringList{"00000003", "00000001.tif", "00000002.tif", "00000003.jpg"}));
        QCOMPARE(ReadBytes(F(QStringLiteral("B/Text/00000003.txt"))), QByteArray("memo 2\r\n"));
        QCOMPARE(Lines(QStringLiteral("A")), (QStringList{"00000003", "00000001.jpg", "00000003.jpg"}));
        QCOMPARE(form_->Grid.P, 2);
        QCOMPARE(form_->Grid.K, -1);
        QVERIFY(!QFile::exists(F(QStringLiteral("A/TempList.txt"))));

        // The current category as the destination; Cancel.
        prompt_.Clear();
        ClickPage(0);
        prompt_.modalHandlers.push_back([](QDialog& d) {
            d.findChild<QListWidget*>(QStringLiteral("ListBox"))->setCurrentRow(0);
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            return d.result();
        });
        prompt_.modalHandlers.push_back([](QDialog& d) {
            d.findChild<QListWidget*>(QStringLiteral("ListBox"))->setCurrentRow(1);
            d.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
            return d.result();
        });
        Click("Menu09");
        Click("Menu09");
        QCOMPARE(prompt_.Texts(), (std::vector<QString>{QStringLiteral("移動元と移動先の分類が同じです")}));
        QCOMPARE(Lines(QStringLiteral("A")).size(), 3);
        QCOMPARE(Lines(QStringLiteral("B")).size(), 4);
    }

    // Delete, reorder and move draw the grid again from the files: a memo
    // typed just before is saved first, never thrown away.
    void aMemoTypedBeforeAPageCommandIsKept()
    {
        MakeCat(QStringLiteral("A"), 6);
        MakeCat(QStringLiteral("B"), 1);
        Open();
        prompt_.boxAnswers.push_back(BoxAnswer::Ok);
        prompt_.modalHandlers.push_back([](QDialog& d) {
            d.findChild<QListWidget*>(QStringLiteral("ListBox"))->setCurrentRow(1);
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
            return d.result();
        });
        int typed = 0;
        for (const char* command : {"Menu04", "Menu05", "Menu03", "Menu09"}) {
            ClickPage(2);
            const QString text = QStringLiteral("typed before %1").arg(QLatin1String(command));
            form_->SlotAt(0).memo->setPlainText(text);
            const QString entry = form_->Pages.lines[form_->Grid.T + 1].section(u'.', 0, 0);
            Click(command);
            QVERIFY2(QString::fromLatin1(ReadBytes(F(QStringLiteral("A/Text/") + entry + QStringLiteral(".txt"))))
                         .startsWith(text),
                     command);
            ++typed;
        }
        QCOMPARE(typed, 4);
        QVERIFY(prompt_.modalHandlers.empty());
    }

    void aCopyIsANewEncodingWithAnEmptyMemoShownLast()
    {
        MakeCat(QStringLiteral("A"), 5, ".tif");
        Open();
        ClickPage(1);
        Click("SpeedButton1");
        QVERIFY(prompt_.Texts().empty());
        QCOMPARE(Lines(QStringLiteral("A")).first(), QStringLiteral("00000006"));
        QCOMPARE(Lines(QStringLiteral("A")).last(), QStringLiteral("00000006.jpg"));
        QCOMPARE(SizeOf(F(QStringLiteral("A/Image/00000006.jpg"))), QSize(62, 80));
        QVERIFY(SizeOf(F(QStringLiteral("A/Thumb/00000006.jpg"))).isValid());
        QCOMPARE(ReadBytes(F(QStringLiteral("A/Text/00000006.txt"))), QByteArray("\r\n"));
        QCOMPARE(form_->Grid.P, 6);
        QCOMPARE(form_->Grid.K, 5);
        QCOMPARE(form_->Grid.T, 2);
        QCOMPARE(Memo(3), QStringLiteral("\n"));

        // A page whose image is gone cannot be copied.
        QVERIFY(QFile::remove(F(QStringLiteral("A/Image/00000001.tif"))));
        Click("SpeedButton18");
        ClickPage(0);
        prompt_.Clear();
        Click("SpeedButton1");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("画像ファイルを読み込めません")});
        QCOMPARE(form_->Grid.P, 6);
    }

    void aListThatCannotBeWrittenKeepsEveryPageAndSaysSo()
    {
        MakeCat(QStringLiteral("A"), 3);
        Open();
        // FileList.txt turns into something that cannot be read back.
        QVERIFY(QFile::remove(F(QStringLiteral("A/FileList.txt"))));
        QVERIFY(QDir().mkpath(F(QStringLiteral("A/FileList.txt"))));
        ClickPage(1);
        prompt_.boxAnswers.push_back(BoxAnswer::Ok);
        Click("Menu03");
        Click("Menu05");
        Click("SpeedButton1");
        // The question, then one refusal naming the category: from then on
        // the category is shown read-only, until check --repair mends it.
        const std::vector<QString> said = prompt_.Texts();
        QCOMPARE(said.size(), std::size_t(2));
        QCOMPARE(said[1], QStringLiteral("分類「A」のファイルリストを書き換えられません。「tolvane-batch check --repair」で修復してください"));
        QVERIFY2(!prompt_.shown[1].detail.isEmpty(), "the system's reason goes with it");
        for (const char* command : {"Menu03", "Menu05", "SpeedButton1", "Menu08"})
            QVERIFY2(!Enabled(command), command);
        QCOMPARE(form_->Grid.P, 3);
        QCOMPARE(form_->Grid.K, 1);
        for (const char* f : {"A/Image/00000002.jpg", "A/Thumb/00000002.jpg", "A/Text/00000002.txt"})
            QVERIFY2(QFile::exists(F(QLatin1String(f))), f);
        QCOMPARE(QDir(F(QStringLiteral("A/Image"))).entryList(QDir::Files).size(), 3);  // no copy left behind
    }

    void printingAsksForThePrinterFirstAndPrintsTheClickedPage()
    {
        MakeCat(QStringLiteral("A"), 2);
        Open();
        const QString pdf = F(QStringLiteral("page.pdf"));
        // Cancelled: nothing loaded, nothing printed.
        ClickPage(1);
        prompt_.printerHandlers.push_back([](QPrinter&) { return false; });
        Click("Menu02");
        QVERIFY(!QFile::exists(pdf));
        QCOMPARE(prompt_.shown.back().kind, ScriptedPrompt::Shown::PrinterSetup);
        // Through the context menu, into a PDF file.
        prompt_.printerHandlers.push_back([&](QPrinter& p) {
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(pdf);
            return true;
        });
        form_->findChild<QAction*>(QStringLiteral("Print1"))->trigger();
        QVERIFY(QFileInfo(pdf).size() > 0);
        QVERIFY(prompt_.Texts().empty());
        QProcess info;
        info.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
        QVERIFY(info.waitForFinished(30000));
        const QString listing = QString::fromLatin1(info.readAllStandardOutput());
        QVERIFY2(listing.contains(QRegularExpression(QStringLiteral("\\s62\\s+80\\s"))), qPrintable(listing));  // page 2, whole
        QCOMPARE(form_->Grid.K, 1);
        // A missing image: the message, no print job.
        QVERIFY(QFile::remove(pdf));
        QVERIFY(QFile::remove(F(QStringLiteral("A/Image/00000002.jpg"))));
        prompt_.printerHandlers.push_back([&](QPrinter& p) {
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(pdf);
            return true;
        });
        Click("Menu02");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("画像ファイルを読み込めません")});
        QVERIFY(!QFile::exists(pdf));
    }

    void aFullCategoryTakesNoCopy()
    {
        MakeCat(QStringLiteral("A"), 0);
        QByteArray list = "00000999\r\n";
        for (int i = 1; i <= 999; ++i)
            list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
        QVERIFY(WriteTestFile(F(QStringLiteral("A/FileList.txt")), list));
        QVERIFY(ImgKitJpegFileSave(F(QStringLiteral("A/Image/00000001.jpg")), CreateDib(20, 20, 3), 80));
        Open();
        ClickPage(0);
        Click("SpeedButton1");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("1000枚を超えるイメージは保存できません")});
        QCOMPARE(ReadBytes(F(QStringLiteral("A/FileList.txt"))), list);
    }
};

TOLVANE_UI_TEST(PageOpsTest);

#include "tst_PageOps.moc"
