// The configuration store as the rest of the server reaches it.
#pragma once

#include <windows.h>

#include "config/terms_dialog.h"

namespace qp::config {

// A new SmartTagConfig; the user's configuration file exists once it has been created. Its
// VisualConfig shows the dialog that makeDialog makes (none: it answers E_NOTIMPL).
HRESULT CreateSmartTagConfig(MakeTermsDialog makeDialog, REFIID iid, void** out) noexcept;

// Empty record collections and records, for those who build term lists themselves.
HRESULT CreateRecords(REFIID iid, void** out) noexcept;
HRESULT CreateRecognizerProps(REFIID iid, void** out) noexcept;
HRESULT CreateActionProps(REFIID iid, void** out) noexcept;
// A new term record, empty.
ComPtr<IDispatch> NewRecognizerRecord();

}  // namespace qp::config
