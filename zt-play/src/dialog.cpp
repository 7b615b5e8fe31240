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

void append_broken(std::string& out, std::string_view line, std::size_t columns) {
  while (line.size() > columns) {
    std::size_t cut = line.substr(0, columns).find_last_of('/');
    if (cut != std::string_view::npos && cut > 0) {
      ++cut;  // the "/" ends the line, so a broken path still reads as one
    } else {
      cut = line.substr(0, columns + 1).find_last_of(' ');
      if (cut == std::string_view::npos || cut == 0) cut = columns;
    }
    out.append(line.substr(0, cut));
    out += '\n';
    line.remove_prefix(cut);
    if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  }
  out.append(line);
}

}  // namespace

std::string box_text(std::string_view message, std::size_t columns) {
  std::string out;
  if (columns == 0) return std::string(message);
  for (;;) {
    const std::size_t end = message.find('\n');
    append_broken(out, message.substr(0, end), columns);
    if (end == std::string_view::npos) break;
    out += '\n';
    message.remove_prefix(end + 1);
  }
  return out;
}

void show(std::uint32_t flags, std::string_view message) {
  const std::string text = box_text(message);
  (void)SDL_ShowSimpleMessageBox(sdl_flags(flags), "Zentropolium", text.c_str(), nullptr);
}

}  // namespace zt::dialog
