#include "midi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "audio_fixtures.h"
#include "fake_bgm.h"
#include "files.h"
#include "game/umidi.h"
#include "smf_builder.h"
#include "watchdog.h"

namespace zt {
namespace {

using test::Bytes;
using test::SmfTrack;
using namespace std::chrono_literals;

Bytes cc(std::uint8_t channel, std::uint8_t controller, std::uint8_t value) {
  return {static_cast<std::uint8_t>(0xB0 + channel), controller, value};
}

std::vector<Bytes> all_notes_off() {
  std::vector<Bytes> out;
  for (std::uint8_t c = 0; c < 16; ++c) {
    out.push_back(cc(c, 120, 0));
    out.push_back(cc(c, 123, 0));
  }
  return out;
}

std::vector<Bytes> volumes(std::uint8_t value) {
  std::vector<Bytes> out;
  for (std::uint8_t c = 0; c < 16; ++c) out.push_back(cc(c, 7, value));
  return out;
}

std::vector<std::uint64_t> times(const SongTimeline& tl) {
  std::vector<std::uint64_t> out;
  for (const TimedMessage& m : tl) out.push_back(m.micros);
  return out;
}

// ---- Timeline ----

TEST(BuildTimeline, TempoChangesTimeTheTicksThatFollow) {
  SmfTrack t;
  t.event(0, {0x90, 60, 100}).tempo(960, 250000).event(480, {0x90, 62, 100}).end();
  auto tl = build_timeline(test::smf_file(0, 480, {t}));
  ASSERT_TRUE(tl);
  // Two quarters at the default tempo, then one at the new one.
  EXPECT_THAT(times(*tl), ::testing::ElementsAre(0, 1250000));
}

TEST(BuildTimeline, EachStepIsTruncatedOnItsOwn) {
  SmfTrack t;
  t.event(1, {0x90, 60, 1}).event(1, {0x90, 61, 1}).event(1, {0x90, 62, 1}).end();
  auto tl = build_timeline(test::smf_file(0, 3, {t}));
  ASSERT_TRUE(tl);
  EXPECT_THAT(times(*tl), ::testing::ElementsAre(166666, 333332, 499998));
}

TEST(BuildTimeline, TimecodeDivisionCountsFramesAndSubframes) {
  struct Case {
    std::uint8_t fps;
    std::uint8_t subframes;
    std::uint64_t at_tick_600;
  };
  const Case cases[] = {
      {25, 40, 600000},                        // 1 ms a tick
      {24, 0, 600ull * (1000000000 / 24000)},  // 0 subframes count as 1
      {29, 4, 600ull * (1000000000 / (4 * 29970))},
  };
  for (const Case& c : cases) {
    SmfTrack t;
    t.tempo(0, 1).event(600, {0x90, 60, 1}).end();  // tempo is not looked at
    const auto division = static_cast<std::uint16_t>(((256 - c.fps) & 0xFF) << 8 | c.subframes);
    auto tl = build_timeline(test::smf_file(0, division, {t}));
    ASSERT_TRUE(tl) << int(c.fps);
    EXPECT_THAT(times(*tl), ::testing::ElementsAre(c.at_tick_600)) << int(c.fps);
  }
}

TEST(BuildTimeline, TracksMergeByTickThenTrackAndKeepOnlyChannelMessages) {
  SmfTrack a;
  a.event(0, {0xC1, 5}).event(10, {0x91, 60, 100}).sysex(0, 0xF0, {1, 2, 0xF7}).end();
  SmfTrack b;
  b.event(10, {0xE2, 0x11, 0x40}).meta(0, 0x01, {'x'}).event(0, {0xA2, 60, 9}).end();
  auto tl = build_timeline(test::smf_file(1, 96, {a, b}));
  ASSERT_TRUE(tl);
  std::vector<Bytes> messages;
  for (const TimedMessage& m : *tl) messages.emplace_back(m.message().begin(), m.message().end());
  EXPECT_THAT(messages, ::testing::ElementsAre(Bytes{0xC1, 5}, Bytes{0x91, 60, 100},
                                               Bytes{0xE2, 0x11, 0x40}, Bytes{0xA2, 60, 9}));
}

TEST(BuildTimeline, MetaOnlyFilesAreEmptyAndJunkIsNoFile) {
  SmfTrack t;
  t.tempo(0, 400000).meta(10, 0x03, {'n', 'a', 'm', 'e'}).end();
  auto tl = build_timeline(test::smf_file(0, 480, {t}));
  ASSERT_TRUE(tl);
  EXPECT_TRUE(tl->empty());
  EXPECT_FALSE(build_timeline(Bytes{'M', 'T', 'h', 'd', 0, 0, 0}));
}

// ---- Sequencer, driven by hand ----

class SequencerTest : public ::testing::Test {
 protected:
  SequencerTest() : out_(rec_), seq_(out_, flag_, clock_) {}

  std::shared_ptr<const SongTimeline> song(std::initializer_list<TimedMessage> messages) {
    return std::make_shared<const SongTimeline>(messages);
  }
  static TimedMessage at(std::uint64_t micros, std::initializer_list<std::uint8_t> bytes) {
    TimedMessage m;
    m.micros = micros;
    m.size = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), m.bytes.begin());
    return m;
  }
  void step(std::chrono::microseconds d) {
    clock_.advance(d);
    seq_.advance();
  }

  std::shared_ptr<test::RecordedMidi> rec_ = std::make_shared<test::RecordedMidi>();
  test::RecordingMidiOutput out_;
  std::atomic<bool> flag_{false};
  test::ManualClock clock_;
  Sequencer seq_;
};

TEST_F(SequencerTest, SendsEachMessageWhenItIsDue) {
  seq_.begin();
  EXPECT_EQ(rec_->take(), volumes(100));
  seq_.handle(midi_cmd::Play{
      false, song({at(0, {0x90, 60, 100}), at(10000, {0x80, 60, 0}), at(10000, {0xC0, 3})})});
  EXPECT_EQ(rec_->take(), all_notes_off());  // and no volume: nothing changed
  seq_.advance();
  EXPECT_THAT(rec_->take(), ::testing::ElementsAre(Bytes{0x90, 60, 100}));
  EXPECT_EQ(seq_.sleep_time(), 10000us);
  step(9999us);
  EXPECT_TRUE(rec_->take().empty());
  EXPECT_EQ(seq_.sleep_time(), Sequencer::kMinSleep);
  step(1us);
  std::vector<Bytes> expected = {{0x80, 60, 0}, {0xC0, 3}};
  for (const Bytes& b : all_notes_off()) expected.push_back(b);
  EXPECT_EQ(rec_->take(), expected);  // the end of a song that does not repeat
  EXPECT_FALSE(seq_.busy());
}

TEST_F(SequencerTest, SongVolumesAreScaledByTheMaster) {
  seq_.begin();
  rec_->take();
  seq_.handle(midi_cmd::SetVolume{50});
  EXPECT_EQ(rec_->take(), volumes(50));
  seq_.handle(midi_cmd::Play{
      false, song({at(0, {0xB3, 7, 64}), at(0, {0xB3, 7, 64}), at(100000, {0x90, 1, 1})})});
  rec_->take();
  seq_.advance();
  EXPECT_THAT(rec_->take(), ::testing::ElementsAre(cc(3, 7, 32)));  // the repeat is not sent
  seq_.handle(midi_cmd::SetVolume{100});
  std::vector<Bytes> expected = volumes(100);
  expected[3] = cc(3, 7, 64);
  EXPECT_EQ(rec_->take(), expected);
  seq_.handle(midi_cmd::SetVolume{200});  // capped at 100: nothing changes
  EXPECT_TRUE(rec_->take().empty());
}

TEST_F(SequencerTest, FadeOutStepsEveryTwentiethAndStopsTheSong) {
  seq_.begin();
  seq_.handle(midi_cmd::Play{true, song({at(0, {0x90, 60, 1}), at(5000000, {0x80, 60, 0})})});
  seq_.advance();
  rec_->take();
  seq_.handle(midi_cmd::FadeOut{1000});
  EXPECT_TRUE(flag_);
  EXPECT_EQ(seq_.sleep_time(), Sequencer::kFadeSleep);
  for (int k = 1; k <= 19; ++k) {
    step(49ms);
    EXPECT_EQ(seq_.master(), 100 - 5 * (k - 1));
    step(1ms);
    EXPECT_EQ(seq_.master(), 100 - 5 * k);
    EXPECT_EQ(rec_->take(), volumes(static_cast<std::uint8_t>(100 - 5 * k)));
  }
  seq_.handle(midi_cmd::SetVolume{100});  // ignored while the fade runs
  EXPECT_EQ(seq_.master(), 5);
  step(50ms);
  std::vector<Bytes> expected = volumes(0);
  for (const Bytes& b : all_notes_off()) expected.push_back(b);
  EXPECT_EQ(rec_->take(), expected);
  EXPECT_FALSE(flag_);
  EXPECT_FALSE(seq_.busy());
}

TEST_F(SequencerTest, FadeOutAtSilenceEndsAtTheFirstStep) {
  seq_.begin();
  seq_.handle(midi_cmd::SetVolume{0});
  seq_.handle(midi_cmd::Play{true, song({at(0, {0x90, 60, 1}), at(5000000, {0x80, 60, 0})})});
  seq_.handle(midi_cmd::FadeOut{1000});
  step(49ms);
  EXPECT_TRUE(seq_.playing());
  step(1ms);
  EXPECT_FALSE(seq_.playing());
  EXPECT_FALSE(seq_.fading());
  EXPECT_FALSE(flag_);
}

TEST_F(SequencerTest, FadeInRisesFromZeroToFull) {
  seq_.begin();
  seq_.handle(midi_cmd::Play{true, song({at(0, {0x90, 60, 1}), at(5000000, {0x80, 60, 0})})});
  flag_ = true;
  seq_.handle(midi_cmd::FadeIn{2000});
  EXPECT_FALSE(flag_);
  EXPECT_EQ(seq_.master(), 0);
  step(1000ms);
  EXPECT_EQ(seq_.master(), 50);
  step(1000ms);
  EXPECT_EQ(seq_.master(), 100);
  EXPECT_FALSE(seq_.fading());
  EXPECT_TRUE(seq_.playing());
}

TEST_F(SequencerTest, ARepeatingSongStartsAgainWithDefaultVolumes) {
  seq_.begin();
  seq_.handle(midi_cmd::Play{true, song({at(0, {0xB0, 7, 10}), at(1000, {0x90, 60, 1})})});
  rec_->take();
  seq_.advance();
  EXPECT_THAT(rec_->take(), ::testing::ElementsAre(cc(0, 7, 10)));
  step(1000us);
  std::vector<Bytes> expected = {{0x90, 60, 1}};
  for (const Bytes& b : all_notes_off()) expected.push_back(b);
  expected.push_back(cc(0, 7, 100));
  EXPECT_EQ(rec_->take(), expected);
  EXPECT_TRUE(seq_.playing());
  seq_.advance();  // from its start again
  EXPECT_THAT(rec_->take(), ::testing::ElementsAre(cc(0, 7, 10)));
}

TEST_F(SequencerTest, StopEndsSongFadeAndFlag) {
  seq_.begin();
  seq_.handle(midi_cmd::Play{true, song({at(0, {0x90, 60, 1})})});
  seq_.handle(midi_cmd::FadeOut{1000});
  rec_->take();
  seq_.handle(midi_cmd::Stop{});
  EXPECT_FALSE(seq_.busy());
  EXPECT_FALSE(flag_);
  EXPECT_EQ(rec_->take(), all_notes_off());
  EXPECT_EQ(seq_.sleep_time(), Sequencer::kIdleSleep);
}

// ---- The backend and its thread ----

Bytes two_notes() {
  SmfTrack t;
  t.event(0, {0x90, 60, 100})
      .event(48, {0x80, 60, 0})
      .event(0, {0x90, 64, 100})
      .event(48, {0x80, 64, 0})
      .end();
  return test::smf_file(0, 96, {t});
}

template <class Pred>
bool eventually(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return pred();
}

class MidiBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_bytes(dir_ / "song.mid", two_notes());
    SmfTrack meta;
    meta.tempo(0, 500000).end();
    test::write_bytes(dir_ / "meta.mid", test::smf_file(0, 96, {meta}));
    rec_->ports = {"Midi Through Port-0", "FLUID Synth (1234)", "Fluid again"};
    clock_->sleeps_advance = true;  // the thread runs through time at once
  }
  std::unique_ptr<MidiBackend> make(const std::string& port,
                                    std::optional<std::string> factory_error = std::nullopt) {
    return std::make_unique<MidiBackend>(
        dir_.path(), port, test::recording_factory(rec_, factory_error), clock_, &err_);
  }

  test::TempDir dir_;
  std::shared_ptr<test::RecordedMidi> rec_ = std::make_shared<test::RecordedMidi>();
  std::shared_ptr<test::ManualClock> clock_ = std::make_shared<test::ManualClock>();
  std::ostringstream err_;
};

TEST_F(MidiBackendTest, OpenFailuresPrintOneLineAndSilenceTheRun) {
  struct Case {
    std::string port;
    std::optional<std::string> factory_error;
    std::vector<std::string> ports;
    std::optional<std::string> connect_error;
    std::string reason;
  };
  const std::vector<std::string> some = {"Midi Through Port-0", "Synth"};
  const Case cases[] = {
      {"x", "no sequencer here", some, std::nullopt, "no sequencer here"},
      {"x", std::nullopt, {}, std::nullopt, "no MIDI output ports available"},
      {"fluid", std::nullopt, some, std::nullopt,
       "--midi-port=fluid matched no MIDI port (have: Midi Through Port-0, Synth)"},
      {"synth", std::nullopt, some, "port is busy", "port is busy"},
  };
  for (const Case& c : cases) {
    err_.str("");
    rec_->ports = c.ports;
    rec_->connect_error = c.connect_error;
    auto midi = make(c.port, c.factory_error);
    ASSERT_EQ(midi->load_file("song.mid"), 1);
    EXPECT_EQ(midi->open(10, -1), 1);
    EXPECT_EQ(midi->open(10, -1), 1);
    EXPECT_EQ(err_.str(), "midi: no OS MIDI output port (" + c.reason + "); music disabled\n");
    EXPECT_TRUE(midi->port_failed());
    EXPECT_EQ(midi->play(1, true), 1);
    EXPECT_EQ(midi->load_file("song.mid"), 0);
    midi->fade_out(1, 3);
    EXPECT_FALSE(midi->fade_out_active());
  }
}

TEST_F(MidiBackendTest, OpensTheFirstPortThatContainsTheNameInAnyCase) {
  const std::pair<std::string, std::size_t> cases[] = {{"fluid", 1}, {"", 0}, {"AGAIN", 2}};
  for (const auto& [port, index] : cases) {
    auto midi = make(port);
    EXPECT_EQ(midi->open(10, -1), 0);
    EXPECT_EQ(midi->open(10, -1), 0);
    EXPECT_TRUE(midi->port_open());
    EXPECT_EQ(rec_->client_name, "Zentropolium");
    ASSERT_TRUE(rec_->connected);
    EXPECT_EQ(rec_->connected->first, index) << port;
    EXPECT_EQ(rec_->connected->second, "Zentropolium");
  }
  EXPECT_EQ(err_.str(), "");
}

TEST_F(MidiBackendTest, PlaysOnTheThreadAndSilencesAllChannelsWhenDropped) {
  auto midi = make("fluid");
  EXPECT_EQ(midi->play(1, false), 1);  // nothing loaded
  EXPECT_EQ(midi->load_file("missing.mid"), 0);
  EXPECT_EQ(midi->load_file("meta.mid"), 0);
  const std::int32_t h = midi->load_file("song.mid");
  EXPECT_EQ(h, 1);
  EXPECT_EQ(midi->load_file("song.mid"), 2);
  EXPECT_EQ(midi->play(3, false), 1);
  ASSERT_EQ(midi->open(10, -1), 0);
  EXPECT_EQ(midi->play(h, false), 0);
  ASSERT_TRUE(eventually([&] { return rec_->snapshot().size() >= 16 + 32 + 4 + 32; }));
  midi.reset();  // Quit, join
  const std::vector<Bytes> sent = rec_->take();
  std::vector<Bytes> expected = volumes(100);
  for (const Bytes& b : all_notes_off()) expected.push_back(b);
  for (const Bytes& b :
       {Bytes{0x90, 60, 100}, Bytes{0x80, 60, 0}, Bytes{0x90, 64, 100}, Bytes{0x80, 64, 0}}) {
    expected.push_back(b);
  }
  for (int i = 0; i < 2; ++i) {  // the song's end, then the thread's last act
    for (const Bytes& b : all_notes_off()) expected.push_back(b);
  }
  EXPECT_EQ(sent, expected);
}

TEST_F(MidiBackendTest, TheFadeFlagIsSetAtOnceAndClearedWhenTheFadeEnds) {
  auto midi = make("fluid");
  const std::int32_t h = midi->load_file("song.mid");
  midi->fade_out(h, 1);  // not open yet: nothing
  EXPECT_FALSE(midi->fade_out_active());
  ASSERT_EQ(midi->open(10, -1), 0);
  midi->play(h, true);
  midi->fade_out(h, 1);
  EXPECT_TRUE(midi->fade_out_active());
  EXPECT_TRUE(eventually([&] { return !midi->fade_out_active(); }));
  // The fade's end stopped the song: the last messages silence every channel.
  EXPECT_TRUE(eventually([&] {
    const std::vector<Bytes> sent = rec_->snapshot();
    return sent.size() >= 32 && std::equal(sent.end() - 32, sent.end(), all_notes_off().begin());
  }));
  midi->fade_out(h, 0);  // a stop
  EXPECT_FALSE(midi->fade_out_active());
}

// Songs whose messages all fall at their start: the repeating sequencer would
// send them again every 0.2 ms. Refused at loading; the music goes off.
TEST_F(MidiBackendTest, SongsThatNeverAdvanceAreRefused) {
  std::vector<test::NamedSong> songs = test::never_advancing_songs();
  SmfTrack chord_then_rest;  // nothing but the end of track after tick 0
  chord_then_rest.event(0, {0x90, 60, 100}).event(0, {0x90, 64, 100}).end(1920);
  songs.push_back({"chord_then_rest", test::smf_file(0, 480, {chord_then_rest})});
  for (const test::NamedSong& song : songs) {
    SCOPED_TRACE(song.name);
    test::write_bytes(dir_ / "title.mid", song.bytes);
    auto midi = make("fluid");
    struct {
      MidiBackend& backend;
      HostFiles files;
      BgmBackend& bgm() { return backend; }
      KbgmSink& kbgm_sink() { return files; }
    } host{*midi, HostFiles(dir_.path())};
    TBgm bgm;
    bgm.set_on(true, host);
    ASSERT_TRUE(midi->port_open());
    bgm.load_song("title", host);
    EXPECT_TRUE(bgm.device_failed());
    EXPECT_FALSE(bgm.on());
  }
}

TEST_F(MidiBackendTest, ASongFileThatCannotBeReadIsRefusedWithOneLine) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe.mid").c_str(), 0666), 0);
  std::filesystem::create_symlink("/dev/zero", dir_ / "zero.mid");
  const test::Watchdog watchdog(60s, "loading odd songs");
  auto midi = make("fluid");
  ASSERT_EQ(midi->open(10, -1), 0);
  EXPECT_EQ(midi->load_file("pipe.mid"), 0);
  EXPECT_EQ(midi->load_file("zero.mid"), 0);
  EXPECT_EQ(err_.str(), "midi: could not read " + (dir_ / "pipe.mid").string() +
                            " (not a regular file)\nmidi: could not read " +
                            (dir_ / "zero.mid").string() + " (not a regular file)\n");
  EXPECT_EQ(midi->load_file("song.mid"), 1);
}

// This machine has no ALSA sequencer: the real library fails, one line says
// so, and music stays off.
TEST(MidiRealPort, MissingSequencerIsOneLineAndTheGameIsSilent) {
  if (std::filesystem::exists("/dev/snd/seq")) GTEST_SKIP() << "an ALSA sequencer is present";
  test::TempDir dir;
  std::ostringstream err;
  MidiBackend midi(dir.path(), "any", open_rtmidi_output, nullptr, &err);
  struct Host {
    MidiBackend& backend;
    FakeKbgmSink sink;
    BgmBackend& bgm() { return backend; }
    KbgmSink& kbgm_sink() { return sink; }
  } host{midi, {}};
  TBgm bgm;
  test::StderrCapture capture;
  bgm.set_on(true, host);
  const std::string printed = capture.text();
  EXPECT_EQ(printed, "");
  EXPECT_EQ(err.str(),
            "midi: no OS MIDI output port (MidiOutAlsa::initialize: error creating ALSA sequencer "
            "client object.); music disabled\n");
  EXPECT_TRUE(bgm.device_failed());
  EXPECT_FALSE(bgm.on());
}

}  // namespace
}  // namespace zt
