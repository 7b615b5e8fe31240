#include <gtest/gtest.h>

#include "dddd.h"
#include "display_fixture.h"
#include "qdarc.h"

namespace zt {
namespace {

using test::pixel;
using test::row_of;

class Surfaces8 : public test::Display8Test {
 protected:
  // A 24 x 8 cell whose pixel (x, y) is 1 + x + 24 * (y % 2): columns and
  // rows can be told apart.
  std::unique_ptr<TDDDDSurface> cell() {
    auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 24, 8, 0);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 24; ++x)
        s->SetPixel(x, y, static_cast<std::uint32_t>(1 + x + 24 * (y % 2)));
    return s;
  }
};

TEST_F(Surfaces8, BltRectClipsAtEveryEdge) {
  auto src = cell();
  auto dst = TDDDDSurface::CreateInSystemMemory(dddd(), 64, 16, 0);
  struct Case {
    const char* name;
    int x, y;
    int first_col, dst_col, cols;  // dst columns dst_col.. show source columns first_col..
    int first_row, dst_row, rows;
  };
  const Case cases[] = {
      {"left", -5, 0, 5, 0, 19, 0, 0, 8},         {"right", 50, 0, 0, 50, 14, 0, 0, 8},
      {"top", 10, -3, 0, 10, 24, 3, 0, 5},        {"bottom", 10, 12, 0, 10, 24, 0, 12, 4},
      {"outside right", 70, 0, 0, 0, 0, 0, 0, 0}, {"at the right edge", 64, 0, 0, 0, 0, 0, 0, 0},
      {"outside top", 0, -9, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::fill(*dst, 0);
    HRESULT hr = dst->BltRect(src.get(), c.x, c.y, RECT{0, 0, 24, 8}, DDBLTFAST_NOCOLORKEY);
    // An empty rectangle at the very edge is left to DirectDraw's answer.
    if (c.cols > 0 || c.x > 64 || c.y < -8) {
      EXPECT_EQ(hr, 0);
    }
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 64; ++x) {
        std::uint32_t want = 0;
        if (x >= c.dst_col && x < c.dst_col + c.cols && y >= c.dst_row && y < c.dst_row + c.rows) {
          int sx = c.first_col + x - c.dst_col, sy = c.first_row + y - c.dst_row;
          want = static_cast<std::uint32_t>(1 + sx + 24 * (sy % 2));
        }
        ASSERT_EQ(pixel(*dst, x, y), want) << "at " << x << "," << y;
      }
    }
  }
}

TEST_F(Surfaces8, BltKeepsTheScaleWhenCutAndMirrors) {
  auto src = cell();
  auto dst = TDDDDSurface::CreateInSystemMemory(dddd(), 64, 16, 0);
  DDBLTFX fx;
  std::memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;

  // Twice the size of 8 source columns, cut by the right edge at 64: the
  // source right edge moves by half the cut.
  test::fill(*dst, 0);
  EXPECT_EQ(dst->Blt(src.get(), RECT{56, 0, 72, 2}, RECT{0, 0, 8, 1}, DDBLT_WAIT, &fx), 0);
  auto r = row_of(*dst, 0);
  EXPECT_EQ(std::vector<std::uint32_t>(r.begin() + 56, r.end()),
            (std::vector<std::uint32_t>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(r[55], 0u);

  // Reversed rectangles are normalised.
  test::fill(*dst, 0);
  EXPECT_EQ(dst->Blt(src.get(), RECT{24, 1, 0, 0}, RECT{24, 1, 0, 0}, DDBLT_WAIT, &fx), 0);
  EXPECT_EQ(pixel(*dst, 0, 0), 1u);
  EXPECT_EQ(pixel(*dst, 23, 0), 24u);

  // Whole source mirrored left-right, destination cut on the left: the
  // rightmost source columns are dropped.
  test::fill(*dst, 0);
  fx.dwDDFX = DDBLTFX_MIRRORLEFTRIGHT;
  EXPECT_EQ(
      dst->Blt(src.get(), RECT{-4, 0, 20, 8}, RECT{0, 0, 24, 8}, DDBLT_WAIT | DDBLT_DDFX, &fx), 0);
  r = row_of(*dst, 0);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(r[x], static_cast<std::uint32_t>(20 - x)) << x;
  EXPECT_EQ(r[20], 0u);

  // Up-down: rows come in reverse, the cut top loses the source's bottom rows.
  test::fill(*dst, 0);
  fx.dwDDFX = DDBLTFX_MIRRORUPDOWN;
  EXPECT_EQ(
      dst->Blt(src.get(), RECT{0, -1, 24, 7}, RECT{0, 0, 24, 8}, DDBLT_WAIT | DDBLT_DDFX, &fx), 0);
  EXPECT_EQ(pixel(*dst, 0, 0), 1u + 24u * 0);  // source row 6
  EXPECT_EQ(pixel(*dst, 0, 1), 1u + 24u * 1);  // source row 5
  EXPECT_EQ(pixel(*dst, 0, 7), 0u);

  // Entirely outside: nothing drawn, 0 returned.
  test::fill(*dst, 0);
  fx.dwDDFX = 0;
  EXPECT_EQ(dst->Blt(src.get(), RECT{65, 0, 80, 8}, RECT{0, 0, 24, 8}, DDBLT_WAIT, &fx), 0);
  EXPECT_EQ(row_of(*dst, 0), std::vector<std::uint32_t>(64, 0));
}

TEST_F(Surfaces8, ColourKeyOfTheSourceIsSkipped) {
  auto src = TDDDDSurface::CreateInSystemMemory(dddd(), 4, 1, 9);
  const std::uint32_t values[4] = {9, 3, 9, 4};
  for (int x = 0; x < 4; ++x) src->SetPixel(x, 0, values[x]);
  auto dst = TDDDDSurface::CreateInSystemMemory(dddd(), 8, 2, 0);
  test::fill(*dst, 7);
  EXPECT_EQ(dst->BltRect(src.get(), 2, 0, RECT{0, 0, 4, 1}, DDBLTFAST_SRCCOLORKEY), 0);
  EXPECT_EQ(row_of(*dst, 0), (std::vector<std::uint32_t>{7, 7, 7, 3, 7, 4, 7, 7}));

  DDBLTFX fx;
  std::memset(&fx, 0, sizeof fx);
  fx.dwSize = sizeof fx;
  EXPECT_EQ(dst->Blt(src.get(), RECT{0, 1, 8, 2}, RECT{0, 0, 4, 1}, DDBLT_KEYSRC | DDBLT_WAIT, &fx),
            0);
  EXPECT_EQ(row_of(*dst, 1), (std::vector<std::uint32_t>{7, 7, 3, 3, 7, 7, 4, 4}));

  EXPECT_EQ(dst->BltRect(src.get(), 2, 0, RECT{0, 0, 4, 1}, DDBLTFAST_NOCOLORKEY), 0);
  EXPECT_EQ(row_of(*dst, 0), (std::vector<std::uint32_t>{7, 7, 9, 3, 9, 4, 7, 7}));
}

TEST_F(Surfaces8, FillAndSetPixel) {
  auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 8, 4, 0);
  test::fill(*s, 0);
  s->FillRect(RECT{6, -2, 12, 2}, 5);  // clipped to the surface
  EXPECT_EQ(row_of(*s, 1), (std::vector<std::uint32_t>{0, 0, 0, 0, 0, 0, 5, 5}));
  EXPECT_EQ(pixel(*s, 6, 2), 0u);

  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage}.bits());
  s->SetPixel(8, 0, 99);
  s->SetPixel(-1, 3, 99);
  s->SetPixel(0, 4, 99);
  EXPECT_EQ(
      test::log_lines("dddd.debug"),
      (std::vector<std::string>{"debug#00001 ... サーフェス外のピクセルを変更しようとしました",
                                "debug#00002 ... サーフェス外のピクセルを変更しようとしました",
                                "debug#00003 ... サーフェス外のピクセルを変更しようとしました"}));
  EXPECT_EQ(row_of(*s, 0), (std::vector<std::uint32_t>{0, 0, 0, 0, 0, 0, 5, 5}));

  // Inside a held lock the pixel goes through the caller's lock.
  DDSURFACEDESC2 d;
  s->Lock(d);
  s->SetPixel(7, 3, 42);
  EXPECT_EQ(static_cast<std::uint8_t*>(d.lpSurface)[3 * d.lPitch + 7], 42);
  s->Unlock();
  EXPECT_FALSE(s->Locked);
  EXPECT_EQ(pixel(*s, 7, 3), 42u);
}

TEST_F(Surfaces8, EightBitBitmapsSitAtTheBottomAndKeepTheirIndices) {
  struct Case {
    const char* name;
    int w, h;
    int first_row;  // surface rows first_row.. show bitmap rows (h - rows)..
  };
  const Case cases[] = {
      {"shorter", 320, 200, 40}, {"taller", 320, 260, 0}, {"wider and narrow", 400, 10, 230}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::BmpPicture p;
    p.bits = 8;
    p.rows.resize(static_cast<std::size_t>(c.h));
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        p.rows[y].push_back(static_cast<std::uint32_t>((x + y) % 200 + 1));
    std::string file =
        test::write_temp(std::string("pic") + std::to_string(c.h) + ".bmp", test::make_bmp(p));
    auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 320, 240, 0);
    test::fill(*s, 250);
    s->LoadFromFile(file);
    EXPECT_EQ(s->FileName, file);
    EXPECT_EQ(s->SourceKind, 0);
    for (int y : {0, c.first_row - 1, c.first_row, 239}) {
      if (y < 0) continue;
      for (int x : {0, 1, 319}) {
        std::uint32_t want = 250;
        if (y >= c.first_row) {
          int by = c.h - (240 - y);
          want = static_cast<std::uint32_t>((x + by) % 200 + 1);
        }
        EXPECT_EQ(pixel(*s, x, y), want) << x << "," << y;
      }
    }
  }
  // A bitmap of height 0 copies nothing.
  test::BmpPicture empty = test::solid_picture(8, 0, 8, 1);
  empty.rows.clear();
  auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 8, 8, 0);
  test::fill(*s, 3);
  s->LoadFromFile(test::write_temp("h0.bmp", test::make_bmp(empty)));
  EXPECT_EQ(pixel(*s, 0, 7), 3u);
}

TEST_F(Surfaces8, AColourTableOfTwoEntriesLoads) {
  // 11 x 11 at 8 bits with 2 colours: 194 bytes, as small as a sheet gets.
  test::BmpPicture p = test::solid_picture(11, 11, 8, 0);
  p.rows[5][5] = 1;
  p.palette = {0x000000, 0xFFFFFF};
  p.clr_used = 2;
  p.table_entries = 2;
  const test::Bytes bmp = test::make_bmp(p);
  ASSERT_EQ(bmp.size(), 194u);
  auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 11, 11, 0);
  test::fill(*s, 7);
  EXPECT_TRUE(s->LoadFromFile(test::write_temp("two.bmp", bmp)));
  EXPECT_EQ(pixel(*s, 5, 5), 1u);
  EXPECT_EQ(pixel(*s, 0, 0), 0u);
}

TEST_F(Surfaces8, DeeperBitmapGoesThroughGdiColourMatching) {
  // Entry 5 is pure red in the display palette, and nothing else is near it.
  for (auto& e : dddd().PaletteEntries) e = PALETTEENTRY{0, 0, 0, PC_NOCOLLAPSE};
  dddd().PaletteEntries[5] = PALETTEENTRY{255, 0, 0, PC_NOCOLLAPSE};
  dddd().PaletteEntries[6] = PALETTEENTRY{0, 0, 255, PC_NOCOLLAPSE};
  dddd().UpdatePalette();
  auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 16, 4, 0);
  s->Surface->SetPalette(dddd().Palette.get());
  test::fill(*s, 0);
  test::BmpPicture p = test::solid_picture(16, 4, 24, 0xFF0000);
  for (int x = 8; x < 16; ++x) p.rows[0][x] = 0x0000FF;
  s->LoadFromFile(test::write_temp("red24.bmp", test::make_bmp(p)));
  EXPECT_EQ(pixel(*s, 0, 3), 5u);
  EXPECT_EQ(pixel(*s, 9, 0), 6u);
}

TEST_F(Surfaces8, LoadFailuresAreLoggedAndKeepThePicture) {
  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage, ddoHaltOnError}.bits());
  auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 8, 8, 0);
  test::fill(*s, 4);
  test::Bytes bmp = test::make_bmp(test::solid_picture(8, 8, 8, 1));
  test::Bytes not_bm = bmp;
  not_bm[0] = 'X';
  test::Bytes four_bit = bmp;
  four_bit[28] = 4;
  test::Bytes short_info(bmp.begin(), bmp.begin() + 30);
  test::Bytes short_file(bmp.begin(), bmp.begin() + 10);
  std::string missing = test::temp_dir() + "missing.bmp";

  s->LoadFromFile(missing);
  s->LoadFromFile(test::write_temp("notbm.bmp", not_bm));
  s->LoadFromFile(test::write_temp("short1.bmp", short_file));
  s->LoadFromFile(test::write_temp("short2.bmp", short_info));
  s->LoadFromArchive(test::write_temp("a.qda", test::make_qda_plain({{"x.bmp", bmp}})), "y.bmp");
  EXPECT_EQ(test::halt_count, 0);
  s->LoadFromFile(test::write_temp("4bit.bmp", four_bit));
  EXPECT_EQ(test::halt_count, 1);  // a wrong colour depth halts like a failed call
  test::halt_count = 0;

  EXPECT_EQ(test::log_lines("dddd.debug"),
            (std::vector<std::string>{
                "debug#00001 ... " + missing + "が、見つかりません",
                "debug#00002 ... 不正なBMPファイルです",
                "debug#00003 ... ビットマップの読みこみ中に、エラーが発生しました",
                "debug#00004 ... LoadBMP中に、読み込みエラーが発生しました",
                "debug#00005 ... アーカイブからのビットマップの読み取りに失敗しました",
                "debug#00006 ... "
                "色数が8ビット～32ビットの範囲のビットマップを、LoadBMPには指定してください(Error "
                "Code(1))",
            }));
  EXPECT_EQ(pixel(*s, 3, 3), 4u);
  EXPECT_EQ(s->SourceKind, 0);
  EXPECT_EQ(s->ArchiveName, test::temp_dir() + "a.qda");
}

TEST_F(Surfaces8, BitmapsFromPlainAndEncodedArchives) {
  test::BmpPicture p = test::solid_picture(16, 4, 8, 2);
  p.rows[0] = std::vector<std::uint32_t>(16, 7);
  test::Bytes bmp = test::make_bmp(p);
  std::string plain = test::write_temp("plain.qda", test::make_qda_plain({{"Sheet.bmp", bmp}}));
  std::string packed = test::write_temp(
      "packed.qda", test::make_qda_encoded({{"sheet.bmp", test::bpe_encode(bmp, 500)}},
                                           {static_cast<std::uint32_t>(bmp.size())}));
  for (const std::string& archive : {plain, packed}) {
    SCOPED_TRACE(archive);
    auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 16, 4, 0);
    test::fill(*s, 0);
    s->LoadFromArchive(archive, "SHEET.BMP");
    EXPECT_EQ(s->SourceKind, 1);
    EXPECT_EQ(pixel(*s, 0, 0), 7u);
    EXPECT_EQ(pixel(*s, 15, 3), 2u);
  }
}

TEST_F(Surfaces8, SurfacesRegisterWithTheirOwner) {
  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage, ddoDetailedLog}.bits());
  auto a = TDDDDSurface::CreateInSystemMemory(dddd(), 8, 8, 0);
  auto b = std::make_unique<TDDDDSurface>(dddd(), 8, 8, 0);
  ASSERT_EQ(dddd().SurfaceList.size(), 2u);
  EXPECT_EQ(&dddd().SurfaceList[1]->Surface, b.get());
  dddd().AddSurface(*a);  // listed again: the old keeper goes
  ASSERT_EQ(dddd().SurfaceList.size(), 2u);
  EXPECT_EQ(&dddd().SurfaceList[1]->Surface, a.get());
  a.reset();
  ASSERT_EQ(dddd().SurfaceList.size(), 1u);
  b.reset();
  EXPECT_TRUE(dddd().SurfaceList.empty());
  auto lines = test::log_lines("dddd.debug");
  std::string text;
  for (auto& l : lines) text += l.substr(l.find(" ... ") + 5) + "\n";
  EXPECT_NE(text.find("サーフェスをシステムメモリに配置します\n"), std::string::npos);
  EXPECT_NE(text.find("サーフェスリストの1番に追加しました\n"), std::string::npos);
  EXPECT_NE(
      text.find("サーフェスリストの1番が解放されました\nサーフェスリストの0番が解放されました\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("PixelFormat: AMask=00000000 RMask=00000000 GMask=00000000 BMask=00000000\n"),
            std::string::npos);
  EXPECT_EQ(text.find("(Error Code("), std::string::npos) << text;
}

TEST_F(Surfaces8, CanvasDrawsThroughGdi) {
  auto s = TDDDDSurface::CreateInSystemMemory(dddd(), 8, 8, 0);
  test::fill(*s, 0);
  {
    TDDDDCanvas canvas(*s);
    EXPECT_TRUE(canvas.Valid);
    HDC dc = canvas.Handle();
    ASSERT_NE(dc, nullptr);
    EXPECT_TRUE(canvas.Valid);
    EXPECT_EQ(canvas.Handle(), dc);
    RECT r{0, 0, 4, 4};
    ::FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  EXPECT_NE(pixel(*s, 1, 1), 0u);
  EXPECT_EQ(pixel(*s, 6, 6), 0u);
}

// A 32-bit desktop: pixels are composed from the pixel format's masks.
class Surfaces32 : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_logs();
    display = std::make_unique<test::Display>(320, 240, 0);
  }
  void TearDown() override {
    display.reset();
    EXPECT_EQ(test::halt_count, 0);
  }
  std::unique_ptr<test::Display> display;
};

TEST_F(Surfaces32, BitmapsOfEveryDepthAreConverted) {
  TDDDD& dddd = *display->dddd;
  ASSERT_EQ(dddd.BitDepth, 32);
  EXPECT_FALSE(dddd.Palette);
  auto s = TDDDDSurface::CreateInSystemMemory(dddd, 4, 2, 0);
  EXPECT_EQ(s->ColorValue(255, 0x12, 0x34, 0x56), 0x123456u);
  struct Case {
    int bits;
    std::uint32_t colour, want;
  };
  const Case cases[] = {
      {8, 0x00AABBCC, 0xAABBCC},   // through the colour table
      {16, 0x00F80800, 0xFF0800},  // 5-bit fields widened
      {24, 0x00102030, 0x102030},
      {32, 0x00405060, 0x405060},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    test::BmpPicture p = test::solid_picture(4, 2, c.bits, c.bits == 8 ? 3 : c.colour);
    p.palette.assign(256, 0);
    p.palette[3] = c.colour;
    test::fill(*s, 0);
    s->LoadFromFile(test::write_temp("d" + std::to_string(c.bits) + ".bmp", test::make_bmp(p)));
    EXPECT_EQ(pixel(*s, 0, 0) & 0xFFFFFF, c.want);
    EXPECT_EQ(pixel(*s, 3, 1) & 0xFFFFFF, c.want);
  }
}

// The colour table is what the header declares (0 colours: 256), never
// read past the pixels; an index beyond it is black.
TEST_F(Surfaces32, ColourTablesAsTheHeaderDeclaresThem) {
  TDDDD& dddd = *display->dddd;
  auto s = TDDDDSurface::CreateInSystemMemory(dddd, 4, 2, 0);
  struct Case {
    const char* what;
    int bits;
    std::uint32_t table_entries, clr_used, value, want;
  };
  const Case cases[] = {
      {"two colours", 8, 2, 2, 1, 0x010203},
      {"an index past them", 8, 2, 2, 5, 0x000000},
      {"none declared, 16 before the pixels", 8, 16, 0, 9, 0x090A0B},
      {"more than 256 declared", 8, 256, 300, 255, 0xFF0001},
      {"24 bits without a table", 24, 0, 0, 0x102030, 0x102030},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::BmpPicture p = test::solid_picture(4, 2, c.bits, c.value);
    for (std::uint32_t i = 0; i < c.table_entries; ++i) {
      p.palette.push_back(((i & 0xFF) << 16) | (((i + 1) & 0xFF) << 8) | ((i + 2) & 0xFF));
    }
    p.table_entries = c.table_entries;
    p.clr_used = c.clr_used;
    test::fill(*s, 0xFFFFFF);
    EXPECT_TRUE(s->LoadFromFile(test::write_temp("table.bmp", test::make_bmp(p))));
    EXPECT_EQ(pixel(*s, 0, 0) & 0xFFFFFF, c.want);
    EXPECT_EQ(pixel(*s, 3, 1) & 0xFFFFFF, c.want);
  }
}

}  // namespace
}  // namespace zt
