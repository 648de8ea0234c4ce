// The terms dialog: the one window of the component, in which the user maintains the literal
// terms that the recognizer marks. It edits the caller's term records and their collection in
// place; the caller writes the collection back when the user confirms.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "config/terms_dialog.h"
#include "ui/list_view.h"
#include "ui/term_editor.h"

namespace qp::ui {

// A column of the terms list, as the header-icon routine sees it: its 1-based position.
struct ColumnHeader {
  int index = 1;
};

// For the configuration store, which shows the dialog without knowing it.
std::unique_ptr<config::TermsDialog> MakeFrmConfig(config::NewRecord newRecord);

class FrmConfig final : public config::TermsDialog {
 public:
  // Created, not loaded: the window comes into being at the first use of the list.
  explicit FrmConfig(config::NewRecord newRecord) : m_oEditor(lvSelectItems, newRecord) {}
  ~FrmConfig() override;  // unloads
  FrmConfig(const FrmConfig&) = delete;
  FrmConfig& operator=(const FrmConfig&) = delete;

  bool Cancelled() const override { return m_bCancelled; }
  ComPtr<IDispatch> GetItems() const override { return m_oEditor.Records(); }
  std::vector<config::TermEdit> GetEdits() const override { return m_oEditor.Edits(); }
  // Reports its own failures.
  void SetData(IDispatch* oRecognizers) override;
  void SetHeaderIcon(HWND hwndColumn, const ColumnHeader& oColumn, short iSortOrder);

  // Shows the dialog modally without owner window; returns when OK (once `confirm` agreed),
  // Cancel, Esc or the close box hid it. The dialog stays loaded until Unload.
  void Show(const std::function<bool()>& confirm = nullptr) override;
  void Unload() override;
  HWND Window() const { return m_hWnd; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept;
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
  void cmdRename_Click() { StartEditing(lvSelectItems.Selected()); }
  void cmdDelete_Click() { DeleteSelectedTerms(); }
  void mnuPopUpMenuRename_Click() { StartEditing(lvSelectItems.Selected()); }
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
  void StartEditing(int item);

  HWND Control(int id) const { return GetDlgItem(m_hWnd, id); }

  // Dialog state.
  bool m_bCancelled = false;
  long m_lSavedHelpID = 0;
  HWND m_hWndHeader = nullptr;

  HWND m_hWnd = nullptr;
  ListView lvSelectItems;
  TermEditor m_oEditor;
  std::function<bool()> m_fnConfirm;
  HFONT m_hFont = nullptr;
  HIMAGELIST imgHeaderIcons = nullptr;
  HMENU mnuPopUpMenu = nullptr;
  // The list's sort settings.
  bool m_bSorted = false;
  short m_iSortOrder = 0;
  int m_iSortKey = 0;
};

}  // namespace qp::ui
