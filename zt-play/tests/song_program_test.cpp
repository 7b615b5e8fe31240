// The real program, headless, with each song of every shape and size as
// "title.mid" and the SoundFont music on: it reaches the title menu, where
// the song starts, keeps showing pictures, and ends on SIGTERM within a
// second. The time to the title, the longest wait between two pictures (the
// longest game step) and the peak memory are measured and printed; the test
// checks only generous bounds on them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio_fixtures.h"
#include "formats/midifile.h"
#include "smf_builder.h"

namespace zt {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using namespace std::chrono_literals;

// A sanitizer build is slower and keeps freed memory in quarantine: its
// figures are not the program's, so it is held to looser bounds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr long kPeakBoundKib = 300 * 1024;
constexpr auto kLongestStepBound = 1s;  // ten times the goal: a hang, not a figure
constexpr auto kEndBound = kSanitized ? 5s : 1s;

struct ProgramRun {
  bool title = false;
  std::chrono::milliseconds to_title{0};
  std::chrono::milliseconds longest_gap{0};  // between two pictures, from the first on
  long peak_kib = 0;
  bool ended = false;
  std::chrono::milliseconds to_end{0};
  int status = -1;
  std::string err;
};

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

long peak_kib_of(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (in >> key) {
    if (key == "VmHWM:") {
      long kib = 0;
      in >> kib;
      return kib;
    }
  }
  return 0;
}

// Runs zt-play on a copy of the generated data with `song` as "title.mid".
// The logo shows 180 pictures and the title menu follows; a second of the
// title menu later the program is asked to end.
ProgramRun run_with_title_song(const fs::path& work, const Bytes& song) {
  const fs::path data = work / "data";
  fs::copy(ZT_GENERATED_DATA_DIR, data, fs::copy_options::recursive);
  test::write_bytes(data / "title.mid", song);
  const fs::path log = work / "pictures.log";
  const fs::path err_file = work / "stderr.txt";
  const std::string data_arg = "--data-dir=" + data.string();
  const std::string soundfont_arg = std::string("--soundfont=") + ZT_TEST_SOUNDFONT;
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
    execl(ZT_PLAY_EXE, ZT_PLAY_EXE, data_arg.c_str(), soundfont_arg.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ProgramRun run;
  if (pid < 0) return run;
  int status = 0;
  bool gone = false;
  const auto deadline = start + 60s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      gone = true;
      break;
    }
    if (present_times_ns(log).size() >= 200) {
      run.title = true;
      run.to_title = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  if (run.title) {
    std::this_thread::sleep_for(1s);
    run.peak_kib = peak_kib_of(pid);
    const auto asked = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    while (std::chrono::steady_clock::now() - asked < 10s) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        gone = run.ended = true;
        run.to_end = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - asked);
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  if (!gone) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  run.status = run.ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::vector<long long> times = present_times_ns(log);
  for (std::size_t i = 1; i < times.size(); ++i) {
    run.longest_gap =
        std::max(run.longest_gap, std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::nanoseconds(times[i] - times[i - 1])));
  }
  std::ifstream in(err_file);
  run.err.assign(std::istreambuf_iterator<char>(in), {});
  return run;
}

struct SongCase {
  const char* name;
  Bytes (*song)();
  const char* refusal;  // what the line says, or nothing when the song plays
};

void PrintTo(const SongCase& c, std::ostream* os) {
  *os << c.name;
}

Bytes shape(const char* name) {
  for (test::SongShape& s : test::unusual_song_shapes()) {
    if (std::string(s.name) == name) return std::move(s.bytes);
  }
  return {};
}

const SongCase kSongCases[] = {
    {"header_of_8_bytes", [] { return shape("header_of_8_bytes"); }, nullptr},
    {"unknown_chunk_before_the_track", [] { return shape("unknown_chunk_before_the_track"); },
     nullptr},
    {"running_status_after_sysex", [] { return shape("running_status_after_sysex"); }, nullptr},
    {"escape_event", [] { return shape("escape_event"); }, nullptr},
    {"128_tracks", [] { return shape("128_tracks"); }, nullptr},
    {"tempo_of_4_bytes", [] { return shape("tempo_of_4_bytes"); }, nullptr},
    {"chord_of_a_million_notes", [] { return test::chord_on_tick_0(1'000'000); },
     "more than 100000 events at byte 300026"},
    {"notes_at_tempo_1", [] { return test::notes_at_tempo_1(40'000); },
     "more than 1000 events within 100 ms"},
    {"16_mib_of_running_status", [] { return test::running_status_events(16u << 20); },
     "more than 100000 events at byte 200025"},
    {"densest_song_within_the_bounds", test::densest_song_within_bounds, nullptr},
};

class ProgramWithSong : public ::testing::TestWithParam<SongCase> {};

TEST_P(ProgramWithSong, ReachesTheTitleKeepsSteppingAndEndsOnRequest) {
  if (!fs::exists(fs::path(ZT_GENERATED_DATA_DIR) / "images.qda")) {
    GTEST_SKIP() << "no generated data";
  }
  const SongCase& c = GetParam();
  test::TempDir work;
  const ProgramRun run = run_with_title_song(work.path(), c.song());
  std::cout << c.name << ": title after " << run.to_title.count() << " ms, longest step "
            << run.longest_gap.count() << " ms, peak " << run.peak_kib / 1024 << " MB, ended "
            << run.to_end.count() << " ms after SIGTERM\n";
  ASSERT_TRUE(run.title) << "no title menu within a minute\n" << run.err;
  EXPECT_TRUE(run.ended) << "still running 10 s after SIGTERM";
  EXPECT_LE(run.to_end, kEndBound);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(run.longest_gap, kLongestStepBound * (kSanitized ? 3 : 1));
  if (!kSanitized) {
    EXPECT_LT(run.peak_kib, kPeakBoundKib);
  }
  EXPECT_NE(run.err.find(std::string("midi: using soundfont ") + ZT_TEST_SOUNDFONT + "\n"),
            std::string::npos)
      << run.err;
  const std::string path = (work.path() / "data" / "title.mid").string();
  const std::string line = c.refusal == nullptr
                               ? std::string("midi: could not load ")
                               : "midi: could not load " + path + " (" + c.refusal + ")\n";
  if (c.refusal == nullptr) {
    EXPECT_EQ(run.err.find(line), std::string::npos) << run.err;
  } else {
    EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Songs, ProgramWithSong, ::testing::ValuesIn(kSongCases),
                         [](const ::testing::TestParamInfo<SongCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zt
