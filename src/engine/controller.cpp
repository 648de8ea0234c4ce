#include "engine/controller.h"

#include <atomic>

#include "config/config.h"
#include "platform/help.h"
#include "platform/paths.h"
#include "platform/product.h"
#include "platform/strings.h"
#include "platform/win_platform.h"
#include "platform/error_display.h"

namespace qp::engine {
using namespace qp::platform;
using namespace qp::config;
namespace {

thread_local bool g_bTestMode = false;

// The user answered Yes to the error prompt's question whether to stop: the recognizer side
// stays quiet for as long as this process keeps the component loaded. No, or a prompt that
// could not be shown, changes nothing.
std::atomic<bool> g_bErrorPromptsOff{false};

std::wstring Num(long n) {
  return std::to_wstring(n);
}

// A text property: the out value is empty until the answer is known, and keeps whatever was
// set when a failure is reported.
template <class Body, class Report>
HRESULT AnswerTextProperty(BSTR* out, Body body, Report report) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::wstring result;
  HRESULT hr = ComBoundary([&] { body(result); }, report);
  if (FAILED(hr)) return hr;
  return ReturnString(result, out);
}

template <class Body, class Report>
HRESULT LongProperty(LONG* out, Body body, Report report) {
  if (!out) return E_POINTER;
  *out = 0;
  return ComBoundary([&] { body(*out); }, report);
}

void RequireText(const std::wstring& value, const wchar_t* source) {
  if (value.empty()) RaiseError(kErrEmptyValue, source, L"", L"");
}

}  // namespace

bool IsTestMode() {
  return g_bTestMode;
}

Controller::Controller(MakeTermsDialog makeDialog) : m_fnMakeDialog(makeDialog) {
  SetAppHelpFile(GetHelpFilePath(kHelpFileName, true));
  // A library that cannot be loaded leaves the thread's handle null; its strings then come
  // back empty.
  LoadResourceLibrary(GetResourceFilePath(kResourceLibraryName));
  m_oMatcher = std::make_unique<core::Matcher>(WindowsPlatform());
}

Controller::~Controller() {
  m_oWordAddIn.Reset();
  m_oWordApp.Reset();
  m_oCatalog.Reset();
  m_dicTerms.Reset();
  m_colActions.Reset();
  m_oConfig.Reset();
}

// ---- configuration -----------------------------------------------------------------------

_SmartTagConfig* Controller::GetSmartTagConfig() {
  if (!m_oConfig) {
    // The store's own failure (its file can neither be found nor written) is the one to
    // report: it says what is wrong and where.
    const HRESULT hr = CreateSmartTagConfig(m_fnMakeDialog, IID__SmartTagConfig,
                                            reinterpret_cast<void**>(m_oConfig.GetAddressOf()));
    if (FAILED(hr)) RaiseComError(hr, nullptr, IID_NULL);
    if (!m_oConfig)
      RaiseError(kErrMissingComponent, L"GetSmartTagConfig()",
                 GetResourceString(kMsgMissingComponent, {L"SmartTagConfig"}), L"");
  }
  return m_oConfig.Get();
}

std::wstring Controller::ConfigurationItem(const wchar_t* path) {
  _SmartTagConfig* config = GetSmartTagConfig();
  Bstr xql(path);
  Variant item;
  HRESULT hr = config->GetConfigurationItem(xql.Get(), item.Out());
  if (FAILED(hr)) RaiseComError(hr, config, IID__SmartTagConfig);
  return item.IsEmptyOrNull() ? std::wstring() : item.AsString();
}

bool Controller::IsWordApplication(const std::wstring& appName) {
  return Upper(appName).find(L"WORD.APP") != std::wstring::npos;
}

HRESULT Controller::ConfiguredText(BSTR* out, const wchar_t* name, LONG locale, const wchar_t* path,
                                   Side side) {
  return AnswerTextProperty(
      out,
      [&](std::wstring& r) {
        const std::wstring call = name + (L"(" + Num(locale) + L")");
        Trace(call, L"");
        r = ConfigurationItem(path);
        RequireText(r, (name + std::wstring(L"()")).c_str());
        Trace(call + L" = " + r, L"");
      },
      [&] {
        if (side == Side::Recognizer) {
          ReportControllerError();
        } else {
          ShowCurrentError();
        }
      });
}

void Controller::ReportControllerError() {
  if (!IsErrorDisplayOn() || g_bErrorPromptsOff) return;
  if (ShowErrorPrompt(L"", kMessageTitle, L"")) g_bErrorPromptsOff = true;
}

// ---- properties --------------------------------------------------------------------------

STDMETHODIMP Controller::get_SmartTagName(LONG id, BSTR* out) noexcept {
  return AnswerTextProperty(
      out,
      [&](std::wstring& r) {
        Trace(L"SmartTagName(" + Num(id) + L")", L"");
        if (id == 1) m_sSmartTagName = ConfigurationItem(L"SmartTagConfig/Name");
        r = m_sSmartTagName;
        RequireText(r, L"SmartTagName()");
        Trace(L"SmartTagName(" + Num(id) + L") = " + r, L"");
      },
      [&] { ReportControllerError(); });
}

STDMETHODIMP Controller::get_SmartTagDownloadURL(BSTR* out) noexcept {
  return AnswerTextProperty(
      out,
      [&](std::wstring& r) {
        Trace(L"SmartTagDownloadURL()", L"");
        r = ConfigurationItem(L"SmartTagConfig/DownloadURL");
        Trace(L"SmartTagDownloadURL() = " + r, L"");
      },
      ShowCurrentError);
}

STDMETHODIMP Controller::get_ActionName(LONG locale, BSTR* out) noexcept {
  return ConfiguredText(out, L"ActionName", locale, L"SmartTagConfig/ActionProvider/Name",
                        Side::Action);
}

STDMETHODIMP Controller::get_ActionDescription(LONG locale, BSTR* out) noexcept {
  return ConfiguredText(out, L"ActionDescription", locale,
                        L"SmartTagConfig/ActionProvider/Description", Side::Action);
}

STDMETHODIMP Controller::get_ActionCaption(LONG locale, BSTR* out) noexcept {
  return ConfiguredText(out, L"ActionCaption", locale, L"SmartTagConfig/Caption", Side::Action);
}

STDMETHODIMP Controller::get_ActionVerbCount(LONG* out) noexcept {
  return LongProperty(
      out,
      [&](LONG& r) {
        Trace(L"ActionVerbCount()", L"");
        _SmartTagConfig* config = GetSmartTagConfig();
        // The verbs Office was offered stay until a new list has been read in full.
        ComPtr<_Records> actions;
        HRESULT hr = config->GetActions(VARIANT_TRUE, actions.GetAddressOf());
        if (FAILED(hr)) RaiseComError(hr, config, IID__SmartTagConfig);
        if (!actions) RaiseObjectNotSet();
        LONG count = 0;
        hr = actions->get_Count(&count);
        if (FAILED(hr)) RaiseComError(hr, actions.Get(), IID__Records);
        m_colActions = std::move(actions);
        r = count;
        Trace(L"ActionVerbCount() = " + Num(r), L"");
      },
      ShowCurrentError);
}

STDMETHODIMP Controller::get_ActionVerbID(LONG verb, LONG* out) noexcept {
  return LongProperty(
      out,
      [&](LONG& r) {
        Trace(L"ActionVerbID(" + Num(verb) + L")", L"");
        r = verb;
      },
      ShowCurrentError);
}

namespace {

// A member of verb `verb` (1-based) of the verb collection, by name.
std::wstring VerbMember(_Records* actions, LONG verb, const wchar_t* member) {
  if (!actions) RaiseObjectNotSet();
  Variant index = Variant::FromLong(verb);
  Variant item;
  HRESULT hr = actions->get_Item(*index.Get(), item.Out());
  if (FAILED(hr)) RaiseComError(hr, actions, IID__Records);
  return Call(item.AsObject().Get(), member).AsString();
}

}  // namespace

STDMETHODIMP Controller::get_ActionVerbName(LONG verb, BSTR* out) noexcept {
  return AnswerTextProperty(
      out,
      [&](std::wstring& r) {
        Trace(L"ISmartTagAction_VerbNameFromID(" + Num(verb) + L")", L"");
        r = VerbMember(m_colActions.Get(), verb, L"Name");
        RequireText(r, L"ActionVerbName()");
        Trace(L"ActionVerbName(" + Num(verb) + L") = " + r, L"");
      },
      ShowCurrentError);
}

STDMETHODIMP Controller::get_ActionVerbCaption(LONG verb, BSTR appName, LONG locale,
                                               BSTR* out) noexcept {
  return AnswerTextProperty(
      out,
      [&](std::wstring& r) {
        const std::wstring call = L"ActionVerbCaption(" + Num(verb) + L"," + ToString(appName) +
                                  L"," + Num(locale) + L")";
        Trace(call, L"");
        // Outside Word no verb is offered.
        if (!IsWordApplication(ToString(appName))) return;
        r = VerbMember(m_colActions.Get(), verb, L"Value");
        RequireText(r, L"ActionVerbCaption()");
        Trace(call + L" = " + r, L"");
      },
      ShowCurrentError);
}

STDMETHODIMP Controller::get_ActionSmartTagCount(LONG* out) noexcept {
  return LongProperty(
      out,
      [&](LONG& r) {
        r = 1;
        Trace(L"ActionSmartTagCount() = 1", L"");
      },
      ShowCurrentError);
}

STDMETHODIMP Controller::get_RecognizerName(LONG locale, BSTR* out) noexcept {
  return ConfiguredText(out, L"RecognizerName", locale, L"SmartTagConfig/RecognizerProvider/Name",
                        Side::Recognizer);
}

STDMETHODIMP Controller::get_RecognizerDescription(LONG locale, BSTR* out) noexcept {
  return ConfiguredText(out, L"RecognizerDescription", locale,
                        L"SmartTagConfig/RecognizerProvider/Description", Side::Recognizer);
}

STDMETHODIMP Controller::get_RecognizerSmartTagCount(LONG* out) noexcept {
  return LongProperty(
      out,
      [&](LONG& r) {
        r = 1;
        Trace(L"RecognizerSmartTagCount() = 1", L"");
      },
      [&] { ReportControllerError(); });
}

STDMETHODIMP Controller::get_SmartTagConfiguration(_SmartTagConfig** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComBoundary([&] {
    _SmartTagConfig* config = GetSmartTagConfig();
    config->AddRef();
    *out = config;
  });
}

STDMETHODIMP Controller::SetTestModeOn() noexcept {
  g_bTestMode = true;
  return S_OK;
}

}  // namespace qp::engine
