#include "vexa/view/canvas_ui.h"

#include <gtest/gtest.h>

#include <QImage>

#include "ui_test_util_ui.h"

using namespace vexa;

namespace {
QImage White(int w, int h) {
  vexa::test::App();
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  return img;
}
const QRgb kBlack = qRgb(0, 0, 0), kWhite = qRgb(255, 255, 255);
}  // namespace

TEST(Canvas, LinesStopBeforeTheEndPointWithoutSmoothing) {
  QImage img = White(20, 20);
  {
    TCanvas c(&img);
    c.MoveTo(2, 5);
    c.LineTo(12, 5);
    c.MoveTo(3, 3);
    c.LineTo(9, 15);  // steep: only pure black or white pixels
  }
  EXPECT_EQ(img.pixel(2, 5), kBlack);
  EXPECT_EQ(img.pixel(11, 5), kBlack);
  EXPECT_EQ(img.pixel(12, 5), kWhite);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) EXPECT_TRUE(img.pixel(x, y) == kBlack || img.pixel(x, y) == kWhite);
}

TEST(Canvas, RectanglesExcludeRightAndBottom) {
  QImage img = White(20, 20);
  {
    TCanvas c(&img);
    c.Brush = {clRed, bsSolid};
    c.Rectangle(2, 2, 8, 6);
    c.Brush = {clBlue, bsSolid};
    c.FillRect({10, 10, 12, 13});
  }
  EXPECT_EQ(img.pixel(2, 2), kBlack);
  EXPECT_EQ(img.pixel(7, 5), kBlack);
  EXPECT_EQ(img.pixel(8, 5), kWhite);
  EXPECT_EQ(img.pixel(7, 6), kWhite);
  EXPECT_EQ(img.pixel(4, 3), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(11, 12), qRgb(0, 0, 255));
  EXPECT_EQ(img.pixel(12, 12), kWhite);
  EXPECT_EQ(img.pixel(11, 13), kWhite);
}

TEST(Canvas, InvertingPenErasesWhenDrawnTwice) {
  QImage img = White(20, 20);
  img.setPixel(5, 5, qRgb(10, 20, 30));
  const QImage before = img.copy();
  {
    TCanvas c(&img);
    c.Pen.Mode = pmNot;
    c.MoveTo(0, 5);
    c.LineTo(15, 5);
  }
  EXPECT_EQ(img.pixel(5, 5), qRgb(245, 235, 225));
  EXPECT_EQ(img.pixel(3, 5), kBlack);
  {
    TCanvas c(&img);
    c.Pen.Mode = pmNot;
    c.MoveTo(0, 5);
    c.LineTo(15, 5);
  }
  EXPECT_EQ(img, before);
}

TEST(Canvas, HatchBrushesPaintOverWhite) {
  QImage img(16, 16, QImage::Format_RGB32);
  img.fill(Qt::black);
  vexa::test::App();
  {
    TCanvas c(&img);
    c.Brush = {clRed, bsVertical};
    c.FillRect({0, 0, 16, 16});
  }
  int red = 0, white = 0;
  for (int x = 0; x < 16; ++x) {
    red += img.pixel(x, 7) == qRgb(255, 0, 0);
    white += img.pixel(x, 7) == kWhite;
  }
  EXPECT_EQ(red + white, 16);
  EXPECT_GT(red, 0);
  // A vertical hatch is the same on every row.
  for (int y = 0; y < 16; ++y) EXPECT_EQ(img.pixel(3, y), img.pixel(3, 0));
}

TEST(Canvas, EscapementTurnsTextCounterClockwise) {
  QImage flat = White(120, 120), turned = White(120, 120);
  {
    TCanvas c(&flat);
    c.Brush.Style = bsClear;
    c.TextOut(40, 60, "WWWWWW");
  }
  {
    TCanvas c(&turned);
    c.Brush.Style = bsClear;
    c.Font.Escapement = 900;
    c.TextOut(40, 60, "WWWWWW");
  }
  auto extent = [](const QImage& img, int& w, int& h) {
    int x0 = 999, x1 = -1, y0 = 999, y1 = -1;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (qGray(img.pixel(x, y)) < 128) {
          x0 = std::min(x0, x);
          x1 = std::max(x1, x);
          y0 = std::min(y0, y);
          y1 = std::max(y1, y);
        }
    w = x1 - x0;
    h = y1 - y0;
    return y1;
  };
  int fw, fh, tw, th;
  extent(flat, fw, fh);
  const int bottom = extent(turned, tw, th);
  EXPECT_GT(fw, fh);
  EXPECT_GT(th, tw);
  EXPECT_LE(bottom, 60);  // turned upwards from the origin
}
