#include "palette.h"

#include <algorithm>
#include <array>

namespace zt::mkdata {
namespace {

struct Rgb {
  int r, g, b;
};

// Control colours at levels 0, 6, 12 and 15; the levels between are mixed.
constexpr std::array<std::array<Rgb, 4>, kRampCount> kRampKeys = {{
    {{{14, 12, 22}, {92, 92, 112}, {182, 182, 198}, {246, 246, 250}}},   // Grey
    {{{34, 6, 16}, {172, 32, 44}, {242, 104, 92}, {255, 222, 204}}},     // Red
    {{{38, 16, 8}, {204, 92, 22}, {252, 172, 64}, {255, 240, 196}}},     // Orange
    {{{38, 28, 8}, {192, 142, 22}, {250, 214, 72}, {255, 250, 214}}},    // Gold
    {{{6, 30, 16}, {40, 152, 62}, {142, 222, 92}, {232, 255, 204}}},     // Green
    {{{4, 28, 32}, {22, 132, 132}, {92, 212, 192}, {222, 255, 246}}},    // Teal
    {{{6, 22, 44}, {40, 122, 204}, {122, 202, 250}, {232, 250, 255}}},   // Sky
    {{{10, 12, 44}, {44, 64, 184}, {112, 142, 242}, {222, 232, 255}}},   // Blue
    {{{20, 10, 44}, {102, 52, 182}, {172, 122, 242}, {242, 226, 255}}},  // Violet
    {{{36, 8, 36}, {172, 42, 162}, {242, 112, 222}, {255, 222, 250}}},   // Magenta
    {{{42, 12, 22}, {202, 72, 112}, {250, 152, 172}, {255, 232, 236}}},  // Rose
    {{{42, 22, 18}, {192, 122, 92}, {246, 192, 152}, {255, 242, 228}}},  // Skin
    {{{26, 16, 10}, {112, 72, 42}, {182, 132, 82}, {242, 212, 172}}},    // Brown
    {{{12, 16, 26}, {72, 92, 122}, {152, 172, 202}, {236, 242, 250}}},   // Steel
    {{{4, 4, 14}, {24, 20, 62}, {52, 42, 104}, {122, 102, 182}}},        // Night
}};

constexpr std::array<int, 10> kFixed = {kClear,        kBorder,      kPlainBg1,   kPlainBg0,
                                        kRowBand,      kStringSlack, kStringTaut, kStringTense,
                                        kStringDanger, kFixedWhite};

Rgb mix(Rgb a, Rgb b, int num, int den) {
  return {a.r + (b.r - a.r) * num / den, a.g + (b.g - a.g) * num / den,
          a.b + (b.b - a.b) * num / den};
}

Rgb ramp_colour(int r, int level) {
  const auto& k = kRampKeys[static_cast<std::size_t>(r)];
  if (level <= 6) return mix(k[0], k[1], level, 6);
  if (level <= 12) return mix(k[1], k[2], level - 6, 6);
  return mix(k[2], k[3], level - 12, 3);
}

struct Table {
  Palette palette{};
  std::array<std::array<std::uint8_t, kRampLevels>, kRampCount> index{};
  std::uint8_t ink = 0;

  Table() {
    auto put = [&](int i, Rgb c) {
      palette[static_cast<std::size_t>(4 * i)] = static_cast<std::uint8_t>(c.r);
      palette[static_cast<std::size_t>(4 * i + 1)] = static_cast<std::uint8_t>(c.g);
      palette[static_cast<std::size_t>(4 * i + 2)] = static_cast<std::uint8_t>(c.b);
      palette[static_cast<std::size_t>(4 * i + 3)] = 0;
    };
    std::array<bool, 256> taken{};
    for (int f : kFixed) taken[static_cast<std::size_t>(f)] = true;
    put(kClear, {0, 0, 0});
    put(kBorder, {24, 20, 48});
    put(kPlainBg1, {14, 22, 52});
    put(kPlainBg0, {28, 16, 42});
    put(kRowBand, {46, 56, 118});
    put(kStringSlack, {72, 222, 84});
    put(kStringTaut, {250, 234, 62});
    put(kStringTense, {255, 150, 32});
    put(kStringDanger, {240, 48, 40});
    put(kFixedWhite, {255, 255, 255});

    int next = 1;
    auto take = [&]() {
      while (taken[static_cast<std::size_t>(next)]) ++next;
      taken[static_cast<std::size_t>(next)] = true;
      return next;
    };
    for (int r = 0; r < kRampCount; ++r) {
      for (int l = 0; l < kRampLevels; ++l) {
        const int i = take();
        index[static_cast<std::size_t>(r)][static_cast<std::size_t>(l)] =
            static_cast<std::uint8_t>(i);
        put(i, ramp_colour(r, l));
      }
    }
    ink = static_cast<std::uint8_t>(take());
    put(ink, {8, 6, 16});
    // The few entries left over repeat the grey ramp so that no entry is unset.
    for (int l = 0; next < 255; ++l) {
      if (taken[static_cast<std::size_t>(next)]) {
        ++next;
        continue;
      }
      put(take(), ramp_colour(0, (l * 3) % kRampLevels));
    }
  }
};

const Table& table() {
  static const Table t;
  return t;
}

}  // namespace

std::uint8_t ramp(Ramp r, int level) {
  level = std::clamp(level, 0, kRampLevels - 1);
  return table().index[static_cast<std::size_t>(r)][static_cast<std::size_t>(level)];
}

bool ramp_of(std::uint8_t index, Ramp& r, int& level) {
  for (int i = 0; i < kRampCount; ++i)
    for (int l = 0; l < kRampLevels; ++l)
      if (table().index[static_cast<std::size_t>(i)][static_cast<std::size_t>(l)] == index) {
        r = static_cast<Ramp>(i);
        level = l;
        return true;
      }
  return false;
}

std::uint8_t ink() {
  return table().ink;
}

const Palette& master_palette() {
  return table().palette;
}

}  // namespace zt::mkdata
