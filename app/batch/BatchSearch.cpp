// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch search: the folded search of the window, one line per hit.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"

#include "text/SearchIndex.h"

namespace batch {

int RunSearch(const QStringList& argv)
{
    Arguments args;
    try {
        args = ParseArguments(argv, {{"--archive", OptionDef::Text},
                                     {"--category", OptionDef::Text},
                                     {"--max", OptionDef::Number, 1, 1000000}});
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    if (args.operands.size() != 1) {
        PrintError(QStringLiteral("search takes one query (see --help)"));
        return kExitUsage;
    }
    const QString archive = ArchiveFolder(args);
    if (archive.isEmpty())
        return kExitUsage;
    QString only;
    if (args.Text("--category")) {
        only = CategoryName(args);
        if (only.isEmpty())
            return kExitUsage;
    }
    CatchStopSignals();
    const std::atomic<bool>* stopFlag = StopFlag();
    const auto stop = [stopFlag] { return stopFlag && stopFlag->load(); };
    SearchIndex index(archive);
    const SearchStatus status = index.Refresh(stop);
    if (StopSignal())
        return StoppedExit(QStringLiteral("nothing printed"));
    if (!status.ok) {
        PrintError(status.message);
        return kExitFailure;
    }
    if (!status.message.isEmpty())
        PrintError(status.message);
    // The cap counts the printed lines: hits of other categories are passed over.
    const int max = args.Number("--max").value_or(1000000);
    const SearchResult result = index.Find(args.operands.first(), only.isEmpty() ? max : 1000000, stop);
    if (StopSignal())
        return StoppedExit(QStringLiteral("nothing printed"));
    int printed = 0;
    for (const SearchHit& hit : result.hits) {
        if (!only.isEmpty() && hit.category != only)
            continue;
        if (printed++ >= max)
            break;
        PrintLine(EscapedName(hit.category) + u'\t' + EscapedName(hit.entry) + u'\t' + EscapedName(hit.snippet));
    }
    return printed > 0 ? kExitOk : kExitFailure;
}

}  // namespace batch
