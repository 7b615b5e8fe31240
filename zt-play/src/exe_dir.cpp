#include "exe_dir.h"

#include <system_error>

namespace zt {

std::optional<std::filesystem::path> executable_dir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || !exe.has_parent_path()) return std::nullopt;
  return exe.parent_path();
}

}  // namespace zt
