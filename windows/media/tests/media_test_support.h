// Fixtures for the media tests: hand-made BMP, WAV and QDA files, the log
// files of the two units, and a halt that only counts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zt::test {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::uint32_t v);
void put32(Bytes& b, std::uint32_t v);
void put_text(Bytes& b, const char* s);

// An uncompressed bottom-up BMP. rows[y][x] are palette indices (8 bits) or
// 0xRRGGBB values (16, 24, 32 bits), row 0 at the top of the picture.
struct BmpPicture {
  int bits = 8;
  std::vector<std::vector<std::uint32_t>> rows;
  std::vector<std::uint32_t> palette;  // 0xRRGGBB, written as table_entries entries
  std::uint32_t clr_used = 0;
  std::uint32_t table_entries = 256;  // the pixels follow them
};
Bytes make_bmp(const BmpPicture& p);
BmpPicture solid_picture(int width, int height, int bits, std::uint32_t value);

// A PCM WAV; without the data chunk when with_data is false.
Bytes make_wav(std::uint32_t rate, std::uint16_t bits, std::uint16_t channels, std::uint32_t frames,
               bool with_data = true);

struct QdaMember {
  std::string name;
  Bytes data;
};
// Plain archive: flag 0, every member stored as it is.
Bytes make_qda_plain(const std::vector<QdaMember>& members);
// Encoded archive: flag 1; each member's data must already be encoded.
// unpacked gives each entry's unpacked size.
Bytes make_qda_encoded(const std::vector<QdaMember>& members,
                       const std::vector<std::uint32_t>& unpacked);
// Byte-pair encodes data in blocks of at most block_size input bytes, one pair
// per block replaced by a code that the block does not use.
Bytes bpe_encode(const Bytes& data, std::size_t block_size);

// With a trailing backslash, unique per process; removed when the process ends.
std::string temp_dir();
std::string write_temp(const std::string& name, const Bytes& data);

// Log lines of "dddd.debug" or "ddsd.debug" beside the test executable,
// without their CR LF; empty when the file does not exist.
std::vector<std::string> log_lines(const char* file_name);
std::string log_text(const char* file_name);
// Resets both units' counters and switches and removes their logs.
void reset_logs();

extern int halt_count;
void counting_halt();

// The desktop's display mode now, to see that a test's end gave it back.
inline DEVMODEW current_display_mode() {
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode);
  return mode;
}

}  // namespace zt::test
