// A song as the sequencer plays it: the channel messages of every track in
// playing order with their times.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/midi_sequence.h"

namespace zt::kbgm {

using SongMessage = TimedMessage;

struct Song {
  std::vector<SongMessage> messages;
  // Time of the last event of any track (end of track included), so that a
  // repeat keeps the rest at the end of the song; at least 1 ms.
  std::uint64_t length_us = 0;
};

// None when the bytes are no MIDI file, carry no channel message, or are a
// song that a player refuses to repeat (song_refusal: nothing after tick 0,
// or over the bounds of what a song may cost).
std::optional<Song> song_from_midi(std::span<const std::uint8_t> bytes);

}  // namespace zt::kbgm
