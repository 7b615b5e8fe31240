// TSounds on the sound component's eight channels, with long clips so that
// every effect is still playing when the next one comes.
#include "sounds.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "media_form.h"
#include "media_test_support.h"

namespace zt::win {
namespace {

class SoundsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_logs();
    std::vector<test::QdaMember> members;
    for (const char* name :
         {"gravitychange", "explosion1", "bound", "select", "cutwarn", "destroy0", "destroy1"}) {
      members.push_back({std::string(name) + ".wav", test::make_wav(11025, 8, 1, 11025 * 20)});
    }
    test::write_temp("sounds.qda", test::make_qda_plain(members));
    GetCurrentDirectoryA(MAX_PATH, old_dir_);
    SetCurrentDirectoryA(test::temp_dir().c_str());
    ddsd = std::make_unique<TDDSD>(form);
    ddsd->SetDebugOption({dsoHaltOnError});
  }
  void TearDown() override {
    sounds.reset();
    ddsd.reset();
    SetCurrentDirectoryA(old_dir_);
    EXPECT_EQ(test::halt_count, 0);
  }
  void start() {
    form.Create();
    sounds = std::make_unique<TSounds>(*ddsd);
  }
  bool playing(int channel) { return ddsd->GetChannel(channel)->GetStatus() != 0; }

  TMediaForm form{L"sounds test", 64, 64};
  std::unique_ptr<TDDSD> ddsd;
  std::unique_ptr<TSounds> sounds;
  char old_dir_[MAX_PATH];
};

TEST_F(SoundsTest, LowestPriorityGivesWayAndNamesIgnoreCase) {
  start();
  ASSERT_TRUE(ddsd->Initialised);
  const std::int32_t prios[] = {5, 3, 3, 9, 4, 4, 7, 3};
  for (std::int32_t p : prios) sounds->Play("bound", p);
  EXPECT_EQ(sounds->Priorities(), (std::vector<std::int32_t>{5, 3, 3, 9, 4, 4, 7, 3}));
  for (int c = 0; c < 8; ++c) EXPECT_TRUE(playing(c)) << c;
  sounds->Play("Select", 6);
  EXPECT_EQ(sounds->Priorities()[1], 6);
  EXPECT_TRUE(playing(1));
}

TEST_F(SoundsTest, OffPlaysNothingAndResetsNothing) {
  start();
  ASSERT_TRUE(ddsd->Initialised);
  for (std::int32_t p : {5, 3, 3, 9, 4, 4, 7, 8}) sounds->Play("bound", p);
  ddsd->GetChannel(2)->Stop();
  sounds->PlaySE = false;
  sounds->Play("bound", 1);
  EXPECT_EQ(sounds->Priorities()[2], 3);
  EXPECT_FALSE(playing(2));
  // An unknown name still frees the finished channel's priority.
  sounds->PlaySE = true;
  sounds->Play("no such effect", 1);
  EXPECT_EQ(sounds->Priorities()[2], 0);
  EXPECT_FALSE(playing(2));
  // The freed channel is the one the next effect takes.
  sounds->Play("cutwarn", 2);
  EXPECT_EQ(sounds->Priorities()[2], 2);
  EXPECT_TRUE(playing(2));
}

TEST_F(SoundsTest, WithoutASoundDeviceEffectsAreSilent) {
  // Never initialised, as when DirectSound cannot be created: no channels.
  sounds = std::make_unique<TSounds>(*ddsd);
  sounds->Play("select", 5);
  EXPECT_EQ(sounds->Priorities(), std::vector<std::int32_t>(8, 0));
}

}  // namespace
}  // namespace zt::win
