#include "data_set.h"

#include <fstream>
#include <system_error>

#include "demo.h"
#include "formats/bmp.h"
#include "music.h"
#include "palette.h"
#include "qda_writer.h"
#include "sheets.h"
#include "sounds.h"

namespace zt::mkdata {

std::optional<DataSet> build_data_set() {
  DataSet d;
  for (Sheet& s : build_sheets()) {
    auto bytes = bmp::bmp_indexed_bytes(s.image.w, s.image.h, s.image.px, master_palette());
    if (!bytes) return std::nullopt;
    d.images.push_back({s.name, std::move(*bytes)});
  }
  for (Clip& c : build_clips()) d.sounds.push_back({c.name, std::move(c.wav)});
  d.title_mid = title_song();
  d.stage_mid = stage_song();
  std::optional<Bytes> demo = record_demo();
  if (!demo) return std::nullopt;
  d.demo = std::move(*demo);
  return d;
}

std::variant<Bytes, std::string> pack_archive(const std::vector<NamedFile>& files) {
  std::vector<zt::tools::QdaMember> members;
  for (const NamedFile& f : files) members.push_back({f.name, f.data});
  auto packed = zt::tools::write_qda(members, true);
  if (auto* error = std::get_if<zt::tools::QdaWriteError>(&packed)) return error->message;
  return std::get<Bytes>(std::move(packed));
}

bool write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::optional<std::string> write_data_dir(const std::filesystem::path& dir, const DataSet& data) {
  std::error_code ec;
  std::filesystem::create_directories(dir / "Rec", ec);
  if (ec) return "could not create " + (dir / "Rec").string() + ": " + ec.message();
  auto images = pack_archive(data.images);
  if (auto* error = std::get_if<std::string>(&images)) return "images.qda: " + *error;
  auto sounds = pack_archive(data.sounds);
  if (auto* error = std::get_if<std::string>(&sounds)) return "sounds.qda: " + *error;
  const std::pair<const char*, Bytes> files[] = {
      {"images.qda", std::get<Bytes>(std::move(images))},
      {"sounds.qda", std::get<Bytes>(std::move(sounds))},
      {"title.mid", data.title_mid},
      {"stage.mid", data.stage_mid},
  };
  for (const auto& [name, bytes] : files)
    if (!write_file(dir / name, bytes)) return "could not write " + (dir / name).string();
  if (!write_file(dir / "Rec" / "Rec0.dat", data.demo))
    return "could not write " + (dir / "Rec" / "Rec0.dat").string();
  return std::nullopt;
}

}  // namespace zt::mkdata
