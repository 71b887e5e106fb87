// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SaveAs.h"

#include <QDir>
#include <QSet>

namespace {

constexpr int kLastCandidate = 100000;

QString Candidate(int n)
{
    return QStringLiteral("Image%1").arg(n, 3, 10, QChar(u'0'));
}

}  // namespace

QString ProposeSaveName(const QString& folder)
{
    const QDir dir(folder.isEmpty() ? QDir::currentPath() : folder);
    // An entry takes the candidate that its name up to the first dot spells,
    // as the search for "candidate" and "candidate.*" would find it.
    QSet<QString> taken;
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& entry : entries)
        taken.insert(entry.section(u'.', 0, 0).toCaseFolded());
    for (int n = 1; n < kLastCandidate; ++n) {
        const QString name = Candidate(n);
        if (!taken.contains(name.toCaseFolded()))
            return name;
    }
    return Candidate(kLastCandidate);
}

QString FileNameExtension(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash)
        return QString();
    return path.mid(dot);
}

QString WithFilterExtension(const QString& chosenName, int filterIndex)
{
    if (!FileNameExtension(chosenName).isEmpty())
        return chosenName;
    switch (filterIndex) {
    case 0: return chosenName + QStringLiteral(".jpg");
    case 1: return chosenName + QStringLiteral(".bmp");
    case 2: return chosenName + QStringLiteral(".tif");
    default: return chosenName;
    }
}

SaveKind SaveKindFor(const QString& path, SaveColour colour)
{
    const QString ext = FileNameExtension(path);
    if (ext == QLatin1String(".jpg") || ext == QLatin1String(".jpeg")) {
        switch (colour) {
        case SaveColour::FullColour:
        case SaveColour::Grey256: return SaveKind::Jpeg;
        case SaveColour::GreyFewerLevels: return SaveKind::NeedsGrey256;
        case SaveColour::Other: return SaveKind::NeedsFullColour;
        }
    }
    if (ext == QLatin1String(".bmp"))
        return SaveKind::Bmp;
    if (ext == QLatin1String(".tif") || ext == QLatin1String(".tiff"))
        return SaveKind::Tiff;
    return SaveKind::UnsupportedExtension;
}
