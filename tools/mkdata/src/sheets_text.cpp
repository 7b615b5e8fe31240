// Letters, numbers and labels: the fonts, the score and combo digits, the
// judge pictures, the gauge, the rank plates and the game-over banners.
#include <algorithm>
#include <cmath>
#include <string>

#include "pixel_font.h"
#include "rng.h"
#include "sheets.h"

namespace zt::mkdata {
namespace {

// The text font's light body, white at the top going to pale sky.
std::uint8_t font_body(char ch, int row) {
  switch (ch) {
    case 'G':
      return ramp(Ramp::Green, row < 3 ? 13 : 11);
    case 'R':
      return ramp(Ramp::Red, row < 3 ? 11 : 9);
    case 'Y':
      return ramp(Ramp::Gold, 13);
    case 'W':
      return ramp(Ramp::Grey, 15);
    default:
      break;
  }
  static constexpr int kLevel[9] = {15, 15, 15, 14, 14, 14, 13, 13, 12};
  return row < 5 ? ramp(Ramp::Grey, kLevel[row]) : ramp(Ramp::Sky, kLevel[row]);
}

// Fits a text into width w at most cap pixels high.
Lettering fit(std::string_view text, double w, double cap, double pen, double gap = 1.4) {
  Lettering l;
  l.cap = cap;
  l.pen = pen;
  l.gap = gap;
  const double tw = text_width(text, l);
  if (tw > w) l.squeeze = std::max(0.5, (w - 2 * pen) / (tw - 2 * pen));
  return l;
}

// A check mark or a cross of the judge pictures.
Mask mark_mask(int w, int h, bool check, double cx, double cy, double s) {
  if (check)
    return rasterize(
        w, h, stroke({{cx - s, cy}, {cx - s * 0.3, cy + s * 0.75}, {cx + s, cy - s}}, s * 0.28));
  return rasterize(
      w, h,
      unite(stroke({{cx - s * 0.8, cy - s * 0.8}, {cx + s * 0.8, cy + s * 0.8}}, s * 0.26),
            stroke({{cx + s * 0.8, cy - s * 0.8}, {cx - s * 0.8, cy + s * 0.8}}, s * 0.26)));
}

void sparkle(Image& img, int x, int y, int r, std::uint8_t c) {
  for (int i = -r; i <= r; ++i) {
    img.set(x + i, y, c);
    img.set(x, y + i, c);
  }
}

struct PlateLook {
  Ramp back;
  Ramp text;
  bool stars;
};

PlateLook plate_look(int i) {
  static const PlateLook kLooks[20] = {
      {Ramp::Steel, Ramp::Grey, false},  {Ramp::Brown, Ramp::Skin, false},
      {Ramp::Green, Ramp::Gold, false},  {Ramp::Teal, Ramp::Grey, false},
      {Ramp::Sky, Ramp::Grey, false},    {Ramp::Gold, Ramp::Grey, false},
      {Ramp::Orange, Ramp::Gold, false}, {Ramp::Red, Ramp::Gold, false},
      {Ramp::Rose, Ramp::Grey, false},   {Ramp::Magenta, Ramp::Gold, false},
      {Ramp::Violet, Ramp::Gold, false}, {Ramp::Blue, Ramp::Gold, false},
      {Ramp::Teal, Ramp::Gold, false},   {Ramp::Sky, Ramp::Gold, false},
      {Ramp::Red, Ramp::Grey, false},    {Ramp::Night, Ramp::Sky, true},
      {Ramp::Night, Ramp::Rose, true},   {Ramp::Night, Ramp::Gold, true},
      {Ramp::Violet, Ramp::Grey, true},  {Ramp::Gold, Ramp::Grey, true},
  };
  return kLooks[i];
}

std::vector<std::string> plate_lines(int i) {
  static const char* kLines[20][3] = {
      {"E"},
      {"D"},
      {"C"},
      {"B"},
      {"A"},
      {"S"},
      {"SS"},
      {"SSS"},
      {"ULTRA"},
      {"GENIUS"},
      {"HYPER"},
      {"EX-HYPER"},
      {"SUPER", "HYPER"},
      {"ULTRA", "HYPER"},
      {"SUPER", "ULTRA", "HYPER"},
      {"COSMIC", "SUPER"},
      {"COSMIC", "HYPER"},
      {"COSMIC", "EX-HYPER"},
      {"ZENTRO-", "POLIUM"},
      {"GOD OF", "PENDULUM"},
  };
  std::vector<std::string> out;
  for (const char* s : kLines[i])
    if (s) out.emplace_back(s);
  return out;
}

Image rank_plate(int i) {
  const int W = sheet_layout(kSheetRank).cell_width, H = sheet_layout(kSheetRank).cell_height;
  Image img(W, H, ink());
  const PlateLook look = plate_look(i);
  // Background: a diagonal gradient with a soft sheen band.
  for (int y = 2; y < H - 2; ++y)
    for (int x = 2; x < W - 2; ++x) {
      double v = 0.25 + 0.35 * (1.0 - (x + y) / double(W + H));
      const double band = std::abs((x - y * 0.6) - 40);
      if (band < 6) v += 0.12;
      const int hi = look.back == Ramp::Night ? 15 : 9;
      img.set(x, y, shade(look.back, v, x, y, 1, hi));
    }
  if (look.stars) {
    Rng rng(1000 + static_cast<std::uint64_t>(i));
    for (int k = 0; k < 40; ++k) {
      const int x = 4 + rng.below(W - 8), y = 4 + rng.below(H - 8);
      img.set(x, y, ramp(Ramp::Grey, 9 + rng.below(7)));
    }
    sparkle(img, 14, 14, 2, ramp(Ramp::Grey, 15));
    sparkle(img, 86, 64, 2, ramp(Ramp::Grey, 15));
  }
  // Bevelled frame.
  for (int k = 0; k < 2; ++k) {
    for (int x = 1 + k; x < W - 1 - k; ++x) {
      img.set(x, 1 + k, ramp(look.back, 13 - k));
      img.set(x, H - 2 - k, ramp(look.back, 4 + k));
    }
    for (int y = 1 + k; y < H - 1 - k; ++y) {
      img.set(1 + k, y, ramp(look.back, 12 - k));
      img.set(W - 2 - k, y, ramp(look.back, 5 + k));
    }
  }
  const std::vector<std::string> lines = plate_lines(i);
  const int n = static_cast<int>(lines.size());
  const bool letter = n == 1 && lines[0].size() <= 3;
  const double cap = letter ? (lines[0].size() <= 1 ? 44 : 34) : n == 1 ? 22 : n == 2 ? 18 : 13;
  const double pen = letter ? 3.6 : n == 3 ? 1.9 : 2.3;
  const double line_h = cap + 2 * pen + 5;
  double y = (H - (n * line_h - 5)) / 2.0;
  Mask all(W, H);
  for (const std::string& line : lines) {
    const Lettering l = fit(line, W - 14, cap, pen);
    all = mask_or(all, text_mask_centred(W, H, line, W / 2.0, y, l));
    y += line_h;
  }
  TextStyle st;
  st.fill = look.text;
  st.fill_lo = 10;
  st.fill_hi = 15;
  st.outline_width = pen > 3 ? 2 : 1;
  st.shadow = pen > 3 ? 2 : 1;
  paint_text(img, all, st);
  return img;
}

// A ribbon banner 300 x 40 with swallow-tail ends.
Image banner(std::string_view text, Ramp back, Ramp letters) {
  const int W = sheet_layout(kSheetGameOver).cell_width;
  const int H = sheet_layout(kSheetGameOver).cell_height;
  Image img(W, H);
  auto ribbon = polygon({{0, 7}, {300, 7}, {288, 20}, {300, 33}, {0, 33}, {12, 20}});
  const Mask m = rasterize(W, H, ribbon);
  paint(img, dilate(m, 1), ink());
  paint(img, m, [&](int x, int y) {
    const double v = 1.0 - std::abs(y - 14) / 20.0;
    return shade(back, v, x, y, 3, 11);
  });
  for (int x = 12; x < 288; ++x) {
    img.set(x, 9, ramp(back, 13));
    img.set(x, 31, ramp(back, 2));
  }
  Lettering l = fit(text, 250, 20, 2.6, 1.6);
  l.slant = 0.12;
  const Mask t = text_mask_centred(W, H, text, W / 2.0, 6.5, l);
  TextStyle st;
  st.fill = letters;
  st.fill_lo = 9;
  st.fill_hi = 15;
  st.outline_width = 1;
  st.shadow = 2;
  paint_text(img, t, st);
  return img;
}

}  // namespace

Image draw_font() {
  Image img = sheet_canvas(kSheetFont);
  for (std::size_t i = 0; i < kFontChars.size(); ++i) {
    const int x = 12 * static_cast<int>(i % 24), y = 12 * static_cast<int>(i / 24);
    stamp(img, font_glyph(kFontChars[i]), x + 2, y + 1, font_body, ink());
  }
  return img;
}

Image draw_score() {
  Image img = sheet_canvas(kSheetScore);
  // Cell 0, a place before the first digit: an unlit figure.
  const PixelArt& unlit = score_digit(10);
  for (int j = 0; j < 9; ++j)
    for (int i = 0; i < 5; ++i)
      if (unlit[static_cast<std::size_t>(j)][static_cast<std::size_t>(i)] != '.')
        img.set(2 + i, 1 + j, ramp(Ramp::Steel, 4));
  // Three colours by digit group: cells 30-39 the units group, 20-29, 10-19.
  const Ramp groups[3] = {Ramp::Sky, Ramp::Gold, Ramp::Rose};
  for (int g = 0; g < 3; ++g)
    for (int d = 0; d < 10; ++d) {
      const int cell = 30 + d - 10 * g;
      const Ramp r = groups[g];
      stamp(
          img, score_digit(d), 9 * (cell % 10) + 2, 12 * (cell / 10) + 1,
          [r](char, int row) { return row < 2 ? ramp(Ramp::Grey, 15) : ramp(r, 14 - row / 3); },
          ink());
    }
  return img;
}

Image draw_number() {
  Image img = sheet_canvas(kSheetNumber);
  for (int d = 0; d < 10; ++d) {
    Lettering l;
    l.cap = 27;
    l.pen = 3.4;
    l.slant = 0.1;
    const std::string s(1, static_cast<char>('0' + d));
    const Mask m = text_mask_centred(40, 40, s, 20, 2.5, l);
    Image cell(40, 40);
    TextStyle st;
    st.fill = Ramp::Orange;
    st.fill_lo = 8;
    st.fill_hi = 15;
    st.outline_width = 2;
    st.shadow = 2;
    paint_text(cell, m, st);
    img.blit(cell, 40 * d, 0);
  }
  return img;
}

Image draw_pfont() {
  Image img = sheet_canvas(kSheetPfont);
  for (int d = 0; d < 11; ++d)
    stamp(
        img, percent_glyph(d), 5 * d + 1, 2,
        [](char, int row) {
          return row == 0 ? ramp(Ramp::Grey, 15) : ramp(Ramp::Gold, 14 - row / 2);
        },
        ink());
  return img;
}

Image draw_judge() {
  Image img = sheet_canvas(kSheetJudge);
  struct Look {
    const char* text;
    Ramp fill;
  };
  const Look looks[5] = {{"PERFECT", Ramp::Gold},
                         {"GREAT", Ramp::Orange},
                         {"GOOD", Ramp::Green},
                         {"OK", Ramp::Sky},
                         {"MISS", Ramp::Red}};
  for (int i = 0; i < 5; ++i) {
    Image cell(60, 30);
    TextStyle st;
    st.fill = looks[i].fill;
    st.fill_lo = 8;
    st.fill_hi = 15;
    if (i < 3) {
      // The game draws these from 40 x 20 up to about 100 x 60, scaled by
      // whole-pixel sampling: strokes stay at least two pixels wide and
      // nothing thinner than that is drawn, so no line falls apart or stays
      // behind as a stray streak.
      const bool perfect = i == 0;
      const double cap = perfect ? 11.5 : 12.5;
      const double pen = perfect ? 1.25 : 1.35;
      const Lettering l = fit(looks[i].text, perfect ? 59 : 57, cap, pen, perfect ? 0.6 : 1.5);
      paint_text(cell, text_mask_centred(60, 30, looks[i].text, 30, 15 - cap / 2 - pen, l), st);
    } else {
      // A check mark for the lowest passing grade, a cross for none: they
      // also serve as the on and off marks of the options.
      const bool check = i == 3;
      TextStyle ms = st;
      ms.fill = check ? Ramp::Green : Ramp::Red;
      ms.outline_width = 1;
      paint_text(cell, mark_mask(60, 30, check, 10, 15, 7.5), ms);
      const Lettering l = fit(looks[i].text, 38, 11.5, 1.35, 1.5);
      const double w = text_width(looks[i].text, l);
      paint_text(cell, text_mask(60, 30, looks[i].text, 39 - w / 2, 15 - 11.5 / 2 - 1.35, l), st);
    }
    img.blit(cell, 0, 30 * i);
  }
  return img;
}

Image draw_gauge() {
  Image img = sheet_canvas(kSheetGauge);
  // Cell 0: the filled bar, green through yellow and orange to red, split
  // where the string's colour changes (40, 70 and 90 per cent).
  const Ramp segs[4] = {Ramp::Green, Ramp::Gold, Ramp::Orange, Ramp::Red};
  const int bounds[4] = {120, 210, 270, 300};
  static constexpr int kRow[15] = {0, 15, 14, 13, 13, 12, 12, 11, 11, 10, 9, 9, 8, 6, 0};
  for (int x = 0; x < 300; ++x) {
    int s = 0;
    while (x >= bounds[s]) ++s;
    // Dithered hand-over into the next colour over the last 12 pixels.
    const int to_edge = bounds[s] - x;
    for (int y = 0; y < 15; ++y) {
      int seg = s;
      if (s < 3 && to_edge <= 12 && bayer(x, y) > to_edge / 12.0) seg = s + 1;
      const std::uint8_t c = (y == 0 || y == 14 || x == 0) ? ink() : ramp(segs[seg], kRow[y]);
      img.set(x, y, c);
    }
  }
  // Cell 1: the empty trough with marks at the same places.
  for (int x = 0; x < 300; ++x)
    for (int y = 0; y < 15; ++y) {
      std::uint8_t c = ramp(Ramp::Night, y < 4 ? 2 : 4 + y / 4);
      if (y == 0 || y == 14 || x == 0 || x == 299)
        c = ink();
      else if ((x == 120 || x == 210 || x == 270) && y > 2 && y < 12)
        c = ramp(Ramp::Night, 12);
      img.set(x, 15 + y, c);
    }
  return img;
}

Image draw_rank() {
  Image img = sheet_canvas(kSheetRank);
  for (int i = 0; i < 20; ++i) img.blit(rank_plate(i), 100 * (i % 5), 80 * (i / 5), false);
  return img;
}

Image draw_gameover() {
  Image img = sheet_canvas(kSheetGameOver);
  img.blit(banner("GAME OVER", Ramp::Red, Ramp::Gold), 0, 0);
  img.blit(banner("LINE CUT!", Ramp::Violet, Ramp::Grey), 0, 40);
  img.blit(banner("GET READY", Ramp::Blue, Ramp::Gold), 0, 80);
  return img;
}

}  // namespace zt::mkdata
