#include "formats/config.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>

#include "x87.h"

namespace zt {
namespace {

constexpr std::string_view kGameSection = "GameSetting";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// One step of UTF-8 decoding. On invalid input `len` is the maximal prefix of
// a well-formed sequence (at least 1), so every bad stretch maps to one U+FFFD.
struct Utf8Step {
  char32_t cp;
  std::size_t len;
  bool ok;
};

Utf8Step decode_utf8(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return {b0, 1, true};
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  char32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    return {0, 1, false};
  }
  std::size_t len = 1;
  for (std::size_t k = 0; k < need; ++k) {
    if (i + len >= s.size()) return {0, len, false};
    const auto b = static_cast<unsigned char>(s[i + len]);
    const unsigned char l = k == 0 ? lo : 0x80, h = k == 0 ? hi : 0xBF;
    if (b < l || b > h) return {0, len, false};
    cp = (cp << 6) | (b & 0x3F);
    ++len;
  }
  return {cp, len, true};
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_unicode_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Length of the white-space character that ends `s`, or 0.
std::size_t trailing_space_len(std::string_view s) {
  const std::size_t n = s.size();
  for (std::size_t len = 1; len <= 4 && len <= n; ++len) {
    const auto b = static_cast<unsigned char>(s[n - len]);
    if ((b & 0xC0) == 0x80) continue;  // continuation byte: look further back
    const Utf8Step st = decode_utf8(s, n - len);
    return st.ok && st.len == len && is_unicode_space(st.cp) ? len : 0;
  }
  return 0;
}

bool is_section_header(std::string_view trimmed) {
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
}

std::optional<std::int32_t> parse_i32(std::string_view s, int radix) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  std::int64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (radix == 16 && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (radix == 16 && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    v = v * radix + d;
    if (v > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -v : v);
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Decimal syntax: [+-] (digits [. digits] | . digits) [(e|E) [+-] digits].
bool is_decimal_number(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && is_digit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && is_digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < n && is_digit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == n;
}

// For a number that from_chars found out of range: whether it lies above the
// double range (rather than below it). Only the decimal order of magnitude
// matters, and it is far from 0 in both cases.
bool beyond_double_range(std::string_view s) {
  std::size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  std::int64_t magnitude = 0;  // decimal exponent of the first non-zero digit, plus one
  bool seen_nonzero = false;
  for (; i < s.size() && is_digit(s[i]); ++i) {
    if (s[i] != '0') seen_nonzero = true;
    if (seen_nonzero) ++magnitude;
  }
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && is_digit(s[i]); ++i) {
      if (seen_nonzero) break;
      if (s[i] != '0')
        seen_nonzero = true;
      else
        --magnitude;
    }
    while (i < s.size() && is_digit(s[i])) ++i;
  }
  std::int64_t exponent = 0;
  if (i < s.size()) {  // 'e' or 'E'
    ++i;
    const bool negative = s[i] == '-';
    if (s[i] == '+' || s[i] == '-') ++i;
    for (; i < s.size(); ++i)
      exponent = std::min<std::int64_t>(exponent * 10 + (s[i] - '0'), 1'000'000'000);
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0;
}

bool contains_ci(std::string_view hay, std::string_view needle) {
  return ascii_lower(hay).find(needle) != std::string::npos;
}

double physics_value(double base, double factor) {
  return X87::mul(X87::from_f64(base), X87::from_f64(factor)).to_f64();
}

}  // namespace

void TConfig::set_score_digits(std::int32_t value) {
  score_digits = std::clamp(value, 4, 20);
}
void TConfig::set_num_of_fragments(std::int32_t value) {
  num_of_fragments = std::clamp(value, -kMaxFragmentsFactor, kMaxFragmentsFactor);
}
void TConfig::set_highest_rank(std::int32_t value) {
  highest_rank = std::clamp(value, 0, 19);
}

std::string_view byte_order_mark(std::string_view text) {
  for (const std::string_view mark :
       {std::string_view("\xC3\xAF\xC2\xBB\xC2\xBF"), std::string_view("\xEF\xBB\xBF")}) {
    if (text.starts_with(mark)) return text.substr(0, mark.size());
  }
  return {};
}

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = byte_order_mark(text).size();
  while (start < text.size()) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    std::string_view line = text.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = lf + 1;
  }
  return lines;
}

std::string_view trim_ws(std::string_view text) {
  while (!text.empty()) {
    const Utf8Step st = decode_utf8(text, 0);
    if (!st.ok || !is_unicode_space(st.cp)) break;
    text.remove_prefix(st.len);
  }
  while (std::size_t len = trailing_space_len(text)) text.remove_suffix(len);
  return text;
}

std::vector<IniEntry> parse_ini(std::string_view text) {
  std::vector<IniEntry> entries;
  std::string section;
  for (const std::string& raw : split_lines(text)) {
    const std::string_view line = trim_ws(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (is_section_header(line)) {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    entries.push_back({section, std::string(trim_ws(line.substr(0, eq))),
                       std::string(trim_ws(line.substr(eq + 1)))});
  }
  return entries;
}

std::string_view ini_get(std::span<const IniEntry> entries, std::string_view section,
                         std::string_view key) {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (same_text(it->section, section) && same_text(it->key, key)) return it->value;
  }
  return {};
}

std::int32_t int_val(std::string_view text, std::int32_t def) {
  const std::string_view t = trim_ws(text);
  std::optional<std::int32_t> v;
  if (t.starts_with('$')) {
    v = parse_i32(t.substr(1), 16);
  } else if (t.starts_with("-$")) {
    v = parse_i32(t.substr(2), 16);
    // -(-2^31) has no 32-bit value.
    if (v && *v == std::numeric_limits<std::int32_t>::min()) v.reset();
    if (v) v = -*v;
  } else {
    v = parse_i32(t, 10);
  }
  return v.value_or(def);
}

bool bool_val(std::string_view text, bool def) {
  const std::string t = ascii_lower(trim_ws(text));
  if (t.empty()) return def;
  if (t == "1" || t == "on" || t == "yes" || t == "true") return true;
  if (t == "0" || t == "no" || t == "off" || t == "false") return false;
  return def;
}

double float_val(std::string_view text) {
  std::string_view t = trim_ws(text);
  if (t.empty() || contains_ci(t, "inf") || contains_ci(t, "nan")) return 1.0;
  if (!is_decimal_number(t)) return 1.0;
  const bool negative = t.front() == '-';
  std::string_view digits = t.front() == '+' ? t.substr(1) : t;  // from_chars takes no '+'
  double v = 0.0;
  const auto r =
      std::from_chars(digits.data(), digits.data() + digits.size(), v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // An infinite factor would only feed infinities into the physics.
    if (beyond_double_range(t)) return 1.0;
    return negative ? -0.0 : 0.0;
  }
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return 1.0;
  return v;
}

std::string copy_upper9(std::string_view text) {
  const std::string_view head = text.substr(0, std::min<std::size_t>(9, text.size()));
  std::string out;
  for (std::size_t i = 0; i < head.size();) {
    const Utf8Step st = decode_utf8(head, i);
    if (st.ok) {
      for (std::size_t k = 0; k < st.len; ++k) out += ascii_upper(head[i + k]);
    } else {
      out += kReplacement;
    }
    i += st.len;
  }
  return out;
}

void set_ini_key(std::vector<std::string>& lines, std::string_view key, std::string_view value) {
  const std::string line_text = std::string(key) + "=" + std::string(value);
  std::optional<std::size_t> first_header;
  std::size_t insert_after = 0;  // last non-empty line of the first GameSetting section
  bool in_game = false, in_first = false, in_first_already = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view t = trim_ws(lines[i]);
    if (is_section_header(t)) {
      in_game = same_text(t.substr(1, t.size() - 2), kGameSection);
      in_first = in_game && !first_header;
      if (in_first) {
        first_header = i;
        insert_after = i;
      }
      continue;
    }
    if (!in_game) continue;
    if (in_first && !t.empty()) insert_after = i;
    const std::size_t eq = lines[i].find('=');
    if (eq != std::string::npos &&
        same_text(trim_ws(std::string_view(lines[i]).substr(0, eq)), key)) {
      lines[i] = line_text;
      if (in_first) in_first_already = true;
    }
  }
  // The Windows reader looks only at the first section: it needs the key even
  // when a later section already had it.
  if (in_first_already) return;
  if (first_header) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_after + 1), line_text);
    return;
  }
  if (!lines.empty() && !trim_ws(lines.back()).empty()) lines.emplace_back();
  lines.push_back("[" + std::string(kGameSection) + "]");
  lines.push_back(line_text);
}

TConfig load_config(std::string_view text) {
  const std::vector<IniEntry> entries = parse_ini(text);
  const auto game = [&](std::string_view key) { return ini_get(entries, kGameSection, key); };
  const auto factor = [&](std::string_view key) {
    return float_val(ini_get(entries, "ConstantSetting", key));
  };

  TConfig c;
  c.flags = 0;
  for (const FlagSetting& f : kFlagSettings) {
    if (bool_val(game(f.key), f.default_on)) c.flags |= f.bit;
  }

  c.last_player_name = copy_upper9(game("LastPlayerName"));
  c.set_num_of_fragments(int_val(game("NumOfFragments"), 20));
  c.set_score_digits(int_val(game("ScoreNumOfDigits"), 12));
  c.score_grouping = int_val(game("ScoreSeparate"), 4);
  if (c.score_grouping < 2) c.score_grouping = 1;

  const std::string_view rank = trim_ws(game("AppearedMaxRank"));
  const auto title = std::find(kRankTitles.begin(), kRankTitles.end(), rank);
  c.highest_rank =
      title == kRankTitles.end() ? 0 : static_cast<std::int32_t>(title - kRankTitles.begin());

  const double gravity = factor("Gravity");
  const double collision = factor("CollisionConstant");
  const double length = factor("NaturalLength");
  const double rubber = factor("RubberConstant");
  double mass = factor("BallMass");
  if (mass == 0.0) mass = 1.0;  // a massless ball cannot be simulated
  c.gravity = physics_value(kBaseGravity, gravity);
  c.collision_constant = physics_value(kBaseCollisionConstant, std::fabs(collision));
  c.natural_length = physics_value(kBaseNaturalLength, std::fabs(length));
  c.rubber_constant = physics_value(kBaseRubberConstant, std::fabs(rubber));
  c.ball_mass = physics_value(kBaseBallMass, std::fabs(mass));

  const X87 one = X87::from_f64(1.0);
  c.experiment = false;
  for (double f : {gravity, collision, length, rubber, mass}) {
    if (!X87::eq(X87::from_f64(f), one)) c.experiment = true;
  }

  const bool reject_auto_save =
      bool_val(ini_get(entries, "SystemSetting", "RejectAutoSave"), false);
  if (reject_auto_save || c.experiment) c.flags &= static_cast<std::uint8_t>(~kAutoSaveAt1);
  return c;
}

std::string save_config(std::optional<std::string_view> current, std::uint8_t flags,
                        std::string_view last_player_name, std::int32_t fragments,
                        std::int32_t score_digits, std::int32_t score_grouping,
                        std::int32_t highest_rank) {
  std::vector<std::string> lines;
  if (current) lines = split_lines(*current);
  // A file saved on Linux keeps its LF: as CR LF it would grow by a byte a
  // line, a large one past what the next start reads.
  bool lf = current && current->find('\n') != std::string_view::npos &&
            current->find("\r\n") == std::string_view::npos;

  for (const FlagSetting& f : kFlagSettings) set_ini_key(lines, f.key, (flags & f.bit) ? "1" : "0");
  set_ini_key(lines, "LastPlayerName", copy_upper9(last_player_name));
  set_ini_key(lines, "NumOfFragments", std::to_string(fragments));
  set_ini_key(lines, "ScoreNumOfDigits", std::to_string(score_digits));
  set_ini_key(lines, "ScoreSeparate", std::to_string(score_grouping));
  const bool known_rank =
      highest_rank >= 0 && highest_rank < static_cast<std::int32_t>(kRankTitles.size());
  set_ini_key(lines, "AppearedMaxRank",
              known_rank ? kRankTitles[static_cast<std::size_t>(highest_rank)] : kRankTitles[0]);

  // A line that ends in CR would end in CR LF once joined.
  for (std::size_t i = 0; lf && i + 1 < lines.size(); ++i) lf = !lines[i].ends_with('\r');
  std::string out(current ? byte_order_mark(*current) : std::string_view());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += lf ? "\n" : "\r\n";
    out += lines[i];
  }
  return out;
}

std::string latin1_to_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) append_utf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string utf8_to_latin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Step st = decode_utf8(text, i);
    if (st.ok && st.cp < 0x100) {
      out += static_cast<char>(st.cp);
    } else {
      out.append(text.substr(i, st.len));
    }
    i += st.len;
  }
  return out;
}

}  // namespace zt
