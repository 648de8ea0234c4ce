// Uses the terms dialog from outside, as a person would: from a thread of its own it finds the
// window, reads the list, clicks buttons, check boxes and the column header, presses keys and
// types into the in-place editor. Input is posted to the dialog's thread, so it goes through
// the dialog's own message loop exactly as keyboard and mouse input does.
//
// The dialog's thread and the test's run side by side, so every input first waits until the
// dialog has handled the input before it and the repaint that followed (a repaint selects the
// first term, and the focus moves only as the dialog handles input): what an input hits is
// then what the script saw, however loaded the machine is.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "window_watcher.h"

namespace qp::test {

class DialogDriver {
 public:
  // `marker` is a window of the dialog's thread that counts the markers posted to it (Sync).
  DialogDriver(HWND dialog, HWND marker);

  HWND Dialog() const { return dialog_; }
  HWND List() const { return list_; }
  HWND Header() const { return header_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }

  // The list as the user sees it.
  int Count() const;
  std::wstring Text(int item) const;
  std::vector<std::wstring> Texts() const;
  std::vector<bool> Checks() const;
  int Selected() const;  // -1 when nothing is selected
  bool Enabled(int controlId) const { return IsWindowEnabled(Control(controlId)) != FALSE; }
  HWND Focus() const;
  // The column header's image and format bits.
  int HeaderImage() const;
  int HeaderFormat() const;

  // Mouse; each after Sync.
  void Click(int controlId);     // a push button
  void ClickItem(int item);      // the item's text
  void ClickCheckBox(int item);  // the item's check box
  void ClickBelowItems();        // empty space in the list
  void RightClickItem(int item);
  void RightClickBelowItems();
  void ClickHeader();  // the "Terms" column
  void CloseBox();     // the window's close box
  // Clicks the item; true when the dialog has handled it and the item is the selected one.
  bool Select(int item);

  // Keyboard, after Sync: to whichever control has the focus then.
  void Key(WORD vk);
  // The in-place editor of the item being edited (waits for it), or null and a failure.
  HWND WaitForEditor(DWORD timeoutMs = kPatience);
  // Types into the editor and ends the edit with Enter (or abandons it with Esc). Returns once
  // the editor has gone and the dialog has handled the edit, or when a message box came first
  // (for the script to claim).
  void Type(const std::wstring& text, bool confirm = true);

  // Waits until the condition holds. Fails, naming `what`, when it does not in time or when a
  // message box that nobody claimed comes meanwhile (the box is closed).
  bool Await(const std::string& what, const std::function<bool()>& condition,
             DWORD timeoutMs = kPatience);
  // Returns once the dialog's thread has handled all input posted so far, what that input
  // posted in turn and the repaint it caused: the state to check after an input, and for
  // checks that something did not happen. A box that came fails.
  bool Sync();
  // Sync, failing with `what` when the dialog does not answer.
  bool SyncFor(const std::string& what);
  // The next message box (over the dialog or after it), read and claimed; its hwnd null and a
  // failure when none came.
  SeenWindow WaitForMessageBox(DWORD timeoutMs = kPatience);
  // One box titled "Quillpoint Smart Tag" with the text and only OK, which is pressed; once it
  // has gone, Sync when the dialog is still open.
  void ExpectError(const std::wstring& text,
                   std::source_location caller = std::source_location::current());
  // The context menu, if one is open.
  HWND OpenMenu() const;

 private:
  void PostClick(HWND target, POINT at, bool right);
  RECT ItemRect(int item, int part) const;
  HWND NewBox() const;  // a visible box of this process not claimed yet, or null
  HWND dialog_, list_, header_, marker_;
  std::vector<HWND> claimed_;
};

// Runs `show` on this thread (it returns when the dialog is closed) while `script` drives the
// dialog from another; the script is expected to close it. The dialog must come within 10 s,
// before any message box, with the caption given; the script starts once the dialog has
// handled what came with showing it (its first paint). Whatever stays open (the dialog, a box,
// a dialog that came late) is closed as a failure until `show` returns.
void RunDialog(const std::wstring& caption, const std::function<void()>& show,
               const std::function<void(DialogDriver&)>& script);

}  // namespace qp::test
