// An encoded archive whose members attack the byte-pair decoder, read by the
// archive tests of both programs: both readers must refuse the same members
// and decode the same others.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zt::test {

// 128 pair codes, each the pair of the one before, so that one packed byte
// stands for 2^128 bytes; the member claims 0xFFFFFFFF unpacked bytes.
inline constexpr std::string_view kDoublingMember = "doubling.bin";
// Codes 200 and 201 stand for each other, a cycle that never ends; the packed
// bytes are the literals "AB" only.
inline constexpr std::string_view kUnusedCycleMember = "unused_cycle.bin";
// The same table with the packed code 200: it expands without end.
inline constexpr std::string_view kUsedCycleMember = "used_cycle.bin";

std::vector<std::uint8_t> hostile_qda_archive();

// Small archives that expand: `prefix` followed by `count` bytes of `fill`,
// byte-pair encoded in one block of a few hundred bytes whatever the count
// (the pair codes are byte values the prefix does not use, nested at most 33
// deep, so both readers' stacks hold them).
std::vector<std::uint8_t> bpe_run(std::span<const std::uint8_t> prefix, std::uint8_t fill,
                                  std::uint64_t count);

// An encoded archive with one entry per name, every entry pointing at the same
// packed data and claiming `unpacked` bytes.
std::vector<std::uint8_t> shared_member_qda(const std::vector<std::string>& names,
                                            std::span<const std::uint8_t> packed,
                                            std::uint32_t unpacked);

// An encoded archive of members each with its own packed data and claim.
struct PackedMember {
  std::string name;
  std::vector<std::uint8_t> packed;
  std::uint32_t unpacked;
};
std::vector<std::uint8_t> packed_qda(const std::vector<PackedMember>& members);

// The 1078 bytes in front of the rows of an 8-bit bottom-up bitmap of
// width x height with a black colour table; the rows follow as zero bytes.
std::vector<std::uint8_t> bmp_headers(std::int32_t width, std::int32_t height);
// The 44 bytes in front of the samples of a PCM WAV file of `data_bytes`.
std::vector<std::uint8_t> wav_headers(std::uint32_t rate, std::uint16_t bits,
                                      std::uint16_t channels, std::uint32_t data_bytes);

}  // namespace zt::test
