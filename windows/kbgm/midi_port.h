// Where the sequencer's MIDI bytes go: the system's MIDI mapper in the game,
// a recording in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace zt::kbgm {

class MidiOutPort {
 public:
  virtual ~MidiOutPort() = default;
  // One channel message of 1 to 3 bytes, or a system exclusive message F0 ... F7.
  virtual void send(std::span<const std::uint8_t> message) = 0;
};

struct PortOpenResult {
  std::unique_ptr<MidiOutPort> port;  // none on failure
  std::int32_t error = 0;             // the system's error number on failure
};

class MidiPortOpener {
 public:
  virtual ~MidiPortOpener() = default;
  virtual PortOpenResult open() = 0;
};

// midiOutOpen(MIDI_MAPPER); a closed port is midiOutReset and midiOutClose.
std::unique_ptr<MidiPortOpener> winmm_port_opener();

}  // namespace zt::kbgm
