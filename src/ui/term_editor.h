// The terms dialog's editing of the store's term records: it keeps the list's items and the
// records of the collection in step, one "LI" record per item. Every routine reports its own
// failures in the component's error box, as the dialog's routines do.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "config/terms_dialog.h"
#include "platform/automation.h"
#include "ui/list_view.h"

namespace qp::ui {

class TermEditor {
 public:
  TermEditor(ListView& list, config::NewRecord newRecord)
      : m_lvTerms(list), m_fnNewRecord(newRecord) {}

  // The collection Fill kept, with the user's edits; none when it kept none.
  ComPtr<IDispatch> Records() const { return m_colRecognizers; }
  // What the user did to each term since Fill, as OK applies it to the file.
  std::vector<config::TermEdit> Edits() const;

  // The number of records of the collection; reports a failure and gives -1.
  long CountRecords(IDispatch* records);
  // One item for each "LI" record of the collection (one for each term), checked when the
  // record is enabled; keeps the collection.
  void Fill(IDispatch* records, long count);
  // A new enabled record named "(New Term n)" and its item, selected; -1 when none was added.
  int AddNewTerm();
  // Removes the selected items and each one's record.
  void DeleteSelectedTerms();
  // The user renamed the item: a term already in the list is refused with the component's error
  // box; otherwise the item and its record take the text.
  void RenameTerm(int item, const std::wstring& text);
  // The item's text and check state into its record.
  void UpdateTermFromItem(int item);
  // The list let an item go (its parameter): what the editor kept of it goes too.
  void ItemDeleted(LPARAM param);
  void Clear();

 private:
  struct Item;  // what the editor keeps per item besides its text and check state

  int AddItem(const std::wstring& text);               // -1 when the term is in the list
  Item& ItemData(int item) const;                      // raises when there is no such item
  bool SetItemKey(int item, const std::wstring& key);  // false when another item has it

  ListView& m_lvTerms;
  config::NewRecord m_fnNewRecord;
  ComPtr<IDispatch> m_colRecognizers;
  short m_iNewTermCounter = 0;
  long m_lMadeTerms = 0;  // terms the user added, for their order
  // The terms that came and that the user deleted, by their place among those that came.
  std::vector<std::pair<long, config::TermEdit>> m_aDeleted;
  // Item keys in use (compared as the recognizer compares terms, without regard to case).
  std::unordered_set<std::wstring> m_dicKeys;
};

}  // namespace qp::ui
