// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch check: every category's files against its page list, one
// line per finding, and with --repair the mends that lose nothing.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"

#include "core/ArchiveCheck.h"
#include "core/Categories.h"
#include "core/WriteGuard.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"

#include <QDir>
#include <QFileInfo>

#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace batch {

namespace {

QString FindingLine(const QString& category, const CheckFinding& f)
{
    QString where = EscapedName(category);
    if (!f.file.isEmpty())
        where = where.isEmpty() ? EscapedName(f.file) : where + u'/' + EscapedName(f.file);
    QString line = where + QStringLiteral(": ") + f.what;
    if (!f.how.isEmpty())
        line += (f.mended ? QStringLiteral("; mended: ") : QStringLiteral("; left: ")) + f.how;
    return line;
}

}  // namespace

int RunCheck(const QStringList& argv)
{
    Arguments args;
    try {
        args = ParseArguments(argv, {{"--archive", OptionDef::Text},
                                     {"--category", OptionDef::Text},
                                     {"--decode", OptionDef::Flag},
                                     {"--repair", OptionDef::Flag},
                                     {"--force", OptionDef::Flag}});
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    if (!args.operands.isEmpty()) {
        PrintError(QStringLiteral("check takes no operands, '%1' given (see --help)").arg(args.operands.first()));
        return kExitUsage;
    }
    const QString archive = ArchiveFolder(args);
    if (archive.isEmpty())
        return kExitUsage;
    const bool one = args.Text("--category").has_value();
    const std::optional<QStringList> chosen = ChosenCategories(args, archive);
    if (!chosen)
        return kExitUsage;
    const QStringList& categories = *chosen;

    const bool repair = args.Has("--repair");
    // SIGINT and SIGTERM end the check between two files, not only between
    // categories; the lock is given back on the way out.
    CatchStopSignals();
    WriteLock lock;
    if (repair) {
        if (const int rc = lock.Take(archive, args.Has("--force")))
            return rc;
    }

    CheckOptions options;
    options.repair = repair;
    options.stopRequested = [] { return StopSignal() != 0; };
    if (args.Has("--decode"))
        options.decodes = [](const QString& path) { return bool(ImgKitFileLoad(path)); };
    const Processing values = ProcessingFrom(args);
    options.makeThumbnail = [&values](const QString& imagePath) {
        return ThumbnailFileFor(imagePath, values.settings, values.quality);
    };

    // One category: checked as it is; repaired under its write guard, so that
    // no writer's files (its temporary files, a page being filed) are taken
    // for leftovers or orphans.
    auto checkOne = [&](const QString& name) -> std::vector<CheckFinding> {
        const QString folder = QDir(archive).filePath(name);
        // A category that is a link, or leads out of the archive, is only
        // reported: not even its guard is made there.
        if (!options.repair || IsSymbolicLink(folder) || !CategoryStaysInside(folder, archive)) {
            CheckOptions readOnly = options;
            readOnly.repair = false;
            return CheckCategory(folder, readOnly);
        }
        WriteGuard guard = WriteGuard::Acquire(PageListGuardPath(folder));
        if (!guard) {
            CheckFinding f;
            f.kind = FindingKind::ListUnreadable;
            f.file = QStringLiteral("FileList.txt");
            f.what = guard.Result() == WriteGuard::Outcome::Busy
                         ? QStringLiteral("another writer holds the list (%1)").arg(guard.Holder())
                         : QStringLiteral("the list cannot be guarded: %1").arg(guard.Error().reason);
            f.how = QStringLiteral("not repaired; try again");
            return {f};
        }
        return CheckCategory(folder, options);
    };

    int found = 0;
    auto report = [&](const QString& category, const std::vector<CheckFinding>& findings) {
        for (const CheckFinding& f : findings) {
            PrintLine(FindingLine(category, f));
            ++found;
        }
    };
    // Reading alone, the categories are checked side by side on every core
    // (each on its own, the findings printed in their order); a repair goes
    // one category after the other, with the lock looked at before each.
    const int workers = repair ? 0 : std::clamp(QThread::idealThreadCount(), 1, 4) - 1;
    // Deletes and moves cut short are finished first: until then their pages
    // are neither orphans nor missing.
    report(QString(), CheckLockFile(archive, options));
    report(QString(), CheckIntents(archive, options));
    std::vector<std::promise<std::vector<CheckFinding>>> results(std::size_t(categories.size()));
    std::atomic<qsizetype> nextCategory{0};
    auto work = [&] {
        for (qsizetype i; (i = nextCategory.fetch_add(1)) < categories.size();)
            results[std::size_t(i)].set_value(checkOne(categories.at(i)));
    };
    std::vector<std::thread> pool;
    struct Joined {
        std::vector<std::thread>& pool;
        ~Joined()
        {
            for (std::thread& t : pool)
                t.join();
        }
    } joined{pool};
    for (int w = 0; w < workers; ++w)
        pool.emplace_back(work);
    qsizetype checked = 0;
    for (qsizetype i = 0; i < categories.size(); ++i, ++checked) {
        if (StopSignal())
            break;
        if (repair && !lock.StillHeld())
            return kExitLocked;
        ShowProgress(QStringLiteral("check: %1/%2 %3").arg(i + 1).arg(categories.size()).arg(categories.at(i)));
        std::future<std::vector<CheckFinding>> result = results[std::size_t(i)].get_future();
        // This thread takes categories too, so it never waits idle.
        while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            const qsizetype mine = nextCategory.fetch_add(1);
            if (mine >= categories.size()) {
                result.wait();
                break;
            }
            results[std::size_t(mine)].set_value(checkOne(categories.at(mine)));
        }
        report(categories.at(i), result.get());
    }
    // What the lock file's own writes may have left in the archive folder.
    if (!one && !StopSignal())
        report(QString(), CheckLeftovers(archive, options));
    ClearProgress();
    if (StopSignal())
        return StoppedExit(QStringLiteral("%1 of %2 categories checked").arg(checked).arg(categories.size()));
    return found == 0 ? kExitOk : kExitFailure;
}

}  // namespace batch
