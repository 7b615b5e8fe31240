// Golden frames: the headless game on the generator's own sheets, driven by
// pointer and keys alone through every screen, compared at chosen moments with
// a checked-in table: the hash of the picture on screen, a digest of every
// picture presented since the previous check, and the sounds played since it.
//
// On a mismatch the picture is written as "NN-name.actual.bmp" into the
// output folder. ZT_GOLDEN_DUMP=1 writes every checked picture there as
// "NN-name.bmp"; ZT_GOLDEN_UPDATE=1 rewrites the table from this run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "demo.h"
#include "formats/bmp.h"
#include "formats/config.h"
#include "game/ugame.h"
#include "headless_game.h"
#include "memory_host.h"
#include "palette.h"
#include "sheets.h"

namespace zt {
namespace {

struct Check {
  std::string name;
  std::uint64_t picture = 0;  // the picture on screen, with the palette in force
  std::uint64_t between = 0;  // every picture presented since the previous check
  std::string sounds;         // "name:priority" since the previous check

  std::string line() const {
    char hashes[40];
    std::snprintf(hashes, sizeof hashes, "%016llx %016llx",
                  static_cast<unsigned long long>(picture),
                  static_cast<unsigned long long>(between));
    return name + "\t" + hashes + "\t" + sounds;
  }
};

BitmapLibrary generated_sheets() {
  BitmapLibrary lib;
  for (mkdata::Sheet& s : mkdata::build_sheets()) {
    NamedBitmap b;
    b.name = s.name;
    b.surface = *Surface::create(s.image.w, s.image.h);
    b.surface.pixels = std::move(s.image.px);
    b.palette = mkdata::master_palette();
    lib.push_back(std::move(b));
  }
  return lib;
}

bool env_set(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' && std::string(v) != "0";
}

// Drives the game as a player would and records the checks.
class Player {
 public:
  Player(BitmapLibrary sheets, const std::vector<std::uint8_t>& demo) : host(std::move(sheets)) {
    host.datetime = 46000.25;
    // The title's demonstration, and a copy of it in a player's slot.
    host.files.files[0] = demo;
    host.files.files[3] = demo;
    headless.frame_ms = 25;
    headless.on_frame = [this](const std::optional<GameError>& e) {
      ASSERT_EQ(e, std::nullopt) << "frame " << frames_;
      ++frames_;
      for (MemoryHost::PresentedFrame& f : host.presented) {
        between_ = (between_ ^ f.hash) * 1099511628211ull;
        last_ = std::move(f.pixels);
      }
      for (const MemoryHost::Sound& s : host.sounds) {
        if (!sounds_.empty()) sounds_ += ' ';
        sounds_ += s.name + ":" + std::to_string(s.priority);
      }
    };
  }

  // n frames, 25 ms apart.
  void run(int n) { headless.frames(n); }

  // Runs until the frame counter of the current state reaches fc.
  void run_to(std::int32_t fc) {
    while (game.frame_counter() < fc && !game.quit()) run(1);
  }

  // Runs until the state is reached; false after limit frames.
  bool run_until(std::uint8_t state, int limit = 5000) { return headless.run_until(state, limit); }

  void point(std::int32_t x, std::int32_t y) { host.set_pointer(x, y); }
  void click(std::int32_t x, std::int32_t y) { headless.click({x, y}); }
  void key(std::int32_t code) { headless.key(code); }

  void check(const std::string& name) {
    checks.push_back({name, frame_hash(last_, host.palette), between_, sounds_});
    pictures.push_back({last_, host.palette});
    between_ = 0;
    sounds_.clear();
  }

  // The play under the scripted hand for n play frames (the pointer is the
  // hand's choice for each next frame).
  void play(int n) { headless.chase(n); }
  void tear() { headless.tear(100); }

  MemoryHost host;
  HeadlessGame headless{host};
  TGame& game = headless.game();
  std::vector<Check> checks;
  std::vector<std::pair<std::vector<std::uint8_t>, Palette>> pictures;

 private:
  std::vector<std::uint8_t> last_ = std::vector<std::uint8_t>(320 * 240, 0);
  std::uint64_t between_ = 0;
  std::string sounds_;
  int frames_ = 0;
};

// Title menu rows and the slot bands, in field pixels.
constexpr Point kNewGame{100, 130};
constexpr Point kRanking{100, 145};
constexpr Point kOption{100, 160};
constexpr Point kReplayData{100, 190};
constexpr Point kExitGame{100, 205};
constexpr std::int32_t kKeyP = 80;
constexpr std::int32_t kKeyC = 67;

// The middle of the name entry's key for a character.
Point name_key(char ch) {
  const auto i = static_cast<std::int32_t>(kFontChars.find(ch));
  return {97 + 18 * (i % 8), 100 + 15 * (i / 8)};
}

void play_through_every_screen(Player& p) {
  TGame& g = p.game;
  // Logo: fading in, shown, breaking up.
  p.run_to(15);
  p.check("logo fading in");
  p.run_to(60);
  p.check("logo");
  p.run_to(140);
  p.check("logo pixelating");
  ASSERT_TRUE(p.run_until(kStateTitle));

  // Title menu: the plate still in blocks while the menu fades in, then clear.
  p.run_to(20);
  p.check("title fading in");
  p.point(kOption.x, kOption.y);
  p.run_to(130);
  p.check("title, OPTION hovered");

  // Options: SHOW EACH SCORE switched on, then back to the menu.
  p.click(kOption.x, kOption.y);
  ASSERT_EQ(g.state(), kStateOptions);
  p.run_to(30);
  p.check("options");
  p.click(100, 125);
  p.run(3);
  p.check("options, SHOW EACH SCORE on");
  p.click(100, 225);
  ASSERT_EQ(g.state(), kStateTitle);

  // The top 10 from the menu: fading in through the iris.
  p.point(kRanking.x, kRanking.y);
  p.run(2);
  p.click(kRanking.x, kRanking.y);
  ASSERT_EQ(g.state(), kStateTop10);
  p.run_to(20);
  p.check("top 10 opening");
  p.run_to(70);
  p.check("top 10");
  p.click(160, 120);
  ASSERT_EQ(g.state(), kStateTitle);

  // Replay slots: one with data, one without; the one with data is replayed.
  p.point(kReplayData.x, kReplayData.y);
  p.run(2);
  p.click(kReplayData.x, kReplayData.y);
  ASSERT_EQ(g.state(), kStateSlots);
  p.point(100, 120);
  p.run_to(40);
  p.check("replay slots, DATA3 hovered");
  p.point(100, 150);
  p.run(2);
  p.check("replay slots, DATA5 hovered");
  p.click(100, 120);
  ASSERT_EQ(g.state(), kStateIntro);

  // The replay: the intro, the play, its end and an unranked result that
  // hides the titles not reached yet.
  p.run_to(30);
  p.check("replay, stage intro");
  ASSERT_TRUE(p.run_until(kStatePlay));
  p.run(300);
  p.check("replay, play frame 300");
  ASSERT_TRUE(p.run_until(kStateLineCut));
  p.run_to(60);
  p.check("replay, line cut");
  ASSERT_TRUE(p.run_until(kStateResult));
  const std::int32_t rank = g.rank_index();
  ASSERT_GT(rank, g.settings().highest_rank) << "the demonstration must reach an unseen title";
  p.run_to(75);
  p.check("unranked result, counts");
  p.run_to(100 + 10 * rank + 10);
  p.check("unranked result, own title sounds");
  p.run_to(100 + 10 * rank + 40);
  p.check("unranked result, title hidden");
  p.run_to(10 * rank + 301);
  p.check("unranked result, closing in");
  p.run_to(10 * rank + 320);
  p.check("unranked result, half closed");
  ASSERT_TRUE(p.run_until(kStateTitle, 50));

  // The demonstration starts on the title's 1000th frame; a click ends it.
  p.point(160, 120);
  ASSERT_TRUE(p.run_until(kStateIntro, 1100));
  ASSERT_TRUE(g.play().demonstration);
  p.run_to(50);
  p.check("demonstration, stage intro");
  ASSERT_TRUE(p.run_until(kStatePlay));
  p.run(150);
  p.check("demonstration, play");
  p.click(160, 120);
  ASSERT_EQ(g.state(), kStateTitle);
  p.run(5);
  p.check("title after the demonstration");

  // A new game, paused once, played until the string is torn.
  p.click(kNewGame.x, kNewGame.y);
  ASSERT_EQ(g.state(), kStateIntro);
  p.run_to(20);
  p.check("stage intro, iris");
  p.run_to(55);
  p.check("stage intro, banner closing");
  ASSERT_TRUE(p.run_until(kStatePlay));
  p.play(200);
  p.check("play frame 200");
  p.key(kKeyP);
  ASSERT_EQ(g.state(), kStatePause);
  p.run_to(20);
  p.check("pause");
  p.key(kKeyP);
  ASSERT_EQ(g.state(), kStatePlay);
  p.play(300);
  p.check("play frame 500");
  p.play(300);
  p.check("play frame 800");
  p.tear();
  ASSERT_EQ(g.state(), kStateLineCut);
  p.run_to(5);
  p.check("line cut, banner shaking");
  p.run_to(120);
  p.check("line cut, banner settled");

  // A ranked result, the name entry and the new entry in the top 10.
  ASSERT_TRUE(p.run_until(kStateResult));
  const std::int32_t own = g.rank_index();
  p.run_to(30);
  p.check("ranked result, labels");
  p.run_to(100 + 10 * own + 10);
  p.check("ranked result, own title sounds");
  p.run_to(100 + 10 * own + 50);
  p.check("ranked result, title");
  ASSERT_TRUE(p.run_until(kStateNameEntry, 400));
  p.run_to(10);
  p.check("name entry");
  // The name entry starts from the last name: delete it, then type a new one.
  for (int i = 0; i < 9; ++i) p.click(name_key('d').x, name_key('d').y);
  for (const char ch : std::string("ZT")) p.click(name_key(ch).x, name_key(ch).y);
  p.point(name_key('e').x, name_key('e').y);
  p.run(3);
  p.check("name entry, ZT typed");
  p.click(name_key('e').x, name_key('e').y);
  ASSERT_EQ(g.state(), kStateTop10);
  p.run_to(10);
  p.check("top 10 with the new entry");
  p.click(160, 120);
  ASSERT_EQ(g.state(), kStateTitle);

  // Game over: C ends a plain play at once, with no score.
  p.click(kNewGame.x, kNewGame.y);
  ASSERT_TRUE(p.run_until(kStatePlay));
  p.key(kKeyC);
  ASSERT_EQ(g.state(), kStateLineCut);
  p.run_to(30);
  p.check("game over");
  ASSERT_TRUE(p.run_until(kStateResult));
  p.run_to(320);
  p.check("result without score, closing in");
  ASSERT_TRUE(p.run_until(kStateTitle, 100));

  // Exit: the last picture fades, then black.
  p.point(kExitGame.x, kExitGame.y);
  p.run(2);
  p.click(kExitGame.x, kExitGame.y);
  ASSERT_EQ(g.state(), kStateExit);
  p.run_to(20);
  p.check("exit, fading");
  p.run(50);
  ASSERT_TRUE(g.quit());
  p.check("exit, black");
}

std::string slug(const std::string& name) {
  std::string s;
  for (const char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!s.empty() && s.back() != '-') {
      s += '-';
    }
  }
  while (!s.empty() && s.back() == '-') s.pop_back();
  return s;
}

void write_picture(const std::filesystem::path& path, const std::vector<std::uint8_t>& pixels,
                   const Palette& palette) {
  std::filesystem::create_directories(path.parent_path());
  const auto bytes = bmp::bmp_indexed_bytes(320, 240, pixels, palette);
  ASSERT_TRUE(bytes.has_value());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes->data()),
            static_cast<std::streamsize>(bytes->size()));
  ASSERT_TRUE(out.good()) << path;
}

std::vector<std::string> read_table(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

TEST(GoldenFrames, EveryScreenMatchesTheTable) {
  const std::optional<std::vector<std::uint8_t>> demo = mkdata::record_demo();
  ASSERT_TRUE(demo.has_value());
  Player player(generated_sheets(), *demo);
  play_through_every_screen(player);
  if (HasFatalFailure()) return;

  const std::filesystem::path out = ZT_GOLDEN_OUT;
  const std::filesystem::path table = ZT_GOLDEN_TABLE;
  const auto file_of = [&](std::size_t i, const char* suffix) {
    char index[8];
    std::snprintf(index, sizeof index, "%02zu-", i + 1);
    return out / (index + slug(player.checks[i].name) + suffix);
  };
  if (env_set("ZT_GOLDEN_DUMP")) {
    for (std::size_t i = 0; i < player.checks.size(); ++i) {
      write_picture(file_of(i, ".bmp"), player.pictures[i].first, player.pictures[i].second);
    }
  }
  if (env_set("ZT_GOLDEN_UPDATE")) {
    std::ofstream t(table, std::ios::trunc);
    t << "# check\tpicture on screen, pictures since the previous check\tsounds since it\n";
    for (const Check& c : player.checks) t << c.line() << "\n";
    GTEST_SKIP() << "table rewritten: " << table;
  }

  const std::vector<std::string> expected = read_table(table);
  ASSERT_FALSE(expected.empty()) << "no table at " << table;
  EXPECT_EQ(player.checks.size(), expected.size()) << "the script and the table differ in length";
  for (std::size_t i = 0; i < std::min(expected.size(), player.checks.size()); ++i) {
    const std::string got = player.checks[i].line();
    if (got == expected[i]) continue;
    const std::filesystem::path bmp = file_of(i, ".actual.bmp");
    write_picture(bmp, player.pictures[i].first, player.pictures[i].second);
    ADD_FAILURE() << "check " << i + 1 << " differs\n  expected: " << expected[i]
                  << "\n  got:      " << got << "\n  picture:  " << bmp;
  }
}

}  // namespace
}  // namespace zt
