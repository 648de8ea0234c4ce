// The test programs' view of the prefix they run in: where the build's files are, running a
// program as a user would, and the product's registry settings.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace qp::test {

// The folder of the running test program: the build's "bin", beside the servers.
std::wstring BinFolder();
// A program started from a command line (e.g. L"regsvr32 /s x.dll") as a user starts one, its
// output in a file when one is named; one that cannot start fails the test. Finish waits for its
// end and returns its exit code (one still running after the time given fails the test); End,
// and going out of scope, end it and wait for that: nothing of it outlives the test.
class Program {
 public:
  explicit Program(const std::wstring& commandLine, const std::wstring& outputFile = L"");
  ~Program() {
    End();
    if (thread_) CloseHandle(thread_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return id_; }
  HANDLE Process() const { return process_; }
  HANDLE Thread() const { return thread_; }  // its first thread
  bool Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  DWORD Finish(DWORD timeoutMs);
  void End();

 private:
  std::wstring commandLine_;
  HANDLE process_ = nullptr, thread_ = nullptr;
  DWORD id_ = 0;
};
// Runs a command line, waits, returns its exit code (see Program).
DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 120000);
// Runs this test program again, as a process of its own, with the arguments (a --gtest_filter).
DWORD RunThisProgram(const std::wstring& arguments, DWORD timeoutMs = 120000);

inline constexpr wchar_t kSettingsKey[] = L"Software\\Brantolu\\Norvane\\Quillpoint\\Smart Tag";
inline constexpr wchar_t kFlag[] = L"SmartTagCacheFlushFlag";  // HKEY_CURRENT_USER
inline constexpr wchar_t kDisplayErrors[] = L"DisplayErrors";  // HKEY_LOCAL_MACHINE
inline constexpr wchar_t kStandInKey[] = L"Software\\Brantolu\\Norvane\\Stand-ins";
inline constexpr wchar_t kBoxTitle[] = L"Quillpoint Smart Tag";
// The server's classes.
inline constexpr wchar_t kRecognizerProgId[] = L"NVSmartTagQuillpoint.Recognizer";
inline constexpr wchar_t kActionProgId[] = L"NVSmartTagQuillpoint.Action";
inline constexpr wchar_t kControllerProgId[] = L"NVSmartTagQuillpoint.Controller";
// The names of a key's subkeys, in the registry's order.
std::vector<std::wstring> SubkeyNames(HKEY key);
// The key `path` of `root` and everything below it, as lines "KEY" and "KEY|NAME=DATA", KEY
// spelled from `shown` on. All upper-cased: key names and paths are not case-sensitive (Wine
// spells "Typelib"). Values that are not text read "<type N>"; a folder path loses the trailing
// backslash that Windows Installer writes and a program does not.
void CollectRegistry(HKEY root, const std::wstring& path, const std::wstring& shown,
                     std::set<std::wstring>& out);
std::wstring Upper(std::wstring s);
// "{XXXXXXXX-...}", as the registry spells a GUID.
std::wstring GuidText(const GUID& g);

// Sets (or with nullptr deletes) a string value of the settings key in a hive.
void SetSetting(HKEY hive, const wchar_t* name, const wchar_t* value);
// The setting's text, or nullptr-like empty with found=false.
std::wstring GetSetting(HKEY hive, const wchar_t* name, bool* found = nullptr);

// A string a call handed over, freed.
inline std::wstring Take(BSTR b) {
  std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
  SysFreeString(b);
  return s;
}
// The string a property read hands over: `ask(BSTR*)` must succeed.
template <class Ask>
std::wstring TextOf(Ask ask) {
  BSTR b = nullptr;
  EXPECT_EQ(ask(&b), S_OK);
  return Take(b);
}

// UTF-8, for failure messages and for files (the tests' own texts are ASCII).
std::string Narrow(const std::wstring& s);
// A file's bytes; "(missing)" when it cannot be read.
std::string FileBytes(const std::wstring& path);
// Writes a file whole; false when it cannot be written.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::wstring TempPath(const std::wstring& name);

// The user's configuration: the folder "Norvane" of the application data and the file in it.
std::wstring ConfigFolder();
std::wstring ConfigPath();
// Writes the configuration file (and its folder).
void WriteConfig(const std::string& bytes);
// Removes the folder with its files, or a file standing where the folder belongs.
void RemoveConfigFolder();
// Names of the entries of the configuration folder.
std::vector<std::wstring> ConfigFolderEntries();

// A value of the stand-ins' settings key (the list they read, the dictionary they hand out).
void SetStandInSetting(const wchar_t* name, const std::wstring& value);
// The stand-in catalog's and Word add-in's Quillpoints (one a line in a file the stand-ins'
// registry key names) and the add-in's log of calls, started empty.
void SetQuillpoints(const std::vector<std::wstring>& names);
std::vector<std::wstring> AddInCalls();
// Takes the stand-ins' key and files away.
void RemoveStandInSettings();

// The product's registry values and files back as a fresh installation has them: no flag, no
// display switch, no configuration folder, no stand-in list.
void ResetProductState();

// The user locale's time separator, read from the platform.
std::wstring TimeSeparator();
// The cache flush stamp a moment has in the user's locale: "YYYYMMDDHH" sep "MM" sep "SS".
std::wstring Stamp(const SYSTEMTIME& t);

// The server's DLL as the registry names it: the very module COM loads.
std::wstring RegisteredServerPath();

// An object created by ProgID through the registry, as Office and Word create them.
HRESULT CreateByProgId(const std::wstring& progId, REFIID iid, void** out);
template <class T>
HRESULT CreateByProgId(const std::wstring& progId, T** out) {
  return CreateByProgId(progId, __uuidof(T), reinterpret_cast<void**>(out));
}

// A message as the build's resource library holds it, with its argument and line breaks filled
// in, read without the product's own string routines.
std::wstring Message(UINT id, const std::wstring& argument);

// COM for the test's thread, apartment-threaded as in Office.
class ComApartment {
 public:
  ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComApartment() { CoUninitialize(); }
};

}  // namespace qp::test
