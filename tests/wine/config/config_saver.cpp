// A user who saves the terms again and again: the registered server's configuration store,
// reached through a Controller, rewrites the user's terms until told to stop.
//   config_saver READY_EVENT STOP_EVENT COUNT [MODE]
// signals READY_EVENT after the first complete save; stops after COUNT saves (0: no limit) or
// when STOP_EVENT is set. Exit code 0 when every save succeeded, 1 at the first failed one.
// MODE "mark:X" makes save n change the last term to X followed by n (the terms as they are
// otherwise); MODE "read" saves nothing and reads the file again and again instead, each time
// as an engine does after the flag moved, and fails when a read fails or finds fewer terms
// than its first one; MODE "ok:X" presses OK in the terms dialog of the store (linked here,
// without window) COUNT times, each time with a new term X followed by n as the user's edit,
// the first time once STOP_EVENT is set; MODE "hold" holds the save lock until ended.
#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "config/config.h"
#include "config/config_file.h"
#include "nvstagQP.h"
#include "terms_harness.h"

namespace {

using Microsoft::WRL::ComPtr;

struct Failed {};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    fprintf(stderr, "config_saver: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    throw Failed{};
  }
}

// The last term's text set to `text`.
void MarkLastTerm(_Records* terms, const std::wstring& text) {
  VARIANT index, item;
  index.vt = VT_I4;
  Check(terms->get_Count(&index.lVal), "Count");
  VariantInit(&item);
  Check(terms->get_Item(index, &item), "Item");
  ComPtr<_RecognizerProps> record;
  const HRESULT hr =
      item.vt == VT_DISPATCH && item.pdispVal
          ? item.pdispVal->QueryInterface(IID__RecognizerProps,
                                          reinterpret_cast<void**>(record.GetAddressOf()))
          : E_NOINTERFACE;
  VariantClear(&item);
  Check(hr, "the last term");
  BSTR value = SysAllocString(text.c_str());
  const HRESULT put = record->put_Value(value);
  SysFreeString(value);
  Check(put, "changing the last term");
}

void PressOk(HANDLE ready, HANDLE stop, unsigned long count, const std::wstring& name) {
  using qp::harness::ScriptedTermsDialog;
  ComPtr<_SmartTagConfig> config;
  Check(qp::config::CreateSmartTagConfig(ScriptedTermsDialog::Make, IID__SmartTagConfig,
                                         reinterpret_cast<void**>(config.GetAddressOf())),
        "creating the store");
  for (unsigned long n = 1; n <= count; ++n) {
    ScriptedTermsDialog::Reset({qp::harness::Added(name + std::to_wstring(n))});
    if (n == 1)
      ScriptedTermsDialog::beforeOk = [&] {
        SetEvent(ready);
        WaitForSingleObject(stop, 60000);
      };
    Check(config->VisualConfig(), "VisualConfig");
    Check(ScriptedTermsDialog::shown == 1 && !ScriptedTermsDialog::refused ? S_OK : E_FAIL, "OK");
  }
}

void Save(HANDLE ready, HANDLE stop, unsigned long count, const std::wstring& mode) {
  if (mode.rfind(L"ok:", 0) == 0) return PressOk(ready, stop, count, mode.substr(3));
  if (mode == L"hold") {
    qp::config::SaveLock lock(qp::config::GetConfigFilePath());
    SetEvent(ready);
    WaitForSingleObject(stop, INFINITE);
    return;
  }
  const bool reading = mode == L"read";
  const std::wstring mark = mode.rfind(L"mark:", 0) == 0 ? mode.substr(5) : std::wstring();
  CLSID clsid;
  Check(CLSIDFromProgID(L"NVSmartTagQuillpoint.Controller", &clsid), "CLSIDFromProgID");
  ComPtr<_Controller> controller;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Controller,
                         reinterpret_cast<void**>(controller.GetAddressOf())),
        "creating the Controller");
  ComPtr<_SmartTagConfig> config;
  Check(controller->get_SmartTagConfiguration(config.GetAddressOf()), "SmartTagConfiguration");
  long firstCount = -1;
  for (unsigned long n = 1;; ++n) {
    if (reading) Check(config->Initialize(), "Initialize");
    ComPtr<_Records> terms;
    Check(config->GetRecognizers(VARIANT_FALSE, terms.GetAddressOf()), "GetRecognizers");
    if (reading) {
      long found = 0;
      Check(terms->get_Count(&found), "Count");
      if (firstCount < 0) firstCount = found;
      if (found < firstCount) {
        fprintf(stderr, "config_saver: read %ld terms, first %ld\n", found, firstCount);
        throw Failed{};
      }
    } else {
      if (!mark.empty()) MarkLastTerm(terms.Get(), mark + std::to_wstring(n));
      IDispatch* list = terms.Get();
      Check(config->UpdateRecognizers(&list), "UpdateRecognizers");
    }
    if (n == 1) SetEvent(ready);
    if (n == count || WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HANDLE ready = argc >= 4 ? OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]) : nullptr;
  HANDLE stop = argc >= 4 ? OpenEventW(SYNCHRONIZE, FALSE, argv[2]) : nullptr;
  if (!ready || !stop) {
    fprintf(stderr,
            "usage: config_saver READY_EVENT STOP_EVENT COUNT [MODE], with the events made\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  try {
    Save(ready, stop, wcstoul(argv[3], nullptr, 10), argc == 5 ? argv[4] : std::wstring());
  } catch (const Failed&) {
    status = 1;
  }
  CoUninitialize();
  return status;
}
