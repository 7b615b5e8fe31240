#include "dddd/blit.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace zt {
namespace {

using PixelFn = std::function<int(int x, int y)>;

Surface make(int w, int h, const PixelFn& fn = nullptr) {
  Surface s = *Surface::create(w, h);
  if (fn) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) s.at(x, y) = static_cast<std::uint8_t>(fn(x, y));
  }
  return s;
}

// Distinct non-zero pixels, so a copied pixel tells where it came from.
int pattern(int x, int y) {
  return 1 + x + 16 * y;
}

// Compares every pixel with the expectation and names the first few that differ.
::testing::AssertionResult pixels_are(const Surface& s, const PixelFn& want) {
  std::string bad;
  int count = 0;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const int got = s.at(x, y);
      const int exp = want(x, y);
      if (got != exp && ++count <= 5) {
        bad += " (" + std::to_string(x) + "," + std::to_string(y) + ") got " + std::to_string(got) +
               " want " + std::to_string(exp) + ";";
      }
    }
  }
  if (count == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << count << " pixels differ:" << bad;
}

TEST(BlitRect, LeftClipShiftsTheSource) {
  Surface src = make(10, 10, pattern);
  Surface dst = make(20, 20);
  dd_blit_rect(dst, src, 0, 0, 10, 10, -3, 0, false, -1);
  EXPECT_TRUE(
      pixels_are(dst, [](int x, int y) { return x <= 6 && y <= 9 ? pattern(x + 3, y) : 0; }));
}

TEST(BlitRect, ClipsAgainstEveryDestinationEdge) {
  struct Case {
    const char* what;
    int sx, sy, w, h, dx, dy;
    // Destination (x, y) inside the copy reads source (x + ox, y + oy).
    int x0, x1, y0, y1, ox, oy;
  } cases[] = {
      {"inside", 1, 2, 4, 3, 5, 6, 5, 8, 6, 8, 1 - 5, 2 - 6},
      {"top", 0, 0, 10, 10, 0, -4, 0, 9, 0, 5, 0, 4},
      {"top left", 2, 2, 6, 6, -1, -2, 0, 4, 0, 3, 3, 4},
      {"right", 0, 0, 10, 10, 15, 0, 15, 19, 0, 9, -15, 0},
      {"bottom right", 0, 0, 10, 10, 14, 17, 14, 19, 17, 19, -14, -17},
      // The destination cut comes first, so a source rectangle too long for
      // the source is accepted once the right edge has shortened it.
      {"right cut makes source fit", 1, 0, 10, 1, 15, 0, 15, 19, 0, 0, -14, 0},
  };
  for (const auto& c : cases) {
    Surface src = make(10, 10, pattern);
    Surface dst = make(20, 20);
    dd_blit_rect(dst, src, c.sx, c.sy, c.w, c.h, c.dx, c.dy, false, -1);
    EXPECT_TRUE(pixels_are(dst, [&](int x, int y) {
      return x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1 ? pattern(x + c.ox, y + c.oy) : 0;
    })) << c.what;
  }
}

TEST(BlitRect, CopyOntoItselfDrawsNothing) {
  Surface s = make(8, 8, pattern);
  const Surface before = s;
  dd_blit_rect(s, s, 0, 0, 4, 4, 2, 1, false, -1);
  dd_blit_rect_to(s, s, 0, 0, 4, 4, 1, 1, 6, 6, false, -1);
  EXPECT_EQ(s.pixels, before.pixels);
}

TEST(BlitRect, SourceLeavingTheSourceDrawsNothingAndKeepsTheKey) {
  struct Case {
    const char* what;
    int sx, sy, w, h, dx, dy;
  } cases[] = {
      {"one past the right edge", 1, 0, 10, 10, 0, 0},
      {"one past the bottom edge", 0, 1, 10, 10, 0, 0},
      {"negative source x", -1, 0, 5, 5, 0, 0},
      {"negative source y", 0, -1, 5, 5, 0, 0},
      {"left clip pushes source past the edge", 5, 0, 8, 5, -3, 0},
      {"destination entirely left", 0, 0, 5, 5, -6, 0},
      {"destination past the right edge", 0, 0, 5, 5, 21, 0},
  };
  for (const auto& c : cases) {
    Surface src = make(10, 10, pattern);
    src.colour_key = 3;
    Surface dst = make(20, 20);
    dd_blit_rect(dst, src, c.sx, c.sy, c.w, c.h, c.dx, c.dy, true, 9);
    EXPECT_TRUE(pixels_are(dst, [](int, int) { return 0; })) << c.what;
    EXPECT_EQ(src.colour_key, 3) << c.what;
    EXPECT_FALSE(src.keyed) << c.what;
  }
}

// Source pixels 0..15 in one row; the destination starts at 200 so a skipped
// pixel is visible.
TEST(ColourKey, StoredKeyArgumentAndFlag) {
  struct Case {
    const char* what;
    int stored;
    bool keyed;
    int key;
    int want_stored;
    bool want_flag;
    int skipped;  // -1: every pixel copied
  } cases[] = {
      {"key -1 keeps the stored key", 15, true, -1, 15, true, 15},
      {"key 7 is stored", 4, true, 7, 7, true, 7},
      {"key 0 is stored", 4, true, 0, 0, true, 0},
      {"only the low byte is compared", 256 + 5, true, -1, 256 + 5, true, 5},
      {"unkeyed keeps the key and copies all", 4, false, 7, 4, false, -1},
  };
  for (const auto& c : cases) {
    for (bool scaled : {false, true}) {
      Surface src = make(16, 1, [](int x, int) { return x; });
      src.colour_key = c.stored;
      src.keyed = !c.keyed;
      Surface dst = make(16, 1, [](int, int) { return 200; });
      if (scaled) {
        dd_blit_rect_to(dst, src, 0, 0, 16, 1, 0, 0, 16, 1, c.keyed, c.key);
      } else {
        dd_blit_rect(dst, src, 0, 0, 16, 1, 0, 0, c.keyed, c.key);
      }
      EXPECT_EQ(src.colour_key, c.want_stored) << c.what << " scaled " << scaled;
      EXPECT_EQ(src.keyed, c.want_flag) << c.what << " scaled " << scaled;
      EXPECT_TRUE(pixels_are(dst, [&](int x, int) { return x == c.skipped ? 200 : x; }))
          << c.what << " scaled " << scaled;
    }
  }
}

TEST(ColourKey, KeyedStretchSkipsKeyPixels) {
  // The pixel loop of the scaled path honours the key too.
  Surface src = make(2, 2, [](int x, int y) { return x == y ? 0 : 9; });
  Surface dst = make(4, 4, [](int, int) { return 50; });
  dd_blit_rect_to(dst, src, 0, 0, 2, 2, 0, 0, 4, 4, true, -1);
  EXPECT_TRUE(pixels_are(dst, [](int x, int y) { return (x / 2 == y / 2) ? 50 : 9; }));
}

TEST(BlitRectTo, KeyIsTakenEvenWhenTheClippedCopyIsEmpty) {
  Surface src = make(4, 4, pattern);
  Surface dst = make(8, 8);
  // Starting exactly at the right edge passes the clip with width 0.
  dd_blit_rect_to(dst, src, 0, 0, 4, 4, 8, 0, 4, 4, true, 7);
  EXPECT_EQ(src.colour_key, 7);
  EXPECT_TRUE(src.keyed);
  EXPECT_TRUE(pixels_are(dst, [](int, int) { return 0; }));

  // A source rectangle leaving the source is refused before the key.
  dd_blit_rect_to(dst, src, 1, 0, 4, 4, 0, 0, 8, 8, false, 3);
  EXPECT_EQ(src.colour_key, 7);
  EXPECT_TRUE(src.keyed);
  EXPECT_TRUE(pixels_are(dst, [](int, int) { return 0; }));
}

TEST(BlitRectTo, StretchPhases) {
  struct Case {
    const char* what;
    int sw, sh, dw, dh;
    std::vector<int> cols, rows;  // source column per destination column, row per row
  } cases[] = {
      {"2x2 to 4x4 makes 2x2 squares", 2, 2, 4, 4, {0, 0, 1, 1}, {0, 0, 1, 1}},
      // Horizontal phase (w - 1) div 2, vertical phase h div 2.
      {"2x2 to 3x3 phases differ per axis", 2, 2, 3, 3, {0, 0, 1}, {0, 1, 1}},
      {"4 columns into 2 sample 1 and 3", 4, 1, 2, 1, {1, 3}, {0}},
      {"6 into 4", 6, 6, 4, 4, {0, 2, 3, 5}, {0, 2, 3, 5}},
      {"1x1 to 3x2", 1, 1, 3, 2, {0, 0, 0}, {0, 0}},
  };
  for (const auto& c : cases) {
    Surface src = make(c.sw, c.sh, pattern);
    Surface dst = make(c.dw, c.dh);
    dd_blit_rect_to(dst, src, 0, 0, c.sw, c.sh, 0, 0, c.dw, c.dh, false, -1);
    EXPECT_TRUE(pixels_are(dst, [&](int x, int y) {
      return pattern(c.cols[static_cast<std::size_t>(x)], c.rows[static_cast<std::size_t>(y)]);
    })) << c.what;
  }
}

TEST(BlitRectTo, LeftClipCutsTheSourceInProportion) {
  Surface src = make(40, 1, [](int x, int) { return 100 + x; });
  Surface dst = make(320, 1);
  dd_blit_rect_to(dst, src, 0, 0, 40, 1, -10, 0, 20, 1, false, -1);
  EXPECT_TRUE(pixels_are(dst, [](int x, int) { return x < 10 ? 100 + 21 + 2 * x : 0; }));
}

TEST(BlitRectTo, MirroredRectanglesAreNormalised) {
  // A negative width moves the origin; the copy is not mirrored.
  Surface src = make(4, 4, pattern);
  Surface dst = make(8, 8);
  dd_blit_rect_to(dst, src, 4, 4, -4, -4, 8, 8, -8, -8, false, -1);
  EXPECT_TRUE(pixels_are(dst, [](int x, int y) { return pattern(x / 2, y / 2); }));
}

TEST(ClipScaledBlit, Cases) {
  struct Rects {
    int sx, sy, sw, sh, dx, dy, dw, dh;
  };
  struct Case {
    const char* what;
    Rects in;
    bool ok;
    Rects out;
  } cases[] = {
      {"inside", {1, 2, 3, 4, 5, 6, 7, 8}, true, {1, 2, 3, 4, 5, 6, 7, 8}},
      {"left cut", {0, 0, 40, 10, -10, 0, 20, 10}, true, {20, 0, 20, 10, 0, 0, 10, 10}},
      {"negative sizes", {40, 10, -40, -10, 10, 10, -20, -10}, true, {20, 0, 20, 10, 0, 0, 10, 10}},
      {"right cut", {0, 0, 80, 1, 300, 0, 40, 1}, true, {0, 0, 40, 1, 300, 0, 20, 1}},
      // Left edge from the unclipped right edge: 34 - 34 * 330 / 340 = 1.
      {"both sides", {0, 0, 34, 1, -10, 0, 340, 1}, true, {1, 0, 32, 1, 0, 0, 320, 1}},
      // Bottom 30 * 245 / 250 = 29, top 30 - 29 = 1.
      {"top and bottom", {0, 0, 10, 30, 0, -5, 10, 250}, true, {0, 1, 10, 28, 0, 0, 10, 240}},
      {"starts at the right edge", {0, 0, 4, 4, 320, 0, 4, 4}, true, {0, 0, 0, 4, 320, 0, 0, 4}},
      {"starts at the bottom edge", {0, 0, 4, 4, 0, 240, 4, 4}, true, {0, 0, 4, 0, 0, 240, 4, 0}},
      {"ends at the left edge", {0, 0, 4, 4, -5, 0, 5, 4}, true, {4, 0, 0, 4, 0, 0, 0, 4}},
      {"past the right edge", {0, 0, 4, 4, 321, 0, 4, 4}, false, {}},
      {"left of the left edge", {0, 0, 4, 4, -6, 0, 5, 4}, false, {}},
      {"below the bottom", {0, 0, 4, 4, 0, 241, 4, 4}, false, {}},
      {"above the top", {0, 0, 4, 4, 0, -9, 4, 8}, false, {}},
  };
  for (const auto& c : cases) {
    Rects r = c.in;
    const bool ok = clip_scaled_blit(320, 240, r.sx, r.sy, r.sw, r.sh, r.dx, r.dy, r.dw, r.dh);
    ASSERT_EQ(ok, c.ok) << c.what;
    if (!ok) continue;
    const Rects& o = c.out;
    EXPECT_EQ(std::vector<int>({r.sx, r.sy, r.sw, r.sh, r.dx, r.dy, r.dw, r.dh}),
              std::vector<int>({o.sx, o.sy, o.sw, o.sh, o.dx, o.dy, o.dw, o.dh}))
        << c.what;
  }
}

// The copy rule taken literally, one pixel and one division at a time, for
// checking the span copies and the stepped sampling against it.
void reference_copy(const Surface& src, int sx, int sy, int sw, int sh, Surface& dst, int dx,
                    int dy, int dw, int dh, bool keyed, std::uint8_t key) {
  const auto put = [&](int tx, int ty, int fx, int fy) {
    if (tx < 0 || ty < 0 || tx >= dst.width || ty >= dst.height) return;
    if (fx < 0 || fy < 0 || fx >= src.width || fy >= src.height) return;
    const std::uint8_t p = src.at(fx, fy);
    if (!keyed || p != key) dst.at(tx, ty) = p;
  };
  if (sw == dw && sh == dh) {
    for (int i = 0; i < sh; ++i)
      for (int c = 0; c < sw; ++c) put(dx + c, dy + i, sx + c, sy + i);
    return;
  }
  const int px =
      dw > sw ? (sw - 1) / 2 : (dw * (static_cast<int>(unsigned(sw) / unsigned(dw)) | 1)) / 2;
  const int py = dh > sh ? sh / 2 : (dh * (static_cast<int>(unsigned(sh) / unsigned(dh)) | 1)) / 2;
  for (int j = 0; j < dh; ++j)
    for (int i = 0; i < dw; ++i)
      put(dx + i, dy + j, sx + (px + i * sw) / dw, sy + (py + j * sh) / dh);
}

TEST(IndexCopy, MatchesThePixelByPixelRule) {
  std::mt19937 rng(12345);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  // Bytes with and without the high bit: the keyed copy tests whole words.
  constexpr int kBytes[] = {0, 1, 2, 0x7F, 0x80, 0x81, 0xFE, 0xFF};
  const auto byte = [&] { return kBytes[pick(0, 7)]; };
  for (int n = 0; n < 3000; ++n) {
    Surface src = make(pick(1, 24), pick(1, 24), [&](int, int) { return byte(); });
    Surface a = make(pick(1, 24), pick(1, 24), [&](int, int) { return pick(100, 110); });
    Surface b = a;
    const bool same = pick(0, 2) == 0;
    const int sw = pick(1, 30), sh = pick(1, 30);
    const int dw = same ? sw : pick(1, 30), dh = same ? sh : pick(1, 30);
    const int sx = pick(-10, 20), sy = pick(-10, 20), dx = pick(-30, 25), dy = pick(-30, 25);
    const bool keyed = pick(0, 1) == 1;
    const auto key = static_cast<std::uint8_t>(byte());
    index_copy(src, sx, sy, sw, sh, a, dx, dy, dw, dh, keyed, key);
    reference_copy(src, sx, sy, sw, sh, b, dx, dy, dw, dh, keyed, key);
    ASSERT_EQ(a.pixels, b.pixels) << "src " << src.width << "x" << src.height << " rect " << sx
                                  << "," << sy << " " << sw << "x" << sh << " dst " << a.width
                                  << "x" << a.height << " rect " << dx << "," << dy << " " << dw
                                  << "x" << dh << " keyed " << keyed << " key " << int(key);
  }
}

// Arguments near the ends of the 32-bit range must neither wrap into a
// drawable request nor touch memory outside the surfaces (the sanitizer build
// checks the latter).
TEST(HostileArguments, DrawNothingOutsideAndNeverWrap) {
  const int values[] = {INT_MIN, INT_MIN + 1, -100000, -1, 0, 1, 3, INT_MAX - 1, INT_MAX};
  for (int a : values) {
    for (int b : values) {
      for (int pos = 0; pos < 8; ++pos) {
        int v[8] = {0, 0, 4, 4, 0, 0, 4, 4};
        v[pos] = a;
        v[(pos + 3) % 8] = b;
        Surface src = make(4, 4, pattern);
        Surface dst = make(6, 6);
        dd_blit_rect(dst, src, v[0], v[1], v[2], v[3], v[4], v[5], pos % 2 == 0, -1);
        dd_blit_rect_to(dst, src, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], pos % 2 == 1, -1);
        index_copy(src, v[0], v[1], v[2], v[3], dst, v[4], v[5], v[6], v[7], false, 0);
        index_copy(src, v[0], v[1], v[2], v[3], dst, v[4], v[5], v[2], v[3], true, 0);
        dd_fill_rect(dst, v[0], v[1], v[2], v[3], 9);
        dd_plot(dst, a, b, 9);
        dd_pixelate(dst, a);
        int r[8] = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
        if (clip_scaled_blit(6, 6, r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7])) {
          // What survives the clip lies within the destination.
          EXPECT_GE(r[4], 0);
          EXPECT_GE(r[6], 0);
          EXPECT_LE(std::int64_t{r[4]} + r[6], 6);
          EXPECT_GE(r[5], 0);
          EXPECT_GE(r[7], 0);
          EXPECT_LE(std::int64_t{r[5]} + r[7], 6);
        }
      }
    }
  }
  // A right edge beyond the 32-bit range still ends at the surface edge.
  Surface s = make(8, 8);
  dd_fill_rect(s, INT_MAX, 0, INT_MAX, 8, 1);
  dd_fill_rect(s, 2, 0, INT_MAX, 8, 1);
  EXPECT_TRUE(pixels_are(s, [](int x, int) { return x >= 2 ? 1 : 0; }));
}

TEST(FillRect, ClipsToTheSurface) {
  struct Case {
    const char* what;
    int x, y, w, h;
    int x0, x1, y0, y1;  // filled, inclusive; x0 > x1 for nothing
  } cases[] = {
      {"width 0", 2, 2, 0, 3, 1, 0, 0, 0},
      {"height -1", 2, 2, 3, -1, 1, 0, 0, 0},
      {"x -5 width 10", -5, 0, 10, 7, 0, 4, 0, 6},
      {"past the bottom right", 8, 5, 10, 10, 8, 11, 5, 6},
      {"entirely left", -10, 0, 10, 7, 1, 0, 0, 0},
      {"entirely below", 0, 7, 4, 4, 1, 0, 0, 0},
      {"inside", 3, 1, 2, 4, 3, 4, 1, 4},
  };
  for (const auto& c : cases) {
    Surface s = make(12, 7);
    dd_fill_rect(s, c.x, c.y, c.w, c.h, 0x1AB);
    EXPECT_TRUE(pixels_are(s, [&](int x, int y) {
      return x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1 ? 0xAB : 0;
    })) << c.what;
  }
}

TEST(Plot, OnlyInsideTheSurface) {
  Surface s = make(5, 4);
  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {5, 0}, {0, 4}, {INT_MIN, INT_MAX}})
    dd_plot(s, x, y, 7);
  EXPECT_TRUE(pixels_are(s, [](int, int) { return 0; }));
  dd_plot(s, 4, 3, 0x307);
  dd_plot(s, 0, 0, 1);
  EXPECT_TRUE(pixels_are(s, [](int x, int y) { return x == 4 && y == 3 ? 7 : (x + y == 0); }));
}

TEST(Pixelate, BlocksTakeTheirTopLeftPixel) {
  struct Case {
    const char* what;
    int w, h, block, size;
  } cases[] = {
      // 12 x 7 in blocks of 5: 3 x 2 blocks, the last column and row 2 wide.
      {"block 0 means 5", 12, 7, 0, 5},        {"negative block means 5", 12, 7, -4, 5},
      {"block 1 changes nothing", 6, 4, 1, 1}, {"block larger than the surface", 6, 4, 9, 9},
      {"even division", 8, 4, 2, 2},           {"huge block", 3, 3, INT_MAX, INT_MAX},
  };
  for (const auto& c : cases) {
    Surface s = make(c.w, c.h, pattern);
    dd_pixelate(s, c.block);
    const std::int64_t b = c.size;
    EXPECT_TRUE(pixels_are(s, [&](int x, int y) {
      return pattern(static_cast<int>(x / b * b), static_cast<int>(y / b * b));
    })) << c.what;
  }
}

TEST(Pixelate, EmptySurfaceIsLeftAlone) {
  Surface s;
  dd_pixelate(s, 3);
  EXPECT_TRUE(s.pixels.empty());
}

}  // namespace
}  // namespace zt
