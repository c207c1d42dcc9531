#include "support/read_harness.h"

#include <algorithm>
#include <filesystem>

#include "support/pixels.h"

namespace vexa::test {

void PrintTo(const TReadCase& c, std::ostream* os) { *os << c.Format->Name << " " << c.File; }

std::vector<TReadCase> FolderCases(const TReadFormat& format, const std::vector<std::string>& folders,
                                   const std::vector<std::string>& extensions, bool recursive) {
  std::vector<TReadCase> cases;
  for (const std::string& folder : folders)
    for (const std::string& file : DataFiles(folder, extensions, recursive)) cases.push_back({&format, file});
  return cases;
}

std::string ReadCaseName(const ::testing::TestParamInfo<TReadCase>& info) {
  std::string n = info.param.File;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

TEST_P(ReferenceRead, PixelsMatchTheReferenceDecoder) {
  const TReadCase& c = GetParam();
  const TReadFormat& f = *c.Format;
  const std::string path = TestData(c.File);
  VEXA_REQUIRE_FILE(path);
  const std::string name = std::filesystem::path(path).filename().string();
  for (int page = 0; page < c.Pages; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    const TReadOutcome ours = f.Read(path, page);
    if (f.MustAbort.count(name)) {
      EXPECT_TRUE(ours.Aborting) << "files we do not decode must report failure";
      continue;
    }
    ASSERT_FALSE(ours.Aborting);
    ASSERT_FALSE(ours.Bitmap.Empty());
    EXPECT_EQ(ours.Params.Width, ours.Bitmap.Width());
    EXPECT_EQ(ours.Params.Height, ours.Bitmap.Height());
    if (f.ExpectPages) {
      EXPECT_EQ(ours.Pages, c.Pages);
    }
    if (f.Check) f.Check(path, ours);
    if (f.SizeOnly.count(name)) continue;

    TRefImage ref;
    if (!f.Reference) {
      VEXA_REQUIRE_REFERENCE_DECODER();
    }
    const bool decoded = f.Reference ? f.Reference(path, page, ref) : PillowDecode(path, ref, page, f.FrameOnly);
    if (!ref.Skip.empty()) {
      GTEST_SKIP() << ref.Skip;
    }
    if (f.ReferenceRefuses.count(name)) {
      EXPECT_FALSE(decoded) << "the reference now reads this file: compare it";
      continue;
    }
    ASSERT_TRUE(decoded) << "the reference cannot read " << path;
    if (f.ComparePages) {
      EXPECT_EQ(ours.Pages, ref.Frames);
    }
    if (f.ComparePosition) {
      EXPECT_EQ(ours.Left, ref.Left);
      EXPECT_EQ(ours.Top, ref.Top);
    }
    ASSERT_EQ(ours.Bitmap.Width(), ref.Width);
    ASSERT_EQ(ours.Bitmap.Height(), ref.Height);
    if (!ref.Comparable) continue;
    std::vector<uint8_t> rgb = BitmapRgb(ours.Bitmap);
    int tolerance = c.Tolerance;
    if (f.Align) f.Align(ours, ref, rgb, tolerance);
    const int diff = MaxDifference(rgb, ref.Rgb);
    if (diff > tolerance) {
      size_t at = 0;
      while (at < std::min(rgb.size(), ref.Rgb.size()) && std::abs(rgb[at] - ref.Rgb[at]) <= tolerance) ++at;
      const size_t pixel = at / 3;
      ADD_FAILURE() << "largest difference " << diff << " (tolerance " << tolerance << "); first at "
                    << pixel % ref.Width << "," << pixel / ref.Width;
    }
  }
}

}  // namespace vexa::test
