// The game's score file: read once when the game starts and written over at
// the end. A file that is there but could not be read is never written over;
// a damaged one (read, but holding no valid table) is first kept beside it,
// under the first free name of NAME.damaged, NAME.damaged.2, NAME.damaged.3,
// ..., so that its bytes are not lost with it; once only, when an earlier
// copy before that name already holds the same bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "game/uhiscore.h"
#include "replace_file.h"

namespace zt::win {

// Names tried for the kept copy of a damaged file before giving up: more
// than a player ever makes, few enough to end quickly in a folder that takes
// no new file.
inline constexpr std::int64_t kDamagedCopyTries = 100000;

class GameScoreFile {
 public:
  explicit GameScoreFile(std::wstring path, std::int64_t copy_tries = kDamagedCopyTries)
      : path_(std::move(path)), copy_tries_(copy_tries) {}

  // The bytes for the table; nothing when the file is missing or unreadable.
  std::optional<std::vector<std::uint8_t>> Read();
  // What the table made of the bytes read.
  void Loaded(HiScoreLoad result);
  // Puts the image in the file's place, unless the file could not be read.
  // A damaged file is kept first; when that fails it stays as it is.
  std::optional<WriteError> Write(std::span<const std::uint8_t> image);

  // The name of the k-th kept copy of a damaged file, from 1.
  static std::wstring DamagedCopyName(const std::wstring& path, std::int64_t k);

 private:
  std::wstring path_;
  // Keeps the damaged bytes beside the file, or finds them kept already.
  std::optional<WriteError> KeepDamaged();

  std::int64_t copy_tries_;
  bool unreadable_ = false;
  std::vector<std::uint8_t> read_;
  std::optional<std::vector<std::uint8_t>> damaged_;  // to be kept before the first write
};

}  // namespace zt::win
