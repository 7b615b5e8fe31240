#include "canvas.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

namespace zt::mkdata {

Image::Image(int width, int height, std::uint8_t fill)
    : w(width), h(height), px(static_cast<std::size_t>(width * height), fill) {}

void Image::fill_rect(int x, int y, int width, int height, std::uint8_t c) {
  for (int j = y; j < y + height; ++j)
    for (int i = x; i < x + width; ++i) set(i, j, c);
}

void Image::blit(const Image& src, int x, int y, bool keyed) {
  for (int j = 0; j < src.h; ++j)
    for (int i = 0; i < src.w; ++i) {
      const std::uint8_t c = src.get(i, j);
      if (keyed && c == kClear) continue;
      set(x + i, y + j, c);
    }
}

Image Image::crop(int x, int y, int width, int height) const {
  Image out(width, height);
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) out.set(i, j, get(x + i, y + j));
  return out;
}

Mask rasterize(int w, int h, const Inside& inside, int ss) {
  Mask m(w, h);
  const double step = 1.0 / ss;
  const float unit = 1.f / static_cast<float>(ss * ss);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float c = 0.f;
      for (int sy = 0; sy < ss; ++sy)
        for (int sx = 0; sx < ss; ++sx)
          if (inside(x + (sx + 0.5) * step, y + (sy + 0.5) * step)) c += unit;
      m.ref(x, y) = c;
    }
  return m;
}

Inside circle(double cx, double cy, double r) {
  return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

Inside ellipse(double cx, double cy, double rx, double ry) {
  return [=](double x, double y) {
    const double u = (x - cx) / rx, v = (y - cy) / ry;
    return u * u + v * v <= 1.0;
  };
}

Inside rounded_rect(double x0, double y0, double x1, double y1, double r) {
  return [=](double x, double y) {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    const double cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
  };
}

Inside polygon(std::vector<std::pair<double, double>> pts) {
  return [pts = std::move(pts)](double x, double y) {
    bool in = false;
    for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
      const auto [xi, yi] = pts[i];
      const auto [xj, yj] = pts[j];
      if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
  };
}

namespace {
double segment_distance2(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  const double qx = ax + t * dx - px, qy = ay + t * dy - py;
  return qx * qx + qy * qy;
}
}  // namespace

Inside stroke(std::vector<std::pair<double, double>> pts, double r) {
  return [pts = std::move(pts), r](double x, double y) {
    if (pts.size() == 1)
      return segment_distance2(x, y, pts[0].first, pts[0].second, pts[0].first, pts[0].second) <=
             r * r;
    for (std::size_t i = 1; i < pts.size(); ++i)
      if (segment_distance2(x, y, pts[i - 1].first, pts[i - 1].second, pts[i].first,
                            pts[i].second) <= r * r)
        return true;
    return false;
  };
}

Inside unite(Inside a, Inside b) {
  return [a = std::move(a), b = std::move(b)](double x, double y) { return a(x, y) || b(x, y); };
}

Inside subtract(Inside a, Inside b) {
  return [a = std::move(a), b = std::move(b)](double x, double y) { return a(x, y) && !b(x, y); };
}

Mask mask_or(const Mask& a, const Mask& b) {
  Mask m(a.w, a.h);
  for (int y = 0; y < a.h; ++y)
    for (int x = 0; x < a.w; ++x) m.ref(x, y) = std::max(a.at(x, y), b.at(x, y));
  return m;
}

Mask mask_minus(const Mask& a, const Mask& b) {
  Mask m(a.w, a.h);
  for (int y = 0; y < a.h; ++y)
    for (int x = 0; x < a.w; ++x) m.ref(x, y) = (a.on(x, y) && !b.on(x, y)) ? 1.f : 0.f;
  return m;
}

Mask dilate(const Mask& m, int r) {
  Mask out(m.w, m.h);
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x) {
      bool any = false;
      for (int j = -r; j <= r && !any; ++j)
        for (int i = -r; i <= r && !any; ++i) any = m.on(x + i, y + j);
      out.ref(x, y) = any ? 1.f : 0.f;
    }
  return out;
}

Mask shift(const Mask& m, int dx, int dy) {
  Mask out(m.w, m.h);
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x) out.ref(x, y) = m.at(x - dx, y - dy);
  return out;
}

void paint(Image& img, const Mask& m, const std::function<std::uint8_t(int, int)>& colour, int ox,
           int oy) {
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x)
      if (m.on(x, y)) img.set(ox + x, oy + y, colour(x, y));
}

void paint(Image& img, const Mask& m, std::uint8_t c, int ox, int oy) {
  paint(
      img, m, [c](int, int) { return c; }, ox, oy);
}

double bayer(int x, int y) {
  static constexpr int kMatrix[4][4] = {
      {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  return (kMatrix[y & 3][x & 3] + 0.5) / 16.0;
}

std::uint8_t shade(Ramp r, double v, int x, int y, int lo, int hi, bool dither) {
  v = std::clamp(v, 0.0, 1.0);
  if (lo > hi) std::swap(lo, hi);
  const double level = lo + v * (hi - lo);
  int l = static_cast<int>(std::floor(level));
  if (dither) {
    if (level - l > bayer(x, y)) ++l;
  } else if (level - l >= 0.5) {
    ++l;
  }
  return ramp(r, std::clamp(l, lo, hi));
}

// ---------------------------------------------------------------------------
// Stroke letters on a grid 6 units high; corners are cut so that round
// letters come out octagonal.

namespace {

struct Glyph {
  double width;
  std::vector<std::vector<std::pair<double, double>>> strokes;
};

std::vector<std::vector<std::pair<double, double>>> parse_strokes(std::string_view s) {
  std::vector<std::vector<std::pair<double, double>>> out(1);
  std::string cur(s);
  std::size_t i = 0;
  while (i < cur.size()) {
    if (cur[i] == '|') {
      out.emplace_back();
      ++i;
      continue;
    }
    if (cur[i] == ' ') {
      ++i;
      continue;
    }
    std::size_t used = 0;
    const double x = std::stod(cur.substr(i), &used);
    i += used;
    ++i;  // ','
    const double y = std::stod(cur.substr(i), &used);
    i += used;
    out.back().emplace_back(x, y);
  }
  return out;
}

const std::map<char, Glyph>& glyphs() {
  static const std::map<char, Glyph> g = [] {
    std::map<char, Glyph> m;
    auto def = [&](char c, double w, std::string_view s) { m[c] = Glyph{w, parse_strokes(s)}; };
    def('A', 4, "0,6 0,1.5 1.5,0 2.5,0 4,1.5 4,6 | 0,3.6 4,3.6");
    def('B', 4, "0,3 3,3 4,4 4,5 3,6 0,6 0,0 3,0 4,1 4,2 3,3");
    def('C', 4, "4,1 3,0 1,0 0,1 0,5 1,6 3,6 4,5");
    def('D', 4, "0,0 2.5,0 4,1.5 4,4.5 2.5,6 0,6 0,0");
    def('E', 4, "4,0 0,0 0,6 4,6 | 0,3 3,3");
    def('F', 4, "4,0 0,0 0,6 | 0,3 3,3");
    def('G', 4, "4,1 3,0 1,0 0,1 0,5 1,6 3,6 4,5 4,3.4 2.4,3.4");
    def('H', 4, "0,0 0,6 | 4,0 4,6 | 0,3 4,3");
    def('I', 2, "0,0 2,0 | 1,0 1,6 | 0,6 2,6");
    def('J', 4, "4,0 4,5 3,6 1,6 0,5");
    def('K', 4, "0,0 0,6 | 4,0 0,4 | 1.4,2.6 4,6");
    def('L', 4, "0,0 0,6 4,6");
    def('M', 5, "0,6 0,0 2.5,3 5,0 5,6");
    def('N', 4, "0,6 0,0 4,6 4,0");
    def('O', 4, "1,0 3,0 4,1 4,5 3,6 1,6 0,5 0,1 1,0");
    def('P', 4, "0,6 0,0 3,0 4,1 4,2.5 3,3.5 0,3.5");
    def('Q', 4, "1,0 3,0 4,1 4,5 3,6 1,6 0,5 0,1 1,0 | 2.4,4.4 4.2,6.2");
    def('R', 4, "0,6 0,0 3,0 4,1 4,2.5 3,3.5 0,3.5 | 2,3.5 4,6");
    def('S', 4, "4,1 3,0 1,0 0,1 0,2 1,3 3,3 4,4 4,5 3,6 1,6 0,5");
    def('T', 4, "0,0 4,0 | 2,0 2,6");
    def('U', 4, "0,0 0,5 1,6 3,6 4,5 4,0");
    def('V', 4, "0,0 2,6 4,0");
    def('W', 5, "0,0 1.2,6 2.5,2.4 3.8,6 5,0");
    def('X', 4, "0,0 4,6 | 4,0 0,6");
    def('Y', 4, "0,0 2,3 4,0 | 2,3 2,6");
    def('Z', 4, "0,0 4,0 0,6 4,6");
    def('0', 4, "1,0 3,0 4,1 4,5 3,6 1,6 0,5 0,1 1,0 | 3.2,1.4 0.8,4.6");
    def('1', 3, "0,1 1.5,0 1.5,6 | 0,6 3,6");
    def('2', 4, "0,1 1,0 3,0 4,1 4,2.2 0,6 4,6");
    def('3', 4, "0,1 1,0 3,0 4,1 4,2 3,3 1.5,3 | 3,3 4,4 4,5 3,6 1,6 0,5");
    def('4', 4, "3,6 3,0 0,4 4,4");
    def('5', 4, "4,0 0,0 0,3 3,3 4,4 4,5 3,6 1,6 0,5");
    def('6', 4, "4,1 3,0 1,0 0,1 0,5 1,6 3,6 4,5 4,4 3,3 0,3");
    def('7', 4, "0,0 4,0 1.5,6");
    def('8', 4, "1,3 0,2 0,1 1,0 3,0 4,1 4,2 3,3 1,3 0,4 0,5 1,6 3,6 4,5 4,4 3,3");
    def('9', 4, "4,3 1,3 0,2 0,1 1,0 3,0 4,1 4,5 3,6 1,6 0,5");
    def('!', 0, "0,0 0,3.8 | 0,5.8 0,5.9");
    def('?', 4, "0,1 1,0 3,0 4,1 4,2 2,3.4 2,3.9 | 2,5.8 2,5.9");
    def('-', 3, "0.6,3 2.4,3");
    def('.', 0, "0,5.8 0,5.9");
    def(':', 0, "0,1.8 0,1.9 | 0,5.8 0,5.9");
    def('/', 3, "3,0 0,6");
    def('%', 4, "4,0 0,6 | 0.8,0.6 0.8,1.2 | 3.2,4.8 3.2,5.4");
    def('&', 4, "4,6 1,2 1,1 2,0 3,1 3,2 0,4 0,5 1,6 2,6 4,4");
    def(' ', 2.5, "");
    return m;
  }();
  return g;
}

}  // namespace

double text_width(std::string_view text, const Lettering& l) {
  const double u = l.cap / 6.0;
  double w = 0;
  bool first = true;
  for (char c : text) {
    auto it = glyphs().find(c);
    if (it == glyphs().end()) continue;
    if (!first) w += l.gap * u * l.squeeze;
    w += it->second.width * u * l.squeeze;
    first = false;
  }
  return w + 2 * l.pen + l.slant * l.cap;
}

Mask text_mask(int w, int h, std::string_view text, double x, double y, const Lettering& l) {
  const double u = l.cap / 6.0;
  std::vector<Inside> parts;
  double pen_x = x + l.pen;
  bool first = true;
  for (char c : text) {
    auto it = glyphs().find(c);
    if (it == glyphs().end()) continue;
    if (!first) pen_x += l.gap * u * l.squeeze;
    first = false;
    for (const auto& s : it->second.strokes) {
      if (s.empty()) continue;
      std::vector<std::pair<double, double>> pts;
      for (auto [gx, gy] : s) {
        const double py = y + l.pen + gy * u;
        pts.emplace_back(pen_x + gx * u * l.squeeze + (6.0 - gy) * u * l.slant, py);
      }
      parts.push_back(stroke(std::move(pts), l.pen));
    }
    pen_x += it->second.width * u * l.squeeze;
  }
  return rasterize(w, h, [&](double px, double py) {
    for (const auto& p : parts)
      if (p(px, py)) return true;
    return false;
  });
}

Mask text_mask_centred(int w, int h, std::string_view text, double cx, double y,
                       const Lettering& l) {
  return text_mask(w, h, text, cx - text_width(text, l) / 2.0, y, l);
}

void paint_text(Image& img, const Mask& text, const TextStyle& s) {
  const std::uint8_t outline = s.outline ? s.outline : ink();
  Mask ring = dilate(text, s.outline_width);
  if (s.shadow > 0) paint(img, shift(ring, s.shadow, s.shadow), ink());
  paint(img, ring, outline);
  int top = text.h, bottom = -1;
  for (int y = 0; y < text.h; ++y)
    for (int x = 0; x < text.w; ++x)
      if (text.on(x, y)) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  const double span = std::max(1, bottom - top);
  paint(img, text, [&](int x, int y) {
    const double v = 1.0 - (y - top) / span;
    const int lift = text.on(x, y - 1) ? 0 : 3;
    return shade(s.fill, v, x, y, std::min(s.fill_lo + lift, s.fill_hi), s.fill_hi, false);
  });
}

}  // namespace zt::mkdata
