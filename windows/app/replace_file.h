// Every write that replaces a file the player owns: the new bytes go into a
// temporary file beside the old one, are flushed to the disk, and the
// temporary file then takes the old one's place in one step. A failure or a
// crash at any point leaves the old file or the new one, never a part of
// either.
//
// While it is open the temporary file is held under the lock that start-up
// clean-ups of both programs respect (formats/temp_file.h).
//
// A link (a symbolic link or a junction) stays a link: the file it leads to
// is the one replaced. A replaced file keeps its attributes and its security
// (ReplaceFileW); a read-only one is refused as writing into it would be. A
// new file is moved into place with MOVEFILE_WRITE_THROUGH.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zt::win {

// The failure of a write: the system's error number.
struct WriteError {
  std::uint32_t code = 0;
};

class FileReplacement {
 public:
  // Creates the temporary file, empty and open for writing.
  static std::variant<FileReplacement, WriteError> begin(const std::wstring& path);
  // Creates the temporary file as a copy of the old one (empty when there is
  // none) and leaves it closed, for routines that edit a file by its name,
  // such as the system's INI functions.
  static std::variant<FileReplacement, WriteError> begin_copy(const std::wstring& path);

  FileReplacement(FileReplacement&& other) noexcept;
  FileReplacement& operator=(FileReplacement&& other) noexcept;
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  // Without a commit the temporary file is deleted and the old one stands.
  ~FileReplacement();

  const std::wstring& temp_path() const { return temp_; }
  // The temporary file's handle; INVALID_HANDLE_VALUE once closed.
  HANDLE handle() const { return handle_; }
  std::optional<WriteError> write(std::string_view bytes);
  // Flushes the temporary file and puts it in the old file's place. On
  // failure the temporary file is deleted and the old file stands.
  std::optional<WriteError> commit();

 private:
  FileReplacement(std::wstring target, std::wstring temp, HANDLE handle)
      : target_(std::move(target)), temp_(std::move(temp)), handle_(handle) {}
  void discard();

  std::wstring target_;  // where a link, if any, leads
  std::wstring temp_;    // empty once committed or discarded
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Replaces the file with the bytes through a FileReplacement.
std::optional<WriteError> replace_file(const std::wstring& path, std::string_view bytes);

// Writes the bytes as a new file under the first of name(first),
// name(first + 1), ... that is free, trying at most `tries` names, and
// flushes it. Each name is created exclusively: an existing file is never
// replaced. The number of the name used. A failed write removes what it had
// created.
std::variant<std::int64_t, WriteError> write_new_file(
    const std::function<std::wstring(std::int64_t)>& name, std::int64_t first, std::int64_t tries,
    std::string_view bytes);

// Removes from the folder (empty: the current one; else ending in "\") the
// temporary files that replacements of files named as `ours` accepts were
// left with by a process that was ended before it could clean up. Only exact
// names of the scheme count, only of processes that no longer run here, only
// files in the folder itself (the opened file's final path is the name in
// the folder: a link, which Wine opens as what it leads to, stays, and so
// does a file with a second name), that nobody here holds open, that no
// process holds locked (formats/temp_file.h) and that were last written more
// than a minute ago: a program whose processes this one cannot see (the
// Linux program on the same folder) uses the same names and the same lock.
void remove_stale_temporaries(const std::wstring& folder,
                              const std::function<bool(std::wstring_view)>& ours);

}  // namespace zt::win
