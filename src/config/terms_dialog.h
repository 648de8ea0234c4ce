// The terms dialog as the configuration store sees it. The store shows it but knows no window:
// the layer that creates the store hands in how to make one, and the dialog gets from the
// store how to make a new term record.
#pragma once

#include <oaidl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace qp::config {

// A new term record (a RecognizerProps), for the dialog's New.
using NewRecord = ComPtr<IDispatch> (*)();

// What the user did to one term in the dialog, for OK to apply to the file as it is then.
struct TermEdit {
  std::wstring term;  // the term as the dialog got it; empty for a term the user added
  bool deleted = false;
  std::wstring text;  // the term's text at OK (renamed when it differs from `term`)
  bool enabled = true;
  bool checkChanged = false;  // checked or unchecked, other than it came
  bool operator==(const TermEdit&) const = default;
};

class TermsDialog {
 public:
  virtual ~TermsDialog() = default;
  // Fills the list from the collection's "LI" records and keeps the collection; reports its own
  // failures.
  virtual void SetData(IDispatch* records) = 0;
  // Modal; returns when the user confirmed or dismissed it. OK runs `confirm` first, with the
  // dialog still shown: when it answers false, the dialog stays as it is.
  virtual void Show(const std::function<bool()>& confirm) = 0;
  // False only after the user confirmed.
  virtual bool Cancelled() const = 0;
  // The collection SetData kept, with the user's edits.
  virtual ComPtr<IDispatch> GetItems() const = 0;
  // The user's edits so far: first the terms that came, in their order, that the user deleted,
  // renamed or checked otherwise; then the terms the user added, in the order they were made.
  virtual std::vector<TermEdit> GetEdits() const = 0;
  virtual void Unload() = 0;
};

using MakeTermsDialog = std::unique_ptr<TermsDialog> (*)(NewRecord newRecord);

}  // namespace qp::config
