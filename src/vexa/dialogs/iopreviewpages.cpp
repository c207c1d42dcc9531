#include "vexa/dialogs/iopreviewpages.h"

#include "vexa/io/paramfields.h"

namespace vexa {

namespace {

const TVXColourChoice kTiffColours[] = {{"B/W", 1, 1}, {"16", 4, 1}, {"256", 8, 1}, {"65536", 16, 1}, {"16M", 8, 3}};
const TVXColourChoice kGifColours[] = {{"B/W", 1, 1}, {"4", 2, 1},  {"8", 3, 1},   {"16", 4, 1},
                                       {"32", 5, 1},  {"64", 6, 1}, {"128", 7, 1}, {"256", 8, 1}};
const TVXColourChoice kBmpColours[] = {{"B/W", 1, 1},   {"16", 4, 1},  {"256", 8, 1},
                                       {"65536", 5, 3}, {"16M", 8, 3}, {"16M (32bit)", 8, 3}};
const TVXColourChoice kPcxColours[] = {{"B/W", 1, 1}, {"16", 4, 1}, {"256", 8, 1}, {"16M", 8, 3}};
const TVXColourChoice kPngColours[] = {{"B/W", 1, 1}, {"256", 8, 1}, {"16M", 8, 3}};

const char* const kJpegFields[] = {"JPEG_Quality",        "JPEG_DCTMethod",   "JPEG_Smooth",
                                   "JPEG_OptimalHuffman", "JPEG_Progressive", "JPEG_ColorSpace"};
const char* const kTiffFields[] = {"TIFF_Compression", "TIFF_ImageIndex",       "TIFF_PhotometInterpret",
                                   "BitsPerSample",    "SamplesPerPixel",       "TIFF_XPos",
                                   "TIFF_YPos",        "TIFF_DocumentName",     "TIFF_ImageDescription",
                                   "TIFF_PageName",    "TIFF_PageNumber",       "TIFF_PageCount"};
const char* const kGifFields[] = {"GIF_ImageIndex", "BitsPerSample",  "SamplesPerPixel", "GIF_FlagTranspColor",
                                  "GIF_TranspColor", "GIF_Interlaced", "GIF_Background",  "GIF_DelayTime",
                                  "GIF_XPos",        "GIF_YPos"};
const char* const kBmpFields[] = {"BMP_Compression", "BitsPerSample", "SamplesPerPixel"};
const char* const kPcxFields[] = {"PCX_Compression", "BitsPerSample", "SamplesPerPixel"};
const char* const kPngFields[] = {"BitsPerSample", "SamplesPerPixel", "PNG_Background",
                                  "PNG_Filter",    "PNG_Compression", "PNG_Interlaced"};
const char* const kTgaFields[] = {"BitsPerSample",  "SamplesPerPixel", "TGA_Background",
                                  "TGA_ImageName", "TGA_Descriptor",  "TGA_Compressed"};

}  // namespace

TPreviewParamsItems VXIOPageOfType(int fileType) {
  switch (fileType) {
    case ioTIFF: return ppTIFF;
    case ioGIF: return ppGIF;
    case ioJPEG: return ppJPEG;
    case ioPCX: return ppPCX;
    case ioBMP: return ppBMP;
    case ioPNG: return ppPNG;
    case ioTGA: return ppTGA;
    default: return ppALL;
  }
}

TPreviewParams VXResolveIOPages(TPreviewParams pages, int fileType) {
  if (!(pages & VXPP(ppAUTO))) return pages;
  const TPreviewParamsItems page = VXIOPageOfType(fileType);
  return page == ppALL ? pages : pages | VXPP(page);
}

bool VXIOPageVisible(TPreviewParams resolved, TPreviewParamsItems page) {
  return (resolved & VXPP(ppALL)) != 0 || (resolved & VXPP(page)) != 0;
}

bool VXIOAnyPage(TPreviewParams resolved) {
  for (TPreviewParamsItems p : kVXIOPages)
    if (VXIOPageVisible(resolved, p)) return true;
  return false;
}

std::span<const TVXColourChoice> VXColourChoices(TPreviewParamsItems page) {
  switch (page) {
    case ppTIFF: return kTiffColours;
    case ppGIF: return kGifColours;
    case ppBMP: return kBmpColours;
    case ppPCX: return kPcxColours;
    case ppPNG:
    case ppTGA: return kPngColours;
    default: return {};
  }
}

int64_t VXColourCount(const TVXColourChoice& c) {
  const int bits = c.BitsPerSample * c.SamplesPerPixel;
  return int64_t{1} << (bits > 24 ? 24 : bits);
}

int VXColourIndex(TPreviewParamsItems page, int32_t bitsPerSample, int32_t samplesPerPixel) {
  const auto list = VXColourChoices(page);
  if (list.empty()) return -1;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].BitsPerSample == bitsPerSample && list[i].SamplesPerPixel == samplesPerPixel)
      return static_cast<int>(i);
  const TVXColourChoice want{"", bitsPerSample, samplesPerPixel};
  const int64_t colours = bitsPerSample > 0 && samplesPerPixel > 0 ? VXColourCount(want) : 0;
  int best = -1;
  for (size_t i = 0; i < list.size(); ++i)
    if (VXColourCount(list[i]) <= colours && (best < 0 || VXColourCount(list[i]) > VXColourCount(list[best])))
      best = static_cast<int>(i);
  return best >= 0 ? best : static_cast<int>(list.size()) - 1;
}

void VXTiffPhotometricColours(TIOTIFFPhotometInterpret photometric, int& colourIndex, bool& locked) {
  constexpr int kBW = 0, k16M = 4;
  switch (photometric) {
    case ioTIFF_CMYK:
    case ioTIFF_YCBCR:
    case ioTIFF_CIELAB:
      colourIndex = k16M;
      locked = true;
      break;
    case ioTIFF_WHITEISZERO:
    case ioTIFF_BLACKISZERO:
      colourIndex = kBW;
      locked = true;
      break;
    default:
      if (colourIndex == kBW) colourIndex = k16M;
      locked = false;
      break;
  }
}

std::span<const char* const> VXIOPageFields(TPreviewParamsItems page) {
  switch (page) {
    case ppJPEG: return kJpegFields;
    case ppTIFF: return kTiffFields;
    case ppGIF: return kGifFields;
    case ppBMP: return kBmpFields;
    case ppPCX: return kPcxFields;
    case ppPNG: return kPngFields;
    case ppTGA: return kTgaFields;
    default: return {};
  }
}

void VXIOCopyPageFields(TPreviewParamsItems page, TIOParamsVals& to, const TIOParamsVals& from) {
  for (const char* name : VXIOPageFields(page))
    if (const TVXParamField* f = VXFindParamField(name)) VXParamCopy(to, from, *f);
}

}  // namespace vexa
