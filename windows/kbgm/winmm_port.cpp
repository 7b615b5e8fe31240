#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <vector>

#include "midi_port.h"

namespace zt::kbgm {

namespace {

class WinmmPort final : public MidiOutPort {
 public:
  explicit WinmmPort(HMIDIOUT out) : out_(out) { timeBeginPeriod(1); }
  ~WinmmPort() override {
    midiOutReset(out_);
    midiOutClose(out_);
    timeEndPeriod(1);
  }
  WinmmPort(const WinmmPort&) = delete;
  WinmmPort& operator=(const WinmmPort&) = delete;

  void send(std::span<const std::uint8_t> message) override {
    if (message.empty()) return;
    if (message[0] == 0xF0) {
      send_long(message);
      return;
    }
    DWORD packed = 0;
    for (std::size_t i = 0; i < message.size() && i < 3; ++i) {
      packed |= static_cast<DWORD>(message[i]) << (8 * i);
    }
    midiOutShortMsg(out_, packed);
  }

 private:
  void send_long(std::span<const std::uint8_t> message) {
    std::vector<char> data(message.begin(), message.end());
    MIDIHDR header{};
    header.lpData = data.data();
    header.dwBufferLength = static_cast<DWORD>(data.size());
    if (midiOutPrepareHeader(out_, &header, sizeof header) != MMSYSERR_NOERROR) return;
    if (midiOutLongMsg(out_, &header, sizeof header) == MMSYSERR_NOERROR) {
      // CALLBACK_NULL: the buffer is ours again once the done flag is set.
      for (int i = 0; i < 500 && !(header.dwFlags & MHDR_DONE); ++i) Sleep(1);
    }
    midiOutUnprepareHeader(out_, &header, sizeof header);
  }

  HMIDIOUT out_;
};

class WinmmOpener final : public MidiPortOpener {
 public:
  PortOpenResult open() override {
    HMIDIOUT out = nullptr;
    const MMRESULT r = midiOutOpen(&out, MIDI_MAPPER, 0, 0, CALLBACK_NULL);
    if (r != MMSYSERR_NOERROR) return {nullptr, static_cast<std::int32_t>(r)};
    return {std::make_unique<WinmmPort>(out), 0};
  }
};

}  // namespace

std::unique_ptr<MidiPortOpener> winmm_port_opener() {
  return std::make_unique<WinmmOpener>();
}

}  // namespace zt::kbgm
