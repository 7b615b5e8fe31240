// Simple message boxes titled with the product name, without a parent window.
#pragma once

#include <cstdint>
#include <string_view>

namespace zt::dialog {

inline constexpr std::uint32_t kError = 0x10;
inline constexpr std::uint32_t kInformation = 0x40;

// Waits until the box is dismissed; a box that cannot be shown (no display)
// is skipped silently.
void show(std::uint32_t flags, std::string_view message);

}  // namespace zt::dialog
