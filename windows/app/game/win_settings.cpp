#include "win_settings.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "formats/config.h"
#include "read_file.h"
#include "replace_file.h"
#include "text_codec.h"
#include "x87.h"

namespace zt::win {

namespace {

constexpr const char* kGame = "GameSetting";
constexpr const char* kConstant = "ConstantSetting";
constexpr const char* kSystem = "SystemSetting";

bool is_space(char c) {
  return c == ' ' || c == '\t';
}

// An empty path reads nothing: every value takes its default.
std::string read_string(const std::string& path, const char* section, const char* key) {
  if (path.empty()) return {};
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

// A list of NUL-ended strings as the system's INI readers return it, read
// into a buffer that grows until the list fits.
template <class Read>
std::vector<std::string> nul_list(Read read) {
  for (DWORD size = 4096;; size *= 2) {
    std::string buffer(size, '\0');
    const DWORD n = read(buffer.data(), size);
    if (n + 2 < size || size >= (1u << 24)) {
      std::vector<std::string> out;
      for (std::size_t at = 0; at < n && buffer[at] != '\0'; at = buffer.find('\0', at) + 1) {
        out.emplace_back(buffer.c_str() + at);
      }
      return out;
    }
  }
}

// Every section of the file and its lines, as the system's INI functions read
// them.
using IniSections = std::vector<std::pair<std::string, std::vector<std::string>>>;
IniSections read_sections(const std::string& path) {
  const char* file = path.c_str();
  const std::vector<std::string> names =
      nul_list([file](char* b, DWORD n) { return GetPrivateProfileSectionNamesA(b, n, file); });
  IniSections out;
  for (const std::string& name : names) {
    const char* section = name.c_str();
    out.emplace_back(name, nul_list([&](char* b, DWORD n) {
                       return GetPrivateProfileSectionA(section, b, n, file);
                     }));
  }
  return out;
}

std::string key_of(const std::string& line) {
  return std::string(line.substr(0, line.find('=')));
}

using Written = std::vector<std::pair<const char*, std::string>>;

// Whether the edited copy at `path` holds everything the file held, and the
// written keys with their new values. The system's writer does not report a
// write that fails part-way (a full disk), so its work is read back before it
// replaces the file.
bool holds_everything(const IniSections& before, const std::string& path, const Written& written) {
  // The reader trims blanks and one pair of quotes around a value.
  const auto as_read = [](std::string v) {
    const std::size_t first = v.find_first_not_of(" \t");
    v = first == std::string::npos ? std::string()
                                   : v.substr(first, v.find_last_not_of(" \t") - first + 1);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    return v;
  };
  for (const auto& [key, value] : written) {
    if (read_string(path, kGame, key) != as_read(value)) return false;
  }
  const IniSections after = read_sections(path);
  const auto ours = [&](const std::string& line) {
    return std::any_of(written.begin(), written.end(),
                       [&](const auto& w) { return same_text(key_of(line), w.first); });
  };
  const auto without_ours = [&](std::vector<std::string> lines) {
    std::erase_if(lines, ours);
    return lines;
  };
  bool game_seen = false;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (i >= after.size() || before[i].first != after[i].first) return false;
    const bool game = !game_seen && same_text(before[i].first, kGame);
    game_seen = game_seen || game;
    if (game ? without_ours(before[i].second) != without_ours(after[i].second)
             : before[i].second != after[i].second) {
      return false;
    }
  }
  return after.size() == before.size() + (game_seen ? 0 : 1);
}

// A file that is there but cannot be read whole within its cap. It is never
// handed to the system's INI functions, which give the defaults without a
// word for a file they cannot read and would take in a file of any size.
bool settings_file_unreadable(const std::string& path) {
  const ReadResult r = read_whole_file(from_code_page(path, CP_ACP), kSettingsFileCap);
  const ReadFailure* failure = std::get_if<ReadFailure>(&r);
  return failure != nullptr && failure->kind != ReadFailure::kMissing;
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

WinConfig ReadSettings(const std::string& file) {
  WinConfig w;
  w.unreadable_file = settings_file_unreadable(file);
  const std::string path = w.unreadable_file ? std::string() : file;
  TConfig& c = w.config;
  c.flags = 0;
  for (const FlagSetting& f : kFlagSettings) {
    if (read_bool(path, kGame, f.key, f.default_on)) c.flags |= f.bit;
  }
  std::string name = read_string(path, kGame, "LastPlayerName").substr(0, 9);
  for (char& ch : name) ch = ascii_upper(ch);
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
  const EIniFileException failed(path + " に書き込めません");
  Written written;
  for (const FlagSetting& f : kFlagSettings) {
    written.emplace_back(f.key, (config.flags & f.bit) ? "1" : "0");
  }
  written.emplace_back("ScoreNumOfDigits", std::to_string(config.score_digits));
  const std::int32_t r = config.highest_rank;
  written.emplace_back("AppearedMaxRank", std::string(kRankTitles[(r >= 0 && r < 20) ? r : 0]));
  written.emplace_back("LastPlayerName", utf8_to_latin1(config.last_player_name));

  if (settings_file_unreadable(path)) throw failed;
  // The system's INI functions edit a copy, which then takes the file's place:
  // a write that fails part-way leaves the player's file as it was.
  const IniSections before = read_sections(path);
  auto begun = FileReplacement::begin_copy(from_code_page(path, CP_ACP));
  FileReplacement* copy = std::get_if<FileReplacement>(&begun);
  if (copy == nullptr) throw failed;
  const std::string temp = to_code_page(copy->temp_path(), CP_ACP);
  for (const auto& [key, value] : written) {
    if (!WritePrivateProfileStringA(kGame, key, value.c_str(), temp.c_str())) throw failed;
  }
  // Lets go of what the INI functions keep of the copy, so that it is read back
  // from the disk.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, temp.c_str());
  if (!holds_everything(before, temp, written) || copy->commit()) throw failed;
}

}  // namespace zt::win
