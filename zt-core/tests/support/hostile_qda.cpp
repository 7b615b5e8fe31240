#include "hostile_qda.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <stdexcept>
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

Bytes qda_of(const std::vector<PackedMember>& members, bool share_first) {
  constexpr std::size_t kHeader = 256, kEntry = 268;
  const std::size_t count = members.size();
  Bytes b(kHeader + count * kEntry, 0);
  put_u32(b, 0, 1);  // every member byte-pair encoded
  b[4] = 'Q';
  b[5] = 'D';
  b[6] = 'A';
  b[7] = '0';
  put_u32(b, 8, static_cast<std::uint32_t>(count));
  std::uint32_t shared_at = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kHeader + i * kEntry;
    const bool add = !share_first || i == 0;
    const std::uint32_t offset = add ? static_cast<std::uint32_t>(b.size()) : shared_at;
    if (i == 0) shared_at = offset;
    put_u32(b, at, offset);
    put_u32(b, at + 4, static_cast<std::uint32_t>(members[add ? i : 0].packed.size()));
    put_u32(b, at + 8, members[i].unpacked);
    std::copy_n(members[i].name.begin(), std::min<std::size_t>(members[i].name.size(), 255),
                b.begin() + static_cast<std::ptrdiff_t>(at + 12));
    if (add) b.insert(b.end(), members[i].packed.begin(), members[i].packed.end());
  }
  return b;
}

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
  std::vector<PackedMember> list;
  for (const Member& m : members) list.push_back({std::string(m.name), m.data, m.unpacked});
  return qda_of(list, false);
}

std::vector<std::uint8_t> bpe_run(std::span<const std::uint8_t> prefix, std::uint8_t fill,
                                  std::uint64_t count) {
  // Codes the prefix does not use; code k of the chain stands for 2^(k+1) fills.
  std::array<bool, 256> used{};
  used[fill] = true;
  for (std::uint8_t c : prefix) used[c] = true;
  std::vector<std::uint8_t> chain;
  for (int c = 0; c < 256 && chain.size() < 33; ++c) {
    if (!used[static_cast<std::size_t>(c)]) chain.push_back(static_cast<std::uint8_t>(c));
  }
  if (chain.size() < 33) throw std::invalid_argument("the prefix leaves too few codes free");

  // The table run. A count byte 127 + s skips s codes (at most 128) and one
  // code follows; 0 is one code without a skip. Skips too long for one count
  // byte define the code they land on as a literal and go on.
  Bytes run;
  unsigned k = 0;
  const auto skip_to = [&](unsigned target) {
    while (target - k > 128) {
      run.push_back(255);
      k += 128;
      if (k == 256) return;
      run.push_back(static_cast<std::uint8_t>(k));  // a literal
      ++k;
    }
    run.push_back(static_cast<std::uint8_t>(target == k ? 0 : 127 + (target - k)));
    k = target;
  };
  for (std::size_t level = 0; level < chain.size(); ++level) {
    const std::uint8_t half = level == 0 ? fill : chain[level - 1];
    skip_to(chain[level]);
    run.push_back(half);
    run.push_back(half);
    ++k;
  }
  // To code 256, which ends the run before the code after the skip is read.
  while (k < 256) {
    const unsigned skip = std::min(256u - k, 128u);
    run.push_back(static_cast<std::uint8_t>(127 + skip));
    k += skip;
    if (k < 256) run.push_back(static_cast<std::uint8_t>(k++));
  }

  Bytes packed(prefix.begin(), prefix.end());
  if (count % 2 == 1) packed.push_back(fill);
  for (std::size_t level = 0; level < chain.size(); ++level) {
    if ((count >> (level + 1)) & 1) packed.push_back(chain[level]);
  }
  if (count >> (chain.size() + 1) != 0) throw std::invalid_argument("run too long");
  return block(run, packed);
}

std::vector<std::uint8_t> shared_member_qda(const std::vector<std::string>& names,
                                            std::span<const std::uint8_t> packed,
                                            std::uint32_t unpacked) {
  std::vector<PackedMember> members;
  for (const std::string& n : names) members.push_back({n, {}, unpacked});
  if (!members.empty()) members[0].packed.assign(packed.begin(), packed.end());
  return qda_of(members, true);
}

std::vector<std::uint8_t> packed_qda(const std::vector<PackedMember>& members) {
  return qda_of(members, false);
}

std::vector<std::uint8_t> bmp_headers(std::int32_t width, std::int32_t height) {
  Bytes b(1078, 0);
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) + 3) / 4 * 4;
  const std::uint64_t rows =
      static_cast<std::uint64_t>(height < 0 ? -std::int64_t{height} : height);
  b[0] = 'B';
  b[1] = 'M';
  put_u32(b, 2, static_cast<std::uint32_t>(1078 + stride * rows));
  put_u32(b, 10, 1078);
  put_u32(b, 14, 40);
  put_u32(b, 18, static_cast<std::uint32_t>(width));
  put_u32(b, 22, static_cast<std::uint32_t>(height));
  b[26] = 1;  // planes
  b[28] = 8;  // bits per pixel
  put_u32(b, 34, static_cast<std::uint32_t>(stride * rows));
  return b;
}

std::vector<std::uint8_t> wav_headers(std::uint32_t rate, std::uint16_t bits,
                                      std::uint16_t channels, std::uint32_t data_bytes) {
  Bytes b(44, 0);
  const auto tag = [&](std::size_t at, const char* t) { std::copy_n(t, 4, b.begin() + at); };
  const std::uint32_t block = std::uint32_t{channels} * bits / 8;
  tag(0, "RIFF");
  put_u32(b, 4, 36 + data_bytes);
  tag(8, "WAVE");
  tag(12, "fmt ");
  put_u32(b, 16, 16);
  b[20] = 1;  // PCM
  b[22] = static_cast<std::uint8_t>(channels);
  b[23] = static_cast<std::uint8_t>(channels >> 8);
  put_u32(b, 24, rate);
  put_u32(b, 28, rate * block);
  b[32] = static_cast<std::uint8_t>(block);
  b[33] = static_cast<std::uint8_t>(block >> 8);
  b[34] = static_cast<std::uint8_t>(bits);
  tag(36, "data");
  put_u32(b, 40, data_bytes);
  return b;
}

}  // namespace zt::test
