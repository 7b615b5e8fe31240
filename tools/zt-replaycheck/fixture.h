// A checked-in recording ("NAME.dat", a replay file as a player's "Rec"
// folder holds it) with the text that says how it is replayed and what the
// replay must come to ("NAME.expected.txt"):
//   # comment
//   slot N                the replay slot it is replayed from (1 to 10)
//   runtime_seed N        the runtime generator at the start, as the recorder had it
//   settings TEXT         "Zentria.ini", with \r, \n and \\ escaped
//   KEY VALUE             an expected line of the replay's outcome
// The outcome is the replay report's lines up to its frame count, plus
// "hits" (every target destroyed) and two hashes over the presented frames:
// "menu_hash" before the stage intro, "play_hash" from it on (each FNV-1a
// over the little-endian bytes of the pictures' hashes, in order).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zt {

using FixtureLines = std::vector<std::pair<std::string, std::string>>;

struct ReplayFixture {
  std::int32_t slot = 0;
  std::uint32_t runtime_seed = 0;
  std::string settings;
  FixtureLines expected;  // in the file's order
};

// The fixture's expected text, or what is wrong with it.
std::variant<ReplayFixture, std::string> parse_fixture(std::string_view text);

// The outcome of a replay from its report.
FixtureLines fixture_outcome(std::string_view report);

// Everything in which a replay of the recording `file` differs from the
// fixture: its outcome, the header of the file (a finished recording's, with
// the play's score, highest combo and hits) and the file the replay left
// behind, which must be the recording itself. Empty when all agree.
std::vector<std::string> fixture_differences(const ReplayFixture& fixture,
                                             std::span<const std::uint8_t> file,
                                             std::string_view report,
                                             std::span<const std::uint8_t> written_back);

}  // namespace zt
