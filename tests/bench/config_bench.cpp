// Prints what the configuration store takes, on the user's configuration of the prefix it runs
// in (put back as it was at the end):
// - for each damaged or hostile file in place of the user's, its size, the store's answer to
//   the first query and the time it took;
// - the time of OK in the terms dialog (reading the file, merging one new term, writing it
//   under the save lock, moving the flag), alone and while another process saves the terms
//   again and again.
//   config_bench [--runs N]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "config/config_file.h"
#include "nvstagQP.h"
#include "platform/automation.h"
#include "terms_harness.h"

namespace {

using qp::harness::ScriptedTermsDialog;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kSavingEvent[] = L"qp_config_bench_saving";

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  const bool ok = f != INVALID_HANDLE_VALUE &&
                  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  return ok && written == bytes.size();
}

qp::ComPtr<_SmartTagConfig> NewConfig(qp::config::MakeTermsDialog dialog = nullptr) {
  qp::ComPtr<_SmartTagConfig> config;
  qp::config::CreateSmartTagConfig(dialog, IID__SmartTagConfig,
                                   reinterpret_cast<void**>(config.GetAddressOf()));
  return config;
}

// Another process of the user that saves the terms until it is ended.
int SaveForever() {
  HANDLE saving = OpenEventW(EVENT_MODIFY_STATE, FALSE, kSavingEvent);
  qp::ComPtr<_SmartTagConfig> config = NewConfig();
  for (;;) {
    qp::ComPtr<_Records> terms;
    if (!config || FAILED(config->GetRecognizers(VARIANT_FALSE, terms.GetAddressOf()))) return 1;
    IDispatch* list = terms.Get();
    if (FAILED(config->UpdateRecognizers(&list))) return 1;
    SetEvent(saving);
  }
}

ULONGLONG WrittenAt(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 |
         data.ftLastWriteTime.dwLowDateTime;
}

void PrintTimes(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("  %-44s median %7.1f ms  min %7.1f  max %7.1f  (%zu runs)\n", what,
              ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

// The whole OK, and the part until the new file was written (taking the lock, reading the file,
// merging, writing): the rest is the wait for the next second of the flag that tells every
// recognizer, which follows every save.
void PrintOkTimes(const char* when, const std::wstring& path, int runs) {
  std::vector<double> whole, written;
  for (int i = 0; i < runs; ++i) {
    const std::wstring term = L"BENCH " + std::to_wstring(i);
    ScriptedTermsDialog::Reset({qp::harness::Added(term)});
    qp::ComPtr<_SmartTagConfig> config = NewConfig(ScriptedTermsDialog::Make);
    const auto start = Clock::now();
    // The term is seen in the file by a reader beside the OK, as another process would see it;
    // it opens the file only after it changed, so as not to hold off the replace it waits for.
    std::thread reader([&] {
      const std::string marker = ">" + qp::platform::WideToAnsi(term) + "<";
      for (ULONGLONG seen = WrittenAt(path); MsSince(start) < 10000; Sleep(1)) {
        std::string bytes;
        if (WrittenAt(path) == seen) continue;
        seen = WrittenAt(path);
        if (qp::platform::ReadFileBytes(path, bytes) && bytes.find(marker) != std::string::npos)
          return written.push_back(MsSince(start));
      }
    });
    config->VisualConfig();
    whole.push_back(MsSince(start));
    reader.join();
    if (ScriptedTermsDialog::refused) std::printf("  (OK %d was refused)\n", i + 1);
  }
  std::printf("OK %s:\n", when);
  PrintTimes("until the file is written", written);
  PrintTimes("whole, with the flag's next second", whole);
}

}  // namespace

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (argc == 2 && !std::strcmp(argv[1], "--save-forever")) return SaveForever();
  int runs = 10;
  if (argc == 3 && !std::strcmp(argv[1], "--runs")) runs = std::max(1, std::atoi(argv[2]));

  const std::wstring path = qp::config::GetConfigFilePath();
  std::string users;
  qp::platform::ReadFileBytes(path, users);

  std::printf("%-70s %10s  %-10s %10s\n", "file", "bytes", "answer", "ms");
  double slowest = 0;
  std::string slowestName;
  for (const qp::harness::DamagedConfig& c : qp::harness::DamagedConfigs()) {
    WriteWhole(path, c.bytes);
    qp::ComPtr<_SmartTagConfig> config = NewConfig();
    qp::ComPtr<_Records> terms;
    const auto start = Clock::now();
    const HRESULT hr = config->GetRecognizers(VARIANT_FALSE, terms.GetAddressOf());
    const double ms = MsSince(start);
    if (ms > slowest) slowest = ms, slowestName = c.name;
    std::printf("%-70s %10zu  0x%08lX %10.1f\n", c.name.c_str(), c.bytes.size(),
                static_cast<unsigned long>(hr), ms);
  }
  std::printf("slowest: %s, %.1f ms\n\n", slowestName.c_str(), slowest);

  WriteWhole(path, qp::platform::WideToAnsi(
                       qp::config::CleanDefaultConfig(qp::config::DefaultConfigResource())));
  PrintOkTimes("alone", path, runs);
  HANDLE saving = CreateEventW(nullptr, FALSE, FALSE, kSavingEvent);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --save-forever";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION saver = {};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &saver) &&
      WaitForSingleObject(saving, 60000) == WAIT_OBJECT_0) {
    PrintOkTimes("while another process saves", path, runs);
  } else {
    std::printf("the saving process did not start\n");
  }
  TerminateProcess(saver.hProcess, 0);
  WaitForSingleObject(saver.hProcess, 10000);
  WriteWhole(path, users);
  return 0;
}
