// Replay files "Rec<n>.dat": a 56-byte header with the play's result, then
// one 8-byte frame per game frame. The first frame carries the play's seed
// and a finished file ends with the end frame (-1, -1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zt {

struct Frame {
  static constexpr std::size_t kSize = 8;

  std::int32_t x = 0;
  std::int32_t y = 0;

  static constexpr Frame end() { return {-1, -1}; }
  bool is_end() const { return x == -1 && y == -1; }

  std::array<std::uint8_t, kSize> encode() const;
  static Frame decode(std::span<const std::uint8_t, kSize> bytes);

  friend bool operator==(const Frame&, const Frame&) = default;
};

// Every byte of the header has a field, the reserved ones included, so that
// rewriting a header read from a file changes only what was set.
struct RecHeaderRaw {
  static constexpr std::size_t kSize = 56;
  static constexpr std::size_t kNameMax = 9;
  static constexpr std::int32_t kFormatMark = 3;  // written by this program
  static constexpr std::int32_t kMinValidMark = 2;

  double date = 0.0;  // when the recording ended, days since 1899-12-30
  std::uint8_t name_length = 0;
  std::array<std::uint8_t, kNameMax> name{};
  std::array<std::uint8_t, 6> reserved1{};
  std::int64_t score = 0;
  std::int32_t max_combo = 0;
  std::int32_t destroyed = 0;  // targets destroyed over all judge classes
  std::array<std::uint8_t, 8> reserved2{};
  std::int32_t format_mark = 0;
  std::array<std::uint8_t, 4> reserved3{};

  std::int64_t f18() const { return score; }
  std::int32_t f20() const { return max_combo; }
  std::int32_t f24() const { return destroyed; }
  std::int32_t f30() const { return format_mark; }

  std::array<std::uint8_t, kSize> encode() const;
  static RecHeaderRaw decode(std::span<const std::uint8_t, kSize> bytes);
};

}  // namespace zt
