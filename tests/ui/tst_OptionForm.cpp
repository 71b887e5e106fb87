// SPDX-License-Identifier: GPL-3.0-or-later
// The options dialog as the user meets it: every control with its texts and
// place, the record and shared state it opens with, what OK stores (record
// and store alike), the paper-size presets, and Cancel leaving everything as
// it was. Also the radio group control the dialog is built from.

#include "tests/ui/UiTestMain.h"

#include "core/Settings.h"
#include "ui/TOptionForm.h"

#include <QCheckBox>
#include "widgets/TRadioGroup.h"

#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <functional>

namespace {

void ResetSettings()
{
    AppSettings() = Settings{};
    AppSettingsStore().clear();
    AppSettingsStore().sync();
}

const SettingDef* Def(const QString& name)
{
    for (const SettingDef& def : kSettingDefs)
        if (QLatin1String(def.name) == name)
            return &def;
    return nullptr;
}

// A record with a value of its own in every field, none of them a default
// and every choice inside its group.
Settings SampleRecord()
{
    Settings s;
    s.KMode = 5;
    s.KFX = 1600;
    s.KFY = 1200;
    s.JpegMode = 2;
    s.ResizeModeA = 1;
    s.ResizeModeT = 1;
    s.AutoMode = 2;
    s.WhiteMode = 1;
    s.SaveFormat = 2;
    s.ViewerToolBarX = 11;
    s.ViewerToolBarY = 12;
    s.CaptureMode = 1;
    s.EditToolBarX = 13;
    s.EditToolBarY = 14;
    s.ColorPreviewX = 15;
    s.ColorPreviewY = 16;
    s.ScanMode = 3;
    s.ScanTop = 5;
    s.ScanBottom = 250;
    s.ScanLeft = 7;
    s.ScanRight = 170;
    s.ScanReso = 300;
    return s;
}

// The first value of the store that does not hold the record's value as
// decimal text, described; empty when all 22 match.
QString StoreMismatch(const Settings& s)
{
    for (const SettingDef& def : kSettingDefs) {
        const QString stored = AppSettingsStore().value(QLatin1String(def.name)).toString();
        const QString want = QString::number(s.*def.member);
        if (stored != want)
            return QStringLiteral("%1: stored \"%2\", record %3").arg(QLatin1String(def.name), stored, want);
    }
    return {};
}

// The first field in which two records differ, described; empty when equal.
QString RecordMismatch(const Settings& got, const Settings& want)
{
    for (const SettingDef& def : kSettingDefs)
        if (got.*def.member != want.*def.member)
            return QStringLiteral("%1: %2, wanted %3")
                .arg(QLatin1String(def.name))
                .arg(got.*def.member)
                .arg(want.*def.member);
    return {};
}

// Puts a record into the program's record and store, as a loaded one would be.
void UseRecord(const Settings& s)
{
    AppSettings() = s;
    SaveSettings(s, AppSettingsStore());
}

struct GroupRow {
    const char* group;
    const char* setting;
    int count;
};

// Each radio group with the setting it shows and its number of items.
const GroupRow kGroups[] = {
    {"RadioGroup1", "KMode", 8},       {"RadioGroup2", "JpegMode", 3},  {"RadioGroup3", "ResizeModeA", 2},
    {"RadioGroup4", "ResizeModeT", 2}, {"RadioGroup5", "AutoMode", 3},  {"RadioGroup6", "WhiteMode", 2},
    {"RadioGroup7", "SaveFormat", 3},  {"RadioGroup8", "CaptureMode", 2}, {"RadioGroup10", "ScanMode", 4},
};

// Each edit with the setting it shows.
const std::pair<const char*, const char*> kEdits[] = {
    {"Edit1", "KFX"},       {"Edit2", "KFY"},      {"Edit3", "ScanTop"},   {"Edit4", "ScanBottom"},
    {"Edit5", "ScanLeft"},  {"Edit6", "ScanRight"}, {"Edit7", "ScanReso"},
};

// The tab page a control lives on, nullptr for the buttons below the tabs.
QWidget* TabOf(QWidget* w)
{
    for (QWidget* p = w; p; p = p->parentWidget())
        if (p->objectName().startsWith(QLatin1String("TabSheet")))
            return p;
    return nullptr;
}

QTabWidget* Pages(QDialog& d)
{
    return d.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
}

// Clicks the tab that holds the control, as the user would to reach it.
void BringForward(QDialog& d, QWidget* w)
{
    QWidget* page = TabOf(w);
    if (!page)
        return;
    QTabWidget* pages = Pages(d);
    const int index = pages->indexOf(page);
    QVERIFY(index >= 0);
    if (pages->currentIndex() != index)
        QTest::mouseClick(pages->tabBar(), Qt::LeftButton, {}, pages->tabBar()->tabRect(index).center());
    QCOMPARE(pages->currentIndex(), index);
}

void ClickItem(QDialog& d, const char* group, int item)
{
    const QString name = QLatin1String(group) + QStringLiteral("_Item") + QString::number(item);
    auto* button = d.findChild<QRadioButton*>(name);
    QVERIFY2(button, qPrintable(name));
    BringForward(d, button);
    QVERIFY(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(button->isChecked());
}

void Type(QDialog& d, const char* editName, const QString& text)
{
    auto* edit = d.findChild<QLineEdit*>(QLatin1String(editName));
    QVERIFY2(edit, editName);
    BringForward(d, edit);
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    for (QChar ch : text) {
        if (ch.unicode() < 0x80) {
            QTest::keyClick(edit, char(ch.unicode()));
        } else {
            // Full-width characters arrive through the input method.
            QInputMethodEvent commit;
            commit.setCommitString(QString(ch));
            QApplication::sendEvent(edit, &commit);
        }
    }
    QCOMPARE(edit->text(), text);
}

void ShowTab(QDialog& d, const char* tabName)
{
    auto* page = d.findChild<QWidget*>(QLatin1String(tabName));
    QVERIFY2(page, tabName);
    BringForward(d, page);
}

void Press(QDialog& d, const char* buttonName)
{
    auto* button = d.findChild<QAbstractButton*>(QLatin1String(buttonName));
    QVERIFY2(button, buttonName);
    BringForward(d, button);
    QTest::mouseClick(button, Qt::LeftButton);
}

QString EditText(QDialog& d, const char* editName)
{
    auto* edit = d.findChild<QLineEdit*>(QLatin1String(editName));
    return edit ? edit->text() : QStringLiteral("<no %1>").arg(QLatin1String(editName));
}

TRadioGroup* Group(QDialog& d, const char* name)
{
    return d.findChild<TRadioGroup*>(QLatin1String(name));
}

// Shows the dialog the way the main window does, through the prompt, lets the
// user act on it, and returns the result; −1 when the user left it open.
int Run(TOptionForm& form, const std::function<void(TOptionForm&)>& user)
{
    ScriptedPrompt prompt;
    prompt.modalHandlers.push_back([&](QDialog& d) {
        d.show();
        if (!QTest::qWaitForWindowExposed(&d))
            return -1;
        user(form);
        return d.isVisible() ? -1 : d.result();
    });
    return prompt.ExecModal(form);
}

const QColor kNavy(0, 0, 128);

}  // namespace

class OptionFormTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetSettings(); }

    void controlsCarryTheirTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("columns");  // radio groups only, else 0
        auto row = [](const char* name, const char* text, QStringList items = {}, int columns = 0) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text) << items << columns;
        };
        row("TabSheet3", "画像取込時の動作");
        row("TabSheet2", "自動画像処理");
        row("TabSheet1", "画像保存形式");
        row("TabSheet4", "共有設定");
        row("TabSheet5", "一発スキャン");
        row("Button1", "ＯＫ");
        row("Button2", "キャンセル");
        row("RadioGroup8", "スキャナ・ファイルからの画像取込時の動作方法",
            {"自動画像処理を行う", "マニュアルでの画像処理を行う"}, 1);
        const QStringList quality{"高画質処理（処理時間長い）", "通常処理（処理時間短い）"};
        row("RadioGroup3", "全画面表示用画像の処理方法", quality, 2);
        row("RadioGroup4", "縮小表示用画像の処理方法", quality, 2);
        row("RadioGroup5", "自動補正",
            {"明るさ・コントラスト・色バランスの自動補正", "明るさ・コントラストの自動補正", "自動補正は行わない"}, 1);
        row("RadioGroup6", "まっしろけフィルタ処理", {"行う", "行わない"}, 2);
        row("RadioGroup1", "保存する画像の解像度",
            {"横幅を1024ドットに合わせる（必要に応じて縦スクロール表示）",
             "w1024*h768に収める（必要に応じて回転し、１画面に全体を収める）",
             "横幅を800ドットに合わせる（必要に応じて縦スクロール表示）",
             "w800*h600に収める（必要に応じて回転し、１画面に全体を収める）",
             "横幅を1240ドットに合わせる（必要に応じて縦スクロール表示）",
             "w1240*h1024に収める（必要に応じて回転し、１画面に全体を収める）",
             "横幅を設定した大きさに合わせる（必要に応じて縦スクロール表示）：A",
             "縦横を設定した大きさに収める（必要に応じて回転し、１画面に全体を収める）：B"},
            1);
        row("GroupBox1", "上記ABの場合の画像サイズ（縦横とも登録要）");
        row("Label2", "横（画像の幅）");
        row("Label1", "縦（画像の高さ）");
        row("RadioGroup7", "保存する画像の形式", {"JPEG", "BMP", "TIFF"}, 3);
        row("RadioGroup2", "JPEG保存する場合の画像圧縮率", {"高画質優先", "バランス", "省サイズ優先"}, 3);
        row("RadioGroup9", "現在開いている Tolvane 環境の共有設定", {"共有しない", "共有する"}, 2);
        row("RadioGroup10", "スキャン読取モード",
            {"１６７０万色フルカラー（２４ビット）", "白黒２値（１ビット）", "白黒グレースケール（８ビット、４ビット）",
             "パレットカラー（８ビット、４ビット）"},
            1);
        row("Label3", "フルカラーを推奨します");
        row("GroupBox3", "解像度");
        row("Label9", "dpi 単位でスキャン解像度を指定");
        row("Label10", "１５０程度を推奨します");
        row("GroupBox2", "スキャン領域");
        row("Label8", "mm 単位でスキャンエリアを指定します");
        row("Label4", "上");
        row("Label5", "下");
        row("Label6", "右");
        row("Label7", "左");
        row("SpeedButton1", "A4");
        row("SpeedButton2", "B5");
        row("SpeedButton3", "A3");
        row("SpeedButton4", "B4");
        row("SpeedButton5", "A5");
        row("SpeedButton6", "B6");
    }

    void controlsCarryTheirTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QStringList, items);
        QFETCH(int, columns);
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        auto* w = form.findChild<QWidget*>(name);
        QVERIFY(w);
        if (name.startsWith(QLatin1String("TabSheet"))) {
            QTabWidget* pages = Pages(form);
            QVERIFY(pages->indexOf(w) >= 0);
            QCOMPARE(pages->tabText(pages->indexOf(w)), text);
        } else if (columns > 0) {
            auto* group = qobject_cast<TRadioGroup*>(w);
            QVERIFY(group);
            QCOMPARE(group->title(), text);
            QCOMPARE(group->Items(), items);
            QCOMPARE(group->Columns(), columns);
            // One radio button per item, named after the group and the index.
            QCOMPARE(group->findChildren<QRadioButton*>().size(), items.size());
            for (int i = 0; i < items.size(); ++i) {
                auto* b = form.findChild<QRadioButton*>(name + QStringLiteral("_Item") + QString::number(i));
                QVERIFY(b);
                QCOMPARE(b->parentWidget(), group);
                QCOMPARE(b->text(), items[i]);
            }
        } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
            QVERIFY(!qobject_cast<TRadioGroup*>(w));
            QCOMPARE(box->title(), text);
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            QCOMPARE(label->text(), text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            QCOMPARE(button->text(), text);
        } else {
            QFAIL("unexpected kind of control");
        }
    }

    void windowLooksAsDesigned()
    {
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.objectName(), QStringLiteral("TOptionForm"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tolvane オプション設定"));
        QCOMPARE(form.size(), QSize(528, 349));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.windowType(), Qt::Tool);
        QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QRect desk = form.screen()->availableGeometry();
        QVERIFY2((form.frameGeometry().center() - desk.center()).manhattanLength() <= 1,
                 qPrintable(QStringLiteral("window at %1,%2").arg(form.x()).arg(form.y())));
        QCOMPARE(form.font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(form.font().pixelSize(), 12);
        QCOMPARE(QFontInfo(form.font()).family(), QStringLiteral("IPAPGothic"));

        auto* ok = form.findChild<QPushButton*>(QStringLiteral("Button1"));
        auto* cancel = form.findChild<QPushButton*>(QStringLiteral("Button2"));
        QVERIFY(ok && cancel);
        QCOMPARE(ok->geometry(), QRect(344, 320, 77, 25));
        QCOMPARE(cancel->geometry(), QRect(432, 320, 77, 25));
        QVERIFY(ok->isDefault());
        QVERIFY(!cancel->isDefault());

        QTabWidget* pages = Pages(form);
        QVERIFY(pages);
        QCOMPARE(pages->geometry(), QRect(16, 20, 493, 289));
        QStringList order;
        for (int i = 0; i < pages->count(); ++i)
            order << pages->widget(i)->objectName();
        QCOMPARE(order, (QStringList{"TabSheet3", "TabSheet2", "TabSheet1", "TabSheet4", "TabSheet5", "TabSheet6"}));
        QCOMPARE(pages->currentIndex(), 0);

        auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
        QVERIFY(memo);
        QVERIFY(memo->isReadOnly());
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->document()->blockCount(), 9);
        QCOMPARE(memo->toPlainText().split(u'\n'),
                 (QStringList{"ネットワーク環境にて、サーバー上に本 Tolvane をセットアッ",
                              "プして、複数のパソコンから利用する場合に本設定を「共有する」に",
                              "します。",
                              "共有に設定すると、ここの Tolvane を開いたときに自動的に「",
                              "書込禁止モード」で起動されます。イメージを登録したい場合など、",
                              "書き込みを行う場合は「共有書込」のボタンをクリックして、書込み権",
                              "限を取得します。",
                              "ただし、既に他の人が書込み権限を取得している場合は、重複して",
                              "書込み権限を取得することはできません。"}));

        for (const char* name : {"Label3", "Label8", "Label9", "Label10"}) {
            auto* l = form.findChild<QLabel*>(QLatin1String(name));
            QVERIFY2(l && l->palette().color(QPalette::WindowText) == kNavy, name);
        }
        for (const char* name : {"Label1", "Label2", "Label4", "Label5", "Label6", "Label7"}) {
            auto* l = form.findChild<QLabel*>(QLatin1String(name));
            QVERIFY2(l && l->palette().color(QPalette::WindowText) != kNavy, name);
        }
        for (const auto& [editName, setting] : kEdits)
            QVERIFY2(form.findChild<QLineEdit*>(QLatin1String(editName)), editName);

        // The presets: 45 × 21, two columns of three, A3 B4 / A4 B5 / A5 B6,
        // all in the scan-area group.
        const char* grid[3][2] = {{"SpeedButton3", "SpeedButton4"},
                                  {"SpeedButton1", "SpeedButton2"},
                                  {"SpeedButton5", "SpeedButton6"}};
        QRect cell[3][2];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 2; ++c) {
                auto* b = form.findChild<QToolButton*>(QLatin1String(grid[r][c]));
                QVERIFY2(b, grid[r][c]);
                QCOMPARE(b->parentWidget()->objectName(), QStringLiteral("GroupBox2"));
                QCOMPARE(b->size(), QSize(45, 21));
                cell[r][c] = b->geometry();
            }
        for (int r = 0; r < 3; ++r) {
            QCOMPARE(cell[r][0].top(), cell[r][1].top());
            QVERIFY(cell[r][0].right() < cell[r][1].left());
            if (r > 0) {
                QCOMPARE(cell[r][0].left(), cell[0][0].left());
                QCOMPARE(cell[r][1].left(), cell[0][1].left());
                QVERIFY(cell[r - 1][0].bottom() < cell[r][0].top());
            }
        }
    }

    // Nothing is cut off or sticks out of its tab: every control lies inside
    // its parent, and texts fit their controls in the dialog's font.
    void everyControlFitsItsTab()
    {
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTabWidget* pages = Pages(form);
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            QWidget* page = pages->widget(i);
            QVERIFY(page->isVisible());
            for (QWidget* w : page->findChildren<QWidget*>()) {
                if (!w->isVisible() || w->parentWidget()->inherits("QAbstractScrollArea")
                    || w->parentWidget()->inherits("QPlainTextEdit"))
                    continue;
                const QString where = w->objectName() + QStringLiteral(" on ") + page->objectName();
                QWidget* parent = w->parentWidget();
                if (parent->objectName().isEmpty())
                    continue;  // parts of compound widgets
                // Inside a frame means below its title too.
                const QRect area = qobject_cast<QGroupBox*>(parent) ? parent->contentsRect() : parent->rect();
                QVERIFY2(area.contains(w->geometry()), qPrintable(where + QStringLiteral(" sticks out")));
                if (auto* b = qobject_cast<QRadioButton*>(w))
                    QVERIFY2(b->width() >= b->sizeHint().width() && b->height() >= b->fontMetrics().height() + 2,
                             qPrintable(where + QStringLiteral(" is cut")));
                else if (auto* b = qobject_cast<QAbstractButton*>(w))
                    QVERIFY2(b->width() >= b->sizeHint().width() && b->height() >= b->sizeHint().height(),
                             qPrintable(where + QStringLiteral(" is cut")));
                if (auto* l = qobject_cast<QLabel*>(w)) {
                    const bool fits = l->wordWrap() ? l->heightForWidth(l->width()) <= l->height()
                                                    : l->sizeHint().width() <= l->width();
                    QVERIFY2(fits, qPrintable(where + QStringLiteral(" is cut")));
                }
                if (auto* box = qobject_cast<QGroupBox*>(w))
                    QVERIFY2(box->fontMetrics().horizontalAdvance(box->title()) + 16 <= box->width(),
                             qPrintable(where + QStringLiteral(" title is cut")));
            }
        }
    }

    void openingShowsTheRecord_data()
    {
        QTest::addColumn<Settings>("record");
        QTest::addColumn<bool>("shared");
        QTest::newRow("defaults, private") << DefaultSettings() << false;
        QTest::newRow("own values, shared") << SampleRecord() << true;
    }

    void openingShowsTheRecord()
    {
        QFETCH(Settings, record);
        QFETCH(bool, shared);
        UseRecord(record);
        TOptionForm form(AppSettings(), AppSettingsStore(), shared);
        for (const GroupRow& g : kGroups) {
            TRadioGroup* group = Group(form, g.group);
            QVERIFY2(group, g.group);
            const int value = record.*Def(QLatin1String(g.setting))->member;
            QCOMPARE(group->ItemIndex(), value);
            for (int i = 0; i < g.count; ++i)
                QCOMPARE(group->Button(i)->isChecked(), i == value);
        }
        for (const auto& [editName, setting] : kEdits)
            QCOMPARE(EditText(form, editName), QString::number(record.*Def(QLatin1String(setting))->member));
        TRadioGroup* sharing = Group(form, "RadioGroup9");
        QCOMPARE(sharing->ItemIndex(), shared ? 1 : 0);
        QVERIFY(sharing->Button(shared ? 1 : 0)->isChecked());
        QCOMPARE(Pages(form)->currentWidget()->objectName(), QStringLiteral("TabSheet3"));
        QCOMPARE(form.ShareChosen(), shared);
    }

    void okWithoutChangesRewritesEverything_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::newRow("private") << false;
        QTest::newRow("shared") << true;
    }

    void okWithoutChangesRewritesEverything()
    {
        QFETCH(bool, shared);
        const Settings record = SampleRecord();
        AppSettings() = record;
        // The store says something else for every value: OK writes them all.
        for (const SettingDef& def : kSettingDefs)
            AppSettingsStore().setValue(QLatin1String(def.name), QStringLiteral("77"));
        TOptionForm form(AppSettings(), AppSettingsStore(), shared);
        QCOMPARE(Run(form, [](TOptionForm& f) { Press(f, "Button1"); }), int(QDialog::Accepted));
        QCOMPARE(RecordMismatch(AppSettings(), record), QString());
        QCOMPARE(StoreMismatch(record), QString());
        QCOMPARE(form.ShareChosen(), shared);
    }

    void chosenItemIsStored_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("item");
        const Settings defaults = DefaultSettings();
        for (const GroupRow& g : kGroups) {
            // The last item, or the first when the last is the default.
            const int current = defaults.*Def(QLatin1String(g.setting))->member;
            const int item = current == g.count - 1 ? 0 : g.count - 1;
            QTest::newRow(g.group) << QString::fromLatin1(g.group) << QString::fromLatin1(g.setting) << item;
        }
    }

    void chosenItemIsStored()
    {
        QFETCH(QString, group);
        QFETCH(QString, setting);
        QFETCH(int, item);
        UseRecord(DefaultSettings());
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        const QByteArray groupName = group.toLatin1();
        QCOMPARE(Run(form,
                     [&](TOptionForm& f) {
                         ClickItem(f, groupName.constData(), item);
                         Press(f, "Button1");
                     }),
                 int(QDialog::Accepted));
        Settings expected = DefaultSettings();
        expected.*Def(setting)->member = item;
        QCOMPARE(RecordMismatch(AppSettings(), expected), QString());
        QCOMPARE(StoreMismatch(expected), QString());
        QCOMPARE(AppSettingsStore().value(setting).toString(), QString::number(item));
    }

    void typedNumberIsStored_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("150dpi") << "Edit7" << "ScanReso" << "150dpi" << 150;
        QTest::newRow("letters") << "Edit7" << "ScanReso" << "abc" << 0;
        QTest::newRow("full-width digits") << "Edit7" << "ScanReso" << "１５０" << 0;
        QTest::newRow("negative width") << "Edit1" << "KFX" << "-5" << -5;
        QTest::newRow("leading blanks") << "Edit2" << "KFY" << "  42" << 42;
        QTest::newRow("plus sign") << "Edit3" << "ScanTop" << "+12" << 12;
        QTest::newRow("emptied") << "Edit4" << "ScanBottom" << "" << 0;
        QTest::newRow("decimals cut") << "Edit5" << "ScanLeft" << "3.9" << 3;
        QTest::newRow("leading zero") << "Edit6" << "ScanRight" << "0297" << 297;
    }

    void typedNumberIsStored()
    {
        QFETCH(QString, edit);
        QFETCH(QString, setting);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        UseRecord(DefaultSettings());
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        const QByteArray editName = edit.toLatin1();
        QCOMPARE(Run(form,
                     [&](TOptionForm& f) {
                         Type(f, editName.constData(), typed);
                         Press(f, "Button1");
                     }),
                 int(QDialog::Accepted));
        Settings expected = DefaultSettings();
        expected.*Def(setting)->member = stored;
        QCOMPARE(RecordMismatch(AppSettings(), expected), QString());
        QCOMPARE(StoreMismatch(expected), QString());
        QCOMPARE(AppSettingsStore().value(setting).toString(), QString::number(stored));
    }

    void enterConfirmsTheDialog()
    {
        UseRecord(DefaultSettings());
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        QCOMPARE(Run(form,
                     [](TOptionForm& f) {
                         Type(f, "Edit7", QStringLiteral("300"));
                         QTest::keyClick(f.findChild<QLineEdit*>(QStringLiteral("Edit7")), Qt::Key_Return);
                     }),
                 int(QDialog::Accepted));
        QCOMPARE(AppSettings().ScanReso, 300);
        QCOMPARE(AppSettingsStore().value(QStringLiteral("ScanReso")).toString(), QStringLiteral("300"));
    }

    void presetFillsTheScanArea_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("bottom");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::newRow("A4") << "SpeedButton1" << 0 << 296 << 0 << 210;
        QTest::newRow("B5") << "SpeedButton2" << 0 << 256 << 0 << 181;
        QTest::newRow("A3") << "SpeedButton3" << 0 << 420 << 0 << 296;
        QTest::newRow("B4") << "SpeedButton4" << 0 << 362 << 0 << 256;
        QTest::newRow("A5") << "SpeedButton5" << 0 << 210 << 0 << 148;
        QTest::newRow("B6") << "SpeedButton6" << 0 << 181 << 0 << 128;
    }

    void presetFillsTheScanArea()
    {
        QFETCH(QString, button);
        QFETCH(int, top);
        QFETCH(int, bottom);
        QFETCH(int, left);
        QFETCH(int, right);
        Settings before = SampleRecord();  // top and left not 0, every side its own
        before.ScanTop = 9;
        before.ScanBottom = 99;
        before.ScanLeft = 8;
        before.ScanRight = 88;
        UseRecord(before);
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        const QByteArray buttonName = button.toLatin1();
        QCOMPARE(Run(form,
                     [&](TOptionForm& f) {
                         Press(f, buttonName.constData());
                         QCOMPARE(EditText(f, "Edit3"), QString::number(top));
                         QCOMPARE(EditText(f, "Edit4"), QString::number(bottom));
                         QCOMPARE(EditText(f, "Edit5"), QString::number(left));
                         QCOMPARE(EditText(f, "Edit6"), QString::number(right));
                         // Only the four scan-area edits, and nothing stored yet.
                         QCOMPARE(EditText(f, "Edit7"), QStringLiteral("300"));
                         QCOMPARE(EditText(f, "Edit1"), QStringLiteral("1600"));
                         QCOMPARE(EditText(f, "Edit2"), QStringLiteral("1200"));
                         QCOMPARE(RecordMismatch(AppSettings(), before), QString());
                         QCOMPARE(StoreMismatch(before), QString());
                         Press(f, "Button1");
                     }),
                 int(QDialog::Accepted));
        Settings after = before;
        after.ScanTop = top;
        after.ScanBottom = bottom;
        after.ScanLeft = left;
        after.ScanRight = right;
        QCOMPARE(RecordMismatch(AppSettings(), after), QString());
        QCOMPARE(StoreMismatch(after), QString());
    }

    void cancelLeavesEverythingAsItWas_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("Cancel button") << 0;
        QTest::newRow("close box") << 1;
        QTest::newRow("Escape") << 2;
    }

    void cancelLeavesEverythingAsItWas()
    {
        QFETCH(int, way);
        const Settings before = SampleRecord();
        UseRecord(before);
        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        QCOMPARE(Run(form,
                     [&](TOptionForm& f) {
                         Press(f, "SpeedButton1");  // A4
                         QCOMPARE(EditText(f, "Edit4"), QStringLiteral("296"));
                         Type(f, "Edit7", QStringLiteral("600"));
                         ClickItem(f, "RadioGroup5", 0);
                         ClickItem(f, "RadioGroup9", 1);
                         if (way == 0)
                             Press(f, "Button2");
                         else if (way == 1)
                             f.close();
                         else
                             QTest::keyClick(f.findChild<QLineEdit*>(QStringLiteral("Edit7")), Qt::Key_Escape);
                     }),
                 int(QDialog::Rejected));
        QCOMPARE(RecordMismatch(AppSettings(), before), QString());
        QCOMPARE(AppSettings().ScanBottom, 250);
        QCOMPARE(AppSettings().ScanRight, 170);
        QCOMPARE(StoreMismatch(before), QString());
        QVERIFY(!form.ShareChosen());
    }

    void sharingChoiceIsReported_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<int>("click");  // −1: left as shown
        QTest::addColumn<bool>("chosen");
        QTest::newRow("private, share") << false << 1 << true;
        QTest::newRow("shared, do not share") << true << 0 << false;
        QTest::newRow("private, untouched") << false << -1 << false;
        QTest::newRow("shared, untouched") << true << -1 << true;
        QTest::newRow("shared, clicked again") << true << 1 << true;
    }

    void sharingChoiceIsReported()
    {
        QFETCH(bool, shared);
        QFETCH(int, click);
        QFETCH(bool, chosen);
        UseRecord(SampleRecord());
        TOptionForm form(AppSettings(), AppSettingsStore(), shared);
        QCOMPARE(Run(form,
                     [&](TOptionForm& f) {
                         if (click >= 0)
                             ClickItem(f, "RadioGroup9", click);
                         Press(f, "Button1");
                     }),
                 int(QDialog::Accepted));
        QCOMPARE(form.ShareChosen(), chosen);
        // Sharing belongs to the archive, not to the user's settings: the
        // values and the recognition switch only.
        QCOMPARE(AppSettingsStore().allKeys().size(), kSettingCount + 1);
        QVERIFY(AppSettingsStore().contains(QLatin1String(kRecognitionName)));
        QCOMPARE(StoreMismatch(SampleRecord()), QString());
    }

    void recognitionSwitchIsStoredUnlessTheDataIsMissing_data()
    {
        QTest::addColumn<QString>("missing");
        QTest::addColumn<bool>("stored");  // before
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("after");   // clicked, then OK
        QTest::newRow("on, turned off") << QString() << true << true << false;
        QTest::newRow("off, turned on") << QString() << false << false << true;
        QTest::newRow("no data: shown off, choice kept") << QStringLiteral("言語データがありません") << true << false
                                                         << true;
    }

    void recognitionSwitchIsStoredUnlessTheDataIsMissing()
    {
        QFETCH(QString, missing);
        QFETCH(bool, stored);
        QFETCH(bool, shown);
        QFETCH(bool, after);
        WriteRecognitionSetting(AppSettingsStore(), stored);
        TOptionForm form(AppSettings(), AppSettingsStore(), false, nullptr, missing);
        auto* box = form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
        auto* why = form.findChild<QLabel*>(QStringLiteral("Label20"));
        QVERIFY(box && why);
        QCOMPARE(box->isChecked(), shown);
        QCOMPARE(box->isEnabled(), missing.isEmpty());
        QCOMPARE(why->text(), missing);
        QCOMPARE(Run(form,
                     [&](TOptionForm& f) {
                         ShowTab(f, "TabSheet6");
                         if (box->isEnabled())
                             QTest::mouseClick(box, Qt::LeftButton);
                         Press(f, "Button1");
                     }),
                 int(QDialog::Accepted));
        QCOMPARE(ReadRecognitionSetting(AppSettingsStore()), after);
    }

    void changedAutoCorrectionIsShownNextTime()
    {
        UseRecord(DefaultSettings());
        {
            TOptionForm form(AppSettings(), AppSettingsStore(), false);
            QCOMPARE(Run(form,
                         [](TOptionForm& f) {
                             ClickItem(f, "RadioGroup5", 1);
                             ShowTab(f, "TabSheet5");  // leave it on another tab
                             Press(f, "Button1");
                         }),
                     int(QDialog::Accepted));
        }
        QCOMPARE(AppSettings().AutoMode, 1);
        QCOMPARE(AppSettingsStore().value(QStringLiteral("AutoMode")).toString(), QStringLiteral("1"));
        // Opened again in this run, and after the next start's load.
        Settings loaded;
        LoadSettings(loaded, AppSettingsStore());
        for (Settings* record : {&AppSettings(), &loaded}) {
            TOptionForm again(*record, AppSettingsStore(), false);
            QCOMPARE(Group(again, "RadioGroup5")->ItemIndex(), 1);
            QVERIFY(Group(again, "RadioGroup5")->Button(1)->isChecked());
            QCOMPARE(Pages(again)->currentIndex(), 0);
        }
    }

    // A stored value outside its group's choices shows no choice; OK keeps
    // it as it was unless the user picks one.
    void outOfRangeSettingShowsNoChoice()
    {
        Settings odd = DefaultSettings();
        odd.KMode = 8;
        odd.AutoMode = -1;
        odd.CaptureMode = 99;
        odd.ScanMode = 4;
        UseRecord(odd);
        {
            TOptionForm form(AppSettings(), AppSettingsStore(), false);
            for (const char* name : {"RadioGroup1", "RadioGroup5", "RadioGroup8", "RadioGroup10"}) {
                TRadioGroup* group = Group(form, name);
                QCOMPARE(group->ItemIndex(), -1);
                for (QRadioButton* b : group->findChildren<QRadioButton*>())
                    QVERIFY2(!b->isChecked(), qPrintable(b->objectName()));
            }
            QCOMPARE(Run(form, [](TOptionForm& f) { Press(f, "Button1"); }), int(QDialog::Accepted));
        }
        QCOMPARE(RecordMismatch(AppSettings(), odd), QString());
        QCOMPARE(StoreMismatch(odd), QString());

        TOptionForm form(AppSettings(), AppSettingsStore(), false);
        QCOMPARE(Run(form,
                     [](TOptionForm& f) {
                         ClickItem(f, "RadioGroup5", 0);
                         Press(f, "Button1");
                     }),
                 int(QDialog::Accepted));
        odd.AutoMode = 0;
        QCOMPARE(RecordMismatch(AppSettings(), odd), QString());
        QCOMPARE(StoreMismatch(odd), QString());
    }
};

// The radio group control on its own.
class RadioGroupTest : public QObject {
    Q_OBJECT

private slots:
    void itemsFillColumnsTopToBottom_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QList<int>>("column");  // per item
        QTest::addColumn<QList<int>>("row");
        QTest::newRow("3 in 1") << 3 << 1 << QList<int>{0, 0, 0} << QList<int>{0, 1, 2};
        QTest::newRow("2 in 2") << 2 << 2 << QList<int>{0, 1} << QList<int>{0, 0};
        QTest::newRow("5 in 2") << 5 << 2 << QList<int>{0, 0, 0, 1, 1} << QList<int>{0, 1, 2, 0, 1};
        QTest::newRow("7 in 3") << 7 << 3 << QList<int>{0, 0, 0, 1, 1, 1, 2} << QList<int>{0, 1, 2, 0, 1, 2, 0};
    }

    void itemsFillColumnsTopToBottom()
    {
        QFETCH(int, count);
        QFETCH(int, columns);
        QFETCH(QList<int>, column);
        QFETCH(QList<int>, row);
        TRadioGroup group(QStringLiteral("Group"));
        QStringList items;
        for (int i = 0; i < count; ++i)
            items << QStringLiteral("Item %1").arg(i);
        group.SetItems(items);
        group.SetColumns(columns);
        group.resize(360, 30 + 20 * ((count + columns - 1) / columns));
        group.show();
        QVERIFY(QTest::qWaitForWindowExposed(&group));
        QCOMPARE(group.Items(), items);
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < count; ++j) {
                const QRect a = group.Button(i)->geometry();
                const QRect b = group.Button(j)->geometry();
                QCOMPARE(a.left() < b.left(), column[i] < column[j]);
                QCOMPARE(a.left() == b.left(), column[i] == column[j]);
                QCOMPARE(a.top() < b.top(), row[i] < row[j]);
                QCOMPARE(a.top() == b.top(), row[i] == row[j]);
            }
            QVERIFY(group.contentsRect().contains(group.Button(i)->geometry()));
        }
    }

    void selectionFollowsClicksAndSetter()
    {
        TRadioGroup group;
        group.setObjectName(QStringLiteral("Modes"));
        group.setProperty("items", QStringList{"a", "b", "c"});
        group.setProperty("columns", 3);
        QCOMPARE(group.Columns(), 3);
        group.resize(300, 50);
        group.show();
        QVERIFY(QTest::qWaitForWindowExposed(&group));
        QSignalSpy changed(&group, &TRadioGroup::ItemIndexChanged);
        QSignalSpy clicked(&group, &TRadioGroup::Click);
        QCOMPARE(group.ItemIndex(), -1);
        for (QRadioButton* b : group.findChildren<QRadioButton*>())
            QVERIFY(!b->isChecked());

        QTest::mouseClick(group.findChild<QRadioButton*>(QStringLiteral("Modes_Item1")), Qt::LeftButton);
        QCOMPARE(group.ItemIndex(), 1);
        QCOMPARE(group.property("itemIndex").toInt(), 1);
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.last().at(0).toInt(), 1);

        QTest::mouseClick(group.findChild<QRadioButton*>(QStringLiteral("Modes_Item2")), Qt::LeftButton);
        QCOMPARE(group.ItemIndex(), 2);
        QVERIFY(!group.Button(1)->isChecked());

        group.SetItemIndex(0);
        QCOMPARE(group.ItemIndex(), 0);
        QVERIFY(group.Button(0)->isChecked());
        QCOMPARE(clicked.size(), 2);  // the setter is no click

        for (int outside : {3, -2, -1}) {
            group.SetItemIndex(0);
            changed.clear();
            group.SetItemIndex(outside);
            QCOMPARE(group.ItemIndex(), -1);
            for (QRadioButton* b : group.findChildren<QRadioButton*>())
                QVERIFY(!b->isChecked());
            QCOMPARE(changed.size(), 1);
            QCOMPARE(changed.last().at(0).toInt(), -1);
        }
        // Still exclusive after being cleared.
        group.setProperty("itemIndex", 1);
        QTest::mouseClick(group.Button(0), Qt::LeftButton);
        QCOMPARE(group.ItemIndex(), 0);
        QVERIFY(!group.Button(1)->isChecked());
    }

    void newItemsAndNamesReplaceTheButtons()
    {
        TRadioGroup group;
        group.SetItems({"a", "b", "c"});
        group.setObjectName(QStringLiteral("First"));
        QVERIFY(group.findChild<QRadioButton*>(QStringLiteral("First_Item2")));
        group.setObjectName(QStringLiteral("Second"));
        QVERIFY(group.findChild<QRadioButton*>(QStringLiteral("Second_Item0")));
        QVERIFY(!group.findChild<QRadioButton*>(QStringLiteral("First_Item0")));

        group.SetItemIndex(1);
        group.SetItems({"x", "y"});
        QCOMPARE(group.findChildren<QRadioButton*>().size(), 2);
        QCOMPARE(group.Button(1)->text(), QStringLiteral("y"));
        QCOMPARE(group.Button(1)->objectName(), QStringLiteral("Second_Item1"));
        QCOMPARE(group.ItemIndex(), 1);
        QVERIFY(group.Button(1)->isChecked());
        QVERIFY(!group.Button(2));

        group.SetItems({"only"});
        QCOMPARE(group.ItemIndex(), -1);
        QVERIFY(!group.Button(0)->isChecked());
    }
};

TOLVANE_UI_TEST(OptionFormTest);
TOLVANE_UI_TEST(RadioGroupTest);

#include "tst_OptionForm.moc"
