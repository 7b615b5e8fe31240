#include "formats/qda.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hostile_qda.h"

namespace zt {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void put_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes u32(std::uint32_t v) {
  Bytes b(4);
  put_u32(b, 0, v);
  return b;
}

// One encoded block: the pair table run, the packed count, the packed bytes.
Bytes block(const Bytes& run, const Bytes& packed) {
  return run + u32(static_cast<std::uint32_t>(packed.size())) + packed;
}

struct Member {
  Bytes name;
  Bytes data;
  std::uint32_t unpacked = 0;
};

constexpr std::size_t kEntry0 = kQdaHeaderSize;

// An archive laid out as the tools write it: header, directory, then data.
Bytes archive(std::int32_t flag, const std::vector<Member>& members) {
  Bytes b(kQdaHeaderSize + kQdaEntrySize * members.size());
  put_u32(b, 0, static_cast<std::uint32_t>(flag));
  std::memcpy(&b[4], "QDA0", 4);
  put_u32(b, 8, static_cast<std::uint32_t>(members.size()));
  for (std::size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    const std::size_t at = kEntry0 + i * kQdaEntrySize;
    put_u32(b, at, static_cast<std::uint32_t>(b.size()));
    put_u32(b, at + 4, static_cast<std::uint32_t>(m.data.size()));
    put_u32(b, at + 8, m.unpacked);
    std::memcpy(&b[at + 12], m.name.data(), std::min(m.name.size(), kQdaNameSize));
    b = b + m.data;
  }
  return b;
}

Bytes encoded_archive(const Bytes& data, std::uint32_t unpacked) {
  return archive(1, {{bytes("m"), data, unpacked}});
}

std::optional<Bytes> load(const Bytes& file, std::string_view name = "m") {
  return QdaArchive::parse(file).load_member(name);
}

// Pair table runs used below.
// Only literals: a skip to 128, code 128 itself, a skip to 256.
const Bytes kLiteralRun = {0xFF, 0x80, 0xFE};
// 0x80 = (A, B), 0x81 = (0x80, 0x80), skip to 256: the tools' worked example.
const Bytes kExampleBlock = {0xFF, 0x41, 0x42, 0x00, 0x80, 0x80, 0xFD,
                             0x03, 0x00, 0x00, 0x00, 0x81, 0x80, 0x43};
// 200 = (A, B), 201 = (200, C).
const Bytes kNestedRun = {0xFF, 0x80, 0xC6, 0x41, 0x42, 0x00, 0xC8, 0x43, 0xB5};

TEST(QdaParse, HeaderAndDirectory) {
  Bytes file = archive(1, {{bytes("a.bmp"), bytes("xyz"), 7}, {bytes("b.wav"), bytes("12"), 0}});
  std::memcpy(&file[4], "JUNK", 4);  // the magic is not checked
  QdaArchive a = QdaArchive::parse(file);
  EXPECT_TRUE(a.compressed());
  ASSERT_EQ(a.entries().size(), 2u);
  const std::size_t data0 = kQdaHeaderSize + 2 * kQdaEntrySize;
  EXPECT_EQ(a.entries()[0].name, "a.bmp");
  EXPECT_EQ(a.entries()[0].offset, data0);
  EXPECT_EQ(a.entries()[0].stored_size, 3u);
  EXPECT_EQ(a.entries()[0].unpacked_size, 7u);
  EXPECT_EQ(a.entries()[1].name, "b.wav");
  EXPECT_EQ(a.entries()[1].offset, data0 + 3);
}

TEST(QdaParse, CompressedOnlyWhenFlagIsOne) {
  for (std::int32_t flag : {0, 2, -1, 0x100, 257}) {
    Bytes file = archive(flag, {{bytes("m"), bytes("abc")}});
    QdaArchive a = QdaArchive::parse(file);
    EXPECT_FALSE(a.compressed()) << flag;
    EXPECT_EQ(a.load_member("m"), bytes("abc")) << flag;
  }
}

TEST(QdaParse, EntryCountIsClaimBoundedByWholeEntries) {
  const Bytes three = archive(0, {{bytes("a"), {}}, {bytes("b"), {}}, {bytes("c"), {}}});
  struct Case {
    std::int32_t claimed;
    std::size_t file_size;
    std::size_t listed;
  } cases[] = {
      {3, three.size(), 3},
      {1000, three.size(), 3},
      {3, kQdaHeaderSize + 3 * kQdaEntrySize - 1, 2},  // third entry cut short
      {2, three.size(), 2},
      {0, three.size(), 0},
      {-1, three.size(), 0},
      {INT32_MIN, three.size(), 0},
      {5, kQdaHeaderSize, 0},
  };
  for (const Case& c : cases) {
    Bytes file(three.begin(), three.begin() + static_cast<std::ptrdiff_t>(c.file_size));
    put_u32(file, 8, static_cast<std::uint32_t>(c.claimed));
    EXPECT_EQ(QdaArchive::parse(file).entries().size(), c.listed)
        << c.claimed << " " << c.file_size;
  }
}

TEST(QdaParse, ShortFileHasNoEntriesAndNoFlag) {
  Bytes file = archive(1, {{bytes("m"), bytes("x")}});
  file.resize(kQdaHeaderSize - 1);
  QdaArchive a = QdaArchive::parse(file);
  EXPECT_FALSE(a.compressed());
  EXPECT_TRUE(a.entries().empty());
  EXPECT_FALSE(a.load_member("m"));
  EXPECT_TRUE(QdaArchive::parse({}).entries().empty());
}

TEST(QdaNames, TextUpToNulWithInvalidUtf8Replaced) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string raw, text;
  } cases[] = {
      {std::string("ball.bmp\0junk", 13), "ball.bmp"},
      {std::string(256, 'x'), std::string(256, 'x')},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"\xFF", fffd},
      {"a\xC3", "a" + fffd},
      {"\xE2\x82x", fffd + "x"},                        // truncated sequence: one replacement
      {"\xC0\x80", fffd + fffd},                        // overlong
      {"\xED\xA0\x80", fffd + fffd + fffd},             // surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
      {"\x80\xBFz", fffd + fffd + "z"},
  };
  for (const Case& c : cases) {
    const Bytes raw = bytes(c.raw);
    EXPECT_EQ(qda_name_text(raw), c.text) << c.raw;
  }
}

TEST(QdaNames, FullLengthNameWithoutNulInArchive) {
  const Bytes name(256, 'N');
  Bytes file = archive(0, {{name, bytes("data")}});
  QdaArchive a = QdaArchive::parse(file);
  ASSERT_EQ(a.entries().size(), 1u);
  EXPECT_EQ(a.entries()[0].name, std::string(256, 'N'));
  EXPECT_EQ(a.load_member(std::string(256, 'n')), bytes("data"));
}

TEST(QdaLookup, AsciiCaseIgnoredFirstMatchWins) {
  const Bytes file = archive(0, {{bytes("Ball.BMP"), bytes("ball")},
                                 {bytes("\xC3\x89t\xC3\xA9.wav"), bytes("ete")},
                                 {bytes("dup"), bytes("first")},
                                 {bytes("DUP"), bytes("second")},
                                 {bytes("bad\xFF"), bytes("bad")}});
  const QdaArchive a = QdaArchive::parse(file);
  struct Case {
    std::string name;
    std::optional<std::string> data;
  } cases[] = {
      {"Ball.BMP", "ball"},
      {"ball.bmp", "ball"},
      {"BALL.BMP", "ball"},
      {"ball.bm", std::nullopt},
      {"ball.bmpx", std::nullopt},
      {"\xC3\x89t\xC3\xA9.wav", "ete"},
      {"\xC3\xA9t\xC3\xA9.wav", std::nullopt},  // only ASCII letters fold
      {"Dup", "first"},
      {"bad\xEF\xBF\xBD", "bad"},  // found by the replaced text
      {"bad\xFF", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    auto got = a.load_member(c.name);
    if (c.data) {
      EXPECT_EQ(got, bytes(*c.data)) << c.name;
    } else {
      EXPECT_FALSE(got) << c.name;
    }
  }
}

TEST(QdaLoad, StoredSizeZeroAndOutOfFileAreMissing) {
  const Bytes base = archive(0, {{bytes("m"), bytes("abcd")}});
  const std::uint32_t data_at = static_cast<std::uint32_t>(kQdaHeaderSize + kQdaEntrySize);
  struct Case {
    const char* what;
    std::uint32_t offset, stored;
    bool found;
  } cases[] = {
      {"whole member", data_at, 4, true},
      {"ends at end of file", data_at + 1, 3, true},
      {"stored size 0", data_at, 0, false},
      {"one byte past the end", data_at + 1, 4, false},
      {"offset past the end", data_at + 100, 1, false},
      {"sum wraps in 32 bits", 0xFFFFFFF0u, 0x20, false},
  };
  for (std::int32_t flag : {0, 1}) {
    for (const Case& c : cases) {
      Bytes file = base;
      put_u32(file, 0, static_cast<std::uint32_t>(flag));
      put_u32(file, kEntry0, c.offset);
      put_u32(file, kEntry0 + 4, c.stored);
      // Encoded, "abcd" is a run that ends inside its first block, so only
      // plain archives produce bytes here; both must reject the bad entries.
      if (flag == 0) {
        EXPECT_EQ(load(file).has_value(), c.found) << c.what;
      } else if (!c.found) {
        EXPECT_FALSE(load(file)) << c.what;
      }
    }
  }
}

TEST(QdaLoad, PlainMemberIsStoredBytesWhateverTheUnpackedSize) {
  const Bytes data = block(kLiteralRun, bytes("hi"));
  for (std::uint32_t unpacked : {0u, 1u, 100u}) {
    EXPECT_EQ(load(archive(0, {{bytes("m"), data, unpacked}})), data) << unpacked;
  }
}

TEST(QdaDecode, Blocks) {
  Bytes all_literal_run = {0x7F};
  for (int c = 0; c < 128; ++c) all_literal_run.push_back(static_cast<std::uint8_t>(c));
  all_literal_run.push_back(0x7F);
  for (int c = 128; c < 256; ++c) all_literal_run.push_back(static_cast<std::uint8_t>(c));
  // A group claiming 128 codes from 129 reaches 256 after 127: the byte after
  // them already belongs to the packed count.
  Bytes group_past_end_run = {0xFF, 0x80, 0x7F};
  for (int c = 129; c < 256; ++c) group_past_end_run.push_back(static_cast<std::uint8_t>(c));
  // 0x80 = (A, A), 0x81 = (0x80, 0x80), 0x82 = (0x81, 0x81): 0x82 is 8 A's.
  const Bytes doubling_run = {0xFF, 0x41, 0x41, 0x01, 0x80, 0x80, 0x81, 0x81, 0xFC};

  struct Case {
    const char* what;
    Bytes data;
    std::uint32_t unpacked;
    std::optional<Bytes> out;
  } cases[] = {
      {"worked example", kExampleBlock, 7, bytes("ABABABC")},
      {"worked example, size from stored size", kExampleBlock, 0, bytes("ABABABC")},
      {"count byte 255 defines code 128 only",
       block({0xFF, 0x41, 0x42, 0xFF}, {0x80, 0x81, 0x00, 0x7F}), 100,
       Bytes{0x41, 0x42, 0x81, 0x00, 0x7F}},
      {"skip-only literal table copies bytes", block(kLiteralRun, {0x00, 0x80, 0xFF, 0x80}), 100,
       Bytes{0x00, 0x80, 0xFF, 0x80}},
      {"explicit literal table copies bytes", block(all_literal_run, {0xC8, 0x00, 0x41}), 100,
       Bytes{0xC8, 0x00, 0x41}},
      {"nested pairs", block(kNestedRun, {0xC8, 0xC9}), 100, bytes("ABABC")},
      {"capacity cuts the expansion", block(kNestedRun, {0xC8, 0xC9}), 3, bytes("ABA")},
      {"capacity from stored size cuts", block(doubling_run, {0x82, 0x82}), 0,
       Bytes(doubling_run.size() + 4 + 2, 'A')},
      {"group ends at code 256", block(group_past_end_run, bytes("hi")), 100, bytes("hi")},
      {"every block resets the table",
       block({0xFF, 0x41, 0x42, 0xFE}, {0x80}) + block(kLiteralRun, {0x80}), 100,
       Bytes{0x41, 0x42, 0x80}},
      {"capacity reached in the first block ends decoding",
       block(kNestedRun, {0xC9}) + block(kLiteralRun, bytes("zz")), 3, bytes("ABC")},
      {"packed count larger than the input", kLiteralRun + u32(50) + bytes("abc"), 100,
       bytes("abc")},
      {"input ends inside the first run", {0xFF, 0x41}, 100, std::nullopt},
      {"input ends inside a right byte", {0xFF, 0x41, 0x42, 0x00, 0x80}, 100, std::nullopt},
      {"input ends inside a later run", block(kLiteralRun, bytes("ab")) + Bytes{0x7F, 0x00}, 100,
       bytes("ab")},
      {"fewer than 4 bytes of count", block(kLiteralRun, bytes("ab")) + kLiteralRun + Bytes{3, 0},
       100, bytes("ab")},
      {"empty block produces nothing", block(kLiteralRun, {}), 100, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(load(encoded_archive(c.data, c.unpacked)), c.out) << c.what;
  }
}

TEST(QdaDecode, CyclicPairTableFailsInsteadOfLooping) {
  // 0x80 = (A, 0x80): a right-recursive pair.
  const Bytes self_run = {0xFF, 0x41, 0x80, 0xFE};
  // 0x80 = (0x81, 0x81), 0x81 = (0x80, 0x80): expands for ever without output.
  const Bytes mutual_run = {0xFF, 0x81, 0x81, 0x00, 0x80, 0x80, 0xFD};
  struct Case {
    const char* what;
    Bytes data;
    std::optional<Bytes> out;
  } cases[] = {
      {"right byte is the code itself", block(self_run, {0x80}), std::nullopt},
      {"two codes reach each other", block(mutual_run, {0x80}), std::nullopt},
      {"packed code leading into a cycle",
       block({0xFF, 0x81, 0x81, 0x00, 0x80, 0x41, 0x00, 0x81, 0x42, 0xFC}, {0x41, 0x82}),
       std::nullopt},
      {"earlier blocks are discarded too",
       block(kLiteralRun, bytes("ok")) + block(mutual_run, {0x81}), std::nullopt},
      {"cycle never used decodes", block(mutual_run, bytes("AB")), bytes("AB")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(load(encoded_archive(c.data, 1000)), c.out) << c.what;
  }
}

// The fixture the Windows reader's tests read as well.
TEST(QdaDecode, HostileMembersAreRefusedWithoutRunningAway) {
  const QdaArchive a = QdaArchive::parse(test::hostile_qda_archive());
  EXPECT_EQ(a.load_member(test::kDoublingMember), std::nullopt);
  EXPECT_EQ(a.load_member(test::kUnusedCycleMember), bytes("AB"));
  EXPECT_EQ(a.load_member(test::kUsedCycleMember), std::nullopt);
}

TEST(QdaDecode, AMemberIsBoundedAt16MiBWhateverItsStorage) {
  // 0x80 = (A, A) and each later code the pair of the one before: 0xFF alone
  // stands for 2^128 bytes.
  Bytes run = {0xFF, 0x41, 0x41, 0x7E};
  for (int c = 129; c < 256; ++c)
    run = run + Bytes{static_cast<std::uint8_t>(c - 1), static_cast<std::uint8_t>(c - 1)};
  const Bytes data = block(run, {0xFF});
  const auto at_bound = load(encoded_archive(data, static_cast<std::uint32_t>(kQdaMaxMember)));
  ASSERT_TRUE(at_bound);
  EXPECT_EQ(at_bound->size(), kQdaMaxMember);

  const QdaArchive over =
      QdaArchive::parse(encoded_archive(data, static_cast<std::uint32_t>(kQdaMaxMember + 1)));
  QdaBudget budget;
  const QdaLoad refused = over.load_member("m", budget);
  EXPECT_FALSE(refused.bytes);
  ASSERT_TRUE(refused.refused);
  EXPECT_EQ(refused.refused->bound, QdaRefusal::Bound::Member);
  EXPECT_EQ(refused.refused->limit, kQdaMaxMember);
  EXPECT_EQ(budget.spent(), 0u) << "refused from its claim, before decoding";

  // A plain member is a copy: it costs its stored size.
  const Bytes plain(kQdaMaxMember + 1, 'p');
  EXPECT_EQ(load(archive(0, {{bytes("m"), plain}})), std::nullopt);
}

// Many entries pointing at one packed member that expands: what was decoded
// adds up, and the archive's bound ends it.
TEST(QdaBudget, EntriesSharingOneExpandingMemberStopAtTheArchiveBound) {
  const std::uint32_t ten_mib = 10 << 20;
  const Bytes packed = test::bpe_run({}, 0, ten_mib);
  ASSERT_LT(packed.size(), 300u);
  std::vector<std::string> names;
  for (int i = 0; i < 20; ++i) names.push_back("m" + std::to_string(i));
  const QdaArchive a = QdaArchive::parse(test::shared_member_qda(names, packed, ten_mib));

  QdaBudget budget;
  for (int i = 0; i < 20; ++i) {
    const QdaLoad got = a.load_member(names[static_cast<std::size_t>(i)], budget);
    if (i < 3) {
      ASSERT_TRUE(got.bytes) << i;
      EXPECT_EQ(got.bytes->size(), ten_mib);
      EXPECT_EQ(std::count(got.bytes->begin(), got.bytes->end(), 0), ten_mib);
    } else {
      EXPECT_FALSE(got.bytes) << i;
      ASSERT_TRUE(got.refused) << i;
      EXPECT_EQ(got.refused->bound, QdaRefusal::Bound::Archive);
      EXPECT_EQ(got.refused->limit, kQdaMaxArchive);
    }
  }
  EXPECT_EQ(budget.spent(), 3u * ten_mib);
}

TEST(QdaBudget, ChargesWhatWasDecodedAndRefusesClaimsBeyondWhatIsLeft) {
  // A member bound of 8 bytes and an archive bound of 20.
  const Bytes plain = archive(0, {{bytes("a"), bytes("12345678")},
                                  {bytes("b"), bytes("123456789")},
                                  {bytes("c"), bytes("12345678")},
                                  {bytes("d"), bytes("12345678")},
                                  {bytes("e"), bytes("1234")}});
  const Bytes encoded = archive(1, {{bytes("a"), block(kLiteralRun, bytes("abc")), 8},
                                    {bytes("b"), block(kLiteralRun, bytes("abc")), 9},
                                    {bytes("c"), block(kLiteralRun, bytes("abcdefgh")), 8},
                                    {bytes("d"), block(kLiteralRun, bytes("abcdefgh")), 8},
                                    {bytes("e"), block(kLiteralRun, bytes("abcd")), 5}});
  using B = QdaRefusal::Bound;
  struct Step {
    const char* name;
    std::optional<B> refused;
    std::size_t spent;
  };
  struct Case {
    const char* what;
    Bytes file;
    std::vector<Step> steps;
  } cases[] = {
      {"plain: stored sizes",
       plain,
       {{"a", {}, 8}, {"b", B::Member, 8}, {"c", {}, 16}, {"d", B::Archive, 16}, {"e", {}, 20}}},
      // An encoded member claiming 8 that decodes to 3 costs 3.
      {"encoded: bytes decoded, claims checked",
       encoded,
       {{"a", {}, 3}, {"b", B::Member, 3}, {"c", {}, 11}, {"d", {}, 19}, {"e", B::Archive, 19}}},
  };
  for (const Case& c : cases) {
    const QdaArchive a = QdaArchive::parse(c.file);
    QdaBudget budget(8, 20);
    for (const Step& step : c.steps) {
      const QdaLoad got = a.load_member(step.name, budget);
      EXPECT_EQ(got.bytes.has_value(), !step.refused) << c.what << " " << step.name;
      EXPECT_EQ(got.refused ? std::optional<B>(got.refused->bound) : std::nullopt, step.refused)
          << c.what << " " << step.name;
      EXPECT_EQ(budget.spent(), step.spent) << c.what << " " << step.name;
    }
  }
  // Missing and damaged members are no refusal.
  QdaBudget budget;
  EXPECT_FALSE(QdaArchive::parse(plain).load_member("zz", budget).refused);
  EXPECT_FALSE(QdaArchive::parse(test::hostile_qda_archive())
                   .load_member(test::kUsedCycleMember, budget)
                   .refused);
}

TEST(QdaBudget, RefusalTexts) {
  EXPECT_EQ(qda_refusal_text({QdaRefusal::Bound::Member, 16777216}),
            "decodes to more than 16777216 bytes");
  EXPECT_EQ(qda_refusal_text({QdaRefusal::Bound::Archive, 33554432}),
            "the archive decodes to more than 33554432 bytes in all");
}

TEST(BpeDecode, PairOnFullStackIsDropped) {
  const Bytes in = block(kNestedRun, {0xC9, 0x41});
  struct Case {
    std::size_t stack_codes;
    Bytes out;
  } cases[] = {
      {kBpeStackCodes, bytes("ABCA")},
      {3, bytes("ABCA")},
      {2, bytes("CA")},  // 201 fills the stack; its left byte 200 has no room
      {1, bytes("A")},
      {100000, bytes("ABCA")},  // held to the fixed stack
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_TRUE(bpe_decode(in, 100, c.stack_codes, out));
    EXPECT_EQ(out, c.out) << c.stack_codes;
  }
}

TEST(BpeDecode, AppendsAndStopsAtCapacity) {
  Bytes out = bytes("x");
  EXPECT_TRUE(bpe_decode(kExampleBlock, 4, kBpeStackCodes, out));
  EXPECT_EQ(out, bytes("xABA"));
  EXPECT_TRUE(bpe_decode(kExampleBlock, 4, kBpeStackCodes, out));
  EXPECT_EQ(out, bytes("xABA"));  // already full
}

}  // namespace
}  // namespace zt
