#include "word_standin.h"

#include <oleauto.h>

#include <functional>
#include <utility>

namespace qp::host {

struct WordStandIn::State {
  long documentType = kWordDocument;
  std::vector<std::wstring> calls;
  std::wstring selection;
  // Word's COM add-ins, in Word's order.
  std::vector<ComPtr<IDispatch>> addIns;
};

namespace {

// The arguments of one call, first to last, each looked through one level of reference.
using Arguments = std::vector<const VARIANT*>;
// A member: its answer (result may be null when the caller wants none).
using Body = std::function<HRESULT(const Arguments&, WORD flags, VARIANT* result)>;

struct Member {
  std::wstring name;
  Body body;
};

// An automation object with no type information: names are looked up case-insensitively, as
// automation clients expect, and numbered from 1 in table order.
class LateBound final : public IDispatch {
 public:
  LateBound(std::wstring kind, std::shared_ptr<WordStandIn::State> state,
            std::vector<Member> members)
      : kind_(std::move(kind)), state_(std::move(state)), members_(std::move(members)) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
      ids[i] = DISPID_UNKNOWN;
    for (size_t m = 0; m < members_.size(); ++m) {
      if (CompareStringOrdinal(names[0], -1, members_[m].name.c_str(), -1, TRUE) == CSTR_EQUAL) {
        ids[0] = static_cast<DISPID>(m + 1);
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    if (id < 1 || static_cast<size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_INVALIDARG;
    const Member& member = members_[static_cast<size_t>(id - 1)];
    state_->calls.push_back(kind_ + L"." + member.name);
    Arguments args;
    for (UINT i = params->cArgs; i-- > 0;) {
      const VARIANT* v = &params->rgvarg[i];
      if (v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
      args.push_back(v);
    }
    if (result) VariantInit(result);
    return member.body(args, flags, result);
  }

 private:
  ~LateBound() = default;
  std::wstring kind_;
  std::shared_ptr<WordStandIn::State> state_;
  std::vector<Member> members_;
  LONG refs_ = 1;
};

ComPtr<IDispatch> Make(const wchar_t* kind, const std::shared_ptr<WordStandIn::State>& state,
                       std::vector<Member> members) {
  // The new object's one reference is the pointer's (this WRL's Attach would add another).
  ComPtr<IDispatch> object;
  *object.GetAddressOf() = new LateBound(kind, state, std::move(members));
  return object;
}

HRESULT Text(VARIANT* result, const std::wstring& text) {
  if (!result) return S_OK;
  result->vt = VT_BSTR;
  result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT Long(VARIANT* result, long value) {
  if (result) {
    result->vt = VT_I4;
    result->lVal = value;
  }
  return S_OK;
}

HRESULT Object(VARIANT* result, IDispatch* object) {
  if (result) {
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    if (object) object->AddRef();
  }
  return S_OK;
}

// A getter that takes no arguments.
template <class Answer>
Body Property(Answer answer) {
  return [answer](const Arguments& args, WORD flags, VARIANT* result) -> HRESULT {
    if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
    if (!args.empty()) return DISP_E_BADPARAMCOUNT;
    return answer(result);
  };
}

// COMAddIns.Item: by 1-based position or by ProgID, as Word's collection takes it.
HRESULT FindAddIn(const WordStandIn::State& state, const VARIANT& index, VARIANT* result) {
  if (index.vt == VT_BSTR) {
    const std::wstring wanted(index.bstrVal ? index.bstrVal : L"", SysStringLen(index.bstrVal));
    for (const ComPtr<IDispatch>& addIn : state.addIns) {
      DISPID id = 0;
      LPOLESTR name = const_cast<LPOLESTR>(L"ProgId");
      VARIANT progId;
      VariantInit(&progId);
      DISPPARAMS none = {};
      if (SUCCEEDED(addIn->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) &&
          SUCCEEDED(addIn->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &progId, nullptr,
                                  nullptr)) &&
          progId.vt == VT_BSTR &&
          CompareStringOrdinal(progId.bstrVal, -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL) {
        VariantClear(&progId);
        return Object(result, addIn.Get());
      }
      VariantClear(&progId);
    }
    return DISP_E_BADINDEX;
  }
  VARIANT position;
  VariantInit(&position);
  if (FAILED(VariantChangeType(&position, const_cast<VARIANT*>(&index), 0, VT_I4)))
    return DISP_E_TYPEMISMATCH;
  if (position.lVal < 1 || static_cast<size_t>(position.lVal) > state.addIns.size())
    return DISP_E_BADINDEX;
  return Object(result, state.addIns[static_cast<size_t>(position.lVal - 1)].Get());
}

}  // namespace

WordStandIn::WordStandIn() : state_(std::make_shared<State>()) {
  std::shared_ptr<State> state = state_;
  ComPtr<IDispatch> document =
      Make(L"Document", state,
           {{L"Type", Property([state](VARIANT* r) { return Long(r, state->documentType); })},
            {L"Name", Property([state](VARIANT* r) {
               return Text(r, state->documentType == kWordTemplate ? L"Letter.dot" : L"Letter.doc");
             })}});
  ComPtr<IDispatch> addIns = Make(
      L"COMAddIns", state,
      {{L"Count",
        Property([state](VARIANT* r) { return Long(r, static_cast<long>(state->addIns.size())); })},
       {L"Item", [state](const Arguments& args, WORD, VARIANT* r) -> HRESULT {
          if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
          return FindAddIn(*state, *args[0], r);
        }}});
  application_ = Make(
      L"Application", state,
      {{L"Name", Property([](VARIANT* r) { return Text(r, L"Microsoft Word"); })},
       {L"ActiveDocument", Property([document](VARIANT* r) { return Object(r, document.Get()); })},
       {L"COMAddIns", Property([addIns](VARIANT* r) { return Object(r, addIns.Get()); })}});
}

WordStandIn::~WordStandIn() = default;

void WordStandIn::SetDocumentType(long type) {
  state_->documentType = type;
}

void WordStandIn::AddComAddIn(const std::wstring& progId, IDispatch* object) {
  ComPtr<IDispatch> held(object);
  state_->addIns.push_back(
      Make(L"COMAddIn", state_,
           {{L"ProgId", Property([progId](VARIANT* r) { return Text(r, progId); })},
            {L"Connect", Property([held](VARIANT* r) {
               if (r) {
                 r->vt = VT_BOOL;
                 r->boolVal = held ? VARIANT_TRUE : VARIANT_FALSE;
               }
               return S_OK;
             })},
            {L"Object", Property([held](VARIANT* r) { return Object(r, held.Get()); })}}));
}

HRESULT WordStandIn::AddNorvaneAddIn() {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kNorvaneAddInProgId, &clsid);
  if (FAILED(hr)) return hr;
  ComPtr<IDispatch> object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                        IID_PPV_ARGS(&object));
  if (FAILED(hr)) return hr;
  AddComAddIn(kNorvaneAddInProgId, object.Get());
  norvane_ = object;
  return S_OK;
}

ComPtr<IDispatch> WordStandIn::NewRange(const std::wstring& text) {
  std::shared_ptr<State> state = state_;
  ComPtr<IDispatch> application = application_;
  return Make(L"Range", state,
              {{L"Application",
                Property([application](VARIANT* r) { return Object(r, application.Get()); })},
               {L"Text", Property([text](VARIANT* r) { return Text(r, text); })},
               {L"Select", [state, text](const Arguments& args, WORD flags, VARIANT*) -> HRESULT {
                  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
                  if (!args.empty()) return DISP_E_BADPARAMCOUNT;
                  state->selection = text;
                  return S_OK;
                }}});
}

std::vector<std::wstring> WordStandIn::Calls() const {
  return state_->calls;
}
void WordStandIn::ClearCalls() {
  state_->calls.clear();
}
std::wstring WordStandIn::Selection() const {
  return state_->selection;
}

}  // namespace qp::host
