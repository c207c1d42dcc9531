#include "vexa/io/vexaio.h"

#include <algorithm>
#include <cstring>

#include "vexa/codecs/bmp.h"
#include "vexa/codecs/gif.h"
#include "vexa/codecs/jpeg.h"
#include "vexa/codecs/pcx.h"
#include "vexa/codecs/png.h"
#include "vexa/codecs/tga.h"
#include "vexa/codecs/tiff.h"
#include "vexa/core/raster.h"
#include "vexa/io/detect.h"
#include "vexa/io/formats.h"
#include "vexa/io/metafile.h"

namespace vexa {

namespace {

constexpr int kHeaderSize = 12;

struct StreamHeader {
  uint8_t Bytes[kHeaderSize] = {};
  const char* Tag() const { return reinterpret_cast<const char*>(Bytes); }
  int32_t Length = 0;
  bool Complete = false;  // all 12 bytes were there
};

StreamHeader ReadHeader(TStream& stream) {
  StreamHeader h;
  uint8_t* b = h.Bytes;
  h.Complete = stream.Read(b, kHeaderSize) == kHeaderSize;
  h.Length = static_cast<int32_t>(b[8] | (b[9] << 8) | (b[10] << 16) | (static_cast<uint32_t>(b[11]) << 24));
  return h;
}

// A length that claims more than the stream holds (or is negative) is cut to what is there.
int64_t ClampLength(TStream& stream, int64_t length) {
  return std::clamp<int64_t>(length, 0, stream.Remaining());
}

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
// Framed stream reads (shared by loads and parameter reads)

void TVexaIO::ReadJpegStream(TStream& stream, TBitmap& bmp, bool preview, TProgressRec& pr) {
  int64_t start = stream.Position();
  StreamHeader h = ReadHeader(stream);
  bool framed = h.Complete && std::memcmp(h.Tag(), "JFIF", 5) == 0;
  stream.SetPosition(framed ? start + kHeaderSize : start);
  int64_t size = framed ? ClampLength(stream, h.Length) : 0;
  ReadJPegStream(stream, bmp, Params, preview, pr);
  if (framed) stream.SetPosition(start + kHeaderSize + size);
}

void TVexaIO::ReadPcxStream(TStream& stream, TBitmap& bmp, bool preview, TProgressRec& pr) {
  if (!StreamHeaders) {
    ::vexa::ReadPcxStream(stream, bmp, Params, preview, pr, stream.Remaining());
    return;
  }
  int64_t start = stream.Position();
  StreamHeader h = ReadHeader(stream);
  if (std::memcmp(h.Tag(), "PCX", 3) != 0) {
    stream.SetPosition(start);
    pr.Abort();
    return;
  }
  if (h.Complete && std::memcmp(h.Tag(), "PCX2", 4) == 0) {
    stream.SetPosition(start + kHeaderSize);
    int64_t size = ClampLength(stream, h.Length);
    ::vexa::ReadPcxStream(stream, bmp, Params, preview, pr, size);
    stream.SetPosition(start + kHeaderSize + size);
  } else {
    // The older 4-byte form: the image runs to the end of the stream.
    stream.SetPosition(start + 4);
    ::vexa::ReadPcxStream(stream, bmp, Params, preview, pr, stream.Remaining());
  }
}

int TVexaIO::ReadTiffStream(TStream& stream, TBitmap& bmp, bool preview, TProgressRec& pr) {
  int32_t pages = 0;
  if (!StreamHeaders) {
    TIFFReadStream(&bmp, stream, pages, &Params, pr, preview);
    return pages;
  }
  int64_t start = stream.Position();
  StreamHeader h = ReadHeader(stream);
  if (!h.Complete || std::memcmp(h.Tag(), "TIFF", 4) != 0) {
    stream.SetPosition(start);
    pr.Abort();
    return 0;
  }
  // A framed page is self-contained (offsets from its own header), and the reader
  // must not wander past the framed length: give it exactly the framed bytes.
  int64_t size = ClampLength(stream, h.Length);
  TMemoryStream data;
  if (size > 0) data.CopyFrom(stream, size);
  data.SetPosition(0);
  TIFFReadStream(&bmp, data, pages, &Params, pr, preview);
  stream.SetPosition(start + kHeaderSize + size);
  return pages;
}

// ---------------------------------------------------------------------------
// Loading, per format

#define VEXA_LOAD_BEGIN    \
  Aborting = false;        \
  if (!FBitmap) return;    \
  TProgressRec pr = MakeProgress()

#define VEXA_LOAD_BEGIN_COUNT \
  Aborting = false;           \
  if (!FBitmap) return 0;     \
  TProgressRec pr = MakeProgress()

void TVexaIO::LoadFromFileJpeg(const std::string& name) {
  VEXA_LOAD_BEGIN;
  {
    TFileStream f(name, fmOpenRead);
    ReadJPegStream(f, *FBitmap, Params, false, pr);
  }
  AfterLoad(name, ioJPEG, true);
}

void TVexaIO::LoadFromStreamJpeg(TStream& stream) {
  VEXA_LOAD_BEGIN;
  ReadJpegStream(stream, *FBitmap, false, pr);
  AfterLoad("", ioJPEG, true);
}

void TVexaIO::LoadFromFilePNG(const std::string& name) {
  VEXA_LOAD_BEGIN;
  Params.PNG_Background = TColor2TRGB(ColorToRGB(Background()));
  {
    TFileStream f(name, fmOpenRead);
    ReadPNGStream(f, *FBitmap, Params, false, pr);
  }
  AfterLoad(name, ioPNG, true);
}

void TVexaIO::LoadFromStreamPNG(TStream& stream) {
  VEXA_LOAD_BEGIN;
  ReadPNGStream(stream, *FBitmap, Params, false, pr);
  AfterLoad("", ioPNG, true);
}

int TVexaIO::LoadFromFileTIFF(const std::string& name) {
  VEXA_LOAD_BEGIN_COUNT;
  int32_t pages = 0;
  {
    TFileStream f(name, fmOpenRead);
    TIFFReadStream(FBitmap, f, pages, &Params, pr, false);
  }
  AfterLoad(name, ioTIFF, true);
  return pages;
}

int TVexaIO::LoadFromStreamTIFF(TStream& stream) {
  VEXA_LOAD_BEGIN_COUNT;
  int pages = ReadTiffStream(stream, *FBitmap, false, pr);
  AfterLoad("", ioTIFF, true);
  return pages;
}

int TVexaIO::LoadFromFileGif(const std::string& name) {
  VEXA_LOAD_BEGIN_COUNT;
  int32_t frames = 0;
  ReadGif(name, *FBitmap, frames, Params, pr);
  AfterLoad(name, ioGIF, true);
  return frames;
}

int TVexaIO::LoadFromStreamGif(TStream& stream) {
  VEXA_LOAD_BEGIN_COUNT;
  int32_t frames = 0;
  ReadGifStream(stream, *FBitmap, frames, Params, pr, false);
  AfterLoad("", ioGIF, false);
  return frames;
}

void TVexaIO::LoadFromFilePCX(const std::string& name) {
  VEXA_LOAD_BEGIN;
  Params.FileName = name;
  Params.FileType = ioPCX;
  ReadPcx(name, *FBitmap, Params, pr);
  AfterLoad(name, ioPCX, true);
}

void TVexaIO::LoadFromStreamPCX(TStream& stream) {
  VEXA_LOAD_BEGIN;
  ReadPcxStream(stream, *FBitmap, false, pr);
  AfterLoad("", ioPCX, true);
}

void TVexaIO::LoadFromFileBMP(const std::string& name) {
  VEXA_LOAD_BEGIN;
  {
    TFileStream f(name, fmOpenRead);
    BMPReadStream(f, *FBitmap, f.Size(), false, pr, Params);
  }
  AfterLoad(name, ioBMP, true);
}

void TVexaIO::LoadFromStreamBMP(TStream& stream) {
  VEXA_LOAD_BEGIN;
  BMPReadStream(stream, *FBitmap, 0, false, pr, Params);
  AfterLoad("", ioBMP, false);
}

void TVexaIO::LoadFromFileICO(const std::string& name) {
  VEXA_LOAD_BEGIN;
  {
    TFileStream f(name, fmOpenRead);
    ICOReadStream(f, *FBitmap, Params, pr, false);
  }
  AfterLoad(name, ioICO, true);
}

void TVexaIO::LoadFromStreamICO(TStream& stream) {
  VEXA_LOAD_BEGIN;
  ICOReadStream(stream, *FBitmap, Params, pr, false);
  AfterLoad("", ioICO, false);
}

void TVexaIO::LoadFromFileCUR(const std::string& name) {
  VEXA_LOAD_BEGIN;
  {
    TFileStream f(name, fmOpenRead);
    CURReadStream(f, *FBitmap, Params, pr, false);
  }
  AfterLoad(name, ioCUR, true);
}

void TVexaIO::LoadFromStreamCUR(TStream& stream) {
  VEXA_LOAD_BEGIN;
  CURReadStream(stream, *FBitmap, Params, pr, false);
  AfterLoad("", ioCUR, false);
}

void TVexaIO::LoadFromFileTGA(const std::string& name) {
  VEXA_LOAD_BEGIN;
  {
    TFileStream f(name, fmOpenRead);
    ReadTGAStream(f, *FBitmap, Params, false, pr);
  }
  AfterLoad(name, ioTGA, true);
}

void TVexaIO::LoadFromStreamTGA(TStream& stream) {
  VEXA_LOAD_BEGIN;
  ReadTGAStream(stream, *FBitmap, Params, false, pr);
  AfterLoad("", ioTGA, false);
}

#undef VEXA_LOAD_BEGIN
#undef VEXA_LOAD_BEGIN_COUNT

// ---------------------------------------------------------------------------
// Saving, per format

void TVexaIO::WriteFramed(TStream& stream, const char* tag, bool skipOnAbort,
                          void (*write)(TStream&, TBitmap&, TIOParamsVals&, TProgressRec&)) {
  TProgressRec pr = MakeProgress();
  if (!StreamHeaders) {
    write(stream, *FBitmap, Params, pr);
    return;
  }
  int64_t headerPos = stream.Position();
  const uint8_t placeholder[kHeaderSize] = {};
  stream.WriteBuffer(placeholder, kHeaderSize);
  write(stream, *FBitmap, Params, pr);
  if (skipOnAbort && Aborting) return;
  int64_t end = stream.Position();
  stream.SetPosition(headerPos);
  stream.WriteBuffer(tag, 4);
  stream.WriteU32(0);
  stream.WriteI32(static_cast<int32_t>(end - headerPos - kHeaderSize));
  stream.SetPosition(end);
}

namespace {
// The TIFF writer stores absolute stream positions; a framed page must not depend
// on where the frame sits, so it is written on its own and copied in.
void WriteTiffSelfContained(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) {
  TMemoryStream page;
  TIFFWriteStream(page, false, b, p, pr);
  s.WriteBuffer(page.Memory(), page.Size());
}
}  // namespace

#define VEXA_SAVE_BEGIN \
  Aborting = false;     \
  if (!FBitmap) return; \
  PrepareSave()

void TVexaIO::SaveToFileJpeg(const std::string& name) {
  VEXA_SAVE_BEGIN;
  TFileStream f(name, fmCreate);
  TProgressRec pr = MakeProgress();
  WriteJPegStream(f, *FBitmap, Params, pr);
}

void TVexaIO::SaveToStreamJpeg(TStream& stream) {
  VEXA_SAVE_BEGIN;
  WriteFramed(stream, "JFIF", false, WriteJPegStream);
}

void TVexaIO::SaveToFilePNG(const std::string& name) {
  VEXA_SAVE_BEGIN;
  TFileStream f(name, fmCreate);
  TProgressRec pr = MakeProgress();
  WritePNGStream(f, *FBitmap, Params, pr);
}

void TVexaIO::SaveToStreamPNG(TStream& stream) {
  VEXA_SAVE_BEGIN;
  TProgressRec pr = MakeProgress();
  WritePNGStream(stream, *FBitmap, Params, pr);
}

void TVexaIO::SaveToFileTIFF(const std::string& name) {
  VEXA_SAVE_BEGIN;
  TFileStream f(name, fmCreate);
  TProgressRec pr = MakeProgress();
  TIFFWriteStream(f, false, *FBitmap, Params, pr);
}

void TVexaIO::SaveToStreamTIFF(TStream& stream) {
  VEXA_SAVE_BEGIN;
  if (StreamHeaders) return WriteFramed(stream, "TIFF", false, WriteTiffSelfContained);
  TProgressRec pr = MakeProgress();
  TIFFWriteStream(stream, false, *FBitmap, Params, pr);
}

void TVexaIO::SaveToFileGif(const std::string& name) {
  VEXA_SAVE_BEGIN;
  TProgressRec pr = MakeProgress();
  WriteGif(name, *FBitmap, Params, pr);
}

void TVexaIO::SaveToStreamGif(TStream& stream) {
  VEXA_SAVE_BEGIN;
  TProgressRec pr = MakeProgress();
  WriteGifStream(stream, *FBitmap, Params, pr);
}

void TVexaIO::SaveToFilePCX(const std::string& name) {
  VEXA_SAVE_BEGIN;
  TProgressRec pr = MakeProgress();
  WritePcx(name, *FBitmap, Params, pr);
}

void TVexaIO::SaveToStreamPCX(TStream& stream) {
  VEXA_SAVE_BEGIN;
  WriteFramed(stream, "PCX2", true, WritePcxStream);
}

void TVexaIO::SaveToFileBMP(const std::string& name) {
  VEXA_SAVE_BEGIN;
  TFileStream f(name, fmCreate);
  TProgressRec pr = MakeProgress();
  BMPWriteStream(f, *FBitmap, Params, pr);
}

void TVexaIO::SaveToStreamBMP(TStream& stream) {
  VEXA_SAVE_BEGIN;
  TProgressRec pr = MakeProgress();
  BMPWriteStream(stream, *FBitmap, Params, pr);
}

void TVexaIO::SaveToFileTGA(const std::string& name) {
  VEXA_SAVE_BEGIN;
  TFileStream f(name, fmCreate);
  TProgressRec pr = MakeProgress();
  WriteTGAStream(f, *FBitmap, Params, pr);
}

void TVexaIO::SaveToStreamTGA(TStream& stream) {
  VEXA_SAVE_BEGIN;
  TProgressRec pr = MakeProgress();
  WriteTGAStream(stream, *FBitmap, Params, pr);
}

#undef VEXA_SAVE_BEGIN

// ---------------------------------------------------------------------------
// Generic load and save

void TVexaIO::LoadRegistry(const TVXFileFormatInfo* info, TStream& stream, const std::string& fileName) {
  Aborting = false;
  TProgressRec pr = MakeProgress();
  info->ReadFunction(stream, *FBitmap, Params, false, pr);
  AfterLoad(fileName, info->FileType, true);
}

void TVexaIO::LoadFromFile(const std::string& name) {
  if (!FBitmap) return;
  std::string ext = VXExtractFileExt(name);
  if (ext == "jpg" || ext == "jpeg" || ext == "jpe") return LoadFromFileJpeg(name);
  if (ext == "png") return LoadFromFilePNG(name);
  if (ext == "tif" || ext == "tiff") return static_cast<void>(LoadFromFileTIFF(name));
  if (ext == "pcx") return LoadFromFilePCX(name);
  if (ext == "gif") return static_cast<void>(LoadFromFileGif(name));
  if (ext == "wmf" || ext == "emf") return ImportMetafile(name, -1, -1);
  if (ext == "bmp" || ext == "dib" || ext == "rle") return LoadFromFileBMP(name);
  if (ext == "cur") return LoadFromFileCUR(name);
  if (ext == "ico") return LoadFromFileICO(name);
  if (ext == "tga" || ext == "targa" || ext == "vda" || ext == "icb" || ext == "vst" || ext == "win")
    return LoadFromFileTGA(name);
  Params.FileName.clear();
  Params.FileType = ioUnknown;
  const TVXFileFormatInfo* info = VXFileFormatGetInfo2(ext);
  if (!info || !info->ReadFunction) {
    Aborting = true;
    return;
  }
  TFileStream f(name, fmOpenRead);
  LoadRegistry(info, f, name);
}

void TVexaIO::LoadFromStream(TStream& stream) {
  if (!FBitmap) return;
  int64_t pos = stream.Position();
  int type = FindStreamFormat(stream);
  stream.SetPosition(pos);
  switch (type) {
    case ioTIFF: LoadFromStreamTIFF(stream); return;
    case ioGIF: LoadFromStreamGif(stream); return;
    case ioJPEG: LoadFromStreamJpeg(stream); return;
    case ioPCX: LoadFromStreamPCX(stream); return;
    case ioBMP: LoadFromStreamBMP(stream); return;
    case ioICO: LoadFromStreamICO(stream); return;
    case ioCUR: LoadFromStreamCUR(stream); return;
    case ioPNG: LoadFromStreamPNG(stream); return;
    case ioTGA: LoadFromStreamTGA(stream); return;
    default: break;
  }
  Params.FileName.clear();
  Params.FileType = ioUnknown;
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(type);
  if (!info || !info->ReadFunction) {
    Aborting = true;
    return;
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
  if (ext == "jpg" || ext == "jpeg") return SaveToFileJpeg(name);
  if (ext == "pcx") return SaveToFilePCX(name);
  if (ext == "gif") return SaveToFileGif(name);
  if (ext == "tif" || ext == "tiff") return SaveToFileTIFF(name);
  if (ext == "png") return SaveToFilePNG(name);
  if (ext == "bmp") return SaveToFileBMP(name);
  if (ext == "tga") return SaveToFileTGA(name);
  const TVXFileFormatInfo* info = VXFileFormatGetInfo2(ext);
  if (!info || !info->WriteFunction) {
    Aborting = true;
    return;
  }
  Aborting = false;
  PrepareSave();
  TFileStream f(name, fmCreate);
  SaveRegistry(info, f);
}

void TVexaIO::SaveToStream(TStream& stream, int fileType) {
  if (!FBitmap) return;
  switch (fileType) {
    case ioTIFF: SaveToStreamTIFF(stream); return;
    case ioGIF: SaveToStreamGif(stream); return;
    case ioJPEG: SaveToStreamJpeg(stream); return;
    case ioPCX: SaveToStreamPCX(stream); return;
    case ioBMP: SaveToStreamBMP(stream); return;
    case ioPNG: SaveToStreamPNG(stream); return;
    case ioTGA: SaveToStreamTGA(stream); return;
    default: break;
  }
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType);
  if (!info || !info->WriteFunction) {
    Aborting = true;
    return;
  }
  Aborting = false;
  PrepareSave();
  SaveRegistry(info, stream);
}

// ---------------------------------------------------------------------------
// Parameters only

void TVexaIO::ReadParams(TStream& stream, int fileType, int64_t fileSize) {
  // A scratch bitmap: the attached one must stay untouched, and there may be none.
  TBitmap scratch;
  TProgressRec& pr = FreshNullProgress();
  int32_t count = 0;
  switch (fileType) {
    case ioTIFF: ReadTiffStream(stream, scratch, true, pr); break;
    case ioGIF: ReadGifStream(stream, scratch, count, Params, pr, true); break;
    case ioJPEG: ReadJpegStream(stream, scratch, true, pr); break;
    case ioPCX: ReadPcxStream(stream, scratch, true, pr); break;
    case ioBMP: BMPReadStream(stream, scratch, fileSize, true, pr, Params); break;
    case ioICO: ICOReadStream(stream, scratch, Params, pr, true); break;
    case ioCUR: CURReadStream(stream, scratch, Params, pr, true); break;
    case ioPNG: ReadPNGStream(stream, scratch, Params, true, pr); break;
    case ioTGA: ReadTGAStream(stream, scratch, Params, true, pr); break;
    default:
      if (const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType); info && info->ReadFunction)
        info->ReadFunction(stream, scratch, Params, true, pr);
      break;
  }
}

void TVexaIO::ParamsFromFile(const std::string& name) {
  Params.FileType = FindFileFormat(name, true);
  try {
    if (Params.FileType != ioUnknown) {
      TFileStream f(name, fmOpenRead);
      ReadParams(f, Params.FileType, f.Size());
    }
  } catch (const std::exception&) {
    Params.FileType = ioUnknown;
  }
  Params.FileName = name;
}

void TVexaIO::ParamsFromStream(TStream& stream) {
  Params.FileType = FindStreamFormat(stream);
  try {
    if (Params.FileType != ioUnknown) ReadParams(stream, Params.FileType, 0);
  } catch (const std::exception&) {
    Params.FileType = ioUnknown;
  }
}

// ---------------------------------------------------------------------------
// Metafiles

void TVexaIO::ImportMetafile(const std::string& name, int width, int height) {
  Aborting = false;
  if (width == 0 || height == 0 || !FBitmap) return;
  TVXMetafile meta;
  if (!meta.LoadFromFile(name)) {
    Aborting = true;
    return;
  }
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
  if (w <= 0 || h <= 0) {
    Aborting = true;
    return;
  }
  constexpr int64_t kMaxSide = 2800;
  if (w > kMaxSide || h > kMaxSide) {
    if (w >= h)
      h = std::max<int64_t>(1, h * kMaxSide / w), w = kMaxSide;
    else
      w = std::max<int64_t>(1, w * kMaxSide / h), h = kMaxSide;
  }
  // The one-pixel trim would leave nothing of a one-pixel side.
  if (w < 2 || h < 2 || !VXCheckBitmapSize(w - 1, h - 1, 24)) {
    Aborting = true;
    return;
  }
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
  Aborting = false;
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
  Aborting = false;
  if (!FBitmap) return -1;
  PrepareSave();
  TFileStream f(name, fmOpenReadWrite);
  TProgressRec pr = MakeProgress();
  int pages = TIFFWriteStream(f, true, *FBitmap, Params, pr);
  if (pages <= 0 || Aborting) return -1;
  int index = Params.TIFF_ImageIndex;
  // A page index past the chain appends.
  return index >= 0 && index < pages - 1 ? index : pages - 1;
}

int DeleteGifIm(const std::string& name, int index) { return _DeleteGifIm(name, index, true); }

int DeleteTIFFIm(const std::string& name, int index) {
  TFileStream f(name, fmOpenReadWrite);
  return _DeleteTIFFImStream(f, index);
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

}  // namespace vexa
