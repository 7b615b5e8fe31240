// Letters, numbers, the field background, lines and the whole play picture,
// all drawn onto the frame through the host.
#include <algorithm>
#include <string>

#include "game/ugame.h"
#include "game/x87_int.h"
#include "x87.h"

namespace zt {

namespace {

struct Cell {
  std::int32_t x;
  std::int32_t y;
};

// Cell n of a sheet cut into columns of w x h pixels.
constexpr Cell cell(std::int32_t n, std::int32_t columns, std::int32_t w, std::int32_t h) {
  return {w * (n % columns), h * (n / columns)};
}

constexpr std::int32_t kFontCell = sheet_layout(kSheetFont).cell_width;
constexpr std::int32_t kFontColumns = sheet_layout(kSheetFont).columns;
constexpr std::int32_t kBigLetter = 23;
constexpr std::int32_t kScoreCellW = sheet_layout(kSheetScore).cell_width;
constexpr std::int32_t kScoreCellH = sheet_layout(kSheetScore).cell_height;
constexpr std::int32_t kScoreColumns = sheet_layout(kSheetScore).columns;
constexpr std::int32_t kPfontW = sheet_layout(kSheetPfont).cell_width;
constexpr std::int32_t kPfontH = sheet_layout(kSheetPfont).cell_height;
constexpr std::int32_t kPfontColumns = sheet_layout(kSheetPfont).columns;
constexpr std::int32_t kPercentCell = 10;
constexpr std::int32_t kComboCell = sheet_layout(kSheetNumber).cell_width;
constexpr std::int32_t kComboColumns = sheet_layout(kSheetNumber).columns;
constexpr std::int32_t kJudgeW = sheet_layout(kSheetJudge).cell_width;
constexpr std::int32_t kJudgeH = sheet_layout(kSheetJudge).cell_height;
constexpr std::int32_t kTargetCell = sheet_layout(kSheetTarget).cell_width;
constexpr std::int32_t kTargetColumns = sheet_layout(kSheetTarget).columns;
constexpr std::int32_t kFragmentCell = sheet_layout(kSheetFragments).cell_width;
constexpr std::int32_t kFragmentColumns = sheet_layout(kSheetFragments).columns;
constexpr std::int32_t kGaugeW = sheet_layout(kSheetGauge).cell_width;
constexpr std::int32_t kGaugeH = sheet_layout(kSheetGauge).cell_height;
constexpr std::int32_t kGaugeTop = 220;
constexpr std::int32_t kBallCell = sheet_layout(kSheetBall).cell_width;
constexpr std::int32_t kFieldTile = sheet_layout(kSheetField).cell_width;
constexpr std::int32_t kFieldColumns = sheet_layout(kSheetField).columns;
constexpr std::int32_t kChangerW = sheet_layout(kSheetGravityX).cell_width;
constexpr std::int32_t kChangerH = sheet_layout(kSheetGravityX).cell_height;
constexpr std::int32_t kChangerColumns = sheet_layout(kSheetGravityX).columns;

std::int32_t i32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// Blanks and control characters at either end are not letters.
std::string_view trim_text(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// The wave offset of letter or place i: the sine entry 16 * ((counter + i) mod 16).
std::int32_t wave_sine(std::int32_t counter, std::int32_t i) {
  return sine_at(16 * ((std::int64_t{counter} + i) % 16));
}

// Rounded to nearest, ties to even, through the extended format.
std::int32_t round_of(const X87& v) {
  return v.round_i32();
}

}  // namespace

void TGame::draw_font_text(std::string_view text, std::int32_t x, std::int32_t y,
                           std::int32_t alignment, std::int32_t spacing, bool wave,
                           std::int32_t counter, bool big, Host& host) {
  const std::string_view t = trim_text(text);
  if (t.empty()) return;
  const auto n = static_cast<std::int64_t>(t.size());
  const std::int64_t a = (big ? 24 : 12) + std::int64_t{spacing};
  const std::int64_t run = n * a - spacing;
  std::int64_t start = x;
  if (alignment == kAlignRight) start = x - run;
  if (alignment == kAlignCentre) start = x - run / 2;
  const std::int32_t half = big ? 12 : 6;
  const std::int32_t wave_div = big ? 300 : 500;
  const SurfaceId font = sheet_id(kSheetFont);
  for (std::int64_t i = 1; i <= n; ++i) {
    const std::size_t pos = kFontChars.find(t[static_cast<std::size_t>(i - 1)]);
    if (pos == std::string_view::npos) continue;
    const std::int32_t px = i32(start + a * (i - 1));
    std::int32_t top = y - half;
    if (wave) top += wave_sine(counter, static_cast<std::int32_t>(i)) / wave_div;
    const Cell c = cell(static_cast<std::int32_t>(pos), kFontColumns, kFontCell, kFontCell);
    if (big) {
      host.dd_blit_rect_to(kFrame, font, c.x, c.y, kFontCell, kFontCell, px, top, kBigLetter,
                           kBigLetter, true);
    } else {
      host.dd_blit_rect(kFrame, font, c.x, c.y, kFontCell, kFontCell, px, top, true);
    }
  }
}

void TGame::draw_text(std::string_view text, std::int32_t x, std::int32_t y, std::int32_t alignment,
                      std::int32_t spacing, bool wave, std::int32_t counter, Host& host) {
  draw_font_text(text, x, y, alignment, spacing, wave, counter, false, host);
}

void TGame::draw_big_text(std::string_view text, std::int32_t x, std::int32_t y,
                          std::int32_t alignment, std::int32_t spacing, bool wave,
                          std::int32_t counter, Host& host) {
  draw_font_text(text, x, y, alignment, spacing, wave, counter, true, host);
}

void TGame::draw_number(std::int32_t x, std::int32_t y, std::int32_t alignment,
                        std::int32_t counter, bool wave, std::int64_t value, Host& host) {
  const std::string digits = std::to_string(value);
  const auto len = static_cast<std::int32_t>(digits.size());
  const std::int32_t before = settings_.score_digits;
  if (len > before) settings_.set_score_digits(len);
  const std::int32_t d = std::max(before, len);

  std::int32_t w = 7;
  if (d <= 6) {
    w = 12;
  } else if (d <= 10) {
    w = 11;
  } else if (d <= 12) {
    w = 10;
  } else if (d <= 14) {
    w = 9;
  } else if (d <= 17) {
    w = 8;
  }

  std::int64_t start = x;
  if (alignment == kAlignCentre) start = x - std::int64_t{d} * w / 2;
  if (alignment == kAlignRight) start = x - std::int64_t{d} * w;
  const std::int32_t group = std::max(settings_.score_grouping, 1);
  const std::int32_t blanks = d - len;
  const SurfaceId sheet = sheet_id(kSheetScore);
  for (std::int32_t i = 1; i <= d; ++i) {
    std::int32_t n = 0;  // a blank place
    if (i > blanks) {
      const char ch = digits[static_cast<std::size_t>(i - blanks - 1)];
      // The sign of a negative number shows as a blank place.
      if (ch >= '0' && ch <= '9') {
        const std::int32_t g = ((d - i) / group) % 3;
        n = 30 + (ch - '0') - 10 * g;
      }
    }
    const std::int32_t px = i32(start + std::int64_t{w} * (i - 1));
    std::int32_t top = y - 6;
    if (wave) top += wave_sine(counter, i) / 500;
    const Cell c = cell(n, kScoreColumns, kScoreCellW, kScoreCellH);
    host.dd_blit_rect(kFrame, sheet, c.x, c.y, kScoreCellW, kScoreCellH, px, top, true);
  }
}

void TGame::draw_background(std::int32_t tile, Host& host) {
  if (flag(kDrawBackground)) {
    if (play_.gravity > 0.0) {
      background_scroll_ = i32(std::int64_t{background_scroll_} + 1);
    } else if (play_.gravity < 0.0) {
      background_scroll_ = i32(std::int64_t{background_scroll_} - 1);
    }
    if (background_scroll_ < 0) background_scroll_ += 1073741823;
    const std::int32_t o = background_scroll_ % kFieldTile - kFieldTile;
    const SurfaceId field = sheet_id(kSheetField);
    const Cell c = cell(tile, kFieldColumns, kFieldTile, kFieldTile);
    for (std::int32_t top = o; top < kFieldHeight; top += kFieldTile) {
      host.dd_blit_rect(kFrame, field, c.x, c.y, kFieldTile, kFieldTile, 0, top, false);
      host.dd_blit_rect(kFrame, field, c.x, c.y, kFieldTile, kFieldTile, kFieldTile, top, false);
    }
  } else {
    host.dd_fill_rect(kFrame, 0, 0, kFieldWidth, kFieldHeight, tile != 0 ? 15 : 34);
  }

  std::string_view mark;
  if (recorder_.failed()) {
    mark = "x";
  } else if (recorder_.state() == RecState::Recording) {
    mark = "r";
  } else if (recorder_.state() == RecState::Playing) {
    mark = "p";
  }
  if (!mark.empty() && banner_frame_counter_ % 30 < 15) {
    draw_text(mark, 310, 230, kAlignCentre, 0, false, 0, host);
  }
}

void TGame::draw_line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                      std::uint8_t colour, Host& host) {
  // Pixels off the frame would be dropped anyway; leaving them out of the loop
  // keeps a line to a far-off point cheap without changing any pixel.
  const Size f = host.surface_size(kFrame);
  if (x1 == x2) {
    const std::int32_t lo = std::max(std::min(y1, y2), 0);
    const std::int32_t hi = std::min(std::max(y1, y2), f.height - 1);
    for (std::int32_t y = lo; y <= hi; ++y) host.dd_plot(kFrame, x1, y, colour);
    return;
  }
  const double m =
      (x87_from_i64(std::int64_t{y2} - y1) / x87_from_i64(std::int64_t{x2} - x1)).to_f64();
  const X87 slope = xd(m);
  if (slope < xi(1) && slope > xi(-1)) {
    const std::int32_t min_x = std::min(x1, x2);
    const std::int32_t y0 = x1 < x2 ? y1 : y2;
    const std::int32_t lo = std::max(min_x, 0);
    const std::int32_t hi = std::min(std::max(x1, x2), f.width - 1);
    if (m == 0.0) {
      // A level line: (x - min x) x (+-0) + y0 is y0 exactly.
      for (std::int32_t x = lo; x <= hi; ++x) host.dd_plot(kFrame, x, y0, colour);
      return;
    }
    const X87 start = xi(y0);
    for (std::int32_t x = lo; x <= hi; ++x) {
      const X87 y = x87_from_i64(std::int64_t{x} - min_x) * slope + start;
      host.dd_plot(kFrame, x, round_of(y), colour);
    }
  } else {
    const X87 inverse = xd((xd(1.0) / slope).to_f64());
    const std::int32_t min_y = std::min(y1, y2);
    const std::int32_t x0 = y1 < y2 ? x1 : x2;
    const std::int32_t lo = std::max(min_y, 0);
    const std::int32_t hi = std::min(std::max(y1, y2), f.height - 1);
    const X87 start = xi(x0);
    for (std::int32_t y = lo; y <= hi; ++y) {
      const X87 x = x87_from_i64(std::int64_t{y} - min_y) * inverse + start;
      host.dd_plot(kFrame, round_of(x), y, colour);
    }
  }
}

std::uint8_t TGame::stretch_colour(std::int32_t percent) {
  if (percent >= 1 && percent <= 39) return 197;
  if (percent >= 40 && percent <= 69) return 245;
  if (percent >= 70 && percent <= 89) return 150;
  if (percent >= 90 && percent <= 100) return 113;
  return 255;
}

void TGame::draw_gravity_changer(Host& host) {
  if (!gravity_changer_) return;
  const TGravityChanger::StepResult r = gravity_changer_->step(play_.gravity);
  play_.gravity = r.gravity;
  if (r.gone) {
    gravity_changer_.reset();
    return;
  }
  const TGravityChanger& g = *gravity_changer_;
  const std::int32_t n = g.counter();
  SurfaceId sheet = sheet_id(kSheetGravityX);
  std::int32_t k = 0;
  if (g.phase() == TGravityChanger::kApproach) {
    sheet = sheet_id(kSheetGravityH);
    k = (n / 3) % 5 + (g.from_right() ? 0 : 5);
  } else if (g.phase() == TGravityChanger::kWait) {
    k = (n - 1) / 3;
    if (!g.from_right()) k = 9 - k;
    if (n == 1) host.play_sound("gravitychange", 4);
  } else {
    k = g.from_right() ? 9 : 0;
  }
  const Cell c = cell(k, kChangerColumns, kChangerW, kChangerH);
  host.dd_blit_rect(kFrame, sheet, c.x, c.y, kChangerW, kChangerH, g.x() - 25, g.y() - 30, true);
}

void TGame::draw_combo(Host& host) {
  if (play_.combo == 0) return;
  if (!(play_.combo_timer > 34 || frame_counter_ % 2 != 0)) return;
  const std::string digits = std::to_string(play_.combo);
  const auto count = static_cast<std::int32_t>(digits.size());
  std::int32_t top = 100;
  if (play_.frames_since_hit <= 21)
    top = 100 - sine_at(6 * std::int64_t{play_.frames_since_hit}) / 40;
  const SurfaceId sheet = sheet_id(kSheetNumber);
  for (std::int32_t i = 0; i < count; ++i) {
    const char ch = digits[static_cast<std::size_t>(i)];
    if (ch < '0' || ch > '9') continue;
    const Cell c = cell(ch - '0', kComboColumns, kComboCell, kComboCell);
    host.dd_blit_rect(kFrame, sheet, c.x, c.y, kComboCell, kComboCell,
                      160 - 20 * count + kComboCell * i, top, true);
  }
  const std::int32_t t = play_.combo_timer;
  draw_line(160 - t / 2, 143, 160 + t / 2, 143, 255, host);
}

void TGame::draw_texts(Host& host) {
  for (const TText& t : texts_.texts()) {
    if (t.kind == kTextPercent) {
      if (play_.play_frame % 2 != 0) continue;
      const std::string digits = std::to_string(t.value);
      const auto count = static_cast<std::int32_t>(digits.size());
      const std::int32_t left = t.x - (kPfontW * count) / 2;
      const SurfaceId sheet = sheet_id(kSheetPfont);
      std::int32_t place = 0;
      for (; place < count; ++place) {
        const Cell c =
            cell(digits[static_cast<std::size_t>(place)] - '0', kPfontColumns, kPfontW, kPfontH);
        host.dd_blit_rect(kFrame, sheet, c.x, c.y, kPfontW, kPfontH, left + 6 * place, t.y - 4,
                          true);
      }
      const Cell pc = cell(kPercentCell, kPfontColumns, kPfontW, kPfontH);
      host.dd_blit_rect(kFrame, sheet, pc.x, pc.y, kPfontW, kPfontH, left + 6 * place, t.y - 4,
                        true);
    } else if (t.kind == kTextJudge) {
      const std::int32_t a = t.age;
      if (!(a <= 30 || a % 2 != 0)) continue;
      const std::int32_t s = sine_at(10 * std::int64_t{a});
      const std::int32_t x = t.x;
      const std::int32_t y = t.y;
      std::int32_t l = 0, top = 0, r = 0, b = 0;
      switch (t.value) {
        case 0:
          l = x - 40 - s / 90, top = y - 23 - s / 160, r = x + 40 + s / 90, b = y + 23 + s / 160;
          break;
        case 1:
          if (a <= 20) {
            l = x - 70 + 2 * a, top = y - 35 + a, r = x + 70 - 2 * a, b = y + 35 - a;
          } else {
            l = x - 30, top = y - 15, r = x + 30, b = y + 15;
          }
          break;
        case 2:
          l = x - 30 + s / 120, top = y - 15, r = x + 30 + s / 120, b = y + 15;
          break;
        case 3:
          l = x - 30, top = y - 15, r = x + 30, b = y + 15;
          break;
        case 4:
          if (a <= 30) {
            l = x - 30, top = y - 35 + a, r = x + 30, b = y - 5 + a;
          } else {
            l = x - 30, top = y - 5, r = x + 30, b = y + 25;
          }
          break;
        default:
          continue;
      }
      host.dd_blit_rect_to(kFrame, sheet_id(kSheetJudge), 0, kJudgeH * t.value, kJudgeW, kJudgeH, l,
                           top, r - l, b - top, true);
    } else if (t.kind == kTextScore) {
      if (!(t.age < 50 || t.age % 2 == 0)) continue;
      draw_text(t.text, t.x, t.y, kAlignCentre, 0, true, t.age, host);
    }
  }
}

void TGame::draw_play(Host& host) {
  draw_background(0, host);

  for (const TFragment& f : fragments_.fragments()) {
    const Cell c = cell(f.counter % 5 + 5 * f.kind, kFragmentColumns, kFragmentCell, kFragmentCell);
    host.dd_blit_rect(kFrame, sheet_id(kSheetFragments), c.x, c.y, kFragmentCell, kFragmentCell,
                      round_of(xd(f.x)), round_of(xd(f.y)), true);
  }

  const SurfaceId gauge = sheet_id(kSheetGauge);
  const X87 e = xd(pend_.endurance());
  const X87 half_rest = (xi(kFieldWidth) - e) / xi(2);
  const std::int32_t left = round_of(half_rest);
  const std::int32_t right = round_of((xi(kFieldWidth) + e) / xi(2));
  host.dd_blit_rect_to(kFrame, gauge, 0, kGaugeH, kGaugeW, kGaugeH, left, kGaugeTop, right - left,
                       kGaugeH, false);
  if (pend_.is_cut()) {
    const std::int32_t s = sine_at(10 * std::int64_t{banner_frame_counter_});
    const std::int32_t counter = Random(random_state_, 1000);
    draw_text("-LINE IS CUT-", 160, 229, kAlignCentre, s / 300, true, counter, host);
  } else {
    const std::int32_t p = pend_.stretch_percent();
    const std::int32_t filled_right = round_of(xi(p) * e / xi(100) + half_rest);
    host.dd_blit_rect_to(kFrame, gauge, 0, 0, p * kGaugeW / 100, kGaugeH, left, kGaugeTop,
                         filled_right - left, kGaugeH, false);
  }

  if (state_ == kStatePlay) draw_gravity_changer(host);
  if (state_ != kStateLineCut) draw_combo(host);

  if (play_.perfect_timer > 0) {
    draw_text("X" + std::to_string(std::int64_t{10} * play_.perfect_streak), 10, 230, kAlignLeft, 0,
              true, banner_frame_counter_, host);
  }

  const std::int32_t frame = banner_frame_counter_ % 20;
  const auto draw_target = [&](const Target& t, SurfaceId sheet) {
    const Cell c = cell(frame + 20 * t.kind, kTargetColumns, kTargetCell, kTargetCell);
    host.dd_blit_rect(kFrame, sheet, c.x, c.y, kTargetCell, kTargetCell, t.x - 12, t.y - 12, true);
  };
  draw_target(slots_.slot(2), sheet_id(kSheetTarget));
  draw_target(slots_.slot(1), sheet_id(kSheetNext2));
  if (banner_frame_counter_ % 3 == 0) draw_target(slots_.slot(0), sheet_id(kSheetNext2));

  const Point hand = pend_.hand();
  if (!pend_.is_cut()) {
    draw_line(hand.x, hand.y, pend_.ball_x(), pend_.ball_y(),
              stretch_colour(pend_.stretch_percent()), host);
  }
  const X87 bx = xd(pend_.state().ball_x);
  const X87 by = xd(pend_.state().ball_y);
  const X87 r = xd(pend_.radius());
  const std::int32_t bl = round_of(bx - r);
  const std::int32_t bt = round_of(by - r);
  host.dd_blit_rect_to(kFrame, sheet_id(kSheetBall), 0, 0, kBallCell, kBallCell, bl, bt,
                       round_of(bx + r) - bl, round_of(by + r) - bt, true);
  const SurfaceId hand_sheet = sheet_id(kSheetHand);
  const Size hs = host.surface_size(hand_sheet);
  host.dd_blit_rect(kFrame, hand_sheet, 0, 0, hs.width, hs.height, hand.x - hs.width / 2,
                    hand.y - hs.height / 2, true);

  draw_texts(host);

  if (play_.score - play_.shown_score < 400) {
    play_.shown_score = play_.score;
  } else {
    play_.shown_score += (play_.score - play_.shown_score) / 20;
  }
  draw_text("SCORE", 5, 7, kAlignLeft, -1, false, 0, host);
  draw_number(65, 7, kAlignLeft, banner_frame_counter_, play_.shown_score != play_.score,
              play_.shown_score, host);

  const std::string time = "t" + std::to_string(play_.gauge);
  if (play_.gauge <= 200) {
    if (banner_frame_counter_ % 2 == 0) {
      draw_big_text(time, 315, 15, kAlignRight, 0, false, 0, host);
    }
  } else {
    draw_text(time, 315, 7, kAlignRight, 0, false, 0, host);
  }
}

}  // namespace zt
