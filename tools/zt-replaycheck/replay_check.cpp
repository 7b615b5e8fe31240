// Records a set of long scripted plays with the headless host, or replays
// recordings of them, and writes what each play came to: score, counters and
// the hash of every presented picture. Built by both programs' compilers and
// by the portable arithmetic build, so that recordings made by one are
// replayed by the others and the reports compared byte for byte.
//   zt-replaycheck record DATA_DIR DIR [PLAY...]
//       plays the set (or the plays named): DIR/PLAY.dat, DIR/PLAY.record.txt
//   zt-replaycheck replay DATA_DIR DIR [PLAY...]
//       replays DIR/PLAY.dat of the set and the data directory's "Rec/Rec0.dat"
//       (the play "Rec0"): DIR/PLAY.replay.txt, and DIR/PLAY.replayed.dat, the
//       file as the replay left it (its score written back)
//   zt-replaycheck fixtures DATA_DIR FIXTURE_DIR [NAME...]
//       replays the checked-in FIXTURE_DIR/NAME.dat (every one there, or the
//       ones named) against FIXTURE_DIR/NAME.expected.txt; writes nothing
// Each prints one line per play. The plays run side by side on threads.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bitmap_library.h"
#include "fixture.h"
#include "formats/config.h"
#include "game/ugame.h"
#include "headless_game.h"
#include "memory_host.h"
#include "scripted_hand.h"

namespace {

using namespace zt;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kFrameLimit = 40000;
constexpr double kRecordingDate = 46000.25;

// What the hand does once its chase is over.
enum class Finish {
  Tear,  // jerks away until the string is cut
  Rest,  // holds still until the gauge runs out
  KeyC,  // presses C (so the play is a plain one: C does nothing while recording)
};

struct PlaySpec {
  std::string_view name;
  std::string_view settings;  // the text of "Zentria.ini"
  std::int32_t slot;          // recorded into this slot; 0 for a plain play
  std::uint32_t runtime_seed;
  std::int32_t chase_frames;  // play frames in which the scripted hand hunts targets
  Finish finish;
  std::int32_t jerk_every;  // every so many play frames one frame just past the string's limit
};

// Between them the plays end in every way, run long enough for the gravity
// changer to flip the gravity both ways, and set every physics factor.
// clang-format off
constexpr PlaySpec kPlays[] = {
    {"default", "", 1, 12345, 9300, Finish::Tear, 500},
    {"experiment", "[ConstantSetting]\r\nGravity=1.8\r\nBallMass=0.6\r\n", 2, 777, 3000,
     Finish::Rest, 0},
    {"negative-gravity", "[ConstantSetting]\r\nGravity=-1\r\n", 3, 4242, 3200, Finish::Tear, 0},
    {"stiff", "[ConstantSetting]\r\nCollisionConstant=1.3\r\nNaturalLength=0.4\r\n"
              "RubberConstant=4\r\n", 4, 99, 3000, Finish::Rest, 0},
    {"fragments", "[GameSetting]\r\nNumOfFragments=400\r\nScoreNumOfDigits=20\r\n"
                  "ShowEachScore=1\r\n", 5, 31337, 3000, Finish::Rest, 0},
    {"give-up", "[ConstantSetting]\r\nBallMass=0.5\r\n", 0, 2024, 3000, Finish::KeyC, 0},
};
// clang-format on

// The rows of the title menu, its pointer band, and the name entry.
constexpr std::int32_t kTitleRowY[] = {130, 145, 160, 175, 190, 205};
constexpr std::string_view kPlayerName = "ZT";
constexpr std::int32_t kNameEndKey = 47;

// The title screen's demonstration from the data directory.
constexpr std::string_view kDemoName = "Rec0";

// What a run saw besides the game's own fields.
struct Tally {
  std::vector<std::uint64_t> hashes;  // of every presented frame, from the title menu on
  std::size_t menu_frames = 0;        // of them before the stage intro
  std::map<std::string, std::int32_t, std::less<>> sounds;  // from the stage intro on
  std::int32_t flips = 0;          // sign changes of the gravity during the play
  std::size_t most_fragments = 0;  // fragments on the field at once
  std::int32_t limited = 0;        // play frames that ended at the speed limit
  std::string ended = "unfinished";
};

// Everything two runs of the same play must agree on; the hashes come last.
std::string report(std::string_view name, const TGame& game, const Tally& t) {
  const PlayFields& p = game.play();
  std::ostringstream out;
  out << "play " << name << "\nended " << t.ended << "\nscore " << p.score << "\nmax_combo "
      << p.max_combo << "\ndestroyed";
  for (const std::int32_t d : p.destroyed) out << ' ' << d;
  out << "\ngauge " << p.gauge << "\nplay_frame " << p.play_frame << "\nflips " << t.flips
      << "\nlimited " << t.limited << "\nmost_fragments " << t.most_fragments << "\nsounds";
  for (const auto& [s, n] : t.sounds) out << ' ' << s << '=' << n;
  out << "\nplay_shown " << t.hashes.size() - t.menu_frames << "\nframes " << t.hashes.size()
      << "\n";
  for (const std::uint64_t h : t.hashes) out << std::hex << h << std::dec << "\n";
  return out.str();
}

// The one line per play that the check prints.
std::string summary(std::string_view name, const TGame& game, const Tally& t) {
  const PlayFields& p = game.play();
  const auto heard = [&](std::string_view s) {
    const auto it = t.sounds.find(s);
    return it == t.sounds.end() ? 0 : it->second;
  };
  std::ostringstream out;
  out << name << ": frames " << t.hashes.size() - t.menu_frames << ", play frames " << p.play_frame
      << ", hits " << p.destroyed_total() << ", judgements";
  for (const std::int32_t d : p.destroyed) out << ' ' << d;
  out << ", max combo " << p.max_combo << ", score " << p.score << ", gravity flips " << t.flips
      << ", cut warnings " << heard("cutwarn") << ", bounces " << heard("bound")
      << ", frames at the speed limit " << t.limited << ", most fragments " << t.most_fragments
      << ", ended: " << t.ended;
  return out.str();
}

// The hand of a recording: chases targets, jerks now and then, and finishes
// the play as its spec says.
Point scripted_point(TGame& game, const PlaySpec& spec, const ScriptedHand& hand) {
  const std::int32_t f = game.play().play_frame + 1;  // the frame about to run
  const TPend& pend = game.pend();
  const TPend::State& s = pend.state();
  if (f > spec.chase_frames && spec.finish == Finish::Tear) return ScriptedHand::tear(game);
  if (spec.jerk_every > 0 && f % spec.jerk_every == 0) {
    const std::int32_t reach = static_cast<std::int32_t>(s.natural_length + s.endurance) + 6;
    const std::int32_t up = pend.ball_y() - reach;
    return {pend.ball_x(), up >= 0 ? up : pend.ball_y() + reach};
  }
  // A string about to tear is eased at once: the hand jumps onto the ball.
  if (s.over_stretch_count >= 3) return {pend.ball_x(), pend.ball_y()};
  if (f > spec.chase_frames) return pend.hand();
  return hand.next(game);
}

// One game on the headless host, from the title menu on.
class Runner {
 public:
  Runner(const BitmapLibrary& library, const TConfig& settings, std::uint32_t runtime_seed)
      : host_(library), run_(host_, settings), game_(run_.game()) {
    host_.keep_pixels = false;
    host_.datetime = kRecordingDate;
    game_.seed_random(runtime_seed);
    game_.set_state(kStateTitle, host_);
    run_.on_frame = [this](const std::optional<GameError>&) {
      for (const MemoryHost::PresentedFrame& f : host_.presented) tally_.hashes.push_back(f.hash);
      for (const MemoryHost::Sound& s : host_.sounds) ++tally_.sounds[s.name];
    };
  }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  MemoryHost& host() { return host_; }
  TGame& game() { return game_; }
  const ScriptedHand& hand() const { return run_.hand(); }
  const Tally& tally() const { return tally_; }

  // From the title menu to the stage intro of a play, by the menus where the
  // game offers them: a plain play is the new game; a recording goes through
  // the record slots and the name entry, a replay through the replay slots.
  // In experiment mode the menu has no record or replay rows, so those plays
  // start as the slot screen starts them.
  bool open_play(std::int32_t mode, std::int32_t slot) {
    for (std::int32_t y = 130; y <= 205; y += 5) {  // the hand passes over the rows
      if (!step(Point{100, y}, false)) return false;
    }
    if (mode == TGame::kModePlain) {
      if (!click({100, kTitleRowY[0]})) return false;
    } else if (game_.settings().experiment) {
      game_.start_play(mode, slot, false, host_);
      game_.set_state(kStateIntro, host_);
    } else {
      const bool recording = mode == TGame::kModeRecord;
      if (!click({100, kTitleRowY[recording ? 3 : 4]})) return false;
      if (!step(Point{60, 90}, false) || !click({60, 75 + 15 * slot})) return false;
      if (recording) {
        for (const char ch : kPlayerName) {
          if (!click(name_key(static_cast<std::int32_t>(kFontChars.find(ch)) + 1))) return false;
        }
        if (!click(name_key(kNameEndKey))) return false;
      }
    }
    return game_.state() == kStateIntro;
  }

  // Runs until the result screen has been left. While the hand is read (the
  // play and the line cut), input(p, c) may move the pointer to p and hold C.
  template <class Input>
  bool run_to_end(Input input) {
    bool seen_result = false;
    for (int i = 0; i < kFrameLimit; ++i) {
      if (game_.state() == kStateResult) {
        seen_result = true;
      } else if (seen_result) {
        return true;
      }
      std::optional<Point> p;
      bool c = false;
      if (game_.state() == kStatePlay || game_.state() == kStateLineCut) input(p, c);
      if (!step(p, c)) return false;
    }
    return false;
  }

 private:
  bool step(std::optional<Point> p, bool press_c) {
    if (p) host_.set_pointer(p->x, p->y);
    if (press_c) host_.press(kKeyC);
    const std::uint8_t before = game_.state();
    if (before == kStateIntro) mark_play_start();
    const double gravity = game_.play().gravity;
    if (run_.frame()) return false;
    host_.release(kKeyC);
    if (before == kStatePlay) count_play_frame(gravity, press_c);
    if (game_.state() == kStateIntro) mark_play_start();
    return true;
  }

  // What came before the stage intro were the menus.
  void mark_play_start() {
    if (play_started_) return;
    play_started_ = true;
    tally_.menu_frames = tally_.hashes.size();
    tally_.sounds.clear();
  }

  void count_play_frame(double gravity_before, bool pressed_c) {
    const PlayFields& f = game_.play();
    if ((gravity_before < 0.0) != (f.gravity < 0.0)) ++tally_.flips;
    const TPend::State& s = game_.pend().state();
    const double limit = game_.settings().experiment ? 24.0 : 12.0;
    if (std::sqrt(s.vx * s.vx + s.vy * s.vy) >= limit - 1e-9) ++tally_.limited;
    tally_.most_fragments = std::max(tally_.most_fragments, game_.fragments().fragments().size());
    if (game_.state() == kStateLineCut) {
      // The play tests the cut, then the gauge, then C; the last one met wins.
      if (pressed_c) {
        tally_.ended = "C key";
      } else if (f.gauge <= 0) {
        tally_.ended = "time up";
      } else if (game_.pend().is_cut()) {
        tally_.ended = "line cut";
      }
    }
  }

  bool click(Point p) {
    host_.press(kKeyLButton);
    const bool ok = step(p, false);
    host_.release(kKeyLButton);
    return ok;
  }

  // The centre of key i (1 to 48) of the name entry's keyboard.
  static Point name_key(std::int32_t i) {
    return {97 + 18 * ((i - 1) % 8), 100 + 15 * ((i - 1) / 8)};
  }

  MemoryHost host_;
  HeadlessGame run_;
  TGame& game_;
  Tally tally_;
  bool play_started_ = false;
};

// A plain play has no recorder: its hand points are kept in the replay
// file's layout, so that another program can feed them back.
class HandTrace {
 public:
  explicit HandTrace(std::int32_t seed) { add({seed, 0}); }
  void add(Point p) {
    const auto b = Frame{p.x, p.y}.encode();
    frames_.insert(frames_.end(), b.begin(), b.end());
  }
  Bytes finish(const TGame& game, double date) {
    add({Frame::end().x, Frame::end().y});
    const PlayFields& f = game.play();
    const auto h =
        make_rec_header(date, game.player_name(), {f.score, f.max_combo, f.destroyed_total()})
            .encode();
    Bytes out(h.begin(), h.end());
    out.insert(out.end(), frames_.begin(), frames_.end());
    return out;
  }

 private:
  Bytes frames_;
};

// The frames of a trace or recording after the seed frame, in order.
class FrameReader {
 public:
  explicit FrameReader(const Bytes& file) : file_(file) {}
  std::optional<Point> next() {
    if (at_ + Frame::kSize > file_.size()) return std::nullopt;
    const Frame f = Frame::decode(
        std::span<const std::uint8_t, Frame::kSize>(file_.data() + at_, Frame::kSize));
    at_ += Frame::kSize;
    return Point{f.x, f.y};
  }

 private:
  const Bytes& file_;
  std::size_t at_ = RecHeaderRaw::kSize + Frame::kSize;
};

struct Outcome {
  std::string name;
  std::string error;  // empty when the run finished
  std::string report;
  std::string line;
  Bytes file;  // the recording, or the replayed file with its score written back
};

Outcome finished(std::string_view name, Runner& run, Bytes file) {
  return {std::string(name), "", report(name, run.game(), run.tally()),
          summary(name, run.game(), run.tally()), std::move(file)};
}

Outcome unfinished(std::string_view name, const char* what) {
  return {std::string(name), std::string(name) + ": " + what, "", "", {}};
}

bool presses_c(const PlaySpec& spec, const TGame& game) {
  return spec.finish == Finish::KeyC && game.state() == kStatePlay &&
         game.play().play_frame + 1 > spec.chase_frames;
}

Outcome record_play(const PlaySpec& spec, const BitmapLibrary& library) {
  Runner run(library, load_config(spec.settings), spec.runtime_seed);
  TGame& game = run.game();
  const bool plain = spec.slot == 0;
  if (!run.open_play(plain ? TGame::kModePlain : TGame::kModeRecord, spec.slot)) {
    return unfinished(spec.name, "the menus did not start the play");
  }
  HandTrace trace(game.play().seed);
  const ScriptedHand& hand = run.hand();
  const bool done = run.run_to_end([&](std::optional<Point>& p, bool& c) {
    if (game.state() == kStatePlay) p = scripted_point(game, spec, hand);
    c = presses_c(spec, game);
    if (plain) trace.add(p.value_or(run.host().pointer()));
  });
  if (!done) return unfinished(spec.name, "the play did not finish");
  if (plain) return finished(spec.name, run, trace.finish(game, kRecordingDate));
  return finished(spec.name, run, run.host().files.files.at(spec.slot));
}

Outcome replay_play(const PlaySpec& spec, const BitmapLibrary& library, const Bytes& file) {
  // The runtime generator as the recording had it, so that even the
  // decoration of the pictures repeats.
  Runner run(library, load_config(spec.settings), spec.runtime_seed);
  TGame& game = run.game();
  bool done = false;
  Bytes written_back = file;
  if (spec.slot == 0) {
    // The trace's points as the pointer, with the same key presses.
    FrameReader frames(file);
    if (!run.open_play(TGame::kModePlain, 0)) return unfinished(spec.name, "no play started");
    done = run.run_to_end([&](std::optional<Point>& p, bool& c) {
      p = frames.next();
      c = presses_c(spec, game);
    });
  } else {
    run.host().files.files[spec.slot] = file;
    if (!run.open_play(TGame::kModeReplay, spec.slot))
      return unfinished(spec.name, "no replay started");
    done = run.run_to_end([](std::optional<Point>&, bool&) {});
    written_back = run.host().files.files.at(spec.slot);
  }
  if (!done) return unfinished(spec.name, "the replay did not finish");
  return finished(spec.name, run, std::move(written_back));
}

// The title menu starts its demonstration by itself after 1000 frames.
Outcome replay_demo(const BitmapLibrary& library, const Bytes& file) {
  Runner run(library, TConfig{}, 0);
  run.host().files.files[0] = file;
  const bool done = run.run_to_end([](std::optional<Point>&, bool&) {});
  if (!done || !run.game().play().demonstration) {
    return unfinished(kDemoName, "the demonstration did not finish");
  }
  return finished(kDemoName, run, run.host().files.files.at(0));
}

// A checked-in recording, replayed from its slot under its settings; a
// difference from its expected outcome fails it, with every one listed.
Outcome replay_fixture(std::string_view name, const ReplayFixture& fixture,
                       const BitmapLibrary& library, const Bytes& file) {
  const PlaySpec spec{name, fixture.settings, fixture.slot, fixture.runtime_seed, 0, Finish::Rest,
                      0};
  Outcome o = replay_play(spec, library, file);
  if (!o.error.empty()) return o;
  const std::vector<std::string> differences = fixture_differences(fixture, file, o.report, o.file);
  if (differences.empty()) return o;
  std::string what = o.name + ": the replay differs from the expected outcome";
  for (const std::string& d : differences) what += "\n  " + d;
  return {o.name, what, "", "", {}};
}

std::optional<Bytes> read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool write_bytes(const fs::path& p, const char* data, std::size_t size) {
  std::ofstream out(p, std::ios::binary);
  out.write(data, static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

int fail(const std::string& why) {
  std::fprintf(stderr, "zt-replaycheck: %s\n", why.c_str());
  return 1;
}

// Runs the jobs side by side, then writes what each came to in the set's
// order: DIR/NAME.<report_suffix> and DIR/NAME.<file_suffix>.
int run_jobs(std::vector<std::function<Outcome()>> jobs, const fs::path& dir,
             std::string_view report_suffix, std::string_view file_suffix) {
  std::vector<Outcome> outcomes(jobs.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      threads.emplace_back([&, i] { outcomes[i] = jobs[i](); });
    }
  }
  int rc = 0;
  for (const Outcome& o : outcomes) {
    if (!o.error.empty()) {
      rc = fail(o.error);
      continue;
    }
    const fs::path report_path = dir / (o.name + std::string(report_suffix));
    const fs::path file_path = dir / (o.name + std::string(file_suffix));
    if (!write_bytes(report_path, o.report.data(), o.report.size()) ||
        !write_bytes(file_path, reinterpret_cast<const char*>(o.file.data()), o.file.size())) {
      rc = fail("cannot write " + report_path.string() + " or " + file_path.string());
      continue;
    }
    std::printf("%s\n", o.line.c_str());
  }
  return rc;
}

bool wanted(std::string_view name, const std::vector<std::string>& only) {
  return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
}

// The fixtures named, or every NAME.expected.txt in the folder, replayed side
// by side.
int check_fixtures(const BitmapLibrary& lib, const fs::path& dir, std::vector<std::string> names) {
  constexpr std::string_view kExpected = ".expected.txt";
  if (names.empty()) {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
      const std::string f = e.path().filename().string();
      if (f.ends_with(kExpected)) names.push_back(f.substr(0, f.size() - kExpected.size()));
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) return fail("no fixtures in " + dir.string());
  }
  std::vector<ReplayFixture> fixtures;
  std::vector<Bytes> files;
  for (const std::string& name : names) {
    const auto text = read_bytes(dir / (name + std::string(kExpected)));
    auto file = read_bytes(dir / (name + ".dat"));
    if (!text || !file) return fail("cannot read the fixture " + (dir / name).string());
    auto parsed = parse_fixture({reinterpret_cast<const char*>(text->data()), text->size()});
    if (const auto* why = std::get_if<std::string>(&parsed)) {
      return fail(name + std::string(kExpected) + ": " + *why);
    }
    fixtures.push_back(std::get<ReplayFixture>(std::move(parsed)));
    files.push_back(std::move(*file));
  }
  std::vector<Outcome> outcomes(names.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < names.size(); ++i) {
      threads.emplace_back(
          [&, i] { outcomes[i] = replay_fixture(names[i], fixtures[i], lib, files[i]); });
    }
  }
  int rc = 0;
  for (const Outcome& o : outcomes) {
    if (!o.error.empty()) {
      rc = fail(o.error);
    } else {
      std::printf("%s; as expected\n", o.line.c_str());
    }
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return fail("usage: zt-replaycheck record|replay|fixtures DATA_DIR DIR [PLAY...]");
  const std::string mode = argv[1];
  const fs::path data = argv[2];
  const fs::path dir = argv[3];
  const std::vector<std::string> only(argv + 4, argv + argc);
  const auto library = load_bitmap_library(data);
  if (!library) return fail("cannot read " + (data / "images.qda").string());
  const BitmapLibrary& lib = *library;

  std::vector<std::function<Outcome()>> jobs;
  if (mode == "record") {
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (const PlaySpec& spec : kPlays) {
      if (wanted(spec.name, only)) jobs.push_back([&spec, &lib] { return record_play(spec, lib); });
    }
    return run_jobs(std::move(jobs), dir, ".record.txt", ".dat");
  }
  if (mode == "fixtures") return check_fixtures(lib, dir, only);
  if (mode == "replay") {
    std::vector<Bytes> files;
    files.reserve(std::size(kPlays) + 1);
    for (const PlaySpec& spec : kPlays) {
      if (!wanted(spec.name, only)) continue;
      const fs::path p = dir / (std::string(spec.name) + ".dat");
      auto file = read_bytes(p);
      if (!file) return fail("cannot read " + p.string());
      const Bytes& f = files.emplace_back(std::move(*file));
      jobs.push_back([&spec, &lib, &f] { return replay_play(spec, lib, f); });
    }
    if (wanted(kDemoName, only)) {
      const fs::path p = data / "Rec" / "Rec0.dat";
      auto file = read_bytes(p);
      if (!file) return fail("cannot read " + p.string());
      const Bytes& f = files.emplace_back(std::move(*file));
      jobs.push_back([&lib, &f] { return replay_demo(lib, f); });
    }
    return run_jobs(std::move(jobs), dir, ".replay.txt", ".replayed.dat");
  }
  return fail("unknown mode " + mode);
}
