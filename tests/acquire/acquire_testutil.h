// Shared helpers of the scanning tests: our manager as the one the client loads,
// the scripted data source's controls, and a private SANE configuration with the
// `test` backend.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "vexa/acquire/twainclient.h"

namespace acquiretest {

/// The client loads the manager this build made.
inline void UseManager() { vexa::VXTW_SetManagerPath(VEXA_TWAINDSM_FILE); }

/// The scripted source loaded at `path`: the same instance the manager gets.
class TFakeSource {
 public:
  explicit TFakeSource(const std::string& path) : FLib(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!FLib) ADD_FAILURE() << "cannot load " << path << ": " << ::dlerror();
  }
  ~TFakeSource() {
    if (FLib) ::dlclose(FLib);
  }
  TFakeSource(const TFakeSource&) = delete;
  TFakeSource& operator=(const TFakeSource&) = delete;

  void Configure(const std::string& script) { Call<void (*)(const char*)>("FakeDS_Configure")(script.c_str()); }
  std::string Log() { return Call<const char* (*)()>("FakeDS_Log")(); }
  void ClearLog() { Call<void (*)()>("FakeDS_ClearLog")(); }

 private:
  template <typename F>
  F Call(const char* name) {
    return reinterpret_cast<F>(::dlsym(FLib, name));
  }
  void* FLib;
};

/// SANE reads its configuration from a fresh folder holding only the `test`
/// backend, so no real device is probed; removed afterwards.
class TSaneTestConfig {
 public:
  TSaneTestConfig() {
    FDir = std::filesystem::temp_directory_path() / ("vexa-sane-" + std::to_string(::getpid()));
    std::filesystem::create_directories(FDir);
    std::ofstream(FDir / "dll.conf") << "test\n";
    // A pattern rather than the default solid black, so that misplaced bytes show.
    std::ofstream(FDir / "test.conf")
        << "number_of_devices 2\nmode Gray\ndepth 8\nresolution 50.0\ntest-picture \"Color pattern\"\n";
    ::setenv("SANE_CONFIG_DIR", FDir.c_str(), 1);
    ::unsetenv("VEXA_TWAIN_SANE");
    ::unsetenv("VEXA_TWAIN_SOURCES");
  }
  ~TSaneTestConfig() {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  TSaneTestConfig(const TSaneTestConfig&) = delete;
  TSaneTestConfig& operator=(const TSaneTestConfig&) = delete;

 private:
  std::filesystem::path FDir;
};

}  // namespace acquiretest
