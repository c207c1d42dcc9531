#include "vexa/io/scanservice.h"

namespace vexa {

namespace {
TVXScanService* gScanService = nullptr;
}

TVXScanService* VXScanService() { return gScanService; }
void VXSetScanService(TVXScanService* service) { gScanService = service; }

}  // namespace vexa
