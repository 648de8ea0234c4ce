// Answers the process's real message boxes and dialogs from outside, as a person would: a
// watcher thread finds each new top-level dialog window, reads its title, text and buttons,
// and lets the test decide which button to press.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qp::test {

struct SeenWindow {
  HWND hwnd = nullptr;
  std::wstring title;
  std::wstring text;                  // the message box's text (all static texts, joined)
  std::vector<std::wstring> buttons;  // captions in tab order, '&' removed
  DWORD style = 0;
};

// What to do with a window: the caption of the button to press ('&' ignored), or empty to
// leave the window to the callback itself (it may drive it and close it).
using Answer = std::function<std::wstring(const SeenWindow&)>;

class WindowWatcher {
 public:
  explicit WindowWatcher(Answer answer);
  // Presses `button` on every window.
  static Answer Always(std::wstring button);
  // Presses the given buttons on the windows in turn (the last one again after that).
  static Answer InTurn(std::vector<std::wstring> buttons);
  ~WindowWatcher();
  WindowWatcher(const WindowWatcher&) = delete;
  WindowWatcher& operator=(const WindowWatcher&) = delete;

  std::vector<SeenWindow> Seen() const;
  // Waits (up to timeoutMs) until `count` windows were seen.
  bool WaitFor(size_t count, DWORD timeoutMs = 10000) const;

 private:
  void Run();
  Answer answer_;
  mutable std::mutex mutex_;
  std::vector<SeenWindow> seen_;
  std::vector<HWND> handled_;
  HANDLE stop_;
  std::thread thread_;
};

// Reads a dialog window as the watcher does.
SeenWindow ReadWindow(HWND hwnd);
// Presses the button with that caption ('&' ignored); false when there is none.
bool PressButton(HWND dialog, const std::wstring& caption);
std::wstring WindowText(HWND hwnd);

}  // namespace qp::test
