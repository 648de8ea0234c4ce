// Identity of the registry component, shared by the server and its tests.
#pragma once

#include <windows.h>

namespace hivereg {

inline constexpr wchar_t kProgId[] = L"HiveLibrary.Registry";
// {D4A8EFBA-8539-4A40-B980-1B9D4F09ADDA}; one class, no versioned ProgIDs.
inline constexpr CLSID kClsid = {
    0xd4a8efba, 0x8539, 0x4a40, {0xb9, 0x80, 0x1b, 0x9d, 0x4f, 0x09, 0xad, 0xda}};

}  // namespace hivereg
