#include "replace_file.h"

#include <algorithm>
#include <utility>

#include "formats/temp_file.h"

namespace zt::win {
namespace {

constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

WriteError last_error() {
  return WriteError{GetLastError()};
}

// The path the handle's file has, through every link; empty when unknown.
std::wstring handle_path(HANDLE h) {
  std::wstring out(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= out.size()) {
    out.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  if (n == 0 || n >= out.size()) return {};
  out.resize(n);
  return out;
}

// The file a path leads to through any links, when it exists; the path as
// given otherwise.
std::wstring final_path(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return path;
  std::wstring out = handle_path(h);
  CloseHandle(h);
  if (out.empty()) return path;
  // A short path loses its \\?\ prefix, which the ANSI functions do not take.
  if (out.rfind(L"\\\\?\\", 0) == 0 && out.size() >= 7 && out[5] == L':' && out.size() < MAX_PATH) {
    out.erase(0, 4);
  }
  return out;
}

// Checks the old file and finds where its temporary file goes.
std::variant<std::pair<std::wstring, std::wstring>, WriteError> plan(const std::wstring& path) {
  std::wstring target = final_path(path);
  const DWORD a = GetFileAttributesW(target.c_str());
  if (a != INVALID_FILE_ATTRIBUTES &&
      (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return WriteError{ERROR_ACCESS_DENIED};
  }
  const std::size_t slash = target.find_last_of(L"\\/:");
  const std::wstring dir = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
  return std::pair{std::move(target),
                   dir + L"." + name + L"." + std::to_wstring(GetCurrentProcessId()) + L"."};
}

// The lock on the one byte of formats/temp_file.h: exclusive for the writer
// of a temporary file, shared for a clean-up that only asks whether anyone
// holds it. Under Wine it is the system's record lock, which the Linux
// program sees too.
bool lock_temp_file(HANDLE h, bool exclusive) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(kTempFileLockOffset);
  at.OffsetHigh = static_cast<DWORD>(kTempFileLockOffset >> 32);
  return LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0), 0, 1,
                    0, &at) != 0;
}

std::uint64_t ticks(const FILETIME& t) {
  return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

// Whether the opened file is a temporary file that nobody may still write: a
// file on a disk, under exactly the expected path (a link, which Wine opens
// as the file it leads to, has another), with no second name, that no
// process holds locked and that was last written long enough ago.
bool stale_temporary(HANDLE h, const std::wstring& expected_path, std::uint64_t now) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      info.nNumberOfLinks != 1) {
    return false;
  }
  const std::wstring path = handle_path(h);
  if (path.empty() ||
      CompareStringOrdinal(path.c_str(), -1, expected_path.c_str(), -1, TRUE) != CSTR_EQUAL) {
    return false;
  }
  if (!lock_temp_file(h, false)) return false;
  // Timed after the lock: a file a writer has only just created is new.
  constexpr std::uint64_t kTicksPerSecond = 10000000;  // 100 ns units
  return GetFileInformationByHandle(h, &info) &&
         ticks(info.ftLastWriteTime) +
                 static_cast<std::uint64_t>(kStaleTempFileSeconds) * kTicksPerSecond <=
             now;
}

// A decimal number as the scheme writes it: digits, no leading zero.
std::optional<std::uint64_t> scheme_number(std::wstring_view digits) {
  if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == L'0')) {
    return std::nullopt;
  }
  std::uint64_t v = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return v;
}

// The process id in ".NAME.PID.N.tmp" when NAME is one of ours.
std::optional<DWORD> temporary_owner(std::wstring_view file,
                                     const std::function<bool(std::wstring_view)>& ours) {
  constexpr std::wstring_view kEnd = L".tmp";
  if (file.size() <= 1 + kEnd.size() || file[0] != L'.' ||
      file.substr(file.size() - kEnd.size()) != kEnd) {
    return std::nullopt;
  }
  std::wstring_view rest = file.substr(1, file.size() - 1 - kEnd.size());
  const std::size_t serial_dot = rest.rfind(L'.');
  if (serial_dot == std::wstring_view::npos || !scheme_number(rest.substr(serial_dot + 1))) {
    return std::nullopt;
  }
  rest = rest.substr(0, serial_dot);
  const std::size_t pid_dot = rest.rfind(L'.');
  if (pid_dot == std::wstring_view::npos || pid_dot == 0) return std::nullopt;
  const std::optional<std::uint64_t> pid = scheme_number(rest.substr(pid_dot + 1));
  if (!pid || *pid > 0xFFFFFFFFu || !ours(rest.substr(0, pid_dot))) return std::nullopt;
  return static_cast<DWORD>(*pid);
}

// Whether no process of that id runs: there is none, or it has ended. A
// process this one may not look at still runs.
bool process_gone(DWORD pid) {
  if (pid == GetCurrentProcessId()) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (h == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return ended;
}

}  // namespace

std::variant<FileReplacement, WriteError> FileReplacement::begin(const std::wstring& path) {
  auto planned = plan(path);
  if (const WriteError* e = std::get_if<WriteError>(&planned)) return *e;
  auto& [target, stem] = std::get<std::pair<std::wstring, std::wstring>>(planned);
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring temp = stem + std::to_wstring(++serial) + L".tmp";
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      // Held until the handle closes. Where the file system keeps no locks
      // the file is still written, and no clean-up will take it.
      lock_temp_file(h, true);
      return FileReplacement(std::move(target), std::move(temp), h);
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return last_error();
  }
  return WriteError{ERROR_FILE_EXISTS};
}

std::variant<FileReplacement, WriteError> FileReplacement::begin_copy(const std::wstring& path) {
  auto begun = begin(path);
  FileReplacement* r = std::get_if<FileReplacement>(&begun);
  if (r == nullptr) return begun;
  CloseHandle(std::exchange(r->handle_, INVALID_HANDLE_VALUE));
  if (GetFileAttributesW(r->target_.c_str()) != INVALID_FILE_ATTRIBUTES &&
      !CopyFileW(r->target_.c_str(), r->temp_.c_str(), FALSE)) {
    return last_error();
  }
  return begun;
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::exchange(other.temp_, {})),
      handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}

FileReplacement& FileReplacement::operator=(FileReplacement&& other) noexcept {
  if (this != &other) {
    discard();
    target_ = std::move(other.target_);
    temp_ = std::exchange(other.temp_, {});
    handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
  }
  return *this;
}

FileReplacement::~FileReplacement() {
  discard();
}

void FileReplacement::discard() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
  if (!temp_.empty()) DeleteFileW(temp_.c_str());
  temp_.clear();
}

std::optional<WriteError> FileReplacement::write(std::string_view bytes) {
  if (handle_ == INVALID_HANDLE_VALUE) return WriteError{ERROR_INVALID_HANDLE};
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(handle_, bytes.data() + done, chunk, &written, nullptr)) return last_error();
    if (written == 0) return WriteError{ERROR_DISK_FULL};
    done += written;
  }
  return std::nullopt;
}

std::optional<WriteError> FileReplacement::commit() {
  if (temp_.empty()) return WriteError{ERROR_INVALID_HANDLE};
  // A file edited by name is opened once more to reach the disk.
  if (handle_ == INVALID_HANDLE_VALUE) {
    handle_ = CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::optional<WriteError> error;
  if (handle_ == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle_)) error = last_error();
  if (handle_ != INVALID_HANDLE_VALUE &&
      !CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) && !error) {
    error = last_error();
  }
  if (!error) {
    const DWORD old = GetFileAttributesW(target_.c_str());
    if (old == INVALID_FILE_ATTRIBUTES) {
      if (!MoveFileExW(temp_.c_str(), target_.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = last_error();
      }
    } else {
      // ReplaceFileW keeps the attributes on Windows; Wine's does not.
      const DWORD keep = old & kKeptAttributes;
      SetFileAttributesW(temp_.c_str(), keep != 0 ? keep : FILE_ATTRIBUTE_NORMAL);
      if (!ReplaceFileW(target_.c_str(), temp_.c_str(), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                        nullptr)) {
        error = last_error();
        // These two leave the old file moved away: the new one must not be lost too.
        if (error->code == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
            error->code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
          if (MoveFileExW(temp_.c_str(), target_.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error.reset();
          }
          temp_.clear();
        }
      }
    }
  }
  if (error) {
    discard();
    return error;
  }
  temp_.clear();
  return std::nullopt;
}

std::optional<WriteError> replace_file(const std::wstring& path, std::string_view bytes) {
  auto begun = FileReplacement::begin(path);
  if (const WriteError* e = std::get_if<WriteError>(&begun)) return *e;
  FileReplacement& r = std::get<FileReplacement>(begun);
  if (auto e = r.write(bytes)) return e;
  return r.commit();
}

std::variant<std::int64_t, WriteError> write_new_file(
    const std::function<std::wstring(std::int64_t)>& name, std::int64_t first, std::int64_t tries,
    std::string_view bytes) {
  for (std::int64_t k = first; k - first < tries; ++k) {
    const std::wstring path = name(k);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      // Taken: a file, a folder (refused as denied) or anything else there.
      if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ||
          (e == ERROR_ACCESS_DENIED &&
           GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)) {
        continue;
      }
      return WriteError{e};
    }
    std::optional<WriteError> error;
    std::size_t done = 0;
    while (!error && done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
      DWORD written = 0;
      if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr)) {
        error = last_error();
      } else if (written == 0) {
        error = WriteError{ERROR_DISK_FULL};
      }
      done += written;
    }
    if (!error && !FlushFileBuffers(h)) error = last_error();
    if (!CloseHandle(h) && !error) error = last_error();
    if (error) {
      DeleteFileW(path.c_str());
      return *error;
    }
    return k;
  }
  return WriteError{ERROR_FILE_EXISTS};
}

void remove_stale_temporaries(const std::wstring& folder,
                              const std::function<bool(std::wstring_view)>& ours) {
  // The folder's own path, through any links, which every file removed from
  // it must have.
  HANDLE dir = CreateFileW(folder.empty() ? L"." : folder.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return;
  std::wstring dir_path = handle_path(dir);
  CloseHandle(dir);
  if (dir_path.empty()) return;
  if (dir_path.back() != L'\\') dir_path.push_back(L'\\');

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L".*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME now_ft;
  GetSystemTimeAsFileTime(&now_ft);
  const std::uint64_t now = ticks(now_ft);
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::optional<DWORD> pid = temporary_owner(found.cFileName, ours);
    if (!pid || !process_gone(*pid)) continue;
    // Opened with no sharing, so a file that a process here holds open stays;
    // the lock tells of the Linux program's. Deleted through this very handle
    // once it is known to be the temporary file itself.
    const std::wstring path = folder + found.cFileName;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    if (stale_temporary(h, dir_path + found.cFileName, now)) {
      FILE_DISPOSITION_INFO remove{};
      remove.DeleteFile = TRUE;
      SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove);
    }
    CloseHandle(h);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace zt::win
