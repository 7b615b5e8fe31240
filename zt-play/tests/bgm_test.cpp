#include "bgm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "audio_fixtures.h"
#include "smf_builder.h"
#include "synth.h"

namespace zt {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kNoMusic =
    "midi: no music. Drop a .sf2 beside the game, or pass --soundfont=PATH or "
    "--midi-port=NAME\n";

TEST(ResolveSoundfont, RegularFilesAndLinksWithAnSf2ExtensionInAnyCase) {
  TempDir dir;
  for (const char* name : {"b.sf2", "A.SF2", "c.Sf2", "x.sf2.txt", ".sf2", "sf2", "plain"}) {
    test::write_bytes(dir / name, test::Bytes{1});
  }
  fs::create_directory(dir / "folder.sf2");
  ASSERT_EQ(::mkfifo((dir / "pipe.sf2").c_str(), 0666), 0);
  fs::create_symlink("/dev/zero", dir / "zero.sf2");
  fs::create_symlink(dir / "b.sf2", dir / "link.sf2");
  fs::create_symlink(dir / "nowhere", dir / "dead.sf2");

  std::vector<fs::path> found = resolve_soundfont(dir.path());
  std::vector<std::string> names;
  for (const fs::path& p : found) names.push_back(p.filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_THAT(names, ::testing::ElementsAre("A.SF2", "b.sf2", "c.Sf2", "link.sf2"));
  EXPECT_TRUE(resolve_soundfont(dir / "missing").empty());
}

class BgmCreateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audio_ = test::start_audio("dummy");
    ASSERT_TRUE(audio_);
    env_.err = &err_;
    env_.exe_dir = [this]() -> std::optional<fs::path> { return exe_dir_; };
    env_.midi_output = test::recording_factory(midi_);
  }
  std::unique_ptr<BgmBackend> create_with(const std::optional<fs::path>& soundfont,
                                          const std::optional<std::string>& port,
                                          bool with_audio = true) {
    return create(with_audio ? audio_ : std::nullopt, data_.path(), soundfont, port, env_);
  }
  void write_junk(const fs::path& p) { test::write_bytes(p, test::Bytes(3000, 0x5A)); }

  TempDir data_;
  TempDir beside_;
  std::optional<fs::path> exe_dir_;
  std::optional<AudioSubsystem> audio_;
  std::ostringstream err_;
  std::shared_ptr<test::RecordedMidi> midi_ = std::make_shared<test::RecordedMidi>();
  BgmEnvironment env_;
};

TEST_F(BgmCreateTest, SoundfontOptionIsUsedAndWinsOverTheMidiPort) {
  auto backend = create_with(fs::path(ZT_TEST_SOUNDFONT), "anything");
  EXPECT_EQ(err_.str(), std::string("midi: using soundfont ") + ZT_TEST_SOUNDFONT + "\n");
  EXPECT_NE(dynamic_cast<SynthBackend*>(backend.get()), nullptr);
  EXPECT_EQ(midi_->clients_made, 0);
}

TEST_F(BgmCreateTest, AFailingSoundfontGivesSilenceWithoutTryingThePort) {
  const fs::path junk = beside_ / "junk.sf2";
  write_junk(junk);
  const fs::path missing = beside_ / "missing.sf2";
  struct Case {
    fs::path soundfont;
    bool with_audio;
    std::string error;
  };
  const Case cases[] = {
      {junk, true, junk.string() + ": Not a RIFF file"},
      {missing, true, missing.string() + ": No such file or directory"},
      {fs::path(ZT_TEST_SOUNDFONT), false, "no audio subsystem"},
  };
  for (const Case& c : cases) {
    err_.str("");
    auto backend = create_with(c.soundfont, "port", c.with_audio);
    EXPECT_EQ(err_.str(), "midi: could not load " + c.soundfont.string() + " (" + c.error + ")\n");
    EXPECT_NE(dynamic_cast<SilentBackend*>(backend.get()), nullptr);
  }
  EXPECT_EQ(midi_->clients_made, 0);
}

TEST_F(BgmCreateTest, MidiPortOptionMakesAClosedMidiBackend) {
  exe_dir_ = fs::path(ZT_TEST_SOUNDFONT).parent_path();  // not looked at
  auto backend = create_with(std::nullopt, "fluid");
  EXPECT_EQ(err_.str(), "");
  auto* midi = dynamic_cast<MidiBackend*>(backend.get());
  ASSERT_NE(midi, nullptr);
  EXPECT_FALSE(midi->port_open());
  EXPECT_EQ(midi_->clients_made, 0);  // TBgm opens it
  midi_->ports = {"Synth input"};
  EXPECT_EQ(backend->open(10, -1), 1);
  EXPECT_EQ(err_.str(),
            "midi: no OS MIDI output port (--midi-port=fluid matched no MIDI port (have: Synth "
            "input)); music disabled\n");
}

TEST_F(BgmCreateTest, TheFirstSoundfontBesideTheExecutableInByteOrder) {
  fs::create_symlink(ZT_TEST_SOUNDFONT, beside_ / "Tim.sf2");
  write_junk(beside_ / "tim.SF2");  // lower case sorts after upper case
  write_junk(beside_ / "zz.sf2");
  fs::create_directory(beside_ / "A.sf2");  // a directory is no candidate
  exe_dir_ = beside_.path();
  auto backend = create_with(std::nullopt, std::nullopt);
  EXPECT_EQ(err_.str(), "midi: using soundfont " + (beside_ / "Tim.sf2").string() + "\n");
  EXPECT_NE(dynamic_cast<SynthBackend*>(backend.get()), nullptr);

  // Only the first is tried: when it fails, the game is silent.
  fs::remove(beside_ / "Tim.sf2");
  err_.str("");
  backend = create_with(std::nullopt, std::nullopt);
  const fs::path taken = beside_ / "tim.SF2";
  EXPECT_EQ(err_.str(), "midi: could not load " + taken.string() + " (" + taken.string() +
                            ": Not a RIFF file)\n");
  EXPECT_NE(dynamic_cast<SilentBackend*>(backend.get()), nullptr);
}

TEST_F(BgmCreateTest, NoCandidateMeansNoMusic) {
  fs::create_directory(beside_ / "A.sf2");
  test::write_bytes(beside_ / "song.mid", test::Bytes{1});
  const std::optional<fs::path> dirs[] = {std::nullopt, beside_.path(), beside_ / "missing"};
  for (const auto& dir : dirs) {
    exe_dir_ = dir;
    err_.str("");
    auto backend = create_with(std::nullopt, std::nullopt);
    EXPECT_EQ(err_.str(), kNoMusic);
    EXPECT_NE(dynamic_cast<SilentBackend*>(backend.get()), nullptr);
    EXPECT_EQ(backend->load_file("title.mid"), 0);
    EXPECT_EQ(backend->open(10, -1), 0);
    EXPECT_FALSE(backend->fade_out_active());
  }
}

TEST(BgmCreateDevice, NoAudioOutputDeviceIsNamedInTheLine) {
  TempDir dir;
  const std::string bad = (dir / "missing" / "out.raw").string();
  auto audio = test::start_audio("disk", bad.c_str());
  ASSERT_TRUE(audio);
  std::ostringstream err;
  BgmEnvironment env;
  env.err = &err;
  auto backend = create(audio, dir.path(), fs::path(ZT_TEST_SOUNDFONT), std::nullopt, env);
  const std::string text = err.str();
  EXPECT_THAT(text, ::testing::StartsWith(std::string("midi: could not load ") + ZT_TEST_SOUNDFONT +
                                          " (no audio output device: "));
  EXPECT_THAT(text, ::testing::EndsWith(")\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  EXPECT_NE(dynamic_cast<SilentBackend*>(backend.get()), nullptr);
}

TEST(StreamSink, CountsQueuedFramesAndPlaysThem) {
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  audio->hold_output(true);
  auto device = std::get<AudioDevice>(AudioDevice::open_playback(*audio, kMixSpec));
  auto stream = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  ASSERT_TRUE(stream.bind(device));
  StreamSink sink(std::move(device), std::move(stream));
  const std::vector<float> block(1024, 0.125f);
  sink.push(block);
  EXPECT_EQ(sink.queued_frames(), 512u);
  EXPECT_FLOAT_EQ(audio->render(12)[0], 0.125f);
  EXPECT_EQ(sink.queued_frames(), 500u);
}

// The real synthesizer on SDL audio, rendered by hand through the layer.
TEST(OpenSynth, PlaysThroughTheSdlStream) {
  TempDir dir;
  test::SmfTrack t;
  t.event(0, {0x90, 60, 120}).event(960, {0x80, 60, 0}).end();
  test::write_bytes(dir / "title.mid", test::smf_file(0, 480, {t}));
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  audio->hold_output(true);
  auto opened = open_synth(audio, dir.path(), ZT_TEST_SOUNDFONT);
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<SynthBackend>>(opened));
  auto& synth = *std::get<std::unique_ptr<SynthBackend>>(opened);
  ASSERT_EQ(synth.play(synth.load_file("title.mid"), false), 0);
  synth.pump();
  const std::vector<float> out = audio->render(11025);
  EXPECT_GT(test::rms(out, 0, 11025), 0.003);
}

}  // namespace
}  // namespace zt
