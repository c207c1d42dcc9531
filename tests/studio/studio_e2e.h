// The end-to-end harness of the studio: vexa-studio as a process on its own X
// server (Xvfb), driven with real key and mouse events (xdotool). The studio
// writes its state to a report file (--test-report); every wait polls that file
// or the process, never sleeps a fixed time. Without Xvfb or xdotool the tests
// skip, except in CI. A test suite derives its fixture from TStudioSession.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fixtures.h"

extern char** environ;

namespace studiotest {

using namespace vexa::test;

using Clock = std::chrono::steady_clock;
inline constexpr auto kPatience = std::chrono::seconds(60);

inline bool OnPath(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command, returning its standard output; status in `code`.
inline std::string Sh(const std::string& cmd, int* code = nullptr) {
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

inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
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

inline bool Alive(pid_t pid) { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

inline void Stop(pid_t& pid) {
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

inline bool Poll(const std::function<bool()>& ready, std::chrono::seconds patience = kPatience) {
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

inline TXServer* gServer = nullptr;

class TStudioSession : public ::testing::Test {
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

  // Starts the studio with these arguments (and environment entries) and waits for
  // its window and first report.
  void Launch(const std::vector<std::string>& files, const std::vector<std::string>& extraEnv = {}) {
    FReport = FDir / "report.txt";
    std::vector<std::string> argv = {VEXA_STUDIO_PATH};
    argv.insert(argv.end(), files.begin(), files.end());
    argv.insert(argv.end(), {"--test-report", FReport});
    std::vector<std::string> env = {"DISPLAY=" + gServer->Display, "QT_QPA_PLATFORM=xcb",
                                    "XDG_CONFIG_HOME=" + FDir / "config", "XDG_RUNTIME_DIR=" + FDir.Path().string()};
    if (*VEXA_STUDIO_ENV) env.push_back(VEXA_STUDIO_ENV);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
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

  static inline std::string FMissing;
  TScratchDir FDir;
  std::string FReport, FWindow;
  pid_t FStudio = -1;
};

}  // namespace studiotest
