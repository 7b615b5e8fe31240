#include "ddsd.h"

#include <gtest/gtest.h>

#include <cstring>

#include "media_test_support.h"
#include "medialog.h"

namespace zt {
namespace {

class Sound : public ::testing::Test {
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
    // Every release reached a count of zero: nothing was logged.
    EXPECT_EQ(test::log_lines("ddsd.debug"), expected_log);
    EXPECT_EQ(test::halt_count, expected_halts);
  }

  TMediaForm form{L"sound test", 64, 64};
  std::unique_ptr<TDDSD> ddsd;
  std::vector<std::string> expected_log;
  int expected_halts = 0;
};

TEST_F(Sound, ChannelNumbersOutsideTheRangeAreReported) {
  EXPECT_NE(ddsd->GetChannel(0), nullptr);
  EXPECT_NE(ddsd->GetChannel(7), nullptr);
  EXPECT_EQ(ddsd->GetChannel(8), nullptr);
  EXPECT_EQ(ddsd->GetChannel(-1), nullptr);
  expected_log = {"debug#00001 ... チャンネル番号8は無効です、0～7の範囲で指定してください",
                  "debug#00002 ... チャンネル番号-1は無効です、0～7の範囲で指定してください"};
  expected_halts = 2;
}

TEST_F(Sound, WavFileLoadsIntoAStaticBuffer) {
  std::string path = test::write_temp("clip.wav", test::make_wav(22050, 16, 2, 4410));
  TDDSDGenWave wave(*ddsd, false, path);
  ASSERT_TRUE(wave.Buffer);
  EXPECT_EQ(wave.DataSize, 4410u * 4);
  EXPECT_EQ(wave.Format.nSamplesPerSec, 22050u);
  EXPECT_EQ(wave.Format.nChannels, 2);
  DSBCAPS caps{};
  caps.dwSize = sizeof caps;
  wave.Buffer->GetCaps(&caps);
  EXPECT_EQ(caps.dwBufferBytes, 4410u * 4);
  EXPECT_TRUE(caps.dwFlags & DSBCAPS_STATIC);
  EXPECT_TRUE(caps.dwFlags & DSBCAPS_CTRLPAN);
  EXPECT_TRUE(caps.dwFlags & DSBCAPS_STICKYFOCUS);
  DWORD freq = 0;
  wave.Buffer->GetFrequency(&freq);
  EXPECT_EQ(freq, 22050u);
  void* p1;
  void* p2;
  DWORD n1, n2;
  ASSERT_EQ(wave.Buffer->Lock(0, 8, &p1, &n1, &p2, &n2, 0), 0);
  test::Bytes file = test::make_wav(22050, 16, 2, 4410);
  EXPECT_EQ(std::memcmp(p1, file.data() + 44, 8), 0);
  wave.Buffer->Unlock(p1, n1, p2, n2);
}

TEST_F(Sound, BadWavFilesLeaveTheWaveSilent) {
  test::Bytes no_fmt = test::make_wav(11025, 8, 1, 10);
  std::memcpy(no_fmt.data() + 12, "junk", 4);
  test::Bytes short_fmt = test::make_wav(11025, 8, 1, 10);
  short_fmt[16] = 12;  // a fmt chunk too short for a wave format
  struct Case {
    const char* name;
    test::Bytes data;
    const char* message;
  };
  const Case cases[] = {
      {"nodata.wav", test::make_wav(11025, 8, 1, 10, false), "には、dataチャンクが有りません"},
      {"notwave.wav", test::Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '},
       "は、WAVEファイルではありません"},
      {"nofmt.wav", no_fmt, "には、fmtチャンクが有りません"},
      {"shortfmt.wav", short_fmt, "のfmtチャンクが不正です"},
  };
  ddsd_log().apply(TDDSDDebugOptions{dsoDebugMessage}.bits());
  int n = 0;
  for (const Case& c : cases) {
    std::string path = test::write_temp(c.name, c.data);
    TDDSDGenWave wave(*ddsd, false, path);
    EXPECT_FALSE(wave.Buffer) << c.name;
    expected_log.push_back(format("debug#%.5d ... %s%s", ++n, path.c_str(), c.message));
    // Bound to a channel it plays nothing.
    ddsd->GetChannel(0)->setWaveData(&wave);
    ddsd->GetChannel(0)->Play();
    EXPECT_EQ(ddsd->GetChannel(0)->GetStatus(), 0u);
    ddsd->GetChannel(0)->setWaveData(nullptr);
  }
  std::string missing = test::temp_dir() + "missing.wav";
  TDDSDGenWave wave(*ddsd, false, missing);
  expected_log.push_back(format("debug#%.5d ... %sが、見つかりません", ++n, missing.c_str()));
  EXPECT_EQ(test::log_lines("ddsd.debug"), expected_log);

  ddsd_log().apply(TDDSDDebugOptions{dsoExceptOnError}.bits());
  EXPECT_THROW(TDDSDGenWave(*ddsd, false, missing), EDDSD);
}

TEST_F(Sound, WavesFromArchives) {
  test::Bytes wav = test::make_wav(11025, 8, 1, 2000);
  std::string plain = test::write_temp("s.qda", test::make_qda_plain({{"hit.wav", wav}}));
  std::string packed =
      test::write_temp("p.qda", test::make_qda_encoded({{"hit.wav", test::bpe_encode(wav, 700)}},
                                                       {static_cast<std::uint32_t>(wav.size())}));
  for (const std::string& archive : {plain, packed}) {
    TDDSDWaveData wave(*ddsd, archive, "HIT.WAV");
    ASSERT_TRUE(wave.Buffer);
    EXPECT_EQ(wave.DataSize, 2000u);
  }
  try {
    TDDSDWaveData wave(*ddsd, plain, "miss.wav");
    FAIL();
  } catch (const EDDSD& e) {
    EXPECT_EQ(std::string(e.what()),
              "アーカイブファイル " + plain + " からの miss.wav のオープンに失敗しました");
  }
  // The temporary copies are gone.
  WIN32_FIND_DATAW fd;
  wchar_t dir[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, dir);
  HANDLE h = FindFirstFileW((std::wstring(dir) + L"tmp*.tmp").c_str(), &fd);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

TEST_F(Sound, ChannelsPlayDuplicatesTogether) {
  // Long enough to be still sounding while the test looks.
  std::string path = test::write_temp("long.wav", test::make_wav(22050, 16, 1, 22050 * 4));
  TDDSDGenWave wave(*ddsd, false, path);
  TDDSDChannel& a = *ddsd->GetChannel(0);
  TDDSDChannel& b = *ddsd->GetChannel(1);
  a.setWaveData(&wave);
  b.setWaveData(&wave);
  ASSERT_TRUE(a.Buffer);
  ASSERT_TRUE(b.Buffer);
  EXPECT_NE(a.Buffer.get(), b.Buffer.get());
  EXPECT_NE(a.Buffer.get(), wave.Buffer.get());
  EXPECT_EQ(a.Frequency, 22050u);
  EXPECT_EQ(a.CurrentWave, &wave);

  a.Play();
  b.Play();
  EXPECT_TRUE(a.GetStatus() & DSBSTATUS_PLAYING);
  EXPECT_TRUE(b.GetStatus() & DSBSTATUS_PLAYING);
  EXPECT_FALSE(a.GetStatus() & DSBSTATUS_LOOPING);

  // Volume, pan and frequency belong to each duplicate.
  EXPECT_EQ(a.Buffer->SetVolume(-1200), 0);
  EXPECT_EQ(a.Buffer->SetPan(-600), 0);
  EXPECT_EQ(a.Buffer->SetFrequency(11025), 0);
  LONG volume = 0, pan = 0;
  DWORD freq = 0;
  a.Buffer->GetVolume(&volume);
  a.Buffer->GetPan(&pan);
  a.Buffer->GetFrequency(&freq);
  EXPECT_EQ(volume, -1200);
  EXPECT_EQ(pan, -600);
  EXPECT_EQ(freq, 11025u);
  b.Buffer->GetVolume(&volume);
  b.Buffer->GetFrequency(&freq);
  EXPECT_EQ(volume, 0);
  EXPECT_EQ(freq, 22050u);

  // Playing again starts over from the beginning.
  Sleep(100);
  DWORD before = 0, after = 0, w;
  a.Buffer->GetCurrentPosition(&before, &w);
  a.Play();
  a.Buffer->GetCurrentPosition(&after, &w);
  EXPECT_LT(after, before);

  a.Stop();
  EXPECT_FALSE(a.GetStatus() & DSBSTATUS_PLAYING);
  EXPECT_TRUE(b.GetStatus() & DSBSTATUS_PLAYING);
  a.setWaveData(nullptr);
  EXPECT_FALSE(a.Buffer);
  EXPECT_EQ(a.GetStatus(), 0u);
  b.setWaveData(nullptr);
}

TEST(SoundWithoutDevice, LoadingAndPlayingDoNothing) {
  test::reset_logs();
  TMediaForm form(L"no sound", 64, 64);
  TDDSD ddsd(form);  // never initialised: as when DirectSoundCreate fails
  ddsd.SetDebugOption({dsoHaltOnError, dsoDebugMessage});
  ddsd.ChannelCount = 2;
  TDDSDGenWave wave(ddsd, false, test::write_temp("x.wav", test::make_wav(11025, 8, 1, 10)));
  EXPECT_FALSE(wave.Buffer);
  TDDSDGenWave missing(ddsd, false, test::temp_dir() + "none.wav");
  EXPECT_TRUE(test::log_lines("ddsd.debug").empty());
  EXPECT_EQ(test::halt_count, 0);
}

}  // namespace
}  // namespace zt
