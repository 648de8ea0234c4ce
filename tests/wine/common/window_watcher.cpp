#include "window_watcher.h"

#include <algorithm>
#include <memory>

namespace qp::test {
namespace {

std::wstring WithoutAmpersand(std::wstring s) {
  s.erase(std::remove(s.begin(), s.end(), L'&'), s.end());
  return s;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

struct Children {
  std::vector<HWND> list;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
  reinterpret_cast<Children*>(param)->list.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND dialog) {
  Children children;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children.list;
}

struct TopLevel {
  DWORD pid;
  std::vector<HWND> list;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
  auto* top = reinterpret_cast<TopLevel*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == top->pid && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770")
    top->list.push_back(hwnd);
  return TRUE;
}

}  // namespace

std::wstring WindowText(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  s.resize(static_cast<size_t>(GetWindowTextW(hwnd, s.data(), n + 1)));
  return s;
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

std::vector<SeenWindow> WindowWatcher::Seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

bool WindowWatcher::WaitFor(size_t count, DWORD timeoutMs) const {
  for (DWORD waited = 0;; waited += 20) {
    {
      std::lock_guard lock(mutex_);
      if (seen_.size() >= count) return true;
    }
    if (waited >= timeoutMs) return false;
    Sleep(20);
  }
}

void WindowWatcher::Run() {
  while (WaitForSingleObject(stop_, 20) == WAIT_TIMEOUT) {
    TopLevel top{GetCurrentProcessId(), {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&top));
    // Forget windows that are gone, so that a new window with a reused handle counts.
    handled_.erase(std::remove_if(handled_.begin(), handled_.end(),
                                  [](HWND h) { return !IsWindow(h); }),
                   handled_.end());
    for (HWND hwnd : top.list) {
      if (std::find(handled_.begin(), handled_.end(), hwnd) != handled_.end()) continue;
      Sleep(50);  // let the window finish laying itself out
      SeenWindow seen = ReadWindow(hwnd);
      handled_.push_back(hwnd);
      {
        std::lock_guard lock(mutex_);
        seen_.push_back(seen);
      }
      std::wstring button = answer_(seen);
      if (!button.empty()) PressButton(hwnd, button);
    }
  }
}

}  // namespace qp::test
