// The design-time side of the components: a component palette and a registry of
// property editors, filled by Register.
//
// A development environment (a form designer, a scripting console) loads
// libvexadsgn, calls Register once, and then lists the palette by page, creates
// components through their factories and asks for the editor of a property. The
// library keeps only class references: it owns no component it creates.
#pragma once

#include <QPixmap>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vexa/core/component.h"
#include "vexa/package/design/dsgnexport.h"
#include "vexa/package/runtime.h"

class QWidget;

namespace vexa {

/// Creates a component: owner as for every TComponent, parent for the visual
/// ones (ignored by the others). The caller owns the result through owner or parent
/// (or directly when both are null).
using TVXComponentFactory = std::function<TComponent*(TComponent* owner, QWidget* parent)>;

/// One palette entry.
struct TVXPaletteEntry {
  std::string Page;
  std::string ClassName;
  TVXComponentFactory Factory;
  /// 24 x 24 pixels.
  QPixmap Icon;
};

/// Adds an entry at the end of its page, or replaces the entry of the same class.
VEXADSGN_EXPORT void VXRegisterComponent(TVXPaletteEntry entry);
/// Every entry in registration order; PaletteEntries(page) those of one page.
VEXADSGN_EXPORT const std::vector<TVXPaletteEntry>& VXPaletteEntries();
VEXADSGN_EXPORT std::vector<const TVXPaletteEntry*> VXPaletteEntries(const std::string& page);
VEXADSGN_EXPORT const TVXPaletteEntry* VXFindPaletteEntry(const std::string& className);
/// Empties the palette and the property editor registry.
VEXADSGN_EXPORT void VXClearDesignRegistry();

/// The 24 x 24 palette picture of a component, by class name in upper case
/// ("TVEXAVIEW"); a null pixmap for an unknown name. Drawn in code.
VEXADSGN_EXPORT QPixmap VXPaletteBitmap(const std::string& upperName);

/// Edits the value of one property in a modal dialog. Returns true and changes
/// value when the user accepts.
class VEXADSGN_EXPORT TVXPropertyEditor {
 public:
  virtual ~TVXPropertyEditor();
  virtual bool Edit(QWidget* parent, QString& value) = 0;
};
using TVXPropertyEditorFactory = std::function<std::unique_ptr<TVXPropertyEditor>()>;

/// Registers the editor of a property of a class and of its descendants.
VEXADSGN_EXPORT void VXRegisterPropertyEditor(const std::string& className, const std::string& property,
                                              TVXPropertyEditorFactory factory);
/// Tells the registry that derived descends from base, so that base's editors apply.
VEXADSGN_EXPORT void VXRegisterClassParent(const std::string& derived, const std::string& base);
/// The editor for a property of a class, looked up through its ancestors; null
/// when none is registered.
VEXADSGN_EXPORT std::unique_ptr<TVXPropertyEditor> VXFindPropertyEditor(const std::string& className,
                                                                        const std::string& property);

/// The record of libvexadsgn: design time only, requires libvexarun.
VEXADSGN_EXPORT const TVXPackageInfo& VXDsgnPackageInfo();

/// Puts the components on page "Vexa" and registers the "Filter" editor of the open
/// and save dialogs. Calling it again replaces the entries.
VEXADSGN_EXPORT void Register();

}  // namespace vexa
