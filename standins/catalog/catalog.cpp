// The template catalog: the Quillpoint names of the user's list file, handed out as a keyed
// dictionary that compares names without regard to case, as Quillpoint names are compared.
#include <windows.h>

#include <string>
#include <vector>

#include "com_server.h"
#include "dispatch_object.h"
#include "late_bound.h"
#include "quillpoint_list.h"

namespace {

using standin::Arguments;

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

constexpr long kTextCompare = 1;  // the dictionary's CompareMode that ignores case

class Catalog final : public standin::DispatchObject {
 public:
  Catalog() : DispatchObject(kProgId, kMembers), seen_(standin::ReadQuillpointList()) {}

 protected:
  HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
               EXCEPINFO* excep) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (args.count() != 0) return DISP_E_BADPARAMCOUNT;
    standin::QuillpointList now = standin::ReadQuillpointList();
    switch (id) {
      case kCatalogPresent:
        return standin::ReturnBool(result, now.present);
      case kHasCatalogChanged: {
        // True once for every change since the catalog last looked.
        const bool changed = now != seen_;
        seen_ = std::move(now);
        return standin::ReturnBool(result, changed);
      }
      default:
        seen_ = now;
        return Names(now, result, excep);
    }
  }

 private:
  // A new dictionary every time: the caller adds its own terms to the one it is given.
  HRESULT Names(const standin::QuillpointList& list, VARIANT* result, EXCEPINFO* excep) const {
    if (!list.present) {
      return Raise({E_FAIL, L"No Quillpoint list: the setting \"" +
                                std::wstring(standin::kListSetting) +
                                L"\" names no readable file"},
                   excep);
    }
    CLSID dictionaryClass;
    IDispatch* dictionary = nullptr;
    HRESULT hr = CLSIDFromProgID(L"Scripting.Dictionary", &dictionaryClass);
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(dictionaryClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(&dictionary));
    if (SUCCEEDED(hr))
      hr = standin::CallByName(dictionary, L"CompareMode", DISPATCH_PROPERTYPUT,
                               {standin::LongArgument(kTextCompare)}, nullptr);
    for (const std::wstring& name : list.names) {
      if (FAILED(hr)) break;
      BSTR key = SysAllocString(name.c_str());
      VARIANT exists;
      hr = standin::CallByName(dictionary, L"Exists", DISPATCH_METHOD,
                               {standin::TextArgument(key)}, &exists);
      if (SUCCEEDED(hr) && !(V_VT(&exists) == VT_BOOL && V_BOOL(&exists))) {
        hr = standin::CallByName(dictionary, L"Add", DISPATCH_METHOD,
                                 {standin::TextArgument(key), standin::TextArgument(key)},
                                 nullptr);
      }
      SysFreeString(key);
    }
    if (FAILED(hr)) {
      if (dictionary) dictionary->Release();
      return Raise({hr, L"Cannot build the dictionary of Quillpoint names"}, excep);
    }
    HRESULT done = standin::ReturnObject(result, dictionary);
    dictionary->Release();
    return done;
  }

  standin::QuillpointList seen_;
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
