#include "hostile_qda.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace zt::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes block(Bytes table_run, const Bytes& packed) {
  const std::size_t at = table_run.size();
  table_run.resize(at + 4);
  put_u32(table_run, at, static_cast<std::uint32_t>(packed.size()));
  table_run.insert(table_run.end(), packed.begin(), packed.end());
  return table_run;
}

Bytes doubling_data() {
  // 0xFF skips to code 128 = ('A', 'A'); then 127 codes 129..255, each the
  // pair of its predecessor.
  Bytes run = {0xFF, 'A', 'A', 126};
  for (int c = 129; c < 256; ++c) {
    run.push_back(static_cast<std::uint8_t>(c - 1));
    run.push_back(static_cast<std::uint8_t>(c - 1));
  }
  return block(run, {255});
}

// 128 as a literal, 200 = (201, 'A'), 201 = (200, 'B'), then a skip past 255.
const Bytes kCycleRun = {0xFF, 128, 127 + 71, 201, 'A', 0, 200, 'B', 127 + 54};

}  // namespace

std::vector<std::uint8_t> hostile_qda_archive() {
  struct Member {
    std::string_view name;
    Bytes data;
    std::uint32_t unpacked;
  };
  const Member members[] = {
      {kDoublingMember, doubling_data(), 0xFFFFFFFFu},
      {kUnusedCycleMember, block(kCycleRun, {'A', 'B'}), 2},
      {kUsedCycleMember, block(kCycleRun, {200}), 100},
  };
  constexpr std::size_t kHeader = 256, kEntry = 268;
  const std::size_t count = std::size(members);
  Bytes b(kHeader + count * kEntry, 0);
  put_u32(b, 0, 1);  // every member byte-pair encoded
  b[4] = 'Q';
  b[5] = 'D';
  b[6] = 'A';
  b[7] = '0';
  put_u32(b, 8, static_cast<std::uint32_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kHeader + i * kEntry;
    put_u32(b, at, static_cast<std::uint32_t>(b.size()));
    put_u32(b, at + 4, static_cast<std::uint32_t>(members[i].data.size()));
    put_u32(b, at + 8, members[i].unpacked);
    std::copy(members[i].name.begin(), members[i].name.end(),
              b.begin() + static_cast<std::ptrdiff_t>(at + 12));
    b.insert(b.end(), members[i].data.begin(), members[i].data.end());
  }
  return b;
}

}  // namespace zt::test
