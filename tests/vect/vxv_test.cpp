#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "vexa/codecs/bmp.h"
#include "vexa/core/streams.h"
#include "vexa/vect/vectmodel.h"

using namespace vexa;

namespace {

TBitmap Pattern(int w, int h, int seed) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y, CreateRGB(static_cast<uint8_t>(x * 7 + seed), static_cast<uint8_t>(y * 5), static_cast<uint8_t>(seed)));
  return b;
}

int Add(TVXVectModel& m, TVXVObjectKind kind, int frame = kVXRoot) {
  TVXVObject o = m.Obj(kVXTemplate);
  o.Kind = kind;
  return m.AddVObject(frame, o);
}

// One object of every kind, every property off its default, frames nested two deep.
void Populate(TVXVectModel& m) {
  m.SetScale(0.125);
  const int line = Add(m, vxkLINE);
  m.SetObjRect(line, {300, 40, 12, 90});
  m.SetObjBeginShape(line, vxsINARROW);
  m.SetObjEndShape(line, vxsOUTARROW);
  m.SetObjShapeWidth(line, 7);
  m.SetObjShapeHeight(line, 13);
  m.SetObjPenColor(line, 0x123456);
  m.SetObjPenStyle(line, psDashDot);
  m.SetObjPenWidth(line, 4);
  m.SetObjName(line, "arrow");
  m.SetObjID(line, -17);
  const int box = Add(m, vxkBOX);
  m.SetObjBrushColor(box, 0x00FF80);
  m.SetObjBrushStyle(box, bsDiagCross);
  m.SetObjStyle(box, VXVS(vxvsVisible) | VXVS(vxvsMoveable));
  const int frame = Add(m, vxkFRAME);
  m.SetObjName(frame, "group");
  Add(m, vxkELLIPSE, frame);
  const int inner = Add(m, vxkFRAME, frame);
  const int arc = Add(m, vxkARC, inner);
  m.SetObjAngles(arc, 0.5, 4.25);
  const int b1 = Add(m, vxkBITMAP, inner), b2 = Add(m, vxkBITMAP), b3 = Add(m, vxkBITMAP);
  m.SetObjBitmap(b1, Pattern(5, 3, 1));
  m.SetObjBitmap(b2, Pattern(5, 3, 1));
  m.SetObjBitmap(b3, Pattern(2, 9, 90));
  const int text = Add(m, vxkTEXT);
  m.SetObjText(text, "Zone \xC3\xA9tiquet\xC3\xA9" "e");
  m.SetObjTextAlign(text, 2);
  TVXLogFont f;
  f.Height = -21;
  f.Escapement = 450;
  f.Weight = 700;
  f.Italic = 1;
  f.SetFace("DejaVu Serif");
  m.SetObjFont(text, f, clMaroon);
  const int ruler = Add(m, vxkRULER);
  m.SetObjRulerUnit(ruler, vxuMILLIMETERS);
  m.SetObjRulerType(ruler, vxrtQUOTEEND);
  m.SetObjRect(ruler, {5, 5, 1, 80});
}

// Two views hold the same objects when their trees match record by record.
void ExpectSameTree(const TVXVectModel& a, int fa, const TVXVectModel& b, int fb) {
  const auto& ca = a.Obj(fa).Children;
  const auto& cb = b.Obj(fb).Children;
  ASSERT_EQ(ca.size(), cb.size());
  for (size_t k = 0; k < ca.size(); ++k) {
    const TVXVObject &x = a.Obj(ca[k]), &y = b.Obj(cb[k]);
    SCOPED_TRACE(x.Name + " #" + std::to_string(k));
    EXPECT_EQ(x.Kind, y.Kind);
    EXPECT_EQ(a.ObjRect(ca[k]), b.ObjRect(cb[k]));
    EXPECT_EQ(x.Name, y.Name);
    EXPECT_EQ(x.ID, y.ID);
    EXPECT_EQ(x.PenColor, y.PenColor);
    EXPECT_EQ(x.PenStyle, y.PenStyle);
    EXPECT_EQ(x.PenWidth, y.PenWidth);
    EXPECT_EQ(x.BrushColor, y.BrushColor);
    EXPECT_EQ(x.BrushStyle, y.BrushStyle);
    EXPECT_EQ(x.Style, y.Style);
    if (x.Kind == vxkLINE) {
      EXPECT_EQ(x.BeginShape, y.BeginShape);
      EXPECT_EQ(x.EndShape, y.EndShape);
      EXPECT_EQ(x.ShapeWidth, y.ShapeWidth);
      EXPECT_EQ(x.ShapeHeight, y.ShapeHeight);
    }
    if (x.Kind == vxkARC) {
      EXPECT_EQ(x.Angle1, y.Angle1);
      EXPECT_EQ(x.Angle2, y.Angle2);
    }
    if (x.Kind == vxkTEXT) {
      EXPECT_EQ(x.Text, y.Text);
      EXPECT_EQ(x.TextAlign, y.TextAlign);
      EXPECT_EQ(x.Font, y.Font);
    }
    if (x.Kind == vxkRULER) {
      EXPECT_EQ(x.RulerUnit, y.RulerUnit);
      EXPECT_EQ(x.RulerType, y.RulerType);
    }
    if (x.Kind == vxkBITMAP) {
      ASSERT_TRUE(a.ObjBitmap(ca[k]) && b.ObjBitmap(cb[k]));
      EXPECT_EQ(a.ObjBitmap(ca[k])->Width(), b.ObjBitmap(cb[k])->Width());
      EXPECT_EQ(0, std::memcmp(a.ObjBitmap(ca[k])->Bits(), b.ObjBitmap(cb[k])->Bits(), a.ObjBitmap(ca[k])->ImageSize()));
    }
    if (x.Kind == vxkFRAME) ExpectSameTree(a, ca[k], b, cb[k]);
  }
}

size_t Occurrences(const std::vector<uint8_t>& data, const char* what) {
  const size_t n = std::strlen(what);
  size_t count = 0;
  for (size_t i = 0; i + n <= data.size(); ++i) count += std::memcmp(data.data() + i, what, n) == 0;
  return count;
}

// Hand-built streams of the older versions.
struct Bytes {
  std::vector<uint8_t> D;
  Bytes& Raw(const void* p, size_t n) {
    D.insert(D.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    return *this;
  }
  Bytes& U8(uint8_t v) { return Raw(&v, 1); }
  Bytes& I32(int32_t v) { return Raw(&v, 4); }
  Bytes& F64(double v) { return Raw(&v, 8); }
  Bytes& Str(const std::string& s) { return I32(static_cast<int32_t>(s.size())).Raw(s.data(), s.size()); }
  /// The common head of a record of version 3 and later.
  Bytes& Head(TVXVObjectKind kind, const std::string& name) {
    I32(1).I32(2).I32(30).I32(40).U8(kind).Str(name).I32(5).I32(clBlue).U8(psSolid).I32(2);
    return I32(clWhite).U8(bsClear).U8(15);
  }
  Bytes& Compressed(const Bytes& inner) {
    uLongf len = compressBound(static_cast<uLong>(inner.D.size()));
    std::vector<uint8_t> out(len);
    compress2(out.data(), &len, inner.D.data(), static_cast<uLong>(inner.D.size()), Z_DEFAULT_COMPRESSION);
    return Raw(out.data(), len);
  }
};

void Load(TVXVectModel& m, const std::vector<uint8_t>& data) {
  TMemoryStream s(data.data(), data.size());
  m.LoadFromStreamVXV(s);
}

std::vector<uint8_t> Save(TVXVectModel& m) {
  TMemoryStream s;
  m.SaveToStreamVXV(s);
  return s.Data();
}

}  // namespace

TEST(VxvRoundTrip, EveryPropertyFrameAndSharedBitmapSurvives) {
  TVXVectModel a;
  Populate(a);
  const std::vector<uint8_t> data = Save(a);
  ASSERT_EQ(0, std::memcmp(data.data(), "VXV5", 4));
  int32_t length;
  std::memcpy(&length, data.data() + 4, 4);
  EXPECT_EQ(static_cast<size_t>(length), data.size());
  // The two equal bitmaps are stored once; the template's own picture not at all.
  EXPECT_EQ(Occurrences(data, "\x89PNG"), 2u);

  TVXVectModel b;
  Load(b, data);
  EXPECT_EQ(b.Scale(), 0.125);
  EXPECT_EQ(b.ObjectsCount(), a.ObjectsCount());
  ExpectSameTree(a, kVXRoot, b, kVXRoot);
  const int shared = b.Obj(b.Obj(kVXRoot).Children[3]).BitmapIdx;
  EXPECT_GE(shared, 0);
  EXPECT_EQ(b.BitmapTable()[static_cast<size_t>(shared)].RefCount, 2);
  ASSERT_NE(b.ObjBitmap(kVXTemplate), nullptr);  // the template kept its picture
  EXPECT_EQ(b.ObjBitmap(kVXTemplate)->Width(), 64);
}

TEST(VxvRead, ForeignMagicIsRejectedAfterClearingTheObjects) {
  TVXVectModel m;
  m.AddNewObject();
  for (const char* head : {"VXV6", "VXV0", "vxv5", "PNG\x89", "VX"}) {
    TMemoryStream s(head, std::strlen(head));
    try {
      m.LoadFromStreamVXV(s);
      ADD_FAILURE() << head;
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "unrecognized VXV stream");
    }
    EXPECT_EQ(m.ObjectsCount(), 0);
  }
}

TEST(VxvRead, Version3TextHasNoAlignmentByteAndVersion4RulerNoUnitBytes) {
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    Bytes objects;
    objects.I32(2);
    if (version == 3) {
      objects.Head(vxkTEXT, "note").Str("hello").U8(0);
    } else {
      objects.Head(vxkRULER, "ruler");
    }
    objects.Head(vxkLINE, "after").U8(vxsINARROW).U8(vxsNONE).I32(9).I32(11);
    Bytes file;
    file.Raw(version == 3 ? "VXV3" : "VXV4", 4).I32(0).F64(2.5).I32(0).Compressed(objects);
    TVXVectModel m;
    Load(m, file.D);
    ASSERT_EQ(m.ObjectsCount(), 2);
    const int first = m.Obj(kVXRoot).Children[0], second = m.Obj(kVXRoot).Children[1];
    if (version == 3) {
      EXPECT_EQ(m.ObjText(first), "hello");
      EXPECT_EQ(m.ObjTextAlign(first), 0);
    } else {
      EXPECT_EQ(m.ObjRulerUnit(first), vxuPIXELS);
      EXPECT_EQ(m.ObjRulerType(first), vxrtRULER);
    }
    // The record after it is read in step.
    EXPECT_EQ(m.ObjName(second), "after");
    EXPECT_EQ(m.ObjShapeHeight(second), 11);
    EXPECT_EQ(m.Scale(), 2.5);
  }
}

TEST(VxvRead, Version1OldRecordsWithEmbeddedBmp) {
  TBitmap pic = Pattern(6, 4, 3);
  TMemoryStream bmp;
  TIOParamsVals params;
  BMPWriteStream(bmp, pic, params, nullpr);
  auto oldRecord = [](TVXVObjectKind kind, int32_t children, int32_t bitmap, int32_t font, uint8_t align) {
    uint8_t r[96] = {};
    const int32_t rect[4] = {40, 30, 10, 20};
    std::memcpy(r, rect, 16);
    r[16] = kind;
    std::memcpy(r + 24, &children, 4);
    r[32] = vxsOUTARROW;
    const int32_t pen = clGreen, width = 3;
    std::memcpy(r + 44, &pen, 4);
    std::memcpy(r + 52, &width, 4);
    std::memcpy(r + 80, &bitmap, 4);
    std::memcpy(r + 88, &font, 4);
    r[92] = align;
    return std::vector<uint8_t>(r, r + 96);
  };
  Bytes file;
  file.Raw("VXV1", 4).I32(0).I32(3).I32(1).I32(1).Raw(bmp.Memory(), static_cast<size_t>(bmp.Size()));
  file.I32(2);
  const auto frame = oldRecord(vxkFRAME, 1, -1, 0, 0);
  file.Raw(frame.data(), 96);
  const auto bitmapRec = oldRecord(vxkBITMAP, 0, 0, 0, 0);
  file.Raw(bitmapRec.data(), 96);
  const auto textRec = oldRecord(vxkTEXT, 0, -1, 1, 1);
  TVXLogFont f;
  f.SetFace("Old");
  uint8_t fb[kVXLogFontSize];
  VXLogFontToBytes(f, fb);
  file.Raw(textRec.data(), 96).Str("legacy").Raw(fb, sizeof fb);

  TVXVectModel m;
  Load(m, file.D);
  EXPECT_EQ(m.Scale(), 3);
  ASSERT_EQ(m.ObjectsCount(), 3);
  const int fr = m.Obj(kVXRoot).Children[0], inner = m.Obj(fr).Children.at(0), text = m.Obj(kVXRoot).Children[1];
  EXPECT_EQ(m.ObjKind(inner), vxkBITMAP);
  EXPECT_EQ(m.ObjRect(inner), (TRect{10, 20, 40, 30}));  // ordered when added
  ASSERT_NE(m.ObjBitmap(inner), nullptr);
  EXPECT_EQ(m.ObjBitmap(inner)->GetPixel(5, 3), pic.GetPixel(5, 3));
  EXPECT_EQ(m.ObjText(text), "legacy");
  EXPECT_EQ(m.ObjFontName(text), "Old");
  EXPECT_EQ(m.ObjTextAlign(text), 1);
  EXPECT_EQ(m.ObjPenWidth(text), 3);
  EXPECT_EQ(m.ObjStyle(text), kVXVAllStyles);
}

TEST(VxvMalformed, EveryTruncationRaisesAStreamErrorAndKeepsWhatWasRead) {
  TVXVectModel a;
  Populate(a);
  const std::vector<uint8_t> data = Save(a);
  int partial = 0;
  for (size_t len = 0; len < data.size(); ++len) {
    TVXVectModel m;
    const std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<long>(len));
    try {
      Load(m, cut);
      ADD_FAILURE() << "no error at length " << len;
    } catch (const EStreamError&) {
    } catch (const EInvalidGraphic&) {
      EXPECT_LT(len, 4u);
    }
    EXPECT_LE(m.ObjectsCount(), a.ObjectsCount());
    partial += m.ObjectsCount() > 0;
    ASSERT_NE(m.ObjBitmap(kVXTemplate), nullptr);
  }
  EXPECT_GT(partial, 0);
}

TEST(VxvMalformed, DeclaredSizesAreCheckedBeforeUse) {
  struct Case {
    const char* Why;
    Bytes File;
  };
  std::vector<Case> cases;
  cases.push_back({"slot count", Bytes().Raw("VXV5", 4).I32(0).F64(1).I32(0x7FFFFFFF).I32(1)});
  cases.push_back({"negative slots", Bytes().Raw("VXV5", 4).I32(0).F64(1).I32(-5)});
  cases.push_back({"bad slot picture", Bytes().Raw("VXV5", 4).I32(0).F64(1).I32(1).I32(1).Raw("garbage!", 8)});
  cases.push_back({"old object count", Bytes().Raw("VXV2", 4).I32(0).F64(1).I32(0).I32(1 << 30)});
  Bytes longName;
  longName.I32(1).I32(0).I32(0).I32(1).I32(1).U8(vxkBOX).I32(0x7FFFFFF0).Raw("x", 1);
  cases.push_back({"name length", Bytes().Raw("VXV5", 4).I32(0).F64(1).I32(0).Compressed(longName)});
  Bytes badKind;
  badKind.I32(1).I32(0).I32(0).I32(1).I32(1).U8(99).Str("").I32(0).I32(0).U8(0).I32(1).I32(0).U8(0).U8(15);
  cases.push_back({"kind", Bytes().Raw("VXV5", 4).I32(0).F64(1).I32(0).Compressed(badKind)});
  // Frames nested far deeper than any drawing; each frame holds the next.
  Bytes deep;
  deep.I32(1);
  for (int k = 0; k < 5000; ++k) deep.Head(vxkFRAME, "").I32(1);
  cases.push_back({"nesting", Bytes().Raw("VXV5", 4).I32(0).F64(1).I32(0).Compressed(deep)});
  cases.push_back({"zlib", Bytes().Raw("VXV5", 4).I32(0).F64(1).I32(0).Raw("\x78\x9c\xff\xff\xff\xff", 6)});
  for (auto& c : cases) {
    TVXVectModel m;
    EXPECT_THROW(Load(m, c.File.D), EStreamError) << c.Why;
  }
}

TEST(VxvFile, SaveAndLoadThroughAFile) {
  TVXVectModel a;
  Populate(a);
  const std::string path = test::TempPath("objects.vxv");
  a.SaveToFileVXV(path);
  TVXVectModel b;
  b.LoadFromFileVXV(path);
  ExpectSameTree(a, kVXRoot, b, kVXRoot);
  EXPECT_THROW(b.LoadFromFileVXV(path + ".missing"), EFOpenError);
}
