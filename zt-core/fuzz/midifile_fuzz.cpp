// Any bytes as a MIDI file: the reader must refuse or accept them without
// reading outside them, and what it accepts must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/midifile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const zt::MidiParseResult r = zt::parse_midi_file(std::span<const std::uint8_t>(data, size));
  if (!r) {
    if (r.error.offset > size) std::abort();
    return 0;
  }
  const zt::MidiFile& f = *r.file;
  for (const zt::MidiTrack& t : f.tracks) {
    std::uint64_t tick = 0;
    for (const zt::MidiEvent& e : t.events) {
      if (e.tick < tick) std::abort();
      tick = e.tick;
      if (e.offset > size || e.length > size - e.offset) std::abort();
      if (e.is_channel() && (e.data1 > 127 || e.data2 > 127)) std::abort();
    }
  }
  const zt::MidiTimeline line = zt::merge_tracks(f);
  std::uint64_t tick = 0, micros = 0;
  for (const zt::TimedEvent& te : line.events) {
    if (te.event.tick < tick || te.micros < micros) std::abort();
    tick = te.event.tick;
    micros = te.micros;
  }
  // What the backends refuse to load: a song they would accept must reach
  // past its start on the timeline they play, or repeating it never ends.
  if (zt::song_advances(f) != (tick > 0)) std::abort();
  for (std::size_t i = 0; i < f.tracks.size() && i < 64; ++i) zt::track_timeline(f, i);
  return 0;
}
