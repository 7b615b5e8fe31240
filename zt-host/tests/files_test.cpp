#include "files.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#include "file_size_limit.h"
#include "game/urecorder.h"
#include "watchdog.h"

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

// Runs the check in a child process as a user who owns nothing here (root
// reads and writes every file whatever its mode); its exit status, 0 when
// every part of the check held.
int as_another_user(const std::function<int()>& check) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
         ::setresuid(65534, 65534, 65534) != 0)) {
      std::_Exit(100);
    }
    std::_Exit(check());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// A replay the player may read but not write (a demonstration shipped
// read-only) opens for reading only: it replays, and says it is read-only so
// that its header is left as it is.
TEST_F(RecorderFiles, AReplayThePlayerMayOnlyReadOpensForReadingOnly) {
  fs::create_directory(dir_ / "Rec");
  spit(dir_ / "Rec" / "Rec4.dat", Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  spit(dir_ / "Rec" / "Rec5.dat", Bytes{9});
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(dir_ / "Rec",
                  fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir_ / "Rec" / "Rec4.dat", fs::perms::owner_read | fs::perms::others_read);
  fs::permissions(dir_ / "Rec" / "Rec5.dat", fs::perms::none);
  const int failed = as_another_user([this] {
    std::ostringstream err;
    HostFiles files(dir_, &err);
    int failures = 0;
    if (files.open_for_read(4) || !files.read_only()) failures |= 1;
    if (files.seek_from_end(-4) || files.read(4) != Bytes({5, 6, 7, 8})) failures |= 2;
    if (!files.seek_from_start(0) && !files.write(Bytes{0})) failures |= 4;  // a write fails
    files.close();
    if (files.read_only()) failures |= 8;
    // One it may not even read is not opened, and named.
    if (!files.open_for_read(5) || files.read_only()) failures |= 16;
    if (err.str() !=
        "could not open " + (dir_ / "Rec" / "Rec5.dat").string() + " (Permission denied)\n") {
      failures |= 32;
    }
    return failures;
  });
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(slurp(dir_ / "Rec" / "Rec4.dat"), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

  // A replay it may write is opened for both.
  fs::permissions(dir_ / "Rec" / "Rec4.dat", fs::perms::owner_read | fs::perms::owner_write);
  HostFiles files(dir_);
  ASSERT_FALSE(files.open_for_read(4));
  EXPECT_FALSE(files.read_only());
}

// A pipe, a device or a folder under a replay's name exists, but is no
// replay: it is refused at once, where reading it would wait for ever (the
// title's demonstration and the slot screen read every slot's header).
TEST_F(RecorderFiles, OnlyARegularFileIsOpenedAsAReplay) {
  const test::Watchdog watchdog(std::chrono::seconds(30), "opening odd files as replays");
  fs::create_directory(dir_ / "Rec");
  ASSERT_EQ(::mkfifo((dir_ / "Rec" / "Rec0.dat").c_str(), 0666), 0);
  fs::create_symlink("/dev/zero", dir_ / "Rec" / "Rec1.dat");
  fs::create_directory(dir_ / "Rec" / "Rec2.dat");
  std::ostringstream err;
  HostFiles files(dir_, &err);
  for (std::int32_t slot : {0, 1, 2}) {
    SCOPED_TRACE(slot);
    EXPECT_TRUE(files.file_exists(slot));
    EXPECT_TRUE(files.open_for_read(slot));
    EXPECT_FALSE(files.replay_open());
    TRecorder rec;
    RecHeaderRaw header;
    EXPECT_EQ(rec.read_header(slot, header, files), HeaderRead::Failed);
    rec.start_play(slot, files);
    EXPECT_TRUE(rec.failed());
  }
  // Each named once, however often it is asked for.
  const auto rec = [this](const char* name) { return (dir_ / "Rec" / name).string(); };
  EXPECT_EQ(err.str(), "could not open " + rec("Rec0.dat") +
                           " (not a regular file)\n"
                           "could not open " +
                           rec("Rec1.dat") +
                           " (not a regular file)\n"
                           "could not open " +
                           rec("Rec2.dat") + " (Is a directory)\n");
  EXPECT_TRUE(files.open_for_read(7)) << "no such file: nothing to say";
  // Recording over the pipe that nobody reads fails instead of waiting for a reader.
  EXPECT_TRUE(files.open_for_write(0));
  EXPECT_EQ(fs::status(dir_ / "Rec" / "Rec0.dat").type(), fs::file_type::fifo);
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

// The peak resident memory of this process so far, in KiB.
long peak_kib() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// What the reader makes of every kind of thing that can stand under a file's
// name; none of them may block or read without end.
TEST_F(WholeFiles, TheReaderTakesOnlyARegularFileWithinItsCap) {
  const test::Watchdog watchdog(std::chrono::seconds(30), "reading odd files");
  spit(dir_ / "ten", Bytes(10, 7));
  spit(dir_ / "empty", {});
  fs::create_symlink("ten", dir_ / "link");
  fs::create_symlink("nowhere", dir_ / "dangling");
  fs::create_symlink("/dev/zero", dir_ / "zero");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0666), 0);
  {
    std::ofstream(dir_ / "huge").close();
    fs::resize_file(dir_ / "huge", std::uintmax_t{8} << 30);  // sparse: takes no room
  }
  struct Case {
    fs::path path;
    std::uint64_t cap;
    std::optional<Bytes> bytes;  // or the failure:
    std::string reason;
    bool missing;
  };
  const Case cases[] = {
      {dir_ / "ten", 10, Bytes(10, 7), "", false},
      {dir_ / "ten", 9, std::nullopt, "larger than 9 bytes", false},
      {dir_ / "empty", 0, Bytes{}, "", false},
      {dir_ / "link", 10, Bytes(10, 7), "", false},
      {dir_ / "missing", 10, std::nullopt, "No such file or directory", true},
      {dir_ / "dangling", 10, std::nullopt, "No such file or directory", true},
      {dir_, 10, std::nullopt, "not a regular file", false},
      {dir_ / "fifo", 10, std::nullopt, "not a regular file", false},
      {dir_ / "zero", kScoreFileCap, std::nullopt, "not a regular file", false},
      {"/dev/null", 10, std::nullopt, "not a regular file", false},
      {dir_ / "huge", kArchiveFileCap, std::nullopt, "larger than 33554432 bytes", false},
      // The system reports no size for it, yet it has more than 10 bytes to read.
      {"/proc/self/status", 10, std::nullopt, "larger than 10 bytes", false},
  };
  const long peak_before = peak_kib();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string() + " cap " + std::to_string(c.cap));
    auto read = read_file(c.path, c.cap);
    if (c.bytes) {
      ASSERT_TRUE(std::holds_alternative<Bytes>(read)) << std::get<ReadFailure>(read).reason;
      EXPECT_EQ(std::get<Bytes>(read), *c.bytes);
    } else {
      ASSERT_TRUE(std::holds_alternative<ReadFailure>(read));
      EXPECT_EQ(std::get<ReadFailure>(read).reason, c.reason);
      EXPECT_EQ(std::get<ReadFailure>(read).missing, c.missing);
    }
  }
  EXPECT_LT(peak_kib() - peak_before, 16 * 1024) << "KiB more at the peak";
  const auto status = read_file("/proc/self/status", kSettingsFileCap);
  ASSERT_TRUE(std::holds_alternative<Bytes>(status));
  EXPECT_GT(std::get<Bytes>(status).size(), 10u);
  EXPECT_EQ(fs::file_size(dir_ / "huge"), std::uintmax_t{8} << 30);
}

TEST_F(WholeFiles, ANewFileIsCreatedOnlyWhereNothingIs) {
  spit(dir_ / "taken", Bytes{1});
  fs::create_symlink("target", dir_ / "link");
  EXPECT_EQ(create_new_file(dir_ / "taken", Bytes{2}), std::errc::file_exists);
  EXPECT_EQ(create_new_file(dir_ / "link", Bytes{2}), std::errc::file_exists);
  EXPECT_EQ(slurp(dir_ / "taken"), Bytes{1});
  EXPECT_FALSE(fs::exists(dir_ / "target"));
  EXPECT_FALSE(create_new_file(dir_ / "new", Bytes{3, 4}));
  EXPECT_EQ(slurp(dir_ / "new"), (Bytes{3, 4}));
  {
    const test::FileSizeLimit disk(100);
    EXPECT_EQ(create_new_file(dir_ / "big", Bytes(1000, 5)), std::errc::file_too_large);
  }
  EXPECT_FALSE(fs::exists(dir_ / "big")) << "a failed file is not left half written";
}

// Copies of a damaged file pile up under new names; an earlier one is never
// touched, and the same bytes are kept once however often they come.
TEST_F(WholeFiles, DamagedCopiesTakeTheFirstFreeNameOncePerContent) {
  const fs::path score = dir_ / "ZTScore.dat";
  const auto kept_as = [&](const Bytes& bytes) {
    auto kept = keep_damaged_copy(score, bytes);
    EXPECT_TRUE(std::holds_alternative<DamagedCopy>(kept));
    const DamagedCopy copy = std::get<DamagedCopy>(kept);
    return copy.path.filename().string() + (copy.earlier ? " (earlier)" : "");
  };
  EXPECT_EQ(kept_as(Bytes(321, 1)), "ZTScore.dat.damaged");
  EXPECT_EQ(kept_as(Bytes(321, 2)), "ZTScore.dat.damaged.2");
  EXPECT_EQ(kept_as(Bytes(321, 3)), "ZTScore.dat.damaged.3");
  // The same bytes again, as when the replacement keeps failing run after run.
  EXPECT_EQ(kept_as(Bytes(321, 2)), "ZTScore.dat.damaged.2 (earlier)");
  // A longer or shorter file that begins with them is another content.
  EXPECT_EQ(kept_as(Bytes(320, 1)), "ZTScore.dat.damaged.4");
  EXPECT_EQ(kept_as(Bytes(322, 3)), "ZTScore.dat.damaged.5");
  fs::remove(dir_ / "ZTScore.dat.damaged.2");
  EXPECT_EQ(kept_as(Bytes{9}), "ZTScore.dat.damaged.2");
  // A link leading to the same bytes elsewhere is no copy kept here.
  spit(dir_ / "elsewhere", Bytes(321, 7));
  fs::create_symlink(dir_ / "elsewhere", dir_ / "ZTScore.dat.damaged.6");
  EXPECT_EQ(kept_as(Bytes(321, 7)), "ZTScore.dat.damaged.7");
  EXPECT_EQ(slurp(dir_ / "ZTScore.dat.damaged"), Bytes(321, 1));
  EXPECT_EQ(slurp(dir_ / "ZTScore.dat.damaged.3"), Bytes(321, 3));
  EXPECT_EQ(slurp(dir_ / "ZTScore.dat.damaged.7"), Bytes(321, 7));
  EXPECT_EQ(std::get<std::error_code>(keep_damaged_copy(dir_ / "no" / "ZTScore.dat", Bytes{1})),
            std::errc::no_such_file_or_directory);
}

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

// A process number that no longer runs: a child that has ended and been reaped.
pid_t dead_pid() {
  const pid_t child = ::fork();
  if (child == 0) std::_Exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

using StaleTempFiles = TempDir;

// Sets every file's modification time below the folder two minutes back, as a
// file left by a run killed earlier would be.
void age_files(const fs::path& dir) {
  const auto then = fs::file_time_type::clock::now() - std::chrono::minutes(2);
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_symlink()) fs::last_write_time(entry.path(), then);
  }
}

// What a kill -9 in the middle of a save or a recording leaves is removed at
// the next start.
TEST_F(StaleTempFiles, AKilledRunsTemporaryFilesAreRemoved) {
  spit(dir_ / "ZTScore.dat", Bytes(320, 1));
  EXPECT_EXIT(
      {
        auto begun = FileReplacement::begin(dir_ / "ZTScore.dat");
        auto settings = FileReplacement::begin(dir_ / "Zentria.ini");
        HostFiles files(dir_);
        if (files.open_for_write(3) || files.write(Bytes(56, 0))) std::_Exit(1);
        std::raise(SIGKILL);
      },
      ::testing::KilledBySignal(SIGKILL), "");
  ASSERT_EQ(names(dir_).size(), 4u) << "two temporary files, the score file and Rec";
  ASSERT_EQ(names(dir_ / "Rec").size(), 1u);
  age_files(dir_);

  EXPECT_EQ(remove_stale_temp_files(dir_).size(), 3u);
  EXPECT_EQ(names(dir_), (std::vector<std::string>{"Rec", "ZTScore.dat"}));
  EXPECT_TRUE(names(dir_ / "Rec").empty());
  EXPECT_EQ(slurp(dir_ / "ZTScore.dat"), Bytes(320, 1));
}

// Only names of the scheme exactly, only regular files, only in the data
// directory and its "Rec", and never those of a process that still runs.
TEST_F(StaleTempFiles, AnythingElseIsLeftAlone) {
  const std::string dead = std::to_string(dead_pid());
  const std::string live = std::to_string(::getpid());
  const std::string other_live = std::to_string(::getppid());
  fs::create_directories(dir_ / "Rec");
  fs::create_directories(dir_ / "other");
  const std::vector<std::string> removed = {
      ".ZTScore.dat." + dead + ".1.tmp",   ".Zentria.ini." + dead + ".12.tmp",
      ".ScrSht4.bmp." + dead + ".3.tmp",   "Rec/.Rec3.dat." + dead + ".2.tmp",
      "Rec/.Rec10.dat." + dead + ".7.tmp",
  };
  const std::vector<std::string> kept = {
      ".ZTScore.dat." + live + ".1.tmp",       ".Zentria.ini." + other_live + ".2.tmp",
      "Rec/.Rec0.dat." + live + ".1.tmp",      ".ZTScore.dat." + dead + ".1.tmp.bak",
      ".ZTScore.dat.0" + dead + ".1.tmp",      ".ZTScore.dat." + dead + ".tmp",
      ".ZTScore.dat." + dead + ".x.tmp",       "ZTScore.dat." + dead + ".1.tmp",
      ".ztscore.dat." + dead + ".1.tmp",       ".notes.txt." + dead + ".1.tmp",
      ".Rec1.dat." + dead + ".1.tmp",          "Rec/.ZTScore.dat." + dead + ".1.tmp",
      "other/.ZTScore.dat." + dead + ".1.tmp",
  };
  for (const auto& name : removed) spit(dir_ / name, Bytes{1});
  for (const auto& name : kept) spit(dir_ / name, Bytes{1});
  age_files(dir_);
  // Written a moment ago: perhaps by a process this system cannot see (the
  // Windows program under Wine), still on its way to its rename.
  const std::string fresh = ".ZTScore.dat." + dead + ".9.tmp";
  spit(dir_ / fresh, Bytes{1});
  fs::create_directory(dir_ / (".Zentria.ini." + dead + ".5.tmp"));
  fs::create_symlink("ZTScore.dat", dir_ / (".ZTScore.dat." + dead + ".6.tmp"));

  std::vector<fs::path> gone = remove_stale_temp_files(dir_);
  std::sort(gone.begin(), gone.end());
  std::vector<fs::path> expected;
  for (const auto& name : removed) expected.push_back(dir_ / name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(gone, expected);
  for (const auto& name : removed) EXPECT_FALSE(fs::exists(dir_ / name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(dir_ / name)) << name;
  EXPECT_TRUE(fs::exists(dir_ / fresh));
  EXPECT_TRUE(fs::is_directory(dir_ / (".Zentria.ini." + dead + ".5.tmp")));
  EXPECT_TRUE(fs::is_symlink(dir_ / (".ZTScore.dat." + dead + ".6.tmp")));
  EXPECT_TRUE(remove_stale_temp_files(dir_ / "missing").empty());
}

// Sets a link's own times an hour back, as an old link would have them.
void age_link(const fs::path& link) {
  const timespec hour_ago{std::time(nullptr) - 3600, 0};
  const timespec times[2] = {hour_ago, hour_ago};
  ASSERT_EQ(::utimensat(AT_FDCWD, link.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << link;
}

// A recording paused for minutes, named as by a process this system cannot
// see (the Windows program under Wine), stays while its writer holds it; so
// does anything named like a temporary file that is not one in the folder
// itself: links (and what they lead to), a second name of a file elsewhere,
// a pipe. Once its writer lets go, the old recording goes like any other.
TEST_F(StaleTempFiles, AFileStillHeldAndWhatIsNoTemporaryFileStay) {
  const std::string dead = std::to_string(dead_pid());
  HostFiles files(dir_);
  ASSERT_FALSE(files.open_for_write(1));
  ASSERT_FALSE(files.write(Bytes(56, 0)));
  const std::vector<std::string> temp = names(dir_ / "Rec");
  ASSERT_EQ(temp.size(), 1u);
  const fs::path held = dir_ / "Rec" / (".Rec1.dat." + dead + ".1.tmp");
  fs::rename(dir_ / "Rec" / temp[0], held);

  fs::create_directories(dir_ / "elsewhere");
  const std::vector<std::pair<std::string, std::string>> links = {
      {".ZTScore.dat." + dead + ".1.tmp", "elsewhere/scores"},
      {"Rec/.Rec2.dat." + dead + ".1.tmp", "elsewhere/replay"},
      {".ScrSht3.bmp." + dead + ".2.tmp", "elsewhere/picture"},
      {".Zentria.ini." + dead + ".3.tmp", "../" + dir_.filename().string() + "/elsewhere/settings"},
  };
  for (const auto& [link, target] : links) {
    spit(dir_ / "elsewhere" / fs::path(target).filename(), Bytes(10, 'p'));
    fs::create_symlink(target.starts_with("..") ? target : (dir_ / target).string(), dir_ / link);
  }
  fs::create_hard_link(dir_ / "elsewhere/scores", dir_ / (".ZTScore.dat." + dead + ".4.tmp"));
  ASSERT_EQ(::mkfifo((dir_ / (".ZTScore.dat." + dead + ".5.tmp")).c_str(), 0600), 0);
  age_files(dir_);
  for (const auto& [link, target] : links) age_link(dir_ / link);

  EXPECT_TRUE(remove_stale_temp_files(dir_).empty());
  EXPECT_TRUE(fs::exists(held));
  for (const auto& [link, target] : links) {
    EXPECT_TRUE(fs::is_symlink(dir_ / link)) << link;
    EXPECT_EQ(slurp(dir_ / "elsewhere" / fs::path(target).filename()), Bytes(10, 'p')) << target;
  }
  EXPECT_TRUE(fs::exists(dir_ / (".ZTScore.dat." + dead + ".4.tmp")));
  EXPECT_TRUE(fs::is_fifo(dir_ / (".ZTScore.dat." + dead + ".5.tmp")));

  // The recording still works: it is the writer's own file.
  EXPECT_FALSE(files.write(frame(5, 0)));
  EXPECT_EQ(fs::file_size(held), 64u);
  files.close();
  age_files(dir_ / "Rec");
  EXPECT_EQ(remove_stale_temp_files(dir_), std::vector<fs::path>{held});
}

}  // namespace
}  // namespace zt
