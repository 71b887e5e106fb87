// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An archive for the page-operation benchmarks: category "Full" of `pages`
// pages (every image and thumbnail the given bytes, a one-line memo) and an
// empty category "Other", in a new folder under `parent`.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

inline void WriteBenchFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

inline QString MakeBenchArchive(const QString& parent, int pages, const QByteArray& page, const QByteArray& thumb)
{
    static int n = 0;
    const QString root = parent + QStringLiteral("/archive%1").arg(++n);
    for (const char* cat : {"Full", "Other"})
        for (const char* sub : {"Image", "Thumb", "Text"})
            QDir().mkpath(root + u'/' + QLatin1String(cat) + u'/' + QLatin1String(sub));
    QByteArray list = QByteArray::number(pages).rightJustified(8, '0') + "\r\n";
    for (int i = 1; i <= pages; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 8, 10, QLatin1Char('0'));
        WriteBenchFile(root + QStringLiteral("/Full/Image/") + number + QStringLiteral(".jpg"), page);
        WriteBenchFile(root + QStringLiteral("/Full/Thumb/") + number + QStringLiteral(".jpg"), thumb);
        WriteBenchFile(root + QStringLiteral("/Full/Text/") + number + QStringLiteral(".txt"), "memo\r\n");
        list += number.toLatin1() + ".jpg\r\n";
    }
    WriteBenchFile(root + QStringLiteral("/Full/FileList.txt"), list);
    return root;
}
