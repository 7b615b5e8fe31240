#include "formats/bmp.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <limits>
#include <string>

#include "bmp_pictures.h"

namespace zt {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t get16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// A hand-made 8-bit bitmap. The pixel of file row r, column c is 10 * r + c;
// padding bytes are 0xEE so that a decoder taking them shows. Colour-table
// entry e is stored as blue e, green 100 + e, red 200 + e, reserved 7.
struct BmpFixture {
  std::int32_t width = 5;
  std::int32_t height = 3;  // negative: top-down
  std::uint32_t header_size = 40;
  std::uint16_t planes = 1;
  std::uint16_t bits = 8;
  std::uint32_t compression = 0;
  std::uint32_t colours = 0;          // colours-used field
  std::uint32_t table_entries = 256;  // entries actually stored
  std::uint32_t gap = 0;              // bytes between the table and the rows

  Bytes build() const {
    const std::uint32_t rows = static_cast<std::uint32_t>(std::abs(height));
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) + 3) / 4 * 4;
    const std::uint32_t offset = 54 + 4 * table_entries + gap;
    Bytes b(offset + stride * rows, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<std::uint32_t>(b.size()));
    put32(b, 10, offset);
    put32(b, 14, header_size);
    put32(b, 18, static_cast<std::uint32_t>(width));
    put32(b, 22, static_cast<std::uint32_t>(height));
    put16(b, 26, planes);
    put16(b, 28, bits);
    put32(b, 30, compression);
    put32(b, 34, stride * rows);
    put32(b, 46, colours);
    for (std::uint32_t e = 0; e < table_entries; ++e) {
      b[54 + 4 * e] = static_cast<std::uint8_t>(e);
      b[55 + 4 * e] = static_cast<std::uint8_t>(100 + e);
      b[56 + 4 * e] = static_cast<std::uint8_t>(200 + e);
      b[57 + 4 * e] = 7;
    }
    for (std::uint32_t r = 0; r < rows; ++r) {
      for (std::uint32_t c = 0; c < stride; ++c) {
        b[offset + r * stride + c] =
            c < static_cast<std::uint32_t>(width) ? static_cast<std::uint8_t>(10 * r + c) : 0xEE;
      }
    }
    return b;
  }
};

TEST(BmpDecode, AcceptsBothRowOrdersAndEveryTableSize) {
  struct Case {
    const char* what;
    std::int32_t height;
    std::uint32_t colours;
    std::uint32_t stored;
    std::uint32_t expect_entries;
    std::uint32_t gap;
  };
  const Case cases[] = {
      {"bottom-up, full table by default", 3, 0, 256, 256, 0},
      {"top-down, full table by default", -3, 0, 256, 256, 0},
      {"16 colours", 3, 16, 16, 16, 0},
      {"2 colours, top-down", -3, 2, 2, 2, 0},
      {"256 colours", 3, 256, 256, 256, 0},
      {"count above 256 reads 256", 3, 1000, 256, 256, 0},
      {"rows behind a gap", 3, 16, 16, 16, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BmpFixture f;
    f.height = c.height;
    f.colours = c.colours;
    f.table_entries = c.stored;
    f.gap = c.gap;
    const auto bmp = decode_indexed_bmp(f.build());
    ASSERT_TRUE(bmp.has_value());
    const Surface& s = bmp->surface;
    ASSERT_EQ(s.width, 5);
    ASSERT_EQ(s.height, 3);
    EXPECT_EQ(s.colour_key, 0);
    EXPECT_FALSE(s.keyed);
    for (int y = 0; y < 3; ++y) {
      const int file_row = c.height > 0 ? 2 - y : y;
      for (int x = 0; x < 5; ++x) ASSERT_EQ(s.at(x, y), 10 * file_row + x) << x << "," << y;
    }
    for (std::uint32_t e = 0; e < 256; ++e) {
      const std::array<std::uint8_t, 4> want =
          e < c.expect_entries ? std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(200 + e),
                                                             static_cast<std::uint8_t>(100 + e),
                                                             static_cast<std::uint8_t>(e), 7}
                               : std::array<std::uint8_t, 4>{0, 0, 0, 0};
      for (std::uint32_t k = 0; k < 4; ++k) ASSERT_EQ(bmp->palette[4 * e + k], want[k]) << e;
    }
  }
}

TEST(BmpDecode, TableIsReadBehindTheHeaderWhateverThePixelOffsetSays) {
  BmpFixture f;
  f.colours = 4;
  f.table_entries = 4;
  Bytes b = f.build();
  // Point the rows at the table itself: legal, and the table must still come from offset 54.
  put32(b, 10, 54);
  const auto bmp = decode_indexed_bmp(b);
  ASSERT_TRUE(bmp.has_value());
  EXPECT_EQ(bmp->palette[0], 200);
  EXPECT_EQ(bmp->surface.at(0, 2), b[54]);  // last row on screen is the first row in the file
}

TEST(BmpDecode, RejectsEveryOtherFile) {
  using Edit = void (*)(Bytes&);
  struct Case {
    const char* what;
    Edit edit;
  };
  const Case cases[] = {
      {"not BM", [](Bytes& b) { b[1] = 'A'; }},
      {"core header", [](Bytes& b) { put32(b, 14, 12); }},
      {"version 4 header", [](Bytes& b) { put32(b, 14, 108); }},
      {"version 5 header", [](Bytes& b) { put32(b, 14, 124); }},
      {"width 0", [](Bytes& b) { put32(b, 18, 0); }},
      {"negative width", [](Bytes& b) { put32(b, 18, 0xFFFFFFFB); }},
      {"height 0", [](Bytes& b) { put32(b, 22, 0); }},
      {"height -2^31", [](Bytes& b) { put32(b, 22, 0x80000000); }},
      {"2 planes", [](Bytes& b) { put16(b, 26, 2); }},
      {"4 bits", [](Bytes& b) { put16(b, 28, 4); }},
      {"24 bits", [](Bytes& b) { put16(b, 28, 24); }},
      {"RLE8", [](Bytes& b) { put32(b, 30, 1); }},
      {"bit fields", [](Bytes& b) { put32(b, 30, 3); }},
      {"rows cut short", [](Bytes& b) { b.pop_back(); }},
      {"pixel offset past the end", [](Bytes& b) { put32(b, 10, 0xFFFFFFFF); }},
      {"huge width", [](Bytes& b) { put32(b, 18, 0x7FFFFFFF); }},
      {"huge height", [](Bytes& b) { put32(b, 22, 0x7FFFFFFF); }},
      {"huge top-down height", [](Bytes& b) { put32(b, 22, 0x80000001); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = BmpFixture{}.build();
    c.edit(b);
    EXPECT_FALSE(decode_indexed_bmp(b).has_value());
  }
  EXPECT_EQ(kUnsupportedBmp, "unsupported BMP");
}

// Whole bitmaps with every row present: only their size is refused.
TEST(BmpDecode, SizesASheetMayNotHaveAreRefused) {
  struct Case {
    std::int32_t width, height;
    bool decodes;
  } cases[] = {
      {4096, 1024, true},   // 4 Mi pixels, the most there may be
      {1024, -4096, true},  // top-down, as tall as a sheet may be
      {4097, 1, false},     // wider than a side may be
      {1, -4097, false},    // taller
      {2048, 2049, false},  // more pixels than a sheet may have
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    BmpFixture f;
    f.width = c.width;
    f.height = c.height;
    const Bytes b = f.build();
    const auto bmp = decode_indexed_bmp(b);
    EXPECT_EQ(bmp.has_value(), c.decodes);
    if (bmp) {
      EXPECT_EQ(bmp->surface.pixels.size(), std::size_t{4} << 20);
    }
    EXPECT_EQ(bmp_size_refusal(b).has_value(), !c.decodes);
  }
  BmpFixture wide;
  wide.width = 60000;
  wide.height = 200;
  EXPECT_EQ(bmp_size_refusal(wide.build()),
            "60000 x 200 pixels is more than a sheet may have (4096 on a side, 4194304 in all)");
  // A damaged bitmap is not refused for its size.
  EXPECT_EQ(bmp_size_refusal(Bytes{'B', 'M'}), std::nullopt);
}

TEST(BmpDecode, RejectsATableThatRunsPastTheEnd) {
  // 16 entries stored, rows pointed back into them, but the header claims 256.
  BmpFixture f;
  f.width = 4;
  f.height = 1;
  f.colours = 256;
  f.table_entries = 16;
  Bytes b = f.build();
  ASSERT_LT(b.size(), 54u + 1024u);
  EXPECT_FALSE(decode_indexed_bmp(b).has_value());
}

TEST(BmpDecode, EveryTruncationIsRefused) {
  BmpFixture f;
  f.colours = 3;
  f.table_entries = 3;
  const Bytes whole = f.build();
  ASSERT_TRUE(decode_indexed_bmp(whole).has_value());
  for (std::size_t n = 0; n < whole.size(); ++n) {
    // A copy of exactly n bytes, so the sanitizers see any read past it.
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(decode_indexed_bmp(cut).has_value()) << n;
  }
}

TEST(BmpWrite, HeaderTableAndPaddedBottomUpRows) {
  const Bytes px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const auto out = bmp::bmp_indexed_bytes(5, 2, px, test::bmp_test_palette());
  ASSERT_TRUE(out.has_value());
  const Bytes& b = *out;
  ASSERT_EQ(b.size(), 1078u + 16u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  const std::pair<std::size_t, std::uint32_t> fields32[] = {
      {2, 1094}, {6, 0},   {10, 1078}, {14, 40}, {18, 5},   {22, 2},
      {30, 0},   {34, 16}, {38, 0},    {42, 0},  {46, 256}, {50, 0}};
  for (const auto& [at, v] : fields32) EXPECT_EQ(get32(b, at), v) << "offset " << at;
  EXPECT_EQ(get16(b, 26), 1);
  EXPECT_EQ(get16(b, 28), 8);
  for (std::size_t e = 0; e < 256; ++e) {
    EXPECT_EQ(b[54 + 4 * e], static_cast<std::uint8_t>(e * 7));
    EXPECT_EQ(b[55 + 4 * e], static_cast<std::uint8_t>(255 - e));
    EXPECT_EQ(b[56 + 4 * e], static_cast<std::uint8_t>(e));
    EXPECT_EQ(b[57 + 4 * e], 0);
  }
  const Bytes rows(b.begin() + 1078, b.end());
  EXPECT_EQ(rows, (Bytes{6, 7, 8, 9, 10, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0}));
}

TEST(BmpWrite, Sizes) {
  const Palette p{};
  const Bytes screen(320 * 240, 0);
  EXPECT_EQ(bmp::bmp_indexed_bytes(320, 240, screen, p)->size(), 77878u);
  const auto empty = bmp::bmp_indexed_bytes(7, 0, {}, p);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->size(), 1078u);
  EXPECT_EQ(get32(*empty, 2), 1078u);
  // Too few pixels or negative sizes would mean reading outside the picture.
  EXPECT_FALSE(bmp::bmp_indexed_bytes(5, 2, Bytes(9, 0), p).has_value());
  EXPECT_FALSE(bmp::bmp_indexed_bytes(-1, 2, screen, p).has_value());
  EXPECT_FALSE(bmp::bmp_indexed_bytes(2, -1, screen, p).has_value());
}

TEST(BmpRoundTrip, WrittenFileDecodesToTheSamePixelsAndColours) {
  for (const auto& [w, h] :
       {std::pair{320, 240}, std::pair{5, 2}, std::pair{1, 1}, std::pair{7, 3}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const Bytes px = test::bmp_pattern_pixels(w, h);
    const Palette pal = test::bmp_test_palette();
    const auto file = bmp::bmp_indexed_bytes(w, h, px, pal);
    ASSERT_TRUE(file.has_value());
    const auto back = decode_indexed_bmp(*file);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->surface.width, w);
    EXPECT_EQ(back->surface.height, h);
    EXPECT_EQ(back->surface.pixels, px);
    Palette want = pal;
    for (std::size_t e = 0; e < 256; ++e) want[4 * e + 3] = 0;
    EXPECT_EQ(back->palette, want);
  }
}
}  // namespace
}  // namespace zt
