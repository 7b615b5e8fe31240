// The one object of the game: it owns every game object, keeps a copy of the
// settings and runs the screens as a state machine of 12 states, one frame per
// call of step_frame. Everything it does to the outside goes through the Host
// handed to each call; it holds no surfaces, only their ids.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "formats/config.h"
#include "formats/hiscore.h"
#include "formats/recorder.h"
#include "game/glue.h"
#include "game/ugame_targets.h"
#include "game/uhiscore.h"
#include "game/umidi.h"
#include "game/upend.h"
#include "game/urandom.h"
#include "game/urecorder.h"
#include "game/utext.h"

namespace zt {

// The error a frame can end with.
enum class GameError : std::int32_t {
  Recording,   // reading or writing the replay file failed
  Screenshot,  // saving the screenshot failed
};
std::string_view text(GameError e);

enum GameState : std::uint8_t {
  kStateNone = 0,  // before the first switch, so that switching to 1 takes effect
  kStateLogo = 1,
  kStateTitle = 2,
  kStateOptions = 3,
  kStateSlots = 4,
  kStateIntro = 5,
  kStatePlay = 6,
  kStateLineCut = 7,
  kStateResult = 8,
  kStateNameEntry = 9,
  kStatePause = 10,
  kStateTop10 = 11,
  kStateExit = 12,
};

enum Align : std::int32_t { kAlignLeft = 0, kAlignRight = 1, kAlignCentre = 2 };

// sin(2 pi i / 256) * 1024, rounded to nearest. Written out so that every
// program gets the same numbers whatever its maths library.
// clang-format off
inline constexpr std::array<std::int32_t, 256> kSineTable = {
        0,    25,    50,    75,   100,   125,   150,   175,  // 0
      200,   224,   249,   273,   297,   321,   345,   369,  // 8
      392,   415,   438,   460,   483,   505,   526,   548,  // 16
      569,   590,   610,   630,   650,   669,   688,   706,  // 24
      724,   742,   759,   775,   792,   807,   822,   837,  // 32
      851,   865,   878,   891,   903,   915,   926,   936,  // 40
      946,   955,   964,   972,   980,   987,   993,   999,  // 48
     1004,  1009,  1013,  1016,  1019,  1021,  1023,  1024,  // 56
     1024,  1024,  1023,  1021,  1019,  1016,  1013,  1009,  // 64
     1004,   999,   993,   987,   980,   972,   964,   955,  // 72
      946,   936,   926,   915,   903,   891,   878,   865,  // 80
      851,   837,   822,   807,   792,   775,   759,   742,  // 88
      724,   706,   688,   669,   650,   630,   610,   590,  // 96
      569,   548,   526,   505,   483,   460,   438,   415,  // 104
      392,   369,   345,   321,   297,   273,   249,   224,  // 112
      200,   175,   150,   125,   100,    75,    50,    25,  // 120
        0,   -25,   -50,   -75,  -100,  -125,  -150,  -175,  // 128
     -200,  -224,  -249,  -273,  -297,  -321,  -345,  -369,  // 136
     -392,  -415,  -438,  -460,  -483,  -505,  -526,  -548,  // 144
     -569,  -590,  -610,  -630,  -650,  -669,  -688,  -706,  // 152
     -724,  -742,  -759,  -775,  -792,  -807,  -822,  -837,  // 160
     -851,  -865,  -878,  -891,  -903,  -915,  -926,  -936,  // 168
     -946,  -955,  -964,  -972,  -980,  -987,  -993,  -999,  // 176
    -1004, -1009, -1013, -1016, -1019, -1021, -1023, -1024,  // 184
    -1024, -1024, -1023, -1021, -1019, -1016, -1013, -1009,  // 192
    -1004,  -999,  -993,  -987,  -980,  -972,  -964,  -955,  // 200
     -946,  -936,  -926,  -915,  -903,  -891,  -878,  -865,  // 208
     -851,  -837,  -822,  -807,  -792,  -775,  -759,  -742,  // 216
     -724,  -706,  -688,  -669,  -650,  -630,  -610,  -590,  // 224
     -569,  -548,  -526,  -505,  -483,  -460,  -438,  -415,  // 232
     -392,  -369,  -345,  -321,  -297,  -273,  -249,  -224,  // 240
     -200,  -175,  -150,  -125,  -100,   -75,   -50,   -25,  // 248
};
// clang-format on

// The entry for any k, taken modulo 256 (also for a negative or wrapped k).
constexpr std::int32_t sine_at(std::int64_t k) {
  return kSineTable[static_cast<std::size_t>(static_cast<std::uint64_t>(k) & 255u)];
}

// The bitmap font's characters in cell order.
inline constexpr std::string_view kFontChars =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ&-!?(),./:edtrpxz";

// A date-time (days since 1899-12-30) as "yyyy/mm/dd" and "hh:nn:ss"; one
// outside the shown range (formats/date_time.h) as kNoDateText and
// kNoTimeText.
struct DateTimeText {
  std::string date;
  std::string time;
  friend bool operator==(const DateTimeText&, const DateTimeText&) = default;
};
DateTimeText format_tdatetime(double d);

// The fields of a play, set at its start and read by the picture and the
// result screens.
struct PlayFields {
  std::int64_t score = 0;
  std::int64_t shown_score = 0;
  std::int32_t combo = 0;
  std::int32_t max_combo = 0;
  std::int32_t combo_timer = 0;
  std::int32_t frames_since_hit = 0;  // not reset at the start of a play
  std::int32_t perfect_streak = 0;
  std::int32_t perfect_timer = 0;
  std::array<std::int32_t, 5> destroyed{};  // hits per judge class
  std::int32_t gauge = 2000;
  std::int32_t play_frame = 0;
  std::int32_t table_rank = -1;
  bool name_known = false;
  std::int32_t seed = 0;
  bool demonstration = false;
  bool replaying = false;
  double gravity = 0.0;  // the gravity changer flips its sign
  double collision_constant = 0.0;

  // Every target hit, whatever its judgement.
  std::int32_t destroyed_total() const {
    std::int32_t n = 0;
    for (const std::int32_t d : destroyed) n += d;
    return n;
  }
};

class TGame {
 public:
  static constexpr std::size_t kSlotCount = 10;

  // Builds the object; it loads no score file, opens no music and sets no
  // state: the host does that next.
  static TGame create(const TConfig& settings);

  // One frame: counters, the handler of the current state, then the leave
  // keys and the screenshot key.
  std::optional<GameError> step_frame(Host& host);

  void set_state(std::uint8_t s, Host& host);
  void set_palette_level(std::int32_t level, Host& host);
  // The FPS overlay when asked for, the copy onto the presentation surface,
  // and the host's present.
  void present(Host& host);
  std::optional<GameError> save_screenshot(Host& host);

  // The pointer in field pixels, mapped from and to the screen's size.
  Point pointer_pos(Host& host) const;
  void warp_pointer(std::int32_t x, std::int32_t y, Host& host) const;

  // The score table: loaded once with the bytes of the score file; its bytes
  // when it was loaded and has changed, else nothing.
  HiScoreLoad hiscore_load(const std::optional<std::vector<std::uint8_t>>& bytes);
  std::optional<ScoreFileImage> hiscore_bytes();

  // Drawing onto the frame; alignment is an Align value.
  void draw_text(std::string_view text, std::int32_t x, std::int32_t y, std::int32_t alignment,
                 std::int32_t spacing, bool wave, std::int32_t counter, Host& host);
  void draw_big_text(std::string_view text, std::int32_t x, std::int32_t y, std::int32_t alignment,
                     std::int32_t spacing, bool wave, std::int32_t counter, Host& host);
  // May raise the setting ScoreNumOfDigits to the value's length.
  void draw_number(std::int32_t x, std::int32_t y, std::int32_t alignment, std::int32_t counter,
                   bool wave, std::int64_t value, Host& host);
  void draw_background(std::int32_t tile, Host& host);
  void draw_line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                 std::uint8_t colour, Host& host);
  // The play picture of the play, the line cut and the pause.
  void draw_play(Host& host);
  static std::uint8_t stretch_colour(std::int32_t percent);

  // Plays. start_play's mode: 0 plain, 1 replay of the slot, 2 recording into
  // it; demonstration marks the title screen's replay.
  static constexpr std::int32_t kModePlain = 0;
  static constexpr std::int32_t kModeReplay = 1;
  static constexpr std::int32_t kModeRecord = 2;
  void start_play(std::int32_t mode, std::int32_t slot, bool demonstration, Host& host);
  // 0..19 from the score of the play.
  std::int32_t rank_index() const;
  static std::int32_t rank_index_of(std::int64_t score);
  // 0..4 from a stretch percent.
  static std::int32_t judge(std::int32_t percent);

  std::uint8_t state() const { return state_; }
  std::uint8_t previous_state() const { return previous_state_; }
  std::int32_t frame_counter() const { return frame_counter_; }
  std::int32_t banner_frame_counter() const { return banner_frame_counter_; }
  std::int32_t fps_shown() const { return fps_shown_; }
  std::int32_t fps_frames() const { return fps_frames_; }
  std::int32_t screenshot_number() const { return screenshot_number_; }
  std::int32_t back_colour() const { return back_colour_; }
  Size screen_size() const { return {screen_width_, screen_height_}; }
  // The Windows program presents on a display mode of its own size.
  void set_screen_size(std::int32_t w, std::int32_t h);
  const Palette& base_palette() const { return base_palette_; }
  const Palette& shown_palette() const { return shown_palette_; }
  std::uint8_t slot_mode() const { return slot_mode_; }
  const std::array<RecHeaderRaw, kSlotCount>& slot_headers() const { return slot_headers_; }
  bool quit() const { return quit_; }
  // The runtime generator: the Windows program seeds it once at start-up.
  std::uint32_t random_state() const { return random_state_; }
  void seed_random(std::uint32_t state) { random_state_ = state; }
  const TConfig& settings() const { return settings_; }
  // The option flags, as a host that vets the options screen's choices sets them back.
  void set_option_flags(std::uint8_t flags) { settings_.flags = flags; }
  bool flag(std::uint8_t bit) const { return (settings_.flags & bit) != 0; }
  const std::string& player_name() const { return player_name_; }
  void set_player_name(std::string name) { player_name_ = std::move(name); }
  std::int32_t background_scroll() const { return background_scroll_; }

  const PlayFields& play() const { return play_; }
  const TPend& pend() const { return pend_; }
  const TSlotSet& slots() const { return slots_; }
  const TAllTexts& texts() const { return texts_; }
  const TFragments& fragments() const { return fragments_; }
  const std::optional<TGravityChanger>& gravity_changer() const { return gravity_changer_; }
  const TRnd& rnd() const { return rnd_; }
  // The small generator as the Windows program makes it, before any play.
  void set_rnd(const TRnd& rnd) { rnd_ = rnd; }
  const THiScore& hiscore() const { return hiscore_; }
  const TRecorder& recorder() const { return recorder_; }
  // The host drives the music: on or off, the songs, the fade timer.
  TBgm& bgm() { return bgm_; }
  const TBgm& bgm() const { return bgm_; }

 private:
  // The tests' one way in (test support).
  friend struct TGameProbe;

  explicit TGame(const TConfig& settings);

  // The state handlers, run by step_frame only.
  std::optional<GameError> state_logo(Host& host);
  std::optional<GameError> state_title(Host& host);
  std::optional<GameError> state_options(Host& host);
  std::optional<GameError> state_slots(Host& host);
  std::optional<GameError> state_intro(Host& host);
  std::optional<GameError> state_play(Host& host);
  std::optional<GameError> state_line_cut(Host& host);
  std::optional<GameError> state_result(Host& host);
  std::optional<GameError> state_name_entry(Host& host);
  std::optional<GameError> state_pause(Host& host);
  std::optional<GameError> state_top10(Host& host);
  std::optional<GameError> state_exit(Host& host);

  // The first frame of the result: raises the highest rank, finishes the
  // recording or writes the replayed score back.
  std::optional<GameError> end_play(Host& host);
  // Draws from TRnd in a fixed order; a replay repeats them.
  Point target_velocity();
  Point target_position();
  // Drawn over the stage intro, the play and the line cut of the title
  // screen's demonstration; a click on it ends the demonstration.
  void draw_demo_banner(Host& host);

  std::optional<GameError> run_handler(Host& host);
  void load_palette(std::string_view name, Host& host);
  void draw_font_text(std::string_view text, std::int32_t x, std::int32_t y, std::int32_t alignment,
                      std::int32_t spacing, bool wave, std::int32_t counter, bool big, Host& host);
  void draw_gravity_changer(Host& host);
  void draw_combo(Host& host);
  void draw_texts(Host& host);
  // The left button, read and cleared in one step.
  static bool take_click(Host& host);
  // The hand point of one play or line-cut frame: recorded, or the pointer
  // (appended to a running recording).
  Point play_hand_point(Host& host);
  void draw_result(std::int32_t n, std::int32_t rank, Host& host);

  // Owned game objects.
  TPend pend_;
  TSlotSet slots_;
  TAllTexts texts_;
  TFragments fragments_;
  std::optional<TGravityChanger> gravity_changer_;
  TRnd rnd_{1, 1};
  THiScore hiscore_{"ZTScore.dat"};
  TRecorder recorder_;
  TBgm bgm_;

  std::uint8_t state_ = kStateNone;
  std::uint8_t previous_state_ = kStateNone;
  std::int32_t frame_counter_ = 1;
  std::int32_t banner_frame_counter_ = 1;
  std::uint64_t fps_second_ = 0;
  std::int32_t fps_frames_ = 0;
  std::int32_t fps_shown_ = 0;
  std::int32_t screenshot_number_ = 0;
  std::int32_t back_colour_ = 0;
  std::int32_t screen_width_ = kFieldWidth;
  std::int32_t screen_height_ = kFieldHeight;
  Palette base_palette_{};
  Palette shown_palette_{};
  std::uint8_t slot_mode_ = 0;
  std::array<RecHeaderRaw, kSlotCount> slot_headers_{};
  bool quit_ = false;
  std::uint32_t random_state_ = 0;
  TConfig settings_;
  std::string player_name_ = "ANONYMOUS";
  std::int32_t background_scroll_ = 0;
  PlayFields play_;
};

}  // namespace zt
