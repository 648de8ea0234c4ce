// The product's own names: the component's title, the title of its message boxes, and the
// library's name, which its own errors carry as their source.
#pragma once

namespace qp::platform {

inline constexpr wchar_t kComponentTitle[] = L"Norvane Quillpoint Smart Tag";
inline constexpr wchar_t kMessageTitle[] = L"Quillpoint Smart Tag";
inline constexpr wchar_t kLibraryName[] = L"NVSmartTagQuillpoint";

}  // namespace qp::platform
