// The Office host harness: loads the recognizers Office would load into Word and runs them
// over a document, printing each paragraph with its tags marked and a summary.
//   office_host [--install] [--progid PROGID] [--describe-only] FILE...
// FILE is plain text (one paragraph per line) or a Word document's word/document.xml.
// --install first writes Office's discovery keys for our recognizer and action, as the
// installer does.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "office_host.h"

namespace {

void Print(const std::wstring& s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), bytes.data(), n, nullptr,
                      nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::wstring Visible(std::wstring s) {
  for (wchar_t& c : s)
    if (c == L'\t' || c == L'\v') c = L' ';
  return s;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring progId;
  bool describeOnly = false, install = false;
  std::vector<std::wstring> files;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--progid" && i + 1 < argc) progId = argv[++i];
    else if (a == L"--describe-only") describeOnly = true;
    else if (a == L"--install") install = true;
    else files.push_back(a);
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (install) {
    CLSID recognizer, action;
    if (FAILED(CLSIDFromProgID(L"NVSmartTagQuillpoint.Recognizer", &recognizer)) ||
        FAILED(CLSIDFromProgID(L"NVSmartTagQuillpoint.Action", &action))) {
      Print(L"The Smart Tag server is not registered (run regsvr32 nvstagQP.dll first).\n");
      return 2;
    }
    qp::host::RegisterForOffice(recognizer, action);
  }
  std::vector<std::wstring> progIds = progId.empty() ? qp::host::FindRecognizers()
                                                     : std::vector<std::wstring>{progId};
  if (progIds.empty()) {
    Print(L"No Smart Tag recognizer is registered for Office (HKCU\\" +
          std::wstring(qp::host::kRecognizersKey) + L").\n");
    return 2;
  }
  int status = 0;
  for (const std::wstring& id : progIds) {
    ISmartTagRecognizer* recognizer = nullptr;
    HRESULT hr = qp::host::CreateRecognizer(id, &recognizer);
    if (FAILED(hr)) {
      wchar_t code[16];
      wsprintfW(code, L"0x%08X", static_cast<unsigned>(hr));
      Print(L"Cannot create " + id + L": " + code + L"\n");
      status = 1;
      continue;
    }
    qp::host::RecognizerInfo info;
    qp::host::Describe(recognizer, info);
    Print(L"Recognizer " + id + L"\n  ProgId: " + info.progId + L"\n  Name: " + info.name +
          L"\n  Desc: " + info.desc + L"\n  SmartTagCount: " +
          std::to_wstring(info.smartTagCount) + L"\n  SmartTagName(1): " + info.smartTagName +
          L"\n  SmartTagDownloadURL: " + info.downloadUrl + L"\n\n");
    if (describeOnly) {
      recognizer->Release();
      continue;
    }
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    double seconds = 0;
    size_t paragraphs = 0, tags = 0, characters = 0;
    std::map<std::wstring, size_t> perTerm;
    for (const std::wstring& file : files) {
      for (const std::wstring& text : qp::host::ReadParagraphs(file)) {
        std::vector<qp::host::Tag> found;
        QueryPerformanceCounter(&begin);
        hr = qp::host::RecognizeParagraph(recognizer, text, found);
        QueryPerformanceCounter(&end);
        seconds += double(end.QuadPart - begin.QuadPart) / double(frequency.QuadPart);
        ++paragraphs;
        characters += text.size();
        tags += found.size();
        Print(L"\xB6 " + Visible(qp::host::MarkTags(text, found)) + L"\n");
        if (FAILED(hr)) {
          wchar_t code[16];
          wsprintfW(code, L"0x%08X", static_cast<unsigned>(hr));
          Print(L"  (Recognize failed: " + std::wstring(code) + L")\n");
        }
        for (const auto& t : found) {
          std::wstring term = text.substr(static_cast<size_t>(t.start - 1), static_cast<size_t>(t.length));
          CharUpperBuffW(term.data(), static_cast<DWORD>(term.size()));
          ++perTerm[term];
        }
      }
    }
    Print(L"\nSummary: " + std::to_wstring(paragraphs) + L" paragraphs, " +
          std::to_wstring(characters) + L" characters, " + std::to_wstring(tags) + L" tags\n");
    for (const auto& [term, n] : perTerm)
      Print(L"  " + std::to_wstring(n) + L" \xD7 " + term + L"\n");
    if (paragraphs) {
      wchar_t line[128];
      swprintf(line, 128, L"Time: %.1f \x00B5s per paragraph (%.3f s in all)\n",
               seconds * 1e6 / double(paragraphs), seconds);
      Print(line);
    }
    recognizer->Release();
  }
  CoUninitialize();
  return status;
}
