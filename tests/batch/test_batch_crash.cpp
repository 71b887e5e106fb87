// SPDX-License-Identifier: GPL-3.0-or-later
// Crash safety of tolvane-batch add, proven by force: the command is killed
// with SIGKILL at random moments, hundreds of times, and after each kill the
// check must find the list whole and every listed page whole; whatever the
// kill left over (page files without a line, a low header, temporary files)
// must be mended by check --repair with nothing lost, and a second check
// must find nothing.
//
// The kill moments follow the machine: whole runs are watched (inotify on
// the category) for when the first and the last file is written, and the
// kills are spread across that span (KillMoments), measured again as the
// test goes. Whether a kill landed in the work is read from what it left,
// not from the clock: the child was ended by our SIGKILL, something was
// written, and not every page of the run is listed. The test goes on past
// its number of kills until at least half of them landed so, and until one
// left something for the repair to mend; it gives up (and fails) when that
// has not happened in four times as many.
//
// TOLVANE_CRASH_RUNS sets the number of kills (500 by default),
// TOLVANE_CRASH_SEED the random seed (printed, to replay a failure).

#include "tests/batch/BatchTestSupport.h"
#include "tests/batch/KillTestSupport.h"

#include <QRegularExpression>

#include <poll.h>
#include <sys/inotify.h>

#include <cstdio>
#include <random>

namespace {

using namespace batchtest;
using namespace killtest;

class CrashTest : public BatchTest {
protected:
    QStringList Listed(const QString& category) const
    {
        QStringList lines = QString::fromLatin1(ReadAll(A(category + "/FileList.txt"))).split("\r\n");
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    std::optional<Child> StartAdd(const QString& category, const QStringList& inputs) const
    {
        return Child::Spawn(QStringLiteral(TOLVANE_BATCH_EXE), On("add", category, inputs), Env().toStringList(),
                            tmp_.filePath("add.err"));
    }

    // A whole run of add, watched: when the first and the last file of the
    // category was written, in microseconds after the start (-1 when none).
    struct Watched {
        Ended ended;
        qint64 firstWriteUs = -1, lastWriteUs = -1;
    };
    Watched WatchedRun(const QString& category, const QStringList& inputs) const
    {
        Watched w;
        const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        EXPECT_GE(fd, 0) << std::strerror(errno);
        for (const QString& dir : {A(category), A(category + "/Image"), A(category + "/Thumb"), A(category + "/Text")})
            EXPECT_GE(inotify_add_watch(fd, QFile::encodeName(dir).constData(),
                                        IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_DELETE),
                      0);
        const qint64 start = NowUs();
        std::optional<Child> child = StartAdd(category, inputs);
        EXPECT_TRUE(child.has_value());
        if (!child) {
            ::close(fd);
            return w;
        }
        auto drain = [&] {
            alignas(inotify_event) char buffer[8192];
            bool any = false;
            while (::read(fd, buffer, sizeof buffer) > 0)
                any = true;
            if (any) {
                const qint64 t = NowUs() - start;
                if (w.firstWriteUs < 0)
                    w.firstWriteUs = t;
                w.lastWriteUs = t;
            }
        };
        for (bool ended = false; !ended;) {
            ended = child->HasEnded();  // before the last drain: nothing written after it is missed
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, ended ? 0 : 1);
            drain();
        }
        w.ended = child->Wait();
        ::close(fd);
        return w;
    }
};

TEST_F(CrashTest, KilledAtRandomMomentsTheListStaysWholeAndEveryOrphanIsMended)
{
    const int runs = qEnvironmentVariableIsSet("TOLVANE_CRASH_RUNS") ? qEnvironmentVariableIntValue("TOLVANE_CRASH_RUNS")
                                                                     : 500;
    const unsigned seed = qEnvironmentVariableIsSet("TOLVANE_CRASH_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("TOLVANE_CRASH_SEED"))
                              : std::random_device{}();
    ASSERT_GT(runs, 0);
    std::printf("crash test: %d runs, seed %u\n", runs, seed);
    std::mt19937 random(seed);
    const int landedWanted = (runs + 1) / 2;
    const int attemptLimit = 4 * runs + 40;

    // Small pages, so that the writes are a good part of each run.
    QStringList inputs;
    for (int i = 0; i < 3; ++i) {
        const QString path = tmp_.filePath(QStringLiteral("in%1.jpg").arg(i));
        ASSERT_TRUE(ImgKitJpegFileSave(path, MakePicture(360 + 40 * i, 500), 90));
        inputs << path;
    }

    static const QRegularExpression kEntry(QStringLiteral("^\\d{8}\\.jpg$"));
    static const QRegularExpression kHeader(QStringLiteral("^\\d{8}$"));
    struct Counts {
        int kills = 0, landed = 0, beforeAnyWrite = 0, afterTheWork = 0, finished = 0, measured = 0;
        int orphanImages = 0, orphanThumbs = 0, orphanMemos = 0, leftovers = 0, lowHeaders = 0;
        int repairs = 0;
    } counts;
    KillMoments moments;

    QString category;
    for (int attempt = 0; counts.kills < runs || counts.landed < landedWanted || counts.repairs == 0; ++attempt) {
        ASSERT_LT(attempt, attemptLimit)
            << counts.kills << " kills, " << counts.landed << " in the work (" << landedWanted << " wanted), "
            << counts.repairs << " repairs: the kills do not land while add writes; kill moments "
            << moments.Begin() << ".." << moments.End() << " us, seed " << seed;
        // A fresh category every 80 runs keeps it far below the page limit;
        // each starts with a page, so that it has a list to lose.
        if (attempt % 80 == 0) {
            category = QStringLiteral("Crash%1").arg(attempt / 80);
            MakeCategory(category);
            ASSERT_TRUE(Succeeded(Batch(On("add", category, {inputs.first()}))));
        }
        const QStringList before = Listed(category);
        const QStringList treeBefore = Tree(A(category));

        if (moments.MeasurementDue()) {
            // A whole run, watched: it must file all three pages.
            const Watched w = WatchedRun(category, inputs);
            ASSERT_FALSE(w.ended.bySignal) << "attempt " << attempt << ": add died of signal " << w.ended.code;
            ASSERT_EQ(w.ended.code, 0) << "attempt " << attempt << ", a whole run after the kills before it: "
                                       << ReadAll(tmp_.filePath("add.err")).constData();
            ASSERT_GE(w.firstWriteUs, 0) << "attempt " << attempt << ": add wrote nothing";
            ASSERT_EQ(Listed(category).size(), before.size() + 3) << "attempt " << attempt;
            moments.Measured(w.firstWriteUs, w.lastWriteUs);
            ++counts.measured;
        } else {
            const qint64 start = NowUs();
            std::optional<Child> child = StartAdd(category, inputs);
            ASSERT_TRUE(child.has_value());
            SleepUntilUs(start + moments.Draw(random));
            child->Kill();
            const Ended ended = child->Wait();
            ++counts.kills;
            bool landed = false;
            if (!ended.bySignal) {
                ASSERT_EQ(ended.code, 0) << "attempt " << attempt << ": "
                                         << ReadAll(tmp_.filePath("add.err")).constData();
                ++counts.finished;
            } else {
                ASSERT_EQ(ended.code, SIGKILL) << "attempt " << attempt << ": add died of another signal";
                if (Tree(A(category)) == treeBefore)
                    ++counts.beforeAnyWrite;
                else if (Listed(category).size() >= before.size() + 3)
                    ++counts.afterTheWork;
                else
                    landed = true;
            }
            counts.landed += landed;
            moments.Landed(landed);
        }

        // The list: there, whole, every line before still there in order,
        // every line a page with its three files.
        const QStringList lines = Listed(category);
        ASSERT_FALSE(lines.isEmpty()) << "attempt " << attempt << ": FileList.txt missing or empty";
        ASSERT_TRUE(kHeader.match(lines.first()).hasMatch())
            << "attempt " << attempt << ": header " << qPrintable(lines.first());
        ASSERT_GE(lines.size(), before.size()) << "attempt " << attempt;
        ASSERT_EQ(lines.mid(1, before.size() - 1), before.mid(1)) << "attempt " << attempt << ": list lines lost";
        for (const QString& entry : lines.mid(1)) {
            ASSERT_TRUE(kEntry.match(entry).hasMatch()) << "attempt " << attempt << ": torn line " << qPrintable(entry);
            const QString n = entry.left(8);
            ASSERT_TRUE(QFileInfo::exists(A(category + "/Image/" + entry)))
                << "attempt " << attempt << ": " << qPrintable(entry);
            ASSERT_TRUE(QFileInfo::exists(A(category + "/Thumb/" + n + ".jpg"))) << "attempt " << attempt;
            ASSERT_TRUE(QFileInfo::exists(A(category + "/Text/" + n + ".txt"))) << "attempt " << attempt;
        }

        // The check agrees, and finds only what a kill may leave.
        const Outcome check = Batch(On("check", category));
        ASSERT_TRUE(check.err.isEmpty()) << check.err.constData();
        const QStringList findings = QString::fromUtf8(check.out).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(check.exitCode, findings.isEmpty() ? 0 : 1);
        const QString prefix = category + u'/';
        for (const QString& f : findings) {
            if (f.contains(QStringLiteral("a page image no list line names")))
                ++counts.orphanImages;
            else if (f.contains(QStringLiteral("a thumbnail no list line names")))
                ++counts.orphanThumbs;
            else if (f.contains(QStringLiteral("a memo no list line names")))
                ++counts.orphanMemos;
            else if (f.contains(QStringLiteral("a temporary file left by an interrupted write")))
                ++counts.leftovers;
            else if (f.contains(QStringLiteral("is below")))
                ++counts.lowHeaders;
            else
                FAIL() << "attempt " << attempt << ": " << qPrintable(f);
            ASSERT_TRUE(f.startsWith(prefix)) << qPrintable(f);
        }
        if (findings.isEmpty())
            continue;

        // Every page image there before the repair is listed after it; the
        // repair mends all, and the next check finds nothing.
        QStringList images = QDir(A(category + "/Image")).entryList({"*.jpg"}, QDir::Files);
        const Outcome repair = Batch(On("check", category, {"--repair"}));
        ++counts.repairs;
        ASSERT_EQ(repair.exitCode, 1);
        for (const QString& line : QString::fromUtf8(repair.out).split(u'\n', Qt::SkipEmptyParts))
            ASSERT_TRUE(line.contains(QStringLiteral("; mended: ")))
                << "attempt " << attempt << ": " << qPrintable(line);
        const QStringList mended = Listed(category);
        for (const QString& image : images)
            ASSERT_TRUE(mended.contains(image)) << "attempt " << attempt << ": " << qPrintable(image) << " lost";
        ASSERT_EQ(mended.mid(1, lines.size() - 1), lines.mid(1)) << "attempt " << attempt;
        const Outcome again = Batch(On("check", category));
        ASSERT_EQ(again.exitCode, 0) << "attempt " << attempt << ": " << again.out.constData();
        ASSERT_TRUE(again.out.isEmpty());
    }

    std::printf("crash test: %d kills, %d of them while add was writing, %d before its first write, %d after its "
                "last, %d after it had ended; %d whole runs measured, kill moments %lld..%lld us after the start; "
                "found %d orphan page images, %d orphan thumbnails, %d orphan memos, %d temporary files, %d low "
                "headers; %d repairs, each leaving nothing for the next check\n",
                counts.kills, counts.landed, counts.beforeAnyWrite, counts.afterTheWork, counts.finished,
                counts.measured, static_cast<long long>(moments.Begin()), static_cast<long long>(moments.End()),
                counts.orphanImages, counts.orphanThumbs, counts.orphanMemos, counts.leftovers, counts.lowHeaders,
                counts.repairs);
    RecordProperty("kills", counts.kills);
    RecordProperty("killed_while_writing", counts.landed);
    RecordProperty("orphan_images", counts.orphanImages);
    RecordProperty("repairs", counts.repairs);
}

}  // namespace
