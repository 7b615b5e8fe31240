// What decoding the game's data may cost, the same in both programs. The
// generated data decode to about 0.6 MB of pictures and 0.1 MB of sound;
// the bounds leave ample room for other data sets while a small archive can
// no longer claim gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zt {

// One archive member, decoded (or copied, for a plain archive).
inline constexpr std::size_t kQdaMaxMember = std::size_t{16} << 20;
// All the members loaded from one archive, together.
inline constexpr std::size_t kQdaMaxArchive = std::size_t{32} << 20;

// A sprite sheet: the largest the game cuts is 500 x 320 pixels.
inline constexpr std::int64_t kSheetMaxSide = 4096;
inline constexpr std::int64_t kSheetMaxPixels = std::int64_t{4} << 20;

constexpr bool sheet_size_fits(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kSheetMaxSide && height <= kSheetMaxSide &&
         width * height <= kSheetMaxPixels;
}

// A sound effect: the game's last under a second. Rates outside the range
// are no sound anyone recorded for a game.
inline constexpr std::uint32_t kClipMinRate = 1000;
inline constexpr std::uint32_t kClipMaxRate = 192000;
inline constexpr std::uint32_t kClipMaxSeconds = 30;
// The sample bytes of the longest clip once it is 44.1 kHz stereo 32-bit
// float, the Linux program's mix format. The Windows program holds a clip in
// its own format, in a buffer no larger than the member it came from.
inline constexpr std::size_t kClipMaxBytes = std::size_t{kClipMaxSeconds} * 44100 * 2 * 4;

// Whether `frames` sample frames at `rate` Hz are a clip the programs play.
constexpr bool clip_fits(std::uint32_t rate, std::uint64_t frames) {
  return rate >= kClipMinRate && rate <= kClipMaxRate &&
         frames <= std::uint64_t{kClipMaxSeconds} * rate;
}

}  // namespace zt
