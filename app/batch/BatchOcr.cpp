// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch ocr: the text of every page still without one (with --redo
// of every page), recognised on every core and kept beside the page.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"

#include "core/ArchiveFiles.h"
#include "core/ArchiveSession.h"
#include "core/Categories.h"
#include "core/PageList.h"
#include "core/PageText.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "text/ocr/RecognitionPool.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace batch {

namespace {

struct OcrPage {
    QString category;
    QString folder;
    PageToRecognise page;
};

QString PageName(const OcrPage& p)
{
    return EscapedName(p.category) + u'/' + EscapedName(p.page.entry);
}

QString PagesText(int n)
{
    return n == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(n);
}

// The results as the workers give them, for this thread to store one by one.
struct Results {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::pair<quint64, RecognitionResult>> queue;
};

}  // namespace

int RunOcr(const QStringList& argv)
{
    Arguments args;
    try {
        args = ParseArguments(argv, {{"--archive", OptionDef::Text},
                                     {"--category", OptionDef::Text},
                                     {"--redo", OptionDef::Flag},
                                     {"--force", OptionDef::Flag}});
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    if (!args.operands.isEmpty()) {
        PrintError(QStringLiteral("ocr takes no operands, '%1' given (see --help)").arg(args.operands.first()));
        return kExitUsage;
    }
    const QString archive = ArchiveFolder(args);
    if (archive.isEmpty())
        return kExitUsage;
    QStringList categories;
    if (args.Text("--category")) {
        const QString name = CategoryName(args);
        if (name.isEmpty())
            return kExitUsage;
        if (!QFileInfo(QDir(archive).filePath(name)).isDir()) {
            PrintError(QStringLiteral("there is no category '%1' in '%2'").arg(name, archive));
            return kExitUsage;
        }
        categories << name;
    } else {
        categories = ListCategoryNames(archive);
        std::sort(categories.begin(), categories.end());
    }
    const RecognitionLanguages languages = AvailableLanguages();
    if (!languages.Ok()) {
        PrintError(QStringLiteral("%1 (%2)").arg(languages.message, languages.reason));
        return kExitFailure;
    }

    CatchStopSignals();
    WriteLock lock;
    if (const int rc = lock.Take(archive, args.Has("--force")))
        return rc;
    ArchiveSession session;
    session.ArchiveRoot = archive;
    session.ArchiveShared = lock.Shared();
    session.LockHeld = lock.Held();
    if (lock.Held())
        session.LockToken = lock.Token();

    // The stamps are taken here, before any picture is read: a page edited
    // while it is being recognised is refused its stale text.
    const bool redo = args.Has("--redo");
    int status = kExitOk;
    std::vector<OcrPage> pages;
    for (const QString& name : categories) {
        const QString folder = QDir(archive).filePath(name);
        // As check reads them: a category that is a link, or leads out of
        // the archive, is not written.
        if (IsSymbolicLink(folder) || !CategoryStaysInside(folder, archive))
            continue;
        if (PageListUnreadable(folder)) {
            PrintError(QStringLiteral("'%1': FileList.txt cannot be read; its pages are not recognised")
                           .arg(EscapedName(name)));
            status = kExitFailure;
            continue;
        }
        PageList list;
        LoadPageList(list, folder);
        for (PageToRecognise& page : PagesWithoutText(folder, list, redo))
            pages.push_back({name, folder, std::move(page)});
    }

    Results results;
    RecognitionPool pool(languages, QThread::idealThreadCount());
    // Straight from the worker into the queue: this thread has no event loop.
    QObject::connect(&pool, &RecognitionPool::Finished, [&results](quint64 id, const RecognitionResult& result) {
        {
            std::lock_guard guard(results.mutex);
            results.queue.emplace_back(id, result);
        }
        results.arrived.notify_one();
    });
    for (std::size_t i = 0; i < pages.size(); ++i)
        pool.Submit(i, [path = pages[i].page.imagePath] { return DibToQImage(ImgKitFileLoad(path)); });

    const int total = int(pages.size());
    int finished = 0, recognised = 0, failed = 0;
    if (total > 0)
        ShowProgress(QStringLiteral("0/%1 pages").arg(total));
    while (finished < total && !StopSignal()) {
        std::unique_lock guard(results.mutex);
        // Woken by a result; the stop signals are looked at in between.
        if (!results.arrived.wait_for(guard, std::chrono::milliseconds(100), [&] { return !results.queue.empty(); }))
            continue;
        auto [id, result] = std::move(results.queue.front());
        results.queue.pop_front();
        guard.unlock();
        ++finished;
        const OcrPage& p = pages[id];
        if (!result.ok) {
            PrintError(QStringLiteral("%1: not recognised: %2").arg(PageName(p), result.reason));
            ++failed;
            continue;
        }
        const PageResult stored =
            session.StoreRecognisedText(p.folder, p.page.entry, p.page.imageStamp, result.text, redo);
        if (stored.lockLost) {
            lock.Lost();
            return kExitLocked;
        }
        if (!stored) {
            PrintError(QStringLiteral("%1: the text is not kept: %2%3")
                           .arg(PageName(p), stored.message,
                                stored.error.reason.isEmpty() ? QString()
                                                              : QStringLiteral(" (%1)").arg(stored.error.reason)));
            ++failed;
            continue;
        }
        ++recognised;
        ShowProgress(QStringLiteral("%1/%2 pages").arg(finished).arg(total));
    }
    ClearProgress();
    if (StopSignal()) {
        pool.CancelAll();
        return StoppedExit(QStringLiteral("%1 of %2 recognised").arg(PagesText(recognised)).arg(total));
    }
    PrintLine(failed == 0 ? QStringLiteral("%1 recognised").arg(PagesText(recognised))
                          : QStringLiteral("%1 recognised, %2 not").arg(PagesText(recognised)).arg(failed));
    return failed > 0 ? kExitFailure : status;
}

}  // namespace batch
