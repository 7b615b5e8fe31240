#include "game/ugame.h"

#include <algorithm>
#include <string>

#include "formats/date_time.h"
#include "game/x87_int.h"
#include "x87.h"

namespace zt {

std::string_view text(GameError e) {
  switch (e) {
    case GameError::Recording:
      return "could not read or write the recording";
    case GameError::Screenshot:
      return "could not save the screenshot";
  }
  return "";
}

TGame::TGame(const TConfig& settings)
    : pend_(TPend::create(kFieldWidth, kFieldHeight, settings.gravity, settings.collision_constant,
                          settings.natural_length, settings.rubber_constant, settings.ball_mass,
                          settings.experiment)),
      settings_(settings) {
  for (int i = 0; i < 3; ++i) slots_.push({160, 120}, kTargetPlain, {0, 0});
  play_.gravity = settings.gravity;
  play_.collision_constant = settings.collision_constant;
}

TGame TGame::create(const TConfig& settings) {
  return TGame(settings);
}

void TGame::set_screen_size(std::int32_t w, std::int32_t h) {
  // The pointer mapping divides by these.
  screen_width_ = std::max(w, 1);
  screen_height_ = std::max(h, 1);
}

std::optional<GameError> TGame::run_handler(Host& host) {
  switch (state_) {
    case kStateLogo:
      return state_logo(host);
    case kStateTitle:
      return state_title(host);
    case kStateOptions:
      return state_options(host);
    case kStateSlots:
      return state_slots(host);
    case kStateIntro:
      return state_intro(host);
    case kStatePlay:
      return state_play(host);
    case kStateLineCut:
      return state_line_cut(host);
    case kStateResult:
      return state_result(host);
    case kStateNameEntry:
      return state_name_entry(host);
    case kStatePause:
      return state_pause(host);
    case kStateTop10:
      return state_top10(host);
    case kStateExit:
      return state_exit(host);
    default:
      return std::nullopt;
  }
}

namespace {
// Counters that run for the whole program wrap instead of overflowing.
std::int32_t wrapping_inc(std::int32_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) + 1u);
}
}  // namespace

std::optional<GameError> TGame::step_frame(Host& host) {
  frame_counter_ = wrapping_inc(frame_counter_);
  banner_frame_counter_ = wrapping_inc(banner_frame_counter_);

  const std::uint32_t t = host.now_ms();
  if (t / 1000u != fps_second_ / 1000u) {
    fps_shown_ = fps_frames_;
    fps_second_ = t;
    fps_frames_ = 1;
  } else {
    fps_frames_ = wrapping_inc(fps_frames_);
  }

  if (std::optional<GameError> e = run_handler(host)) return e;
  if (state_ == kStateExit) return std::nullopt;

  const bool leave = host.key_down(kKeyEsc) || host.key_down(kKeyQ) ||
                     (host.key_down(kKeyRButton) && flag(kExitWithRBtn));
  if (leave) {
    if (state_ == kStateLogo) {
      quit_ = true;
    } else if (state_ == kStateTitle) {
      set_state(kStateExit, host);
    } else {
      if (recorder_.state() != RecState::Idle) recorder_.close(host.recorder_io());
      set_state(kStateTitle, host);
    }
  }

  if (host.key_down(kKeyS)) {
    if (std::optional<GameError> e = save_screenshot(host)) return e;
  }
  return std::nullopt;
}

std::optional<GameError> TGame::save_screenshot(Host& host) {
  // Nothing to save from a lost frame: no file, no number, no sound.
  if (host.surface_lost(kFrame)) return std::nullopt;
  if (host.save_screenshot(kFrame, shown_palette_, screenshot_number_)) {
    return GameError::Screenshot;
  }
  screenshot_number_ = wrapping_inc(screenshot_number_);
  host.play_sound("select", 9);
  return std::nullopt;
}

void TGame::load_palette(std::string_view name, Host& host) {
  if (std::optional<Palette> p = host.load_named_into(kPicture, name)) {
    base_palette_ = *p;
    shown_palette_ = *p;
  }
}

void TGame::set_state(std::uint8_t s, Host& host) {
  if (s == state_) return;
  previous_state_ = state_;
  frame_counter_ = 0;
  state_ = s;
  if (s == kStateLogo) load_palette("logo.bmp", host);
  if (previous_state_ == kStateLogo) load_palette("ball.bmp", host);
  set_palette_level(255, host);
  back_colour_ = s < kStateIntro ? 0 : 13;
  for (const std::int32_t key :
       {kKeyP, kKeyQ, kKeyR, kKeyS, kKeyEsc, kKeyC, kKeyLButton, kKeyRButton}) {
    host.clear_key(key);
  }
}

void TGame::set_palette_level(std::int32_t level, Host& host) {
  const std::int32_t l = std::clamp(level, 0, 255);
  for (std::size_t e = 0; e < 256; ++e) {
    for (std::size_t c = 0; c < 3; ++c) {
      const std::size_t i = e * 4 + c;
      shown_palette_[i] = static_cast<std::uint8_t>(base_palette_[i] * l / 255);
    }
  }
  host.realize_palette(shown_palette_);
}

void TGame::present(Host& host) {
  if (flag(kViewFpsNumber)) {
    draw_text("FPS" + std::to_string(fps_shown_), 5, 20, kAlignLeft, 0, false, 0, host);
  }
  const Size f = host.surface_size(kFrame);
  if (flag(kMiniScreen)) {
    host.dd_blit_rect_to(kPresent, kFrame, 0, 0, f.width, f.height, (screen_width_ - f.width) / 2,
                         (screen_height_ - f.height) / 2, f.width, f.height, false);
  } else {
    host.dd_blit_rect_to(kPresent, kFrame, 0, 0, f.width, f.height, 0, 0, screen_width_,
                         screen_height_, false);
  }
  host.present();
}

Point TGame::pointer_pos(Host& host) const {
  const Point p = host.mouse_pos();
  return {static_cast<std::int32_t>(std::int64_t{p.x} * kFieldWidth / screen_width_),
          static_cast<std::int32_t>(std::int64_t{p.y} * kFieldHeight / screen_height_)};
}

void TGame::warp_pointer(std::int32_t x, std::int32_t y, Host& host) const {
  host.warp_mouse(static_cast<std::int32_t>(std::int64_t{x} * screen_width_ / kFieldWidth),
                  static_cast<std::int32_t>(std::int64_t{y} * screen_height_ / kFieldHeight));
}

HiScoreLoad TGame::hiscore_load(const std::optional<std::vector<std::uint8_t>>& bytes) {
  return zt::hiscore_load(hiscore_, bytes);
}

std::optional<ScoreFileImage> TGame::hiscore_bytes() {
  return zt::hiscore_bytes(hiscore_);
}

namespace {

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Decimal with leading zeros up to the given width.
std::string padded(std::int64_t v, std::size_t width) {
  std::string s = std::to_string(v);
  if (s.size() < width) s.insert(0, width - s.size(), '0');
  return s;
}

}  // namespace

DateTimeText format_tdatetime(double d) {
  // A date no calendar of either program holds would run off its field.
  if (!date_shown(d)) return {std::string(kNoDateText), std::string(kNoTimeText)};
  const X87 xdays = xd(d);
  const std::int64_t days = xdays.trunc_i64();
  const std::int64_t ms_raw = ((xdays - x87_from_i64(days)) * xi(86400000)).round_i64();

  // Civil date of day number z counted from 0000-03-01.
  const std::int64_t z = days + 693899;
  const std::int64_t era = floor_div(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

  std::int64_t ms = ms_raw % 86400000;
  if (ms < 0) ms += 86400000;
  const std::int64_t hours = ms / 3600000;
  const std::int64_t minutes = ms / 60000 % 60;
  const std::int64_t seconds = ms / 1000 % 60;

  const std::string date = padded(year, 4) + "/" + padded(month, 2) + "/" + padded(day, 2);
  const std::string time = padded(hours, 2) + ":" + padded(minutes, 2) + ":" + padded(seconds, 2);
  return {date, time};
}

}  // namespace zt
