// The support services as the rest of the component uses them: resource strings and their
// formatting, paths, the error convention with its real message boxes, the display switch and
// the term-cache flag in the real registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwctype>
#include <initializer_list>
#include <string>
#include <thread>

#include "platform/automation.h"
#include "platform/error.h"
#include "platform/error_display.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "platform/strings.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;
using namespace qp::platform;

class Support : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadResourceLibrary(GetResourceFilePath(kResourceLibraryName));
    ASSERT_NE(ResourceLibrary(), nullptr);
  }
  ComApartment com_;
};

// Makes `e` the thread's current error, as a failed operation would leave it.
void MakeCurrent(long number, const std::wstring& source, const std::wstring& description) {
  try {
    Raise({number, source, description});
  } catch (const Error&) {
  }
}

// "number source: description".
std::wstring Text(const Error& e) {
  return std::to_wstring(e.number) + L" " + e.source + L": " + e.description;
}

// What RaiseError raised, which is also the thread's current error.
std::wstring RaiseAndCatch(long number, const std::wstring& source, const std::wstring& description,
                           const std::wstring& extra) {
  try {
    RaiseError(number, source, description, extra);
  } catch (const Error& e) {
    EXPECT_EQ(Text(e), Text(CurrentError()));
    return Text(e);
  }
  ADD_FAILURE() << "RaiseError returned";
  return {};
}

TEST_F(Support, ResourceStringsAreLoadedCutAndFormatted) {
  LoadResourceLibrary(BinFolder() + L"\\testdata\\test_strings.dll");
  ASSERT_NE(ResourceLibrary(), nullptr);
  // "%s" twice and "%1" all take the first argument; "\n" becomes CR LF, also from arguments.
  EXPECT_EQ(GetResourceString(1, {L"Z"}), L"a Z b Z c Z d\r\ne");
  EXPECT_EQ(GetResourceString(1, {L"x\\ny"}), L"a x\r\ny b x\r\ny c x\r\ny d\r\ne");
  EXPECT_EQ(GetResourceString(3, {L"one", L"two"}), L"one and two");
  // No arguments: placeholders stay, line breaks are still made.
  EXPECT_EQ(GetResourceString(1, {}), L"a %s b %s c %1 d\r\ne");
  EXPECT_EQ(GetResourceString(2, {L""}), std::wstring(1023, L'L'));
  EXPECT_EQ(GetResourceString(99, {L"arg"}), L"");
  // Each thread has its own library: a new thread has none and gets empty texts.
  std::wstring other = L"unset";
  std::thread([&] { other = GetResourceString(1, {L"Z"}); }).join();
  EXPECT_EQ(other, L"");
}

TEST_F(Support, PathsAreBuiltBesideTheComponent) {
  EXPECT_EQ(AppendPathPart(L"C:\\a", L"b"), L"C:\\a\\b");
  EXPECT_EQ(AppendPathPart(L"C:\\", L"b"), L"C:\\b");
  EXPECT_EQ(LanguageFolderOf(L"C:\\nvstagQP.dll"), L"C:\\1033");
  EXPECT_EQ(LanguageFolderOf(L"C:\\Program Files\\Norvane\\nvstagQP.dll"),
            L"C:\\Program Files\\Norvane\\1033");
  const std::wstring folder = BinFolder() + L"\\1033";
  EXPECT_EQ(GetLanguageFolder(), folder);
  EXPECT_EQ(GetResourceFilePath(L"nvsqpres.dll"), folder + L"\\nvsqpres.dll");
  EXPECT_EQ(GetHelpFilePath(L"nvauthor.chm", false), folder + L"\\nvauthor.chm");
  EXPECT_EQ(GetHelpFilePath(L"nvauthor.chm", true), folder + L"\\nvauthor.chm::/popups.txt");
  // Whatever the user's locale, the folder is 1033.
  LCID saved = GetThreadLocale();
  SetThreadLocale(MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT));
  EXPECT_EQ(GetLanguageFolder(), folder);
  SetThreadLocale(saved);
}

TEST_F(Support, RaisedErrorsGetTheirNumberSourceAndDescriptionAndLeaveComMethodsWithThem) {
  // On a thread with no current error an empty source becomes the library name.
  std::wstring fresh;
  std::thread([&] { fresh = RaiseAndCatch(5, L"", L"Invalid call", L""); }).join();
  EXPECT_EQ(fresh, L"5 NVSmartTagQuillpoint: Invalid call");

  MakeCurrent(0x80004005, L"GetAttribute()", L"Unspecified error");
  // Number 0, empty source and empty description keep the current ones; given ones replace them.
  const std::wstring current = std::to_wstring(static_cast<long>(0x80004005));
  EXPECT_EQ(RaiseAndCatch(0, L"", L"", L""), current + L" GetAttribute(): Unspecified error");
  EXPECT_EQ(RaiseAndCatch(0, L"Initialize()", L"other", L""), current + L" Initialize(): other");
  // A mapped number gets its message, whatever description was passed.
  EXPECT_EQ(
      RaiseAndCatch(kErrMissingComponent, L"GetSmartTagConfig()", L"ignored", L"SmartTagConfig"),
      std::to_wstring(kErrMissingComponent) + L" GetSmartTagConfig(): " +
          Message(102, L"SmartTagConfig"));
  EXPECT_EQ(RaiseAndCatch(kErrEmptyValue, L"ActionName()", L"", L""),
            std::to_wstring(kErrEmptyValue) + L" ActionName(): " + Message(107, L""));

  // The source convention: outermost name first.
  MakeCurrent(0x80004005, L"msxml3.dll", L"Unspecified error");
  PrefixErrorSource(L"GetAttribute()");
  PrefixErrorSource(L"GetRecognizers()");
  EXPECT_EQ(CurrentError().source, L"GetRecognizers(): GetAttribute(): msxml3.dll");
  EXPECT_EQ(CurrentError().number, static_cast<long>(0x80004005));

  EXPECT_EQ(ErrorMessageId(kErrKeyNotUnique), 112);
  for (long unmapped : {kErrBadVerb, kErrNotTemplate, kErrConfigParse, 0L, 112L})
    EXPECT_EQ(ErrorMessageId(unmapped), 0) << unmapped;

  // An error leaving a COM method carries its error information.
  HRESULT hr = ComBoundary([] { Raise({kErrConfigParse, L"Load()", L"bad XML"}); });
  EXPECT_EQ(hr, static_cast<HRESULT>(0x80040205));
  qp::ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  Bstr source, description;
  info->GetSource(source.Out());
  info->GetDescription(description.Out());
  EXPECT_EQ(source.Str() + L": " + description.Str(), L"Load(): bad XML");
  // Small positive numbers travel in the automation facility and come back unchanged.
  hr = ComBoundary([] { Raise({kErrKeyNotUnique, L"x", L"y"}); });
  EXPECT_EQ(hr, static_cast<HRESULT>(0x800A8B12));
  EXPECT_EQ(HresultToErrorNumber(hr), kErrKeyNotUnique);
}

// Whether errors are shown is the machine's switch; a box shows the mapped message or the
// description, and the prompt adds its question.
TEST_F(Support, ErrorsAreShownByTheSwitchAsMessagesOrPrompts) {
  for (const wchar_t* on : {L"Y", L"yes", L"True", L"t", L"1", L"10", L"-1"}) {
    SetSetting(HKEY_LOCAL_MACHINE, L"DisplayErrors", on);
    EXPECT_TRUE(IsErrorDisplayOn()) << on;
  }
  // nullptr: no value at all.
  for (const wchar_t* off : std::initializer_list<const wchar_t*>{L"N", L"No", L"0", L"False", L"-",
                                                                  L" Y", L"", nullptr}) {
    SetSetting(HKEY_LOCAL_MACHINE, L"DisplayErrors", off);
    EXPECT_FALSE(IsErrorDisplayOn()) << (off ? off : L"no value");
  }
  WindowWatcher watcher(WindowWatcher::InTurn({L"OK", L"OK", L"OK", L"OK", L"Yes", L"No"}));
  MakeCurrent(kErrEmptyValue, L"ActionName()", L"not shown");
  ShowError(L"", L"Quillpoint Smart Tag", L"");
  MakeCurrent(0x80004005, L"Load()", L"The file is locked.");
  ShowError(L"", L"Quillpoint Smart Tag", L"");
  ShowError(L"Saving the terms", L"Quillpoint Smart Tag", L"");
  // An empty title with no form open: the component's title.
  ShowError(L"", L"", L"");
  // Showing does not change the current error.
  EXPECT_EQ(CurrentError().description, L"The file is locked.");
  EXPECT_TRUE(ShowErrorPrompt(L"", L"Quillpoint Smart Tag", L""));
  EXPECT_FALSE(ShowErrorPrompt(L"", L"Quillpoint Smart Tag", L""));
  const auto seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 6u);
  ExpectBox(seen[0], Message(107, L""));
  EXPECT_EQ(seen[1].text, L"The file is locked.");
  EXPECT_EQ(seen[2].text, L"Saving the terms\r\nThe file is locked.");
  EXPECT_EQ(seen[3].title, L"Norvane Quillpoint Smart Tag");
  ExpectPrompt(seen[4], L"The file is locked.");
}

TEST_F(Support, TheCacheFlushFlagIsTheLocalTimeAsText) {
  const SYSTEMTIME t = {2026, 3, 6, 7, 9, 5, 2, 0};  // Saturday 7 March 2026, 9:05:02
  EXPECT_EQ(FormatCacheFlushStamp(t, L":"), L"2026030709:05:02");

  SetSetting(HKEY_CURRENT_USER, L"SmartTagCacheFlushFlag", nullptr);
  EXPECT_EQ(GetCacheFlushFlag(), L"");
  SYSTEMTIME before;
  GetLocalTime(&before);
  SetCacheFlushFlag();
  const std::wstring flag = GetCacheFlushFlag();
  EXPECT_EQ(GetSetting(HKEY_CURRENT_USER, L"SmartTagCacheFlushFlag"), flag);
  // The local time, with the locale's time separator between hours, minutes and seconds.
  SYSTEMTIME after;
  GetLocalTime(&after);
  EXPECT_GE(flag, Stamp(before));
  EXPECT_LE(flag, Stamp(after));
  EXPECT_EQ(flag.size(), 14 + 2 * TimeSeparator().size());

  // A user who chose another separator gets it in the flag (this program's prefix is its own).
  wchar_t saved[8] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, saved, 8);
  const wchar_t* other = std::wstring(saved) == L"." ? L":" : L".";
  ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, other));
  SetCacheFlushFlag();
  const std::wstring changed = GetCacheFlushFlag();
  SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, saved);
  ASSERT_EQ(changed.size(), 16u) << Narrow(changed);
  EXPECT_EQ(changed.substr(10, 1), other);
  EXPECT_EQ(changed.substr(13, 1), other);
}

// What a user reads must be whole sentences: no doubled or stray blanks where an argument was
// left out, no empty line at either end, and each line of a message ends its sentence (but a
// line that holds just the argument, a name on its own).
::testing::AssertionResult ReadsWhole(const std::wstring& text, bool caption,
                                      const std::wstring& argument = L"") {
  auto fail = [&](const char* why) {
    return ::testing::AssertionFailure() << why << " in \"" << text << "\"";
  };
  if (text.empty()) return fail("no text");
  if (iswspace(text.front()) || iswspace(text.back())) return fail("blank at an end");
  for (const wchar_t* gap : {L"  ", L" .", L" ,", L" ?", L" !", L"\r\n ", L" \r\n", L"\"\""})
    if (text.find(gap) != std::wstring::npos) return fail("a gap where an argument was left out");
  if (text.find(L"\r\n\r\n\r\n") != std::wstring::npos) return fail("two empty lines");
  if (caption) return ::testing::AssertionSuccess();
  for (size_t from = 0; from <= text.size();) {
    size_t end = text.find(L"\r\n", from);
    if (end == std::wstring::npos) end = text.size();
    const bool ownLine = !argument.empty() && text.compare(from, end - from, argument) == 0;
    if (end > from && !ownLine && !wcschr(L".?!", text[end - 1]))
      return fail("a line that stops mid-sentence");
    from = end + 2;
  }
  return ::testing::AssertionSuccess();
}

// Every message as the resource library holds it, read without the product's routines, in the
// forms in which the product shows it: the error displays and the verbs' callers fill 102, 105,
// 107, 110 and 111 with nothing, the store 114 and 115; 102 may also carry a component's name, 104
// a verb number, 108 a Quillpoint, 112 a term and 113 an element.
TEST(Messages, ReadAsWholeSentencesWithAndWithoutTheirArgument) {
  for (UINT id : {102u, 105u, 107u, 111u, 114u, 115u})
    EXPECT_TRUE(ReadsWhole(Message(id, L""), false)) << id;
  EXPECT_TRUE(ReadsWhole(Message(110, L""), true));

  const std::pair<UINT, std::wstring> named[] = {{102, L"NVWordAddIn.Connect"},
                                                 {104, L"7"},
                                                 {108, L"Closing Date"},
                                                 {112, L"ACME"},
                                                 {113, L"SmartTagConfig/Name"}};
  for (const auto& [id, argument] : named) {
    const std::wstring text = Message(id, argument);
    EXPECT_TRUE(ReadsWhole(text, false, argument)) << id;
    // The argument stands apart from the words around it.
    const size_t at = text.find(argument);
    ASSERT_NE(at, std::wstring::npos) << id << ": " << text;
    const size_t after = at + argument.size();
    EXPECT_TRUE(at == 0 || wcschr(L" \n\"", text[at - 1])) << id << ": " << text;
    EXPECT_TRUE(after == text.size() || wcschr(L" \r.,?!\"", text[after])) << id << ": " << text;
  }
}

}  // namespace
