// The store's term records as the tests build and read them: a record from five texts, a
// collection of records, the terms of a collection, and the terms a configuration file holds
// (read with the XML parser, not with the store).
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace qp::test {

struct Term {
  std::wstring classCode, value, enabled = L"Yes", caseSensitive = L"Yes", mask;
  bool operator==(const Term&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Term& t);

// An enabled literal term ("LI") as the store writes it.
inline Term LI(const std::wstring& value, const std::wstring& enabled = L"Yes") {
  return {L"LI", value, enabled};
}

qp::ComPtr<IDispatch> NewRecord(const Term& t);
qp::ComPtr<IDispatch> NewCollection(const std::vector<Term>& terms);
// The records of a collection, through Count and Item by name.
std::vector<Term> ReadTerms(IDispatch* collection);
// The user's configuration file as the platform's parser loads it from its path, or null.
qp::ComPtr<IDispatch> ParsedConfig();
// The <Recognizer> elements of the user's configuration file.
std::vector<Term> TermsInFile();

}  // namespace qp::test
