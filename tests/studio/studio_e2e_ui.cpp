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

#include "support/fixtures.h"
#include "vexa/core/sample.h"
#include "vexa/dialogs/previewpages.h"
#include "vexa/io/detect.h"
#include "vexa/io/vexaio.h"

extern char** environ;

using namespace vexa;
using namespace vexa::test;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(60);

bool OnPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command, returning its standard output; status in `code`.
std::string Sh(const std::string& cmd, int* code = nullptr) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = pclose(p);
    if (code) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  } else if (code) {
    *code = -1;
  }
  return out;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& log = "/dev/null") {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    bool replaced = false;
    for (const std::string& x : extraEnv)
      if (kv.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
    if (!replaced) env.push_back(kv);
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> a, e;
  for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const std::string& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, a[0], &actions, nullptr, a.data(), e.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

bool Alive(pid_t pid) { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < end && waitpid(pid, nullptr, WNOHANG) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (waitpid(pid, nullptr, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

bool Poll(const std::function<bool()>& ready, std::chrono::seconds patience = kPatience) {
  const auto end = Clock::now() + patience;
  while (Clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ready();
}

// One X server for the whole suite, on a display nobody else uses.
class TXServer {
 public:
  bool Start() {
    for (int n = 91; n < 250; ++n) {
      if (std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock") ||
          std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
        continue;
      Display = std::to_string(n);
      Display.insert(0, 1, ':');
      // -noreset: a server that resets when its last client leaves refuses the next studio meanwhile.
      FPid = Spawn({"Xvfb", Display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"}, {});
      if (FPid < 0) return false;
      // Another program may have taken the display meanwhile: then Xvfb ends and we try the next.
      const bool up = Poll(
          [&] {
            int code = 1;
            Sh("DISPLAY=" + Display + " xdotool getdisplaygeometry 2>/dev/null", &code);
            return code == 0 || !Alive(FPid);
          },
          std::chrono::seconds(20));
      if (up && Alive(FPid)) return true;
      Stop(FPid);
    }
    return false;
  }
  ~TXServer() { Stop(FPid); }
  std::string Display;

 private:
  pid_t FPid = -1;
};

TXServer* gServer = nullptr;

class StudioE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FMissing.clear();
    for (const char* tool : {"Xvfb", "xdotool"})
      if (!OnPath(tool)) FMissing += std::string(" ") + tool;
    const std::string studio = VEXA_STUDIO_PATH;
    if (studio.empty() || !std::filesystem::exists(studio)) FMissing += " vexa-studio";
    if (!FMissing.empty()) return;
    gServer = new TXServer;
    if (!gServer->Start()) FMissing = " a free X display";
  }
  static void TearDownTestSuite() {
    delete gServer;
    gServer = nullptr;
  }

  void SetUp() override {
    if (!FMissing.empty()) {
      if (InCI()) FAIL() << "missing in CI:" << FMissing;
      GTEST_SKIP() << "missing:" << FMissing;
    }
  }
  void TearDown() override { Stop(FStudio); }

  // Starts the studio with these arguments and waits for its window and first report.
  void Launch(const std::vector<std::string>& files) {
    FReport = FDir / "report.txt";
    std::vector<std::string> argv = {VEXA_STUDIO_PATH};
    argv.insert(argv.end(), files.begin(), files.end());
    argv.insert(argv.end(), {"--test-report", FReport});
    std::vector<std::string> env = {"DISPLAY=" + gServer->Display, "QT_QPA_PLATFORM=xcb",
                                    "XDG_CONFIG_HOME=" + FDir / "config", "XDG_RUNTIME_DIR=" + FDir.Path().string()};
    if (*VEXA_STUDIO_ENV) env.push_back(VEXA_STUDIO_ENV);
    FStudio = Spawn(argv, env, FDir / "studio.log");
    ASSERT_GT(FStudio, 0);
    ASSERT_TRUE(Poll([&] {
      std::istringstream ids(X("search --onlyvisible --pid " + std::to_string(FStudio) + " --name 'Vexa Studio'"));
      return static_cast<bool>(ids >> FWindow) && !State().empty();
    })) << "no studio window; alive " << Alive(FStudio) << "; its output:\n" << Log();
  }

  std::string Log() {
    const std::vector<uint8_t> bytes = ReadFileBytes(FDir / "studio.log");
    return std::string(bytes.begin(), bytes.end());
  }
  std::string X(const std::string& args) {
    return Sh("DISPLAY=" + gServer->Display + " xdotool " + args + " 2>/dev/null");
  }
  // Keys go to the main window (there is no window manager to give it the focus back after a dialog).
  void Keys(const std::string& keys) {
    X("windowfocus " + FWindow);
    Poll([&] { return X("getwindowfocus").find(FWindow) != std::string::npos; }, std::chrono::seconds(10));
    X("key --delay 30 " + keys);
  }
  // Keys to the dialog in front, which has the focus.
  void DialogKeys(const std::string& keys) { X("key --delay 30 " + keys); }
  void Type(const std::string& text) { X("type --delay 15 " + Quote(text)); }

  std::map<std::string, std::string> State() {
    std::map<std::string, std::string> s;
    std::ifstream in(FReport);
    for (std::string line; std::getline(in, line);)
      if (const size_t eq = line.find('='); eq != std::string::npos) s[line.substr(0, eq)] = line.substr(eq + 1);
    return s;
  }
  std::string Get(const std::string& key) { return State()[key]; }
  /// Waits until key holds `value`.
  bool WaitFor(const std::string& key, const std::string& value) {
    return Poll([&] { return Get(key) == value; });
  }
  /// Waits until key's value starts with `prefix`.
  bool WaitPrefix(const std::string& key, const std::string& prefix) {
    return Poll([&] { return Get(key).rfind(prefix, 0) == 0; });
  }

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

  static inline std::string FMissing;
  TScratchDir FDir;
  std::string FReport, FWindow;
  pid_t FStudio = -1;
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
