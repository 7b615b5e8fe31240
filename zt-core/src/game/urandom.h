// The game's two random generators. Everything a replay must repeat draws
// from TRnd; the runtime generator only seeds plays and decorates the screen.
#pragma once

#include <cstdint>

namespace zt {

// Runtime generator: state := state * 134775813 + 1 (mod 2^32) before each
// draw; a draw below n is the high half of the 64-bit product state * n.
inline std::int32_t Random(std::uint32_t& state, std::int32_t n) {
  state = state * 134775813u + 1u;
  if (n <= 0) return 0;
  return static_cast<std::int32_t>((static_cast<std::uint64_t>(state) *
                                    static_cast<std::uint64_t>(static_cast<std::uint32_t>(n))) >>
                                   32);
}

// Small 16-bit generator with a stored seed that can be restarted.
class TRnd {
 public:
  TRnd() = default;
  TRnd(std::int32_t seed, std::int32_t x) : seed_(seed), x_(x) {}

  // seed := |v rem 65536| with the remainder taking the sign of v; x untouched.
  void set_seed(std::int32_t v) {
    std::int32_t r = v % 65536;
    seed_ = r < 0 ? -r : r;
  }
  void reset() { x_ = seed_; }
  // x stays in 0..65535, so 41x + 33 stays below 2^22 and never goes negative.
  std::int32_t next() {
    x_ = (41 * x_ + 33) % 65536;
    return x_;
  }
  // 1 to n.
  std::int32_t range(std::int32_t n) { return next() % n + 1; }

  std::int32_t seed() const { return seed_; }
  std::int32_t x() const { return x_; }

 private:
  std::int32_t seed_ = 0;
  std::int32_t x_ = 0;
};

}  // namespace zt
