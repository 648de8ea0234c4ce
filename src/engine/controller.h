// The smart tag engine: answers the host's descriptive questions from the configuration, keeps
// the term list current, finds the terms in the text and runs the verbs. The Recognizer and the
// Action component each own one.
#pragma once

#include <memory>
#include <string>

#include "platform/com_object.h"
#include "config/terms_dialog.h"
#include "core/matcher.h"
#include "platform/automation.h"
#include "platform/registry_component.h"
#include "core/term_dictionary.h"

namespace qp::engine {

class Controller final : public platform::ComObject<Controller, _Controller> {
 public:
  // makeDialog: the terms dialog that the configuration store shows.
  explicit Controller(config::MakeTermsDialog makeDialog);
  ~Controller() override;

  // _Controller
  STDMETHODIMP DoRecognize(BSTR sSmartTagText, LONG lLocale,
                           ISmartTagRecognizerSite** oRecognizerSite) noexcept override;
  STDMETHODIMP DoAction(LONG lVerbID, BSTR sCallingAppName, IDispatch* oAppTarget,
                        ISmartTagProperties* oProperties, BSTR sSmartTagText,
                        BSTR sXML) noexcept override;
  STDMETHODIMP get_SmartTagName(LONG lSmartTagId, BSTR* pName) noexcept override;
  STDMETHODIMP get_SmartTagDownloadURL(BSTR* pUrl) noexcept override;
  STDMETHODIMP get_ActionName(LONG lLocale, BSTR* pName) noexcept override;
  STDMETHODIMP get_ActionDescription(LONG lLocale, BSTR* pText) noexcept override;
  STDMETHODIMP get_ActionCaption(LONG lLocale, BSTR* pCaption) noexcept override;
  STDMETHODIMP get_ActionVerbCount(LONG* pCount) noexcept override;
  STDMETHODIMP get_ActionVerbID(LONG lVerbID, LONG* pVerbID) noexcept override;
  STDMETHODIMP get_ActionVerbName(LONG lVerbID, BSTR* pName) noexcept override;
  STDMETHODIMP get_ActionVerbCaption(LONG lVerbID, BSTR sAppName, LONG lLocaleId,
                                     BSTR* pCaption) noexcept override;
  STDMETHODIMP get_ActionSmartTagCount(LONG* pCount) noexcept override;
  STDMETHODIMP get_RecognizerName(LONG lLocale, BSTR* pName) noexcept override;
  STDMETHODIMP get_RecognizerDescription(LONG lLocale, BSTR* pText) noexcept override;
  STDMETHODIMP get_RecognizerSmartTagCount(LONG* pCount) noexcept override;
  STDMETHODIMP get_SmartTagConfiguration(_SmartTagConfig** ppConfig) noexcept override;
  STDMETHODIMP SetTestModeOn() noexcept override;

  // Verb 2: the terms dialog over this Controller's store, modal on the calling thread. Raises
  // what the store's creation or the dialog's caller could not report itself.
  void MaintainTerms();

 private:
  // Configuration (controller.cpp).
  _SmartTagConfig* GetSmartTagConfig();
  std::wstring ConfigurationItem(const wchar_t* path);
  static bool IsWordApplication(const std::wstring& appName);
  // The recognizer's failures go to the error prompt, the action handler's to a box.
  enum class Side { Recognizer, Action };
  // A descriptive text of the configuration that may not be empty, as the host asks for it by
  // locale: the call traced, the item read and required, the answer traced.
  HRESULT ConfiguredText(BSTR* out, const wchar_t* name, LONG locale, const wchar_t* path,
                         Side side);
  void ReportControllerError();

  // Term list (term_list.cpp).
  bool GetRecognizerList();
  bool GetCurrentNorvaneCatalog();
  void RebuildTerms();
  void ReleaseTerms();
  bool CopyKeys();

  // Verbs (action_dispatch.cpp).
  void GetNVWordAddIn(IDispatch* oAppTarget);
  void RunAction(LONG verb, IDispatch* target);
  void InsertQuillpoint(IDispatch* oRange);

  // Kept for the engine's life and released after everything below it.
  platform::RegistryClassHold m_oRegistryClass;

  // Released on termination in this order (see the destructor).
  ComPtr<IDispatch> m_oWordAddIn;
  ComPtr<IDispatch> m_oWordApp;
  platform::LateBound m_oCatalog;
  // The term dictionary: the keyed dictionary object (the catalog's own, when there is a
  // catalog), and for matching the same keys in a hashed table rebuilt with it, or, when the
  // dictionary cannot list its keys, a table that asks the dictionary itself.
  platform::LateBound m_dicTerms;
  core::TermDictionary m_oTermTable;
  ComPtr<_Records> m_colActions;
  config::MakeTermsDialog m_fnMakeDialog;
  ComPtr<_SmartTagConfig> m_oConfig;

  std::wstring m_sSmartTagName;
  std::wstring m_sCacheStamp;
  // m_sSmartTagName as the site is given it, converted again only when the name changed.
  std::wstring m_sCommittedName;
  platform::Bstr m_bstrCommittedName;
  std::u16string m_sTypeName;
  std::unique_ptr<core::Matcher> m_oMatcher;  // the matcher's working arrays
};

// The calling thread's test mode: no catalog is created or asked for names.
bool IsTestMode();

}  // namespace qp::engine
