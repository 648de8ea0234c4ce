#include "quillpoint_list.h"

#include <algorithm>
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

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // In one piece as far as the size is known, then on in chunks for a file that grew meanwhile.
  LARGE_INTEGER size = {};
  bytes.clear();
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 30))
    bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  bool ok = bytes.empty() ||
            ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(ok ? got : 0);
  char chunk[4096];
  while (ok && (ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got > 0)
    bytes.append(chunk, got);
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

void ParseQuillpointNames(std::string_view utf8, QuillpointList& list) {
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  std::wstring& all = list.text;
  all.clear();
  list.spans.clear();
  if (!utf8.empty()) {
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    all.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, all.data(), n);
  }
  // The names stay where the lines put them; only the spans say where each one is.
  const std::wstring_view text = all;
  list.spans.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), L'\n')) + 1);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring_view::npos) end = text.size();
    const std::wstring_view line = text.substr(start, end - start);
    const size_t first = line.find_first_not_of(L" \t\r");
    if (first != std::wstring_view::npos && line[first] != L'#') {
      const size_t last = line.find_last_not_of(L" \t\r");
      list.spans.push_back(
          {static_cast<uint32_t>(start + first), static_cast<uint32_t>(last - first + 1)});
    }
    start = end + 1;
  }
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
  ParseQuillpointNames(bytes, list);
  return list;
}

std::wstring UpperCase(std::wstring_view text) {
  std::wstring upper(text);
  if (!upper.empty()) CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  return upper;
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
