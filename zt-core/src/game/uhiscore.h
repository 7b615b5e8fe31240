// The top-10 score table and its file "ZTScore.dat".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/hiscore.h"
#include "game/urandom.h"

namespace zt {

// Outcome of reading the score file.
enum class HiScoreLoad : std::int32_t {
  Missing = 0,  // no bytes: the file could not be read
  Invalid = 1,  // wrong length or scores out of order
  Loaded = 2,
};

class THiScore {
 public:
  // THiScore::create: keeps the name, seeds and resets the key generator, and
  // starts from the default table.
  explicit THiScore(std::string file_name = "ZTScore.dat");

  // Ten "KOVAKOVA" entries dated 1900-01-01, 10000 down to 1000.
  void set_defaults();

  // Place n from 1 to 10; any other n gives an empty entry with score -1.
  ScoreEntryRaw get_entry2(std::int32_t n) const;

  // The place a score would take, or -1. A score equal to an entry's ranks
  // below it.
  std::int32_t rank_of(std::int64_t score) const;

  // Names longer than 9 bytes are cut to 9; an exact duplicate of an entry
  // already in the table is not inserted.
  void insert(std::string_view name, std::int64_t score, double date);

  // The file's bytes, or nothing when it could not be read. On Invalid after
  // a 320-byte file the unscrambled entries are in place anyway; the caller
  // decides whether to fall back to the defaults.
  HiScoreLoad load(const std::optional<std::vector<std::uint8_t>>& bytes);

  // The scrambled file image when the table differs from the file (and marks
  // it saved); nothing otherwise.
  std::optional<ScoreFileImage> save();

  const std::string& file_name() const { return file_name_; }
  const ScoreEntries& entries() const { return entries_; }
  bool loaded() const { return loaded_; }
  bool changed() const { return changed_; }

 private:
  std::string file_name_;
  ScoreEntries entries_{};
  TRnd rnd_;
  bool loaded_ = false;
  bool changed_ = false;
};

// The game's two uses of its table. TGame keeps one THiScore and calls these
// with it: hiscore_load once with the bytes of "ZTScore.dat" right after it is
// created, hiscore_bytes when the host saves on exit (and writes the file only
// when bytes come back).

// THiScore::load, falling back to the default table when the file is invalid.
HiScoreLoad hiscore_load(THiScore& table, const std::optional<std::vector<std::uint8_t>>& bytes);
std::optional<ScoreFileImage> hiscore_bytes(THiScore& table);

}  // namespace zt
