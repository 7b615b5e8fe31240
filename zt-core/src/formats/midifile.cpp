#include "formats/midifile.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <numeric>

namespace zt {

std::string_view midi_error_text(MidiError e) {
  switch (e) {
    case MidiError::kNotMidi:
      return "not a MIDI file";
    case MidiError::kBadHeader:
      return "bad MIDI file header";
    case MidiError::kBadDivision:
      return "bad time division";
    case MidiError::kTruncated:
      return "truncated MIDI data";
    case MidiError::kBadNumber:
      return "variable-length number longer than 4 bytes";
    case MidiError::kNoStatus:
      return "data byte without a status";
    case MidiError::kBadData:
      return "bad data byte in a channel message";
    case MidiError::kBadStatus:
      return "bad status byte";
    case MidiError::kBadTempo:
      return "tempo event shorter than 3 bytes";
    case MidiError::kMissingTracks:
      return "fewer tracks than the header announces";
    case MidiError::kTooManyEvents:
      static_assert(kMaxSongEvents == 100'000, "the text names the bound");
      return "more than 100000 events";
  }
  return "bad MIDI file";
}

std::string midi_error_text(const MidiParseError& e) {
  return std::string(midi_error_text(e.code)) + " at byte " + std::to_string(e.offset);
}

// Reads one file; every read is bounded by `end` of the chunk being read.
struct MidiReader {
  std::span<const std::uint8_t> in;
  MidiFile file;
  MidiParseError error;
  std::size_t events = 0;  // of all tracks so far

  bool fail(MidiError code, std::size_t at) {
    error = {code, at};
    return false;
  }

  static std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
  }
  static std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
  }

  bool read_number(std::size_t& pos, std::size_t end, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
      if (pos >= end) return fail(MidiError::kTruncated, pos);
      const std::uint8_t b = in[pos++];
      value = value << 7 | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return fail(MidiError::kBadNumber, pos - 1);
  }

  bool read_track(std::size_t pos, std::size_t end) {
    MidiTrack track;
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (pos < end) {
      MidiEvent e;
      if (!read_number(pos, end, e.delta)) return false;
      tick += e.delta;
      e.tick = tick;
      if (pos >= end) return fail(MidiError::kTruncated, pos);
      std::uint8_t status = in[pos];
      if (status < 0x80) {
        if (running == 0) return fail(MidiError::kNoStatus, pos);
        status = running;
      } else {
        ++pos;
      }
      e.status = status;
      if (status < 0xF0) {
        running = status;
        e.kind = MidiEventKind::kChannel;
        const std::size_t n = e.message_size() - 1;
        if (end - pos < n) return fail(MidiError::kTruncated, pos);
        for (std::size_t i = 0; i < n; ++i) {
          if (in[pos + i] & 0x80) return fail(MidiError::kBadData, pos + i);
        }
        e.data1 = in[pos];
        e.data2 = n == 2 ? in[pos + 1] : 0;
        pos += n;
      } else if (status == 0xF0 || status == 0xF7 || status == 0xFF) {
        if (status == 0xFF) {
          if (pos >= end) return fail(MidiError::kTruncated, pos);
          e.meta_type = in[pos++];
        }
        e.kind = status == 0xF0   ? MidiEventKind::kSysEx
                 : status == 0xF7 ? MidiEventKind::kEscape
                                  : MidiEventKind::kMeta;
        const std::size_t length_at = pos;
        if (!read_number(pos, end, e.length)) return false;
        if (end - pos < e.length) return fail(MidiError::kTruncated, length_at);
        e.offset = pos;
        pos += e.length;
        if (e.is_tempo()) {
          if (e.length < 3) return fail(MidiError::kBadTempo, e.offset);
          const std::uint8_t* p = in.data() + e.offset;
          e.tempo = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
        }
      } else {
        return fail(MidiError::kBadStatus, pos - 1);
      }
      if (++events > kMaxSongEvents) return fail(MidiError::kTooManyEvents, pos);
      track.events.push_back(e);
      track.end_tick = tick;
      if (e.is_meta(kMetaEndOfTrack)) {
        // What follows in the chunk is not part of the track.
        track.has_end_of_track = true;
        break;
      }
    }
    file.tracks.push_back(std::move(track));
    return true;
  }

  MidiFile take() {
    file.bytes_.assign(in.begin(), in.end());
    return std::move(file);
  }

  bool read() {
    if (in.size() < 4 || !std::equal(in.begin(), in.begin() + 4, "MThd")) {
      return fail(MidiError::kNotMidi, 0);
    }
    if (in.size() < 8) return fail(MidiError::kTruncated, 4);
    const std::uint32_t header_length = be32(&in[4]);
    if (header_length < 6) return fail(MidiError::kBadHeader, 4);
    if (in.size() - 8 < header_length) return fail(MidiError::kTruncated, 4);
    file.format = be16(&in[8]);
    if (file.format > 2) return fail(MidiError::kBadHeader, 8);
    const std::uint16_t track_count = be16(&in[10]);
    const std::uint16_t division = be16(&in[12]);
    if (division & 0x8000) {
      // The high byte is the negated frame rate.
      const int fps = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
      if (fps != 24 && fps != 25 && fps != 29 && fps != 30) {
        return fail(MidiError::kBadDivision, 12);
      }
      file.division.timecode = true;
      file.division.frames_per_second = static_cast<std::uint8_t>(fps);
      file.division.ticks_per_frame = static_cast<std::uint8_t>(division & 0xFF);
    } else {
      file.division.ticks_per_quarter = division;
    }

    std::size_t pos = 8 + std::size_t{header_length};
    while (file.tracks.size() < track_count) {
      if (pos == in.size()) return fail(MidiError::kMissingTracks, pos);
      if (in.size() - pos < 8) return fail(MidiError::kTruncated, pos);
      const std::uint32_t length = be32(&in[pos + 4]);
      const bool is_track = std::equal(in.begin() + static_cast<std::ptrdiff_t>(pos),
                                       in.begin() + static_cast<std::ptrdiff_t>(pos) + 4, "MTrk");
      const std::size_t body = pos + 8;
      if (in.size() - body < length) return fail(MidiError::kTruncated, pos + 4);
      // Chunks of other types are skipped.
      if (is_track && !read_track(body, body + length)) return false;
      pos = body + length;
    }
    return true;
  }
};

MidiParseResult parse_midi_file(std::span<const std::uint8_t> bytes) {
  MidiReader reader{bytes, {}, {}};
  MidiParseResult result;
  if (!reader.read()) {
    result.error = reader.error;
    return result;
  }
  result.file = reader.take();
  return result;
}

namespace {

constexpr std::uint64_t kMaxMicros = std::numeric_limits<std::uint64_t>::max();

std::uint64_t add_saturating(std::uint64_t a, std::uint64_t b) {
  return b > kMaxMicros - a ? kMaxMicros : a + b;
}

// floor(a * b / c) without a 128-bit product: a = q c + r gives q b + floor(r b / c).
// The callers keep r * b below 2^64 (c < 2^23 and b < 2^30).
std::uint64_t mul_div_saturating(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  const std::uint64_t q = a / c;
  const std::uint64_t r = a % c;
  if (b != 0 && q > kMaxMicros / b) return kMaxMicros;
  return add_saturating(q * b, r * b / c);
}

}  // namespace

TempoMap::TempoMap(const MidiFile& file) {
  std::vector<std::size_t> all(file.tracks.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  build(file, all);
}

TempoMap::TempoMap(const MidiFile& file, std::size_t track) {
  if (track < file.tracks.size()) {
    build(file, std::span<const std::size_t>(&track, 1));
  } else {
    build(file, {});
  }
}

std::uint64_t TempoMap::span_micros(std::uint64_t ticks, std::uint32_t tempo) const {
  if (division_.timecode) {
    // Ticks per second = ticks per frame * frames per second; 29 means 29.97.
    const std::uint64_t fps_thousandths =
        division_.frames_per_second == 29 ? 29970 : division_.frames_per_second * 1000u;
    const std::uint64_t per_frame = std::max<std::uint64_t>(division_.ticks_per_frame, 1);
    return mul_div_saturating(ticks, 1000000000u, per_frame * fps_thousandths);
  }
  // A division of 0 ticks per quarter is timed as 1, like a tempo of 0.
  return mul_div_saturating(ticks, std::max<std::uint32_t>(tempo, 1),
                            std::max<std::uint32_t>(division_.ticks_per_quarter, 1));
}

void TempoMap::build(const MidiFile& file, std::span<const std::size_t> tracks) {
  division_ = file.division;
  changes_.assign(1, Change{0, 0, kDefaultTempo});
  if (division_.timecode) return;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> tempos;
  for (std::size_t t : tracks) {
    for (const MidiEvent& e : file.tracks[t].events) {
      if (e.is_tempo()) tempos.emplace_back(e.tick, e.tempo);
    }
  }
  std::stable_sort(tempos.begin(), tempos.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [tick, tempo] : tempos) {
    Change& last = changes_.back();
    if (tick == last.tick) {
      last.tempo = tempo;
      continue;
    }
    const std::uint64_t micros =
        add_saturating(last.micros, span_micros(tick - last.tick, last.tempo));
    changes_.push_back({tick, micros, tempo});
  }
}

std::uint64_t TempoMap::micros_at(std::uint64_t tick) const {
  auto it = std::upper_bound(changes_.begin(), changes_.end(), tick,
                             [](std::uint64_t t, const Change& c) { return t < c.tick; });
  const Change& c = *std::prev(it);  // the first change is at tick 0
  return add_saturating(c.micros, span_micros(tick - c.tick, c.tempo));
}

namespace {

MidiTimeline build_timeline(const MidiFile& file, std::span<const std::size_t> tracks,
                            const TempoMap& tempo) {
  MidiTimeline line;
  std::size_t total = 0;
  for (std::size_t t : tracks) total += file.tracks[t].events.size();
  line.events.reserve(total);
  for (std::size_t t : tracks) {
    for (const MidiEvent& e : file.tracks[t].events) {
      line.events.push_back({e, 0, static_cast<std::uint16_t>(t)});
    }
  }
  std::stable_sort(
      line.events.begin(), line.events.end(),
      [](const TimedEvent& a, const TimedEvent& b) { return a.event.tick < b.event.tick; });
  for (TimedEvent& te : line.events) {
    te.micros = tempo.micros_at(te.event.tick);
    if (te.event.is_channel()) {
      ++line.channel_messages;
      line.last_channel_tick = te.event.tick;
      line.last_channel_micros = te.micros;
    }
  }
  return line;
}

}  // namespace

bool song_advances(const MidiFile& file) {
  return std::any_of(file.tracks.begin(), file.tracks.end(),
                     [](const MidiTrack& t) { return t.end_tick > 0; });
}

bool song_too_dense(std::span<const std::uint64_t> micros, std::uint64_t period_micros) {
  const std::size_t n = micros.size();
  // Event j of the endless repetition is event j % n of pass j / n.
  const auto time_of = [&](std::size_t j) {
    const std::uint64_t pass = j / n;
    const std::uint64_t offset =
        period_micros != 0 && pass > kMaxMicros / period_micros ? kMaxMicros : pass * period_micros;
    return add_saturating(micros[j % n], offset);
  };
  // The busiest window starts at an event; one pass gives every start there
  // is. Each window is counted only up to one event past the bound, so the
  // walk takes n + kMaxEventsPerWindow steps at most.
  std::size_t j = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t end = add_saturating(micros[i], kSongWindowMicros);
    j = std::max(j, i);
    while (j - i <= kMaxEventsPerWindow && time_of(j) < end) ++j;
    if (j - i > kMaxEventsPerWindow) return true;
  }
  return false;
}

std::string song_too_dense_text() {
  return "more than " + std::to_string(kMaxEventsPerWindow) + " events within " +
         std::to_string(kSongWindowMicros / 1000) + " ms";
}

MidiTimeline merge_tracks(const MidiFile& file) {
  std::vector<std::size_t> all(file.tracks.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  return build_timeline(file, all, TempoMap(file));
}

MidiTimeline track_timeline(const MidiFile& file, std::size_t track) {
  if (track >= file.tracks.size()) return {};
  return build_timeline(file, std::span<const std::size_t>(&track, 1), TempoMap(file, track));
}

std::optional<std::string> song_refusal(const MidiFile& file, const MidiTimeline& merged) {
  if (!song_advances(file)) return std::string(kSongNeverAdvancesText);
  std::vector<std::uint64_t> micros;
  micros.reserve(merged.events.size());
  for (const TimedEvent& te : merged.events) micros.push_back(te.micros);
  if (song_too_dense(micros, micros.back())) return song_too_dense_text();
  return std::nullopt;
}

}  // namespace zt
