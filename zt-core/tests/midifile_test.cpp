#include "formats/midifile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "smf_builder.h"

namespace zt {
namespace {

using test::Bytes;
using test::parse_ok;
using test::smf_chunk;
using test::smf_file;
using test::smf_header;
using test::SmfTrack;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(MidiFileParse, EveryKindOfEventWithRunningStatus) {
  SmfTrack t;
  t.event(0, {0xC3, 5})              // program change
      .event(10, {0x93, 60, 100})    // note on
      .event(5, {61, 0})             // running status
      .event(0, {0xB3, 7, 64})       // controller
      .event(0, {0xE3, 0x00, 0x40})  // pitch bend, centre
      .event(1, {0x83, 60, 0})
      .event(0, {0xA3, 60, 3})
      .event(0, {0xD3, 9})
      .event(0, {2})  // running status on a two-byte message
      .sysex(0, 0xF0, {1, 2, 0xF7})
      .sysex(3, 0xF7, {0xF8})
      .meta(0, 0x03, {'a', 'b', 'c'})
      .tempo(0, 250000)
      .end(200);
  const MidiFile f = parse_ok(smf_file(0, 480, {t}));
  EXPECT_EQ(f.format, 0);
  EXPECT_FALSE(f.division.timecode);
  EXPECT_EQ(f.division.ticks_per_quarter, 480);
  ASSERT_EQ(f.tracks.size(), 1u);
  const MidiTrack& tr = f.tracks[0];
  EXPECT_TRUE(tr.has_end_of_track);
  EXPECT_EQ(tr.end_tick, 219u);

  struct Want {
    std::uint64_t tick;
    MidiEventKind kind;
    int status, data1, data2;
  } want[] = {
      {0, MidiEventKind::kChannel, 0xC3, 5, 0},   {10, MidiEventKind::kChannel, 0x93, 60, 100},
      {15, MidiEventKind::kChannel, 0x93, 61, 0}, {15, MidiEventKind::kChannel, 0xB3, 7, 64},
      {15, MidiEventKind::kChannel, 0xE3, 0, 64}, {16, MidiEventKind::kChannel, 0x83, 60, 0},
      {16, MidiEventKind::kChannel, 0xA3, 60, 3}, {16, MidiEventKind::kChannel, 0xD3, 9, 0},
      {16, MidiEventKind::kChannel, 0xD3, 2, 0},  {16, MidiEventKind::kSysEx, 0xF0, 0, 0},
      {19, MidiEventKind::kEscape, 0xF7, 0, 0},   {19, MidiEventKind::kMeta, 0xFF, 0, 0},
      {19, MidiEventKind::kMeta, 0xFF, 0, 0},     {219, MidiEventKind::kMeta, 0xFF, 0, 0},
  };
  ASSERT_EQ(tr.events.size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    const MidiEvent& e = tr.events[i];
    EXPECT_EQ(e.tick, want[i].tick) << i;
    EXPECT_EQ(e.kind, want[i].kind) << i;
    EXPECT_EQ(e.status, want[i].status) << i;
    EXPECT_EQ(e.data1, want[i].data1) << i;
    EXPECT_EQ(e.data2, want[i].data2) << i;
  }
  EXPECT_EQ(tr.events[4].pitch_bend(), 8192);
  EXPECT_EQ(tr.events[0].message_size(), 2);
  EXPECT_EQ(tr.events[1].message_size(), 3);
  EXPECT_EQ(tr.events[2].delta, 5u);
  EXPECT_EQ(f.data(tr.events[9]).size(), 3u);
  EXPECT_EQ(f.data(tr.events[9])[2], 0xF7);
  EXPECT_EQ(f.data(tr.events[10])[0], 0xF8);
  EXPECT_TRUE(tr.events[11].is_meta(0x03));
  EXPECT_EQ(std::string(f.data(tr.events[11]).begin(), f.data(tr.events[11]).end()), "abc");
  EXPECT_TRUE(tr.events[12].is_tempo());
  EXPECT_EQ(tr.events[12].tempo, 250000u);
  EXPECT_TRUE(tr.events[13].is_meta(kMetaEndOfTrack));
}

TEST(MidiFileParse, Division) {
  struct Case {
    std::uint16_t raw;
    bool ok, timecode;
    int tpq, fps, tpf;
  } cases[] = {
      {480, true, false, 480, 0, 0},       {1, true, false, 1, 0, 0},
      {0x7FFF, true, false, 0x7FFF, 0, 0}, {0, true, false, 0, 0, 0},  // 0 is timed as 1
      {0xE728, true, true, 0, 25, 40},                                 // -25, 40
      {0xE800, true, true, 0, 24, 0},   // -24, 0 subframes is allowed
      {0xE350, true, true, 0, 29, 80},  // -29 is 29.97
      {0xE2FF, true, true, 0, 30, 255},    {0xE900, false, false, 0, 0, 0},  // -23
      {0x8000, false, false, 0, 0, 0},                                       // rate 0
      {0xFF01, false, false, 0, 0, 0},                                       // -1
  };
  for (const auto& c : cases) {
    const MidiParseResult r = parse_midi_file(smf_file(0, c.raw, {SmfTrack{}.end()}));
    ASSERT_EQ(bool(r), c.ok) << std::hex << c.raw;
    if (!r) {
      EXPECT_EQ(r.error.code, MidiError::kBadDivision);
      EXPECT_EQ(r.error.offset, 12u);
      continue;
    }
    EXPECT_EQ(r.file->division.timecode, c.timecode) << std::hex << c.raw;
    EXPECT_EQ(r.file->division.ticks_per_quarter, c.tpq) << std::hex << c.raw;
    EXPECT_EQ(r.file->division.frames_per_second, c.fps) << std::hex << c.raw;
    EXPECT_EQ(r.file->division.ticks_per_frame, c.tpf) << std::hex << c.raw;
  }
}

TEST(MidiFileParse, MalformedFilesGiveTheirError) {
  const Bytes header = smf_header(0, 1, 96);
  const auto one_track = [&](const Bytes& body) {
    return concat({header, smf_chunk("MTrk", body)});
  };
  const Bytes good_track = SmfTrack{}.event(0, {0x90, 60, 100}).end().body;
  struct Case {
    const char* what;
    Bytes file;
    MidiError code;
  } cases[] = {
      {"empty", {}, MidiError::kNotMidi},
      {"other chunk first", concat({smf_chunk("RIFF", {0, 0, 0, 0, 0, 0}), header}),
       MidiError::kNotMidi},
      {"header id only", {'M', 'T', 'h', 'd', 0, 0}, MidiError::kTruncated},
      {"header length 5", smf_chunk("MThd", {0, 0, 0, 1, 0}), MidiError::kBadHeader},
      {"header shorter than its length", Bytes(header.begin(), header.end() - 1),
       MidiError::kTruncated},
      {"format 3", concat({smf_header(3, 1, 96), smf_chunk("MTrk", good_track)}),
       MidiError::kBadHeader},
      {"no track chunk", header, MidiError::kMissingTracks},
      {"second track missing", concat({smf_header(1, 2, 96), smf_chunk("MTrk", good_track)}),
       MidiError::kMissingTracks},
      {"chunk header cut", concat({header, {'M', 'T', 'r', 'k', 0}}), MidiError::kTruncated},
      {"chunk longer than the file",
       concat({header, {'M', 'T', 'r', 'k', 0, 0, 0, 9, 0, 0x90, 60, 1}}), MidiError::kTruncated},
      {"chunk length near 2^32", concat({header, {'M', 'T', 'r', 'k', 0xFF, 0xFF, 0xFF, 0xF0, 0}}),
       MidiError::kTruncated},
      {"delta of five bytes", one_track({0x81, 0x81, 0x81, 0x81, 0x00, 0x90, 60, 1}),
       MidiError::kBadNumber},
      {"delta cut by the chunk end", one_track({0x81}), MidiError::kTruncated},
      {"delta without an event", one_track({0x00, 0x90, 60, 1, 0x10}), MidiError::kTruncated},
      {"data byte first", one_track({0x00, 0x40, 0x40}), MidiError::kNoStatus},
      {"data byte with the top bit", one_track({0x00, 0x90, 0x80, 0x40}), MidiError::kBadData},
      {"note cut by the chunk end", one_track({0x00, 0x90, 60}), MidiError::kTruncated},
      {"song position status", one_track({0x00, 0xF2, 0, 0}), MidiError::kBadStatus},
      {"clock status", one_track({0x00, 0xF8}), MidiError::kBadStatus},
      {"meta type cut", one_track({0x00, 0xFF}), MidiError::kTruncated},
      {"meta length cut", one_track({0x00, 0xFF, 0x01}), MidiError::kTruncated},
      {"meta longer than the chunk", one_track({0x00, 0xFF, 0x01, 0x05, 'a', 'b'}),
       MidiError::kTruncated},
      {"meta length of 2^28 - 1", one_track({0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}),
       MidiError::kTruncated},
      {"sysex longer than the chunk", one_track({0x00, 0xF0, 0x04, 1, 2}), MidiError::kTruncated},
      {"meta length of five bytes", one_track({0x00, 0xFF, 0x01, 0x80, 0x80, 0x80, 0x80, 0x01}),
       MidiError::kBadNumber},
      {"tempo of 2 bytes", one_track({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}), MidiError::kBadTempo},
  };
  for (const auto& c : cases) {
    const MidiParseResult r = parse_midi_file(c.file);
    ASSERT_FALSE(r) << c.what;
    EXPECT_EQ(r.error.code, c.code) << c.what << ": " << midi_error_text(r.error.code);
    EXPECT_LE(r.error.offset, c.file.size()) << c.what;
    EXPECT_FALSE(midi_error_text(r.error.code).empty());
  }
}

TEST(MidiFileParse, EventsNeverReadIntoTheNextChunk) {
  // The first track's last note is cut by its chunk length; the bytes that
  // follow in the file would complete it.
  const Bytes file = concat({smf_header(1, 2, 96), smf_chunk("MTrk", {0x00, 0x90, 60}),
                             smf_chunk("MTrk", {100, 0x00, 0xFF, 0x2F, 0x00})});
  const MidiParseResult r = parse_midi_file(file);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error.code, MidiError::kTruncated);
  EXPECT_EQ(r.error.offset, 14u + 8 + 2);
}

TEST(MidiFileParse, LenientWhereFilesInTheWildDiffer) {
  // A track without end-of-track ends at its chunk's end; bytes after an
  // end-of-track, even invalid ones, are ignored; chunks of other types are
  // skipped and do not count as tracks; a longer header is skipped; and what
  // follows the announced tracks is ignored.
  const Bytes no_end = SmfTrack{}.event(0, {0x90, 60, 100}).event(7, {0x80, 60, 0}).body;
  const Bytes after_end = SmfTrack{}.event(4, {0x91, 1, 2}).end(3).raw({0xF2, 0x81}).body;
  const Bytes file = concat({smf_chunk("MThd", {0, 1, 0, 2, 0, 96, 0xAA, 0xBB}),
                             smf_chunk("XFIH", {1, 2, 3}),
                             smf_chunk("MTrk", no_end),
                             smf_chunk("junk", {}),
                             smf_chunk("MTrk", after_end),
                             {'g', 'a', 'r', 'b', 'a', 'g', 'e'}});
  const MidiFile f = parse_ok(file);
  ASSERT_EQ(f.tracks.size(), 2u);
  EXPECT_FALSE(f.tracks[0].has_end_of_track);
  EXPECT_EQ(f.tracks[0].events.size(), 2u);
  EXPECT_EQ(f.tracks[0].end_tick, 7u);
  EXPECT_TRUE(f.tracks[1].has_end_of_track);
  EXPECT_EQ(f.tracks[1].events.size(), 2u);
  EXPECT_EQ(f.tracks[1].end_tick, 7u);

  // Running status survives a meta or SysEx event in between.
  SmfTrack t;
  t.event(0, {0x92, 60, 1})
      .meta(0, 0x01, {'x'})
      .event(0, {61, 2})
      .sysex(0, 0xF0, {0xF7})
      .event(0, {62, 3});
  const MidiFile g = parse_ok(smf_file(0, 96, {t}));
  ASSERT_EQ(g.tracks[0].events.size(), 5u);
  EXPECT_EQ(g.tracks[0].events[2].status, 0x92);
  EXPECT_EQ(g.tracks[0].events[4].data1, 62);
}

TEST(MidiFileParse, LongestDeltasAddUpInSixtyFourBits) {
  SmfTrack t;
  for (int i = 0; i < 20; ++i) t.event(0x0FFFFFFF, {0x90, 60, 1});
  const MidiFile f = parse_ok(smf_file(0, 96, {t}));
  ASSERT_EQ(f.tracks[0].events.size(), 20u);
  EXPECT_EQ(f.tracks[0].events[0].delta, 0x0FFFFFFFu);
  EXPECT_EQ(f.tracks[0].end_tick, 20ull * 0x0FFFFFFF);
}

TEST(MidiFileParse, NoTracksAnnouncedIsAnEmptySong) {
  const MidiFile f = parse_ok(smf_header(1, 0, 96));
  EXPECT_TRUE(f.tracks.empty());
  EXPECT_EQ(merge_tracks(f).channel_messages, 0u);
}

TEST(MidiFileParse, SongAdvancesWhenSomethingComesAfterTickZero) {
  for (const test::NamedSong& song : test::never_advancing_songs()) {
    EXPECT_FALSE(song_advances(parse_ok(song.bytes))) << song.name;
  }
  SmfTrack held;
  held.event(0, {0x90, 60, 100}).end(1);  // the end of track is the song's length
  SmfTrack silent;
  silent.end(0);
  SmfTrack open_ended;
  open_ended.event(0, {0x90, 60, 100}).event(3, {0x80, 60, 0});  // no end of track
  EXPECT_TRUE(song_advances(parse_ok(smf_file(0, 480, {held}))));
  EXPECT_TRUE(song_advances(parse_ok(smf_file(1, 480, {silent, held}))));
  EXPECT_TRUE(song_advances(parse_ok(smf_file(0, 480, {open_ended}))));
}

// --- What a song may cost ---------------------------------------------------

// The count runs over all tracks, the end of track included, and stops the
// reading as soon as it is passed.
TEST(SongBounds, TheReaderHoldsNoMoreEventsThanASongMay) {
  const auto file_of = [](std::size_t events) {
    SmfTrack a, b;
    for (std::size_t i = 0; i + 1 < events / 2; ++i) a.event(1, {0x90, 60, 1});
    for (std::size_t i = events / 2 + 1; i < events; ++i) b.event(1, {0x80, 60, 0});
    return smf_file(1, 96, {a.end(), b.end()});
  };
  const MidiFile f = parse_ok(file_of(kMaxSongEvents));
  EXPECT_EQ(f.tracks[0].events.size() + f.tracks[1].events.size(), kMaxSongEvents);

  const Bytes over = file_of(kMaxSongEvents + 1);
  const MidiParseResult r = parse_midi_file(over);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error.code, MidiError::kTooManyEvents);
  EXPECT_EQ(r.error.offset, over.size());  // right after the one too many, the last end of track
  EXPECT_EQ(midi_error_text(r.error), "more than " + std::to_string(kMaxSongEvents) +
                                          " events at byte " + std::to_string(over.size()));

  // 16 MiB of two-byte events: refused once the bound is passed.
  const MidiParseResult big = parse_midi_file(test::running_status_events(16 << 20));
  ASSERT_FALSE(big);
  EXPECT_EQ(big.error.code, MidiError::kTooManyEvents);
  EXPECT_LT(big.error.offset, 2 * kMaxSongEvents + 64);
}

// Played on repeat, a pass every `period`: the busiest 0.1 s may hold
// kMaxEventsPerWindow events, one more is too many.
TEST(SongBounds, DensityCountsTheBusiestWindowOfTheRepeatedSong) {
  constexpr std::size_t k = kMaxEventsPerWindow;
  constexpr std::uint64_t w = kSongWindowMicros;
  constexpr std::uint64_t end_of_time = std::numeric_limits<std::uint64_t>::max();
  const auto at = [](std::size_t n, std::uint64_t t) { return std::vector<std::uint64_t>(n, t); };
  const auto spread = [](std::size_t n, std::uint64_t span) {
    std::vector<std::uint64_t> v;
    for (std::size_t i = 0; i < n; ++i) v.push_back(span * i / (n - 1));
    return v;
  };
  const auto join = [](std::vector<std::uint64_t> a, const std::vector<std::uint64_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* what;
    std::vector<std::uint64_t> micros;
    std::uint64_t period;
    bool dense;
  } cases[] = {
      {"nothing", {}, 0, false},
      {"the bound at one moment", at(k, 0), 10 * w, false},
      {"one more at one moment", at(k + 1, 0), 10 * w, true},
      {"one more within the window", spread(k + 1, w - 1), 10 * w, true},
      {"one more over the window and its end", spread(k + 1, w), 10 * w, false},
      {"10 every millisecond", at(10, 0), 1000, false},  // 100 passes a window
      {"10 a little more often", at(10, 0), 999, true},
      {"half at the end of a pass and half at the start of the next",
       join(at(k / 2, 0), at(k / 2 + 1, 10 * w - 1)), 10 * w, true},
      {"a pass that takes no time", at(1, 0), 0, true},
      {"at the end of time", {end_of_time - 1, end_of_time}, end_of_time, false},
  };
  for (const Case& c : cases) EXPECT_EQ(song_too_dense(c.micros, c.period), c.dense) << c.what;
}

TEST(SongBounds, RefusalsSayWhy) {
  EXPECT_EQ(song_too_dense_text(), "more than 1000 events within 100 ms");
  const auto refusal = [](const Bytes& bytes) {
    const MidiFile f = parse_ok(bytes);
    return song_refusal(f, merge_tracks(f));
  };
  for (const test::NamedSong& song : test::never_advancing_songs()) {
    EXPECT_EQ(refusal(song.bytes), std::string(kSongNeverAdvancesText)) << song.name;
  }
  // The busiest window starts at the end of track: it, the chord of the next
  // pass and its note-off.
  EXPECT_EQ(refusal(test::chord_on_tick_0(kMaxEventsPerWindow - 2)), std::nullopt);
  EXPECT_EQ(refusal(test::chord_on_tick_0(kMaxEventsPerWindow - 1)), song_too_dense_text());
  EXPECT_EQ(refusal(test::notes_at_tempo_1(2000)), song_too_dense_text());
  EXPECT_EQ(refusal(test::densest_song_within_bounds()), std::nullopt);
  for (const test::SongShape& shape : test::unusual_song_shapes()) {
    EXPECT_EQ(refusal(shape.bytes), std::nullopt) << shape.name;
  }
}

TEST(TempoMapTest, MetricalTempoChanges) {
  // 480 per quarter: two quarters at the default tempo take one second, then
  // a quarter at 250000 takes another quarter second.
  SmfTrack conductor;
  conductor.tempo(960, 250000).end();
  SmfTrack notes;
  notes.event(0, {0x90, 60, 100}).event(1440, {0x90, 62, 100}).end();
  const MidiFile f = parse_ok(smf_file(1, 480, {conductor, notes}));
  const TempoMap map(f);
  struct Case {
    std::uint64_t tick, micros;
  } cases[] = {{0, 0}, {480, 500000}, {960, 1000000}, {1440, 1250000}, {1441, 1250520}};
  for (const auto& c : cases) EXPECT_EQ(map.micros_at(c.tick), c.micros) << c.tick;
  EXPECT_DOUBLE_EQ(map.seconds_at(1440), 1.25);

  const MidiTimeline line = merge_tracks(f);
  ASSERT_EQ(line.channel_messages, 2u);
  EXPECT_EQ(line.last_channel_tick, 1440u);
  EXPECT_EQ(line.last_channel_micros, 1250000u);
}

TEST(TempoMapTest, TimesAreRoundedOnceNotPerEvent) {
  // 3 per quarter: a tick is 166666.67 microseconds; tick 3 is exactly half a
  // second however many events lie before it.
  SmfTrack t;
  t.event(1, {0x90, 1, 1}).event(1, {0x90, 2, 1}).event(1, {0x90, 3, 1});
  const MidiFile f = parse_ok(smf_file(0, 3, {t}));
  const MidiTimeline line = merge_tracks(f);
  ASSERT_EQ(line.events.size(), 3u);
  EXPECT_EQ(line.events[0].micros, 166666u);
  EXPECT_EQ(line.events[1].micros, 333333u);
  EXPECT_EQ(line.events[2].micros, 500000u);
}

TEST(TempoMapTest, SpecialTempos) {
  // Two tempo events at one tick: the later (in track order) wins. Tempo 0
  // is timed as 1 microsecond per quarter.
  SmfTrack a;
  a.tempo(0, 1000000).tempo(100, 0).end();
  SmfTrack b;
  b.tempo(0, 2000000).tempo(200, 300000).end();
  const MidiFile f = parse_ok(smf_file(1, 100, {a, b}));
  const TempoMap map(f);
  EXPECT_EQ(map.micros_at(100), 2000000u);       // tick 0 tempo is track b's
  EXPECT_EQ(map.micros_at(200), 2000000u + 1u);  // 100 ticks of tempo 0
  EXPECT_EQ(map.micros_at(300), 2000001u + 300000u);
  // Track a alone knows only its own tempo events.
  EXPECT_EQ(TempoMap(f, 0).micros_at(200), 1000000u + 1u);
  EXPECT_EQ(TempoMap(f, 7).micros_at(200), 1000000u);  // no such track: default tempo

  // Saturates instead of wrapping.
  SmfTrack slow;
  slow.tempo(0, 0xFFFFFF).end();
  const MidiFile s = parse_ok(smf_file(0, 1, {slow}));
  EXPECT_EQ(TempoMap(s).micros_at(std::numeric_limits<std::uint64_t>::max()),
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(TempoMap(s).micros_at(1u << 20), (1ull << 20) * 0xFFFFFF);
}

TEST(TempoMapTest, TimecodeIgnoresTempo) {
  struct Case {
    std::uint16_t division;
    std::uint64_t tick, micros;
  } cases[] = {
      {0xE728, 1000, 1000000},                         // 25 fps x 40: a millisecond per tick
      {0xE728, 1, 1000},       {0xE800, 24, 1000000},  // 0 subframes timed as 1
      {0xE364, 2997, 1000000},                         // 29.97 fps x 100
      {0xE364, 1, 333},                                // 333.67, rounded down once
      {0xE264, 3, 1000},                               // 30 fps x 100
  };
  for (const auto& c : cases) {
    SmfTrack t;
    t.tempo(0, 123).end();
    const MidiFile f = parse_ok(smf_file(0, c.division, {t}));
    EXPECT_EQ(TempoMap(f).micros_at(c.tick), c.micros)
        << std::hex << c.division << std::dec << " tick " << c.tick;
  }
}

TEST(MidiTimelineTest, MergesStablyByTrack) {
  SmfTrack a;
  a.event(0, {0x90, 1, 1}).event(10, {0x90, 2, 1}).event(0, {0x90, 3, 1}).end(5);
  SmfTrack b;
  b.event(0, {0x91, 4, 1})
      .event(5, {0x91, 5, 1})
      .event(5, {0x91, 6, 1})
      .event(20, {0x91, 7, 1})
      .end();
  const MidiFile f = parse_ok(smf_file(1, 96, {a, b}));
  const MidiTimeline line = merge_tracks(f);
  std::vector<std::pair<std::uint64_t, int>> got;
  for (const TimedEvent& te : line.events) {
    if (te.event.is_channel()) {
      got.emplace_back(te.event.tick, te.event.data1);
      EXPECT_EQ(te.track, te.event.channel());
    }
  }
  const std::vector<std::pair<std::uint64_t, int>> want = {{0, 1},  {0, 4},  {5, 5}, {10, 2},
                                                           {10, 3}, {10, 6}, {30, 7}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(line.channel_messages, 7u);
  EXPECT_EQ(line.last_channel_tick, 30u);
  EXPECT_EQ(line.events.size(), 9u);  // the two end-of-track events too
  EXPECT_EQ(line.events.back().event.tick, 30u);

  // A file of meta events only has no channel messages.
  SmfTrack m;
  m.tempo(0, 400000).meta(10, 0x03, {'t'}).end(10);
  const MidiTimeline meta_only = merge_tracks(parse_ok(smf_file(0, 96, {m})));
  EXPECT_EQ(meta_only.channel_messages, 0u);
  EXPECT_EQ(meta_only.last_channel_tick, 0u);
  EXPECT_EQ(meta_only.events.size(), 3u);
}

TEST(MidiTimelineTest, FormatTwoTracksStandAlone) {
  SmfTrack a;
  a.tempo(0, 1000000).event(1, {0x90, 1, 1}).end();
  SmfTrack b;
  b.event(1, {0x90, 2, 1}).end();
  const MidiFile f = parse_ok(smf_file(2, 1, {a, b}));
  const MidiTimeline first = track_timeline(f, 0);
  const MidiTimeline second = track_timeline(f, 1);
  EXPECT_EQ(first.last_channel_micros, 1000000u);
  EXPECT_EQ(second.last_channel_micros, 500000u);  // default tempo: a's tempo is not b's
  EXPECT_EQ(second.events.size(), 2u);
  EXPECT_TRUE(track_timeline(f, 2).events.empty());
}

// --- Against an outside reader -------------------------------------------
// Debian's midicsv, where it is installed (not in the Windows build).
#if !defined(_WIN32)

// midicsv's line for the events both readers report, "track, tick, type, ...".
std::string csv_line(std::size_t track, const MidiEvent& e) {
  std::string s = std::to_string(track + 1) + ", " + std::to_string(e.tick) + ", ";
  const std::string ch = std::to_string(e.channel());
  const std::string d1 = std::to_string(e.data1);
  const std::string d2 = std::to_string(e.data2);
  if (e.is_channel()) {
    switch (e.type()) {
      case 0x80:
        return s + "Note_off_c, " + ch + ", " + d1 + ", " + d2;
      case 0x90:
        return s + "Note_on_c, " + ch + ", " + d1 + ", " + d2;
      case 0xA0:
        return s + "Poly_aftertouch_c, " + ch + ", " + d1 + ", " + d2;
      case 0xB0:
        return s + "Control_c, " + ch + ", " + d1 + ", " + d2;
      case 0xC0:
        return s + "Program_c, " + ch + ", " + d1;
      case 0xD0:
        return s + "Channel_aftertouch_c, " + ch + ", " + d1;
      case 0xE0:
        return s + "Pitch_bend_c, " + ch + ", " + std::to_string(e.pitch_bend());
    }
  }
  if (e.is_tempo()) return s + "Tempo, " + std::to_string(e.tempo);
  if (e.is_meta(kMetaEndOfTrack)) return s + "End_track";
  return {};
}

bool compared_type(const std::string& line) {
  // The third field is the record type.
  const auto first = line.find(", ");
  const auto second = first == std::string::npos ? first : line.find(", ", first + 2);
  if (second == std::string::npos) return false;
  const std::string type = line.substr(second + 2, line.find(',', second + 2) - (second + 2));
  for (const char* t : {"Note_off_c", "Note_on_c", "Poly_aftertouch_c", "Control_c", "Program_c",
                        "Channel_aftertouch_c", "Pitch_bend_c", "Tempo", "End_track"}) {
    if (type == t) return true;
  }
  return false;
}

class AgainstMidicsv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/bin/midicsv")) GTEST_SKIP() << "midicsv is not installed";
    char templ[] = "/tmp/zt-midicsv-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::vector<std::string> midicsv_lines(const Bytes& file) {
    const auto path = dir_ / ("song" + std::to_string(serial_++) + ".mid");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    std::vector<std::string> out;
    FILE* p = popen(("/usr/bin/midicsv '" + path.string() + "' 2>&1").c_str(), "r");
    if (p == nullptr) return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) {
      std::string line(buf);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      if (compared_type(line)) out.push_back(line);
    }
    pclose(p);
    return out;
  }

  void expect_same(const Bytes& file) {
    const MidiFile f = parse_ok(file);
    std::vector<std::string> ours;
    for (std::size_t t = 0; t < f.tracks.size(); ++t) {
      for (const MidiEvent& e : f.tracks[t].events) {
        std::string line = csv_line(t, e);
        if (!line.empty()) ours.push_back(line);
      }
    }
    const std::vector<std::string> theirs = midicsv_lines(file);
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(ours, theirs);
  }

  std::filesystem::path dir_;
  int serial_ = 0;
};

TEST_F(AgainstMidicsv, HandWrittenSongs) {
  SmfTrack all;
  all.event(0, {0xC3, 5})
      .event(10, {0x93, 60, 100})
      .event(5, {61, 0})
      .event(0, {0xB3, 7, 64})
      .event(0, {0xE3, 0x7F, 0x7F})
      .event(0x80, {0x83, 60, 0})
      .event(0, {0xA3, 60, 3})
      .event(0x4000, {0xD3, 9})
      .event(0, {4})
      .sysex(0, 0xF0, {1, 2, 0xF7})
      .event(0x200000, {0xE0, 0, 0})
      .end(200);
  expect_same(smf_file(0, 480, {all}));

  SmfTrack conductor;
  conductor.tempo(0, 600000).tempo(960, 250000).meta(0, 0x03, {'x'}).end(100);
  SmfTrack one;
  one.event(0, {0x90, 60, 100}).event(1440, {0x80, 60, 64}).end();
  SmfTrack two;
  two.event(480, {0xB9, 10, 127})
      .event(0, {0xC9, 0})
      .event(0, {0x99, 36, 90})
      .event(240, {36, 0})
      .end(0);
  expect_same(smf_file(1, 96, {conductor, one, two}));

  expect_same(smf_file(0, 0xE728, {SmfTrack{}.event(25, {0x90, 1, 2}).end(1)}));
}

TEST_F(AgainstMidicsv, GeneratedSongsWithRunningStatus) {
  std::mt19937 rng(2026);
  const auto pick = [&](std::uint32_t lo, std::uint32_t hi) {
    return std::uniform_int_distribution<std::uint32_t>(lo, hi)(rng);
  };
  for (int song = 0; song < 4; ++song) {
    std::vector<SmfTrack> tracks(pick(1, 4));
    for (SmfTrack& t : tracks) {
      int running = -1;
      for (int n = 0; n < 300; ++n) {
        const std::uint32_t delta = pick(0, 3) == 0 ? pick(0, 0x0FFFFF) : pick(0, 200);
        const auto d = [&] { return static_cast<std::uint8_t>(pick(0, 127)); };
        switch (pick(0, 9)) {
          // A file may not lean on running status after these.
          case 0:
            t.tempo(delta, pick(0, 0xFFFFFF));
            running = -1;
            break;
          case 1:
            t.meta(delta, 0x01, {'t', d()});
            running = -1;
            break;
          case 2:
            t.sysex(delta, 0xF0, {d(), 0xF7});
            running = -1;
            break;
          default: {
            const auto status = static_cast<std::uint8_t>(0x80 + pick(0, 6) * 16 + pick(0, 15));
            const bool two = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0;
            if (status == running) {
              two ? t.event(delta, {d()}) : t.event(delta, {d(), d()});
            } else {
              two ? t.event(delta, {status, d()}) : t.event(delta, {status, d(), d()});
            }
            running = status;
          }
        }
      }
      t.end(pick(0, 1000));
    }
    const auto division = static_cast<std::uint16_t>(pick(1, 0x7FFF));
    expect_same(smf_file(tracks.size() == 1 ? 0 : 1, division, tracks));
  }
}

#endif  // !_WIN32

}  // namespace
}  // namespace zt
