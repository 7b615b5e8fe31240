#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "formats/config.h"

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
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd) return last_error();
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
  const std::filesystem::path dir = target_.has_parent_path() ? target_.parent_path() : ".";
  UniqueFd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d) ::fsync(d.get());
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
  UniqueFd fd(::open(rec_path(data_dir_, slot).c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) return true;
  recording_.reset();
  replay_ = std::move(fd);
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

std::optional<std::vector<std::uint8_t>> read_whole_file(const std::filesystem::path& path,
                                                         std::error_code* error) {
  const auto fail = [error] {
    if (error) *error = std::error_code(errno, std::generic_category());
    return std::nullopt;
  };
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return fail();
  std::vector<std::uint8_t> out;
  for (;;) {
    const std::size_t have = out.size();
    out.resize(have + kReadChunk);
    const ssize_t n = ::read(fd.get(), out.data() + have, kReadChunk);
    if (n < 0 && errno == EINTR) {
      out.resize(have);
      continue;
    }
    if (n < 0) return fail();
    out.resize(have + static_cast<std::size_t>(n));
    if (n == 0) return out;
  }
}

std::string read_config_text(const std::filesystem::path& path) {
  const auto bytes = read_whole_file(path);
  if (!bytes) return {};
  return latin1_to_utf8(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
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
