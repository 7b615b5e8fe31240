// Archives come from the data directory, so any bytes must parse and every
// member must load or fail without reading out of bounds or hanging.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/qda.h"

namespace {

// A claimed unpacked size is a legitimate bound of up to 4 GiB, and a small
// nested pair table can fill it; members claiming more than this are decoded
// directly with a smaller bound so that a run is not ended by memory limits.
constexpr std::size_t kMaxFuzzOutput = std::size_t{1} << 20;

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

const zt::QdaEntry* first_match(const zt::QdaArchive& a, const std::string& name) {
  for (const zt::QdaEntry& e : a.entries()) {
    if (e.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) same = lower(e.name[i]) == lower(name[i]);
    if (same) return &e;
  }
  return nullptr;
}

void try_load(const zt::QdaArchive& a, const std::vector<std::uint8_t>& file,
              const std::string& name) {
  const zt::QdaEntry* e = first_match(a, name);
  // Both programs refuse a member that claims more than the bound, at once.
  if (e != nullptr && a.compressed() && e->unpacked_size > zt::kQdaMaxMember) {
    zt::QdaBudget budget;
    const zt::QdaLoad got = a.load_member(name, budget);
    if (got.bytes || budget.spent() != 0) __builtin_trap();
  }
  if (e != nullptr && a.compressed() && e->unpacked_size > kMaxFuzzOutput) {
    if (std::uint64_t{e->offset} + e->stored_size <= file.size()) {
      std::vector<std::uint8_t> out;
      zt::bpe_decode(std::span<const std::uint8_t>(file).subspan(e->offset, e->stored_size),
                     kMaxFuzzOutput, zt::kBpeStackCodes, out);
    }
    return;
  }
  const auto member = a.load_member(name);
  if (member) {
    const std::size_t capacity = a.compressed() && e->unpacked_size != 0
                                     ? std::size_t{e->unpacked_size}
                                     : std::size_t{e->stored_size};
    if (member->empty() || member->size() > capacity) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> file(data, data + size);
  const zt::QdaArchive a = zt::QdaArchive::parse(file);
  if (a.entries().size() > (size < 256 ? 0 : (size - 256) / 268)) __builtin_trap();
  for (const zt::QdaEntry& e : a.entries()) {
    try_load(a, file, e.name);
    std::string upper = e.name;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    try_load(a, file, upper);
  }
  for (const char* name : {"", "ball.bmp", "SELECT.WAV", "\xEF\xBF\xBD"}) try_load(a, file, name);
  try_load(a, file, std::string(300, 'x'));

  // Every entry loaded against one budget, scaled down so that a run stays
  // fast: no member beyond the allowance it was given, nothing decoded
  // beyond the archive's bound, and a refusal only for a claim beyond it.
  zt::QdaBudget budget(kMaxFuzzOutput / 4, kMaxFuzzOutput);
  std::size_t produced = 0;
  for (const zt::QdaEntry& e : a.entries()) {
    const std::size_t allowance = budget.allowance();
    const std::size_t spent = budget.spent();
    const zt::QdaLoad got = a.load_member(e.name, budget);
    const zt::QdaEntry* first = first_match(a, e.name);
    const std::size_t claim = a.compressed() && first->unpacked_size != 0
                                  ? std::size_t{first->unpacked_size}
                                  : std::size_t{first->stored_size};
    if (got.bytes && got.bytes->size() > allowance) __builtin_trap();
    if (got.refused && (got.bytes || claim <= allowance || budget.spent() != spent)) {
      __builtin_trap();
    }
    if (budget.spent() - spent > allowance || budget.spent() > kMaxFuzzOutput) __builtin_trap();
    if (got.bytes) produced += got.bytes->size();
  }
  if (produced > budget.spent()) __builtin_trap();

  // The smaller stack of the other program's reader.
  std::vector<std::uint8_t> out;
  zt::bpe_decode(file, kMaxFuzzOutput, 256, out);
  return 0;
}
