// JPEG and PNG adapters against libjpeg-turbo and libpng called directly on the
// same 4000 x 3000 picture with the same settings (JPEG quality 90, PNG level 5,
// no row filter). Both sides produce the same thing: bytes in memory when
// encoding, a freshly allocated bottom-up pf24bit bitmap when decoding.
#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vexa/codecs/jpeg.h"
#include "vexa/codecs/png.h"
#include "vexa/core/sample.h"

using namespace vexa;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

const TBitmap& Picture() {
  static const TBitmap picture = VXMakeSampleImage(kWidth, kHeight, 1);
  return picture;
}

TIOParamsVals JpegParams() {
  TIOParamsVals p;
  p.JPEG_Quality = 90;
  return p;
}

TIOParamsVals PngParams() {
  TIOParamsVals p;
  p.PNG_Compression = 5;
  p.PNG_Filter = ioPNG_FILTER_NONE;
  return p;
}

const std::vector<uint8_t>& EncodedJpeg() {
  static const std::vector<uint8_t> bytes = [] {
    TMemoryStream s;
    TBitmap b = Picture();
    TIOParamsVals p = JpegParams();
    WriteJPegStream(s, b, p, nullpr);
    return s.Data();
  }();
  return bytes;
}

const std::vector<uint8_t>& EncodedPng() {
  static const std::vector<uint8_t> bytes = [] {
    TMemoryStream s;
    TBitmap b = Picture();
    TIOParamsVals p = PngParams();
    WritePNGStream(s, b, p, nullpr);
    return s.Data();
  }();
  return bytes;
}

void BM_JpegEncodeAdapter(benchmark::State& state) {
  TBitmap b = Picture();
  TIOParamsVals p = JpegParams();
  for (auto _ : state) {
    TMemoryStream s;
    bool aborting = false;
    TProgressRec pr;
    pr.Aborting = &aborting;
    WriteJPegStream(s, b, p, pr);
    benchmark::DoNotOptimize(s.Size());
  }
}

void BM_JpegEncodeDirect(benchmark::State& state) {
  const TBitmap& b = Picture();
  for (auto _ : state) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    cinfo.density_unit = 1;
    cinfo.X_density = cinfo.Y_density = 96;
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < kHeight; ++y) {
      JSAMPROW row = const_cast<uint8_t*>(b.ScanLine(y));
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    benchmark::DoNotOptimize(outSize);
    std::free(out);
  }
}

void BM_JpegDecodeAdapter(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = EncodedJpeg();
  for (auto _ : state) {
    TMemoryStream s(bytes.data(), bytes.size());
    TBitmap b;
    TIOParamsVals p;
    bool aborting = false;
    TProgressRec pr;
    pr.Aborting = &aborting;
    ReadJPegStream(s, b, p, false, pr);
    benchmark::DoNotOptimize(b.Bits());
  }
}

void BM_JpegDecodeDirect(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = EncodedJpeg();
  for (auto _ : state) {
    // The adapter reads from a stream copy of the data; so does this.
    std::vector<uint8_t> copy(bytes);
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, copy.data(), copy.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    TBitmap b;
    b.Allocate(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), pf24bit);
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
      const int y = static_cast<int>(cinfo.output_scanline);
      const int n = std::min<int>(cinfo.rec_outbuf_height, static_cast<int>(cinfo.output_height) - y);
      for (int i = 0; i < n; ++i) rows[i] = b.ScanLine(y + i);
      jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(b.Bits());
  }
}

void BM_PngEncodeAdapter(benchmark::State& state) {
  TBitmap b = Picture();
  TIOParamsVals p = PngParams();
  for (auto _ : state) {
    TMemoryStream s;
    bool aborting = false;
    TProgressRec pr;
    pr.Aborting = &aborting;
    WritePNGStream(s, b, p, pr);
    benchmark::DoNotOptimize(s.Size());
  }
}

void PngWriteToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void PngFlush(png_structp) {}

void BM_PngEncodeDirect(benchmark::State& state) {
  const TBitmap& b = Picture();
  for (auto _ : state) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, PngWriteToVector, PngFlush);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_set_pHYs(png, info, 3780, 3780, PNG_RESOLUTION_METER);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 5);
    png_set_bgr(png);
    png_write_info(png, info);
    for (int y = 0; y < kHeight; ++y) png_write_row(png, const_cast<uint8_t*>(b.ScanLine(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    benchmark::DoNotOptimize(out.size());
  }
}

void BM_PngDecodeAdapter(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = EncodedPng();
  for (auto _ : state) {
    TMemoryStream s(bytes.data(), bytes.size());
    TBitmap b;
    TIOParamsVals p;
    bool aborting = false;
    TProgressRec pr;
    pr.Aborting = &aborting;
    ReadPNGStream(s, b, p, false, pr);
    benchmark::DoNotOptimize(b.Bits());
  }
}

struct MemoryReader {
  const uint8_t* data;
  size_t size, pos;
};

void PngReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (r->size - r->pos < length) png_error(png, "short");
  std::memcpy(data, r->data + r->pos, length);
  r->pos += length;
}

void BM_PngDecodeDirect(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = EncodedPng();
  for (auto _ : state) {
    std::vector<uint8_t> copy(bytes);
    MemoryReader reader{copy.data(), copy.size(), 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &reader, PngReadFromMemory);
    png_read_info(png, info);
    png_set_bgr(png);
    png_read_update_info(png, info);
    TBitmap b;
    b.Allocate(static_cast<int>(png_get_image_width(png, info)), static_cast<int>(png_get_image_height(png, info)),
               pf24bit);
    for (int y = 0; y < b.Height(); ++y) png_read_row(png, b.ScanLine(y), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(b.Bits());
  }
}

}  // namespace

BENCHMARK(BM_JpegEncodeAdapter)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_JpegEncodeDirect)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_JpegDecodeAdapter)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_JpegDecodeDirect)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PngEncodeAdapter)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PngEncodeDirect)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PngDecodeAdapter)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PngDecodeDirect)->Unit(benchmark::kMillisecond)->Iterations(3);
