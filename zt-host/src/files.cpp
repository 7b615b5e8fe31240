#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
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
  replay_ = std::move(fd);
  return false;
}

bool HostFiles::seek_from_end(std::int64_t offset) {
  if (!replay_) return true;
  return ::lseek(replay_.get(), static_cast<off_t>(offset), SEEK_END) < 0;
}

bool HostFiles::open_for_write(std::int32_t slot) {
  if (!make_directories(data_dir_ / "Rec")) return true;
  UniqueFd fd(
      ::open(rec_path(data_dir_, slot).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) return true;
  replay_ = std::move(fd);
  return false;
}

bool HostFiles::seek_from_start(std::int64_t offset) {
  if (offset < 0 || !replay_) return true;
  return ::lseek(replay_.get(), static_cast<off_t>(offset), SEEK_SET) < 0;
}

std::optional<std::vector<std::uint8_t>> HostFiles::read(std::size_t length) {
  if (!replay_) return std::nullopt;
  return read_exactly(replay_.get(), length);
}

void HostFiles::close() {
  replay_.reset();
}

bool HostFiles::write(const std::vector<std::uint8_t>& bytes) {
  if (!replay_) return true;
  return !write_all(replay_.get(), bytes);
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

bool write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd) return true;
  if (!write_all(fd.get(), bytes)) return true;
  // A failed close can be the first report of a failed write.
  return ::close(fd.release()) != 0;
}

std::variant<std::filesystem::path, std::string> require_data_dir(
    const std::filesystem::path& directory) {
  std::filesystem::path joined = directory / "images.qda";
  struct stat st {};
  if (::stat(joined.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return joined;
  return joined.string() + " not found";
}

}  // namespace zt
