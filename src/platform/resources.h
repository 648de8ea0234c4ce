// Localized strings from the resource library, the help file, the language folder and the
// per-user settings in the registry.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qp {

// Localized message ids in the resource library.
enum MessageId : UINT {
  kMsgMissingComponent = 102,
  kMsgBadVerb = 104,
  kMsgNotTemplate = 105,
  kMsgEmptyValue = 107,
  kMsgInsertQuillpoint = 108,
  kMsgTermsCaption = 110,
  kMsgPromptQuestion = 111,
  kMsgTermExists = 112,
};

inline constexpr wchar_t kResourceLibraryName[] = L"nvsqpres.dll";
inline constexpr wchar_t kHelpFileName[] = L"nvauthor.chm";
inline constexpr wchar_t kPopupTopics[] = L"::/popups.txt";
inline constexpr wchar_t kSettingsKey[] = L"Software\\Brantolu\\Norvane\\Quillpoint\\Smart Tag";
inline constexpr wchar_t kRegistryProgId[] = L"HiveLibrary.Registry";
inline constexpr long kHiveCurrentUser = static_cast<long>(0x80000001);
inline constexpr long kHiveLocalMachine = static_cast<long>(0x80000002);

// The module whose folder holds the language folder (the server DLL itself).
void SetComponentModule(HMODULE module);
HMODULE ComponentModule();

std::wstring AppendPathPart(const std::wstring& base, const std::wstring& part);
std::wstring GetLanguageFolder();
// The language folder beside the module at that path.
std::wstring LanguageFolderOf(const std::wstring& modulePath);
std::wstring GetResourceFilePath(const std::wstring& fileName);
std::wstring GetHelpFilePath(const std::wstring& fileName, bool popupTopics);

// The resource library of the calling thread.
void LoadResourceLibrary(const std::wstring& path);
HMODULE ResourceLibrary();

// Loads string id and fills its placeholders: "%s" and "%1", "%2"... by the arguments, then
// "\n" (backslash, n) becomes a line break.
std::wstring GetResourceString(UINT id, const std::vector<std::wstring>& args);
// The placeholder and line-break rules alone, on a loaded text.
std::wstring FormatResourceText(std::wstring text, const std::vector<std::wstring>& args);

// The component's help file: the forms' What's-This topics come from it. One per thread, set
// by the engines created on it.
void SetAppHelpFile(const std::wstring& path);
std::wstring AppHelpFile();
bool ShowHelp(HWND window, const std::wstring& helpFile, DWORD topicId);
// The What's-This popup of a topic of the popup topics ("file.chm::/popups.txt"), at a point.
void ShowHelpPopup(HWND window, const std::wstring& popupTopics, DWORD topicId, POINT at);

// Term-cache invalidation stamp, shared by every engine of the user.
std::wstring GetCacheFlushFlag();
void SetCacheFlushFlag();
// Writes the stamp of a moment later than `moment` by at least its second: when the clock
// still shows that second, waits for the next one (at most a second). An engine that took the
// flag as its stamp at or before `moment` thus finds the flag changed at its next check, even
// where it rebuilt in the very second of the moment.
void SetCacheFlushFlagAfter(const SYSTEMTIME& moment);
// "YYYYMMDDHH:MM:SS" with the locale's time separator.
std::wstring FormatCacheFlushStamp(const SYSTEMTIME& time, const std::wstring& timeSeparator);

// The registry component, created for one call each time.
//
// While a RegistryClassHold lives on the calling thread (every engine holds one), the
// component's class factory is kept for that thread, and each use creates its new component
// from it instead of looking the class up in the registry again. The kept factory is dropped
// when the class registrations change (the component unregistered, moved or registered anew),
// so the next use finds the component as it is registered then, or fails as a missing one.
class RegistryClassHold {
 public:
  RegistryClassHold();
  ~RegistryClassHold();
  RegistryClassHold(const RegistryClassHold&) = delete;
  RegistryClassHold& operator=(const RegistryClassHold&) = delete;
};
std::wstring RegistryGetValue(long hive, const std::wstring& key, const std::wstring& name,
                              const std::wstring* defaultValue);
void RegistrySetValue(long hive, const std::wstring& key, const std::wstring& name,
                      const std::wstring& value);

}  // namespace qp
