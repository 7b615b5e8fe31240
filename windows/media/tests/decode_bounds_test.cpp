// What decoding an archive may cost in the Windows reader and the loaders on
// it: members charged against their archive's budget, bitmaps no sheet may
// be that large, and waves too long for a sound effect.
#include "formats/decode_bounds.h"

#include <gtest/gtest.h>

#include <string>

#include "ddsd.h"
#include "display_fixture.h"
#include "hostile_qda.h"
#include "media_test_support.h"
#include "medialog.h"
#include "qdarc.h"

namespace zt {
namespace {

using test::Bytes;

std::vector<std::string> names(std::size_t n) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back("m" + std::to_string(i));
  return out;
}

QdaRefusal refusal_of(const std::string& archive, const std::string& member, QdaBudget* budget) {
  try {
    ExtractFromQDA(archive, member, budget);
  } catch (const EQDARefused& e) {
    return e.refusal;
  }
  ADD_FAILURE() << member << " was not refused";
  return {};
}

TEST(QDArcBounds, EntriesSharingOneExpandingMemberStopAtTheArchiveBound) {
  const std::uint32_t ten_mib = 10 << 20;
  const std::string path = test::write_temp(
      "shared.qda", test::shared_member_qda(names(20), test::bpe_run({}, 0, ten_mib), ten_mib));
  QdaBudget budget;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ExtractFromQDA(path, "m" + std::to_string(i), &budget)->Size(), ten_mib);
  }
  const QdaRefusal r = refusal_of(path, "m3", &budget);
  EXPECT_EQ(r.bound, QdaRefusal::Bound::Archive);
  EXPECT_EQ(r.limit, kQdaMaxArchive);
  // Without a budget each extraction stands alone.
  EXPECT_EQ(ExtractFromQDA(path, "m19")->Size(), ten_mib);
}

TEST(QDArcBounds, AMemberBeyondItsBoundIsRefusedWhateverItClaims) {
  const Bytes bitmap = test::bmp_headers(4096, 16000);
  const std::uint64_t pixels = 4096ull * 16000;
  const Bytes packed = test::bpe_run(bitmap, 0, pixels);
  const std::string honest = test::write_temp(
      "honest.qda", test::shared_member_qda(names(1), packed,
                                            static_cast<std::uint32_t>(bitmap.size() + pixels)));
  // This reader decodes past a member's claim until its input is used up.
  const std::string modest =
      test::write_temp("modest.qda", test::shared_member_qda(names(1), packed, 100));
  for (const std::string& path : {honest, modest}) {
    SCOPED_TRACE(path);
    QdaBudget budget;
    const QdaRefusal r = refusal_of(path, "m0", &budget);
    EXPECT_EQ(r.bound, QdaRefusal::Bound::Member);
    EXPECT_EQ(r.limit, kQdaMaxMember);
  }
  // A plain member costs its unpacked size.
  Bytes plain = test::make_qda_plain({{"a", Bytes(100, 1)}, {"b", Bytes(100, 2)}});
  const std::string small = test::write_temp("plain.qda", plain);
  QdaBudget tight(100, 150);
  EXPECT_EQ(ExtractFromQDA(small, "a", &tight)->Size(), 100u);
  EXPECT_EQ(refusal_of(small, "b", &tight).bound, QdaRefusal::Bound::Archive);
}

using SheetBounds = test::Display8Test;

TEST_F(SheetBounds, ABitmapLargerThanASheetMayBeIsNotLoaded) {
  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage, ddoHaltOnError}.bits());
  auto s = TDDDDSurface::CreateInSystemMemory(*display->dddd, 8, 8, 0);
  test::fill(*s, 4);
  struct Case {
    int width, height;
    bool loads;
  } cases[] = {{4096, 1024, true}, {4097, 8, false}, {8, 4097, false}, {2048, 2049, false}};
  int refused = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    const Bytes bmp = test::make_bmp(test::solid_picture(c.width, c.height, 8, 9));
    EXPECT_EQ(s->LoadFromArchive(
                  test::write_temp("big.qda", test::make_qda_plain({{"b.bmp", bmp}})), "b.bmp"),
              c.loads);
    EXPECT_EQ(test::pixel(*s, 3, 3), c.loads ? 9u : 4u);
    if (!c.loads) ++refused;
    test::fill(*s, 4);
  }
  EXPECT_EQ(test::log_lines("dddd.debug").size(), static_cast<std::size_t>(refused));
  EXPECT_EQ(test::log_lines("dddd.debug").back(), "debug#00003 ... 不正なBMPファイルです");
}

class WaveBounds : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_logs();
    ddsd = std::make_unique<TDDSD>(form);
    ddsd->SetDebugOption({dsoHaltOnError, dsoDebugMessage});
    form.Create();
    ASSERT_TRUE(ddsd->Initialised);
  }
  void TearDown() override {
    ddsd.reset();
    EXPECT_EQ(test::halt_count, 0);
  }

  TMediaForm form{L"wave bounds test", 64, 64};
  std::unique_ptr<TDDSD> ddsd;
};

test::PackedMember packed_wav(const std::string& name, std::uint32_t rate, std::uint16_t bits,
                              std::uint16_t channels, std::uint32_t data_bytes) {
  const Bytes head = test::wav_headers(rate, bits, channels, data_bytes);
  return {name, test::bpe_run(head, 0x80, data_bytes),
          static_cast<std::uint32_t>(head.size() + data_bytes)};
}

TEST_F(WaveBounds, WavesBeyondTheBoundsStaySilentAndTheRestLoad) {
  const std::string path =
      test::write_temp("sounds.qda", test::packed_qda({
                                         packed_wav("sixty.wav", 44100, 16, 2, 60'000'000),
                                         packed_wav("slow.wav", 1000, 8, 1, 10'000'000),
                                         packed_wav("fast.wav", 200000, 8, 1, 2000),
                                         packed_wav("thirty.wav", 22050, 16, 1, 30 * 22050 * 2),
                                         packed_wav("short.wav", 1000, 8, 1, 1000),
                                     }));
  QdaBudget budget;
  struct Case {
    const char* member;
    bool loads;
  } cases[] = {{"sixty.wav", false},
               {"slow.wav", false},
               {"fast.wav", false},
               {"thirty.wav", true},
               {"short.wav", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    TDDSDWaveData wave(*ddsd, path, c.member, &budget);
    EXPECT_EQ(static_cast<bool>(wave.Buffer), c.loads);
  }
  const std::vector<std::string> log = test::log_lines("ddsd.debug");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "debug#00001 ... アーカイブファイル " + path +
                        " からの sixty.wav のオープンに失敗しました");
  EXPECT_NE(log[1].find("は、効果音として扱える長さと周波数を超えています"), std::string::npos);
  EXPECT_NE(log[2].find("は、効果音として扱える長さと周波数を超えています"), std::string::npos);
}

// Clips as long as they may be at the highest rates load whole: their
// buffers are bounded by the member they come from, not by a clip of 30 s
// at 44.1 kHz.
TEST_F(WaveBounds, LongClipsAtTheHighestRatesLoad) {
  const std::string path =
      test::write_temp("sounds.qda", test::packed_qda({
                                         packed_wav("stereo96k.wav", 96000, 16, 2, 28 * 96000 * 4),
                                         packed_wav("mono192k.wav", 192000, 16, 1, 30 * 192000 * 2),
                                     }));
  QdaBudget budget;
  for (const char* member : {"stereo96k.wav", "mono192k.wav"}) {
    SCOPED_TRACE(member);
    TDDSDWaveData wave(*ddsd, path, member, &budget);
    EXPECT_TRUE(static_cast<bool>(wave.Buffer));
  }
  EXPECT_TRUE(test::log_lines("ddsd.debug").empty());
}

}  // namespace
}  // namespace zt
