// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether this workstation may write to the current category.

#include <QString>

// Writing is allowed when the category folder is writable and the archive
// is either not shared or this workstation holds the write lock.
inline bool WritingAllowed(bool folderReadOnly, bool archiveShared, bool lockHeld)
{
    return !folderReadOnly && (!archiveShared || lockHeld);
}

// Tries to create a file in the folder and deletes it again. True when the
// folder can be written. Never leaves a file behind and never replaces one
// that was there before.
bool ProbeFolderWritable(const QString& folder);
