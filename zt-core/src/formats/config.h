// The settings file "Zentria.ini": its reader, its writer and the record the
// game keeps its settings in.
//
// Text representation: the host reads the file one byte per character, each
// byte becoming the code point of the same value, and the core holds that text
// as UTF-8 (latin1_to_utf8). A byte 0xA0 therefore arrives as U+00A0 (C2 A0),
// which the reader trims as white space like any other Unicode white space.
// The writer's text goes back to bytes with utf8_to_latin1: every code point
// below 256 becomes its byte again, so an edited file keeps every byte that
// was not rewritten.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ascii.h"  // same_text

namespace zt {

// The most of a settings file either program reads, and so the most either
// writes: a file over it would be refused at the next start. Real ones are
// about 1 KB.
inline constexpr std::uint64_t kSettingsFileCap = std::uint64_t{1} << 20;

// Bits of TConfig::flags.
inline constexpr std::uint8_t kDrawBackground = 1;
inline constexpr std::uint8_t kPlaySE = 2;
inline constexpr std::uint8_t kPlayMidi = 4;
inline constexpr std::uint8_t kShowEachScore = 8;
inline constexpr std::uint8_t kAutoSaveAt1 = 16;
inline constexpr std::uint8_t kExitWithRBtn = 32;
inline constexpr std::uint8_t kViewFpsNumber = 64;
inline constexpr std::uint8_t kMiniScreen = 128;

// The eight boolean keys of "GameSetting" behind the flag bits, in the order
// both programs write them, with their defaults.
struct FlagSetting {
  const char* key;
  std::uint8_t bit;
  bool default_on;
};
inline constexpr std::array<FlagSetting, 8> kFlagSettings = {{
    {"DrawBackground", kDrawBackground, true},
    {"PlaySE", kPlaySE, true},
    {"PlayMidi", kPlayMidi, true},
    {"ShowEachScore", kShowEachScore, false},
    {"AutoSaveAt1", kAutoSaveAt1, false},
    {"ExitWithRBtn", kExitWithRBtn, false},
    {"ViewFpsNumber", kViewFpsNumber, false},
    {"MiniScreen", kMiniScreen, false},
}};

inline constexpr std::array<std::string_view, 20> kRankTitles = {
    "E",
    "D",
    "C",
    "B",
    "A",
    "S",
    "SS",
    "SSS",
    "Ultra",
    "Genius",
    "Hyper",
    "Ex-Hyper",
    "Super Hyper",
    "Ultra Hyper",
    "Super Ultra Hyper",
    "Cosmic Super",
    "Cosmic Hyper",
    "Cosmic Ex-Hyper",
    "Zentropolium",
    "God of Pendulum",
};

// Base values that the ConstantSetting factors scale.
inline constexpr double kBaseGravity = 0.2;
inline constexpr double kBaseCollisionConstant = 0.7;
inline constexpr double kBaseNaturalLength = 25.0;
inline constexpr double kBaseRubberConstant = 0.008;
inline constexpr double kBaseBallMass = 1.0;

// The largest NumOfFragments either way: a hit throws up to 1.03 times the
// factor, and a hand-edited 2000000000 must neither overflow that product nor
// fill memory with fragments.
inline constexpr std::int32_t kMaxFragmentsFactor = 1000;

// The settings record. Defaults are those of an empty settings file.
struct TConfig {
  std::uint8_t flags = kDrawBackground | kPlaySE | kPlayMidi;
  std::string last_player_name;
  double gravity = kBaseGravity;
  double collision_constant = kBaseCollisionConstant;
  double natural_length = kBaseNaturalLength;
  double rubber_constant = kBaseRubberConstant;
  double ball_mass = kBaseBallMass;
  std::int32_t num_of_fragments = 20;
  std::int32_t score_digits = 12;
  std::int32_t score_grouping = 4;
  std::int32_t highest_rank = 0;  // index into kRankTitles
  bool experiment = false;        // scores of such plays are not ranked

  void set_score_digits(std::int32_t value);      // clamped to 4..20
  void set_num_of_fragments(std::int32_t value);  // clamped to +-kMaxFragmentsFactor
  void set_highest_rank(std::int32_t value);      // clamped to 0..19

  bool operator==(const TConfig&) const = default;
};

// One "key=value" line with the section it stands in (all three as written,
// key and value trimmed).
struct IniEntry {
  std::string section;
  std::string key;
  std::string value;
  bool operator==(const IniEntry&) const = default;
};

// Never fails: whatever is missing or unreadable takes its default.
TConfig load_config(std::string_view text);

// The new file text: `current` with the GameSetting keys set in place (or
// the keys alone when there is no current text), lines joined with CR LF, or
// with LF when that is how every line of `current` ends. A byte-order mark
// that begins `current` begins the new text too.
std::string save_config(std::optional<std::string_view> current, std::uint8_t flags,
                        std::string_view last_player_name, std::int32_t fragments,
                        std::int32_t score_digits, std::int32_t score_grouping,
                        std::int32_t highest_rank);

// The UTF-8 byte-order mark that begins the text, as an editor may save it
// before the first line: the three bytes EF BB BF as the host hands them,
// one character each, or the character U+FEFF itself. Empty when there is none.
std::string_view byte_order_mark(std::string_view text);
// Lines split at LF, a CR before the LF dropped; no piece after a final LF.
// A byte-order mark before the first line is no part of it. An empty text
// has no lines.
std::vector<std::string> split_lines(std::string_view text);
// Removes Unicode white space (U+0085 and U+00A0 included) from both ends.
std::string_view trim_ws(std::string_view text);
// The entries of every key line, in file order.
std::vector<IniEntry> parse_ini(std::string_view text);

// The value of the last entry whose section and key match (same_text); empty
// when there is none.
std::string_view ini_get(std::span<const IniEntry> entries, std::string_view section,
                         std::string_view key);
// Decimal, "$" hexadecimal or "-$" negated hexadecimal; anything else, and a
// value beyond 32 bits, gives `def`.
std::int32_t int_val(std::string_view text, std::int32_t def);
// 1/on/yes/true and 0/no/off/false in any letter case; anything else gives `def`.
bool bool_val(std::string_view text, bool def);
// A decimal number rounded to the nearest double. Empty, unreadable, "inf" or
// "nan" anywhere, and a magnitude beyond the double range give 1.0; a
// magnitude below it gives zero of the number's sign.
double float_val(std::string_view text);
// The first 9 bytes, ASCII letters upper-cased; a character cut at the 9th
// byte, and any other invalid UTF-8, becomes U+FFFD.
std::string copy_upper9(std::string_view text);
// Sets `key` in the GameSetting section: replaces every line of that key in
// every GameSetting section (so a reader that takes the first and one that
// takes the last occurrence both see the new value), and when the first such
// section has none, inserts it after that section's last non-empty line;
// without such a section, appends one.
void set_ini_key(std::vector<std::string>& lines, std::string_view key, std::string_view value);

// Host conversions between the file's bytes and the core's text.
std::string latin1_to_utf8(std::string_view bytes);
// Code points below 256 become one byte; others keep their UTF-8 bytes, and
// bytes that are not valid UTF-8 are passed through unchanged.
std::string utf8_to_latin1(std::string_view text);

}  // namespace zt
