// vexa-twaindsm: a TWAIN data source manager for this platform.
//
// Its sources are the data source libraries named in $VEXA_TWAIN_SOURCES
// (colon-separated paths, each exporting "DS_Entry") followed by every SANE
// device (unless $VEXA_TWAIN_SANE is "0"). The list is built when the manager
// opens and dropped when it closes. Source triplets are forwarded to the open
// source they name; MSG_USERSELECT shows the application's selection dialog when
// it handed one over (VexaDSM_SetUI), else answers the default (first) source.
//
// SANE is started once and stays up for the life of the process, and the library
// is never unmapped (linked "nodelete"): backends keep tables that a restart
// would leak, and re-reading every backend on each connection is slow.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datasource.h"
#include "sanesource.h"

namespace vexadsm {

#ifdef VEXA_DSM_NO_SANE
bool SaneStart() { return false; }
std::vector<std::unique_ptr<TDataSource>> SaneSources() { return {}; }
#endif

namespace {

const VexaDSMUI* gUI = nullptr;

// A source in a library of its own.
class TLibrarySource : public TDataSource {
 public:
  TLibrarySource(void* lib, DSENTRYPROC entry) : FLib(lib), FEntry(entry) {}
  ~TLibrarySource() override { ::dlclose(FLib); }
  TW_UINT16 Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) override {
    return FEntry(origin, dg, dat, msg, data);
  }

 private:
  void* FLib;
  DSENTRYPROC FEntry;
};

struct TManager {
  bool Open = false;
  void* Parent = nullptr;
  std::vector<std::unique_ptr<TDataSource>> Sources;
  std::vector<bool> Opened;
  size_t Next = 0;
  TW_UINT16 Condition = TWCC_SUCCESS;
};

TManager gManager;

TW_UINT16 Fail(TW_UINT16 cc) {
  gManager.Condition = cc;
  return TWRC_FAILURE;
}

void LoadSources(TW_IDENTITY* origin) {
  if (const char* list = std::getenv("VEXA_TWAIN_SOURCES")) {
    std::string all = list;
    size_t start = 0;
    while (start <= all.size()) {
      size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      const std::string path = all.substr(start, end - start);
      start = end + 1;
      if (path.empty()) continue;
      void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!lib) continue;
      auto entry = reinterpret_cast<DSENTRYPROC>(::dlsym(lib, "DS_Entry"));
      if (!entry) {
        ::dlclose(lib);
        continue;
      }
      auto src = std::make_unique<TLibrarySource>(lib, entry);
      if (entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &src->Identity) == TWRC_SUCCESS)
        gManager.Sources.push_back(std::move(src));
    }
  }
  const char* sane = std::getenv("VEXA_TWAIN_SANE");
  if (!(sane && std::strcmp(sane, "0") == 0) && SaneStart()) {
    for (auto& s : SaneSources()) gManager.Sources.push_back(std::move(s));
  }
  TW_UINT32 id = 1;
  for (auto& s : gManager.Sources) s->Identity.Id = id++;
  gManager.Opened.assign(gManager.Sources.size(), false);
}

TDataSource* ById(TW_UINT32 id) {
  if (id == 0 || id > gManager.Sources.size()) return nullptr;
  return gManager.Sources[id - 1].get();
}

// The source an application names: by Id, else by product name, else (empty
// name) the default one.
int Resolve(const TW_IDENTITY& wanted) {
  if (gManager.Sources.empty()) return -1;
  if (TDataSource* s = ById(wanted.Id);
      s && std::strncmp(s->Identity.ProductName, wanted.ProductName, sizeof wanted.ProductName) == 0)
    return static_cast<int>(wanted.Id - 1);
  if (!wanted.ProductName[0]) return 0;
  for (size_t i = 0; i < gManager.Sources.size(); ++i)
    if (std::strncmp(gManager.Sources[i]->Identity.ProductName, wanted.ProductName, sizeof wanted.ProductName) == 0)
      return static_cast<int>(i);
  return -1;
}

TW_UINT16 CloseManager() {
  for (size_t i = 0; i < gManager.Sources.size(); ++i)
    if (gManager.Opened[i]) gManager.Sources[i]->Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
  gManager.Sources.clear();
  gManager.Opened.clear();
  gManager.Open = false;
  return TWRC_SUCCESS;
}

TW_UINT16 Identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_IDENTITY* id) {
  if (!gManager.Open) return Fail(TWCC_SEQERROR);
  if (!id) return Fail(TWCC_BADVALUE);
  switch (msg) {
    case MSG_GETFIRST:
      gManager.Next = 0;
      [[fallthrough]];
    case MSG_GETNEXT:
      if (gManager.Next >= gManager.Sources.size()) return TWRC_ENDOFLIST;
      *id = gManager.Sources[gManager.Next++]->Identity;
      return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
      if (gManager.Sources.empty()) return Fail(TWCC_NODS);
      *id = gManager.Sources[0]->Identity;
      return TWRC_SUCCESS;
    case MSG_USERSELECT: {
      if (gManager.Sources.empty()) return Fail(TWCC_NODS);
      int chosen = 0;
      if (gUI && gUI->SelectSource) {
        std::vector<const char*> names;
        for (auto& s : gManager.Sources) names.push_back(s->Identity.ProductName);
        chosen = gUI->SelectSource(gUI->Context, gManager.Parent, names.data(), static_cast<int>(names.size()), 0);
        if (chosen < 0 || chosen >= static_cast<int>(names.size())) return TWRC_CANCEL;
      }
      *id = gManager.Sources[static_cast<size_t>(chosen)]->Identity;
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS: {
      const int at = Resolve(*id);
      if (at < 0) return Fail(TWCC_NODS);
      if (gManager.Opened[static_cast<size_t>(at)]) return Fail(TWCC_MAXCONNECTIONS);
      TDataSource& src = *gManager.Sources[static_cast<size_t>(at)];
      const TW_UINT16 rc = src.Entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src.Identity);
      if (rc != TWRC_SUCCESS) {
        TW_STATUS status{};
        src.Entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        return Fail(status.ConditionCode ? status.ConditionCode : TWCC_OPERATIONERROR);
      }
      gManager.Opened[static_cast<size_t>(at)] = true;
      *id = src.Identity;
      return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS: {
      TDataSource* src = ById(id->Id);
      if (!src || !gManager.Opened[id->Id - 1]) return Fail(TWCC_NODS);
      gManager.Opened[id->Id - 1] = false;
      return src->Entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src->Identity);
    }
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}

}  // namespace

const VexaDSMUI* UI() { return gUI; }

void CopyStr32(char (&dst)[34], const std::string& s) {
  std::memset(dst, 0, sizeof dst);
  std::memcpy(dst, s.data(), std::min<size_t>(s.size(), 33));
}

}  // namespace vexadsm

using namespace vexadsm;

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest,
                                                                      TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                                      TW_MEMREF data) {
  if (!origin) return TWRC_FAILURE;
  if (dest) {
    // A source triplet: only to a source this manager opened.
    TDataSource* src = ById(dest->Id);
    if (!gManager.Open || !src || !gManager.Opened[dest->Id - 1]) return Fail(TWCC_BADDEST);
    return src->Entry(origin, dg, dat, msg, data);
  }
  if (dg != DG_CONTROL) return Fail(TWCC_BADPROTOCOL);
  switch (dat) {
    case DAT_PARENT:
      if (msg == MSG_OPENDSM) {
        if (gManager.Open) return Fail(TWCC_SEQERROR);
        gManager.Open = true;
        gManager.Condition = TWCC_SUCCESS;
        gManager.Parent = data ? *static_cast<void**>(data) : nullptr;
        LoadSources(origin);
        return TWRC_SUCCESS;
      }
      if (msg == MSG_CLOSEDSM) {
        if (!gManager.Open) return Fail(TWCC_SEQERROR);
        return CloseManager();
      }
      return Fail(TWCC_BADPROTOCOL);
    case DAT_IDENTITY: return Identity(origin, msg, static_cast<TW_IDENTITY*>(data));
    case DAT_STATUS:
      if (!data) return TWRC_FAILURE;
      static_cast<TW_STATUS*>(data)->ConditionCode = gManager.Condition;
      gManager.Condition = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    default: return Fail(TWCC_BADPROTOCOL);
  }
}

extern "C" __attribute__((visibility("default"))) void VexaDSM_SetUI(const VexaDSMUI* ui) { gUI = ui; }
