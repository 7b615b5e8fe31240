#include "formats/bmp.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "formats/decode_bounds.h"

namespace zt {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kColourTableOffset = kFileHeaderSize + kInfoHeaderSize;

std::uint16_t u16_at(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t u32_at(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::int32_t i32_at(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(u32_at(b, at));
}

void put_u16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put_u32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct DeclaredSize {
  std::int32_t width;
  std::int32_t height;  // negative for a top-down bitmap
};

// The size in the headers, when they are there and it is a size at all.
std::optional<DeclaredSize> declared_size(std::span<const std::uint8_t> bytes) {
  const std::size_t size = bytes.size();
  // Each field is checked only once the bytes that hold it are known to be there.
  if (size < 2 || bytes[0] != 'B' || bytes[1] != 'M') return std::nullopt;
  if (size < 18 || u32_at(bytes, 14) != kInfoHeaderSize) return std::nullopt;
  if (size < 26) return std::nullopt;
  const std::int32_t width = i32_at(bytes, 18);
  const std::int32_t height = i32_at(bytes, 22);
  if (width < 1 || height == 0 || height == std::numeric_limits<std::int32_t>::min()) {
    return std::nullopt;
  }
  return DeclaredSize{width, height};
}

std::int64_t rows_of(const DeclaredSize& d) {
  return std::abs(static_cast<std::int64_t>(d.height));
}

}  // namespace

std::optional<std::string> bmp_size_refusal(std::span<const std::uint8_t> bytes) {
  const std::optional<DeclaredSize> d = declared_size(bytes);
  if (!d || sheet_size_fits(d->width, rows_of(*d))) return std::nullopt;
  return std::to_string(d->width) + " x " + std::to_string(rows_of(*d)) +
         " pixels is more than a sheet may have (" + std::to_string(kSheetMaxSide) +
         " on a side, " + std::to_string(kSheetMaxPixels) + " in all)";
}

std::optional<IndexedBitmap> decode_indexed_bmp(std::span<const std::uint8_t> bytes) {
  const std::size_t size = bytes.size();
  const std::optional<DeclaredSize> declared = declared_size(bytes);
  if (!declared) return std::nullopt;
  const std::int32_t width = declared->width;
  const std::int32_t height = declared->height;
  // What the game can use, however many bytes the member brings.
  if (!sheet_size_fits(width, rows_of(*declared))) return std::nullopt;
  if (size < 28 || u16_at(bytes, 26) != 1) return std::nullopt;
  if (size < 30 || u16_at(bytes, 28) != 8) return std::nullopt;
  if (size < 34 || u32_at(bytes, 30) != 0) return std::nullopt;

  // 64-bit sums: offset, stride and row count each come from the file and may be near 2^32.
  const std::uint64_t rows = static_cast<std::uint64_t>(rows_of(*declared));
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) + 3) / 4 * 4;
  const std::uint64_t pixel_offset = u32_at(bytes, 10);
  if (pixel_offset + stride * rows > size) return std::nullopt;

  std::size_t palette_bytes = 1024;
  if (size >= 50) {
    const std::uint32_t colours = u32_at(bytes, 46);
    if (colours != 0) palette_bytes = 4 * static_cast<std::size_t>(colours < 256 ? colours : 256);
  }
  if (kColourTableOffset + palette_bytes > size) return std::nullopt;

  IndexedBitmap out;
  // The table always sits right behind the info header, whatever the pixel offset says.
  for (std::size_t e = 0; e < palette_bytes / 4; ++e) {
    const std::size_t at = kColourTableOffset + 4 * e;
    out.palette[4 * e + 0] = bytes[at + 2];
    out.palette[4 * e + 1] = bytes[at + 1];
    out.palette[4 * e + 2] = bytes[at + 0];
    out.palette[4 * e + 3] = bytes[at + 3];
  }

  // The row check above bounds width x rows by the member's size, so this allocation is too.
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(rows);
  std::vector<std::uint8_t> pixels(w * h);
  const bool bottom_up = height > 0;
  for (std::size_t r = 0; r < h; ++r) {
    const std::size_t from =
        static_cast<std::size_t>(pixel_offset) + r * static_cast<std::size_t>(stride);
    const std::size_t to_row = bottom_up ? h - 1 - r : r;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), w,
                pixels.begin() + static_cast<std::ptrdiff_t>(to_row * w));
  }
  auto surface = Surface::from_indexed(width, static_cast<std::int32_t>(rows), std::move(pixels));
  if (!surface) return std::nullopt;
  out.surface = std::move(*surface);
  return out;
}

namespace bmp {

std::optional<std::vector<std::uint8_t>> bmp_indexed_bytes(std::int32_t width, std::int32_t height,
                                                           std::span<const std::uint8_t> pixels,
                                                           const Palette& palette) {
  if (width < 0 || height < 0) return std::nullopt;
  const std::uint64_t w = static_cast<std::uint64_t>(width);
  const std::uint64_t h = static_cast<std::uint64_t>(height);
  if (pixels.size() < w * h) return std::nullopt;
  const std::uint64_t stride = (w + 3) / 4 * 4;
  const std::uint64_t rows_size = stride * h;
  // The header's sizes are 32-bit; a picture whose file would not fit them is refused, not wrapped.
  if (kPixelOffset + rows_size > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;

  std::vector<std::uint8_t> out(kPixelOffset + static_cast<std::size_t>(rows_size), 0);
  out[0] = 'B';
  out[1] = 'M';
  put_u32(out, 2, static_cast<std::uint32_t>(kPixelOffset + rows_size));
  put_u32(out, 10, kPixelOffset);
  put_u32(out, 14, static_cast<std::uint32_t>(kInfoHeaderSize));
  put_u32(out, 18, static_cast<std::uint32_t>(width));
  put_u32(out, 22, static_cast<std::uint32_t>(height));
  put_u16(out, 26, 1);
  put_u16(out, 28, 8);
  put_u32(out, 34, static_cast<std::uint32_t>(rows_size));
  put_u32(out, 46, 256);
  for (std::size_t e = 0; e < 256; ++e) {
    const std::size_t at = kColourTableOffset + 4 * e;
    out[at + 0] = palette[4 * e + 2];
    out[at + 1] = palette[4 * e + 1];
    out[at + 2] = palette[4 * e + 0];
  }
  const std::size_t row_bytes = static_cast<std::size_t>(w);
  for (std::size_t r = 0; r < h; ++r) {
    const std::size_t from = (static_cast<std::size_t>(h) - 1 - r) * row_bytes;
    const std::size_t to = kPixelOffset + r * static_cast<std::size_t>(stride);
    std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(from), row_bytes,
                out.begin() + static_cast<std::ptrdiff_t>(to));
  }
  return out;
}

}  // namespace bmp
}  // namespace zt
