// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as built: controls by name with captions, hints and sizes,
// start-up steps, the version window, help, the mode switch, exceptions in
// handlers, and the single-instance guard of the real program.

#include "tests/ui/UiTestMain.h"

#include "core/Settings.h"
#include "widgets/Controls.h"
#include "ui/TForm1.h"
#include "widgets/Handlers.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QFontInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace {

QString TextOf(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* p = qobject_cast<TPanel*>(w))
        return p->Caption();
    return {};
}

struct ControlRow {
    const char* name;
    const char* caption;
    const char* hint;  // nullptr: no hint
};

const ControlRow kControls[] = {
    {"MenuSelect2", "設定", "動作全般についての各種設定を行います"},
    {"MenuSelect3", "ヘルプ", "操作マニュアルを表示します"},
    {"MenuSelect4", "終了", "プログラムを終了します"},
    {"MenuSelect1", "ﾊﾞｰｼﾞｮﾝ", "本ソフトのバージョンを表示します"},
    {"SpeedButton4", "共有書込", "共有設定がされている場合、書込権限を取得します"},
    {"SpeedButton11", "分類作成", "新しい分類を作成します"},
    {"SpeedButton12", "名称変更", "選択されている分類の名前を変更します"},
    {"SpeedButton13", "分類削除", "選択している分類を削除します"},
    {"Menu01", "表示", "クリックしたページを全画面で表示します"},
    {"Menu02", "印刷", "クリックしたページを印刷します"},
    {"Menu03", "削除", "クリックしたページを完全に削除します"},
    {"Menu09", "分類変更", "クリックしたページを他の分類へ移動します"},
    {"SpeedButton1", "ｺﾋﾟｰ作成", "クリックしたページの複製を作成します"},
    {"SpeedButton3", "再編集", "クリックしたページを再編集します"},
    {"Menu06", "ｽｷｬﾅ選択", "使用するスキャナを選択します"},
    {"Menu07", "ｽｷｬﾅ読込", "スキャナから読みこんだ画像を新規ページとして追加します"},
    {"SpeedButton2", "一発ｽｷｬﾅ",
     "スキャナから読みこんだ画像を新規ページとして追加します（スキャナ設定画面を経由しません）"},
    {"Menu08", "ﾌｧｲﾙ読込", "画像ファイルを新規ページとして取り込みます"},
    {"Menu04", "前へ", "クリックしたページの表示順序を前に移動します"},
    {"Menu05", "後へ", "クリックしたページの表示順序を後ろに移動します"},
    {"Label4", "画像処理", nullptr},
    {"ManAutoSW", "自動", "画像処理方法を切り替えます"},
    {"Panel4", "ｼｽﾃﾑﾒﾆｭｰ", nullptr},
    {"Panel6", "分　　類", nullptr},
    {"Panel7", "ページ操作", nullptr},
    {"StaticText1", "総ページ数", nullptr},
    {"StaticText3", "チェックページ数", nullptr},
    {"StaticText5", "クリックされたページ", nullptr},
};

void ResetSettings()
{
    AppSettings() = Settings{};
    AppSettingsStore().clear();
    AppSettingsStore().sync();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir root_;
    ScriptedPrompt prompt_;

    std::unique_ptr<TForm1> NewForm() { return std::make_unique<TForm1>(prompt_, root_.path()); }

private slots:
    void init()
    {
        prompt_.Clear();
        ResetSettings();
    }

    void controlsCarryCaptionsAndHints()
    {
        auto form = NewForm();
        QCOMPARE(form->windowTitle(), QStringLiteral("Tolvane"));
        for (const ControlRow& row : kControls) {
            auto* w = form->findChild<QWidget*>(QLatin1String(row.name));
            QVERIFY2(w, row.name);
            QCOMPARE(TextOf(w), QString::fromUtf8(row.caption));
            if (row.hint) {
                // Stored as short text + "|", shown as the short text.
                QCOMPARE(w->property("hint").toString(), QString::fromUtf8(row.hint) + u'|');
                QCOMPARE(w->toolTip(), QString::fromUtf8(row.hint));
            }
        }
        auto* list = form->findChild<QListWidget*>(QStringLiteral("ListBox"));
        QVERIFY(list);
        QCOMPARE(list->toolTip(), QStringLiteral("表示する分類を選択します"));
        for (const char* name : {"StaticText7", "StaticText2", "StaticText4", "StaticText6", "SpeedButton18",
                                 "SpeedButton19", "SpeedButton20", "SpeedButton21", "Panel002", "Panel003",
                                 "Panel5", "Panel8", "Panel9", "Panel10"})
            QVERIFY2(form->findChild<QWidget*>(QLatin1String(name)), name);
    }

    void layoutFollowsTheForm()
    {
        auto form = NewForm();
        form->show();
        QCOMPARE(form->size(), QSize(694, 478));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->findChild<QWidget*>(QStringLiteral("Panel002"))->height(), 137);
        QCOMPARE(form->findChild<QWidget*>(QStringLiteral("Panel5"))->height(), 26);
        QCOMPARE(form->findChild<QWidget*>(QStringLiteral("StaticText7"))->size(), QSize(16, 19));
        const int lefts[4] = {4, 176, 348, 520};
        for (int s = 0; s < 4; ++s) {
            const auto& slot = form->SlotAt(s);
            QCOMPARE(slot.panel->objectName(), QStringLiteral("Panel%1").arg(s));
            QCOMPARE(slot.panel->geometry(), QRect(lefts[s], 4, 169, 305));
            QCOMPARE(slot.image->objectName(), QStringLiteral("Image%1").arg(s));
            QCOMPARE(slot.image->size(), QSize(160, 201));
            QVERIFY(slot.image->Center());
            QCOMPARE(slot.memo->objectName(), QStringLiteral("Memo%1").arg(s));
            QCOMPARE(slot.memo->size(), QSize(161, 77));
            QCOMPARE(slot.memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QCOMPARE(slot.check->objectName(), QStringLiteral("CheckBox%1").arg(s));
            QCOMPARE(slot.check->size(), QSize(17, 13));
            QVERIFY(slot.check->isHidden());
            QCOMPARE(slot.label->objectName(), QStringLiteral("Label%1").arg(s));
            QVERIFY(slot.label->alignment() & Qt::AlignRight);
        }
        QVERIFY(form->findChild<QWidget*>(QStringLiteral("StaticText3"))->isHidden());
        QVERIFY(form->findChild<QWidget*>(QStringLiteral("StaticText4"))->isHidden());
    }

    void japaneseFontsAreServedByIpaGothic()
    {
        auto form = NewForm();
        QCOMPARE(form->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(form->font().pixelSize(), 12);
        QCOMPARE(QFontInfo(form->font()).family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(QFontInfo(form->SlotAt(0).memo->font()).family(), QStringLiteral("IPAGothic"));
        QCOMPARE(form->findChild<QWidget*>(QStringLiteral("Panel003"))->font().pixelSize(), 19);
    }

    void popupMenuHoldsThePageCommands()
    {
        auto form = NewForm();
        QMenu* menu = form->PopupMenu();
        QVERIFY(menu);
        QCOMPARE(menu->objectName(), QStringLiteral("PopupMenu"));
        QStringList names, captions;
        for (QAction* a : menu->actions()) {
            names << a->objectName();
            captions << a->text();
        }
        QCOMPARE(names, (QStringList{"N1", "Print1", "Delete1", "N5", "N6", "N7", "N2"}));
        QCOMPARE(captions, (QStringList{"全画面表示", "印刷", "削除", "分類変更", "コピー作成", "再編集", "順番変更"}));
        QMenu* order = menu->actions().last()->menu();
        QVERIFY(order);
        QCOMPARE(order->actions().size(), 2);
        QCOMPARE(order->actions()[0]->objectName(), QStringLiteral("N3"));
        QCOMPARE(order->actions()[0]->text(), QStringLiteral("前へ"));
        QCOMPARE(order->actions()[1]->objectName(), QStringLiteral("N4"));
        QCOMPARE(order->actions()[1]->text(), QStringLiteral("後へ"));
    }

    void versionWindowShowsProductAndVersion()
    {
        auto form = NewForm();
        QString title;
        QStringList texts;
        bool hasOk = false;
        prompt_.modalHandlers.push_back([&](QDialog& d) {
            title = d.windowTitle();
            for (QLabel* l : d.findChildren<QLabel*>())
                texts << l->text();
            for (QPushButton* b : d.findChildren<QPushButton*>())
                hasOk = hasOk || b->text() == QStringLiteral("OK");
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(form->findChild<QToolButton*>(QStringLiteral("MenuSelect1")), Qt::LeftButton);
        QCOMPARE(prompt_.modalHandlers.size(), size_t(0));
        QCOMPARE(title, QStringLiteral("バージョン情報"));
        QVERIFY(texts.contains(QStringLiteral("Version 1.02A")));
        QVERIFY(texts.contains(QStringLiteral("Tolvane")));
        QVERIFY(texts.contains(QStringLiteral("GNU GPL 3.0 以降のフリーソフトウェアです")));
        QVERIFY(hasOk);
    }

    void firstShowLoadsSettingsAndListsCategories()
    {
        QTemporaryDir root;
        QVERIFY(MakeCategory(root.path(), QStringLiteral("領収書")));
        QVERIFY(MakeCategory(root.path(), QStringLiteral("Receipts")));
        QVERIFY(MakeCategory(root.path(), QStringLiteral(".hidden")));
        TForm1 form(prompt_, root.path() + QStringLiteral("/"));
        QCOMPARE(form.ArchiveRoot, root.path());
        QVERIFY(AppSettingsStore().value(QStringLiteral("KFX")).toString().isEmpty());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // A first run writes every default back.
        QCOMPARE(AppSettingsStore().value(QStringLiteral("KFX")).toString(), QStringLiteral("640"));
        QCOMPARE(AppSettings().ScanReso, 150);
        auto* list = form.findChild<QListWidget*>(QStringLiteral("ListBox"));
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names << list->item(i)->text();
        names.sort();
        QCOMPARE(names, (QStringList{"Receipts", "領収書"}));
        QCOMPARE(list->currentRow(), 0);
    }

    void emptyArchiveStartsWithAnEmptyList()
    {
        QTemporaryDir root;
        TForm1 form(prompt_, root.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* list = form.findChild<QListWidget*>(QStringLiteral("ListBox"));
        QCOMPARE(list->count(), 0);
        QCOMPARE(list->currentRow(), -1);
        QVERIFY(prompt_.shown.empty());
    }

    void modeSwitchTogglesAndSavesEverything()
    {
        auto form = NewForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        auto* sw = form->findChild<TStaticText*>(QStringLiteral("ManAutoSW"));
        QCOMPARE(sw->text(), QStringLiteral("自動"));
        QCOMPARE(sw->Color(), QColor(Qt::yellow));
        AppSettingsStore().setValue(QStringLiteral("KFY"), QStringLiteral("999"));  // overwritten by the save
        AppSettings().KFY = 480;
        QTest::mouseClick(sw, Qt::LeftButton);
        QCOMPARE(sw->text(), QStringLiteral("手動"));
        QCOMPARE(sw->Color(), QColor(Qt::cyan));
        QCOMPARE(AppSettingsStore().value(QStringLiteral("CaptureMode")).toString(), QStringLiteral("1"));
        QCOMPARE(AppSettingsStore().value(QStringLiteral("KFY")).toString(), QStringLiteral("480"));
        QTest::mouseClick(sw, Qt::LeftButton);
        QCOMPARE(sw->text(), QStringLiteral("自動"));
        QCOMPARE(sw->Color(), QColor(Qt::yellow));
        QCOMPARE(AppSettingsStore().value(QStringLiteral("CaptureMode")).toString(), QStringLiteral("0"));
    }

    void helpOpensTheDocumentBesideTheProgram()
    {
        auto form = NewForm();
        QTest::mouseClick(form->findChild<QToolButton*>(QStringLiteral("MenuSelect3")), Qt::LeftButton);
        QCOMPARE(prompt_.shown.size(), size_t(1));
        QCOMPARE(prompt_.shown[0].kind, ScriptedPrompt::Shown::Document);
        QCOMPARE(prompt_.shown[0].text, root_.path() + QStringLiteral("/Tolvane.html"));
    }

    void quitClosesTheWindow()
    {
        auto form = NewForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTest::mouseClick(form->findChild<QToolButton*>(QStringLiteral("MenuSelect4")), Qt::LeftButton);
        QVERIFY(!form->isVisible());
    }

    void exceptionInAHandlerIsShownAndTheProgramGoesOn()
    {
        AppPrompt().Clear();
        QPushButton button;
        int after = 0;
        // Through the handler boundary, as every handler of the program is
        // connected: the exception stops there, before Qt's event dispatch.
        ConnectHandler(nullptr, &button, &QPushButton::clicked, &button,
                       [] { throw std::runtime_error("disk on fire"); });
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(AppPrompt().shown.size(), size_t(1));
        QCOMPARE(AppPrompt().shown[0].kind, ScriptedPrompt::Shown::Exception);
        QCOMPARE(AppPrompt().shown[0].text, QStringLiteral("disk on fire"));
        // Events keep flowing afterwards.
        QPushButton other;
        QObject::connect(&other, &QPushButton::clicked, [&] { ++after; });
        other.show();
        QTest::mouseClick(&other, Qt::LeftButton);
        QCOMPARE(after, 1);
    }
};

// The real program, started as a user would: a second copy ends at once with
// exit code 1, and a copy that was killed does not block the next start.
class SingleInstanceTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;

    QProcessEnvironment Env() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        return env;
    }

    QString Archive() const { return dir_.filePath(QStringLiteral("archive")); }
    QString Exe() const { return Archive() + QStringLiteral("/tolvane"); }
    QString LockPath() const { return dir_.filePath(QStringLiteral("run/KORVATOLVANE.lock")); }

    std::unique_ptr<QProcess> Start(const QStringList& files = {})
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(Env());
        p->setWorkingDirectory(Archive());
        p->setProgram(Exe());
        p->setArguments(files);
        p->start();
        return p;
    }

    // Waits until the lock file names the given process.
    bool WaitForHolder(qint64 pid)
    {
        for (int i = 0; i < 200; ++i) {
            QFile f(LockPath());
            if (f.open(QIODevice::ReadOnly) && f.readLine().trimmed().toLongLong() == pid)
                return true;
            QTest::qWait(50);
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(dir_.filePath(QStringLiteral("run"))));
        QFile(dir_.filePath(QStringLiteral("run"))).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                   | QFileDevice::ExeOwner);
        QVERIFY(QDir().mkpath(Archive()));
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_EXE), Exe()));
    }

    void secondCopyExitsWithOne()
    {
        auto first = Start();
        QVERIFY(first->waitForStarted());
        QVERIFY(WaitForHolder(first->processId()));

        auto second = Start();
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 1);
        QVERIFY(second->readAllStandardOutput().isEmpty());
        QCOMPARE(first->state(), QProcess::Running);
        // With files, the second copy hands them to the first before it ends
        // (it says so on its error output when it cannot).
        auto opener = Start({QStringLiteral("page.jpg")});
        QVERIFY(opener->waitForFinished(10000));
        QCOMPARE(opener->exitCode(), 1);
        QVERIFY(!opener->readAllStandardError().contains("did not take"));

        // The first copy crashes: the next start is not blocked, and its
        // socket, left behind, is taken over.
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        QVERIFY(QFileInfo::exists(dir_.filePath(QStringLiteral("run/KORVATOLVANE.socket"))));
        auto third = Start();
        QVERIFY(third->waitForStarted());
        QVERIFY(WaitForHolder(third->processId()));
        QCOMPARE(third->state(), QProcess::Running);
        auto nextOpener = Start({QStringLiteral("page.jpg")});
        QVERIFY(nextOpener->waitForFinished(10000));
        QCOMPARE(nextOpener->exitCode(), 1);
        QVERIFY(!nextOpener->readAllStandardError().contains("did not take"));
        third->kill();
        QVERIFY(third->waitForFinished(5000));
    }
};

TOLVANE_UI_TEST(MainWindowTest);
TOLVANE_UI_TEST(SingleInstanceTest);

#include "tst_MainWindow.moc"
