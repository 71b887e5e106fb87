// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ArchiveFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QThread>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <functional>
#include <array>
#include <cstring>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace {

const QString kLeftoverTag = QStringLiteral(".tlv-");
const QString kLeftoverEnd = QStringLiteral(".tmp");
constexpr int kLeftoverRandomChars = 8;

// ---------------------------------------------------------------------------
// Paths

QString JoinPath(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || folder == u".")
        return name;
    if (folder.endsWith(u'/'))
        return folder + name;
    return folder + u'/' + name;
}

bool PathExists(const QString& path)
{
    return QFileInfo::exists(path);
}

// The entry of `folder` whose name equals `name` in any letter case: an exact
// match first, else the smallest of the case-insensitive matches. Empty when
// there is none or the folder cannot be listed.
QString FindEntryAnyCase(const QString& folder, const QString& name)
{
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    QString best;
    for (const QString& entry : entries) {
        if (entry == name)
            return entry;
        if (entry.compare(name, Qt::CaseInsensitive) == 0 && (best.isEmpty() || entry < best))
            best = entry;
    }
    return best;
}

}  // namespace

IoError IoErrorFromErrno(int code)
{
    return IoError{code, QString::fromLocal8Bit(std::strerror(code))};
}

bool IsAtomicWriteLeftover(const QString& fileName)
{
    // "." name ".tlv-" XXXXXXXX ".tmp", the name at least one character
    const qsizetype tail = kLeftoverTag.size() + kLeftoverRandomChars + kLeftoverEnd.size();
    if (fileName.size() < 2 + tail || !fileName.startsWith(u'.') || !fileName.endsWith(kLeftoverEnd))
        return false;
    const qsizetype tag = fileName.size() - tail;
    if (QStringView(fileName).mid(tag, kLeftoverTag.size()) != kLeftoverTag)
        return false;
    for (qsizetype i = tag + kLeftoverTag.size(); i < fileName.size() - kLeftoverEnd.size(); ++i) {
        const char16_t c = fileName.at(i).unicode();
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')))
            return false;
    }
    return true;
}

QString ResolveExistingPath(const QString& path)
{
    if (path.isEmpty() || PathExists(path))
        return path;

    const bool absolute = path.startsWith(u'/');
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return path;

    auto prefixOf = [&](qsizetype count) {
        QString prefix = absolute ? QStringLiteral("/") : QString();
        for (qsizetype i = 0; i < count; ++i)
            prefix = JoinPath(prefix, parts.at(i));
        return prefix;
    };

    // The deepest ancestor that exists as spelled.
    qsizetype known = parts.size() - 1;
    QString current;
    for (; known > 0; --known) {
        current = prefixOf(known);
        if (PathExists(current))
            break;
    }
    if (known == 0)
        current = absolute ? QStringLiteral("/") : QString();

    for (qsizetype i = known; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part == u"." || part == u"..") {
            current = JoinPath(current, part);
            continue;
        }
        const QString entry = FindEntryAnyCase(current, part);
        if (entry.isEmpty())
            return path;
        current = JoinPath(current, entry);
    }
    return current;
}

QString ResolvePathForWrite(const QString& path)
{
    if (path.isEmpty() || PathExists(path))
        return path;
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (name.isEmpty() || name == u"." || name == u"..")
        return path;
    QString folder;
    if (slash == 0)
        folder = QStringLiteral("/");
    else if (slash > 0)
        folder = ResolveExistingPath(path.left(slash));
    const QString entry = FindEntryAnyCase(folder, name);
    return JoinPath(folder, entry.isEmpty() ? name : entry);
}

QString SpecialFileKind(unsigned mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("device");
    if (S_ISSOCK(mode))
        return QStringLiteral("socket");
    if (S_ISLNK(mode))
        return QStringLiteral("symbolic link");
    return QString();
}

int OpenArchiveFile(const QString& path, FileRead& r, bool followLink)
{
    r = FileRead{};
    const QString resolved = ResolveExistingPath(path);
    if (resolved.isEmpty())
        return -1;
    const QByteArray native = QFile::encodeName(resolved);
    // Not blocking: a named pipe in a file's place would wait for a writer
    // for ever in open(). Not following a link: its target may be anywhere.
    const int fd = ::open(native.constData(),
                          O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int code = errno;
        struct stat st {};
        if (code == ENOENT || code == ENOTDIR) {
            r.status = FileRead::Missing;
        } else if (!followLink && (code == ELOOP || (::lstat(native.constData(), &st) == 0 && S_ISLNK(st.st_mode)))) {
            r.status = FileRead::Link;
            r.kind = SpecialFileKind(S_IFLNK);
        } else {
            r.status = FileRead::Failed;
            r.error = IoErrorFromErrno(code);
        }
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        r.status = FileRead::Failed;
        r.error = IoErrorFromErrno(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        r.status = FileRead::NotRegular;
        r.kind = SpecialFileKind(st.st_mode);
        ::close(fd);
        return -1;
    }
    r.status = FileRead::Read;
    r.size = st.st_size;
    // Reads of a regular file do not block; the flag goes anyway.
    // (It was opened with no other flag that F_SETFL changes.)
    ::fcntl(fd, F_SETFL, 0);
    return fd;
}

FileRead ReadArchiveChunks(const QString& path, const std::function<bool(const char*, qsizetype)>& take,
                           bool followLink, const std::function<void(qint64)>& opened)
{
    FileRead r;
    const int fd = OpenArchiveFile(path, r, followLink);
    if (fd < 0)
        return r;
    if (opened)
        opened(r.size);
    // A small file (a memo, a text) in one read and a small block.
    QByteArray chunk(qsizetype(std::clamp<qint64>(r.size + 1, 4096, 1 << 16)), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), size_t(chunk.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            r.status = FileRead::Failed;
            r.error = IoErrorFromErrno(errno);
            break;
        }
        if (n == 0)
            break;
        if (!take(chunk.constData(), qsizetype(n))) {
            r.status = FileRead::TooLong;
            break;
        }
    }
    ::close(fd);
    return r;
}

FileRead ReadArchiveFile(const QString& path, qint64 limit, bool followLink)
{
    QByteArray bytes;
    FileRead r = ReadArchiveChunks(
        path,
        [&](const char* data, qsizetype n) {
            const qsizetype room = qsizetype(std::max<qint64>(limit - bytes.size(), 0));
            bytes.append(data, std::min(room, n));
            return n <= room;  // a byte past the limit: the file is longer
        },
        followLink,
        // One block of the size the file has (within the limit), rather
        // than one copy after another as it grows.
        [&](qint64 size) { bytes.reserve(qsizetype(std::clamp<qint64>(size, 0, limit))); });
    if (r.status == FileRead::Read || r.status == FileRead::TooLong)
        r.bytes = std::move(bytes);
    return r;
}

std::optional<QByteArray> ReadWholeFile(const QString& path)
{
    // Larger than any file of an archive that is read whole.
    constexpr qint64 kWholeFileLimit = qint64(1) << 30;
    FileRead r = ReadArchiveFile(path, kWholeFileLimit);
    if (r.status != FileRead::Read)
        return std::nullopt;
    return std::move(r.bytes);
}

bool IsSymbolicLink(const QString& path)
{
    struct stat st {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

namespace {

// The real path of `path`, or of its deepest existing ancestor with the rest
// appended as spelled.
QString RealPathOf(const QString& path)
{
    QString existing = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    QString rest;
    for (;;) {
        char* real = ::realpath(QFile::encodeName(existing).constData(), nullptr);
        if (real) {
            QString resolved = QFile::decodeName(real);
            ::free(real);
            return rest.isEmpty() ? resolved : QDir::cleanPath(resolved + u'/' + rest);
        }
        const qsizetype slash = existing.lastIndexOf(u'/');
        if (slash <= 0)
            return QDir::cleanPath(path);
        rest = rest.isEmpty() ? existing.mid(slash + 1) : existing.mid(slash + 1) + u'/' + rest;
        existing = existing.left(slash);
    }
}

}  // namespace

bool ResolvesInside(const QString& path, const QString& root)
{
    if (path.isEmpty() || root.isEmpty())
        return false;
    const QString real = RealPathOf(path);
    const QString realRoot = RealPathOf(root);
    if (real == realRoot)
        return true;
    return real.startsWith(realRoot.endsWith(u'/') ? realRoot : realRoot + u'/');
}

bool SameFolder(const QString& a, const QString& b)
{
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(ResolveExistingPath(a)).constData(), &sa) != 0
        || ::stat(QFile::encodeName(ResolveExistingPath(b)).constData(), &sb) != 0)
        return QDir::cleanPath(a) == QDir::cleanPath(b);
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool FileExistsAnyCase(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(ResolveExistingPath(path));
    return info.exists() && !info.isDir();
}

// ---------------------------------------------------------------------------
// Atomic write

#ifdef Q_OS_UNIX

namespace {

bool WriteAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

QString RandomSuffix()
{
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < kLeftoverRandomChars; ++i)
        suffix += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof(kChars) - 1))]);
    return suffix;
}

}  // namespace

// A file server answers EBUSY (and, for a rename over a file another client
// has open, EEXIST) while another workstation holds the file open; it goes
// once that client closes it, within moments. Retried for a bounded time.
namespace {

constexpr int kBusyRetryMs = 3000;

template <typename Op>
bool RetryWhileBusy(Op op, bool existsIsBusy)
{
    QDeadlineTimer deadline(kBusyRetryMs);
    int pauseMs = 1;
    for (;;) {
        if (op() == 0)
            return true;
        const int code = errno;
        if ((code != EBUSY && !(existsIsBusy && code == EEXIST)) || deadline.hasExpired()) {
            errno = code;
            return false;
        }
        QThread::msleep(unsigned(pauseMs));
        pauseMs = std::min(pauseMs * 2, 50);
    }
}

bool RenameRetrying(const QByteArray& from, const QByteArray& to)
{
    return RetryWhileBusy([&] { return ::rename(from.constData(), to.constData()); }, true);
}

}  // namespace

bool RemoveFileRetrying(const QString& path, IoError* error)
{
    const QByteArray native = QFile::encodeName(path);
    if (RetryWhileBusy([&] { return ::unlink(native.constData()); }, false) || errno == ENOENT)
        return true;
    if (error)
        *error = IoErrorFromErrno(errno);
    return false;
}

bool RenameFileRetrying(const QString& from, const QString& to, IoError* error)
{
    if (RenameRetrying(QFile::encodeName(from), QFile::encodeName(to)))
        return true;
    if (error)
        *error = IoErrorFromErrno(errno);
    return false;
}

QString LeftoverNameFor(const QString& name)
{
    return u'.' + name.left(64) + kLeftoverTag + RandomSuffix() + kLeftoverEnd;
}

bool WriteFileAtomicallyWith(const QString& path, const std::function<bool(int fd)>& write, IoError* error)
{
    auto failWith = [&](int code) {
        if (error)
            *error = IoErrorFromErrno(code);
        return false;
    };
    if (path.isEmpty())
        return failWith(ENOENT);
    const QString target = ResolvePathForWrite(path);
    const qsizetype slash = target.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QString() : (slash == 0 ? QStringLiteral("/") : target.left(slash));
    const QString name = target.mid(slash + 1);
    const QByteArray nameBytes = QFile::encodeName(name);

    // Every step is relative to the folder as opened here: a link put in
    // the folder's place meanwhile changes nothing.
    const int dirFd = ::open(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return failWith(errno);
    struct DirCloser {
        int fd;
        ~DirCloser() { ::close(fd); }
    } dirCloser{dirFd};

    struct stat old {};
    bool hadOld = false;
    if (::fstatat(dirFd, nameBytes.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(old.st_mode))
            return failWith(ELOOP);  // never written through: its target may be anywhere
        if (!S_ISREG(old.st_mode))
            return failWith(S_ISDIR(old.st_mode) ? EISDIR : EINVAL);  // something else is in the way
        hadOld = true;
    } else if (errno != ENOENT) {
        return failWith(errno);
    }

    // The temporary file: hidden, in the same folder, created exclusively,
    // named so that a leftover is recognised (IsAtomicWriteLeftover).
    QByteArray tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tempName = QFile::encodeName(LeftoverNameFor(name));
        fd = ::openat(dirFd, tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return failWith(errno);
    }
    if (fd < 0)
        return failWith(EEXIST);

    auto fail = [&](int code) {
        if (fd >= 0)
            ::close(fd);
        ::unlinkat(dirFd, tempName.constData(), 0);
        return failWith(code);
    };

    if (hadOld) {
        // Keep the old file's owner (when allowed) and permission bits.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // not permitted for other users' files; the new file keeps ours
        }
        ::fchmod(fd, old.st_mode & 07777);
    }
    errno = 0;
    if (!write(fd))
        return fail(errno ? errno : EIO);
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP)
        return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail(errno);
    if (!RetryWhileBusy([&] { return ::renameat(dirFd, tempName.constData(), dirFd, nameBytes.constData()); },
                        true))
        return fail(errno);
    ::fsync(dirFd);  // best effort: not every file system syncs folders
    return true;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, IoError* error)
{
    return WriteFileAtomicallyWith(path, [&](int fd) { return WriteAll(fd, bytes.constData(), bytes.size()); },
                                   error);
}

#else

bool WriteFileAtomicallyWith(const QString& path, const std::function<bool(int fd)>& write, IoError* error)
{
    if (path.isEmpty())
        return false;
    const QString target = ResolvePathForWrite(path);
    if (QFileInfo(target).isDir())
        return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || !file.flush())
        return false;
    if (!write(int(file.handle()))) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, IoError* error)
{
    if (path.isEmpty())
        return false;
    const QString target = ResolvePathForWrite(path);
    if (QFileInfo(target).isDir())
        return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

#endif

// ---------------------------------------------------------------------------
// CP932

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsLeadByte(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsTrailByte(uint8_t b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Tables built once, on first use, from Qt's (ICU's) windows-31j converter.
// ASCII and the half-width katakana are handled directly (ICU's table swaps
// some control codes, 0x1A/0x1C/0x7F, and uses U+001A for undecodable input).

// Double-byte codes: [lead - 0x80][trail] → character, U+FFFD if undefined.
using DecodeTable = std::array<std::array<char16_t, 256>, 128>;
// BMP character → code (two bytes as lead * 256 + trail, or one byte
// 0xA1-0xDF); 0 when CP932 has no code for it.
using EncodeTable = std::array<uint16_t, 0x10000>;

std::unique_ptr<DecodeTable> BuildDecodeTable()
{
    auto table = std::make_unique<DecodeTable>();
    for (auto& row : *table)
        row.fill(kReplacement);

    // One run of all trail bytes per lead byte.
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsLeadByte(uint8_t(lead)))
            continue;
        QByteArray run;
        QList<int> trails;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (!IsTrailByte(uint8_t(trail)))
                continue;
            run.append(char(lead));
            run.append(char(trail));
            trails.append(trail);
        }
        QStringDecoder decoder("windows-31j", QStringConverter::Flag::Stateless);
        if (!decoder.isValid())
            break;
        const QString text = decoder.decode(run);
        auto& row = (*table)[lead - 0x80];
        if (text.size() == trails.size()) {
            for (qsizetype i = 0; i < trails.size(); ++i) {
                const char16_t c = text.at(i).unicode();
                row[trails.at(i)] = (c == 0x1A || c < 0x80 || QChar::isSurrogate(c)) ? kReplacement : c;
            }
        } else {
            for (int trail : trails) {
                QStringDecoder single("windows-31j", QStringConverter::Flag::Stateless);
                const char pair[2] = {char(lead), char(trail)};
                const QString one = single.decode(QByteArrayView(pair, 2));
                if (!single.hasError() && one.size() == 1 && one.at(0).unicode() >= 0x80 &&
                    !one.at(0).isSurrogate())
                    row[trail] = one.at(0).unicode();
            }
        }
    }
    return table;
}

const DecodeTable& Cp932DecodeTable()
{
    static const std::unique_ptr<DecodeTable> table = BuildDecodeTable();
    return *table;
}

std::unique_ptr<EncodeTable> BuildEncodeTable()
{
    auto table = std::make_unique<EncodeTable>();
    table->fill(0);
    const DecodeTable& decode = Cp932DecodeTable();

    // The code ICU gives for `c`, kept only when it decodes back to `c` (no
    // one-way fallbacks; ICU gives 0xFCFC, not a CP932 character, for a
    // character it cannot encode).
    auto accept = [&](char16_t c, const char* code, qsizetype size) -> uint16_t {
        if (c == kReplacement)
            return 0;
        if (size == 1) {
            const uint8_t b = uint8_t(code[0]);
            return (b >= 0xA1 && b <= 0xDF) ? b : 0;
        }
        if (size == 2) {
            const uint8_t lead = uint8_t(code[0]);
            const uint8_t trail = uint8_t(code[1]);
            if (!IsLeadByte(lead) || !IsTrailByte(trail) || decode[lead - 0x80][trail] != c)
                return 0;
            return uint16_t(lead << 8 | trail);
        }
        return 0;
    };

    // One character at a time through one converter (a single run over all
    // characters cannot be split back: some characters give no bytes at all).
    QStringEncoder encoder("windows-31j", QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return table;
    std::array<char, 64> buffer{};
    if (encoder.requiredSpace(1) > qsizetype(buffer.size()))
        return table;
    for (uint32_t c = 0x80; c <= 0xFFFF; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        const char16_t ch = char16_t(c);
        encoder.resetState();
        const char* end = encoder.appendToBuffer(buffer.data(), QStringView(&ch, 1));
        (*table)[c] = accept(ch, buffer.data(), end - buffer.data());
    }
    return table;
}

const EncodeTable& Cp932EncodeTable()
{
    static const std::unique_ptr<EncodeTable> table = BuildEncodeTable();
    return *table;
}

// Windows' best-fit for characters CP932 lacks but Japanese text often holds
// in their JIS X 0208 / ISO forms.
char32_t BestFit(char32_t c)
{
    switch (c) {
    case 0x301C: return 0xFF5E;  // WAVE DASH → FULLWIDTH TILDE
    case 0x2016: return 0x2225;  // DOUBLE VERTICAL LINE → PARALLEL TO
    case 0x2212: return 0xFF0D;  // MINUS SIGN → FULLWIDTH HYPHEN-MINUS
    case 0x00A2: return 0xFFE0;  // CENT SIGN
    case 0x00A3: return 0xFFE1;  // POUND SIGN
    case 0x00AC: return 0xFFE2;  // NOT SIGN
    case 0x2014: return 0x2015;  // EM DASH → HORIZONTAL BAR
    case 0x00A5: return 0x005C;  // YEN SIGN → 0x5C
    case 0x203E: return 0x007E;  // OVERLINE → 0x7E
    default: return c;
    }
}

}  // namespace

QString DecodeCp932(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    const DecodeTable* table = nullptr;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const uint8_t b = uint8_t(bytes.at(i));
        if (b < 0x80) {
            text.append(QChar(char16_t(b)));
            ++i;
        } else if (b >= 0xA1 && b <= 0xDF) {
            text.append(QChar(char16_t(0xFF61 + (b - 0xA1))));
            ++i;
        } else if (IsLeadByte(b) && i + 1 < n && IsTrailByte(uint8_t(bytes.at(i + 1)))) {
            if (!table)
                table = &Cp932DecodeTable();
            text.append(QChar((*table)[b - 0x80][uint8_t(bytes.at(i + 1))]));
            i += 2;
        } else {
            text.append(QChar(kReplacement));
            ++i;
        }
    }
    return text;
}

QByteArray EncodeCp932(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    const EncodeTable* table = nullptr;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            ++i;  // a character beyond the BMP: CP932 has none
            bytes.append('?');
            continue;
        }
        c = BestFit(c);
        if (c < 0x80) {
            bytes.append(char(c));
            continue;
        }
        if (c >= 0xFF61 && c <= 0xFF9F) {
            bytes.append(char(0xA1 + (c - 0xFF61)));
            continue;
        }
        if (QChar::isSurrogate(c)) {
            bytes.append('?');
            continue;
        }
        if (!table)
            table = &Cp932EncodeTable();
        const uint16_t code = (*table)[c];
        if (code == 0)
            bytes.append('?');
        else if (code < 0x100)
            bytes.append(char(code));
        else {
            bytes.append(char(code >> 8));
            bytes.append(char(code & 0xFF));
        }
    }
    return bytes;
}

// ---------------------------------------------------------------------------
// Lines

QStringList SplitTextLines(const QString& text)
{
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n;) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

QString JoinTextLines(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}
