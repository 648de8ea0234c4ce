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
  explicit DialogDriver(HWND dialog);

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

  // Keyboard: to whichever control has the focus.
  void Key(WORD vk);
  // The in-place editor of the item being edited (waits for it), or null.
  HWND WaitForEditor(DWORD timeoutMs = 5000) const;
  // Types into the editor and ends the edit with Enter (or abandons it with Esc).
  void Type(const std::wstring& text, bool confirm = true);

  // A message box over the dialog, read (waits for it); its hwnd null when none came.
  SeenWindow WaitForMessageBox(DWORD timeoutMs = 5000);
  // The context menu, if one is open.
  HWND OpenMenu() const;

  // Waits until the condition holds; false after the timeout.
  static bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);
  // Gives the dialog's thread time to handle what was posted (for "nothing happens" checks).
  static void Settle() { Sleep(300); }

 private:
  void PostClick(HWND target, POINT at, bool right);
  RECT ItemRect(int item, int part) const;
  HWND dialog_, list_, header_;
  std::vector<HWND> seenBoxes_;
};

// Finds the visible dialog of this process with that caption (waits for it), or null.
HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs = 10000);

// Runs `show` on this thread (it returns when the dialog is closed) while `script` drives the
// dialog from another; the script is expected to close it. A dialog the script left open is a
// failure and is cancelled.
void RunDialog(const std::wstring& caption, const std::function<void()>& show,
               const std::function<void(DialogDriver&)>& script);

}  // namespace qp::test
