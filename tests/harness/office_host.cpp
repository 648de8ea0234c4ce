#include "office_host.h"

#include <msxml2.h>

#include <algorithm>
#include <map>

namespace qp::host {
namespace {

// IXMLDOMDocument2 (msxml2.h declares it; mingw-w64 ships no import library with the IID).
constexpr IID kIidXmlDocument2 = {
    0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

std::wstring Take(BSTR b) {
  std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
  SysFreeString(b);
  return s;
}

std::wstring FromUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring s(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), s.data(), n);
  return s;
}

bool EndsWith(const std::wstring& s, const std::wstring& tail) {
  if (s.size() < tail.size()) return false;
  return CompareStringOrdinal(s.c_str() + s.size() - tail.size(), static_cast<int>(tail.size()),
                              tail.c_str(), static_cast<int>(tail.size()), TRUE) == CSTR_EQUAL;
}

std::vector<std::wstring> TextParagraphs(const std::wstring& path) {
  std::string bytes;
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0)
      bytes.append(buffer, n);
    CloseHandle(file);
  }
  std::wstring text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  } else {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text = FromUtf8(bytes);
  }
  std::vector<std::wstring> paragraphs;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(at, end - at);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty()) paragraphs.push_back(line);
    at = end + 1;
  }
  return paragraphs;
}

// The main part of a Word document: each w:p is a paragraph, its text the w:t runs, with a tab
// for w:tab and Word's manual line break (vertical tab) for w:br.
std::vector<std::wstring> WordParagraphs(const std::wstring& path) {
  std::vector<std::wstring> paragraphs;
  IXMLDOMDocument2* doc = nullptr;
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"MSXML2.DOMDocument", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDocument2,
                              reinterpret_cast<void**>(&doc))))
    return paragraphs;
  doc->put_async(VARIANT_FALSE);
  VARIANT file;
  file.vt = VT_BSTR;
  file.bstrVal = SysAllocString(path.c_str());
  VARIANT_BOOL loaded = VARIANT_FALSE;
  doc->load(file, &loaded);
  VariantClear(&file);
  if (loaded == VARIANT_TRUE) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal =
        SysAllocString(L"xmlns:w='http://schemas.openxmlformats.org/wordprocessingml/2006/main'");
    BSTR name = SysAllocString(L"SelectionNamespaces");
    doc->setProperty(name, v);
    SysFreeString(name);
    VariantClear(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"XPath");
    name = SysAllocString(L"SelectionLanguage");
    doc->setProperty(name, v);
    SysFreeString(name);
    VariantClear(&v);

    IXMLDOMNodeList* ps = nullptr;
    BSTR query = SysAllocString(L"//w:body//w:p");
    doc->selectNodes(query, &ps);
    SysFreeString(query);
    long count = 0;
    if (ps) ps->get_length(&count);
    for (long i = 0; i < count; ++i) {
      IXMLDOMNode* p = nullptr;
      ps->get_item(i, &p);
      if (!p) continue;
      IXMLDOMNodeList* runs = nullptr;
      BSTR parts = SysAllocString(L".//w:t | .//w:tab | .//w:br");
      p->selectNodes(parts, &runs);
      SysFreeString(parts);
      std::wstring text;
      long n = 0;
      if (runs) runs->get_length(&n);
      for (long j = 0; j < n; ++j) {
        IXMLDOMNode* run = nullptr;
        runs->get_item(j, &run);
        if (!run) continue;
        BSTR base = nullptr;
        run->get_baseName(&base);
        std::wstring kind = Take(base);
        if (kind == L"t") {
          BSTR t = nullptr;
          run->get_text(&t);
          text += Take(t);
        } else if (kind == L"tab") {
          text += L'\t';
        } else if (kind == L"br") {
          text += L'\v';
        }
        run->Release();
      }
      if (runs) runs->Release();
      p->Release();
      if (!text.empty()) paragraphs.push_back(text);
    }
    if (ps) ps->Release();
  }
  doc->Release();
  return paragraphs;
}

// One word of the text, with no properties of its own.
class Token final : public HostObject<ISmartTagToken> {
 public:
  Token(LONG start, std::wstring text) : start_(start), text_(std::move(text)) {}
  STDMETHODIMP get_Start(LONG* start) override { return Out(start, start_); }
  STDMETHODIMP get_Length(LONG* length) override {
    return Out(length, static_cast<LONG>(text_.size()));
  }
  STDMETHODIMP get_Text(BSTR* text) override {
    if (!text) return E_POINTER;
    *text = SysAllocStringLen(text_.data(), static_cast<UINT>(text_.size()));
    return *text ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP get_Properties(ISmartTagTokenProperties** properties) override {
    if (!properties) return E_POINTER;
    *properties = nullptr;
    return S_OK;
  }

 private:
  static HRESULT Out(LONG* out, LONG value) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
  }
  LONG start_;
  std::wstring text_;
};

class TokenList final : public HostObject<ISmartTagTokenList> {
 public:
  explicit TokenList(const std::wstring& text) {
    for (size_t at = 0; at < text.size();) {
      if (!IsCharAlphaNumericW(text[at])) {
        ++at;
        continue;
      }
      size_t end = at;
      while (end < text.size() && IsCharAlphaNumericW(text[end]))
        ++end;
      words_.emplace_back(static_cast<LONG>(at) + 1, text.substr(at, end - at));
      at = end;
    }
  }
  STDMETHODIMP get_Item(LONG index, ISmartTagToken** token) override {
    if (!token) return E_POINTER;
    *token = nullptr;
    if (index < 1 || static_cast<size_t>(index) > words_.size()) return E_INVALIDARG;
    const auto& [start, word] = words_[static_cast<size_t>(index - 1)];
    *token = new Token(start, word);
    return S_OK;
  }
  STDMETHODIMP get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(words_.size());
    return S_OK;
  }

 private:
  std::vector<std::pair<LONG, std::wstring>> words_;
};

}  // namespace

ITypeInfo* RegisteredTypeInfo(REFIID iid) {
  ITypeInfo* info = nullptr;
  ITypeLib* lib = nullptr;
  if (SUCCEEDED(LoadRegTypeLib(LIBID_NVSmartTagQuillpoint, 1, 1, LOCALE_NEUTRAL, &lib))) {
    lib->GetTypeInfoOfGuid(iid, &info);
    lib->Release();
  }
  return info;
}

// ---- the site ----------------------------------------------------------------------------

RecognizerSite* RecognizerSite::New(bool version2) {
  return new RecognizerSite(version2);
}

STDMETHODIMP RecognizerSite::GetNewPropertyBag(ISmartTagProperties** bag) {
  if (bag) *bag = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP RecognizerSite::CommitSmartTag(BSTR name, INT start, INT length,
                                            ISmartTagProperties*) {
  tags.push_back({name ? std::wstring(name, SysStringLen(name)) : std::wstring(), start, length});
  return S_OK;
}

STDMETHODIMP RecognizerSite::CommitSmartTag2(BSTR name, INT start, INT length, ISmartTagProperties*,
                                             HRESULT* result) {
  if (!version2_) return E_NOTIMPL;  // not a member of the version-1 site
  if (result) *result = S_OK;
  tags.push_back(
      {name ? std::wstring(name, SysStringLen(name)) : std::wstring(), start, length, true});
  return S_OK;
}

// ---- discovery and the questions Office asks ---------------------------------------------

// Office lists the recognizers of the user's hive and of the machine's: an installation for one
// user writes the first, one for every user the second. A class listed in both is one recognizer.
std::vector<std::wstring> FindRecognizers() {
  std::vector<std::wstring> progIds;
  std::vector<CLSID> seen;
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, kRecognizersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
      DWORD len = 64;
      if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      DWORD status = 0, size = sizeof status;
      if (RegGetValueW(key, name, L"Status", RRF_RT_REG_DWORD, nullptr, &status, &size) ==
              ERROR_SUCCESS &&
          (status & kStatusWordOff))
        continue;
      CLSID clsid;
      if (FAILED(CLSIDFromString(name, &clsid)) ||
          std::find(seen.begin(), seen.end(), clsid) != seen.end())
        continue;
      seen.push_back(clsid);
      LPOLESTR progId = nullptr;
      if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
        progIds.push_back(progId);
        CoTaskMemFree(progId);
      }
    }
    RegCloseKey(key);
  }
  return progIds;
}

void RegisterForOffice(const CLSID& recognizer, const CLSID& action) {
  wchar_t text[40];
  for (auto [root, clsid] : {std::pair{kRecognizersKey, &recognizer}, {kActionsKey, &action}}) {
    StringFromGUID2(*clsid, text, 40);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(root) + L"\\" + text).c_str(), 0, nullptr,
                        0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS)
      RegCloseKey(key);
  }
}

HRESULT CreateRecognizer(const std::wstring& progId, ISmartTagRecognizer** out) {
  *out = nullptr;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmartTagRecognizer,
                          reinterpret_cast<void**>(out));
}

HRESULT Describe(ISmartTagRecognizer* r, RecognizerInfo& info) {
  const INT lcid = 1033;
  BSTR b = nullptr;
  HRESULT hr = r->get_ProgId(&b);
  info.progId = Take(b);
  if (FAILED(hr)) return hr;
  b = nullptr;
  hr = r->get_Name(lcid, &b);
  info.name = Take(b);
  if (FAILED(hr)) return hr;
  b = nullptr;
  hr = r->get_Desc(lcid, &b);
  info.desc = Take(b);
  if (FAILED(hr)) return hr;
  hr = r->get_SmartTagCount(&info.smartTagCount);
  if (FAILED(hr)) return hr;
  b = nullptr;
  hr = r->get_SmartTagName(1, &b);
  info.smartTagName = Take(b);
  if (FAILED(hr)) return hr;
  b = nullptr;
  hr = r->get_SmartTagDownloadURL(1, &b);
  info.downloadUrl = Take(b);
  return hr;
}

HRESULT RecognizeParagraph(ISmartTagRecognizer* recognizer, const std::wstring& text,
                           std::vector<Tag>& tags, IF_TYPE type) {
  RecognizerSite* site = RecognizerSite::New();
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  HRESULT hr = recognizer->Recognize(b, type, 1033, site);
  SysFreeString(b);
  tags = std::move(site->tags);
  site->Release();
  return hr;
}

HRESULT CreateRecognizer2(const std::wstring& progId, const std::wstring& appName,
                          ISmartTagRecognizer2** out) {
  *out = nullptr;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmartTagRecognizer2,
                        reinterpret_cast<void**>(out));
  if (FAILED(hr)) return hr;
  BSTR app = SysAllocString(appName.c_str());
  hr = (*out)->SmartTagInitialize(app);
  SysFreeString(app);
  return hr;
}

ISmartTagTokenList* NewTokenList(const std::wstring& text) {
  return new TokenList(text);
}

HRESULT RecognizeParagraph2(ISmartTagRecognizer2* recognizer, const std::wstring& text,
                            const std::wstring& appName, std::vector<Tag>& tags, IF_TYPE type) {
  RecognizerSite* site = RecognizerSite::New(true);
  ISmartTagTokenList* tokens = NewTokenList(text);
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  BSTR app = SysAllocString(appName.c_str());
  HRESULT hr = recognizer->Recognize2(b, type, 1033, site, app, tokens);
  SysFreeString(app);
  SysFreeString(b);
  tags = std::move(site->tags);
  tokens->Release();
  site->Release();
  return hr;
}

bool PressProperties(ISmartTagRecognizer2* recognizer, INT lcid) {
  VARIANT_BOOL hasPage = VARIANT_FALSE;
  if (FAILED(recognizer->get_PropertyPage(1, lcid, &hasPage)) || hasPage != VARIANT_TRUE)
    return false;
  return SUCCEEDED(recognizer->DisplayPropertyPage(1, lcid));
}

std::wstring DescribeInterface(REFIID iid) {
  ITypeInfo* info = RegisteredTypeInfo(iid);
  ITypeInfo *vtable = nullptr, *base = nullptr;
  HREFTYPE ref = 0;
  if (info && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)))
    info->GetRefTypeInfo(ref, &vtable);
  if (info) info->Release();
  if (vtable && SUCCEEDED(vtable->GetRefTypeOfImplType(0, &ref)))
    vtable->GetRefTypeInfo(ref, &base);
  TYPEATTR* attr = nullptr;
  if (!base || FAILED(vtable->GetTypeAttr(&attr))) {
    if (vtable) vtable->Release();
    if (base) base->Release();
    return {};
  }
  BSTR name = nullptr;
  base->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  base->Release();
  std::wstring text = Take(name);
  int next = 0;  // the slot that follows the member before
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(vtable->GetFuncDesc(i, &f))) continue;
    const int slot = f->oVft / static_cast<int>(sizeof(void*));
    if (i == 0) text += L" +" + std::to_wstring(next = slot) + L":";
    UINT got = 0;
    vtable->GetNames(f->memid, &(name = nullptr), 1, &got);
    text += (f->invkind == INVOKE_PROPERTYGET ? L" get " : L" ") + Take(name) + L"=" +
            std::to_wstring(f->memid) + (slot == next ? L"" : L"@" + std::to_wstring(slot));
    next = slot + 1;
    vtable->ReleaseFuncDesc(f);
  }
  vtable->ReleaseTypeAttr(attr);
  vtable->Release();
  return text;
}

std::vector<std::pair<std::wstring, IID>> SmartTagInterfaces() {
  return {{L"ISmartTagRecognizer", IID_ISmartTagRecognizer},
          {L"ISmartTagRecognizerSite", IID_ISmartTagRecognizerSite},
          {L"ISmartTagProperties", IID_ISmartTagProperties},
          {L"ISmartTagAction", IID_ISmartTagAction},
          {L"ISmartTagRecognizer2", IID_ISmartTagRecognizer2},
          {L"ISmartTagRecognizerSite2", IID_ISmartTagRecognizerSite2},
          {L"ISmartTagTokenList", IID_ISmartTagTokenList},
          {L"ISmartTagToken", IID_ISmartTagToken},
          {L"ISmartTagTokenProperties", IID_ISmartTagTokenProperties},
          {L"ISmartTagAction2", IID_ISmartTagAction2}};
}

std::vector<std::wstring> ReadParagraphs(const std::wstring& path) {
  if (EndsWith(path, L".xml")) return WordParagraphs(path);
  return TextParagraphs(path);
}

std::wstring MarkTags(const std::wstring& text, const std::vector<Tag>& tags) {
  // Brackets go in from the end, so positions before them stay valid; at one position the
  // closing ones come before the opening ones.
  std::multimap<int, wchar_t, std::greater<int>> marks;
  for (const Tag& t : tags) {
    marks.emplace(t.start - 1, L'[');
    marks.emplace(t.start - 1 + t.length, L']');
  }
  std::wstring out = text;
  for (auto it = marks.begin(); it != marks.end();) {
    int at = it->first;
    std::wstring opening, closing;
    for (; it != marks.end() && it->first == at; ++it)
      (it->second == L'[' ? opening : closing) += it->second;
    if (at >= 0 && static_cast<size_t>(at) <= out.size())
      out.insert(static_cast<size_t>(at), closing + opening);
  }
  return out;
}

}  // namespace qp::host
