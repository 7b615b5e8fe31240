#include "dddd/blit.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zt {
namespace {

// Coordinates are 32-bit, but the game's sums and products are taken in 64
// bits: for every request that fits a surface the result is the same, and a
// hostile one (near INT32_MIN/MAX) cannot wrap into something drawable.
using Wide = std::int64_t;

constexpr bool fits_i32(Wide v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

std::uint8_t* row_ptr(Surface& s, Wide x, Wide y) {
  return s.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(s.width) +
         static_cast<std::size_t>(x);
}
const std::uint8_t* row_ptr(const Surface& s, Wide x, Wide y) {
  return s.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(s.width) +
         static_cast<std::size_t>(x);
}

// The key stored on the source decides what a keyed copy skips; a key argument
// of 0 or more replaces it, a negative one keeps it.
void apply_colour_key(Surface& src, bool keyed, std::int32_t key) {
  if (keyed) {
    if (key >= 0) src.colour_key = key;
    src.keyed = true;
  } else {
    src.keyed = false;
  }
}

std::uint8_t key_byte(const Surface& src) {
  return static_cast<std::uint8_t>(src.colour_key & 0xFF);
}

// One axis of the scaled clip: source span (s, sl) and destination span
// (d, dl) against a destination extent `limit`.
bool clip_axis(Wide limit, Wide& s, Wide& sl, Wide& d, Wide& dl) {
  if (sl < 0) {
    s += sl;
    sl = -sl;
  }
  if (dl < 0) {
    d += dl;
    dl = -dl;
  }
  if (d > limit || d + dl < 0) return false;
  Wide s_right;
  Wide d_right;
  if (d + dl > limit) {
    s_right = s + sl * (limit - d) / dl;
    d_right = limit;
  } else {
    s_right = s + sl;
    d_right = d + dl;
  }
  Wide s_left = s;
  Wide d_left = d;
  if (d < 0) {
    // From the unclipped right edge, so that a cut on both sides keeps the
    // proportion of each cut to its own side.
    s_left = (s + sl) - sl * (d + dl) / dl;
    d_left = 0;
  }
  s = s_left;
  sl = s_right - s_left;
  d = d_left;
  dl = d_right - d_left;
  return true;
}

// Copies n pixels, leaving the destination where the source holds the key.
// Sixteen at a time, as a select over a compare, where the compiler has
// vector types: keyed sprites and backgrounds are most of a frame's drawing.
void keyed_span(std::uint8_t* to, const std::uint8_t* from, std::size_t n, std::uint8_t key) {
  std::size_t c = 0;
#if defined(__GNUC__)
  using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
  Bytes16 keys;
  for (int i = 0; i < 16; ++i) keys[i] = key;
  for (; c + 16 <= n; c += 16) {
    Bytes16 s;
    Bytes16 d;
    std::memcpy(&s, from + c, 16);
    std::memcpy(&d, to + c, 16);
    const Bytes16 keep = reinterpret_cast<Bytes16>(s == keys);  // 0xFF where s is the key
    const Bytes16 out = (s & ~keep) | (d & keep);
    std::memcpy(to + c, &out, 16);
  }
#endif
  // Font glyphs and small sprites are narrower than sixteen: eight at a time
  // in a word, the key's bytes found with the carry-free zero-byte test.
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const std::uint64_t keys8 = std::uint64_t{key} * 0x0101010101010101ull;
  for (; c + 8 <= n; c += 8) {
    std::uint64_t s;
    std::uint64_t d;
    std::memcpy(&s, from + c, 8);
    std::memcpy(&d, to + c, 8);
    const std::uint64_t x = s ^ keys8;  // a zero byte where s is the key
    const std::uint64_t nonzero = (((x & kLow7) + kLow7) | x) & ~kLow7;  // 0x80 where x != 0
    const std::uint64_t take = (nonzero >> 7) * 0xFF;                    // 0xFF where s is drawn
    const std::uint64_t out = (s & take) | (d & ~take);
    std::memcpy(to + c, &out, 8);
  }
  for (; c < n; ++c) {
    if (from[c] != key) to[c] = from[c];
  }
}

}  // namespace

void dd_blit_rect(Surface& dst, Surface& src, std::int32_t sx, std::int32_t sy, std::int32_t w,
                  std::int32_t h, std::int32_t dx, std::int32_t dy, bool keyed, std::int32_t key) {
  Wide x = sx, y = sy, cw = w, ch = h, tx = dx, ty = dy;
  if (tx < 0) {
    x -= tx;
    cw += tx;
    tx = 0;
  }
  if (ty < 0) {
    y -= ty;
    ch += ty;
    ty = 0;
  }
  cw = std::min<Wide>(cw, Wide{dst.width} - tx);
  ch = std::min<Wide>(ch, Wide{dst.height} - ty);
  if (cw < 0 || ch < 0) return;
  // The source rectangle is refused, not clipped.
  if (x < 0 || y < 0 || x + cw > src.width || y + ch > src.height) return;
  apply_colour_key(src, keyed, key);
  const auto i32 = [](Wide v) { return static_cast<std::int32_t>(v); };
  index_copy(src, i32(x), i32(y), i32(cw), i32(ch), dst, i32(tx), i32(ty), i32(cw), i32(ch),
             src.keyed, key_byte(src));
}

void dd_blit_rect_to(Surface& dst, Surface& src, std::int32_t sx, std::int32_t sy, std::int32_t sw,
                     std::int32_t sh, std::int32_t dx, std::int32_t dy, std::int32_t dw,
                     std::int32_t dh, bool keyed, std::int32_t key) {
  if (!clip_scaled_blit(dst.width, dst.height, sx, sy, sw, sh, dx, dy, dw, dh)) return;
  if (sx < 0 || sy < 0 || sw < 0 || sh < 0 || Wide{sx} + sw > src.width ||
      Wide{sy} + sh > src.height) {
    return;
  }
  // The key is taken even when the clipped copy turns out empty.
  apply_colour_key(src, keyed, key);
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  index_copy(src, sx, sy, sw, sh, dst, dx, dy, dw, dh, src.keyed, key_byte(src));
}

bool clip_scaled_blit(std::int32_t dst_w, std::int32_t dst_h, std::int32_t& sx, std::int32_t& sy,
                      std::int32_t& sw, std::int32_t& sh, std::int32_t& dx, std::int32_t& dy,
                      std::int32_t& dw, std::int32_t& dh) {
  Wide x = sx, y = sy, w = sw, h = sh, tx = dx, ty = dy, tw = dw, th = dh;
  if (!clip_axis(dst_w, x, w, tx, tw)) return false;
  if (!clip_axis(dst_h, y, h, ty, th)) return false;
  // Only reachable from values no surface can have; 32 bits would have
  // wrapped here, so nothing is drawn.
  for (Wide v : {x, y, w, h, tx, ty, tw, th}) {
    if (!fits_i32(v)) return false;
  }
  sx = static_cast<std::int32_t>(x);
  sy = static_cast<std::int32_t>(y);
  sw = static_cast<std::int32_t>(w);
  sh = static_cast<std::int32_t>(h);
  dx = static_cast<std::int32_t>(tx);
  dy = static_cast<std::int32_t>(ty);
  dw = static_cast<std::int32_t>(tw);
  dh = static_cast<std::int32_t>(th);
  return true;
}

void index_copy(const Surface& src, std::int32_t sx, std::int32_t sy, std::int32_t sw,
                std::int32_t sh, Surface& dst, std::int32_t dx, std::int32_t dy, std::int32_t dw,
                std::int32_t dh, bool keyed, std::uint8_t key) {
  // The host never copies a surface onto itself; overlapping rows would be
  // read after being written.
  if (&src == &dst) return;
  const Wide s_w = src.width, s_h = src.height, d_w = dst.width, d_h = dst.height;
  if (sw == dw && sh == dh) {
    const Wide c0 = std::max({Wide{0}, -Wide{dx}, -Wide{sx}});
    const Wide c1 = std::min({Wide{sw}, d_w - dx, s_w - sx});
    if (c1 <= c0) return;
    // The rows that lie inside both surfaces; the others are skipped.
    const Wide r0 = std::max({Wide{0}, -Wide{dy}, -Wide{sy}});
    const Wide r1 = std::min({Wide{sh}, d_h - dy, s_h - sy});
    const auto span = static_cast<std::size_t>(c1 - c0);
    for (Wide i = r0; i < r1; ++i) {
      const std::uint8_t* from = row_ptr(src, sx + c0, sy + i);
      std::uint8_t* to = row_ptr(dst, dx + c0, dy + i);
      if (!keyed) {
        std::memcpy(to, from, span);
      } else {
        keyed_span(to, from, span, key);
      }
    }
    return;
  }

  // Nearest neighbour, one sample per destination pixel. An empty rectangle
  // on either side has nothing to sample (and would divide by zero).
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const auto ratio = [](std::int32_t a, std::int32_t b) {
    return Wide{static_cast<std::uint32_t>(a) / static_cast<std::uint32_t>(b)};
  };
  const Wide px = dw > sw ? (Wide{sw} - 1) / 2 : (Wide{dw} * (ratio(sw, dw) | 1)) / 2;
  const Wide py = dh > sh ? Wide{sh} / 2 : (Wide{dh} * (ratio(sh, dh) | 1)) / 2;
  // Destination rows and columns outside the destination are skipped.
  const Wide j0 = std::max<Wide>(0, -Wide{dy});
  const Wide j1 = std::min<Wide>(dh, d_h - dy);
  const Wide i0 = std::max<Wide>(0, -Wide{dx});
  const Wide i1 = std::min<Wide>(dw, d_w - dx);
  if (i0 >= i1) return;
  // The source column of each destination column, sx + (px + i * sw) / dw,
  // worked out once; -1 where it lies outside the source.
  std::vector<std::int32_t> cols(static_cast<std::size_t>(i1 - i0));
  bool all_inside = true;
  for (Wide i = i0; i < i1; ++i) {
    const Wide col = sx + (px + i * sw) / dw;
    const bool inside = col >= 0 && col < s_w;
    all_inside = all_inside && inside;
    cols[static_cast<std::size_t>(i - i0)] = inside ? static_cast<std::int32_t>(col) : -1;
  }
  const std::uint8_t* last_to = nullptr;
  Wide last_row = -1;
  for (Wide j = j0; j < j1; ++j) {
    const Wide row = sy + (py + j * sh) / dh;
    if (row < 0 || row >= s_h) continue;
    std::uint8_t* to = row_ptr(dst, dx + i0, dy + j);
    if (!keyed && all_inside && row == last_row) {
      // An enlarged row repeats the one just drawn.
      std::memcpy(to, last_to, cols.size());
      continue;
    }
    const std::uint8_t* from = row_ptr(src, 0, row);
    const std::size_t n = cols.size();
    if (all_inside && keyed) {
      // A select rather than a branch: sprite edges make the branch a guess.
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t p = from[cols[i]];
        to[i] = p != key ? p : to[i];
      }
    } else if (all_inside) {
      for (std::size_t i = 0; i < n; ++i) to[i] = from[cols[i]];
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t col = cols[i];
        if (col < 0) continue;
        const std::uint8_t p = from[col];
        if (keyed && p == key) continue;
        to[i] = p;
      }
    }
    last_to = to;
    last_row = row;
  }
}

void dd_fill_rect(Surface& s, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                  std::int32_t colour) {
  if (w <= 0 || h <= 0) return;
  const Wide x0 = std::max<Wide>(x, 0);
  const Wide x1 = std::min<Wide>(Wide{x} + w, s.width);
  const Wide y0 = std::max<Wide>(y, 0);
  const Wide y1 = std::min<Wide>(Wide{y} + h, s.height);
  if (x0 >= x1 || y0 >= y1) return;
  const auto c = static_cast<std::uint8_t>(colour & 0xFF);
  for (Wide r = y0; r < y1; ++r)
    std::memset(row_ptr(s, x0, r), c, static_cast<std::size_t>(x1 - x0));
}

void dd_plot(Surface& s, std::int32_t x, std::int32_t y, std::int32_t colour) {
  if (x < 0 || y < 0 || x >= s.width || y >= s.height) return;
  s.at(x, y) = static_cast<std::uint8_t>(colour & 0xFF);
}

void dd_pixelate(Surface& s, std::int32_t block) {
  if (s.width <= 0 || s.height <= 0 || s.pixels.empty()) return;
  const Wide b = block <= 0 ? 5 : block;
  const Wide across = (Wide{s.width} + b - 1) / b;
  const Wide down = (Wide{s.height} + b - 1) / b;
  // Every sample is taken before the first fill.
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(across * down));
  for (Wide r = 0; r < down; ++r) {
    const std::uint8_t* row = row_ptr(s, 0, r * b);
    std::uint8_t* out = samples.data() + static_cast<std::size_t>(r * across);
    for (Wide c = 0; c < across; ++c) out[c] = row[c * b];
  }
  // The first pixel row of each row of blocks is filled; the block's other
  // rows are copies of it.
  const auto row_bytes = static_cast<std::size_t>(s.width);
  for (Wide r = 0; r < down; ++r) {
    const Wide y0 = r * b;
    const Wide y1 = std::min<Wide>(y0 + b, s.height);
    const std::uint8_t* colours = samples.data() + static_cast<std::size_t>(r * across);
    std::uint8_t* first = row_ptr(s, 0, y0);
    // Stepped pixel by pixel: blocks are often too narrow for a fill call to pay.
    std::size_t c = 0;
    Wide left = b;
    for (Wide x = 0; x < s.width; ++x) {
      first[x] = colours[c];
      if (--left == 0) {
        left = b;
        ++c;
      }
    }
    for (Wide y = y0 + 1; y < y1; ++y) std::memcpy(row_ptr(s, 0, y), first, row_bytes);
  }
}

}  // namespace zt
