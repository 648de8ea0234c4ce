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

  STDMETHODIMP VisualConfig() noexcept override;
  STDMETHODIMP GetConfigurationItem(BSTR sXQL, VARIANT* pItem) noexcept override;
  STDMETHODIMP SetConfigurationItem(BSTR sXQL, BSTR sValue, VARIANT_BOOL* pDone) noexcept override;
  STDMETHODIMP UpdateActions(IDispatch** oActions) noexcept override;
  STDMETHODIMP DeleteConfigurationItem(BSTR sXQL, VARIANT_BOOL* pDone) noexcept override;
  STDMETHODIMP UpdateRecognizers(IDispatch** oRecognizers) noexcept override;
  STDMETHODIMP GetRecognizers(VARIANT_BOOL bEnabledOnly, _Records** ppList) noexcept override;
  STDMETHODIMP GetActions(VARIANT_BOOL bEnabledOnly, _Records** ppList) noexcept override;
  STDMETHODIMP Initialize() noexcept override;
  STDMETHODIMP HasConfigChanged(VARIANT_BOOL* pChanged) noexcept override;
  STDMETHODIMP GetConfigFilePath(BSTR* pPath) noexcept override;

 private:
  void ConfigFileLoad();
  // Saves the held document under the save lock, taking it unless `lock` is already held.
  void ConfigFileSave(std::unique_ptr<SaveLock> lock = nullptr);
  // The file as it is now, in a document of its own; raises as ConfigFileLoad does.
  ComPtr<IXMLDOMDocument2> LoadFreshDocument();
  // A new document in `doc`, loaded from the file; `doc` holds it also when the load fails,
  // which goes on with the file's path after its description.
  void LoadInto(ComPtr<IXMLDOMDocument2>& doc);
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
