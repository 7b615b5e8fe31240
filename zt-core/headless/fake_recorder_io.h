// RecorderIo over an in-memory map slot -> file bytes, with the position
// rules of the Linux host's files, a log of the calls and chosen failures.
// A file opened by open_for_write is kept apart and replaces the slot's file
// only at commit.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "game/glue.h"

namespace zt {

class FakeRecorderIo : public RecorderIo {
 public:
  enum class Op {
    FileExists,
    OpenForRead,
    SeekFromEnd,
    OpenForWrite,
    SeekFromStart,
    Read,
    Write,
    Commit,
  };

  // The files, by slot. Tests may fill and inspect them directly.
  std::map<std::int32_t, std::vector<std::uint8_t>> files;
  // Slots whose files may be read but not written: open_for_read opens them
  // for reading only, and a write to them fails.
  std::set<std::int32_t> read_only_slots;

  // The nth call of op from now (1 = the next one) fails: it answers failed
  // or nothing (file_exists: false) and changes nothing, like a refused
  // system call. Several failures may be armed at once.
  void fail_on(Op op, int nth = 1);
  void fail_next(Op op) { fail_on(op, 1); }

  // One line per call, e.g. "open_for_read 3", "seek_from_end -8", "read 8",
  // "write 56", "commit", "close"; a failed call ends in " -> failed".
  std::vector<std::string> log;

  bool is_open() const { return open_slot_.has_value(); }
  std::optional<std::int32_t> open_slot() const { return open_slot_; }
  std::int64_t position() const { return position_; }

  bool file_exists(std::int32_t slot) override;
  bool open_for_read(std::int32_t slot) override;
  bool read_only() const override { return open_slot_ && !pending_ && read_only_; }
  bool seek_from_end(std::int64_t offset) override;
  bool open_for_write(std::int32_t slot) override;
  bool seek_from_start(std::int64_t offset) override;
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) override;
  void close() override;
  bool write(const std::vector<std::uint8_t>& bytes) override;
  bool commit() override;

  // The file being written by open_for_write, before its commit.
  const std::optional<std::vector<std::uint8_t>>& pending() const { return pending_; }

 private:
  std::vector<std::uint8_t>& open_file() { return pending_ ? *pending_ : files[*open_slot_]; }

  // Counts the call and says whether an injected failure hits it.
  bool injected(Op op);
  // Logs the call with its outcome and passes the outcome on.
  bool logged(std::string line, bool failed);

  std::map<Op, std::vector<int>> countdowns_;
  std::optional<std::int32_t> open_slot_;
  std::optional<std::vector<std::uint8_t>> pending_;
  bool readable_ = false;   // a file opened by open_for_write is write-only
  bool read_only_ = false;  // a file of read_only_slots, opened by open_for_read
  std::int64_t position_ = 0;
};

}  // namespace zt
