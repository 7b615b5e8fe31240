#include "formats/midi_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "smf_builder.h"

namespace zt {
namespace {

using test::SmfTrack;

std::vector<std::uint64_t> times(const MidiFile& file, MidiTiming timing) {
  std::vector<std::uint64_t> out;
  for (const TimedMessage& m : timed_channel_messages(file, merge_tracks(file), timing)) {
    out.push_back(m.micros);
  }
  return out;
}

// The two programs round ticks to time differently, and a song's notes must
// land where each program's own rule puts them: the rule is the caller's
// choice, not the file's.
TEST(TimedChannelMessages, EachTimingKeepsItsOwnRounding) {
  SmfTrack notes;
  notes.event(1, {0x90, 60, 1}).event(1, {0x90, 61, 1}).event(1, {0x90, 62, 1}).end();
  struct Case {
    const char* what;
    std::uint16_t division;
    std::vector<std::uint64_t> per_delta;
    std::vector<std::uint64_t> from_tempo_map;
  };
  const Case cases[] = {
      // A third of a quarter note: 166666.67 us.
      {"3 ticks a quarter", 3, {166666, 333332, 499998}, {166666, 333333, 500000}},
      // 29.97 frames a second, one tick a frame: 33366.7 us.
      {"timecode 29.97", 0xE301, {33366, 66732, 100098}, {33366, 66733, 100100}},
      // Nothing to round: both agree.
      {"4 ticks a quarter", 4, {125000, 250000, 375000}, {125000, 250000, 375000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MidiFile file = test::parse_ok(test::smf_file(0, c.division, {notes}));
    EXPECT_EQ(times(file, MidiTiming::kPerDelta), c.per_delta);
    EXPECT_EQ(times(file, MidiTiming::kFromTempoMap), c.from_tempo_map);
  }
}

}  // namespace
}  // namespace zt
