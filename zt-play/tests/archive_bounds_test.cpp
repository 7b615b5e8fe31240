// What decoding the archives may cost: clips refused for their rate, length
// or conversion before anything is converted, members of "sounds.qda" named
// when refused, and the real program on small archives that expand, with its
// peak memory measured.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "audio.h"
#include "audio_fixtures.h"
#include "files.h"
#include "formats/decode_bounds.h"
#include "game/glue.h"
#include "hostile_qda.h"
#include "program_run.h"

namespace zt {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// A WAV member of `data_bytes` bytes of `fill` after its headers, packed into
// a few hundred bytes however long it is.
test::PackedMember packed_wav(const std::string& name, std::uint32_t rate, std::uint16_t bits,
                              std::uint16_t channels, std::uint32_t data_bytes,
                              std::uint8_t fill = 0x80) {
  const Bytes head = test::wav_headers(rate, bits, channels, data_bytes);
  return {name, test::bpe_run(head, fill, data_bytes),
          static_cast<std::uint32_t>(head.size() + data_bytes)};
}

// "sounds.qda" as the issue found it: three members that decode to 60 MB
// clips, one at 1000 Hz that would be resampled to hours of sound, and
// beside them a short clip at 1000 Hz, which plays.
Bytes hostile_sounds() {
  return test::packed_qda({
      packed_wav("gravitychange.wav", 44100, 16, 2, 60'000'000, 0),
      packed_wav("explosion1.wav", 44100, 16, 2, 60'000'000, 0),
      packed_wav("bound.wav", 44100, 16, 2, 60'000'000, 0),
      packed_wav("cutwarn.wav", 1000, 8, 1, 10'000'000),
      packed_wav("select.wav", 1000, 8, 1, 1000, 0xC0),
  });
}

// ---- Clips ----

TEST(ClipBounds, RefusedForRateOrLengthBeforeConverting) {
  const std::string rate_range = " Hz is outside 1000 to 192000 Hz";
  struct Case {
    const char* what;
    AudioSpec spec;
    std::size_t bytes;
    std::optional<std::string> refusal;
  } cases[] = {
      {"the game's clips", {AUDIO_S16LSB, 1, 22050}, 40000, std::nullopt},
      {"30 s", {AUDIO_S16LSB, 1, 22050}, 30 * 22050 * 2, std::nullopt},
      {"one frame more", {AUDIO_S16LSB, 1, 22050}, 30 * 22050 * 2 + 2, "lasts more than 30 s"},
      {"a torn last frame does not count",
       {AUDIO_S16LSB, 1, 22050},
       30 * 22050 * 2 + 1,
       std::nullopt},
      {"30 s at the lowest rate", {AUDIO_U8, 1, 1000}, 30 * 1000, std::nullopt},
      {"below the lowest rate", {AUDIO_U8, 1, 999}, 100, "999" + rate_range},
      {"above the highest rate", {AUDIO_S16LSB, 2, 192001}, 100, "192001" + rate_range},
      {"no rate", {AUDIO_S16LSB, 2, 0}, 100, "0" + rate_range},
      {"stereo at 96 kHz, 28 s", {AUDIO_S16LSB, 2, 96000}, 28 * 96000 * 4, std::nullopt},
      // However much room SDL would take to convert it in one go.
      {"8-bit at 192 kHz, 30 s", {AUDIO_U8, 1, 192000}, 30 * 192000, std::nullopt},
      {"float, 8 channels at 192 kHz, 30 s",
       {AUDIO_F32LSB, 8, 192000},
       std::size_t{30} * 192000 * 32,
       std::nullopt},
      {"the mix format itself, 30 s", kMixSpec, kClipMaxBytes, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(clip_refusal(c.spec, c.bytes), c.refusal) << c.what;
  }
}

TEST(ClipBounds, ConversionMakesNoMoreThanTheLongestClip) {
  // 1000 Hz grows 44.1 times: 30 s come to the longest clip there may be.
  const Bytes thirty_seconds(30 * 1000, 0xC0);
  const auto converted = convert_to_mix(AudioSpec{AUDIO_U8, 1, 1000}, thirty_seconds);
  ASSERT_TRUE(converted);
  EXPECT_EQ(converted->size(), kClipMaxBytes);
  // Twice as long is refused before anything is converted.
  const Bytes minute(60 * 1000, 0xC0);
  EXPECT_EQ(convert_to_mix(AudioSpec{AUDIO_U8, 1, 1000}, minute), std::nullopt);
}

// A WAV member as SDL would be given it: what it reserves and how long the
// clip it makes.
std::optional<std::uint32_t> sdl_length(Bytes wav) {
  if (!wav_for_sdl(wav)) return std::nullopt;
  SDL_AudioSpec spec{};
  Uint8* buf = nullptr;
  Uint32 len = 0;
  SDL_RWops* rw = SDL_RWFromConstMem(wav.data(), static_cast<int>(wav.size()));
  if (SDL_LoadWAV_RW(rw, 1, &spec, &buf, &len) == nullptr) return std::nullopt;
  SDL_FreeWAV(buf);
  return len;
}

Bytes wav_with(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels,
               std::uint32_t data_bytes, std::uint32_t declared, std::uint16_t align) {
  Bytes w = test::wav_headers(rate, bits, channels, declared);
  // The RIFF size as the data size says, as large as it goes when that lies.
  const std::uint32_t riff = declared == data_bytes ? 36 + data_bytes : 0xFFFFFFFFu;
  for (int i = 0; i < 4; ++i)
    w[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
  w[32] = static_cast<std::uint8_t>(align);
  w[33] = static_cast<std::uint8_t>(align >> 8);
  w.insert(w.end(), data_bytes, 0x10);
  return w;
}

TEST(ClipBounds, WavesAreMadeSafeForSdlBeforeItReadsThem) {
  // A truthful file is left as it is.
  const Bytes truthful = wav_with(22050, 16, 1, 100, 100, 2);
  Bytes copy = truthful;
  EXPECT_TRUE(wav_for_sdl(copy));
  EXPECT_EQ(copy, truthful);
  // A data chunk that claims 4 GiB holds the 100 bytes that are there.
  Bytes lying = wav_with(22050, 16, 1, 100, 0xFFFFFFF0u, 2);
  ASSERT_TRUE(wav_for_sdl(lying));
  EXPECT_EQ(lying[40] | lying[41] << 8 | lying[42] << 16 | lying[43] << 24, 100);
  EXPECT_EQ(sdl_length(wav_with(22050, 16, 1, 100, 0xFFFFFFF0u, 2)), 100u);
  struct Case {
    const char* what;
    Bytes wav;
    std::optional<std::uint32_t> length;
  } cases[] = {
      {"24-bit, 8 channels", wav_with(8000, 24, 8, 960, 960, 24), 1280},
      // SDL would count 320 frames of 8 channels in 960 bytes.
      {"24-bit, 8 channels, a block of 3 bytes", wav_with(8000, 24, 8, 960, 960, 3), std::nullopt},
      {"16-bit stereo, a block of 1 byte", wav_with(8000, 16, 2, 960, 960, 1), std::nullopt},
      {"no RIFF file at all", Bytes{'n', 'o', 'p', 'e'}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(sdl_length(c.wav), c.length) << c.what;
}

class SfxBoundsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audio_ = test::start_audio("dummy");
    ASSERT_TRUE(audio_);
    audio_->hold_output(true);
  }
  std::unique_ptr<SfxBackend> make(const Bytes& archive) {
    test::write_bytes(dir_ / "sounds.qda", archive);
    return std::make_unique<SfxBackend>(audio_, dir_.path(), err_);
  }

  test::TempDir dir_;
  std::optional<AudioSubsystem> audio_;
  std::ostringstream err_;
};

TEST_F(SfxBoundsTest, ClipsBeyondTheBoundsAreNamedAndTheRestPlay) {
  auto sfx = make(hostile_sounds());
  EXPECT_EQ(err_.str(),
            "sfx: member gravitychange.wav refused: decodes to more than 16777216 bytes\n"
            "sfx: member explosion1.wav refused: decodes to more than 16777216 bytes\n"
            "sfx: member bound.wav refused: decodes to more than 16777216 bytes\n"
            "sfx: member cutwarn.wav refused: lasts more than 30 s\n");
  ASSERT_EQ(sfx->clips().size(), 1u);
  // A second at 1000 Hz, resampled for the device.
  EXPECT_EQ(sfx->clips().at("select.wav").bytes(), 44100u * kMixFrameBytes);
  sfx->play("select", 5);
  const std::vector<float> out = audio_->render(1000);
  EXPECT_NEAR(out[1000], 0.5f, 0.01f);
  sfx->play("bound", 5);
  EXPECT_FALSE(sfx->slots()[1].stream);
}

// Within the bounds every clip plays, whatever its rate and however long.
TEST_F(SfxBoundsTest, LongClipsAtAnyRatePlayForTheirWholeLength) {
  struct Case {
    const char* what;
    std::vector<test::PackedMember> members;
    std::map<std::string, std::size_t> seconds;  // of the clips loaded
  } cases[] = {
      {"four effects of 30 s at 22050 Hz and three short ones",
       {packed_wav("gravitychange.wav", 22050, 8, 1, 30 * 22050),
        packed_wav("explosion1.wav", 22050, 8, 1, 30 * 22050),
        packed_wav("bound.wav", 22050, 8, 1, 30 * 22050),
        packed_wav("select.wav", 22050, 8, 1, 30 * 22050),
        packed_wav("cutwarn.wav", 22050, 8, 1, 22050),
        packed_wav("destroy0.wav", 22050, 8, 1, 22050),
        packed_wav("destroy1.wav", 22050, 8, 1, 22050)},
       {{"gravitychange.wav", 30},
        {"explosion1.wav", 30},
        {"bound.wav", 30},
        {"select.wav", 30},
        {"cutwarn.wav", 1},
        {"destroy0.wav", 1},
        {"destroy1.wav", 1}}},
      {"16-bit stereo at 96 kHz for 28 s, 16-bit mono at 192 kHz for 30 s",
       {packed_wav("select.wav", 96000, 16, 2, 28 * 96000 * 4),
        packed_wav("bound.wav", 192000, 16, 1, 30 * 192000 * 2)},
       {{"bound.wav", 30}, {"select.wav", 28}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    err_.str("");
    auto sfx = make(test::packed_qda(c.members));
    EXPECT_EQ(err_.str(), "");
    std::map<std::string, std::size_t> seconds;
    for (const auto& [name, clip] : sfx->clips()) {
      const std::size_t frames = clip.bytes() / kMixFrameBytes;
      EXPECT_EQ(frames % 44100, 0u) << name;
      seconds[name] = frames / 44100;
    }
    EXPECT_EQ(seconds, c.seconds);
    sfx->play("select", 5);
    EXPECT_TRUE(sfx->slots()[0].stream) << "select.wav plays";
  }
}

// The clips held together: the game's seven at 30 s each, about 74 MB as
// float stereo; an eighth of that length is refused, and a later member of
// an effect's name replaces its clip within the bound.
TEST_F(SfxBoundsTest, TheClipsHeldTogetherAreBounded) {
  std::vector<test::PackedMember> members;
  for (const char* name :
       {"gravitychange.wav", "explosion1.wav", "bound.wav", "select.wav", "cutwarn.wav",
        "destroy0.wav", "destroy1.wav", "extra.wav", "bound.wav"}) {
    members.push_back(packed_wav(name, 44100, 8, 1, 30 * 44100));
  }
  auto sfx = make(test::packed_qda(members));
  EXPECT_EQ(err_.str(),
            "sfx: member extra.wav refused: the clips come to more than 74088000 bytes in all\n");
  EXPECT_EQ(sfx->clips().size(), 7u);
  EXPECT_EQ(sfx->clips().count("extra.wav"), 0u);
  for (const auto& [name, clip] : sfx->clips()) EXPECT_EQ(clip.bytes(), kClipMaxBytes) << name;
}

// ---- The program ----

// zt-play on the data directory, asked to end once it shows its first
// picture, or ending by itself at start-up.
test::ProgramRun run_program(const fs::path& data) {
  return test::run_headless(data, data, {{}, 1, std::chrono::milliseconds(500)});
}

Bytes expanding_images(std::size_t entries, std::int32_t width, std::int32_t height) {
  std::vector<std::string> names(kSheetNames.begin(), kSheetNames.end());
  while (names.size() < entries) names.push_back("extra" + std::to_string(names.size()) + ".bmp");
  const Bytes head = test::bmp_headers(width, height);
  const std::uint64_t rows = (std::uint64_t(width) + 3) / 4 * 4 * std::uint64_t(height);
  return test::shared_member_qda(names, test::bpe_run(head, 0, rows),
                                 static_cast<std::uint32_t>(head.size() + rows));
}

// Far above a normal run (about 20 MB headless) and far below what the
// expanding archives took before they were bounded (gigabytes, or an abort).
constexpr long kPeakBoundKb = 300 * 1024;

// A sanitizer build keeps freed memory in quarantine and shadows the rest:
// its peak is no figure of the program's, so only the normal build checks it.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakIsTheProgramsOwn = false;
#else
constexpr bool kPeakIsTheProgramsOwn = true;
#endif

void expect_within_the_memory_bound(const test::ProgramRun& f) {
  if (kPeakIsTheProgramsOwn) {
    EXPECT_LT(f.peak_kib, kPeakBoundKb);
  }
}

TEST(ProgramOnExpandingArchives, RefusesThemByNameWithinItsMemoryBound) {
  const fs::path generated = ZT_GENERATED_DATA_DIR;
  if (!fs::exists(generated / "images.qda")) GTEST_SKIP() << "no generated data at " << generated;
  const std::string refused = "images.qda: member ";
  struct Case {
    const char* what;
    const char* archive;  // the file replaced, or none
    Bytes bytes;
    int status;
    std::vector<std::string> lines;  // in this order on standard error
  } cases[] = {
      {"the generated data", nullptr, {}, 0, {}},
      {"20 sheets naming one member that decodes to a 4096 x 16000 bitmap",
       "images.qda",
       expanding_images(20, 4096, 16000),
       2,
       {refused + "ball.bmp refused: decodes to more than 16777216 bytes",
        "error: could not decode QDA member 0 (ball.bmp)"}},
      {"the same with 100 entries",
       "images.qda",
       expanding_images(100, 4096, 16000),
       2,
       {refused + "ball.bmp refused: decodes to more than 16777216 bytes",
        "error: could not decode QDA member 0 (ball.bmp)"}},
      {"a sheet of absurd size",
       "images.qda",
       expanding_images(20, 60000, 200),
       2,
       {refused + "ball.bmp refused: 60000 x 200 pixels is more than a sheet may have",
        "error: QDA member 0 (ball.bmp): unsupported BMP"}},
      {"sheets of 4 MiB, 20 of them",
       "images.qda",
       expanding_images(20, 2048, 2048),
       2,
       {refused + "next2.bmp refused: the archive decodes to more than 33554432 bytes in all",
        "error: could not decode QDA member 7 (next2.bmp)"}},
      {"clips of 60 MB and one at 1000 Hz",
       "sounds.qda",
       hostile_sounds(),
       0,
       {"sfx: member gravitychange.wav refused: decodes to more than 16777216 bytes",
        "sfx: member explosion1.wav refused: decodes to more than 16777216 bytes",
        "sfx: member bound.wav refused: decodes to more than 16777216 bytes",
        "sfx: member cutwarn.wav refused: lasts more than 30 s"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const fs::path data = dir / "data";
    fs::copy(generated, data, fs::copy_options::recursive);
    if (c.archive) {
      ASSERT_LT(c.bytes.size(), 30000u) << "the test's archives stay small";
      test::write_bytes(data / c.archive, c.bytes);
    }
    const test::ProgramRun f = run_program(data);
    std::cout << c.what << ": peak " << f.peak_kib / 1024 << " MB\n";
    EXPECT_EQ(f.status, c.status) << f.err;
    expect_within_the_memory_bound(f);
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      const std::size_t found = f.err.find(line, at);
      EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << f.err;
      if (found != std::string::npos) at = found + line.size();
    }
  }
}

// The headers of an IMA ADPCM WAV: SDL decodes its 4-bit samples to 16 bits,
// four times the member's bytes, before the clip's length can be judged.
Bytes ima_adpcm_headers(std::uint32_t rate, std::uint16_t channels, std::uint16_t block,
                        std::uint32_t data_bytes) {
  Bytes w = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  const auto u16 = [&](std::uint32_t v) {
    w.push_back(static_cast<std::uint8_t>(v));
    w.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  const auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const std::uint32_t samples_per_block = (block - 4u * channels) * 8 / (4u * channels) + 1;
  u32(20);
  u16(0x11);  // IMA ADPCM
  u16(channels);
  u32(rate);
  u32(rate * block / samples_per_block);
  u16(block);
  u16(4);
  u16(2);
  u16(samples_per_block);
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  u32(data_bytes);
  const std::uint32_t riff = static_cast<std::uint32_t>(w.size()) - 8 + data_bytes;
  for (int i = 0; i < 4; ++i)
    w[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
  return w;
}

// Everything as large as the bounds let through at once: seven sheets of
// 4 MiB (held twice, as bitmaps and as sheets), the seven effects at 30 s
// (74 MB as float stereo), and a member of 16 MiB that SDL decodes to 64 MiB
// before it is refused.
TEST(ProgramOnExpandingArchives, TheMostTheBoundsLetThroughStaysWithinTheMemoryBound) {
  const fs::path generated = ZT_GENERATED_DATA_DIR;
  if (!fs::exists(generated / "images.qda")) GTEST_SKIP() << "no generated data at " << generated;
  std::vector<test::PackedMember> sheets;
  for (std::size_t i = 0; i < kSheetNames.size(); ++i) {
    const std::int32_t side = i < 7 ? 2048 : 16;
    const Bytes head = test::bmp_headers(side, side);
    const std::uint32_t rows = static_cast<std::uint32_t>(side * side);
    sheets.push_back({std::string(kSheetNames[i]), test::bpe_run(head, 0, rows),
                      static_cast<std::uint32_t>(head.size()) + rows});
  }
  std::vector<test::PackedMember> clips;
  for (const char* name : {"gravitychange.wav", "explosion1.wav", "bound.wav", "select.wav",
                           "cutwarn.wav", "destroy0.wav", "destroy1.wav"}) {
    clips.push_back(packed_wav(name, 44100, 8, 1, 30 * 44100));
  }
  const std::uint32_t adpcm_bytes = (std::uint32_t{16} << 20) - 4096;
  const Bytes adpcm = ima_adpcm_headers(192000, 2, 2048, adpcm_bytes);
  clips.push_back({"extra.wav", test::bpe_run(adpcm, 0, adpcm_bytes),
                   static_cast<std::uint32_t>(adpcm.size()) + adpcm_bytes});

  test::TempDir dir;
  const fs::path data = dir / "data";
  fs::copy(generated, data, fs::copy_options::recursive);
  test::write_bytes(data / "images.qda", test::packed_qda(sheets));
  test::write_bytes(data / "sounds.qda", test::packed_qda(clips));
  // Both archives as large as a file of their kind may be, which the reader
  // holds whole while it decodes.
  fs::resize_file(data / "images.qda", kArchiveFileCap);
  fs::resize_file(data / "sounds.qda", kArchiveFileCap);
  const test::ProgramRun f = run_program(data);
  std::cout << "peak " << f.peak_kib / 1024 << " MB\n";
  EXPECT_EQ(f.status, 0) << f.err;
  EXPECT_NE(f.err.find("sfx: member extra.wav refused: lasts more than 30 s"), std::string::npos)
      << f.err;
  EXPECT_EQ(f.err.find("sfx: member extra.wav refused"), f.err.find("sfx: member")) << f.err;
  expect_within_the_memory_bound(f);
}

}  // namespace
}  // namespace zt
