#include "options.h"

#include <sys/stat.h>

#include <iostream>
#include <limits>

#include "dialog.h"
#include "exe_dir.h"
#include "files.h"
#include "formats/config.h"

namespace zt::options {

namespace fs = std::filesystem;

std::string_view usage_text() {
  return "Zentropolium Ported\n"
         "\n"
         "Usage: zt-play [options]\n"
         "\n"
         "  --window=fullscreen|N   fullscreen, or scale the 320x240 window by N (default 3)\n"
         "  --confine=off|play|on   confine the mouse to the game area (default off)\n"
         "  --cursor=show|hide      show the system mouse cursor\n"
         "  --data-dir=PATH         folder holding the original Zentropolium files\n"
         "  --midi-port=NAME        substring of the MIDI port to play music through\n"
         "  --soundfont=PATH        render music with a .sf2 SoundFont instead of a MIDI port\n"
         "  --help                  show this message";
}

namespace {

// An optional "+" and at least one digit, nothing else, within 32 bits.
std::optional<std::uint32_t> parse_u32(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::uint64_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(v);
}

std::optional<std::string> apply(Options& o, std::string_view name, const std::string& value) {
  if (name == "--window") {
    if (value == "fullscreen") {
      o.fullscreen = true;
      return std::nullopt;
    }
    const std::optional<std::uint32_t> n = parse_u32(value);
    if (!n || *n < kMinScale || *n > kMaxScale) {
      return "invalid --window=" + value + " (fullscreen, or a window scale " +
             std::to_string(kMinScale) + "-" + std::to_string(kMaxScale) + ")";
    }
    o.scale = *n;
    o.fullscreen = false;
  } else if (name == "--confine") {
    if (value == "off") {
      o.confine = Confine::Off;
    } else if (value == "play") {
      o.confine = Confine::Play;
    } else if (value == "on") {
      o.confine = Confine::On;
    } else {
      return "invalid --confine=" + value + " (off|play|on)";
    }
  } else if (name == "--cursor") {
    if (value == "show") {
      o.cursor_shown = true;
    } else if (value == "hide") {
      o.cursor_shown = false;
    } else {
      return "invalid --cursor=" + value + " (show|hide)";
    }
  } else if (name == "--data-dir") {
    o.data_dir = value;
  } else if (name == "--soundfont") {
    o.soundfont = value;
  } else {
    o.midi_port = value;
  }
  return std::nullopt;
}

bool is_known(std::string_view name) {
  for (const std::string_view known :
       {"--window", "--confine", "--cursor", "--data-dir", "--soundfont", "--midi-port"}) {
    if (name == known) return true;
  }
  return false;
}

bool regular_file_at(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::variant<Options, std::string> parse_options(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      o.help = true;
      return o;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    if (!is_known(name)) return "unknown option: " + name;
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return name + " requires a value";
    }
    if (std::optional<std::string> error = apply(o, name, value)) return *error;
  }
  return o;
}

fs::path resolve_data_dir(const fs::path& dir, const std::optional<fs::path>& exe_dir) {
  if (regular_file_at(dir / "images.qda")) return dir;
  if (exe_dir && !exe_dir->empty()) {
    fs::path beside = *exe_dir / dir;
    if (regular_file_at(beside / "images.qda")) return beside;
  }
  return dir;
}

fs::path resolve_data_dir(const fs::path& dir) {
  return resolve_data_dir(dir, executable_dir());
}

void report_save_error(const fs::path& path, const std::error_code& error) {
  const std::string message = "could not save " + path.string() + ": " + error.message();
  std::cerr << message << std::endl;
  dialog::show(dialog::kError, message);
}

std::optional<std::vector<std::uint8_t>> read_save_file(const fs::path& path, std::uint64_t cap,
                                                        std::string_view fallback,
                                                        SaveFileAtStart& found, std::ostream& err) {
  auto read = read_file(path, cap);
  if (auto* bytes = std::get_if<std::vector<std::uint8_t>>(&read)) return std::move(*bytes);
  const ReadFailure& failure = std::get<ReadFailure>(read);
  if (failure.missing) return std::nullopt;
  found.state = SaveFileAtStart::State::Unreadable;
  found.reason = failure.reason;
  err << "could not read " << path.string() << " (" << failure.reason << "); " << fallback
      << std::endl;
  return std::nullopt;
}

namespace {

// The failure to keep a copy of a damaged file, which is why it is not saved:
// the system's error, told as such.
class DamagedCopyCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "damaged copy"; }
  std::string message(int ev) const override {
    return "could not keep a copy of the damaged file (" + std::generic_category().message(ev) +
           ")";
  }
  std::error_condition default_error_condition(int ev) const noexcept override {
    return std::generic_category().default_error_condition(ev);
  }
};

}  // namespace

std::error_code damaged_copy_error(const std::error_code& error) {
  static const DamagedCopyCategory category;
  return {error.value(), category};
}

namespace {

// Whether the file may be written: not when it could not be read at start,
// nor when it is damaged and no copy of it could be kept (reported as a
// failure to save it).
bool may_replace(const fs::path& path, const SaveFileAtStart& found,
                 const SaveErrorReporter& report, std::ostream& err) {
  using State = SaveFileAtStart::State;
  if (found.state == State::Unreadable) {
    err << "did not save " << path.string() << ": it could not be read at start (" << found.reason
        << ")" << std::endl;
    return false;
  }
  if (found.state == State::Damaged) {
    auto kept = keep_damaged_copy(path, found.bytes);
    if (const auto* error = std::get_if<std::error_code>(&kept)) {
      report(path, damaged_copy_error(*error));
      return false;
    }
    const DamagedCopy& copy = std::get<DamagedCopy>(kept);
    err << (copy.earlier ? "the damaged " : "kept the damaged ") << path.string()
        << (copy.earlier ? " is already kept as " : " as ") << copy.path.string() << std::endl;
  }
  return true;
}

void save_one(const fs::path& path, std::span<const std::uint8_t> bytes,
              const SaveFileAtStart& found, const SaveErrorReporter& report, std::ostream& err) {
  if (!may_replace(path, found, report, err)) return;
  if (const std::error_code e = replace_file(path, bytes)) report(path, e);
}

}  // namespace

void write_save_files(const fs::path& dir, const std::string& settings_text,
                      const std::optional<std::vector<std::uint8_t>>& score_bytes,
                      const SettingsSnapshot& at_start, const SettingsSnapshot& now,
                      const SaveErrorReporter& report, const SaveFilesAtStart& found,
                      std::ostream& err) {
  if (score_bytes) save_one(dir / "ZTScore.dat", *score_bytes, found.score, report, err);
  if (at_start == now) return;
  const std::string text =
      save_config(settings_text, now.flags, now.last_player_name, now.num_of_fragments,
                  now.score_num_of_digits, now.score_separate, now.appeared_max_rank);
  const std::vector<std::uint8_t> bytes = config_text_bytes(text);
  const fs::path path = dir / "Zentria.ini";
  // Both programs refuse a larger file at start: the old one stays readable.
  if (bytes.size() > kSettingsFileCap) {
    err << "did not save " << path.string() << ": it would exceed " << kSettingsFileCap << " bytes"
        << std::endl;
    return;
  }
  save_one(path, bytes, found.settings, report, err);
}

}  // namespace zt::options
