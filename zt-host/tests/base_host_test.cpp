#include "base_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <utility>

#include "file_size_limit.h"
#include "hostile_qda.h"

namespace zt {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A palette that tells entries apart, with a fourth byte of its own.
Palette test_palette(std::uint8_t seed) {
  Palette p{};
  for (std::size_t i = 0; i < 256; ++i) {
    p[4 * i + 0] = static_cast<std::uint8_t>(i + seed);
    p[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
    p[4 * i + 2] = static_cast<std::uint8_t>(i * 3 + seed);
    p[4 * i + 3] = static_cast<std::uint8_t>(seed + 1);
  }
  return p;
}

// Pixel (x, y) is seed + x + 16 y, so that every bitmap and row differs.
std::vector<std::uint8_t> test_pixels(std::int32_t w, std::int32_t h, std::uint8_t seed) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h));
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x)
      px[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint8_t>(seed + x + 16 * y);
  return px;
}

// An 8-bit bitmap file whose colour table keeps the palette's fourth bytes.
Bytes bitmap_file(std::int32_t w, std::int32_t h, std::uint8_t seed) {
  const Palette p = test_palette(seed);
  Bytes b = *bmp::bmp_indexed_bytes(w, h, test_pixels(w, h, seed), p);
  for (std::size_t i = 0; i < 256; ++i) b[54 + 4 * i + 3] = p[4 * i + 3];
  return b;
}

struct Member {
  std::string name;
  Bytes bytes;
};

// A plain (not byte-pair encoded) archive.
Bytes archive(const std::vector<Member>& members) {
  const std::size_t dir_end = 256 + 268 * members.size();
  Bytes b(dir_end, 0);
  b[4] = 'Q';
  b[5] = 'D';
  b[6] = 'A';
  b[7] = '0';
  put32(b, 8, static_cast<std::uint32_t>(members.size()));
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::size_t e = 256 + 268 * i;
    put32(b, e + 0, static_cast<std::uint32_t>(b.size()));
    put32(b, e + 4, static_cast<std::uint32_t>(members[i].bytes.size()));
    std::copy(members[i].name.begin(), members[i].name.end(),
              b.begin() + static_cast<std::ptrdiff_t>(e + 12));
    b.insert(b.end(), members[i].bytes.begin(), members[i].bytes.end());
  }
  return b;
}

// Sheet n is (n + 1) x (n + 2) pixels of seed n.
Size sheet_size(int n) {
  return {n + 1, n + 2};
}

std::vector<Member> sheet_members() {
  std::vector<Member> m;
  for (int n = 1; n <= kSheetCount; ++n) {
    const Size s = sheet_size(n);
    m.push_back({std::string(kSheetNames[static_cast<std::size_t>(n - 1)]),
                 bitmap_file(s.width, s.height, static_cast<std::uint8_t>(n))});
  }
  return m;
}

class BaseHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zt-basehost-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static void spit(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  static Bytes slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  std::variant<BaseHost, std::string> create(const std::vector<Member>& members) {
    spit(dir_ / "images.qda", archive(members));
    return BaseHost::create(dir_ / "images.qda");
  }
  std::string create_error(const std::vector<Member>& members) {
    auto r = create(members);
    if (auto* e = std::get_if<std::string>(&r)) return *e;
    return "(created)";
  }
  // The standard fixture: the 20 sheets, a member that is no sheet, and
  // behind a member with an empty name that is no bitmap at all.
  BaseHost host() {
    auto members = sheet_members();
    members.insert(members.begin() + 2, {"", Bytes{'n', 'o', 't'}});
    members.push_back({"extra.bmp", bitmap_file(3, 2, 99)});
    auto r = create(members);
    if (auto* e = std::get_if<std::string>(&r)) ADD_FAILURE() << *e;
    return std::move(std::get<BaseHost>(r));
  }

  fs::path dir_;
};

// Every surface's name, size, key, flag and pixels, to show that nothing changed.
std::vector<
    std::tuple<std::string, SurfaceId, std::int32_t, std::int32_t, std::int32_t, bool, Bytes>>
snapshot(const BaseHost& h) {
  std::vector<
      std::tuple<std::string, SurfaceId, std::int32_t, std::int32_t, std::int32_t, bool, Bytes>>
      out;
  for (const SurfaceEntry& e : h.surfaces())
    out.emplace_back(e.name, e.id, e.surface.width, e.surface.height, e.surface.colour_key,
                     e.surface.keyed, e.surface.pixels);
  return out;
}

TEST_F(BaseHostTest, StartUpMakesTheSheetsThenTheThreeFixedSurfaces) {
  BaseHost h = host();
  const auto& s = h.surfaces();
  ASSERT_EQ(s.size(), 23u);
  for (int n = 1; n <= kSheetCount; ++n) {
    const SurfaceEntry& e = s[static_cast<std::size_t>(n - 1)];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.name, kSheetNames[static_cast<std::size_t>(n - 1)]);
    EXPECT_EQ(e.id, sheet_id(n));
    EXPECT_EQ((Size{e.surface.width, e.surface.height}), sheet_size(n));
    EXPECT_EQ(e.surface.pixels,
              test_pixels(sheet_size(n).width, sheet_size(n).height, static_cast<std::uint8_t>(n)));
    EXPECT_EQ(e.surface.colour_key, n == kSheetTitle ? 255 : 0);
    EXPECT_EQ(e.surface.keyed, n == kSheetTitle);
  }
  const std::pair<const char*, SurfaceId> fixed[] = {
      {"screen", kFrame}, {"f8c", kPicture}, {"present", kPresent}};
  for (std::size_t i = 0; i < 3; ++i) {
    const SurfaceEntry& e = s[20 + i];
    EXPECT_EQ(e.name, fixed[i].first);
    EXPECT_EQ(e.id, fixed[i].second);
    EXPECT_EQ((Size{e.surface.width, e.surface.height}), (Size{320, 240}));
    EXPECT_EQ(e.surface.pixels, Bytes(320 * 240, 0));
  }

  // The empty-named member is skipped undecoded; the others stay in archive order.
  ASSERT_EQ(h.bitmaps().size(), 21u);
  EXPECT_EQ(h.bitmaps()[0].name, "ball.bmp");
  EXPECT_EQ(h.bitmaps()[2].name, "logo.bmp");
  EXPECT_EQ(h.bitmaps()[20].name, "extra.bmp");
  EXPECT_EQ(h.bitmaps()[0].bitmap.palette, test_palette(1));

  EXPECT_EQ(h.data_dir(), dir_);
  EXPECT_TRUE(h.events().empty());
  EXPECT_FALSE(h.last_frame());
  EXPECT_EQ(h.key_table(), (std::array<std::uint8_t, 256>{}));
  EXPECT_EQ(h.palette(), Palette{});
  EXPECT_EQ(h.pointer(), (Point{160, 120}));
  EXPECT_EQ(h.clock_ms(), 0u);
  EXPECT_EQ(h.scratch_serial(), 0u);
  EXPECT_FALSE(h.files().replay_open());
}

TEST_F(BaseHostTest, SheetNamesMatchWithoutRegardToCaseAndKeepTheMembersName) {
  auto members = sheet_members();
  members[16].name = "GAUGE.BMP";
  members.insert(members.begin(), {"Gauge.bmp-not", bitmap_file(2, 2, 7)});
  auto r = create(members);
  ASSERT_TRUE(std::holds_alternative<BaseHost>(r)) << std::get<std::string>(r);
  const SurfaceEntry& gauge = std::get<BaseHost>(r).surfaces()[16];
  EXPECT_EQ(gauge.name, "GAUGE.BMP");
  EXPECT_EQ(gauge.id, sheet_id(kSheetGauge));
  EXPECT_EQ((Size{gauge.surface.width, gauge.surface.height}), sheet_size(kSheetGauge));
}

TEST_F(BaseHostTest, StartUpFailuresNameWhatFailed) {
  auto without_gauge = sheet_members();
  without_gauge.erase(without_gauge.begin() + 16);

  auto two_planes = sheet_members();
  two_planes[3].bytes[26] = 2;

  // A member listed with no bytes cannot be loaded; the one behind it is never reached.
  auto empty_member = sheet_members();
  empty_member[5].bytes.clear();
  empty_member[6].bytes = {1, 2, 3};

  auto no_bitmap = sheet_members();
  no_bitmap.push_back({"readme.txt", Bytes{'h', 'i'}});

  const std::pair<std::vector<Member>, std::string> cases[] = {
      {without_gauge, "images.qda is missing gauge.bmp"},
      {two_planes, "QDA member 3 (title.bmp): unsupported BMP"},
      {empty_member, "could not decode QDA member 5 (MenuIcon.bmp)"},
      {no_bitmap, "QDA member 20 (readme.txt): unsupported BMP"},
      {{}, "images.qda is missing ball.bmp"},
  };
  for (const auto& [members, message] : cases) EXPECT_EQ(create_error(members), message);

  const fs::path missing = dir_ / "nothing" / "images.qda";
  EXPECT_EQ(std::get<std::string>(BaseHost::create(missing)),
            missing.string() + ": No such file or directory");
  EXPECT_EQ(std::get<std::string>(BaseHost::create(dir_)), dir_.string() + ": not a regular file");
}

// Small archives whose entries all point at one packed member that expands:
// decoding stops at a bound, the member is named, and start-up then fails as
// it does for any member that cannot be decoded.
TEST_F(BaseHostTest, ExpandingArchivesAreRefusedByNameBeforeTheStartUpError) {
  const std::string refused = "images.qda: member ";
  struct Case {
    const char* what;
    std::size_t entries;
    std::int32_t width, height;
    std::string line, error;
  } cases[] = {
      {"a 4096 x 16000 bitmap for every sheet", 20, 4096, 16000,
       refused + "ball.bmp refused: decodes to more than 16777216 bytes",
       "could not decode QDA member 0 (ball.bmp)"},
      {"the same for 100 entries", 100, 4096, 16000,
       refused + "ball.bmp refused: decodes to more than 16777216 bytes",
       "could not decode QDA member 0 (ball.bmp)"},
      {"a sheet of absurd size", 20, 60000, 200,
       refused +
           "ball.bmp refused: 60000 x 200 pixels is more than a sheet may have (4096 on a side, "
           "4194304 in all)",
       "QDA member 0 (ball.bmp): unsupported BMP"},
      {"sheets of 4 MiB, more than the archive may decode to", 20, 2048, 2048,
       refused + "next2.bmp refused: the archive decodes to more than 33554432 bytes in all",
       "could not decode QDA member 7 (next2.bmp)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> names(kSheetNames.begin(), kSheetNames.end());
    while (names.size() < c.entries) names.push_back("extra" + std::to_string(names.size()));
    const Bytes head = test::bmp_headers(c.width, c.height);
    const std::uint64_t rows = (std::uint64_t(c.width) + 3) / 4 * 4 * std::uint64_t(c.height);
    const Bytes packed = test::bpe_run(head, 0, rows);
    const Bytes file =
        test::shared_member_qda(names, packed, static_cast<std::uint32_t>(head.size() + rows));
    ASSERT_LT(file.size(), 30000u);
    spit(dir_ / "images.qda", file);
    std::ostringstream err;
    const auto made = BaseHost::create(dir_ / "images.qda", err);
    ASSERT_TRUE(std::holds_alternative<std::string>(made));
    EXPECT_EQ(std::get<std::string>(made), c.error);
    EXPECT_EQ(err.str(), c.line + "\n");
  }

  // An ordinary archive says nothing.
  spit(dir_ / "images.qda", archive(sheet_members()));
  std::ostringstream err;
  EXPECT_TRUE(std::holds_alternative<BaseHost>(BaseHost::create(dir_ / "images.qda", err)));
  EXPECT_EQ(err.str(), "");
}

TEST_F(BaseHostTest, DataDirectoryOfABareFileNameIsTheCurrentOne) {
  spit(dir_ / "images.qda", archive(sheet_members()));
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  auto r = BaseHost::create("images.qda");
  fs::current_path(before);
  ASSERT_TRUE(std::holds_alternative<BaseHost>(r));
  BaseHost& h = std::get<BaseHost>(r);
  EXPECT_EQ(h.data_dir(), fs::path("."));
}

TEST_F(BaseHostTest, IdsNameSurfacesByKindAndTheirOwnNumberOnly) {
  BaseHost h = host();
  const SurfaceId stray_bits = 0xFFFF0000u;  // bits 16-31 are not compared
  EXPECT_EQ(h.surface_table().surface_size(kFrame | stray_bits), (Size{320, 240}));
  EXPECT_EQ(h.surface_table().surface_size(kPresent | (SurfaceId{7} << 32)), (Size{320, 240}));
  EXPECT_EQ(h.surface_table().surface_size(sheet_id(kSheetGameOver) | stray_bits),
            sheet_size(kSheetGameOver));

  const SurfaceId nothing[] = {sheet_id(0), sheet_id(21), 5, 0xFF, scratch_id(1), scratch_id(0)};
  const auto before = snapshot(h);
  for (const SurfaceId id : nothing) {
    SCOPED_TRACE(id);
    EXPECT_EQ(h.surface_table().surface_size(id), Size{});
    h.surface_table().dd_fill_rect(id, 0, 0, 10, 10, 9);
    h.surface_table().dd_plot(id, 0, 0, 9);
    h.surface_table().dd_pixelate(id, 2);
    h.surface_table().dd_blit_rect(kFrame, id, 0, 0, 2, 2, 0, 0, false);
    h.surface_table().dd_blit_rect(id, sheet_id(kSheetBall), 0, 0, 2, 2, 0, 0, false);
    h.surface_table().dd_blit_rect_to(kFrame, id, 0, 0, 2, 2, 0, 0, 4, 4, false);
    h.surface_table().dd_blit_rect_to(id, sheet_id(kSheetBall), 0, 0, 2, 2, 0, 0, 4, 4, true);
    EXPECT_FALSE(h.load_named_into(id, "ball.bmp"));
    EXPECT_TRUE(h.save_screenshot(id, Palette{}, 1));
    h.surface_table().free_surface(id);
  }
  EXPECT_EQ(snapshot(h), before);
  EXPECT_FALSE(fs::exists(dir_ / "ScrSht1.bmp"));
}

TEST_F(BaseHostTest, ScratchSerialsCountUpAndAreNeverReused) {
  BaseHost h = host();
  const SurfaceId failed = h.surface_table().create_scratch(0, 10);
  EXPECT_EQ(failed, (SurfaceId{1} << 32) + 4);
  EXPECT_EQ(h.surface_table().surface_size(failed), Size{});
  EXPECT_EQ(h.surfaces().size(), 23u);

  const SurfaceId a = h.surface_table().create_scratch(3, 2);
  EXPECT_EQ(a, (SurfaceId{2} << 32) + 4);
  ASSERT_EQ(h.surfaces().size(), 24u);
  EXPECT_EQ(h.surfaces().back().name, "scratch2");
  EXPECT_EQ(h.surfaces().back().surface.pixels, Bytes(6, 0));
  EXPECT_EQ(h.surface_table().surface_size(a), (Size{3, 2}));

  h.surface_table().free_surface(a);
  EXPECT_EQ(h.surface_table().surface_size(a), Size{});
  EXPECT_EQ(h.surface_table().create_scratch(1, 1), (SurfaceId{3} << 32) + 4);
  EXPECT_EQ(h.surface_table().create_scratch(5, -1), (SurfaceId{4} << 32) + 4);
  EXPECT_EQ(h.scratch_serial(), 4u);
}

TEST_F(BaseHostTest, FreeSurfaceRemovesItAndKeepsTheOrder) {
  BaseHost h = host();
  h.surface_table().free_surface(sheet_id(kSheetLogo));
  EXPECT_EQ(h.surface_table().surface_size(sheet_id(kSheetLogo)), Size{});
  ASSERT_EQ(h.surfaces().size(), 22u);
  EXPECT_EQ(h.surfaces()[2].name, "title.bmp");
  EXPECT_EQ(h.surfaces()[3].name, "titlebg.bmp");

  // With the frame gone nothing is presented.
  h.surface_table().free_surface(kFrame);
  h.present();
  EXPECT_TRUE(h.events().empty());
  EXPECT_FALSE(h.last_frame());
}

TEST_F(BaseHostTest, KeyedCopiesUseEachSheetsStoredKey) {
  BaseHost h = host();
  // Ball (2 x 3, seed 1): pixel (x, y) = 1 + x + 16 y; make (0, 0) the key colour 0.
  h.surface_table().dd_plot(sheet_id(kSheetBall), 0, 0, 0);
  h.surface_table().dd_fill_rect(kFrame, 0, 0, 320, 240, 200);
  h.surface_table().dd_blit_rect(kFrame, sheet_id(kSheetBall), 0, 0, 2, 2, 10, 20, true);
  const Surface& frame = *h.surface(kFrame);
  EXPECT_EQ(frame.at(10, 20), 200);  // key 0 skipped
  EXPECT_EQ(frame.at(11, 20), 2);
  EXPECT_EQ(frame.at(10, 21), 17);
  EXPECT_TRUE(h.surface(sheet_id(kSheetBall))->keyed);

  // Title (5 x 6, seed 4) is keyed on 255; 0 is drawn.
  h.surface_table().dd_plot(sheet_id(kSheetTitle), 0, 0, 255);
  h.surface_table().dd_plot(sheet_id(kSheetTitle), 1, 0, 0);
  h.surface_table().dd_blit_rect(kFrame, sheet_id(kSheetTitle), 0, 0, 2, 1, 30, 30, true);
  EXPECT_EQ(frame.at(30, 30), 200);
  EXPECT_EQ(frame.at(31, 30), 0);

  // Unkeyed: every pixel, the flag cleared, the key kept.
  h.surface_table().dd_blit_rect(kFrame, sheet_id(kSheetTitle), 0, 0, 2, 1, 40, 40, false);
  EXPECT_EQ(frame.at(40, 40), 255);
  EXPECT_FALSE(h.surface(sheet_id(kSheetTitle))->keyed);
  EXPECT_EQ(h.surface(sheet_id(kSheetTitle))->colour_key, 255);
  h.surface_table().dd_blit_rect(kFrame, sheet_id(kSheetTitle), 0, 0, 2, 1, 50, 50, true);
  EXPECT_EQ(frame.at(50, 50), 200);

  // The scaled copy forwards the same way: ball's 2 x 2 corner doubled.
  h.surface_table().dd_blit_rect_to(kFrame, sheet_id(kSheetBall), 0, 0, 2, 2, 100, 100, 4, 4, true);
  EXPECT_EQ(frame.at(100, 100), 200);
  EXPECT_EQ(frame.at(101, 101), 200);
  EXPECT_EQ(frame.at(102, 100), 2);
  EXPECT_EQ(frame.at(103, 103), 18);
}

TEST_F(BaseHostTest, CopiesLeaveTheListOrderAndRefuseOneSurfaceOntoItself) {
  BaseHost h = host();
  std::vector<SurfaceId> order;
  for (const auto& e : h.surfaces()) order.push_back(e.id);
  h.surface_table().dd_blit_rect(kFrame, sheet_id(kSheetField), 0, 0, 20, 21, 0, 0, false);
  h.surface_table().dd_blit_rect_to(kPresent, kFrame, 0, 0, 320, 240, 0, 0, 640, 480, false);
  std::vector<SurfaceId> after;
  for (const auto& e : h.surfaces()) after.push_back(e.id);
  EXPECT_EQ(after, order);
  EXPECT_EQ(h.surface(kPresent)->at(1, 1), h.surface(kFrame)->at(0, 0));

  h.surface_table().dd_fill_rect(kFrame, 0, 0, 1, 1, 7);
  const auto before = snapshot(h);
  h.surface_table().dd_blit_rect(kFrame, kFrame, 0, 0, 10, 10, 1, 1, false);
  h.surface_table().dd_blit_rect_to(kFrame | 0xFF00, kFrame, 0, 0, 10, 10, 1, 1, 20, 20, false);
  const SurfaceId s = h.surface_table().create_scratch(4, 4);
  h.surface_table().dd_fill_rect(s, 0, 0, 4, 4, 3);
  const auto with_scratch = snapshot(h);
  h.surface_table().dd_blit_rect(s, s, 0, 0, 2, 2, 2, 2, true);
  EXPECT_EQ(snapshot(h), with_scratch);
  h.surface_table().free_surface(s);
  EXPECT_EQ(snapshot(h), before);
}

TEST_F(BaseHostTest, FillPlotAndMosaicReachTheirSurface) {
  BaseHost h = host();
  const SurfaceId s = h.surface_table().create_scratch(4, 3);
  h.surface_table().dd_fill_rect(s, -1, 1, 3, 5, 9);
  h.surface_table().dd_plot(s, 3, 0, 5);
  h.surface_table().dd_plot(s, 4, 0, 6);  // outside
  EXPECT_EQ(h.surface(s)->pixels, (Bytes{0, 0, 0, 5, 9, 9, 0, 0, 9, 9, 0, 0}));
  h.surface_table().dd_pixelate(s, 2);
  EXPECT_EQ(h.surface(s)->pixels, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 9, 9, 0, 0}));
}

TEST_F(BaseHostTest, LoadNamedIntoReplacesTheSurfaceAndGivesThePalette) {
  BaseHost h = host();
  const auto palette = h.load_named_into(kPicture, "BALL.bmp");
  ASSERT_TRUE(palette);
  EXPECT_EQ(*palette, test_palette(1));  // fourth bytes carried along
  const SurfaceEntry& picture = h.surfaces()[21];
  EXPECT_EQ(picture.name, "BALL.bmp");
  EXPECT_EQ(picture.id, kPicture);
  EXPECT_EQ(h.surface_table().surface_size(kPicture), sheet_size(kSheetBall));
  EXPECT_EQ(picture.surface.pixels, test_pixels(2, 3, 1));

  // Into the title sheet: the bitmap's key and flag replace the sheet's.
  ASSERT_TRUE(h.load_named_into(sheet_id(kSheetTitle), "extra.bmp"));
  EXPECT_EQ(h.surface_table().surface_size(sheet_id(kSheetTitle)), (Size{3, 2}));
  EXPECT_EQ(h.surface(sheet_id(kSheetTitle))->colour_key, 0);
  EXPECT_FALSE(h.surface(sheet_id(kSheetTitle))->keyed);

  // Drawing on the loaded copy leaves the decoded bitmap alone.
  h.surface_table().dd_fill_rect(kPicture, 0, 0, 2, 3, 77);
  ASSERT_TRUE(h.load_named_into(kFrame, "ball.bmp"));
  EXPECT_EQ(h.surface(kFrame)->pixels, test_pixels(2, 3, 1));

  const auto before = snapshot(h);
  EXPECT_FALSE(h.load_named_into(kPicture, "ball.bm"));
  EXPECT_FALSE(h.load_named_into(kPicture, "ball.bmpx"));
  EXPECT_FALSE(h.load_named_into(kPicture, ""));
  EXPECT_EQ(snapshot(h), before);
}

TEST_F(BaseHostTest, PresentAndRealizeQueueFramesWithTheirPalettes) {
  BaseHost h = host();
  const Palette p1 = test_palette(10);
  const Palette p2 = test_palette(20);
  h.realize_palette(p1);
  EXPECT_EQ(h.palette(), p1);
  EXPECT_TRUE(h.events().empty());  // nothing shown yet

  h.surface_table().dd_plot(kFrame, 5, 6, 42);
  h.present();
  Bytes first(320 * 240, 0);
  first[6 * 320 + 5] = 42;
  ASSERT_EQ(h.events().size(), 1u);
  EXPECT_EQ(h.events()[0].pixels, first);
  EXPECT_EQ(h.events()[0].palette, p1);
  EXPECT_EQ(h.events()[0].width, 320);
  EXPECT_EQ(h.events()[0].height, 240);
  EXPECT_EQ(h.last_frame(), first);

  // A new palette re-shows the frame last presented, not what was drawn since.
  h.surface_table().dd_plot(kFrame, 0, 0, 1);
  h.realize_palette(p2);
  h.realize_palette(p1);
  h.present();
  Bytes second = first;
  second[0] = 1;

  const std::vector<DisplayEvent> events = h.take_events();
  EXPECT_TRUE(h.events().empty());
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[1].pixels, first);
  EXPECT_EQ(events[1].palette, p2);
  EXPECT_EQ(events[2].pixels, first);
  EXPECT_EQ(events[2].palette, p1);
  EXPECT_EQ(events[3].pixels, second);
  EXPECT_EQ(events[3].palette, p1);
}

TEST_F(BaseHostTest, ScreenshotDecodesBackToTheSurfaceAndPalette) {
  BaseHost h = host();
  const SurfaceId s = h.surface_table().create_scratch(7, 3);
  for (std::int32_t y = 0; y < 3; ++y)
    for (std::int32_t x = 0; x < 7; ++x)
      h.surface_table().dd_plot(s, x, y, static_cast<std::uint8_t>(x * 30 + y));
  const Palette p = test_palette(5);
  EXPECT_FALSE(h.save_screenshot(s, p, 12));
  const auto decoded = decode_indexed_bmp(slurp(dir_ / "ScrSht12.bmp"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->surface.pixels, h.surface(s)->pixels);
  EXPECT_EQ(decoded->surface.width, 7);
  for (std::size_t i = 0; i < 256; ++i) {
    EXPECT_EQ(decoded->palette[4 * i + 0], p[4 * i + 0]);
    EXPECT_EQ(decoded->palette[4 * i + 2], p[4 * i + 2]);
    EXPECT_EQ(decoded->palette[4 * i + 3], 0);  // the fourth byte is not written
  }
}

// Pictures of earlier runs, and anything else under a screenshot's name, stay
// as they are: each shot takes the next free number.
TEST_F(BaseHostTest, AScreenshotNeverReplacesAFile) {
  BaseHost h = host();
  const Palette p = test_palette(2);
  spit(dir_ / "ScrSht0.bmp", Bytes{'o', 'l', 'd'});
  fs::create_directory(dir_ / "ScrSht1.bmp");
  fs::create_symlink("elsewhere.bmp", dir_ / "ScrSht2.bmp");
  const auto shot = [&](std::int32_t n) { return h.save_screenshot(kFrame, p, n); };

  // The core's numbers 0, 1, 2 ... as it counts while S is held.
  EXPECT_FALSE(shot(0));
  EXPECT_EQ(slurp(dir_ / "ScrSht3.bmp").size(), 77878u);
  EXPECT_FALSE(shot(1));
  EXPECT_TRUE(fs::exists(dir_ / "ScrSht4.bmp")) << "never back below the last one written";
  spit(dir_ / "ScrSht5.bmp", Bytes{'n', 'e', 'w'});  // made meanwhile by someone else
  EXPECT_FALSE(shot(2));
  EXPECT_EQ(slurp(dir_ / "ScrSht6.bmp").size(), 77878u);
  EXPECT_FALSE(shot(9));  // a number ahead of the host's is taken as it stands
  EXPECT_TRUE(fs::exists(dir_ / "ScrSht9.bmp"));

  EXPECT_EQ(slurp(dir_ / "ScrSht0.bmp"), (Bytes{'o', 'l', 'd'}));
  EXPECT_TRUE(fs::is_directory(dir_ / "ScrSht1.bmp"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "ScrSht2.bmp"));
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere.bmp")) << "a link is never followed";
  EXPECT_EQ(slurp(dir_ / "ScrSht5.bmp"), (Bytes{'n', 'e', 'w'}));
}

TEST_F(BaseHostTest, AScreenshotFailsOnAWriteErrorOrWhenNoNumberIsLeft) {
  BaseHost h = host();
  const Palette p = test_palette(2);
  {
    const test::FileSizeLimit disk(1000);  // a disk that fills up
    EXPECT_TRUE(h.save_screenshot(kFrame, p, 0));
  }
  EXPECT_FALSE(fs::exists(dir_ / "ScrSht0.bmp")) << "no part of a picture is left";

  constexpr std::int32_t kLast = std::numeric_limits<std::int32_t>::max();
  spit(dir_ / ("ScrSht" + std::to_string(kLast) + ".bmp"), Bytes{1});
  EXPECT_TRUE(h.save_screenshot(kFrame, p, kLast));
  EXPECT_EQ(slurp(dir_ / ("ScrSht" + std::to_string(kLast) + ".bmp")), Bytes{1});

  // Without its data directory nothing can be written: failed at once.
  fs::remove_all(dir_);
  EXPECT_TRUE(h.save_screenshot(kFrame, p, 0));
}

TEST_F(BaseHostTest, ReplayAndSongFilesLiveInTheDataDirectory) {
  BaseHost h = host();
  RecorderIo& io = h;
  EXPECT_FALSE(io.file_exists(2));
  ASSERT_FALSE(io.open_for_write(2));
  EXPECT_FALSE(io.write({1, 2, 3, 4}));
  EXPECT_FALSE(io.commit());
  EXPECT_EQ(slurp(BaseHost::rec_path(dir_, 2)), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(BaseHost::rec_path(dir_, 2), dir_ / "Rec" / "Rec2.dat");
  ASSERT_FALSE(io.open_for_read(2));
  EXPECT_EQ(io.read(4), (Bytes{1, 2, 3, 4}));

  spit(dir_ / "title.mid", {0});
  KbgmSink& songs = h;
  EXPECT_TRUE(songs.file_exists("title.mid"));
  EXPECT_FALSE(songs.file_exists("stage.mid"));
}

#ifdef ZT_DATA_DIR
TEST(GeneratedData, AllTwentySheetsLoadAtTheirCutSizes) {
  // The sizes the game cuts the sheets into cells by.
  const std::array<Size, kSheetCount> sizes = {{
      {128, 256}, {11, 11},   {219, 148}, {300, 100}, {320, 240}, {320, 32},  {480, 72},
      {480, 72},  {90, 54},   {288, 36},  {90, 48},   {400, 40},  {60, 150},  {55, 8},
      {250, 120}, {250, 120}, {300, 30},  {500, 320}, {160, 320}, {300, 120},
  }};
  const auto found = require_data_dir(ZT_DATA_DIR);
  if (!std::holds_alternative<fs::path>(found)) GTEST_SKIP() << std::get<std::string>(found);
  auto r = BaseHost::create(std::get<fs::path>(found));
  ASSERT_TRUE(std::holds_alternative<BaseHost>(r)) << std::get<std::string>(r);
  BaseHost& h = std::get<BaseHost>(r);
  for (int n = 1; n <= kSheetCount; ++n) {
    SCOPED_TRACE(kSheetNames[static_cast<std::size_t>(n - 1)]);
    EXPECT_EQ(h.surface_table().surface_size(sheet_id(n)), sizes[static_cast<std::size_t>(n - 1)]);
  }
  // The pictures whose palettes the screens take.
  EXPECT_TRUE(h.load_named_into(kPicture, "logo.bmp"));
  EXPECT_TRUE(h.load_named_into(kPicture, "ball.bmp"));
}
#endif

}  // namespace
}  // namespace zt
