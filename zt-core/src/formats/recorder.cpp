#include "formats/recorder.h"

#include <algorithm>
#include <bit>

namespace zt {
namespace {

template <int N>
void put_le(std::uint8_t* out, std::uint64_t v) {
  for (int i = 0; i < N; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <int N>
std::uint64_t get_le(const std::uint8_t* in) {
  std::uint64_t v = 0;
  for (int i = 0; i < N; ++i) v |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return v;
}

void put_i32(std::uint8_t* out, std::int32_t v) {
  put_le<4>(out, static_cast<std::uint32_t>(v));
}
std::int32_t get_i32(const std::uint8_t* in) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(get_le<4>(in)));
}

}  // namespace

std::array<std::uint8_t, Frame::kSize> Frame::encode() const {
  std::array<std::uint8_t, kSize> out{};
  put_i32(out.data(), x);
  put_i32(out.data() + 4, y);
  return out;
}

Frame Frame::decode(std::span<const std::uint8_t, kSize> bytes) {
  return {get_i32(bytes.data()), get_i32(bytes.data() + 4)};
}

std::array<std::uint8_t, RecHeaderRaw::kSize> RecHeaderRaw::encode() const {
  std::array<std::uint8_t, kSize> out{};
  std::uint8_t* p = out.data();
  put_le<8>(p, std::bit_cast<std::uint64_t>(date));
  p[8] = name_length;
  std::copy(name.begin(), name.end(), p + 9);
  std::copy(reserved1.begin(), reserved1.end(), p + 18);
  put_le<8>(p + 24, static_cast<std::uint64_t>(score));
  put_i32(p + 32, max_combo);
  put_i32(p + 36, destroyed);
  std::copy(reserved2.begin(), reserved2.end(), p + 40);
  put_i32(p + 48, format_mark);
  std::copy(reserved3.begin(), reserved3.end(), p + 52);
  return out;
}

RecHeaderRaw RecHeaderRaw::decode(std::span<const std::uint8_t, kSize> bytes) {
  const std::uint8_t* p = bytes.data();
  RecHeaderRaw h;
  h.date = std::bit_cast<double>(get_le<8>(p));
  h.name_length = p[8];
  std::copy(p + 9, p + 18, h.name.begin());
  std::copy(p + 18, p + 24, h.reserved1.begin());
  h.score = static_cast<std::int64_t>(get_le<8>(p + 24));
  h.max_combo = get_i32(p + 32);
  h.destroyed = get_i32(p + 36);
  std::copy(p + 40, p + 48, h.reserved2.begin());
  h.format_mark = get_i32(p + 48);
  std::copy(p + 52, p + 56, h.reserved3.begin());
  return h;
}

}  // namespace zt
