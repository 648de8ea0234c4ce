#include "com/classes.h"

#include "engine/controller.h"
#include "platform/error_display.h"
#include "ui/frm_config.h"

namespace qp {

HRESULT CreateController(REFIID iid, void** out) noexcept {
  return Controller::Create(iid, out, &MakeFrmConfig);
}

void MaintainTermsOnCallingThread() noexcept {
  ComBoundary([] { Controller::New(&MakeFrmConfig)->MaintainTerms(); },
              [] { ShowError(L"", kMessageTitle, L""); });
}

}  // namespace qp
