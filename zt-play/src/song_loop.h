// What a repeating song tells the synthesizer at its loop point, so that the
// next pass starts from the state the first one started from (the state after
// a reset of the synthesizer and the song's own events at tick 0) while the
// notes and the reverb of the pass that ends ring on.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "formats/midifile.h"

namespace zt {

struct ChannelMessage {
  std::uint8_t status = 0;  // 0x80-0xEF
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;
  friend bool operator==(const ChannelMessage&, const ChannelMessage&) = default;
};

// A controller's value after a reset of the synthesizer (General MIDI's, as
// FluidSynth sets them).
std::uint8_t reset_controller_value(std::uint8_t controller);

// For every channel: a note off for each note still on at the song's end,
// then the start value of every controller, the program, the pitch bend and
// the channel pressure that the song changes after tick 0 (bank selects
// before the other controllers, the program after them). Nothing when the
// song changes after tick 0 what only a reset puts back: SysEx, RPN or NRPN
// data, portamento control, the channel mode or key pressure.
std::optional<std::vector<ChannelMessage>> loop_restore(const MidiFile& file);

}  // namespace zt
