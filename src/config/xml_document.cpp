#include "config/xml_document.h"

#include <cstring>

#include "platform/com_object.h"
#include "config/config_file.h"
#include "platform/error.h"
#include "platform/strings.h"

template <>
const IID& qp::platform::IidOf<ISAXErrorHandler>() {
  return qp::config::kIID_ISAXErrorHandler;
}

namespace qp::config {
using namespace qp::platform;

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
  STDMETHODIMP error(ISAXLocator* locator, const wchar_t* message, HRESULT) noexcept override {
    return ComBoundary([&] { Keep(locator, message); });
  }
  STDMETHODIMP fatalError(ISAXLocator* locator, const wchar_t* message, HRESULT) noexcept override {
    return ComBoundary([&] { Keep(locator, message); });
  }
  STDMETHODIMP ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) noexcept override {
    return S_OK;
  }

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

bool StartsWith(const std::wstring& text, size_t at, const wchar_t* what) {
  return text.compare(at, wcslen(what), what) == 0;
}

// The file's text as the parser's detection of the encoding reads it, far enough for the
// markup before the root: by its byte-order mark, as UTF-16 where the bytes show it without
// one, as UTF-7 where it declares so. Every other encoding the parser reads writes markup in
// ASCII, so there each byte stands for itself (`bytewise`). None: an encoding whose markup
// cannot be told (UTF-32, EBCDIC), which no configuration is written in.
std::optional<std::wstring> MarkupText(const std::string& bytes, bool& bytewise) {
  auto at = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
  const unsigned long first4 = at(0) << 24 | at(1) << 16 | at(2) << 8 | at(3);
  for (unsigned long unreadable : {0x0000003Cul, 0x3C000000ul, 0x0000FEFFul, 0xFFFE0000ul,
                                   0x4C6FA794ul})  // UTF-32 both ways, "<?xm" in EBCDIC
    if (bytes.size() >= 4 && first4 == unreadable) return std::nullopt;
  bytewise = false;
  const bool bigEndian = (at(0) == 0xFE && at(1) == 0xFF) || (at(0) == 0 && at(1) != 0);
  if ((at(0) == 0xFF && at(1) == 0xFE) || bigEndian || (at(0) != 0 && at(1) == 0)) {
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<wchar_t>(bigEndian ? at(2 * i) << 8 | at(2 * i + 1)
                                               : at(2 * i + 1) << 8 | at(2 * i));
    return text;
  }
  std::string declaration = bytes.rfind("<?xml", 0) == 0 ? bytes.substr(0, bytes.find("?>")) : "";
  CharLowerBuffA(declaration.data(), static_cast<DWORD>(declaration.size()));
  if (declaration.find("utf-7") != std::string::npos) {
    const int n =
        MultiByteToWideChar(CP_UTF7, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
      MultiByteToWideChar(CP_UTF7, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    return text;
  }
  bytewise = true;
  std::wstring text(bytes.size(), L'\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    text[i] = static_cast<unsigned char>(bytes[i]);
  return text;
}

}  // namespace

std::optional<ParseFailure> FindDocumentTypeDeclaration(const std::string& bytes) {
  bool bytewise = false;
  const std::optional<std::wstring> text = MarkupText(bytes, bytewise);
  if (!text) return ParseFailure{GetResourceString(kMsgUnreadableEncoding, {}), L""};
  const std::wstring& t = *text;
  size_t i = StartsWith(t, 0, L"\xFEFF")                     ? 1
             : StartsWith(t, 0, L"\xEF\xBB\xBF") && bytewise ? 3
                                                             : 0;
  // Only white space, the declaration, processing instructions and comments come before the
  // root; whatever else stands there is the parser's to answer.
  for (;;) {
    i = t.find_first_not_of(L" \t\r\n", i);
    if (i == std::wstring::npos) return std::nullopt;
    const bool comment = StartsWith(t, i, L"<!--");
    if (!comment && StartsWith(t, i, L"<!")) break;
    if (!comment && !StartsWith(t, i, L"<?")) return std::nullopt;
    const size_t end = t.find(comment ? L"-->" : L"?>", i + 2);
    if (end == std::wstring::npos) return std::nullopt;
    i = end + (comment ? 3 : 2);
  }
  const size_t lineStart = t.rfind(L'\n', i) == std::wstring::npos ? 0 : t.rfind(L'\n', i) + 1;
  const size_t lineEnd = t.find(L'\n', i);
  const size_t length = lineEnd == std::wstring::npos ? std::wstring::npos : lineEnd - lineStart;
  const std::wstring line =
      bytewise ? DecodeLine(bytes.substr(lineStart, length)) : t.substr(lineStart, length);
  return ParseFailure{GetResourceString(kMsgDocumentType, {}), TrimLineEnd(line)};
}

ComPtr<IXMLDOMDocument2> NewXmlDocument() {
  ComPtr<IDispatch> created = CreateObject(kDomDocumentProgId);
  ComPtr<IXMLDOMDocument2> doc;
  Check(
      created->QueryInterface(kIID_IXMLDOMDocument2, reinterpret_cast<void**>(doc.GetAddressOf())));
  Check(doc->put_resolveExternals(VARIANT_FALSE));
  Check(doc->put_validateOnParse(VARIANT_FALSE));
  // Parsers that know the property refuse a declaration themselves; the others are never
  // handed one (FindDocumentTypeDeclaration).
  Bstr prohibit(L"ProhibitDTD");
  doc->setProperty(prohibit.Get(), *Variant::FromBool(true).Get());
  return doc;
}

std::optional<ParseFailure> LoadXmlFile(IXMLDOMDocument2* doc, const std::wstring& path) {
  Check(doc->put_async(VARIANT_FALSE));
  // The file's bytes go to the parser as a stream: handed a path, the parser fetches the file
  // through the platform's URL machinery, which under Wine takes ten times as long as the
  // parse. The parser finds the encoding in the bytes either way.
  ComPtr<IStream> stream;
  std::string bytes;
  if (ReadFileBytes(path, bytes)) {
    if (std::optional<ParseFailure> refused = FindDocumentTypeDeclaration(bytes)) return refused;
    stream = StreamOf(bytes);
  }
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
  if (SUCCEEDED(hr) && loaded == VARIANT_TRUE) return std::nullopt;
  return DescribeParseFailure(doc, path);
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

}  // namespace qp::config
