#include "game.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "base_host.h"
#include "bgm.h"
#include "dialog.h"
#include "files.h"
#include "formats/ascii.h"
#include "formats/config.h"
#include "game/start_game.h"
#include "layout.h"
#include "renderer.h"
#include "synth.h"

namespace zt::game {

namespace fs = std::filesystem;
using options::Confine;
using options::Options;
using options::SettingsSnapshot;

static_assert(kExitDrain.count() * 44100 >=
              std::int64_t{1000} * (SynthBackend::kQueueLimitFrames + SynthBackend::kBlockFrames +
                                    kDevicePeriodFrames));

SettingsSnapshot snapshot(const TConfig& s) {
  return {s.last_player_name, s.num_of_fragments, s.score_digits,
          s.score_grouping,   s.highest_rank,     s.flags};
}

SettingsSnapshot snapshot(const TGame& game) {
  SettingsSnapshot s = snapshot(game.settings());
  // The name entry edits the game's player name, not the settings copy.
  s.last_player_name = game.player_name();
  return s;
}

namespace {

void show_error_box(std::string_view message) {
  dialog::show(dialog::kError, message);
}

bool window_fullscreen(SDL_Window* window) {
  return (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0;
}

struct WindowSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

WindowSize window_size(SDL_Window* window) {
  int w = 0;
  int h = 0;
  SDL_GetWindowSize(window, &w, &h);
  return {static_cast<std::uint32_t>(std::max(w, 0)), static_cast<std::uint32_t>(std::max(h, 0))};
}

SDL_Rect field_rect(const WindowSize& size) {
  const layout::Layout l = layout::layout(size.width, size.height);
  return {static_cast<int>(l.x_offset), static_cast<int>(l.y_offset),
          static_cast<int>(layout::kFieldWidth * l.scale),
          static_cast<int>(layout::kFieldHeight * l.scale)};
}

// The key table entry of a keyboard key the core reads, or 0.
int key_entry(SDL_Keycode sym) {
  switch (sym) {
    case SDLK_ESCAPE:
      return kKeyEsc;
    case SDLK_c:
      return kKeyC;
    case SDLK_p:
      return kKeyP;
    case SDLK_q:
      return kKeyQ;
    case SDLK_s:
      return kKeyS;
    default:
      return 0;
  }
}

// SDL buttons 1, 2, 3 are left, middle, right.
int button_entry(Uint8 button) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      return kKeyLButton;
    case SDL_BUTTON_MIDDLE:
      return kKeyMButton;
    case SDL_BUTTON_RIGHT:
      return kKeyRButton;
    default:
      return 0;
  }
}

void toggle_fullscreen(SDL_Window* window, bool& fullscreen) {
  const bool want = !fullscreen;
  fullscreen = want;
  if (SDL_SetWindowFullscreen(window, want ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) {
    std::cerr << "could not toggle fullscreen: " << SDL_GetError() << std::endl;
    fullscreen = !want;
  }
}

}  // namespace

App::App(TGame g, PlayHost h, fs::path dir, std::string text, const Options& opts)
    : game(std::move(g)),
      host(std::move(h)),
      data_dir(std::move(dir)),
      settings_text(std::move(text)),
      start(Clock::now()),
      next_step(start),
      cursor_shown(opts.cursor_shown),
      confine(opts.confine),
      last_state(game.state()),
      last_flags(game.settings().flags),
      show_error(show_error_box) {}

void App::handle_event(const SDL_Event& event, SDL_Window* window, bool& fullscreen) {
  switch (event.type) {
    case SDL_QUIT:
      quit = true;
      break;
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          quit = true;
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          focused = true;
          apply_cursor_grab(window, true);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          focused = false;
          apply_cursor_grab(window, true);
          break;
        case SDL_WINDOWEVENT_RESIZED:
          if (focused) apply_cursor_grab(window, true);
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      const bool down = event.type == SDL_KEYDOWN;
      const SDL_Keycode sym = event.key.keysym.sym;
      if (sym == SDLK_UNKNOWN || (down && event.key.repeat != 0)) break;
      if (const int entry = key_entry(sym)) {
        set_entry(entry, down);
      } else if (sym == SDLK_LSHIFT || sym == SDLK_RSHIFT) {
        fast = down;
      } else if (sym == SDLK_F11 && down) {
        toggle_fullscreen(window, fullscreen);
        apply_cursor_grab(window, true);
      }
      break;
    }
    case SDL_MOUSEMOTION: {
      const WindowSize size = window_size(window);
      host.base.pointer() =
          layout::window_to_game(size.width, size.height, event.motion.x, event.motion.y);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (const int entry = button_entry(event.button.button)) {
        set_entry(entry, event.type == SDL_MOUSEBUTTONDOWN);
      }
      break;
    default:
      break;
  }
}

void App::set_entry(int entry, bool down) {
  const auto i = static_cast<std::size_t>(entry);
  if (down) {
    host.base.key_table()[i] = 1;
    unseen_press[i] = true;
    held_release[i] = false;
  } else if (unseen_press[i]) {
    held_release[i] = true;
  } else {
    host.base.key_table()[i] = 0;
  }
}

void App::release_held_keys() {
  for (std::size_t i = 0; i < 256; ++i) {
    if (held_release[i]) host.base.key_table()[i] = 0;
    held_release[i] = false;
    unseen_press[i] = false;
  }
}

void App::step_game(SDL_Window* window, bool fullscreen) {
  const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  host.base.clock_ms() = static_cast<std::uint32_t>(static_cast<std::uint64_t>(since.count()));

  const std::optional<GameError> error = game.step_frame(host);
  release_held_keys();
  if (const std::optional<GameError> e = error) {
    const std::string message(text(*e));
    std::cerr << message << std::endl;
    if (show_error) show_error(message);
    quit = true;
    return;
  }

  game.bgm().zt_bgm_tick(host);
  host.bgm().pump();

  if (game.settings().flags != last_flags) {
    last_flags = game.settings().flags;
    host.sfx->set_enabled((last_flags & kPlaySE) != 0);
  }

  std::vector<DisplayEvent> events = host.base.take_events();
  if (!events.empty()) {
    DisplayEvent& newest = events.back();
    frame_width = newest.width;
    frame_height = newest.height;
    frame_palette = newest.palette;
    frame_pixels = std::move(newest.pixels);
    new_frame = true;
  }

  warp_cursor(window, fullscreen);
  apply_cursor_grab(window, false);
  if (game.quit()) quit = true;
}

void App::warp_cursor(SDL_Window* window, bool fullscreen) {
  const std::uint8_t s = game.state();
  Point target;
  bool changed = false;
  if (s == kStateTitle && last_state != kStateTitle) {
    host.base.pointer() = {100, 130};
    host.pending_warp.reset();
    target = {100, 130};
    changed = true;
    last_state = kStateTitle;
  } else {
    changed = s != last_state;
    last_state = s;
    const std::optional<Point> pending = host.pending_warp;
    host.pending_warp.reset();
    if (!pending) return;
    target = *pending;
  }

  const bool replaying = game.recorder().state() == RecState::Playing;
  const bool move =
      fullscreen ? (!replaying || !cursor_shown) : (!replaying && (changed || grabbed));
  if (!move) return;
  const WindowSize size = window_size(window);
  if (size.width == 0 || size.height == 0) return;
  const layout::WindowPoint p =
      layout::game_to_window_center(size.width, size.height, target.x, target.y);
  // SDL2 on X11 drops a warp while a mouse rectangle is set.
  if (mouse_rect) SDL_SetWindowMouseRect(window, nullptr);
  SDL_WarpMouseInWindow(window, static_cast<int>(std::floor(p.x)),
                        static_cast<int>(std::floor(p.y)));
  if (mouse_rect) SDL_SetWindowMouseRect(window, &*mouse_rect);
}

void App::apply_cursor_grab(SDL_Window* window, bool force) {
  const bool in_play = game.state() == kStatePlay && game.recorder().state() != RecState::Playing;
  const bool want = focused && (window_fullscreen(window) || confine == Confine::On ||
                                (confine == Confine::Play && in_play));
  // SDL grabs again by itself when the window gains the focus, so a refusal
  // can come after a grab that seemed to hold.
  const bool lost = want && grabbed && grab_watch != nullptr && grab_watch->refusal();
  if (!force && !lost && grab_state != 2 && grab_state == (want ? 1 : 0)) return;
  grab_state = want ? 1 : 0;

  if (want) {
    mouse_rect = field_rect(window_size(window));
    (void)SDL_SetWindowMouseRect(window, &*mouse_rect);
  } else {
    mouse_rect.reset();
    (void)SDL_SetWindowMouseRect(window, nullptr);
  }
  SDL_SetWindowMouseGrab(window, want ? SDL_TRUE : SDL_FALSE);
  // SDL2 reports no result: the grab in force tells, unless the X server
  // refused it, which only SDL's log says. A window without the input focus
  // yet (just created) gets the grab once the focus arrives.
  const std::optional<std::string> refusal =
      want && grab_watch != nullptr ? grab_watch->refusal() : std::nullopt;
  const Uint32 flags = SDL_GetWindowFlags(window);
  const bool pending =
      want && (flags & SDL_WINDOW_MOUSE_GRABBED) != 0 && (flags & SDL_WINDOW_INPUT_FOCUS) == 0;
  if (!refusal && (pending || (SDL_GetWindowMouseGrab(window) == SDL_TRUE) == want)) {
    grabbed = want;
    return;
  }
  if (refusal) grabbed = false;  // the pointer is free whatever SDL says
  if (want && !grab_error_reported) {
    grab_error_reported = true;
    std::cerr << "could not confine the pointer to the play field: "
              << (refusal ? *refusal : std::string(SDL_GetError())) << std::endl;
  }
}

std::optional<std::string> unseen_video_driver(std::string_view in_use, const char* named,
                                               const char* display, const char* wayland_display) {
  const std::string driver = ascii_lower(in_use);
  if (driver != "offscreen" && driver != "dummy") return std::nullopt;
  std::string_view list = named != nullptr ? named : "";
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (ascii_lower(list.substr(0, comma)) == driver) return std::nullopt;
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  std::string where;
  const auto set = [](const char* v) { return v != nullptr && *v != '\0'; };
  if (set(display)) where = std::string("DISPLAY=") + display;
  if (set(wayland_display)) {
    where += where.empty() ? "" : ", ";
    where += std::string("WAYLAND_DISPLAY=") + wayland_display;
  }
  if (where.empty()) where = "DISPLAY is not set";
  return "no display could be opened (" + where + "), and SDL's \"" + driver +
         "\" driver shows nothing";
}

void App::present(SDL_Texture* texture) {
  void* memory = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(texture, nullptr, &memory, &pitch) != 0) return;
  auto* bytes = static_cast<std::uint8_t*>(memory);
  const std::vector<std::uint8_t>& pixels = *frame_pixels;
  // A picture of another size than the field is drawn where it overlaps it.
  const std::size_t w = static_cast<std::size_t>(std::clamp(frame_width, 0, 320));
  const std::size_t h = static_cast<std::size_t>(std::clamp(frame_height, 0, 240));
  const std::size_t stride = static_cast<std::size_t>(std::max(frame_width, 0));
  for (std::size_t y = 0; y < 240; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(bytes + y * static_cast<std::size_t>(pitch));
    const std::size_t first = y * stride;
    const std::size_t n = y < h && first < pixels.size() ? std::min(w, pixels.size() - first) : 0;
    for (std::size_t x = 0; x < n; ++x) row[x] = colour_table[pixels[first + x]];
    std::fill(row + n, row + 320, 0u);
  }
  SDL_UnlockTexture(texture);
}

namespace {

// Paints black what the field leaves of the window.
void clear_around(SDL_Renderer* renderer, const WindowSize& size, const SDL_Rect& field) {
  const int w = static_cast<int>(size.width);
  const int h = static_cast<int>(size.height);
  const int right = field.x + field.w;
  const int bottom = field.y + field.h;
  const SDL_Rect around[] = {{0, 0, w, field.y},
                             {0, bottom, w, h - bottom},
                             {0, field.y, field.x, field.h},
                             {right, field.y, w - right, field.h}};
  for (const SDL_Rect& r : around) {
    if (r.w > 0 && r.h > 0) (void)SDL_RenderFillRect(renderer, &r);
  }
}

}  // namespace

void App::draw(SDL_Renderer* renderer, SDL_Texture* texture, SDL_Window* window) {
  new_frame = false;
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
  if (frame_pixels) {
    // The picture covers the field: clearing under it as well would write
    // every pixel of the window twice, which a software renderer feels.
    const WindowSize size = window_size(window);
    const SDL_Rect dst = field_rect(size);
    clear_around(renderer, size, dst);
    if (!colour_table_valid || frame_palette != colour_table_palette) {
      colour_table = layout::rgb_lut(frame_palette);
      colour_table_valid = true;
      colour_table_palette = frame_palette;
    }
    present(texture);
    (void)SDL_RenderCopy(renderer, texture, nullptr, &dst);
  } else {
    SDL_RenderClear(renderer);
  }
  SDL_RenderPresent(renderer);
}

void App::save_on_exit() {
  std::optional<std::vector<std::uint8_t>> bytes;
  if (const std::optional<ScoreFileImage> image = game.hiscore_bytes()) {
    bytes.emplace(image->begin(), image->end());
  }
  options::write_save_files(data_dir, settings_text, bytes, settings_at_start, snapshot(game),
                            options::report_save_error, save_files_at_start);
}

std::variant<std::unique_ptr<App>, std::string> create_app(
    const Options& opts, const fs::path& data_dir, const std::optional<AudioSubsystem>& audio) {
  std::variant<fs::path, std::string> images = require_data_dir(data_dir);
  if (std::string* error = std::get_if<std::string>(&images)) return *error;

  // What a run killed while saving left behind.
  for (const fs::path& removed : remove_stale_temp_files(data_dir)) {
    std::cerr << "removed the stale temporary file " << removed.string() << std::endl;
  }

  options::SaveFilesAtStart found;
  const std::optional<std::vector<std::uint8_t>> ini =
      options::read_save_file(data_dir / "Zentria.ini", kSettingsFileCap,
                              "using the default settings", found.settings, std::cerr);
  std::string settings_text = ini ? config_text(*ini) : std::string();
  const TConfig settings = load_config(settings_text);

  std::variant<BaseHost, std::string> base = BaseHost::create(std::get<fs::path>(images));
  if (std::string* error = std::get_if<std::string>(&base)) return *error;

  auto sfx = std::make_unique<SfxBackend>(audio, data_dir);
  std::optional<fs::path> soundfont;
  if (opts.soundfont) soundfont = fs::path(*opts.soundfont);
  std::unique_ptr<BgmBackend> music = create(audio, data_dir, soundfont, opts.midi_port);

  PlayHost host(std::move(std::get<BaseHost>(base)), std::move(sfx), std::move(music));
  host.sfx->set_enabled((settings.flags & kPlaySE) != 0);

  std::optional<std::vector<std::uint8_t>> score =
      options::read_save_file(data_dir / "ZTScore.dat", kScoreFileCap,
                              "using the default score table", found.score, std::cerr);
  StartedGame started = start_game(settings, score, host);
  if (started.score == HiScoreLoad::Invalid) {
    found.score.state = options::SaveFileAtStart::State::Damaged;
    found.score.bytes = std::move(*score);
  }
  auto app = std::make_unique<App>(std::move(started.game), std::move(host), data_dir,
                                   std::move(settings_text), opts);
  app->settings_at_start = snapshot(settings);
  app->save_files_at_start = std::move(found);

  app->start = Clock::now();
  app->next_step = app->start;
  app->last_state = app->game.state();
  app->last_flags = app->game.settings().flags;
  return app;
}

void sleep_until(Clock::time_point deadline) {
  const Clock::duration left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return;
  // The deadline as a reading of CLOCK_MONOTONIC, whatever epoch Clock has.
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  constexpr std::int64_t kBillion = 1'000'000'000;
  const std::int64_t ns = std::int64_t{t.tv_sec} * kBillion + t.tv_nsec +
                          std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  t.tv_sec = static_cast<time_t>(ns / kBillion);
  t.tv_nsec = static_cast<long>(ns % kBillion);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

void main_loop(SDL_Texture* texture, SDL_Renderer* renderer, App& app, SDL_Window* window,
               bool& fullscreen) {
  SDL_Event event;
  while (!app.quit) {
    if (SDL_PollEvent(&event)) {
      app.handle_event(event, window, fullscreen);
      continue;
    }
    fullscreen = window_fullscreen(window);
    const Clock::time_point now = Clock::now();
    if (app.fast) {
      const Clock::time_point end = now + kFastSlice;
      do {
        app.step_game(window, fullscreen);
      } while (!app.quit && Clock::now() < end);
      app.next_step = Clock::now();
    } else if (now >= app.next_step) {
      app.step_game(window, fullscreen);
      app.next_step += kStep;
      if (app.next_step < now) app.next_step = now;
    }
    if (app.new_frame) app.draw(renderer, texture, window);
    if (!app.fast) {
      const Clock::time_point t = Clock::now();
      if (t < app.next_step) sleep_until(std::min(app.next_step, t + kMaxSleep));
    }
  }
}

namespace {

// SDL objects released in reverse order of their making.
struct SdlDeleter {
  void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
  void operator()(SDL_Renderer* r) const { SDL_DestroyRenderer(r); }
  void operator()(SDL_Texture* t) const { SDL_DestroyTexture(t); }
};

class Subsystem {
 public:
  explicit Subsystem(Uint32 flags) : flags_(flags) {}
  Subsystem(const Subsystem&) = delete;
  Subsystem& operator=(const Subsystem&) = delete;
  ~Subsystem() {
    if (flags_ != 0) SDL_QuitSubSystem(flags_);
  }

 private:
  Uint32 flags_;
};

// SDL_Quit once everything else is gone.
struct SdlLibrary {
  SdlLibrary() = default;
  SdlLibrary(const SdlLibrary&) = delete;
  SdlLibrary& operator=(const SdlLibrary&) = delete;
  ~SdlLibrary() { SDL_Quit(); }
};

std::string sdl_error(std::string_view what) {
  return std::string(what) + SDL_GetError();
}

}  // namespace

std::optional<std::string> run(const std::vector<std::string>& args) {
  std::variant<Options, std::string> parsed = options::parse_options(args);
  if (std::string* error = std::get_if<std::string>(&parsed)) return *error;
  const Options& opts = std::get<Options>(parsed);
  if (opts.help) {
    std::cout << options::usage_text() << std::endl;
    dialog::show(dialog::kInformation, options::usage_text());
    return std::nullopt;
  }
  const fs::path data_dir = options::resolve_data_dir(opts.data_dir);

  // Which renderer SDL would pick is asked in a child process made before
  // SDL or any thread starts; it answers while the game loads.
  std::optional<renderer::Probe> probe =
      renderer::user_chose_renderer() ? std::nullopt : renderer::Probe::start();

  if (SDL_Init(0) != 0) return sdl_error("could not init SDL3: ");
  SdlLibrary sdl;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    return sdl_error("could not init the SDL3 video subsystem: ");
  }
  Subsystem video(SDL_INIT_VIDEO);
  const char* driver = SDL_GetCurrentVideoDriver();
  if (const std::optional<std::string> why =
          unseen_video_driver(driver != nullptr ? driver : "", SDL_GetHint(SDL_HINT_VIDEODRIVER),
                              std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
    return "could not init the SDL3 video subsystem: " + *why;
  }
  const GrabRefusalWatch grab_watch;

  std::optional<AudioSubsystem> audio;
  {
    std::variant<AudioSubsystem, std::string> a = AudioSubsystem::init();
    if (std::string* error = std::get_if<std::string>(&a)) {
      std::cerr << "sfx: no audio subsystem (" << *error << ")" << std::endl;
    } else {
      audio.emplace(std::move(std::get<AudioSubsystem>(a)));
    }
  }

  std::variant<std::unique_ptr<App>, std::string> made = create_app(opts, data_dir, audio);
  if (std::string* error = std::get_if<std::string>(&made)) return *error;
  std::unique_ptr<App> app = std::move(std::get<std::unique_ptr<App>>(made));
  app->grab_watch = &grab_watch;

  const int w = static_cast<int>(320 * opts.scale);
  const int h = static_cast<int>(240 * opts.scale);
  std::unique_ptr<SDL_Window, SdlDeleter> window(SDL_CreateWindow(
      "Zentropolium", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_RESIZABLE));
  if (!window) return sdl_error("could not create the window: ");
  SDL_SetWindowMinimumSize(window.get(), 320, 240);

  bool fullscreen = false;
  if (opts.fullscreen) {
    if (SDL_SetWindowFullscreen(window.get(), SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
      return sdl_error("could not enter fullscreen: ");
    }
    fullscreen = true;
  }

  std::optional<renderer::Picked> picked;
  if (probe) picked = probe->result(kProbeTimeout);
  std::unique_ptr<SDL_Renderer, SdlDeleter> renderer(renderer::create(window.get(), picked));
  if (!renderer) return sdl_error("could not create the renderer: ");
  std::unique_ptr<SDL_Texture, SdlDeleter> texture(SDL_CreateTexture(
      renderer.get(), SDL_PIXELFORMAT_XRGB8888, SDL_TEXTUREACCESS_STREAMING, 320, 240));
  if (!texture) return sdl_error("could not create the present texture: ");
  SDL_SetTextureScaleMode(texture.get(), SDL_ScaleModeNearest);

  SDL_ShowCursor(opts.cursor_shown ? SDL_ENABLE : SDL_DISABLE);
  app->apply_cursor_grab(window.get(), true);

  if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) {
    return sdl_error("could not create the SDL3 event pump: ");
  }
  Subsystem events(SDL_INIT_EVENTS);

  main_loop(texture.get(), renderer.get(), *app, window.get(), fullscreen);
  // The exit screen's fade is still queued when the loop ends.
  if (audio) audio->drain(kExitDrain);
  app->save_on_exit();
  return std::nullopt;
}

}  // namespace zt::game
