// hivereg.dll serves one class, the registry object.
#include "../common/com_server.h"
#include "hivereg_ids.h"

namespace hivereg {
HRESULT CreateRegistryObject(REFIID iid, void** out) noexcept;
}

std::span<const standin::ServerClass> standin::ServerClasses() {
  static const ServerClass kClasses[] = {
      {hivereg::kProgId, hivereg::kClsid, L"HiveLibrary registry access",
       hivereg::CreateRegistryObject},
  };
  return kClasses;
}
