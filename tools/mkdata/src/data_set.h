// Everything the data directory holds, built in memory, and its writing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace zt::mkdata {

using Bytes = std::vector<std::uint8_t>;

struct NamedFile {
  std::string name;
  Bytes data;
};

struct DataSet {
  std::vector<NamedFile> images;  // the 20 bitmaps, archive order
  std::vector<NamedFile> sounds;  // the 7 clips, archive order
  Bytes title_mid;
  Bytes stage_mid;
  Bytes demo;  // "Rec/Rec0.dat", the title screen's demonstration
};

// Nothing when a bitmap could not be encoded or the demonstration could not
// be recorded.
std::optional<DataSet> build_data_set();

// The archive of the files, byte-pair encoded, or the writer's error text.
std::variant<Bytes, std::string> pack_archive(const std::vector<NamedFile>& files);

// Writes "images.qda", "sounds.qda", "title.mid", "stage.mid" and the "Rec"
// directory with the demonstration into dir (created when missing). An error
// text on failure.
std::optional<std::string> write_data_dir(const std::filesystem::path& dir, const DataSet& data);

// Writes bytes to a file, replacing it; false on failure.
bool write_file(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace zt::mkdata
