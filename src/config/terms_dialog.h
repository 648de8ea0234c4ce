// The terms dialog as the configuration store sees it. The store shows it but knows no window:
// the layer that creates the store hands in how to make one, and the dialog gets from the
// store how to make a new term record.
#pragma once

#include <oaidl.h>

#include <memory>

#include "platform/automation.h"

namespace qp {

// A new term record (a RecognizerProps), for the dialog's New.
using NewRecord = ComPtr<IDispatch> (*)();

class TermsDialog {
 public:
  virtual ~TermsDialog() = default;
  // Fills the list from the collection's "LI" records and keeps the collection; reports its own
  // failures.
  virtual void SetData(IDispatch* records) = 0;
  // Modal; returns when the user confirmed or dismissed it.
  virtual void Show() = 0;
  // False only after the user confirmed.
  virtual bool Cancelled() const = 0;
  // The collection SetData kept, with the user's edits.
  virtual ComPtr<IDispatch> GetItems() const = 0;
  virtual void Unload() = 0;
};

using MakeTermsDialog = std::unique_ptr<TermsDialog> (*)(NewRecord newRecord);

}  // namespace qp
