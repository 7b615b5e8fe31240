#include "formats/plain_midi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "formats/midifile.h"
#include "smf_builder.h"

namespace zt {
namespace {

using test::Bytes;
using test::parse_ok;
using test::smf_chunk;
using test::smf_file;
using test::smf_header;
using test::SmfTrack;

constexpr std::size_t kMaxTracks = 127;

Bytes plain(const Bytes& bytes) {
  std::optional<Bytes> out = write_plain_midi(parse_ok(bytes), kMaxTracks);
  EXPECT_TRUE(out);
  return out ? *out : Bytes{};
}

// What a player is given of a song, as our reader sees it: channel messages,
// SysEx and tempo (as it is timed) at their ticks and times, in playing order.
using Played = std::tuple<std::uint64_t, std::uint64_t, int, int, int, std::uint32_t, Bytes>;
std::vector<Played> played(const MidiFile& f) {
  std::vector<Played> out;
  for (const TimedEvent& te : merge_tracks(f).events) {
    const MidiEvent& e = te.event;
    if (e.is_channel()) {
      out.emplace_back(e.tick, te.micros, e.status, e.data1, e.data2, 0, Bytes{});
    } else if (e.kind == MidiEventKind::kSysEx) {
      const auto data = f.data(e);
      out.emplace_back(e.tick, te.micros, 0xF0, 0, 0, 0, Bytes(data.begin(), data.end()));
    } else if (e.is_tempo()) {
      out.emplace_back(e.tick, te.micros, 0xFF, 0x51, 0, std::max<std::uint32_t>(e.tempo, 1),
                       Bytes{});
    }
  }
  return out;
}

// Chunk tags in file order.
std::vector<std::string> chunks(const Bytes& file) {
  std::vector<std::string> tags;
  for (std::size_t at = 0; at + 8 <= file.size();) {
    tags.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                      file.begin() + static_cast<std::ptrdiff_t>(at) + 4);
    const std::uint32_t n = std::uint32_t{file[at + 4]} << 24 | std::uint32_t{file[at + 5]} << 16 |
                            std::uint32_t{file[at + 6]} << 8 | file[at + 7];
    at += 8 + std::size_t{n};
  }
  return tags;
}

TEST(PlainMidi, EveryStatusWrittenEscapesAndOtherMetaLeftOut) {
  SmfTrack t;
  t.event(0, {0x90, 60, 100})
      .event(10, {62, 100})                     // running status
      .sysex(0, 0xF7, {0x80, 60})               // escape: left out
      .meta(5, 0x01, {'h', 'i'})                // text: left out
      .meta(0, 0x51, {0, 0, 0, 7})              // tempo 0, and a fourth byte
      .sysex(1, 0xF0, {0x41, 0x10, 0xF7})       // kept as it is
      .event(2, {64, 0});                       // running status after the SysEx; no end of track
  const Bytes odd = test::smf_file(0, 0, {t});  // 0 ticks a quarter is timed as 1
  const Bytes want = {'M',  'T',  'h',  'd',  0,    0,    0, 6,  0, 0, 0, 1, 0, 1,  //
                      'M',  'T',  'r',  'k',  0,    0,    0, 29,                    //
                      0x00, 0x90, 60,   100,                                        //
                      0x0A, 0x90, 62,   100,                                        //
                      0x05, 0xFF, 0x51, 3,    0,    0,    1,                        //
                      0x01, 0xF0, 3,    0x41, 0x10, 0xF7,                           //
                      0x02, 0x90, 64,   0,                                          //
                      0x00, 0xFF, 0x2F, 0};
  EXPECT_EQ(plain(odd), want);
}

// The hand-made plain file of each shape is exactly what the writer makes,
// and our reader finds the same song in both.
TEST(PlainMidi, UnusualShapesBecomeTheirPlainFile) {
  for (const test::SongShape& shape : test::unusual_song_shapes()) {
    SCOPED_TRACE(shape.name);
    const Bytes out = plain(shape.bytes);
    EXPECT_EQ(out, shape.plain);
    EXPECT_EQ(played(parse_ok(out)), played(parse_ok(shape.bytes)));
  }
}

TEST(PlainMidi, ReadsBackAsTheSameSong) {
  SmfTrack a, b, empty;
  a.tempo(0, 400000).event(0, {0x91, 40, 1}).meta(3, 0x58, {4, 2, 24, 8}).event(0, {0xE1, 1, 2});
  a.tempo(7, 0).event(1, {0xC1, 9}).end(5);
  b.event(2, {0xB2, 7, 99}).sysex(0, 0xF0, {}).event(0, {0xD2, 3}).event(4, {0xA2, 1, 1});
  // Left-out events across more ticks than one delta can carry.
  SmfTrack gaps;
  gaps.event(0, {0x90, 60, 1});
  for (int i = 0; i < 3; ++i) gaps.meta(0x0FFFFFFF, 0x01, {'x'});
  gaps.event(0x0FFFFFFF, {0x80, 60, 0}).sysex(0x0FFFFFFF, 0xF7, {1}).end(5);
  std::vector<SmfTrack> many(300);
  for (std::size_t i = 0; i < many.size(); ++i) {
    many[i].event(static_cast<std::uint32_t>(i % 7), {0x90, static_cast<std::uint8_t>(i % 128), 1});
  }
  struct Case {
    const char* what;
    Bytes file;
    std::size_t tracks;
  } cases[] = {
      {"format 1", smf_file(1, 96, {a, b}), 2},
      {"format 2 plays its tracks together", smf_file(2, 96, {a, b, empty}), 3},
      {"a track without events", smf_file(1, 96, {empty, a}), 2},
      {"long gaps", smf_file(0, 96, {gaps}), 1},
      {"300 tracks become one", smf_file(1, 96, many), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes out = plain(c.file);
    const MidiFile back = parse_ok(out);
    EXPECT_EQ(back.tracks.size(), c.tracks);
    std::vector<std::string> only_tracks(1 + c.tracks, "MTrk");
    only_tracks[0] = "MThd";
    EXPECT_EQ(chunks(out), only_tracks);
    EXPECT_EQ(out[7], 6);  // the header's length
    EXPECT_EQ(played(back), played(parse_ok(c.file)));
    // Every track ends where it ended, with its end of track.
    const MidiFile original = parse_ok(c.file);
    std::uint64_t end = 0;
    for (const MidiTrack& t : original.tracks) end = std::max(end, t.end_tick);
    for (const MidiTrack& t : back.tracks) {
      EXPECT_TRUE(t.has_end_of_track);
      EXPECT_LE(t.end_tick, end);
    }
    if (c.tracks == original.tracks.size()) {
      for (std::size_t i = 0; i < c.tracks; ++i) {
        EXPECT_EQ(back.tracks[i].end_tick, original.tracks[i].end_tick) << i;
      }
    } else {
      EXPECT_EQ(back.tracks[0].end_tick, end);
    }
  }
}

TEST(PlainMidi, TimecodeDivisionIsNotWritten) {
  EXPECT_FALSE(write_plain_midi(parse_ok(smf_file(0, 0xE728, {SmfTrack{}.end(1)})), kMaxTracks));
}

}  // namespace
}  // namespace zt
