#include "sanesource.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vexadsm {

namespace {

constexpr double kMmPerInch = 25.4;

bool gSaneUp = false;

bool ContainsNoCase(const std::string& text, const char* word) {
  std::string t = text, w = word;
  for (auto* s : {&t, &w})
    for (char& ch : *s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return t.find(w) != std::string::npos;
}

// Value of a capability the application sends, whatever container it chose:
// the one value, the enumeration's current item, or the range's current value.
bool SentValue(const TW_CAPABILITY& cap, double& value) {
  const auto* base = static_cast<const uint8_t*>(cap.hContainer);
  if (!base) return false;
  auto item = [](TW_UINT16 type, const uint8_t* p) -> double {
    return ItemSize(type) == 0 || ItemSize(type) > 4 ? std::nan("") : ReadItem(type, p);
  };
  if (cap.ConType == TWON_ONEVALUE) {
    TW_ONEVALUE one;
    std::memcpy(&one, base, sizeof one);
    value = item(one.ItemType, base + 2);
  } else if (cap.ConType == TWON_ENUMERATION) {
    TW_ENUMERATION e;
    std::memcpy(&e, base, sizeof e);
    const int size = ItemSize(e.ItemType);
    if (size == 0 || e.CurrentIndex >= e.NumItems) return false;
    value = item(e.ItemType, base + sizeof e + static_cast<size_t>(e.CurrentIndex) * size);
  } else if (cap.ConType == TWON_RANGE) {
    TW_RANGE r;
    std::memcpy(&r, base, sizeof r);
    value = item(r.ItemType, reinterpret_cast<const uint8_t*>(&r.CurrentValue));
  } else {
    return false;
  }
  return !std::isnan(value);
}

TW_HANDLE OneValue(TW_UINT16 type, double v) {
  auto* one = static_cast<TW_ONEVALUE*>(std::calloc(1, sizeof(TW_ONEVALUE)));
  one->ItemType = type;
  PutItem(reinterpret_cast<uint8_t*>(&one->Item), type, v);
  return one;
}

TW_HANDLE Enumeration(TW_UINT16 type, const std::vector<double>& items, size_t current) {
  const size_t size = static_cast<size_t>(ItemSize(type));
  auto* bytes = static_cast<uint8_t*>(std::calloc(1, sizeof(TW_ENUMERATION) + size * items.size()));
  TW_ENUMERATION e{type, static_cast<TW_UINT32>(items.size()), static_cast<TW_UINT32>(current),
                   static_cast<TW_UINT32>(current)};
  std::memcpy(bytes, &e, sizeof e);
  for (size_t i = 0; i < items.size(); ++i) PutItem(bytes + sizeof e + i * size, type, items[i]);
  return bytes;
}

TW_HANDLE Range(double min, double max, double step, double current) {
  auto* r = static_cast<TW_RANGE*>(std::calloc(1, sizeof(TW_RANGE)));
  r->ItemType = TWTY_FIX32;
  auto put = [&](uint8_t* f, double v) { PutItem(f, TWTY_FIX32, v); };
  put(reinterpret_cast<uint8_t*>(&r->MinValue), min);
  put(reinterpret_cast<uint8_t*>(&r->MaxValue), max);
  put(reinterpret_cast<uint8_t*>(&r->StepSize), step);
  put(reinterpret_cast<uint8_t*>(&r->DefaultValue), current);
  put(reinterpret_cast<uint8_t*>(&r->CurrentValue), current);
  return r;
}

class TSaneSource : public TDataSource {
 public:
  explicit TSaneSource(const SANE_Device& dev) : FDeviceName(dev.name) {
    CopyStr32(Identity.ProductName, dev.name);
    CopyStr32(Identity.Manufacturer, dev.vendor ? dev.vendor : "");
    CopyStr32(Identity.ProductFamily, dev.model ? dev.model : "");
    CopyStr32(Identity.Version.Info, "SANE");
    Identity.Version.MajorNum = 1;
    Identity.Version.Language = TWLG_USA;
    Identity.Version.Country = TWCY_USA;
    Identity.ProtocolMajor = 1;
    Identity.ProtocolMinor = 9;
    Identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
  }
  ~TSaneSource() override { Close(); }

  TW_UINT16 Entry(TW_IDENTITY*, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) override {
    if (dg == DG_CONTROL && dat == DAT_STATUS) {
      static_cast<TW_STATUS*>(data)->ConditionCode = FCondition;
      FCondition = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    }
    if (!data && dat != DAT_NULL) return Fail(TWCC_BADVALUE);
    if (dg == DG_CONTROL) {
      switch (dat) {
        case DAT_IDENTITY:
          if (msg == MSG_OPENDS) return Open();
          if (msg == MSG_CLOSEDS) return Close();
          if (msg == MSG_GET) {
            *static_cast<TW_IDENTITY*>(data) = Identity;
            return TWRC_SUCCESS;
          }
          break;
        case DAT_CAPABILITY: return Capability(msg, *static_cast<TW_CAPABILITY*>(data));
        case DAT_USERINTERFACE:
          if (msg == MSG_ENABLEDS) return Enable(*static_cast<TW_USERINTERFACE*>(data));
          if (msg == MSG_DISABLEDS) return Disable();
          break;
        case DAT_EVENT: return Event(*static_cast<TW_EVENT*>(data));
        case DAT_PENDINGXFERS: return Pending(msg, *static_cast<TW_PENDINGXFERS*>(data));
        case DAT_SETUPMEMXFER: {
          if (FState < 6) return Fail(TWCC_SEQERROR);
          auto* s = static_cast<TW_SETUPMEMXFER*>(data);
          const TW_UINT32 row = std::max<TW_UINT32>(1, FRowBytes);
          s->MinBufSize = row;
          s->MaxBufSize = row * std::max(1, FHeight);
          s->Preferred = row * std::clamp<TW_UINT32>((256u << 10) / row, 1, static_cast<TW_UINT32>(std::max(1, FHeight)));
          return TWRC_SUCCESS;
        }
        default: break;
      }
    } else if (dg == DG_IMAGE) {
      switch (dat) {
        case DAT_IMAGEINFO: return ImageInfo(*static_cast<TW_IMAGEINFO*>(data));
        case DAT_IMAGELAYOUT: return Layout(msg, *static_cast<TW_IMAGELAYOUT*>(data));
        case DAT_IMAGEMEMXFER: return MemXfer(*static_cast<TW_IMAGEMEMXFER*>(data));
        case DAT_IMAGENATIVEXFER: return NativeXfer(*static_cast<TW_HANDLE*>(data));
        default: break;
      }
    }
    return Fail(TWCC_BADPROTOCOL);
  }

 private:
  TW_UINT16 Fail(TW_UINT16 cc) {
    FCondition = cc;
    return TWRC_FAILURE;
  }

  // --- options ---

  int Find(const char* name) const {
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(FHandle, i);
      if (!d) return -1;
      if (d->name && std::strcmp(d->name, name) == 0) return SANE_OPTION_IS_ACTIVE(d->cap) ? i : -1;
    }
  }
  const SANE_Option_Descriptor* Desc(int i) const { return i < 0 ? nullptr : sane_get_option_descriptor(FHandle, i); }

  double GetNumber(int i) const {
    const SANE_Option_Descriptor* d = Desc(i);
    if (!d || d->size < static_cast<SANE_Int>(sizeof(SANE_Word))) return 0;
    SANE_Word w = 0;
    if (sane_control_option(FHandle, i, SANE_ACTION_GET_VALUE, &w, nullptr) != SANE_STATUS_GOOD) return 0;
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : w;
  }
  bool SetNumber(int i, double v) {
    const SANE_Option_Descriptor* d = Desc(i);
    if (!d) return false;
    SANE_Word w = d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
    return sane_control_option(FHandle, i, SANE_ACTION_SET_VALUE, &w, nullptr) == SANE_STATUS_GOOD;
  }
  bool SetString(int i, const std::string& s) {
    const SANE_Option_Descriptor* d = Desc(i);
    if (!d || d->type != SANE_TYPE_STRING) return false;
    std::vector<char> buf(static_cast<size_t>(std::max<SANE_Int>(d->size, static_cast<SANE_Int>(s.size() + 1))), 0);
    std::memcpy(buf.data(), s.data(), s.size());
    return sane_control_option(FHandle, i, SANE_ACTION_SET_VALUE, buf.data(), nullptr) == SANE_STATUS_GOOD;
  }
  std::vector<std::string> Strings(int i) const {
    std::vector<std::string> out;
    const SANE_Option_Descriptor* d = Desc(i);
    if (d && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
      for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s) out.emplace_back(*s);
    return out;
  }
  // The option's range in its own unit (min, max, step); false without a range.
  bool NumberRange(int i, double& min, double& max, double& step) const {
    const SANE_Option_Descriptor* d = Desc(i);
    if (!d || d->constraint_type != SANE_CONSTRAINT_RANGE) return false;
    auto conv = [&](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : static_cast<double>(w); };
    min = conv(d->constraint.range->min);
    max = conv(d->constraint.range->max);
    step = conv(d->constraint.range->quant);
    return true;
  }
  std::vector<double> NumberList(int i) const {
    std::vector<double> out;
    const SANE_Option_Descriptor* d = Desc(i);
    if (d && d->constraint_type == SANE_CONSTRAINT_WORD_LIST)
      for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k)
        out.push_back(d->type == SANE_TYPE_FIXED ? SANE_UNFIX(d->constraint.word_list[k]) : d->constraint.word_list[k]);
    return out;
  }
  // A geometry option in inches (millimetres or pixels at the current resolution).
  double ToInches(int i, double v) const {
    const SANE_Option_Descriptor* d = Desc(i);
    if (d && d->unit == SANE_UNIT_PIXEL) return FResX > 0 ? v / FResX : 0;
    return v / kMmPerInch;
  }
  double FromInches(int i, double inches) const {
    const SANE_Option_Descriptor* d = Desc(i);
    if (d && d->unit == SANE_UNIT_PIXEL) return inches * FResX;
    return inches * kMmPerInch;
  }

  // What the device's options allow, read once when the source opens.
  void ReadCapabilities() {
    FModes = Strings(Find(SANE_NAME_SCAN_MODE));
    FPixelTypes.clear();
    auto has = [&](const char* word) {
      for (const std::string& m : FModes)
        if (ContainsNoCase(m, word)) return true;
      return false;
    };
    const bool depthOne = [&] {
      const SANE_Option_Descriptor* d = Desc(Find(SANE_NAME_BIT_DEPTH));
      if (!d || d->constraint_type != SANE_CONSTRAINT_WORD_LIST) return false;
      for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k)
        if (d->constraint.word_list[k] == 1) return true;
      return false;
    }();
    if (has("lineart") || has("binary") || (has("gray") && depthOne)) FPixelTypes.push_back(TWPT_BW);
    if (has("gray") || has("grey") || FModes.empty()) FPixelTypes.push_back(TWPT_GRAY);
    if (has("color") || has("colour")) FPixelTypes.push_back(TWPT_RGB);
    if (FPixelTypes.empty()) FPixelTypes.push_back(TWPT_GRAY);
    FPixelType = FPixelTypes.back();
    for (int pt : FPixelTypes)
      if (pt == TWPT_RGB) FPixelType = TWPT_RGB;
    FResX = FResY = GetNumber(Find(SANE_NAME_SCAN_RESOLUTION));
    if (FResX <= 0) FResX = FResY = 75;
    FFeederEntry.clear();
    FFlatbedEntry.clear();
    for (const std::string& s : Strings(Find(SANE_NAME_SCAN_SOURCE))) {
      if (ContainsNoCase(s, "adf") || ContainsNoCase(s, "feeder") || ContainsNoCase(s, "automatic")) {
        if (FFeederEntry.empty()) FFeederEntry = s;
      } else if (FFlatbedEntry.empty()) {
        FFlatbedEntry = s;
      }
    }
    // The device's own area until the application sets one; the physical size
    // is as far as the bottom-right corner can go.
    double min, max, step;
    const char* names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
    for (int k = 0; k < 4; ++k) {
      const int i = Find(names[k]);
      FArea[k] = i >= 0 ? ToInches(i, GetNumber(i)) : 0;
      if (k >= 2) FPhysical[k - 2] = NumberRange(i, min, max, step) ? ToInches(i, max) : FArea[k];
    }
  }

  // --- state changes ---

  TW_UINT16 Open() {
    if (FHandle) return Fail(TWCC_MAXCONNECTIONS);
    if (sane_open(FDeviceName.c_str(), &FHandle) != SANE_STATUS_GOOD) {
      FHandle = nullptr;
      return Fail(TWCC_OPERATIONERROR);
    }
    ReadCapabilities();
    FState = 4;
    return TWRC_SUCCESS;
  }

  TW_UINT16 Close() {
    if (!FHandle) return TWRC_SUCCESS;
    sane_cancel(FHandle);
    sane_close(FHandle);
    FHandle = nullptr;
    FState = 3;
    return TWRC_SUCCESS;
  }

  // Puts the negotiated values into the device's options.
  void ApplyOptions() {
    const int mode = Find(SANE_NAME_SCAN_MODE);
    const int depth = Find(SANE_NAME_BIT_DEPTH);
    auto pick = [&](std::initializer_list<const char*> words) {
      for (const char* w : words)
        for (const std::string& m : FModes)
          if (ContainsNoCase(m, w)) return m;
      return std::string();
    };
    if (FPixelType == TWPT_RGB) {
      SetString(mode, pick({"color", "colour"}));
      SetNumber(Find(SANE_NAME_BIT_DEPTH), 8);
    } else if (FPixelType == TWPT_GRAY) {
      SetString(mode, pick({"gray", "grey"}));
      SetNumber(Find(SANE_NAME_BIT_DEPTH), 8);
    } else {
      const std::string lineart = pick({"lineart", "binary"});
      if (!lineart.empty()) {
        SetString(mode, lineart);
      } else {
        SetString(mode, pick({"gray", "grey"}));
        SetNumber(Find(SANE_NAME_BIT_DEPTH), 1);
      }
    }
    (void)depth;
    if (int x = Find(SANE_NAME_SCAN_X_RESOLUTION); x >= 0) {
      SetNumber(x, FResX);
      SetNumber(Find(SANE_NAME_SCAN_Y_RESOLUTION), FResY);
    } else {
      SetNumber(Find(SANE_NAME_SCAN_RESOLUTION), FResX);
    }
    const int source = Find(SANE_NAME_SCAN_SOURCE);
    if (source >= 0) SetString(source, FFeeder ? FFeederEntry : FFlatbedEntry);
    const char* names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
    // Bottom-right first so that a top-left past the old corner is accepted.
    for (int k : {2, 3, 0, 1}) {
      const int i = Find(names[k]);
      if (i >= 0) SetNumber(i, FromInches(i, FArea[k]));
    }
  }

  TW_UINT16 Enable(const TW_USERINTERFACE& ui) {
    if (FState != 4) return Fail(TWCC_SEQERROR);
    ApplyOptions();
    FState = 5;
    FPagesDone = 0;
    if (ui.ShowUI && !ShowSettings(ui.hParent)) {
      FEvent = MSG_CLOSEDSREQ;  // the user closed our window without scanning
      return TWRC_SUCCESS;
    }
    FEvent = StartPage() ? MSG_XFERREADY : MSG_CLOSEDSREQ;
    return TWRC_SUCCESS;
  }

  // The device's own settings in the application's dialog, over what was
  // negotiated: numbers with a range, lists of words or numbers, switches and
  // buttons (pressed, in order, once the other values are set). True when the
  // user asks to scan. Without a dialog the source scans at once.
  bool ShowSettings(void* parent) {
    const VexaDSMUI* ui = UI();
    if (!ui || ui->Size < sizeof(VexaDSMUI) || !ui->Settings) return true;
    struct TShown {
      int Index;
      std::vector<std::string> Text;  // the choices
      std::vector<double> Numbers;    // a word list's values behind its choices
      std::vector<const char*> Ptr;
    };
    std::vector<VexaDSMOption> options;
    std::vector<TShown> shown;
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(FHandle, i);
      if (!d) break;
      if (!d->name || !d->name[0] || !SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap)) continue;
      VexaDSMOption o{};
      o.Name = d->name;
      o.Title = d->title && d->title[0] ? d->title : d->name;
      TShown sh{i, {}, {}, {}};
      const bool word = d->size == static_cast<SANE_Int>(sizeof(SANE_Word));
      const bool number = (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED) && word;
      double min, max, step;
      if (number && NumberRange(i, min, max, step)) {
        o.Kind = VexaDSMNumber, o.Min = min, o.Max = max, o.Step = step, o.Value = GetNumber(i);
      } else if (number && d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        sh.Numbers = NumberList(i);
        const double current = GetNumber(i);
        o.Kind = VexaDSMChoice;
        for (size_t k = 0; k < sh.Numbers.size(); ++k) {
          char text[32];
          std::snprintf(text, sizeof text, "%g", sh.Numbers[k]);
          sh.Text.emplace_back(text);
          if (sh.Numbers[k] == current) o.Current = static_cast<int>(k);
        }
      } else if (d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
        std::vector<char> buf(static_cast<size_t>(std::max<SANE_Int>(d->size, 1)) + 1, 0);
        sane_control_option(FHandle, i, SANE_ACTION_GET_VALUE, buf.data(), nullptr);
        sh.Text = Strings(i);
        o.Kind = VexaDSMChoice;
        for (size_t k = 0; k < sh.Text.size(); ++k)
          if (sh.Text[k] == buf.data()) o.Current = static_cast<int>(k);
      } else if (d->type == SANE_TYPE_BOOL && word) {
        o.Kind = VexaDSMSwitch, o.Value = GetNumber(i) != 0 ? 1 : 0;
      } else if (d->type == SANE_TYPE_BUTTON) {
        o.Kind = VexaDSMButton;
      } else {
        continue;
      }
      options.push_back(o);
      shown.push_back(std::move(sh));
    }
    // Pointers into the choice strings, now that they no longer move.
    for (size_t k = 0; k < options.size(); ++k) {
      if (options[k].Kind != VexaDSMChoice) continue;
      for (const std::string& t : shown[k].Text) shown[k].Ptr.push_back(t.c_str());
      options[k].Choices = shown[k].Ptr.data();
      options[k].ChoiceCount = static_cast<int>(shown[k].Ptr.size());
    }
    const std::vector<VexaDSMOption> before = options;
    if (!ui->Settings(ui->Context, parent, Identity.ProductName, options.data(), static_cast<int>(options.size())))
      return false;
    for (size_t k = 0; k < options.size(); ++k) {
      const VexaDSMOption& o = options[k];
      const int i = shown[k].Index;
      if ((o.Kind == VexaDSMNumber || o.Kind == VexaDSMSwitch) && o.Value != before[k].Value) SetNumber(i, o.Value);
      if (o.Kind == VexaDSMChoice && o.Current != before[k].Current && o.Current >= 0 && o.Current < o.ChoiceCount) {
        if (shown[k].Numbers.empty())
          SetString(i, shown[k].Text[static_cast<size_t>(o.Current)]);
        else
          SetNumber(i, shown[k].Numbers[static_cast<size_t>(o.Current)]);
      }
    }
    for (size_t k = 0; k < options.size(); ++k)
      for (int n = 0; options[k].Kind == VexaDSMButton && n < std::min(static_cast<int>(options[k].Value), 16); ++n)
        sane_control_option(FHandle, shown[k].Index, SANE_ACTION_SET_VALUE, nullptr, nullptr);
    // What the page will say about itself follows what the user chose.
    if (const int r = Find(SANE_NAME_SCAN_RESOLUTION); r >= 0) FResX = FResY = GetNumber(r);
    if (const int r = Find(SANE_NAME_SCAN_X_RESOLUTION); r >= 0) FResX = GetNumber(r);
    if (const int r = Find(SANE_NAME_SCAN_Y_RESOLUTION); r >= 0) FResY = GetNumber(r);
    return true;
  }

  TW_UINT16 Disable() {
    if (FState < 5) return Fail(TWCC_SEQERROR);
    if (FHandle) sane_cancel(FHandle);
    CloseProgress();
    FPage.clear();
    FEvent = MSG_NULL;
    FState = 4;
    return TWRC_SUCCESS;
  }

  TW_UINT16 Event(TW_EVENT& ev) {
    if (FState < 5 || FEvent == MSG_NULL) return TWRC_NOTDSEVENT;
    ev.TWMessage = FEvent;
    if (FEvent == MSG_XFERREADY) FState = 6;
    FEvent = MSG_NULL;
    return TWRC_DSEVENT;
  }

  TW_UINT16 Pending(TW_UINT16 msg, TW_PENDINGXFERS& p) {
    p.Reserved = 0;
    if (msg == MSG_GET) {
      p.Count = FState >= 6 ? 0xffff : 0;
      return TWRC_SUCCESS;
    }
    if (msg == MSG_ENDXFER && FState >= 6) {
      CloseProgress();
      ++FPagesDone;
      const bool more = FFeeder && (FXferCount < 0 || FPagesDone < FXferCount) && StartPage();
      FState = more ? 6 : 5;
      p.Count = more ? 0xffff : 0;
      if (!more) {
        sane_cancel(FHandle);
        FEvent = MSG_CLOSEDSREQ;  // nothing left to show the user
      }
      return TWRC_SUCCESS;
    }
    if (msg == MSG_RESET && FState >= 6) {
      sane_cancel(FHandle);
      CloseProgress();
      FPage.clear();
      FState = 5;
      p.Count = 0;
      FEvent = MSG_CLOSEDSREQ;
      return TWRC_SUCCESS;
    }
    return Fail(TWCC_SEQERROR);
  }

  // Reads the next page from the device, converted to the transfer layout.
  // False when the device has none (empty feeder) or fails.
  bool StartPage() {
    FPage.clear();
    FCancelled = false;
    FStreaming = false;
    FOffset = 0;
    SANE_Status st = sane_start(FHandle);
    if (st != SANE_STATUS_GOOD) {
      FCondition = st == SANE_STATUS_NO_DOCS ? TWCC_SUCCESS : TWCC_OPERATIONERROR;
      return false;
    }
    SANE_Parameters par{};
    if (sane_get_parameters(FHandle, &par) != SANE_STATUS_GOOD) {
      FCondition = TWCC_OPERATIONERROR;
      return false;
    }
    if (CanStream(par)) return true;
    const VexaDSMUI* ui = FIndicators ? UI() : nullptr;
    void* progress = ui && ui->ProgressOpen ? ui->ProgressOpen(ui->Context, Identity.ProductName) : nullptr;
    std::vector<uint8_t> raw[3];
    int bpl = 0, lines = 0;
    bool ok = true;
    for (bool first = true;; first = false) {
      if (!first && sane_get_parameters(FHandle, &par) != SANE_STATUS_GOOD) {
        ok = false;
        break;
      }
      const int plane = par.format == SANE_FRAME_RED ? 0 : par.format == SANE_FRAME_GREEN ? 1
                        : par.format == SANE_FRAME_BLUE ? 2 : 0;
      std::vector<uint8_t>& buf = raw[plane];
      const size_t expected = par.lines > 0 ? static_cast<size_t>(par.bytes_per_line) * par.lines : 0;
      // SANE writes straight into the page buffer: no staging copy.
      constexpr size_t kChunk = 256 << 10;
      buf.resize(std::max(expected, kChunk));
      size_t filled = 0;
      int idleReads = 0;
      for (;;) {
        if (buf.size() - filled < kChunk / 4) buf.resize(buf.size() + kChunk);
        SANE_Int n = 0;
        st = sane_read(FHandle, buf.data() + filled,
                       static_cast<SANE_Int>(std::min(buf.size() - filled, size_t{1} << 30)), &n);
        if (st == SANE_STATUS_EOF) break;
        if (st != SANE_STATUS_GOOD) {
          ok = false;
          break;
        }
        filled += static_cast<size_t>(n);
        // A backend that keeps answering "good" with nothing must not hold us for ever.
        if (n == 0 && ++idleReads > 100000) {
          ok = false;
          break;
        }
        if (n > 0) idleReads = 0;
        if (progress && expected &&
            !ui->ProgressStep(ui->Context, progress, static_cast<int>(filled * 100 / expected))) {
          FCancelled = true;
          ok = false;
          break;
        }
      }
      buf.resize(filled);
      bpl = par.bytes_per_line;
      lines = bpl > 0 ? static_cast<int>(buf.size() / static_cast<size_t>(bpl)) : 0;
      if (!ok || par.last_frame) break;
      if (st == SANE_STATUS_EOF && sane_start(FHandle) != SANE_STATUS_GOOD) {
        ok = false;
        break;
      }
    }
    if (progress) ui->ProgressClose(ui->Context, progress);
    if (FCancelled) {
      sane_cancel(FHandle);
      FWidth = std::max(1, par.pixels_per_line);
      FHeight = 1;
      FBpp = 8;
      FRowBytes = static_cast<TW_UINT32>(FWidth);
      return true;  // the transfer reports the cancel
    }
    if (!ok || bpl <= 0 || lines <= 0 || par.pixels_per_line <= 0) {
      FCondition = TWCC_OPERATIONERROR;
      return false;
    }
    FWidth = par.pixels_per_line;
    FHeight = lines;
    const bool threePass = par.format == SANE_FRAME_RED || par.format == SANE_FRAME_GREEN ||
                           par.format == SANE_FRAME_BLUE;
    const bool colour = par.format == SANE_FRAME_RGB || threePass;
    FBpp = colour ? 24 : par.depth == 1 ? 1 : 8;
    FRowBytes = static_cast<TW_UINT32>((static_cast<int64_t>(FWidth) * FBpp + 7) / 8);
    const int samples = par.format == SANE_FRAME_RGB ? 3 : 1;  // in each row of a frame
    // A backend's rows must hold the samples its width announces: nothing is read
    // past a row, whatever the parameters say.
    if ((par.depth != 1 && par.depth != 8 && par.depth != 16) ||
        int64_t{bpl} * 8 < int64_t{FWidth} * samples * par.depth) {
      FCondition = TWCC_OPERATIONERROR;
      return false;
    }
    // Chunky 8-bit rows without padding are already the transfer layout.
    if (!threePass && FBpp != 1 && par.depth == 8 && static_cast<TW_UINT32>(bpl) == FRowBytes) {
      raw[0].resize(static_cast<size_t>(FRowBytes) * FHeight);
      FPage = std::move(raw[0]);
      return true;
    }
    FPage.assign(static_cast<size_t>(FRowBytes) * FHeight, 0);
    // Sample i of a row as 8 bits: 16-bit samples are in the machine's byte order
    // and keep their high byte; 1-bit colour samples are off or full.
    const int depth = par.depth;
    auto sample = [depth](const uint8_t* row, int64_t i) -> uint8_t {
      if (depth == 8) return row[i];
      if (depth == 1) return (row[i >> 3] >> (7 - (i & 7))) & 1 ? 255 : 0;
      uint16_t v;
      std::memcpy(&v, row + 2 * i, 2);
      return static_cast<uint8_t>(v >> 8);
    };
    for (int y = 0; y < FHeight; ++y) {
      uint8_t* dst = FPage.data() + static_cast<size_t>(y) * FRowBytes;
      if (threePass) {
        for (int c = 0; c < 3; ++c) {
          if (raw[c].size() < static_cast<size_t>(bpl) * (y + 1)) continue;
          const uint8_t* src = raw[c].data() + static_cast<size_t>(y) * bpl;
          for (int x = 0; x < FWidth; ++x) dst[x * 3 + c] = sample(src, x);
        }
        continue;
      }
      const uint8_t* src = raw[0].data() + static_cast<size_t>(y) * bpl;
      if (FBpp == 1) {
        // SANE line-art marks black with 1; the transfer's 0 is black.
        for (TW_UINT32 k = 0; k < FRowBytes; ++k) dst[k] = static_cast<uint8_t>(~src[k]);
      } else {
        for (int64_t i = 0; i < int64_t{FWidth} * samples; ++i) dst[i] = sample(src, i);
      }
    }
    return true;
  }

  TW_UINT16 ImageInfo(TW_IMAGEINFO& info) {
    if (FState < 6) return Fail(TWCC_SEQERROR);
    std::memset(&info, 0, sizeof info);
    info.XResolution = ToFix32(FResX);
    info.YResolution = ToFix32(FResY);
    info.ImageWidth = FWidth;
    info.ImageLength = FHeight;
    info.SamplesPerPixel = FBpp == 24 ? 3 : 1;
    for (int k = 0; k < info.SamplesPerPixel; ++k) info.BitsPerSample[k] = static_cast<TW_INT16>(FBpp == 1 ? 1 : 8);
    info.BitsPerPixel = static_cast<TW_INT16>(FBpp);
    info.Planar = 0;
    info.PixelType = static_cast<TW_INT16>(FBpp == 24 ? TWPT_RGB : FBpp == 8 ? TWPT_GRAY : TWPT_BW);
    info.Compression = TWCP_NONE;
    return TWRC_SUCCESS;
  }

  // A single-pass page of 8-bit samples or line art whose length the device
  // announces goes to the application as it arrives: SANE reads straight into the
  // transfer blocks, with no copy of the page in between. Everything else (three
  // passes, 16 bits, unknown length, native transfer) is read whole first.
  bool CanStream(const SANE_Parameters& par) {
    if (FMech != TWSX_MEMORY || !par.last_frame || par.lines <= 0 || par.pixels_per_line <= 0) return false;
    const bool colour = par.format == SANE_FRAME_RGB;
    if (!colour && par.format != SANE_FRAME_GRAY) return false;
    if (par.depth != 8 && !(par.depth == 1 && !colour)) return false;
    const int bpp = colour ? 24 : par.depth;
    const TW_UINT32 rowBytes = static_cast<TW_UINT32>((static_cast<int64_t>(par.pixels_per_line) * bpp + 7) / 8);
    if (static_cast<TW_UINT32>(par.bytes_per_line) != rowBytes) return false;
    FStreaming = true;
    FWidth = par.pixels_per_line;
    FHeight = par.lines;
    FBpp = bpp;
    FRowBytes = rowBytes;
    return true;
  }

  void CloseProgress() {
    if (FProgress) UI()->ProgressClose(UI()->Context, FProgress);
    FProgress = nullptr;
  }

  // The next rows of a streamed page, read from the device into the block.
  TW_UINT16 StreamRows(TW_IMAGEMEMXFER& x, int rows) {
    const VexaDSMUI* ui = FIndicators ? UI() : nullptr;
    if (FOffset == 0 && ui && ui->ProgressOpen) FProgress = ui->ProgressOpen(ui->Context, Identity.ProductName);
    auto* mem = static_cast<uint8_t*>(x.Memory.TheMem);
    const size_t want = static_cast<size_t>(rows) * FRowBytes;
    size_t filled = 0;
    int idleReads = 0;
    SANE_Status st = SANE_STATUS_GOOD;
    while (filled < want) {
      SANE_Int n = 0;
      st = sane_read(FHandle, mem + filled, static_cast<SANE_Int>(std::min(want - filled, size_t{1} << 30)), &n);
      if (st != SANE_STATUS_GOOD) break;
      filled += static_cast<size_t>(n);
      // A backend that keeps answering "good" with nothing must not hold us for ever.
      if (n > 0)
        idleReads = 0;
      else if (++idleReads > 100000)
        break;
    }
    if (filled < want) {
      // The device ended the page before the length it announced, or failed.
      CloseProgress();
      sane_cancel(FHandle);
      return Fail(TWCC_OPERATIONERROR);
    }
    if (FBpp == 1)  // SANE line-art marks black with 1; the transfer's 0 is black.
      for (size_t k = 0; k < want; ++k) mem[k] = static_cast<uint8_t>(~mem[k]);
    const int done = FOffset + rows;
    if (FProgress && !ui->ProgressStep(ui->Context, FProgress, static_cast<int>(int64_t{done} * 100 / FHeight))) {
      CloseProgress();
      sane_cancel(FHandle);
      FCancelled = true;
      return TWRC_CANCEL;
    }
    if (done >= FHeight) {
      CloseProgress();
      // The backend expects the end of the frame to be read before the next start.
      uint8_t tail[256];
      SANE_Int n = 0;
      for (int k = 0; k < 64 && sane_read(FHandle, tail, sizeof tail, &n) == SANE_STATUS_GOOD; ++k) {
      }
    }
    return TWRC_SUCCESS;
  }

  TW_UINT16 MemXfer(TW_IMAGEMEMXFER& x) {
    if (FState < 6) return Fail(TWCC_SEQERROR);
    if (FCancelled) {
      FState = 7;
      return TWRC_CANCEL;
    }
    if (!x.Memory.TheMem || x.Memory.Length < FRowBytes) return Fail(TWCC_BADVALUE);
    FState = 7;
    const int rows = std::min<int>(FHeight - FOffset, static_cast<int>(x.Memory.Length / FRowBytes));
    if (FStreaming) {
      if (const TW_UINT16 rc = StreamRows(x, rows); rc != TWRC_SUCCESS) return rc;
    } else {
      std::memcpy(x.Memory.TheMem, FPage.data() + static_cast<size_t>(FOffset) * FRowBytes,
                  static_cast<size_t>(rows) * FRowBytes);
    }
    x.Compression = TWCP_NONE;
    x.BytesPerRow = FRowBytes;
    x.Columns = static_cast<TW_UINT32>(FWidth);
    x.Rows = static_cast<TW_UINT32>(rows);
    x.XOffset = 0;
    x.YOffset = static_cast<TW_UINT32>(FOffset);
    x.BytesWritten = static_cast<TW_UINT32>(rows) * FRowBytes;
    FOffset += rows;
    return FOffset >= FHeight ? TWRC_XFERDONE : TWRC_SUCCESS;
  }

  // A packed DIB: header, grey or black-and-white palette, rows bottom-up.
  TW_UINT16 NativeXfer(TW_HANDLE& handle) {
    if (FState != 6) return Fail(TWCC_SEQERROR);
    FState = 7;
    if (FCancelled) return TWRC_CANCEL;
    const uint32_t colours = FBpp == 24 ? 0 : (1u << FBpp);
    const size_t rowLen = ((static_cast<size_t>(FWidth) * FBpp + 31) / 32) * 4;
    const size_t size = 40 + 4 * colours + rowLen * FHeight;
    auto* dib = static_cast<uint8_t*>(std::calloc(1, size));
    if (!dib) return Fail(TWCC_LOWMEMORY);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(dib + at, &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(dib + at, &v, 2); };
    put32(0, 40);
    put32(4, static_cast<uint32_t>(FWidth));
    put32(8, static_cast<uint32_t>(FHeight));
    put16(12, 1);
    put16(14, static_cast<uint16_t>(FBpp));
    put32(20, static_cast<uint32_t>(rowLen * FHeight));
    put32(24, static_cast<uint32_t>(std::lround(FResX / 0.0254)));
    put32(28, static_cast<uint32_t>(std::lround(FResY / 0.0254)));
    put32(32, colours);
    for (uint32_t c = 0; c < colours; ++c) {
      const uint8_t v = static_cast<uint8_t>(colours == 2 ? c * 255 : c);
      dib[40 + 4 * c] = dib[41 + 4 * c] = dib[42 + 4 * c] = v;
    }
    uint8_t* pixels = dib + 40 + 4 * colours;
    for (int y = 0; y < FHeight; ++y) {
      const uint8_t* src = FPage.data() + static_cast<size_t>(y) * FRowBytes;
      uint8_t* dst = pixels + static_cast<size_t>(FHeight - 1 - y) * rowLen;
      if (FBpp == 24) {
        for (int x = 0; x < FWidth; ++x) {
          dst[3 * x] = src[3 * x + 2];
          dst[3 * x + 1] = src[3 * x + 1];
          dst[3 * x + 2] = src[3 * x];
        }
      } else {
        std::memcpy(dst, src, FRowBytes);
      }
    }
    handle = dib;
    return TWRC_XFERDONE;
  }

  TW_UINT16 Layout(TW_UINT16 msg, TW_IMAGELAYOUT& l) {
    if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) {
      l.Frame = TW_FRAME{ToFix32(FArea[0]), ToFix32(FArea[1]), ToFix32(FArea[2]), ToFix32(FArea[3])};
      l.DocumentNumber = l.PageNumber = l.FrameNumber = 1;
      return TWRC_SUCCESS;
    }
    if (msg != MSG_SET || FState != 4) return Fail(TWCC_SEQERROR);
    const double f[4] = {FromFix32(l.Frame.Left), FromFix32(l.Frame.Top), FromFix32(l.Frame.Right),
                         FromFix32(l.Frame.Bottom)};
    // An empty frame asks for nothing in particular: the whole area stays.
    if (f[2] <= f[0] || f[3] <= f[1]) return TWRC_CHECKSTATUS;
    for (int k = 0; k < 4; ++k) FArea[k] = std::clamp(f[k], 0.0, k % 2 ? FPhysical[1] : FPhysical[0]);
    return TWRC_SUCCESS;
  }

  // --- capabilities ---

  TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY& cap) {
    if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) return GetCap(cap);
    if (msg == MSG_SET) {
      if (FState != 4) return Fail(TWCC_SEQERROR);
      double v;
      if (!SentValue(cap, v)) return Fail(TWCC_BADVALUE);
      return SetCap(cap.Cap, v);
    }
    if (msg == MSG_RESET) return TWRC_SUCCESS;
    return Fail(TWCC_CAPBADOPERATION);
  }

  TW_UINT16 GetCap(TW_CAPABILITY& cap) {
    auto enumeration = [&](const std::vector<double>& items, double current) {
      const size_t at = static_cast<size_t>(std::find(items.begin(), items.end(), current) - items.begin());
      cap.ConType = TWON_ENUMERATION;
      cap.hContainer = Enumeration(TWTY_UINT16, items, at < items.size() ? at : 0);
      return TWRC_SUCCESS;
    };
    auto one = [&](TW_UINT16 type, double v) {
      cap.ConType = TWON_ONEVALUE;
      cap.hContainer = OneValue(type, v);
      return TWRC_SUCCESS;
    };
    switch (cap.Cap) {
      case ICAP_XFERMECH: return enumeration({TWSX_NATIVE, TWSX_MEMORY}, FMech);
      case ICAP_UNITS: return enumeration({TWUN_INCHES}, TWUN_INCHES);
      case ICAP_PIXELTYPE: {
        std::vector<double> types(FPixelTypes.begin(), FPixelTypes.end());
        return enumeration(types, FPixelType);
      }
      case ICAP_XRESOLUTION:
      case ICAP_YRESOLUTION: {
        const double current = cap.Cap == ICAP_XRESOLUTION ? FResX : FResY;
        int i = Find(SANE_NAME_SCAN_RESOLUTION);
        if (i < 0) i = Find(cap.Cap == ICAP_XRESOLUTION ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION);
        double min, max, step;
        if (NumberRange(i, min, max, step)) {
          cap.ConType = TWON_RANGE;
          cap.hContainer = Range(min, max, step > 0 ? step : 1, current);
          return TWRC_SUCCESS;
        }
        std::vector<double> list = NumberList(i);
        if (list.empty()) return one(TWTY_FIX32, current);
        const size_t at = static_cast<size_t>(std::find(list.begin(), list.end(), current) - list.begin());
        cap.ConType = TWON_ENUMERATION;
        cap.hContainer = Enumeration(TWTY_FIX32, list, at < list.size() ? at : 0);
        return TWRC_SUCCESS;
      }
      case ICAP_XSCALING:
      case ICAP_YSCALING: return one(TWTY_FIX32, 1.0);
      case ICAP_PIXELFLAVOR: return one(TWTY_UINT16, TWPF_CHOCOLATE);
      case ICAP_PLANARCHUNKY: return one(TWTY_UINT16, TWPC_CHUNKY);
      case ICAP_BITDEPTH: return one(TWTY_UINT16, FPixelType == TWPT_RGB ? 24 : FPixelType == TWPT_GRAY ? 8 : 1);
      case ICAP_ORIENTATION: return one(TWTY_UINT16, TWOR_ROT0);
      case ICAP_PHYSICALWIDTH: return one(TWTY_FIX32, FPhysical[0]);
      case ICAP_PHYSICALHEIGHT: return one(TWTY_FIX32, FPhysical[1]);
      case CAP_FEEDERENABLED: return one(TWTY_BOOL, FFeeder ? 1 : 0);
      case CAP_FEEDERLOADED: return one(TWTY_BOOL, FFeederEntry.empty() ? 0 : 1);
      case CAP_INDICATORS: return one(TWTY_BOOL, FIndicators ? 1 : 0);
      case CAP_XFERCOUNT: return one(TWTY_INT16, FXferCount);
      default: return Fail(TWCC_CAPUNSUPPORTED);
    }
  }

  TW_UINT16 SetCap(TW_UINT16 capId, double v) {
    auto only = [&](double allowed) { return v == allowed ? TWRC_SUCCESS : Fail(TWCC_BADVALUE); };
    switch (capId) {
      case ICAP_XFERMECH:
        if (v != TWSX_NATIVE && v != TWSX_MEMORY) return Fail(TWCC_BADVALUE);
        FMech = static_cast<int>(v);
        return TWRC_SUCCESS;
      case ICAP_UNITS: return only(TWUN_INCHES);
      case ICAP_PIXELTYPE:
        if (std::find(FPixelTypes.begin(), FPixelTypes.end(), static_cast<int>(v)) == FPixelTypes.end())
          return Fail(TWCC_BADVALUE);
        FPixelType = static_cast<int>(v);
        return TWRC_SUCCESS;
      case ICAP_XRESOLUTION:
      case ICAP_YRESOLUTION: {
        if (!(v > 0)) return Fail(TWCC_BADVALUE);
        double min, max, step, r = v;
        int i = Find(SANE_NAME_SCAN_RESOLUTION);
        if (i < 0) i = Find(capId == ICAP_XRESOLUTION ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION);
        if (NumberRange(i, min, max, step)) r = std::clamp(v, min, max);
        (capId == ICAP_XRESOLUTION ? FResX : FResY) = r;
        return r == v ? TWRC_SUCCESS : TWRC_CHECKSTATUS;
      }
      case ICAP_XSCALING:
      case ICAP_YSCALING: return only(1.0);
      case ICAP_PIXELFLAVOR: return only(TWPF_CHOCOLATE);
      case ICAP_PLANARCHUNKY: return only(TWPC_CHUNKY);
      case ICAP_ORIENTATION: return only(TWOR_ROT0);
      case ICAP_BITDEPTH: return TWRC_SUCCESS;
      case CAP_FEEDERENABLED:
        if (v != 0 && FFeederEntry.empty()) return Fail(TWCC_BADVALUE);
        FFeeder = v != 0;
        return TWRC_SUCCESS;
      case CAP_INDICATORS: FIndicators = v != 0; return TWRC_SUCCESS;
      case CAP_XFERCOUNT: FXferCount = static_cast<int>(v) == 0 ? -1 : static_cast<int>(v); return TWRC_SUCCESS;
      default: return Fail(TWCC_CAPUNSUPPORTED);
    }
  }

  std::string FDeviceName;
  SANE_Handle FHandle = nullptr;
  int FState = 3;
  TW_UINT16 FCondition = TWCC_SUCCESS;
  TW_UINT16 FEvent = MSG_NULL;
  // Negotiated values.
  std::vector<std::string> FModes;
  std::vector<int> FPixelTypes;
  int FPixelType = TWPT_GRAY;
  int FMech = TWSX_NATIVE;
  double FResX = 75, FResY = 75;
  double FArea[4] = {0, 0, 0, 0};
  double FPhysical[2] = {0, 0};
  std::string FFeederEntry, FFlatbedEntry;
  bool FFeeder = false;
  bool FIndicators = true;
  int FXferCount = -1;
  // The page being handed over.
  std::vector<uint8_t> FPage;  // empty while streaming
  bool FStreaming = false;
  void* FProgress = nullptr;  // the indicators of a streamed page
  int FWidth = 0, FHeight = 0, FBpp = 8, FOffset = 0, FPagesDone = 0;
  TW_UINT32 FRowBytes = 0;
  bool FCancelled = false;
};

}  // namespace

bool SaneStart() {
  if (gSaneUp) return true;
  SANE_Int version = 0;
  gSaneUp = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
  return gSaneUp;
}

std::vector<std::unique_ptr<TDataSource>> SaneSources() {
  std::vector<std::unique_ptr<TDataSource>> out;
  const SANE_Device** devices = nullptr;
  if (!gSaneUp || sane_get_devices(&devices, SANE_FALSE) != SANE_STATUS_GOOD || !devices) return out;
  for (const SANE_Device** d = devices; *d; ++d)
    if ((*d)->name && (*d)->name[0]) out.push_back(std::make_unique<TSaneSource>(**d));
  return out;
}

}  // namespace vexadsm
