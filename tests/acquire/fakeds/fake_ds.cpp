// A scripted TWAIN data source for the client's tests. It records every triplet
// it receives (one line each) and delivers pages whose pixels say where they are:
// red = 8 x column, green = 8 x row, blue = 50 x page (all mod 256).
//
// Script (FakeDS_Configure), "key=value" separated by ';':
//   name     product name                       memory  1 offers memory transfer
//   pages    sheets in the feeder               width, height, bpp (1, 8 or 24)
//   tiles    1: each block is the left or the right half of its rows (8 and 24 bpp)
//   fault    what to get wrong: absurd, negheight, negrows, pastimage, short,
//            bigrow, endless, compressed, badnative
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "vexa/acquire/twain.h"

using namespace vexa::twain;

namespace {

struct TFake {
  std::string Name = "Fake Scanner";
  bool Memory = true;
  int Pages = 1, Width = 40, Height = 30, Bpp = 24;
  std::string Fault;
  std::string Log;
  bool Tiles = false;
  int Page = 0, Row = 0, Half = 0;
  bool XferReady = false;
  // The source's own window closes once the sheets are done.
  bool CloseRequest = false;
  TW_UINT16 Condition = TWCC_SUCCESS;
};

TFake gFake;

const char* CapName(TW_UINT16 cap) {
  static const std::map<TW_UINT16, const char*> names = {
      {ICAP_UNITS, "ICAP_UNITS"},           {ICAP_PIXELFLAVOR, "ICAP_PIXELFLAVOR"},
      {ICAP_XRESOLUTION, "ICAP_XRESOLUTION"}, {ICAP_YRESOLUTION, "ICAP_YRESOLUTION"},
      {ICAP_XSCALING, "ICAP_XSCALING"},     {ICAP_YSCALING, "ICAP_YSCALING"},
      {ICAP_PIXELTYPE, "ICAP_PIXELTYPE"},   {ICAP_BITDEPTH, "ICAP_BITDEPTH"},
      {ICAP_PLANARCHUNKY, "ICAP_PLANARCHUNKY"}, {ICAP_XFERMECH, "ICAP_XFERMECH"},
      {CAP_FEEDERENABLED, "CAP_FEEDERENABLED"}, {ICAP_ORIENTATION, "ICAP_ORIENTATION"},
      {CAP_INDICATORS, "CAP_INDICATORS"},   {ICAP_GAMMA, "ICAP_GAMMA"},
      {ICAP_PHYSICALWIDTH, "ICAP_PHYSICALWIDTH"}, {ICAP_PHYSICALHEIGHT, "ICAP_PHYSICALHEIGHT"}};
  auto it = names.find(cap);
  return it == names.end() ? "?" : it->second;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

double Item(TW_UINT16 type, const uint8_t* p) {
  if (type == TWTY_FIX32) {
    TW_FIX32 f;
    std::memcpy(&f, p, 4);
    return FromFix32(f);
  }
  if (type == TWTY_BOOL || type == TWTY_INT16) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// "SET CAP ONEVALUE v", "SET CAP ENUMERATION a,b,c @i", "SET CAP RANGE min..max/step =cur".
std::string Describe(const TW_CAPABILITY& cap) {
  const auto* b = static_cast<const uint8_t*>(cap.hContainer);
  std::string s = std::string("SET ") + CapName(cap.Cap);
  if (cap.ConType == TWON_ONEVALUE) {
    TW_ONEVALUE one;
    std::memcpy(&one, b, sizeof one);
    return s + " ONEVALUE " + Num(Item(one.ItemType, b + 2));
  }
  if (cap.ConType == TWON_ENUMERATION) {
    TW_ENUMERATION e;
    std::memcpy(&e, b, sizeof e);
    s += " ENUMERATION ";
    for (TW_UINT32 i = 0; i < e.NumItems; ++i) {
      if (i) s += ',';
      s += Num(Item(e.ItemType, b + sizeof e + i * ItemSize(e.ItemType)));
    }
    return s + " @" + std::to_string(e.CurrentIndex);
  }
  if (cap.ConType == TWON_RANGE) {
    TW_RANGE r;
    std::memcpy(&r, b, sizeof r);
    auto v = [&](TW_UINT32 f) { return Num(Item(r.ItemType, reinterpret_cast<const uint8_t*>(&f))); };
    return s + " RANGE " + v(r.MinValue) + ".." + v(r.MaxValue) + "/" + v(r.StepSize) + " =" + v(r.CurrentValue);
  }
  return s + " ?";
}

TW_HANDLE OneValue(TW_UINT16 type, uint32_t v) {
  auto* one = static_cast<TW_ONEVALUE*>(std::calloc(1, sizeof(TW_ONEVALUE)));
  one->ItemType = type;
  one->Item = v;
  return one;
}

int PageHeight() { return gFake.Height + gFake.Page; }
uint32_t RowBytes() { return static_cast<uint32_t>((gFake.Width * gFake.Bpp + 7) / 8); }

uint8_t Grey(int x, int y) { return static_cast<uint8_t>((x * 8 + y * 8 + gFake.Page * 50) & 0xff); }

// One row of the current page in transfer layout (R G B; 1 bit: column parity).
void FillRow(uint8_t* dst, int y) {
  for (int x = 0; x < gFake.Width; ++x) {
    if (gFake.Bpp == 24) {
      dst[3 * x] = static_cast<uint8_t>(x * 8);
      dst[3 * x + 1] = static_cast<uint8_t>(y * 8);
      dst[3 * x + 2] = static_cast<uint8_t>(gFake.Page * 50);
    } else if (gFake.Bpp == 8) {
      dst[x] = Grey(x, y);
    } else if ((x + y) % 2) {
      dst[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
}

TW_UINT16 MemXfer(TW_IMAGEMEMXFER& x) {
  const uint32_t bpr = RowBytes();
  const int rows = std::min<int>(PageHeight() - gFake.Row, std::min<int>(4, static_cast<int>(x.Memory.Length / bpr)));
  auto* mem = static_cast<uint8_t*>(x.Memory.TheMem);
  std::memset(mem, 0, x.Memory.Length);
  x.Compression = TWCP_NONE;
  if (gFake.Tiles) {
    const int bytesPerPixel = gFake.Bpp / 8, left = gFake.Width / 2;
    const int from = gFake.Half ? left : 0, columns = gFake.Half ? gFake.Width - left : left;
    std::string row(bpr, '\0');
    for (int r = 0; r < rows; ++r) {
      FillRow(reinterpret_cast<uint8_t*>(row.data()), gFake.Row + r);
      std::memcpy(mem + r * columns * bytesPerPixel, row.data() + from * bytesPerPixel,
                  static_cast<size_t>(columns) * bytesPerPixel);
    }
    x.BytesPerRow = static_cast<TW_UINT32>(columns * bytesPerPixel);
    x.Columns = static_cast<TW_UINT32>(columns);
    x.Rows = static_cast<TW_UINT32>(rows);
    x.XOffset = static_cast<TW_UINT32>(from);
    x.YOffset = static_cast<TW_UINT32>(gFake.Row);
    x.BytesWritten = x.BytesPerRow * x.Rows;
    gFake.Half ^= 1;
    if (gFake.Half) return TWRC_SUCCESS;
    gFake.Row += rows;
    return gFake.Row >= PageHeight() ? TWRC_XFERDONE : TWRC_SUCCESS;
  }
  for (int r = 0; r < rows; ++r) FillRow(mem + r * bpr, gFake.Row + r);
  x.BytesPerRow = bpr;
  x.Columns = static_cast<TW_UINT32>(gFake.Width);
  x.Rows = static_cast<TW_UINT32>(rows);
  x.XOffset = 0;
  x.YOffset = static_cast<TW_UINT32>(gFake.Row);
  x.BytesWritten = static_cast<TW_UINT32>(rows) * bpr;
  const std::string& f = gFake.Fault;
  if (f == "negrows") x.Rows = static_cast<TW_UINT32>(-5);
  if (f == "pastimage") x.YOffset = static_cast<TW_UINT32>(PageHeight());
  if (f == "short") x.BytesWritten = bpr / 2;
  if (f == "bigrow") x.BytesPerRow = x.Memory.Length + 16;
  if (f == "compressed") x.Compression = 5;
  if (f == "endless") {
    x.Rows = 0;
    return TWRC_SUCCESS;
  }
  gFake.Row += rows;
  return gFake.Row >= PageHeight() ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 NativeXfer(TW_HANDLE& handle) {
  const int h = PageHeight();
  const uint32_t rowLen = ((static_cast<uint32_t>(gFake.Width) * 24 + 31) / 32) * 4;
  auto* dib = static_cast<uint8_t*>(std::calloc(1, 40 + rowLen * h));
  const int32_t header[3] = {40, gFake.Width, gFake.Fault == "badnative" ? 0 : h};
  std::memcpy(dib, header, 12);
  const uint16_t planes = 1, bits = 24;
  std::memcpy(dib + 12, &planes, 2);
  std::memcpy(dib + 14, &bits, 2);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = dib + 40 + static_cast<size_t>(h - 1 - y) * rowLen;
    for (int x = 0; x < gFake.Width; ++x) {
      row[3 * x] = static_cast<uint8_t>(gFake.Page * 50);
      row[3 * x + 1] = static_cast<uint8_t>(y * 8);
      row[3 * x + 2] = static_cast<uint8_t>(x * 8);
    }
  }
  handle = dib;
  return TWRC_XFERDONE;
}

void Log(const std::string& line) { gFake.Log += line + "\n"; }

}  // namespace

extern "C" __attribute__((visibility("default"))) void FakeDS_Configure(const char* script) {
  gFake = TFake{};
  std::string s = script;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find(';', start);
    if (end == std::string::npos) end = s.size();
    const std::string kv = s.substr(start, end - start);
    start = end + 1;
    const size_t eq = kv.find('=');
    if (eq == std::string::npos) continue;
    const std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
    if (k == "name") gFake.Name = v;
    else if (k == "memory") gFake.Memory = v == "1";
    else if (k == "pages") gFake.Pages = std::atoi(v.c_str());
    else if (k == "width") gFake.Width = std::atoi(v.c_str());
    else if (k == "height") gFake.Height = std::atoi(v.c_str());
    else if (k == "bpp") gFake.Bpp = std::atoi(v.c_str());
    else if (k == "fault") gFake.Fault = v;
    else if (k == "tiles") gFake.Tiles = v == "1";
  }
}

extern "C" __attribute__((visibility("default"))) const char* FakeDS_Log() { return gFake.Log.c_str(); }
extern "C" __attribute__((visibility("default"))) void FakeDS_ClearLog() { gFake.Log.clear(); }

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(TW_IDENTITY*, TW_UINT32 dg, TW_UINT16 dat,
                                                                     TW_UINT16 msg, TW_MEMREF data) {
  TFake& f = gFake;
  if (dg == DG_CONTROL && dat == DAT_STATUS) {
    Log("STATUS GET");
    static_cast<TW_STATUS*>(data)->ConditionCode = f.Condition;
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_IDENTITY) {
    if (msg == MSG_GET) {
      auto* id = static_cast<TW_IDENTITY*>(data);
      std::memset(id, 0, sizeof *id);
      std::strncpy(id->ProductName, f.Name.c_str(), 33);
      std::strncpy(id->Manufacturer, "Vexa tests", 33);
      id->SupportedGroups = DG_CONTROL | DG_IMAGE;
      Log("IDENTITY GET");
      return TWRC_SUCCESS;
    }
    Log(msg == MSG_OPENDS ? "IDENTITY OPENDS" : "IDENTITY CLOSEDS");
    if (msg == MSG_OPENDS) {
      f.Page = 0;
      f.Row = 0;
    }
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_CAPABILITY) {
    auto& cap = *static_cast<TW_CAPABILITY*>(data);
    if (msg == MSG_SET) {
      Log(Describe(cap));
      return TWRC_SUCCESS;
    }
    Log(std::string("GET ") + CapName(cap.Cap));
    switch (cap.Cap) {
      case ICAP_UNITS:
        cap.ConType = TWON_ONEVALUE;
        cap.hContainer = OneValue(TWTY_UINT16, TWUN_INCHES);
        return TWRC_SUCCESS;
      case ICAP_XFERMECH: {
        if (!f.Memory) {
          cap.ConType = TWON_ONEVALUE;
          cap.hContainer = OneValue(TWTY_UINT16, TWSX_NATIVE);
          return TWRC_SUCCESS;
        }
        auto* b = static_cast<uint8_t*>(std::calloc(1, sizeof(TW_ENUMERATION) + 4));
        TW_ENUMERATION e{TWTY_UINT16, 2, 0, 0};
        std::memcpy(b, &e, sizeof e);
        const uint16_t items[2] = {TWSX_NATIVE, TWSX_MEMORY};
        std::memcpy(b + sizeof e, items, 4);
        cap.ConType = TWON_ENUMERATION;
        cap.hContainer = b;
        return TWRC_SUCCESS;
      }
      case ICAP_XRESOLUTION: {
        auto* r = static_cast<TW_RANGE*>(std::calloc(1, sizeof(TW_RANGE)));
        r->ItemType = TWTY_FIX32;
        r->MinValue = Fix32Item(ToFix32(50));
        r->MaxValue = Fix32Item(ToFix32(600));
        r->StepSize = Fix32Item(ToFix32(0.5));
        r->CurrentValue = r->DefaultValue = Fix32Item(ToFix32(150.25));
        cap.ConType = TWON_RANGE;
        cap.hContainer = r;
        return TWRC_SUCCESS;
      }
      case ICAP_PIXELTYPE: {
        auto* b = static_cast<uint8_t*>(std::calloc(1, sizeof(TW_ENUMERATION) + 6));
        TW_ENUMERATION e{TWTY_UINT16, 3, 1, 1};
        std::memcpy(b, &e, sizeof e);
        const uint16_t items[3] = {TWPT_BW, TWPT_GRAY, TWPT_RGB};
        std::memcpy(b + sizeof e, items, 6);
        cap.ConType = TWON_ENUMERATION;
        cap.hContainer = b;
        return TWRC_SUCCESS;
      }
      case CAP_FEEDERENABLED:
        cap.ConType = TWON_ONEVALUE;
        cap.hContainer = OneValue(TWTY_BOOL, 0xffff);
        return TWRC_SUCCESS;
      default:
        f.Condition = TWCC_CAPUNSUPPORTED;
        return TWRC_FAILURE;
    }
  }
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE) {
    Log(msg == MSG_ENABLEDS ? "USERINTERFACE ENABLEDS" : "USERINTERFACE DISABLEDS");
    f.XferReady = msg == MSG_ENABLEDS;
    f.CloseRequest = false;
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_EVENT) {
    if (f.CloseRequest) {
      Log("EVENT CLOSEDSREQ");
      f.CloseRequest = false;
      static_cast<TW_EVENT*>(data)->TWMessage = MSG_CLOSEDSREQ;
      return TWRC_DSEVENT;
    }
    if (!f.XferReady) return TWRC_NOTDSEVENT;
    Log("EVENT XFERREADY");
    f.XferReady = false;
    static_cast<TW_EVENT*>(data)->TWMessage = MSG_XFERREADY;
    return TWRC_DSEVENT;
  }
  if (dg == DG_CONTROL && dat == DAT_SETUPMEMXFER) {
    Log("SETUPMEMXFER GET");
    auto* s = static_cast<TW_SETUPMEMXFER*>(data);
    s->MinBufSize = RowBytes();
    s->MaxBufSize = s->Preferred = RowBytes() * 4;
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS) {
    auto* p = static_cast<TW_PENDINGXFERS*>(data);
    if (msg == MSG_ENDXFER) {
      Log("PENDINGXFERS ENDXFER");
      ++f.Page;
      f.Row = 0;
      p->Count = static_cast<TW_UINT16>(f.Page < f.Pages ? f.Pages - f.Page : 0);
    } else {
      Log("PENDINGXFERS RESET");
      p->Count = 0;
    }
    f.CloseRequest = p->Count == 0;
    return TWRC_SUCCESS;
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGELAYOUT) {
    const auto& l = *static_cast<TW_IMAGELAYOUT*>(data);
    Log("IMAGELAYOUT SET " + Num(FromFix32(l.Frame.Left)) + " " + Num(FromFix32(l.Frame.Top)) + " " +
        Num(FromFix32(l.Frame.Right)) + " " + Num(FromFix32(l.Frame.Bottom)));
    return TWRC_SUCCESS;
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEINFO) {
    Log("IMAGEINFO GET");
    auto* info = static_cast<TW_IMAGEINFO*>(data);
    std::memset(info, 0, sizeof *info);
    info->XResolution = ToFix32(300);
    info->YResolution = ToFix32(150.6);
    info->ImageWidth = f.Fault == "absurd" ? 1 << 30 : f.Width;
    info->ImageLength = f.Fault == "absurd" ? 1 << 30 : f.Fault == "negheight" ? -5 : PageHeight();
    info->BitsPerPixel = static_cast<TW_INT16>(f.Bpp);
    info->SamplesPerPixel = f.Bpp == 24 ? 3 : 1;
    return TWRC_SUCCESS;
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER) {
    if (f.Log.size() < 200000) Log("IMAGEMEMXFER GET");
    return MemXfer(*static_cast<TW_IMAGEMEMXFER*>(data));
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER) {
    Log("IMAGENATIVEXFER GET");
    return NativeXfer(*static_cast<TW_HANDLE*>(data));
  }
  f.Condition = TWCC_BADPROTOCOL;
  return TWRC_FAILURE;
}
