#include "vexa/mview/vexamio.h"

#include <algorithm>
#include <cctype>

#include "vexa/codecs/gif.h"
#include "vexa/codecs/tiff.h"
#include "vexa/core/errors.h"
#include "vexa/io/scanservice.h"

namespace vexa {

namespace {

std::string LowerExtension(const std::string& name) {
  auto slash = name.find_last_of('/');
  auto dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

}  // namespace

TVexaMIO::TVexaMIO(TComponent* owner) : TComponent(owner) {}

TVexaMIO::~TVexaMIO() {
  if (FGrid) FGrid->RemoveBitmapChangeEvent(this);
}

void TVexaMIO::SetAttachedMView(TVXImageGrid* grid) {
  if (FGrid) {
    FGrid->RemoveBitmapChangeEvent(this);
    RemoveFreeNotification(FGrid);
  }
  FGrid = grid;
  FParams.clear();
  if (!grid) return;
  FreeNotification(grid);
  grid->RegisterBitmapChangeEvent(this, [this](TObject*) { OnGridChange(); });
  grid->GetLastOp();
  OnGridChange();
}

void TVexaMIO::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && FGrid && static_cast<TComponent*>(FGrid) == component) {
    FGrid = nullptr;
    FParams.clear();
  }
}

void TVexaMIO::OnGridChange() {
  if (!FGrid) return;
  const TVXGridOp op = FGrid->GetLastOp();
  const int k = FGrid->GetLastOpIdx();
  const int n = GetParamsCount();
  if (op == vxgoInsert && k >= 0 && k <= n) {
    auto rec = n == 0 ? std::make_unique<TIOParamsVals>()
                      : std::make_unique<TIOParamsVals>(*FParams[static_cast<size_t>(k < n ? k : n - 1)]);
    FParams.insert(FParams.begin() + k, std::move(rec));
  } else if (op == vxgoDelete && k >= 0 && k < n) {
    FParams.erase(FParams.begin() + k);
  }
  // Operations the callback did not see one by one (a grid attached with images
  // in it) still leave one record per image.
  const size_t want = static_cast<size_t>(FGrid->GetImageCount());
  while (FParams.size() < want) FParams.push_back(std::make_unique<TIOParamsVals>());
  FParams.resize(want);
  Renumber();
}

void TVexaMIO::Renumber() {
  for (size_t i = 0; i < FParams.size(); ++i)
    FParams[i]->GIF_ImageIndex = FParams[i]->TIFF_ImageIndex = static_cast<int32_t>(i);
}

TIOParamsVals* TVexaMIO::GetParams(int idx) {
  return idx >= 0 && idx < GetParamsCount() ? FParams[static_cast<size_t>(idx)].get() : nullptr;
}

void TVexaMIO::Update() {
  if (!FGrid) return;
  FGrid->Update();
  FGrid->ImageChange();
}

TProgressRec TVexaMIO::MakeProgress() {
  TProgressRec pr;
  pr.OnProgress = OnProgress;
  pr.Sender = this;
  pr.Aborting = &Aborting;
  return pr;
}

// ---------------------------------------------------------------------------
// Dispatch

void TVexaMIO::LoadFromFile(const std::string& name) {
  const std::string ext = LowerExtension(name);
  if (ext == ".gif")
    LoadFromFileGif(name);
  else if (ext == ".tif" || ext == ".tiff")
    LoadFromFileTIFF(name);
  else if (ext == ".avi")
    LoadFromFileAVI(name);
}

void TVexaMIO::SaveToFile(const std::string& name) {
  const std::string ext = LowerExtension(name);
  if (ext == ".gif")
    SaveToFileGif(name);
  else if (ext == ".tif" || ext == ".tiff")
    SaveToFileTIFF(name);
  else if (ext == ".avi")
    SaveToFileAVI(name);
}

// ---------------------------------------------------------------------------
// GIF and TIFF

// read(stream-independent): fills bmp for frame i and returns the frame count.
template <class ReadFrame>
void TVexaMIO::LoadFrames(ReadFrame read, int fileType) {
  Aborting = false;
  if (!FGrid) return;
  TVXImageGrid& grid = *FGrid;
  int idx = imax(grid.SelectedImage(), 0);
  int defaultDelay = 10;
  TProgressRec pr = MakeProgress();
  grid.LockPaint();
  for (int i = 0, n = 0;; ++i) {
    grid.InsertImage(idx);
    TIOParamsVals& p = *FParams[static_cast<size_t>(idx)];
    TBitmap bmp;
    n = read(bmp, p, i, pr);
    p.GIF_ImageIndex = p.TIFF_ImageIndex = idx;
    p.FileType = fileType;
    p.FileName.clear();
    if (Aborting || n <= 0) {
      grid.DeleteImageNU(idx);
      break;
    }
    grid.SetImageNU(idx, bmp);
    int delay = 100;
    if (fileType == ioGIF) {
      grid.SetImageBackground(idx, TRGB2TColor(p.GIF_Background));
      if (p.GIF_DelayTime > 0)
        defaultDelay = delay = p.GIF_DelayTime * 10;
      else
        delay = defaultDelay;
    }
    grid.SetImageDelayTime(idx, delay);
    if (OnProgress) OnProgress(this, i * 100 / n);
    ++idx;
    if (Aborting || i + 1 >= n) break;
  }
  grid.UnLockPaint();
  Update();
}

void TVexaMIO::LoadFromStreamGif(TStream& stream) {
  const int64_t start = stream.Position();
  LoadFrames(
      [&](TBitmap& bmp, TIOParamsVals& p, int i, TProgressRec& pr) {
        stream.SetPosition(start);
        p.GIF_ImageIndex = i;
        int32_t n = 0;
        ReadGifStream(stream, bmp, n, p, pr, false);
        return static_cast<int>(n);
      },
      ioGIF);
}

void TVexaMIO::LoadFromStreamTIFF(TStream& stream) {
  const int64_t start = stream.Position();
  LoadFrames(
      [&](TBitmap& bmp, TIOParamsVals& p, int i, TProgressRec& pr) {
        stream.SetPosition(start);
        p.TIFF_ImageIndex = i;
        int32_t n = 0;
        TIFFReadStream(&bmp, stream, n, &p, pr, false);
        // An index past the chain reads nothing: there is no such page.
        return i < n ? static_cast<int>(n) : 0;
      },
      ioTIFF);
}

void TVexaMIO::LoadFromFileGif(const std::string& name) {
  Aborting = false;
  if (!FGrid) return;
  TFileStream f(name, fmOpenRead);
  LoadFromStreamGif(f);
}

void TVexaMIO::LoadFromFileTIFF(const std::string& name) {
  Aborting = false;
  if (!FGrid) return;
  TFileStream f(name, fmOpenRead);
  LoadFromStreamTIFF(f);
}

template <class WriteFrame>
void TVexaMIO::SaveFrames(TStream& stream, WriteFrame write) {
  Aborting = false;
  if (!FGrid || FGrid->GetImageCount() == 0) return;
  TVXImageGrid& grid = *FGrid;
  const int64_t start = stream.Position();
  const int count = grid.GetImageCount();
  // No progress from the codec (this loop reports per image), but its failures count.
  TProgressRec pr;
  pr.Aborting = &Aborting;
  for (int i = 0; i < count && !Aborting; ++i) {
    stream.SetPosition(start);
    TBitmap* bmp = grid.GetBitmap(i);
    if (!bmp || bmp->Empty()) {
      if (bmp) grid.ReleaseBitmap(i);
      LastError = "image " + std::to_string(i) + " has no pixels";
      Aborting = true;
      break;
    }
    TIOParamsVals& p = *FParams[static_cast<size_t>(i)];
    write(*bmp, p, i, pr);
    grid.ReleaseBitmap(i);
    if (OnProgress) OnProgress(this, i * 100 / count);
  }
  Renumber();
}

void TVexaMIO::SaveToStreamGif(TStream& stream) {
  SaveFrames(stream, [&](TBitmap& bmp, TIOParamsVals& p, int i, TProgressRec& pr) {
    p.GIF_ImageIndex = i;
    if (i == 0)
      WriteGifStream(stream, bmp, p, pr);
    else if (_InsertGifImStream(stream, bmp, p, pr) == 0)
      pr.Abort();
  });
}

void TVexaMIO::SaveToStreamTIFF(TStream& stream) {
  SaveFrames(stream, [&](TBitmap& bmp, TIOParamsVals& p, int i, TProgressRec& pr) {
    p.TIFF_ImageIndex = i;
    if (TIFFWriteStream(stream, i > 0, bmp, p, pr) == 0) pr.Abort();
  });
}

void TVexaMIO::SaveToFileGif(const std::string& name) {
  Aborting = false;
  if (!FGrid || FGrid->GetImageCount() == 0) return;
  TFileStream f(name, fmCreate);
  SaveToStreamGif(f);
}

void TVexaMIO::SaveToFileTIFF(const std::string& name) {
  Aborting = false;
  if (!FGrid || FGrid->GetImageCount() == 0) return;
  TFileStream f(name, fmCreate);
  SaveToStreamTIFF(f);
}

// ---------------------------------------------------------------------------
// AVI

void TVexaMIO::LoadFromFileAVI(const std::string& name) {
  Aborting = false;
  LastError.clear();
  if (!FGrid) return;
  TVXImageGrid& grid = *FGrid;
  TVXAviReader reader;
  if (!reader.Open(name)) {
    LastError = reader.Error();
    Aborting = true;
    return;
  }
  const int delay = reader.FrameDelay();
  const int count = reader.FrameCount();
  int idx = imax(grid.SelectedImage(), 0);
  TBitmap bmp;
  grid.LockPaint();
  for (int i = 0; !Aborting; ++i) {
    if (!reader.ReadFrame(bmp)) {
      if (!reader.Error().empty()) {
        LastError = reader.Error();
        Aborting = true;
      }
      break;
    }
    grid.InsertImage(idx);
    grid.SetImageNU(idx, bmp);
    grid.SetImageDelayTime(idx, delay);
    TIOParamsVals& p = *FParams[static_cast<size_t>(idx)];
    const int bits = reader.SourceBitCount();
    p.GIF_DelayTime = delay;
    p.BitsPerSample = bits == 1 ? 1 : 8;
    p.SamplesPerPixel = bits <= 8 ? 1 : 3;
    p.GIF_ImageIndex = p.TIFF_ImageIndex = idx;
    p.DpiX = gSystemDPIX;
    p.DpiY = gSystemDPIY;
    p.Width = bmp.Width();
    p.Height = bmp.Height();
    p.FileName = name;
    p.FileType = ioUnknown;
    p.FreeColorMap();
    if (OnProgress && count > 0) OnProgress(this, imin(i * 100 / count, 100));
    ++idx;
  }
  grid.UnLockPaint();
  Update();
}

void TVexaMIO::SaveToFileAVI(const std::string& name) {
  Aborting = false;
  LastError.clear();
  if (!FGrid || FGrid->GetImageCount() == 0) return;
  TVXImageGrid& grid = *FGrid;
  TVXAviOptions options = AviOptions;
  if (options.Encoder.empty()) {
    if (gVXAviOptionsDialog) {
      if (!gVXAviOptionsDialog(options)) return;  // cancelled: nothing is written
    } else {
      options.Encoder = kVXAviDefaultEncoder;
    }
  }
  const TBitmap* first = grid.GetBitmap(0);
  const int width = first ? first->Width() : 0, height = first ? first->Height() : 0;
  grid.ReleaseBitmap(0);
  if (width <= 0 || height <= 0) {
    LastError = "image 0 has no pixels";
    Aborting = true;
    return;
  }
  const int fps = 1000 / imax(grid.GetImageDelayTime(0), 1);
  TVXAviWriter writer;
  switch (writer.Create(name, width, height, fps, options)) {
    case vxacCannotCreate:
      throw EInvalidGraphic("unable to create AVI file");
    case vxacFailed:
      LastError = writer.Error();
      Aborting = true;
      return;
    case vxacOK:
      break;
  }
  const int count = grid.GetImageCount();
  int lastFit = 0;  // the latest image of the stream's size
  for (int i = 0; i < count && !Aborting; ++i) {
    TBitmap* bmp = grid.GetBitmap(i);
    const bool fits = bmp && bmp->Width() == width && bmp->Height() == height;
    if (bmp) grid.ReleaseBitmap(i);
    if (fits) lastFit = i;
    TBitmap* frame = grid.GetBitmap(lastFit);
    const bool ok = frame && writer.WriteFrame(*frame);
    if (frame) grid.ReleaseBitmap(lastFit);
    if (!ok) {
      LastError = frame ? writer.Error() : "image " + std::to_string(lastFit) + " has no pixels";
      Aborting = true;
    }
    if (OnProgress) OnProgress(this, i * 100 / count);
  }
  if (!writer.Finish() && !Aborting) {
    LastError = writer.Error();
    Aborting = true;
  }
}

// ---------------------------------------------------------------------------
// Scanning

bool TVexaMIO::Acquire() {
  Aborting = false;
  TVXScanService* scan = VXScanService();
  if (!FGrid || !scan) return false;
  TVXImageGrid& grid = *FGrid;
  int idx = imax(grid.SelectedImage(), 0);
  TProgressRec pr = MakeProgress();
  const bool ok = scan->AcquirePages(
      this,
      [&](TBitmap& page) -> TIOParamsVals* {
        grid.InsertImage(idx);
        grid.SetImageNU(idx, page);
        grid.SetImageDelayTime(idx, 100);
        return FParams[static_cast<size_t>(idx++)].get();
      },
      TWainParams, pr);
  scan->RestoreFocus(this);
  Update();
  return ok;
}

bool TVexaMIO::SelectAcquireSource() {
  TVXScanService* scan = VXScanService();
  std::string name;
  if (!scan || !scan->SelectSource(this, name)) return false;
  return TWainParams.SelectSourceByName(name);
}

}  // namespace vexa
