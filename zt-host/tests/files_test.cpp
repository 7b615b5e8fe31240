#include "files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "file_size_limit.h"
#include "game/urecorder.h"

namespace zt {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zt-files-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::all, ec);
    fs::remove_all(dir_, ec);
  }

  static Bytes slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void spit(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  // The names in the directory, to see that no temporary file is left.
  static std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  static mode_t mode_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  }
  static Bytes frame(std::int32_t x, std::int32_t y) {
    Bytes b(8);
    for (int i = 0; i < 4; ++i) {
      b[static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(static_cast<std::uint32_t>(x) >> (8 * i));
      b[static_cast<std::size_t>(4 + i)] =
          static_cast<std::uint8_t>(static_cast<std::uint32_t>(y) >> (8 * i));
    }
    return b;
  }

  fs::path dir_;
};

using RecorderFiles = TempDir;

TEST_F(RecorderFiles, RecordingWrittenAndPlayedBack) {
  HostFiles files(dir_);
  RecorderIo& io = files;
  EXPECT_EQ(HostFiles::rec_path(dir_, 3), dir_ / "Rec" / "Rec3.dat");
  EXPECT_EQ(HostFiles::rec_path(dir_, -1), dir_ / "Rec" / "Rec-1.dat");

  // The recorder's start: the header's place, the seed frame, positions, the end
  // frame; the file takes the slot's place at its commit.
  ASSERT_FALSE(io.open_for_write(2));
  EXPECT_TRUE(fs::is_directory(dir_ / "Rec"));
  EXPECT_FALSE(io.file_exists(2));
  ASSERT_FALSE(io.write(Bytes(56, 0)));
  for (const Bytes& f : {frame(417, 0), frame(160, 120), frame(-5, 300), frame(-1, -1)}) {
    ASSERT_FALSE(io.write(f));
  }
  EXPECT_FALSE(io.file_exists(2));
  ASSERT_FALSE(io.commit());
  EXPECT_FALSE(files.replay_open());
  EXPECT_EQ(fs::file_size(dir_ / "Rec" / "Rec2.dat"), 56u + 4 * 8u);
  EXPECT_EQ(names(dir_ / "Rec"), std::vector<std::string>{"Rec2.dat"});
  EXPECT_TRUE(io.commit()) << "nothing left to commit";

  // Its header written afterwards in place, the frames behind untouched.
  Bytes header(56, 0);
  header[48] = 3;
  ASSERT_FALSE(io.open_for_read(2));
  ASSERT_FALSE(io.write(header));
  io.close();

  // The player's start: the end frame checked, then from the first frame on.
  ASSERT_FALSE(io.open_for_read(2));
  ASSERT_FALSE(io.seek_from_end(-8));
  EXPECT_EQ(io.read(8), frame(-1, -1));
  ASSERT_FALSE(io.seek_from_start(56));
  EXPECT_EQ(io.read(8), frame(417, 0));
  EXPECT_EQ(io.read(8), frame(160, 120));
  EXPECT_EQ(io.read(8), frame(-5, 300));
  EXPECT_EQ(io.read(8), frame(-1, -1));
  EXPECT_EQ(io.read(8), std::nullopt);
  ASSERT_FALSE(io.seek_from_start(0));
  EXPECT_EQ(io.read(56), header);
  EXPECT_EQ(io.read(0), Bytes{});
  io.close();
}

TEST_F(RecorderFiles, OpeningForReadNeverCreates) {
  HostFiles files(dir_);
  EXPECT_FALSE(files.file_exists(1));
  EXPECT_TRUE(files.open_for_read(1));
  EXPECT_FALSE(files.replay_open());
  EXPECT_FALSE(fs::exists(dir_ / "Rec"));
  fs::create_directory(dir_ / "Rec");
  EXPECT_TRUE(files.open_for_read(1));
  EXPECT_FALSE(fs::exists(dir_ / "Rec" / "Rec1.dat"));
  // A directory in the file's place cannot be opened for writing either.
  fs::create_directory(dir_ / "Rec" / "Rec3.dat");
  EXPECT_TRUE(files.file_exists(3));
  EXPECT_TRUE(files.open_for_read(3));
}

TEST_F(RecorderFiles, FileWithoutWritePermissionCannotBeOpenedForRead) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  fs::create_directory(dir_ / "Rec");
  spit(dir_ / "Rec" / "Rec4.dat", Bytes(64, 1));
  fs::permissions(dir_ / "Rec" / "Rec4.dat", fs::perms::owner_read);
  HostFiles files(dir_);
  EXPECT_TRUE(files.open_for_read(4));
}

TEST_F(RecorderFiles, EveryOperationWithoutAnOpenFileFails) {
  HostFiles files(dir_);
  RecorderIo& io = files;
  EXPECT_TRUE(io.seek_from_end(0));
  EXPECT_TRUE(io.seek_from_start(0));
  EXPECT_EQ(io.read(8), std::nullopt);
  EXPECT_EQ(io.read(0), std::nullopt);
  EXPECT_TRUE(io.write(frame(1, 2)));
  EXPECT_TRUE(io.write({}));
  io.close();  // nothing open: nothing happens
  io.close();
}

TEST_F(RecorderFiles, FailuresWithAnOpenFile) {
  fs::create_directory(dir_ / "Rec");
  spit(dir_ / "Rec" / "Rec5.dat", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  HostFiles files(dir_);
  RecorderIo& io = files;
  ASSERT_FALSE(io.open_for_read(5));
  EXPECT_TRUE(io.seek_from_start(-1));
  EXPECT_TRUE(io.seek_from_end(-13));  // before the start of the file
  EXPECT_FALSE(io.write({}));          // empty: nothing to do, not a failure

  // A short read gives nothing, but the position has moved by what was read.
  ASSERT_FALSE(io.seek_from_end(-4));
  EXPECT_EQ(io.read(8), std::nullopt);
  EXPECT_EQ(io.read(1), std::nullopt);
  ASSERT_FALSE(io.seek_from_start(0));
  // A huge length on a short file is refused without allocating the length.
  EXPECT_EQ(io.read(std::size_t{1} << 40), std::nullopt);

  // A file opened for writing only cannot be read.
  ASSERT_FALSE(io.open_for_write(6));
  ASSERT_FALSE(io.write(frame(7, 8)));
  ASSERT_FALSE(io.seek_from_start(0));
  EXPECT_EQ(io.read(8), std::nullopt);
}

TEST_F(RecorderFiles, FailedOpenKeepsTheFileOpenBefore) {
  fs::create_directory(dir_ / "Rec");
  spit(dir_ / "Rec" / "Rec1.dat", frame(11, 22));
  HostFiles files(dir_);
  ASSERT_FALSE(files.open_for_read(1));
  EXPECT_TRUE(files.open_for_read(9));
  EXPECT_EQ(files.read(8), frame(11, 22));

  // Same for a failed open for writing: "Rec" in the way as a file under another data directory.
  const fs::path other = dir_ / "other";
  fs::create_directory(other);
  spit(other / "Rec", {});
  HostFiles blocked(other);
  EXPECT_TRUE(blocked.open_for_write(1));
  EXPECT_FALSE(blocked.replay_open());
  ASSERT_FALSE(files.seek_from_start(0));
  EXPECT_TRUE(fs::is_regular_file(other / "Rec"));

  // A successful open replaces the open file.
  spit(dir_ / "Rec" / "Rec2.dat", frame(33, 44));
  ASSERT_FALSE(files.open_for_read(2));
  EXPECT_EQ(files.read(8), frame(33, 44));
}

TEST_F(RecorderFiles, OpenForWriteCreatesMissingParentsAndTheCommitReplacesTheFile) {
  const mode_t old_mask = ::umask(0);
  const fs::path data = dir_ / "a" / "b";
  HostFiles files(data);
  const bool failed = files.open_for_write(0) || files.write(Bytes(100, 9)) || files.commit();
  ::umask(old_mask);
  ASSERT_FALSE(failed);
  EXPECT_EQ(mode_of(data / "Rec"), 0777u);
  EXPECT_EQ(mode_of(HostFiles::rec_path(data, 0)), 0666u);
  EXPECT_EQ(slurp(HostFiles::rec_path(data, 0)), Bytes(100, 9));

  // An existing directory is fine; a recording dropped without its commit
  // leaves the old file, a committed one replaces it.
  ASSERT_FALSE(files.open_for_write(0));
  ASSERT_FALSE(files.write(Bytes(3, 1)));
  files.close();
  EXPECT_EQ(slurp(HostFiles::rec_path(data, 0)), Bytes(100, 9));
  ASSERT_FALSE(files.open_for_write(0));
  ASSERT_FALSE(files.commit());
  EXPECT_EQ(fs::file_size(HostFiles::rec_path(data, 0)), 0u);
  EXPECT_EQ(names(data / "Rec"), std::vector<std::string>{"Rec0.dat"});
}

// The recorder over the real files: a recording that fills the disk, or whose
// program is killed before it ends, leaves the slot's replay byte for byte;
// one that finishes replaces it.
TEST_F(RecorderFiles, OnlyAFinishedRecordingReplacesTheSlotsReplay) {
  fs::create_directory(dir_ / "Rec");
  Bytes old(56, 0);
  for (const Bytes& f : {frame(3, 0), frame(10, 10), frame(-1, -1)}) {
    old.insert(old.end(), f.begin(), f.end());
  }
  spit(dir_ / "Rec" / "Rec1.dat", old);
  HostFiles files(dir_);
  const auto record = [&files](TRecorder& rec) {
    rec.start_record(1, files);
    for (std::int32_t i = 0; i < 20; ++i) rec.write_frame(i, i, files);
  };

  TRecorder rec;
  {
    const test::FileSizeLimit disk(100);
    record(rec);
  }
  EXPECT_TRUE(rec.failed());
  EXPECT_FALSE(rec.finish_record(make_rec_header(1.0, "A", {}), files));
  EXPECT_EQ(slurp(dir_ / "Rec" / "Rec1.dat"), old);
  EXPECT_EQ(names(dir_ / "Rec"), std::vector<std::string>{"Rec1.dat"});

  EXPECT_EXIT(
      {
        TRecorder doomed;
        record(doomed);
        std::raise(SIGKILL);
      },
      ::testing::KilledBySignal(SIGKILL), "");
  EXPECT_EQ(slurp(dir_ / "Rec" / "Rec1.dat"), old);

  record(rec);
  const RecHeaderRaw header = make_rec_header(2.0, "B", {5, 6, 7});
  EXPECT_FALSE(rec.finish_record(header, files));
  const Bytes now = slurp(dir_ / "Rec" / "Rec1.dat");
  ASSERT_EQ(now.size(), 56u + 21u * 8u);
  const auto raw = header.encode();
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), now.begin()));
  EXPECT_EQ(Bytes(now.end() - 8, now.end()), frame(-1, -1));
}

using SongFiles = TempDir;

TEST_F(SongFiles, AnythingThatExistsCounts) {
  spit(dir_ / "title.mid", {0x4D});
  fs::create_directory(dir_ / "stage.mid");
  HostFiles files(dir_);
  KbgmSink& sink = files;
  EXPECT_TRUE(sink.file_exists("title.mid"));
  EXPECT_TRUE(sink.file_exists("stage.mid"));
  EXPECT_FALSE(sink.file_exists("other.mid"));
}

using ConfigText = TempDir;

TEST_F(ConfigText, EachByteIsOneCharacterBothWays) {
  Bytes all(256);
  for (std::size_t i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  spit(dir_ / "Zentria.ini", all);
  const std::string text = read_config_text(dir_ / "Zentria.ini");
  EXPECT_EQ(text.size(), 128u + 2 * 128u);
  EXPECT_EQ(config_text_bytes(text), all);

  spit(dir_ / "e.ini", {'N', '=', 0xE9});
  EXPECT_EQ(read_config_text(dir_ / "e.ini"), "N=\xC3\xA9");  // one character, code 233
  EXPECT_EQ(config_text_bytes("N=\xC3\xA9"), (Bytes{'N', '=', 0xE9}));
}

TEST_F(ConfigText, CharactersBeyond255KeepTheirUtf8) {
  EXPECT_EQ(config_text_bytes("\xE2\x82\xAC"), (Bytes{0xE2, 0x82, 0xAC}));
  EXPECT_EQ(config_text_bytes("\xF0\x9F\x98\x80"), (Bytes{0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(config_text_bytes("\xC4\x80"), (Bytes{0xC4, 0x80}));  // U+0100
  // Bytes that are no UTF-8 go out as they stand rather than being lost.
  EXPECT_EQ(config_text_bytes("a\xC3"), (Bytes{'a', 0xC3}));
  EXPECT_EQ(config_text_bytes("\xC3Z"), (Bytes{0xC3, 'Z'}));
  EXPECT_EQ(config_text_bytes("\xFF"), (Bytes{0xFF}));
}

TEST_F(ConfigText, UnreadableFileIsEmptyText) {
  EXPECT_EQ(read_config_text(dir_ / "missing.ini"), "");
  EXPECT_EQ(read_config_text(dir_), "");  // a directory
  spit(dir_ / "empty.ini", {});
  EXPECT_EQ(read_config_text(dir_ / "empty.ini"), "");
}

using WholeFiles = TempDir;

TEST_F(WholeFiles, ReplaceCreatesReplacesAndReportsFailure) {
  const fs::path p = dir_ / "ScrSht1.bmp";
  EXPECT_FALSE(replace_file(p, Bytes(1000, 1)));
  EXPECT_FALSE(replace_file(p, Bytes{1, 2, 3}));
  EXPECT_EQ(slurp(p), (Bytes{1, 2, 3}));
  EXPECT_EQ(replace_file(dir_ / "no such dir" / "x.bmp", Bytes{1}),
            std::make_error_code(std::errc::no_such_file_or_directory));
  EXPECT_EQ(replace_file(dir_, Bytes{1}), std::make_error_code(std::errc::is_a_directory));
  // A device is written in place, never renamed over.
  EXPECT_EQ(replace_file("/dev/full", Bytes(10, 0)),
            std::make_error_code(std::errc::no_space_on_device));
  EXPECT_FALSE(replace_file("/dev/null", Bytes(10, 0)));
  EXPECT_EQ(names(dir_), std::vector<std::string>{"ScrSht1.bmp"});
}

// A write that fails part-way, as on a full disk: the old file stays byte
// for byte, the error says why, and no temporary file is left behind.
TEST_F(WholeFiles, AFailedReplaceKeepsTheOldFile) {
  const fs::path p = dir_ / "Zentria.ini";
  Bytes old(300, 'o');
  spit(p, old);
  std::error_code error;
  {
    const test::FileSizeLimit disk(4096);
    error = replace_file(p, Bytes(10000, 'n'));
  }
  EXPECT_EQ(error, std::make_error_code(std::errc::file_too_large));
  EXPECT_EQ(slurp(p), old);
  EXPECT_EQ(names(dir_), std::vector<std::string>{"Zentria.ini"});
}

// Killed after the new bytes are out and before the rename: the old file is
// still whole.
TEST_F(WholeFiles, AKillBeforeTheRenameKeepsTheOldFile) {
  const fs::path p = dir_ / "ZTScore.dat";
  const Bytes old(320, 's');
  spit(p, old);
  EXPECT_EXIT(
      {
        auto begun = FileReplacement::begin(p);
        FileReplacement& r = std::get<FileReplacement>(begun);
        const Bytes fresh(320, 'f');
        if (::write(r.fd(), fresh.data(), fresh.size()) != 320) std::_Exit(1);
        ::fsync(r.fd());
        std::raise(SIGKILL);
      },
      ::testing::KilledBySignal(SIGKILL), "");
  EXPECT_EQ(slurp(p), old);
}

TEST_F(WholeFiles, ANewFileTakesTheMaskAndAReplacedOneKeepsItsMode) {
  const mode_t old_mask = ::umask(027);
  const std::error_code made = replace_file(dir_ / "new.ini", Bytes{1});
  ::umask(old_mask);
  ASSERT_FALSE(made);
  EXPECT_EQ(mode_of(dir_ / "new.ini"), 0640u);

  spit(dir_ / "own.dat", Bytes{1});
  fs::permissions(dir_ / "own.dat", fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_FALSE(replace_file(dir_ / "own.dat", Bytes{2}));
  EXPECT_EQ(mode_of(dir_ / "own.dat"), 0600u);
  EXPECT_EQ(slurp(dir_ / "own.dat"), Bytes{2});
}

// A link to the file stays a link: the file it leads to, through any chain of
// links, relative or absolute, gets the new bytes beside it.
TEST_F(WholeFiles, ALinkStaysALinkAndItsTargetIsReplaced) {
  fs::create_directory(dir_ / "saves");
  spit(dir_ / "saves" / "real.ini", Bytes{'o', 'l', 'd'});
  fs::create_symlink("saves/real.ini", dir_ / "hop.ini");
  fs::create_symlink(dir_ / "hop.ini", dir_ / "Zentria.ini");
  ASSERT_FALSE(replace_file(dir_ / "Zentria.ini", Bytes{'n', 'e', 'w'}));
  EXPECT_TRUE(fs::is_symlink(dir_ / "Zentria.ini"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "hop.ini"));
  EXPECT_EQ(slurp(dir_ / "saves" / "real.ini"), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(names(dir_ / "saves"), std::vector<std::string>{"real.ini"});

  // A link whose file does not exist yet gets it made.
  fs::create_symlink("saves/score.dat", dir_ / "ZTScore.dat");
  ASSERT_FALSE(replace_file(dir_ / "ZTScore.dat", Bytes{5}));
  EXPECT_TRUE(fs::is_symlink(dir_ / "ZTScore.dat"));
  EXPECT_EQ(slurp(dir_ / "saves" / "score.dat"), Bytes{5});
}

TEST_F(WholeFiles, DataDirectoryMustHoldTheArchive) {
  const auto missing = require_data_dir(dir_);
  ASSERT_TRUE(std::holds_alternative<std::string>(missing));
  EXPECT_EQ(std::get<std::string>(missing), (dir_ / "images.qda").string() + " not found");

  fs::create_directory(dir_ / "images.qda");
  EXPECT_TRUE(std::holds_alternative<std::string>(require_data_dir(dir_)));
  fs::remove(dir_ / "images.qda");

  spit(dir_ / "images.qda", {});
  const auto found = require_data_dir(dir_);
  ASSERT_TRUE(std::holds_alternative<fs::path>(found));
  EXPECT_EQ(std::get<fs::path>(found), dir_ / "images.qda");

  EXPECT_EQ(std::get<std::string>(require_data_dir("no/such/dir")),
            "no/such/dir/images.qda not found");
}

}  // namespace
}  // namespace zt
