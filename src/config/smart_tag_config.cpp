#include "config/smart_tag_config.h"

#include <optional>
#include <utility>
#include <vector>

#include "config/config.h"
#include "config/config_file.h"
#include "config/record_elements.h"
#include "config/records.h"
#include "config/term_merge.h"
#include "platform/product.h"
#include "platform/settings.h"
#include "platform/error_display.h"

namespace qp::config {
using namespace qp::platform;
namespace {

inline constexpr wchar_t kFileSystemProgId[] = L"Scripting.FileSystemObject";

}  // namespace

SmartTagConfig::SmartTagConfig(MakeTermsDialog makeDialog)
    : m_fnMakeDialog(makeDialog), m_sConfigFilePath(config::GetConfigFilePath()) {}

// ---- file lifecycle ----------------------------------------------------------------------------

const std::wstring& SmartTagConfig::ConfigFilePath() {
  if (m_sConfigFilePath.empty()) m_sConfigFilePath = config::GetConfigFilePath();
  return m_sConfigFilePath;
}

ComPtr<IXMLDOMNode> SmartTagConfig::LoadAndSelect(BSTR sXQL) {
  ConfigFileLoad();
  return SelectFirst(m_oConfigDoc.Get(), ToString(sXQL));
}

IXMLDOMDocument2* SmartTagConfig::HeldDocument() {
  if (!m_oConfigDoc) RaiseObjectNotSet();
  return m_oConfigDoc.Get();
}

void SmartTagConfig::LoadInto(ComPtr<IXMLDOMDocument2>& doc) {
  try {
    doc = NewXmlDocument();
    if (const std::optional<ParseFailure> failure = LoadXmlFile(doc.Get(), ConfigFilePath()))
      RaiseError(kErrConfigParse, failure->srcText.empty() ? kLibraryName : failure->srcText,
                 failure->reason, L"");
  } catch (...) {
    PassOn(L"ConfigFileLoad()", m_sConfigFilePath);
  }
}

void SmartTagConfig::ConfigFileLoad() {
  if (m_oConfigDoc) return;
  // Held also when the load fails: later queries then see a document without elements.
  LoadInto(m_oConfigDoc);
}

ComPtr<IXMLDOMDocument2> SmartTagConfig::LoadFreshDocument() {
  ComPtr<IXMLDOMDocument2> doc;
  LoadInto(doc);
  return doc;
}

void SmartTagConfig::ConfigFileSave(std::unique_ptr<SaveLock> lock) {
  try {
    const std::wstring& path = ConfigFilePath();
    IXMLDOMDocument2* doc = HeldDocument();
    if (!lock) lock = std::make_unique<SaveLock>(path);
    ReplaceFileSafely(path, [&](const std::wstring& newFile) {
      Check(doc->save(*Variant::FromString(newFile).Get()));
    });
    SYSTEMTIME replaced;
    GetLocalTime(&replaced);
    // Hold exactly what the file now holds.
    m_oConfigDoc.Reset();
    ConfigFileLoad();
    lock.reset();  // the other saves need not wait for the flag
    // The flag has one-second resolution: an engine of another apartment or process may have
    // rebuilt from the old file in the second of the replacement and stamped itself with that
    // second. The flag therefore carries a later second than the replacement's, which holds the
    // save back by up to a second when it falls into the second of the replacement; then every
    // running recognizer reads the new file at its next Recognize.
    SetCacheFlushFlagAfter(replaced);
  } catch (...) {
    PassOn(L"ConfigFileSave()", m_sConfigFilePath);
  }
}

STDMETHODIMP SmartTagConfig::Initialize() noexcept {
  m_oConfigDoc.Reset();
  return S_OK;
}

STDMETHODIMP SmartTagConfig::HasConfigChanged(VARIANT_BOOL* pChanged) noexcept {
  if (!pChanged) return E_POINTER;
  *pChanged = VARIANT_FALSE;
  return ComBoundary([&] {
    const std::wstring& path = ConfigFilePath();
    ComPtr<IDispatch> files = CreateObject(kFileSystemProgId);
    ComPtr<IDispatch> file = Call(files.Get(), L"GetFile", {Variant::FromString(path)}).AsObject();
    const std::wstring modified = Call(file.Get(), L"DateLastModified").AsString();
    if (modified != m_sLastModified) {
      m_sLastModified = modified;
      *pChanged = VARIANT_TRUE;
    }
  });
}

STDMETHODIMP SmartTagConfig::GetConfigFilePath(BSTR* pPath) noexcept {
  if (!pPath) return E_POINTER;
  *pPath = nullptr;
  return ComBoundary([&] { Check(ReturnString(config::GetConfigFilePath(), pPath)); });
}

// ---- queries -----------------------------------------------------------------------------------

STDMETHODIMP SmartTagConfig::GetConfigurationItem(BSTR sXQL, VARIANT* pItem) noexcept {
  if (!pItem) return E_POINTER;
  VariantInit(pItem);
  return ComBoundary([&] {
    try {
      // No element selected: no value at all, which is not the empty text.
      if (ComPtr<IXMLDOMNode> node = LoadAndSelect(sXQL)) {
        pItem->bstrVal = Bstr(TextOf(node.Get())).Detach();
        pItem->vt = VT_BSTR;
      }
    } catch (...) {
      PassOn(L"GetConfigurationItem()");
    }
  });
}

STDMETHODIMP SmartTagConfig::GetRecognizers(VARIANT_BOOL bEnabledOnly, _Records** ppList) noexcept {
  if (!ppList) return E_POINTER;
  *ppList = nullptr;
  return ComBoundary([&] {
    try {
      ConfigFileLoad();
      *ppList = RecognizerList(m_oConfigDoc.Get(), bEnabledOnly != VARIANT_FALSE).Detach();
    } catch (...) {
      PassOn(L"GetRecognizers()");
    }
  });
}

STDMETHODIMP SmartTagConfig::GetActions(VARIANT_BOOL bEnabledOnly, _Records** ppList) noexcept {
  if (!ppList) return E_POINTER;
  *ppList = nullptr;
  return ComBoundary([&] {
    try {
      // The document as held: the verbs are read after something else loaded it.
      auto make = [](IXMLDOMNode* node, std::wstring& enabled) {
        ComPtr<_ActionProps> record = ActionProps::New();
        WriteText(record.Get(), &_ActionProps::put_Name, GetAttribute(node, L"Name"));
        WriteText(record.Get(), &_ActionProps::put_ClassCode, GetAttribute(node, L"ClassCode"));
        enabled = GetAttribute(node, L"Enabled");
        WriteText(record.Get(), &_ActionProps::put_Enabled, enabled);
        WriteText(record.Get(), &_ActionProps::put_InsertPosition,
                  GetAttribute(node, L"InsertPosition"));
        WriteText(record.Get(), &_ActionProps::put_Value, TextOf(node));
        return ComPtr<IDispatch>(record.Get());
      };
      *ppList =
          BuildList(HeldDocument(), kActionPath, bEnabledOnly != VARIANT_FALSE, make).Detach();
    } catch (...) {
      PassOn(L"GetActions()");
    }
  });
}

// ---- updates -----------------------------------------------------------------------------------

void SmartTagConfig::ReplaceElements(IXMLDOMDocument2* doc, IDispatch* records,
                                     const wchar_t* elementPath, const wchar_t* containerPath,
                                     const wchar_t* elementName, const FillElement& fill) {
  ComPtr<IXMLDOMNode> first = SelectFirst(doc, elementPath);
  if (!first) RaiseObjectNotSet();
  ComPtr<IXMLDOMNode> element;
  Check(first->cloneNode(VARIANT_TRUE, element.GetAddressOf()));
  ComPtr<IXMLDOMNode> container = SelectFirst(doc, containerPath);
  if (!container) RaiseObjectNotSet();

  // Comments and everything else that is not one of the records stay where they are.
  ComPtr<IXMLDOMNode> child;
  Check(container->get_firstChild(child.GetAddressOf()));
  while (child) {
    ComPtr<IXMLDOMNode> next;
    Check(child->get_nextSibling(next.GetAddressOf()));
    Bstr name;
    Check(child->get_baseName(name.Out()));
    if (name.Str() == elementName) {
      ComPtr<IXMLDOMNode> removed;
      Check(container->removeChild(child.Get(), removed.GetAddressOf()));
    }
    child = std::move(next);
  }

  ComPtr<IEnumVARIANT> items = Enumerate(records);
  for (;;) {
    Variant item;
    ULONG fetched = 0;
    const HRESULT hr = items->Next(1, item.Get(), &fetched);
    Check(hr);
    if (hr != S_OK || fetched != 1) break;
    fill(element.Get(), item.AsObject().Get());
    ComPtr<IXMLDOMNode> appended;
    Check(container->appendChild(element.Get(), appended.GetAddressOf()));
    element.Reset();
    Check(appended->cloneNode(VARIANT_TRUE, element.GetAddressOf()));
  }
}

STDMETHODIMP SmartTagConfig::UpdateRecognizers(IDispatch** oRecognizers) noexcept {
  return ComBoundary([&] {
    try {
      IDispatch* records = oRecognizers ? *oRecognizers : nullptr;
      if (Call(records, L"Count").AsLong() <= 0) return;  // nothing removed, nothing saved
      ReplaceElements(HeldDocument(), records, kRecognizerPath, kRecognizersPath, L"Recognizer",
                      FillRecognizer);
      ConfigFileSave();
    } catch (...) {
      PassOn(L"UpdateRecognizers()");
    }
  });
}

STDMETHODIMP SmartTagConfig::UpdateActions(IDispatch** oActions) noexcept {
  return ComBoundary([&] {
    try {
      IDispatch* records = oActions ? *oActions : nullptr;
      if (Call(records, L"Count").AsLong() <= 0) return;  // nothing removed, nothing saved
      ReplaceElements(
          HeldDocument(), records, kActionPath, kActionsPath, L"Action",
          [](IXMLDOMNode* node, IDispatch* item) {
            auto record = RecordAs<_ActionProps>(item, IID__ActionProps);
            ComPtr<IXMLDOMElement> element;
            Check(node->QueryInterface(kIID_IXMLDOMElement,
                                       reinterpret_cast<void**>(element.GetAddressOf())));
            auto set = [&](const wchar_t* name, const std::wstring& value) {
              Bstr attribute(name);
              Check(element->setAttribute(attribute.Get(), *Variant::FromString(value).Get()));
            };
            set(L"Name", ReadText(record.Get(), &_ActionProps::get_Name));
            set(L"ClassCode", ReadText(record.Get(), &_ActionProps::get_ClassCode));
            set(L"Enabled", ReadText(record.Get(), &_ActionProps::get_Enabled));
            // A verb without insert position carries no such attribute.
            const std::wstring position = ReadText(record.Get(), &_ActionProps::get_InsertPosition);
            if (position.empty()) {
              Bstr attribute(L"InsertPosition");
              Check(element->removeAttribute(attribute.Get()));
            } else {
              set(L"InsertPosition", position);
            }
            Bstr text(ReadText(record.Get(), &_ActionProps::get_Value));
            Check(element->put_text(text.Get()));
          });
      ConfigFileSave();
    } catch (...) {
      PassOn(L"UpdateActions()");
    }
  });
}

STDMETHODIMP SmartTagConfig::SetConfigurationItem(BSTR sXQL, BSTR sValue,
                                                  VARIANT_BOOL* pDone) noexcept {
  if (!pDone) return E_POINTER;
  *pDone = VARIANT_FALSE;
  return ComBoundary([&] {
    try {
      ComPtr<IXMLDOMNode> node = LoadAndSelect(sXQL);
      if (!node) return;
      Bstr text(ToString(sValue));
      Check(node->put_text(text.Get()));
      ConfigFileSave();
      *pDone = VARIANT_TRUE;
    } catch (...) {
      PassOn(L"SetConfigurationItem()");
    }
  });
}

STDMETHODIMP SmartTagConfig::DeleteConfigurationItem(BSTR sXQL, VARIANT_BOOL* pDone) noexcept {
  if (!pDone) return E_POINTER;
  *pDone = VARIANT_FALSE;
  return ComBoundary([&] {
    try {
      ComPtr<IXMLDOMNode> node = LoadAndSelect(sXQL);
      if (!node) return;
      ComPtr<IXMLDOMNode> parent;
      Check(node->get_parentNode(parent.GetAddressOf()));
      if (!parent) return;
      ComPtr<IXMLDOMNode> removed;
      Check(parent->removeChild(node.Get(), removed.GetAddressOf()));
      ConfigFileSave();
      *pDone = VARIANT_TRUE;
    } catch (...) {
      PassOn(L"DeleteConfigurationItem()");
    }
  });
}

void SmartTagConfig::SaveDialogEdits(const TermsDialog& dialog) {
  try {
    // A dialog that kept no terms, or none at all, has nothing to hand back.
    if (Call(dialog.GetItems().Get(), L"Count").AsLong() <= 0) return;
    std::unique_ptr<SaveLock> lock;
    try {
      lock = std::make_unique<SaveLock>(ConfigFilePath());
    } catch (...) {
      PassOn(L"ConfigFileSave()", m_sConfigFilePath);
    }
    ComPtr<IXMLDOMDocument2> now = LoadFreshDocument();
    std::vector<TermRecord> records = TermRecordsOf(RecognizerList(now.Get(), false).Get());
    ApplyTermEdits(records, dialog.GetEdits());
    ReplaceElements(now.Get(), ListOf(records).Get(), kRecognizerPath, kRecognizersPath,
                    L"Recognizer", FillRecognizer);
    m_oConfigDoc = now;
    ConfigFileSave(std::move(lock));
  } catch (...) {
    PassOn(L"UpdateRecognizers()");
  }
}

// The user maintains the terms in the dialog, which opens on the file as it is (the document
// held for the queries stays as it is), and whose OK adds the user's edits to the file as it is
// then. Nothing is raised: a failure is shown; a failed OK leaves the dialog open with the
// user's edits, for another OK or Cancel.
STDMETHODIMP SmartTagConfig::VisualConfig() noexcept {
  if (!m_fnMakeDialog) return E_NOTIMPL;
  std::unique_ptr<TermsDialog> dialog;
  const HRESULT hr = ComBoundary(
      [&] {
        dialog = m_fnMakeDialog(NewRecognizerRecord);
        ComPtr<IXMLDOMDocument2> now = LoadFreshDocument();
        ComPtr<Records> terms = RecognizerList(now.Get(), false);
        dialog->SetData(terms.Get());
        dialog->Show([&] {
          try {
            SaveDialogEdits(*dialog);
            return true;
          } catch (...) {
            ShowCaughtError(L"");
            return !dialog->GetItems();
          }
        });
      },
      ShowCurrentError);
  if (dialog) dialog->Unload();
  return hr;
}

HRESULT CreateSmartTagConfig(MakeTermsDialog makeDialog, REFIID iid, void** out) noexcept {
  return SmartTagConfig::Create(iid, out, makeDialog);
}

}  // namespace qp::config
