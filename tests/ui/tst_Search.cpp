// SPDX-License-Identifier: GPL-3.0-or-later
// The search window from the main window: results across categories as the
// user types, a chosen hit shown as the clicked page of its category, an
// opened hit full screen with its words outlined, a hit whose page is gone,
// and queries that are no ordinary text.

#include "tests/ui/UiTestMain.h"

#include "core/ArchiveFiles.h"
#include "core/PageText.h"
#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "ui/TSearchForm.h"
#include "viewer/TViewerForm.h"
#include "widgets/Controls.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTest>
#include <memory>

class SearchTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> root_;
    std::unique_ptr<QTemporaryDir> cache_;
    ScriptedPrompt prompt_;
    std::unique_ptr<TForm1> form_;

    QString Cat(const QString& name, const QString& rel) const { return root_->path() + u'/' + name + u'/' + rel; }

    // `count` pages, each with a picture and a thumbnail; memos as given.
    void MakePages(const QString& name, int count, const QMap<int, QString>& memos)
    {
        QVERIFY(MakeCategory(root_->path(), name));
        QByteArray list = QByteArray::number(count).rightJustified(8, '0') + "\r\n";
        for (int i = 0; i < count; ++i) {
            const QString number = QStringLiteral("%1").arg(i + 1, 8, 10, QLatin1Char('0'));
            QVERIFY(ImgKitJpegFileSave(Cat(name, QStringLiteral("Image/%1.jpg").arg(number)), CreateDib(200, 280, 3), 90));
            QVERIFY(ImgKitJpegFileSave(Cat(name, QStringLiteral("Thumb/%1.jpg").arg(number)), CreateDib(40, 56, 3), 90));
            if (memos.contains(i))
                QVERIFY(WriteTestFile(Cat(name, QStringLiteral("Text/%1.txt").arg(number)), EncodeCp932(memos[i])));
            list += number.toLatin1() + ".jpg\r\n";
        }
        QVERIFY(WriteTestFile(Cat(name, QStringLiteral("FileList.txt")), list));
    }

    TSearchForm* Search() const { return form_->SearchWindow(); }
    QLineEdit* Query() const { return Search()->findChild<QLineEdit*>(QStringLiteral("Edit1")); }
    QListWidget* Results() const { return Search()->findChild<QListWidget*>(QStringLiteral("ListBox1")); }
    QString Status() const { return Search()->findChild<QLabel*>(QStringLiteral("Label2"))->text(); }
    QString CurrentCategory() const
    {
        auto* item = form_->findChild<QListWidget*>(QStringLiteral("ListBox"))->currentItem();
        return item ? item->text() : QString();
    }

    // Types a new query and waits for its answer.
    void Ask(const QString& query)
    {
        // Typed key by key where the keyboard can (each key a new query), else put in.
        Query()->clear();
        bool latin = true;
        for (QChar c : query)
            latin = latin && c.unicode() < 0x80;
        if (latin)
            QTest::keyClicks(Query(), query);
        else
            Query()->setText(query);
        QTRY_VERIFY_WITH_TIMEOUT(!Status().isEmpty() && !Status().startsWith(QStringLiteral("検索")), 20000);
    }

    const PageWord kTotal{1, QRect(40, 60, 50, 14), 90, QStringLiteral("49,000円")};

private slots:
    void init()
    {
        root_ = std::make_unique<QTemporaryDir>();
        cache_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CACHE_HOME", cache_->path().toUtf8());
        MakePages(QStringLiteral("Invoices"), 10, {{6, QStringLiteral("請求書 ＩＮＶ-2024")}});
        MakePages(QStringLiteral("Other"), 2, {{0, QStringLiteral("inv note")}});
        PageText words;
        words.width = 200;
        words.height = 280;
        words.source = QStringLiteral("ocr:test");
        words.words = {{0, QRect(10, 10, 60, 14), 90, QStringLiteral("合計")}, kTotal};
        QVERIFY(QDir().mkpath(Cat(QStringLiteral("Invoices"), kWordsFolder)));
        QVERIFY(WritePageText(Cat(QStringLiteral("Invoices"), QStringLiteral("Words/00000003.tsv")), words));
        prompt_.Clear();
        AppSettings() = DefaultSettings();
        AppSettingsStore().clear();
        form_ = std::make_unique<TForm1>(prompt_, root_->path());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QTest::keySequence(form_.get(), QKeySequence::Find);
        QVERIFY(Search() && Search()->isVisible());
    }

    void cleanup()
    {
        form_.reset();
        QVERIFY2(prompt_.unanswered == 0, "a question was asked that the test did not expect");
    }

    void resultsComeAcrossCategoriesAndChoosingShowsThePage()
    {
        Ask(QStringLiteral("ｉｎｖ"));
        QCOMPARE(Results()->count(), 2);
        QCOMPARE(Status(), QStringLiteral("2件"));
        QCOMPARE(Search()->Hits()[0].category, QStringLiteral("Invoices"));
        QCOMPARE(Search()->Hits()[1].category, QStringLiteral("Other"));
        QVERIFY(Results()->item(0)->text().contains(QStringLiteral("Page 7")));

        Results()->setCurrentRow(1);
        QCOMPARE(CurrentCategory(), QStringLiteral("Other"));
        QCOMPARE(form_->Grid.K, 0);
        Results()->setCurrentRow(0);
        QCOMPARE(CurrentCategory(), QStringLiteral("Invoices"));
        QCOMPARE(form_->Grid.K, 6);
        QCOMPARE(form_->Grid.T, 4);  // the page is on screen, the grid full
        QVERIFY(prompt_.shown.empty());
    }

    void anOpenedHitOutlinesItsWords()
    {
        Ask(QStringLiteral("49,000"));
        QCOMPARE(Results()->count(), 1);
        std::vector<QRect> outlined{QRect(-1, -1, 1, 1)};
        prompt_.modalHandlers.push_back([&](QDialog& d) {
            auto& v = static_cast<TViewerForm&>(d);
            outlined = v.findChild<TImage*>(QStringLiteral("Image"))->Outlines();
            return int(QDialog::Rejected);
        });
        QTest::keyClick(Query(), Qt::Key_Return);
        QCOMPARE(form_->Grid.K, 2);
        QCOMPARE(outlined, (std::vector<QRect>{kTotal.box}));
    }

    void aHitWhosePageIsGoneSaysSo()
    {
        Ask(QStringLiteral("note"));
        QCOMPARE(Results()->count(), 1);
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Other"), QStringLiteral("FileList.txt")), "00000002\r\n00000002.jpg\r\n"));
        Results()->setCurrentRow(0);
        QCOMPARE(prompt_.Texts(), std::vector<QString>{QStringLiteral("このページは移動または削除されています")});
        // Searched again, the page is no longer found.
        Ask(QStringLiteral("note "));
        Ask(QStringLiteral("note"));
        QCOMPARE(Status(), QStringLiteral("見つかりません"));
    }

    void anyQueryIsTakenAsText()
    {
        const QString queries[] = {QStringLiteral(".*"), QStringLiteral("(inv|x)[a-z]+\\"), QString(QChar(0xd800)),
                                   QString(10000, u'請')};
        for (const QString& q : queries) {
            Ask(q);
            QCOMPARE(Status(), QStringLiteral("見つかりません"));
        }
    }
};

TOLVANE_UI_TEST(SearchTest);
#include "tst_Search.moc"
