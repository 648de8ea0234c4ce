// A thin wrapper over a list-view control in report mode with one column: its messages behind
// named members, so that the dialog's code reads as what it does. Items are numbered from 0.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace qp::ui {

class ListView {
 public:
  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  HWND Handle() const { return hwnd_; }

  // Changes made through this wrapper notify the parent as the user's would; while one is under
  // way this is true, so that the parent can tell them apart.
  bool ChangingItself() const { return ownChanges_ > 0; }

  int Count() const;
  int Selected() const;  // the first selected item, -1 when none
  bool IsSelected(int item) const;
  int Insert(const std::wstring& text, LPARAM param);  // at the end; -1 when refused
  void Delete(int item);
  void DeleteAll();
  LPARAM Param(int item) const;  // 0 when there is no such item
  std::wstring Text(int item) const;
  void SetText(int item, const std::wstring& text);
  bool Checked(int item) const;
  void SetChecked(int item, bool checked);
  void Select(int item);  // and gives it the focus rectangle
  void DeselectAll();
  void EnsureVisible(int item);
  void EditLabel(int item);
  // By the items' texts in the user's locale, without regard to case.
  void SortByText(bool descending);

  void AddStyle(LONG_PTR style);
  void RemoveStyle(LONG_PTR style);
  void SetReportView();
  void ShowCheckBoxes();
  void SetHeaderImages(HIMAGELIST images);
  void DeleteAllColumns();
  bool InsertColumn(const wchar_t* text);  // a left-aligned column at the front
  void SetColumnWidth(int pixels);

 private:
  // Counts itself around a change of ours.
  template <class Change>
  auto Own(Change change) {
    ++ownChanges_;
    struct Done {
      int& count;
      ~Done() { --count; }
    } done{ownChanges_};
    return change();
  }

  HWND hwnd_ = nullptr;
  int ownChanges_ = 0;
};

}  // namespace qp::ui
