// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Categories: the sub-folders of the archive root, each with its Image,
// Thumb and Text folders.

#include "core/ArchiveFiles.h"

#include <QString>
#include <QStringList>

// True when the category folder and its Image, Thumb and Text folders all
// resolve inside the archive root (a symbolic link among them may lead
// anywhere). A category that does not is listed and shown, never written.
bool CategoryStaysInside(const QString& folder, const QString& archiveRoot);

// Folder names in the order the file system gives them; hidden folders
// (names starting with ".") are left out, and so is a folder in the lock
// file's place (NetLock.CTL), and the program's own installed folders
// "share" and "manual" (each holding the marker file below).
QStringList ListCategoryNames(const QString& archiveRoot);
extern const QString kProgramFolderMarker;

// A name that can only ever mean a folder directly under the archive root:
// not empty, not "." or "..", no "/" or "\" and no control character.
bool IsSafeCategoryName(const QString& name);

// Creates archiveRoot/name with Image, Thumb and Text inside. False when the
// name is unsafe or the folder cannot be made (it exists already, the file
// system refuses the name, no write access). The sub-folders' own results
// do not count, as long as the category folder itself was made. `error`, when
// given, says why it failed.
bool CreateCategoryFolder(const QString& archiveRoot, const QString& name, IoError* error = nullptr);

// Renames the category folder to archiveRoot/newName. Never replaces an
// existing folder. False when the new name is unsafe, taken, or the rename
// fails. Renaming a folder to its own name succeeds without doing anything.
bool RenameCategoryFolder(const QString& folder, const QString& archiveRoot, const QString& newName,
                          IoError* error = nullptr);

enum class DeleteCategoryResult {
    Deleted,
    PagesRemain,     // an image, thumbnail or memo file is still there
    CannotRemove,    // a folder could not be removed (something else is inside)
};

// Deletes an empty category: refuses when any "*.jpg", "*.tif" or "*.bmp"
// remains in Image, "*.jpg" in Thumb or "*.txt" in Text (any letter case,
// hidden files included); otherwise deletes FileList.txt and the leftovers of
// interrupted writes (IsAtomicWriteLeftover) and removes Image,
// Thumb, Text and the folder itself, stopping at the first that fails. A
// sub-folder that does not exist counts as removed.
DeleteCategoryResult DeleteCategoryFolder(const QString& folder);
