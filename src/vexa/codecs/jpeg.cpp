#include "vexa/codecs/jpeg.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "vexa/core/vxview.h"

namespace vexa {

namespace {

// Control leaves the library by longjmp back into the function that made the
// library call. Those functions (RunRead, RunWrite) therefore hold no local object
// with a destructor: everything lives in a context owned by the caller, which
// destroys the library object on every path.

// libjpeg-turbo only takes its fast Huffman path while several KB of input are
// buffered; a 4 KB buffer keeps it on the slow path most of the time.
constexpr size_t kInputBufferSize = 65536;
constexpr size_t kOutputBufferSize = 65536;
constexpr int kMaxRowGroup = 16;
// Real progressive files have a dozen scans; thousands only make decoding crawl.
constexpr int kMaxScans = 1000;
// The least work memory granted to the library, however close the bitmap is to the limit.
constexpr uint64_t kMinWorkMemory = 1 << 20;

struct ErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  // The library's own message formatter, kept for the failure text (ours stays silent).
  void (*libraryFormat)(j_common_ptr, char*) = nullptr;
};

struct SourceMgr {
  jpeg_source_mgr pub;
  JOCTET buffer[kInputBufferSize];
};

struct DestMgr {
  jpeg_destination_mgr pub;
  JOCTET buffer[kOutputBufferSize];
};

// What the callbacks need; the library's client_data points at it.
struct Context {
  ErrorMgr err{};
  jpeg_progress_mgr monitor{};
  TStream* stream = nullptr;
  TProgressRec* progress = nullptr;
  bool failed = false;
  // The entropy data ended before the declared rows: the library fills the rest
  // with grey and only warns.
  bool truncated = false;
  // A stream exception caught inside a callback, rethrown once the library is gone.
  std::exception_ptr pending;
};

struct ReadContext : Context {
  jpeg_decompress_struct cinfo{};
  SourceMgr src{};
  std::vector<uint8_t> rowBuf;
};

struct WriteContext : Context {
  jpeg_compress_struct cinfo{};
  DestMgr dest{};
  std::vector<uint8_t> rowBuf;
};

Context* ContextOf(j_common_ptr cinfo) { return static_cast<Context*>(cinfo->client_data); }

bool Stopped(const Context& c) { return c.failed || c.progress->Aborted(); }

// The library's error codes by what a caller can do about them.
TVXFailureKind KindOf(int code) {
  switch (code) {
    case JERR_IMAGE_TOO_BIG:
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:  // the work memory left beside the bitmap is too small
    case JERR_WIDTH_OVERFLOW: return fkSizeLimit;
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_PRECISION:
    case JERR_CCIR601_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL: return fkUnsupported;
    case JERR_INPUT_EMPTY:
    case JERR_INPUT_EOF: return fkTruncated;
    default: return fkCorrupt;
  }
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  Context* c = ContextOf(cinfo);
  c->failed = true;
  // A stream failure is reported by its own exception, not by the flag; a stop asked
  // for by the progress event keeps the flag without a reason.
  if (!c->pending && !c->progress->Aborted()) {
    char text[JMSG_LENGTH_MAX] = {};
    if (cinfo->err->msg_code == JERR_NO_BACKING_STORE)
      std::snprintf(text, sizeof text, "the decoder's work memory would pass the size limit");
    else if (c->err.libraryFormat)
      c->err.libraryFormat(cinfo, text);
    c->progress->Fail(KindOf(cinfo->err->msg_code), text);
  }
  std::longjmp(c->err.jump, 1);
}

void OutputMessage(j_common_ptr) {}

void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  const int code = cinfo->err->msg_code;
  if (code == JWRN_HIT_MARKER || code == JWRN_JPEG_EOF) ContextOf(cinfo)->truncated = true;
}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }

// Runs inside long library calls (a progressive start decodes the whole file), so
// an abort from the progress event or a scan flood ends them early.
void MonitorProgress(j_common_ptr cinfo) {
  Context* c = ContextOf(cinfo);
  if (c->progress->Aborted()) ErrorExit(cinfo);
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    c->progress->Fail(fkSizeLimit, "more than " + std::to_string(kMaxScans) + " scans");
    ErrorExit(cinfo);
  }
}

void InstallErrorHandling(Context& c, j_common_ptr cinfo) {
  cinfo->err = jpeg_std_error(&c.err.pub);
  c.err.libraryFormat = c.err.pub.format_message;
  c.err.pub.error_exit = ErrorExit;
  c.err.pub.output_message = OutputMessage;
  c.err.pub.emit_message = EmitMessage;
  c.err.pub.format_message = FormatMessage;
  cinfo->client_data = &c;
}

// Source manager over a TStream.

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* c = static_cast<ReadContext*>(ContextOf(reinterpret_cast<j_common_ptr>(cinfo)));
  int64_t n = 0;
  try {
    n = c->stream->Read(c->src.buffer, kInputBufferSize);
  } catch (...) {
    c->pending = std::current_exception();
  }
  // Leave the catch block before jumping out: longjmp must not cross it.
  if (c->pending) ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));
  if (n <= 0) {
    // Premature end: the library gets a fake end-of-image so its state stays
    // sound, and the image is reported as incomplete.
    c->progress->Fail(fkTruncated, "data ends before the end-of-image marker");
    c->src.buffer[0] = 0xFF;
    c->src.buffer[1] = JPEG_EOI;
    n = 2;
  }
  c->src.pub.next_input_byte = c->src.buffer;
  c->src.pub.bytes_in_buffer = static_cast<size_t>(n);
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long numBytes) {
  jpeg_source_mgr* src = cinfo->src;
  while (numBytes > static_cast<long>(src->bytes_in_buffer)) {
    numBytes -= static_cast<long>(src->bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  if (numBytes > 0) {
    src->next_input_byte += numBytes;
    src->bytes_in_buffer -= static_cast<size_t>(numBytes);
  }
}

void TermSource(j_decompress_ptr) {}

// Destination manager over a TStream.

void InitDestination(j_compress_ptr cinfo) {
  auto* c = static_cast<WriteContext*>(ContextOf(reinterpret_cast<j_common_ptr>(cinfo)));
  c->dest.pub.next_output_byte = c->dest.buffer;
  c->dest.pub.free_in_buffer = kOutputBufferSize;
}

void FlushOutput(j_compress_ptr cinfo, size_t count) {
  auto* c = static_cast<WriteContext*>(ContextOf(reinterpret_cast<j_common_ptr>(cinfo)));
  try {
    c->stream->WriteBuffer(c->dest.buffer, static_cast<int64_t>(count));
  } catch (...) {
    c->pending = std::current_exception();
  }
  if (c->pending) ErrorExit(reinterpret_cast<j_common_ptr>(cinfo));
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  FlushOutput(cinfo, kOutputBufferSize);
  InitDestination(cinfo);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* c = static_cast<WriteContext*>(ContextOf(reinterpret_cast<j_common_ptr>(cinfo)));
  size_t used = kOutputBufferSize - c->dest.pub.free_in_buffer;
  if (used > 0) FlushOutput(cinfo, used);
}

J_DCT_METHOD DctMethod(TIOJPEGDctMethod m) {
  switch (m) {
    case ioJPEG_IFAST: return JDCT_IFAST;
    case ioJPEG_FLOAT: return JDCT_FLOAT;
    default: return JDCT_ISLOW;
  }
}

int ScaleDenominator(const jpeg_decompress_struct& cinfo, TIOJPEGScale scale, int64_t wantedArea) {
  switch (scale) {
    case ioJPEG_FULLSIZE: return 1;
    case ioJPEG_HALF: return 2;
    case ioJPEG_QUARTER: return 4;
    case ioJPEG_EIGHTH: return 8;
    default: break;
  }
  if (wantedArea == 0) return 1;
  int best = 0;
  int64_t bestDiff = 0;
  for (int i = 0; i <= 3; ++i) {
    int64_t area = static_cast<int64_t>(cinfo.image_width >> i) * static_cast<int64_t>(cinfo.image_height >> i);
    int64_t diff = area > wantedArea ? area - wantedArea : wantedArea - area;
    if (i == 0 || diff < bestDiff) {
      best = i;
      bestDiff = diff;
    }
  }
  return 1 << best;
}

// Adobe-style CMYK as libjpeg delivers it (inverted samples) to blue, green, red.
void CmykRowToBgr(const uint8_t* src, uint8_t* dst, int width) {
  for (int x = 0; x < width; ++x, src += 4, dst += 3) {
    unsigned k = src[3];
    dst[0] = static_cast<uint8_t>(src[2] * k / 255);
    dst[1] = static_cast<uint8_t>(src[1] * k / 255);
    dst[2] = static_cast<uint8_t>(src[0] * k / 255);
  }
}

void BgrRowToCmyk(const uint8_t* src, uint8_t* dst, int width) {
  for (int x = 0; x < width; ++x, src += 3, dst += 4) {
    unsigned b = src[0], g = src[1], r = src[2];
    unsigned m = std::max(r, std::max(g, b));
    if (m == 0) m = 1;
    dst[0] = static_cast<uint8_t>(r * 255 / m);
    dst[1] = static_cast<uint8_t>(g * 255 / m);
    dst[2] = static_cast<uint8_t>(b * 255 / m);
    dst[3] = static_cast<uint8_t>(m);
  }
}

// Returns false when the library failed or the read was aborted.
bool RunRead(ReadContext& c, TBitmap& bitmap, TIOParamsVals& params, bool preview) {
  jpeg_decompress_struct& cinfo = c.cinfo;
  TProgressRec& progress = *c.progress;
  InstallErrorHandling(c, reinterpret_cast<j_common_ptr>(&cinfo));
  if (setjmp(c.err.jump)) return false;
  jpeg_create_decompress(&cinfo);
  cinfo.client_data = &c;
  c.monitor.progress_monitor = MonitorProgress;
  cinfo.progress = &c.monitor;
  cinfo.src = &c.src.pub;
  c.src.pub.init_source = InitSource;
  c.src.pub.fill_input_buffer = FillInputBuffer;
  c.src.pub.skip_input_data = SkipInputData;
  c.src.pub.resync_to_restart = jpeg_resync_to_restart;
  c.src.pub.term_source = TermSource;

  int64_t wantedArea = static_cast<int64_t>(params.Width) * params.Height;
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK || Stopped(c)) return false;

  bool cmyk = false;
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE: params.JPEG_ColorSpace = ioJPEG_GRAYLEV; break;
    case JCS_RGB: params.JPEG_ColorSpace = ioJPEG_RGB; break;
    case JCS_CMYK: params.JPEG_ColorSpace = ioJPEG_CMYK; cmyk = true; break;
    case JCS_YCCK: params.JPEG_ColorSpace = ioJPEG_YCbCrK; cmyk = true; break;
    default: params.JPEG_ColorSpace = ioJPEG_YCbCr; break;
  }
  // The library orders the triples itself, so rows land in the bitmap as they are.
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  cinfo.dct_method = DctMethod(params.JPEG_DCTMethod);

  // Unit 0 only gives the aspect ratio (and is what a file without JFIF reports).
  if (cinfo.density_unit == 1 && cinfo.X_density > 0 && cinfo.Y_density > 0) {
    params.DpiX = cinfo.X_density;
    params.DpiY = cinfo.Y_density;
  } else if (cinfo.density_unit == 2 && cinfo.X_density > 0 && cinfo.Y_density > 0) {
    params.DpiX = static_cast<int32_t>(cinfo.X_density * 2.54);
    params.DpiY = static_cast<int32_t>(cinfo.Y_density * 2.54);
  } else {
    params.DpiX = gSystemDPIX;
    params.DpiY = gSystemDPIY;
  }
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 3;
  params.FreeColorMap();
  params.JPEG_Progressive = cinfo.progressive_mode != 0;

  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned>(ScaleDenominator(cinfo, params.JPEG_Scale, wantedArea));
  jpeg_calc_output_dimensions(&cinfo);
  const int width = static_cast<int>(cinfo.output_width);
  const int height = static_cast<int>(cinfo.output_height);
  if (preview) {
    params.Width = width;
    params.Height = height;
    return true;
  }
  if (!VXCheckBitmapSize(width, height, 24)) {
    progress.Fail(fkSizeLimit, VXSizeText(width, height));
    return false;
  }
  // Progressive and multi-scan files keep coefficients for the full-size image
  // (two bytes per sample, twice the bitmap): the bitmap and the library's work
  // memory share one limit, so a tiny file cannot claim gigabytes.
  if (uint64_t limit = VXGetMaxBitmapBytes(); limit > 0) {
    const uint64_t pixels = static_cast<uint64_t>(height) * static_cast<uint64_t>(_BitmapRowLen(width, 24));
    const uint64_t left = limit > pixels ? limit - pixels : 0;
    cinfo.mem->max_memory_to_use = static_cast<long>(std::clamp<uint64_t>(left, kMinWorkMemory, LONG_MAX));
  }

  if (!jpeg_start_decompress(&cinfo) || Stopped(c)) return false;
  params.Width = width;
  params.Height = height;
  bitmap.Allocate(width, height, pf24bit);
  progress.PerUnit = 100.0 / height;
  progress.Done = 0;

  const int group = std::clamp(cinfo.rec_outbuf_height, 1, kMaxRowGroup);
  if (cmyk) c.rowBuf.resize(static_cast<size_t>(width) * 4 * group);
  JSAMPROW rows[kMaxRowGroup];
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    const int want = std::min(group, height - y);
    for (int i = 0; i < want; ++i)
      rows[i] = cmyk ? c.rowBuf.data() + static_cast<size_t>(i) * width * 4 : bitmap.ScanLine(y + i);
    const int got = static_cast<int>(jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(want)));
    if (cmyk)
      for (int i = 0; i < got; ++i) CmykRowToBgr(rows[i], bitmap.ScanLine(y + i), width);
    progress.Done += got;
    progress.Report(progress.Done);
    if (Stopped(c)) return false;
    // Our source never suspends, so no rows means the library is stuck.
    if (got == 0) {
      progress.Fail(fkCorrupt, "the decoder returns no rows at row " + std::to_string(y));
      return false;
    }
  }
  jpeg_finish_decompress(&cinfo);
  if (c.truncated) progress.Fail(fkTruncated, "the compressed data ends before the last of the declared rows");
  return !Stopped(c);
}

bool RunWrite(WriteContext& c, const TBitmap& bitmap, const TIOParamsVals& params) {
  jpeg_compress_struct& cinfo = c.cinfo;
  TProgressRec& progress = *c.progress;
  InstallErrorHandling(c, reinterpret_cast<j_common_ptr>(&cinfo));
  if (setjmp(c.err.jump)) return false;
  jpeg_create_compress(&cinfo);
  cinfo.client_data = &c;
  c.monitor.progress_monitor = MonitorProgress;
  cinfo.progress = &c.monitor;
  cinfo.dest = &c.dest.pub;
  c.dest.pub.init_destination = InitDestination;
  c.dest.pub.empty_output_buffer = EmptyOutputBuffer;
  c.dest.pub.term_destination = TermDestination;
  if (Stopped(c)) return false;

  const int width = bitmap.Width(), height = bitmap.Height();
  cinfo.image_width = static_cast<JDIMENSION>(std::max(width, 0));
  cinfo.image_height = static_cast<JDIMENSION>(std::max(height, 0));
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  J_COLOR_SPACE fileSpace = JCS_YCbCr;
  switch (params.JPEG_ColorSpace) {
    case ioJPEG_GRAYLEV: fileSpace = JCS_GRAYSCALE; break;
    case ioJPEG_RGB: fileSpace = JCS_RGB; break;
    case ioJPEG_CMYK: fileSpace = JCS_CMYK; break;
    case ioJPEG_YCbCrK: fileSpace = JCS_YCCK; break;
    default: break;
  }
  const bool cmyk = fileSpace == JCS_CMYK || fileSpace == JCS_YCCK;
  if (cmyk) {
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
  }
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, fileSpace);
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(std::clamp(params.DpiX, 1, 65535));
  cinfo.Y_density = static_cast<UINT16>(std::clamp(params.DpiY, 1, 65535));
  cinfo.dct_method = DctMethod(params.JPEG_DCTMethod);
  cinfo.optimize_coding = params.JPEG_OptimalHuffman ? TRUE : FALSE;
  cinfo.smoothing_factor = std::clamp(params.JPEG_Smooth, 0, 100);
  jpeg_set_quality(&cinfo, std::clamp(params.JPEG_Quality, 1, 100), TRUE);
  if (params.JPEG_Progressive) jpeg_simple_progression(&cinfo);

  jpeg_start_compress(&cinfo, TRUE);
  if (Stopped(c)) return false;
  progress.PerUnit = 100.0 / height;
  progress.Done = 0;
  if (cmyk) c.rowBuf.resize(static_cast<size_t>(width) * 4);
  JSAMPROW row[1];
  for (int y = 0; y < height; ++y) {
    // The library only reads input rows; the cast is for its non-const signature.
    auto* src = const_cast<uint8_t*>(bitmap.ScanLine(y));
    if (cmyk) {
      BgrRowToCmyk(src, c.rowBuf.data(), width);
      row[0] = c.rowBuf.data();
    } else {
      row[0] = src;
    }
    jpeg_write_scanlines(&cinfo, row, 1);
    progress.Done += 1;
    progress.Report(progress.Done);
    if (Stopped(c)) return false;
  }
  jpeg_finish_compress(&cinfo);
  return !Stopped(c);
}

}  // namespace

bool JpegTryStream(TStream& stream) {
  uint8_t sig[3] = {0, 0, 0};
  const int64_t pos = stream.Position();
  const int64_t n = stream.Read(sig, 3);
  stream.SetPosition(pos);
  return n == 3 && sig[0] == 0xFF && sig[1] == 0xD8 && sig[2] == 0xFF;
}

void ReadJPegStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress) {
  if (!JpegTryStream(stream)) return progress.Fail(fkCorrupt, "no start-of-image marker");
  auto c = std::make_unique<ReadContext>();
  c->stream = &stream;
  c->progress = &progress;
  try {
    RunRead(*c, bitmap, params, preview);
  } catch (...) {
    jpeg_destroy_decompress(&c->cinfo);
    throw;
  }
  jpeg_destroy_decompress(&c->cinfo);
  if (c->pending) std::rethrow_exception(c->pending);
}

void WriteJPegStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  // Only 24-bit rows go to the encoder; anything else is converted on a copy.
  std::unique_ptr<TBitmap> copy;
  const TBitmap* source = &bitmap;
  if (bitmap.PixelFormat() != pf24bit && !bitmap.Empty()) {
    copy = std::make_unique<TBitmap>(bitmap);
    copy->SetPixelFormat(pf24bit);
    source = copy.get();
  }
  auto c = std::make_unique<WriteContext>();
  c->stream = &stream;
  c->progress = &progress;
  try {
    RunWrite(*c, *source, params);
  } catch (...) {
    jpeg_destroy_compress(&c->cinfo);
    throw;
  }
  jpeg_destroy_compress(&c->cinfo);
  if (c->pending) std::rethrow_exception(c->pending);
}

}  // namespace vexa
