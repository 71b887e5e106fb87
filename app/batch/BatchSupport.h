// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the commands of tolvane-batch share: messages, the argument parser,
// the processing options, the archive and category named on the command
// line, the shared-write lock and the signals that stop a command.

#include "core/Settings.h"
#include "core/WriteGuard.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace batch {

inline constexpr char kProgram[] = "tolvane-batch";

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLocked = 3;

// "tolvane-batch: message" on standard error (after clearing the progress
// line).
void PrintError(const QString& message);
// One line on standard output, written out at once.
void PrintLine(const QString& line);
// A name as it goes into a line of output: a backslash, a line break, a tab
// or any other control character written as an escape (\\, \n, \t, \r,
// \xHH), so that one line stays one page or one finding.
QString EscapedName(const QString& name);

// The progress line on standard error, shown only when it is a terminal.
void ShowProgress(const QString& text);
void ClearProgress();

// ---- arguments ----

struct UsageError {
    QString message;
};

struct OptionDef {
    const char* name;
    enum Kind { Flag, Number, Text } kind;
    int32_t min = 0;
    int32_t max = 0;
    int32_t Settings::*member = nullptr;  // a processing option: the setting it gives
};

struct Arguments {
    QStringList operands;
    QHash<QString, int32_t> numbers;
    QHash<QString, QString> texts;
    QSet<QString> flags;

    bool Has(const char* name) const { return flags.contains(QLatin1String(name)); }
    std::optional<int32_t> Number(const char* name) const;
    std::optional<QString> Text(const char* name) const;
};

// Options may stand anywhere among the operands; a value follows as the next
// argument or after '=' ("--kmode=1"); "--" ends the options and "-" is an
// operand. Throws UsageError with the message to print.
Arguments ParseArguments(const QStringList& args, const std::vector<OptionDef>& defs);

// The options of the automatic processing (process, add, scan): --kmode,
// --kfx, --kfy, --resize-a, --resize-t, --auto-mode, --white-mode, --quality.
const std::vector<OptionDef>& ProcessingOptions();
// The same and --save-format, for the commands that file pages.
const std::vector<OptionDef>& FilingOptions();

struct Processing {
    Settings settings;
    int quality = 80;
};
// The user's settings (read, never written), with the processing options
// given over them; the JPEG quality from JpegMode unless --quality says.
Processing ProcessingFrom(const Arguments& args);

// True when "--help" or "-h" comes before any "--".
bool WantsHelp(const QStringList& args);
// A command's work is done: every page is written and every line printed
// (flushed here). The end that is left (a scanner backend's above all) gets
// a bounded time, its leak check included in the sanitizer builds. Returns
// `status`.
int CommandDone(int status);

// Why a file gave no image: the system's reason when it cannot be opened and
// read, else that its content is no image the program reads.
QString WhyNoImage(const QString& path);

// ---- the archive and the category ----

// --archive, or the folder that holds the program (the archive root, as
// for tolvane). Empty, with the message printed, when it is no folder.
QString ArchiveFolder(const Arguments& args);

// --category checked as the category dialog checks a name; empty, with the
// message printed, when it is missing or unsafe.
QString CategoryName(const Arguments& args);
// The categories a command goes through: --category's, which must exist, or
// every category of `archive` in name order (as check lists them: the
// folder's own order differs between machines). None, with the message
// printed, for a bad or missing --category.
std::optional<QStringList> ChosenCategories(const Arguments& args, const QString& archive);

// ---- the shared-write lock ----

// The lock of a shared archive (NetLock.CTL in the archive folder, where
// tolvane started in its own folder keeps it), taken as the lock button takes
// it and given back when this object goes.
class WriteLock {
public:
    WriteLock() = default;
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // On a shared archive: takes the lock when it is free; when another
    // workstation holds it, takes it over with `force`, else refuses. Returns
    // kExitOk to go on, or the exit status with the message printed.
    int Take(const QString& archive, bool force);
    // Before each write: true when the archive is not shared, or the lock
    // file still names this holder. False (message printed, with who holds
    // it now) when another workstation has taken it over, given it back or
    // switched sharing off meanwhile; nothing is given back then.
    bool StillHeld();
    // The lock was found taken away elsewhere (the session said so): the
    // message is printed and nothing is given back.
    void Lost();
    bool Shared() const { return shared_; }
    bool Held() const { return held_; }
    const OwnerToken& Token() const { return token_; }
    // Gives the lock back when this holder still holds it (GiveBackLock).
    void Release();

private:
    QString folder_;
    OwnerToken token_;
    bool shared_ = false;
    bool held_ = false;
};

// ---- signals ----

// From here on SIGINT, SIGTERM and SIGHUP only ask the command to stop: it
// ends at its next step, with nothing half-written and the lock given back.
void CatchStopSignals();
// The signal that asked, 0 while none did.
int StopSignal();
// Set with it, for the scan's read loop.
const std::atomic<bool>* StopFlag();
// Says which signal stopped the command and what it had done (`done`);
// the exit status for it: 128 + the signal.
int StoppedExit(const QString& done);

}  // namespace batch
