// `vexa vxv`: import a DXF drawing made by ezdxf, inspect it, render it into an image.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "vexa/io/vexaio.h"

namespace {

struct CliRun {
  int Code = -1;
  std::string Out;
};

CliRun Vexa(const std::string& args) {
  CliRun r;
  const std::string cmd = std::string("'") + VEXA_CLI_PATH + "' " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.Out.append(buf.data(), n);
  const int status = pclose(p);
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace

TEST(CliVxv, ImportInfoAndRenderADrawing) {
  const std::string dir = ::testing::TempDir(), dxf = dir + "cli_drawing.dxf", image = dir + "cli_white.bmp",
                    vxv = dir + "cli_drawing.vxv", out = dir + "cli_rendered.bmp";
  std::ofstream(dir + "cli_make.py") << "import sys, ezdxf\n"
                                        "doc = ezdxf.new('R12')\n"
                                        "msp = doc.modelspace()\n"
                                        "msp.dxf.extmin = (0, 0, 0)\n"
                                        "msp.dxf.extmax = (99, 99, 0)\n"
                                        "msp.add_line((10, 50), (90, 50))\n"
                                        "msp.add_circle((50, 50), 20)\n"
                                        "doc.saveas(sys.argv[1])\n";
  if (std::system(("/usr/bin/python3 " + dir + "cli_make.py " + dxf + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "python3-ezdxf is not installed";
  {
    vexa::TBitmap white(100, 100, vexa::pf24bit);
    white.Fill(vexa::CreateRGB(255, 255, 255));
    vexa::TVexaIO io;
    io.SetAttachedBitmap(&white);
    io.SaveToFile(image);
  }
  CliRun r = Vexa("vxv import '" + image + "' '" + dxf + "' '" + vxv + "'");
  ASSERT_EQ(r.Code, 0) << r.Out;
  r = Vexa("vxv info '" + vxv + "'");
  ASSERT_EQ(r.Code, 0) << r.Out;
  EXPECT_NE(r.Out.find("version: VXV5\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("objects: 2 (2 top level)\n"), std::string::npos) << r.Out;
  // 100 x 100 drawing units into 100 x 100 pixels: scale 1, the Y axis flipped, y = 100 - y - 1.
  EXPECT_NE(r.Out.find("line (10, 49)-(90, 49)"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("ellipse (30, 29)-(70, 69)"), std::string::npos) << r.Out;
  EXPECT_EQ(Vexa("vxv info").Code, 2);
  EXPECT_EQ(Vexa("vxv info '" + image + "'").Code, 1);  // not a VXV stream

  for (const std::string& objects : {vxv, dxf}) {
    r = Vexa("vxv render '" + image + "' '" + objects + "' '" + out + "'");
    if (r.Out.find("needs the Qt layer") != std::string::npos) GTEST_SKIP() << r.Out;
    ASSERT_EQ(r.Code, 0) << r.Out;
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
