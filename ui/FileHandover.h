// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Files handed from a second start of the program ("Open with" in a file
// manager, `tolvane FILE...`) to the copy already running. The running copy
// listens on a local socket beside its single-instance lock file; a second
// start connects, sends the absolute names of its files and waits until the
// running copy says it has them, then ends as a second copy always does.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

class HandoverListener;

// The listening end, in a thread of its own: a second start is answered at
// once even while the window is busy filing pages, and the files reach the
// window when it is free.
class FileHandover : public QObject {
    Q_OBJECT
public:
    // Listens at `socketPath`, for this user only. The caller holds the
    // single-instance guard, so a socket found there was left by a copy that
    // crashed: it is replaced.
    explicit FileHandover(const QString& socketPath, QObject* parent = nullptr);
    ~FileHandover() override;

    bool Listening() const { return listening_; }
    QString ErrorString() const { return error_; }

signals:
    // The files of one second start, in the order given.
    void FilesReceived(const QStringList& files);

private:
    QThread thread_;
    HandoverListener* listener_ = nullptr;
    bool listening_ = false;
    QString error_;
};

// Sends `files` to the copy listening at `socketPath`; true once it has
// confirmed them. A copy that has just started may not listen yet: it is
// tried again until `timeoutMs` have passed in all.
bool HandFilesOver(const QString& socketPath, const QStringList& files, int timeoutMs = 5000);

// The socket beside the single-instance lock file `lockPath`.
QString HandoverSocketPath(const QString& lockPath);

// The files named on a command line (`arguments` with the program first),
// made absolute against `workingFolder`. Arguments starting with "-" are the
// program's options, not files ("./-name" names such a file).
QStringList FilesToOpen(const QStringList& arguments, const QString& workingFolder);
