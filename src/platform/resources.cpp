#include "resources.h"

#include <htmlhelp.h>

#include "automation.h"
#include "error.h"

namespace qp {
namespace {

HMODULE g_componentModule = nullptr;
thread_local HMODULE g_hResourceLibrary = nullptr;
std::wstring g_appHelpFile;

void ReplaceAll(std::wstring& text, const std::wstring& what, const std::wstring& with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

std::wstring AnsiToWide(const char* text, int n) {
  if (n <= 0) return std::wstring();
  int w = MultiByteToWideChar(CP_ACP, 0, text, n, nullptr, 0);
  std::wstring s(static_cast<size_t>(w), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, n, s.data(), w);
  return s;
}

std::string WideToAnsi(const std::wstring& s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string a(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), a.data(), n, nullptr,
                      nullptr);
  return a;
}

// The registry component's class as this thread last found it, while engines hold it, and a
// watch on the class registrations of the user and of the machine. Plain values: a thread's
// storage of this module must not release COM objects when the thread or the module goes.
struct KeptRegistryClass {
  unsigned holders;
  IClassFactory* factory;
  HANDLE changed;  // signalled by any change below the watched keys
  HKEY watched[2];
};
thread_local KeptRegistryClass g_registryClass = {};

void StopWatching(KeptRegistryClass& kept) {
  for (HKEY& key : kept.watched) {
    if (key) RegCloseKey(key);
    key = nullptr;
  }
}

void DropFactory(KeptRegistryClass& kept) {
  if (kept.factory) {
    kept.factory->LockServer(FALSE);
    kept.factory->Release();
    kept.factory = nullptr;
  }
  StopWatching(kept);
}

// A registration changes under "Software\Classes" of either hive (HKEY_CLASSES_ROOT shows the
// two merged). A notification fires once, so the keys are opened and watched anew each time.
bool WatchClassRegistrations(KeptRegistryClass& kept) {
  StopWatching(kept);
  if (!kept.changed) kept.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!kept.changed) return false;
  ResetEvent(kept.changed);
  const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
  for (size_t i = 0; i < 2; ++i) {
    // Every Windows profile has the key; a fresh one of Wine may lack it until first used.
    HKEY key = nullptr;
    if (RegCreateKeyExW(roots[i], L"Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_NOTIFY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      StopWatching(kept);
      return false;
    }
    kept.watched[i] = key;
    if (RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                kept.changed, TRUE) != ERROR_SUCCESS) {
      StopWatching(kept);
      return false;
    }
  }
  return true;
}

// A new registry component. Kept, the factory cannot go stale: it is dropped as soon as any
// class registration changes, and it holds the component's server loaded (LockServer) while
// it is kept.
ComPtr<IDispatch> NewRegistryComponent() {
  KeptRegistryClass& kept = g_registryClass;
  if (kept.holders == 0) return CreateObject(kRegistryProgId);
  if (kept.factory && WaitForSingleObject(kept.changed, 0) != WAIT_TIMEOUT) DropFactory(kept);
  ComPtr<IClassFactory> factory = kept.factory;
  if (!factory) {
    // Watched before the look-up, so that a change during it is seen at the next use.
    const bool watching = WatchClassRegistrations(kept);
    CLSID clsid;
    Check(CLSIDFromProgID(kRegistryProgId, &clsid));
    Check(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr,
                           IID_PPV_ARGS(&factory)));
    if (watching && SUCCEEDED(factory->LockServer(TRUE))) {
      kept.factory = factory.Get();
      kept.factory->AddRef();
    }
  }
  ComPtr<IDispatch> component;
  Check(factory->CreateInstance(nullptr, IID_PPV_ARGS(&component)));
  return component;
}

}  // namespace

RegistryClassHold::RegistryClassHold() { ++g_registryClass.holders; }

RegistryClassHold::~RegistryClassHold() {
  KeptRegistryClass& kept = g_registryClass;
  if (--kept.holders != 0) return;
  DropFactory(kept);
  if (kept.changed) CloseHandle(kept.changed);
  kept.changed = nullptr;
}

void SetComponentModule(HMODULE module) { g_componentModule = module; }
HMODULE ComponentModule() { return g_componentModule; }

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

void LoadResourceLibrary(const std::wstring& path) {
  // Never freed: every engine on the thread loads it again and it stays until the process ends.
  g_hResourceLibrary = LoadLibraryA(WideToAnsi(path).c_str());
}

HMODULE ResourceLibrary() { return g_hResourceLibrary; }

std::wstring FormatResourceText(std::wstring text, const std::vector<std::wstring>& args) {
  if (!args.empty()) {
    ReplaceAll(text, L"%s", args[0]);
    for (size_t i = 0; i < args.size(); ++i) ReplaceAll(text, L"%" + std::to_wstring(i + 1), args[i]);
  }
  ReplaceAll(text, L"\\n", L"\r\n");
  return text;
}

std::wstring GetResourceString(UINT id, const std::vector<std::wstring>& args) {
  char buffer[1024] = {};
  int n = g_hResourceLibrary ? LoadStringA(g_hResourceLibrary, id, buffer, 1024) : 0;
  return FormatResourceText(AnsiToWide(buffer, n), args);
}

void SetAppHelpFile(const std::wstring& path) { g_appHelpFile = path; }
std::wstring AppHelpFile() { return g_appHelpFile; }

bool ShowHelp(HWND window, const std::wstring& helpFile, DWORD topicId) {
  std::string file = WideToAnsi(helpFile);
  HWND shown;
  if (topicId != 0) {
    shown = HtmlHelpA(window, file.c_str(), HH_HELP_CONTEXT, topicId);
  } else {
    static const DWORD kOne = 1;
    shown = HtmlHelpA(window, file.c_str(), HH_DISPLAY_TOC, reinterpret_cast<DWORD_PTR>(&kOne));
  }
  return shown != nullptr;
}

void ShowHelpPopup(HWND window, const std::wstring& popupTopics, DWORD topicId, POINT at) {
  if (popupTopics.empty()) return;
  HH_POPUP popup = {};
  popup.cbStruct = sizeof popup;
  popup.idString = topicId;
  popup.pt = at;
  popup.clrForeground = static_cast<COLORREF>(-1);
  popup.clrBackground = static_cast<COLORREF>(-1);
  popup.rcMargins = {-1, -1, -1, -1};
  HtmlHelpW(window, popupTopics.c_str(), HH_DISPLAY_TEXT_POPUP,
            reinterpret_cast<DWORD_PTR>(&popup));
}

std::wstring RegistryGetValue(long hive, const std::wstring& key, const std::wstring& name,
                              const std::wstring* defaultValue) {
  ComPtr<IDispatch> registry = NewRegistryComponent();
  if (defaultValue) {
    return Call(registry.Get(), L"getValue",
                {Variant::FromLong(hive), Variant::FromString(key), Variant::FromString(name),
                 Variant::FromString(*defaultValue)})
        .AsString();
  }
  return Call(registry.Get(), L"getValue",
              {Variant::FromLong(hive), Variant::FromString(key), Variant::FromString(name)})
      .AsString();
}

void RegistrySetValue(long hive, const std::wstring& key, const std::wstring& name,
                      const std::wstring& value) {
  ComPtr<IDispatch> registry = NewRegistryComponent();
  Call(registry.Get(), L"setValue",
       {Variant::FromLong(hive), Variant::FromString(key), Variant::FromString(name),
        Variant::FromString(value)});
}

std::wstring GetCacheFlushFlag() {
  const std::wstring none;
  return RegistryGetValue(kHiveCurrentUser, kSettingsKey, L"SmartTagCacheFlushFlag", &none);
}

std::wstring FormatCacheFlushStamp(const SYSTEMTIME& t, const std::wstring& sep) {
  wchar_t date[16];
  wsprintfW(date, L"%04u%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour);
  wchar_t minute[4], second[4];
  wsprintfW(minute, L"%02u", t.wMinute);
  wsprintfW(second, L"%02u", t.wSecond);
  return std::wstring(date) + sep + minute + sep + second;
}

void SetCacheFlushFlag() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t sep[8] = L":";
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, sep, 8) <= 0) lstrcpyW(sep, L":");
  RegistrySetValue(kHiveCurrentUser, kSettingsKey, L"SmartTagCacheFlushFlag",
                   FormatCacheFlushStamp(now, sep));
}

}  // namespace qp
