// "Zentria.ini" beside the executable, read and written by the rules of the
// system's INI functions (IniText). These differ from the core's reader: the
// first of repeated keys and sections counts, booleans are integers, "0x"
// hexadecimal is accepted, reals use the system's decimal separator.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "formats/config.h"

namespace zt::win {

struct WinConfig {
  TConfig config;
  bool display800 = false;
  bool reject_auto_save = false;
  // The file is there but could not be read (denied, an input/output error,
  // not a file on a disk, over its cap): the defaults are in use, and the
  // file must not be written over.
  bool unreadable_file = false;

  // The flags as the options screen sets them: AutoSaveAt1 cannot be set
  // while auto-saving is rejected or the physics are changed.
  void SetFlags(std::uint8_t flags);
};

// A value as the system's integer reader takes it: decimal, "$", "0x" or
// "0X" hexadecimal, with an optional sign; anything else gives `def`.
std::int32_t IniInt(std::string_view text, std::int32_t def);
// A real with the system's decimal separator; failure gives `def`.
double IniFloat(std::string_view text, double def, char decimal_separator);

class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The full path of the settings file beside the executable, whatever
// characters the folder's name has.
std::wstring SettingsPathBesideExe();

WinConfig ReadSettings(const std::wstring& path);
// Writes the eight flags, ScoreNumOfDigits, AppearedMaxRank and
// LastPlayerName; every other byte stays as it is. Raises, and leaves the
// file as it was, when the file cannot be read or written, or would come to
// more than either program reads at start (kSettingsFileCap).
void WriteSettings(const std::wstring& path, const TConfig& config);

}  // namespace zt::win
