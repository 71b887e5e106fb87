// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: category list, the four-page grid, the command buttons.
// Handlers gather what the user did and call the window's controller
// (MainController: the category, the session, the lock, the memos as read,
// every command); the window draws what the controller's `changed` names.
// Every question to the user goes through the Prompt.

#include "core/ArchiveSession.h"
#include "core/Grid.h"
#include "core/PageList.h"
#include "imaging/AutoProcess.h"
#include "imaging/GridPicture.h"
#include "imaging/ImageHandle.h"
#include "imaging/MainController.h"

#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class Prompt;
class QPrinter;
class QtScanner;
class TViewerForm;
class TSearchForm;
class PageRecognition;
struct SearchHit;
class Scanner;
class QCheckBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;
class TImage;
class TPanel;

namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // archiveRoot: the folder that holds the program (every sub-folder is a
    // category; NetLock.CTL and the Susie plug-ins are looked for there too).
    TForm1(Prompt& prompt, const QString& archiveRoot, QWidget* parent = nullptr);
    ~TForm1() override;

    struct Slot {
        TPanel* panel;
        QCheckBox* check;
        QLabel* label;
        TImage* image;
        QPlainTextEdit* memo;
    };

    // What the window shows and does, without its widgets.
    MainController Desk;
    QString ProgramFolder;
    const QString& ArchiveRoot = Desk.ArchiveRoot;
    // The current category and every page operation on it.
    ArchiveSession& Session = Desk.Session;
    QString& CurrentFolder = Session.CurrentFolder;  // empty until one is selected
    PageList& Pages = Session.Pages;
    GridState& Grid = Session.Grid;
    bool& FolderReadOnly = Session.FolderReadOnly;
    bool& ArchiveShared = Session.ArchiveShared;
    bool& LockHeld = Session.LockHeld;
    // The write probe run at each category selection.
    std::function<bool(const QString&)>& ProbeWritable = Desk.ProbeWritable;
    // The reader tried when the image layer cannot read an imported file
    // (the Susie plug-ins); none: such files are unreadable.
    std::function<ImageHandle(const QString&)> PluginLoad;
    // The scanner the three scan commands use: the image library's windows
    // over SANE, unless a test puts its own in.
    Scanner* ScanSeam = nullptr;
    // How the viewer reads a page image (the image layer; tests may put in
    // their own).
    std::function<ImageHandle(const QString&)> ViewerLoad;

    const Slot& SlotAt(int s) const { return slots_[s]; }
    QMenu* PopupMenu() const { return popupMenu_; }
    TViewerForm& Viewer() const { return *viewer_; }
    // The printer of the print command, made at the first print; its choice
    // of printer and paper stays from one print to the next.
    QPrinter& Printer();
    Prompt& GetPrompt() const { return prompt_; }

    // Start-up and shutdown steps.
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    void FormMouseWheelDown();
    void FormMouseWheelUp();

    // Category list.
    void ListCategories();

    // The page grid: the slots read again for the grid state, and drawn.
    void DrawGrid();
    void UpdateStatus();
    // Writes the memos of the pages on screen, when writing is allowed.
    // Throws ReportedFailure when a memo cannot be written: the handler
    // boundary shows it in the standard error box and the command that asked
    // stops there.
    void SaveVisibleMemos();
    bool WritingAllowed() const;

    // Command states: enables or disables every writing command and makes
    // the memos read-only or editable.
    void SetCommandStates(bool readOnly);
    // Opens the clicked page in the editor and stores the edited picture
    // under the page's own file.
    void ReEditPage();
    // The clicked page full screen in the viewer, with page turning on a
    // copy of the clicked index.
    // `outlines`: boxes on the clicked page (in its pixels) drawn round
    // what a search found, on that page only.
    void ShowPageInViewer(const std::vector<QRect>& outlines = {});

    // Applies the sharing choice of the options dialog.
    void ApplySharingChoice(bool share);
    void ShowLockIndicator();
    // Reads the current category's list again when it changed on disk (or
    // always, with `force`) and draws it.
    void ReloadCategory(bool force);
    // Makes the given row the selection (none when out of range) and runs
    // the category selection, as a click would.
    void SelectCategoryRow(int row);
    // The background recognition of the pages without text.
    PageRecognition& Recognition() const { return *recognition_; }
    // The search window, once opened (null before).
    TSearchForm* SearchWindow() const { return search_.get(); }
    // A search hit as the clicked page of its category; with `fullScreen`
    // the page in the viewer too, the hit's words outlined.
    void ShowSearchHit(const SearchHit& hit, bool fullScreen);
    // Files given to the program ("Open with", a second start): the window
    // comes to the front, asks for the category (the current one chosen at
    // first) and files each as new pages, as file import does. While a
    // dialog is open the files wait until it closes.
    void OpenFiles(const QStringList& files);

signals:
    // The processing window of an automatic intake is on screen and painted;
    // the work starts right after.
    void ProcessingWindowShown(QWidget* window);

public slots:
    void MenuSelect1Click();  // version window
    void MenuSelect2Click();  // options dialog
    void MenuSelect3Click();  // help
    void MenuSelect4Click();  // quit
    void SpeedButton4Click();  // shared-write lock
    void ListBoxClick();
    void SpeedButton11Click();  // create category
    void SpeedButton12Click();  // rename category
    void SpeedButton13Click();  // delete category
    void Menu01Click();  // show full screen
    void Menu02Click();  // print
    void Menu03Click();  // delete page
    void Menu04Click();  // page forward
    void Menu05Click();  // page back
    void Menu06Click();  // scanner selection
    void Menu07Click();  // scan
    void Menu08Click();  // file import
    void Menu09Click();  // move to category
    void Menu10Click();  // manual/automatic switch
    void SpeedButton1Click();  // duplicate page
    void SpeedButton2Click();  // one-shot scan
    void SpeedButton3Click();  // re-edit page
    void SpeedButton18Click();  // back four
    void SpeedButton19Click();  // back one
    void SpeedButton20Click();  // forward one
    void SpeedButton21Click();  // forward four
    void SpeedButton22Click();  // search window
    void SpeedButton23Click();  // save as PDF
    void Image0Click();
    void Image0MouseDown(Qt::MouseButton button, QPoint globalPos);
    void Image0DblClick();
    void CheckBox0Click();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The start of every adding command: the memos saved, then the page
    // limit. False: the command ends here (the user has been told).
    bool BeginAddingPage();
    // Brings an acquired image to 24 bits, processes it (automatically with
    // the processing window, or in the editor) and files it as a new page.
    void AddAcquiredPage(ImageHandle image);
    // Files the pages of a PDF file, each processed automatically.
    void AddPdfFile(const QString& path);
    // Files one image or PDF file as new pages, or says it cannot be read.
    void ImportFile(const QString& path);
    // Takes the files handed over, once no dialog is open.
    void TakeOpenedFiles();
    void ImportOpenedFiles(const QStringList& files);
    // Tells the user why a page operation failed (nothing when it did not).
    void ShowPageResult(const PageResult& result);
    bool HasClickedPage() const { return Desk.HasClickedPage(); }
    // The clicked page's image in full colour; null after telling the user
    // it cannot be read.
    ImageHandle LoadClickedPage();
    void ShowModeSwitch();
    int SlotOfSender(QObject* sender) const;
    void ClickSlot(int s);
    bool HasCategory() const { return Desk.HasCategory(); }
    // Draws what the controller says changed.
    void DeskChanged(MainController::What what);
    void DrawSlots();
    void PaintSelection();
    void SelectNamedCategory(const QString& name);

    Prompt& prompt_;
    std::unique_ptr<QtScanner> qtScanner_;
    std::unique_ptr<Ui::TForm1> ui_;
    std::unique_ptr<TViewerForm> viewer_;
    std::unique_ptr<TSearchForm> search_;
    std::unique_ptr<PageRecognition> recognition_;
    std::unique_ptr<GridPictures> gridPictures_ = std::make_unique<GridPictures>();
    std::unique_ptr<QPrinter> printer_;
    std::array<Slot, 4> slots_{};
    QMenu* popupMenu_ = nullptr;
    bool shown_ = false;
    QStringList openedFiles_;
    QTimer* openedFilesWait_ = nullptr;
    bool suppressListClick_ = false;
    // The state SetCommandStates last set: a memo is editable only when it
    // and its slot's entry allow.
    bool commandsReadOnly_ = false;
};
