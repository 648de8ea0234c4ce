// The class Office creates to have terms marked: answers a constant or hands the call to its
// own Controller.
#include "com/classes.h"
#include "platform/com_object.h"
#include "platform/automation.h"
#include "platform/product.h"

namespace qp::com {
using namespace qp::platform;
namespace {

class Recognizer final
    : public ComObject<Recognizer, _Recognizer, ISmartTagRecognizer, ISmartTagRecognizer2> {
 public:
  Recognizer() {
    Check(CreateController(IID__Controller, reinterpret_cast<void**>(&m_oController)));
  }
  ~Recognizer() override {
    if (m_oController) m_oController->Release();
  }

  // _Recognizer
  STDMETHODIMP ISmartTagRecognizer_Recognize(BSTR sText, IF_TYPE iftype, LONG lcid,
                                             ISmartTagRecognizerSite* pfrs) noexcept override {
    ComPtr<ISmartTagRecognizerSite> site(pfrs);
    if (iftype != IF_TYPE_PARA) return S_OK;
    ISmartTagRecognizerSite* byRef = site.Get();
    if (byRef) byRef->AddRef();
    HRESULT hr = m_oController->DoRecognize(sText, lcid, &byRef);
    if (byRef) byRef->Release();
    return hr;
  }

  // ISmartTagRecognizer
  STDMETHODIMP get_ProgId(BSTR* out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ComBoundary(
        [&] { Check(ReturnString(std::wstring(kComponentTitle) + L".Recognizer", out)); });
  }
  STDMETHODIMP get_Name(INT lcid, BSTR* out) noexcept override {
    return Text(out, [&](BSTR* r) { return m_oController->get_RecognizerName(lcid, r); });
  }
  STDMETHODIMP get_Desc(INT lcid, BSTR* out) noexcept override {
    return Text(out, [&](BSTR* r) { return m_oController->get_RecognizerDescription(lcid, r); });
  }
  STDMETHODIMP get_SmartTagCount(INT* out) noexcept override {
    if (!out) return E_POINTER;
    *out = 0;
    LONG n = 0;
    HRESULT hr = m_oController->get_RecognizerSmartTagCount(&n);
    if (SUCCEEDED(hr)) *out = n;
    return hr;
  }
  STDMETHODIMP get_SmartTagName(INT lSmartTag, BSTR* out) noexcept override {
    return Text(out, [&](BSTR* r) { return m_oController->get_SmartTagName(lSmartTag, r); });
  }
  // Every index gets the same address: the index is not passed on.
  STDMETHODIMP get_SmartTagDownloadURL(INT, BSTR* out) noexcept override {
    return Text(out, [&](BSTR* r) { return m_oController->get_SmartTagDownloadURL(r); });
  }
  STDMETHODIMP Recognize(BSTR text, IF_TYPE dataType, INT localeId,
                         ISmartTagRecognizerSite* recognizerSite) noexcept override {
    return ISmartTagRecognizer_Recognize(text, dataType, localeId, recognizerSite);
  }

  // ISmartTagRecognizer2 (Office 2003 and later). The version-2 site is a version-1 site, on
  // which the tags are committed as Recognize commits them; the token list is not needed.
  STDMETHODIMP Recognize2(BSTR text, IF_TYPE dataType, INT localeId,
                          ISmartTagRecognizerSite2* recognizerSite2, BSTR applicationName,
                          ISmartTagTokenList*) noexcept override {
    const HRESULT kept = ComBoundary([&] { m_sApplicationName = ToString(applicationName); });
    if (FAILED(kept)) return kept;
    return ISmartTagRecognizer_Recognize(text, dataType, localeId, recognizerSite2);
  }
  // The one smart tag type has the terms dialog as its properties, in every language.
  STDMETHODIMP get_PropertyPage(INT smartTagId, INT, VARIANT_BOOL* hasPage) noexcept override {
    if (!hasPage) return E_POINTER;
    *hasPage = smartTagId == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  // Office's Properties button: the dialog of verb 2, modal on the thread that pressed it,
  // whatever the host and whichever apartment made this object.
  STDMETHODIMP DisplayPropertyPage(INT, INT) noexcept override {
    MaintainTermsOnCallingThread();
    return S_OK;
  }
  STDMETHODIMP SmartTagInitialize(BSTR applicationName) noexcept override {
    return ComBoundary([&] { m_sApplicationName = ToString(applicationName); });
  }

 private:
  // A text out value is empty before the Controller is asked, and its answer afterwards.
  template <class Ask>
  static HRESULT Text(BSTR* out, Ask ask) {
    if (!out) return E_POINTER;
    *out = nullptr;
    Bstr result;
    HRESULT hr = ask(result.Out());
    if (FAILED(hr)) return ReturnString(L"", out), hr;
    *out = result.Get() ? result.Detach() : SysAllocString(L"");
    return S_OK;
  }

  _Controller* m_oController = nullptr;
  // The host's name as Office 2003 gives it; kept, not used.
  std::wstring m_sApplicationName;
};

}  // namespace

HRESULT CreateRecognizer(REFIID iid, void** out) noexcept {
  return Recognizer::Create(iid, out);
}

}  // namespace qp::com
