// The drawing routines on small sheets whose cells carry a marker colour at
// their top left pixel (everything else transparent), so that every unscaled
// sprite leaves exactly one pixel on the frame: where it went and which cell
// it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "game/ugame.h"
#include "memory_host.h"
#include "tgame_probe.h"

namespace zt {
namespace {

struct Px {
  std::int32_t x;
  std::int32_t y;
  std::int32_t c;
  friend bool operator==(const Px&, const Px&) = default;
  friend bool operator<(const Px& a, const Px& b) {
    return std::tie(a.y, a.x, a.c) < std::tie(b.y, b.x, b.c);
  }
  friend std::ostream& operator<<(std::ostream& o, const Px& p) {
    return o << "(" << p.x << ", " << p.y << ": " << p.c << ")";
  }
};

// Every pixel of the frame that is not `ground`, top row first.
std::vector<Px> lit(const Surface& s, std::uint8_t ground = 0) {
  std::vector<Px> out;
  for (std::int32_t y = 0; y < s.height; ++y) {
    for (std::int32_t x = 0; x < s.width; ++x) {
      if (s.at(x, y) != ground) out.push_back({x, y, s.at(x, y)});
    }
  }
  return out;
}

std::vector<Px> sorted(std::vector<Px> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// Cell n's top left pixel has colour base + n.
auto marker(std::int32_t base) {
  return [base](std::int32_t n, std::int32_t x, std::int32_t y) {
    return x == 0 && y == 0 ? base + n : 0;
  };
}
auto solid(std::int32_t base) {
  return [base](std::int32_t n, std::int32_t, std::int32_t) { return base + n; };
}

void put(BitmapLibrary& lib, std::string_view name, Surface s) {
  for (NamedBitmap& b : lib) {
    if (b.name == name) b.surface = std::move(s);
  }
}

// Colours of the marker sheets; font cell n has colour n + 1.
constexpr std::int32_t kFontBase = 1;
constexpr std::int32_t kScoreBase = 1;  // cell 0 (the blank place) is colour 1
constexpr std::int32_t kTargetBase = 1;
constexpr std::int32_t kNext2Base = 100;
constexpr std::int32_t kPfontBase = 80;
constexpr std::int32_t kJudgeBase = 40;
constexpr std::int32_t kNumberBase = 200;
constexpr std::int32_t kGravityHBase = 150;
constexpr std::int32_t kGravityXBase = 170;

BitmapLibrary marker_library() {
  BitmapLibrary lib = blank_library();
  put(lib, "font.bmp", make_cell_sheet(24, 3, 12, 12, marker(kFontBase)));
  put(lib, "score.bmp", make_cell_sheet(10, 4, 9, 12, marker(kScoreBase)));
  put(lib, "target.bmp", make_cell_sheet(20, 3, 24, 24, marker(kTargetBase)));
  put(lib, "next2.bmp", make_cell_sheet(20, 3, 24, 24, marker(kNext2Base)));
  put(lib, "pfont.bmp", make_cell_sheet(11, 1, 5, 8, marker(kPfontBase)));
  put(lib, "judge.bmp", make_cell_sheet(1, 5, 60, 30, solid(kJudgeBase)));
  put(lib, "number.bmp", make_cell_sheet(10, 1, 40, 40, marker(kNumberBase)));
  put(lib, "gravityh.bmp", make_cell_sheet(5, 2, 50, 60, solid(kGravityHBase)));
  put(lib, "gravityx.bmp", make_cell_sheet(5, 2, 50, 60, solid(kGravityXBase)));
  // Gauge: the filled bar 7, the empty bar 9.
  put(lib, "gauge.bmp", make_cell_sheet(1, 2, 300, 15, solid(7)));
  for (NamedBitmap& b : lib) {
    if (b.name == "gauge.bmp") {
      for (std::int32_t y = 15; y < 30; ++y) {
        for (std::int32_t x = 0; x < 300; ++x) b.surface.at(x, y) = 9;
      }
    }
  }
  return lib;
}

std::int32_t font_colour(char c) {
  return kFontBase + static_cast<std::int32_t>(kFontChars.find(c));
}

class DrawTest : public ::testing::Test {
 protected:
  MemoryHost host{marker_library()};
  TGame game = TGame::create(TConfig{});
};

TEST_F(DrawTest, TextIsAlignedAndSpacedByItsAdvance) {
  struct Case {
    std::int32_t alignment;
    std::int32_t spacing;
    std::int32_t a_x;
    std::int32_t b_x;
  };
  // Two letters at x 100: the advance is 12 + spacing, the run of the text
  // 2 x advance - spacing; right alignment starts a run before x, centring
  // half a run (truncated) before it.
  for (const Case c :
       {Case{kAlignLeft, 0, 100, 112}, Case{kAlignRight, 0, 76, 88}, Case{kAlignCentre, 0, 88, 100},
        Case{kAlignLeft, 3, 100, 115}, Case{kAlignRight, 3, 73, 88}, Case{kAlignCentre, 3, 87, 102},
        Case{kAlignCentre, -1, 89, 100}}) {
    host.frame().pixels.assign(host.frame().pixels.size(), 0);
    game.draw_text("AB", 100, 50, c.alignment, c.spacing, false, 0, host);
    EXPECT_THAT(lit(host.frame()), ::testing::ElementsAre(Px{c.a_x, 44, font_colour('A')},
                                                          Px{c.b_x, 44, font_colour('B')}))
        << "alignment " << c.alignment << " spacing " << c.spacing;
  }
}

TEST_F(DrawTest, TextIsTrimmedAndUnknownCharactersLeaveAGap) {
  struct Case {
    std::string_view text;
    std::int32_t alignment;
    std::vector<Px> expected;
  };
  const Case cases[] = {
      {"  AB \t", kAlignLeft, {{10, 44, font_colour('A')}, {22, 44, font_colour('B')}}},
      {"A B", kAlignLeft, {{10, 44, font_colour('A')}, {34, 44, font_colour('B')}}},
      // '#' and 'a' are not in the font; 'e' is a symbol of it.
      {"A#ae", kAlignLeft, {{10, 44, font_colour('A')}, {46, 44, font_colour('e')}}},
      {" A ", kAlignRight, {{-2, 44, font_colour('A')}}},
      {"   ", kAlignLeft, {}},
      {"", kAlignCentre, {}},
  };
  for (const Case& c : cases) {
    host.frame().pixels.assign(host.frame().pixels.size(), 0);
    // Right alignment at x 10 puts a one-letter text at -2, off the frame.
    game.draw_text(c.text, 10, 50, c.alignment, 0, false, 0, host);
    std::vector<Px> expected;
    for (const Px& p : c.expected) {
      if (p.x >= 0) expected.push_back(p);
    }
    EXPECT_EQ(lit(host.frame()), expected) << "'" << c.text << "'";
  }
}

TEST_F(DrawTest, SpacingMinusTwelveStacksEveryLetter) {
  game.draw_text("ABC", 50, 50, kAlignLeft, -12, false, 0, host);
  EXPECT_THAT(lit(host.frame()), ::testing::ElementsAre(Px{50, 44, font_colour('C')}));
}

TEST_F(DrawTest, TheWaveFollowsTheSineTableTruncatedTowardZero) {
  // Letter i is lowered by sin[16 ((counter + i) mod 16)] div 500: for
  // counter 0 the entries 392, 724, 946, 1024, 946, 724, 392, 0, -392, -724,
  // -946, -1024 give 0, 1, 1, 2, 1, 1, 0, 0, 0, -1, -1, -2.
  const std::int32_t offsets[] = {0, 1, 1, 2, 1, 1, 0, 0, 0, -1, -1, -2};
  game.draw_text("ABCDEFGHIJKL", 0, 100, kAlignLeft, 0, true, 0, host);
  std::vector<Px> expected;
  for (std::int32_t i = 0; i < 12; ++i) {
    expected.push_back({12 * i, 94 + offsets[i], font_colour(static_cast<char>('A' + i))});
  }
  EXPECT_EQ(lit(host.frame()), sorted(expected));

  // The counter shifts the phase: with counter 3 the first letter takes the
  // fourth letter's place in the wave; with counter 15 it takes sin[0].
  host.frame().pixels.assign(host.frame().pixels.size(), 0);
  game.draw_text("A", 0, 100, kAlignLeft, 0, true, 3, host);
  game.draw_text("B", 20, 100, kAlignLeft, 0, true, 15, host);
  EXPECT_THAT(lit(host.frame()),
              ::testing::ElementsAre(Px{20, 94, font_colour('B')}, Px{0, 96, font_colour('A')}));
}

TEST_F(DrawTest, BigTextStretchesEachLetterTo23Pixels) {
  BitmapLibrary lib = marker_library();
  put(lib, "font.bmp", make_cell_sheet(24, 3, 12, 12, solid(kFontBase)));
  MemoryHost full(std::move(lib));
  // Right alignment: x + spacing - n x (24 + spacing) = 100 + 2 - 52 = 50.
  game.draw_big_text("AB", 100, 50, kAlignRight, 2, false, 0, full);
  for (const auto& [x0, c] : {std::pair{50, font_colour('A')}, std::pair{76, font_colour('B')}}) {
    for (std::int32_t y = 38; y < 61; ++y) {
      for (std::int32_t x = x0; x < x0 + 23; ++x)
        ASSERT_EQ(full.frame().at(x, y), c) << x << "," << y;
    }
    EXPECT_EQ(full.frame().at(x0 + 23, 38), 0);
    EXPECT_EQ(full.frame().at(x0, 61), 0);
    EXPECT_EQ(full.frame().at(x0, 37), 0);
  }
  EXPECT_EQ(full.frame().at(49, 40), 0);

  // The big wave divides by 300: 392, 724, 946, 1024 give 1, 2, 3, 3.
  MemoryHost wave{marker_library()};
  game.draw_big_text("ABCD", 0, 100, kAlignLeft, 0, true, 0, wave);
  for (std::int32_t i = 0; i < 4; ++i) {
    const std::int32_t top = 88 + std::array{1, 2, 3, 3}[static_cast<std::size_t>(i)];
    EXPECT_EQ(wave.frame().at(24 * i, top), font_colour(static_cast<char>('A' + i))) << i;
    EXPECT_EQ(wave.frame().at(24 * i, top - 1), 0) << i;
  }
}

// Colour of score cell n on the marker sheet.
constexpr std::int32_t score_cell(std::int32_t n) {
  return kScoreBase + n;
}

TEST_F(DrawTest, NumbersFillTheirPlacesAndChangeColourByGroup) {
  TGameProbe::settings(game).score_digits = 12;
  TGameProbe::settings(game).score_grouping = 4;
  game.draw_number(0, 6, kAlignLeft, 0, false, 1234567, host);
  // 12 places of 10 pixels: five blanks, then 123 in the second colour
  // (cells 21..23) and 4567 in the first (cells 34..37).
  std::vector<Px> expected;
  for (std::int32_t i = 0; i < 5; ++i) expected.push_back({10 * i, 0, score_cell(0)});
  const std::int32_t cells[] = {21, 22, 23, 34, 35, 36, 37};
  for (std::int32_t i = 0; i < 7; ++i) expected.push_back({50 + 10 * i, 0, score_cell(cells[i])});
  EXPECT_EQ(lit(host.frame()), expected);
  EXPECT_EQ(game.settings().score_digits, 12);
}

TEST_F(DrawTest, GroupsCycleThroughThreeColours) {
  TGameProbe::settings(game).score_digits = 4;
  TGameProbe::settings(game).score_grouping = 1;
  game.draw_number(0, 6, kAlignLeft, 0, false, 1234, host);
  // Group of place i is (4 - i) mod 3: 0, 2, 1, 0 from the right.
  EXPECT_THAT(lit(host.frame()),
              ::testing::ElementsAre(Px{0, 0, score_cell(31)}, Px{12, 0, score_cell(12)},
                                     Px{24, 0, score_cell(23)}, Px{36, 0, score_cell(34)}));
}

TEST_F(DrawTest, PlaceWidthNarrowsWithThePlaces) {
  struct Case {
    std::int32_t places;
    std::int32_t width;
  };
  for (const Case c :
       {Case{4, 12}, Case{6, 12}, Case{7, 11}, Case{10, 11}, Case{11, 10}, Case{12, 10},
        Case{13, 9}, Case{14, 9}, Case{15, 8}, Case{17, 8}, Case{18, 7}, Case{20, 7}}) {
    MemoryHost h{marker_library()};
    TGameProbe::settings(game).score_digits = c.places;
    game.draw_number(0, 6, kAlignLeft, 0, false, 0, h);
    const std::vector<Px> px = lit(h.frame());
    ASSERT_EQ(px.size(), static_cast<std::size_t>(c.places)) << c.places;
    EXPECT_EQ(px[1].x, c.width) << c.places;
    EXPECT_EQ(px.back(), (Px{(c.places - 1) * c.width, 0, score_cell(30)})) << c.places;
  }
}

TEST_F(DrawTest, NumberAlignment) {
  TGameProbe::settings(game).score_digits = 4;
  struct Case {
    std::int32_t alignment;
    std::int32_t first_x;
  };
  // Four places of 12 at x 100.
  for (const Case c : {Case{kAlignLeft, 100}, Case{kAlignCentre, 76}, Case{kAlignRight, 52}}) {
    MemoryHost h{marker_library()};
    game.draw_number(100, 6, c.alignment, 0, false, 7, h);
    const std::vector<Px> px = lit(h.frame());
    ASSERT_EQ(px.size(), 4u);
    EXPECT_EQ(px[0].x, c.first_x);
    EXPECT_EQ(px[3], (Px{c.first_x + 36, 0, score_cell(37)}));
  }
}

TEST_F(DrawTest, ALongerNumberRaisesTheDigitsSettingForGood) {
  TGameProbe::settings(game).score_digits = 12;
  game.draw_number(0, 6, kAlignLeft, 0, false, 1234567890123, host);
  EXPECT_EQ(game.settings().score_digits, 13);
  EXPECT_EQ(lit(host.frame()).size(), 13u);
  MemoryHost h{marker_library()};
  game.draw_number(0, 6, kAlignLeft, 0, false, 5, h);
  EXPECT_EQ(game.settings().score_digits, 13);
  EXPECT_EQ(lit(h.frame()).size(), 13u);

  // The setting stops at 20 but the places do not.
  TGameProbe::settings(game).score_digits = 4;
  MemoryHost big{marker_library()};
  game.draw_number(0, 6, kAlignLeft, 0, false, std::numeric_limits<std::int64_t>::min(), big);
  EXPECT_EQ(game.settings().score_digits, 20);
  EXPECT_EQ(lit(big.frame()).size(), 20u);
}

TEST_F(DrawTest, AHandEditedDigitsSettingDrawsAtMostTwentyPlaces) {
  TGame edited = TGame::create(load_config("[GameSetting]\nScoreNumOfDigits=2147483647\n"));
  edited.draw_number(0, 6, kAlignLeft, 0, false, 5, host);
  EXPECT_EQ(lit(host.frame()).size(), 20u);
}

TEST_F(DrawTest, TheSignOfANegativeNumberIsABlankPlace) {
  TGameProbe::settings(game).score_digits = 4;
  game.draw_number(0, 6, kAlignLeft, 0, false, -5, host);
  EXPECT_THAT(lit(host.frame()),
              ::testing::ElementsAre(Px{0, 0, score_cell(0)}, Px{12, 0, score_cell(0)},
                                     Px{24, 0, score_cell(0)}, Px{36, 0, score_cell(35)}));
}

TEST_F(DrawTest, NumbersWave) {
  TGameProbe::settings(game).score_digits = 4;
  game.draw_number(0, 106, kAlignLeft, 0, true, 1111, host);
  // Offsets 0, 1, 1, 2 as for text.
  EXPECT_THAT(lit(host.frame()),
              ::testing::ElementsAre(Px{0, 100, score_cell(31)}, Px{12, 101, score_cell(31)},
                                     Px{24, 101, score_cell(31)}, Px{36, 102, score_cell(31)}));
}

TEST_F(DrawTest, LinesPlotOnePixelPerStepOfTheLongerAxis) {
  const auto row_at = [](std::int32_t y) {
    std::vector<Px> row;
    for (std::int32_t x = 0; x < 320; ++x) row.push_back({x, y, 5});
    return row;
  };
  struct Case {
    std::int32_t x1, y1, x2, y2;
    std::vector<Px> expected;
  };
  // (0, 0)-(3, 10): m = 10/3, steep, so x = round(y x 0.3) with 0.3 the
  // double nearest 1/m. At y 5 the extended product 1.4999999999999999445
  // rounds to 1 (a double product would round to 1.5 and then to 2).
  const std::vector<Px> steep = {{0, 0, 5}, {0, 1, 5}, {1, 2, 5}, {1, 3, 5}, {1, 4, 5}, {1, 5, 5},
                                 {2, 6, 5}, {2, 7, 5}, {2, 8, 5}, {3, 9, 5}, {3, 10, 5}};
  std::vector<Px> shallow;
  for (const Px& p : steep) shallow.push_back({p.y, p.x, 5});
  const Case cases[] = {
      {10, 10, 10, 10, {{10, 10, 5}}},
      {0, 0, 3, 10, steep},
      {3, 10, 0, 0, steep},
      {0, 0, 10, 3, shallow},
      {7, 3, 7, 0, {{7, 0, 5}, {7, 1, 5}, {7, 2, 5}, {7, 3, 5}}},
      {0, 4, 3, 4, {{0, 4, 5}, {1, 4, 5}, {2, 4, 5}, {3, 4, 5}}},
      // Level lines drawn leftward have the slope -0, which changes no y.
      {3, 4, 0, 4, {{0, 4, 5}, {1, 4, 5}, {2, 4, 5}, {3, 4, 5}}},
      {5, 0, 2, 0, {{2, 0, 5}, {3, 0, 5}, {4, 0, 5}, {5, 0, 5}}},
      // A diagonal has |m| = 1 and is drawn along y.
      {2, 2, 0, 4, {{2, 2, 5}, {1, 3, 5}, {0, 4, 5}}},
      // Off the frame nothing shows, and a line to a far point ends quickly.
      {-3, -3, 1, 1, {{0, 0, 5}, {1, 1, 5}}},
      {318, 239, 2000000000, 239, {{318, 239, 5}, {319, 239, 5}}},
      // Spans beyond 32 bits: the slope 2 / (2^32 - 1), and x - min x from 2^31 on,
      // so y = (2^31 + x) x m is just above 1 across the frame.
      {INT32_MIN, 0, INT32_MAX, 2, row_at(1)},
  };
  for (const Case& c : cases) {
    MemoryHost h;
    game.draw_line(c.x1, c.y1, c.x2, c.y2, 5, h);
    EXPECT_EQ(lit(h.frame()), sorted(c.expected))
        << c.x1 << "," << c.y1 << " - " << c.x2 << "," << c.y2;
  }
}

TEST(StretchColour, BandsOfThePercent) {
  struct Case {
    std::int32_t percent;
    std::uint8_t colour;
  };
  for (const Case c :
       {Case{-1, 255}, Case{0, 255}, Case{1, 197}, Case{39, 197}, Case{40, 245}, Case{69, 245},
        Case{70, 150}, Case{89, 150}, Case{90, 113}, Case{100, 113}, Case{101, 255}}) {
    EXPECT_EQ(TGame::stretch_colour(c.percent), c.colour) << c.percent;
  }
}

TEST_F(DrawTest, BackgroundFillsWhenSwitchedOff) {
  TGameProbe::settings(game).flags = 0;
  game.draw_background(1, host);
  EXPECT_TRUE(lit(host.frame(), 15).empty());
  game.draw_background(0, host);
  EXPECT_TRUE(lit(host.frame(), 34).empty());
}

TEST_F(DrawTest, BackgroundTilesScrollWithTheGravity) {
  BitmapLibrary lib = marker_library();
  // Tile 0 row r has colour 1 + r, tile 1 is colour 250 throughout.
  put(lib, "field.bmp",
      make_cell_sheet(1, 2, 160, 160, [](std::int32_t n, std::int32_t, std::int32_t y) {
        return n == 0 ? 1 + y : 250;
      }));
  MemoryHost h(std::move(lib));
  TGameProbe::settings(game).flags = kDrawBackground;
  struct Case {
    double gravity;
    std::int32_t scroll_before;
    std::int32_t scroll_after;
  };
  // Going below 0 wraps by 1073741823, not by a multiple of 160.
  for (const Case c :
       {Case{0.2, 0, 1}, Case{-0.2, 5, 4}, Case{0.0, 7, 7}, Case{-0.2, 0, 1073741822}}) {
    TGameProbe::play(game).gravity = c.gravity;
    TGameProbe::background_scroll(game) = c.scroll_before;
    game.draw_background(0, h);
    ASSERT_EQ(game.background_scroll(), c.scroll_after);
    const std::int32_t o = c.scroll_after % 160 - 160;
    for (std::int32_t y = 0; y < 240; ++y) {
      const std::int32_t row = ((y - o) % 160 + 160) % 160;
      ASSERT_EQ(h.frame().at(0, y), 1 + row) << "y " << y << " scroll " << c.scroll_after;
      ASSERT_EQ(h.frame().at(319, y), 1 + row);
    }
  }
  game.draw_background(1, h);
  EXPECT_TRUE(lit(h.frame(), 250).empty());
}

TEST_F(DrawTest, TheRecorderMarkBlinksInTheCorner) {
  TGameProbe::settings(game).flags = 0;
  // Centred on 310: one letter starts at 304, its top at 224.
  const auto mark_at_corner = [&](std::int32_t bfc) {
    MemoryHost h{marker_library()};
    TGameProbe::banner_frame_counter(game) = bfc;
    game.draw_background(0, h);
    return static_cast<std::int32_t>(h.frame().at(304, 224));
  };
  EXPECT_EQ(mark_at_corner(0), 34);  // idle: no mark
  TGameProbe::recorder(game).start_record(1, host.recorder_io());
  EXPECT_EQ(mark_at_corner(0), font_colour('r'));
  EXPECT_EQ(mark_at_corner(14), font_colour('r'));
  EXPECT_EQ(mark_at_corner(15), 34);
  EXPECT_EQ(mark_at_corner(29), 34);
  EXPECT_EQ(mark_at_corner(30), font_colour('r'));
  TGameProbe::recorder(game).finish_record(RecHeaderRaw{}, host.recorder_io());

  TGameProbe::recorder(game).start_play(1, host.recorder_io());
  ASSERT_EQ(game.recorder().state(), RecState::Playing);
  EXPECT_EQ(mark_at_corner(3), font_colour('p'));
  TGameProbe::recorder(game).close(host.recorder_io());

  TGameProbe::recorder(game).start_play(9, host.recorder_io());  // no such file
  ASSERT_TRUE(game.recorder().failed());
  EXPECT_EQ(mark_at_corner(3), font_colour('x'));
}

TEST_F(DrawTest, TheFpsOverlayShowsTheLastWholeSecond) {
  TGameProbe::settings(game).flags = kViewFpsNumber;
  game.set_state(kStateTitle, host);
  const auto overlay = [&] {
    return std::vector<std::int32_t>{host.frame().at(5, 14), host.frame().at(17, 14),
                                     host.frame().at(29, 14), host.frame().at(41, 14),
                                     host.frame().at(53, 14)};
  };
  // "FPS0" at (5, 20), left-aligned: letters 12 apart from x 5, tops at 14.
  game.present(host);
  EXPECT_EQ(overlay(), (std::vector<std::int32_t>{font_colour('F'), font_colour('P'),
                                                  font_colour('S'), font_colour('0'), 0}));
  for (std::uint32_t t = 0; t <= 1000; t += 25) {
    host.ms = t;
    game.step_frame(host);
  }
  host.frame().pixels.assign(host.frame().pixels.size(), 0);
  game.present(host);
  EXPECT_EQ(overlay(),
            (std::vector<std::int32_t>{font_colour('F'), font_colour('P'), font_colour('S'),
                                       font_colour('4'), font_colour('0')}));
  ASSERT_FALSE(host.presented.empty());
  EXPECT_EQ(host.presented.back().pixels, host.frame().pixels);
}

class PlayPictureTest : public DrawTest {
 protected:
  void SetUp() override {
    TGameProbe::settings(game).flags = 0;  // plain background, colour 34
  }
  // Hand at (160, 50), ball 65 below it: with natural length 25 and the
  // given endurance the string is stretched (65 - 25) x 100 / E percent.
  void hang(double endurance, bool cut = false) {
    TPend::State s;
    s.hand_x = 160;
    s.hand_y = 50;
    s.ball_x = 160.0;
    s.ball_y = 115.0;
    s.natural_length = 25.0;
    s.endurance = endurance;
    s.radius = 5.0;
    s.cut = cut;
    TGameProbe::pend(game) = TPend::from_state(s);
  }
};

TEST_F(PlayPictureTest, TheStretchGaugeIsAsWideAsTheEndurance) {
  struct Case {
    double endurance;
    std::int32_t left;
    std::int32_t filled_right;
    std::int32_t right;
  };
  // left = round((320 - E) / 2), right = round((320 + E) / 2), filled to
  // round(p E / 100 + (320 - E) / 2); halves go to the even neighbour.
  for (const Case c : {Case{80.0, 120, 160, 200},     // p 50
                       Case{81.0, 120, 159, 200},     // p 49: 39.69 + 119.5 = 159.19
                       Case{83.0, 118, 158, 202},     // p 48: 39.84 + 118.5 = 158.34
                       Case{160.0, 80, 120, 240}}) {  // p 25
    MemoryHost h{marker_library()};
    hang(c.endurance);
    const std::int32_t p = game.pend().stretch_percent();
    game.draw_play(h);
    for (std::int32_t y = 219; y <= 235; ++y) {
      for (std::int32_t x = 0; x < 320; ++x) {
        std::int32_t want = 34;
        if (y >= 220 && y < 235 && x >= c.left && x < c.right) want = x < c.filled_right ? 7 : 9;
        ASSERT_EQ(h.frame().at(x, y), want)
            << "E " << c.endurance << " p " << p << " at " << x << "," << y;
      }
    }
  }
}

TEST_F(PlayPictureTest, TheStringRunsFromTheHandToTheBallInItsStretchColour) {
  hang(80.0);  // 50 percent
  game.draw_play(host);
  for (std::int32_t y = 50; y <= 115; ++y) EXPECT_EQ(host.frame().at(160, y), 245) << y;
  EXPECT_EQ(host.frame().at(160, 49), 34);
  EXPECT_EQ(host.frame().at(160, 116), 34);
  EXPECT_EQ(host.frame().at(159, 80), 34);
}

TEST_F(PlayPictureTest, ACutStringShowsTheBannerInsteadOfTheFilledBar) {
  hang(80.0, true);
  const std::uint32_t before = game.random_state();
  game.draw_play(host);
  EXPECT_EQ(game.random_state(), before * 134775813u + 1u);  // one draw for the tremble
  for (std::int32_t x = 120; x < 200; ++x) EXPECT_EQ(host.frame().at(x, 234), 9) << x;
  for (std::int32_t y = 50; y <= 115; ++y) EXPECT_EQ(host.frame().at(160, y), 34);
  // "-LINE IS CUT-" centred at 160: 13 letters of 12 plus s div 300 spacing,
  // with s = sin[10 x 1] = 249, so spacing 0 and a start at 82; the first
  // letter '-' has its top at 223 plus its wave.
  bool dash = false;
  for (std::int32_t y = 218; y <= 230; ++y)
    dash = dash || host.frame().at(82, y) == font_colour('-');
  EXPECT_TRUE(dash);
}

TEST_F(PlayPictureTest, TargetsShowTheirKindAndTheNewestBlinks) {
  hang(80.0);
  TGameProbe::slots(game).push({50, 50}, 0, {0, 0});
  TGameProbe::slots(game).push({100, 50}, 1, {0, 0});
  TGameProbe::slots(game).push({150, 50}, 2, {0, 0});
  for (const std::int32_t bfc : {3, 4}) {
    MemoryHost h{marker_library()};
    TGameProbe::banner_frame_counter(game) = bfc;
    game.draw_play(h);
    const std::int32_t f = bfc % 20;
    EXPECT_EQ(h.frame().at(38, 38), kTargetBase + f);      // live, kind 0
    EXPECT_EQ(h.frame().at(88, 38), kNext2Base + f + 20);  // next, kind 1
    EXPECT_EQ(h.frame().at(138, 38), bfc % 3 == 0 ? kNext2Base + f + 40 : 34);
  }
}

TEST_F(PlayPictureTest, TheComboHopsAfterAHitAndBlinksWhenItsTimerRunsLow) {
  hang(80.0, true);  // no string across the digits
  TGameProbe::play(game).combo = 12;
  TGameProbe::play(game).combo_timer = 100;
  TGameProbe::play(game).frames_since_hit = 30;
  game.draw_play(host);
  // Two digits from x 160 - 40, 40 apart, top 100.
  EXPECT_EQ(host.frame().at(120, 100), kNumberBase + 1);
  EXPECT_EQ(host.frame().at(160, 100), kNumberBase + 2);
  for (std::int32_t x = 110; x <= 210; ++x) EXPECT_EQ(host.frame().at(x, 143), 255) << x;
  EXPECT_EQ(host.frame().at(109, 143), 34);
  EXPECT_EQ(host.frame().at(211, 143), 34);

  // Five frames after the hit: 100 - sin[30] div 40 = 100 - 688 div 40 = 83.
  MemoryHost hop{marker_library()};
  TGameProbe::play(game).frames_since_hit = 5;
  game.draw_play(hop);
  EXPECT_EQ(hop.frame().at(120, 83), kNumberBase + 1);

  // A timer of 34 or less shows the combo only on odd frames of the state.
  TGameProbe::play(game).combo_timer = 20;
  // The pause screen draws the play picture without advancing the play.
  game.set_state(kStatePause, host);  // frame counter 0
  MemoryHost even{marker_library()};
  game.draw_play(even);
  EXPECT_EQ(even.frame().at(120, 83), 34);
  game.step_frame(even);  // frame counter 1
  MemoryHost odd{marker_library()};
  game.draw_play(odd);
  EXPECT_EQ(odd.frame().at(120, 83), kNumberBase + 1);

  // The line cut leaves the combo out.
  game.set_state(kStateLineCut, host);
  game.step_frame(host);
  MemoryHost cut{marker_library()};
  game.draw_play(cut);
  EXPECT_EQ(cut.frame().at(120, 83), 34);
}

TEST_F(PlayPictureTest, PercentTextsShowOnEvenPlayFrames) {
  hang(80.0);
  TGameProbe::texts(game).add_percent(57, {100, 100});
  TGameProbe::play(game).play_frame = 2;
  game.draw_play(host);
  // Two digits from 100 - 10 div 2, 6 apart, top 96, then the percent sign.
  EXPECT_EQ(host.frame().at(95, 96), kPfontBase + 5);
  EXPECT_EQ(host.frame().at(101, 96), kPfontBase + 7);
  EXPECT_EQ(host.frame().at(107, 96), kPfontBase + 10);
  MemoryHost odd{marker_library()};
  TGameProbe::play(game).play_frame = 3;
  game.draw_play(odd);
  EXPECT_EQ(odd.frame().at(95, 96), 34);
}

TEST_F(PlayPictureTest, JudgeTextsShrinkIntoPlace) {
  hang(80.0);
  TGameProbe::texts(game).add_judge(1, {160, 100});
  game.draw_play(host);
  // Class 1 at age 0: (x - 70, y - 35) to (x + 70, y + 35), right and bottom excluded.
  const std::int32_t c = kJudgeBase + 1;
  EXPECT_EQ(host.frame().at(90, 65), c);
  EXPECT_EQ(host.frame().at(229, 134), c);
  EXPECT_EQ(host.frame().at(230, 100), 34);
  EXPECT_EQ(host.frame().at(89, 100), 34);
  EXPECT_EQ(host.frame().at(100, 64), 34);
  EXPECT_EQ(host.frame().at(100, 135), 34);
}

TEST_F(PlayPictureTest, TheTimeGaugeGrowsAndBlinksWhenLow) {
  hang(80.0);
  struct Case {
    std::int32_t gauge;
    std::int32_t bfc;
    std::int32_t x;
    std::int32_t y;
    bool shown;
  };
  // "t201" small, right-aligned at 315: starts at 267, top 1. "t150" big at
  // 315: starts at 219, top 3, only on even banner frames.
  for (const Case c :
       {Case{201, 1, 267, 1, true}, Case{150, 2, 219, 3, true}, Case{150, 3, 219, 3, false}}) {
    MemoryHost h{marker_library()};
    TGameProbe::play(game).gauge = c.gauge;
    TGameProbe::banner_frame_counter(game) = c.bfc;
    game.draw_play(h);
    EXPECT_EQ(h.frame().at(c.x, c.y), c.shown ? font_colour('t') : 34) << c.gauge << " " << c.bfc;
  }
}

TEST_F(PlayPictureTest, TheShownScoreRunsAfterTheScore) {
  hang(80.0);
  struct Case {
    std::int64_t score, shown, after;
  };
  for (const Case c :
       {Case{10000, 0, 500}, Case{10399, 10000, 10399}, Case{10400, 10000, 10020}, Case{5, 5, 5}}) {
    MemoryHost h{marker_library()};
    TGameProbe::play(game).score = c.score;
    TGameProbe::play(game).shown_score = c.shown;
    game.draw_play(h);
    EXPECT_EQ(game.play().shown_score, c.after);
    EXPECT_EQ(h.frame().at(5, 1), font_colour('S'));   // "SCORE" at (5, 7)
    EXPECT_EQ(h.frame().at(16, 1), font_colour('C'));  // spacing -1: 11 apart
  }
}

TEST_F(PlayPictureTest, TheGravityChangerStepsAndFlipsOnlyInPlay) {
  hang(80.0);
  game.set_state(kStatePlay, host);
  TGameProbe::play(game).gravity = 0.2;
  TGameProbe::gravity_changer(game) = TGravityChanger::create(false);
  for (int i = 0; i < 50; ++i) TGameProbe::gravity_changer(game)->step(0.2);
  game.draw_play(host);
  // From the left at x 21 after 51 steps: "gravityh" cell (51 div 3) mod 5 + 5 = 7
  // at (21 - 25, 160 - 30).
  EXPECT_EQ(host.frame().at(0, 130), kGravityHBase + 7);
  EXPECT_EQ(host.frame().at(45, 189), kGravityHBase + 7);
  EXPECT_EQ(host.frame().at(46, 130), 34);

  // Waiting: on its first frame of waiting it sounds and shows cell 9 - 0.
  while (game.gravity_changer()->phase() == TGravityChanger::kApproach) {
    TGameProbe::gravity_changer(game)->step(0.2);
  }
  MemoryHost wait{marker_library()};
  game.draw_play(wait);
  EXPECT_THAT(wait.sounds, ::testing::ElementsAre(MemoryHost::Sound{"gravitychange", 4}));
  EXPECT_EQ(wait.frame().at(game.gravity_changer()->x() - 25, 130), kGravityXBase + 9);

  // Its 31st frame of waiting flips the gravity of the play.
  for (int i = 0; i < 29; ++i) game.draw_play(wait);
  EXPECT_EQ(game.play().gravity, 0.2);
  game.draw_play(wait);
  EXPECT_EQ(game.play().gravity, -0.2);

  // Outside the play the changer stands still.
  game.set_state(kStatePause, host);
  const std::int32_t x = game.gravity_changer()->x();
  game.draw_play(wait);
  EXPECT_EQ(game.gravity_changer()->x(), x);

  // Once it has left it is dropped.
  game.set_state(kStatePlay, host);
  for (int i = 0; i < 400 && game.gravity_changer(); ++i) game.draw_play(wait);
  EXPECT_FALSE(game.gravity_changer().has_value());
}

}  // namespace
}  // namespace zt
