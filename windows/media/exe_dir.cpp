#include "exe_dir.h"

#include <windows.h>

namespace zt {

std::wstring exe_dir() {
  std::wstring exe(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (n < exe.size()) {
      exe.resize(n);
      break;
    }
    exe.resize(exe.size() * 2);  // a long path: try again with room for it
  }
  const std::size_t slash = exe.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"" : exe.substr(0, slash + 1);
}

}  // namespace zt
