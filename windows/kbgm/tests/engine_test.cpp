#include "engine.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <string>

#include "formats/midifile.h"
#include "kbgm.h"
#include "kbgm_support.h"
#include "smf_builder.h"

namespace zt::kbgm {
namespace {

using test::Bytes;

class EngineTest : public ::testing::Test {
 protected:
  std::int32_t load(const Bytes& file) {
    std::int32_t h = 0;
    EXPECT_EQ(engine.load_bytes(&h, file), KBGM_OK);
    return h;
  }
  bool fading(std::int32_t h) {
    KBGMINFO info;
    engine.get_info(h, &info);
    return info.fading_out != 0;
  }

  test::RecordingPort port;
  test::ManualClock clock;
  Engine engine{std::make_unique<test::TestOpener>(&port), clock, false};
};

TEST(KbgmRecord, FadeFlagSitsAtOffset12) {
  EXPECT_EQ(offsetof(KBGMINFO, fading_out), 12u);
  EXPECT_EQ(sizeof(KBGMINFO), 8224u);
}

TEST(EngineOpen, FailureGivesTheSystemErrorAndNothingPlays) {
  test::ManualClock clock;
  auto opener = std::make_unique<test::TestOpener>(nullptr, MIDIERR_NODEVICE);
  test::TestOpener& o = *opener;
  Engine engine(std::move(opener), clock, false);
  EXPECT_EQ(engine.open(), MIDIERR_NODEVICE);
  std::int32_t h = 0;
  EXPECT_EQ(engine.load_bytes(&h, test::two_note_song()), KBGM_OK);  // loading needs no device
  EXPECT_NE(engine.play(h, 1), KBGM_OK);
  EXPECT_NE(engine.send_sysx(0), KBGM_OK);
  EXPECT_EQ(engine.close(), KBGM_OK);
  EXPECT_EQ(engine.open(), MIDIERR_NODEVICE);
  EXPECT_EQ(o.opens, 2);
}

TEST_F(EngineTest, HandlesCountUpAndBadSongsLeaveTheHandleAlone) {
  EXPECT_EQ(load(test::two_note_song()), 1);
  EXPECT_EQ(load(test::two_note_song()), 2);
  std::int32_t h = 0;
  EXPECT_EQ(engine.load_bytes(&h, Bytes{'M', 'T', 'h', 'd'}), KBGM_ERR_FILE);
  EXPECT_EQ(engine.load_file(&h, "no such song.mid"), KBGM_ERR_FILE);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(engine.load_file(nullptr, "x.mid"), KBGM_ERR_ARGUMENT);
}

// Nothing after tick 0: a repeating song would start again every millisecond.
TEST_F(EngineTest, SongsThatNeverAdvanceAreRefused) {
  for (const zt::test::NamedSong& song : zt::test::never_advancing_songs()) {
    std::int32_t h = 0;
    EXPECT_EQ(engine.load_bytes(&h, song.bytes), KBGM_ERR_FILE) << song.name;
    EXPECT_EQ(h, 0);
  }
}

// A chord as large as a song may have at one moment, on a port that takes
// 150 us a message: one round of sending outlasts the limit, and the song is
// stopped rather than hold every call behind it.
TEST(EngineSlowSong, ASongTooCostlyToSendIsStopped) {
  struct SlowPort final : MidiOutPort {
    void send(std::span<const std::uint8_t>) override {
      const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(150);
      while (std::chrono::steady_clock::now() < until) {
      }
    }
  };
  struct SlowOpener final : MidiPortOpener {
    PortOpenResult open() override { return {std::make_unique<SlowPort>(), 0}; }
  };
  test::ManualClock clock;
  Engine engine(std::make_unique<SlowOpener>(), clock, false);
  ASSERT_EQ(engine.open(), KBGM_OK);
  std::int32_t h = 0;
  ASSERT_EQ(engine.load_bytes(&h, zt::test::chord_on_tick_0(kMaxEventsPerWindow - 2)), KBGM_OK);
  ASSERT_EQ(engine.play(h, 1), KBGM_OK);
  engine.pump();
  KBGMINFO info;
  ASSERT_EQ(engine.get_info(h, &info), KBGM_OK);
  EXPECT_EQ(info.playing, 0);
}

TEST_F(EngineTest, OpenSendsTheResetOnlyWhenAsked) {
  ASSERT_EQ(engine.open(), KBGM_OK);
  EXPECT_EQ(engine.open(), KBGM_OK);
  EXPECT_EQ(port.count(), 0u);
  EXPECT_EQ(engine.send_sysx(0), KBGM_OK);
  EXPECT_THAT(port.take(), ::testing::ElementsAre(Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
}

TEST_F(EngineTest, UnknownHandlesAreRefused) {
  ASSERT_EQ(engine.open(), KBGM_OK);
  for (std::int32_t h : {0, 7, -1}) {
    EXPECT_EQ(engine.play(h, 0), KBGM_ERR_HANDLE);
    EXPECT_EQ(engine.init(h), KBGM_ERR_HANDLE);
    EXPECT_EQ(engine.fade_out(h, 1), KBGM_ERR_HANDLE);
    EXPECT_EQ(engine.free_song(h), KBGM_ERR_HANDLE);
    KBGMINFO info;
    info.fading_out = 99;
    EXPECT_EQ(engine.get_info(h, &info), KBGM_ERR_HANDLE);
    EXPECT_EQ(info.fading_out, 0);
  }
}

TEST_F(EngineTest, ArmedFadeInStartsWithThePlayAndVolumeWaitsForIt) {
  ASSERT_EQ(engine.open(), KBGM_OK);
  const std::int32_t h = load(test::midi_file(480, {{{0, {0x90, 60, 100}}}}, 48000));
  // The game's order for a song that fades in.
  engine.stop();
  engine.init(h);
  engine.fade_in(h, 1);
  engine.set_repeat(h, 0, 0);
  EXPECT_EQ(engine.play(h, 1), KBGM_OK);
  engine.set_volume(h, 100);
  engine.pump();
  std::vector<Bytes> sent = port.take();
  EXPECT_EQ(test::volumes_on(sent, 0).back(), 0);
  clock.now += 500'000;
  engine.pump();
  EXPECT_EQ(test::volumes_on(port.take(), 0).back(), 50);
  clock.now += 500'000;
  engine.pump();
  EXPECT_EQ(test::volumes_on(port.take(), 0).back(), 100);
  KBGMINFO info;
  engine.get_info(h, &info);
  EXPECT_EQ(info.playing, 1);
  EXPECT_EQ(info.fading_in, 0);
  EXPECT_EQ(info.repeat, 1);
}

TEST_F(EngineTest, FadeOutIsReportedUntilSilenceThenTheSongIsOver) {
  ASSERT_EQ(engine.open(), KBGM_OK);
  const std::int32_t h = load(test::midi_file(480, {{{0, {0x90, 60, 100}}}}, 48000));
  ASSERT_EQ(engine.play(h, 1), KBGM_OK);
  engine.pump();
  EXPECT_FALSE(fading(h));
  ASSERT_EQ(engine.fade_out(h, 2), KBGM_OK);
  EXPECT_TRUE(fading(h));
  clock.now += 1'999'000;
  engine.pump();
  EXPECT_TRUE(fading(h));
  clock.now += 1000;
  engine.pump();
  EXPECT_FALSE(fading(h));
  KBGMINFO info;
  engine.get_info(h, &info);
  EXPECT_EQ(info.playing, 0);
  // The fade of a song that is not playing reports nothing to wait for.
  const std::int32_t other = load(test::two_note_song());
  EXPECT_EQ(engine.fade_out(other, 1), KBGM_ERR_HANDLE);
  EXPECT_FALSE(fading(other));
}

TEST_F(EngineTest, FadeOutOfZeroSecondsStopsAtOnce) {
  ASSERT_EQ(engine.open(), KBGM_OK);
  const std::int32_t h = load(test::two_note_song());
  engine.play(h, 1);
  EXPECT_EQ(engine.fade_out(h, 0), KBGM_OK);
  EXPECT_FALSE(fading(h));
  KBGMINFO info;
  engine.get_info(h, &info);
  EXPECT_EQ(info.playing, 0);
}

TEST_F(EngineTest, FreeingTheSongPlayingStopsIt) {
  ASSERT_EQ(engine.open(), KBGM_OK);
  const std::int32_t h = load(test::two_note_song());
  engine.play(h, 1);
  engine.pump();
  port.take();
  EXPECT_EQ(engine.free_song(h), KBGM_OK);
  EXPECT_EQ(port.take().size(), 32u);  // all notes off
  EXPECT_EQ(engine.play(h, 1), KBGM_ERR_HANDLE);
}

TEST(EngineThread, PlaysOnItsOwnAndCloseEndsTheThread) {
  test::RecordingPort port;
  Engine engine(std::make_unique<test::TestOpener>(&port), system_clock(), true);
  ASSERT_EQ(engine.open(), KBGM_OK);
  std::int32_t h = 0;
  ASSERT_EQ(engine.load_bytes(&h, test::midi_file(96, {{{0, {0x90, 60, 1}}, {2, {0x80, 60, 0}}}})),
            KBGM_OK);
  ASSERT_EQ(engine.play(h, 0), KBGM_OK);
  // 48 at the start, the two notes within about 10 ms, then all notes off.
  ASSERT_TRUE(port.wait_for_count(48 + 2 + 32));
  const std::vector<Bytes> played = test::notes(port.take());
  EXPECT_THAT(played, ::testing::ElementsAre(Bytes{0x90, 60, 1}, Bytes{0x80, 60, 0}));

  // Close waits for the thread, whose last act is all notes off.
  engine.play(h, 1);
  port.take();
  EXPECT_EQ(engine.close(), KBGM_OK);
  const std::vector<Bytes> last = port.take();
  ASSERT_GE(last.size(), 32u);
  EXPECT_EQ(last.back(), (Bytes{0xBF, 123, 0}));
  EXPECT_NE(engine.play(h, 0), KBGM_OK);
}

// The exported calls on the machine's own MIDI mapper.
TEST(KbgmCalls, WithoutAMidiDeviceOpenFailsAndNothingPlays) {
  if (midiOutGetNumDevs() != 0) GTEST_SKIP() << "this machine has a MIDI device";
  EXPECT_NE(KBGMOpen(10, -1), 0);
  const std::string path = "kbgm-calls-test.mid";
  {
    const Bytes file = test::two_note_song();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
  }
  std::int32_t h = 0;
  EXPECT_EQ(KBGMLoadFile(&h, path.c_str()), KBGM_OK);
  EXPECT_GT(h, 0);
  EXPECT_NE(KBGMPlay(h, 1), 0);
  KBGMINFO info;
  EXPECT_EQ(KBGMGetInfo(h, &info), KBGM_OK);
  EXPECT_EQ(info.fading_out, 0);
  EXPECT_EQ(KBGMFree(h), KBGM_OK);
  EXPECT_EQ(KBGMClose(), KBGM_OK);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace zt::kbgm
