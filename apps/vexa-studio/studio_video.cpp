// The studio's video window (View > Video): pick a capture device, watch it
// live, freeze a frame (then select on it, save it or send it to the editor),
// record an AVI with a red indicator while recording, and open the device's
// settings dialogs.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "studio_window_ui.h"
#include "vexa/acquire/videoview_ui.h"
#include "vexa/io/vexaio.h"

using namespace vexa;

namespace {

class StudioVideo : public QDialog {
 public:
  explicit StudioVideo(StudioWindow& studio) : QDialog(&studio), FStudio(studio) {
    setObjectName("studioVideo");
    setWindowTitle("Video");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    FDevices = new QComboBox(this);
    FDevices->setObjectName("devices");
    top->addWidget(FDevices, 1);
    FLive = AddToggle(top, "&Live", "live");
    FFreeze = AddToggle(top, "&Freeze", "freeze");
    FRecord = AddToggle(top, "&Record", "record");
    FRecording = new QLabel(this);
    FRecording->setObjectName("recording");
    FRecording->setStyleSheet("color: white; background: #d00000; padding: 2px 6px; font-weight: bold;");
    FRecording->hide();
    top->addWidget(FRecording);
    layout->addLayout(top);

    FView = new TVexaVideoView(this);
    FView->setMinimumSize(320, 240);
    FView->SetMouseInteract(VXMI(miSelect));
    layout->addWidget(FView, 1);

    auto* bottom = new QHBoxLayout;
    AddButton(bottom, "Source...", [this] { return FView->DoConfigureSource(); });
    AddButton(bottom, "Format...", [this] { return FView->DoConfigureFormat(); });
    AddButton(bottom, "Display...", [this] { return FView->DoConfigureDisplay(); });
    AddButton(bottom, "Compression...", [this] { return FView->DoConfigureCompression(); });
    bottom->addStretch(1);
    auto* send = new QPushButton("Send to &editor", this);
    send->setObjectName("send");
    connect(send, &QPushButton::clicked, this, [this] { SendToEditor(); });
    bottom->addWidget(send);
    auto* save = new QPushButton("&Save frame...", this);
    connect(save, &QPushButton::clicked, this, [this] { SaveFrame(); });
    bottom->addWidget(save);
    layout->addLayout(bottom);

    for (const std::string& name : FView->VideoSourceList) FDevices->addItem(QString::fromStdString(name));
    if (FView->VideoSourceList.empty()) FDevices->addItem("no video capture device");
    const bool any = !FView->VideoSourceList.empty();
    for (QWidget* w : std::initializer_list<QWidget*>{FDevices, FLive, FFreeze, FRecord}) w->setEnabled(any);
    for (QPushButton* b : FDeviceButtons) b->setEnabled(any);

    connect(FDevices, &QComboBox::currentIndexChanged, this, [this](int i) { Guard([&] { FView->SetVideoSource(i); }); });
    connect(FLive, &QCheckBox::toggled, this, [this](bool on) {
      if (!Guard([&] { FView->SetShowVideo(on); })) FLive->setChecked(false);
      if (!on) FFreeze->setChecked(false);
      FRecord->setEnabled(on);
    });
    connect(FFreeze, &QCheckBox::toggled, this, [this](bool on) { Guard([&] { FView->SetFreeze(on); }); });
    connect(FRecord, &QCheckBox::toggled, this, [this](bool on) { ToggleRecord(on); });
    FRecord->setEnabled(false);
    FTimer = new QTimer(this);
    connect(FTimer, &QTimer::timeout, this, [this] { ShowRecording(); });
    resize(560, 480);
  }

  TVexaVideoView& View() { return *FView; }

 private:
  QCheckBox* AddToggle(QHBoxLayout* row, const char* label, const char* name) {
    auto* box = new QCheckBox(label, this);
    box->setObjectName(name);
    row->addWidget(box);
    return box;
  }

  template <class F>
  void AddButton(QHBoxLayout* row, const char* label, F dialog) {
    auto* b = new QPushButton(label, this);
    connect(b, &QPushButton::clicked, this, [this, dialog] { Guard(dialog); });
    row->addWidget(b);
    FDeviceButtons.push_back(b);
  }

  // Runs a video operation; a capture failure becomes a message box.
  template <class F>
  bool Guard(F&& f) {
    try {
      f();
      return true;
    } catch (const TVideoCapException& e) {
      QMessageBox::warning(this, "Video", e.what());
      return false;
    }
  }

  void ToggleRecord(bool on) {
    if (!on) {
      FView->StopRecord();
      FTimer->stop();
      ShowRecording();
      return;
    }
    const QString name = QFileDialog::getSaveFileName(this, "Record video", "Capture.avi", "AVI files (*.avi)");
    if (name.isEmpty() || !Guard([&] {
          FView->RecordFileName = name.toStdString();
          FView->StartRecord();
        })) {
      QSignalBlocker block(FRecord);
      FRecord->setChecked(false);
      return;
    }
    FTimer->start(250);
    ShowRecording();
  }

  // The red indicator, with the frames written so far.
  void ShowRecording() {
    const bool on = FView->Recording();
    FRecording->setVisible(on);
    FRecording->setText(QString("REC %1").arg(FView->RecordedFrames()));
    if (!on && FRecord->isChecked()) {
      QSignalBlocker block(FRecord);
      FRecord->setChecked(false);
    }
  }

  void SendToEditor() {
    if (FView->Bitmap().Empty()) return;
    TBitmap frame;
    if (FView->SelectionExists())
      FView->AssignSelTo(frame);
    else
      frame = FView->Bitmap();
    FStudio.AdoptImage(std::move(frame));
  }

  void SaveFrame() {
    if (FView->Bitmap().Empty()) return;
    const QString name = QFileDialog::getSaveFileName(this, "Save frame", "frame.png");
    if (name.isEmpty()) return;
    TVexaIO io;
    io.SetAttachedBitmap(&FView->Bitmap());
    io.SaveToFile(name.toStdString());
    if (io.Aborting) QMessageBox::warning(this, "Video", "The frame could not be saved.");
  }

  StudioWindow& FStudio;
  TVexaVideoView* FView;
  QComboBox* FDevices;
  QCheckBox *FLive, *FFreeze, *FRecord;
  QLabel* FRecording;
  QTimer* FTimer;
  std::vector<QPushButton*> FDeviceButtons;
};

}  // namespace

void StudioShowVideo(StudioWindow& studio) {
  QDialog* window = studio.findChild<QDialog*>("studioVideo");
  if (!window) window = new StudioVideo(studio);
  window->show();
  window->raise();
}
