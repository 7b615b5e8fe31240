#include "sounds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "rng.h"

namespace zt::mkdata {
namespace {

constexpr double kTau = 2 * std::numbers::pi;
constexpr double kRate = kSampleRate;

// The peak of each effect. Every voice is mixed at full gain, and a perfect
// hit at full stretch against a wall starts explosion1, cutwarn and bound in
// one frame, with earlier hits still ringing and the music (peaks near
// -9.5 dBFS) under them: these levels keep such a mix below full scale. The
// hits lead; the warning and the wall's knock, the most frequent effect, sit
// below them; "select" sounds over the menus' music only.
constexpr double kPeakGravityChange = 0.38;
constexpr double kPeakExplosion = 0.34;
constexpr double kPeakBound = 0.14;
constexpr double kPeakSelect = 0.45;
constexpr double kPeakCutWarn = 0.20;
constexpr double kPeakDestroyPlain = 0.30;
constexpr double kPeakDestroyGood = 0.32;

using Buffer = std::vector<float>;

Buffer silence(double seconds) {
  return Buffer(static_cast<std::size_t>(seconds * kRate), 0.f);
}

// Attack-decay envelope: linear rise over `attack` seconds, then exponential
// fall with the given time constant, and a short fade at the very end.
double envelope(double t, double length, double attack, double decay) {
  const double rise = attack > 0 ? std::min(1.0, t / attack) : 1.0;
  const double fall = std::exp(-std::max(0.0, t - attack) / decay);
  const double tail = std::min(1.0, (length - t) / 0.005);
  return rise * fall * std::max(0.0, tail);
}

// A tone whose frequency slides exponentially from f0 to f1 over the clip.
void add_sweep(Buffer& b, double f0, double f1, double gain, double attack, double decay,
               double start = 0.0, double shape = 0.0) {
  const double length = b.size() / kRate;
  double phase = 0;
  for (std::size_t i = static_cast<std::size_t>(start * kRate); i < b.size(); ++i) {
    const double t = i / kRate - start;
    const double span = length - start;
    const double f = f0 * std::pow(f1 / f0, t / span);
    phase += f / kRate;
    double s = std::sin(kTau * phase);
    // shape > 0 adds odd harmonics toward a soft square.
    if (shape > 0) s = std::tanh(s * (1 + 6 * shape)) / std::tanh(1 + 6 * shape);
    b[i] += static_cast<float>(gain * s * envelope(t, span, attack, decay));
  }
}

// White noise through a one-pole low-pass whose cut-off slides from c0 to c1 (Hz).
void add_noise(Buffer& b, Rng& rng, double c0, double c1, double gain, double attack, double decay,
               double start = 0.0) {
  const double length = b.size() / kRate;
  double y = 0, y2 = 0;
  for (std::size_t i = static_cast<std::size_t>(start * kRate); i < b.size(); ++i) {
    const double t = i / kRate - start;
    const double span = length - start;
    const double c = c0 * std::pow(c1 / c0, t / span);
    const double a = 1 - std::exp(-kTau * c / kRate);
    y += a * (rng.signed_unit() - y);
    y2 += a * (y - y2);
    b[i] += static_cast<float>(gain * 2.5 * y2 * envelope(t, span, attack, decay));
  }
}

void normalize(Buffer& b, double peak) {
  float m = 0;
  for (float s : b) m = std::max(m, std::abs(s));
  if (m > 0)
    for (float& s : b) s = static_cast<float>(s * peak / m);
}

Buffer gravity_change() {
  Buffer b = silence(0.85);
  Rng rng(71);
  // A rising then falling whoosh with a warble.
  double phase = 0;
  const double length = b.size() / kRate;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = i / kRate;
    const double arc = std::sin(std::numbers::pi * t / length);
    const double f = 220 + 700 * arc + 40 * std::sin(kTau * 14 * t);
    phase += f / kRate;
    b[i] += static_cast<float>(0.5 * std::sin(kTau * phase) * arc * envelope(t, length, 0.02, 2.0));
    b[i] += static_cast<float>(0.25 * std::sin(kTau * phase * 1.5) * arc * arc);
  }
  add_noise(b, rng, 600, 3000, 0.25, 0.3, 0.4);
  normalize(b, kPeakGravityChange);
  return b;
}

Buffer explosion() {
  Buffer b = silence(0.9);
  Rng rng(72);
  add_noise(b, rng, 5000, 200, 1.0, 0.003, 0.22);
  add_sweep(b, 120, 40, 0.7, 0.002, 0.18);
  // A bright chime on top for the best grade.
  add_sweep(b, 1568, 1568, 0.18, 0.002, 0.25, 0.02);
  add_sweep(b, 2093, 2093, 0.14, 0.002, 0.25, 0.08);
  add_sweep(b, 2637, 2637, 0.12, 0.002, 0.3, 0.14);
  normalize(b, kPeakExplosion);
  return b;
}

Buffer bound() {
  Buffer b = silence(0.12);
  add_sweep(b, 320, 140, 0.8, 0.002, 0.04);
  Rng rng(73);
  add_noise(b, rng, 2500, 800, 0.15, 0.001, 0.01);
  normalize(b, kPeakBound);
  return b;
}

Buffer select_blip() {
  Buffer b = silence(0.13);
  Buffer hi = silence(0.13);
  add_sweep(b, 880, 880, 0.6, 0.001, 0.03, 0.0, 0.5);
  add_sweep(hi, 1320, 1320, 0.6, 0.001, 0.04, 0.045, 0.5);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] += hi[i];
  normalize(b, kPeakSelect);
  return b;
}

Buffer cut_warn() {
  Buffer b = silence(0.32);
  for (int k = 0; k < 2; ++k) {
    Buffer pulse = silence(0.32);
    add_sweep(pulse, 1050, 1000, 0.6, 0.002, 0.05, 0.14 * k, 0.8);
    for (std::size_t i = 0; i < b.size(); ++i) {
      const double t = i / kRate - 0.14 * k;
      if (t >= 0 && t < 0.11) b[i] += pulse[i];
    }
  }
  normalize(b, kPeakCutWarn);
  return b;
}

Buffer destroy_plain() {
  Buffer b = silence(0.18);
  Rng rng(74);
  add_noise(b, rng, 4000, 600, 0.8, 0.001, 0.04);
  add_sweep(b, 600, 180, 0.6, 0.001, 0.05);
  normalize(b, kPeakDestroyPlain);
  return b;
}

Buffer destroy_good() {
  Buffer b = silence(0.35);
  Rng rng(75);
  add_noise(b, rng, 6000, 900, 0.7, 0.001, 0.06);
  add_sweep(b, 700, 220, 0.5, 0.001, 0.07);
  add_sweep(b, 1319, 1319, 0.2, 0.002, 0.12, 0.03);
  add_sweep(b, 1760, 1760, 0.16, 0.002, 0.14, 0.07);
  normalize(b, kPeakDestroyGood);
  return b;
}

void put16(std::vector<std::uint8_t>& o, std::uint16_t v) {
  o.push_back(static_cast<std::uint8_t>(v));
  o.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& o, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) o.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put_tag(std::vector<std::uint8_t>& o, const char* t) {
  for (int i = 0; i < 4; ++i) o.push_back(static_cast<std::uint8_t>(t[i]));
}

}  // namespace

std::vector<std::uint8_t> wav_bytes(const std::vector<float>& samples, int rate) {
  const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<std::uint8_t> o;
  o.reserve(44 + data);
  put_tag(o, "RIFF");
  put32(o, 36 + data);
  put_tag(o, "WAVE");
  put_tag(o, "fmt ");
  put32(o, 16);
  put16(o, 1);  // PCM
  put16(o, 1);  // mono
  put32(o, static_cast<std::uint32_t>(rate));
  put32(o, static_cast<std::uint32_t>(rate * 2));
  put16(o, 2);
  put16(o, 16);
  put_tag(o, "data");
  put32(o, data);
  for (float s : samples) {
    const long v = std::lround(std::clamp(s, -1.f, 1.f) * 32767.0);
    put16(o, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
  }
  return o;
}

std::vector<Clip> build_clips() {
  return {
      {"gravitychange.wav", wav_bytes(gravity_change(), kSampleRate)},
      {"explosion1.wav", wav_bytes(explosion(), kSampleRate)},
      {"bound.wav", wav_bytes(bound(), kSampleRate)},
      {"select.wav", wav_bytes(select_blip(), kSampleRate)},
      {"cutwarn.wav", wav_bytes(cut_warn(), kSampleRate)},
      {"destroy0.wav", wav_bytes(destroy_plain(), kSampleRate)},
      {"destroy1.wav", wav_bytes(destroy_good(), kSampleRate)},
  };
}

}  // namespace zt::mkdata
