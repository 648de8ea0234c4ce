// The term list behind recognition: the catalog's Quillpoint names and the user's enabled
// literal terms, rebuilt only when the user's cache flush flag has moved; and the recognition
// of one text against it.
#include "engine/controller.h"

#include <oleauto.h>

#include <string_view>

#include "platform/product.h"
#include "platform/settings.h"
#include "platform/strings.h"
#include "platform/error_display.h"

namespace qp::engine {
using namespace qp::platform;
namespace {

constexpr wchar_t kCatalogProgId[] = L"NVObjectLibrary.Catalog";
constexpr wchar_t kDictionaryProgId[] = L"Scripting.Dictionary";
constexpr wchar_t kMaxWordsKey[] = L"$MAXWORDS$";
constexpr short kMaxWords = 3;
// No flag value equals it, so the first check always rebuilds.
constexpr wchar_t kNeverBuilt[] = L"#@";

bool Exists(LateBound& dictionary, const std::wstring& key) {
  return dictionary.Call(L"Exists", {Variant::FromString(key)}).AsBool();
}

// What a dictionary offers beyond the members the catalog promises (Exists, Add, Remove,
// Item), asked without failing: the answer, or an empty value when it has no such member or
// refuses.
Variant Optional(LateBound& dictionary, const wchar_t* member) {
  try {
    return dictionary.Call(member);
  } catch (...) {
    SetErrorInfo(0, nullptr);
    return Variant();
  }
}

// The array a value holds (looked through a reference), or null.
SAFEARRAY* ArrayOf(const VARIANT* v) {
  if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
  if (!(v->vt & VT_ARRAY)) return nullptr;
  return (v->vt & VT_BYREF) ? (v->pparray ? *v->pparray : nullptr) : v->parray;
}

// An array's elements, accessible while this lives and given back on every way out.
class ArrayData {
 public:
  explicit ArrayData(SAFEARRAY* array) : array_(array) {
    Check(SafeArrayAccessData(array, &data_));
  }
  ~ArrayData() { SafeArrayUnaccessData(array_); }
  ArrayData(const ArrayData&) = delete;
  ArrayData& operator=(const ArrayData&) = delete;
  void* Get() const { return data_; }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

}  // namespace

// The dictionary's keys into the hashed table the matcher reads, when the dictionary can list
// them: Keys gives a one-dimensional array of texts (as variants or as strings) and
// CompareMode says how keys compare, 0 binary or 1 text. Otherwise false, and the caller has
// the matcher ask the dictionary's own Exists. Keys that are not text can never equal a
// candidate and are left out; "$MAXWORDS$" holds the word limit, not a term. Candidates arrive
// upper-cased; a dictionary that compares text without case (the catalog's may) finds
// "Client Name" for "CLIENT NAME", so its keys go in upper-cased too.
bool Controller::CopyKeys() {
  m_oTermTable.Clear();
  Variant mode = Optional(m_dicTerms, L"CompareMode");
  long compare = -1;
  if (mode.Vt() == VT_I4 || mode.Vt() == VT_I2 || mode.Vt() == VT_UI1) compare = mode.AsLong();
  if (compare != 0 && compare != 1) return false;
  Variant keys = Optional(m_dicTerms, L"Keys");
  SAFEARRAY* array = ArrayOf(keys.Get());
  VARTYPE type = VT_EMPTY;
  if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &type)) ||
      (type != VT_VARIANT && type != VT_BSTR))
    return false;
  LONG low = 0, high = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high)))
    return false;
  const ArrayData access(array);
  void* const data = access.Get();
  auto textAt = [&](LONG i) -> BSTR {  // null for a key that is not text
    if (type == VT_BSTR) return static_cast<BSTR*>(data)[i];
    const VARIANT& item = static_cast<VARIANT*>(data)[i];
    return item.vt == VT_BSTR ? item.bstrVal : nullptr;
  };
  const LONG count = high - low + 1;
  size_t units = 0;
  for (LONG i = 0; i < count; ++i)
    units += SysStringLen(textAt(i));
  m_oTermTable.Reserve(static_cast<size_t>(count), units);
  // The keys are read where they are and never written: the array may be the dictionary's own,
  // lent by reference. A key to upper-case goes through one buffer kept for all of them, so
  // ten thousand names cost no fresh memory beyond the longest.
  std::u16string upper;
  for (LONG i = 0; i < count; ++i) {
    const BSTR text = textAt(i);
    if (!text) continue;
    std::u16string_view key(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
    if (compare == 1 && !key.empty()) {
      upper.assign(key);
      CharUpperBuffW(reinterpret_cast<wchar_t*>(upper.data()), static_cast<DWORD>(upper.size()));
      key = upper;
    }
    if (std::wstring_view(reinterpret_cast<const wchar_t*>(key.data()), key.size()) != kMaxWordsKey)
      m_oTermTable.Add(key);
  }
  return true;
}

bool Controller::GetCurrentNorvaneCatalog() {
  if (IsTestMode()) return false;
  if (!m_oCatalog) {
    try {
      m_oCatalog = CreateObject(kCatalogProgId);
    } catch (...) {
      RaiseError(kErrMissingComponent, L"GetCurrentNorvaneCatalog()",
                 GetResourceString(kMsgMissingComponent, {kCatalogProgId}), L"");
    }
  }
  try {
    return m_oCatalog.Call(L"CatalogPresent").AsBool();
  } catch (...) {
    m_oCatalog.Reset();
    PassOn(L"GetCurrentNorvaneCatalog()");
  }
}

void Controller::ReleaseTerms() {
  m_dicTerms.Reset();
  m_oTermTable.Clear();
}

void Controller::RebuildTerms() {
  // Step 5: a new dictionary, or the catalog's own names.
  if (IsTestMode()) {
    m_dicTerms = CreateObject(kDictionaryProgId);
  } else {
    m_dicTerms = m_oCatalog.Call(L"GetQuillpointNames").AsObject();
    if (!m_dicTerms) RaiseObjectNotSet();
  }
  LateBound& terms = m_dicTerms;

  // The user's enabled literal terms, upper-cased (not trimmed).
  _SmartTagConfig* config = GetSmartTagConfig();
  ComPtr<_Records> records;
  HRESULT hr = config->GetRecognizers(VARIANT_TRUE, records.GetAddressOf());
  if (FAILED(hr)) RaiseComError(hr, config, IID__SmartTagConfig);
  if (!records) RaiseObjectNotSet();
  LONG count = 0;
  hr = records->get_Count(&count);
  if (FAILED(hr)) RaiseComError(hr, records.Get(), IID__Records);
  for (LONG i = 1; i <= count; ++i) {
    Variant index = Variant::FromLong(i);
    Variant item;
    hr = records->get_Item(*index.Get(), item.Out());
    if (FAILED(hr)) RaiseComError(hr, records.Get(), IID__Records);
    ComPtr<IDispatch> record = item.AsObject();
    if (Upper(Call(record.Get(), L"ClassCode").AsString()) != L"LI") continue;
    const std::wstring key = Upper(Call(record.Get(), L"Value").AsString());
    if (!Exists(terms, key))
      terms.Call(L"Add", {Variant::FromString(key), Variant::FromString(key)});
  }

  // The word limit replaces whatever the catalog supplied.
  if (Exists(terms, kMaxWordsKey)) terms.Call(L"Remove", {Variant::FromString(kMaxWordsKey)});
  terms.Call(L"Add", {Variant::FromString(kMaxWordsKey), Variant::FromShort(kMaxWords)});

  if (!CopyKeys()) {
    // Slower, but any dictionary with the promised members will do. The lookup runs only
    // while DoRecognize matches, and the matcher is handed this very dictionary object, so
    // it cannot outlive or miss the object it asks.
    m_oTermTable.AskOwner([this](std::u16string_view candidate) {
      return Exists(m_dicTerms, std::wstring(candidate.begin(), candidate.end()));
    });
  }
}

bool Controller::GetRecognizerList() {
  try {
    _SmartTagConfig* config = GetSmartTagConfig();
    GetCurrentNorvaneCatalog();
    // In test mode there is no catalog to ask. A change moves the flag even when this or
    // another engine rebuilt in the flag's second; that may hold this check back by up to a
    // second, and every running recognizer rebuilds at its next Recognize.
    if (!(IsTestMode() && !m_oCatalog)) {
      if (m_oCatalog.Call(L"HasCatalogChanged").AsBool()) MoveCacheFlushFlag();
    }
    if (m_sCacheStamp.empty()) m_sCacheStamp = kNeverBuilt;
    if (GetCacheFlushFlag() == m_sCacheStamp) return true;

    // The stamp is taken before the rebuild, and the rebuild moves the flag for every other
    // engine of the user.
    SetCacheFlushFlag();
    m_sCacheStamp = GetCacheFlushFlag();
    ReleaseTerms();
    HRESULT hr = config->Initialize();
    if (FAILED(hr)) RaiseComError(hr, config, IID__SmartTagConfig);
    if (!GetCurrentNorvaneCatalog() && !IsTestMode()) return false;
    try {
      RebuildTerms();
    } catch (...) {
      // Part-way the dictionary may hold the catalog's names without the user's terms. A failed
      // rebuild leaves none, so that recognition fails until the flag moves again.
      ReleaseTerms();
      throw;
    }
    return true;
  } catch (...) {
    AdoptCurrentException();
    PrefixErrorSource(L"NVSmartTagQP.Controller.GetRecognizerList()");
    Trace([] { return CurrentError().source + L": " + CurrentError().description; }, L"");
    ReportControllerError();
    return false;
  }
}

namespace {

// Commits tags on the host's site by member name, as Office's site expects to be called. The
// site is the caller's for this one call, so its member's id is kept for the call only.
class SiteCommitter {
 public:
  SiteCommitter(IDispatch* site, BSTR typeName)
      : site_(ComPtr<IDispatch>(site)), typeName_(typeName) {}

  void operator()(int32_t start, int32_t length) {
    const DISPID id = site_.IdOf(L"CommitSmartTag");
    // Arguments last to first: type name, start, length, no property bag.
    VARIANT args[4];
    args[3].vt = VT_BSTR;
    args[3].bstrVal = typeName_;
    args[2].vt = VT_I4;
    args[2].lVal = start;
    args[1].vt = VT_I4;
    args[1].lVal = length;
    args[0].vt = VT_DISPATCH;
    args[0].pdispVal = nullptr;
    DISPPARAMS params = {args, nullptr, 4, 0};
    InvokeId(site_.Get(), id, DISPATCH_METHOD, params);
  }

 private:
  LateBound site_;
  BSTR typeName_;
};

}  // namespace

STDMETHODIMP Controller::DoRecognize(BSTR text, LONG, ISmartTagRecognizerSite** site) noexcept {
  return ComBoundary([&] {
    if (!GetRecognizerList()) return;
    short maxWords = 0;
    bool lastSentenceResult = false;
    try {
      // The word limit is taken out of the dictionary while matching, so that the text
      // "$MAXWORDS$" can never be tagged.
      if (!m_dicTerms) RaiseObjectNotSet();
      const Variant limitKey = Variant::FromString(kMaxWordsKey);
      Variant limit = m_dicTerms.Call(L"Item", {limitKey});
      maxWords = limit.IsEmptyOrNull() ? 0 : static_cast<short>(limit.AsLong());
      m_dicTerms.Call(L"Remove", {limitKey});
      if (maxWords == 0) maxWords = kMaxWords;

      // The type name as the site takes it, converted again only after SmartTagName(1) read
      // another one.
      if (m_sCommittedName != m_sSmartTagName || !m_bstrCommittedName.Get()) {
        m_bstrCommittedName = Bstr(m_sSmartTagName);
        m_sTypeName.assign(m_sSmartTagName.begin(), m_sSmartTagName.end());
        m_sCommittedName = m_sSmartTagName;
      }
      SiteCommitter commit(site ? *site : nullptr, m_bstrCommittedName.Get());
      std::u16string_view received(reinterpret_cast<const char16_t*>(text ? text : L""),
                                   text ? SysStringLen(text) : 0);
      core::RecognizeResult result = m_oMatcher->Recognize(
          received, m_oTermTable, maxWords, m_sTypeName,
          [&](std::u16string_view, int32_t start, int32_t length) { commit(start, length); });
      lastSentenceResult = result.lastSentenceResult;
      if (result.outcome == core::RecognizeResult::Outcome::PositionOverflow)
        Raise({kErrOverflow, kLibraryName, L"Overflow"});
      if (result.error) std::rethrow_exception(result.error);

      m_dicTerms.Call(L"Add", {limitKey, Variant::FromShort(maxWords)});
      Trace([&] { return L"DoRecognize(" + m_sSmartTagName + L")"; }, L"");
    } catch (...) {
      AdoptCurrentException();
      // A failing put-back (no dictionary, or the limit was never taken out) leaves the call:
      // Office gets that failure.
      m_dicTerms.Call(L"Add", {Variant::FromString(kMaxWordsKey), Variant::FromShort(maxWords)});
      if (lastSentenceResult) ShowCurrentError();
    }
  });
}

}  // namespace qp::engine
