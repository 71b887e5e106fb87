// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Short exclusive guards between writers of one archive: the program's
// windows and tolvane-batch on this machine, and other workstations on a
// network drive.
//
// A guard is a file created exclusively (O_CREAT | O_EXCL, which file
// servers honour) beside the file it protects, holding the owner token of
// its holder. Whoever creates it holds the guard; everyone else waits a
// bounded time for it to go. A guard left by a writer that died is broken:
// at once when its holder was a process of this machine that is gone, else
// once it has not been refreshed for kStaleGuardSeconds by the file
// server's clock (a probe file written beside it says what time the server
// keeps; the local clock is never asked, so a workstation whose clock is off
// breaks no live guard). A holder refreshes its guard by writing it again
// while it holds it, so a long hold never looks stale. Breaking is done by
// the one who proves the guard stale: the guard is renamed aside atomically
// and only deleted when the file renamed is the one judged stale.

#include "core/ArchiveFiles.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

// Who holds a lock or a guard: host name, user, process id, since when (UTC)
// and a number of its own for each taking. Written as one line of tab-separated
// fields.
struct OwnerToken {
    QString host;
    QString user;
    qint64 pid = 0;
    QDateTime since;
    QString id;

    // "host\tuser\tpid\tYYYY-MM-DDThh:mm:ssZ\tid"
    QString Line() const;
    // A line written by Line(); nullopt for anything else.
    static std::optional<OwnerToken> Parse(const QString& line);
    // For people: "user@host (process pid, since YYYY-MM-DD hh:mm:ss UTC)".
    QString Describe() const;
    bool operator==(const OwnerToken& other) const { return Line() == other.Line(); }
};

// A token for this process, with a new id.
OwnerToken NewOwnerToken();

// True when the token names a process of this machine that no longer runs.
bool OwnerIsGoneHere(const OwnerToken& token);

// The time the file server keeps for files in `folder`: the modification time
// of a probe file written there and removed at once. Invalid when it cannot
// be written.
QDateTime ServerTimeIn(const QString& folder);

inline constexpr int kStaleGuardSeconds = 30;
// A guard that holds no token (its writer died between creating and writing
// it) is stale sooner.
inline constexpr int kUnwrittenGuardSeconds = 2;

class WriteGuard {
public:
    enum class Outcome {
        Held,         // this process holds it
        Busy,         // another writer held it for the whole wait; Holder() says who
        Unavailable,  // it cannot be created (a read-only folder, a full disk); Error() says why
    };

    WriteGuard();
    ~WriteGuard();
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;
    WriteGuard(WriteGuard&& other) noexcept;
    WriteGuard& operator=(WriteGuard&& other) noexcept;

    // Takes the guard file at `path`, waiting up to `waitMs` for another
    // holder to give it back, and breaking it when it is stale.
    static WriteGuard Acquire(const QString& path, int waitMs = DefaultWaitMs());

    Outcome Result() const { return outcome_; }
    bool Held() const { return outcome_ == Outcome::Held; }
    explicit operator bool() const { return Held(); }
    // When busy: who held it, for the message ("" when its token could not be read).
    const QString& Holder() const { return holder_; }
    const IoError& Error() const { return error_; }
    const OwnerToken& Token() const { return token_; }

    // True while the guard file still holds this holder's token: asked
    // before a change is committed, in case the guard was broken meanwhile.
    bool StillHeld() const;

    // Gives the guard back: the file is removed when it still holds this
    // holder's token. Done by the destructor too.
    void Release();

    // How long Acquire waits by default (tests shorten it).
    static int DefaultWaitMs();
    static void SetDefaultWaitMs(int ms);

private:
    struct Keeper;
    Outcome outcome_ = Outcome::Unavailable;
    QString path_;
    QString holder_;
    IoError error_;
    OwnerToken token_;
    std::unique_ptr<Keeper> keeper_;
};

// The guard of a category's page list: FileList.txt.lock in the category folder.
QString PageListGuardPath(const QString& categoryFolder);
// True for the names of guard files and of guards renamed aside.
bool IsGuardFileName(const QString& fileName);
