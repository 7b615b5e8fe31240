// Song timelines from arbitrary bytes: never a crash, and messages in time order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "midi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<zt::SongTimeline> tl = zt::build_timeline(std::span(data, size));
  if (!tl) return 0;
  for (std::size_t i = 1; i < tl->size(); ++i) {
    if ((*tl)[i].micros < (*tl)[i - 1].micros) std::abort();
  }
  for (const zt::TimedMessage& m : *tl) {
    if (m.size < 2 || m.size > 3 || m.bytes[0] < 0x80 || m.bytes[0] > 0xEF) std::abort();
  }
  return 0;
}
