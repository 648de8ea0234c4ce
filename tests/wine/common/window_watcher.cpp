#include "window_watcher.h"

#include <gtest/gtest.h>

#include "wine_test_env.h"

#include <algorithm>
#include <memory>

namespace qp::test {
namespace {

std::wstring WithoutAmpersand(std::wstring s) {
  s.erase(std::remove(s.begin(), s.end(), L'&'), s.end());
  return s;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd))
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

std::mutex g_activityMutex;
std::string g_test = "(before the first test)", g_awaiting;

}  // namespace

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::vector<HWND> ChildrenOf(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

std::string Narrow(const std::wstring& s) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring WindowText(HWND hwnd) {
  // Read as stored, not asked for with WM_GETTEXT: the window's thread may be one that no longer
  // answers (a test's thread waiting for this one), and the read must not wait for it.
  std::wstring s(256, L'\0');
  for (int n;; s.resize(s.size() * 2)) {
    n = InternalGetWindowText(hwnd, s.data(), static_cast<int>(s.size()));
    if (n < static_cast<int>(s.size()) - 1) {
      s.resize(static_cast<size_t>(n));
      return s;
    }
  }
}

SeenWindow ReadWindow(HWND hwnd) {
  SeenWindow w;
  w.hwnd = hwnd;
  w.title = WindowText(hwnd);
  w.style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
  for (HWND child : ChildrenOf(hwnd)) {
    if (GetParent(child) != hwnd || !IsWindowVisible(child)) continue;
    std::wstring cls = ClassOf(child);
    if (cls == L"Static") {
      std::wstring text = WindowText(child);
      if (text.empty()) continue;
      if (!w.text.empty()) w.text += L"\n";
      w.text += text;
    } else if (cls == L"Button") {
      w.buttons.push_back(WithoutAmpersand(WindowText(child)));
    }
  }
  return w;
}

void ExpectBox(const SeenWindow& w, const std::wstring& text,
               const std::vector<std::wstring>& buttons, std::source_location caller) {
  const ::testing::ScopedTrace at(caller.file_name(), static_cast<int>(caller.line()),
                                  "the box expected here");
  EXPECT_EQ(w.title, L"Quillpoint Smart Tag");
  EXPECT_EQ(w.text, text);
  EXPECT_EQ(w.buttons, buttons);
}

void ExpectPrompt(const SeenWindow& w, const std::wstring& description,
                  std::source_location caller) {
  ExpectBox(w, description + L"\r\n\r\n" + Message(111, L""), {L"Yes", L"No"}, caller);
}

void ExpectNoBoxes(const WindowWatcher& watcher) {
  for (const SeenWindow& w : watcher.Seen())
    ADD_FAILURE() << "a box came up: " << Narrow(Describe(w));
}

std::wstring Describe(const SeenWindow& w) {
  std::wstring s = L"\"" + w.title + L"\": \"" + w.text + L"\" [";
  for (size_t i = 0; i < w.buttons.size(); ++i)
    s += (i ? L"|" : L"") + w.buttons[i];
  return s + L"]";
}

bool PressButton(HWND dialog, const std::wstring& caption) {
  const std::wstring wanted = WithoutAmpersand(caption);
  for (HWND child : ChildrenOf(dialog)) {
    if (ClassOf(child) != L"Button" || WithoutAmpersand(WindowText(child)) != wanted) continue;
    // What a click on the button sends its dialog.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(child), BN_CLICKED),
                 reinterpret_cast<LPARAM>(child));
    return true;
  }
  return false;
}

void Dismiss(HWND window) {
  if (ClassOf(window) == kMenuClass) {  // a menu: Esc, as its modal loop reads it
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    return;
  }
  for (const wchar_t* button : {L"Cancel", L"No", L"OK"})
    if (PressButton(window, button)) return;
  PostMessageW(window, WM_CLOSE, 0, 0);
}

std::vector<HWND> OpenWindows(std::initializer_list<const wchar_t*> classes) {
  std::vector<HWND> all, list;
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&all));
  for (HWND w : all)
    if (!classes.size() || std::find(classes.begin(), classes.end(), ClassOf(w)) != classes.end())
      list.push_back(w);
  return list;
}

std::vector<SeenWindow> CloseOpenWindows() {
  std::vector<SeenWindow> closed;
  for (HWND hwnd : OpenWindows()) {
    closed.push_back(ReadWindow(hwnd));
    Dismiss(hwnd);
  }
  return closed;
}

bool WaitUntil(const std::string& what, const std::function<bool()>& condition, DWORD timeoutMs) {
  Awaiting awaiting(what);
  for (DWORD start = GetTickCount();; Sleep(20)) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) break;
  }
  ADD_FAILURE() << "waited " << timeoutMs << " ms in vain for " << what;
  return false;
}

void SetActivity(const std::string& test) {
  std::lock_guard lock(g_activityMutex);
  g_test = test;
  g_awaiting.clear();
}

std::string Activity() {
  std::lock_guard lock(g_activityMutex);
  return g_test + (g_awaiting.empty() ? "" : ", waiting for " + g_awaiting);
}

Awaiting::Awaiting(const std::string& what) {
  std::lock_guard lock(g_activityMutex);
  previous_ = g_awaiting;
  g_awaiting = what;
}

Awaiting::~Awaiting() {
  std::lock_guard lock(g_activityMutex);
  g_awaiting = previous_;
}

WindowWatcher::WindowWatcher(Answer answer)
    : answer_(std::move(answer)), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  thread_ = std::thread([this] { Run(); });
}

WindowWatcher::~WindowWatcher() {
  SetEvent(stop_);
  thread_.join();
  CloseHandle(stop_);
}

Answer WindowWatcher::Always(std::wstring button) {
  return [button](const SeenWindow&) { return button; };
}

Answer WindowWatcher::InTurn(std::vector<std::wstring> buttons) {
  auto next = std::make_shared<size_t>(0);
  return [buttons, next](const SeenWindow&) {
    size_t i = std::min(*next, buttons.size() - 1);
    ++*next;
    return buttons[i];
  };
}

Answer WindowWatcher::Question(std::wstring button) {
  return [button](const SeenWindow& w) {
    const bool question = std::find(w.buttons.begin(), w.buttons.end(), L"Yes") != w.buttons.end();
    return question ? button : std::wstring(L"OK");
  };
}

std::vector<SeenWindow> WindowWatcher::Seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

bool WindowWatcher::WaitFor(size_t count, DWORD timeoutMs) const {
  return WaitUntil(
      std::to_string(count) + " message box(es)",
      [&] {
        std::lock_guard lock(mutex_);
        return seen_.size() >= count;
      },
      timeoutMs);
}

void WindowWatcher::Run() {
  while (WaitForSingleObject(stop_, 20) == WAIT_TIMEOUT) {
    // Forget windows that are gone, so that a new window with a reused handle counts.
    handled_.erase(
        std::remove_if(handled_.begin(), handled_.end(), [](HWND h) { return !IsWindow(h); }),
        handled_.end());
    for (HWND hwnd : OpenWindows({kDialogClass})) {
      if (std::find(handled_.begin(), handled_.end(), hwnd) != handled_.end()) continue;
      SeenWindow seen = ReadWindow(hwnd);
      handled_.push_back(hwnd);
      {
        std::lock_guard lock(mutex_);
        seen_.push_back(seen);
      }
      std::wstring button = answer_(seen);
      if (button.empty() || PressButton(hwnd, button)) continue;
      // Left open, the box would block the test's thread until the watchdog ends the program.
      ADD_FAILURE() << "a box without the button \"" << Narrow(button)
                    << "\" came and was closed: " << Narrow(Describe(seen));
      Dismiss(hwnd);
    }
  }
}

}  // namespace qp::test
