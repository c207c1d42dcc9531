// `vexa vxv`: vector-object files. info and import need only the core; render draws
// through the Qt layer, so it runs the companion program vexa-vxvrender installed
// beside this one (built wherever Qt is).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "vexa/core/streams.h"
#include "vexa/io/vexaio.h"
#include "vexa/vect/vectmodel.h"

namespace vexacli {
namespace {

const Command kSelf{"vxv", "inspect, import and render vector-object files",
                    "vexa vxv info FILE.vxv\n"
                    "       vexa vxv import IMAGE FILE.dxf OUT.vxv\n"
                    "       vexa vxv render IMAGE FILE.vxv|FILE.dxf OUT\n"
                    "  info    version, scale, bitmap slots and every object, frames indented\n"
                    "  import  the DXF drawing's lines, circles and arcs, scaled into IMAGE's size\n"
                    "  render  the objects burnt into IMAGE, saved as OUT (needs the Qt layer)",
                    nullptr};

const char* const kKinds[] = {"frame", "line", "box", "ellipse", "arc", "bitmap", "text", "ruler"};

void PrintObjects(const vexa::TVXVectModel& m, int frame, int depth) {
  for (int idx : m.Obj(frame).Children) {
    const vexa::TVXVObject& o = m.Obj(idx);
    std::printf("%*s#%d %s (%d, %d)-(%d, %d)", 2 * depth + 2, "", idx, kKinds[o.Kind], o.Left, o.Top, o.Right,
                o.Bottom);
    if (!o.Name.empty()) std::printf(" name=\"%s\"", o.Name.c_str());
    if (o.ID) std::printf(" id=%d", o.ID);
    std::printf(" pen=#%06X/%d", static_cast<unsigned>(o.PenColor) & 0xFFFFFF, o.PenWidth);
    if (o.Kind == vexa::vxkTEXT) std::printf(" text=\"%s\"", o.Text.c_str());
    if (o.Kind == vexa::vxkBITMAP) std::printf(" slot=%d", o.BitmapIdx);
    if (o.Kind == vexa::vxkRULER) std::printf(" unit=%s type=%d", vexa::strunits[o.RulerUnit], o.RulerType);
    if (o.Kind == vexa::vxkARC) std::printf(" angles=%g,%g", o.Angle1, o.Angle2);
    std::printf("\n");
    if (o.Kind == vexa::vxkFRAME) PrintObjects(m, idx, depth + 1);
  }
}

int Info(const std::string& file) {
  char magic[5] = {};
  {
    vexa::TFileStream f(file, vexa::fmOpenRead);
    f.Read(magic, 4);
  }
  vexa::TVXVectModel m;
  m.LoadFromFileVXV(file);
  // Pictures the objects use; the template's own does not come from the file.
  int pictures = 0;
  const int templateSlot = m.Obj(vexa::kVXTemplate).BitmapIdx;
  for (size_t s = 0; s < m.BitmapTable().size(); ++s) {
    const auto& slot = m.BitmapTable()[s];
    pictures += slot.Bitmap && slot.RefCount - (static_cast<int>(s) == templateSlot ? 1 : 0) > 0;
  }
  std::printf("version: %s\nscale: %g\nbitmaps: %d\nobjects: %d (%zu top level)\n", magic, m.Scale(), pictures,
              m.ObjectsCount(), m.Obj(vexa::kVXRoot).Children.size());
  PrintObjects(m, vexa::kVXRoot, 0);
  return kExitOk;
}

int Import(const std::string& image, const std::string& dxf, const std::string& out) {
  vexa::TBitmap bmp;
  vexa::TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(image);
  if (io.Aborting || bmp.Empty()) {
    std::fprintf(stderr, "vexa vxv: %s: cannot read the image\n", image.c_str());
    return kExitAborted;
  }
  vexa::TVXVectModel m;
  m.ImportDXF(dxf, bmp.Width(), bmp.Height());
  m.SaveToFileVXV(out);
  std::printf("%s -> %s (%d objects over %d x %d)\n", dxf.c_str(), out.c_str(), m.ObjectsCount(), bmp.Width(),
              bmp.Height());
  return kExitOk;
}

int Render(const std::vector<std::string>& args) {
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.find_last_of('/') + 1);
  const std::string renderer = dir + "vexa-vxvrender";
  if (access(renderer.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "vexa vxv: render needs the Qt layer; %s is not installed\n", renderer.c_str());
    return kExitAborted;
  }
  std::vector<char*> argv{const_cast<char*>(renderer.c_str())};
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);
  execv(renderer.c_str(), argv.data());
  std::fprintf(stderr, "vexa vxv: cannot run %s: %s\n", renderer.c_str(), std::strerror(errno));
  return kExitAborted;
}

int RunVxv(const std::vector<std::string>& args) {
  const std::string what = args.empty() ? "" : args[0];
  if (what == "info" && args.size() == 2) return Info(args[1]);
  if (what == "import" && args.size() == 4) return Import(args[1], args[2], args[3]);
  if (what == "render" && args.size() == 4) return Render(args);
  return UsageError(kSelf, what == "info" || what == "import" || what == "render" ? "wrong number of arguments"
                                                                                   : "expected info, import or render");
}

const VexaCommand kVxv({"vxv", kSelf.Summary, kSelf.Usage, RunVxv});

}  // namespace
}  // namespace vexacli
