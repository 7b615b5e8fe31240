#include "qdarc.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hostile_qda.h"
#include "media_test_support.h"

namespace zt {
namespace {

using test::Bytes;

Bytes member_bytes(const std::string& archive, const std::string& name) {
  return ExtractFromQDA(archive, name)->Bytes();
}

Bytes text(const char* s) {
  return Bytes(s, s + std::strlen(s));
}

TEST(QDArc, PlainMemberFoundWithoutRegardToCase) {
  std::string path = test::write_temp(
      "plain.qda",
      test::make_qda_plain(
          {{"first.bmp", text("one")}, {"Second.WAV", text("two!")}, {"Ärger", text("umlaut")}}));
  auto s = ExtractFromQDA(path, "SECOND.wav");
  EXPECT_EQ(s->Position(), 0u);
  EXPECT_EQ(s->Bytes(), text("two!"));
  EXPECT_EQ(member_bytes(path, "first.bmp"), text("one"));
  // Letters beyond ASCII are folded by the locale too.
  EXPECT_EQ(member_bytes(path, "äRGER"), text("umlaut"));
}

TEST(QDArc, Failures) {
  Bytes bad_magic = test::make_qda_plain({{"a", text("x")}});
  bad_magic[7] = '1';
  std::string bad = test::write_temp("badmagic.qda", bad_magic);
  std::string good = test::write_temp("good.qda", test::make_qda_plain({{"a", text("x")}}));

  try {
    ExtractFromQDA(bad, "a");
    FAIL() << "bad magic accepted";
  } catch (const EQDAError& e) {
    EXPECT_STREQ(e.what(), "Quadruple D Archiveの扱えるデータではありません");
  }
  try {
    ExtractFromQDA(good, "missing.bmp");
    FAIL() << "missing member found";
  } catch (const EQDAError& e) {
    EXPECT_STREQ(e.what(),
                 "アーカイブ内には指定されたID 'missing.bmp' を持つデータが見つかりません");
  }
  EXPECT_THROW(ExtractFromQDA(test::temp_dir() + "nothing-here.qda", "a"), std::exception);
}

TEST(QDArc, ReadsExactlyTheHeaderCountOfEntries) {
  Bytes b = test::make_qda_plain({{"a", text("x")}, {"b", text("y")}});
  b[8] = 1;  // the second entry is no longer listed
  std::string path = test::write_temp("count.qda", b);
  EXPECT_EQ(member_bytes(path, "a"), text("x"));
  EXPECT_THROW(ExtractFromQDA(path, "b"), EQDAError);

  b[8] = 5;  // more entries than the file holds: reading runs off the end
  path = test::write_temp("count5.qda", b);
  EXPECT_THROW(ExtractFromQDA(path, "zzz"), std::exception);
}

TEST(QDArc, PlainMemberIsReadWithItsUnpackedSize) {
  Bytes b = test::make_qda_plain({{"a", text("abcdef")}});
  std::size_t entry = 256;
  b[entry + 8] = 4;  // unpacked 4 of stored 6
  std::string path = test::write_temp("short.qda", b);
  EXPECT_EQ(member_bytes(path, "a"), text("abcd"));
  b[entry + 8] = 0;  // 0 is not replaced by the stored size
  path = test::write_temp("zero.qda", b);
  EXPECT_TRUE(member_bytes(path, "a").empty());
}

// Hand-written blocks: count 255 skips codes 0 to 127 and defines 128; 254
// then skips past 255 and ends the table run.
TEST(QDArc, EncodedBlocksWrittenByHand) {
  Bytes block1 = {255, 65, 66, 254, 4, 0, 0, 0, 128, 'C', 128, 'x'};
  // left[200] = 65, right[200] = 66; left[201] = 200, right[201] = 67.
  Bytes block2 = {255, 128, 127 + 71, 65, 66, 0, 200, 67, 127 + 54, 2, 0, 0, 0, 201, 200};
  Bytes data = block1;
  data.insert(data.end(), block2.begin(), block2.end());
  std::string path = test::write_temp("hand.qda", test::make_qda_encoded({{"m", data}}, {3}));
  // Decoding uses the whole input; the stream grows past the unpacked size.
  EXPECT_EQ(member_bytes(path, "m"), text("ABCABxABCAB"));
}

TEST(QDArc, EncodedMemberSmallerThanItsUnpackedSizeKeepsTheSize) {
  Bytes data = {254, 127, 255, 2, 0, 0, 0, 'h', 'i'};
  std::string path = test::write_temp("pad.qda", test::make_qda_encoded({{"m", data}}, {5}));
  EXPECT_EQ(member_bytes(path, "m"), (Bytes{'h', 'i', 0, 0, 0}));
}

TEST(QDArc, InputEndingInsideABlockKeepsWhatWasDecoded) {
  // The first block's count runs past the input; the second ends in its table.
  Bytes data = {254, 127, 255, 2, 0, 0, 0, 'o', 'k', 254, 127, 255, 9, 0, 0};
  std::string path = test::write_temp("cut.qda", test::make_qda_encoded({{"m", data}}, {2}));
  EXPECT_EQ(member_bytes(path, "m"), text("ok"));
}

TEST(QDArc, SelfReferencingPairIsRejectedNotExpandedForever) {
  // left[200] = 201, left[201] = 200: neither ever reaches a literal.
  Bytes data = {255, 128, 127 + 71, 201, 1, 0, 200, 2, 127 + 54, 1, 0, 0, 0, 200};
  std::string path = test::write_temp("loop.qda", test::make_qda_encoded({{"m", data}}, {1}));
  EXPECT_THROW(ExtractFromQDA(path, "m"), EQDAError);
}

// The fixture the core's archive tests read as well: the same members are
// refused, and a cycle that no packed code reaches does no harm.
TEST(QDArc, HostileMembersAreRefusedWithoutRunningAway) {
  std::string path = test::write_temp("hostile.qda", zt::test::hostile_qda_archive());
  EXPECT_THROW(ExtractFromQDA(path, std::string(zt::test::kDoublingMember)), EQDAError);
  EXPECT_EQ(member_bytes(path, std::string(zt::test::kUnusedCycleMember)), text("AB"));
  EXPECT_THROW(ExtractFromQDA(path, std::string(zt::test::kUsedCycleMember)), EQDAError);
}

TEST(QDArc, EncoderRoundTripOverSeveralBlocks) {
  Bytes data;
  for (int i = 0; i < 3000; ++i)
    data.push_back(static_cast<std::uint8_t>((i / 7) % 13 + (i % 2) * 100));
  Bytes encoded = test::bpe_encode(data, 1000);
  ASSERT_LT(encoded.size(), data.size());
  std::string path = test::write_temp(
      "round.qda",
      test::make_qda_encoded({{"x", test::bpe_encode(text("pad"), 8)}, {"data.bin", encoded}},
                             {3, static_cast<std::uint32_t>(data.size())}));
  EXPECT_EQ(member_bytes(path, "DATA.BIN"), data);
  EXPECT_EQ(member_bytes(path, "x"), text("pad"));
}

}  // namespace
}  // namespace zt
