#include "ui/list_view.h"

#include <unordered_map>

namespace qp::ui {
namespace {

struct SortKeys {
  std::unordered_map<LPARAM, std::wstring> text;  // by the item's data
  bool descending;
};

// Called by the list control: nothing may unwind through it. Every item has its key; one
// without would sort as an empty text.
int CALLBACK CompareItems(LPARAM left, LPARAM right, LPARAM keys) noexcept {
  const auto* sort = reinterpret_cast<const SortKeys*>(keys);
  static const std::wstring none;
  auto key = [&](LPARAM item) -> const std::wstring& {
    const auto found = sort->text.find(item);
    return found == sort->text.end() ? none : found->second;
  };
  const std::wstring& a = key(left);
  const std::wstring& b = key(right);
  const int order =
      CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                     b.c_str(), static_cast<int>(b.size())) -
      CSTR_EQUAL;
  return sort->descending ? -order : order;
}

}  // namespace

int ListView::Count() const {
  return ListView_GetItemCount(hwnd_);
}

int ListView::Selected() const {
  return hwnd_ ? ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED) : -1;
}

bool ListView::IsSelected(int item) const {
  return (ListView_GetItemState(hwnd_, item, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

int ListView::Insert(const std::wstring& text, LPARAM param) {
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = Count();
  item.pszText = const_cast<wchar_t*>(text.c_str());
  item.lParam = param;
  return Own([&] { return ListView_InsertItem(hwnd_, &item); });
}

void ListView::Delete(int item) {
  ListView_DeleteItem(hwnd_, item);
}

void ListView::DeleteAll() {
  ListView_DeleteAllItems(hwnd_);
}

LPARAM ListView::Param(int item) const {
  LVITEMW lv = {};
  lv.mask = LVIF_PARAM;
  lv.iItem = item;
  return ListView_GetItem(hwnd_, &lv) ? lv.lParam : 0;
}

std::wstring ListView::Text(int item) const {
  std::wstring text(256, L'\0');
  for (;;) {
    LVITEMW lv = {};
    lv.pszText = text.data();
    lv.cchTextMax = static_cast<int>(text.size());
    const int length = static_cast<int>(
        SendMessageW(hwnd_, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&lv)));
    // A text that filled the buffer may have been cut short.
    if (length < static_cast<int>(text.size()) - 1) {
      text.resize(static_cast<size_t>(length));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

void ListView::SetText(int item, const std::wstring& text) {
  ListView_SetItemText(hwnd_, item, 0, const_cast<wchar_t*>(text.c_str()));
}

bool ListView::Checked(int item) const {
  return ListView_GetCheckState(hwnd_, item) != 0;
}

void ListView::SetChecked(int item, bool checked) {
  Own([&] { ListView_SetCheckState(hwnd_, item, checked); });
}

void ListView::Select(int item) {
  Own([&] {
    ListView_SetItemState(hwnd_, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  });
}

void ListView::DeselectAll() {
  Own([&] { ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED); });
}

void ListView::EnsureVisible(int item) {
  ListView_EnsureVisible(hwnd_, item, FALSE);
}

void ListView::EditLabel(int item) {
  ListView_EditLabel(hwnd_, item);
}

void ListView::SortByText(bool descending) {
  // The list hands the comparison its items' data; their texts are taken beforehand.
  SortKeys keys{{}, descending};
  for (int i = 0; i < Count(); ++i)
    keys.text[Param(i)] = Text(i);
  ListView_SortItems(hwnd_, CompareItems, reinterpret_cast<LPARAM>(&keys));
}

void ListView::AddStyle(LONG_PTR style) {
  SetWindowLongPtrW(hwnd_, GWL_STYLE, GetWindowLongPtrW(hwnd_, GWL_STYLE) | style);
}

void ListView::RemoveStyle(LONG_PTR style) {
  SetWindowLongPtrW(hwnd_, GWL_STYLE, GetWindowLongPtrW(hwnd_, GWL_STYLE) & ~style);
}

void ListView::SetReportView() {
  RemoveStyle(LVS_TYPEMASK);
  AddStyle(LVS_REPORT);
}

void ListView::ShowCheckBoxes() {
  ListView_SetExtendedListViewStyleEx(hwnd_, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
}

void ListView::SetHeaderImages(HIMAGELIST images) {
  SendMessageW(ListView_GetHeader(hwnd_), HDM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
}

void ListView::DeleteAllColumns() {
  while (ListView_DeleteColumn(hwnd_, 0)) {
  }
}

bool ListView::InsertColumn(const wchar_t* text) {
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_FMT;
  column.fmt = LVCFMT_LEFT;
  column.pszText = const_cast<wchar_t*>(text);
  return ListView_InsertColumn(hwnd_, 0, &column) >= 0;
}

void ListView::SetColumnWidth(int pixels) {
  ListView_SetColumnWidth(hwnd_, 0, pixels);
}

}  // namespace qp::ui
