// SPDX-License-Identifier: GPL-3.0-or-later
// tolvane-batch: Tolvane from the command line.
//
//   tolvane-batch process [options] IN PAGE_OUT THUMB_OUT
//   tolvane-batch add [--archive DIR] --category NAME [options] FILE...
//   tolvane-batch scan [--archive DIR] --category NAME [--device NAME] [--feeder]
//   tolvane-batch check [--archive DIR] [--category NAME] [--decode] [--repair]
//   tolvane-batch export [--archive DIR] --category NAME [--pages LIST] OUT.pdf
//   tolvane-batch ocr [--archive DIR] [--category NAME] [--redo]
//
// process does to one image file what intake does to a new page in automatic
// mode and writes the two images where it is told; add and scan file new
// pages in a category as the main window does, through the archive session;
// check reads the archive's files against its page lists and mends what can
// be mended without loss. The help text below says it all for the user.

#include "app/batch/BatchCommands.h"
#include "app/batch/BatchSupport.h"
#include "core/ArchiveFiles.h"
#include "core/ArchiveSession.h"
#include "core/Settings.h"
#include "imaging/AutoProcess.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>


namespace {

using namespace batch;

constexpr char kHelp[] =
    "Usage: tolvane-batch process [OPTIONS] IN PAGE_OUT THUMB_OUT\n"
    "       tolvane-batch add [--archive DIR] --category NAME [--create] [--force] [OPTIONS] FILE...\n"
    "       tolvane-batch scan [--archive DIR] --category NAME [--device NAME] [--feeder]\n"
    "                          [--create] [--force] [OPTIONS]\n"
    "       tolvane-batch scan --list-devices\n"
    "       tolvane-batch check [--archive DIR] [--category NAME] [--decode] [--repair] [--force]\n"
    "       tolvane-batch export [--archive DIR] --category NAME [--pages LIST] OUT.pdf\n"
    "       tolvane-batch search QUERY [--archive DIR] [--category NAME] [--max N]\n"
    "       tolvane-batch ocr [--archive DIR] [--category NAME] [--redo] [--force]\n"
    "       tolvane-batch --help\n"
    "\n"
    "process\n"
    "  Processes one image file as Tolvane processes a new page in automatic mode:\n"
    "  the image is brought to 24 bits per pixel, turned and scaled into the target\n"
    "  box, corrected and whitened as the settings say, and written as the page\n"
    "  image PAGE_OUT and the thumbnail THUMB_OUT (within 160 x 200 pixels).\n"
    "  The format of each output follows its extension: .bmp, .jpg or .jpeg, .tif or\n"
    "  .tiff, in any letter case. Each output is written whole or not at all, and\n"
    "  when the thumbnail cannot be written the page image is put back as it was.\n"
    "\n"
    "add\n"
    "  Files each FILE, in the order given, as a new last page of the category, as\n"
    "  the main window's file import does in automatic mode: the file is read by the\n"
    "  image layer, else by the Susie plug-ins (*.spi) in the folder that holds\n"
    "  tolvane-batch; brought to 24 bits and processed; then the page image (in the\n"
    "  format of SaveFormat), its thumbnail, an empty memo and FileList.txt are\n"
    "  written, each page whole or not at all. A file that cannot be read is named\n"
    "  on standard error and skipped, and the others are still filed. A page that\n"
    "  cannot be written (a full disk) is taken back and the command stops there;\n"
    "  the page limit (999 pages) stops it with its message. Pages filed before\n"
    "  stay. Standard output has one line per filed page: its page entry\n"
    "  (00000012.jpg), a tab, the file. On a terminal standard error shows progress.\n"
    "  A PDF file (.pdf in any letter case, or a file that begins with %PDF-) is\n"
    "  filed page by page: each page rendered as a 200 dpi scan of it would be and\n"
    "  processed as an image file is, the PDF's own text kept as the page's\n"
    "  recognised text; its lines name the file and the page (FILE page 3). A PDF\n"
    "  that is damaged or encrypted is named and skipped; one with more pages than\n"
    "  the category has room for is refused whole with the page limit's message.\n"
    "  When recognition is on (the options dialog's switch, Recognition in\n"
    "  Tolvane.conf; on unless set off) and the language data are installed (see\n"
    "  ocr), the text of each page filed without one is recognised on the cores\n"
    "  filing leaves idle and kept beside it; the command ends when every text is\n"
    "  kept (standard error shows \"recognising: N/M pages\" on a terminal). A page\n"
    "  that could not be recognised is named on standard error and stays filed\n"
    "  without a text, for ocr or tolvane to take up; it does not change the exit\n"
    "  status. A stop while texts are recognised leaves every page filed.\n"
    "  --no-ocr  file the pages only (ocr, or tolvane when it shows the category,\n"
    "            recognises them later)\n"
    "\n"
    "scan\n"
    "  Files one-shot scans, made with the scan settings of the options dialog\n"
    "  (ScanMode, ScanLeft, ScanTop, ScanRight, ScanBottom, ScanReso) as the\n"
    "  one-shot scan button makes them, on the scanner chosen in the scanner\n"
    "  selection (else the first SANE finds), and processed and filed as add files\n"
    "  a file. Without --feeder one page is scanned; with it the document feeder is\n"
    "  scanned page after page, each page filed as it comes, until the feeder says\n"
    "  it is empty. A scan error stops the command with its message; pages filed\n"
    "  before stay. Standard output: the page entry, a tab, the device (and the\n"
    "  feeder page). The texts of the pages are recognised as add has them\n"
    "  recognised (--no-ocr too).\n"
    "  --device NAME   scan on the SANE device NAME instead\n"
    "  --feeder        scan from the document feeder until it is empty\n"
    "  --list-devices  print the scanners SANE finds, one a line: name, vendor,\n"
    "                  model and type, separated by tabs\n"
    "\n"
    "check\n"
    "  Reads every category (or only --category's) and prints one line per finding,\n"
    "  \"CATEGORY/FILE: what is wrong\": a list line whose page image is missing; a\n"
    "  missing thumbnail or memo; a page file (any letter case) no list line names;\n"
    "  a header line below the highest page number in use; a FileList.txt that is\n"
    "  no CP932 text, or with a line that names no page file, a page twice, or no\n"
    "  line end at the end; a missing Image, Thumb or Text folder; a temporary file\n"
    "  left by an interrupted write.\n"
    "  --decode   also read every page image and thumbnail, and report the ones\n"
    "             that do not decode (without it images are only looked for)\n"
    "  --repair   mend what can be mended without losing anything: make a missing\n"
    "             folder; make a missing (or undecodable) thumbnail from the page\n"
    "             image and a missing memo (empty); append page images no line\n"
    "             names to FileList.txt in number order, with their thumbnails and\n"
    "             memos; raise a low header line; end a cut-short last line; remove\n"
    "             temporary files. It never deletes a page file or a list line, and\n"
    "             writes each file atomically, the list last. Each finding's line\n"
    "             then ends with \"; mended: ...\" or \"; left: ...\" and why.\n"
    "  Findings that cannot be mended (a missing page image, a damaged line) are\n"
    "  found again by the next check; all others are gone.\n"
    "\n"
    "export\n"
    "  Writes pages of the category as the one PDF file OUT.pdf, each page its\n"
    "  stored image (a JPEG as it is, a BMP or TIFF losslessly) on a page of A4 at\n"
    "  most, in the image's orientation, with the page's recognised text on it as\n"
    "  invisible text that can be searched and copied. The file is written whole\n"
    "  or not at all. Standard output: OUT.pdf, a tab, the number of pages. A page\n"
    "  whose image is missing or cannot be read is named on standard error and left\n"
    "  out. Nothing in the archive is written, so no lock is taken.\n"
    "  --pages LIST  only these pages, numbered from 1 in display order, in the\n"
    "                order given: 1,3,5-8\n"
    "  Exit status 0 when every page went in, 1 when a page was left out or no\n"
    "  PDF was written, 2 for bad arguments.\n"
    "\n"
    "search\n"
    "  Finds QUERY in the memos and the recognised text of every page (or only\n"
    "  --category's), width, letter case and katakana/hiragana aside; spaces\n"
    "  between Japanese characters do not count. Prints one line per page and\n"
    "  source, \"CATEGORY<TAB>PAGE<TAB>text around the hit\", names and text with\n"
    "  control characters escaped. The folded text is cached under\n"
    "  $XDG_CACHE_HOME/Osk/Tolvane/search, never in the archive.\n"
    "  --max N    print at most N lines\n"
    "  Exit status 0 when something was found, 1 when nothing was.\n"
    "\n"
    "ocr\n"
    "  Recognises the text of every page of every category (or only --category's)\n"
    "  that has none yet, in Japanese and English (Tesseract with the language data\n"
    "  of tesseract-ocr-jpn and tesseract-ocr-eng, or of TESSDATA_PREFIX), on every\n"
    "  core, and keeps each page's words with their boxes in Words/NNNNNNNN.tsv\n"
    "  beside the page, which search reads. A page whose picture changes while it\n"
    "  is recognised keeps no text, and is recognised by the next run. Pages done\n"
    "  before a stop stay done. Standard output has one line at the end, \"N pages\n"
    "  recognised\"; a page that could not be recognised or kept is named on standard\n"
    "  error. On a terminal standard error shows \"N/M pages\".\n"
    "  --redo     recognise every page again, replacing the texts there are\n"
    "  Without the language data nothing is recognised (exit status 1).\n"
    "\n"
    "The archive (add, scan, check, export, ocr)\n"
    "  --archive DIR    the archive folder, whose sub-folders are the categories;\n"
    "                   by default the folder that holds tolvane-batch, as for tolvane\n"
    "  --category NAME  the category; a name must not be empty, \".\" or \"..\", nor\n"
    "                   hold \"/\", \"\\\" or a control character, as the category\n"
    "                   dialog refuses them, and it must exist\n"
    "  --create         (add, scan) make the category when it does not exist, as\n"
    "                   the create-category button makes one\n"
    "  --force          take a shared archive's write lock over from another\n"
    "                   workstation, as the lock button's \"Yes\" does\n"
    "  When NetLock.CTL is in the archive folder the archive is shared, and add,\n"
    "  scan, ocr and check --repair write only while they hold its lock: they take\n"
    "  it when it is free, hold it while they write, stop when another workstation\n"
    "  takes it away, and give it back when they end, on SIGINT, SIGTERM and SIGHUP\n"
    "  too. When another workstation holds it they refuse, unless --force is given.\n"
    "\n"
    "Processing options (process, add, scan)\n"
    "Every value comes from the user's Tolvane settings, which are read and never\n"
    "changed ($XDG_CONFIG_HOME/Osk/Tolvane.conf, by default ~/.config/Osk/Tolvane.conf;\n"
    "missing or empty values take their defaults), unless an option gives it:\n"
    "  --kmode N       target box (KMode): 0 width 1024; 1 within 1024 x 768, tall\n"
    "                  pages turned; 2 width 800; 3 within 800 x 600, turned;\n"
    "                  4 width 1240; 5 within 1240 x 1024, turned; 6 width KFX;\n"
    "                  7 within KFX x KFY, turned\n"
    "  --kfx N         width for --kmode 6 and 7, 1..65535 (KFX)\n"
    "  --kfy N         height for --kmode 7, 1..65535 (KFY)\n"
    "  --resize-a N    scaling of the page image: 0 high quality, 1 normal (ResizeModeA)\n"
    "  --resize-t N    scaling of the thumbnail: 0 high quality, 1 normal (ResizeModeT)\n"
    "  --auto-mode N   correction: 0 brightness, contrast and colour balance;\n"
    "                  1 brightness and contrast; 2 none (AutoMode)\n"
    "  --white-mode N  whitening filter: 0 applied, 1 not applied (WhiteMode)\n"
    "  --quality N     JPEG quality 1..100; without it from JpegMode:\n"
    "                  0 -> 90, 1 -> 80, 2 -> 50 (any other value -> 80)\n"
    "  --save-format N (add, scan) format of new page images (SaveFormat):\n"
    "                  0 JPEG (.jpg), 1 BMP (.bmp), 2 TIFF (.tif)\n"
    "  --              ends the options\n"
    "  -h, --help      shows this text\n"
    "An option takes its value as the next argument or after '=' (--kmode=1), and\n"
    "options may stand before or after the operands.\n"
    "\n"
    "Exit status\n"
    "  0  done; check: nothing found\n"
    "  1  process: the image could not be read, processed or written;\n"
    "     add: a file could not be read (the others were filed), a page could not\n"
    "     be written, or the category is full; scan: the scan failed, the feeder\n"
    "     was empty at the first page, a page could not be written, or the category\n"
    "     is full; check: something was found (with --repair too: check again to\n"
    "     see what is left); ocr: the language data are missing, or a page could\n"
    "     not be recognised or its text kept (the others were kept)\n"
    "  2  bad arguments: an unknown option or command, a bad value, a category name\n"
    "     that is refused, an archive folder or category that does not exist\n"
    "  3  the archive is shared and another workstation holds its write lock, or\n"
    "     took it away while the command ran\n"
    "  128+N  stopped by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP): pages\n"
    "     filed before stay, none is half-written, the lock is given back\n";

}  // namespace

// Every command, the help and the errors of the command line, for the
// starter (tolvane_batch_start.cpp) to call, with its QCoreApplication when
// it has made one.
extern "C" __attribute__((visibility("default"))) int TolvaneBatchMain(int argc, char* argv[])
{
    std::optional<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app.emplace(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    if (args.isEmpty()) {
        PrintError(QStringLiteral("no command given (see --help)"));
        return kExitUsage;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    int (*run)(const QStringList&) = nullptr;
    if (command == QLatin1String("process"))
        run = [](const QStringList& a) { return RunProcess(a, ImgKitFileLoad); };
    else if (command == QLatin1String("add"))
        run = RunAdd;
    else if (command == QLatin1String("scan"))
        run = RunScan;
    else if (command == QLatin1String("check"))
        run = RunCheck;
    else if (command == QLatin1String("export"))
        run = RunExport;
    else if (command == QLatin1String("search"))
        run = RunSearch;
    else if (command == QLatin1String("ocr"))
        run = RunOcr;
    if (!run) {
        PrintError(QStringLiteral("unknown command '%1' (see --help)").arg(command));
        return kExitUsage;
    }
    if (WantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    return CommandDone(run(args));
}
