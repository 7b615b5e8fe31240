#include <windows.h>

#include <string_view>

#include "exe_dir.h"
#include "forms/menu.h"
#include "replace_file.h"

namespace {

bool same_name(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// prefix + a decimal number + suffix, letter case aside.
bool numbered(std::wstring_view name, std::wstring_view prefix, std::wstring_view suffix) {
  if (name.size() <= prefix.size() + suffix.size() ||
      !same_name(name.substr(0, prefix.size()), prefix) ||
      !same_name(name.substr(name.size() - suffix.size()), suffix)) {
    return false;
  }
  const std::wstring_view digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  return digits.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

// What a run killed while saving left in the folders the program writes: the
// settings beside the executable, the score file and screenshots in the
// current directory, the replays in its "Rec".
void remove_stale_save_temporaries() {
  zt::win::remove_stale_temporaries(
      zt::exe_dir(), [](std::wstring_view name) { return same_name(name, L"Zentria.ini"); });
  zt::win::remove_stale_temporaries(L"", [](std::wstring_view name) {
    return same_name(name, L"ZTScore.dat") || numbered(name, L"ScrSht", L".bmp");
  });
  zt::win::remove_stale_temporaries(
      L"Rec\\", [](std::wstring_view name) { return numbered(name, L"Rec", L".dat"); });
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  remove_stale_save_temporaries();
  return zt::win::run_zentro();
}
