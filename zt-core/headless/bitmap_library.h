// The bitmaps of a data directory's "images.qda", decoded, for the in-memory
// host: the replay checker and the tests that play on generated data.
#pragma once

#include <filesystem>
#include <optional>

#include "memory_host.h"

namespace zt {

// Every member of "images.qda" in the directory that decodes as an 8-bit
// bitmap, in archive order; nothing when the archive cannot be read.
std::optional<BitmapLibrary> load_bitmap_library(const std::filesystem::path& data_dir);

}  // namespace zt
