#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace zt::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<long long> present_times_ns(const fs::path& log) {
  std::ifstream in(log);
  std::vector<long long> times;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string pid, what;
    long long realtime = 0, monotonic = 0;
    if (words >> pid >> what >> realtime >> monotonic && what == "present") {
      times.push_back(monotonic);
    }
  }
  return times;
}

template <class Duration>
std::chrono::milliseconds ms(Duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d);
}

}  // namespace

ProgramRun run_headless(const fs::path& data, const fs::path& work, const ProgramRunPlan& plan) {
  const fs::path err_file = work / "stderr.txt";
  const fs::path log = work / "pictures.log";
  fs::remove(log);
  std::vector<std::string> args = {ZT_PLAY_EXE, "--data-dir=" + data.string()};
  args.insert(args.end(), plan.args.begin(), plan.args.end());
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("LD_PRELOAD", ZT_PRESENT_HOOK, 1);
    setenv("ZT_PRESENT_LOG", log.c_str(), 1);
    // The hook comes before the sanitizer's runtime; the program's leak
    // check is the business of its own tests.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(asan ? asan : "") + (asan ? ":" : "") +
                                "detect_leaks=0:verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    const int out = open("/dev/null", O_WRONLY);
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ProgramRun run;
  if (pid < 0) return run;
  int status = 0;
  rusage usage{};
  const auto done = [&] { return wait4(pid, &status, WNOHANG, &usage) == pid; };
  while (!(run.ended = done()) && std::chrono::steady_clock::now() - start < 60s) {
    if (present_times_ns(log).size() >= plan.pictures) {
      run.shown = true;
      run.to_shown = ms(std::chrono::steady_clock::now() - start);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  if (run.shown) {
    const auto asking = std::chrono::steady_clock::now() + plan.then;
    while (!(run.ended = done()) && std::chrono::steady_clock::now() < asking) {
      std::this_thread::sleep_for(10ms);
    }
    if (!run.ended) {
      const auto asked = std::chrono::steady_clock::now();
      kill(pid, SIGTERM);
      while (!(run.ended = done()) && std::chrono::steady_clock::now() - asked < 10s) {
        std::this_thread::sleep_for(10ms);
      }
      if (run.ended) run.to_end = ms(std::chrono::steady_clock::now() - asked);
    }
  }
  if (!run.ended) {
    kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
  }
  run.status = run.ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.peak_kib = usage.ru_maxrss;
  const std::vector<long long> times = present_times_ns(log);
  for (std::size_t i = 1; i < times.size(); ++i) {
    run.longest_gap =
        std::max(run.longest_gap, ms(std::chrono::nanoseconds(times[i] - times[i - 1])));
  }
  std::ifstream in(err_file);
  run.err.assign(std::istreambuf_iterator<char>(in), {});
  return run;
}

}  // namespace zt::test
