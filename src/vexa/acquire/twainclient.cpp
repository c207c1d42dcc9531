#include "vexa/acquire/twainclient.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "vexa/acquire/twainhost.h"
#include "vexa/acquire/twainxfer.h"
#include "vexa/acquire/vexadsm.h"
#include "vexa/io/scanservice.h"
#include "vexa/proc/dib.h"

namespace vexa {

using namespace twain;

namespace {

TVXTWFailure gLastFailure;
std::string gManagerPath;

// A memory-transfer buffer beyond this is not worth what a source asks for; the
// protocol lets the application offer less than the preferred size.
constexpr TW_UINT32 kMaxMemXferBuffer = 64u << 20;
// Containers in the wild hold a handful of items; a count beyond this is a
// source reporting garbage.
constexpr TW_UINT32 kMaxContainerItems = 4096;

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void CopyStr32(char (&dst)[34], const std::string& s) {
  std::memset(dst, 0, sizeof dst);
  std::memcpy(dst, s.data(), std::min<size_t>(s.size(), 33));
}

std::string Str32(const char (&s)[34]) { return std::string(s, strnlen(s, 33)); }

// One capability as it came back: the values, and where the current one is.
struct TCapValues {
  TW_UINT16 ConType = 0;
  std::vector<double> Items;
  double Current = 0, Min = 0, Max = 0, Step = 0;
};

// Reads the container behind a capability's handle. Items of types we do not
// know, and containers of other kinds, fail.
bool ParseContainer(const TW_CAPABILITY& cap, TCapValues& out) {
  const auto* base = static_cast<const uint8_t*>(cap.hContainer);
  if (!base) return false;
  out.ConType = cap.ConType;
  switch (cap.ConType) {
    case TWON_ONEVALUE: {
      TW_ONEVALUE one;
      std::memcpy(&one, base, sizeof one);
      const int size = ItemSize(one.ItemType);
      if (size == 0 || size > 4) return false;
      out.Current = ReadItem(one.ItemType, base + offsetof(TW_ONEVALUE, Item));
      out.Items = {out.Current};
      return true;
    }
    case TWON_ENUMERATION: {
      TW_ENUMERATION e;
      std::memcpy(&e, base, sizeof e);
      const int size = ItemSize(e.ItemType);
      if (size == 0 || size > 4 || e.NumItems > kMaxContainerItems) return false;
      for (TW_UINT32 i = 0; i < e.NumItems; ++i)
        out.Items.push_back(ReadItem(e.ItemType, base + sizeof e + static_cast<size_t>(i) * size));
      if (e.CurrentIndex < e.NumItems) out.Current = out.Items[e.CurrentIndex];
      return true;
    }
    case TWON_ARRAY: {
      TW_ARRAY a;
      std::memcpy(&a, base, sizeof a);
      const int size = ItemSize(a.ItemType);
      if (size == 0 || size > 4 || a.NumItems > kMaxContainerItems) return false;
      for (TW_UINT32 i = 0; i < a.NumItems; ++i)
        out.Items.push_back(ReadItem(a.ItemType, base + sizeof a + static_cast<size_t>(i) * size));
      if (!out.Items.empty()) out.Current = out.Items[0];
      return true;
    }
    case TWON_RANGE: {
      TW_RANGE r;
      std::memcpy(&r, base, sizeof r);
      const int size = ItemSize(r.ItemType);
      if (size == 0 || size > 4) return false;
      auto item = [&](TW_UINT32 v) { return ReadItem(r.ItemType, reinterpret_cast<const uint8_t*>(&v)); };
      out.Min = item(r.MinValue), out.Max = item(r.MaxValue), out.Step = item(r.StepSize);
      out.Current = item(r.CurrentValue);
      return true;
    }
    default:
      return false;
  }
}

// Containers we send: malloc'd as the receiving side frees them.
struct TContainer {
  TW_CAPABILITY Cap{};
  explicit TContainer(TW_UINT16 capId, TW_UINT16 conType, size_t bytes) {
    Cap.Cap = capId;
    Cap.ConType = conType;
    Cap.hContainer = std::calloc(1, bytes);
  }
  ~TContainer() { std::free(Cap.hContainer); }
  TContainer(const TContainer&) = delete;
  TContainer& operator=(const TContainer&) = delete;
  uint8_t* Bytes() { return static_cast<uint8_t*>(Cap.hContainer); }
};

// One connection from state 1 back to state 1.
class TConnection {
 public:
  explicit TConnection(const TVXTWainParams* twain) {
    gLastFailure = TVXTWFailure{};
    App.Id = 0;
    App.Version.MajorNum = 1;
    App.Version.MinorNum = 0;
    App.Version.Language = TWLG_USA;
    App.Version.Country = TWCY_USA;
    App.ProtocolMajor = 1;
    App.ProtocolMinor = 6;
    App.SupportedGroups = DG_CONTROL | DG_IMAGE;
    if (twain) {
      CopyStr32(App.Version.Info, twain->AppVersionInfo());
      CopyStr32(App.Manufacturer, twain->AppManufacturer());
      CopyStr32(App.ProductFamily, twain->AppProductFamily());
      CopyStr32(App.ProductName, twain->AppProductName());
    }
  }
  ~TConnection() { CloseDown(); }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  TW_UINT16 Manager(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return LastRC = Entry(&App, nullptr, dg, dat, msg, data);
  }
  TW_UINT16 Source(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    return LastRC = Entry(&App, &Src, dg, dat, msg, data);
  }

  // Records the first failure of the connection with the condition code the
  // manager (state 3) or the source (states 4, 5) reports for it.
  void Fail(int state, TW_UINT16 rc, const std::string& message) {
    if (gLastFailure.Occurred()) return;
    TW_STATUS status{};
    if (rc == TWRC_FAILURE && Entry) {
      if (state == 3)
        Entry(&App, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
      else if (state == 4 || state == 5)
        Entry(&App, &Src, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    }
    gLastFailure = TVXTWFailure{state, rc, status.ConditionCode, message};
  }

  // Step 1 (1 -> 2).
  bool Load() {
    if (State != 1) return false;
    for (const std::string& path : VXTW_ManagerCandidates()) {
      if (path.find('/') != std::string::npos && !FileExists(path)) continue;
      void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!lib) continue;
      auto entry = reinterpret_cast<DSMENTRYPROC>(::dlsym(lib, "DSM_Entry"));
      if (!entry) {
        ::dlclose(lib);
        continue;
      }
      Lib = lib;
      Entry = entry;
      if (auto setUI = reinterpret_cast<VexaDSMSetUIProc>(::dlsym(lib, "VexaDSM_SetUI"))) setUI(VXTW_DSMUI());
      State = 2;
      return true;
    }
    gLastFailure = TVXTWFailure{1, TWRC_FAILURE, TWCC_SUCCESS, "no TWAIN data source manager could be loaded"};
    return false;
  }

  // Step 2 (2 -> 3). A parent that is no window gets a proxy.
  bool OpenManager(void* parent) {
    if (State != 2) return false;
    TVXTWainHost& host = VXTW_Host();
    if (!parent || !host.IsWindow(parent)) {
      parent = host.CreateProxyWindow();
      Proxy = parent;
    }
    Parent = parent;
    if (Manager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &Parent) != TWRC_SUCCESS) {
      Fail(2, LastRC, "the data source manager did not open");
      return false;
    }
    State = 3;
    return true;
  }

  // Step 3 (3 -> 4): the source whose product name equals `name`; a name that no
  // source has leaves the last one enumerated; no name, the manager's default.
  bool OpenSource(const std::string& name) {
    if (State != 3) return false;
    std::memset(&Src, 0, sizeof Src);
    if (!name.empty()) {
      TW_IDENTITY id{};
      TW_UINT16 rc = Manager(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
      while (rc == TWRC_SUCCESS) {
        Src = id;
        if (Str32(id.ProductName) == name) break;
        rc = Manager(DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
      }
    }
    if (Manager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &Src) != TWRC_SUCCESS) {
      Fail(3, LastRC, "the data source \"" + name + "\" did not open");
      return false;
    }
    State = 4;
    return true;
  }

  // Step 5 (4 -> 5).
  bool Enable(bool showUI) {
    if (State != 4) return false;
    UI.ShowUI = showUI ? 1 : 0;
    UI.ModalUI = 0;
    UI.hParent = Parent;
    if (Source(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &UI) != TWRC_SUCCESS &&
        LastRC != TWRC_CHECKSTATUS) {
      Fail(4, LastRC, "the data source could not be enabled");
      return false;
    }
    State = 5;
    return true;
  }

  void Disable() {
    if (State != 5) return;
    Source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &UI);
    State = 4;
  }

  // Step 7: down from whatever state was reached.
  void CloseDown() {
    if (State >= 6) EndTransfer(true);
    Disable();
    if (State == 4) {
      Manager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &Src);
      State = 3;
    }
    if (State == 3) {
      Manager(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &Parent);
      State = 2;
    }
    if (State == 2) {
      if (auto setUI = reinterpret_cast<VexaDSMSetUIProc>(::dlsym(Lib, "VexaDSM_SetUI"))) setUI(nullptr);
      ::dlclose(Lib);
      Lib = nullptr;
      Entry = nullptr;
      State = 1;
    }
    if (Proxy) {
      VXTW_Host().DestroyProxyWindow(Proxy);
      Proxy = nullptr;
    }
  }

  // In state 7 ends this transfer (6 when more are pending, else 5); in state 6
  // (or when `discard`) drops the rest.
  void EndTransfer(bool discard) {
    if (State == 7) {
      Pending = TW_PENDINGXFERS{};
      Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &Pending);
      State = Pending.Count != 0 ? 6 : 5;
    }
    if (State == 6 && discard) {
      Pending = TW_PENDINGXFERS{};
      Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &Pending);
      State = 5;
    }
  }

  // --- capabilities ---

  bool GetCap(TW_UINT16 capId, TCapValues& out) {
    TW_CAPABILITY cap{capId, TWON_DONTCARE16, nullptr};
    const bool ok = Source(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap) == TWRC_SUCCESS && ParseContainer(cap, out);
    std::free(cap.hContainer);
    return ok;
  }

  TW_UINT16 SetOne(TW_UINT16 capId, TW_UINT16 type, double value) {
    TContainer c(capId, TWON_ONEVALUE, sizeof(TW_ONEVALUE));
    TW_ONEVALUE one{type, 0};
    PutItem(reinterpret_cast<uint8_t*>(&one.Item), type, value);
    std::memcpy(c.Bytes(), &one, sizeof one);
    return Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c.Cap);
  }

  // Sends what changed in a list: all values as an enumeration, the current
  // value alone, or (real lists) the range; the last answer counts.
  template <typename List>
  TW_UINT16 SendList(TW_UINT16 capId, const List& list, bool real) {
    const TW_UINT16 type = real ? TWTY_FIX32 : TWTY_UINT16;
    const size_t size = static_cast<size_t>(ItemSize(type));
    TW_UINT16 rc = TWRC_SUCCESS;
    if (list.Changed & 1) {
      TContainer c(capId, TWON_ENUMERATION, sizeof(TW_ENUMERATION) + size * static_cast<size_t>(list.Count));
      const int current = std::max(0, list.IndexOf(list.CurrentValue()));
      TW_ENUMERATION e{type, static_cast<TW_UINT32>(list.Count), static_cast<TW_UINT32>(current),
                       static_cast<TW_UINT32>(current)};
      std::memcpy(c.Bytes(), &e, sizeof e);
      for (int i = 0; i < list.Count; ++i)
        PutItem(c.Bytes() + sizeof e + size * static_cast<size_t>(i), type, list.GetItem(i));
      rc = Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c.Cap);
    }
    if (list.Changed & 4) rc = SetOne(capId, type, list.CurrentValue());
    if (real && (list.Changed & 2)) {
      TContainer c(capId, TWON_RANGE, sizeof(TW_RANGE));
      TW_RANGE r{};
      r.ItemType = type;
      auto put = [&](uint8_t* field, double v) { PutItem(field, type, v); };
      put(reinterpret_cast<uint8_t*>(&r.MinValue), list.RangeMin());
      put(reinterpret_cast<uint8_t*>(&r.MaxValue), list.RangeMax());
      put(reinterpret_cast<uint8_t*>(&r.StepSize), list.RangeStep());
      put(reinterpret_cast<uint8_t*>(&r.DefaultValue), list.CurrentValue());
      put(reinterpret_cast<uint8_t*>(&r.CurrentValue), list.CurrentValue());
      std::memcpy(c.Bytes(), &r, sizeof r);
      rc = Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c.Cap);
    }
    return rc;
  }

  // Fills a list from the source; false (list untouched) when unanswered.
  template <typename List>
  bool ReadList(TW_UINT16 capId, List& list, bool real) {
    TCapValues v;
    if (!GetCap(capId, v)) return false;
    using T = decltype(list.CurrentValue());
    if (v.ConType == TWON_RANGE) {
      if (!real) return false;
      list.Clear();
      list.SetRangeMin(static_cast<T>(v.Min));
      list.SetRangeMax(static_cast<T>(v.Max));
      list.SetRangeStep(static_cast<T>(v.Step));
    } else {
      list.Clear();
      for (double d : v.Items) list.Add(static_cast<T>(d));
    }
    list.SetCurrentValue(static_cast<T>(v.Current));
    return true;
  }

  // Sends the parameters before enabling; the order is the protocol's.
  void Negotiate(TVXTWSourceCaps& caps) {
    TCapValues v;
    if (GetCap(ICAP_UNITS, v)) SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
    SetOne(ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE);
    SendList(ICAP_XRESOLUTION, caps.XResolution, true);
    SendList(ICAP_YRESOLUTION, caps.YResolution, true);
    SendList(ICAP_XSCALING, caps.XScaling, true);
    SendList(ICAP_YSCALING, caps.YScaling, true);
    if (caps.PixelType.CurrentValue() > TWPT_RGB) caps.PixelType.SetCurrentValue(TWPT_RGB);
    bool pixelOk = SendList(ICAP_PIXELTYPE, caps.PixelType, false) == TWRC_SUCCESS;
    if (pixelOk && caps.PixelType.CurrentValue() == TWPT_GRAY) {
      pixelOk = SetOne(ICAP_BITDEPTH, TWTY_UINT16, 8) == TWRC_SUCCESS;
    } else if (pixelOk && caps.PixelType.CurrentValue() == TWPT_RGB) {
      pixelOk = SetOne(ICAP_BITDEPTH, TWTY_UINT16, 24) == TWRC_SUCCESS &&
                SetOne(ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY) == TWRC_SUCCESS;
    }
    Buffered = false;
    if (pixelOk && caps.BufferedTransfer) {
      TCapValues mech;
      if (GetCap(ICAP_XFERMECH, mech)) {
        bool memory = false;
        for (double d : mech.Items) memory = memory || d == TWSX_MEMORY;
        if (mech.ConType == TWON_RANGE) memory = mech.Min <= TWSX_MEMORY && TWSX_MEMORY <= mech.Max;
        Buffered = memory && SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY) == TWRC_SUCCESS;
      }
    }
    SetOne(CAP_FEEDERENABLED, TWTY_BOOL, caps.FeederEnabled ? -1 : 0);
    SendList(ICAP_ORIENTATION, caps.Orientation, false);
    SetOne(CAP_INDICATORS, TWTY_BOOL, caps.Indicators ? -1 : 0);
    TW_IMAGELAYOUT layout{};
    layout.Frame = TW_FRAME{ToFix32(caps.AcquireFrame[0]), ToFix32(caps.AcquireFrame[1]),
                            ToFix32(caps.AcquireFrame[2]), ToFix32(caps.AcquireFrame[3])};
    Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
  }

  // --- transfers ---

  // One page in state 6 into `bmp`: state 7 when the source finished or
  // cancelled it, 6 when it failed. True when the page arrived whole.
  bool TransferPage(TBitmap& bmp, int bitsPerPixel, int imageLength, TProgressRec& pr) {
    if (!Buffered) return NativeTransfer(bmp);
    const auto place = [&](const TW_IMAGEMEMXFER& block, const uint8_t* mem, size_t len, std::string& why) {
      return VXTW_CopyMemBlock(bmp, bitsPerPixel, block, mem, len, why);
    };
    return MemoryTransfer(place, uint64_t(bmp.Width()) * uint64_t(bmp.Height()), imageLength, pr);
  }

  // One page in state 6 to the band sink (see TVXTWBandPlacer).
  bool TransferBands(const TW_IMAGEINFO& info, TPixelFormat pf, TProgressRec& pr) {
    const int width = info.ImageWidth, height = info.ImageLength;
    if (!Buffered) {
      TBitmap page;
      page.Allocate(width, height, pf);
      return NativeTransfer(page) && Deliver(0, page);
    }
    TVXTWBandPlacer placer(width, height, pf, info.BitsPerPixel,
                           [this](int y, const TBitmap& band) { return Sink->Band(y, band); });
    const auto place = [&](const TW_IMAGEMEMXFER& block, const uint8_t* mem, size_t len, std::string& why) {
      if (placer.Place(block, mem, len, why)) return true;
      if (placer.Stopped) Stopped();
      return false;
    };
    if (!MemoryTransfer(place, uint64_t(width) * uint64_t(height), height, pr)) return false;
    if (placer.Finish()) return true;
    Stopped();
    return false;
  }

  bool Deliver(int y, const TBitmap& band) {
    if (Sink->Band(y, band)) return true;
    Stopped();
    return false;
  }
  void Stopped() { Fail(7, TWRC_FAILURE, "the application stopped taking the page's rows"); }

  using TBlockPlacer = std::function<bool(const TW_IMAGEMEMXFER&, const uint8_t*, size_t, std::string&)>;

  bool MemoryTransfer(const TBlockPlacer& place, uint64_t imagePixels, int imageLength, TProgressRec& pr) {
    TW_SETUPMEMXFER setup{};
    if (Source(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS || setup.Preferred == 0) {
      Fail(6, LastRC, "the source proposes no memory-transfer buffer");
      return false;
    }
    const TW_UINT32 size = std::min(setup.Preferred, kMaxMemXferBuffer);
    std::vector<uint8_t> buffer(size, 0);
    // A source that keeps answering without covering the image would hold the
    // loop for ever; more than twice the image's pixels means it is not converging.
    const uint64_t pixelBudget = 2 * imagePixels + 1;
    uint64_t pixelsSeen = 0;
    int emptyBlocks = 0;
    for (;;) {
      TW_IMAGEMEMXFER block{};
      std::memset(&block, 0xff, sizeof block);
      block.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
      block.Memory.Length = size;
      block.Memory.TheMem = buffer.data();
      const TW_UINT16 rc = Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &block);
      if (rc == TWRC_CANCEL) {
        State = 7;
        return false;
      }
      if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
        Fail(6, rc, "the memory transfer failed");
        State = 6;
        return false;
      }
      // From here the source is in state 7 whatever we think of its block.
      State = 7;
      std::string why;
      if (!place(block, buffer.data(), buffer.size(), why)) {
        if (!why.empty()) Fail(7, TWRC_FAILURE, "refused a memory block: " + why);
        return false;
      }
      const uint64_t pixels = uint64_t{block.Rows} * block.Columns;
      emptyBlocks = pixels == 0 ? emptyBlocks + 1 : 0;
      pixelsSeen += pixels;
      if (pixelsSeen > pixelBudget || emptyBlocks > 1000) {
        Fail(7, TWRC_FAILURE, "the source keeps sending blocks past the image");
        return false;
      }
      if (pr.OnProgress && imageLength > 0 && block.Rows > 0)
        pr.OnProgress(pr.Sender,
                      static_cast<int>((uint64_t{block.YOffset} + block.Rows) * 100 / static_cast<uint64_t>(imageLength)));
      if (rc == TWRC_XFERDONE) return true;
      State = 6;  // more blocks to come
      if (pr.Aborted()) {
        State = 7;
        return false;
      }
    }
  }

  bool NativeTransfer(TBitmap& bmp) {
    TW_HANDLE handle = nullptr;
    const TW_UINT16 rc = Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (rc == TWRC_CANCEL) {
      std::free(handle);
      State = 7;
      return false;
    }
    if (rc != TWRC_XFERDONE) {
      std::free(handle);
      Fail(6, rc, "the native transfer failed");
      State = 6;
      return false;
    }
    State = 7;
    std::unique_ptr<void, void (*)(void*)> owned(handle, std::free);
    const auto* dib = static_cast<const uint8_t*>(handle);
    size_t size = 0;
    if (!dib || !NativeSize(dib, size)) {
      Fail(7, TWRC_FAILURE, "refused a native image with an unusable header");
      return false;
    }
    if (_CopyDIB2Bitmap(dib, size, bmp) == 0) {
      Fail(7, TWRC_FAILURE, "refused a native image it could not decode");
      return false;
    }
    return true;
  }

  // The bytes of a packed DIB from its own header (header, palette, rows); false
  // for headers no source should send.
  static bool NativeSize(const uint8_t* dib, size_t& size) {
    uint32_t headerSize, used, compression;
    int32_t width, height;
    uint16_t bits;
    std::memcpy(&headerSize, dib, 4);
    std::memcpy(&width, dib + 4, 4);
    std::memcpy(&height, dib + 8, 4);
    std::memcpy(&bits, dib + 14, 2);
    std::memcpy(&compression, dib + 16, 4);
    std::memcpy(&used, dib + 32, 4);
    if (headerSize < 40 || headerSize > 1024 || width <= 0 || height == 0 || height == INT32_MIN) return false;
    if (compression != 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) return false;
    const int64_t rows = height < 0 ? -int64_t{height} : height;
    if (!VXCheckBitmapSize(width, rows, 24)) return false;
    if (used > 256) return false;
    const uint64_t palette = bits <= 8 ? 4ull * (used ? used : (1u << bits)) : 4ull * used;
    const uint64_t rowLen = ((uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32) * 4;
    size = static_cast<size_t>(headerSize + palette + rowLen * static_cast<uint64_t>(rows));
    return true;
  }

  // Image information of the page about to come; false when the transfer must stop.
  bool ReadInfo(TW_IMAGEINFO& info) {
    std::memset(&info, 0, sizeof info);
    if (Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
      Fail(6, LastRC, "the source gave no image information");
      return false;
    }
    return true;
  }

  // State 6 after MSG_XFERREADY: one page, or pages while the source has more.
  void Transfer(TProgressRec& pr) {
    while (State == 6 && !Ended) {
      TW_IMAGEINFO info;
      if (!ReadInfo(info)) break;
      std::string why;
      std::unique_ptr<TBitmap> page;
      TBitmap* target = Bmp;
      if (MultiPage) {
        page = std::make_unique<TBitmap>();
        target = page.get();
      }
      TBitmap sized;
      TPixelFormat pf = pf24bit;
      if (Sink ? !VXTW_PageFormat(info, pf, why) : !VXTW_PrepareBitmap(info, sized, why)) {
        Fail(6, TWRC_FAILURE, "refused the image: " + why);
        Ended = true;
        break;
      }
      if (Sink) {
        TIOParamsVals local;
        TIOParamsVals& record = Params ? *Params : local;
        VXTW_InfoToParams(info, record);
        if (!Sink->Begin(info.ImageWidth, info.ImageLength, pf, record)) {
          Fail(6, TWRC_FAILURE, "the application refused the page");
          Ended = true;
          break;
        }
        TransferDone = TransferBands(info, pf, pr);
        if (!TransferDone && gLastFailure.Occurred() && gLastFailure.State == 7) Ended = true;
        EndTransfer(false);
        break;
      }
      // Single-page mode writes into the caller's bitmap only once a page is whole.
      const bool ok = TransferPage(sized, info.BitsPerPixel, info.ImageLength, pr);
      if (ok) {
        *target = std::move(sized);
        TransferDone = true;
        if (MultiPage) {
          TIOParamsVals* record = OnPage ? OnPage(*target) : nullptr;
          page.reset();
          if (record) VXTW_InfoToParams(info, *record);
        } else if (Params) {
          VXTW_InfoToParams(info, *Params);
        }
      } else if (gLastFailure.Occurred() && gLastFailure.State == 7) {
        Ended = true;  // a source that sent bad data gets no further page
      }
      EndTransfer(false);
      if (!MultiPage || pr.Aborted() || Ended) break;
    }
    EndTransfer(true);
  }

  // Step 6: offers events to the source until it is disabled or asks to close.
  void EventLoop(TProgressRec& pr) {
    TVXTWainHost& host = VXTW_Host();
    host.EnableWindow(Parent, false);
    while (State > 4 && !Ended) {
      host.ProcessEvents();
      TW_EVENT event{nullptr, MSG_NULL};
      if (Source(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT) {
        if (event.TWMessage == MSG_XFERREADY) {
          State = 6;
          Transfer(pr);
          if (!UI.ShowUI || Ended) Disable();
        } else if (event.TWMessage == MSG_CLOSEDSREQ) {
          Disable();
        }
      }
      if (pr.Aborted()) Ended = true;
    }
    host.EnableWindow(Parent, true);
  }

  int State = 1;
  void* Lib = nullptr;
  DSMENTRYPROC Entry = nullptr;
  void* Parent = nullptr;
  void* Proxy = nullptr;
  TW_UINT16 LastRC = 0;
  TW_IDENTITY App{};
  TW_IDENTITY Src{};
  TW_USERINTERFACE UI{};
  TW_PENDINGXFERS Pending{};
  TVXTWPageCallback OnPage;
  TVXTWBandSink* Sink = nullptr;
  bool MultiPage = false;
  bool TransferDone = false;
  bool Ended = false;
  bool Buffered = false;
  TBitmap* Bmp = nullptr;
  TIOParamsVals* Params = nullptr;
};

std::string SelectedName(TVXTWainParams& twain) { return twain.SourceName(twain.SelectedSource()); }

// One acquisition from state 1 back to 1; `target` says where the pages go.
bool RunAcquisition(void* parent, TVXTWainParams& twain, TProgressRec& progress,
                    const std::function<void(TConnection&)>& target) {
  const std::string name = SelectedName(twain);
  TVXTWSourceCaps& caps = twain.Capabilities();
  TConnection c(&twain);
  target(c);
  if (c.Load() && c.OpenManager(parent) && c.OpenSource(name)) {
    c.Negotiate(caps);
    if (c.Enable(twain.VisibleDialog)) c.EventLoop(progress);
  }
  c.CloseDown();
  return c.TransferDone;
}

}  // namespace

const TVXTWFailure& VXTW_LastFailure() { return gLastFailure; }

void VXTW_SetManagerPath(const std::string& path) { gManagerPath = path; }

std::vector<std::string> VXTW_ManagerCandidates() {
  if (!gManagerPath.empty()) return {gManagerPath};
  if (const char* env = std::getenv("VEXA_TWAIN_DSM"); env && *env) return {env};
  std::vector<std::string> list = {"libtwaindsm.so.2", "libtwaindsm.so"};
  // Ours: beside the module that holds this code, then where the build put it.
  Dl_info info;
  if (::dladdr(reinterpret_cast<void*>(&VXTW_ManagerCandidates), &info) && info.dli_fname) {
    std::string dir = info.dli_fname;
    dir = dir.substr(0, dir.rfind('/') + 1);
    list.push_back(dir + "libvexa-twaindsm.so");
  }
#ifdef VEXA_TWAINDSM_PATH
  list.push_back(VEXA_TWAINDSM_PATH);
#endif
  list.push_back("libvexa-twaindsm.so");
  return list;
}

bool VXTW_Acquire(void* parent, TBitmap* bmp, bool multiPage, const TVXTWPageCallback& onPage,
                  TVXTWainParams& twain, TIOParamsVals* params, TProgressRec& progress) {
  if (!multiPage && !bmp) return false;
  return RunAcquisition(parent, twain, progress, [&](TConnection& c) {
    c.Bmp = bmp;
    c.Params = params;
    c.MultiPage = multiPage;
    c.OnPage = onPage;
  });
}

bool VXTW_AcquireBands(void* parent, TVXTWBandSink& sink, TVXTWainParams& twain, TIOParamsVals* params,
                       TProgressRec& progress) {
  return RunAcquisition(parent, twain, progress, [&](TConnection& c) {
    c.Sink = &sink;
    c.Params = params;
  });
}

bool VXTW_SelectImageSource(void* parent, std::string& name) {
  TVXTWainHost& host = VXTW_Host();
  if (parent && !host.IsWindow(parent)) return false;
  TConnection c(nullptr);
  if (!c.Load() || !c.OpenManager(parent)) return false;
  TW_IDENTITY id{};
  const bool ok = c.Manager(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &id) == TWRC_SUCCESS;
  if (ok) name = Str32(id.ProductName);
  c.CloseDown();
  return ok;
}

void VXTW_GetSourceList(std::vector<TVXTWSourceIdentity>& list) {
  list.clear();
  TConnection c(nullptr);
  if (!c.Load() || !c.OpenManager(nullptr)) return;
  TW_IDENTITY id{};
  TW_UINT16 rc = c.Manager(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
  while (rc == TWRC_SUCCESS) {
    if (id.ProductName[0]) {
      TVXTWSourceIdentity rec;
      std::memcpy(rec.Bytes, &id, sizeof id);
      list.push_back(rec);
    }
    std::memset(&id, 0, sizeof id);
    rc = c.Manager(DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
  }
}

void VXTW_GetCapabilities(TVXTWainParams& twain, TVXTWSourceCaps& caps, bool negotiateFirst) {
  const std::string name = SelectedName(twain);
  TConnection c(&twain);
  if (!c.Load() || !c.OpenManager(nullptr) || !c.OpenSource(name)) return;
  if (negotiateFirst) c.Negotiate(caps);
  c.SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
  if (!c.ReadList(ICAP_XRESOLUTION, caps.XResolution, true)) caps.XResolution.Clear();
  if (!c.ReadList(ICAP_YRESOLUTION, caps.YResolution, true)) caps.YResolution.Clear();
  for (auto [capId, list] : {std::pair{ICAP_XSCALING, &caps.XScaling}, std::pair{ICAP_YSCALING, &caps.YScaling}})
    if (!c.ReadList(capId, *list, true)) {
      list->Clear();
      list->Add(1.0);
      list->SetCurrentValue(1.0);
    }
  if (!c.ReadList(ICAP_PIXELTYPE, caps.PixelType, false)) caps.PixelType.Clear();
  TCapValues v;
  caps.Gamma = c.GetCap(ICAP_GAMMA, v) ? v.Current : 2.2;
  caps.PhysicalHeight = c.GetCap(ICAP_PHYSICALHEIGHT, v) ? v.Current : 0;
  caps.PhysicalWidth = c.GetCap(ICAP_PHYSICALWIDTH, v) ? v.Current : 0;
  caps.FeederEnabled = c.GetCap(CAP_FEEDERENABLED, v) ? v.Current != 0 : false;
  if (!c.ReadList(ICAP_ORIENTATION, caps.Orientation, false)) {
    caps.Orientation.Clear();
    caps.Orientation.Add(0);
    caps.Orientation.SetCurrentValue(0);
  }
  caps.Indicators = c.GetCap(CAP_INDICATORS, v) ? v.Current != 0 : true;
  TW_IMAGELAYOUT layout{};
  if (c.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout) == TWRC_SUCCESS) {
    caps.AcquireFrame[0] = FromFix32(layout.Frame.Left);
    caps.AcquireFrame[1] = FromFix32(layout.Frame.Top);
    caps.AcquireFrame[2] = FromFix32(layout.Frame.Right);
    caps.AcquireFrame[3] = FromFix32(layout.Frame.Bottom);
  }
  if (!negotiateFirst)
    for (TVXList* list : {static_cast<TVXList*>(&caps.XResolution), static_cast<TVXList*>(&caps.YResolution),
                          static_cast<TVXList*>(&caps.XScaling), static_cast<TVXList*>(&caps.YScaling),
                          static_cast<TVXList*>(&caps.PixelType), static_cast<TVXList*>(&caps.Orientation)})
      list->Changed = 0;
  c.CloseDown();
}

namespace {

class TTwainScanService : public TVXScanService {
 public:
  bool Acquire(TComponent* owner, TBitmap& bmp, TVXTWainParams& twain, TIOParamsVals& params,
               TProgressRec& progress) override {
    return VXTW_Acquire(VXTW_Host().WindowOf(owner), &bmp, false, nullptr, twain, &params, progress);
  }
  bool AcquirePages(TComponent* owner, const std::function<TIOParamsVals*(TBitmap& page)>& page,
                    TVXTWainParams& twain, TProgressRec& progress) override {
    return VXTW_Acquire(VXTW_Host().WindowOf(owner), nullptr, true, page, twain, nullptr, progress);
  }
  bool SelectSource(TComponent* owner, std::string& name) override {
    return VXTW_SelectImageSource(VXTW_Host().WindowOf(owner), name);
  }
  void RestoreFocus(TComponent* owner) override {
    if (void* w = VXTW_Host().WindowOf(owner)) VXTW_Host().SetFocus(w);
  }
};

TTwainScanService gService;

void FillSourceList(TVXTWainParams& self) { VXTW_GetSourceList(self.Sources); }
void FillCapabilities(TVXTWainParams& self, int) { VXTW_GetCapabilities(self, self.Capabilities(), false); }
void WriteCapabilities(TVXTWainParams& self, int) { VXTW_GetCapabilities(self, self.Capabilities(), true); }

const bool gInstalled = (VXTW_Install(), true);

}  // namespace

void VXTW_Install() {
  (void)gInstalled;
  VXSetScanService(&gService);
  TVXTWainParams::FillSourceListHook = FillSourceList;
  TVXTWainParams::FillCapabilitiesHook = FillCapabilities;
  TVXTWainParams::WriteCapabilitiesHook = WriteCapabilities;
}

}  // namespace vexa
