#include "win_settings.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "exe_dir.h"
#include "formats/config.h"
#include "ini_text.h"
#include "read_file.h"
#include "replace_file.h"
#include "text_codec.h"
#include "x87.h"

namespace zt::win {

namespace {

constexpr const char* kGame = "GameSetting";
constexpr const char* kConstant = "ConstantSetting";
constexpr const char* kSystem = "SystemSetting";

// Values are read as the system's ANSI reader gives them: through a buffer
// of 2048 characters, then in the ANSI code page, at most 2047 bytes.
constexpr std::size_t kValueBuffer = 2048;

bool is_space(char c) {
  return c == ' ' || c == '\t';
}

std::wstring ascii_wide(std::string_view key) {
  return std::wstring(key.begin(), key.end());
}

std::string read_string(const IniText& ini, const char* section, const char* key) {
  std::string value =
      to_code_page(ini.ReadString(ascii_wide(section), ascii_wide(key), kValueBuffer), CP_ACP);
  if (value.size() > kValueBuffer - 1) value.resize(kValueBuffer - 1);
  return value;
}

std::int32_t read_int(const IniText& ini, const char* section, const char* key, std::int32_t def) {
  return IniInt(read_string(ini, section, key), def);
}

bool read_bool(const IniText& ini, const char* section, const char* key, bool def) {
  return read_int(ini, section, key, def ? 1 : 0) != 0;
}

char system_decimal_separator() {
  char buffer[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer) > 0 &&
      buffer[0] != 0) {
    return buffer[0];
  }
  return '.';
}

double physics_value(double base, double factor) {
  return X87::mul(X87::from_f64(base), X87::from_f64(factor)).to_f64();
}

// The file's bytes: none when it is not there, an error when it is there but
// cannot be read whole within its cap (denied, an input/output error, not a
// file on a disk, too large).
std::variant<std::string, ReadFailure> read_settings_file(const std::wstring& path) {
  ReadResult read = read_whole_file(path, kSettingsFileCap);
  if (const auto* failure = std::get_if<ReadFailure>(&read)) {
    if (failure->kind == ReadFailure::kMissing) return std::string();
    return *failure;
  }
  const auto& bytes = std::get<std::vector<std::uint8_t>>(read);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

void WinConfig::SetFlags(std::uint8_t flags) {
  if (reject_auto_save || config.experiment) flags &= static_cast<std::uint8_t>(~kAutoSaveAt1);
  config.flags = flags;
}

std::int32_t IniInt(std::string_view text, std::int32_t def) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return def;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return def;
    }
    value = value * (hex ? 16 : 10) + digit;
    // Hexadecimal may use all 32 bits; decimal must fit the signed range.
    if (hex ? value > 0xFFFFFFFFull : value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) {
      return def;
    }
  }
  const auto bits = static_cast<std::uint32_t>(value);
  const auto v = static_cast<std::int32_t>(bits);
  return negative ? static_cast<std::int32_t>(0u - bits) : v;
}

double IniFloat(std::string_view text, double def, char decimal_separator) {
  std::size_t b = 0, e = text.size();
  while (b < e && is_space(text[b])) ++b;
  while (e > b && is_space(text[e - 1])) --e;
  std::string s;
  std::size_t i = b;
  if (i < e && (text[i] == '+' || text[i] == '-')) s += text[i++];
  bool digits = false;
  while (i < e && text[i] >= '0' && text[i] <= '9') {
    s += text[i++];
    digits = true;
  }
  if (i < e && text[i] == decimal_separator) {
    s += '.';
    ++i;
    while (i < e && text[i] >= '0' && text[i] <= '9') {
      s += text[i++];
      digits = true;
    }
  }
  if (!digits) return def;
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    s += 'e';
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) s += text[i++];
    bool exp_digits = false;
    while (i < e && text[i] >= '0' && text[i] <= '9') {
      s += text[i++];
      exp_digits = true;
    }
    if (!exp_digits) return def;
  }
  if (i != e) return def;
  errno = 0;
  const double v = std::strtod(s.c_str(), nullptr);
  if (errno == ERANGE && std::isinf(v)) return def;
  return v;
}

std::wstring SettingsPathBesideExe() {
  return exe_dir() + L"Zentria.ini";
}

WinConfig ReadSettings(const std::wstring& path) {
  WinConfig w;
  const auto file = read_settings_file(path);
  w.unreadable_file = std::holds_alternative<ReadFailure>(file);
  const IniText ini(w.unreadable_file ? std::string() : std::get<std::string>(file));
  TConfig& c = w.config;
  c.flags = 0;
  for (const FlagSetting& f : kFlagSettings) {
    if (read_bool(ini, kGame, f.key, f.default_on)) c.flags |= f.bit;
  }
  std::string name = read_string(ini, kGame, "LastPlayerName").substr(0, 9);
  for (char& ch : name) ch = ascii_upper(ch);
  c.last_player_name = latin1_to_utf8(name);
  c.set_num_of_fragments(read_int(ini, kGame, "NumOfFragments", 20));
  c.set_score_digits(read_int(ini, kGame, "ScoreNumOfDigits", 12));
  c.score_grouping = read_int(ini, kGame, "ScoreSeparate", 4);
  if (c.score_grouping < 2) c.score_grouping = 1;
  const std::string rank = read_string(ini, kGame, "AppearedMaxRank");
  c.highest_rank = 0;
  for (std::size_t i = 0; i < kRankTitles.size(); ++i) {
    if (rank == kRankTitles[i]) c.highest_rank = static_cast<std::int32_t>(i);
  }

  const char sep = system_decimal_separator();
  auto factor = [&](const char* key) {
    return IniFloat(read_string(ini, kConstant, key), 1.0, sep);
  };
  const double gravity = factor("Gravity");
  const double collision = factor("CollisionConstant");
  const double length = factor("NaturalLength");
  const double rubber = factor("RubberConstant");
  double mass = factor("BallMass");
  // Compared before a massless ball is given mass 1, so 0 counts as changed.
  const X87 one = X87::from_f64(1.0);
  c.experiment = false;
  for (double f : {gravity, collision, length, rubber, mass}) {
    if (!X87::eq(X87::from_f64(f), one)) c.experiment = true;
  }
  if (mass == 0.0) mass = 1.0;
  c.gravity = physics_value(kBaseGravity, gravity);
  c.collision_constant = physics_value(kBaseCollisionConstant, std::fabs(collision));
  c.natural_length = physics_value(kBaseNaturalLength, std::fabs(length));
  c.rubber_constant = physics_value(kBaseRubberConstant, std::fabs(rubber));
  c.ball_mass = physics_value(kBaseBallMass, std::fabs(mass));

  w.reject_auto_save = read_bool(ini, kSystem, "RejectAutoSave", false);
  w.display800 = read_bool(ini, kSystem, "Display800Mode", false);
  w.SetFlags(c.flags);
  return w;
}

void WriteSettings(const std::wstring& path, const TConfig& config) {
  const EIniFileException failed(to_code_page(path, CP_UTF8) + " に書き込めません");
  std::vector<std::pair<const char*, std::string>> written;
  for (const FlagSetting& f : kFlagSettings) {
    written.emplace_back(f.key, (config.flags & f.bit) ? "1" : "0");
  }
  written.emplace_back("ScoreNumOfDigits", std::to_string(config.score_digits));
  const std::int32_t r = config.highest_rank;
  written.emplace_back("AppearedMaxRank", std::string(kRankTitles[(r >= 0 && r < 20) ? r : 0]));
  written.emplace_back("LastPlayerName", utf8_to_latin1(config.last_player_name));

  // A file that could not be read is never written over.
  const auto file = read_settings_file(path);
  if (!std::holds_alternative<std::string>(file)) throw failed;
  const std::string& old = std::get<std::string>(file);
  IniText ini(old);
  std::vector<std::pair<std::wstring, std::wstring>> values;
  for (const auto& [key, value] : written) {
    values.emplace_back(ascii_wide(key), from_code_page(value, CP_ACP));
  }
  ini.WriteStrings(ascii_wide(kGame), values);
  const std::string bytes = ini.bytes();
  // As the system's writer, nothing is written when no value changed.
  if (bytes == old && !old.empty()) return;
  // The next start would refuse a larger file and keep the defaults.
  if (bytes.size() > kSettingsFileCap) throw failed;
  // A write that fails at any point leaves the player's file as it was.
  if (replace_file(path, bytes)) throw failed;
}

}  // namespace zt::win
