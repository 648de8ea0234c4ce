#include "com/classes.h"

#include "engine/controller.h"
#include "ui/frm_config.h"

namespace qp {

HRESULT CreateController(REFIID iid, void** out) {
  return Controller::Create(iid, out, &MakeFrmConfig);
}

}  // namespace qp
