// The studio's main window: one image view (a vector view) with an I/O and a
// processing component attached, framed by rulers, a side panel with the image's
// information, histogram and a colour picker, and a status bar with the long-work
// progress bar.
//
// The menus are built by area, one file each:
//   File   studio_file.cpp    open (by content) and save through the preview file
//                             dialogs, recent, folder neighbours, pages
//   Edit   studio_edit.cpp    undo, clipboard, selection
//   Image  studio_image.cpp   the processing catalogue, grouped, with parameter forms;
//                             the processing preview dialog
//   View   studio_edit.cpp    zoom, background, mouse modes
//   Vector studio_vector.cpp  drawing and measuring objects
//   Frames studio_frames.cpp  the frame grid (animations, videos, folders)
// Another area adds its own Build*Menu in its own file and calls it from
// BuildMenus; ViewMenu() is where view-related entries (video, say) go.
//
// Work that may take long (loads, saves, operations) runs on a worker thread on a
// copy of the image (studio_work_ui.h); meanwhile every action is disabled and the
// view takes no input, so nothing touches the image until the result comes back.
#pragma once

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "studio_panels_ui.h"
#include "studio_work_ui.h"
#include "vexa/io/vexaio.h"
#include "vexa/mview/vexamio.h"
#include "vexa/mview/vexamview_ui.h"
#include "vexa/proc/operations.h"
#include "vexa/proc/vexaproc.h"
#include "vexa/vect/vexavect_ui.h"

class QMenu;
class QAction;

/// What the window knows about the image it shows.
struct StudioDocument {
  /// Empty for an image that came from no file (the sample, a scan).
  std::string FileName;
  /// Page (frame, icon entry) shown and how many the file has.
  int Page = 0, Pages = 1;
  /// "pages", "frames" or "icons".
  std::string PageNoun = "pages";
  int64_t FileSize = 0;
  bool Modified = false;
  /// Nothing open: the command-line file could not be read, or the file was closed.
  bool Empty = false;
};

class StudioWindow : public QMainWindow {
 public:
  StudioWindow();
  ~StudioWindow() override;

  // --- files (studio_file.cpp)
  /// Asks to save unsaved changes, then reads the file on a worker thread; a file
  /// that cannot be read leaves the window as it was and says why in a message box.
  void Open(const std::string& name);
  /// Opens without asking or showing a message: false with the reason in `error`.
  bool OpenFile(const std::string& name, std::string& error, int page = 0);
  /// The command-line files: opens the first, the others are what Next/Previous step through.
  void OpenArguments(const QStringList& files);
  /// Saves to the document's file (Save as when there is none); false when not saved.
  bool Save();
  bool SaveAs();
  /// Saves the view's image under the io's parameters; message box on failure.
  bool SaveTo(const std::string& name, const vexa::TIOParamsVals& params);
  /// Offers to save unsaved changes: false when the user cancels or the save fails.
  bool MayDiscard();
  /// Shows an image that comes from no file (a video frame, say) as a new, unsaved
  /// document, after asking to save unsaved changes; false when the user kept the
  /// current image or work is running.
  bool AdoptImage(vexa::TBitmap&& bitmap);
  void ShowPage(int page);
  /// The next (+1) or previous (-1) file of the folder or argument list.
  void StepFile(int step);
  const StudioDocument& Document() const { return FDoc; }
  QStringList RecentFiles() const;

  // --- operations (studio_image.cpp)
  /// Runs a catalogue operation with the given words on a worker thread; false when refused.
  bool RunOperation(const vexa::TVXOperation& op, const std::vector<std::string>& args);
  /// The parameter form of an operation, then RunOperation.
  void AskAndRun(const vexa::TVXOperation& op);
  /// The processing preview dialog (every page) on the image or the selection.
  void AdjustWithPreview();
  /// The Image menu (for tests and screenshots).
  QMenu* ImageMenu() const { return FImageMenu; }
  QMenu* ViewMenu() const { return FViewMenu; }

  vexa::TVexaView& View() { return *FView; }
  vexa::TVexaVect& Vect() { return *FView; }
  vexa::TVexaProc& Proc() { return FProc; }
  /// The frame grid beside the view (videos and folders).
  vexa::TVexaMView& Grid() { return *FGrid; }
  /// Shows every image of a folder as thumbnails; selecting one opens it.
  void BrowseFolder(const std::string& dir);
  StudioWork& Work() { return *FWork; }
  /// Writes the window's state for end-to-end tests (studio_report.cpp) to `file` whenever it changes.
  void ReportStateTo(const std::string& file);
  /// The state as "key=value" lines.
  std::string StateReport() const;

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void BuildMenus();
  void BuildFileMenu();
  void BuildEditMenu();
  void BuildImageMenu();
  void BuildViewMenu();
  void BuildVectorMenu();
  void BuildFramesMenu();
  void UpdateActions();
  void UpdateRecentMenu();
  void AddRecent(const std::string& name);
  void ShowZoom();
  void ShowSelection();
  void Refresh();
  void UpdateTitle();
  void SetModified(bool on);
  /// Puts a freshly read or made image in the view: fitted, default background, no undo.
  void ShowNewImage(vexa::TBitmap&& bitmap);
  void LoadAsync(const std::string& name, int page);
  /// The window with no image: after Close, or when the command-line file cannot be read.
  void ShowEmpty();
  void ShowGrid(bool browsing);
  /// Reads a video into the frame grid and shows its first frame.
  bool OpenVideo(const std::string& name);
  void ShowSelectedFrame();
  void SetBusy(bool busy);
  /// The image as a worker gets it: a copy with the selection and background.
  std::unique_ptr<StudioSnapshot> Snapshot();
  void FindOperation();
  void ShowHistogram();

  vexa::TVexaVect* FView;
  vexa::TVexaIO FIO;
  vexa::TVexaProc FProc;
  StudioRulers* FRulers;
  StudioSidePanel* FPanel;
  QLabel* FZoomLabel;
  QLabel* FPixelLabel;
  QLabel* FSelLabel;
  QLabel* FPageLabel;
  StudioWork* FWork;
  StudioDocument FDoc;
  /// Modified state before the change Undo takes back.
  bool FModifiedBeforeUndo = false;
  /// Files given on the command line: Next/Previous step through them instead of the folder.
  QStringList FArgumentFiles;
  vexa::TVexaMView* FGrid;
  vexa::TVexaMIO FMIO;
  QDockWidget* FGridDock;
  bool FBrowsing = false;
  bool FFitOnShow = false;

  QMenu* FImageMenu = nullptr;
  QMenu* FViewMenu = nullptr;
  QMenu* FRecentMenu = nullptr;
  QAction* FUndoAction = nullptr;
  QAction* FSaveAction = nullptr;
  QAction* FNextPage = nullptr;
  QAction* FPrevPage = nullptr;
  /// Actions enabled before the window went busy, to enable again after.
  std::vector<QAction*> FDisabledWhileBusy;
  std::string FReportFile;
  std::string FLastReport;
  /// Checksum of the view's pixels, recomputed when the image changes.
  uint64_t FImageHash = 0;
};
