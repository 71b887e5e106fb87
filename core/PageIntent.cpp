// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/PageIntent.h"

#include "core/PageList.h"
#include "core/PageText.h"
#include "core/WriteGuard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

namespace {

const QString kPrefix = QStringLiteral(".tolvane-intent-");
const QString kSuffix = QStringLiteral(".txt");

// A category name as a record may hold it: one plain folder name.
bool SafeName(const QString& name)
{
    return IsSafePageEntry(name) && !name.isEmpty();
}

// True when every file of the entry is gone.
bool RemoveFiles(const QString& folder, const QString& entry)
{
    bool gone = true;
    for (const QString& f : PageFilesOf(folder, entry))
        gone = RemoveFileRetrying(f) && gone;
    return gone;
}

}  // namespace

QByteArray PageIntent::Bytes() const
{
    QStringList lines;
    if (kind == Kind::Delete)
        lines << QStringLiteral("delete") << source << sourceEntry;
    else
        lines << QStringLiteral("move") << source << sourceEntry << destination << destinationEntry;
    return (lines.join(u'\n') + u'\n').toUtf8();
}

std::optional<PageIntent> PageIntent::Parse(const QByteArray& bytes)
{
    if (!bytes.endsWith('\n'))
        return std::nullopt;  // cut short
    QStringList lines = QString::fromUtf8(bytes).split(u'\n');
    lines.removeLast();
    PageIntent intent;
    if (lines.size() == 3 && lines.at(0) == u"delete") {
        intent.kind = Kind::Delete;
    } else if (lines.size() == 5 && lines.at(0) == u"move") {
        intent.kind = Kind::Move;
        intent.destination = lines.at(3);
        intent.destinationEntry = lines.at(4);
        if (!SafeName(intent.destination) || !IsSafePageEntry(intent.destinationEntry))
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    intent.source = lines.at(1);
    intent.sourceEntry = lines.at(2);
    if (!SafeName(intent.source) || !IsSafePageEntry(intent.sourceEntry))
        return std::nullopt;
    return intent;
}

bool IsIntentFileName(const QString& fileName)
{
    return fileName.startsWith(kPrefix) && fileName.endsWith(kSuffix);
}

QString WriteIntent(const QString& root, const PageIntent& intent, IoError* error)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString path = root + u'/' + kPrefix
                             + QString::number(QRandomGenerator::system()->generate64(), 36) + kSuffix;
        if (QFileInfo::exists(path))
            continue;
        return WriteFileAtomically(path, intent.Bytes(), error) ? path : QString();
    }
    if (error)
        *error = IoErrorFromErrno(EEXIST);
    return QString();
}

std::vector<PendingIntent> PendingIntents(const QString& root)
{
    std::vector<PendingIntent> found;
    const QStringList names = QDir(root).entryList({kPrefix + u'*'}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (!IsIntentFileName(name))
            continue;
        PendingIntent p;
        p.path = root + u'/' + name;
        if (const std::optional<QByteArray> bytes = ReadWholeFile(p.path))
            p.intent = PageIntent::Parse(*bytes);
        found.push_back(std::move(p));
    }
    return found;
}

std::vector<QString> PageFilesOf(const QString& categoryFolder, const QString& entry)
{
    if (!IsSafePageEntry(entry))
        return {};
    const QString number = PageNumberOfEntry(entry);
    return {ResolveExistingPath(categoryFolder + QStringLiteral("/Image/") + entry),
            ResolveExistingPath(categoryFolder + QStringLiteral("/Thumb/") + number + QStringLiteral(".jpg")),
            ResolveExistingPath(categoryFolder + QStringLiteral("/Text/") + number + QStringLiteral(".txt")),
            ResolveExistingPath(categoryFolder + u'/' + kWordsFolder + u'/' + number + QStringLiteral(".tsv"))};
}

IntentResolution ResolveIntent(const QString& root, const QString& path)
{
    IntentResolution r;
    std::optional<QByteArray> bytes = ReadWholeFile(path);
    if (!bytes) {
        r.done = !QFileInfo::exists(path);
        r.how = r.done ? QStringLiteral("finished by its writer") : QStringLiteral("the record cannot be read");
        return r;
    }
    std::optional<PageIntent> intent = PageIntent::Parse(*bytes);
    if (!intent) {
        r.how = QStringLiteral("the record names no operation this program makes; left for a person to look at");
        return r;
    }
    const QString source = ResolveExistingPath(root + u'/' + intent->source);
    const QString destination =
        intent->kind == PageIntent::Kind::Move ? ResolveExistingPath(root + u'/' + intent->destination) : QString();

    // The guards in path order, as the writers take them.
    QStringList folders{source};
    if (!destination.isEmpty())
        folders << destination;
    std::sort(folders.begin(), folders.end());
    std::vector<WriteGuard> guards;
    for (const QString& f : folders) {
        guards.push_back(WriteGuard::Acquire(PageListGuardPath(f)));
        if (!guards.back()) {
            r.how = guards.back().Result() == WriteGuard::Outcome::Busy
                        ? QStringLiteral("another writer holds %1 (%2)").arg(f, guards.back().Holder())
                        : QStringLiteral("cannot guard %1: %2").arg(f, guards.back().Error().reason);
            return r;
        }
    }
    // A writer that held a guard until now may have finished it.
    const QByteArray judged = *bytes;
    bytes = ReadWholeFile(path);
    if (!bytes || *bytes != judged) {
        r.done = !QFileInfo::exists(path);
        r.how = r.done ? QStringLiteral("finished by its writer") : QStringLiteral("the record changed; left");
        return r;
    }

    auto dropFromSource = [&]() -> bool {
        PageList list;
        const ListRead read = ReadPageListForChange(list, source);
        if (read != ListRead::Read) {
            r.how = QStringLiteral("FileList.txt of %1 cannot be written back exactly; left").arg(intent->source);
            return false;
        }
        const int at = IndexOfEntry(list, intent->sourceEntry);
        if (at >= 0) {
            RemovePageEntry(list, at);
            IoError error;
            if (!SavePageList(list, source, &error)) {
                r.how = QStringLiteral("FileList.txt of %1 cannot be written: %2").arg(intent->source, error.reason);
                return false;
            }
        }
        if (!RemoveFiles(source, intent->sourceEntry)) {
            r.how = QStringLiteral("a file of %1/%2 cannot be deleted (held open elsewhere?); left")
                        .arg(intent->source, intent->sourceEntry);
            return false;
        }
        return true;
    };

    if (intent->kind == PageIntent::Kind::Delete) {
        if (!dropFromSource())
            return r;
        r.how = QStringLiteral("the delete of %1/%2 finished").arg(intent->source, intent->sourceEntry);
    } else {
        PageList there;
        if (ReadPageListForChange(there, destination) == ListRead::Unreadable) {
            r.how = QStringLiteral("FileList.txt of %1 cannot be read; left").arg(intent->destination);
            return r;
        }
        if (IndexOfEntry(there, intent->destinationEntry) >= 0) {
            if (!dropFromSource())
                return r;
            r.how = QStringLiteral("the move of %1/%2 to %3/%4 finished")
                        .arg(intent->source, intent->sourceEntry, intent->destination, intent->destinationEntry);
        } else {
            if (!RemoveFiles(destination, intent->destinationEntry)) {
                r.how = QStringLiteral("a copy in %1 cannot be deleted (held open elsewhere?); left").arg(intent->destination);
                return r;
            }
            r.how = QStringLiteral("the move of %1/%2 taken back: the page stays there")
                        .arg(intent->source, intent->sourceEntry);
        }
    }
    if (!RemoveFileRetrying(path)) {
        r.how += QStringLiteral("; the record cannot be removed");
        return r;
    }
    r.done = true;
    return r;
}
