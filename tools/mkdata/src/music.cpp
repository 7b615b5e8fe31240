#include "music.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "rng.h"
#include "smf.h"

namespace zt::mkdata {
namespace {

constexpr std::uint32_t kQ = kTicksPerQuarter;
constexpr std::uint32_t kBar = 4 * kQ;
constexpr int kDrums = 9;  // channel 10

// General MIDI drum keys.
constexpr int kKick = 36, kSnare = 38, kSideStick = 37, kClosedHat = 42, kOpenHat = 46,
              kPedalHat = 44, kCrash = 49, kRide = 51, kShaker = 70, kTomLow = 45, kTomMid = 47;

struct Chord {
  int degree;  // 0-based scale degree of the root
};

struct Style {
  std::string name;
  int bpm;
  int tonic;                     // MIDI key of the tonic (octave of the melody)
  std::array<int, 7> scale;      // semitones above the tonic
  std::vector<int> progression;  // chord root degree per bar
  int lead_program, arp_program, pad_program, bass_program;
  bool driving;
  std::uint64_t seed;
};

int degree_key(const Style& s, int degree) {
  const int oct = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
  const int d = degree - 7 * oct;
  return s.tonic + 12 * oct + s.scale[static_cast<std::size_t>(d)];
}

bool chord_tone(int degree, int root) {
  const int d = ((degree - root) % 7 + 7) % 7;
  return d == 0 || d == 2 || d == 4;
}

void setup(MidiTrack& t, int ch, int program, int volume, int pan, int reverb) {
  const auto c = static_cast<std::uint8_t>(ch);
  t.channel(0, {static_cast<std::uint8_t>(0xB0 | c), 0, 0}, 0);
  t.channel(0, {static_cast<std::uint8_t>(0xC0 | c), static_cast<std::uint8_t>(program)}, 0);
  t.channel(0, {static_cast<std::uint8_t>(0xB0 | c), 7, static_cast<std::uint8_t>(volume)}, 0);
  t.channel(0, {static_cast<std::uint8_t>(0xB0 | c), 10, static_cast<std::uint8_t>(pan)}, 0);
  t.channel(0, {static_cast<std::uint8_t>(0xB0 | c), 91, static_cast<std::uint8_t>(reverb)}, 0);
}

// Rhythms of one bar in eighths (each sums to 8).
const std::vector<std::vector<int>> kCalmRhythms = {
    {2, 2, 4}, {3, 1, 2, 2}, {2, 1, 1, 4}, {4, 2, 2}, {2, 2, 2, 2}, {1, 1, 2, 4}, {6, 2}};
// In sixteenths (each sums to 16).
const std::vector<std::vector<int>> kDrivingRhythms = {{4, 2, 2, 4, 4},    {3, 3, 2, 4, 4},
                                                       {2, 2, 4, 2, 2, 4}, {4, 4, 2, 2, 4},
                                                       {6, 2, 4, 4},       {2, 2, 2, 2, 8}};

struct Note {
  std::uint32_t on, off;
  int key, vel;
};

// Phrases of four bars; phrase pattern A A' B A'' so the tune is recognisable.
std::vector<Note> melody(const Style& s, Rng& rng) {
  const int bars = static_cast<int>(s.progression.size());
  const auto& rhythms = s.driving ? kDrivingRhythms : kCalmRhythms;
  const std::uint32_t unit = s.driving ? kQ / 4 : kQ / 2;
  // Rhythm per bar of a phrase, for phrase shapes A and B.
  std::vector<int> shape_a, shape_b;
  for (int i = 0; i < 4; ++i) shape_a.push_back(rng.below(static_cast<int>(rhythms.size())));
  for (int i = 0; i < 4; ++i) shape_b.push_back(rng.below(static_cast<int>(rhythms.size())));
  std::vector<Note> out;
  int degree = 4;
  for (int bar = 0; bar < bars; ++bar) {
    const int phrase = (bar / 4) % 4;
    const int in_phrase = bar % 4;
    const bool last_bar = bar == bars - 1;
    const int root = s.progression[static_cast<std::size_t>(bar)];
    const std::vector<int>& rhythm =
        last_bar ? std::vector<int>{static_cast<int>(kBar / unit)}
                 : rhythms[static_cast<std::size_t>(
                       (phrase == 2 ? shape_b : shape_a)[static_cast<std::size_t>(in_phrase)])];
    // A fixed random stream per phrase shape and bar makes repeats repeat.
    Rng local(s.seed * 131 + static_cast<std::uint64_t>((phrase == 2 ? 100 : 0) + in_phrase +
                                                        (phrase == 3 && in_phrase == 3 ? 7 : 0)));
    std::uint32_t t = static_cast<std::uint32_t>(bar) * kBar;
    for (std::size_t k = 0; k < rhythm.size(); ++k) {
      const std::uint32_t len = static_cast<std::uint32_t>(rhythm[k]) * unit;
      const bool strong = (t % (2 * kQ)) == 0;
      int step = local.below(5) - 2;
      if (step == 0 && local.below(2)) step = 1;
      degree += step;
      if (degree < 0) degree += 2;
      if (degree > 9) degree -= 2;
      if (strong || k + 1 == rhythm.size())
        for (int tries = 0; tries < 3 && !chord_tone(degree, root); ++tries)
          degree += (degree > 5 ? -1 : 1);
      if (last_bar) degree = 7;
      // Rests now and then, never on the downbeat of a phrase.
      const bool rest = !last_bar && !(in_phrase == 0 && k == 0) && local.below(9) == 0;
      if (!rest) {
        const int vel = (strong ? 96 : 82) + local.below(10);
        const std::uint32_t gate = s.driving ? len * 7 / 8 : len - len / 10;
        out.push_back({t, t + gate, degree_key(s, degree), vel});
      }
      t += len;
    }
  }
  (void)rng;
  return out;
}

// Makes the latest note of a part end exactly at the loop end, so the song's
// last note-off and its End of Track fall together.
void end_at(std::vector<Note>& notes, std::uint32_t end) {
  if (notes.empty()) return;
  auto last = std::max_element(notes.begin(), notes.end(),
                               [](const Note& a, const Note& b) { return a.off < b.off; });
  last->off = end;
  for (Note& n : notes) n.off = std::min(n.off, end);
}

void emit(MidiTrack& t, int ch, const std::vector<Note>& notes) {
  for (const Note& n : notes) t.note(ch, n.key, n.vel, n.on, n.off);
}

std::vector<std::uint8_t> compose(const Style& s) {
  Rng rng(s.seed);
  const int bars = static_cast<int>(s.progression.size());
  const std::uint32_t end = static_cast<std::uint32_t>(bars) * kBar;

  MidiTrack conductor;
  conductor.name = s.name;
  const std::uint32_t tempo = static_cast<std::uint32_t>(60000000 / s.bpm);
  conductor.meta(0, 0x51,
                 {static_cast<std::uint8_t>(tempo >> 16), static_cast<std::uint8_t>(tempo >> 8),
                  static_cast<std::uint8_t>(tempo)});
  conductor.meta(0, 0x58, {4, 2, 24, 8});
  conductor.end_tick = end;

  // Lead.
  MidiTrack lead;
  lead.name = "Lead";
  setup(lead, 0, s.lead_program, s.driving ? 92 : 96, 64, 50);
  std::vector<Note> lead_notes = melody(s, rng);
  end_at(lead_notes, end);
  emit(lead, 0, lead_notes);
  lead.end_tick = end;

  // Arpeggio over the chord of each bar.
  MidiTrack arp;
  arp.name = "Arpeggio";
  setup(arp, 1, s.arp_program, s.driving ? 70 : 78, 40, 60);
  std::vector<Note> arp_notes;
  const std::uint32_t astep = s.driving ? kQ / 4 : kQ / 2;
  static constexpr int kPattern[8] = {0, 2, 4, 7, 4, 2, 4, 7};
  for (int bar = 0; bar < bars; ++bar) {
    const int root = s.progression[static_cast<std::size_t>(bar)];
    for (std::uint32_t t = 0, k = 0; t < kBar; t += astep, ++k) {
      const int deg = root - 7 + kPattern[k % 8];
      const int vel = (k % 4 == 0 ? 72 : 58) + rng.below(8);
      const std::uint32_t on = static_cast<std::uint32_t>(bar) * kBar + t;
      arp_notes.push_back({on, on + astep - astep / 8, degree_key(s, deg), vel});
    }
  }
  end_at(arp_notes, end);
  emit(arp, 1, arp_notes);
  arp.end_tick = end;

  // Pad: the triad held through each bar.
  MidiTrack pad;
  pad.name = "Pad";
  setup(pad, 2, s.pad_program, s.driving ? 62 : 72, 88, 80);
  std::vector<Note> pad_notes;
  for (int bar = 0; bar < bars; ++bar) {
    const int root = s.progression[static_cast<std::size_t>(bar)];
    const std::uint32_t on = static_cast<std::uint32_t>(bar) * kBar;
    for (int d : {0, 2, 4})
      pad_notes.push_back({on, on + kBar - kQ / 8, degree_key(s, root + d - 7), 64});
  }
  end_at(pad_notes, end);
  // Every pad note of the last bar reaches the end together.
  for (Note& n : pad_notes)
    if (n.on >= end - kBar) n.off = end;
  emit(pad, 2, pad_notes);
  pad.end_tick = end;

  // Bass.
  MidiTrack bass;
  bass.name = "Bass";
  setup(bass, 3, s.bass_program, 100, 64, 20);
  std::vector<Note> bass_notes;
  for (int bar = 0; bar < bars; ++bar) {
    const int root = s.progression[static_cast<std::size_t>(bar)];
    const int key = degree_key(s, root) - 24;
    const std::uint32_t b0 = static_cast<std::uint32_t>(bar) * kBar;
    if (s.driving) {
      for (int e = 0; e < 8; ++e) {
        const int k = (e == 3 || e == 7) ? key + 12 : key;
        bass_notes.push_back(
            {b0 + e * kQ / 2, b0 + e * kQ / 2 + kQ / 2 - kQ / 8, k, e % 2 ? 84 : 100});
      }
    } else {
      bass_notes.push_back({b0, b0 + kQ * 2 - kQ / 8, key, 92});
      bass_notes.push_back({b0 + kQ * 2, b0 + kQ * 3 - kQ / 8, degree_key(s, root + 4) - 24, 80});
      bass_notes.push_back({b0 + kQ * 3, b0 + kQ * 4 - kQ / 8, key, 84});
    }
  }
  end_at(bass_notes, end);
  emit(bass, 3, bass_notes);
  bass.end_tick = end;

  // Drums.
  MidiTrack drums;
  drums.name = "Drums";
  setup(drums, kDrums, 0, s.driving ? 100 : 80, 64, 30);
  std::vector<Note> hits;
  auto hit = [&](std::uint32_t at, int key, int vel) {
    hits.push_back({at, at + kQ / 8, key, vel});
  };
  for (int bar = 0; bar < bars; ++bar) {
    const std::uint32_t b0 = static_cast<std::uint32_t>(bar) * kBar;
    const bool fill = bar % 8 == 7;
    if (bar % 8 == 0) hit(b0, kCrash, s.driving ? 100 : 70);
    if (s.driving) {
      for (int e = 0; e < 8; ++e)
        hit(b0 + e * kQ / 2, e % 2 ? kClosedHat : kPedalHat, 60 + rng.below(12));
      hit(b0, kKick, 110);
      hit(b0 + kQ * 3 / 2, kKick, 90);
      hit(b0 + kQ * 2, kKick, 104);
      hit(b0 + kQ, kSnare, 104);
      if (!fill) {
        hit(b0 + kQ * 3, kSnare, 106);
        hit(b0 + kQ * 7 / 2, kOpenHat, 70);
      } else {
        hit(b0 + kQ * 3, kTomMid, 100);
        hit(b0 + kQ * 3 + kQ / 4, kTomMid, 90);
        hit(b0 + kQ * 3 + kQ / 2, kTomLow, 100);
        hit(b0 + kQ * 3 + kQ * 3 / 4, kSnare, 110);
      }
    } else {
      for (int e = 0; e < 8; ++e)
        hit(b0 + e * kQ / 2, kShaker, 44 + rng.below(10) + (e % 2 ? 0 : 8));
      hit(b0, kKick, 80);
      hit(b0 + kQ * 5 / 2, kKick, 66);
      hit(b0 + kQ, kSideStick, 64);
      hit(b0 + kQ * 3, fill ? kSnare : kSideStick, 66);
      if (bar % 2) hit(b0 + kQ * 2, kRide, 50);
    }
  }
  end_at(hits, end);
  emit(drums, kDrums, hits);
  drums.end_tick = end;

  return smf_bytes(kTicksPerQuarter, {conductor, lead, arp, pad, bass, drums});
}

}  // namespace

std::vector<std::uint8_t> title_song() {
  Style s;
  s.name = "Title";
  s.bpm = 96;
  s.tonic = 74;  // D
  s.scale = {0, 2, 4, 5, 7, 9, 11};
  // I vi IV V, I vi IV V, IV V iii vi, ii V I I
  s.progression = {0, 5, 3, 4, 0, 5, 3, 4, 3, 4, 2, 5, 1, 4, 0, 0};
  s.lead_program = 73;  // flute
  s.arp_program = 46;   // harp
  s.pad_program = 48;   // strings
  s.bass_program = 32;  // acoustic bass
  s.driving = false;
  s.seed = 1301;
  return compose(s);
}

std::vector<std::uint8_t> stage_song() {
  Style s;
  s.name = "Stage";
  s.bpm = 140;
  s.tonic = 69;  // A
  s.scale = {0, 2, 3, 5, 7, 8, 10};
  // i VI III VII four times, then iv v i VI / iv VII III V
  const std::vector<int> verse = {0, 5, 2, 6, 0, 5, 2, 6};
  const std::vector<int> bridge = {3, 4, 0, 5, 3, 6, 2, 4};
  for (const auto* part : {&verse, &verse, &bridge, &verse})
    s.progression.insert(s.progression.end(), part->begin(), part->end());
  s.lead_program = 80;  // square lead
  s.arp_program = 5;    // electric piano
  s.pad_program = 50;   // synth strings
  s.bass_program = 38;  // synth bass
  s.driving = true;
  s.seed = 1402;
  return compose(s);
}

}  // namespace zt::mkdata
