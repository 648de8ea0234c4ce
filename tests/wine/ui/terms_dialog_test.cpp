// The terms dialog used as a person uses it: the real window with the real common controls,
// driven from outside with clicks and keys, over records and collections of the store.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <htmlhelp.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "action_host.h"
#include "config/config.h"
#include "config_saver_run.h"
#include "dialog_driver.h"
#include "late_bound.h"
#include "platform/automation.h"
#include "platform/error.h"
#include "platform/help.h"
#include "platform/paths.h"
#include "platform/strings.h"
#include "term_records.h"
#include "terms_harness.h"
#include "ui/frm_config.h"
#include "wine_test_env.h"
#include "word_standin.h"

namespace {

using qp::ui::FrmConfig;
using namespace qp::test;
using namespace qp::platform;
using namespace qp::config;

constexpr int kNew = 1002, kRename = 1003, kDelete = 1004, kOK = IDOK, kCancel = IDCANCEL;
constexpr int kLabel = 1000, kList = 1001;
const std::wstring kObjectNotSet = L"Object variable or With block variable not set";
// The screen's DPI setting, and the setting a program started by the test must find.
constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
constexpr wchar_t kDpiVariable[] = L"QP_TEST_DPI";
// The controls as designed, in tab order: place and size in twips, and caption.
struct Designed {
  int id, left, top, width, height;
  const wchar_t* text;
};
constexpr Designed kDesigned[] = {{kLabel, 180, 165, 1155, 255, L"Included &Terms:"},
                                  {kList, 165, 405, 4935, 4185, L""},
                                  {kNew, 5190, 420, 1125, 345, L"&New"},
                                  {kRename, 5190, 840, 1125, 345, L"&Rename"},
                                  {kDelete, 5190, 1260, 1125, 345, L"&Delete"},
                                  {kOK, 3975, 4890, 1125, 345, L"OK"},
                                  {kCancel, 5190, 4890, 1125, 345, L"Cancel"}};
// The controls' What's-This topics.
const std::vector<std::pair<int, DWORD>> kTopics = {{kCancel, 30000}, {kOK, 30010},
                                                    {kDelete, 40000}, {kNew, 40010},
                                                    {kList, 40040},   {kRename, 40050}};

// The arrow the column header shows, -1 when none.
int Arrow(DialogDriver& d) {
  const HDITEMW h = d.HeaderItem();
  return (h.fmt & HDF_IMAGE) ? h.iImage : -1;
}

class TermsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    // The form loads its caption through the thread's resource library, as the Controller
    // that shows it in the product has loaded it.
    LoadResourceLibrary(GetResourceFilePath(kResourceLibraryName));
    caption_ = Message(110, L"");
    ASSERT_FALSE(caption_.empty());
  }
  // Shows the dialog over the collection; the script drives it.
  void Run(FrmConfig& form, IDispatch* collection,
           const std::function<void(DialogDriver&)>& script) {
    form.SetData(collection);
    RunDialog(
        caption_, [&] { form.Show(); }, script);
  }
  // The same over a new collection of the terms: form_ over collection_.
  void Show(const std::vector<Term>& terms, const std::function<void(DialogDriver&)>& script) {
    collection_ = NewCollection(terms);
    Run(form_, collection_.Get(), script);
  }

  ComApartment com_;
  std::wstring caption_;
  ComPtr<IDispatch> collection_;
  FrmConfig form_{NewRecognizerRecord};
};

// ---- loading and layout

TEST_F(TermsDialog, ShowsTheLiTermsWithTheirStateInTheDesignedWindow) {
  const std::vector<Term> terms = {{L"D", L""},           LI(L"Alpha"),         LI(L"beta", L"No"),
                                   LI(L"Gamma", L"no"),   LI(L"Delta", L"NO"),  LI(L"Eps", L""),
                                   LI(L"Zeta", L"maybe"), {L"LE", L"Excluded"}, {L"li", L"lower"},
                                   LI(L"Alpha", L"No"),   LI(L"Eta", L"yes")};
  Show(terms, [&](DialogDriver& d) {
    // Only "LI" records, the first of two with the same term, in record order.
    EXPECT_EQ(d.Texts(), (std::vector<std::wstring>{L"Alpha", L"beta", L"Gamma", L"Delta", L"Eps",
                                                    L"Zeta", L"Eta"}));
    EXPECT_EQ(d.Checks(), (std::vector<bool>{true, false, false, false, true, true, true}));

    // The list (its editing, check boxes and header are used below): the selection kept
    // visible, one column "Terms", two arrows as header images.
    EXPECT_TRUE(GetWindowLongW(d.List(), GWL_STYLE) & LVS_SHOWSELALWAYS);
    EXPECT_EQ(Header_GetItemCount(d.Header()), 1);
    wchar_t column[32] = {};
    HDITEMW h = {HDI_TEXT | HDI_FORMAT, 0, column, nullptr, 32};
    Header_GetItem(d.Header(), 0, &h);
    EXPECT_STREQ(column, L"Terms");
    EXPECT_EQ(Arrow(d), -1);  // no arrow before the first sort
    HIMAGELIST arrows = Header_GetImageList(d.Header());
    ASSERT_NE(arrows, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(arrows), 2);

    // Once painted, the first term is selected, Rename and Delete are enabled, New has the
    // focus.
    EXPECT_EQ(d.Selected(), 0);
    EXPECT_TRUE(d.Enabled(kNew) && d.Enabled(kRename) && d.Enabled(kDelete));
    EXPECT_EQ(d.Focus(), d.Control(kNew));

    // A repaint of the dialog selects the first term again.
    d.Select(3);
    RedrawWindow(d.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    ASSERT_TRUE(d.Sync());
    EXPECT_EQ(d.Selected(), 0);

    d.Key(VK_ESCAPE);
  });
  EXPECT_TRUE(form_.Cancelled());
  // Hidden, not unloaded: the caller still reads the result.
  ASSERT_TRUE(IsWindow(form_.Window()));
  EXPECT_FALSE(IsWindowVisible(form_.Window()));
  EXPECT_EQ(form_.GetItems().Get(), collection_.Get());
  EXPECT_EQ(ReadTerms(collection_.Get()), terms);
  form_.Unload();
  EXPECT_EQ(form_.Window(), nullptr);
}

// The designed window in the pixels of the screen's DPI setting: a fixed dialog frame, OK the
// default button; each control in its place, in tab order and in Tahoma 8.25 pt, with room for
// its whole text (the label wider or taller only where its text needs it, as a label with
// AutoSize grows); the client area 165 twips beyond Cancel; the column 300 twips narrower than
// the list; the dialog within a 1366 x 768 screen up to 144 DPI.
TEST_F(TermsDialog, TheDesignedLayoutHoldsAndNoTextIsCutAtTheScreensDpi) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  wchar_t setting[8] = {};
  if (GetEnvironmentVariableW(kDpiVariable, setting, 8)) {
    ASSERT_EQ(dpi, _wtoi(setting)) << "the DPI setting did not reach the program";
  }
  SCOPED_TRACE(std::to_string(dpi) + " DPI");
  auto px = [dpi](double twips) { return static_cast<LONG>(twips * dpi / 1440 + 0.5); };
  Show({LI(L"Alpha")}, [&](DialogDriver& d) {
    const LONG style = GetWindowLongW(d.Dialog(), GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CAPTION), WS_CAPTION);
    EXPECT_EQ(LOWORD(SendMessageW(d.Dialog(), DM_GETDEFID, 0, 0)), kOK);
    RECT r;
    GetClientRect(d.Dialog(), &r);
    // Cancel's pixel edges plus 165 twips, each rounded to whole pixels.
    EXPECT_NEAR(r.right, px(6480), 1);
    EXPECT_NEAR(r.bottom, px(5400), 1);
    GetWindowRect(d.Dialog(), &r);
    if (dpi <= 144) {
      EXPECT_LE(std::max(r.right - r.left - 1366, r.bottom - r.top - 768), 0);
    }
    HWND c = GetWindow(d.Control(kLabel), GW_HWNDFIRST);
    for (const auto& [id, left, top, width, height, text] : kDesigned) {
      SCOPED_TRACE(id);
      ASSERT_EQ(GetDlgCtrlID(c), id) << "not the tab order";
      EXPECT_EQ(WindowText(c), text);
      // The text as the control draws it, in its own font; a button's inside its edges.
      const HFONT font = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
      LOGFONTW f = {};
      GetObjectW(font, sizeof f, &f);
      EXPECT_STREQ(f.lfFaceName, L"Tahoma");
      EXPECT_EQ(f.lfHeight, -MulDiv(825, dpi, 7200));
      RECT need = {};
      HDC dc = GetDC(c);
      SelectObject(dc, font);
      DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_SINGLELINE);
      ReleaseDC(c, dc);
      const LONG inset = id == kLabel ? 0 : 4 * GetSystemMetrics(SM_CXEDGE);
      GetWindowRect(c, &r);
      MapWindowPoints(nullptr, d.Dialog(), reinterpret_cast<POINT*>(&r), 2);
      const LONG w = r.right - r.left, h = r.bottom - r.top;
      EXPECT_LE(std::max(need.right + inset - w, need.bottom + inset - h), 0) << "text cut off";
      EXPECT_EQ(std::tuple(r.left, r.top, w, h),
                std::tuple(px(left), px(top), std::max(px(width), id == kLabel ? need.right : 0),
                           std::max(px(height), id == kLabel ? need.bottom : 0)));
      c = GetWindow(c, GW_HWNDNEXT);
    }
    EXPECT_EQ(c, nullptr) << "a control beyond the designed ones";
    EXPECT_EQ(ListView_GetColumnWidth(d.List(), 0), px(4935 - 300));
    d.Key(VK_ESCAPE);
  });
}

// The same in a program started under each DPI setting of the screens Word runs on: Wine reads
// the setting, LogPixels of the user's "Control Panel\Desktop", once as a program starts.
TEST_F(TermsDialog, TheDesignedLayoutHoldsAtEveryDpiSetting) {
  for (DWORD dpi : {96u, 120u, 144u, 192u}) {
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &dpi, sizeof dpi),
        ERROR_SUCCESS);
    SetEnvironmentVariableW(kDpiVariable, std::to_wstring(dpi).c_str());
    EXPECT_EQ(
        RunThisProgram(
            L"--gtest_filter=TermsDialog.TheDesignedLayoutHoldsAndNoTextIsCutAtTheScreensDpi"),
        0u)
        << dpi << " DPI";
  }
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
  SetEnvironmentVariableW(kDpiVariable, nullptr);
}

TEST_F(TermsDialog, CollectionsWithoutTermsToShow) {
  // No collection or an empty one: nothing is kept, and New has nowhere to put its record.
  // Records of other classes only: an empty list that keeps the collection as it came.
  const std::vector<Term> others = {{L"LE", L"Excluded"}, {L"D", L""}, {L"LE", L"Other", L"No"}};
  for (int kind : {0, 1, 2}) {  // no collection, an empty one, other records only
    SCOPED_TRACE(kind);
    const bool kept = kind == 2;
    const std::vector<Term> records = kept ? others : std::vector<Term>{};
    ComPtr<IDispatch> collection = kind ? NewCollection(records) : nullptr;
    FrmConfig form(NewRecognizerRecord);
    Run(form, collection.Get(), [&](DialogDriver& d) {
      EXPECT_EQ(d.Count(), 0);
      EXPECT_FALSE(d.Enabled(kRename) || d.Enabled(kDelete));
      EXPECT_TRUE(d.Enabled(kNew));
      if (kept) return d.Click(kOK);
      // New still adds the item, but there is no collection to append the record to.
      d.Click(kNew);
      d.ExpectError(kObjectNotSet);
      EXPECT_EQ(d.Texts(), std::vector<std::wstring>{L"(New Term 1)"});
      EXPECT_EQ(ListView_GetEditControl(d.List()), nullptr);
      d.Key(VK_ESCAPE);
    });
    EXPECT_EQ(form.Cancelled(), !kept);
    EXPECT_EQ(form.GetItems().Get(), kept ? collection.Get() : nullptr);
    if (collection) {
      EXPECT_EQ(ReadTerms(collection.Get()), records);
    }
  }
}

TEST_F(TermsDialog, OnlyOkConfirmsAndTheCloseBoxCancels) {
  using Way = std::tuple<const char*, std::function<void(DialogDriver&)>, bool>;
  for (const auto& [name, close, cancelled] :
       {Way{"OK", [](DialogDriver& d) { d.Click(kOK); }, false},
        Way{"Enter", [](DialogDriver& d) { d.Key(VK_RETURN); }, false},
        Way{"Cancel", [](DialogDriver& d) { d.Click(kCancel); }, true},
        Way{"close box", [](DialogDriver& d) { d.CloseBox(); }, true}}) {
    SCOPED_TRACE(name);
    ComPtr<IDispatch> collection = NewCollection({LI(L"one")});
    FrmConfig form(NewRecognizerRecord);
    Run(form, collection.Get(), [&](DialogDriver& d) {
      if (std::string(name) == "Enter") {
        // Enter goes to the default button once no push button has the focus.
        PostMessageW(d.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(d.List()), TRUE);
        ASSERT_TRUE(d.Sync());
        ASSERT_EQ(d.Focus(), d.List());
      }
      close(d);
    });
    EXPECT_EQ(form.Cancelled(), cancelled);
    EXPECT_TRUE(IsWindow(form.Window()));
  }
}

// ---- editing

TEST_F(TermsDialog, NewRenameCheckAndDeleteEditTheCallersRecords) {
  Show({{L"D", L""}, LI(L"QP"), LI(L"QUILLPOINT", L"yes"), LI(L"FIELD", L"")},
       [&](DialogDriver& d) {
         // New three times: numbered names, checked, each being edited when it comes.
         d.Click(kNew);
         EXPECT_EQ(d.Text(3), L"(New Term 1)");
         EXPECT_EQ(d.Selected(), 3);
         d.Type(L"Client Name");
         d.Key(VK_INSERT);  // the focus is on the list now
         EXPECT_EQ(d.Text(4), L"(New Term 2)");
         d.Type(L"Effective Date");
         d.Click(kNew);
         d.Type(L"ignored", false);  // abandoned: the term keeps its new-term name
         EXPECT_EQ(d.Texts(),
                   (std::vector<std::wstring>{L"QP", L"QUILLPOINT", L"FIELD", L"Client Name",
                                              L"Effective Date", L"(New Term 3)"}));
         EXPECT_EQ(d.Checks(), std::vector<bool>(6, true));

         // Renaming onto another term is refused with a message naming the term.
         ASSERT_TRUE(d.Select(2));
         d.Key(VK_F2);
         d.Type(L"qp");
         d.ExpectError(Message(112, L"FIELD"));
         EXPECT_EQ(d.Text(2), L"FIELD");

         // Unchecking writes "No" into the record at once (and selects the item); checking it again
         // writes "Yes".
         for (bool checked : {false, true, false}) {
           d.ClickCheckBox(1);
           EXPECT_EQ(d.Checks()[1], checked);
           EXPECT_EQ(d.Selected(), 1);
           EXPECT_EQ(ReadTerms(collection_.Get())[2].enabled, checked ? L"Yes" : L"No");
         }

         // Rename with the button; the record's Enabled comes from the check state.
         ASSERT_TRUE(d.Select(2));
         d.Click(kRename);
         d.Type(L"Field Name");
         EXPECT_EQ(d.Text(2), L"Field Name");
         ASSERT_TRUE(d.Select(3));
         d.Click(kRename);
         d.Type(L"Client Full Name");

         // Delete the last item: the new last one is selected.
         ASSERT_TRUE(d.Select(5));
         d.Key(VK_DELETE);
         EXPECT_EQ(d.Count(), 5);
         EXPECT_EQ(d.Selected(), 4);
         // Delete one in the middle with the button.
         ASSERT_TRUE(d.Select(1));
         d.Click(kDelete);
         EXPECT_EQ(d.Texts(), (std::vector<std::wstring>{L"QP", L"Field Name", L"Client Full Name",
                                                         L"Effective Date"}));
         d.Click(kOK);
       });
  EXPECT_FALSE(form_.Cancelled());
  EXPECT_EQ(form_.GetItems().Get(), collection_.Get());
  // What OK applies to the file: the terms that came and were deleted, renamed or checked
  // otherwise, in their order, then the new ones still there, in the order made.
  using namespace qp::harness;
  EXPECT_EQ(form_.GetEdits(),
            (std::vector<TermEdit>{Deleted(L"QUILLPOINT"), Changed(L"FIELD", L"Field Name", true),
                                   Added(L"Client Full Name"), Added(L"Effective Date")}));
  // Records in their order, the deleted ones gone, new ones appended; untouched records keep
  // their Enabled text as it came.
  EXPECT_EQ(ReadTerms(collection_.Get()), (std::vector<Term>{{L"D", L""},
                                                             LI(L"QP"),
                                                             LI(L"Field Name", L"Yes"),
                                                             LI(L"Client Full Name"),
                                                             LI(L"Effective Date")}));
}

TEST_F(TermsDialog, NewSkipsTakenNamesAndStopsAfterAThousand) {
  {
    ComPtr<IDispatch> collection = NewCollection({LI(L"(New Term 1)"), LI(L"(new term 3)")});
    FrmConfig form(NewRecognizerRecord);
    Run(form, collection.Get(), [&](DialogDriver& d) {
      for (int i = 0; i < 2; ++i) {
        d.Click(kNew);
        d.Type(L"", false);
      }
      // Names differing only in case count as taken, as terms are matched without case.
      EXPECT_EQ(d.Texts(), (std::vector<std::wstring>{L"(New Term 1)", L"(new term 3)",
                                                      L"(New Term 2)", L"(New Term 4)"}));
      d.Click(kOK);
    });
    EXPECT_EQ(ReadTerms(collection.Get()).size(), 4u);
  }
  {
    std::vector<Term> taken;
    for (int n = 1; n <= 1000; ++n)
      taken.push_back(LI(L"(New Term " + std::to_wstring(n) + L")"));
    Show(taken, [&](DialogDriver& d) {
      EXPECT_EQ(d.Count(), 1000);
      d.Click(kNew);
      d.Click(kNew);
      EXPECT_EQ(d.Count(), 1000);
      EXPECT_EQ(ListView_GetEditControl(d.List()), nullptr);
      d.Click(kOK);
    });
    EXPECT_EQ(ReadTerms(collection_.Get()).size(), 1000u);
  }
}

TEST_F(TermsDialog, DeletingRemovesTheLastLiOrLeRecordOfTheTermIfThereIsOne) {
  // The last "LI"/"LE" record of the term goes; "D" records of the same text stay.
  Show({{L"D", L"only"}, LI(L"only"), {L"LE", L"only"}, {L"D", L"other"}, LI(L"lost")},
       [&](DialogDriver& d) {
         ASSERT_EQ(d.Texts(), (std::vector<std::wstring>{L"only", L"lost"}));
         ASSERT_EQ(d.Selected(), 0);
         // The record of "lost" changes its class behind the dialog's back: no record is found for
         // it.
         PutByName(ByName(collection_.Get(), L"Item", {Variant::FromLong(5)}).AsObject().Get(),
                   L"ClassCode", Variant::FromString(L"D"));
         d.Key(VK_DELETE);  // the focus is on New: Delete there does nothing
         EXPECT_EQ(d.Count(), 2);
         for (int left : {1, 0}) {  // the one that took the deleted one's place is selected
           d.Click(kDelete);
           EXPECT_EQ(d.Count(), left);
           EXPECT_EQ(d.Selected(), left - 1);
         }
         EXPECT_FALSE(d.Enabled(kRename) || d.Enabled(kDelete));
         EXPECT_EQ(d.Focus(), d.List());
         // With the buttons disabled, the keys do nothing either.
         d.Key(VK_DELETE);
         d.Key(VK_F2);
         EXPECT_EQ(d.Count(), 0);
         EXPECT_EQ(ListView_GetEditControl(d.List()), nullptr);
         d.Click(kOK);
       });
  EXPECT_EQ(ReadTerms(collection_.Get()),
            (std::vector<Term>{{L"D", L"only"}, LI(L"only"), {L"D", L"other"}, {L"D", L"lost"}}));
}

TEST_F(TermsDialog, DeleteWithoutSelectionReportsAndTheMenuNeedsASelection) {
  Show({LI(L"one"), LI(L"two"), LI(L"three")}, [&](DialogDriver& d) {
    ASSERT_EQ(d.Selected(), 0);
    d.ClickBelowItems();
    ASSERT_EQ(d.Selected(), -1);
    // No selection: no context menu, and Delete reports instead of deleting.
    d.ClickBelowItems(true);
    EXPECT_TRUE(d.Sync());
    EXPECT_EQ(d.OpenMenu(), nullptr);
    d.Click(kDelete);
    d.ExpectError(kObjectNotSet);
    EXPECT_EQ(d.Count(), 3);

    // With a selection the menu offers Rename, which starts editing the item.
    d.ClickItem(1, true);
    HWND menu = nullptr;
    ASSERT_TRUE(d.Await("the context menu", [&] { return (menu = d.OpenMenu()) != nullptr; }));
    EXPECT_EQ(d.Selected(), 1);
    HMENU items = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
    ASSERT_EQ(GetMenuItemCount(items), 1);
    wchar_t text[32] = {};
    GetMenuStringW(items, 0, text, 32, MF_BYPOSITION);
    EXPECT_STREQ(text, L"&Rename");
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    d.Type(L"deux");
    EXPECT_EQ(d.Texts(), (std::vector<std::wstring>{L"one", L"deux", L"three"}));
    d.Key(VK_ESCAPE);
  });
  EXPECT_TRUE(form_.Cancelled());
  // Cancel writes nothing back, but the records were edited in place all the same.
  EXPECT_EQ(ReadTerms(collection_.Get())[1].value, L"deux");
}

TEST_F(TermsDialog, TheHeaderSortsAndShowsTheArrowOfTheOrder) {
  Show({LI(L"delta"), LI(L"Alpha"), LI(L"charlie", L"No"), LI(L"Bravo")}, [&](DialogDriver& d) {
    // Up, down, up again; the check states travel with their terms.
    const std::vector<std::wstring> up = {L"Alpha", L"Bravo", L"charlie", L"delta"};
    const std::vector<std::wstring> down(up.rbegin(), up.rend());
    const std::vector<bool> upChecks = {true, true, false, true};
    for (int arrow : {0, 1, 0}) {
      d.ClickHeader();
      EXPECT_EQ(d.Texts(), arrow ? down : up);
      EXPECT_EQ(d.Checks(),
                arrow ? std::vector<bool>(upChecks.rbegin(), upChecks.rend()) : upChecks);
      EXPECT_EQ(Arrow(d), arrow);
      EXPECT_EQ(
          d.HeaderItem().fmt & (HDF_STRING | HDF_BITMAP_ON_RIGHT | HDF_IMAGE | HDF_JUSTIFYMASK),
          HDF_STRING | HDF_BITMAP_ON_RIGHT | HDF_IMAGE | HDF_LEFT);
    }
    // Adding, renaming and deleting terms keep the arrow.
    d.Click(kNew);
    d.Type(L"Echo");
    EXPECT_EQ(Arrow(d), 0);
    d.ClickHeader();
    EXPECT_EQ(Arrow(d), 1);
    auto at = [&](const std::wstring& text) {
      const auto texts = d.Texts();
      return static_cast<int>(std::find(texts.begin(), texts.end(), text) - texts.begin());
    };
    ASSERT_TRUE(d.Select(at(L"Echo")));
    d.Click(kRename);
    d.Type(L"Foxtrot");
    EXPECT_EQ(Arrow(d), 1);
    ASSERT_TRUE(d.Select(at(L"delta")));
    d.Click(kDelete);
    EXPECT_EQ(d.Count(), 4);
    EXPECT_EQ(Arrow(d), 1);
    d.Click(kOK);
  });
  // The records keep their order.
  EXPECT_EQ(ReadTerms(collection_.Get()),
            (std::vector<Term>{LI(L"Alpha"), LI(L"charlie", L"No"), LI(L"Bravo"), LI(L"Foxtrot")}));
}

// ---- help

// Records the HtmlHelpW calls of the program's own code (its import-table entry replaced) and
// passes each on to HTML Help. They come on the dialog's thread, which is this one.
class HtmlHelpSpy {
 public:
  struct Call {
    HWND window;
    std::wstring file;
    UINT command;
    DWORD popupId;  // HH_POPUP.idString, for HH_DISPLAY_TEXT_POPUP
  };
  HtmlHelpSpy() {
    real_ = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"hhctrl.ocx"), "HtmlHelpW")));
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name && !slot_; ++d)
      for (auto* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk); t->u1.Function; ++t)
        if (reinterpret_cast<void*>(t->u1.Function) == reinterpret_cast<void*>(real_))
          slot_ = reinterpret_cast<void**>(&t->u1.Function);
    calls.clear();
    DWORD old = 0;  // the entry stays writable, for the destructor to put back
    if (slot_ && VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old))
      *slot_ = reinterpret_cast<void*>(&Record);
  }
  ~HtmlHelpSpy() {
    if (slot_) *slot_ = reinterpret_cast<void*>(real_);
  }
  bool Installed() const { return slot_ != nullptr; }
  static inline std::vector<Call> calls;

 private:
  using Fn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  static HWND WINAPI Record(HWND window, LPCWSTR file, UINT command, DWORD_PTR data) {
    const bool popup = command == HH_DISPLAY_TEXT_POPUP && data;
    calls.push_back({window, file ? file : L"", command,
                     popup ? reinterpret_cast<const HH_POPUP*>(data)->idString : 0});
    return real_(window, file, command, data);
  }
  static inline Fn real_ = nullptr;
  void** slot_ = nullptr;
};

// A window of the class among this process's visible top-level windows (or their descendants).
HWND FindWindowOfClass(const wchar_t* className, bool descendant = false, HWND parent = nullptr) {
  for (HWND w : descendant ? ChildrenOf(parent) : OpenWindows())
    if (ClassOf(w) == className) return w;
  return nullptr;
}

TEST_F(TermsDialog, F1OpensTheHelpFilesContentsAndLeavesTheWhatsThisTopicsAsTheyWere) {
  Show({LI(L"one")}, [&](DialogDriver& d) {
    for (int id : {kNew, kList, kOK}) {
      PostMessageW(d.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(d.Control(id)), TRUE);
      ASSERT_TRUE(d.Sync());
      ASSERT_EQ(d.Focus(), d.Control(id));
      d.Key(VK_F1);
      // The viewer at the contents of nvauthor.chm: its window title and its table of contents,
      // as the help sources define them.
      HWND help = nullptr, contents = nullptr;
      ASSERT_TRUE(WaitUntil(
          "the help window with its table of contents, for control " + std::to_string(id), [&] {
            help = FindWindowOfClass(L"HH Parent");
            contents = help ? FindWindowOfClass(WC_TREEVIEWW, true, help) : nullptr;
            RECT pane = {};
            if (contents) GetClientRect(contents, &pane);
            return contents && IsWindowVisible(contents) && pane.right > 100;
          }));
      EXPECT_EQ(WindowText(help), L"Quillpoint Smart Tag Help");
      wchar_t root[64] = {};
      TVITEMW item = {TVIF_TEXT, TreeView_GetRoot(contents), 0, 0, root, 64};
      TreeView_GetItem(contents, &item);
      EXPECT_STREQ(root, L"Quillpoint Smart Tag");
      PostMessageW(help, WM_CLOSE, 0, 0);
      ASSERT_TRUE(WaitUntil("the help window to close", [&] { return !IsWindow(help); }));
      EXPECT_TRUE(IsWindowVisible(d.Dialog()));
    }
    for (auto [id, topic] : kTopics)
      EXPECT_EQ(GetWindowContextHelpId(d.Control(id)), topic) << id;
    d.Click(kCancel);
  });
}

// Wine's HTML Help draws no text pop-ups (HH_DISPLAY_TEXT_POPUP does nothing there), so this
// test checks the request itself: What's-This on a control asks HtmlHelp for the pop-up topic
// with the control's id, from the pop-up topics of the component's help file.
TEST_F(TermsDialog, WhatsThisAsksHtmlHelpForTheControlsPopUpTopic) {
  // The component's help file, as creating a Controller sets it.
  SetAppHelpFile(GetHelpFilePath(kHelpFileName, true));
  HtmlHelpSpy spy;
  ASSERT_TRUE(spy.Installed()) << "the program does not import HtmlHelpW";
  Show({LI(L"one")}, [&](DialogDriver& d) {
    for (auto [id, topic] : kTopics) {
      // What Windows sends when the user clicks the caption's "?" and then the control.
      HWND control = d.Control(id);
      RECT r;
      GetWindowRect(control, &r);
      HELPINFO info = {sizeof info, HELPINFO_WINDOW, id, control, GetWindowContextHelpId(control)};
      info.MousePos = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
      SendMessageW(control, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    }
    d.Click(kCancel);
  });
  const auto& calls = spy.calls;
  const std::string popups = Narrow(BinFolder() + L"\\1033\\nvauthor.chm::/popups.txt");
  ASSERT_EQ(calls.size(), kTopics.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(kTopics[i].first);
    EXPECT_EQ(calls[i].command, static_cast<UINT>(HH_DISPLAY_TEXT_POPUP));
    EXPECT_EQ(calls[i].popupId, kTopics[i].second);
    EXPECT_STRCASEEQ(Narrow(calls[i].file).c_str(), popups.c_str());
    EXPECT_NE(calls[i].window, nullptr);
  }
  SetAppHelpFile(L"");
}

// ---- the user's terms through Word: verb 2 on a tag, the configuration file and the flag

class TermsThroughWord : public TermsDialog {
 protected:
  void SetUp() override {
    TermsDialog::SetUp();
    ResetProductState();
    ASSERT_HRESULT_SUCCEEDED(qp::host::CreateAction(kActionProgId, action_.GetAddressOf()));
    word_.SetDocumentType(qp::host::kWordTemplate);
    ASSERT_HRESULT_SUCCEEDED(word_.AddNorvaneAddIn());
    SetQuillpoints({L"Client Name"});  // and the add-in's log of calls
  }
  // The user picks "Maintain Recognizer Terms" on a tag; the script uses the dialog.
  void MaintainTerms(const std::function<void(DialogDriver&)>& script) {
    auto range = word_.NewRange(L"QP");
    HRESULT hr = E_FAIL;
    RunDialog(
        caption_,
        [&] {
          hr = qp::host::InvokeVerbOnTag(action_.Get(), 2, qp::host::kWordProgId, range.Get(),
                                         L"QP");
        },
        script);
    EXPECT_HRESULT_SUCCEEDED(hr);
    EXPECT_EQ(word_.Selection(), L"");  // the verb leaves the document and the add-in alone
    EXPECT_TRUE(AddInCalls().empty());
  }

  ComPtr<ISmartTagAction> action_;
  qp::host::WordStandIn word_;
};

const Term kDerived = {L"D", L""};

TEST_F(TermsThroughWord, CancelWritesNothingAndOkMakesTheListTheTermsOfTheFileAndRaisesTheFlag) {
  for (bool ok : {false, true}) {
    SCOPED_TRACE(ok ? "OK" : "close box");
    std::string before;
    std::wstring flag;
    MaintainTerms([&](DialogDriver& d) {
      // The terms of the default configuration, written to the file when the verb came.
      EXPECT_EQ(d.Texts(), (std::vector<std::wstring>{L"QP", L"QUILLPOINT", L"FIELD"}));
      before = FileBytes(ConfigPath());
      flag = GetSetting(HKEY_CURRENT_USER, kFlag);
      d.ClickCheckBox(0);
      ASSERT_FALSE(d.Checks()[0]);
      d.Click(kNew);
      d.Type(L"Client Name");
      if (!ok) return d.CloseBox();
      ASSERT_TRUE(d.Select(1));
      d.Click(kDelete);
      ASSERT_EQ(d.Count(), 3);
      d.Click(kOK);
    });
    EXPECT_NE(before, "(missing)");
    if (ok) continue;
    EXPECT_EQ(FileBytes(ConfigPath()), before);
    EXPECT_EQ(GetSetting(HKEY_CURRENT_USER, kFlag), flag);
  }
  EXPECT_EQ(TermsInFile(),
            (std::vector<Term>{kDerived, LI(L"QP", L"No"), LI(L"FIELD"), LI(L"Client Name")}));
  EXPECT_FALSE(GetSetting(HKEY_CURRENT_USER, kFlag).empty());

  // Every shown term deleted: the derived entry is all that is left.
  MaintainTerms([&](DialogDriver& d) {
    ASSERT_EQ(d.Count(), 3);
    for (int left = 3; left > 0; --left) {
      ASSERT_TRUE(d.Select(0));
      d.Click(kDelete);
      ASSERT_EQ(d.Count(), left - 1);
    }
    d.Click(kOK);
  });
  EXPECT_EQ(TermsInFile(), std::vector<Term>{kDerived});
}

TEST_F(TermsThroughWord, OkAddsTheUsersEditsToWhatAnotherProcessSavedBeforeTheDialogOrInIt) {
  MaintainTerms([](DialogDriver& d) { d.Click(kCancel); });  // this process has read the terms
  int run = 0;
  for (bool during : {false, true})
    for (bool edit : {false, true}) {
      SCOPED_TRACE(std::string(during ? "saved while open" : "saved before") +
                   (edit ? ", one edit" : ", no edit"));
      // The other process renames the last term; the user here unchecks or checks the first.
      const std::wstring renamed = L"B" + std::to_wstring(++run) + L"1";
      std::vector<Term> expected = TermsInFile();
      expected.back().value = renamed;
      if (edit) expected[1].enabled = expected[1].enabled == L"Yes" ? L"No" : L"Yes";
      Saver other(1, L"mark:B" + std::to_wstring(run));
      if (!during) {
        ASSERT_TRUE(other.Succeeds());
      }
      MaintainTerms([&](DialogDriver& d) {
        if (during) {
          EXPECT_TRUE(other.Succeeds());
        } else {
          EXPECT_EQ(d.Texts().back(), renamed);  // opened on the file as it is
        }
        if (edit) d.ClickCheckBox(0);
        d.Click(kOK);
      });
      EXPECT_EQ(TermsInFile(), expected);
    }
}

TEST_F(TermsThroughWord, OkRefusedWhileAnotherSaveHoldsOnKeepsTheEditsUntilTheHolderEnds) {
  Saver holder(0, L"hold");  // stuck, as a save that never ends
  ASSERT_TRUE(holder.Saving());
  MaintainTerms([&](DialogDriver& d) {
    d.ClickCheckBox(0);
    d.Click(kOK);
    d.ExpectError(SystemMessage(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)) + L" " + ConfigPath());
    EXPECT_TRUE(IsWindowVisible(d.Dialog()));
    EXPECT_EQ(d.Checks(), (std::vector<bool>{false, true, true}));
    holder.Kill();  // the lock goes with its owner
    d.Click(kOK);
  });
  EXPECT_EQ(TermsInFile(),
            (std::vector<Term>{kDerived, LI(L"QP", L"No"), LI(L"QUILLPOINT"), LI(L"FIELD")}));
}

TEST_F(TermsThroughWord, AConfigurationWithoutTermsCannotTakeANewOne) {
  // No term records at all: the dialog keeps no collection, and OK has nothing to hand back.
  const std::string file =
      "<?xml version=\"1.0\"?>\r\n<SmartTagConfig><Caption>Norvane Quillpoint</Caption>"
      "<Name>urn:norvane:quillpoint:smarttag#insertquillpoint</Name><RecognizerProvider>"
      "<Recognizers><!-- none --></Recognizers></RecognizerProvider></SmartTagConfig>\r\n";
  WriteConfig(file);
  MaintainTerms([&](DialogDriver& d) {
    EXPECT_EQ(d.Count(), 0);
    d.Click(kOK);
    d.ExpectError(kObjectNotSet);
  });
  EXPECT_EQ(FileBytes(ConfigPath()), file);
  EXPECT_EQ(GetSetting(HKEY_CURRENT_USER, kFlag), L"");
}

}  // namespace
