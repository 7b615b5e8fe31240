// The core's one boundary to the world. Everything the game draws, shows,
// hears, reads from the input devices or asks of the clock goes through Host;
// replay files through RecorderIo, the check for song files through KbgmSink,
// and music through the host's BgmBackend.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zt {

// A surface the host owns. Bits 0-7 kind; bits 8-15 the sheet number of kind
// 3; bits 32-63 the scratch serial of kind 4.
using SurfaceId = std::uint64_t;

enum SurfaceKind : std::uint8_t {
  kKindFrame = 0,    // the 320 x 240 frame that present shows
  kKindPicture = 1,  // where the core loads a bitmap only for its palette
  kKindPresent = 2,  // the target of the frame's final scaled copy
  kKindSheet = 3,    // sprite sheet 1 to 20
  kKindScratch = 4,  // created by create_scratch
};

// The field the game plays on, and so the frame, in pixels.
inline constexpr std::int32_t kFieldWidth = 320;
inline constexpr std::int32_t kFieldHeight = 240;

constexpr SurfaceId kFrame = kKindFrame;
constexpr SurfaceId kPicture = kKindPicture;
constexpr SurfaceId kPresent = kKindPresent;

constexpr std::uint8_t surface_kind(SurfaceId id) {
  return static_cast<std::uint8_t>(id & 0xFF);
}
constexpr std::uint8_t sheet_number(SurfaceId id) {
  return static_cast<std::uint8_t>((id >> 8) & 0xFF);
}
constexpr std::uint32_t scratch_serial(SurfaceId id) {
  return static_cast<std::uint32_t>(id >> 32);
}
constexpr SurfaceId sheet_id(int n) {
  return kKindSheet | (static_cast<SurfaceId>(n & 0xFF) << 8);
}
constexpr SurfaceId scratch_id(std::uint32_t serial) {
  return kKindScratch | (static_cast<SurfaceId>(serial) << 32);
}
// Only the kind and the field that belongs to it are compared.
constexpr bool same_surface(SurfaceId a, SurfaceId b) {
  if (surface_kind(a) != surface_kind(b)) return false;
  if (surface_kind(a) == kKindSheet) return sheet_number(a) == sheet_number(b);
  if (surface_kind(a) == kKindScratch) return scratch_serial(a) == scratch_serial(b);
  return true;
}

// Sprite sheets, numbered as the host loads them from "images.qda".
enum Sheet : int {
  kSheetBall = 1,
  kSheetHand,
  kSheetLogo,
  kSheetTitle,
  kSheetTitleBg,
  kSheetMenuIcon,
  kSheetTarget,
  kSheetNext2,
  kSheetFragments,
  kSheetFont,
  kSheetScore,
  kSheetNumber,
  kSheetJudge,
  kSheetPfont,
  kSheetGravityX,
  kSheetGravityH,
  kSheetGauge,
  kSheetRank,
  kSheetField,
  kSheetGameOver,
};
constexpr int kSheetCount = 20;
// Bitmap names, index n - 1 for sheet n.
inline constexpr std::array<std::string_view, kSheetCount> kSheetNames = {
    "ball.bmp",     "hand.bmp",   "logo.bmp",  "title.bmp",     "titlebg.bmp",
    "MenuIcon.bmp", "target.bmp", "next2.bmp", "fragments.bmp", "font.bmp",
    "score.bmp",    "number.bmp", "judge.bmp", "pfont.bmp",     "gravityx.bmp",
    "gravityh.bmp", "gauge.bmp",  "rank.bmp",  "field.bmp",     "gameover.bmp"};
// "title.bmp" is keyed on 255 with its keyed flag set; every other sheet on 0.
constexpr int sheet_colour_key(int n) {
  return n == kSheetTitle ? 255 : 0;
}

// How the game cuts a sheet: its size, and unless it is one picture, cells of
// cell_width x cell_height in rows of `columns`.
struct SheetLayout {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t columns = 0;  // 0: the whole sheet is one cell
  std::int32_t cell_width = 0;
  std::int32_t cell_height = 0;
};
// Index n - 1 for sheet n, as kSheetNames.
inline constexpr std::array<SheetLayout, kSheetCount> kSheetLayouts = {{
    {128, 256, 1, 128, 128},  // ball
    {11, 11, 0, 0, 0},        // hand
    {219, 148, 0, 0, 0},      // logo
    {300, 100, 1, 300, 50},   // title
    {320, 240, 0, 0, 0},      // titlebg
    {320, 32, 10, 32, 32},    // MenuIcon
    {480, 72, 20, 24, 24},    // target
    {480, 72, 20, 24, 24},    // next2
    {90, 54, 5, 18, 18},      // fragments
    {288, 36, 24, 12, 12},    // font
    {90, 48, 10, 9, 12},      // score
    {400, 40, 10, 40, 40},    // number
    {60, 150, 1, 60, 30},     // judge
    {55, 8, 11, 5, 8},        // pfont
    {250, 120, 5, 50, 60},    // gravityx
    {250, 120, 5, 50, 60},    // gravityh
    {300, 30, 1, 300, 15},    // gauge
    {500, 320, 5, 100, 80},   // rank
    {160, 320, 1, 160, 160},  // field
    {300, 120, 1, 300, 40},   // gameover
}};
constexpr const SheetLayout& sheet_layout(int n) {
  return kSheetLayouts[static_cast<std::size_t>(n - 1)];
}

// 256 entries of red, green, blue and a fourth byte carried along unchanged.
using Palette = std::array<std::uint8_t, 1024>;

// Windows virtual-key codes that the core reads or clears.
enum Key : int {
  kKeyLButton = 1,
  kKeyRButton = 2,
  kKeyMButton = 4,
  kKeyShift = 16,  // read by the hosts' main loops only
  kKeyEsc = 27,
  kKeyC = 67,
  kKeyP = 80,
  kKeyQ = 81,
  kKeyR = 82,
  kKeyS = 83,
};

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// Replay files, one at a time. Every operation that can fail answers
// "failed" (true on failure) or nothing, never an error text.
class RecorderIo {
 public:
  virtual ~RecorderIo() = default;
  virtual bool file_exists(std::int32_t slot) = 0;
  // Opens the existing file for reading and writing at position 0, or for
  // reading only when it may be read but not written; never creates.
  virtual bool open_for_read(std::int32_t slot) = 0;
  // Whether the file that open_for_read opened may only be read.
  virtual bool read_only() const = 0;
  virtual bool seek_from_end(std::int64_t offset) = 0;
  // Creates the directory if needed and opens a new, empty file for the slot;
  // the slot's old file stays in place until commit.
  virtual bool open_for_write(std::int32_t slot) = 0;
  virtual bool seek_from_start(std::int64_t offset) = 0;
  // Exactly length bytes, or nothing on a short read, an error or no open file.
  virtual std::optional<std::vector<std::uint8_t>> read(std::size_t length) = 0;
  // Closes the open file; a file opened by open_for_write and not committed is
  // dropped, and the slot keeps its old file.
  virtual void close() = 0;
  virtual bool write(const std::vector<std::uint8_t>& bytes) = 0;
  // Closes the file opened by open_for_write and puts it in the slot's place
  // in one step. On failure the slot keeps its old file.
  virtual bool commit() = 0;
};

// The check for song files ("title.mid", "stage.mid") in the data directory.
class KbgmSink {
 public:
  virtual ~KbgmSink() = default;
  virtual bool file_exists(std::string_view name) = 0;
};

// The music backend that TBgm drives. Handles are positive numbers given out
// by load_file; fade times are whole seconds.
class BgmBackend {
 public:
  virtual ~BgmBackend() = default;
  virtual std::int32_t open(std::int32_t a, std::int32_t b) = 0;  // 0 success
  virtual void send_sysx(std::int32_t n) = 0;
  virtual void stop() = 0;
  virtual void init(std::int32_t handle) = 0;
  virtual std::int32_t play(std::int32_t handle, bool repeat) = 0;  // 0 started, 1 failed
  virtual void fade_in(std::int32_t handle, std::int32_t seconds) = 0;
  virtual void fade_out(std::int32_t handle, std::int32_t seconds) = 0;
  virtual void set_volume(std::int32_t handle, std::int32_t volume) = 0;
  virtual void set_repeat(std::int32_t handle, std::int32_t a, std::int32_t b) = 0;
  virtual bool fade_out_active() = 0;
  virtual std::int32_t load_file(std::string_view file_name) = 0;  // 0 on failure
  virtual void pump() = 0;
};

// Everything else the core reaches: drawing on surfaces the host owns, the
// display, input, clocks, sound effects and music. All calls come from the
// thread that runs the game frames.
class Host : public RecorderIo, public KbgmSink {
 public:
  ~Host() override = default;

  // Drawing. A rectangle is x, y, width, height; the colour key belongs to
  // the source surface, keyed sets the source's keyed flag.
  virtual void dd_pixelate(SurfaceId id, std::int32_t block) = 0;
  virtual void dd_blit_rect(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                            std::int32_t w, std::int32_t h, std::int32_t dx, std::int32_t dy,
                            bool keyed) = 0;
  virtual void dd_fill_rect(SurfaceId id, std::int32_t x, std::int32_t y, std::int32_t w,
                            std::int32_t h, std::uint8_t colour) = 0;
  virtual void free_surface(SurfaceId id) = 0;
  virtual Size surface_size(SurfaceId id) = 0;  // (0, 0) for no surface
  virtual SurfaceId create_scratch(std::int32_t w, std::int32_t h) = 0;
  virtual void dd_blit_rect_to(SurfaceId dst, SurfaceId src, std::int32_t sx, std::int32_t sy,
                               std::int32_t sw, std::int32_t sh, std::int32_t dx, std::int32_t dy,
                               std::int32_t dw, std::int32_t dh, bool keyed) = 0;
  virtual std::optional<Palette> load_named_into(SurfaceId id, std::string_view name) = 0;
  virtual void realize_palette(const Palette& palette) = 0;
  virtual bool save_screenshot(SurfaceId id, const Palette& palette, std::int32_t n) = 0;
  // A surface whose memory the display took away keeps no picture until it
  // is restored; hosts that never lose surfaces keep this answer.
  virtual bool surface_lost(SurfaceId) { return false; }
  virtual void dd_plot(SurfaceId id, std::int32_t x, std::int32_t y, std::uint8_t colour) = 0;
  virtual void present() = 0;
  virtual double now_datetime() = 0;  // days since 1899-12-30, local time

  // Input and clocks.
  virtual bool key_down(std::int32_t code) = 0;
  virtual void clear_key(std::int32_t code) = 0;
  virtual Point mouse_pos() = 0;
  virtual void warp_mouse(std::int32_t x, std::int32_t y) = 0;
  virtual std::uint32_t now_ms() = 0;

  // Sound effects by bare name ("bound", "select", ...) and music.
  virtual void play_sound(std::string_view name, std::int32_t priority) = 0;
  virtual BgmBackend& bgm() = 0;

  RecorderIo& recorder_io() { return *this; }
  KbgmSink& kbgm_sink() { return *this; }
};

// Fills everything of a surface outside a centred window with one colour:
// the opening iris on the frame, the closing one on a sprite copy.
void mask_outside(Host& host, SurfaceId id, std::int32_t window_width, std::int32_t window_height,
                  std::uint8_t colour);

}  // namespace zt
