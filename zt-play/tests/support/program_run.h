// The real program run headless (SDL's dummy video and audio drivers) on a
// data directory, with the picture hook preloaded: it is asked to end, as the
// window's close asks, only once it has shown the pictures asked for, so a
// slow start-up (a loaded machine, a sanitizer build) never meets SIGTERM
// before the program handles it.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace zt::test {

struct ProgramRunPlan {
  std::vector<std::string> args;      // after --data-dir
  std::size_t pictures = 1;           // shown before it is asked to end
  std::chrono::milliseconds then{0};  // how long after those it is asked
};

struct ProgramRun {
  bool shown = false;  // the pictures came
  std::chrono::milliseconds to_shown{0};
  std::chrono::milliseconds longest_gap{0};  // between two pictures
  bool ended = false;                        // by itself, or within 10 s of SIGTERM
  std::chrono::milliseconds to_end{0};       // after SIGTERM
  int status = -1;                           // exit status; -1 when ended by a signal
  long peak_kib = 0;                         // the whole run's
  std::string err;
};

// Runs zt-play on `data`, its standard error and picture log kept in `work`.
// A program that neither ends nor shows the pictures within a minute is
// killed (status -1, shown false).
ProgramRun run_headless(const std::filesystem::path& data, const std::filesystem::path& work,
                        const ProgramRunPlan& plan);

}  // namespace zt::test
