// The smart tag engine: answers the host's descriptive questions from the configuration, finds
// terms and runs the verbs. The Recognizer and the Action component each own one.
#include "com/classes.h"
#include "com/com_object.h"
#include "support/automation.h"
#include "support/resources.h"

namespace qp {
namespace {

class Controller final : public ComObject<Controller, _Controller> {
 public:
  Controller() {
    SetAppHelpFile(GetHelpFilePath(kHelpFileName, true));
    // A library that cannot be loaded leaves the thread's handle null; strings then come back
    // empty rather than failing here.
    try {
      LoadResourceLibrary(GetResourceFilePath(kResourceLibraryName));
    } catch (const Error&) {
    }
  }

  STDMETHODIMP DoRecognize(BSTR, LONG, ISmartTagRecognizerSite**) override { return E_NOTIMPL; }
  STDMETHODIMP DoAction(LONG, BSTR, IDispatch*, ISmartTagProperties*, BSTR, BSTR) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP get_SmartTagName(LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_SmartTagDownloadURL(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionName(LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionDescription(LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionCaption(LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionVerbCount(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionVerbID(LONG, LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionVerbName(LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionVerbCaption(LONG, BSTR, LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_ActionSmartTagCount(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP get_RecognizerName(LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_RecognizerDescription(LONG, BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP get_RecognizerSmartTagCount(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP get_SmartTagConfiguration(_SmartTagConfig**) override { return E_NOTIMPL; }
  STDMETHODIMP SetTestModeOn() override { return E_NOTIMPL; }
};

}  // namespace

HRESULT CreateController(REFIID iid, void** out) { return Controller::Create(iid, out); }

}  // namespace qp
