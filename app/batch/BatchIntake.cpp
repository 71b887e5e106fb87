// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch add and scan: new pages filed as the main window files
// them in automatic mode, one after the other, each whole or not at all.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"

#include "core/ArchiveSession.h"
#include "core/Categories.h"
#include "core/PageList.h"
#include "imaging/AutoProcess.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"
#include "imaging/SpiLoad.h"
#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/ScanEasy.h"
#include "imaging/scan/ScanEasySettings.h"
#include "imaging/scan/ScanThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <memory>

namespace batch {

namespace {

const QString kUnreadableFormat = QStringLiteral("読込めないデータ形式です");
const QString kCannotCreateCategory = QStringLiteral("指定された分類名のフォルダを作成できません");

// The category the pages go to, with the lock held while they are written.
class Filing {
public:
    explicit Filing(const Arguments& args) : args_(args), processing_(ProcessingFrom(args)) {}

    // The archive, the category (made with --create), the lock: kExitOk to
    // go on, else the exit status with the message printed.
    int Open()
    {
        archive_ = ArchiveFolder(args_);
        if (archive_.isEmpty())
            return kExitUsage;
        name_ = CategoryName(args_);
        if (name_.isEmpty())
            return kExitUsage;
        const QString folder = QDir(archive_).filePath(name_);
        const QFileInfo info(folder);
        const bool exists = info.isDir();
        if (!exists && (info.exists() || !args_.Has("--create"))) {
            PrintError(info.exists() ? QStringLiteral("'%1' in '%2' is no category folder").arg(name_, archive_)
                                     : QStringLiteral("there is no category '%1' in '%2' (--create makes it)")
                                           .arg(name_, archive_));
            return kExitUsage;
        }
        CatchStopSignals();
        if (const int rc = lock_.Take(archive_, args_.Has("--force")))
            return rc;
        if (!exists) {
            // As the create-category button makes one.
            IoError error;
            if (!CreateCategoryFolder(archive_, name_, &error)) {
                PrintError(QStringLiteral("cannot create the category '%1': %2 (%3)")
                               .arg(name_, kCannotCreateCategory, error.reason));
                return kExitFailure;
            }
        }
        if (PageListUnreadable(folder)) {
            PrintError(QStringLiteral("'%1': FileList.txt cannot be read; nothing is filed over it").arg(name_));
            return kExitFailure;
        }
        session_.ArchiveRoot = archive_;
        session_.SelectCategory(folder);
        session_.ArchiveShared = lock_.Shared();
        session_.LockHeld = lock_.Held();
        if (lock_.Held())
            session_.LockToken = lock_.Token();
        return kExitOk;
    }

    // Before each page: false, with the limit message printed, when the
    // category is full.
    bool RoomForAPage() const
    {
        if (!session_.PageLimitReached())
            return true;
        PrintError(QStringLiteral("%1: %2").arg(name_, kPageLimitMessage));
        return false;
    }

    enum class Result { Filed, Skipped, Stop, LockLost, Stopped };

    // Brings the picture to 24 bits, processes it and files it as the last
    // page; prints the page line, or why not. `source` names it on both.
    Result File(ImageHandle image, const QString& source)
    {
        ImgKitInfo info{};
        const bool known = ImgKitImageInfo(image, info);
        if (!ImgKitMakeFullColour(image)) {
            // Most often the size: the picture would not fit the image
            // layer's largest block at 24 bits.
            const qint64 rowBytes = (qint64(info.width) * 3 + 3) / 4 * 4;
            if (known && rowBytes * info.height > qint64(kMaxDibBytes))
                PrintError(QStringLiteral("'%1': %2 (the picture is %3 × %4 pixels: at 24 bits per pixel it "
                                          "exceeds the %5 MB the image layer takes)")
                               .arg(source, kUnreadableFormat)
                               .arg(info.width)
                               .arg(info.height)
                               .arg(qint64(kMaxDibBytes) >> 20));
            else
                PrintError(QStringLiteral("'%1': %2 (cannot convert it to 24 bits per pixel)").arg(source, kUnreadableFormat));
            return Result::Skipped;
        }
        const PageImages made = AutoProcessImage(image, processing_.settings);
        image.Reset();
        if (!made.page || !made.thumbnail) {
            PrintError(QStringLiteral("image processing failed for '%1'").arg(source));
            return Result::Skipped;
        }
        if (StopSignal())
            return Result::Stopped;
        // The session looks at the lock before it writes anything.
        const PageResult stored = StoreProcessedPage(session_, made, processing_.quality,
                                                     SaveFormatExtension(processing_.settings.SaveFormat));
        if (stored.lockLost) {
            lock_.Lost();
            return Result::LockLost;
        }
        if (!stored) {
            PrintError(QStringLiteral("cannot file '%1' in '%2': %3%4")
                           .arg(source, name_, stored.message,
                                stored.error.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(stored.error.reason)));
            return Result::Stop;
        }
        ++filed_;
        PrintLine(session_.Pages.lines.last() + u'\t' + EscapedName(source));
        return Result::Filed;
    }

    int Filed() const { return filed_; }
    const Processing& Values() const { return processing_; }

private:
    const Arguments& args_;
    Processing processing_;
    QString archive_;
    QString name_;
    WriteLock lock_;
    ArchiveSession session_;
    int filed_ = 0;
};

std::vector<OptionDef> Options(std::initializer_list<OptionDef> own)
{
    std::vector<OptionDef> all = {
        {"--archive", OptionDef::Text},
        {"--category", OptionDef::Text},
        {"--create", OptionDef::Flag},
        {"--force", OptionDef::Flag},
    };
    all.insert(all.end(), own.begin(), own.end());
    const auto& filing = FilingOptions();
    all.insert(all.end(), filing.begin(), filing.end());
    return all;
}

}  // namespace

int RunAdd(const QStringList& argv)
{
    Arguments args;
    try {
        args = ParseArguments(argv, Options({}));
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    if (args.operands.isEmpty()) {
        PrintError(QStringLiteral("add takes the image files to file (see --help)"));
        return kExitUsage;
    }
    Filing filing(args);
    if (const int rc = filing.Open())
        return rc;

    // The Susie plug-ins of the program's folder, loaded when the image
    // layer first meets a file it cannot read.
    bool pluginsLoaded = false;
    auto pluginLoad = [&](const QString& path) {
        if (!pluginsLoaded) {
            AppSpiLoader().LoadPlugins(QCoreApplication::applicationDirPath());
            pluginsLoaded = true;
        }
        return AppSpiLoader().LoadImage(path);
    };

    int status = kExitOk;
    const qsizetype count = args.operands.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QString& path = args.operands.at(i);
        if (StopSignal())
            break;
        ShowProgress(QStringLiteral("add: %1/%2 %3").arg(i + 1).arg(count).arg(path));
        if (!filing.RoomForAPage())
            return kExitFailure;
        ImageHandle image = LoadImportedFile(path, pluginLoad);
        if (!image) {
            PrintError(QStringLiteral("cannot read an image from '%1': %2").arg(path, WhyNoImage(path)));
            status = kExitFailure;
            continue;
        }
        switch (filing.File(std::move(image), path)) {
        case Filing::Result::Filed:
            break;
        case Filing::Result::Skipped:
            status = kExitFailure;
            break;
        case Filing::Result::Stop:
            return kExitFailure;
        case Filing::Result::LockLost:
            return kExitLocked;
        case Filing::Result::Stopped:
            return StoppedExit(QStringLiteral("%1 page(s) filed").arg(filing.Filed()));
        }
    }
    ClearProgress();
    if (StopSignal())
        return StoppedExit(QStringLiteral("%1 page(s) filed").arg(filing.Filed()));
    return status;
}

namespace {

int ListDevices()
{
    const auto devices = scan::SubmitScanJob([] { return scan::ListScanDevices(); }).get();
    if (devices.empty()) {
        PrintError(QStringLiteral("no scanner found"));
        return kExitFailure;
    }
    for (const scan::ScanDevice& d : devices)
        PrintLine(QStringList{d.name, d.vendor, d.model, d.type}.join(u'\t'));
    return kExitOk;
}

QString ScanFailure(const scan::EasyOutcome& outcome)
{
    QString message = ScanEasyErrorMessage(outcome.error);
    if (message.isEmpty())
        message = QStringLiteral("the scan failed");
    return outcome.detail.isEmpty() ? message : QStringLiteral("%1 (%2)").arg(message, outcome.detail);
}

int Scan(const Arguments& args)
{
    Filing filing(args);
    if (const int rc = filing.Open())
        return rc;
    // The one-shot block from the settings, as the one-shot scan button fills it.
    const ImgKitScanEasyBlock block = ScanEasyBlockFromSettings(filing.Values().settings);
    const QString deviceName = args.Text("--device").value_or(QString());
    const bool feeder = args.Has("--feeder");
    const std::atomic<bool>* stop = StopFlag();

    // The device is opened, used and closed on the scan thread only; here
    // it is only held.
    struct Opened {
        std::shared_ptr<scan::SaneDevice> device;
        scan::EasyOutcome failure;
        QString name;
    };
    Opened opened = scan::SubmitScanJob([&] {
                        Opened o;
                        o.device = scan::OpenEasyDevice(deviceName, o.failure);
                        if (o.device) {
                            o.name = o.device->Name();
                            if (feeder)
                                o.failure.error = scan::SelectFeeder(*o.device);
                            if (o.failure.error != kImgKitScanOk) {
                                o.failure.detail = QStringLiteral("the scanner has no document feeder");
                                o.device.reset();
                            }
                        }
                        return o;
                    }).get();
    if (!opened.device) {
        PrintError(QStringLiteral("cannot scan: %1").arg(ScanFailure(opened.failure)));
        return kExitFailure;
    }
    auto close = [&] { scan::SubmitScanJob([device = std::move(opened.device)]() mutable { device.reset(); }).get(); };

    int status = kExitOk;
    for (int page = 1;; ++page) {
        if (StopSignal())
            break;
        ShowProgress(feeder ? QStringLiteral("scan: feeder page %1").arg(page) : QStringLiteral("scan"));
        if (!filing.RoomForAPage()) {
            status = kExitFailure;
            break;
        }
        struct Page {
            scan::EasyOutcome outcome;
            bool feederEmpty = false;
        };
        Page got = scan::SubmitScanJob([device = opened.device, block, stop] {
                       Page p;
                       p.outcome = scan::RunScanEasyOn(*device, block, stop, {}, &p.feederEmpty);
                       return p;
                   }).get();
        if (feeder && got.feederEmpty) {
            if (page == 1) {
                PrintError(QStringLiteral("the document feeder of %1 is empty").arg(opened.name));
                status = kExitFailure;
            }
            break;
        }
        if (!got.outcome.image) {
            if (StopSignal())
                break;
            PrintError(QStringLiteral("scan of %1 failed: %2")
                           .arg(feeder ? QStringLiteral("feeder page %1").arg(page) : opened.name,
                                ScanFailure(got.outcome)));
            status = kExitFailure;
            break;
        }
        const QString source = feeder ? QStringLiteral("%1 feeder page %2").arg(opened.name).arg(page) : opened.name;
        const Filing::Result r = filing.File(std::move(got.outcome.image), source);
        if (r == Filing::Result::Skipped || r == Filing::Result::Stop) {
            status = kExitFailure;
            break;
        }
        if (r == Filing::Result::LockLost) {
            status = kExitLocked;
            break;
        }
        if (r == Filing::Result::Stopped || !feeder)
            break;
    }
    close();
    ClearProgress();
    if (StopSignal())
        return StoppedExit(QStringLiteral("%1 page(s) filed").arg(filing.Filed()));
    return status;
}

}  // namespace

int RunScan(const QStringList& argv)
{
    Arguments args;
    try {
        args = ParseArguments(argv, Options({{"--device", OptionDef::Text},
                                             {"--feeder", OptionDef::Flag},
                                             {"--list-devices", OptionDef::Flag}}));
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    if (!args.operands.isEmpty()) {
        PrintError(QStringLiteral("scan takes no operands, '%1' given (see --help)").arg(args.operands.first()));
        return kExitUsage;
    }
    // SANE ends with the command, on every way out.
    scan::ScanLibraryGuard scanning;
    if (args.Has("--list-devices"))
        return ListDevices();
    return Scan(args);
}

}  // namespace batch
