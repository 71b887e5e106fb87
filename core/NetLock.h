#pragma once
// The shared-write lock of an archive used from several workstations.
//
// NetLock.CTL, in the folder the program runs in, marks the archive as
// shared. Its first character says whether some workstation holds the
// right to write: "1" taken, "0" free (the file holds "1" or "0" and CR LF).
// Nothing in the file says who holds it; a workstation knows it holds the
// lock from its own flag.

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

struct TakeAttempt {
    LockState before = LockState::Unreadable;  // the state found
    bool taken = false;                        // true: the file said free and now says taken
                                               // (false when it said free but could not be written)
};

// Reads the state and, when it is free, takes the lock, as one step that no
// other workstation can interleave with: a guard file created exclusively
// (which network file systems honour too) is held around the read and the
// write. When the lock is not free nothing is written; the caller may then
// ask the user and force it with TakeLock.
TakeAttempt TryTakeLock(const QString& folder);

// Writes the taken state, whatever the file said (the forced takeover).
bool TakeLock(const QString& folder);
// Writes the free state.
bool ReleaseLock(const QString& folder);

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
// Taken or TakenOver gives the lock back with ReleaseLock when done.
LockTaking TakeWriteLock(const QString& folder, const std::function<bool()>& forceWhenTaken);
