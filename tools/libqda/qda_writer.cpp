#include "qda_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "formats/ascii.h"
#include "formats/qda.h"

namespace zt::tools {
namespace {

constexpr std::size_t kHeaderSize = 256;
constexpr std::size_t kEntrySize = 268;
constexpr std::size_t kNameSize = 256;

constexpr std::size_t kMaxBlock = 8192;
// A block stops taking new byte values at this many, so that some codes stay
// free to stand for pairs.
constexpr int kMaxDistinct = 240;
constexpr int kMaxDepth = 128;
// A pair costs two table bytes and sometimes a count byte; fewer
// occurrences than this would not pay for it.
constexpr unsigned kMinPairCount = 4;

void put_u32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void append_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.resize(out.size() + 4);
  put_u32(out, out.size() - 4, v);
}

struct BlockTable {
  std::array<std::uint8_t, 256> left;
  std::array<std::uint8_t, 256> right{};

  BlockTable() {
    for (int c = 0; c < 256; ++c) left[c] = static_cast<std::uint8_t>(c);
  }
  bool is_pair(unsigned c) const { return left[c] != c; }
};

// The table run walks the codes in order and ends exactly at code 256: a
// count byte 127 + n skips n literals and one code follows unless the skip
// reached 256; a count byte n - 1 is followed by n codes.
void write_table_run(const BlockTable& t, std::vector<std::uint8_t>& out) {
  const auto write_code = [&](unsigned c) {
    out.push_back(t.left[c]);
    if (t.is_pair(c)) out.push_back(t.right[c]);
  };
  unsigned k = 0;
  while (k < 256) {
    unsigned literals = 0;
    while (k + literals < 256 && !t.is_pair(k + literals)) ++literals;
    if (literals > 0) {
      const unsigned skip = std::min(literals, 128u);
      out.push_back(static_cast<std::uint8_t>(127 + skip));
      k += skip;
      if (k == 256) break;
      write_code(k++);
    } else {
      unsigned group = 0;
      while (k + group < 256 && group < 128 && t.is_pair(k + group)) ++group;
      out.push_back(static_cast<std::uint8_t>(group - 1));
      for (unsigned i = 0; i < group; ++i) write_code(k + i);
      k += group;
    }
  }
}

class BlockEncoder {
 public:
  void encode(std::span<const std::uint8_t> block, std::vector<std::uint8_t>& out) {
    buf_.assign(block.begin(), block.end());
    BlockTable table;
    std::array<bool, 256> used{};
    std::array<int, 256> depth{};
    for (std::uint8_t b : buf_) used[b] = true;

    for (;;) {
      const auto free_code = std::find(used.begin(), used.end(), false);
      if (free_code == used.end()) break;
      unsigned pair = 0;
      if (most_frequent_pair(depth, pair) < kMinPairCount) break;
      const auto code = static_cast<std::uint8_t>(free_code - used.begin());
      const auto a = static_cast<std::uint8_t>(pair >> 8);
      const auto b = static_cast<std::uint8_t>(pair & 0xFF);
      replace(a, b, code);
      table.left[code] = a;
      table.right[code] = b;
      depth[code] = std::max(depth[a], depth[b]) + 1;
      used[code] = true;
    }

    write_table_run(table, out);
    append_u32(out, static_cast<std::uint32_t>(buf_.size()));
    out.insert(out.end(), buf_.begin(), buf_.end());
  }

 private:
  // Counts each pair's non-overlapping occurrences (a run "AAAA" holds "AA"
  // twice) and picks the most frequent one whose code would stay within the
  // depth bound; ties go to the smaller pair value.
  unsigned most_frequent_pair(const std::array<int, 256>& depth, unsigned& best) {
    unsigned best_count = 0;
    unsigned prev = std::numeric_limits<unsigned>::max();
    bool prev_counted = false;
    for (std::size_t i = 0; i + 1 < buf_.size(); ++i) {
      const unsigned p = static_cast<unsigned>(buf_[i]) << 8 | buf_[i + 1];
      if (p == prev && prev_counted) {
        prev_counted = false;
        continue;
      }
      ++counts_[p];
      prev = p;
      prev_counted = true;
    }
    for (std::size_t i = 0; i + 1 < buf_.size(); ++i) {
      const unsigned p = static_cast<unsigned>(buf_[i]) << 8 | buf_[i + 1];
      const unsigned n = counts_[p];
      if (n == 0) continue;  // already considered
      counts_[p] = 0;
      if (std::max(depth[buf_[i]], depth[buf_[i + 1]]) + 1 > kMaxDepth) continue;
      if (n > best_count || (n == best_count && p < best)) {
        best_count = n;
        best = p;
      }
    }
    return best_count;
  }

  void replace(std::uint8_t a, std::uint8_t b, std::uint8_t code) {
    std::size_t w = 0;
    for (std::size_t r = 0; r < buf_.size(); ++w) {
      if (r + 1 < buf_.size() && buf_[r] == a && buf_[r + 1] == b) {
        buf_[w] = code;
        r += 2;
      } else {
        buf_[w] = buf_[r++];
      }
    }
    buf_.resize(w);
  }

  std::vector<std::uint8_t> buf_;
  std::vector<std::uint16_t> counts_ = std::vector<std::uint16_t>(65536);
};

std::string quoted(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

}  // namespace

std::vector<std::uint8_t> bpe_encode(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> out;
  BlockEncoder encoder;
  std::size_t pos = 0;
  while (pos < data.size()) {
    std::array<bool, 256> seen{};
    int distinct = 0;
    std::size_t end = pos;
    while (end < data.size() && end - pos < kMaxBlock) {
      const std::uint8_t b = data[end];
      if (!seen[b]) {
        if (distinct == kMaxDistinct) break;
        seen[b] = true;
        ++distinct;
      }
      ++end;
    }
    encoder.encode(data.subspan(pos, end - pos), out);
    pos = end;
  }
  return out;
}

std::variant<std::vector<std::uint8_t>, QdaWriteError> write_qda(std::span<const QdaMember> members,
                                                                 bool encode) {
  std::vector<std::string> seen;
  for (const QdaMember& m : members) {
    if (m.name.empty()) return QdaWriteError{"a member has an empty name"};
    if (m.name.size() >= kNameSize) {
      return QdaWriteError{"member name " + quoted(m.name) + " is " +
                           std::to_string(m.name.size()) + " bytes long, the limit is 255"};
    }
    if (m.name.find('\0') != std::string::npos) {
      return QdaWriteError{"member name " + quoted(m.name) + " contains a NUL byte"};
    }
    const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(m.name.data()),
                                            m.name.size());
    if (qda_name_text(raw) != m.name) {
      return QdaWriteError{"member name " + quoted(m.name) + " is not valid UTF-8"};
    }
    if (m.data.empty()) return QdaWriteError{"member " + quoted(m.name) + " is empty"};
    std::string key = ascii_lower(m.name);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      return QdaWriteError{"member name " + quoted(m.name) +
                           " is used twice (names are compared without regard to case)"};
    }
    seen.push_back(std::move(key));
  }
  if (members.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return QdaWriteError{"too many members"};
  }

  std::vector<std::uint8_t> out(kHeaderSize + kEntrySize * members.size());
  put_u32(out, 0, encode ? 1u : 0u);
  std::memcpy(&out[4], "QDA0", 4);
  put_u32(out, 8, static_cast<std::uint32_t>(members.size()));
  for (std::size_t i = 0; i < members.size(); ++i) {
    const QdaMember& m = members[i];
    const std::size_t offset = out.size();
    if (encode) {
      const std::vector<std::uint8_t> packed = bpe_encode(m.data);
      out.insert(out.end(), packed.begin(), packed.end());
    } else {
      out.insert(out.end(), m.data.begin(), m.data.end());
    }
    if (out.size() > std::numeric_limits<std::uint32_t>::max() ||
        m.data.size() > std::numeric_limits<std::uint32_t>::max()) {
      return QdaWriteError{"archive would exceed 4 GiB at member " + quoted(m.name)};
    }
    const std::size_t at = kHeaderSize + i * kEntrySize;
    put_u32(out, at, static_cast<std::uint32_t>(offset));
    put_u32(out, at + 4, static_cast<std::uint32_t>(out.size() - offset));
    put_u32(out, at + 8, static_cast<std::uint32_t>(m.data.size()));
    std::memcpy(&out[at + 12], m.name.data(), m.name.size());
  }
  return out;
}

}  // namespace zt::tools
