#include "grab_watch.h"

#include <string_view>

namespace zt {

namespace {

constexpr std::string_view kRefused = "The X server refused to let us grab the mouse";

}  // namespace

GrabRefusalWatch::GrabRefusalWatch() {
  SDL_LogGetOutputFunction(&previous_, &previous_user_);
  video_priority_ = SDL_LogGetPriority(SDL_LOG_CATEGORY_VIDEO);
  if (video_priority_ > SDL_LOG_PRIORITY_WARN) {
    SDL_LogSetPriority(SDL_LOG_CATEGORY_VIDEO, SDL_LOG_PRIORITY_WARN);
  }
  SDL_LogSetOutputFunction(output, this);
}

GrabRefusalWatch::~GrabRefusalWatch() {
  SDL_LogSetOutputFunction(previous_, previous_user_);
  SDL_LogSetPriority(SDL_LOG_CATEGORY_VIDEO, video_priority_);
}

std::optional<std::string> GrabRefusalWatch::refusal() const {
  const std::lock_guard lock(mu_);
  return refusal_;
}

void GrabRefusalWatch::output(void* user, int category, SDL_LogPriority priority,
                              const char* message) {
  auto* self = static_cast<GrabRefusalWatch*>(user);
  const std::string_view text = message != nullptr ? message : "";
  if (category == SDL_LOG_CATEGORY_VIDEO) {
    if (priority >= SDL_LOG_PRIORITY_WARN && text.starts_with(kRefused)) {
      const std::lock_guard lock(self->mu_);
      if (!self->refusal_) self->refusal_.emplace(text);
    }
    if (priority < self->video_priority_) return;
  }
  if (self->previous_ != nullptr)
    self->previous_(self->previous_user_, category, priority, message);
}

}  // namespace zt
