// Any bytes as "ZTScore.dat": loading never misbehaves, and whatever loads
// goes back out and in again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "game/uhiscore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  zt::THiScore table;
  const zt::HiScoreLoad r = zt::hiscore_load(table, bytes);
  if (r == zt::HiScoreLoad::Missing) std::abort();
  table.insert("FUZZ", size > 0 ? static_cast<std::int64_t>(data[0]) * 1000 : 0, 1.0);
  for (std::int32_t n = 1; n < 10; ++n) {
    if (table.get_entry2(n).fa() < table.get_entry2(n + 1).fa()) std::abort();
  }
  const auto image = zt::hiscore_bytes(table);
  if (!image) return 0;
  zt::THiScore again;
  if (again.load(std::vector<std::uint8_t>(image->begin(), image->end())) !=
      zt::HiScoreLoad::Loaded) {
    std::abort();
  }
  for (std::size_t i = 0; i < zt::kScoreEntries; ++i) {
    if (again.entries()[i].encode() != table.entries()[i].encode()) std::abort();
  }
  return 0;
}
