// The game's score file: a damaged one is kept beside it before the table
// replaces it; one that could not be read is never written over.
#include "score_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "fixture_table.h"
#include "formats/hiscore.h"
#include "read_file.h"
#include "test_folder.h"

namespace zt::win {
namespace {

using test::read_all;
using test::write_all;

std::string image_text(const ScoreFileImage& image) {
  return std::string(image.begin(), image.end());
}

std::string valid_file() {
  return image_text(*test::fixture_table().save());
}

std::string default_file() {
  return image_text(*THiScore().save());
}

class GameScoreFileTest : public test::TestFolder {
 protected:
  std::wstring path() const { return dir_ + L"ZTScore.dat"; }
  std::wstring copy(int k) const { return GameScoreFile::DamagedCopyName(path(), k); }
  // What the game does with the file: reads it at start, and at the end
  // writes the table when it changed.
  std::optional<WriteError> play(GameScoreFile& file, bool insert = false) {
    THiScore table;
    file.Loaded(hiscore_load(table, file.Read()));
    if (insert) table.insert("NEW", 999999, 45000.0);
    const std::optional<ScoreFileImage> image = table.save();
    return image ? file.Write(*image) : std::nullopt;
  }
};

TEST_F(GameScoreFileTest, ADamagedFileIsKeptBeforeTheDefaultsReplaceIt) {
  ScoreEntries out_of_order = THiScore().entries();
  out_of_order[0].score = 1;
  TRnd rnd;
  rnd.set_seed(kScoreKeySeed);
  rnd.reset();
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"one byte short", valid_file().substr(0, 319)},
      {"one byte too many", valid_file() + "x"},
      {"scores out of order", image_text(encode_score_file(out_of_order, rnd))},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    DeleteFileW(copy(1).c_str());
    write_all(path(), c.bytes);
    GameScoreFile file(path());
    EXPECT_EQ(play(file), std::nullopt) << c.what;
    EXPECT_EQ(read_all(copy(1)), c.bytes) << c.what;
    EXPECT_EQ(read_all(path()), default_file()) << c.what;
    // Kept once: a later write of the same run makes no second copy.
    EXPECT_EQ(file.Write(*test::fixture_table().save()), std::nullopt);
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"ZTScore.dat", L"ZTScore.dat.damaged"}))
        << c.what;
  }
}

TEST_F(GameScoreFileTest, EarlierCopiesStayAndAFileThatCannotBeKeptIsNotReplaced) {
  write_all(copy(1), "first");
  write_all(copy(2), "second");
  write_all(path(), "damaged");
  GameScoreFile file(path());
  EXPECT_EQ(play(file), std::nullopt);
  EXPECT_EQ(read_all(copy(1)), "first");
  EXPECT_EQ(read_all(copy(2)), "second");
  EXPECT_EQ(read_all(copy(3)), "damaged");
  EXPECT_EQ(read_all(path()), default_file());

  // Every name it may take is taken: the damaged file stays as it is.
  write_all(path(), "damaged again");
  GameScoreFile bounded(path(), 3);
  const std::optional<WriteError> e = play(bounded);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->code, static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
  EXPECT_EQ(read_all(path()), "damaged again");
  EXPECT_EQ(read_all(copy(3)), "damaged");
  EXPECT_EQ(names().size(), 4u);
}

// A damaged file that is never replaced (here: read-only) is met again at
// every run: its bytes are kept once, and other bytes under the next name.
TEST_F(GameScoreFileTest, TheSameDamagedBytesAreKeptOnceRunAfterRun) {
  write_all(path(), "damaged");
  SetFileAttributesW(path().c_str(), FILE_ATTRIBUTE_READONLY);
  for (int run = 0; run < 3; ++run) {
    GameScoreFile file(path());
    const std::optional<WriteError> e = play(file);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(names(), (std::vector<std::wstring>{L"ZTScore.dat", L"ZTScore.dat.damaged"}));
  // Bytes that only begin like the kept ones are other bytes.
  SetFileAttributesW(path().c_str(), FILE_ATTRIBUTE_NORMAL);
  write_all(path(), "damaged!");
  SetFileAttributesW(path().c_str(), FILE_ATTRIBUTE_READONLY);
  for (int run = 0; run < 2; ++run) {
    GameScoreFile file(path());
    EXPECT_TRUE(play(file));
  }
  SetFileAttributesW(path().c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(read_all(copy(1)), "damaged");
  EXPECT_EQ(read_all(copy(2)), "damaged!");
  EXPECT_EQ(names().size(), 3u);
}

TEST_F(GameScoreFileTest, AFileThatCouldNotBeReadIsNeverWrittenOver) {
  // Held open by another program that lets nobody read it while the game
  // starts, then let go.
  write_all(path(), valid_file());
  HANDLE held = CreateFileW(path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  GameScoreFile file(path());
  THiScore table;
  file.Loaded(hiscore_load(table, file.Read()));
  CloseHandle(held);
  EXPECT_EQ(table.entries(), THiScore().entries());
  EXPECT_EQ(file.Write(*table.save()), std::nullopt);
  EXPECT_EQ(read_all(path()), valid_file());

  // Over its cap.
  ASSERT_TRUE(test::make_sized_file(path(), kScoreFileCap + 1));
  GameScoreFile large(path());
  EXPECT_EQ(play(large, true), std::nullopt);
  WIN32_FILE_ATTRIBUTE_DATA a{};
  ASSERT_TRUE(GetFileAttributesExW(path().c_str(), GetFileExInfoStandard, &a));
  EXPECT_EQ(a.nFileSizeLow, kScoreFileCap + 1);

  // A folder in its place.
  DeleteFileW(path().c_str());
  CreateDirectoryW(path().c_str(), nullptr);
  GameScoreFile folder(path());
  EXPECT_EQ(play(folder, true), std::nullopt);
  EXPECT_EQ(names(), std::vector<std::wstring>{L"ZTScore.dat"});
  RemoveDirectoryW(path().c_str());
}

TEST_F(GameScoreFileTest, MissingAndValidFilesAreWrittenWithoutACopy) {
  GameScoreFile missing(path());
  EXPECT_EQ(play(missing), std::nullopt);
  EXPECT_EQ(read_all(path()), default_file());

  write_all(path(), valid_file());
  GameScoreFile unchanged(path());
  EXPECT_EQ(play(unchanged), std::nullopt);
  EXPECT_EQ(read_all(path()), valid_file());
  GameScoreFile played(path());
  EXPECT_EQ(play(played, true), std::nullopt);
  EXPECT_NE(read_all(path()), valid_file());
  EXPECT_EQ(read_all(path()).size(), kScoreFileSize);
  EXPECT_EQ(names(), std::vector<std::wstring>{L"ZTScore.dat"});
}

}  // namespace
}  // namespace zt::win
