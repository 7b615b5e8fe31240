// The play itself: its start and end, the play frame, the line cut, the
// result and the name entry.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "game/ugame.h"
#include "x87.h"

namespace zt {

namespace {

constexpr std::int32_t kHitMargin = 12;
constexpr std::int32_t kGaugeStart = 2000;
constexpr std::int32_t kGaugeMax = 9999;
constexpr std::int32_t kGaugeRefill = 30;
constexpr std::int32_t kComboStart = 80;
constexpr std::int32_t kComboAdd = 40;
constexpr std::int32_t kComboMax = 150;
constexpr std::int32_t kStreakMax = 20;
constexpr std::int32_t kPerfectShown = 40;
constexpr std::int32_t kLineCutFrames = 120;

// Upper score bounds of rank titles 0 to 18; above the last comes 19.
constexpr std::array<std::int64_t, 19> kRankBounds = {
    1000,     10000,    30000,    60000,     100000,    150000,   300000,
    500000,   1000000,  3000000,  5000000,   10000000,  15000000, 20000000,
    30000000, 50000000, 70000000, 100000000, 1000000000};

constexpr std::int32_t kRankCellW = sheet_layout(kSheetRank).cell_width;
constexpr std::int32_t kRankCellH = sheet_layout(kSheetRank).cell_height;
constexpr std::int32_t kRankColumns = sheet_layout(kSheetRank).columns;
constexpr std::int32_t kJudgeW = sheet_layout(kSheetJudge).cell_width;
constexpr std::int32_t kJudgeH = sheet_layout(kSheetJudge).cell_height;
constexpr std::int32_t kTargetCell = sheet_layout(kSheetTarget).cell_width;
constexpr std::int32_t kTargetColumns = sheet_layout(kSheetTarget).columns;
constexpr std::int32_t kGameOverW = sheet_layout(kSheetGameOver).cell_width;
constexpr std::int32_t kGameOverH = sheet_layout(kSheetGameOver).cell_height;

// The name entry's keyboard: 8 columns of 18 and 6 rows of 15 pixels.
constexpr std::int32_t kKeyCount = 48;
constexpr std::int32_t kKeyEnd = 47;
constexpr std::int32_t kKeyDelete = 48;
constexpr std::size_t kNameMax = 9;

}  // namespace

std::int32_t TGame::rank_index_of(std::int64_t score) {
  for (std::size_t i = 0; i < kRankBounds.size(); ++i) {
    if (score <= kRankBounds[i]) return static_cast<std::int32_t>(i);
  }
  return 19;
}

std::int32_t TGame::rank_index() const {
  return rank_index_of(play_.score);
}

std::int32_t TGame::judge(std::int32_t percent) {
  if (percent >= 90 && percent <= 100) return 0;
  if (percent >= 70 && percent <= 89) return 1;
  if (percent >= 40 && percent <= 69) return 2;
  if (percent >= 1 && percent <= 39) return 3;
  return 4;
}

Point TGame::target_velocity() {
  const std::int32_t a = std::min(play_.play_frame / 3000, 3);
  const std::int32_t x = rnd_.range(2) == 1 ? a : -a;
  const std::int32_t y = rnd_.range(2) == 1 ? a : -a;
  return {x, y};
}

Point TGame::target_position() {
  const std::int32_t x = rnd_.range(270) + 25;
  const std::int32_t y = rnd_.range(190) + 25;
  return {x, y};
}

void TGame::start_play(std::int32_t mode, std::int32_t slot, bool demonstration, Host& host) {
  const std::int32_t frames_since_hit = play_.frames_since_hit;
  play_ = PlayFields{};
  play_.frames_since_hit = frames_since_hit;
  play_.gauge = kGaugeStart;
  banner_frame_counter_ = 0;

  play_.seed = Random(random_state_, 1000);
  rnd_.set_seed(play_.seed);
  rnd_.reset();

  if (mode == kModeRecord) {
    recorder_.start_record(slot, host.recorder_io());
    recorder_.write_frame(play_.seed, 0, host.recorder_io());
  } else if (mode == kModeReplay) {
    recorder_.start_play(slot, host.recorder_io());
    const Frame f = recorder_.read_frame(host.recorder_io());
    rnd_.set_seed(f.x);
    rnd_.reset();
  }

  play_.gravity = settings_.gravity;
  play_.collision_constant = settings_.collision_constant;
  pend_ = TPend::create(kFieldWidth, kFieldHeight, play_.gravity, play_.collision_constant,
                        settings_.natural_length, settings_.rubber_constant, settings_.ball_mass,
                        settings_.experiment);
  slots_ = TSlotSet{};
  texts_ = TAllTexts{};
  fragments_ = TFragments{};
  gravity_changer_.reset();
  for (int i = 0; i < 3; ++i) slots_.push(target_position(), kTargetPlain, {0, 0});

  play_.demonstration = demonstration;
  play_.replaying = mode == kModeReplay;
}

Point TGame::play_hand_point(Host& host) {
  if (play_.replaying) {
    if (recorder_.failed()) return {0, 0};
    const Frame f = recorder_.read_frame(host.recorder_io());
    return {f.x, f.y};
  }
  const Point p = pointer_pos(host);
  if (recorder_.state() == RecState::Recording) {
    recorder_.write_frame(p.x, p.y, host.recorder_io());
  }
  return p;
}

std::optional<GameError> TGame::state_play(Host& host) {
  PlayFields& f = play_;
  ++f.play_frame;
  --f.gauge;

  const Point hand = play_hand_point(host);
  pend_.set_hand(hand.x, hand.y);
  pend_.step(f.gravity, f.collision_constant, settings_.ball_mass, settings_.experiment, host);

  slots_.move();

  const Target live = slots_.live();
  const std::int32_t dx = pend_.ball_x() - live.x;
  const std::int32_t dy = pend_.ball_y() - live.y;
  const double dist = X87::fsqrt(xi(dx) * xi(dx) + xi(dy) * xi(dy)).to_f64();
  if (xd(pend_.radius()) + xi(kHitMargin) >= xd(dist)) {
    const Point v = pend_.velocity();
    const std::int32_t p = pend_.stretch_percent();
    const Point at{live.x, live.y};
    // The settings readers bound the factor; a product in 64 bits cannot overflow
    // for a record made any other way.
    const std::int64_t count = std::int64_t{p + 3} * settings_.num_of_fragments / 100;
    fragments_.burst(live.kind, at,
                     static_cast<std::int32_t>(std::clamp<std::int64_t>(count, 0, INT32_MAX)), v,
                     random_state_);

    f.combo_timer = f.combo_timer == 0 ? kComboStart : f.combo_timer + kComboAdd;
    f.combo_timer = std::min(f.combo_timer, kComboMax);
    ++f.combo;
    f.max_combo = std::max(f.max_combo, f.combo);
    f.frames_since_hit = 0;

    const std::int32_t j = judge(p);
    if (j == 0) {
      f.perfect_streak = std::min(f.perfect_streak + 1, kStreakMax);
      f.perfect_timer = kPerfectShown;
    }
    ++f.destroyed[static_cast<std::size_t>(j)];

    std::int64_t points = std::int64_t{p} * f.combo * f.combo;
    if (j == 0) {
      points = points * f.perfect_streak * 10;
      host.play_sound("explosion1", 4);
    } else if (j == 1) {
      points *= 5;
      host.play_sound("destroy1", 4);
    } else {
      host.play_sound("destroy0", 3);
    }
    f.score += points;

    if (flag(kShowEachScore)) texts_.add_score(std::to_string(points), pend_.hand());
    f.gauge = std::min(f.gauge + kGaugeRefill, kGaugeMax);
    texts_.add_judge(static_cast<std::uint8_t>(j), at);
    texts_.add_percent(static_cast<std::uint8_t>(p), at);

    if (live.kind == kTargetEndurance) {
      pend_.set_endurance((xd(pend_.endurance()) + xi(5)).to_f64());
    } else if (live.kind == kTargetRadius) {
      pend_.set_radius((xd(pend_.radius()) + xi(2)).to_f64());
    }

    const std::int32_t k = rnd_.range(20);
    const std::uint8_t kind = k <= 15 ? kTargetPlain : (k <= 18 ? kTargetEndurance : kTargetRadius);
    const Point velocity = target_velocity();
    const Point position = target_position();
    slots_.push(position, kind, velocity);
  }

  if (f.play_frame > 4999 && f.play_frame % 3000 == 0 && !gravity_changer_ && f.gravity != 0.0) {
    gravity_changer_ = TGravityChanger::create(f.gravity < 0.0);
  }

  if (f.combo_timer > 0) {
    --f.combo_timer;
    ++f.frames_since_hit;
  }
  if (f.combo_timer == 0) f.combo = std::max(f.combo - f.combo / 50 - 1, 0);
  if (f.perfect_timer > 0) --f.perfect_timer;

  fragments_.step(f.gravity);
  texts_.step();

  draw_play(host);
  draw_demo_banner(host);
  present(host);

  // A click on the demonstration banner has already left the play; nothing
  // may take it back into the line cut, whose end would write the
  // demonstration's file.
  if (state_ != kStatePlay) return std::nullopt;
  std::uint8_t next = kStatePlay;
  if (host.key_down(kKeyP)) next = kStatePause;
  if (pend_.is_cut()) next = kStateLineCut;
  if (f.gauge <= 0) next = kStateLineCut;
  if (host.key_down(kKeyC) && recorder_.state() == RecState::Idle && !f.replaying) {
    next = kStateLineCut;
  }
  set_state(next, host);
  return std::nullopt;
}

std::optional<GameError> TGame::state_line_cut(Host& host) {
  const std::int32_t n = frame_counter_;
  const Point hand = play_hand_point(host);
  pend_.set_hand(hand.x, hand.y);
  pend_.step(play_.gravity, play_.collision_constant, settings_.ball_mass, settings_.experiment,
             host);
  texts_.step();
  fragments_.step(play_.gravity);
  draw_play(host);

  const std::int32_t r = Random(random_state_, 300);
  const std::int32_t row = pend_.is_cut() ? 1 : 0;
  host.dd_blit_rect(kFrame, sheet_id(kSheetGameOver), 0, kGameOverH * row, kGameOverW, kGameOverH,
                    10 - (r - 150) / n, 100, true);

  draw_demo_banner(host);
  present(host);
  if (state_ == kStateLineCut && n > kLineCutFrames) set_state(kStateResult, host);
  return std::nullopt;
}

std::optional<GameError> TGame::end_play(Host& host) {
  RecorderIo& io = host.recorder_io();
  if (!play_.replaying && settings_.highest_rank < rank_index()) {
    settings_.set_highest_rank(rank_index());
  }

  const bool failed = recorder_.failed();
  const std::int32_t slot = recorder_.slot();
  if (recorder_.state() == RecState::Recording) {
    if (failed) {
      recorder_.close(io);  // the slot keeps its old replay
    } else {
      const RecHeaderRaw h =
          make_rec_header(host.now_datetime(), player_name_,
                          {play_.score, play_.max_combo, play_.destroyed_total()});
      if (recorder_.finish_record(h, io)) return GameError::Recording;
    }
  } else if (recorder_.state() == RecState::Playing) {
    recorder_.close(io);
    if (!failed) {
      RecHeaderRaw h;
      if (recorder_.read_header(slot, h, io) == HeaderRead::Failed) return GameError::Recording;
      h.score = play_.score;
      if (recorder_.write_header(slot, h, io)) return GameError::Recording;
    }
  }

  play_.gravity = settings_.gravity;
  return std::nullopt;
}

void TGame::draw_result(std::int32_t n, std::int32_t rank, Host& host) {
  draw_background(0, host);
  for (const std::int32_t y : {40, 92}) {
    draw_line(std::max(50, 160 - n), y, std::min(270, n + 160), y, 197, host);
  }
  draw_big_text("RESULT", 160, 25, kAlignCentre, 10 + sine_at(3 * std::int64_t{n}) / 200, false, 0,
                host);
  const std::array<std::string_view, 3> labels = {"SCORE", "MAX COMBO", "DESTROYED"};
  const std::array<std::int32_t, 3> label_y = {50, 70, 85};
  for (std::int32_t k = 0; k < 3; ++k) {
    const std::int32_t spacing = std::min(std::max(-12, n - 20 * k), 2);
    draw_text(labels[static_cast<std::size_t>(k)], 50, label_y[static_cast<std::size_t>(k)],
              kAlignLeft, spacing, false, 0, host);
  }

  if (n > 70) {
    draw_number(270, 50, kAlignRight, n, true, play_.score, host);
    draw_text(std::to_string(play_.max_combo), 270, 70, kAlignRight, 0, true, n, host);
    draw_text(std::to_string(play_.destroyed_total()), 270, 85, kAlignRight, 0, true, n, host);
    for (std::int32_t i = 0; i < 5; ++i) {
      host.dd_blit_rect_to(kFrame, sheet_id(kSheetJudge), 0, kJudgeH * i, kJudgeW, kJudgeH,
                           50 + 45 * i, 105, 40, 20, true);
      draw_text(std::to_string(play_.destroyed[static_cast<std::size_t>(i)]), 70 + 45 * i, 135,
                kAlignCentre, 0, false, 0, host);
    }
  }

  if (n > 100) {
    const SurfaceId sheet = sheet_id(kSheetRank);
    for (std::int32_t i = 0; i <= rank; ++i) {
      const std::int32_t c = n - 100 - 10 * i;
      if (c < 0) break;
      const std::int32_t sx = kRankCellW * (i % kRankColumns);
      const std::int32_t sy = kRankCellH * (i / kRankColumns);
      if (i < rank) {
        if (c >= 40) continue;
        const std::int32_t m = sine_at(6 * std::int64_t{c});
        const std::int32_t hw = m / 16;
        const std::int32_t hh = m / 20;
        if (hw > 0 && hh > 0) {
          host.dd_blit_rect_to(kFrame, sheet, sx, sy, kRankCellW, kRankCellH, 220 - hw, 190 - hh,
                               2 * hw, 2 * hh, false);
        }
        if (c == 10) host.play_sound("destroy1", 3);
      } else if (c < 36) {
        const std::int32_t m = sine_at(3 * std::int64_t{c});
        const std::int32_t hw = m / 8;
        const std::int32_t hh = m / 12;
        if (hw > 0 && hh > 0) {
          host.dd_blit_rect_to(kFrame, sheet, sx, sy, kRankCellW, kRankCellH, 220 - hw, 190 - hh,
                               2 * hw, 2 * hh, false);
        }
        if (c == 10) host.play_sound("explosion1", 5);
      } else {
        host.dd_blit_rect_to(kFrame, sheet, sx, sy, kRankCellW, kRankCellH, 170, 150, 100, 80,
                             false);
      }
    }

    if (settings_.experiment) {
      const std::int32_t l = 30 + Random(random_state_, 10);
      const std::int32_t t = 150 + Random(random_state_, 5);
      const std::int32_t r = 280 + Random(random_state_, 10);
      const std::int32_t b = 227 + Random(random_state_, 5);
      host.dd_fill_rect(kFrame, l, t, r - l, b - t, 0);
      draw_text("EXPERIMENT MODE", 160, 175, kAlignCentre, 0, true, n, host);
      draw_big_text("NO RANK", 160, 200, kAlignCentre, 1, true, n, host);
    }

    // The mosaic comes after the experiment box, so its "?" stays on top.
    const std::int32_t reached = settings_.highest_rank;
    if (reached < rank && n >= 100 + 10 * reached) {
      // A replay does not show titles the player has not reached yet.
      const SurfaceId s = host.create_scratch(150, 90);
      host.dd_blit_rect(s, kFrame, 140, 145, 150, 90, 0, 0, false);
      host.dd_pixelate(s, 10);
      host.dd_blit_rect(kFrame, s, 0, 0, 150, 90, 140, 145, false);
      host.free_surface(s);
      draw_big_text("?", 220, 190, kAlignCentre, 0, false, 0, host);
    }
    const std::int32_t s = sine_at(2 * std::int64_t{n});
    draw_text("YOUR RANK", 110 + s / 100, 190, kAlignCentre, 0, false, 0, host);
  }
}

std::optional<GameError> TGame::state_result(Host& host) {
  const std::int32_t n = frame_counter_;
  if (n == 1) {
    if (std::optional<GameError> e = end_play(host)) return e;
  }
  const std::int32_t rank = rank_index();
  draw_result(n, rank, host);

  play_.table_rank = hiscore_.rank_of(play_.score);
  const bool unranked = play_.table_rank <= 0 || play_.replaying || settings_.experiment;
  if (unranked && n > 10 * rank + 300) {
    set_palette_level((10 * rank - n + 350) * 255 / 50, host);
    const std::int32_t k = n - 300 - 10 * rank;
    mask_outside(host, kFrame, kFieldWidth - 8 * k, kFieldHeight - 6 * k, 0);
  }
  present(host);

  if (n >= 10 * rank + 350) {
    set_palette_level(255, host);
    if (unranked) {
      set_state(kStateTitle, host);
    } else if (play_.name_known) {
      hiscore_.insert(player_name_, play_.score, host.now_datetime());
      set_state(kStateTop10, host);
    } else {
      set_state(kStateNameEntry, host);
    }
  }
  return std::nullopt;
}

std::optional<GameError> TGame::state_name_entry(Host& host) {
  const std::int32_t n = frame_counter_;
  const Point mouse = pointer_pos(host);
  draw_background(0, host);

  const SurfaceId target = sheet_id(kSheetTarget);
  for (std::int32_t j = 0; j < 17; ++j) {
    const std::int32_t cell = n % 20 + (j % 2 == 0 ? 20 : 40);
    const std::int32_t s1 = sine_at(16 * std::int64_t{j} + n);
    const std::int32_t s2 = sine_at(16 * std::int64_t{j} + n + 64);
    host.dd_blit_rect(kFrame, target, kTargetCell * (cell % kTargetColumns),
                      kTargetCell * (cell / kTargetColumns), kTargetCell, kTargetCell,
                      148 + s1 / 10, 108 + s2 / 12, true);
  }

  const bool after_result = previous_state_ == kStateResult;
  const std::string heading = after_result
                                  ? "YOU HAVE RANKED NO " + std::to_string(play_.table_rank)
                                  : std::string("BEFORE RECORDING YOUR PLAY");
  draw_text(heading, 160, 30, kAlignCentre, 0, true, n, host);
  draw_text("PLEASE INPUT YOUR NAME", 160, 45, kAlignCentre, 1, true, n, host);
  draw_line(90, 60, 230, 60, 197, host);
  draw_line(90, 90, 230, 90, 197, host);
  draw_big_text(player_name_, 160, 75, kAlignCentre, 5, true, n, host);

  std::int32_t hovered = 0;
  for (std::int32_t i = 1; i <= kKeyCount; ++i) {
    const std::int32_t c = (i - 1) % 8;
    const std::int32_t r = (i - 1) / 8;
    const std::int32_t left = 90 + 18 * c;
    const std::int32_t top = 93 + 15 * r;
    const bool over =
        mouse.x >= left && mouse.x < left + 14 && mouse.y >= top && mouse.y < top + 14;
    if (over) hovered = i;
    const std::string_view ch = kFontChars.substr(static_cast<std::size_t>(i - 1), 1);
    if (over) {
      draw_big_text(ch, 97 + 18 * c, 100 + 15 * r, kAlignCentre, 0, true, n, host);
    } else {
      draw_text(ch, 97 + 18 * c, 100 + 15 * r, kAlignCentre, 0, false, 0, host);
    }
  }
  const SurfaceId hand = sheet_id(kSheetHand);
  const Size hs = host.surface_size(hand);
  host.dd_blit_rect(kFrame, hand, 0, 0, hs.width, hs.height, mouse.x - hs.width / 2,
                    mouse.y - hs.height / 2, true);

  if (take_click(host) && hovered != 0) {
    if (hovered < kKeyEnd) {
      if (player_name_.size() < kNameMax) {
        player_name_ += kFontChars[static_cast<std::size_t>(hovered - 1)];
      }
      host.play_sound("destroy0", 3);
    } else if (hovered == kKeyEnd) {
      if (player_name_.empty()) player_name_ = "ANONYMOUS";
      if (after_result) {
        hiscore_.insert(player_name_, play_.score, host.now_datetime());
        set_state(kStateTop10, host);
      } else {
        play_.name_known = true;
        set_state(kStateIntro, host);
      }
      host.play_sound("destroy1", 3);
    } else if (hovered == kKeyDelete) {
      if (!player_name_.empty()) player_name_.pop_back();
      host.play_sound("explosion1", 4);
    }
  }
  present(host);
  return std::nullopt;
}

}  // namespace zt
