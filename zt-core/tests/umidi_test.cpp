#include "game/umidi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_bgm.h"

namespace zt {
namespace {

using Log = std::vector<std::string>;

class TBgmTest : public ::testing::Test {
 protected:
  TBgmTest() { host.sink.existing = {"title.mid", "stage.mid"}; }

  // Start-up as the game does it, with both songs loaded: title 1, stage 2.
  void start() {
    bgm.set_on(true, host);
    bgm.load_song("title", host);
    bgm.load_song("stage", host);
    ASSERT_TRUE(bgm.on());
    host.backend.take_log();
  }

  Log take() { return host.backend.take_log(); }

  FakeMusicHost host;
  TBgm bgm;
};

TEST(BgmNameTest, MatchesIgnoringAsciiCaseOnly) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {{"title", "TITLE", true}, {"Stage", "sTAGE", true}, {"title", "titl", false},
               {"", "", true},           {"a[", "A{", false},      {"@", "`", false},
               {"\xC9", "\xE9", false}};
  for (const auto& c : cases) EXPECT_EQ(bgm_same_name(c.a, c.b), c.same) << c.a << " " << c.b;
}

TEST_F(TBgmTest, StartUpOpensOnceAndLoadsEachSongOnce) {
  bgm.set_on(true, host);
  bgm.load_song("title", host);
  bgm.load_song("stage", host);
  bgm.load_song("title", host);
  bgm.load_song("TITLE", host);
  EXPECT_EQ(take(), (Log{"open(10, -1) -> 0", "send_sysx(0)", "load_file(title.mid) -> 1",
                         "load_file(stage.mid) -> 2"}));
  EXPECT_EQ(host.sink.asked, (Log{"title.mid", "stage.mid"}));
  EXPECT_EQ(bgm.zt_bgm_get_midi("Title"), 1);
  EXPECT_EQ(bgm.zt_bgm_get_midi("stage"), 2);
  EXPECT_EQ(bgm.zt_bgm_get_midi(""), 0);
  EXPECT_EQ(bgm.zt_bgm_find_free_entry(), 2u);

  bgm.set_on(false, host);
  bgm.set_on(true, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(0)"})) << "the backend is opened once in the run";
  EXPECT_TRUE(bgm.on());
}

// With music off at start-up the songs wait; switching music on loads them,
// each once, and the title plays at once.
TEST_F(TBgmTest, SongsAskedForWhileMusicIsOffLoadWhenItIsSwitchedOn) {
  bgm.set_on(false, host);
  bgm.load_song("title", host);
  bgm.load_song("stage", host);
  bgm.load_song("TITLE", host);
  EXPECT_TRUE(take().empty());
  EXPECT_TRUE(host.sink.asked.empty());
  bgm.set_on(true, host);
  EXPECT_EQ(take(), (Log{"open(10, -1) -> 0", "send_sysx(0)", "load_file(title.mid) -> 1",
                         "load_file(stage.mid) -> 2"}));
  EXPECT_TRUE(bgm.deferred().empty());
  bgm.play("title", true, 0, 0, host);
  EXPECT_EQ(bgm.current(), "title");
  take();
  // Off and on again loads nothing more.
  bgm.set_on(false, host);
  bgm.load_song("stage", host);
  bgm.set_on(true, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(1)"}));
}

// A backend that cannot play: the song that fails to load when music is
// switched on turns it off for the run, as at start-up.
TEST_F(TBgmTest, ASongThatFailsWhenMusicIsSwitchedOnTurnsItOffForTheRun) {
  host.backend.load_file_result = 0;
  bgm.load_song("title", host);
  bgm.load_song("stage", host);
  bgm.set_on(true, host);
  EXPECT_EQ(take(), (Log{"open(10, -1) -> 0", "send_sysx(0)", "load_file(title.mid) -> 0"}));
  EXPECT_FALSE(bgm.on());
  EXPECT_TRUE(bgm.device_failed());
  bgm.load_song("stage", host);
  bgm.set_on(true, host);
  bgm.play("title", true, 0, 0, host);
  EXPECT_TRUE(take().empty());
  EXPECT_TRUE(bgm.deferred().empty());
}

// Each way of losing the music switches it off for the run and keeps what
// was loaded before.
TEST_F(TBgmTest, FailuresSwitchMusicOffForTheRun) {
  const struct {
    const char* what;
    std::function<void(FakeMusicHost&)> arrange;
    Log log;
    std::int32_t title_handle;
  } cases[] = {
      {"open fails", [](FakeMusicHost& h) { h.backend.open_result = 1; }, {"open(10, -1) -> 1"}, 0},
      {"silent backend",
       [](FakeMusicHost& h) { h.backend.load_file_result = 0; },
       {"open(10, -1) -> 0", "send_sysx(0)", "load_file(title.mid) -> 0"},
       0},
      {"stage file missing",
       [](FakeMusicHost& h) { h.sink.existing.erase("stage.mid"); },
       {"open(10, -1) -> 0", "send_sysx(0)", "load_file(title.mid) -> 1"},
       1},
      {"stage unreadable",
       [](FakeMusicHost& h) { h.backend.fail_loads.insert("stage.mid"); },
       {"open(10, -1) -> 0", "send_sysx(0)", "load_file(title.mid) -> 1",
        "load_file(stage.mid) -> 0"},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMusicHost h;
    h.sink.existing = {"title.mid", "stage.mid"};
    c.arrange(h);
    TBgm b;
    b.set_on(true, h);
    b.load_song("title", h);
    b.load_song("stage", h);
    EXPECT_EQ(h.backend.take_log(), c.log);
    EXPECT_FALSE(b.on());
    EXPECT_TRUE(b.device_failed());
    EXPECT_EQ(b.zt_bgm_get_midi("title"), c.title_handle);

    b.play("title", true, 0, 0, h);
    b.change("title", 4, true, 0, 1, h);
    b.stop(1, h);
    b.load_song("other", h);
    b.zt_bgm_tick(h);
    EXPECT_TRUE(h.backend.take_log().empty()) << "music stays off";
    b.set_on(true, h);
    EXPECT_FALSE(b.on());
    EXPECT_TRUE(b.device_failed());
  }
}

TEST_F(TBgmTest, SeventeenthSongFailsTheDevice) {
  bgm.set_on(true, host);
  for (int i = 0; i < 17; ++i) host.sink.existing.insert("s" + std::to_string(i) + ".mid");
  for (int i = 0; i < 16; ++i) bgm.load_song("s" + std::to_string(i), host);
  ASSERT_TRUE(bgm.on());
  EXPECT_FALSE(bgm.zt_bgm_find_free_entry().has_value());
  host.sink.asked.clear();
  take();

  bgm.load_song("s16", host);
  EXPECT_TRUE(take().empty());
  EXPECT_TRUE(host.sink.asked.empty());
  EXPECT_TRUE(bgm.device_failed());
  EXPECT_FALSE(bgm.on());
  EXPECT_EQ(bgm.zt_bgm_get_midi("s15"), 16);
}

TEST_F(TBgmTest, PlaySequences) {
  start();
  bgm.play("title", true, 0, 0, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(1)", "set_repeat(1, 0, 0)", "play(1, true) -> 0",
                         "set_volume(1, 100)"}));
  EXPECT_EQ(bgm.current(), "title");

  bgm.play("STAGE", false, 5, 3, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(1)", "init(2)", "fade_in(2, 3)", "play(2, false) -> 0",
                         "set_volume(2, 100)"}));
  EXPECT_EQ(bgm.current(), "STAGE");

  bgm.play("missing", true, 0, 0, host);
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(bgm.current(), "STAGE");
}

TEST_F(TBgmTest, PlayThatDoesNotStartKeepsTheCurrentSong) {
  start();
  bgm.play("title", true, 0, 0, host);
  take();
  host.backend.play_result = 1;
  bgm.play("stage", true, 2, 0, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(1)", "init(2)", "set_repeat(2, 0, 2)",
                         "play(2, true) -> 1", "set_volume(2, 100)"}));
  EXPECT_EQ(bgm.current(), "title");
}

TEST_F(TBgmTest, ChangeFadesOutThenTheTickStartsTheNewSong) {
  start();
  bgm.play("stage", true, 0, 0, host);
  take();

  bgm.change("title", 4, true, 0, 1, host);
  EXPECT_EQ(take(), (Log{"fade_out(2, 4)"}));
  EXPECT_TRUE(bgm.current().empty());
  EXPECT_EQ(bgm.fading(), "stage");
  EXPECT_EQ(bgm.pending(), "title");
  EXPECT_TRUE(bgm.fade_timer());

  host.backend.fade_out_active_result = true;
  bgm.zt_bgm_tick(host);
  bgm.zt_bgm_tick(host);
  EXPECT_EQ(take(), (Log{"fade_out_active() -> true", "fade_out_active() -> true"}));
  EXPECT_EQ(bgm.pending(), "title");

  host.backend.fade_out_active_result = false;
  bgm.zt_bgm_tick(host);
  EXPECT_EQ(take(), (Log{"fade_out_active() -> false", "stop()", "init(1)", "fade_in(1, 1)",
                         "set_repeat(1, 0, 0)", "play(1, true) -> 0", "set_volume(1, 100)"}));
  EXPECT_EQ(bgm.current(), "title");
  EXPECT_TRUE(bgm.fading().empty());
  EXPECT_TRUE(bgm.pending().empty());
  EXPECT_FALSE(bgm.fade_timer());

  bgm.zt_bgm_tick(host);
  EXPECT_TRUE(take().empty()) << "no fade, no poll";
}

TEST_F(TBgmTest, RequestsDuringAFadeOnlyReplaceThePendingName) {
  start();
  bgm.play("title", true, 0, 0, host);
  bgm.change("stage", 4, true, 7, 2, host);
  take();

  bgm.change("title", 9, false, 3, 0, host);
  bgm.play("title", false, 1, 1, host);
  bgm.change("stage", 1, false, 0, 0, host);
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(bgm.pending(), "stage");

  bgm.zt_bgm_tick(host);
  EXPECT_EQ(take(), (Log{"fade_out_active() -> false", "stop()", "init(2)", "fade_in(2, 2)",
                         "set_repeat(2, 0, 7)", "play(2, true) -> 0", "set_volume(2, 100)"}))
      << "repeat, repeat value and fade-in of the first change";
}

TEST_F(TBgmTest, ChangeWithoutASongPlaysAtOnceAndWithoutFadeWaitsForTheTick) {
  start();
  bgm.change("stage", 1, true, 0, 0, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(2)", "set_repeat(2, 0, 0)", "play(2, true) -> 0",
                         "set_volume(2, 100)"}));
  EXPECT_FALSE(bgm.fade_timer());

  bgm.change("title", 0, false, 0, 0, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(2)"}));
  EXPECT_TRUE(bgm.fade_timer());
  EXPECT_TRUE(bgm.current().empty());
  bgm.zt_bgm_tick(host);
  EXPECT_EQ(take(), (Log{"fade_out_active() -> false", "stop()", "init(1)", "play(1, false) -> 0",
                         "set_volume(1, 100)"}));
}

TEST_F(TBgmTest, ChangeToASongNotLoadedFadesOutIntoSilence) {
  start();
  bgm.play("title", true, 0, 0, host);
  take();
  bgm.change("nothing", 2, true, 0, 0, host);
  bgm.zt_bgm_tick(host);
  EXPECT_EQ(take(), (Log{"fade_out(1, 2)", "fade_out_active() -> false"}));
  EXPECT_TRUE(bgm.current().empty());
  EXPECT_FALSE(bgm.fade_timer());
}

TEST_F(TBgmTest, StopWithAndWithoutFade) {
  start();
  bgm.play("title", true, 0, 0, host);
  take();
  bgm.stop(0, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(1)"}));
  EXPECT_TRUE(bgm.current().empty());

  bgm.stop(1, host);
  EXPECT_EQ(take(), (Log{"fade_out(0, 1)"})) << "nothing playing: handle 0";
  EXPECT_TRUE(bgm.fade_timer());
  bgm.zt_bgm_tick(host);
  EXPECT_EQ(take(), (Log{"fade_out_active() -> false"}));
  EXPECT_FALSE(bgm.fade_timer());
}

TEST_F(TBgmTest, SwitchingOffDuringAFadeDropsThePendingSong) {
  start();
  bgm.play("stage", true, 0, 0, host);
  bgm.change("title", 4, true, 0, 1, host);
  take();
  bgm.set_on(false, host);
  EXPECT_EQ(take(), (Log{"stop()", "init(0)"}));
  EXPECT_FALSE(bgm.on());
  EXPECT_FALSE(bgm.fade_timer());
  EXPECT_TRUE(bgm.fading().empty());
  bgm.zt_bgm_tick(host);
  bgm.set_on(true, host);
  bgm.zt_bgm_tick(host);
  EXPECT_TRUE(take().empty());
  EXPECT_TRUE(bgm.current().empty());
}

}  // namespace
}  // namespace zt
