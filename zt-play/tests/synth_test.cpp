#include "synth.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <span>

#include "audio_fixtures.h"
#include "files.h"
#include "game/umidi.h"
#include "smf_builder.h"
#include "watchdog.h"

namespace zt {
namespace {

using test::FakeSink;
using test::TempDir;
using namespace std::chrono_literals;

// Four quarter notes at 120 bpm: a song of exactly two seconds.
test::Bytes four_notes() {
  test::SmfTrack t;
  t.event(0, {0xC0, 0});
  const std::uint8_t keys[] = {60, 64, 67, 72};
  for (std::size_t i = 0; i < 4; ++i) {
    t.event(i == 0 ? 0 : 240, {0x90, keys[i], 100}).event(240, {0x80, keys[i], 0});
  }
  t.end(240);  // the fourth beat ends the song
  return test::smf_file(0, 480, {t});
}

constexpr std::size_t kSecond = 44100;

class SynthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_bytes(dir_ / "song.mid", four_notes());
    synth_ = make(sink_);
  }

  std::unique_ptr<SynthBackend> make(FakeSink*& sink) {
    auto owned = std::make_unique<FakeSink>();
    sink = owned.get();
    auto made = SynthBackend::create(dir_.path(), ZT_TEST_SOUNDFONT, std::move(owned),
                                     [this] { return now_; });
    EXPECT_TRUE(std::holds_alternative<std::unique_ptr<SynthBackend>>(made));
    return std::move(std::get<std::unique_ptr<SynthBackend>>(made));
  }

  // Renders exactly `blocks` blocks.
  static void render_blocks(SynthBackend& synth, FakeSink& sink, std::size_t blocks) {
    for (std::size_t i = 0; i < blocks; ++i) {
      sink.allowed_frames = SynthBackend::kBlockFrames;
      synth.pump();
    }
  }
  static std::size_t blocks_for(std::size_t frames) {
    return (frames + SynthBackend::kBlockFrames - 1) / SynthBackend::kBlockFrames;
  }

  TempDir dir_;
  std::chrono::steady_clock::time_point now_{};
  FakeSink* sink_ = nullptr;
  std::unique_ptr<SynthBackend> synth_;
};

TEST_F(SynthTest, PlaysTheSongAndStopsIt) {
  const std::int32_t h = synth_->load_file("song.mid");
  ASSERT_EQ(h, 1);
  ASSERT_EQ(synth_->play(h, false), 0);
  render_blocks(*synth_, *sink_, blocks_for(kSecond));
  const double playing = test::rms(sink_->pushed, 0, kSecond);
  EXPECT_GT(playing, 0.005);

  synth_->stop();
  EXPECT_FALSE(synth_->song_loaded_in_sequencer());
  sink_->pushed.clear();
  render_blocks(*synth_, *sink_, blocks_for(kSecond));
  // After the reverb's tail has died away.
  EXPECT_LT(test::rms(sink_->pushed, kSecond / 2, kSecond / 2), playing * 0.01);
}

TEST_F(SynthTest, PumpKeepsAQuarterSecondQueued) {
  synth_->play(synth_->load_file("song.mid"), true);
  sink_->unlimited = true;
  synth_->pump();  // a drained queue: at most 32 blocks in one call
  EXPECT_EQ(sink_->pushed.size(), 32u * 2 * SynthBackend::kBlockFrames);
  sink_->unlimited = false;
  sink_->allowed_frames = 0;
  synth_->pump();  // full: nothing rendered
  EXPECT_EQ(sink_->pushed.size(), 32u * 2 * SynthBackend::kBlockFrames);
}

TEST_F(SynthTest, VolumeIsTheSquareOfItsFractionAsAGain) {
  FakeSink* ref_sink = nullptr;
  auto reference = make(ref_sink);
  for (SynthBackend* s : {synth_.get(), reference.get()}) s->play(s->load_file("song.mid"), false);
  synth_->set_volume(1, 50);
  render_blocks(*synth_, *sink_, 40);
  render_blocks(*reference, *ref_sink, 40);
  ASSERT_EQ(sink_->pushed.size(), ref_sink->pushed.size());
  for (std::size_t i = 0; i < sink_->pushed.size(); ++i) {
    ASSERT_EQ(sink_->pushed[i], ref_sink->pushed[i] * 0.25f) << i;
  }
  synth_->set_volume(1, 250);
  EXPECT_EQ(synth_->volume(), 100);
  synth_->set_volume(1, -3);
  EXPECT_EQ(synth_->volume(), 0);
}

TEST_F(SynthTest, FadeOutStepsBySampleCountAndRampsWithinEachBlock) {
  FakeSink* ref_sink = nullptr;
  auto reference = make(ref_sink);
  for (SynthBackend* s : {synth_.get(), reference.get()}) s->play(s->load_file("song.mid"), true);
  synth_->fade_out(1, 1);
  EXPECT_TRUE(synth_->fade_out_active());

  // 44100 samples make 20 steps of 2205; the block that crosses the last one ends it.
  std::int32_t before = 100;
  for (std::size_t block = 1; block <= 87; ++block) {
    render_blocks(*synth_, *sink_, 1);
    render_blocks(*reference, *ref_sink, 1);
    const std::uint64_t rendered = block * SynthBackend::kBlockFrames;
    const auto expected =
        static_cast<std::int32_t>(100 - 5 * std::min<std::uint64_t>(rendered / 2205, 20));
    ASSERT_EQ(synth_->volume(), expected) << "block " << block;
    const float g = (before / 100.0f) * (before / 100.0f);
    const float h = (expected / 100.0f) * (expected / 100.0f);
    const std::size_t base = (block - 1) * 2 * SynthBackend::kBlockFrames;
    // The block that ends the fade is rendered after the song has stopped.
    for (std::size_t j = 0; block < 87 && j < SynthBackend::kBlockFrames; j += 97) {
      const float gain = g + (h - g) * static_cast<float>(j) / 512.0f;
      ASSERT_EQ(sink_->pushed[base + 2 * j], ref_sink->pushed[base + 2 * j] * gain);
    }
    before = expected;
    EXPECT_EQ(synth_->fade_out_active(), block < 87) << "block " << block;
  }
  EXPECT_EQ(synth_->volume(), 0);
  EXPECT_FALSE(synth_->song_loaded_in_sequencer());
}

TEST_F(SynthTest, FadeInRisesFromSilenceAndIgnoresSetVolume) {
  synth_->play(synth_->load_file("song.mid"), true);
  synth_->fade_in(1, 1);
  synth_->set_volume(1, 100);
  EXPECT_EQ(synth_->volume(), 0);
  EXPECT_FALSE(synth_->fade_out_active());
  render_blocks(*synth_, *sink_, 5);  // 2560 samples: one step
  EXPECT_EQ(synth_->volume(), 5);
  render_blocks(*synth_, *sink_, 82);
  EXPECT_EQ(synth_->volume(), 100);
  EXPECT_FALSE(synth_->fading());
  EXPECT_TRUE(synth_->song_loaded_in_sequencer());
  EXPECT_EQ(synth_->fade_out_active(), false);
  // Silent at first; the second note, half-way through the fade, sounds.
  EXPECT_LT(test::rms(sink_->pushed, 0, 1024), 1e-4);
  EXPECT_GT(test::rms(sink_->pushed, kSecond / 2, kSecond / 10), 0.001);
}

TEST_F(SynthTest, FadeOutFromFortyEndsAfterEightSteps) {
  synth_->play(synth_->load_file("song.mid"), true);
  synth_->set_volume(1, 40);
  synth_->fade_out(1, 1);
  render_blocks(*synth_, *sink_, 34);  // 17408 samples: 7 steps
  EXPECT_EQ(synth_->volume(), 5);
  EXPECT_TRUE(synth_->fade_out_active());
  render_blocks(*synth_, *sink_, 1);  // 17920 > 8 x 2205
  EXPECT_EQ(synth_->volume(), 0);
  EXPECT_FALSE(synth_->fade_out_active());
  EXPECT_FALSE(synth_->song_loaded_in_sequencer());
}

TEST_F(SynthTest, AnOverdueFadeEndsByTheClock) {
  synth_->play(synth_->load_file("song.mid"), true);
  synth_->fade_out(1, 4);
  now_ += 5999ms;
  EXPECT_TRUE(synth_->fade_out_active());
  EXPECT_TRUE(synth_->song_loaded_in_sequencer());
  now_ += 1ms;
  EXPECT_FALSE(synth_->fade_out_active());
  EXPECT_EQ(synth_->volume(), 0);
  EXPECT_FALSE(synth_->song_loaded_in_sequencer());

  // An overdue fade-in ends at full volume and keeps the song.
  synth_->play(1, true);
  synth_->fade_in(1, 1);
  now_ += 3000ms;
  EXPECT_FALSE(synth_->fade_out_active());
  EXPECT_EQ(synth_->volume(), 100);
  EXPECT_TRUE(synth_->song_loaded_in_sequencer());
}

TEST_F(SynthTest, StopAndZeroFadeKeepTheVolume) {
  synth_->play(synth_->load_file("song.mid"), true);
  synth_->set_volume(1, 70);
  synth_->fade_out(1, 2);
  render_blocks(*synth_, *sink_, 10);
  const std::int32_t during = synth_->volume();
  EXPECT_LT(during, 70);
  synth_->stop();
  EXPECT_EQ(synth_->volume(), during);
  EXPECT_FALSE(synth_->fade_out_active());
  synth_->play(1, true);
  synth_->fade_out(1, 0);
  EXPECT_EQ(synth_->volume(), during);
  EXPECT_FALSE(synth_->song_loaded_in_sequencer());
}

// The song is two seconds long: repeating, its first note comes back at once
// after the end; not repeating, it falls silent.
TEST_F(SynthTest, LoopsAsTheRepeatSettingSays) {
  FakeSink* once_sink = nullptr;
  auto once = make(once_sink);
  synth_->play(synth_->load_file("song.mid"), true);
  once->play(once->load_file("song.mid"), false);
  render_blocks(*synth_, *sink_, blocks_for(5 * kSecond));
  render_blocks(*once, *once_sink, blocks_for(5 * kSecond));

  const std::size_t window = kSecond / 10;
  const double first = test::rms(sink_->pushed, 0, window);
  ASSERT_GT(first, 0.005);
  for (std::size_t loop = 1; loop <= 2; ++loop) {
    // No gap at the loop: the note starts again within a few milliseconds.
    const std::size_t start = loop * 2 * kSecond;
    EXPECT_LT(test::rms(sink_->pushed, start - window / 2, window / 4), first * 0.5);
    EXPECT_GT(test::rms(sink_->pushed, start + kSecond / 200, window), first * 0.5) << loop;
  }
  EXPECT_LT(test::rms(once_sink->pushed, 4 * kSecond, window), first * 0.01);
}

// One string note from tick 240 to the end (at tick 960, a second) with all
// the reverb it can take, so that it still rings when the song repeats.
test::Bytes ringing_song(bool sysex_later) {
  test::SmfTrack t;
  t.event(0, {0xC0, 48}).event(0, {0xB0, 91, 127}).event(240, {0x90, 60, 110});
  if (sysex_later) t.sysex(0, 0xF0, {0x7D, 0x01, 0xF7});  // for no one in particular
  t.event(720, {0x80, 60, 0}).end();
  return test::smf_file(0, 480, {t});
}

// The largest difference between neighbouring samples of one channel, over
// frames [from, from + frames).
float largest_step(std::span<const float> stereo, std::size_t from, std::size_t frames) {
  float step = 0;
  for (std::size_t i = 2 * from + 2; i < 2 * (from + frames); ++i) {
    step = std::max(step, std::abs(stereo[i] - stereo[i - 2]));
  }
  return step;
}

// At the loop point the note's release and its reverb ring on into the next
// pass. A song that needs the synthesizer reset there (it sends SysEx after
// its start) still gets it: the reset empties the reverb at once, a step
// several times the note's own largest.
TEST_F(SynthTest, WhatRingsAtTheLoopPointRingsOn) {
  test::write_bytes(dir_ / "rings.mid", ringing_song(false));
  test::write_bytes(dir_ / "resets.mid", ringing_song(true));
  for (const bool reset : {false, true}) {
    const char* song = reset ? "resets.mid" : "rings.mid";
    SCOPED_TRACE(song);
    sink_->pushed.clear();
    ASSERT_EQ(synth_->play(synth_->load_file(song), true), 0);
    render_blocks(*synth_, *sink_, blocks_for(kSecond + kSecond / 4));
    // The player starts the next pass within a few of the synthesizer's
    // blocks of the loop point at one second.
    const float at_loop = largest_step(sink_->pushed, kSecond - kSecond / 100, kSecond / 25);
    const float sounding = largest_step(sink_->pushed, kSecond / 2, kSecond / 2 - kSecond / 50);
    ASSERT_GT(sounding, 0.01f);
    if (reset) {
      EXPECT_GT(at_loop, 2 * sounding);
    } else {
      EXPECT_LT(at_loop, 1.2f * sounding);
    }
    // Either way the note goes on ringing into the next pass.
    EXPECT_GT(test::rms(sink_->pushed, kSecond + kSecond / 50, kSecond / 20),
              0.3 * test::rms(sink_->pushed, kSecond - kSecond / 20, kSecond / 20));
  }
}

// The smallest RMS difference between the first `frames` frames of `a`
// from frame `at_a` and those of `b` from `at_b`, shifted by up to 256 frames:
// the player starts a pass at the edge of one of the synthesizer's blocks.
double best_difference(std::span<const float> a, std::size_t at_a, std::span<const float> b,
                       std::size_t at_b, std::size_t frames) {
  double best = 1e9;
  for (std::size_t shifted = at_b - 256; shifted <= at_b + 256; ++shifted) {
    double sum = 0;
    for (std::size_t i = 0; i < 2 * frames; ++i) {
      const double d = a[2 * at_a + i] - b[2 * shifted + i];
      sum += d * d;
    }
    best = std::min(best, std::sqrt(sum / static_cast<double>(2 * frames)));
  }
  return best;
}

// A song that bends its pitch, turns its volume down and changes its program
// after its first note: each repeat's first note sounds as the first pass's did.
TEST_F(SynthTest, EachRepeatStartsFromTheSongsStartState) {
  test::SmfTrack t;
  t.event(0, {0xC0, 0}).event(0, {0x90, 60, 100}).event(240, {0x80, 60, 0});
  t.event(240, {0xE0, 0x7F, 0x7F}).event(0, {0xB0, 7, 20}).event(0, {0xC0, 80});
  t.event(0, {0xB0, 64, 127}).end(1440);  // and the pedal is down at the end
  test::write_bytes(dir_ / "changes.mid", test::smf_file(0, 480, {t}));
  ASSERT_EQ(synth_->play(synth_->load_file("changes.mid"), true), 0);
  render_blocks(*synth_, *sink_, blocks_for(4 * kSecond + kSecond / 2));
  const std::size_t note = kSecond / 5;
  const double first = test::rms(sink_->pushed, 0, note);
  ASSERT_GT(first, 0.01);
  for (std::size_t pass = 1; pass <= 2; ++pass) {
    EXPECT_LT(best_difference(sink_->pushed, 0, sink_->pushed, pass * 2 * kSecond, note),
              first * 0.1)
        << "pass " << pass + 1;
  }
}

// A song that is no regular file, or too large, is refused at once with one
// line; the game then plays without music.
TEST_F(SynthTest, ASongFileThatCannotBeReadIsRefusedWithOneLine) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe.mid").c_str(), 0666), 0);
  test::write_bytes(dir_ / "huge.mid", four_notes());
  std::filesystem::resize_file(dir_ / "huge.mid", std::uintmax_t{8} << 30);  // sparse
  const test::Watchdog watchdog(60s, "loading odd songs");
  test::StderrCapture capture;
  EXPECT_EQ(synth_->load_file("pipe.mid"), 0);
  EXPECT_EQ(synth_->load_file("huge.mid"), 0);
  EXPECT_EQ(synth_->load_file("missing.mid"), 0);  // nothing to say about it
  EXPECT_EQ(capture.text(), "midi: could not read " + (dir_ / "pipe.mid").string() +
                                " (not a regular file)\nmidi: could not read " +
                                (dir_ / "huge.mid").string() + " (larger than 16777216 bytes)\n");
  EXPECT_EQ(synth_->load_file("song.mid"), 1);
}

TEST_F(SynthTest, HandlesCountSuccessfulLoadsOnly) {
  test::write_bytes(dir_ / "junk.mid", test::Bytes{'M', 'T', 'h', 'd', 0, 0});
  test::write_bytes(dir_ / "timecode.mid",
                    test::smf_file(0, 0xE728, {test::SmfTrack{}.event(0, {0x90, 60, 1}).end()}));
  EXPECT_EQ(synth_->play(1, false), 1);  // nothing loaded yet
  EXPECT_EQ(synth_->load_file("missing.mid"), 0);
  EXPECT_EQ(synth_->load_file("junk.mid"), 0);
  EXPECT_EQ(synth_->load_file("timecode.mid"), 0);
  EXPECT_EQ(synth_->load_file("song.mid"), 1);
  EXPECT_EQ(synth_->load_file("song.mid"), 2);
  EXPECT_EQ(synth_->play(3, false), 1);
  EXPECT_EQ(synth_->play(1, false), 0);
  EXPECT_EQ(synth_->play(2, true), 0);
  EXPECT_EQ(synth_->open(10, -1), 0);
}

// The music control over the real backend, as the game drives it at start-up
// and on the title screen. A song in which nothing follows tick 0 used to spin
// inside the synthesizer's render call for ever.
TEST(SynthSongsThatNeverAdvance, AreRefusedAndTheGameStepsOn) {
  for (const test::NamedSong& song : test::never_advancing_songs()) {
    SCOPED_TRACE(song.name);
    TempDir dir;
    test::write_bytes(dir / "title.mid", song.bytes);
    auto owned = std::make_unique<FakeSink>();
    owned->unlimited = true;
    auto made = SynthBackend::create(dir.path(), ZT_TEST_SOUNDFONT, std::move(owned));
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<SynthBackend>>(made));
    SynthBackend& synth = *std::get<std::unique_ptr<SynthBackend>>(made);
    struct {
      SynthBackend& backend;
      HostFiles files;
      BgmBackend& bgm() { return backend; }
      KbgmSink& kbgm_sink() { return files; }
    } host{synth, HostFiles(dir.path())};

    const test::Watchdog watchdog(60s, std::string("the music of ") + song.name);
    TBgm bgm;
    bgm.set_on(true, host);
    bgm.load_song("title", host);
    EXPECT_TRUE(bgm.device_failed());
    EXPECT_FALSE(bgm.on());
    bgm.change("title", 4, true, 0, 1, host);
    for (int step = 0; step < 3; ++step) {
      bgm.zt_bgm_tick(host);
      synth.pump();
    }
    EXPECT_FALSE(synth.song_loaded_in_sequencer());
  }
}

TEST(SynthCreate, ErrorTextsNameTheFileAndNothingElseIsPrinted) {
  TempDir dir;
  test::write_bytes(dir / "junk.sf2", test::Bytes(3000, 0x5A));
  test::write_bytes(dir / "short.sf2",
                    test::Bytes{'R', 'I', 'F', 'F', 0x10, 0, 0, 0, 's', 'f', 'b', 'k'});
  struct Case {
    std::filesystem::path path;
    std::string error;
  };
  // The synthesizer would wait on a pipe for ever and read a device without end.
  ASSERT_EQ(::mkfifo((dir / "pipe.sf2").c_str(), 0666), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "zero.sf2");
  test::write_bytes(dir / "huge.sf2", test::Bytes{'R', 'I', 'F', 'F'});
  std::filesystem::resize_file(dir / "huge.sf2", std::uintmax_t{8} << 30);  // sparse
  const Case cases[] = {
      {dir / "missing.sf2", (dir / "missing.sf2").string() + ": No such file or directory"},
      {dir / "junk.sf2", (dir / "junk.sf2").string() + ": Not a RIFF file"},
      {dir / "short.sf2", (dir / "short.sf2").string() + ": SoundFont file size mismatch"},
      {dir / "pipe.sf2", (dir / "pipe.sf2").string() + ": not a regular file"},
      {dir / "zero.sf2", (dir / "zero.sf2").string() + ": not a regular file"},
      {dir / "huge.sf2", (dir / "huge.sf2").string() + ": larger than 536870912 bytes"},
  };
  const test::Watchdog watchdog(60s, "loading odd SoundFonts");
  for (const Case& c : cases) {
    test::StderrCapture capture;
    auto made = SynthBackend::create(dir.path(), c.path, std::make_unique<FakeSink>());
    const std::string printed = capture.text();
    ASSERT_TRUE(std::holds_alternative<std::string>(made)) << c.path;
    EXPECT_EQ(std::get<std::string>(made), c.error);
    EXPECT_EQ(printed, "") << c.path;
  }
}

// The generated songs, once the data generator has written them.
TEST(SynthGeneratedData, TitleSongIsNotSilent) {
  const std::filesystem::path data = ZT_GENERATED_DATA_DIR;
  if (!std::filesystem::exists(data / "title.mid")) GTEST_SKIP() << "no generated data";
  auto owned = std::make_unique<FakeSink>();
  FakeSink* sink = owned.get();
  auto made = SynthBackend::create(data, ZT_TEST_SOUNDFONT, std::move(owned));
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<SynthBackend>>(made));
  auto& synth = *std::get<std::unique_ptr<SynthBackend>>(made);
  for (const char* song : {"title.mid", "stage.mid"}) {
    sink->pushed.clear();
    const std::int32_t h = synth.load_file(song);
    ASSERT_GT(h, 0) << song;
    ASSERT_EQ(synth.play(h, true), 0);
    sink->unlimited = true;
    for (int i = 0; i < 8; ++i) synth.pump();  // about three seconds
    EXPECT_GT(test::rms(sink->pushed, 0, sink->pushed.size() / 2), 0.003) << song;
    synth.stop();
  }
}

}  // namespace
}  // namespace zt
