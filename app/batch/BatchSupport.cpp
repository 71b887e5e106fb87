// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/batch/BatchSupport.h"

#include "core/ArchiveFiles.h"
#include "core/Categories.h"
#include "core/ExitWatchdog.h"
#include "core/NetLock.h"
#include "core/WriteGuard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace batch {

namespace {

bool g_progressShown = false;

bool StderrIsTerminal()
{
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
}

// A whole decimal number: optional sign and digits only, within 32 bits.
std::optional<int32_t> ParseInteger(const QString& text)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    if (i == text.size())
        return std::nullopt;
    for (qsizetype j = i; j < text.size(); ++j)
        if (text[j] < u'0' || text[j] > u'9')
            return std::nullopt;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(value);
}

volatile std::sig_atomic_t g_stopSignal = 0;
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnStopSignal(int signal)
{
    if (g_stopSignal == 0)
        g_stopSignal = signal;
    g_stop.store(true, std::memory_order_relaxed);
}

}  // namespace

void PrintError(const QString& message)
{
    ClearProgress();
    std::fprintf(stderr, "%s: %s\n", kProgram, message.toLocal8Bit().constData());
    std::fflush(stderr);
}

QString EscapedName(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        switch (c.unicode()) {
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        case u'\t': out += QStringLiteral("\\t"); break;
        case u'\r': out += QStringLiteral("\\r"); break;
        default:
            if (c.category() == QChar::Other_Control || c == QChar(0x2028) || c == QChar(0x2029))
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

void PrintLine(const QString& line)
{
    ClearProgress();
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

void ShowProgress(const QString& text)
{
    if (!StderrIsTerminal())
        return;
    std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(stderr);
    g_progressShown = true;
}

void ClearProgress()
{
    if (!g_progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    g_progressShown = false;
}

// ---- arguments ----

std::optional<int32_t> Arguments::Number(const char* name) const
{
    const auto it = numbers.constFind(QLatin1String(name));
    return it == numbers.cend() ? std::nullopt : std::optional<int32_t>(*it);
}

std::optional<QString> Arguments::Text(const char* name) const
{
    const auto it = texts.constFind(QLatin1String(name));
    return it == texts.cend() ? std::nullopt : std::optional<QString>(*it);
}

Arguments ParseArguments(const QStringList& args, const std::vector<OptionDef>& defs)
{
    Arguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || !arg.startsWith(u'-') || arg == QLatin1String("-")) {
            parsed.operands << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        const OptionDef* def = nullptr;
        for (const OptionDef& s : defs)
            if (name == QLatin1String(s.name))
                def = &s;
        if (!def)
            throw UsageError{QStringLiteral("unknown option '%1' (see --help)").arg(name)};
        if (def->kind == OptionDef::Flag) {
            if (eq >= 0)
                throw UsageError{QStringLiteral("option '%1' takes no value").arg(name)};
            parsed.flags.insert(name);
            continue;
        }
        QString value;
        if (eq >= 0) {
            value = arg.mid(eq + 1);
        } else {
            if (i + 1 >= args.size())
                throw UsageError{QStringLiteral("option '%1' needs a value").arg(name)};
            value = args[++i];
        }
        if (def->kind == OptionDef::Text) {
            parsed.texts.insert(name, value);
            continue;
        }
        const std::optional<int32_t> number = ParseInteger(value);
        if (!number)
            throw UsageError{QStringLiteral("option '%1' needs a whole number, not '%2'").arg(name, value)};
        if (*number < def->min || *number > def->max)
            throw UsageError{QStringLiteral("option '%1' takes %2..%3, not %4")
                                 .arg(name)
                                 .arg(def->min)
                                 .arg(def->max)
                                 .arg(*number)};
        parsed.numbers.insert(name, *number);
    }
    return parsed;
}

const std::vector<OptionDef>& ProcessingOptions()
{
    static const std::vector<OptionDef> options = {
        {"--kmode", OptionDef::Number, 0, 7, &Settings::KMode},
        {"--kfx", OptionDef::Number, 1, 65535, &Settings::KFX},
        {"--kfy", OptionDef::Number, 1, 65535, &Settings::KFY},
        {"--resize-a", OptionDef::Number, 0, 1, &Settings::ResizeModeA},
        {"--resize-t", OptionDef::Number, 0, 1, &Settings::ResizeModeT},
        {"--auto-mode", OptionDef::Number, 0, 2, &Settings::AutoMode},
        {"--white-mode", OptionDef::Number, 0, 1, &Settings::WhiteMode},
        {"--quality", OptionDef::Number, 1, 100, nullptr},
    };
    return options;
}

const std::vector<OptionDef>& FilingOptions()
{
    static const std::vector<OptionDef> options = [] {
        std::vector<OptionDef> o = ProcessingOptions();
        o.push_back({"--save-format", OptionDef::Number, 0, 2, &Settings::SaveFormat});
        return o;
    }();
    return options;
}

Processing ProcessingFrom(const Arguments& args)
{
    Processing p;
    p.settings = DefaultSettings();
    ReadSettings(p.settings, AppSettingsStore());
    for (const OptionDef& def : FilingOptions())
        if (def.member)
            if (const auto value = args.Number(def.name))
                p.settings.*def.member = *value;
    p.quality = args.Number("--quality").value_or(JpegQualityFor(p.settings.JpegMode));
    return p;
}

bool WantsHelp(const QStringList& args)
{
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return true;
    }
    return false;
}

int CommandDone(int status)
{
    constexpr int kEndSeconds = 15;
    std::fflush(stdout);
    std::fflush(stderr);
    EndWithin(status, kEndSeconds);
    return status;
}

QString WhyNoImage(const QString& path)
{
    // Opened as the loader opens it: not waiting, a link followed.
    FileRead opened;
    const int fd = OpenArchiveFile(path, opened, true);
    if (fd >= 0)
        ::close(fd);
    switch (opened.status) {
    case FileRead::Missing:
        return IoErrorFromErrno(ENOENT).reason;
    case FileRead::NotRegular:
        if (opened.kind == QLatin1String("folder"))
            return IoErrorFromErrno(EISDIR).reason;
        return QStringLiteral("it is a %1, not a file: only regular files are read").arg(opened.kind);
    case FileRead::Failed:
        return opened.error.reason;
    default:
        break;
    }
    if (opened.size == 0)
        return QStringLiteral("the file is empty");
    return QStringLiteral("not an image in a format Tolvane reads, or a damaged one");
}

// ---- the archive and the category ----

QString ArchiveFolder(const Arguments& args)
{
    QString folder = args.Text("--archive").value_or(QCoreApplication::applicationDirPath());
    if (folder.isEmpty()) {
        PrintError(QStringLiteral("--archive needs a folder"));
        return QString();
    }
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    const QFileInfo info(folder);
    if (!info.exists()) {
        PrintError(QStringLiteral("the archive folder '%1' does not exist").arg(folder));
        return QString();
    }
    if (!info.isDir()) {
        PrintError(QStringLiteral("the archive folder '%1' is no folder").arg(folder));
        return QString();
    }
    return folder;
}

QString CategoryName(const Arguments& args)
{
    const std::optional<QString> name = args.Text("--category");
    if (!name) {
        PrintError(QStringLiteral("--category NAME is needed (see --help)"));
        return QString();
    }
    if (!IsSafeCategoryName(*name)) {
        QString shown;
        for (QChar c : *name)
            shown += c.unicode() < 0x20 || c.unicode() == 0x7F
                         ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                         : QString(c);
        PrintError(QStringLiteral("'%1' is no category name: a name must not be empty, \".\" or \"..\", "
                                  "nor hold \"/\", \"\\\" or a control character")
                       .arg(shown));
        return QString();
    }
    return *name;
}

std::optional<QStringList> ChosenCategories(const Arguments& args, const QString& archive)
{
    if (!args.Text("--category")) {
        QStringList all = ListCategoryNames(archive);
        std::sort(all.begin(), all.end());
        return all;
    }
    const QString name = CategoryName(args);
    if (name.isEmpty())
        return std::nullopt;
    if (!QFileInfo(QDir(archive).filePath(name)).isDir()) {
        PrintError(QStringLiteral("there is no category '%1' in '%2'").arg(name, archive));
        return std::nullopt;
    }
    return QStringList{name};
}

// ---- the shared-write lock ----

WriteLock::~WriteLock()
{
    Release();
}

int WriteLock::Take(const QString& archive, bool force)
{
    folder_ = archive;
    shared_ = IsArchiveShared(archive);
    if (!shared_)
        return kExitOk;
    token_ = NewOwnerToken();
    TakeAttempt attempt;
    const LockTaking taking = TakeWriteLock(archive, token_, [&] { return force; }, &attempt);
    switch (taking) {
    case LockTaking::Taken:
        held_ = true;
        return kExitOk;
    case LockTaking::TakenOver:
        held_ = true;
        PrintError(QStringLiteral("took the shared-write lock of '%1' over (--force)").arg(archive));
        return kExitOk;
    case LockTaking::Refused:
        if (attempt.guardBusy && ReadLockState(archive) == LockState::Free) {
            // The lock says free; only its guard is held (a take in progress,
            // or the leftover of one that died, removed once stale).
            PrintError(QStringLiteral("the write lock of '%1' is free, but its guard NetLock.CTL.lock is held "
                                      "(%2): another workstation is taking the lock, or one died doing so; "
                                      "try again (a guard left by a crash goes after %3 s)")
                           .arg(archive, attempt.guardHolder.isEmpty() ? QStringLiteral("by nobody known")
                                                                       : attempt.guardHolder)
                           .arg(kStaleGuardSeconds));
            return kExitLocked;
        }
        PrintError(QStringLiteral("the archive '%1' is shared and %2 holds its write lock "
                                  "(NetLock.CTL); --force takes it over, as the lock button's \"Yes\" does")
                       .arg(archive, LockHolderText(archive)));
        return kExitLocked;
    case LockTaking::NotWritten:
        PrintError(QStringLiteral("cannot write the shared-write lock '%1': %2")
                       .arg(NetLockPath(archive), attempt.error.reason.isEmpty() ? QStringLiteral("unknown reason")
                                                                                 : attempt.error.reason));
        return kExitFailure;
    }
    return kExitFailure;
}

bool WriteLock::StillHeld()
{
    if (!shared_)
        return true;
    if (held_ && HoldsLock(folder_, token_))
        return true;
    Lost();
    return false;
}

void WriteLock::Lost()
{
    if (!held_)
        return;
    held_ = false;
    const QString now = ReadLockState(folder_) == LockState::Taken ? LockHolderText(folder_)
                                                                   : QStringLiteral("nobody (given back or not shared)");
    PrintError(QStringLiteral("the shared-write lock of '%1' was taken away meanwhile; it is held by %2 now: "
                              "nothing more is written")
                   .arg(folder_, now));
}

void WriteLock::Release()
{
    if (!held_)
        return;
    held_ = false;
    GiveBackLock(folder_, token_);
}

// ---- signals ----

void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait in a read ends at once
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int StopSignal()
{
    return g_stopSignal;
}

const std::atomic<bool>* StopFlag()
{
    return &g_stop;
}

int StoppedExit(const QString& done)
{
    const int signal = StopSignal();
    PrintError(QStringLiteral("stopped by signal %1 (%2); %3")
                   .arg(QString::number(signal), QString::fromLocal8Bit(::strsignal(signal)), done));
    return 128 + signal;
}

}  // namespace batch
