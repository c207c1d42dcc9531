#include "vexa/dialogs/filedialogs.h"

#include <algorithm>
#include <cctype>

#include "vexa/io/formats.h"

namespace vexa {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}
std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

std::string Size(int64_t bytes) {
  return bytes > 1023 ? std::to_string(bytes / 1024) + " Kb" : std::to_string(bytes) + " bytes";
}

}  // namespace

std::string BuildStrFilter() {
  std::string all, entries;
  for (int i = 0; i < VXFileFormatCount(); ++i) {
    const TVXFileFormatInfo* f = VXFileFormatAt(i);
    std::string patterns;
    for (const std::string& ext : Split(f->Extensions, ';')) {
      if (ext.empty()) continue;
      if (!patterns.empty()) patterns += ";";
      patterns += "*." + Lower(ext);
    }
    if (!all.empty()) all += ";";
    all += patterns;
    if (!entries.empty()) entries += "|";
    entries += f->FullName + " (" + Upper(f->Extensions) + ")|" + patterns;
  }
  return "All graphics|" + all + ";*.avi|" + entries + "|Video for Windows (AVI)|*.avi";
}

std::string VXDefaultSaveFilter() {
  return std::string("JPEG Bitmap (JPG)|*.jpg") + "|CompuServe Bitmap (GIF)|*.gif" + "|TIFF Bitmap (TIF)|*.tif" +
         "|PaintBrush (PCX)|*.pcx" + "|Portable Network Graphics (PNG)|*.png" + "|Windows Bitmap (BMP)|*.bmp" +
         "|OS/2 Bitmap (BMP)|*.bmp";
}

std::string VXFilterFirstExt(const std::string& filter, int filterIndex) {
  const std::vector<std::string> parts = Split(filter, '|');
  const size_t at = static_cast<size_t>(filterIndex) * 2 - 1;
  if (filterIndex < 1 || at >= parts.size()) return {};
  const std::string& patterns = parts[at];
  const size_t dot = patterns.find('.');
  if (dot == std::string::npos) return {};
  const size_t semi = patterns.find(';', dot);
  std::string ext = patterns.substr(dot, semi == std::string::npos ? std::string::npos : semi - dot);
  // "*.*" names no extension.
  return ext.find('*') == std::string::npos ? ext : std::string();
}

int VXFilterIndexOfExt(const std::string& filter, const std::string& ext) {
  const std::vector<std::string> parts = Split(filter, '|');
  const std::string wanted = std::string(1, '*').append(Lower(ext));
  for (size_t i = 1; i < parts.size(); i += 2)
    for (const std::string& pattern : Split(Lower(parts[i]), ';'))
      if (pattern == wanted) return static_cast<int>(i / 2) + 1;
  return 1;
}

TPreviewParamsItems VXSavePageOfExt(const std::string& ext) {
  const std::string e = Lower(ext);
  if (e == ".jpg" || e == ".jpeg" || e == ".jpe") return ppJPEG;
  if (e == ".tif" || e == ".tiff") return ppTIFF;
  if (e == ".gif") return ppGIF;
  if (e == ".bmp") return ppBMP;
  if (e == ".pcx") return ppPCX;
  if (e == ".png") return ppPNG;
  return ppALL;
}

std::string VXFileExt(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(name.substr(dot));
}

std::string VXChangeFileExt(const std::string& name, const std::string& ext) {
  const std::string old = VXFileExt(name);
  return name.substr(0, name.size() - old.size()) + ext;
}

TVXFileLabels VXFileLabels(const TIOParamsVals& p, int frames, int64_t fileSize, TMsgLanguage language) {
  TVXFileLabels l;
  l.Dimensions = std::to_string(p.Width) + " x " + std::to_string(p.Height) + " pixel";
  if (frames > 1) l.Dimensions += " , " + std::to_string(frames) + " frames";
  l.Resolution = std::to_string(p.DpiX) + " x " + std::to_string(p.DpiY) + " dpi";
  const int bits = p.BitsPerSample * p.SamplesPerPixel;
  const int64_t colours = p.SamplesPerPixel == 4 && p.BitsPerSample == 8 ? 16777216
                          : bits >= 0 && bits < 63                       ? int64_t{1} << bits
                                                                         : 0;
  l.Colours = std::to_string(colours) + " " + vxmsg(VXMSG_COLORS, language) + " (" + std::to_string(bits) + " bit)";
  const bool oneBit = p.BitsPerSample == 1 && p.SamplesPerPixel == 1;
  const int64_t row = _BitmapRowLen(p.Width, oneBit ? 1 : 24);
  const int64_t mem = row * std::max(p.Height, 0) * std::max(frames, 1);
  l.FileSize = "File: " + Size(fileSize) + "   Mem: " + Size(mem);
  l.FileType = p.FileTypeStr();
  return l;
}

}  // namespace vexa
