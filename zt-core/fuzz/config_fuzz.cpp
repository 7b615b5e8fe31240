// Settings file: any file bytes are read; saving over them must write values
// that the next start reads back, leave every other line alone, and saving
// the same values again must change nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/config.h"

namespace {

using namespace zt;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "config_fuzz: %s\n", what);
    std::abort();
  }
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

constexpr std::string_view kKeys[] = {
    "DrawBackground",   "PlaySE",        "PlayMidi",        "ShowEachScore",  "AutoSaveAt1",
    "ExitWithRBtn",     "ViewFpsNumber", "MiniScreen",      "LastPlayerName", "NumOfFragments",
    "ScoreNumOfDigits", "ScoreSeparate", "AppearedMaxRank",
};

// Lines the writer may add or rewrite: key lines of its keys, GameSetting
// headers and blank lines. Whatever is left must come through unchanged.
std::vector<std::string> untouchable_lines(std::string_view text) {
  std::vector<std::string> kept;
  for (std::string& line : split_lines(text)) {
    const std::string_view t = trim_ws(line);
    if (t.empty() || same_text(t, "[GameSetting]")) continue;
    const std::size_t eq = line.find('=');
    bool ours = false;
    if (eq != std::string::npos) {
      const std::string_view key = trim_ws(std::string_view(line).substr(0, eq));
      for (std::string_view k : kKeys) ours = ours || same_text(key, k);
    }
    if (!ours) kept.push_back(std::move(line));
  }
  return kept;
}

// What a reader that takes only the first GameSetting section and the first
// line of a key there (the Windows program's) finds; nothing when the key is
// not there.
std::optional<std::string> first_section_value(std::string_view text, std::string_view key) {
  bool seen = false, in_first = false;
  for (const std::string& line : split_lines(text)) {
    const std::string_view t = trim_ws(line);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      if (in_first) return std::nullopt;
      in_first = !seen && same_text(t.substr(1, t.size() - 2), "GameSetting");
      seen = seen || in_first;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (in_first && eq != std::string::npos &&
        same_text(trim_ws(std::string_view(line).substr(0, eq)), key)) {
      return std::string(trim_ws(std::string_view(line).substr(eq + 1)));
    }
  }
  return std::nullopt;
}

// The input: a header of the values to save, then the file's bytes.
//   byte 0 flags; byte 1 choices (bit 0 keep the read name, bit 1 keep the
//   read numbers, bit 2 no current text); bytes 2-17 fragments, digits,
//   grouping and rank (32-bit little-endian); byte 18 name length (mod 17);
//   the name; the file.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::int32_t i32() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= std::uint32_t{byte()} << (8 * k);
    return static_cast<std::int32_t>(v);
  }
  std::string bytes(std::size_t n) {
    n = std::min(n, size_ - pos_);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  std::string rest() { return bytes(size_ - pos_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Names as the name entry makes them: printable ASCII.
std::string ascii_name(Input& in) {
  std::string name = in.bytes(in.byte() % 17);
  for (char& c : name) c = static_cast<char>(0x20 + static_cast<unsigned char>(c) % 95);
  return name;
}

// What reading gives for an ASCII name: the first 9 characters, upper case,
// without the spaces at its ends.
std::string expected_ascii_name(std::string name) {
  name.resize(std::min<std::size_t>(name.size(), 9));
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t flags = in.byte();
  const std::uint8_t choices = in.byte();
  const bool keep_name = choices & 1, keep_numbers = choices & 2, no_current = choices & 4;
  std::int32_t fragments = in.i32();
  std::int32_t digits = in.i32();
  std::int32_t grouping = in.i32();
  std::int32_t rank = in.i32();
  std::string name = ascii_name(in);
  const std::string file = in.rest();

  const std::string text = latin1_to_utf8(file);
  const TConfig before = load_config(text);
  std::string want_name = expected_ascii_name(name);
  if (keep_name) {
    name = before.last_player_name;
    want_name = std::string(trim_ws(name));
  }
  if (keep_numbers) {
    fragments = before.num_of_fragments;
    digits = before.score_digits;
    grouping = before.score_grouping;
    rank = before.highest_rank;
  }

  const std::optional<std::string_view> current =
      no_current ? std::nullopt : std::optional<std::string_view>(text);
  const std::string saved = save_config(current, flags, name, fragments, digits, grouping, rank);
  // Saving again changes nothing, except that a final empty line reads as the
  // end of the text and is not written again.
  std::string_view want_again = saved;
  if (want_again.ends_with("\r\n")) {
    want_again.remove_suffix(2);
  } else if (want_again.ends_with('\n')) {
    want_again.remove_suffix(1);
  }
  check(byte_order_mark(saved) == (current ? byte_order_mark(*current) : std::string_view()),
        "the byte-order mark");
  // A file of LF line ends and no CR keeps them.
  check(!current || current->find('\n') == std::string_view::npos ||
            current->find('\r') != std::string_view::npos || saved.find('\r') == std::string::npos,
        "LF line ends became CR LF");
  check(save_config(saved, flags, name, fragments, digits, grouping, rank) == want_again,
        "saving the same values twice changed the text");
  if (current) {
    check(untouchable_lines(saved) == untouchable_lines(text), "the writer changed another line");
  }

  // The next start reads the bytes that the host wrote.
  const TConfig after = load_config(latin1_to_utf8(utf8_to_latin1(saved)));
  const TConfig base = current ? before : load_config("");
  const bool reject = bool_val(
      ini_get(parse_ini(current ? text : std::string_view()), "SystemSetting", "RejectAutoSave"),
      false);
  const std::uint8_t want_flags =
      (reject || base.experiment) ? static_cast<std::uint8_t>(flags & ~kAutoSaveAt1) : flags;
  check(after.flags == want_flags, "flags");
  check(after.last_player_name == want_name, "name");
  check(after.num_of_fragments == std::clamp(fragments, -kMaxFragmentsFactor, kMaxFragmentsFactor),
        "fragments");
  check(after.score_digits == std::clamp(digits, 4, 20), "score digits");
  check(first_section_value(saved, "NumOfFragments") == std::to_string(fragments) &&
            first_section_value(saved, "PlaySE") == ((flags & kPlaySE) ? "1" : "0"),
        "the first GameSetting section lacks a saved value");
  check(after.score_grouping == (grouping < 2 ? 1 : grouping), "score grouping");
  check(after.highest_rank == (rank >= 0 && rank <= 19 ? rank : 0), "highest rank");
  check(same_bits(after.gravity, base.gravity) &&
            same_bits(after.collision_constant, base.collision_constant) &&
            same_bits(after.natural_length, base.natural_length) &&
            same_bits(after.rubber_constant, base.rubber_constant) &&
            same_bits(after.ball_mass, base.ball_mass) && after.experiment == base.experiment,
        "physics values");
  return 0;
}
