// The title screen's demonstration: a play recorded through the game core
// itself by a scripted hand, as "Rec/Rec0.dat".
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zt::mkdata {

// The replay file's bytes; nothing when this build has no headless player.
std::optional<std::vector<std::uint8_t>> record_demo();

}  // namespace zt::mkdata
