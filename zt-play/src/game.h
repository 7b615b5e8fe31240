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

struct App {
  App(TGame game, PlayHost host, std::filesystem::path data_dir, std::string settings_text,
      const options::Options& opts);

  TGame game;
  PlayHost host;
  std::filesystem::path data_dir;
  std::string settings_text;
  options::SettingsSnapshot settings_at_start;
  // How "Zentria.ini" and "ZTScore.dat" stood at start: saving on exit never
  // writes over one that could not be read.
  options::SaveFilesAtStart save_files_at_start;
  std::optional<std::vector<std::uint8_t>> frame_pixels;
  std::int32_t frame_width = 0;
  std::int32_t frame_height = 0;
  Palette frame_palette{};
  Clock::time_point start;
  Clock::time_point next_step;
  std::array<std::uint32_t, 256> colour_table{};
  bool fast = false;
  bool quit = false;
  bool cursor_shown = false;
  bool grabbed = false;
  bool grab_error_reported = false;
  bool focused = true;
  bool colour_table_valid = false;
  Palette colour_table_palette{};
  bool new_frame = false;
  options::Confine confine = options::Confine::Off;
  std::uint8_t grab_state = 2;  // 2: never applied
  std::uint8_t last_state = kStateLogo;
  std::uint8_t last_flags = 0;
  // The confinement rectangle in force, put back after a warp.
  std::optional<SDL_Rect> mouse_rect;
  // Presses not yet seen by a game step, and their releases held back until
  // one has run, so that a tap shorter than a step still acts once.
  std::array<bool, 256> unseen_press{};
  std::array<bool, 256> held_release{};
  // Where the error of a game step went; the tests replace the dialog.
  void (*show_error)(std::string_view message) = nullptr;
  // What SDL logs of a refused pointer grab; none: only SDL's answer counts.
  const GrabRefusalWatch* grab_watch = nullptr;

  // Applies one event from the queue.
  void handle_event(const SDL_Event& event, SDL_Window* window, bool& fullscreen);
  void step_game(SDL_Window* window, bool fullscreen);
  void apply_cursor_grab(SDL_Window* window, bool force);
  // Fills the locked texture with the newest picture through the colour table.
  void present(SDL_Texture* texture);
  // Clears the window, draws the newest picture scaled and shows it.
  void draw(SDL_Renderer* renderer, SDL_Texture* texture, SDL_Window* window);
  void save_on_exit();
  // Run after every game step: clears the releases held back for it.
  void release_held_keys();

 private:
  void warp_cursor(SDL_Window* window, bool fullscreen);
  void set_entry(int entry, bool down);
};

// Steps 7 to 19 of start-up: the data directory, the settings, the host, the
// sound, the game with its score table and music. The audio subsystem may be
// absent.
std::variant<std::unique_ptr<App>, std::string> create_app(
    const options::Options& opts, const std::filesystem::path& data_dir,
    const std::optional<AudioSubsystem>& audio);

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

// Runs the loop until the app's quit flag is set.
void main_loop(SDL_Texture* texture, SDL_Renderer* renderer, App& app, SDL_Window* window,
               bool& fullscreen);

// The whole program after the program name: nothing, or the start-up error.
std::optional<std::string> run(const std::vector<std::string>& args);

}  // namespace zt::game
