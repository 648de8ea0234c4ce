// Word's own objects as the action handler meets them, built by hand as late-bound automation
// objects: an Application with its ActiveDocument and COMAddIns, a Document with its Type, the
// COM add-ins with ProgId and Object, and the Range of a tag with Application, Select and Text.
// Every member call is written to a call list, so that a test can see what the handler did
// to Word.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

namespace qp::host {

using Microsoft::WRL::ComPtr;

inline constexpr wchar_t kWordProgId[] = L"Word.Application.10";
inline constexpr wchar_t kNorvaneAddInProgId[] = L"NVWordAddIn.Connect";
// Word's document types (WdDocumentType).
inline constexpr long kWordDocument = 0;
inline constexpr long kWordTemplate = 1;

class WordStandIn {
 public:
  // A running Word whose active document is an ordinary document, with no COM add-ins.
  WordStandIn();
  ~WordStandIn();
  WordStandIn(const WordStandIn&) = delete;
  WordStandIn& operator=(const WordStandIn&) = delete;

  void SetDocumentType(long type);
  // A COM add-in in Word's list, after those added before; object may be null (not connected).
  void AddComAddIn(const std::wstring& progId, IDispatch* object);
  // The Norvane add-in, its object created by ProgID as Word does when it connects the add-in.
  HRESULT AddNorvaneAddIn();
  // The object of the last AddNorvaneAddIn, or null.
  IDispatch* NorvaneAddIn() const { return norvane_.Get(); }

  IDispatch* Application() const { return application_.Get(); }
  // A range of the active document covering the given text (a tag's range).
  ComPtr<IDispatch> NewRange(const std::wstring& text);

  // "Object.Member" for each call by Word's clients, in order ("Range.Select", "Range.Text",
  // "Application.ActiveDocument", "COMAddIn.ProgId", ...).
  std::vector<std::wstring> Calls() const;
  void ClearCalls();
  // The text of the range selected last; empty when nothing was selected.
  std::wstring Selection() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
  ComPtr<IDispatch> application_;
  ComPtr<IDispatch> norvane_;
};

}  // namespace qp::host
