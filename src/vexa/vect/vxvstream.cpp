// The VXV stream: the objects of a vector view with their shared bitmaps.
//
//   offset  size  field
//   0       4     "VXV5" ("VXV1".."VXV4" are read too)
//   4       4     bytes from the magic to the end of the block (ignored when reading)
//   8       8     Scale, double ("VXV1": a 32-bit integer)
//   16      4     N bitmap slots, then per slot a 32-bit count R and, when R > 0, the
//                 bitmap as a PNG stream ("VXV1", "VXV2": a BMP file)
//   ...           "VXV3" and later: a zlib stream holding the object count and the
//                 records; "VXV1", "VXV2": the count and 96-byte records, uncompressed
//
// The count is the number of top-level records; a frame's record is followed by its
// children's. Everything a record declares (string lengths, child counts, nesting)
// is checked against what the stream can still deliver before it is used.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "vexa/codecs/bmp.h"
#include "vexa/codecs/png.h"
#include "vexa/core/streams.h"
#include "vexa/vect/vectmodel.h"

namespace vexa {

namespace {

// Deeper nesting than any drawing needs; bounds the reader's recursion.
constexpr int kMaxFrameDepth = 200;
constexpr int kOldRecordSize = 96;
constexpr int64_t kChunk = 1 << 16;

[[noreturn]] void Corrupt(const char* what) { throw EReadError(std::string("VXV stream: ") + what); }

/// Where records come from: the stream itself or the zlib stream inside it.
class TRecordSource {
 public:
  virtual ~TRecordSource() = default;
  virtual void Read(void* buf, int64_t n) = 0;
  /// Bytes certainly available, or -1 when unknown (compressed data).
  virtual int64_t Remaining() = 0;

  uint8_t U8() {
    uint8_t v;
    Read(&v, 1);
    return v;
  }
  int32_t I32() {
    uint8_t b[4];
    Read(b, 4);
    return static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
  }
  double F64() {
    uint8_t b[8];
    Read(b, 8);
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = (u << 8) | b[i];
    double d;
    std::memcpy(&d, &u, 8);
    return d;
  }
  /// A length-prefixed string; grows with the data actually read, so a false
  /// length cannot make it allocate more than the stream holds.
  std::string Str() {
    const int32_t len = I32();
    if (len < 0) Corrupt("negative string length");
    const int64_t left = Remaining();
    if (left >= 0 && len > left) Corrupt("string longer than the stream");
    std::string s;
    for (int64_t done = 0; done < len;) {
      const int64_t n = std::min<int64_t>(kChunk, len - done);
      s.resize(static_cast<size_t>(done + n));
      Read(s.data() + done, n);
      done += n;
    }
    return s;
  }
};

class TPlainSource : public TRecordSource {
 public:
  explicit TPlainSource(TStream& s) : FStream(s) {}
  void Read(void* buf, int64_t n) override { FStream.ReadBuffer(buf, n); }
  int64_t Remaining() override { return FStream.Remaining(); }

 private:
  TStream& FStream;
};

class TInflateSource : public TRecordSource {
 public:
  explicit TInflateSource(TStream& s) : FStream(s) {
    if (inflateInit(&FZ) != Z_OK) throw EStreamError("VXV stream: zlib unavailable");
  }
  ~TInflateSource() override { inflateEnd(&FZ); }
  TInflateSource(const TInflateSource&) = delete;
  TInflateSource& operator=(const TInflateSource&) = delete;

  void Read(void* buf, int64_t n) override {
    FZ.next_out = static_cast<Bytef*>(buf);
    FZ.avail_out = static_cast<uInt>(n);
    while (FZ.avail_out > 0) {
      if (FEnded) Corrupt("object data ends early");
      if (FZ.avail_in == 0) {
        const int64_t got = FStream.Read(FIn, sizeof FIn);
        if (got <= 0) Corrupt("truncated object data");
        FZ.next_in = FIn;
        FZ.avail_in = static_cast<uInt>(got);
      }
      const int r = inflate(&FZ, Z_NO_FLUSH);
      if (r == Z_STREAM_END)
        FEnded = true;
      else if (r != Z_OK && r != Z_BUF_ERROR)
        Corrupt("corrupt object data");
    }
  }
  int64_t Remaining() override { return -1; }
  /// Checks that the compressed data ends whole (its checksum included) and leaves
  /// the stream right after it.
  void Finish() {
    // Data past the last record is tolerated, up to a bound that keeps a bomb cheap.
    uint8_t sink[4096];
    for (int64_t drained = 0; !FEnded && drained < (1 << 20); drained += sizeof sink) {
      try {
        Read(sink, sizeof sink);
      } catch (const EReadError&) {
        if (!FEnded) throw;
      }
    }
    FStream.Seek(-static_cast<int64_t>(FZ.avail_in), soCurrent);
  }

 private:
  TStream& FStream;
  z_stream FZ{};
  uint8_t FIn[4096];
  bool FEnded = false;
};

template <class E>
E Enum(uint8_t v, uint8_t last, E fallback) {
  return v <= last ? static_cast<E>(v) : fallback;
}

TVXVObjectKind Kind(uint8_t v) {
  if (v > vxkRULER) Corrupt("unknown object kind");
  return static_cast<TVXVObjectKind>(v);
}

struct TReader {
  TVXVectModel& M;
  TRecordSource& Src;
  int Version;

  void Records(int frame, int32_t count, int depth) {
    if (count < 0) Corrupt("negative object count");
    if (depth > kMaxFrameDepth) Corrupt("frames nested too deeply");
    const int64_t left = Src.Remaining();
    if (left >= 0 && count > left / (Version <= 2 ? kOldRecordSize : 31)) Corrupt("more objects than the stream holds");
    for (int32_t k = 0; k < count; ++k) {
      int32_t children = 0;
      TVXVObject o = Version <= 2 ? Old(children) : New(children);
      const int idx = M.AddVObject(frame, o);
      if (o.Kind == vxkFRAME) Records(idx, children, depth + 1);
    }
  }

  TVXVObject New(int32_t& children) {
    TVXVObject o;
    o.Left = Src.I32();
    o.Top = Src.I32();
    o.Right = Src.I32();
    o.Bottom = Src.I32();
    o.Kind = Kind(Src.U8());
    o.Name = Src.Str();
    o.ID = Src.I32();
    o.PenColor = Src.I32();
    o.PenStyle = Enum(Src.U8(), psClear, psSolid);
    o.PenWidth = Src.I32();
    o.BrushColor = Src.I32();
    o.BrushStyle = Enum(Src.U8(), bsDiagCross, bsSolid);
    o.Style = Src.U8() & kVXVAllStyles;
    o.Font.reset();
    o.RulerUnit = vxuPIXELS;
    o.RulerType = vxrtRULER;
    switch (o.Kind) {
      case vxkFRAME:
        children = Src.I32();
        break;
      case vxkLINE:
        o.BeginShape = Enum(Src.U8(), vxsOUTARROW, vxsNONE);
        o.EndShape = Enum(Src.U8(), vxsOUTARROW, vxsNONE);
        o.ShapeWidth = Src.I32();
        o.ShapeHeight = Src.I32();
        break;
      case vxkARC:
        o.Angle1 = Src.F64();
        o.Angle2 = Src.F64();
        break;
      case vxkBITMAP:
        o.BitmapIdx = Src.I32();
        break;
      case vxkTEXT:
        if (Version >= 4) o.TextAlign = Src.U8();
        o.Text = Src.Str();
        if (Src.U8() == 1) o.Font = ReadFont();
        break;
      case vxkRULER:
        if (Version >= 5) {
          o.RulerUnit = Enum(Src.U8(), vxuMILLIMETERS, vxuPIXELS);
          o.RulerType = Enum(Src.U8(), vxrtQUOTEEND, vxrtRULER);
        }
        break;
      default:
        break;
    }
    return o;
  }

  TVXVObject Old(int32_t& children) {
    uint8_t r[kOldRecordSize];
    Src.Read(r, kOldRecordSize);
    auto i32 = [&](int at) {
      return static_cast<int32_t>(r[at] | (r[at + 1] << 8) | (r[at + 2] << 16) | (static_cast<uint32_t>(r[at + 3]) << 24));
    };
    auto f64 = [&](int at) {
      double d;
      std::memcpy(&d, r + at, 8);  // little-endian host
      return d;
    };
    TVXVObject o;
    o.Left = i32(0);
    o.Top = i32(4);
    o.Right = i32(8);
    o.Bottom = i32(12);
    o.Kind = Kind(r[16]);
    children = i32(24);
    o.BeginShape = Enum(r[32], vxsOUTARROW, vxsNONE);
    o.EndShape = Enum(r[33], vxsOUTARROW, vxsNONE);
    o.ShapeWidth = i32(36);
    o.ShapeHeight = i32(40);
    o.PenColor = i32(44);
    o.PenStyle = Enum(r[48], psClear, psSolid);
    o.PenWidth = i32(52);
    o.BrushColor = i32(56);
    o.BrushStyle = Enum(r[60], bsDiagCross, bsSolid);
    o.Angle1 = f64(64);
    o.Angle2 = f64(72);
    o.BitmapIdx = i32(80);
    const bool hasFont = i32(88) != 0;
    o.TextAlign = r[92];
    o.Style = kVXVAllStyles;
    o.Font.reset();
    o.RulerUnit = vxuPIXELS;
    o.RulerType = vxrtRULER;
    if (o.Kind == vxkTEXT) {
      o.Text = Src.Str();
      if (hasFont) o.Font = ReadFont();
    }
    return o;
  }

  TVXLogFont ReadFont() {
    uint8_t b[kVXLogFontSize];
    Src.Read(b, kVXLogFontSize);
    return VXLogFontFromBytes(b);
  }
};

class TByteWriter {
 public:
  std::vector<uint8_t> Data;
  void U8(uint8_t v) { Data.push_back(v); }
  void I32(int32_t v) {
    for (int i = 0; i < 4; ++i) Data.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  }
  void F64(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    for (int i = 0; i < 8; ++i) Data.push_back(static_cast<uint8_t>(u >> (8 * i)));
  }
  void Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    Data.insert(Data.end(), b, b + n);
  }
  void Str(const std::string& s) {
    I32(static_cast<int32_t>(s.size()));
    Bytes(s.data(), s.size());
  }
};

void WriteRecord(const TVXVectModel& m, int idx, TByteWriter& w) {
  const TVXVObject& o = m.Obj(idx);
  w.I32(o.Left);
  w.I32(o.Top);
  w.I32(o.Right);
  w.I32(o.Bottom);
  w.U8(o.Kind);
  w.Str(o.Name);
  w.I32(o.ID);
  w.I32(o.PenColor);
  w.U8(o.PenStyle);
  w.I32(o.PenWidth);
  w.I32(o.BrushColor);
  w.U8(o.BrushStyle);
  w.U8(static_cast<uint8_t>(o.Style & kVXVAllStyles));
  switch (o.Kind) {
    case vxkFRAME:
      w.I32(static_cast<int32_t>(o.Children.size()));
      for (int c : o.Children) WriteRecord(m, c, w);
      break;
    case vxkLINE:
      w.U8(o.BeginShape);
      w.U8(o.EndShape);
      w.I32(o.ShapeWidth);
      w.I32(o.ShapeHeight);
      break;
    case vxkARC:
      w.F64(o.Angle1);
      w.F64(o.Angle2);
      break;
    case vxkBITMAP:
      w.I32(o.BitmapIdx);
      break;
    case vxkTEXT:
      w.U8(o.TextAlign);
      w.Str(o.Text);
      w.U8(o.Font ? 1 : 0);
      if (o.Font) {
        uint8_t b[kVXLogFontSize];
        VXLogFontToBytes(*o.Font, b);
        w.Bytes(b, sizeof b);
      }
      break;
    case vxkRULER:
      w.U8(o.RulerUnit);
      w.U8(o.RulerType);
      break;
    default:
      break;
  }
}

void ReadSlotBitmap(TStream& s, int version, TBitmap& bmp) {
  TIOParamsVals params;
  bool aborting = false;
  TProgressRec progress;
  progress.Aborting = &aborting;
  if (version <= 2) {
    // The BMP reader may stop anywhere; the file header says where the image ends.
    const int64_t start = s.Position();
    uint8_t fh[14];
    s.ReadBuffer(fh, sizeof fh);
    const int64_t size = fh[2] | (fh[3] << 8) | (fh[4] << 16) | (static_cast<int64_t>(fh[5]) << 24);
    if (fh[0] != 'B' || fh[1] != 'M' || size < 14 || size > s.Size() - start) Corrupt("bad embedded BMP");
    s.SetPosition(start);
    BMPReadStream(s, bmp, size, false, progress, params);
    s.SetPosition(start + size);
  } else {
    ReadPNGStream(s, bmp, params, false, progress);
  }
  if (aborting || bmp.Empty()) Corrupt("bad embedded bitmap");
}

}  // namespace

void TVXVectModel::SaveToStreamVXV(TStream& stream) {
  CompactBitmaps();
  const int64_t start = stream.Position();
  stream.WriteBuffer("VXV5", 4);
  stream.WriteI32(0);
  stream.WriteDouble(FScale);
  stream.WriteI32(static_cast<int32_t>(FBitmaps.size()));
  for (size_t s = 0; s < FBitmaps.size(); ++s) {
    const int32_t refs = FBitmaps[s].RefCount - (FTemplate.BitmapIdx == static_cast<int>(s) ? 1 : 0);
    stream.WriteI32(refs);
    if (refs <= 0) continue;
    TBitmap copy = *FBitmaps[s].Bitmap;
    TIOParamsVals params;
    if (copy.PixelFormat() == pf1bit) params.BitsPerSample = params.SamplesPerPixel = 1;
    WritePNGStream(stream, copy, params, nullpr);
  }
  TByteWriter w;
  w.I32(static_cast<int32_t>(FRoot.Children.size()));
  for (int c : FRoot.Children) WriteRecord(*this, c, w);
  uLongf packedLen = compressBound(static_cast<uLong>(w.Data.size()));
  std::vector<uint8_t> packed(packedLen);
  if (compress2(packed.data(), &packedLen, w.Data.data(), static_cast<uLong>(w.Data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw EWriteError("VXV stream: compression failed");
  stream.WriteBuffer(packed.data(), static_cast<int64_t>(packedLen));
  const int64_t end = stream.Position();
  stream.SetPosition(start + 4);
  stream.WriteI32(static_cast<int32_t>(end - start));
  stream.SetPosition(end);
}

void TVXVectModel::LoadFromStreamVXV(TStream& stream) {
  // The template's picture survives the load in a copy of its own.
  std::unique_ptr<TBitmap> kept;
  if (const TBitmap* b = ObjBitmap(kVXTemplate)) kept = std::make_unique<TBitmap>(*b);
  SetObjBitmapIdxNU(kVXTemplate, -1);
  RemoveAllObjects();
  FBitmaps.clear();
  const bool sharing = ShareBitmaps;
  ShareBitmaps = true;
  struct Restore {
    TVXVectModel& M;
    std::unique_ptr<TBitmap>& Kept;
    bool Sharing;
    ~Restore() {
      // Slots no object took stay unused.
      for (auto& slot : M.FBitmaps)
        if (slot.RefCount == 0) slot.Bitmap.reset();
      M.ShareBitmaps = Sharing;
      if (Kept) M.FTemplate.BitmapIdx = M.AcquireBitmap(*Kept);
      M.Changed(kVXRoot, true);
    }
  } restore{*this, kept, sharing};

  char magic[4] = {};
  if (stream.Read(magic, 4) != 4 || std::memcmp(magic, "VXV", 3) != 0 || magic[3] < '1' || magic[3] > '5')
    throw EInvalidGraphic("unrecognized VXV stream");
  const int version = magic[3] - '0';
  stream.ReadI32();
  FScale = version == 1 ? stream.ReadI32() : stream.ReadDouble();
  UpdateCoef();
  MeasureChanged();

  const int32_t slots = stream.ReadI32();
  if (slots < 0 || slots > stream.Remaining() / 4) Corrupt("more bitmap slots than the stream holds");
  FBitmaps.resize(static_cast<size_t>(slots));
  for (auto& slot : FBitmaps) {
    if (stream.ReadI32() <= 0) continue;
    slot.Bitmap = std::make_unique<TBitmap>();
    ReadSlotBitmap(stream, version, *slot.Bitmap);
  }

  if (version <= 2) {
    TPlainSource src(stream);
    TReader reader{*this, src, version};
    reader.Records(kVXRoot, src.I32(), 0);
  } else {
    TInflateSource src(stream);
    TReader reader{*this, src, version};
    reader.Records(kVXRoot, src.I32(), 0);
    src.Finish();
  }
  VectorialChanged();
}

void TVXVectModel::SaveToFileVXV(const std::string& name) {
  TFileStream f(name, fmCreate);
  SaveToStreamVXV(f);
}

void TVXVectModel::LoadFromFileVXV(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  LoadFromStreamVXV(f);
}

}  // namespace vexa
