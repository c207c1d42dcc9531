#include "vexa/dialogs/iopreviews_ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "vexa/core/streams.h"
#include "vexa/dialogs/dialogwidgets_ui.h"
#include "vexa/dialogs/palettedialog_ui.h"
#include "vexa/legacy/vexa_ui.h"

namespace vexa {

namespace {

int PageIndex(TPreviewParamsItems page) {
  for (int i = 0; i < kVXIOPageCount; ++i)
    if (kVXIOPages[i] == page) return i;
  return -1;
}

QComboBox* Combo(QWidget* parent, const char* name, std::initializer_list<const char*> items) {
  auto* c = new QComboBox(parent);
  c->setObjectName(name);
  for (const char* i : items) c->addItem(QString::fromUtf8(i));
  return c;
}

QComboBox* ColourCombo(QWidget* parent, const char* name, TPreviewParamsItems page) {
  auto* c = new QComboBox(parent);
  c->setObjectName(name);
  for (const TVXColourChoice& ch : VXColourChoices(page)) c->addItem(QString::fromUtf8(ch.Text));
  return c;
}

QSpinBox* Spin(QWidget* parent, const char* name, int min, int max) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(name);
  s->setRange(min, max);
  return s;
}

TVexa* MakeView(QWidget* parent, const char* name) {
  auto* v = new TVexa(parent);
  v->setObjectName(name);
  v->SetAutoUndo(false);
  v->SetCenter(true);
  v->SetScrollBars(ssBoth);
  v->SetBackGround(clBtnFace);
  v->setMinimumSize(240, 200);
  return v;
}

}  // namespace

TfIOPreviews::TfIOPreviews(QWidget* parent) : QDialog(parent) {
  setObjectName("fIOPreviews");
  setModal(true);
  FIO.StreamHeaders = false;
  auto* root = new QVBoxLayout(this);

  auto* views = new QGridLayout;
  FSourceLabel = new QLabel(this);
  FResultLabel = new QLabel(this);
  FVexa1 = MakeView(this, "Vexa1");
  FVexa1->SetMouseInteract(VXMI(miZoom) | VXMI(miScroll));
  FVexa2 = MakeView(this, "Vexa2");
  views->addWidget(FSourceLabel, 0, 0);
  views->addWidget(FResultLabel, 0, 1);
  views->addWidget(FVexa1, 1, 0);
  views->addWidget(FVexa2, 1, 1);
  FOriginalCaption = new QLabel(this);
  FOriginalSize = new QLabel(this);
  FOriginalSize->setObjectName("originalSize");
  FCompressedCaption = new QLabel(this);
  FCompressedSize = new QLabel(this);
  FCompressedSize->setObjectName("compressedSize");
  auto* sizes = new QHBoxLayout;
  sizes->addWidget(FOriginalCaption);
  sizes->addWidget(FOriginalSize, 1);
  sizes->addWidget(FCompressedCaption);
  sizes->addWidget(FCompressedSize, 1);
  views->addLayout(sizes, 2, 0, 1, 2);
  views->setRowStretch(1, 1);
  root->addLayout(views, 1);

  FPages = new QTabWidget(this);
  FPages->setObjectName("pages");
  for (int i = 0; i < kVXIOPageCount; ++i) {
    FPageWidgets[static_cast<size_t>(i)] = BuildPage(kVXIOPages[i]);
    FPages->addTab(FPageWidgets[static_cast<size_t>(i)], QString());
  }
  root->addWidget(FPages);

  const TVXPreviewButtons buttons = VXPreviewButtons(this);
  FLock = buttons.Lock, FPreview = buttons.Preview, FOk = buttons.Ok, FCancel = buttons.Cancel;
  FProgress = buttons.Progress;
  root->addLayout(buttons.Row);

  connect(FPages, &QTabWidget::currentChanged, this, [this] { PageChanged(); });
  connect(FLock, &QPushButton::toggled, this, [this](bool on) {
    FPreview->setEnabled(!on);
    if (on && FReady) ApplyAct();
  });
  connect(FPreview, &QPushButton::clicked, this, [this] { ApplyAct(); });
  connect(FOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);
  FVexa1->OnViewChange = [this](TObject*, int) { SyncViews(); };
  Retranslate();
  resize(sizeHint().expandedTo(QSize(620, 560)));
}

TfIOPreviews::~TfIOPreviews() = default;

QWidget* TfIOPreviews::BuildPage(TPreviewParamsItems page) {
  auto* w = new QWidget;
  auto* form = new QFormLayout(w);
  auto row = [&](int word, QWidget* field) {
    auto* l = new QLabel(w);
    FCaptions.emplace_back(l, word);
    form->addRow(l, field);
    return l;
  };
  auto check = [&](int word, const char* name) {
    auto* c = new QCheckBox(w);
    c->setObjectName(name);
    FChecks.emplace_back(c, word);
    form->addRow(c);
    connect(c, &QCheckBox::toggled, this, [this] { Changed(); });
    return c;
  };
  auto watch = [this](QComboBox* c) { connect(c, &QComboBox::currentIndexChanged, this, [this] { Changed(); }); };
  auto watchSpin = [this](QSpinBox* s) { connect(s, &QSpinBox::valueChanged, this, [this] { Changed(); }); };
  auto watchEdit = [this](QLineEdit* e) { connect(e, &QLineEdit::textEdited, this, [this] { Changed(); }); };
  auto colourButton = [&](const char* name) {
    auto* b = new QPushButton(w);
    b->setObjectName(name);
    b->setFixedWidth(48);
    return b;
  };
  switch (page) {
    case ppJPEG:
      FJpegQuality = new TVXTrackEdit(QString(), 0, 100, w);
      FJpegQuality->setObjectName("jpegQuality");
      connect(FJpegQuality, &TVXTrackEdit::ValueChanged, this, [this] { Changed(); });
      row(VXMSG_QUALITY, FJpegQuality);
      FJpegDct = Combo(w, "jpegDct", {"ISLOW", "IFAST", "FLOAT"});
      row(VXMSG_DCTMETHOD, FJpegDct);
      watch(FJpegDct);
      FJpegSmooth = Spin(w, "jpegSmooth", 0, 100);
      row(VXMSG_SMOOTHINGFACTOR, FJpegSmooth);
      watchSpin(FJpegSmooth);
      FJpegOptimal = check(VXMSG_OPTIMALHUFFMAN, "jpegOptimalHuffman");
      FJpegProgressive = check(VXMSG_PROGRESSIVE, "jpegProgressive");
      FJpegPhotometric = Combo(w, "jpegPhotometric", {"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"});
      row(VXMSG_PHOTOMETRIC, FJpegPhotometric);
      watch(FJpegPhotometric);
      break;
    case ppTIFF: {
      FTiffCompression = Combo(w, "tiffCompression", {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX", "LZW",
                                                      "OLDJPEG", "JPEG", "PACKBITS"});
      row(VXMSG_COMPRESSION, FTiffCompression);
      watch(FTiffCompression);
      FTiffIndex = Spin(w, "tiffIndex", 0, 1000);
      row(VXMSG_IMAGEINDEX, FTiffIndex);
      watchSpin(FTiffIndex);
      FTiffPhotometric = Combo(w, "tiffPhotometric", {"WHITEISZERO", "BLACKISZERO", "RGB", "RGBPALETTE",
                                                      "TRANSPMASK", "CMYK", "YCBCR", "CIELAB"});
      row(VXMSG_PHOTOMETRIC, FTiffPhotometric);
      connect(FTiffPhotometric, &QComboBox::currentIndexChanged, this, [this] { TiffPhotometricChanged(); });
      FTiffColours = ColourCombo(w, "tiffColours", ppTIFF);
      row(VXMSG_COLORS, FTiffColours);
      watch(FTiffColours);
      auto* doc = new QGroupBox(w);
      doc->setObjectName("tiffDocument");
      auto* dl = new QFormLayout(doc);
      auto docRow = [&](int word, QWidget* field) {
        auto* l = new QLabel(doc);
        FCaptions.emplace_back(l, word);
        dl->addRow(l, field);
      };
      FTiffXPos = Spin(doc, "tiffXPos", 0, 100000);
      FTiffYPos = Spin(doc, "tiffYPos", 0, 100000);
      FTiffDocument = new QLineEdit(doc);
      FTiffDocument->setObjectName("tiffDocumentName");
      FTiffDescription = new QLineEdit(doc);
      FTiffDescription->setObjectName("tiffDescription");
      FTiffPageName = new QLineEdit(doc);
      FTiffPageName->setObjectName("tiffPageName");
      FTiffPageNumber = Spin(doc, "tiffPageNumber", 0, 65535);
      FTiffPageCount = Spin(doc, "tiffPageCount", 0, 65535);
      docRow(VXMSG_HORIZPOSITIONINCH, FTiffXPos);
      docRow(VXMSG_VERTPOSITIONINCH, FTiffYPos);
      docRow(VXMSG_NAME, FTiffDocument);
      docRow(VXMSG_DESCRIPTION, FTiffDescription);
      docRow(VXMSG_PAGENAME, FTiffPageName);
      auto* pages = new QWidget(doc);
      auto* pl = new QHBoxLayout(pages);
      pl->setContentsMargins(0, 0, 0, 0);
      auto* of = new QLabel(pages);
      FCaptions.emplace_back(of, VXMSG_OF);
      pl->addWidget(FTiffPageNumber);
      pl->addWidget(of);
      pl->addWidget(FTiffPageCount);
      docRow(VXMSG_PAGENUMBER, pages);
      for (QSpinBox* s : {FTiffXPos, FTiffYPos, FTiffPageNumber, FTiffPageCount}) watchSpin(s);
      for (QLineEdit* e : {FTiffDocument, FTiffDescription, FTiffPageName}) watchEdit(e);
      form->addRow(doc);
      break;
    }
    case ppGIF: {
      FGifIndex = Spin(w, "gifIndex", 0, 1000);
      row(VXMSG_IMAGEINDEX, FGifIndex);
      watchSpin(FGifIndex);
      FGifColours = ColourCombo(w, "gifColours", ppGIF);
      row(VXMSG_COLORS, FGifColours);
      watch(FGifColours);
      FGifTransparent = check(VXMSG_TRANSPARENT, "gifTransparent");
      FGifTranspColor = colourButton("gifTranspColor");
      row(VXMSG_TRANSPARENTCOLOR, FGifTranspColor);
      connect(FGifTranspColor, &QPushButton::clicked, this,
              [this] { PickColour(FWork.GIF_TranspColor, FGifTranspColor); });
      FGifInterlaced = check(VXMSG_INTERLACED, "gifInterlaced");
      FGifBackground = colourButton("gifBackground");
      row(VXMSG_BACKGROUND, FGifBackground);
      connect(FGifBackground, &QPushButton::clicked, this,
              [this] { PickColour(FWork.GIF_Background, FGifBackground); });
      FGifDelay = Spin(w, "gifDelay", 0, 65535);
      row(VXMSG_DELAYTIME, FGifDelay);
      FGifXPos = Spin(w, "gifXPos", 0, 65535);
      row(VXMSG_HORIZPOSITION, FGifXPos);
      FGifYPos = Spin(w, "gifYPos", 0, 65535);
      row(VXMSG_VERTPOSITION, FGifYPos);
      for (QSpinBox* s : {FGifDelay, FGifXPos, FGifYPos}) watchSpin(s);
      break;
    }
    case ppBMP:
      FBmpCompression = Combo(w, "bmpCompression", {"UNCOMPRESSED", "RLE"});
      row(VXMSG_COMPRESSION, FBmpCompression);
      watch(FBmpCompression);
      FBmpColours = ColourCombo(w, "bmpColours", ppBMP);
      row(VXMSG_COLORS, FBmpColours);
      watch(FBmpColours);
      break;
    case ppPCX:
      FPcxCompression = Combo(w, "pcxCompression", {"UNCOMPRESSED", "RLE"});
      row(VXMSG_COMPRESSION, FPcxCompression);
      watch(FPcxCompression);
      FPcxColours = ColourCombo(w, "pcxColours", ppPCX);
      row(VXMSG_COLORS, FPcxColours);
      watch(FPcxColours);
      break;
    case ppPNG:
      FPngColours = ColourCombo(w, "pngColours", ppPNG);
      row(VXMSG_COLORS, FPngColours);
      watch(FPngColours);
      FPngBackground = colourButton("pngBackground");
      row(VXMSG_BACKGROUND, FPngBackground);
      connect(FPngBackground, &QPushButton::clicked, this,
              [this] { PickColour(FWork.PNG_Background, FPngBackground); });
      FPngFilter = Combo(w, "pngFilter", {"NONE", "SUB", "PAETH"});
      row(VXMSG_FILTER, FPngFilter);
      watch(FPngFilter);
      FPngCompression = Combo(w, "pngCompression", {"NONE", "1", "2", "3", "4", "5", "6", "7", "8", "MAX"});
      row(VXMSG_COMPRESSION, FPngCompression);
      watch(FPngCompression);
      FPngInterlaced = check(VXMSG_INTERLACED, "pngInterlaced");
      break;
    case ppTGA:
      FTgaColours = ColourCombo(w, "tgaColours", ppTGA);
      row(VXMSG_COLORS, FTgaColours);
      watch(FTgaColours);
      FTgaBackground = colourButton("tgaBackground");
      row(VXMSG_BACKGROUND, FTgaBackground);
      connect(FTgaBackground, &QPushButton::clicked, this,
              [this] { PickColour(FWork.TGA_Background, FTgaBackground); });
      FTgaName = new QLineEdit(w);
      FTgaName->setObjectName("tgaName");
      row(VXMSG_NAME, FTgaName);
      FTgaDescription = new QLineEdit(w);
      FTgaDescription->setObjectName("tgaDescription");
      row(VXMSG_DESCRIPTION, FTgaDescription);
      for (QLineEdit* e : {FTgaName, FTgaDescription}) watchEdit(e);
      FTgaCompressed = check(VXMSG_COMPRESSION, "tgaCompressed");
      break;
    default: break;
  }
  return w;
}

void TfIOPreviews::Retranslate() {
  const TMsgLanguage l = FSetup.Language;
  setWindowTitle(VXWord(VXMSG_PARAMETERSPREVIEW, l));
  FSourceLabel->setText(VXWord(VXMSG_SOURCE, l));
  FResultLabel->setText(VXWord(VXMSG_RESULT, l));
  FOriginalCaption->setText(VXWord(VXMSG_ORIGINALSIZE, l) + QStringLiteral(":"));
  FCompressedCaption->setText(VXWord(VXMSG_COMPRESSEDSIZE, l) + QStringLiteral(":"));
  FLock->setText(VXWord(VXMSG_LOCKPREVIEW, l));
  FPreview->setText(VXWord(VXMSG_PREVIEW, l));
  FOk->setText(VXWord(VXMSG_OK, l));
  FCancel->setText(VXWord(VXMSG_CANCEL, l));
  for (auto& [label, word] : FCaptions) label->setText(VXWord(static_cast<TMsgLanguageWords>(word), l));
  for (auto& [box, word] : FChecks) box->setText(VXWord(static_cast<TMsgLanguageWords>(word), l));
  if (auto* doc = FPages->findChild<QGroupBox*>("tiffDocument")) doc->setTitle(VXWord(VXMSG_SCANNDEDDOCUMENTINFO, l));
  const char* titles[] = {"JPEG", "TIFF", "GIF", "BMP", "PCX", "PNG", "TGA"};
  for (int i = 0; i < kVXIOPageCount; ++i) FPages->setTabText(i, QString::fromUtf8(titles[i]));
}

void TfIOPreviews::Setup(const TVXPreviewSetup& setup) {
  FSetup = setup;
  Retranslate();
  VXApplyPreviewFont(*this, setup.Font);
  SetLockPreview(setup.LockPreview);
}

void TfIOPreviews::SetParams(const TIOParamsVals& params) {
  FWork = params;
  FWork.Owner = nullptr;
}

void TfIOPreviews::SetImage(const TBitmap& image) {
  FVexa1->Assign(&image);
  FVexa1->Update();
  FSourcePalette.clear();
  const TBitmap& b = FVexa1->Bitmap();
  FOriginalSize->setText(QString::number(static_cast<qint64>(b.ImageSize())) + QStringLiteral(" bytes"));
}

bool TfIOPreviews::SetPages(TPreviewParams pages) {
  FPagesSet = VXResolveIOPages(pages, FWork.FileType);
  if (!VXIOAnyPage(FPagesSet)) return false;
  FLoading = true;
  int first = -1;
  for (int i = 0; i < kVXIOPageCount; ++i) {
    const bool visible = VXIOPageVisible(FPagesSet, kVXIOPages[i]);
    FPages->setTabVisible(i, visible);
    if (visible && first < 0) first = i;
  }
  FPages->setCurrentIndex(first);
  for (TPreviewParamsItems p : kVXIOPages) LoadControls(p);
  FLoading = false;
  FReady = true;
  if (layout()) layout()->activate();
  FVexa1->Fit();
  PageChanged();
  return true;
}

TPreviewParamsItems TfIOPreviews::ActivePage() const {
  const int i = FPages->currentIndex();
  return i >= 0 ? kVXIOPages[i] : ppALL;
}

void TfIOPreviews::SetActivePage(TPreviewParamsItems page) {
  const int i = PageIndex(page);
  if (i >= 0 && FPages->isTabVisible(i)) FPages->setCurrentIndex(i);
}

bool TfIOPreviews::LockPreview() const { return FLock->isChecked(); }

void TfIOPreviews::SetLockPreview(bool on) {
  FLock->setChecked(on);
  FPreview->setEnabled(!on);
}

void TfIOPreviews::ShowColour(QPushButton* button, TRGB c) {
  button->setStyleSheet(QStringLiteral("background-color: rgb(%1,%2,%3)").arg(c.r).arg(c.g).arg(c.b));
}

void TfIOPreviews::LoadControls(TPreviewParamsItems page) {
  const bool was = FLoading;
  FLoading = true;
  const TIOParamsVals& p = FWork;
  auto colours = [&](QComboBox* c) { c->setCurrentIndex(VXColourIndex(page, p.BitsPerSample, p.SamplesPerPixel)); };
  switch (page) {
    case ppJPEG:
      FJpegQuality->SetValue(p.JPEG_Quality);
      FJpegDct->setCurrentIndex(p.JPEG_DCTMethod);
      FJpegSmooth->setValue(p.JPEG_Smooth);
      FJpegOptimal->setChecked(p.JPEG_OptimalHuffman);
      FJpegProgressive->setChecked(p.JPEG_Progressive);
      FJpegPhotometric->setCurrentIndex(p.JPEG_ColorSpace);
      break;
    case ppTIFF: {
      FTiffCompression->setCurrentIndex(p.TIFF_Compression);
      FTiffIndex->setValue(p.TIFF_ImageIndex);
      FTiffPhotometric->setCurrentIndex(p.TIFF_PhotometInterpret);
      colours(FTiffColours);
      int index = FTiffColours->currentIndex();
      bool locked = false;
      // A record that already says CMYK or grey opens with the list locked.
      if (p.TIFF_PhotometInterpret != ioTIFF_RGB && p.TIFF_PhotometInterpret != ioTIFF_RGBPALETTE &&
          p.TIFF_PhotometInterpret != ioTIFF_TRANSPMASK)
        VXTiffPhotometricColours(p.TIFF_PhotometInterpret, index, locked);
      FTiffColours->setCurrentIndex(index);
      FTiffColours->setEnabled(!locked);
      FTiffXPos->setValue(p.TIFF_XPos);
      FTiffYPos->setValue(p.TIFF_YPos);
      FTiffDocument->setText(QString::fromStdString(p.TIFF_DocumentName));
      FTiffDescription->setText(QString::fromStdString(p.TIFF_ImageDescription));
      FTiffPageName->setText(QString::fromStdString(p.TIFF_PageName));
      FTiffPageNumber->setValue(p.TIFF_PageNumber);
      FTiffPageCount->setValue(p.TIFF_PageCount);
      break;
    }
    case ppGIF:
      FGifIndex->setValue(p.GIF_ImageIndex);
      colours(FGifColours);
      FGifTransparent->setChecked(p.GIF_FlagTranspColor);
      ShowColour(FGifTranspColor, p.GIF_TranspColor);
      FGifInterlaced->setChecked(p.GIF_Interlaced);
      ShowColour(FGifBackground, p.GIF_Background);
      FGifDelay->setValue(p.GIF_DelayTime);
      FGifXPos->setValue(p.GIF_XPos);
      FGifYPos->setValue(p.GIF_YPos);
      break;
    case ppBMP:
      FBmpCompression->setCurrentIndex(p.BMP_Compression);
      colours(FBmpColours);
      break;
    case ppPCX:
      FPcxCompression->setCurrentIndex(p.PCX_Compression);
      colours(FPcxColours);
      break;
    case ppPNG:
      colours(FPngColours);
      ShowColour(FPngBackground, p.PNG_Background);
      FPngFilter->setCurrentIndex(p.PNG_Filter);
      FPngCompression->setCurrentIndex(std::clamp(p.PNG_Compression, 0, 9));
      FPngInterlaced->setChecked(p.PNG_Interlaced);
      break;
    case ppTGA:
      colours(FTgaColours);
      ShowColour(FTgaBackground, p.TGA_Background);
      FTgaName->setText(QString::fromStdString(p.TGA_ImageName));
      FTgaDescription->setText(QString::fromStdString(p.TGA_Descriptor));
      FTgaCompressed->setChecked(p.TGA_Compressed);
      break;
    default: break;
  }
  FLoading = was;
}

void TfIOPreviews::ReadControls(TPreviewParamsItems page) {
  TIOParamsVals& p = FWork;
  auto colours = [&](QComboBox* c) {
    const auto list = VXColourChoices(page);
    const int i = c->currentIndex();
    if (i < 0 || i >= static_cast<int>(list.size())) return;
    p.BitsPerSample = list[static_cast<size_t>(i)].BitsPerSample;
    p.SamplesPerPixel = list[static_cast<size_t>(i)].SamplesPerPixel;
  };
  switch (page) {
    case ppJPEG:
      p.JPEG_Quality = FJpegQuality->Value();
      p.JPEG_DCTMethod = static_cast<TIOJPEGDctMethod>(std::max(0, FJpegDct->currentIndex()));
      p.JPEG_Smooth = FJpegSmooth->value();
      p.JPEG_OptimalHuffman = FJpegOptimal->isChecked();
      p.JPEG_Progressive = FJpegProgressive->isChecked();
      p.JPEG_ColorSpace = static_cast<TIOJPEGColorspace>(std::max(0, FJpegPhotometric->currentIndex()));
      break;
    case ppTIFF:
      p.TIFF_Compression = static_cast<TIOTIFFCompression>(std::max(0, FTiffCompression->currentIndex()));
      p.TIFF_ImageIndex = FTiffIndex->value();
      p.TIFF_PhotometInterpret = static_cast<TIOTIFFPhotometInterpret>(std::max(0, FTiffPhotometric->currentIndex()));
      colours(FTiffColours);
      p.TIFF_XPos = FTiffXPos->value();
      p.TIFF_YPos = FTiffYPos->value();
      p.TIFF_DocumentName = FTiffDocument->text().toStdString();
      p.TIFF_ImageDescription = FTiffDescription->text().toStdString();
      p.TIFF_PageName = FTiffPageName->text().toStdString();
      p.TIFF_PageNumber = FTiffPageNumber->value();
      p.TIFF_PageCount = FTiffPageCount->value();
      break;
    case ppGIF:
      p.GIF_ImageIndex = FGifIndex->value();
      colours(FGifColours);
      p.GIF_FlagTranspColor = FGifTransparent->isChecked();
      p.GIF_Interlaced = FGifInterlaced->isChecked();
      p.GIF_DelayTime = FGifDelay->value();
      p.GIF_XPos = FGifXPos->value();
      p.GIF_YPos = FGifYPos->value();
      break;
    case ppBMP:
      p.BMP_Compression = static_cast<TIOBMPCompression>(std::max(0, FBmpCompression->currentIndex()));
      colours(FBmpColours);
      break;
    case ppPCX:
      p.PCX_Compression = static_cast<TIOPCXCompression>(std::max(0, FPcxCompression->currentIndex()));
      colours(FPcxColours);
      break;
    case ppPNG:
      colours(FPngColours);
      p.PNG_Filter = static_cast<TIOPNGFilter>(std::max(0, FPngFilter->currentIndex()));
      p.PNG_Compression = std::max(0, FPngCompression->currentIndex());
      p.PNG_Interlaced = FPngInterlaced->isChecked();
      break;
    case ppTGA:
      colours(FTgaColours);
      p.TGA_ImageName = FTgaName->text().toStdString();
      p.TGA_Descriptor = FTgaDescription->text().toStdString();
      p.TGA_Compressed = FTgaCompressed->isChecked();
      break;
    default: break;
  }
}

void TfIOPreviews::TiffPhotometricChanged() {
  if (FLoading) return;
  int index = FTiffColours->currentIndex();
  bool locked = false;
  VXTiffPhotometricColours(static_cast<TIOTIFFPhotometInterpret>(FTiffPhotometric->currentIndex()), index, locked);
  FLoading = true;
  FTiffColours->setCurrentIndex(index);
  FTiffColours->setEnabled(!locked);
  FLoading = false;
  Changed();
}

void TfIOPreviews::Changed() {
  if (FLoading || !FReady) return;
  ReadControls(ActivePage());
  if (LockPreview()) ApplyAct();
}

void TfIOPreviews::PageChanged() {
  if (FLoading || !FReady) return;
  ApplyAct();
}

void TfIOPreviews::ApplyAct() {
  if (!FReady) return;
  const TPreviewParamsItems page = ActivePage();
  ReadControls(page);
  // Saving works on a copy: the codecs may change the bitmap they are given.
  FSaveCopy = FVexa1->Bitmap();
  FIO.SetAttachedBitmap(&FSaveCopy);
  FIO.Params.Assign(FWork);
  FIO.Params.Owner = &FIO;
  FIO.Params.FreeColorMap();
  auto progress = [this](int base) {
    return [this, base](TObject* sender, int per) {
      FProgress->setValue(std::clamp(base + per / 2, 0, 100));
      if (FSetup.OnProgress) FSetup.OnProgress(sender, base + per / 2);
    };
  };
  FPalette.clear();
  if (page == ppJPEG) {
    TMemoryStream ms;
    FIO.OnProgress = progress(0);
    FIO.SaveToStreamJpeg(ms);
    FCompressed = ms.Size();
    ms.Seek(0, soBeginning);
    FVexa2->IO().StreamHeaders = false;
    FVexa2->SetOnProgress(progress(50));
    FVexa2->LoadFromStreamJpeg(ms);
    FVexa2->SetOnProgress({});
  } else {
    TNulStream counter;
    FIO.OnProgress = progress(0);
    const int types[] = {0, 0, 0, ioTIFF, ioGIF, ioBMP, ioPCX, ioPNG, ioTGA};
    FIO.SaveToStream(counter, types[page]);
    FCompressed = counter.Size();
    FVexa2->Assign(&FVexa1->Bitmap());
    const TVXColourChoice want{"", FWork.BitsPerSample, FWork.SamplesPerPixel};
    const int64_t colours = VXColourCount(want);
    if (colours <= 256) {
      TVexaProc& proc = FVexa2->Proc();
      if (page == ppBMP || page == ppPCX) {
        proc.ConvertTo(static_cast<int>(colours));
        if (colours <= 2) FPalette = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
        else proc.CalcImagePalette(FPalette, static_cast<int>(colours));
      } else {
        proc.ConvertToPalette(static_cast<int>(colours), FPalette);
      }
      FIO.Params.SetColorMap(FPalette.data(), static_cast<int>(FPalette.size()));
    }
  }
  FIO.OnProgress = {};
  FIO.SetAttachedBitmap(nullptr);
  FProgress->setValue(0);
  FCompressedSize->setText(QString::number(FCompressed) + QStringLiteral(" bytes"));
  FVexa2->Update();
  SyncViews();
}

void TfIOPreviews::SyncViews() {
  if (FVexa2->Zoom() != FVexa1->Zoom()) FVexa2->SetZoom(FVexa1->Zoom());
  FVexa2->SetViewXY(FVexa1->ViewX(), FVexa1->ViewY());
}

const std::vector<TRGB>& TfIOPreviews::OfferedPalette() const {
  if (!FPalette.empty()) return FPalette;
  if (FSourcePalette.empty() && FVexa1->Bitmap().PixelFormat() == pf24bit)
    FVexa1->Proc().CalcImagePalette(FSourcePalette, 256);
  return FSourcePalette;
}

int TfIOPreviews::PaletteEntriesOffered() const {
  const auto& pal = OfferedPalette();
  if (&pal == &FSourcePalette) return static_cast<int>(pal.size());
  const int bits = std::clamp(FWork.BitsPerSample, 1, 8);
  return std::min(static_cast<int>(pal.size()), 1 << bits);
}

void TfIOPreviews::PickColour(TRGB& target, QPushButton* button) {
  const auto& pal = OfferedPalette();
  TVexaPaletteDialog dlg(this);
  dlg.SetPalette(pal.data(), PaletteEntriesOffered());
  dlg.CancelButton()->setText(VXWord(VXMSG_CANCEL, FSetup.Language));
  if (!dlg.Execute()) return;
  target = TColor2TRGB(dlg.Color());
  ShowColour(button, target);
  if (LockPreview()) ApplyAct();
}

void TfIOPreviews::WriteParams(TIOParamsVals& params) const {
  VXIOCopyPageFields(ActivePage(), params, FWork);
}

}  // namespace vexa
