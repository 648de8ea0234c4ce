// Uses the terms dialog from outside, as a person would: from a thread of its own it finds the
// window, reads the list, clicks and presses keys. Input is posted to the dialog's thread, so it
// goes through the dialog's own message loop as keyboard and mouse input does; each input first
// waits until the dialog has handled the one before and repainted (a repaint selects the first
// term), so what it hits is what the script saw, however loaded the machine is.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "window_watcher.h"

namespace qp::test {

class DialogDriver {
 public:
  // `marker` is a window of the dialog's thread that counts the markers posted to it (Sync);
  // `returned` turns true when the call that showed the dialog has returned.
  DialogDriver(HWND dialog, HWND marker, const std::atomic<bool>& returned);

  HWND Dialog() const { return dialog_; }
  HWND List() const { return list_; }
  HWND Header() const { return header_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }

  // The dialog as the user sees it once it has handled the driver's input (each read Syncs
  // first when there is input not waited for; input the script posts itself is not).
  int Count();
  std::wstring Text(int item);
  std::vector<std::wstring> Texts();
  std::vector<bool> Checks();
  int Selected();  // -1 when nothing is selected
  bool Enabled(int controlId);
  HWND Focus();
  HDITEMW HeaderItem();  // the column's format bits and image
  // The context menu, if one is open; read at once, as a menu holds the dialog's input.
  HWND OpenMenu() const { return FindWindowW(kMenuClass, nullptr); }

  // Mouse and keyboard, each after Sync; keys go to whichever control has the focus then.
  void Click(int controlId);  // a push button
  void ClickItem(int item, bool right = false);
  void ClickCheckBox(int item);
  void ClickBelowItems(bool right = false);  // empty space in the list
  void ClickHeader();                        // the "Terms" column
  void CloseBox();                           // the window's close box
  void Key(WORD vk);
  // Clicks the item; true when the dialog has handled it and the item is the selected one.
  bool Select(int item);
  // The in-place editor of the item being edited (waits for it), or null and a failure.
  HWND WaitForEditor();
  // Types into the editor and ends the edit with Enter (or abandons it with Esc). Returns once
  // the editor has gone, or when a message box came first (for the script to claim).
  void Type(const std::wstring& text, bool confirm = true);

  // Waits until the condition holds. Fails, naming `what`, when it does not in time, when the
  // dialog has closed, or when a message box that nobody claimed comes (the box is closed).
  bool Await(const std::string& what, const std::function<bool()>& condition,
             DWORD timeoutMs = kPatience);
  // Returns once the dialog's thread has handled all input posted so far, what that input
  // posted in turn and the repaint it caused: the state to check after an input, and for checks
  // that something did not happen. A box that came fails; `what` names the wait.
  bool Sync(const std::string& what = "the dialog to handle the input");
  // One box titled "Quillpoint Smart Tag" with the text and only OK, which is pressed; returns
  // once it has gone.
  void ExpectError(const std::wstring& text,
                   std::source_location caller = std::source_location::current());
  // The boxes the script has read and closed.
  const std::vector<HWND>& Claimed() const { return claimed_; }

 private:
  void Post(HWND target, UINT message, WPARAM wparam, LPARAM lparam);  // input a read syncs for
  void PostClick(HWND target, POINT at, bool right);
  void PostKey(HWND target, WORD vk, bool up);
  RECT ItemRect(int item, int part) const;
  HWND NewBox() const;  // a visible box of this process not claimed yet, or null
  HWND dialog_, list_, header_, marker_;
  const std::atomic<bool>& returned_;
  std::vector<HWND> claimed_;
  bool unsettled_ = false;  // input was posted since the last Sync
};

// Runs `show` on this thread (it returns when the dialog is closed) while `script` drives the
// dialog from another; the script is expected to close it. The dialog must come within 10 s,
// before any message box, with the caption given; the script starts once the dialog has
// handled its first paint. Whatever stays open is closed as a failure until `show` returns.
// Once something has failed, each further wait is short: a faulty dialog fails fast.
void RunDialog(const std::wstring& caption, const std::function<void()>& show,
               const std::function<void(DialogDriver&)>& script);

}  // namespace qp::test
