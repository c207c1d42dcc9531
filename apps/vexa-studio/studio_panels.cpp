#include "studio_panels_ui.h"

#include <QGridLayout>
#include <QVBoxLayout>
#include <cmath>

using namespace vexa;

namespace {
// A label step of 1, 2 or 5 times a power of ten that keeps labels at least
// `minPixels` apart at `scale` screen pixels per image pixel.
double LabelStep(double scale, double minPixels) {
  const double raw = minPixels / scale;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * p >= raw) return m * p;
  return 10 * p;
}
}  // namespace

StudioRulers::StudioRulers(TVexaView* view, QWidget* parent) : QWidget(parent), FView(view) {
  FTop = new TRulerBox(this);
  FLeft = new TRulerBox(this);
  for (TRulerBox* r : {FTop, FLeft}) r->SetGripsCount(0);
  FLeft->SetRulerDir(rdVertical);
  const int thick = FTop->GetRulerHeight() + 1;
  FTop->setFixedHeight(thick);
  FLeft->setFixedWidth(thick);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(0);
  grid->addWidget(FTop, 0, 1);
  grid->addWidget(FLeft, 1, 0);
  grid->addWidget(view, 1, 1);
}

void StudioRulers::Sync() {
  const double scale = FView->Zoom() / 100.0;
  if (!(scale > 0)) return;
  // Ruler pixel 0 sits on the view's widget edge, outside its border.
  const int border = FView->BorderStyle() == bsSingle ? 2 : 0;
  const double label = LabelStep(scale, 60);
  for (TRulerBox* r : {FTop, FLeft}) {
    const bool top = r == FTop;
    const int bmp0 = top ? FView->XBmp2Scr(0) : FView->YBmp2Scr(0);
    r->SetDotPerUnit(scale);
    r->SetLabelFreq(label);
    r->SetFrequency(label / 5);
    r->SetViewPos((-border - bmp0) / scale);
  }
}

void StudioRulers::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Sync();
}

StudioSidePanel::StudioSidePanel(TVexaProc* proc, QWidget* parent) : QWidget(parent) {
  FInfo = new QLabel(this);
  FInfo->setObjectName("studio-info");
  FInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FInfo->setWordWrap(true);
  FInfo->setMaximumWidth(220);
  FHistogram = new THistogramBox(this);
  FHistogram->SetHistogramKind(HistogramBit(hkRed) | HistogramBit(hkGreen) | HistogramBit(hkBlue));
  FHistogram->SetAttachedVexaProc(proc);
  FHSV = new THSVBox(this);
  FHSV->setFixedSize(150, 105);
  FShades = new TVXGradientBar(this);
  FShades->SetDirection(gdHorizontal);
  FShades->setFixedSize(150, 24);
  FSwatch = new QLabel(this);
  FSwatch->setFixedHeight(24);

  auto* box = new QVBoxLayout(this);
  box->addWidget(FInfo);
  box->addSpacing(12);
  box->addWidget(new QLabel("Histogram", this));
  box->addWidget(FHistogram);
  box->addSpacing(12);
  box->addWidget(new QLabel("Colour", this));
  box->addWidget(FHSV);
  box->addWidget(FShades);
  box->addWidget(FSwatch);
  box->addStretch(1);

  FHSV->OnChange = [this](TObject*) {
    FShades->SetEndColor(FHSV->Color());
    SetPicked(TColor2TRGB(FHSV->Color()));
  };
  FShades->OnChange = [this](TObject*) { SetPicked(FShades->RGB()); };
  FHSV->SetColor(clRed);
  FShades->SetEndColor(clRed);
  FShades->SetColorIndex(255);
  SetPicked(CreateRGB(255, 0, 0));
}

void StudioSidePanel::FollowImage() { FHistogram->Update(); }

void StudioSidePanel::SetPicked(TRGB c) {
  FPicked = c;
  FSwatch->setText(QString("  %1 %2 %3").arg(c.r).arg(c.g).arg(c.b));
  FSwatch->setStyleSheet(QString("background: rgb(%1,%2,%3); color: %4")
                             .arg(c.r)
                             .arg(c.g)
                             .arg(c.b)
                             .arg(c.r + c.g + c.b > 384 ? "black" : "white"));
}

void StudioSidePanel::ShowInfo(const TBitmap& image, const TIOParamsVals& file, const std::string& fileName,
                               int64_t fileSize, int page, int pages, const std::string& pageNoun) {
  QStringList lines;
  lines << QString("<b>%1 x %2</b> pixels").arg(image.Width()).arg(image.Height());
  lines << (image.PixelFormat() == pf1bit ? QString("1 bit (black and white)") : QString("24 bit (full colour)"));
  if (!fileName.empty()) {
    lines << QString::fromStdString(file.FileTypeStr()).toHtmlEscaped();
    lines << QString("In the file: %1 bit x %2").arg(file.BitsPerSample).arg(file.SamplesPerPixel) +
                 (file.ColorMapCount > 0 ? QString(", %1-colour palette").arg(file.ColorMapCount) : QString());
    if (file.DpiX > 0) lines << QString("%1 x %2 dpi").arg(file.DpiX).arg(file.DpiY);
    lines << (fileSize >= 10 * 1024 ? QString("%1 KiB").arg((fileSize + 512) / 1024) : QString("%1 bytes").arg(fileSize));
    if (pages > 1) lines << QString("%1 of %2 %3").arg(page + 1).arg(pages).arg(QString::fromStdString(pageNoun));
  }
  FInfo->setText(lines.join("<br>"));
}
