#include "game/urecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fake_recorder_io.h"

namespace zt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Op = FakeRecorderIo::Op;

Bytes frame_bytes(std::int32_t x, std::int32_t y) {
  Bytes b;
  for (std::int32_t v : {x, y}) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
  }
  return b;
}

// A finished recording: header, seed frame, the points, end frame.
Bytes finished_file(std::int32_t seed, const std::vector<Point>& points, Bytes header = Bytes(56)) {
  Bytes f = std::move(header);
  auto add = [&](const Bytes& b) { f.insert(f.end(), b.begin(), b.end()); };
  add(frame_bytes(seed, 0));
  for (const Point& p : points) add(frame_bytes(p.x, p.y));
  add(frame_bytes(-1, -1));
  return f;
}

Bytes header_with_mark(std::int32_t mark, std::int64_t score = 0) {
  RecHeaderRaw h;
  h.format_mark = mark;
  h.score = score;
  const auto raw = h.encode();
  return Bytes(raw.begin(), raw.end());
}

TEST(FrameTest, EncodesTwoLittleEndianInts) {
  const struct {
    Frame f;
    Bytes bytes;
  } cases[] = {{{1, -2}, {1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}},
               {Frame::end(), Bytes(8, 0xFF)},
               {{INT32_MIN, 0x01020304}, {0, 0, 0, 0x80, 4, 3, 2, 1}}};
  for (const auto& c : cases) {
    const auto raw = c.f.encode();
    EXPECT_EQ(Bytes(raw.begin(), raw.end()), c.bytes);
    EXPECT_EQ(Frame::decode(raw), c.f);
  }
  EXPECT_TRUE(Frame::end().is_end());
  EXPECT_FALSE((Frame{-1, 0}).is_end());
}

TEST(RecHeaderRawTest, FieldsSitAtTheirOffsets) {
  RecHeaderRaw h;
  h.date = 45000.5;
  h.name_length = 3;
  h.name = {'A', 'B', 'C'};
  h.score = 0x0102030405060708;
  h.max_combo = -2;
  h.destroyed = 0x11223344;
  h.format_mark = 3;
  const auto raw = h.encode();
  Bytes expected(56, 0);
  const auto date = std::bit_cast<std::uint64_t>(45000.5);
  for (int i = 0; i < 8; ++i) expected[i] = static_cast<std::uint8_t>(date >> (8 * i));
  expected[8] = 3;
  expected[9] = 'A';
  expected[10] = 'B';
  expected[11] = 'C';
  for (int i = 0; i < 8; ++i) expected[24 + i] = static_cast<std::uint8_t>(8 - i);
  for (int i = 0; i < 4; ++i) expected[32 + i] = i == 0 ? 0xFE : 0xFF;
  for (int i = 0; i < 4; ++i) expected[36 + i] = static_cast<std::uint8_t>(0x44 - 0x11 * i);
  expected[48] = 3;
  EXPECT_EQ(Bytes(raw.begin(), raw.end()), expected);
  const RecHeaderRaw back = RecHeaderRaw::decode(raw);
  EXPECT_EQ(back.f18(), h.score);
  EXPECT_EQ(back.f20(), -2);
  EXPECT_EQ(back.f24(), 0x11223344);
  EXPECT_EQ(back.f30(), 3);
  EXPECT_EQ(back.date, 45000.5);
}

TEST(RecHeaderRawTest, KeepsEveryByteThroughDecodeAndEncode) {
  std::array<std::uint8_t, 56> raw{};
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 7 + 1);
  EXPECT_EQ(RecHeaderRaw::decode(raw).encode(), raw);
}

TEST(RecHeaderRawTest, HeaderOfAPlayCutsTheNameAndMarksTheFormat) {
  const RecHeaderRaw h = make_rec_header(45001.0, "ABCDEFGHIJKL", {12345, 17, 99});
  EXPECT_EQ(h.name_length, 9);
  const auto raw = h.encode();
  EXPECT_EQ(std::string(raw.begin() + 9, raw.begin() + 18), "ABCDEFGHI");
  EXPECT_EQ(h.f18(), 12345);
  EXPECT_EQ(h.f20(), 17);
  EXPECT_EQ(h.f24(), 99);
  EXPECT_EQ(h.f30(), 3);
  for (std::size_t i : {18u, 23u, 40u, 47u, 52u, 55u}) EXPECT_EQ(raw[i], 0) << i;
}

class TRecorderTest : public ::testing::Test {
 protected:
  void record(std::int32_t slot, std::int32_t seed, const std::vector<Point>& points) {
    rec.start_record(slot, io);
    rec.write_frame(seed, 0, io);
    for (const Point& p : points) rec.write_frame(p.x, p.y, io);
  }

  FakeRecorderIo io;
  TRecorder rec;
};

TEST_F(TRecorderTest, FinishedRecordingHoldsHeaderSeedPointsAndEndFrame) {
  const std::vector<Point> points = {{10, 20}, {-3, 400}, {319, 239}};
  io.files[4] = finished_file(1, {}, header_with_mark(3, 42));  // an older replay
  record(4, 777, points);
  EXPECT_EQ(rec.state(), RecState::Recording);
  EXPECT_TRUE(rec.open());
  EXPECT_FALSE(rec.failed());
  EXPECT_EQ(io.files[4], finished_file(1, {}, header_with_mark(3, 42))) << "until it is finished";
  EXPECT_FALSE(rec.finish_record(make_rec_header(45000.5, "AB", {900, 7, 3}), io));
  EXPECT_EQ(rec.state(), RecState::Idle);
  EXPECT_FALSE(io.is_open());
  const auto header = make_rec_header(45000.5, "AB", {900, 7, 3}).encode();
  ASSERT_EQ(io.files[4].size(), 56u + 8u * (points.size() + 2));
  EXPECT_EQ(io.files[4], finished_file(777, points, Bytes(header.begin(), header.end())));
  // The end frame goes in before the header, and the file replaces the slot's last.
  EXPECT_EQ(
      std::vector<std::string>(io.log.end() - 5, io.log.end()),
      (std::vector<std::string>{"write 8", "seek_from_start 0", "write 56", "commit", "close"}));
}

// Leaving early, or a recording that fails, used to leave the slot without a
// replay; the slot now keeps the one it had.
TEST_F(TRecorderTest, RecordingLeftEarlyLeavesTheSlotsReplayAlone) {
  const Bytes older = finished_file(3, {{4, 4}}, header_with_mark(3, 99));
  io.files[2] = older;
  record(2, 5, {{1, 1}});
  rec.close(io);
  EXPECT_EQ(rec.state(), RecState::Idle);
  EXPECT_EQ(io.files[2], older);

  record(7, 5, {{1, 1}});
  rec.close(io);
  EXPECT_FALSE(io.file_exists(7)) << "no replay before, none after";
}

TEST_F(TRecorderTest, ReplayReadsSeedThenPointsThenEndFrameThenFails) {
  io.files[1] = finished_file(42, {{7, 8}, {9, 10}});
  rec.start_play(1, io);
  ASSERT_TRUE(rec.open());
  ASSERT_FALSE(rec.failed());
  EXPECT_EQ(rec.slot(), 1);
  EXPECT_EQ(rec.read_frame(io), (Frame{42, 0}));
  EXPECT_EQ(rec.read_frame(io), (Frame{7, 8}));
  EXPECT_EQ(rec.read_frame(io), (Frame{9, 10}));
  EXPECT_EQ(rec.read_frame(io), Frame::end());
  EXPECT_FALSE(rec.failed());
  EXPECT_EQ(rec.read_frame(io), (Frame{0, 0}));
  EXPECT_TRUE(rec.failed());
  EXPECT_EQ(rec.state(), RecState::Playing) << "a failure never changes the state";
  rec.close(io);
  EXPECT_EQ(io.files[1], finished_file(42, {{7, 8}, {9, 10}})) << "a replay writes nothing";
  EXPECT_EQ(rec.state(), RecState::Idle);
  EXPECT_FALSE(rec.failed());
}

TEST_F(TRecorderTest, ShortOrUnterminatedFilesCannotBePlayed) {
  Bytes not_end = finished_file(1, {});
  not_end.back() = 0;
  const Bytes cases[] = {{}, Bytes(5, 0xFF), not_end, Bytes(56, 0)};
  for (const Bytes& file : cases) {
    FakeRecorderIo fio;
    TRecorder r;
    fio.files[3] = file;
    r.start_play(3, fio);
    EXPECT_TRUE(r.failed()) << file.size();
    EXPECT_FALSE(r.open());
    EXPECT_FALSE(fio.is_open());
    EXPECT_EQ(r.state(), RecState::Playing);
  }
}

TEST_F(TRecorderTest, CloseAndFinishWhileIdleDoNothing) {
  rec.close(io);
  EXPECT_FALSE(rec.finish_record(RecHeaderRaw{}, io));
  EXPECT_TRUE(io.log.empty());
}

TEST_F(TRecorderTest, HeadersAreReadOnlyWhileIdle) {
  io.files[5] = finished_file(1, {}, header_with_mark(3, 900));
  RecHeaderRaw header;
  header.score = -77;

  record(6, 1, {});
  EXPECT_EQ(rec.read_header(5, header, io), HeaderRead::NotRead);
  EXPECT_EQ(header.score, -77);
  EXPECT_FALSE(rec.write_header(5, RecHeaderRaw{}, io)) << "busy: not written, not failed";
  rec.close(io);

  rec.start_play(5, io);
  EXPECT_EQ(rec.read_header(5, header, io), HeaderRead::NotRead);
  EXPECT_EQ(header.score, -77);
  rec.close(io);

  EXPECT_EQ(io.files[5], finished_file(1, {}, header_with_mark(3, 900)));
  EXPECT_EQ(rec.read_header(9, header, io), HeaderRead::NotRead) << "no file";
  EXPECT_EQ(header.score, -77);
  EXPECT_EQ(rec.read_header(5, header, io), HeaderRead::Read);
  EXPECT_EQ(header.f18(), 900);
  EXPECT_FALSE(io.is_open());

  io.files[8] = Bytes(55, 0);
  EXPECT_EQ(rec.read_header(8, header, io), HeaderRead::Failed);
  EXPECT_FALSE(io.is_open());
}

TEST_F(TRecorderTest, ValidSlotNeedsAReadableHeaderWithFormatMarkTwoOrMore) {
  const struct {
    std::int32_t mark;
    bool valid;
  } cases[] = {{0, false}, {1, false}, {2, true}, {3, true}};
  for (const auto& c : cases) {
    io.files[0] = finished_file(1, {}, header_with_mark(c.mark));
    EXPECT_EQ(rec.valid_slot(0, io), c.valid) << c.mark;
  }
  EXPECT_FALSE(rec.valid_slot(7, io));
}

TEST_F(TRecorderTest, ReplayGivesItsScoreBackToItsFileAndKeepsTheFrames) {
  // What the end of a replay does: read the header, set the score, write it.
  io.files[3] = finished_file(11, {{1, 2}, {3, 4}}, header_with_mark(3, 500));
  rec.start_play(3, io);
  for (int i = 0; i < 3; ++i) rec.read_frame(io);
  rec.close(io);
  RecHeaderRaw header;
  ASSERT_EQ(rec.read_header(3, header, io), HeaderRead::Read);
  header.score = 640;
  EXPECT_FALSE(rec.write_header(3, header, io));
  EXPECT_EQ(io.files[3], finished_file(11, {{1, 2}, {3, 4}}, header_with_mark(3, 640)));
}

TEST_F(TRecorderTest, WriteHeaderNeverCreatesAFile) {
  EXPECT_TRUE(rec.write_header(4, make_rec_header(1.0, "A", {}), io));
  EXPECT_FALSE(io.files.contains(4));
}

// Every input/output failure of a recording or replay closes the file and
// sets failed, keeps the state, and makes later frames touch no file.
TEST_F(TRecorderTest, EveryFailurePointClosesAndKeepsTheState) {
  const Bytes replay = finished_file(9, {{1, 1}, {2, 2}, {3, 3}});
  auto recording = [&](TRecorder& r, FakeRecorderIo& f) {
    f.files[1] = replay;  // the replay that the new recording would replace
    r.start_record(1, f);
    for (std::int32_t i = 0; i < 4; ++i) r.write_frame(i, i, f);
  };
  auto replaying = [&](TRecorder& r, FakeRecorderIo& f) {
    f.files[1] = replay;
    r.start_play(1, f);
    for (int i = 0; i < 4; ++i) r.read_frame(f);
  };
  const struct {
    const char* point;
    Op op;
    int nth;
    std::function<void(TRecorder&, FakeRecorderIo&)> run;
    RecState state;
  } cases[] = {
      {"open_for_write", Op::OpenForWrite, 1, recording, RecState::Recording},
      {"writing the header space", Op::Write, 1, recording, RecState::Recording},
      {"writing the seed frame", Op::Write, 2, recording, RecState::Recording},
      {"writing a later frame", Op::Write, 4, recording, RecState::Recording},
      {"open_for_read", Op::OpenForRead, 1, replaying, RecState::Playing},
      {"seek to the last frame", Op::SeekFromEnd, 1, replaying, RecState::Playing},
      {"reading the last frame", Op::Read, 1, replaying, RecState::Playing},
      {"seek to the first frame", Op::SeekFromStart, 1, replaying, RecState::Playing},
      {"reading a frame", Op::Read, 3, replaying, RecState::Playing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.point);
    FakeRecorderIo f;
    TRecorder r;
    f.fail_on(c.op, c.nth);
    c.run(r, f);
    EXPECT_EQ(r.state(), c.state);
    EXPECT_EQ(r.slot(), 1);
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(r.open());
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(f.files[1], replay);
    // The failed call is followed by the recorder's close and nothing else.
    const auto failed_at = std::find_if(
        f.log.begin(), f.log.end(), [](const std::string& l) { return l.ends_with("-> failed"); });
    ASSERT_NE(failed_at, f.log.end());
    EXPECT_EQ(std::vector<std::string>(failed_at + 1, f.log.end()),
              std::vector<std::string>{"close"});

    const std::size_t calls = f.log.size();
    if (c.state == RecState::Recording) {
      EXPECT_FALSE(r.finish_record(make_rec_header(1.0, "A", {}), f)) << "a failed recording";
    } else {
      r.close(f);
    }
    EXPECT_EQ(
        std::vector<std::string>(f.log.begin() + static_cast<std::ptrdiff_t>(calls), f.log.end()),
        std::vector<std::string>{"close"})
        << "nothing more is written";
    EXPECT_EQ(f.files[1], replay);
    EXPECT_EQ(r.state(), RecState::Idle);
    EXPECT_FALSE(r.failed());
  }
}

// Each step of finishing a recording can fail: the failure is reported and
// the slot keeps its old replay.
TEST_F(TRecorderTest, FinishingFailuresKeepTheSlotsReplay) {
  const Bytes older = finished_file(3, {{4, 4}}, header_with_mark(3, 99));
  const struct {
    const char* point;
    Op op;
    int nth;
  } cases[] = {{"the end frame", Op::Write, 1},
               {"the seek to the header", Op::SeekFromStart, 1},
               {"the header", Op::Write, 2},
               {"the commit", Op::Commit, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.point);
    FakeRecorderIo f;
    TRecorder r;
    f.files[2] = older;
    r.start_record(2, f);
    r.write_frame(1, 0, f);
    r.write_frame(5, 5, f);
    f.fail_on(c.op, c.nth);
    EXPECT_TRUE(r.finish_record(make_rec_header(1.0, "A", {}), f));
    EXPECT_EQ(r.state(), RecState::Idle);
    EXPECT_FALSE(r.open());
    EXPECT_FALSE(r.failed());
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(f.files[2], older);
  }
}

TEST_F(TRecorderTest, HeaderFailurePoints) {
  const Bytes file = finished_file(1, {}, header_with_mark(3, 250));
  const struct {
    const char* point;
    Op op;
    bool writing;
  } cases[] = {{"opening to read", Op::OpenForRead, false},
               {"reading", Op::Read, false},
               {"opening to write", Op::OpenForRead, true},
               {"writing", Op::Write, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.point);
    FakeRecorderIo f;
    TRecorder r;
    f.files[6] = file;
    f.fail_next(c.op);
    if (c.writing) {
      EXPECT_TRUE(r.write_header(6, make_rec_header(2.0, "B", {1, 2, 3}), f));
    } else {
      RecHeaderRaw header;
      header.score = -9;
      EXPECT_EQ(r.read_header(6, header, f), HeaderRead::Failed);
      EXPECT_EQ(header.score, -9) << "header untouched";
    }
    EXPECT_EQ(f.files[6], file);
    EXPECT_FALSE(f.is_open());
    EXPECT_FALSE(r.open());
    EXPECT_EQ(r.state(), RecState::Idle);
  }
}

}  // namespace
}  // namespace zt
