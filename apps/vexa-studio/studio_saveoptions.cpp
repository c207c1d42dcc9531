#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>

#include "studio_saveoptions_ui.h"
#include "vexa/io/detect.h"
#include "vexa/io/formats.h"
#include "vexa/io/formattable.h"
#include "vexa/proc/vexaproc.h"

using namespace vexa;

namespace {

// Depths a writer honours, as (bits per sample, samples per pixel, colours kept).
struct Depth {
  const char* Title;
  int Bits, Samples;
  int Colours;  // 0: all
};
constexpr Depth kFull{"Full colour (24 bit)", 8, 3, 0};
constexpr Depth kPalette{"256 colours (8 bit palette)", 8, 1, 256};
constexpr Depth kSixteen{"16 colours (4 bit)", 4, 1, 16};
constexpr Depth kBlackWhite{"Black and white (1 bit)", 1, 1, 2};

std::vector<Depth> DepthsOf(int type, const TBitmap& image) {
  if (image.PixelFormat() == pf1bit) return {kBlackWhite};
  switch (type) {
    case ioBMP: return {kFull, kPalette, kSixteen, kBlackWhite};
    case ioPNG: return {kFull, kPalette};
    case ioGIF: return {kPalette};
    default: return {kFull};  // the writer decides from the bitmap
  }
}

QString ExtensionsOf(int type) {
  if (const TVXBuiltinFormat* f = VXBuiltinFormat(type)) return QString(f->WriteExtensions);
  if (const TVXFileFormatInfo* info = VXFileFormatGetInfo(type)) return QString::fromStdString(info->Extensions).toLower();
  return {};
}

// The type SaveToFile picks for a name.
int TypeForName(const std::string& name) {
  const std::string ext = VXExtractFileExt(name);
  if (const TVXBuiltinFormat* f = VXBuiltinFormatForWrite(ext)) return f->FileType;
  const TVXFileFormatInfo* info = VXFileFormatGetInfo2(ext);
  return info && info->WriteFunction ? info->FileType : ioUnknown;
}

}  // namespace

int& StudioSaveOptions::JpegQuality() {
  static int quality = kDefaultJpegQuality;
  return quality;
}

bool StudioSaveOptions::CanWrite(const std::string& name) {
  const int type = TypeForName(name);
  return type != ioUnknown && VXFileFormatCanWrite(type);
}

std::string StudioSaveOptions::SaveFilter() {
  QStringList parts;
  for (const QString& entry : FileFilter().split(";;")) {
    const qsizetype open = entry.lastIndexOf(" (");
    parts << entry.left(open) << entry.mid(open + 2).chopped(1).replace(' ', ';');
  }
  return parts.join('|').toStdString();
}

QString StudioSaveOptions::FileFilter() {
  QStringList entries;
  for (int i = 0; i < VXFileFormatCount(); ++i) {
    const TVXFileFormatInfo* info = VXFileFormatAt(i);
    if (!VXFileFormatCanWrite(info->FileType)) continue;
    QStringList patterns;
    for (const QString& e : ExtensionsOf(info->FileType).split(';', Qt::SkipEmptyParts)) patterns << "*." + e;
    if (!patterns.isEmpty()) entries << QString("%1 (%2)").arg(QString::fromStdString(info->FullName), patterns.join(' '));
  }
  return entries.join(";;");
}

std::string StudioSaveOptions::ExtensionOfFilter(const QString& filter) {
  const QRegularExpressionMatch m = QRegularExpression(R"(\*\.(\w+))").match(filter);
  return m.hasMatch() ? m.captured(1).toStdString() : std::string("png");
}

bool StudioSaveOptions::Ask(QWidget* parent, const std::string& name, const TBitmap& image, TIOParamsVals& params) {
  const int type = TypeForName(name);
  if (!CanWrite(name)) {
    QMessageBox::warning(parent, "Save", QString("%1: no writer for the extension '%2'.")
                                             .arg(QString::fromStdString(name),
                                                  QString::fromStdString(VXExtractFileExt(name))));
    return false;
  }
  StudioSaveOptions dialog(parent, type, image, params);
  return dialog.exec() == QDialog::Accepted;
}

StudioSaveOptions::StudioSaveOptions(QWidget* parent, int fileType, const TBitmap& image, TIOParamsVals& params)
    : QDialog(parent), FType(fileType), FImage(image), FParams(params) {
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType);
  setWindowTitle(QString("Save options: %1").arg(info ? QString::fromStdString(info->FullName) : QString("image")));
  auto* form = new QFormLayout(this);
  // Each control writes its field when the dialog is accepted.
  std::vector<std::function<void()>> apply;

  if (fileType == ioJPEG) {
    const int lastQuality = JpegQuality();
    auto* slider = new QSlider(Qt::Horizontal, this);
    auto* spin = new QSpinBox(this);
    for (auto* w : {static_cast<QAbstractSlider*>(slider)}) w->setRange(1, 100);
    spin->setRange(1, 100);
    slider->setValue(lastQuality);
    spin->setValue(lastQuality);
    connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
    connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
    auto* row = new QHBoxLayout;
    row->addWidget(slider, 1);
    row->addWidget(spin);
    form->addRow("Quality", row);
    auto* progressive = new QCheckBox("Progressive", this);
    progressive->setChecked(params.JPEG_Progressive);
    form->addRow(progressive);
    apply.push_back([this, spin, progressive] {
      FParams.JPEG_Quality = JpegQuality() = spin->value();
      FParams.JPEG_Progressive = progressive->isChecked();
    });
  }
  if (fileType == ioPNG) {
    auto* level = new QSpinBox(this);
    level->setRange(0, 9);
    level->setValue(std::clamp(params.PNG_Compression, 0, 9));
    level->setToolTip("0 stores, 9 packs tightest; the pixels are the same");
    form->addRow("Compression", level);
    auto* interlaced = new QCheckBox("Interlaced", this);
    interlaced->setChecked(params.PNG_Interlaced);
    form->addRow(interlaced);
    apply.push_back([this, level, interlaced] {
      FParams.PNG_Compression = level->value();
      FParams.PNG_Interlaced = interlaced->isChecked();
    });
  }
  if (fileType == ioTIFF) {
    auto* compression = new QComboBox(this);
    compression->addItem("None", ioTIFF_UNCOMPRESSED);
    compression->addItem("LZW", ioTIFF_LZW);
    compression->addItem("PackBits", ioTIFF_PACKBITS);
    const int at = compression->findData(params.TIFF_Compression);
    compression->setCurrentIndex(at >= 0 ? at : 1);
    form->addRow("Compression", compression);
    apply.push_back([this, compression] {
      FParams.TIFF_Compression = static_cast<TIOTIFFCompression>(compression->currentData().toInt());
      FParams.TIFF_ImageIndex = 0;
    });
  }

  const std::vector<Depth> depths = DepthsOf(fileType, image);
  FDepth = new QComboBox(this);
  FDepth->setObjectName("studio-depth");
  for (const Depth& d : depths) FDepth->addItem(d.Title, QVariant::fromValue(d.Colours));
  FDepth->setEnabled(depths.size() > 1);
  form->addRow("Colours", FDepth);
  FWarning = new QLabel(this);
  FWarning->setWordWrap(true);
  FWarning->setStyleSheet("color: #a00000");
  form->addRow(FWarning);
  FFull = new QPushButton("Keep full colour", this);
  form->addRow(FFull);
  const bool hasFull = depths.front().Colours == 0;
  connect(FFull, &QPushButton::clicked, this, [this] { FDepth->setCurrentIndex(0); });
  connect(FDepth, &QComboBox::currentIndexChanged, this, [this] { CheckColours(); });
  FFull->setVisible(false);
  FFull->setProperty("offered", hasFull);
  apply.push_back([this, depths] {
    const Depth& d = depths[size_t(std::max(0, FDepth->currentIndex()))];
    FParams.BitsPerSample = d.Bits;
    FParams.SamplesPerPixel = d.Samples;
  });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this, apply] {
    for (const auto& a : apply) a();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  buttons->button(QDialogButtonBox::Save)->setDefault(true);
  CheckColours();
}

void StudioSaveOptions::CheckColours() {
  const int keeps = FDepth->currentData().toInt();
  if (keeps == 0 || FImage.PixelFormat() != pf24bit) {
    FWarning->hide();
    FFull->hide();
    return;
  }
  if (FColours < 0) {
    TBitmap copy = FImage;
    TVexaProc proc;
    proc.SetAttachedBitmap(&copy);
    FColours = proc.CalcImageNumColors();
  }
  if (FColours <= keeps) {
    FWarning->hide();
    FFull->hide();
    return;
  }
  FWarning->setText(QString("This image has %1 colours; \"%2\" keeps at most %3.")
                        .arg(FColours)
                        .arg(FDepth->currentText())
                        .arg(keeps));
  FWarning->show();
  FFull->setVisible(FFull->property("offered").toBool());
}
