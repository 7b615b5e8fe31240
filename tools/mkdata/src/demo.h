// The title screen's demonstration: a play recorded through the game core
// itself by a scripted hand, as "Rec/Rec0.dat".
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zt::mkdata {

// The date its header records, fixed so that the file is the same on every run
// and a copy of it in a player's slot shows as data: 2025/06/01 12:00:00.
inline constexpr double kDemoDate = 45809.5;

// The replay file's bytes; nothing when the play did not come to its result.
std::optional<std::vector<std::uint8_t>> record_demo();

}  // namespace zt::mkdata
