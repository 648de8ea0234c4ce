// The product as a Word user and as an administrator get it: the signed package installed with
// msiexec with a company's terms, for the user or for the machine, into a prefix in which nothing
// of the build is registered, the Norvane stand-ins registered beside it, the Office host harness
// recognising the sample letter (and running both verbs), then an upgrade and the removal.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "nvstagQP.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;

constexpr wchar_t kClasses[] = L"Software\\Classes";
constexpr wchar_t kOfficeKey[] = L"Software\\Microsoft\\Office\\Common\\Smart Tag";
constexpr wchar_t kInstallKey[] = L"Software\\Norvane\\Quillpoint Smart Tag";
constexpr DWORD kInstallTimeoutMs = 180000;

std::wstring Env(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value ? value : L"";
}

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

// The two ways the package installs: the hive of the install key and Office's keys, the folder
// that gets "Norvane", and what asks msiexec for it. Wine's Windows Installer is that of 4.5,
// which ignores MSIINSTALLPERUSER and installs ALLUSERS=2 per machine for an administrator: the
// installation for the user alone is asked for as it is there, with ALLUSERS="".
// Its classes are read where COM reads them: a per-user package writes into the user's
// Software\Classes, which COM reads over the machine's through HKEY_CLASSES_ROOT (as Wine's COM
// and Windows Installer do).
struct Scope {
  HKEY hive;
  std::wstring programs;
  const wchar_t* properties;
  HKEY classesRoot;
  std::wstring classes;
};
Scope PerUser() {
  return {HKEY_CURRENT_USER, KnownFolder(CSIDL_LOCAL_APPDATA) + L"\\Programs", L"ALLUSERS=\"\"",
          HKEY_CLASSES_ROOT, L""};
}
// The Program Files of the test's bitness, which is the package's.
Scope PerMachine() {
  return {HKEY_LOCAL_MACHINE, KnownFolder(CSIDL_PROGRAM_FILES), L"ALLUSERS=1", HKEY_LOCAL_MACHINE,
          std::wstring(kClasses) + L"\\"};
}

std::wstring InstallFolder(const Scope& scope) {
  return scope.programs + L"\\Norvane\\Quillpoint Smart Tag";
}
std::wstring ServerIn(const Scope& scope) {
  return InstallFolder(scope) + L"\\nvstagQP.dll";
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Office's keys that list the recognizer and the action.
std::vector<std::wstring> OfficeKeys() {
  return {std::wstring(kOfficeKey) + L"\\Recognizers\\" + GuidText(CLSID_Recognizer),
          std::wstring(kOfficeKey) + L"\\Actions\\" + GuidText(CLSID_Action)};
}

// The server COM creates the recognizer from.
std::wstring ComServer() {
  return Upper(RegisteredServerPath());
}

// What the DLL's own DllRegisterServer writes (as regsvr32 calls it), caught in a scratch key
// that stands in for HKEY_CLASSES_ROOT; the top-level keys it wrote come back in `roots`.
std::set<std::wstring> SelfRegistration(const std::wstring& dll, std::vector<std::wstring>& roots) {
  constexpr wchar_t kScratch[] = L"Software\\QpInstalledProductTest";
  std::set<std::wstring> values;
  HKEY scratch = nullptr;
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch,
                  nullptr);
  HMODULE module = LoadLibraryW(dll.c_str());
  EXPECT_NE(module, nullptr) << Narrow(dll);
  if (!module) return values;
  auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch), ERROR_SUCCESS);
  EXPECT_EQ(registerServer(), S_OK);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
  FreeLibrary(module);
  // Two levels: "CLSID\{...}", "TypeLib\{...}", "Interface\{...}", and the ProgIDs themselves.
  for (const std::wstring& top : SubkeyNames(scratch)) {
    const std::wstring upper = Upper(top);
    if (upper != L"CLSID" && upper != L"TYPELIB" && upper != L"INTERFACE") {
      roots.push_back(top);
      continue;
    }
    HKEY group = nullptr;
    RegOpenKeyExW(scratch, top.c_str(), 0, KEY_READ, &group);
    for (const std::wstring& member : SubkeyNames(group))
      roots.push_back(top + L"\\" + member);
    RegCloseKey(group);
  }
  for (const auto& root : roots)
    CollectRegistry(scratch, root, root, values);
  RegCloseKey(scratch);
  RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  return values;
}

std::string Join(const std::set<std::wstring>& lines) {
  std::string out;
  for (const auto& l : lines)
    out += "  " + Narrow(l) + "\n";
  return out;
}

// The package in the scope: its files; its classes exactly what the installed DLL's
// self-registration writes (the keys it wrote come back); COM's server the installed copy;
// Office's keys and the install key in the scope's hive alone.
std::vector<std::wstring> ExpectInstalled(const Scope& scope, const Scope& other) {
  for (const wchar_t* file : {L"\\nvstagQP.dll", L"\\1033\\nvsqpres.dll", L"\\1033\\nvauthor.chm"})
    EXPECT_TRUE(FileExists(InstallFolder(scope) + file)) << Narrow(file);
  std::vector<std::wstring> roots;
  const std::set<std::wstring> expected = SelfRegistration(ServerIn(scope), roots);
  EXPECT_GE(roots.size(), 3u + 3u + 1u + 7u) << "classes, ProgIDs, library, interfaces";
  std::set<std::wstring> installed;
  for (const auto& key : roots)
    CollectRegistry(scope.classesRoot, scope.classes + key, key, installed);
  EXPECT_EQ(installed, expected) << "installed:\n"
                                 << Join(installed) << "regsvr32:\n"
                                 << Join(expected);
  EXPECT_EQ(ComServer(), Upper(ServerIn(scope)));
  for (const std::wstring& key : OfficeKeys()) {
    EXPECT_TRUE(KeyExists(scope.hive, key)) << Narrow(key);
    EXPECT_FALSE(KeyExists(other.hive, key)) << Narrow(key);
  }
  EXPECT_FALSE(KeyExists(other.hive, kInstallKey));
  return roots;
}

DWORD Msiexec(const std::wstring& options, const std::wstring& package,
              const std::wstring& properties) {
  return RunProgram(L"msiexec " + options + L" \"" + package + L"\" " + properties + L" /qn",
                    kInstallTimeoutMs);
}

// Windows Installer upgrades only within one scope: the newer package in the other scope is
// refused beside an installed copy, and writes nothing.
void ExpectRefused(const std::wstring& newer, const Scope& other) {
  EXPECT_NE(Msiexec(L"/i", newer, other.properties), 0u) << "a copy in the other scope";
  EXPECT_FALSE(KeyExists(other.hive, kInstallKey));
  EXPECT_FALSE(FileExists(ServerIn(other)));
}

// The harness run as a separate program, as Office is, with its output in a file; its windows
// are found and answered from here.
class Harness {
 public:
  explicit Harness(const std::wstring& arguments)
      : output_(TempPath(L"office_host_" + std::to_wstring(GetTickCount()) + L".txt")),
        program_(L"\"" + Env(L"QP_OFFICE_HOST") + L"\" " + arguments, output_) {}
  ~Harness() {
    program_.End();
    DeleteFileW(output_.c_str());
  }
  bool Started() const { return program_.Started(); }

  // The harness's visible top-level window with that title; null and a failure when none came
  // in time or the harness ended first.
  HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs = 60000) const {
    HWND found = nullptr;
    auto shown = [&] {
      for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, nullptr, title.c_str()));) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == program_.Id() && IsWindowVisible(w)) return (found = w) != nullptr;
      }
      return !program_.Running();
    };
    WaitUntil("office_host's window \"" + Narrow(title) + "\"", shown, timeoutMs);
    return found;
  }

  // Waits for the harness to end (failing the test when it does not) and gives its output.
  std::string Finish(DWORD timeoutMs = 120000) {
    if (!program_.Started()) return "(office_host did not start)";
    EXPECT_EQ(program_.Finish(timeoutMs), 0u) << "office_host's exit code";
    return FileBytes(output_);
  }

 private:
  std::wstring output_;
  Program program_;
};

// The product's own registry entries and files, in either scope, none of which may outlive an
// uninstall.
void ExpectNothingLeft(const std::vector<std::wstring>& roots) {
  for (const auto& root : roots) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, root)) << Narrow(root);
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      EXPECT_FALSE(KeyExists(hive, std::wstring(kClasses) + L"\\" + root)) << Narrow(root);
  }
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kRecognizerProgId));
  for (const Scope& scope : {PerUser(), PerMachine()}) {
    for (const std::wstring& key : OfficeKeys())
      EXPECT_FALSE(KeyExists(scope.hive, key)) << Narrow(key);
    EXPECT_FALSE(KeyExists(scope.hive, kInstallKey));
    EXPECT_FALSE(FileExists(ServerIn(scope)));
    EXPECT_FALSE(FileExists(InstallFolder(scope) + L"\\1033\\nvauthor.chm"));
    EXPECT_FALSE(FileExists(InstallFolder(scope))) << "the install folder is left";
    EXPECT_FALSE(FileExists(scope.programs + L"\\Norvane"));
  }
}

// The company's default terms that the tests install (COMPANYTERMS): a term of its own beside
// the built-in "QUILLPOINT".
constexpr char kCompanyTerms[] = R"(<?xml version="1.0"?>
<!-- Acme --><SmartTagConfig><Caption>Acme</Caption><Name>urn:acme#qp</Name><RecognizerProvider>
<Name>Acme</Name><Description>Acme terms</Description><Recognizers><Recognizer ClassCode="LI"
Enabled="Yes" CaseSensitive="Yes" Mask="">QUILLPOINT</Recognizer><Recognizer ClassCode="LI"
Enabled="Yes" CaseSensitive="Yes" Mask="">TEMPLATE</Recognizer></Recognizers></RecognizerProvider>
<ActionProvider><Name>Acme</Name><Description>Acme verbs</Description><Actions><Action
Name="Insert" ClassCode="I" Enabled="Yes">Replace Smart Tag with Quillpoint</Action><Action
Name="ViewConfig" ClassCode="V" Enabled="Yes">Maintain Recognizer Terms</Action></Actions>
</ActionProvider></SmartTagConfig>
)";

// The property that installs them, from a file of a path with a space in it.
std::wstring CompanyTerms() {
  const std::wstring file = TempPath(L"company terms.cfg");
  EXPECT_TRUE(WriteFileBytes(file, kCompanyTerms));
  return L"COMPANYTERMS=\"" + file + L"\" ";
}

// Office's way in, for a new user: the recognizers listed under its keys, over the sample letter.
// The tags are samples/quillpoints.txt's and the company's terms, which the first use copied.
void ExpectTheLetterTagged() {
  RemoveConfigFolder();
  Harness host(L"\"" + Env(L"QP_DOCUMENT") + L"\"");
  ASSERT_TRUE(host.Started());
  const std::string out = host.Finish();
  EXPECT_NE(out.find("Recognizer NVSmartTagQuillpoint.Recognizer"), std::string::npos) << out;
  EXPECT_NE(out.find("ProgId: Norvane Quillpoint Smart Tag.Recognizer"), std::string::npos) << out;
  for (const char* tag :
       {"[account manager]", "[policy number]", "[premium summary]", "[claims contact]",
        "[client address]", "[company logo]", "[signature block]", "[Quillpoint]", "[template]"})
    EXPECT_NE(out.find(tag), std::string::npos) << tag << " in\n" << out;
  EXPECT_EQ(FileBytes(ConfigPath()), kCompanyTerms);
}

// The products of the package's upgrade code, of any scope.
std::vector<std::wstring> InstalledProducts(const std::wstring& upgradeCode) {
  std::vector<std::wstring> products;
  wchar_t product[39];
  for (DWORD i = 0; MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, product) == ERROR_SUCCESS;
       ++i)
    products.push_back(product);
  return products;
}

// A property of a package as its Property table holds it.
std::wstring PackageProperty(const std::wstring& package, const std::wstring& name) {
  MSIHANDLE handle = 0;
  wchar_t value[64] = {};
  DWORD size = 64;
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  if (MsiOpenPackageExW(package.c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, &handle) == 0) {
    MsiGetPropertyW(handle, name.c_str(), value, &size);
    MsiCloseHandle(handle);
  }
  return value;
}
// Whether Windows Installer has the package's product installed. Wine's Windows Installer loses
// the upgrade code's list of products when a package that offers both scopes upgrades an older
// one (its removal of the older runs in the other scope), so one product after an upgrade is
// counted by product code.
bool Installed(const std::wstring& package) {
  return MsiQueryProductStateW(PackageProperty(package, L"ProductCode").c_str()) ==
         INSTALLSTATE_DEFAULT;
}

class InstalledProduct : public ::testing::Test {
 protected:
  void SetUp() override {
    package_ = Env(L"QP_PACKAGE");
    ASSERT_TRUE(FileExists(package_))
        << "no package " << Narrow(package_) << " (cmake --build . --target package)";
    // Only the Norvane components come from the build: they are the user's Norvane.
    for (const wchar_t* standIn : {L"hivereg.dll", L"nvcatalog.dll", L"nvwordaddin.dll"})
      ASSERT_EQ(RunProgram(L"regsvr32 /s \"" + BinFolder() + L"\\" + standIn + L"\""), 0u)
          << Narrow(standIn);
    SetStandInSetting(L"QuillpointList", Env(L"QP_QUILLPOINTS"));
    newer_ = Env(L"QP_UPGRADE_PACKAGE");
    ASSERT_TRUE(FileExists(newer_)) << Narrow(newer_);
  }
  // The newer package replaces the older in place, in the scope.
  void ExpectUpgraded(const Scope& scope) {
    ASSERT_EQ(Msiexec(L"/i", newer_, scope.properties), 0u) << "msiexec /i the newer package";
    ASSERT_TRUE(Installed(newer_));
    EXPECT_FALSE(Installed(package_)) << "the older product is left beside the newer";
    EXPECT_EQ(ComServer(), Upper(ServerIn(scope)));
  }
  ComApartment com_;
  std::wstring package_, newer_;
};

TEST_F(InstalledProduct, InstallsForTheUserRunsInWordUpgradesAndUninstallsCleanly) {
  // Both packages are one product to Windows Installer: the same upgrade code.
  const std::wstring code = PackageProperty(package_, L"UpgradeCode");
  ASSERT_FALSE(code.empty());
  ASSERT_EQ(PackageProperty(newer_, L"UpgradeCode"), code);
  ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kRecognizerProgId))
      << "the prefix must not hold the build's registration";
  // Before ALLUSERS="": followed by another property, Wine's msiexec does not take it as empty.
  ASSERT_EQ(Msiexec(L"/i", package_, CompanyTerms() + PerUser().properties), 0u) << "msiexec /i";

  const std::wstring folder = InstallFolder(PerUser());
  const std::vector<std::wstring> roots = ExpectInstalled(PerUser(), PerMachine());

  ExpectTheLetterTagged();

  const std::wstring callLog = TempPath(L"addin_calls.txt");
  DeleteFileW(callLog.c_str());
  SetStandInSetting(L"AddInCallLog", callLog);
  {
    // Verb 1 on a Quillpoint's name: one match, so the user is asked, and Yes inserts it.
    Harness host(L"--verb 1 \"Policy Number\"");
    HWND box = host.WaitForWindow(L"Quillpoint Smart Tag");
    ASSERT_NE(box, nullptr) << "no question from verb 1";
    const SeenWindow seen = ReadWindow(box);
    EXPECT_EQ(seen.text, Message(108, L"Policy Number"));
    EXPECT_EQ(seen.buttons, (std::vector<std::wstring>{L"Yes", L"No", L"Cancel"}));
    EXPECT_TRUE(PressButton(box, L"Yes"));
    const std::string out = host.Finish();
    EXPECT_NE(out.find("Verb 1: Replace Smart Tag with Quillpoint"), std::string::npos) << out;
    const std::string calls = FileBytes(callLog);
    EXPECT_NE(calls.find("InsertQuillpoint(Policy Number)"), std::string::npos) << calls;
  }
  {
    // Verb 2 opens the terms dialog; Cancel closes it.
    Harness host(L"--verb 2 QP");
    HWND dialog = host.WaitForWindow(Message(110, L""));
    ASSERT_NE(dialog, nullptr) << "no terms dialog from verb 2";
    EXPECT_TRUE(PressButton(dialog, L"Cancel"));
    const std::string out = host.Finish();
    EXPECT_NE(out.find("Verb 2: Maintain Recognizer Terms"), std::string::npos) << out;
  }
  const std::wstring config = ConfigPath();
  EXPECT_TRUE(FileExists(config)) << "the first use writes the user's configuration";

  ASSERT_EQ(InstalledProducts(code).size(), 1u);
  const std::wstring older = InstalledProducts(code)[0];
  ExpectRefused(newer_, PerMachine());
  EXPECT_EQ(InstalledProducts(code), std::vector<std::wstring>{older});
  ExpectUpgraded(PerUser());
  wchar_t version[64] = {};
  DWORD size = 64;
  MsiGetProductInfoW(PackageProperty(newer_, L"ProductCode").c_str(), INSTALLPROPERTY_VERSIONSTRING,
                     version, &size);
  const std::wstring newerName = newer_.substr(newer_.find_last_of(L'\\') + 1);
  EXPECT_NE(newerName.find(std::wstring(L"-") + version + L"-"), std::wstring::npos)
      << Narrow(version) << " is not the version in " << Narrow(newerName);
  EXPECT_TRUE(FileExists(ServerIn(PerUser())));
  EXPECT_EQ(FileBytes(folder + L"\\nvstagQP.default.cfg"), kCompanyTerms) << "kept by the upgrade";
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, OfficeKeys()[0]));

  ASSERT_EQ(Msiexec(L"/x", newer_, PerUser().properties), 0u) << "msiexec /x";
  EXPECT_FALSE(Installed(newer_));
  EXPECT_TRUE(InstalledProducts(code).empty());
  ExpectNothingLeft(roots);
  EXPECT_TRUE(FileExists(config)) << "the user's configuration stays";
}

TEST_F(InstalledProduct, InstallsForTheMachineWithTheErrorSwitchAndUninstallsCleanly) {
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, nullptr);
  ASSERT_EQ(Msiexec(L"/i", package_, CompanyTerms() + L"ALLUSERS=1 DISPLAYERRORS=Yes"), 0u)
      << "msiexec /i";

  const std::wstring companyFile = InstallFolder(PerMachine()) + L"\\nvstagQP.default.cfg";
  const std::vector<std::wstring> roots = ExpectInstalled(PerMachine(), PerUser());
  EXPECT_EQ(GetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors), L"Yes");

  ExpectTheLetterTagged();
  {
    // Company terms without a type name never reach a new user, who gets the built-in default.
    // The server reads the switch the package set: the failure, naming the company's file, is
    // put to the user in the yes/no prompt. The harness asks only what Office asks on loading it.
    ASSERT_TRUE(
        WriteFileBytes(companyFile, "<SmartTagConfig><Caption>Acme</Caption></SmartTagConfig>"));
    RemoveConfigFolder();
    Harness host(L"--describe-only \"" + Env(L"QP_DOCUMENT") + L"\"");
    HWND prompt = host.WaitForWindow(kBoxTitle);
    ASSERT_NE(prompt, nullptr) << "no error prompt from the recognizer";
    const SeenWindow seen = ReadWindow(prompt);
    EXPECT_EQ(seen.buttons, (std::vector<std::wstring>{L"Yes", L"No"}));
    EXPECT_NE(seen.text.find(Message(113, L"SmartTagConfig/Name")), std::wstring::npos);
    EXPECT_NE(Upper(seen.text).find(Upper(companyFile)), std::wstring::npos) << Narrow(seen.text);
    EXPECT_NE(seen.text.find(Message(111, L"")), std::wstring::npos);
    EXPECT_TRUE(PressButton(prompt, L"No"));
    host.Finish();
    EXPECT_EQ(FileBytes(ConfigPath()).rfind("<!-- Default Quillpoint SmartTag", 0), 0u);
  }
  RemoveConfigFolder();

  ExpectRefused(newer_, PerUser());
  // An upgrade that does not name the switch keeps the one the older package set.
  ExpectUpgraded(PerMachine());
  EXPECT_EQ(GetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors), L"Yes");
  ASSERT_EQ(Msiexec(L"/x", newer_, PerMachine().properties), 0u) << "msiexec /x";
  ExpectNothingLeft(roots);
  bool found = true;
  GetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, &found);
  EXPECT_FALSE(found) << "the switch the package set is left";

  // Without DISPLAYERRORS the package leaves the switch as it finds it, through the uninstall.
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, L"No");
  ASSERT_EQ(Msiexec(L"/i", package_, PerMachine().properties), 0u) << "msiexec /i";
  EXPECT_EQ(GetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors), L"No");
  ASSERT_EQ(Msiexec(L"/x", package_, PerMachine().properties), 0u) << "msiexec /x";
  EXPECT_EQ(GetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors), L"No");
  ExpectNothingLeft(roots);
  SetSetting(HKEY_LOCAL_MACHINE, kDisplayErrors, nullptr);
}

}  // namespace
