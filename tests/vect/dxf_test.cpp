// DXF drawings made by ezdxf (an independent DXF library) import to the expected objects.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "support/fixtures.h"
#include "vexa/core/streams.h"
#include "vexa/vect/vectmodel.h"

using namespace vexa;

namespace {

constexpr double kPi = 3.141592653589793;

// A 100 x 50 drawing in a 200 x 100 bitmap: scale 2, offset 100 - trunc(49 * 2) = 2.
const char* kScript = R"(
import sys, ezdxf
doc = ezdxf.new("R2000")
msp = doc.modelspace()
if sys.argv[2] == "extents":
    msp.dxf.extmin = (0, 0, 0)
    msp.dxf.extmax = (99, 49, 0)
msp.add_line((10, 5), (60, 40))
msp.add_lwpolyline([(0, 0), (5, 5)])
msp.add_circle((50, 25), 10)
msp.add_text("skipped")
msp.add_arc((20, 20), 5, 0, 90)
blk = doc.blocks.new("B")
blk.add_line((0, 0), (1, 1))
doc.saveas(sys.argv[1])
)";

// With "extents" the header bounds the drawing; without, ezdxf writes the "empty"
// extents (1e20 .. -1e20) that CAD programs write for an unmeasured drawing.
std::string MakeDxf(const std::string& extents) {
  const std::string path = test::TempPath("ezdxf_" + extents + ".dxf");
  const std::string script = test::TempPath("make_dxf.py");
  std::ofstream(script) << kScript;
  const std::string cmd = "/usr/bin/python3 " + script + " " + path + " " + extents + " 2>&1";
  if (std::system(cmd.c_str()) != 0) {
    if (test::InCI()) ADD_FAILURE() << "python3-ezdxf is missing on the CI machine";
    return "";
  }
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

const std::string& Drawing() {
  static const std::string text = MakeDxf("extents");
  return text;
}

std::unique_ptr<TVXVectModel> Import(const std::string& text) {
  auto m = std::make_unique<TVXVectModel>();
  m->SetObjPenWidth(kVXTemplate, 5);
  m->SetObjPenColor(kVXTemplate, clRed);
  TMemoryStream s(text.data(), text.size());
  m->ImportDXFStream(s, 200, 100);
  return m;
}

void ExpectTheDrawing(const TVXVectModel& m) {
  ASSERT_EQ(m.ObjectsCount(), 3);  // the polyline, the text and the block's line are not objects
  const auto& top = m.Obj(kVXRoot).Children;
  EXPECT_EQ(m.ObjKind(top[0]), vxkLINE);
  EXPECT_EQ(m.ObjRect(top[0]), (TRect{20, 88, 120, 18}));
  EXPECT_EQ(m.ObjKind(top[1]), vxkELLIPSE);
  EXPECT_EQ(m.ObjRect(top[1]), (TRect{80, 28, 120, 68}));
  EXPECT_EQ(m.ObjKind(top[2]), vxkARC);
  EXPECT_EQ(m.ObjRect(top[2]), (TRect{30, 48, 50, 68}));
  EXPECT_DOUBLE_EQ(m.ObjAngle1(top[2]), 2 * kPi);
  EXPECT_DOUBLE_EQ(m.ObjAngle2(top[2]), 2 * kPi - kPi / 2);
  // Template properties carry over, except those the import resets.
  EXPECT_EQ(m.ObjPenColor(top[0]), clRed);
  EXPECT_EQ(m.ObjPenWidth(top[0]), 1);
}

}  // namespace

TEST(DxfImport, EzdxfDrawingBecomesLinesEllipsesAndArcs) {
  if (Drawing().empty()) GTEST_SKIP() << "python3-ezdxf is not installed";
  ExpectTheDrawing(*Import(Drawing()));
}

TEST(DxfImport, EmptyHeaderExtentsLeaveTheDrawingUnscaled) {
  const std::string text = MakeDxf("none");
  if (text.empty()) GTEST_SKIP() << "python3-ezdxf is not installed";
  const auto m = Import(text);
  ASSERT_EQ(m->ObjectsCount(), 3);
  EXPECT_EQ(m->ObjRect(m->Obj(kVXRoot).Children[0]), (TRect{10, 95, 60, 60}));
}

TEST(DxfImport, WindowsLineEndingsTrailingSpacesAndCommaLocale) {
  if (Drawing().empty()) GTEST_SKIP() << "python3-ezdxf is not installed";
  std::string crlf;
  for (char c : Drawing()) crlf += c == '\n' ? std::string("  \r\n") : std::string(1, c);
  // Numbers keep their '.' whatever the process locale says.
  const std::string old = std::setlocale(LC_NUMERIC, nullptr);
  const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
  ExpectTheDrawing(*Import(crlf));
  std::setlocale(LC_NUMERIC, old.c_str());
  if (!comma) std::printf("no comma-decimal locale installed; line endings checked only\n");
}

TEST(DxfImport, MalformedNumbersAndUnknownSectionsAreSkipped) {
  const std::string text =
      "0\nSECTION\n2\nHEADER\n9\n$EXTMAX\n10\nabc\n20\n1e400\n0\nENDSEC\n"
      "0\nSECTION\n2\nENTITIES\n"
      "0\nLINE\n10\n1.5x\n20\n2\n11\n4\n21\n-3\n"
      "0\nSPLINE\n10\n7\n"
      "0\nCIRCLE\n10\n1e300\n20\n0\n40\n1e300\n"
      "0\nENDSEC\n0\nSECTION\n5\nENTITIES\n0\nLINE\n0\nEOF\n";
  const auto owned = Import(text);
  const TVXVectModel& m = *owned;
  ASSERT_EQ(m.ObjectsCount(), 2);
  const auto& top = m.Obj(kVXRoot).Children;
  // No usable extents: scale 1, the Y axis still flipped into the bitmap.
  EXPECT_EQ(m.ObjRect(top[0]), (TRect{0, 98, 4, 103}));
  EXPECT_EQ(m.ObjKind(top[1]), vxkELLIPSE);
  EXPECT_LE(m.ObjRect(top[1]).Right, 1000000000);
}
