#include <gtest/gtest.h>
TEST(Road, Runs) { EXPECT_EQ(1 + 1, 2); }
