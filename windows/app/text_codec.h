// Explicit code page conversions where the program fixes one: Shift-JIS
// (932) for the exports and the ranking request.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zt::win {

inline constexpr UINT kShiftJis = 932;

std::string to_code_page(std::wstring_view text, UINT code_page);
std::wstring from_code_page(std::string_view bytes, UINT code_page);

}  // namespace zt::win
