// Creation functions of the server's classes, for the class factory and for one another.
#pragma once

#include <windows.h>

namespace qp {

HRESULT CreateRecognizer(REFIID iid, void** out);
HRESULT CreateAction(REFIID iid, void** out);
HRESULT CreateController(REFIID iid, void** out);
HRESULT CreateSmartTagConfig(REFIID iid, void** out);

}  // namespace qp
