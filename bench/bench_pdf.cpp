// SPDX-License-Identifier: GPL-3.0-or-later
// PDF out and in. The export of 100 scanned pages with their recognised text
// (goal: under 2 s and 100 MB at its peak, measured in a child of its own);
// filing a page of a PDF (one JPEG with or without its words) against
// filing a JPEG of the same pixels through the same intake steps; and refusing a PDF of 10,000 pages or of a page of
// a million points a side, which must cost next to nothing.

#include "core/ArchiveSession.h"
#include "core/Categories.h"
#include "core/PageText.h"
#include "imaging/AutoProcess.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"
#include "imaging/PdfIntake.h"
#include "text/pdf/PdfExport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kExportPages = 100;

QTemporaryDir& Folder()
{
    static QTemporaryDir dir;
    return dir;
}

QString F(const QString& name)
{
    return Folder().filePath(name);
}

// A scan-like page: paper with grain, lines of dark strokes.
QImage ScanPicture(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB888);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        const bool inkRow = (y / 12) % 3 == 1 && y > height / 12 && y < height * 11 / 12;
        for (int x = 0; x < width; ++x) {
            const int v = inkRow && (x * 7 + y) % 23 < 9 ? 30 + int(random.bounded(40)) : 235 + int(random.bounded(15));
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = uchar(v);
        }
    }
    return image;
}

QByteArray Jpeg(const QImage& image)
{
    QByteArray bytes;
    ImgKitJpegEncode(QImageToDib(image), 80, bytes);
    return bytes;
}

void Put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// 300 words a page, in lines of 6.
PageText ScanWords(int width, int height)
{
    PageText text{width, height, QStringLiteral("ocr:jpn+eng"), {}};
    const QString words[] = {QStringLiteral("請求書"), QStringLiteral("Invoice"), QStringLiteral("東京都千代田区"),
                             QStringLiteral("2024-05-31"), QStringLiteral("合計金額"), QStringLiteral("¥12,800")};
    for (int i = 0; i < 300; ++i)
        text.words.push_back({i / 6, QRect(40 + (i % 6) * 160, 40 + (i / 6) * 27, 150, 22), 90, words[i % 6]});
    return text;
}

const std::vector<PdfPageSource>& ExportSources()
{
    static const std::vector<PdfPageSource> sources = [] {
        std::vector<PdfPageSource> s;
        for (int i = 0; i < kExportPages; ++i) {
            const QString path = F(QStringLiteral("%1.jpg").arg(i + 1, 8, 10, QLatin1Char('0')));
            Put(path, Jpeg(ScanPicture(1024, 1448, quint32(i))));
            s.push_back({path, ScanWords(1024, 1448)});
        }
        return s;
    }();
    return sources;
}

// The peak resident memory of `work` run in a child process, in MB (the
// pages it shares with this process when it starts included).
double PeakMbOf(const std::function<void()>& work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        ::_exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

void BM_Export100PagesWithText(benchmark::State& state)
{
    const std::vector<PdfPageSource>& sources = ExportSources();
    const QString out = F(QStringLiteral("export.pdf"));
    for (auto _ : state) {
        const PdfExportResult r = ExportPdf(sources, out);
        if (!r.ok)
            state.SkipWithError(qPrintable(r.message));
    }
    state.counters["file_MB"] = double(QFile(out).size()) / (1 << 20);
    state.counters["peak_MB"] = PeakMbOf([&] { ExportPdf(sources, F(QStringLiteral("child.pdf"))); });
}
BENCHMARK(BM_Export100PagesWithText)->Unit(benchmark::kMillisecond)->Iterations(5);

// A category that is emptied again before it fills.
class Category {
public:
    explicit Category(const QString& name) : folder_(F(name)) { Reset(); }
    ArchiveSession& Session(benchmark::State& state)
    {
        if (session_.Pages.Count() > 900) {
            state.PauseTiming();
            Reset();
            state.ResumeTiming();
        }
        return session_;
    }

private:
    void Reset()
    {
        QDir(folder_).removeRecursively();
        CreateCategoryFolder(QFileInfo(folder_).path(), QFileInfo(folder_).fileName());
        session_ = ArchiveSession();
        session_.SelectCategory(folder_);
    }
    QString folder_;
    ArchiveSession session_;
};

// One A4 page of a PDF: a 1654 × 2339 JPEG (A4 at 200 dpi) with its words,
// and the same JPEG as a file.
const QString& A4Jpeg()
{
    static const QString path = [] {
        const QString p = F(QStringLiteral("a4.jpg"));
        Put(p, Jpeg(ScanPicture(1654, 2339, 99)));
        return p;
    }();
    return path;
}

// The JPEG as the one picture of a PDF page, with its words (arg 1) or
// without (arg 0).
const QString& A4Pdf(bool withWords = true)
{
    static const QString paths[2] = {[] {
                                         const QString p = F(QStringLiteral("a4-bare.pdf"));
                                         ExportPdf({{A4Jpeg(), std::nullopt}}, p);
                                         return p;
                                     }(),
                                     [] {
                                         const QString p = F(QStringLiteral("a4.pdf"));
                                         ExportPdf({{A4Jpeg(), ScanWords(1654, 2339)}}, p);
                                         return p;
                                     }()};
    return paths[withWords ? 1 : 0];
}

void BM_FilePdfPage(benchmark::State& state)
{
    Category category(QStringLiteral("FromPdf"));
    const Settings settings = DefaultSettings();
    const QString& pdf = A4Pdf(state.range(0) != 0);
    for (auto _ : state) {
        const PdfIntakeResult r = StorePdfPages(category.Session(state), pdf, settings);
        if (!r)
            state.SkipWithError(qPrintable(r.outcome.error.reason));
    }
}
BENCHMARK(BM_FilePdfPage)->ArgName("words")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// What BatchIntake does with an image file; with the same words stored
// beside it (arg 1), as the PDF's page is with its text.
void BM_FileJpegOfTheSameSize(benchmark::State& state)
{
    Category category(QStringLiteral("FromJpeg"));
    const Settings settings = DefaultSettings();
    std::optional<PageText> words;
    if (state.range(0) != 0) {
        // The words on the page image, as the PDF intake moves them there.
        words = ScanWords(1654, 2339);
        const PageSize page = PageSizeFor(1654, 2339, settings);
        for (PageWord& w : words->words)
            w.box = QRect(w.box.x() * page.width / 1654, w.box.y() * page.height / 2339,
                          w.box.width() * page.width / 1654, w.box.height() * page.height / 2339);
        words->width = page.width;
        words->height = page.height;
        words->source = QStringLiteral("pdf");
    }
    for (auto _ : state) {
        ImageHandle image = LoadImportedFile(A4Jpeg(), {});
        ImgKitMakeFullColour(image);
        const PageImages made = AutoProcessImage(image, settings);
        image.Reset();
        if (!StoreProcessedPage(category.Session(state), made, settings, words ? &*words : nullptr))
            state.SkipWithError("not filed");
    }
}
BENCHMARK(BM_FileJpegOfTheSameSize)->ArgName("words")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Made with qpdf's own tool: one page repeated, 100 × 100.
const QString& TenThousandPages()
{
    static const QString path = [] {
        const QString blank = F(QStringLiteral("blank.pdf")), hundred = F(QStringLiteral("hundred.pdf"));
        QProcess::execute(QStringLiteral("qpdf"), {QStringLiteral("--empty"), QStringLiteral("--pages"), A4Pdf(),
                                                   QStringLiteral("--"), blank});
        QStringList args{QStringLiteral("--empty"), QStringLiteral("--pages")};
        for (int i = 0; i < 100; ++i)
            args << blank;
        QProcess::execute(QStringLiteral("qpdf"), args + QStringList{QStringLiteral("--"), hundred});
        args = QStringList{QStringLiteral("--empty"), QStringLiteral("--pages")};
        for (int i = 0; i < 100; ++i)
            args << hundred;
        const QString many = F(QStringLiteral("many.pdf"));
        QProcess::execute(QStringLiteral("qpdf"), args + QStringList{QStringLiteral("--"), many});
        return many;
    }();
    return path;
}

const QString& MillionPointPage()
{
    static const QString path = [] {
        const QString p = F(QStringLiteral("huge.pdf"));
        Put(p, QByteArray("%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                          "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
                          "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 1000000 1000000] >> endobj\n"
                          "trailer << /Root 1 0 R >>\n%%EOF\n"));
        return p;
    }();
    return path;
}

void Refuse(benchmark::State& state, const QString& pdf)
{
    Category category(QStringLiteral("Refusing"));
    const Settings settings = DefaultSettings();
    for (auto _ : state) {
        const PdfIntakeResult r = StorePdfPages(category.Session(state), pdf, settings);
        if (r)
            state.SkipWithError("filed");
    }
    state.counters["file_MB"] = double(QFile(pdf).size()) / (1 << 20);
    state.counters["peak_MB"] = PeakMbOf([&] {
        ArchiveSession session;
        session.SelectCategory(F(QStringLiteral("Refusing")));
        StorePdfPages(session, pdf, settings);
    });
}

void BM_RefuseTenThousandPages(benchmark::State& state)
{
    Refuse(state, TenThousandPages());
}
BENCHMARK(BM_RefuseTenThousandPages)->Unit(benchmark::kMillisecond);

void BM_RefuseMillionPointPage(benchmark::State& state)
{
    Refuse(state, MillionPointPage());
}
BENCHMARK(BM_RefuseMillionPointPage)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
