#include "vexa/io/vexaio.h"

#include <algorithm>
#include <cstring>

#include "vexa/codecs/gif.h"
#include "vexa/codecs/tiff.h"
#include "vexa/core/raster.h"
#include "vexa/io/detect.h"
#include "vexa/io/formats.h"
#include "vexa/io/formattable.h"
#include "vexa/io/metafile.h"
#include "vexa/io/scanservice.h"

namespace vexa {

namespace {

// Parameter-only reads share nullpr; a flag left set by an earlier call must not stop this one.
TProgressRec& FreshNullProgress() {
  if (nullpr.Aborting) *nullpr.Aborting = false;
  return nullpr;
}

}  // namespace

TVexaIO::TVexaIO(TComponent* owner) : TComponent(owner) {}

TVexaIO::~TVexaIO() { StopListening(); }

// ---------------------------------------------------------------------------
// Links

void TVexaIO::StopListening() {
  if (FVexa) FVexa->RemoveBitmapChangeEvent(this);
}

void TVexaIO::OnViewBitmapChange() {
  if (FVexa) {
    FBitmap = FVexa->GetFBitmap();
    FBitmapOwner = FVexa;
  }
}

void TVexaIO::SetAttachedVexa(TVXView* view) {
  StopListening();
  FVexa = view;
  if (!view) return;
  FBitmap = view->GetFBitmap();
  FBitmapOwner = view;
  FreeNotification(view);
  FTImage = nullptr;
  view->RegisterBitmapChangeEvent(this, [this](TObject*) { OnViewBitmapChange(); });
}

void TVexaIO::SetAttachedTImage(TImage* image) {
  StopListening();
  FTImage = image;
  if (!image) return;
  FBitmap = &image->PictureBitmap();
  FBitmapOwner = image;
  FreeNotification(image);
  FVexa = nullptr;
}

void TVexaIO::SetAttachedBitmap(TBitmap* bmp) {
  // Keep listening while a view stays attached: only a real detach ends it.
  if (!bmp && (FVexa || FTImage)) return;
  StopListening();
  FBitmap = bmp;
  FBitmapOwner = nullptr;
  if (bmp) FVexa = nullptr, FTImage = nullptr;
}

void TVexaIO::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  // The view is already past its own destructor here, so its callback list is gone:
  // forgetting it is all that is left to do.
  if (FVexa && static_cast<TComponent*>(FVexa) == component) FVexa = nullptr;
  if (FTImage && static_cast<TComponent*>(FTImage) == component) FTImage = nullptr;
  // Also covers a view or image detached with null whose bitmap we still point into.
  if (FBitmapOwner == component) FBitmap = nullptr, FBitmapOwner = nullptr;
}

TColor TVexaIO::Background() const { return FVexa ? FVexa->Background() : FBackground; }

void TVexaIO::SetBackground(TColor color) {
  if (FVexa)
    FVexa->SetBackGround(color);
  else
    FBackground = color;
}

bool TVexaIO::ParamsViewDpi(int& dpiX, int& dpiY) {
  if (!FVexa) return false;
  dpiX = FVexa->DPIX(), dpiY = FVexa->DPIY();
  return true;
}

// ---------------------------------------------------------------------------
// Shared steps

TProgressRec TVexaIO::MakeProgress() {
  TProgressRec pr;
  pr.OnProgress = OnProgress;
  pr.Sender = this;
  pr.Aborting = &Aborting;
  pr.Failure = &FFailure;
  return pr;
}

void TVexaIO::SetViewDpi() {
  if (FVexa) FVexa->SetDPI(Params.DpiX, Params.DpiY);
}

void TVexaIO::Update() {
  if (FVexa) {
    FVexa->Update();
    FVexa->ImageChange();
  } else if (FBitmap) {
    FBitmap->Changed();
  }
}

void TVexaIO::Clear() {
  if (FBitmap) VXFillRect(*FBitmap, TRect{0, 0, FBitmap->Width(), FBitmap->Height()}, Background());
}

void TVexaIO::PrepareSave() {
  if (FBitmap->PixelFormat() != pf24bit && FBitmap->PixelFormat() != pf1bit) FBitmap->SetPixelFormat(pf24bit);
}

void TVexaIO::AfterLoad(const std::string& fileName, int fileType, bool setDpi) {
  Params.FileName = fileName;
  Params.FileType = fileType;
  if (fileType == ioGIF)
    SetBackground(TRGB2TColor(Params.GIF_FlagTranspColor ? Params.GIF_TranspColor : Params.GIF_Background));
  else if (fileType == ioPNG)
    SetBackground(TRGB2TColor(Params.PNG_Background));
  if (setDpi) SetViewDpi();
  Update();
}

bool TVexaIO::AssignParams(TObject* source) {
  if (auto* io = dynamic_cast<TVexaIO*>(source)) {
    Params.Assign(io->Params);
    return true;
  }
  if (auto* p = dynamic_cast<TIOParamsVals*>(source)) {
    Params.Assign(*p);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Generic steps over a row of the format table

void TVexaIO::Begin() {
  Aborting = false;
  FFailure.Clear();
}

void TVexaIO::Refuse(TVXFailureKind kind, std::string text) {
  Aborting = true;
  FFailure.Set(kind, std::move(text));
}

TVXFailure TVexaIO::LastFailure() const {
  if (FFailure.Failed() || !Aborting) return FFailure;
  TVXFailure stopped;
  stopped.Set(fkStopped, "by the progress handler, or by a reader that gave no reason");
  return stopped;
}

int TVexaIO::LoadFile(const TVXBuiltinFormat& format, const std::string& name) {
  Begin();
  if (!FBitmap) return 0;
  TProgressRec pr = MakeProgress();
  if (format.BeforeFileLoad) format.BeforeFileLoad(Params, name, Background());
  int32_t count = 0;
  {
    TFileStream f(name, fmOpenRead);
    TVXReadJob job{f, *FBitmap, Params, pr};
    job.FileSize = f.Size();
    format.Read(job);
    count = job.Count;
  }
  AfterLoad(name, format.FileType, true);
  return count;
}

int TVexaIO::LoadStream(const TVXBuiltinFormat& format, TStream& stream) {
  Begin();
  if (!FBitmap) return 0;
  TProgressRec pr = MakeProgress();
  TVXReadJob job{stream, *FBitmap, Params, pr};
  job.Framed = true;
  job.StreamHeaders = StreamHeaders;
  format.Read(job);
  AfterLoad("", format.FileType, format.StreamLoadSetsDpi);
  return job.Count;
}

namespace {
// A refused or stopped save leaves the temporary file to be removed; a failing
// rename or close still raises, with its reason kept readable.
void CommitSave(TSafeFileStream& f, bool aborting, TVXFailure& failure) {
  if (aborting) return;
  try {
    f.Commit();
  } catch (const EStreamError& e) {
    failure.Set(fkStreamError, e.what());
    throw;
  }
}
}  // namespace

void TVexaIO::SaveFile(const TVXBuiltinFormat& format, const std::string& name) {
  Begin();
  if (!FBitmap) return;
  PrepareSave();
  // Through a temporary file beside the target: a refused, stopped or failed write
  // leaves whatever was there before.
  TSafeFileStream f(name);
  SaveStreamJob(format, f, false);
  CommitSave(f, Aborting, FFailure);
}

void TVexaIO::SaveStream(const TVXBuiltinFormat& format, TStream& stream) {
  Begin();
  if (!FBitmap) return;
  PrepareSave();
  SaveStreamJob(format, stream, StreamHeaders);
}

void TVexaIO::SaveStreamJob(const TVXBuiltinFormat& format, TStream& stream, bool framed) {
  TProgressRec pr = MakeProgress();
  TVXWriteJob job{stream, *FBitmap, Params, pr};
  job.Framed = framed;
  try {
    format.Write(job);
  } catch (const EStreamError& e) {
    // Stream errors still raise; the reason stays readable for callers that catch them.
    FFailure.Set(fkStreamError, e.what());
    throw;
  }
}

// ---------------------------------------------------------------------------
// Loading and saving, per format

void TVexaIO::LoadFromFileJpeg(const std::string& name) { LoadFile(*VXBuiltinFormat(ioJPEG), name); }
void TVexaIO::LoadFromStreamJpeg(TStream& stream) { LoadStream(*VXBuiltinFormat(ioJPEG), stream); }
void TVexaIO::LoadFromFilePNG(const std::string& name) { LoadFile(*VXBuiltinFormat(ioPNG), name); }
void TVexaIO::LoadFromStreamPNG(TStream& stream) { LoadStream(*VXBuiltinFormat(ioPNG), stream); }
int TVexaIO::LoadFromFileTIFF(const std::string& name) { return LoadFile(*VXBuiltinFormat(ioTIFF), name); }
int TVexaIO::LoadFromStreamTIFF(TStream& stream) { return LoadStream(*VXBuiltinFormat(ioTIFF), stream); }
int TVexaIO::LoadFromFileGif(const std::string& name) { return LoadFile(*VXBuiltinFormat(ioGIF), name); }
int TVexaIO::LoadFromStreamGif(TStream& stream) { return LoadStream(*VXBuiltinFormat(ioGIF), stream); }
void TVexaIO::LoadFromFilePCX(const std::string& name) { LoadFile(*VXBuiltinFormat(ioPCX), name); }
void TVexaIO::LoadFromStreamPCX(TStream& stream) { LoadStream(*VXBuiltinFormat(ioPCX), stream); }
void TVexaIO::LoadFromFileBMP(const std::string& name) { LoadFile(*VXBuiltinFormat(ioBMP), name); }
void TVexaIO::LoadFromStreamBMP(TStream& stream) { LoadStream(*VXBuiltinFormat(ioBMP), stream); }
void TVexaIO::LoadFromFileICO(const std::string& name) { LoadFile(*VXBuiltinFormat(ioICO), name); }
void TVexaIO::LoadFromStreamICO(TStream& stream) { LoadStream(*VXBuiltinFormat(ioICO), stream); }
void TVexaIO::LoadFromFileCUR(const std::string& name) { LoadFile(*VXBuiltinFormat(ioCUR), name); }
void TVexaIO::LoadFromStreamCUR(TStream& stream) { LoadStream(*VXBuiltinFormat(ioCUR), stream); }
void TVexaIO::LoadFromFileTGA(const std::string& name) { LoadFile(*VXBuiltinFormat(ioTGA), name); }
void TVexaIO::LoadFromStreamTGA(TStream& stream) { LoadStream(*VXBuiltinFormat(ioTGA), stream); }

void TVexaIO::SaveToFileJpeg(const std::string& name) { SaveFile(*VXBuiltinFormat(ioJPEG), name); }
void TVexaIO::SaveToStreamJpeg(TStream& stream) { SaveStream(*VXBuiltinFormat(ioJPEG), stream); }
void TVexaIO::SaveToFilePNG(const std::string& name) { SaveFile(*VXBuiltinFormat(ioPNG), name); }
void TVexaIO::SaveToStreamPNG(TStream& stream) { SaveStream(*VXBuiltinFormat(ioPNG), stream); }
void TVexaIO::SaveToFileTIFF(const std::string& name) { SaveFile(*VXBuiltinFormat(ioTIFF), name); }
void TVexaIO::SaveToStreamTIFF(TStream& stream) { SaveStream(*VXBuiltinFormat(ioTIFF), stream); }
void TVexaIO::SaveToFileGif(const std::string& name) { SaveFile(*VXBuiltinFormat(ioGIF), name); }
void TVexaIO::SaveToStreamGif(TStream& stream) { SaveStream(*VXBuiltinFormat(ioGIF), stream); }
void TVexaIO::SaveToFilePCX(const std::string& name) { SaveFile(*VXBuiltinFormat(ioPCX), name); }
void TVexaIO::SaveToStreamPCX(TStream& stream) { SaveStream(*VXBuiltinFormat(ioPCX), stream); }
void TVexaIO::SaveToFileBMP(const std::string& name) { SaveFile(*VXBuiltinFormat(ioBMP), name); }
void TVexaIO::SaveToStreamBMP(TStream& stream) { SaveStream(*VXBuiltinFormat(ioBMP), stream); }
void TVexaIO::SaveToFileTGA(const std::string& name) { SaveFile(*VXBuiltinFormat(ioTGA), name); }
void TVexaIO::SaveToStreamTGA(TStream& stream) { SaveStream(*VXBuiltinFormat(ioTGA), stream); }

// ---------------------------------------------------------------------------
// Generic load and save

void TVexaIO::LoadRegistry(const TVXFileFormatInfo* info, TStream& stream, const std::string& fileName) {
  Begin();
  TProgressRec pr = MakeProgress();
  info->ReadFunction(stream, *FBitmap, Params, false, pr);
  AfterLoad(fileName, info->FileType, true);
}

bool TVexaIO::LoadByContent(const std::string& name, int refusedType) {
  const int type = FindFileFormat(name, false);
  if (type == ioUnknown || type == refusedType) return false;
  const TVXFailure failure = FFailure;
  const int fileType = Params.FileType;
  const std::string fileName = Params.FileName;
  if (const TVXBuiltinFormat* format = VXBuiltinFormat(type); format && format->Read) {
    LoadFile(*format, name);
  } else if (const TVXFileFormatInfo* info = VXFileFormatGetInfo(type); info && info->ReadFunction) {
    TFileStream f(name, fmOpenRead);
    LoadRegistry(info, f, name);
  } else {
    return false;
  }
  if (!Aborting) return true;
  // Detection without a signature can be wrong: a second failure explains less than the first.
  FFailure = failure;
  Params.FileType = fileType;
  Params.FileName = fileName;
  return false;
}

namespace {
// Whether the file's first bytes are the format's own: a codec that failed on
// them has met another format, not damaged data of its own.
bool ContentIsFormat(const TVXBuiltinFormat& format, const std::string& name) {
  if (!format.Try) return true;
  try {
    TFileStream f(name, fmOpenRead);
    return format.Try(f);
  } catch (const EStreamError&) {
    return true;
  }
}
}  // namespace

void TVexaIO::LoadFromFile(const std::string& name) {
  if (!FBitmap) return;
  std::string ext = VXExtractFileExt(name);
  if (const TVXBuiltinFormat* format = VXBuiltinFormatForRead(ext)) {
    if (format->Imported) return ImportMetafile(name, -1, -1);
    LoadFile(*format, name);
    // A misnamed file: the extension's codec refused data that is not its format.
    if (Aborting && !ContentIsFormat(*format, name)) LoadByContent(name, format->FileType);
    return;
  }
  const TVXFileFormatInfo* info = VXFileFormatGetInfo2(ext);
  // An extension nobody registered (or none at all): the content may still say.
  if (!info) {
    Begin();
    if (LoadByContent(name, ioUnknown)) return;
  }
  if (!info || !info->ReadFunction) {
    Params.FileName.clear();
    Params.FileType = ioUnknown;
    FFailure.Clear();
    return Refuse(fkUnknownFormat, "no reader for the extension '" + ext + "'");
  }
  Params.FileName.clear();
  Params.FileType = ioUnknown;
  TFileStream f(name, fmOpenRead);
  LoadRegistry(info, f, name);
}

void TVexaIO::LoadFromStream(TStream& stream) {
  if (!FBitmap) return;
  int64_t pos = stream.Position();
  int type = FindStreamFormat(stream);
  stream.SetPosition(pos);
  if (const TVXBuiltinFormat* format = VXBuiltinFormat(type); format && format->Read)
    return static_cast<void>(LoadStream(*format, stream));
  Params.FileName.clear();
  Params.FileType = ioUnknown;
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(type);
  if (!info || !info->ReadFunction) {
    FFailure.Clear();
    return Refuse(fkUnknownFormat, type == ioUnknown ? "the data matches no known format"
                                                     : "no reader for file type " + std::to_string(type));
  }
  LoadRegistry(info, stream, "");
}

void TVexaIO::SaveRegistry(const TVXFileFormatInfo* info, TStream& stream) {
  TProgressRec pr = MakeProgress();
  info->WriteFunction(stream, *FBitmap, Params, pr);
}

void TVexaIO::SaveToFile(const std::string& name) {
  if (!FBitmap) return;
  std::string ext = VXExtractFileExt(name);
  if (const TVXBuiltinFormat* format = VXBuiltinFormatForWrite(ext)) return SaveFile(*format, name);
  const TVXFileFormatInfo* info = VXFileFormatGetInfo2(ext);
  if (!info || !info->WriteFunction) {
    FFailure.Clear();
    return Refuse(fkUnknownFormat, "no writer for the extension '" + ext + "'");
  }
  Begin();
  PrepareSave();
  TSafeFileStream f(name);
  SaveRegistry(info, f);
  CommitSave(f, Aborting, FFailure);
}

void TVexaIO::SaveToStream(TStream& stream, int fileType) {
  if (!FBitmap) return;
  if (const TVXBuiltinFormat* format = VXBuiltinFormat(fileType); format && format->Write)
    return SaveStream(*format, stream);
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType);
  if (!info || !info->WriteFunction) {
    FFailure.Clear();
    return Refuse(fkUnknownFormat, "no writer for file type " + std::to_string(fileType));
  }
  Begin();
  PrepareSave();
  SaveRegistry(info, stream);
}

// ---------------------------------------------------------------------------
// Parameters only

void TVexaIO::ReadParams(TStream& stream, int fileType, int64_t fileSize) {
  // A scratch bitmap: the attached one must stay untouched, and there may be none.
  TBitmap scratch;
  TProgressRec pr = FreshNullProgress();
  pr.Failure = &FFailure;
  if (const TVXBuiltinFormat* format = VXBuiltinFormat(fileType); format && format->Read) {
    TVXReadJob job{stream, scratch, Params, pr};
    job.Preview = true;
    job.Framed = true;
    job.StreamHeaders = StreamHeaders;
    job.FileSize = fileSize;
    format->Read(job);
  } else if (const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType); info && info->ReadFunction) {
    info->ReadFunction(stream, scratch, Params, true, pr);
  }
}

void TVexaIO::ParamsFromFile(const std::string& name) {
  FFailure.Clear();
  Params.FileType = FindFileFormat(name, true);
  try {
    if (Params.FileType != ioUnknown) {
      TFileStream f(name, fmOpenRead);
      ReadParams(f, Params.FileType, f.Size());
    } else {
      FFailure.Set(fkUnknownFormat, "the data matches no format registered for its extension");
    }
  } catch (const std::exception& e) {
    FFailure.Set(fkStreamError, e.what());
    Params.FileType = ioUnknown;
  }
  Params.FileName = name;
}

void TVexaIO::ParamsFromStream(TStream& stream) {
  FFailure.Clear();
  Params.FileType = FindStreamFormat(stream);
  try {
    if (Params.FileType != ioUnknown)
      ReadParams(stream, Params.FileType, 0);
    else
      FFailure.Set(fkUnknownFormat, "the data matches no known format");
  } catch (const std::exception& e) {
    FFailure.Set(fkStreamError, e.what());
    Params.FileType = ioUnknown;
  }
}

// ---------------------------------------------------------------------------
// Metafiles

void TVexaIO::ImportMetafile(const std::string& name, int width, int height) {
  Begin();
  if (width == 0 || height == 0 || !FBitmap) return;
  TVXMetafile meta;
  if (!meta.LoadFromFile(name)) return Refuse(meta.Failure().Kind, meta.Failure().Text);
  int64_t mw = meta.Width(), mh = meta.Height();
  int64_t w, h;
  if (width >= 0 && height >= 0) {
    w = width, h = height;
  } else if (width < 0 && height >= 0) {
    h = height, w = mh > 0 ? h * mw / mh : 0;
  } else if (height < 0 && width >= 0) {
    w = width, h = mw > 0 ? w * mh / mw : 0;
  } else {
    w = mw, h = mh;
  }
  if (w <= 0 || h <= 0) return Refuse(fkCorrupt, "the metafile has no size");
  constexpr int64_t kMaxSide = 2800;
  if (w > kMaxSide || h > kMaxSide) {
    if (w >= h)
      h = std::max<int64_t>(1, h * kMaxSide / w), w = kMaxSide;
    else
      w = std::max<int64_t>(1, w * kMaxSide / h), h = kMaxSide;
  }
  // The one-pixel trim would leave nothing of a one-pixel side.
  if (w < 2 || h < 2) return Refuse(fkSizeLimit, "a side of one pixel leaves nothing after the trim");
  if (!VXCheckBitmapSize(w - 1, h - 1, 24)) return Refuse(fkSizeLimit, VXSizeText(w - 1, h - 1));
  FBitmap->Allocate(static_cast<int>(w - 1), static_cast<int>(h - 1), pf24bit);
  Params.FileName = name;
  Params.FileType = meta.Enhanced() ? ioEMF : ioWMF;
  Params.BitsPerSample = 8;
  Params.SamplesPerPixel = 3;
  Params.Width = FBitmap->Width();
  Params.Height = FBitmap->Height();
  Params.DpiX = gSystemDPIX;
  Params.DpiY = gSystemDPIY;
  Params.FreeColorMap();
  SetViewDpi();
  Clear();
  meta.Draw(*FBitmap, TRect{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)});
  Update();
}

// ---------------------------------------------------------------------------
// Multi-frame files

int TVexaIO::InsertToFileGif(const std::string& name) {
  Begin();
  if (!FBitmap) return -1;
  PrepareSave();
  Params.GIF_WinWidth = std::max(Params.GIF_WinWidth, FBitmap->Width() + Params.GIF_XPos);
  Params.GIF_WinHeight = std::max(Params.GIF_WinHeight, FBitmap->Height() + Params.GIF_YPos);
  int before = EnumGifIm(name);
  TProgressRec pr = MakeProgress();
  int after = _InsertGifIm(name, *FBitmap, Params, pr);
  if (Aborting) return -1;
  _GifMakeAnimate(name, 0, Params.GIF_WinWidth, Params.GIF_WinHeight);
  // An index past the frame count inserts nothing.
  return after == before + 1 ? Params.GIF_ImageIndex : -1;
}

int TVexaIO::InsertToFileTIFF(const std::string& name) {
  Begin();
  if (!FBitmap) return -1;
  PrepareSave();
  TSafeFileStream f(name, true);
  TProgressRec pr = MakeProgress();
  int pages = TIFFWriteStream(f, true, *FBitmap, Params, pr);
  if (pages <= 0 || Aborting) return -1;
  f.Commit();
  int index = Params.TIFF_ImageIndex;
  // A page index past the chain appends.
  return index >= 0 && index < pages - 1 ? index : pages - 1;
}

int DeleteGifIm(const std::string& name, int index) { return _DeleteGifIm(name, index, true); }

int DeleteTIFFIm(const std::string& name, int index) {
  TSafeFileStream f(name, true);
  const int left = _DeleteTIFFImStream(f, index);
  f.Commit();
  return left;
}

int EnumGifIm(const std::string& name) {
  try {
    return _DeleteGifIm(name, -1, false);
  } catch (const std::exception&) {
    return 0;
  }
}

int EnumTIFFIm(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  return _EnumTIFFImStream(f);
}

bool CheckAniGif(const std::string& name) {
  try {
    return _CheckGifAnimate(name);
  } catch (const std::exception&) {
    return false;
  }
}

bool TVexaIO::Acquire() {
  Aborting = false;
  if (!FBitmap) return false;
  TVXScanService* scan = VXScanService();
  bool ok = false;
  if (scan) {
    TProgressRec pr = MakeProgress();
    ok = scan->Acquire(this, *FBitmap, TWainParams, Params, pr);
    if (ok) SetViewDpi();
    scan->RestoreFocus(this);
  }
  Update();
  return ok;
}

bool TVexaIO::SelectAcquireSource() {
  TVXScanService* scan = VXScanService();
  std::string name;
  if (!scan || !scan->SelectSource(this, name)) return false;
  return TWainParams.SelectSourceByName(name);
}

}  // namespace vexa
