#include "formats/plain_midi.h"

#include <algorithm>
#include <span>

namespace zt {

namespace {

class PlainWriter {
 public:
  explicit PlainWriter(const MidiFile& file) : file_(file) {}

  std::vector<std::uint8_t>& out() { return out_; }

  void header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
    put("MThd");
    put_be32(6);
    put_be16(format);
    put_be16(tracks);
    put_be16(division);
  }

  // Opens a track chunk; its length is filled in by end_track.
  void begin_track() {
    put("MTrk");
    length_at_ = out_.size();
    put_be32(0);
    tick_ = 0;
  }

  void event(const MidiEvent& e) {
    if (e.is_channel()) {
      delta(e.tick);
      out_.push_back(e.status);
      out_.push_back(e.data1);
      if (e.message_size() == 3) out_.push_back(e.data2);
    } else if (e.kind == MidiEventKind::kSysEx) {
      delta(e.tick);
      out_.push_back(0xF0);
      const std::span<const std::uint8_t> data = file_.data(e);
      number(static_cast<std::uint32_t>(data.size()));
      out_.insert(out_.end(), data.begin(), data.end());
    } else if (e.is_tempo()) {
      const std::uint32_t tempo = std::max<std::uint32_t>(e.tempo, 1);
      delta(e.tick);
      out_.insert(out_.end(),
                  {0xFF, kMetaTempo, 3, static_cast<std::uint8_t>(tempo >> 16),
                   static_cast<std::uint8_t>(tempo >> 8), static_cast<std::uint8_t>(tempo)});
    }
  }

  void end_track(std::uint64_t end_tick) {
    delta(end_tick);
    out_.insert(out_.end(), {0xFF, kMetaEndOfTrack, 0});
    const auto length = static_cast<std::uint32_t>(out_.size() - length_at_ - 4);
    for (int i = 0; i < 4; ++i) {
      out_[length_at_ + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
  }

 private:
  void put(const char (&tag)[5]) { out_.insert(out_.end(), tag, tag + 4); }
  void put_be16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    out_.push_back(static_cast<std::uint8_t>(v));
  }
  void put_be32(std::uint32_t v) {
    put_be16(static_cast<std::uint16_t>(v >> 16));
    put_be16(static_cast<std::uint16_t>(v));
  }
  void number(std::uint32_t v) {
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = v & 0x7F;
    while ((v >>= 7) != 0) bytes[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n > 0) out_.push_back(bytes[--n]);
  }
  // Events left out may leave a gap longer than one delta can say (2^28
  // ticks); empty text events, which sound nothing, bridge it.
  void delta(std::uint64_t tick) {
    while (tick - tick_ > kMaxDelta) {
      number(kMaxDelta);
      out_.insert(out_.end(), {0xFF, 0x01, 0});
      tick_ += kMaxDelta;
    }
    number(static_cast<std::uint32_t>(tick - tick_));
    tick_ = tick;
  }

  static constexpr std::uint32_t kMaxDelta = 0x0FFFFFFF;

  const MidiFile& file_;
  std::vector<std::uint8_t> out_;
  std::size_t length_at_ = 0;
  std::uint64_t tick_ = 0;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> write_plain_midi(const MidiFile& file,
                                                          std::size_t max_tracks) {
  if (file.division.timecode) return std::nullopt;
  const auto division = std::max<std::uint16_t>(file.division.ticks_per_quarter, 1);
  PlainWriter w(file);
  const std::size_t count = file.tracks.size();
  if (count <= max_tracks) {
    w.header(count == 1 ? 0 : 1, static_cast<std::uint16_t>(count), division);
    for (const MidiTrack& t : file.tracks) {
      w.begin_track();
      for (const MidiEvent& e : t.events) w.event(e);
      w.end_track(t.end_tick);
    }
    return std::move(w.out());
  }
  w.header(0, 1, division);
  w.begin_track();
  std::uint64_t end_tick = 0;
  for (const TimedEvent& te : merge_tracks(file).events) {
    w.event(te.event);
    end_tick = std::max(end_tick, te.event.tick);
  }
  w.end_track(end_tick);
  return std::move(w.out());
}

}  // namespace zt
