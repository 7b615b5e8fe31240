#include "sequencer.h"

#include <algorithm>
#include <utility>

namespace zt::kbgm {

Sequencer::Sequencer(MidiOutPort& port)
    : channels_([&port](std::span<const std::uint8_t> m) { port.send(m); }) {}

void Sequencer::start(std::shared_ptr<const Song> song, bool repeat, std::int32_t extra_passes,
                      std::uint64_t now_us) {
  channels_.all_notes_off();
  channels_.reset_own_volumes();
  channels_.push_all();
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
  channels_.set_master(volume);
}

void Sequencer::fade_in(std::uint64_t length_ms, std::uint64_t now_us) {
  channels_.set_master(0);
  fade_ = Fade{now_us, MidiFade::in(length_ms)};
}

void Sequencer::fade_out(std::uint64_t length_ms, std::uint64_t now_us) {
  fade_ = Fade{now_us, MidiFade::out(length_ms, channels_.master())};
}

std::uint64_t Sequencer::position_us(std::uint64_t now_us) const {
  if (!song_ || now_us < start_us_) return 0;
  return std::min(now_us - start_us_, song_->length_us);
}

void Sequencer::step_fade(std::uint64_t now_us) {
  if (!fade_) return;
  const std::uint64_t elapsed_ms = now_us > fade_->start_us ? (now_us - fade_->start_us) / 1000 : 0;
  switch (fade_->steps.advance(elapsed_ms, channels_)) {
    case MidiFade::Outcome::kNone:
    case MidiFade::Outcome::kStepped:
      break;
    case MidiFade::Outcome::kFull:
      fade_.reset();
      break;
    case MidiFade::Outcome::kSilent:
      // A fade-out ends the song with the silence.
      fade_.reset();
      song_.reset();
      channels_.all_notes_off();
      break;
  }
}

void Sequencer::send_due(std::uint64_t now_us) {
  const std::vector<SongMessage>& msgs = song_->messages;
  const std::uint64_t t = now_us > start_us_ ? now_us - start_us_ : 0;
  while (position_ < msgs.size() && msgs[position_].micros <= t) {
    channels_.send_song_message(msgs[position_]);
    ++position_;
  }
}

void Sequencer::step_song(std::uint64_t now_us) {
  if (!song_) return;
  send_due(now_us);
  if (now_us < start_us_ + song_->length_us) return;
  channels_.all_notes_off();
  const bool again = repeat_ && (endless_ || passes_left_ > 0);
  if (!again) {
    song_.reset();
    return;
  }
  if (!endless_) --passes_left_;
  channels_.reset_own_volumes();
  channels_.push_all();
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
    earliest(fade_->start_us + fade_->steps.next_step_ms() * 1000);
  }
  if (song_) {
    const std::vector<SongMessage>& msgs = song_->messages;
    earliest(start_us_ + (position_ < msgs.size() ? msgs[position_].micros : song_->length_us));
  }
  if (next && *next < now_us) next = now_us;
  return next;
}

}  // namespace zt::kbgm
