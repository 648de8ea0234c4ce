// The Word add-in's object as the Smart Tag action uses it: finds Quillpoints by name in the
// user's list, "inserts" one and opens the chooser. It has no Word to change, so each call is
// appended to the call log named by a setting instead.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "com_server.h"
#include "dispatch_object.h"
#include "late_bound.h"
#include "quillpoint_list.h"

namespace {

using standin::Arguments;

constexpr wchar_t kProgId[] = L"NVWordAddIn.Connect";
// {F43A1001-D96B-4BB4-BCD3-A410DDF6A6EA}
constexpr CLSID kClsid = {
    0xf43a1001, 0xd96b, 0x4bb4, {0xbc, 0xd3, 0xa4, 0x10, 0xdd, 0xf6, 0xa6, 0xea}};

void Log(const std::wstring& line) {
  bool found = false;
  const std::wstring path = standin::ReadSetting(standin::kCallLogSetting, found);
  if (found) standin::AppendLine(path, line);
}

std::wstring Trimmed(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

// One Quillpoint: its Name.
class Quillpoint final : public standin::DispatchObject {
 public:
  explicit Quillpoint(std::wstring name = {})
      : DispatchObject(L"NVWordAddIn.Quillpoint", kMembers), name_(std::move(name)) {}

 protected:
  HRESULT Call(DISPID, WORD flags, const Arguments& args, VARIANT* result, EXCEPINFO*) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (args.Count() != 0) return DISP_E_BADPARAMCOUNT;
    return standin::ReturnText(result, name_);
  }

 private:
  static constexpr standin::Member kMembers[] = {{L"Name", 1}};
  std::wstring name_;
};

// The Quillpoints found for one name: Item (1-based, also the default member) and Count.
class Quillpoints final : public standin::DispatchObject {
 public:
  explicit Quillpoints(std::vector<std::wstring> names = {})
      : DispatchObject(L"NVWordAddIn.Quillpoints", kMembers), names_(std::move(names)) {}

 protected:
  HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
               EXCEPINFO* excep) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (id == kCount) {
      if (args.Count() != 0) return DISP_E_BADPARAMCOUNT;
      return standin::ReturnLong(result, static_cast<long>(names_.size()));
    }
    if (args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    std::int64_t index = 0;
    HRESULT hr = args.Int64(0, index);
    if (FAILED(hr)) return hr;
    if (index < 1 || index > static_cast<std::int64_t>(names_.size()))
      return Raise({DISP_E_BADINDEX, L"No Quillpoint " + std::to_wstring(index) + L" here"}, excep);
    auto* item = new Quillpoint(names_[static_cast<size_t>(index - 1)]);
    hr = standin::ReturnObject(result, item);
    item->Release();
    return hr;
  }

 private:
  enum : DISPID { kItem = DISPID_VALUE, kCount = 1 };
  static constexpr standin::Member kMembers[] = {{L"Item", kItem}, {L"Count", kCount}};
  std::vector<std::wstring> names_;
};

class AddIn final : public standin::DispatchObject {
 public:
  AddIn() : DispatchObject(kProgId, kMembers) {}

 protected:
  HRESULT Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result,
               EXCEPINFO* excep) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (id) {
      case kGetQuillpointsByName:
        return ByName(args, result);
      case kInsertQuillpoint:
        return Insert(args, excep);
      default:
        if (args.Count() != 0) return DISP_E_BADPARAMCOUNT;
        Log(L"doShowQuillpoints()");
        return S_OK;
    }
  }

 private:
  HRESULT ByName(const Arguments& args, VARIANT* result) const {
    if (args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    std::wstring text;
    HRESULT hr = args.Text(0, text);
    if (FAILED(hr)) return hr;
    // A tag's range may carry the space after the word; names are compared without case.
    const std::wstring wanted = standin::UpperCase(Trimmed(text));
    std::vector<std::wstring> found;
    const standin::QuillpointList quillpoints = standin::ReadQuillpointList();
    for (size_t i = 0; i < quillpoints.Size(); ++i) {
      const std::wstring_view name = quillpoints.Name(i);
      if (standin::UpperCase(name) == wanted) found.emplace_back(name);
    }
    Log(L"GetQuillpointsByName(" + text + L") = " + std::to_wstring(found.size()));
    auto* list = new Quillpoints(std::move(found));
    hr = standin::ReturnObject(result, list);
    list->Release();
    return hr;
  }

  HRESULT Insert(const Arguments& args, EXCEPINFO* excep) const {
    if (args.Count() != 1) return DISP_E_BADPARAMCOUNT;
    IDispatch* item = nullptr;
    HRESULT hr = args.Object(0, &item);
    if (FAILED(hr)) return hr;
    VARIANT name;
    hr = standin::CallByName(item, L"Name", DISPATCH_PROPERTYGET, {}, &name);
    item->Release();
    if (SUCCEEDED(hr)) hr = VariantChangeType(&name, &name, 0, VT_BSTR);
    if (FAILED(hr)) return Raise({hr, L"The Quillpoint to insert has no Name"}, excep);
    Log(L"InsertQuillpoint(" + std::wstring(V_BSTR(&name), SysStringLen(V_BSTR(&name))) + L")");
    VariantClear(&name);
    return S_OK;
  }

  enum : DISPID { kGetQuillpointsByName = 1, kInsertQuillpoint, kDoShowQuillpoints };
  static constexpr standin::Member kMembers[] = {
      {L"GetQuillpointsByName", kGetQuillpointsByName},
      {L"InsertQuillpoint", kInsertQuillpoint},
      {L"doShowQuillpoints", kDoShowQuillpoints},
  };
};

HRESULT CreateAddIn(REFIID iid, void** out) noexcept {
  return standin::CreateObject<AddIn>(iid, out);
}

}  // namespace

std::span<const standin::ServerClass> standin::ServerClasses() {
  static const ServerClass kClasses[] = {
      {kProgId, kClsid, L"Norvane Word add-in (stand-in)", CreateAddIn},
  };
  return kClasses;
}
