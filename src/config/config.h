// The configuration store as the rest of the server reaches it.
#pragma once

#include <windows.h>

namespace qp {

// A new SmartTagConfig; the user's configuration file exists once it has been created.
// (Also declared in com/classes.h beside the other classes' creation functions.)
HRESULT CreateSmartTagConfig(REFIID iid, void** out);

// Empty record collections and records, for those who build term lists themselves.
HRESULT CreateRecords(REFIID iid, void** out);
HRESULT CreateRecognizerProps(REFIID iid, void** out);
HRESULT CreateActionProps(REFIID iid, void** out);

}  // namespace qp
