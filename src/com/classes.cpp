#include "com/classes.h"

#include "engine/controller.h"
#include "platform/error_display.h"
#include "ui/frm_config.h"

namespace qp::com {
using namespace qp::platform;
using namespace qp::engine;
using namespace qp::ui;

HRESULT CreateController(REFIID iid, void** out) {
  return Controller::Create(iid, out, &MakeFrmConfig);
}

void MaintainTermsOnCallingThread() noexcept {
  ComBoundary([] {
    try {
      Controller::New(&MakeFrmConfig)->MaintainTerms();
    } catch (...) {
      ShowCaughtError(L"");
    }
  });
}

}  // namespace qp::com
