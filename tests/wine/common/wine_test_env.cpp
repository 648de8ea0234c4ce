#include "wine_test_env.h"

#include <vector>

namespace qp::test {

std::wstring BinFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    return static_cast<DWORD>(-1);
  DWORD code = static_cast<DWORD>(-2);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
    GetExitCodeProcess(pi.hProcess, &code);
  else
    TerminateProcess(pi.hProcess, code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

void SetSetting(HKEY hive, const wchar_t* name, const wchar_t* value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(hive, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  if (value) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key, name);
  }
  RegCloseKey(key);
}

std::wstring GetSetting(HKEY hive, const wchar_t* name, bool* found) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  LONG rc = RegGetValueW(hive, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size);
  if (found) *found = rc == ERROR_SUCCESS;
  return rc == ERROR_SUCCESS ? std::wstring(buffer) : std::wstring();
}

namespace {
void Replace(std::wstring& s, const std::wstring& what, const std::wstring& with) {
  for (size_t at = s.find(what); at != std::wstring::npos; at = s.find(what, at + with.size()))
    s.replace(at, what.size(), with);
}
}  // namespace

std::string FileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes;
}

std::wstring Message(UINT id, const std::wstring& argument) {
  static HMODULE library = LoadLibraryExW((BinFolder() + L"\\1033\\nvsqpres.dll").c_str(),
                                          nullptr, LOAD_LIBRARY_AS_DATAFILE);
  const wchar_t* text = nullptr;
  int n = library ? LoadStringW(library, id, reinterpret_cast<LPWSTR>(&text), 0) : 0;
  std::wstring s(text ? text : L"", static_cast<size_t>(n));
  Replace(s, L"%s", argument);
  Replace(s, L"\\n", L"\r\n");
  return s;
}

}  // namespace qp::test
