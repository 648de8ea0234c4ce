#include "term_records.h"

#include <gtest/gtest.h>

#include "config/config.h"
#include "late_bound.h"
#include "wine_test_env.h"

namespace qp::test {

std::ostream& operator<<(std::ostream& os, const Term& t) {
  return os << "{" << Narrow(t.classCode) << " \"" << Narrow(t.value) << "\" " << Narrow(t.enabled)
            << " " << Narrow(t.caseSensitive) << " \"" << Narrow(t.mask) << "\"}";
}

qp::ComPtr<IDispatch> NewRecord(const Term& t) {
  qp::ComPtr<IDispatch> record;
  EXPECT_EQ(
      config::CreateRecognizerProps(IID_IDispatch, reinterpret_cast<void**>(record.GetAddressOf())),
      S_OK);
  PutByName(record.Get(), L"ClassCode", Variant::FromString(t.classCode));
  PutByName(record.Get(), L"Value", Variant::FromString(t.value));
  PutByName(record.Get(), L"Enabled", Variant::FromString(t.enabled));
  PutByName(record.Get(), L"CaseSensitive", Variant::FromString(t.caseSensitive));
  PutByName(record.Get(), L"mask", Variant::FromString(t.mask));
  return record;
}

qp::ComPtr<IDispatch> NewCollection(const std::vector<Term>& terms) {
  qp::ComPtr<IDispatch> collection;
  EXPECT_EQ(
      config::CreateRecords(IID_IDispatch, reinterpret_cast<void**>(collection.GetAddressOf())),
      S_OK);
  for (const Term& t : terms)
    ByName(collection.Get(), L"Add", {Variant::FromObject(NewRecord(t).Get())});
  return collection;
}

std::vector<Term> ReadTerms(IDispatch* collection) {
  std::vector<Term> terms;
  const long n = ByName(collection, L"Count").AsLong();
  for (long i = 1; i <= n; ++i) {
    qp::ComPtr<IDispatch> r = ByName(collection, L"Item", {Variant::FromLong(i)}).AsObject();
    terms.push_back({ByName(r.Get(), L"ClassCode").AsString(), ByName(r.Get(), L"Value").AsString(),
                     ByName(r.Get(), L"Enabled").AsString(),
                     ByName(r.Get(), L"CaseSensitive").AsString(),
                     ByName(r.Get(), L"mask").AsString()});
  }
  return terms;
}

qp::ComPtr<IDispatch> ParsedConfig() {
  qp::ComPtr<IDispatch> doc;
  EXPECT_HRESULT_SUCCEEDED(CreateByProgId(L"MSXML2.DOMDocument", doc.GetAddressOf()));
  PutByName(doc.Get(), L"async", Variant::FromBool(false));
  return ByName(doc.Get(), L"load", {Variant::FromString(ConfigPath())}).AsBool() ? doc : nullptr;
}

std::vector<Term> TermsInFile() {
  qp::ComPtr<IDispatch> doc = ParsedConfig();
  EXPECT_NE(doc, nullptr) << "the configuration file does not load";
  if (!doc) return {};
  qp::ComPtr<IDispatch> nodes =
      ByName(doc.Get(), L"selectNodes", {Variant::FromString(L"//Recognizer")}).AsObject();
  std::vector<Term> terms;
  const long n = ByName(nodes.Get(), L"length").AsLong();
  for (long i = 0; i < n; ++i) {
    qp::ComPtr<IDispatch> node = ByName(nodes.Get(), L"item", {Variant::FromLong(i)}).AsObject();
    auto attribute = [&](const wchar_t* name) {
      Variant v = ByName(node.Get(), L"getAttribute", {Variant::FromString(name)});
      return v.IsEmptyOrNull() ? std::wstring() : v.AsString();
    };
    terms.push_back({attribute(L"ClassCode"), ByName(node.Get(), L"text").AsString(),
                     attribute(L"Enabled"), attribute(L"CaseSensitive"), attribute(L"Mask")});
  }
  return terms;
}

}  // namespace qp::test
