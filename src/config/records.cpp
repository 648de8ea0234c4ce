#include "config/records.h"

#include <atomic>

#include "platform/product.h"

namespace qp::config {
using namespace qp::platform;
namespace {

inline constexpr long kErrInvalidCall = 5;
inline constexpr long kErrSubscript = 9;

HRESULT GetText(const std::wstring& field, BSTR* out) noexcept {
  return ReturnString(field, out);
}

HRESULT SetText(std::wstring& field, BSTR value) noexcept {
  return ComBoundary([&] { field = ToString(value); });
}

// The enumerator behind For Each: a snapshot of the list taken when the loop starts.
class RecordEnum final : public ComClass<RecordEnum, IEnumVARIANT> {
 public:
  RecordEnum(std::vector<Variant> items, size_t next) : items_(std::move(items)), next_(next) {}

  STDMETHODIMP Next(ULONG count, VARIANT* out, ULONG* fetched) noexcept override {
    if (!out) return E_POINTER;
    ULONG done = 0;
    for (; done < count && next_ < items_.size(); ++done, ++next_) {
      VariantInit(&out[done]);
      HRESULT hr = VariantCopy(&out[done], items_[next_].Get());
      if (FAILED(hr)) {
        for (ULONG i = 0; i < done; ++i)
          VariantClear(&out[i]);
        if (fetched) *fetched = 0;
        return hr;
      }
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) noexcept override {
    const size_t left = items_.size() - next_;
    if (count > left) {
      next_ = items_.size();
      return S_FALSE;
    }
    next_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() noexcept override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ComBoundary([&] { *out = new RecordEnum(items_, next_); });
  }

 private:
  std::vector<Variant> items_;
  size_t next_;
};

}  // namespace

// ---- RecognizerProps ---------------------------------------------------------------------------

STDMETHODIMP RecognizerProps::get_ClassCode(BSTR* v) noexcept {
  return GetText(classCode_, v);
}
STDMETHODIMP RecognizerProps::put_ClassCode(BSTR v) noexcept {
  return SetText(classCode_, v);
}
STDMETHODIMP RecognizerProps::get_Enabled(BSTR* v) noexcept {
  return GetText(enabled_, v);
}
STDMETHODIMP RecognizerProps::put_Enabled(BSTR v) noexcept {
  return SetText(enabled_, v);
}
STDMETHODIMP RecognizerProps::get_mask(BSTR* v) noexcept {
  return GetText(mask_, v);
}
STDMETHODIMP RecognizerProps::put_mask(BSTR v) noexcept {
  return SetText(mask_, v);
}
STDMETHODIMP RecognizerProps::get_CaseSensitive(BSTR* v) noexcept {
  return GetText(caseSensitive_, v);
}
STDMETHODIMP RecognizerProps::put_CaseSensitive(BSTR v) noexcept {
  return SetText(caseSensitive_, v);
}
STDMETHODIMP RecognizerProps::get_Value(BSTR* v) noexcept {
  return GetText(value_, v);
}
STDMETHODIMP RecognizerProps::put_Value(BSTR v) noexcept {
  return SetText(value_, v);
}

// ---- ActionProps -------------------------------------------------------------------------------

STDMETHODIMP ActionProps::get_Name(BSTR* v) noexcept {
  return GetText(name_, v);
}
STDMETHODIMP ActionProps::put_Name(BSTR v) noexcept {
  return SetText(name_, v);
}
STDMETHODIMP ActionProps::get_ClassCode(BSTR* v) noexcept {
  return GetText(classCode_, v);
}
STDMETHODIMP ActionProps::put_ClassCode(BSTR v) noexcept {
  return SetText(classCode_, v);
}
STDMETHODIMP ActionProps::get_Enabled(BSTR* v) noexcept {
  return GetText(enabled_, v);
}
STDMETHODIMP ActionProps::put_Enabled(BSTR v) noexcept {
  return SetText(enabled_, v);
}
STDMETHODIMP ActionProps::get_InsertPosition(BSTR* v) noexcept {
  return GetText(insertPosition_, v);
}
STDMETHODIMP ActionProps::put_InsertPosition(BSTR v) noexcept {
  return SetText(insertPosition_, v);
}
STDMETHODIMP ActionProps::get_Value(BSTR* v) noexcept {
  return GetText(value_, v);
}
STDMETHODIMP ActionProps::put_Value(BSTR v) noexcept {
  return SetText(value_, v);
}

// ---- Records -----------------------------------------------------------------------------------

size_t Records::Position(const VARIANT& index) const {
  VARIANT plain;
  VariantInit(&plain);
  Check(VariantCopyInd(&plain, const_cast<VARIANT*>(&index)));
  // The items carry no keys, so a text can never name one.
  if (plain.vt == VT_BSTR) {
    VariantClear(&plain);
    Raise({kErrInvalidCall, kLibraryName, L"Invalid procedure call or argument"});
  }
  HRESULT hr = VariantChangeType(&plain, &plain, 0, VT_I4);
  if (FAILED(hr)) {
    VariantClear(&plain);
    Check(hr);
  }
  const long n = plain.lVal;
  if (n < 1 || static_cast<size_t>(n) > items_.size())
    Raise({kErrSubscript, kLibraryName, L"Subscript out of range"});
  return static_cast<size_t>(n - 1);
}

STDMETHODIMP Records::get_Item(VARIANT index, VARIANT* item) noexcept {
  if (!item) return E_POINTER;
  VariantInit(item);
  return ComBoundary([&] { Check(VariantCopy(item, items_[Position(index)].Get())); });
}

STDMETHODIMP Records::get_Count(LONG* count) noexcept {
  if (!count) return E_POINTER;
  *count = static_cast<LONG>(items_.size());
  return S_OK;
}

STDMETHODIMP Records::Add(VARIANT item) noexcept {
  return ComBoundary([&] {
    Variant copy;
    Check(VariantCopyInd(copy.Get(), &item));
    items_.push_back(std::move(copy));
  });
}

STDMETHODIMP Records::Remove(VARIANT index) noexcept {
  return ComBoundary(
      [&] { items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(Position(index))); });
}

STDMETHODIMP Records::get__NewEnum(IUnknown** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComBoundary([&] { *out = new RecordEnum(items_, 0); });
}

void Records::Append(IDispatch* item) {
  items_.push_back(Variant::FromObject(item));
}

HRESULT CreateRecords(REFIID iid, void** out) noexcept {
  return Records::Create(iid, out);
}
HRESULT CreateRecognizerProps(REFIID iid, void** out) noexcept {
  return RecognizerProps::Create(iid, out);
}
HRESULT CreateActionProps(REFIID iid, void** out) noexcept {
  return ActionProps::Create(iid, out);
}
ComPtr<IDispatch> NewRecognizerRecord() {
  return RecognizerProps::New()->AsDispatch();
}

}  // namespace qp::config
