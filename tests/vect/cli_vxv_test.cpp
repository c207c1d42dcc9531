// `vexa vxv`: import a DXF drawing made by ezdxf, inspect it, render it into an image.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/fixtures.h"
#include "vexa/io/vexaio.h"

using vexa::test::Quote;
using vexa::test::RunCli;
using vexa::test::TCliRun;

TEST(CliVxv, ImportInfoAndRenderADrawing) {
  const vexa::test::TScratchDir dir;
  const std::string dxf = dir / "drawing.dxf", image = dir / "white.bmp", vxv = dir / "drawing.vxv",
                    out = dir / "rendered.bmp", script = dir / "make.py";
  std::ofstream(script) << "import sys, ezdxf\n"
                                        "doc = ezdxf.new('R12')\n"
                                        "msp = doc.modelspace()\n"
                                        "msp.dxf.extmin = (0, 0, 0)\n"
                                        "msp.dxf.extmax = (99, 99, 0)\n"
                                        "msp.add_line((10, 50), (90, 50))\n"
                                        "msp.add_circle((50, 50), 20)\n"
                                        "doc.saveas(sys.argv[1])\n";
  if (std::system(("/usr/bin/python3 " + Quote(script) + " " + Quote(dxf) + " 2>/dev/null").c_str()) != 0) {
    if (vexa::test::InCI()) FAIL() << "python3-ezdxf is missing on the CI machine";
    GTEST_SKIP() << "python3-ezdxf is not installed";
  }
  {
    vexa::TBitmap white(100, 100, vexa::pf24bit);
    white.Fill(vexa::CreateRGB(255, 255, 255));
    vexa::TVexaIO io;
    io.SetAttachedBitmap(&white);
    io.SaveToFile(image);
  }
  TCliRun r = RunCli("vxv import " + Quote(image) + " " + Quote(dxf) + " " + Quote(vxv));
  ASSERT_EQ(r.Code, 0) << r.Err;
  r = RunCli("vxv info " + Quote(vxv));
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("version: VXV5\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("objects: 2 (2 top level)\n"), std::string::npos) << r.Out;
  // 100 x 100 drawing units into 100 x 100 pixels: scale 1, the Y axis flipped, y = 100 - y - 1.
  EXPECT_NE(r.Out.find("line (10, 49)-(90, 49)"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("ellipse (30, 29)-(70, 69)"), std::string::npos) << r.Out;
  EXPECT_EQ(RunCli("vxv info").Code, 2);
  r = RunCli("vxv info " + Quote(image));
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("unrecognized VXV stream"), std::string::npos) << r.Err;

  for (const std::string& objects : {vxv, dxf}) {
    r = RunCli("vxv render " + Quote(image) + " " + Quote(objects) + " " + Quote(out));
    if (r.Err.find("needs the Qt layer") != std::string::npos) GTEST_SKIP() << r.Err;
    ASSERT_EQ(r.Code, 0) << r.Err;
    vexa::TBitmap bmp;
    vexa::TVexaIO io;
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(out);
    ASSERT_EQ(bmp.Width(), 100);
    EXPECT_EQ(bmp.GetPixel(40, 49), vexa::CreateRGB(0, 0, 0));  // on the line
    EXPECT_EQ(bmp.GetPixel(30, 49), vexa::CreateRGB(0, 0, 0));  // on the circle's left
    EXPECT_EQ(bmp.GetPixel(50, 40), vexa::CreateRGB(255, 255, 255));
    EXPECT_EQ(bmp.GetPixel(5, 5), vexa::CreateRGB(255, 255, 255));
  }
}
