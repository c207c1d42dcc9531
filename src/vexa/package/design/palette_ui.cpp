#include "vexa/package/design/palette_ui.h"

#include <QWidget>
#include <algorithm>
#include <cctype>
#include <map>
#include <type_traits>

#include "vexa/acquire/videoview_ui.h"
#include "vexa/controls/gradientbar_ui.h"
#include "vexa/controls/histogrambox_ui.h"
#include "vexa/controls/hsvbox_ui.h"
#include "vexa/controls/rulerbox_ui.h"
#include "vexa/dialogs/filedialogs_ui.h"
#include "vexa/io/vexaio.h"
#include "vexa/legacy/vexa_ui.h"
#include "vexa/mview/vexamio.h"
#include "vexa/mview/vexamview_ui.h"
#include "vexa/package/design/filtereditor_ui.h"
#include "vexa/proc/vexaproc.h"
#include "vexa/vect/vexavect_ui.h"
#include "vexa/view/vexaview_ui.h"

namespace vexa {

namespace {

struct TDesignRegistry {
  std::vector<TVXPaletteEntry> Palette;
  std::map<std::pair<std::string, std::string>, TVXPropertyEditorFactory> Editors;
  std::map<std::string, std::string> Parents;
};

TDesignRegistry& Registry() {
  static TDesignRegistry registry;
  return registry;
}

// Visual components take (parent, owner), the others (owner).
template <class T>
TComponent* Make(TComponent* owner, QWidget* parent) {
  if constexpr (std::is_constructible_v<T, QWidget*, TComponent*>)
    return new T(parent, owner);
  else
    return new T(owner);
}

struct TPaletteRow {
  const char* ClassName;
  TComponent* (*Factory)(TComponent*, QWidget*);
};

// Page "Vexa", in palette order: one line per component.
const TPaletteRow kVexaPage[] = {
    {"TVexa", Make<TVexa>},
    {"TVexaProc", Make<TVexaProc>},
    {"TVexaView", Make<TVexaView>},
    {"TVexaMView", Make<TVexaMView>},
    {"TVexaVect", Make<TVexaVect>},
    {"TVexaVideoView", Make<TVexaVideoView>},
    {"TVexaIO", Make<TVexaIO>},
    {"TVexaMIO", Make<TVexaMIO>},
    {"THistogramBox", Make<THistogramBox>},
    {"TRulerBox", Make<TRulerBox>},
    {"TVXGradientBar", Make<TVXGradientBar>},
    {"THSVBox", Make<THSVBox>},
    {"TOpenVexaDialog", Make<TOpenVexaDialog>},
    {"TSaveVexaDialog", Make<TSaveVexaDialog>},
};

}  // namespace

TVXPropertyEditor::~TVXPropertyEditor() = default;

void VXRegisterComponent(TVXPaletteEntry entry) {
  auto& palette = Registry().Palette;
  auto it = std::find_if(palette.begin(), palette.end(),
                         [&](const TVXPaletteEntry& e) { return e.ClassName == entry.ClassName; });
  if (it != palette.end())
    *it = std::move(entry);
  else
    palette.push_back(std::move(entry));
}

const std::vector<TVXPaletteEntry>& VXPaletteEntries() { return Registry().Palette; }

std::vector<const TVXPaletteEntry*> VXPaletteEntries(const std::string& page) {
  std::vector<const TVXPaletteEntry*> out;
  for (const TVXPaletteEntry& e : Registry().Palette)
    if (e.Page == page) out.push_back(&e);
  return out;
}

const TVXPaletteEntry* VXFindPaletteEntry(const std::string& className) {
  for (const TVXPaletteEntry& e : Registry().Palette)
    if (e.ClassName == className) return &e;
  return nullptr;
}

void VXClearDesignRegistry() { Registry() = TDesignRegistry(); }

void VXRegisterPropertyEditor(const std::string& className, const std::string& property,
                              TVXPropertyEditorFactory factory) {
  Registry().Editors[{className, property}] = std::move(factory);
}

void VXRegisterClassParent(const std::string& derived, const std::string& base) {
  Registry().Parents[derived] = base;
}

std::unique_ptr<TVXPropertyEditor> VXFindPropertyEditor(const std::string& className, const std::string& property) {
  const TDesignRegistry& r = Registry();
  std::string cls = className;
  // Bounded walk: a careless registration could make the chain a loop.
  for (size_t depth = 0; depth <= r.Parents.size(); ++depth) {
    auto e = r.Editors.find({cls, property});
    if (e != r.Editors.end() && e->second) return e->second();
    auto p = r.Parents.find(cls);
    if (p == r.Parents.end()) break;
    cls = p->second;
  }
  return nullptr;
}

const TVXPackageInfo& VXDsgnPackageInfo() {
  static const TVXPackageInfo info{"vexadsgn", "Vexa Controls", {"vexarun", "Qt6Core", "Qt6Gui", "Qt6Widgets"},
                                   {"palette", "propertyeditors"}, true};
  return info;
}

void Register() {
  for (const TPaletteRow& row : kVexaPage) {
    std::string upper = row.ClassName;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    VXRegisterComponent({"Vexa", row.ClassName, row.Factory, VXPaletteBitmap(upper)});
  }
  VXRegisterClassParent("TSaveVexaDialog", "TOpenVexaDialog");
  VXRegisterPropertyEditor("TOpenVexaDialog", "Filter", [] { return std::make_unique<TVXFilterPropertyEditor>(); });
}

}  // namespace vexa
