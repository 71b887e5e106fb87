// SPDX-License-Identifier: GPL-3.0-or-later
// Crash safety of the page operations, proven by force: the driver
// (PageOpDriver.cpp) deletes, moves and copies pages of the categories A and
// B through ArchiveSession, and is killed with SIGKILL at random moments,
// hundreds of times. After each kill, check --repair runs on the archive and
// a second check (decoding every image) must find nothing; then every page
// must be in exactly one place, whole:
//   - every page the operations did not delete is listed exactly once in A
//     or B, at the place the completed operations put it;
//   - a delete in flight: the page is gone, or still whole at its place;
//     once its list was written without it, gone for good (a repair must
//     not bring it back at the end of the list);
//   - a move in flight: the page is in the destination when the
//     destination's list named it before the repair, else in the source at
//     its place, never in both;
//   - a copy in flight: its new page is there once at the end, or not at all;
//     once listed, there;
//   - every listed page's image is byte for byte the one filed, its
//     thumbnail decodes and belongs to it, its memo is its own;
//   - no intent record is left in the archive root.
// The driver logs each operation as it begins and as it is done, so the
// test knows which one the kill cut short, and simulates the completed ones.
//
// The kill moments follow the machine as in batch.CrashSafety: whole runs of
// the driver are measured from its log (from "ready" to the last "done", on
// the clock the test reads), and the kills are spread across that span. A
// kill landed in an operation when the driver did not end by itself and its
// log ends with a "begin"; the test goes on until that is so for
// TOLVANE_PAGEOP_KILLS kills (300 by default), a twentieth of them or more
// in each of delete, move and copy, and gives up when three times as many
// kills have not done it. TOLVANE_PAGEOP_SEED replays the random choices.
//
// A wrong outcome is reported and the test goes on from the state found,
// so that one run shows every kind of fault; it stops at the tenth.

#include "core/ArchiveSession.h"
#include "core/PageList.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/batch/KillTestSupport.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

namespace {

using namespace batchtest;
using namespace killtest;

using Ids = std::vector<int>;

// The identities listed in A and B, in list order.
struct State {
    Ids a, b;
    Ids& Of(const QString& category) { return category == u"A" ? a : b; }
    const Ids& Of(const QString& category) const { return category == u"A" ? a : b; }
    bool operator==(const State& o) const { return a == o.a && b == o.b; }
};

QString Describe(const Ids& ids)
{
    QStringList out;
    for (int id : ids)
        out << QString::number(id);
    return u'[' + out.join(u' ') + u']';
}
QString Describe(const State& s)
{
    return QStringLiteral("A ") + Describe(s.a) + QStringLiteral(" B ") + Describe(s.b);
}

bool Contains(const Ids& ids, int id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

enum Kind { kDelete, kMove, kCopy, kKinds };
const char* const kKindNames[kKinds] = {"delete", "move", "copy"};

struct Op {
    Kind kind = kDelete;
    QString from, entry, to;
    int index = -1, id = -1, newId = -1;
    bool done = false;

    QString Text() const
    {
        QString t = QStringLiteral("%1 of page %2 (%3 line %4, %5)")
                        .arg(QLatin1String(kKindNames[kind]))
                        .arg(id)
                        .arg(from)
                        .arg(index + 2)
                        .arg(entry);
        if (kind == kMove)
            t += QStringLiteral(" to ") + to;
        if (kind == kCopy)
            t += QStringLiteral(" as page %1").arg(newId);
        return t;
    }
};

// What the operation does to the lists when it is done.
void Apply(State& s, const Op& op)
{
    Ids& from = s.Of(op.from);
    if (op.kind == kCopy) {
        from.push_back(op.newId);
        return;
    }
    from.erase(from.begin() + op.index);
    if (op.kind == kMove)
        s.Of(op.to).push_back(op.id);
}

struct DriverLog {
    qint64 readyUs = -1, lastDoneUs = -1;  // after the start
    std::vector<Op> ops;
    bool ended = false;
    QStringList errors;  // lines the test does not expect
};

DriverLog ReadLog(const QString& path, qint64 startUs)
{
    DriverLog log;
    QList<QByteArray> lines = ReadAll(path).split('\n');
    lines.removeLast();  // after the last line end: empty, or a line the kill cut short
    for (const QByteArray& raw : lines) {
        const QStringList w = QString::fromUtf8(raw).split(u' ');
        const qint64 t = w.first().toLongLong() - startUs;
        const QString word = w.value(1);
        if (word == u"ready" && w.size() == 2) {
            log.readyUs = t;
        } else if (word == u"end" && w.size() == 2) {
            log.ended = true;
        } else if (word == u"done" && w.value(2) == u"ok" && !log.ops.empty() && !log.ops.back().done) {
            log.ops.back().done = true;
            log.lastDoneUs = t;
        } else if (word == u"begin" && w.size() >= 7) {
            Op op;
            const QString kind = w.at(2);
            op.kind = kind == u"delete" ? kDelete : kind == u"move" ? kMove : kCopy;
            op.from = w.at(3);
            op.index = w.at(4).toInt();
            op.id = w.at(5).toInt();
            op.entry = w.at(6);
            if (op.kind == kMove)
                op.to = w.value(7);
            if (op.kind == kCopy)
                op.newId = w.value(7).toInt();
            log.ops.push_back(op);
        } else {
            log.errors << QString::fromUtf8(raw);
        }
    }
    return log;
}

class PageOpCrashTest : public BatchTest {
protected:
    static constexpr int kPagesEach = 12;
    static constexpr int kOpsPerRun = 6;
    static constexpr int kFirstCopyId = 1000;  // the test's own pages are numbered below it

    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(ImgKitJpegEncode(MakePicture(300, 420), 85, image_));
        ASSERT_TRUE(ImgKitJpegEncode(MakePicture(75, 105), 80, thumb_));
        for (const char* name : {"A", "B"}) {
            MakeCategory(name);
            ArchiveSession s;
            s.SelectCategory(A(name));
            for (int i = 0; i < kPagesEach; ++i) {
                const int id = ++lastId_;
                ASSERT_TRUE(s.StoreNewPage(Tagged(image_, id), QStringLiteral(".jpg"), Tagged(thumb_, id)));
                ASSERT_TRUE(WriteFileAtomically(MemoPath(s.CurrentFolder, s.Pages, s.Pages.Count() - 1), MemoOf(id)));
            }
        }
    }

    QString Root() const { return Archive(); }

    // What is wrong with a listed page's files.
    struct Problem {
        int id;         // the page's, -1 when its image says none
        QString where;  // its category, list line and entry
        QString what;
        QString Key() const { return id < 0 ? where + what : QString::number(id) + what; }
    };

    // The identities of a category's listed pages (-1 for one that is no
    // test page). With `problems`, every listed page's files are checked too.
    Ids Listed(const QString& category, std::vector<Problem>* problems = nullptr) const
    {
        PageList list;
        const QString folder = A(category);
        LoadPageList(list, folder);
        Ids ids;
        for (int i = 0; i < list.Count(); ++i) {
            const QString page = QStringLiteral("%1 line %2 (%3)").arg(category).arg(i + 2).arg(PageEntry(list, i));
            const std::optional<QByteArray> image = ReadWholeFile(ImagePath(folder, list, i));
            const int id = image ? TagOf(*image) : -1;
            ids.push_back(id);
            if (!problems)
                continue;
            auto wrong = [&](const QString& what) { problems->push_back({id, page, what}); };
            if (!image) {
                wrong(QStringLiteral("no page image"));
                continue;
            }
            if (id < 0 || *image != Tagged(image_, id)) {
                wrong(QStringLiteral("the page image is not the one filed"));
                continue;
            }
            const std::optional<QByteArray> thumb = ReadWholeFile(ThumbPath(folder, list, i));
            if (!thumb)
                wrong(QStringLiteral("no thumbnail"));
            else if (!ImgKitMemoryLoad(*thumb))
                wrong(QStringLiteral("the thumbnail does not decode"));
            else if (TagOf(*thumb) >= 0 && TagOf(*thumb) != id)
                wrong(QStringLiteral("the thumbnail is page %1's").arg(TagOf(*thumb)));
            const std::optional<QByteArray> memo = ReadWholeFile(MemoPath(folder, list, i));
            const QByteArray memoWanted = id < kFirstCopyId ? MemoOf(id) : QByteArrayLiteral("\r\n");
            if (!memo)
                wrong(QStringLiteral("no memo"));
            else if (*memo != memoWanted)
                wrong(QStringLiteral("the memo is not its own: \"%1\"").arg(QString::fromLatin1(*memo).trimmed()));
        }
        return ids;
    }
    State Listed(std::vector<Problem>* problems = nullptr) const
    {
        State s;
        s.a = Listed(QStringLiteral("A"), problems);
        s.b = Listed(QStringLiteral("B"), problems);
        return s;
    }

    QStringList Intents() const
    {
        return QDir(Root()).entryList({QStringLiteral(".tolvane-intent-*")}, QDir::Files | QDir::Hidden);
    }

    // The pages listed more often, or less often, than `wanted` has them.
    static QString Misplaced(const State& actual, const State& wanted)
    {
        std::map<int, std::pair<int, int>> times;  // id -> listed in actual, in wanted
        for (const Ids* ids : {&actual.a, &actual.b})
            for (int id : *ids)
                ++times[id].first;
        for (const Ids* ids : {&wanted.a, &wanted.b})
            for (int id : *ids)
                ++times[id].second;
        QStringList out;
        for (const auto& [id, t] : times)
            if (t.first != t.second)
                out << QStringLiteral("page %1 listed %2 times, not %3").arg(id).arg(t.first).arg(t.second);
        return out.join(QStringLiteral("; "));
    }

    QByteArray image_, thumb_;  // untagged
    int lastId_ = 0;
};

TEST_F(PageOpCrashTest, KilledInDeleteMoveOrCopyEveryPageIsInExactlyOnePlaceWhole)
{
    const int kills = qEnvironmentVariableIsSet("TOLVANE_PAGEOP_KILLS")
                          ? qEnvironmentVariableIntValue("TOLVANE_PAGEOP_KILLS")
                          : 300;
    const unsigned seed = qEnvironmentVariableIsSet("TOLVANE_PAGEOP_SEED")
                              ? unsigned(qEnvironmentVariableIntValue("TOLVANE_PAGEOP_SEED"))
                              : std::random_device{}();
    ASSERT_GT(kills, 0);
    std::printf("page operation kill test: %d kills, seed %u\n", kills, seed);
    std::mt19937 random(seed);
    const int eachKindWanted = std::max(1, kills / 20);
    const int attemptLimit = 3 * kills + 60;
    constexpr int kFaultLimit = 10;

    struct Counts {
        int attempts = 0, measured = 0, kills = 0, landed = 0, betweenOps = 0, finished = 0;
        std::array<int, kKinds> landedIn{};
        int deletesListWritten = 0, movesForward = 0, movesBack = 0, copiesListed = 0;
        int repairsFinding = 0, faults = 0;
    } counts;
    KillMoments moments;
    State state = Listed();
    ASSERT_EQ(state.a.size() + state.b.size(), std::size_t(2 * kPagesEach));
    const QString logPath = tmp_.filePath("driver.log");
    const QString errPath = tmp_.filePath("driver.err");
    QSet<QString> reported;
    QSet<QString> youngSeen;  // the archive root's temporary files a repair left as too new
    static const QRegularExpression kRootLeftover(
        QStringLiteral("^(\\.[^/:]+): a temporary file left by an interrupted write$"));
    static const QRegularExpression kYoungRootLeftover(QStringLiteral(
        "^(\\.[^/:]+): a temporary file left by an interrupted write; left: too new: it may belong to a write in "
        "progress$"));

    auto enough = [&] {
        return counts.landed >= kills
               && *std::min_element(counts.landedIn.begin(), counts.landedIn.end()) >= eachKindWanted;
    };
    for (int attempt = 0; !enough(); ++attempt) {
        ASSERT_LT(attempt, attemptLimit) << counts.kills << " kills, " << counts.landed << " in an operation (delete "
                                         << counts.landedIn[kDelete] << ", move " << counts.landedIn[kMove]
                                         << ", copy " << counts.landedIn[kCopy] << "); kill moments "
                                         << moments.Begin() << ".." << moments.End() << " us, seed " << seed;
        ++counts.attempts;
        QFile::remove(logPath);
        const QStringList args{Root(), logPath, QString::number(random()), QString::number(kOpsPerRun),
                               QString::number(kFirstCopyId + attempt * kOpsPerRun)};
        const bool measure = moments.MeasurementDue();
        const qint64 start = NowUs();
        std::optional<Child> child =
            Child::Spawn(QStringLiteral(TOLVANE_PAGEOP_DRIVER_EXE), args, Env().toStringList(), errPath);
        ASSERT_TRUE(child.has_value());
        if (!measure) {
            SleepUntilUs(start + moments.Draw(random));
            child->Kill();
        }
        const Ended ended = child->Wait();
        const DriverLog log = ReadLog(logPath, start);
        QString at = QStringLiteral("attempt %1: ").arg(attempt);
        ASSERT_TRUE(log.errors.isEmpty()) << qPrintable(at + log.errors.join(u'\n'))
                                          << ReadAll(errPath).constData();
        if (ended.bySignal)
            ASSERT_EQ(ended.code, SIGKILL) << qPrintable(at) << "the driver died of another signal";
        else
            ASSERT_TRUE(ended.code == 0 && log.ended)
                << qPrintable(at) << "the driver ended with " << ended.code << ": " << ReadAll(logPath).constData()
                << ReadAll(errPath).constData();

        const Op* inFlight = ended.bySignal && !log.ops.empty() && !log.ops.back().done ? &log.ops.back() : nullptr;
        at += QStringLiteral("killed in ") + (inFlight ? inFlight->Text() : QStringLiteral("no operation"))
              + QStringLiteral(": ");
        if (measure) {
            ASSERT_FALSE(ended.bySignal);
            ASSERT_GE(log.readyUs, 0);
            ASSERT_GT(log.lastDoneUs, log.readyUs);
            moments.Measured(log.readyUs, log.lastDoneUs);
            ++counts.measured;
        } else {
            ++counts.kills;
            ++(!ended.bySignal ? counts.finished : inFlight ? counts.landed : counts.betweenOps);
            if (inFlight)
                ++counts.landedIn[inFlight->kind];
            moments.Landed(inFlight != nullptr);
        }

        // Where the completed operations put the pages; the driver chose
        // each from what the lists said, and must have seen what the test
        // expects.
        State expected = state;
        for (const Op& op : log.ops) {
            const Ids& from = expected.Of(op.from);
            ASSERT_TRUE(op.index >= 0 && op.index < int(from.size()) && from[std::size_t(op.index)] == op.id)
                << qPrintable(at + op.Text()) << ": the test expected " << qPrintable(Describe(expected));
            if (op.done)
                Apply(expected, op);
        }

        // What the kill left, and the repair.
        const State left = Listed();
        const QStringList intentsLeft = Intents();
        const Outcome repair = Batch({"check", "--archive", Root(), "--repair"});
        ASSERT_TRUE(repair.exitCode == 0 || repair.exitCode == 1)
            << qPrintable(at) << "repair: " << repair.exitCode << " " << repair.err.constData();
        ASSERT_TRUE(repair.err.isEmpty()) << qPrintable(at) << repair.err.constData();
        // Everything is mended but the temporary files in the archive root
        // that may still be a live writer's (younger than a stale guard):
        // those the repair leaves, and the next check finds them again.
        const QStringList mends = QString::fromUtf8(repair.out).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(repair.exitCode, mends.isEmpty() ? 0 : 1) << qPrintable(at);
        QSet<QString> youngLeftovers;
        for (const QString& line : mends) {
            const QRegularExpressionMatch young = kYoungRootLeftover.match(line);
            if (young.hasMatch())
                youngLeftovers.insert(young.captured(1));
            else
                ASSERT_TRUE(line.contains(QStringLiteral("; mended: "))) << qPrintable(at + line);
        }
        counts.repairsFinding += !mends.isEmpty();
        youngSeen += youngLeftovers;
        const Outcome again = Batch({"check", "--archive", Root(), "--decode"});
        ASSERT_TRUE(again.err.isEmpty()) << qPrintable(at) << again.err.constData();
        const QStringList findings = QString::fromUtf8(again.out).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(again.exitCode, findings.isEmpty() ? 0 : 1) << qPrintable(at);
        for (const QString& line : findings) {
            const QRegularExpressionMatch leftover = kRootLeftover.match(line);
            ASSERT_TRUE(leftover.hasMatch() && youngLeftovers.contains(leftover.captured(1)))
                << qPrintable(at) << "after the repair: " << qPrintable(line);
        }

        // Where the pages may be: as the completed operations put them, and
        // for the one cut short, before it or after it, as far as the lists
        // it had written bind the repair.
        std::vector<State> allowed{expected};
        QString rule;
        if (inFlight) {
            State after = expected;
            Apply(after, *inFlight);
            switch (inFlight->kind) {
            case kDelete:
                if (!Contains(left.Of(inFlight->from), inFlight->id)) {
                    allowed = {after};
                    rule = QStringLiteral("its list had been written without it: it stays gone");
                    ++counts.deletesListWritten;
                } else {
                    allowed.push_back(after);
                    rule = QStringLiteral("its list still named it: gone or in its place");
                }
                break;
            case kMove:
                if (Contains(left.Of(inFlight->to), inFlight->id)) {
                    allowed = {after};
                    rule = QStringLiteral("the destination's list named it: it goes forward");
                    ++counts.movesForward;
                } else {
                    rule = QStringLiteral("the destination's list did not name it: it goes back");
                    ++counts.movesBack;
                }
                break;
            default:
                if (Contains(left.Of(inFlight->from), inFlight->newId)) {
                    allowed = {after};
                    rule = QStringLiteral("its list named the copy: it stays");
                    ++counts.copiesListed;
                } else {
                    allowed.push_back(after);
                    rule = QStringLiteral("its list did not name the copy: there once or not at all");
                }
                break;
            }
        }
        // A page found wrong is reported once: the test goes on from the
        // state found, and the page stays as it is.
        std::vector<Problem> found;
        const State actual = Listed(&found);
        QStringList problems;
        for (const Problem& p : found)
            if (!reported.contains(p.Key())) {
                reported.insert(p.Key());
                problems << QStringLiteral("page %1, %2: %3").arg(p.id).arg(p.where, p.what);
            }
        const bool placed = std::find(allowed.begin(), allowed.end(), actual) != allowed.end();
        const QStringList intents = Intents();
        if (!placed || !problems.isEmpty() || !intents.isEmpty()) {
            QStringList report{at + rule,
                               QStringLiteral("before the repair: %1, intent records: %2")
                                   .arg(Describe(left))
                                   .arg(intentsLeft.size()),
                               QStringLiteral("after it:          ") + Describe(actual)};
            for (std::size_t i = 0; i < allowed.size(); ++i)
                report << (i == 0 ? QStringLiteral("wanted:            ") : QStringLiteral("            or     "))
                              + Describe(allowed[i]);
            if (!placed)
                report << Misplaced(actual, expected);
            report += problems;
            if (!intents.isEmpty())
                report << QStringLiteral("intent records left: ") + intents.join(u' ');
            report << QStringLiteral("repair said: ") + QString::fromUtf8(repair.out).trimmed();
            ADD_FAILURE() << qPrintable(report.join(QStringLiteral("\n  ")));
            ASSERT_LT(++counts.faults, kFaultLimit) << "stopped at the " << kFaultLimit << "th fault";
        }
        state = actual;
    }

    std::printf("page operation kill test: %d runs, %d measured whole, %d killed: %d in an operation (delete %d, move "
                "%d, copy %d), %d between operations, %d after the driver had ended; kill moments %lld..%lld us after "
                "the start. Cut short: %d deletes after their list write, %d moves forward, %d back, %d copies "
                "listed; %d repairs mended something, %d temporary files in the archive root left as too new; %d "
                "faults\n",
                counts.attempts, counts.measured, counts.kills, counts.landed, counts.landedIn[kDelete],
                counts.landedIn[kMove], counts.landedIn[kCopy], counts.betweenOps, counts.finished,
                static_cast<long long>(moments.Begin()), static_cast<long long>(moments.End()),
                counts.deletesListWritten, counts.movesForward, counts.movesBack, counts.copiesListed,
                counts.repairsFinding, int(youngSeen.size()), counts.faults);
    RecordProperty("kills", counts.kills);
    RecordProperty("killed_in_operation", counts.landed);
    RecordProperty("faults", counts.faults);
}

}  // namespace
