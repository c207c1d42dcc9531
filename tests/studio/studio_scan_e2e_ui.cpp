// Scanning in the studio end to end: File > Acquire through our manager and its
// SANE source (SANE's test backend in a private configuration), the source's
// settings dialog answered with the keyboard, the page becoming the image.
#include <gtest/gtest.h>

#include "acquire/acquire_testutil.h"
#include "studio/studio_e2e.h"

namespace {

using namespace studiotest;

class StudioScanE2E : public TStudioSession {
 protected:
  void LaunchScanning() {
    // The studio inherits the private SANE configuration; the manager is the one this build made.
    ASSERT_NO_FATAL_FAILURE(Launch({}, {"VEXA_TWAIN_DSM=" VEXA_TWAINDSM_FILE}));
    ASSERT_TRUE(WaitFor("modal", ""));
  }
  // File > Acquire by its mnemonics, as a user at the keyboard.
  void Acquire() {
    Keys("alt+f");
    DialogKeys("u");
  }
  acquiretest::TSaneTestConfig Sane;
};

TEST_F(StudioScanE2E, AcquireScansThePageTheSettingsDialogAsksFor) {
  ASSERT_NO_FATAL_FAILURE(LaunchScanning());
  const std::string before = Get("hash");
  Acquire();
  // The source's own settings, titled with its name: the backend's 80 x 100 mm at
  // 50 dpi in colour, as its configuration sets them. Enter scans.
  ASSERT_TRUE(WaitFor("modal", "test:0")) << Get("modal") << "\n" << Log();
  DialogKeys("Return");
  ASSERT_TRUE(Poll([&] { return Get("modal").empty() && Get("hash") != before; })) << Get("modal") << "\n" << Log();
  EXPECT_EQ(Get("width"), "157");
  EXPECT_EQ(Get("height"), "196");
  EXPECT_EQ(Get("depth"), "24");
  EXPECT_EQ(Get("modified"), "1");
  EXPECT_EQ(Get("empty"), "0");
  EXPECT_EQ(Get("file"), "");
  EXPECT_EQ(Get("title").rfind("*", 0), 0u) << Get("title");

  // Closing the settings without scanning keeps the page.
  const std::string scanned = Get("hash");
  Acquire();
  ASSERT_TRUE(WaitPrefix("modal", "Unsaved changes|")) << Get("modal");
  DialogKeys("alt+d");
  ASSERT_TRUE(WaitFor("modal", "test:0")) << Get("modal");
  DialogKeys("Escape");
  ASSERT_TRUE(WaitFor("modal", ""));
  EXPECT_EQ(Get("hash"), scanned);
  EXPECT_EQ(Get("width"), "157");
  EXPECT_TRUE(Alive(FStudio));
}

}  // namespace
