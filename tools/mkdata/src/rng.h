// A small generator with a fixed seed, so that every run draws the same art.
#pragma once

#include <cstdint>

namespace zt::mkdata {

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  // splitmix64
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 <= result < n
  int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  // uniform in [0, 1)
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  // uniform in [-1, 1)
  double signed_unit() { return unit() * 2.0 - 1.0; }

 private:
  std::uint64_t state_;
};

}  // namespace zt::mkdata
