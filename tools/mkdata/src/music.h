// The two songs, composed by rule from a fixed seed.
#pragma once

#include <cstdint>
#include <vector>

namespace zt::mkdata {

inline constexpr std::uint16_t kTicksPerQuarter = 480;

// Calm, for the title menu.
std::vector<std::uint8_t> title_song();
// Driving, for the stage.
std::vector<std::uint8_t> stage_song();

}  // namespace zt::mkdata
