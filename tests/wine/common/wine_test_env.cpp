#include "wine_test_env.h"

#include "nvstagQP.h"

#include "window_watcher.h"

#include <gtest/gtest.h>

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <fstream>
#include <vector>

namespace qp::test {

std::wstring BinFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring folder(path, n);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// The prefix's programs that run now, for a failure to start another.
static std::string RunningPrograms() {
  std::string names;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    names += Narrow(entry.szExeFile) + " ";
  CloseHandle(snapshot);
  return names;
}

Program::Program(const std::wstring& commandLine, const std::wstring& outputFile)
    : commandLine_(commandLine) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!outputFile.empty()) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                         CREATE_ALWAYS, 0, nullptr);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = output;
  }
  PROCESS_INFORMATION pi = {};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, !outputFile.empty(),
                                      0, nullptr, nullptr, &si, &pi);
  const DWORD error = GetLastError();
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!started) {
    ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": error " << error
                  << "; running: " << RunningPrograms();
    return;
  }
  thread_ = pi.hThread;
  process_ = pi.hProcess;
  id_ = pi.dwProcessId;
}

DWORD Program::Finish(DWORD timeoutMs) {
  if (!process_) return static_cast<DWORD>(-1);
  DWORD code = static_cast<DWORD>(-2);
  if (WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process_, &code);
  } else {
    ADD_FAILURE() << "waited " << timeoutMs << " ms in vain for " << Narrow(commandLine_)
                  << " to end; it was ended";
  }
  End();
  return code;
}

void Program::End() {
  if (!process_) return;
  // TerminateProcess only asks for the end: the program may still be running when it returns.
  if (Running()) TerminateProcess(process_, 99);
  if (WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0)
    ADD_FAILURE() << Narrow(commandLine_) << " did not end within 30 s of being ended";
  CloseHandle(process_);
  process_ = nullptr;
}

DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
  return Program(commandLine).Finish(timeoutMs);
}

DWORD RunThisProgram(const std::wstring& arguments, DWORD timeoutMs) {
  wchar_t self[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  return RunProgram(L"\"" + std::wstring(self) + L"\" " + arguments, timeoutMs);
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[256];  // the longest key name the registry allows, and its end
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return names;
    names.emplace_back(name, length);
  }
}

void CollectRegistry(HKEY root, const std::wstring& path, const std::wstring& shown,
                     std::set<std::wstring>& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out.insert(Upper(shown));
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    BYTE data[4096] = {};
    DWORD nameLen = 256, dataLen = sizeof data - 2, type = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS)
      break;
    std::wstring text = type == REG_SZ ? reinterpret_cast<const wchar_t*>(data)
                                       : L"<type " + std::to_wstring(type) + L">";
    if (text.size() > 3 && text.back() == L'\\') text.pop_back();
    out.insert(Upper(shown + L"|" + std::wstring(name, nameLen) + L"=" + text));
  }
  const std::vector<std::wstring> subkeys = SubkeyNames(key);
  RegCloseKey(key);
  for (const auto& sub : subkeys)
    CollectRegistry(root, path.empty() ? sub : path + L"\\" + sub,
                    shown.empty() ? sub : shown + L"\\" + sub, out);
}

std::wstring Upper(std::wstring s) {
  CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

std::wstring GuidText(const GUID& g) {
  wchar_t text[40] = {};
  StringFromGUID2(g, text, 40);
  return text;
}

void SetSetting(HKEY hive, const wchar_t* name, const wchar_t* value) {
  if (value) {
    RegSetKeyValueW(hive, kSettingsKey, name, REG_SZ, value,
                    static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  } else {
    RegDeleteKeyValueW(hive, kSettingsKey, name);
  }
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
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty())
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::wstring TempPath(const std::wstring& name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return folder + name;
}

std::wstring ConfigFolder() {
  wchar_t buffer[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, buffer);
  return std::wstring(buffer) + L"\\Norvane";
}

std::wstring ConfigPath() {
  return ConfigFolder() + L"\\nvstagQP.cfg";
}

void WriteConfig(const std::string& bytes) {
  CreateDirectoryW(ConfigFolder().c_str(), nullptr);
  if (!WriteFileBytes(ConfigPath(), bytes)) ADD_FAILURE() << "cannot write the configuration file";
}

std::vector<std::wstring> ConfigFolderEntries() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((ConfigFolder() + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

void RemoveConfigFolder() {
  // The shell's delete takes a folder with its files, read-only ones too, or a file.
  const std::wstring from = ConfigFolder() + L'\0';  // a list, ended by an empty name
  SHFILEOPSTRUCTW remove = {};
  remove.wFunc = FO_DELETE;
  remove.pFrom = from.c_str();
  remove.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  SHFileOperationW(&remove);
}

namespace {
std::wstring QuillpointListPath() {
  return TempPath(L"qp_test_quillpoints.txt");
}
std::wstring AddInLogPath() {
  return TempPath(L"qp_test_addin.log");
}
}  // namespace

void SetStandInSetting(const wchar_t* name, const std::wstring& value) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kStandInKey, name, REG_SZ, value.c_str(),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void SetQuillpoints(const std::vector<std::wstring>& names) {
  std::string text;
  for (const auto& n : names)
    text += Narrow(n) + "\r\n";
  if (!WriteFileBytes(QuillpointListPath(), text)) ADD_FAILURE() << "cannot write the Quillpoints";
  DeleteFileW(AddInLogPath().c_str());
  SetStandInSetting(L"QuillpointList", QuillpointListPath());
  SetStandInSetting(L"AddInCallLog", AddInLogPath());
}

std::vector<std::wstring> AddInCalls() {
  std::ifstream in(AddInLogPath().c_str(), std::ios::binary);
  std::vector<std::wstring> lines;
  // The names are ASCII (see SetQuillpoints), so each byte is one character.
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.emplace_back(line.begin(), line.end());
  }
  return lines;
}

void RemoveStandInSettings() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kStandInKey);
  DeleteFileW(QuillpointListPath().c_str());
  DeleteFileW(AddInLogPath().c_str());
}

void ResetProductState() {
  SetSetting(HKEY_CURRENT_USER, kFlag, nullptr);
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, nullptr);
  RemoveConfigFolder();
  RemoveStandInSettings();
}

std::wstring TimeSeparator() {
  wchar_t separator[8] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8);
  return separator;
}

std::wstring Stamp(const SYSTEMTIME& t) {
  wchar_t text[64] = {};
  const std::wstring sep = TimeSeparator();
  wsprintfW(text, L"%04u%02u%02u%02u%s%02u%s%02u", t.wYear, t.wMonth, t.wDay, t.wHour, sep.c_str(),
            t.wMinute, sep.c_str(), t.wSecond);
  return text;
}

std::wstring RegisteredServerPath() {
  const std::wstring key = L"CLSID\\" + GuidText(CLSID_Recognizer) + L"\\InprocServer32";
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = sizeof path;
  RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size);
  return path;
}

HRESULT CreateByProgId(const std::wstring& progId, REFIID iid, void** out) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
  return FAILED(hr) ? hr : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

std::wstring Message(UINT id, const std::wstring& argument) {
  static HMODULE library = LoadLibraryExW((BinFolder() + L"\\1033\\nvsqpres.dll").c_str(), nullptr,
                                          LOAD_LIBRARY_AS_DATAFILE);
  const wchar_t* text = nullptr;
  int n = library ? LoadStringW(library, id, reinterpret_cast<LPWSTR>(&text), 0) : 0;
  std::wstring s(text ? text : L"", static_cast<size_t>(n));
  Replace(s, L"%s", argument);
  Replace(s, L"\\n", L"\r\n");
  return s;
}

}  // namespace qp::test
