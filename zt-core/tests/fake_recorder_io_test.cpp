// The replay double must keep the host's file rules, or every recorder test
// built on it proves nothing.
#include "fake_recorder_io.h"

#include <gtest/gtest.h>

namespace zt {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FakeRecorderIoTest, KeepsTheHostsPositionRules) {
  FakeRecorderIo io;
  io.files[1] = {1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(io.seek_from_end(0)) << "nothing open";
  EXPECT_FALSE(io.read(0).has_value()) << "nothing open";
  EXPECT_TRUE(io.write({1})) << "nothing open";

  ASSERT_FALSE(io.open_for_read(1));
  EXPECT_TRUE(io.seek_from_end(-7)) << "before the start";
  EXPECT_FALSE(io.seek_from_end(-4));
  EXPECT_EQ(io.read(2), (Bytes{3, 4}));
  EXPECT_FALSE(io.read(4).has_value()) << "short read";
  EXPECT_EQ(io.read(0), Bytes{}) << "a short read has moved to the end";
  EXPECT_TRUE(io.seek_from_start(-1));
  EXPECT_FALSE(io.seek_from_start(8));
  EXPECT_FALSE(io.write({9}));
  EXPECT_EQ(io.files[1], (Bytes{1, 2, 3, 4, 5, 6, 0, 0, 9}));

  EXPECT_TRUE(io.open_for_read(2)) << "never creates";
  EXPECT_EQ(io.open_slot(), 1) << "a failed open keeps the file open before";

  // A new file stands apart from the slot's until its commit.
  ASSERT_FALSE(io.open_for_write(1));
  ASSERT_FALSE(io.write({7, 7}));
  ASSERT_FALSE(io.seek_from_start(0));
  EXPECT_FALSE(io.read(1).has_value()) << "opened for writing only";
  EXPECT_EQ(io.files[1], (Bytes{1, 2, 3, 4, 5, 6, 0, 0, 9}));
  io.close();
  EXPECT_FALSE(io.is_open());
  EXPECT_EQ(io.files[1], (Bytes{1, 2, 3, 4, 5, 6, 0, 0, 9})) << "dropped without a commit";

  ASSERT_FALSE(io.open_for_write(1));
  ASSERT_FALSE(io.write({7, 7}));
  EXPECT_FALSE(io.commit());
  EXPECT_FALSE(io.is_open());
  EXPECT_EQ(io.files[1], (Bytes{7, 7}));
  EXPECT_TRUE(io.commit()) << "nothing to commit";
}

TEST(FakeRecorderIoTest, FailsTheChosenCallOnly) {
  FakeRecorderIo io;
  io.files[3] = Bytes(16, 0);
  io.fail_on(FakeRecorderIo::Op::Read, 2);
  io.fail_next(FakeRecorderIo::Op::FileExists);
  EXPECT_FALSE(io.file_exists(3));
  EXPECT_TRUE(io.file_exists(3));
  ASSERT_FALSE(io.open_for_read(3));
  EXPECT_TRUE(io.read(4).has_value());
  EXPECT_FALSE(io.read(4).has_value());
  EXPECT_EQ(io.position(), 4) << "an injected failure moves nothing";
  EXPECT_TRUE(io.read(4).has_value());
  EXPECT_EQ(io.log,
            (std::vector<std::string>{"file_exists 3 -> false", "file_exists 3 -> true",
                                      "open_for_read 3", "read 4", "read 4 -> failed", "read 4"}));
}

}  // namespace
}  // namespace zt
