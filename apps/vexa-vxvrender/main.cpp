// vexa-vxvrender IMAGE FILE.vxv|FILE.dxf OUT: burns vector objects into an image
// without a display (the offscreen platform unless QT_QPA_PLATFORM says otherwise).
// `vexa vxv render` runs this program.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vexa/codecs/lzw.h"
#include "vexa/io/vexaio.h"
#include "vexa/vect/vectdraw_ui.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vexa-vxvrender IMAGE FILE.vxv|FILE.dxf OUT\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  vexa::VXInstallLZWCoders();
  const std::string image = argv[1], objects = argv[2], out = argv[3];
  try {
    vexa::TBitmap bmp;
    vexa::TVexaIO io;
    io.SetAttachedBitmap(&bmp);
    io.LoadFromFile(image);
    if (io.Aborting || bmp.Empty()) {
      std::fprintf(stderr, "vexa vxv render: %s: cannot read the image\n", image.c_str());
      return 1;
    }
    vexa::TVXVectModel m;
    const bool dxf = objects.size() > 4 && (objects.substr(objects.size() - 4) == ".dxf" ||
                                            objects.substr(objects.size() - 4) == ".DXF");
    if (dxf)
      m.ImportDXF(objects, bmp.Width(), bmp.Height());
    else
      m.LoadFromFileVXV(objects);
    vexa::VXBurnObjects(m, bmp);
    io.SaveToFile(out);
    if (io.Aborting) {
      std::fprintf(stderr, "vexa vxv render: %s: cannot write the image\n", out.c_str());
      return 1;
    }
    std::printf("%s + %s -> %s (%d objects)\n", image.c_str(), objects.c_str(), out.c_str(), m.ObjectsCount());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexa vxv render: %s\n", e.what());
    return 1;
  }
  return 0;
}
