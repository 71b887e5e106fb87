// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Guard against a second running copy of the program for the same user.
// A lock file in the user's runtime folder (or the temp folder) is held for
// the whole run. The lock records the holder's process id, so a copy that
// crashed never blocks the next start.

#include <QLockFile>
#include <QString>
#include <memory>

class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const QString& name);
    ~SingleInstanceGuard();

    // True when this process now holds the guard; false when another
    // running copy holds it (or the lock cannot be taken at all).
    bool Acquire();
    void Release();
    QString LockPath() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};
