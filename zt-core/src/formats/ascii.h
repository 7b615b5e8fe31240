// ASCII case folding. Names in archives, settings keys, song and port names
// are compared this way in both programs: bytes beyond ASCII stay as they
// are, whatever the locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zt {

inline char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char ascii_upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

// The same length in bytes and equal bytes once ASCII letters are lower-cased.
inline bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

}  // namespace zt
