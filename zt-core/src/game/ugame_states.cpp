// The state handlers. Each draws its whole picture, presents it once and
// switches states; until a screen is written its handler does nothing.
#include "game/ugame.h"

namespace zt {

std::optional<GameError> TGame::state_logo(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_title(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_options(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_slots(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_intro(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_play(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_line_cut(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_result(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_name_entry(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_pause(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_top10(Host&) {
  return std::nullopt;
}
std::optional<GameError> TGame::state_exit(Host&) {
  return std::nullopt;
}

}  // namespace zt
