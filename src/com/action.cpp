// The class Office creates to offer and run the verbs on a tag: answers its ProgId itself and
// hands every other question to its own Controller, so that the verb list and the type name it
// caches are this Action's and no one else's.
#include "com/classes.h"
#include "platform/com_object.h"
#include "platform/automation.h"
#include "platform/product.h"

namespace qp::com {
using namespace qp::platform;
namespace {

class Action final : public ComObject<Action, _Action, ISmartTagAction, ISmartTagAction2> {
 public:
  Action() { Check(CreateController(IID__Controller, reinterpret_cast<void**>(&m_oController))); }
  ~Action() override {
    if (m_oController) m_oController->Release();
  }

  // _Action: the verb by name, for automation clients; the same path as InvokeVerb.
  STDMETHODIMP ISmartTagAction_InvokeVerb(LONG lVerbID, BSTR sAppName, IDispatch* pdispTarget,
                                          ISmartTagProperties* pfp, BSTR sText,
                                          BSTR sXML) noexcept override {
    // The host's objects and texts stay ours while the verb runs: a modal box or the terms
    // dialog may pump messages that let the host drop its own references.
    ComPtr<IDispatch> target(pdispTarget);
    ComPtr<ISmartTagProperties> properties(pfp);
    HRESULT hr = S_OK;
    const HRESULT copied = ComBoundary([&] {
      Bstr appName(ToString(sAppName)), text(ToString(sText)), xml(ToString(sXML));
      hr = m_oController->DoAction(lVerbID, appName.Get(), target.Get(), properties.Get(),
                                   text.Get(), xml.Get());
    });
    return FAILED(copied) ? copied : hr;
  }

  // ISmartTagAction
  STDMETHODIMP get_ProgId(BSTR* out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ComBoundary(
        [&] { Check(ReturnString(std::wstring(kComponentTitle) + L".Action", out)); });
  }
  STDMETHODIMP get_Name(INT lcid, BSTR* out) noexcept override {
    return Answer(out, [&](BSTR* r) { return m_oController->get_ActionName(lcid, r); });
  }
  STDMETHODIMP get_Desc(INT lcid, BSTR* out) noexcept override {
    return Answer(out, [&](BSTR* r) { return m_oController->get_ActionDescription(lcid, r); });
  }
  STDMETHODIMP get_SmartTagCount(INT* out) noexcept override {
    return Count(out, [&](LONG* r) { return m_oController->get_ActionSmartTagCount(r); });
  }
  STDMETHODIMP get_SmartTagName(INT lSmartTag, BSTR* out) noexcept override {
    return Answer(out, [&](BSTR* r) { return m_oController->get_SmartTagName(lSmartTag, r); });
  }
  // One caption for every type: the index is not passed on.
  STDMETHODIMP get_SmartTagCaption(INT, INT lcid, BSTR* out) noexcept override {
    return Answer(out, [&](BSTR* r) { return m_oController->get_ActionCaption(lcid, r); });
  }
  // The one type has one verb list, whatever name Office asks with.
  STDMETHODIMP get_VerbCount(BSTR, INT* out) noexcept override {
    return Count(out, [&](LONG* r) { return m_oController->get_ActionVerbCount(r); });
  }
  STDMETHODIMP get_VerbID(BSTR, INT lVerbID, INT* out) noexcept override {
    return Count(out, [&](LONG* r) { return m_oController->get_ActionVerbID(lVerbID, r); });
  }
  // The application's name goes through unchanged: the Controller offers captions to Word only.
  STDMETHODIMP get_VerbCaptionFromID(INT lVerbID, BSTR sAppName, INT lcid,
                                     BSTR* out) noexcept override {
    return Answer(out, [&](BSTR* r) {
      return m_oController->get_ActionVerbCaption(lVerbID, sAppName, lcid, r);
    });
  }
  STDMETHODIMP get_VerbNameFromID(INT lVerbID, BSTR* out) noexcept override {
    return Answer(out, [&](BSTR* r) { return m_oController->get_ActionVerbName(lVerbID, r); });
  }
  STDMETHODIMP InvokeVerb(INT verbId, BSTR applicationName, IDispatch* target,
                          ISmartTagProperties* properties, BSTR text, BSTR xml) noexcept override {
    return ISmartTagAction_InvokeVerb(verbId, applicationName, target, properties, text, xml);
  }

  // ISmartTagAction2 (Office 2003 and later): the version-1 answers, with fixed captions and
  // the tag's indicator shown.
  STDMETHODIMP get_VerbCaptionFromID2(INT verbId, BSTR applicationName, INT localeId,
                                      ISmartTagProperties*, BSTR, BSTR, IDispatch*,
                                      BSTR* out) noexcept override {
    return get_VerbCaptionFromID(verbId, applicationName, localeId, out);
  }
  STDMETHODIMP InvokeVerb2(INT verbId, BSTR applicationName, IDispatch* target,
                           ISmartTagProperties* properties, BSTR text, BSTR xml,
                           INT) noexcept override {
    return ISmartTagAction_InvokeVerb(verbId, applicationName, target, properties, text, xml);
  }
  STDMETHODIMP get_IsCaptionDynamic(INT, BSTR, INT, VARIANT_BOOL* dynamic) noexcept override {
    return Flag(dynamic, false);
  }
  STDMETHODIMP get_ShowSmartTagIndicator(INT, BSTR, INT, VARIANT_BOOL* show) noexcept override {
    return Flag(show, true);
  }
  STDMETHODIMP SmartTagInitialize(BSTR applicationName) noexcept override {
    return ComBoundary([&] { m_sApplicationName = ToString(applicationName); });
  }

 private:
  // Office gets a string it owns: the empty one until the Controller has answered, and the
  // empty one with the failure when the Controller's call fails.
  template <class Ask>
  static HRESULT Answer(BSTR* out, Ask ask) {
    if (!out) return E_POINTER;
    Bstr answer;
    const HRESULT hr = ask(answer.Out());
    if (FAILED(hr)) {
      ReturnString(L"", out);
      return hr;
    }
    *out = answer.Get() ? answer.Detach() : SysAllocString(L"");
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  template <class Ask>
  static HRESULT Count(INT* out, Ask ask) {
    if (!out) return E_POINTER;
    LONG answer = 0;
    const HRESULT hr = ask(&answer);
    *out = SUCCEEDED(hr) ? static_cast<INT>(answer) : 0;
    return hr;
  }

  static HRESULT Flag(VARIANT_BOOL* out, bool value) {
    if (!out) return E_POINTER;
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  _Controller* m_oController = nullptr;
  // The host's name as Office 2003 gives it; kept, not used.
  std::wstring m_sApplicationName;
};

}  // namespace

HRESULT CreateAction(REFIID iid, void** out) noexcept {
  return Action::Create(iid, out);
}

}  // namespace qp::com
