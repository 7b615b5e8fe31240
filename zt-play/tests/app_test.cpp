#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "audio_fixtures.h"
#include "file_size_limit.h"
#include "files.h"
#include "game.h"
#include "layout.h"
#include "watchdog.h"

namespace zt::game {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> g_errors;
void record_error(std::string_view message) {
  g_errors.emplace_back(message);
}

// The app on a copy of the generated data, with a window, renderer and
// texture of SDL's dummy video driver.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path data = ZT_GENERATED_DATA_DIR;
    if (!fs::exists(data / "images.qda")) GTEST_SKIP() << "no generated data at " << data;
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    fs::copy(data, dir.path() / "data", fs::copy_options::recursive);
    make_app(options::Options{});
  }
  void TearDown() override {
    app.reset();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g_errors.clear();
  }

  void make_app(const options::Options& opts) {
    auto made = create_app(opts, dir.path() / "data", std::nullopt);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<App>>(made)) << std::get<std::string>(made);
    app = std::move(std::get<std::unique_ptr<App>>(made));
    app->set_show_error(record_error);
    GameWindow::WindowPtr window(
        SDL_CreateWindow("Zentropolium", 0, 0, 960, 720, SDL_WINDOW_RESIZABLE));
    ASSERT_NE(window, nullptr) << SDL_GetError();
    GameWindow::RendererPtr renderer(SDL_CreateRenderer(window.get(), -1, SDL_RENDERER_SOFTWARE));
    ASSERT_NE(renderer, nullptr) << SDL_GetError();
    GameWindow::TexturePtr texture(SDL_CreateTexture(renderer.get(), SDL_PIXELFORMAT_XRGB8888,
                                                     SDL_TEXTUREACCESS_STREAMING, 320, 240));
    ASSERT_NE(texture, nullptr) << SDL_GetError();
    SDL_SetTextureScaleMode(texture.get(), SDL_ScaleModeNearest);
    app->attach(GameWindow(std::move(window), std::move(renderer), std::move(texture), false));
  }

  SDL_Window* window() const { return app->window().window(); }
  void send(const SDL_Event& e) { app->handle_event(e); }
  static SDL_Event key(bool down, SDL_Keycode sym, bool repeat = false) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.sym = sym;
    e.key.repeat = repeat ? 1 : 0;
    return e;
  }
  static SDL_Event button(bool down, Uint8 b) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = b;
    return e;
  }
  static SDL_Event motion(int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = x;
    e.motion.y = y;
    return e;
  }
  std::uint8_t entry(int code) const { return app->host.base.key_table()[code]; }
  // Nonzero key table entries.
  std::vector<int> pressed() const {
    std::vector<int> v;
    for (int i = 0; i < 256; ++i) {
      if (entry(i)) v.push_back(i);
    }
    return v;
  }
  void step_until_state(std::uint8_t s, int limit = 400) {
    for (int i = 0; i < limit && app->game.state() != s; ++i) app->step_game();
    ASSERT_EQ(app->game.state(), s);
  }

  test::TempDir dir;
  std::unique_ptr<App> app;
};

TEST_F(AppTest, KeysAndButtonsMapToTheCoresKeyCodes) {
  struct Case {
    const char* what;
    SDL_Event event;
    std::vector<int> entries;  // set after the event
  };
  const std::vector<Case> cases = {
      {"Esc", key(true, SDLK_ESCAPE), {kKeyEsc}},
      {"C", key(true, SDLK_c), {kKeyC}},
      {"P", key(true, SDLK_p), {kKeyP}},
      {"Q", key(true, SDLK_q), {kKeyQ}},
      {"S", key(true, SDLK_s), {kKeyS}},
      {"R is not read", key(true, SDLK_r), {}},
      {"A is not read", key(true, SDLK_a), {}},
      {"unknown key", key(true, SDLK_UNKNOWN), {}},
      {"left", button(true, SDL_BUTTON_LEFT), {kKeyLButton}},
      {"middle", button(true, SDL_BUTTON_MIDDLE), {kKeyMButton}},
      {"right", button(true, SDL_BUTTON_RIGHT), {kKeyRButton}},
      {"side button 4", button(true, 4), {}},
      {"side button 5", button(true, 5), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    app->host.base.key_table().fill(0);
    send(c.event);
    EXPECT_EQ(pressed(), c.entries);
    EXPECT_FALSE(app->fast());
  }
}

TEST_F(AppTest, ARepeatChangesNothingAndAReleaseClearsOnceAStepHasSeenThePress) {
  send(key(true, SDLK_p));
  app->release_held_keys();  // a step has run
  app->host.clear_key(kKeyP);
  send(key(true, SDLK_p, true));
  EXPECT_EQ(entry(kKeyP), 0) << "a repeat must not press again";
  app->host.base.key_table()[kKeyP] = 1;
  send(key(false, SDLK_p));
  EXPECT_EQ(entry(kKeyP), 0);

  // Press and release between two steps: the step still sees the press once.
  send(button(true, SDL_BUTTON_LEFT));
  send(button(false, SDL_BUTTON_LEFT));
  EXPECT_EQ(entry(kKeyLButton), 1);
  app->release_held_keys();
  EXPECT_EQ(entry(kKeyLButton), 0);
  // Pressed again before the step: the press stands.
  send(key(true, SDLK_c));
  send(key(false, SDLK_c));
  send(key(true, SDLK_c));
  app->release_held_keys();
  EXPECT_EQ(entry(kKeyC), 1);
}

TEST_F(AppTest, ShiftHoldsFastMode) {
  send(key(true, SDLK_LSHIFT));
  EXPECT_TRUE(app->fast());
  send(key(false, SDLK_LSHIFT));
  EXPECT_FALSE(app->fast());
  send(key(true, SDLK_RSHIFT));
  EXPECT_TRUE(app->fast());
  send(key(false, SDLK_RSHIFT));
  EXPECT_FALSE(app->fast());
  EXPECT_TRUE(pressed().empty());
}

TEST_F(AppTest, MotionMapsWindowPointsToFieldPixels) {
  send(motion(480, 360));
  EXPECT_EQ(app->host.mouse_pos(), (Point{160, 120}));
  send(motion(2, 2));
  EXPECT_EQ(app->host.mouse_pos(), (Point{0, 0}));
  SDL_SetWindowSize(window(), 1000, 700);
  send(motion(180, 110));  // the corner of the 640 x 480 field at (180, 110)
  EXPECT_EQ(app->host.mouse_pos(), (Point{0, 0}));
  send(motion(180 + 639, 110 + 479));
  EXPECT_EQ(app->host.mouse_pos(), (Point{319, 239}));
}

TEST_F(AppTest, QuitAndCloseEndTheLoop) {
  SDL_Event e{};
  e.type = SDL_QUIT;
  send(e);
  EXPECT_TRUE(app->quit());
  make_app(options::Options{});  // not quitting
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  send(e);
  EXPECT_TRUE(app->quit());
}

TEST_F(AppTest, ReachingTheTitleMovesThePointerToTheMenu) {
  send(motion(10, 10));
  step_until_state(kStateTitle);
  EXPECT_EQ(app->host.mouse_pos(), (Point{100, 130}));
  EXPECT_FALSE(app->host.pending_warp);
  EXPECT_EQ(app->last_state(), kStateTitle);
}

TEST_F(AppTest, TheSoundEffectsFollowPlaySEFromTheNextStep) {
  ASSERT_TRUE(app->host.sfx->enabled());
  app->game.set_option_flags(app->game.settings().flags & static_cast<std::uint8_t>(~kPlaySE));
  app->step_game();
  EXPECT_FALSE(app->host.sfx->enabled());
  app->game.set_option_flags(app->game.settings().flags | kPlaySE);
  app->step_game();
  EXPECT_TRUE(app->host.sfx->enabled());
}

TEST_F(AppTest, OnlyTheNewestPictureOfAStepIsKept) {
  app->host.dd_fill_rect(kFrame, 0, 0, 320, 240, 9);
  app->host.base.present();
  app->step_game();  // the logo presents its own picture after it
  ASSERT_TRUE(app->frame());
  EXPECT_TRUE(app->new_frame());
  ASSERT_TRUE(app->host.base.last_frame());
  EXPECT_EQ(app->frame()->pixels, *app->host.base.last_frame());
  EXPECT_NE(app->frame()->pixels, std::vector<std::uint8_t>(320 * 240, 9));
}

// What a draw leaves on a 1000 x 700 window (field at scale 2, at 180, 110)
// that was red before.
std::vector<std::uint32_t> drawn(App& app) {
  SDL_Renderer* renderer = app.window().renderer();
  SDL_SetWindowSize(app.window().window(), 1000, 700);
  SDL_SetRenderDrawColor(renderer, 255, 0, 0, 255);
  SDL_RenderClear(renderer);
  app.draw();
  std::vector<std::uint32_t> shown(1000 * 700);
  EXPECT_EQ(
      SDL_RenderReadPixels(renderer, nullptr, SDL_PIXELFORMAT_XRGB8888, shown.data(), 1000 * 4), 0)
      << SDL_GetError();
  for (std::uint32_t& p : shown) p &= 0xFFFFFF;
  return shown;
}

TEST_F(AppTest, DrawingScalesThePictureThroughTheColourTable) {
  std::vector<std::uint8_t> pixels(320 * 240, 7);
  pixels[0] = 0;
  pixels[1] = 255;
  Palette palette{};
  palette.fill(0x55);  // entries 0 and 255 are black and white whatever it says
  palette[7 * 4 + 0] = 0x12;
  palette[7 * 4 + 1] = 0x34;
  palette[7 * 4 + 2] = 0x56;
  app->take_frame({pixels, palette, 320, 240});
  const std::vector<std::uint32_t> shown = drawn(*app);
  EXPECT_FALSE(app->new_frame());
  EXPECT_TRUE(app->window().colour_table_valid());
  const auto at = [&](int x, int y) { return shown[static_cast<std::size_t>(y) * 1000 + x]; };
  EXPECT_EQ(at(179, 110), 0u) << "outside the field turns black";
  EXPECT_EQ(at(500, 109), 0u);
  EXPECT_EQ(at(999, 699), 0u);
  EXPECT_EQ(at(180, 110), 0u);         // pixel 0: colour 0
  EXPECT_EQ(at(181, 111), 0u);         // still pixel 0 at scale 2
  EXPECT_EQ(at(182, 110), 0xFFFFFFu);  // pixel 1: colour 255
  EXPECT_EQ(at(184, 110), 0x123456u);  // pixel 2: colour 7
  EXPECT_EQ(at(180 + 639, 110 + 479), 0x123456u);
  EXPECT_EQ(at(180 + 640, 110 + 479), 0u);
}

TEST_F(AppTest, APictureOfAnotherSizeShowsWhereItOverlapsTheField) {
  // Rows of 330 pixels: colour 1 in the first row, 2 in the second, which is
  // cut short after 100 pixels; the picture has no third row.
  std::vector<std::uint8_t> pixels(330 + 100, 2);
  std::fill_n(pixels.begin(), 330, 1);
  Palette palette{};
  palette[1 * 4] = 0x11;
  palette[2 * 4] = 0x22;
  app->take_frame({pixels, palette, 330, 3});
  const std::vector<std::uint32_t> shown = drawn(*app);
  const auto field = [&](int x, int y) {
    return shown[static_cast<std::size_t>(110 + 2 * y) * 1000 + 180 + 2 * x];
  };
  EXPECT_EQ(field(0, 0), 0x110000u);
  EXPECT_EQ(field(319, 0), 0x110000u);
  EXPECT_EQ(field(0, 1), 0x220000u) << "the second row starts 330 pixels on";
  EXPECT_EQ(field(99, 1), 0x220000u);
  EXPECT_EQ(field(100, 1), 0u) << "where the pixels end the field is black";
  EXPECT_EQ(field(0, 2), 0u);
  EXPECT_EQ(field(319, 239), 0u);
}

TEST_F(AppTest, AGameErrorIsShownAndEndsTheLoop) {
  // A disk too full for the picture makes saving the screenshot fail.
  send(key(true, SDLK_s));
  {
    const test::FileSizeLimit disk(1000);
    app->step_game();
  }
  EXPECT_TRUE(app->quit());
  EXPECT_THAT(g_errors, ::testing::ElementsAre("could not save the screenshot"));
}

TEST_F(AppTest, AScreenshotLeavesThePicturesOfEarlierRunsAlone) {
  const fs::path data = dir.path() / "data";
  const std::vector<std::uint8_t> yesterday = {'o', 'l', 'd'};
  test::write_bytes(data / "ScrSht0.bmp", yesterday);
  send(key(true, SDLK_s));
  for (int i = 0; i < 3; ++i) app->step_game();  // held: one picture a frame
  send(key(false, SDLK_s));
  app->step_game();
  EXPECT_FALSE(app->quit());
  const auto old = read_file(data / "ScrSht0.bmp", 100);
  ASSERT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(old));
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(old), yesterday);
  for (const char* name : {"ScrSht1.bmp", "ScrSht2.bmp", "ScrSht3.bmp"}) {
    EXPECT_EQ(fs::file_size(data / name), 77878u) << name;
  }
  EXPECT_FALSE(fs::exists(data / "ScrSht4.bmp"));
}

// Steps until the exit screen has ended the game, as after Esc on the title menu.
void leave_from_title(App& app) {
  app.host.base.key_table()[kKeyEsc] = 1;
  for (int i = 0; i < 100 && !app.quit(); ++i) app.step_game();
}

// A pipe as the demonstration's replay is refused at once, where reading its
// header waited for a writer and froze the title screen at its 1000th frame.
TEST_F(AppTest, APipeAsTheDemonstrationLeavesTheTitleMenuRunning) {
  const fs::path demo = dir.path() / "data" / "Rec" / "Rec0.dat";
  ASSERT_TRUE(fs::is_regular_file(demo));
  const test::Watchdog watchdog(std::chrono::seconds(60),
                                "the title menu over a piped demonstration");
  // As it stands, the demonstration starts at the title menu's 1000th frame.
  step_until_state(kStateTitle);
  step_until_state(kStateIntro, 1001);
  EXPECT_EQ(app->game.recorder().state(), RecState::Playing);

  make_app(options::Options{});
  fs::remove(demo);
  ASSERT_EQ(::mkfifo(demo.c_str(), 0666), 0);
  step_until_state(kStateTitle);
  for (int i = 0; i < 1100; ++i) app->step_game();
  EXPECT_EQ(app->game.state(), kStateTitle);
  EXPECT_EQ(app->game.recorder().state(), RecState::Idle);
  leave_from_title(*app);
  EXPECT_TRUE(app->quit());
  EXPECT_EQ(fs::status(demo).type(), fs::file_type::fifo);
}

// The slot screen reads every slot's header when it opens: a pipe, a device
// or a folder in a slot's place shows as an empty slot.
TEST_F(AppTest, TheSlotScreenOpensOverPipesDevicesAndFolders) {
  const fs::path rec = dir.path() / "data" / "Rec";
  ASSERT_EQ(::mkfifo((rec / "Rec3.dat").c_str(), 0666), 0);
  fs::create_symlink("/dev/zero", rec / "Rec4.dat");
  fs::create_directory(rec / "Rec5.dat");
  const test::Watchdog watchdog(std::chrono::seconds(60), "the slot screen over odd files");
  step_until_state(kStateTitle);
  app->step_game();  // the menu's first frame puts the pointer on its top
  // REPLAY DATA, the fifth row of the menu: field (100, 190), window (301, 571) at scale 3.
  send(motion(301, 571));
  send(button(true, SDL_BUTTON_LEFT));
  send(button(false, SDL_BUTTON_LEFT));
  step_until_state(kStateSlots, 5);
  for (int i = 0; i < 10; ++i) app->step_game();
  EXPECT_EQ(app->game.state(), kStateSlots);
  EXPECT_EQ(app->game.recorder().state(), RecState::Idle);
  send(key(true, SDLK_ESCAPE));
  send(key(false, SDLK_ESCAPE));
  step_until_state(kStateTitle, 5);
  leave_from_title(*app);
  EXPECT_TRUE(app->quit());
}

// A player's "Zentria.ini", one option switched, the save at the end of the
// run, and the next start: whatever the run saved, the next one reads,
// and a file it would not read is not written.
struct SettingsRun {
  const char* name;
  std::string file;
  bool saved;  // else the file stays as it was, and the run says why
};

// The notes a player keeps in the file fill it up to `size` bytes; `eol`
// ends every line.
std::string players_settings(std::string_view head, std::size_t size, std::string_view eol) {
  std::string file = std::string(head) + "[Notes]" + std::string(eol);
  const std::string note = "note=" + std::string(58, 'x') + std::string(eol);
  while (file.size() + note.size() <= size) file += note;
  file.append(size - file.size(), ';');  // a last line without a line end
  return file;
}

TEST_F(AppTest, TheNextStartReadsTheSettingsTheLastRunSaved) {
  const fs::path ini = dir.path() / "data" / "Zentria.ini";
  const SettingsRun runs[] = {
      // Its line ends written as CR LF, it grew past the cap.
      {"LF line ends", players_settings("[GameSetting]\nPlaySE=0\nMiniScreen=1\n", 1'040'000, "\n"),
       true},
      // Twelve keys more do not fit.
      {"just under the cap",
       players_settings("[GameSetting]\r\nPlaySE=0\r\nMiniScreen=1\r\n", 1'048'551, "\r\n"), false},
      // Its first section was part of the mark's line, and saving added a second one.
      {"a byte-order mark", "\xEF\xBB\xBF[GameSetting]\r\nPlaySE=0\r\nMiniScreen=1\r\n", true},
  };
  for (const SettingsRun& run : runs) {
    SCOPED_TRACE(run.name);
    test::write_bytes(ini, std::vector<std::uint8_t>(run.file.begin(), run.file.end()));
    make_app(options::Options{});
    EXPECT_EQ(app->game.settings().flags, kDrawBackground | kPlayMidi | kMiniScreen);
    // As the options screen switches it.
    app->game.set_option_flags(app->game.settings().flags ^ kDrawBackground);
    test::StderrCapture capture;
    app->save_on_exit();
    const std::string said = capture.text();

    const auto read = read_file(ini, std::uint64_t{1} << 24);
    ASSERT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(read));
    const auto& bytes = std::get<std::vector<std::uint8_t>>(read);
    const std::string text(bytes.begin(), bytes.end());
    std::cout << run.name << ": " << run.file.size() << " bytes, saved as " << text.size()
              << std::endl;
    EXPECT_LE(text.size(), kSettingsFileCap);
    make_app(options::Options{});
    const std::uint8_t want =
        run.saved ? kPlayMidi | kMiniScreen : kDrawBackground | kPlayMidi | kMiniScreen;
    EXPECT_EQ(app->game.settings().flags, want);
    if (run.saved) {
      EXPECT_EQ(said, "");
      EXPECT_NE(text, run.file);
      EXPECT_EQ(text.starts_with("\xEF\xBB\xBF"), run.file.starts_with("\xEF\xBB\xBF"));
      EXPECT_EQ(text.find("[GameSetting]", text.find("[GameSetting]") + 1), std::string::npos)
          << "a second section";
      if (run.file.find("[Notes]") != std::string::npos) {
        EXPECT_NE(text.find(run.file.substr(run.file.find("[Notes]"))), std::string::npos)
            << "the notes changed";
      }
    } else {
      EXPECT_TRUE(text == run.file) << "the file was written";
      EXPECT_EQ(said, "did not save " + ini.string() + ": it would exceed 1048576 bytes\n");
    }
  }
}

TEST_F(AppTest, ConfinementFollowsTheOptionFocusAndState) {
  options::Options opts;
  opts.confine = options::Confine::On;
  make_app(opts);
  app->apply_cursor_grab(true);
  if (!app->confinement().grabbed()) GTEST_SKIP() << "this video driver does not grab";
  ASSERT_TRUE(app->confinement().rect());
  EXPECT_EQ(app->confinement().rect()->w, 960);
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  send(e);
  EXPECT_FALSE(app->confinement().grabbed());
  EXPECT_FALSE(app->confinement().rect());

  opts.confine = options::Confine::Play;
  make_app(opts);
  app->apply_cursor_grab(true);
  EXPECT_FALSE(app->confinement().grabbed()) << "play confinement outside a play";
  EXPECT_EQ(app->confinement().state(), Confinement::kFree);
  app->game.start_play(TGame::kModePlain, 0, false, app->host);
  app->game.set_state(kStatePlay, app->host);
  app->apply_cursor_grab(false);
  EXPECT_TRUE(app->confinement().grabbed()) << "play confinement during a play";
  app->game.set_state(kStatePause, app->host);
  app->apply_cursor_grab(false);
  EXPECT_FALSE(app->confinement().grabbed()) << "leaving the play releases the pointer";
}

// A refusal that SDL only logs: before the first grab, and after a grab that
// seemed to hold (SDL grabs again by itself when the focus comes back).
TEST_F(AppTest, ARefusedGrabIsReportedOnceWithSdlsText) {
  constexpr const char* kRefusal =
      "The X server refused to let us grab the mouse. You might experience input bugs.";
  const std::string line =
      std::string("could not confine the pointer to the play field: ") + kRefusal + "\n";
  options::Options opts;
  opts.confine = options::Confine::On;
  for (const bool grabbed_first : {false, true}) {
    SCOPED_TRACE(grabbed_first ? "after a grab" : "at the first grab");
    make_app(opts);
    GrabRefusalWatch watch;
    app->set_grab_watch(&watch);
    test::StderrCapture capture;
    if (grabbed_first) {
      app->apply_cursor_grab(true);
      if (!app->confinement().grabbed()) GTEST_SKIP() << "this video driver does not grab";
    }
    SDL_LogWarn(SDL_LOG_CATEGORY_VIDEO, "%s", kRefusal);
    app->apply_cursor_grab(!grabbed_first);
    EXPECT_FALSE(app->confinement().grabbed());
    // Focus changes and steps try again, silently.
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    send(e);
    e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    send(e);
    app->step_game();
    EXPECT_FALSE(app->confinement().grabbed());
    EXPECT_EQ(capture.text(), line);
  }
}

TEST(VideoDriver, OnlyANamedDriverThatShowsNothingIsTaken) {
  struct Case {
    const char* in_use;
    const char* named;
    const char* display;
    const char* wayland;
    std::optional<std::string> error;
  };
  const std::string shows_nothing = "), and SDL's \"offscreen\" driver shows nothing";
  const Case cases[] = {
      {"x11", nullptr, ":0", nullptr, std::nullopt},
      {"wayland", nullptr, nullptr, "wayland-0", std::nullopt},
      {"dummy", "dummy", nullptr, nullptr, std::nullopt},
      {"offscreen", "OffScreen", nullptr, nullptr, std::nullopt},
      {"offscreen", "x11,offscreen", ":9", nullptr, std::nullopt},
      {"offscreen", nullptr, nullptr, nullptr,
       "no display could be opened (DISPLAY is not set" + shows_nothing},
      {"offscreen", "", "", "", "no display could be opened (DISPLAY is not set" + shows_nothing},
      {"offscreen", nullptr, ":4711", nullptr,
       "no display could be opened (DISPLAY=:4711" + shows_nothing},
      {"offscreen", "x11", ":1", "wayland-1",
       "no display could be opened (DISPLAY=:1, WAYLAND_DISPLAY=wayland-1" + shows_nothing},
      {"offscreen", "offscreenx,off", ":1", nullptr,
       "no display could be opened (DISPLAY=:1" + shows_nothing},
      {"dummy", "x11", ":1", nullptr,
       "no display could be opened (DISPLAY=:1), and SDL's \"dummy\" driver shows nothing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.in_use) + " / " + (c.named != nullptr ? c.named : "(unset)"));
    EXPECT_EQ(unseen_video_driver(c.in_use, c.named, c.display, c.wayland), c.error);
  }
}

TEST(SleepUntil, NeverWakesBeforeTheDeadlineAndIgnoresOneThatHasPassed) {
  for (const auto ahead : {std::chrono::microseconds(-500), std::chrono::microseconds(0),
                           std::chrono::microseconds(300), std::chrono::microseconds(2000)}) {
    const Clock::time_point deadline = Clock::now() + ahead;
    sleep_until(deadline);
    EXPECT_GE(Clock::now(), deadline) << ahead.count() << " us ahead";
  }
}

TEST(LocalDatetime, RoundsTheOffsetToWholeMinutesWithARealFloor) {
  struct Case {
    std::int64_t offset;
    std::int64_t applied;
  };
  const Case cases[] = {
      {0, 0},           {19800, 19800},   {29, 0},          {30, 60},
      {-12600, -12600}, {-12629, -12600}, {-12631, -12660}, {-31, -60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_DOUBLE_EQ(local_datetime(1000.0, c.offset),
                     (1000.0 + static_cast<double>(c.applied)) / 86400.0 + 25569.0);
  }
}

}  // namespace
}  // namespace zt::game
