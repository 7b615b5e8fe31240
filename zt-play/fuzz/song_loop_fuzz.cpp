// What a song's loop point sends, from arbitrary bytes our reader accepts:
// never a crash, only channel messages with data bytes, and never more than
// one of each kind a channel can need.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "formats/midifile.h"
#include "song_loop.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const zt::MidiParseResult parsed = zt::parse_midi_file(std::span(data, size));
  if (!parsed) return 0;
  const auto restore = zt::loop_restore(*parsed.file);
  if (!restore) return 0;
  // Per channel: 128 note offs, three pedals let go, 120 controllers, the
  // program, the pitch bend and the pressure.
  if (restore->size() > 16 * (128 + 3 + 120 + 3)) std::abort();
  for (const zt::ChannelMessage& m : *restore) {
    if (m.status < 0x80 || m.status > 0xEF || m.data1 > 0x7F || m.data2 > 0x7F) std::abort();
  }
  return 0;
}
