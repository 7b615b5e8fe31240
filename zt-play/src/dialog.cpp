#include "dialog.h"

#include <SDL.h>

#include <string>

namespace zt::dialog {

namespace {

// The box kinds the program uses, from the numbers its callers pass.
Uint32 sdl_flags(std::uint32_t flags) {
  if (flags & kError) return SDL_MESSAGEBOX_ERROR;
  if (flags & kInformation) return SDL_MESSAGEBOX_INFORMATION;
  return SDL_MESSAGEBOX_WARNING;
}

}  // namespace

void show(std::uint32_t flags, std::string_view message) {
  const std::string text(message);
  (void)SDL_ShowSimpleMessageBox(sdl_flags(flags), "Zentropolium", text.c_str(), nullptr);
}

}  // namespace zt::dialog
