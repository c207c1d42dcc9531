// TVexa: a view that owns, links and forwards to a processing and an I/O component.
#include "vexa/legacy/vexa_ui.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <cstring>
#include <memory>

#include "support/fixtures.h"
#include "view/ui_test_util_ui.h"
#include "vexa/controls/histogrambox_ui.h"

using namespace vexa;

namespace {


struct VexaFixture : ::testing::Test {
  void SetUp() override { vexa::test::App(); }
  static TBitmap Filled(int w, int h, TRGB c) {
    TBitmap b(w, h, pf24bit);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.SetPixel(x, y, c);
    return b;
  }
};

TEST_F(VexaFixture, OwnsAndLinksBothComponentsWithUndoOn) {
  auto v = std::make_unique<TVexa>();
  EXPECT_EQ(v->Proc().AttachedVexa(), v.get());
  EXPECT_EQ(v->IO().AttachedVexa(), v.get());
  EXPECT_EQ(v->Proc().Owner(), v.get());
  EXPECT_EQ(v->IO().Owner(), v.get());
  EXPECT_TRUE(v->AutoUndo());
  v->Bitmap() = Filled(4, 3, CreateRGB(10, 20, 30));
  v->Update();
  v->Negative();  // the first operation can be undone
  EXPECT_EQ(v->Bitmap().GetPixel(1, 1), CreateRGB(245, 235, 225));
  EXPECT_TRUE(v->CanUndo());
  v->Undo();
  EXPECT_EQ(v->Bitmap().GetPixel(1, 1), CreateRGB(10, 20, 30));
  // A histogram box linked to the owned processing component forgets it with the TVexa.
  THistogramBox box;
  box.SetAttachedVexaProc(&v->Proc());
  v.reset();
  EXPECT_EQ(box.AttachedVexaProc(), nullptr);
}

TEST_F(VexaFixture, OneProgressHandlerAndOneLanguageForBoth) {
  TVexa v;
  std::vector<TObject*> senders;
  v.SetOnProgress([&](TObject* sender, int) {
    if (senders.empty() || senders.back() != sender) senders.push_back(sender);
  });
  v.LoadFromFile(vexa::test::TestData("bmp/bmpsuite/g/rgb24.bmp"));
  ASSERT_FALSE(v.Aborting());
  EXPECT_EQ(v.Bitmap().Width(), 127);
  EXPECT_EQ(v.IOParams().FileType, ioBMP);
  v.HistAutoEqualize();
  EXPECT_EQ(senders, (std::vector<TObject*>{&v.IO(), &v.Proc()}));
  EXPECT_TRUE(static_cast<bool>(v.OnProgress()));
  v.SetMsgLanguage(msGerman);
  EXPECT_EQ(v.Proc().MsgLanguage, msGerman);
  EXPECT_EQ(v.IO().MsgLanguage, msGerman);
  EXPECT_EQ(v.MsgLanguage(), msGerman);
}

TEST_F(VexaFixture, StreamsAndSettingsGoThroughTheIOComponent) {
  TVexa v;
  v.Bitmap() = Filled(5, 4, CreateRGB(200, 100, 50));
  v.Update();
  v.SetStreamHeaders(true);
  EXPECT_TRUE(v.IO().StreamHeaders);
  TMemoryStream ms;
  v.SaveToStream(ms, ioPCX);
  TVexa w;
  w.SetStreamHeaders(true);
  ms.Seek(0, soBeginning);
  w.LoadFromStream(ms);
  EXPECT_EQ(w.IOParams().FileType, ioPCX);
  EXPECT_EQ(w.Bitmap().Width(), 5);
  EXPECT_EQ(w.Bitmap().GetPixel(4, 3), CreateRGB(200, 100, 50));
  EXPECT_FALSE(w.DoPreviews(0));
  EXPECT_FALSE(w.DoIOPreviews(0));
}

TEST_F(VexaFixture, PointPasteConvertsTheClientPointOnce) {
  TVexa v;
  v.SetBorderStyle(bsNone);
  v.resize(60, 60);
  v.Bitmap() = Filled(100, 100, CreateRGB(255, 255, 255));
  v.Update();
  v.SetZoom(200);
  v.SetViewXY(40, 30);
  TBitmap red = Filled(2, 2, CreateRGB(255, 0, 0));
  TVexaProc source;
  source.SetAttachedBitmap(&red);
  source.CopyToClipboard();
  const int bx = v.XScr2Bmp(20), by = v.YScr2Bmp(10);
  ASSERT_NE(bx, 20);
  v.PointPasteFromClip(20, 10);
  EXPECT_EQ(v.Bitmap().GetPixel(bx, by), CreateRGB(255, 0, 0));
  EXPECT_EQ(v.Bitmap().GetPixel(bx + 1, by + 1), CreateRGB(255, 0, 0));
  EXPECT_EQ(v.Bitmap().GetPixel(bx + 2, by), CreateRGB(255, 255, 255));
  EXPECT_EQ(v.Bitmap().GetPixel(20, 10), CreateRGB(255, 255, 255));
}

TEST_F(VexaFixture, HiddenDataAnswersAsTheProcessingComponent) {
  TVexa v;
  v.Bitmap() = Filled(40, 30, CreateRGB(90, 120, 150));
  v.Update();
  EXPECT_EQ(v.GetHiddenDataSpace(), v.Proc().GetHiddenDataSpace());
  EXPECT_GT(v.GetHiddenDataSpace(), 0);
  EXPECT_EQ(v.WriteHiddenText("margin note"), static_cast<int>(std::string("margin note").size()));
  EXPECT_EQ(v.ReadHiddenText(), "margin note");
  EXPECT_EQ(v.ReadHiddenText(), v.Proc().ReadHiddenText());
  const unsigned char data[5] = {1, 2, 3, 250, 0};
  EXPECT_EQ(v.WriteHiddenData(data, 5), 5);
  unsigned char a[8] = {}, b[8] = {};
  EXPECT_EQ(v.ReadHiddenData(a, 8), v.Proc().ReadHiddenData(b, 8));
  EXPECT_EQ(std::memcmp(a, b, 8), 0);
  EXPECT_EQ(a[3], 250);
  // Too much for the image: both report the same shortfall.
  std::vector<unsigned char> big(static_cast<size_t>(v.GetHiddenDataSpace()) + 100, 7);
  TVexa w;
  w.Bitmap() = Filled(40, 30, CreateRGB(90, 120, 150));
  w.Update();
  EXPECT_EQ(v.WriteHiddenData(big.data(), static_cast<int>(big.size())),
            w.Proc().WriteHiddenData(big.data(), static_cast<int>(big.size())));
}

}  // namespace
