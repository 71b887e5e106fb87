// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/MainController.h"

#include <QFileInfo>

#include "core/CommandState.h"
#include "core/NetLock.h"
#include "imaging/ImgKit.h"
#include "imaging/PageIntake.h"

#include <QDir>
#include <QFile>

namespace {

QString TrimmedRoot(const QString& archiveRoot)
{
    QString root = QDir::fromNativeSeparators(archiveRoot);
    while (root.size() > 1 && root.endsWith(u'/'))
        root.chop(1);
    return root;
}

PageResult Failed(const QString& message)
{
    PageResult r;
    r.message = message;
    return r;
}

}  // namespace

MainController::MainController(const QString& archiveRoot, const Settings& settings, QObject* parent)
    : QObject(parent), ArchiveRoot(TrimmedRoot(archiveRoot)), ProbeWritable(ProbeFolderWritable),
      settings_(settings)
{
    Session.ArchiveRoot = ArchiveRoot;
    Session.Pages.lines = QStringList{QStringLiteral("00000000")};
    Session.ArchiveShared = IsArchiveShared(ArchiveRoot);
}

bool MainController::HasClickedPage() const
{
    const GridState& g = Session.Grid;
    return HasCategory() && g.K >= 0 && g.K < g.P;
}

QString MainController::LockHolderNote() const
{
    if (!Session.ArchiveShared || Session.LockHeld || ReadLockState(ArchiveRoot) != LockState::Taken)
        return {};
    return QStringLiteral("書込中: ") + LockHolderText(ArchiveRoot);
}

void MainController::Changed(What what)
{
    if (what == What::Pages)
        LoadSlots();
    emit changed(what);
}

PageResult MainController::Done(const PageResult& result)
{
    // Success or not, the session has read the list again: it is shown as
    // it is on disk now.
    Changed(What::Pages);
    return result;
}

void MainController::LoadSlots()
{
    const GridState& g = Session.Grid;
    for (int s = 0; s < kGridSlots; ++s) {
        SlotView& v = slots_[s];
        v = SlotView{};
        loadedMemos_[s].reset();
        const int d = g.T + s;
        if (!HasCategory() || d >= g.P)
            continue;
        v.shown = true;
        v.page = d;
        v.namesFiles = PageNamesFiles(Session.CurrentFolder, Session.Pages, d);
        if (!v.namesFiles)
            continue;
        v.thumbPath = ResolveExistingPath(ThumbPath(Session.CurrentFolder, Session.Pages, d));
        v.imagePath = ImagePath(Session.CurrentFolder, Session.Pages, d);  // looked up only when wanted
        loadedMemos_[s] = ReadMemo(MemoPath(Session.CurrentFolder, Session.Pages, d));
        v.memoEditable = true;
        if (loadedMemos_[s]) {
            v.memo = loadedMemos_[s]->text;
            if (loadedMemos_[s]->cut) {
                v.memoEditable = false;
                v.note = kMemoCutMessage;
            }
        }
    }
}

// ---- categories ----

QStringList MainController::Categories() const
{
    return ListCategoryNames(ArchiveRoot);
}

void MainController::SelectCategory(const QString& name)
{
    if (name.isEmpty()) {
        Session.Grid.K = -1;
        Changed(What::Selection);
        return;
    }
    const QString folder = QDir(ArchiveRoot).filePath(name);
    Session.FolderReadOnly = !ProbeWritable(folder);
    Session.SelectCategory(folder);
    Changed(What::Pages);
}

bool MainController::ListChangedOnDisk() const
{
    return HasCategory() && PageListStamp(Session.CurrentFolder) != Session.Stamp;
}

bool MainController::Reload(bool force)
{
    if (!HasCategory() || (!force && !ListChangedOnDisk()))
        return false;
    const bool wasReadOnly = Session.ListReadOnly;
    Session.Reload(force);
    Changed(What::Pages);
    return Session.ListReadOnly && !wasReadOnly;
}

bool MainController::CreateCategory(const QString& name, IoError* error)
{
    return CreateCategoryFolder(ArchiveRoot, name, error);
}

bool MainController::RenameCategory(const QString& name, IoError* error)
{
    if (!HasCategory())
        return false;
    if (!RenameCategoryFolder(Session.CurrentFolder, ArchiveRoot, name, error))
        return false;
    Session.CurrentFolder = QDir(ArchiveRoot).filePath(name);
    return true;
}

bool MainController::DeleteCategory()
{
    // A category that leads out of the archive is never emptied.
    if (!HasCategory() || Session.FolderOutside
        || DeleteCategoryFolder(Session.CurrentFolder) != DeleteCategoryResult::Deleted)
        return false;
    // The deleted category's pages are gone with it.
    Session.CurrentFolder.clear();
    Session.Pages = PageList{};
    Session.Grid = GridState{};
    Changed(What::Pages);
    return true;
}

// ---- the grid ----

void MainController::PageTo(int32_t first)
{
    if (first == Session.Grid.T)
        return;
    Session.Grid.T = first;
    Changed(What::Pages);
}

void MainController::Click(int slot)
{
    if (slot >= 0)
        Session.Grid.K = Session.Grid.T + slot;
    Changed(What::Selection);
}

int MainController::ShowEntry(const QString& entry, int indexHint)
{
    const PageList& pages = Session.Pages;
    const int index = PageEntry(pages, indexHint) == entry ? indexHint : IndexOfEntry(pages, entry);
    if (index < 0)
        return -1;
    GridState& g = Session.Grid;
    // The group of four it pages to, kept full at the end of the list.
    g.T = std::min(index - index % kGridSlots, LastFourStart(g.P));
    g.K = index;
    Changed(What::Pages);
    return index;
}

void MainController::Mark(int slot, bool on)
{
    if (slot < 0)
        return;
    Session.Grid.SetMark(Session.Grid.T + slot, on);
    Changed(What::Selection);
}

MainController::MemoSaving MainController::SaveMemos(const std::array<QString, 4>& typed)
{
    MemoSaving saving;
    if (!HasCategory() || !WritingAllowed())
        return saving;
    const GridState& g = Session.Grid;
    for (int s = 0; s < kGridSlots && g.T + s < g.P; ++s) {
        const std::optional<MemoText>& loaded = loadedMemos_[s];
        // An unedited memo is already on disk as it was read.
        if (loaded ? loaded->text == typed[s] : typed[s].isEmpty())
            continue;
        const QString memoPath = MemoPath(Session.CurrentFolder, Session.Pages, g.T + s);
        if (memoPath.isEmpty() || !slots_[s].memoEditable)
            continue;  // an entry that names no file, a memo shown cut: read-only
        if (!Session.StillHoldsLock()) {
            // Taken over elsewhere: nothing more is written from here.
            Changed(What::State);
            saving.ok = false;
            saving.message = kLockLostMessage;
            saving.detail = QStringLiteral("NetLock.CTL: ") + LockHolderText(ArchiveRoot);
            return saving;
        }
        const QString path = ResolvePathForWrite(memoPath);
        IoError error;
        if (!WriteMemo(path, typed[s], loaded ? &*loaded : nullptr, &error)) {
            saving.ok = false;
            saving.message = QStringLiteral("Cannot create file \"%1\".").arg(QDir::toNativeSeparators(path));
            saving.detail = error.reason;
            return saving;
        }
        loadedMemos_[s] = MemoText{EncodeMemo(typed[s]), NormalizeLineBreaks(typed[s])};
        slots_[s].memo = loadedMemos_[s]->text;
    }
    return saving;
}

// ---- the shared-write lock and sharing ----

LockTaking MainController::TakeLock(const std::function<bool()>& forceWhenTaken)
{
    const LockTaking taking = Session.TakeWriteLock(forceWhenTaken);
    // Taking the lock read the list again: what others wrote is shown.
    Changed(taking == LockTaking::Taken || taking == LockTaking::TakenOver ? What::Pages : What::State);
    return taking;
}

void MainController::GiveBackLock()
{
    if (!Session.LockHeld)
        return;
    Session.GiveBackWriteLock();
    Changed(What::State);
}

void MainController::SetSharing(bool share)
{
    if (share == Session.ArchiveShared)
        return;
    Session.ArchiveShared = share;
    if (share) {
        EnableSharing(ArchiveRoot);
    } else {
        DisableSharing(ArchiveRoot);
        // The hold ends with the sharing (giving it back would find no file
        // and write none).
        Session.LockHeld = false;
        Session.LockToken.reset();
    }
    Changed(What::State);
}

// ---- page commands ----

ImageHandle MainController::LoadClickedPage() const
{
    if (!HasClickedPage())
        return {};
    ImageHandle image =
        ImgKitFileLoad(ResolveExistingPath(ImagePath(Session.CurrentFolder, Session.Pages, Session.Grid.K)));
    if (!ImgKitMakeFullColour(image))
        return {};
    return image;
}

PageResult MainController::DeleteClicked()
{
    return Done(Session.DeletePage(Session.Grid.K));
}

PageResult MainController::MoveClickedBefore()
{
    return Done(Session.MovePageBefore(Session.Grid.K));
}

PageResult MainController::MoveClickedAfter()
{
    return Done(Session.MovePageAfter(Session.Grid.K));
}

PageResult MainController::MoveClickedTo(const QString& categoryName)
{
    return Done(Session.MovePageToCategory(Session.Grid.K, ArchiveRoot + u'/' + categoryName));
}

PageResult MainController::CopyClicked()
{
    ImageHandle image = LoadClickedPage();
    if (!image)
        return Failed(QStringLiteral("画像ファイルを読み込めません"));
    PageImages made;
    made.thumbnail = MakeThumbnail(image, settings_);
    made.page = std::move(image);
    // The same picture: its recognised text goes with it.
    const std::optional<PageText> words = ReadPageText(WordsPath(Session.CurrentFolder, Session.Pages, Session.Grid.K));
    return AddPage(made, words ? &*words : nullptr);
}

PageResult MainController::AddPage(const PageImages& made, const PageText* words)
{
    return Done(StoreProcessedPage(Session, made, settings_, words));
}

const QString kPdfInsideCategoryMessage = QStringLiteral("分類のフォルダの中にはPDFファイルを保存できません");

PdfIntakeResult MainController::AddPdfPages(const QString& pdfPath, const PdfIntakeProgress& progress)
{
    PdfIntakeResult result = StorePdfPages(Session, pdfPath, settings_, progress);
    Done(result.outcome);
    return result;
}

std::vector<int> MainController::PagesForPdf() const
{
    const GridState& g = Session.Grid;
    std::vector<int> pages;
    for (int i = 0; i < g.P; ++i)
        if (g.Marked(i))
            pages.push_back(i);
    if (pages.empty())
        for (int i = 0; i < g.P; ++i)
            pages.push_back(i);
    return pages;
}

PdfExportResult MainController::SavePagesAsPdf(const QString& outPath) const
{
    if (ResolvesInside(QFileInfo(outPath).absolutePath(), Session.CurrentFolder)) {
        PdfExportResult refused;
        refused.message = kPdfInsideCategoryMessage;
        return refused;
    }
    return ExportPdf(PdfSourcesOf(Session.CurrentFolder, Session.Pages, PagesForPdf()), outPath);
}

PageResult MainController::ReplaceClicked(const PageImages& edited)
{
    if (!HasClickedPage())
        return Failed(kCannotSaveMessage);
    const QString imagePath = ImagePath(Session.CurrentFolder, Session.Pages, Session.Grid.K);
    QByteArray pageBytes, thumbBytes;
    if (!edited.page || !edited.thumbnail
        || EncodePageImages(edited, JpegQualityFor(settings_.JpegMode), imagePath, QStringLiteral("thumb.jpg"),
                            pageBytes, thumbBytes)
               != PageEncoding::Done)
        return Failed(kCannotSaveMessage);
    const PageResult saved = Session.ReplacePageFiles(Session.Grid.K, pageBytes, thumbBytes);
    if (saved) {
        Session.Grid.K = Session.Grid.P - 1;
        Session.Grid.T = LastFourStart(Session.Grid.P);
    }
    return Done(saved);
}

QString MainController::WriteDestinationList(const QStringList& names) const
{
    if (!HasCategory())
        return {};
    const QString temp = ResolvePathForWrite(Session.CurrentFolder + QStringLiteral("/TempList.txt"));
    if (!WriteFileAtomically(temp, (names.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8()))
        return {};
    return temp;
}

void MainController::DropDestinationList(const QString& path)
{
    QFile::remove(path);
}
