#include "ui/term_editor.h"

#include <algorithm>

#include "platform/error.h"
#include "platform/error_display.h"

namespace qp::ui {
using namespace qp::platform;
using namespace qp::config;
namespace {

// Items carry a key made of this and their term, as the dialog's list always has.
constexpr wchar_t kKeyPrefix[] = L"nv_";
constexpr short kMaxNewTerms = 1000;

std::wstring KeyIdentity(const std::wstring& key) {
  return Upper(key);
}

std::wstring RecordText(IDispatch* record, const wchar_t* name) {
  return Call(record, name).AsString();
}

// The collection's records by 1-based position.
long RecordCount(IDispatch* records) {
  if (!records) RaiseObjectNotSet();
  return Call(records, L"Count").AsLong();
}
ComPtr<IDispatch> RecordAt(IDispatch* records, long position) {
  ComPtr<IDispatch> record = Call(records, L"Item", {Variant::FromLong(position)}).AsObject();
  if (!record) RaiseObjectNotSet();
  return record;
}

}  // namespace

struct TermEditor::Item {
  std::wstring key;
  std::wstring tag;  // the term as last written to its record
  // Where the term came from: its text and state from the collection (`made` 0), or the
  // user's New (`made` its number); `order` its place among those.
  std::wstring origin;
  bool checked = true;
  long made = 0, order = 0;
};

long TermEditor::CountRecords(IDispatch* records) {
  try {
    return records ? RecordCount(records) : 0;
  } catch (...) {
    ShowCaughtError(L"");
    return -1;
  }
}

void TermEditor::Fill(IDispatch* records, long count) {
  m_iNewTermCounter = 0;
  m_lMadeTerms = 0;
  m_aDeleted.clear();
  m_lvTerms.DeleteAll();
  for (long i = 1; i <= count; ++i) {
    ComPtr<IDispatch> record = RecordAt(records, i);
    if (RecordText(record.Get(), L"ClassCode") != L"LI") continue;
    const std::wstring value = RecordText(record.Get(), L"Value");
    const int item = AddItem(value);
    if (item < 0) continue;  // a second record of the same term gets no item
    const bool checked = Upper(RecordText(record.Get(), L"Enabled")) != L"NO";
    m_lvTerms.SetChecked(item, checked);
    Item& data = ItemData(item);
    data.tag = data.origin = value;
    data.checked = checked;
    data.order = i;
  }
  m_colRecognizers = records;
}

int TermEditor::AddNewTerm() {
  ComPtr<IDispatch> record = m_fnNewRecord();
  std::wstring name;
  int item = -1;
  while (m_iNewTermCounter < kMaxNewTerms) {
    ++m_iNewTermCounter;
    name = L"(New Term " + std::to_wstring(m_iNewTermCounter) + L")";
    m_lvTerms.DeselectAll();
    item = AddItem(name);
    if (item >= 0) {
      m_lvTerms.Select(item);
      break;
    }
  }
  if (item < 0) return -1;  // every number is used
  try {
    Put(record.Get(), L"Enabled", Variant::FromString(L"Yes"));
    Put(record.Get(), L"ClassCode", Variant::FromString(L"LI"));
    Put(record.Get(), L"CaseSensitive", Variant::FromString(L"Yes"));
    Put(record.Get(), L"mask", Variant::FromString(L""));
    Put(record.Get(), L"Value", Variant::FromString(name));
    if (!m_colRecognizers) RaiseObjectNotSet();
    Call(m_colRecognizers.Get(), L"Add", {Variant::FromObject(record.Get())});
    m_lvTerms.SetChecked(item, true);
    Item& data = ItemData(item);
    data.tag = name;
    data.made = data.order = ++m_lMadeTerms;
    return item;
  } catch (...) {
    ShowCaughtError(L"");
    return -1;
  }
}

void TermEditor::DeleteSelectedTerms() {
  try {
    const int position = m_lvTerms.Selected();
    if (position < 0) RaiseObjectNotSet();
    for (int i = m_lvTerms.Count() - 1; i >= 0; --i) {
      if (!m_lvTerms.IsSelected(i)) continue;
      const Item& data = ItemData(i);
      const std::wstring tag = data.tag;
      if (!data.made)
        m_aDeleted.push_back({data.order, {data.origin, true, data.origin, data.checked, false}});
      for (long r = RecordCount(m_colRecognizers.Get()); r >= 1; --r) {
        ComPtr<IDispatch> record = RecordAt(m_colRecognizers.Get(), r);
        const std::wstring classCode = RecordText(record.Get(), L"ClassCode");
        if (RecordText(record.Get(), L"Value") == tag &&
            (classCode == L"LI" || classCode == L"LE")) {
          Call(m_colRecognizers.Get(), L"Remove", {Variant::FromLong(r)});
          break;
        }
      }
      m_lvTerms.Delete(i);
    }
    const int count = m_lvTerms.Count();
    if (count > 0) {
      // The item that took the deleted one's place, or the new last one.
      m_lvTerms.Select(position + 1 < count ? position : count - 1);
    } else {
      SetFocus(m_lvTerms.Handle());
    }
  } catch (...) {
    ShowCaughtError(L"");
  }
}

void TermEditor::RenameTerm(int item, const std::wstring& text) {
  try {
    if (!SetItemKey(item, kKeyPrefix + text))
      Raise({kErrKeyNotUnique, L"ListItem", L"Key is not unique in collection"});
  } catch (...) {
    ShowCaughtError(m_lvTerms.Text(item));
    return;
  }
  m_lvTerms.SetText(item, text);
  UpdateTermFromItem(item);
}

void TermEditor::UpdateTermFromItem(int item) {
  try {
    Item& data = ItemData(item);
    const long count = RecordCount(m_colRecognizers.Get());
    for (long r = 1; r <= count; ++r) {
      ComPtr<IDispatch> record = RecordAt(m_colRecognizers.Get(), r);
      if (RecordText(record.Get(), L"Value") != data.tag) continue;
      const std::wstring text = m_lvTerms.Text(item);
      Put(record.Get(), L"Value", Variant::FromString(text));
      data.tag = text;
      Put(record.Get(), L"Enabled", Variant::FromString(m_lvTerms.Checked(item) ? L"Yes" : L"No"));
    }
  } catch (...) {
    ShowCaughtError(L"");
  }
}

std::vector<TermEdit> TermEditor::Edits() const {
  std::vector<std::pair<long, TermEdit>> came = m_aDeleted, made;
  for (int i = 0; i < m_lvTerms.Count(); ++i) {
    const Item& data = ItemData(i);
    const TermEdit edit{data.made ? L"" : data.origin, false, m_lvTerms.Text(i),
                        m_lvTerms.Checked(i), m_lvTerms.Checked(i) != data.checked};
    if (data.made) {
      made.push_back({data.order, edit});
    } else if (edit.text != data.origin || edit.checkChanged) {
      came.push_back({data.order, edit});
    }
  }
  auto byOrder = [](const auto& a, const auto& b) { return a.first < b.first; };
  std::sort(came.begin(), came.end(), byOrder);
  std::sort(made.begin(), made.end(), byOrder);
  std::vector<TermEdit> edits;
  for (const auto& list : {came, made})
    for (const auto& [order, edit] : list)
      edits.push_back(edit);
  return edits;
}

void TermEditor::ItemDeleted(LPARAM param) {
  if (auto* item = reinterpret_cast<Item*>(param)) {
    m_dicKeys.erase(KeyIdentity(item->key));
    delete item;
  }
}

void TermEditor::Clear() {
  m_dicKeys.clear();
}

int TermEditor::AddItem(const std::wstring& text) {
  const std::wstring key = kKeyPrefix + text;
  const std::wstring identity = KeyIdentity(key);
  if (m_dicKeys.count(identity)) return -1;
  auto* data = new Item{key, L"", L""};
  const int added = m_lvTerms.Insert(text, reinterpret_cast<LPARAM>(data));
  if (added < 0) {
    delete data;
    return -1;
  }
  m_dicKeys.insert(identity);
  return added;
}

TermEditor::Item& TermEditor::ItemData(int item) const {
  auto* data = reinterpret_cast<Item*>(m_lvTerms.Param(item));
  if (!data) Raise({static_cast<long>(E_FAIL), L"ListView", L"No such item"});
  return *data;
}

bool TermEditor::SetItemKey(int item, const std::wstring& key) {
  Item& data = ItemData(item);
  const std::wstring identity = KeyIdentity(key), own = KeyIdentity(data.key);
  if (identity != own && m_dicKeys.count(identity)) return false;
  m_dicKeys.erase(own);
  m_dicKeys.insert(identity);
  data.key = key;
  return true;
}

}  // namespace qp::ui
