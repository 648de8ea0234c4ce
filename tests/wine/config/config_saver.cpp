// A user who saves the terms again and again: the registered server's configuration store,
// reached through a Controller, rewrites the user's terms until told to stop.
//   config_saver READY_EVENT STOP_EVENT COUNT [MODE]
// signals READY_EVENT after the first complete save; stops after COUNT saves (0: no limit) or
// when STOP_EVENT is set. Exit code 0 when every save succeeded, 1 at the first failed one.
// MODE "mark:X" makes save n change the last term to X followed by n (the terms as they are
// otherwise); MODE "read" saves nothing and reads the file again and again instead, each time
// as an engine does after the flag moved, and fails when a read fails or finds fewer terms
// than its first one.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "nvstagQP.h"

namespace {

int Fail(const char* what, HRESULT hr) {
  fprintf(stderr, "config_saver: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
  return 1;
}

// The last term's text set to `text`.
HRESULT MarkLastTerm(_Records* terms, const std::wstring& text) {
  long count = 0;
  HRESULT hr = terms->get_Count(&count);
  if (FAILED(hr)) return hr;
  VARIANT index;
  index.vt = VT_I4;
  index.lVal = count;
  VARIANT item;
  VariantInit(&item);
  hr = terms->get_Item(index, &item);
  if (FAILED(hr)) return hr;
  _RecognizerProps* record = nullptr;
  hr = item.vt == VT_DISPATCH && item.pdispVal
           ? item.pdispVal->QueryInterface(IID__RecognizerProps, reinterpret_cast<void**>(&record))
           : E_NOINTERFACE;
  VariantClear(&item);
  if (FAILED(hr)) return hr;
  BSTR value = SysAllocString(text.c_str());
  hr = record->put_Value(value);
  SysFreeString(value);
  record->Release();
  return hr;
}

int Save(HANDLE ready, HANDLE stop, unsigned long count, const std::wstring& mode) {
  const bool reading = mode == L"read";
  const std::wstring mark = mode.rfind(L"mark:", 0) == 0 ? mode.substr(5) : std::wstring();
  long firstCount = -1;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"NVSmartTagQuillpoint.Controller", &clsid);
  if (FAILED(hr)) return Fail("CLSIDFromProgID", hr);
  _Controller* controller = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Controller,
                        reinterpret_cast<void**>(&controller));
  if (FAILED(hr)) return Fail("creating the Controller", hr);
  _SmartTagConfig* config = nullptr;
  hr = controller->get_SmartTagConfiguration(&config);
  int status = 0;
  if (FAILED(hr)) status = Fail("SmartTagConfiguration", hr);
  for (unsigned long n = 1; status == 0; ++n) {
    if (reading && FAILED(hr = config->Initialize())) {
      status = Fail("Initialize", hr);
      break;
    }
    _Records* terms = nullptr;
    hr = config->GetRecognizers(VARIANT_FALSE, &terms);
    if (FAILED(hr)) {
      status = Fail("GetRecognizers", hr);
      break;
    }
    if (reading) {
      long found = 0;
      hr = terms->get_Count(&found);
      terms->Release();
      if (FAILED(hr)) {
        status = Fail("Count", hr);
        break;
      }
      if (firstCount < 0) firstCount = found;
      if (found < firstCount) {
        fprintf(stderr, "config_saver: read %ld terms, first %ld\n", found, firstCount);
        status = 1;
        break;
      }
    } else {
      if (!mark.empty() && FAILED(hr = MarkLastTerm(terms, mark + std::to_wstring(n)))) {
        terms->Release();
        status = Fail("changing the last term", hr);
        break;
      }
      IDispatch* list = terms;
      hr = config->UpdateRecognizers(&list);
      terms->Release();
      if (FAILED(hr)) {
        status = Fail("UpdateRecognizers", hr);
        break;
      }
    }
    if (n == 1) SetEvent(ready);
    if (n == count || WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) break;
  }
  if (config) config->Release();
  controller->Release();
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: config_saver READY_EVENT STOP_EVENT COUNT [MODE]\n");
    return 2;
  }
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
  HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
  if (!ready || !stop) {
    fprintf(stderr, "config_saver: the events are not there\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status =
      Save(ready, stop, wcstoul(argv[3], nullptr, 10), argc == 5 ? argv[4] : std::wstring());
  CoUninitialize();
  return status;
}
