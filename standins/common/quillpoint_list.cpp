#include "quillpoint_list.h"

#include <string_view>
#include <vector>

namespace standin {
namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes.clear();
  char chunk[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got > 0) {
    bytes.append(chunk, got);
  }
  CloseHandle(file);
  return ok;
}

}  // namespace

std::wstring ReadSetting(const wchar_t* name, bool& found) {
  found = false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return {};
  }
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
  if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  } else {
    rc = ERROR_FILE_NOT_FOUND;
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return {};
  data.back() = L'\0';  // stored strings need not be terminated
  std::wstring text(data.data());
  if (type == REG_EXPAND_SZ) {
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::vector<wchar_t> expanded(n + 1, L'\0');
    if (n && ExpandEnvironmentStringsW(text.c_str(), expanded.data(), n + 1)) {
      text = expanded.data();
    }
  }
  found = !text.empty();
  return text;
}

std::vector<std::wstring> ParseQuillpointNames(const std::string& utf8) {
  std::string_view text = utf8;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::wstring wide = FromUtf8(std::string(text));
  const std::wstring_view all = wide;
  std::vector<std::wstring> names;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(L'\n', start);
    if (end == std::wstring_view::npos) end = all.size();
    const std::wstring_view line = all.substr(start, end - start);
    const size_t first = line.find_first_not_of(L" \t\r");
    if (first != std::wstring_view::npos && line[first] != L'#')
      names.emplace_back(line.substr(first, line.find_last_not_of(L" \t\r") - first + 1));
    start = end + 1;
  }
  return names;
}

QuillpointListStamp StampQuillpointList() {
  QuillpointListStamp stamp;
  stamp.path = ReadSetting(kListSetting, stamp.found);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (stamp.found && GetFileAttributesExW(stamp.path.c_str(), GetFileExInfoStandard, &data) &&
      !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    stamp.exists = true;
    stamp.written = data.ftLastWriteTime;
    stamp.size = (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  }
  return stamp;
}

QuillpointList ReadQuillpointList() {
  QuillpointList list;
  bool found = false;
  list.path = ReadSetting(kListSetting, found);
  if (!found) return list;
  std::string bytes;
  if (!ReadWholeFile(list.path, bytes)) return list;
  list.present = true;
  list.names = ParseQuillpointNames(bytes);
  return list;
}

std::wstring UpperCase(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

bool AppendLine(const std::wstring& path, const std::wstring& line) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string bytes = ToUtf8(line) + "\r\n";
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  CloseHandle(file);
  return ok;
}

}  // namespace standin
