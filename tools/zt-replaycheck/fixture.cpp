#include "fixture.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>

#include "formats/recorder.h"

namespace zt {
namespace {

// The keys every fixture must check: the outcome a player sees and the
// pictures.
constexpr std::string_view kRequired[] = {"score", "hits", "max_combo", "menu_hash", "play_hash"};

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return out;
}

std::pair<std::string_view, std::string_view> split(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return {line, {}};
  return {line.substr(0, space), line.substr(space + 1)};
}

template <class T>
bool parse_number(std::string_view s, T& out, int base = 10) {
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

std::string unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

// FNV-1a over the little-endian bytes of each picture's hash, in order.
std::string combined_hash(std::span<const std::uint64_t> hashes) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const std::uint64_t v : hashes) {
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (8 * i)) & 0xff;
      h *= 0x100000001b3ULL;
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

}  // namespace

std::variant<ReplayFixture, std::string> parse_fixture(std::string_view text) {
  ReplayFixture f;
  bool have_slot = false, have_seed = false;
  for (const std::string_view line : lines_of(text)) {
    if (line.empty() || line.front() == '#') continue;
    const auto [key, value] = split(line);
    if (key == "slot") {
      if (!parse_number(value, f.slot) || f.slot < 1 || f.slot > 10) {
        return "the slot is not one of 1 to 10: " + std::string(line);
      }
      have_slot = true;
    } else if (key == "runtime_seed") {
      if (!parse_number(value, f.runtime_seed)) return "a bad runtime seed: " + std::string(line);
      have_seed = true;
    } else if (key == "settings") {
      f.settings = unescape(value);
    } else if (std::any_of(f.expected.begin(), f.expected.end(),
                           [&](const auto& e) { return e.first == key; })) {
      return "\"" + std::string(key) + "\" is expected twice";
    } else {
      f.expected.emplace_back(key, value);
    }
  }
  if (!have_slot || !have_seed) return "no slot or no runtime seed";
  for (const std::string_view key : kRequired) {
    if (std::none_of(f.expected.begin(), f.expected.end(),
                     [&](const auto& e) { return e.first == key; })) {
      return "nothing expected of \"" + std::string(key) + "\"";
    }
  }
  return f;
}

FixtureLines fixture_outcome(std::string_view report) {
  FixtureLines out;
  const std::vector<std::string_view> lines = lines_of(report);
  std::size_t at = 0;
  std::size_t frames = 0, play_shown = 0;
  for (; at < lines.size(); ++at) {
    const auto [key, value] = split(lines[at]);
    if (key == "play") continue;  // the name, which is the fixture's own
    out.emplace_back(key, value);
    if (key == "destroyed") {
      std::int64_t hits = 0;
      for (std::string_view rest = value; !rest.empty();) {
        const auto [n, tail] = split(rest);
        std::int32_t d = 0;
        if (parse_number(n, d)) hits += d;
        rest = tail;
      }
      out.emplace_back("hits", std::to_string(hits));
    }
    if (key == "play_shown") parse_number(value, play_shown);
    if (key == "frames") {
      parse_number(value, frames);
      ++at;
      break;
    }
  }
  std::vector<std::uint64_t> hashes;
  for (; at < lines.size() && hashes.size() < frames; ++at) {
    std::uint64_t h = 0;
    if (!parse_number(lines[at], h, 16)) break;
    hashes.push_back(h);
  }
  // A report cut short hashes what it has: the frame count already differs.
  const std::size_t menu = std::min(hashes.size(), frames - std::min(frames, play_shown));
  out.emplace_back("menu_hash", combined_hash(std::span(hashes).first(menu)));
  out.emplace_back("play_hash", combined_hash(std::span(hashes).subspan(menu)));
  return out;
}

std::vector<std::string> fixture_differences(const ReplayFixture& fixture,
                                             std::span<const std::uint8_t> file,
                                             std::string_view report,
                                             std::span<const std::uint8_t> written_back) {
  std::vector<std::string> out;
  const FixtureLines outcome = fixture_outcome(report);
  const std::map<std::string, std::string, std::less<>> got(outcome.begin(), outcome.end());
  for (const auto& [key, value] : fixture.expected) {
    const auto it = got.find(key);
    if (it == got.end()) {
      out.push_back(key + ": expected " + value + ", the replay has no such value");
    } else if (it->second != value) {
      out.push_back(key + ": expected " + value + ", replayed " + it->second);
    }
  }

  if (file.size() < RecHeaderRaw::kSize) {
    out.push_back("the recording has no header");
    return out;
  }
  const RecHeaderRaw h = RecHeaderRaw::decode(file.first<RecHeaderRaw::kSize>());
  if (h.f30() != RecHeaderRaw::kFormatMark) {
    out.push_back("the header's format mark is " + std::to_string(h.f30()) + ", not " +
                  std::to_string(RecHeaderRaw::kFormatMark));
  }
  const auto header_says = [&](std::string_view key, std::int64_t value) {
    const auto it = got.find(key);
    const std::string v = std::to_string(value);
    if (it == got.end() || it->second != v) {
      out.push_back("the header's " + std::string(key) + " is " + v + ", the replay's " +
                    (it == got.end() ? std::string("missing") : it->second));
    }
  };
  header_says("score", h.f18());
  header_says("max_combo", h.f20());
  header_says("hits", h.f24());

  if (!std::equal(file.begin(), file.end(), written_back.begin(), written_back.end())) {
    const auto a =
        std::mismatch(file.begin(), file.end(), written_back.begin(), written_back.end()).first;
    out.push_back("the replay left the file changed from byte " + std::to_string(a - file.begin()) +
                  " (" + std::to_string(file.size()) + " bytes recorded, " +
                  std::to_string(written_back.size()) + " left)");
  }
  return out;
}

}  // namespace zt
