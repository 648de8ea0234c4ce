// The test programs' view of the prefix they run in: where the build's files are, running a
// program as a user would, and the product's registry settings.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>

namespace qp::test {

// The folder of the running test program: the build's "bin", beside the servers.
std::wstring BinFolder();
// Runs a command line (e.g. L"regsvr32 /s x.dll"), waits, returns its exit code.
DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 120000);

inline constexpr wchar_t kSettingsKey[] = L"Software\\Brantolu\\Norvane\\Quillpoint\\Smart Tag";
// Sets (or with nullptr deletes) a string value of the settings key in a hive.
void SetSetting(HKEY hive, const wchar_t* name, const wchar_t* value);
// The setting's text, or nullptr-like empty with found=false.
std::wstring GetSetting(HKEY hive, const wchar_t* name, bool* found = nullptr);

// A file's bytes; "(missing)" when it cannot be read.
std::string FileBytes(const std::wstring& path);

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
