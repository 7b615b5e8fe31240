#include "medialog.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "exe_dir.h"
#include "media_base.h"
#include "text_codec.h"

namespace zt {
namespace {

std::vector<const std::function<void()>*>& shutdown_steps() {
  static std::vector<const std::function<void()>*> steps;
  return steps;
}

// The runtime's orderly termination: the registered steps, then the static
// objects' destructors, then the end of the process. A halt is a failure.
void default_halt() {
  static bool halting = false;
  if (halting) return;
  halting = true;
  auto& steps = shutdown_steps();
  while (!steps.empty()) {
    const std::function<void()>* step = steps.back();
    steps.pop_back();
    (*step)();
  }
  std::exit(1);
}

HaltProc g_halt = default_halt;

}  // namespace

HaltShutdown::HaltShutdown(std::function<void()> step) : step_(std::move(step)) {
  shutdown_steps().push_back(&step_);
}

HaltShutdown::~HaltShutdown() {
  auto& steps = shutdown_steps();
  steps.erase(std::remove(steps.begin(), steps.end(), &step_), steps.end());
}

HaltProc SetMediaHaltProc(HaltProc proc) {
  HaltProc old = g_halt;
  g_halt = proc ? proc : default_halt;
  return old;
}

void MediaHalt() {
  g_halt();
}

std::string UnitLog::path() const {
  return wide_to_utf8(exe_dir()) + file_name_;
}

void UnitLog::write_line(const std::string& message) {
  std::wstring name = utf8_to_wide(path());
  HANDLE h =
      CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  counter == 0 ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "cannot open " + path());
  }
  ++counter;
  std::string line = format("debug#%.5d ... %s\r\n", counter, message.c_str());
  LARGE_INTEGER zero{};
  DWORD written = 0;
  bool ok = SetFilePointerEx(h, zero, nullptr, FILE_END) &&
            WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
            written == line.size();
  DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) {
    throw std::system_error(static_cast<int>(err), std::system_category(),
                            "cannot write " + path());
  }
}

UnitLog& dddd_log() {
  static UnitLog log("dddd.debug");
  return log;
}

UnitLog& ddsd_log() {
  static UnitLog log("ddsd.debug");
  return log;
}

std::string error_code_suffix(std::int32_t code) {
  return format("(Error Code(%X))", static_cast<unsigned>(code));
}

}  // namespace zt
