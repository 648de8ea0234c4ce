#include "dialog_driver.h"

#include <gtest/gtest.h>

#include <thread>

namespace qp::test {
namespace {

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

struct Search {
  std::wstring caption;
  std::wstring windowClass;
  HWND owner = nullptr;
  HWND found = nullptr;
  const std::vector<HWND>* skip = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
  if (ClassOf(hwnd) != search->windowClass) return TRUE;
  if (!search->caption.empty() && WindowText(hwnd) != search->caption) return TRUE;
  if (search->owner && GetWindow(hwnd, GW_OWNER) != search->owner) return TRUE;
  if (search->skip &&
      std::find(search->skip->begin(), search->skip->end(), hwnd) != search->skip->end())
    return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindWindowOf(Search search) {
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

LPARAM Point(POINT p) { return MAKELPARAM(p.x, p.y); }

}  // namespace

bool DialogDriver::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= timeoutMs) return false;
    Sleep(20);
  }
}

HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs) {
  HWND found = nullptr;
  DialogDriver::WaitUntil(
      [&] { return (found = FindWindowOf({caption, L"#32770"})) != nullptr; }, timeoutMs);
  return found;
}

DialogDriver::DialogDriver(HWND dialog)
    : dialog_(dialog),
      list_(FindWindowExW(dialog, nullptr, WC_LISTVIEWW, nullptr)),
      header_(list_ ? ListView_GetHeader(list_) : nullptr) {}

int DialogDriver::Count() const { return ListView_GetItemCount(list_); }

std::wstring DialogDriver::Text(int item) const {
  wchar_t buffer[512] = {};
  ListView_GetItemText(list_, item, 0, buffer, 512);
  return buffer;
}

std::vector<std::wstring> DialogDriver::Texts() const {
  std::vector<std::wstring> texts;
  for (int i = 0; i < Count(); ++i) texts.push_back(Text(i));
  return texts;
}

std::vector<bool> DialogDriver::Checks() const {
  std::vector<bool> checks;
  for (int i = 0; i < Count(); ++i) checks.push_back(ListView_GetCheckState(list_, i) != 0);
  return checks;
}

int DialogDriver::Selected() const { return ListView_GetNextItem(list_, -1, LVNI_SELECTED); }

HWND DialogDriver::Focus() const {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &info);
  return info.hwndFocus;
}

int DialogDriver::HeaderImage() const {
  HDITEMW item = {};
  item.mask = HDI_IMAGE | HDI_FORMAT;
  Header_GetItem(header_, 0, &item);
  return (item.fmt & HDF_IMAGE) ? item.iImage : -1;
}

int DialogDriver::HeaderFormat() const {
  HDITEMW item = {};
  item.mask = HDI_FORMAT;
  Header_GetItem(header_, 0, &item);
  return item.fmt;
}

void DialogDriver::PostClick(HWND target, POINT at, bool right) {
  const UINT down = right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
  const UINT up = right ? WM_RBUTTONUP : WM_LBUTTONUP;
  PostMessageW(target, down, right ? MK_RBUTTON : MK_LBUTTON, Point(at));
  PostMessageW(target, up, 0, Point(at));
}

RECT DialogDriver::ItemRect(int item, int part) const {
  RECT r = {};
  r.left = part;
  SendMessageW(list_, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r));
  return r;
}

void DialogDriver::Click(int controlId) { PostMessageW(Control(controlId), BM_CLICK, 0, 0); }

void DialogDriver::ClickItem(int item) {
  RECT r = ItemRect(item, LVIR_LABEL);
  PostClick(list_, {r.left + 4, (r.top + r.bottom) / 2}, false);
}

void DialogDriver::ClickCheckBox(int item) {
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

void DialogDriver::ClickBelowItems() {
  RECT client;
  GetClientRect(list_, &client);
  PostClick(list_, {client.right / 2, client.bottom - 5}, false);
}

void DialogDriver::RightClickItem(int item) {
  RECT r = ItemRect(item, LVIR_LABEL);
  PostClick(list_, {r.left + 4, (r.top + r.bottom) / 2}, true);
}

void DialogDriver::RightClickBelowItems() {
  RECT client;
  GetClientRect(list_, &client);
  PostClick(list_, {client.right / 2, client.bottom - 5}, true);
}

void DialogDriver::ClickHeader() {
  RECT r = {};
  Header_GetItemRect(header_, 0, &r);
  PostClick(header_, {(r.left + r.right) / 2, (r.top + r.bottom) / 2}, false);
}

void DialogDriver::CloseBox() { PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0); }

void DialogDriver::Key(WORD vk) {
  HWND target = Focus();
  if (!target) target = dialog_;
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

HWND DialogDriver::WaitForEditor(DWORD timeoutMs) const {
  HWND editor = nullptr;
  WaitUntil([&] { return (editor = ListView_GetEditControl(list_)) != nullptr; }, timeoutMs);
  return editor;
}

void DialogDriver::Type(const std::wstring& text, bool confirm) {
  HWND editor = WaitForEditor();
  ASSERT_NE(editor, nullptr) << "no item is being edited";
  // The editor starts with the whole old text selected: typing replaces it.
  for (wchar_t c : text) PostMessageW(editor, WM_CHAR, c, 1);
  const WORD vk = confirm ? VK_RETURN : VK_ESCAPE;
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(editor, WM_KEYDOWN, vk, 1 | (scan << 16));
  // The edit ends, or a message about it comes first.
  EXPECT_TRUE(WaitUntil([&] {
    return !IsWindow(editor) || !IsWindowVisible(editor) ||
           FindWindowOf({L"", L"#32770", dialog_, nullptr, &seenBoxes_});
  })) << "the edit did not end";
}

SeenWindow DialogDriver::WaitForMessageBox(DWORD timeoutMs) {
  HWND box = nullptr;
  WaitUntil(
      [&] {
        return (box = FindWindowOf({L"", L"#32770", dialog_, nullptr, &seenBoxes_})) != nullptr;
      },
      timeoutMs);
  if (!box) return {};
  seenBoxes_.push_back(box);
  Sleep(50);  // let it lay itself out
  return ReadWindow(box);
}

HWND DialogDriver::OpenMenu() const { return FindWindowOf({L"", L"#32768"}); }

void RunDialog(const std::wstring& caption, const std::function<void()>& show,
               const std::function<void(DialogDriver&)>& script) {
  std::thread driver([&] {
    HWND dialog = WaitForDialog(caption);
    if (!dialog) {
      ADD_FAILURE() << "the dialog did not open";
      return;
    }
    DialogDriver d(dialog);
    script(d);
    if (!DialogDriver::WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); },
                                 3000)) {
      ADD_FAILURE() << "the dialog was left open";
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
  });
  show();
  driver.join();
}

}  // namespace qp::test
