#include "sequencer.h"

#include <algorithm>
#include <utility>

namespace zt::kbgm {

Sequencer::Sequencer(MidiOutPort& port) : port_(port) {
  channel_volume_.fill(100);
}

void Sequencer::all_notes_off() {
  for (std::uint8_t c = 0; c < 16; ++c) {
    const std::uint8_t sound_off[3] = {static_cast<std::uint8_t>(0xB0 | c), 120, 0};
    const std::uint8_t notes_off[3] = {static_cast<std::uint8_t>(0xB0 | c), 123, 0};
    port_.send(sound_off);
    port_.send(notes_off);
  }
}

void Sequencer::push_channel(int c) {
  const std::uint8_t value = static_cast<std::uint8_t>(std::min<int>(channel_volume_[c], 127) *
                                                       std::clamp(master_, 0, 100) / 100);
  if (sent_volume_[c] == value) return;
  const std::uint8_t msg[3] = {static_cast<std::uint8_t>(0xB0 | c), 7, value};
  port_.send(msg);
  sent_volume_[c] = value;
}

void Sequencer::push_all() {
  for (int c = 0; c < 16; ++c) push_channel(c);
}

void Sequencer::reset_channel_volumes() {
  channel_volume_.fill(100);
}

void Sequencer::start(std::shared_ptr<const Song> song, bool repeat, std::int32_t extra_passes,
                      std::uint64_t now_us) {
  all_notes_off();
  reset_channel_volumes();
  push_all();
  song_ = std::move(song);
  start_us_ = now_us;
  position_ = 0;
  repeat_ = repeat;
  endless_ = extra_passes <= 0;
  passes_left_ = std::max(extra_passes, 0);
}

void Sequencer::stop() {
  song_.reset();
  fade_.reset();
  all_notes_off();
}

void Sequencer::set_volume(std::int32_t volume) {
  if (fade_) return;
  master_ = std::clamp(volume, 0, 100);
  push_all();
}

void Sequencer::fade_in(std::uint64_t length_ms, std::uint64_t now_us) {
  master_ = 0;
  push_all();
  fade_ = Fade{now_us, std::max<std::uint64_t>(length_ms, 1), 0, kFadeStep, 0};
}

void Sequencer::fade_out(std::uint64_t length_ms, std::uint64_t now_us) {
  fade_ = Fade{now_us, std::max<std::uint64_t>(length_ms, 1), master_, -kFadeStep, 0};
}

std::uint64_t Sequencer::position_us(std::uint64_t now_us) const {
  if (!song_ || now_us < start_us_) return 0;
  return std::min(now_us - start_us_, song_->length_us);
}

void Sequencer::send_message(const SongMessage& m) {
  // The song's own volume controller is scaled by the master volume.
  if (m.size == 3 && (m.bytes[0] & 0xF0) == 0xB0 && m.bytes[1] == 7) {
    const int c = m.bytes[0] & 0x0F;
    channel_volume_[c] = std::min<std::uint8_t>(m.bytes[2], 127);
    push_channel(c);
    return;
  }
  port_.send(std::span<const std::uint8_t>(m.bytes.data(), m.size));
}

void Sequencer::step_fade(std::uint64_t now_us) {
  if (!fade_) return;
  const std::uint64_t elapsed_ms = now_us > fade_->start_us ? (now_us - fade_->start_us) / 1000 : 0;
  const std::int32_t k = static_cast<std::int32_t>(
      std::min<std::uint64_t>(elapsed_ms * kFadeSteps / fade_->length_ms, kFadeSteps));
  if (k <= fade_->applied) return;
  fade_->applied = k;
  master_ = std::clamp(fade_->level + k * fade_->step, 0, 100);
  push_all();
  if (master_ == 100 && fade_->step > 0) {
    fade_.reset();
  } else if (master_ == 0 && fade_->step < 0) {
    fade_.reset();
    song_.reset();
    all_notes_off();
  } else if (k == kFadeSteps) {
    fade_.reset();
  }
}

void Sequencer::send_due(std::uint64_t now_us) {
  const std::vector<SongMessage>& msgs = song_->messages;
  const std::uint64_t t = now_us > start_us_ ? now_us - start_us_ : 0;
  while (position_ < msgs.size() && msgs[position_].micros <= t) {
    send_message(msgs[position_]);
    ++position_;
  }
}

void Sequencer::step_song(std::uint64_t now_us) {
  if (!song_) return;
  send_due(now_us);
  if (now_us < start_us_ + song_->length_us) return;
  all_notes_off();
  const bool again = repeat_ && (endless_ || passes_left_ > 0);
  if (!again) {
    song_.reset();
    return;
  }
  if (!endless_) --passes_left_;
  reset_channel_volumes();
  push_all();
  position_ = 0;
  start_us_ += song_->length_us;
  // Far behind (the clock jumped, the thread was held): start from now.
  if (now_us - start_us_ > song_->length_us) start_us_ = now_us;
  // At most one new pass per call, so that a very short song cannot hold the thread.
  send_due(now_us);
}

std::optional<std::uint64_t> Sequencer::advance(std::uint64_t now_us) {
  step_fade(now_us);
  step_song(now_us);
  std::optional<std::uint64_t> next;
  auto earliest = [&](std::uint64_t t) { next = next ? std::min(*next, t) : t; };
  if (fade_) {
    // The first whole millisecond at which the next step is due.
    const std::uint64_t n = static_cast<std::uint64_t>(fade_->applied) + 1;
    const std::uint64_t due_ms = (n * fade_->length_ms + kFadeSteps - 1) / kFadeSteps;
    earliest(fade_->start_us + due_ms * 1000);
  }
  if (song_) {
    const std::vector<SongMessage>& msgs = song_->messages;
    earliest(start_us_ + (position_ < msgs.size() ? msgs[position_].micros : song_->length_us));
  }
  if (next && *next < now_us) next = now_us;
  return next;
}

}  // namespace zt::kbgm
