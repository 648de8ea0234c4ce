#include "com/classes.h"

#include "engine/controller.h"
#include "platform/error_display.h"
#include "ui/frm_config.h"

namespace qp::com {
using namespace qp::platform;
using namespace qp::engine;
using namespace qp::ui;

HRESULT CreateController(REFIID iid, void** out) noexcept {
  return Controller::Create(iid, out, &MakeFrmConfig);
}

void MaintainTermsOnCallingThread() noexcept {
  ComBoundary([] { Controller::New(&MakeFrmConfig)->MaintainTerms(); }, ShowCurrentError);
}

}  // namespace qp::com
