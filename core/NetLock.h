// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ArchiveFiles.h"
// The shared-write lock of an archive used from several workstations.
//
// NetLock.CTL, in the archive root (the program's folder), marks the archive
// as shared. Its first line says whether some workstation holds the right to
// write: "1" taken, "0" free, with CR LF; every reader of the first character
// reads it so. The holder writes its owner token as a second line (host,
// user, process, since when), so that others can say who holds it and the
// holder can tell that it still does. A file of "1" alone (written by an
// older program) is taken by nobody known.

#include "core/WriteGuard.h"

#include <QString>

#include <functional>

inline constexpr char kNetLockFileName[] = "NetLock.CTL";

enum class LockState {
    Unreadable = -1,  // missing, unreadable, or neither "0" nor "1" first
    Free = 0,
    Taken = 1,
};

QString NetLockPath(const QString& folder);

bool IsArchiveShared(const QString& folder);
// Creates or overwrites the lock file in its free state.
bool EnableSharing(const QString& folder);
// Deletes the lock file if it exists.
bool DisableSharing(const QString& folder);

LockState ReadLockState(const QString& folder);

// Who holds the lock, from the second line; nullopt when the lock is not
// taken or says nobody.
std::optional<OwnerToken> LockHolder(const QString& folder);
// For messages: Describe() of the holder, or "another workstation".
QString LockHolderText(const QString& folder);

// True when the lock file says taken by `token`.
bool HoldsLock(const QString& folder, const OwnerToken& token);

struct TakeAttempt {
    LockState before = LockState::Unreadable;  // the state found
    bool taken = false;                        // true: the file said free and now says taken by the token
                                               // (false when it said free but could not be written)
    // The guard NetLock.CTL.lock was held by someone else for the whole
    // wait (another workstation taking the lock at this moment, or one that
    // died doing so less than a stale guard's age ago): its holder.
    bool guardBusy = false;
    QString guardHolder;
    IoError error;  // why the lock file could not be written
};

// Reads the state and, when it is free, takes the lock for `token`, as one
// step no other workstation can interleave with: the guard NetLock.CTL.lock
// (see WriteGuard) is held around the read and the write. When the lock is
// not free nothing is written; the caller may then ask the user and force it
// with TakeLock.
TakeAttempt TryTakeLock(const QString& folder, const OwnerToken& token);

// Writes the taken state with `token`, whatever the file said (the forced
// takeover), under the same guard.
bool TakeLock(const QString& folder, const OwnerToken& token, IoError* error = nullptr);

enum class GiveBack {
    GivenBack,   // it said taken by the token and now says free
    NotHolder,   // it names another holder (taken over): left as it is
    NotShared,   // there is no NetLock.CTL (sharing switched off): nothing is recreated
    NotWritten,  // it could not be written
};
// The one way to give the lock back, for the window and tolvane-batch alike:
// only the holder writes "0", and a missing file stays missing.
GiveBack GiveBackLock(const QString& folder, const OwnerToken& token);

// How a workstation came to hold the lock, or why it does not.
enum class LockTaking {
    Taken,       // it was free and is now taken
    TakenOver,   // another workstation held it (or the file said neither) and it was forced
    Refused,     // not free, and not forced
    NotWritten,  // the lock file could not be written: nothing is held
};

// The lock button's way to the right to write, for every program that writes
// to a shared archive: TryTakeLock; when the lock is not free,
// `forceWhenTaken` is asked (the main window asks the user, tolvane-batch
// answers with its --force) and on true TakeLock forces it. Whoever gets
// Taken or TakenOver gives the lock back with GiveBackLock when done.
// `attempt`, when given, gets what TryTakeLock found (why NotWritten, a busy
// guard behind Refused).
LockTaking TakeWriteLock(const QString& folder, const OwnerToken& token, const std::function<bool()>& forceWhenTaken,
                         TakeAttempt* attempt = nullptr);
