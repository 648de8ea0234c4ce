// The store's records and the document's elements: an element read into a record, a record
// written into an element, a list of the records of one path.
#pragma once

#include <string>
#include <vector>

#include "config/config.h"
#include "config/records.h"
#include "config/term_merge.h"
#include "config/xml_document.h"
#include "platform/automation.h"
#include "platform/product.h"

namespace qp::config {

inline constexpr wchar_t kRecognizerPath[] =
    L"SmartTagConfig/RecognizerProvider/Recognizers/Recognizer";
inline constexpr wchar_t kRecognizersPath[] = L"SmartTagConfig/RecognizerProvider/Recognizers";
inline constexpr wchar_t kActionPath[] = L"SmartTagConfig/ActionProvider/Actions/Action";
inline constexpr wchar_t kActionsPath[] = L"SmartTagConfig/ActionProvider/Actions";
inline constexpr long kErrTypeMismatch = 13;

bool IsEnabled(const std::wstring& text);
std::wstring TextOf(IXMLDOMNode* node);
ComPtr<IXMLDOMNode> SelectFirst(IXMLDOMDocument2* doc, const std::wstring& xql);
// The value of the element's attribute of exactly that name; "" when either is missing.
std::wstring GetAttribute(IXMLDOMNode* node, const wchar_t* name);

template <class Iface>
std::wstring ReadText(Iface* record, HRESULT (STDMETHODCALLTYPE Iface::*get)(BSTR*)) {
  platform::Bstr text;
  platform::Check((record->*get)(text.Out()));
  return text.Str();
}

template <class Iface>
void WriteText(Iface* record, HRESULT (STDMETHODCALLTYPE Iface::*put)(BSTR),
               const std::wstring& value) {
  platform::Bstr text(value);
  platform::Check((record->*put)(text.Get()));
}

// The record as the interface the store reads; anything else is a type mismatch.
template <class Iface>
ComPtr<Iface> RecordAs(IDispatch* record, REFIID iid) {
  if (!record) platform::RaiseObjectNotSet();
  ComPtr<Iface> typed;
  if (FAILED(record->QueryInterface(iid, reinterpret_cast<void**>(typed.GetAddressOf()))))
    platform::Raise({kErrTypeMismatch, platform::kLibraryName, L"Type mismatch"});
  return typed;
}

// For Each over any automation collection.
ComPtr<IEnumVARIANT> Enumerate(IDispatch* collection);

// A list of one record per element at `path`, in document order, optionally only the enabled.
template <class Make>
ComPtr<Records> BuildList(IXMLDOMDocument2* doc, const wchar_t* path, bool enabledOnly, Make make) {
  ComPtr<Records> list = Records::New();
  ComPtr<IXMLDOMNodeList> nodes;
  platform::Bstr query(path);
  platform::Check(doc->selectNodes(query.Get(), nodes.GetAddressOf()));
  for (;;) {
    ComPtr<IXMLDOMNode> node;
    platform::Check(nodes->nextNode(node.GetAddressOf()));
    if (!node) break;
    std::wstring enabled;
    ComPtr<IDispatch> record = make(node.Get(), enabled);
    if (enabledOnly && !IsEnabled(enabled)) continue;
    list->Append(record.Get());
  }
  return list;
}

// The term records of the document.
ComPtr<Records> RecognizerList(IXMLDOMDocument2* doc, bool enabledOnly);
// Writes a term record into a copy of a term element; the record's CaseSensitive is not read:
// every term is written "Yes".
void FillRecognizer(IXMLDOMNode* element, IDispatch* item);
// A list of term records as plain values, and back.
std::vector<TermRecord> TermRecordsOf(IDispatch* list);
ComPtr<Records> ListOf(const std::vector<TermRecord>& records);

}  // namespace qp::config
