#include "vexa/dialogs/previews_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "vexa/controls/histogrambox_ui.h"
#include "vexa/controls/hsvbox_ui.h"
#include "vexa/controls/rulerbox_ui.h"
#include "vexa/core/raster.h"
#include "vexa/dialogs/dialogwidgets_ui.h"
#include "vexa/legacy/vexa_ui.h"
#include "vexa/proc/resample.h"

namespace vexa {

namespace {

int PageIndex(TPreviewEffectsItems page) {
  for (int i = 0; i < kVXPreviewPageCount; ++i)
    if (kVXPreviewPages[i] == page) return i;
  return -1;
}

const char* const kPresetNames[] = {"None",       "Blur",       "Edges",      "Emboss",     "High Pass 1",
                                    "High Pass 2", "High Pass 3", "Low Pass 1", "Low Pass 2"};

TVexa* MakeView(QWidget* parent) {
  auto* v = new TVexa(parent);
  v->SetAutoUndo(false);
  v->SetBackGround(clBtnFace);
  v->SetCenter(true);
  v->setMinimumSize(260, 200);
  return v;
}

QLabel* Label(QWidget* parent) { return new QLabel(parent); }

}  // namespace

TfPreviews::TfPreviews(QWidget* parent) : QDialog(parent) {
  setObjectName("fPreviews");
  setModal(true);
  auto* root = new QVBoxLayout(this);

  auto* views = new QGridLayout;
  FSourceLabel = Label(this);
  FResultLabel = Label(this);
  FVexa1 = MakeView(this);
  FVexa1->setObjectName("Vexa1");
  FVexa1->SetScrollBars(ssBoth);
  FVexa2 = MakeView(this);
  FVexa2->setObjectName("Vexa2");
  views->addWidget(FSourceLabel, 0, 0);
  views->addWidget(FResultLabel, 0, 1);
  views->addWidget(FVexa1, 1, 0);
  views->addWidget(FVexa2, 1, 1);
  views->setRowStretch(1, 1);
  root->addLayout(views, 1);

  FPages = new QTabWidget(this);
  FPages->setObjectName("pages");
  for (int i = 0; i < kVXPreviewPageCount; ++i) {
    FPageWidgets[static_cast<size_t>(i)] = BuildPage(kVXPreviewPages[i]);
    FPages->addTab(FPageWidgets[static_cast<size_t>(i)], QString());
  }
  root->addWidget(FPages);

  FCopyBack = new QPushButton(QStringLiteral("<<"), this);
  FCopyBack->setObjectName("copyResultToSource");
  const TVXPreviewButtons buttons = VXPreviewButtons(this, FCopyBack);
  FLock = buttons.Lock, FPreview = buttons.Preview, FOk = buttons.Ok, FCancel = buttons.Cancel;
  FProgress = buttons.Progress;
  root->addLayout(buttons.Row);

  connect(FPages, &QTabWidget::currentChanged, this, [this] { PageChanged(); });
  connect(FLock, &QPushButton::toggled, this, [this](bool on) {
    FPreview->setEnabled(!on);
    if (on) RefreshResult();
  });
  connect(FPreview, &QPushButton::clicked, this, [this] { RefreshResult(); });
  connect(FCopyBack, &QPushButton::clicked, this, [this] { CopyResultToSource(); });
  connect(FOk, &QPushButton::clicked, this, [this] { AcceptWithApply(); });
  connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);

  FVexa1->OnViewChange = [this](TObject*, int) {
    if (FPrepared) CopyOrg();
  };
  FVexa2->OnMouseDown = [this](TObject*, TMouseButton button, TShiftState, int x, int y) {
    if (button == mbLeft) PickFromResult(x, y);
  };
  Retranslate();
  resize(sizeHint().expandedTo(QSize(640, 560)));
}

TfPreviews::~TfPreviews() = default;

QWidget* TfPreviews::BuildPage(TPreviewEffectsItems page) {
  auto* w = new QWidget;
  auto* lay = new QVBoxLayout(w);
  auto track = [&](int min, int max, const char* name, int fallback = 0) {
    auto* t = new TVXTrackEdit(QString(), min, max, w, fallback);
    t->setObjectName(name);
    lay->addWidget(t);
    connect(t, &TVXTrackEdit::ValueChanged, this, [this] { Changed(); });
    return t;
  };
  switch (page) {
    case peContrast:
      FContrast = track(-100, 100, "contrast");
      FBrightness = track(-100, 100, "brightness");
      break;
    case peHSV: {
      auto* row = new QHBoxLayout;
      auto* tracks = new QVBoxLayout;
      row->addLayout(tracks, 1);
      lay->addLayout(row);
      FHsvHue = new TVXTrackEdit(QString(), -180, 180, w);
      FHsvSat = new TVXTrackEdit(QString(), -100, 100, w);
      FHsvVal = new TVXTrackEdit(QString(), -100, 100, w);
      FHsvHue->setObjectName("hsvHue");
      FHsvSat->setObjectName("hsvSat");
      FHsvVal->setObjectName("hsvVal");
      for (auto* t : {FHsvHue, FHsvSat, FHsvVal}) {
        tracks->addWidget(t);
        connect(t, &TVXTrackEdit::ValueChanged, this, [this] { Changed(); });
      }
      auto* boxes = new QGridLayout;
      FBaseLabel = Label(w);
      FNewLabel = Label(w);
      FBaseColor = new THSVBox(w);
      FBaseColor->setObjectName("baseColor");
      FNewColor = new THSVBox(w);
      FNewColor->setObjectName("newColor");
      boxes->addWidget(FBaseLabel, 0, 0);
      boxes->addWidget(FNewLabel, 0, 1);
      boxes->addWidget(FBaseColor, 1, 0);
      boxes->addWidget(FNewColor, 1, 1);
      row->addLayout(boxes);
      FBaseColor->OnChange = [this](TObject*) { HsvBoxesChanged(); };
      FNewColor->OnChange = [this](TObject*) { HsvBoxesChanged(); };
      break;
    }
    case peHSL:
      FHslHue = track(-180, 180, "hslHue");
      FHslSat = track(-100, 100, "hslSat");
      FHslLum = track(-100, 100, "hslLum");
      break;
    case peRGB:
      FRed = track(-255, 255, "red");
      FGreen = track(-255, 255, "green");
      FBlue = track(-255, 255, "blue");
      break;
    case peUserFilt: {
      auto* row = new QHBoxLayout;
      lay->addLayout(row);
      auto* grid = new QGridLayout;
      FFilterValuesLabel = Label(w);
      grid->addWidget(FFilterValuesLabel, 0, 0, 1, 3);
      for (int i = 0; i < 9; ++i) {
        auto* e = new QLineEdit(w);
        e->setObjectName(QStringLiteral("kernel%1").arg(i));
        e->setMaximumWidth(56);
        grid->addWidget(e, 1 + i / 3, i % 3);
        FKernel[static_cast<size_t>(i)] = e;
        connect(e, &QLineEdit::textEdited, this, [this] { FilterFromEdits(); });
      }
      FDivisorLabel = Label(w);
      FDivisor = new QLineEdit(w);
      FDivisor->setObjectName("divisor");
      FDivisor->setMaximumWidth(56);
      grid->addWidget(FDivisorLabel, 4, 0, 1, 2);
      grid->addWidget(FDivisor, 4, 2);
      connect(FDivisor, &QLineEdit::textEdited, this, [this] { FilterFromEdits(); });
      row->addLayout(grid);
      auto* side = new QVBoxLayout;
      FPresetsLabel = Label(w);
      FPresets = new QComboBox(w);
      FPresets->setObjectName("presets");
      for (const char* name : kPresetNames) FPresets->addItem(QString::fromUtf8(name));
      FLoadFilter = new QPushButton(w);
      FLoadFilter->setObjectName("loadFilter");
      FSaveFilter = new QPushButton(w);
      FSaveFilter->setObjectName("saveFilter");
      side->addWidget(FPresetsLabel);
      side->addWidget(FPresets);
      side->addWidget(FLoadFilter);
      side->addWidget(FSaveFilter);
      side->addStretch();
      row->addLayout(side, 1);
      connect(FPresets, &QComboBox::activated, this, [this](int i) { SetPreset(i); });
      connect(FLoadFilter, &QPushButton::clicked, this, [this] { LoadFilter(); });
      connect(FSaveFilter, &QPushButton::clicked, this, [this] { SaveFilter(); });
      break;
    }
    case peEqualize: {
      auto* row = new QHBoxLayout;
      lay->addLayout(row);
      auto* left = new QGridLayout;
      FHistogram = new THistogramBox(w);
      FHistogram->setObjectName("histogram");
      FHistogram->SetAttachedVexaProc(&FVexa2->Proc());
      FThresholdLabel = Label(w);
      FEqualizeLabel = Label(w);
      auto makeRuler = [&](const char* name) {
        auto* r = new TRulerBox(w);
        r->setObjectName(name);
        r->SetViewMin(0);
        r->SetViewMax(255);
        r->SetFrequency(16);
        r->SetLabelFreq(32);
        r->SetFitInView(true);
        r->SetGripsCount(2);
        r->setMinimumHeight(40);
        r->OnRulerPosChange = [this, r](TObject*, int grip) { RulerMoved(r, grip); };
        return r;
      };
      FThresholdRuler = makeRuler("thresholdRuler");
      FEqualizeRuler = makeRuler("equalizeRuler");
      FThresholdValues = Label(w);
      FEqualizeValues = Label(w);
      // The rulers share the histogram's column, so that they can sit under its plot.
      left->addWidget(FHistogram, 0, 0);
      FRulerColumn = new QVBoxLayout;
      FRulerColumn->addWidget(FThresholdRuler);
      FRulerColumn->addWidget(FEqualizeRuler);
      left->addLayout(FRulerColumn, 1, 0);
      auto* captions = new QVBoxLayout;
      for (QLabel* l : {FThresholdLabel, FThresholdValues, FEqualizeLabel, FEqualizeValues}) captions->addWidget(l);
      left->addLayout(captions, 1, 1);
      left->setColumnStretch(0, 1);
      FHistogram->installEventFilter(this);
      row->addLayout(left, 1);
      auto* side = new QVBoxLayout;
      FChannels = new QListWidget(w);
      FChannels->setObjectName("channels");
      for (int i = 0; i < 4; ++i) {
        auto* item = new QListWidgetItem(FChannels);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
      }
      FChannels->setMaximumWidth(130);
      FChannels->setMaximumHeight(90);
      FEqualize = new QPushButton(w);
      FEqualize->setObjectName("equalize");
      FEqualize->setCheckable(true);
      side->addWidget(FChannels);
      side->addWidget(FEqualize);
      side->addStretch();
      row->addLayout(side);
      connect(FChannels, &QListWidget::itemChanged, this, [this] { ChannelsChanged(); });
      connect(FEqualize, &QPushButton::toggled, this, [this](bool on) {
        if (FLoading) return;
        FState.AutoEqualize = on;
        Changed();
      });
      break;
    }
    case peBumpMap: {
      auto* row = new QHBoxLayout;
      lay->addLayout(row);
      auto* tracks = new QVBoxLayout;
      row->addLayout(tracks, 1);
      auto t = [&](int min, int max, const char* name) {
        auto* te = new TVXTrackEdit(QString(), min, max, w);
        te->setObjectName(name);
        tracks->addWidget(te);
        connect(te, &TVXTrackEdit::ValueChanged, this, [this] { Changed(); });
        return te;
      };
      FQuantity = t(0, 100, "quantity");
      FLightWidth = t(0, 1000, "lightWidth");
      FLightHeight = t(0, 1000, "lightHeight");
      FLightLeft = t(0, 1000, "lightLeft");
      FLightTop = t(0, 1000, "lightTop");
      auto* c = new QVBoxLayout;
      FLightColorLabel = Label(w);
      FLightColor = new THSVBox(w);
      FLightColor->setObjectName("lightColor");
      FLightColor->OnChange = [this](TObject*) {
        if (FLoading) return;
        FState.LightColor = CreateRGB(FLightColor->Red(), FLightColor->Green(), FLightColor->Blue());
        Changed();
      };
      c->addWidget(FLightColorLabel);
      c->addWidget(FLightColor);
      row->addLayout(c);
      break;
    }
    case peLens:
      FLensWidth = track(0, 1000, "lensWidth");
      FLensHeight = track(0, 1000, "lensHeight");
      FLensLeft = track(0, 1000, "lensLeft");
      FLensTop = track(0, 1000, "lensTop");
      FRefraction = track(0, 100, "refraction");
      break;
    case peWave:
      FAmplitude = track(0, 100, "amplitude");
      FWaveLength = track(0, 100, "waveLength");
      FPhase = track(0, 360, "phase");
      FReflective = new QCheckBox(w);
      FReflective->setObjectName("reflective");
      lay->addWidget(FReflective);
      connect(FReflective, &QCheckBox::toggled, this, [this] { Changed(); });
      break;
    case peMorph: {
      auto* row = new QHBoxLayout;
      FMorphLabel = Label(w);
      FMorphOp = new QComboBox(w);
      FMorphOp->setObjectName("morphFilter");
      for (int i = 0; i < 4; ++i) FMorphOp->addItem(QString());
      row->addWidget(FMorphLabel);
      row->addWidget(FMorphOp, 1);
      lay->addLayout(row);
      connect(FMorphOp, &QComboBox::currentIndexChanged, this, [this] { Changed(); });
      FWindowSize = track(1, 10, "windowSize", 1);
      break;
    }
    case peRotate: {
      FAngle = track(-180, 180, "angle");
      auto* row = new QHBoxLayout;
      FFlipLabel = Label(w);
      FFlipH = new QPushButton(w);
      FFlipH->setObjectName("flipHorizontal");
      FFlipH->setCheckable(true);
      FFlipV = new QPushButton(w);
      FFlipV->setObjectName("flipVertical");
      FFlipV->setCheckable(true);
      row->addWidget(FFlipLabel);
      row->addWidget(FFlipH);
      row->addWidget(FFlipV);
      row->addStretch();
      lay->addLayout(row);
      connect(FFlipH, &QPushButton::toggled, this, [this] { Changed(); });
      connect(FFlipV, &QPushButton::toggled, this, [this] { Changed(); });
      break;
    }
    case peFFT: {
      auto* row = new QHBoxLayout;
      lay->addLayout(row);
      FFtView = new TVexaView(w);
      FFtView->setObjectName("fftView");
      FFtView->SetCenter(true);
      FFtView->SetMouseInteract(VXMI(miSelect));
      FFtView->setMinimumSize(140, 140);
      FFtView->OnSelectionChange = [this](TObject*) {
        if (!FLoading) Changed();
      };
      row->addWidget(FFtView);
      auto* side = new QVBoxLayout;
      FFtLabel = Label(w);
      FFtLabel->setWordWrap(true);
      FFtGray = new QCheckBox(w);
      FFtGray->setObjectName("fftGray");
      FFtProgress = new QProgressBar(w);
      FFtProgress->setRange(0, 100);
      FFtReset = new QPushButton(w);
      FFtReset->setObjectName("fftReset");
      side->addWidget(FFtLabel);
      side->addWidget(FFtGray);
      side->addWidget(FFtProgress);
      side->addWidget(FFtReset);
      side->addStretch();
      row->addLayout(side, 1);
      connect(FFtGray, &QCheckBox::toggled, this, [this](bool on) {
        if (FLoading) return;
        FState.FftGray = on;
        FFt.reset();
        CopyOrg();
      });
      connect(FFtReset, &QPushButton::clicked, this, [this] {
        FFtView->DeSelect();
        CopyOrg();
      });
      break;
    }
    case peAll: break;
  }
  lay->addStretch();
  return w;
}

void TfPreviews::Retranslate() {
  const TMsgLanguage l = FSetup.Language;
  auto W = [l](TMsgLanguageWords w) { return VXWord(w, l); };
  setWindowTitle(W(VXMSG_PREVIEW));
  FSourceLabel->setText(W(VXMSG_SOURCE));
  FResultLabel->setText(W(VXMSG_RESULT));
  FLock->setText(W(VXMSG_LOCKPREVIEW));
  FPreview->setText(W(VXMSG_PREVIEW));
  FCopyBack->setToolTip(W(VXMSG_COPYRESULTTOSOURCE));
  FOk->setText(W(VXMSG_OK));
  FCancel->setText(W(VXMSG_CANCEL));
  const QString titles[kVXPreviewPageCount] = {
      W(VXMSG_CONTRAST),     QStringLiteral("HSV"),  QStringLiteral("HSL"),    QStringLiteral("RGB"),
      W(VXMSG_USERFILTER),   W(VXMSG_EQUALIZATION),  QStringLiteral("Bump map"), W(VXMSG_LENS),
      W(VXMSG_WAVE),         W(VXMSG_MORPHFILTER),   W(VXMSG_ROTATE),        QStringLiteral("FFT")};
  for (int i = 0; i < kVXPreviewPageCount; ++i) FPages->setTabText(i, titles[i]);
  FContrast->SetCaption(W(VXMSG_CONTRAST));
  FBrightness->SetCaption(W(VXMSG_BRIGHTNESS));
  FHsvHue->SetCaption(W(VXMSG_HUE));
  FHsvSat->SetCaption(W(VXMSG_SATURATION));
  FHsvVal->SetCaption(W(VXMSG_VALUE));
  FBaseLabel->setText(W(VXMSG_BASECOLOR));
  FNewLabel->setText(W(VXMSG_NEWCOLOR));
  FHslHue->SetCaption(W(VXMSG_HUE));
  FHslSat->SetCaption(W(VXMSG_SATURATION));
  FHslLum->SetCaption(W(VXMSG_LUMINOSITY));
  FRed->SetCaption(W(VXMSG_RED));
  FGreen->SetCaption(W(VXMSG_GREEN));
  FBlue->SetCaption(W(VXMSG_BLUE));
  FFilterValuesLabel->setText(W(VXMSG_FILTERVALUES));
  FDivisorLabel->setText(W(VXMSG_DIVISOR));
  FPresetsLabel->setText(W(VXMSG_PRESETS));
  FLoadFilter->setText(W(VXMSG_LOAD));
  FSaveFilter->setText(W(VXMSG_SAVE));
  FThresholdLabel->setText(W(VXMSG_THRESHOLD));
  FEqualizeLabel->setText(W(VXMSG_EQUALIZATION));
  FEqualize->setText(W(VXMSG_EQUALIZE));
  const TMsgLanguageWords channels[] = {VXMSG_RED, VXMSG_GREEN, VXMSG_BLUE, VXMSG_GRAY};
  FLoading = true;
  for (int i = 0; i < 4; ++i) FChannels->item(i)->setText(W(channels[i]));
  FLoading = false;
  FQuantity->SetCaption(W(VXMSG_SOURCEIMAGEQUANTITY) + QStringLiteral(" (%)"));
  FLightWidth->SetCaption(W(VXMSG_WIDTH));
  FLightHeight->SetCaption(W(VXMSG_HEIGHT));
  FLightLeft->SetCaption(W(VXMSG_LEFT));
  FLightTop->SetCaption(W(VXMSG_TOP));
  FLightColorLabel->setText(W(VXMSG_LIGHT) + QStringLiteral(" - ") + W(VXMSG_COLOR));
  FLensWidth->SetCaption(W(VXMSG_WIDTH));
  FLensHeight->SetCaption(W(VXMSG_HEIGHT));
  FLensLeft->SetCaption(W(VXMSG_LEFT));
  FLensTop->SetCaption(W(VXMSG_TOP));
  FRefraction->SetCaption(W(VXMSG_REFRACTION));
  FAmplitude->SetCaption(W(VXMSG_AMPLITUDE));
  FWaveLength->SetCaption(W(VXMSG_WAVELENGTH));
  FPhase->SetCaption(W(VXMSG_PHASE));
  FReflective->setText(W(VXMSG_REFLECTIVE));
  FMorphLabel->setText(W(VXMSG_FILTER));
  const TMsgLanguageWords ops[] = {VXMSG_MAXIMUM, VXMSG_MINIMUM, VXMSG_OPEN, VXMSG_CLOSE};
  for (int i = 0; i < 4; ++i) FMorphOp->setItemText(i, W(ops[i]));
  FWindowSize->SetCaption(W(VXMSG_WINDOWSIZE));
  FAngle->SetCaption(W(VXMSG_ROTATE));
  FFlipLabel->setText(W(VXMSG_FLIP));
  FFlipH->setText(W(VXMSG_FLIPHOR));
  FFlipV->setText(W(VXMSG_FLIPVER));
  FFtLabel->setText(W(VXMSG_FREQUENCYDOMAINIMAGE) + QStringLiteral(": ") + W(VXMSG_SELECTTHEREGIONTOCLEAR));
  FFtGray->setText(W(VXMSG_GRAYSCALE));
  FFtReset->setText(W(VXMSG_RESET));
}

void TfPreviews::Setup(const TVXPreviewSetup& setup) {
  FSetup = setup;
  Retranslate();
  VXApplyPreviewFont(*this, setup.Font);
  SetLockPreview(setup.LockPreview);
}

void TfPreviews::SetImage(const TBitmap& image) {
  FVexa1->Assign(&image);
  FVexa1->Update();
  FFt.reset();
}

bool TfPreviews::LockPreview() const { return FLock->isChecked(); }

void TfPreviews::SetLockPreview(bool on) {
  FLock->setChecked(on);
  FPreview->setEnabled(!on);
}

TPreviewEffectsItems TfPreviews::ActivePage() const {
  const int i = FPages->currentIndex();
  return FPrepared && i >= 0 ? kVXPreviewPages[i] : peAll;
}

void TfPreviews::SetActivePage(TPreviewEffectsItems page) {
  const int i = PageIndex(page);
  if (i >= 0 && FPages->isTabVisible(i)) FPages->setCurrentIndex(i);
}

void TfPreviews::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!FPrepared) Prepare();
}

void TfPreviews::Prepare() {
  FLoading = true;
  int first = -1;
  for (int i = 0; i < kVXPreviewPageCount; ++i) {
    const bool visible = VXPreviewPageVisible(FEffects, kVXPreviewPages[i]);
    FPages->setTabVisible(i, visible);
    if (visible && first < 0) first = i;
  }
  FPageReset.fill(false);
  FPages->setCurrentIndex(std::max(first, 0));
  FLoading = false;
  FPrepared = true;
  if (layout()) layout()->activate();
  FVexa1->Fit();
  PageChanged();
}

void TfPreviews::PageChanged() {
  if (!FPrepared || FLoading) return;
  const TPreviewEffectsItems page = ActivePage();
  const int i = PageIndex(page);
  if (i < 0) return;
  if (!FPageReset[static_cast<size_t>(i)]) {
    VXResetPreviewPage(FState, page, FVexa1->Bitmap());
    if (page == peFFT && FFtView) FFtView->DeSelect();
    FPageReset[static_cast<size_t>(i)] = true;
  }
  LoadControls(page);
  if (page == peFFT) {
    FVexa1->SetMouseInteract(0);
    FVexa1->Fit();
  } else {
    FVexa1->SetMouseInteract(VXMI(miZoom) | VXMI(miScroll));
  }
  CopyOrg();
}

void TfPreviews::LoadControls(TPreviewEffectsItems page) {
  const bool was = FLoading;
  FLoading = true;
  const TVXPreviewState& s = FState;
  const int w = FVexa1->Bitmap().Width(), h = FVexa1->Bitmap().Height();
  const int big = std::max(w, h);
  switch (page) {
    case peContrast:
      FContrast->SetValue(s.Contrast);
      FBrightness->SetValue(s.Brightness);
      break;
    case peHSV:
      FHsvHue->SetValue(s.HsvHue);
      FHsvSat->SetValue(s.HsvSat);
      FHsvVal->SetValue(s.HsvVal);
      break;
    case peHSL:
      FHslHue->SetValue(s.HslHue);
      FHslSat->SetValue(s.HslSat);
      FHslLum->SetValue(s.HslLum);
      break;
    case peRGB:
      FRed->SetValue(s.Red);
      FGreen->SetValue(s.Green);
      FBlue->SetValue(s.Blue);
      break;
    case peUserFilt:
      for (int i = 0; i < 9; ++i) FKernel[static_cast<size_t>(i)]->setText(QString::number(s.Filter.Values[i]));
      FDivisor->setText(QString::number(s.Filter.Divisor));
      FPresets->setCurrentIndex(s.Preset);
      break;
    case peEqualize: {
      for (int i = 0; i < 4; ++i)
        FChannels->item(i)->setCheckState((s.Channels & (1u << i)) ? Qt::Checked : Qt::Unchecked);
      const TColor grey = RGB2TColor(128, 128, 128);
      for (TRulerBox* r : {FThresholdRuler, FEqualizeRuler}) {
        r->SetGripsPos(0, 0);
        r->SetGripsPos(1, 255);
        r->SetGripsCol(0, grey);
        r->SetGripsCol(1, grey);
      }
      FThresholdRuler->SetGripsKind(0, gkArrow2);
      FThresholdRuler->SetGripsKind(1, gkArrow2);
      FEqualize->setChecked(s.AutoEqualize);
      FThresholdValues->setText(QStringLiteral("0 - 255"));
      FEqualizeValues->setText(QStringLiteral("0 - 255"));
      ChannelsChanged();
      break;
    }
    case peBumpMap:
      FQuantity->SetValue(s.Quantity);
      FLightWidth->SetRange(0, 2 * big);
      FLightHeight->SetRange(0, 2 * big);
      FLightLeft->SetRange(0, w);
      FLightTop->SetRange(0, h);
      FLightWidth->SetValue(s.LightWidth);
      FLightHeight->SetValue(s.LightHeight);
      FLightLeft->SetValue(s.LightX);
      FLightTop->SetValue(s.LightY);
      FLightColor->SetRGB(s.LightColor.r, s.LightColor.g, s.LightColor.b);
      break;
    case peLens:
      FLensWidth->SetRange(0, 2 * big);
      FLensHeight->SetRange(0, 2 * big);
      FLensLeft->SetRange(0, w);
      FLensTop->SetRange(0, h);
      FLensWidth->SetValue(s.LensWidth);
      FLensHeight->SetValue(s.LensHeight);
      FLensLeft->SetValue(s.LensX);
      FLensTop->SetValue(s.LensY);
      FRefraction->SetValue(static_cast<int>(std::lround((s.Refraction - 1) * 10)));
      break;
    case peWave:
      FAmplitude->SetValue(s.Amplitude);
      FWaveLength->SetValue(s.WaveLength);
      FPhase->SetValue(s.Phase);
      FReflective->setChecked(s.Reflective);
      break;
    case peMorph:
      FMorphOp->setCurrentIndex(s.MorphOp);
      FWindowSize->SetValue(s.WindowSize);
      break;
    case peRotate:
      FAngle->SetValue(s.Angle);
      FFlipH->setChecked(s.FlipHorizontal);
      FFlipV->setChecked(s.FlipVertical);
      break;
    case peFFT: FFtGray->setChecked(s.FftGray); break;
    case peAll: break;
  }
  FLoading = was;
}

// Every control lands here: read the active page's controls into the state,
// then update the result when the preview is locked on.
void TfPreviews::Changed() {
  if (FLoading || !FPrepared) return;
  TVXPreviewState& s = FState;
  switch (ActivePage()) {
    case peContrast:
      s.Contrast = FContrast->Value();
      s.Brightness = FBrightness->Value();
      break;
    case peHSV:
      s.HsvHue = FHsvHue->Value();
      s.HsvSat = FHsvSat->Value();
      s.HsvVal = FHsvVal->Value();
      break;
    case peHSL:
      s.HslHue = FHslHue->Value();
      s.HslSat = FHslSat->Value();
      s.HslLum = FHslLum->Value();
      break;
    case peRGB:
      s.Red = FRed->Value();
      s.Green = FGreen->Value();
      s.Blue = FBlue->Value();
      break;
    case peBumpMap:
      s.Quantity = FQuantity->Value();
      s.LightWidth = FLightWidth->Value();
      s.LightHeight = FLightHeight->Value();
      s.LightX = FLightLeft->Value();
      s.LightY = FLightTop->Value();
      break;
    case peLens:
      s.LensWidth = FLensWidth->Value();
      s.LensHeight = FLensHeight->Value();
      s.LensX = FLensLeft->Value();
      s.LensY = FLensTop->Value();
      s.Refraction = 1 + FRefraction->Value() / 10.0;
      break;
    case peWave:
      s.Amplitude = FAmplitude->Value();
      s.WaveLength = FWaveLength->Value();
      s.Phase = FPhase->Value();
      s.Reflective = FReflective->isChecked();
      break;
    case peMorph:
      s.MorphOp = std::max(0, FMorphOp->currentIndex());
      s.WindowSize = FWindowSize->Value();
      break;
    case peRotate:
      s.Angle = FAngle->Value();
      s.FlipHorizontal = FFlipH->isChecked();
      s.FlipVertical = FFlipV->isChecked();
      break;
    default: break;
  }
  if (LockPreview()) RefreshResult();
}

TRGB TfPreviews::Background() const { return TColor2TRGB(ColorToRGB(FVexa1->Background())); }

void TfPreviews::CopyOrg() {
  if (!FPrepared) return;
  const TVXViewGeometry& g = FVexa1->Geometry();
  FMap.Zoom = std::max(1, g.Zoom);
  FMap.ViewX = g.ViewX;
  FMap.ViewY = g.ViewY;
  TBitmap crop;
  VXPreviewCrop(FVexa1->Bitmap(), FMap, std::max(1, g.DrawW), std::max(1, g.DrawH), crop);
  FVexa2->Assign(&crop);
  FVexa2->Update();
  FVexa2->SaveUndo();
  if (ActivePage() == peFFT && !FFt) BuildFft();
  ApplyAct(false);
}

void TfPreviews::RefreshResult() {
  if (!FPrepared) return;
  FVexa2->Undo();
  ApplyAct(false);
}

void TfPreviews::ApplyAct(bool final) {
  const TPreviewEffectsItems page = ActivePage();
  TVexa* target = final ? FVexa1 : FVexa2;
  if (page == peFFT) {
    ApplyFft(final);
  } else {
    TProgressEvent progress;
    if (final) {
      progress = [this](TObject* sender, int per) {
        FProgress->setValue(std::clamp(per, 0, 100));
        if (FSetup.OnProgress) FSetup.OnProgress(sender, per);
      };
    }
    VXApplyPreviewPage(target->Bitmap(), page, FState, final ? nullptr : &FMap, Background(), progress,
                       FSetup.Sender);
    target->Update();
    target->ImageChange();
  }
  if (!final && page == peEqualize) {
    FHistogram->Update();
    AlignRulers();
  }
  if (final) FProgress->setValue(0);
}

void TfPreviews::BuildFft() {
  const TBitmap& src = FVexa1->Bitmap();
  if (src.Empty()) return;
  const int longer = std::max(src.Width(), src.Height());
  const int w = std::max(1, src.Width() * 128 / longer), h = std::max(1, src.Height() * 128 / longer);
  // Halftone-like reduction: a filtered resample rather than dropping pixels.
  TBitmap small(w, h, pf24bit);
  _Resample(src, small, rfTriangle, {}, nullptr);
  FFt = std::make_unique<TVXFtImage>();
  FFt->OnProgress = [this](TObject*, int per) { FFtProgress->setValue(std::clamp(per, 0, 100)); };
  FFt->BuildFT(small, FState.FftGray ? vxitGrayscale : vxitRGB);
  FFtProgress->setValue(0);
  FFtSource = longer;
  ShowFftSpectrum();
}

void TfPreviews::ShowFftSpectrum() {
  TBitmap spectrum;
  FFt->GetFTImage(spectrum);
  const bool was = FLoading;
  FLoading = true;
  FFtView->Assign(&spectrum);
  FFtView->Update();
  FLoading = was;
}

void TfPreviews::ApplyFft(bool final) {
  if (!FFt) BuildFft();
  if (!FFt) return;
  int x1 = 0, y1 = 0, x2 = -1, y2 = -1;
  const bool zone = FFtView->SelectionExists();
  if (zone) FFtView->VXGetSelBounds(x1, y1, x2, y2);
  if (!final) {
    TVXFtImage ft(*FFt);
    if (zone) ft.ClearZone(x1, y1, x2, y2);
    TBitmap inverse;
    ft.BuildBitmap(inverse);
    // The small transform's inverse, scaled to the preview's size.
    TBitmap& out = FVexa2->Bitmap();
    VXStretchDrawBitmap(out, {0, 0, out.Width(), out.Height()}, inverse);
    FVexa2->Update();
    FVexa2->ImageChange();
    return;
  }
  TVXFtImage full;
  full.OnProgress = [this](TObject* sender, int per) {
    FProgress->setValue(std::clamp(per, 0, 100));
    if (FSetup.OnProgress) FSetup.OnProgress(sender, per);
  };
  full.BuildFT(FVexa1->Bitmap(), FState.FftGray ? vxitGrayscale : vxitRGB);
  if (zone) {
    TBitmap spectrum;
    FFt->GetFTImage(spectrum);
    TBitmap fullSpectrum;
    full.GetFTImage(fullSpectrum);
    const double k = spectrum.Width() > 0 ? static_cast<double>(fullSpectrum.Width()) / spectrum.Width() : 1;
    full.ClearZone(static_cast<int>(x1 * k), static_cast<int>(y1 * k), static_cast<int>((x2 + 1) * k) - 1,
                   static_cast<int>((y2 + 1) * k) - 1);
    FFtView->DeSelect();
  }
  full.BuildBitmap(FVexa1->Bitmap());
  FVexa1->Update();
  FVexa1->ImageChange();
  FFt.reset();
}

TPoint TfPreviews::PreviewToSource(int x, int y) const {
  const int bx = FVexa2->XScr2Bmp(x), by = FVexa2->YScr2Bmp(y);
  return {FMap.ToSourceX(bx), FMap.ToSourceY(by)};
}

void TfPreviews::PickFromResult(int x, int y) {
  const TPreviewEffectsItems page = ActivePage();
  if (page == peHSV) {
    const int bx = FVexa2->XScr2Bmp(x), by = FVexa2->YScr2Bmp(y);
    const TBitmap& b = FVexa2->Bitmap();
    if (bx < 0 || by < 0 || bx >= b.Width() || by >= b.Height()) return;
    const TRGB c = b.GetPixel(bx, by);
    FBaseColor->SetRGB(c.r, c.g, c.b);
    HsvBoxesChanged();
  } else if (page == peBumpMap || page == peLens) {
    const TPoint p = PreviewToSource(x, y);
    FLoading = true;
    if (page == peBumpMap) {
      FState.LightX = p.X, FState.LightY = p.Y;
      FLightLeft->SetValue(p.X);
      FLightTop->SetValue(p.Y);
    } else {
      FState.LensX = p.X, FState.LensY = p.Y;
      FLensLeft->SetValue(p.X);
      FLensTop->SetValue(p.Y);
    }
    FLoading = false;
    RefreshResult();
  }
}

void TfPreviews::HsvBoxesChanged() {
  if (FLoading || !FPrepared) return;
  FLoading = true;
  // Hue goes round: the shortest way from the base to the new colour, so that the
  // track's range -180..180 never cuts it.
  FHsvHue->SetValue((FNewColor->Hue() - FBaseColor->Hue() + 540) % 360 - 180);
  FHsvSat->SetValue(FNewColor->Sat() - FBaseColor->Sat());
  FHsvVal->SetValue(FNewColor->Val() - FBaseColor->Val());
  FLoading = false;
  Changed();
}

void TfPreviews::SetPreset(int preset) {
  if (preset < 0 || preset > LowPass2) return;
  FState.Preset = preset;
  FState.Filter = VXFiltPres[preset];
  LoadControls(peUserFilt);
  if (LockPreview()) RefreshResult();
}

void TfPreviews::FilterFromEdits() {
  if (FLoading) return;
  for (int i = 0; i < 9; ++i) {
    bool ok = false;
    const int v = FKernel[static_cast<size_t>(i)]->text().trimmed().toInt(&ok);
    FState.Filter.Values[i] = ok ? v : 0;
  }
  bool ok = false;
  const int d = FDivisor->text().trimmed().toInt(&ok);
  FState.Filter.Divisor = ok ? d : 1;
  if (LockPreview()) RefreshResult();
}

void TfPreviews::LoadFilter() {
  const QString name = QFileDialog::getOpenFileName(this, VXWord(VXMSG_LOAD, FSetup.Language), QString(),
                                                    QStringLiteral("Filter (*.flt)"));
  if (!name.isEmpty()) LoadFilterFile(name.toStdString());
}

bool TfPreviews::LoadFilterFile(const std::string& name) {
  TGraphFilter f = FState.Filter;
  if (!LoadFilterFromFile(name, f)) {
    QMessageBox::warning(this, VXWord(VXMSG_FILTER, FSetup.Language),
                         QString::fromStdString(name) + QStringLiteral(": not a filter file"));
    return false;
  }
  FState.Filter = f;
  FState.Preset = fpNone;
  LoadControls(peUserFilt);
  if (LockPreview()) RefreshResult();
  return true;
}

void TfPreviews::SaveFilter() {
  QString name = QFileDialog::getSaveFileName(this, VXWord(VXMSG_SAVE, FSetup.Language), QString(),
                                              QStringLiteral("Filter (*.flt)"));
  if (name.isEmpty()) return;
  if (!name.endsWith(QStringLiteral(".flt"), Qt::CaseInsensitive)) name += QStringLiteral(".flt");
  SaveFilterFile(name.toStdString());
}

bool TfPreviews::SaveFilterFile(const std::string& name) {
  // A failed save must reach the user, not end the application from inside a slot.
  try {
    SaveFilterToFile(name, FState.Filter);
    return true;
  } catch (const std::exception& e) {
    QMessageBox::warning(this, VXWord(VXMSG_FILTER, FSetup.Language),
                         QString::fromStdString(name) + QStringLiteral(": ") + QString::fromUtf8(e.what()));
    return false;
  }
}

void TfPreviews::ChannelsChanged() {
  if (!FChannels) return;
  unsigned channels = 0;
  for (int i = 0; i < 4; ++i)
    if (FChannels->item(i)->checkState() == Qt::Checked) channels |= 1u << i;
  FState.Channels = channels;
  FHistogram->SetHistogramKind(channels);
  AlignRulers();
  if (!FLoading && FPrepared) RulerMoved(nullptr, -1);
}

void TfPreviews::AlignRulers() {
  if (!FHistogram || !FRulerColumn) return;
  const int left = std::max(0, FHistogram->HistogramXPos() - FHistogram->x());
  const int right = std::max(0, FHistogram->width() - left - FHistogram->HistogramPlotWidth());
  const QMargins margins(left, 0, right, 0);
  if (FRulerColumn->contentsMargins() != margins) FRulerColumn->setContentsMargins(margins);
}

bool TfPreviews::eventFilter(QObject* watched, QEvent* event) {
  // The plot moves with the histogram's size and its labels' width: once the
  // histogram has drawn itself anew, the rulers follow.
  if (watched == FHistogram && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
    QMetaObject::invokeMethod(this, [this] { AlignRulers(); }, Qt::QueuedConnection);
  return QDialog::eventFilter(watched, event);
}

void TfPreviews::RulerMoved(TRulerBox* ruler, int grip) {
  // Placing the other grip reports a move of its own.
  if (FRulerBusy) return;
  FRulerBusy = true;
  if (ruler && grip >= 0) {
    int low = static_cast<int>(ruler->GripsPos(0)), high = static_cast<int>(ruler->GripsPos(1));
    VXEqualizeGrips(grip, static_cast<int>(ruler->GripsPos(grip)), low, high);
    // Put the other grip where the rule left it (it may have been dragged along).
    ruler->SetGripsPos(0, low);
    ruler->SetGripsPos(1, high);
  }
  const int tl = static_cast<int>(FThresholdRuler->GripsPos(0)), th = static_cast<int>(FThresholdRuler->GripsPos(1));
  const int el = static_cast<int>(FEqualizeRuler->GripsPos(0)), eh = static_cast<int>(FEqualizeRuler->GripsPos(1));
  VXEqualizeSetRange(FState.Channels, tl, th, FState.ThresholdLow, FState.ThresholdHigh);
  VXEqualizeSetRange(FState.Channels, el, eh, FState.EqualizeLow, FState.EqualizeHigh);
  FThresholdValues->setText(QStringLiteral("%1 - %2").arg(tl).arg(th));
  FEqualizeValues->setText(QStringLiteral("%1 - %2").arg(el).arg(eh));
  FRulerBusy = false;
  if (!FLoading && FPrepared && LockPreview()) RefreshResult();
}

void TfPreviews::CopyResultToSource() {
  if (!FPrepared) return;
  ApplyAct(true);
  FPageReset.fill(false);
  FVexa1->Fit();
  PageChanged();
}

void TfPreviews::AcceptWithApply() {
  if (FPrepared) ApplyAct(true);
  accept();
}

}  // namespace vexa
