// QDA archives ("images.qda", "sounds.qda"): a 256-byte header, a directory
// of 268-byte entries, and member data that may be byte-pair encoded.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/decode_bounds.h"

namespace zt {

inline constexpr std::size_t kQdaHeaderSize = 256;
inline constexpr std::size_t kQdaEntrySize = 268;
inline constexpr std::size_t kQdaNameSize = 256;
// The Linux reader's expansion stack; the Windows reader's holds 256 codes.
inline constexpr std::size_t kBpeStackCodes = 512;

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

// A member refused before it was decoded whole: a few hundred bytes of
// nested pairs can claim 4 GiB, and many entries can point at one member.
struct QdaRefusal {
  enum class Bound : std::uint8_t { Member, Archive };
  Bound bound = Bound::Member;
  std::size_t limit = 0;  // the bytes it would have gone beyond
};

// "decodes to more than N bytes", or for the archive's bound "the archive
// decodes to more than N bytes in all".
std::string qda_refusal_text(const QdaRefusal& refusal);

// What the members loaded from one archive may still decode to: each at most
// kQdaMaxMember bytes, all of them together at most kQdaMaxArchive.
class QdaBudget {
 public:
  QdaBudget() = default;
  QdaBudget(std::size_t member_bytes, std::size_t archive_bytes)
      : member_(member_bytes), archive_(archive_bytes) {}

  // The most the next member may decode to, and the bound that sets it.
  std::size_t allowance() const { return std::min(member_, archive_ - spent_); }
  QdaRefusal refusal() const;
  // Counts bytes decoded, never beyond the archive's bound.
  void charge(std::size_t bytes) { spent_ += std::min(bytes, archive_ - spent_); }
  std::size_t spent() const { return spent_; }

 private:
  std::size_t member_ = kQdaMaxMember;
  std::size_t archive_ = kQdaMaxArchive;
  std::size_t spent_ = 0;
};

// A member's bytes, or nothing; when a bound refused it, which one.
struct QdaLoad {
  std::optional<std::vector<std::uint8_t>> bytes;
  std::optional<QdaRefusal> refused;
};

// A whole archive file kept in memory; members are decoded on demand.
class QdaArchive {
 public:
  // Never fails: what cannot be read is simply not listed.
  static QdaArchive parse(std::vector<std::uint8_t> bytes);

  // The first member whose name equals `name` with ASCII letters compared
  // without regard to case; nothing when there is none or it cannot be read,
  // and nothing for a member that claims more than kQdaMaxMember.
  std::optional<std::vector<std::uint8_t>> load_member(std::string_view name) const;
  // The same, charging what the member decodes to against the budget of its
  // archive. A member whose claimed size (the stored size of a plain member,
  // the unpacked size of an encoded one) exceeds the budget's allowance is
  // refused before anything is decoded; an encoded member never decodes
  // beyond its claim, so nothing beyond the allowance is ever allocated.
  QdaLoad load_member(std::string_view name, QdaBudget& budget) const;

  const std::vector<QdaEntry>& entries() const { return entries_; }
  bool compressed() const { return compressed_; }

 private:
  std::vector<std::uint8_t> bytes_;
  bool compressed_ = false;
  std::vector<QdaEntry> entries_;
};

}  // namespace zt
