#include "config/record_elements.h"

namespace qp::config {
using namespace qp::platform;
namespace {

// Overwrites an attribute the element already has; a missing one is a failure.
void OverwriteAttribute(IXMLDOMNamedNodeMap* attributes, const wchar_t* name,
                        const std::wstring& value) {
  ComPtr<IXMLDOMNode> attribute;
  Bstr attributeName(name);
  Check(attributes->getNamedItem(attributeName.Get(), attribute.GetAddressOf()));
  if (!attribute) RaiseObjectNotSet();
  Check(attribute->put_nodeValue(*Variant::FromString(value).Get()));
}

IXMLDOMNode* MakeRecognizerNode(IXMLDOMNode* element, const std::wstring& value,
                                const std::wstring& enabled, const std::wstring& classCode,
                                const std::wstring& mask) {
  try {
    Bstr text(value);
    Check(element->put_text(text.Get()));
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    Check(element->get_attributes(attributes.GetAddressOf()));
    if (!attributes) RaiseObjectNotSet();
    OverwriteAttribute(attributes.Get(), L"Enabled", enabled);
    OverwriteAttribute(attributes.Get(), L"Mask", mask);
    OverwriteAttribute(attributes.Get(), L"ClassCode", classCode);
    OverwriteAttribute(attributes.Get(), L"CaseSensitive", L"Yes");
    return element;
  } catch (...) {
    PassOn(L"MakeRecognizerNode()");
  }
}

}  // namespace

bool IsEnabled(const std::wstring& text) {
  return Upper(text) == L"YES";
}

std::wstring TextOf(IXMLDOMNode* node) {
  Bstr text;
  Check(node->get_text(text.Out()));
  return text.Str();
}

ComPtr<IXMLDOMNode> SelectFirst(IXMLDOMDocument2* doc, const std::wstring& xql) {
  ComPtr<IXMLDOMNode> node;
  Bstr query(xql);
  Check(doc->selectSingleNode(query.Get(), node.GetAddressOf()));
  return node;
}

std::wstring GetAttribute(IXMLDOMNode* node, const wchar_t* name) {
  try {
    if (!node) return std::wstring();
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    Check(node->get_attributes(attributes.GetAddressOf()));
    if (!attributes) return std::wstring();
    ComPtr<IXMLDOMNode> attribute;
    Bstr attributeName(name);
    Check(attributes->getNamedItem(attributeName.Get(), attribute.GetAddressOf()));
    if (!attribute) return std::wstring();
    Variant value;
    Check(attribute->get_nodeValue(value.Out()));
    return value.IsEmptyOrNull() ? std::wstring() : value.AsString();
  } catch (...) {
    PassOn(L"GetAttribute()");
  }
}

ComPtr<IEnumVARIANT> Enumerate(IDispatch* collection) {
  const Variant result =
      InvokeId(collection, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {});
  const VARIANT* v = result.Get();
  IUnknown* unknown = v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH ? v->punkVal : nullptr;
  if (!unknown) RaiseObjectNotSet();
  ComPtr<IEnumVARIANT> items;
  Check(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(items.GetAddressOf())));
  return items;
}

ComPtr<Records> RecognizerList(IXMLDOMDocument2* doc, bool enabledOnly) {
  auto make = [](IXMLDOMNode* node, std::wstring& enabled) {
    ComPtr<_RecognizerProps> record = RecognizerProps::New();
    WriteText(record.Get(), &_RecognizerProps::put_ClassCode, GetAttribute(node, L"ClassCode"));
    WriteText(record.Get(), &_RecognizerProps::put_mask, GetAttribute(node, L"Mask"));
    enabled = GetAttribute(node, L"Enabled");
    WriteText(record.Get(), &_RecognizerProps::put_Enabled, enabled);
    WriteText(record.Get(), &_RecognizerProps::put_CaseSensitive,
              GetAttribute(node, L"CaseSensitive"));
    WriteText(record.Get(), &_RecognizerProps::put_Value, TextOf(node));
    return ComPtr<IDispatch>(record.Get());
  };
  return BuildList(doc, kRecognizerPath, enabledOnly, make);
}

void FillRecognizer(IXMLDOMNode* element, IDispatch* item) {
  auto record = RecordAs<_RecognizerProps>(item, IID__RecognizerProps);
  MakeRecognizerNode(element, ReadText(record.Get(), &_RecognizerProps::get_Value),
                     ReadText(record.Get(), &_RecognizerProps::get_Enabled),
                     ReadText(record.Get(), &_RecognizerProps::get_ClassCode),
                     ReadText(record.Get(), &_RecognizerProps::get_mask));
}

std::vector<TermRecord> TermRecordsOf(IDispatch* list) {
  std::vector<TermRecord> records;
  for (long i = 1, n = Call(list, L"Count").AsLong(); i <= n; ++i) {
    auto record = RecordAs<_RecognizerProps>(
        Call(list, L"Item", {Variant::FromLong(i)}).AsObject().Get(), IID__RecognizerProps);
    records.push_back({ReadText(record.Get(), &_RecognizerProps::get_ClassCode),
                       ReadText(record.Get(), &_RecognizerProps::get_Enabled),
                       ReadText(record.Get(), &_RecognizerProps::get_mask),
                       ReadText(record.Get(), &_RecognizerProps::get_Value)});
  }
  return records;
}

ComPtr<Records> ListOf(const std::vector<TermRecord>& records) {
  ComPtr<Records> list = Records::New();
  for (const TermRecord& r : records) {
    ComPtr<_RecognizerProps> record = RecognizerProps::New();
    WriteText(record.Get(), &_RecognizerProps::put_ClassCode, r.classCode);
    WriteText(record.Get(), &_RecognizerProps::put_Enabled, r.enabled);
    WriteText(record.Get(), &_RecognizerProps::put_mask, r.mask);
    WriteText(record.Get(), &_RecognizerProps::put_Value, r.value);
    list->Append(record.Get());
  }
  return list;
}

}  // namespace qp::config
