// Uses the terms dialog from outside, as a person would: from a thread of its own it finds the
// window, reads the list, clicks buttons, check boxes and the column header, presses keys and
// types into the in-place editor. Input is posted to the dialog's thread, so it goes through
// the dialog's own message loop exactly as keyboard and mouse input does.
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

  HWND dialog() const { return dialog_; }
  HWND list() const { return list_; }
  HWND header() const { return header_; }
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

  // Mouse.
  void Click(int controlId);            // a push button
  void ClickItem(int item);             // the item's text
  void ClickCheckBox(int item);         // the item's check box
  void ClickBelowItems();               // empty space in the list
  void RightClickItem(int item);
  void RightClickBelowItems();
  void ClickHeader();                   // the "Terms" column
  void CloseBox();                      // the window's close box
  // Clicks the item and waits until it is the selected one.
  bool Select(int item);

  // Keyboard: to whichever control has the focus.
  void Key(WORD vk);
  // The in-place editor of the item being edited (waits for it), or null and a failure.
  HWND WaitForEditor(DWORD timeoutMs = 5000);
  // Types into the editor and ends the edit with Enter (or abandons it with Esc).
  void Type(const std::wstring& text, bool confirm = true);

  // Waits until the condition holds. Fails, naming `what`, when it does not in time or when a
  // message box that nobody claimed comes meanwhile (the box is closed).
  bool Await(const std::string& what, const std::function<bool()>& condition,
             DWORD timeoutMs = 5000);
  // Returns once the dialog's thread has handled all input posted so far and what that input
  // posted in turn: for checks that something did not happen. A box that came fails.
  bool Sync();
  // The next message box (over the dialog or after it), read and claimed; its hwnd null and a
  // failure when none came.
  SeenWindow WaitForMessageBox(DWORD timeoutMs = 5000);
  // One box titled "Quillpoint Smart Tag" with the text and only OK, which is pressed.
  void ExpectError(const std::wstring& text);
  // The context menu, if one is open.
  HWND OpenMenu() const;

  // Waits until the condition holds (a failure after the timeout); and gives the dialog's thread
  // time to handle what was posted. Sync and Await are the ones that see a box that came.
  static bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    return qp::test::WaitUntil("the dialog's state", condition, timeoutMs);
  }
  static void Settle() { Sleep(300); }

 private:
  void PostClick(HWND target, POINT at, bool right);
  RECT ItemRect(int item, int part) const;
  HWND NewBox() const;  // a visible box of this process not claimed yet, or null
  HWND dialog_, list_, header_, marker_;
  std::vector<HWND> claimed_;
};

// Runs `show` on this thread (it returns when the dialog is closed) while `script` drives the
// dialog from another; the script is expected to close it. The dialog must come within 10 s,
// before any message box, with the caption given. Whatever stays open (the dialog, a box,
// a dialog that came late) is closed as a failure until `show` returns.
void RunDialog(const std::wstring& caption, const std::function<void()>& show,
               const std::function<void(DialogDriver&)>& script);

}  // namespace qp::test
