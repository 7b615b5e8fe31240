// WAV members come from "sounds.qda": any bytes must decode or be refused
// without SDL taking more than the bytes warrant, and a clip that passes the
// bounds converts to no more sound than its length says, never more than the
// longest clip there may be.
#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <span>
#include <vector>

#include "audio.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) return 0;
  std::vector<std::uint8_t> wav(data, data + size);
  if (!zt::wav_for_sdl(wav)) return 0;
  SDL_RWops* rw = SDL_RWFromConstMem(wav.data(), static_cast<int>(wav.size()));
  if (rw == nullptr) return 0;
  SDL_AudioSpec spec{};
  Uint8* buf = nullptr;
  Uint32 len = 0;
  if (SDL_LoadWAV_RW(rw, 1, &spec, &buf, &len) == nullptr) return 0;
  // SDL's samples come from the bytes there are: 4-bit ADPCM grows fourfold.
  if (len > 4 * size + 64) std::abort();
  const zt::AudioSpec source{spec.format, spec.channels, spec.freq};
  if (!zt::clip_refusal(source, len)) {
    const auto mix = zt::convert_to_mix(source, std::span<const std::uint8_t>(buf, len));
    if (mix) {
      const std::uint64_t frame = std::uint64_t{SDL_AUDIO_BITSIZE(spec.format) / 8u} *
                                  (spec.channels == 0 ? 1u : spec.channels);
      const std::uint64_t frames = len / frame;
      // The length check judges the clip by what its conversion produces.
      const std::uint64_t expected = frames * 44100 / static_cast<std::uint64_t>(spec.freq) + 2;
      if (mix->size() / zt::kMixFrameBytes > expected || mix->size() > zt::kClipMaxBytes) {
        std::abort();
      }
    }
  }
  SDL_FreeWAV(buf);
  return 0;
}
