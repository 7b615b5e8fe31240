#include "song_loop.h"

#include <array>
#include <bitset>

namespace zt {

namespace {

constexpr std::uint8_t kControllers = 120;  // 120-127 are channel mode messages
constexpr std::uint8_t kBankMsb = 0;
constexpr std::uint8_t kBankLsb = 32;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kResetAllControllers = 121;
constexpr std::uint8_t kAllNotesOff = 123;
// Pedals that hold notes while down (64 and above).
constexpr std::uint8_t kPedals[] = {64, 66, 69};

// What a later change leaves that setting a controller back cannot undo: the
// parameter data entry wrote, the note portamento starts from, the mode.
bool only_a_reset_undoes(std::uint8_t controller) {
  return controller == 6 || controller == 38 || controller == 96 || controller == 97 ||
         controller == 84 || controller == 122 || controller >= 124;
}

// Reset All Controllers leaves bank, volume, balance, pan, the sound
// controllers and the effect depths as they are.
bool kept_by_reset_all(std::uint8_t c) {
  return c == 0 || c == 32 || c == 7 || c == 39 || c == 8 || c == 40 || c == 10 || c == 42 ||
         (c >= 70 && c <= 79) || c == 84 || (c >= 91 && c <= 95);
}

struct Channel {
  std::array<std::optional<std::uint8_t>, kControllers> start{};  // set at tick 0
  std::array<std::uint8_t, kControllers> now{};                   // as the song goes
  std::bitset<kControllers> changed;                              // after tick 0
  std::optional<std::uint8_t> start_program;
  bool program_changed = false;
  std::optional<std::uint16_t> start_bend;
  bool bend_changed = false;
  std::optional<std::uint8_t> start_pressure;
  bool pressure_changed = false;
  std::array<std::uint32_t, 128> notes_on{};

  Channel() {
    for (std::uint8_t c = 0; c < kControllers; ++c) now[c] = reset_controller_value(c);
  }
  std::uint8_t start_value(std::uint8_t c) const {
    return start[c].value_or(reset_controller_value(c));
  }
};

}  // namespace

std::uint8_t reset_controller_value(std::uint8_t controller) {
  switch (controller) {
    case 7:
      return 100;
    case 8:
    case 10:
      return 64;
    case 11:
    case 43:
    case 98:
    case 99:
    case 100:
    case 101:
      return 127;
    default:
      return controller >= 70 && controller <= 79 ? 64 : 0;
  }
}

std::optional<std::vector<ChannelMessage>> loop_restore(const MidiFile& file) {
  std::array<Channel, 16> channels;
  for (const TimedEvent& timed : merge_tracks(file).events) {
    const MidiEvent& e = timed.event;
    const bool at_start = e.tick == 0;
    if (!e.is_channel()) {
      if (!at_start && (e.kind == MidiEventKind::kSysEx || e.kind == MidiEventKind::kEscape)) {
        return std::nullopt;
      }
      continue;
    }
    Channel& ch = channels[e.channel()];
    switch (e.type()) {
      case 0x80:
        if (ch.notes_on[e.data1] > 0) --ch.notes_on[e.data1];
        break;
      case 0x90:
        if (e.data2 > 0) {
          ++ch.notes_on[e.data1];
        } else if (ch.notes_on[e.data1] > 0) {
          --ch.notes_on[e.data1];
        }
        break;
      case 0xA0:
        if (!at_start) return std::nullopt;
        break;
      case 0xB0: {
        const std::uint8_t c = e.data1;
        if (c == kAllSoundOff || c == kAllNotesOff) {
          ch.notes_on.fill(0);
        } else if (c == kResetAllControllers) {
          for (std::uint8_t r = 0; r < kControllers; ++r) {
            if (kept_by_reset_all(r) || only_a_reset_undoes(r)) continue;
            ch.now[r] = reset_controller_value(r);
            if (at_start) {
              ch.start[r].reset();
            } else {
              ch.changed.set(r);
            }
          }
          if (at_start) {
            ch.start_bend.reset();
            ch.start_pressure.reset();
          } else {
            ch.bend_changed = ch.pressure_changed = true;
          }
        } else if (!at_start && only_a_reset_undoes(c)) {
          return std::nullopt;
        } else if (c < kControllers) {
          ch.now[c] = e.data2;
          if (at_start) {
            ch.start[c] = e.data2;
          } else {
            ch.changed.set(c);
          }
        }
        break;
      }
      case 0xC0:
        if (at_start) {
          ch.start_program = e.data1;
        } else {
          ch.program_changed = true;
        }
        break;
      case 0xD0:
        if (at_start) {
          ch.start_pressure = e.data1;
        } else {
          ch.pressure_changed = true;
        }
        break;
      case 0xE0:
        if (at_start) {
          ch.start_bend = e.pitch_bend();
        } else {
          ch.bend_changed = true;
        }
        break;
      default:
        break;
    }
  }

  std::vector<ChannelMessage> out;
  for (std::uint8_t n = 0; n < 16; ++n) {
    const Channel& ch = channels[n];
    const auto cc = [&](std::uint8_t c, std::uint8_t v) {
      out.push_back({static_cast<std::uint8_t>(0xB0 | n), c, v});
    };
    for (std::uint8_t key = 0; key < 128; ++key) {
      if (ch.notes_on[key] > 0) out.push_back({static_cast<std::uint8_t>(0x80 | n), key, 0});
    }
    // A pedal down at the end lets the notes it holds go, and is then set
    // as at the start.
    std::bitset<kControllers> to_send = ch.changed;
    for (const std::uint8_t p : kPedals) {
      if (ch.now[p] >= 64) {
        cc(p, 0);
        to_send.set(p, ch.start_value(p) != 0);
      }
    }
    for (const std::uint8_t c : {kBankMsb, kBankLsb}) {
      if (to_send.test(c)) cc(c, ch.start_value(c));
    }
    for (std::uint8_t c = 0; c < kControllers; ++c) {
      if (to_send.test(c) && c != kBankMsb && c != kBankLsb) cc(c, ch.start_value(c));
    }
    if (ch.program_changed) {
      out.push_back({static_cast<std::uint8_t>(0xC0 | n), ch.start_program.value_or(0), 0});
    }
    if (ch.bend_changed) {
      const std::uint16_t bend = ch.start_bend.value_or(8192);
      out.push_back({static_cast<std::uint8_t>(0xE0 | n), static_cast<std::uint8_t>(bend & 0x7F),
                     static_cast<std::uint8_t>(bend >> 7)});
    }
    if (ch.pressure_changed) {
      out.push_back({static_cast<std::uint8_t>(0xD0 | n), ch.start_pressure.value_or(0), 0});
    }
  }
  return out;
}

}  // namespace zt
