// Builds small Standard MIDI Files byte by byte for tests and fixtures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "formats/midifile.h"

namespace zt::test {

using Bytes = std::vector<std::uint8_t>;

// The variable-length form of a number below 2^28.
Bytes smf_number(std::uint32_t value);

// One track body. Each call writes the delta and the bytes exactly as given,
// so running status and malformed events are written the same way.
struct SmfTrack {
  Bytes body;

  SmfTrack& event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes);
  SmfTrack& meta(std::uint32_t delta, std::uint8_t type, const Bytes& data);
  SmfTrack& tempo(std::uint32_t delta, std::uint32_t micros_per_quarter);
  SmfTrack& sysex(std::uint32_t delta, std::uint8_t status, const Bytes& data);  // F0 or F7
  SmfTrack& end(std::uint32_t delta = 0);
  SmfTrack& raw(const Bytes& bytes);
};

Bytes smf_chunk(std::string_view type, const Bytes& body);
Bytes smf_header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division);
// Header announcing tracks.size() tracks, then one "MTrk" chunk per track.
Bytes smf_file(std::uint16_t format, std::uint16_t division, const std::vector<SmfTrack>& tracks);

// Songs in which nothing comes after tick 0, so that a repeating player
// would restart them for ever: no tracks; a lone end of track; 20,000 notes
// and their end, all at tick 0.
struct NamedSong {
  const char* name;
  Bytes bytes;
};
std::vector<NamedSong> never_advancing_songs();

// Small songs that our reader takes and a simpler reader may refuse, each
// with a plain file of the same song written by hand (a 6-byte header, track
// chunks only, every status byte written, escapes left out): a header chunk of
// 8 bytes, an unknown chunk before the track, running status right after a
// SysEx event, an F7 escape, 128 tracks, a tempo event of 4 bytes. Each plays
// a few notes over about a second.
struct SongShape {
  const char* name;
  Bytes bytes;
  Bytes plain;
};
std::vector<SongShape> unusual_song_shapes();

// Large songs within the 16 MiB file cap, built in memory.
// n note-ons on tick 0 in running status (3 bytes each), a note-off one tick
// later and the end of track a second after the start.
Bytes chord_on_tick_0(std::size_t notes);
// n notes one tick apart at tempo 1 and 32767 ticks a quarter: the song is
// over within microseconds.
Bytes notes_at_tempo_1(std::size_t notes);
// Channel pressure in running status, one tick apart, 2 bytes an event, until
// the file is about `file_bytes` long.
Bytes running_status_events(std::size_t file_bytes);
// Nearly as many events as a song may hold, about as densely as a song may
// have them: kMaxSongEvents - kMaxEventsPerWindow notes on and off over 16
// channels, kMaxEventsPerWindow within 0.1 s every 0.101 s; ten seconds.
Bytes densest_song_within_bounds();

// The file our reader makes of `bytes`, a test failure (and an empty file)
// when it refuses them.
MidiFile parse_ok(const Bytes& bytes);

}  // namespace zt::test
