// The top of the program: start-up and teardown, the window with its
// renderer and streaming texture, the event loop with the fixed 25 ms game
// step, the mapping of SDL input to the key codes the core reads, the mouse
// confinement, and the drawing of the 8-bit picture through a colour table.
#pragma once

#include <SDL.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "game/ugame.h"
#include "grab_watch.h"
#include "options.h"
#include "play_host.h"
#include "renderer.h"

namespace zt::game {

using Clock = std::chrono::steady_clock;

inline constexpr std::chrono::milliseconds kStep{25};
inline constexpr std::chrono::milliseconds kFastSlice{8};
inline constexpr std::chrono::milliseconds kMaxSleep{2};
// How long start-up waits for the renderer question; a first start of an
// OpenGL driver from a cold disk can take a while.
inline constexpr std::chrono::milliseconds kProbeTimeout{5000};
// The longest the end of the run waits for what is queued to be heard: the
// music's queue at its fullest and the period the device is playing, 12048
// frames at 44100 Hz.
inline constexpr std::chrono::milliseconds kExitDrain{274};

// The settings snapshot of what the game holds now.
options::SettingsSnapshot snapshot(const TGame& game);
options::SettingsSnapshot snapshot(const TConfig& settings);

// The window with its renderer and the streaming texture the field is drawn
// into, released texture first; and the colour table of the picture shown.
class GameWindow {
 public:
  struct SdlDeleter {
    void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
    void operator()(SDL_Renderer* r) const { SDL_DestroyRenderer(r); }
    void operator()(SDL_Texture* t) const { SDL_DestroyTexture(t); }
  };
  using WindowPtr = std::unique_ptr<SDL_Window, SdlDeleter>;
  using RendererPtr = std::unique_ptr<SDL_Renderer, SdlDeleter>;
  using TexturePtr = std::unique_ptr<SDL_Texture, SdlDeleter>;

  // Takes all three; fullscreen: what the window was made as.
  GameWindow(WindowPtr window, RendererPtr renderer, TexturePtr texture, bool fullscreen);

  // Start-up's window: titled with the product name, 320 x 240 times scale,
  // resizable down to 320 x 240, full screen when asked; the renderer that
  // pick_renderer names (asked once the window stands); the texture with
  // nearest-neighbour scaling. Or what failed, with SDL's text.
  static std::variant<GameWindow, std::string> open(
      std::uint32_t scale, bool fullscreen,
      const std::function<std::optional<renderer::Picked>()>& pick_renderer);

  SDL_Window* window() const { return window_.get(); }
  SDL_Renderer* renderer() const { return renderer_.get(); }
  // Full screen as last asked or, once the loop has looked, as SDL has it.
  bool fullscreen() const { return fullscreen_; }
  void refresh_fullscreen();
  // F11: a failure is printed and leaves the window as it was.
  void toggle_fullscreen();
  bool colour_table_valid() const { return colour_table_valid_; }

  // Clears the window to black, draws the picture (when there is one)
  // scaled and centred, and shows it.
  void draw(const DisplayEvent* frame);

 private:
  // Fills the locked texture with the picture through the colour table.
  void fill_texture(const DisplayEvent& frame);

  WindowPtr window_;
  RendererPtr renderer_;
  TexturePtr texture_;
  bool fullscreen_ = false;
  std::array<std::uint32_t, 256> colour_table_{};
  bool colour_table_valid_ = false;
  Palette colour_table_palette_{};
};

// What the input gathers between two game steps: presses not yet seen by a
// step, and their releases held back until one has run, so that a tap
// shorter than a step still acts once; and Shift, which runs the game fast.
class InputLatch {
 public:
  using KeyTable = std::array<std::uint8_t, 256>;

  void set(KeyTable& keys, int entry, bool down);
  // Run after every game step: the releases held for it take effect.
  void release_held(KeyTable& keys);
  bool fast() const { return fast_; }
  void set_fast(bool fast) { fast_ = fast; }

 private:
  std::array<bool, 256> unseen_press_{};
  std::array<bool, 256> held_release_{};
  bool fast_ = false;
};

// The pointer's confinement to the play field as last applied.
enum class Confinement : std::uint8_t {
  kUnknown,   // never applied: the next check applies it whatever is wanted
  kFree,      // released
  kConfined,  // asked for (whether SDL holds it is `grabbed`)
};

class PointerConfinement {
 public:
  Confinement state() const { return state_; }
  // The pointer is held in the field as far as SDL and its log tell.
  bool grabbed() const { return grabbed_; }
  // The rectangle in force, put back after a warp.
  const std::optional<SDL_Rect>& rect() const { return rect_; }
  void set_watch(const GrabRefusalWatch* watch) { watch_ = watch; }

  // Applies `want` when it differs from what was applied, when forced, or
  // when SDL's log says a grab that seemed to hold was refused. A refusal is
  // reported once a run.
  void apply(SDL_Window* window, bool want, bool force);
  // A warp through the rectangle: SDL2 on X11 drops one while it is set.
  void warp(SDL_Window* window, int x, int y) const;

 private:
  Confinement state_ = Confinement::kUnknown;
  bool grabbed_ = false;
  bool error_reported_ = false;
  std::optional<SDL_Rect> rect_;
  // What SDL logs of a refused pointer grab; none: only SDL's answer counts.
  const GrabRefusalWatch* watch_ = nullptr;
};

class App;

// Steps 7 to 19 of start-up: the data directory, the settings, the host, the
// sound, the game with its score table and music. The audio subsystem may be
// absent.
std::variant<std::unique_ptr<App>, std::string> create_app(
    const options::Options& opts, const std::filesystem::path& data_dir,
    const std::optional<AudioSubsystem>& audio);

// The running program: the game and its host, driven by the loop, with the
// window, the input latch and the pointer confinement around them.
class App {
 public:
  App(TGame game, PlayHost host, std::filesystem::path data_dir, std::string settings_text,
      const options::Options& opts);

  TGame game;
  PlayHost host;
  // What saving on exit compares with: the settings at start, and how
  // "Zentria.ini" and "ZTScore.dat" stood (it never writes over one that
  // could not be read).
  options::SettingsSnapshot settings_at_start;
  options::SaveFilesAtStart save_files_at_start;

  // The window the loop shows the game in; it is made after the game.
  void attach(GameWindow window) { window_.emplace(std::move(window)); }
  GameWindow& window() { return *window_; }

  // Applies one event from the queue.
  void handle_event(const SDL_Event& event);
  void step_game();
  void apply_cursor_grab(bool force);
  // Clears the window, draws the newest picture scaled and shows it.
  void draw();
  void save_on_exit();
  // Run after every game step: clears the releases held back for it.
  void release_held_keys() { input_.release_held(host.base.key_table()); }
  // Runs the loop until the quit flag is set.
  void run_loop();

  bool quit() const { return quit_; }
  bool fast() const { return input_.fast(); }
  std::uint8_t last_state() const { return last_state_; }
  const PointerConfinement& confinement() const { return confinement_; }
  void set_grab_watch(const GrabRefusalWatch* watch) { confinement_.set_watch(watch); }
  // Where the error of a game step goes; the tests replace the dialog.
  void set_show_error(void (*show)(std::string_view message)) { show_error_ = show; }

  // The newest picture of the game, drawn at the next draw.
  void take_frame(DisplayEvent frame);
  const std::optional<DisplayEvent>& frame() const { return frame_; }
  bool new_frame() const { return new_frame_; }

 private:
  friend std::variant<std::unique_ptr<App>, std::string> create_app(
      const options::Options& opts, const std::filesystem::path& data_dir,
      const std::optional<AudioSubsystem>& audio);

  void warp_cursor();

  std::filesystem::path data_dir_;
  std::string settings_text_;
  std::optional<DisplayEvent> frame_;
  bool new_frame_ = false;
  Clock::time_point start_;
  Clock::time_point next_step_;
  bool quit_ = false;
  bool cursor_shown_ = false;
  bool focused_ = true;
  options::Confine confine_ = options::Confine::Off;
  std::uint8_t last_state_ = kStateLogo;
  std::uint8_t last_flags_ = 0;
  InputLatch input_;
  PointerConfinement confinement_;
  void (*show_error_)(std::string_view message) = nullptr;
  std::optional<GameWindow> window_;
};

// Why the video driver in use cannot show the game, or nothing when it can.
// With no display to reach SDL falls back to its "offscreen" driver, which
// shows nothing; it and "dummy" are taken only when `named` (SDL_VIDEODRIVER,
// a comma-separated list) names them. `display` and `wayland_display` are
// the environment's DISPLAY and WAYLAND_DISPLAY, or null.
std::optional<std::string> unseen_video_driver(std::string_view in_use, const char* named,
                                               const char* display, const char* wayland_display);

// Sleeps until the deadline without spinning: an absolute sleep on the
// monotonic clock, which the kernel ends within tens of microseconds of it.
void sleep_until(Clock::time_point deadline);

// The whole program after the program name: nothing, or the start-up error.
std::optional<std::string> run(const std::vector<std::string>& args);

}  // namespace zt::game
