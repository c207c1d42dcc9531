// Turning what a TWAIN source delivers into bitmaps: the image-information record
// into a sized bitmap and the page's parameters, memory-transfer blocks into its
// rows.
//
// A data source is outside code, so everything it reports is checked before a
// byte is written: sizes against the bitmap limit, blocks against the image and
// against the bytes the source says it wrote and the buffer really holds. A
// refused record leaves the bitmap as it was and says why.
//
//   block (BytesPerRow apart, Rows rows)        bitmap
//   +---------------------+                     +-------------------------+
//   | row 0: Columns px   |  --> row YOffset,   |        XOffset          |
//   | row 1               |      from column    |   +----------+          |
//   +---------------------+      XOffset        |   |  block   |          |
//                                               +-------------------------+
//   24 bits: R, G, B -> B, G, R    8 bits: v -> (v, v, v)    1 bit: bit for bit
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "vexa/acquire/twain.h"
#include "vexa/core/bitmap.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// Fills params from the record (BitsPerSample/SamplesPerPixel from the bits per
/// pixel, resolutions rounded, size, no palette). Null params are skipped.
void VXTW_InfoToParams(const twain::TW_IMAGEINFO& info, TIOParamsVals& params);

/// Sizes bmp for the page: pf1bit for 1 bit per pixel, else pf24bit. False (bmp
/// unchanged) for sizes that are not positive or exceed the bitmap limit, and for
/// bit depths the block copier cannot place (only 1, 8 and 24 are accepted).
bool VXTW_PrepareBitmap(const twain::TW_IMAGEINFO& info, TBitmap& bmp, std::string& why);

/// The checks of VXTW_PrepareBitmap without allocating: the page's format in pf.
bool VXTW_PageFormat(const twain::TW_IMAGEINFO& info, TPixelFormat& pf, std::string& why);

/// Copies one uncompressed memory-transfer block into bmp (sized by
/// VXTW_PrepareBitmap for bitsPerPixel). `mem` holds `memLen` bytes: the buffer the
/// application offered, whatever the block claims. False with a reason, and no
/// pixel written, for a block that is compressed, unspecified, outside the image,
/// has rows shorter than its columns, or claims more bytes than were written.
bool VXTW_CopyMemBlock(TBitmap& bmp, int bitsPerPixel, const twain::TW_IMAGEMEMXFER& block, const uint8_t* mem,
                       size_t memLen, std::string& why);

/// Places the memory-transfer blocks of one page for an application that takes it
/// in bands: blocks of whole rows go on at once through one reused band bitmap;
/// a page whose first block is not whole rows (a source sending tiles) is gathered
/// whole and goes on as one band at Finish. A block is checked as by
/// VXTW_CopyMemBlock, and against the page, before a byte is written.
class TVXTWBandPlacer {
 public:
  /// Receives rows y to y + band.Height() - 1; false stops the page.
  using TDeliver = std::function<bool(int y, const TBitmap& band)>;
  /// width x height in `pf` (as VXTW_PageFormat chose), blocks of bitsPerPixel.
  TVXTWBandPlacer(int width, int height, TPixelFormat pf, int bitsPerPixel, TDeliver deliver);
  /// False with a reason for a block refused; false with `Stopped` when the
  /// receiver stopped.
  bool Place(const twain::TW_IMAGEMEMXFER& block, const uint8_t* mem, size_t memLen, std::string& why);
  /// After the last block: hands on a gathered page.
  bool Finish();
  bool Stopped = false;

 private:
  bool Deliver(int y, const TBitmap& band);
  int FWidth, FHeight, FBits;
  TPixelFormat FFormat;
  TDeliver FDeliver;
  TBitmap FBand, FPage;
  bool FGather = false, FStreamed = false;
};

}  // namespace vexa
