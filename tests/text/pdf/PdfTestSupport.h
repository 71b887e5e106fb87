// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the PDF tests share: a folder of their own, page images written as the
// archive stores them, words on them, and the poppler and qpdf tools run as
// child processes to read back what was written.

#include "core/PageText.h"
#include "text/pdf/PdfExport.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// As tests/batch/BatchTestSupport.h has it (both end up in one program).
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toUtf8().constData() << '"';
}

namespace pdftest {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// A page as a scanner gives it: paper, a few dark bars, a patch of colour
// unless grey.
inline QImage Paper(int width, int height, bool grey = false)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor(246, 244, 238));
    QPainter p(&image);
    for (int y = height / 10; y < height * 9 / 10; y += height / 12)
        p.fillRect(width / 10, y, width * 7 / 10, std::max(2, height / 60), QColor(40, 40, 50));
    if (!grey)
        p.fillRect(width / 2, height / 2, width / 4, height / 8, QColor(200, 40, 30));
    p.end();
    return grey ? image.convertToFormat(QImage::Format_Grayscale8) : image;
}

// The words of one page: each (text, box), the line rising with each row of
// boxes.
inline PageText Words(int width, int height, const std::vector<std::pair<QString, QRect>>& words)
{
    PageText text{width, height, QStringLiteral("ocr:jpn+eng"), {}};
    int line = -1, lastTop = -1;
    for (const auto& [word, box] : words) {
        if (box.top() != lastTop)
            ++line;
        lastTop = box.top();
        text.words.push_back(PageWord{line, box, 90, word});
    }
    return text;
}

class PdfTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }

    QString P(const QString& name) const { return tmp_.filePath(name); }

    QString WriteJpeg(const QString& name, const QImage& image, bool progressive = false) const
    {
        QImageWriter writer(P(name), "jpeg");
        writer.setQuality(80);
        writer.setProgressiveScanWrite(progressive);
        EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
        return P(name);
    }

    QString WriteImage(const QString& name, const QImage& image, const char* format) const
    {
        EXPECT_TRUE(image.save(P(name), format));
        return P(name);
    }

    static QByteArray ReadAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static bool WriteAll(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }

    static ToolRun Tool(const QString& program, const QStringList& args)
    {
        QProcess child;
        child.start(program, args);
        ToolRun run;
        if (!child.waitForFinished(120000)) {
            ADD_FAILURE() << program.toStdString() << " did not finish: " << child.errorString().toStdString();
            child.kill();
            child.waitForFinished();
            return run;
        }
        run.out = child.readAllStandardOutput();
        run.err = child.readAllStandardError();
        run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
        return run;
    }

    // pdftotext's text of the whole file, in UTF-8.
    static QString TextOf(const QString& pdf)
    {
        const ToolRun run = Tool("pdftotext", {"-enc", "UTF-8", pdf, "-"});
        EXPECT_EQ(run.exitCode, 0) << run.err.constData();
        return QString::fromUtf8(run.out);
    }

    // One exported page with words in both scripts on two lines.
    QString ExportedPage(PageText& words, const QString& name = QStringLiteral("in.pdf")) const
    {
        words = Words(1024, 1448, {{"Invoice", QRect(100, 100, 300, 60)},
                                   {"2024-05", QRect(450, 100, 250, 60)},
                                   {"請求書", QRect(100, 300, 240, 80)}});
        EXPECT_TRUE(ExportPdf({{WriteJpeg("page.jpg", Paper(1024, 1448)), words}}, P(name)).ok);
        return P(name);
    }

    QTemporaryDir tmp_;
};

}  // namespace pdftest
