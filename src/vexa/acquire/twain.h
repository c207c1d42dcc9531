// The TWAIN 1.x protocol as it crosses the data source manager's entry point:
// data groups, data argument types, messages, return and condition codes,
// containers, capabilities and the records they travel in. Names and values are
// the published TWAIN ones; the records are packed on 2-byte boundaries as the
// TWAIN header packs them, so a TW_IDENTITY is 156 bytes with the product name at
// byte 122.
//
// On this platform a TW_HANDLE is a plain pointer. Memory behind a handle that
// one side hands to the other (a capability container, a native image) is
// allocated with malloc by the side that fills it and released with free by the
// side that receives it.
//
// Plain C layout only: the data source manager and the data sources are separate
// shared libraries that include this header too.
#pragma once

#include <cstdint>
#include <cstring>

namespace vexa::twain {

using TW_INT8 = int8_t;
using TW_INT16 = int16_t;
using TW_INT32 = int32_t;
using TW_UINT8 = uint8_t;
using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_BOOL = uint16_t;
using TW_HANDLE = void*;
using TW_MEMREF = void*;
using TW_STR32 = char[34];

#pragma pack(push, 2)

struct TW_FIX32 {
  TW_INT16 Whole;
  TW_UINT16 Frac;
};

struct TW_FRAME {
  TW_FIX32 Left, Top, Right, Bottom;
};

struct TW_VERSION {
  TW_UINT16 MajorNum;
  TW_UINT16 MinorNum;
  TW_UINT16 Language;
  TW_UINT16 Country;
  TW_STR32 Info;
};

struct TW_IDENTITY {
  TW_UINT32 Id;
  TW_VERSION Version;
  TW_UINT16 ProtocolMajor;
  TW_UINT16 ProtocolMinor;
  TW_UINT32 SupportedGroups;
  TW_STR32 Manufacturer;
  TW_STR32 ProductFamily;
  TW_STR32 ProductName;
};

struct TW_CAPABILITY {
  TW_UINT16 Cap;
  TW_UINT16 ConType;
  TW_HANDLE hContainer;
};

struct TW_ONEVALUE {
  TW_UINT16 ItemType;
  TW_UINT32 Item;
};

/// Followed by NumItems items from byte 14.
struct TW_ENUMERATION {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
  TW_UINT32 CurrentIndex;
  TW_UINT32 DefaultIndex;
};

/// Followed by NumItems items from byte 6.
struct TW_ARRAY {
  TW_UINT16 ItemType;
  TW_UINT32 NumItems;
};

struct TW_RANGE {
  TW_UINT16 ItemType;
  TW_UINT32 MinValue, MaxValue, StepSize, DefaultValue, CurrentValue;
};

struct TW_USERINTERFACE {
  TW_BOOL ShowUI;
  TW_BOOL ModalUI;
  TW_HANDLE hParent;
};

struct TW_PENDINGXFERS {
  TW_UINT16 Count;
  TW_UINT32 Reserved;
};

/// pEvent is the platform's window event; null where the source has no window events.
struct TW_EVENT {
  TW_MEMREF pEvent;
  TW_UINT16 TWMessage;
};

struct TW_STATUS {
  TW_UINT16 ConditionCode;
  TW_UINT16 Reserved;
};

struct TW_SETUPMEMXFER {
  TW_UINT32 MinBufSize, MaxBufSize, Preferred;
};

struct TW_MEMORY {
  TW_UINT32 Flags;
  TW_UINT32 Length;
  TW_MEMREF TheMem;
};

struct TW_IMAGEMEMXFER {
  TW_UINT16 Compression;
  TW_UINT32 BytesPerRow;
  TW_UINT32 Columns;
  TW_UINT32 Rows;
  TW_UINT32 XOffset;
  TW_UINT32 YOffset;
  TW_UINT32 BytesWritten;
  TW_MEMORY Memory;
};

struct TW_IMAGEINFO {
  TW_FIX32 XResolution;
  TW_FIX32 YResolution;
  TW_INT32 ImageWidth;
  TW_INT32 ImageLength;
  TW_INT16 SamplesPerPixel;
  TW_INT16 BitsPerSample[8];
  TW_INT16 BitsPerPixel;
  TW_BOOL Planar;
  TW_INT16 PixelType;
  TW_UINT16 Compression;
};

struct TW_IMAGELAYOUT {
  TW_FRAME Frame;
  TW_UINT32 DocumentNumber;
  TW_UINT32 PageNumber;
  TW_UINT32 FrameNumber;
};

#pragma pack(pop)

static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(sizeof(TW_ONEVALUE) == 6);
static_assert(sizeof(TW_ENUMERATION) == 14);
static_assert(sizeof(TW_ARRAY) == 6);
static_assert(sizeof(TW_RANGE) == 22);

// Data groups.
constexpr TW_UINT32 DG_CONTROL = 0x1, DG_IMAGE = 0x2;

// Data argument types.
constexpr TW_UINT16 DAT_NULL = 0x0000, DAT_CAPABILITY = 0x0001, DAT_EVENT = 0x0002, DAT_IDENTITY = 0x0003,
                    DAT_PARENT = 0x0004, DAT_PENDINGXFERS = 0x0005, DAT_SETUPMEMXFER = 0x0006,
                    DAT_SETUPFILEXFER = 0x0007, DAT_STATUS = 0x0008, DAT_USERINTERFACE = 0x0009,
                    DAT_XFERGROUP = 0x000a, DAT_IMAGEINFO = 0x0101, DAT_IMAGELAYOUT = 0x0102,
                    DAT_IMAGEMEMXFER = 0x0103, DAT_IMAGENATIVEXFER = 0x0104;

// Messages.
constexpr TW_UINT16 MSG_NULL = 0x0000, MSG_GET = 0x0001, MSG_GETCURRENT = 0x0002, MSG_GETDEFAULT = 0x0003,
                    MSG_GETFIRST = 0x0004, MSG_GETNEXT = 0x0005, MSG_SET = 0x0006, MSG_RESET = 0x0007,
                    MSG_QUERYSUPPORT = 0x0008, MSG_XFERREADY = 0x0101, MSG_CLOSEDSREQ = 0x0102,
                    MSG_CLOSEDSOK = 0x0103, MSG_OPENDSM = 0x0301, MSG_CLOSEDSM = 0x0302, MSG_OPENDS = 0x0401,
                    MSG_CLOSEDS = 0x0402, MSG_USERSELECT = 0x0403, MSG_DISABLEDS = 0x0501,
                    MSG_ENABLEDS = 0x0502, MSG_ENABLEDSUIONLY = 0x0503, MSG_PROCESSEVENT = 0x0601,
                    MSG_ENDXFER = 0x0701;

// Return codes.
constexpr TW_UINT16 TWRC_SUCCESS = 0, TWRC_FAILURE = 1, TWRC_CHECKSTATUS = 2, TWRC_CANCEL = 3,
                    TWRC_DSEVENT = 4, TWRC_NOTDSEVENT = 5, TWRC_XFERDONE = 6, TWRC_ENDOFLIST = 7,
                    TWRC_INFONOTSUPPORTED = 8, TWRC_DATANOTAVAILABLE = 9;

// Condition codes.
constexpr TW_UINT16 TWCC_SUCCESS = 0, TWCC_BUMMER = 1, TWCC_LOWMEMORY = 2, TWCC_NODS = 3,
                    TWCC_MAXCONNECTIONS = 4, TWCC_OPERATIONERROR = 5, TWCC_BADCAP = 6, TWCC_BADPROTOCOL = 9,
                    TWCC_BADVALUE = 10, TWCC_SEQERROR = 11, TWCC_BADDEST = 12, TWCC_CAPUNSUPPORTED = 13,
                    TWCC_CAPBADOPERATION = 14, TWCC_CAPSEQERROR = 15;

// Container types.
constexpr TW_UINT16 TWON_ARRAY = 3, TWON_ENUMERATION = 4, TWON_ONEVALUE = 5, TWON_RANGE = 6,
                    TWON_DONTCARE16 = 0xffff;

// Item types.
constexpr TW_UINT16 TWTY_INT8 = 0, TWTY_INT16 = 1, TWTY_INT32 = 2, TWTY_UINT8 = 3, TWTY_UINT16 = 4,
                    TWTY_UINT32 = 5, TWTY_BOOL = 6, TWTY_FIX32 = 7, TWTY_FRAME = 8, TWTY_STR32 = 9;

// Capabilities.
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001, ICAP_COMPRESSION = 0x0100, ICAP_PIXELTYPE = 0x0101,
                    ICAP_UNITS = 0x0102, ICAP_XFERMECH = 0x0103, CAP_FEEDERENABLED = 0x1002,
                    CAP_FEEDERLOADED = 0x1003, CAP_INDICATORS = 0x100b, ICAP_GAMMA = 0x1108,
                    ICAP_ORIENTATION = 0x1110, ICAP_PHYSICALWIDTH = 0x1111, ICAP_PHYSICALHEIGHT = 0x1112,
                    ICAP_XRESOLUTION = 0x1118, ICAP_YRESOLUTION = 0x1119, ICAP_PIXELFLAVOR = 0x111f,
                    ICAP_PLANARCHUNKY = 0x1120, ICAP_XSCALING = 0x1124, ICAP_YSCALING = 0x1125,
                    ICAP_BITDEPTH = 0x112b;

// Capability values.
constexpr TW_UINT16 TWPT_BW = 0, TWPT_GRAY = 1, TWPT_RGB = 2;
constexpr TW_UINT16 TWSX_NATIVE = 0, TWSX_FILE = 1, TWSX_MEMORY = 2;
constexpr TW_UINT16 TWUN_INCHES = 0;
constexpr TW_UINT16 TWPF_CHOCOLATE = 0;
constexpr TW_UINT16 TWPC_CHUNKY = 0;
constexpr TW_UINT16 TWCP_NONE = 0;
constexpr TW_UINT16 TWOR_ROT0 = 0;
constexpr TW_UINT16 TWLG_USA = 13, TWCY_USA = 1;

// Memory flags of TW_MEMORY.
constexpr TW_UINT32 TWMF_APPOWNS = 0x1, TWMF_DSMOWNS = 0x2, TWMF_DSOWNS = 0x4, TWMF_POINTER = 0x8,
                    TWMF_HANDLE = 0x10;

/// "Not specified" in a 32-bit field.
constexpr TW_UINT32 TWON_DONTCARE32 = 0xffffffff;

/// The manager's single entry point.
using DSMENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                                   TW_UINT16 msg, TW_MEMREF data);
/// A data source's single entry point (the manager forwards source triplets to it).
using DSENTRYPROC = TW_UINT16 (*)(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                  TW_MEMREF data);

/// A real number as TW_FIX32: trunc(x * 65536 + 0.5) split into its high and low 16 bits.
inline TW_FIX32 ToFix32(double x) {
  const int32_t v = static_cast<int32_t>(x * 65536.0 + 0.5);
  return TW_FIX32{static_cast<TW_INT16>(v >> 16), static_cast<TW_UINT16>(v & 0xffff)};
}
inline double FromFix32(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }
/// The TW_FIX32 as it sits in a 32-bit container item (Whole in the low half).
inline TW_UINT32 Fix32Item(TW_FIX32 f) {
  return static_cast<TW_UINT16>(f.Whole) | (static_cast<TW_UINT32>(f.Frac) << 16);
}
inline TW_FIX32 ItemFix32(TW_UINT32 v) {
  return TW_FIX32{static_cast<TW_INT16>(v & 0xffff), static_cast<TW_UINT16>(v >> 16)};
}

/// Bytes of one container item of the type; 0 for unknown types.
inline int ItemSize(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8: case TWTY_UINT8: return 1;
    case TWTY_INT16: case TWTY_UINT16: case TWTY_BOOL: return 2;
    case TWTY_INT32: case TWTY_UINT32: case TWTY_FIX32: return 4;
    case TWTY_FRAME: return 16;
    case TWTY_STR32: return 34;
    default: return 0;
  }
}

/// Value of one container item of the type (0 for types without a number).
inline double ReadItem(TW_UINT16 type, const uint8_t* p) {
  switch (type) {
    case TWTY_INT8: return static_cast<int8_t>(*p);
    case TWTY_UINT8: return *p;
    case TWTY_INT16: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case TWTY_UINT16: case TWTY_BOOL: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case TWTY_INT32: { int32_t v; std::memcpy(&v, p, 4); return v; }
    case TWTY_UINT32: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    case TWTY_FIX32: { TW_FIX32 f; std::memcpy(&f, p, 4); return FromFix32(f); }
    default: return 0;
  }
}

/// Stores v as one item of the type (TW_FIX32 for reals; 2 or 4 bytes for integers).
inline void PutItem(uint8_t* p, TW_UINT16 type, double v) {
  if (type == TWTY_FIX32) {
    TW_FIX32 f = ToFix32(v);
    std::memcpy(p, &f, 4);
  } else if (ItemSize(type) == 2) {
    uint16_t u = static_cast<uint16_t>(static_cast<int32_t>(v));
    std::memcpy(p, &u, 2);
  } else {
    int32_t i = static_cast<int32_t>(v);
    std::memcpy(p, &i, 4);
  }
}

}  // namespace vexa::twain
