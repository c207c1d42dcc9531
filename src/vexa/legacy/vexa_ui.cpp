#include "vexa/legacy/vexa_ui.h"

namespace vexa {

// The order matters to code that watches the components: the processing
// component exists and is linked before the I/O component is created.
TVexa::TVexa(QWidget* parent, TComponent* owner) : TVexaView(parent, owner) {
  FProc = new TVexaProc(this);
  FProc->SetAttachedVexa(this);
  FProc->AutoUndo = true;
  FIO = new TVexaIO(this);
  FIO->SetAttachedVexa(this);
}

TVexa::~TVexa() {
  delete FProc;
  delete FIO;
}

void TVexa::SetOnProgress(const TProgressEvent& e) {
  FProc->OnProgress = e;
  FIO->OnProgress = e;
}

void TVexa::SetMsgLanguage(TMsgLanguage lang) {
  FProc->MsgLanguage = lang;
  FIO->MsgLanguage = lang;
}

void TVexa::SetPreviewFont(const TFont& font) {
  FProc->PreviewFont = font;
  FIO->PreviewFont = font;
}

}  // namespace vexa
