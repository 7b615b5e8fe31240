// The comparison behind the checked-in replays: a fixture that cannot tell a
// changed replay from its expected outcome would pass whatever the rules do.
#include "fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "formats/recorder.h"

namespace zt {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A replay report as zt-replaycheck writes it: two menu pictures, three of
// the play.
struct Report {
  std::int64_t score = 5400;
  std::vector<std::string> hashes = {"a1", "a2", "b1", "b2", "b3"};
  std::string text() const {
    std::string t = "play p\nended line cut\nscore " + std::to_string(score) +
                    "\nmax_combo 7\ndestroyed 3 2 1 0 4\ngauge 12\nplay_frame 300\nflips 0\n"
                    "play_shown 3\nframes " +
                    std::to_string(hashes.size()) + "\n";
    for (const std::string& h : hashes) t += h + "\n";
    return t;
  }
};

Bytes recording(std::int64_t score, std::int32_t mark = RecHeaderRaw::kFormatMark) {
  RecHeaderRaw h;
  h.score = score;
  h.max_combo = 7;
  h.destroyed = 10;
  h.format_mark = mark;
  const auto head = h.encode();
  Bytes out(head.begin(), head.end());
  for (const Frame f : {Frame{412, 0}, Frame{100, 120}, Frame::end()}) {
    const auto b = f.encode();
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// The fixture that the report and recording above agree with.
ReplayFixture matching_fixture() {
  const FixtureLines outcome = fixture_outcome(Report{}.text());
  std::string text = "# made here\nslot 3\nruntime_seed 99\nsettings [A]\\r\\nB=1\\r\\n\n";
  for (const auto& [k, v] : outcome) text += k + " " + v + "\n";
  auto parsed = parse_fixture(text);
  EXPECT_TRUE(std::holds_alternative<ReplayFixture>(parsed));
  return std::get<ReplayFixture>(parsed);
}

std::string value_of(const FixtureLines& lines, std::string_view key) {
  for (const auto& [k, v] : lines) {
    if (k == key) return v;
  }
  return "(none)";
}

TEST(FixtureText, ReadsHowToReplayAndTheExpectedLines) {
  const ReplayFixture f = matching_fixture();
  EXPECT_EQ(f.slot, 3);
  EXPECT_EQ(f.runtime_seed, 99u);
  EXPECT_EQ(f.settings, "[A]\r\nB=1\r\n");
  EXPECT_EQ(value_of(f.expected, "ended"), "line cut");
  EXPECT_EQ(value_of(f.expected, "hits"), "10");
}

TEST(FixtureText, RefusesATextThatChecksTooLittle) {
  const std::string tail = "score 1\nhits 1\nmax_combo 1\nmenu_hash 0\nplay_hash 0\n";
  const struct {
    std::string text;
    std::string why;
  } cases[] = {
      {"runtime_seed 1\n" + tail, "no slot"},
      {"slot 0\nruntime_seed 1\n" + tail, "slot is not one of 1 to 10"},
      {"slot 11\nruntime_seed 1\n" + tail, "slot is not one of 1 to 10"},
      {"slot 1\nruntime_seed -4\n" + tail, "bad runtime seed"},
      {"slot 1\nruntime_seed 1\nscore 1\nhits 1\nmax_combo 1\nmenu_hash 0\n",
       "nothing expected of \"play_hash\""},
      {"slot 1\nruntime_seed 1\n" + tail + "score 2\n", "\"score\" is expected twice"},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_fixture(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
    EXPECT_NE(std::get<std::string>(parsed).find(c.why), std::string::npos)
        << std::get<std::string>(parsed);
  }
}

TEST(FixtureOutcome, HashesTheMenusAndThePlayApartAndInOrder) {
  const FixtureLines base = fixture_outcome(Report{}.text());
  Report menu_changed;
  menu_changed.hashes[1] = "a3";
  Report play_swapped;
  std::swap(play_swapped.hashes[2], play_swapped.hashes[3]);
  const FixtureLines m = fixture_outcome(menu_changed.text());
  const FixtureLines p = fixture_outcome(play_swapped.text());
  EXPECT_NE(value_of(m, "menu_hash"), value_of(base, "menu_hash"));
  EXPECT_EQ(value_of(m, "play_hash"), value_of(base, "play_hash"));
  EXPECT_EQ(value_of(p, "menu_hash"), value_of(base, "menu_hash"));
  EXPECT_NE(value_of(p, "play_hash"), value_of(base, "play_hash"));
  EXPECT_EQ(value_of(base, "hits"), "10");
}

TEST(FixtureDifferences, NamesWhatDiffered) {
  const ReplayFixture fixture = matching_fixture();
  const Bytes file = recording(5400);
  EXPECT_TRUE(fixture_differences(fixture, file, Report{}.text(), file).empty());

  Report higher;
  higher.score = 5401;
  Report lost_picture;
  lost_picture.hashes.pop_back();
  Bytes changed = file;
  changed[30] ^= 1;
  const struct {
    std::string name;
    std::string report;
    Bytes file;
    Bytes written_back;
    std::vector<std::string> said;
  } cases[] = {
      {"another score",
       higher.text(),
       recording(5401),
       recording(5401),
       {"score: expected 5400, replayed 5401"}},
      {"a picture fewer",
       lost_picture.text(),
       file,
       file,
       {"frames: expected 5, replayed 4", "play_hash: expected"}},
      {"the header's score",
       Report{}.text(),
       recording(5399),
       recording(5399),
       {"the header's score is 5399, the replay's 5400"}},
      {"an old format mark",
       Report{}.text(),
       recording(5400, 2),
       recording(5400, 2),
       {"format mark is 2, not 3"}},
      {"a changed file",
       Report{}.text(),
       file,
       changed,
       {"the replay left the file changed from byte 30"}},
      {"no header", Report{}.text(), Bytes(20), Bytes(20), {"the recording has no header"}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> diff =
        fixture_differences(fixture, c.file, c.report, c.written_back);
    std::string all;
    for (const std::string& d : diff) all += d + "\n";
    for (const std::string& s : c.said) {
      EXPECT_NE(all.find(s), std::string::npos) << c.name << ":\n" << all;
    }
  }
}

}  // namespace
}  // namespace zt
