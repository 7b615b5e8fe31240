// Whole screens and their parts: the studio logo, the title plate and its
// band, the title background and the field tiles.
#include <cmath>
#include <numbers>

#include "rng.h"
#include "sheets.h"

namespace zt::mkdata {
namespace {

constexpr double kPi = std::numbers::pi;

// Value noise on a lattice of n x n cells that wraps at the edges, so the
// picture it shades tiles seamlessly. Result in [0, 1].
class TileNoise {
 public:
  TileNoise(int cells, std::uint64_t seed)
      : n_(cells), v_(static_cast<std::size_t>(cells * cells)) {
    Rng rng(seed);
    for (double& x : v_) x = rng.unit();
  }
  // (u, v) in lattice cells.
  double at(double u, double v) const {
    const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
    const double fx = smooth(u - x0), fy = smooth(v - y0);
    const double a = get(x0, y0), b = get(x0 + 1, y0), c = get(x0, y0 + 1), d = get(x0 + 1, y0 + 1);
    return (a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy;
  }

 private:
  static double smooth(double t) { return t * t * (3 - 2 * t); }
  double get(int x, int y) const {
    x = ((x % n_) + n_) % n_;
    y = ((y % n_) + n_) % n_;
    return v_[static_cast<std::size_t>(y * n_ + x)];
  }
  int n_;
  std::vector<double> v_;
};

// Two octaves over a 160-pixel tile.
double tile_cloud(const TileNoise& coarse, const TileNoise& fine, int x, int y) {
  return 0.65 * coarse.at(x / 40.0, y / 40.0) + 0.35 * fine.at(x / 16.0, y / 16.0);
}

void play_tile(Image& img, int oy) {
  const TileNoise coarse(4, 11), fine(10, 12);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) {
      const double cloud = tile_cloud(coarse, fine, x, y);
      std::uint8_t c = shade(Ramp::Night, 0.12 + 0.3 * cloud, x, y, 0, 10);
      // A diamond lattice every 40 pixels, dotted where lines cross.
      const int a = ((x + y) % 40 + 40) % 40, b = ((x - y) % 40 + 40) % 40;
      if (a == 0 || b == 0) c = ramp(Ramp::Night, 6 + (cloud > 0.55 ? 1 : 0));
      if ((a == 0 && b == 0) || (a == 20 && b == 20)) c = ramp(Ramp::Violet, 7);
      img.set(x, oy + y, c);
    }
}

void menu_tile(Image& img, int oy) {
  const TileNoise coarse(4, 21), fine(10, 22);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) {
      const double cloud = tile_cloud(coarse, fine, x, y);
      // Bevelled squares of 32 pixels.
      const int u = x % 32, v = y % 32;
      double lift = 0;
      if (u == 0 || v == 0)
        lift = 0.16;
      else if (u == 31 || v == 31)
        lift = -0.1;
      img.set(x, oy + y, shade(Ramp::Blue, 0.1 + 0.16 * cloud + lift, x, y, 0, 6));
    }
}

}  // namespace

Image draw_field() {
  Image img = sheet_canvas(kSheetField);
  play_tile(img, 0);
  menu_tile(img, 160);
  return img;
}

Image draw_title() {
  Image img = sheet_canvas(kSheetTitle);
  // Cell 0: the name; the band shows through entry 255 inside the letters.
  Lettering l;
  l.cap = 33;
  l.pen = 3.6;
  l.gap = 1.3;
  l.slant = 0.14;
  const char* name = "ZENTROPOLIUM";
  const double tw = text_width(name, l);
  if (tw > 288)
    l.squeeze = (288 - 2 * l.pen - l.slant * l.cap) / (tw - 2 * l.pen - l.slant * l.cap);
  const Mask letters = text_mask_centred(300, 50, name, 150, 3.5, l);
  const Mask ring = dilate(letters, 2);
  paint(img, shift(ring, 2, 2), ink());
  paint(img, ring, ramp(Ramp::Night, 2));
  paint(img, mask_minus(dilate(letters, 1), letters), [&](int x, int y) {
    // A light rim on the upper left edges, dark below.
    return letters.on(x + 1, y + 1) ? ramp(Ramp::Gold, 15) : ramp(Ramp::Violet, 4);
  });
  paint(img, letters, kFixedWhite);
  // Cell 1: the band, tiling with period 300 across.
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 300; ++x) {
      double v = 0.95 - y / 60.0;
      const double stripe = std::sin(2 * kPi * (x + y * 0.7) / 60.0);
      if (stripe > 0.82) v += 0.35;
      const double wave = std::sin(2 * kPi * x / 150.0) * 4;
      const Ramp r = y + wave < 26 ? Ramp::Gold : Ramp::Orange;
      img.set(x, 50 + y, shade(r, v, x, y, 6, 15));
    }
  return img;
}

Image draw_titlebg() {
  Image img = sheet_canvas(kSheetTitleBg);
  Rng rng(5150);
  const int horizon = 168;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      if (y < horizon) {
        const double v = 0.05 + 0.45 * y / horizon;
        img.set(x, y, shade(Ramp::Night, v, x, y, 0, 12));
      } else {
        img.set(x, y, shade(Ramp::Night, 0.12, x, y, 0, 8));
      }
    }
  // Glow along the horizon.
  for (int y = horizon - 18; y < horizon; ++y)
    for (int x = 0; x < 320; ++x) {
      const double t = (y - (horizon - 18)) / 18.0;
      if (bayer(x, y) < t * 0.8) img.set(x, y, shade(Ramp::Magenta, 0.25 + 0.35 * t, x, y, 2, 9));
    }
  // Stars, denser high up.
  for (int k = 0; k < 170; ++k) {
    const int x = rng.below(320), y = static_cast<int>(std::pow(rng.unit(), 1.6) * (horizon - 24));
    const int b = rng.below(10);
    img.set(x, y, ramp(b < 7 ? Ramp::Steel : Ramp::Sky, 8 + b / 2));
    if (b == 9) {
      img.set(x - 1, y, ramp(Ramp::Sky, 9));
      img.set(x + 1, y, ramp(Ramp::Sky, 9));
      img.set(x, y - 1, ramp(Ramp::Sky, 9));
      img.set(x, y + 1, ramp(Ramp::Sky, 9));
    }
  }
  // A ringed planet on the right, clear of the menu cursor.
  const double pcx = 282, pcy = 104, pr = 20;
  const Mask planet = rasterize(320, 240, circle(pcx, pcy, pr));
  paint(img, planet, [&](int x, int y) {
    return shade(Ramp::Violet, sphere_light((x + 0.5 - pcx) / pr, (y + 0.5 - pcy) / pr) * 0.75, x,
                 y, 1, 12);
  });
  const Mask ring = rasterize(320, 240, [&](double x, double y) {
    const double u = (x - pcx) / 33.0, v = (y - pcy + (x - pcx) * 0.25) / 7.0;
    const double d = u * u + v * v;
    const bool front =
        y - pcy + (x - pcx) * 0.25 > 0 || (x - pcx) * (x - pcx) + (y - pcy) * (y - pcy) > pr * pr;
    return d < 1.0 && d > 0.62 && front;
  });
  paint(img, ring,
        [&](int x, int y) { return shade(Ramp::Rose, 0.5 + 0.01 * (x - pcx), x, y, 3, 11); });
  // The floor: a grid running to a vanishing point on the horizon.
  const double vx = 160;
  for (int y = horizon; y < 240; ++y) {
    const double depth = (y - horizon + 6.0);
    // Horizontal lines where the floor distance crosses a whole step.
    const double z = 240.0 / depth;
    const double z1 = 240.0 / (depth + 1);
    if (std::floor(z) != std::floor(z1) || y == horizon)
      for (int x = 0; x < 320; ++x)
        img.set(x, y, ramp(Ramp::Magenta, std::min(11, 5 + (y - horizon) / 10)));
    for (int k = -12; k <= 12; ++k) {
      const double x = vx + k * 28.0 * depth / 40.0;
      const int xi = static_cast<int>(std::round(x));
      img.set(xi, y, ramp(Ramp::Magenta, std::min(11, 5 + (y - horizon) / 10)));
    }
  }
  return img;
}

Image draw_logo() {
  Image img = sheet_canvas(kSheetLogo);
  const double cx = 109.5, cy = 62;
  // Two tilted orbits behind and in front of the sun, each with its planet.
  struct Orbit {
    double rx, ry, tilt, at;
    Ramp planet;
    double pr;
  };
  const Orbit orbits[2] = {{52, 15, -0.35, 2.2, Ramp::Sky, 6.5},
                           {38, 11, 0.5, -0.9, Ramp::Rose, 4.5}};
  auto orbit_point = [&](const Orbit& o, double a) {
    const double x = o.rx * std::cos(a), y = o.ry * std::sin(a);
    return std::pair{cx + x * std::cos(o.tilt) - y * std::sin(o.tilt),
                     cy + x * std::sin(o.tilt) + y * std::cos(o.tilt)};
  };
  auto draw_orbit = [&](const Orbit& o, bool front) {
    for (int i = 0; i < 720; ++i) {
      const double a = i * kPi / 360;
      if ((std::sin(a) > 0) != front) continue;
      auto [x, y] = orbit_point(o, a);
      img.set(static_cast<int>(x), static_cast<int>(y), ramp(Ramp::Steel, front ? 12 : 7));
    }
  };
  auto draw_planet = [&](const Orbit& o) {
    const auto centre = orbit_point(o, o.at);
    const double px = centre.first;
    const double py = centre.second;
    img.blit(sprite(219, 148, circle(px, py, o.pr),
                    [&](double x, double y) {
                      return shade(o.planet, sphere_light((x - px) / o.pr, (y - py) / o.pr), 0, 0,
                                   2, 15, false);
                    }),
             0, 0);
  };
  for (const Orbit& o : orbits) draw_orbit(o, false);
  for (const Orbit& o : orbits)
    if (std::sin(o.at) < 0) draw_planet(o);
  // The sun with a soft corona.
  const double sr = 20;
  for (int y = 0; y < 148; ++y)
    for (int x = 0; x < 219; ++x) {
      const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      if (d > sr && d < sr + 9 && bayer(x, y) < (1 - (d - sr) / 9) * 0.7)
        img.set(x, y, ramp(Ramp::Orange, 5 + static_cast<int>(4 * (1 - (d - sr) / 9))));
    }
  img.blit(sprite(219, 148, circle(cx, cy, sr),
                  [&](double x, double y) {
                    return shade(Ramp::Gold,
                                 0.25 + 0.85 * sphere_light((x - cx) / sr, (y - cy) / sr), 0, 0, 6,
                                 15, false);
                  }),
           0, 0);
  for (const Orbit& o : orbits) draw_orbit(o, true);
  for (const Orbit& o : orbits)
    if (std::sin(o.at) >= 0) draw_planet(o);
  // The studio's name.
  Lettering l;
  l.cap = 15;
  l.pen = 1.9;
  l.gap = 1.6;
  TextStyle st;
  st.fill = Ramp::Grey;
  st.fill_lo = 9;
  st.fill_hi = 15;
  paint_text(img, text_mask_centred(219, 148, "ORRERY WORKS", cx, 101, l), st);
  Lettering small;
  small.cap = 6;
  small.pen = 0.9;
  small.gap = 3.0;
  TextStyle st2;
  st2.fill = Ramp::Gold;
  st2.fill_lo = 10;
  st2.fill_hi = 14;
  st2.shadow = 0;
  paint_text(img, text_mask_centred(219, 148, "SOFTWARE", cx, 126, small), st2);
  for (int x = 40; x < 80; ++x) img.set(x, 130, ramp(Ramp::Steel, 8));
  for (int x = 140; x < 180; ++x) img.set(x, 130, ramp(Ramp::Steel, 8));
  return img;
}

}  // namespace zt::mkdata
