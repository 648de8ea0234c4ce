// The platform's XML parser as the store uses it: a DOM document created by ProgID, and the
// parse failure of a load (reason and offending line).
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <optional>
#include <string>

#include "platform/automation.h"

namespace qp::config {

// mingw's msxml2.h declares these identifiers without defining them.
inline constexpr IID kIID_IXMLDOMDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
inline constexpr IID kIID_IXMLDOMElement = {
    0x2933bf86, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
inline constexpr IID kIID_ISAXXMLReader = {
    0xa4f96ed0, 0xf829, 0x476e, {0x81, 0xc0, 0xcd, 0xc7, 0xbd, 0x2a, 0x08, 0x02}};
inline constexpr IID kIID_ISAXErrorHandler = {
    0xa60511c4, 0xccf5, 0x479e, {0x98, 0xa3, 0xdc, 0x8d, 0xc5, 0x45, 0xb7, 0xd0}};

inline constexpr wchar_t kDomDocumentProgId[] = L"MSXML2.DOMDocument";
inline constexpr wchar_t kSaxReaderProgId[] = L"MSXML2.SAXXMLReader";

// A new, empty DOM document that resolves no external entity and validates nothing.
ComPtr<IXMLDOMDocument2> NewXmlDocument();

struct ParseFailure {
  std::wstring reason;   // why the file is not well-formed
  std::wstring srcText;  // the text of the offending line, "" when unknown
};

// Loads the file at `path` into `doc`, synchronously; the failure when the file cannot be read,
// is not well-formed, or has a document type declaration (refused before the parser sees it).
std::optional<ParseFailure> LoadXmlFile(IXMLDOMDocument2* doc, const std::wstring& path);

// A document type declaration before the root, found in the bytes of a file in whatever
// encoding the parser would read it; a configuration never needs one, and the entities it may
// declare could make the parser expand without end or fetch other files.
std::optional<ParseFailure> FindDocumentTypeDeclaration(const std::string& bytes);

// What went wrong when `doc` failed to load the file at `path`. Parsers that report no position
// for the failure are helped out by the same parser's SAX reader, which does.
ParseFailure DescribeParseFailure(IXMLDOMDocument2* doc, const std::wstring& path);

// Line `line` (1-based) of the file, without its line break; "" when there is no such line.
std::wstring FileLine(const std::wstring& path, long line);

}  // namespace qp::config
