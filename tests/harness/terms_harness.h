// The configuration store's terms as other processes and damaged files put them before it:
// a terms dialog without a window that presses OK with given edits, and files in place of the
// user's configuration that are damaged or hostile, each with what the store must answer.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/terms_dialog.h"

namespace qp::harness {

using config::TermEdit;
using config::TermsDialog;

// OK pressed at once on the records the store handed in, with `edits` as the user's; `beforeOk`
// runs first (another process saving meanwhile). An OK the store refuses (it told the user)
// leaves the dialog open: `afterRefusal` runs and OK is pressed once more.
class ScriptedTermsDialog final : public TermsDialog {
 public:
  static inline std::vector<TermEdit> edits;
  static inline std::function<void()> beforeOk, afterRefusal;
  static inline int shown = 0, refused = 0;  // dialogs opened, OKs refused
  static std::unique_ptr<TermsDialog> Make(config::NewRecord) {
    return std::make_unique<ScriptedTermsDialog>();
  }
  static void Reset(std::vector<TermEdit> userEdits = {}) {
    edits = std::move(userEdits);
    beforeOk = afterRefusal = nullptr;
    shown = refused = 0;
  }

  void SetData(IDispatch* records) override { records_ = records; }
  void Show(const std::function<bool()>& confirm) override;
  bool Cancelled() const override { return !confirmed_; }
  ComPtr<IDispatch> GetItems() const override { return records_; }
  std::vector<TermEdit> GetEdits() const override { return edits; }
  void Unload() override {}

 private:
  ComPtr<IDispatch> records_;
  bool confirmed_ = false;
};

// A term the user added, and one of the terms that came renamed, checked otherwise or deleted.
TermEdit Added(const std::wstring& text, bool enabled = true);
TermEdit Changed(const std::wstring& term, const std::wstring& text, bool enabled,
                 bool checkChanged = false);
TermEdit Deleted(const std::wstring& term);

enum class StoreAnswer {
  kReads,         // read as the parser reads it
  kMalformed,     // 0x80040205 with the parser's reason
  kDocumentType,  // 0x80040205 for its document type declaration, before the parser sees it
};
struct DamagedConfig {
  std::string name;
  std::string bytes;
  StoreAnswer answer;
};
// About sixty files: cut short, bytes flipped, other encodings, odd structure, huge and deep
// documents, entity expansion and external entities in every encoding and place. Made from the
// default document the running module carries.
std::vector<DamagedConfig> DamagedConfigs();

}  // namespace qp::harness
