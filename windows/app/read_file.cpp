#include "read_file.h"

#include <algorithm>

namespace zt::win {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

ReadFailure unreadable(DWORD code) {
  return {ReadFailure::kUnreadable, code};
}

}  // namespace

ReadResult read_whole_file(const std::wstring& path, std::uint64_t cap) {
  // Opening never waits: a pipe or a device is opened like a file and told
  // apart by its type below.
  Handle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (f.get() == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) {
      return ReadFailure{ReadFailure::kMissing, e};
    }
    return unreadable(e);
  }
  if (GetFileType(f.get()) != FILE_TYPE_DISK) return unreadable(ERROR_BAD_FILE_TYPE);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(f.get(), &info)) return unreadable(GetLastError());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return unreadable(ERROR_BAD_FILE_TYPE);
  }
  const std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  if (size > cap) return ReadFailure{ReadFailure::kTooLarge, ERROR_FILE_TOO_LARGE};

  // Read to the end, which may come before or after the size just seen; one
  // byte past the cap is enough to know that a growing file is too large.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > cap) return ReadFailure{ReadFailure::kTooLarge, ERROR_FILE_TOO_LARGE};
      bytes.resize(static_cast<std::size_t>(
          std::min<std::uint64_t>(cap + 1, std::max<std::uint64_t>(bytes.size() * 2, 4096))));
    }
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1 << 20));
    if (!ReadFile(f.get(), bytes.data() + got, want, &n, nullptr)) {
      return unreadable(GetLastError());
    }
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace zt::win
