// Module start and stop: order, counting, and what the core's modules restore.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vexa/core/messages.h"
#include "vexa/core/vxview.h"
#include "vexa/io/formats.h"
#include "vexa/package/runtime.h"

using namespace vexa;

namespace {

std::vector<std::string> gCalls;
const std::vector<TVXModule>& TestModules() {
  static const std::vector<TVXModule> modules = {
      {"a", [] { gCalls.push_back("init a"); }, [] { gCalls.push_back("fini a"); }},
      {"b", nullptr, [] { gCalls.push_back("fini b"); }},
      {"c", [] { gCalls.push_back("init c"); }, nullptr},
  };
  return modules;
}

std::vector<std::string> LogSince(size_t from) {
  const auto& log = VXModuleLog();
  return {log.begin() + static_cast<std::ptrdiff_t>(from), log.end()};
}

}  // namespace

TEST(RuntimeModules, StartInOrderOnceAndStopInReverseWhenTheLastUserLeaves) {
  gCalls.clear();
  const size_t mark = VXModuleLog().size();
  VXModulesLoad(TestModules());
  VXModulesLoad(TestModules());  // a second library or a nested call: counted only
  EXPECT_EQ(gCalls, (std::vector<std::string>{"init a", "init c"}));
  VXModulesUnload(TestModules());
  EXPECT_EQ(gCalls.size(), 2u) << "stopped while a user remains";
  VXModulesUnload(TestModules());
  VXModulesUnload(TestModules());  // unbalanced: ignored
  EXPECT_EQ(gCalls, (std::vector<std::string>{"init a", "init c", "fini b", "fini a"}));
  EXPECT_EQ(LogSince(mark), (std::vector<std::string>{"+a", "+b", "+c", "-c", "-b", "-a"}));
}

TEST(RuntimeModules, CoreOrderIsMessagesFormatsScreenExpansion) {
  std::vector<std::string> names;
  for (const TVXModule& m : VXCoreModules()) names.push_back(m.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"messages", "formats", "screen", "expansion"}));
  EXPECT_EQ(VXCorePackageInfo().Contains, names);
  EXPECT_EQ(VXCorePackageInfo().Description, "Vexa Controls");
  EXPECT_FALSE(VXCorePackageInfo().DesignOnly);
}

TEST(RuntimeModules, UnloadDropsWhatTheApplicationRegisteredAndLoadRestoresBuiltins) {
  VXRuntimeLoad();
  const int builtin = VXFileFormatCount();
  TVXFileFormatInfo extra;
  extra.FileType = 200;
  extra.FullName = "Extra";
  extra.Extensions = "XTR";
  VXFileFormatAdd(extra);
  VXSetTranslationWord(msItalian, VXMSG_OK, "Va bene");
  gSystemDPIX = 144;
  VXRuntimeUnload();
  EXPECT_EQ(VXRuntimeLoadCount(), 0);
  EXPECT_EQ(VXFileFormatGetInfo(200), nullptr) << "a format whose functions may be gone";
  EXPECT_EQ(VXFileFormatCount(), builtin);
  EXPECT_EQ(gSystemDPIX, 96);
  VXRuntimeLoad();
  EXPECT_NE(vxmsg(VXMSG_OK, msItalian), "Va bene");
  EXPECT_EQ(VXFileFormatCount(), builtin);
  VXRuntimeUnload();
}
