// A user who saves the terms again and again: the registered server's configuration store,
// reached through a Controller, rewrites the user's terms as they are until told to stop.
//   config_saver READY_EVENT STOP_EVENT COUNT
// signals READY_EVENT after the first complete save; stops after COUNT saves (0: no limit) or
// when STOP_EVENT is set. Exit code 0 when every save succeeded, 1 at the first failed one.
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cwchar>

#include "nvstagQP.h"

namespace {

int Fail(const char* what, HRESULT hr) {
  fprintf(stderr, "config_saver: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
  return 1;
}

int Save(HANDLE ready, HANDLE stop, unsigned long count) {
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
    _Records* terms = nullptr;
    hr = config->GetRecognizers(VARIANT_FALSE, &terms);
    if (FAILED(hr)) {
      status = Fail("GetRecognizers", hr);
      break;
    }
    IDispatch* list = terms;
    hr = config->UpdateRecognizers(&list);
    terms->Release();
    if (FAILED(hr)) {
      status = Fail("UpdateRecognizers", hr);
      break;
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
  if (argc != 4) {
    fprintf(stderr, "usage: config_saver READY_EVENT STOP_EVENT COUNT\n");
    return 2;
  }
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
  HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
  if (!ready || !stop) {
    fprintf(stderr, "config_saver: the events are not there\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = Save(ready, stop, wcstoul(argv[3], nullptr, 10));
  CoUninitialize();
  return status;
}
