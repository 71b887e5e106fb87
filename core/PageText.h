// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recognised text of a page: its words, each with its box on the stored
// page image, kept beside the page as categoryFolder/Words/NNNNNNNN.tsv.
//
// The file is UTF-8 text, one record a line, fields separated by tabs:
//   tolvane-words 1 <TAB> image width <TAB> image height <TAB> source
//   line <TAB> left <TAB> top <TAB> width <TAB> height <TAB> confidence <TAB> text
//   ...
// The first line names the format, the size of the image the boxes belong
// to and where the text came from ("ocr:jpn+eng", "pdf"). Each further line
// is one word: the number of its text line on the page (from 0, rising),
// its box in pixels of the stored image, the recogniser's confidence 0..100
// (-1 unknown) and its text, in which a tab, a line break and a backslash are
// written "\t", "\n" and "\\". A file of the first line alone says that the
// page was recognised and has no text: it is not recognised again.
//
// The file is derived from the page (made again from the image, or kept
// from the PDF the page came from); it is moved, copied and deleted with its
// page. A page without one is simply not recognised yet.

#include "core/ArchiveFiles.h"
#include "core/PageList.h"

#include <QByteArray>
#include <QRect>
#include <QString>

#include <optional>
#include <vector>


struct PageWord {
    int line = 0;
    QRect box;  // on the stored page image
    int confidence = -1;
    QString text;

    bool operator==(const PageWord&) const = default;
};

struct PageText {
    int width = 0;   // of the image the boxes are on
    int height = 0;
    QString source;  // "ocr:jpn+jpn_vert+eng", "pdf", ...
    std::vector<PageWord> words;

    bool operator==(const PageText&) const = default;

    // The text as one string: the words of a line joined by a space (none
    // between two words that meet with Japanese or Chinese characters), the
    // lines by "\n". `ranges`, when given, gets each word's start and length
    // in that string, in the order of `words`.
    QString Plain(std::vector<std::pair<int, int>>* ranges = nullptr) const;
};

// No page comes near these: a longer file is damaged, and read no further.
inline constexpr qint64 kPageTextReadLimit = qint64(8) << 20;
inline constexpr int kPageTextWordLimit = 200000;

// The file's bytes for `text`.
QByteArray EncodePageText(const PageText& text);

// The text in a file's bytes; nullopt when the first line is not this
// format's, or a line is damaged. Bytes past kPageTextReadLimit or words past
// kPageTextWordLimit make it damaged too.
std::optional<PageText> DecodePageText(const QByteArray& bytes);
// DecodePageText(bytes)->Plain() without the words: the same text, nullopt
// for the same bytes, with less work (the search index reads every page's).
std::optional<QString> DecodePagePlainText(const QByteArray& bytes);

// Reads categoryFolder/Words/<entry's number>.tsv (any letter case), never
// through a link and at most kPageTextReadLimit bytes of it; nullopt when
// there is none or it cannot be read or decoded.
std::optional<PageText> ReadPageText(const QString& path);
// The same file's DecodePagePlainText.
std::optional<QString> ReadPagePlainText(const QString& path);

// Writes it atomically.
bool WritePageText(const QString& path, const PageText& text, IoError* error = nullptr);

// The sub-folder the texts are kept in.
extern const QString kWordsFolder;  // "Words"

// Makes categoryFolder/Words when it is not there (never through a link):
// true when it is there, a folder, afterwards.
bool MakeWordsFolder(const QString& categoryFolder, IoError* error = nullptr);

// categoryFolder + "/Words/" + the entry's number + ".tsv": empty for an
// entry that names no file (IsSafePageEntry) or when the file is a link.
QString WordsPathOfEntry(const QString& categoryFolder, const QString& entry);
QString WordsPath(const QString& categoryFolder, const PageList& list, int index);

// A page that has no recognised text yet: its entry, its image and the
// image's size and time as it is now (given back with the text, so that a
// picture changed meanwhile is not given a stale text).
struct PageToRecognise {
    QString entry;
    QString imagePath;
    ListStamp imageStamp;
};
// The listed pages of the category without a recognised text, in list order,
// each entry once; pages whose entry names no file, whose image is missing or
// a link, are left out. One listing of the Words folder, not a look per page.
// `andWithText`: every such page, those with a text too (to recognise again).
std::vector<PageToRecognise> PagesWithoutText(const QString& categoryFolder, const PageList& list,
                                              bool andWithText = false);
