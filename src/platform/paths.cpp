#include "platform/paths.h"

namespace qp {
namespace {

HMODULE g_componentModule = nullptr;

}  // namespace

void SetComponentModule(HMODULE module) {
  g_componentModule = module;
}
HMODULE ComponentModule() {
  return g_componentModule;
}

std::wstring AppendPathPart(const std::wstring& base, const std::wstring& part) {
  if (base.empty() || base.back() != L'\\') return base + L"\\" + part;
  return base + part;
}

std::wstring LanguageFolderOf(const std::wstring& modulePath) {
  size_t slash = modulePath.find_last_of(L'\\');
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash);
  // The application path keeps its backslash only at a drive root ("C:\").
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  return AppendPathPart(folder, L"1033");
}

std::wstring GetLanguageFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(g_componentModule, path, MAX_PATH * 2);
  return LanguageFolderOf(std::wstring(path, n));
}

std::wstring GetResourceFilePath(const std::wstring& fileName) {
  return AppendPathPart(GetLanguageFolder(), fileName);
}

std::wstring GetHelpFilePath(const std::wstring& fileName, bool popupTopics) {
  return AppendPathPart(GetLanguageFolder(), popupTopics ? fileName + kPopupTopics : fileName);
}

}  // namespace qp
