// How loud the generated data plays, through the real mixer and synthesizer:
// the effects as the game starts them and the music under them stay below
// full scale together, and the title music can be heard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "audio.h"
#include "audio_fixtures.h"
#include "base_host.h"
#include "bitmap_library.h"
#include "files.h"
#include "formats/config.h"
#include "game/start_game.h"
#include "game/ugame.h"
#include "memory_host.h"
#include "synth.h"

namespace zt {
namespace {

namespace fs = std::filesystem;

// Every voice is mixed at full gain and the mix is clamped at full scale:
// the effects' peaks and the music's together stay below it.
constexpr float kEffectsPeakMax = 0.59f;  // -4.6 dBFS
constexpr float kMusicPeakMax = 0.40f;    // -8.0 dBFS
static_assert(kEffectsPeakMax + kMusicPeakMax < 1.0f);

float peak(const std::vector<float>& samples) {
  float p = 0;
  for (const float s : samples) p = std::max(p, std::abs(s));
  return p;
}

class GeneratedLevels : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(data_ / "sounds.qda")) GTEST_SKIP() << "no generated data at " << data_;
  }
  std::unique_ptr<SfxBackend> effects() {
    audio_ = test::start_audio("dummy");
    EXPECT_TRUE(audio_);
    audio_->hold_output(true);  // the test renders the mix itself
    std::ostringstream err;
    auto sfx = std::make_unique<SfxBackend>(audio_, data_, err);
    EXPECT_EQ(err.str(), "");
    return sfx;
  }

  const fs::path data_ = ZT_GENERATED_DATA_DIR;
  std::optional<AudioSubsystem> audio_;
};

// A perfect hit is one at full stretch: its sound comes with the stretch
// warning in the frame the string first stretches too far, and a bounce off
// a wall may come with any hit.
TEST_F(GeneratedLevels, EffectsStartedInOneFrameStayWithinTheirShare) {
  auto sfx = effects();
  const std::vector<std::vector<const char*>> together = {
      {"explosion1", "cutwarn"},
      {"explosion1", "cutwarn", "bound"},
      {"destroy1", "bound"},
      {"destroy0", "bound"},
  };
  for (const auto& names : together) {
    std::string what;
    for (const char* name : names) {
      sfx->play(name, 4);
      what += std::string(what.empty() ? "" : " + ") + name;
    }
    const std::vector<float> mix = audio_->render(44100);
    EXPECT_GT(peak(mix), 0.1f) << what;
    EXPECT_LE(peak(mix), kEffectsPeakMax) << what;
  }
}

// The title's demonstration, replayed headless, starts its effects frame by
// frame on the mixer's eight voices, 25 ms apart.
TEST_F(GeneratedLevels, TheDemonstrationsEffectsStayWithinTheirShare) {
  auto recording = read_file(data_ / "Rec" / "Rec0.dat", std::uint64_t{1} << 26);
  auto* bytes = std::get_if<std::vector<std::uint8_t>>(&recording);
  if (bytes == nullptr) GTEST_SKIP() << "no demonstration in the generated data";
  std::optional<BitmapLibrary> library = load_bitmap_library(data_);
  ASSERT_TRUE(library);
  MemoryHost host(std::move(*library));
  host.keep_pixels = false;
  host.files.files[0] = *bytes;
  TGame game = start_game(load_config(""), std::nullopt, host).game;
  game.start_play(TGame::kModeReplay, 0, true, host);
  game.set_state(kStateIntro, host);

  auto sfx = effects();
  std::vector<float> mix;
  std::size_t played = 0;
  for (int frame = 0; frame < 4000 && game.state() != kStateTitle; ++frame) {
    ASSERT_FALSE(game.step_frame(host).has_value());
    for (const MemoryHost::Sound& s : host.sounds) sfx->play(s.name, s.priority);
    played += host.sounds.size();
    host.sounds.clear();
    const std::vector<float> step = audio_->render(frame % 2 == 0 ? 1102 : 1103);
    mix.insert(mix.end(), step.begin(), step.end());
  }
  ASSERT_EQ(game.state(), kStateTitle) << "the demonstration did not end";
  EXPECT_GT(played, 20u);
  EXPECT_LE(peak(mix), kEffectsPeakMax);
}

// The songs at full volume over their first pass, each on a synthesizer of
// its own: how loud a song's peaks come out also depends on what played
// before it (the reverb it leaves and the voices it took), and how much of
// the previous song a pump renders depends on the processor time it gets.
TEST_F(GeneratedLevels, TheMusicIsHeardAndLeavesTheEffectsTheirShare) {
  struct Song {
    const char* file;
    double seconds;
  };
  for (const Song song : {Song{"title.mid", 40.0}, Song{"stage.mid", 54.8}}) {
    SCOPED_TRACE(song.file);
    auto owned = std::make_unique<test::FakeSink>();
    test::FakeSink& sink = *owned;
    sink.unlimited = true;
    auto made = SynthBackend::create(data_, ZT_TEST_SOUNDFONT, std::move(owned));
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<SynthBackend>>(made));
    SynthBackend& synth = *std::get<std::unique_ptr<SynthBackend>>(made);
    ASSERT_EQ(synth.play(synth.load_file(song.file), true), 0);
    const auto frames = static_cast<std::size_t>(song.seconds * 44100);
    while (sink.pushed.size() < 2 * frames) synth.pump();
    sink.pushed.resize(2 * frames);
    EXPECT_LE(peak(sink.pushed), kMusicPeakMax);
    if (song.file[0] == 't') {
      const double rms_db = 20 * std::log10(test::rms(sink.pushed, 0, frames));
      EXPECT_GE(rms_db, -24.0);
      EXPECT_LE(rms_db, -16.0);
    }
  }
}

}  // namespace
}  // namespace zt
