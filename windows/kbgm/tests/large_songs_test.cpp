// Songs as large as the 16 MiB file cap allows, through the library's own
// KBGMLoadFile: each is loaded or refused within a second and far below
// 300 MB, since the reader holds no more events than a song may.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <psapi.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "formats/midifile.h"
#include "kbgm.h"
#include "smf_builder.h"

namespace zt::kbgm {
namespace {

using test::Bytes;
using namespace std::chrono_literals;

PROCESS_MEMORY_COUNTERS memory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}

struct Case {
  const char* name;
  Bytes (*song)();
  bool loads;
};

const Case kCases[] = {
    {"2_byte_events_16_mib", [] { return test::running_status_events(16u << 20); }, false},
    {"5.6_m_note_ons_16_mib", [] { return test::chord_on_tick_0((16u << 20) / 3 - 20); }, false},
    {"notes_at_tempo_1", [] { return test::notes_at_tempo_1(40'000); }, false},
    {"densest_song_within_the_bounds", test::densest_song_within_bounds, true},
};

TEST(KbgmLargeSongs, LoadedOrRefusedWithinASecondAndFarBelow300MB) {
  const std::string path = "kbgm-large-song.mid";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    {
      const Bytes file = c.song();
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(file.data()),
                static_cast<std::streamsize>(file.size()));
    }
    std::int32_t h = 0;
    const std::uint64_t before = memory().WorkingSetSize;
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t result = KBGMLoadFile(&h, path.c_str());
    const auto took = std::chrono::steady_clock::now() - start;
    const std::uint64_t peak = memory().PeakWorkingSetSize;
    // The peak of the process, which built the file too; and at most what
    // the call took above the memory in use before it.
    std::cout << c.name << ": " << (h > 0 ? "loaded" : "refused") << " in "
              << std::chrono::duration<double, std::milli>(took).count() << " ms, peak "
              << peak / (1024 * 1024) << " MB, at most "
              << (peak > before ? peak - before : 0) / (1024 * 1024) << " MB for the call\n";
    EXPECT_EQ(result == KBGM_OK, c.loads);
    EXPECT_EQ(h > 0, c.loads);
    EXPECT_LT(took, 1s);
    EXPECT_GT(peak, 0u);
    EXPECT_LT(peak, std::uint64_t{300} << 20);
    if (h > 0) {
      EXPECT_EQ(KBGMFree(h), KBGM_OK);
    }
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace zt::kbgm
