// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pages rendered like the stored scans: 1024 x 1448 (A4 at ~124 dpi), a
// 10-14 pt document in IPAGothic, black on white. Needs a QGuiApplication.

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <vector>

struct PageLine {
    QString text;
    int pixelSize = 24;  // 24 px at 124 dpi: a 14 pt line
};

struct DrawnLine {
    QString text;
    QRect box;  // where it was drawn
};

inline QImage RenderPage(const std::vector<PageLine>& lines, std::vector<DrawnLine>* drawn = nullptr,
                         QSize size = QSize(1024, 1448))
{
    QImage page(size, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.setPen(Qt::black);
    QFont font(QStringLiteral("IPAGothic"));
    int y = 120;
    for (const PageLine& line : lines) {
        font.setPixelSize(line.pixelSize);
        painter.setFont(font);
        const QRect box = painter.boundingRect(QRect(100, y, size.width() - 200, line.pixelSize * 2),
                                               Qt::AlignLeft | Qt::AlignTop, line.text);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, line.text);
        if (drawn)
            drawn->push_back({line.text, box});
        y += line.pixelSize * 2;
    }
    return page;
}

// The dense page of the benchmark and the pool tests: 30 lines at 22 px of
// mixed Japanese and English, of differing lengths (lines alike throughout
// are taken for a table of columns).
inline QStringList DenseLines()
{
    QStringList lines;
    for (int i = 0; i < 30; ++i) {
        switch (i % 5) {
        case 0:
            lines << QStringLiteral("第%1条 本契約の対価は金%2,000円とし、翌月末日までに支払う。").arg(i + 1).arg(10 + i * 7);
            break;
        case 1:
            lines << QStringLiteral("Invoice No. 2024-%1 issued to Tolvane Co., Ltd.").arg(300 + i);
            break;
        case 2:
            lines << QStringLiteral("株式会社トルヴァーネ 営業部 電話 03-1234-%1").arg(5600 + i);
            break;
        case 3:
            lines << QStringLiteral("品番 A-%1 数量 %2 単価 1,200円 Total amount due").arg(100 + i).arg(i % 9 + 1);
            break;
        default:
            lines << QStringLiteral("Please remit by the end of the month. 振込手数料は貴社負担");
            break;
        }
    }
    return lines;
}

inline QImage DensePage()
{
    std::vector<PageLine> lines;
    for (const QString& text : DenseLines())
        lines.push_back({text, 22});
    return RenderPage(lines);
}
