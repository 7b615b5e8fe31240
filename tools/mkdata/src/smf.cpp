#include "smf.h"

#include <algorithm>

namespace zt::mkdata {
namespace {

void put_vlq(std::vector<std::uint8_t>& o, std::uint32_t v) {
  std::uint8_t buf[5];
  int n = 0;
  buf[n++] = static_cast<std::uint8_t>(v & 0x7F);
  while (v >>= 7) buf[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
  while (n) o.push_back(buf[--n]);
}

void put_be(std::vector<std::uint8_t>& o, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) o.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

void MidiTrack::meta(std::uint32_t tick, std::uint8_t type, const std::vector<std::uint8_t>& data) {
  MidiEvent e;
  e.tick = tick;
  e.order = type == 0x03 ? -1 : 0;
  e.bytes = {0xFF, type};
  put_vlq(e.bytes, static_cast<std::uint32_t>(data.size()));
  e.bytes.insert(e.bytes.end(), data.begin(), data.end());
  events.push_back(std::move(e));
}

void MidiTrack::channel(std::uint32_t tick, std::vector<std::uint8_t> msg, int order) {
  events.push_back({tick, std::move(msg), order});
}

void MidiTrack::note(int ch, int key, int velocity, std::uint32_t on, std::uint32_t off) {
  channel(off, {static_cast<std::uint8_t>(0x80 | ch), static_cast<std::uint8_t>(key), 64}, 2);
  channel(on,
          {static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(key),
           static_cast<std::uint8_t>(std::clamp(velocity, 1, 127))},
          3);
}

std::vector<std::uint8_t> smf_bytes(std::uint16_t ticks_per_quarter,
                                    std::vector<MidiTrack> tracks) {
  std::vector<std::uint8_t> o = {'M', 'T', 'h', 'd'};
  put_be(o, 6, 4);
  put_be(o, 1, 2);
  put_be(o, static_cast<std::uint32_t>(tracks.size()), 2);
  put_be(o, ticks_per_quarter, 2);
  for (MidiTrack& t : tracks) {
    if (!t.name.empty()) t.meta(0, 0x03, std::vector<std::uint8_t>(t.name.begin(), t.name.end()));
    // The name first, then everything else in time order.
    std::stable_sort(t.events.begin(), t.events.end(), [](const MidiEvent& a, const MidiEvent& b) {
      if (a.tick != b.tick) return a.tick < b.tick;
      return a.order < b.order;
    });
    std::vector<std::uint8_t> body;
    std::uint32_t now = 0;
    for (const MidiEvent& e : t.events) {
      put_vlq(body, e.tick - now);
      now = e.tick;
      body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    put_vlq(body, std::max(t.end_tick, now) - now);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    o.insert(o.end(), {'M', 'T', 'r', 'k'});
    put_be(o, static_cast<std::uint32_t>(body.size()), 4);
    o.insert(o.end(), body.begin(), body.end());
  }
  return o;
}

}  // namespace zt::mkdata
