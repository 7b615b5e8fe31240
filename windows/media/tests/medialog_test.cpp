#include "medialog.h"

#include <gtest/gtest.h>

#include "dddd.h"
#include "ddsd.h"
#include "exe_dir.h"
#include "media_test_support.h"
#include "text_codec.h"

namespace zt {
namespace {

class MediaLog : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_logs(); }
};

TEST_F(MediaLog, LinesAreNumberedFromOneAndEndInCrLf) {
  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage}.bits());
  DebugLog("first");
  DebugLog("二行目");
  EXPECT_EQ(test::log_text("dddd.debug"), "debug#00001 ... first\r\ndebug#00002 ... 二行目\r\n");
}

TEST_F(MediaLog, FirstLineOfARunReplacesTheOldLog) {
  test::write_temp("unused", {});
  {
    std::string path = wide_to_utf8(exe_dir()) + "dddd.debug";
    HANDLE h = CreateFileW(utf8_to_wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    DWORD n;
    WriteFile(h, "old run\r\n", 9, &n, nullptr);
    CloseHandle(h);
  }
  dddd_log().apply(TDDDDDebugOptions{ddoDetailedLog}.bits());
  DetailedLog("needs the message bit too");
  DebugLog("nor this");
  EXPECT_EQ(test::log_lines("dddd.debug"), (std::vector<std::string>{"old run"}));
  EXPECT_EQ(dddd_log().counter, 0);

  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage, ddoDetailedLog}.bits());
  DetailedLog("detail");
  EXPECT_EQ(test::log_lines("dddd.debug"), (std::vector<std::string>{"debug#00001 ... detail"}));
}

TEST_F(MediaLog, NumberGrowsPastFiveDigits) {
  ddsd_log().apply(TDDSDDebugOptions{dsoDebugMessage}.bits());
  DDSDDebugLog("a");
  ddsd_log().counter = 99999;
  DDSDDebugLog("b");
  EXPECT_EQ(test::log_lines("ddsd.debug"),
            (std::vector<std::string>{"debug#00001 ... a", "debug#100000 ... b"}));
}

TEST_F(MediaLog, CheckResultCodes) {
  dddd_log().apply(TDDDDDebugOptions{ddoHaltOnError, ddoDebugMessage}.bits());
  EXPECT_EQ(CheckResult(0, "never"), 0);
  EXPECT_EQ(test::halt_count, 0);
  EXPECT_TRUE(test::log_lines("dddd.debug").empty());

  struct Case {
    HRESULT code;
    const char* line;
  };
  const Case cases[] = {
      {static_cast<HRESULT>(0x887601C2), "debug#00001 ... 失敗(Error Code(887601C2))"},
      {1, "debug#00002 ... 失敗(Error Code(1))"},
      {0x7FFFFFFF, "debug#00003 ... 失敗(Error Code(7FFFFFFF))"},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckResult(c.code, "失敗"), c.code);
  auto lines = test::log_lines("dddd.debug");
  ASSERT_EQ(lines.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(lines[i], cases[i].line);
  EXPECT_EQ(test::halt_count, 3);

  dddd_log().apply(TDDDDDebugOptions{ddoDebugMessage}.bits());
  CheckResult(5, "no halt");
  EXPECT_EQ(test::halt_count, 3);
}

TEST_F(MediaLog, SoundExceptOnErrorRaisesBeforeTheHalt) {
  ddsd_log().apply(TDDSDDebugOptions{dsoHaltOnError, dsoExceptOnError}.bits());
  try {
    DDSDCheckResult(static_cast<HRESULT>(0x88780078), "音");
    FAIL() << "no exception";
  } catch (const EDDSD& e) {
    EXPECT_STREQ(e.what(), "音(Error Code(88780078))");
  }
  EXPECT_EQ(test::halt_count, 0);
  EXPECT_TRUE(test::log_lines("ddsd.debug").empty());

  ddsd_log().apply(TDDSDDebugOptions{dsoDebugMessage, dsoExceptOnError}.bits());
  EXPECT_THROW(DDSDDebugLog("written, then raised"), EDDSD);
  EXPECT_EQ(test::log_lines("ddsd.debug"),
            (std::vector<std::string>{"debug#00001 ... written, then raised"}));

  ddsd_log().apply(TDDSDDebugOptions{dsoHaltOnError}.bits());
  EXPECT_EQ(DDSDCheckResult(2, "x"), 2);
  EXPECT_EQ(test::halt_count, 1);
}

TEST_F(MediaLog, ComponentsSetTheUnitSwitches) {
  TMediaForm form(L"log test", 64, 64);
  TDDDD dddd(form);
  EXPECT_FALSE(dddd_log().halt_on_error);  // the constructor only stores its set
  dddd.SetDebugOption({ddoDebugMessage});
  EXPECT_TRUE(dddd_log().debug_message);
  EXPECT_FALSE(dddd_log().halt_on_error);

  TDDSD ddsd(form);  // its constructor applies [dsoHaltOnError] at once
  EXPECT_TRUE(ddsd_log().halt_on_error);
  ddsd.SetDebugOption({dsoDebugMessage, dsoExceptOnError});
  EXPECT_EQ(ddsd.DebugOption(), (TDDSDDebugOptions{dsoDebugMessage, dsoExceptOnError}));
  EXPECT_FALSE(ddsd_log().halt_on_error);
  EXPECT_TRUE(ddsd_log().option2);

  dddd_log().apply(0);
  dddd.Loaded();  // applies the stored set again
  EXPECT_TRUE(dddd_log().debug_message);
}

TEST_F(MediaLog, DefaultHaltEndsTheProcess) {
  SetMediaHaltProc(nullptr);
  EXPECT_EXIT(MediaHalt(), ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace zt
