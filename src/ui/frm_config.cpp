#include "ui/frm_config.h"

#include <windowsx.h>

#include <utility>

#include "platform/error.h"
#include "platform/error_display.h"
#include "platform/help.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "ui/modal_loop.h"
#include "ui/twips.h"
#include "ui/ui_resources.h"

namespace qp::ui {
using namespace qp::platform;
using namespace qp::config;
namespace {

// Controls, in tab order.
enum ControlId : int {
  kLblAdditionalTerms = 1000,
  kLvSelectItems = 1001,
  kCmdNew = 1002,
  kCmdRename = 1003,
  kCmdDelete = 1004,
  kCmdOK = IDOK,
  kCmdCancel = IDCANCEL,
};
inline constexpr UINT kMnuPopUpMenuRename = 2001;

struct ControlLayout {
  int id;
  const wchar_t* windowClass;
  const wchar_t* caption;
  DWORD style;
  DWORD exStyle;
  int left, top, width, height;  // twips, relative to the client area
};

inline constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
const ControlLayout kControls[] = {
    {kLblAdditionalTerms, WC_STATICW, L"Included &Terms:",
     WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 0, 180, 165, 1155, 255},
    {kLvSelectItems, WC_LISTVIEWW, L"",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_EDITLABELS | LVS_SINGLESEL,
     0, 165, 405, 4935, 4185},
    {kCmdNew, WC_BUTTONW, L"&New", kButton, 0, 5190, 420, 1125, 345},
    {kCmdRename, WC_BUTTONW, L"&Rename", kButton, 0, 5190, 840, 1125, 345},
    {kCmdDelete, WC_BUTTONW, L"&Delete", kButton, 0, 5190, 1260, 1125, 345},
    {kCmdOK, WC_BUTTONW, L"OK", kButton | BS_DEFPUSHBUTTON, 0, 3975, 4890, 1125, 345},
    {kCmdCancel, WC_BUTTONW, L"Cancel", kButton, 0, 5190, 4890, 1125, 345},
};

// What's-This topics of the controls.
struct HelpId {
  int control;
  DWORD id;
};
const HelpId kHelpIds[] = {
    {kCmdDelete, 40000}, {kCmdNew, 40010},    {kLvSelectItems, 40040},
    {kCmdRename, 40050}, {kCmdCancel, 30000}, {kCmdOK, 30010},
};

inline constexpr wchar_t kDesignCaption[] = L"Quillpoint Smart Tag Terms";
inline constexpr int kColumnMargin = 300;  // twips between the column's and the list's width
inline constexpr COLORREF kMaskColour = RGB(192, 192, 192);
inline constexpr int kArrowSize = 14;

// The header item record of the ANSI message HDM_SETITEMA in its first, short form (the members
// up to iOrder), which every version of the common controls takes: the sort arrow needs no
// more, and no text goes with it, so the ANSI message serves as well as the wide one.
struct HeaderItemRecord {
  UINT mask;
  int cxy;
  LPSTR pszText;
  HBITMAP hbm;
  int cchTextMax;
  int fmt;
  LPARAM lParam;
  int iImage;
  int iOrder;
};
#ifndef _WIN64
static_assert(sizeof(HeaderItemRecord) == 36);
#endif
inline constexpr UINT kHeaderMask = HDI_FORMAT | HDI_IMAGE;
inline constexpr int kHeaderFormat = HDF_STRING | HDF_BITMAP_ON_RIGHT | HDF_IMAGE;

HMODULE ResourceModule() {
  HMODULE module = ComponentModule();
  return module ? module : GetModuleHandleW(nullptr);
}

bool ModifierDown() {
  return GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
}

}  // namespace

std::unique_ptr<TermsDialog> MakeFrmConfig(NewRecord newRecord) {
  return std::make_unique<FrmConfig>(newRecord);
}

FrmConfig::~FrmConfig() {
  Unload();
}

// ---- loading and showing

void FrmConfig::Load() {
  if (m_hWnd) return;
  // An empty dialog frame; the controls are placed in twips below, not in dialog units.
  struct {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  } frame = {};
  frame.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CONTEXTHELP;
  m_hWnd = CreateDialogIndirectParamW(ResourceModule(), &frame.dialog, nullptr, DialogProc,
                                      reinterpret_cast<LPARAM>(this));
  if (!m_hWnd) RaiseComError(HRESULT_FROM_WIN32(GetLastError()), nullptr, IID_NULL);
  SetWindowTextW(m_hWnd, kDesignCaption);
  CreateControls();
  Form_Load();
}

void FrmConfig::CreateControls() {
  HDC screen = GetDC(nullptr);
  LOGFONTW font = {};
  font.lfHeight = -MulDiv(825, GetDeviceCaps(screen, LOGPIXELSY), 7200);  // 8.25 pt
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  lstrcpyW(font.lfFaceName, L"Tahoma");
  ReleaseDC(nullptr, screen);
  m_hFont = CreateFontIndirectW(&font);
  SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);

  const double x = TwipsPerPixelX(), y = TwipsPerPixelY();
  for (const ControlLayout& c : kControls) {
    HWND control = CreateWindowExW(
        c.exStyle | (c.id == kLvSelectItems ? WS_EX_CLIENTEDGE : 0), c.windowClass, c.caption,
        c.style, Pixels(c.left, x), Pixels(c.top, y), Pixels(c.width, x), Pixels(c.height, y),
        m_hWnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), ResourceModule(), nullptr);
    if (!control) RaiseComError(HRESULT_FROM_WIN32(GetLastError()), nullptr, IID_NULL);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
  }
  GrowToText(Control(kLblAdditionalTerms), m_hFont);
  lvSelectItems.Attach(Control(kLvSelectItems));
  SendMessageW(m_hWnd, DM_SETDEFID, kCmdOK, 0);
  lvSelectItems.ShowCheckBoxes();

  mnuPopUpMenu = CreatePopupMenu();
  AppendMenuW(mnuPopUpMenu, MF_STRING, kMnuPopUpMenuRename, L"&Rename");

  imgHeaderIcons = ImageList_Create(kArrowSize, kArrowSize, ILC_COLOR4 | ILC_MASK, 2, 0);
  if (HBITMAP arrows = static_cast<HBITMAP>(LoadImageW(
          ResourceModule(), MAKEINTRESOURCEW(IDB_HEADER_ARROWS), IMAGE_BITMAP, 0, 0, 0))) {
    ImageList_AddMasked(imgHeaderIcons, arrows, kMaskColour);
    DeleteObject(arrows);
  }
}

void FrmConfig::Form_Load() {
  SizeFormToControl(m_hWnd, Control(kCmdCancel));
  for (const HelpId& h : kHelpIds)
    SetWindowContextHelpId(Control(h.control), h.id);
  // The selection stays visible while another control has the focus.
  lvSelectItems.AddStyle(LVS_SHOWSELALWAYS);
  m_hWndHeader = ListView_GetHeader(lvSelectItems.Handle());
  SetWindowTextW(m_hWnd, GetResourceString(kMsgTermsCaption, {L""}).c_str());
  lvSelectItems.SetHeaderImages(imgHeaderIcons);
  SetupColumns();

  // Centred on the screen's work area.
  RECT work, window;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(m_hWnd, &window);
  SetWindowPos(m_hWnd, nullptr,
               work.left + (work.right - work.left - (window.right - window.left)) / 2,
               work.top + (work.bottom - work.top - (window.bottom - window.top)) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FrmConfig::Show(const std::function<bool()>& confirm) {
  m_fnConfirm = confirm;
  Load();
  RunModal(
      m_hWnd, [this] { Form_Activate(); }, [this](const MSG& msg) { PreviewKey(msg); });
}

void FrmConfig::Unload() {
  if (m_hWnd) {
    if (ActiveForm() == m_hWnd) SetActiveForm(nullptr);
    DestroyWindow(m_hWnd);  // the list's items go with it (LVN_DELETEITEM)
    m_hWnd = m_hWndHeader = nullptr;
    lvSelectItems.Attach(nullptr);
  }
  if (imgHeaderIcons) ImageList_Destroy(std::exchange(imgHeaderIcons, nullptr));
  if (mnuPopUpMenu) DestroyMenu(std::exchange(mnuPopUpMenu, nullptr));
  if (m_hFont) DeleteObject(std::exchange(m_hFont, nullptr));
  m_oEditor.Clear();
}

bool FrmConfig::PreviewKey(const MSG& msg) {
  if ((msg.message != WM_KEYDOWN && msg.message != WM_KEYUP) || msg.wParam != VK_F1) return false;
  if (msg.hwnd != m_hWnd && !IsChild(m_hWnd, msg.hwnd)) return false;
  if (ModifierDown()) return false;
  if (msg.message == WM_KEYDOWN) {
    Form_KeyDown(VK_F1);
  } else {
    Form_KeyUp(VK_F1);
  }
  return true;
}

// ---- window procedure

INT_PTR CALLBACK FrmConfig::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<FrmConfig*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self || !self->m_hWnd) return FALSE;
  // Nothing may unwind through the window manager.
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    ShowCaughtError(L"");
    return FALSE;
  }
}

INT_PTR FrmConfig::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED && lParam != 0) return FALSE;
      switch (LOWORD(wParam)) {
        case kCmdOK:
          cmdOK_Click();
          return TRUE;
        case kCmdCancel:
          cmdCancel_Click();
          return TRUE;
        case kCmdNew:
          cmdNew_Click();
          return TRUE;
        case kCmdRename:
          cmdRename_Click();
          return TRUE;
        case kCmdDelete:
          cmdDelete_Click();
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CLOSE:  // the close box and the control menu: hide as Cancel does, stay loaded
      cmdCancel_Click();
      return TRUE;
    case WM_PAINT:
      Form_Paint();
      return FALSE;  // the dialog still paints itself
    case WM_HELP: {
      const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
      if (info->iContextType == HELPINFO_WINDOW && info->dwContextId != 0)
        ShowHelpPopup(m_hWnd, AppHelpFile(), static_cast<DWORD>(info->dwContextId), info->MousePos);
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom != lvSelectItems.Handle()) return FALSE;
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, HandleNotify(header));
      return TRUE;
    }
    default:
      return FALSE;
  }
}

LRESULT FrmConfig::HandleNotify(NMHDR* header) {
  switch (header->code) {
    case LVN_ENDLABELEDIT: {
      const auto* edit = reinterpret_cast<const NMLVDISPINFOW*>(header);
      // No text: the user abandoned the edit.
      if (edit->item.pszText) m_oEditor.RenameTerm(edit->item.iItem, edit->item.pszText);
      return FALSE;  // the handler sets the text itself, or keeps it
    }
    case LVN_ITEMCHANGED: {
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
      const UINT before = change->uOldState & LVIS_STATEIMAGEMASK;
      const UINT after = change->uNewState & LVIS_STATEIMAGEMASK;
      // A check box the user toggled (an item's first check-box image is no toggle).
      if (!lvSelectItems.ChangingItself() && (change->uChanged & LVIF_STATE) &&
          change->iItem >= 0 && before != 0 && after != 0 && before != after)
        lvSelectItems_ItemCheck(change->iItem);
      return 0;
    }
    case LVN_DELETEITEM:
      m_oEditor.ItemDeleted(reinterpret_cast<const NMLISTVIEW*>(header)->lParam);
      return 0;
    case LVN_KEYDOWN:
      lvSelectItems_KeyDown(reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey);
      return 0;
    case NM_RCLICK: {
      lvSelectItems_MouseUp(2);
      return 0;
    }
    case LVN_COLUMNCLICK:
      lvSelectItems_ColumnClick({reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem + 1});
      return 0;
    case NM_SETFOCUS:
      lvSelectItems_GotFocus();
      return 0;
    default:
      return 0;
  }
}

// ---- the caller's side

void FrmConfig::SetData(IDispatch* oRecognizers) {
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const long count = m_oEditor.CountRecords(oRecognizers);
  if (count > 0) {
    Load();  // the list's first use
    try {
      lvSelectItems.SetReportView();
      m_oEditor.Fill(oRecognizers, count);
      UpdateButtons();
    } catch (...) {
      SetCursor(LoadCursorW(nullptr, IDC_ARROW));
      ShowCaughtError(L"");
      return;
    }
  }
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

// ---- form events

void FrmConfig::Form_Activate() {
  SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(kCmdNew)), TRUE);
}

void FrmConfig::Form_Paint() {
  if (lvSelectItems.Count() > 0) {
    lvSelectItems.EnsureVisible(0);
    lvSelectItems.Select(0);
  }
  UpdateButtons();
}

void FrmConfig::Form_KeyDown(WORD keyCode) {
  if (keyCode != VK_F1) return;
  // No What's-This popup for F1: it opens the help file's contents.
  HWND focus = GetFocus();
  m_lSavedHelpID = static_cast<long>(GetWindowContextHelpId(focus));
  SetWindowContextHelpId(focus, 0);
}

void FrmConfig::Form_KeyUp(WORD keyCode) {
  if (keyCode != VK_F1) return;
  if (m_lSavedHelpID != 0) {
    SetWindowContextHelpId(GetFocus(), static_cast<DWORD>(m_lSavedHelpID));
    m_lSavedHelpID = 0;
  }
  ShowHelp(m_hWnd, GetHelpFilePath(kHelpFileName, false), 0);
}

void FrmConfig::cmdOK_Click() {
  if (m_fnConfirm) {
    // No second OK while the first one's message is up.
    EnableWindow(m_hWnd, FALSE);
    const bool confirmed = m_fnConfirm();
    EnableWindow(m_hWnd, TRUE);
    if (!confirmed) return;
  }
  ShowWindow(m_hWnd, SW_HIDE);
  m_bCancelled = false;
}

void FrmConfig::cmdCancel_Click() {
  ShowWindow(m_hWnd, SW_HIDE);
  m_bCancelled = true;
}

// ---- list events

void FrmConfig::lvSelectItems_ItemCheck(int item) {
  lvSelectItems.Select(item);
  UpdateButtons();
  m_oEditor.UpdateTermFromItem(item);
}

void FrmConfig::lvSelectItems_KeyDown(WORD keyCode) {
  // Only the key code counts: Shift+Insert adds as Insert does.
  switch (keyCode) {
    case VK_INSERT:
      if (IsWindowEnabled(Control(kCmdNew))) AddNewTerm();
      break;
    case VK_DELETE:
      if (IsWindowEnabled(Control(kCmdDelete))) DeleteSelectedTerms();
      break;
    case VK_F2:
      StartEditing(lvSelectItems.Selected());
      break;
    default:
      break;
  }
}

void FrmConfig::lvSelectItems_MouseUp(int button) {
  if (button != 2 || lvSelectItems.Selected() < 0) return;
  const DWORD at = GetMessagePos();
  const UINT chosen =
      static_cast<UINT>(TrackPopupMenu(mnuPopUpMenu, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY,
                                       GET_X_LPARAM(at), GET_Y_LPARAM(at), 0, m_hWnd, nullptr));
  if (chosen == kMnuPopUpMenuRename) mnuPopUpMenuRename_Click();
}

void FrmConfig::lvSelectItems_ColumnClick(const ColumnHeader& oColumn) {
  // The first click sorts ascending, every further click turns the order round.
  if (!m_bSorted) m_iSortOrder = 1;
  const short newOrder = m_iSortOrder == 0 ? 1 : 0;
  m_iSortOrder = newOrder;
  m_iSortKey = oColumn.index - 1;
  m_bSorted = true;
  lvSelectItems.SortByText(m_iSortOrder != 0);
  SetHeaderIcon(m_hWndHeader, oColumn, newOrder);
}

void FrmConfig::lvSelectItems_GotFocus() {
  const int selected = lvSelectItems.Selected();
  if (lvSelectItems.Count() > 0 && selected >= 0) lvSelectItems.EnsureVisible(selected);
}

void FrmConfig::SetHeaderIcon(HWND hwndColumn, const ColumnHeader& oColumn, short iSortOrder) {
  HeaderItemRecord record = {};
  record.mask = kHeaderMask;
  record.fmt = kHeaderFormat;
  record.iImage = iSortOrder;  // the arrows' bitmap holds ascending (0), then descending (1)
  const long index = CheckedLong(static_cast<long long>(oColumn.index) - 1);
  SendMessageA(hwndColumn, HDM_SETITEMA, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(&record));
}

// ---- routines

void FrmConfig::SetupColumns() {
  try {
    lvSelectItems.DeleteAllColumns();
    lvSelectItems.DeleteAll();
    if (!lvSelectItems.InsertColumn(L"Terms"))
      Raise({static_cast<long>(E_FAIL), L"ListView", L"The column could not be added"});
    const TwipRect list = ControlTwips(lvSelectItems.Handle());
    lvSelectItems.SetColumnWidth(Pixels(list.width - kColumnMargin, TwipsPerPixelX()));
    lvSelectItems.RemoveStyle(LVS_NOCOLUMNHEADER);
  } catch (...) {
    ShowCaughtError(L"");
  }
}

void FrmConfig::UpdateButtons() {
  const BOOL any = lvSelectItems.Count() > 0;
  EnableWindow(Control(kCmdDelete), any);
  EnableWindow(Control(kCmdRename), any);
  EnableWindow(Control(kCmdNew), TRUE);
}

void FrmConfig::AddNewTerm() {
  const int item = m_oEditor.AddNewTerm();
  if (item < 0) return;
  // The user types the real term at once.
  SetFocus(lvSelectItems.Handle());
  lvSelectItems.Select(item);
  lvSelectItems.EnsureVisible(item);
  lvSelectItems.EditLabel(item);
  UpdateButtons();
}

void FrmConfig::DeleteSelectedTerms() {
  m_oEditor.DeleteSelectedTerms();
  UpdateButtons();
}

void FrmConfig::StartEditing(int item) {
  if (item < 0) return;
  SetFocus(lvSelectItems.Handle());
  lvSelectItems.EditLabel(item);
}

}  // namespace qp::ui
