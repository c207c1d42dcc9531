// The studio's main window: one image view with an I/O and a processing
// component attached, menus for every processing operation, and a status bar.
#pragma once

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <string>

#include "vexa/io/vexaio.h"
#include "vexa/mview/vexamio.h"
#include "vexa/mview/vexamview_ui.h"
#include "vexa/proc/vexaproc.h"
#include "vexa/view/vexaview_ui.h"

class StudioWindow : public QMainWindow {
 public:
  StudioWindow();
  /// Loads a file into the view; false (with the reason in `error`) when it cannot be read.
  bool OpenFile(const std::string& name, std::string& error);
  vexa::TVexaView& View() { return *FView; }
  /// The frame grid beside the view (shown for multi-frame files and folders).
  vexa::TVexaMView& Grid() { return *FGrid; }
  /// Shows every image of a folder as thumbnails; selecting one opens it.
  void BrowseFolder(const std::string& dir);

 private:
  void BuildMenus();
  void RunOperation(const std::string& name);
  void ShowZoom();
  void ShowSelection();
  void Refresh();
  void BuildFramesMenu();
  void ShowGrid(bool browsing);
  void ShowSelectedFrame();

  vexa::TVexaView* FView;
  vexa::TVexaIO FIO;
  vexa::TVexaProc FProc;
  QLabel* FZoomLabel;
  QLabel* FPixelLabel;
  QLabel* FSelLabel;
  std::string FFileName;
  vexa::TVexaMView* FGrid;
  vexa::TVexaMIO FMIO;
  QDockWidget* FGridDock;
  bool FBrowsing = false;
};
