#include "kbgm_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine.h"
#include "kbgm_support.h"
#include "smf_builder.h"
#include "watchdog.h"

namespace zt::win {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records every KBGM call as text. Songs load from a fixed list of names;
// a fade stays active for a given number of status queries.
class RecordingCalls final : public KbgmCalls {
 public:
  std::int32_t open(std::int32_t a, std::int32_t b) override {
    log("Open(" + std::to_string(a) + "," + std::to_string(b) + ")");
    return open_result;
  }
  std::int32_t send_sysx(std::int32_t kind) override { return log("SendSysx", kind); }
  std::int32_t load_file(std::int32_t* handle, const char* name) override {
    log(std::string("LoadFile(") + name + ")");
    if (loadable.count(name) != 0) *handle = ++last_handle;
    return 0;
  }
  std::int32_t stop() override { return log("Stop"), 0; }
  std::int32_t init(std::int32_t h) override { return log("Init", h); }
  std::int32_t fade_in(std::int32_t h, std::int32_t s) override { return log("FadeIn", h, s); }
  std::int32_t set_repeat(std::int32_t h, std::int32_t a, std::int32_t b) override {
    log("SetRepeat(" + std::to_string(h) + "," + std::to_string(a) + "," + std::to_string(b) + ")");
    return 0;
  }
  std::int32_t play(std::int32_t h, std::int32_t r) override { return log("Play", h, r); }
  std::int32_t set_volume(std::int32_t h, std::int32_t v) override {
    return log("SetVolume", h, v);
  }
  std::int32_t fade_out(std::int32_t h, std::int32_t s) override {
    fade_queries_left = fade_queries;
    return log("FadeOut", h, s);
  }
  std::int32_t get_info(std::int32_t h, KBGMINFO* info) override {
    log("GetInfo", h);
    *info = KBGMINFO{};
    info->fading_out = fade_queries_left > 0 ? 1 : 0;
    if (fade_queries_left > 0) --fade_queries_left;
    return 0;
  }
  std::int32_t free_song(std::int32_t h) override { return log("Free", h); }
  std::int32_t close() override {
    log("Close");
    if (close_results.empty()) return 0;
    const std::int32_t r = close_results.front();
    close_results.pop_front();
    return r;
  }

  std::vector<std::string> take() { return std::exchange(calls, {}); }

  std::int32_t open_result = 0;
  std::set<std::string> loadable = {"title.mid", "stage.mid"};
  int fade_queries = 2;
  std::deque<std::int32_t> close_results;

 private:
  std::int32_t log(const std::string& s) {
    calls.push_back(s);
    return 0;
  }
  std::int32_t log(const char* name, std::int32_t a) {
    return log(std::string(name) + "(" + std::to_string(a) + ")");
  }
  std::int32_t log(const char* name, std::int32_t a, std::int32_t b) {
    return log(std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) + ")");
  }

  std::vector<std::string> calls;
  std::int32_t last_handle = 0;
  int fade_queries_left = 0;
};

struct AllFilesExist final : KbgmSink {
  bool file_exists(std::string_view) override { return true; }
};

struct TestHost {
  explicit TestHost(KbgmCalls& calls) : backend(calls) {}
  BgmBackend& bgm() { return backend; }
  KbgmSink& kbgm_sink() { return files; }
  KbgmBackend backend;
  AllFilesExist files;
};

class KbgmBackendTest : public ::testing::Test {
 protected:
  // Start-up as the game does it, with "stage" playing.
  void start_with_stage() {
    bgm.set_on(true, host);
    bgm.load_song("title", host);
    bgm.load_song("stage", host);
    bgm.play("stage", true, 0, 0, host);
    calls.take();
  }

  RecordingCalls calls;
  TestHost host{calls};
  TBgm bgm;
};

TEST_F(KbgmBackendTest, StartUpOpensLoadsAndPlaysWithTheLibrarysCalls) {
  bgm.set_on(true, host);
  bgm.load_song("title", host);
  bgm.load_song("TITLE", host);
  bgm.load_song("stage", host);
  bgm.change("title", 4, true, 0, 1, host);
  EXPECT_THAT(calls.take(), ElementsAre("Open(10,-1)", "SendSysx(0)", "LoadFile(title.mid)",
                                        "LoadFile(stage.mid)", "Stop", "Init(1)", "FadeIn(1,1)",
                                        "SetRepeat(1,0,0)", "Play(1,1)", "SetVolume(1,100)"));
  EXPECT_EQ(bgm.current(), "title");
}

// A run started with music off loads nothing; the options' switch then opens
// the library, loads both songs and plays the title.
TEST_F(KbgmBackendTest, MusicSwitchedOnAfterAStartWithoutItLoadsAndPlaysTheTitle) {
  bgm.set_on(false, host);
  bgm.load_song("title", host);
  bgm.load_song("stage", host);
  EXPECT_THAT(calls.take(), IsEmpty());
  bgm.set_on(true, host);
  bgm.play("title", true, 0, 0, host);
  EXPECT_THAT(calls.take(), ElementsAre("Open(10,-1)", "SendSysx(0)", "LoadFile(title.mid)",
                                        "LoadFile(stage.mid)", "Stop", "Init(1)",
                                        "SetRepeat(1,0,0)", "Play(1,1)", "SetVolume(1,100)"));
  EXPECT_EQ(bgm.current(), "title");
}

TEST_F(KbgmBackendTest, ChangeFadesOutAndTheTimerStartsThePendingSongWhenSilent) {
  start_with_stage();
  bgm.change("title", 4, true, 0, 1, host);
  EXPECT_THAT(calls.take(), ElementsAre("FadeOut(2,4)"));
  EXPECT_TRUE(bgm.fade_timer());

  kbgm_fade_timer_tick(bgm, host);
  kbgm_fade_timer_tick(bgm, host);
  EXPECT_THAT(calls.take(), ElementsAre("GetInfo(2)", "GetInfo(2)"));
  kbgm_fade_timer_tick(bgm, host);
  EXPECT_THAT(calls.take(),
              ElementsAre("GetInfo(2)", "Stop", "Init(0)", "Stop", "Init(1)", "FadeIn(1,1)",
                          "SetRepeat(1,0,0)", "Play(1,1)", "SetVolume(1,100)"));
  EXPECT_FALSE(bgm.fade_timer());
  EXPECT_TRUE(bgm.pending().empty());
  EXPECT_EQ(bgm.current(), "title");
  kbgm_fade_timer_tick(bgm, host);
  EXPECT_THAT(calls.take(), IsEmpty());
}

TEST_F(KbgmBackendTest, StopWithFadeEndsInAStopAndStartsNothing) {
  start_with_stage();
  calls.fade_queries = 0;
  // A song asked for during the fade waits; after the exit fade nothing is pending.
  bgm.stop(1, host);
  kbgm_fade_timer_tick(bgm, host);
  EXPECT_THAT(calls.take(), ElementsAre("FadeOut(2,1)", "GetInfo(2)", "Stop", "Init(0)"));
  EXPECT_FALSE(bgm.fade_timer());
  EXPECT_TRUE(bgm.current().empty());
}

TEST_F(KbgmBackendTest, APlayDuringTheFadeWaitsWithTheSettingsOfTheChange) {
  start_with_stage();
  calls.fade_queries = 0;
  bgm.change("title", 4, true, 0, 1, host);
  bgm.play("stage", false, 0, 0, host);
  calls.take();
  kbgm_fade_timer_tick(bgm, host);
  EXPECT_THAT(calls.take(),
              ElementsAre("GetInfo(2)", "Stop", "Init(0)", "Stop", "Init(2)", "FadeIn(2,1)",
                          "SetRepeat(2,0,0)", "Play(2,1)", "SetVolume(2,100)"));
}

TEST_F(KbgmBackendTest, FailuresOfTheLibraryTurnMusicOff) {
  struct Case {
    const char* what;
    std::int32_t open_result;
    std::set<std::string> loadable;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"no MIDI device", 69, {"title.mid", "stage.mid"}, {"Open(10,-1)"}},
      {"song does not load", 0, {}, {"Open(10,-1)", "SendSysx(0)", "LoadFile(title.mid)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingCalls k;
    k.open_result = c.open_result;
    k.loadable = c.loadable;
    TestHost h(k);
    TBgm b;
    b.set_on(true, h);
    b.load_song("title", h);
    b.load_song("stage", h);
    b.play("title", true, 0, 0, h);
    EXPECT_EQ(k.take(), c.expected);
    EXPECT_TRUE(b.device_failed());
    EXPECT_FALSE(b.on());
  }
}

TEST_F(KbgmBackendTest, ReleaseFreesSongsInReverseNameOrderAndClosesUntilClosed) {
  start_with_stage();
  calls.close_results = {KBGM_NOT_CLOSED, 0, KBGM_NOT_CLOSED, 0, 0};
  kbgm_release(bgm, calls);
  // "stage" sorts before "title": title (1) is freed first.
  EXPECT_THAT(calls.take(), ElementsAre("Stop", "Free(1)", "Free(2)", "Close", "Close", "Close",
                                        "Close", "Close"));
}

TEST_F(KbgmBackendTest, ReleaseWithoutAnOpenDeviceOnlyFrees) {
  kbgm_release(bgm, calls);
  EXPECT_THAT(calls.take(), IsEmpty());
}

// The game's music control, the backend and the library's engine together:
// a change of song really fades the first out and starts the second after.
TEST(KbgmBackendOnEngine, ChangeOfSongFadesOutThenPlaysTheNext) {
  using kbgm::test::Bytes;
  kbgm::test::RecordingPort port;
  kbgm::test::ManualClock clock;
  auto previous = kbgm::replace_default_engine(std::make_unique<kbgm::Engine>(
      std::make_unique<kbgm::test::TestOpener>(&port), clock, false));
  const std::map<std::string, Bytes> files = {
      {"title.mid", kbgm::test::midi_file(480, {{{0, {0x90, 70, 100}}}}, 96000)},
      {"stage.mid", kbgm::test::midi_file(480, {{{0, {0x91, 50, 100}}}}, 96000)},
  };
  for (const auto& [name, bytes] : files) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  TestHost host(kbgm_library());
  TBgm bgm;
  bgm.set_on(true, host);
  bgm.load_song("title", host);
  bgm.load_song("stage", host);
  bgm.change("title", 4, true, 0, 0, host);
  kbgm::default_engine().pump();
  EXPECT_THAT(kbgm::test::notes(port.take()), ElementsAre(Bytes{0x90, 70, 100}));

  bgm.change("stage", 1, true, 0, 0, host);
  std::vector<int> levels;
  for (int ms = 0; ms <= 1100; ms += 10) {
    clock.now += 10'000;
    kbgm::default_engine().pump();
    kbgm_fade_timer_tick(bgm, host);
    kbgm::default_engine().pump();
    const std::vector<Bytes> sent = port.take();
    for (int v : kbgm::test::volumes_on(sent, 0)) levels.push_back(v);
    if (!kbgm::test::notes(sent).empty()) {
      EXPECT_THAT(kbgm::test::notes(sent), ElementsAre(Bytes{0x91, 50, 100}));
      break;
    }
  }
  // Twenty steps down from 100 to 0, then the new song starts at full volume.
  ASSERT_GE(levels.size(), 21u);
  EXPECT_EQ(levels[0], 95);
  EXPECT_EQ(levels[19], 0);
  EXPECT_EQ(levels.back(), 100);
  EXPECT_EQ(bgm.current(), "stage");
  EXPECT_FALSE(bgm.fade_timer());

  kbgm_release(bgm, kbgm_library());
  kbgm::replace_default_engine(std::move(previous));
  for (const auto& [name, bytes] : files) std::remove(name.c_str());
}

// Songs in which nothing follows tick 0, on the library's own sequencer
// thread: the library refuses them, the music goes off and the game goes on.
TEST(KbgmBackendOnEngine, SongsThatNeverAdvanceTurnTheMusicOff) {
  kbgm::test::RecordingPort port;
  auto previous = kbgm::replace_default_engine(std::make_unique<kbgm::Engine>(
      std::make_unique<kbgm::test::TestOpener>(&port), kbgm::system_clock(), true));
  for (const zt::test::NamedSong& song : zt::test::never_advancing_songs()) {
    SCOPED_TRACE(song.name);
    const std::string name = std::string("zt-never-") + song.name;
    {
      std::ofstream out(name + ".mid", std::ios::binary);
      out.write(reinterpret_cast<const char*>(song.bytes.data()),
                static_cast<std::streamsize>(song.bytes.size()));
    }
    const zt::test::Watchdog watchdog(std::chrono::seconds(60),
                                      std::string("music of ") + song.name);
    TestHost host(kbgm_library());
    TBgm bgm;
    bgm.set_on(true, host);
    bgm.load_song(name, host);
    EXPECT_TRUE(bgm.device_failed());
    EXPECT_FALSE(bgm.on());
    bgm.change(name, 4, true, 0, 1, host);
    kbgm_release(bgm, kbgm_library());
    std::remove((name + ".mid").c_str());
  }
  kbgm::replace_default_engine(std::move(previous));
}

TEST(FadeTimer, TicksOnTheMessageLoopOnlyWhileEnabled) {
  int ticks = 0;
  FadeTimer timer([&] { ++ticks; });
  timer.set_enabled(true);
  EXPECT_TRUE(pump_messages_until([&] { return ticks >= 3; }, 2000));
  timer.set_enabled(false);
  const int at_stop = ticks;
  pump_messages_until([] { return false; }, 100);
  EXPECT_EQ(ticks, at_stop);
}

}  // namespace
}  // namespace zt::win
