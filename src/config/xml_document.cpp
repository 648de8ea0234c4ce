#include "config/xml_document.h"

#include <cstring>

#include "platform/com_object.h"
#include "config/config_file.h"
#include "platform/error.h"

namespace qp {

template <>
const IID& IidOf<ISAXErrorHandler>() {
  return kIID_ISAXErrorHandler;
}

namespace {

std::wstring TrimLineEnd(std::wstring s) {
  while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n' || s.back() == L' '))
    s.pop_back();
  return s;
}

std::wstring DecodeLine(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  // The parser reads a file without declaration as UTF-8; anything else is shown as ANSI.
  for (UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    int n = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                nullptr, 0);
    if (n <= 0) continue;
    std::wstring s(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), s.data(), n);
    return s;
  }
  return std::wstring();
}

// Keeps the first fatal error the SAX reader reports, with its line.
class FirstError final : public ComClass<FirstError, ISAXErrorHandler> {
 public:
  STDMETHODIMP error(ISAXLocator* locator, const wchar_t* message, HRESULT) override {
    Keep(locator, message);
    return S_OK;
  }
  STDMETHODIMP fatalError(ISAXLocator* locator, const wchar_t* message, HRESULT) override {
    Keep(locator, message);
    return S_OK;
  }
  STDMETHODIMP ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

  bool seen = false;
  int line = 0;
  std::wstring message;

 private:
  void Keep(ISAXLocator* locator, const wchar_t* text) {
    if (seen) return;
    seen = true;
    if (locator) locator->getLineNumber(&line);
    message = TrimLineEnd(text ? text : L"");
  }
};

// The bytes in a stream of its own; null when there is no memory for it.
ComPtr<IStream> StreamOf(const std::string& bytes) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size() ? bytes.size() : 1);
  void* at = memory ? GlobalLock(memory) : nullptr;
  if (!at) {
    if (memory) GlobalFree(memory);
    return nullptr;
  }
  std::memcpy(at, bytes.data(), bytes.size());
  GlobalUnlock(memory);
  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(memory, TRUE, stream.GetAddressOf()))) {
    GlobalFree(memory);
    return nullptr;
  }
  // Cut to the bytes (the block may be larger); from here the stream owns the memory.
  ULARGE_INTEGER length;
  length.QuadPart = bytes.size();
  if (FAILED(stream->SetSize(length))) return nullptr;
  return stream;
}

}  // namespace

ComPtr<IXMLDOMDocument2> NewXmlDocument() {
  ComPtr<IDispatch> created = CreateObject(kDomDocumentProgId);
  ComPtr<IXMLDOMDocument2> doc;
  Check(
      created->QueryInterface(kIID_IXMLDOMDocument2, reinterpret_cast<void**>(doc.GetAddressOf())));
  return doc;
}

bool LoadXmlFile(IXMLDOMDocument2* doc, const std::wstring& path) {
  Check(doc->put_async(VARIANT_FALSE));
  // The file's bytes go to the parser as a stream: handed a path, the parser fetches the file
  // through the platform's URL machinery, which under Wine takes ten times as long as the
  // parse. The parser finds the encoding in the bytes either way.
  ComPtr<IStream> stream;
  std::string bytes;
  if (ReadFileBytes(path, bytes)) stream = StreamOf(bytes);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr;
  if (stream) {
    VARIANT source;
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.Get();
    hr = doc->load(source, &loaded);
  } else {
    // Unreadable: the parser's own attempt says why.
    hr = doc->load(*Variant::FromString(path).Get(), &loaded);
  }
  return SUCCEEDED(hr) && loaded == VARIANT_TRUE;
}

std::wstring FileLine(const std::wstring& path, long line) {
  if (line < 1) return std::wstring();
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return std::wstring();
  size_t start = 0;
  for (long n = 1; n < line; ++n) {
    start = bytes.find('\n', start);
    if (start == std::string::npos) return std::wstring();
    ++start;
  }
  size_t end = bytes.find('\n', start);
  std::string text =
      bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return DecodeLine(text);
}

ParseFailure DescribeParseFailure(IXMLDOMDocument2* doc, const std::wstring& path) {
  ParseFailure failure;
  long line = 0;
  ComPtr<IXMLDOMParseError> error;
  if (SUCCEEDED(doc->get_parseError(error.GetAddressOf())) && error) {
    Bstr reason, srcText;
    error->get_reason(reason.Out());
    error->get_srcText(srcText.Out());
    error->get_line(&line);
    failure.reason = reason.Str();
    failure.srcText = srcText.Str();
  }
  if (line > 0 || !failure.srcText.empty()) return failure;

  // No position from the DOM: let the SAX reader find the first error and its line.
  try {
    ComPtr<IDispatch> created = CreateObject(kSaxReaderProgId);
    ComPtr<ISAXXMLReader> reader;
    Check(created->QueryInterface(kIID_ISAXXMLReader,
                                  reinterpret_cast<void**>(reader.GetAddressOf())));
    ComPtr<FirstError> handler = FirstError::New();
    Check(reader->putErrorHandler(handler.Get()));
    reader->parseURL(path.c_str());
    reader->putErrorHandler(nullptr);
    if (handler->seen) {
      if (!handler->message.empty()) failure.reason = handler->message;
      failure.srcText = FileLine(path, handler->line);
    }
  } catch (const Error&) {
    // Without a SAX reader the DOM's own answer is all there is.
  }
  return failure;
}

}  // namespace qp
