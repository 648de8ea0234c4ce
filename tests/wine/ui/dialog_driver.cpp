#include "dialog_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace qp::test {
namespace {

// How long a wait lasts once something has failed: what a faulty dialog still owes either comes
// at once or not at all.
constexpr DWORD kAfterFailure = 5000;
DWORD Patience() {
  return ::testing::Test::HasFailure() ? kAfterFailure : kPatience;
}

constexpr UINT kMarker = WM_APP + 0x51;
std::atomic<long> g_markersHandled{0};

// A message-only window on the dialog's thread: a marker posted to it is handled by whatever
// loop runs there (the dialog's, a message box's) after everything posted before it.
LRESULT CALLBACK MarkerProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kMarker) return DefWindowProcW(hwnd, message, wparam, lparam);
  ++g_markersHandled;
  return 0;
}

HWND NewMarker() {
  WNDCLASSW c = {};
  c.lpfnWndProc = MarkerProc;
  c.hInstance = GetModuleHandleW(nullptr);
  c.lpszClassName = L"QpTestMarker";
  RegisterClassW(&c);
  return CreateWindowW(c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance,
                       nullptr);
}

}  // namespace

DialogDriver::DialogDriver(HWND dialog, HWND marker, const std::atomic<bool>& returned)
    : dialog_(dialog),
      list_(FindWindowExW(dialog, nullptr, WC_LISTVIEWW, nullptr)),
      header_(list_ ? ListView_GetHeader(list_) : nullptr),
      marker_(marker),
      returned_(returned) {}

int DialogDriver::Count() {
  if (unsettled_) Sync();
  return ListView_GetItemCount(list_);
}

std::wstring DialogDriver::Text(int item) {
  if (unsettled_) Sync();
  wchar_t buffer[512] = {};
  ListView_GetItemText(list_, item, 0, buffer, 512);
  return buffer;
}

std::vector<std::wstring> DialogDriver::Texts() {
  std::vector<std::wstring> texts;
  for (int i = 0; i < Count(); ++i)
    texts.push_back(Text(i));
  return texts;
}

std::vector<bool> DialogDriver::Checks() {
  std::vector<bool> checks;
  for (int i = 0; i < Count(); ++i)
    checks.push_back(ListView_GetCheckState(list_, i) != 0);
  return checks;
}

int DialogDriver::Selected() {
  if (unsettled_) Sync();
  return ListView_GetNextItem(list_, -1, LVNI_SELECTED);
}

bool DialogDriver::Enabled(int controlId) {
  if (unsettled_) Sync();
  return IsWindowEnabled(Control(controlId)) != FALSE;
}

HWND DialogDriver::Focus() {
  if (unsettled_) Sync();
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &info);
  return info.hwndFocus;
}

HDITEMW DialogDriver::HeaderItem() {
  if (unsettled_) Sync();
  HDITEMW item = {};
  item.mask = HDI_IMAGE | HDI_FORMAT;
  Header_GetItem(header_, 0, &item);
  return item;
}

void DialogDriver::Post(HWND target, UINT message, WPARAM wparam, LPARAM lparam) {
  unsettled_ = true;
  PostMessageW(target, message, wparam, lparam);
}

void DialogDriver::PostClick(HWND target, POINT at, bool right) {
  const LPARAM point = MAKELPARAM(at.x, at.y);
  Post(target, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON, point);
  Post(target, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, point);
}

void DialogDriver::PostKey(HWND target, WORD vk, bool up) {
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
  Post(target, up ? WM_KEYUP : WM_KEYDOWN, vk, 1 | scan | (up ? 0xC0000000 : 0));
}

RECT DialogDriver::ItemRect(int item, int part) const {
  RECT r = {};
  r.left = part;
  SendMessageW(list_, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r));
  return r;
}

void DialogDriver::Click(int controlId) {
  Sync();
  Post(Control(controlId), BM_CLICK, 0, 0);
}

void DialogDriver::ClickItem(int item, bool right) {
  Sync();
  RECT r = ItemRect(item, LVIR_LABEL);
  PostClick(list_, {r.left + 4, (r.top + r.bottom) / 2}, right);
}

bool DialogDriver::Select(int item) {
  ClickItem(item);
  if (!Sync()) return false;
  EXPECT_EQ(Selected(), item) << "the item clicked is not the selected one";
  return Selected() == item;
}

void DialogDriver::ClickCheckBox(int item) {
  Sync();
  // The check box is the state image, left of the item's label.
  RECT bounds = ItemRect(item, LVIR_BOUNDS), label = ItemRect(item, LVIR_ICON);
  LVHITTESTINFO hit = {};
  for (int x = bounds.left; x < label.right + 20; ++x) {
    hit.pt = {x, (bounds.top + bounds.bottom) / 2};
    ListView_HitTest(list_, &hit);
    if (hit.flags & LVHT_ONITEMSTATEICON) break;
  }
  ASSERT_TRUE(hit.flags & LVHT_ONITEMSTATEICON) << "no check box found for item " << item;
  PostClick(list_, hit.pt, false);
}

void DialogDriver::ClickBelowItems(bool right) {
  Sync();
  RECT client;
  GetClientRect(list_, &client);
  PostClick(list_, {client.right / 2, client.bottom - 5}, right);
}

void DialogDriver::ClickHeader() {
  Sync();
  RECT r = {};
  Header_GetItemRect(header_, 0, &r);
  PostClick(header_, {(r.left + r.right) / 2, (r.top + r.bottom) / 2}, false);
}

void DialogDriver::CloseBox() {
  Sync();
  Post(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void DialogDriver::Key(WORD vk) {
  Sync();  // an edit that just ended may hold the focus until the dialog has handled it
  HWND target = Focus() ? Focus() : dialog_;
  PostKey(target, vk, false);
  PostKey(target, vk, true);
}

HWND DialogDriver::WaitForEditor() {
  HWND editor = nullptr;
  Await("the in-place editor",
        [&] { return (editor = ListView_GetEditControl(list_)) != nullptr; });
  return editor;
}

void DialogDriver::Type(const std::wstring& text, bool confirm) {
  HWND editor = WaitForEditor();
  if (!editor) return;
  // The editor starts with the whole old text selected: typing replaces it.
  for (wchar_t c : text)
    Post(editor, WM_CHAR, c, 1);
  PostKey(editor, confirm ? VK_RETURN : VK_ESCAPE, false);
  // The edit ends, or a message about it comes first (for the script to claim): the list
  // reports the edit's end while its editor is still there.
  WaitUntil(
      "the edit to end", [&] { return NewBox() || !IsWindow(editor); }, Patience());
}

HWND DialogDriver::NewBox() const {
  for (HWND w : OpenWindows({kDialogClass}))
    if (w != dialog_ && std::find(claimed_.begin(), claimed_.end(), w) == claimed_.end()) return w;
  return nullptr;
}

bool DialogDriver::Await(const std::string& what, const std::function<bool()>& condition,
                         DWORD timeoutMs) {
  bool failed = false;
  const bool ended = WaitUntil(
      what,
      [&] {
        if (HWND box = NewBox()) {
          claimed_.push_back(box);
          ADD_FAILURE() << "while waiting for " << what << ", a message box came and was closed: "
                        << Narrow(Describe(ReadWindow(box)));
          Dismiss(box);
          return failed = true;
        }
        if (condition()) return true;
        // Nothing the script waits for comes from a dialog that has closed (unless it came with
        // the close).
        if (!returned_ && IsWindowVisible(dialog_)) return false;
        if (condition()) return true;
        ADD_FAILURE() << "the dialog closed while waiting for " << what;
        return failed = true;
      },
      std::min(timeoutMs, Patience()));
  return ended && !failed;
}

bool DialogDriver::Sync(const std::string& what) {
  unsettled_ = false;
  // Twice: what the dialog posts to itself while it handles the input comes after the first.
  for (int round = 0; round < 2; ++round) {
    const long target = g_markersHandled + 1;
    PostMessageW(marker_, kMarker, 0, 0);
    if (!Await(what, [&] { return g_markersHandled >= target; })) return false;
  }
  // A repaint comes only once no input is left, after the markers; and the dialog's repaint
  // changes the selection. It has been handled when the dialog has nothing left to paint.
  return Await(what + " and repaint itself",
               [&] { return !GetUpdateRect(dialog_, nullptr, FALSE); });
}

void DialogDriver::ExpectError(const std::wstring& text, std::source_location caller) {
  HWND box = nullptr;
  const std::string what =
      "the message \"" + Narrow(text) + "\" for line " + std::to_string(caller.line());
  if (!WaitUntil(
          what, [&] { return (box = NewBox()) != nullptr; }, Patience()))
    return;
  claimed_.push_back(box);
  ExpectBox(ReadWindow(box), text, {L"OK"}, caller);
  PressButton(box, L"OK");
  unsettled_ = true;  // what was behind the box is painted again
  WaitUntil(
      "the message box to close", [&] { return !IsWindow(box); }, Patience());
}

void RunDialog(const std::wstring& caption, const std::function<void()>& show,
               const std::function<void(DialogDriver&)>& script) {
  const HWND marker = NewMarker();
  std::atomic<bool> returned{false};
  const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread driver([&] {
    HWND dialog = nullptr, box = nullptr;
    std::vector<HWND> closed;  // reported and closed already
    auto close = [&](HWND w, const char* why) {
      closed.push_back(w);
      ADD_FAILURE() << why << Narrow(Describe(ReadWindow(w)));
      Dismiss(w);
    };
    {
      Awaiting awaiting("the dialog \"" + Narrow(caption) + "\"");
      for (DWORD start = GetTickCount(); !dialog && !box && !returned; Sleep(20)) {
        for (HWND w : OpenWindows({kDialogClass}))
          (FindWindowExW(w, nullptr, WC_LISTVIEWW, nullptr) ? dialog : box) = w;
        if (GetTickCount() - start >= 10000) break;
      }
    }
    if (dialog) {
      DialogDriver d(dialog, marker, returned);
      // Shown is not ready: input that came before its first paint would be undone by it.
      d.Sync("the dialog to handle its showing");
      EXPECT_EQ(WindowText(dialog), caption) << "the dialog's caption";
      script(d);
      // A script that stopped at a failure left the dialog open: it is closed below. A box that
      // came first is closed, and the dialog may still close by itself after it.
      for (size_t boxes = d.Claimed().size();
           !::testing::Test::HasFatalFailure() &&
           !d.Await("the dialog to close", [&] { return !IsWindowVisible(dialog); }) &&
           d.Claimed().size() > boxes;)
        boxes = d.Claimed().size();
      closed = d.Claimed();
    } else if (box) {
      close(box, "a message box came instead of the dialog: ");
    } else {
      ADD_FAILURE() << (returned ? "the call returned without showing the dialog"
                                 : "the dialog did not open within 10 s");
    }
    // Until the call returns, whatever is open is closed: the dialog the script left open, a
    // box or a menu after it, a dialog that came late. A call that never returns holds the
    // test's thread: the program's watchdog ends it, naming this wait.
    Awaiting awaiting("the call that showed the dialog to return");
    for (; !returned; Sleep(20))
      for (HWND w : OpenWindows({kDialogClass, kMenuClass}))
        if (std::find(closed.begin(), closed.end(), w) == closed.end())
          close(w, "closed a window left open: ");
    SetEvent(done);
  });
  show();
  returned = true;
  // The script may still be reading the dialog, which asks this thread: keep answering until it
  // has finished (its own waits are bounded).
  MSG msg;
  while (MsgWaitForMultipleObjects(1, &done, FALSE, kPatience, QS_ALLINPUT) != WAIT_OBJECT_0)
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  driver.join();
  CloseHandle(done);
  DestroyWindow(marker);
}

}  // namespace qp::test
