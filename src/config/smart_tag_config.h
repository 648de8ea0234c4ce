// SmartTagConfig: the only way into the user's configuration document. It holds its own copy of
// the file, loaded on the first query and kept until Initialize or a save drops it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/com_object.h"
#include "config/config_file.h"
#include "config/terms_dialog.h"
#include "config/xml_document.h"

namespace qp::config {

class SmartTagConfig final : public platform::ComObject<SmartTagConfig, _SmartTagConfig> {
 public:
  // Raises when the file can neither be found nor written.
  explicit SmartTagConfig(MakeTermsDialog makeDialog);

  STDMETHODIMP VisualConfig() override;
  STDMETHODIMP GetConfigurationItem(BSTR sXQL, VARIANT* pItem) override;
  STDMETHODIMP SetConfigurationItem(BSTR sXQL, BSTR sValue, VARIANT_BOOL* pDone) override;
  STDMETHODIMP UpdateActions(IDispatch** oActions) override;
  STDMETHODIMP DeleteConfigurationItem(BSTR sXQL, VARIANT_BOOL* pDone) override;
  STDMETHODIMP UpdateRecognizers(IDispatch** oRecognizers) override;
  STDMETHODIMP GetRecognizers(VARIANT_BOOL bEnabledOnly, _Records** ppList) override;
  STDMETHODIMP GetActions(VARIANT_BOOL bEnabledOnly, _Records** ppList) override;
  STDMETHODIMP Initialize() override;
  STDMETHODIMP HasConfigChanged(VARIANT_BOOL* pChanged) override;
  STDMETHODIMP GetConfigFilePath(BSTR* pPath) override;

 private:
  void ConfigFileLoad();
  // Saves the held document under the save lock, taking it unless `lock` is already held.
  void ConfigFileSave(std::unique_ptr<SaveLock> lock = nullptr);
  // The file as it is now, in a document of its own; raises as ConfigFileLoad does.
  ComPtr<IXMLDOMDocument2> LoadFreshDocument();
  void LoadInto(IXMLDOMDocument2* doc);
  // Inside a catch: the failure goes on with `trace` in front of its source and the file's path
  // after its description.
  [[noreturn]] void PassOnWithPath(const wchar_t* trace);
  // OK in the terms dialog: the user's edits applied to the file as it is, under the save lock.
  void SaveDialogEdits(const TermsDialog& dialog);
  const std::wstring& ConfigFilePath();
  IXMLDOMDocument2* HeldDocument();  // raises when none is held
  // The first node the expression selects in the loaded document, or none.
  ComPtr<IXMLDOMNode> LoadAndSelect(BSTR sXQL);

  // Replaces every `elementName` child of the container at `containerPath` by one element per
  // record, each made by `fill` from a copy of the one before (the first from the document's
  // first element at `elementPath`). Saves nothing.
  using FillElement = std::function<void(IXMLDOMNode* element, IDispatch* record)>;
  void ReplaceElements(IXMLDOMDocument2* doc, IDispatch* records, const wchar_t* elementPath,
                       const wchar_t* containerPath, const wchar_t* elementName,
                       const FillElement& fill);

  MakeTermsDialog m_fnMakeDialog;
  ComPtr<IXMLDOMDocument2> m_oConfigDoc;
  std::wstring m_sConfigFilePath;
  std::wstring m_sLastModified;
};

}  // namespace qp::config
