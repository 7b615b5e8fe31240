#include "formats/qda.h"

#include <algorithm>
#include <array>

#include "formats/ascii.h"

namespace zt {
namespace {

std::uint32_t read_u32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::int32_t read_i32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(read_u32(b, at));
}

// One block's pair table: left[c] == c marks a literal.
struct PairTable {
  std::array<std::uint8_t, 256> left;
  std::array<std::uint8_t, 256> right;

  bool is_pair(std::uint8_t c) const { return left[c] != c; }
};

// Marks the codes whose expansion never ends because it reaches a code that is
// being expanded. Checking the table once per block costs one visit per code;
// expanding blindly would loop for ever on a table like 0x80 = (0x80, 0x80),
// which no stack bound stops because it never produces a byte.
class EndlessCodes {
 public:
  explicit EndlessCodes(const PairTable& t) : table_(t) {
    for (int c = 0; c < 256; ++c) visit(static_cast<std::uint8_t>(c));
  }
  bool operator[](std::uint8_t c) const { return state_[c] == State::Endless; }

 private:
  enum class State : std::uint8_t { Unseen, Open, Finite, Endless };

  // Recursion depth is at most 256: each level opens one more code.
  bool visit(std::uint8_t c) {
    if (!table_.is_pair(c)) return false;
    switch (state_[c]) {
      case State::Open:
      case State::Endless:
        return true;
      case State::Finite:
        return false;
      case State::Unseen:
        break;
    }
    state_[c] = State::Open;
    bool endless = visit(table_.left[c]) || visit(table_.right[c]);
    state_[c] = endless ? State::Endless : State::Finite;
    return endless;
  }

  const PairTable& table_;
  std::array<State, 256> state_{};
};

}  // namespace

bool bpe_decode(std::span<const std::uint8_t> in, std::size_t capacity, std::size_t stack_codes,
                std::vector<std::uint8_t>& out) {
  stack_codes = std::min(stack_codes, kBpeStackCodes);
  const std::size_t n = in.size();
  std::size_t pos = 0;
  PairTable table;
  std::array<std::uint8_t, kBpeStackCodes> stack;

  while (out.size() < capacity && pos < n) {
    for (int c = 0; c < 256; ++c) {
      table.left[c] = static_cast<std::uint8_t>(c);
      table.right[c] = 0;
    }
    // Pair table run: a count byte above 127 skips codes and one code follows,
    // otherwise count + 1 codes follow; the run ends when code 256 is reached.
    unsigned k = 0;
    while (k < 256) {
      if (pos >= n) return true;
      const std::uint8_t b = in[pos++];
      unsigned codes = b + 1u;
      if (b > 127) {
        k += b - 127u;
        codes = 1;
      }
      for (unsigned i = 0; i < codes && k < 256; ++i, ++k) {
        if (pos >= n) return true;
        table.left[k] = in[pos++];
        if (table.left[k] != k) {
          if (pos >= n) return true;
          table.right[k] = in[pos++];
        }
      }
    }
    if (n - pos < 4) return true;
    std::uint32_t packed = read_u32(in, pos);
    pos += 4;

    const EndlessCodes endless(table);
    std::size_t sp = 0;
    for (;;) {
      std::uint8_t c;
      if (sp > 0) {
        c = stack[--sp];
      } else {
        if (packed == 0 || pos >= n) break;
        c = in[pos++];
        --packed;
        if (endless[c]) return false;
      }
      if (!table.is_pair(c)) {
        out.push_back(c);
        if (out.size() >= capacity) return true;
      } else if (sp + 2 <= stack_codes) {
        // Right below left, so that the left byte is expanded first.
        stack[sp++] = table.right[c];
        stack[sp++] = table.left[c];
      }
      // Otherwise the pair would not fit on the stack and is dropped.
    }
  }
  return true;
}

std::string qda_name_text(std::span<const std::uint8_t> raw) {
  raw = raw.first(std::find(raw.begin(), raw.end(), std::uint8_t{0}) - raw.begin());
  std::string text;
  text.reserve(raw.size());
  const auto continuation = [](std::uint8_t b) { return b >= 0x80 && b <= 0xBF; };
  std::size_t i = 0;
  while (i < raw.size()) {
    const std::uint8_t lead = raw[i];
    if (lead < 0x80) {
      text.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    // Length and the allowed range of the second byte, which excludes
    // overlong forms, surrogates and code points above U+10FFFF.
    std::size_t len = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      len = 3;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      len = 4;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    }
    std::size_t good = len == 0 ? 0 : 1;
    if (good == 1 && i + 1 < raw.size() && raw[i + 1] >= lo && raw[i + 1] <= hi) {
      good = 2;
      while (good < len && i + good < raw.size() && continuation(raw[i + good])) ++good;
    }
    if (len != 0 && good == len) {
      text.append(reinterpret_cast<const char*>(raw.data() + i), len);
      i += len;
    } else {
      // One replacement for the lead and the continuation bytes that fitted.
      text += "\xEF\xBF\xBD";
      i += std::max<std::size_t>(good, 1);
    }
  }
  return text;
}

QdaArchive QdaArchive::parse(std::vector<std::uint8_t> bytes) {
  QdaArchive a;
  a.bytes_ = std::move(bytes);
  const std::span<const std::uint8_t> b(a.bytes_);
  if (b.size() < kQdaHeaderSize) return a;
  a.compressed_ = read_i32(b, 0) == 1;
  // The magic at offset 4 is not checked; only whole entries are listed.
  const std::int32_t claimed = read_i32(b, 8);
  const std::size_t fit = (b.size() - kQdaHeaderSize) / kQdaEntrySize;
  const std::size_t count = claimed <= 0 ? 0 : std::min(static_cast<std::size_t>(claimed), fit);
  a.entries_.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kQdaHeaderSize + i * kQdaEntrySize;
    QdaEntry e;
    e.offset = read_u32(b, at);
    e.stored_size = read_u32(b, at + 4);
    e.unpacked_size = read_u32(b, at + 8);
    e.name = qda_name_text(b.subspan(at + 12, kQdaNameSize));
    a.entries_.push_back(std::move(e));
  }
  return a;
}

QdaRefusal QdaBudget::refusal() const {
  if (member_ <= archive_ - spent_) return {QdaRefusal::Bound::Member, member_};
  return {QdaRefusal::Bound::Archive, archive_};
}

std::string qda_refusal_text(const QdaRefusal& refusal) {
  const std::string bytes = std::to_string(refusal.limit) + " bytes";
  if (refusal.bound == QdaRefusal::Bound::Archive) {
    return "the archive decodes to more than " + bytes + " in all";
  }
  return "decodes to more than " + bytes;
}

std::optional<std::vector<std::uint8_t>> QdaArchive::load_member(std::string_view name) const {
  QdaBudget budget;
  return load_member(name, budget).bytes;
}

QdaLoad QdaArchive::load_member(std::string_view name, QdaBudget& budget) const {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const QdaEntry& e) { return same_text(e.name, name); });
  if (it == entries_.end()) return {};
  const QdaEntry& e = *it;
  if (e.stored_size == 0 ||
      std::uint64_t{e.offset} + std::uint64_t{e.stored_size} > bytes_.size()) {
    return {};
  }
  const std::span<const std::uint8_t> stored =
      std::span<const std::uint8_t>(bytes_).subspan(e.offset, e.stored_size);
  // A plain member is a copy, and twenty entries may share one: it costs
  // what it claims just as an encoded one does.
  const std::size_t capacity =
      compressed_ && e.unpacked_size != 0 ? e.unpacked_size : e.stored_size;
  if (capacity > budget.allowance()) return {std::nullopt, budget.refusal()};
  if (!compressed_) {
    budget.charge(stored.size());
    return {std::vector<std::uint8_t>(stored.begin(), stored.end()), std::nullopt};
  }

  std::vector<std::uint8_t> out;
  // The claimed size is only a bound; growing from the input's size keeps a
  // false claim from reserving its whole allowance up front.
  out.reserve(std::min(capacity, stored.size() * 4));
  const bool finite = bpe_decode(stored, capacity, kBpeStackCodes, out);
  // Work done on a member that is then dropped counts as well.
  budget.charge(out.size());
  if (!finite || out.empty()) return {};
  return {std::move(out), std::nullopt};
}

}  // namespace zt
