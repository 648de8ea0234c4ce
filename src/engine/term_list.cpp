// The term list behind recognition: the catalog's Quillpoint names and the user's enabled
// literal terms, rebuilt only when the user's cache flush flag has moved; and the recognition
// of one text against it.
#include "engine/controller.h"

#include <oleauto.h>
#include "support/resources.h"

namespace qp {
namespace {

constexpr wchar_t kTitle[] = L"Quillpoint Smart Tag";
constexpr wchar_t kCatalogProgId[] = L"NVObjectLibrary.Catalog";
constexpr wchar_t kDictionaryProgId[] = L"Scripting.Dictionary";
constexpr wchar_t kMaxWordsKey[] = L"$MAXWORDS$";
constexpr short kMaxWords = 3;
// No flag value equals it, so the first check always rebuilds.
constexpr wchar_t kNeverBuilt[] = L"#@";

bool Exists(IDispatch* dictionary, const std::wstring& key) {
  return Call(dictionary, L"Exists", {Variant::FromString(key)}).AsBool();
}

// The dictionary's keys into the hashed table the matcher reads. Keys that are not text can
// never equal a candidate and are left out; "$MAXWORDS$" is the table's own entry.
// Candidates arrive upper-cased; a dictionary that compares text without case (the catalog's
// may) finds "Client Name" for "CLIENT NAME", so its keys go in upper-cased too.
bool ComparesWithoutCase(IDispatch* dictionary) {
  try {
    return Get(dictionary, L"CompareMode").AsLong() != 0;  // 0 is binary comparison
  } catch (...) {
    SetErrorInfo(0, nullptr);
    return false;  // a dictionary without the property compares as it was given
  }
}

void CopyKeys(IDispatch* dictionary, engine::TermDictionary& terms) {
  terms.clear();
  const bool upperCase = ComparesWithoutCase(dictionary);
  Variant keys = Call(dictionary, L"Keys");
  const VARIANT* v = keys.get();
  if (!(v->vt & VT_ARRAY) || !v->parray) return;
  SAFEARRAY* array = (v->vt & VT_BYREF) ? *v->pparray : v->parray;
  LONG low = 0, high = -1;
  SafeArrayGetLBound(array, 1, &low);
  SafeArrayGetUBound(array, 1, &high);
  VARIANT* items = nullptr;
  Check(SafeArrayAccessData(array, reinterpret_cast<void**>(&items)));
  for (LONG i = 0; i <= high - low; ++i) {
    if (items[i].vt != VT_BSTR || !items[i].bstrVal) continue;
    std::u16string_view key(reinterpret_cast<const char16_t*>(items[i].bstrVal),
                            SysStringLen(items[i].bstrVal));
    if (key == engine::TermDictionary::kMaxWordsKey) continue;
    if (!upperCase) {
      terms.add(key);
      continue;
    }
    const std::wstring upper = Upper(std::wstring(items[i].bstrVal, key.size()));
    terms.add(std::u16string_view(reinterpret_cast<const char16_t*>(upper.data()), upper.size()));
  }
  SafeArrayUnaccessData(array);
}

}  // namespace

bool Controller::GetCurrentNorvaneCatalog() {
  if (IsTestMode()) return false;
  if (!m_oCatalog) {
    try {
      m_oCatalog = CreateObject(kCatalogProgId);
    } catch (...) {
      AdoptCurrentException();
      RaiseError(kErrMissingComponent, L"GetCurrentNorvaneCatalog()",
                 GetResourceString(kMsgMissingComponent, {kCatalogProgId}), L"");
    }
  }
  try {
    Variant present = Get(m_oCatalog.Get(), L"CatalogPresent");
    return present.AsBool();
  } catch (...) {
    const Error current = AdoptCurrentException();
    m_oCatalog.Reset();
    RaiseError(0, L"GetCurrentNorvaneCatalog(): " + current.source, L"", L"");
  }
}

void Controller::ReleaseTerms() {
  m_dicTerms.Reset();
  m_terms.clear();
}

void Controller::RebuildTerms() {
  // Step 5: a new dictionary, or the catalog's own names.
  if (IsTestMode()) {
    m_dicTerms = CreateObject(kDictionaryProgId);
  } else {
    m_dicTerms = Call(m_oCatalog.Get(), L"GetQuillpointNames").AsObject();
    if (!m_dicTerms) RaiseObjectNotSet();
  }
  IDispatch* terms = m_dicTerms.Get();

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
    hr = records->get_Item(*index.get(), item.out());
    if (FAILED(hr)) RaiseComError(hr, records.Get(), IID__Records);
    ComPtr<IDispatch> record = item.AsObject();
    if (Upper(Get(record.Get(), L"ClassCode").AsString()) != L"LI") continue;
    const std::wstring key = Upper(Get(record.Get(), L"Value").AsString());
    if (!Exists(terms, key))
      Call(terms, L"Add", {Variant::FromString(key), Variant::FromString(key)});
  }

  // The word limit replaces whatever the catalog supplied.
  if (Exists(terms, kMaxWordsKey)) Call(terms, L"Remove", {Variant::FromString(kMaxWordsKey)});
  Call(terms, L"Add", {Variant::FromString(kMaxWordsKey), Variant::FromShort(kMaxWords)});

  CopyKeys(terms, m_terms);
  m_terms.setMaxWords(kMaxWords);
}

bool Controller::GetRecognizerList() {
  try {
    _SmartTagConfig* config = GetSmartTagConfig();
    GetCurrentNorvaneCatalog();
    // In test mode there is no catalog to ask.
    if (!(IsTestMode() && !m_oCatalog)) {
      if (Get(m_oCatalog.Get(), L"HasCatalogChanged").AsBool()) SetCacheFlushFlag();
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
    RebuildTerms();
    return true;
  } catch (...) {
    AdoptCurrentException();
    PrefixErrorSource(L"NVSmartTagQP.Controller.GetRecognizerList()");
    Trace(CurrentError().source + L": " + CurrentError().description, L"");
    ReportControllerError();
    return false;
  }
}

namespace {

// Commits tags on the host's site by member name, as Office's site expects to be called.
class SiteCommitter {
 public:
  explicit SiteCommitter(IDispatch* site) : site_(site) {}

  void operator()(std::u16string_view typeName, int32_t start, int32_t length) {
    if (!site_) RaiseObjectNotSet();
    if (id_ == DISPID_UNKNOWN) {
      LPOLESTR name = const_cast<LPOLESTR>(L"CommitSmartTag");
      HRESULT hr = site_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id_);
      if (FAILED(hr)) {
        id_ = DISPID_UNKNOWN;
        RaiseComError(hr, nullptr, IID_NULL);
      }
    }
    if (typeName != cachedName_) {
      cachedName_ = typeName;
      name_ = Bstr(std::wstring(typeName.begin(), typeName.end()));
    }
    // Arguments last to first: type name, start, length, no property bag.
    VARIANT args[4];
    args[3].vt = VT_BSTR;
    args[3].bstrVal = name_.get();
    args[2].vt = VT_I4;
    args[2].lVal = start;
    args[1].vt = VT_I4;
    args[1].lVal = length;
    args[0].vt = VT_DISPATCH;
    args[0].pdispVal = nullptr;
    DISPPARAMS params = {args, nullptr, 4, 0};
    EXCEPINFO excep = {};
    HRESULT hr = site_->Invoke(id_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                               nullptr, &excep, nullptr);
    if (hr == DISP_E_EXCEPTION) {
      if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
      Error e{HresultToErrorNumber(excep.scode ? excep.scode : E_FAIL),
              ToString(excep.bstrSource), ToString(excep.bstrDescription)};
      SysFreeString(excep.bstrSource);
      SysFreeString(excep.bstrDescription);
      SysFreeString(excep.bstrHelpFile);
      if (e.source.empty()) e.source = kLibraryName;
      Raise(std::move(e));
    }
    if (FAILED(hr)) RaiseComError(hr, site_, IID_ISmartTagRecognizerSite);
  }

 private:
  IDispatch* site_;
  DISPID id_ = DISPID_UNKNOWN;
  std::u16string cachedName_;
  Bstr name_;
};

}  // namespace

STDMETHODIMP Controller::DoRecognize(BSTR text, LONG, ISmartTagRecognizerSite** site) {
  return ComBoundary([&] {
    if (!GetRecognizerList()) return;
    short maxWords = 0;
    bool lastSentenceResult = false;
    try {
      // The word limit is taken out of the dictionary while matching, so that the text
      // "$MAXWORDS$" can never be tagged.
      if (!m_dicTerms) RaiseObjectNotSet();
      Variant limit = Get(m_dicTerms.Get(), L"Item", {Variant::FromString(kMaxWordsKey)});
      maxWords = limit.IsEmptyOrNull() ? 0 : static_cast<short>(limit.AsLong());
      Call(m_dicTerms.Get(), L"Remove", {Variant::FromString(kMaxWordsKey)});
      if (maxWords == 0) maxWords = kMaxWords;
      m_terms.setMaxWords(maxWords);

      SiteCommitter commit(site ? *site : nullptr);
      std::u16string_view received(reinterpret_cast<const char16_t*>(text ? text : L""),
                                   text ? SysStringLen(text) : 0);
      std::u16string typeName(m_sSmartTagName.begin(), m_sSmartTagName.end());
      engine::RecognizeResult result = m_matcher->recognize(
          received, m_terms, typeName,
          [&](std::u16string_view type, int32_t start, int32_t length) {
            commit(type, start, length);
          });
      lastSentenceResult = result.lastSentenceResult;
      if (result.outcome == engine::RecognizeResult::Outcome::PositionOverflow)
        Raise({kErrOverflow, kLibraryName, L"Overflow"});
      if (result.error) std::rethrow_exception(result.error);

      Call(m_dicTerms.Get(), L"Add",
           {Variant::FromString(kMaxWordsKey), Variant::FromShort(maxWords)});
      Trace(L"DoRecognize(" + m_sSmartTagName + L")", L"");
    } catch (...) {
      AdoptCurrentException();
      // A failing put-back (no dictionary, or the limit was never taken out) leaves the call:
      // Office gets that failure.
      Call(m_dicTerms.Get(), L"Add",
           {Variant::FromString(kMaxWordsKey), Variant::FromShort(maxWords)});
      if (lastSentenceResult) ShowError(L"", kTitle, L"");
    }
  });
}

}  // namespace qp
