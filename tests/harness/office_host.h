// What Office does with a Smart Tag recognizer, as a library for the host harness and the tests:
// find the recognizers in the registry, create them, ask what Office asks, and hand them
// paragraphs with a recognizer site that records every tag.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "nvstagQP.h"

namespace qp::host {

struct Tag {
  std::wstring type;
  int start = 0;  // 1-based
  int length = 0;
  bool second = false;  // committed with Office 2003's CommitSmartTag2
  bool operator==(const Tag&) const = default;
};

// The description of one of Office's interfaces, from the registered library that declares it
// (a reference the caller releases), or null.
ITypeInfo* RegisteredTypeInfo(REFIID iid);

// An object of Office's own that the product reads through its vtable or by name: reference
// counting, QueryInterface for the interfaces it answers, and IDispatch from the description
// of the interface it was handed as.
template <class Iface>
class HostObject : public Iface {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && !Answers(iid)) return E_NOINTERFACE;
    *out = static_cast<Iface*>(this);
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
    *count = info_ ? 1 : 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0 || !info_) return DISP_E_BADINDEX;
    (*info = info_)->AddRef();
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return info_ ? DispGetIDsOfNames(info_, names, count, ids) : E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) override {
    if (!info_) return E_NOTIMPL;
    return DispInvoke(static_cast<Iface*>(this), info_, id, flags, params, result, excep, argErr);
  }

 protected:
  explicit HostObject(REFIID described = __uuidof(Iface)) : info_(RegisteredTypeInfo(described)) {}
  virtual ~HostObject() {
    if (info_) info_->Release();
  }
  virtual bool Answers(REFIID iid) const { return iid == __uuidof(Iface); }

 private:
  LONG refs_ = 1;
  ITypeInfo* info_;
};

// Office's recognizer site: takes CommitSmartTag (and, as Office 2003's version-2 site,
// CommitSmartTag2) by vtable or by name, described as the interface the recognizer was handed,
// and records the tags.
class RecognizerSite final : public HostObject<ISmartTagRecognizerSite2> {
 public:
  static RecognizerSite* New(bool version2 = false);  // one reference
  std::vector<Tag> tags;

  STDMETHODIMP GetNewPropertyBag(ISmartTagProperties** bag) override;
  STDMETHODIMP CommitSmartTag(BSTR name, INT start, INT length,
                              ISmartTagProperties* properties) override;
  STDMETHODIMP CommitSmartTag2(BSTR name, INT start, INT length, ISmartTagProperties* properties,
                               HRESULT* result) override;

 private:
  explicit RecognizerSite(bool version2)
      : HostObject(version2 ? IID_ISmartTagRecognizerSite2 : IID_ISmartTagRecognizerSite),
        version2_(version2) {}
  bool Answers(REFIID iid) const override {
    return iid == IID_ISmartTagRecognizerSite || (version2_ && iid == IID_ISmartTagRecognizerSite2);
  }
  bool version2_;
};

// Office's discovery keys, in the user's hive and in the machine's.
inline constexpr wchar_t kRecognizersKey[] =
    L"Software\\Microsoft\\Office\\Common\\Smart Tag\\Recognizers";
inline constexpr wchar_t kActionsKey[] = L"Software\\Microsoft\\Office\\Common\\Smart Tag\\Actions";
inline constexpr DWORD kStatusWordOff = 0x08;

// The ProgIDs of the recognizers Office would load into Word: the CLSIDs under the discovery
// keys of both hives that Word is not switched off for, each through its registered ProgID.
std::vector<std::wstring> FindRecognizers();
// Writes the discovery keys for a class, as the installer does.
void RegisterForOffice(const CLSID& recognizer, const CLSID& action);

// What Office asks a recognizer when it loads it.
struct RecognizerInfo {
  std::wstring progId, name, desc, smartTagName, downloadUrl;
  int smartTagCount = 0;
};
HRESULT Describe(ISmartTagRecognizer* recognizer, RecognizerInfo& info);

// A recognizer created by ProgID, as Office creates it.
HRESULT CreateRecognizer(const std::wstring& progId, ISmartTagRecognizer** out);

// One paragraph through Recognize (input type paragraph unless told otherwise).
HRESULT RecognizeParagraph(ISmartTagRecognizer* recognizer, const std::wstring& text,
                           std::vector<Tag>& tags, IF_TYPE type = IF_TYPE_PARA);

// Office 2003 and later: a recognizer created by ProgID for ISmartTagRecognizer2 first, as
// those Offices ask, and told the application's ProgID with SmartTagInitialize.
HRESULT CreateRecognizer2(const std::wstring& progId, const std::wstring& appName,
                          ISmartTagRecognizer2** out);
// The words of a text as Office 2003 hands them to Recognize2: a token per run of letters and
// digits, numbered from 1 (one reference).
ISmartTagTokenList* NewTokenList(const std::wstring& text);
// One paragraph through Recognize2, with a version-2 site and the paragraph's token list.
HRESULT RecognizeParagraph2(ISmartTagRecognizer2* recognizer, const std::wstring& text,
                            const std::wstring& appName, std::vector<Tag>& tags,
                            IF_TYPE type = IF_TYPE_PARA);
// The Properties button of the smart tag options, as Office 2003 offers it for the
// recognizer's first type: pressed when PropertyPage says there is a page. False when there is
// none or the question failed.
bool PressProperties(ISmartTagRecognizer2* recognizer, INT lcid = 1033);

// An interface as Office binds to it, from the registered library that declares it (for a dual
// interface, its vtable half): "base +slot:" with the vtable slot of its first own member, then
// its own members in vtable order as "name=dispid", a property read marked "get", and "@slot"
// after a member that does not follow the one before it. Empty when the library lacks it.
std::wstring DescribeInterface(REFIID iid);
// Office's Smart Tag interfaces, versions 1 and 2, each with its name.
std::vector<std::pair<std::wstring, IID>> SmartTagInterfaces();

// Paragraphs of a plain text file (UTF-8 or UTF-16 with BOM; one per line) or of a Word
// document's main part (word/document.xml, read with MSXML: the text of each w:p).
std::vector<std::wstring> ReadParagraphs(const std::wstring& path);

// The paragraph with "[" and "]" around every tag.
std::wstring MarkTags(const std::wstring& text, const std::vector<Tag>& tags);

}  // namespace qp::host
