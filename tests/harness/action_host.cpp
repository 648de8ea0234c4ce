#include "action_host.h"

#include <oleauto.h>

namespace qp::host {
namespace {

// A text answer: the string taken over, and the first failure kept.
class Asker {
 public:
  explicit Asker(HRESULT& failure) : failure_(failure) {}
  template <class Ask>
  std::wstring Text(Ask ask) {
    BSTR b = nullptr;
    Note(ask(&b));
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return s;
  }
  template <class Ask>
  int Number(Ask ask) {
    INT n = 0;
    Note(ask(&n));
    return n;
  }

 private:
  void Note(HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(failure_)) failure_ = hr;
  }
  HRESULT& failure_;
};

// Office's own tag XML for a text (the handler is given it; ours does not read it).
std::wstring TagXml(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    if (c == L'<')
      escaped += L"&lt;";
    else if (c == L'&')
      escaped += L"&amp;";
    else
      escaped += c;
  }
  return L"<xml><text>" + escaped + L"</text></xml>";
}

}  // namespace

HRESULT CreateAction(const std::wstring& progId, ISmartTagAction** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmartTagAction,
                          reinterpret_cast<void**>(out));
}

ActionInfo DescribeAction(ISmartTagAction* action, const std::wstring& appName, int lcid) {
  ActionInfo info;
  Asker ask(info.failure);
  BSTR app = SysAllocString(appName.c_str());
  info.progId = ask.Text([&](BSTR* r) { return action->get_ProgId(r); });
  info.name = ask.Text([&](BSTR* r) { return action->get_Name(lcid, r); });
  info.desc = ask.Text([&](BSTR* r) { return action->get_Desc(lcid, r); });
  info.smartTagCount = ask.Number([&](INT* r) { return action->get_SmartTagCount(r); });
  for (int t = 1; t <= info.smartTagCount; ++t) {
    SmartTagTypeInfo type;
    type.name = ask.Text([&](BSTR* r) { return action->get_SmartTagName(t, r); });
    type.caption = ask.Text([&](BSTR* r) { return action->get_SmartTagCaption(t, lcid, r); });
    BSTR typeName = SysAllocString(type.name.c_str());
    const int verbs = ask.Number([&](INT* r) { return action->get_VerbCount(typeName, r); });
    for (int v = 1; v <= verbs; ++v) {
      VerbInfo verb;
      verb.id = ask.Number([&](INT* r) { return action->get_VerbID(typeName, v, r); });
      verb.name = ask.Text([&](BSTR* r) { return action->get_VerbNameFromID(verb.id, r); });
      verb.caption =
          ask.Text([&](BSTR* r) { return action->get_VerbCaptionFromID(verb.id, app, lcid, r); });
      type.verbs.push_back(verb);
    }
    SysFreeString(typeName);
    info.types.push_back(type);
  }
  SysFreeString(app);
  return info;
}

HRESULT InvokeVerbOnTag(ISmartTagAction* action, int verbId, const std::wstring& appName,
                        IDispatch* target, const std::wstring& text) {
  PropertyBag* bag = PropertyBag::New();
  BSTR app = SysAllocString(appName.c_str());
  BSTR tagText = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  BSTR xml = SysAllocString(TagXml(text).c_str());
  const HRESULT hr = action->InvokeVerb(verbId, app, target, bag, tagText, xml);
  SysFreeString(xml);
  SysFreeString(tagText);
  SysFreeString(app);
  bag->Release();
  return hr;
}

// ---- the property bag --------------------------------------------------------------------

PropertyBag* PropertyBag::New() {
  return new PropertyBag();
}

PropertyBag::PropertyBag() {
  ITypeLib* lib = nullptr;
  if (SUCCEEDED(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, LOCALE_NEUTRAL, &lib))) {
    lib->GetTypeInfoOfGuid(IID_ISmartTagProperties, &info_);
    lib->Release();
  }
}

PropertyBag::~PropertyBag() {
  if (info_) info_->Release();
}

STDMETHODIMP PropertyBag::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_ISmartTagProperties)
    return E_NOINTERFACE;
  *out = static_cast<ISmartTagProperties*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) PropertyBag::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) PropertyBag::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP PropertyBag::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = info_ ? 1 : 0;
  return S_OK;
}

STDMETHODIMP PropertyBag::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0 || !info_) return DISP_E_BADINDEX;
  (*info = info_)->AddRef();
  return S_OK;
}

STDMETHODIMP PropertyBag::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return info_ ? DispGetIDsOfNames(info_, names, count, ids) : E_NOTIMPL;
}

STDMETHODIMP PropertyBag::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
  if (!info_) return E_NOTIMPL;
  return DispInvoke(static_cast<ISmartTagProperties*>(this), info_, id, flags, params, result,
                    excep, argErr);
}

STDMETHODIMP PropertyBag::get_Read(BSTR key, BSTR* value) {
  if (!value) return E_POINTER;
  const std::wstring wanted = key ? std::wstring(key, SysStringLen(key)) : std::wstring();
  for (const auto& [k, v] : items)
    if (k == wanted) return (*value = SysAllocString(v.c_str())) ? S_OK : E_OUTOFMEMORY;
  *value = nullptr;  // an absent key reads as no text
  return S_OK;
}

STDMETHODIMP PropertyBag::Write(BSTR key, BSTR value) {
  const std::wstring k = key ? std::wstring(key, SysStringLen(key)) : std::wstring();
  const std::wstring v = value ? std::wstring(value, SysStringLen(value)) : std::wstring();
  for (auto& item : items) {
    if (item.first == k) {
      item.second = v;
      return S_OK;
    }
  }
  items.emplace_back(k, v);
  return S_OK;
}

STDMETHODIMP PropertyBag::get_Count(INT* count) {
  if (!count) return E_POINTER;
  *count = static_cast<INT>(items.size());
  return S_OK;
}

STDMETHODIMP PropertyBag::get_KeyFromIndex(INT index, BSTR* key) {
  if (!key) return E_POINTER;
  *key = nullptr;
  if (index < 1 || static_cast<size_t>(index) > items.size()) return E_INVALIDARG;
  *key = SysAllocString(items[static_cast<size_t>(index - 1)].first.c_str());
  return *key ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP PropertyBag::get_ValueFromIndex(INT index, BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  if (index < 1 || static_cast<size_t>(index) > items.size()) return E_INVALIDARG;
  *value = SysAllocString(items[static_cast<size_t>(index - 1)].second.c_str());
  return *value ? S_OK : E_OUTOFMEMORY;
}

}  // namespace qp::host
