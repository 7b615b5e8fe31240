// Songs of every shape and size through both music backends: what our reader
// takes plays as it understood it, or is refused at load with one line, and
// no song holds a game step.
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "audio_fixtures.h"
#include "formats/midifile.h"
#include "midi.h"
#include "smf_builder.h"
#include "synth.h"
#include "watchdog.h"

namespace zt {
namespace {

using test::Bytes;
using test::FakeSink;
using test::TempDir;
using namespace std::chrono_literals;

struct Backend {
  FakeSink* sink = nullptr;
  std::unique_ptr<SynthBackend> synth;
};

Backend make_backend(const std::filesystem::path& dir, SynthRenderLimits limits = {}) {
  Backend b;
  auto owned = std::make_unique<FakeSink>();
  b.sink = owned.get();
  auto made = SynthBackend::create(dir, ZT_TEST_SOUNDFONT, std::move(owned),
                                   std::chrono::steady_clock::now, limits);
  EXPECT_TRUE(std::holds_alternative<std::unique_ptr<SynthBackend>>(made));
  if (auto* s = std::get_if<std::unique_ptr<SynthBackend>>(&made)) b.synth = std::move(*s);
  return b;
}

void render_blocks(Backend& b, std::size_t blocks) {
  for (std::size_t i = 0; i < blocks; ++i) {
    b.sink->allowed_frames = SynthBackend::kBlockFrames;
    b.synth->pump();
  }
}

std::chrono::nanoseconds thread_cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

double ms(std::chrono::nanoseconds d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Each of these froze the game inside the synthesizer's render call for good:
// the synthesizer's own reader refused the file and its looping player tried
// it again for ever. Each now sounds exactly as its plain file does, the
// repeat included, and nothing is printed.
TEST(SynthSongShapes, PlayAsOurReaderUnderstandsThem) {
  for (const test::SongShape& shape : test::unusual_song_shapes()) {
    SCOPED_TRACE(shape.name);
    TempDir dir;
    test::write_bytes(dir / "song.mid", shape.bytes);
    test::write_bytes(dir / "plain.mid", shape.plain);
    Backend odd = make_backend(dir.path());
    Backend plain = make_backend(dir.path());
    const test::Watchdog watchdog(60s, std::string("playing ") + shape.name);
    test::StderrCapture capture;
    const std::int32_t h = odd.synth->load_file("song.mid");
    ASSERT_GT(h, 0);
    ASSERT_EQ(odd.synth->play(h, true), 0);
    ASSERT_EQ(plain.synth->play(plain.synth->load_file("plain.mid"), true), 0);
    render_blocks(odd, 220);  // 2.5 s: past the end, into the repeat
    render_blocks(plain, 220);
    EXPECT_EQ(capture.text(), "");
    ASSERT_EQ(odd.sink->pushed.size(), plain.sink->pushed.size());
    EXPECT_TRUE(odd.sink->pushed == plain.sink->pushed);
    EXPECT_GT(test::rms(odd.sink->pushed, 0, 44100), 0.005);
  }
}

// Songs our reader takes but no player should try: each is refused at load
// with one line naming the file and saying why, at once, and the next song
// loads as usual.
TEST(SynthSongRefusals, OneLineEachAndAtOnce) {
  test::SmfTrack endless;
  for (int i = 0; i < 5; ++i) endless.event(0x0FFFFFFF, {0x90, 60, 1});
  struct Case {
    const char* name;
    Bytes bytes;
    std::string why;
  };
  const std::string too_many = "more than 100000 events at byte ";
  const Bytes chord = test::chord_on_tick_0(1'000'000);
  const Bytes big_chord = test::chord_on_tick_0((16u << 20) / 3 - 20);
  const Bytes pressure = test::running_status_events(16u << 20);
  const Case cases[] = {
      {"chord_1m", chord, too_many + std::to_string(14 + 8 + 4 + 3 * kMaxSongEvents)},
      {"chord_16mib", big_chord, too_many + std::to_string(14 + 8 + 4 + 3 * kMaxSongEvents)},
      {"notes_at_tempo_1", test::notes_at_tempo_1(40'000), song_too_dense_text()},
      {"pressure_16mib", pressure, too_many + std::to_string(14 + 8 + 3 + 2 * kMaxSongEvents)},
      {"chord_at_tick_0_only", test::never_advancing_songs()[2].bytes,
       std::string(kSongNeverAdvancesText)},
      {"timecode", test::smf_file(0, 0xE728, {test::SmfTrack{}.event(0, {0x90, 60, 1}).end(9)}),
       "timecode division, which the SoundFont player lacks"},
      {"over_2_to_the_30_ticks", test::smf_file(0, 96, {endless}), "longer than 1073741824 ticks"},
      {"junk", Bytes{'M', 'T', 'h', 'd', 0, 0}, "truncated MIDI data at byte 4"},
  };
  TempDir dir;
  test::write_bytes(dir / "ok.mid", test::unusual_song_shapes()[0].plain);
  Backend b = make_backend(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = std::string(c.name) + ".mid";
    test::write_bytes(dir / file, c.bytes);
    const test::Watchdog watchdog(60s, std::string("loading ") + c.name);
    test::StderrCapture capture;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(b.synth->load_file(file), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(capture.text(),
              "midi: could not load " + (dir / file).string() + " (" + c.why + ")\n");
    std::cout << c.name << " (" << c.bytes.size() << " bytes): refused in " << ms(took) << " ms\n";
    EXPECT_LT(took, 5s);
  }
  EXPECT_EQ(b.synth->load_file("ok.mid"), 1);
}

// The largest song the bounds let through: loaded, started and rendered as
// the game steps would, a quarter second queued at once and then 25 ms a
// step. Each pump's processor time is measured; the figure is reported, and
// only a hang-like cost fails.
TEST(SynthSongCost, TheDensestSongWithinTheBoundsHoldsNoStep) {
  TempDir dir;
  test::write_bytes(dir / "dense.mid", test::densest_song_within_bounds());
  Backend b = make_backend(dir.path());
  const test::Watchdog watchdog(120s, "the densest song");
  auto start = std::chrono::steady_clock::now();
  const std::int32_t h = b.synth->load_file("dense.mid");
  const auto load = std::chrono::steady_clock::now() - start;
  ASSERT_GT(h, 0);
  std::chrono::nanoseconds longest{0};
  std::uint64_t pumps = 0;
  const auto step = [&](std::uint64_t frames) {
    b.sink->allowed_frames = frames;
    const auto before = thread_cpu();
    b.synth->pump();
    longest = std::max(longest, thread_cpu() - before);
    ++pumps;
  };
  const auto before_play = thread_cpu();
  ASSERT_EQ(b.synth->play(h, true), 0);
  const auto play = thread_cpu() - before_play;
  step(SynthBackend::kQueueLimitFrames + SynthBackend::kBlockFrames);
  const std::chrono::nanoseconds first = longest;
  while (b.sink->pushed.size() < 2 * 12 * 44100) step(1103);  // past the first repeat
  std::cout << "densest song: loaded in " << ms(load) << " ms, started in " << ms(play)
            << " ms; first pump " << ms(first) << " ms, longest of " << pumps << " pumps "
            << ms(longest) << " ms of processor time\n";
  EXPECT_TRUE(b.synth->song_loaded_in_sequencer());
  EXPECT_GT(test::rms(b.sink->pushed, 44100, 44100), 0.001);
  EXPECT_LT(longest, 1s);
  EXPECT_LT(load, 5s);
}

// A pump renders blocks until the queue is full, 32 at most, and no further
// block once its processor time is up (a limit of 0: one block a pump).
TEST(SynthSongCost, APumpRendersNoFurtherBlockOnceItsTimeIsUp) {
  TempDir dir;
  test::write_bytes(dir / "song.mid", test::unusual_song_shapes()[0].plain);
  SynthRenderLimits limits;
  limits.pump = 0ns;
  Backend b = make_backend(dir.path(), limits);
  ASSERT_EQ(b.synth->play(b.synth->load_file("song.mid"), true), 0);
  b.sink->unlimited = true;
  b.synth->pump();
  EXPECT_EQ(b.sink->pushed.size(), 2u * SynthBackend::kBlockFrames);
  b.synth->pump();
  EXPECT_EQ(b.sink->pushed.size(), 4u * SynthBackend::kBlockFrames);
  EXPECT_TRUE(b.synth->song_loaded_in_sequencer());
}

// A block that costs more than its limit, as a song too costly to render on
// a slow machine would: the song is given up once, rather than freeze every
// game step, and the next step renders silence at the usual pace.
TEST(SynthSongCost, ASongTooCostlyToRenderIsStopped) {
  TempDir dir;
  test::write_bytes(dir / "song.mid", test::unusual_song_shapes()[0].plain);
  SynthRenderLimits limits;
  limits.block = 0ns;
  Backend b = make_backend(dir.path(), limits);
  ASSERT_EQ(b.synth->play(b.synth->load_file("song.mid"), true), 0);
  b.sink->unlimited = true;
  b.synth->pump();
  EXPECT_FALSE(b.synth->song_loaded_in_sequencer());
  EXPECT_EQ(b.sink->pushed.size(), 2u * SynthBackend::kBlockFrames);
  b.sink->pushed.clear();
  b.synth->pump();
  EXPECT_EQ(b.sink->pushed.size(),
            2u * SynthBackend::kBlockFrames * SynthBackend::kMaxBlocksPerPump);
}

// FluidSynth's own reader on the generated songs and on their plain form: the
// same samples, so the game's own music sounds as it always did.
TEST(SynthGeneratedData, ThePlainFormSoundsExactlyAsTheFile) {
  const std::filesystem::path data = ZT_GENERATED_DATA_DIR;
  if (!std::filesystem::exists(data / "title.mid")) GTEST_SKIP() << "no generated data";
  const auto render = [](const Bytes& song) {
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", 44100.0);
    fluid_settings_setint(settings, "synth.polyphony", 64);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_sfload(synth, ZT_TEST_SOUNDFONT, 1);
    fluid_player_t* player = new_fluid_player(synth);
    fluid_player_add_mem(player, song.data(), song.size());
    fluid_player_play(player);
    std::vector<float> out(2 * 512 * 345);  // four seconds
    for (std::size_t at = 0; at < out.size() / 2; at += 512) {
      fluid_synth_write_float(synth, 512, out.data(), static_cast<int>(2 * at), 2, out.data(),
                              static_cast<int>(2 * at + 1), 2);
    }
    delete_fluid_player(player);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return out;
  };
  for (const char* name : {"title.mid", "stage.mid"}) {
    SCOPED_TRACE(name);
    std::ifstream in(data / name, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), {});
    const MidiParseResult parsed = parse_midi_file(file);
    ASSERT_TRUE(parsed);
    auto song = SynthBackend::player_song(*parsed.file);
    ASSERT_TRUE(std::holds_alternative<Bytes>(song)) << std::get<std::string>(song);
    const std::vector<float> original = render(file);
    EXPECT_GT(test::rms(original, 0, 4 * 44100), 0.003);
    EXPECT_TRUE(render(std::get<Bytes>(song)) == original);
  }
}

// ---- The MIDI port backend ----

class MidiPortSongs : public ::testing::Test {
 protected:
  void SetUp() override {
    rec_->ports = {"Synth"};
    clock_->sleeps_advance = true;
  }
  std::unique_ptr<MidiBackend> make() {
    auto midi = std::make_unique<MidiBackend>(dir_.path(), "synth", test::recording_factory(rec_),
                                              clock_, &err_);
    EXPECT_EQ(midi->open(10, -1), 0);
    return midi;
  }

  TempDir dir_;
  std::shared_ptr<test::RecordedMidi> rec_ = std::make_shared<test::RecordedMidi>();
  std::shared_ptr<test::ManualClock> clock_ = std::make_shared<test::ManualClock>();
  std::ostringstream err_;
};

std::vector<std::vector<std::uint8_t>> messages(const SongTimeline& tl) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const TimedMessage& m : tl) out.emplace_back(m.message().begin(), m.message().end());
  return out;
}

// The unusual shapes give the timeline of their plain files.
TEST_F(MidiPortSongs, UnusualShapesPlayAsTheirPlainFiles) {
  auto midi = make();
  for (const test::SongShape& shape : test::unusual_song_shapes()) {
    SCOPED_TRACE(shape.name);
    test::write_bytes(dir_ / "song.mid", shape.bytes);
    EXPECT_GT(midi->load_file("song.mid"), 0);
    const std::optional<SongTimeline> odd = build_timeline(shape.bytes);
    const std::optional<SongTimeline> plain = build_timeline(shape.plain);
    ASSERT_TRUE(odd && plain);
    EXPECT_EQ(messages(*odd), messages(*plain));
  }
  EXPECT_EQ(err_.str(), "");
}

TEST_F(MidiPortSongs, SongsOverTheBoundsAreRefusedWithOneLine) {
  test::SmfTrack meta_only;
  meta_only.tempo(0, 500000).end(96);
  struct Case {
    const char* name;
    Bytes bytes;
    std::string why;
  } cases[] = {
      {"chord_1m", test::chord_on_tick_0(1'000'000),
       "more than 100000 events at byte " + std::to_string(14 + 8 + 4 + 3 * kMaxSongEvents)},
      {"pressure_16mib", test::running_status_events(16u << 20),
       "more than 100000 events at byte " + std::to_string(14 + 8 + 3 + 2 * kMaxSongEvents)},
      // Each step of the port's timeline is rounded down on its own: all at 0.
      {"notes_at_tempo_1", test::notes_at_tempo_1(40'000), std::string(kSongNeverAdvancesText)},
      // The port repeats from the last message, a tick after the chord.
      {"chord_then_rest", test::chord_on_tick_0(kMaxEventsPerWindow - 2), song_too_dense_text()},
      {"chord_at_tick_0_only", test::never_advancing_songs()[2].bytes,
       std::string(kSongNeverAdvancesText)},
      {"meta_only", test::smf_file(0, 96, {meta_only}), "no channel messages"},
      {"junk", Bytes{'M', 'T', 'h', 'd', 0, 0}, "truncated MIDI data at byte 4"},
  };
  auto midi = make();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    err_.str("");
    const std::string file = std::string(c.name) + ".mid";
    test::write_bytes(dir_ / file, c.bytes);
    const test::Watchdog watchdog(60s, std::string("loading ") + c.name);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(midi->load_file(file), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(err_.str(), "midi: could not load " + (dir_ / file).string() + " (" + c.why + ")\n");
  }
}

// The densest song the bounds let through, on the sequencer thread's loop
// with time running at once: no round of sending carries more than one
// window's messages, and the notes-off and volumes of a repeat.
TEST(MidiPortSongCost, NoRoundSendsMoreThanTheBoundLets) {
  const std::optional<SongTimeline> tl = build_timeline(test::densest_song_within_bounds());
  ASSERT_TRUE(tl);
  ASSERT_EQ(timeline_refusal(*tl), std::nullopt);
  auto rec = std::make_shared<test::RecordedMidi>();
  test::RecordingMidiOutput out(rec);
  std::atomic<bool> flag{false};
  test::ManualClock clock;
  Sequencer seq(out, flag, clock);
  seq.begin();
  seq.handle(midi_cmd::Play{true, std::make_shared<const SongTimeline>(*tl)});
  std::size_t most = 0, total = 0;
  while (total < 2 * tl->size()) {  // through the first repeat
    seq.advance();
    const std::size_t sent = rec->take().size();
    most = std::max(most, sent);
    total += sent;
    clock.advance(seq.sleep_time());
  }
  EXPECT_LE(most, kMaxEventsPerWindow + 3 * 16);
}

}  // namespace
}  // namespace zt
