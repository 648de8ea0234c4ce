#include "platform/strings.h"

#include "platform/automation.h"

namespace qp::platform {
namespace {

thread_local HMODULE g_hResourceLibrary = nullptr;

void ReplaceAll(std::wstring& text, const std::wstring& what, const std::wstring& with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::wstring::npos;
       at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

}  // namespace

void LoadResourceLibrary(const std::wstring& path) {
  // Never freed: every engine on the thread loads it again and it stays until the process ends.
  g_hResourceLibrary = LoadLibraryA(WideToAnsi(path).c_str());
}

HMODULE ResourceLibrary() {
  return g_hResourceLibrary;
}

std::wstring FormatResourceText(std::wstring text, const std::vector<std::wstring>& args) {
  if (!args.empty()) {
    ReplaceAll(text, L"%s", args[0]);
    for (size_t i = 0; i < args.size(); ++i)
      ReplaceAll(text, L"%" + std::to_wstring(i + 1), args[i]);
  }
  ReplaceAll(text, L"\\n", L"\r\n");
  return text;
}

std::wstring GetResourceString(UINT id, const std::vector<std::wstring>& args) {
  char buffer[1024] = {};
  const int n = g_hResourceLibrary ? LoadStringA(g_hResourceLibrary, id, buffer, 1024) : 0;
  return FormatResourceText(AnsiToWide(std::string(buffer, n > 0 ? n : 0)), args);
}

}  // namespace qp::platform
