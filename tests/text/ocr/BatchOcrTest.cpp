// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch ocr run as a child on an archive filed by tolvane-batch add.

#include "core/PageText.h"
#include "text/ocr/Recogniser.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/text/ocr/OcrTestPages.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <csignal>

namespace {

using namespace batchtest;

enum class Has { None, Kept, Recognised };

struct OcrCase {
    const char* name;
    QStringList args;
    bool noLanguageData;
    int exitCode;
    const char* out;  // the line on stdout; empty: nothing, and a message on stderr
    Has invoice;      // 請求/00000001: without text before the run
    Has delivery;     // 請求/00000002: with a text of its own before the run
    Has other;        // Other/00000001: without text
};

// Two pages of text, rendered once for the suite.
class OcrPictures : public BatchTest {
protected:
    // The pictures, not BatchTest's.
    static void SetUpTestSuite()
    {
        pictures_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(RenderPage({{QStringLiteral("請求書"), 32}, {QStringLiteral("Invoice No. 2024-0312")}})
                        .save(Picture("invoice.png")));
        ASSERT_TRUE(RenderPage({{QStringLiteral("納品書"), 32}, {QStringLiteral("Delivery Note No. 5521")}})
                        .save(Picture("delivery.png")));
        ASSERT_TRUE(DensePage().save(Picture("dense.png")));
    }
    static void TearDownTestSuite() { pictures_.reset(); }
    static QString Picture(const char* name) { return pictures_->filePath(QLatin1String(name)); }

    static inline std::unique_ptr<QTemporaryDir> pictures_;
};

class BatchOcrTest : public OcrPictures, public ::testing::WithParamInterface<OcrCase> {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(Succeeded(Batch(On("add", QStringLiteral("請求"),
                                       {"--create", Picture("invoice.png"), Picture("delivery.png")}))));
        ASSERT_TRUE(Succeeded(Batch(On("add", QStringLiteral("Other"), {"--create", Picture("delivery.png")}))));
        PageText kept;
        kept.width = 1024;
        kept.height = 1448;
        kept.source = QStringLiteral("pdf");
        kept.words.push_back({0, QRect(0, 0, 10, 10), -1, QStringLiteral("kept")});
        ASSERT_TRUE(MakeWordsFolder(A(QStringLiteral("請求"))));
        ASSERT_TRUE(WritePageText(WordsPathOfEntry(A(QStringLiteral("請求")), QStringLiteral("00000002.jpg")), kept));
    }

    Has TextOf(const QString& category, const char* entry, const char* recognisedWord) const
    {
        const std::optional<PageText> text =
            ReadPageText(WordsPathOfEntry(A(category), QLatin1String(entry)));
        if (!text)
            return Has::None;
        const QString plain = text->Plain().remove(u' ');
        if (plain == QLatin1String("kept"))
            return Has::Kept;
        EXPECT_TRUE(plain.contains(QString::fromUtf8(recognisedWord))) << plain.toStdString();
        EXPECT_EQ(text->source, QStringLiteral("ocr:jpn+eng"));
        return Has::Recognised;
    }
};

TEST_P(BatchOcrTest, RecognisesThePagesAsked)
{
    const OcrCase& c = GetParam();
    QProcessEnvironment env = RecognitionEnv();
    QTemporaryDir noData;
    if (c.noLanguageData)
        env.insert("TESSDATA_PREFIX", noData.path());
    const QStringList before = Tree(Archive());
    const Outcome run = Batch(QStringList{"ocr", "--archive", Archive()} + c.args, env);
    if (*c.out) {
        EXPECT_TRUE(Succeeded(run)) << run.err.constData();
        EXPECT_EQ(run.out, QByteArray(c.out) + '\n');
    } else {
        EXPECT_TRUE(FailedWith(run, c.exitCode));
        EXPECT_EQ(Tree(Archive()), before) << "nothing is written";
    }
    if (c.noLanguageData) {
        EXPECT_TRUE(run.err.contains(kRecognitionDataMissingMessage.toLocal8Bit())) << run.err.constData();
    }
    EXPECT_EQ(TextOf(QStringLiteral("請求"), "00000001.jpg", "請求書"), c.invoice);
    EXPECT_EQ(TextOf(QStringLiteral("請求"), "00000002.jpg", "Delivery"), c.delivery);
    EXPECT_EQ(TextOf(QStringLiteral("Other"), "00000001.jpg", "納品書"), c.other);
}

const QString kInvoices = QStringLiteral("請求");

INSTANTIATE_TEST_SUITE_P(
    Runs, BatchOcrTest,
    ::testing::Values(
        OcrCase{"EveryPageWithoutText", {}, false, 0, "2 pages recognised", Has::Recognised, Has::Kept,
                Has::Recognised},
        OcrCase{"OneCategory", {"--category", kInvoices}, false, 0, "1 page recognised", Has::Recognised,
                Has::Kept, Has::None},
        OcrCase{"RedoReplaces", {"--category", kInvoices, "--redo"}, false, 0, "2 pages recognised",
                Has::Recognised, Has::Recognised, Has::None},
        OcrCase{"NoSuchCategory", {"--category", "Nope"}, false, 2, "", Has::None, Has::Kept, Has::None},
        OcrCase{"NoLanguageData", {"--redo"}, true, 1, "", Has::None, Has::Kept, Has::None}),
    [](const auto& info) { return std::string(info.param.name); });

// add has the texts of the pages it files recognised, when recognition is on
// and the language data are there; the page lines and the exit status are
// those of filing alone.
using AddRecognitionTest = OcrPictures;

TEST_F(AddRecognitionTest, TheTextsOfTheFiledPagesWhereRecognitionIsOn)
{
    struct Case {
        const char* name;
        QStringList more;
        QByteArray config;
        bool languageData;
        bool recognised;
    };
    const Case cases[] = {
        {"on by default", {}, {}, true, true},
        {"--no-ocr", {"--no-ocr"}, {}, true, false},
        {"switched off", {}, "Recognition=0\n", true, false},
        {"no language data", {}, {}, false, false},
    };
    int round = 0;
    for (const Case& c : cases) {
        WriteConfig(c.config);
        const QString category = QStringLiteral("Round%1").arg(++round);
        const Outcome run = Batch(On("add", category, QStringList{"--create"} + c.more
                                                          + QStringList{Picture("invoice.png"), Picture("delivery.png")}),
                                  c.languageData ? RecognitionEnv() : Env());
        ASSERT_TRUE(Succeeded(run)) << c.name << ": " << run.err.constData();
        EXPECT_EQ(run.out.count('\n'), 2) << c.name;
        EXPECT_TRUE(run.err.isEmpty()) << c.name << ": " << run.err.constData();
        const auto text = [&](const char* entry) {
            const std::optional<PageText> t = ReadPageText(WordsPathOfEntry(A(category), QLatin1String(entry)));
            return t ? t->Plain().remove(u' ') : QString();
        };
        if (c.recognised) {
            EXPECT_TRUE(text("00000001.jpg").contains(QStringLiteral("請求書"))) << text("00000001.jpg").toStdString();
            EXPECT_TRUE(text("00000002.jpg").contains(QStringLiteral("Delivery"))) << text("00000002.jpg").toStdString();
        } else {
            EXPECT_FALSE(QFileInfo::exists(A(category) + QStringLiteral("/Words"))) << c.name;
        }
        EXPECT_TRUE(Succeeded(Batch(On("check", category)))) << c.name;
    }
}

// A stop while the texts are recognised: every page filed and whole, the
// texts not yet recognised left for ocr.
TEST_F(AddRecognitionTest, AStopWhileRecognisingLeavesEveryPageFiled)
{
    // Recognising a dense page takes ten times as long as filing it or
    // more, and the recognition threads run at the lowest priority: when
    // the last page line comes, most texts are still to come.
    constexpr int kPages = 8;
    QStringList files{"--create"};
    for (int i = 0; i < kPages; ++i)
        files << Picture("dense.png");
    auto child = Start(On("add", QStringLiteral("Stop"), files), RecognitionEnv());
    QByteArray out;
    QDeadlineTimer deadline(120000);
    while (out.count('\n') < kPages && !deadline.hasExpired() && child->state() == QProcess::Running) {
        child->waitForReadyRead(100);
        out += child->readAllStandardOutput();
    }
    ASSERT_EQ(out.count('\n'), kPages) << child->readAllStandardError().constData();
    ::kill(pid_t(child->processId()), SIGINT);
    const Outcome run = Finish(*child);
    EXPECT_EQ(run.exitCode, 130) << run.err.constData();
    EXPECT_TRUE(run.err.contains("stopped by signal 2")) << run.err.constData();
    EXPECT_EQ(Tree(A(QStringLiteral("Stop")) + QStringLiteral("/Image")).size(), kPages);
    const int texts = int(QDir(A(QStringLiteral("Stop")) + QStringLiteral("/Words")).entryList(QDir::Files).size());
    EXPECT_LT(texts, kPages);
    EXPECT_TRUE(Succeeded(Batch(On("check", QStringLiteral("Stop")))));
    // ocr takes up the rest.
    const Outcome ocr = Batch({"ocr", "--archive", Archive()}, RecognitionEnv());
    EXPECT_TRUE(Succeeded(ocr)) << ocr.err.constData();
    const int rest = kPages - texts;
    EXPECT_EQ(ocr.out, (rest == 1 ? QStringLiteral("1 page recognised\n")
                                  : QStringLiteral("%1 pages recognised\n").arg(rest))
                           .toUtf8());
}

}  // namespace
