// A Standard MIDI File writer: format 1, metrical timing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zt::mkdata {

struct MidiEvent {
  std::uint32_t tick = 0;
  std::vector<std::uint8_t> bytes;  // a channel message, or FF type len data for a meta event
  int order = 0;                    // at equal ticks: lower first
};

struct MidiTrack {
  std::string name;
  std::vector<MidiEvent> events;
  std::uint32_t end_tick = 0;  // the End of Track event's tick

  void meta(std::uint32_t tick, std::uint8_t type, const std::vector<std::uint8_t>& data);
  void channel(std::uint32_t tick, std::vector<std::uint8_t> msg, int order = 1);
  // A note from on to off; note-offs sort before note-ons of the same tick.
  void note(int ch, int key, int velocity, std::uint32_t on, std::uint32_t off);
};

// The file bytes; events of each track are stably sorted by (tick, order).
std::vector<std::uint8_t> smf_bytes(std::uint16_t ticks_per_quarter, std::vector<MidiTrack> tracks);

}  // namespace zt::mkdata
