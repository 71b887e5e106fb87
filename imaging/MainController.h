// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the main window shows and does, without a widget: the archive root
// and its current category (the session), the four slots of the grid with
// the memos as they were read, the shared-write lock and the sharing switch,
// and every page and category command. Commands take plain values (what the
// user chose, the memo texts typed) and return plain results; the window
// observes `changed` and draws, and says what a result says.

#include "core/ArchiveSession.h"
#include "core/Categories.h"
#include "core/Memo.h"
#include "core/Settings.h"
#include "imaging/AutoProcess.h"
#include "imaging/ImageHandle.h"
#include "imaging/PdfIntake.h"
#include "text/pdf/PdfExport.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

// "分類のフォルダの中にはPDFファイルを保存できません": a PDF is never written
// among a category's own files.
extern const QString kPdfInsideCategoryMessage;

class MainController : public QObject {
    Q_OBJECT
public:
    // archiveRoot: the folder that holds the program; every sub-folder is a
    // category, and NetLock.CTL lives there. `settings` are read at each
    // command that encodes a page.
    MainController(const QString& archiveRoot, const Settings& settings, QObject* parent = nullptr);

    const QString ArchiveRoot;
    ArchiveSession Session;
    // The write probe run at each category selection.
    std::function<bool(const QString&)> ProbeWritable;

    // What `changed` asks the window to draw again.
    enum class What {
        Pages,      // the grid: pictures, memos, page numbers (and all below)
        Selection,  // the clicked page and the marks
        State,      // the lock, and which commands write
    };

    // A slot of the grid as it is to be drawn.
    struct SlotView {
        bool shown = false;  // a page is there
        int page = -1;       // its index
        // The entry names plain files (IsSafePageEntry): only then is a
        // picture or a memo read through it, and its memo editable.
        bool namesFiles = false;
        QString thumbPath;  // its thumbnail file, when it names files
        QString imagePath;  // and its page image (as listed, not looked up)
        QString memo;       // the memo as read
        // The memo may be edited: the entry names files and the memo was
        // read whole (a memo past kMemoReadLimit is shown cut, read-only).
        bool memoEditable = false;
        QString note;  // said beside the memo (kMemoCutMessage), if anything
    };
    const SlotView& Slot(int s) const { return slots_[s]; }
    bool HasCategory() const { return Session.HasCategory(); }
    bool HasClickedPage() const;
    bool WritingAllowed() const { return Session.WritingAllowed(); }
    // Who writes, when another workstation holds the lock ("書込中: …"),
    // else empty.
    QString LockHolderNote() const;

    // Reads the slots' thumbnails' names and memos again for the grid as it
    // is now (after the grid state was set from outside).
    void LoadSlots();

    // ---- categories ----
    QStringList Categories() const;
    // Makes the category `name` current (empty: none); its folder probed
    // for writing.
    void SelectCategory(const QString& name);
    // FileList.txt's size or time differ from what was read last (cheap).
    bool ListChangedOnDisk() const;
    // Reads the current list again when it changed on disk (or always,
    // with `force`). True when it turned unwritable by that.
    bool Reload(bool force);
    bool CreateCategory(const QString& name, IoError* error);
    bool RenameCategory(const QString& name, IoError* error);
    // False: pages are left in it, nothing deleted.
    bool DeleteCategory();

    // ---- the grid ----
    void PageTo(int32_t first);
    void Click(int slot);
    // Shows the page of `entry` (looked for at `indexHint` first, as a
    // search found it, else its first line) in the grid as the clicked page.
    // Its index, or -1 when the current list no longer has it.
    int ShowEntry(const QString& entry, int indexHint);
    void Mark(int slot, bool on);

    // Writes the memos typed into the shown slots that differ from what was
    // read, when writing is allowed. A failure names what could not be
    // written; when the lock went to another workstation nothing is written
    // and the window turns read-only.
    struct MemoSaving {
        bool ok = true;
        QString message;
        QString detail;
    };
    MemoSaving SaveMemos(const std::array<QString, 4>& typed);

    // ---- the shared-write lock and sharing ----
    LockTaking TakeLock(const std::function<bool()>& forceWhenTaken);
    void GiveBackLock();
    void SetSharing(bool share);

    // ---- page commands (on the clicked page) ----
    // The clicked page's picture in full colour; null when it cannot be read.
    ImageHandle LoadClickedPage() const;
    PageResult DeleteClicked();
    PageResult MoveClickedBefore();
    PageResult MoveClickedAfter();
    PageResult MoveClickedTo(const QString& categoryName);
    // A new encoding of the clicked page in the current format with its own
    // thumbnail, an empty memo and its recognised text, filed as the last
    // page. An unreadable page: failure with "画像ファイルを読み込めません".
    PageResult CopyClicked();
    // Files a processed picture as the last page (with its text, when it
    // comes with one).
    PageResult AddPage(const PageImages& made, const PageText* words = nullptr);
    // Files the pages of a PDF file as the last pages, each processed
    // automatically (see StorePdfPages).
    PdfIntakeResult AddPdfPages(const QString& pdfPath, const PdfIntakeProgress& progress = {});
    // The pages that go into a PDF: the checked ones, or every page when none
    // is checked, in display order.
    std::vector<int> PagesForPdf() const;
    // Writes PagesForPdf as the PDF file `outPath`; never into the category
    // itself (not ok, with kPdfInsideCategoryMessage).
    PdfExportResult SavePagesAsPdf(const QString& outPath) const;
    // Stores an edited picture under the clicked page's own files (the list
    // names them; a picture under another extension would never be shown);
    // the grid then shows the last four pages with the last one clicked.
    PageResult ReplaceClicked(const PageImages& edited);

    // The category names travel to the destination dialog through a file of
    // the category ("TempList.txt"), as the archive has always done it. The
    // path written, empty when it could not be; dropped once read.
    QString WriteDestinationList(const QStringList& names) const;
    static void DropDestinationList(const QString& path);

signals:
    void changed(MainController::What what);

private:
    void Changed(What what);
    PageResult Done(const PageResult& result);

    const Settings& settings_;
    std::array<SlotView, 4> slots_{};
    // What each slot's memo held when it was read: unedited memos are not
    // written again, and edited ones replace the file.
    std::array<std::optional<MemoText>, 4> loadedMemos_;
};
