// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Records of page deletes and moves in progress, so that one cut short by a
// crash or a power cut is finished the way the user saw it.
//
// Before a delete or a move changes any page list, a record naming what it
// does is written in the archive root (".tolvane-intent-<id>.txt", UTF-8
// lines); it is removed once every file of the operation is in place. A
// record still there means the operation did not finish, and finishing it
// (ResolveIntent, done by check --repair) goes by what the lists say:
//   delete: forward; the page leaves the list if it is still there and its
//           files are deleted. The user asked for it and saw it go.
//   move:   forward when the destination's list names the copy (the move's
//           commit): the page leaves the source and its files there go;
//           else back: the copies in the destination are deleted and the
//           page stays in the source.
// Categories are named by folder name, relative to the archive root, so a
// record stays true when the archive is reached by another path.

#include "core/ArchiveFiles.h"

#include <QString>

#include <optional>
#include <vector>

struct PageIntent {
    enum class Kind { Delete, Move };
    Kind kind = Kind::Delete;
    QString source;            // category folder name
    QString sourceEntry;       // the page's entry there ("00000012.jpg")
    QString destination;       // move: the destination category folder name
    QString destinationEntry;  // move: the copy's entry there

    QByteArray Bytes() const;
    static std::optional<PageIntent> Parse(const QByteArray& bytes);
};

// True for the names of intent records.
bool IsIntentFileName(const QString& fileName);

// Writes a new record in `root` (atomically); its path, or empty with
// `error` saying why.
QString WriteIntent(const QString& root, const PageIntent& intent, IoError* error = nullptr);

struct PendingIntent {
    QString path;
    std::optional<PageIntent> intent;  // nullopt: a record that cannot be read
};
// The records in `root`, in name order.
std::vector<PendingIntent> PendingIntents(const QString& root);

// The image, thumbnail, memo and recognised-text paths of `entry` in the
// category folder, as named on disk where they exist (a page need not have
// its recognised text yet).
std::vector<QString> PageFilesOf(const QString& categoryFolder, const QString& entry);

struct IntentResolution {
    bool done = false;  // finished and the record removed (or it had gone)
    QString how;        // what was done, or why it was left
};
// Finishes the operation of the record at `path`, holding the page-list
// guards of the categories it names for the whole time (so a writer still at
// work finishes first). Lists that cannot be read or written back exactly
// are never written: the record stays.
IntentResolution ResolveIntent(const QString& root, const QString& path);
