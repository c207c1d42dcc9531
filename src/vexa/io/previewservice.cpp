#include "vexa/io/previewservice.h"

namespace vexa {

namespace {
TVXPreviewService* gPreviewService = nullptr;
}

TVXPreviewService* VXPreviewService() { return gPreviewService; }
void VXSetPreviewService(TVXPreviewService* service) { gPreviewService = service; }

}  // namespace vexa
