#include "fpu.h"

#include <windows.h>

#include <cstdio>

namespace zt::win {

std::uint16_t GetX87ControlWord() {
  std::uint16_t cw = 0;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void SetX87ControlWord(std::uint16_t cw) {
  // Pending flags would fault on the next instruction once unmasked.
  asm volatile("fnclex\n\tfldcw %0" : : "m"(cw));
}

int RuntimeErrorOf(unsigned long code) {
  switch (code) {
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return 200;
    case EXCEPTION_FLT_OVERFLOW:
      return 205;
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
      return 207;
    default:
      return 0;
  }
}

const char* RuntimeErrorText(int number, const void* address, char* buffer, unsigned size) {
  std::snprintf(buffer, size, "Runtime error %d at %p", number, address);
  return buffer;
}

namespace {
LONG WINAPI on_fault(EXCEPTION_POINTERS* info) {
  const int number = RuntimeErrorOf(info->ExceptionRecord->ExceptionCode);
  if (number == 0) return EXCEPTION_CONTINUE_SEARCH;
  char text[64];
  RuntimeErrorText(number, info->ExceptionRecord->ExceptionAddress, text, sizeof text);
  ShowCursor(TRUE);
  MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
  ExitProcess(static_cast<UINT>(number));
}
}  // namespace

void InstallRuntimeErrorHandler() {
  SetUnhandledExceptionFilter(&on_fault);
}

}  // namespace zt::win
