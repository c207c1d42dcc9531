// Parameter fields from text: the first byte picks the field, the rest is the text.
// Whatever the text, it is refused or taken; a taken value reads back as a text that
// sets the same value again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "vexa/io/paramfields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto fields = vexa::VXParamFields();
  const vexa::TVXParamField& field = fields[data[0] % fields.size()];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  vexa::TIOParamsVals params;
  if (!vexa::VXParamSetText(params, field, text).empty()) return 0;
  const std::string shown = vexa::VXParamGetText(params, field);
  vexa::TIOParamsVals again;
  if (!vexa::VXParamSetText(again, field, shown).empty() || vexa::VXParamGetText(again, field) != shown) std::abort();
  return 0;
}
