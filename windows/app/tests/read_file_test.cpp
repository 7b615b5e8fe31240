// The one reader of the program's own files: what counts as missing, as
// unreadable and as too large, on Wine's file system.
#include "read_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "formats/config.h"
#include "formats/hiscore.h"
#include "test_folder.h"

namespace zt::win {
namespace {

using test::write_all;

class ReadingFiles : public test::TestFolder {};

ReadFailure failure_of(const ReadResult& r) {
  const ReadFailure* f = std::get_if<ReadFailure>(&r);
  return f ? *f : ReadFailure{ReadFailure::kMissing, 0xFFFFFFFF};
}

TEST_F(ReadingFiles, ReadsAWholeFileUpToItsCap) {
  write_all(dir_ + L"four", "abcd");
  write_all(dir_ + L"empty", "");
  const struct {
    const wchar_t* name;
    std::uint64_t cap;
    std::size_t size;  // 0xFFFF: too large
  } cases[] = {{L"four", 4, 4}, {L"four", 100, 4}, {L"empty", 0, 0}, {L"four", 3, 0xFFFF}};
  for (const auto& c : cases) {
    const ReadResult r = read_whole_file(dir_ + c.name, c.cap);
    if (c.size == 0xFFFF) {
      EXPECT_EQ(failure_of(r).kind, ReadFailure::kTooLarge) << c.cap;
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(r)) << c.cap;
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(r).size(), c.size);
  }
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(read_whole_file(dir_ + L"four", 4)),
            (std::vector<std::uint8_t>{'a', 'b', 'c', 'd'}));
}

// A file of 8 GiB is refused by its size, before a byte of it is read.
TEST_F(ReadingFiles, AHugeFileIsRefusedAtOnce) {
  ASSERT_TRUE(test::make_sized_file(dir_ + L"huge", 8ll << 30));
  const ReadFailure f = failure_of(read_whole_file(dir_ + L"huge", kSettingsFileCap));
  EXPECT_EQ(f.kind, ReadFailure::kTooLarge);
  EXPECT_EQ(f.code, static_cast<std::uint32_t>(ERROR_FILE_TOO_LARGE));
}

TEST_F(ReadingFiles, MissingIsTellingApartFromUnreadable) {
  write_all(dir_ + L"held", "mine");
  // Another program holds it open and lets nobody read it.
  HANDLE held = CreateFileW((dir_ + L"held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  CreateDirectoryW((dir_ + L"folder").c_str(), nullptr);
  const struct {
    std::wstring path;
    ReadFailure::Kind kind;
  } cases[] = {
      {dir_ + L"none", ReadFailure::kMissing},
      {dir_ + L"no folder\\none", ReadFailure::kMissing},
      {dir_ + L"held", ReadFailure::kUnreadable},
      {dir_ + L"folder", ReadFailure::kUnreadable},
      {L"NUL", ReadFailure::kUnreadable},  // a device, no file on a disk
  };
  for (const auto& c : cases) {
    EXPECT_EQ(failure_of(read_whole_file(c.path, kScoreFileCap)).kind, c.kind)
        << std::string(c.path.begin(), c.path.end());
  }
  CloseHandle(held);
  EXPECT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(
      read_whole_file(dir_ + L"held", kScoreFileCap)));
}

}  // namespace
}  // namespace zt::win
