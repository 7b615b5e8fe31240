#include "files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <iostream>
#include <limits>
#include <utility>

#include "formats/config.h"
#include "formats/temp_file.h"

namespace zt {
namespace {

// Reads grow the buffer as bytes arrive, so a huge length asked of a short
// file allocates no more than the file holds.
constexpr std::size_t kReadChunk = 64 * 1024;

bool stat_is_directory(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p with permission bits 0777 before the process's mask.
bool make_directories(const std::filesystem::path& p) {
  if (p.empty()) return false;
  if (::mkdir(p.c_str(), 0777) == 0) return true;
  if (errno == EEXIST) return stat_is_directory(p);
  if (errno != ENOENT) return false;
  const std::filesystem::path parent = p.parent_path();
  if (parent.empty() || parent == p || !make_directories(parent)) return false;
  if (::mkdir(p.c_str(), 0777) == 0) return true;
  return errno == EEXIST && stat_is_directory(p);
}

std::error_code last_error() {
  return {errno, std::generic_category()};
}

ReadFailure failure_from_errno() {
  return {std::generic_category().message(errno), errno == ENOENT};
}

ReadFailure too_large(std::uint64_t cap) {
  return {"larger than " + std::to_string(cap) + " bytes"};
}

// Opened without O_NONBLOCK so as never to wait, a descriptor goes back to
// blocking, which later reads and writes of it expect.
bool block_again(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// Flushes a directory's entries (a new or renamed file in it) to the disk.
void sync_directory_of(const std::filesystem::path& file) {
  const std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : ".";
  UniqueFd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d) ::fsync(d.get());
}

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// PREFIX + an optionally negative decimal number + SUFFIX, as the game
// numbers replays and screenshots.
bool numbered_name(std::string_view name, std::string_view prefix, std::string_view suffix) {
  if (!name.starts_with(prefix) || !name.ends_with(suffix)) return false;
  if (name.size() < prefix.size() + suffix.size()) return false;
  std::string_view number = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (number.starts_with('-')) number.remove_prefix(1);
  return all_digits(number);
}

bool replaced_in_data_dir(std::string_view name) {
  return name == "ZTScore.dat" || name == "Zentria.ini" || numbered_name(name, "ScrSht", ".bmp");
}

bool replaced_in_rec(std::string_view name) {
  return numbered_name(name, "Rec", ".dat");
}

// The process number in a temporary file name ".NAME.PID.N.tmp" of
// FileReplacement::begin whose NAME is one the check accepts; 0 for any
// other name.
pid_t temp_file_pid(std::string_view file, bool (*replaced)(std::string_view)) {
  if (file.size() < 6 || !file.starts_with('.') || !file.ends_with(".tmp")) return 0;
  std::string_view rest = file.substr(1, file.size() - 5);  // NAME.PID.N
  const std::size_t serial_dot = rest.rfind('.');
  if (serial_dot == std::string_view::npos || !all_digits(rest.substr(serial_dot + 1))) return 0;
  rest = rest.substr(0, serial_dot);
  const std::size_t pid_dot = rest.rfind('.');
  if (pid_dot == std::string_view::npos) return 0;
  const std::string_view pid = rest.substr(pid_dot + 1);
  // Process numbers have no leading zero and at most 7 digits (pid_max <= 2^22).
  if (!all_digits(pid) || pid[0] == '0' || pid.size() > 7) return 0;
  if (!replaced(rest.substr(0, pid_dot))) return 0;
  return static_cast<pid_t>(std::stol(std::string(pid)));
}

// The lock a replacement holds on its temporary file while it is open; a
// clean-up asks for a shared one to learn that nobody holds it.
bool lock_temp_file(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(kTempFileLockOffset);
  lock.l_len = 1;
  // An open file description's lock: other descriptors of this process do
  // not share it, and closing one of them does not drop it.
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether the file is a temporary file that nobody may still write: a
// regular file under this very name (no link, no second name), that no
// process holds locked, last written over a minute ago. Removed while the
// lock is held, so that no writer can take it in between.
bool remove_if_stale(const std::filesystem::path& p) {
  struct stat named {};
  if (::lstat(p.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_nlink != 1) {
    return false;
  }
  UniqueFd fd(::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || st.st_dev != named.st_dev ||
      st.st_ino != named.st_ino || !lock_temp_file(fd.get(), F_RDLCK)) {
    return false;
  }
  // Timed after the lock: a file a writer has only just created is new.
  if (::fstat(fd.get(), &st) != 0 || st.st_nlink != 1 ||
      st.st_mtime > std::time(nullptr) - kStaleTempFileSeconds) {
    return false;
  }
  return ::unlink(p.c_str()) == 0;
}

void remove_stale_in(const std::filesystem::path& dir, bool (*replaced)(std::string_view),
                     std::vector<std::filesystem::path>& removed) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::filesystem::path& p = it->path();
    const pid_t pid = temp_file_pid(p.filename().native(), replaced);
    if (pid <= 0) continue;
    // A process of this system that runs, under any owner, keeps its files.
    // The Windows program under Wine numbers its files with ids this system
    // does not know: its lock is what keeps them.
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    if (remove_if_stale(p)) removed.push_back(p);
  }
}

// Where a chain of symbolic links ends: the path itself when it is no link or
// does not exist. A loop of links ends the search where it stands.
std::filesystem::path follow_links(std::filesystem::path p) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string to(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(p.c_str(), to.data(), to.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) break;
    to.resize(static_cast<std::size_t>(n));
    const std::filesystem::path next(to);
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return p;
}

std::optional<std::vector<std::uint8_t>> read_exactly(int fd, std::size_t length) {
  std::vector<std::uint8_t> out;
  while (out.size() < length) {
    const std::size_t have = out.size();
    const std::size_t want = std::min(length - have, kReadChunk);
    out.resize(have + want);
    const ssize_t n = ::read(fd, out.data() + have, want);
    if (n < 0 && errno == EINTR) {
      out.resize(have);
      continue;
    }
    if (n <= 0) return std::nullopt;
    out.resize(have + static_cast<std::size_t>(n));
  }
  return out;
}

}  // namespace

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::variant<FileReplacement, std::error_code> FileReplacement::begin(
    const std::filesystem::path& path) {
  std::filesystem::path target = follow_links(path);
  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0;
  if (replacing && S_ISDIR(old.st_mode)) return std::make_error_code(std::errc::is_a_directory);
  if (replacing && !S_ISREG(old.st_mode)) {
    // A device or a pipe (a save sent to /dev/null) is written as it stands:
    // there is no file to keep, and renaming over it would replace the device.
    // Without O_NONBLOCK a pipe that nobody reads would wait here for ever.
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd || !block_again(fd.get())) return last_error();
    return FileReplacement(std::move(target), {}, std::move(fd));
  }
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
  const std::string stem = "." + target.filename().string() + "." + std::to_string(::getpid());
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path temp = dir / (stem + "." + std::to_string(++serial) + ".tmp");
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) {
      if (errno == EEXIST) continue;
      return last_error();
    }
    // Held until the file is renamed or removed. A file system without locks
    // refuses it: the file is still written, and no clean-up will take it.
    lock_temp_file(fd.get(), F_WRLCK);
    FileReplacement r(std::move(target), std::move(temp), std::move(fd));
    if (replacing && ::fchmod(r.fd(), old.st_mode & 07777) != 0) return last_error();
    return r;
  }
  return std::make_error_code(std::errc::file_exists);
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::exchange(other.temp_, {})),
      fd_(std::move(other.fd_)) {}

FileReplacement& FileReplacement::operator=(FileReplacement&& other) noexcept {
  if (this != &other) {
    discard();
    target_ = std::move(other.target_);
    temp_ = std::exchange(other.temp_, {});
    fd_ = std::move(other.fd_);
  }
  return *this;
}

FileReplacement::~FileReplacement() {
  discard();
}

void FileReplacement::discard() {
  fd_.reset();
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

std::error_code FileReplacement::commit() {
  if (!fd_) return std::make_error_code(std::errc::bad_file_descriptor);
  if (temp_.empty()) return ::close(fd_.release()) != 0 ? last_error() : std::error_code{};
  std::error_code error;
  // A failed flush or close can be the first report of a failed write.
  if (::fsync(fd_.get()) != 0 || ::close(fd_.release()) != 0 ||
      ::rename(temp_.c_str(), target_.c_str()) != 0) {
    error = last_error();
    discard();
    return error;
  }
  temp_.clear();
  // The rename itself reaches the disk with the directory.
  sync_directory_of(target_);
  return {};
}

std::error_code replace_file(const std::filesystem::path& path,
                             std::span<const std::uint8_t> bytes) {
  auto begun = FileReplacement::begin(path);
  if (auto* error = std::get_if<std::error_code>(&begun)) return *error;
  FileReplacement& r = std::get<FileReplacement>(begun);
  if (!write_all(r.fd(), bytes)) return last_error();
  return r.commit();
}

std::filesystem::path HostFiles::rec_path(const std::filesystem::path& data_dir, std::int32_t n) {
  return data_dir / "Rec" / ("Rec" + std::to_string(n) + ".dat");
}

bool HostFiles::file_exists(std::int32_t slot) {
  struct stat st {};
  return ::stat(rec_path(data_dir_, slot).c_str(), &st) == 0;
}

bool HostFiles::open_for_read(std::int32_t slot) {
  // A replay is read frame by frame, never whole: no cap on its size.
  const std::filesystem::path path = rec_path(data_dir_, slot);
  constexpr std::uint64_t kUncapped = std::numeric_limits<std::uint64_t>::max();
  auto opened = open_regular_file(path, kUncapped, O_RDWR);
  bool read_only = false;
  if (const auto* failure = std::get_if<ReadFailure>(&opened); failure && !failure->missing) {
    // One the player may only read still replays; its header stays as it is.
    auto for_reading = open_regular_file(path, kUncapped, O_RDONLY);
    if (std::holds_alternative<UniqueFd>(for_reading)) {
      opened = std::move(for_reading);
      read_only = true;
    }
  }
  if (const auto* failure = std::get_if<ReadFailure>(&opened)) {
    // The slot screen asks again each time it opens: one line is enough.
    if (!failure->missing && reported_.insert(path).second) {
      (err_ ? *err_ : std::cerr) << "could not open " << path.string() << " (" << failure->reason
                                 << ")" << std::endl;
    }
    return true;
  }
  recording_.reset();
  replay_ = std::move(std::get<UniqueFd>(opened));
  replay_read_only_ = read_only;
  return false;
}

bool HostFiles::seek_from_end(std::int64_t offset) {
  if (open_fd() < 0) return true;
  return ::lseek(open_fd(), static_cast<off_t>(offset), SEEK_END) < 0;
}

bool HostFiles::open_for_write(std::int32_t slot) {
  if (!make_directories(data_dir_ / "Rec")) return true;
  auto begun = FileReplacement::begin(rec_path(data_dir_, slot));
  if (!std::holds_alternative<FileReplacement>(begun)) return true;
  replay_.reset();
  recording_ = std::move(std::get<FileReplacement>(begun));
  return false;
}

bool HostFiles::seek_from_start(std::int64_t offset) {
  if (offset < 0 || open_fd() < 0) return true;
  return ::lseek(open_fd(), static_cast<off_t>(offset), SEEK_SET) < 0;
}

std::optional<std::vector<std::uint8_t>> HostFiles::read(std::size_t length) {
  if (open_fd() < 0) return std::nullopt;
  return read_exactly(open_fd(), length);
}

void HostFiles::close() {
  replay_.reset();
  recording_.reset();
}

bool HostFiles::write(const std::vector<std::uint8_t>& bytes) {
  if (open_fd() < 0) return true;
  return !write_all(open_fd(), bytes);
}

bool HostFiles::commit() {
  if (!recording_) return true;
  const bool failed = static_cast<bool>(recording_->commit());
  recording_.reset();
  return failed;
}

bool HostFiles::file_exists(std::string_view name) {
  // Appended, not joined: a name beginning with "/" still stays inside the data directory.
  std::filesystem::path p = data_dir_;
  p += "/";
  p += std::string(name);
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

namespace {

// A regular file of at most cap bytes, opened without ever blocking, and its
// size.
std::variant<std::pair<UniqueFd, std::uint64_t>, ReadFailure> open_regular(
    const std::filesystem::path& path, std::uint64_t cap, int flags) {
  UniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) return failure_from_errno();
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failure_from_errno();
  if (!S_ISREG(st.st_mode)) return ReadFailure{"not a regular file"};
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > cap) return too_large(cap);
  // A regular file never waits.
  if (!block_again(fd.get())) return failure_from_errno();
  return std::pair{std::move(fd), size};
}

}  // namespace

std::variant<UniqueFd, ReadFailure> open_regular_file(const std::filesystem::path& path,
                                                      std::uint64_t cap, int flags) {
  auto opened = open_regular(path, cap, flags);
  if (auto* failure = std::get_if<ReadFailure>(&opened)) return std::move(*failure);
  return std::move(std::get<0>(opened).first);
}

std::variant<std::vector<std::uint8_t>, ReadFailure> read_file(const std::filesystem::path& path,
                                                               std::uint64_t cap) {
  auto opened = open_regular(path, cap, O_RDONLY);
  if (auto* failure = std::get_if<ReadFailure>(&opened)) return std::move(*failure);
  const auto& [fd, size] = std::get<0>(opened);
  std::vector<std::uint8_t> out;
  if (size > 0) out.reserve(static_cast<std::size_t>(size) + 1);
  // One byte beyond the cap tells a file that has grown past it (or one whose
  // size the system does not know) from one that fits.
  const std::uint64_t limit = cap < std::numeric_limits<std::uint64_t>::max() ? cap + 1 : cap;
  while (out.size() < limit) {
    const std::size_t have = out.size();
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(limit - have, kReadChunk));
    out.resize(have + want);
    const ssize_t n = ::read(fd.get(), out.data() + have, want);
    if (n < 0 && errno == EINTR) {
      out.resize(have);
      continue;
    }
    if (n < 0) return failure_from_errno();
    out.resize(have + static_cast<std::size_t>(n));
    if (n == 0) break;
  }
  if (out.size() > cap) return too_large(cap);
  return out;
}

std::error_code create_new_file(const std::filesystem::path& path,
                                std::span<const std::uint8_t> bytes) {
  // O_EXCL: an existing name, a link included, is never opened.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd) return last_error();
  if (!write_all(fd.get(), bytes) || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
    const std::error_code error = last_error();
    fd.reset();
    ::unlink(path.c_str());
    return error;
  }
  sync_directory_of(path);
  return {};
}

namespace {

// Whether the regular file (not a link) holds exactly these bytes.
bool holds_exactly(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  auto opened = open_regular_file(path, bytes.size(), O_RDONLY | O_NOFOLLOW);
  const UniqueFd* fd = std::get_if<UniqueFd>(&opened);
  if (fd == nullptr) return false;
  const auto in = read_exactly(fd->get(), bytes.size());
  std::uint8_t more = 0;
  return in && std::equal(in->begin(), in->end(), bytes.begin(), bytes.end()) &&
         ::read(fd->get(), &more, 1) == 0;
}

}  // namespace

std::variant<DamagedCopy, std::error_code> keep_damaged_copy(const std::filesystem::path& path,
                                                             std::span<const std::uint8_t> bytes) {
  constexpr int kMaxCopies = 1000;
  for (int i = 1; i <= kMaxCopies; ++i) {
    std::filesystem::path copy = path;
    copy += damaged_copy_suffix(i);
    const std::error_code error = create_new_file(copy, bytes);
    if (!error) return DamagedCopy{std::move(copy), false};
    if (error != std::errc::file_exists) return error;
    // A file that keeps failing to be replaced is copied once, not at every run.
    if (holds_exactly(copy, bytes)) return DamagedCopy{std::move(copy), true};
  }
  return std::make_error_code(std::errc::file_exists);
}

std::vector<std::filesystem::path> remove_stale_temp_files(const std::filesystem::path& data_dir) {
  std::vector<std::filesystem::path> removed;
  remove_stale_in(data_dir, replaced_in_data_dir, removed);
  remove_stale_in(data_dir / "Rec", replaced_in_rec, removed);
  return removed;
}

std::string config_text(std::span<const std::uint8_t> bytes) {
  return latin1_to_utf8(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string read_config_text(const std::filesystem::path& path) {
  const auto read = read_file(path, kSettingsFileCap);
  const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&read);
  return bytes ? config_text(*bytes) : std::string();
}

std::vector<std::uint8_t> config_text_bytes(std::string_view text) {
  const std::string bytes = utf8_to_latin1(text);
  return {bytes.begin(), bytes.end()};
}

std::variant<std::filesystem::path, std::string> require_data_dir(
    const std::filesystem::path& directory) {
  std::filesystem::path joined = directory / "images.qda";
  struct stat st {};
  if (::stat(joined.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return joined;
  return joined.string() + " not found";
}

}  // namespace zt
