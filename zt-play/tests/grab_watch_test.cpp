#include "grab_watch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zt {
namespace {

std::vector<std::string> g_passed;
void record(void*, int category, SDL_LogPriority priority, const char* message) {
  g_passed.push_back(std::to_string(category) + "/" + std::to_string(priority) + " " + message);
}

TEST(GrabRefusalWatch, CatchesTheRefusalAndPassesOnWhatSdlWouldHavePrinted) {
  SDL_LogOutputFunction before = nullptr;
  void* before_user = nullptr;
  SDL_LogGetOutputFunction(&before, &before_user);
  SDL_LogSetOutputFunction(record, nullptr);
  const SDL_LogPriority video = SDL_LogGetPriority(SDL_LOG_CATEGORY_VIDEO);
  SDL_LogSetPriority(SDL_LOG_CATEGORY_VIDEO, SDL_LOG_PRIORITY_ERROR);
  g_passed.clear();
  {
    GrabRefusalWatch watch;
    EXPECT_FALSE(watch.refusal());
    SDL_LogWarn(SDL_LOG_CATEGORY_VIDEO, "some other warning");
    SDL_LogWarn(SDL_LOG_CATEGORY_VIDEO, "The X server refused to let us grab the mouse. Twice.");
    SDL_LogWarn(SDL_LOG_CATEGORY_VIDEO, "The X server refused to let us grab the mouse. Again.");
    SDL_LogError(SDL_LOG_CATEGORY_VIDEO, "a video error");
    SDL_LogInfo(SDL_LOG_CATEGORY_APPLICATION, "the program's own line");
    // The same words in another category are not SDL's X11 backend.
    SDL_LogWarn(SDL_LOG_CATEGORY_INPUT, "The X server refused to let us grab the mouse.");
    EXPECT_EQ(watch.refusal(), "The X server refused to let us grab the mouse. Twice.");
  }
  // The warnings stayed below the video category's priority; the rest went on.
  const std::string video_error = std::to_string(SDL_LOG_CATEGORY_VIDEO) + "/" +
                                  std::to_string(SDL_LOG_PRIORITY_ERROR) + " a video error";
  const std::string info = std::to_string(SDL_LOG_CATEGORY_APPLICATION) + "/" +
                           std::to_string(SDL_LOG_PRIORITY_INFO) + " the program's own line";
  const std::string input = std::to_string(SDL_LOG_CATEGORY_INPUT) + "/" +
                            std::to_string(SDL_LOG_PRIORITY_WARN) +
                            " The X server refused to let us grab the mouse.";
  SDL_LogSetPriority(SDL_LOG_CATEGORY_INPUT, SDL_LOG_PRIORITY_WARN);
  SDL_LogWarn(SDL_LOG_CATEGORY_INPUT, "The X server refused to let us grab the mouse.");
  EXPECT_THAT(g_passed, ::testing::ElementsAre(video_error, info, input))
      << "the last line comes straight to the function in place before the watch";
  EXPECT_EQ(SDL_LogGetPriority(SDL_LOG_CATEGORY_VIDEO), SDL_LOG_PRIORITY_ERROR);

  SDL_LogResetPriorities();
  SDL_LogSetPriority(SDL_LOG_CATEGORY_VIDEO, video);
  SDL_LogSetOutputFunction(before, before_user);
}

}  // namespace
}  // namespace zt
