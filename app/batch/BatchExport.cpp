// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch export: pages of a category as one searchable PDF, their
// recognised text as its text layer.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"

#include "core/ArchiveFiles.h"
#include "core/PageList.h"
#include "core/PageText.h"
#include "text/pdf/PdfExport.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <vector>

namespace batch {

namespace {

// No list asks for more: a longer one is a mistake.
constexpr qsizetype kPageListLimit = 100000;

// "1,3,5-8": page numbers from 1 in display order, in the order given, as
// indexes from 0; nullopt with the reason when the list is malformed or
// names a page past `count`.
std::optional<std::vector<int>> ParsePages(const QString& text, int count, QString& why)
{
    std::vector<int> pages;
    auto number = [&](const QString& digits, int& value) {
        bool ok = false;
        value = digits.toInt(&ok);
        if (!ok || digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
            return false;
        return true;
    };
    for (const QString& part : text.split(u',')) {
        const QString item = part.trimmed();
        const qsizetype dash = item.indexOf(u'-');
        int first = 0, last = 0;
        if (!(dash < 0 ? number(item, first) && (last = first, true)
                       : number(item.left(dash), first) && number(item.mid(dash + 1), last))) {
            why = QStringLiteral("--pages: '%1' is no page number or range (like 1,3,5-8)").arg(item);
            return std::nullopt;
        }
        if (first < 1 || last < 1) {
            why = QStringLiteral("--pages: pages are numbered from 1, '%1' given").arg(item);
            return std::nullopt;
        }
        if (first > last) {
            why = QStringLiteral("--pages: the range '%1' runs backwards").arg(item);
            return std::nullopt;
        }
        if (last > count) {
            why = QStringLiteral("--pages: page %1 is past the last page (%2)").arg(last).arg(count);
            return std::nullopt;
        }
        if (pages.size() + std::size_t(last - first + 1) > std::size_t(kPageListLimit)) {
            why = QStringLiteral("--pages: more than %1 pages asked for").arg(kPageListLimit);
            return std::nullopt;
        }
        for (int page = first; page <= last; ++page)
            pages.push_back(page - 1);
    }
    return pages;
}

}  // namespace

int RunExport(const QStringList& argv)
{
    Arguments args;
    try {
        args = ParseArguments(argv, {{"--archive", OptionDef::Text},
                                     {"--category", OptionDef::Text},
                                     {"--pages", OptionDef::Text}});
    } catch (const UsageError& e) {
        PrintError(e.message);
        return kExitUsage;
    }
    if (args.operands.size() != 1) {
        PrintError(QStringLiteral("export takes one OUT.pdf, %1 given (see --help)").arg(args.operands.size()));
        return kExitUsage;
    }
    const QString out = args.operands.first();
    const QString archive = ArchiveFolder(args);
    if (archive.isEmpty())
        return kExitUsage;
    const QString name = CategoryName(args);
    if (name.isEmpty())
        return kExitUsage;
    const QString folder = QDir(archive).filePath(name);
    if (!QFileInfo(folder).isDir()) {
        PrintError(QStringLiteral("there is no category '%1' in '%2'").arg(name, archive));
        return kExitUsage;
    }

    // Never over a file of the category itself.
    if (ResolvesInside(QFileInfo(out).absolutePath(), folder)) {
        PrintError(QStringLiteral("'%1' is inside the category '%2'; the PDF goes elsewhere").arg(out, name));
        return kExitUsage;
    }
    // Only read: no lock is needed, nothing of the archive is written.
    if (PageListUnreadable(folder)) {
        PrintError(QStringLiteral("the page list of '%1' cannot be read").arg(name));
        return kExitFailure;
    }
    PageList list;
    LoadPageList(list, folder);
    std::vector<int> indexes;
    if (const std::optional<QString> pages = args.Text("--pages")) {
        QString why;
        const std::optional<std::vector<int>> parsed = ParsePages(*pages, list.Count(), why);
        if (!parsed) {
            PrintError(why);
            return kExitUsage;
        }
        indexes = *parsed;
    } else {
        for (int i = 0; i < list.Count(); ++i)
            indexes.push_back(i);
    }
    if (indexes.empty()) {
        PrintError(QStringLiteral("the category '%1' has no pages").arg(name));
        return kExitFailure;
    }

    const std::vector<PdfPageSource> sources = PdfSourcesOf(folder, list, indexes);
    const PdfExportResult result = ExportPdf(sources, out);
    for (const PdfSkippedPage& skipped : result.skipped) {
        const int index = indexes[std::size_t(skipped.index)];
        const QString entry = PageEntry(list, index);
        const QString reason = !IsSafePageEntry(entry) ? QStringLiteral("the entry names no file")
                               : sources[std::size_t(skipped.index)].imagePath.isEmpty()
                                   ? QStringLiteral("the page image is a symbolic link")
                                   : skipped.reason;
        PrintError(QStringLiteral("page %1 (%2): %3; left out").arg(index + 1).arg(EscapedName(entry), reason));
    }
    if (!result.ok) {
        PrintError(QStringLiteral("no PDF written: %1").arg(result.message));
        return kExitFailure;
    }
    PrintLine(QStringLiteral("%1\t%2").arg(EscapedName(out)).arg(result.pages));
    return result.skipped.empty() ? kExitOk : kExitFailure;
}

}  // namespace batch
