// The sound effects, synthesized, as canonical PCM WAV files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zt::mkdata {

inline constexpr int kSampleRate = 22050;

struct Clip {
  std::string name;  // member name in the archive
  std::vector<std::uint8_t> wav;
};

// The seven effects the game plays.
std::vector<Clip> build_clips();

// A 16-bit mono WAV with the 44-byte header; samples in [-1, 1] are clipped.
std::vector<std::uint8_t> wav_bytes(const std::vector<float>& samples, int rate);

}  // namespace zt::mkdata
