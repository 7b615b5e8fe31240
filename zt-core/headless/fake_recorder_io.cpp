#include "fake_recorder_io.h"

#include <algorithm>
#include <utility>

namespace zt {

void FakeRecorderIo::fail_on(Op op, int nth) {
  countdowns_[op].push_back(nth);
}

bool FakeRecorderIo::injected(Op op) {
  auto it = countdowns_.find(op);
  if (it == countdowns_.end()) return false;
  bool fails = false;
  for (int& n : it->second) {
    if (--n == 0) fails = true;
  }
  std::erase_if(it->second, [](int n) { return n <= 0; });
  return fails;
}

bool FakeRecorderIo::logged(std::string line, bool failed) {
  if (failed) line += " -> failed";
  log.push_back(std::move(line));
  return failed;
}

bool FakeRecorderIo::file_exists(std::int32_t slot) {
  const bool exists = !injected(Op::FileExists) && files.contains(slot);
  log.push_back("file_exists " + std::to_string(slot) + (exists ? " -> true" : " -> false"));
  return exists;
}

bool FakeRecorderIo::open_for_read(std::int32_t slot) {
  const std::string line = "open_for_read " + std::to_string(slot);
  if (injected(Op::OpenForRead) || !files.contains(slot)) return logged(line, true);
  pending_.reset();
  open_slot_ = slot;
  readable_ = true;
  read_only_ = read_only_slots.contains(slot);
  position_ = 0;
  return logged(line, false);
}

bool FakeRecorderIo::seek_from_end(std::int64_t offset) {
  const std::string line = "seek_from_end " + std::to_string(offset);
  if (injected(Op::SeekFromEnd) || !open_slot_) return logged(line, true);
  const std::int64_t to = static_cast<std::int64_t>(open_file().size()) + offset;
  if (to < 0) return logged(line, true);  // no position before the start
  position_ = to;
  return logged(line, false);
}

bool FakeRecorderIo::open_for_write(std::int32_t slot) {
  const std::string line = "open_for_write " + std::to_string(slot);
  if (injected(Op::OpenForWrite)) return logged(line, true);
  pending_.emplace();
  open_slot_ = slot;
  readable_ = false;
  position_ = 0;
  return logged(line, false);
}

bool FakeRecorderIo::seek_from_start(std::int64_t offset) {
  const std::string line = "seek_from_start " + std::to_string(offset);
  if (injected(Op::SeekFromStart) || !open_slot_ || offset < 0) return logged(line, true);
  position_ = offset;
  return logged(line, false);
}

std::optional<std::vector<std::uint8_t>> FakeRecorderIo::read(std::size_t length) {
  const std::string line = "read " + std::to_string(length);
  if (injected(Op::Read) || !open_slot_ || !readable_) {
    logged(line, true);
    return std::nullopt;
  }
  const std::vector<std::uint8_t>& file = open_file();
  const std::int64_t size = static_cast<std::int64_t>(file.size());
  if (size - position_ < static_cast<std::int64_t>(length)) {
    position_ = std::max(position_, size);  // a short read still moves to the end
    logged(line, true);
    return std::nullopt;
  }
  const auto from = file.begin() + position_;
  std::vector<std::uint8_t> out(from, from + static_cast<std::ptrdiff_t>(length));
  position_ += static_cast<std::int64_t>(length);
  logged(line, false);
  return out;
}

void FakeRecorderIo::close() {
  log.emplace_back("close");
  open_slot_.reset();
  pending_.reset();
  readable_ = false;
  position_ = 0;
}

bool FakeRecorderIo::write(const std::vector<std::uint8_t>& bytes) {
  const std::string line = "write " + std::to_string(bytes.size());
  if (injected(Op::Write) || !open_slot_ || read_only()) return logged(line, true);
  if (bytes.empty()) return logged(line, false);
  std::vector<std::uint8_t>& file = open_file();
  const std::size_t end = static_cast<std::size_t>(position_) + bytes.size();
  if (file.size() < end) file.resize(end, 0);  // a write past the end leaves a zero gap
  std::copy(bytes.begin(), bytes.end(), file.begin() + position_);
  position_ = static_cast<std::int64_t>(end);
  return logged(line, false);
}

bool FakeRecorderIo::commit() {
  const bool failed = injected(Op::Commit) || !pending_;
  if (!failed) files[*open_slot_] = std::move(*pending_);
  open_slot_.reset();
  pending_.reset();
  readable_ = false;
  position_ = 0;
  return logged("commit", failed);
}

}  // namespace zt
