#include "formats/hiscore.h"

#include <algorithm>
#include <bit>

namespace zt {
namespace {

void put_u64(std::uint8_t* out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t get_u64(const std::uint8_t* in) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return v;
}

}  // namespace

std::string ScoreEntryRaw::f0() const {
  const std::size_t n = std::min<std::size_t>(name_length, kNameMax);
  return std::string(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n));
}

std::array<std::uint8_t, ScoreEntryRaw::kSize> ScoreEntryRaw::encode() const {
  std::array<std::uint8_t, kSize> out{};
  out[0] = name_length;
  std::copy(name.begin(), name.end(), out.begin() + 1);
  std::copy(reserved.begin(), reserved.end(), out.begin() + 10);
  put_u64(out.data() + 16, static_cast<std::uint64_t>(score));
  put_u64(out.data() + 24, std::bit_cast<std::uint64_t>(date));
  return out;
}

ScoreEntryRaw ScoreEntryRaw::decode(std::span<const std::uint8_t, kSize> bytes) {
  ScoreEntryRaw e;
  e.name_length = bytes[0];
  std::copy(bytes.begin() + 1, bytes.begin() + 10, e.name.begin());
  std::copy(bytes.begin() + 10, bytes.begin() + 16, e.reserved.begin());
  e.score = static_cast<std::int64_t>(get_u64(bytes.data() + 16));
  e.date = std::bit_cast<double>(get_u64(bytes.data() + 24));
  return e;
}

void scramble_score_bytes(std::span<std::uint8_t> bytes, TRnd& rnd) {
  rnd.reset();
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(b ^ rnd.range(255));
}

ScoreFileImage encode_score_file(const ScoreEntries& entries, TRnd& rnd) {
  ScoreFileImage image{};
  for (std::size_t i = 0; i < kScoreEntries; ++i) {
    const auto raw = entries[i].encode();
    std::copy(raw.begin(), raw.end(),
              image.begin() + static_cast<std::ptrdiff_t>(i * ScoreEntryRaw::kSize));
  }
  scramble_score_bytes(image, rnd);
  return image;
}

ScoreEntries decode_score_file(std::span<const std::uint8_t, kScoreFileSize> image, TRnd& rnd) {
  ScoreFileImage plain{};
  std::copy(image.begin(), image.end(), plain.begin());
  scramble_score_bytes(plain, rnd);
  ScoreEntries entries{};
  for (std::size_t i = 0; i < kScoreEntries; ++i) {
    entries[i] = ScoreEntryRaw::decode(std::span<const std::uint8_t, ScoreEntryRaw::kSize>(
        plain.data() + i * ScoreEntryRaw::kSize, ScoreEntryRaw::kSize));
  }
  return entries;
}

}  // namespace zt
