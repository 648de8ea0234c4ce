// OK in the terms dialog: the user's own edits applied to the terms of the file as it is at that
// moment, so that what another process saved meanwhile stays.
#pragma once

#include <string>
#include <vector>

#include "config/terms_dialog.h"

namespace qp::config {

// A term record of the file, of any class code.
struct TermRecord {
  std::wstring classCode, enabled, mask, value;
};

// Terms are told apart by their text, without regard to case, as the dialog's list and the
// recognizer tell them apart; only "LI" records are the dialog's terms.
// - A term the user did not touch stays as the records have it.
// - A term the user deleted loses its "LI" records; a term the user renamed or checked otherwise
//   gets the user's text and state, and where the records no longer have it, it is added back.
// - A term the user added is appended after the records, in the order made; where the records
//   have that text already, that record takes the user's check state.
// - Where the user's text is the text of another "LI" record, there is one record, the first,
//   with the user's text and state. Records of other class codes are never touched.
void ApplyTermEdits(std::vector<TermRecord>& records, const std::vector<TermEdit>& edits);

}  // namespace qp::config
