// Recording and replaying plays through the host's RecorderIo. An
// input/output failure only closes the file and sets failed; the state stays
// until close, so a failed replay goes on with (0, 0) and a failed recording
// writes nothing more. A recording is written beside the slot's file and takes
// its place only once finished, end frame and header included: a recording
// that fails or is left early leaves the slot's old replay as it was.
#pragma once

#include <cstdint>
#include <string_view>

#include "formats/recorder.h"
#include "game/glue.h"

namespace zt {

enum class RecState : std::int32_t { Idle = 0, Playing = 1, Recording = 2 };

enum class HeaderRead : std::int32_t {
  NotRead = 0,  // the recorder is busy or the slot has no file
  Read = 1,
  Failed = 2,
};

class TRecorder {
 public:
  // Opens slot n for a new recording and leaves room for the header; the
  // caller then writes the seed frame.
  void start_record(std::int32_t n, RecorderIo& io);
  void write_frame(std::int32_t x, std::int32_t y, RecorderIo& io);

  // Opens slot n for replay, standing at the seed frame. Only a finished file
  // (ending with the end frame) is accepted.
  void start_play(std::int32_t n, RecorderIo& io);
  // (0, 0) unless a frame could be read.
  Frame read_frame(RecorderIo& io);

  // Ends a recording that did not fail: the end frame, then the header, then
  // the file takes the slot's place. True when a step failed. Nothing is
  // written (and false returned) for a recording that had already failed.
  bool finish_record(const RecHeaderRaw& header, RecorderIo& io);

  // Leaves a recording or a replay. A recording not finished with
  // finish_record is dropped.
  void close(RecorderIo& io);

  // Headers are read and written only while idle.
  HeaderRead read_header(std::int32_t n, RecHeaderRaw& header, RecorderIo& io);
  // True on failure; nothing is written (and false returned) while busy.
  bool write_header(std::int32_t n, const RecHeaderRaw& header, RecorderIo& io);

  // The slot menu and the title demonstration accept only these slots.
  bool valid_slot(std::int32_t n, RecorderIo& io);

  std::int32_t slot() const { return slot_; }
  RecState state() const { return state_; }
  bool open() const { return open_; }
  bool failed() const { return failed_; }

 private:
  void fail(RecorderIo& io);

  std::int32_t slot_ = 0;
  RecState state_ = RecState::Idle;
  bool open_ = false;
  bool failed_ = false;
};

// What the end of a play stores in the header of its recording.
struct PlayResult {
  std::int64_t score = 0;
  std::int32_t max_combo = 0;
  std::int32_t destroyed = 0;
};

// A recording's header: the date, the player's name cut to 9 bytes, the
// result and the current format mark; every other byte 0.
RecHeaderRaw make_rec_header(double date, std::string_view player_name, const PlayResult& result);

}  // namespace zt
