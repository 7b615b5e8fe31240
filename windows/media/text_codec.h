// Text between the program's UTF-8, the system's wide strings and the code
// pages the program fixes: Shift-JIS (932) for the exports and the ranking
// request, the ANSI page where Win32's A functions want it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zt {

inline constexpr UINT kShiftJis = 932;

std::string to_code_page(std::wstring_view text, UINT code_page);
std::wstring from_code_page(std::string_view bytes, UINT code_page);

inline std::wstring utf8_to_wide(std::string_view utf8) {
  return from_code_page(utf8, CP_UTF8);
}
inline std::string wide_to_utf8(std::wstring_view wide) {
  return to_code_page(wide, CP_UTF8);
}

}  // namespace zt
