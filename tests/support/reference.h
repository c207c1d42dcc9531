// The independent reference decoder (Pillow, run by the system's Python) as one bridge
// for every test program. Availability is looked up once; decodes are cached by content.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace vexa::test {

/// Pixels of one frame as 8-bit RGB, top row first.
struct TRefImage {
  int Width = 0, Height = 0;
  int Frames = 1;          // frames or pages in the file
  int Left = 0, Top = 0;   // where the frame stands on the logical screen
  std::vector<uint8_t> Rgb;
  std::vector<uint8_t> Alpha;  // one byte a pixel where the reference keeps transparency
  bool Comparable = true;      // false when the reference gives no RGB pixels for this file
  std::string Skip;            // why no comparison is possible at all
};

bool ReferenceDecoderAvailable();

/// Decodes page `page` with Pillow; false when it cannot. 16-bit grey is reduced to its
/// high byte, as the library does. `frameOnly` crops an animation frame to its own box
/// instead of the composed screen.
bool PillowDecode(const std::string& path, TRefImage& out, int page = 0, bool frameOnly = false);

/// Runs a Pillow script with shell-quoted arguments; its standard output goes to `output`.
bool RunPillowScript(const std::string& script, const std::string& args, std::string& output);

/// True when a command-line tool is on the path; in CI its absence is also a failure.
bool ToolAvailable(const std::string& name);

}  // namespace vexa::test

/// Skips the test when the reference decoder is missing; in CI that is a failure instead.
#define VEXA_REQUIRE_REFERENCE_DECODER()                                               \
  do {                                                                                \
    if (!::vexa::test::ReferenceDecoderAvailable()) {                                 \
      if (::vexa::test::InCI()) FAIL() << "python3-pil is missing on the CI machine"; \
      GTEST_SKIP() << "python3-pil not installed";                                    \
    }                                                                                 \
  } while (0)
