#include "sequencer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "kbgm_support.h"
#include "song.h"

namespace zt::kbgm {
namespace {

using test::Bytes;
using ::testing::ElementsAre;

std::shared_ptr<const Song> song_of(const Bytes& file) {
  std::optional<Song> s = song_from_midi(file);
  EXPECT_TRUE(s.has_value());
  return std::make_shared<const Song>(s.value_or(Song{}));
}

TEST(Song, MergesTracksInTimeOrderAndKeepsTheRestAtTheEnd) {
  // Track 2's note at tick 0 comes after track 1's note at tick 0; the song
  // lasts until the end of track, 480 ticks after the last note.
  const Bytes file = test::midi_file(
      480, {{{0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}}, {{0, {0x91, 64, 90}}, {0, {0xC1, 5}}}},
      480);
  const std::optional<Song> s = song_from_midi(file);
  ASSERT_TRUE(s);
  ASSERT_EQ(s->messages.size(), 4u);
  EXPECT_EQ(s->messages[0], (SongMessage{0, {0x90, 60, 100}, 3}));
  EXPECT_EQ(s->messages[1], (SongMessage{0, {0x91, 64, 90}, 3}));
  EXPECT_EQ(s->messages[2], (SongMessage{0, {0xC1, 5, 0}, 2}));
  EXPECT_EQ(s->messages[3], (SongMessage{500'000, {0x80, 60, 0}, 3}));
  EXPECT_EQ(s->length_us, 1'000'000u);
}

TEST(Song, RefusesFilesWithoutChannelMessagesAndJunk) {
  EXPECT_FALSE(song_from_midi(test::midi_file(480, {{{0, {0xFF, 0x51, 3, 7, 0xA1, 0x20}}}})));
  EXPECT_FALSE(song_from_midi(Bytes{'R', 'I', 'F', 'F', 0, 0}));
  EXPECT_FALSE(song_from_midi(Bytes{}));
}

class SequencerTest : public ::testing::Test {
 protected:
  test::RecordingPort port;
  Sequencer seq{port};
};

TEST_F(SequencerTest, StartSilencesResetsVolumesAndSendsEachMessageWhenDue) {
  seq.start(song_of(test::two_note_song()), false, 0, 1000);
  std::vector<Bytes> sent = port.take();
  // 16 x (all sound off, all notes off), then volume 100 on every channel.
  ASSERT_EQ(sent.size(), 48u);
  EXPECT_EQ(sent[0], (Bytes{0xB0, 120, 0}));
  EXPECT_EQ(sent[1], (Bytes{0xB0, 123, 0}));
  EXPECT_EQ(sent[32], (Bytes{0xB0, 7, 100}));
  EXPECT_EQ(sent[47], (Bytes{0xBF, 7, 100}));

  EXPECT_EQ(seq.advance(1000), 501'000u);
  EXPECT_THAT(port.take(), ElementsAre(Bytes{0x90, 60, 100}));
  EXPECT_EQ(seq.advance(500'999), 501'000u);
  EXPECT_TRUE(port.take().empty());
  EXPECT_EQ(seq.advance(501'000), 1'001'000u);
  EXPECT_THAT(port.take(), ElementsAre(Bytes{0x80, 60, 0}));
  // At the end of the song: all notes off, and without repeat nothing more.
  EXPECT_EQ(seq.advance(1'001'000), std::nullopt);
  EXPECT_EQ(port.take().size(), 32u);
  EXPECT_FALSE(seq.playing());
}

TEST_F(SequencerTest, SongVolumeIsScaledByTheMasterVolume) {
  seq.set_volume(50);
  seq.start(song_of(test::midi_file(480, {{{0, {0xB3, 7, 64}}}}, 480)), false, 0, 0);
  port.take();
  seq.advance(0);
  EXPECT_THAT(port.take(), ElementsAre(Bytes{0xB3, 7, 32}));
  // Back to full volume: channel 3 keeps the song's 64, the others go to 100.
  seq.set_volume(100);
  const std::vector<Bytes> sent = port.take();
  EXPECT_THAT(test::volumes_on(sent, 3), ElementsAre(64));
  EXPECT_THAT(test::volumes_on(sent, 0), ElementsAre(100));
  // Unchanged values are not sent again.
  seq.set_volume(100);
  EXPECT_TRUE(port.take().empty());
}

TEST_F(SequencerTest, FadeOutStepsDownInTwentiethsThenStopsTheSong) {
  seq.start(song_of(test::midi_file(480, {{{0, {0x90, 60, 100}}}}, 48000)), true, 0, 0);
  seq.advance(0);
  port.take();
  seq.fade_out(1000, 0);
  EXPECT_TRUE(seq.fading_out());
  // Follow the wake-up times the sequencer asks for.
  std::vector<std::pair<std::uint64_t, int>> steps;  // (time, level sent on channel 0)
  std::optional<std::uint64_t> next = 0;
  for (int i = 0; i < 100 && seq.fading_out(); ++i) {
    const std::uint64_t now = *next;
    next = seq.advance(now);
    for (int v : test::volumes_on(port.take(), 0)) steps.emplace_back(now, v);
    ASSERT_TRUE(next || !seq.fading_out());
  }
  ASSERT_EQ(steps.size(), 20u);
  EXPECT_EQ(steps.front(), std::make_pair(std::uint64_t{50'000}, 95));
  EXPECT_EQ(steps[9], std::make_pair(std::uint64_t{500'000}, 50));
  EXPECT_EQ(steps.back(), std::make_pair(std::uint64_t{1'000'000}, 0));
  EXPECT_FALSE(seq.playing());
}

TEST_F(SequencerTest, FadeOutFromSilenceEndsAtTheFirstStep) {
  seq.start(song_of(test::two_note_song()), false, 0, 0);
  seq.set_volume(0);
  seq.fade_out(1000, 0);
  seq.advance(49'999);
  EXPECT_TRUE(seq.fading_out());
  seq.advance(50'000);
  EXPECT_FALSE(seq.fading_out());
  EXPECT_FALSE(seq.playing());
}

TEST_F(SequencerTest, FadeInRisesFromSilenceAndIgnoresVolumeChangesMeanwhile) {
  seq.start(song_of(test::midi_file(480, {{{0, {0x90, 60, 100}}}}, 48000)), true, 0, 0);
  seq.fade_in(2000, 0);
  EXPECT_EQ(seq.master(), 0);
  seq.set_volume(100);
  EXPECT_EQ(seq.master(), 0);
  seq.advance(1'000'000);
  EXPECT_EQ(seq.master(), 50);
  EXPECT_TRUE(seq.fading_in());
  seq.advance(2'000'000);
  EXPECT_EQ(seq.master(), 100);
  EXPECT_FALSE(seq.fading());
  EXPECT_TRUE(seq.playing());
}

TEST_F(SequencerTest, RepeatPlaysFurtherPassesOnTheSongsOwnBeat) {
  struct Case {
    bool repeat;
    std::int32_t extra_passes;
    std::vector<std::uint64_t> note_on_calls;  // when the advance that sent a note-on ran
  };
  const Case cases[] = {
      {false, 0, {3000}},
      {true, 2, {3000, 1'003'000, 2'003'000}},
      {true, 0, {3000, 1'003'000, 2'003'000, 3'003'000, 4'003'000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra_passes);
    test::RecordingPort p;
    Sequencer s(p);
    s.start(song_of(test::two_note_song()), c.repeat, c.extra_passes, 0);
    // Every advance runs 3 ms late; the passes still start 1 s apart.
    std::vector<std::uint64_t> calls;
    std::optional<std::uint64_t> next = 0;
    while (next && *next < 4'500'000) {
      const std::uint64_t now = *next + 3000;
      next = s.advance(now);
      for (const Bytes& m : test::notes(p.take())) {
        if (m[0] == 0x90) calls.push_back(now);
      }
    }
    EXPECT_EQ(calls, c.note_on_calls);
  }
}

TEST_F(SequencerTest, StopSilencesAndForgetsTheFade) {
  seq.start(song_of(test::two_note_song()), true, 0, 0);
  seq.fade_out(1000, 0);
  port.take();
  seq.stop();
  EXPECT_EQ(port.take().size(), 32u);
  EXPECT_FALSE(seq.playing());
  EXPECT_FALSE(seq.fading());
  EXPECT_EQ(seq.advance(5'000'000), std::nullopt);
}

}  // namespace
}  // namespace zt::kbgm
