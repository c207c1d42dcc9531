// The studio wires up its rulers, histogram panel and colour picker: each is
// found in a screenshot of the window by the pixels only it paints.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "view/ui_test_util_ui.h"

namespace {

bool Black(QRgb p) { return (p & 0xFFFFFF) == 0; }

// A ruler: one line of pixels (a row, or a column when `vertical`) whose black
// pixels are at least 8 ticks in equal steps of 4 or more.
bool HasRuler(const QImage& img, bool vertical) {
  const int lines = vertical ? img.width() : img.height();
  const int length = vertical ? img.height() : img.width();
  for (int l = 0; l < lines; ++l) {
    std::vector<int> ticks;
    for (int i = 0; i < length; ++i)
      if (Black(vertical ? img.pixel(l, i) : img.pixel(i, l))) ticks.push_back(i);
    if (ticks.size() < 8) continue;
    const int step = ticks[1] - ticks[0];
    bool even = step >= 4;
    for (size_t k = 2; k < ticks.size() && even; ++k) even = ticks[k] - ticks[k - 1] == step;
    if (even) return true;
  }
  return false;
}

// A run of `minRun` pixels along a row where channel(p) climbs from near 0 to
// near 255 while same(p) holds: the histogram's grey ramp, the picker's shades.
template <typename Channel, typename Same>
bool HasRamp(const QImage& img, int minRun, Channel channel, Same same) {
  for (int y = 0; y < img.height(); ++y) {
    int start = 0;
    for (int x = 1; x <= img.width(); ++x) {
      const bool goes = x < img.width() && same(img.pixel(x, y)) && same(img.pixel(x - 1, y)) &&
                        channel(img.pixel(x, y)) >= channel(img.pixel(x - 1, y));
      if (goes) continue;
      if (x - start >= minRun && channel(img.pixel(start, y)) <= 8 && channel(img.pixel(x - 1, y)) >= 247) return true;
      start = x;
    }
  }
  return false;
}

// The HSV box's hue bar: a column with a run of 80 or more fully saturated pixels
// holding pure blue above pure green above pure red.
bool HasHueBar(const QImage& img) {
  auto saturated = [](QRgb p) {
    return std::max({qRed(p), qGreen(p), qBlue(p)}) == 255 && std::min({qRed(p), qGreen(p), qBlue(p)}) == 0;
  };
  for (int x = 0; x < img.width(); ++x) {
    int start = 0, red = -1, green = -1, blue = -1;
    for (int y = 0; y <= img.height(); ++y) {
      if (y < img.height() && saturated(img.pixel(x, y))) {
        const QRgb p = img.pixel(x, y) & 0xFFFFFF;
        if (p == 0xFF0000) red = y;
        if (p == 0x00FF00) green = y;
        if (p == 0x0000FF) blue = y;
        continue;
      }
      if (y - start >= 80 && blue >= 0 && green > blue && red > green) return true;
      start = y + 1;
      red = green = blue = -1;
    }
  }
  return false;
}

TEST(StudioControls, ScreenshotShowsRulersHistogramAndColourPicker) {
  const std::string studio = VEXA_STUDIO_PATH;
  if (studio.empty() || !std::filesystem::exists(studio)) GTEST_SKIP() << "vexa-studio not built";
  vexa::test::App();
  const std::filesystem::path shot = vexa::test::TempPath("studio-controls.png");
  std::filesystem::remove(shot);
  const std::string cmd = "QT_QPA_PLATFORM=offscreen timeout 60 '" + studio + "' --screenshot '" + shot.string() +
                          "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const QImage img(QString::fromStdString(shot.string()));
  ASSERT_FALSE(img.isNull());
  EXPECT_TRUE(HasRuler(img, false)) << "no horizontal ruler in " << shot;
  EXPECT_TRUE(HasRuler(img, true)) << "no vertical ruler in " << shot;
  EXPECT_TRUE(HasRamp(img, 150, [](QRgb p) { return qRed(p); },
                      [](QRgb p) { return qRed(p) == qGreen(p) && qGreen(p) == qBlue(p); }))
      << "no histogram ramp in " << shot;
  EXPECT_TRUE(HasHueBar(img)) << "no hue bar in " << shot;
  EXPECT_TRUE(HasRamp(img, 100, [](QRgb p) { return qRed(p); },
                      [](QRgb p) { return qGreen(p) == 0 && qBlue(p) == 0; }))
      << "no shades of the picked colour in " << shot;
}

}  // namespace
