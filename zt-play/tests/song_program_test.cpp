// The real program, headless, with each song of every shape and size as
// "title.mid" and the SoundFont music on: it reaches the title menu, where
// the song starts, keeps showing pictures, and ends on SIGTERM within a
// second. The time to the title, the longest wait between two pictures (the
// longest game step) and the peak memory are measured and printed; the test
// checks only generous bounds on them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "audio_fixtures.h"
#include "formats/midifile.h"
#include "program_run.h"
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

// Runs zt-play on a copy of the generated data with `song` as "title.mid".
// The logo shows 180 pictures and the title menu follows; a second of the
// title menu later the program is asked to end.
test::ProgramRun run_with_title_song(const fs::path& work, const Bytes& song) {
  const fs::path data = work / "data";
  fs::copy(ZT_GENERATED_DATA_DIR, data, fs::copy_options::recursive);
  test::write_bytes(data / "title.mid", song);
  return test::run_headless(data, work,
                            {{std::string("--soundfont=") + ZT_TEST_SOUNDFONT}, 200, 1s});
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
  const test::ProgramRun run = run_with_title_song(work.path(), c.song());
  std::cout << c.name << ": title after " << run.to_shown.count() << " ms, longest step "
            << run.longest_gap.count() << " ms, peak " << run.peak_kib / 1024 << " MB, ended "
            << run.to_end.count() << " ms after SIGTERM\n";
  ASSERT_TRUE(run.shown) << "no title menu within a minute\n" << run.err;
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
