#include "win_settings.h"

#include <windows.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "x87.h"

namespace zt::win {

namespace {

constexpr const char* kGame = "GameSetting";
constexpr const char* kConstant = "ConstantSetting";
constexpr const char* kSystem = "SystemSetting";

bool is_space(char c) {
  return c == ' ' || c == '\t';
}

std::string read_string(const std::string& path, const char* section, const char* key) {
  char buffer[2048];
  GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, path.c_str());
  return buffer;
}

std::int32_t read_int(const std::string& path, const char* section, const char* key,
                      std::int32_t def) {
  return IniInt(read_string(path, section, key), def);
}

bool read_bool(const std::string& path, const char* section, const char* key, bool def) {
  return read_int(path, section, key, def ? 1 : 0) != 0;
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

std::string SettingsPathBesideExe() {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, n);
  const auto slash = path.find_last_of("\\/");
  path.erase(slash == std::string::npos ? 0 : slash + 1);
  return path + "Zentria.ini";
}

WinConfig ReadSettings(const std::string& path) {
  WinConfig w;
  TConfig& c = w.config;
  c.flags = 0;
  for (const FlagSetting& f : kFlagSettings) {
    if (read_bool(path, kGame, f.key, f.default_on)) c.flags |= f.bit;
  }
  std::string name = read_string(path, kGame, "LastPlayerName").substr(0, 9);
  for (char& ch : name) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  c.last_player_name = latin1_to_utf8(name);
  c.set_num_of_fragments(read_int(path, kGame, "NumOfFragments", 20));
  c.set_score_digits(read_int(path, kGame, "ScoreNumOfDigits", 12));
  c.score_grouping = read_int(path, kGame, "ScoreSeparate", 4);
  if (c.score_grouping < 2) c.score_grouping = 1;
  const std::string rank = read_string(path, kGame, "AppearedMaxRank");
  c.highest_rank = 0;
  for (std::size_t i = 0; i < kRankTitles.size(); ++i) {
    if (rank == kRankTitles[i]) c.highest_rank = static_cast<std::int32_t>(i);
  }

  const char sep = system_decimal_separator();
  auto factor = [&](const char* key) {
    return IniFloat(read_string(path, kConstant, key), 1.0, sep);
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

  w.reject_auto_save = read_bool(path, kSystem, "RejectAutoSave", false);
  w.display800 = read_bool(path, kSystem, "Display800Mode", false);
  w.SetFlags(c.flags);
  return w;
}

void WriteSettings(const std::string& path, const TConfig& config) {
  auto write = [&](const char* key, const std::string& value) {
    if (!WritePrivateProfileStringA(kGame, key, value.c_str(), path.c_str())) {
      throw EIniFileException(path + " に書き込めません");
    }
  };
  for (const FlagSetting& f : kFlagSettings) write(f.key, (config.flags & f.bit) ? "1" : "0");
  write("ScoreNumOfDigits", std::to_string(config.score_digits));
  const std::int32_t r = config.highest_rank;
  write("AppearedMaxRank", std::string(kRankTitles[(r >= 0 && r < 20) ? r : 0]));
  write("LastPlayerName", utf8_to_latin1(config.last_player_name));
}

}  // namespace zt::win
