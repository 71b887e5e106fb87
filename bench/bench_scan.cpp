// SPDX-License-Identifier: GPL-3.0-or-later
// A 600 dpi A4 colour scan (4960 x 7016) through the SANE test backend:
// the read loop into the DIB block against `scanimage --format=pnm > /dev/null`
// for the same scan (goal: within 1.2x), and the peak resident memory of the
// scan (goal: under 3.5x the 24-bit picture).
//
// Counters: loop_s and scanimage_s (seconds per scan), ratio (loop /
// scanimage), picture_MB, peak_MB (process peak during the scan, from
// VmHWM after resetting it) and peak_ratio (peak_MB / picture_MB).
//
// What the two times hold: loop_s starts at sane_start on a device opened
// and set up beforehand; scanimage_s is the whole command, so it also holds
// starting sh and scanimage, sane_init, sane_open and setting the options.
// scanimage_setup_s is that same command for a 1 x 1 mm area, and
// ratio_read = loop_s / (scanimage_s - scanimage_setup_s) compares the
// reading alone. The times are medians over the iterations (on a busy or
// virtual machine single scans can take several times as long), and every
// other iteration runs scanimage first, so that neither always follows the
// other.

#include "imaging/scan/SaneDevice.h"
#include "imaging/scan/ScanReader.h"
#include "imaging/scan/ScanThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

const char* const kConfig = TOLVANE_SOURCE_DIR "/bench/sane";

// VmHWM of this process in bytes.
double PeakResident()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() * 1024.0;
    return 0;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void ResetPeakResident()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

void BM_ScanA4Colour600(benchmark::State& state)
{
    std::shared_ptr<scan::SaneDevice> device(
        scan::SubmitScanJob([] {
            auto d = scan::SaneDevice::Open(QStringLiteral("test:0"), {}, {});
            if (d)
                for (auto [name, value] : {std::pair<const char*, QVariant>{"mode", QStringLiteral("Color")},
                                           {"depth", 8}, {"resolution", 600.0}, {"tl-x", 0.0}, {"tl-y", 0.0},
                                           {"br-x", 210.0}, {"br-y", 297.0}})
                    d->Set(QLatin1String(name), value);
            return d.release();
        }).get(),
        [](scan::SaneDevice* d) { scan::SubmitScanJob([d] { delete d; }).get(); });
    if (!device) {
        state.SkipWithError("test:0 does not open");
        return;
    }
    const auto command = [](const char* area) {
        return QStringList{QStringLiteral("-c"),
                           QStringLiteral("scanimage -d test:0 --mode=Color --depth=8 --resolution=600 -l0 -t0 %1 "
                                          "--format=pnm > /dev/null")
                               .arg(QLatin1String(area))};
    };
    const QStringList page = command("-x210 -y297");
    const QStringList corner = command("-x1 -y1");
    // Seconds for the command, or a negative number when it fails.
    const auto run = [](const QStringList& args) {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.start(QStringLiteral("sh"), args);
        if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return -1.0;
        return t.nsecsElapsed() / 1e9;
    };
    std::vector<double> loop, reference, setup;
    double peak = 0, picture = 0;
    int width = 0, height = 0;
    for (auto _ : state) {
        const bool scanimageFirst = loop.size() % 2 == 1;
        if (scanimageFirst)
            reference.push_back(run(page));

        QElapsedTimer t;
        ResetPeakResident();
        t.start();
        auto out = scan::SubmitScanJob([device] {
            scan::SaneFrameSource source(device->Handle());
            return scan::ReadScan(source, 600, 600);
        }).get();
        loop.push_back(t.nsecsElapsed() / 1e9);
        peak = std::max(peak, PeakResident());
        const DibLayout l = DibLayoutOf(out.image);
        if (out.status != SANE_STATUS_GOOD || !l.valid) {
            state.SkipWithError("the scan failed");
            return;
        }
        width = l.width;
        height = l.height;
        picture = double(l.width) * l.height * 3;
        out.image.Reset();

        if (!scanimageFirst)
            reference.push_back(run(page));
        setup.push_back(run(corner));
        if (reference.back() < 0 || setup.back() < 0) {
            state.SkipWithError("scanimage failed");
            return;
        }
    }
    const double loopS = Median(loop), referenceS = Median(reference), setupS = Median(setup);
    state.counters["width"] = width;
    state.counters["height"] = height;
    state.counters["loop_s"] = loopS;
    state.counters["scanimage_s"] = referenceS;
    state.counters["scanimage_setup_s"] = setupS;
    state.counters["ratio"] = loopS / referenceS;
    state.counters["ratio_read"] = referenceS > setupS ? loopS / (referenceS - setupS) : 0;
    state.counters["picture_MB"] = picture / 1e6;
    state.counters["peak_MB"] = peak / 1e6;
    state.counters["peak_ratio"] = peak / picture;
}
BENCHMARK(BM_ScanA4Colour600)->Unit(benchmark::kMillisecond)->Iterations(7)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    // Before SANE starts: it reads the folder once.
    setenv("SANE_CONFIG_DIR", kConfig, 1);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    scan::ShutdownScanning();
    return 0;
}
