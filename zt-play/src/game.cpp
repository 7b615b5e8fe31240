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

}  // namespace

// ---- GameWindow ----

GameWindow::GameWindow(WindowPtr window, RendererPtr renderer, TexturePtr texture, bool fullscreen)
    : window_(std::move(window)),
      renderer_(std::move(renderer)),
      texture_(std::move(texture)),
      fullscreen_(fullscreen) {}

std::variant<GameWindow, std::string> GameWindow::open(
    std::uint32_t scale, bool fullscreen,
    const std::function<std::optional<renderer::Picked>()>& pick_renderer) {
  const auto sdl_error = [](std::string_view what) { return std::string(what) + SDL_GetError(); };
  const int w = static_cast<int>(320 * scale);
  const int h = static_cast<int>(240 * scale);
  WindowPtr window(SDL_CreateWindow("Zentropolium", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                    w, h, SDL_WINDOW_RESIZABLE));
  if (!window) return sdl_error("could not create the window: ");
  SDL_SetWindowMinimumSize(window.get(), 320, 240);

  if (fullscreen && SDL_SetWindowFullscreen(window.get(), SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
    return sdl_error("could not enter fullscreen: ");
  }

  RendererPtr renderer(renderer::create(window.get(), pick_renderer()));
  if (!renderer) return sdl_error("could not create the renderer: ");
  TexturePtr texture(SDL_CreateTexture(renderer.get(), SDL_PIXELFORMAT_XRGB8888,
                                       SDL_TEXTUREACCESS_STREAMING, 320, 240));
  if (!texture) return sdl_error("could not create the present texture: ");
  SDL_SetTextureScaleMode(texture.get(), SDL_ScaleModeNearest);
  return GameWindow(std::move(window), std::move(renderer), std::move(texture), fullscreen);
}

void GameWindow::refresh_fullscreen() {
  fullscreen_ = window_fullscreen(window_.get());
}

void GameWindow::toggle_fullscreen() {
  const bool want = !fullscreen_;
  fullscreen_ = want;
  if (SDL_SetWindowFullscreen(window_.get(), want ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) {
    std::cerr << "could not toggle fullscreen: " << SDL_GetError() << std::endl;
    fullscreen_ = !want;
  }
}

// ---- InputLatch ----

void InputLatch::set(KeyTable& keys, int entry, bool down) {
  const auto i = static_cast<std::size_t>(entry);
  if (down) {
    keys[i] = 1;
    unseen_press_[i] = true;
    held_release_[i] = false;
  } else if (unseen_press_[i]) {
    held_release_[i] = true;
  } else {
    keys[i] = 0;
  }
}

void InputLatch::release_held(KeyTable& keys) {
  for (std::size_t i = 0; i < 256; ++i) {
    if (held_release_[i]) keys[i] = 0;
    held_release_[i] = false;
    unseen_press_[i] = false;
  }
}

// ---- PointerConfinement ----

void PointerConfinement::apply(SDL_Window* window, bool want, bool force) {
  // SDL grabs again by itself when the window gains the focus, so a refusal
  // can come after a grab that seemed to hold.
  const bool lost = want && grabbed_ && watch_ != nullptr && watch_->refusal();
  const Confinement wanted = want ? Confinement::kConfined : Confinement::kFree;
  if (!force && !lost && state_ == wanted) return;
  state_ = wanted;

  if (want) {
    rect_ = field_rect(window_size(window));
    (void)SDL_SetWindowMouseRect(window, &*rect_);
  } else {
    rect_.reset();
    (void)SDL_SetWindowMouseRect(window, nullptr);
  }
  SDL_SetWindowMouseGrab(window, want ? SDL_TRUE : SDL_FALSE);
  // SDL2 reports no result: the grab in force tells, unless the X server
  // refused it, which only SDL's log says. A window without the input focus
  // yet (just created) gets the grab once the focus arrives.
  const std::optional<std::string> refusal =
      want && watch_ != nullptr ? watch_->refusal() : std::nullopt;
  const Uint32 flags = SDL_GetWindowFlags(window);
  const bool pending =
      want && (flags & SDL_WINDOW_MOUSE_GRABBED) != 0 && (flags & SDL_WINDOW_INPUT_FOCUS) == 0;
  if (!refusal && (pending || (SDL_GetWindowMouseGrab(window) == SDL_TRUE) == want)) {
    grabbed_ = want;
    return;
  }
  if (refusal) grabbed_ = false;  // the pointer is free whatever SDL says
  if (want && !error_reported_) {
    error_reported_ = true;
    std::cerr << "could not confine the pointer to the play field: "
              << (refusal ? *refusal : std::string(SDL_GetError())) << std::endl;
  }
}

void PointerConfinement::warp(SDL_Window* window, int x, int y) const {
  // SDL2 on X11 drops a warp while a mouse rectangle is set.
  if (rect_) SDL_SetWindowMouseRect(window, nullptr);
  SDL_WarpMouseInWindow(window, x, y);
  if (rect_) SDL_SetWindowMouseRect(window, &*rect_);
}

// ---- App ----

App::App(TGame g, PlayHost h, fs::path dir, std::string text, const Options& opts)
    : game(std::move(g)),
      host(std::move(h)),
      data_dir_(std::move(dir)),
      settings_text_(std::move(text)),
      start_(Clock::now()),
      next_step_(start_),
      cursor_shown_(opts.cursor_shown),
      confine_(opts.confine),
      last_state_(game.state()),
      last_flags_(game.settings().flags),
      show_error_(show_error_box) {}

void App::handle_event(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      quit_ = true;
      break;
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          quit_ = true;
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          focused_ = true;
          apply_cursor_grab(true);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          focused_ = false;
          apply_cursor_grab(true);
          break;
        case SDL_WINDOWEVENT_RESIZED:
          if (focused_) apply_cursor_grab(true);
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
        input_.set(host.base.key_table(), entry, down);
      } else if (sym == SDLK_LSHIFT || sym == SDLK_RSHIFT) {
        input_.set_fast(down);
      } else if (sym == SDLK_F11 && down) {
        window().toggle_fullscreen();
        apply_cursor_grab(true);
      }
      break;
    }
    case SDL_MOUSEMOTION: {
      const WindowSize size = window_size(window().window());
      host.base.pointer() =
          layout::window_to_game(size.width, size.height, event.motion.x, event.motion.y);
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (const int entry = button_entry(event.button.button)) {
        input_.set(host.base.key_table(), entry, event.type == SDL_MOUSEBUTTONDOWN);
      }
      break;
    default:
      break;
  }
}

void App::take_frame(DisplayEvent frame) {
  frame_ = std::move(frame);
  new_frame_ = true;
}

void App::step_game() {
  const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
  host.base.clock_ms() = static_cast<std::uint32_t>(static_cast<std::uint64_t>(since.count()));

  const std::optional<GameError> error = game.step_frame(host);
  release_held_keys();
  if (const std::optional<GameError> e = error) {
    const std::string message(text(*e));
    std::cerr << message << std::endl;
    if (show_error_) show_error_(message);
    quit_ = true;
    return;
  }

  game.bgm().zt_bgm_tick(host);
  host.bgm().pump();

  if (game.settings().flags != last_flags_) {
    last_flags_ = game.settings().flags;
    host.sfx->set_enabled((last_flags_ & kPlaySE) != 0);
  }

  std::vector<DisplayEvent> events = host.base.take_events();
  if (!events.empty()) take_frame(std::move(events.back()));

  warp_cursor();
  apply_cursor_grab(false);
  if (game.quit()) quit_ = true;
}

void App::warp_cursor() {
  const std::uint8_t s = game.state();
  Point target;
  bool changed = false;
  if (s == kStateTitle && last_state_ != kStateTitle) {
    host.base.pointer() = {100, 130};
    host.pending_warp.reset();
    target = {100, 130};
    changed = true;
    last_state_ = kStateTitle;
  } else {
    changed = s != last_state_;
    last_state_ = s;
    const std::optional<Point> pending = host.pending_warp;
    host.pending_warp.reset();
    if (!pending) return;
    target = *pending;
  }

  const bool replaying = game.recorder().state() == RecState::Playing;
  const bool move = window().fullscreen() ? (!replaying || !cursor_shown_)
                                          : (!replaying && (changed || confinement_.grabbed()));
  if (!move) return;
  const WindowSize size = window_size(window().window());
  if (size.width == 0 || size.height == 0) return;
  const layout::WindowPoint p =
      layout::game_to_window_center(size.width, size.height, target.x, target.y);
  confinement_.warp(window().window(), static_cast<int>(std::floor(p.x)),
                    static_cast<int>(std::floor(p.y)));
}

void App::apply_cursor_grab(bool force) {
  SDL_Window* w = window().window();
  const bool in_play = game.state() == kStatePlay && game.recorder().state() != RecState::Playing;
  const bool want = focused_ && (window_fullscreen(w) || confine_ == Confine::On ||
                                 (confine_ == Confine::Play && in_play));
  confinement_.apply(w, want, force);
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

void GameWindow::fill_texture(const DisplayEvent& frame) {
  void* memory = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(texture_.get(), nullptr, &memory, &pitch) != 0) return;
  auto* bytes = static_cast<std::uint8_t*>(memory);
  const std::vector<std::uint8_t>& pixels = frame.pixels;
  // A picture of another size than the field is drawn where it overlaps it.
  const std::size_t w = static_cast<std::size_t>(std::clamp(frame.width, 0, 320));
  const std::size_t h = static_cast<std::size_t>(std::clamp(frame.height, 0, 240));
  const std::size_t stride = static_cast<std::size_t>(std::max(frame.width, 0));
  for (std::size_t y = 0; y < 240; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(bytes + y * static_cast<std::size_t>(pitch));
    const std::size_t first = y * stride;
    const std::size_t n = y < h && first < pixels.size() ? std::min(w, pixels.size() - first) : 0;
    for (std::size_t x = 0; x < n; ++x) row[x] = colour_table_[pixels[first + x]];
    std::fill(row + n, row + 320, 0u);
  }
  SDL_UnlockTexture(texture_.get());
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

void GameWindow::draw(const DisplayEvent* frame) {
  SDL_Renderer* renderer = renderer_.get();
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
  if (frame != nullptr) {
    // The picture covers the field: clearing under it as well would write
    // every pixel of the window twice, which a software renderer feels.
    const WindowSize size = window_size(window_.get());
    const SDL_Rect dst = field_rect(size);
    clear_around(renderer, size, dst);
    if (!colour_table_valid_ || frame->palette != colour_table_palette_) {
      colour_table_ = layout::rgb_lut(frame->palette);
      colour_table_valid_ = true;
      colour_table_palette_ = frame->palette;
    }
    fill_texture(*frame);
    (void)SDL_RenderCopy(renderer, texture_.get(), nullptr, &dst);
  } else {
    SDL_RenderClear(renderer);
  }
  SDL_RenderPresent(renderer);
}

void App::draw() {
  new_frame_ = false;
  window().draw(frame_ ? &*frame_ : nullptr);
}

void App::save_on_exit() {
  std::optional<std::vector<std::uint8_t>> bytes;
  if (const std::optional<ScoreFileImage> image = game.hiscore_bytes()) {
    bytes.emplace(image->begin(), image->end());
  }
  options::write_save_files(data_dir_, settings_text_, bytes, settings_at_start, snapshot(game),
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

  app->start_ = Clock::now();
  app->next_step_ = app->start_;
  app->last_state_ = app->game.state();
  app->last_flags_ = app->game.settings().flags;
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

void App::run_loop() {
  SDL_Event event;
  while (!quit_) {
    if (SDL_PollEvent(&event)) {
      handle_event(event);
      continue;
    }
    window().refresh_fullscreen();
    const Clock::time_point now = Clock::now();
    if (fast()) {
      const Clock::time_point end = now + kFastSlice;
      do {
        step_game();
      } while (!quit_ && Clock::now() < end);
      next_step_ = Clock::now();
    } else if (now >= next_step_) {
      step_game();
      next_step_ += kStep;
      if (next_step_ < now) next_step_ = now;
    }
    if (new_frame_) draw();
    if (!fast()) {
      const Clock::time_point t = Clock::now();
      if (t < next_step_) sleep_until(std::min(next_step_, t + kMaxSleep));
    }
  }
}

namespace {

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
  app->set_grab_watch(&grab_watch);

  std::variant<GameWindow, std::string> window =
      GameWindow::open(opts.scale, opts.fullscreen, [&probe]() -> std::optional<renderer::Picked> {
        if (probe) return probe->result(kProbeTimeout);
        return std::nullopt;
      });
  if (std::string* error = std::get_if<std::string>(&window)) return *error;
  app->attach(std::move(std::get<GameWindow>(window)));

  SDL_ShowCursor(opts.cursor_shown ? SDL_ENABLE : SDL_DISABLE);
  app->apply_cursor_grab(true);

  if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) {
    return sdl_error("could not create the SDL3 event pump: ");
  }
  Subsystem events(SDL_INIT_EVENTS);

  app->run_loop();
  // The exit screen's fade is still queued when the loop ends.
  if (audio) audio->drain(kExitDrain);
  app->save_on_exit();
  return std::nullopt;
}

}  // namespace zt::game
