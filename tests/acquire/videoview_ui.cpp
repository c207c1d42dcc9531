// TVexaVideoView on the synthetic test-pattern device (frames reach the widget
// through the event loop), and with no device at all.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <set>
#include <thread>

#include "capture_testutil.h"
#include "support/fixtures.h"
#include "view/ui_test_util_ui.h"
#include "vexa/acquire/avidialog_ui.h"
#include "vexa/acquire/videoview_ui.h"

using namespace vexa;
using namespace capturetest;

namespace {

void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// Runs `answer` on the next modal dialog once it is up.
template <class F>
void AnswerDialog(F answer) {
  QTimer::singleShot(0, [answer] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    answer(*d);
  });
}

class VideoView : public ::testing::Test {
 protected:
  void SetUp() override {
    vexa::test::App();
    VXEnableTestCapture(true);
    View = std::make_unique<TVexaVideoView>();
    View->SetBorderStyle(bsNone);
    View->resize(400, 300);
    ASSERT_FALSE(View->VideoSourceList.empty());
    ASSERT_EQ(View->VideoSourceList.back(), "Vexa test pattern 1.0");
    View->SetVideoSource(static_cast<int>(View->VideoSourceList.size()) - 1);
  }
  void TearDown() override {
    View.reset();
    VXEnableTestCapture(false);
  }
  // Shows the widget so that its first paint creates the capture window, then video.
  void GoLive() {
    View->show();
    Pump(20);
    ASSERT_TRUE(View->HasCaptureWindow());
    View->SetShowVideo(true);
    ASSERT_TRUE(View->Connected());
    Pump(150);
  }
  std::unique_ptr<TVexaVideoView> View;
};

TEST_F(VideoView, ScrollBarsAreStoredWhileVideoShowsAndAppliedAfter) {
  GoLive();
  View->SetScrollBars(ssBoth);
  EXPECT_EQ(View->ScrollBars(), ssNone);
  EXPECT_EQ(View->RequestedScrollBars(), ssBoth);
  View->SetShowVideo(false);
  EXPECT_EQ(View->ScrollBars(), ssBoth);
  EXPECT_FALSE(View->Connected());
}

TEST_F(VideoView, SelectIsIgnoredWhileLiveAndWorksOnTheFrozenFrame) {
  GoLive();
  View->Select(10, 10, 60, 50);
  View->AddSelPoint(5, 5);
  View->AddSelPoint(40, 5);
  View->AddSelPoint(40, 40);
  EXPECT_FALSE(View->SelectionExists());
  View->Freeze();
  View->Select(10, 10, 60, 50);
  EXPECT_TRUE(View->SelectionExists());
  View->UnFreeze();
  Pump(100);
  EXPECT_TRUE(View->CaptureService().Preview()) << "unfreezing resumes live video";
}

TEST_F(VideoView, FrameCallbackFollowsTheEventsAssigned) {
  EXPECT_FALSE(View->FrameCallbackOn());
  View->SetOnVideoFrameRaw([](TObject*, const std::vector<uint8_t>&, const uint8_t*, size_t) {});
  View->SetOnVideoFrame([](TObject*, TBitmap*) {});
  View->SetOnVideoFrame(nullptr);
  EXPECT_TRUE(View->FrameCallbackOn());
  View->SetOnVideoFrameRaw(nullptr);
  EXPECT_FALSE(View->FrameCallbackOn());
}

TEST_F(VideoView, GetVideoSizeOnANeverPaintedViewCreatesTheCaptureWindow) {
  ASSERT_FALSE(View->HasCaptureWindow());
  const TRect r = View->GetVideoSize();
  EXPECT_TRUE(View->HasCaptureWindow());
  EXPECT_EQ(r, (TRect{0, 0, 319, 239}));
  EXPECT_FALSE(View->Connected()) << "the size query connects only for itself";
  TVXBitmapInfoHeader h;
  ASSERT_TRUE(VXReadBitmapInfo(View->FormatBlock().data(), View->FormatBlock().size(), h));
  EXPECT_GE(View->FormatBlock().size(), kVXFormatBlockSize);
  EXPECT_EQ(h.BitCount, 24);
}

TEST_F(VideoView, FrameEventsComeForEveryPreviewedFrameWithItsPixels) {
  std::vector<int64_t> fromBitmap, fromRaw;
  std::set<size_t> rawSizes;
  View->SetOnVideoFrame([&](TObject* sender, TBitmap* bmp) {
    EXPECT_EQ(sender, View.get());
    fromBitmap.push_back(VXReadPatternCounter(*bmp));
  });
  View->SetOnVideoFrameRaw([&](TObject*, const std::vector<uint8_t>& hDib, const uint8_t* data, size_t size) {
    TBitmap decoded;
    EXPECT_TRUE(View->DecompRawFrame(decoded, data, size));
    EXPECT_GE(hDib.size(), kVXFormatBlockSize);
    rawSizes.insert(size);
    fromRaw.push_back(VXReadPatternCounter(decoded));
  });
  View->SetPreviewRate(33);
  GoLive();
  Pump(1000);
  View->CaptureService().SetPreview(false);
  Pump(50);
  // Every frame the capture thread handed over has its events, unless the UI fell
  // behind (then the newest frames win); a 30 fps device previewed every 33 ms
  // gives about 30 a second.
  EXPECT_EQ(fromBitmap.size() + View->SkippedFrames(), View->CaptureService().DeliveredFrames());
  EXPECT_GE(fromBitmap.size(), 20u);
  EXPECT_LE(fromBitmap.size(), 40u);
  EXPECT_EQ(fromBitmap, fromRaw);
  EXPECT_EQ(rawSizes, (std::set<size_t>{320u * 240 * 3}));
  for (size_t i = 1; i < fromBitmap.size(); ++i) EXPECT_GT(fromBitmap[i], fromBitmap[i - 1]) << i;
  ASSERT_FALSE(fromBitmap.empty());
  EXPECT_GE(fromBitmap.front(), 0);
}

struct FreezeCase {
  int W, H;
  bool Fit;
  int WantW, WantH;
  bool Filtered;  // triangle filter: blends appear at the bar edges
};

class VideoFreeze : public VideoView, public ::testing::WithParamInterface<FreezeCase> {};

TEST_P(VideoFreeze, FrozenFrameBecomesTheBitmap) {
  const FreezeCase c = GetParam();
  View->resize(c.W, c.H);
  View->FitFreeze = c.Fit;
  GoLive();
  View->Freeze();
  ASSERT_TRUE(View->Frozen());
  EXPECT_FALSE(View->CaptureService().Preview()) << "the grab stops preview";
  const TBitmap& bmp = View->Bitmap();
  ASSERT_EQ(bmp.Width(), c.WantW);
  ASSERT_EQ(bmp.Height(), c.WantH);
  EXPECT_GE(VXReadPatternCounter(bmp), 0);
  // The bars have eight pure colours; only filtering makes others.
  std::set<uint32_t> colours;
  const int y = bmp.Height() - 2;
  for (int x = 0; x < bmp.Width(); ++x) {
    const TRGB p = bmp.GetPixel(x, y);
    colours.insert(static_cast<uint32_t>(p.r) << 16 | p.g << 8 | p.b);
  }
  if (c.Filtered)
    EXPECT_GT(colours.size(), 8u);
  else
    EXPECT_LE(colours.size(), 8u);
  Pump(100);
  EXPECT_EQ(View->Bitmap().Width(), c.WantW) << "live frames do not replace a frozen one";
}

INSTANTIATE_TEST_SUITE_P(Clients, VideoFreeze,
                         ::testing::Values(FreezeCase{400, 300, true, 400, 300, true},
                                           FreezeCase{200, 150, true, 200, 150, false},
                                           FreezeCase{200, 150, false, 320, 240, false}));

TEST_F(VideoView, RecordingStartsOnceAndPlaysAtRecordFrameRate) {
  if (!HaveFFprobe()) GTEST_SKIP() << "ffprobe not installed";
  vexa::test::TScratchDir dir;
  GoLive();
  View->RecordFileName = dir / "first.avi";
  View->RecordFrameRate = 10;
  View->StartRecord();
  ASSERT_TRUE(View->Recording());
  View->RecordFileName = dir / "second.avi";
  View->StartRecord();
  Pump(1500);
  View->StopRecord();
  EXPECT_FALSE(View->Recording());
  EXPECT_FALSE(std::filesystem::exists(dir / "second.avi"));
  const auto v = Probe(dir / "first.avi");
  EXPECT_EQ(v.at("codec_name"), "mjpeg");
  EXPECT_EQ(v.at("r_frame_rate"), "10/1");
  EXPECT_NEAR(std::atoi(v.at("nb_read_frames").c_str()), 15, 3);
  const std::vector<int64_t> counters = FileCounters(dir / "first.avi");
  ASSERT_GE(counters.size(), 10u);
  for (size_t i = 1; i < counters.size(); ++i) EXPECT_GE(counters[i], counters[i - 1]);
  EXPECT_TRUE(View->CaptureService().Preview()) << "recording leaves preview running";
}

TEST_F(VideoView, RecordingIntoAnUncreatableFileRaises) {
  GoLive();
  View->RecordFileName = "/nonexistent-folder/x.avi";
  try {
    View->StartRecord();
    FAIL() << "no exception";
  } catch (const TVideoCapException& e) {
    EXPECT_STREQ(e.what(), "Unable to create AVI file");
  }
}

TEST_F(VideoView, DialogsChangeTheDevice) {
  // Format: 640 x 480 from the list.
  AnswerDialog([](QDialog& d) {
    auto* combo = d.findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);
    combo->setCurrentIndex(combo->findText("640 x 480", Qt::MatchStartsWith));
    d.accept();
  });
  ASSERT_TRUE(View->DoConfigureFormat());
  EXPECT_EQ(View->GetVideoSize(), (TRect{0, 0, 639, 479}));
  // Source: brightness down while live, then Cancel puts it back.
  GoLive();
  View->SetOnVideoFrame([](TObject*, TBitmap*) {});
  auto brightest = [this] {
    View->Freeze();
    const TRGB p = View->Bitmap().GetPixel(View->Bitmap().Width() / 64, View->Bitmap().Height() - 1);
    View->UnFreeze();
    return std::max({p.r, p.g, p.b});
  };
  const int before = brightest();
  AnswerDialog([](QDialog& d) {
    auto* slider = d.findChild<QSlider*>("Brightness");
    ASSERT_NE(slider, nullptr);
    slider->setValue(0);
    d.accept();
  });
  ASSERT_TRUE(View->DoConfigureSource());
  EXPECT_LT(brightest(), before);
  AnswerDialog([](QDialog& d) {
    d.findChild<QSlider*>("Brightness")->setValue(255);
    d.reject();
  });
  EXPECT_FALSE(View->DoConfigureSource());
  EXPECT_EQ(View->CaptureService().Controls().at(0).Value, 0) << "cancel restores";
  // Display: the preview rate.
  AnswerDialog([](QDialog& d) {
    d.findChild<QSpinBox*>()->setValue(100);
    d.accept();
  });
  ASSERT_TRUE(View->DoConfigureDisplay());
  EXPECT_EQ(View->PreviewRate(), 100);
  // Compression: the AVI encoder list.
  AnswerDialog([](QDialog& d) {
    auto* form = dynamic_cast<TVXAviOptionsForm*>(&d);
    ASSERT_NE(form, nullptr);
    const auto found = form->EncoderList()->findItems("FFV1", Qt::MatchStartsWith);
    ASSERT_FALSE(found.empty());
    form->EncoderList()->setCurrentItem(found.front());
    d.accept();
  });
  ASSERT_TRUE(View->DoConfigureCompression());
  EXPECT_EQ(View->RecordCompression.Encoder, "ffv1");
  EXPECT_TRUE(View->Connected()) << "dialogs leave a live connection as it was";
}

TEST_F(VideoView, ConnectingReportsItsJob) {
  std::vector<TVXJob> jobs;
  View->OnJob = [&](TObject*, TVXJob job, int per) {
    EXPECT_EQ(per, 0);
    jobs.push_back(job);
  };
  View->DriverConnect();
  EXPECT_EQ(jobs, (std::vector<TVXJob>{vxjVIDEOCAP_CONNECTING, vxjNOTHING}));
  TVXCaptureCaps caps;
  View->GetCaps(caps);
  EXPECT_TRUE(caps.HasDlgVideoSource && caps.HasDlgVideoFormat && caps.HasDlgVideoDisplay);
  EXPECT_FALSE(View->GetHasOverlay());
}

// --- no capture device ------------------------------------------------------------

class VideoViewNoDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    vexa::test::App();
    unsetenv("VEXA_TEST_CAPTURE");
    VXEnableTestCapture(false);
    if (!VXV4L2DevicePaths().empty()) GTEST_SKIP() << "this machine has video devices";
  }
};

TEST_F(VideoViewNoDevice, VideoOperationsReportFailureAndNothingElse) {
  TVexaVideoView view;
  EXPECT_TRUE(view.VideoSourceList.empty());
  try {
    view.DriverConnect();
    FAIL() << "no exception";
  } catch (const TVideoCapException& e) {
    EXPECT_STREQ(e.what(), "Unable to open video capture driver");
  }
  TVXCaptureCaps caps;
  EXPECT_THROW(view.GetCaps(caps), TVideoCapException);
  EXPECT_FALSE(view.DoConfigureSource());
  EXPECT_FALSE(view.DoConfigureFormat());
  EXPECT_FALSE(view.DoConfigureDisplay());
  EXPECT_FALSE(view.DoConfigureCompression());
  EXPECT_FALSE(view.FillBitmapInfo());
  EXPECT_EQ(view.GetVideoSize(), (TRect{0, 0, -1, -1}));
  try {
    vexa::test::TScratchDir dir;
    view.RecordFileName = dir / "x.avi";
    view.StartRecord();
    FAIL() << "no exception";
  } catch (const TVideoCapException& e) {
    EXPECT_STREQ(e.what(), "Unable to start video recording");
  }
}

TEST_F(VideoViewNoDevice, PaintsAsAPlainViewWhenVideoIsAsked) {
  TVexaVideoView video;
  TVexaView plain;
  for (TVexaView* v : {static_cast<TVexaView*>(&video), &plain}) {
    v->resize(160, 120);
    v->SetScrollBars(ssBoth);
    v->Bitmap().Allocate(300, 200, pf24bit);
    VXDrawTestPattern(v->Bitmap(), 5);
    v->Update();
  }
  video.SetShowVideo(true);  // no window yet: stored
  video.show();
  plain.show();
  Pump(30);
  EXPECT_FALSE(video.ShowVideo());
  EXPECT_EQ(video.LastError(), "Unable to open video capture driver");
  EXPECT_EQ(video.ScrollBars(), ssBoth);
  EXPECT_EQ(video.grab().toImage(), plain.grab().toImage());
  video.Select(10, 10, 50, 50);
  EXPECT_TRUE(video.SelectionExists());
  EXPECT_THROW(video.SetShowVideo(true), TVideoCapException);
  EXPECT_FALSE(video.ShowVideo());
  EXPECT_EQ(video.ScrollBars(), ssBoth);
}

}  // namespace
