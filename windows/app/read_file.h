// Every whole-file read of the program's own files: opened without waiting
// for a writer, taken only when it is a file on a disk (a pipe, a device or a
// directory counts as unreadable), and refused at once when it is larger than
// the cap fitted to its kind.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace zt::win {

struct ReadFailure {
  enum Kind {
    kMissing,     // no such file or folder
    kUnreadable,  // there, but it could not be opened or read, or is no disk file
    kTooLarge,    // over the cap
  };
  Kind kind = kMissing;
  std::uint32_t code = 0;  // the system's error number
};

using ReadResult = std::variant<std::vector<std::uint8_t>, ReadFailure>;

ReadResult read_whole_file(const std::wstring& path, std::uint64_t cap);

}  // namespace zt::win
