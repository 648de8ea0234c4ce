// The template catalog: the Quillpoint names of the user's list file, handed out as a keyed
// dictionary that compares names without regard to case, as Quillpoint names are compared.
//
// The list is read again only when the setting, or the size or last-write time of its file,
// changed. The setting "NamesDictionary" beside the list's setting picks the dictionary handed
// out, so that a caller can be tried with dictionaries that offer more or less than the
// scripting runtime's:
//   missing or empty  the scripting runtime's Scripting.Dictionary itself;
//   "ExistsOnly"      an object that answers only Exists, Add, Remove and Item;
//   "TextKeys"        the same plus Keys, as an array of strings rather than of variants, and
//                     CompareMode.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "com_server.h"
#include "dispatch_object.h"
#include "quillpoint_list.h"

namespace standin {
// The scripting runtime's dictionary through its dual interface, as its type library lays the
// interface out: ten thousand names go in by vtable calls, not by a name look-up and an
// automation call each. Outside the unnamed namespace: the compiler must not take an interface
// that nothing here implements for one that nothing can implement.
constexpr IID kIidDictionary = {
    0x42c642c1, 0x97e1, 0x11cf, {0x97, 0x8f, 0x00, 0xa0, 0x24, 0x63, 0xe0, 0x6f}};
struct Dictionary : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE putref_Item(VARIANT* key, VARIANT* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Item(VARIANT* key, VARIANT* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Item(VARIANT* key, VARIANT* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE Add(VARIANT* key, VARIANT* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Exists(VARIANT* key, VARIANT_BOOL* exists) = 0;
  virtual HRESULT STDMETHODCALLTYPE Items(VARIANT* items) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Key(VARIANT* key, VARIANT* newKey) = 0;
  virtual HRESULT STDMETHODCALLTYPE Keys(VARIANT* keys) = 0;
  virtual HRESULT STDMETHODCALLTYPE Remove(VARIANT* key) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveAll() = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CompareMode(LONG mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CompareMode(LONG* mode) = 0;
};

}  // namespace standin

namespace {

using standin::Arguments;
using standin::Dictionary;
using standin::kIidDictionary;

constexpr wchar_t kProgId[] = L"NVObjectLibrary.Catalog";
// {338EBA5E-9BA3-4652-8E2D-88FC52FDAD8A}
constexpr CLSID kClsid = {
    0x338eba5e, 0x9ba3, 0x4652, {0x8e, 0x2d, 0x88, 0xfc, 0x52, 0xfd, 0xad, 0x8a}};

enum : DISPID { kCatalogPresent = 1, kHasCatalogChanged, kGetQuillpointNames };

const standin::Member kMembers[] = {
    {L"CatalogPresent", kCatalogPresent},
    {L"HasCatalogChanged", kHasCatalogChanged},
    {L"GetQuillpointNames", kGetQuillpointNames},
};

constexpr LONG kTextCompare = 1;  // the dictionary's CompareMode that ignores case

// A new, empty Scripting.Dictionary that compares without case.
HRESULT NewDictionary(Dictionary** out) {
  *out = nullptr;
  CLSID dictionaryClass;
  HRESULT hr = CLSIDFromProgID(L"Scripting.Dictionary", &dictionaryClass);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(dictionaryClass, nullptr, CLSCTX_INPROC_SERVER, kIidDictionary,
                          reinterpret_cast<void**>(out));
  if (SUCCEEDED(hr)) hr = (*out)->put_CompareMode(kTextCompare);
  if (FAILED(hr) && *out) {
    (*out)->Release();
    *out = nullptr;
  }
  return hr;
}

// A dictionary that offers only some of Scripting.Dictionary's members, over one.
class NamesDictionary final : public standin::DispatchObject {
 public:
  enum : DISPID { kItem = DISPID_VALUE, kAdd = 1, kExists, kRemove, kKeys, kCompareMode };

  // Takes the reference to `inner`.
  NamesDictionary(Dictionary* inner, bool textKeys)
      : DispatchObject(L"Scripting.Dictionary", textKeys ? std::span<const standin::Member>(kAll)
                                                         : std::span<const standin::Member>(
                                                               kPromised)),
        inner_(inner) {}
  ~NamesDictionary() override { inner_->Release(); }

 protected:
  HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
               EXCEPINFO* excep) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    const UINT wanted = id == kAdd ? 2 : (id == kKeys || id == kCompareMode) ? 0 : 1;
    if (args.count() != wanted) return DISP_E_BADPARAMCOUNT;
    VARIANT key, item;
    VariantInit(&key);
    VariantInit(&item);
    // The API takes what it only reads as non-const.
    HRESULT hr = wanted > 0 ? VariantCopyInd(&key, const_cast<VARIANT*>(&args.Value(0))) : S_OK;
    if (SUCCEEDED(hr) && wanted > 1) hr = VariantCopyInd(&item, const_cast<VARIANT*>(&args.Value(1)));
    if (SUCCEEDED(hr)) {
      switch (id) {
        case kItem:
          hr = inner_->get_Item(&key, result ? result : &item);
          break;
        case kAdd:
          hr = inner_->Add(&key, &item);
          break;
        case kExists: {
          VARIANT_BOOL exists = VARIANT_FALSE;
          hr = inner_->Exists(&key, &exists);
          if (SUCCEEDED(hr)) hr = standin::ReturnBool(result, exists != VARIANT_FALSE);
          break;
        }
        case kRemove:
          hr = inner_->Remove(&key);
          break;
        case kKeys:
          hr = TextKeys(result);
          break;
        default: {
          LONG mode = 0;
          hr = inner_->get_CompareMode(&mode);
          if (SUCCEEDED(hr)) hr = standin::ReturnLong(result, mode);
        }
      }
    }
    VariantClear(&key);
    VariantClear(&item);
    if (FAILED(hr)) return Raise({hr, L"The dictionary of Quillpoint names refused the call"}, excep);
    return S_OK;
  }

 private:
  static constexpr standin::Member kPromised[] = {
      {L"Item", kItem}, {L"Add", kAdd}, {L"Exists", kExists}, {L"Remove", kRemove}};
  static constexpr standin::Member kAll[] = {
      {L"Item", kItem},     {L"Add", kAdd},   {L"Exists", kExists},
      {L"Remove", kRemove}, {L"Keys", kKeys}, {L"CompareMode", kCompareMode}};

  // The keys as a one-dimensional array of strings (VT_ARRAY | VT_BSTR).
  HRESULT TextKeys(VARIANT* result) {
    VARIANT keys;
    VariantInit(&keys);
    HRESULT hr = inner_->Keys(&keys);
    if (FAILED(hr)) return hr;
    if (V_VT(&keys) != (VT_ARRAY | VT_VARIANT)) {
      VariantClear(&keys);
      return DISP_E_TYPEMISMATCH;
    }
    LONG low = 0, high = -1;
    SafeArrayGetLBound(V_ARRAY(&keys), 1, &low);
    SafeArrayGetUBound(V_ARRAY(&keys), 1, &high);
    SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(high - low + 1));
    if (!texts) hr = E_OUTOFMEMORY;
    for (LONG i = low; SUCCEEDED(hr) && i <= high; ++i) {
      VARIANT key, text;
      VariantInit(&key);
      VariantInit(&text);
      hr = SafeArrayGetElement(V_ARRAY(&keys), &i, &key);
      if (SUCCEEDED(hr)) hr = VariantChangeType(&text, &key, 0, VT_BSTR);
      LONG at = i - low;
      if (SUCCEEDED(hr)) hr = SafeArrayPutElement(texts, &at, V_BSTR(&text));  // copies it
      VariantClear(&key);
      VariantClear(&text);
    }
    VariantClear(&keys);
    if (FAILED(hr)) {
      if (texts) SafeArrayDestroy(texts);
      return hr;
    }
    if (!result) {
      SafeArrayDestroy(texts);
      return S_OK;
    }
    V_VT(result) = VT_ARRAY | VT_BSTR;
    V_ARRAY(result) = texts;
    return S_OK;
  }

  Dictionary* inner_;
};

class Catalog final : public standin::DispatchObject {
 public:
  Catalog() : DispatchObject(kProgId, kMembers) {
    Refresh();
    seenVersion_ = version_;
  }

 protected:
  HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
               EXCEPINFO* excep) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (args.count() != 0) return DISP_E_BADPARAMCOUNT;
    Refresh();
    switch (id) {
      case kCatalogPresent:
        return standin::ReturnBool(result, list_.present);
      case kHasCatalogChanged: {
        // True once for every change since the catalog last looked.
        const bool changed = version_ != seenVersion_;
        seenVersion_ = version_;
        return standin::ReturnBool(result, changed);
      }
      default:
        seenVersion_ = version_;
        return Names(result, excep);
    }
  }

 private:
  // The list as it is now: stamped first and read after, so that a change while it is read
  // makes the next stamp differ.
  void Refresh() {
    standin::QuillpointListStamp now = standin::StampQuillpointList();
    if (now == stamp_) return;
    stamp_ = std::move(now);
    standin::QuillpointList list = standin::ReadQuillpointList();
    if (list == list_) return;  // touched, not changed
    list_ = std::move(list);
    ++version_;
  }

  // A new dictionary every time: the caller adds its own terms to the one it is given.
  HRESULT Names(VARIANT* result, EXCEPINFO* excep) const {
    if (!list_.present) {
      return Raise({E_FAIL, L"No Quillpoint list: the setting \"" +
                                std::wstring(standin::kListSetting) +
                                L"\" names no readable file"},
                   excep);
    }
    Dictionary* dictionary = nullptr;
    HRESULT hr = NewDictionary(&dictionary);
    for (const std::wstring& name : list_.names) {
      if (FAILED(hr)) break;
      VARIANT key;
      V_VT(&key) = VT_BSTR;
      V_BSTR(&key) = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
      if (!V_BSTR(&key)) hr = E_OUTOFMEMORY;
      VARIANT_BOOL exists = VARIANT_FALSE;
      if (SUCCEEDED(hr)) hr = dictionary->Exists(&key, &exists);
      if (SUCCEEDED(hr) && !exists) hr = dictionary->Add(&key, &key);
      VariantClear(&key);
    }
    if (FAILED(hr)) {
      if (dictionary) dictionary->Release();
      return Raise({hr, L"Cannot build the dictionary of Quillpoint names"}, excep);
    }
    bool kindFound = false;
    const std::wstring kind = standin::ReadSetting(standin::kNamesDictionarySetting, kindFound);
    IDispatch* handedOut = dictionary;
    if (kindFound && (kind == L"ExistsOnly" || kind == L"TextKeys")) {
      try {
        handedOut = new NamesDictionary(dictionary, kind == L"TextKeys");
      } catch (...) {
        dictionary->Release();
        return E_OUTOFMEMORY;
      }
    }
    HRESULT done = standin::ReturnObject(result, handedOut);
    handedOut->Release();
    return done;
  }

  standin::QuillpointListStamp stamp_;
  standin::QuillpointList list_;
  unsigned version_ = 0;      // counts the changes of list_
  unsigned seenVersion_ = 0;  // the version HasCatalogChanged or GetQuillpointNames last saw
};

HRESULT CreateCatalog(REFIID iid, void** out) noexcept {
  return standin::CreateObject<Catalog>(iid, out);
}

}  // namespace

std::span<const standin::ServerClass> standin::ServerClasses() {
  static const ServerClass classes[] = {
      {kProgId, kClsid, L"Norvane template catalog (stand-in)", CreateCatalog},
  };
  return classes;
}
