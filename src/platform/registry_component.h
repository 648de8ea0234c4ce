// The Norvane registry component "HiveLibrary.Registry", through which the component reads and
// writes its registry settings.
#pragma once

#include <string>

namespace qp::platform {

inline constexpr wchar_t kRegistryProgId[] = L"HiveLibrary.Registry";
inline constexpr long kHiveCurrentUser = static_cast<long>(0x80000001);
inline constexpr long kHiveLocalMachine = static_cast<long>(0x80000002);

// The registry component, created for one call each time.
//
// While a RegistryClassHold lives on the calling thread (every engine holds one), the
// component's class factory is kept for that thread, and each use creates its new component
// from it instead of looking the class up in the registry again. The kept factory is dropped
// when the class registrations change (the component unregistered, moved or registered anew),
// so the next use finds the component as it is registered then, or fails as a missing one.
class RegistryClassHold {
 public:
  RegistryClassHold();
  ~RegistryClassHold();
  RegistryClassHold(const RegistryClassHold&) = delete;
  RegistryClassHold& operator=(const RegistryClassHold&) = delete;
};
std::wstring RegistryGetValue(long hive, const std::wstring& key, const std::wstring& name,
                              const std::wstring* defaultValue);
void RegistrySetValue(long hive, const std::wstring& key, const std::wstring& name,
                      const std::wstring& value);

}  // namespace qp::platform
