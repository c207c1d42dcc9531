// Loads an image into the all-in-one component, turns it into its negative and
// saves it:  negative IN OUT
#include <QApplication>
#include <cstdio>

#include "vexa/legacy/vexa_ui.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  QApplication app(argc, argv);
  vexa::TVexa view;
  view.LoadFromFile(argv[1]);
  if (view.Aborting()) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  view.Negative();
  view.SaveToFile(argv[2]);
  return view.Aborting() ? 1 : 0;
}
