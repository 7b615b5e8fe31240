// Standard MIDI Files: the songs "title.mid" and "stage.mid" as the music
// backends and the Windows music library need them. Platform-free.
//
// The reader accepts formats 0, 1 and 2, metrical and timecode division, running
// status (a meta or SysEx event in between leaves it in effect), SysEx (F0) and
// escape (F7) events and every meta event, and a track that ends without an
// end-of-track event (it ends at its chunk's end). Every length is checked
// against the bytes that are there before anything is read or stored, and a
// file of more events than a song may hold is refused as soon as it is seen,
// so a hostile file costs at most memory in proportion to that bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zt {

enum class MidiError : std::uint8_t {
  kNotMidi,        // the file does not start with an "MThd" chunk
  kBadHeader,      // header chunk shorter than 6 bytes, or a format above 2
  kBadDivision,    // 0 ticks per quarter note, or a frame rate other than 24, 25, 29, 30
  kTruncated,      // a chunk or an event runs past the end of its data
  kBadNumber,      // a variable-length number with more than 4 bytes
  kNoStatus,       // a data byte where no running status is in effect
  kBadData,        // a data byte of a channel message with its top bit set
  kBadStatus,      // a status byte that has no place in a file (F1-F6, F8-FE)
  kBadTempo,       // a tempo event with fewer than 3 data bytes
  kMissingTracks,  // fewer track chunks than the header announces
  kTooManyEvents,  // more than kMaxSongEvents events in all
};

// What one song may cost whichever program plays it. Within these bounds a
// player parses, holds and renders a song in a few tens of milliseconds and
// megabytes: the reader refuses more events, and the players refuse a song
// that, played on repeat, crowds more events into some stretch of its time.
inline constexpr std::size_t kMaxSongEvents = 100'000;  // every event of every track
inline constexpr std::uint64_t kSongWindowMicros = 100'000;
inline constexpr std::size_t kMaxEventsPerWindow = 1'000;

std::string_view midi_error_text(MidiError e);

struct MidiParseError {
  MidiError code = MidiError::kNotMidi;
  std::size_t offset = 0;  // byte of the file where reading stopped
};

// "truncated MIDI data at byte 1234"
std::string midi_error_text(const MidiParseError& e);

struct MidiDivision {
  bool timecode = false;
  std::uint16_t ticks_per_quarter = 0;  // metrical division; 0 is timed as 1
  std::uint8_t frames_per_second = 0;   // timecode: 24, 25, 29 (that is 29.97) or 30
  std::uint8_t ticks_per_frame = 0;     // timecode; 0 is timed as 1
};

enum class MidiEventKind : std::uint8_t {
  kChannel,  // note off/on, key pressure, controller, program, channel pressure, pitch bend
  kSysEx,    // F0 and its data (without the F0)
  kEscape,   // F7 and the raw bytes it carries
  kMeta,     // FF, a type and its data
};

inline constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
inline constexpr std::uint8_t kMetaTempo = 0x51;
inline constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds per quarter note

struct MidiEvent {
  std::uint64_t tick = 0;   // absolute: the sum of the deltas of its track so far
  std::uint32_t delta = 0;  // ticks since the previous event of its track
  MidiEventKind kind = MidiEventKind::kChannel;
  std::uint8_t status = 0;  // 0x80-0xEF, or 0xF0, 0xF7, 0xFF
  std::uint8_t meta_type = 0;
  std::uint8_t data1 = 0;  // channel messages; data2 is 0 for the two-byte ones
  std::uint8_t data2 = 0;
  std::uint32_t tempo = 0;  // tempo events: microseconds per quarter note, as stored
  std::size_t offset = 0;   // SysEx, escape and meta data: where it lies in MidiFile::bytes()
  std::uint32_t length = 0;

  bool is_channel() const { return kind == MidiEventKind::kChannel; }
  bool is_meta(std::uint8_t type) const {
    return kind == MidiEventKind::kMeta && meta_type == type;
  }
  bool is_tempo() const { return is_meta(kMetaTempo); }
  std::uint8_t type() const { return status & 0xF0; }  // channel messages
  std::uint8_t channel() const { return status & 0x0F; }
  // Channel messages: 2 for program change and channel pressure, else 3.
  std::uint8_t message_size() const { return type() == 0xC0 || type() == 0xD0 ? 2 : 3; }
  // 0 to 16383, 8192 is centre.
  std::uint16_t pitch_bend() const { return static_cast<std::uint16_t>(data1 | (data2 << 7)); }
};

struct MidiTrack {
  std::vector<MidiEvent> events;  // in file order, end-of-track included
  bool has_end_of_track = false;
  std::uint64_t end_tick = 0;  // tick of its last event
};

class MidiFile {
 public:
  std::uint16_t format = 0;
  MidiDivision division;
  std::vector<MidiTrack> tracks;

  // The file's own bytes; SysEx, escape and meta events point into them.
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  std::span<const std::uint8_t> data(const MidiEvent& e) const {
    return bytes().subspan(e.offset, e.length);
  }

 private:
  friend struct MidiReader;
  std::vector<std::uint8_t> bytes_;
};

struct MidiParseResult {
  std::optional<MidiFile> file;  // present on success
  MidiParseError error;          // meaningful only without a file
  explicit operator bool() const { return file.has_value(); }
};

MidiParseResult parse_midi_file(std::span<const std::uint8_t> bytes);

// Whether playing the song takes any time: some event of some track, end of
// track included, lies after tick 0. A player that repeats a song starts one
// without such an event again at once and for ever, so the music backends
// refuse it.
bool song_advances(const MidiFile& file);

// Whether a song repeated without end, a new pass every period_micros, has
// more than kMaxEventsPerWindow of its events within some kSongWindowMicros.
// micros: the times of the events one pass plays, ascending.
bool song_too_dense(std::span<const std::uint64_t> micros, std::uint64_t period_micros);

// The reasons every player gives alike for a song it will not play.
inline constexpr std::string_view kSongNeverAdvancesText = "nothing in it comes after its start";
std::string song_too_dense_text();  // "more than 1000 events within 100 ms"

// Ticks to time. With metrical division every tempo event of the chosen tracks
// takes effect from its tick on (the later one of two at the same tick wins);
// tempo 0 is timed as 1. Timecode division ignores tempo. Times are exact
// to the microsecond, rounded down once, and saturate at the largest value.
class TempoMap {
 public:
  explicit TempoMap(const MidiFile& file);            // tempo events of every track
  TempoMap(const MidiFile& file, std::size_t track);  // of that track only (format 2)

  std::uint64_t micros_at(std::uint64_t tick) const;
  double seconds_at(std::uint64_t tick) const { return static_cast<double>(micros_at(tick)) / 1e6; }

 private:
  struct Change {
    std::uint64_t tick;
    std::uint64_t micros;  // time at tick
    std::uint32_t tempo;
  };
  void build(const MidiFile& file, std::span<const std::size_t> tracks);
  std::uint64_t span_micros(std::uint64_t ticks, std::uint32_t tempo) const;

  MidiDivision division_;
  std::vector<Change> changes_;  // first at tick 0; ticks strictly increasing
};

struct TimedEvent {
  MidiEvent event;
  std::uint64_t micros = 0;  // from the start of the song
  std::uint16_t track = 0;
};

struct MidiTimeline {
  // Every event of the tracks in tick order; events of one tick keep track
  // order, then their order within the track.
  std::vector<TimedEvent> events;
  std::size_t channel_messages = 0;
  std::uint64_t last_channel_tick = 0;  // 0 without channel messages
  std::uint64_t last_channel_micros = 0;
};

// All tracks played together (formats 0 and 1; also what a player does with 2).
MidiTimeline merge_tracks(const MidiFile& file);
// One track on its own with its own tempo events (the songs of a format 2 file).
MidiTimeline track_timeline(const MidiFile& file, std::size_t track);

// Why a player that plays every event of the merged tracks, a pass lasting to
// the last of them, will not repeat the song; nothing when it keeps within
// the bounds above.
std::optional<std::string> song_refusal(const MidiFile& file, const MidiTimeline& merged);

}  // namespace zt
