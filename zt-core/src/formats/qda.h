// QDA archives ("images.qda", "sounds.qda"): a 256-byte header, a directory
// of 268-byte entries, and member data that may be byte-pair encoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zt {

inline constexpr std::size_t kQdaHeaderSize = 256;
inline constexpr std::size_t kQdaEntrySize = 268;
inline constexpr std::size_t kQdaNameSize = 256;
// The Linux reader's expansion stack; the Windows reader's holds 256 codes.
inline constexpr std::size_t kBpeStackCodes = 512;
// The most an encoded member may unpack to, in both programs: far beyond any
// real member, while a few hundred bytes of nested pairs can claim 4 GiB.
inline constexpr std::size_t kQdaMaxUnpacked = std::size_t{64} << 20;

struct QdaEntry {
  std::string name;  // as text: invalid UTF-8 became U+FFFD
  std::uint32_t offset = 0;
  std::uint32_t stored_size = 0;
  std::uint32_t unpacked_size = 0;  // 0: same as stored_size
};

// Decodes byte-pair encoded blocks from `in`, appending to `out`, while `out`
// holds fewer than `capacity` bytes and input remains; input that ends inside
// a block ends the decoding with what was produced. `stack_codes` (at most
// kBpeStackCodes) is the expansion stack; a pair met on a full stack is
// dropped. Returns false when a packed code of some block reaches itself
// through its pair table, whose expansion would never end; `out` then holds
// a partial result that callers should discard.
// The work is bounded by `capacity`: a table of 255 nested pairs expands one
// packed byte into 2^255 bytes, so an unbounded capacity is not safe.
bool bpe_decode(std::span<const std::uint8_t> in, std::size_t capacity, std::size_t stack_codes,
                std::vector<std::uint8_t>& out);

// Bytes up to the first NUL (all of them when there is none) as UTF-8 text,
// each maximal invalid subsequence replaced by U+FFFD.
std::string qda_name_text(std::span<const std::uint8_t> raw);

// A whole archive file kept in memory; members are decoded on demand.
class QdaArchive {
 public:
  // Never fails: what cannot be read is simply not listed.
  static QdaArchive parse(std::vector<std::uint8_t> bytes);

  // The first member whose name equals `name` with ASCII letters compared
  // without regard to case; nothing when there is none or it cannot be read,
  // and nothing for an encoded member that claims more than kQdaMaxUnpacked.
  std::optional<std::vector<std::uint8_t>> load_member(std::string_view name) const;

  const std::vector<QdaEntry>& entries() const { return entries_; }
  bool compressed() const { return compressed_; }

 private:
  std::vector<std::uint8_t> bytes_;
  bool compressed_ = false;
  std::vector<QdaEntry> entries_;
};

}  // namespace zt
