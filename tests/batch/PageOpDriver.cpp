// SPDX-License-Identifier: GPL-3.0-or-later
// The page operations of the main window, run without it for the kill test
// of delete, move and copy (test_batch_pageop_crash.cpp): a number of
// operations on the categories A and B of an archive, each through
// ArchiveSession as the window's handlers call it, chosen at random from a
// seed.
//
//   tolvane_pageop_driver ROOT LOG SEED OPERATIONS FIRST-NEW-ID
//
// Every page of the archive is a test page (KillTestSupport.h): its image
// and thumbnail carry its identity. A copy files the page's bytes again as a
// new last page of its category, under the identity FIRST-NEW-ID, the next
// copy under the one after it, and so on.
//
// LOG gets one line per step, each written with one write(2) on a file
// opened for appending, so that a line is in the file the moment the call
// returns and a SIGKILL after it loses nothing of it:
//   <us> ready
//   <us> begin delete <category> <index> <id> <entry>
//   <us> begin move <category> <index> <id> <entry> <destination>
//   <us> begin copy <category> <index> <id> <entry> <new id>
//   <us> done ok                        (the operation begun last)
//   <us> done failed <message>
//   <us> end
//   <us> error <what>
// <us> is CLOCK_MONOTONIC in microseconds, the clock the test measures with.
//
// Exit status: 0 all done, 1 an operation failed, 2 wrong arguments or an
// archive that is not as the test made it.

#include "core/ArchiveSession.h"
#include "tests/batch/KillTestSupport.h"

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <random>

namespace {

int logFd = -1;

void Log(const QString& text)
{
    const QByteArray line = QByteArray::number(killtest::NowUs()) + ' ' + text.toUtf8() + '\n';
    for (qsizetype done = 0; done < line.size();) {
        const ssize_t n = ::write(logFd, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

int Fail(const QString& what)
{
    Log(QStringLiteral("error ") + what);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 5)
        return 2;
    const QString root = args.at(0);
    logFd = ::open(QFile::encodeName(args.at(1)).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0)
        return 2;
    std::mt19937 random(args.at(2).toUInt());
    const int operations = args.at(3).toInt();
    int nextId = args.at(4).toInt();
    Log(QStringLiteral("ready"));

    // Between 16 and 32 pages in all: deletes stop below, copies above.
    constexpr int kFewest = 16, kMost = 32;
    for (int op = 0; op < operations; ++op) {
        ArchiveSession a, b;
        a.SelectCategory(root + QStringLiteral("/A"));
        b.SelectCategory(root + QStringLiteral("/B"));
        const int total = a.Pages.Count() + b.Pages.Count();
        if (total == 0)
            return Fail(QStringLiteral("no pages"));
        const bool fromA = b.Pages.Count() == 0 || (a.Pages.Count() > 0 && random() % 2 == 0);
        const QString name = fromA ? QStringLiteral("A") : QStringLiteral("B");
        const QString other = fromA ? QStringLiteral("B") : QStringLiteral("A");

        ArchiveSession s;
        s.ArchiveRoot = root;  // where the records of its deletes and moves are kept
        s.SelectCategory(root + u'/' + name);
        const int index = int(random() % unsigned(s.Pages.Count()));
        const QString entry = PageEntry(s.Pages, index);
        const std::optional<QByteArray> image = ReadWholeFile(ImagePath(s.CurrentFolder, s.Pages, index));
        const int id = image ? killtest::TagOf(*image) : -1;
        if (id < 0)
            return Fail(QStringLiteral("%1 %2: no test page").arg(name, entry));

        std::vector<int> kinds{1};  // move
        if (total > kFewest)
            kinds.push_back(0);  // delete
        if (total < kMost)
            kinds.push_back(2);  // copy
        const int kind = kinds[random() % kinds.size()];
        const QString begun = QStringLiteral("%1 %2 %3 %4").arg(name).arg(index).arg(id).arg(entry);
        PageResult result;
        if (kind == 0) {
            Log(QStringLiteral("begin delete ") + begun);
            result = s.DeletePage(index);
        } else if (kind == 1) {
            Log(QStringLiteral("begin move ") + begun + u' ' + other);
            result = s.MovePageToCategory(index, root + u'/' + other);
        } else {
            const std::optional<QByteArray> thumb = ReadWholeFile(ThumbPath(s.CurrentFolder, s.Pages, index));
            const QByteArray copy = killtest::Retagged(*image, nextId);
            // A thumbnail the repair made again has no tag; the copy gets the page's own.
            const QByteArray copyThumb = thumb && killtest::TagOf(*thumb) >= 0 ? killtest::Retagged(*thumb, nextId)
                                         : thumb                              ? *thumb
                                                                              : QByteArray();
            if (copyThumb.isEmpty())
                return Fail(QStringLiteral("%1 %2: no thumbnail").arg(name, entry));
            Log(QStringLiteral("begin copy ") + begun + u' ' + QString::number(nextId));
            ++nextId;
            result = s.StoreNewPage(copy, QStringLiteral(".jpg"), copyThumb);
        }
        if (!result) {
            Log(QStringLiteral("done failed ") + result.message + QStringLiteral(": ") + result.error.reason);
            return 1;
        }
        Log(QStringLiteral("done ok"));
    }
    Log(QStringLiteral("end"));
    return 0;
}
