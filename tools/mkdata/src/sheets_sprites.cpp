// The things that move on the field: ball, hand, targets, fragments, the
// menu cursor and the gravity changer.
#include <cmath>
#include <numbers>

#include "pixel_font.h"
#include "sheets.h"

namespace zt::mkdata {
namespace {

constexpr double kPi = std::numbers::pi;

// Keeps the outline of a sprite and thins its inside to a dark checker, so
// that the queued targets read as not yet there.
Image ghost(const Image& src) {
  Image out(src.w, src.h);
  for (int y = 0; y < src.h; ++y)
    for (int x = 0; x < src.w; ++x) {
      const std::uint8_t c = src.get(x, y);
      if (c == kClear) continue;
      Ramp r;
      int l;
      if (!ramp_of(c, r, l)) {
        out.set(x, y, c);
        continue;
      }
      if ((x + y) % 2 == 0) continue;
      out.set(x, y, ramp(r, l - 2));
    }
  return out;
}

std::pair<double, double> rotate(double x, double y, double a) {
  return {x * std::cos(a) - y * std::sin(a), x * std::sin(a) + y * std::cos(a)};
}

// Target kind 0: a bullseye whose studs turn.
Image plain_target(int f) {
  const double cx = 12, cy = 12, R = 10.2;
  const double turn = f * (kPi / 2) / 20.0;
  return sprite(24, 24, circle(cx, cy, R), [&](double x, double y) {
    const double dx = x - cx, dy = y - cy, d = std::hypot(dx, dy);
    const double nx = dx / R, ny = dy / R;
    const double light = sphere_light(nx, ny);
    double a = std::atan2(dy, dx) - turn;
    a = std::fmod(a + 8 * kPi, kPi / 2);
    if (d > 7.2 && d < 9.6 && std::abs(a - kPi / 4) < 0.28)
      return shade(Ramp::Gold, 0.6 + 0.4 * light, 0, 0, 8, 15, false);
    if (d < 3.6) return shade(Ramp::Red, light, 0, 0, 5, 14, false);
    if (d < 6.6) return shade(Ramp::Grey, light, 0, 0, 9, 15, false);
    return shade(Ramp::Red, light, 0, 0, 3, 12, false);
  });
}

// Target kind 1: a green gem with a plus; a shine sweeps over it.
Image endurance_target(int f) {
  const double cx = 12, cy = 12, R = 10.8;
  std::vector<std::pair<double, double>> hex;
  for (int i = 0; i < 6; ++i)
    hex.emplace_back(cx + R * std::cos(kPi / 6 + i * kPi / 3),
                     cy + R * std::sin(kPi / 6 + i * kPi / 3));
  const double sweep = -14 + f * 2.4;
  return sprite(24, 24, polygon(hex), [&](double x, double y) {
    const double dx = x - cx, dy = y - cy;
    const double a = std::atan2(dy, dx);
    const int facet = static_cast<int>(std::floor((a + kPi) / (kPi / 3))) % 6;
    static constexpr int kFacet[6] = {7, 10, 12, 9, 6, 5};
    int level = kFacet[facet];
    if (std::hypot(dx, dy) < 5.2) level = 9;
    const bool plus =
        (std::abs(dx) < 1.3 && std::abs(dy) < 4.4) || (std::abs(dy) < 1.3 && std::abs(dx) < 4.4);
    if (plus) return ramp(Ramp::Grey, 15);
    const double s = (x + y) - 24 - sweep;
    if (std::abs(s) < 1.6) level += 4;
    return ramp(Ramp::Green, level);
  });
}

// Target kind 2: a violet orb sending out a ring, with two sparks circling it.
Image radius_target(int f) {
  const double cx = 12, cy = 12;
  const double t = f / 20.0;
  const double ring = 6.5 + 4.5 * t;
  Image img(24, 24);
  // The ring fades out as it grows: fewer pixels of it are drawn.
  if (t < 0.9) {
    const Mask m =
        rasterize(24, 24, subtract(circle(cx, cy, ring + 0.8), circle(cx, cy, ring - 0.5)));
    paint(img, m, [&](int x, int y) {
      return t < 0.6 || (x + y) % 2 ? ramp(Ramp::Magenta, 13 - static_cast<int>(6 * t)) : kClear;
    });
  }
  Image orb = sprite(24, 24, circle(cx, cy, 6.8), [&](double x, double y) {
    return shade(Ramp::Violet, sphere_light((x - cx) / 6.8, (y - cy) / 6.8), 0, 0, 3, 15, false);
  });
  img.blit(orb, 0, 0);
  for (int k = 0; k < 2; ++k) {
    const double a = 2 * kPi * t + k * kPi;
    const double sx = cx + 9.5 * std::cos(a), sy = cy + 4.0 * std::sin(a);
    const bool behind = std::sin(a) < 0;
    if (behind && std::hypot(sx - cx, sy - cy) < 7.5) continue;
    img.set(static_cast<int>(sx), static_cast<int>(sy), ramp(Ramp::Grey, 15));
    img.set(static_cast<int>(sx) + 1, static_cast<int>(sy), ramp(Ramp::Sky, 13));
    img.set(static_cast<int>(sx) - 1, static_cast<int>(sy), ramp(Ramp::Sky, 13));
    img.set(static_cast<int>(sx), static_cast<int>(sy) + 1, ramp(Ramp::Sky, 11));
    img.set(static_cast<int>(sx), static_cast<int>(sy) - 1, ramp(Ramp::Sky, 11));
  }
  return img;
}

Image target_frame(int kind, int f) {
  switch (kind) {
    case 0:
      return plain_target(f);
    case 1:
      return endurance_target(f);
    default:
      return radius_target(f);
  }
}

// The gravity changer: a steel capsule with a glowing core and an arrow
// turned by `angle` (0 points up).
Image changer(double angle, double glow, int lights_phase, int trail) {
  Image img(50, 60);
  // Speed streaks behind the capsule (trail -1: on the left, +1: on the right).
  if (trail != 0) {
    for (int k = 0; k < 5; ++k) {
      const int y = 12 + k * 9;
      const int len = 6 + ((k * 7 + lights_phase * 3) % 5) * 2;
      const int x0 = trail > 0 ? 44 : 6 - len;
      for (int i = 0; i < len; ++i)
        if ((i + lights_phase + k) % 4 != 0) img.set(x0 + i, y, ramp(Ramp::Sky, 12 - i * 6 / len));
    }
  }
  const Image body = sprite(50, 60, rounded_rect(7, 3, 43, 57, 12), [&](double x, double y) {
    const double nx = (x - 25) / 18.0, ny = (y - 30) / 27.0;
    return shade(Ramp::Steel, 0.75 - 0.45 * nx - 0.2 * ny, 0, 0, 3, 14, false);
  });
  img.blit(body, 0, 0);
  // Running lights around the capsule.
  for (int k = 0; k < 5; ++k) {
    const bool lit = k == lights_phase % 5;
    const int yy = 7 + k * 11;
    img.set(10, yy, lit ? ramp(Ramp::Gold, 15) : ramp(Ramp::Gold, 5));
    img.set(39, yy, lit ? ramp(Ramp::Gold, 15) : ramp(Ramp::Gold, 5));
  }
  const Image core = sprite(50, 60, circle(25, 30, 13.5), [&](double x, double y) {
    const double d = std::hypot(x - 25, y - 30) / 13.5;
    return shade(Ramp::Violet, glow * (1.0 - 0.7 * d) + 0.1, 0, 0, 2, 13, false);
  });
  img.blit(core, 0, 0);
  // The arrow, drawn in arrow space (pointing to -y) and turned.
  auto in_arrow = [angle](double x, double y) {
    auto [u, v] = rotate(x - 25, y - 30, -angle);
    const bool head = v < -1.5 && v > -10.5 && std::abs(u) < (v + 10.5) * 0.8;
    const bool shaft = v >= -1.5 && v < 9.5 && std::abs(u) < 2.6;
    return head || shaft;
  };
  const Image arrow = sprite(50, 60, in_arrow, [&](double x, double y) {
    auto [u, v] = rotate(x - 25, y - 30, -angle);
    (void)v;
    return u < -0.5 ? ramp(Ramp::Gold, 15) : ramp(Ramp::Gold, 11);
  });
  img.blit(arrow, 0, 0);
  return img;
}

}  // namespace

Image sprite(int w, int h, const Inside& shape,
             const std::function<std::uint8_t(double, double)>& colour, bool outline) {
  Image img(w, h);
  const Mask m = rasterize(w, h, shape);
  if (outline) paint(img, dilate(m, 1), ink());
  paint(img, m, [&](int x, int y) { return colour(x + 0.5, y + 0.5); });
  return img;
}

double sphere_light(double nx, double ny) {
  const double r2 = nx * nx + ny * ny;
  const double nz = std::sqrt(std::max(0.0, 1.0 - r2));
  const double lx = -0.45, ly = -0.55, lz = 0.70;
  const double diffuse = std::max(0.0, nx * lx + ny * ly + nz * lz);
  // Reflection of the light about the normal, seen from the front.
  const double rz = 2 * (nx * lx + ny * ly + nz * lz) * nz - lz;
  const double spec = std::pow(std::max(0.0, rz), 24);
  return std::clamp(0.08 + 0.72 * diffuse + 0.5 * spec, 0.0, 1.0);
}

Image draw_ball() {
  Image img = sheet_canvas(kSheetBall);
  const double c = 64, R = 63.5;
  Image ball = sprite(
      128, 128, circle(c, c, R),
      [&](double x, double y) {
        const double nx = (x - c) / R, ny = (y - c) / R;
        const double d = std::hypot(nx, ny);
        if (d > 0.94) return ramp(Ramp::Steel, 1);
        // A little light bounced from below keeps the dark side round.
        const double bounce = std::max(0.0, ny) * std::max(0.0, d - 0.6) * 0.5;
        return shade(Ramp::Steel, 0.15 + 0.9 * sphere_light(nx, ny) + bounce, 0, 0, 2, 15, false);
      },
      false);
  img.blit(ball, 0, 0);
  // The unused lower cell shows the palette, 16 entries a row.
  for (int i = 1; i < 256; ++i)
    img.fill_rect(8 * (i % 16), 128 + 8 * (i / 16), 8, 8, static_cast<std::uint8_t>(i));
  return img;
}

Image draw_hand() {
  Image img = sheet_canvas(kSheetHand);
  const PixelArt glove = {
      ".W.W.W...", ".W.W.W.W.", ".W.W.W.W.", ".WWWWWWW.", "WWWWWWWWS",
      "WWWWWWWSS", ".WWWWWWS.", "..CCCCC..", "..CCCCC..",
  };
  stamp(
      img, glove, 1, 1,
      [](char ch, int row) {
        if (ch == 'S') return ramp(Ramp::Grey, 10);
        if (ch == 'C') return ramp(Ramp::Sky, row == 7 ? 13 : 10);
        return ramp(Ramp::Grey, row < 3 ? 15 : 14);
      },
      ink());
  return img;
}

Image draw_target() {
  Image img = sheet_canvas(kSheetTarget);
  for (int kind = 0; kind < 3; ++kind)
    for (int f = 0; f < 20; ++f) img.blit(target_frame(kind, f), 24 * f, 24 * kind);
  return img;
}

Image draw_next2() {
  Image img = sheet_canvas(kSheetNext2);
  for (int kind = 0; kind < 3; ++kind)
    for (int f = 0; f < 20; ++f) img.blit(ghost(target_frame(kind, f)), 24 * f, 24 * kind);
  return img;
}

Image draw_fragments() {
  Image img = sheet_canvas(kSheetFragments);
  const Ramp ramps[3] = {Ramp::Red, Ramp::Green, Ramp::Violet};
  for (int kind = 0; kind < 3; ++kind)
    for (int f = 0; f < 5; ++f) {
      const double a = f * 2 * kPi / 5;
      std::vector<std::pair<double, double>> pts;
      if (kind == 0) {
        for (int k = 0; k < 3; ++k)
          pts.emplace_back(5.5 * std::cos(a + k * 2.2), 4.5 * std::sin(a + k * 2.2));
      } else if (kind == 1) {
        pts = {{0, -5.5}, {3, 0}, {0, 5.5}, {-3, 0}};
      } else {
        for (int k = 0; k < 8; ++k) {
          const double r = k % 2 ? 2.0 : 6.0;
          pts.emplace_back(r * std::cos(k * kPi / 4), r * std::sin(k * kPi / 4));
        }
      }
      for (auto& [x, y] : pts) {
        auto [u, v] = rotate(x, y, kind == 0 ? 0.0 : a);
        x = 9 + u;
        y = 9 + v;
      }
      const Ramp r = ramps[kind];
      const Image shard = sprite(18, 18, polygon(pts), [&](double x, double y) {
        auto [u, v] = rotate(x - 9, y - 9, -a);
        (void)v;
        return ramp(r, (u + (y - 9) * 0.3) < 0 ? 13 : 9);
      });
      img.blit(shard, 18 * f, 18 * kind);
    }
  return img;
}

Image draw_menu_icon() {
  Image img = sheet_canvas(kSheetMenuIcon);
  for (int f = 0; f < 10; ++f) {
    Image cell(32, 32);
    const double a = 0.85 * std::cos(2 * kPi * f / 10);
    const double px = 16, py = 4, len = 17;
    const double bx = px + len * std::sin(a), by = py + len * std::cos(a);
    const Mask line = rasterize(32, 32, stroke({{px, py}, {bx, by}}, 0.6));
    paint(cell, dilate(line, 1), ink());
    paint(cell, line, ramp(Ramp::Grey, 12));
    const Image pivot =
        sprite(32, 32, circle(px, py, 2.2), [](double, double) { return ramp(Ramp::Steel, 12); });
    cell.blit(pivot, 0, 0);
    const double r = 6.2;
    const Image ball = sprite(32, 32, circle(bx, by, r), [&](double x, double y) {
      return shade(Ramp::Gold, sphere_light((x - bx) / r, (y - by) / r), 0, 0, 3, 15, false);
    });
    cell.blit(ball, 0, 0);
    img.blit(cell, 32 * f, 0);
  }
  return img;
}

Image draw_gravity_x() {
  Image img = sheet_canvas(kSheetGravityX);
  for (int k = 0; k < 10; ++k) {
    const double angle = kPi * k / 9.0;
    const double glow = 0.6 + 0.4 * std::sin(kPi * k / 9.0);
    img.blit(changer(angle, glow, k, 0), 50 * (k % 5), 60 * (k / 5));
  }
  return img;
}

Image draw_gravity_h() {
  Image img = sheet_canvas(kSheetGravityH);
  for (int k = 0; k < 10; ++k) {
    const bool right = k >= 5;
    const int f = k % 5;
    img.blit(changer(right ? kPi : 0.0, 0.45 + 0.1 * f, f, right ? -1 : 1), 50 * (k % 5),
             60 * (k / 5));
  }
  return img;
}

}  // namespace zt::mkdata
