// The media units' diagnostics: one log file per unit beside the executable,
// process-wide switches and counter, and the halt on a failed DirectX call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zt {

// Ends the program after a failed check. Tests put their own function in
// place; when it returns, the caller goes on as if no halt was asked for.
using HaltProc = void (*)();
HaltProc SetMediaHaltProc(HaltProc proc);
void MediaHalt();

// A step of the orderly termination that a halt runs before the process ends
// with exit status 1, registered for as long as this object lives. Steps run
// newest first; a failure that halts again during them lets them go on.
class HaltShutdown {
 public:
  explicit HaltShutdown(std::function<void()> step);
  ~HaltShutdown();
  HaltShutdown(const HaltShutdown&) = delete;
  HaltShutdown& operator=(const HaltShutdown&) = delete;

 private:
  std::function<void()> step_;
};

class UnitLog {
 public:
  explicit UnitLog(const char* file_name) : file_name_(file_name) {}
  // Bits 0, 1 and 2 of the unit's DebugOption.
  bool halt_on_error = false;
  bool debug_message = false;
  bool option2 = false;
  std::int32_t counter = 0;

  void apply(std::uint32_t bits) {
    halt_on_error = bits & 1;
    debug_message = bits & 2;
    option2 = bits & 4;
  }
  // Writes "debug#NNNNN ... message" + CR LF; the first line of a run
  // truncates the file. Throws std::system_error when the file fails.
  void write_line(const std::string& message);
  std::string path() const;

 private:
  const char* file_name_;
};

UnitLog& dddd_log();
UnitLog& ddsd_log();

// The text appended to a failed check: "(Error Code(%X))".
std::string error_code_suffix(std::int32_t code);

}  // namespace zt
