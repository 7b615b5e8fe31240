#include "smf_builder.h"

#include <gtest/gtest.h>

#include "formats/midifile.h"

namespace zt::test {

Bytes smf_number(std::uint32_t value) {
  Bytes out{static_cast<std::uint8_t>(value & 0x7F)};
  for (value >>= 7; value != 0; value >>= 7) {
    out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
  }
  return out;
}

SmfTrack& SmfTrack::raw(const Bytes& bytes) {
  body.insert(body.end(), bytes.begin(), bytes.end());
  return *this;
}

SmfTrack& SmfTrack::event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
  raw(smf_number(delta));
  body.insert(body.end(), bytes.begin(), bytes.end());
  return *this;
}

SmfTrack& SmfTrack::meta(std::uint32_t delta, std::uint8_t type, const Bytes& data) {
  event(delta, {0xFF, type});
  raw(smf_number(static_cast<std::uint32_t>(data.size())));
  return raw(data);
}

SmfTrack& SmfTrack::tempo(std::uint32_t delta, std::uint32_t micros_per_quarter) {
  return meta(delta, 0x51,
              {static_cast<std::uint8_t>(micros_per_quarter >> 16),
               static_cast<std::uint8_t>(micros_per_quarter >> 8),
               static_cast<std::uint8_t>(micros_per_quarter)});
}

SmfTrack& SmfTrack::sysex(std::uint32_t delta, std::uint8_t status, const Bytes& data) {
  event(delta, {status});
  raw(smf_number(static_cast<std::uint32_t>(data.size())));
  return raw(data);
}

SmfTrack& SmfTrack::end(std::uint32_t delta) {
  return meta(delta, 0x2F, {});
}

Bytes smf_chunk(std::string_view type, const Bytes& body) {
  Bytes out(type.begin(), type.end());
  const auto n = static_cast<std::uint32_t>(body.size());
  out.insert(out.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                         static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes smf_header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division) {
  const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
  const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
  return smf_chunk("MThd",
                   {hi(format), lo(format), hi(tracks), lo(tracks), hi(division), lo(division)});
}

Bytes smf_file(std::uint16_t format, std::uint16_t division, const std::vector<SmfTrack>& tracks) {
  Bytes out = smf_header(format, static_cast<std::uint16_t>(tracks.size()), division);
  for (const SmfTrack& t : tracks) {
    const Bytes chunk = smf_chunk("MTrk", t.body);
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

std::vector<NamedSong> never_advancing_songs() {
  SmfTrack chord;
  for (int i = 0; i < 20000; ++i) {
    chord.event(
        0, {static_cast<std::uint8_t>(0x90 | (i % 16)), static_cast<std::uint8_t>(i % 128), 100});
  }
  chord.end(0);
  return {{"no_tracks", smf_header(1, 0, 480)},
          {"only_end_of_track", smf_file(0, 480, {SmfTrack{}.end(0)})},
          {"notes_all_at_tick_0", smf_file(0, 480, {chord})}};
}

namespace {

// Program 0 and four notes a quarter apart at 480 ticks a quarter and the
// default tempo: two seconds.
SmfTrack tune() {
  SmfTrack t;
  t.event(0, {0xC0, 0});
  for (std::uint8_t i = 0; i < 4; ++i) {
    const auto key = static_cast<std::uint8_t>(60 + 4 * i);
    t.event(i == 0 ? 0 : 240, {0x90, key, 100}).event(240, {0x80, key, 0});
  }
  return t;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

std::vector<SongShape> unusual_song_shapes() {
  std::vector<SongShape> shapes;
  const Bytes track = smf_chunk("MTrk", tune().end(240).body);
  const Bytes plain = concat({smf_header(0, 1, 480), track});

  shapes.push_back({"header_of_8_bytes",
                    concat({smf_chunk("MThd", {0, 0, 0, 1, 0x01, 0xE0, 0x12, 0x34}), track}),
                    plain});
  shapes.push_back({"unknown_chunk_before_the_track",
                    concat({smf_header(0, 1, 480), smf_chunk("XFIH", {1, 2, 3, 4}), track}),
                    plain});

  // A GM reset, then note-ons that lean on the running status from before it.
  const Bytes reset = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
  SmfTrack leaning, explicit_status;
  leaning.event(0, {0xC0, 0}).event(0, {0x90, 60, 100}).sysex(0, 0xF0, reset);
  explicit_status.event(0, {0xC0, 0}).event(0, {0x90, 60, 100}).sysex(0, 0xF0, reset);
  leaning.event(480, {64, 100}).event(480, {67, 100}).event(480, {0x80, 60, 0});
  explicit_status.event(480, {0x90, 64, 100}).event(480, {0x90, 67, 100}).event(480, {0x80, 60, 0});
  leaning.event(0, {64, 0}).event(0, {67, 0}).end(240);
  explicit_status.event(0, {0x80, 64, 0}).event(0, {0x80, 67, 0}).end(240);
  shapes.push_back({"running_status_after_sysex", smf_file(0, 480, {leaning}),
                    smf_file(0, 480, {explicit_status})});

  // An escape carrying a note-on: a raw message no player is given.
  SmfTrack escaped;
  escaped.sysex(0, 0xF7, {0x90, 40, 127}).raw(tune().body).end(240);
  shapes.push_back({"escape_event", smf_file(0, 480, {escaped}), plain});

  // Each track plays one note of its own, one 32nd apart; the plain file has
  // them in one track, in the same order.
  std::vector<SmfTrack> many(128);
  SmfTrack merged;
  merged.event(0, {0xC0, 0});
  for (std::size_t i = 0; i < many.size(); ++i) {
    const auto key = static_cast<std::uint8_t>(36 + i % 48);
    const auto at = static_cast<std::uint32_t>(60 * i);
    if (i == 0) many[i].event(0, {0xC0, 0});
    many[i].event(at, {0x90, key, 90}).event(60, {0x80, key, 0}).end(0);
    merged.event(0, {0x90, key, 90}).event(60, {0x80, key, 0});
  }
  merged.end(0);
  shapes.push_back({"128_tracks", smf_file(1, 480, many), smf_file(0, 480, {merged})});

  SmfTrack long_tempo, short_tempo;
  long_tempo.meta(0, 0x51, {0x07, 0xA1, 0x20, 0x00}).raw(tune().body).end(240);
  short_tempo.tempo(0, 0x07A120).raw(tune().body).end(240);
  shapes.push_back(
      {"tempo_of_4_bytes", smf_file(0, 480, {long_tempo}), smf_file(0, 480, {short_tempo})});
  return shapes;
}

// Written byte by byte into place: these songs run to millions of events.
Bytes chord_on_tick_0(std::size_t notes) {
  SmfTrack t;
  t.event(0, {0x90, 60, 100});
  const std::size_t at = t.body.size();
  t.body.resize(at + 3 * (notes - 1));
  std::uint8_t* p = t.body.data() + at;
  for (std::size_t i = 1; i < notes; ++i, p += 3) {
    p[0] = 0x00;
    p[1] = static_cast<std::uint8_t>(i % 128);
    p[2] = 100;
  }
  t.event(1, {0x80, 60, 0}).end(959);
  return smf_file(0, 480, {t});
}

Bytes notes_at_tempo_1(std::size_t notes) {
  SmfTrack t;
  t.tempo(0, 1);
  for (std::size_t i = 0; i < notes; ++i) {
    t.event(i == 0 ? 0 : 1, {0x90, static_cast<std::uint8_t>(40 + i % 40), 100});
  }
  t.event(1, {0x80, 60, 0}).end(0);
  return smf_file(0, 0x7FFF, {t});
}

Bytes running_status_events(std::size_t file_bytes) {
  SmfTrack t;
  t.event(0, {0xD0, 64});
  // The header, the track's and the end of track take 26 bytes.
  const std::size_t events = (file_bytes - t.body.size() - 26) / 2;
  const std::size_t at = t.body.size();
  t.body.resize(at + 2 * events);
  std::uint8_t* p = t.body.data() + at;
  for (std::size_t i = 0; i < events; ++i, p += 2) {
    p[0] = 0x01;
    p[1] = 64;
  }
  t.end(0);
  return smf_file(0, 480, {t});
}

Bytes densest_song_within_bounds() {
  // At the default tempo 96 ticks are one window, 0.1 s. The events come in
  // groups of kMaxEventsPerWindow spread over 96 ticks, a group every 97, so
  // that timelines that round each step down still see no window too full.
  // Event i lies at place i + 1, so the first group holds one event less: the
  // end of track and the port's repeat, which start the next pass right after
  // the last event, then leave no window with one too many either.
  static_assert(kSongWindowMicros == 100'000, "96 ticks make one window");
  const std::size_t per_window = kMaxEventsPerWindow;
  const std::size_t events = kMaxSongEvents - per_window;
  SmfTrack t;
  t.body.reserve(events * 4 + 16);
  std::uint64_t now = 0;
  for (std::size_t i = 0; i < events; ++i) {
    const std::size_t place = i + 1;
    const std::uint64_t tick = place / per_window * 97 + place % per_window * 96 / per_window;
    const auto channel = static_cast<std::uint8_t>(i / 2 % 16);
    const auto key = static_cast<std::uint8_t>(30 + i / 2 % 60);
    const bool on = i % 2 == 0;
    t.event(static_cast<std::uint32_t>(tick - now),
            {static_cast<std::uint8_t>((on ? 0x90 : 0x80) | channel), key,
             static_cast<std::uint8_t>(on ? 100 : 0)});
    now = tick;
  }
  t.end(96);
  return smf_file(0, 480, {t});
}

MidiFile parse_ok(const Bytes& bytes) {
  MidiParseResult r = parse_midi_file(bytes);
  EXPECT_TRUE(r) << midi_error_text(r.error);
  return r ? std::move(*r.file) : MidiFile{};
}

}  // namespace zt::test
