// The records that carry terms and verbs between the store and its users, and the ordered
// collection that carries lists of them.
#pragma once

#include <string>
#include <vector>

#include "platform/com_object.h"
#include "config/config.h"
#include "platform/automation.h"

namespace qp::config {

// One recognizer term: five texts, all empty until someone fills them.
class RecognizerProps final : public platform::ComObject<RecognizerProps, _RecognizerProps> {
 public:
  STDMETHODIMP get_ClassCode(BSTR* sValue) noexcept override;
  STDMETHODIMP put_ClassCode(BSTR sValue) noexcept override;
  STDMETHODIMP get_Enabled(BSTR* sValue) noexcept override;
  STDMETHODIMP put_Enabled(BSTR sValue) noexcept override;
  STDMETHODIMP get_mask(BSTR* sValue) noexcept override;
  STDMETHODIMP put_mask(BSTR sValue) noexcept override;
  STDMETHODIMP get_CaseSensitive(BSTR* sValue) noexcept override;
  STDMETHODIMP put_CaseSensitive(BSTR sValue) noexcept override;
  STDMETHODIMP get_Value(BSTR* sValue) noexcept override;
  STDMETHODIMP put_Value(BSTR sValue) noexcept override;

 private:
  std::wstring classCode_;
  std::wstring enabled_;
  std::wstring caseSensitive_;
  std::wstring mask_;
  std::wstring value_;
};

// One action verb.
class ActionProps final : public platform::ComObject<ActionProps, _ActionProps> {
 public:
  STDMETHODIMP get_Name(BSTR* sValue) noexcept override;
  STDMETHODIMP put_Name(BSTR sValue) noexcept override;
  STDMETHODIMP get_ClassCode(BSTR* sValue) noexcept override;
  STDMETHODIMP put_ClassCode(BSTR sValue) noexcept override;
  STDMETHODIMP get_Enabled(BSTR* sValue) noexcept override;
  STDMETHODIMP put_Enabled(BSTR sValue) noexcept override;
  STDMETHODIMP get_InsertPosition(BSTR* sValue) noexcept override;
  STDMETHODIMP put_InsertPosition(BSTR sValue) noexcept override;
  STDMETHODIMP get_Value(BSTR* sValue) noexcept override;
  STDMETHODIMP put_Value(BSTR sValue) noexcept override;

 private:
  std::wstring name_;
  std::wstring classCode_;
  std::wstring enabled_;
  std::wstring insertPosition_;
  std::wstring value_;
};

// An ordered list numbered from 1, items added without keys, enumerated in insertion order.
class Records final : public platform::ComObject<Records, _Records> {
 public:
  STDMETHODIMP get_Item(VARIANT index, VARIANT* pItem) noexcept override;
  STDMETHODIMP get_Count(LONG* pCount) noexcept override;
  STDMETHODIMP Add(VARIANT item) noexcept override;
  STDMETHODIMP Remove(VARIANT index) noexcept override;
  STDMETHODIMP get__NewEnum(IUnknown** ppEnum) noexcept override;

  // For the store, which builds its lists in C++.
  void Append(IDispatch* item);

 private:
  size_t Position(const VARIANT& index) const;  // 0-based; raises for a bad index
  std::vector<platform::Variant> items_;
};

}  // namespace qp::config
