// The text of a message box: long lines are broken so that the box, which is
// as wide as its longest line, stays on the screen.
#include "dialog.h"

#include <gtest/gtest.h>

#include <string>

#include "options.h"

namespace zt {
namespace {

TEST(BoxText, BreaksOnlyTheLinesThatAreTooLong) {
  struct Case {
    const char* what;
    std::string message;
    std::size_t columns;
    std::string expected;
  };
  for (const Case& c : {
           Case{"short text unchanged", "images.qda not found", 20, "images.qda not found"},
           Case{"after the last slash in reach", "/data/games/zt/images.qda not found", 16,
                "/data/games/zt/\nimages.qda not\nfound"},
           Case{"at a blank, which is dropped", "could not save the file", 10,
                "could not\nsave the\nfile"},
           Case{"hard break without a place", "abcdefghijkl", 5, "abcde\nfghij\nkl"},
           Case{"existing lines kept", "first line\nsecond", 12, "first line\nsecond"},
           Case{"a line of exactly the limit", "12345", 5, "12345"},
       }) {
    EXPECT_EQ(dialog::box_text(c.message, c.columns), c.expected) << c.what;
  }
}

TEST(BoxText, AVeryLongPathFitsTheBoxAndKeepsEveryCharacter) {
  std::string path = "/tmp";
  while (path.size() < 2000) path += "/a-rather-long-folder-name";
  const std::string message = path + "/images.qda not found";
  const std::string text = dialog::box_text(message);
  std::string joined;
  std::size_t longest = 0;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); start <= text.size(); end = text.find('\n', start)) {
    const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    longest = std::max(longest, line.size());
    if (!joined.empty() && joined.back() != '/') joined += ' ';
    joined += line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  EXPECT_LE(longest, dialog::kBoxColumns);
  EXPECT_EQ(joined, message);
}

TEST(BoxText, TheUsageTextIsShownAsItIs) {
  EXPECT_EQ(dialog::box_text(options::usage_text()), options::usage_text());
}

}  // namespace
}  // namespace zt
