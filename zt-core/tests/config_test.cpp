#include "formats/config.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <ostream>
#include <string>

namespace zt {
namespace {

constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();

}  // namespace

void PrintTo(const TConfig& c, std::ostream* os) {
  *os << "{flags " << int{c.flags} << ", name '" << c.last_player_name << "', gravity "
      << std::hexfloat << c.gravity << ", collision " << c.collision_constant << ", length "
      << c.natural_length << ", rubber " << c.rubber_constant << ", mass " << c.ball_mass
      << std::defaultfloat << ", fragments " << c.num_of_fragments << ", digits " << c.score_digits
      << ", grouping " << c.score_grouping << ", rank " << c.highest_rank << ", experiment "
      << c.experiment << "}";
}

namespace {

TEST(ConfigHelpers, IntVal) {
  struct Case {
    std::string_view text;
    std::int32_t want;
  } cases[] = {
      {"$1F", 31},
      {"-$10", -16},
      {"$-10", -16},
      {"0x10", 20},
      {" 12 ", 12},
      {"+7", 7},
      {"-0", 0},
      {"-2147483648", kMin32},
      {"2147483647", kMax32},
      {"2147483648", 20},
      {"-2147483649", 20},
      {"$7FFFFFFF", kMax32},
      {"$7fffffff", kMax32},
      {"$80000000", 20},
      {"$-80000000", kMin32},
      {"-$-80000000", 20},
      {"", 20},
      {"+", 20},
      {"-", 20},
      {"$", 20},
      {"-$", 20},
      {"++1", 20},
      {"1 2", 20},
      {"12abc", 20},
      {"$1G", 20},
      {"1.0", 20},
      {"\xC2\xA0"
       "42\xC2\x85",
       42},
  };
  for (const auto& c : cases) EXPECT_EQ(int_val(c.text, 20), c.want) << "'" << c.text << "'";
}

TEST(ConfigHelpers, BoolVal) {
  for (std::string_view t : {"1", "on", "YES", "True", " on "}) {
    EXPECT_TRUE(bool_val(t, false)) << t;
  }
  for (std::string_view t : {"0", "no", "OFF", "false", "\tno\r"}) {
    EXPECT_FALSE(bool_val(t, true)) << t;
  }
  for (std::string_view t : {"", "2", "y", "-1", "o n", "truee"}) {
    EXPECT_TRUE(bool_val(t, true)) << t;
    EXPECT_FALSE(bool_val(t, false)) << t;
  }
}

TEST(ConfigHelpers, FloatValReadsDecimalToNearestDouble) {
  struct Case {
    std::string_view text;
    double want;
  } cases[] = {
      {"1.5", 1.5},
      {"-2", -2.0},
      {"+.5", 0.5},
      {"5.", 5.0},
      {" 1e-3 ", 0.001},
      {"1E+2", 100.0},
      {"0.1", 0.1},
      {"1e-310", 1e-310},
      // Halfway cases: the tie goes to even, anything past it goes up.
      {"9007199254740993", 9007199254740992.0},
      {"9007199254740993.000000000000000001", 9007199254740994.0},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
  };
  for (const auto& c : cases) EXPECT_EQ(float_val(c.text), c.want) << c.text;
}

TEST(ConfigHelpers, FloatValFailuresGiveOne) {
  for (std::string_view t :
       {"",  "  ", "abc", "inf",   "-Infinity", "NaN", "1nan", "0x1p3", "0x10",   "1e",     "1e+",
        ".", "-",  "+-1", "1.2.3", "1,5",       "1 2", "e5",   "1e400", "-1e400", "1.8e308"}) {
    EXPECT_EQ(float_val(t), 1.0) << "'" << t << "'";
  }
}

TEST(ConfigHelpers, FloatValBelowRangeGivesSignedZero) {
  EXPECT_EQ(float_val("1e-400"), 0.0);
  EXPECT_FALSE(std::signbit(float_val("1e-400")));
  EXPECT_EQ(float_val("-0.0000001e-330"), 0.0);
  EXPECT_TRUE(std::signbit(float_val("-0.0000001e-330")));
}

TEST(ConfigHelpers, SameTextFoldsOnlyAsciiLetters) {
  EXPECT_TRUE(same_text("GameSetting", "gAMEsETTING"));
  EXPECT_TRUE(same_text("", ""));
  EXPECT_FALSE(same_text("abc", "abcd"));
  // Pairs that differ by 0x20 but are not letters, and Latin-1 letters.
  EXPECT_FALSE(same_text("[", "{"));
  EXPECT_FALSE(same_text("@", "`"));
  EXPECT_FALSE(same_text("\xC3\xA4", "\xC3\x84"));
}

TEST(ConfigHelpers, CopyUpper9) {
  struct Case {
    std::string_view text, want;
  } cases[] = {
      {"abcdefghijkl", "ABCDEFGHI"},
      {"ab", "AB"},
      {"", ""},
      {"abcdefgh\xC3\xA4", "ABCDEFGH\xEF\xBF\xBD"},  // ä cut after its first byte
      {"abcdefg\xC3\xA4xyz", "ABCDEFG\xC3\xA4"},     // ä ends exactly at byte 9
      {"\xC3\xA4\xC3\xB6", "\xC3\xA4\xC3\xB6"},      // only ASCII letters change
      {"a\xFF"
       "b",
       "A\xEF\xBF\xBD"
       "B"},
      {"a\xE2\x82\xAC"
       "bcdefgh",
       "A\xE2\x82\xAC"
       "BCDEF"},
  };
  for (const auto& c : cases) EXPECT_EQ(copy_upper9(c.text), c.want) << c.text;
}

TEST(ConfigHelpers, TrimRemovesUnicodeWhiteSpaceOnly) {
  EXPECT_EQ(trim_ws(latin1_to_utf8("\xA0\x85 x y\t\xA0")), "x y");
  EXPECT_EQ(trim_ws("\xE3\x80\x80x\xE2\x80\xA8"), "x");  // U+3000, U+2028
  EXPECT_EQ(trim_ws("\x1Cx"), "\x1Cx");                  // not white space
  EXPECT_EQ(trim_ws("x\xC2"), "x\xC2");                  // a lone lead byte stays
  EXPECT_EQ(trim_ws("x\xA0"), "x\xA0");                  // a raw byte is not the character
  EXPECT_EQ(trim_ws(" \r\n"), "");
}

TEST(ConfigHelpers, SplitLines) {
  using V = std::vector<std::string>;
  EXPECT_EQ(split_lines(""), V{});
  EXPECT_EQ(split_lines("a\r\nb\n"), (V{"a", "b"}));
  EXPECT_EQ(split_lines("a\n\n"), (V{"a", ""}));
  EXPECT_EQ(split_lines("\n"), V{""});
  EXPECT_EQ(split_lines("a\rb\nc\r"), (V{"a\rb", "c\r"}));
}

TEST(ConfigHelpers, Latin1RoundTripsEveryByte) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  const std::string text = latin1_to_utf8(bytes);
  EXPECT_EQ(text.size(), 128u + 2u * 128u);
  EXPECT_EQ(utf8_to_latin1(text), bytes);
  // Characters beyond Latin-1 keep their UTF-8 bytes; broken UTF-8 passes through.
  EXPECT_EQ(utf8_to_latin1("\xEF\xBF\xBD|\xC3|\xFF"), "\xEF\xBF\xBD|\xC3|\xFF");
}

TEST(ConfigHelpers, IniGetTakesLastMatch) {
  const auto entries = parse_ini("[A]\nk=1\n[b]\nK=2\n[a]\nK = 3 \nother=4\n");
  EXPECT_EQ(ini_get(entries, "a", "k"), "3");
  EXPECT_EQ(ini_get(entries, "B", "k"), "2");
  EXPECT_EQ(ini_get(entries, "A", "missing"), "");
  EXPECT_EQ(ini_get(entries, "", "k"), "");
}

TEST(ConfigHelpers, ParseIni) {
  // "[unclosed" has no "=": neither a header nor a key line.
  const std::vector<IniEntry> want = {
      {"", "top", "0"}, {" S p ", "k", "a=b"}, {"", "x", ""}, {"", "y", "1"}};
  EXPECT_EQ(parse_ini("top=0\n  # c=1\n;d=2\nnoequals\n[ S p ]\n k = a=b \n[]\nx=\n[unclosed\ny=1"),
            want);
}

TEST(ConfigSetters, Clamp) {
  struct Case {
    std::int32_t in, digits, rank, fragments;
  } cases[] = {{kMin32, 4, 0, -1000}, {-1001, 4, 0, -1000}, {-1000, 4, 0, -1000},
               {-1, 4, 0, -1},        {3, 4, 3, 3},         {4, 4, 4, 4},
               {12, 12, 12, 12},      {19, 19, 19, 19},     {20, 20, 19, 20},
               {21, 20, 19, 21},      {1000, 20, 19, 1000}, {1001, 20, 19, 1000},
               {kMax32, 20, 19, 1000}};
  for (const auto& c : cases) {
    TConfig cfg;
    cfg.set_score_digits(c.in);
    cfg.set_highest_rank(c.in);
    cfg.set_num_of_fragments(c.in);
    EXPECT_EQ(cfg.score_digits, c.digits) << c.in;
    EXPECT_EQ(cfg.highest_rank, c.rank) << c.in;
    EXPECT_EQ(cfg.num_of_fragments, c.fragments) << c.in;
  }
}

TEST(RankTitles, Table) {
  EXPECT_EQ(kRankTitles[0], "E");
  EXPECT_EQ(kRankTitles[8], "Ultra");
  EXPECT_EQ(kRankTitles[18], "Zentropolium");
  EXPECT_EQ(kRankTitles[19], "God of Pendulum");
}

double hex(const char* s) {
  return std::strtod(s, nullptr);
}

struct LoadCase {
  const char* name;
  std::string text;
  std::function<void(TConfig&)> expect;  // changes from the defaults
};

void PrintTo(const LoadCase& c, std::ostream* os) {
  *os << c.name;
}

class LoadConfig : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadConfig, GivesRecord) {
  TConfig want;
  GetParam().expect(want);
  EXPECT_EQ(load_config(GetParam().text), want);
}

const LoadCase kLoadCases[] = {
    {"Empty", "", [](TConfig&) {}},
    {"LowerCaseSectionAndKey", "[gamesetting]\ndrawbackground = off\n",
     [](TConfig& c) { c.flags &= ~kDrawBackground; }},
    {"EveryFlagFlipped",
     "[GameSetting]\nDrawBackground=0\nPlaySE=no\nPlayMidi=false\nShowEachScore=1\n"
     "AutoSaveAt1=yes\nExitWithRBtn=on\nViewFpsNumber=TRUE\nMiniScreen=1\n",
     [](TConfig& c) {
       c.flags = kShowEachScore | kAutoSaveAt1 | kExitWithRBtn | kViewFpsNumber | kMiniScreen;
     }},
    {"UnreadableBooleanKeepsDefault", "[GameSetting]\nPlaySE=2\nMiniScreen=maybe\n",
     [](TConfig&) {}},
    {"LaterDuplicateWins", "[GameSetting]\nPlaySE=1\nPlaySE=0\nPlayMidi=0\nPlayMidi=1\n",
     [](TConfig& c) { c.flags &= ~kPlaySE; }},
    {"RepeatedSectionLaterWins", "[GameSetting]\nPlaySE=0\n[Other]\n[GAMESETTING]\nPlaySE=1\n",
     [](TConfig&) {}},
    {"KeysOutsideTheSectionIgnored",
     "PlaySE=0\n[Other]\nPlayMidi=0\n[ GameSetting ]\nMiniScreen=1\n", [](TConfig&) {}},
    {"Comments", "[GameSetting]\n#PlaySE=0\n  ;PlayMidi=0\n", [](TConfig&) {}},
    {"CrLfAndWhiteSpace", "  [GameSetting]  \r\n\tScoreNumOfDigits = 7 \r\nNumOfFragments=$1F\r\n",
     [](TConfig& c) {
       c.score_digits = 7;
       c.num_of_fragments = 31;
     }},
    {"Latin1WhiteSpace",
     latin1_to_utf8("[GameSetting]\n\xA0PlaySE\xA0=\x85"
                    "0\x85\n"),
     [](TConfig& c) { c.flags &= ~kPlaySE; }},
    {"NameUpperAndCut", "[GameSetting]\nLastPlayerName=abcdefghijkl\n",
     [](TConfig& c) { c.last_player_name = "ABCDEFGHI"; }},
    {"NameKeepsEqualsSign", "[GameSetting]\nLastPlayerName = a=b \n",
     [](TConfig& c) { c.last_player_name = "A=B"; }},
    {"NumbersStoredAsRead",
     "[GameSetting]\nNumOfFragments=-$10\nScoreNumOfDigits=17\nScoreSeparate=3\n",
     [](TConfig& c) {
       c.num_of_fragments = -16;
       c.score_digits = 17;
       c.score_grouping = 3;
     }},
    // Hand-edited values that would overflow the fragment count or make every
    // score take billions of places.
    {"HugeNumbersBounded",
     "[GameSetting]\nNumOfFragments=2000000000\nScoreNumOfDigits=2147483647\n",
     [](TConfig& c) {
       c.num_of_fragments = kMaxFragmentsFactor;
       c.score_digits = 20;
     }},
    {"NegativeNumbersBounded", "[GameSetting]\nNumOfFragments=-2147483648\nScoreNumOfDigits=-7\n",
     [](TConfig& c) {
       c.num_of_fragments = -kMaxFragmentsFactor;
       c.score_digits = 4;
     }},
    {"NumbersAtTheBoundsKept", "[GameSetting]\nNumOfFragments=1000\nScoreNumOfDigits=20\n",
     [](TConfig& c) {
       c.num_of_fragments = 1000;
       c.score_digits = 20;
     }},
    {"UnreadableNumbersKeepDefaults", "[GameSetting]\nNumOfFragments=0x10\nScoreNumOfDigits=\n",
     [](TConfig&) {}},
    {"GroupingOneStaysOne", "[GameSetting]\nScoreSeparate=1\n",
     [](TConfig& c) { c.score_grouping = 1; }},
    {"GroupingNegativeBecomesOne", "[GameSetting]\nScoreSeparate=-5\n",
     [](TConfig& c) { c.score_grouping = 1; }},
    {"GroupingZeroBecomesOne", "[GameSetting]\nScoreSeparate=0\n",
     [](TConfig& c) { c.score_grouping = 1; }},
    {"RankCaseCounts", "[GameSetting]\nAppearedMaxRank=ultra\n", [](TConfig&) {}},
    {"RankTrimmed", "[GameSetting]\nAppearedMaxRank=  Ultra  \n",
     [](TConfig& c) { c.highest_rank = 8; }},
    {"RankLast", "[GameSetting]\nAppearedMaxRank=God of Pendulum\n",
     [](TConfig& c) { c.highest_rank = 19; }},
    {"RankZentropolium", "[GameSetting]\nAppearedMaxRank=Zentropolium\n",
     [](TConfig& c) { c.highest_rank = 18; }},
    {"NegativeGravity", "[ConstantSetting]\nGravity=-1\n",
     [](TConfig& c) {
       c.gravity = -0.2;
       c.experiment = true;
     }},
    {"NegativeCollisionTakesMagnitude", "[ConstantSetting]\nCollisionConstant=-1\n",
     [](TConfig& c) {
       c.collision_constant = 0.7;
       c.experiment = true;
     }},
    {"MasslessBallCountsAsOne", "[ConstantSetting]\nBallMass=0\n", [](TConfig&) {}},
    {"NegativeZeroMass", "[ConstantSetting]\nBallMass=-0\n", [](TConfig&) {}},
    {"UnreadableFactorsAreOne",
     "[ConstantSetting]\nGravity=abc\nCollisionConstant=inf\nNaturalLength=\nRubberConstant=nan\n"
     "BallMass=1e400\n",
     [](TConfig&) {}},
    {"FactorsSpelledAsOne", "[ConstantSetting]\nGravity=+1\nCollisionConstant=1.0\nBallMass=1e0\n",
     [](TConfig&) {}},
    // Products rounded once from the extended result, which here differs from
    // the product taken in double arithmetic.
    {"ExtendedProducts",
     "[constantsetting]\nGravity=1.499\nCollisionConstant=-1.501\nRubberConstant=33.399\n"
     "NaturalLength=-0.5\nBallMass=-2\n",
     [](TConfig& c) {
       c.gravity = hex("0x1.32fec56d5cfacp-2");
       c.collision_constant = hex("0x1.0cfaacd9e83e4p+0");
       c.rubber_constant = hex("0x1.119ac79702e66p-2");
       c.natural_length = 12.5;
       c.ball_mass = 2.0;
       c.experiment = true;
     }},
    {"ExperimentClearsAutoSave",
     "[GameSetting]\nAutoSaveAt1=1\n[ConstantSetting]\nNaturalLength=2\n",
     [](TConfig& c) {
       c.natural_length = 50.0;
       c.experiment = true;
     }},
    {"RejectAutoSaveClearsAutoSave",
     "[GameSetting]\nAutoSaveAt1=1\n[SystemSetting]\nRejectAutoSave=yes\n", [](TConfig&) {}},
    {"AutoSaveKeptWhenNotRejected",
     "[GameSetting]\nAutoSaveAt1=1\nRejectAutoSave=1\n[SystemSetting]\nRejectAutoSave=0\n",
     [](TConfig& c) { c.flags |= kAutoSaveAt1; }},
};

INSTANTIATE_TEST_SUITE_P(Cases, LoadConfig, testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoadConfigPhysics, DefaultsAreTheBaseValues) {
  const TConfig c = load_config("");
  EXPECT_EQ(c.gravity, 0.2);
  EXPECT_EQ(c.collision_constant, 0.7);
  EXPECT_EQ(c.natural_length, 25.0);
  EXPECT_EQ(c.rubber_constant, 0.008);
  EXPECT_EQ(c.ball_mass, 1.0);
  EXPECT_FALSE(c.experiment);
}

const char kFreshFile[] =
    "[GameSetting]\r\nDrawBackground=1\r\nPlaySE=0\r\nPlayMidi=1\r\nShowEachScore=0\r\n"
    "AutoSaveAt1=1\r\nExitWithRBtn=0\r\nViewFpsNumber=0\r\nMiniScreen=1\r\n"
    "LastPlayerName=ABCDEFGHI\r\nNumOfFragments=-5\r\nScoreNumOfDigits=12\r\n"
    "ScoreSeparate=4\r\nAppearedMaxRank=God of Pendulum";

constexpr std::uint8_t kSomeFlags = kDrawBackground | kPlayMidi | kAutoSaveAt1 | kMiniScreen;

TEST(SaveConfig, WithoutCurrentTextWritesTheSectionAlone) {
  EXPECT_EQ(save_config(std::nullopt, kSomeFlags, "abcdefghijkl", -5, 12, 4, 19), kFreshFile);
  // An empty file (or one the host could not read) has no lines either.
  EXPECT_EQ(save_config("", kSomeFlags, "abcdefghijkl", -5, 12, 4, 19), kFreshFile);
}

struct SaveCase {
  const char* name;
  std::string current;
  std::string want;
};

void PrintTo(const SaveCase& c, std::ostream* os) {
  *os << c.name;
}

class SaveConfigOver : public testing::TestWithParam<SaveCase> {};

// Every case saves flags with only PlaySE set, name "ZZ", fragments 20,
// digits 12, grouping 4 and rank 0.
TEST_P(SaveConfigOver, EditsInPlace) {
  EXPECT_EQ(save_config(GetParam().current, kPlaySE, "zz", 20, 12, 4, 0), GetParam().want);
}

// The text with LF for every CR LF: saving over a file whose lines all end in
// a LF alone keeps them so.
std::string lf(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

const std::string kRestOfKeys =
    "PlayMidi=0\r\nShowEachScore=0\r\nAutoSaveAt1=0\r\nExitWithRBtn=0\r\nViewFpsNumber=0\r\n"
    "MiniScreen=0\r\nLastPlayerName=ZZ\r\nNumOfFragments=20\r\nScoreNumOfDigits=12\r\n"
    "ScoreSeparate=4\r\nAppearedMaxRank=E";

const SaveCase kSaveCases[] = {
    {"KeepsCommentAndInsertsAfterIt", "[GameSetting]\nPlaySE=0\n;comment",
     lf("[GameSetting]\r\nPlaySE=1\r\n;comment\r\nDrawBackground=0\r\n" + kRestOfKeys)},
    {"InsertsBeforeBlankLinesAndNextSection",
     "[GameSetting]\r\nPlaySE=0\r\n\r\n  \r\n[ConstantSetting]\r\nGravity=2\r\n",
     "[GameSetting]\r\nPlaySE=1\r\nDrawBackground=0\r\n" + kRestOfKeys +
         "\r\n\r\n  \r\n[ConstantSetting]\r\nGravity=2"},
    {"ReplacesWithKeyAsWritten", "[gamesetting]\n  playse = 0  \n[x]",
     lf("[gamesetting]\r\nPlaySE=1\r\nDrawBackground=0\r\n" + kRestOfKeys + "\r\n[x]")},
    {"EmptySectionGetsKeysAfterHeader", "[GameSetting]\n\n[Other]\na=1",
     lf("[GameSetting]\r\nDrawBackground=0\r\nPlaySE=1\r\n" + kRestOfKeys +
        "\r\n\r\n[Other]\r\na=1")},
    {"AppendsSectionAfterBlankLine", "; top\n[ConstantSetting]\nGravity=2",
     lf("; top\r\n[ConstantSetting]\r\nGravity=2\r\n\r\n[GameSetting]\r\nDrawBackground=0\r\n"
        "PlaySE=1\r\n" +
        kRestOfKeys)},
    {"NoSecondBlankLineBeforeAppendedSection", "[Other]\n\n",
     lf("[Other]\r\n\r\n[GameSetting]\r\nDrawBackground=0\r\nPlaySE=1\r\n" + kRestOfKeys)},
    {"SectionNameIsNotTrimmed", "[ GameSetting ]\nPlaySE=0",
     lf("[ GameSetting ]\r\nPlaySE=0\r\n\r\n[GameSetting]\r\nDrawBackground=0\r\nPlaySE=1\r\n" +
        kRestOfKeys)},
    {"CommentedKeyIsNotTheKey", "[GameSetting]\n;PlaySE=0\n#PlaySE=0",
     lf("[GameSetting]\r\n;PlaySE=0\r\n#PlaySE=0\r\nDrawBackground=0\r\nPlaySE=1\r\n" +
        kRestOfKeys)},
    // A later duplicate would otherwise win on reading and undo the save.
    // The Windows reader takes the first section only: the key goes there too.
    {"KeyOnlyInALaterSectionIsAddedToTheFirst",
     "[GameSetting]\nPlayMidi=0\n[o]\n[GameSetting]\nPlaySE=0",
     lf("[GameSetting]\r\nPlayMidi=0\r\nDrawBackground=0\r\nPlaySE=1\r\nShowEachScore=0\r\n"
        "AutoSaveAt1=0\r\nExitWithRBtn=0\r\nViewFpsNumber=0\r\nMiniScreen=0\r\n"
        "LastPlayerName=ZZ\r\nNumOfFragments=20\r\nScoreNumOfDigits=12\r\nScoreSeparate=4\r\n"
        "AppearedMaxRank=E\r\n[o]\r\n[GameSetting]\r\nPlaySE=1")},
    {"EveryDuplicateReplaced", "[GameSetting]\nPlaySE=0\nPlaySE=0\n[o]\n[GAMESETTING]\nPlaySE=0",
     lf("[GameSetting]\r\nPlaySE=1\r\nPlaySE=1\r\nDrawBackground=0\r\n" + kRestOfKeys +
        "\r\n[o]\r\n[GAMESETTING]\r\nPlaySE=1")},
};

INSTANTIATE_TEST_SUITE_P(Cases, SaveConfigOver, testing::ValuesIn(kSaveCases),
                         [](const auto& info) { return std::string(info.param.name); });

// CR LF unless every line of the file ends in a LF alone; a line of its own
// that ends in CR keeps it, and then a LF after it would make a CR LF.
TEST(SaveConfig, LineEndsFollowTheFile) {
  struct Case {
    std::string current, begins;
    bool lf;
  } cases[] = {
      {"[GameSetting]\nPlaySE=0\n[o]\nx=1\n", "[GameSetting]\nPlaySE=1\nDrawBackground=0\n", true},
      {"[GameSetting]\r\nPlaySE=0\n", "[GameSetting]\r\nPlaySE=1\r\n", false},
      {"[GameSetting]\rPlaySE=0", "[GameSetting]\rPlaySE=0\r\n\r\n[GameSetting]\r\n", false},
      {"[GameSetting]\nPlaySE=0\nx\r", "[GameSetting]\r\nPlaySE=1\r\nx\r\r\nDrawBackground=0",
       false},
      {"[GameSetting]", "[GameSetting]\r\nDrawBackground=0\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    const std::string saved = save_config(c.current, kPlaySE, "zz", 20, 12, 4, 0);
    EXPECT_TRUE(saved.starts_with(c.begins)) << saved;
    EXPECT_EQ(saved.find("\r\n") == std::string::npos, c.lf) << saved;
    EXPECT_EQ(load_config(saved).flags, kPlaySE);
    // Saved again, it stays as it is.
    EXPECT_EQ(save_config(saved, kPlaySE, "zz", 20, 12, 4, 0), saved);
  }
}

// An editor's byte-order mark before the first section hid it (the mark was
// part of its header line), and saving added a second one.
TEST(ByteOrderMark, IsNoPartOfTheFirstLineAndStaysOnSave) {
  for (const std::string& mark : {std::string("\xEF\xBB\xBF"), latin1_to_utf8("\xEF\xBB\xBF")}) {
    SCOPED_TRACE(mark.size());
    const std::string file = mark + "[GameSetting]\r\nPlaySE=0\r\nMiniScreen=1";
    EXPECT_EQ(split_lines(file).front(), "[GameSetting]");
    EXPECT_EQ(load_config(file).flags, kDrawBackground | kPlayMidi | kMiniScreen);
    const std::string saved = save_config(file, kMiniScreen, "zz", 20, 12, 4, 0);
    EXPECT_TRUE(saved.starts_with(mark + "[GameSetting]\r\nPlaySE=0\r\nMiniScreen=1\r\n")) << saved;
    EXPECT_EQ(saved.find("[GameSetting]", mark.size() + 1), std::string::npos) << saved;
    EXPECT_EQ(load_config(saved).flags, kMiniScreen);
  }
  // Only at the very start, and only once.
  EXPECT_EQ(load_config(" \xEF\xBB\xBF[GameSetting]\nPlaySE=0").flags, load_config("").flags);
  EXPECT_EQ(load_config("\xEF\xBB\xBF\xEF\xBB\xBF[GameSetting]\nPlaySE=0").flags,
            load_config("").flags);
  EXPECT_EQ(byte_order_mark("\xEF\xBB"), "");
  EXPECT_EQ(save_config("\xEF\xBB\xBF", 0, "", 20, 12, 4, 0).substr(0, 16),
            "\xEF\xBB\xBF[GameSetting]");
}

TEST(SaveConfig, NumbersAndRankTitles) {
  struct Case {
    std::int32_t number, rank;
    std::string_view number_text, title;
  } cases[] = {{-5, 20, "-5", "E"},
               {kMin32, -1, "-2147483648", "E"},
               {kMax32, 18, "2147483647", "Zentropolium"},
               {0, 8, "0", "Ultra"}};
  for (const auto& c : cases) {
    const std::string text = save_config(std::nullopt, 0, "", c.number, c.number, c.number, c.rank);
    const auto entries = parse_ini(text);
    EXPECT_EQ(ini_get(entries, "GameSetting", "NumOfFragments"), c.number_text);
    EXPECT_EQ(ini_get(entries, "GameSetting", "ScoreNumOfDigits"), c.number_text);
    EXPECT_EQ(ini_get(entries, "GameSetting", "ScoreSeparate"), c.number_text);
    EXPECT_EQ(ini_get(entries, "GameSetting", "AppearedMaxRank"), c.title);
  }
}

TEST(SaveConfig, UntouchedBytesSurviveTheHostRoundTrip) {
  const std::string file =
      "; \xE4\xF6\xFC \xA0\r\n[GameSetting]\r\nPlaySE=1\r\n[ConstantSetting]\r\nGravity=\x85"
      "1.5";
  const std::string saved =
      utf8_to_latin1(save_config(latin1_to_utf8(file), kPlaySE, "", 20, 12, 4, 0));
  EXPECT_TRUE(saved.starts_with("; \xE4\xF6\xFC \xA0\r\n[GameSetting]\r\nPlaySE=1\r\n"));
  EXPECT_TRUE(
      saved.ends_with("\r\n[ConstantSetting]\r\nGravity=\x85"
                      "1.5"));
  const TConfig before = load_config(latin1_to_utf8(file));
  EXPECT_TRUE(before.experiment);
  EXPECT_EQ(load_config(latin1_to_utf8(saved)).gravity, before.gravity);
}

TEST(SaveConfig, LoadGivesBackWhatWasSaved) {
  struct Case {
    const char* current;
    std::uint8_t flags;
    std::string_view name;
    std::int32_t fragments, digits, grouping, rank;
  } cases[] = {
      {nullptr, 0xFF, "abc", 20, 12, 4, 0},
      {nullptr, 0x00, "", -kMaxFragmentsFactor, 20, 2, 19},
      {nullptr, 0x00, "", kMaxFragmentsFactor, 4, 2, 19},
      {"[GameSetting]\nPlaySE=0\nPlaySE=1\n[SystemSetting]\nRejectAutoSave=0", 0xAA, "Q", -1, 4, 7,
       18},
      {"[gamesetting]\nLastPlayerName=OLD\n[GameSetting]\nLastPlayerName=OLDER", 0x55, "new one", 0,
       20, 9, 5},
  };
  for (const auto& c : cases) {
    const auto current = c.current ? std::optional<std::string_view>(c.current) : std::nullopt;
    const TConfig got = load_config(
        save_config(current, c.flags, c.name, c.fragments, c.digits, c.grouping, c.rank));
    EXPECT_EQ(got.flags, c.flags);
    EXPECT_EQ(got.last_player_name, copy_upper9(c.name));
    EXPECT_EQ(got.num_of_fragments, c.fragments);
    EXPECT_EQ(got.score_digits, c.digits);
    EXPECT_EQ(got.score_grouping, c.grouping);
    EXPECT_EQ(got.highest_rank, c.rank);
  }
}

}  // namespace
}  // namespace zt
