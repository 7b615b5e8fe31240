#include "score_file.h"

#include "formats/hiscore.h"
#include "read_file.h"

namespace zt::win {

std::optional<std::vector<std::uint8_t>> GameScoreFile::Read() {
  ReadResult r = read_whole_file(path_, kScoreFileCap);
  if (const ReadFailure* failure = std::get_if<ReadFailure>(&r)) {
    unreadable_ = failure->kind != ReadFailure::kMissing;
    return std::nullopt;
  }
  read_ = std::move(std::get<std::vector<std::uint8_t>>(r));
  return read_;
}

void GameScoreFile::Loaded(HiScoreLoad result) {
  if (result == HiScoreLoad::Invalid) damaged_ = std::move(read_);
  read_.clear();
}

std::wstring GameScoreFile::DamagedCopyName(const std::wstring& path, std::int64_t k) {
  const std::string suffix = damaged_copy_suffix(k);
  return path + std::wstring(suffix.begin(), suffix.end());
}

std::optional<WriteError> GameScoreFile::KeepDamaged() {
  const std::string_view bytes(reinterpret_cast<const char*>(damaged_->data()), damaged_->size());
  const auto name = [this](std::int64_t k) { return DamagedCopyName(path_, k); };
  for (std::int64_t k = 1; k <= copy_tries_; ++k) {
    const auto kept = write_new_file(name, k, 1, bytes);
    const WriteError* e = std::get_if<WriteError>(&kept);
    if (e == nullptr) return std::nullopt;
    if (e->code != ERROR_FILE_EXISTS) return *e;
    // A file that keeps failing to be replaced is copied once, not at every run.
    const ReadResult earlier = read_whole_file(name(k), damaged_->size());
    const auto* held = std::get_if<std::vector<std::uint8_t>>(&earlier);
    if (held != nullptr && *held == *damaged_) return std::nullopt;
  }
  return WriteError{ERROR_FILE_EXISTS};
}

std::optional<WriteError> GameScoreFile::Write(std::span<const std::uint8_t> image) {
  if (unreadable_) return std::nullopt;
  if (damaged_) {
    if (const std::optional<WriteError> e = KeepDamaged()) return e;
    damaged_.reset();
  }
  return replace_file(path_,
                      std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
}

}  // namespace zt::win
