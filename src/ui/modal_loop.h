// A form shown modally on its thread, as Visual Basic's Show vbModal does.
#pragma once

#include <windows.h>

#include <functional>

namespace qp::ui {

// Shows `form` and runs its messages until it is hidden or destroyed. Meanwhile the thread's
// other windows take no input and the form is the active one (the owner of the error boxes);
// both are restored afterwards. `activated` runs once the form is shown; `previewKey` sees each
// message before the form does (KeyPreview). A WM_QUIT that arrives meanwhile ends the loop and
// is posted again for the loop that owns the thread.
void RunModal(HWND form, const std::function<void()>& activated,
              const std::function<void(const MSG&)>& previewKey);

}  // namespace qp::ui
