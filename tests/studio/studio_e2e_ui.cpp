// End to end: vexa-studio as a process on its own X server (Xvfb), driven with
// real key and mouse events (xdotool). The studio writes its state to a report
// file (--test-report); every wait polls that file or the process, never sleeps a
// fixed time. Without Xvfb or xdotool the tests skip, except in CI.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "studio/studio_e2e.h"
#include "support/fixtures.h"
#include "vexa/core/sample.h"
#include "vexa/dialogs/previewpages.h"
#include "vexa/io/detect.h"
#include "vexa/io/vexaio.h"

extern char** environ;

using namespace vexa;
using namespace vexa::test;

namespace {

using namespace studiotest;

class StudioE2E : public TStudioSession {
 protected:
  // An edit anyone can see in the pixels: Negative, through the operation finder.
  void Negate() {
    const std::string before = Get("hash");
    Keys("ctrl+k");
    ASSERT_TRUE(WaitFor("modal", "Find operation"));
    Type("Negative");
    DialogKeys("Return");
    ASSERT_TRUE(Poll([&] { return Get("modified") == "1" && Get("hash") != before; })) << Get("modal");
  }

  // The geometry and text of a widget of the dialog in front, by the end of its name path.
  bool Widget(const std::string& path, int& x, int& y, int& w, int& h, std::string& text) {
    for (const auto& [key, value] : State()) {
      if (key.rfind("ui.", 0) != 0 || key.size() < path.size() + 3) continue;
      const std::string name = key.substr(3);
      const bool tail = name.size() > path.size() && name.ends_with(path) && name[name.size() - path.size() - 1] == '/';
      if (name != path && !tail) continue;
      const size_t bar = value.find('|');
      text = bar == std::string::npos ? std::string() : value.substr(bar + 1);
      return std::sscanf(value.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h) == 4;
    }
    return false;
  }
  std::string Text(const std::string& path) {
    int x, y, w, h;
    std::string text;
    return Widget(path, x, y, w, h, text) ? text : std::string("(none)");
  }
  void Click(const std::string& path) {
    int x = 0, y = 0, w = 0, h = 0;
    std::string text;
    ASSERT_TRUE(Poll([&] { return Widget(path, x, y, w, h, text); })) << "no widget " << path << " in " << Get("modal");
    X("mousemove " + std::to_string(x + w / 2) + " " + std::to_string(y + h / 2) + " click 1");
  }
  // Replaces the text of an edit of the dialog in front by clicking into it and typing.
  void Enter(const std::string& path, const std::string& text) {
    ASSERT_NO_FATAL_FAILURE(Click(path));
    DialogKeys("ctrl+a");
    Type(text);
    ASSERT_TRUE(Poll([&] { return Text(path) == text; })) << path << ": " << Text(path);
  }

  std::string SavePng(const std::string& name, int w, int h) {
    TBitmap b = VXMakeSampleImage(w, h);
    TVexaIO io;
    io.SetAttachedBitmap(&b);
    const std::string path = FDir / name;
    io.SaveToFilePNG(path);
    EXPECT_FALSE(io.Aborting);
    return path;
  }
};

TEST_F(StudioE2E, SavingIntoAnUnwritableFolderShowsTheReasonAndKeepsTheEdits) {
  ASSERT_NO_FATAL_FAILURE(Launch({SavePng("picture.png", 120, 90)}));
  ASSERT_TRUE(WaitFor("title", "picture.png - Vexa Studio"));
  ASSERT_NO_FATAL_FAILURE(Negate());
  const std::string edited = Get("hash");
  Keys("ctrl+shift+s");
  ASSERT_TRUE(WaitFor("modal", "Save image as"));
  // Not even root may create files in /sys. (Not /proc: the file dialog's completer
  // would list it, and reading /proc/kmsg there blocks.)
  DialogKeys("ctrl+a");
  Type("/sys/vexa-studio-e2e.png");
  DialogKeys("Return");
  ASSERT_TRUE(WaitPrefix("modal", "Save options")) << Get("modal");
  DialogKeys("Return");
  ASSERT_TRUE(WaitPrefix("modal", "Save|The image was not saved.")) << Get("modal");
  EXPECT_NE(Get("modal").find("Cannot create file \"/sys/vexa-studio-e2e.png\""), std::string::npos) << Get("modal");
  DialogKeys("Return");
  ASSERT_TRUE(WaitFor("modal", ""));
  EXPECT_TRUE(Alive(FStudio));
  EXPECT_EQ(Get("hash"), edited);
  EXPECT_EQ(Get("modified"), "1");
  EXPECT_EQ(Get("title"), "*picture.png - Vexa Studio");
  EXPECT_EQ(Get("file"), FDir / "picture.png");
}

TEST_F(StudioE2E, StartingWithAMissingFileShowsAnErrorAndAnEmptyStudio) {
  const std::string missing = FDir / "not-there.png";
  ASSERT_NO_FATAL_FAILURE(Launch({missing}));
  ASSERT_TRUE(WaitPrefix("modal", "Open|" + missing + ": ")) << Get("modal");
  EXPECT_EQ(Get("empty"), "1");
  EXPECT_EQ(Get("title"), "Vexa Studio");
  DialogKeys("Return");
  ASSERT_TRUE(WaitFor("modal", ""));
  EXPECT_TRUE(Alive(FStudio));
}

TEST_F(StudioE2E, AFailedOpenKeepsTheImageTitleUndoAndFileName) {
  ASSERT_NO_FATAL_FAILURE(Launch({SavePng("picture.png", 120, 90)}));
  ASSERT_TRUE(WaitFor("title", "picture.png - Vexa Studio"));
  ASSERT_NO_FATAL_FAILURE(Negate());
  const std::map<std::string, std::string> before = State();
  ASSERT_EQ(before.at("canundo"), "1");
  const std::string broken = FDir / "broken.png";
  WriteFileBytes(broken, std::vector<uint8_t>(64, 'x'));
  Keys("ctrl+o");
  ASSERT_TRUE(WaitPrefix("modal", "Unsaved changes|")) << Get("modal");
  DialogKeys("alt+d");  // discard: fine to replace the image, if the new one can be read
  ASSERT_TRUE(WaitFor("modal", "Open image"));
  Type(broken);
  DialogKeys("Return");
  ASSERT_TRUE(WaitPrefix("modal", "Open|" + broken + ": ")) << Get("modal");
  DialogKeys("Return");
  ASSERT_TRUE(WaitFor("modal", ""));
  const std::map<std::string, std::string> after = State();
  for (const char* key : {"title", "file", "hash", "canundo", "modified", "width", "height"})
    EXPECT_EQ(after.at(key), before.at(key)) << key;
}

TEST_F(StudioE2E, AJpgThatIsReallyAPngOpens) {
  const std::string png = SavePng("real.png", 77, 55);
  const std::string jpg = FDir / "photo.jpg";
  std::filesystem::copy_file(png, jpg);
  ASSERT_NO_FATAL_FAILURE(Launch({jpg}));
  ASSERT_TRUE(WaitFor("title", "photo.jpg - Vexa Studio")) << Get("modal");
  EXPECT_EQ(Get("width"), "77");
  EXPECT_EQ(Get("height"), "55");
  EXPECT_EQ(Get("modal"), "");
}

TEST_F(StudioE2E, CtrlWheelZoomsAndTheWheelScrolls) {
  ASSERT_NO_FATAL_FAILURE(Launch({SavePng("picture.png", 300, 400)}));
  ASSERT_TRUE(WaitFor("title", "picture.png - Vexa Studio"));
  ASSERT_EQ(Get("zoom"), "100");
  int vx, vy, vw, vh;
  ASSERT_EQ(std::sscanf(Get("view").c_str(), "%d,%d,%d,%d", &vx, &vy, &vw, &vh), 4) << Get("view");
  X("mousemove " + std::to_string(vx + 100) + " " + std::to_string(vy + 60));
  Keys("");
  X("keydown ctrl click 4 keyup ctrl");
  ASSERT_TRUE(WaitFor("zoom", "200"));
  // At 200 % the image is taller than the view: the plain wheel scrolls it down.
  X("click 5");
  ASSERT_TRUE(Poll([&] { return Get("viewy") != "0"; }));
  EXPECT_EQ(Get("zoom"), "200");
}

TEST_F(StudioE2E, PageTwoOfAThreePageTiffIsReachable) {
  const std::string tif = FDir / "pages.tif";
  {
    TBitmap page(64, 48);
    TVexaIO io;
    io.SetAttachedBitmap(&page);
    const TRGB colours[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
    for (int i = 0; i < 3; ++i) {
      page.Fill(colours[i]);
      if (i == 0) {
        io.SaveToFileTIFF(tif);
      } else {
        io.Params.TIFF_ImageIndex = i;
        ASSERT_EQ(io.InsertToFileTIFF(tif), i);
      }
      ASSERT_FALSE(io.Aborting);
    }
  }
  ASSERT_NO_FATAL_FAILURE(Launch({tif}));
  ASSERT_TRUE(WaitFor("pages", "3")) << Get("modal");
  const std::string first = Get("hash");
  Keys("ctrl+Next");
  ASSERT_TRUE(WaitFor("page", "2"));
  EXPECT_EQ(Get("title"), "pages.tif (page 2 of 3) - Vexa Studio");
  EXPECT_NE(Get("hash"), first);
  EXPECT_EQ(Get("modal"), "");
}

TEST_F(StudioE2E, AnOperationOnALargeImageIsCancelledFromTheProgressBar) {
  const std::string big = FDir / "big.bmp";
  {
    TBitmap b(4000, 3000);
    for (int y = 0; y < 3000; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(b.ScanLine(y));
      for (int x = 0; x < 4000; ++x) row[x] = CreateRGB(uint8_t(x), uint8_t(y), uint8_t(x ^ y));
    }
    TVexaIO io;
    io.SetAttachedBitmap(&b);
    io.SaveToFileBMP(big);
    ASSERT_FALSE(io.Aborting);
  }
  ASSERT_NO_FATAL_FAILURE(Launch({big}));
  ASSERT_TRUE(WaitFor("title", "big.bmp - Vexa Studio")) << Get("modal");
  const std::string original = Get("hash");
  Keys("ctrl+k");
  ASSERT_TRUE(WaitFor("modal", "Find operation"));
  Type("Low pass");
  DialogKeys("Return");
  ASSERT_TRUE(WaitFor("modal", "Low pass"));  // the parameter form
  DialogKeys("Return");
  ASSERT_TRUE(WaitFor("busy", "1"));
  int cx, cy, cw, ch;
  ASSERT_EQ(std::sscanf(Get("cancel").c_str(), "%d,%d,%d,%d", &cx, &cy, &cw, &ch), 4) << Get("cancel");
  X("mousemove " + std::to_string(cx + cw / 2) + " " + std::to_string(cy + ch / 2) + " click 1");
  ASSERT_TRUE(WaitFor("busy", "0"));
  EXPECT_EQ(Get("hash"), original);
  EXPECT_EQ(Get("modified"), "0");
  EXPECT_EQ(Get("canundo"), "0");
  EXPECT_TRUE(Alive(FStudio));
}

TEST_F(StudioE2E, QuittingWithUnsavedChangesAsks) {
  ASSERT_NO_FATAL_FAILURE(Launch({SavePng("picture.png", 120, 90)}));
  ASSERT_TRUE(WaitFor("title", "picture.png - Vexa Studio"));
  ASSERT_NO_FATAL_FAILURE(Negate());
  Keys("ctrl+q");
  ASSERT_TRUE(WaitPrefix("modal", "Unsaved changes|picture.png has unsaved changes")) << Get("modal");
  DialogKeys("Escape");
  ASSERT_TRUE(WaitFor("modal", ""));
  EXPECT_TRUE(Alive(FStudio));
  EXPECT_EQ(Get("modified"), "1");
  // Discarding on purpose ends the studio.
  Keys("ctrl+q");
  ASSERT_TRUE(WaitPrefix("modal", "Unsaved changes|"));
  DialogKeys("alt+d");
  int status = -1;
  ASSERT_TRUE(Poll([&] { return waitpid(FStudio, &status, WNOHANG) == FStudio; }));
  FStudio = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The studio's checksum of a picture (studio_window.cpp).
std::string StudioHash(const TBitmap& b) {
  uint64_t h = 1469598103934665603ull;
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    for (int i = 0; i < b.RowLen(); ++i) h = (h ^ row[i]) * 1099511628211ull;
  }
  h ^= (uint64_t(b.Width()) << 32) ^ uint64_t(b.Height());
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

// The quantisation tables of a JPEG file: what its quality setting decides.
std::vector<uint8_t> QuantTables(const std::vector<uint8_t>& jpeg) {
  std::vector<uint8_t> tables;
  for (size_t i = 2; i + 4 <= jpeg.size() && jpeg[i] == 0xFF;) {
    const uint8_t marker = jpeg[i + 1];
    const size_t len = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
    if (marker == 0xDA || i + 2 + len > jpeg.size()) break;
    if (marker == 0xDB) tables.insert(tables.end(), jpeg.begin() + long(i) + 4, jpeg.begin() + long(i + 2 + len));
    i += 2 + len;
  }
  return tables;
}

// The whole round: open through the open dialog (its preview labels), Contrast through
// the processing preview (undo included), save as JPEG with the quality chosen in the
// save-parameters dialog reached by "Advanced...", and open the result again.
TEST_F(StudioE2E, OpenAdjustAndSaveThroughThePreviewDialogs) {
  const std::string start = SavePng("start.png", 60, 40);
  const std::string picture = SavePng("picture.png", 160, 120);
  ASSERT_NO_FATAL_FAILURE(Launch({start}));
  ASSERT_TRUE(WaitFor("title", "start.png - Vexa Studio"));

  Keys("ctrl+o");
  ASSERT_TRUE(WaitFor("modal", "Open image"));
  Type("picture.png");
  ASSERT_TRUE(Poll([&] { return Text("dimensionsLabel") == "160 x 120 pixel"; })) << Text("dimensionsLabel");
  EXPECT_EQ(Text("coloursLabel"), "16777216 Colors (24 bit)");
  // 160 x 120 at three bytes a pixel is 57600 bytes: 56 Kb.
  const int64_t bytes = int64_t(std::filesystem::file_size(picture));
  EXPECT_EQ(Text("fileSizeLabel"), "File: " + (bytes > 1023 ? std::to_string(bytes / 1024) + " Kb" : std::to_string(bytes)) + "   Mem: 56 Kb");
  EXPECT_NE(Text("resolutionLabel").find(" dpi"), std::string::npos) << Text("resolutionLabel");
  EXPECT_NE(Text("vexaPreviewPanel/fileTypeLabel").find("PNG"), std::string::npos) << Text("vexaPreviewPanel/fileTypeLabel");
  DialogKeys("Return");
  ASSERT_TRUE(WaitFor("title", "picture.png - Vexa Studio")) << Get("modal");
  ASSERT_EQ(Get("width"), "160");
  const std::string original = Get("hash");

  // What Contrast 40 makes of the picture.
  TBitmap expected;
  {
    TVexaIO io;
    io.SetAttachedBitmap(&expected);
    io.LoadFromFilePNG(picture);
    ASSERT_FALSE(io.Aborting);
    ASSERT_EQ(StudioHash(expected), original);
    TVXPreviewState state;
    VXResetPreviewPage(state, peContrast, expected);
    state.Contrast = 40;
    VXApplyPreviewPage(expected, peContrast, state, nullptr, TRGB{0, 0, 0});
  }
  ASSERT_NE(StudioHash(expected), original);
  auto contrast = [&] {
    Keys("alt+i");
    DialogKeys("p");
    ASSERT_TRUE(Poll([&] { return Get("modal") != "" && Text("pages/contrast/edit") == "0"; })) << Get("modal");
    ASSERT_NO_FATAL_FAILURE(Enter("contrast/edit", "40"));
    ASSERT_NO_FATAL_FAILURE(Click("ok"));
    ASSERT_TRUE(WaitFor("modal", ""));
    ASSERT_TRUE(WaitFor("hash", StudioHash(expected)));
  };
  ASSERT_NO_FATAL_FAILURE(contrast());
  EXPECT_EQ(Get("modified"), "1");
  EXPECT_EQ(Get("canundo"), "1");
  EXPECT_EQ(Get("title"), "*picture.png - Vexa Studio");
  Keys("ctrl+z");
  ASSERT_TRUE(WaitFor("hash", original));
  EXPECT_EQ(Get("modified"), "0");
  ASSERT_NO_FATAL_FAILURE(contrast());

  // Save as JPEG at quality 15, chosen with the preview.
  const std::string out = FDir / "out.jpg";
  Keys("ctrl+shift+s");
  ASSERT_TRUE(WaitFor("modal", "Save image as"));
  ASSERT_NO_FATAL_FAILURE(Enter("fileNameEdit", "out.jpg"));
  ASSERT_NO_FATAL_FAILURE(Click("advanced"));
  ASSERT_TRUE(Poll([&] { return Get("modal") != "Save image as" && Text("jpegQuality/edit") == "90"; }))
      << Get("modal") << " " << Text("jpegQuality/edit");
  std::string at90;
  ASSERT_TRUE(Poll([&] { return (at90 = Text("compressedSize")).find(" bytes") != std::string::npos; })) << at90;
  ASSERT_NO_FATAL_FAILURE(Enter("jpegQuality/edit", "15"));
  // The live preview saves at the new quality and shows the smaller size.
  ASSERT_TRUE(Poll([&] {
    const std::string now = Text("compressedSize");
    return now.find(" bytes") != std::string::npos && std::stol(now) < std::stol(at90);
  })) << at90 << " then " << Text("compressedSize");
  ASSERT_NO_FATAL_FAILURE(Click("ok"));
  ASSERT_TRUE(WaitFor("modal", "Save image as"));
  X("search --onlyvisible --name '^Save image as$' windowfocus");
  ASSERT_NO_FATAL_FAILURE(Click("fileNameEdit"));
  DialogKeys("Return");
  // No save options after "Advanced...": the save runs with what was chosen there.
  ASSERT_TRUE(WaitFor("title", "out.jpg - Vexa Studio")) << Get("modal");
  EXPECT_EQ(Get("modified"), "0");

  // Open it again: the dialog and the window show a 160 x 120 JPEG.
  Keys("ctrl+o");
  ASSERT_TRUE(WaitFor("modal", "Open image"));
  Type("out.jpg");
  ASSERT_TRUE(Poll([&] { return Text("dimensionsLabel") == "160 x 120 pixel"; })) << Text("dimensionsLabel");
  EXPECT_NE(Text("vexaPreviewPanel/fileTypeLabel").find("JPEG"), std::string::npos) << Text("vexaPreviewPanel/fileTypeLabel");
  DialogKeys("Return");
  ASSERT_TRUE(WaitFor("title", "out.jpg - Vexa Studio")) << Get("modal");
  EXPECT_EQ(Get("width"), "160");
  EXPECT_EQ(Get("height"), "120");
  EXPECT_EQ(FindFileFormat(out, false), ioJPEG);

  // Quality 15 took effect: the file's tables are those of a save at 15, not at 90, and it is smaller.
  auto saveAt = [&](int quality) {
    TBitmap copy = expected;
    TVexaIO io;
    io.SetAttachedBitmap(&copy);
    io.Params.JPEG_Quality = quality;
    const std::string name = FDir / (quality == 15 ? "q15.jpg" : "q90.jpg");
    io.SaveToFileJpeg(name);
    return ReadFileBytes(name);
  };
  const std::vector<uint8_t> saved = ReadFileBytes(out), q15 = saveAt(15), q90 = saveAt(90);
  ASSERT_FALSE(QuantTables(saved).empty());
  EXPECT_EQ(QuantTables(saved), QuantTables(q15));
  EXPECT_NE(QuantTables(saved), QuantTables(q90));
  EXPECT_LT(saved.size() * 3 / 2, q90.size());
}

}  // namespace
