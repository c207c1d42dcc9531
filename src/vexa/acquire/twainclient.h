// The TWAIN client: lists the data sources, lets the user choose one, reads and
// negotiates its capabilities from and to TVXTWainParams, and transfers one page
// into a bitmap or any number of pages through a callback.
//
// Each call runs a whole connection, from state 1 (nothing loaded) up to the
// state it needs and back down, and keeps nothing between calls:
//
//   1 load manager -> 2 open manager -> 3 open source -> 4 enable -> 5
//   -> (MSG_XFERREADY) 6 -> transfer -> 7 -> end transfer -> 6 or 5
//
// The manager is a shared library loaded with dlopen and entered through
// "DSM_Entry": the path set with VXTW_SetManagerPath, else $VEXA_TWAIN_DSM, else
// the standard TWAIN manager (libtwaindsm.so), else our own (vexa-twaindsm). With
// no manager every call answers false and changes nothing.
//
// The first failing step of the last connection (state, return code, condition
// code from DAT_STATUS, and a sentence) is kept for the application
// (VXTW_LastFailure); blocks and images a source gets wrong are refused there too.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "vexa/acquire/twain.h"
#include "vexa/core/bitmap.h"
#include "vexa/io/ioparams.h"

namespace vexa {

struct TVXTWFailure {
  /// TWAIN state the failing step started from; 0 = nothing failed.
  int State = 0;
  uint16_t ReturnCode = 0;
  uint16_t ConditionCode = 0;
  std::string Message;
  bool Occurred() const { return State != 0; }
};

/// Receives each page of a multi-page acquisition; stores it and hands back the
/// record that receives the page's parameters (null: dropped).
using TVXTWPageCallback = std::function<TIOParamsVals*(TBitmap& page)>;

/// Acquires into `bmp` (single-page mode) or page by page through `onPage`
/// (multiPage). `params` receives the single page's parameters. `parent` is a
/// window of the installed host, or null for a proxy window. True when an image
/// was transferred.
bool VXTW_Acquire(void* parent, TBitmap* bmp, bool multiPage, const TVXTWPageCallback& onPage,
                  TVXTWainParams& twain, TIOParamsVals* params, TProgressRec& progress);

/// Takes a single page band by band as the source delivers it, for applications
/// that pass the page on (to a file) without ever holding it whole.
class TVXTWBandSink {
 public:
  virtual ~TVXTWBandSink() = default;
  /// Before the first band: the page's size, the format of its bands (pf24bit, or
  /// pf1bit for black and white) and its parameters. False refuses the page.
  virtual bool Begin(int width, int height, TPixelFormat pf, const TIOParamsVals& params) = 0;
  /// Rows y to y + band.Height() - 1 of the page, whole rows, bands in any order
  /// (a source's order). The band is reused after the call. False stops the transfer.
  virtual bool Band(int y, const TBitmap& band) = 0;
};

/// Acquires one page into `sink` (see VXTW_Acquire for the rest). True when the
/// whole page went to the sink; otherwise it may have had some of its bands.
bool VXTW_AcquireBands(void* parent, TVXTWBandSink& sink, TVXTWainParams& twain, TIOParamsVals* params,
                       TProgressRec& progress);

/// The manager's source selection. A non-null parent that is no window answers
/// false at once. True when the user chose a source; name is its product name.
bool VXTW_SelectImageSource(void* parent, std::string& name);

/// Clears `list` and adds every source with a non-empty product name.
void VXTW_GetSourceList(std::vector<TVXTWSourceIdentity>& list);

/// Reads the selected source's capabilities into `caps` (after negotiating
/// `twain`'s when negotiateFirst). Without a manager or source `caps` is untouched.
void VXTW_GetCapabilities(TVXTWainParams& twain, TVXTWSourceCaps& caps, bool negotiateFirst);

/// The first failure of the last connection.
const TVXTWFailure& VXTW_LastFailure();

/// Only this manager library is tried when non-empty.
void VXTW_SetManagerPath(const std::string& path);
/// The libraries tried in order.
std::vector<std::string> VXTW_ManagerCandidates();

/// Installs the client as the I/O component's scan service and as the source and
/// capability hooks of TVXTWainParams. Runs by itself when the library is loaded;
/// calling it again is harmless.
void VXTW_Install();

}  // namespace vexa
