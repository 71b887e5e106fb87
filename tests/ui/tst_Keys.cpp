// SPDX-License-Identifier: GPL-3.0-or-later
// The keys of the main window's commands: each presses its control, paging
// keys page as their buttons do, a key of a disabled command does nothing,
// and the keys a memo uses for editing stay in the memo.

#include "tests/ui/MainWindowFixture.h"

#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/CommandKeys.h"
#include "ui/TForm1.h"
#include "widgets/Controls.h"

#include <QDialog>
#include <QPlainTextEdit>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <memory>

class KeysTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    void Key(const QKeySequence& key) { QTest::keySequence(form_.get(), key); }

private slots:
    void init()
    {
        BeginTest();
        QVERIFY(MakeCategory(Root(), QStringLiteral("Cat")));
        QByteArray list = "00000010\r\n";
        for (int i = 1; i <= 10; ++i) {
            const QString name = QStringLiteral("%1.jpg").arg(i, 8, 10, QLatin1Char('0'));
            QVERIFY(ImgKitJpegFileSave(Cat(QStringLiteral("Image/") + name), CreateDib(60, 80, 3), 90));
            list += name.toLatin1() + "\r\n";
        }
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")), list));
        Open();
        form_->activateWindow();
        QCOMPARE(form_->Grid.P, 10);
    }

    void cleanup() { EndTest(); }

    // Each key presses a control there is, none twice, and the manual lists it.
    void everyKeyPressesAControlOfTheWindow()
    {
        const QString manual = QString::fromUtf8(ReadBytes(QStringLiteral(TOLVANE_HELP_FILE)));
        QSet<QString> keys;
        for (const CommandKey& k : MainWindowKeys()) {
            QVERIFY2(form_->findChild<QWidget*>(k.control), qPrintable(k.control));
            const QString name = k.key.toString(QKeySequence::PortableText);
            QVERIFY2(k.key == QKeySequence(Qt::Key_Enter) || manual.contains(QStringLiteral("<kbd>%1</kbd>").arg(name)),
                     qPrintable(name));
            keys.insert(name);
        }
        QCOMPARE(keys.size(), qsizetype(MainWindowKeys().size()));
    }

    void pagingKeysPageAsTheirButtons()
    {
        const std::pair<QKeySequence, int> steps[] = {
            {QKeySequence(Qt::Key_PageDown), 4}, {QKeySequence(Qt::Key_End), 6},
            {QKeySequence(Qt::Key_PageDown), 6}, {QKeySequence(Qt::CTRL | Qt::Key_Left), 5},
            {QKeySequence(Qt::Key_PageUp), 1},   {QKeySequence(Qt::Key_Home), 0},
            {QKeySequence(Qt::CTRL | Qt::Key_Right), 1}};
        for (const auto& [key, first] : steps) {
            Key(key);
            QCOMPARE(form_->Grid.T, first);
        }
    }

    void aDisabledCommandsKeyDoesNothing()
    {
        form_->Desk.Click(1);
        form_->SetCommandStates(true);
        Key(QKeySequence(Qt::Key_Delete));
        Key(QKeySequence(Qt::CTRL | Qt::Key_D));
        QCOMPARE(form_->Grid.P, 10);
        QVERIFY(prompt_.shown.empty());
        form_->SetCommandStates(false);
        Key(QKeySequence(Qt::CTRL | Qt::Key_D));  // copy
        QCOMPARE(form_->Grid.P, 11);
        form_->Desk.PageTo(0);
        form_->Desk.Click(1);
        Key(QKeySequence(Qt::ALT | Qt::Key_Up));  // earlier
        QCOMPARE(form_->Pages.lines.at(1), QStringLiteral("00000002.jpg"));
        prompt_.boxAnswers.push_back(BoxAnswer::Ok);
        form_->Desk.Click(0);
        Key(QKeySequence(Qt::Key_Delete));
        QCOMPARE(form_->Grid.P, 10);
    }

    void editingKeysStayInTheMemoAndEnterOpensTheViewer()
    {
        QPlainTextEdit* memo = form_->SlotAt(0).memo;
        form_->Desk.Click(0);
        memo->setFocus();
        QTest::keyClicks(memo, QStringLiteral("ab"));
        QCOMPARE(memo->toPlainText(), QStringLiteral("ab"));
        for (Qt::Key k : {Qt::Key_Home, Qt::Key_Delete, Qt::Key_End, Qt::Key_Return, Qt::Key_PageDown})
            QTest::keyClick(memo, k);
        QCOMPARE(memo->toPlainText(), QStringLiteral("b\n"));
        QCOMPARE(form_->Grid.P, 10);
        QCOMPARE(form_->Grid.T, 0);
        QVERIFY(prompt_.shown.empty());

        form_->SlotAt(0).image->setFocus();
        int viewed = 0;
        prompt_.modalHandlers.push_back([&](QDialog&) {
            ++viewed;
            return int(QDialog::Rejected);
        });
        QTest::keyClick(form_->SlotAt(0).image, Qt::Key_Return);
        QCOMPARE(viewed, 1);
    }
};

TOLVANE_UI_TEST(KeysTest);
#include "tst_Keys.moc"
