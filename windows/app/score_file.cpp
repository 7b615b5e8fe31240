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

std::optional<WriteError> GameScoreFile::Write(std::span<const std::uint8_t> image) {
  if (unreadable_) return std::nullopt;
  if (damaged_) {
    const auto kept = write_new_file(
        [this](std::int64_t k) { return DamagedCopyName(path_, k); }, 1, copy_tries_,
        std::string_view(reinterpret_cast<const char*>(damaged_->data()), damaged_->size()));
    if (const WriteError* e = std::get_if<WriteError>(&kept)) return *e;
    damaged_.reset();
  }
  return replace_file(path_,
                      std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
}

}  // namespace zt::win
