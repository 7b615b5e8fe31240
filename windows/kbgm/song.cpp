#include "song.h"

#include <algorithm>

#include "formats/midifile.h"

namespace zt::kbgm {

namespace {
constexpr std::uint64_t kMinLengthUs = 1000;
}

std::optional<Song> song_from_midi(std::span<const std::uint8_t> bytes) {
  const MidiParseResult parsed = parse_midi_file(bytes);
  if (!parsed) return std::nullopt;
  const MidiTimeline timeline = merge_tracks(*parsed.file);
  // A song that never advances would be restarted every millisecond, and
  // one too dense would hold the lock, and every call behind it, to send.
  if (song_refusal(*parsed.file, timeline)) return std::nullopt;
  Song song;
  song.messages = timed_channel_messages(*parsed.file, timeline, MidiTiming::kFromTempoMap);
  if (song.messages.empty()) return std::nullopt;
  for (const TimedEvent& t : timeline.events) song.length_us = std::max(song.length_us, t.micros);
  song.length_us = std::max(song.length_us, kMinLengthUs);
  return song;
}

}  // namespace zt::kbgm
