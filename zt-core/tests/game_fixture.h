// Helpers for the tests that run the game's screens and plays headless.
#pragma once

#include <cstdint>
#include <vector>

#include "game/ugame.h"
#include "memory_host.h"
#include "tgame_probe.h"

namespace zt::testing_game {

// Every sheet painted with a pattern of its own, so that each drawing shows
// in the frame and so in its hash. Colour 0 stays the key.
inline BitmapLibrary painted_library() {
  BitmapLibrary lib = blank_library();
  std::uint32_t sheet = 0;
  for (NamedBitmap& b : lib) {
    ++sheet;
    for (std::int32_t y = 0; y < b.surface.height; ++y) {
      for (std::int32_t x = 0; x < b.surface.width; ++x) {
        const std::uint32_t v = (sheet * 37u + static_cast<std::uint32_t>(x * 3 + y * 5)) % 250u;
        b.surface.at(x, y) = static_cast<std::uint8_t>(v + 1);
      }
    }
  }
  return lib;
}

// Runs frames until the state is `state` or `limit` frames have passed;
// true when it was reached.
inline bool run_until(TGame& game, MemoryHost& host, std::uint8_t state, int limit) {
  for (int i = 0; i < limit && game.state() != state; ++i) {
    if (game.step_frame(host)) return false;
  }
  return game.state() == state;
}

// A click: the left button as the host records a press.
inline void click(MemoryHost& host, std::int32_t x, std::int32_t y) {
  host.set_pointer(x, y);
  host.press(kKeyLButton);
}

// Where the ball will be after the next play frame with the hand at the
// pointer: the pendulum's own step on a copy.
inline Point ball_after_step(TGame& game, MemoryHost& host) {
  TPend p = game.pend();
  const Point hand = game.pointer_pos(host);
  p.set_hand(hand.x, hand.y);
  MemoryHost quiet;
  p.step(game.play().gravity, game.play().collision_constant, game.settings().ball_mass,
         game.settings().experiment, quiet);
  return {p.ball_x(), p.ball_y()};
}

// Moves every target onto the spot the ball reaches next frame, so that the
// next play frame hits the live target (of the given kind).
inline void aim_targets_at_ball(TGame& game, MemoryHost& host, std::uint8_t kind = kTargetPlain) {
  const Point b = ball_after_step(game, host);
  TGameProbe::slots(game) = TSlotSet{};
  for (int i = 0; i < 3; ++i) TGameProbe::slots(game).push(b, kind, {0, 0});
}

// Moves every target far from the ball's side of the field.
inline void park_targets(TGame& game) {
  TGameProbe::slots(game) = TSlotSet{};
  for (int i = 0; i < 3; ++i) TGameProbe::slots(game).push({30, 30}, kTargetPlain, {0, 0});
}

// A finished replay file: the header, the seed frame, the points, the end frame.
inline std::vector<std::uint8_t> replay_file(const RecHeaderRaw& header, std::int32_t seed,
                                             const std::vector<Frame>& points) {
  std::vector<std::uint8_t> bytes;
  const auto h = header.encode();
  bytes.insert(bytes.end(), h.begin(), h.end());
  std::vector<Frame> frames{{seed, 0}};
  frames.insert(frames.end(), points.begin(), points.end());
  frames.push_back(Frame::end());
  for (const Frame& f : frames) {
    const auto raw = f.encode();
    bytes.insert(bytes.end(), raw.begin(), raw.end());
  }
  return bytes;
}

inline RecHeaderRaw header_of(const std::vector<std::uint8_t>& file) {
  return RecHeaderRaw::decode(
      std::span<const std::uint8_t, RecHeaderRaw::kSize>(file.data(), RecHeaderRaw::kSize));
}

inline Frame last_frame_of(const std::vector<std::uint8_t>& file) {
  return Frame::decode(std::span<const std::uint8_t, Frame::kSize>(
      file.data() + file.size() - Frame::kSize, Frame::kSize));
}

}  // namespace zt::testing_game
