// The screens around the play: logo, title menu, options, replay slots, stage
// intro, pause, top 10, exit, and the demonstration's banner.
#include <algorithm>
#include <array>
#include <string>

#include "game/ugame.h"

namespace zt {

namespace {

constexpr std::int32_t kIconCell = sheet_layout(kSheetMenuIcon).cell_width;
constexpr std::int32_t kTitleW = sheet_layout(kSheetTitle).cell_width;
constexpr std::int32_t kTitleH = sheet_layout(kSheetTitle).cell_height;
constexpr std::int32_t kJudgeW = sheet_layout(kSheetJudge).cell_width;
constexpr std::int32_t kJudgeH = sheet_layout(kSheetJudge).cell_height;
constexpr std::int32_t kGameOverW = sheet_layout(kSheetGameOver).cell_width;
constexpr std::int32_t kGameOverH = sheet_layout(kSheetGameOver).cell_height;
constexpr std::int32_t kTargetCell = sheet_layout(kSheetTarget).cell_width;
constexpr std::int32_t kTargetColumns = sheet_layout(kSheetTarget).columns;

constexpr std::int32_t kMenuRows = 6;
constexpr std::int32_t kMenuTop = 130;
constexpr std::int32_t kMenuBottom = 205;

constexpr std::array<std::string_view, 8> kOptionLabels = {
    "DRAW BACKGROUND", "PLAY WAVE SOUND", "PLAY MIDI MUSIC", "SHOW EACH SCORE",
    "AUTOMATIC  SAVE", "EXIT WITH R-BTN", "VIEW FPS NUMBER", "MINI SCREENSIZE"};
constexpr std::int32_t kOptionsTop = 65;
constexpr std::int32_t kOptionsBottom = 225;

constexpr std::int32_t kSlotsTop = 90;
constexpr std::int32_t kSlotsBottom = 225;

void clear_frame(Host& host) {
  host.dd_fill_rect(kFrame, 0, 0, kFieldWidth, kFieldHeight, 0);
}

void draw_menu_icon(std::int32_t fc, std::int32_t divisor, std::int32_t x, std::int32_t y,
                    Host& host) {
  const std::int32_t n = (fc / divisor) % 10;
  host.dd_blit_rect(kFrame, sheet_id(kSheetMenuIcon), kIconCell * n, 0, kIconCell, kIconCell, x, y,
                    true);
}

// The title menu's row under (x, y), 1..6, or 0.
std::int32_t menu_row_at(std::int32_t x, std::int32_t y, bool experiment) {
  if (x < 0 || x > 318) return 0;
  for (std::int32_t i = 1; i <= kMenuRows; ++i) {
    const std::int32_t top = 125 + 15 * (i - 1);
    if (y < top || y > top + 9) continue;
    if (experiment && (i == 4 || i == 5)) return 0;
    return i;
  }
  return 0;
}

bool slot_has_data(const RecHeaderRaw& h) {
  return h.date != 0.0 && h.format_mark >= RecHeaderRaw::kMinValidMark;
}

}  // namespace

bool TGame::take_click(Host& host) {
  const bool down = host.key_down(kKeyLButton);
  host.clear_key(kKeyLButton);
  return down;
}

std::optional<GameError> TGame::state_logo(Host& host) {
  const std::int32_t fc = frame_counter_;
  if (fc == 1 && settings_.experiment) host.play_sound("gravitychange", 7);
  if (fc <= 30) set_palette_level(fc * 255 / 30, host);
  if (fc >= 111) set_palette_level((180 - fc) * 255 / 70, host);

  clear_frame(host);
  const SurfaceId logo = sheet_id(kSheetLogo);
  const Size s = host.surface_size(logo);
  host.dd_blit_rect(kFrame, logo, 0, 0, s.width, s.height, (kFieldWidth - s.width) / 2,
                    (kFieldHeight - s.height) / 2, false);
  draw_text("PRESENTED BY", fc / 2 + 50, 60, kAlignLeft, 2, false, 0, host);
  if (fc >= 111) host.dd_pixelate(kFrame, (fc - 95) / 3);
  present(host);

  if (fc >= 180) {
    clear_frame(host);
    present(host);
    set_state(kStateTitle, host);
  }
  return std::nullopt;
}

std::optional<GameError> TGame::state_title(Host& host) {
  const std::int32_t fc = frame_counter_;
  const bool experiment = settings_.experiment;
  if (fc == 1) {
    warp_pointer(0, kMenuTop, host);
    if (!bgm_same_name(bgm_.current(), "title")) bgm_.change("title", 4, true, 0, 1, host);
  }

  clear_frame(host);
  const SurfaceId bg = sheet_id(kSheetTitleBg);
  const Size bs = host.surface_size(bg);
  host.dd_blit_rect(kFrame, bg, 0, 0, bs.width, bs.height, 0, 0, false);

  const SurfaceId title = sheet_id(kSheetTitle);
  const SurfaceId plate = host.create_scratch(kTitleW, kTitleH);
  const std::int32_t a = experiment ? (sine_at(fc) + 2000) % 300 : (fc * 10) % 300;
  host.dd_blit_rect(plate, title, 0, kTitleH, kTitleW, kTitleH, a - 300, 0, false);
  host.dd_blit_rect(plate, title, 0, kTitleH, kTitleW, kTitleH, a, 0, false);
  host.dd_blit_rect(plate, title, 0, 0, kTitleW, kTitleH, 0, 0, true);
  if (fc < 115) host.dd_pixelate(plate, 30 - fc / 4);
  const std::int32_t w = host.surface_size(title).width;
  host.dd_blit_rect(kFrame, plate, 0, 0, kTitleW, kTitleH, 160 - w / 2,
                    33 - sine_at(2 * std::int64_t{fc}) / 100, true);
  host.free_surface(plate);

  if (experiment) {
    draw_big_text("FOR EXPERIMENT", 160, 93 - sine_at(2 * std::int64_t{fc}) / 200, kAlignCentre, -2,
                  true, fc / 5, host);
  }
  if (fc % 40 < 20) draw_text("VER. 1.3", 319, 230, kAlignRight, 0, false, 0, host);

  Point p = pointer_pos(host);
  if (p.y < kMenuTop) {
    p.y = kMenuTop;
    warp_pointer(100, kMenuTop, host);
  } else if (p.y > kMenuBottom) {
    p.y = kMenuBottom;
    warp_pointer(100, kMenuBottom, host);
  }
  const std::int32_t hovered = menu_row_at(p.x, p.y, experiment);

  const std::array<std::string_view, kMenuRows> labels = {
      flag(kAutoSaveAt1) ? "NEW GAMEr" : "NEW GAME",
      "RANKING",
      "OPTION",
      "RECORD DATA",
      "REPLAY DATA",
      "EXIT GAME"};
  for (std::int32_t i = 1; i <= kMenuRows; ++i) {
    if (experiment && (i == 4 || i == 5)) continue;
    draw_text(labels[static_cast<std::size_t>(i - 1)], 159, 130 + 15 * (i - 1), kAlignCentre, 5,
              i == hovered, fc, host);
  }
  draw_menu_icon(fc, 3, 30, p.y - 16, host);
  if (previous_state_ == kStateLogo && fc <= 52) set_palette_level(5 * fc, host);
  present(host);

  if (fc == 1000 && recorder_.state() == RecState::Idle && !experiment &&
      recorder_.valid_slot(0, host.recorder_io())) {
    start_play(kModeReplay, 0, true, host);
    set_state(kStateIntro, host);
  }

  if (!take_click(host) || hovered == 0) return std::nullopt;
  host.play_sound("select", 5);
  switch (hovered) {
    case 1:
      if (flag(kAutoSaveAt1)) {
        start_play(kModeRecord, 1, false, host);
        play_.name_known = true;
      } else {
        start_play(kModePlain, 0, false, host);
      }
      set_state(kStateIntro, host);
      break;
    case 2:
      set_state(kStateTop10, host);
      break;
    case 3:
      set_state(kStateOptions, host);
      break;
    case 4:
      slot_mode_ = kModeRecord;
      set_state(kStateSlots, host);
      break;
    case 5:
      slot_mode_ = kModeReplay;
      set_state(kStateSlots, host);
      break;
    default:
      set_state(kStateExit, host);
      break;
  }
  return std::nullopt;
}

std::optional<GameError> TGame::state_options(Host& host) {
  const std::int32_t fc = frame_counter_;
  Point p = pointer_pos(host);
  if (p.y < kOptionsTop) {
    p.y = kOptionsTop;
    warp_pointer(p.x, kOptionsTop, host);
  } else if (p.y > kOptionsBottom) {
    p.y = kOptionsBottom;
    warp_pointer(p.x, kOptionsBottom, host);
  }

  draw_background(1, host);
  for (const std::int32_t y : {20, 48}) {
    draw_line(std::max(0, 160 - 3 * fc), y, std::min(319, 160 + 3 * fc), y, 113, host);
  }
  const std::int32_t scroll = (5 * fc) % kFieldWidth;
  draw_big_text("OPTION", kFieldWidth - scroll, 35, kAlignLeft, 6, false, 0, host);
  draw_big_text("OPTION", -scroll, 35, kAlignLeft, 6, false, 0, host);

  const std::int32_t s = sine_at(2 * std::int64_t{fc});
  for (std::int32_t i = 1; i <= 8; ++i) {
    const std::int32_t y = kOptionsTop + 20 * (i - 1);
    host.dd_fill_rect(kFrame, 0, y - 8, kFieldWidth, 16, 65);
    draw_text(kOptionLabels[static_cast<std::size_t>(i - 1)],
              sine_at(30 * std::int64_t{i} + fc) / 200 + 45, y, kAlignLeft, 2, false, 0, host);
    const std::int32_t cell = flag(static_cast<std::uint8_t>(1u << (i - 1))) ? 3 : 4;
    const std::int32_t l = 260 - s / 200;
    const std::int32_t t = y - s / 400 - 10;
    const std::int32_t r = 295 + s / 200;
    const std::int32_t b = y + s / 400 + 10;
    host.dd_blit_rect_to(kFrame, sheet_id(kSheetJudge), 0, kJudgeH * cell, kJudgeW, kJudgeH, l, t,
                         r - l, b - t, true);
  }
  draw_text("GO BACK TO MENU", 45, 225, kAlignLeft, 4, true, fc, host);
  draw_menu_icon(fc, 3, 15, p.y - 16, host);

  if (take_click(host)) {
    const bool in_x = p.x >= 0 && p.x <= 319;
    for (std::int32_t i = 1; i <= 8; ++i) {
      const std::int32_t y = kOptionsTop + 20 * (i - 1);
      if (in_x && p.y >= y - 8 && p.y <= y + 7) {
        host.play_sound("select", 5);
        settings_.flags = static_cast<std::uint8_t>(settings_.flags ^ (1u << (i - 1)));
      }
    }
    if (bgm_.device_failed())
      settings_.flags = static_cast<std::uint8_t>(settings_.flags & ~kPlayMidi);
    if (!bgm_.on() && flag(kPlayMidi)) {
      bgm_.set_on(true, host);
      bgm_.play("title", true, 0, 0, host);
    }
    bgm_.set_on(flag(kPlayMidi), host);
    if (flag(kMiniScreen)) {
      host.dd_fill_rect(kPresent, 0, 0, screen_width_ - 1, screen_height_ - 1, 0);
    }
    if (in_x && p.y >= 217 && p.y <= 232) {
      host.play_sound("select", 5);
      set_state(kStateTitle, host);
    }
  }
  present(host);
  return std::nullopt;
}

std::optional<GameError> TGame::state_slots(Host& host) {
  const std::int32_t fc = frame_counter_;
  if (fc == 1) {
    for (std::size_t n = 1; n <= kSlotCount; ++n) {
      // Start from zero so that a slot without a file shows no stale header.
      RecHeaderRaw h;
      if (recorder_.read_header(static_cast<std::int32_t>(n), h, host.recorder_io()) !=
          HeaderRead::Read) {
        h.date = 0.0;
      }
      slot_headers_[n - 1] = h;
    }
  }

  draw_background(1, host);
  draw_big_text(slot_mode_ == kModeRecord ? "RECORD MODE" : "REPLAY MODE", 160, 20, kAlignCentre, 0,
                false, 0, host);
  for (const std::int32_t y : {35, 65}) {
    draw_line(std::max(0, 160 - fc), y, std::min(319, 160 + fc), y, 245, host);
  }
  draw_line(120, 80, 120, 230, 245, host);
  const std::int32_t scroll = (5 * fc) % kFieldWidth;
  draw_big_text("SELECT DATA", kFieldWidth - scroll, 50, kAlignLeft, 0, false, 0, host);
  draw_big_text("SELECT DATA", -scroll, 50, kAlignLeft, 0, false, 0, host);

  Point p = pointer_pos(host);
  if (p.y < kSlotsTop) {
    p.y = kSlotsTop;
    warp_pointer(p.x, kSlotsTop, host);
  } else if (p.y > kSlotsBottom) {
    p.y = kSlotsBottom;
    warp_pointer(p.x, kSlotsBottom, host);
  }
  draw_menu_icon(fc, 3, 5, p.y - 16, host);

  std::int32_t hovered = 0;
  for (std::int32_t n = 1; n <= static_cast<std::int32_t>(kSlotCount); ++n) {
    const bool data = slot_has_data(slot_headers_[static_cast<std::size_t>(n - 1)]);
    draw_text("DATA" + std::to_string(n), 70, 75 + 15 * n, kAlignCentre, 0, data, fc, host);
    if (p.y >= 70 + 15 * n && p.y <= 80 + 15 * n) hovered = n;
  }

  if (hovered != 0) {
    const RecHeaderRaw& h = slot_headers_[static_cast<std::size_t>(hovered - 1)];
    if (slot_has_data(h)) {
      draw_big_text("DATA" + std::to_string(hovered), 225, 95, kAlignCentre, 0, false, 0, host);
      draw_number(225, 120, kAlignCentre, fc, true, h.score, host);
      const std::size_t len = std::min<std::size_t>(h.name_length, RecHeaderRaw::kNameMax);
      if (len > 0) {
        const std::string name(h.name.begin(), h.name.begin() + static_cast<std::ptrdiff_t>(len));
        draw_text("BY " + name, 225, 140, kAlignCentre, 0, true, fc, host);
      }
      const DateTimeText dt = format_tdatetime(h.date);
      draw_text(dt.date, 225, 160, kAlignCentre, 0, true, fc, host);
      draw_text(dt.time, 225, 173, kAlignCentre, 0, true, fc, host);
      draw_text("MAX COMBO: " + std::to_string(h.max_combo), 225, 195, kAlignCentre, 0, false, 0,
                host);
      draw_text("DESTROYED: " + std::to_string(h.destroyed), 225, 210, kAlignCentre, 0, false, 0,
                host);
    } else {
      draw_big_text("NO DATA", 225, 140, kAlignCentre, 0, false, 0, host);
    }
  }

  if (take_click(host) && hovered != 0) {
    const bool data = slot_has_data(slot_headers_[static_cast<std::size_t>(hovered - 1)]);
    if (slot_mode_ == kModeReplay && data) {
      host.play_sound("destroy1", 3);
      start_play(kModeReplay, hovered, false, host);
      set_state(kStateIntro, host);
    } else if (slot_mode_ == kModeRecord) {
      host.play_sound("select", 3);
      start_play(kModeRecord, hovered, false, host);
      set_state(kStateNameEntry, host);
    }
  }
  present(host);
  return std::nullopt;
}

std::optional<GameError> TGame::state_intro(Host& host) {
  const std::int32_t fc = frame_counter_;
  if (fc == 1 && !play_.demonstration) bgm_.change("stage", 1, true, 0, 0, host);
  clear_frame(host);
  if (fc <= 50) set_palette_level(5 * fc, host);
  draw_play(host);

  const SurfaceId banner = host.create_scratch(kGameOverW, kGameOverH);
  host.dd_blit_rect(banner, sheet_id(kSheetGameOver), 0, 2 * kGameOverH, kGameOverW, kGameOverH, 0,
                    0, false);
  if (fc >= 46) mask_outside(host, banner, 975 - 15 * fc, kGameOverH, 0);
  const std::int32_t w = host.surface_size(sheet_id(kSheetGameOver)).width;
  host.dd_blit_rect(kFrame, banner, 0, 0, kGameOverW, kGameOverH, 160 - w / 2, 100, true);
  host.free_surface(banner);

  if (fc <= 40) mask_outside(host, kFrame, 8 * fc, 6 * fc, 0);
  draw_demo_banner(host);
  present(host);
  if (state_ == kStateIntro && fc >= 61) {
    set_state(kStatePlay, host);
    warp_pointer(160, 120, host);
  }
  return std::nullopt;
}

std::optional<GameError> TGame::state_pause(Host& host) {
  const std::int32_t fc = frame_counter_;
  clear_frame(host);
  draw_play(host);
  draw_big_text("PAUSE", 160, 120, kAlignCentre, sine_at(2 * std::int64_t{fc % 128}) / 60 + 15,
                true, fc, host);
  present(host);
  if (host.key_down(kKeyP)) {
    const Point hand = pend_.hand();
    warp_pointer(hand.x, hand.y, host);
    set_state(kStatePlay, host);
  }
  return std::nullopt;
}

std::optional<GameError> TGame::state_top10(Host& host) {
  const std::int32_t fc = frame_counter_;
  draw_background(0, host);
  draw_big_text("SCORE TOP10", 160, 25, kAlignCentre, 0, false, 0, host);
  draw_line(std::max(30, 160 - fc), 40, std::min(290, 160 + fc), 40, 197, host);
  for (std::int32_t n = 1; n <= 10; ++n) {
    const std::int32_t y = 40 + 15 * n;
    const ScoreEntryRaw e = hiscore_.get_entry2(n);
    if (previous_state_ != kStateTitle && n == play_.table_rank) {
      draw_menu_icon(fc, 5, sine_at(5 * std::int64_t{fc}) / 200 + 10, 15 * n + 24, host);
    }
    draw_text(std::to_string(n), 35, y, kAlignCentre, 0, false, 0, host);
    draw_text(e.f0(), 50, y, kAlignLeft, 0, false, 0, host);
    draw_number(290, y, kAlignRight, fc, true, e.score, host);
  }
  const std::int32_t cell = fc % 60;
  const std::int32_t sx = kTargetCell * (cell % kTargetColumns);
  const std::int32_t sy = kTargetCell * (cell / kTargetColumns);
  for (const std::int32_t x : {30, 270}) {
    host.dd_blit_rect(kFrame, sheet_id(kSheetTarget), sx, sy, kTargetCell, kTargetCell, x, 213,
                      true);
  }
  draw_text("CLICK TO CONTINUE", 160, 225, kAlignCentre, 0, true, fc, host);
  if (previous_state_ == kStateTitle) {
    if (fc <= 52) set_palette_level(5 * fc, host);
    if (fc <= 40) mask_outside(host, kFrame, 8 * fc, 6 * fc, 0);
  }
  present(host);
  if (take_click(host)) set_state(kStateTitle, host);
  return std::nullopt;
}

std::optional<GameError> TGame::state_exit(Host& host) {
  const std::int32_t fc = frame_counter_;
  if (fc == 1) bgm_.stop(1, host);
  set_palette_level(256 - 6 * fc, host);
  if (fc < 41) return std::nullopt;
  quit_ = true;
  clear_frame(host);
  present(host);
  return std::nullopt;
}

void TGame::draw_demo_banner(Host& host) {
  if (!play_.demonstration) return;
  const std::int32_t s = sine_at(banner_frame_counter_) / 20;
  draw_text("DEMONSTRATION PLAY", 160, 100 + s, kAlignCentre, 0, false, 0, host);
  draw_text("CLICK TO CONTINUE", 160, 115 + s, kAlignCentre, 1, false, 0, host);
  if (take_click(host)) {
    recorder_.close(host.recorder_io());
    set_state(kStateTitle, host);
  }
}

}  // namespace zt
