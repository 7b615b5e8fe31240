// Where the running program lives: the data directory and a SoundFont are
// also looked for beside it.
#pragma once

#include <filesystem>
#include <optional>

namespace zt {

// The directory of the running executable, from /proc/self/exe.
std::optional<std::filesystem::path> executable_dir();

}  // namespace zt
