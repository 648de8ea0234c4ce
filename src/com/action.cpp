// The class Office creates to offer and run the verbs on a tag: hands every question to its
// own Controller.
#include "com/classes.h"
#include "com/com_object.h"
#include "support/automation.h"

namespace qp {
namespace {

class Action final : public ComObject<Action, _Action, ISmartTagAction> {
 public:
  Action() { Check(CreateController(IID__Controller, reinterpret_cast<void**>(&m_oController))); }
  ~Action() override {
    if (m_oController) m_oController->Release();
  }

  // _Action
  STDMETHODIMP ISmartTagAction_InvokeVerb(LONG, BSTR, IDispatch*, ISmartTagProperties*, BSTR,
                                          BSTR) override {
    return E_NOTIMPL;
  }

  // ISmartTagAction
  STDMETHODIMP get_ProgId(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Name(INT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_Desc(INT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_SmartTagCount(INT*) override { return E_NOTIMPL; }
  STDMETHODIMP get_SmartTagName(INT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_SmartTagCaption(INT, INT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_VerbCount(BSTR, INT*) override { return E_NOTIMPL; }
  STDMETHODIMP get_VerbID(BSTR, INT, INT*) override { return E_NOTIMPL; }
  STDMETHODIMP get_VerbCaptionFromID(INT, BSTR, INT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_VerbNameFromID(INT, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP InvokeVerb(INT, BSTR, IDispatch*, ISmartTagProperties*, BSTR, BSTR) override {
    return E_NOTIMPL;
  }

 private:
  _Controller* m_oController = nullptr;
};

}  // namespace

HRESULT CreateAction(REFIID iid, void** out) { return Action::Create(iid, out); }

}  // namespace qp
