#include "vexa/io/formats.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

namespace vexa {

namespace {

std::vector<std::unique_ptr<TVXFileFormatInfo>> BuiltinFormats() {
  static const struct {
    int type;
    const char* name;
    const char* ext;
  } table[] = {
      {1, "TIFF Bitmap", "TIF;TIFF"},
      {2, "CompuServe Bitmap", "GIF"},
      {3, "JPEG Bitmap", "JPG;JPEG;JPE"},
      {4, "PaintBrush", "PCX"},
      {5, "Windows Bitmap", "BMP;DIB;RLE"},
      {6, "Windows Icon", "ICO"},
      {7, "Windows Cursor", "CUR"},
      {8, "Portable Network Graphics", "PNG"},
      {9, "Windows Metafile", "WMF"},
      {10, "Enhanced Windows Metafile", "EMF"},
      {11, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX"},
  };
  std::vector<std::unique_ptr<TVXFileFormatInfo>> v;
  for (const auto& t : table) {
    auto info = std::make_unique<TVXFileFormatInfo>();
    info->FileType = t.type, info->FullName = t.name, info->Extensions = t.ext;
    v.push_back(std::move(info));
  }
  return v;
}

std::vector<std::unique_ptr<TVXFileFormatInfo>>& Registry() {
  static std::vector<std::unique_ptr<TVXFileFormatInfo>> registry = BuiltinFormats();
  return registry;
}

std::vector<std::string> SplitExtensions(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(';', start);
    if (end == std::string::npos) end = s.size();
    if (end > start) out.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

void VXFileFormatAdd(const TVXFileFormatInfo& info) {
  auto copy = std::make_unique<TVXFileFormatInfo>(info);
  // The record's strings hold at most 80 characters.
  if (copy->FullName.size() > 80) copy->FullName.resize(80);
  if (copy->Extensions.size() > 80) copy->Extensions.resize(80);
  Registry().push_back(std::move(copy));
}

void VXFileFormatRemove(int fileType) {
  auto& r = Registry();
  auto it = std::find_if(r.begin(), r.end(), [&](const auto& p) { return p->FileType == fileType; });
  if (it != r.end()) r.erase(it);
}

const TVXFileFormatInfo* VXFileFormatGetInfo(int fileType) {
  for (const auto& p : Registry())
    if (p->FileType == fileType) return p.get();
  return nullptr;
}

const TVXFileFormatInfo* VXFileFormatGetInfo2(const std::string& extension) {
  for (const auto& p : Registry())
    for (const auto& e : SplitExtensions(p->Extensions))
      if (EqualNoCase(e, extension)) return p.get();
  return nullptr;
}

std::string VXFileFormatGetExt(int fileType, int index) {
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType);
  if (!info || index < 0) return {};
  auto exts = SplitExtensions(info->Extensions);
  return index < static_cast<int>(exts.size()) ? exts[static_cast<size_t>(index)] : std::string();
}

int VXFileFormatGetExtCount(int fileType) {
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType);
  return info ? static_cast<int>(SplitExtensions(info->Extensions).size()) : 0;
}

int VXFileFormatCount() { return static_cast<int>(Registry().size()); }

const TVXFileFormatInfo* VXFileFormatAt(int index) {
  auto& r = Registry();
  return index >= 0 && index < static_cast<int>(r.size()) ? r[static_cast<size_t>(index)].get() : nullptr;
}

void VXFileFormatResetDefaults() { Registry() = BuiltinFormats(); }

}  // namespace vexa
