// The pages of the save-parameters dialog as data: which pages a request shows,
// the colour lists and the (bits per sample, samples per pixel) each entry
// stands for, the TIFF photometric locks, and the fields each page owns (the
// only ones OK writes back). The form is iopreviews_ui.h.
#pragma once

#include <cstdint>
#include <span>

#include "vexa/io/ioparams.h"
#include "vexa/io/vexaio.h"

namespace vexa {

/// The pages in the order the dialog shows them.
constexpr TPreviewParamsItems kVXIOPages[] = {ppJPEG, ppTIFF, ppGIF, ppBMP, ppPCX, ppPNG, ppTGA};
constexpr int kVXIOPageCount = 7;
constexpr TPreviewParams VXPP(TPreviewParamsItems i) { return 1u << i; }

/// ppAUTO adds the page of `fileType` (nothing for types without a page).
TPreviewParams VXResolveIOPages(TPreviewParams pages, int fileType);
/// True when the resolved set shows the page (ppALL shows every page).
bool VXIOPageVisible(TPreviewParams resolved, TPreviewParamsItems page);
/// True when the resolved set shows at least one page.
bool VXIOAnyPage(TPreviewParams resolved);
/// The page of a file type, or ppALL when it has none.
TPreviewParamsItems VXIOPageOfType(int fileType);

/// One entry of a colours list.
struct TVXColourChoice {
  const char* Text;
  int32_t BitsPerSample;
  int32_t SamplesPerPixel;
};
/// The colours list of a page (empty for JPEG).
std::span<const TVXColourChoice> VXColourChoices(TPreviewParamsItems page);
/// The entry for the record's bits and samples: the first exact match, else the
/// entry with the most colours not above the record's, else the last.
int VXColourIndex(TPreviewParamsItems page, int32_t bitsPerSample, int32_t samplesPerPixel);
/// Colours an entry stands for (2^(bits x samples), capped at 2^24).
int64_t VXColourCount(const TVXColourChoice& c);

/// What a TIFF photometric choice does to the colours list (indices into the
/// TIFF list): CMYK, YCBCR and CIELAB force "16M" and lock it; WHITEISZERO and
/// BLACKISZERO force "B/W" and lock it; anything else unlocks it and turns "B/W"
/// into "16M".
void VXTiffPhotometricColours(TIOTIFFPhotometInterpret photometric, int& colourIndex, bool& locked);

/// The field names a page edits.
std::span<const char* const> VXIOPageFields(TPreviewParamsItems page);
/// Copies the page's fields from `from` into `to`, nothing else.
void VXIOCopyPageFields(TPreviewParamsItems page, TIOParamsVals& to, const TIOParamsVals& from);

}  // namespace vexa
