#include "qda_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/qda.h"

namespace zt::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t u32_at(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  for (auto& x : b) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<std::uint8_t>(seed >> 24);
  }
  return b;
}

Bytes text_bytes(std::size_t n) {
  static const std::string words[] = {"the ",    "pendulum ", "swings ", "over ", "a ",
                                      "target ", "and ",      "hits ",   "it.\n"};
  Bytes b;
  std::uint32_t seed = 7;
  while (b.size() < n) {
    seed = seed * 1664525u + 1013904223u;
    const std::string& w = words[(seed >> 16) % 9];
    b.insert(b.end(), w.begin(), w.end());
  }
  b.resize(n);
  return b;
}

// An 8-bit picture: horizontal bands with a few dithered pixels.
Bytes bitmap_bytes(int w, int h) {
  Bytes b;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      b.push_back(static_cast<std::uint8_t>(16 + y / 8 + ((x + y) % 13 == 0 ? 1 : 0)));
    }
  }
  return b;
}

Bytes every_byte_value(int repeats) {
  Bytes b;
  for (int r = 0; r < repeats; ++r) {
    for (int c = 0; c < 256; ++c) b.push_back(static_cast<std::uint8_t>(c));
  }
  return b;
}

struct DataCase {
  const char* what;
  Bytes data;
  bool compressible;
};

std::vector<DataCase> data_cases() {
  Bytes long_run(30000, 0x55);
  Bytes alternating;
  for (int i = 0; i < 20000; ++i) alternating.push_back(i % 2 ? 0xAA : 0x00);
  return {
      {"random", random_bytes(20000, 1), false},
      {"text", text_bytes(30000), true},
      {"bitmap", bitmap_bytes(320, 240), true},
      {"long run", long_run, true},
      {"alternating bytes", alternating, true},
      {"every byte value", every_byte_value(40), false},
      {"one byte", {0x42}, false},
      {"two bytes", {0x80, 0xFF}, false},
      {"one block exactly", Bytes(8192, 0), true},
      {"one block and one byte", Bytes(8193, 0), true},
  };
}

Bytes unwrap(const std::variant<Bytes, QdaWriteError>& r) {
  if (const auto* e = std::get_if<QdaWriteError>(&r)) {
    ADD_FAILURE() << e->message;
    return {};
  }
  return std::get<Bytes>(r);
}

TEST(QdaWriter, RoundTripThroughReader) {
  const std::vector<DataCase> cases = data_cases();
  std::vector<QdaMember> members;
  for (const DataCase& c : cases) members.push_back({c.what, c.data});
  for (bool encode : {true, false}) {
    const Bytes file = unwrap(write_qda(members, encode));
    const QdaArchive a = QdaArchive::parse(file);
    EXPECT_EQ(a.compressed(), encode);
    ASSERT_EQ(a.entries().size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const QdaEntry& e = a.entries()[i];
      EXPECT_EQ(e.name, cases[i].what);
      EXPECT_NE(e.stored_size, 0u) << e.name;
      EXPECT_EQ(e.unpacked_size, cases[i].data.size()) << e.name;
      EXPECT_EQ(a.load_member(cases[i].what), cases[i].data) << e.name << " encode " << encode;
    }
  }
}

TEST(BpeEncode, CompressibleDataShrinksAndUsesPairCodes) {
  for (const DataCase& c : data_cases()) {
    const Bytes packed = bpe_encode(c.data);
    // A 256-code stack is the smallest any decoder of these archives has.
    Bytes out;
    ASSERT_TRUE(bpe_decode(packed, c.data.size(), 256, out)) << c.what;
    EXPECT_EQ(out, c.data) << c.what;
    // With no room on the stack every pair is dropped, so only blocks
    // without pair codes come back whole.
    Bytes literal_only;
    ASSERT_TRUE(bpe_decode(packed, c.data.size(), 1, literal_only));
    if (c.compressible) {
      EXPECT_LT(packed.size(), c.data.size() / 2) << c.what;
      EXPECT_NE(literal_only, c.data) << c.what;
    } else {
      EXPECT_EQ(literal_only, c.data) << c.what;
    }
  }
}

TEST(BpeEncode, EmptyInputGivesNoBlocks) {
  EXPECT_TRUE(bpe_encode({}).empty());
}

TEST(QdaWriter, EncodedArchiveSmallerThanItsMembers) {
  const std::vector<QdaMember> members = {{"title.bmp", bitmap_bytes(300, 100)},
                                          {"notes.txt", text_bytes(5000)}};
  const Bytes file = unwrap(write_qda(members, true));
  EXPECT_LT(file.size(), members[0].data.size() + members[1].data.size());
}

TEST(QdaWriter, HeaderAndEntryLayout) {
  const std::vector<QdaMember> members = {{"a.wav", {1, 2, 3}}, {"Ball.bmp", {9}}};
  const Bytes file = unwrap(write_qda(members, false));
  ASSERT_EQ(file.size(), 256u + 2 * 268u + 4u);
  EXPECT_EQ(u32_at(file, 0), 0u);
  EXPECT_EQ(std::memcmp(&file[4], "QDA0", 4), 0);
  EXPECT_EQ(u32_at(file, 8), 2u);
  for (std::size_t i = 12; i < 256; ++i) ASSERT_EQ(file[i], 0) << i;
  const std::size_t e1 = 256 + 268;
  EXPECT_EQ(u32_at(file, e1), 256u + 2 * 268u + 3u);
  EXPECT_EQ(u32_at(file, e1 + 4), 1u);
  EXPECT_EQ(u32_at(file, e1 + 8), 1u);
  EXPECT_EQ(std::memcmp(&file[e1 + 12], "Ball.bmp", 8), 0);
  for (std::size_t i = e1 + 20; i < e1 + 268; ++i) ASSERT_EQ(file[i], 0) << i;

  EXPECT_EQ(u32_at(unwrap(write_qda(members, true)), 0), 1u);
}

TEST(QdaWriter, RejectsMembersTheReaderCouldNotReturn) {
  struct Case {
    const char* what;
    std::vector<QdaMember> members;
    const char* message_part;  // nullptr: accepted
  } cases[] = {
      {"empty data", {{"a.bmp", {}}}, "\"a.bmp\" is empty"},
      {"duplicate", {{"a.bmp", {1}}, {"a.bmp", {2}}}, "used twice"},
      {"duplicate by case", {{"a.bmp", {1}}, {"A.BMP", {2}}}, "\"A.BMP\" is used twice"},
      {"name of 256 bytes", {{std::string(256, 'n'), {1}}}, "256 bytes"},
      {"empty name", {{"", {1}}}, "empty name"},
      {"NUL in name", {{std::string("a\0b", 3), {1}}}, "NUL"},
      {"invalid UTF-8 in name", {{"a\xFF.bmp", {1}}}, "UTF-8"},
      {"UTF-8 name", {{"\xC3\xA9t\xC3\xA9.wav", {1}}}, nullptr},
      {"name of 255 bytes", {{std::string(255, 'n'), {1}}}, nullptr},
      {"no members", {}, nullptr},
  };
  for (const Case& c : cases) {
    for (bool encode : {true, false}) {
      const auto r = write_qda(c.members, encode);
      if (c.message_part == nullptr) {
        EXPECT_TRUE(std::holds_alternative<Bytes>(r)) << c.what;
      } else if (const auto* e = std::get_if<QdaWriteError>(&r)) {
        EXPECT_NE(e->message.find(c.message_part), std::string::npos) << e->message;
      } else {
        ADD_FAILURE() << c.what << " was accepted";
      }
    }
  }
}

}  // namespace
}  // namespace zt::tools
