// A song written back as the plainest Standard MIDI File, for a player whose
// own reader knows less of the format than ours: it then plays the song as
// our reader understood it, whatever form the file had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "formats/midifile.h"

namespace zt {

// A 6-byte header, track chunks only, and in each track every channel message
// and SysEx (F0) event with its own status byte (no running status), tempo
// events of exactly 3 data bytes (tempo 0 written as 1, as it is timed), and
// one end of track at the track's last tick. Escapes (F7) and all other meta
// events, which sound nothing, are left out; a gap they leave too long for one
// delta is bridged by empty text events. Format 0 for one track, else 1 (the
// tracks are played together, as merge_tracks plays format 2 too). More than
// max_tracks tracks become one, in the order of merge_tracks. Metrical
// division only, 0 ticks per quarter written as 1: nothing for timecode.
std::optional<std::vector<std::uint8_t>> write_plain_midi(const MidiFile& file,
                                                          std::size_t max_tracks);

}  // namespace zt
