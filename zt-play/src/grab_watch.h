// SDL2's X11 backend says that the X server refused the pointer grab only in
// its log, as a warning of the video category, after retrying for up to 5 s;
// it then stops trying for the rest of the run, while the window still
// reports the grab that was asked for. The watch reads SDL's log for that
// warning and passes every other line on as before.
#pragma once

#include <SDL.h>

#include <mutex>
#include <optional>
#include <string>

namespace zt {

class GrabRefusalWatch {
 public:
  // Takes SDL's log output function, chaining to the one in place, for as
  // long as it lives. One watch at a time.
  GrabRefusalWatch();
  ~GrabRefusalWatch();
  GrabRefusalWatch(const GrabRefusalWatch&) = delete;
  GrabRefusalWatch& operator=(const GrabRefusalWatch&) = delete;

  // SDL's text of the first refusal it logged; nothing before one.
  std::optional<std::string> refusal() const;

 private:
  static void output(void* self, int category, SDL_LogPriority priority, const char* message);

  SDL_LogOutputFunction previous_ = nullptr;
  void* previous_user_ = nullptr;
  // The video category's priority before the watch lowered it to warnings:
  // lines below it are caught but not passed on, as SDL would have dropped them.
  SDL_LogPriority video_priority_ = SDL_LOG_PRIORITY_CRITICAL;
  mutable std::mutex mu_;  // SDL may log from any thread
  std::optional<std::string> refusal_;
};

}  // namespace zt
