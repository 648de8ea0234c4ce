// The configuration store as the engine and other automation clients use it: the default file
// and its first use, queries and term updates on the real XML parser, the user's file on the
// real file system, and the cache flush flag in the real registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/xml_document.h"
#include "nvstagQP.h"
#include "platform/automation.h"
#include "platform/error.h"
#include "term_records.h"
#include "wine_test_env.h"

namespace {

using qp::test::Narrow;

using qp::Bstr;
using qp::ComPtr;
using qp::Variant;

constexpr wchar_t kTypeName[] = L"urn:norvane:quillpoint:smarttag#insertquillpoint";
using qp::test::kFlag;
constexpr long kErrParse = static_cast<long>(0x80040205);

// ---- the default document, line by line as the configuration format fixes it ---------------

std::wstring Tabs(int n) {
  return std::wstring(static_cast<size_t>(n), L'\t');
}

std::wstring RecognizerLine(const std::wstring& code, const std::wstring& term) {
  return Tabs(3) + L"<Recognizer ClassCode=\"" + code +
         L"\" Enabled=\"Yes\" CaseSensitive=\"Yes\" Mask=\"\">" + term + L"</Recognizer>";
}

std::vector<std::wstring> DefaultLines() {
  std::vector<std::wstring> lines = {
      L"<!-- Default Quillpoint SmartTag configuration -->",
      L"<SmartTagConfig>",
      Tabs(1) + L"<Caption>Norvane Quillpoint</Caption>",
      Tabs(1) + L"<Name>" + kTypeName + L"</Name>",
      Tabs(1) + L"<NameExt/>",
      Tabs(1) + L"<DownloadURL></DownloadURL>",
      Tabs(1) + L"<RecognizerProvider>",
      Tabs(2) + L"<Name>Norvane Quillpoint Recognizer</Name>",
      Tabs(2) +
          L"<Description>This recognizer recognizes Quillpoint keywords and Names found "
          L"in an Norvane Template Catalog</Description>",
      Tabs(2) + L"<Recognizers>",
      Tabs(3) + L"<!-- Valid ClassCode:",
  };
  for (const wchar_t* code : {L"LI = Literial Includes,", L"LE = Literial Excludes, ",
                              L"D = Derived (i.e from Database or Data service)"})
    lines.push_back(Tabs(5) + code);
  lines.push_back(Tabs(3) + L" -->");
  lines.push_back(RecognizerLine(L"D", L""));
  for (const wchar_t* term : {L"QP", L"QUILLPOINT", L"FIELD"})
    lines.push_back(RecognizerLine(L"LI", term));
  for (const std::wstring& line :
       {Tabs(2) + L"</Recognizers>", Tabs(1) + L"</RecognizerProvider>",
        Tabs(1) + L"<ActionProvider>", Tabs(2) + L"<Name>Quillpoint</Name>",
        Tabs(2) + L"<Description>This Action Provider provides Actions to insert Norvane "
                  L"Fields</Description>",
        Tabs(2) + L"<Actions>", Tabs(3) + L"<!-- Valid ClassCodes"})
    lines.push_back(line);
  for (const wchar_t* code :
       {L"I = Insert Data, ", L"V = View Data,", L"S = Insert Select From List"})
    lines.push_back(Tabs(5) + code);
  lines.push_back(Tabs(3) + L"-->");
  lines.push_back(Tabs(3) + L"<!-- Valid InsertPosition Codes:");
  for (const wchar_t* code :
       {L"RT = ReplaceSmartTags, ", L"AP = After Paragraph, ", L"BP = Before Paragraph,",
        L"AS = After Sentence, ", L"BS = Before Sentence, ", L"RS = Replace Sentence,",
        L"RP = Replace Paragraph"})
    lines.push_back(Tabs(5) + code);
  lines.push_back(Tabs(3) + L" -->");
  lines.push_back(Tabs(3) +
                  L"<Action Name=\"Insert\" ClassCode=\"I\" Enabled=\"Yes\" "
                  L"InsertPosition=\"RT\">Replace Smart Tag with Quillpoint</Action>");
  lines.push_back(Tabs(3) +
                  L"<Action Name=\"ViewConfig\" ClassCode=\"V\" Enabled=\"Yes\">"
                  L"Maintain Recognizer Terms</Action>");
  lines.push_back(Tabs(2) + L"</Actions>");
  lines.push_back(Tabs(1) + L"</ActionProvider>");
  lines.push_back(L"</SmartTagConfig>");
  return lines;
}

std::wstring Joined(const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (size_t i = 0; i < lines.size(); ++i)
    text += (i ? L"\r\n" : L"") + lines[i];
  return text;
}

std::wstring ResourceText(HMODULE module) {
  HRSRC found = FindResourceExW(module, L"QPSTCONFIG", MAKEINTRESOURCEW(101),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (!found) return L"(missing)";
  const void* data = LockResource(LoadResource(module, found));
  return std::wstring(static_cast<const wchar_t*>(data), SizeofResource(module, found) / 2);
}

// ---- the user's file ---------------------------------------------------------------------------

using qp::test::ConfigFolder;
using qp::test::ConfigFolderEntries;
using qp::test::ConfigPath;
using qp::test::FileBytes;
using qp::test::LI;
using qp::test::NewRecord;
using qp::test::Term;
using qp::test::WriteConfig;

// ---- COM helpers -------------------------------------------------------------------------------

struct Failure {
  HRESULT hr = S_OK;
  std::wstring source;
  std::wstring description;
};

// The error information a failed vtable call left.
Failure FailureOf(HRESULT hr) {
  Failure f{hr, L"", L""};
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.GetAddressOf()) == S_OK && info) {
    Bstr source, description;
    info->GetSource(source.Out());
    info->GetDescription(description.Out());
    f.source = source.Str();
    f.description = description.Str();
  }
  return f;
}

std::wstring Text(IDispatch* record, const wchar_t* property) {
  return qp::Call(record, property).AsString();
}

// The items of any collection, through its enumerator.
std::vector<ComPtr<IDispatch>> Items(IDispatch* collection) {
  std::vector<ComPtr<IDispatch>> items;
  Variant unknown = qp::Call(collection, L"_NewEnum");
  ComPtr<IEnumVARIANT> itemsEnum;
  EXPECT_EQ(unknown.Get()->punkVal->QueryInterface(
                IID_IEnumVARIANT, reinterpret_cast<void**>(itemsEnum.GetAddressOf())),
            S_OK);
  for (;;) {
    Variant item;
    ULONG fetched = 0;
    if (itemsEnum->Next(1, item.Get(), &fetched) != S_OK || fetched != 1) break;
    items.push_back(item.AsObject());
  }
  return items;
}

// The terms of a list, read through its enumerator.
std::vector<Term> Terms(IDispatch* list) {
  std::vector<Term> terms;
  for (const auto& r : Items(list))
    terms.push_back({Text(r.Get(), L"ClassCode"), Text(r.Get(), L"Value"),
                     Text(r.Get(), L"Enabled"), Text(r.Get(), L"CaseSensitive"),
                     Text(r.Get(), L"mask")});
  return terms;
}

ComPtr<IDispatch> NewTerm(const std::wstring& code, const std::wstring& value,
                          const std::wstring& enabled, const std::wstring& caseSensitive,
                          const std::wstring& mask) {
  return NewRecord({code, value, enabled, caseSensitive, mask});
}

ComPtr<_Records> NewList(std::initializer_list<IDispatch*> items) {
  ComPtr<_Records> list;
  EXPECT_EQ(qp::CreateRecords(IID__Records, reinterpret_cast<void**>(list.GetAddressOf())), S_OK);
  for (IDispatch* item : items)
    EXPECT_EQ(list->Add(*Variant::FromObject(item).Get()), S_OK);
  return list;
}

class ConfigStore : public ::testing::Test {
 protected:
  void SetUp() override { qp::test::ResetProductState(); }

  static ComPtr<_SmartTagConfig> NewConfig() {
    ComPtr<_SmartTagConfig> config;
    HRESULT hr = qp::CreateSmartTagConfig(nullptr, IID__SmartTagConfig,
                                          reinterpret_cast<void**>(config.GetAddressOf()));
    EXPECT_EQ(hr, S_OK) << FailureOf(hr).source;
    return config;
  }
  static ComPtr<_Records> Recognizers(_SmartTagConfig* config, bool enabledOnly) {
    ComPtr<_Records> list;
    HRESULT hr =
        config->GetRecognizers(enabledOnly ? VARIANT_TRUE : VARIANT_FALSE, list.GetAddressOf());
    EXPECT_EQ(hr, S_OK) << FailureOf(hr).source;
    return list;
  }
  static HRESULT Update(_SmartTagConfig* config, _Records* list) {
    IDispatch* d = list;
    return config->UpdateRecognizers(&d);
  }
  static Variant Item(_SmartTagConfig* config, const wchar_t* path) {
    Variant item;
    Bstr xql(path);
    EXPECT_EQ(config->GetConfigurationItem(xql.Get(), item.Out()), S_OK);
    return item;
  }

  qp::test::ComApartment com_;
};

// ---- the default document and the first use ----------------------------------------------------

TEST_F(ConfigStore, DefaultDocumentIsCarriedExactlyAndWrittenCleaned) {
  const std::vector<std::wstring> lines = DefaultLines();
  ASSERT_EQ(lines.size(), 44u);
  const std::wstring resource = L"\xFEFF" + Joined(lines) + L"\r\n" + std::wstring(1, L'\0');

  // The server carries the document under type "QPSTCONFIG", 101, language 1033.
  HMODULE server = LoadLibraryExW((qp::test::BinFolder() + L"\\nvstagQP.dll").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(ResourceText(server), resource);
  FreeLibrary(server);
  EXPECT_EQ(ResourceText(nullptr), resource);

  // First use: the folder and the file appear, cleaned and in ANSI.
  ASSERT_EQ(GetFileAttributesW(ConfigFolder().c_str()), INVALID_FILE_ATTRIBUTES);
  ComPtr<_SmartTagConfig> config = NewConfig();
  ASSERT_TRUE(config);
  const std::string file = FileBytes(ConfigPath());
  EXPECT_EQ(file, Narrow(Joined(lines)));
  EXPECT_EQ(file.rfind("<!--", 0), 0u);
  EXPECT_EQ(file.substr(file.size() - 17), "</SmartTagConfig>");

  // The path through the class interface and by name.
  Bstr path;
  ASSERT_EQ(config->GetConfigFilePath(path.Out()), S_OK);
  EXPECT_EQ(path.Str(), ConfigPath());
  EXPECT_EQ(qp::Call(config.Get(), L"GetConfigFilePath").AsString(), ConfigPath());
  // Nothing else was left in the folder.
  EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});

  // A file deleted since is written again by the next GetConfigFilePath.
  ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
  ASSERT_EQ(config->GetConfigFilePath(path.Out()), S_OK);
  EXPECT_EQ(FileBytes(ConfigPath()), file);
}

TEST_F(ConfigStore, ExistingFileIsNeverOverwritten) {
  for (const std::string& mine :
       {std::string("<SmartTagConfig><Caption>Mine</Caption></SmartTagConfig>"),
        std::string("not a configuration at all"), std::string()}) {
    WriteConfig(mine);
    ComPtr<_SmartTagConfig> config = NewConfig();
    Bstr path;
    ASSERT_EQ(config->GetConfigFilePath(path.Out()), S_OK);
    EXPECT_EQ(FileBytes(ConfigPath()), mine);
  }
}

TEST_F(ConfigStore, CreationFailsWhenTheFileCanNeitherBeFoundNorWritten) {
  // A file where the folder should be: the folder cannot be made.
  HANDLE blocker =
      CreateFileW(ConfigFolder().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
  CloseHandle(blocker);
  ComPtr<_SmartTagConfig> config;
  const HRESULT hr = qp::CreateSmartTagConfig(nullptr, IID__SmartTagConfig,
                                              reinterpret_cast<void**>(config.GetAddressOf()));
  const Failure f = FailureOf(hr);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_FALSE(config);
  EXPECT_EQ(f.source.rfind(L"SmarTagConfigGetConfigFilePath(): ", 0), 0u) << f.source;
  EXPECT_FALSE(f.description.empty());
}

// ---- queries -----------------------------------------------------------------------------------

TEST_F(ConfigStore, QueriesOnTheDefaultDocument) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").AsString(), L"Norvane Quillpoint");
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Name").AsString(), kTypeName);
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/ActionProvider/Name").AsString(), L"Quillpoint");
  Variant nameExt = Item(config.Get(), L"SmartTagConfig/NameExt");
  EXPECT_EQ(nameExt.Vt(), VT_BSTR);
  EXPECT_EQ(nameExt.AsString(), L"");
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/NoSuchElement").Vt(), VT_EMPTY);
  // By name, as other clients call it.
  EXPECT_EQ(qp::Call(config.Get(), L"GetConfigurationItem",
                     {Variant::FromString(L"SmartTagConfig/RecognizerProvider/Name")})
                .AsString(),
            L"Norvane Quillpoint Recognizer");
  EXPECT_EQ(qp::Call(config.Get(), L"GetConfigurationItem",
                     {Variant::FromString(L"SmartTagConfig/DownloadURL/Nothing")})
                .Vt(),
            VT_EMPTY);

  const std::vector<Term> all = {
      {L"D", L"", L"Yes", L"Yes", L""}, LI(L"QP"), LI(L"QUILLPOINT"), LI(L"FIELD")};
  EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()), all);
  EXPECT_EQ(Terms(Recognizers(config.Get(), true).Get()), all);

  // The verbs, through Item and Count by vtable and the records by name.
  ComPtr<_Records> verbs;
  ASSERT_EQ(config->GetActions(VARIANT_TRUE, verbs.GetAddressOf()), S_OK);
  LONG count = 0;
  ASSERT_EQ(verbs->get_Count(&count), S_OK);
  ASSERT_EQ(count, 2);
  const wchar_t* expected[2][5] = {
      {L"Insert", L"I", L"Yes", L"RT", L"Replace Smart Tag with Quillpoint"},
      {L"ViewConfig", L"V", L"Yes", L"", L"Maintain Recognizer Terms"}};
  for (LONG i = 1; i <= 2; ++i) {
    Variant item;
    ASSERT_EQ(verbs->get_Item(*Variant::FromLong(i).Get(), item.Out()), S_OK);
    ComPtr<IDispatch> verb = item.AsObject();
    const wchar_t* const* want = expected[i - 1];
    EXPECT_EQ(Text(verb.Get(), L"Name"), want[0]);
    EXPECT_EQ(Text(verb.Get(), L"ClassCode"), want[1]);
    EXPECT_EQ(Text(verb.Get(), L"Enabled"), want[2]);
    EXPECT_EQ(Text(verb.Get(), L"InsertPosition"), want[3]);
    EXPECT_EQ(Text(verb.Get(), L"Value"), want[4]);
    // And the same record through its class interface.
    ComPtr<_ActionProps> props;
    ASSERT_EQ(
        verb->QueryInterface(IID__ActionProps, reinterpret_cast<void**>(props.GetAddressOf())),
        S_OK);
    Bstr name;
    ASSERT_EQ(props->get_Name(name.Out()), S_OK);
    EXPECT_EQ(name.Str(), want[0]);
  }
  // The collection's own default member answers by name too.
  ComPtr<IDispatch> second = qp::Call(verbs.Get(), L"Item", {Variant::FromLong(2)}).AsObject();
  EXPECT_EQ(Text(second.Get(), L"Name"), L"ViewConfig");
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
  EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()),
            (std::vector<Term>{{L"LI", L"A", L"yes", L"", L""},
                               {L"LI", L"B", L"No", L"", L"m"},
                               {L"LI", L"C", L"", L"", L""},
                               {L"LI", L"D", L"", L"", L""},
                               {L"LI", L"E", L"True", L"", L""},
                               {L"LI", L"F", L" Yes", L"", L""},
                               {L"", L"G", L"", L"", L""},
                               {L"LE", L"H", L"YES", L"No", L""}}));
  EXPECT_EQ(
      Terms(Recognizers(config.Get(), true).Get()),
      (std::vector<Term>{{L"LI", L"A", L"yes", L"", L""}, {L"LE", L"H", L"YES", L"No", L""}}));
  ComPtr<_Records> verbs;
  ASSERT_EQ(config->GetActions(VARIANT_TRUE, verbs.GetAddressOf()), S_OK);
  auto items = Items(verbs.Get());
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(Text(items[0].Get(), L"Name"), L"B");
  EXPECT_EQ(Text(items[0].Get(), L"ClassCode"), L"");
  ASSERT_EQ(config->GetActions(VARIANT_FALSE, verbs.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(Items(verbs.Get()).size(), 2u);
}

TEST_F(ConfigStore, VerbsNeedALoadedDocument) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  ComPtr<_Records> verbs;
  Failure f = FailureOf(config->GetActions(VARIANT_TRUE, verbs.GetAddressOf()));
  EXPECT_EQ(f.hr, qp::ErrorNumberToHresult(qp::kErrObjectNotSet));
  EXPECT_EQ(f.source.rfind(L"GetActions(): ", 0), 0u) << f.source;
  EXPECT_FALSE(verbs);

  Item(config.Get(), L"SmartTagConfig/Caption");
  ASSERT_EQ(config->GetActions(VARIANT_TRUE, verbs.GetAddressOf()), S_OK);
  ASSERT_EQ(config->Initialize(), S_OK);
  f = FailureOf(config->GetActions(VARIANT_TRUE, verbs.ReleaseAndGetAddressOf()));
  EXPECT_EQ(f.hr, qp::ErrorNumberToHresult(qp::kErrObjectNotSet));
  // By name the failure arrives as an error with number, source and description.
  try {
    qp::Call(config.Get(), L"GetActions", {Variant::FromBool(true)});
    ADD_FAILURE() << "GetActions by name did not fail";
  } catch (const qp::Error& e) {
    EXPECT_EQ(e.number, qp::kErrObjectNotSet);
    EXPECT_EQ(e.source.rfind(L"GetActions(): ", 0), 0u) << e.source;
    EXPECT_FALSE(e.description.empty());
  }
}

// ---- records and collections
// ---------------------------------------------------------------------

TEST_F(ConfigStore, RecordsAndCollectionsBehaveAsAutomationObjects) {
  ComPtr<IDispatch> term = NewTerm(L"", L"", L"", L"", L"");
  for (const wchar_t* p : {L"ClassCode", L"Enabled", L"mask", L"CaseSensitive", L"Value"})
    EXPECT_EQ(Text(term.Get(), p), L"") << p;
  ComPtr<IDispatch> verb;
  ASSERT_EQ(qp::CreateActionProps(IID_IDispatch, reinterpret_cast<void**>(verb.GetAddressOf())),
            S_OK);
  for (const wchar_t* p : {L"Name", L"ClassCode", L"Enabled", L"InsertPosition", L"Value"}) {
    EXPECT_EQ(Text(verb.Get(), p), L"") << p;
    qp::Put(verb.Get(), p, Variant::FromString(std::wstring(p) + L"!"));
  }
  for (const wchar_t* p : {L"Name", L"ClassCode", L"Enabled", L"InsertPosition", L"Value"})
    EXPECT_EQ(Text(verb.Get(), p), std::wstring(p) + L"!");

  // A term's five fields are its own: each property keeps what was put into it.
  ComPtr<IDispatch> filled = NewTerm(L"c", L"v", L"e", L"s", L"m");
  ComPtr<_RecognizerProps> props;
  ASSERT_EQ(
      filled->QueryInterface(IID__RecognizerProps, reinterpret_cast<void**>(props.GetAddressOf())),
      S_OK);
  Bstr text;
  ASSERT_EQ(props->get_CaseSensitive(text.Out()), S_OK);
  EXPECT_EQ(text.Str(), L"s");
  ASSERT_EQ(props->get_mask(text.Out()), S_OK);
  EXPECT_EQ(text.Str(), L"m");

  // The list by name: Add, Count, Item from 1, Remove, For Each in insertion order.
  ComPtr<_Records> list = NewList({});
  IDispatch* byName = list.Get();
  for (const wchar_t* v : {L"one", L"two", L"three"})
    qp::Call(byName, L"Add", {Variant::FromObject(NewTerm(L"LI", v, L"Yes", L"", L"").Get())});
  EXPECT_EQ(qp::Call(byName, L"Count").AsLong(), 3);
  EXPECT_EQ(Text(qp::Call(byName, L"Item", {Variant::FromLong(1)}).AsObject().Get(), L"Value"),
            L"one");
  EXPECT_EQ(Text(qp::Call(byName, L"Item", {Variant::FromShort(3)}).AsObject().Get(), L"Value"),
            L"three");
  qp::Call(byName, L"Remove", {Variant::FromLong(2)});
  EXPECT_EQ(Terms(byName), (std::vector<Term>{{L"LI", L"one", L"Yes", L"", L""},
                                              {L"LI", L"three", L"Yes", L"", L""}}));
  for (long bad : {0L, 3L, -1L}) {
    Variant item;
    EXPECT_EQ(list->get_Item(*Variant::FromLong(bad).Get(), item.Out()),
              qp::ErrorNumberToHresult(9))
        << bad;
  }
  Variant item;
  EXPECT_EQ(list->get_Item(*Variant::FromString(L"one").Get(), item.Out()),
            qp::ErrorNumberToHresult(5));
  // The enumerator is a snapshot with Skip, Reset and Clone.
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(list->get__NewEnum(unknown.GetAddressOf()), S_OK);
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(e.GetAddressOf())),
            S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumVARIANT> copy;
  ASSERT_EQ(e->Clone(copy.GetAddressOf()), S_OK);
  VARIANT two[2];
  ULONG fetched = 0;
  EXPECT_EQ(copy->Next(2, two, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(Text(two[0].pdispVal, L"Value"), L"three");
  VariantClear(&two[0]);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(5), S_FALSE);
}

// ---- term updates and saves ---------------------------------------------------------------------

TEST_F(ConfigStore, UpdateRecognizersReplacesTheTermsKeepsCommentsAndRaisesTheFlag) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  ComPtr<_Records> terms = Recognizers(config.Get(), false);
  // Edit: disable QP, mark QUILLPOINT case-insensitive, drop FIELD, add a new term.
  auto items = Items(terms.Get());
  ASSERT_EQ(items.size(), 4u);
  qp::Put(items[1].Get(), L"Enabled", Variant::FromString(L"No"));
  qp::Put(items[2].Get(), L"CaseSensitive", Variant::FromString(L"No"));
  qp::Put(items[2].Get(), L"mask", Variant::FromString(L"x"));
  ComPtr<IDispatch> added = NewTerm(L"LE", L"NEW TERM", L"yes", L"No", L"");
  ComPtr<_Records> edited = NewList({items[0].Get(), added.Get(), items[1].Get(), items[2].Get()});

  bool found = true;
  qp::test::GetSetting(HKEY_CURRENT_USER, kFlag, &found);
  ASSERT_FALSE(found);
  SYSTEMTIME start;
  GetLocalTime(&start);
  const std::wstring earliest = qp::test::Stamp(start);
  // By name, the collection passed by reference as the class interface declares it.
  IDispatch* list = edited.Get();
  VARIANT byRef;
  byRef.vt = VT_DISPATCH | VT_BYREF;
  byRef.ppdispVal = &list;
  Variant arg;
  *arg.Get() = byRef;
  qp::Call(config.Get(), L"UpdateRecognizers", {arg});
  *arg.Get() = VARIANT{};  // the reference is ours, not the variant's
  SYSTEMTIME end;
  GetLocalTime(&end);

  // The held document is what the file holds now.
  const std::vector<Term> now = {{L"D", L"", L"Yes", L"Yes", L""},
                                 {L"LE", L"NEW TERM", L"yes", L"Yes", L""},
                                 {L"LI", L"QP", L"No", L"Yes", L""},
                                 {L"LI", L"QUILLPOINT", L"Yes", L"Yes", L"x"}};
  EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()), now);
  EXPECT_EQ(Terms(Recognizers(config.Get(), true).Get()).size(), 3u);
  ComPtr<_SmartTagConfig> other = NewConfig();
  EXPECT_EQ(Terms(Recognizers(other.Get(), false).Get()), now);
  EXPECT_EQ(Item(other.Get(), L"SmartTagConfig/Caption").AsString(), L"Norvane Quillpoint");

  // The file: the comment still first in its container, every term case-sensitive, the
  // attributes in the order of the first term, the verbs' comments untouched.
  const std::string file = FileBytes(ConfigPath());
  const size_t container = file.find("<Recognizers>");
  ASSERT_NE(container, std::string::npos);
  const size_t comment = file.find("<!--", container);
  const size_t firstTerm = file.find("<Recognizer ", container);
  EXPECT_LT(comment, firstTerm);
  EXPECT_EQ(file.substr(container + 13, comment - container - 13).find_first_not_of(" \t\r\n"),
            std::string::npos);
  EXPECT_NE(file.find("LE = Literial Excludes, "), std::string::npos);
  EXPECT_NE(file.find("RP = Replace Paragraph"), std::string::npos);
  EXPECT_NE(file.find("<Recognizer ClassCode=\"LE\" Enabled=\"yes\" CaseSensitive=\"Yes\" "
                      "Mask=\"\">NEW TERM</Recognizer>"),
            std::string::npos)
      << file;
  EXPECT_EQ(file.find("CaseSensitive=\"No\""), std::string::npos);
  EXPECT_EQ(file.find("FIELD"), std::string::npos);
  size_t at = 0;
  for (const char* value : {"ClassCode=\"D\"", ">NEW TERM<", ">QP<", ">QUILLPOINT<"}) {
    at = file.find(value, at);
    EXPECT_NE(at, std::string::npos) << value;
  }

  // The save moved the flag to its own time, and left nothing beside the file.
  const std::wstring flag = qp::test::GetSetting(HKEY_CURRENT_USER, kFlag);
  EXPECT_GE(flag, earliest);
  EXPECT_LE(flag, qp::test::Stamp(end));
  EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});
}

TEST_F(ConfigStore, UpdateRecognizersThatCannotBeDoneLeaveTheFileAsItWas) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  Recognizers(config.Get(), false);
  const std::string original = FileBytes(ConfigPath());
  qp::test::SetSetting(HKEY_CURRENT_USER, kFlag, L"untouched");

  // An empty collection: nothing removed, nothing written, no flag.
  ComPtr<_Records> empty = NewList({});
  EXPECT_EQ(Update(config.Get(), empty.Get()), S_OK);
  EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()).size(), 4u);

  // No collection at all.
  Failure f = FailureOf(Update(config.Get(), nullptr));
  EXPECT_EQ(f.hr, qp::ErrorNumberToHresult(qp::kErrObjectNotSet));
  EXPECT_EQ(f.source.rfind(L"UpdateRecognizers(): ", 0), 0u) << f.source;

  // An item that is not a term: the held terms are gone, the file is not.
  ComPtr<IDispatch> verb;
  ASSERT_EQ(qp::CreateActionProps(IID_IDispatch, reinterpret_cast<void**>(verb.GetAddressOf())),
            S_OK);
  ComPtr<_Records> wrong = NewList({NewTerm(L"LI", L"OK", L"Yes", L"", L"").Get(), verb.Get()});
  f = FailureOf(Update(config.Get(), wrong.Get()));
  EXPECT_EQ(f.hr, qp::ErrorNumberToHresult(13));
  EXPECT_EQ(f.source.rfind(L"UpdateRecognizers(): ", 0), 0u) << f.source;
  EXPECT_EQ(FileBytes(ConfigPath()), original);
  EXPECT_EQ(qp::test::GetSetting(HKEY_CURRENT_USER, kFlag), L"untouched");
  ASSERT_EQ(config->Initialize(), S_OK);
  EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()).size(), 4u);

  // A first term without all four attributes cannot serve as the template.
  const std::string partial =
      "<SmartTagConfig><RecognizerProvider><Recognizers><!-- c -->"
      "<Recognizer ClassCode=\"LI\" Enabled=\"Yes\">A</Recognizer>"
      "</Recognizers></RecognizerProvider></SmartTagConfig>";
  WriteConfig(partial);
  ASSERT_EQ(config->Initialize(), S_OK);
  Recognizers(config.Get(), false);
  ComPtr<_Records> one = NewList({NewTerm(L"LI", L"B", L"Yes", L"", L"").Get()});
  f = FailureOf(Update(config.Get(), one.Get()));
  EXPECT_EQ(f.hr, qp::ErrorNumberToHresult(qp::kErrObjectNotSet));
  EXPECT_EQ(f.source.rfind(L"UpdateRecognizers(): MakeRecognizerNode(): ", 0), 0u) << f.source;
  EXPECT_EQ(FileBytes(ConfigPath()), partial);

  // No term at all: no template, nothing removed.
  const std::string none =
      "<SmartTagConfig><RecognizerProvider><Recognizers><!-- c -->"
      "</Recognizers></RecognizerProvider></SmartTagConfig>";
  WriteConfig(none);
  ASSERT_EQ(config->Initialize(), S_OK);
  Recognizers(config.Get(), false);
  EXPECT_TRUE(FAILED(Update(config.Get(), one.Get())));
  EXPECT_EQ(FileBytes(ConfigPath()), none);
  EXPECT_EQ(qp::test::GetSetting(HKEY_CURRENT_USER, kFlag), L"untouched");
}

TEST_F(ConfigStore, AFailedSaveKeepsTheFileAndTheHeldDocument) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  Recognizers(config.Get(), false);
  const std::string original = FileBytes(ConfigPath());
  qp::test::SetSetting(HKEY_CURRENT_USER, kFlag, L"untouched");
  // A file that may not be replaced.
  ASSERT_TRUE(SetFileAttributesW(ConfigPath().c_str(), FILE_ATTRIBUTE_READONLY));
  ComPtr<_Records> one = NewList({NewTerm(L"LI", L"ONLY", L"Yes", L"", L"").Get()});
  const Failure f = FailureOf(Update(config.Get(), one.Get()));
  EXPECT_TRUE(FAILED(f.hr));
  EXPECT_EQ(f.source.rfind(L"UpdateRecognizers(): ConfigFileSave(): ", 0), 0u) << f.source;
  EXPECT_GT(f.description.size(), ConfigPath().size() + 1);
  EXPECT_EQ(f.description.substr(f.description.size() - ConfigPath().size() - 1),
            L" " + ConfigPath());
  SetFileAttributesW(ConfigPath().c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_EQ(FileBytes(ConfigPath()), original);
  EXPECT_EQ(ConfigFolderEntries(), std::vector<std::wstring>{L"nvstagQP.cfg"});
  EXPECT_EQ(qp::test::GetSetting(HKEY_CURRENT_USER, kFlag), L"untouched");
  // The edited document is still held; a later save writes it.
  EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()), std::vector<Term>{LI(L"ONLY")});
}

TEST_F(ConfigStore, SetDeleteAndUpdateActionsRewriteTheFile) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  VARIANT_BOOL done = VARIANT_FALSE;
  Bstr url(L"SmartTagConfig/DownloadURL"), value(L"urn:example:download");
  ASSERT_EQ(config->SetConfigurationItem(url.Get(), value.Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  const std::wstring flag = qp::test::GetSetting(HKEY_CURRENT_USER, kFlag);
  EXPECT_EQ(flag.size(), 14 + 2 * qp::test::TimeSeparator().size());
  const std::string afterSet = FileBytes(ConfigPath());
  EXPECT_EQ(Item(NewConfig().Get(), L"SmartTagConfig/DownloadURL").AsString(),
            L"urn:example:download");

  // Nothing selected: False, and the file as it was.
  Bstr nothing(L"SmartTagConfig/Nothing");
  ASSERT_EQ(config->SetConfigurationItem(nothing.Get(), value.Get(), &done), S_OK);
  EXPECT_EQ(done, VARIANT_FALSE);
  EXPECT_EQ(
      qp::Call(config.Get(), L"DeleteConfigurationItem", {Variant::FromString(L"X/Y")}).AsBool(),
      false);
  EXPECT_EQ(FileBytes(ConfigPath()), afterSet);

  EXPECT_EQ(qp::Call(config.Get(), L"DeleteConfigurationItem",
                     {Variant::FromString(L"SmartTagConfig/NameExt")})
                .AsBool(),
            true);
  EXPECT_EQ(Item(NewConfig().Get(), L"SmartTagConfig/NameExt").Vt(), VT_EMPTY);

  // The verbs: one edited, one new without insert position.
  ComPtr<_Records> verbs;
  ASSERT_EQ(config->GetActions(VARIANT_FALSE, verbs.GetAddressOf()), S_OK);
  auto items = Items(verbs.Get());
  ASSERT_EQ(items.size(), 2u);
  qp::Put(items[0].Get(), L"InsertPosition", Variant::FromString(L""));
  qp::Put(items[1].Get(), L"InsertPosition", Variant::FromString(L"AP"));
  qp::Put(items[1].Get(), L"Enabled", Variant::FromString(L"No"));
  ComPtr<_Records> edited = NewList({items[1].Get(), items[0].Get()});
  IDispatch* list = edited.Get();
  ASSERT_EQ(config->UpdateActions(&list), S_OK);
  ComPtr<_SmartTagConfig> fresh = NewConfig();
  Item(fresh.Get(), L"SmartTagConfig/Caption");
  ASSERT_EQ(fresh->GetActions(VARIANT_FALSE, verbs.ReleaseAndGetAddressOf()), S_OK);
  items = Items(verbs.Get());
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(Text(items[0].Get(), L"Name"), L"ViewConfig");
  EXPECT_EQ(Text(items[0].Get(), L"InsertPosition"), L"AP");
  EXPECT_EQ(Text(items[0].Get(), L"Enabled"), L"No");
  EXPECT_EQ(Text(items[1].Get(), L"Name"), L"Insert");
  EXPECT_EQ(Text(items[1].Get(), L"InsertPosition"), L"");
  EXPECT_EQ(Text(items[1].Get(), L"Value"), L"Replace Smart Tag with Quillpoint");
  EXPECT_NE(FileBytes(ConfigPath()).find("Valid InsertPosition Codes:"), std::string::npos);
}

// ---- the user's file in the encodings the parser knows -------------------------------------

// The caption as the platform's parser reads the file from its path on its own; nullopt when it
// does not load the file.
std::optional<std::wstring> CaptionAsTheParserReadsIt(const std::wstring& path) {
  ComPtr<IXMLDOMDocument2> doc = qp::NewXmlDocument();
  doc->put_async(VARIANT_FALSE);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(doc->load(*Variant::FromString(path).Get(), &loaded)) || loaded != VARIANT_TRUE)
    return std::nullopt;
  ComPtr<IXMLDOMNode> caption;
  Bstr xql(L"SmartTagConfig/Caption"), text;
  if (doc->selectSingleNode(xql.Get(), caption.GetAddressOf()) != S_OK) return std::nullopt;
  caption->get_text(text.Out());
  return text.Str();
}

TEST_F(ConfigStore, TheFileReadsInEveryEncodingAsTheParserReadsItFromItsPath) {
  const std::wstring caption = L"Caf\u00E9 Z\u00FCrich", term = L"Cr\u00E8me br\u00FBl\u00E9e";
  const std::wstring body =
      L"<SmartTagConfig><Caption>" + caption +
      L"</Caption><RecognizerProvider><Recognizers>"
      L"<Recognizer ClassCode=\"LI\" Enabled=\"Yes\" CaseSensitive=\"Yes\">" +
      term + L"</Recognizer></Recognizers></RecognizerProvider></SmartTagConfig>\r\n";
  auto declared = [](const wchar_t* encoding) {
    return L"<?xml version=\"1.0\" encoding=\"" + std::wstring(encoding) + L"\"?>\r\n";
  };
  auto utf8 = [](const std::wstring& text) {
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(static_cast<size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                            static_cast<int>(bytes.size()), nullptr, nullptr)));
    return bytes;
  };
  auto latin1 = [](const std::wstring& text) {  // the texts here are all below U+0100
    std::string bytes;
    for (wchar_t c : text)
      bytes.push_back(static_cast<char>(c));
    return bytes;
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
      {"UTF-8 without declaration", utf8(body), true},
      {"UTF-8 with byte order mark", "\xEF\xBB\xBF" + utf8(declared(L"UTF-8") + body), true},
      {"UTF-16 with byte order mark", utf16(declared(L"UTF-16") + body), true},
      {"ISO-8859-1", latin1(declared(L"ISO-8859-1") + body), true},
      {"windows-1252", latin1(declared(L"windows-1252") + body), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteConfig(c.bytes);
    const std::optional<std::wstring> expected = CaptionAsTheParserReadsIt(ConfigPath());
    if (c.known) {
      ASSERT_EQ(expected, caption);
    }
    ComPtr<_SmartTagConfig> config = NewConfig();
    Variant item;
    Bstr xql(L"SmartTagConfig/Caption");
    const HRESULT hr = config->GetConfigurationItem(xql.Get(), item.Out());
    if (!expected) {
      EXPECT_EQ(hr, static_cast<HRESULT>(kErrParse));
      continue;
    }
    ASSERT_EQ(hr, S_OK) << FailureOf(hr).description;
    EXPECT_EQ(item.AsString(), *expected);
    // Where the parser reads the file right, so do the terms.
    if (*expected == caption) {
      EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()), std::vector<Term>{LI(term)});
    }
    EXPECT_EQ(FileBytes(ConfigPath()), c.bytes);  // read, never rewritten
  }
}

// ---- a file that cannot be read
// --------------------------------------------------------------------

TEST_F(ConfigStore, MalformedFileIsReportedOnceAndLeftAsItWas) {
  const std::string bad =
      "<!-- mine -->\r\n<SmartTagConfig>\r\n\t<Caption>Norvane Quillpoint</Captoin>\r\n"
      "\t<Name>x</Name>\r\n</SmartTagConfig>";
  WriteConfig(bad);
  ComPtr<_SmartTagConfig> config = NewConfig();
  ComPtr<_Records> terms;
  const Failure f = FailureOf(config->GetRecognizers(VARIANT_FALSE, terms.GetAddressOf()));
  EXPECT_EQ(f.hr, static_cast<HRESULT>(kErrParse));
  EXPECT_EQ(f.source,
            L"GetRecognizers(): ConfigFileLoad(): \t<Caption>Norvane Quillpoint</Captoin>");
  const std::wstring tail = L" " + ConfigPath();
  ASSERT_GT(f.description.size(), tail.size());
  EXPECT_EQ(f.description.substr(f.description.size() - tail.size()), tail);
  EXPECT_FALSE(terms);
  EXPECT_EQ(FileBytes(ConfigPath()), bad);

  // The empty document is kept: no text, no terms, no verbs, and no failure.
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").Vt(), VT_EMPTY);
  EXPECT_EQ(Terms(Recognizers(config.Get(), false).Get()).size(), 0u);
  ComPtr<_Records> verbs;
  ASSERT_EQ(config->GetActions(VARIANT_TRUE, verbs.GetAddressOf()), S_OK);
  EXPECT_EQ(Items(verbs.Get()).size(), 0u);
  EXPECT_EQ(FileBytes(ConfigPath()), bad);

  // By name on another object, from the first query that loads.
  ComPtr<_SmartTagConfig> other = NewConfig();
  try {
    qp::Call(other.Get(), L"GetConfigurationItem", {Variant::FromString(L"SmartTagConfig/Name")});
    ADD_FAILURE() << "no error";
  } catch (const qp::Error& e) {
    EXPECT_EQ(e.number, kErrParse);
    EXPECT_EQ(e.source,
              L"GetConfigurationItem(): ConfigFileLoad(): \t<Caption>Norvane Quillpoint</Captoin>");
    EXPECT_EQ(e.description, f.description);
  }

  // Repaired, it is read again after Initialize.
  WriteConfig("<SmartTagConfig><Caption>Fixed</Caption></SmartTagConfig>");
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").Vt(), VT_EMPTY);
  ASSERT_EQ(config->Initialize(), S_OK);
  EXPECT_EQ(Item(config.Get(), L"SmartTagConfig/Caption").AsString(), L"Fixed");
}

TEST_F(ConfigStore, AFileDeletedAfterCreationIsNotWrittenAgainByALoad) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
  Variant item;
  Bstr xql(L"SmartTagConfig/Caption");
  const Failure f = FailureOf(config->GetConfigurationItem(xql.Get(), item.Out()));
  EXPECT_EQ(f.hr, static_cast<HRESULT>(kErrParse));
  EXPECT_EQ(f.source.rfind(L"GetConfigurationItem(): ConfigFileLoad(): ", 0), 0u) << f.source;
  const std::wstring tail = L" " + ConfigPath();
  ASSERT_GE(f.description.size(), tail.size());
  EXPECT_EQ(f.description.substr(f.description.size() - tail.size()), tail);
  EXPECT_EQ(item.Vt(), VT_EMPTY);
  EXPECT_EQ(GetFileAttributesW(ConfigPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- change detection
// ----------------------------------------------------------------------------

TEST_F(ConfigStore, HasConfigChangedFollowsTheFileTime) {
  ComPtr<_SmartTagConfig> config = NewConfig();
  // The file's time an hour back, as a file written earlier has it: the save below is then in
  // a later second than the first look, without waiting for the clock.
  HANDLE file = CreateFileW(ConfigPath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "the store made no file";
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER earlier{{now.dwLowDateTime, now.dwHighDateTime}};
  earlier.QuadPart -= 3600ull * 10000000ull;
  const FILETIME then{earlier.LowPart, earlier.HighPart};
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &then));
  CloseHandle(file);
  VARIANT_BOOL changed = VARIANT_FALSE;
  ASSERT_EQ(config->HasConfigChanged(&changed), S_OK);
  EXPECT_EQ(changed, VARIANT_TRUE);
  ASSERT_EQ(config->HasConfigChanged(&changed), S_OK);
  EXPECT_EQ(changed, VARIANT_FALSE);
  EXPECT_FALSE(qp::Call(config.Get(), L"HasConfigChanged").AsBool());

  // Written in a later second than the first look.
  ComPtr<_Records> one = NewList({NewTerm(L"LI", L"LATER", L"Yes", L"", L"").Get()});
  Recognizers(config.Get(), false);
  ASSERT_EQ(Update(config.Get(), one.Get()), S_OK);
  EXPECT_TRUE(qp::Call(config.Get(), L"HasConfigChanged").AsBool());
  ASSERT_EQ(config->HasConfigChanged(&changed), S_OK);
  EXPECT_EQ(changed, VARIANT_FALSE);
  // Every object keeps its own last look.
  ComPtr<_SmartTagConfig> other = NewConfig();
  ASSERT_EQ(other->HasConfigChanged(&changed), S_OK);
  EXPECT_EQ(changed, VARIANT_TRUE);

  // A missing file: the file system object's own error, unchanged.
  ASSERT_TRUE(DeleteFileW(ConfigPath().c_str()));
  EXPECT_EQ(config->HasConfigChanged(&changed), qp::ErrorNumberToHresult(53));
}

}  // namespace
