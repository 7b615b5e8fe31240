// The score file "ZTScore.dat": ten 32-byte entries, every byte XOR-ed with
// the key stream of the score table's TRnd, so the same 320 key bytes serve
// every read and every write.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "game/urandom.h"

namespace zt {

// One entry of the table, the same bytes in memory and (before scrambling)
// in the file. Bytes behind the name length and the reserved bytes are kept
// as they came, so a loaded file goes back out byte for byte.
struct ScoreEntryRaw {
  static constexpr std::size_t kSize = 32;
  static constexpr std::size_t kNameMax = 9;

  std::uint8_t name_length = 0;
  std::array<std::uint8_t, kNameMax> name{};
  std::array<std::uint8_t, 6> reserved{};
  std::int64_t score = 0;
  double date = 0.0;  // days since 1899-12-30

  // The name as text: the first min(length, 9) bytes, one character per byte.
  std::string f0() const;
  std::int64_t fa() const { return score; }

  std::array<std::uint8_t, kSize> encode() const;
  static ScoreEntryRaw decode(std::span<const std::uint8_t, kSize> bytes);

  friend bool operator==(const ScoreEntryRaw&, const ScoreEntryRaw&) = default;
};

constexpr std::size_t kScoreEntries = 10;
constexpr std::size_t kScoreFileSize = kScoreEntries * ScoreEntryRaw::kSize;  // 320
constexpr std::int32_t kScoreKeySeed = 517;

// The most of a score file either program reads. A somewhat longer file
// than kScoreFileSize is still read, so that it counts as damaged (and is
// kept) rather than as unreadable.
inline constexpr std::uint64_t kScoreFileCap = std::uint64_t{64} << 10;

// The suffix of the k-th copy (from 1) kept of a damaged score file before
// a new table replaces it: ".damaged", ".damaged.2", ".damaged.3" ...
inline std::string damaged_copy_suffix(std::int64_t k) {
  return k <= 1 ? ".damaged" : ".damaged." + std::to_string(k);
}

using ScoreEntries = std::array<ScoreEntryRaw, kScoreEntries>;
using ScoreFileImage = std::array<std::uint8_t, kScoreFileSize>;

// Resets rnd, then XORs byte i with rnd.range(255). Its own inverse.
void scramble_score_bytes(std::span<std::uint8_t> bytes, TRnd& rnd);

// The scrambled file image of ten entries, and the entries of an image.
ScoreFileImage encode_score_file(const ScoreEntries& entries, TRnd& rnd);
ScoreEntries decode_score_file(std::span<const std::uint8_t, kScoreFileSize> image, TRnd& rnd);

}  // namespace zt
