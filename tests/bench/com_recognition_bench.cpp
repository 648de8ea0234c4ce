// Recognition through COM as Office drives it, next to the recognition core alone on the same
// paragraphs and terms:
//   com_recognition_bench --data DIR [--terms FILE] [--runs N] [--paragraphs N] [--first-only]
// The registered recognizer is created by ProgID; the stand-in catalog serves the terms of
// FILE (default DIR/terms-10000.txt) as its Quillpoint list; Recognize is called through the
// ISmartTagRecognizer vtable once per paragraph of DIR/text.txt, with a recognizer site that
// takes CommitSmartTag by vtable or by name (IDispatch::Invoke over the registered type
// description, as Office's site does) and counts which way each tag came.
//
// Beside every Recognize the same run times the floor, what the rules require of every call
// whatever the implementation: a new registry component from a class factory kept by the
// benchmark and getValue of the cache flush flag on it, and the stand-in catalog's
// CatalogPresent and HasCatalogChanged (ids looked up once). Both are timed call by call, one
// right after the other, so that a machine that is busy with other work slows both alike, and
// their medians are compared.
#include "bench_support.h"
#include "office_host.h"
#include "core/matcher.h"
#include "platform/win_platform.h"

#include <windows.h>
#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace qp::bench;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The tags of a run: how many, which way they came, and a digest of their places, so that
// two runs can be seen to commit the same tags in the same order.
struct Tally {
  int64_t tags = 0, byName = 0, otherType = 0;
  uint64_t digest = 1469598103934665603ull;
  void Add(int64_t paragraph, int32_t start, int32_t length) {
    ++tags;
    for (uint64_t v : {uint64_t(paragraph), uint64_t(uint32_t(start)), uint64_t(uint32_t(length))})
      digest = (digest ^ v) * 1099511628211ull;
  }
};

class CountingSite final : public ISmartTagRecognizerSite {
 public:
  CountingSite(Tally& tally, std::wstring typeName) : tally_(tally), type_(std::move(typeName)) {
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, LOCALE_NEUTRAL, &lib))) {
      lib->GetTypeInfoOfGuid(IID_ISmartTagRecognizerSite, &info_);
      lib->Release();
    }
  }
  ~CountingSite() {
    if (info_) info_->Release();
  }
  int64_t paragraph = 0;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ISmartTagRecognizerSite) {
      *out = static_cast<ISmartTagRecognizerSite*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the stack of the benchmark, longer than any call.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = info_ ? 1 : 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (index != 0 || !info_) return DISP_E_BADINDEX;
    info_->AddRef();
    *info = info_;
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return info_ ? DispGetIDsOfNames(info_, names, count, ids) : E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override {
    if (!info_) return E_NOTIMPL;
    ++tally_.byName;
    return DispInvoke(static_cast<ISmartTagRecognizerSite*>(this), info_, id, flags, params, result,
                      excep, argErr);
  }
  STDMETHODIMP GetNewPropertyBag(ISmartTagProperties** bag) override {
    *bag = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP CommitSmartTag(BSTR name, INT start, INT length, ISmartTagProperties*) override {
    if (!name || type_.compare(0, std::wstring::npos, name, SysStringLen(name)) != 0)
      ++tally_.otherType;
    tally_.Add(paragraph, start, length);
    return S_OK;
  }

 private:
  Tally& tally_;
  std::wstring type_;
  ITypeInfo* info_ = nullptr;
};

// A member of an automation object called by name; arguments in their natural order.
VARIANT CallByName(IDispatch* object, const wchar_t* member, std::vector<VARIANT> args = {}) {
  VARIANT result;
  VariantInit(&result);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  if (FAILED(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) return result;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.data(), nullptr, UINT(reversed.size()), 0};
  object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                 &result, nullptr, nullptr);
  for (VARIANT& a : args)
    VariantClear(&a);
  return result;
}

VARIANT Text(const wchar_t* s) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

IDispatch* Create(const wchar_t* progId) {
  CLSID clsid;
  IDispatch* object = nullptr;
  if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)))
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                     reinterpret_cast<void**>(&object));
  return object;
}

// The enabled literal terms ("LI") of the user's configuration, as a Controller reads them.
std::vector<std::wstring> ConfiguredTerms() {
  std::vector<std::wstring> terms;
  _Controller* controller = nullptr;
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"NVSmartTagQuillpoint.Controller", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Controller,
                              reinterpret_cast<void**>(&controller))))
    return terms;
  _SmartTagConfig* config = nullptr;
  _Records* records = nullptr;
  LONG count = 0;
  if (SUCCEEDED(controller->get_SmartTagConfiguration(&config)) &&
      SUCCEEDED(config->GetRecognizers(VARIANT_TRUE, &records)) && records)
    records->get_Count(&count);
  for (LONG i = 1; i <= count; ++i) {
    VARIANT index, item;
    index.vt = VT_I4;
    index.lVal = i;
    VariantInit(&item);
    if (FAILED(records->get_Item(index, &item)) || item.vt != VT_DISPATCH) continue;
    VARIANT code = CallByName(item.pdispVal, L"ClassCode");
    VARIANT value = CallByName(item.pdispVal, L"Value");
    if (code.vt == VT_BSTR && value.vt == VT_BSTR && code.bstrVal &&
        CompareStringOrdinal(code.bstrVal, -1, L"LI", -1, TRUE) == CSTR_EQUAL)
      terms.emplace_back(value.bstrVal ? value.bstrVal : L"");
    VariantClear(&code);
    VariantClear(&value);
    VariantClear(&item);
  }
  if (records) records->Release();
  if (config) config->Release();
  controller->Release();
  return terms;
}

// The stand-in catalog reads its Quillpoint list from the file this setting names.
bool PointCatalogAt(const std::string& termsPath) {
  const std::string host = HostPath(termsPath);
  const std::wstring path(host.begin(), host.end());  // the generated paths are ASCII
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Brantolu\\Norvane\\Stand-ins", 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const bool ok =
      RegSetValueExW(key, L"QuillpointList", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                     DWORD((path.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

// Median microseconds of one call of `fn` over `n` calls in `runs` runs.
template <class Fn>
double PerCallMicros(int n, int runs, Fn fn) {
  std::vector<double> times;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = Clock::now();
    for (int i = 0; i < n; ++i)
      fn();
    times.push_back(Since(t0) * 1e6 / n);
  }
  return Median(times);
}

double Micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

// What every Recognize must do at the least, done the cheapest way the rules allow.
class Floor {
 public:
  Floor() {
    catalog_ = Create(L"NVObjectLibrary.Catalog");
    CLSID clsid;
    if (SUCCEEDED(CLSIDFromProgID(L"HiveLibrary.Registry", &clsid)))
      CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                       reinterpret_cast<void**>(&factory_));
    if (factory_) factory_->LockServer(TRUE);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"CatalogPresent"),
                        const_cast<LPOLESTR>(L"HasCatalogChanged")};
    for (int i = 0; catalog_ && i < 2; ++i)
      if (FAILED(catalog_->GetIDsOfNames(IID_NULL, &names[i], 1, LOCALE_USER_DEFAULT, &ids_[i])))
        ids_[i] = DISPID_UNKNOWN;
  }
  ~Floor() {
    if (factory_) {
      factory_->LockServer(FALSE);
      factory_->Release();
    }
    if (catalog_) catalog_->Release();
  }
  bool Ready() const {
    return catalog_ && factory_ && ids_[0] != DISPID_UNKNOWN && ids_[1] != DISPID_UNKNOWN;
  }

  void RegistryRead() {
    IDispatch* registry = nullptr;
    if (FAILED(
            factory_->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&registry))))
      return;
    VARIANT hive;
    hive.vt = VT_I4;
    hive.lVal = LONG(0x80000001);
    VARIANT v = CallByName(registry, L"getValue",
                           {hive, Text(L"Software\\Brantolu\\Norvane\\Quillpoint\\Smart Tag"),
                            Text(L"SmartTagCacheFlushFlag"), Text(L"")});
    VariantClear(&v);
    registry->Release();
  }

  void CatalogAsk() {
    for (DISPID id : ids_) {
      DISPPARAMS none = {nullptr, nullptr, 0, 0};
      VARIANT v;
      VariantInit(&v);
      catalog_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       &none, &v, nullptr, nullptr);
      VariantClear(&v);
    }
  }

 private:
  IDispatch* catalog_ = nullptr;
  IClassFactory* factory_ = nullptr;
  DISPID ids_[2] = {DISPID_UNKNOWN, DISPID_UNKNOWN};
};

}  // namespace

int main(int argc, char** argv) {
  std::string dir, termsPath;
  int runs = 3;
  size_t limit = 0;
  bool firstOnly = false;  // only the two term-list builds, as a line "first: MS second: MS"
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--data") && i + 1 < argc)
      dir = argv[++i];
    else if (!std::strcmp(argv[i], "--terms") && i + 1 < argc)
      termsPath = argv[++i];
    else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--paragraphs") && i + 1 < argc)
      limit = size_t(std::atoll(argv[++i]));
    else if (!std::strcmp(argv[i], "--first-only"))
      firstOnly = true;
  }
  if (dir.empty()) {
    std::fprintf(stderr,
                 "usage: com_recognition_bench --data DIR [--terms FILE] [--runs N] "
                 "[--paragraphs N] [--first-only]\n");
    return 2;
  }
  if (termsPath.empty()) termsPath = dir + "/terms-10000.txt";
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  const std::string text8 = ReadWholeFile(dir + "/text.txt");
  const std::u16string text16 = Utf16(text8);
  std::vector<std::u16string_view> parts = Paragraphs(text16);
  if (limit && parts.size() > limit) parts.resize(limit);
  size_t units = 0;
  for (auto p : parts)
    units += p.size();
  std::vector<BSTR> bstrs;
  for (auto p : parts)
    bstrs.push_back(SysAllocStringLen(reinterpret_cast<const wchar_t*>(p.data()), UINT(p.size())));

  if (!PointCatalogAt(termsPath)) {
    std::fprintf(stderr, "cannot write the stand-in catalog's setting\n");
    return 1;
  }
  ISmartTagRecognizer* recognizer = nullptr;
  HRESULT hr = qp::host::CreateRecognizer(L"NVSmartTagQuillpoint.Recognizer", &recognizer);
  if (FAILED(hr)) {
    std::fprintf(stderr,
                 "cannot create NVSmartTagQuillpoint.Recognizer (0x%08lX): is the server "
                 "registered in this prefix?\n",
                 (unsigned long)hr);
    return 1;
  }
  qp::host::RecognizerInfo info;
  qp::host::Describe(recognizer, info);  // as Office does on loading; fixes the type name

  // The core's dictionary: the catalog's names and the configured terms, upper-cased as the
  // Controller puts them into its table.
  qp::core::TermDictionary terms;
  size_t catalogNames = 0;
  for (const std::string& line : Lines(ReadWholeFile(termsPath))) {
    if (line.empty() || line[0] == '#') continue;
    std::u16string key = Utf16(line);
    qp::platform::WindowsUpperCase(key);
    terms.Add(key);
    ++catalogNames;
  }
  const std::vector<std::wstring> configured = ConfiguredTerms();
  for (const std::wstring& t : configured) {
    std::u16string key(t.begin(), t.end());
    qp::platform::WindowsUpperCase(key);
    terms.Add(key);
  }

  if (!firstOnly)
    std::printf(
        "COM path: %zu paragraphs of text.txt (%.2f MB UTF-16), %zu catalog names + %zu "
        "configured terms, %d runs, median\n",
        parts.size(), units * 2 / 1e6, catalogNames, configured.size(), runs);

  // The first call builds the term list: the catalog's dictionary, the configured terms.
  Tally warm;
  CountingSite site(warm, info.smartTagName);
  BSTR empty = SysAllocString(L"");
  auto t0 = Clock::now();
  hr = recognizer->Recognize(empty, IF_TYPE_PARA, 1033, &site);
  const double firstMs = Since(t0) * 1e3;
  if (FAILED(hr)) std::printf("  (the first Recognize FAILED: 0x%08lX)\n", (unsigned long)hr);
  // A second recognizer builds its own term list with the components' DLLs loaded already.
  double secondMs = -1;
  ISmartTagRecognizer* second = nullptr;
  if (SUCCEEDED(qp::host::CreateRecognizer(L"NVSmartTagQuillpoint.Recognizer", &second))) {
    qp::host::RecognizerInfo secondInfo;
    qp::host::Describe(second, secondInfo);
    t0 = Clock::now();
    if (SUCCEEDED(second->Recognize(empty, IF_TYPE_PARA, 1033, &site))) secondMs = Since(t0) * 1e3;
    second->Release();
  }
  if (firstOnly) {
    std::printf("first: %.1f second: %.1f\n", firstMs, secondMs);
    SysFreeString(empty);
    for (BSTR b : bstrs)
      SysFreeString(b);
    recognizer->Release();
    CoUninitialize();
    return FAILED(hr) ? 1 : 0;
  }

  Floor floor;
  if (!floor.Ready()) {
    std::fprintf(stderr, "cannot reach the stand-in catalog or the registry component\n");
    return 1;
  }
  // One tag committed on the site by name, as the product commits it.
  Tally probe;
  CountingSite probeSite(probe, info.smartTagName);
  const double commitByName = PerCallMicros(2000, runs, [&] {
    VARIANT start, length, bag;
    start.vt = length.vt = VT_I4;
    start.lVal = 1;
    length.lVal = 5;
    bag.vt = VT_DISPATCH;
    bag.pdispVal = nullptr;
    VARIANT v = CallByName(&probeSite, L"CommitSmartTag",
                           {Text(info.smartTagName.c_str()), start, length, bag});
    VariantClear(&v);
  });
  if (probe.tags != int64_t(2000) * runs) std::printf("  (the site refused a commit by name)\n");

  Tally com;
  std::vector<double> comTimes, perCall, floorCalls, registryCalls, catalogCalls;
  for (int r = 0; r < runs; ++r) {
    com = Tally{};
    CountingSite counting(com, info.smartTagName);
    int failures = 0;
    double total = 0;
    for (size_t i = 0; i < bstrs.size(); ++i) {
      counting.paragraph = int64_t(i);
      const auto a = Clock::now();
      failures += FAILED(recognizer->Recognize(bstrs[i], IF_TYPE_PARA, 1033, &counting));
      const auto b = Clock::now();
      floor.RegistryRead();
      const auto c = Clock::now();
      floor.CatalogAsk();
      const auto d = Clock::now();
      const double call = Micros(a, b), registry = Micros(b, c), catalog = Micros(c, d);
      total += call;
      perCall.push_back(call);
      registryCalls.push_back(registry);
      catalogCalls.push_back(catalog);
      floorCalls.push_back(registry + catalog);
    }
    comTimes.push_back(total / 1e6);
    if (failures) std::printf("  (%d Recognize calls failed)\n", failures);
  }
  const double comSeconds = Median(comTimes);

  Tally core;
  std::vector<double> coreTimes;
  qp::core::Matcher matcher(qp::platform::WindowsPlatform());
  const std::u16string type(info.smartTagName.begin(), info.smartTagName.end());
  for (int r = 0; r < runs; ++r) {
    core = Tally{};
    int64_t paragraph = 0;
    auto commit = [&](std::u16string_view, int32_t start, int32_t length) {
      core.Add(paragraph, start, length);
    };
    t0 = Clock::now();
    for (auto p : parts) {
      matcher.Recognize(p, terms, 3, type, commit);
      ++paragraph;
    }
    coreTimes.push_back(Since(t0));
  }
  const double coreSeconds = Median(coreTimes);

  const double n = double(parts.size());
  auto perTag = [](double seconds, int64_t tags) {
    return tags ? seconds * 1e6 / double(tags) : 0.0;
  };
  const double callMedian = Median(perCall), floorMedian = Median(floorCalls);
  std::printf(
      "  first Recognize (builds the term list from the catalog's %zu names): %.1f ms; "
      "of a second recognizer, the components loaded: %.1f ms\n",
      catalogNames, firstMs, secondMs);
  std::printf("  Recognize through the vtable: median %8.1f us a paragraph\n", callMedian);
  std::printf(
      "  floor beside each call      : median %8.1f us  (a registry component from a kept "
      "factory + getValue: %.1f us; CatalogPresent + HasCatalogChanged: %.1f us)\n",
      floorMedian, Median(registryCalls), Median(catalogCalls));
  std::printf("  Recognize / floor: %.2f\n", callMedian / floorMedian);
  std::printf("  through COM  : %8.1f us/paragraph  %8.2f us/tag  %9lld tags  (%.2f s a run)\n",
              comSeconds * 1e6 / n, perTag(comSeconds, com.tags), (long long)com.tags, comSeconds);
  std::printf("  core alone   : %8.1f us/paragraph  %8.2f us/tag  %9lld tags  (%.2f s a run)\n",
              coreSeconds * 1e6 / n, perTag(coreSeconds, core.tags), (long long)core.tags,
              coreSeconds);
  std::printf("  tags agree: %s (counts %lld / %lld, places %s); type name of every tag %s\n",
              com.tags == core.tags && com.digest == core.digest ? "yes" : "NO",
              (long long)com.tags, (long long)core.tags,
              com.digest == core.digest ? "identical" : "differ",
              com.otherType ? "NOT the recognizer's" : "the recognizer's SmartTagName(1)");
  std::printf(
      "  the product calls the site by name (IDispatch::Invoke): %lld of %lld tags, by "
      "vtable: %lld; a CommitSmartTag by name costs %.1f us\n",
      (long long)com.byName, (long long)com.tags, (long long)(com.tags - com.byName), commitByName);

  SysFreeString(empty);
  for (BSTR b : bstrs)
    SysFreeString(b);
  recognizer->Release();
  CoUninitialize();
  return com.tags == core.tags && com.digest == core.digest ? 0 : 1;
}
