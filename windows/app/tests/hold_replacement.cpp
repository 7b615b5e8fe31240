// A replacement held open as the game holds a recording while the player
// pauses: the temporary file beside PATH is made and written, then nothing
// more. Prints the temporary file's path, then holds it until it is ended
// (or the given number of seconds has passed).
//   zt-hold-replacement PATH SECONDS
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "replace_file.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: zt-hold-replacement PATH SECONDS\n", stderr);
    return 2;
  }
  auto begun = zt::win::FileReplacement::begin(argv[1]);
  auto* r = std::get_if<zt::win::FileReplacement>(&begun);
  if (r == nullptr || r->write(std::string(64, '\0'))) {
    std::fputs("could not start the replacement\n", stderr);
    return 1;
  }
  std::printf("%ls\n", r->temp_path().c_str());
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) * 1000);
  return 0;
}
