// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch ocr run as a child on an archive filed by tolvane-batch add.

#include "core/PageText.h"
#include "text/ocr/Recogniser.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/text/ocr/OcrTestPages.h"

#include <QStringList>

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

class BatchOcrTest : public BatchTest, public ::testing::WithParamInterface<OcrCase> {
protected:
    // The pictures, not BatchTest's.
    static void SetUpTestSuite()
    {
        pictures_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(RenderPage({{QStringLiteral("請求書"), 32}, {QStringLiteral("Invoice No. 2024-0312")}})
                        .save(Picture("invoice.png")));
        ASSERT_TRUE(RenderPage({{QStringLiteral("納品書"), 32}, {QStringLiteral("Delivery Note No. 5521")}})
                        .save(Picture("delivery.png")));
    }
    static void TearDownTestSuite() { pictures_.reset(); }
    static QString Picture(const char* name) { return pictures_->filePath(QLatin1String(name)); }

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

    static inline std::unique_ptr<QTemporaryDir> pictures_;
};

TEST_P(BatchOcrTest, RecognisesThePagesAsked)
{
    const OcrCase& c = GetParam();
    QProcessEnvironment env = Env();
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

}  // namespace
