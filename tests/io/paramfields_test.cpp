#include <gtest/gtest.h>

#include "vexa/io/paramfields.h"

using namespace vexa;

namespace {

// A text of the field's kind that differs from `current`.
std::string OtherText(const TVXParamField& f, const std::string& current) {
  std::vector<std::string> candidates;
  switch (f.Kind) {
    case pkInt: candidates = {"-7", "1234"}; break;
    case pkBool: candidates = {"true", "false"}; break;
    case pkDouble: candidates = {"0.1", "45000.25"}; break;
    case pkString: candidates = {"a name", "b"}; break;
    case pkEnum: candidates = {f.Members.back(), f.Members.front()}; break;
    case pkColour: candidates = {"1,2,3", "250,128,0"}; break;
    case pkPalette: candidates = {"1,2,3;4,5,6;7,8,9", ""}; break;
  }
  return candidates[0] != current ? candidates[0] : candidates[1];
}

std::string Text(const TIOParamsVals& p, const char* name) { return VXParamGetText(p, *VXFindParamField(name)); }

}  // namespace

// Every field is set to a value other than its default through the table; the
// text reads back, Assign carries it and the parameter file keeps it.
TEST(ParamFields, EveryFieldRoundTripsThroughTextAssignAndTheFile) {
  const TIOParamsVals defaults;
  TIOParamsVals changed;
  for (const TVXParamField& f : VXParamFields()) {
    ASSERT_EQ(VXFindParamField(f.Name), &f) << f.Name;
    const std::string text = OtherText(f, VXParamGetText(defaults, f));
    ASSERT_EQ(VXParamSetText(changed, f, text), "") << f.Name;
    EXPECT_EQ(VXParamGetText(changed, f), text) << f.Name;
  }
  TIOParamsVals copy;
  copy.Assign(changed);
  TMemoryStream file;
  changed.SaveToStream(file);
  file.SetPosition(0);
  TIOParamsVals loaded;
  loaded.LoadFromStream(file);
  EXPECT_EQ(file.Position(), file.Size());
  for (const TVXParamField& f : VXParamFields()) {
    EXPECT_NE(VXParamGetText(copy, f), VXParamGetText(defaults, f)) << f.Name;
    EXPECT_EQ(VXParamGetText(copy, f), VXParamGetText(changed, f)) << f.Name;
    EXPECT_EQ(VXParamGetText(loaded, f), VXParamGetText(changed, f)) << f.Name;
  }
  EXPECT_EQ(copy.ColorMapCount, 3);
  // SetDefaultParams brings every field back (geometry and resolution stay without an owner).
  changed.SetDefaultParams();
  for (const TVXParamField& f : VXParamFields()) {
    const std::string_view name = f.Name;
    if (name == "Width" || name == "Height" || name == "DpiX" || name == "DpiY" || name == "TGA_Date") continue;
    EXPECT_EQ(VXParamGetText(changed, f), VXParamGetText(defaults, f)) << f.Name;
  }
}

TEST(ParamFields, TextFormsAreLocaleFreeAndExact) {
  TIOParamsVals p;
  EXPECT_EQ(Text(p, "TGA_Gamma"), "2.2");
  EXPECT_EQ(Text(p, "ICO_Background"), "255,255,255");
  EXPECT_EQ(Text(p, "JPEG_ColorSpace"), "ioJPEG_YCbCr");
  EXPECT_EQ(Text(p, "TGA_Compressed"), "true");
  EXPECT_EQ(Text(p, "ColorMap"), "");
  const TVXParamField& date = *VXFindParamField("TGA_Date");
  ASSERT_EQ(VXParamSetText(p, date, "45000.123456789012"), "");
  EXPECT_EQ(p.TGA_Date, 45000.123456789012);
  EXPECT_EQ(VXParamSetText(p, date, "+1.5"), "");
  EXPECT_EQ(p.TGA_Date, 1.5);
  EXPECT_EQ(VXFindParamField("jpeg_quality"), nullptr);
  EXPECT_EQ(VXFindParamField("TIFF_LZWCompFunc"), nullptr);  // hooks have no text form
}

TEST(ParamFields, BadTextIsRefusedAndChangesNothing) {
  const struct {
    const char* Field;
    const char* Text;
  } cases[] = {
      {"JPEG_Quality", "high"},  {"JPEG_Quality", "12x"},       {"JPEG_Quality", ""},
      {"Width", "99999999999"},  {"GIF_Interlaced", "yes"},     {"TGA_Gamma", "2,2"},
      {"TGA_Gamma", ""},         {"PNG_Filter", "ioPNG_FILTER_UP"}, {"PNG_Filter", "2"},
      {"PNG_Background", "1,2"}, {"PNG_Background", "1,2,256"}, {"PNG_Background", "1,2,3,4"},
      {"ColorMap", "1,2,3;4,5"}, {"ColorMap", ";"},
  };
  for (const auto& c : cases) {
    TIOParamsVals p;
    const TRGB grey{9, 9, 9};
    p.SetColorMap(&grey, 1);
    const TVXParamField& f = *VXFindParamField(c.Field);
    const std::string before = VXParamGetText(p, f);
    EXPECT_NE(VXParamSetText(p, f, c.Text), "") << c.Field << "=" << c.Text;
    EXPECT_EQ(VXParamGetText(p, f), before) << c.Field << "=" << c.Text;
  }
}
