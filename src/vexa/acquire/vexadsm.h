// What our own data source manager (vexa-twaindsm) offers beyond the TWAIN entry
// point: an application with a user interface hands it the dialogs it shows on
// its behalf (the source selection of MSG_USERSELECT, the progress indicator of
// sources with CAP_INDICATORS, and a source's own settings when it is enabled with
// its user interface shown). A manager without this export is driven through
// DSM_Entry alone.
//
// Plain C layout: the manager is a separate shared library.
#pragma once

#include <cstdint>

extern "C" {

/// Kinds of VexaDSMOption.
enum : int {
  VexaDSMNumber = 0,  ///< Value in [Min, Max], Step apart (no step: any)
  VexaDSMChoice = 1,  ///< Current indexes Choices
  VexaDSMSwitch = 2,  ///< Value 0 (off) or 1 (on)
  VexaDSMButton = 3,  ///< Value counts the presses; the source acts on them when the user scans
};

/// One setting a source offers in its dialog. The dialog writes the user's Value /
/// Current back.
struct VexaDSMOption {
  const char* Name;
  const char* Title;
  int Kind;
  double Min, Max, Step, Value;
  const char* const* Choices;
  int ChoiceCount;
  int Current;
};

struct VexaDSMUI {
  /// sizeof(VexaDSMUI) of the caller; members past it are absent.
  uint32_t Size;
  void* Context;
  /// Shows the source selection over `parent`; the chosen index, or -1 when cancelled.
  int (*SelectSource)(void* context, void* parent, const char* const* names, int count, int current);
  /// Opens a progress indicator titled `title`; an opaque handle (null: none shown).
  void* (*ProgressOpen)(void* context, const char* title);
  /// Shows percent (0-100); false when the user asked to cancel.
  bool (*ProgressStep)(void* context, void* handle, int percent);
  void (*ProgressClose)(void* context, void* handle);
  /// Shows a source's settings over `parent`; true when the user asked to scan.
  bool (*Settings)(void* context, void* parent, const char* title, VexaDSMOption* options, int count);
};

/// Exported by vexa-twaindsm as "VexaDSM_SetUI"; null removes the dialogs.
using VexaDSMSetUIProc = void (*)(const VexaDSMUI* ui);
}
