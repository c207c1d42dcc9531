// TVexa: one object in place of three. A TVexaView that creates and owns a
// TVexaProc and a TVexaIO, links both to itself, and offers their operations and
// settings as its own. Every method here is a one-line forward: the result is
// exactly what the owned component returns, and loading or processing refreshes
// this view because the components are attached to it.
//
// The two components live exactly as long as the TVexa: created in the
// constructor (processing first) and destroyed in the destructor (processing
// first, then I/O) before the view part. Settings stored in both components are
// written to both and read from one (named per property).
#pragma once

#include <string>
#include <vector>

#include "vexa/io/vexaio.h"
#include "vexa/proc/vexaproc.h"
#include "vexa/view/vexaview_ui.h"

namespace vexa {

class TVexa : public TVexaView {
  Q_OBJECT

 public:
  explicit TVexa(QWidget* parent = nullptr, TComponent* owner = nullptr);
  ~TVexa() override;

  /// The owned components (never null, never replaced).
  TVexaProc& Proc() const { return *FProc; }
  TVexaIO& IO() const { return *FIO; }

  // --- settings
  /// The processing component's AutoUndo; true from the start.
  bool AutoUndo() const { return FProc->AutoUndo; }
  void SetAutoUndo(bool on) { FProc->AutoUndo = on; }
  /// Written to both components; read from the processing component.
  const TProgressEvent& OnProgress() const { return FProc->OnProgress; }
  void SetOnProgress(const TProgressEvent& e);
  /// Written to both components; read from the processing component.
  TMsgLanguage MsgLanguage() const { return FProc->MsgLanguage; }
  void SetMsgLanguage(TMsgLanguage lang);
  TPRPreviewsParams ProcPreviewsParams() const { return FProc->PreviewsParams; }
  void SetProcPreviewsParams(TPRPreviewsParams p) { FProc->PreviewsParams = p; }
  /// Written to both components; read from the I/O component.
  const TFont& PreviewFont() const { return FIO->PreviewFont; }
  void SetPreviewFont(const TFont& font);
  const TVXPreviewEvent& OnPreview() const { return FProc->OnPreview; }
  void SetOnPreview(const TVXPreviewEvent& e) { FProc->OnPreview = e; }
  const TVXIOPreviewEvent& OnIOPreview() const { return FIO->OnIOPreview; }
  void SetOnIOPreview(const TVXIOPreviewEvent& e) { FIO->OnIOPreview = e; }
  TIOPreviewsParams IOPreviewsParams() const { return FIO->PreviewsParams; }
  void SetIOPreviewsParams(TIOPreviewsParams p) { FIO->PreviewsParams = p; }
  bool StreamHeaders() const { return FIO->StreamHeaders; }
  void SetStreamHeaders(bool on) { FIO->StreamHeaders = on; }
  TIOParamsVals& IOParams() const { return FIO->Params; }
  TVXTWainParams& TWainParams() const { return FIO->TWainParams; }
  /// The I/O component's aborting flag.
  bool Aborting() const { return FIO->Aborting; }
  void SetAborting(bool on) { FIO->Aborting = on; }
  bool CanUndo() const { return FProc->CanUndo(); }

  // --- processing: undo
  void SaveUndo() { FProc->SaveUndo(); }
  void ClearUndo() { FProc->ClearUndo(); }
  void Undo() { FProc->Undo(); }
  // --- colour
  void Negative() { FProc->Negative(); }
  void ConvertToGray() { FProc->ConvertToGray(); }
  void HistAutoEqualize() { FProc->HistAutoEqualize(); }
  void HSLvar(int hue, int sat, int lum) { FProc->HSLvar(hue, sat, lum); }
  void HSVvar(int hue, int sat, int val) { FProc->HSVvar(hue, sat, val); }
  void IntensityRGBall(int r, int g, int b) { FProc->IntensityRGBall(r, g, b); }
  void Contrast(int contrast) { FProc->Contrast(contrast); }
  void CastColorRange(TRGB begin, TRGB end, TRGB cast) { FProc->CastColorRange(begin, end, cast); }
  void Threshold(TRGB downLimit, TRGB upLimit, TRGB downValue, TRGB upValue) {
    FProc->Threshold(downLimit, upLimit, downValue, upValue);
  }
  void HistEqualize(TRGB low, TRGB high) { FProc->HistEqualize(low, high); }
  // --- filters
  void ApplyFilter(TGraphFilter filter) { FProc->ApplyFilter(filter); }
  void ApplyFilterPreset(TVXFilterPresets preset) { FProc->ApplyFilterPreset(preset); }
  void Maximum(int winSize) { FProc->Maximum(winSize); }
  void Minimum(int winSize) { FProc->Minimum(winSize); }
  void Opening(int winSize) { FProc->Opening(winSize); }
  void Closing(int winSize) { FProc->Closing(winSize); }
  // --- geometry
  void Rotate(int angle, bool antiAlias) { FProc->Rotate(angle, antiAlias); }
  void Flip(TFlipDir dir) { FProc->Flip(dir); }
  void ImageResize(int newWidth, int newHeight) { FProc->ImageResize(newWidth, newHeight); }
  void Resample(int newWidth, int newHeight, TResampleFilter filter) { FProc->Resample(newWidth, newHeight, filter); }
  void CropSel() { FProc->CropSel(); }
  // --- colour depth
  void ConvertTo(int nColors) { FProc->ConvertTo(nColors); }
  void ConvertToBWOrdered() { FProc->ConvertToBWOrdered(); }
  void ConvertTo24Bit() { FProc->ConvertTo24Bit(); }
  int CalcImageNumColors() { return FProc->CalcImageNumColors(); }
  void ConvertToBWThreshold(int threshold) { FProc->ConvertToBWThreshold(threshold); }
  void CalcImagePalette(std::vector<TRGB>& palette, int nColors) { FProc->CalcImagePalette(palette, nColors); }
  // --- analysis
  void GetHistogram(THistogramItem* histogram) { FProc->GetHistogram(histogram); }
  TBitmap* GetHSVChannel(int index) { return FProc->GetHSVChannel(index); }
  TBitmap* GetRGBChannel(int index) { return FProc->GetRGBChannel(index); }
  void GetHSVChannelAll(TBitmap& h, TBitmap& s, TBitmap& v) { FProc->GetHSVChannelAll(h, s, v); }
  void GetRGBChannelAll(TBitmap& r, TBitmap& g, TBitmap& b) { FProc->GetRGBChannelAll(r, g, b); }
  // --- effects
  void BumpMapping(int lightX, int lightY, int radiusX, int radiusY, int level, TRGB lightColor) {
    FProc->BumpMapping(lightX, lightY, radiusX, radiusY, level, lightColor);
  }
  void Lens(int x, int y, int width, int height, double refraction) { FProc->Lens(x, y, width, height, refraction); }
  void Wave(int amplitude, int waveLength, int phase, bool reflective) {
    FProc->Wave(amplitude, waveLength, phase, reflective);
  }
  void Merge(const TBitmap& other, int percent) { FProc->Merge(other, percent); }
  // --- clipboard and selection (Clear fills with the background, as the processing component does)
  void Clear() { FProc->Clear(); }
  void ClearSel() { FProc->ClearSel(); }
  void SelCopyToClip() { FProc->SelCopyToClip(); }
  void SelCutToClip() { FProc->SelCutToClip(); }
  void CopyToClipboard() { FProc->CopyToClipboard(); }
  void PasteFromClipboard() { FProc->PasteFromClipboard(); }
  void SelPasteFromClipStretch() { FProc->SelPasteFromClipStretch(); }
  /// Client coordinates, converted to bitmap ones once, by the processing component.
  void PointPasteFromClip(int x, int y) { FProc->PointPasteFromClip(x, y); }
  // --- frequency domain
  TVXFtImage* FTCreateImage(TVXFtImageType type, int width, int height) {
    return FProc->FTCreateImage(type, width, height);
  }
  void FTConvertFrom(const TVXFtImage& ft) { FProc->FTConvertFrom(ft); }
  void FTDisplayFrom(const TVXFtImage& ft) { FProc->FTDisplayFrom(ft); }
  // --- hidden data
  int WriteHiddenText(const std::string& text) { return FProc->WriteHiddenText(text); }
  std::string ReadHiddenText() { return FProc->ReadHiddenText(); }
  int GetHiddenDataSpace() { return FProc->GetHiddenDataSpace(); }
  int WriteHiddenData(const void* buffer, int length) { return FProc->WriteHiddenData(buffer, length); }
  int ReadHiddenData(void* buffer, int length) { return FProc->ReadHiddenData(buffer, length); }
  /// The processing preview dialog (TPreviewEffects); false when no dialog layer is installed.
  bool DoPreviews(TPreviewEffects pages) { return FProc->DoPreviews(pages); }

  // --- I/O: generic
  void LoadFromFile(const std::string& name) { FIO->LoadFromFile(name); }
  void SaveToFile(const std::string& name) { FIO->SaveToFile(name); }
  void ParamsFromFile(const std::string& name) { FIO->ParamsFromFile(name); }
  void LoadFromStream(TStream& stream) { FIO->LoadFromStream(stream); }
  void ParamsFromStream(TStream& stream) { FIO->ParamsFromStream(stream); }
  void SaveToStream(TStream& stream, int fileType) { FIO->SaveToStream(stream, fileType); }
  bool AssignIOParams(TObject* source) { return FIO->AssignParams(source); }
  void ImportMetafile(const std::string& name, int width, int height) { FIO->ImportMetafile(name, width, height); }
  // --- I/O: BMP, ICO, CUR
  void LoadFromFileBMP(const std::string& name) { FIO->LoadFromFileBMP(name); }
  void SaveToFileBMP(const std::string& name) { FIO->SaveToFileBMP(name); }
  void LoadFromStreamBMP(TStream& stream) { FIO->LoadFromStreamBMP(stream); }
  void SaveToStreamBMP(TStream& stream) { FIO->SaveToStreamBMP(stream); }
  void LoadFromFileICO(const std::string& name) { FIO->LoadFromFileICO(name); }
  void LoadFromStreamICO(TStream& stream) { FIO->LoadFromStreamICO(stream); }
  void LoadFromFileCUR(const std::string& name) { FIO->LoadFromFileCUR(name); }
  void LoadFromStreamCUR(TStream& stream) { FIO->LoadFromStreamCUR(stream); }
  // --- I/O: JPEG
  void LoadFromFileJpeg(const std::string& name) { FIO->LoadFromFileJpeg(name); }
  void SaveToFileJpeg(const std::string& name) { FIO->SaveToFileJpeg(name); }
  void LoadFromStreamJpeg(TStream& stream) { FIO->LoadFromStreamJpeg(stream); }
  void SaveToStreamJpeg(TStream& stream) { FIO->SaveToStreamJpeg(stream); }
  // --- I/O: GIF (loads return the frame count)
  int LoadFromFileGif(const std::string& name) { return FIO->LoadFromFileGif(name); }
  void SaveToFileGif(const std::string& name) { FIO->SaveToFileGif(name); }
  int InsertToFileGif(const std::string& name) { return FIO->InsertToFileGif(name); }
  int LoadFromStreamGif(TStream& stream) { return FIO->LoadFromStreamGif(stream); }
  void SaveToStreamGif(TStream& stream) { FIO->SaveToStreamGif(stream); }
  // --- I/O: PCX
  void LoadFromFilePCX(const std::string& name) { FIO->LoadFromFilePCX(name); }
  void SaveToFilePCX(const std::string& name) { FIO->SaveToFilePCX(name); }
  void LoadFromStreamPCX(TStream& stream) { FIO->LoadFromStreamPCX(stream); }
  void SaveToStreamPCX(TStream& stream) { FIO->SaveToStreamPCX(stream); }
  // --- I/O: TIFF (loads return the page count)
  int LoadFromFileTIFF(const std::string& name) { return FIO->LoadFromFileTIFF(name); }
  void SaveToFileTIFF(const std::string& name) { FIO->SaveToFileTIFF(name); }
  int InsertToFileTIFF(const std::string& name) { return FIO->InsertToFileTIFF(name); }
  int LoadFromStreamTIFF(TStream& stream) { return FIO->LoadFromStreamTIFF(stream); }
  void SaveToStreamTIFF(TStream& stream) { FIO->SaveToStreamTIFF(stream); }
  // --- I/O: PNG
  void LoadFromFilePNG(const std::string& name) { FIO->LoadFromFilePNG(name); }
  void SaveToFilePNG(const std::string& name) { FIO->SaveToFilePNG(name); }
  void LoadFromStreamPNG(TStream& stream) { FIO->LoadFromStreamPNG(stream); }
  void SaveToStreamPNG(TStream& stream) { FIO->SaveToStreamPNG(stream); }
  /// The historical spelling of SaveToStreamPNG on this component.
  void saveToStreamPNG(TStream& stream) { FIO->SaveToStreamPNG(stream); }
  // --- I/O: TGA
  void LoadFromFileTGA(const std::string& name) { FIO->LoadFromFileTGA(name); }
  void SaveToFileTGA(const std::string& name) { FIO->SaveToFileTGA(name); }
  void LoadFromStreamTGA(TStream& stream) { FIO->LoadFromStreamTGA(stream); }
  void SaveToStreamTGA(TStream& stream) { FIO->SaveToStreamTGA(stream); }
  /// The save-parameters dialog (TPreviewParams); false when no dialog layer is installed.
  bool DoIOPreviews(TPreviewParams pages) { return FIO->DoPreviews(pages); }

 private:
  TVexaProc* FProc;
  TVexaIO* FIO;
};

}  // namespace vexa
