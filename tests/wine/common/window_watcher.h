// Answers the process's real message boxes and dialogs from outside, as a person would: a
// watcher thread finds each new top-level dialog window, reads its title, text and buttons,
// and lets the test decide which button to press. Every wait here is bounded and names what it
// waited for; a box nobody can answer is closed and fails the test instead of hanging it.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <mutex>
#include <source_location>
#include <string>
#include <thread>
#include <vector>

#include "wine_test_env.h"

namespace qp::test {

// How long a wait for something that is bound to come lasts before it fails. A wait ends as
// soon as its condition holds, so this costs nothing when all is well; it is long because on a
// fully loaded machine a Wine window can take seconds to come.
inline constexpr DWORD kPatience = 20000;

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
  // Presses `button` on a question (a box with Yes) and OK on anything else.
  static Answer Question(std::wstring button);
  ~WindowWatcher();
  WindowWatcher(const WindowWatcher&) = delete;
  WindowWatcher& operator=(const WindowWatcher&) = delete;

  std::vector<SeenWindow> Seen() const;
  // Waits until `count` windows were seen; a failure after the timeout.
  bool WaitFor(size_t count, DWORD timeoutMs = kPatience) const;

 private:
  void Run();
  Answer answer_;
  mutable std::mutex mutex_;
  std::vector<SeenWindow> seen_;
  std::vector<HWND> handled_;
  HANDLE stop_;
  std::thread thread_;
};

// A failure for each window the watcher saw.
void ExpectNoBoxes(const WindowWatcher& watcher);
// A box as the product shows it: titled "Quillpoint Smart Tag", with the text and the buttons.
// A failure names the caller's line.
void ExpectBox(const SeenWindow& w, const std::wstring& text,
               const std::vector<std::wstring>& buttons = {L"OK"},
               std::source_location caller = std::source_location::current());
// The error prompt: the failure's description, an empty line, message 111, Yes and No.
void ExpectPrompt(const SeenWindow& w, const std::wstring& description,
                  std::source_location caller = std::source_location::current());

// Reads a dialog window as the watcher does. A dialog is shown only once it has set up its
// texts and buttons (a message box in its WM_INITDIALOG), so a visible one is read at once.
SeenWindow ReadWindow(HWND hwnd);
// "title": "text" [buttons], for failure messages.
std::wstring Describe(const SeenWindow& w);
// Presses the button with that caption ('&' ignored); false when there is none.
bool PressButton(HWND dialog, const std::wstring& caption);
// A window's text, class and descendants; none of them waits for the window's thread.
std::wstring WindowText(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
std::vector<HWND> ChildrenOf(HWND window);
// Closes a window as a person who does not want it would: Esc on a menu; Cancel, No or OK on a
// dialog, else the close box.
void Dismiss(HWND window);
// The visible top-level windows of this process, read and then closed (for clean-up after a
// failure).
std::vector<SeenWindow> CloseOpenWindows();
// The visible top-level windows of this process in z-order, of the classes given (all when none
// is): dialogs and message boxes, menus.
inline constexpr wchar_t kDialogClass[] = L"#32770", kMenuClass[] = L"#32768";
std::vector<HWND> OpenWindows(std::initializer_list<const wchar_t*> classes = {});

// Waits until the condition holds; after the timeout a failure naming `what` and false.
bool WaitUntil(const std::string& what, const std::function<bool()>& condition,
               DWORD timeoutMs = kPatience);

// What the program is doing, for the watchdog's report: the running test and the wait it is in.
void SetActivity(const std::string& test);
std::string Activity();
// Marks a wait as the one the program is in while it lasts.
class Awaiting {
 public:
  explicit Awaiting(const std::string& what);
  ~Awaiting();
  Awaiting(const Awaiting&) = delete;
  Awaiting& operator=(const Awaiting&) = delete;

 private:
  std::string previous_;
};

}  // namespace qp::test
