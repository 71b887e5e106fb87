// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/ui/MainWindowFixture.h"

#include "imaging/Dib.h"
#include "imaging/ImgKit.h"

#include <QDir>
#include <QSettings>
#include <QTest>
#include <QToolButton>

void MainWindowFixture::BeginTest(const Settings& settings)
{
    form_.reset();
    root_ = std::make_unique<QTemporaryDir>();
    prompt_.Clear();
    AppPrompt().Clear();
    AppSettings() = settings;
    AppSettingsStore().clear();
}

void MainWindowFixture::EndTest()
{
    form_.reset();
    QVERIFY2(prompt_.unanswered == 0, "a question was asked that the test did not expect");
}

void MainWindowFixture::Open()
{
    form_ = std::make_unique<TForm1>(prompt_, Root());
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void MainWindowFixture::Click(const char* name)
{
    auto* button = form_->findChild<QToolButton*>(QLatin1String(name));
    QVERIFY2(button, name);
    QTest::mouseClick(button, Qt::LeftButton);
}

void MainWindowFixture::MakeListedCategory(const QString& name, int pages, int header)
{
    QVERIFY(MakeCategory(Root(), name));
    QByteArray list = QByteArray::number(header < 0 ? pages : header).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i)
        list += QByteArray::number(i).rightJustified(8, '0') + ".jpg\r\n";
    QVERIFY(WriteTestFile(F(name + QStringLiteral("/FileList.txt")), list));
}

void MainWindowFixture::MakeCat(const QString& name, int pages, const char* ext)
{
    QVERIFY(MakeCategory(Root(), name));
    QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i) {
        const QString n = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
        const QString image = F(name + QStringLiteral("/Image/") + n + QLatin1String(ext));
        ImageHandle dib = CreateDib(60 + i, 80, 3);
        QVERIFY(QLatin1String(ext) == QLatin1String(".tif") ? ImgKitTiffFileSave(image, dib)
                                                             : ImgKitJpegFileSave(image, dib, 80));
        QVERIFY(ImgKitJpegFileSave(F(name + QStringLiteral("/Thumb/") + n + QStringLiteral(".jpg")), dib, 80));
        QVERIFY(WriteTestFile(F(name + QStringLiteral("/Text/") + n + QStringLiteral(".txt")),
                              "memo " + QByteArray::number(i) + "\r\n"));
        list += n.toLatin1() + ext + "\r\n";
    }
    QVERIFY(WriteTestFile(F(name + QStringLiteral("/FileList.txt")), list));
}

QStringList MainWindowFixture::Lines(const QString& name) const
{
    return QString::fromLatin1(ReadBytes(F(name + QStringLiteral("/FileList.txt"))))
        .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

QStringList MainWindowFixture::PageFiles(const QString& name) const
{
    QStringList all;
    for (const char* sub : {"Image", "Thumb", "Text"})
        for (const QString& n : QDir(F(name + u'/' + QLatin1String(sub))).entryList(QDir::Files | QDir::Hidden))
            all << QLatin1String(sub) + u'/' + n;
    return all;
}
