// Builds small Standard MIDI Files byte by byte for tests and fixtures.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

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

}  // namespace zt::test
