// The x87 control word while the game runs: extended precision, round to
// nearest, invalid operation, division by zero and overflow unmasked, so a
// fault ends the program with a run-time error instead of a silent NaN.
#pragma once

#include <cstdint>

namespace zt::win {

inline constexpr std::uint16_t kGameControlWord = 0x1332;

std::uint16_t GetX87ControlWord();
void SetX87ControlWord(std::uint16_t cw);

// The run-time error number of a floating-point exception code (200 zero
// divide, 205 overflow, 207 invalid operation), 0 for anything else.
int RuntimeErrorOf(unsigned long exception_code);
// "Runtime error 207 at 0000000000401234"
const char* RuntimeErrorText(int number, const void* address, char* buffer, unsigned size);

// Shows the run-time error of an unmasked floating-point fault and ends the
// program with its number as exit code.
void InstallRuntimeErrorHandler();

}  // namespace zt::win
