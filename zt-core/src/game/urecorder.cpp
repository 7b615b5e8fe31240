#include "game/urecorder.h"

#include <algorithm>
#include <vector>

namespace zt {
namespace {

std::vector<std::uint8_t> bytes_of(const Frame& f) {
  const auto raw = f.encode();
  return {raw.begin(), raw.end()};
}

}  // namespace

void TRecorder::fail(RecorderIo& io) {
  io.close();
  open_ = false;
  failed_ = true;
}

void TRecorder::start_record(std::int32_t n, RecorderIo& io) {
  slot_ = n;
  state_ = RecState::Recording;
  if (io.open_for_write(n)) {
    fail(io);
    return;
  }
  open_ = true;
  if (io.write(std::vector<std::uint8_t>(RecHeaderRaw::kSize, 0))) {
    fail(io);
  } else {
    failed_ = false;
  }
}

void TRecorder::write_frame(std::int32_t x, std::int32_t y, RecorderIo& io) {
  if (!open_ || state_ != RecState::Recording) return;
  if (io.write(bytes_of({x, y}))) fail(io);
}

void TRecorder::start_play(std::int32_t n, RecorderIo& io) {
  state_ = RecState::Playing;
  slot_ = n;
  failed_ = false;
  if (io.open_for_read(n)) {
    fail(io);
    return;
  }
  open_ = true;
  if (io.seek_from_end(-static_cast<std::int64_t>(Frame::kSize))) {
    fail(io);
    return;
  }
  const auto last = io.read(Frame::kSize);
  if (!last || io.seek_from_start(static_cast<std::int64_t>(RecHeaderRaw::kSize))) {
    fail(io);
    return;
  }
  if (!Frame::decode(std::span<const std::uint8_t, Frame::kSize>(last->data(), Frame::kSize))
           .is_end()) {
    fail(io);
  }
}

Frame TRecorder::read_frame(RecorderIo& io) {
  if (!open_ || state_ != RecState::Playing) return {};
  const auto bytes = io.read(Frame::kSize);
  if (!bytes || bytes->size() != Frame::kSize) {
    fail(io);
    return {};
  }
  return Frame::decode(std::span<const std::uint8_t, Frame::kSize>(bytes->data(), Frame::kSize));
}

bool TRecorder::finish_record(const RecHeaderRaw& header, RecorderIo& io) {
  if (state_ != RecState::Recording) return false;
  bool failed = false;
  if (open_ && !failed_) {
    const auto raw = header.encode();
    failed = io.write(bytes_of(Frame::end())) || io.seek_from_start(0) ||
             io.write(std::vector<std::uint8_t>(raw.begin(), raw.end())) || io.commit();
  }
  close(io);
  return failed;
}

void TRecorder::close(RecorderIo& io) {
  if (state_ == RecState::Idle) return;
  io.close();
  open_ = false;
  failed_ = false;
  state_ = RecState::Idle;
}

HeaderRead TRecorder::read_header(std::int32_t n, RecHeaderRaw& header, RecorderIo& io) {
  if (state_ != RecState::Idle || !io.file_exists(n)) return HeaderRead::NotRead;
  if (io.open_for_read(n)) {
    io.close();
    open_ = false;
    return HeaderRead::Failed;
  }
  open_ = true;
  const auto bytes = io.read(RecHeaderRaw::kSize);
  io.close();
  open_ = false;
  if (!bytes || bytes->size() != RecHeaderRaw::kSize) return HeaderRead::Failed;
  header = RecHeaderRaw::decode(
      std::span<const std::uint8_t, RecHeaderRaw::kSize>(bytes->data(), RecHeaderRaw::kSize));
  return HeaderRead::Read;
}

bool TRecorder::write_header(std::int32_t n, const RecHeaderRaw& header, RecorderIo& io) {
  if (state_ != RecState::Idle) return false;
  if (io.open_for_read(n)) return true;
  // A replay the player may read but not write keeps its header: nothing failed.
  if (io.read_only()) {
    io.close();
    return false;
  }
  open_ = true;
  const auto raw = header.encode();
  const bool failed = io.write(std::vector<std::uint8_t>(raw.begin(), raw.end()));
  io.close();
  open_ = false;
  return failed;
}

bool TRecorder::valid_slot(std::int32_t n, RecorderIo& io) {
  RecHeaderRaw header;
  return read_header(n, header, io) == HeaderRead::Read &&
         header.format_mark >= RecHeaderRaw::kMinValidMark;
}

RecHeaderRaw make_rec_header(double date, std::string_view player_name, const PlayResult& result) {
  RecHeaderRaw h;
  h.date = date;
  const std::size_t len = std::min(player_name.size(), RecHeaderRaw::kNameMax);
  h.name_length = static_cast<std::uint8_t>(len);
  std::copy(player_name.begin(), player_name.begin() + static_cast<std::ptrdiff_t>(len),
            h.name.begin());
  h.score = result.score;
  h.max_combo = result.max_combo;
  h.destroyed = result.destroyed;
  h.format_mark = RecHeaderRaw::kFormatMark;
  return h;
}

}  // namespace zt
