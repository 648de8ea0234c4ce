// The terms dialog: the one window of the component, in which the user maintains the literal
// terms that the recognizer marks. It edits the caller's term records and their collection in
// place; the caller writes the collection back when the user confirms.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <unordered_set>

#include "support/automation.h"

namespace qp {

// A column of the terms list, as the header-icon routine sees it: its 1-based position.
struct ColumnHeader {
  int Index = 1;
};

// Sizes a form so that its client area ends 165 twips right of the right-edge control and below
// the bottom-edge control (the right-edge control when there is none).
void SizeFormToControl(HWND form, HWND rightEdge, HWND bottomEdge = nullptr);

// Twips (1/1440 inch) and the screen's pixels.
double TwipsPerPixelX();
double TwipsPerPixelY();

class FrmConfig {
 public:
  // Created, not loaded: the window comes into being at the first use of the list.
  FrmConfig() = default;
  ~FrmConfig();  // unloads
  FrmConfig(const FrmConfig&) = delete;
  FrmConfig& operator=(const FrmConfig&) = delete;

  // False only after the user confirmed with OK.
  bool Cancelled() const { return m_bCancelled; }
  // The collection SetData kept, with the user's edits; none when it kept none.
  ComPtr<IDispatch> GetItems() const { return m_colRecognizers; }
  // Fills the list with the "LI" records of the collection and keeps it. Reports its own
  // failures.
  void SetData(IDispatch* oRecognizers);
  void SetHeaderIcon(HWND hwndColumn, const ColumnHeader& oColumn, short iSortOrder);

  // Shows the dialog modally without owner window; returns when OK, Cancel, Esc or the close
  // box hid it. The dialog stays loaded until Unload.
  void Show();
  void Unload();
  HWND Window() const { return m_hWnd; }

 private:
  struct Item;  // what the list keeps per term besides its text and check state

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleNotify(NMHDR* header);
  void Load();
  void CreateControls();
  // The dialog sees key presses before its controls do.
  bool PreviewKey(const MSG& msg);

  // Events.
  void Form_Load();
  void Form_Activate();
  void Form_Paint();
  void Form_KeyDown(WORD keyCode);
  void Form_KeyUp(WORD keyCode);
  void cmdOK_Click();
  void cmdCancel_Click();
  void cmdNew_Click() { AddNewTerm(); }
  void cmdRename_Click();
  void cmdDelete_Click() { DeleteSelectedTerms(); }
  void mnuPopUpMenuRename_Click() { StartEditing(SelectedItem()); }
  void lvSelectItems_AfterLabelEdit(int item, const std::wstring& text);
  void lvSelectItems_ItemCheck(int item);
  void lvSelectItems_KeyDown(WORD keyCode);
  void lvSelectItems_MouseUp(int button);
  void lvSelectItems_ColumnClick(const ColumnHeader& oColumn);
  void lvSelectItems_GotFocus();

  // Routines.
  void SetupColumns();
  void UpdateButtons();
  void AddNewTerm();
  void DeleteSelectedTerms();
  void UpdateTermFromItem(int item);

  // The list's items, numbered from 0 here (the user's positions are these plus 1).
  int ItemCount() const;
  int SelectedItem() const;  // -1 when none
  int AddItem(const std::wstring& key, const std::wstring& text);  // -1 when the key is taken
  void RemoveItem(int item);
  void RemoveAllItems();
  LPARAM ItemParam(int item) const;
  Item& ItemData(int item) const;
  std::wstring ItemText(int item) const;
  void SetItemText(int item, const std::wstring& text);
  bool ItemChecked(int item) const;
  void SetItemChecked(int item, bool checked);
  void SelectItem(int item);
  void DeselectAll();
  void StartEditing(int item);
  bool SetItemKey(int item, const std::wstring& key);  // false when another item has it
  static std::wstring KeyIdentity(const std::wstring& key);
  struct SortKeys;
  static int CALLBACK CompareItems(LPARAM left, LPARAM right, LPARAM keys);

  HWND Control(int id) const { return GetDlgItem(m_hWnd, id); }

  // Dialog state.
  bool m_bCancelled = false;
  ComPtr<IDispatch> m_colRecognizers;
  short m_iNewTermCounter = 0;
  long m_lSavedHelpID = 0;
  HWND m_hWndHeader = nullptr;

  HWND m_hWnd = nullptr;
  HWND m_hWndList = nullptr;
  HFONT m_hFont = nullptr;
  HIMAGELIST m_imgHeaderIcons = nullptr;
  HMENU m_mnuPopUpMenu = nullptr;
  // The list control's sort settings.
  bool m_bSorted = false;
  short m_iSortOrder = 0;
  int m_iSortKey = 0;
  // Item keys in use (compared as the recognizer compares terms, without regard to case).
  std::unordered_set<std::wstring> m_keys;
  // Check-state changes the dialog makes itself are not the user's toggles.
  int m_iOwnChanges = 0;
};

}  // namespace qp
