// The host's files in the data directory: replay files behind RecorderIo,
// the check for song files behind KbgmSink, the settings text, and the
// check that a directory holds the game's data.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include "formats/config.h"
#include "formats/hiscore.h"
#include "game/glue.h"

namespace zt {

// Writes every byte, going on after interrupted and partial writes; false
// (errno set) when the descriptor takes no more.
bool write_all(int fd, std::span<const std::uint8_t> bytes);

// An open file descriptor, closed when dropped.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();
  void reset();

 private:
  int fd_ = -1;
};

// The most bytes taken from each kind of file that comes from outside. A file
// over its cap is refused before anything is read. Each leaves room far
// beyond what the game's own files need. The settings and score files' caps
// (kSettingsFileCap, kScoreFileCap) are the core's, the same in both programs.
// "images.qda", "sounds.qda": each is held whole while its members are
// decoded, within what decoding may cost besides.
inline constexpr std::uint64_t kArchiveFileCap = 32 << 20;
inline constexpr std::uint64_t kSongFileCap = 16 << 20;  // "title.mid", "stage.mid"
// The synthesizer keeps a SoundFont's samples in memory; the largest General
// MIDI sets in use are a few hundred MB.
inline constexpr std::uint64_t kSoundFontFileCap = std::uint64_t{512} << 20;

// Why a file could not be read: the system's description, "not a regular
// file" or "larger than N bytes".
struct ReadFailure {
  std::string reason;
  bool missing = false;  // there is no such file (as opposed to one that cannot be read)
};

// Opens a file from outside without ever blocking (a named pipe or a device
// in its place would wait for a writer, or never end) and keeps it only when
// it is a regular file of at most cap bytes. `flags` is O_RDONLY or O_RDWR.
std::variant<UniqueFd, ReadFailure> open_regular_file(const std::filesystem::path& path,
                                                      std::uint64_t cap, int flags);

// The whole of a regular file of at most cap bytes, or why not. Every read of
// a file from outside goes through here; the cap also holds when the file
// grows while it is read.
std::variant<std::vector<std::uint8_t>, ReadFailure> read_file(const std::filesystem::path& path,
                                                               std::uint64_t cap);

// Creates the file with the bytes, flushed to the disk, but only when no
// file of that name exists (errc::file_exists then); a link in its place is
// never followed. A failure removes what was made of it.
std::error_code create_new_file(const std::filesystem::path& path,
                                std::span<const std::uint8_t> bytes);

// A kept copy of a damaged file.
struct DamagedCopy {
  std::filesystem::path path;
  bool earlier = false;  // an earlier copy of the same bytes, none made now
};

// Keeps a copy of the bytes of a damaged file beside it, under the first
// free name of PATH.damaged, PATH.damaged.2, PATH.damaged.3 ... (an earlier
// copy is never replaced), unless an earlier copy before that name already
// holds the same bytes; the copy, or the error.
std::variant<DamagedCopy, std::error_code> keep_damaged_copy(const std::filesystem::path& path,
                                                             std::span<const std::uint8_t> bytes);

// Removes what FileReplacement leaves behind when its process is killed: the
// temporary files ".NAME.PID.N.tmp" of the files the game replaces (the
// score, settings and screenshot files in the data directory, the replays in
// its "Rec"), but only regular files under that very name (a link stays, and
// what it leads to is never touched) whose process PID does not run here,
// that no process holds locked (formats/temp_file.h) and that were last
// written over a minute ago. The paths removed.
std::vector<std::filesystem::path> remove_stale_temp_files(const std::filesystem::path& data_dir);

// A new version of a file that the player owns, written beside it under a
// temporary name and renamed over it by commit: a failure or a crash at any
// point leaves the old file or the new one, never a part of either. Dropped
// without a commit, it removes the temporary file and the old file stands.
//
// While it is open the temporary file is held under the lock that start-up
// clean-ups of both programs respect (formats/temp_file.h).
//
// A symbolic link stays a link: the file it leads to is the one replaced. A
// new file gets the permission bits 0666 before the process's mask; a
// replaced file keeps its own. A device or a pipe is written in place, and a
// pipe that nobody reads fails at once instead of waiting for a reader.
class FileReplacement {
 public:
  // Creates the temporary file; the system's error when it cannot.
  static std::variant<FileReplacement, std::error_code> begin(const std::filesystem::path& path);

  FileReplacement(FileReplacement&& other) noexcept;
  FileReplacement& operator=(FileReplacement&& other) noexcept;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement();

  // The temporary file, open for writing.
  int fd() const { return fd_.get(); }
  // Flushes the temporary file to the disk and renames it over the file; the
  // system's error when a step fails, and then the old file stands.
  std::error_code commit();

 private:
  FileReplacement(std::filesystem::path target, std::filesystem::path temp, UniqueFd fd)
      : target_(std::move(target)), temp_(std::move(temp)), fd_(std::move(fd)) {}
  void discard();

  std::filesystem::path target_;  // where the link, if any, leads
  std::filesystem::path temp_;    // empty when written in place, committed or discarded
  UniqueFd fd_;
};

// Replaces the file with the bytes through a FileReplacement; no error on
// success. Every file the player owns that is replaced (settings, scores) is
// written this way.
std::error_code replace_file(const std::filesystem::path& path,
                             std::span<const std::uint8_t> bytes);

// Replay files and song checks in one data directory. At most one replay
// file is open at a time; opening another closes the first, but only once
// the new one has opened. A recording goes into a FileReplacement of the
// slot's file, which takes the slot's place only at commit. A replay the
// player may read but not write is opened for reading only. A replay that
// exists but cannot be opened is named on `err` (standard error when null)
// with the reason, once per file.
class HostFiles final : public RecorderIo, public KbgmSink {
 public:
  explicit HostFiles(std::filesystem::path data_dir, std::ostream* err = nullptr)
      : data_dir_(std::move(data_dir)), err_(err) {}

  const std::filesystem::path& data_dir() const { return data_dir_; }
  bool replay_open() const { return static_cast<bool>(replay_) || recording_.has_value(); }

  // data directory / "Rec" / "Rec" + n + ".dat"
  static std::filesystem::path rec_path(const std::filesystem::path& data_dir, std::int32_t n);

  bool file_exists(std::int32_t slot) override;
  bool open_for_read(std::int32_t slot) override;
  bool read_only() const override { return replay_ && replay_read_only_; }
  bool seek_from_end(std::int64_t offset) override;
  bool open_for_write(std::int32_t slot) override;
  bool seek_from_start(std::int64_t offset) override;
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) override;
  void close() override;
  bool write(const std::vector<std::uint8_t>& bytes) override;
  bool commit() override;

  // Whether data directory + name exists as anything at all.
  bool file_exists(std::string_view name) override;

 private:
  int open_fd() const { return recording_ ? recording_->fd() : replay_.get(); }

  std::filesystem::path data_dir_;
  std::ostream* err_;
  std::set<std::filesystem::path> reported_;  // replays already named on err_
  UniqueFd replay_;                           // a replay, opened to read
  bool replay_read_only_ = false;             // ... and only to read
  std::optional<FileReplacement> recording_;  // a recording, until its commit
};

// The settings file's bytes as text, one character per byte (latin1_to_utf8).
std::string config_text(std::span<const std::uint8_t> bytes);
// The settings file as text; empty when the file cannot be read.
std::string read_config_text(const std::filesystem::path& path);

// The text as the bytes to write back (utf8_to_latin1): a code below 256
// becomes that byte, any other character keeps its UTF-8 bytes, and a byte
// that is not part of valid UTF-8 is written as it stands.
std::vector<std::uint8_t> config_text_bytes(std::string_view text);

// The path of "images.qda" in the directory when it is a regular file there,
// else the message: the joined path followed by " not found".
std::variant<std::filesystem::path, std::string> require_data_dir(
    const std::filesystem::path& directory);

}  // namespace zt
