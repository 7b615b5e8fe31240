#include "audio.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "audio_fixtures.h"
#include "files.h"

namespace zt {
namespace {

using test::Bytes;
using test::constant_wav;
using test::qda_file;
using test::TempDir;

constexpr const char* kEffects[] = {"gravitychange", "explosion1", "bound",   "select",
                                    "cutwarn",       "destroy0",   "destroy1"};

// A "sounds.qda" with the game's seven effects, each a second of silence-free
// signal, so that no voice finishes while a test looks at it.
Bytes seven_effects() {
  std::vector<std::pair<std::string, Bytes>> members;
  for (const char* name : kEffects) {
    members.emplace_back(std::string(name) + ".wav", constant_wav(8192, 22050, 22050));
  }
  return qda_file(members);
}

// ---- The layer ----

TEST(AudioLayer, MixesBoundStreamsWithTheirGainAndClamps) {
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  audio->hold_output(true);
  auto device = std::get<AudioDevice>(AudioDevice::open_playback(*audio, kMixSpec));
  auto a = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  auto b = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  ASSERT_TRUE(a.bind(device));
  ASSERT_TRUE(b.bind(device));
  const std::vector<float> half(200, 0.5f);
  const std::vector<float> most(100, 0.75f);
  ASSERT_TRUE(a.put(std::span<const float>(half)));
  ASSERT_TRUE(b.put(std::span<const float>(most)));
  EXPECT_EQ(a.queued(), 800);

  // 0.5 + 0.75 clamps to 1; with b at gain 0.2 the sum is 0.65; then a alone.
  std::vector<float> out = audio->render(10);
  EXPECT_FLOAT_EQ(out[0], 1.0f);
  b.set_gain(0.2f);
  out = audio->render(40);
  EXPECT_FLOAT_EQ(out[0], 0.65f);
  EXPECT_EQ(b.queued(), 0);
  out = audio->render(50);
  EXPECT_FLOAT_EQ(out[0], 0.5f);
  EXPECT_EQ(a.queued(), 0);
  out = audio->render(1);
  EXPECT_FLOAT_EQ(out[0], 0.0f);
}

TEST(AudioLayer, UnboundDestroyedAndClosedStreamsAreNotPlayed) {
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  audio->hold_output(true);
  auto device = std::get<AudioDevice>(AudioDevice::open_playback(*audio, kMixSpec));
  const std::vector<float> samples(20, 0.25f);

  auto unbound = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  unbound.put(std::span<const float>(samples));
  EXPECT_FALSE(unbound.resume_device());
  EXPECT_FLOAT_EQ(audio->render(1)[0], 0.0f);

  {
    auto gone = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
    gone.bind(device);
    gone.put(std::span<const float>(samples));
  }
  EXPECT_FLOAT_EQ(audio->render(1)[0], 0.0f);

  auto second = std::get<AudioDevice>(AudioDevice::open_playback(*audio, kMixSpec));
  auto on_second = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  on_second.bind(second);
  on_second.put(std::span<const float>(samples));
  { AudioDevice closing = std::move(second); }
  EXPECT_FLOAT_EQ(audio->render(1)[0], 0.0f);
  EXPECT_EQ(on_second.queued(), 80);  // still holds what it was given
}

TEST(AudioLayer, StreamsShareOneBufferAndEachPlaysItFromItsOwnPlace) {
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  audio->hold_output(true);
  auto device = std::get<AudioDevice>(AudioDevice::open_playback(*audio, kMixSpec));
  std::vector<float> ramp(40);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = 0.01f * static_cast<float>(i);
  const SharedSamples clip = std::make_shared<const std::vector<float>>(ramp);

  auto first = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  ASSERT_TRUE(first.put_shared(clip));
  ASSERT_TRUE(first.bind(device));
  EXPECT_EQ(first.queued(), 160);
  audio->render(10);  // 20 samples in
  auto second = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  ASSERT_TRUE(second.bind(device));
  ASSERT_TRUE(second.put_shared(clip));  // bound already: taken under the lock
  EXPECT_EQ(clip.use_count(), 3) << "the streams hold the buffer, not copies of it";
  EXPECT_EQ(first.queued(), 80);
  EXPECT_EQ(second.queued(), 160);

  // Sample 20 of the first plus sample 0 of the second, and so on.
  std::vector<float> out = audio->render(10);
  EXPECT_FLOAT_EQ(out[0], 0.20f);
  EXPECT_FLOAT_EQ(out[19], 0.39f + 0.19f);
  EXPECT_EQ(first.queued(), 0);
  // What is put after the shared buffer plays after it.
  const std::vector<float> tail(4, 0.5f);
  ASSERT_TRUE(second.put(std::span<const float>(tail)));
  EXPECT_EQ(second.queued(), 20 * 4 + 16);
  out = audio->render(13);
  EXPECT_FLOAT_EQ(out[19], 0.39f);
  EXPECT_FLOAT_EQ(out[20], 0.5f);
  EXPECT_FLOAT_EQ(out[24], 0.0f);
  // The buffer itself is never written.
  EXPECT_EQ(*clip, ramp);

  // A shared buffer goes only into a stream that holds nothing yet.
  EXPECT_FALSE(second.put_shared(clip));
  auto filled = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  ASSERT_TRUE(filled.put(std::span<const float>(tail)));
  EXPECT_FALSE(filled.put_shared(clip));
}

TEST(AudioLayer, OnlyMixFormatStreamsAreMade) {
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  EXPECT_TRUE(std::holds_alternative<std::string>(
      AudioStream::create(*audio, AudioSpec{AUDIO_S16LSB, 1, 22050})));
}

TEST(AudioLayer, ConversionKeepsTheWholeClip) {
  // 22050 Hz mono to 44100 Hz stereo: twice the frames, both channels, the
  // same level, and no frame lost at the end.
  const std::vector<std::int16_t> clip(2205, 16384);
  const std::vector<std::uint8_t> bytes(
      reinterpret_cast<const std::uint8_t*>(clip.data()),
      reinterpret_cast<const std::uint8_t*>(clip.data()) + clip.size() * 2);
  auto converted = convert_to_mix(AudioSpec{AUDIO_S16SYS, 1, 22050}, bytes);
  ASSERT_TRUE(converted);
  ASSERT_EQ(converted->size(), 2205u * 2 * 2 * sizeof(float));
  std::vector<float> f(converted->size() / sizeof(float));
  std::memcpy(f.data(), converted->data(), converted->size());
  EXPECT_NEAR(f[1000], 0.5f, 1e-3);
  EXPECT_NEAR(f[1001], 0.5f, 1e-3);
  EXPECT_NEAR(f[f.size() / 2], 0.5f, 2e-3);
}

// The disk driver writes what the device plays, in real time.
TEST(AudioLayer, DiskDriverPlaysAnEffectAtItsLevel) {
  TempDir dir;
  const std::string out = (dir / "out.raw").string();
  test::write_bytes(dir / "sounds.qda",
                    qda_file({{"bound.wav", constant_wav(16384, 2205, 22050)}}));  // 0.1 s
  {
    auto audio = test::start_audio("disk", out.c_str());
    ASSERT_TRUE(audio);
    std::ostringstream err;
    SfxBackend sfx(audio, dir.path(), err);
    EXPECT_EQ(err.str(), "");
    sfx.play("bound", 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  auto bytes = read_file(out, std::uint64_t{1} << 24);
  ASSERT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(bytes));
  const auto& raw = std::get<std::vector<std::uint8_t>>(bytes);
  std::vector<float> samples(raw.size() / sizeof(float));
  std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
  std::size_t loud = 0;
  double level = 0;
  for (float s : samples) {
    if (std::fabs(s) > 0.25f) {
      ++loud;
      level += std::fabs(s);
    }
  }
  ASSERT_GT(loud, 0u);
  EXPECT_NEAR(level / static_cast<double>(loud), 0.5, 0.005);
  // Every frame of the clip on both channels, but for the resampler's soft edges.
  EXPECT_GE(loud, 4408u * 2);
  EXPECT_LE(loud, 4410u * 2);
}

// What is queued when the program ends is heard before the device closes,
// but the wait has a bound: an effect longer than it is cut there.
TEST(AudioLayer, DrainPlaysWhatIsQueuedWithinItsBound) {
  using std::chrono::milliseconds;
  TempDir dir;
  const std::string out = (dir / "out.raw").string();
  const std::vector<float> tenth(4410 * 2, 0.5f);
  const std::vector<float> half_minute(44100 * 2 * 30, 0.25f);
  {
    auto audio = test::start_audio("disk", out.c_str());
    ASSERT_TRUE(audio);
    auto device = std::get<AudioDevice>(AudioDevice::open_playback(*audio, kMixSpec));
    auto queued = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
    ASSERT_TRUE(queued.put(std::span<const float>(tenth)));
    ASSERT_TRUE(queued.bind(device));
    ASSERT_TRUE(queued.resume_device());
    audio->drain(std::chrono::seconds(30));
    EXPECT_EQ(queued.queued(), 0);

    auto long_one = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
    ASSERT_TRUE(long_one.put(std::span<const float>(half_minute)));
    ASSERT_TRUE(long_one.bind(device));
    const auto start = std::chrono::steady_clock::now();
    audio->drain(milliseconds(100));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(100));
    EXPECT_LT(waited, milliseconds(10000));  // a watchdog, not a figure
    EXPECT_GT(long_one.queued(), 0);
  }
  auto bytes = read_file(out, std::uint64_t{1} << 26);
  ASSERT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(bytes));
  const auto& raw = std::get<std::vector<std::uint8_t>>(bytes);
  std::vector<float> samples(raw.size() / sizeof(float));
  std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
  // Every sample of the first stream reached the output before it closed.
  EXPECT_EQ(std::count(samples.begin(), samples.end(), 0.5f), 4410 * 2);
}

// The dummy driver calls back in real time; each call takes one period from
// a bound stream, so the smallest step by which the stream's queue falls is
// that period.
TEST(AudioLayer, TheDeviceMixesInPeriodsOfAtMost12Ms) {
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  auto device = std::get<AudioDevice>(AudioDevice::open_playback(*audio, kMixSpec));
  auto stream = std::get<AudioStream>(AudioStream::create(*audio, kMixSpec));
  const std::vector<float> minute(44100 * 2 * 60, 0.0f);
  ASSERT_TRUE(stream.put(std::span<const float>(minute)));
  ASSERT_TRUE(stream.bind(device));
  ASSERT_TRUE(stream.resume_device());
  std::int32_t last = stream.queued();
  std::int32_t step = INT32_MAX;
  int steps = 0;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (steps < 12 && std::chrono::steady_clock::now() < give_up) {
    const std::int32_t q = stream.queued();
    if (q < last) {
      step = std::min(step, last - q);
      ++steps;
      last = q;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_EQ(steps, 12);
  const auto frames = static_cast<std::uint32_t>(step) / kMixFrameBytes;
  EXPECT_LE(frames, 44100u * 12 / 1000);
  EXPECT_EQ(frames & (frames - 1), 0u) << frames << " is not a power of two";
}

// ---- Sound effects ----

class SfxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audio_ = test::start_audio("dummy");
    ASSERT_TRUE(audio_);
    audio_->hold_output(true);  // voices play only when the test renders
  }
  std::unique_ptr<SfxBackend> make(const Bytes& archive) {
    test::write_bytes(dir_ / "sounds.qda", archive);
    return std::make_unique<SfxBackend>(audio_, dir_.path(), err_);
  }
  std::vector<std::int32_t> priorities(const SfxBackend& sfx) {
    std::vector<std::int32_t> out;
    for (const Slot& s : sfx.slots()) out.push_back(s.stream ? s.priority : -1);
    return out;
  }

  TempDir dir_;
  std::optional<AudioSubsystem> audio_;
  std::ostringstream err_;
};

TEST_F(SfxTest, LoadsTheWavMembersUnderLowerCaseKeys) {
  auto sfx = make(qda_file({
      {"BOUND.WAV", constant_wav(100, 10)},
      {"Select.wav", constant_wav(100, 10)},
      {"readme.txt", constant_wav(100, 10)},  // not a .wav name
      {"", constant_wav(100, 10)},
      {".wav", constant_wav(100, 10)},
      {"broken.wav", Bytes{'R', 'I', 'F', 'F', 1, 2, 3}},
      {"select.WAV", constant_wav(200, 20)},  // found by name: the first select.wav
  }));
  EXPECT_EQ(err_.str(), "");
  std::vector<std::string> keys;
  for (const auto& [k, clip] : sfx->clips()) keys.push_back(k);
  EXPECT_THAT(keys, ::testing::ElementsAre(".wav", "bound.wav", "select.wav"));
  // Converted once: 10 mono frames at 44100 Hz are 10 stereo float frames.
  EXPECT_EQ(sfx->clips().at("bound.wav").samples->size() * sizeof(float), 10u * kMixFrameBytes);
  EXPECT_EQ(sfx->clips().at("bound.wav").spec, kMixSpec);
  EXPECT_EQ(sfx->clips().at("select.wav").samples->size() * sizeof(float), 10u * kMixFrameBytes);
}

TEST_F(SfxTest, TheSevenEffectsLoadAndPlayByName) {
  auto sfx = make(seven_effects());
  EXPECT_EQ(sfx->clips().size(), 7u);
  struct Case {
    const char* name;
    bool plays;
  };
  const Case cases[] = {{"Bound", true},    {"select.WAV", true}, {"bound.ogg", false},
                        {"missing", false}, {"DESTROY1", true},   {"select.", false}};
  for (const Case& c : cases) {
    auto fresh = make(seven_effects());
    fresh->play(c.name, 5);
    EXPECT_EQ(fresh->slots()[0].stream.has_value(), c.plays) << c.name;
  }
}

TEST_F(SfxTest, PlayedEffectSoundsAtItsLevel) {
  auto sfx = make(qda_file({{"bound.wav", constant_wav(8192, 100, 22050)},
                            {"select.wav", constant_wav(4096, 100, 22050)}}));
  sfx->play("bound", 5);
  sfx->play("select", 5);  // a second voice, mixed with the first
  const std::vector<float> out = audio_->render(300);
  // 200 frames at 44100 Hz (the resampler softens the first and last frame),
  // then silence.
  EXPECT_NEAR(out[20], 0.375f, 1e-3);
  EXPECT_NEAR(out[397], 0.375f, 1e-3);
  EXPECT_FLOAT_EQ(out[402], 0.0f);
}

TEST_F(SfxTest, EveryPlayReadsTheClipConvertedAtLoad) {
  auto sfx = make(
      qda_file({{"bound.wav", constant_wav(8192, 50)}, {"select.wav", constant_wav(8192, 50)}}));
  const SharedSamples& bound = sfx->clips().at("bound.wav").samples;
  const std::vector<float> before = *bound;
  for (int i = 0; i < 3; ++i) sfx->play("bound", 5);
  EXPECT_EQ(bound.use_count(), 4) << "three voices and the clip itself";
  std::vector<float> out = audio_->render(60);
  EXPECT_NEAR(out[10], std::min(3 * 0.25f, 1.0f), 1e-3);
  EXPECT_EQ(*bound, before);
  sfx->play("select", 5);  // releases the finished voices
  EXPECT_EQ(bound.use_count(), 1);
}

TEST_F(SfxTest, ANinthEffectTakesTheFirstVoiceOfLowestPriority) {
  auto sfx = make(seven_effects());
  const std::int32_t first_eight[] = {5, 3, 7, 3, 9, 4, 6, 8};
  for (std::int32_t p : first_eight) sfx->play("bound", p);
  EXPECT_THAT(priorities(*sfx), ::testing::ElementsAre(5, 3, 7, 3, 9, 4, 6, 8));
  sfx->play("select", 1);  // lower than every voice, and still it plays
  EXPECT_THAT(priorities(*sfx), ::testing::ElementsAre(5, 1, 7, 3, 9, 4, 6, 8));
  sfx->play("cutwarn", 9);
  EXPECT_THAT(priorities(*sfx), ::testing::ElementsAre(5, 9, 7, 3, 9, 4, 6, 8));
  sfx->play("cutwarn", 9);
  EXPECT_THAT(priorities(*sfx), ::testing::ElementsAre(5, 9, 7, 9, 9, 4, 6, 8));
}

TEST_F(SfxTest, FinishedVoicesAreReleasedAtTheNextStart) {
  auto sfx = make(
      qda_file({{"bound.wav", constant_wav(8192, 50)}, {"select.wav", constant_wav(8192, 44100)}}));
  sfx->play("select", 3);  // long
  sfx->play("bound", 9);   // short
  sfx->play("bound", 9);
  EXPECT_THAT(priorities(*sfx), ::testing::ElementsAre(3, 9, 9, -1, -1, -1, -1, -1));
  audio_->render(100);  // the short ones finish
  sfx->play("bound", 4);
  EXPECT_THAT(priorities(*sfx), ::testing::ElementsAre(3, 4, -1, -1, -1, -1, -1, -1));
}

TEST_F(SfxTest, WithPlaySeOffNothingPlaysAndNothingIsReleased) {
  auto sfx = make(qda_file({{"bound.wav", constant_wav(8192, 50)}}));
  sfx->play("bound", 5);
  audio_->render(100);  // finished, not yet released
  sfx->set_enabled(false);
  sfx->play("bound", 7);
  EXPECT_TRUE(sfx->slots()[0].stream.has_value());
  EXPECT_EQ(sfx->slots()[0].priority, 5);
  EXPECT_FALSE(sfx->slots()[1].stream.has_value());
  EXPECT_FLOAT_EQ(audio_->render(1)[0], 0.0f);
  sfx->set_enabled(true);
  sfx->play("bound", 7);
  EXPECT_EQ(sfx->slots()[0].priority, 7);
}

TEST_F(SfxTest, ReportsEachFailureOnceAndStaysSilent) {
  // No archive.
  {
    std::ostringstream err;
    SfxBackend sfx(audio_, dir_.path(), err);
    EXPECT_EQ(err.str(), "sfx: could not read " + (dir_ / "sounds.qda").string() +
                             " (No such file or directory)\n");
    sfx.play("bound", 5);
    EXPECT_FALSE(sfx.slots()[0].stream);
  }
  // Every WAV member damaged.
  {
    test::write_bytes(dir_ / "sounds.qda",
                      qda_file({{"bound.wav", Bytes{1, 2, 3}}, {"select.wav", Bytes(64, 0)}}));
    std::ostringstream err;
    SfxBackend sfx(audio_, dir_.path(), err);
    EXPECT_EQ(err.str(), "sfx: no .wav files in " + (dir_ / "sounds.qda").string() + "\n");
  }
  // No audio subsystem: the clips load, nothing is reported, nothing plays.
  {
    test::write_bytes(dir_ / "sounds.qda", seven_effects());
    std::ostringstream err;
    SfxBackend sfx(std::nullopt, dir_.path(), err);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(sfx.clips().size(), 7u);
    EXPECT_FALSE(sfx.has_device());
    sfx.play("bound", 5);
    EXPECT_FALSE(sfx.slots()[0].stream);
  }
}

TEST(SfxDevice, NoOutputDeviceIsReportedAndTheGameGoesOn) {
  TempDir dir;
  test::write_bytes(dir / "sounds.qda", seven_effects());
  // The disk driver cannot open its file in a directory that does not exist.
  const std::string bad = (dir / "missing" / "out.raw").string();
  auto audio = test::start_audio("disk", bad.c_str());
  ASSERT_TRUE(audio);
  std::ostringstream err;
  SfxBackend sfx(audio, dir.path(), err);
  const std::string text = err.str();
  EXPECT_THAT(text, ::testing::StartsWith("sfx: no audio output device ("));
  EXPECT_THAT(text, ::testing::EndsWith(")\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  EXPECT_FALSE(sfx.has_device());
  sfx.play("bound", 5);
  EXPECT_FALSE(sfx.slots()[0].stream);
}

}  // namespace
}  // namespace zt

namespace zt {
namespace {

// The data generator's "sounds.qda" gives the mixer all seven effects.
TEST(SfxGeneratedData, SevenClipsLoadFromTheGeneratedArchive) {
  const std::filesystem::path data = ZT_GENERATED_DATA_DIR;
  if (!std::filesystem::exists(data / "sounds.qda")) GTEST_SKIP() << "no generated data";
  auto audio = test::start_audio("dummy");
  ASSERT_TRUE(audio);
  std::ostringstream err;
  SfxBackend sfx(audio, data, err);
  EXPECT_EQ(err.str(), "");
  std::vector<std::string> names;
  for (const auto& [name, clip] : sfx.clips()) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"bound.wav", "cutwarn.wav", "destroy0.wav", "destroy1.wav",
                                      "explosion1.wav", "gravitychange.wav", "select.wav"}));
}

}  // namespace
}  // namespace zt
