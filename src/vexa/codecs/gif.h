// GIF: one frame into or out of a bitmap, and multi-frame file operations.
//
// A frame is read alone (its position on the logical screen, disposal and the
// screen background are reported, not applied): 1-bit when its palette is exactly
// black then white, 24-bit otherwise. Pixel data goes through the LZW hooks (the
// record's, else the global ones); with none set, reading and writing set the
// abort flag. Malformed data sets the abort flag and leaves through the normal
// return: bad signature, truncated blocks, a frame of no area or too large for
// VXCheckBitmapSize, a missing frame index, data that decodes to nothing. Image
// data that merely ends early keeps the decoded pixels (the rest are index 0).
// Writing refuses an empty bitmap or one wider or taller than 65535 before
// writing a byte. Insertion writes the stream back only when the whole file was
// understood and the frame went in; otherwise the stream is left as it was.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

void ReadGif(const std::string& name, TBitmap& bitmap, int32_t& imageCount, TIOParamsVals& params,
             TProgressRec& progress);
/// Reads frame GIF_ImageIndex; imageCount receives the number of image descriptors.
void ReadGifStream(TStream& stream, TBitmap& bitmap, int32_t& imageCount, TIOParamsVals& params,
                   TProgressRec& progress, bool paramsOnly);
void WriteGif(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
void WriteGifStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
int _InsertGifIm(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
/// Inserts the bitmap as frame GIF_ImageIndex; frames afterwards (0 when not GIF).
int _InsertGifImStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
/// Frames other than `index`; rewrites the file only when save is true.
int _DeleteGifIm(const std::string& name, int32_t index, bool save);
bool _CheckGifAnimate(const std::string& name);
void _GifMakeAnimate(const std::string& name, uint16_t loopCount, int32_t screenWidth, int32_t screenHeight);

}  // namespace vexa
