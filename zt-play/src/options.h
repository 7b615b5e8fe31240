// The program's command line, the search for the data directory and the
// writing of the score and settings files once the main loop has ended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

namespace zt::options {

enum class Confine : std::uint8_t { Off = 0, Play = 1, On = 2 };

inline constexpr std::uint32_t kMinScale = 1;
inline constexpr std::uint32_t kMaxScale = 10;

struct Options {
  std::string data_dir = "Zentropolium 1.3";
  std::optional<std::string> soundfont;
  std::optional<std::string> midi_port;
  std::uint32_t scale = 3;
  bool cursor_shown = false;
  bool fullscreen = false;
  bool help = false;
  Confine confine = Confine::Off;
  friend bool operator==(const Options&, const Options&) = default;
};

// Eleven lines without a line end after the last.
std::string_view usage_text();

// The arguments after the program name; an error text on the first bad one.
std::variant<Options, std::string> parse_options(const std::vector<std::string>& args);

// The directory as given when it holds "images.qda", else the same relative
// path beside the executable when that one does, else the directory as given.
std::filesystem::path resolve_data_dir(const std::filesystem::path& dir);
// The same search with the executable's directory supplied.
std::filesystem::path resolve_data_dir(const std::filesystem::path& dir,
                                       const std::optional<std::filesystem::path>& exe_dir);

// The settings the game can change while it runs.
struct SettingsSnapshot {
  std::string last_player_name;
  std::int32_t num_of_fragments = 0;
  std::int32_t score_num_of_digits = 0;
  std::int32_t score_separate = 0;
  std::int32_t appeared_max_rank = 0;  // a title index
  std::uint8_t flags = 0;
  friend bool operator==(const SettingsSnapshot&, const SettingsSnapshot&) = default;
};

// Prints "could not save PATH: REASON" to standard error and shows it in an
// error box; the program goes on.
void report_save_error(const std::filesystem::path& path, const std::error_code& error);

using SaveErrorReporter = std::function<void(const std::filesystem::path&, const std::error_code&)>;

// The error of a file not saved because no copy of its damaged bytes could be
// kept: the same value as `error`, described as "could not keep a copy of the
// damaged file (" + the system's description + ")".
std::error_code damaged_copy_error(const std::error_code& error);

// How start-up found a save file. One that exists but could not be read is
// never written over: the player's file stays as it is. A damaged score file
// is kept beside it before the game's table replaces it.
struct SaveFileAtStart {
  enum class State : std::uint8_t { Usable, Unreadable, Damaged };
  State state = State::Usable;      // read, or missing (saving creates it)
  std::string reason;               // Unreadable: why it could not be read
  std::vector<std::uint8_t> bytes;  // Damaged: the file as read
};

struct SaveFilesAtStart {
  SaveFileAtStart settings;  // "Zentria.ini"
  SaveFileAtStart score;     // "ZTScore.dat"
};

// A save file's bytes at start-up; nothing when it is missing or cannot be
// read. A file that exists but cannot be read is marked unreadable in `found`
// and reported as "could not read PATH (REASON); " + fallback.
std::optional<std::vector<std::uint8_t>> read_save_file(const std::filesystem::path& path,
                                                        std::uint64_t cap,
                                                        std::string_view fallback,
                                                        SaveFileAtStart& found, std::ostream& err);

// Writes "ZTScore.dat" when score bytes are given and "Zentria.ini" only when
// the snapshots differ. Each failure is reported and the next file is still
// written. A file found unreadable at start is not written ("did not save"
// on err, with the reason), nor settings that would come to more than the
// cap on what is read at start; a damaged score file is copied aside first
// (once for the same bytes: an earlier copy of them is named on err instead),
// and stays as it is when that copy cannot be made, reported as a failure to
// save it (damaged_copy_error).
void write_save_files(const std::filesystem::path& dir, const std::string& settings_text,
                      const std::optional<std::vector<std::uint8_t>>& score_bytes,
                      const SettingsSnapshot& at_start, const SettingsSnapshot& now,
                      const SaveErrorReporter& report = report_save_error,
                      const SaveFilesAtStart& found = {}, std::ostream& err = std::cerr);

}  // namespace zt::options
