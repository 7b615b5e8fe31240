#include "headless_game.h"

#include "game/start_game.h"

namespace zt {
namespace {

MemoryHost& with_songs(MemoryHost& host) {
  host.songs.existing.insert({"title.mid", "stage.mid"});
  return host;
}

// Settings that name no last player leave the game's own "ANONYMOUS", the
// name the name entry falls back to: the player of every headless recording.
TConfig with_player(TConfig settings) {
  if (settings.last_player_name.empty()) settings.last_player_name = "ANONYMOUS";
  return settings;
}

}  // namespace

HeadlessGame::HeadlessGame(MemoryHost& host, const TConfig& settings)
    : host_(host), game_(start_game(with_player(settings), std::nullopt, with_songs(host)).game) {}

std::optional<GameError> HeadlessGame::frame() {
  host_.ms += frame_ms;
  const std::optional<GameError> error = game_.step_frame(host_);
  if (visited_.empty() || visited_.back() != game_.state()) visited_.push_back(game_.state());
  if (on_frame) on_frame(error);
  host_.presented.clear();
  host_.sounds.clear();
  return error;
}

std::optional<GameError> HeadlessGame::frame_at(Point p) {
  host_.set_pointer(p.x, p.y);
  return frame();
}

std::optional<GameError> HeadlessGame::click(Point p) {
  host_.set_pointer(p.x, p.y);
  host_.press(kKeyLButton);
  const std::optional<GameError> error = frame();
  host_.release(kKeyLButton);
  return error;
}

std::optional<GameError> HeadlessGame::key(std::int32_t code) {
  host_.press(code);
  const std::optional<GameError> error = frame();
  host_.release(code);
  return error;
}

bool HeadlessGame::frames(int n) {
  for (int i = 0; i < n && !game_.quit(); ++i) {
    if (frame()) return false;
  }
  return true;
}

bool HeadlessGame::run_until(std::uint8_t state, int limit) {
  for (int i = 0; i < limit && game_.state() != state && !game_.quit(); ++i) {
    if (frame()) return false;
  }
  return game_.state() == state;
}

bool HeadlessGame::chase(int n) {
  for (int i = 0; i < n && game_.state() == kStatePlay; ++i) {
    if (frame_at(hand_.next(game_))) return false;
  }
  return true;
}

bool HeadlessGame::tear(int n) {
  for (int i = 0; i < n && game_.state() == kStatePlay; ++i) {
    if (frame_at(ScriptedHand::tear(game_))) return false;
  }
  return true;
}

}  // namespace zt
