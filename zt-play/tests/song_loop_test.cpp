#include "song_loop.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "smf_builder.h"

namespace zt {
namespace {

using test::SmfTrack;
using Messages = std::vector<ChannelMessage>;

std::optional<Messages> restore_of(const std::vector<SmfTrack>& tracks) {
  const test::Bytes bytes = test::smf_file(1, 480, tracks);
  const MidiParseResult parsed = parse_midi_file(bytes);
  EXPECT_TRUE(parsed);
  if (!parsed) return std::nullopt;
  return loop_restore(*parsed.file);
}

// What each song's loop point must send for its next pass to start as the
// first did: only what the song itself changes after tick 0, and nothing for
// what it sets at tick 0 alone, which the player sends again anyway.
TEST(SongLoop, SetsAgainWhatTheSongChangesAfterItsStart) {
  struct Case {
    const char* what;
    SmfTrack track;
    Messages restore;
  } cases[] = {
      {"set up at tick 0, then notes only: nothing",
       SmfTrack{}
           .event(0, {0xB0, 7, 90})
           .event(0, {0xC0, 48})
           .event(0, {0x90, 60, 100})
           .event(480, {0x80, 60, 0})
           .end(),
       {}},
      {"a volume set at tick 0 and lowered later goes back to its start value",
       SmfTrack{}.event(0, {0xB1, 7, 90}).event(480, {0xB1, 7, 30}).end(),
       {{0xB1, 7, 90}}},
      {"a pitch bend not set at tick 0 goes back to the centre",
       SmfTrack{}
           .event(0, {0x90, 60, 100})
           .event(240, {0xE0, 0, 100})
           .event(240, {0x80, 60, 0})
           .end(),
       {{0xE0, 0, 64}}},
      {"controllers and pressure changed later go back to the reset values",
       SmfTrack{}.event(100, {0xB2, 1, 40}).event(0, {0xB2, 11, 70}).event(0, {0xD2, 50}).end(),
       {{0xB2, 1, 0}, {0xB2, 11, 127}, {0xD2, 0, 0}}},
      {"bank selects come before the other controllers and the program after them",
       SmfTrack{}
           .event(0, {0xB0, 0, 1})
           .event(0, {0xC0, 5})
           .event(480, {0xB0, 10, 20})
           .event(0, {0xB0, 0, 8})
           .event(0, {0xC0, 80})
           .end(),
       {{0xB0, 0, 1}, {0xB0, 10, 64}, {0xC0, 5, 0}}},
      {"a note still on at the end is let go first",
       SmfTrack{}
           .event(0, {0x99, 36, 100})
           .event(480, {0xE9, 0, 0})
           .event(0, {0x89, 36, 0})
           .event(0, {0x99, 38, 90})
           .end(480),
       {{0x89, 38, 0}, {0xE9, 0, 64}}},
      {"a note off as a note on of velocity 0 ends the note",
       SmfTrack{}.event(0, {0x90, 60, 100}).event(480, {0x90, 60, 0}).end(),
       {}},
      {"all notes off ends every note of its channel",
       SmfTrack{}
           .event(0, {0x90, 60, 100})
           .event(0, {0x90, 64, 100})
           .event(480, {0xB0, 123, 0})
           .end(),
       {}},
      {"a pedal down at the end lets its notes go",
       SmfTrack{}
           .event(0, {0x90, 60, 100})
           .event(240, {0xB0, 64, 127})
           .event(0, {0x80, 60, 0})
           .end(480),
       {{0xB0, 64, 0}}},
      {"a pedal held from the start lets go and goes down again",
       SmfTrack{}
           .event(0, {0xB0, 64, 127})
           .event(0, {0x90, 60, 100})
           .event(480, {0x80, 60, 0})
           .end(),
       {{0xB0, 64, 0}, {0xB0, 64, 127}}},
      {"reset all controllers at tick 0 undoes what came before it",
       SmfTrack{}
           .event(0, {0xB0, 1, 50})
           .event(0, {0xB0, 121, 0})
           .event(0, {0xB0, 7, 90})
           .event(480, {0xB0, 1, 20})
           .event(0, {0xB0, 7, 10})
           .end(),
       {{0xB0, 1, 0}, {0xB0, 7, 90}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(restore_of({c.track}), std::optional<Messages>(c.restore)) << c.what;
  }
}

TEST(SongLoop, ResetAllControllersLaterSetsAgainWhatItReset) {
  // Expression and the pitch bend set at tick 0 come back; volume, which it
  // leaves alone, is not sent.
  const std::optional<Messages> restore = restore_of({SmfTrack{}
                                                          .event(0, {0xB3, 11, 90})
                                                          .event(0, {0xE3, 0, 80})
                                                          .event(0, {0xB3, 7, 90})
                                                          .event(480, {0xB3, 121, 0})
                                                          .end()});
  ASSERT_TRUE(restore);
  const auto has = [&](ChannelMessage m) {
    return std::find(restore->begin(), restore->end(), m) != restore->end();
  };
  EXPECT_TRUE(has({0xB3, 11, 90}));
  EXPECT_TRUE(has({0xE3, 0, 80}));
  EXPECT_TRUE(has({0xB3, 1, 0}));
  EXPECT_FALSE(has({0xB3, 7, 90}));
  EXPECT_FALSE(has({0xB3, 0, 0})) << "the bank stays";
}

// Tracks of a format 1 file are taken together, in time order.
TEST(SongLoop, TracksCountTogether) {
  const std::optional<Messages> restore =
      restore_of({SmfTrack{}.tempo(0, 500000).end(960), SmfTrack{}.event(0, {0xB4, 10, 30}).end(),
                  SmfTrack{}.event(480, {0xB4, 10, 90}).end()});
  EXPECT_EQ(restore, std::optional<Messages>(Messages{{0xB4, 10, 30}}));
}

// What setting a value back cannot undo is left to a reset at the loop
// point, as before; at tick 0 the player sends it again itself.
TEST(SongLoop, WhatOnlyAResetUndoesAfterTickZeroAsksForTheReset) {
  struct Case {
    const char* what;
    void (*add)(SmfTrack& track, std::uint32_t delta);
  } cases[] = {
      {"SysEx",
       [](SmfTrack& t, std::uint32_t d) {
         t.sysex(d, 0xF0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
       }},
      {"escape", [](SmfTrack& t, std::uint32_t d) { t.sysex(d, 0xF7, {0xF8}); }},
      {"data entry",
       [](SmfTrack& t, std::uint32_t d) {
         t.event(d, {0xB0, 101, 0}).event(0, {0xB0, 100, 0}).event(0, {0xB0, 6, 12});
       }},
      {"data increment",
       [](SmfTrack& t, std::uint32_t d) {
         t.event(d, {0xB0, 96, 0});
       }},
      {"portamento control",
       [](SmfTrack& t, std::uint32_t d) {
         t.event(d, {0xB0, 84, 60});
       }},
      {"mono mode",
       [](SmfTrack& t, std::uint32_t d) {
         t.event(d, {0xB0, 126, 1});
       }},
      {"key pressure",
       [](SmfTrack& t, std::uint32_t d) {
         t.event(d, {0xA0, 60, 40});
       }},
  };
  for (const Case& c : cases) {
    SmfTrack at_start;
    c.add(at_start, 0);
    at_start.event(480, {0x90, 60, 1}).event(10, {0x80, 60, 0}).end();
    EXPECT_EQ(restore_of({at_start}), std::optional<Messages>(Messages{}))
        << c.what << " at tick 0";
    SmfTrack later;
    later.event(0, {0x90, 60, 1}).event(10, {0x80, 60, 0});
    c.add(later, 470);
    later.end();
    EXPECT_EQ(restore_of({later}), std::nullopt) << c.what << " later";
  }
}

// The values the loop point sets back are the synthesizer's own after a reset,
// on a melodic channel and on the drum channel.
TEST(SongLoop, ResetValuesAreTheSynthesizers) {
  fluid_settings_t* settings = new_fluid_settings();
  fluid_synth_t* synth = new_fluid_synth(settings);
  ASSERT_NE(synth, nullptr);
  for (const int channel : {0, 9}) {
    for (int c = 0; c < 120; ++c) fluid_synth_cc(synth, channel, c, 33);
    fluid_synth_system_reset(synth);
    for (int c = 0; c < 120; ++c) {
      if (c == 84) continue;  // no value a message could set
      int value = -1;
      ASSERT_EQ(fluid_synth_get_cc(synth, channel, c, &value), FLUID_OK);
      EXPECT_EQ(value, reset_controller_value(static_cast<std::uint8_t>(c)))
          << "channel " << channel << " controller " << c;
    }
    int bend = -1;
    fluid_synth_get_pitch_bend(synth, channel, &bend);
    EXPECT_EQ(bend, 8192);
  }
  delete_fluid_synth(synth);
  delete_fluid_settings(settings);
}

}  // namespace
}  // namespace zt
