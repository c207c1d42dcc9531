#include <QHBoxLayout>
#include <algorithm>

#include "studio_work_ui.h"

using namespace vexa;

void StudioSnapshot::VXGetSelBounds(int& x1, int& y1, int& x2, int& y2) const {
  x1 = X1, y1 = Y1, x2 = X2, y2 = Y2;
}

const TPoint* StudioSnapshot::VXGetPolySel(int& count) const {
  count = static_cast<int>(Poly.size());
  return Poly.empty() ? nullptr : Poly.data();
}

void StudioSnapshot::VXSelectBitmap(int x1, int y1, int x2, int y2, TVXSelOp) {
  X1 = std::min(x1, x2), Y1 = std::min(y1, y2), X2 = std::max(x1, x2), Y2 = std::max(y1, y2);
  Poly.clear();
}

StudioWork::StudioWork(QWidget* parent) : QWidget(parent) {
  FLabel = new QLabel(this);
  FBar = new QProgressBar(this);
  FBar->setRange(0, 100);
  FBar->setFixedWidth(160);
  FCancel = new QPushButton("Cancel", this);
  FCancel->setObjectName("studio-cancel");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(FLabel);
  row->addWidget(FBar);
  row->addWidget(FCancel);
  connect(FCancel, &QPushButton::clicked, this, [this] { Cancel(); });
  FTimer.setInterval(50);
  connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
  hide();
}

StudioWork::~StudioWork() {
  FTimer.stop();
  if (FCurrent) FAbandoned.push_back(std::move(FCurrent));
  for (auto& j : FAbandoned) {
    j->Progress.FCancel = true;
    if (j->Thread.joinable()) j->Thread.join();
  }
}

void StudioWork::Start(const QString& what, std::function<void(StudioProgress&)> job, std::function<void()> done,
                       std::function<void()> cancelled) {
  FCurrent = std::make_unique<Job>();
  FCurrent->Done = std::move(done);
  FCurrent->Cancelled = std::move(cancelled);
  StudioProgress* progress = &FCurrent->Progress;
  FCurrent->Thread = std::thread([job = std::move(job), progress] {
    job(*progress);
    progress->FDone.store(true, std::memory_order_release);
  });
  FLabel->setText(what);
  FBar->setValue(0);
  show();
  if (OnBusy) OnBusy(true);
  FTimer.start();
}

void StudioWork::Poll() {
  // Abandoned jobs are joined as soon as they end.
  for (auto it = FAbandoned.begin(); it != FAbandoned.end();) {
    if ((*it)->Progress.FDone.load(std::memory_order_acquire)) {
      (*it)->Thread.join();
      it = FAbandoned.erase(it);
    } else {
      ++it;
    }
  }
  if (!FCurrent) {
    if (FAbandoned.empty()) FTimer.stop();
    return;
  }
  FBar->setValue(std::clamp(FCurrent->Progress.FPercent.load(std::memory_order_relaxed), 0, 100));
  if (FCurrent->Progress.FDone.load(std::memory_order_acquire)) Finish();
}

void StudioWork::Finish() {
  std::unique_ptr<Job> job = std::move(FCurrent);
  job->Thread.join();
  hide();
  if (OnBusy) OnBusy(false);
  if (job->Done) job->Done();
}

void StudioWork::Cancel() {
  if (!FCurrent) return;
  std::unique_ptr<Job> job = std::move(FCurrent);
  job->Progress.FCancel.store(true, std::memory_order_relaxed);
  std::function<void()> cancelled = std::move(job->Cancelled);
  FAbandoned.push_back(std::move(job));
  hide();
  if (OnBusy) OnBusy(false);
  if (cancelled) cancelled();
}
