// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch ocr: the text of every page still without one (with --redo
// of every page), recognised on every core and kept beside the page.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchRecognition.h"
#include "app/batch/BatchSupport.h"

#include "core/ArchiveFiles.h"
#include "core/ArchiveSession.h"
#include "core/Categories.h"
#include "core/PageList.h"
#include "core/PageText.h"
#include "text/ocr/Recogniser.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>


namespace batch {

namespace {

QString PagesText(int n)
{
    return n == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(n);
}

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
    const std::optional<QStringList> chosen = ChosenCategories(args, archive);
    if (!chosen)
        return kExitUsage;
    const QStringList& categories = *chosen;
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
    BatchRecognition recognition(session, languages, QThread::idealThreadCount(), redo);
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
        for (const PageToRecognise& page : PagesWithoutText(folder, list, redo))
            recognition.Submit(name, folder, page);
    }

    const int total = recognition.Submitted();
    if (total > 0)
        ShowProgress(QStringLiteral("0/%1 pages").arg(total));
    const BatchRecognition::Kept kept = recognition.KeepAll([](int finished, int submitted) {
        ShowProgress(QStringLiteral("%1/%2 pages").arg(finished).arg(submitted));
    });
    if (kept == BatchRecognition::Kept::LockLost) {
        lock.Lost();
        return kExitLocked;
    }
    const int recognised = recognition.Recognised(), failed = recognition.Failed();
    ClearProgress();
    if (kept == BatchRecognition::Kept::Stopped || StopSignal())
        return StoppedExit(QStringLiteral("%1 of %2 recognised").arg(PagesText(recognised)).arg(total));
    PrintLine(failed == 0 ? QStringLiteral("%1 recognised").arg(PagesText(recognised))
                          : QStringLiteral("%1 recognised, %2 not").arg(PagesText(recognised)).arg(failed));
    return failed > 0 ? kExitFailure : status;
}

}  // namespace batch
