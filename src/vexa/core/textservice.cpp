#include "vexa/core/textservice.h"

namespace vexa {

namespace {
TVXTextService* gTextService = nullptr;
}

TVXTextService* VXTextService() { return gTextService; }
void VXSetTextService(TVXTextService* service) { gTextService = service; }

}  // namespace vexa
