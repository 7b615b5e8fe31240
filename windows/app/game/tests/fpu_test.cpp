// The game's x87 control word: the core's arithmetic faults on an invalid
// operation, a division by zero or an overflow instead of giving inf or NaN.
#include "fpu.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "x87.h"

namespace zt::win {
namespace {

DWORD g_code = 0;

// Records the fault and lets the program go on with the faults masked.
LONG CALLBACK record_fault(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (RuntimeErrorOf(code) == 0) return EXCEPTION_CONTINUE_SEARCH;
  g_code = code;
  info->ContextRecord->FltSave.ControlWord = 0x037F;
  info->ContextRecord->FltSave.StatusWord = 0;
  // The faulting operation's values are dropped, so no stack fault follows.
  info->ContextRecord->FltSave.TagWord = 0;
  return EXCEPTION_CONTINUE_EXECUTION;
}

class GameControlWord : public ::testing::Test {
 protected:
  void SetUp() override {
    g_code = 0;
    saved_ = GetX87ControlWord();
    handler_ = AddVectoredExceptionHandler(1, &record_fault);
  }
  void TearDown() override {
    RemoveVectoredExceptionHandler(handler_);
    SetX87ControlWord(saved_);
  }
  std::uint16_t saved_ = 0;
  void* handler_ = nullptr;
};

TEST_F(GameControlWord, FaultsOfTheCoresArithmeticAreRaised) {
  struct Case {
    const char* what;
    X87 (*op)();
    DWORD code;
    int runtime_error;
  };
  const Case cases[] = {
      {"1 / 0", [] { return X87::div(X87::from_i32(1), X87::from_i32(0)); },
       EXCEPTION_FLT_DIVIDE_BY_ZERO, 200},
      {"0 / 0", [] { return X87::div(X87::from_i32(0), X87::from_i32(0)); },
       EXCEPTION_FLT_INVALID_OPERATION, 207},
      {"sqrt(-1)", [] { return X87::fsqrt(X87::from_i32(-1)); }, EXCEPTION_FLT_INVALID_OPERATION,
       207},
  };
  for (const Case& c : cases) {
    g_code = 0;
    SetX87ControlWord(kGameControlWord);
    volatile double sink = c.op().to_f64();
    (void)sink;
    EXPECT_EQ(g_code, c.code) << c.what;
    EXPECT_EQ(RuntimeErrorOf(g_code), c.runtime_error) << c.what;
  }
  // An overflow shows when the extended result is stored as a double.
  g_code = 0;
  SetX87ControlWord(kGameControlWord);
  const X87 big = X87::from_f64(1e300);
  volatile double sink = X87::mul(big, big).to_f64();
  (void)sink;
  // The store raises it at the next x87 instruction.
  asm volatile("fwait");
  EXPECT_EQ(RuntimeErrorOf(g_code), 205);
}

TEST_F(GameControlWord, OrdinaryArithmeticIsUnchanged) {
  SetX87ControlWord(kGameControlWord);
  // Bit 6 is reserved and reads as 1.
  EXPECT_EQ(GetX87ControlWord() & ~0x40, kGameControlWord);
  EXPECT_EQ(X87::div(X87::from_i32(1), X87::from_i32(3)).to_f64(), 1.0 / 3.0);
  EXPECT_EQ(g_code, 0u);
  char text[64];
  EXPECT_STREQ(RuntimeErrorText(207, reinterpret_cast<void*>(0x401234), text, sizeof text),
               "Runtime error 207 at 0000000000401234");
}

}  // namespace
}  // namespace zt::win
