// The template catalog: the Quillpoint names of the user's list file, handed out as a keyed
// dictionary that compares names without regard to case, as Quillpoint names are compared.
//
// The list is read again only when the setting, or the size or last-write time of its file,
// changed. The setting "NamesDictionary" beside the list's setting picks the dictionary handed
// out, so that a caller can be tried with dictionaries that offer more or less:
//   missing or empty  the catalog's own: Item, Add, Exists, Remove, Count, Keys (an array of
//                     variants) and CompareMode (1, text);
//   "Scripting"       the scripting runtime's Scripting.Dictionary;
//   "ExistsOnly"      the catalog's own answering only Item, Add, Exists and Remove;
//   "TextKeys"        the catalog's own with Keys as an array of strings rather than variants;
//   "LentKeys"        the catalog's own with Keys lent by reference: an array of variants that
//                     the dictionary keeps, and every later call fails when the borrower wrote
//                     into it or left it locked.
#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
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

// One reading of the list as the catalog's dictionaries look names up: the distinct names (the
// first of names that differ only in case) in file order, found by their upper-case text.
// Built once a reading and never changed after, so every dictionary handed out for the reading
// refers to it instead of copying ten thousand names. The table holds positions only, a
// quarter of the slots empty at least, so that a reading of ten thousand names costs a few
// hundred kilobytes and no allocation a name.
class NameIndex {
 public:
  static constexpr size_t kNpos = std::wstring_view::npos;

  explicit NameIndex(std::shared_ptr<const standin::QuillpointList> list) : list_(std::move(list)) {
    // All names upper-cased in one call (it maps unit to unit), at the same offsets.
    upper_ = list_->text;
    if (!upper_.empty()) CharUpperBuffW(upper_.data(), static_cast<DWORD>(upper_.size()));
    size_t slots = 16;
    while (slots * 3 < list_->Size() * 4)
      slots *= 2;
    slots_.assign(slots, kFree);
    names_.reserve(list_->Size());
    for (size_t i = 0; i < list_->Size(); ++i) {
      uint32_t& slot = slots_[SlotOf(Upper(i))];
      if (slot != kFree) continue;
      slot = static_cast<uint32_t>(names_.size());
      names_.push_back(static_cast<uint32_t>(i));
    }
  }
  size_t Size() const { return names_.size(); }
  std::wstring_view Name(size_t i) const { return list_->Name(names_[i]); }
  // The position of the name with this upper-case text, or npos.
  size_t Find(std::wstring_view upper) const {
    const uint32_t at = slots_[SlotOf(upper)];
    return at == kFree ? kNpos : at;
  }

 private:
  static constexpr uint32_t kFree = UINT32_MAX;

  std::wstring_view Upper(size_t listed) const {
    const auto& span = list_->spans[listed];
    return std::wstring_view(upper_).substr(span.offset, span.length);
  }
  // The slot that holds this text, or the free one where it would go.
  size_t SlotOf(std::wstring_view upper) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = std::hash<std::wstring_view>{}(upper)&mask;; i = (i + 1) & mask) {
      if (slots_[i] == kFree || Upper(names_[slots_[i]]) == upper) return i;
    }
  }

  std::shared_ptr<const standin::QuillpointList> list_;
  std::wstring upper_;           // list_->text upper-cased
  std::vector<uint32_t> names_;  // position in the list of each distinct name
  std::vector<uint32_t> slots_;  // position in names_, or kFree
};

// The catalog's own dictionary of names: keys compare as texts without regard to case (a key
// of another type never equals a text), items are kept in the order they were added. The
// list's names are the reading's shared index with the ones removed from this dictionary
// marked; keys added by the caller follow them in an overlay of their own.
class NamesDictionary final : public standin::DispatchObject {
 public:
  enum class Shape { Full, ExistsOnly, TextKeys, LentKeys };
  enum : DISPID { kItem = DISPID_VALUE, kAdd = 1, kExists, kRemove, kCount, kKeys, kCompareMode };

  NamesDictionary(Shape shape, std::shared_ptr<const NameIndex> names)
      : DispatchObject(L"NVObjectLibrary.Catalog.Names",
                       shape == Shape::ExistsOnly ? std::span<const standin::Member>(kPromised)
                                                  : std::span<const standin::Member>(kAll)),
        shape_(shape),
        names_(std::move(names)),
        listed_(names_->Size()) {}
  ~NamesDictionary() override {
    for (Entry& e : entries_)
      VariantClear(&e.item);
    if (lent_) SafeArrayDestroy(lent_);
  }

 protected:
  HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
               EXCEPINFO* excep) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    const UINT wanted = id == kAdd ? 2 : (id == kItem || id == kExists || id == kRemove) ? 1 : 0;
    if (args.Count() != wanted) return DISP_E_BADPARAMCOUNT;
    if (HRESULT hr = CheckLent(excep); FAILED(hr)) return hr;
    if (id == kCount)
      return standin::ReturnLong(result, static_cast<long>(listed_ + index_.size()));
    if (id == kCompareMode) return standin::ReturnLong(result, kTextCompare);
    if (id == kKeys) return Keys(result);
    std::wstring index;
    HRESULT hr = KeyIndex(args.Value(0), index);
    if (FAILED(hr)) return hr;
    auto found = index_.find(index);
    // A text key not added here may be one of the list's names still in the dictionary.
    size_t name = std::wstring_view::npos;
    if (found == index_.end() && index[0] == VT_BSTR) {
      name = names_->Find(std::wstring_view(index).substr(1));
      if (name != std::wstring_view::npos && IsRemoved(name)) name = std::wstring_view::npos;
    }
    const bool exists = found != index_.end() || name != std::wstring_view::npos;
    switch (id) {
      case kItem:
        // A key that is not there reads as Empty.
        if (!exists || !result) return S_OK;
        if (name != std::wstring_view::npos) return standin::ReturnText(result, names_->Name(name));
        return ItemOf(entries_[found->second], *result);
      case kExists:
        return standin::ReturnBool(result, exists);
      case kRemove:
        if (!exists) return Raise({CTL_E_ELEMENT_NOT_FOUND, L"Element not found"}, excep);
        if (name != std::wstring_view::npos) {
          if (removed_.empty()) removed_.resize(names_->Size());
          removed_[name] = true;
          --listed_;
          return S_OK;
        }
        entries_[found->second].live = false;
        VariantClear(&entries_[found->second].item);
        index_.erase(found);
        return S_OK;
      default: {  // kAdd
        if (exists)
          return Raise({CTL_E_KEY_ALREADY_EXISTS,
                        L"This key is already associated with an element of this collection"},
                       excep);
        const VARIANT& key = args.Value(0);
        Entry entry{static_cast<VARTYPE>(V_VT(&key) & ~VT_BYREF), {}, {}};
        VariantInit(&entry.item);
        hr = KeyText(key, entry.key);
        if (SUCCEEDED(hr)) hr = VariantCopyInd(&entry.item, const_cast<VARIANT*>(&args.Value(1)));
        if (FAILED(hr)) return hr;
        index_.emplace(std::move(index), entries_.size());
        entries_.push_back(entry);
        return S_OK;
      }
    }
  }

 private:
  static constexpr LONG kTextCompare = 1;
  // Scripting's codes for a key that is taken and one that is missing.
  static constexpr HRESULT CTL_E_KEY_ALREADY_EXISTS = static_cast<HRESULT>(0x800A01C9);
  static constexpr HRESULT CTL_E_ELEMENT_NOT_FOUND = static_cast<HRESULT>(0x800A802B);

  static constexpr standin::Member kPromised[] = {
      {L"Item", kItem}, {L"Add", kAdd}, {L"Exists", kExists}, {L"Remove", kRemove}};
  static constexpr standin::Member kAll[] = {
      {L"Item", kItem},   {L"Add", kAdd},   {L"Exists", kExists},          {L"Remove", kRemove},
      {L"Count", kCount}, {L"Keys", kKeys}, {L"CompareMode", kCompareMode}};

  // A key the caller added.
  struct Entry {
    VARTYPE type;      // of the key
    std::wstring key;  // its text
    VARIANT item;
    bool live = true;
  };

  bool IsRemoved(size_t name) const { return !removed_.empty() && removed_[name]; }

  // The lookup form of a key: its type, then its text upper-cased.
  static std::wstring Index(VARTYPE type, const std::wstring& text) {
    std::wstring index;
    index.reserve(text.size() + 1);
    index.push_back(static_cast<wchar_t>(type));
    bool ascii = true;
    for (wchar_t c : text) {
      ascii = ascii && c < 0x80;
      index.push_back(c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 0x20) : c);
    }
    // Beyond ASCII, as the platform upper-cases.
    if (!ascii) CharUpperBuffW(index.data() + 1, static_cast<DWORD>(text.size()));
    return index;
  }
  static HRESULT KeyText(const VARIANT& key, std::wstring& text) {
    if (V_VT(&key) == VT_BSTR) {
      text.assign(V_BSTR(&key) ? V_BSTR(&key) : L"", SysStringLen(V_BSTR(&key)));
      return S_OK;
    }
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(&key), 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    text.assign(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
    VariantClear(&converted);
    return S_OK;
  }
  static HRESULT KeyIndex(const VARIANT& key, std::wstring& index) {
    std::wstring text;
    HRESULT hr = KeyText(key, text);
    if (SUCCEEDED(hr)) index = Index(static_cast<VARTYPE>(V_VT(&key) & ~VT_BYREF), text);
    return hr;
  }

  static HRESULT KeyOf(const Entry& e, VARIANT& out) {
    VARIANT text;
    if (FAILED(standin::ReturnText(&text, e.key))) return E_OUTOFMEMORY;
    if (e.type == VT_BSTR) {
      out = text;
      return S_OK;
    }
    HRESULT hr = VariantChangeType(&out, &text, 0, e.type);
    VariantClear(&text);
    return hr;
  }
  static HRESULT ItemOf(const Entry& e, VARIANT& out) {
    return VariantCopy(&out, const_cast<VARIANT*>(&e.item));
  }

  // The live keys in the order they were added, the list's names first: variants, or strings
  // for Shape::TextKeys; for Shape::LentKeys a reference to an array the dictionary keeps.
  HRESULT Keys(VARIANT* result) {
    if (!result) return S_OK;
    const VARTYPE element = shape_ == Shape::TextKeys ? VT_BSTR : VT_VARIANT;
    SAFEARRAY* keys =
        SafeArrayCreateVector(element, 0, static_cast<ULONG>(listed_ + index_.size()));
    if (!keys) return E_OUTOFMEMORY;
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(keys, &data);
    size_t at = 0;
    // Stored into the array as soon as made, so that a failure leaves nothing to free twice.
    auto put = [&](VARIANT& key) {
      if (element == VT_VARIANT) {
        static_cast<VARIANT*>(data)[at++] = key;
      } else if (V_VT(&key) == VT_BSTR) {
        static_cast<BSTR*>(data)[at++] = V_BSTR(&key);
      } else {
        VARIANT text;
        VariantInit(&text);
        hr = VariantChangeType(&text, &key, 0, VT_BSTR);
        VariantClear(&key);
        if (SUCCEEDED(hr)) static_cast<BSTR*>(data)[at++] = V_BSTR(&text);
      }
    };
    for (size_t i = 0; SUCCEEDED(hr) && i < names_->Size(); ++i) {
      if (IsRemoved(i)) continue;
      VARIANT key;
      hr = standin::ReturnText(&key, names_->Name(i));
      if (SUCCEEDED(hr)) put(key);
    }
    for (const Entry& e : entries_) {
      if (FAILED(hr)) break;
      if (!e.live) continue;
      VARIANT key;
      VariantInit(&key);
      hr = KeyOf(e, key);
      if (SUCCEEDED(hr)) put(key);
    }
    SafeArrayUnaccessData(keys);
    if (FAILED(hr)) {
      SafeArrayDestroy(keys);
      return hr;
    }
    if (shape_ == Shape::LentKeys) return Lend(keys, result);
    V_VT(result) = VT_ARRAY | element;
    V_ARRAY(result) = keys;
    return S_OK;
  }

  // A key's text as it stands in the array; a key that is not text reads as its type.
  static std::wstring TextOf(const VARIANT& key) {
    if (V_VT(&key) != VT_BSTR) return L"(type " + std::to_wstring(V_VT(&key)) + L")";
    return std::wstring(V_BSTR(&key), SysStringLen(V_BSTR(&key)));
  }
  // Keeps the array and hands out a reference to it, with the texts it holds now.
  HRESULT Lend(SAFEARRAY* keys, VARIANT* result) {
    if (lent_) SafeArrayDestroy(lent_);
    lent_ = keys;
    lentTexts_.clear();
    const VARIANT* data = static_cast<const VARIANT*>(keys->pvData);
    for (ULONG i = 0; i < keys->rgsabound[0].cElements; ++i)
      lentTexts_.push_back(TextOf(data[i]));
    V_VT(result) = VT_ARRAY | VT_VARIANT | VT_BYREF;
    V_ARRAYREF(result) = &lent_;
    return S_OK;
  }
  // The lent array as it was handed out, and not locked by the borrower.
  HRESULT CheckLent(EXCEPINFO* excep) const {
    if (!lent_) return S_OK;
    if (lent_->cLocks != 0)
      return Raise({E_UNEXPECTED, L"The keys lent out were left locked"}, excep);
    const VARIANT* data = static_cast<const VARIANT*>(lent_->pvData);
    for (size_t i = 0; i < lentTexts_.size(); ++i) {
      if (TextOf(data[i]) != lentTexts_[i])
        return Raise({E_UNEXPECTED, L"The keys lent out were written into: \"" + lentTexts_[i] +
                                        L"\" was changed"},
                     excep);
    }
    return S_OK;
  }

  Shape shape_;
  std::shared_ptr<const NameIndex> names_;
  std::vector<bool> removed_;  // by position in names_; empty while none was removed
  size_t listed_;              // the list's names still in the dictionary
  std::vector<Entry> entries_;
  std::unordered_map<std::wstring, size_t> index_;  // lookup form to entry
  SAFEARRAY* lent_ = nullptr;                       // the keys last lent, for Shape::LentKeys
  std::vector<std::wstring> lentTexts_;             // their texts when lent
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
    if (args.Count() != 0) return DISP_E_BADPARAMCOUNT;
    Refresh();
    switch (id) {
      case kCatalogPresent:
        return standin::ReturnBool(result, list_->present);
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
    auto list = std::make_shared<const standin::QuillpointList>(standin::ReadQuillpointList());
    if (*list == *list_) return;  // touched, not changed
    list_ = std::move(list);
    names_.reset();
    ++version_;
  }

  // A new dictionary every time: the caller adds its own terms to the one it is given.
  HRESULT Names(VARIANT* result, EXCEPINFO* excep) {
    if (!list_->present) {
      return Raise({E_FAIL, L"No Quillpoint list: the setting \"" +
                                std::wstring(standin::kListSetting) + L"\" names no readable file"},
                   excep);
    }
    bool kindFound = false;
    const std::wstring kind = standin::ReadSetting(standin::kNamesDictionarySetting, kindFound);
    if (kindFound && kind == L"Scripting") return ScriptingNames(result, excep);
    NamesDictionary::Shape shape = NamesDictionary::Shape::Full;
    if (kindFound && kind == L"ExistsOnly") shape = NamesDictionary::Shape::ExistsOnly;
    if (kindFound && kind == L"TextKeys") shape = NamesDictionary::Shape::TextKeys;
    if (kindFound && kind == L"LentKeys") shape = NamesDictionary::Shape::LentKeys;
    NamesDictionary* names = nullptr;
    try {
      // Indexed at the first request after a change, so that a catalog only asked whether it
      // is present or has changed never indexes.
      if (!names_) names_ = std::make_shared<const NameIndex>(list_);
      names = new NamesDictionary(shape, names_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    HRESULT done = standin::ReturnObject(result, names);
    names->Release();
    return done;
  }

  // The names in the scripting runtime's dictionary, put in through its vtable.
  HRESULT ScriptingNames(VARIANT* result, EXCEPINFO* excep) const {
    Dictionary* dictionary = nullptr;
    HRESULT hr = NewDictionary(&dictionary);
    for (size_t i = 0; i < list_->Size(); ++i) {
      if (FAILED(hr)) break;
      VARIANT key;
      VariantInit(&key);
      hr = standin::ReturnText(&key, list_->Name(i));
      VARIANT_BOOL exists = VARIANT_FALSE;
      if (SUCCEEDED(hr)) hr = dictionary->Exists(&key, &exists);
      if (SUCCEEDED(hr) && !exists) hr = dictionary->Add(&key, &key);
      VariantClear(&key);
    }
    if (FAILED(hr)) {
      if (dictionary) dictionary->Release();
      return Raise({hr, L"Cannot build the dictionary of Quillpoint names"}, excep);
    }
    HRESULT done = standin::ReturnObject(result, dictionary);
    dictionary->Release();
    return done;
  }

  standin::QuillpointListStamp stamp_;
  std::shared_ptr<const standin::QuillpointList> list_ =
      std::make_shared<const standin::QuillpointList>();
  std::shared_ptr<const NameIndex> names_;  // of list_, made when first asked for
  unsigned version_ = 0;                    // counts the changes of list_
  unsigned seenVersion_ = 0;  // the version HasCatalogChanged or GetQuillpointNames last saw
};

HRESULT CreateCatalog(REFIID iid, void** out) noexcept {
  return standin::CreateObject<Catalog>(iid, out);
}

}  // namespace

std::span<const standin::ServerClass> standin::ServerClasses() {
  static const ServerClass kClasses[] = {
      {kProgId, kClsid, L"Norvane template catalog (stand-in)", CreateCatalog},
  };
  return kClasses;
}
