// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch add and check.
//
// BM_Add50Files: one `tolvane-batch add` of 50 A4 scans (2480 x 3508 JPEG)
// into a fresh category, against 50 runs of `tolvane-batch process` on the
// same files in the same iterations (counters process_s and add_per_process,
// the goal being at most 0.6 on two cores); and the nearest chains ImageMagick and
// libvips offer for the same 50 files: `convert IN -resize 1024x -auto-level
// -write PAGE -resize 160x200 THUMB` (ImageMagick writes an intermediate
// result with -write) and vipsthumbnail twice, 1024 wide and within 160 x 200.
// Both write at JPEG quality 80, as the program does by default.
//
// BM_ProcessOneA4: `tolvane-batch process` of one A4 scan (JPEG at quality
// 92) against a bare `djpeg` of the same file plus a `cjpeg` of the
// 1023-wide page at quality 80, and against the ImageMagick and libvips
// chains above on the file, in paired rounds: medians of 11 (counters
// process_s, per_djpeg_cjpeg, the goal being at most 1.3, per_imagemagick,
// per_vips; ImageMagick and libvips in rounds after those of the others)
// and the process's peak resident memory (process_peak_mb, goal under 60). BM_Add50Files (with --no-ocr) also gives the add's peak memory
// (add_peak_mb, goal under 150) and its pages a minute.
//
// BM_AddRecognised: `tolvane-batch add` of 20 A4 scans of a dense page of
// text (the 30 lines of the recognition benchmark, 2480 x 3508 at quality
// 90) with the texts recognised (the default, with the installed language
// data) against the same add with --no-ocr: pages a minute of each
// (pages_per_min, filed_per_min), and the add's peak memory (add_peak_mb).
//
// BM_Check200x999: `tolvane-batch check` of an archive of 200 categories of
// 999 pages each (hard links to one small page), warm cache, no decoding;
// the goal is under 2 s.
//
// The children read the settings of a home of their own: the defaults.

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"
#include "tests/text/ocr/OcrTestPages.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

QTemporaryDir* g_dir = nullptr;
constexpr int kFiles = 50;

QString Scan(int i)
{
    return g_dir->filePath(QStringLiteral("in/scan%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
}

constexpr int kTextFiles = 20;

QString TextScan(int i)
{
    return g_dir->filePath(QStringLiteral("in/text%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
}

QString A4Scan()
{
    return g_dir->filePath(QStringLiteral("in/a4q92.jpg"));
}

// A page of text lines on slightly tinted paper, as a flatbed gives it; 50
// files of it, and one at quality 92.
void MakeScans()
{
    QDir().mkpath(g_dir->filePath(QStringLiteral("in")));
    ImageHandle dib = CreateDib(2480, 3508, 3);
    TMDIB m(dib);
    // The sensor's noise, as a scanner gives it: it is what makes a real
    // scan's JPEG large and slow to decode.
    uint32_t noise = 12345;
    auto next = [&] {
        noise = noise * 1103515245u + 12345u;
        return int(noise >> 28) - 8;
    };
    for (int y = 0; y < m.Height; ++y) {
        uint8_t* row = m.TopRow - y * m.Stride;
        for (int x = 0; x < m.Width; ++x) {
            const bool ink = (y % 60 < 14) && x > 200 && x < 2280 && (x / 23) % 6 != 0;
            row[3 * x] = uint8_t(ink ? 40 + next() : 226 + (x + y) % 7 + next());
            row[3 * x + 1] = uint8_t(ink ? 38 + next() : 236 + (x * 3 + y) % 5 + next());
            row[3 * x + 2] = uint8_t(ink ? 50 + next() : 240 + (x + 2 * y) % 6 + next() / 2);
        }
    }
    QByteArray jpeg;
    ImgKitJpegEncode(dib, 90, jpeg);
    for (int i = 0; i < kFiles; ++i) {
        QFile f(Scan(i));
        if (f.open(QIODevice::WriteOnly))
            f.write(jpeg);
    }
    ImgKitJpegEncode(dib, 92, jpeg);
    QFile a4(A4Scan());
    if (a4.open(QIODevice::WriteOnly))
        a4.write(jpeg);

    // The text scans are drawn by a child of this program: the peak memory
    // a spawned child reports starts from its parent's, so the parent stays
    // as small as it was (no fonts, no picture of the text).
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--make-text-scans"), g_dir->path()});
    child.waitForFinished(120000);
}

// The dense page of text at A4 300 dpi, as the child draws it.
int MakeTextScans(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::vector<PageLine> lines;
    for (const QString& text : DenseLines())
        lines.push_back({text, 53});
    const QImage text = RenderPage(lines, nullptr, QSize(2480, 3508));
    const QString dir = QString::fromLocal8Bit(argv[2]);
    for (int i = 0; i < kTextFiles; ++i)
        if (!text.save(dir + QStringLiteral("/in/text%1.jpg").arg(i, 2, 10, QLatin1Char('0')), "JPEG", 90))
            return 1;
    return 0;
}

bool Run(const QString& program, const QStringList& args, int timeoutMs = 600000)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(program, args);
    return child.waitForFinished(timeoutMs) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

// A child run to its end with its wall time and peak resident memory (from
// wait4: the child's own, but never below this program's own peak, which
// Linux hands on at the exec; this program is kept smaller than its
// children).
struct Measured {
    bool ok = false;
    double seconds = 0;
    double peakMb = 0;
};
Measured RunMeasured(const QString& program, const QStringList& args)
{
    std::vector<QByteArray> bytes{QFile::encodeName(program)};
    for (const QString& a : args)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer t;
    t.start();
    pid_t pid = -1;
    Measured m;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        struct rusage usage {};
        if (::wait4(pid, &status, 0, &usage) == pid) {
            m.seconds = double(t.nsecsElapsed()) / 1e9;
            m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            m.peakMb = double(usage.ru_maxrss) / 1024.0;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return m;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds one call takes.
template <class F>
double Seconds(F&& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e9;
}

QString Batch()
{
    return QStringLiteral(TOLVANE_BATCH_EXE);
}

QString Out(const QString& name)
{
    return g_dir->filePath(QStringLiteral("out/") + name);
}

void BM_Add50Files(benchmark::State& state)
{
    const QString archive = g_dir->filePath(QStringLiteral("archive"));
    QDir().mkpath(archive);
    QDir().mkpath(Out(QString()));
    QStringList files;
    for (int i = 0; i < kFiles; ++i)
        files << Scan(i);
    int round = 0;
    double addTotal = 0, processTotal = 0, peak = 0;
    for (auto _ : state) {
        const QString category = QStringLiteral("Add%1").arg(++round);
        const Measured added = RunMeasured(Batch(), QStringList{QStringLiteral("add"), QStringLiteral("--archive"),
                                                                archive, QStringLiteral("--category"), category,
                                                                QStringLiteral("--create"), QStringLiteral("--no-ocr")}
                                                        + files);
        bool ok = added.ok;
        const double add = added.seconds;
        peak = std::max(peak, added.peakMb);
        if (!ok) {
            state.SkipWithError("tolvane-batch add failed");
            break;
        }
        // The same files, one process run each, right after.
        const double process = Seconds([&] {
            for (int i = 0; i < kFiles && ok; ++i)
                ok = Run(Batch(), {QStringLiteral("process"), Scan(i), Out(QStringLiteral("p%1.jpg").arg(i)),
                                   Out(QStringLiteral("t%1.jpg").arg(i))});
        });
        if (!ok) {
            state.SkipWithError("tolvane-batch process failed");
            break;
        }
        state.SetIterationTime(add);
        addTotal += add;
        processTotal += process;
        QDir(archive + u'/' + category).removeRecursively();
    }
    const double n = double(state.iterations());
    state.counters["process_s"] = benchmark::Counter(processTotal / n);
    state.counters["add_per_process"] = benchmark::Counter(processTotal > 0 ? addTotal / processTotal : 0);
    state.counters["add_peak_mb"] = benchmark::Counter(peak);
    state.counters["pages_per_min"] = benchmark::Counter(addTotal > 0 ? 60.0 * kFiles * n / addTotal : 0);
}
BENCHMARK(BM_Add50Files)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1)->Repetitions(3);

void BM_AddRecognised(benchmark::State& state)
{
    const QString archive = g_dir->filePath(QStringLiteral("archive"));
    QDir().mkpath(archive);
    QStringList files;
    for (int i = 0; i < kTextFiles; ++i)
        files << TextScan(i);
    int round = 0;
    double recognisedTotal = 0, filedTotal = 0, peak = 0;
    for (auto _ : state) {
        Measured runs[2];
        for (int ocr = 0; ocr < 2; ++ocr) {
            const QString category = QStringLiteral("Text%1").arg(++round);
            QStringList args{QStringLiteral("add"), QStringLiteral("--archive"), archive,
                             QStringLiteral("--category"), category, QStringLiteral("--create")};
            if (!ocr)
                args << QStringLiteral("--no-ocr");
            runs[ocr] = RunMeasured(Batch(), args + files);
            const bool recognised = QFileInfo::exists(archive + u'/' + category + QStringLiteral("/Words/00000001.tsv"));
            QDir(archive + u'/' + category).removeRecursively();
            if (!runs[ocr].ok || recognised != bool(ocr)) {
                state.SkipWithError(recognised != bool(ocr) ? "the texts were not recognised (language data?)"
                                                           : "tolvane-batch add failed");
                return;
            }
        }
        state.SetIterationTime(runs[1].seconds);
        recognisedTotal += runs[1].seconds;
        filedTotal += runs[0].seconds;
        peak = std::max(peak, runs[1].peakMb);
    }
    const double pages = double(kTextFiles) * double(state.iterations());
    state.counters["pages_per_min"] = benchmark::Counter(recognisedTotal > 0 ? 60.0 * pages / recognisedTotal : 0);
    state.counters["filed_per_min"] = benchmark::Counter(filedTotal > 0 ? 60.0 * pages / filedTotal : 0);
    state.counters["add_peak_mb"] = benchmark::Counter(peak);
}
BENCHMARK(BM_AddRecognised)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1)->Repetitions(3);

void BM_Process50Runs(benchmark::State& state)
{
    QDir().mkpath(Out(QString()));
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i)
            if (!Run(Batch(), {QStringLiteral("process"), Scan(i), Out(QStringLiteral("p%1.jpg").arg(i)),
                               Out(QStringLiteral("t%1.jpg").arg(i))})) {
                state.SkipWithError("tolvane-batch process failed");
                return;
            }
    }
}
BENCHMARK(BM_Process50Runs)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

// The system's ImageMagick, not a stand-in earlier in PATH.
QString ImageMagick()
{
    for (const char* p : {"/usr/bin/convert", "/usr/bin/magick"})
        if (QFileInfo(QLatin1String(p)).isExecutable())
            return QLatin1String(p);
    return QString();
}

void BM_ImageMagick50Files(benchmark::State& state)
{
    const QString convert = ImageMagick();
    if (convert.isEmpty()) {
        state.SkipWithError("ImageMagick is not installed (apt-get install imagemagick)");
        return;
    }
    QDir().mkpath(Out(QString()));
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i)
            if (!Run(convert, {Scan(i), QStringLiteral("-resize"), QStringLiteral("1024x"), QStringLiteral("-auto-level"),
                               QStringLiteral("-quality"), QStringLiteral("80"), QStringLiteral("-write"),
                               Out(QStringLiteral("im-p%1.jpg").arg(i)), QStringLiteral("-resize"),
                               QStringLiteral("160x200"), Out(QStringLiteral("im-t%1.jpg").arg(i))})) {
                state.SkipWithError("convert failed");
                return;
            }
    }
}
BENCHMARK(BM_ImageMagick50Files)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

void BM_Vips50Files(benchmark::State& state)
{
    const QString vips = QStringLiteral("/usr/bin/vipsthumbnail");
    if (!QFileInfo(vips).isExecutable()) {
        state.SkipWithError("libvips is not installed (apt-get install libvips-tools)");
        return;
    }
    QDir().mkpath(Out(QString()));
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i) {
            const bool ok =
                Run(vips, {Scan(i), QStringLiteral("--size"), QStringLiteral("1024x"), QStringLiteral("-o"),
                           Out(QStringLiteral("vips-p%1.jpg[Q=80]").arg(i))})
                && Run(vips, {Scan(i), QStringLiteral("--size"), QStringLiteral("160x200"), QStringLiteral("-o"),
                              Out(QStringLiteral("vips-t%1.jpg[Q=80]").arg(i))});
            if (!ok) {
                state.SkipWithError("vipsthumbnail failed");
                return;
            }
        }
    }
}
BENCHMARK(BM_Vips50Files)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

void BM_ProcessOneA4(benchmark::State& state)
{
    const QString djpeg = QStringLiteral("/usr/bin/djpeg"), cjpeg = QStringLiteral("/usr/bin/cjpeg");
    if (!QFileInfo(djpeg).isExecutable() || !QFileInfo(cjpeg).isExecutable()) {
        state.SkipWithError("djpeg and cjpeg are not installed (apt-get install libjpeg-turbo-progs)");
        return;
    }
    QDir().mkpath(Out(QString()));
    const QString page = Out(QStringLiteral("one-p.jpg")), thumb = Out(QStringLiteral("one-t.jpg"));
    const QString pagePpm = Out(QStringLiteral("one-p.ppm"));
    // cjpeg's input: the page the process makes, as a PPM.
    if (!RunMeasured(Batch(), {QStringLiteral("process"), A4Scan(), page, thumb}).ok
        || !RunMeasured(djpeg, {QStringLiteral("-outfile"), pagePpm, page}).ok) {
        state.SkipWithError("tolvane-batch process failed");
        return;
    }
    const QString convert = ImageMagick();
    const QString vips = QStringLiteral("/usr/bin/vipsthumbnail");
    const bool haveVips = QFileInfo(vips).isExecutable();
    std::vector<double> process, bare, magick, libvips, peak;
    for (auto _ : state) {
        for (int round = 0; round < 11; ++round) {
            const Measured p = RunMeasured(Batch(), {QStringLiteral("process"), A4Scan(), page, thumb});
            const Measured d = RunMeasured(djpeg, {QStringLiteral("-outfile"), QStringLiteral("/dev/null"), A4Scan()});
            const Measured c = RunMeasured(cjpeg, {QStringLiteral("-quality"), QStringLiteral("80"),
                                                   QStringLiteral("-outfile"), QStringLiteral("/dev/null"), pagePpm});
            if (!p.ok || !d.ok || !c.ok) {
                state.SkipWithError("a run failed");
                return;
            }
            process.push_back(p.seconds);
            peak.push_back(p.peakMb);
            bare.push_back(d.seconds + c.seconds);
        }
        // ImageMagick and libvips in rounds of their own: each leaves a few
        // hundred MB freed behind it, and on a virtual machine that gives
        // freed memory back to its host, the next program to need memory
        // pays for every page of it again (tolvane-batch's 26 MB block
        // alone: some 30 ms).
        for (int round = 0; round < 11; ++round) {
            if (!convert.isEmpty()) {
                const Measured m = RunMeasured(
                    convert, {A4Scan(), QStringLiteral("-resize"), QStringLiteral("1024x"), QStringLiteral("-auto-level"),
                              QStringLiteral("-quality"), QStringLiteral("80"), QStringLiteral("-write"),
                              Out(QStringLiteral("one-im-p.jpg")), QStringLiteral("-resize"), QStringLiteral("160x200"),
                              Out(QStringLiteral("one-im-t.jpg"))});
                if (m.ok)
                    magick.push_back(m.seconds);
            }
            if (haveVips) {
                const Measured a = RunMeasured(vips, {A4Scan(), QStringLiteral("--size"), QStringLiteral("1024x"),
                                                      QStringLiteral("-o"), Out(QStringLiteral("one-vips-p.jpg[Q=80]"))});
                const Measured b = RunMeasured(vips, {A4Scan(), QStringLiteral("--size"), QStringLiteral("160x200"),
                                                      QStringLiteral("-o"), Out(QStringLiteral("one-vips-t.jpg[Q=80]"))});
                if (a.ok && b.ok)
                    libvips.push_back(a.seconds + b.seconds);
            }
        }
    }
    const double processS = Median(process);
    state.SetIterationTime(processS);
    state.counters["process_s"] = benchmark::Counter(processS);
    state.counters["djpeg_cjpeg_s"] = benchmark::Counter(Median(bare));
    state.counters["per_djpeg_cjpeg"] = benchmark::Counter(processS / Median(bare));
    state.counters["process_peak_mb"] = benchmark::Counter(*std::max_element(peak.begin(), peak.end()));
    if (!magick.empty())
        state.counters["per_imagemagick"] = benchmark::Counter(processS / Median(magick));
    if (!libvips.empty())
        state.counters["per_vips"] = benchmark::Counter(processS / Median(libvips));
}
BENCHMARK(BM_ProcessOneA4)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// ---- check ----

// 200 categories of 999 pages: every page's three files hard links to a
// small image, thumbnail and memo (a new one every 30000 links, below the
// file system's limit per file); each list written whole.
QString BigArchive()
{
    static QString root;
    if (!root.isEmpty())
        return root;
    root = g_dir->filePath(QStringLiteral("big"));
    QDir().mkpath(root);
    QByteArray image, memo;
    int made = -1;
    auto sources = [&](int links) {
        if (links / 30000 == made)
            return true;
        made = links / 30000;
        image = QFile::encodeName(g_dir->filePath(QStringLiteral("page%1.jpg").arg(made)));
        memo = QFile::encodeName(g_dir->filePath(QStringLiteral("memo%1.txt").arg(made)));
        QFile m(QFile::decodeName(memo));
        return ImgKitJpegFileSave(QFile::decodeName(image), CreateDib(16, 16, 3), 80)
               && m.open(QIODevice::WriteOnly) && m.write("\r\n") == 2;
    };
    int links = 0;
    for (int c = 0; c < 200; ++c) {
        const QString cat = root + QStringLiteral("/Category %1").arg(c, 3, 10, QLatin1Char('0'));
        QByteArray list = "00000999\r\n";
        for (const char* sub : {"Image", "Thumb", "Text"})
            QDir().mkpath(cat + u'/' + QLatin1String(sub));
        const QByteArray base = QFile::encodeName(cat);
        for (int p = 1; p <= 999; ++p, ++links) {
            const QByteArray n = QByteArray::number(p).rightJustified(8, '0');
            if (!sources(links) || ::link(image.constData(), (base + "/Image/" + n + ".jpg").constData()) != 0
                || ::link(image.constData(), (base + "/Thumb/" + n + ".jpg").constData()) != 0
                || ::link(memo.constData(), (base + "/Text/" + n + ".txt").constData()) != 0) {
                root.clear();
                return root;
            }
            list += n + ".jpg\r\n";
        }
        QFile f(cat + QStringLiteral("/FileList.txt"));
        if (f.open(QIODevice::WriteOnly))
            f.write(list);
    }
    return root;
}

void BM_Check200x999(benchmark::State& state)
{
    const QString root = BigArchive();
    if (root.isEmpty()) {
        state.SkipWithError("cannot make the archive (hard links)");
        return;
    }
    const QStringList args{QStringLiteral("check"), QStringLiteral("--archive"), root};
    if (!Run(Batch(), args)) {  // warms the cache; a clean archive answers 0
        state.SkipWithError("check found something or failed");
        return;
    }
    for (auto _ : state)
        if (!Run(Batch(), args)) {
            state.SkipWithError("check found something or failed");
            return;
        }
}
BENCHMARK(BM_Check200x999)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5)->Repetitions(3);

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--make-text-scans") == 0)
        return MakeTextScans(argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    qputenv("HOME", QFile::encodeName(dir.filePath(QStringLiteral("home"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("home/.config"))));
    MakeScans();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
