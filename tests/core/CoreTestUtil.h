// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers shared by the core tests: a scratch folder per test and raw file
// access that does not go through the code under test.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

// Readable failure messages for Qt strings and bytes.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toUtf8().constData() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << "bytes[" << bytes.toHex(' ').constData() << ']';
}
inline void PrintTo(const QStringList& lines, std::ostream* os)
{
    *os << '{';
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i)
            *os << ", ";
        PrintTo(lines.at(i), os);
    }
    *os << '}';
}

namespace coretest {

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }

    QString Root() const { return tmp_.path(); }
    QString P(const QString& relative) const { return tmp_.path() + u'/' + relative; }

    void MakeDir(const QString& relative) const { ASSERT_TRUE(QDir().mkpath(P(relative))); }

    void Put(const QString& relative, const QByteArray& bytes) const
    {
        QFile file(P(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(relative);
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    std::optional<QByteArray> Get(const QString& relative) const
    {
        QFile file(P(relative));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    bool Exists(const QString& relative) const { return QFileInfo::exists(P(relative)); }

    // Every entry of a folder, hidden ones included, sorted.
    QStringList Entries(const QString& relative) const
    {
        return QDir(P(relative)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                           QDir::Name);
    }

    // A category folder with its three sub-folders.
    QString MakeCategory(const QString& name = QStringLiteral("Cat")) const
    {
        for (const char* sub : {"Image", "Thumb", "Text"})
            EXPECT_TRUE(QDir().mkpath(P(name + u'/' + QLatin1String(sub))));
        return P(name);
    }

private:
    QTemporaryDir tmp_;
};

}  // namespace coretest
