#include "config/term_merge.h"

#include "platform/automation.h"

namespace qp::config {
using namespace qp::platform;
namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

bool SameTerm(const std::wstring& a, const std::wstring& b) {
  return Upper(a) == Upper(b);
}

}  // namespace

void ApplyTermEdits(std::vector<TermRecord>& records, const std::vector<TermEdit>& edits) {
  std::vector<bool> removed(records.size(), false);
  auto find = [&](const std::wstring& text) {
    for (size_t i = 0; i < records.size(); ++i)
      if (!removed[i] && records[i].classCode == L"LI" && SameTerm(records[i].value, text))
        return i;
    return kNone;
  };
  // Every term is found by the text it came with before any text changes, so that edits that
  // pass texts around (A renamed to B, B renamed to A) each find their own record.
  std::vector<size_t> found(edits.size(), kNone);
  for (size_t e = 0; e < edits.size(); ++e)
    if (!edits[e].term.empty()) found[e] = find(edits[e].term);
  for (const TermEdit& edit : edits)
    if (edit.deleted)
      for (size_t r = find(edit.term); r != kNone; r = find(edit.term))
        removed[r] = true;

  std::vector<size_t> users;  // the records that carry the user's text and state
  for (size_t e = 0; e < edits.size(); ++e) {
    const TermEdit& edit = edits[e];
    if (edit.deleted) continue;
    size_t r = edit.term.empty() ? find(edit.text) : found[e];
    if (r == kNone || removed[r]) {
      r = records.size();
      records.push_back({L"LI", L"", L"", L""});
      removed.push_back(false);
    }
    records[r].value = edit.text;
    records[r].enabled = edit.enabled ? L"Yes" : L"No";
    users.push_back(r);
  }
  // One record per term: the first of the text takes the user's text and state.
  for (size_t r : users) {
    if (removed[r]) continue;
    const TermRecord mine = records[r];
    const size_t first = find(mine.value);
    for (size_t i = first + 1; i < records.size(); ++i)
      if (!removed[i] && records[i].classCode == L"LI" && SameTerm(records[i].value, mine.value))
        removed[i] = true;
    records[first].value = mine.value;
    records[first].enabled = mine.enabled;
  }

  std::vector<TermRecord> kept;
  for (size_t i = 0; i < records.size(); ++i)
    if (!removed[i]) kept.push_back(std::move(records[i]));
  records = std::move(kept);
}

}  // namespace qp::config
