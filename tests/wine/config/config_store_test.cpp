// The configuration store as the engine and other automation clients use it: the default file
// and its first use, queries and term updates on the real XML parser, the user's file on the
// real file system, and the cache flush flag in the real registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "config_files.h"
#include "late_bound.h"
#include "nvstagQP.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "term_records.h"
#include "terms_harness.h"
#include "window_watcher.h"
#include "wine_test_env.h"

namespace {

using namespace qp::test;
using namespace qp::harness;
using namespace qp::platform;
using qp::ComPtr;

constexpr HRESULT kErrParse = static_cast<HRESULT>(0x80040205);
const HRESULT kObjectNotSet = ErrorNumberToHresult(kErrObjectNotSet);

const std::vector<Term> kDefaultTerms = {
    {L"D", L"", L"Yes", L"Yes", L""}, LI(L"QP"), LI(L"QUILLPOINT"), LI(L"FIELD")};

std::wstring ResourceText(HMODULE module) {
  HRSRC found = FindResourceExW(module, L"QPSTCONFIG", MAKEINTRESOURCEW(101),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (!found) return L"(missing)";
  const void* data = LockResource(LoadResource(module, found));
  return std::wstring(static_cast<const wchar_t*>(data), SizeofResource(module, found) / 2);
}

// The default document as a first use writes it: the one this program carries (as the server
// does) without its byte order mark, last line break and closing NUL.
const std::wstring kDefault = [] {
  const std::wstring carried = ResourceText(nullptr);
  return carried.size() > 4 ? carried.substr(1, carried.size() - 4) : carried;
}();

// A verb's Name, ClassCode, Enabled, InsertPosition and Value.
using Verb = std::vector<std::wstring>;

std::vector<Verb> Verbs(IDispatch* config, bool enabledOnly) {
  std::vector<Verb> verbs;
  ComPtr<IDispatch> list =
      ByName(config, L"GetActions", {Variant::FromBool(enabledOnly)}).AsObject();
  for (long i = 1, n = ByName(list.Get(), L"Count").AsLong(); i <= n; ++i) {
    ComPtr<IDispatch> verb = ByName(list.Get(), L"Item", {Variant::FromLong(i)}).AsObject();
    verbs.emplace_back();
    for (const wchar_t* p : {L"Name", L"ClassCode", L"Enabled", L"InsertPosition", L"Value"})
      verbs.back().push_back(ByName(verb.Get(), p).AsString());
  }
  return verbs;
}

std::vector<Term> TermsOf(IDispatch* config, bool enabledOnly = false) {
  return ReadTerms(
      ByName(config, L"GetRecognizers", {Variant::FromBool(enabledOnly)}).AsObject().Get());
}

Variant Item(IDispatch* config, const wchar_t* path) {
  return ByName(config, L"GetConfigurationItem", {Variant::FromString(path)});
}

// An update by name, the collection passed by reference as the class interface declares it;
// S_OK in `code` when it succeeded.
CallError Update(IDispatch* config, IDispatch* list, const wchar_t* member = L"UpdateRecognizers") {
  Variant byRef;
  byRef.Get()->vt = VT_DISPATCH | VT_BYREF;
  byRef.Get()->ppdispVal = &list;
  return FailureOf(config, member, {byRef});
}

class ConfigStore : public ::testing::Test {
 protected:
  void SetUp() override { ResetProductState(); }

  static ComPtr<_SmartTagConfig> NewConfig(qp::config::MakeTermsDialog dialog = nullptr) {
    ComPtr<_SmartTagConfig> config;
    EXPECT_EQ(qp::config::CreateSmartTagConfig(dialog, IID__SmartTagConfig,
                                               reinterpret_cast<void**>(config.GetAddressOf())),
              S_OK);
    return config;
  }

  ComApartment com_;
};

TEST_F(ConfigStore, FirstUseWritesTheCarriedDefaultCleanedAndNeverOverwritesAFile) {
  // Carried by the server and by this program under type "QPSTCONFIG", 101, language 1033, as a
  // raw block of UTF-16: a byte order mark first, a line break and a NUL last.
  const std::wstring resource = L"\xFEFF" + kDefault + L"\r\n" + L'\0';
  EXPECT_EQ(ResourceText(nullptr), resource);
  HMODULE server =
      LoadLibraryExW((BinFolder() + L"\\nvstagQP.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(ResourceText(server), resource);
  FreeLibrary(server);

  // First use: the folder and the file appear, cleaned, in ANSI, and nothing else beside it.
  ASSERT_EQ(GetFileAttributesW(ConfigFolder().c_str()), INVALID_FILE_ATTRIBUTES);
  ComPtr<_SmartTagConfig> config = NewConfig();
  ASSERT_TRUE(config);
  const std::string file = FileBytes(ConfigPath());
  EXPECT_EQ(file, Narrow(kDefault));
  // The carried texts are the design's own (what is read from the file elsewhere is checked
  // there): the tag type's name and the recognizer's name and description.
  for (const auto& [path, text] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
           {L"SmartTagConfig/Name", L"urn:norvane:quillpoint:smarttag#insertquillpoint"},
           {L"SmartTagConfig/RecognizerProvider/Name", L"Norvane Quillpoint Recognizer"},
           {L"SmartTagConfig/RecognizerProvider/Description",
            L"This recognizer recognizes Quillpoint keywords and Names found in an Norvane "
            L"Template Catalog"}})
    EXPECT_EQ(Item(config.Get(), path).AsString(), text) << Narrow(path);
  EXPECT_EQ(ByName(config.Get(), L"GetConfigFilePath").AsString(), ConfigPath());
  EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});

  // A file deleted since is written again by the next GetConfigFilePath.
  ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
  ByName(config.Get(), L"GetConfigFilePath");
  EXPECT_EQ(FileBytes(ConfigPath()), file);

  // Whatever a file holds, it stays.
  for (const std::string& mine :
       {std::string("<SmartTagConfig><Caption>Mine</Caption></SmartTagConfig>"),
        std::string("not a configuration at all"), std::string()}) {
    WriteConfig(mine);
    ByName(NewConfig().Get(), L"GetConfigFilePath");
    EXPECT_EQ(FileBytes(ConfigPath()), mine);
  }
}

// A copy of the server in a folder of its own is the store's module: the company's default terms
// go beside it, and the built-in default comes from it.
struct CompanyServer {
  CompanyServer() {
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW((BinFolder() + L"\\nvstagQP.dll").c_str(), dll.c_str(), FALSE);
    EXPECT_NE(module = LoadLibraryW(dll.c_str()), nullptr);
    SetComponentModule(module);
  }
  ~CompanyServer() {
    SetComponentModule(nullptr);
    FreeLibrary(module);
  }
  const std::wstring folder = TempPath(L"company"), dll = folder + L"\\nvstagQP.dll",
                     terms = folder + L"\\nvstagQP.default.cfg";
  HMODULE module = nullptr;
};

TEST_F(ConfigStore, FirstUseCopiesTheCompanysUsableTermsAndReportsUnusableOnes) {
  CompanyServer server;
  const std::string recognizer =
      "<Recognizer ClassCode=\"LI\" Enabled=\"Yes\" CaseSensitive=\"Yes\" Mask=\"\">TEMPLATE"
      "</Recognizer>";
  const std::string action =
      "<Action Name=\"Insert\" ClassCode=\"I\" Enabled=\"Yes\">Insert</Action>";
  const std::string usable =  // its own declaration, comment and line breaks, copied as they are
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- Acme -->\n<SmartTagConfig><Name>urn:acme#qp"
      "</Name><RecognizerProvider><Recognizers>" +
      recognizer + "</Recognizers></RecognizerProvider><ActionProvider><Actions>" + action +
      "</Actions></ActionProvider></SmartTagConfig>\n";
  auto without = [&](const std::string& part) {
    std::string text = usable;
    return text.erase(text.find(part), part.size());
  };
  const struct {
    std::string terms;
    std::wstring source;  // after the prefixes; empty: usable
  } cases[] = {{usable, L""},
               {"<SmartTagConfig>\r\n<Name>x</Nmae>\r\n</SmartTagConfig>", L"<Name>x</Nmae>"},
               {"<!DOCTYPE SmartTagConfig>\r\n" + usable.substr(usable.find("<Smart")),
                L"<!DOCTYPE SmartTagConfig>"},
               {without("<Name>urn:acme#qp</Name>"), L"SmartTagConfig/Name"},
               {without(recognizer), L"SmartTagConfig/RecognizerProvider/Recognizers/Recognizer"},
               {without(action), L"SmartTagConfig/ActionProvider/Actions/Action"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.source));
    ResetProductState();
    ASSERT_TRUE(WriteFileBytes(server.terms, c.terms));
    // A user who has a file keeps it.
    WriteConfig("<SmartTagConfig/>");
    ComPtr<_SmartTagConfig> config = NewConfig();
    ASSERT_EQ(FileBytes(ConfigPath()), "<SmartTagConfig/>");
    // A new user's first use.
    ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
    const CallError f = FailureOf(config.Get(), L"GetConfigFilePath");
    if (c.source.empty()) {
      EXPECT_EQ(f.code, S_OK) << Narrow(f.description);
      EXPECT_EQ(FileBytes(ConfigPath()), usable);
      EXPECT_EQ(TermsOf(NewConfig().Get()), std::vector<Term>{LI(L"TEMPLATE")});
    } else {
      // Reported as a user's file that cannot be read is, naming the company's file; the user
      // starts from the built-in default, and the next use finds that file.
      EXPECT_EQ(f.code, kErrParse);
      EXPECT_EQ(f.source,
                L"SmarTagConfigGetConfigFilePath(): CompanyConfigFileLoad(): " + c.source);
      EXPECT_TRUE(f.description.ends_with(L" " + server.terms)) << Narrow(f.description);
      EXPECT_EQ(FileBytes(ConfigPath()), Narrow(kDefault));
      EXPECT_EQ(TermsOf(NewConfig().Get()), kDefaultTerms);
    }
    EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});
  }
}

TEST_F(ConfigStore, QueriesOnTheDefaultDocumentAndVerbsOnlyFromALoadedOne) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  // The verbs come from the document held: before a query loads it and after Initialize drops
  // it, asking for them fails.
  auto expectNoVerbs = [&](const char* when) {
    const CallError f = FailureOf(config.Get(), L"GetActions", {Variant::FromBool(true)});
    EXPECT_EQ(f.code, kObjectNotSet) << when;
    EXPECT_EQ(f.source.rfind(L"GetActions(): ", 0), 0u) << Narrow(f.source);
    EXPECT_FALSE(f.description.empty()) << when;
  };
  expectNoVerbs("before the first load");
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").AsString(), L"Norvane Quillpoint");
  const Variant nameExt = Item(config.Get(), L"SmartTagConfig/NameExt");
  EXPECT_EQ(nameExt.Vt(), VT_BSTR);
  EXPECT_EQ(nameExt.AsString(), L"");
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/NoSuchElement").Vt(), VT_EMPTY);

  EXPECT_EQ(TermsOf(config.Get()), kDefaultTerms);
  EXPECT_EQ(
      Verbs(config.Get(), true),
      (std::vector<Verb>{{L"Insert", L"I", L"Yes", L"RT", L"Replace Smart Tag with Quillpoint"},
                         {L"ViewConfig", L"V", L"Yes", L"", L"Maintain Recognizer Terms"}}));
  ByName(config.Get(), L"Initialize");
  expectNoVerbs("after Initialize");
}

TEST_F(ConfigStore, AttributesAreReadByExactNameAndEnabledMeansYes) {
  WriteConfig(
      "<SmartTagConfig><RecognizerProvider><Recognizers>"
      "<Recognizer ClassCode=\"LI\" Enabled=\"yes\">A</Recognizer>"
      "<Recognizer ClassCode=\"LI\" Enabled=\"No\" Mask=\"m\">B</Recognizer>"
      "<Recognizer ClassCode=\"LI\" Enabled=\"\">C</Recognizer>"
      "<Recognizer ClassCode=\"LI\">D</Recognizer>"
      "<Recognizer ClassCode=\"LI\" Enabled=\"True\">E</Recognizer>"
      "<Recognizer ClassCode=\"LI\" Enabled=\" Yes\">F</Recognizer>"
      "<Recognizer classcode=\"LE\" ENABLED=\"YES\">G</Recognizer>"
      "<Recognizer ClassCode=\"LE\" Enabled=\"YES\" CaseSensitive=\"No\">H</Recognizer>"
      "</Recognizers></RecognizerProvider><ActionProvider><Actions>"
      "<Action Name=\"A\" Enabled=\"No\">a</Action><Action Name=\"B\" Enabled=\"yes\">b</Action>"
      "</Actions></ActionProvider></SmartTagConfig>");
  ComPtr<_SmartTagConfig> config = NewConfig();
  EXPECT_EQ(TermsOf(config.Get()), (std::vector<Term>{{L"LI", L"A", L"yes", L"", L""},
                                                      {L"LI", L"B", L"No", L"", L"m"},
                                                      {L"LI", L"C", L"", L"", L""},
                                                      {L"LI", L"D", L"", L"", L""},
                                                      {L"LI", L"E", L"True", L"", L""},
                                                      {L"LI", L"F", L" Yes", L"", L""},
                                                      {L"", L"G", L"", L"", L""},
                                                      {L"LE", L"H", L"YES", L"No", L""}}));
  EXPECT_EQ(TermsOf(config.Get(), true), (std::vector<Term>{{L"LI", L"A", L"yes", L"", L""},
                                                            {L"LE", L"H", L"YES", L"No", L""}}));
  EXPECT_EQ(Verbs(config.Get(), true), (std::vector<Verb>{{L"B", L"", L"yes", L"", L"b"}}));
  EXPECT_EQ(Verbs(config.Get(), false).size(), 2u);
}

TEST_F(ConfigStore, RecordsAndCollectionsByName) {
  // Fresh records are empty, and each property keeps what was put into it.
  struct Record {
    HRESULT (*create)(REFIID, void**);
    std::vector<const wchar_t*> properties;
  };
  for (const Record& r :
       {Record{qp::config::CreateActionProps,
               {L"Name", L"ClassCode", L"Enabled", L"InsertPosition", L"Value"}},
        Record{qp::config::CreateRecognizerProps,
               {L"ClassCode", L"Enabled", L"mask", L"CaseSensitive", L"Value"}}}) {
    ComPtr<IDispatch> record;
    ASSERT_EQ(r.create(IID_IDispatch, reinterpret_cast<void**>(record.GetAddressOf())), S_OK);
    for (const wchar_t* p : r.properties) {
      EXPECT_EQ(ByName(record.Get(), p).AsString(), L"") << Narrow(p);
      PutByName(record.Get(), p, Variant::FromString(std::wstring(p) + L"!"));
    }
    for (const wchar_t* p : r.properties)
      EXPECT_EQ(ByName(record.Get(), p).AsString(), std::wstring(p) + L"!");
  }
  // And through the class interface, as the engine reads them.
  ComPtr<_RecognizerProps> term;
  ASSERT_EQ(NewRecord({L"c", L"v", L"e", L"s", L"m"}).As(&term), S_OK);
  Bstr caseSensitive, mask;
  ASSERT_EQ(term->get_CaseSensitive(caseSensitive.Out()), S_OK);
  ASSERT_EQ(term->get_mask(mask.Out()), S_OK);
  EXPECT_EQ(caseSensitive.Str() + mask.Str(), L"sm");

  // The list: Add, Count, Item from 1, Remove; positions only.
  ComPtr<IDispatch> list = NewCollection({LI(L"one"), LI(L"two"), LI(L"three")});
  EXPECT_EQ(ByName(ByName(list.Get(), L"Item", {Variant::FromShort(3)}).AsObject().Get(), L"Value")
                .AsString(),
            L"three");
  ByName(list.Get(), L"Remove", {Variant::FromLong(2)});
  EXPECT_EQ(ReadTerms(list.Get()), (std::vector<Term>{LI(L"one"), LI(L"three")}));
  for (long bad : {0L, 3L, -1L})
    EXPECT_EQ(FailureOf(list.Get(), L"Item", {Variant::FromLong(bad)}).code,
              ErrorNumberToHresult(9))
        << bad;
  EXPECT_EQ(FailureOf(list.Get(), L"Item", {Variant::FromString(L"one")}).code,
            ErrorNumberToHresult(5));

  // For Each: the enumerator in insertion order, with Skip, Reset and Clone.
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(ComPtr<IUnknown>(ByName(list.Get(), L"_NewEnum").Get()->punkVal).As(&e), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumVARIANT> copy;
  ASSERT_EQ(e->Clone(copy.GetAddressOf()), S_OK);
  VARIANT two[2];
  ULONG fetched = 0;
  EXPECT_EQ(copy->Next(2, two, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(ByName(two[0].pdispVal, L"Value").AsString(), L"three");
  VariantClear(&two[0]);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(3), S_FALSE);
}

TEST_F(ConfigStore, UpdateRecognizersReplacesTheTermsKeepsCommentsAndMovesTheFlag) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  // Edit: disable QP, mark QUILLPOINT case-insensitive, drop FIELD, add a new term.
  ComPtr<IDispatch> terms =
      ByName(config.Get(), L"GetRecognizers", {Variant::FromBool(false)}).AsObject();
  auto item = [&](long i) { return ByName(terms.Get(), L"Item", {Variant::FromLong(i)}); };
  PutByName(item(2).AsObject().Get(), L"Enabled", Variant::FromString(L"No"));
  PutByName(item(3).AsObject().Get(), L"CaseSensitive", Variant::FromString(L"No"));
  PutByName(item(3).AsObject().Get(), L"mask", Variant::FromString(L"x"));
  ComPtr<IDispatch> edited = NewCollection({});
  for (const Variant& v :
       {item(1), Variant::FromObject(NewRecord({L"LE", L"NEW", L"yes", L"No"}).Get()), item(2),
        item(3)})
    ByName(edited.Get(), L"Add", {v});

  SYSTEMTIME start, end;
  GetLocalTime(&start);
  ASSERT_EQ(Update(config.Get(), edited.Get()).code, S_OK);
  GetLocalTime(&end);

  // The held document, another object's and the file's are what was saved.
  const std::vector<Term> now = {{L"D", L"", L"Yes", L"Yes", L""},
                                 {L"LE", L"NEW", L"yes", L"Yes", L""},
                                 {L"LI", L"QP", L"No", L"Yes", L""},
                                 {L"LI", L"QUILLPOINT", L"Yes", L"Yes", L"x"}};
  EXPECT_EQ(TermsOf(config.Get()), now);
  EXPECT_EQ(TermsOf(NewConfig().Get()), now);
  EXPECT_EQ(TermsInFile(), now);

  // The comment still first in its container, the attributes in the order of the first term,
  // the other comments untouched.
  const std::string file = FileBytes(ConfigPath());
  const size_t container = file.find("<Recognizers>") + 13;
  EXPECT_EQ(file.find_first_not_of(" \t\r\n", container), file.find("<!--", container));
  EXPECT_NE(file.find("LE = Literial Excludes, "), std::string::npos);
  EXPECT_NE(file.find("RP = Replace Paragraph"), std::string::npos);
  EXPECT_NE(file.find("<Recognizer ClassCode=\"LE\" Enabled=\"yes\" CaseSensitive=\"Yes\" "
                      "Mask=\"\">NEW</Recognizer>"),
            std::string::npos)
      << file;

  // The save moved the flag to its own time, and left nothing beside the file.
  const std::wstring flag = GetSetting(HKEY_CURRENT_USER, kFlag);
  EXPECT_GE(flag, Stamp(start));
  EXPECT_LE(flag, Stamp(end));
  EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});
}

TEST_F(ConfigStore, UpdatesThatCannotBeDoneLeaveTheFileAndTheFlag) {
  ComPtr<IDispatch> wrong = NewCollection({LI(L"OK")}), notATerm;
  ASSERT_EQ(qp::config::CreateActionProps(IID_IDispatch,
                                          reinterpret_cast<void**>(notATerm.GetAddressOf())),
            S_OK);
  ByName(wrong.Get(), L"Add", {Variant::FromObject(notATerm.Get())});
  const ComPtr<IDispatch> empty = NewCollection({}), one = NewCollection({LI(L"ONLY")});
  const std::string partial =  // the first term cannot serve as the template
      "<SmartTagConfig><RecognizerProvider><Recognizers><!-- c -->"
      "<Recognizer ClassCode=\"LI\" Enabled=\"Yes\">A</Recognizer>"
      "</Recognizers></RecognizerProvider></SmartTagConfig>";
  const std::string none =
      "<SmartTagConfig><RecognizerProvider><Recognizers><!-- c -->"
      "</Recognizers></RecognizerProvider></SmartTagConfig>";
  struct Case {
    const char* name;
    std::string file;  // empty: the default
    bool readOnly;
    IDispatch* list;
    HRESULT code;
    const wchar_t* source;   // after "UpdateRecognizers(): ", on a failure
    std::vector<Term> held;  // what the object holds after the failure
  };
  const HRESULT kTypeMismatch = ErrorNumberToHresult(13);
  const Case cases[] = {
      {"an empty collection", "", false, empty.Get(), S_OK, L"", kDefaultTerms},
      {"no collection", "", false, nullptr, kObjectNotSet, L"", kDefaultTerms},
      {"an item that is not a term", "", false, wrong.Get(), kTypeMismatch, L"", {LI(L"OK")}},
      {"a bad first term", partial, false, one.Get(), kObjectNotSet, L"MakeRecognizerNode(): "},
      {"no term", none, false, one.Get(), kObjectNotSet, L"", {}},
      {"read-only file", "", true, one.Get(), E_ACCESSDENIED, L"ConfigFileSave(): ", {LI(L"ONLY")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProductState();
    if (!c.file.empty()) WriteConfig(c.file);
    ComPtr<_SmartTagConfig> config = NewConfig();
    const std::vector<Term> before = TermsOf(config.Get());
    const std::string original = FileBytes(ConfigPath());
    if (c.readOnly) {
      ASSERT_TRUE(SetFileAttributesW(ConfigPath().c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const CallError f = Update(config.Get(), c.list);
    SetFileAttributesW(ConfigPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(f.code, c.code) << Narrow(f.description);
    if (c.code != S_OK) {
      EXPECT_EQ(f.source.rfind(L"UpdateRecognizers(): " + std::wstring(c.source), 0), 0u)
          << Narrow(f.source);
    }
    if (c.readOnly) {
      EXPECT_TRUE(f.description.ends_with(L" " + ConfigPath())) << Narrow(f.description);
    }
    EXPECT_EQ(FileBytes(ConfigPath()), original);
    EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});
    EXPECT_EQ(GetSetting(HKEY_CURRENT_USER, kFlag), L"");
    // What the object holds now, and again once it reads the file.
    EXPECT_EQ(TermsOf(config.Get()), c.held);
    ByName(config.Get(), L"Initialize");
    EXPECT_EQ(TermsOf(config.Get()), before);
  }
}

TEST_F(ConfigStore, SetDeleteAndUpdateActionsRewriteTheFileAndEverySaveMovesTheFlag) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  std::vector<std::wstring> flags;
  auto saved = [&] { flags.push_back(GetSetting(HKEY_CURRENT_USER, kFlag)); };
  auto text = [](const wchar_t* s) { return Variant::FromString(s); };
  EXPECT_TRUE(ByName(config.Get(), L"SetConfigurationItem",
                     {text(L"SmartTagConfig/DownloadURL"), text(L"urn:example:download")})
                  .AsBool());
  saved();
  EXPECT_EQ(Item(NewConfig().Get(), L"SmartTagConfig/DownloadURL").AsString(),
            L"urn:example:download");

  // Nothing selected: False, and the file as it was.
  const std::string afterSet = FileBytes(ConfigPath());
  EXPECT_FALSE(
      ByName(config.Get(), L"SetConfigurationItem", {text(L"SmartTagConfig/No"), text(L"x")})
          .AsBool());
  EXPECT_FALSE(ByName(config.Get(), L"DeleteConfigurationItem", {text(L"X/Y")}).AsBool());
  EXPECT_EQ(FileBytes(ConfigPath()), afterSet);

  EXPECT_TRUE(
      ByName(config.Get(), L"DeleteConfigurationItem", {text(L"SmartTagConfig/NameExt")}).AsBool());
  saved();
  EXPECT_EQ(Item(NewConfig().Get(), L"SmartTagConfig/NameExt").Vt(), VT_EMPTY);

  // The verbs: both edited, in the other order.
  ComPtr<IDispatch> verbs =
      ByName(config.Get(), L"GetActions", {Variant::FromBool(false)}).AsObject();
  ComPtr<IDispatch> insert = ByName(verbs.Get(), L"Item", {Variant::FromLong(1)}).AsObject();
  ComPtr<IDispatch> view = ByName(verbs.Get(), L"Item", {Variant::FromLong(2)}).AsObject();
  PutByName(insert.Get(), L"InsertPosition", text(L""));
  PutByName(view.Get(), L"InsertPosition", text(L"AP"));
  PutByName(view.Get(), L"Enabled", text(L"No"));
  ComPtr<IDispatch> edited = NewCollection({});
  for (IDispatch* verb : {view.Get(), insert.Get()})
    ByName(edited.Get(), L"Add", {Variant::FromObject(verb)});
  ASSERT_EQ(Update(config.Get(), edited.Get(), L"UpdateActions").code, S_OK);
  saved();
  ComPtr<_SmartTagConfig> fresh = NewConfig();
  Item(fresh.Get(), L"SmartTagConfig/Caption");
  EXPECT_EQ(
      Verbs(fresh.Get(), false),
      (std::vector<Verb>{{L"ViewConfig", L"V", L"No", L"AP", L"Maintain Recognizer Terms"},
                         {L"Insert", L"I", L"Yes", L"", L"Replace Smart Tag with Quillpoint"}}));
  EXPECT_NE(FileBytes(ConfigPath()).find("Valid InsertPosition Codes:"), std::string::npos);

  // Each save moved the flag on, a save in the second of the one before to the next second.
  ASSERT_EQ(flags.size(), 3u);
  EXPECT_LT(flags[0], flags[1]);
  EXPECT_LT(flags[1], flags[2]);
}

// The caption as the platform's parser reads the file from its path on its own; nullopt when it
// does not load the file.
std::optional<std::wstring> CaptionAsTheParserReadsIt() {
  ComPtr<IDispatch> doc = ParsedConfig();
  if (!doc) return std::nullopt;
  ComPtr<IDispatch> caption =
      ByName(doc.Get(), L"selectSingleNode", {Variant::FromString(L"SmartTagConfig/Caption")})
          .AsObject();
  if (!caption) return std::nullopt;
  return ByName(caption.Get(), L"text").AsString();
}

TEST_F(ConfigStore, TheFileReadsInEveryEncodingAsTheParserReadsItFromItsPath) {
  const std::wstring caption = L"Caf\u00E9 Z\u00FCrich", term = L"Cr\u00E8me br\u00FBl\u00E9e";
  const std::wstring body =
      L"<SmartTagConfig><Caption>" + caption +
      L"</Caption><RecognizerProvider><Recognizers>"
      L"<Recognizer ClassCode=\"LI\" Enabled=\"Yes\" CaseSensitive=\"Yes\">" +
      term + L"</Recognizer></Recognizers></RecognizerProvider></SmartTagConfig>\r\n";
  auto declared = [&](const wchar_t* encoding) {
    return L"<?xml version=\"1.0\" encoding=\"" + std::wstring(encoding) + L"\"?>\r\n" + body;
  };
  auto latin1 = [](const std::wstring& text) {  // the texts here are all below U+0100
    return std::string(text.begin(), text.end());
  };
  auto utf16 = [](const std::wstring& text) {
    return std::string("\xFF\xFE") +
           std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  };
  struct Case {
    const char* name;
    std::string bytes;
    bool known;  // an encoding every parser reads; of the others, what it reads is compared
  };
  const Case cases[] = {
      {"UTF-8 without declaration", Narrow(body), true},
      {"UTF-8 with byte order mark", "\xEF\xBB\xBF" + Narrow(declared(L"UTF-8")), true},
      {"UTF-16 with byte order mark", utf16(declared(L"UTF-16")), true},
      {"ISO-8859-1", latin1(declared(L"ISO-8859-1")), true},
      {"windows-1252", latin1(declared(L"windows-1252")), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteConfig(c.bytes);
    const std::optional<std::wstring> expected = CaptionAsTheParserReadsIt();
    if (c.known) {
      ASSERT_EQ(expected, caption);
    }
    ComPtr<_SmartTagConfig> config = NewConfig();
    const CallError f =
        FailureOf(config.Get(), L"GetConfigurationItem", {Variant::FromString(L"SmartTagConfig")});
    if (!expected) {
      EXPECT_EQ(f.code, kErrParse);
      continue;
    }
    ASSERT_EQ(f.code, S_OK) << Narrow(f.description);
    EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").AsString(), *expected);
    // Where the parser reads the file right, so do the terms.
    if (*expected == caption) {
      EXPECT_EQ(TermsOf(config.Get()), std::vector<Term>{LI(term)});
    }
    EXPECT_EQ(FileBytes(ConfigPath()), c.bytes);  // read, never rewritten
  }
}

TEST_F(ConfigStore, AFileThatCannotBeReadIsReportedOnceAndLosesNothing) {
  const std::string bad =
      "<!-- mine -->\r\n<SmartTagConfig>\r\n\t<Caption>Norvane Quillpoint</Captoin>\r\n"
      "\t<Name>x</Name>\r\n</SmartTagConfig>";
  struct Case {
    const char* name;
    std::optional<std::string> file;  // none: deleted after the objects were made
    const wchar_t* line;              // the offending line the source names
  };
  const Case cases[] = {{"not well-formed", bad, L"\t<Caption>Norvane Quillpoint</Captoin>"},
                        {"deleted after creation", std::nullopt, L""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProductState();
    if (c.file) WriteConfig(*c.file);
    ComPtr<_SmartTagConfig> config = NewConfig(), other = NewConfig();
    if (!c.file) {
      ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
    }
    const std::wstring load = L"ConfigFileLoad(): ";
    const CallError f = FailureOf(config.Get(), L"GetRecognizers", {Variant::FromBool(false)});
    EXPECT_EQ(f.code, kErrParse);
    EXPECT_EQ(f.source.rfind(L"GetRecognizers(): " + load + c.line, 0), 0u) << Narrow(f.source);
    EXPECT_TRUE(f.description.ends_with(L" " + ConfigPath())) << Narrow(f.description);
    // Reported once: the empty document is kept, with no text, no terms, no verbs, no failure.
    EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").Vt(), VT_EMPTY);
    EXPECT_EQ(TermsOf(config.Get()).size(), 0u);
    EXPECT_EQ(Verbs(config.Get(), true).size(), 0u);
    // Every object reports it from its first query that loads.
    const CallError g =
        FailureOf(other.Get(), L"GetConfigurationItem", {Variant::FromString(L"SmartTagConfig")});
    EXPECT_EQ(g.code, kErrParse);
    EXPECT_EQ(g.source, L"GetConfigurationItem(): " + f.source.substr(18));
    EXPECT_EQ(g.description, f.description);
    // Nothing lost, nothing written; repaired, the file is read again after Initialize.
    EXPECT_EQ(FileBytes(ConfigPath()), c.file.value_or("(missing)"));
    WriteConfig("<SmartTagConfig><Caption>Fixed</Caption></SmartTagConfig>");
    EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").Vt(), VT_EMPTY);
    ByName(config.Get(), L"Initialize");
    EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").AsString(), L"Fixed");
  }
}

TEST_F(ConfigStore, HasConfigChangedFollowsTheFileTime) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  // The file's time an hour back: the save below is then in a later second than the first look,
  // without waiting for the clock.
  ASSERT_TRUE(Backdate(ConfigPath(), 3600)) << "the store made no file";
  EXPECT_TRUE(ByName(config.Get(), L"HasConfigChanged").AsBool());
  EXPECT_FALSE(ByName(config.Get(), L"HasConfigChanged").AsBool());
  TermsOf(config.Get());
  ASSERT_EQ(Update(config.Get(), NewCollection({LI(L"LATER")}).Get()).code, S_OK);
  EXPECT_TRUE(ByName(config.Get(), L"HasConfigChanged").AsBool());
  EXPECT_FALSE(ByName(config.Get(), L"HasConfigChanged").AsBool());
  // Every object keeps its own last look.
  EXPECT_TRUE(ByName(NewConfig().Get(), L"HasConfigChanged").AsBool());
  // A missing file: the file system object's own error, unchanged.
  ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
  EXPECT_EQ(FailureOf(config.Get(), L"HasConfigChanged").code, ErrorNumberToHresult(53));
}

}  // namespace

namespace {

// A configuration with these terms only.
std::string ConfigWith(const std::vector<Term>& terms) {
  std::string file = "<SmartTagConfig><RecognizerProvider><Recognizers><!-- c -->";
  for (const Term& t : terms)
    file += "<Recognizer ClassCode=\"" + Narrow(t.classCode) + "\" Enabled=\"" + Narrow(t.enabled) +
            "\" CaseSensitive=\"Yes\" Mask=\"\">" + Narrow(t.value) + "</Recognizer>";
  return file + "</Recognizers></RecognizerProvider></SmartTagConfig>";
}

TEST_F(ConfigStore, OkAppliesTheUsersEditsToTheTermsTheFileHoldsThen) {
  const Term d = {L"D", L""}, le = {L"LE", L"D"}, ex = {L"LE", L"Excluded"};
  struct Case {
    const char* name;
    std::vector<Term> atOpen, atOk;  // the file when the dialog opens and when OK is pressed
    std::vector<qp::config::TermEdit> edits;
    std::vector<Term> after;
  };
  const Case cases[] = {
      {"terms the user did not touch stay as the other process left them, additions follow",
       {d, LI(L"QP"), LI(L"QUILLPOINT"), LI(L"FIELD"), ex},
       {d, LI(L"Q2"), LI(L"QUILLPOINT", L"No"), ex, LI(L"NEW")},
       {Added(L"U1"), Added(L"U2", false)},
       {d, LI(L"Q2"), LI(L"QUILLPOINT", L"No"), ex, LI(L"NEW"), LI(L"U1"), LI(L"U2", L"No")}},
      {"the user's change wins on the terms the user touched",
       {LI(L"A"), LI(L"B"), LI(L"C"), LI(L"D"), le},
       {LI(L"A2"), LI(L"C"), LI(L"D", L"No"), le, LI(L"T"), LI(L"S")},
       {Changed(L"A", L"A9", true), Changed(L"B", L"B9", true), Changed(L"C", L"s", false),
        Deleted(L"D"), Added(L"T", false)},
       {LI(L"A2"), LI(L"s", L"No"), le, LI(L"T", L"No"), LI(L"A9"), LI(L"B9")}},
      {"a check change brings back a term the other process deleted",
       {LI(L"A"), LI(L"B", L"No")},
       {LI(L"B", L"No")},
       {Changed(L"A", L"A", false, true), Changed(L"B", L"B", true, true)},
       {LI(L"B"), LI(L"A", L"No")}},
      {"terms passed round by renames each land once",
       {LI(L"A"), LI(L"B")},
       {LI(L"A"), LI(L"B")},
       {Changed(L"A", L"B", true), Changed(L"B", L"A", false)},
       {LI(L"B"), LI(L"A", L"No")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProductState();
    WriteConfig(ConfigWith(c.atOpen));
    ComPtr<_SmartTagConfig> config = NewConfig(ScriptedTermsDialog::Make);
    ScriptedTermsDialog::Reset(c.edits);
    ScriptedTermsDialog::beforeOk = [&] { WriteConfig(ConfigWith(c.atOk)); };
    ASSERT_EQ(config->VisualConfig(), S_OK);
    EXPECT_EQ(ScriptedTermsDialog::refused, 0);
    EXPECT_EQ(TermsInFile(), c.after);
    EXPECT_EQ(TermsOf(config.Get()), c.after);  // the store holds what it saved
  }
}

TEST_F(ConfigStore, DamagedAndHostileFilesAreAnsweredAtOnceAndNeverWritten) {
  LoadResourceLibrary(BinFolder() + L"\\1033\\nvsqpres.dll");
  for (const DamagedConfig& c : DamagedConfigs()) {
    SCOPED_TRACE(c.name);
    WriteConfig(c.bytes);
    const CallError f = FailureOf(NewConfig().Get(), L"GetRecognizers", {Variant::FromBool(false)});
    EXPECT_EQ(f.code, c.answer == StoreAnswer::kReads ? S_OK : kErrParse) << Narrow(f.description);
    if (c.answer != StoreAnswer::kReads) {
      EXPECT_TRUE(f.description.ends_with(L" " + ConfigPath())) << Narrow(f.description);
      EXPECT_EQ(f.source.rfind(L"GetRecognizers(): ConfigFileLoad(): ", 0), 0u);
    }
    if (c.answer == StoreAnswer::kDocumentType) {
      EXPECT_EQ(f.description, Message(114, L"") + L" " + ConfigPath());
      EXPECT_NE(qp::test::Upper(f.source).find(L"<!DOCTYPE"), std::wstring::npos)
          << Narrow(f.source);
    }
    EXPECT_EQ(FileBytes(ConfigPath()), c.bytes);
  }
  EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});
}

TEST_F(ConfigStore, AFileThatBrokeWhileTheStoreRunsOpensNoDialogAndIsNeverReplaced) {
  ComPtr<_SmartTagConfig> config = NewConfig(ScriptedTermsDialog::Make);
  ASSERT_EQ(TermsOf(config.Get()), kDefaultTerms);
  const std::string broken = "<SmartTagConfig><Caption>x</Captoin></SmartTagConfig>";
  WindowWatcher boxes(WindowWatcher::Always(L"OK"));
  size_t seen = 0;
  for (bool whileOpen : {false, true}) {
    SCOPED_TRACE(whileOpen ? "broken while the dialog is open" : "broken before it opens");
    WriteConfig(Narrow(kDefault));
    ScriptedTermsDialog::Reset({Added(L"NEW")});
    if (whileOpen) {
      ScriptedTermsDialog::beforeOk = [&] { WriteConfig(broken); };
    } else {
      WriteConfig(broken);
    }
    ASSERT_EQ(config->VisualConfig(), S_OK);
    // Refused at the opening, or at each OK (the second after the first was refused).
    EXPECT_EQ(ScriptedTermsDialog::shown, whileOpen ? 1 : 0);
    seen += whileOpen ? 2 : 1;
    ASSERT_TRUE(boxes.WaitFor(seen));
    const CallError f = FailureOf(NewConfig().Get(), L"GetRecognizers", {Variant::FromBool(false)});
    ExpectBox(boxes.Seen().back(), f.description);
    EXPECT_EQ(FileBytes(ConfigPath()), broken);
    EXPECT_EQ(TermsOf(config.Get()), kDefaultTerms);  // the document held for the queries
  }
  EXPECT_EQ(boxes.Seen().size(), seen);
}

}  // namespace
