#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "data_set.h"
#include "formats/bmp.h"
#include "formats/qda.h"
#include "game/glue.h"
#include "palette.h"

namespace zt::mkdata {
namespace {

namespace fs = std::filesystem;

Bytes read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t u32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct Outcome {
  int status = -1;
  std::string out;
};

Outcome run(const std::string& cmd) {
  Outcome r;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string quoted(const fs::path& p) {
  return "'" + p.string() + "'";
}

// One temporary data directory written by the real program, shared by the tests.
class DataDir : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("zt-mkdata-test-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    const Outcome r = run(std::string("'") + ZT_MKDATA_EXE + "' " + quoted(root_ / "a") +
                          " --contact-sheet " + quoted(root_ / "contact.bmp"));
    status_ = r.status;
    output_ = r.out;
    expected_ = build_data_set();
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  void SetUp() override {
    ASSERT_EQ(status_, 0) << output_;
    ASSERT_TRUE(expected_.has_value());
  }

  static fs::path dir() { return root_ / "a"; }

  static inline fs::path root_;
  static inline int status_ = -1;
  static inline std::string output_;
  static inline std::optional<DataSet> expected_;
};

TEST_F(DataDir, WritesEveryFileAndTheRecordingDirectory) {
  for (const char* name : {"images.qda", "sounds.qda", "title.mid", "stage.mid"}) {
    EXPECT_TRUE(fs::is_regular_file(dir() / name)) << name;
    EXPECT_GT(fs::file_size(dir() / name), 0u) << name;
  }
  ASSERT_TRUE(fs::is_directory(dir() / "Rec"));
  // The recording directory holds the title demonstration (slot 0), and
  // nothing else.
  std::vector<std::string> recs;
  for (const auto& e : fs::directory_iterator(dir() / "Rec")) recs.push_back(e.path().filename());
  EXPECT_EQ(recs, std::vector<std::string>{"Rec0.dat"});
  EXPECT_EQ(read_file(dir() / "Rec" / "Rec0.dat"), expected_->demo);
  EXPECT_EQ(read_file(dir() / "title.mid"), expected_->title_mid);
  EXPECT_EQ(read_file(dir() / "stage.mid"), expected_->stage_mid);
}

// Every member comes back byte for byte through the game's reader, and the
// encoder really packs the pictures: smaller than the members, with pair
// codes in use. (Noisy sound data may leave a block no free byte value.)
TEST_F(DataDir, ArchivesRoundTripThroughTheReaderAndAreCompressed) {
  const std::pair<const char*, const std::vector<NamedFile>*> archives[] = {
      {"images.qda", &expected_->images}, {"sounds.qda", &expected_->sounds}};
  for (const auto& [file, members] : archives) {
    SCOPED_TRACE(file);
    const Bytes bytes = read_file(dir() / file);
    ASSERT_GE(bytes.size(), 256u);
    EXPECT_EQ(u32(bytes, 0), 1u);  // every member byte-pair encoded
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "QDA0");
    ASSERT_EQ(u32(bytes, 8), members->size());

    std::size_t total = 0;
    std::set<std::string> names;
    bool pair_codes = false;
    for (std::size_t i = 0; i < members->size(); ++i) {
      const std::size_t e = 256 + 268 * i;
      const std::uint32_t offset = u32(bytes, e), stored = u32(bytes, e + 4),
                          unpacked = u32(bytes, e + 8);
      const std::string name(reinterpret_cast<const char*>(&bytes[e + 12]));
      EXPECT_EQ(name, (*members)[i].name);
      EXPECT_TRUE(names.insert(name).second) << "duplicate " << name;
      EXPECT_GT(stored, 0u) << name;
      EXPECT_EQ(unpacked, (*members)[i].data.size()) << name;
      ASSERT_LE(std::size_t{offset} + stored, bytes.size()) << name;
      total += (*members)[i].data.size();
      // The first block's pair table: does it define any code as a pair?
      std::size_t p = offset;
      int k = 0;
      while (k < 256 && p < offset + stored) {
        int count = bytes[p++];
        if (count > 127) {
          k += count - 127;
          count = 0;
        }
        for (int c = 0; c <= count && k < 256; ++c, ++k) {
          const int left = bytes[p++];
          if (left != k) {
            pair_codes = true;
            ++p;
          }
        }
      }
    }
    if (std::string(file) == "images.qda") {
      EXPECT_TRUE(pair_codes);
      EXPECT_LT(bytes.size(), total);
    }

    const QdaArchive archive = QdaArchive::parse(bytes);
    for (const NamedFile& m : *members) {
      const auto got = archive.load_member(m.name);
      ASSERT_TRUE(got.has_value()) << m.name;
      EXPECT_TRUE(*got == m.data) << m.name << " differs after decoding";
    }
  }
}

TEST_F(DataDir, EveryBitmapHasItsSheetSizeAndTheMasterPalette) {
  struct Expect {
    const char* name;
    int w, h;
  };
  static constexpr Expect kSizes[kSheetCount] = {
      {"ball.bmp", 128, 256},     {"hand.bmp", 11, 11},      {"logo.bmp", 219, 148},
      {"title.bmp", 300, 100},    {"titlebg.bmp", 320, 240}, {"MenuIcon.bmp", 320, 32},
      {"target.bmp", 480, 72},    {"next2.bmp", 480, 72},    {"fragments.bmp", 90, 54},
      {"font.bmp", 288, 36},      {"score.bmp", 90, 48},     {"number.bmp", 400, 40},
      {"judge.bmp", 60, 150},     {"pfont.bmp", 55, 8},      {"gravityx.bmp", 250, 120},
      {"gravityh.bmp", 250, 120}, {"gauge.bmp", 300, 30},    {"rank.bmp", 500, 320},
      {"field.bmp", 160, 320},    {"gameover.bmp", 300, 120}};
  const QdaArchive archive = QdaArchive::parse(read_file(dir() / "images.qda"));
  const Palette& master = master_palette();
  for (int n = 0; n < kSheetCount; ++n) {
    const Expect& e = kSizes[n];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(kSheetNames[static_cast<std::size_t>(n)], e.name);
    const auto bytes = archive.load_member(e.name);
    ASSERT_TRUE(bytes.has_value());
    // Bottom-up rows (positive height), 256 colours: what the Windows loader needs.
    ASSERT_GE(bytes->size(), 54u);
    EXPECT_EQ(static_cast<std::int32_t>(u32(*bytes, 22)), e.h);
    EXPECT_EQ(u32(*bytes, 46), 256u);
    const auto bmp = decode_indexed_bmp(*bytes);
    ASSERT_TRUE(bmp.has_value());
    EXPECT_EQ(bmp->surface.width, e.w);
    EXPECT_EQ(bmp->surface.height, e.h);
    for (std::size_t c = 0; c < 256; ++c)
      for (std::size_t b = 0; b < 3; ++b)
        ASSERT_EQ(bmp->palette[4 * c + b], master[4 * c + b]) << c;
  }
  // The display forces these two; the palette agrees with it.
  EXPECT_EQ(master[0] | master[1] | master[2], 0);
  EXPECT_EQ(master[1020] & master[1021] & master[1022], 255);
}

TEST_F(DataDir, EveryClipLoadsWithSdlAsShortMonoPcm) {
  const QdaArchive archive = QdaArchive::parse(read_file(dir() / "sounds.qda"));
  for (const char* name : {"gravitychange.wav", "explosion1.wav", "bound.wav", "select.wav",
                           "cutwarn.wav", "destroy0.wav", "destroy1.wav"}) {
    SCOPED_TRACE(name);
    const auto bytes = archive.load_member(name);
    ASSERT_TRUE(bytes.has_value());
    // The canonical header: "fmt " of 16 bytes at 12, "data" at 36.
    ASSERT_GT(bytes->size(), 44u);
    EXPECT_EQ(std::string(bytes->begin() + 12, bytes->begin() + 16), "fmt ");
    EXPECT_EQ(std::string(bytes->begin() + 36, bytes->begin() + 40), "data");
    EXPECT_EQ(u32(*bytes, 40), bytes->size() - 44);

    SDL_RWops* rw = SDL_RWFromConstMem(bytes->data(), static_cast<int>(bytes->size()));
    ASSERT_NE(rw, nullptr);
    SDL_AudioSpec spec;
    Uint8* buf = nullptr;
    Uint32 len = 0;
    ASSERT_NE(SDL_LoadWAV_RW(rw, 1, &spec, &buf, &len), nullptr) << SDL_GetError();
    EXPECT_EQ(spec.format, AUDIO_S16LSB);
    EXPECT_EQ(spec.channels, 1);
    EXPECT_TRUE(spec.freq == 22050 || spec.freq == 44100);
    EXPECT_GT(len, 0u);
    EXPECT_LE(len / 2.0 / spec.freq, 1.0);
    SDL_FreeWAV(buf);
  }
}

struct CsvEvent {
  int track;
  long tick;
  std::string type;
  std::vector<std::string> args;
};

std::vector<CsvEvent> parse_csv(const std::string& text) {
  std::vector<CsvEvent> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ls(line);
    std::string cell;
    while (std::getline(ls, cell, ',')) {
      const auto b = cell.find_first_not_of(' ');
      f.push_back(b == std::string::npos ? "" : cell.substr(b));
    }
    if (f.size() < 3) continue;
    out.push_back({std::stoi(f[0]), std::stol(f[1]), f[2], {f.begin() + 3, f.end()}});
  }
  return out;
}

// The songs as midicsv reads them: a looping General MIDI tune that the MIDI
// port can restart after its last message.
TEST_F(DataDir, SongsAreReadByMidicsvAndLoopCleanly) {
  for (const char* song : {"title.mid", "stage.mid"}) {
    SCOPED_TRACE(song);
    const Outcome r = run(std::string(ZT_MIDICSV) + " " + quoted(dir() / song));
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(r.out.find("Error"), std::string::npos) << r.out;
    const std::vector<CsvEvent> ev = parse_csv(r.out);

    long division = 0, end_of_track = -1, last_off = -1, last_channel_msg = -1;
    double tempo = 0;
    std::map<int, std::set<std::string>> setup_at_zero;  // channel -> setup kinds at tick 0
    std::map<int, long> first_note;
    std::map<std::pair<int, int>, int> held;
    bool drums_on_ten = false;
    for (const CsvEvent& e : ev) {
      if (e.type == "Header") division = std::stol(e.args.at(2));
      if (e.type == "Tempo") tempo = std::stod(e.args.at(0));
      if (e.type == "End_track") end_of_track = std::max(end_of_track, e.tick);
      const bool is_channel = e.type.size() > 2 && e.type.compare(e.type.size() - 2, 2, "_c") == 0;
      if (!is_channel) continue;
      last_channel_msg = std::max(last_channel_msg, e.tick);
      const int ch = std::stoi(e.args.at(0));
      if (e.tick == 0 && e.type == "Program_c") setup_at_zero[ch].insert("program");
      if (e.tick == 0 && e.type == "Control_c" && e.args.at(1) == "7")
        setup_at_zero[ch].insert("volume");
      const bool on = e.type == "Note_on_c" && std::stoi(e.args.at(2)) > 0;
      const bool off = e.type == "Note_off_c" || (e.type == "Note_on_c" && !on);
      if (on) {
        if (!first_note.count(ch)) first_note[ch] = e.tick;
        ++held[{ch, std::stoi(e.args.at(1))}];
        if (ch == 9) drums_on_ten = true;
      }
      if (off) {
        --held[{ch, std::stoi(e.args.at(1))}];
        last_off = std::max(last_off, e.tick);
      }
    }
    EXPECT_EQ(division, 480);
    ASSERT_GT(tempo, 0);
    EXPECT_EQ(last_off, end_of_track);
    EXPECT_EQ(last_channel_msg, end_of_track);
    EXPECT_TRUE(drums_on_ten);
    for (const auto& [key, n] : held)
      EXPECT_EQ(n, 0) << "channel " << key.first << " key " << key.second;
    for (const auto& [ch, tick] : first_note) {
      (void)tick;
      EXPECT_EQ(setup_at_zero[ch].size(), 2u) << "channel " << ch;
    }
    const double seconds = end_of_track / double(division) * tempo / 1e6;
    EXPECT_GE(seconds, 30.0);
    EXPECT_LE(seconds, 120.0);
  }
}

TEST_F(DataDir, TwoRunsWriteTheSameBytes) {
  const Outcome r = run(std::string("'") + ZT_MKDATA_EXE + "' " + quoted(root_ / "b") +
                        " --contact-sheet " + quoted(root_ / "contact2.bmp"));
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* name : {"images.qda", "sounds.qda", "title.mid", "stage.mid"})
    EXPECT_TRUE(read_file(dir() / name) == read_file(root_ / "b" / name)) << name;
  EXPECT_TRUE(read_file(root_ / "contact.bmp") == read_file(root_ / "contact2.bmp"));
  EXPECT_TRUE(decode_indexed_bmp(read_file(root_ / "contact.bmp")).has_value());
}

TEST(MkdataCommandLine, RejectsMissingOrUnknownArguments) {
  for (const char* args : {"", "--contact-sheet", "a b", "--bogus a", "a --contact-sheet"}) {
    const Outcome r = run(std::string("'") + ZT_MKDATA_EXE + "' " + args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.out.find("usage"), std::string::npos) << args;
  }
}

}  // namespace
}  // namespace zt::mkdata
