// What Office does with a Smart Tag action handler, as a library for the host harness and the
// tests: create it by ProgID, ask what Office asks when it builds a tag's menu in an
// application, and run the verb the user picks on a tag with Office's property bag.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <utility>
#include <vector>

#include "nvstagQP.h"

namespace qp::host {

// An action handler created by ProgID through the registry, as Office creates it.
HRESULT CreateAction(const std::wstring& progId, ISmartTagAction** out);

struct VerbInfo {
  int id = 0;
  std::wstring name, caption;  // caption empty: the verb is not offered in that application
};
struct SmartTagTypeInfo {
  std::wstring name, caption;
  std::vector<VerbInfo> verbs;
};
struct ActionInfo {
  std::wstring progId, name, desc;
  int smartTagCount = 0;
  std::vector<SmartTagTypeInfo> types;
  HRESULT failure = S_OK;  // the first failed call, if any (asking goes on after it)
};

// Office's questions, in its order: ProgId, Name, Desc, SmartTagCount; for each type
// SmartTagName and SmartTagCaption, VerbCount with the type's name, and for each verb VerbID,
// VerbNameFromID and VerbCaptionFromID with the application's ProgID.
ActionInfo DescribeAction(ISmartTagAction* action, const std::wstring& appName, int lcid = 1033);

// The property bag Office hands with a tag: keys and values in insertion order, answered
// through the vtable and by name.
class PropertyBag final : public ISmartTagProperties {
 public:
  static PropertyBag* New();  // one reference
  std::vector<std::pair<std::wstring, std::wstring>> items;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override;
  STDMETHODIMP get_Read(BSTR key, BSTR* value) override;
  STDMETHODIMP Write(BSTR key, BSTR value) override;
  STDMETHODIMP get_Count(INT* count) override;
  STDMETHODIMP get_KeyFromIndex(INT index, BSTR* key) override;
  STDMETHODIMP get_ValueFromIndex(INT index, BSTR* value) override;

 private:
  PropertyBag();
  ~PropertyBag();
  LONG refs_ = 1;
  ITypeInfo* info_ = nullptr;
};

// The user picks a verb on a tag: InvokeVerb with the application's ProgID, the tag's target
// (in Word its Range), a fresh property bag, the tag's text and its XML, as Office passes them.
HRESULT InvokeVerbOnTag(ISmartTagAction* action, int verbId, const std::wstring& appName,
                        IDispatch* target, const std::wstring& text);

}  // namespace qp::host
