// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ArchiveFiles.h"

#include "CoreTestUtil.h"
#include "tests/support/TestVolume.h"

#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using coretest::ScratchTest;

namespace {

QByteArray B(const char* bytes)
{
    return QByteArray(bytes);
}

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

class ArchiveFilesTest : public ScratchTest {};

// ---------------------------------------------------------------------------
// ResolveExistingPath

TEST_F(ArchiveFilesTest, ResolveReturnsExistingPathUnchanged)
{
    MakeDir("Cat/Text");
    Put("Cat/Text/00000001.txt", "x");
    EXPECT_EQ(ResolveExistingPath(P("Cat/Text/00000001.txt")), P("Cat/Text/00000001.txt"));
    EXPECT_EQ(ResolveExistingPath(P("Cat/Text")), P("Cat/Text"));
}

TEST_F(ArchiveFilesTest, ResolveFindsFileAndFolderInOtherCase)
{
    MakeDir("Cat/text");
    Put("Cat/text/00000001.TXT", "a");
    Put("Cat/text/00000002.Txt", "b");
    EXPECT_EQ(ResolveExistingPath(P("Cat/Text/00000001.txt")), P("Cat/text/00000001.TXT"));
    EXPECT_EQ(ResolveExistingPath(P("Cat/Text/00000002.txt")), P("Cat/text/00000002.Txt"));
    EXPECT_EQ(ResolveExistingPath(P("CAT/TEXT/00000002.TXT")), P("Cat/text/00000002.Txt"));
    EXPECT_EQ(ResolveExistingPath(P("cat")), P("Cat"));
}

TEST_F(ArchiveFilesTest, ResolveLeavesPathUnchangedWhenNothingMatches)
{
    MakeDir("Cat/Text");
    EXPECT_EQ(ResolveExistingPath(P("Cat/Text/00000009.txt")), P("Cat/Text/00000009.txt"));
    EXPECT_EQ(ResolveExistingPath(P("cat/text/00000009.txt")), P("cat/text/00000009.txt"));
    EXPECT_EQ(ResolveExistingPath(P("Other/Text/x.txt")), P("Other/Text/x.txt"));
    EXPECT_EQ(ResolveExistingPath(QString()), QString());
}

TEST_F(ArchiveFilesTest, ResolvePrefersExactSpellingThenSmallestName)
{
    MakeDir("F");
    Put("F/a.TXT", "1");
    Put("F/a.txt", "2");
    Put("F/A.tXt", "3");
    EXPECT_EQ(ResolveExistingPath(P("F/a.txt")), P("F/a.txt"));
    EXPECT_EQ(ResolveExistingPath(P("F/a.Txt")), P("F/A.tXt"));  // "A.tXt" < "a.TXT" < "a.txt"
}

TEST_F(ArchiveFilesTest, ResolveSlashVariants)
{
    MakeDir("Cat/image");
    Put("Cat/image/00000001.jpg", "j");
    EXPECT_EQ(ResolveExistingPath(P("Cat//Image/00000001.jpg")), P("Cat/image/00000001.jpg"));
}

// ---------------------------------------------------------------------------
// Reading

TEST_F(ArchiveFilesTest, ReadWholeFileAnyCase)
{
    MakeDir("Cat/TEXT");
    Put("Cat/TEXT/00000001.tXt", B("m\r\n"));
    const auto bytes = ReadWholeFile(P("Cat/Text/00000001.txt"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, B("m\r\n"));
}

TEST_F(ArchiveFilesTest, ReadWholeFileMissingOrFolderIsNullopt)
{
    MakeDir("Cat/Text");
    EXPECT_FALSE(ReadWholeFile(P("Cat/Text/none.txt")).has_value());
    EXPECT_FALSE(ReadWholeFile(P("Cat/Text")).has_value());
    EXPECT_FALSE(ReadWholeFile(QString()).has_value());
}

TEST_F(ArchiveFilesTest, ReadWholeFileEmptyFile)
{
    Put("empty.txt", QByteArray());
    const auto bytes = ReadWholeFile(P("empty.txt"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_TRUE(bytes->isEmpty());
}

TEST_F(ArchiveFilesTest, FileExistsAnyCase)
{
    MakeDir("Cat/thumb");
    Put("Cat/thumb/00000001.JPG", "j");
    EXPECT_TRUE(FileExistsAnyCase(P("Cat/Thumb/00000001.jpg")));
    EXPECT_TRUE(FileExistsAnyCase(P("Cat/thumb/00000001.JPG")));
    EXPECT_FALSE(FileExistsAnyCase(P("Cat/Thumb/00000002.jpg")));
    EXPECT_FALSE(FileExistsAnyCase(P("Cat/Thumb")));  // a folder is not a file
    EXPECT_FALSE(FileExistsAnyCase(QString()));
}

// ---------------------------------------------------------------------------
// WriteFileAtomically

TEST_F(ArchiveFilesTest, WriteCreatesNewFileWithoutLeftovers)
{
    MakeDir("Cat");
    ASSERT_TRUE(WriteFileAtomically(P("Cat/FileList.txt"), B("00000000\r\n")));
    EXPECT_EQ(Get("Cat/FileList.txt"), B("00000000\r\n"));
    EXPECT_EQ(Entries("Cat"), QStringList{"FileList.txt"});
}

TEST_F(ArchiveFilesTest, WriteReplacesWholeContent)
{
    MakeDir("Cat");
    Put("Cat/FileList.txt", B("a much longer old content\r\n"));
    ASSERT_TRUE(WriteFileAtomically(P("Cat/FileList.txt"), B("new")));
    EXPECT_EQ(Get("Cat/FileList.txt"), B("new"));
    ASSERT_TRUE(WriteFileAtomically(P("Cat/FileList.txt"), QByteArray()));
    EXPECT_EQ(Get("Cat/FileList.txt"), QByteArray());
    EXPECT_EQ(Entries("Cat"), QStringList{"FileList.txt"});
}

TEST_F(ArchiveFilesTest, WriteGoesToExistingNameInOtherCase)
{
    MakeDir("Cat/text");
    Put("Cat/filelist.TXT", B("old"));
    Put("Cat/text/00000001.TXT", B("old memo"));
    ASSERT_TRUE(WriteFileAtomically(P("Cat/FileList.txt"), B("new")));
    EXPECT_EQ(Get("Cat/filelist.TXT"), B("new"));
    ASSERT_TRUE(WriteFileAtomically(P("Cat/Text/00000001.txt"), B("new memo")));
    EXPECT_EQ(Get("Cat/text/00000001.TXT"), B("new memo"));
    // A new file in a folder spelled otherwise goes into the existing folder.
    ASSERT_TRUE(WriteFileAtomically(P("Cat/Text/00000002.txt"), B("\r\n")));
    EXPECT_EQ(Get("Cat/text/00000002.txt"), B("\r\n"));
    EXPECT_EQ(Entries("Cat"), (QStringList{"filelist.TXT", "text"}));
    EXPECT_EQ(Entries("Cat/text"), (QStringList{"00000001.TXT", "00000002.txt"}));
}

TEST_F(ArchiveFilesTest, WriteKeepsPermissionBitsOfExistingFile)
{
    Put("f.txt", B("old"));
    ASSERT_EQ(::chmod(QFile::encodeName(P("f.txt")).constData(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(P("f.txt"), B("new")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(P("f.txt")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(ArchiveFilesTest, NewFileGetsUmaskedMode)
{
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(WriteFileAtomically(P("n.txt"), B("x")));
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(P("n.txt")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(ArchiveFilesTest, WriteFailsWhenFolderIsMissing)
{
    EXPECT_FALSE(WriteFileAtomically(P("NoSuchFolder/FileList.txt"), B("x")));
    EXPECT_FALSE(Exists("NoSuchFolder"));
    EXPECT_TRUE(Entries("").isEmpty());
}

TEST_F(ArchiveFilesTest, WriteFailsWhenFolderIsInTheWay)
{
    MakeDir("Cat/FileList.txt/inner");
    EXPECT_FALSE(WriteFileAtomically(P("Cat/FileList.txt"), B("x")));
    EXPECT_TRUE(QFileInfo(P("Cat/FileList.txt")).isDir());
    EXPECT_EQ(Entries("Cat"), QStringList{"FileList.txt"});
    EXPECT_EQ(Entries("Cat/FileList.txt"), QStringList{"inner"});
}

TEST_F(ArchiveFilesTest, WriteFailureKeepsOldFileAndLeavesNoTemp)
{
    // A write that runs out of room (file size limit) must not touch the old file.
    MakeDir("Cat");
    Put("Cat/FileList.txt", B("00000003\r\n00000001.jpg\r\n"));
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = WriteFileAtomically(P("Cat/FileList.txt"), QByteArray(100000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(Get("Cat/FileList.txt"), B("00000003\r\n00000001.jpg\r\n"));
    EXPECT_EQ(Entries("Cat"), QStringList{"FileList.txt"});
}

TEST_F(ArchiveFilesTest, WriteFailsInReadOnlyFolder)
{
    TestVolume volume(P("Cat"), TestVolume::ReadOnly);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    Put("Cat/FileList.txt", B("old"));
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    const bool replaced = WriteFileAtomically(P("Cat/FileList.txt"), B("new"));
    const bool added = WriteFileAtomically(P("Cat/Other.txt"), B("new"));
    volume.Release();
    EXPECT_FALSE(replaced);
    EXPECT_FALSE(added);
    EXPECT_EQ(Get("Cat/FileList.txt"), B("old"));
    EXPECT_EQ(Entries("Cat"), QStringList{"FileList.txt"});
}

TEST_F(ArchiveFilesTest, WriteFailsOnFullDiskAndLeavesOldFileWhole)
{
    TestVolume volume(P("Cat"), TestVolume::Full);
    if (!volume.Unavailable().isEmpty())
        GTEST_SKIP() << qPrintable(volume.Unavailable());
    const QByteArray old = B("00000003\r\n00000001.jpg\r\n");
    Put("Cat/FileList.txt", old);
    ASSERT_TRUE(volume.Seal()) << qPrintable(volume.Unavailable());
    // A few bytes need a block as much as many do; both fail, and neither
    // leaves its temporary file behind.
    const bool small = WriteFileAtomically(P("Cat/FileList.txt"), B("00000004\r\n"));
    const bool large = WriteFileAtomically(P("Cat/FileList.txt"), QByteArray(300000, 'x'));
    const bool added = WriteFileAtomically(P("Cat/New.txt"), QByteArray(9000, 'y'));
    volume.Release();
    EXPECT_FALSE(small);
    EXPECT_FALSE(large);
    EXPECT_FALSE(added);
    EXPECT_EQ(Get("Cat/FileList.txt"), old);
    EXPECT_EQ(Entries("Cat"), QStringList{"FileList.txt"});
    // With room again the same write goes through.
    EXPECT_TRUE(WriteFileAtomically(P("Cat/FileList.txt"), B("00000004\r\n")));
    EXPECT_EQ(Get("Cat/FileList.txt"), B("00000004\r\n"));
}

// Nothing is written, and nothing read, through a symbolic link: a link to
// a file, a dangling one and one in another letter case alike.
TEST_F(ArchiveFilesTest, SymbolicLinksAreNeverWrittenOrReadThrough)
{
    Put("real.txt", B("old"));
    ASSERT_TRUE(QFile::link(P("real.txt"), P("link.txt")));
    ASSERT_TRUE(QFile::link(P("gone.txt"), P("Dangling.TXT")));
    for (const char* name : {"link.txt", "dangling.txt"}) {
        IoError error;
        EXPECT_FALSE(WriteFileAtomically(P(QLatin1String(name)), B("new"), &error)) << name;
        EXPECT_EQ(error.code, ELOOP) << name;
        EXPECT_EQ(ReadArchiveFile(P(QLatin1String(name)), 100).status, FileRead::Link) << name;
        EXPECT_FALSE(ReadWholeFile(P(QLatin1String(name)))) << name;
    }
    EXPECT_EQ(Get("real.txt"), B("old"));
    EXPECT_FALSE(Exists("gone.txt"));
    EXPECT_TRUE(QFileInfo(P("link.txt")).isSymLink());
    EXPECT_EQ(Entries(""), (QStringList{"Dangling.TXT", "link.txt", "real.txt"})) << "no temporary file left";
}

TEST_F(ArchiveFilesTest, ReadsAreBoundedAndOnlyOfRegularFiles)
{
    Put("memo.txt", QByteArray(1000, 'm'));
    const FileRead cut = ReadArchiveFile(P("memo.txt"), 100);
    EXPECT_EQ(cut.status, FileRead::TooLong);
    EXPECT_EQ(cut.bytes, QByteArray(100, 'm'));
    EXPECT_EQ(cut.size, 1000);
    EXPECT_EQ(ReadArchiveFile(P("memo.txt"), 1000).status, FileRead::Read);
    EXPECT_EQ(ReadArchiveFile(P("MEMO.TXT"), 1000).bytes.size(), 1000) << "any letter case";
    EXPECT_EQ(ReadArchiveFile(P("none.txt"), 10).status, FileRead::Missing);
    ASSERT_TRUE(QDir().mkpath(P("folder")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(P("pipe")).constData(), 0600), 0);
    for (const auto& [name, kind] : {std::pair{"folder", "folder"}, {"pipe", "named pipe"}}) {
        const FileRead r = ReadArchiveFile(P(QLatin1String(name)), 10);
        EXPECT_EQ(r.status, FileRead::NotRegular) << name;
        EXPECT_EQ(r.kind, QLatin1String(kind));
    }
    const FileRead device = ReadArchiveFile(QStringLiteral("/dev/zero"), 10);
    EXPECT_EQ(device.status, FileRead::NotRegular);
    EXPECT_EQ(device.kind, QStringLiteral("device"));
}

TEST_F(ArchiveFilesTest, FoldersAreJudgedByWhereTheyReallyAre)
{
    MakeDir("root/Cat");
    MakeDir("elsewhere");
    ASSERT_TRUE(QFile::link(P("elsewhere"), P("root/Out")));
    ASSERT_TRUE(QFile::link(P("root/Cat"), P("root/Alias")));
    EXPECT_TRUE(ResolvesInside(P("root/Cat"), P("root")));
    EXPECT_TRUE(ResolvesInside(P("root/Alias"), P("root")));
    EXPECT_TRUE(ResolvesInside(P("root/New/Image"), P("root"))) << "judged by its existing ancestor";
    EXPECT_FALSE(ResolvesInside(P("root/Out"), P("root")));
    EXPECT_FALSE(ResolvesInside(P("root/Out/Image"), P("root")));
    EXPECT_FALSE(ResolvesInside(P("root/../elsewhere"), P("root")));
    EXPECT_FALSE(ResolvesInside(P("rootish"), P("root")));
    EXPECT_TRUE(SameFolder(P("root/Alias"), P("root/Cat")));
    EXPECT_FALSE(SameFolder(P("root/Out"), P("root/Cat")));
}

TEST_F(ArchiveFilesTest, WriteEmptyPathFails)
{
    EXPECT_FALSE(WriteFileAtomically(QString(), B("x")));
}

// ---------------------------------------------------------------------------
// CP932

TEST(Cp932Test, HalfWidthKatakana)
{
    const QByteArray bytes("\xBD\xB7\xAC\xC5\xC6\xDE\xAF\xB0\xA1\xDF");
    const QString text = U("ｽｷｬﾅﾆﾞｯｰ｡ﾟ");
    EXPECT_EQ(DecodeCp932(bytes), text);
    EXPECT_EQ(EncodeCp932(text), bytes);
}

TEST(Cp932Test, NecAndIbmExtensionsAndJisCharacters)
{
    // ① 0x8740, ㈱ 0x878A, 髙 0xFBFC, ～ 0x8160, ＼ 0x815F, ∥ 0x8161, － 0x817C
    const QByteArray bytes("\x87\x40\x87\x8A\xFB\xFC\x81\x60\x81\x5F\x81\x61\x81\x7C");
    const QString text = U("①㈱髙～＼∥－");
    EXPECT_EQ(DecodeCp932(bytes), text);
    EXPECT_EQ(EncodeCp932(text), bytes);
    EXPECT_EQ(DecodeCp932("\x81\x60"), QString(QChar(0xFF5E)));
}

TEST(Cp932Test, AsciiIsUnchangedIncludingBackslashTildeAndControls)
{
    QByteArray all;
    for (int b = 0; b < 0x80; ++b)
        all.append(char(b));
    const QString text = DecodeCp932(all);
    ASSERT_EQ(text.size(), 0x80);
    for (int b = 0; b < 0x80; ++b)
        EXPECT_EQ(text.at(b).unicode(), b) << b;
    EXPECT_EQ(EncodeCp932(text), all);
}

TEST(Cp932Test, KanjiAndKana)
{
    const QString text = U("日本語のメモ、ひらがなカタカナ漢字。");
    const QByteArray bytes = EncodeCp932(text);
    EXPECT_EQ(bytes.left(6), QByteArray("\x93\xFA\x96\x7B\x8C\xEA"));
    EXPECT_EQ(DecodeCp932(bytes), text);
}

TEST(Cp932Test, NecIbmDuplicatesDecodeAlikeAndEncodeToIbm)
{
    // 纊: NEC-selected IBM extension 0xED40 and IBM extension 0xFA5C.
    EXPECT_EQ(DecodeCp932("\xED\x40"), U("纊"));
    EXPECT_EQ(DecodeCp932("\xFA\x5C"), U("纊"));
    EXPECT_EQ(EncodeCp932(U("纊")), QByteArray("\xFA\x5C"));
    // ≒ is both 0x81E0 (JIS X 0208) and 0x8790 (NEC row 13): JIS wins.
    EXPECT_EQ(DecodeCp932("\x87\x90"), U("≒"));
    EXPECT_EQ(EncodeCp932(U("≒")), QByteArray("\x81\xE0"));
    // ￢ is 0x81CA, 0xEEF9 and 0xFA54.
    EXPECT_EQ(DecodeCp932("\xEE\xF9"), U("￢"));
    EXPECT_EQ(DecodeCp932("\xFA\x54"), U("￢"));
    EXPECT_EQ(EncodeCp932(U("￢")), QByteArray("\x81\xCA"));
    // Ⅰ is 0x8754 (NEC row 13) and 0xFA4A (IBM): NEC row 13 wins.
    EXPECT_EQ(EncodeCp932(U("Ⅰ")), QByteArray("\x87\x54"));
}

TEST(Cp932Test, InvalidBytesDecodeAsReplacementCharacters)
{
    const QChar r(0xFFFD);
    EXPECT_EQ(DecodeCp932(QByteArray("\x80", 1)), QString(r));
    EXPECT_EQ(DecodeCp932(QByteArray("\xA0", 1)), QString(r));
    EXPECT_EQ(DecodeCp932(QByteArray("\xFD\xFE\xFF", 3)), QString(3, r));
    // A lead byte with a bad trail byte: the lead is replaced, the next byte read anew.
    EXPECT_EQ(DecodeCp932(QByteArray("\x81\x20", 2)), QString(r) + u' ');
    EXPECT_EQ(DecodeCp932(QByteArray("\x88\x0D\x0A", 3)), QString(r) + QStringLiteral("\r\n"));
    // A lone lead byte at the end.
    EXPECT_EQ(DecodeCp932(QByteArray("a\x81", 2)), QString(u'a') + r);
    // An undefined double-byte code: one replacement for the pair.
    EXPECT_EQ(DecodeCp932(QByteArray("\x85\x40z", 3)), QString(r) + u'z');
    // NUL bytes are characters.
    EXPECT_EQ(DecodeCp932(QByteArray("a\0b", 3)), QString::fromUtf16(u"a\0b", 3));
}

TEST(Cp932Test, BestFitForJisVariants)
{
    EXPECT_EQ(EncodeCp932(QString(QChar(0x301C))), QByteArray("\x81\x60"));  // 〜 wave dash
    EXPECT_EQ(EncodeCp932(QString(QChar(0x2016))), QByteArray("\x81\x61"));
    EXPECT_EQ(EncodeCp932(QString(QChar(0x2212))), QByteArray("\x81\x7C"));
    EXPECT_EQ(EncodeCp932(QString(QChar(0x00A2))), QByteArray("\x81\x91"));
    EXPECT_EQ(EncodeCp932(QString(QChar(0x00A3))), QByteArray("\x81\x92"));
    EXPECT_EQ(EncodeCp932(QString(QChar(0x00AC))), QByteArray("\x81\xCA"));
    EXPECT_EQ(EncodeCp932(QString(QChar(0x2014))), QByteArray("\x81\x5C"));
    EXPECT_EQ(EncodeCp932(QString(QChar(0x00A5))), QByteArray("\x5C"));
}

TEST(Cp932Test, UnencodableCharactersBecomeQuestionMarks)
{
    EXPECT_EQ(EncodeCp932(U("a€b")), QByteArray("a?b"));
    EXPECT_EQ(EncodeCp932(U("😀x")), QByteArray("?x"));  // one per code point
    EXPECT_EQ(EncodeCp932(QString(QChar(0xD800)) + u'x'), QByteArray("?x"));
    EXPECT_EQ(EncodeCp932(QString(QChar(0xFFFD))), QByteArray("?"));
    EXPECT_EQ(EncodeCp932(QString()), QByteArray());
}

TEST(Cp932Test, EveryDefinedCodeRoundTripsToACodeOfTheSameCharacter)
{
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead < 0xE0)
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            const char pair[2] = {char(lead), char(trail)};
            const QString c = DecodeCp932(QByteArray(pair, 2));
            ASSERT_EQ(c.size(), 1);
            if (c.at(0) == QChar(0xFFFD))
                continue;
            const QByteArray back = EncodeCp932(c);
            ASSERT_EQ(back.size(), 2) << std::hex << lead << ' ' << trail;
            EXPECT_EQ(DecodeCp932(back), c) << std::hex << lead << ' ' << trail;
        }
    }
}

// ---------------------------------------------------------------------------
// Lines

TEST(TextLinesTest, SplitFollowsTheStringListRule)
{
    EXPECT_EQ(SplitTextLines(""), QStringList());
    EXPECT_EQ(SplitTextLines("a"), QStringList{"a"});
    EXPECT_EQ(SplitTextLines("a\r\nb"), (QStringList{"a", "b"}));
    EXPECT_EQ(SplitTextLines("a\r\nb\r\n"), (QStringList{"a", "b"}));
    EXPECT_EQ(SplitTextLines("a\nb\n"), (QStringList{"a", "b"}));
    EXPECT_EQ(SplitTextLines("a\rb\r"), (QStringList{"a", "b"}));
    EXPECT_EQ(SplitTextLines("\r\n"), QStringList{""});
    EXPECT_EQ(SplitTextLines("\r\n\r\n"), (QStringList{"", ""}));
    EXPECT_EQ(SplitTextLines("a\n\rb"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(SplitTextLines("a\r\r\nb"), (QStringList{"a", "", "b"}));
}

TEST(TextLinesTest, JoinEndsEveryLineWithCrLf)
{
    EXPECT_EQ(JoinTextLines({}), QString());
    EXPECT_EQ(JoinTextLines({""}), QString("\r\n"));
    EXPECT_EQ(JoinTextLines({"a", "b"}), QString("a\r\nb\r\n"));
}

}  // namespace
