// Any bytes as a MIDI file: the reader must refuse or accept them without
// reading outside them or holding more than a song may, what it accepts must
// hold together, and its plain form must read back as the same song.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <tuple>
#include <vector>

#include "formats/midifile.h"
#include "formats/plain_midi.h"

namespace {

// Channel messages, SysEx and tempo (as timed) at their ticks and times.
using Played = std::tuple<std::uint64_t, std::uint64_t, int, int, int, std::uint32_t, std::size_t>;
std::vector<Played> played(const zt::MidiFile& f) {
  std::vector<Played> out;
  for (const zt::TimedEvent& te : zt::merge_tracks(f).events) {
    const zt::MidiEvent& e = te.event;
    if (e.is_channel()) {
      out.emplace_back(e.tick, te.micros, e.status, e.data1, e.data2, 0, 0);
    } else if (e.kind == zt::MidiEventKind::kSysEx) {
      out.emplace_back(e.tick, te.micros, 0xF0, 0, 0, 0, e.length);
    } else if (e.is_tempo()) {
      out.emplace_back(e.tick, te.micros, 0xFF, 0, 0, std::max<std::uint32_t>(e.tempo, 1), 0);
    }
  }
  return out;
}

// The busiest window of the repeated song, counted the slow way.
std::size_t busiest_window(std::span<const std::uint64_t> t, std::uint64_t period) {
  std::size_t most = 0;
  const std::uint64_t passes = zt::kSongWindowMicros / period + 2;
  for (std::uint64_t start : t) {
    std::size_t n = 0;
    for (std::uint64_t p = 0; p < passes; ++p) {
      for (std::uint64_t u : t) {
        const std::uint64_t at = u + p * period;
        if (at >= start && at - start < zt::kSongWindowMicros) ++n;
      }
    }
    most = std::max(most, n);
  }
  return most;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const zt::MidiParseResult r = zt::parse_midi_file(std::span<const std::uint8_t>(data, size));
  if (!r) {
    if (r.error.offset > size) std::abort();
    return 0;
  }
  const zt::MidiFile& f = *r.file;
  std::size_t events = 0;
  for (const zt::MidiTrack& t : f.tracks) {
    std::uint64_t tick = 0;
    events += t.events.size();
    for (const zt::MidiEvent& e : t.events) {
      if (e.tick < tick) std::abort();
      tick = e.tick;
      if (e.offset > size || e.length > size - e.offset) std::abort();
      if (e.is_channel() && (e.data1 > 127 || e.data2 > 127)) std::abort();
    }
  }
  if (events > zt::kMaxSongEvents) std::abort();
  const zt::MidiTimeline line = zt::merge_tracks(f);
  std::uint64_t tick = 0, micros = 0;
  std::vector<std::uint64_t> times;
  for (const zt::TimedEvent& te : line.events) {
    if (te.event.tick < tick || te.micros < micros) std::abort();
    tick = te.event.tick;
    micros = te.micros;
    times.push_back(te.micros);
  }
  // What the backends refuse to load: a song they would accept must reach
  // past its start on the timeline they play, or repeating it never ends.
  if (zt::song_advances(f) != (tick > 0)) std::abort();
  const bool refused = zt::song_refusal(f, line).has_value();
  if (!zt::song_advances(f) && !refused) std::abort();
  if (zt::song_advances(f) && micros > 0 && times.size() <= 24 &&
      zt::kSongWindowMicros / micros < 200) {
    const bool dense = busiest_window(times, micros) > zt::kMaxEventsPerWindow;
    if (dense != zt::song_too_dense(times, micros) || (dense && !refused)) std::abort();
  }
  for (std::size_t i = 0; i < f.tracks.size() && i < 64; ++i) zt::track_timeline(f, i);

  // The plain form, with few tracks allowed so that merging is tried too:
  // the same song to our reader, and its own plain form.
  if (f.division.timecode) return 0;
  const std::optional<std::vector<std::uint8_t>> plain = zt::write_plain_midi(f, 3);
  if (!plain) std::abort();
  const zt::MidiParseResult back = zt::parse_midi_file(*plain);
  // Ends of track and bridges of long gaps are added: that may pass the bound.
  if (!back && back.error.code == zt::MidiError::kTooManyEvents) return 0;
  if (!back || back.file->tracks.size() > 3 || played(*back.file) != played(f)) std::abort();
  if (zt::write_plain_midi(*back.file, 3) != plain) std::abort();
  return 0;
}
