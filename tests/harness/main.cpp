// The Office host harness: loads the recognizers Office would load into Word and runs them
// over a document, printing each paragraph with its tags marked and a summary.
//   office_host [--office xp|2003] [--install] [--progid PROGID] [--describe-only] FILE...
//   office_host [--office xp|2003] --verb N TEXT
//   office_host --office 2003 --properties
//   office_host --interfaces
// FILE is plain text (one paragraph per line) or a Word document's word/document.xml.
// --office plays Word 2002 (Office XP, the default: the version-1 interfaces only) or Word 2003
// (the version-2 interfaces asked for first, SmartTagInitialize, Recognize2 with a version-2
// site and a token list, InvokeVerb2).
// --verb picks verb N (1 replace with a Quillpoint, 2 maintain the terms) on a tag over TEXT in
// a Norvane template open in Word, with the Norvane add-in connected.
// --properties presses Word 2003's Properties button for the recognizer in the smart tag
// options, with no document open.
// --interfaces prints Office's Smart Tag interfaces as the registered library describes them to
// Office: identifier, base, vtable slots, members and dispatch ids.
// --install first writes Office's discovery keys for our recognizer and action, as the
// installer does.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "action_host.h"
#include "office_host.h"
#include "word_standin.h"

namespace {

void Print(const std::wstring& s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr,
                              nullptr);
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

constexpr wchar_t kWord2003ProgId[] = L"Word.Application.11";

std::wstring Hex(HRESULT hr) {
  wchar_t code[16];
  wsprintfW(code, L"0x%08X", static_cast<unsigned>(hr));
  return code;
}

// What Word does when the user picks a verb on a tag; Word 2003 through ISmartTagAction2.
int RunVerb(int verb, const std::wstring& text, bool office2003) {
  ISmartTagAction* action = nullptr;
  HRESULT hr = qp::host::CreateAction(L"NVSmartTagQuillpoint.Action", &action);
  if (FAILED(hr)) {
    Print(L"Cannot create NVSmartTagQuillpoint.Action (is the server registered?)\n");
    return 2;
  }
  int status = 0;
  {
    qp::host::ActionInfo info = qp::host::DescribeAction(action, qp::host::kWordProgId);
    for (const auto& type : info.types)
      for (const auto& v : type.verbs)
        if (v.id == verb) Print(L"Verb " + std::to_wstring(verb) + L": " + v.caption + L"\n");
    qp::host::WordStandIn word;
    word.SetDocumentType(qp::host::kWordTemplate);
    if (FAILED(word.AddNorvaneAddIn())) Print(L"(the Norvane add-in is not registered)\n");
    auto range = word.NewRange(text);
    ISmartTagAction2* action2 = nullptr;
    if (office2003 && SUCCEEDED(action->QueryInterface(IID_ISmartTagAction2,
                                                       reinterpret_cast<void**>(&action2)))) {
      BSTR app = SysAllocString(kWord2003ProgId);
      BSTR tagText = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      BSTR xml = SysAllocString(L"<xml/>");
      action2->SmartTagInitialize(app);
      hr = action2->InvokeVerb2(verb, app, range.Get(), nullptr, tagText, xml, 1033);
      SysFreeString(xml);
      SysFreeString(tagText);
      SysFreeString(app);
      action2->Release();
    } else {
      hr = qp::host::InvokeVerbOnTag(action, verb, qp::host::kWordProgId, range.Get(), text);
    }
    for (const std::wstring& call : word.Calls())
      Print(L"  Word: " + call + L"\n");
    if (!word.Selection().empty()) Print(L"  Selected: " + word.Selection() + L"\n");
    if (FAILED(hr)) {
      Print(L"  (InvokeVerb failed: " + Hex(hr) + L")\n");
      status = 1;
    }
  }
  action->Release();
  return status;
}

// Word 2003's smart tag options, with no document open: the Properties button of the
// recognizer, offered when it says it has a page.
int PressProperties(const std::wstring& progId) {
  ISmartTagRecognizer2* recognizer = nullptr;
  HRESULT hr = qp::host::CreateRecognizer2(progId, kWord2003ProgId, &recognizer);
  if (FAILED(hr)) {
    Print(L"Cannot create " + progId + L" for ISmartTagRecognizer2: " + Hex(hr) + L"\n");
    return 2;
  }
  const bool pressed = qp::host::PressProperties(recognizer);
  Print(pressed ? L"Properties pressed: the dialog has closed\n"
                : L"No Properties button for this recognizer\n");
  recognizer->Release();
  return pressed ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring progId;
  bool describeOnly = false, install = false, office2003 = false, properties = false,
       interfaces = false;
  int verb = 0;
  std::wstring verbText;
  std::vector<std::wstring> files;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--progid" && i + 1 < argc)
      progId = argv[++i];
    else if (a == L"--verb" && i + 2 < argc)
      verb = _wtoi(argv[++i]), verbText = argv[++i];
    else if (a == L"--describe-only")
      describeOnly = true;
    else if (a == L"--install")
      install = true;
    else if (a == L"--office" && i + 1 < argc)
      office2003 = std::wstring(argv[++i]) == L"2003";
    else if (a == L"--properties")
      properties = office2003 = true;
    else if (a == L"--interfaces")
      interfaces = true;
    else
      files.push_back(a);
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
  if (interfaces) {
    for (const auto& [name, iid] : qp::host::SmartTagInterfaces()) {
      wchar_t text[40];
      StringFromGUID2(iid, text, 40);
      Print(name + L" " + text + L"\n  " + qp::host::DescribeInterface(iid) + L"\n");
    }
    CoUninitialize();
    return 0;
  }
  if (verb != 0 || properties) {
    int status = properties
                     ? PressProperties(progId.empty() ? L"NVSmartTagQuillpoint.Recognizer" : progId)
                     : RunVerb(verb, verbText, office2003);
    CoUninitialize();
    return status;
  }
  std::vector<std::wstring> progIds =
      progId.empty() ? qp::host::FindRecognizers() : std::vector<std::wstring>{progId};
  if (progIds.empty()) {
    Print(L"No Smart Tag recognizer is registered for Office (" +
          std::wstring(qp::host::kRecognizersKey) + L" of the user or the machine).\n");
    return 2;
  }
  int status = 0;
  Print(office2003 ? L"As Word 2003: ISmartTagRecognizer2 first, Recognize2\n\n"
                   : L"As Word 2002 (Office XP): ISmartTagRecognizer, Recognize\n\n");
  for (const std::wstring& id : progIds) {
    ISmartTagRecognizer* recognizer = nullptr;
    ISmartTagRecognizer2* recognizer2 = nullptr;
    HRESULT hr = office2003 ? qp::host::CreateRecognizer2(id, kWord2003ProgId, &recognizer2)
                            : qp::host::CreateRecognizer(id, &recognizer);
    if (recognizer2)
      hr = recognizer2->QueryInterface(IID_ISmartTagRecognizer,
                                       reinterpret_cast<void**>(&recognizer));
    if (FAILED(hr)) {
      Print(L"Cannot create " + id + L": " + Hex(hr) + L"\n");
      if (recognizer2) recognizer2->Release();
      status = 1;
      continue;
    }
    qp::host::RecognizerInfo info;
    qp::host::Describe(recognizer, info);
    Print(L"Recognizer " + id + L"\n  ProgId: " + info.progId + L"\n  Name: " + info.name +
          L"\n  Desc: " + info.desc + L"\n  SmartTagCount: " + std::to_wstring(info.smartTagCount) +
          L"\n  SmartTagName(1): " + info.smartTagName + L"\n  SmartTagDownloadURL: " +
          info.downloadUrl + L"\n");
    VARIANT_BOOL hasPage = VARIANT_FALSE;
    if (recognizer2 && SUCCEEDED(recognizer2->get_PropertyPage(1, 1033, &hasPage)))
      Print(std::wstring(L"  PropertyPage(1): ") +
            (hasPage ? L"yes, the Properties button\n" : L"no\n"));
    Print(L"\n");
    if (describeOnly) {
      recognizer->Release();
      if (recognizer2) recognizer2->Release();
      continue;
    }
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    double seconds = 0;
    size_t paragraphs = 0, tags = 0, characters = 0, secondCommits = 0;
    std::map<std::wstring, size_t> perTerm;
    for (const std::wstring& file : files) {
      for (const std::wstring& text : qp::host::ReadParagraphs(file)) {
        std::vector<qp::host::Tag> found;
        QueryPerformanceCounter(&begin);
        hr = recognizer2 ? qp::host::RecognizeParagraph2(recognizer2, text, kWord2003ProgId, found)
                         : qp::host::RecognizeParagraph(recognizer, text, found);
        QueryPerformanceCounter(&end);
        seconds += double(end.QuadPart - begin.QuadPart) / double(frequency.QuadPart);
        ++paragraphs;
        characters += text.size();
        tags += found.size();
        Print(L"\xB6 " + Visible(qp::host::MarkTags(text, found)) + L"\n");
        if (FAILED(hr)) Print(L"  (Recognize failed: " + Hex(hr) + L")\n");
        for (const auto& t : found) {
          secondCommits += t.second;
          std::wstring term =
              text.substr(static_cast<size_t>(t.start - 1), static_cast<size_t>(t.length));
          CharUpperBuffW(term.data(), static_cast<DWORD>(term.size()));
          ++perTerm[term];
        }
      }
    }
    Print(L"\nSummary: " + std::to_wstring(paragraphs) + L" paragraphs, " +
          std::to_wstring(characters) + L" characters, " + std::to_wstring(tags) + L" tags (" +
          std::to_wstring(secondCommits) + L" through CommitSmartTag2)\n");
    for (const auto& [term, n] : perTerm)
      Print(L"  " + std::to_wstring(n) + L" \xD7 " + term + L"\n");
    if (paragraphs) {
      wchar_t line[128];
      swprintf(line, 128, L"Time: %.1f \x00B5s per paragraph (%.3f s in all)\n",
               seconds * 1e6 / double(paragraphs), seconds);
      Print(line);
    }
    recognizer->Release();
    if (recognizer2) recognizer2->Release();
  }
  CoUninitialize();
  return status;
}
