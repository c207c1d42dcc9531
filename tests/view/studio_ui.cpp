// End to end: vexa-studio on a real X server (Xvfb) opens a file and its
// screenshot shows the file's pixels.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ui_test_util_ui.h"
#include "vexa/io/vexaio.h"

using namespace vexa;

namespace {
bool OnPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}
TRGB Expected(int x, int y) { return CreateRGB(uint8_t(x * 4), uint8_t(y * 5), uint8_t((x * y) & 255)); }
}  // namespace

TEST(StudioEndToEnd, ScreenshotOnXvfbShowsTheOpenedImage) {
  const std::string studio = VEXA_STUDIO_PATH;
  if (studio.empty() || !std::filesystem::exists(studio)) GTEST_SKIP() << "vexa-studio not built";
  if (!OnPath("xvfb-run") || !OnPath("Xvfb") || !OnPath("xauth")) GTEST_SKIP() << "Xvfb not installed";
  test::App();

  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vexa-studio-e2e";
  std::filesystem::create_directories(dir);
  const std::string input = (dir / "coded.bmp").string(), shot = (dir / "shot.png").string();
  std::filesystem::remove(shot);
  {
    TBitmap bmp(60, 45);
    for (int y = 0; y < 45; ++y)
      for (int x = 0; x < 60; ++x) bmp.SetPixel(x, y, Expected(x, y));
    TVexaIO io;
    io.SetAttachedBitmap(&bmp);
    io.SaveToFile(input);
    ASSERT_FALSE(io.Aborting);
  }
  const std::string cmd = "env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 60 xvfb-run -a -s '-screen 0 1024x768x24' '" +
                          studio + "' '" + input + "' --screenshot '" + shot + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const QImage img(QString::fromStdString(shot));
  ASSERT_FALSE(img.isNull());

  // The image sits at zoom 100 somewhere below the menu bar: find its top-left
  // pixel, then every pixel must match.
  bool found = false;
  for (int oy = 0; oy < 120 && !found; ++oy)
    for (int ox = 0; ox < 40 && !found; ++ox) {
      bool all = true;
      for (int y = 0; y < 45 && all; ++y)
        for (int x = 0; x < 60 && all; ++x) {
          const TRGB e = Expected(x, y);
          all = img.pixel(ox + x, oy + y) == qRgb(e.r, e.g, e.b);
        }
      found = all;
    }
  EXPECT_TRUE(found) << "the opened image is not in " << shot;
}
