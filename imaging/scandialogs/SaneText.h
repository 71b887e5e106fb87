// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The backends' own words (option titles, descriptions, list values, device
// types) in the dialog's language, Japanese, from the translations SANE
// ships for its backends (the "sane-backends" domain). The catalogue is read
// straight from its file rather than through the C library, which would
// translate only when the process runs in a Japanese locale: the dialog is
// Japanese in every locale. Only what is shown is translated; the values
// sent to the backend stay its own.

#include <QByteArray>
#include <QHash>
#include <QString>

class MessageCatalogue {
public:
    // Reads a compiled message catalogue (a .mo file). A file that cannot be
    // read or is not a well-formed catalogue gives an empty one.
    static MessageCatalogue Load(const QString& path);

    // The translation of `text`; `text` itself when there is none.
    QString Translate(const QString& text) const;
    qsizetype size() const { return strings_.size(); }

private:
    QHash<QByteArray, QString> strings_;
};

// The Japanese catalogue of the sane-backends domain, read once.
const MessageCatalogue& SaneBackendsCatalogue();

// `text` of a backend as the dialog shows it.
QString SaneText(const QString& text);
