#include "smf_builder.h"

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

}  // namespace zt::test
