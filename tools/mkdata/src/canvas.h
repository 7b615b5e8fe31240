// Drawing primitives for indexed pictures: an 8-bit image, coverage masks
// from shapes, and the ways masks are painted (fills, ramps, outlines).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "palette.h"

namespace zt::mkdata {

struct Image {
  int w = 0;
  int h = 0;
  std::vector<std::uint8_t> px;

  Image() = default;
  Image(int width, int height, std::uint8_t fill = kClear);

  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
  std::uint8_t get(int x, int y) const { return inside(x, y) ? px[idx(x, y)] : kClear; }
  void set(int x, int y, std::uint8_t c) {
    if (inside(x, y)) px[idx(x, y)] = c;
  }
  void fill_rect(int x, int y, int width, int height, std::uint8_t c);
  // Copies src with its top left at (x, y); keyed copies skip entry 0.
  void blit(const Image& src, int x, int y, bool keyed = true);
  Image crop(int x, int y, int width, int height) const;

 private:
  std::size_t idx(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
  }
};

// Coverage 0..1 per pixel.
struct Mask {
  int w = 0;
  int h = 0;
  std::vector<float> a;

  Mask() = default;
  Mask(int width, int height)
      : w(width), h(height), a(static_cast<std::size_t>(width * height), 0.f) {}
  float at(int x, int y) const {
    return (x < 0 || y < 0 || x >= w || y >= h) ? 0.f : a[static_cast<std::size_t>(y * w + x)];
  }
  float& ref(int x, int y) { return a[static_cast<std::size_t>(y * w + x)]; }
  bool on(int x, int y) const { return at(x, y) >= 0.5f; }
};

using Inside = std::function<bool(double x, double y)>;

// Samples the shape ss x ss times in every pixel (pixel centres at +0.5).
Mask rasterize(int w, int h, const Inside& inside, int ss = 4);

Inside circle(double cx, double cy, double r);
Inside ellipse(double cx, double cy, double rx, double ry);
Inside rounded_rect(double x0, double y0, double x1, double y1, double r);
Inside polygon(std::vector<std::pair<double, double>> pts);
// A polyline drawn with a round pen of radius r.
Inside stroke(std::vector<std::pair<double, double>> pts, double r);
Inside unite(Inside a, Inside b);
Inside subtract(Inside a, Inside b);

// Union, difference and growth of on-pixels.
Mask mask_or(const Mask& a, const Mask& b);
Mask mask_minus(const Mask& a, const Mask& b);
// Every pixel within Chebyshev distance r (r = 1: the 8 neighbours) of an on-pixel.
Mask dilate(const Mask& m, int r);
Mask shift(const Mask& m, int dx, int dy);

// Paints every on-pixel with colour(x, y).
void paint(Image& img, const Mask& m, const std::function<std::uint8_t(int, int)>& colour,
           int ox = 0, int oy = 0);
void paint(Image& img, const Mask& m, std::uint8_t c, int ox = 0, int oy = 0);

// Ordered 4x4 dither threshold in [0, 1).
double bayer(int x, int y);
// A ramp level from a value in [0, 1] (0 dark), dithered between neighbours.
std::uint8_t shade(Ramp r, double v, int x, int y, int lo = 0, int hi = kRampLevels - 1,
                   bool dither = true);

// Stroke lettering: upper-case letters, digits and " !?-.&%:/".
struct Lettering {
  double cap = 12;       // cap height in pixels, pen centre to pen centre
  double pen = 1.5;      // pen radius
  double gap = 1.5;      // space between letters, in units of the cap height / 6
  double slant = 0.0;    // x shift per pixel of height (italic)
  double squeeze = 1.0;  // horizontal scale
};
// The width in pixels of the text drawn with the pen.
double text_width(std::string_view text, const Lettering& l);
// Mask of the text with the left pen edge at x and the cap top pen edge at y.
Mask text_mask(int w, int h, std::string_view text, double x, double y, const Lettering& l);
// Centred horizontally on cx, cap top at y.
Mask text_mask_centred(int w, int h, std::string_view text, double cx, double y,
                       const Lettering& l);

// Lettering painted as a badge: drop shadow, dark outline, vertical ramp fill
// with a lighter top edge.
struct TextStyle {
  Ramp fill = Ramp::Gold;
  int fill_lo = 7;
  int fill_hi = 15;
  std::uint8_t outline = 0;  // 0: ink()
  int outline_width = 1;
  int shadow = 1;  // offset of the drop shadow; 0 none
};
void paint_text(Image& img, const Mask& text, const TextStyle& s);

}  // namespace zt::mkdata
