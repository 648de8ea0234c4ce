#include "platform/com_object.h"

#include <mutex>
#include <utility>
#include <vector>

#include "platform/paths.h"

namespace qp::platform {
namespace {

std::atomic<long> g_moduleCount{0};

ITypeLib* LoadOwnTypeLib() {
  ITypeLib* lib = nullptr;
  if (ComponentModule()) {
    Check(LoadTypeLibEx(ComponentPath().c_str(), REGKIND_NONE, &lib));
  } else {
    // Linked into a program rather than loaded as the server: the registered library.
    Check(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, LOCALE_NEUTRAL, &lib));
  }
  return lib;
}

// The type information of our interfaces, one for the process: a type library's objects are not
// bound to an apartment, and Word calls us from several. Let go when the server may unload.
class TypeInfoCache {
 public:
  ITypeInfo* For(REFIID iid) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& [known, info] : infos_)
      if (known == iid) return info.Get();
    if (!lib_) *lib_.GetAddressOf() = LoadOwnTypeLib();
    ComPtr<ITypeInfo> info;
    Check(lib_->GetTypeInfoOfGuid(iid, info.GetAddressOf()));
    infos_.emplace_back(iid, info);
    return info.Get();
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    infos_.clear();
    lib_.Reset();
  }

 private:
  std::mutex lock_;
  ComPtr<ITypeLib> lib_;
  std::vector<std::pair<IID, ComPtr<ITypeInfo>>> infos_;  // a handful: a list beats a map
};
// Never destroyed: at the process's end, releasing into oleaut32 from our DllMain is not safe.
TypeInfoCache& g_typeInfo = *new TypeInfoCache;

}  // namespace

void ModuleAddRef() noexcept {
  ++g_moduleCount;
}
void ModuleRelease() noexcept {
  --g_moduleCount;
}
long ModuleCount() noexcept {
  return g_moduleCount;
}

ITypeInfo* TypeInfoFor(REFIID iid) {
  return g_typeInfo.For(iid);
}
void ReleaseTypeInfo() {
  g_typeInfo.Clear();
}

}  // namespace qp::platform
