// The master palette every sheet is drawn in, and the names the art uses for
// its entries.
#pragma once

#include <cstdint>

#include "game/glue.h"

namespace zt::mkdata {

// Entries the game itself draws with by number; they keep these meanings.
inline constexpr std::uint8_t kClear = 0;           // black, colour key, iris
inline constexpr std::uint8_t kBorder = 13;         // dark frame around the field
inline constexpr std::uint8_t kPlainBg1 = 15;       // fill of the menu screens without background
inline constexpr std::uint8_t kPlainBg0 = 34;       // fill of the play screens without background
inline constexpr std::uint8_t kRowBand = 65;        // the option rows
inline constexpr std::uint8_t kStringSlack = 197;   // green
inline constexpr std::uint8_t kStringTaut = 245;    // yellow
inline constexpr std::uint8_t kStringTense = 150;   // orange
inline constexpr std::uint8_t kStringDanger = 113;  // red
inline constexpr std::uint8_t kFixedWhite = 255;    // shown white whatever the palette says

// Colour ramps, each from near black to near white through its hue.
enum class Ramp : int {
  Grey,
  Red,
  Orange,
  Gold,
  Green,
  Teal,
  Sky,
  Blue,
  Violet,
  Magenta,
  Rose,
  Skin,
  Brown,
  Steel,
  Night,
};
inline constexpr int kRampCount = 15;
inline constexpr int kRampLevels = 16;

// The entry of a ramp level; levels outside 0..15 are clamped.
std::uint8_t ramp(Ramp r, int level);

// The ramp and level an entry belongs to; false for entries outside the ramps.
bool ramp_of(std::uint8_t index, Ramp& r, int& level);

// A near-black for outlines (entry 0 is transparent in the sheets).
std::uint8_t ink();

const Palette& master_palette();

}  // namespace zt::mkdata
