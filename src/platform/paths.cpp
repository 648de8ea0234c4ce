#include "platform/paths.h"

namespace qp::platform {
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

namespace {

// The folder of a module, as the platform reports the application path.
std::wstring FolderOf(const std::wstring& modulePath) {
  size_t slash = modulePath.find_last_of(L'\\');
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : modulePath.substr(0, slash);
  // The application path keeps its backslash only at a drive root ("C:\").
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  return folder;
}

}  // namespace

std::wstring ComponentPath() {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(g_componentModule, path, MAX_PATH * 2);
  return std::wstring(path, n);
}

std::wstring LanguageFolderOf(const std::wstring& modulePath) {
  return AppendPathPart(FolderOf(modulePath), L"1033");
}

std::wstring GetLanguageFolder() {
  return LanguageFolderOf(ComponentPath());
}

std::wstring GetComponentFilePath(const std::wstring& fileName) {
  return AppendPathPart(FolderOf(ComponentPath()), fileName);
}

std::wstring GetResourceFilePath(const std::wstring& fileName) {
  return AppendPathPart(GetLanguageFolder(), fileName);
}

std::wstring GetHelpFilePath(const std::wstring& fileName, bool popupTopics) {
  return AppendPathPart(GetLanguageFolder(), popupTopics ? fileName + kPopupTopics : fileName);
}

}  // namespace qp::platform
