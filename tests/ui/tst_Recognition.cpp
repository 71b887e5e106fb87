// SPDX-License-Identifier: GPL-3.0-or-later
// The text of pages recognised in the background by the main window: the
// pages of the category shown that have none, and a page filed meanwhile,
// found by the search as soon as their text is kept; a page with a text is
// left as it is; switched off or without language data nothing runs, and the
// options dialog says why.

#include "tests/ui/UiTestMain.h"

#include "core/PageText.h"
#include "core/Settings.h"
#include "imaging/DibQImage.h"
#include "imaging/ImgKit.h"
#include "imaging/PageRecognition.h"
#include "text/SearchIndex.h"
#include "text/ocr/Recogniser.h"
#include "ui/TForm1.h"
#include "ui/TOptionForm.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace {

// A page of printed text as a scan of 1024 pixels' width stores it.
void SaveTextPage(const QString& path, const QString& line)
{
    QImage page(1024, 1448, QImage::Format_RGB888);
    page.fill(Qt::white);
    QPainter p(&page);
    p.setPen(Qt::black);
    p.setFont(QFont(QStringLiteral("IPAGothic"), 28));
    p.drawText(80, 200, line);
    p.end();
    QVERIFY(ImgKitJpegFileSave(path, QImageToDib(page), 90));
}

constexpr char kTessdata[] = "/usr/share/tesseract-ocr/5/tessdata";

}  // namespace

class RecognitionTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> root_;
    ScriptedPrompt prompt_;
    std::unique_ptr<TForm1> form_;
    QByteArray noData_;

    QString Cat(const QString& rel) const { return root_->path() + QStringLiteral("/Cat/") + rel; }

    void Open()
    {
        form_ = std::make_unique<TForm1>(prompt_, root_->path());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QCOMPARE(form_->Grid.P, 2);
    }

private slots:
    void init()
    {
        noData_ = qgetenv("TESSDATA_PREFIX");
        qputenv("TESSDATA_PREFIX", kTessdata);
        root_ = std::make_unique<QTemporaryDir>();
        QVERIFY(MakeCategory(root_->path(), QStringLiteral("Cat")));
        QVERIFY(QDir().mkpath(Cat(kWordsFolder)));
        SaveTextPage(Cat(QStringLiteral("Image/00000001.jpg")), QStringLiteral("Invoice 2024"));
        SaveTextPage(Cat(QStringLiteral("Image/00000002.jpg")), QStringLiteral("Contract"));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("Words/00000002.tsv")), "tolvane-words 1\t1024\t1448\tpdf\n"));
        QVERIFY(WriteTestFile(Cat(QStringLiteral("FileList.txt")), "00000002\r\n00000001.jpg\r\n00000002.jpg\r\n"));
        prompt_.Clear();
        AppSettings() = DefaultSettings();
        AppSettingsStore().clear();
    }

    void cleanup()
    {
        form_.reset();
        qputenv("TESSDATA_PREFIX", noData_);
        QVERIFY2(prompt_.unanswered == 0, "a question was asked that the test did not expect");
    }

    void pagesWithoutTextGetItAsTheWindowGoesOn()
    {
        if (!AvailableLanguages().Ok())
            QSKIP("no language data installed");
        Open();
        QCOMPARE(form_->Recognition().Pending(), 1);  // the page with a text is left alone
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Cat(QStringLiteral("Words/00000001.tsv"))), 120000);
        const auto text = ReadPageText(Cat(QStringLiteral("Words/00000001.tsv")));
        QVERIFY(text && text->Plain().contains(QStringLiteral("Invoice")));
        QCOMPARE(ReadBytes(Cat(QStringLiteral("Words/00000002.tsv"))), QByteArray("tolvane-words 1\t1024\t1448\tpdf\n"));

        // A page filed meanwhile is taken up too.
        SaveTextPage(root_->path() + QStringLiteral("/scan.jpg"), QStringLiteral("Receipt"));
        prompt_.openFileHandlers.push_back([this](const OpenFileRequest&) { return root_->path() + QStringLiteral("/scan.jpg"); });
        QTest::mouseClick(form_->findChild<QToolButton*>(QStringLiteral("Menu08")), Qt::LeftButton);
        QCOMPARE(form_->Grid.P, 3);
        QCOMPARE(form_->Recognition().Pending(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Cat(QStringLiteral("Words/00000003.tsv"))), 120000);
        QTRY_COMPARE(form_->Recognition().Pending(), 0);
        QTemporaryDir cache;
        SearchIndex index(root_->path(), cache.path());
        QVERIFY(index.Refresh().ok);
        QCOMPARE(index.Find(QStringLiteral("receipt"), 10).hits.size(), std::size_t(1));
    }

    void switchedOffOrWithoutDataNothingRuns()
    {
        WriteRecognitionSetting(AppSettingsStore(), false);
        Open();
        QCOMPARE(form_->Recognition().Pending(), 0);
        form_.reset();

        AppSettingsStore().clear();
        qputenv("TESSDATA_PREFIX", noData_);
        Open();
        QCOMPARE(form_->Recognition().Pending(), 0);
        QString said;
        bool switchable = true;
        prompt_.modalHandlers.push_back([&](QDialog& d) {
            said = d.findChild<QLabel*>(QStringLiteral("Label20"))->text();
            switchable = d.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->isEnabled();
            return int(QDialog::Rejected);
        });
        form_->MenuSelect2Click();
        QCOMPARE(said, kRecognitionDataMissingMessage);
        QVERIFY(!switchable);
        QVERIFY(!QFile::exists(Cat(QStringLiteral("Words/00000001.tsv"))));
    }
};

TOLVANE_UI_TEST(RecognitionTest);
#include "tst_Recognition.moc"
