// SPDX-License-Identifier: GPL-3.0-or-later
// Browsing and keeping the archive through the real main window: the page
// grid and its paging, memos and when they are written, categories, the
// shared-write lock, the command states and the options dialog's sharing
// switch.

#include "tests/ui/MainWindowFixture.h"

#include "core/ArchiveFiles.h"
#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "widgets/Controls.h"
#include "ui/TForm1.h"
#include "ui/TfNewFolder.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <QToolButton>
#include <QWheelEvent>
#include <memory>

namespace {

QByteArray Cp932(const QString& s)
{
    return EncodeCp932(s);
}

// A category with `pages` pages: entries 00000001.jpg .., memo i holds
// "memo i" (CP932, CR LF), no thumbnails.
void MakePages(const QString& root, const QString& name, int pages)
{
    QVERIFY(MakeCategory(root, name));
    QByteArray list = QStringLiteral("%1\r\n").arg(pages, 8, 10, QLatin1Char('0')).toLatin1();
    for (int i = 1; i <= pages; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
        list += (number + QStringLiteral(".jpg\r\n")).toLatin1();
        QVERIFY(WriteTestFile(root + u'/' + name + QStringLiteral("/Text/") + number + QStringLiteral(".txt"),
                              Cp932(QStringLiteral("memo %1\r\n").arg(i))));
    }
    QVERIFY(WriteTestFile(root + u'/' + name + QStringLiteral("/FileList.txt"), list));
}

}  // namespace

class BrowseTest : public QObject, protected MainWindowFixture {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> work_;

    QString Work() const { return work_->path(); }

    template <typename T = QWidget>
    T* W(const char* name)
    {
        T* w = form_->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QAction* A(const char* name) { return W<QAction>(name); }
    QString Text(const char* name) { return W<QLabel>(name)->text(); }

    // Selects the category of that name as a click in the list would.
    void Select(const QString& name)
    {
        auto* list = W<QListWidget>("ListBox");
        const auto items = list->findItems(name, Qt::MatchExactly);
        QVERIFY(!items.isEmpty());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items[0]).center());
        QCOMPARE(form_->CurrentFolder, Root() + u'/' + name);
    }

    QStringList VisibleLabels()
    {
        QStringList out;
        for (int s = 0; s < 4; ++s)
            if (!form_->SlotAt(s).panel->isHidden())
                out << form_->SlotAt(s).label->text();
        return out;
    }

    // Answers the next category-name dialog with a name (or Cancel).
    void AnswerName(const QString& name, bool ok = true, QString* label = nullptr)
    {
        prompt_.modalHandlers.push_back([=](QDialog& d) {
            if (label)
                *label = d.findChild<QLabel*>(QStringLiteral("Label1"))->text();
            d.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(name);
            return int(ok ? QDialog::Accepted : QDialog::Rejected);
        });
    }

    QStringList WritingControls() const
    {
        return {"SpeedButton11", "SpeedButton12", "SpeedButton13", "Menu03", "Menu04", "Menu05",
                "Menu07",        "Menu08",        "Menu09",        "SpeedButton1", "SpeedButton2", "SpeedButton3"};
    }

    // Checks the state of every switched control and of those never switched.
    void ExpectWritable(bool writable)
    {
        for (const QString& n : WritingControls())
            QVERIFY2(form_->findChild<QWidget*>(n)->isEnabled() == writable, qPrintable(n));
        for (const char* n : {"N2", "N5", "N6", "N7", "Delete1"})
            QVERIFY2(A(n)->isEnabled() == writable, n);
        for (int s = 0; s < 4; ++s)
            QCOMPARE(form_->SlotAt(s).memo->isReadOnly(), !writable);
        for (const char* n : {"Menu01", "Menu02", "Menu06", "ListBox", "SpeedButton18", "SpeedButton21"})
            QVERIFY2(form_->findChild<QWidget*>(QLatin1String(n))->isEnabled(), n);
        QVERIFY(A("N1")->isEnabled());
        QVERIFY(A("Print1")->isEnabled());
    }

private slots:
    void init()
    {
        BeginTest(Settings{});
        work_ = std::make_unique<QTemporaryDir>();
    }

    void cleanup() { EndTest(); }

    // ---- grid ----

    void emptyCategoryShowsItsCaption()
    {
        QVERIFY(MakeCategory(Root(), QStringLiteral("Empty")));
        Open();
        QCOMPARE(W<TPanel>("Panel003")->Caption(), QStringLiteral("この分類には画像ページがありません"));
        QCOMPARE(VisibleLabels(), QStringList());
        QCOMPARE(Text("StaticText2"), QStringLiteral("0"));
        QCOMPARE(Text("StaticText6"), QStringLiteral("なし"));
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/Empty/test.txt")));
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/Empty/FileList.txt")));
    }

    void pagingFollowsTheForwardAndBackRules()
    {
        MakePages(Root(), QStringLiteral("Six"), 6);
        MakePages(Root(), QStringLiteral("Ten"), 10);
        MakePages(Root(), QStringLiteral("Three"), 3);
        Open();

        Select(QStringLiteral("Six"));
        QCOMPARE(W<TPanel>("Panel003")->Caption(), QString());
        QCOMPARE(VisibleLabels(), (QStringList{"Page 1", "Page 2", "Page 3", "Page 4"}));
        QCOMPARE(form_->SlotAt(0).memo->toPlainText(), QStringLiteral("memo 1\n"));
        Click("SpeedButton21");
        QCOMPARE(form_->Grid.T, 2);
        QCOMPARE(VisibleLabels(), (QStringList{"Page 3", "Page 4", "Page 5", "Page 6"}));
        QCOMPARE(form_->SlotAt(3).memo->toPlainText(), QStringLiteral("memo 6\n"));
        Click("SpeedButton21");
        QCOMPARE(form_->Grid.T, 2);
        Click("SpeedButton20");
        QCOMPARE(form_->Grid.T, 2);
        Click("SpeedButton19");
        QCOMPARE(form_->Grid.T, 1);
        Click("SpeedButton18");
        QCOMPARE(form_->Grid.T, 0);
        Click("SpeedButton19");
        QCOMPARE(form_->Grid.T, 0);

        Select(QStringLiteral("Ten"));
        for (int i = 0; i < 4; ++i)
            Click("SpeedButton20");
        QCOMPARE(form_->Grid.T, 4);
        Click("SpeedButton21");
        QCOMPARE(form_->Grid.T, 6);
        QCOMPARE(Text("StaticText2"), QStringLiteral("10"));

        // the wheel pages by one
        QWheelEvent up(QPointF(5, 5), form_->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form_.get(), &up);
        QCOMPARE(form_->Grid.T, 5);
        QWheelEvent down(QPointF(5, 5), form_->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                         Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form_.get(), &down);
        QCOMPARE(form_->Grid.T, 6);

        Select(QStringLiteral("Three"));
        QCOMPARE(form_->Grid.T, 0);
        QCOMPARE(VisibleLabels(), (QStringList{"Page 1", "Page 2", "Page 3"}));
        QCOMPARE(form_->SlotAt(3).label->text(), QStringLiteral("Page 4"));
        Click("SpeedButton21");
        Click("SpeedButton20");
        QCOMPARE(form_->Grid.T, 0);
    }

    void clickedPageSurvivesPagingAndCategoryChangeClearsIt()
    {
        MakePages(Root(), QStringLiteral("Twelve"), 12);
        MakeCategory(Root(), QStringLiteral("Other"));
        Open();
        Select(QStringLiteral("Twelve"));
        Click("SpeedButton21");
        Click("SpeedButton21");
        QCOMPARE(form_->Grid.T, 8);
        QTest::mouseClick(form_->SlotAt(2).image, Qt::LeftButton);
        QCOMPARE(form_->Grid.K, 10);
        QCOMPARE(Text("StaticText6"), QStringLiteral("11"));
        const QColor clicked = form_->SlotAt(2).panel->Color();
        QVERIFY(clicked != form_->SlotAt(1).panel->Color());
        Click("SpeedButton19");
        QCOMPARE(form_->Grid.K, 10);
        QCOMPARE(form_->SlotAt(3).panel->Color(), clicked);  // page 11 is in slot 3 now
        QVERIFY(form_->SlotAt(2).panel->Color() != clicked);
        Click("SpeedButton18");
        for (int s = 0; s < 4; ++s)
            QVERIFY(form_->SlotAt(s).panel->Color() != clicked);
        Click("SpeedButton21");
        Click("SpeedButton21");
        QCOMPARE(form_->SlotAt(2).panel->Color(), clicked);
        QCOMPARE(Text("StaticText6"), QStringLiteral("11"));
        Select(QStringLiteral("Other"));
        QCOMPARE(form_->Grid.K, -1);
        QCOMPARE(Text("StaticText6"), QStringLiteral("なし"));
    }

    void rightClickSelectsThePageBeforeTheMenuOpens()
    {
        MakePages(Root(), QStringLiteral("Four"), 4);
        Open();
        TImage* image = form_->SlotAt(3).image;
        QTest::mousePress(image, Qt::RightButton, {}, QPoint(10, 10));
        QCOMPARE(form_->Grid.K, 3);
        QCOMPARE(Text("StaticText6"), QStringLiteral("4"));
        QVERIFY(form_->PopupMenu()->isVisible());
        form_->PopupMenu()->hide();
        QTest::mouseRelease(image, Qt::RightButton, {}, QPoint(10, 10));
    }

    void checkBoxesMarkPagesInTheirTable()
    {
        MakePages(Root(), QStringLiteral("Five"), 5);
        Open();
        QCheckBox* box = form_->SlotAt(1).check;
        box->setVisible(true);
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(form_->Grid.Marked(1));
        QCOMPARE(Text("StaticText4"), QStringLiteral("1"));
        Click("SpeedButton20");
        QVERIFY(form_->SlotAt(0).check->isChecked());  // page 2 is in slot 0 now
        QVERIFY(!form_->SlotAt(1).check->isChecked());
    }

    void thumbnailsShowTheirPictureOrABlackSquare()
    {
        MakePages(Root(), QStringLiteral("Pics"), 2);
        ImageHandle thumb = CreateDib(150, 100, 3);
        QVERIFY(thumb);
        QVERIFY(ImgKitJpegFileSave(Root() + QStringLiteral("/Pics/Thumb/00000001.jpg"), thumb, 80));
        Open();
        QCOMPARE(form_->SlotAt(0).image->Picture().size(), QSize(150, 100));
        const QImage placeholder = form_->SlotAt(1).image->Picture();
        QCOMPARE(placeholder.size(), QSize(20, 20));
        QCOMPARE(placeholder.pixelColor(10, 10), QColor(Qt::black));
    }

    // ---- memos ----

    void editedMemosAreSavedBeforePagingAndUneditedOnesKeepTheirBytes()
    {
        MakePages(Root(), QStringLiteral("Memos"), 6);
        // an odd memo file: no final line break and a byte pair the code page
        // conversion would not give back as it was
        const QString odd = Root() + QStringLiteral("/Memos/Text/00000002.txt");
        const QByteArray oddBytes = QByteArray("\xED\x40 kept\r\nno end", 13);
        QVERIFY(WriteTestFile(odd, oddBytes));
        Open();
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("領収書 ①㈱髙～ ｽｷｬﾅ\n二行目"));
        Click("SpeedButton20");
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/Memos/Text/00000001.txt")),
                 Cp932(QStringLiteral("領収書 ①㈱髙～ ｽｷｬﾅ\r\n二行目\r\n")));
        QCOMPARE(ReadBytes(odd), oddBytes);
        // and it reads back as typed
        Click("SpeedButton19");
        QCOMPARE(form_->SlotAt(0).memo->toPlainText(), QStringLiteral("領収書 ①㈱髙～ ｽｷｬﾅ\n二行目\n"));
    }

    void memosAreSavedOnCategoryChangeAndClose()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        MakePages(Root(), QStringLiteral("B"), 1);
        Open();
        Select(QStringLiteral("A"));
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("changed A"));
        Select(QStringLiteral("B"));
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/A/Text/00000001.txt")), QByteArray("changed A\r\n"));
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("changed B"));
        form_->close();
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/B/Text/00000001.txt")), QByteArray("changed B\r\n"));
    }

    void memosOfAReadOnlyFolderAreNeverWritten()
    {
        MakePages(Root(), QStringLiteral("Disc"), 6);
        form_ = std::make_unique<TForm1>(prompt_, Root());
        form_->ProbeWritable = [](const QString&) { return false; };
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QVERIFY(form_->FolderReadOnly);
        ExpectWritable(false);
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("not saved"));
        Click("SpeedButton20");
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/Disc/Text/00000001.txt")), QByteArray("memo 1\r\n"));
    }

    // Taking the lock or switching sharing off never makes a read-only folder
    // writable: the commands stay off and memo edits are not offered.
    void aReadOnlyFolderStaysReadOnlyWhateverTheLock()
    {
        MakePages(Root(), QStringLiteral("Disc"), 6);
        QVERIFY(WriteTestFile(Root() + QStringLiteral("/NetLock.CTL"), "0\r\n"));
        form_ = std::make_unique<TForm1>(prompt_, Root());
        form_->ProbeWritable = [](const QString&) { return false; };
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        ExpectWritable(false);
        Click("SpeedButton4");  // free: taken without a question
        QVERIFY(form_->LockHeld);
        ExpectWritable(false);
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("not saved"));
        Click("SpeedButton20");
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/Disc/Text/00000001.txt")), QByteArray("memo 1\r\n"));
        form_->ApplySharingChoice(false);
        QVERIFY(!form_->ArchiveShared);
        ExpectWritable(false);
        form_->ApplySharingChoice(true);
        ExpectWritable(false);
    }

    void memosWaitForTheLockInASharedArchive()
    {
        MakePages(Root(), QStringLiteral("Shared"), 6);
        QVERIFY(WriteTestFile(Root() + QStringLiteral("/NetLock.CTL"), "0\r\n"));
        Open();
        QVERIFY(form_->ArchiveShared);
        ExpectWritable(false);
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("too early"));
        Click("SpeedButton20");
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/Shared/Text/00000001.txt")), QByteArray("memo 1\r\n"));
        Click("SpeedButton4");  // free: taken without a question
        QVERIFY(form_->LockHeld);
        ExpectWritable(true);
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("with the lock"));
        Click("SpeedButton20");
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/Shared/Text/00000002.txt")), QByteArray("with the lock\r\n"));
    }

    void aMemoThatCannotBeWrittenStopsTheCommandWithTheErrorBox()
    {
        MakePages(Root(), QStringLiteral("Broken"), 6);
        Open();
        AppPrompt().Clear();
        // a folder where the memo file should be: the write must fail
        QVERIFY(QFile::remove(Root() + QStringLiteral("/Broken/Text/00000001.txt")));
        QVERIFY(QDir().mkpath(Root() + QStringLiteral("/Broken/Text/00000001.txt")));
        prompt_.Clear();
        form_->SlotAt(0).memo->setPlainText(QStringLiteral("edited"));
        Click("SpeedButton20");
        // The handler boundary shows it: the quoted text, the system's reason
        // as the detail, and nothing reaches Qt's event dispatch.
        QCOMPARE(prompt_.shown.size(), size_t(1));
        QCOMPARE(prompt_.shown[0].kind, ScriptedPrompt::Shown::Exception);
        QVERIFY(prompt_.shown[0].text.startsWith(QStringLiteral("Cannot create file")));
        QCOMPARE(prompt_.shown[0].detail, QString::fromLocal8Bit(std::strerror(EISDIR)));
        QVERIFY(AppPrompt().shown.empty());
        QCOMPARE(form_->Grid.T, 0);  // the paging did not happen
        // closing is refused too, so the edit is not lost silently
        form_->close();
        QVERIFY(form_->isVisible());
        QCOMPARE(prompt_.shown.size(), size_t(2));
        QVERIFY(AppPrompt().shown.empty());
        QVERIFY(QDir().rmdir(Root() + QStringLiteral("/Broken/Text/00000001.txt")));
        form_->close();
        QVERIFY(!form_->isVisible());
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/Broken/Text/00000001.txt")), QByteArray("edited\r\n"));
        AppPrompt().Clear();
        prompt_.Clear();
    }

    // ---- categories ----

    void createSelectsTheNewCategory()
    {
        MakePages(Root(), QStringLiteral("Old"), 2);
        Open();
        QString label;
        AnswerName(QStringLiteral("Receipts"), true, &label);
        Click("SpeedButton11");
        QCOMPARE(label, QStringLiteral("新しく作成する分類名"));
        QVERIFY(QFileInfo(Root() + QStringLiteral("/Receipts/Image")).isDir());
        QVERIFY(QFileInfo(Root() + QStringLiteral("/Receipts/Thumb")).isDir());
        QVERIFY(QFileInfo(Root() + QStringLiteral("/Receipts/Text")).isDir());
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/Receipts"));
        QCOMPARE(W<QListWidget>("ListBox")->currentItem()->text(), QStringLiteral("Receipts"));
        QCOMPARE(W<TPanel>("Panel003")->Caption(), QStringLiteral("この分類には画像ページがありません"));
        QVERIFY(prompt_.Texts().empty());
    }

    void createOfAnExistingNameFailsThenSelectsIt()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        MakePages(Root(), QStringLiteral("B"), 3);
        Open();
        Select(QStringLiteral("A"));
        AnswerName(QStringLiteral("B"));
        Click("SpeedButton11");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("指定された分類名のフォルダを作成できません")});
        QCOMPARE(prompt_.shown.back().caption, QStringLiteral("Error"));
        QCOMPARE(prompt_.shown.back().detail, QString::fromLocal8Bit(std::strerror(EEXIST)));
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/B"));
        QCOMPARE(form_->Grid.P, 3);
    }

    void emptyAndUnsafeNamesFailWithoutTouchingAnything()
    {
        QTemporaryDir outer;
        const QString archive = outer.path() + QStringLiteral("/archive");
        QVERIFY(MakeCategory(archive, QStringLiteral("Current")));
        form_ = std::make_unique<TForm1>(prompt_, archive);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        for (const QString& name : {QString(), QStringLiteral("../escaped"), QStringLiteral("a/b"),
                                    QStringLiteral(".."), QStringLiteral("x\\y")}) {
            prompt_.shown.clear();
            AnswerName(name);
            Click("SpeedButton11");
            QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("指定された分類名のフォルダを作成できません")});
            AnswerName(name);
            Click("SpeedButton12");
            QCOMPARE(prompt_.Texts().back(), QStringLiteral("フォルダの名前が変更できません"));
            // the previous category stays current
            QCOMPARE(form_->CurrentFolder, archive + QStringLiteral("/Current"));
        }
        QCOMPARE(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"archive"});
        QCOMPARE(QDir(archive).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Current"});
    }

    void renameMovesTheCategoryAndKeepsItsPages()
    {
        MakePages(Root(), QStringLiteral("Old"), 5);
        Open();
        QString label;
        AnswerName(QStringLiteral("新しい名前"), true, &label);
        Click("SpeedButton12");
        QCOMPARE(label, QStringLiteral("変更後の分類の名称"));
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/Old")));
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/新しい名前"));
        QCOMPARE(form_->Grid.P, 5);
        QCOMPARE(W<QListWidget>("ListBox")->currentItem()->text(), QStringLiteral("新しい名前"));
        // Cancel changes nothing
        AnswerName(QStringLiteral("ignored"), false);
        Click("SpeedButton12");
        QVERIFY(QFileInfo::exists(Root() + QStringLiteral("/新しい名前")));
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/ignored")));
    }

    void renameOntoAnotherCategoryFailsAndSelectsThatOne()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        MakeCategory(Root(), QStringLiteral("B"));
        Open();
        Select(QStringLiteral("A"));
        AnswerName(QStringLiteral("B"));
        Click("SpeedButton12");
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("フォルダの名前が変更できません")});
        QVERIFY(QFileInfo::exists(Root() + QStringLiteral("/A/FileList.txt")));
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/B"));
    }

    void deleteAsksThenRefusesWhileAMemoRemains()
    {
        MakeCategory(Root(), QStringLiteral("Keep"));
        QVERIFY(WriteTestFile(Root() + QStringLiteral("/Keep/Text/00000001.txt"), "\r\n"));
        Open();
        Select(QStringLiteral("Keep"));
        prompt_.boxAnswers = {BoxAnswer::Cancel};
        Click("SpeedButton13");
        QCOMPARE(prompt_.shown.size(), size_t(1));
        QCOMPARE(prompt_.shown[0].text, QStringLiteral("現在選択している分類を削除します\nよろしいですか？"));
        QCOMPARE(prompt_.shown[0].caption, QString());
        QCOMPARE(prompt_.shown[0].buttons, BoxButtons::OkCancel);
        prompt_.boxAnswers = {BoxAnswer::Ok, BoxAnswer::Ok};
        Click("SpeedButton13");
        QCOMPARE(prompt_.Texts().back(),
                 QStringLiteral("分類の中にデータが残っています。\n全部のページを削除または移動してから分類を削除してください。"));
        QCOMPARE(prompt_.shown.back().caption, QStringLiteral("Error"));
        QVERIFY(QFileInfo::exists(Root() + QStringLiteral("/Keep/Text/00000001.txt")));
        QVERIFY(QFileInfo::exists(Root() + QStringLiteral("/Keep/Image")));
    }

    void deleteOfAnEmptyCategorySelectsTheFirstRemaining()
    {
        MakeCategory(Root(), QStringLiteral("Gone"));
        MakePages(Root(), QStringLiteral("Stays"), 2);
        QVERIFY(WriteTestFile(Root() + QStringLiteral("/Gone/FileList.txt"), "00000003\r\n"));
        Open();
        Select(QStringLiteral("Gone"));
        prompt_.boxAnswers = {BoxAnswer::Ok};
        Click("SpeedButton13");
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/Gone")));
        QCOMPARE(W<QListWidget>("ListBox")->count(), 1);
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/Stays"));
        QCOMPARE(form_->Grid.P, 2);
    }

    void deletingTheLastCategoryLeavesNothingSelected()
    {
        MakeCategory(Root(), QStringLiteral("Only"));
        Open();
        prompt_.boxAnswers = {BoxAnswer::Ok};
        Click("SpeedButton13");
        QVERIFY(form_->CurrentFolder.isEmpty());
        QCOMPARE(W<QListWidget>("ListBox")->count(), 0);
        QCOMPARE(Text("StaticText2"), QStringLiteral("0"));
        // without a category the category commands do nothing, creating still works
        Click("SpeedButton12");
        Click("SpeedButton13");
        QVERIFY(prompt_.boxAnswers.empty());
        AnswerName(QStringLiteral("Fresh"));
        Click("SpeedButton11");
        QCOMPARE(form_->CurrentFolder, Root() + QStringLiteral("/Fresh"));
    }

    void newFolderDialogTakesEnterAndEscapeFromAnyControl()
    {
        TfNewFolder dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("新しい分類の作成"));
        QCOMPARE(dialog.size(), QSize(340, 131));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("Label2"))->text(),
                 QStringLiteral("「!\"%&'?|\\」の文字は使えません"));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("Button2"))->text(), QStringLiteral("キャンセル"));
        dialog.show();
        QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("Edit1")), QStringLiteral("abc"));
        QTest::keyClick(dialog.findChild<QLineEdit*>(QStringLiteral("Edit1")), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Name(), QStringLiteral("abc"));
        dialog.show();
        QTest::keyClick(dialog.findChild<QPushButton*>(QStringLiteral("Button1")), Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    // ---- shared-write lock and command states ----

    void withoutALockFileTheButtonIsOff()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        Open();
        QVERIFY(!form_->ArchiveShared);
        QVERIFY(!W("SpeedButton4")->isEnabled());
        QCOMPARE(W<TStaticText>("StaticText7")->Color(), QColor(0xC0, 0xC0, 0xC0));
        ExpectWritable(true);
    }

    void aTakenLockAsksBeforeForcing()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        QVERIFY(WriteTestFile(Root() + QStringLiteral("/NetLock.CTL"), "1\r\n"));
        Open();
        ExpectWritable(false);
        prompt_.boxAnswers = {BoxAnswer::No};
        Click("SpeedButton4");
        QCOMPARE(prompt_.shown.size(), size_t(1));
        QCOMPARE(prompt_.shown[0].caption, QStringLiteral("共有スペースへの書込権限取得"));
        QCOMPARE(prompt_.shown[0].buttons, BoxButtons::YesNo);
        QVERIFY(prompt_.shown[0].text.startsWith(QStringLiteral("既に他の人が書込モードで使用中です。\n強制的に書込モードにしますか？\n")));
        QVERIFY(!form_->LockHeld);
        ExpectWritable(false);
        prompt_.boxAnswers = {BoxAnswer::Yes};
        Click("SpeedButton4");
        QVERIFY(form_->LockHeld);
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/NetLock.CTL")).left(3), QByteArray("1\r\n"));
        QCOMPARE(W<TStaticText>("StaticText7")->Color(), QColor(0, 0, 255));
        ExpectWritable(true);
        // pressing again gives it back
        Click("SpeedButton4");
        QVERIFY(!form_->LockHeld);
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/NetLock.CTL")), QByteArray("0\r\n"));
        QCOMPARE(W<TStaticText>("StaticText7")->Color(), QColor(0xC0, 0xC0, 0xC0));
        ExpectWritable(false);
    }

    void anEmptyLockFileCountsAsTaken()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        QVERIFY(WriteTestFile(Root() + QStringLiteral("/NetLock.CTL"), ""));
        Open();
        prompt_.boxAnswers = {BoxAnswer::No};
        Click("SpeedButton4");
        QCOMPARE(prompt_.shown.size(), size_t(1));
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/NetLock.CTL")), QByteArray(""));
    }

    void closingWhileHoldingTheLockFreesIt()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        QVERIFY(WriteTestFile(Root() + QStringLiteral("/NetLock.CTL"), "0\r\n"));
        Open();
        Click("SpeedButton4");
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/NetLock.CTL")).left(3), QByteArray("1\r\n"));
        form_->close();
        form_.reset();
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/NetLock.CTL")), QByteArray("0\r\n"));
    }

    void optionsSwitchSharingOnAndOff()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        Open();
        auto choose = [this](int item) {
            prompt_.modalHandlers.push_back([item](QDialog& d) {
                auto* radio = d.findChild<QRadioButton*>(QStringLiteral("RadioGroup9_Item%1").arg(item));
                if (!radio)
                    return int(QDialog::Rejected);
                radio->click();
                d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
                return d.result();
            });
        };
        choose(1);
        Click("MenuSelect2");
        QVERIFY(form_->ArchiveShared);
        QCOMPARE(ReadBytes(Root() + QStringLiteral("/NetLock.CTL")), QByteArray("0\r\n"));
        QVERIFY(W("SpeedButton4")->isEnabled());
        ExpectWritable(false);
        // the same choice again changes nothing
        choose(1);
        Click("MenuSelect2");
        QVERIFY(form_->ArchiveShared);
        // take the lock, then switch sharing off: the hold ends with it
        Click("SpeedButton4");
        QVERIFY(form_->LockHeld);
        choose(0);
        Click("MenuSelect2");
        QVERIFY(!form_->ArchiveShared);
        QVERIFY(!form_->LockHeld);
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/NetLock.CTL")));
        QVERIFY(!W("SpeedButton4")->isEnabled());
        QCOMPARE(W<TStaticText>("StaticText7")->Color(), QColor(0xC0, 0xC0, 0xC0));
        ExpectWritable(true);
        form_.reset();
        // so the next start is not shared again
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/NetLock.CTL")));
    }

    void optionsCancelChangesNothing()
    {
        MakePages(Root(), QStringLiteral("A"), 1);
        Open();
        const QString kfx = AppSettingsStore().value(QStringLiteral("KFX")).toString();
        prompt_.modalHandlers.push_back([](QDialog& d) {
            if (auto* r = d.findChild<QRadioButton*>(QStringLiteral("RadioGroup9_Item1")))
                r->click();
            if (auto* e = d.findChild<QLineEdit*>(QStringLiteral("Edit1")))
                e->setText(QStringLiteral("1234"));
            return int(QDialog::Rejected);
        });
        Click("MenuSelect2");
        QVERIFY(!form_->ArchiveShared);
        QVERIFY(!QFileInfo::exists(Root() + QStringLiteral("/NetLock.CTL")));
        QCOMPARE(AppSettings().KFX, 640);
        QCOMPARE(AppSettingsStore().value(QStringLiteral("KFX")).toString(), kfx);
    }
};

TOLVANE_UI_TEST(BrowseTest);

#include "tst_Browse.moc"
