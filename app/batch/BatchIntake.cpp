// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch add and scan: new pages filed as the main window files
// them in automatic mode, in the order given, each whole or not at all. The
// next pages are read (or scanned) and processed while one is stored.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchRecognition.h"
#include "app/batch/BatchSupport.h"

#include "core/ArchiveSession.h"
#include "core/Categories.h"
#include "core/PageList.h"
#include "core/PageText.h"
#include "core/Settings.h"
#include "imaging/AheadQueue.h"
#include "imaging/AutoProcess.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"
#include "imaging/PdfIntake.h"
#include "imaging/SpiLoad.h"
#include "imaging/scan/ScanDevices.h"
#include "imaging/scan/ScanEasy.h"
#include "imaging/scan/ScanEasySettings.h"
#include "imaging/scan/ScanThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <optional>

namespace batch {

namespace {

const QString kCannotCreateCategory = QStringLiteral("指定された分類名のフォルダを作成できません");

// Pages read and processed ahead of the one being stored (AheadQueue's
// depth).
constexpr int kPagesAhead = 1;

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
        // The texts of the new pages, as the window recognises them: when
        // the switch is on and the language data are there (without them
        // the options dialog says why, and ocr does).
        if (!args_.Has("--no-ocr") && PeekRecognitionSetting(AppSettingsStore())) {
            const RecognitionLanguages languages = AvailableLanguages();
            if (languages.Ok())
                recognition_ = std::make_unique<BatchRecognition>(session_, languages, QThread::idealThreadCount(),
                                                                  false);
        }
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

    // Room for `pages` more pages, without a word.
    bool RoomForPages(int pages) const { return session_.Pages.lines.size() + pages <= kPageListLineLimit; }

    enum class Result { Filed, Skipped, Stop, LockLost, Stopped };

    // A page made ready to be stored, or why it cannot be: what Prepare gives
    // and Store takes.
    struct Prepared {
        bool pdf = false;         // a PDF file, filed by FilePdf when its turn comes
        QString error;            // the line printed for a page skipped
        bool stops = false;       // the error ends the batch (the page could not be encoded)
        QByteArray pageBytes;
        QByteArray thumbBytes;
    };

    // Brings the picture to 24 bits, processes and encodes it. Touches no
    // session: pages are prepared on other threads while earlier ones are
    // stored. `source` names the picture in the error.
    Prepared Prepare(ImageHandle image, const QString& source) const
    {
        Prepared p;
        ImgKitInfo info{};
        const bool known = ImgKitImageInfo(image, info);
        if (!ImgKitMakeFullColour(image)) {
            // Most often the size: the picture would not fit the image
            // layer's largest block at 24 bits.
            const qint64 rowBytes = (qint64(info.width) * 3 + 3) / 4 * 4;
            if (known && rowBytes * info.height > qint64(kMaxDibBytes))
                p.error = QStringLiteral("'%1': %2 (the picture is %3 × %4 pixels: at 24 bits per pixel it "
                                         "exceeds the %5 MB the image layer takes)")
                              .arg(source, kUnreadableFormatMessage)
                              .arg(info.width)
                              .arg(info.height)
                              .arg(qint64(kMaxDibBytes) >> 20);
            else
                p.error = QStringLiteral("'%1': %2 (cannot convert it to 24 bits per pixel)")
                              .arg(source, kUnreadableFormatMessage);
            return p;
        }
        const QString extension = SaveFormatExtension(processing_.settings.SaveFormat);
        const PageMaking made = ProcessAndEncodePage(image, processing_.settings, processing_.quality,
                                                     QStringLiteral("page") + extension, QStringLiteral("thumb.jpg"),
                                                     p.pageBytes, p.thumbBytes);
        if (made == PageMaking::ProcessingFailed)
            p.error = QStringLiteral("image processing failed for '%1'").arg(source);
        else if (made != PageMaking::Done) {
            p.error = QStringLiteral("cannot file '%1' in '%2': %3").arg(source, name_, kCannotSaveMessage);
            p.stops = true;
        }
        return p;
    }

    // Prepare, where a step could not have the memory it needed.
    Prepared OutOfMemory(const QString& source) const
    {
        Prepared p;
        p.error = QStringLiteral("image processing failed for '%1' (%2)").arg(source, IoErrorFromErrno(ENOMEM).reason);
        return p;
    }

    // Files a prepared page as the last page; prints the page line, or why
    // not. `source` names it on both.
    Result Store(const Prepared& p, const QString& source)
    {
        if (!p.error.isEmpty()) {
            PrintError(p.error);
            return p.stops ? Result::Stop : Result::Skipped;
        }
        if (StopSignal())
            return Result::Stopped;
        // The session looks at the lock before it writes anything.
        const PageResult stored = session_.StoreNewPage(p.pageBytes, SaveFormatExtension(processing_.settings.SaveFormat),
                                                        p.thumbBytes);
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
        return Recognise(session_.Pages.Count() - 1);
    }

    Result File(ImageHandle image, const QString& source)
    {
        try {
            return Store(Prepare(std::move(image), source), source);
        } catch (const std::bad_alloc&) {
            return Store(OutOfMemory(source), source);
        }
    }

    // Files the pages of a PDF, each as File files a picture; its lines name
    // the file and the page.
    Result FilePdf(const QString& path)
    {
        int printed = 0;
        const PdfIntakeResult r = StorePdfPages(
            session_, path, processing_.settings, processing_.quality,
            SaveFormatExtension(processing_.settings.SaveFormat), [&](int done, int total) {
                for (; printed < done; ++printed) {
                    ++filed_;
                    PrintLine(session_.Pages.lines.last() + u'\t' + EscapedName(path)
                              + QStringLiteral(" page %1").arg(printed + 1));
                }
                if (done < total)
                    ShowProgress(QStringLiteral("add: %1 page %2/%3").arg(path).arg(done + 1).arg(total));
                return StopSignal() == 0;
            });
        if (r.outcome.lockLost) {
            lock_.Lost();
            return Result::LockLost;
        }
        if (r.stopped)
            return Result::Stopped;
        for (int i = session_.Pages.Count() - printed; i < session_.Pages.Count(); ++i)
            if (Recognise(i) == Result::LockLost)
                return Result::LockLost;
        if (r.outcome)
            return Result::Filed;
        const QString detail = r.outcome.error.reason.isEmpty() ? QString()
                                                                : QStringLiteral(" (%1)").arg(r.outcome.error.reason);
        if (r.outcome.message == kUnreadableFormatMessage) {
            PrintError(QStringLiteral("'%1': %2%3").arg(path, r.outcome.message, detail));
            return Result::Skipped;
        }
        if (r.outcome.message == kPageLimitMessage) {
            PrintError(QStringLiteral("%1: %2 ('%3': %4)").arg(name_, kPageLimitMessage, path, r.outcome.error.reason));
            return Result::Stop;
        }
        PrintError(QStringLiteral("cannot file '%1' in '%2': %3%4").arg(path, name_, r.outcome.message, detail));
        return Result::Stop;
    }

    // After the last page: the texts of the pages filed, as they come.
    // kExitOk, or the status that ends the command.
    int FinishRecognition()
    {
        if (!recognition_ || recognition_->Submitted() == 0)
            return kExitOk;
        const BatchRecognition::Kept kept = recognition_->KeepAll([](int finished, int submitted) {
            ShowProgress(QStringLiteral("recognising: %1/%2 pages").arg(finished).arg(submitted));
        });
        ClearProgress();
        if (kept == BatchRecognition::Kept::LockLost) {
            lock_.Lost();
            return kExitLocked;
        }
        if (kept == BatchRecognition::Kept::Stopped)
            return StoppedExit(QStringLiteral("%1 page(s) filed, the text of %2 of them recognised")
                                   .arg(filed_)
                                   .arg(recognition_->Recognised()));
        return kExitOk;
    }

    int Filed() const { return filed_; }
    const Processing& Values() const { return processing_; }

private:
    // The page at `index`, just filed, recognised on the cores filing leaves
    // idle, unless it has a text (a PDF's own); the texts ready meanwhile
    // are kept.
    Result Recognise(int index)
    {
        if (!recognition_)
            return Result::Filed;
        const QString folder = session_.CurrentFolder;
        if (QFileInfo::exists(WordsPath(folder, session_.Pages, index)))
            return Result::Filed;
        const QString image = ImagePath(folder, session_.Pages, index);
        const ListStamp stamp = FileStampOf(image);
        if (!image.isEmpty() && stamp.size > 0)
            recognition_->Submit(name_, folder, {PageEntry(session_.Pages, index), image, stamp});
        if (recognition_->KeepReady() == BatchRecognition::Kept::LockLost) {
            lock_.Lost();
            return Result::LockLost;
        }
        return Result::Filed;
    }

    const Arguments& args_;
    Processing processing_;
    QString archive_;
    QString name_;
    WriteLock lock_;
    ArchiveSession session_;
    int filed_ = 0;
    std::unique_ptr<BatchRecognition> recognition_;  // none when recognition is off
};

std::vector<OptionDef> Options(std::initializer_list<OptionDef> own)
{
    std::vector<OptionDef> all = {
        {"--archive", OptionDef::Text},
        {"--category", OptionDef::Text},
        {"--create", OptionDef::Flag},
        {"--force", OptionDef::Flag},
        {"--no-ocr", OptionDef::Flag},
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
    // layer first meets a file it cannot read; one file at a time, as pages
    // are read on several threads.
    std::mutex pluginMutex;
    bool pluginsLoaded = false;
    auto pluginLoad = [&](const QString& path) {
        const std::lock_guard<std::mutex> lock(pluginMutex);
        if (!pluginsLoaded) {
            AppSpiLoader().LoadPlugins(QCoreApplication::applicationDirPath());
            pluginsLoaded = true;
        }
        return AppSpiLoader().LoadImage(path);
    };

    // The next page is read and processed on a thread of its own while one
    // is stored, and the one after it starts while this one is finished (the
    // pictures of at most two pages held at once: more kept no core busier);
    // they are stored here, strictly in the order given.
    const qsizetype count = args.operands.size();
    AheadQueue<Filing::Prepared> ahead(int(count), kPagesAhead, [&](int i) {
        const QString& path = args.operands.at(i);
        Filing::Prepared p;
        if (IsPdfFile(path)) {
            p.pdf = true;
            return p;
        }
        if (StopSignal())
            return p;  // never stored: the loop stops first
        try {
            // Two pages are made side by side: each decoder on one core.
            const WholeJpegDecodes whole;
            ImageHandle image = LoadImportedFile(path, pluginLoad);
            if (!image) {
                p.error = QStringLiteral("cannot read an image from '%1': %2").arg(path, WhyNoImage(path));
                return p;
            }
            return filing.Prepare(std::move(image), path);
        } catch (const std::bad_alloc&) {
            return filing.OutOfMemory(path);
        }
    });

    int status = kExitOk;
    bool more = true;
    for (qsizetype i = 0; i < count && more; ++i) {
        const QString& path = args.operands.at(i);
        if (StopSignal())
            break;
        ShowProgress(QStringLiteral("add: %1/%2 %3").arg(i + 1).arg(count).arg(path));
        if (!filing.RoomForAPage()) {
            status = kExitFailure;
            break;
        }
        Filing::Prepared prepared;
        try {
            prepared = ahead.TakeNext();
        } catch (const std::bad_alloc&) {
            prepared = filing.OutOfMemory(path);
        }
        const Filing::Result r = prepared.pdf ? filing.FilePdf(path) : filing.Store(prepared, path);
        switch (r) {
        case Filing::Result::Filed:
            break;
        case Filing::Result::Skipped:
            status = kExitFailure;
            break;
        case Filing::Result::Stop:
            status = kExitFailure;
            more = false;
            break;
        case Filing::Result::LockLost:
            return kExitLocked;
        case Filing::Result::Stopped:
            return StoppedExit(QStringLiteral("%1 page(s) filed").arg(filing.Filed()));
        }
    }
    ClearProgress();
    if (StopSignal())
        return StoppedExit(QStringLiteral("%1 page(s) filed").arg(filing.Filed()));
    if (const int rc = filing.FinishRecognition())
        return rc;
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

    struct Page {
        scan::EasyOutcome outcome;
        bool feederEmpty = false;
    };
    std::optional<std::future<Page>> scanning;
    auto startScan = [&] {
        scanning = scan::SubmitScanJob([device = opened.device, block, stop] {
            Page p;
            p.outcome = scan::RunScanEasyOn(*device, block, stop, {}, &p.feederEmpty);
            return p;
        });
    };

    int status = kExitOk;
    for (int page = 1;; ++page) {
        if (StopSignal())
            break;
        ShowProgress(feeder ? QStringLiteral("scan: feeder page %1").arg(page) : QStringLiteral("scan"));
        if (!scanning) {
            if (!filing.RoomForAPage()) {
                status = kExitFailure;
                break;
            }
            startScan();
        }
        Page got = scanning->get();
        scanning.reset();
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
        // The next sheet is scanned while this one is processed and stored,
        // when the category has room for both.
        if (feeder && !StopSignal() && filing.RoomForPages(2))
            startScan();
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
    // A sheet scanned ahead of a page that ended the batch is not filed; the
    // scan ends before the device is closed (the scan thread takes the jobs
    // in turn).
    if (scanning)
        scanning->wait();
    close();
    ClearProgress();
    if (StopSignal())
        return StoppedExit(QStringLiteral("%1 page(s) filed").arg(filing.Filed()));
    if (status == kExitLocked)
        return status;
    if (const int rc = filing.FinishRecognition())
        return rc;
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
