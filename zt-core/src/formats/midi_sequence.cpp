#include "formats/midi_sequence.h"

#include <limits>

namespace zt {

namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  return a > max - b ? max : a + b;
}

std::uint64_t saturate(unsigned __int128 v) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  return v > max ? max : static_cast<std::uint64_t>(v);
}

std::uint32_t timecode_rate_thousandths(std::uint8_t fps) {
  switch (fps) {
    case 24:
      return 24000;
    case 25:
      return 25000;
    case 29:
      return 29970;
    default:
      return 30000;
  }
}

TimedMessage timed(const MidiEvent& e, std::uint64_t micros) {
  TimedMessage m;
  m.micros = micros;
  m.size = e.message_size();
  m.bytes = {e.status, e.data1, e.data2};
  if (m.size == 2) m.bytes[2] = 0;
  return m;
}

}  // namespace

std::vector<TimedMessage> timed_channel_messages(const MidiFile& file, const MidiTimeline& merged,
                                                 MidiTiming timing) {
  std::vector<TimedMessage> out;
  out.reserve(merged.channel_messages);
  if (timing == MidiTiming::kFromTempoMap) {
    for (const TimedEvent& te : merged.events) {
      if (te.event.is_channel()) out.push_back(timed(te.event, te.micros));
    }
    return out;
  }

  const MidiDivision& div = file.division;
  const std::uint64_t ticks_per_quarter = std::max<std::uint16_t>(div.ticks_per_quarter, 1);
  std::uint64_t micros_per_tick = 0;
  if (div.timecode) {
    const std::uint64_t subframes = std::max<std::uint8_t>(div.ticks_per_frame, 1);
    micros_per_tick =
        1000000000ull / (subframes * timecode_rate_thousandths(div.frames_per_second));
  }
  std::uint64_t tempo = kDefaultTempo;
  std::uint64_t time = 0;
  std::uint64_t previous_tick = 0;
  for (const TimedEvent& te : merged.events) {
    const MidiEvent& e = te.event;
    const std::uint64_t ticks = e.tick - previous_tick;
    previous_tick = e.tick;
    if (div.timecode) {
      time =
          saturating_add(time, saturate(static_cast<unsigned __int128>(ticks) * micros_per_tick));
    } else {
      time = saturating_add(
          time, saturate(static_cast<unsigned __int128>(ticks) * tempo / ticks_per_quarter));
    }
    if (e.is_channel()) {
      out.push_back(timed(e, time));
    } else if (e.is_tempo()) {
      tempo = std::max<std::uint32_t>(e.tempo, 1);
    }
  }
  return out;
}

void MidiChannels::push_channel(std::size_t c) {
  const auto value = static_cast<std::uint8_t>(std::min<std::int32_t>(own_volume_[c], 127) *
                                               std::clamp(master_, 0, 100) / 100);
  if (sent_volume_[c] == value) return;
  const std::array<std::uint8_t, 3> message{static_cast<std::uint8_t>(0xB0 + c), 7, value};
  send_(message);
  sent_volume_[c] = value;
}

void MidiChannels::push_all() {
  for (std::size_t c = 0; c < 16; ++c) push_channel(c);
}

void MidiChannels::set_master(std::int32_t volume) {
  master_ = std::clamp(volume, 0, 100);
  push_all();
}

void MidiChannels::send_song_message(const TimedMessage& m) {
  if (m.size == 3 && (m.bytes[0] & 0xF0) == 0xB0 && m.bytes[1] == 7) {
    const std::size_t c = m.bytes[0] & 0x0F;
    own_volume_[c] = std::min<std::uint8_t>(m.bytes[2], 127);
    push_channel(c);
    return;
  }
  send_(m.message());
}

void MidiChannels::all_notes_off() {
  for (std::uint8_t c = 0; c < 16; ++c) {
    const std::array<std::uint8_t, 3> sound_off{static_cast<std::uint8_t>(0xB0 + c), 120, 0};
    const std::array<std::uint8_t, 3> reset{static_cast<std::uint8_t>(0xB0 + c), 123, 0};
    send_(sound_off);
    send_(reset);
  }
}

MidiFade::Outcome MidiFade::advance(std::uint64_t elapsed_ms, MidiChannels& channels) {
  const auto k =
      static_cast<std::int32_t>(std::min<std::uint64_t>(elapsed_ms * kSteps / length_ms_, kSteps));
  if (k <= applied_) return Outcome::kNone;
  applied_ = k;
  const std::int32_t level = std::clamp(level_ + k * step_, 0, 100);
  channels.set_master(level);
  if (level == 100) return Outcome::kFull;
  if (level == 0) return Outcome::kSilent;
  return Outcome::kStepped;
}

std::uint64_t MidiFade::next_step_ms() const {
  const std::uint64_t n = static_cast<std::uint64_t>(applied_) + 1;
  return (n * length_ms_ + kSteps - 1) / kSteps;
}

}  // namespace zt
