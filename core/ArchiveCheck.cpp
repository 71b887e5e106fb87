// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ArchiveCheck.h"

#include "core/PageIntent.h"
#include "core/WriteGuard.h"

#include "core/ArchiveFiles.h"
#include "core/Decimal.h"
#include "core/Memo.h"
#include "core/PageList.h"
#include "core/PageText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <map>
#include <tuple>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// ---------------------------------------------------------------------------
// Folder listings, read once: a category of 999 pages is 3000 names, and the
// whole archive must be read in a moment, so nothing is looked up file by
// file on disk.

struct Entry {
    QString name;
    bool file = false;  // a regular file
    bool dir = false;
    bool link = false;  // a symbolic link: neither of the above, whatever it leads to
};

// Every entry of the folder but "." and "..", in the order the file system
// gives them; none when it cannot be listed (errno says why).
std::optional<std::vector<Entry>> ListFolder(const QString& path)
{
    DIR* dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return std::nullopt;
    std::vector<Entry> entries;
    const int fd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        Entry entry;
        entry.name = QFile::decodeName(e->d_name);
        if (e->d_type == DT_REG) {
            entry.file = true;
        } else if (e->d_type == DT_DIR) {
            entry.dir = true;
        } else if (e->d_type == DT_LNK) {
            entry.link = true;
        } else if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                entry.file = S_ISREG(st.st_mode);
                entry.dir = S_ISDIR(st.st_mode);
                entry.link = S_ISLNK(st.st_mode);
            }
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
}

// The form names are compared in, letter case aside (as QString's
// case-insensitive compare has it); page names are ASCII, folded here
// without the tables.
QString Folded(const QString& name)
{
    qsizetype i = 0;
    for (; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (c >= 0x80)
            return name.toCaseFolded();
        if (c >= u'A' && c <= u'Z')
            break;
    }
    if (i == name.size())
        return name;  // shared, nothing to fold
    QString out = name;
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    for (; i < out.size(); ++i) {
        const char16_t c = to[i];
        if (c >= 0x80)
            return name.toCaseFolded();
        if (c >= u'A' && c <= u'Z')
            to[i] = char16_t(c + 32);
    }
    return out;
}

// A folder's names by their case-folded form, to find a name in any letter
// case as ResolveExistingPath does: the exact name first, else the smallest.
class FolderIndex {
public:
    QString path;         // the folder as found on disk; empty when it is not there
    QString relative;     // its name inside the category ("Image"), as on disk
    bool listed = false;  // it was there and could be listed
    bool linked = false;  // a symbolic link stands in its place: not looked into
    std::vector<Entry> entries;

    void Build()
    {
        // One hash entry per folded name; names that fold alike are chained.
        head_.reserve(qsizetype(entries.size()));
        next_.assign(entries.size(), -1);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            qsizetype& first = head_[Folded(entries[i].name)];
            next_[i] = first - 1;  // a new entry starts at 0: none before
            first = qsizetype(i) + 1;
        }
    }

    // The entry `name` resolves to, or null.
    const Entry* Find(const QString& name) const
    {
        const auto it = head_.constFind(Folded(name));
        if (it == head_.cend())
            return nullptr;
        const Entry* best = nullptr;
        for (qsizetype i = *it - 1; i >= 0; i = next_[std::size_t(i)]) {
            const Entry& e = entries[std::size_t(i)];
            if (e.name == name)
                return &e;
            if (!best || e.name < best->name)
                best = &e;
        }
        return best;
    }

    // The regular file `name` resolves to, or null (a folder in its place
    // counts as none, as FileExistsAnyCase has it).
    const Entry* FindFile(const QString& name) const
    {
        const Entry* e = Find(name);
        return e && e->file ? e : nullptr;
    }

    QString Rel(const QString& name) const { return relative + u'/' + name; }
    QString Abs(const QString& name) const { return path + u'/' + name; }

private:
    QHash<QString, qsizetype> head_;  // folded name → its last entry + 1
    std::vector<qsizetype> next_;     // entry → the one before it of the same folded name, or -1
};

bool IsAsciiDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// The page number of a name of the program's own form (eight digits and one
// of `extensions`, any letter case), or -1.
int PageFormNumber(const QString& name, std::initializer_list<QStringView> extensions)
{
    if (name.size() != 12 || !IsAsciiDigits(QStringView(name).left(8)))
        return -1;
    const QStringView ext = QStringView(name).mid(8);
    for (QStringView wanted : extensions) {
        if (ext.compare(wanted, Qt::CaseInsensitive) == 0) {
            int number = 0;
            for (qsizetype i = 0; i < 8; ++i)
                number = number * 10 + (name.at(i).unicode() - u'0');
            return number;
        }
    }
    return -1;
}

constexpr std::initializer_list<QStringView> kImageExtensions = {u".jpg", u".bmp", u".tif"};
constexpr std::initializer_list<QStringView> kThumbExtensions = {u".jpg"};
constexpr std::initializer_list<QStringView> kMemoExtensions = {u".txt"};
constexpr std::initializer_list<QStringView> kWordsExtensions = {u".tsv"};

QString Number8(int64_t n)
{
    return QString::asprintf("%08lld", static_cast<long long>(n));
}

QString Reason(int code)
{
    return IoErrorFromErrno(code).reason;
}

class Checker {
public:
    Checker(const QString& folder, const CheckOptions& options) : folder_(folder), options_(options) {}

    std::vector<CheckFinding> Run()
    {
        if (IsSymbolicLink(folder_)) {
            Add(FindingKind::Link, QString(),
                QStringLiteral("the category folder is a symbolic link (to %1); it is not checked")
                    .arg(Printable(QFileInfo(folder_).symLinkTarget())));
            return std::move(findings_);
        }
        const auto top = ListFolder(folder_);
        if (!top) {
            Add(FindingKind::FolderUnreadable, QString(),
                QStringLiteral("the category folder cannot be read: %1").arg(Reason(errno)));
            return std::move(findings_);
        }
        top_.path = folder_;
        top_.listed = true;
        top_.entries = std::move(*top);
        top_.Build();

        HoldBackPagesOfIntents();
        OpenSubFolder(image_, QStringLiteral("Image"));
        OpenSubFolder(thumb_, QStringLiteral("Thumb"));
        OpenSubFolder(text_, QStringLiteral("Text"));
        OpenSubFolder(words_, kWordsFolder, true);  // made with the first recognised text
        if (ReadList()) {
            CheckLines();
            if (Stopped())
                return std::move(findings_);  // told so far; nothing mended
            CheckOrphans();
            CheckHeader();
        }
        for (const FolderIndex* f : {&top_, &image_, &thumb_, &text_, &words_})
            CollectLeftovers(*f);
        if (options_.repair)
            Repair();
        return std::move(findings_);
    }

private:
    // A finding, and what its mend needs.
    struct Mend {
        enum What { None, MakeFolder, WriteThumb, WriteMemo, AppendPage, WithItsPage, RewriteList, Remove };
        What what = None;
        QString path;       // the folder or file to make (AppendPage: its thumbnail), or to remove
        QString memoPath;   // AppendPage: its memo to make
        QString imagePath;  // WriteThumb, AppendPage: the image a thumbnail is made from
        QString entry;      // AppendPage: the list line
    };

    CheckFinding& Add(FindingKind kind, const QString& file, const QString& what)
    {
        return Add(kind, file, what, Mend());
    }
    CheckFinding& Add(FindingKind kind, const QString& file, const QString& what, Mend mend)
    {
        CheckFinding f;
        f.kind = kind;
        f.file = file;
        f.what = what;
        f.mendable = mend.what != Mend::None;
        findings_.push_back(std::move(f));
        mends_.push_back(std::move(mend));
        return findings_.back();
    }

    void OpenSubFolder(FolderIndex& index, const QString& name, bool optional = false)
    {
        const Entry* e = top_.Find(name);
        if (e && e->link) {
            index.relative = e->name;
            index.linked = true;
            Add(FindingKind::Link, e->name,
                QStringLiteral("the %1 folder is a symbolic link (to %2); it is not looked into")
                    .arg(name, Printable(QFileInfo(folder_ + u'/' + e->name).symLinkTarget())));
            return;
        }
        if (!e && optional) {
            index.relative = name;
            return;
        }
        if (!e || !e->dir) {
            index.relative = name;
            Mend mend;
            if (!e) {  // something else under that name: nothing is made over it
                mend.what = Mend::MakeFolder;
                mend.path = folder_ + u'/' + name;
            }
            Add(FindingKind::FolderMissing, name, QStringLiteral("the %1 folder is not there").arg(name), mend);
            return;
        }
        index.relative = e->name;
        index.path = folder_ + u'/' + e->name;
        const auto entries = ListFolder(index.path);
        if (!entries) {
            Add(FindingKind::FolderUnreadable, e->name,
                QStringLiteral("the folder cannot be read: %1").arg(Reason(errno)));
            return;
        }
        index.listed = true;
        index.entries = std::move(*entries);
        index.Build();
    }

    // Reads FileList.txt into lines_; false when it cannot be read (nothing
    // else about the pages can then be told).
    bool ReadList()
    {
        const Entry* e = top_.Find(QStringLiteral("FileList.txt"));
        listName_ = e ? e->name : QStringLiteral("FileList.txt");
        if (!e) {
            lines_ = QStringList{QStringLiteral("00000000")};
            rewritable_ = true;
            return true;
        }
        if (e->link) {
            Add(FindingKind::Link, listName_, QStringLiteral("FileList.txt is a symbolic link; it is not read"));
            return false;
        }
        if (!e->file) {
            Add(FindingKind::ListUnreadable, listName_, QStringLiteral("FileList.txt is no file"));
            return false;
        }
        // Read line by line: a list of any size, with lines of any length,
        // is told in bounded words.
        ListFile file = ReadListFile(folder_ + u'/' + e->name);
        if (file.status != FileRead::Read) {
            Add(FindingKind::ListUnreadable, listName_,
                file.status == FileRead::NotRegular
                    ? QStringLiteral("FileList.txt is a %1, not a file").arg(file.kind)
                    : QStringLiteral("FileList.txt cannot be read: %1").arg(file.error.reason));
            return false;
        }
        // Written back only when that gives the same bytes (line ends apart).
        rewritable_ = file.exact;
        lines_ = std::move(file.lines);
        for (const auto& [line, bytes] : file.cutLines) {
            cut_.insert(line);
            Add(FindingKind::ListDamagedLine, listName_,
                QStringLiteral("line %1 is %2 bytes long, longer than any page entry: \"%3…\"")
                    .arg(line)
                    .arg(bytes)
                    .arg(Printable(lines_.at(line - 1).left(kShownChars))));
        }
        for (qsizetype i = 0; i < lines_.size(); ++i)
            if (!cut_.contains(int(i) + 1) && lines_.at(i).contains(QChar(0xFFFD)))
                Add(FindingKind::ListNotCp932, listName_,
                    QStringLiteral("line %1 holds bytes that are no CP932 text").arg(i + 1));
        if (lines_.isEmpty()) {
            lines_ = QStringList{QStringLiteral("00000000")};
            Add(FindingKind::ListDamagedLine, listName_, QStringLiteral("the list is empty: it has no header line"),
                ListMend());
        } else if (!file.endsWithBreak) {
            Add(FindingKind::ListDamagedLine, listName_,
                QStringLiteral("line %1, the last, has no line end (cut short?)").arg(lines_.size()), ListMend());
        }
        return true;
    }

    Mend ListMend() const
    {
        Mend mend;
        if (rewritable_)
            mend.what = Mend::RewriteList;
        return mend;
    }

    void CheckLines()
    {
        // A page number on several lines is told once, with its count; its
        // files are looked at for its first line only.
        QHash<QString, int> lineOfNumber;
        std::map<int, std::vector<int>> repeats;  // first line → the later lines
        for (qsizetype i = 1; i < lines_.size(); ++i) {
            if ((i & 1023) == 0 && Stopped())
                return;
            const QString& entry = lines_.at(i);
            const int line = int(i) + 1;
            if (cut_.contains(line))
                continue;  // told when read
            if (!IsSafePageEntry(entry)) {
                Add(FindingKind::ListDamagedLine, listName_,
                    QStringLiteral("line %1 \"%2\" names no page file").arg(line).arg(Shown(entry)));
                continue;
            }
            const QString number = PageNumberOfEntry(entry);
            const QString folded = Folded(number);
            if (const auto it = lineOfNumber.constFind(folded); it != lineOfNumber.cend()) {
                repeats[*it].push_back(line);
                continue;
            }
            lineOfNumber.insert(folded, line);
            if (number.size() == 8 && IsAsciiDigits(number)) {
                const int value = ParseDecimal(number);
                listed_.insert(value);
                highest_ = std::max<int64_t>(highest_, value);
            }
            CheckPage(entry, number, line);
        }
        for (const auto& [first, later] : repeats) {
            if (later.size() == 1) {
                Add(FindingKind::ListDamagedLine, listName_,
                    QStringLiteral("line %1 \"%2\" has the page number of line %3")
                        .arg(QString::number(later[0]), Shown(lines_.at(later[0] - 1)), QString::number(first)));
                continue;
            }
            QStringList shown;
            for (std::size_t k = 0; k < later.size() && k < 5; ++k)
                shown << QString::number(later[k]);
            Add(FindingKind::ListDamagedLine, listName_,
                QStringLiteral("lines %1%2 (%3 in all) have the page number of line %4 \"%5\"")
                    .arg(shown.join(QStringLiteral(", ")), later.size() > 5 ? QStringLiteral(", …") : QString(),
                         QString::number(later.size()), QString::number(first), Shown(lines_.at(first - 1))));
        }
    }

    // The files of the page on list line `line`.
    void CheckPage(const QString& entry, const QString& number, int line)
    {
        // Past the page limit no page file is made: the list is told, not
        // filled in for pages no window can take.
        const bool withinLimit = line <= kPageListLineLimit;
        const QString page = QStringLiteral("page %1 (list line %2)").arg(line - 1).arg(line);
        const QString thumbName = number + QStringLiteral(".jpg");
        const QString memoName = number + QStringLiteral(".txt");
        // A link in a page file's place is the page's, and only reported;
        // nothing is told about the files of a folder that is a link.
        bool linked[3] = {image_.linked, thumb_.linked, text_.linked};
        const Entry* found[3] = {nullptr, nullptr, nullptr};
        const FolderIndex* folders[3] = {&image_, &thumb_, &text_};
        const QString names[3] = {entry, thumbName, memoName};
        for (int k = 0; k < 3; ++k) {
            const Entry* e = folders[k]->listed ? folders[k]->Find(names[k]) : nullptr;
            if (e && e->link) {
                named_.insert(e);
                linked[k] = true;
                Add(FindingKind::Link, folders[k]->Rel(e->name),
                    QStringLiteral("the %1 of %2 is a symbolic link; nothing is read or written through it")
                        .arg(k == 0 ? QStringLiteral("page image") : k == 1 ? QStringLiteral("thumbnail")
                                                                             : QStringLiteral("memo"),
                             page));
            } else if (e && e->file) {
                named_.insert(e);
                found[k] = e;
            }
        }
        const Entry* image = found[0];
        const Entry* thumb = found[1];
        const Entry* memo = found[2];
        const bool decoding = bool(options_.decodes);
        if (Stopped())
            return;
        // Paths only where something is read or mended: most pages need none.
        const QString imagePath = image && (decoding || !thumb) ? image_.Abs(image->name) : QString();

        bool imageDecodes = image != nullptr;
        if (linked[0]) {
            imageDecodes = false;  // reported above
        } else if (!image) {
            Add(FindingKind::ImageMissing, image_.Rel(entry),
                QStringLiteral("the page image of %1 is not there").arg(page));
        } else if (decoding && !Decodes(imagePath)) {
            imageDecodes = false;
            Add(FindingKind::ImageUndecodable, image_.Rel(image->name),
                QStringLiteral("the page image of %1 does not decode").arg(page));
        }

        Mend thumbMend;
        if (withinLimit && !linked[1] && (!thumb || decoding) && imageDecodes && options_.makeThumbnail
            && (thumb_.listed || FolderWillBeMade(thumb_))) {
            thumbMend.what = Mend::WriteThumb;
            thumbMend.imagePath = imagePath;
            thumbMend.path = ThumbTarget(thumb ? thumb->name : thumbName);
        }
        if (linked[1]) {
            // reported above
        } else if (!thumb) {
            Add(FindingKind::ThumbnailMissing, thumb_.Rel(thumbName),
                QStringLiteral("the thumbnail of %1 is not there").arg(page), thumbMend);
        } else if (decoding && !Decodes(thumb_.Abs(thumb->name)))
            Add(FindingKind::ThumbnailUndecodable, thumb_.Rel(thumb->name),
                QStringLiteral("the thumbnail of %1 does not decode").arg(page), thumbMend);

        if (!memo && !linked[2]) {
            Mend memoMend;
            if (withinLimit && (text_.listed || FolderWillBeMade(text_))) {
                memoMend.what = Mend::WriteMemo;
                memoMend.path = MemoTarget(memoName);
            }
            Add(FindingKind::MemoMissing, text_.Rel(memoName),
                QStringLiteral("the memo of %1 is not there").arg(page), memoMend);
        }
    }

    bool Stopped() const { return options_.stopRequested && options_.stopRequested(); }

    // Each distinct file is decoded once, however many lines name it.
    bool Decodes(const QString& path)
    {
        const auto it = decoded_.constFind(path);
        if (it != decoded_.cend())
            return *it;
        const bool ok = options_.decodes(path);
        decoded_.insert(path, ok);
        return ok;
    }

    bool FolderWillBeMade(const FolderIndex& index) const
    {
        if (index.listed)
            return false;
        for (std::size_t i = 0; i < findings_.size(); ++i)
            if (findings_[i].kind == FindingKind::FolderMissing && findings_[i].file == index.relative)
                return mends_[i].what == Mend::MakeFolder;
        return false;
    }

    QString ThumbTarget(const QString& name) const
    {
        return (thumb_.listed ? thumb_.path : folder_ + u'/' + thumb_.relative) + u'/' + name;
    }
    QString MemoTarget(const QString& name) const
    {
        return (text_.listed ? text_.path : folder_ + u'/' + text_.relative) + u'/' + name;
    }

    // Page files that no list line names. The page image makes a page of
    // its number; its thumbnail and memo come with it.
    void CheckOrphans()
    {
        struct Orphans {
            std::vector<const Entry*> images, thumbs, memos, words;
        };
        std::map<int, Orphans> byNumber;  // in number order
        std::vector<std::pair<const FolderIndex*, const Entry*>> taken;
        auto collect = [&](const FolderIndex& index, std::initializer_list<QStringView> extensions,
                           std::vector<const Entry*> Orphans::*into) {
            if (!index.listed)
                return;
            for (const Entry& e : index.entries) {
                const int number = PageFormNumber(e.name, extensions);
                if (number < 0 || named_.contains(&e))
                    continue;
                if (e.link) {
                    Add(FindingKind::Link, index.Rel(e.name),
                        QStringLiteral("a symbolic link in a page file's place; no list line names it"));
                    continue;
                }
                if (!e.file)
                    continue;
                highest_ = std::max<int64_t>(highest_, number);
                if (named_.contains(&e))
                    continue;
                if (listed_.contains(number)) {
                    if (&index != &words_)  // a listed page's recognised text
                        taken.push_back({&index, &e});
                }  // another file of a listed page's number
                else
                    (byNumber[number].*into).push_back(&e);
            }
        };
        collect(image_, kImageExtensions, &Orphans::images);
        collect(thumb_, kThumbExtensions, &Orphans::thumbs);
        collect(text_, kMemoExtensions, &Orphans::memos);
        collect(words_, kWordsExtensions, &Orphans::words);

        std::sort(taken.begin(), taken.end(), [](const auto& a, const auto& b) {
            return a.first->Rel(a.second->name) < b.first->Rel(b.second->name);
        });
        for (const auto& [index, e] : taken)
            Add(FindingKind::Orphan, index->Rel(e->name),
                QStringLiteral("a page file no list line names; its number is a listed page's"));

        auto byName = [](const Entry* a, const Entry* b) { return a->name < b->name; };
        qsizetype appended = 0;
        for (auto& [number, o] : byNumber) {
            std::sort(o.images.begin(), o.images.end(), byName);
            std::sort(o.thumbs.begin(), o.thumbs.end(), byName);
            std::sort(o.memos.begin(), o.memos.end(), byName);
            const Entry* page = o.images.empty() ? nullptr : o.images.front();
            for (const Entry* e : o.images) {
                Mend mend;
                QString what = QStringLiteral("a page image no list line names");
                if (e != page) {
                    what += QStringLiteral("; its number is taken by %1").arg(image_.Rel(page->name));
                } else if (heldBack_.contains(number)) {
                    what += QStringLiteral("; a delete or move cut short names it, and finishing that decides");
                } else if (lines_.size() + appended >= kPageListLineLimit) {
                    what += QStringLiteral("; the list is at the page limit");
                } else if (rewritable_) {
                    ++appended;
                    mend.what = Mend::AppendPage;
                    mend.entry = e->name;
                    mend.imagePath = image_.Abs(e->name);
                    // Its thumbnail and memo, made when they are not there.
                    if (o.thumbs.empty() && thumb_.listed)
                        mend.path = ThumbTarget(e->name.left(8) + QStringLiteral(".jpg"));
                    if (o.memos.empty() && text_.listed)
                        mend.memoPath = MemoTarget(e->name.left(8) + QStringLiteral(".txt"));
                }
                Add(FindingKind::Orphan, image_.Rel(e->name), what, mend);
            }
            for (const auto& [files, index, kindName] :
                 {std::tuple{&o.thumbs, &thumb_, QStringLiteral("thumbnail")},
                  std::tuple{&o.memos, &text_, QStringLiteral("memo")},
                  std::tuple{&o.words, &words_, QStringLiteral("recognised text")}}) {
                for (const Entry* e : *files) {
                    Mend mend;
                    QString what = QStringLiteral("a %1 no list line names").arg(kindName);
                    if (!page)
                        what += QStringLiteral("; there is no page image of its number");
                    else if (heldBack_.contains(number))
                        what += QStringLiteral("; a delete or move cut short names its page");
                    else if (rewritable_)
                        mend.what = Mend::WithItsPage;
                    Add(FindingKind::Orphan, index->Rel(e->name), what, mend);
                }
            }
        }
    }

    // Pages that a delete or move cut short names in this category are never
    // appended: finishing the operation (ResolveIntent) decides where they go.
    void HoldBackPagesOfIntents()
    {
        const qsizetype slash = folder_.lastIndexOf(u'/');
        const QString root = slash > 0 ? folder_.left(slash) : QStringLiteral(".");
        const QString name = folder_.mid(slash + 1);
        auto hold = [&](const QString& category, const QString& entry) {
            if (category.compare(name, Qt::CaseInsensitive) != 0)
                return;
            const int number = PageFormNumber(entry, kImageExtensions);
            if (number >= 0)
                heldBack_.insert(number);
        };
        for (const PendingIntent& p : PendingIntents(root)) {
            if (!p.intent)
                continue;
            hold(p.intent->source, p.intent->sourceEntry);
            if (p.intent->kind == PageIntent::Kind::Move)
                hold(p.intent->destination, p.intent->destinationEntry);
        }
    }

    // The header: a number no lower than the highest in use (so the next
    // page number is new); one that is no number is taken as it reads.
    void CheckHeader()
    {
        const QString& header = lines_.first();
        if (!IsAsciiDigits(header)) {
            Add(FindingKind::ListDamagedLine, listName_,
                QStringLiteral("line 1, the header \"%1\", is no page number").arg(Shown(header)), ListMend());
            return;
        }
        if (ParseDecimal(header) >= highest_)
            return;
        Add(FindingKind::HeaderBelowHighest, listName_,
            QStringLiteral("the header line %1 is below %2, the highest page number in use")
                .arg(header, Number8(highest_)),
            ListMend());
    }

    // The header a rewritten list gets.
    QString NewHeader() const
    {
        const QString& header = lines_.first();
        const int64_t value = ParseDecimal(header);
        if (IsAsciiDigits(header) && value >= highest_)
            return header;
        return Number8(std::max<int64_t>(value, highest_));
    }

    void CollectLeftovers(const FolderIndex& index)
    {
        if (!index.listed)
            return;
        for (const Entry& e : index.entries) {
            if (!e.file || !IsAtomicWriteLeftover(e.name))
                continue;
            Mend mend;
            mend.what = Mend::Remove;
            mend.path = index.path + u'/' + e.name;
            const QString rel = &index == &top_ ? e.name : index.Rel(e.name);
            Add(FindingKind::Leftover, rel, QStringLiteral("a temporary file left by an interrupted write"), mend);
        }
    }

    // At most this many characters of a line are shown in a finding.
    static constexpr qsizetype kShownChars = 80;
    static QString Shown(const QString& text)
    {
        return text.size() <= kShownChars ? Printable(text) : Printable(text.left(kShownChars)) + u'…';
    }

    static QString Printable(const QString& text)
    {
        QString out;
        for (QChar c : text) {
            if (c.category() == QChar::Other_Control)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
        return out;
    }

    // ---- the mends, in the order that keeps every step safe ----

    void Repair()
    {
        std::vector<QString> notes(findings_.size());
        auto done = [&](std::size_t i, const QString& how) {
            findings_[i].mended = true;
            findings_[i].how = how;
        };
        auto left = [&](std::size_t i, const QString& why) { findings_[i].how = why; };

        // 1. Folders, so that the files below have somewhere to go.
        for (std::size_t i = 0; i < findings_.size(); ++i) {
            if (mends_[i].what != Mend::MakeFolder)
                continue;
            if (::mkdir(QFile::encodeName(mends_[i].path).constData(), 0777) == 0)
                done(i, QStringLiteral("made"));
            else
                left(i, QStringLiteral("cannot be made: ") + Reason(errno));
        }

        // 2. Thumbnails and memos, of listed pages and of orphan pages, before
        // any list line names them. A stop ends the repair between two files:
        // pages whose files are not all there are not appended.
        for (std::size_t i = 0; i < findings_.size(); ++i) {
            const Mend& m = mends_[i];
            QString why;
            if (m.what != Mend::None && m.what != Mend::MakeFolder && Stopped()) {
                for (std::size_t j = i; j < findings_.size(); ++j)
                    if (mends_[j].what != Mend::None && mends_[j].what != Mend::MakeFolder)
                        left(j, QStringLiteral("not done: the check was stopped"));
                return;
            }
            if (m.what == Mend::WriteThumb) {
                if (WriteThumb(m.path, m.imagePath, &why))
                    done(i, QStringLiteral("made from the page image"));
                else
                    left(i, why);
            } else if (m.what == Mend::WriteMemo) {
                if (WriteMemo(m.path, &why))
                    done(i, QStringLiteral("made, empty"));
                else
                    left(i, why);
            } else if (m.what == Mend::AppendPage) {
                if (!m.path.isEmpty())
                    notes[i] += WriteThumb(m.path, m.imagePath, &why) ? QStringLiteral(", its thumbnail made")
                                                                       : QStringLiteral("; its thumbnail: ") + why;
                if (!m.memoPath.isEmpty())
                    notes[i] += WriteMemo(m.memoPath, &why) ? QStringLiteral(", its memo made")
                                                            : QStringLiteral("; its memo: ") + why;
            }
        }

        // 3. The list, once: orphan pages appended in number order (the order
        // they were found in), the header raised.
        PageList list;
        list.lines = lines_;
        bool write = false;
        std::vector<int> lineOf(findings_.size(), 0);
        for (std::size_t i = 0; i < findings_.size(); ++i) {
            const Mend::What w = mends_[i].what;
            if (w == Mend::AppendPage) {
                list.lines.append(mends_[i].entry);
                lineOf[i] = int(list.lines.size());
            }
            write = write || w == Mend::AppendPage || w == Mend::RewriteList;
        }
        if (write) {
            list.lines[0] = NewHeader();
            IoError error;
            const bool saved = SavePageList(list, folder_, &error);
            for (std::size_t i = 0; i < findings_.size(); ++i) {
                const Mend::What w = mends_[i].what;
                if (w != Mend::RewriteList && w != Mend::AppendPage && w != Mend::WithItsPage)
                    continue;
                if (!saved)
                    left(i, QStringLiteral("FileList.txt cannot be written: ") + error.reason);
                else if (w == Mend::AppendPage)
                    done(i, QStringLiteral("appended to FileList.txt as line %1").arg(lineOf[i]) + notes[i]);
                else if (w == Mend::WithItsPage)
                    done(i, QStringLiteral("its page appended to FileList.txt"));
                else if (findings_[i].kind == FindingKind::HeaderBelowHighest)
                    done(i, QStringLiteral("raised to ") + list.lines.first());
                else if (findings_[i].file == listName_ && findings_[i].what.startsWith(QStringLiteral("line 1,")))
                    done(i, QStringLiteral("replaced by ") + list.lines.first());
                else
                    done(i, QStringLiteral("FileList.txt written again"));
            }
        }

        // 4. Leftovers last: nothing above needs them gone.
        for (std::size_t i = 0; i < findings_.size(); ++i) {
            if (mends_[i].what != Mend::Remove)
                continue;
            QFile file(mends_[i].path);
            if (file.remove())
                done(i, QStringLiteral("removed"));
            else
                left(i, QStringLiteral("cannot be removed: ") + file.errorString());
        }
    }

    static QString FolderOf(const QString& path) { return path.left(path.lastIndexOf(u'/')); }

    bool WriteThumb(const QString& target, const QString& imagePath, QString* why) const
    {
        if (!options_.makeThumbnail) {
            *why = QStringLiteral("thumbnails are not made here");
            return false;
        }
        if (!QFileInfo(FolderOf(target)).isDir()) {
            *why = QStringLiteral("the Thumb folder is not there");
            return false;
        }
        const std::optional<QByteArray> bytes = options_.makeThumbnail(imagePath);
        if (!bytes) {
            *why = QStringLiteral("no thumbnail can be made from the page image");
            return false;
        }
        IoError error;
        if (!WriteFileAtomically(ResolvePathForWrite(target), *bytes, &error)) {
            *why = QStringLiteral("cannot be written: ") + error.reason;
            return false;
        }
        return true;
    }

    static bool WriteMemo(const QString& target, QString* why)
    {
        if (!QFileInfo(FolderOf(target)).isDir()) {
            *why = QStringLiteral("the Text folder is not there");
            return false;
        }
        IoError error;
        if (!CreateEmptyMemo(ResolvePathForWrite(target), &error)) {
            *why = QStringLiteral("cannot be written: ") + error.reason;
            return false;
        }
        return true;
    }

    const QString folder_;
    const CheckOptions& options_;
    std::vector<CheckFinding> findings_;
    std::vector<Mend> mends_;
    FolderIndex top_, image_, thumb_, text_, words_;
    QString listName_;
    QStringList lines_;
    bool rewritable_ = false;
    QSet<int> heldBack_;  // page numbers an unfinished delete or move names
    QSet<int> cut_;       // list lines (from 1) that were cut where they were read
    QHash<QString, bool> decoded_;  // path → it gives a picture
    QSet<int> listed_;  // the page numbers of the list's lines of the program's form
    QSet<const Entry*> named_;  // the files the list's lines name
    int64_t highest_ = 0;
};

}  // namespace

namespace {

// True when the file was last written longer ago than a stale guard by the
// file server's clock (`serverNow`; invalid: not known, so not old).
bool OlderThanAStaleGuard(const QString& path, const QDateTime& serverNow)
{
    return serverNow.isValid() && QFileInfo(path).lastModified().toUTC().secsTo(serverNow) > kStaleGuardSeconds;
}

}  // namespace

std::vector<CheckFinding> CheckCategory(const QString& folder, const CheckOptions& options)
{
    return Checker(folder, options).Run();
}

std::vector<CheckFinding> CheckLeftovers(const QString& folder, const CheckOptions& options)
{
    std::vector<CheckFinding> out;
    const auto entries = ListFolder(folder);
    if (!entries)
        return out;
    // Writes here are not under any category's guard: a file younger than a
    // stale guard (by the file server's clock) may be a live writer's.
    QDateTime serverNow;
    bool asked = false;
    for (const Entry& e : *entries) {
        if (!e.file || !IsAtomicWriteLeftover(e.name))
            continue;
        CheckFinding f;
        f.kind = FindingKind::Leftover;
        f.file = e.name;
        f.what = QStringLiteral("a temporary file left by an interrupted write");
        f.mendable = true;
        if (options.repair) {
            if (!asked) {
                serverNow = ServerTimeIn(folder);
                asked = true;
            }
            const QString path = folder + u'/' + e.name;
            if (!OlderThanAStaleGuard(path, serverNow)) {
                f.how = QStringLiteral("too new: it may belong to a write in progress");
            } else {
                QFile file(path);
                f.mended = file.remove();
                f.how = f.mended ? QStringLiteral("removed") : QStringLiteral("cannot be removed: ") + file.errorString();
            }
        }
        out.push_back(std::move(f));
    }
    return out;
}

std::vector<CheckFinding> CheckLockFile(const QString& root, const CheckOptions& options)
{
    std::vector<CheckFinding> out;
    struct stat st {};
    const QString guard = ResolveExistingPath(root + QStringLiteral("/NetLock.CTL.lock"));
    if (::lstat(QFile::encodeName(guard).constData(), &st) == 0) {
        CheckFinding f;
        f.kind = FindingKind::Leftover;
        f.file = guard.mid(guard.lastIndexOf(u'/') + 1);
        const std::optional<OwnerToken> owner = OwnerToken::Parse(QString::fromUtf8(ReadWholeFile(guard).value_or(QByteArray())).trimmed());
        f.what = QStringLiteral("the guard of the lock file is there (%1): a workstation is taking the lock, "
                                "or one died doing so")
                     .arg(owner ? owner->Describe() : QStringLiteral("no owner in it"));
        f.mendable = S_ISREG(st.st_mode);
        if (options.repair && f.mendable) {
            if (!OlderThanAStaleGuard(guard, ServerTimeIn(root))) {
                f.how = QStringLiteral("too new: it may belong to a taking in progress");
            } else {
                IoError error;
                f.mended = RemoveFileRetrying(guard, &error);
                f.how = f.mended ? QStringLiteral("removed") : QStringLiteral("cannot be removed: ") + error.reason;
            }
        }
        out.push_back(std::move(f));
    }
    const QString path = ResolveExistingPath(root + QStringLiteral("/NetLock.CTL"));
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return out;
    CheckFinding f;
    f.kind = S_ISLNK(st.st_mode) ? FindingKind::Link : FindingKind::ListUnreadable;
    f.file = path.mid(path.lastIndexOf(u'/') + 1);
    f.what = QStringLiteral("NetLock.CTL is a %1, not a file: the shared-write lock cannot be taken")
                 .arg(SpecialFileKind(st.st_mode));
    out.push_back(std::move(f));
    return out;
}

std::vector<CheckFinding> CheckIntents(const QString& root, const CheckOptions& options)
{
    std::vector<CheckFinding> out;
    for (const PendingIntent& p : PendingIntents(root)) {
        CheckFinding f;
        f.kind = FindingKind::Unfinished;
        f.file = p.path.mid(p.path.lastIndexOf(u'/') + 1);
        if (!p.intent)
            f.what = QStringLiteral("a record of a delete or move that cannot be read");
        else if (p.intent->kind == PageIntent::Kind::Delete)
            f.what = QStringLiteral("the delete of %1/%2 was cut short").arg(p.intent->source, p.intent->sourceEntry);
        else
            f.what = QStringLiteral("the move of %1/%2 to %3 was cut short")
                         .arg(p.intent->source, p.intent->sourceEntry, p.intent->destination);
        f.mendable = bool(p.intent);
        if (options.repair) {
            const IntentResolution r = ResolveIntent(root, p.path);
            f.mended = r.done;
            f.how = r.how;
        }
        out.push_back(std::move(f));
    }
    return out;
}
