// The verbs on a tag: replace the tagged text with a Quillpoint through the Norvane Word add-in,
// or maintain the recognizer terms. Both need Word with the add-in loaded and a template as the
// active document. Word's objects and the add-in are reached by member name.
#include "engine/controller.h"

#include "platform/product.h"
#include "platform/settings.h"
#include "platform/strings.h"
#include "platform/error_display.h"

namespace qp::engine {
using namespace qp::platform;
namespace {

constexpr wchar_t kWordAddInProgId[] = L"NVWordAddIn.Connect";
constexpr long kTemplateDocument = 1;  // Word's document type of a template

enum Verb : LONG { kVerbInsertQuillpoint = 1, kVerbMaintainTerms = 2 };

}  // namespace

void Controller::GetNVWordAddIn(IDispatch* oAppTarget) {
  try {
    // Looked for once: an add-in that was missing then stays missing for this Controller.
    if (m_oWordAddIn || m_oWordApp) return;
    m_oWordApp = Call(oAppTarget, L"Application").AsObject();
    ComPtr<IDispatch> addIns = Call(m_oWordApp.Get(), L"COMAddIns").AsObject();
    const long count = Call(addIns.Get(), L"Count").AsLong();
    for (long i = 1; i <= count; ++i) {
      ComPtr<IDispatch> addIn = Call(addIns.Get(), L"Item", {Variant::FromLong(i)}).AsObject();
      if (Call(addIn.Get(), L"ProgId").AsString() == kWordAddInProgId) {
        m_oWordAddIn = Call(addIn.Get(), L"Object").AsObject();
        break;
      }
    }
  } catch (...) {
    PassOn(L"GetNVWordAddIn()");
  }
}

STDMETHODIMP Controller::DoAction(LONG lVerbID, BSTR sCallingAppName, IDispatch* oAppTarget,
                                  ISmartTagProperties*, BSTR, BSTR) noexcept {
  return ComBoundary(
      [&] {
        const std::wstring call =
            L"DoAction(" + std::to_wstring(lVerbID) + L"," + ToString(sCallingAppName) + L")";
        Trace(call, L"");
        GetNVWordAddIn(oAppTarget);
        if (!m_oWordAddIn)
          RaiseError(kErrMissingComponent, L"DoAction()",
                     GetResourceString(kMsgMissingComponent, {kWordAddInProgId}), L"");

        // The target is the tagged Word range; its document must be a template.
        ComPtr<IDispatch> app = Call(oAppTarget, L"Application").AsObject();
        ComPtr<IDispatch> document = Call(app.Get(), L"ActiveDocument").AsObject();
        if (Call(document.Get(), L"Type").AsLong() != kTemplateDocument)
          RaiseError(kErrNotTemplate, L"DoAction()", GetResourceString(kMsgNotTemplate, {L""}),
                     L"");

        RunAction(lVerbID, oAppTarget);
        Trace(call + L" = ", L"");
      },
      ShowCurrentError);
}

// The verb's meaning is its number alone: the configuration's class codes and insert positions
// are not consulted.
void Controller::RunAction(LONG verb, IDispatch* target) {
  switch (verb) {
    case kVerbInsertQuillpoint:
      InsertQuillpoint(target);
      break;
    case kVerbMaintainTerms:
      MaintainTerms();
      break;
    default:
      RaiseError(kErrBadVerb, L"DoAction()",
                 GetResourceString(kMsgBadVerb, {std::to_wstring(verb)}), L"");
  }
}

void Controller::MaintainTerms() {
  _SmartTagConfig* config = GetSmartTagConfig();
  const HRESULT hr = config->VisualConfig();
  if (FAILED(hr)) RaiseComError(hr, config, IID__SmartTagConfig);
}

void Controller::InsertQuillpoint(IDispatch* oRange) {
  IDispatch* addIn = m_oWordAddIn.Get();
  Call(oRange, L"Select");
  // The add-in takes the name by reference.
  Variant name = Variant::FromString(Call(oRange, L"Text").AsString());
  ComPtr<IDispatch> quillpoints =
      Call(addIn, L"GetQuillpointsByName", {Variant::ByRef(name.Get())}).AsObject();

  // The lookup may be the first sign that the catalog changed: every term list is then
  // rebuilt, also where it was built in the flag's second, which may hold the verb back by up
  // to a second. Without a catalog (test mode) there is no one to ask.
  GetCurrentNorvaneCatalog();
  if (m_oCatalog && m_oCatalog.Call(L"HasCatalogChanged").AsBool()) MoveCacheFlushFlag();

  if (Call(quillpoints.Get(), L"Count").AsLong() != 1) {
    Call(addIn, L"doShowQuillpoints");
    return;
  }
  ComPtr<IDispatch> quillpoint =
      Call(quillpoints.Get(), L"Item", {Variant::FromLong(1)}).AsObject();
  const std::wstring question =
      GetResourceString(kMsgInsertQuillpoint, {Call(quillpoint.Get(), L"Name").AsString()});
  switch (ShowMessage(question, kMessageTitle, MB_YESNOCANCEL | MB_ICONQUESTION, L"", 0)) {
    case IDYES:
      Call(addIn, L"InsertQuillpoint", {Variant::FromObject(quillpoint.Get())});
      break;
    case IDNO:
      Call(addIn, L"doShowQuillpoints");
      break;
    default:  // Cancel: the tagged text stays as it is, selected
      break;
  }
}

}  // namespace qp::engine
