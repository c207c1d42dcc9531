// The studio's main window: one image view (a vector view) with an I/O and a
// processing component attached, framed by rulers, a side panel with the histogram
// and a colour picker, menus for every processing operation and for the vector
// objects, and a status bar.
#pragma once

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <string>

#include "studio_panels_ui.h"
#include "vexa/mview/vexamio.h"
#include "vexa/mview/vexamview_ui.h"
#include "vexa/proc/vexaproc.h"
#include "vexa/vect/vexavect_ui.h"

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
  vexa::TVexaVect& Vect() { return *FView; }

 private:
  void BuildMenus();
  /// The Vector menu (studio_vector.cpp).
  void BuildVectorMenu();
  void RunOperation(const std::string& name);
  void ShowZoom();
  void ShowSelection();
  void Refresh();
  void BuildFramesMenu();
  void ShowGrid(bool browsing);
  void ShowSelectedFrame();

  vexa::TVexaVect* FView;
  vexa::TVexaIO FIO;
  vexa::TVexaProc FProc;
  StudioRulers* FRulers;
  StudioSidePanel* FPanel;
  QLabel* FZoomLabel;
  QLabel* FPixelLabel;
  QLabel* FSelLabel;
  std::string FFileName;
  vexa::TVexaMView* FGrid;
  vexa::TVexaMIO FMIO;
  QDockWidget* FGridDock;
  bool FBrowsing = false;
};
