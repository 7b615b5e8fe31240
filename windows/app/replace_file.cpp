#include "replace_file.h"

#include <algorithm>
#include <utility>

namespace zt::win {
namespace {

constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

WriteError last_error() {
  return WriteError{GetLastError()};
}

// The file a path leads to through any links, when it exists; the path as
// given otherwise.
std::wstring final_path(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return path;
  std::wstring out(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= out.size()) {
    out.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  CloseHandle(h);
  if (n == 0 || n >= out.size()) return path;
  out.resize(n);
  // A short path loses its \\?\ prefix, which the ANSI functions do not take.
  if (out.rfind(L"\\\\?\\", 0) == 0 && out.size() >= 7 && out[5] == L':' && n < MAX_PATH) {
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
    if (h != INVALID_HANDLE_VALUE) return FileReplacement(std::move(target), std::move(temp), h);
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

}  // namespace zt::win
