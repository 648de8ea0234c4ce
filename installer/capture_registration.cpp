// Turns the server's own self-registration into Windows Installer registry rows, so that the
// package writes exactly what DllRegisterServer writes and the two cannot drift apart: the DLL
// registers itself into a scratch key that stands in for HKEY_CLASSES_ROOT, and every value
// found there becomes a RegistryValue, with the DLL's path turned into the installed file's and
// its folder into the install folder. The rows name HKEY_CLASSES_ROOT, which Windows Installer
// writes under HKEY_CURRENT_USER\Software\Classes in a per-user installation.
//   capture_registration DLL OUTPUT.wxi [NAME=PROGID...]
// Each NAME=PROGID defines the WiX variable NAME as the CLSID registered for PROGID.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kScratch[] = L"Software\\QuillpointRegistrationCapture";

struct Value {
  std::wstring key, name, data;
};

[[noreturn]] void Fail(const std::wstring& what) {
  fwprintf(stderr, L"capture_registration: %ls\n", what.c_str());
  exit(1);
}

std::wstring Lower(std::wstring s) {
  CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

void Collect(HKEY parent, const std::wstring& path, std::vector<Value>& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    Fail(L"cannot open " + path);
  std::vector<std::wstring> subkeys;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = 256;
    if (RegEnumKeyExW(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    subkeys.emplace_back(name, nameLen);
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = 256, type = 0, size = 0;
    if (RegEnumValueW(key, i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    if (type != REG_SZ) Fail(L"a value that is not a string under " + path);
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    DWORD dataLen = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    nameLen = 256;
    RegEnumValueW(key, i, name, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                  &dataLen);
    data.resize(wcsnlen(data.c_str(), dataLen / sizeof(wchar_t)));
    out.push_back({path, std::wstring(name, nameLen), data});
  }
  RegCloseKey(key);
  for (const auto& sub : subkeys)
    Collect(parent, path.empty() ? sub : path + L"\\" + sub, out);
}

std::wstring XmlEscape(const std::wstring& s) {
  std::wstring out;
  for (wchar_t c : s) {
    switch (c) {
      case L'&':
        out += L"&amp;";
        break;
      case L'<':
        out += L"&lt;";
        break;
      case L'>':
        out += L"&gt;";
        break;
      case L'"':
        out += L"&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The type library's platform key ("win32" or "win64" below "<version>\0") follows the package.
std::wstring PlatformNeutral(const std::wstring& key) {
  if (Lower(key).rfind(L"typelib\\", 0) != 0) return key;
  for (const wchar_t* platform : {L"\\0\\win32", L"\\0\\win64"}) {
    const size_t at = Lower(key).rfind(platform);
    if (at != std::wstring::npos && at + wcslen(platform) == key.size())
      return key.substr(0, at) + L"\\0\\$(var.TypeLibPlatform)";
  }
  return key;
}

void WriteUtf8(FILE* f, const std::wstring& s) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), bytes.data(), n, nullptr,
                      nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) Fail(L"usage: capture_registration DLL OUTPUT.wxi [NAME=PROGID...]");
  HKEY scratch = nullptr;
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch,
                      nullptr) != ERROR_SUCCESS)
    Fail(L"cannot create the scratch key");
  HMODULE module = LoadLibraryW(argv[1]);
  if (!module) Fail(std::wstring(L"cannot load ") + argv[1]);
  // The path as the DLL itself will see it.
  wchar_t path[MAX_PATH * 2] = {};
  const std::wstring dll(path, GetModuleFileNameW(module, path, MAX_PATH * 2));
  const std::wstring folder = dll.substr(0, dll.find_last_of(L'\\'));
  const std::wstring fileName = dll.substr(folder.size() + 1);
  auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  if (!registerServer) Fail(L"no DllRegisterServer in " + dll);
  if (RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch) != ERROR_SUCCESS)
    Fail(L"cannot redirect HKEY_CLASSES_ROOT");
  const HRESULT hr = registerServer();
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  if (FAILED(hr)) Fail(L"DllRegisterServer failed");

  std::vector<Value> values;
  Collect(scratch, L"", values);
  RegCloseKey(scratch);
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  if (values.empty()) Fail(L"DllRegisterServer wrote nothing");

  std::map<std::wstring, std::wstring> clsidOfProgId;
  for (const Value& v : values)
    if (v.name.empty() && Lower(v.key).size() > 6 &&
        Lower(v.key).compare(v.key.size() - 6, 6, L"\\clsid") == 0)
      clsidOfProgId[Lower(v.key.substr(0, v.key.size() - 6))] = v.data;

  FILE* out = _wfopen(argv[2], L"wb");
  if (!out) Fail(std::wstring(L"cannot write ") + argv[2]);
  WriteUtf8(out,
            L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            L"<!-- Made by capture_registration from " +
                fileName + L"'s DllRegisterServer at build time. -->\n<Include>\n");
  for (int i = 3; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const size_t eq = arg.find(L'=');
    if (eq == std::wstring::npos) Fail(L"expected NAME=PROGID: " + arg);
    auto found = clsidOfProgId.find(Lower(arg.substr(eq + 1)));
    if (found == clsidOfProgId.end()) Fail(L"not registered: " + arg.substr(eq + 1));
    WriteUtf8(out, L"  <?define " + arg.substr(0, eq) + L" = \"" + found->second + L"\" ?>\n");
  }
  for (const Value& v : values) {
    std::wstring data = v.data;
    // Windows Installer formats these texts: only the DLL's own path and folder may be bracketed.
    if (data.find_first_of(L"[]") != std::wstring::npos) Fail(L"brackets in " + v.key);
    if (Lower(data) == Lower(dll))
      data = L"[#" + fileName + L"]";
    else if (Lower(data) == Lower(folder))
      data = L"[INSTALLFOLDER]";
    else if (Lower(data).find(Lower(folder)) != std::wstring::npos)
      Fail(L"a path in the build folder that the package cannot map: " + v.key);
    WriteUtf8(out, L"  <RegistryValue Root=\"HKCR\" Key=\"" + XmlEscape(PlatformNeutral(v.key)) +
                       L"\"" + (v.name.empty() ? L"" : L" Name=\"" + XmlEscape(v.name) + L"\"") +
                       L" Type=\"string\" Value=\"" + XmlEscape(data) + L"\" />\n");
  }
  WriteUtf8(out, L"</Include>\n");
  fclose(out);
  return 0;
}
