#include "game/uhiscore.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <utility>

namespace zt {
namespace {

bool same_entry(const ScoreEntryRaw& a, const ScoreEntryRaw& b) {
  // The stored bits of the dates: a NaN read from a file equals its copy.
  if (a.name_length != b.name_length || a.score != b.score ||
      std::bit_cast<std::uint64_t>(a.date) != std::bit_cast<std::uint64_t>(b.date)) {
    return false;
  }
  const std::size_t n = std::min<std::size_t>(a.name_length, ScoreEntryRaw::kNameMax);
  return std::equal(a.name.begin(), a.name.begin() + static_cast<std::ptrdiff_t>(n),
                    b.name.begin());
}

}  // namespace

THiScore::THiScore(std::string file_name) : file_name_(std::move(file_name)) {
  rnd_.set_seed(kScoreKeySeed);
  rnd_.reset();
  set_defaults();
}

void THiScore::set_defaults() {
  static constexpr std::string_view kName = "KOVAKOVA";
  for (std::size_t i = 0; i < kScoreEntries; ++i) {
    ScoreEntryRaw e;
    e.name_length = static_cast<std::uint8_t>(kName.size());
    std::copy(kName.begin(), kName.end(), e.name.begin());
    e.score = static_cast<std::int64_t>(kScoreEntries - i) * 1000;
    e.date = 2.0;
    entries_[i] = e;
  }
  loaded_ = true;
  changed_ = true;
}

ScoreEntryRaw THiScore::get_entry2(std::int32_t n) const {
  if (n >= 1 && n <= static_cast<std::int32_t>(kScoreEntries)) {
    return entries_[static_cast<std::size_t>(n - 1)];
  }
  ScoreEntryRaw none;
  none.score = -1;
  return none;
}

std::int32_t THiScore::rank_of(std::int64_t score) const {
  for (std::size_t i = 0; i < kScoreEntries; ++i) {
    if (entries_[i].score < score) return static_cast<std::int32_t>(i + 1);
  }
  return -1;
}

void THiScore::insert(std::string_view name, std::int64_t score, double date) {
  const std::int32_t r = rank_of(score);
  if (r == -1) return;
  ScoreEntryRaw e;
  const std::size_t len = std::min(name.size(), ScoreEntryRaw::kNameMax);
  e.name_length = static_cast<std::uint8_t>(len);
  std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(len), e.name.begin());
  e.score = score;
  e.date = date;
  if (std::any_of(entries_.begin(), entries_.end(),
                  [&](const ScoreEntryRaw& x) { return same_entry(x, e); })) {
    return;
  }
  const auto at = entries_.begin() + (r - 1);
  std::move_backward(at, entries_.end() - 1, entries_.end());
  *at = e;
  changed_ = true;
}

HiScoreLoad THiScore::load(const std::optional<std::vector<std::uint8_t>>& bytes) {
  if (!bytes) return HiScoreLoad::Missing;
  if (bytes->size() != kScoreFileSize) return HiScoreLoad::Invalid;
  entries_ = decode_score_file(
      std::span<const std::uint8_t, kScoreFileSize>(bytes->data(), kScoreFileSize), rnd_);
  loaded_ = true;
  changed_ = false;
  for (std::size_t i = 0; i + 1 < kScoreEntries; ++i) {
    if (entries_[i].score < entries_[i + 1].score) return HiScoreLoad::Invalid;
  }
  return HiScoreLoad::Loaded;
}

std::optional<ScoreFileImage> THiScore::save() {
  if (!loaded_ || !changed_) return std::nullopt;
  ScoreFileImage image = encode_score_file(entries_, rnd_);
  changed_ = false;
  return image;
}

HiScoreLoad hiscore_load(THiScore& table, const std::optional<std::vector<std::uint8_t>>& bytes) {
  const HiScoreLoad r = table.load(bytes);
  if (r == HiScoreLoad::Invalid) table.set_defaults();
  return r;
}

std::optional<ScoreFileImage> hiscore_bytes(THiScore& table) {
  return table.save();
}

}  // namespace zt
