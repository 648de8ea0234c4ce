// Creation functions of the server's classes, for the class factory and for one another.
#pragma once

#include <windows.h>

namespace qp {

HRESULT CreateRecognizer(REFIID iid, void** out);
HRESULT CreateAction(REFIID iid, void** out);
// The Controller with the terms dialog: the engine and the store below it know no window.
HRESULT CreateController(REFIID iid, void** out);

}  // namespace qp
