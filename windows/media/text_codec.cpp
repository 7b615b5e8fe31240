#include "text_codec.h"

#include <climits>

namespace zt {

std::string to_code_page(std::wstring_view text, UINT code_page) {
  if (text.empty() || text.size() > INT_MAX / 4) return {};
  const int n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

std::wstring from_code_page(std::string_view bytes, UINT code_page) {
  if (bytes.empty() || bytes.size() > INT_MAX / 2) return {};
  const int n =
      MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  }
  return out;
}

}  // namespace zt
