// Song timelines from arbitrary bytes: never a crash, messages in time order,
// and a timeline the MIDI port backend accepts never repeats without pause
// nor sends more at once than a song may have within one window.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "formats/midifile.h"
#include "midi.h"

namespace {

class CountingOutput final : public zt::MidiOutput {
 public:
  std::size_t sent = 0;
  std::vector<std::string> port_names() override { return {}; }
  std::optional<std::string> connect(std::size_t, std::string_view) override {
    return std::nullopt;
  }
  void send(std::span<const std::uint8_t>) override { ++sent; }
};

class StillClock final : public zt::SeqClock {
 public:
  time_point now() override { return t_; }
  void sleep_for(std::chrono::microseconds d) override { t_ += d; }

 private:
  time_point t_{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<zt::SongTimeline> tl = zt::build_timeline(std::span(data, size));
  if (!tl) return 0;
  for (std::size_t i = 1; i < tl->size(); ++i) {
    if ((*tl)[i].micros < (*tl)[i - 1].micros) std::abort();
  }
  for (const zt::TimedMessage& m : *tl) {
    if (m.size < 2 || m.size > 3 || m.bytes[0] < 0x80 || m.bytes[0] > 0xEF) std::abort();
  }
  if (zt::timeline_refusal(*tl)) return 0;
  if (!zt::timeline_advances(*tl)) std::abort();

  // Played on repeat: once the messages at the start are out, nothing more is
  // sent until the clock moves.
  CountingOutput out;
  StillClock clock;
  std::atomic<bool> fade_flag{false};
  zt::Sequencer seq(out, fade_flag, clock);
  seq.begin();
  seq.handle(zt::midi_cmd::Play{true, std::make_shared<const zt::SongTimeline>(*tl)});
  seq.advance();
  out.sent = 0;
  seq.advance();
  if (out.sent != 0) std::abort();
  for (int step = 0; step < 64; ++step) {
    clock.sleep_for(seq.sleep_time());
    seq.advance();
    // One window's messages, and the notes-off and volumes of a repeat.
    if (out.sent > zt::kMaxEventsPerWindow + 48) std::abort();
    out.sent = 0;
  }
  return 0;
}
