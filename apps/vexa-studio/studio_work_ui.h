// Long work off the GUI thread: a job runs on a worker thread on its own data
// while the status bar shows its progress and a Cancel button; its result is
// handed back on the GUI thread.
//
// Cancel is immediate for the window: the result of a cancelled job is thrown
// away, whatever the worker still does. Jobs that can stop early (loads and saves,
// through the I/O component's abort flag) read Cancelled() from their progress
// handler; the processing algorithms run to their end on their copy.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/vxview.h"

/// The view's image as a worker gets it: a copy of the bitmap, the selection
/// (polygons included) and the background, so that a processing component attached
/// to it works exactly as on the view.
class StudioSnapshot : public vexa::TVXView, public vexa::TVXSelectionSource {
 public:
  vexa::TBitmap Bitmap;
  std::vector<vexa::TPoint> Poly;
  int X1 = -1, Y1 = -1, X2 = -1, Y2 = -1;
  /// Set when the component refreshed the view, i.e. the pixels changed.
  bool Updated = false;

  vexa::TBitmap* GetFBitmap() override { return &Bitmap; }
  void Update() override { Updated = true; }
  vexa::TVXSelectionSource* Selection() override { return this; }
  bool VXHasSelection() const override { return X1 >= 0; }
  void VXGetSelBounds(int& x1, int& y1, int& x2, int& y2) const override;
  const vexa::TPoint* VXGetPolySel(int& count) const override;
  void VXSelectBitmap(int x1, int y1, int x2, int y2, vexa::TVXSelOp op) override;
  void VXDeSelect() override { X1 = Y1 = X2 = Y2 = -1, Poly.clear(); }
};

/// What a job sees of its progress and of the Cancel button.
class StudioProgress {
 public:
  void Report(int percent) { FPercent.store(percent, std::memory_order_relaxed); }
  bool Cancelled() const { return FCancel.load(std::memory_order_relaxed); }

 private:
  friend class StudioWork;
  std::atomic<int> FPercent{0};
  std::atomic<bool> FCancel{false};
  std::atomic<bool> FDone{false};
};

/// The status-bar part: a label, a progress bar and Cancel; hidden while idle.
class StudioWork : public QWidget {
 public:
  explicit StudioWork(QWidget* parent);
  ~StudioWork() override;

  /// Runs job(progress) on a worker thread. When it ends, done() runs on the GUI
  /// thread, unless Cancel came first; then cancelled() runs at once instead.
  /// `busy` is told true at the start and false when the window may be used again.
  void Start(const QString& what, std::function<void(StudioProgress&)> job, std::function<void()> done,
             std::function<void()> cancelled = {});
  bool Busy() const { return FCurrent != nullptr; }
  void Cancel();
  QPushButton* CancelButton() const { return FCancel; }
  int Percent() const { return FBar->value(); }
  std::function<void(bool busy)> OnBusy;

 private:
  struct Job {
    StudioProgress Progress;
    std::thread Thread;
    std::function<void()> Done, Cancelled;
  };
  void Poll();
  void Finish();

  QLabel* FLabel;
  QProgressBar* FBar;
  QPushButton* FCancel;
  QTimer FTimer;
  std::unique_ptr<Job> FCurrent;
  /// Cancelled jobs still running; joined when they end, or on destruction.
  std::vector<std::unique_ptr<Job>> FAbandoned;
};
