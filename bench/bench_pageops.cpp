// SPDX-License-Identifier: GPL-3.0-or-later
// The page commands on a 999-page category on a local disk, each from the
// press of its button until the window is repainted: delete (files, list,
// redraw), reorder (list, redraw), move into another category (copies, both
// lists, removal, redraw), and the copy of a 1024 x 1448 JPEG page.

#include "bench/GuiBench.h"
#include "core/Settings.h"
#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "ui/TForm1.h"
#include "widgets/Controls.h"
#include "widgets/QtPrompt.h"

#include <QDialog>
#include "bench/BenchArchive.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

QTemporaryDir* g_dir = nullptr;
QByteArray g_page;   // a 1024 x 1448 page as stored
QByteArray g_thumb;  // its thumbnail

QByteArray Encoded(int width, int height)
{
    ImageHandle dib = CreateDib(width, height, 3);
    TMDIB m(dib);
    for (int y = 0; y < m.Height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < m.Width; ++x) {
            const bool ink = (y % 24 < 5) && x > width / 10 && x < width - width / 10 && (x / 9) % 6 != 0;
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = uint8_t(ink ? 40 : 245);
        }
    }
    QByteArray out;
    ImgKitJpegEncode(dib, 80, out);
    return out;
}

// A fresh archive: "Full" of `pages` pages, "Other" empty.
QString MakeArchive(int pages)
{
    return MakeBenchArchive(g_dir->path(), pages, g_page, g_thumb);
}

// Answers every question as a person going on would: OK, and the category
// "Other" in the destination dialog.
class GoOnPrompt : public QtPrompt {
public:
    BoxAnswer MessageBox(const QString&, const QString&, BoxButtons, const QString&) override { return BoxAnswer::Ok; }
    void MessageDlg(const QString& text, DlgIcon, const QString&) override { said = text; }
    int ExecModal(QDialog& dialog) override
    {
        auto* list = dialog.findChild<QListWidget*>(QStringLiteral("ListBox"));
        if (!list)
            return QDialog::Rejected;
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() == QStringLiteral("Other"))
                list->setCurrentRow(i);
        dialog.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        return dialog.result();
    }
    QString said;
};

struct Window {
    GoOnPrompt prompt;
    TForm1 form;
    explicit Window(const QString& root) : form(prompt, root)
    {
        form.show();
        (void)QTest::qWaitForWindowExposed(&form);
        auto* list = form.findChild<QListWidget*>(QStringLiteral("ListBox"));
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() == QStringLiteral("Full"))
                form.SelectCategoryRow(i);
    }
    void ClickPage(int slot) { QTest::mouseClick(form.SlotAt(slot).image, Qt::LeftButton); }
    void Press(const char* name) { form.findChild<QToolButton*>(QLatin1String(name))->click(); }
};

void BM_DeletePage(benchmark::State& state)
{
    Window w(MakeArchive(999));
    w.form.SpeedButton21Click();  // somewhere in the middle is as good as anywhere
    for (auto _ : state) {
        state.PauseTiming();
        w.ClickPage(1);
        state.ResumeTiming();
        w.Press("Menu03");
        w.form.repaint();
    }
    if (w.form.Grid.P != 999 - int(state.iterations()))
        state.SkipWithError("a page was not deleted");
}
BENCHMARK(BM_DeletePage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_ReorderPage(benchmark::State& state)
{
    Window w(MakeArchive(999));
    for (int i = 0; i < 100; ++i)
        w.form.SpeedButton21Click();
    w.ClickPage(1);
    bool later = true;
    for (auto _ : state) {
        w.Press(later ? "Menu05" : "Menu04");
        w.form.repaint();
        later = !later;
    }
    if (!w.prompt.said.isEmpty())
        state.SkipWithError(w.prompt.said.toUtf8().constData());
}
BENCHMARK(BM_ReorderPage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MovePageToCategory(benchmark::State& state)
{
    Window w(MakeArchive(999));
    w.form.SpeedButton21Click();
    for (auto _ : state) {
        state.PauseTiming();
        w.ClickPage(0);
        state.ResumeTiming();
        w.Press("Menu09");
        w.form.repaint();
    }
    if (w.form.Grid.P != 999 - int(state.iterations()))
        state.SkipWithError("a page was not moved");
}
BENCHMARK(BM_MovePageToCategory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_CopyPage(benchmark::State& state)
{
    Window w(MakeArchive(600));
    for (auto _ : state) {
        state.PauseTiming();
        w.ClickPage(0);
        state.ResumeTiming();
        w.Press("SpeedButton1");
        w.form.repaint();
    }
    if (w.form.Grid.P != 600 + int(state.iterations()))
        state.SkipWithError("a page was not copied");
}
BENCHMARK(BM_CopyPage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(100);

}  // namespace

int main(int argc, char** argv)
{
    QTemporaryDir dir;
    g_dir = &dir;
    g_page = Encoded(1024, 1448);
    g_thumb = Encoded(141, 200);
    return RunWindowBenchmarks(argc, argv, "offscreen");
}
