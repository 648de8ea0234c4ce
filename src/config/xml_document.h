// The platform's XML parser as the store uses it: a DOM document created by ProgID, and the
// parse failure of a load (reason and offending line).
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>

#include "platform/automation.h"

namespace qp {

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

// A new, empty DOM document.
ComPtr<IXMLDOMDocument2> NewXmlDocument();

// Loads the file at `path` into `doc`, synchronously; false when the file cannot be read or is
// not well-formed, and the document's parse error then says why.
bool LoadXmlFile(IXMLDOMDocument2* doc, const std::wstring& path);

struct ParseFailure {
  std::wstring reason;   // why the file is not well-formed
  std::wstring srcText;  // the text of the offending line, "" when unknown
};

// What went wrong when `doc` failed to load the file at `path`. Parsers that report no position
// for the failure are helped out by the same parser's SAX reader, which does.
ParseFailure DescribeParseFailure(IXMLDOMDocument2* doc, const std::wstring& path);

// Line `line` (1-based) of the file, without its line break; "" when there is no such line.
std::wstring FileLine(const std::wstring& path, long line);

}  // namespace qp
