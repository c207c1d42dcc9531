// TVexaMIO: loads every frame of a GIF, every page of a TIFF or every frame of an
// AVI into a thumbnail grid, saves the grid's images as one such file, and keeps
// one parameter record per grid image.
//
// The records follow the grid through its bitmap-change callback: an insertion
// at k copies the record at k (or the last one, or defaults) into place k, a
// deletion at k drops record k, and afterwards record i always has
// GIF_ImageIndex = TIFF_ImageIndex = i.
//
// Every load and save clears Aborting first and does nothing without a grid.
// A frame the codec reports as aborted ends a load; its image is removed and the
// frames before it stay. Saving an AVI raises EInvalidGraphic "unable to create
// AVI file" when the file cannot be created; its other failures set Aborting
// with the reason in LastError.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vexa/acquire/avi.h"
#include "vexa/core/component.h"
#include "vexa/core/messages.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"
#include "vexa/io/vexaio.h"
#include "vexa/mview/imagegrid.h"

namespace vexa {

class TVexaMIO : public TComponent {
 public:
  explicit TVexaMIO(TComponent* owner = nullptr);
  ~TVexaMIO() override;

  TVXImageGrid* AttachedMView() const { return FGrid; }
  /// Links the grid (weak) and rebuilds the records to match its images.
  void SetAttachedMView(TVXImageGrid* grid);

  /// By the lower-case extension: .gif, .tif/.tiff, .avi; anything else does nothing.
  void LoadFromFile(const std::string& name);
  void SaveToFile(const std::string& name);
  void LoadFromFileGif(const std::string& name);
  void LoadFromStreamGif(TStream& stream);
  void SaveToFileGif(const std::string& name);
  void SaveToStreamGif(TStream& stream);
  void LoadFromFileTIFF(const std::string& name);
  void LoadFromStreamTIFF(TStream& stream);
  void SaveToFileTIFF(const std::string& name);
  void SaveToStreamTIFF(TStream& stream);
  void LoadFromFileAVI(const std::string& name);
  /// Frames of another size than image 0 repeat the latest earlier frame of that
  /// size. The encoder is AviOptions.Encoder, or asked for through the compression
  /// options dialog when that is empty; cancelling writes nothing.
  void SaveToFileAVI(const std::string& name);

  /// The record of image idx; null out of range.
  TIOParamsVals* GetParams(int idx);
  int GetParamsCount() const { return static_cast<int>(FParams.size()); }
  /// Update and ImageChange of the grid.
  void Update();

  /// Scans pages through the installed scan service into the grid, from the
  /// selected image on (the first when none is selected), each with its own
  /// record; false without a grid or a service.
  bool Acquire();
  /// The scanner selection; the chosen source is selected in TWainParams.
  bool SelectAcquireSource();
  TVXTWainParams TWainParams{this};

  bool Aborting = false;
  /// Why the last AVI operation stopped (empty when it did not).
  std::string LastError;
  TProgressEvent OnProgress;
  /// The save-parameters dialog (through the installed preview service) for the
  /// image at idx and its record; false without a grid, for an index out of range,
  /// without a service or when the set names no page. True on OK (the page's
  /// fields are then in that image's record). The records are renumbered and the
  /// grid updated in every case.
  bool DoPreviews(int idx, TPreviewParams pages);

  TMsgLanguage MsgLanguage = msSystem;
  TIOPreviewsParams PreviewsParams = 0;
  TFont PreviewFont;
  TVXAviOptions AviOptions;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TProgressRec MakeProgress();
  void OnGridChange();
  void Renumber();
  template <class ReadFrame>
  void LoadFrames(ReadFrame read, int fileType);
  template <class WriteFrame>
  void SaveFrames(TStream& stream, WriteFrame write);

  TVXImageGrid* FGrid = nullptr;
  std::vector<std::unique_ptr<TIOParamsVals>> FParams;
};

}  // namespace vexa
