// The tests' one way into TGame: the objects and fields a test sets up
// directly, which the game itself only changes through its frames.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "game/ugame.h"

namespace zt {

struct TGameProbe {
  static PlayFields& play(TGame& g) { return g.play_; }
  static TConfig& settings(TGame& g) { return g.settings_; }
  static TPend& pend(TGame& g) { return g.pend_; }
  static TSlotSet& slots(TGame& g) { return g.slots_; }
  static TAllTexts& texts(TGame& g) { return g.texts_; }
  static TFragments& fragments(TGame& g) { return g.fragments_; }
  static std::optional<TGravityChanger>& gravity_changer(TGame& g) { return g.gravity_changer_; }
  static TRnd& rnd(TGame& g) { return g.rnd_; }
  static THiScore& hiscore(TGame& g) { return g.hiscore_; }
  static TRecorder& recorder(TGame& g) { return g.recorder_; }
  static std::uint32_t& random_state(TGame& g) { return g.random_state_; }
  static std::array<RecHeaderRaw, TGame::kSlotCount>& slot_headers(TGame& g) {
    return g.slot_headers_;
  }
  static std::int32_t& banner_frame_counter(TGame& g) { return g.banner_frame_counter_; }
  static std::uint8_t& slot_mode(TGame& g) { return g.slot_mode_; }
  static std::int32_t& background_scroll(TGame& g) { return g.background_scroll_; }
};

}  // namespace zt
