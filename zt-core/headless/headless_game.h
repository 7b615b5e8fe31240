// One game run headless on a MemoryHost, frame by frame, as a player drives
// it: started as both programs start it, then pointer moves, clicks and keys,
// runs until a state, and play frames steered by the scripted hand. What a
// frame presented and played goes to on_frame and is then dropped from the
// host, so that memory stays flat over long runs; each user keeps its own
// tallies there.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "formats/config.h"
#include "game/glue.h"
#include "game/ugame.h"
#include "memory_host.h"
#include "scripted_hand.h"

namespace zt {

class HeadlessGame {
 public:
  // Starts the game on the host with no score file, played by the settings'
  // last player or else "ANONYMOUS". The host's data has both songs, as a
  // generated data directory has: without them the music would switch itself
  // off, and the options screen would clear PlayMidi.
  explicit HeadlessGame(MemoryHost& host, const TConfig& settings = TConfig{});

  TGame& game() { return game_; }
  MemoryHost& host() { return host_; }

  // Added to the host's millisecond clock before each frame.
  std::uint32_t frame_ms = 0;
  // Called after each frame with its error, while the host still holds what
  // the frame presented and played.
  std::function<void(const std::optional<GameError>&)> on_frame;
  // The state after each frame, a run of equal ones counted once.
  const std::vector<std::uint8_t>& visited() const { return visited_; }

  // One frame, whatever the state.
  std::optional<GameError> frame();
  // One frame with the pointer at p.
  std::optional<GameError> frame_at(Point p);
  // One frame with the left button down at p, let go after it.
  std::optional<GameError> click(Point p);
  // One frame with the key down, let go after it.
  std::optional<GameError> key(std::int32_t code);

  // The loops end at the first error (false) and, as the programs do, once
  // the game has quit.
  // Up to n frames.
  bool frames(int n);
  // Frames until the state is reached, at most limit; true when it was.
  bool run_until(std::uint8_t state, int limit);
  // Up to n frames of play with the scripted hand chasing the live target.
  bool chase(int n);
  // Up to n frames of play with the hand jerked away to tear the string.
  bool tear(int n);

  const ScriptedHand& hand() const { return hand_; }

 private:
  MemoryHost& host_;
  TGame game_;
  ScriptedHand hand_;
  std::vector<std::uint8_t> visited_;
};

}  // namespace zt
