// The catalogue of processing operations: every operation a front end (the `vexa
// proc` command, the studio's menus, a preview dialog) offers on a `TVexaProc`,
// with its name, menu group and title, its arguments and how to run it.
//
// Arguments are words, as on a command line: a number is one word, a colour three
// (R G B, each 0..255), a choice one of its words. An operation checks them all
// before it changes anything; bad arguments give an error text and leave the image
// alone. Operations that answer with text (counts, tables, hidden text) put it in
// `report`, ending with a newline.
//
// To add an operation, add an entry to the table of the operations_*.cpp file of
// its kind; the catalogue is sorted by name when first used.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "vexa/proc/vexaproc.h"

namespace vexa {

/// Menu groups, in menu order.
enum TVXOpGroup : uint8_t {
  ogColours, ogAdjust, ogFilters, ogTransform, ogEffects, ogFrequency, ogColourDepth, ogAnalysis, ogHiddenData
};
constexpr int kVXOpGroupCount = ogHiddenData + 1;
/// "Colours", "Adjust", ..., "Hidden data"; empty for a value out of range.
const char* VXOpGroupName(TVXOpGroup group);

enum TVXOpParamKind : uint8_t {
  opkInt,      ///< one whole number in [Min, Max]; the operation refuses others
  opkNumber,   ///< one real number; [Min, Max] is the range a form offers
  opkColour,   ///< three words R G B, each 0..255
  opkChoice,   ///< one of the words of Choices
  opkPreset,   ///< one of the words of Choices, or a file of the kind the operation reads
  opkFlag,     ///< the word in Choices, or nothing (only as the last, optional parameter)
  opkFile,     ///< a file name
  opkText,     ///< any text, one argument
};

/// What of the selection (or, without one, the image) a form may fill a parameter
/// from: lens and bump centres follow the selection when asked to.
enum TVXOpParamUse : uint8_t { opuNone, opuCentreX, opuCentreY, opuWidth, opuHeight };

/// One parameter of an operation, as a form shows it.
struct TVXOpParam {
  const char* Title;
  TVXOpParamKind Kind;
  /// The words the parameter gives when the user changes nothing (a flag: "" = off).
  const char* Default;
  double Min = 0, Max = 0;
  /// Words separated by '|' (choices, presets, the flag's word).
  const char* Choices = "";
  /// Optional parameters come last and may be left out from the end.
  bool Optional = false;
  TVXOpParamUse FromSelection = opuNone;
  /// Words the parameter takes on the command line.
  int Words() const { return Kind == opkColour ? 3 : 1; }
};

using TVXOpRun = std::string (*)(TVexaProc& proc, const std::vector<std::string>& args, std::string& report);

struct TVXOperation {
  /// The command-line name, lower case, e.g. "fft-lowpass".
  const char* Name;
  /// For menus, e.g. "Low pass".
  const char* Title;
  TVXOpGroup Group;
  /// Argument synopsis for help texts, e.g. "R [gray|rgb]".
  const char* Args;
  const char* Summary;
  /// In argument order.
  std::span<const TVXOpParam> Params;
  /// Runs on the component's bitmap and selection with a checked number of
  /// words; returns an error text for bad arguments, empty on success.
  TVXOpRun Run;

  int MinArgs() const;
  int MaxArgs() const;
  /// "NAME expects: NAME ARGS" when `count` words do not fit, else empty.
  std::string CheckArgCount(size_t count) const;
  /// Checks the count, then runs.
  std::string Execute(TVexaProc& proc, const std::vector<std::string>& args, std::string& report) const;
  /// The words of every parameter's default, optional ones included.
  std::vector<std::string> DefaultArgs() const;
};

/// Every operation, in name order.
const std::vector<TVXOperation>& VXOperations();
/// Null for an unknown name.
const TVXOperation* VXFindOperation(const std::string& name);

// Argument helpers for the operations: each returns false when the text is not a
// whole number (an optional '+' first) in range.
bool VXOpArgInt(const std::string& s, int& out, int min = -2147483647 - 1, int max = 2147483647);
/// Three consecutive arguments from index i as a colour.
bool VXOpArgRGB(const std::vector<std::string>& args, size_t i, TRGB& out);
/// The position of `word` among the '|'-separated words of `choices`, or -1.
int VXOpArgChoice(const char* choices, const std::string& word);

/// The catalogue's parts, one per operations_*.cpp file.
std::span<const TVXOperation> VXColourOperations();
std::span<const TVXOperation> VXGeometryOperations();

}  // namespace vexa
