// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/scandialogs/SaneText.h"

#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <optional>

namespace {

constexpr quint32 kMagic = 0x950412de;
// Far more than any domain holds; a larger file is not read.
constexpr qint64 kMaxCatalogueBytes = 16 * 1024 * 1024;

QString CataloguePath()
{
    return QStringLiteral("/usr/share/locale/ja/LC_MESSAGES/sane-backends.mo");
}

}  // namespace

MessageCatalogue MessageCatalogue::Load(const QString& path)
{
    MessageCatalogue catalogue;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCatalogueBytes)
        return catalogue;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 28)
        return catalogue;
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    // Written in the byte order of the machine that compiled it.
    bool big = false;
    if (qFromLittleEndian<quint32>(data) != kMagic) {
        if (qFromBigEndian<quint32>(data) != kMagic)
            return catalogue;
        big = true;
    }
    auto word = [&](quint64 at) -> std::optional<quint32> {
        if (at + 4 > quint64(bytes.size()))
            return std::nullopt;
        return big ? qFromBigEndian<quint32>(data + at) : qFromLittleEndian<quint32>(data + at);
    };
    // The string a table entry points at, checked against the file's end.
    auto string = [&](quint64 table, quint32 i) -> std::optional<QByteArray> {
        const auto length = word(table + 8ull * i);
        const auto offset = word(table + 8ull * i + 4);
        if (!length || !offset || quint64(*offset) + *length > quint64(bytes.size()))
            return std::nullopt;
        return bytes.mid(*offset, *length);
    };
    const auto count = word(8), originals = word(12), translations = word(16);
    if (!count || !originals || !translations || quint64(*count) * 8 > quint64(bytes.size()))
        return catalogue;
    QHash<QByteArray, QByteArray> raw;
    raw.reserve(*count);
    for (quint32 i = 0; i < *count; ++i) {
        auto original = string(*originals, i);
        auto translation = string(*translations, i);
        if (!original || !translation)
            return catalogue;
        // Plural forms: the singular of each, the first translation.
        original->truncate(original->indexOf('\0') < 0 ? original->size() : original->indexOf('\0'));
        translation->truncate(translation->indexOf('\0') < 0 ? translation->size() : translation->indexOf('\0'));
        if (!translation->isEmpty())
            raw.insert(*original, *translation);
    }
    // The header (the translation of "") names the character set.
    QByteArray charset = "UTF-8";
    const QByteArray header = raw.value(QByteArray());
    if (const qsizetype at = header.indexOf("charset="); at >= 0) {
        qsizetype end = at + 8;
        while (end < header.size() && header[end] != '\n' && header[end] != ' ' && header[end] != ';')
            ++end;
        charset = header.mid(at + 8, end - at - 8);
    }
    QStringDecoder decode(charset.constData());
    if (!decode.isValid())
        return catalogue;
    raw.remove(QByteArray());
    catalogue.strings_.reserve(raw.size());
    for (auto it = raw.cbegin(); it != raw.cend(); ++it) {
        QString text = decode(it.value());
        if (decode.hasError())
            return MessageCatalogue();
        catalogue.strings_.insert(it.key(), text);
    }
    return catalogue;
}

QString MessageCatalogue::Translate(const QString& text) const
{
    if (text.isEmpty())
        return text;
    const auto it = strings_.constFind(text.toUtf8());
    return it == strings_.cend() ? text : *it;
}

const MessageCatalogue& SaneBackendsCatalogue()
{
    static const MessageCatalogue catalogue = MessageCatalogue::Load(CataloguePath());
    return catalogue;
}

QString SaneText(const QString& text)
{
    return SaneBackendsCatalogue().Translate(text);
}
