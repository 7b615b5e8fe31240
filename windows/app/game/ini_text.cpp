#include "ini_text.h"

#include <windows.h>

#include <algorithm>

#include "text_codec.h"

namespace zt::win {

namespace {

constexpr std::size_t npos = std::wstring::npos;

bool is_blank(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A;
}

std::wstring_view trim(std::wstring_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::wstring_view up_to_nul(std::wstring_view s) {
  return s.substr(0, s.find(L'\0'));
}

wchar_t ascii_lower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool same_name(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

// Where the line end that `end` points at is over: after CR LF, LF or CR.
std::size_t after_line_end(std::wstring_view s, std::size_t end) {
  if (end >= s.size()) return end;
  return end + (s[end] == L'\r' && end + 1 < s.size() && s[end + 1] == L'\n' ? 2 : 1);
}

}  // namespace

IniText::IniText(std::string_view bytes) {
  std::string_view body = bytes;
  if (body.starts_with("\xEF\xBB\xBF")) {
    encoding_ = Encoding::kUtf8;
  } else if (body.starts_with("\xFF\xFE")) {
    encoding_ = Encoding::kUtf16Le;
  } else if (body.starts_with("\xFE\xFF")) {
    encoding_ = Encoding::kUtf16Be;
  }
  const std::size_t mark = encoding_ == Encoding::kUtf8 ? 3 : encoding_ == Encoding::kAnsi ? 0 : 2;
  mark_ = body.substr(0, mark);
  body.remove_prefix(mark);
  if (encoding_ == Encoding::kUtf16Le || encoding_ == Encoding::kUtf16Be) {
    if (body.size() % 2 != 0) {
      odd_byte_ = body.substr(body.size() - 1);
      body.remove_suffix(1);
    }
    const bool le = encoding_ == Encoding::kUtf16Le;
    units_.reserve(body.size() / 2);
    for (std::size_t i = 0; i < body.size(); i += 2) {
      const auto a = static_cast<unsigned char>(body[i]),
                 b = static_cast<unsigned char>(body[i + 1]);
      units_ += static_cast<wchar_t>(le ? a | b << 8 : b | a << 8);
    }
  } else {
    units_.reserve(body.size());
    for (const char c : body) units_ += static_cast<wchar_t>(static_cast<unsigned char>(c));
  }
  const bool lf = units_.find(L'\n') != npos && units_.find(L"\r\n") == npos;
  eol_ = lf ? L"\n" : L"\r\n";
  parse();
}

std::wstring IniText::encode(std::wstring_view text) const {
  if (encoding_ == Encoding::kUtf16Le || encoding_ == Encoding::kUtf16Be) return std::wstring(text);
  const std::string bytes = to_code_page(text, encoding_ == Encoding::kUtf8 ? CP_UTF8 : CP_ACP);
  std::wstring units;
  units.reserve(bytes.size());
  for (const char c : bytes) units += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return units;
}

std::wstring IniText::decode(std::wstring_view units) const {
  if (encoding_ == Encoding::kUtf16Le || encoding_ == Encoding::kUtf16Be)
    return std::wstring(units);
  std::string bytes;
  bytes.reserve(units.size());
  for (const wchar_t u : units) bytes += static_cast<char>(u);
  return from_code_page(bytes, encoding_ == Encoding::kUtf8 ? CP_UTF8 : CP_ACP);
}

void IniText::parse() {
  // Decoded whole, as the system reads the file.
  text_ = decode(units_);
  if (!split_lines()) {
    // Only a double-byte code page can take a line end into a character:
    // the file is then written as its reader sees it.
    units_ = encode(text_);
    split_lines();
  }
  sections_.clear();
  sections_.push_back({0, 0, 0, 0, npos});
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto [b, e] = trimmed(lines_[i].text_begin, lines_[i].text_end);
    if (b == e) continue;
    if (text_[b] == L'[') {
      std::size_t close = e - 1;
      while (close > b && text_[close] != L']') --close;
      if (close > b) {
        sections_.back().end = i;
        auto [nb, ne] = trimmed(b + 1, close);
        ne = static_cast<std::size_t>(std::find(text_.begin() + static_cast<std::ptrdiff_t>(nb),
                                                text_.begin() + static_cast<std::ptrdiff_t>(ne),
                                                L'\0') -
                                      text_.begin());
        sections_.push_back({nb, ne, i + 1, lines_.size(), i});
        continue;
      }
    }
    sections_.back().last = i;
  }
  sections_.back().end = lines_.size();
}

bool IniText::split_lines() {
  lines_.clear();
  std::size_t u = 0, t = 0;
  while (u < units_.size() || t < text_.size()) {
    if (u >= units_.size() || t >= text_.size()) return false;
    const std::size_t ue = std::min(units_.find_first_of(L"\r\n", u), units_.size());
    const std::size_t te = std::min(text_.find_first_of(L"\r\n", t), text_.size());
    const std::size_t un = after_line_end(units_, ue);
    lines_.push_back({u, ue, un, t, te});
    u = un;
    t = after_line_end(text_, te);
  }
  return true;
}

std::pair<std::size_t, std::size_t> IniText::trimmed(std::size_t begin, std::size_t end) const {
  while (begin < end && is_blank(text_[begin])) ++begin;
  while (end > begin && is_blank(text_[end - 1])) --end;
  return {begin, end};
}

const IniText::Section* IniText::find_section(std::wstring_view name) const {
  for (const Section& s : sections_) {
    if (same_name(std::wstring_view(text_).substr(s.name_begin, s.name_end - s.name_begin), name)) {
      return &s;
    }
  }
  return nullptr;
}

bool IniText::find_key(const Section& section, std::wstring_view key, Found& found) const {
  const std::wstring_view text = text_;
  for (std::size_t i = section.first; i < section.end; ++i) {
    const auto [b, e] = trimmed(lines_[i].text_begin, lines_[i].text_end);
    if (b == e) continue;
    const std::wstring_view t = text.substr(b, e - b);
    const std::size_t eq = t.find(L'=');
    const std::wstring_view name = eq == npos ? t : trim(t.substr(0, eq));
    if (!same_name(up_to_nul(name), key)) continue;
    found.line = i;
    found.has_equals = eq != npos;
    found.value = eq == npos ? std::wstring() : std::wstring(up_to_nul(trim(t.substr(eq + 1))));
    return true;
  }
  return false;
}

std::wstring IniText::ReadString(std::wstring_view section, std::wstring_view key,
                                 std::size_t buffer_chars) const {
  const Section* s = find_section(section);
  Found found;
  if (s == nullptr || !find_key(*s, key, found) || !found.has_equals || buffer_chars == 0) {
    return {};
  }
  // A pair of quotes goes; when the value fills the buffer, its closing
  // quote is never copied, and the system then cuts the last character.
  std::wstring_view v = found.value;
  bool quoted = false;
  if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front()) {
    quoted = true;
    v.remove_prefix(1);
  }
  std::wstring out(v.substr(0, buffer_chars - 1));
  if (quoted && buffer_chars >= v.size() && !out.empty()) out.pop_back();
  return out;
}

void IniText::WriteString(std::wstring_view section, std::wstring_view key,
                          std::wstring_view value) {
  WriteStrings(section, {{std::wstring(key), std::wstring(value)}});
}

void IniText::WriteStrings(std::wstring_view section,
                           const std::vector<std::pair<std::wstring, std::wstring>>& values) {
  // Each edit replaces `remove` units at `at`; added keys follow the edits of
  // keys already there, in the order the system would have written them one
  // by one.
  struct Edit {
    std::size_t at, remove;
    std::wstring insert;
  };
  std::vector<Edit> edits;
  std::vector<std::wstring> added;
  const Section* s = find_section(section);
  for (const auto& [key, value] : values) {
    Found found;
    if (s == nullptr || !find_key(*s, key, found)) {
      added.push_back(encode(key + L"=" + value));
      continue;
    }
    const Line& l = lines_[found.line];
    const std::wstring_view old(units_.data() + l.unit_begin, l.unit_end - l.unit_begin);
    // "=" and the blanks are the same units in every encoding the reader
    // takes. What stands before the old value stays.
    std::size_t keep = old.find(L'=');
    if (keep == npos) {
      edits.push_back({l.unit_end, 0, L"=" + encode(value)});
      continue;
    }
    ++keep;
    while (keep < old.size() && is_blank(old[keep])) ++keep;
    edits.push_back({l.unit_begin + keep, old.size() - keep, encode(value)});
  }
  if (!added.empty()) {
    std::wstring lines;
    std::size_t at = units_.size();
    bool ended = true;  // the text before the new lines ends with a line end
    if (s != nullptr && s->last == npos) {
      at = 0;  // the lines before the first section, and there are none
    } else if (s != nullptr) {
      // After the section's last line; one without a line end stays the last.
      const Line& l = lines_[s->last];
      at = l.unit_next;
      ended = l.unit_next > l.unit_end;
    } else {
      if (!lines_.empty() && lines_.back().unit_next == lines_.back().unit_end) lines += eol_;
      lines += encode(L"[" + std::wstring(section) + L"]") + eol_;
    }
    for (std::size_t i = 0; i < added.size(); ++i) {
      if (ended) {
        lines += added[i] + eol_;
      } else {
        lines += eol_ + added[i];
      }
    }
    edits.push_back({at, 0, std::move(lines)});
  }
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.at < b.at; });
  std::wstring out;
  out.reserve(units_.size() + 64 * values.size());
  std::size_t from = 0;
  for (const Edit& e : edits) {
    out.append(units_, from, e.at - from);
    out += e.insert;
    from = e.at + e.remove;
  }
  out.append(units_, from);
  units_ = std::move(out);
  parse();
}

std::string IniText::bytes() const {
  std::string out = mark_;
  if (encoding_ == Encoding::kUtf16Le || encoding_ == Encoding::kUtf16Be) {
    out.reserve(out.size() + units_.size() * 2 + 1);
    const bool le = encoding_ == Encoding::kUtf16Le;
    for (const wchar_t u : units_) {
      const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
      out += le ? lo : hi;
      out += le ? hi : lo;
    }
  } else {
    out.reserve(out.size() + units_.size());
    for (const wchar_t u : units_) out += static_cast<char>(u);
  }
  return out + odd_byte_;
}

}  // namespace zt::win
