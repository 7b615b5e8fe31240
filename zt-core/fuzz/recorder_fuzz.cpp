// Any bytes as a replay file: the header reads, the replay runs to its end
// or fails, and writing the header back leaves the frames alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "game/urecorder.h"

namespace {

// One file, always slot 0, with the host's position rules.
class OneFile : public zt::RecorderIo {
 public:
  explicit OneFile(std::vector<std::uint8_t> bytes) : file(std::move(bytes)) {}
  std::vector<std::uint8_t> file;

  bool file_exists(std::int32_t slot) override { return slot == 0; }
  bool open_for_read(std::int32_t slot) override {
    if (slot != 0) return true;
    open_ = true;
    pos_ = 0;
    return false;
  }
  bool read_only() const override { return false; }
  bool seek_from_end(std::int64_t offset) override {
    const std::int64_t to = static_cast<std::int64_t>(file.size()) + offset;
    if (!open_ || to < 0) return true;
    pos_ = to;
    return false;
  }
  bool open_for_write(std::int32_t) override { return true; }
  bool seek_from_start(std::int64_t offset) override {
    if (!open_ || offset < 0) return true;
    pos_ = offset;
    return false;
  }
  std::optional<std::vector<std::uint8_t>> read(std::size_t length) override {
    if (!open_ ||
        static_cast<std::int64_t>(file.size()) - pos_ < static_cast<std::int64_t>(length)) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> out(file.begin() + pos_,
                                  file.begin() + pos_ + static_cast<std::int64_t>(length));
    pos_ += static_cast<std::int64_t>(length);
    return out;
  }
  void close() override { open_ = false; }
  bool write(const std::vector<std::uint8_t>& bytes) override {
    if (!open_) return true;
    const std::size_t end = static_cast<std::size_t>(pos_) + bytes.size();
    if (file.size() < end) file.resize(end);
    std::copy(bytes.begin(), bytes.end(), file.begin() + pos_);
    pos_ = static_cast<std::int64_t>(end);
    return false;
  }
  bool commit() override { return true; }

 private:
  bool open_ = false;
  std::int64_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OneFile io(std::vector<std::uint8_t>(data, data + size));
  zt::TRecorder rec;
  rec.valid_slot(0, io);

  rec.start_play(0, io);
  const std::size_t frames = size > 56 ? (size - 56) / 8 : 0;
  for (std::size_t i = 0; i <= frames && !rec.failed(); ++i) rec.read_frame(io);
  if (rec.state() != zt::RecState::Playing) std::abort();
  rec.close(io);

  zt::RecHeaderRaw header;
  if (rec.read_header(0, header, io) == zt::HeaderRead::Read) {
    header.score = header.score == 0 ? 1 : 0;
    if (rec.write_header(0, header, io)) std::abort();
    if (io.file.size() != size) std::abort();
    if (!std::equal(io.file.begin() + 56, io.file.end(), data + 56)) std::abort();
  }
  return 0;
}
