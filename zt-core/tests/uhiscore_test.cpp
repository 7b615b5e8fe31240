#include "game/uhiscore.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace zt {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The 320 key bytes, straight from the generator's formula.
Bytes key_stream() {
  Bytes keys;
  std::uint32_t x = 517;
  for (int i = 0; i < 320; ++i) {
    x = (41 * x + 33) % 65536;
    keys.push_back(static_cast<std::uint8_t>(x % 255 + 1));
  }
  return keys;
}

Bytes xor_keys(Bytes bytes) {
  const Bytes keys = key_stream();
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= keys[i];
  return bytes;
}

void put_le64(Bytes& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One plain entry, laid out by hand. tail fills the name bytes behind the
// length and the reserved bytes (15 in all), as a foreign file might.
Bytes plain_entry(const std::string& name, std::int64_t score, double date, std::uint8_t tail = 0) {
  Bytes e;
  e.push_back(static_cast<std::uint8_t>(name.size()));
  for (std::size_t i = 0; i < 9; ++i) {
    e.push_back(i < name.size() ? static_cast<std::uint8_t>(name[i]) : tail);
  }
  for (int i = 0; i < 6; ++i) e.push_back(tail);
  put_le64(e, static_cast<std::uint64_t>(score));
  put_le64(e, std::bit_cast<std::uint64_t>(date));
  return e;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes image_of(const ScoreFileImage& image) {
  return Bytes(image.begin(), image.end());
}

// A plain table with reserved bytes, names with junk behind their length,
// and two equal neighbours.
std::vector<Bytes> fixture_entries() {
  return {plain_entry("ZED", 900000, 45000.25, 0xAB),
          plain_entry("A", 80000, 44000.5, 0x11),
          plain_entry("ABCDEFGHI", 80000, 43000.0),
          plain_entry("Q", 7000, 1.5),
          plain_entry("", 600, 0.0),
          plain_entry("X-!?", 50, 2.0),
          plain_entry("N", 4, 3.0),
          plain_entry("M", 3, 4.0),
          plain_entry("L", 2, 5.0),
          plain_entry("K", -5, 6.0)};
}

TEST(THiScoreTest, CreateGivesTheDefaultTable) {
  THiScore t;
  EXPECT_EQ(t.file_name(), "ZTScore.dat");
  EXPECT_TRUE(t.loaded());
  EXPECT_TRUE(t.changed());
  for (std::int32_t n = 1; n <= 10; ++n) {
    const ScoreEntryRaw e = t.get_entry2(n);
    const auto raw = e.encode();
    EXPECT_EQ(Bytes(raw.begin(), raw.end()), plain_entry("KOVAKOVA", (11 - n) * 1000, 2.0)) << n;
    EXPECT_EQ(e.f0(), "KOVAKOVA");
    EXPECT_EQ(e.fa(), (11 - n) * 1000);
  }
}

TEST(THiScoreTest, EntryOutsideTheTableIsEmptyWithScoreMinusOne) {
  THiScore t;
  for (std::int32_t n : {0, 11, -1, std::numeric_limits<std::int32_t>::min()}) {
    ScoreEntryRaw expected;
    expected.score = -1;
    const auto got = t.get_entry2(n).encode();
    EXPECT_EQ(got, expected.encode()) << n;
  }
}

TEST(THiScoreTest, RankOfOnTheDefaultTable) {
  THiScore t;
  const struct {
    std::int64_t score;
    std::int32_t rank;
  } cases[] = {{10001, 1},
               {10000, 2},
               {9999, 2},
               {5000, 7},
               {1001, 10},
               {1000, -1},
               {0, -1},
               {std::numeric_limits<std::int64_t>::max(), 1},
               {std::numeric_limits<std::int64_t>::min(), -1}};
  for (const auto& c : cases) EXPECT_EQ(t.rank_of(c.score), c.rank) << c.score;
}

TEST(THiScoreTest, InsertShiftsTheRestDownAndDropsTheLast) {
  THiScore t;
  t.insert("NEW", 5000, 40000.0);  // equal to place 6, so it goes below it
  EXPECT_EQ(t.get_entry2(7).f0(), "NEW");
  EXPECT_EQ(t.get_entry2(7).fa(), 5000);
  EXPECT_EQ(t.get_entry2(7).date, 40000.0);
  EXPECT_EQ(t.get_entry2(6).fa(), 5000);
  EXPECT_EQ(t.get_entry2(8).fa(), 4000);
  EXPECT_EQ(t.get_entry2(10).fa(), 2000);  // 1000 fell off

  t.insert("TOP", 20000, 1.0);
  EXPECT_EQ(t.get_entry2(1).f0(), "TOP");
  EXPECT_EQ(t.get_entry2(2).fa(), 10000);
  EXPECT_EQ(t.get_entry2(10).fa(), 3000);
}

TEST(THiScoreTest, InsertBelowTheTableOrAnExactDuplicateChangesNothing) {
  THiScore t;
  ASSERT_EQ(hiscore_load(t, image_of(*hiscore_bytes(t))), HiScoreLoad::Loaded);
  ASSERT_FALSE(t.changed());
  const ScoreEntries before = t.entries();

  t.insert("LOW", 1000, 3.0);
  EXPECT_FALSE(t.changed());

  t.insert("DUP", 9500, 3.0);
  ASSERT_TRUE(t.changed());
  ASSERT_TRUE(hiscore_bytes(t).has_value());
  const ScoreEntries once = t.entries();
  // The duplicate now sits at place 2, above the place the score ranks at.
  t.insert("DUP", 9500, 3.0);
  EXPECT_FALSE(t.changed());
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(t.entries()[i].encode(), once[i].encode());
  EXPECT_EQ(once[9].fa(), before[8].fa());

  // Any difference in name, score or date is a new entry.
  t.insert("DUP", 9500, 3.5);
  EXPECT_EQ(t.get_entry2(3).date, 3.5);
  t.insert("DUQ", 9500, 3.0);
  EXPECT_EQ(t.get_entry2(4).f0(), "DUQ");
}

// Dates compare by their stored bits: the same NaN or infinity is the same
// entry, while a NaN of another payload and -0 are dates of their own.
TEST(THiScoreTest, DatesThatAreNoNumbersAreDuplicatesOfTheirOwnBits) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double other_nan = std::bit_cast<double>(std::bit_cast<std::uint64_t>(nan) | 1);
  const double odd_dates[] = {nan, -nan, std::numeric_limits<double>::infinity(), -0.0};
  for (const double date : odd_dates) {
    SCOPED_TRACE(std::bit_cast<std::uint64_t>(date));
    THiScore t;
    t.insert("ODD", 20000, date);
    const ScoreEntries once = t.entries();
    t.insert("ODD", 20000, date);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(t.entries()[i].encode(), once[i].encode());
  }
  THiScore t;
  t.insert("ODD", 20000, nan);
  t.insert("ODD", 20000, other_nan);
  t.insert("ODD", 20000, 0.0);
  t.insert("ODD", 20000, -0.0);
  for (std::int32_t place = 1; place <= 4; ++place) EXPECT_EQ(t.get_entry2(place).f0(), "ODD");
}

TEST(THiScoreTest, InsertCutsLongNamesToNineBytes) {
  const struct {
    std::string name;
    std::string stored;
  } cases[] = {{"ABCDEFGHIJKL", "ABCDEFGHI"}, {"ABCDEFGHI", "ABCDEFGHI"}, {"", ""}};
  for (const auto& c : cases) {
    THiScore t;
    t.insert(c.name, 20000, 1.0);
    const ScoreEntryRaw e = t.get_entry2(1);
    EXPECT_EQ(e.name_length, c.stored.size());
    const auto raw = e.encode();
    EXPECT_EQ(Bytes(raw.begin(), raw.end()), plain_entry(c.stored, 20000, 1.0)) << c.name;
  }
}

TEST(THiScoreTest, DuplicateTestComparesNamesOnlyOverTheirLength) {
  // Entry 2 of the fixture is "A" with junk behind the length; the same play
  // inserted again is still a duplicate.
  THiScore t;
  ASSERT_EQ(t.load(xor_keys(concat(fixture_entries()))), HiScoreLoad::Loaded);
  t.insert("A", 80000, 44000.5);
  EXPECT_FALSE(t.changed());
}

TEST(THiScoreTest, LoadsAFixtureBuiltFromTheKeyStream) {
  const std::vector<Bytes> plain = fixture_entries();
  const Bytes file = xor_keys(concat(plain));
  ASSERT_EQ(file.size(), 320u);

  THiScore t;
  ASSERT_EQ(hiscore_load(t, file), HiScoreLoad::Loaded);
  EXPECT_TRUE(t.loaded());
  EXPECT_FALSE(t.changed());
  for (std::size_t i = 0; i < 10; ++i) {
    const auto raw = t.entries()[i].encode();
    EXPECT_EQ(Bytes(raw.begin(), raw.end()), plain[i]) << i;
  }
  EXPECT_EQ(t.get_entry2(1).f0(), "ZED");
  EXPECT_EQ(t.get_entry2(1).date, 45000.25);
  EXPECT_EQ(t.get_entry2(10).fa(), -5);

  // As in the file: nothing to write until a play goes in.
  EXPECT_FALSE(hiscore_bytes(t).has_value());

  t.insert("NEW", 8000, 7.0);
  std::vector<Bytes> expected = plain;
  expected.insert(expected.begin() + 3, plain_entry("NEW", 8000, 7.0));
  expected.pop_back();
  const auto written = hiscore_bytes(t);
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(image_of(*written), xor_keys(concat(expected)));
  EXPECT_FALSE(hiscore_bytes(t).has_value()) << "a second call has nothing to write";
}

TEST(THiScoreTest, FileImageRoundTripsByteForByte) {
  THiScore a;
  ASSERT_EQ(a.load(xor_keys(concat(fixture_entries()))), HiScoreLoad::Loaded);
  a.insert("RT", 100, 9.0);
  const Bytes first = image_of(*hiscore_bytes(a));

  THiScore b;
  ASSERT_EQ(b.load(first), HiScoreLoad::Loaded);
  ASSERT_EQ(b.load(first), HiScoreLoad::Loaded) << "the key stream restarts for every read";
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(b.entries()[i].encode(), a.entries()[i].encode());
}

TEST(THiScoreTest, MissingFileKeepsTheDefaultsToBeWritten) {
  THiScore t;
  EXPECT_EQ(hiscore_load(t, std::nullopt), HiScoreLoad::Missing);
  EXPECT_EQ(t.get_entry2(1).f0(), "KOVAKOVA");
  const auto bytes = hiscore_bytes(t);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(image_of(*bytes), xor_keys(concat([] {
              std::vector<Bytes> d;
              for (int n = 1; n <= 10; ++n)
                d.push_back(plain_entry("KOVAKOVA", (11 - n) * 1000, 2.0));
              return d;
            }())));
}

TEST(THiScoreTest, InvalidFilesFallBackToTheDefaults) {
  const Bytes good = xor_keys(concat(fixture_entries()));
  std::vector<Bytes> rising;
  for (int n = 0; n < 10; ++n) rising.push_back(plain_entry("UP", 5000 + 1000 * n, 1.0));
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {{"empty", {}},
               {"319 bytes", Bytes(good.begin(), good.end() - 1)},
               {"321 bytes",
                [&] {
                  Bytes b = good;
                  b.push_back(0);
                  return b;
                }()},
               {"scores rising", xor_keys(concat(rising))}};
  for (const auto& c : cases) {
    THiScore t;
    ASSERT_EQ(t.load(good), HiScoreLoad::Loaded);
    EXPECT_EQ(hiscore_load(t, c.file), HiScoreLoad::Invalid) << c.what;
    EXPECT_EQ(t.get_entry2(1).f0(), "KOVAKOVA") << c.what;
    EXPECT_EQ(t.get_entry2(10).fa(), 1000) << c.what;
    EXPECT_TRUE(hiscore_bytes(t).has_value()) << c.what << ": the defaults are written on exit";
  }
}

TEST(THiScoreTest, WrongLengthLeavesTheTableAsItWas) {
  THiScore t;
  ASSERT_EQ(t.load(xor_keys(concat(fixture_entries()))), HiScoreLoad::Loaded);
  EXPECT_EQ(t.load(Bytes(319, 0)), HiScoreLoad::Invalid);
  EXPECT_EQ(t.get_entry2(1).f0(), "ZED");
  EXPECT_FALSE(t.changed());
}

TEST(THiScoreTest, OnlyAFallingScoreIsOutOfOrder) {
  // Equal neighbours are in order, and scores compare signed.
  std::vector<Bytes> entries = fixture_entries();
  entries[9] = plain_entry("K", 3, 6.0);  // place 9 holds 2
  THiScore t;
  EXPECT_EQ(t.load(xor_keys(concat(entries))), HiScoreLoad::Invalid);
  entries[9] = plain_entry("K", 2, 6.0);
  EXPECT_EQ(t.load(xor_keys(concat(entries))), HiScoreLoad::Loaded);
  entries[9] = plain_entry("K", std::numeric_limits<std::int64_t>::min(), 6.0);
  EXPECT_EQ(t.load(xor_keys(concat(entries))), HiScoreLoad::Loaded);
}

}  // namespace
}  // namespace zt
