// TVexaIO: the non-visual component that loads images into, and saves images from,
// one bitmap (an attached view's, an attached TImage's, or a bare TBitmap).
//
// Every load and save clears Aborting first and does nothing when no bitmap is
// attached. A codec that meets data it cannot handle sets Aborting and returns;
// the component still records FileName/FileType and calls Update, so a partly read
// image is shown. LastFailure() then says why (core/failure.h). Missing or
// uncreatable files raise EStreamError descendants; detection and the ParamsFromXxx
// calls never raise (they answer 0).
//
// Which codec serves which extension, type and content is the built-in format
// table's business (io/formattable.h); the per-format methods below are its rows.
//
// Saving converts a bitmap that is neither pf1bit nor pf24bit to pf24bit first:
// the caller's bitmap is changed.
//
// With StreamHeaders, JPEG, PCX and TIFF data in streams is framed by 12 bytes:
//
//     offset 0  tag "JFIF" / "PCX2" / "TIFF"
//     offset 4  4 zero bytes
//     offset 8  int32 LE: image bytes that follow
//
// JPEG streams are always checked for such a header on load.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/component.h"
#include "vexa/core/messages.h"
#include "vexa/core/streams.h"
#include "vexa/io/formats.h"
#include "vexa/io/ioparams.h"
#include "vexa/io/previewservice.h"
#include "vexa/core/vxview.h"

namespace vexa {

struct TVXBuiltinFormat;

enum TIOPreviewsParamsItems : uint8_t { ioppDefaultLockPreview };
/// Set of TIOPreviewsParamsItems (bit 1 << member).
using TIOPreviewsParams = uint32_t;

enum TPreviewParamsItems : uint8_t { ppALL, ppAUTO, ppJPEG, ppTIFF, ppGIF, ppBMP, ppPCX, ppPNG, ppTGA };
/// Set of TPreviewParamsItems (bit 1 << member).
using TPreviewParams = uint32_t;

class TVexaIO : public TComponent, public TIOParamsOwner {
 private:
  // Declared first: Params reads them while it takes its defaults.
  TBitmap* FBitmap = nullptr;
  TVXView* FVexa = nullptr;
  TImage* FTImage = nullptr;
  TColor FBackground = 0;

 public:
  explicit TVexaIO(TComponent* owner = nullptr);
  ~TVexaIO() override;

  // Links (weak; cleared when the other side is destroyed).
  TVXView* AttachedVexa() const { return FVexa; }
  void SetAttachedVexa(TVXView* view);
  TImage* AttachedTImage() const { return FTImage; }
  void SetAttachedTImage(TImage* image);
  TBitmap* AttachedBitmap() const { return FBitmap; }
  void SetAttachedBitmap(TBitmap* bmp);

  /// The attached view's background, else the component's own.
  TColor Background() const;
  void SetBackground(TColor color);

  // Per format. The GIF and TIFF loads return the frame/page count the codec reports.
  void LoadFromFileJpeg(const std::string& name);
  void LoadFromStreamJpeg(TStream& stream);
  void LoadFromFilePNG(const std::string& name);
  void LoadFromStreamPNG(TStream& stream);
  int LoadFromFileTIFF(const std::string& name);
  int LoadFromStreamTIFF(TStream& stream);
  int LoadFromFileGif(const std::string& name);
  int LoadFromStreamGif(TStream& stream);
  void LoadFromFilePCX(const std::string& name);
  void LoadFromStreamPCX(TStream& stream);
  void LoadFromFileBMP(const std::string& name);
  void LoadFromStreamBMP(TStream& stream);
  void LoadFromFileICO(const std::string& name);
  void LoadFromStreamICO(TStream& stream);
  void LoadFromFileCUR(const std::string& name);
  void LoadFromStreamCUR(TStream& stream);
  void LoadFromFileTGA(const std::string& name);
  void LoadFromStreamTGA(TStream& stream);

  void SaveToFileJpeg(const std::string& name);
  void SaveToStreamJpeg(TStream& stream);
  void SaveToFilePNG(const std::string& name);
  void SaveToStreamPNG(TStream& stream);
  void SaveToFileTIFF(const std::string& name);
  void SaveToStreamTIFF(TStream& stream);
  void SaveToFileGif(const std::string& name);
  void SaveToStreamGif(TStream& stream);
  void SaveToFilePCX(const std::string& name);
  void SaveToStreamPCX(TStream& stream);
  void SaveToFileBMP(const std::string& name);
  void SaveToStreamBMP(TStream& stream);
  void SaveToFileTGA(const std::string& name);
  void SaveToStreamTGA(TStream& stream);

  /// Chooses the codec by the lower-cased extension; unknown extensions go to the
  /// format registry. When the extension's codec fails on data whose first bytes are
  /// not its format, or nothing is registered for the extension, the content decides
  /// (FindStreamFormat); when that finds nothing or fails too, the first failure stands.
  void LoadFromFile(const std::string& name);
  /// Chooses the codec with FindStreamFormat.
  void LoadFromStream(TStream& stream);
  void SaveToFile(const std::string& name);
  void SaveToStream(TStream& stream, int fileType);
  /// Reads only the parameters (the bitmap is untouched); FileType 0 when unreadable.
  void ParamsFromFile(const std::string& name);
  void ParamsFromStream(TStream& stream);
  /// Copies the Params of another TVexaIO or a TIOParamsVals; false for anything else.
  bool AssignParams(TObject* source);

  /// Plays a WMF or EMF file into the bitmap. width/height < 0 take the metafile's
  /// own size (or keep its ratio when the other side is given); 0 does nothing.
  /// The longer side is limited to 2800 pixels, then one pixel is trimmed from
  /// each dimension.
  void ImportMetafile(const std::string& name, int width, int height);

  /// Fills the whole bitmap with Background.
  void Clear();
  /// Refreshes the view, or marks a bare bitmap modified.
  void Update();

  /// Inserts the bitmap as frame GIF_ImageIndex of an existing GIF and marks the
  /// file animated; the index of the inserted frame, -1 when nothing was inserted.
  int InsertToFileGif(const std::string& name);
  /// Inserts the bitmap as page TIFF_ImageIndex (appended when past the end) of an
  /// existing TIFF; the index of the inserted page, -1 when refused.
  int InsertToFileTIFF(const std::string& name);

  /// Scans one page into the bitmap through the installed scan service (none:
  /// false, bitmap unchanged); sets the view's resolution from the page.
  bool Acquire();
  /// The scanner selection; selects the chosen source in TWainParams.
  bool SelectAcquireSource();

  /// The save-parameters dialog (through the installed preview service) for the
  /// pages in `pages`. Converts the bitmap as saving does; false without a
  /// bitmap, without a service, or when the set names no page. True when the user
  /// pressed OK: the fields of the page shown are then in Params. Update runs in
  /// every case.
  bool DoPreviews(TPreviewParams pages);

  TMsgLanguage MsgLanguage = msSystem;
  bool StreamHeaders = false;
  /// Options of the save-parameters dialog (ioppDefaultLockPreview: live update).
  TIOPreviewsParams PreviewsParams = 0;
  /// The font of the save-parameters dialog.
  TFont PreviewFont;
  /// Fired with the save-parameters dialog before it is shown.
  TVXIOPreviewEvent OnIOPreview;

  TIOParamsVals Params{this};
  TVXTWainParams TWainParams{this};
  bool Aborting = false;
  TProgressEvent OnProgress;

  /// Why the last load, save, import or insert left Aborting set, or why the last
  /// ParamsFromFile/ParamsFromStream found nothing or stopped; empty (fkNone) after
  /// a success. When Aborting is set without a recorded reason (the progress
  /// handler stopped the operation) the answer is fkStopped. Cleared where Aborting
  /// is cleared.
  TVXFailure LastFailure() const;

  // TIOParamsOwner
  TBitmap* ParamsBitmap() override { return FBitmap; }
  bool ParamsViewDpi(int& dpiX, int& dpiY) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TProgressRec MakeProgress();
  // The generic steps every per-format method and the dispatchers run on a table row.
  void Begin();
  void Refuse(TVXFailureKind kind, std::string text);
  int LoadFile(const TVXBuiltinFormat& format, const std::string& name);
  int LoadStream(const TVXBuiltinFormat& format, TStream& stream);
  void SaveFile(const TVXBuiltinFormat& format, const std::string& name);
  void SaveStream(const TVXBuiltinFormat& format, TStream& stream);
  void SaveStreamJob(const TVXBuiltinFormat& format, TStream& stream, bool framed);
  void StopListening();
  void OnViewBitmapChange();
  void SetViewDpi();
  void PrepareSave();
  void AfterLoad(const std::string& fileName, int fileType, bool setDpi);
  void LoadRegistry(const TVXFileFormatInfo* info, TStream& stream, const std::string& fileName);
  /// Loads with the format FindFileFormat finds, unless it is none or `refusedType`;
  /// true when that load succeeded. A failed one leaves the earlier failure and
  /// file type standing (Aborting stays set).
  bool LoadByContent(const std::string& name, int refusedType);
  void SaveRegistry(const TVXFileFormatInfo* info, TStream& stream);
  void ReadParams(TStream& stream, int fileType, int64_t fileSize);

  // The component that owns the bitmap we point into (view or image), if any.
  TComponent* FBitmapOwner = nullptr;
  TVXFailure FFailure;
};

/// Deletes frame `index` of a GIF file; the frames left.
int DeleteGifIm(const std::string& name, int index);
/// Deletes page `index` of a TIFF file; the pages found before deletion (0 when not TIFF).
int DeleteTIFFIm(const std::string& name, int index);
/// Frames of a GIF file; 0 when it cannot be read.
int EnumGifIm(const std::string& name);
/// Pages of a TIFF file.
int EnumTIFFIm(const std::string& name);
/// True when the GIF file loops; false when it cannot be read.
bool CheckAniGif(const std::string& name);

}  // namespace vexa
