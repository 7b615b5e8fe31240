#include "options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "audio_fixtures.h"
#include "file_size_limit.h"
#include "files.h"
#include "formats/config.h"
#include "game/uhiscore.h"

namespace zt::options {
namespace {

using test::TempDir;

// ---- Parsing ----

struct ParseCase {
  std::vector<std::string> args;
  // Either the options expected or the error text.
  std::optional<Options> options;
  std::string error;
};

Options with(auto&& edit) {
  Options o;
  edit(o);
  return o;
}

std::vector<ParseCase> parse_cases() {
  const auto err = [](std::vector<std::string> a, std::string e) {
    return ParseCase{std::move(a), std::nullopt, std::move(e)};
  };
  const auto ok = [](std::vector<std::string> a, Options o) {
    return ParseCase{std::move(a), std::move(o), {}};
  };
  const std::string window_range = " (fullscreen, or a window scale 1-10)";
  return {
      ok({}, Options{}),
      ok({"--window=2"}, with([](Options& o) { o.scale = 2; })),
      ok({"--window", "2"}, with([](Options& o) { o.scale = 2; })),
      ok({"--window=+4"}, with([](Options& o) { o.scale = 4; })),
      ok({"--window=10"}, with([](Options& o) { o.scale = 10; })),
      ok({"--window=1"}, with([](Options& o) { o.scale = 1; })),
      ok({"--window=fullscreen", "--window=2"}, with([](Options& o) { o.scale = 2; })),
      ok({"--window=2", "--window=fullscreen"}, with([](Options& o) {
           o.scale = 2;
           o.fullscreen = true;
         })),
      err({"--window"}, "--window requires a value"),
      err({"--cursor"}, "--cursor requires a value"),
      err({"--window=0"}, "invalid --window=0" + window_range),
      err({"--window=11"}, "invalid --window=11" + window_range),
      err({"--window=-4"}, "invalid --window=-4" + window_range),
      err({"--window=4.0"}, "invalid --window=4.0" + window_range),
      err({"--window="}, "invalid --window=" + window_range),
      err({"--window=+"}, "invalid --window=+" + window_range),
      err({"--window=Fullscreen"}, "invalid --window=Fullscreen" + window_range),
      err({"--window=4294967298"}, "invalid --window=4294967298" + window_range),
      err({"--Window=2"}, "unknown option: --Window"),
      err({"--help=1"}, "unknown option: --help"),
      err({"foo"}, "unknown option: foo"),
      err({"--bogus", "-h"}, "unknown option: --bogus"),
      ok({"-h", "--bogus"}, with([](Options& o) { o.help = true; })),
      ok({"--window=5", "--help", "--window=0"}, with([](Options& o) {
           o.scale = 5;
           o.help = true;
         })),
      // The next argument is the value, whatever it looks like.
      ok({"--data-dir", "--help"}, with([](Options& o) { o.data_dir = "--help"; })),
      ok({"--data-dir="}, with([](Options& o) { o.data_dir = ""; })),
      ok({"--data-dir=a=b"}, with([](Options& o) { o.data_dir = "a=b"; })),
      ok({"--confine=play"}, with([](Options& o) { o.confine = Confine::Play; })),
      ok({"--confine", "on", "--confine=off"}, Options{}),
      err({"--confine=ON"}, "invalid --confine=ON (off|play|on)"),
      ok({"--cursor=show"}, with([](Options& o) { o.cursor_shown = true; })),
      ok({"--cursor=show", "--cursor=hide"}, Options{}),
      err({"--cursor=SHOW"}, "invalid --cursor=SHOW (show|hide)"),
      ok({"--soundfont=/x/y.sf2", "--midi-port", "Synth"}, with([](Options& o) {
           o.soundfont = "/x/y.sf2";
           o.midi_port = "Synth";
         })),
      ok({"--midi-port="}, with([](Options& o) { o.midi_port = ""; })),
      // The first error ends parsing.
      err({"--cursor=x", "--confine=y"}, "invalid --cursor=x (show|hide)"),
  };
}

TEST(ParseOptions, TableOfCases) {
  for (const ParseCase& c : parse_cases()) {
    std::string label;
    for (const std::string& a : c.args) label += "[" + a + "]";
    SCOPED_TRACE(label);
    const std::variant<Options, std::string> r = parse_options(c.args);
    if (c.options) {
      ASSERT_TRUE(std::holds_alternative<Options>(r)) << std::get<std::string>(r);
      EXPECT_EQ(std::get<Options>(r), *c.options);
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(r));
      EXPECT_EQ(std::get<std::string>(r), c.error);
    }
  }
}

TEST(ParseOptions, DefaultsAreTheDocumentedOnes) {
  const Options o = std::get<Options>(parse_options({}));
  EXPECT_EQ(o.data_dir, "Zentropolium 1.3");
  EXPECT_EQ(o.scale, 3u);
  EXPECT_FALSE(o.fullscreen);
  EXPECT_FALSE(o.cursor_shown);
  EXPECT_EQ(o.confine, Confine::Off);
  EXPECT_FALSE(o.soundfont);
  EXPECT_FALSE(o.midi_port);
  EXPECT_FALSE(o.help);
}

TEST(UsageText, ElevenLinesWithDescriptionsInColumn27) {
  const std::string_view text = usage_text();
  EXPECT_NE(text.back(), '\n');
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], "Zentropolium Ported");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Usage: zt-play [options]");
  EXPECT_EQ(lines[3], "");
  for (std::size_t i = 4; i < 11; ++i) {
    SCOPED_TRACE(lines[i]);
    ASSERT_GT(lines[i].size(), 26u);
    EXPECT_EQ(lines[i].substr(0, 4), "  --");
    EXPECT_EQ(lines[i][25], ' ');
    EXPECT_NE(lines[i][26], ' ');
  }
  EXPECT_EQ(lines[10], "  --help                  show this message");
}

// ---- The data directory ----

void touch(const std::filesystem::path& p) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p) << "x";
}

TEST(ResolveDataDir, PrefersTheGivenPathThenTheOneBesideTheExecutable) {
  TempDir cwd_dir;
  TempDir exe_dir;
  touch(exe_dir / "Data/images.qda");
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(cwd_dir.path());

  // Only beside the executable.
  EXPECT_EQ(resolve_data_dir("Data", exe_dir.path()), exe_dir.path() / "Data");
  // A directory, not a file, named images.qda does not count.
  std::filesystem::create_directories(cwd_dir / "Data/images.qda");
  EXPECT_EQ(resolve_data_dir("Data", exe_dir.path()), exe_dir.path() / "Data");
  std::filesystem::remove(cwd_dir / "Data/images.qda");
  // Found as given: the executable's copy is not looked at.
  touch(cwd_dir / "Data/images.qda");
  EXPECT_EQ(resolve_data_dir("Data", exe_dir.path()), "Data");
  // Nowhere: unchanged, also without an executable path.
  EXPECT_EQ(resolve_data_dir("Missing", exe_dir.path()), "Missing");
  EXPECT_EQ(resolve_data_dir("Missing", std::nullopt), "Missing");
  // An absolute path stays itself when joined to the executable's directory.
  EXPECT_EQ(resolve_data_dir(exe_dir / "Data", cwd_dir.path()), exe_dir / "Data");

  std::filesystem::current_path(old);
}

// ---- Saving on exit ----

struct Reported {
  std::filesystem::path path;
  std::error_code error;
};

class SaveFiles : public ::testing::Test {
 protected:
  SaveErrorReporter reporter() {
    return [this](const std::filesystem::path& p, const std::error_code& e) {
      reported.push_back({p, e});
    };
  }
  static std::string read_text(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  TempDir dir;
  std::vector<Reported> reported;
  SettingsSnapshot start{"ALICE", 20, 12, 4, 3, 0x07};
};

TEST_F(SaveFiles, UnchangedSettingsWriteOnlyTheScoreFile) {
  const std::vector<std::uint8_t> score(320, 0xAB);
  write_save_files(dir.path(), "[GameSetting]\r\n", score, start, start, reporter());
  EXPECT_TRUE(reported.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "Zentria.ini"));
  EXPECT_EQ(read_text(dir / "ZTScore.dat"), std::string(320, '\xAB'));
}

TEST_F(SaveFiles, NoScoreBytesAndNoChangeWriteNothing) {
  write_save_files(dir.path(), "", std::nullopt, start, start, reporter());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(SaveFiles, AnyChangedFieldRewritesTheSettingsInPlace) {
  const std::vector<void (*)(SettingsSnapshot&)> edits = {
      [](SettingsSnapshot& s) { s.last_player_name = "BOB"; },
      [](SettingsSnapshot& s) { s.num_of_fragments = 30; },
      [](SettingsSnapshot& s) { s.score_num_of_digits = 13; },
      [](SettingsSnapshot& s) { s.score_separate = 3; },
      [](SettingsSnapshot& s) { s.appeared_max_rank = 18; },
      [](SettingsSnapshot& s) { s.flags ^= 0x02; },
  };
  // A line of its own that saving must keep, and a byte above 127 kept as it stands.
  const std::string text = latin1_to_utf8("; mine \xE9\r\n[GameSetting]\r\nPlaySE=1\r\n");
  for (std::size_t i = 0; i < edits.size(); ++i) {
    SCOPED_TRACE(i);
    std::filesystem::remove(dir / "Zentria.ini");
    SettingsSnapshot now = start;
    edits[i](now);
    write_save_files(dir.path(), text, std::nullopt, start, now, reporter());
    const std::string written = read_text(dir / "Zentria.ini");
    EXPECT_EQ(written.substr(0, 9), "; mine \xE9\r");
    EXPECT_THAT(written, ::testing::HasSubstr("LastPlayerName=" + now.last_player_name));
    EXPECT_THAT(written,
                ::testing::HasSubstr("PlaySE=" + std::string((now.flags & 2) ? "1" : "0")));
    EXPECT_FALSE(std::filesystem::exists(dir / "ZTScore.dat"));
  }
  EXPECT_THAT(read_text(dir / "Zentria.ini"), ::testing::HasSubstr("AppearedMaxRank=B"));
  EXPECT_TRUE(reported.empty());
}

TEST_F(SaveFiles, EachFailureIsReportedAndTheNextFileIsStillTried) {
  // Directories in place of both files fail to open for writing, also for root.
  std::filesystem::create_directory(dir / "ZTScore.dat");
  std::filesystem::create_directory(dir / "Zentria.ini");
  SettingsSnapshot now = start;
  now.flags = 0;
  write_save_files(dir.path(), "", std::vector<std::uint8_t>(320, 1), start, now, reporter());
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0].path, dir / "ZTScore.dat");
  EXPECT_EQ(reported[1].path, dir / "Zentria.ini");
  EXPECT_EQ(reported[0].error, std::errc::is_a_directory);
}

// The settings file of a player who keeps notes in it: far longer than what
// the game writes.
std::string long_settings_text() {
  std::string text = "[GameSetting]\r\nPlaySE=1\r\n[Notes]\r\n";
  for (int i = 0; i < 400; ++i) text += "note" + std::to_string(i) + "=kept by the player\r\n";
  return text;
}

std::vector<std::string> names_in(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A disk that fills up after 4096 bytes of a file used to leave the settings
// cut there, the player's other sections gone. The old file stays whole and
// the player is told.
TEST_F(SaveFiles, AFullDiskKeepsTheOldSettingsAndSaysSo) {
  const std::string old_text = long_settings_text();
  test::write_bytes(dir / "Zentria.ini", config_text_bytes(old_text));
  SettingsSnapshot now = start;
  now.flags = 0;
  {
    const test::FileSizeLimit disk(4096);
    write_save_files(dir.path(), old_text, std::vector<std::uint8_t>(320, 9), start, now,
                     reporter());
  }
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].path, dir / "Zentria.ini");
  EXPECT_EQ(reported[0].error, std::errc::file_too_large);
  EXPECT_EQ(read_text(dir / "Zentria.ini"), utf8_to_latin1(old_text));
  EXPECT_EQ(read_text(dir / "ZTScore.dat"), std::string(320, '\x09'));
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"ZTScore.dat", "Zentria.ini"}));
}

// Killed while the exit save writes (here by the file size signal, in the
// middle of the settings): every file is the old one or the new one, whole,
// and the next start reads the player's table, not the default one.
TEST_F(SaveFiles, AKillDuringTheExitSaveLeavesEveryFileWhole) {
  THiScore table;
  table.insert("MINE", 55555, 45000.0);
  const ScoreFileImage old_score = *table.save();
  table.insert("NEWER", 66666, 45001.0);
  const ScoreFileImage new_score = *table.save();
  const std::string old_text = long_settings_text();
  test::write_bytes(dir / "ZTScore.dat", old_score);
  test::write_bytes(dir / "Zentria.ini", config_text_bytes(old_text));
  SettingsSnapshot now = start;
  now.flags = 0;
  const auto save_on_a_filling_disk = [&] {
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    ::signal(SIGXFSZ, SIG_DFL);
    const rlimit limit{1000, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    write_save_files(dir.path(), old_text,
                     std::vector<std::uint8_t>(new_score.begin(), new_score.end()), start, now,
                     reporter());
    std::_Exit(0);
  };
  EXPECT_EXIT(save_on_a_filling_disk(), ::testing::KilledBySignal(SIGXFSZ), "");
  EXPECT_EQ(read_text(dir / "Zentria.ini"), utf8_to_latin1(old_text));
  const std::string score = read_text(dir / "ZTScore.dat");
  EXPECT_EQ(score, std::string(new_score.begin(), new_score.end()));
  THiScore next;
  EXPECT_EQ(next.load(std::vector<std::uint8_t>(score.begin(), score.end())), HiScoreLoad::Loaded);
  EXPECT_EQ(next.get_entry2(1).f0(), "NEWER");
}

// Saved settings of exactly the read cap are written, one byte more are not:
// writer and reader draw the line at the same byte.
TEST_F(SaveFiles, SettingsUpToTheReadCapAreSavedAndNoLarger) {
  for (const std::int32_t fragments : {10, 9}) {  // then 11 and 10: as long, one digit more
    SCOPED_TRACE(fragments);
    SettingsSnapshot at_start = start;
    at_start.num_of_fragments = fragments;
    std::string text =
        save_config(std::nullopt, at_start.flags, at_start.last_player_name, fragments, 12, 4, 3) +
        "\r\n[Notes]\r\nn=";
    text.append(kSettingsFileCap - text.size(), 'x');
    test::write_bytes(dir / "Zentria.ini", config_text_bytes(text));
    SettingsSnapshot now = at_start;
    now.num_of_fragments = fragments + 1;
    std::ostringstream err;
    write_save_files(dir.path(), text, std::nullopt, at_start, now, reporter(), {}, err);
    const std::string written = read_text(dir / "Zentria.ini");
    if (fragments == 10) {
      EXPECT_EQ(written.size(), kSettingsFileCap);
      EXPECT_THAT(written, ::testing::HasSubstr("NumOfFragments=11\r\n"));
      EXPECT_EQ(err.str(), "");
    } else {
      EXPECT_EQ(written, text);
      EXPECT_EQ(err.str(), "did not save " + (dir / "Zentria.ini").string() +
                               ": it would exceed 1048576 bytes\n");
    }
    EXPECT_TRUE(reported.empty());
  }
}

// How start-up reads a save file: a missing one is simply absent, one that
// exists but cannot be read is named with its reason, once, and marked.
TEST_F(SaveFiles, StartUpTellsAMissingFileFromAnUnreadableOne) {
  const auto p = [&](const char* name) { return dir / name; };
  test::write_bytes(p("ok"), std::vector<std::uint8_t>{1, 2});
  ASSERT_EQ(::mkfifo(p("fifo").c_str(), 0666), 0);
  test::write_bytes(p("long"), std::vector<std::uint8_t>(101, 0));
  struct Case {
    std::filesystem::path path;
    std::optional<std::vector<std::uint8_t>> bytes;
    SaveFileAtStart::State state;
    std::string line;
  };
  const Case cases[] = {
      {p("ok"), std::vector<std::uint8_t>{1, 2}, SaveFileAtStart::State::Usable, ""},
      {p("missing"), std::nullopt, SaveFileAtStart::State::Usable, ""},
      {p("fifo"), std::nullopt, SaveFileAtStart::State::Unreadable,
       "could not read " + p("fifo").string() + " (not a regular file); using defaults\n"},
      {p("long"), std::nullopt, SaveFileAtStart::State::Unreadable,
       "could not read " + p("long").string() + " (larger than 100 bytes); using defaults\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    SaveFileAtStart found;
    std::ostringstream err;
    EXPECT_EQ(read_save_file(c.path, 100, "using defaults", found, err), c.bytes);
    EXPECT_EQ(found.state, c.state);
    EXPECT_EQ(err.str(), c.line);
  }
}

TEST_F(SaveFiles, AFileThatCouldNotBeReadIsNeverWrittenOver) {
  test::write_bytes(dir / "ZTScore.dat", std::vector<std::uint8_t>(320, 'p'));
  test::write_bytes(dir / "Zentria.ini", std::vector<std::uint8_t>{'[', 'm', 'i', 'n', 'e', ']'});
  SaveFilesAtStart found;
  found.settings = {SaveFileAtStart::State::Unreadable, "Permission denied", {}};
  found.score = {SaveFileAtStart::State::Unreadable, "Input/output error", {}};
  SettingsSnapshot now = start;
  now.flags = 0;
  std::ostringstream err;
  write_save_files(dir.path(), "", std::vector<std::uint8_t>(320, 1), start, now, reporter(), found,
                   err);
  EXPECT_EQ(read_text(dir / "ZTScore.dat"), std::string(320, 'p'));
  EXPECT_EQ(read_text(dir / "Zentria.ini"), "[mine]");
  EXPECT_EQ(err.str(), "did not save " + (dir / "ZTScore.dat").string() +
                           ": it could not be read at start (Input/output error)\n"
                           "did not save " +
                           (dir / "Zentria.ini").string() +
                           ": it could not be read at start (Permission denied)\n");
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"ZTScore.dat", "Zentria.ini"}));

  // Settings that did not change are not written anyway: nothing to say about them.
  err.str("");
  write_save_files(dir.path(), "", std::nullopt, start, start, reporter(), found, err);
  EXPECT_EQ(err.str(), "");
}

TEST_F(SaveFiles, ADamagedScoreFileIsKeptBesideItBeforeItIsReplaced) {
  const std::vector<std::uint8_t> damaged(321, 'd');
  test::write_bytes(dir / "ZTScore.dat", damaged);
  test::write_bytes(dir / "ZTScore.dat.damaged", std::vector<std::uint8_t>{'e', 'a', 'r', 'l'});
  SaveFilesAtStart found;
  found.score = {SaveFileAtStart::State::Damaged, "", damaged};
  std::ostringstream err;
  write_save_files(dir.path(), "", std::vector<std::uint8_t>(320, 1), start, start, reporter(),
                   found, err);
  EXPECT_EQ(read_text(dir / "ZTScore.dat"), std::string(320, '\x01'));
  EXPECT_EQ(read_text(dir / "ZTScore.dat.damaged.2"), std::string(321, 'd'));
  EXPECT_EQ(read_text(dir / "ZTScore.dat.damaged"), "earl");
  EXPECT_EQ(err.str(), "kept the damaged " + (dir / "ZTScore.dat").string() + " as " +
                           (dir / "ZTScore.dat.damaged.2").string() + "\n");
  EXPECT_TRUE(reported.empty());

  // The same damaged bytes at a later run (the file could not be replaced):
  // no second copy.
  test::write_bytes(dir / "ZTScore.dat", damaged);
  err.str("");
  write_save_files(dir.path(), "", std::vector<std::uint8_t>(320, 1), start, start, reporter(),
                   found, err);
  EXPECT_EQ(err.str(), "the damaged " + (dir / "ZTScore.dat").string() + " is already kept as " +
                           (dir / "ZTScore.dat.damaged.2").string() + "\n");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"ZTScore.dat", "ZTScore.dat.damaged",
                                                            "ZTScore.dat.damaged.2"}));
}

// A disk with room for the new table but not for the copy: the damaged file
// stays, since replacing it would lose the bytes.
TEST_F(SaveFiles, ADamagedScoreFileWhoseCopyFailsIsNotReplaced) {
  const std::vector<std::uint8_t> damaged(5000, 'd');
  test::write_bytes(dir / "ZTScore.dat", damaged);
  SaveFilesAtStart found;
  found.score = {SaveFileAtStart::State::Damaged, "", damaged};
  std::ostringstream err;
  {
    const test::FileSizeLimit disk(1000);
    write_save_files(dir.path(), "", std::vector<std::uint8_t>(320, 1), start, start, reporter(),
                     found, err);
  }
  EXPECT_EQ(read_text(dir / "ZTScore.dat"), std::string(5000, 'd'));
  EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"ZTScore.dat"});
  // A failure to save it, reported as every other (printed and shown once).
  EXPECT_EQ(err.str(), "");
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].path, dir / "ZTScore.dat");
  EXPECT_EQ(reported[0].error, std::errc::file_too_large);
  EXPECT_EQ(reported[0].error.message(),
            "could not keep a copy of the damaged file (File too large)");
}

TEST(ReportSaveError, PrintsPathAndReason) {
  // Without a display the error box returns at once instead of waiting.
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  test::StderrCapture capture;
  report_save_error("/x/ZTScore.dat", std::make_error_code(std::errc::permission_denied));
  report_save_error("/x/ZTScore.dat",
                    damaged_copy_error(std::make_error_code(std::errc::permission_denied)));
  EXPECT_EQ(capture.text(),
            "could not save /x/ZTScore.dat: Permission denied\n"
            "could not save /x/ZTScore.dat: could not keep a copy of the damaged file "
            "(Permission denied)\n");
}

}  // namespace
}  // namespace zt::options
