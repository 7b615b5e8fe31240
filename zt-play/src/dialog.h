// Simple message boxes titled with the product name, without a parent window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zt::dialog {

inline constexpr std::uint32_t kError = 0x10;
inline constexpr std::uint32_t kInformation = 0x40;

// A box is as wide as its longest line: longer lines are broken for it.
inline constexpr std::size_t kBoxColumns = 90;

// Waits until the box is dismissed; a box that cannot be shown (no display)
// is skipped silently.
void show(std::uint32_t flags, std::string_view message);

// The message with every line longer than `columns` broken after its last
// "/" or at its last blank within the limit, else at the limit itself.
std::string box_text(std::string_view message, std::size_t columns = kBoxColumns);

}  // namespace zt::dialog
