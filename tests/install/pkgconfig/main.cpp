// Loads an image, turns it into its negative and saves it, with the core library
// alone (no Qt):  negative IN OUT
#include <cstdio>

#include "vexa/io/vexaio.h"
#include "vexa/proc/vexaproc.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  vexa::TBitmap bmp;
  vexa::TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(argv[1]);
  if (io.Aborting) {
    std::fprintf(stderr, "cannot read %s: %s\n", argv[1], io.LastFailure().Describe().c_str());
    return 1;
  }
  vexa::TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.Negative();
  io.SaveToFile(argv[2]);
  return io.Aborting ? 1 : 0;
}
